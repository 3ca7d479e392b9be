#include "engine/core/VLTBTreeRecordIndex.h"

#include <cmath>
#include <cstring>
#include <vector>

#include "engine/base/VLTExcept.h"
#include "engine/core/VLTRecordBitmap.h"
#include "engine/core/VLTScanSearchCondition.h"
#include "engine/core/VLTTableCursor.h"
#include "engine/core/VLTTableData.h"

namespace vlt {

// Full values of tied keys come from the table's records.
class TVLTBTreeRecordIndex::TRecordReader : public TVLTKeyRecordReader {
 public:
  explicit TRecordReader(TVLTBTreeRecordIndex* Owner) : LOwner(Owner) {}
  bool ReadKeyRecord(TVLTSessionID SessionID, const TVLTPageItemID& RecordID,
                     uint8_t* Buffer) override {
    return LOwner->ReadRecord(SessionID, RecordID, Buffer);
  }

 private:
  TVLTBTreeRecordIndex* LOwner;
};

namespace {

// Restores the number of compared parts on every exit.
class TCompareCountGuard {
 public:
  TCompareCountGuard(TVLTBTreeKeyRef& Ref, int32_t Count)
      : FRef(Ref), FSaved(Ref.FCompareFieldCount) {
    Ref.FCompareFieldCount = Count <= 0 || Count > Ref.PartCount() ? Ref.PartCount() : Count;
  }
  ~TCompareCountGuard() { FRef.FCompareFieldCount = FSaved; }

