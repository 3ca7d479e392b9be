// The table component as a dataset: table name and index selection (by name or by field
// list), the table-level operations (create, delete, empty, rename, indexes, field renaming,
// distinct views), keys and ranges on the active index, and the master-detail link. Engine
// definitions are built in VLTTableEngineDefs.cpp, copying is VLTTableCopy.cpp, transfers
// VLTTableTransfer.cpp, the SQL text VLTTableSqlExport.cpp.
#include "engine/components/VLTTable.h"

#include <cstring>

#include "engine/base/VLTExcept.h"
#include "engine/base/VLTScopeGuard.h"
#include "engine/components/VLTDatabaseError.h"
#include "engine/components/VLTLocalCursor.h"
#include "engine/components/VLTLocalSession.h"
#include "engine/components/VLTTableEngineDefs.h"

namespace vlt {

namespace {

// The shared table lock under which a search re-reads its result or a range goes to its first
// record, so that no other connection changes the table in between. Taken when it can be
// taken: a connection holding a conflicting lock delays the read but does not fail it.
class TSharedReadLock {
 public:
  static constexpr int32_t kTries = 900, kDelay = 100;
  explicit TSharedReadLock(TVLTCursor& Cursor) : FCursor(Cursor) {
    try {
      FHeld = FCursor.LockTable(ltS, kTries, kDelay, false);
    } catch (const EVLTException&) {
      FHeld = false;
    }
  }
  ~TSharedReadLock() {
    if (!FHeld) return;
    try {
      FCursor.UnlockTable(ltS, true);
    } catch (...) {
      // A lock that cannot be given back goes with the connection; a destructor cannot raise.
    }
  }
  TSharedReadLock(const TSharedReadLock&) = delete;
  TSharedReadLock& operator=(const TSharedReadLock&) = delete;

