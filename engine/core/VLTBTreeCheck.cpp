// The B+tree integrity check: verifies the invariants listed in VLTBTree.h.
#include <unordered_map>
#include <unordered_set>

#include "engine/base/VLTExcept.h"
#include "engine/core/VLTBTree.h"

namespace vlt {

struct TVLTBTree::TCheckState {
  int32_t LeafDepth = -1;
  std::unordered_set<TVLTPageNo> Visited;
  // The page last visited on each level (pages of a level are visited left to right) and its
  // right neighbour, to check the chain across parents.
  std::unordered_map<int32_t, std::pair<TVLTPageNo, TVLTPageNo>> LastOnLevel;
};

namespace {

[[noreturn]] void Fail(int32_t Code, TVLTPageNo PageNo, int32_t EntryNo) {
  throw EVLTException(Code, "Index integrity error. PageNo=%d EntryNo=%d",
                      {int64_t{PageNo}, int64_t{EntryNo}});
}

[[noreturn]] void FailStructure(TVLTPageNo PageNo, const char* What) {
  throw EVLTException(20306, "Index integrity error. %s. PageNo=%d",
                      {std::string(What), int64_t{PageNo}});
}

}  // namespace

void TVLTBTree::CheckIntegrity(TVLTSessionID SessionID) {
  TVLTKeyPath Path;
  CheckIntegrity(SessionID, FRootPageNo, Path);
}

void TVLTBTree::CheckIntegrity(TVLTSessionID SessionID, TVLTPageNo PageNo, TVLTKeyPath& Path) {
  TCheckState State;
  for (int32_t I = 0; I < Path.Count; ++I) State.Visited.insert(Path.Items[static_cast<size_t>(I)].PageNo);
  CheckPage(SessionID, PageNo, Path, State);
}

bool TVLTBTree::EdgeEntry(TVLTSessionID SessionID, TVLTPageNo PageNo, bool FirstEntry,
                          std::vector<uint8_t>& Key, std::vector<uint8_t>& Reference) {
  for (int32_t Depth = 0; Depth <= TVLTKeyPath::kMaxLevels; ++Depth) {
    TVLTBTreePageGuard P(LPageManager, GetTreePage(SessionID, PageNo), LKeyRef);
    int32_t N = P->EntryCount();
    if (N == 0) return false;
    int32_t E = FirstEntry ? 0 : N - 1;
    if (P->IsLeaf()) {
      Key.assign(P->Key(E), P->Key(E) + P->KeyPrefixSize());
      Reference.assign(P->Reference(E), P->Reference(E) + P->ReferenceSize());
      return true;
    }
    PageNo = P->ChildPageNo(E);
  }
  FailStructure(PageNo, "Tree too deep");
}

void TVLTBTree::CheckPage(TVLTSessionID SessionID, TVLTPageNo PageNo, TVLTKeyPath& Path,
                          TCheckState& State) {
  TVLTBTreePageGuard P(LPageManager, GetTreePage(SessionID, PageNo), LKeyRef);
  State.Visited.insert(PageNo);
  int32_t N = P->EntryCount();
  bool IsTop = Path.Count == 0;
  if (P->IsRoot() != IsTop) FailStructure(PageNo, "Wrong root flag");
  // Chain ends: the leftmost page of a level has no left neighbour, the rightmost no right one.
  bool Leftmost = true, Rightmost = true;
  for (int32_t L = 0; L < Path.Count; ++L) {
    const TVLTKeyPathItem& It = Path.Items[static_cast<size_t>(L)];
    if (It.EntryNo != 0) Leftmost = false;
    if (It.EntryNo != It.EntryCount - 1) Rightmost = false;
  }
  if (Leftmost && P->LeftPageNo() != kNoPage) FailStructure(PageNo, "Level chain does not start here");
  if (Rightmost && P->RightPageNo() != kNoPage) FailStructure(PageNo, "Level chain does not end here");
  auto Last = State.LastOnLevel.find(Path.Count);
  if (Last != State.LastOnLevel.end() &&
      (Last->second.second != PageNo || P->LeftPageNo() != Last->second.first))
    FailStructure(PageNo, "Level chain broken");
  State.LastOnLevel[Path.Count] = {PageNo, P->RightPageNo()};

  if (P->IsLeaf()) {
    if (State.LeafDepth < 0)
      State.LeafDepth = Path.Count;
    else if (State.LeafDepth != Path.Count)
      FailStructure(PageNo, "Leaves at different depths");
    bool Exact = !LKeyRef->HasTruncatedParts();
    for (int32_t I = 0; I + 1 < N; ++I) {
      int C = LKeyRef->CompareShortKeys(P->Key(I), P->Key(I + 1), nullptr, nullptr, SessionID, false);
      if (C > 0 || (C == 0 && Exact &&
                    LKeyRef->CompareReferences(P->Reference(I), P->Reference(I + 1)) >= 0))
        Fail(20028, PageNo, I);
    }
    return;
  }

  if (N == 0 || (IsTop && N < 2)) FailStructure(PageNo, "Node with too few entries");
  std::vector<TVLTPageNo> Children(static_cast<size_t>(N));
  for (int32_t I = 0; I < N; ++I) Children[static_cast<size_t>(I)] = P->ChildPageNo(I);
  std::vector<std::vector<uint8_t>> Seps(static_cast<size_t>(N));
  for (int32_t I = 0; I < N; ++I) Seps[static_cast<size_t>(I)].assign(P->Key(I), P->Key(I) + P->KeyPrefixSize());
  P.Release();

  for (int32_t I = 0; I < N; ++I) {
    TVLTPageNo ChildNo = Children[static_cast<size_t>(I)];
    if (State.Visited.count(ChildNo)) Fail(20032, PageNo, I);
    Path.Push(PageNo, I, N);
    {
      TVLTBTreePageGuard C(LPageManager, GetTreePage(SessionID, ChildNo), LKeyRef);
      if (I > 0 && C->LeftPageNo() != Children[static_cast<size_t>(I - 1)]) Fail(20033, PageNo, I);
      if (I < N - 1 && C->RightPageNo() != Children[static_cast<size_t>(I + 1)]) Fail(20034, PageNo, I);
    }
    CheckPage(SessionID, ChildNo, Path, State);
    Path.Pop();
  }

  bool Exact = !LKeyRef->HasTruncatedParts();
  std::vector<uint8_t> LastKey, LastRef, FirstKey, FirstRef;
  auto Cmp = [&](const std::vector<uint8_t>& A, const std::vector<uint8_t>& B) {
    return LKeyRef->CompareShortKeys(A.data(), B.data(), nullptr, nullptr, SessionID, false);
  };
  for (int32_t I = 2; I < N; ++I)
    if (Cmp(Seps[static_cast<size_t>(I - 1)], Seps[static_cast<size_t>(I)]) > 0) Fail(20029, PageNo, I - 1);
  for (int32_t I = 1; I < N; ++I) {
    const auto& Sep = Seps[static_cast<size_t>(I)];
    bool HasLast = EdgeEntry(SessionID, Children[static_cast<size_t>(I - 1)], false, LastKey, LastRef);
    bool HasFirst = EdgeEntry(SessionID, Children[static_cast<size_t>(I)], true, FirstKey, FirstRef);
    if (HasLast && Cmp(LastKey, Sep) > 0) Fail(20030, PageNo, I);
    if (HasFirst && Cmp(FirstKey, Sep) < 0) Fail(20031, PageNo, I);
    if (HasLast && HasFirst && Exact && Cmp(LastKey, FirstKey) == 0 &&
        LKeyRef->CompareReferences(LastRef.data(), FirstRef.data()) >= 0)
      Fail(20194, PageNo, I);
  }
}

}  // namespace vlt