 private:
  TVLTBTreeKeyRef& FRef;
  int32_t FSaved;
};

}  // namespace

TVLTBTreeRecordIndex::TVLTBTreeRecordIndex(const TVLTIndexSite& Site)
    : TVLTIndex(Site), FReader(std::make_unique<TRecordReader>(this)) {}

TVLTBTreeRecordIndex::~TVLTBTreeRecordIndex() = default;

std::unique_ptr<TVLTIndex> CreateBTreeRecordIndex(const TVLTIndexSite& Site) {
  return std::make_unique<TVLTBTreeRecordIndex>(Site);
}

void TVLTBTreeRecordIndex::Prepare() {
  if (!FIndexDef) VLTRaiseNilPointer(20044);
  TVLTTableData* TableData = FSite->TableData;
  if (!TableData || !TableData->FieldManager()) throw EVLTException(20044, "Pointer is nil");
  const TVLTFieldDefs& Fields = TableData->FieldManager()->FieldDefs();
  FKeyRef.Assign(*FIndexDef, &Fields);
  FKeyRef.SetRecordReader(FReader.get());
  FTree = std::make_unique<TVLTBTree>(FSite->PageManagerFor(FIndexDef.get()), &FKeyRef,
                                      FIndexDef->FRootPageNo);
  FKeyBuffer = TVLTBuffer(std::max<size_t>(FKeyRef.FShortKeySize, 1));
  FRecordBuffer = TVLTBuffer(static_cast<size_t>(std::max(Fields.GetMemoryRecordBufferSize(), 1)));
}

void TVLTBTreeRecordIndex::CheckRoot(int32_t Code) const {
  if (!FTree || FTree->RootPageNo() == kNoPage) throw EVLTException(Code, "Invalid page number");
}

bool TVLTBTreeRecordIndex::ReadRecord(TVLTSessionID SessionID, const TVLTPageItemID& RecordID,
                                      uint8_t* Buffer) {
  TVLTBaseRecordManager* RM = FSite->TableData->RecordManager();
  if (!RM) return false;
  TVLTNavigationInfo Nav;
  Nav.GetRecordMode = grmCurrent;
  Nav.RecordID = RecordID;
  Nav.RecordBuffer = Buffer;
  RM->GetRecordBuffer(SessionID, Nav);
  return Nav.GetRecordResult == grrOK;
}

// ---- life cycle ----

void TVLTBTreeRecordIndex::CreateIndex(TVLTTableCursor* Cursor, TVLTIndexDef& IndexDef) {
  TVLTIndex::CreateIndex(Cursor, IndexDef);
  Prepare();
  TVLTSessionID SessionID = Cursor ? Cursor->SessionID() : kSystemSessionID;
  TVLTPageNo Root = FTree->CreateRoot(SessionID);
  IndexDef.FRootPageNo = Root;
  FIndexDef->FRootPageNo = Root;
  if (!Cursor) return;
  TVLTBaseRecordManager* RM = FSite->TableData->RecordManager();
  if (!RM) return;
  // Every record in physical order, read into the index's own buffer.
  TVLTBuffer Record(FRecordBuffer.size());
  uint8_t Ref[TVLTPageItemID::kStoredSize];
  TVLTNavigationInfo Nav;
  Nav.GetRecordMode = grmNext;
  Nav.FirstPosition = true;
  Nav.RecordBuffer = Record.data();
  for (;;) {
    RM->GetRecordBuffer(SessionID, Nav);
    if (Nav.GetRecordResult != grrOK) break;
    FKeyRef.MakeShortKeyFromRecordBuffer(Record.data(), FKeyBuffer.data());
    Nav.RecordID.SaveTo(Ref);
    FTree->Insert(SessionID, FKeyBuffer.data(), Ref);
    Nav.GetRecordMode = grmNext;
    Nav.FirstPosition = Nav.LastPosition = false;
  }
}

void TVLTBTreeRecordIndex::OpenIndex(const TVLTIndexDef& IndexDef) {
  TVLTIndex::OpenIndex(IndexDef);
  if (FIndexDef->FRootPageNo == kNoPage) throw EVLTException(20119, "Invalid page number");
  Prepare();
}

void TVLTBTreeRecordIndex::DropIndex(TVLTSessionID SessionID) {
  CheckRoot(20120);
  FTree->Drop(SessionID);
  FIndexDef->FRootPageNo = kNoPage;
}

void TVLTBTreeRecordIndex::EmptyIndex(TVLTSessionID SessionID) {
  CheckRoot(20121);
  FTree->Empty(SessionID);
}

void TVLTBTreeRecordIndex::RebuildTemporaryIndex(TVLTTableCursor* Cursor) {
  TVLTSessionID SessionID = Cursor ? Cursor->SessionID() : kSystemSessionID;
  if (FTree && FTree->RootPageNo() != kNoPage) DropIndex(SessionID);
  CreateIndex(Cursor, *FIndexDef);
}

// ---- changes ----

void TVLTBTreeRecordIndex::InsertRecord(TVLTTableCursor& Cursor) {
  CheckRoot(20122);
  if (!Cursor.FCurrentRecordBuffer) VLTRaiseNilPointer(20308);
  uint8_t Ref[TVLTPageItemID::kStoredSize];
  Cursor.CurrentRecordID.SaveTo(Ref);
  FKeyRef.MakeShortKeyFromRecordBuffer(Cursor.FCurrentRecordBuffer, FKeyBuffer.data());
  // After CanInsertRecord the tree still knows where the key goes; a duplicate that another
  // session slipped in between the check and here is refused, not inserted.
  if (!FTree->InsertChecked(Cursor.SessionID(), FKeyBuffer.data(), Ref)) {
    if (FIndexDef->FPrimary)
      throw EVLTException(30319, "Primary Key constraint '%s' violated. Duplicate found.",
                          {FIndexDef->FName});
    throw EVLTException(30320, "Constraint unique '%s' violated. Duplicate found.",
                        {FIndexDef->FName});
  }
}

void TVLTBTreeRecordIndex::DeleteRecord(TVLTTableCursor& Cursor) {
  CheckRoot(20122);
  if (!Cursor.FCurrentRecordBuffer) VLTRaiseNilPointer(20308);
  uint8_t Ref[TVLTPageItemID::kStoredSize];
  Cursor.CurrentRecordID.SaveTo(Ref);
  FKeyRef.MakeShortKeyFromRecordBuffer(Cursor.FCurrentRecordBuffer, FKeyBuffer.data());
  if (!FTree->Delete(Cursor.SessionID(), FKeyBuffer.data(), Ref))
    throw EVLTException(20027, "Index error: cannot delete entry. Entry not found");
}

void TVLTBTreeRecordIndex::UpdateRecord(TVLTTableCursor& Cursor, bool BeforeNewRecordIsStored) {
  CheckRoot(20122);
  if (!Cursor.FCurrentRecordBuffer || !Cursor.FEditRecordBuffer) VLTRaiseNilPointer(20308);
  if (CompareRecordBuffersByIndex(Cursor.FEditRecordBuffer, Cursor.FCurrentRecordBuffer, 0) == 0)
    return;
  uint8_t Ref[TVLTPageItemID::kStoredSize];
  Cursor.CurrentRecordID.SaveTo(Ref);
  if (BeforeNewRecordIsStored) {
    FKeyRef.MakeShortKeyFromRecordBuffer(Cursor.FEditRecordBuffer, FKeyBuffer.data());
    if (!FTree->Delete(Cursor.SessionID(), FKeyBuffer.data(), Ref))
      throw EVLTException(20250, "Index error: cannot delete entry. Entry not found");
  } else {
    FKeyRef.MakeShortKeyFromRecordBuffer(Cursor.FCurrentRecordBuffer, FKeyBuffer.data());
    FTree->Insert(Cursor.SessionID(), FKeyBuffer.data(), Ref);
  }
}

int TVLTBTreeRecordIndex::CompareRecordBuffersByIndex(const uint8_t* Buffer1,
                                                      const uint8_t* Buffer2, int32_t FieldCount) {
  TVLTBuffer A(std::max<size_t>(FKeyRef.FFullKeySize, 1)), B(A.size());
  FKeyRef.MakeFullKeyFromRecordBuffer(Buffer1, A.data());
  FKeyRef.MakeFullKeyFromRecordBuffer(Buffer2, B.data());
  TCompareCountGuard G(FKeyRef, FieldCount);
  return FKeyRef.CompareFullKeys(A.data(), B.data());
}

bool TVLTBTreeRecordIndex::CanInsertRecord(TVLTSessionID SessionID, const uint8_t* RecordBuffer) {
  if (!FIndexDef->FUnique && !FIndexDef->FPrimary) return true;
  CheckRoot(20124);
  FKeyRef.MakeShortKeyFromRecordBuffer(RecordBuffer, FKeyBuffer.data());
  return !FTree->ContainsKey(SessionID, FKeyBuffer.data());
}

bool TVLTBTreeRecordIndex::CanUpdateRecord(TVLTSessionID SessionID, const uint8_t* OldRecordBuffer,
                                           const uint8_t* NewRecordBuffer) {
  if (CompareRecordBuffersByIndex(OldRecordBuffer, NewRecordBuffer, 0) == 0) return true;
  return CanInsertRecord(SessionID, NewRecordBuffer);
}

// ---- positions ----

std::unique_ptr<TVLTIndexPosition> TVLTBTreeRecordIndex::CreateIndexPosition() {
  return std::make_unique<TVLTBTreeIndexPosition>();
}

namespace {

TVLTKeyPath& PathOf(TVLTIndexPosition& P) {
  auto* B = dynamic_cast<TVLTBTreeIndexPosition*>(&P);
  if (!B) VLTRaiseNilPointer(20309);
  return B->Path;
}

const TVLTKeyPath& PathOf(const TVLTIndexPosition& P) {
  auto* B = dynamic_cast<const TVLTBTreeIndexPosition*>(&P);
  if (!B) VLTRaiseNilPointer(20309);
  return B->Path;
}

}  // namespace

bool TVLTBTreeRecordIndex::GetIndexPosition(TVLTSessionID SessionID, const TVLTPageItemID& RecordID,
                                            TVLTIndexPosition& Position,
                                            const uint8_t* RecordBuffer) {
  CheckRoot(20126);
  if (!RecordBuffer) {
    if (!ReadRecord(SessionID, RecordID, FRecordBuffer.data())) return false;
    RecordBuffer = FRecordBuffer.data();
  }
  uint8_t Ref[TVLTPageItemID::kStoredSize];
  RecordID.SaveTo(Ref);
  FKeyRef.MakeShortKeyFromRecordBuffer(RecordBuffer, FKeyBuffer.data());
  return FTree->FindEntry(SessionID, FKeyBuffer.data(), Ref, PathOf(Position));
}

TVLTPageItemID TVLTBTreeRecordIndex::GetRecordIDByIndexPosition(TVLTSessionID SessionID,
                                                                const TVLTIndexPosition& Position) {
  CheckRoot(20126);
  uint8_t Ref[TVLTPageItemID::kStoredSize];
  if (!FTree->GetReferenceByPosition(SessionID, PathOf(Position), Ref))
    throw EVLTException(20103, "Index error: invalid position");
  return TVLTPageItemID::LoadFrom(Ref);
}

int64_t TVLTBTreeRecordIndex::IndexPositionToBitNo(const TVLTIndexPosition& Position) {
  return FTree->PathToBitNo(PathOf(Position));
}

void TVLTBTreeRecordIndex::BitNoToIndexPosition(int64_t BitNo, TVLTIndexPosition& Position) {
  FTree->BitNoToPath(BitNo, PathOf(Position));
}

int32_t TVLTBTreeRecordIndex::GetMaxEntriesPerPage() {
  return FTree->GetMaxEntriesPerPage();
}

int64_t TVLTBTreeRecordIndex::GetRecNoByRecordID(TVLTSessionID SessionID,
                                                 const TVLTPageItemID& RecordID,
                                                 const uint8_t* RecordBuffer) {
  TVLTBTreeIndexPosition P;
  if (!GetIndexPosition(SessionID, RecordID, P, RecordBuffer)) return -1;
  return FTree->GetRecNo(SessionID, P.Path);
}

TVLTPageItemID TVLTBTreeRecordIndex::GetRecordIDByRecNo(TVLTSessionID SessionID, int64_t RecNo) {
  CheckRoot(20126);
  TVLTKeyPath Path;
  FTree->GetPathByRecNo(SessionID, RecNo, Path);
  uint8_t Ref[TVLTPageItemID::kStoredSize];
  FTree->ReadEntry(SessionID, Path, nullptr, Ref);
  return TVLTPageItemID::LoadFrom(Ref);
}

// ---- navigation ----

void TVLTBTreeRecordIndex::FinishNavigation(TVLTSessionID SessionID, TVLTNavigationInfo& Nav,
                                            TVLTKeyPath& Path, bool Found, int32_t TableState,
                                            TVLTIndexPositionCache* Cache,
                                            const uint8_t* Reference) {
  if (!Found) {
    if (Nav.GetRecordMode == grmNext) {
      Nav.GetRecordResult = grrEOF;
      Nav.LastPosition = true;
      Nav.FirstPosition = false;
    } else {
      Nav.GetRecordResult = grrBOF;
      Nav.FirstPosition = true;
      Nav.LastPosition = false;
    }
    return;
  }
  uint8_t Ref[TVLTPageItemID::kStoredSize];
  if (!Reference) {
    FTree->ReadEntry(SessionID, Path, nullptr, Ref);
    Reference = Ref;
  }
  TVLTPageItemID RecordID = TVLTPageItemID::LoadFrom(Reference);
  if (Nav.RecordBuffer && !ReadRecord(SessionID, RecordID, Nav.RecordBuffer)) {
    Nav.GetRecordResult = grrError;
    return;
  }
  Nav.RecordID = RecordID;
  Nav.FirstPosition = Nav.LastPosition = false;
  Nav.GetRecordResult = grrOK;
  if (Cache) {
    if (!dynamic_cast<TVLTBTreeIndexPosition*>(Cache->Position.get()))
      Cache->Position = std::make_unique<TVLTBTreeIndexPosition>();
    static_cast<TVLTBTreeIndexPosition*>(Cache->Position.get())->Path = Path;
    Cache->IndexID = FIndexDef->FObjectID;
    Cache->RecordID = RecordID;
    Cache->TableState = TableState;
  }
}

void TVLTBTreeRecordIndex::GetRecordBuffer(TVLTSessionID SessionID, TVLTNavigationInfo& Nav,
                                           int32_t TableState, TVLTIndexPositionCache* Cache) {
  if (Nav.GetRecordMode == grmCurrent)
    throw EVLTException(20053, "Invalid 'get record' mode for index: grmCurrent");
  CheckRoot(20123);
  bool Forward = Nav.GetRecordMode == grmNext;
  TVLTKeyPath Path;
  bool Found;
  if (Nav.FirstPosition || Nav.LastPosition) {
    if (Forward && Nav.FirstPosition)
      Found = FTree->First(SessionID, Path);
    else if (!Forward && Nav.LastPosition)
      Found = FTree->Last(SessionID, Path);
    else
      Found = false;  // next after the end, prior before the start
    FinishNavigation(SessionID, Nav, Path, Found, TableState, Cache);
    return;
  }
  auto* Cached = Cache ? dynamic_cast<TVLTBTreeIndexPosition*>(Cache->Position.get()) : nullptr;
  if (Cached && Cache->IndexID == FIndexDef->FObjectID && Cache->RecordID == Nav.RecordID &&
      Cache->TableState == TableState) {
    Path = Cached->Path;
  } else {
    TVLTBTreeIndexPosition P;
    if (!GetIndexPosition(SessionID, Nav.RecordID, P, nullptr)) {
      Nav.GetRecordResult = grrError;
      return;
    }
    Path = P.Path;
  }
  uint8_t Ref[TVLTPageItemID::kStoredSize];
  Found = FTree->Step(SessionID, Path, !Forward, Ref);
  FinishNavigation(SessionID, Nav, Path, Found, TableState, Cache, Ref);
}

void TVLTBTreeRecordIndex::GetClosestRecordBuffer(TVLTSessionID SessionID, TVLTNavigationInfo& Nav,
                                                  int32_t TableState,
                                                  TVLTIndexPositionCache* Cache) {
  if (Nav.GetRecordMode == grmCurrent)
    throw EVLTException(20053, "Invalid 'get record' mode for index: grmCurrent");
  CheckRoot(20123);
  if (!Nav.RecordBuffer) VLTRaiseNilPointer(20310);
  // The gone record's place: the first entry after its key and identifier.
  uint8_t Ref[TVLTPageItemID::kStoredSize];
  Nav.RecordID.SaveTo(Ref);
  FKeyRef.MakeShortKeyFromRecordBuffer(Nav.RecordBuffer, FKeyBuffer.data());
  TVLTKeyPath Path;
  bool Found = FTree->Seek(SessionID, FKeyBuffer.data(), Ref, Path);
  if (Found) {
    uint8_t Here[TVLTPageItemID::kStoredSize];
    FTree->ReadEntry(SessionID, Path, nullptr, Here);
    bool Same = std::memcmp(Here, Ref, sizeof Ref) == 0;
    if (Nav.GetRecordMode == grmNext) {
      if (Same) Found = FTree->Next(SessionID, Path);
    } else {
      Found = FTree->Prior(SessionID, Path);
    }
  } else if (Nav.GetRecordMode == grmPrior) {
    Found = FTree->Last(SessionID, Path);
  }
  FinishNavigation(SessionID, Nav, Path, Found, TableState, Cache);
}

// ---- distinct, searches, estimates ----

void TVLTBTreeRecordIndex::ApplyDistinctToRecordBitmap(TVLTSessionID SessionID,
                                                       TVLTRecordBitmap* Bitmap,
                                                       int32_t DistinctFieldCount) {
  if (!Bitmap) throw EVLTException(20076, "Pointer is nil");
  CheckRoot(20127);
  TCompareCountGuard G(FKeyRef, DistinctFieldCount);
  std::vector<uint8_t> GroupKey, GroupRef;
  FTree->ForEachEntry(
      SessionID, [&](const uint8_t* Key, const uint8_t* Ref, const TVLTKeyPath& Path) {
        int64_t BitNo = FTree->PathToBitNo(Path);
        if (!Bitmap->IsRecordVisible(BitNo)) return true;
        if (!GroupKey.empty() && FKeyRef.CompareShortKeys(Key, GroupKey.data(), GroupRef.data(),
                                                          Ref, SessionID, true) == 0) {
          Bitmap->SetBitValue(BitNo, false);  // hides the bit itself, not the whole bitmap
          return true;
        }
        GroupKey.assign(Key, Key + FKeyRef.FShortKeySize);
        GroupRef.assign(Ref, Ref + FKeyRef.FReferenceSize);
        return true;
      });
}

bool TVLTBTreeRecordIndex::FindByCondition(TVLTSessionID SessionID, bool First,
                                           TVLTSearchCondition Condition,
                                           const uint8_t* KeyRecordBuffer, int32_t KeyFieldCount,
                                           bool PartialCompare, TVLTBTreeIndexPosition& Position) {
  CheckRoot(20124);
  TCompareCountGuard G(FKeyRef, KeyFieldCount);
  FKeyRef.SetPartialCompare(KeyRecordBuffer, PartialCompare);
  struct TReset {
    TVLTRecordKeyRef& R;
    ~TReset() { R.SetPartialCompare(nullptr, false); }
  } Reset{FKeyRef};
  FKeyRef.MakeShortKeyFromRecordBuffer(KeyRecordBuffer, FKeyBuffer.data());
  return FTree->FindByCondition(SessionID, First, Condition, FKeyBuffer.data(), Position.Path);
}

int TVLTBTreeRecordIndex::CompareConditions(TVLTSearchCondition Condition1, TVLTSearchCondition) {
  if (Condition1 == scGreater || Condition1 == scGreaterEqual) return -1;
  if (Condition1 == scLower || Condition1 == scLowerEqual) return 1;
  return 0;
}

int64_t TVLTBTreeRecordIndex::GetApproxRangeRecordCount(TVLTSessionID SessionID,
                                                        const TRangeCondition& Condition1,
                                                        const TRangeCondition& Condition2,
                                                        int64_t TotalRecordCount) {
  CheckRoot(20125);
  bool FirstIsLower = CompareConditions(Condition1.Condition, Condition2.Condition) == -1;
  const TRangeCondition& Lower = FirstIsLower ? Condition1 : Condition2;
  const TRangeCondition& Upper = FirstIsLower ? Condition2 : Condition1;
  // The lower condition's column count serves both searches.
  TCompareCountGuard G(FKeyRef, Lower.KeyFieldCount);
  TVLTKeyPath Path;
  FKeyRef.MakeShortKeyFromRecordBuffer(Lower.KeyRecordBuffer, FKeyBuffer.data());
  if (!FTree->FindByCondition(SessionID, true, Lower.Condition, FKeyBuffer.data(), Path)) return 0;
  double P1 = TVLTBTree::ApproxPosition(Path);
  FKeyRef.MakeShortKeyFromRecordBuffer(Upper.KeyRecordBuffer, FKeyBuffer.data());
  if (!FTree->FindByCondition(SessionID, false, Upper.Condition, FKeyBuffer.data(), Path)) return 0;
  double P2 = TVLTBTree::ApproxPosition(Path);
  int64_t Count = std::llround((P2 - P1) * static_cast<double>(TotalRecordCount));
  return std::clamp<int64_t>(Count, 0, TotalRecordCount);
}

// ---- range walks ----

namespace {

class TVLTBTreeSearchInfo : public TVLTIndexSearchInfo {
 public:
  TVLTKeyPath Path;  // the last answer
  int64_t EndBitNo = 0;
  bool HasEnd = false;
  bool Exhausted = false;
};

TVLTBTreeSearchInfo& SearchInfoOf(TVLTIndexSearchInfo* Info) {
  auto* S = dynamic_cast<TVLTBTreeSearchInfo*>(Info);
  if (!S) throw EVLTException(20077, "Pointer is nil");
  return *S;
}

}  // namespace

std::unique_ptr<TVLTIndexSearchInfo> TVLTBTreeRecordIndex::CreateSearchInfo() {
  return std::make_unique<TVLTBTreeSearchInfo>();
}

bool TVLTBTreeRecordIndex::StepFromRecord(TVLTSessionID SessionID, bool Forward,
                                          const TVLTPageItemID& RecordID,
                                          const uint8_t* RecordBuffer, TVLTKeyPath& Path) {
  TVLTBTreeIndexPosition P;
  if (GetIndexPosition(SessionID, RecordID, P, nullptr)) {
    Path = P.Path;
    return Forward ? FTree->Next(SessionID, Path) : FTree->Prior(SessionID, Path);
  }
  if (!RecordBuffer) return false;
  // A record no longer in the index: its place is before the first entry above its key.
  uint8_t Ref[TVLTPageItemID::kStoredSize];
  RecordID.SaveTo(Ref);
  FKeyRef.MakeShortKeyFromRecordBuffer(RecordBuffer, FKeyBuffer.data());
  if (FTree->Seek(SessionID, FKeyBuffer.data(), Ref, Path)) {
    uint8_t Here[TVLTPageItemID::kStoredSize];
    FTree->ReadEntry(SessionID, Path, nullptr, Here);
    const bool Same = std::memcmp(Here, Ref, sizeof Ref) == 0;
    if (Forward) return !Same || FTree->Next(SessionID, Path);
    return FTree->Prior(SessionID, Path);
  }
  return !Forward && FTree->Last(SessionID, Path);
}

bool TVLTBTreeRecordIndex::FindRecord(TVLTSessionID SessionID, TVLTIndexSearchInfo* SearchInfo,
                                      bool Restart, bool Forward,
                                      const TVLTScanSearchCondition* StartCondition,
                                      const TVLTScanSearchCondition* EndCondition,
                                      const TVLTPageItemID& CurrentRecordID,
                                      const uint8_t* CurrentRecordBuffer,
                                      TVLTPageItemID& RecordID) {
  TVLTBTreeSearchInfo& S = SearchInfoOf(SearchInfo);
  CheckRoot(20123);
  if (S.InUse) {
    if (Restart) throw EVLTException(20078, "Index error: invalid params");
    if (S.Exhausted) return false;
    if (!(Forward ? FTree->Next(SessionID, S.Path) : FTree->Prior(SessionID, S.Path))) {
      S.Exhausted = true;
      return false;
    }
  } else {
    S.InUse = true;
    S.Exhausted = true;  // until an answer is found
    if (StartCondition) {
      // The range is where both conditions hold: from the later of their first entries to the
      // earlier of their last ones (an equality holds on a stretch, not up to an end).
      TVLTKeyPath Low, High;
      int64_t LowBitNo = 0, HighBitNo = 0;
      bool Any = false;
      for (const TVLTScanSearchCondition* C : {StartCondition, EndCondition}) {
        if (!C) continue;
        TVLTBTreeIndexPosition F, L;
        if (!FindByCondition(SessionID, true, C->Condition, C->KeyRecordBuffer, C->KeyFieldCount,
                             C->PartialCompare, F) ||
            !FindByCondition(SessionID, false, C->Condition, C->KeyRecordBuffer, C->KeyFieldCount,
                             C->PartialCompare, L))
          return false;
        const int64_t FBitNo = FTree->PathToBitNo(F.Path), LBitNo = FTree->PathToBitNo(L.Path);
        if (!Any || FBitNo > LowBitNo) {
          Low = F.Path;
          LowBitNo = FBitNo;
        }
        if (!Any || LBitNo < HighBitNo) {
          High = L.Path;
          HighBitNo = LBitNo;
        }
        Any = true;
      }
      if (LowBitNo > HighBitNo) return false;
      S.HasEnd = true;
      S.EndBitNo = Forward ? HighBitNo : LowBitNo;
      S.Path = Forward ? Low : High;
      TVLTBTreeIndexPosition First;
      First.Path = S.Path;
      if (!Restart) {
        // Continue after the current record when it lies at the range's first entry or beyond.
        TVLTKeyPath Next;
        if (!StepFromRecord(SessionID, Forward, CurrentRecordID, CurrentRecordBuffer, Next))
          return false;
        const int64_t NextBitNo = FTree->PathToBitNo(Next);
        const int64_t FirstBitNo = FTree->PathToBitNo(First.Path);
        if (Forward ? NextBitNo > FirstBitNo : NextBitNo < FirstBitNo) S.Path = Next;
      }
    } else if (Restart) {
      if (!(Forward ? FTree->First(SessionID, S.Path) : FTree->Last(SessionID, S.Path)))
        return false;
    } else if (!StepFromRecord(SessionID, Forward, CurrentRecordID, CurrentRecordBuffer, S.Path)) {
      return false;
    }
    S.Exhausted = false;
  }
  if (S.HasEnd) {
    const int64_t BitNo = FTree->PathToBitNo(S.Path);
    if (Forward ? BitNo > S.EndBitNo : BitNo < S.EndBitNo) {
      S.Exhausted = true;
      return false;
    }
  }
  uint8_t Ref[TVLTPageItemID::kStoredSize];
  FTree->ReadEntry(SessionID, S.Path, nullptr, Ref);
  RecordID = TVLTPageItemID::LoadFrom(Ref);
  ++S.EntriesVisited;
  return true;
}

int64_t TVLTBTreeRecordIndex::SearchInfoBitNo(const TVLTIndexSearchInfo& SearchInfo) {
  auto* S = dynamic_cast<const TVLTBTreeSearchInfo*>(&SearchInfo);
  if (!S) throw EVLTException(20077, "Pointer is nil");
  return FTree->PathToBitNo(S->Path);
}

int64_t TVLTBTreeRecordIndex::GetApproxRangeRecordCount(TVLTSessionID SessionID,
                                                        const TVLTScanSearchCondition& Condition1,
                                                        const TVLTScanSearchCondition& Condition2,
                                                        int64_t TotalRecordCount) {
  return GetApproxRangeRecordCount(
      SessionID, {Condition1.Condition, Condition1.KeyRecordBuffer, Condition1.KeyFieldCount},
      {Condition2.Condition, Condition2.KeyRecordBuffer, Condition2.KeyFieldCount},
      TotalRecordCount);
}

int32_t TVLTBTreeRecordIndex::GetEntrySize() {
  return FKeyRef.FShortKeySize + FKeyRef.FReferenceSize;
}

double TVLTBTreeRecordIndex::GetApproxRecordPosition(TVLTSessionID SessionID,
                                                     const TVLTPageItemID& RecordID) {
  TVLTBTreeIndexPosition P;
  if (!GetIndexPosition(SessionID, RecordID, P, nullptr)) return -1;
  return TVLTBTree::ApproxPosition(P.Path);
}

void TVLTBTreeRecordIndex::CheckIntegrity(TVLTSessionID SessionID) {
  CheckRoot(20126);
  FTree->CheckIntegrity(SessionID);
}

}  // namespace vlt