 private:
  TVLTCursor& FCursor;
  bool FHeld = false;
};

}  // namespace

TVLTTable::TVLTTable() = default;

TVLTTable::~TVLTTable() {
  try {
    Close();
  } catch (...) {
    // A destructor cannot raise; nothing is left to undo.
  }
}

void TVLTTable::SetTableName(const std::string& Value) {
  CheckInactive();
  FTableName = Value;
}

void TVLTTable::SetExclusive(bool Value) {
  CheckInactive();
  FExclusive = Value;
}

const std::string& TVLTTable::IndexName() const {
  static const std::string Empty;
  return FFieldsIndex ? Empty : FIndexName;
}

const std::string& TVLTTable::IndexFieldNames() const {
  static const std::string Empty;
  return FFieldsIndex ? FIndexName : Empty;
}

void TVLTTable::SetIndexName(const std::string& Value) {
  if (Active()) CheckBrowseMode();
  const std::string OldName = FIndexName;
  const bool OldFieldsIndex = FFieldsIndex;
  FIndexName = Value;
  FFieldsIndex = false;
  if (Active()) ChangeIndex(OldName, OldFieldsIndex);
}

void TVLTTable::SetIndexFieldNames(const std::string& Value) {
  if (Active()) CheckBrowseMode();
  const std::string OldName = FIndexName;
  const bool OldFieldsIndex = FFieldsIndex;
  FIndexName = Value;
  FFieldsIndex = !Value.empty();
  if (Active()) ChangeIndex(OldName, OldFieldsIndex);
}

void TVLTTable::ChangeIndex(const std::string& OldName, bool OldFieldsIndex) {
  if (!MasterLinked()) {
    ApplyIndex();
    return;
  }
  // A linked table must not be left on an index the link cannot use: that view would show
  // every master's records. Back to the index it had, then the error.
  try {
    ApplyIndex();
  } catch (...) {
    FIndexName = OldName;
    FFieldsIndex = OldFieldsIndex;
    try {
      ApplyIndex();
    } catch (...) {
      // The new index's error is raised below.
    }
    throw;
  }
}

void TVLTTable::CheckTableName() const {
  const size_t B = FTableName.find_first_not_of(' ');
  if (B == std::string::npos) DatabaseError("Missing TableName property");
}

std::string TVLTTable::ResolveIndexName(TVLTCursor& Cursor) const {
  if (!FFieldsIndex) return FIndexName;
  const std::vector<std::string> Wanted = VLTSplitFieldList(FIndexName);
  const TVLTIndexDefs& Defs = Cursor.GetIndexDefs();
  auto ColumnsOf = [](const TVLTIndexDef& D) {
    std::vector<std::string> Names;
    for (const auto& C : D.FIndexColumns) Names.push_back(C.FFieldName);
    return Names;
  };
  auto Descending = [](const TVLTIndexDef& D) {
    for (const auto& C : D.FIndexColumns)
      if (C.FDescending) return true;
    return false;
  };
  for (int32_t I = 0; I < Defs.Count(); ++I) {
    const auto Cols = ColumnsOf(Defs[I]);
    if (Descending(Defs[I]) || Cols.size() != Wanted.size()) continue;
    bool Same = true;
    for (size_t K = 0; K < Cols.size() && Same; ++K) Same = SameText(Cols[K], Wanted[K]);
    if (Same) return Defs[I].FName;
  }
  for (int32_t I = 0; I < Defs.Count(); ++I) {
    const auto Cols = ColumnsOf(Defs[I]);
    if (Descending(Defs[I]) || Cols.size() < Wanted.size()) continue;
    bool Same = true;
    for (size_t K = 0; K < Wanted.size() && Same; ++K) Same = SameText(Cols[K], Wanted[K]);
    if (Same) return Defs[I].FName;
  }
  DatabaseError("No index for fields '" + FIndexName + "'");
}

void TVLTTable::RecomputeIndexGeometry() {
  TVLTCursor& C = *FHandle;
  FIndexFieldMap.clear();
  if (C.FIndexID == -1) return;
  const TVLTIndexDef* Def = C.GetIndexDefs().GetByObjectId(C.FIndexID);
  if (!Def) return;
  for (const auto& Col : Def->FIndexColumns) {
    const int32_t N = C.FVisibleFieldDefs->GetDefNumberByName(Col.FFieldName);
    if (N < 0) {
      FIndexFieldMap.clear();
      throw EVLTException(10325, "Cannot find index %s", {Def->FName});
    }
    FIndexFieldMap.push_back(N + 1);
  }
}

void TVLTTable::ApplyIndex() {
  TVLTCursor& C = *FHandle;
  C.SetIndexName(ResolveIndexName(C));
  RecomputeIndexGeometry();
  if (FRangeApplied) {
    C.ResetRange();
    FRangeApplied = false;
  }
  ResetKeyBuffers();
  C.DisableRecordBitmap();
  if (MasterLinked()) {
    SetLinkRanges();
    InstallRange();
  }
  if (FState == dsBrowse) First();
}

std::unique_ptr<TVLTCursor> TVLTTable::CreateHandle() {
  CheckTableName();
  auto C = std::make_unique<TVLTLocalCursor>();
  C->FTableName = FTableName;
  C->SetSession(FDatabase->Handle());
  C->FReadOnly = FReadOnly;
  C->FExclusive = FExclusive;
  C->FDisableTempFiles = FDisableTempFiles || FDatabase->FDisableTempFiles;
  C->FIsRepairing = FIsRepairing;
  C->OpenTableByFieldDefs(nullptr, nullptr, nullptr);
  if (FDatabase->FReadOnly) FReadOnly = true;
  return C;
}

void TVLTTable::AfterHandleOpened() {
  for (auto& B : FKeyBuffers) B = FHandle->AllocateKeyRecordBuffer();
  ResetKeyBuffers();
  ReadDefinitionsBack();
  TVLTCursor& C = *FHandle;
  C.SetIndexName(ResolveIndexName(C));
  RecomputeIndexGeometry();
  // The dataset goes to the first record afterwards, inside the range.
  if (MasterLinked()) {
    SetLinkRanges();
    InstallRange();
  }
}

void TVLTTable::BeforeHandleClosed() {
  if (FHandle) {
    if (FRangeApplied) FHandle->ResetRange();
    FHandle->SetKeyBuffer(nullptr);
    for (auto& B : FKeyBuffers)
      if (B) FHandle->FreeRecordBuffer(B);
  }
  FKeyBuffers.fill(nullptr);
  FRangeApplied = false;
  FKeyBuffer = nullptr;
  FIndexFieldMap.clear();
}

void TVLTTable::ResetKeyBuffers() {
  for (auto* B : FKeyBuffers)
    if (B) FHandle->InternalInitKeyBuffer(B);
}

void TVLTTable::WithTableCursor(const std::function<void(TVLTCursor&)>& Operation) {
  if (FDatabaseName.empty()) DatabaseError("DatabaseName property is blank");
  OpenDatabase();
  try {
    TVLTLocalCursor C;
    C.FTableName = FTableName;
    C.SetSession(FDatabase->Handle());
    C.FReadOnly = false;
    C.FExclusive = true;
    C.FDisableTempFiles = FDisableTempFiles || FDatabase->FDisableTempFiles;
    Operation(C);
  } catch (...) {
    CloseDatabase();
    throw;
  }
  CloseDatabase();
}

void TVLTTable::CheckNoTransaction(int32_t Code, const char* Operation) {
  if (FDatabase && FDatabase->InTransaction())
    throw EVLTException(Code, "Cannot perform '%s' operation on a database in a transaction",
                        {std::string(Operation)});
}

void TVLTTable::CreateTable() {
  CheckInactive();
  CheckTableName();
  TVLTFieldDefs Fields;
  TVLTIndexDefs Indexes;
  TVLTConstraintDefs Constraints;
  WithTableCursor([&](TVLTCursor& C) {
    BuildEngineDefinitions(Fields, Indexes, Constraints);
    CheckNoTransaction(20182, "CreateTable");
    C.CreateTable(Fields, Indexes, Constraints);
  });
}

void TVLTTable::DeleteTable() {
  Close();
  CheckTableName();
  WithTableCursor([&](TVLTCursor& C) {
    CheckNoTransaction(20183, "DeleteTable");
    C.DeleteTable();
  });
}

void TVLTTable::EmptyTable() {
  CheckInactive();
  CheckTableName();
  WithTableCursor([&](TVLTCursor& C) {
    C.EmptyTable();
  });
}

void TVLTTable::RenameTable(const std::string& NewTableName) {
  CheckInactive();
  CheckTableName();
  WithTableCursor([&](TVLTCursor& C) {
    CheckNoTransaction(20181, "RenameTable");
    C.RenameTable(NewTableName);
  });
  FTableName = NewTableName;
}

bool TVLTTable::Exists() {
  if (FDatabaseName.empty()) return false;
  try {
    // Through the session, so that a file name or a reserved database name works as well as a
    // database component's name.
    // A database opened here is closed again (a temporary one kept by the session too).
    TVLTSession* S = VLTSessions().GetSession(FSessionName);
    auto* Found = dynamic_cast<TVLTDatabase*>(S->FindDatabase(FDatabaseName));
    const bool WasOpen = Found && Found->Connected();
    TVLTDatabase* Db = S->OpenDatabase(FDatabaseName);
    bool Result = false;
    try {
      Result = Db->Handle()->TableExists(FTableName);
    } catch (...) {
      S->CloseDatabase(Db);
      throw;
    }
    S->CloseDatabase(Db);
    if (!WasOpen && S->FindDatabase(FDatabaseName) == Db && Db->Connected()) Db->Close();
    return Result;
  } catch (...) {
    return false;
  }
}

void TVLTTable::AddIndex(const std::string& Name, const std::string& Fields, uint8_t Options,
                         const std::string& DescFields, const std::string& CaseInsFields) {
  if (Name.empty()) throw EVLTException(20046, "Invalid index name '%s'", {Name});
  if (VLTSplitFieldList(Fields).empty())
    throw EVLTException(20047, "Cannot find index field '%s'", {Fields});
  TVLTAdvIndexDefs One;
  One.Add(Name, Fields, Options, false, DescFields, CaseInsFields);
  auto Build = [&](TVLTCursor& C) {
    TVLTIndexDef D;
    D.SetName(Name);
    D.FUnique = (Options & ixUnique) != 0;
    D.FPrimary = (Options & ixPrimary) != 0;
    const TVLTIndexColumnRules Rules(Fields, DescFields, CaseInsFields, Options);
    for (size_t K = 0; K < Rules.Names().size(); ++K) {
      const std::string& N = Rules.Names()[K];
      if (!C.FFieldDefs || !C.FFieldDefs->GetDefByName(N))
        throw EVLTException(20050, "Cannot find index field '%s'", {N});
      D.FIndexColumns.push_back(Rules.Column(K));
    }
    if (!C.LockTable(ltX, 50, 100, false))
      throw EVLTException(20228,
                          "Cannot access table '%s' in exclusive mode. Table is open by another user",
                          {FTableName});
    try {
      C.AddIndex(D);
    } catch (...) {
      C.UnlockTable(ltX, true);
      throw;
    }
    C.UnlockTable(ltX, true);
  };
  if (Active()) {
    CheckBrowseMode();
    CheckNoTransaction(20175, "AddIndex");
    Build(*FHandle);
    ReadDefinitionsBack();
    return;
  }
  WithTableCursor([&](TVLTCursor& C) {
    CheckNoTransaction(20175, "AddIndex");
    C.OpenTableByFieldDefs(nullptr, nullptr, nullptr);
    C.InternalInitFieldDefs();
    Build(C);
    C.CloseTable();
  });
}

void TVLTTable::DeleteIndex(const std::string& Name) {
  if (Active()) {
    CheckBrowseMode();
    CheckNoTransaction(20177, "DeleteIndex");
    FHandle->DeleteIndex(Name);
    ReadDefinitionsBack();
    AfterIndexesDeleted();
    return;
  }
  WithTableCursor([&](TVLTCursor& C) {
    CheckNoTransaction(20177, "DeleteIndex");
    C.OpenTableByFieldDefs(nullptr, nullptr, nullptr);
    C.InternalInitFieldDefs();
    C.DeleteIndex(Name);
    C.CloseTable();
  });
}

void TVLTTable::AfterIndexesDeleted() {
  // The active index may be gone: the key geometry, the keys and any range on it go too.
  const bool Lost = FHandle->FIndexID == -1 && !FIndexFieldMap.empty();
  RecomputeIndexGeometry();
  if (!Lost) return;
  if (FRangeApplied) {
    FHandle->ResetRange();
    FRangeApplied = false;
  }
  ResetKeyBuffers();
  FHandle->DisableRecordBitmap();
  // A link that cannot use what is left raises rather than show every master's records.
  if (MasterLinked()) {
    SetLinkRanges();
    InstallRange();
  }
  First();
}

void TVLTTable::DeleteAllIndexes() {
  if (Active()) {
    CheckBrowseMode();
    CheckNoTransaction(20178, "DeleteAllIndexes");
    FHandle->DeleteAllIndexes();
    ReadDefinitionsBack();
    AfterIndexesDeleted();
    return;
  }
  CheckTableName();
  WithTableCursor([&](TVLTCursor& C) {
    CheckNoTransaction(20178, "DeleteAllIndexes");
    C.OpenTableByFieldDefs(nullptr, nullptr, nullptr);
    C.InternalInitFieldDefs();
    C.DeleteAllIndexes();
    C.CloseTable();
  });
}

void TVLTTable::RenameField(const std::string& FieldName, const std::string& NewFieldName) {
  CheckInactive();
  CheckTableName();
  const bool WasExclusive = FExclusive;
  FExclusive = true;
  try {
    Open();
    CheckNoTransaction(20179, "RenameField");
    FHandle->RenameField(FieldName, NewFieldName);
  } catch (...) {
    try {
      Close();
    } catch (...) {
      // The rename's error is raised below.
    }
    FExclusive = WasExclusive;
    throw;
  }
  Close();
  FExclusive = WasExclusive;
}

namespace {

// The engine wants one order and one case entry per field; missing entries are empty (no
// requirement when searching, ascending and case-sensitive when creating).
std::vector<std::string> Padded(const std::vector<std::string>& List, size_t Count) {
  std::vector<std::string> Out = List;
  if (Out.size() < Count) Out.resize(Count);
  return Out;
}

}  // namespace

void TVLTTable::ApplyDistinct(const std::vector<std::string>& FieldNamesList,
                              const std::vector<std::string>& AscDescList,
                              const std::vector<std::string>& CaseSensitivityList) {
  CheckActive();
  CheckBrowseMode();
  const size_t N = FieldNamesList.size();
  FHandle->ApplyDistinct(FieldNamesList, Padded(AscDescList, N), Padded(CaseSensitivityList, N));
  ReadDefinitionsBack();
  SetIndexName(FHandle->IndexName());
}

std::string TVLTTable::FindOrCreateIndex(const std::vector<std::string>& FieldNamesList,
                                         const std::vector<std::string>& AscDescList,
                                         const std::vector<std::string>& CaseSensitivityList,
                                         bool& IsCreated) {
  CheckActive();
  CheckBrowseMode();
  const size_t N = FieldNamesList.size();
  const std::string Name = FHandle->FindOrCreateIndex(
      FieldNamesList, Padded(AscDescList, N), Padded(CaseSensitivityList, N), IsCreated);
  ReadDefinitionsBack();
  return Name;
}

bool TVLTTable::IndexExists(const std::vector<std::string>& FieldNamesList,
                            const std::vector<std::string>& AscDescList,
                            const std::vector<std::string>& CaseSensitivityList) {
  CheckActive();
  const size_t N = FieldNamesList.size();
  return FHandle->IndexExists(FieldNamesList, Padded(AscDescList, N),
                              Padded(CaseSensitivityList, N));
}

// ---- keys and ranges ----

void TVLTTable::CheckSetKeyField(const TVLTField& Field) {
  for (int32_t N : FIndexFieldMap)
    if (N == Field.FieldNo()) return;
  throw EVLTException(20019, "Field %s is not in the current index", {Field.FieldName()});
}

void TVLTTable::SetKeyBuffer(TKeyIndex Which, bool Clear) {
  CheckBrowseMode();
  std::memcpy(FKeyBuffers[kiSave], FKeyBuffers[Which], static_cast<size_t>(FHandle->FKeyBufferSize));
  if (Clear) FHandle->InternalInitKeyBuffer(FKeyBuffers[Which]);
  FKeyBuffer = FKeyBuffers[Which];
  FState = dsSetKey;
  FModified = false;
}

void TVLTTable::SetKey() { SetKeyBuffer(kiLookup, true); }
void TVLTTable::EditKey() { SetKeyBuffer(kiLookup, false); }
void TVLTTable::SetRangeStart() { SetKeyBuffer(kiRangeStart, true); }
void TVLTTable::SetRangeEnd() { SetKeyBuffer(kiRangeEnd, true); }
void TVLTTable::EditRangeStart() { SetKeyBuffer(kiRangeStart, false); }
void TVLTTable::EditRangeEnd() { SetKeyBuffer(kiRangeEnd, false); }

bool TVLTTable::KeyExclusive() const {
  if (FState != dsSetKey) DatabaseError("Dataset not in edit or insert mode");
  return FHandle->KeyExclusive(FKeyBuffer);
}
void TVLTTable::SetKeyExclusive(bool Value) {
  if (FState != dsSetKey) DatabaseError("Dataset not in edit or insert mode");
  FHandle->SetKeyExclusive(FKeyBuffer, Value);
}
int32_t TVLTTable::KeyFieldCount() const {
  if (FState != dsSetKey) DatabaseError("Dataset not in edit or insert mode");
  return FHandle->GetKeyFieldCount(FKeyBuffer);
}
void TVLTTable::SetKeyFieldCount(int32_t Value) {
  if (FState != dsSetKey) DatabaseError("Dataset not in edit or insert mode");
  FHandle->SetKeyFieldCount(FKeyBuffer, Value);
}

TVLTField& TVLTTable::IndexFields(int32_t I) const {
  if (I < 0 || I >= IndexFieldCount()) DatabaseError("Field index out of range");
  const int32_t No = FIndexFieldMap[static_cast<size_t>(I)];
  for (const auto& F : FFields)
    if (F->FieldNo() == No) return *F;
  DatabaseError("Cannot access index field '" + (*FHandle->FVisibleFieldDefs)[No - 1].FName + "'");
}

void TVLTTable::AssignKeyValues(TKeyIndex Which, const std::vector<TVLTVariant>& Values) {
  if (FIndexFieldMap.empty()) DatabaseError("No index currently active");
  FHandle->InternalInitKeyBuffer(FKeyBuffers[Which]);
  FKeyBuffer = FKeyBuffers[Which];
  TVLTRestore KeepState(FState);
  FState = dsSetKey;
  const size_t N = std::min(Values.size(), FIndexFieldMap.size());
  for (size_t I = 0; I < N; ++I) IndexFields(static_cast<int32_t>(I)).SetAsVariant(Values[I]);
  FHandle->SetKeyFieldCount(FKeyBuffer, static_cast<int32_t>(N));
  FHandle->SetKeyModified(FKeyBuffer, true);
}

void TVLTTable::ShowFoundRecord() {
  TVLTCursor& C = *FHandle;
  C.PositionOnCurrentRecord();
  FireScroll(BeforeScroll);
  {
    TSharedReadLock Shared(C);
    ReadRecord(grmCurrent);
  }
  FBof = FEof = false;
  AfterScrolled();
}

bool TVLTTable::GotoKey() {
  CheckBrowseMode();
  TVLTCursor& C = *FHandle;
  uint8_t* Key = FKeyBuffers[kiLookup];
  C.SetKeyBuffer(Key);
  const int32_t Count = C.GetKeyFieldCount(Key);
  C.FKeyFieldCount = Count > 0 ? Count : IndexFieldCount();
  TVLTSavedPosition Pos(C);
  bool Found = false;
  {
    TScratchRecord Scratch(C, FActiveBuffer);
    Found = C.FindKey(scEqual);
  }
  if (Found)
    ShowFoundRecord();
  else
    Pos.Restore();
  return Found;
}

void TVLTTable::GotoNearest() {
  CheckBrowseMode();
  TVLTCursor& C = *FHandle;
  uint8_t* Key = FKeyBuffers[kiLookup];
  C.SetKeyBuffer(Key);
  const int32_t Count = C.GetKeyFieldCount(Key);
  C.FKeyFieldCount = Count > 0 ? Count : IndexFieldCount();
  bool Found = false;
  {
    TScratchRecord Scratch(C, FActiveBuffer);
    Found = C.FindKey(C.KeyExclusive(Key) ? scGreater : scGreaterEqual);
  }
  if (Found)
    ShowFoundRecord();
  else
    Last();
}

bool TVLTTable::FindKey(const std::vector<TVLTVariant>& KeyValues) {
  CheckBrowseMode();
  AssignKeyValues(kiLookup, KeyValues);
  return GotoKey();
}

void TVLTTable::FindNearest(const std::vector<TVLTVariant>& KeyValues) {
  CheckBrowseMode();
  AssignKeyValues(kiLookup, KeyValues);
  GotoNearest();
}

bool TVLTTable::InstallRange() {
  TVLTCursor& C = *FHandle;
  const size_t Size = static_cast<size_t>(C.FKeyBufferSize);
  for (TKeyIndex K : {kiRangeStart, kiRangeEnd, kiAppliedStart, kiAppliedEnd})
    C.ClearStringFieldsGarbage(FKeyBuffers[K]);
  if (FRangeApplied && std::memcmp(FKeyBuffers[kiRangeStart], FKeyBuffers[kiAppliedStart], Size) == 0 &&
      std::memcmp(FKeyBuffers[kiRangeEnd], FKeyBuffers[kiAppliedEnd], Size) == 0)
    return false;
  std::memcpy(FKeyBuffers[kiAppliedStart], FKeyBuffers[kiRangeStart], Size);
  std::memcpy(FKeyBuffers[kiAppliedEnd], FKeyBuffers[kiRangeEnd], Size);
  uint8_t* S = FKeyBuffers[kiAppliedStart];
  uint8_t* E = FKeyBuffers[kiAppliedEnd];
  C.ApplyRange(C.KeyModified(S) ? S : nullptr, C.KeyModified(E) ? E : nullptr,
               C.GetKeyFieldCount(S), C.GetKeyFieldCount(E), C.KeyExclusive(S), C.KeyExclusive(E));
  FRangeApplied = true;
  return true;
}

void TVLTTable::ApplyRange() {
  CheckBrowseMode();
  if (!InstallRange()) return;
  TSharedReadLock Shared(*FHandle);
  First();
}

void TVLTTable::CancelRange() {
  CheckBrowseMode();
  if (!FRangeApplied) return;
  for (TKeyIndex K : {kiRangeStart, kiRangeEnd, kiAppliedStart, kiAppliedEnd})
    FHandle->InternalInitKeyBuffer(FKeyBuffers[K]);
  FHandle->ResetRange();
  FRangeApplied = false;
  First();
}

void TVLTTable::SetRange(const std::vector<TVLTVariant>& StartValues,
                         const std::vector<TVLTVariant>& EndValues) {
  CheckBrowseMode();
  AssignKeyValues(kiRangeStart, StartValues);
  AssignKeyValues(kiRangeEnd, EndValues);
  ApplyRange();
}

// ---- master-detail ----

void TVLTMasterDataLink::ActiveChanged() { FDetail.MasterChanged(); }
void TVLTMasterDataLink::RecordChanged() { FDetail.MasterChanged(); }

bool TVLTTable::MasterLinked() const {
  return !FMasterLinkSuspended && FMasterLink.DataSet() &&
         !VLTSplitFieldList(FMasterLink.FFieldNames).empty();
}

TVLTTable::TSuspendedMasterLink::TSuspendedMasterLink(TVLTTable& Table)
    : FTable(Table), FWasLinked(Table.MasterLinked()) {
  if (!FWasLinked) return;
  FTable.FMasterLinkSuspended = true;
  if (FTable.Active()) FTable.CancelRange();
}

TVLTTable::TSuspendedMasterLink::~TSuspendedMasterLink() {
  if (!FWasLinked) return;
  FTable.FMasterLinkSuspended = false;
  if (!FTable.Active()) return;
  try {
    FTable.MasterLinkChanged();
  } catch (...) {
    // A destructor cannot raise; the next move of the master applies the link again.
  }
}

void TVLTTable::SetMasterSource(TVLTDataSet* Value) {
  TVLTDataSet* Old = FMasterLink.DataSet();
  if (Value == Old) return;
  if (Value && Value->IsLinkedTo(this)) DatabaseError("Circular datalinks are not allowed");
  if (Active()) CheckBrowseMode();
  FMasterLink.SetDataSet(Value);
  if (!Active()) return;
  try {
    MasterLinkChanged();
  } catch (...) {
    FMasterLink.SetDataSet(Old);
    try {
      MasterLinkChanged();
    } catch (...) {
      // The new master's error is raised below.
    }
    throw;
  }
}

void TVLTTable::SetMasterFields(const std::string& Value) {
  if (Active()) CheckBrowseMode();
  const std::string Old = FMasterLink.FFieldNames;
  FMasterLink.FFieldNames = Value;
  if (!Active()) return;
  try {
    MasterLinkChanged();
  } catch (...) {
    FMasterLink.FFieldNames = Old;
    try {
      MasterLinkChanged();
    } catch (...) {
      // The new field list's error is raised below.
    }
    throw;
  }
}

void TVLTTable::MasterLinkChanged() {
  if (MasterLinked()) {
    SetLinkRanges();
    ApplyRange();
  } else {
    CancelRange();
  }
}

void TVLTTable::MasterChanged() {
  if (!Active() || !MasterLinked()) return;
  // Pending changes of the detail record are posted (or an untouched one cancelled) before
  // the detail follows its master.
  CheckBrowseMode();
  SetLinkRanges();
  ApplyRange();
}

std::vector<TVLTField*> TVLTTable::MasterIndexFields() const {
  if (FIndexFieldMap.empty()) DatabaseError("No index currently active");
  const size_t Count = VLTSplitFieldList(FMasterLink.FFieldNames).size();
  std::vector<TVLTField*> Fields;
  for (size_t I = 0; I < Count; ++I) Fields.push_back(&IndexFields(static_cast<int32_t>(I)));
  return Fields;
}

void TVLTTable::SetLinkRanges() {
  const std::vector<TVLTField*> Fields = MasterIndexFields();
  TVLTDataSet* Master = FMasterLink.DataSet();
  const bool HasRecord = Master && Master->Active() && !Master->IsEmpty();
  std::vector<TVLTVariant> Values(Fields.size());
  if (HasRecord) {
    const std::vector<std::string> Names = VLTSplitFieldList(FMasterLink.FFieldNames);
    for (size_t I = 0; I < Names.size(); ++I) Values[I] = Master->FieldByName(Names[I]).AsVariant();
  }
  AssignKeyValues(kiRangeStart, Values);
  AssignKeyValues(kiRangeEnd, Values);
  // Without a master record both ends exclude the same key: no record lies between them.
  FHandle->SetKeyExclusive(FKeyBuffers[kiRangeStart], !HasRecord);
  FHandle->SetKeyExclusive(FKeyBuffers[kiRangeEnd], !HasRecord);
}

void TVLTTable::DoOnNewRecord() {
  TVLTDataSet* Master = FMasterLink.DataSet();
  if (MasterLinked() && Master->Active() && !Master->IsEmpty()) {
    const std::vector<std::string> Names = VLTSplitFieldList(FMasterLink.FFieldNames);
    const std::vector<TVLTField*> Fields = MasterIndexFields();
    for (size_t I = 0; I < Names.size(); ++I)
      Fields[I]->SetAsVariant(Master->FieldByName(Names[I]).AsVariant());
    // The link's values alone are no change by the user: an untouched new record is still
    // cancelled, not posted, when the dataset returns to browsing.
    FModified = false;
  }
  TVLTDataSet::DoOnNewRecord();
}

int64_t TVLTTable::LastAutoincValue(const std::string& FieldName) {
  CheckActive();
  return FHandle->LastAutoincValue(FieldByName(FieldName).FieldNo() - 1);
}

bool TVLTTable::IsRecordLocked() {
  if (!Active() || !FHasRecord) return false;
  FHandle->SetCurrentRecordBuffer(FActiveBuffer);
  return FHandle->IsRecordLocked();
}

}  // namespace vlt
