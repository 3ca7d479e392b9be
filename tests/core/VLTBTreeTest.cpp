// The B+tree over an in-memory page manager, with page-number keys and 16-bit references:
// page layout, splits and merges at their thresholds, searches by condition against a model,
// positions, record numbers and the integrity check.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <map>
#include <random>
#include <set>

#include "engine/core/VLTBTree.h"
#include "engine/core/VLTTableData.h"
#include "tests/core/VLTPageTestUtil.h"

namespace vlt {
namespace {

using test::CodeOf;
using test::TMemPageManager;

constexpr TVLTSessionID kS = 0;
using TEntry = std::pair<int32_t, uint16_t>;  // key, reference

struct TTree {
  explicit TTree(uint16_t PageSize = 128) : PM(PageSize), T(&PM, &Ref) { T.CreateRoot(kS); }

  void Insert(int32_t K, uint16_t R) {
    uint8_t Key[4], Rf[2];
    StoreLE<int32_t>(Key, K);
    StoreLE<uint16_t>(Rf, R);
    T.Insert(kS, Key, Rf);
  }
  bool Delete(int32_t K, uint16_t R) {
    uint8_t Key[4], Rf[2];
    StoreLE<int32_t>(Key, K);
    StoreLE<uint16_t>(Rf, R);
    return T.Delete(kS, Key, Rf);
  }
  std::vector<TEntry> Entries() {
    std::vector<TEntry> V;
    T.ForEachEntry(kS, [&](const uint8_t* K, const uint8_t* R, const TVLTKeyPath&) {
      V.emplace_back(LoadLE<int32_t>(K), LoadLE<uint16_t>(R));
      return true;
    });
    return V;
  }
  // Found entry of a search, or nullopt.
  std::optional<TEntry> Find(bool First, TVLTSearchCondition C, int32_t K) {
    uint8_t Key[4], Ek[4], Er[2];
    StoreLE<int32_t>(Key, K);
    TVLTKeyPath P;
    if (!T.FindByCondition(kS, First, C, Key, P)) return std::nullopt;
    T.ReadEntry(kS, P, Ek, Er);
    return TEntry{LoadLE<int32_t>(Ek), LoadLE<uint16_t>(Er)};
  }
  TVLTBTreePage Page(TVLTPageNo No) {
    TVLTPage* P = PM.GetPage(kS, No, ptTableIndex);
    PM.PutPage(P);  // the page object stays in the session's list; reading it is safe here
    return TVLTBTreePage(&Ref, P);
  }
  int32_t Depth() {
    int32_t D = 1;
    for (TVLTPageNo No = T.RootPageNo();; ++D) {
      TVLTBTreePage P = Page(No);
      if (P.IsLeaf()) return D;
      No = P.ChildPageNo(0);
    }
  }

