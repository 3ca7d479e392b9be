#include "engine/components/VLTLocalCursor.h"

#include <cstring>
#include <mutex>

#include "engine/base/VLTExcept.h"
#include "engine/base/VLTFieldList.h"
#include "engine/base/VLTMemory.h"
#include "engine/base/VLTScopeGuard.h"
#include "engine/components/VLTDiskDatabaseEntry.h"
#include "engine/components/VLTLocalSession.h"
#include "engine/components/VLTTableLockAccess.h"
#include "engine/core/VLTDatabaseData.h"
#include "engine/disk/VLTDiskTableData.h"
#include "engine/protect/VLTMemoryStream.h"
#include "engine/protect/VLTTemporaryStream.h"

namespace vlt {

namespace {

// Holds the database data's latch for one operation.
class TDatabaseLatch {
 public:
  explicit TDatabaseLatch(TVLTDatabaseData& D) : FD(D) { FD.Lock(); }
  ~TDatabaseLatch() { FD.Unlock(); }
  TDatabaseLatch(const TDatabaseLatch&) = delete;
  TDatabaseLatch& operator=(const TDatabaseLatch&) = delete;

 private:
  TVLTDatabaseData& FD;
};

bool DatabaseTableExists(TVLTDatabaseData& D, const std::string& TableName) {
  if (auto* L = dynamic_cast<TVLTDiskDatabaseEntry*>(&D)) return L->FileTableExists(TableName);
  return D.TableExists(TableName);
}

}  // namespace

TVLTLocalCursor::TVLTLocalCursor() = default;

TVLTLocalCursor::~TVLTLocalCursor() {
  try {
    CloseTable();
  } catch (...) {
    // A destructor cannot raise; nothing is left to undo.
  }
}

TVLTBaseFieldManager* TVLTLocalCursor::FieldManager() const {
  return FTableData ? FTableData->FieldManager() : nullptr;
}

TVLTDatabaseData& TVLTLocalCursor::SessionDatabaseData() {
  auto* S = dynamic_cast<TVLTLocalSession*>(FBaseSession);
  if (!S || !S->DatabaseData() || !S->GetConnected())
    throw EVLTException(10613, "Session is not connected to a database, table name = %s",
                        {FTableName});
  FDatabaseData = S->DatabaseData();
  return *FDatabaseData;
}

TVLTTableData& TVLTLocalCursor::CheckedTableData(int32_t Code) const {
  if (!FTableData) VLTRaiseNilPointer(Code);
  return *FTableData;
}

TVLTTableLockAccess* TVLTLocalCursor::LockAccess() {
  if (!FTableData) return nullptr;
  if (auto* L = dynamic_cast<TVLTTableLockAccess*>(FTableData)) return L;
  if (FDiskLocksFor != FTableData) {
    FDiskLocks.reset();
    FDiskLocksFor = FTableData;
    if (auto* D = dynamic_cast<TVLTDiskTableData*>(FTableData))
      FDiskLocks = std::make_unique<TVLTDiskTableLocks>(D);
  }
  return FDiskLocks.get();
}

TVLTTableLockAccess* TVLTLocalCursor::MultiUserLocks() {
  if (!FTableData || !MultiUser()) return nullptr;
  return LockAccess();
}

// ---- open and close ----

void TVLTLocalCursor::OpenTableByFieldDefs(const TVLTFieldDefs*, const TVLTIndexDefs*,
                                           const TVLTConstraintDefs*) {
  if (FIsOpen) return;
  TVLTDatabaseData& D = SessionDatabaseData();
  TDatabaseLatch Latch(D);
  TVLTTableData* T = D.FindTableData(*this);
  if (!T) {
    if (!dynamic_cast<TVLTDiskDatabaseEntry*>(&D))
      throw EVLTException(10028, "Table not found, table name = %s", {FTableName});
    T = D.FindOrCreateTableData(*this);
  }
  FTableData = T;
  try {
    T->SetIsRepairing(FIsRepairing);
    T->OpenTable(*this);
    AfterOpen();
  } catch (...) {
    CloseTableNoLatch();
    throw;
  }
}

void TVLTLocalCursor::OpenTable(TVLTTableData* TableData) {
  if (FIsOpen) return;
  if (!TableData) VLTRaiseNilPointer(10614);
  FTableData = TableData;
  FDatabaseData = TableData->DatabaseData();
  TableData->SetIsRepairing(FIsRepairing);
  TableData->OpenTable(*this);
  AfterOpen();
  InternalInitFieldDefs();
}

void TVLTLocalCursor::AfterOpen() {
  FirstPosition = true;
  LastPosition = false;
  RefreshDefs();
  FBLOBStreams = std::make_unique<std::vector<std::unique_ptr<TVLTLocalBLOBStream>>>();
  if (!FRecordBitmap) FRecordBitmap = std::make_unique<TVLTRecordBitmap>(FTableData);
  FIsOpen = true;
}

void TVLTLocalCursor::RefreshDefs() {
  if (!FTableData) return;
  if (TVLTBaseIndexManager* IM = FTableData->IndexManager()) {
    auto Defs = std::make_unique<TVLTIndexDefs>();
    Defs->Assign(IM->IndexDefs());
    FIndexDefs = std::move(Defs);
  }
  if (TVLTBaseConstraintManager* CM = FTableData->ConstraintManager()) {
    auto Defs = std::make_unique<TVLTConstraintDefs>();
    Defs->Assign(CM->ConstraintDefs());
    FConstraintDefs = std::move(Defs);
  }
  // The active index keeps its name; a dropped one leaves physical order.
  const TVLTIndexDef* Def =
      (FIndexDefs && !FIndexName.empty()) ? FIndexDefs->GetIndexDefByName(FIndexName) : nullptr;
  FIndexID = Def ? Def->FObjectID : -1;
}

void TVLTLocalCursor::InternalInitFieldDefs() {
  TVLTTableData& T = CheckedTableData(10615);
  if (!T.FieldManager()) VLTRaiseNilPointer(10616);
  auto Defs = std::make_unique<TVLTFieldDefs>();
  Defs->Assign(T.FieldManager()->FieldDefs());
  Defs->RecalcFieldOffsets();
  FFieldDefs = std::move(Defs);
  if (!FSettingProjection) {
    auto Visible = std::make_unique<TVLTFieldDefs>();
    Visible->Assign(*FFieldDefs);
    for (int32_t I = 0; I < Visible->Count(); ++I) (*Visible)[I].FFieldNoReference = I;
    FVisibleFieldDefs = std::move(Visible);
  }
  CalcBufferGeometry();
  T.InitCursorRecordSizes(*this);
  if (TVLTBaseConstraintManager* CM = T.ConstraintManager()) {
    auto C = std::make_unique<TVLTConstraintDefs>();
    C->Assign(CM->ConstraintDefs());
    FConstraintDefs = std::move(C);
  }
}

void TVLTLocalCursor::CloseTableNoLatch() {
  if (FTableData) {
    TVLTTableData* T = FTableData;
    FTableData = nullptr;
    if (FBLOBStreams) {
      // Streams first: closing them may still need the table data.
      FTableData = T;
      try {
        ClearBLOBStreams(false);
      } catch (...) {
        // Closing goes on: the streams' data are dropped with the table anyway.
      }
      FTableData = nullptr;
    }
    T->CloseTable(*this);
    // A table data of a database file that no cursor uses any more is freed.
    if (T->CursorList().empty() && FDatabaseData &&
        dynamic_cast<TVLTDiskDatabaseEntry*>(FDatabaseData))
      FDatabaseData->RemoveTableData(T);
  }
  FDiskLocks.reset();
  FDiskLocksFor = nullptr;
  FRecordBitmap.reset();
  FFilterExpression.reset();
  FFieldDefs.reset();
  if (!FSettingProjection) FVisibleFieldDefs.reset();
  FIndexDefs.reset();
  FBLOBStreams.reset();
  FConstraintDefs.reset();
  FIsOpen = false;
}

void TVLTLocalCursor::CloseTable() {
  if (!FTableData && !FIsOpen) {
    CloseTableNoLatch();
    return;
  }
  TVLTDatabaseData* D = FDatabaseData ? FDatabaseData : (FTableData ? FTableData->DatabaseData() : nullptr);
  if (D) {
    TDatabaseLatch Latch(*D);
    CloseTableNoLatch();
  } else {
    CloseTableNoLatch();
  }
}

// ---- table level ----

void TVLTLocalCursor::CreateTable(const TVLTFieldDefs& FieldDefs, const TVLTIndexDefs& IndexDefs,
                                  const TVLTConstraintDefs& ConstraintDefs) {
  TVLTDatabaseData& D = SessionDatabaseData();
  TDatabaseLatch Latch(D);
  CloseTableNoLatch();
  try {
    // A table of that name is replaced.
    if (DatabaseTableExists(D, FTableName)) DeleteTable();
    FTableData = D.FindOrCreateTableData(*this);
    if (!FTableData) throw EVLTException(20151, "Pointer is nil");
    FTableData->CreateTable(*this, FieldDefs, ConstraintDefs, IndexDefs);
  } catch (...) {
    CloseTableNoLatch();
    throw;
  }
  CloseTableNoLatch();
}

void TVLTLocalCursor::DeleteTable() {
  TVLTDatabaseData& D = SessionDatabaseData();
  TDatabaseLatch Latch(D);
  CloseTableNoLatch();
  try {
    if (!DatabaseTableExists(D, FTableName))
      throw EVLTException(20132, "Table '%s' not found", {FTableName});
    FTableData = D.FindOrCreateTableData(*this);
    if (!FTableData) throw EVLTException(10027, "Table not found, table name = %s", {FTableName});
    // The session's last autoincrement values of the table's fields go with it.
    if (FBaseSession && FTableData->FieldManager()) {
      const TVLTFieldDefs& Fields = FTableData->FieldManager()->FieldDefs();
      for (int32_t I = 0; I < Fields.Count(); ++I) FBaseSession->DeleteObject(Fields[I].FObjectID);
    }
    TVLTTableData* T = FTableData;
    T->DeleteTable(*this, false);
    if (!dynamic_cast<TVLTDiskDatabaseEntry*>(&D)) {
      T->CloseTable(*this);
      FTableData = nullptr;
      D.RemoveTableData(T);
    }
  } catch (...) {
    CloseTableNoLatch();
    throw;
  }
  CloseTableNoLatch();
}

void TVLTLocalCursor::EmptyTable() {
  TVLTDatabaseData& D = SessionDatabaseData();
  TDatabaseLatch Latch(D);
  CloseTableNoLatch();
  try {
    if (!DatabaseTableExists(D, FTableName))
      throw EVLTException(20133, "Table '%s' not found", {FTableName});
    FTableData = D.FindOrCreateTableData(*this);
    if (!FTableData) throw EVLTException(10073, "Table not found, table name = %s", {FTableName});
    FTableData->EmptyTable(*this);
  } catch (...) {
    CloseTableNoLatch();
    throw;
  }
  CloseTableNoLatch();
}

void TVLTLocalCursor::RenameTable(const std::string& NewTableName) {
  TVLTDatabaseData& D = SessionDatabaseData();
  TDatabaseLatch Latch(D);
  CloseTableNoLatch();
  try {
    if (!DatabaseTableExists(D, FTableName))
      throw EVLTException(20134, "Table '%s' not found", {FTableName});
    FTableData = D.FindOrCreateTableData(*this);
    if (!FTableData) throw EVLTException(10151, "Table not found, table name = %s", {FTableName});
    if (!SameText(NewTableName, FTableName) && DatabaseTableExists(D, NewTableName))
      throw EVLTException(30451, "Table %s already exists", {NewTableName});
    if (NewTableName == FTableName)
      throw EVLTException(30452, "Cannot rename table '%s' into itself", {FTableName});
    FTableData->RenameTable(NewTableName, *this);
    FTableName = NewTableName;
  } catch (...) {
    CloseTableNoLatch();
    throw;
  }
  CloseTableNoLatch();
}

// ---- latches and table locks ----

void TVLTLocalCursor::LockTableData() {
  if (!FTableData) VLTRaiseNilPointer(10260);
  FTableData->Lock();
}

void TVLTLocalCursor::UnlockTableData() {
  if (!FTableData) VLTRaiseNilPointer(10261);
  FTableData->Unlock();
}

bool TVLTLocalCursor::LockTable(TVLTLockType LockType, int32_t TryCount, int32_t Delay,
                                bool AllowXIRWAfterSIRW) {
  if (!FTableData) throw EVLTException(20221, "Pointer is nil");
  TVLTTableLockAccess* L = LockAccess();
  if (!L) return true;
  return L->LockTable(SessionID(), LockType, TryCount, Delay, AllowXIRWAfterSIRW);
}

bool TVLTLocalCursor::UnlockTable(TVLTLockType LockType, bool IgnoreIfNoLock) {
  if (!FTableData) throw EVLTException(20222, "Pointer is nil");
  TVLTTableLockAccess* L = LockAccess();
  if (!L) return true;
  return L->UnlockTable(SessionID(), LockType, IgnoreIfNoLock);
}

// ---- fields and indexes ----

void TVLTLocalCursor::RenameField(const std::string& FieldName, const std::string& NewFieldName) {
  TVLTTableData& T = CheckedTableData(10617);
  T.RenameField(FieldName, NewFieldName);
  if (FFieldDefs) InternalInitFieldDefs();
  RefreshDefs();
}

TVLTIndexDefs& TVLTLocalCursor::GetIndexDefs() {
  RefreshDefs();
  return TVLTCursor::GetIndexDefs();
}

void TVLTLocalCursor::AddIndex(const TVLTIndexDef& IndexDef) {
  TVLTTableData& T = CheckedTableData(10618);
  if (FIndexDefs && FIndexDefs->GetIndexDefByName(IndexDef.FName))
    throw EVLTException(20022, "Cannot create index '%s'. Index already exists", {IndexDef.FName});
  T.AddIndex(IndexDef, this);
  RefreshDefs();
}

void TVLTLocalCursor::DeleteIndex(const std::string& Name) {
  TVLTTableData& T = CheckedTableData(10619);
  const TVLTIndexDef* Def = FIndexDefs ? FIndexDefs->GetIndexDefByName(Name) : nullptr;
  if (!Def) throw EVLTException(20021, "Cannot delete index '%s'. Index not found", {Name});
  const int32_t ID = Def->FObjectID;
  if (ID == FIndexID) {
    FIndexID = -1;
    DisableRecordBitmap();
  }
  T.DeleteIndex(ID, this);
  RefreshDefs();
}

void TVLTLocalCursor::DeleteAllIndexes() {
  TVLTTableData& T = CheckedTableData(10620);
  FIndexID = -1;
  DisableRecordBitmap();
  T.DeleteAllIndexes(this);
  RefreshDefs();
}

std::vector<std::string> TVLTLocalCursor::MapFieldNames(const std::vector<std::string>& Names) const {
  std::vector<std::string> Out;
  Out.reserve(Names.size());
  for (const std::string& N : Names) {
    const int32_t V = FVisibleFieldDefs ? FVisibleFieldDefs->GetDefNumberByName(N) : -1;
    if (V >= 0 && FFieldDefs)
      Out.push_back((*FFieldDefs)[(*FVisibleFieldDefs)[V].FFieldNoReference].FName);
    else
      Out.push_back(N);
  }
  return Out;
}

std::string TVLTLocalCursor::FindOrCreateIndex(const std::vector<std::string>& FieldNamesList,
                                               const std::vector<std::string>& AscDescList,
                                               const std::vector<std::string>& CaseSensitivityList,
                                               bool& IsCreated) {
  TVLTTableData& T = CheckedTableData(10621);
  std::string Name;
  T.FindOrCreateIndex(*this, MapFieldNames(FieldNamesList), Name, IsCreated, CaseSensitivityList,
                      AscDescList);
  RefreshDefs();
  return Name;
}

bool TVLTLocalCursor::IndexExists(const std::vector<std::string>& FieldNamesList,
                                  const std::vector<std::string>& AscDescList,
                                  const std::vector<std::string>& CaseSensitivityList) {
  TVLTTableData& T = CheckedTableData(10622);
  return T.IndexExists(*this, MapFieldNames(FieldNamesList), CaseSensitivityList, AscDescList);
}

void TVLTLocalCursor::CopyFieldValue(int32_t SrcFieldNo, bool DirectAccess, int32_t DestFieldNo,
                                     TVLTCursor& DestCursor) {
  const int32_t S = TableFieldNo(SrcFieldNo, DirectAccess, 10501);
  const int32_t D = DestCursor.VisibleFieldCount() > DestFieldNo && DestFieldNo >= 0
                        ? (*DestCursor.FVisibleFieldDefs)[DestFieldNo].FFieldNoReference
                        : -1;
  if (D < 0)
    throw EVLTException(10502, "Invalid field number - FieldNo = %d, FieldCount = %d",
                        {int64_t{DestFieldNo}, int64_t{DestCursor.VisibleFieldCount()}});
  if (!FCurrentRecordBuffer || !DestCursor.CurrentRecordBuffer()) VLTRaiseNilPointer(10503);
  const TVLTFieldDef& SF = (*FFieldDefs)[S];
  const TVLTFieldDef& DF = (*DestCursor.FFieldDefs)[D];
  if (VLTIsFieldNull(FCurrentRecordBuffer, S)) {
    VLTSetFieldNull(DestCursor.CurrentRecordBuffer(), D, true);
    return;
  }
  const bool Blob = SF.FBaseFieldType == bftBlob || SF.FBaseFieldType == bftClob ||
                    SF.FBaseFieldType == bftWideClob;
  if (SF.FBaseFieldType == DF.FBaseFieldType && SF.FMemoryDataSize == DF.FMemoryDataSize && !Blob) {
    VLTSetFieldNull(DestCursor.CurrentRecordBuffer(), D, false);
    std::memcpy(DestCursor.CurrentRecordBuffer() + DF.FMemoryOffset,
                FCurrentRecordBuffer + SF.FMemoryOffset, static_cast<size_t>(SF.FMemoryDataSize));
    return;
  }
  if (Blob) {
    // The BLOB's data travel through a stream of each table's BLOB storage.
    auto* Src = dynamic_cast<TVLTTableBLOBAccess*>(FTableData);
    auto* Dst = dynamic_cast<TVLTLocalCursor*>(&DestCursor);
    auto* DstAccess = Dst ? dynamic_cast<TVLTTableBLOBAccess*>(Dst->FTableData) : nullptr;
    if (!Src || !DstAccess)
      throw EVLTException(10504, "BLOB values cannot be copied without BLOB storage, field %s",
                          {SF.FName});
    TVLTMemoryStream Data;
    Src->ReadBLOBField(*this, S, Data);
    Data.Seek(0, soBeginning);
    DstAccess->WriteBLOBFieldToRecordBuffer(*Dst, D, Data);
    return;
  }
  TVLTVariant V;
  GetFieldValue(V, S, true);
  DestCursor.SetFieldValue(V, D, true);
}

void TVLTLocalCursor::InternalInitRecord(uint8_t* RecordBuffer, bool InsertMode) {
  if (!RecordBuffer) VLTRaiseNilPointer(10623);
  const int32_t N = FieldCount();
  const int32_t Bitmap = (N + 7) / 8;
  std::memset(RecordBuffer, 0xFF, static_cast<size_t>(Bitmap));
  if (FBookmarkOffset > Bitmap)
    std::memset(RecordBuffer + Bitmap, 0, static_cast<size_t>(FBookmarkOffset - Bitmap));
  if (InsertMode && !FTemporary && FTableData && FTableData->FieldManager())
    FTableData->FieldManager()->ApplyDefaultValuesToRecordBuffer(FSession, RecordBuffer);
}

void TVLTLocalCursor::FreeRecordBuffer(uint8_t*& Buffer) {
  if (Buffer && FTableData) FTableData->ClearBlobsCacheInRecordBuffer(Buffer);
  TVLTCursor::FreeRecordBuffer(Buffer);
}

void TVLTLocalCursor::RecycleRecordBuffer(uint8_t* Buffer) {
  if (Buffer && FTableData) FTableData->ClearBlobsCacheInRecordBuffer(Buffer);
  TVLTCursor::RecycleRecordBuffer(Buffer);
}

// ---- navigation ----

int64_t TVLTLocalCursor::GetRecordCount() {
  return CheckedTableData(10624).GetRecordCount(*this);
}

TVLTGetRecordResult TVLTLocalCursor::GetRecordBuffer(TVLTGetRecordMode GetRecordMode) {
  TVLTTableData& T = CheckedTableData(10625);
  TVLTTableDataLatch Latch(T);
  const TVLTGetRecordResult R = T.GetRecordBuffer(*this, GetRecordMode);
  if (R == grrOK && FCurrentRecordBuffer) {
    SetBufferRecordID(FCurrentRecordBuffer, CurrentRecordID);
    SetBookmarkFlag(FCurrentRecordBuffer, kBookmarkCurrent);
  }
  return R;
}

void TVLTLocalCursor::SetRecNo(int64_t Value) { CheckedTableData(10626).SetRecNo(*this, Value); }

int64_t TVLTLocalCursor::GetRecNo() { return CheckedTableData(10627).GetRecNo(*this); }

int TVLTLocalCursor::CompareRecordsOrder(const TVLTPageItemID& RecordID1,
                                         const TVLTPageItemID& RecordID2) {
  TVLTTableData& T = CheckedTableData(10628);
  if (FIndexID != -1 && T.IndexManager()) {
    TVLTTableDataLatch Latch(T);
    TVLTSavedPosition Pos(*this, TVLTSavedPosition::oeRestore);
    TVLTRecordBuffer B1(*this);
    TVLTRecordBuffer B2(*this);
    TVLTRestore<uint8_t*> KeepBuffer(FCurrentRecordBuffer);
    int Result = 0;
    bool Decided = false;
    auto Read = [&](const TVLTPageItemID& ID, uint8_t* B) {
      FCurrentRecordBuffer = B;
      PositionOnRecord(ID);
      return T.GetRecordBuffer(*this, grmCurrent) == grrOK;
    };
    if (!Read(RecordID1, B1.get())) {
      Result = -1;
      Decided = true;
    } else if (!Read(RecordID2, B2.get())) {
      Result = 1;
      Decided = true;
    } else {
      TVLTIndex& Index = T.IndexManager()->OpenIndex(FIndexID);
      const TVLTIndexDef* Def = FIndexDefs ? FIndexDefs->GetByObjectId(FIndexID) : nullptr;
      const int32_t Cols = Def ? Def->ColumnCount() : 0;
      const int C = Index.CompareRecordBuffersByIndex(B1.get(), B2.get(), Cols);
      if (C != 0) {
        Result = C < 0 ? -1 : 1;
        Decided = true;
      }
    }
    if (Decided) return Result;
  }
  if (RecordID1.PageNo != RecordID2.PageNo) return RecordID1.PageNo < RecordID2.PageNo ? -1 : 1;
  if (RecordID1.PageItemNo != RecordID2.PageItemNo)
    return RecordID1.PageItemNo < RecordID2.PageItemNo ? -1 : 1;
  return 0;
}

void TVLTLocalCursor::InternalFirst() {
  FirstPosition = true;
  LastPosition = false;
}

void TVLTLocalCursor::InternalLast() {
  FirstPosition = false;
  LastPosition = true;
}

bool TVLTLocalCursor::IsRecordLocked() {
  if (!FCurrentRecordBuffer || !FTableData) return false;
  CurrentRecordID = GetBufferRecordID(FCurrentRecordBuffer);
  TVLTTableLockAccess* L = LockAccess();
  return L ? L->IsRecordLocked(SessionID(), CurrentRecordID) : false;
}

// ---- filters, distinct, searches ----

void TVLTLocalCursor::ApplyDistinct(const std::vector<std::string>& FieldNamesList,
                                    const std::vector<std::string>& AscDescList,
                                    const std::vector<std::string>& CaseSensitivityList) {
  TVLTTableData& T = CheckedTableData(10629);
  TVLTTableDataLatch Latch(T);
  bool IsCreated = false;
  const std::string Name =
      FindOrCreateIndex(FieldNamesList, AscDescList, CaseSensitivityList, IsCreated);
  SetIndexName(Name);
  FDistinctFieldCount = static_cast<int32_t>(FieldNamesList.size());
  DisableRecordBitmap();
}

void TVLTLocalCursor::ActivateFilters(const std::string& FilterText, bool CaseInsensitive,
                                      bool PartialKey) {
  FFilterExpression.reset();
  DisableRecordBitmap();
  if (FilterText.find_first_not_of(" \t\r\n") == std::string::npos) return;
  auto E = std::make_unique<TVLTExpression>();
  // Functions that open a table of their own (LASTAUTOINC) do so through this cursor's
  // database and session.
  if (auto* S = dynamic_cast<TVLTBaseSession*>(FSession)) {
    E->FDatabaseName = S->FDatabaseName;
    E->FSessionName = S->FSessionName;
  }
  // A text that does not parse leaves no filter behind: the error is the caller's answer.
  E->ParseForFilter(this, FilterText, CaseInsensitive, PartialKey);
  FFilterExpression = std::move(E);
}

void TVLTLocalCursor::DeactivateFilters() {
  FFilterExpression.reset();
  DisableRecordBitmap();
}

namespace {

TVLTDataOperator ToDataOperator(TVLTMatchOperator Operator) {
  switch (Operator) {
    case moEqual: return doEQ;
    case moNotEqual: return doNE;
    case moLess: return doLT;
    case moLessEqual: return doLE;
    case moGreater: return doGT;
    case moGreaterEqual: return doGE;
  }
  return doEQ;
}

}  // namespace

void TVLTLocalCursor::CheckVisibleField(const std::string& Name) const {
  const int32_t V = FVisibleFieldDefs ? FVisibleFieldDefs->GetDefNumberByName(Name) : -1;
  if (V < 0) throw EVLTException(30345, "Field '%s' not found", {Name});
}

bool TVLTLocalCursor::Locate(const std::string& KeyFields, const std::vector<TVLTVariant>& KeyValues,
                             bool CaseInsensitive, bool PartialKey) {
  TVLTTableData& T = CheckedTableData(10630);
  // Only visible fields can be searched.
  for (const std::string& Name : VLTSplitList(KeyFields, ";", true)) CheckVisibleField(Name);
  TVLTExpression Condition;
  Condition.ParseForLocate(this, KeyFields, KeyValues, CaseInsensitive, PartialKey);
  const bool Found = T.Locate(*this, &Condition);
  if (Found && FCurrentRecordBuffer) {
    SetBufferRecordID(FCurrentRecordBuffer, CurrentRecordID);
    SetBookmarkFlag(FCurrentRecordBuffer, kBookmarkCurrent);
  }
  return Found;
}

bool TVLTLocalCursor::FindKey(TVLTSearchCondition SearchCondition) {
  TVLTTableData& T = CheckedTableData(10631);
  const bool Found = T.FindKey(*this, SearchCondition);
  if (Found && FCurrentRecordBuffer) {
    SetBufferRecordID(FCurrentRecordBuffer, CurrentRecordID);
    SetBookmarkFlag(FCurrentRecordBuffer, kBookmarkCurrent);
  }
  return Found;
}

bool TVLTLocalCursor::IsAnyRecordMatchCondition(const std::string& FieldName,
                                                TVLTMatchOperator Operator,
                                                const TVLTVariant& Value) {
  TVLTTableData& T = CheckedTableData(10632);
  CheckVisibleField(FieldName);
  TVLTExpression Condition;
  Condition.ParseForIsAnyRecordMatchCondition(this, FieldName, ToDataOperator(Operator), Value);
  // The search must not move this cursor: it runs on a buffer and position of its own.
  TVLTTableDataLatch Latch(T);
  TVLTSavedPosition Pos(*this, TVLTSavedPosition::oeRestore);
  TVLTRecordBuffer B(*this);
  TVLTRestore<uint8_t*> KeepBuffer(FCurrentRecordBuffer);
  FCurrentRecordBuffer = B.get();
  return T.Locate(*this, &Condition);
}

void TVLTLocalCursor::ReadExprBlobText(int32_t FieldNo, const uint8_t* RecordBuffer,
                                       TVLTVariant& Value) {
  const bool Wide = FieldNo >= 0 && FieldNo < FieldCount() &&
                    (*FFieldDefs)[FieldNo].FBaseFieldType == bftWideClob;
  Value.Clear(Wide ? bftWideVarchar : bftVarchar);
  auto* B = dynamic_cast<TVLTTableBLOBAccess*>(FTableData);
  if (!B || !RecordBuffer || FieldNo < 0 || FieldNo >= FieldCount()) return;
  TVLTTemporaryStream Data(FDisableTempFiles);
  // The table data reads the BLOB of the current record buffer.
  uint8_t* Saved = FCurrentRecordBuffer;
  FCurrentRecordBuffer = const_cast<uint8_t*>(RecordBuffer);
  try {
    B->ReadBLOBField(*this, FieldNo, Data);
  } catch (...) {
    FCurrentRecordBuffer = Saved;
    throw;
  }
  FCurrentRecordBuffer = Saved;
  const int64_t Size = Data.GetSize();
  if (Size <= 0) return;
  std::string Bytes(static_cast<size_t>(Size), '\0');
  Data.Seek(0, soBeginning);
  const int64_t Got = Data.Read(Bytes.data(), Size);
  Bytes.resize(static_cast<size_t>(Got > 0 ? Got : 0));
  if (Wide) {
    std::u16string W(Bytes.size() / 2, u'\0');
    if (!W.empty()) std::memcpy(W.data(), Bytes.data(), W.size() * 2);
    Value.SetAsWideString(W);
  } else {
    Value.SetAsAnsiString(Bytes);
  }
}

// ---- autoincrements, batches, constraints ----

int64_t TVLTLocalCursor::LastAutoincValue(int32_t FieldNo) {
  return CheckedTableData(10633).LastAutoincValue(FieldNo, FSession);
}

void TVLTLocalCursor::BeginBatchUpdate() {
  if (!InTransaction()) FBatchUpdate = true;
}

void TVLTLocalCursor::EndBatchUpdate() {
  if (InTransaction() || !FBatchUpdate) return;
  FBatchUpdate = false;
  if (FTableData && FTableData->PageManager()) FTableData->ApplyChanges(SessionID(), false);
}

void TVLTLocalCursor::CancelBatchUpdate() {
  if (InTransaction() || !FBatchUpdate) return;
  FBatchUpdate = false;
  if (FTableData && FTableData->PageManager()) FTableData->CancelChanges(SessionID(), false);
}

bool TVLTLocalCursor::CheckConstraints(bool ToInsert) {
  TVLTTableData& T = CheckedTableData(10634);
  if (!T.ConstraintManager()) return true;
  return T.ConstraintManager()->CheckConstraints(SessionID(), FCurrentRecordBuffer, true, false,
                                                 CurrentRecordID, ToInsert, FEditRecordBuffer);
}

}  // namespace vlt
