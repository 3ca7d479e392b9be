#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <memory>
#include <random>
#include <vector>

#include "VLTPageTestUtil.h"
#include "engine/core/VLTPage.h"
#include "engine/core/VLTPageList.h"

namespace vlt {
namespace {

using test::CodeOf;

struct Pages {
  test::TMemPageManager M;
  std::vector<std::unique_ptr<TVLTPage>> Owned;
  TVLTPage* Make(TVLTPageNo No) {
    Owned.push_back(std::make_unique<TVLTPage>(&M));
    Owned.back()->SetPageNo(No);
    return Owned.back().get();
  }
};

std::vector<TVLTPageNo> Keys(const TVLTSortedPageList& L) {
  std::vector<TVLTPageNo> K;
  for (int32_t I = 0; I < L.Count(); ++I) K.push_back(L.Items(I)->PageNo());
  return K;
}

TEST(TVLTSortedPageList, KeepsPagesSortedAndFindsThem) {
  Pages P;
  TVLTSortedPageList L;
  for (TVLTPageNo No : {50, 7, 99, 0, 23}) L.Insert(P.Make(No));
  EXPECT_EQ(Keys(L), (std::vector<TVLTPageNo>{0, 7, 23, 50, 99}));
  EXPECT_EQ(L.Find(23)->PageNo(), 23);
  EXPECT_EQ(L.Find(24), nullptr);
  EXPECT_EQ(L.Find(-1), nullptr);
  L.Delete(0);
  L.Delete(99);
  EXPECT_EQ(Keys(L), (std::vector<TVLTPageNo>{7, 23, 50}));
  L.Clear();
  EXPECT_EQ(L.Count(), 0);
  EXPECT_GT(L.AllocatedCount(), 0);  // storage kept
}

TEST(TVLTSortedPageList, DeleteErrors) {
  Pages P;
  TVLTSortedPageList L;
  EXPECT_EQ(CodeOf([&] { L.Delete(1); }), 20165);
  L.Insert(P.Make(5));
  L.Delete(6);  // one element: removed whatever its key
  EXPECT_EQ(L.Count(), 0);
  L.Insert(P.Make(5));
  L.Insert(P.Make(8));
  try {
    L.Delete(6);
    FAIL();
  } catch (const EVLTException& E) {
    EXPECT_EQ(E.NativeError(), 20166);
    EXPECT_NE(E.Message().find("key = 6, itemCount = 2"), std::string::npos);
  }
  TVLTPage* Stranger = P.Make(77);
  EXPECT_EQ(CodeOf([&] { L.UpdateLRU(Stranger); }), 20167);
}

TEST(TVLTSortedPageList, LRUWalkVisitsEveryPageLeastRecentFirst) {
  Pages P;
  TVLTSortedPageList L;
  TVLTPage* A = P.Make(30);
  TVLTPage* B = P.Make(10);
  TVLTPage* C = P.Make(20);
  L.Insert(A);
  L.Insert(B);
  L.Insert(C);
  L.UpdateLRU(A);  // order of use now: B, C, A
  std::vector<TVLTPageNo> Walk;
  for (TVLTPage* X = L.FirstByLRU(); X; X = L.NextByLRU()) Walk.push_back(X->PageNo());
  EXPECT_EQ(Walk, (std::vector<TVLTPageNo>{10, 20, 30}));
  EXPECT_EQ(L.NextByLRU(), nullptr);
  TVLTSortedPageList Empty;
  EXPECT_EQ(Empty.FirstByLRU(), nullptr);
}

TEST(TVLTSortedPageList, StorageGrowsGeometricallyAndShrinksOnlyWhenMostlyUnused) {
  TVLTSortedPageList L;
  L.SetSize(1);
  EXPECT_EQ(L.AllocatedCount(), 1000);
  L.SetSize(1001);
  EXPECT_EQ(L.AllocatedCount(), 2000);  // doubled
  L.SetSize(50000);
  EXPECT_EQ(L.AllocatedCount(), 50000);  // the request is larger than the double
  L.SetSize(20000);
  EXPECT_EQ(L.AllocatedCount(), 50000);  // 40% used: kept
  L.SetSize(10);
  EXPECT_EQ(L.AllocatedCount(), 25000);  // a quarter unused: halved, once per change
  EXPECT_EQ(L.Count(), 10);
  L.SetSize(0);
  EXPECT_EQ(L.AllocatedCount(), 0);
}

TEST(TVLTSortedPageList, ACountMovingAroundOneSizeNeverReallocates) {
  // A dirty list that gains and loses a page at a time at a step boundary used to shrink to
  // the exact count and regrow by thousands of zero-filled entries on every other change.
  Pages P;
  TVLTSortedPageList L;
  for (TVLTPageNo No = 0; No < 2000; ++No) L.Insert(P.Make(No));
  const int32_t Allocated = L.AllocatedCount();
  for (int K = 0; K < 100; ++K) {
    L.Delete(1999);
    L.Delete(1998);
    L.Insert(P.Make(1998));
    L.Insert(P.Make(1999));
    ASSERT_EQ(L.AllocatedCount(), Allocated);
  }
}

TEST(TVLTSortedPageList, ManyInsertsAndDeletesStaySorted) {
  Pages P;
  TVLTSortedPageList L;
  for (TVLTPageNo No = 0; No < 3000; ++No) L.Insert(P.Make((No * 7919) % 3001));
  for (TVLTPageNo No = 0; No < 3001; No += 2)
    if (L.Find(No)) L.Delete(No);
  auto K = Keys(L);
  for (size_t I = 1; I < K.size(); ++I) ASSERT_LT(K[I - 1], K[I]);
  for (TVLTPageNo No : K) ASSERT_EQ(No % 2, 1);
}

TEST(TVLTSortedPageList, LRUWalkSurvivesDeletesUsesAndInsertsOfTheWalkedPages) {
  // The cache evicts while it walks: the page just found is deleted, others are used or
  // added. The walk must still answer by stamp order, and the use chain stay whole.
  Pages P;
  TVLTSortedPageList L;
  std::vector<TVLTPage*> Pg;
  for (TVLTPageNo No = 0; No < 6; ++No) {
    Pg.push_back(P.Make(No * 10));
    L.Insert(Pg.back());
  }
  L.UpdateLRU(Pg[0]);  // use order: 10 20 30 40 50 0
  std::vector<TVLTPageNo> Walk;
  for (TVLTPage* X = L.FirstByLRU(); X; X = L.NextByLRU()) {
    Walk.push_back(X->PageNo());
    if (X->PageNo() == 10) L.Delete(10);         // the page found
    if (X->PageNo() == 20) L.UpdateLRU(Pg[3]);   // 30 moves behind 0
    if (X->PageNo() == 40) L.Insert(P.Make(5));  // newest of all
    L.CheckInvariants();
  }
  EXPECT_EQ(Walk, (std::vector<TVLTPageNo>{10, 20, 40, 50, 0, 30, 5}));
  EXPECT_EQ(L.NextByLRU(), nullptr);
  L.Insert(P.Make(7));  // a walk at its end goes on with a page used later
  EXPECT_EQ(L.NextByLRU()->PageNo(), 7);
}

TEST(TVLTSortedPageList, DeleteFirstKeepsTheRestInUseOrder) {
  Pages P;
  TVLTSortedPageList L;
  std::vector<TVLTPage*> Pg;
  for (TVLTPageNo No = 0; No < 5; ++No) {
    Pg.push_back(P.Make(No));
    L.Insert(Pg.back());
  }
  L.UpdateLRU(Pg[3]);
  L.UpdateLRU(Pg[2]);
  // The dropped pages go to another list, which rewrites their chain links.
  TVLTSortedPageList Other;
  Other.Insert(Pg[0]);
  Other.Insert(Pg[1]);
  L.DeleteFirst(2);
  L.CheckInvariants();
  Other.CheckInvariants();
  EXPECT_EQ(Keys(L), (std::vector<TVLTPageNo>{2, 3, 4}));
  std::vector<TVLTPageNo> Walk;
  for (TVLTPage* X = L.FirstByLRU(); X; X = L.NextByLRU()) Walk.push_back(X->PageNo());
  EXPECT_EQ(Walk, (std::vector<TVLTPageNo>{4, 3, 2}));
  L.DeleteFirst(99);
  EXPECT_EQ(L.Count(), 0);
  EXPECT_EQ(L.FirstByLRU(), nullptr);
}

// Lists of many blocks against a model: inserts and deletes at random positions, positions
// walked forwards and backwards, the prefix of a commit dropped across block boundaries, and
// an empty list answering every question.
TEST(TVLTSortedPageList, ManyBlocksAgainstAModel) {
  Pages P;
  TVLTSortedPageList L;
  EXPECT_EQ(L.Find(3), nullptr);
  EXPECT_EQ(L.FirstByLRU(), nullptr);
  L.DeleteFirst(5);
  L.CheckInvariants();
  EXPECT_EQ(CodeOf([&] { L.UpdateLRU(P.Make(3)); }), 20167);

  std::map<TVLTPageNo, TVLTPage*> M;
  std::mt19937 Rng(11);
  for (int Step = 0; Step < 30000; ++Step) {
    const TVLTPageNo No = static_cast<TVLTPageNo>(Rng() % 20000);
    if (Step < 20000 || Rng() % 3 != 0) {
      if (M.count(No)) continue;
      M[No] = P.Make(No);
      L.Insert(M[No]);
    } else if (auto It = M.lower_bound(No); It != M.end()) {
      L.Delete(It->first);
      M.erase(It);
    }
  }
  L.CheckInvariants();
  ASSERT_EQ(L.Count(), static_cast<int32_t>(M.size()));
  ASSERT_GT(L.Count(), 3 * TVLTSortedPageList::kBlockSize);
  int32_t I = 0;
  for (const auto& [No, Page] : M) {
    ASSERT_EQ(L.Items(I++), Page);
    ASSERT_EQ(L.Find(No), Page);
  }
  for (I = L.Count() - 1; I >= 0; I -= 7) ASSERT_EQ(L.Items(I), std::next(M.begin(), I)->second);
  EXPECT_EQ(L.Find(20001), nullptr);
  EXPECT_EQ(L.Find(-5), nullptr);

  // The walk by use sees every page once, oldest first, after uses moved some to the end.
  std::vector<TVLTPage*> Used;
  for (auto It = M.begin(); It != M.end();
       std::advance(It, std::min<ptrdiff_t>(97, std::distance(It, M.end()))))
    Used.push_back(It->second);
  for (TVLTPage* U : Used) L.UpdateLRU(U);
  std::vector<TVLTPage*> Walk;
  for (TVLTPage* X = L.FirstByLRU(); X; X = L.NextByLRU()) Walk.push_back(X);
  ASSERT_EQ(Walk.size(), M.size());
  EXPECT_TRUE(
      std::equal(Used.begin(), Used.end(), Walk.end() - static_cast<ptrdiff_t>(Used.size())));

  // A commit's written prefix, ending inside a block.
  const int32_t Drop = TVLTSortedPageList::kBlockSize * 2 + 17;
  L.DeleteFirst(Drop);
  M.erase(M.begin(), std::next(M.begin(), Drop));
  L.CheckInvariants();
  I = 0;
  for (const auto& [No, Page] : M) ASSERT_EQ(L.Items(I++), Page);
  L.DeleteFirst(L.Count());
  EXPECT_EQ(L.Count(), 0);
  EXPECT_EQ(L.Find(M.begin()->first), nullptr);
  L.CheckInvariants();
  L.Insert(P.Make(1));
  EXPECT_EQ(L.Items(0)->PageNo(), 1);
}

// Find remembers its last answer for repeated look-ups; no change of the entries may leave
// it answering with a page that left the list.
TEST(TVLTSortedPageList, RepeatedFindNeverAnswersAPageThatLeft) {
  Pages P;
  TVLTSortedPageList L;
  TVLTPage* A = P.Make(5);
  L.Insert(A);
  L.Insert(P.Make(9));
  EXPECT_EQ(L.Find(5), A);
  EXPECT_EQ(L.Find(5), A);
  L.Delete(5);
  EXPECT_EQ(L.Find(5), nullptr);
  TVLTPage* B = P.Make(5);
  L.Insert(B);
  EXPECT_EQ(L.Find(5), B);
  L.DeleteFirst(1);
  EXPECT_EQ(L.Find(5), nullptr);
  L.Insert(A);
  EXPECT_EQ(L.Find(5), A);
  L.Clear();
  EXPECT_EQ(L.Find(5), nullptr);
  L.Insert(B);
  EXPECT_EQ(L.Find(5), B);
  L.SetSize(0);
  EXPECT_EQ(L.Find(5), nullptr);
}

TEST(TVLTSortedPageList, TwoRememberedPagesAndTheirPlacesFollowEveryChange) {
  Pages P;
  TVLTSortedPageList L;
  TVLTPage* Leaf = P.Make(100);
  TVLTPage* Rec = P.Make(700);
  L.Insert(Leaf);
  L.Insert(Rec);
  for (TVLTPageNo No = 1; No < 1200; No += 3) L.Insert(P.Make(No * 2));  // several blocks
  // Alternating look-ups, each followed by the use stamp a release gives.
  for (int Round = 0; Round < 3; ++Round) {
    EXPECT_EQ(L.Find(100), Leaf);
    L.UpdateLRU(Leaf);
    EXPECT_EQ(L.Find(700), Rec);
    L.UpdateLRU(Rec);
  }
  L.CheckInvariants();
  // An insert in front of both moves them: a stamp must land on the page itself, not on the
  // entry now at a remembered place.
  EXPECT_EQ(L.Find(100), Leaf);
  EXPECT_EQ(L.Find(700), Rec);
  L.Insert(P.Make(1));
  L.UpdateLRU(Rec);
  L.UpdateLRU(Leaf);
  L.CheckInvariants();
  int32_t LeafAt = -1, RecAt = -1;
  for (int32_t I = 0; I < L.Count(); ++I) {
    if (L.Items(I) == Leaf) LeafAt = I;
    if (L.Items(I) == Rec) RecAt = I;
  }
  ASSERT_GE(LeafAt, 0);
  ASSERT_GE(RecAt, 0);
  EXPECT_GT(L.LRUStamp(LeafAt), L.LRUStamp(RecAt));
  for (int32_t I = 0; I < L.Count(); ++I)
    if (I != LeafAt) {
      EXPECT_LT(L.LRUStamp(I), L.LRUStamp(LeafAt));
    }
  EXPECT_EQ(L.FirstByLRU()->PageNo(), 2);  // the first of the bulk, never used since
  // A page deleted while remembered second is never answered again.
  EXPECT_EQ(L.Find(100), Leaf);
  EXPECT_EQ(L.Find(700), Rec);
  L.Delete(100);
  EXPECT_EQ(L.Find(100), nullptr);
  EXPECT_EQ(L.Find(700), Rec);
  // A page that is not listed is still refused, whatever was found before.
  TVLTPage* Stranger = P.Make(100);
  EXPECT_EQ(CodeOf([&] { L.UpdateLRU(Stranger); }), 20167);
}

}  // namespace
}  // namespace vlt