  TMemPageManager PM;
  TVLTPageKeyRef Ref;
  TVLTBTree T;
};

// Leaf entries of page-key trees are 6 bytes, node entries 8.
int32_t LeafCapacity(uint16_t PageSize) {
  return (PageSize - kPageHeaderSize - 18) / 6;
}

TEST(BTree, RootPageLayout) {
  TTree X;
  TVLTBTreePage Root = X.Page(X.T.RootPageNo());
  const uint8_t* D = Root.PageData();
  EXPECT_EQ(D[0], 1);  // IsRoot
  EXPECT_EQ(D[1], 1);  // IsLeaf
  EXPECT_EQ(LoadLE<int32_t>(D + 2), -1);
  EXPECT_EQ(LoadLE<int32_t>(D + 6), -1);
  EXPECT_EQ(D[10], 1);  // HasKeys
  EXPECT_EQ(D[11], 0);  // HasSuffixes
  EXPECT_EQ(LoadLE<uint16_t>(D + 12), 4);
  EXPECT_EQ(LoadLE<uint16_t>(D + 14), 0);
  EXPECT_EQ(LoadLE<uint16_t>(D + 16), 0);
  EXPECT_EQ(Root.Page()->PageHeader()->PageType, ptTableIndex);

  X.Insert(7, 300);
  X.Insert(-2, 5);
  EXPECT_EQ(LoadLE<uint16_t>(D + 14), 2);
  EXPECT_EQ(LoadLE<int32_t>(D + 18), -2);  // entries in key order from offset 18
  EXPECT_EQ(LoadLE<uint16_t>(D + 22), 5);
  EXPECT_EQ(LoadLE<int32_t>(D + 24), 7);
  EXPECT_EQ(LoadLE<uint16_t>(D + 28), 300);
}

TEST(BTree, ZeroOneTwoEntries) {
  TTree X;
  TVLTKeyPath P;
  EXPECT_FALSE(X.T.First(kS, P));
  EXPECT_FALSE(X.T.Last(kS, P));
  for (auto C : {scEqual, scLower, scGreater, scLowerEqual, scGreaterEqual})
    for (bool First : {true, false}) EXPECT_FALSE(X.Find(First, C, 0));
  EXPECT_EQ(X.T.EntryCount(kS), 0);
  EXPECT_FALSE(X.Delete(1, 1));
  X.T.CheckIntegrity(kS);

  X.Insert(10, 1);
  EXPECT_EQ(X.Find(true, scEqual, 10), TEntry(10, 1));
  EXPECT_FALSE(X.Find(true, scGreater, 10));
  EXPECT_FALSE(X.Find(false, scLower, 10));
  EXPECT_EQ(X.Find(false, scLowerEqual, 10), TEntry(10, 1));
  X.Insert(20, 2);
  EXPECT_EQ(X.Find(true, scGreater, 10), TEntry(20, 2));
  EXPECT_EQ(X.Find(false, scLower, 20), TEntry(10, 1));
  EXPECT_TRUE(X.Delete(10, 1));
  EXPECT_FALSE(X.Delete(10, 1));
  EXPECT_EQ(X.Entries(), std::vector<TEntry>({{20, 2}}));
  X.T.CheckIntegrity(kS);
}

TEST(BTree, ExactlyFullPageThenRootSplitKeepsRootNumber) {
  TTree X;
  int32_t Cap = LeafCapacity(128);
  TVLTPageNo Root = X.T.RootPageNo();
  for (int32_t I = 0; I < Cap; ++I) X.Insert(I, 0);
  EXPECT_TRUE(X.Page(Root).IsLeaf());  // exactly full is not an overflow
  EXPECT_EQ(X.Page(Root).EntryCount(), Cap);
  X.Insert(Cap, 0);
  TVLTBTreePage R = X.Page(Root);
  ASSERT_FALSE(R.IsLeaf());
  EXPECT_TRUE(R.IsRoot());
  EXPECT_EQ(X.T.RootPageNo(), Root);
  ASSERT_EQ(R.EntryCount(), 2);
  TVLTBTreePage A = X.Page(R.ChildPageNo(0)), B = X.Page(R.ChildPageNo(1));
  EXPECT_FALSE(A.IsRoot());
  EXPECT_TRUE(A.HasKeys());
  EXPECT_EQ(A.EntryCount(), (Cap + 1) / 2);
  EXPECT_EQ(B.EntryCount(), Cap + 1 - (Cap + 1) / 2);
  EXPECT_EQ(A.RightPageNo(), B.PageNo());
  EXPECT_EQ(B.LeftPageNo(), A.PageNo());
  EXPECT_EQ(A.LeftPageNo(), kNoPage);
  EXPECT_EQ(B.RightPageNo(), kNoPage);
  EXPECT_EQ(LoadLE<int32_t>(R.Key(1)), (Cap + 1) / 2);  // the second page's first key
  X.T.CheckIntegrity(kS);
}

TEST(BTree, MergeIntoLeftNeighbourAndRootCollapse) {
  TTree X;
  int32_t Cap = LeafCapacity(128);
  for (int32_t I = 0; I <= Cap; ++I) X.Insert(I, 0);
  TVLTPageNo Root = X.T.RootPageNo();
  TVLTPageNo Right = X.Page(Root).ChildPageNo(1);
  int32_t Half = (Cap + 1) / 2;
  // Under half full: EntryCount * 6 < (PageDataSize - 18) / 2.
  int32_t Threshold = ((128 - 40 - 18) / 2 + 5) / 6;  // first count that is not under half
  int32_t RightCount = Cap + 1 - Half;
  int32_t K = Cap;
  // Down to the threshold nothing merges.
  while (RightCount > Threshold) {
    ASSERT_TRUE(X.Delete(K--, 0));
    --RightCount;
  }
  EXPECT_FALSE(X.Page(Root).IsLeaf());
  // One more: the right leaf is under half; the left one then holds both and the root takes it.
  ASSERT_TRUE(X.Delete(K--, 0));
  --RightCount;
  ASSERT_LT((Half + RightCount) * 6 + 18, 128 - 40);
  TVLTBTreePage R = X.Page(Root);
  EXPECT_TRUE(R.IsLeaf());
  EXPECT_TRUE(R.IsRoot());
  EXPECT_EQ(R.EntryCount(), Half + RightCount);
  EXPECT_EQ(R.LeftPageNo(), kNoPage);
  EXPECT_EQ(R.RightPageNo(), kNoPage);
  auto& Removed = X.PM.SessionInfo(kS)->RemovedPageNumbers;
  EXPECT_TRUE(Removed.IsValueExists(Right));
  X.T.CheckIntegrity(kS);
}

TEST(BTree, EqualKeysKeepReferenceOrderAcrossSplits) {
  TTree X;
  std::vector<uint16_t> Refs(200);
  for (size_t I = 0; I < Refs.size(); ++I) Refs[I] = static_cast<uint16_t>(I * 7 % 1000);
  std::mt19937 Rng(5);
  std::shuffle(Refs.begin(), Refs.end(), Rng);
  for (uint16_t R : Refs) X.Insert(42, R);
  X.Insert(41, 999);
  X.Insert(43, 0);
  X.T.CheckIntegrity(kS);
  std::vector<TEntry> E = X.Entries();
  ASSERT_EQ(E.size(), 202u);
  EXPECT_TRUE(std::is_sorted(E.begin(), E.end()));
  EXPECT_EQ(X.Find(true, scEqual, 42), TEntry(42, 0));
  EXPECT_EQ(X.Find(false, scEqual, 42), TEntry(42, *std::max_element(Refs.begin(), Refs.end())));
  EXPECT_EQ(X.Find(true, scGreater, 42), TEntry(43, 0));
  EXPECT_EQ(X.Find(false, scLower, 42), TEntry(41, 999));
  // Deleting one of many equal keys removes exactly that reference.
  EXPECT_TRUE(X.Delete(42, Refs[17]));
  EXPECT_FALSE(X.Delete(42, Refs[17]));
  E = X.Entries();
  EXPECT_EQ(std::count(E.begin(), E.end(), TEntry(42, Refs[17])), 0);
  EXPECT_EQ(E.size(), 201u);
  X.T.CheckIntegrity(kS);
}

// Every search of the model answered the same way as the tree.
void CheckSearches(TTree& X, const std::set<TEntry>& M, int32_t K) {
  std::optional<TEntry> FirstAll = M.empty() ? std::nullopt : std::optional<TEntry>(*M.begin());
  std::optional<TEntry> LastAll = M.empty() ? std::nullopt : std::optional<TEntry>(*M.rbegin());
  auto Lb = M.lower_bound({K, 0});
  auto Ub = M.upper_bound({K, 0xFFFF});
  auto At = [&](auto It) { return It == M.end() ? std::nullopt : std::optional<TEntry>(*It); };
  auto Before = [&](auto It) {
    return It == M.begin() ? std::nullopt : std::optional<TEntry>(*std::prev(It));
  };
  auto If = [](bool C, std::optional<TEntry> E) { return C ? E : std::nullopt; };
  EXPECT_EQ(X.Find(true, scEqual, K), If(Lb != Ub, At(Lb))) << K;
  EXPECT_EQ(X.Find(false, scEqual, K), If(Lb != Ub, Before(Ub))) << K;
  EXPECT_EQ(X.Find(true, scGreater, K), At(Ub)) << K;
  EXPECT_EQ(X.Find(true, scGreaterEqual, K), At(Lb)) << K;
  EXPECT_EQ(X.Find(false, scLower, K), Before(Lb)) << K;
  EXPECT_EQ(X.Find(false, scLowerEqual, K), Before(Ub)) << K;
  EXPECT_EQ(X.Find(true, scLower, K), If(FirstAll && FirstAll->first < K, FirstAll)) << K;
  EXPECT_EQ(X.Find(true, scLowerEqual, K), If(FirstAll && FirstAll->first <= K, FirstAll)) << K;
  EXPECT_EQ(X.Find(false, scGreater, K), If(LastAll && LastAll->first > K, LastAll)) << K;
  EXPECT_EQ(X.Find(false, scGreaterEqual, K), If(LastAll && LastAll->first >= K, LastAll)) << K;
}

TEST(BTree, RandomizedAgainstModel) {
  for (uint16_t PageSize : {uint16_t{128}, uint16_t{256}}) {
    TTree X(PageSize);
    std::set<TEntry> M;
    std::mt19937 Rng(PageSize);
    int32_t MaxDepth = 0;
    for (int Batch = 0; Batch < 60; ++Batch) {
      // Grow for the first half, shrink for the second, so that both splits and merges run.
      int InsertShare = Batch < 30 ? 75 : 25;
      for (int I = 0; I < 40; ++I) {
        if (static_cast<int>(Rng() % 100) < InsertShare || M.empty()) {
          TEntry E{static_cast<int32_t>(Rng() % 60) - 10, static_cast<uint16_t>(Rng() % 5000)};
          if (M.insert(E).second) X.Insert(E.first, E.second);
        } else {
          auto It = M.begin();
          std::advance(It, Rng() % M.size());
          ASSERT_TRUE(X.Delete(It->first, It->second));
          M.erase(It);
        }
      }
      X.T.CheckIntegrity(kS);
      ASSERT_EQ(X.Entries(), std::vector<TEntry>(M.begin(), M.end()));
      ASSERT_EQ(X.T.EntryCount(kS), static_cast<int64_t>(M.size()));
      MaxDepth = std::max(MaxDepth, X.Depth());
      for (int32_t K : {-11, static_cast<int32_t>(Rng() % 60) - 10, 50}) CheckSearches(X, M, K);
      if (Batch % 10 == 9) X.PM.ApplyChanges(kS);
    }
    EXPECT_GE(MaxDepth, 3);
    while (!M.empty()) {
      ASSERT_TRUE(X.Delete(M.begin()->first, M.begin()->second));
      M.erase(M.begin());
    }
    X.T.CheckIntegrity(kS);
    EXPECT_TRUE(X.Page(X.T.RootPageNo()).IsLeaf());
    EXPECT_EQ(X.Page(X.T.RootPageNo()).EntryCount(), 0);
  }
}

// The unique-key check keeps where the key goes for the insert that follows; whatever happens
// in between (another session's splits or the same key, a cancel), the insert lands right and
// never makes a duplicate.
TEST(BTree, CheckedInsertSharesTheDescentAndSurvivesChangesInBetween) {
  constexpr TVLTSessionID kOther = 1;
  TTree X;
  std::set<TEntry> M;
  auto KeyOf = [](int32_t K) {
    std::array<uint8_t, 4> B;
    StoreLE<int32_t>(B.data(), K);
    return B;
  };
  auto RefOf = [](uint16_t R) {
    std::array<uint8_t, 2> B;
    StoreLE<uint16_t>(B.data(), R);
    return B;
  };
  // Check then insert, the answers against the model, in a random order over a deep tree.
  std::mt19937 Rng(5);
  for (int I = 0; I < 600; ++I) {
    const int32_t K = static_cast<int32_t>(Rng() % 900);
    const bool Present = M.count({K, 0}) > 0;
    ASSERT_EQ(X.T.ContainsKey(kS, KeyOf(K).data()), Present) << K;
    if (Present) continue;
    ASSERT_TRUE(X.T.InsertChecked(kS, KeyOf(K).data(), RefOf(0).data()));
    M.insert({K, 0});
  }
  X.T.CheckIntegrity(kS);
  ASSERT_EQ(X.Entries(), std::vector<TEntry>(M.begin(), M.end()));
  ASSERT_GE(X.Depth(), 3);
  X.PM.ApplyChanges(kS);

  // Another session splits the leaf the check found, and commits, before the insert.
  ASSERT_FALSE(X.T.ContainsKey(kS, KeyOf(1000).data()));
  for (int32_t K = 1001; K < 1100; ++K) X.T.Insert(kOther, KeyOf(K).data(), RefOf(1).data());
  X.PM.ApplyChanges(kOther);
  EXPECT_TRUE(X.T.InsertChecked(kS, KeyOf(1000).data(), RefOf(0).data()));
  X.T.CheckIntegrity(kS);
  for (int32_t K = 1000; K < 1100; ++K) M.insert({K, K == 1000 ? 0 : 1});
  ASSERT_EQ(X.Entries(), std::vector<TEntry>(M.begin(), M.end()));
  X.PM.ApplyChanges(kS);

  // Another session inserts the very key between the check and the insert: refused.
  ASSERT_FALSE(X.T.ContainsKey(kS, KeyOf(2000).data()));
  X.T.Insert(kOther, KeyOf(2000).data(), RefOf(7).data());
  X.PM.ApplyChanges(kOther);
  EXPECT_FALSE(X.T.InsertChecked(kS, KeyOf(2000).data(), RefOf(8).data()));
  M.insert({2000, 7});
  ASSERT_EQ(X.Entries(), std::vector<TEntry>(M.begin(), M.end()));
  // The refusal answered that check: the next insert of the key without one is a plain insert.
  X.T.Insert(kS, KeyOf(2001).data(), RefOf(0).data());
  M.insert({2001, 0});

  // The session's own uncommitted splits are cancelled between the check and the insert: the
  // position kept in the dropped pages is not used.
  X.PM.ApplyChanges(kS);
  for (int32_t K = 3000; K < 3200; ++K) X.T.Insert(kS, KeyOf(K).data(), RefOf(0).data());
  ASSERT_FALSE(X.T.ContainsKey(kS, KeyOf(3500).data()));
  X.PM.CancelChanges(kS);
  EXPECT_TRUE(X.T.InsertChecked(kS, KeyOf(3500).data(), RefOf(0).data()));
  M.insert({3500, 0});
  X.T.CheckIntegrity(kS);
  ASSERT_EQ(X.Entries(), std::vector<TEntry>(M.begin(), M.end()));

  // A check by one session is not the other's: its insert is a plain one.
  X.PM.ApplyChanges(kS);
  ASSERT_FALSE(X.T.ContainsKey(kS, KeyOf(4000).data()));
  EXPECT_TRUE(X.T.InsertChecked(kOther, KeyOf(4001).data(), RefOf(0).data()));
  X.PM.ApplyChanges(kOther);
  EXPECT_TRUE(X.T.InsertChecked(kS, KeyOf(4000).data(), RefOf(0).data()));
  M.insert({4000, 0});
  M.insert({4001, 0});
  X.T.CheckIntegrity(kS);
  EXPECT_EQ(X.Entries(), std::vector<TEntry>(M.begin(), M.end()));
}

TEST(BTree, NavigationRecordNumbersAndPositions) {
  TTree X;
  const int32_t N = 150;
  for (int32_t I = 0; I < N; ++I) X.Insert(I * 2, static_cast<uint16_t>(I));
  X.T.CheckIntegrity(kS);
  TVLTKeyPath P;
  ASSERT_TRUE(X.T.Last(kS, P));
  int32_t Seen = 1;
  double LastPos = 2;
  uint8_t Key[4], Ref[2];
  do {
    X.T.ReadEntry(kS, P, Key, Ref);
    int32_t I = LoadLE<uint16_t>(Ref);
    EXPECT_EQ(X.T.GetRecNo(kS, P), I + 1);
    double Pos = TVLTBTree::ApproxPosition(P);
    EXPECT_GE(Pos, 0.0);
    EXPECT_LT(Pos, 1.0);
    EXPECT_LT(Pos, LastPos);
    LastPos = Pos;
    // Positions for record bitmaps: no bit number is 0, and each leads back to its entry.
    int64_t Bit = X.T.PathToBitNo(P);
    EXPECT_GT(Bit, 0);
    TVLTKeyPath Q;
    X.T.BitNoToPath(Bit, Q);
    ASSERT_EQ(Q.Count, P.Count);
    uint8_t Back[2];
    ASSERT_TRUE(X.T.GetReferenceByPosition(kS, Q, Back));
    EXPECT_EQ(LoadLE<uint16_t>(Back), I);
    TVLTKeyPath ByNo;
    X.T.GetPathByRecNo(kS, I + 1, ByNo);
    EXPECT_EQ(ByNo.Leaf().PageNo, P.Leaf().PageNo);
    EXPECT_EQ(ByNo.Leaf().EntryNo, P.Leaf().EntryNo);
  } while (X.T.Prior(kS, P) && ++Seen);
  EXPECT_EQ(Seen, N);
  EXPECT_EQ(CodeOf([&] { X.T.GetPathByRecNo(kS, N + 1, P); }), 20075);
  TVLTKeyPath Bad;
  X.T.BitNoToPath(X.T.GetMaxEntriesPerPage(), Bad);  // a single level with a digit past any page
  uint8_t R[2];
  EXPECT_FALSE(X.T.GetReferenceByPosition(kS, Bad, R));

  TTree Empty;
  EXPECT_EQ(CodeOf([&] { Empty.T.GetPathByRecNo(kS, 1, P); }), 20074);
}

TEST(BTree, StepReadsTheReferenceOfTheEntryReachedInBothDirections) {
  TTree X;
  for (int32_t I = 0; I < 400; ++I) X.Insert(I, static_cast<uint16_t>(I + 1000));
  for (int32_t I = 100; I < 180; ++I) ASSERT_TRUE(X.Delete(I, static_cast<uint16_t>(I + 1000)));
  X.T.CheckIntegrity(kS);
  ASSERT_GE(X.Depth(), 3);
  const std::vector<TEntry> Model = X.Entries();
  for (bool Backwards : {false, true}) {
    SCOPED_TRACE(Backwards ? "backwards" : "forwards");
    TVLTKeyPath P;
    ASSERT_TRUE(Backwards ? X.T.Last(kS, P) : X.T.First(kS, P));
    uint8_t Key[4], Ref[2] = {0, 0};
    std::vector<TEntry> Seen;
    X.T.ReadEntry(kS, P, Key, Ref);
    Seen.emplace_back(LoadLE<int32_t>(Key), LoadLE<uint16_t>(Ref));
    while (X.T.Step(kS, P, Backwards, Ref)) {
      // The reference handed out is the one of the entry the path is now on.
      uint8_t Here[2];
      X.T.ReadEntry(kS, P, Key, Here);
      ASSERT_EQ(LoadLE<uint16_t>(Here), LoadLE<uint16_t>(Ref));
      Seen.emplace_back(LoadLE<int32_t>(Key), LoadLE<uint16_t>(Ref));
    }
    if (Backwards) std::reverse(Seen.begin(), Seen.end());
    EXPECT_EQ(Seen, Model);
    // At the end the path stays on the last entry reached and no reference is written.
    const TVLTKeyPathItem End = P.Leaf();
    Ref[0] = Ref[1] = 0xAB;
    EXPECT_FALSE(X.T.Step(kS, P, Backwards, Ref));
    EXPECT_EQ(P.Leaf().PageNo, End.PageNo);
    EXPECT_EQ(P.Leaf().EntryNo, End.EntryNo);
    EXPECT_EQ(Ref[0], 0xAB);
    EXPECT_FALSE(X.T.Step(kS, P, Backwards, nullptr));
  }
  // A path that names a node page as its leaf is refused, not read as entries.
  TVLTKeyPath P;
  ASSERT_TRUE(X.T.First(kS, P));
  P.Leaf().PageNo = X.T.RootPageNo();
  P.Leaf().EntryNo = 0;
  uint8_t Ref[2];
  EXPECT_EQ(CodeOf([&] { X.T.Step(kS, P, false, Ref); }), 20099);
}

TEST(BTree, BitNumberDigits) {
  TTree X;
  int64_t B = X.T.GetMaxEntriesPerPage() + 1;
  EXPECT_EQ(X.T.GetMaxEntriesPerPage(), (128 - 40) / (4 + 4));
  TVLTKeyPath P;
  P.Push(1, 0, 3);
  P.Push(2, 4, 9);
  EXPECT_EQ(X.T.PathToBitNo(P), 1 * B + 5);
  TVLTKeyPath Q;
  X.T.BitNoToPath(1 * B + 5, Q);
  ASSERT_EQ(Q.Count, 2);
  EXPECT_EQ(Q.Items[0].EntryNo, 0);
  EXPECT_EQ(Q.Items[1].EntryNo, 4);
  EXPECT_EQ(Q.Items[1].PageNo, kNoPage);
  // e0/c0 + e1/(c0 c1) = 0/3 + 4/27.
  EXPECT_DOUBLE_EQ(TVLTBTree::ApproxPosition(P), 4.0 / 27.0);
}

TEST(BTree, DropAndEmptyFreeThePages) {
  TTree X;
  for (int32_t I = 0; I < 100; ++I) X.Insert(I, 1);
  X.PM.ApplyChanges(kS);
  size_t Used = X.PM.Used.size();
  ASSERT_GT(Used, 5u);
  TVLTPageNo Root = X.T.RootPageNo();
  X.T.Empty(kS);
  X.PM.ApplyChanges(kS);
  EXPECT_EQ(X.PM.Used.size(), 1u);
  EXPECT_EQ(X.T.RootPageNo(), Root);
  EXPECT_EQ(X.T.EntryCount(kS), 0);
  X.Insert(3, 3);
  X.T.Drop(kS);
  X.PM.ApplyChanges(kS);
  EXPECT_TRUE(X.PM.Used.empty());
  EXPECT_EQ(X.T.RootPageNo(), kNoPage);
}

TEST(BTree, IntegrityCheckFindsDamage) {
  struct TCase {
    const char* Name;
    int32_t Code;
    std::function<void(TTree&, TVLTBTreePage&, TVLTBTreePage&)> Damage;  // root node, first leaf
  };
  const std::vector<TCase> Cases = {
      {"leaf keys out of order", 20028,
       [](TTree&, TVLTBTreePage&, TVLTBTreePage& L) { StoreLE<int32_t>(L.Key(0), 1000); }},
      {"equal keys with equal references", 20028,
       [](TTree&, TVLTBTreePage&, TVLTBTreePage& L) {
         StoreLE<int32_t>(L.Key(1), LoadLE<int32_t>(L.Key(0)));
         StoreLE<uint16_t>(L.Reference(1), LoadLE<uint16_t>(L.Reference(0)));
       }},
      {"left link", 20033,
       [](TTree& X, TVLTBTreePage& R, TVLTBTreePage&) {
         X.Page(R.ChildPageNo(1)).SetLeftPageNo(77);
       }},
      {"right link", 20034, [](TTree&, TVLTBTreePage&, TVLTBTreePage& L) { L.SetRightPageNo(77); }},
      {"circular link", 20032,
       [](TTree&, TVLTBTreePage& R, TVLTBTreePage&) { R.SetChildPageNo(0, R.PageNo()); }},
      {"separators out of order", 20029,
       [](TTree&, TVLTBTreePage& R, TVLTBTreePage&) { StoreLE<int32_t>(R.Key(1), 100000); }},
      {"separator below the left child", 20030,
       [](TTree&, TVLTBTreePage& R, TVLTBTreePage&) { StoreLE<int32_t>(R.Key(1), 0); }},
      {"separator above the right child", 20031,
       [](TTree&, TVLTBTreePage& R, TVLTBTreePage&) {
         StoreLE<int32_t>(R.Key(R.EntryCount() - 1), 1000);
       }},
      {"root flag", 20306, [](TTree&, TVLTBTreePage&, TVLTBTreePage& L) { L.SetIsRoot(true); }},
      {"key size", 20302, [](TTree&, TVLTBTreePage&, TVLTBTreePage& L) { L.PageData()[12] = 9; }},
  };
  for (const TCase& C : Cases) {
    TTree X(256);
    for (int32_t I = 0; I < 60; ++I) X.Insert(I * 10, static_cast<uint16_t>(I));
    X.T.CheckIntegrity(kS);
    TVLTBTreePage Root = X.Page(X.T.RootPageNo());
    ASSERT_FALSE(Root.IsLeaf());
    ASSERT_GE(Root.EntryCount(), 3);
    TVLTBTreePage Leaf = X.Page(Root.ChildPageNo(0));
    C.Damage(X, Root, Leaf);
    EXPECT_EQ(CodeOf([&] { X.T.CheckIntegrity(kS); }), C.Code) << C.Name;
  }
}

TEST(BTree, IntegrityCheckFollowsTheChainAcrossParents) {
  TTree X;
  for (int32_t I = 0; I < 300; ++I) X.Insert(I, 0);
  ASSERT_GE(X.Depth(), 3);
  TVLTBTreePage Root = X.Page(X.T.RootPageNo());
  TVLTBTreePage Node = X.Page(Root.ChildPageNo(0));
  // The last leaf under the first node loses its link to the first leaf under the second.
  TVLTBTreePage Leaf = X.Page(Node.ChildPageNo(Node.EntryCount() - 1));
  ASSERT_NE(Leaf.RightPageNo(), kNoPage);
  Leaf.SetRightPageNo(kNoPage);
  EXPECT_EQ(CodeOf([&] { X.T.CheckIntegrity(kS); }), 20306);
}

TEST(BTree, KeyTooLargeForTwoEntries) {
  TMemPageManager PM(128);
  TVLTPageKeyRef Ref;
  // Page data 88 bytes: 70 for entries, two node entries of (key + 4) must fit.
  Ref.FShortKeySize = 31;
  Ref.FFullKeySize = 31;
  TVLTBTree T(&PM, &Ref);
  T.CreateRoot(kS);
  Ref.FShortKeySize = Ref.FFullKeySize = 32;
  TVLTBTree T2(&PM, &Ref);
  EXPECT_EQ(CodeOf([&] { T2.CreateRoot(kS); }), 20304);
}

}  // namespace
}  // namespace vlt
