// Search, navigation and positions of the B+tree.
#include <cmath>
#include <cstring>

#include "engine/base/VLTExcept.h"
#include "engine/core/VLTBTree.h"
#include "engine/core/VLTTableData.h"  // the search condition enumerators

namespace vlt {

void TVLTKeyPath::Push(TVLTPageNo PageNo, int32_t EntryNo, int32_t EntryCount) {
  if (Count >= kMaxLevels)
    throw EVLTException(20303, "Index is too deep. PageNo=%d", {int64_t{PageNo}});
  Items[static_cast<size_t>(Count)] = {PageNo, EntryNo, EntryCount};
  ItemNo = Count;
  ++Count;
}

TVLTPage* TVLTBTree::GetTreePage(TVLTSessionID SessionID, TVLTPageNo PageNo, bool CheckHeader) {
  if (PageNo < 0)
    throw EVLTException(20305, "Index error: invalid page number %d", {int64_t{PageNo}});
  TVLTPageHandle Page(*LPageManager, SessionID, PageNo, ptTableIndex);
  if (CheckHeader) TVLTBTreePage(LKeyRef, Page.get()).CheckHeader();
  return Page.Detach();
}

namespace {

void CheckNodeNotEmpty(TVLTBTreePage& P) {
  if (!P.IsLeaf() && P.EntryCount() == 0)
    throw EVLTException(20302, "Index page is damaged. PageNo=%d", {int64_t{P.PageNo()}});
}

}  // namespace

bool TVLTBTree::FirstEntryFrom(TVLTSessionID SessionID, TVLTPageNo PageNo,
                               std::vector<uint8_t>& Key, std::vector<uint8_t>& Reference) {
  // Down the first entries (at most as many levels as a path holds), then right along the leaf
  // chain past empty leaves; a damaged chain must not make this walk forever.
  int32_t Levels = 0;
  TChainWalk Chain;
  for (int64_t Steps = 0; Steps < kMaxChainSteps && Chain.Walk(PageNo); ++Steps) {
    TVLTBTreePageGuard P(LPageManager, GetTreePage(SessionID, PageNo), LKeyRef);
    CheckNodeNotEmpty(*P);
    if (!P->IsLeaf()) {
      if (++Levels > TVLTKeyPath::kMaxLevels)
        throw EVLTException(20303, "Index is too deep. PageNo=%d", {int64_t{PageNo}});
      PageNo = P->ChildPageNo(0);
      continue;
    }
    if (P->EntryCount() > 0) {
      Key.assign(P->Key(0), P->Key(0) + P->KeyPrefixSize());
      Reference.assign(P->Reference(0), P->Reference(0) + P->ReferenceSize());
      return true;
    }
    PageNo = P->RightPageNo();
    if (PageNo == kNoPage) return false;
  }
  throw EVLTException(20302, "Index page is damaged. PageNo=%d", {int64_t{PageNo}});
}

void TVLTBTree::Descend(TVLTSessionID SessionID, const uint8_t* Key, const uint8_t* Reference,
                        TLeafMode Mode, TVLTKeyPath& Path, bool* Tied) {
  if (Tied) *Tied = false;
  Path.Clear();
  TVLTPageNo PageNo = FRootPageNo;
  std::vector<uint8_t> FirstKey, FirstRef;
  for (;;) {
    TVLTBTreePageGuard P(LPageManager, GetTreePage(SessionID, PageNo), LKeyRef);
    CheckNodeNotEmpty(*P);
    int32_t N = P->EntryCount();
    if (P->IsLeaf()) {
      // First entry that is not lower (LowerBound, Exact) / greater (UpperBound) than the key.
      int32_t Lo = 0, Hi = N;
      while (Lo < Hi) {
        int32_t Mid = (Lo + Hi) / 2;
        int C = LKeyRef->CompareShortKeys(Key, P->Key(Mid), P->Reference(Mid), nullptr, SessionID,
                                          true);
        if (C == 0 && Tied) *Tied = true;
        if (C == 0 && Mode == TLeafMode::Exact)
          C = LKeyRef->CompareReferences(Reference, P->Reference(Mid));
        bool GoRight = Mode == TLeafMode::UpperBound ? C >= 0 : C > 0;
        if (GoRight)
          Lo = Mid + 1;
        else
          Hi = Mid;
      }
      Path.Push(PageNo, Lo, N);
      return;
    }
    // Last child whose range starts at or before the key; separators never fetch full values,
    // ties are resolved against the first entry of the child.
    int32_t Lo = 1, Hi = N - 1, Child = 0;
    while (Lo <= Hi) {
      int32_t Mid = (Lo + Hi) / 2;
      int C = LKeyRef->CompareShortKeys(Key, P->Key(Mid), nullptr, nullptr, SessionID, false);
      if (C == 0 && Tied) *Tied = true;
      bool Refine = C == 0 && (Mode == TLeafMode::Exact ||
                               (Mode == TLeafMode::UpperBound && LKeyRef->HasTruncatedParts()));
      if (Refine) {
        if (FirstEntryFrom(SessionID, P->ChildPageNo(Mid), FirstKey, FirstRef)) {
          C = LKeyRef->CompareShortKeys(Key, FirstKey.data(), FirstRef.data(), nullptr, SessionID,
                                        true);
          if (C == 0 && Mode == TLeafMode::Exact)
            C = LKeyRef->CompareReferences(Reference, FirstRef.data());
        } else {
          C = 1;  // nothing at or after this child: the key may go there
        }
      }
      bool GoRight = Mode == TLeafMode::LowerBound ? C > 0 : C >= 0;
      if (GoRight) {
        Child = Mid;
        Lo = Mid + 1;
      } else {
        Hi = Mid - 1;
      }
    }
    Path.Push(PageNo, Child, N);
    PageNo = P->ChildPageNo(Child);
  }
}

void TVLTBTree::DescendEdge(TVLTSessionID SessionID, TVLTKeyPath& Path, bool FirstEntries) {
  for (;;) {
    TVLTKeyPathItem& It = Path.Leaf();
    TVLTBTreePageGuard P(LPageManager, GetTreePage(SessionID, It.PageNo), LKeyRef);
    CheckNodeNotEmpty(*P);
    It.EntryCount = P->EntryCount();
    It.EntryNo = FirstEntries ? 0 : P->EntryCount() - 1;
    if (P->IsLeaf()) return;
    Path.Push(P->ChildPageNo(It.EntryNo), 0, 0);
  }
}

bool TVLTBTree::SiblingPath(TVLTSessionID SessionID, TVLTKeyPath& Path, int32_t Level, bool Right) {
  int32_t K = Level - 1;
  while (K >= 0) {
    const TVLTKeyPathItem& It = Path.Items[static_cast<size_t>(K)];
    if (Right ? It.EntryNo < It.EntryCount - 1 : It.EntryNo > 0) break;
    --K;
  }
  if (K < 0) return false;
  TVLTKeyPath NewPath = Path;
  NewPath.Items[static_cast<size_t>(K)].EntryNo += Right ? 1 : -1;
  NewPath.Count = K + 1;
  // Down to Level along the edge facing the old page.
  while (NewPath.Count <= Level) {
    TVLTKeyPathItem& Up = NewPath.Leaf();
    TVLTBTreePageGuard P(LPageManager, GetTreePage(SessionID, Up.PageNo), LKeyRef);
    CheckNodeNotEmpty(*P);
    if (P->IsLeaf()) throw EVLTException(20020, "Internal index error");
    if (Up.EntryNo < 0 || Up.EntryNo >= P->EntryCount())
      throw EVLTException(20302, "Index page is damaged. PageNo=%d", {int64_t{Up.PageNo}});
    TVLTPageNo ChildNo = P->ChildPageNo(Up.EntryNo);
    P.Release();
    TVLTBTreePageGuard C(LPageManager, GetTreePage(SessionID, ChildNo), LKeyRef);
    NewPath.Push(ChildNo, Right ? 0 : C->EntryCount() - 1, C->EntryCount());
  }
  Path = NewPath;
  return true;
}

bool TVLTBTree::NextLeaf(TVLTSessionID SessionID, TVLTKeyPath& Path) {
  TVLTKeyPath P = Path;
  do {
    if (!SiblingPath(SessionID, P, P.Count - 1, true)) return false;
  } while (P.Leaf().EntryCount == 0);
  Path = P;
  return true;
}

bool TVLTBTree::PriorLeaf(TVLTSessionID SessionID, TVLTKeyPath& Path) {
  TVLTKeyPath P = Path;
  do {
    if (!SiblingPath(SessionID, P, P.Count - 1, false)) return false;
  } while (P.Leaf().EntryCount == 0);
  Path = P;
  return true;
}

bool TVLTBTree::First(TVLTSessionID SessionID, TVLTKeyPath& Path) {
  Path.Clear();
  Path.Push(FRootPageNo, 0, 0);
  DescendEdge(SessionID, Path, true);
  if (Path.Leaf().EntryCount == 0 && !NextLeaf(SessionID, Path)) return false;
  Path.PositionType = kppOnKey;
  return true;
}

bool TVLTBTree::Last(TVLTSessionID SessionID, TVLTKeyPath& Path) {
  Path.Clear();
  Path.Push(FRootPageNo, 0, 0);
  DescendEdge(SessionID, Path, false);
  if (Path.Leaf().EntryCount == 0 && !PriorLeaf(SessionID, Path)) return false;
  Path.PositionType = kppOnKey;
  return true;
}

bool TVLTBTree::Next(TVLTSessionID SessionID, TVLTKeyPath& Path) {
  return Step(SessionID, Path, false, nullptr);
}

bool TVLTBTree::Prior(TVLTSessionID SessionID, TVLTKeyPath& Path) {
  return Step(SessionID, Path, true, nullptr);
}

bool TVLTBTree::Step(TVLTSessionID SessionID, TVLTKeyPath& Path, bool Backwards,
                     uint8_t* Reference) {
  if (Path.Count == 0) return false;
  TVLTKeyPathItem& It = Path.Leaf();
  {
    TVLTBTreePageGuard P(LPageManager, GetTreePage(SessionID, It.PageNo), LKeyRef);
    It.EntryCount = P->EntryCount();
    const bool OnLeaf = Backwards ? It.EntryNo > 0 && It.EntryNo - 1 < It.EntryCount
                                  : It.EntryNo + 1 < It.EntryCount;
    if (OnLeaf) {
      It.EntryNo += Backwards ? -1 : 1;
      // The entry reached is on the page at hand: no second read for its reference.
      if (Reference) CopyReference(*P, It.EntryNo, Reference);
      return true;
    }
  }
  if (!(Backwards ? PriorLeaf(SessionID, Path) : NextLeaf(SessionID, Path))) return false;
  if (Reference) ReadEntry(SessionID, Path, nullptr, Reference);
  return true;
}

void TVLTBTree::CopyReference(const TVLTBTreePage& Page, int32_t EntryNo, uint8_t* Reference) {
  if (!Page.IsLeaf() || EntryNo < 0 || EntryNo >= Page.EntryCount())
    throw EVLTException(20099, "Index error: invalid position");
  std::memcpy(Reference, Page.Reference(EntryNo), static_cast<size_t>(Page.ReferenceSize()));
}

void TVLTBTree::ReadEntry(TVLTSessionID SessionID, const TVLTKeyPath& Path, uint8_t* Key,
                          uint8_t* Reference) {
  const TVLTKeyPathItem& It = Path.Leaf();
  TVLTBTreePageGuard P(LPageManager, GetTreePage(SessionID, It.PageNo), LKeyRef);
  if (!P->IsLeaf() || It.EntryNo < 0 || It.EntryNo >= P->EntryCount())
    throw EVLTException(20099, "Index error: invalid position");
  if (Key) std::memcpy(Key, P->Key(It.EntryNo), P->KeyPrefixSize());
  if (Reference)
    std::memcpy(Reference, P->Reference(It.EntryNo), static_cast<size_t>(P->ReferenceSize()));
}

bool TVLTBTree::WalkEntries(
    TVLTSessionID SessionID, TVLTKeyPath& Path, bool Backwards, int32_t MaxEntries,
    const std::function<bool(const uint8_t* Key, const uint8_t* Reference)>& Visit) {
  if (Path.Count == 0 || MaxEntries <= 0) return false;
  int32_t Done = 0;
  for (;;) {
    bool LeafEnd = false;
    {
      TVLTKeyPathItem& It = Path.Leaf();
      TVLTBTreePageGuard P(LPageManager, GetTreePage(SessionID, It.PageNo), LKeyRef);
      const int32_t N = P->EntryCount();
      It.EntryCount = N;
      if (!P->IsLeaf() || It.EntryNo < 0 || It.EntryNo >= N)
        throw EVLTException(20099, "Index error: invalid position");
      for (;;) {
        if (Visit(P->Key(It.EntryNo), P->Reference(It.EntryNo))) return true;
        ++Done;
        LeafEnd = Backwards ? It.EntryNo == 0 : It.EntryNo + 1 >= N;
        if (LeafEnd) break;
        It.EntryNo += Backwards ? -1 : 1;
        if (Done >= MaxEntries) return false;
      }
    }
    // Leaving the leaf reads its neighbour, also after the last visit (as Prior / Next do).
    if (!(Backwards ? PriorLeaf(SessionID, Path) : NextLeaf(SessionID, Path))) return false;
    if (Done >= MaxEntries) return false;
  }
}

bool TVLTBTree::FindEntry(TVLTSessionID SessionID, const uint8_t* Key, const uint8_t* Reference,
                          TVLTKeyPath& Path) {
  Descend(SessionID, Key, Reference, TLeafMode::Exact, Path);
  if (Path.Leaf().EntryNo >= Path.Leaf().EntryCount && !NextLeaf(SessionID, Path)) return false;
  std::vector<uint8_t> EKey(LKeyRef->FShortKeySize), ERef(LKeyRef->FReferenceSize);
  ReadEntry(SessionID, Path, EKey.data(), ERef.data());
  if (LKeyRef->CompareReferences(Reference, ERef.data()) != 0) return false;
  if (LKeyRef->CompareShortKeys(Key, EKey.data(), ERef.data(), nullptr, SessionID, true) != 0)
    return false;
  Path.PositionType = kppOnKey;
  return true;
}

bool TVLTBTree::Seek(TVLTSessionID SessionID, const uint8_t* Key, const uint8_t* Reference,
                     TVLTKeyPath& Path) {
  Descend(SessionID, Key, Reference, TLeafMode::Exact, Path);
  if (Path.Leaf().EntryNo >= Path.Leaf().EntryCount && !NextLeaf(SessionID, Path)) return false;
  Path.PositionType = kppOnKey;
  return true;
}

bool TVLTBTree::FindByCondition(TVLTSessionID SessionID, bool First, TVLTSearchCondition Condition,
                                const uint8_t* Key, TVLTKeyPath& Path) {
  std::vector<uint8_t> EKey(LKeyRef->FShortKeySize), ERef(LKeyRef->FReferenceSize);
  // Key compared with the entry Path is on.
  auto CmpHere = [&]() {
    ReadEntry(SessionID, Path, EKey.data(), ERef.data());
    return LKeyRef->CompareShortKeys(Key, EKey.data(), ERef.data(), nullptr, SessionID, true);
  };
  // Positions on the first entry not lower (Upper false) / greater (Upper true) than Key.
  auto Bound = [&](bool Upper) {
    Descend(SessionID, Key, nullptr, Upper ? TLeafMode::UpperBound : TLeafMode::LowerBound, Path);
    if (Path.Leaf().EntryNo < Path.Leaf().EntryCount) return true;
    return NextLeaf(SessionID, Path);
  };
  // The entry before the bound, or the last entry when the bound lies past the end.
  auto BeforeBound = [&](bool Upper) {
    if (Bound(Upper)) return Prior(SessionID, Path);
    return Last(SessionID, Path);
  };
  bool Found = false;
  if (First) {
    switch (Condition) {
      case scEqual:
        Found = Bound(false) && CmpHere() == 0;
        break;
      case scGreater:
        Found = Bound(true);
        break;
      case scGreaterEqual:
        Found = Bound(false);
        break;
      case scLower:
        Found = this->First(SessionID, Path) && CmpHere() > 0;
        break;
      case scLowerEqual:
        Found = this->First(SessionID, Path) && CmpHere() >= 0;
        break;
      default:
        break;
    }
  } else {
    switch (Condition) {
      case scEqual:
        Found = BeforeBound(true) && CmpHere() == 0;
        break;
      case scLower:
        Found = BeforeBound(false) && CmpHere() > 0;
        break;
      case scLowerEqual:
        Found = BeforeBound(true) && CmpHere() >= 0;
        break;
      case scGreater:
        Found = Last(SessionID, Path) && CmpHere() < 0;
        break;
      case scGreaterEqual:
        Found = Last(SessionID, Path) && CmpHere() <= 0;
        break;
      default:
        break;
    }
  }
  Path.PositionType = Found ? kppOnKey : kppUnknown;
  return Found;
}

void TVLTBTree::ForEachEntry(
    TVLTSessionID SessionID,
    const std::function<bool(const uint8_t*, const uint8_t*, const TVLTKeyPath&)>& Visit) {
  TVLTKeyPath Path;
  if (!First(SessionID, Path)) return;
  std::vector<uint8_t> Key(LKeyRef->FShortKeySize), Ref(LKeyRef->FReferenceSize);
  do {
    ReadEntry(SessionID, Path, Key.data(), Ref.data());
    if (!Visit(Key.data(), Ref.data(), Path)) return;
  } while (Next(SessionID, Path));
}

int64_t TVLTBTree::EntryCount(TVLTSessionID SessionID) {
  TVLTKeyPath Path;
  Path.Push(FRootPageNo, 0, 0);
  DescendEdge(SessionID, Path, true);
  int64_t Total = 0;
  TVLTPageNo PageNo = Path.Leaf().PageNo;
  TChainWalk Chain;
  for (int64_t Steps = 0; PageNo != kNoPage; ++Steps) {
    if (Steps >= kMaxChainSteps || !Chain.Walk(PageNo))
      throw EVLTException(20302, "Index page is damaged. PageNo=%d", {int64_t{PageNo}});
    TVLTBTreePageGuard P(LPageManager, GetTreePage(SessionID, PageNo), LKeyRef);
    Total += P->EntryCount();
    PageNo = P->RightPageNo();
  }
  return Total;
}

int64_t TVLTBTree::GetRecNo(TVLTSessionID SessionID, const TVLTKeyPath& Path) {
  const TVLTKeyPathItem& It = Path.Leaf();
  int64_t RecNo = It.EntryNo + 1;
  TVLTPageNo PageNo;
  {
    TVLTBTreePageGuard P(LPageManager, GetTreePage(SessionID, It.PageNo), LKeyRef);
    PageNo = P->LeftPageNo();
  }
  TChainWalk Chain;
  for (int64_t Steps = 0; PageNo != kNoPage; ++Steps) {
    if (Steps >= kMaxChainSteps || !Chain.Walk(PageNo))
      throw EVLTException(20302, "Index page is damaged. PageNo=%d", {int64_t{PageNo}});
    TVLTBTreePageGuard P(LPageManager, GetTreePage(SessionID, PageNo), LKeyRef);
    RecNo += P->EntryCount();
    PageNo = P->LeftPageNo();
  }
  return RecNo;
}

void TVLTBTree::GetPathByRecNo(TVLTSessionID SessionID, int64_t RecNo, TVLTKeyPath& Path) {
  if (!First(SessionID, Path))
    throw EVLTException(20074, "Cannot retrieve record from empty index");
  if (RecNo < 1) RecNo = 1;
  int64_t Before = 0;
  for (;;) {
    TVLTKeyPathItem& It = Path.Leaf();
    if (RecNo <= Before + It.EntryCount) {
      It.EntryNo = static_cast<int32_t>(RecNo - Before - 1);
      Path.PositionType = kppOnKey;
      return;
    }
    Before += It.EntryCount;
    if (!NextLeaf(SessionID, Path))
      throw EVLTException(20075, "Cannot set RecNo greater than RecordCount");
  }
}

int32_t TVLTBTree::GetMaxEntriesPerPage() const {
  return LPageManager->PageDataSize() / (LKeyRef->FShortKeySize + kBTreeChildRefSize);
}

int64_t TVLTBTree::PathToBitNo(const TVLTKeyPath& Path) const {
  int64_t Base = GetMaxEntriesPerPage() + 1, BitNo = 0;
  for (int32_t L = 0; L < Path.Count; ++L)
    BitNo = BitNo * Base + Path.Items[static_cast<size_t>(L)].EntryNo + 1;
  return BitNo;
}

void TVLTBTree::BitNoToPath(int64_t BitNo, TVLTKeyPath& Path) const {
  int64_t Base = GetMaxEntriesPerPage() + 1;
  std::vector<int32_t> Digits;
  while (BitNo > 0) {
    Digits.push_back(static_cast<int32_t>(BitNo % Base));
    BitNo /= Base;
  }
  Path.Clear();
  for (auto It = Digits.rbegin(); It != Digits.rend(); ++It) Path.Push(kNoPage, *It - 1, 0);
}

bool TVLTBTree::GetReferenceByPosition(TVLTSessionID SessionID, const TVLTKeyPath& Position,
                                       uint8_t* Reference) {
  TVLTPageNo PageNo = FRootPageNo;
  for (int32_t L = 0; L < Position.Count; ++L) {
    int32_t E = Position.Items[static_cast<size_t>(L)].EntryNo;
    TVLTBTreePageGuard P(LPageManager, GetTreePage(SessionID, PageNo), LKeyRef);
    bool Last = L == Position.Count - 1;
    if (E < 0 || E >= P->EntryCount() || P->IsLeaf() != Last) return false;
    if (Last) {
      std::memcpy(Reference, P->Reference(E), static_cast<size_t>(P->ReferenceSize()));
      return true;
    }
    PageNo = P->ChildPageNo(E);
  }
  return false;
}

double TVLTBTree::ApproxPosition(const TVLTKeyPath& Path) {
  int64_t N = 0, D = 1;
  for (int32_t L = Path.Count - 1; L >= 0; --L) {
    const TVLTKeyPathItem& It = Path.Items[static_cast<size_t>(L)];
    N += It.EntryNo * D;
    D *= It.EntryCount > 0 ? It.EntryCount : 1;
  }
  return static_cast<double>(N) / static_cast<double>(D);
}

}  // namespace vlt