namespace vlt {
namespace {

// The page-number index alone, against a model: runs of probes through wrap-around, erases
// from the middle of runs (the backward shift must keep every other key reachable), negative
// numbers, refits after bulk erases.
TEST(TVLTPageNoIndex, FindsEveryKeyThroughInsertsErasesAndRefits) {
  Pages P;
  TVLTPageNoIndex Index;
  EXPECT_EQ(Index.Find(0), nullptr);
  Index.Erase(5);  // nothing to erase
  std::map<TVLTPageNo, TVLTPage*> M;
  std::mt19937 Rng(5);
  auto CheckAll = [&] {
    ASSERT_EQ(Index.Count(), M.size());
    for (const auto& [No, Page] : M) ASSERT_EQ(Index.Find(No), Page) << No;
  };
  for (int Round = 0; Round < 4; ++Round) {
    // Dense, sparse and negative numbers: the table grows through several sizes.
    for (TVLTPageNo No = 0; No < 3000; ++No) {
      const TVLTPageNo Key = Round % 2 ? No * 4099 : No - 1500;
      if (M.count(Key)) continue;
      M[Key] = P.Make(Key);
      Index.Insert(Key, M[Key]);
    }
    CheckAll();
    // Erase two thirds in random order; absent keys are ignored.
    std::vector<TVLTPageNo> Keys;
    for (const auto& [No, Page] : M) Keys.push_back(No);
    std::shuffle(Keys.begin(), Keys.end(), Rng);
    for (size_t I = 0; I < Keys.size() * 2 / 3; ++I) {
      Index.Erase(Keys[I]);
      Index.Erase(Keys[I]);
      M.erase(Keys[I]);
      if (I % 500 == 0) CheckAll();
    }
    EXPECT_EQ(Index.Find(1 << 30), nullptr);
    Index.Fit();
    CheckAll();
  }
  Index.Clear();
  M.clear();
  CheckAll();
  Index.Insert(7, P.Make(7));
  EXPECT_NE(Index.Find(7), nullptr);
}

}  // namespace
}  // namespace vlt
