// Changes to the B+tree: creation, insertion with splits, deletion with merges and root
// collapse, dropping and emptying.
#include <cstring>
#include <unordered_set>

#include "engine/base/VLTExcept.h"
#include "engine/core/VLTBTree.h"
#include "engine/core/VLTTableData.h"  // the search condition enumerators

namespace vlt {

namespace {

void Damaged(TVLTPageNo PageNo) {
  throw EVLTException(20302, "Index page is damaged. PageNo=%d", {int64_t{PageNo}});
}

}  // namespace

TVLTPageNo TVLTBTree::CreateRoot(TVLTSessionID SessionID) {
  int32_t Room = LPageManager->PageDataSize() - kBTreeEntriesOffset;
  int32_t LeafEntry = LKeyRef->FShortKeySize + LKeyRef->FReferenceSize;
  int32_t NodeEntry = LKeyRef->FShortKeySize + kBTreeChildRefSize;
  // Splits need room for two entries of either kind.
  if (Room < 2 * std::max(LeafEntry, NodeEntry))
    throw EVLTException(
        20304, "Index key too large: key size %d bytes, at most %d bytes fit in a page",
        {int64_t{LKeyRef->FShortKeySize},
         int64_t{Room / 2 - std::max<int32_t>(LKeyRef->FReferenceSize, kBTreeChildRefSize)}});
  Changed();
  TVLTBTreePageGuard Root(LPageManager, LPageManager->AddPage(SessionID, ptTableIndex), LKeyRef);
  Root->InitRoot();
  Root.Dirty();
  FRootPageNo = Root->PageNo();
  return FRootPageNo;
}

std::vector<TVLTPageNo> TVLTBTree::CollectPages(TVLTSessionID SessionID) {
  std::vector<TVLTPageNo> Pages;
  std::unordered_set<TVLTPageNo> Seen;
  TVLTPageNo LevelStart = FRootPageNo;
  while (LevelStart != kNoPage) {
    TVLTPageNo Next = kNoPage;
    for (TVLTPageNo No = LevelStart; No != kNoPage;) {
      if (!Seen.insert(No).second) Damaged(No);
      TVLTBTreePageGuard P(LPageManager, GetTreePage(SessionID, No), LKeyRef);
      Pages.push_back(No);
      if (No == LevelStart && !P->IsLeaf() && P->EntryCount() > 0) Next = P->ChildPageNo(0);
      No = P->RightPageNo();
    }
    LevelStart = Next;
  }
  return Pages;
}

void TVLTBTree::Drop(TVLTSessionID SessionID) {
  if (FRootPageNo == kNoPage) return;
  Changed();
  for (TVLTPageNo No : CollectPages(SessionID)) LPageManager->RemovePage(SessionID, No);
  FRootPageNo = kNoPage;
}

void TVLTBTree::Empty(TVLTSessionID SessionID) {
  Changed();
  for (TVLTPageNo No : CollectPages(SessionID))
    if (No != FRootPageNo) LPageManager->RemovePage(SessionID, No);
  TVLTBTreePageGuard Root(LPageManager, GetTreePage(SessionID, FRootPageNo), LKeyRef);
  Root->InitRoot();
  Root.Dirty();
}

// ---- insertion ----

void TVLTBTree::Insert(TVLTSessionID SessionID, const uint8_t* Key, const uint8_t* Reference) {
  Changed();
  if (CheckedKeyMatches(SessionID, Key)) FChecked.Checked = false;  // that check is answered
  TVLTKeyPath Path;
  Descend(SessionID, Key, Reference, TLeafMode::Exact, Path);
  InsertAt(SessionID, Path, Path.Count - 1, Key, Reference);
}

bool TVLTBTree::CheckedKeyMatches(TVLTSessionID SessionID, const uint8_t* Key) const {
  return FChecked.Checked && FChecked.SessionID == SessionID &&
         FChecked.Key.size() == static_cast<size_t>(LKeyRef->FShortKeySize) &&
         std::memcmp(FChecked.Key.data(), Key, FChecked.Key.size()) == 0;
}

bool TVLTBTree::ContainsKey(TVLTSessionID SessionID, const uint8_t* Key) {
  FChecked.Checked = false;
  TVLTKeyPath Path;
  bool Tied = false;
  Descend(SessionID, Key, nullptr, TLeafMode::LowerBound, Path, &Tied);
  // With no key equal on the way, the entries around the leaf position are lower and greater
  // than the key, and so (by the separators' bounds) is every other leaf's: nothing is equal.
  // A tie leaves the answer to the search by condition, which resolves it as every look-up does.
  if (Tied) {
    TVLTKeyPath Found;
    if (FindByCondition(SessionID, true, scEqual, Key, Found)) return true;
  }
  FChecked.Checked = true;
  // Another process may rewrite pages behind a multi-user manager: no position is kept there.
  FChecked.PathKept = !Tied && !LPageManager->MultiUser();
  FChecked.SessionID = SessionID;
  FChecked.ChangeCount = FChangeCount;
  FChecked.ManagerEpoch = LPageManager->ChangeEpoch();
  FChecked.Key.assign(Key, Key + LKeyRef->FShortKeySize);
  FChecked.Path = Path;
  return false;
}

bool TVLTBTree::InsertChecked(TVLTSessionID SessionID, const uint8_t* Key,
                              const uint8_t* Reference) {
  if (!CheckedKeyMatches(SessionID, Key)) {
    Insert(SessionID, Key, Reference);
    return true;
  }
  FChecked.Checked = false;
  const bool Unchanged =
      FChecked.ChangeCount == FChangeCount && FChecked.ManagerEpoch == LPageManager->ChangeEpoch();
  if (!Unchanged) {
    // Somebody changed the tree between the check and this insert: check again.
    if (ContainsKey(SessionID, Key)) return false;
    FChecked.Checked = false;
  }
  if (!FChecked.PathKept) {
    Insert(SessionID, Key, Reference);
    return true;
  }
  Changed();
  TVLTKeyPath Path = FChecked.Path;
  InsertAt(SessionID, Path, Path.Count - 1, Key, Reference);
  return true;
}

void TVLTBTree::InsertAt(TVLTSessionID SessionID, TVLTKeyPath& Path, int32_t Level,
                         const uint8_t* Key, const uint8_t* Reference) {
  TVLTKeyPathItem& It = Path.Items[static_cast<size_t>(Level)];
  bool Overflow;
  {
    TVLTBTreePageGuard P(LPageManager, GetTreePage(SessionID, It.PageNo), LKeyRef);
    if (It.EntryNo < 0 || It.EntryNo > P->EntryCount()) Damaged(It.PageNo);
    P->InsertEntry(It.EntryNo, Key, Reference);
    P.Dirty();
    It.EntryCount = P->EntryCount();
    Overflow = P->IsOverflow();
  }
  if (Overflow) SplitPage(SessionID, Path, Level);
}

void TVLTBTree::SplitPage(TVLTSessionID SessionID, TVLTKeyPath& Path, int32_t Level) {
  TVLTPageNo PageNo = Path.Items[static_cast<size_t>(Level)].PageNo;
  TVLTBTreePageGuard Old(LPageManager, GetTreePage(SessionID, PageNo, false), LKeyRef);
  int32_t N = Old->EntryCount(), Half = N / 2;
  if (Old->IsRoot()) {
    // The root keeps its number: its halves move to two new pages and it becomes their node.
    TVLTBTreePageGuard A(LPageManager, LPageManager->AddPage(SessionID, ptTableIndex), LKeyRef);
    TVLTBTreePageGuard B(LPageManager, LPageManager->AddPage(SessionID, ptTableIndex), LKeyRef);
    for (TVLTBTreePageGuard* G : {&A, &B}) {
      (*G)->CopyHeaderFrom(*Old);
      (*G)->SetIsRoot(false);
      (*G)->SetEntryCount(0);
    }
    A->AppendEntries(Old->Entry(0), Half);
    B->AppendEntries(Old->Entry(Half), N - Half);
    A->SetLeftPageNo(kNoPage);
    A->SetRightPageNo(B->PageNo());
    B->SetLeftPageNo(A->PageNo());
    B->SetRightPageNo(kNoPage);
    A.Dirty();
    B.Dirty();
    std::vector<uint8_t> BKey(B->Key(0), B->Key(0) + B->KeyPrefixSize());
    Old->SetIsLeaf(false);
    Old->SetEntryCount(0);
    uint8_t Ref[kBTreeChildRefSize];
    StoreLE<int32_t>(Ref, A->PageNo());
    Old->InsertEntry(0, nullptr, Ref);
    StoreLE<int32_t>(Ref, B->PageNo());
    Old->InsertEntry(1, BKey.data(), Ref);
    Old.Dirty();
    return;
  }
  if (Level == 0) Damaged(PageNo);  // a non-root page at the top of the path
  TVLTBTreePageGuard New(LPageManager, LPageManager->AddPage(SessionID, ptTableIndex), LKeyRef);
  New->CopyHeaderFrom(*Old);
  New->SetIsRoot(false);
  New->SetEntryCount(0);
  New->AppendEntries(Old->Entry(Half), N - Half);
  Old->Truncate(Half);
  TVLTPageNo RightNo = Old->RightPageNo();
  New->SetLeftPageNo(PageNo);
  New->SetRightPageNo(RightNo);
  Old->SetRightPageNo(New->PageNo());
  if (RightNo != kNoPage) {
    TVLTBTreePageGuard R(LPageManager, GetTreePage(SessionID, RightNo), LKeyRef);
    R->SetLeftPageNo(New->PageNo());
    R.Dirty();
  }
  Old.Dirty();
  New.Dirty();
  std::vector<uint8_t> NewKey(New->Key(0), New->Key(0) + New->KeyPrefixSize());
  uint8_t Ref[kBTreeChildRefSize];
  StoreLE<int32_t>(Ref, New->PageNo());
  Old.Release();
  New.Release();
  // The new page's entry goes right after the entry that led down to the old page.
  ++Path.Items[static_cast<size_t>(Level - 1)].EntryNo;
  InsertAt(SessionID, Path, Level - 1, NewKey.data(), Ref);
}

// ---- deletion ----

bool TVLTBTree::Delete(TVLTSessionID SessionID, const uint8_t* Key, const uint8_t* Reference) {
  TVLTKeyPath Path;
  if (!FindEntry(SessionID, Key, Reference, Path)) return false;
  Changed();
  DeleteAt(SessionID, Path, Path.Count - 1);
  return true;
}

void TVLTBTree::SetReference(TVLTSessionID SessionID, const TVLTKeyPath& Path,
                             const uint8_t* Reference) {
  Changed();
  const TVLTKeyPathItem& It = Path.Leaf();
  TVLTBTreePageGuard P(LPageManager, GetTreePage(SessionID, It.PageNo), LKeyRef);
  if (!P->IsLeaf() || It.EntryNo < 0 || It.EntryNo >= P->EntryCount())
    throw EVLTException(20100, "Index error: invalid position");
  std::memcpy(P->Reference(It.EntryNo), Reference, static_cast<size_t>(P->ReferenceSize()));
  P.Dirty();
}

bool TVLTBTree::SeparatorOf(const TVLTKeyPath& Path, int32_t Level, int32_t& SepLevel,
                            int32_t& SepEntry) {
  for (int32_t K = Level - 1; K >= 0; --K) {
    if (Path.Items[static_cast<size_t>(K)].EntryNo != 0) {
      SepLevel = K;
      SepEntry = Path.Items[static_cast<size_t>(K)].EntryNo;
      return true;
    }
  }
  return false;
}

void TVLTBTree::ReadNodeKey(TVLTSessionID SessionID, TVLTPageNo PageNo, int32_t EntryNo,
                            std::vector<uint8_t>& Key) {
  TVLTBTreePageGuard P(LPageManager, GetTreePage(SessionID, PageNo), LKeyRef);
  if (P->IsLeaf()) throw EVLTException(20024, "Internal index error");
  if (EntryNo < 0 || EntryNo >= P->EntryCount()) Damaged(PageNo);
  Key.assign(P->Key(EntryNo), P->Key(EntryNo) + P->KeyPrefixSize());
}

void TVLTBTree::WriteNodeKey(TVLTSessionID SessionID, TVLTPageNo PageNo, int32_t EntryNo,
                             const uint8_t* Key) {
  TVLTBTreePageGuard P(LPageManager, GetTreePage(SessionID, PageNo), LKeyRef);
  if (P->IsLeaf()) throw EVLTException(20024, "Internal index error");
  if (EntryNo < 0 || EntryNo >= P->EntryCount()) Damaged(PageNo);
  std::memcpy(P->Key(EntryNo), Key, P->KeyPrefixSize());
  P.Dirty();
}

bool TVLTBTree::SubtreeFirstKey(TVLTSessionID SessionID, TVLTPageNo PageNo,
                                std::vector<uint8_t>& Key) {
  for (int32_t Depth = 0; Depth <= TVLTKeyPath::kMaxLevels; ++Depth) {
    TVLTBTreePageGuard P(LPageManager, GetTreePage(SessionID, PageNo), LKeyRef);
    if (P->EntryCount() == 0) return false;
    if (P->IsLeaf()) {
      Key.assign(P->Key(0), P->Key(0) + P->KeyPrefixSize());
      return true;
    }
    PageNo = P->ChildPageNo(0);
  }
  Damaged(PageNo);
  return false;
}

void TVLTBTree::DeleteAt(TVLTSessionID SessionID, TVLTKeyPath& Path, int32_t Level) {
  const TVLTKeyPathItem It = Path.Items[static_cast<size_t>(Level)];
  bool IsRoot, IsLeaf, UnderHalf;
  int32_t NewCount;
  std::vector<uint8_t> NewFirstKey;
  {
    TVLTBTreePageGuard P(LPageManager, GetTreePage(SessionID, It.PageNo), LKeyRef);
    if (P->EntryCount() == 0) throw EVLTException(20025, "Index error: page is empty");
    if (It.EntryNo < 0 || It.EntryNo >= P->EntryCount()) Damaged(It.PageNo);
    P->DeleteEntry(It.EntryNo);
    P.Dirty();
    IsRoot = P->IsRoot();
    IsLeaf = P->IsLeaf();
    NewCount = P->EntryCount();
    UnderHalf = P->IsUnderHalf();
    if (!IsLeaf && It.EntryNo == 0 && NewCount > 0)
      NewFirstKey.assign(P->Key(0), P->Key(0) + P->KeyPrefixSize());
  }
  Path.Items[static_cast<size_t>(Level)].EntryCount = NewCount;
  // A node that lost its first child now starts where its new first child does: the separator
  // that leads to it must not let keys of that range go to the left (they may have moved there).
  int32_t SepLevel, SepEntry;
  if (!NewFirstKey.empty() && SeparatorOf(Path, Level, SepLevel, SepEntry))
    WriteNodeKey(SessionID, Path.Items[static_cast<size_t>(SepLevel)].PageNo, SepEntry,
                 NewFirstKey.data());
  if (IsRoot) {
    if (!IsLeaf && NewCount == 1) CollapseRoot(SessionID);
    return;
  }
  if (UnderHalf && !TryMerge(SessionID, Path, Level, true)) TryMerge(SessionID, Path, Level, false);
}

bool TVLTBTree::TryMerge(TVLTSessionID SessionID, TVLTKeyPath& Path, int32_t Level, bool IntoLeft) {
  TVLTKeyPath NPath = Path;
  NPath.Count = Level + 1;
  if (!SiblingPath(SessionID, NPath, Level, !IntoLeft)) return false;
  TVLTPageNo PageNo = Path.Items[static_cast<size_t>(Level)].PageNo;
  TVLTPageNo NeighbourNo = NPath.Items[static_cast<size_t>(Level)].PageNo;

  // Keys needed before the pages are held.
  int32_t PCount, NCount, ES, Offset, NDataSize;
  bool IsLeaf;
  TVLTPageNo PFirstChild, NFirstChild;
  {
    TVLTBTreePageGuard P(LPageManager, GetTreePage(SessionID, PageNo), LKeyRef);
    TVLTBTreePageGuard N(LPageManager, GetTreePage(SessionID, NeighbourNo), LKeyRef);
    if ((IntoLeft ? P->LeftPageNo() : P->RightPageNo()) != NeighbourNo ||
        P->IsLeaf() != N->IsLeaf())
      Damaged(PageNo);
    PCount = P->EntryCount();
    NCount = N->EntryCount();
    ES = P->EntrySize();
    Offset = N->EntriesOffset();
    NDataSize = N->PageDataSize();
    IsLeaf = P->IsLeaf();
    PFirstChild = !IsLeaf && PCount > 0 ? P->ChildPageNo(0) : kNoPage;
    NFirstChild = !IsLeaf && NCount > 0 ? N->ChildPageNo(0) : kNoPage;
  }
  // An empty page always goes: there is nothing to move.
  if (PCount > 0 && (PCount + NCount) * ES + Offset >= NDataSize) return false;

  std::vector<uint8_t> PSep, NSep, Tmp;
  int32_t SL, SE;
  bool HasPSep = SeparatorOf(Path, Level, SL, SE);
  if (HasPSep) ReadNodeKey(SessionID, Path.Items[static_cast<size_t>(SL)].PageNo, SE, PSep);
  // The entry-0 key of the node page whose first entry stops being first gets the true first
  // key of its subtree (or the separator above it when that subtree holds no entry).
  std::vector<uint8_t> FixKey;
  TVLTPageNo FixChild = IntoLeft ? PFirstChild : NFirstChild;
  if (FixChild != kNoPage && !SubtreeFirstKey(SessionID, FixChild, FixKey)) {
    if (IntoLeft) {
      FixKey = PSep;
    } else if (SeparatorOf(NPath, Level, SL, SE)) {
      ReadNodeKey(SessionID, NPath.Items[static_cast<size_t>(SL)].PageNo, SE, FixKey);
    }
  }
  // The right page's new lower bound when P merges into it.
  std::vector<uint8_t> NewNSep = PSep;
  if (!IntoLeft && !HasPSep && PCount > 0) {
    if (IsLeaf) {
      TVLTBTreePageGuard P(LPageManager, GetTreePage(SessionID, PageNo), LKeyRef);
      NewNSep.assign(P->Key(0), P->Key(0) + P->KeyPrefixSize());
    } else {
      SubtreeFirstKey(SessionID, PFirstChild, NewNSep);
    }
  }

  TVLTPageNo FarNo;
  {
    TVLTBTreePageGuard P(LPageManager, GetTreePage(SessionID, PageNo), LKeyRef);
    TVLTBTreePageGuard N(LPageManager, GetTreePage(SessionID, NeighbourNo), LKeyRef);
    if (IntoLeft) {
      if (PFirstChild != kNoPage && !FixKey.empty())
        std::memcpy(P->Key(0), FixKey.data(), FixKey.size());
      N->AppendEntries(P->Entry(0), PCount);
      FarNo = P->RightPageNo();
      N->SetRightPageNo(FarNo);
    } else {
      if (NFirstChild != kNoPage && !FixKey.empty())
        std::memcpy(N->Key(0), FixKey.data(), FixKey.size());
      N->PrependEntries(P->Entry(0), PCount);
      FarNo = P->LeftPageNo();
      N->SetLeftPageNo(FarNo);
    }
    N.Dirty();
  }
  if (FarNo != kNoPage) {
    TVLTBTreePageGuard F(LPageManager, GetTreePage(SessionID, FarNo), LKeyRef);
    if (IntoLeft)
      F->SetLeftPageNo(NeighbourNo);
    else
      F->SetRightPageNo(NeighbourNo);
    F.Dirty();
  }
  if (!IntoLeft && !NewNSep.empty() && SeparatorOf(NPath, Level, SL, SE))
    WriteNodeKey(SessionID, NPath.Items[static_cast<size_t>(SL)].PageNo, SE, NewNSep.data());
  LPageManager->RemovePage(SessionID, PageNo);
  DeleteAt(SessionID, Path, Level - 1);
  return true;
}

void TVLTBTree::CollapseRoot(TVLTSessionID SessionID) {
  // A root node with one child takes over the child's entries; repeated while the child was a
  // node with a single entry itself.
  for (;;) {
    TVLTBTreePageGuard Root(LPageManager, GetTreePage(SessionID, FRootPageNo), LKeyRef);
    if (Root->IsLeaf() || Root->EntryCount() != 1) return;
    TVLTPageNo ChildNo = Root->ChildPageNo(0);
    {
      TVLTBTreePageGuard C(LPageManager, GetTreePage(SessionID, ChildNo), LKeyRef);
      if (C->EntryCount() == 0 && !C->IsLeaf()) Damaged(ChildNo);
      Root->SetIsLeaf(C->IsLeaf());
      Root->SetEntryCount(0);
      Root->AppendEntries(C->Entry(0), C->EntryCount());
      Root.Dirty();
    }
    Root.Release();
    LPageManager->RemovePage(SessionID, ChildNo);
  }
}

}  // namespace vlt
