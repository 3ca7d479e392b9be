#include "engine/components/VLTDataSet.h"

#include <algorithm>
#include <cstring>

#include "engine/components/VLTDatabaseError.h"
#include "engine/components/VLTTableAdvDefs.h"
#include "engine/core/VLTExcept.h"

namespace vlt {

namespace {

std::vector<std::string> SplitNames(const std::string& List) {
  std::vector<std::string> Out;
  std::string Cur;
  for (char C : List) {
    if (C == ';' || C == ',') {
      Out.push_back(Cur);
      Cur.clear();
    } else {
      Cur += C;
    }
  }
  Out.push_back(Cur);
  for (auto& S : Out) {
    const size_t B = S.find_first_not_of(' '), E = S.find_last_not_of(' ');
    S = B == std::string::npos ? std::string() : S.substr(B, E - B + 1);
  }
  std::erase_if(Out, [](const std::string& S) { return S.empty(); });
  return Out;
}

std::unique_ptr<TVLTField> MakeDefaultField(TVLTDataSetFieldType T, const std::string& Name,
                                            int32_t Size) {
  switch (T) {
    case ftString: return std::make_unique<TVLTStringField>(Name, Size);
    case ftFixedChar: return std::make_unique<TVLTStringField>(Name, Size, true);
    case ftSmallint: return std::make_unique<TVLTSmallintField>(Name);
    case ftInteger: return std::make_unique<TVLTIntegerField>(Name);
    case ftWord: return std::make_unique<TVLTWordField>(Name);
    case ftLargeint: return std::make_unique<TVLTLargeintField>(Name);
    case ftAutoInc: return std::make_unique<TVLTAutoIncField>(Name);
    case ftFloat: return std::make_unique<TVLTFloatField>(Name);
    case ftCurrency: return std::make_unique<TVLTCurrencyField>(Name);
    case ftBoolean: return std::make_unique<TVLTBooleanField>(Name);
    case ftDate: return std::make_unique<TVLTDateField>(Name);
    case ftTime: return std::make_unique<TVLTTimeField>(Name);
    case ftDateTime: return std::make_unique<TVLTDateTimeField>(Name);
    case ftMemo: return std::make_unique<TVLTMemoField>(Name);
    case ftBlob: return std::make_unique<TVLTBlobField>(Name);
    default: return std::make_unique<TVLTField>(T, Name, Size);
  }
}

bool HasSize(TVLTDataSetFieldType T) {
  return T == ftString || T == ftFixedChar || T == ftWideString || T == ftBytes ||
         T == ftVarBytes || T == ftGuid;
}

}  // namespace

// ---- BLOB stream ----

TVLTBLOBStream::TVLTBLOBStream(TVLTField& Field, TBlobStreamMode Mode)
    : FField(Field), FDataSet(*Field.DataSet()) {
  TVLTDataSet& D = FDataSet;
  const TDataSetState S = D.FState;
  if (Mode != bmRead && S != dsEdit && S != dsInsert)
    throw EVLTException(10111, "Dataset not in edit or insert mode");
  TVLTCursor& C = *D.FHandle;
  uint8_t* Buf = D.CurrentBuffer();
  C.FCurrentRecordBuffer = Buf;
  C.CurrentRecordID = C.GetBufferRecordID(Buf);
  C.FirstPosition = C.LastPosition = false;
  const TVLTBLOBOpenMode OpenMode = Mode == bmRead ? bomRead : Mode == bmWrite ? bomWrite : bomReadWrite;
  FEngineStream = C.InternalCreateBlobStream(S == dsInsert, S == dsEdit, Field.FieldNo() - 1,
                                             OpenMode, S == dsBrowse);
  if (!FEngineStream) return;  // the record vanished: reads as empty
  FEngineStream->FUserBLOBStream = this;
  FEngineStream->FDestroyUserStream = [this](TVLTLocalBLOBStream&) { FEngineStream = nullptr; };
  if (Mode == bmWrite) {
    FEngineStream->SetSize(0);
    FModified = true;
  }
}

TVLTBLOBStream::~TVLTBLOBStream() {
  try {
    Close();
  } catch (...) {
  }
}

void TVLTBLOBStream::Close() {
  if (!FEngineStream) return;
  FEngineStream->FUserBLOBStream = nullptr;
  FEngineStream->FDestroyUserStream = nullptr;
  FEngineStream = nullptr;
  FDataSet.CloseBlobField(FField, FModified);
}

int64_t TVLTBLOBStream::Read(void* Buffer, int64_t Count) {
  return FEngineStream ? FEngineStream->Read(Buffer, Count) : 0;
}
int64_t TVLTBLOBStream::Write(const void* Buffer, int64_t Count) {
  if (!FEngineStream) return 0;
  const int64_t N = FEngineStream->Write(Buffer, Count);
  if (Count > 0) FModified = true;
  return N;
}
int64_t TVLTBLOBStream::Seek(int64_t Offset, TVLTSeekOrigin Origin) {
  return FEngineStream ? FEngineStream->Seek(Offset, Origin) : 0;
}
int64_t TVLTBLOBStream::GetSize() { return FEngineStream ? FEngineStream->GetSize() : 0; }
void TVLTBLOBStream::SetSize(int64_t NewSize) {
  if (!FEngineStream) return;
  FEngineStream->SetSize(NewSize);
  FModified = true;
}

// ---- dataset ----

TVLTDataSet::TVLTDataSet() = default;

TVLTDataSet::~TVLTDataSet() {
  try {
    Close();
  } catch (...) {
  }
}

void TVLTDataSet::DatabaseError(const std::string& Message) const {
  throw EVLTDatabaseError(FName, Message);
}

void TVLTDataSet::CheckInactive() const {
  if (Active()) DatabaseError("Cannot perform this operation on an open dataset");
}

void TVLTDataSet::CheckActive() const {
  if (!Active()) DatabaseError("Cannot perform this operation on a closed dataset");
}

TVLTField& TVLTDataSet::AddField(std::unique_ptr<TVLTField> Field) {
  CheckInactive();
  Field->FDataSet = this;
  FFields.push_back(std::move(Field));
  return *FFields.back();
}

TVLTField* TVLTDataSet::FindField(const std::string& Name) const {
  for (const auto& F : FFields)
    if (SameText(F->FieldName(), Name)) return F.get();
  return nullptr;
}

TVLTField& TVLTDataSet::FieldByName(const std::string& Name) const {
  TVLTField* F = FindField(Name);
  if (!F) DatabaseError("Field '" + Name + "' not found");
  return *F;
}

void TVLTDataSet::SetDatabaseName(const std::string& Value) {
  CheckInactive();
  FDatabaseName = Value;
}

void TVLTDataSet::OpenDatabase() {
  if (FDBFlags++ > 0) return;
  try {
    TVLTSession* S = VLTSessions().GetSession(FSessionName);
    S->SetActive(true);
    auto* Db = dynamic_cast<TVLTDatabase*>(S->FindDatabase(FDatabaseName));
    if (!Db) DatabaseError("Database '" + FDatabaseName + "' not found");
    Db->Open();
    Db->AddDataSet(this);
    FDatabase = Db;
  } catch (...) {
    FDBFlags = 0;
    throw;
  }
}

void TVLTDataSet::CloseDatabase() {
  if (FDBFlags == 0 || --FDBFlags > 0) return;
  if (FDatabase) FDatabase->RemoveDataSet(this);
  FDatabase = nullptr;
}

void TVLTDataSet::Open() {
  if (Active()) return;
  if (FDatabaseName.empty()) DatabaseError("DatabaseName property is blank");
  if (BeforeOpen) BeforeOpen(*this);
  OpenDatabase();
  try {
    FHandle = CreateHandle();
    if (!FHandle) throw EVLTException(20001, "Error creating table handle");
    FHandle->InternalInitFieldDefs();
    const TVLTFieldDefs& Defs = *FHandle->FVisibleFieldDefs;
    if (FFields.empty()) {
      for (int32_t I = 0; I < Defs.Count(); ++I) {
        const TVLTFieldDef& D = Defs[I];
        const TVLTDataSetFieldType T = DataSetTypeOfAdvanced(D.FAdvancedFieldType);
        auto F = MakeDefaultField(T, D.FName, HasSize(T) ? D.FFieldSize : 0);
        F->FDataSet = this;
        for (int32_t C = 0; C < FHandle->FConstraintDefs->Count(); ++C) {
          const TVLTConstraintDef& Con = (*FHandle->FConstraintDefs)[C];
          if (Con.FConstraintType == ctNotNull && T != ftAutoInc &&
              SameText(static_cast<const TVLTConstraintDefNotNull&>(Con).FColumnName, D.FName))
            F->FRequired = true;
        }
        FDefaultFields.push_back(FFields.size());
        FFields.push_back(std::move(F));
      }
    }
    for (auto& F : FFields) {
      if (F->FFieldKind != fkData) continue;
      const int32_t N = Defs.GetDefNumberByName(F->FieldName());
      if (N < 0) DatabaseError("Field '" + F->FieldName() + "' not found");
      const TVLTDataSetFieldType Actual = DataSetTypeOfAdvanced(Defs[N].FAdvancedFieldType);
      if (DataSetTypeOfAdvanced(AdvancedTypeOfComponentType(F->DataType())) != Actual)
        DatabaseError("Type mismatch for field '" + F->FieldName() + "', expecting: " +
                      std::to_string(F->DataType()) + " actual: " + std::to_string(Actual));
      F->FFieldNo = N + 1;
    }
    FHandle->Dataset = this;
    FActiveBuffer = FHandle->AllocateRecordBuffer();
    FState = dsBrowse;
    ActivateFilters();
    AfterHandleOpened();
    First();
  } catch (...) {
    FState = dsBrowse;
    try {
      Close();
    } catch (...) {
    }
    FState = dsInactive;
    throw;
  }
  if (AfterOpen) AfterOpen(*this);
}

void TVLTDataSet::ClearBuffers() {
  if (!FHandle) return;
  FHandle->FCurrentRecordBuffer = nullptr;
  FHandle->FEditRecordBuffer = nullptr;
  if (FEditRecordBuffer) FHandle->FreeRecordBuffer(FEditRecordBuffer);
  if (FActiveBuffer) FHandle->FreeRecordBuffer(FActiveBuffer);
}

void TVLTDataSet::Close() {
  if (!Active()) return;
  if (BeforeClose) BeforeClose(*this);
  if (FHandle && (FState == dsEdit || FState == dsInsert)) {
    FHandle->FCurrentRecordBuffer = FActiveBuffer;
    try {
      FHandle->InternalCancel(FState == dsInsert);
    } catch (...) {
    }
  }
  BeforeHandleClosed();
  ClearBuffers();
  if (FHandle) {
    try {
      FHandle->CloseTable();
    } catch (...) {
    }
    FHandle.reset();
  }
  for (auto It = FDefaultFields.rbegin(); It != FDefaultFields.rend(); ++It)
    FFields.erase(FFields.begin() + static_cast<std::ptrdiff_t>(*It));
  FDefaultFields.clear();
  for (auto& F : FFields) F->FFieldNo = 0;
  FState = dsInactive;
  FHasRecord = false;
  FBof = FEof = true;
  CloseDatabase();
  if (AfterClose) AfterClose(*this);
}

uint8_t* TVLTDataSet::CurrentBuffer() const {
  switch (FState) {
    case dsSetKey: return FKeyBuffer;
    case dsFilter: return const_cast<uint8_t*>(FFilterBuffer);
    default: return FActiveBuffer;
  }
}

bool TVLTDataSet::ReadRecord(TVLTGetRecordMode Mode) {
  TVLTCursor& C = *FHandle;
  uint8_t* Scratch = C.AllocateRecordBuffer();
  // The table data may take the current key from the buffer it is given.
  // BLOB slots are not copied: they may hold cached data that belongs to the active buffer.
  if (FActiveBuffer && FHasRecord) {
    std::memcpy(Scratch, FActiveBuffer, static_cast<size_t>(C.FRecordSize));
    for (int32_t I = 0; I < C.FieldCount(); ++I) {
      const TVLTFieldDef& D = (*C.FFieldDefs)[I];
      if (D.FBaseFieldType == bftBlob || D.FBaseFieldType == bftClob ||
          D.FBaseFieldType == bftWideClob) {
        std::memset(Scratch + D.FMemoryOffset, 0, static_cast<size_t>(D.FMemoryDataSize));
        Scratch[I / 8] = static_cast<uint8_t>(Scratch[I / 8] | (1u << (I % 8)));
      }
    }
  }
  C.FCurrentRecordBuffer = Scratch;
  TVLTGetRecordResult R = grrError;
  try {
    R = C.GetRecordBuffer(Mode);
  } catch (...) {
    C.FreeRecordBuffer(Scratch);
    C.FCurrentRecordBuffer = FActiveBuffer;
    throw;
  }
  if (R == grrOK) {
    C.SetBufferRecordID(Scratch, C.CurrentRecordID);
    C.SetBookmarkFlag(Scratch, kBookmarkCurrent);
    std::swap(Scratch, FActiveBuffer);
    FHasRecord = true;
  }
  C.FreeRecordBuffer(Scratch);
  // The cursor must never keep a pointer to a freed buffer.
  C.FCurrentRecordBuffer = FActiveBuffer;
  if (R == grrError && Mode == grmCurrent) return false;
  return R == grrOK;
}

void TVLTDataSet::PositionCursorOnActive() {
  TVLTCursor& C = *FHandle;
  C.CurrentRecordID = C.GetBufferRecordID(FActiveBuffer);
  C.FirstPosition = C.LastPosition = false;
}

void TVLTDataSet::ReadAround(const TVLTPageItemID& RecordID) {
  TVLTCursor& C = *FHandle;
  C.CurrentRecordID = RecordID;
  C.FirstPosition = C.LastPosition = false;
  FBof = FEof = false;
  if (RecordID.PageNo >= 0 && ReadRecord(grmCurrent)) return;
  C.InternalLast();
  if (ReadRecord(grmPrior)) {
    FEof = true;
    return;
  }
  FHasRecord = false;
  FBof = FEof = true;
}

void TVLTDataSet::First() {
  CheckActive();
  CheckBrowseMode();
  FireScroll(BeforeScroll);
  FHandle->InternalFirst();
  FHasRecord = false;
  if (ReadRecord(grmNext)) {
    FBof = true;
    FEof = false;
  } else {
    FBof = FEof = true;
  }
  FireScroll(AfterScroll);
}

void TVLTDataSet::Last() {
  CheckActive();
  CheckBrowseMode();
  FireScroll(BeforeScroll);
  FHandle->InternalLast();
  FHasRecord = false;
  if (ReadRecord(grmPrior)) {
    FEof = true;
    FBof = false;
  } else {
    FBof = FEof = true;
  }
  FireScroll(AfterScroll);
}

void TVLTDataSet::Next() {
  CheckActive();
  CheckBrowseMode();
  if (FEof && !FHasRecord) return;
  FireScroll(BeforeScroll);
  PositionCursorOnActive();
  if (ReadRecord(grmNext)) {
    FBof = false;
  } else {
    FEof = true;
  }
  FireScroll(AfterScroll);
}

void TVLTDataSet::Prior() {
  CheckActive();
  CheckBrowseMode();
  if (!FHasRecord) return;
  FireScroll(BeforeScroll);
  PositionCursorOnActive();
  if (ReadRecord(grmPrior)) {
    FEof = false;
  } else {
    FBof = true;
  }
  FireScroll(AfterScroll);
}

int32_t TVLTDataSet::MoveBy(int32_t Distance) {
  int32_t Moved = 0;
  for (; Distance > 0 && !FEof; --Distance) {
    Next();
    if (!FEof) ++Moved;
  }
  for (; Distance < 0 && !FBof; ++Distance) {
    Prior();
    if (!FBof) --Moved;
  }
  return Moved;
}

int32_t TVLTDataSet::RecordCount() {
  if (!Active()) return 0;
  return static_cast<int32_t>(FHandle->GetRecordCount());
}

int32_t TVLTDataSet::RecNo() {
  if (!Active() || FState == dsInsert || !FHasRecord) return -1;
  uint8_t* Pos = FHandle->SavePosition();
  PositionCursorOnActive();
  int64_t N = -1;
  try {
    N = FHandle->GetRecNo();
  } catch (...) {
    FHandle->RestorePosition(Pos);
    FHandle->FreePosition(Pos);
    throw;
  }
  FHandle->RestorePosition(Pos);
  FHandle->FreePosition(Pos);
  return static_cast<int32_t>(N);
}

void TVLTDataSet::SetRecNo(int32_t Value) {
  CheckActive();
  CheckBrowseMode();
  FireScroll(BeforeScroll);
  FHandle->SetRecNo(Value);
  FHandle->FirstPosition = FHandle->LastPosition = false;
  ReadRecord(grmCurrent);
  FBof = FEof = false;
  FireScroll(AfterScroll);
}

void TVLTDataSet::Insert() {
  CheckActive();
  CheckBrowseMode();
  if (!CanModify()) DatabaseError("Cannot modify a read-only dataset");
  if (BeforeInsert) BeforeInsert(*this);
  uint8_t* Buf = FHandle->AllocateRecordBuffer();
  FHandle->InternalInitRecord(Buf, true);
  FHandle->SetBookmarkFlag(Buf, kBookmarkInserted);
  FHandle->SetBufferRecordID(Buf, TVLTPageItemID{-1, 0xFFFF});
  // The shown record is kept as the edit copy slot until post or cancel brings it back.
  if (FEditRecordBuffer) FHandle->FreeRecordBuffer(FEditRecordBuffer);
  FEditRecordBuffer = FActiveBuffer;
  FActiveBuffer = Buf;
  FState = dsInsert;
  FModified = false;
  try {
    if (OnNewRecord) OnNewRecord(*this);
  } catch (...) {
    FHandle->FreeRecordBuffer(FActiveBuffer);
    FActiveBuffer = FEditRecordBuffer;
    FEditRecordBuffer = nullptr;
    FState = dsBrowse;
    throw;
  }
  if (AfterInsert) AfterInsert(*this);
}

void TVLTDataSet::Append() { Insert(); }

void TVLTDataSet::AppendRecord(const std::vector<TVLTVariant>& Values) {
  Append();
  int32_t I = 0;
  for (auto& F : FFields) {
    if (F->FFieldKind != fkData) continue;
    if (static_cast<size_t>(I) < Values.size() && !Values[static_cast<size_t>(I)].IsNull())
      F->SetAsVariant(Values[static_cast<size_t>(I)]);
    else if (static_cast<size_t>(I) < Values.size())
      F->Clear();
    ++I;
  }
  Post();
}

void TVLTDataSet::Edit() {
  CheckActive();
  if (FState == dsEdit || FState == dsInsert) return;
  if (!FHasRecord) {
    Insert();
    return;
  }
  CheckBrowseMode();
  if (!CanModify()) DatabaseError("Cannot modify a read-only dataset");
  if (BeforeEdit) BeforeEdit(*this);
  TVLTCursor& C = *FHandle;
  FEditRecordBuffer = C.AllocateRecordBuffer();
  std::memcpy(FEditRecordBuffer, FActiveBuffer, static_cast<size_t>(C.FRecordSize));
  PositionCursorOnActive();
  C.FCurrentRecordBuffer = FActiveBuffer;
  C.InternalEdit();
  if (C.FErrorCode != 0) {
    C.FreeRecordBuffer(FEditRecordBuffer);
    throw EVLTEngineError(C.FErrorCode, C.FErrorCode == kCursorConstraintFailed ? C.FErrorMessage : "");
  }
  FState = dsEdit;
  FModified = false;
  if (AfterEdit) AfterEdit(*this);
}

void TVLTDataSet::Post() {
  if (!Active()) throw EVLTException(10029, "Dataset is not opened");
  if (FState == dsSetKey) {
    FHandle->SetKeyModified(FKeyBuffer, FModified);
    FState = dsBrowse;
    return;
  }
  if (BeforePost) BeforePost(*this);
  for (auto& F : FFields)
    if (F->FRequired && !F->FReadOnly && F->FFieldKind == fkData && F->IsNull())
      DatabaseError("Field '" + F->DisplayName() + "' must have a value");
  if (FState != dsEdit && FState != dsInsert)
    throw EVLTException(10030, "Dataset is not in insert or edit mode");
  if (FReadOnly) throw EVLTException(10032, "Dataset is in read only mode");
  TVLTCursor& C = *FHandle;
  const bool ToInsert = FState == dsInsert;
  C.FCurrentRecordBuffer = FActiveBuffer;
  C.FEditRecordBuffer = ToInsert ? nullptr : FEditRecordBuffer;
  C.InternalPost(ToInsert);
  C.FEditRecordBuffer = nullptr;
  if (C.FErrorCode != 0)
    throw EVLTEngineError(C.FErrorCode, C.FErrorCode == kCursorConstraintFailed ? C.FErrorMessage : "");
  if (FEditRecordBuffer) C.FreeRecordBuffer(FEditRecordBuffer);
  FState = dsBrowse;
  FModified = false;
  ReadAround(ToInsert ? C.CurrentRecordID : C.GetBufferRecordID(FActiveBuffer));
  if (AfterPost) AfterPost(*this);
}

void TVLTDataSet::Cancel() {
  CheckActive();
  if (FState == dsSetKey) {
    FState = dsBrowse;
    return;
  }
  if (FState != dsEdit && FState != dsInsert) return;
  if (BeforeCancel) BeforeCancel(*this);
  TVLTCursor& C = *FHandle;
  const bool ToInsert = FState == dsInsert;
  C.FCurrentRecordBuffer = FActiveBuffer;
  C.InternalCancel(ToInsert);
  if (C.FErrorCode != 0) throw EVLTEngineError(C.FErrorCode);
  TVLTPageItemID Back = C.GetBufferRecordID(FActiveBuffer);
  if (ToInsert) {
    Back = FEditRecordBuffer && FHasRecord ? C.GetBufferRecordID(FEditRecordBuffer)
                                           : TVLTPageItemID{-1, 0xFFFF};
  }
  if (FEditRecordBuffer) C.FreeRecordBuffer(FEditRecordBuffer);
  FState = dsBrowse;
  FModified = false;
  if (Back.PageNo >= 0) {
    ReadAround(Back);
  } else {
    First();
  }
  if (AfterCancel) AfterCancel(*this);
}

void TVLTDataSet::Delete() {
  if (!Active()) throw EVLTException(10068, "Dataset is not opened");
  if (FState == dsInsert || FState == dsSetKey) {
    Cancel();
    return;
  }
  if (!FHasRecord) DatabaseError("Cannot perform this operation on an empty dataset");
  if (BeforeDelete) BeforeDelete(*this);
  FireScroll(BeforeScroll);
  if (FReadOnly) throw EVLTException(10069, "Dataset is in read only mode");
  TVLTCursor& C = *FHandle;
  if (FState == dsEdit) CheckBrowseMode();
  // Where the window goes afterwards: the next record, else the new last one.
  const TVLTPageItemID Deleted = C.GetBufferRecordID(FActiveBuffer);
  TVLTPageItemID After{-1, 0xFFFF};
  PositionCursorOnActive();
  if (ReadRecord(grmNext)) After = C.GetBufferRecordID(FActiveBuffer);
  // Back to the record to delete: the cursor checks it against the stored one.
  C.CurrentRecordID = Deleted;
  C.FirstPosition = C.LastPosition = false;
  if (!ReadRecord(grmCurrent)) throw EVLTEngineError(kCursorDeleteDeleted);
  C.CurrentRecordID = Deleted;
  C.FirstPosition = C.LastPosition = false;
  C.FCurrentRecordBuffer = FActiveBuffer;
  C.InternalDelete();
  if (C.FErrorCode != 0) throw EVLTEngineError(C.FErrorCode);
  FState = dsBrowse;
  ReadAround(After);
  if (AfterDelete) AfterDelete(*this);
  FireScroll(AfterScroll);
}

void TVLTDataSet::CheckBrowseMode() {
  CheckActive();
  switch (FState) {
    case dsEdit:
    case dsInsert:
      if (FModified) {
        Post();
      } else {
        Cancel();
      }
      break;
    case dsSetKey:
      Post();
      break;
    default:
      break;
  }
}

void TVLTDataSet::Refresh() {
  CheckBrowseMode();
  if (FHasRecord) {
    ReadAround(FHandle->GetBufferRecordID(FActiveBuffer));
  } else {
    First();
  }
}

void TVLTDataSet::ActivateFilters() {
  if (!FHandle) return;
  if (FFiltered && !FFilter.empty()) {
    FHandle->ActivateFilters(FFilter, (FFilterOptions & foCaseInsensitive) != 0,
                             (FFilterOptions & foNoPartialCompare) == 0);
  } else {
    FHandle->DeactivateFilters();
  }
  if (FFiltered && FOnFilterRecord) {
    FHandle->FilterRecord = [this](const uint8_t* Record) {
      const TDataSetState Saved = FState;
      FState = dsFilter;
      FFilterBuffer = Record;
      bool Accept = true;
      try {
        FOnFilterRecord(*this, Accept);
      } catch (...) {
      }
      FState = Saved;
      FFilterBuffer = nullptr;
      return Accept;
    };
  } else {
    FHandle->FilterRecord = nullptr;
  }
  FHandle->DisableRecordBitmap();
}

void TVLTDataSet::SetFilter(const std::string& Value) {
  if (Active()) CheckBrowseMode();
  FFilter = Value;
  if (Active() && FFiltered) {
    ActivateFilters();
    First();
  }
}

void TVLTDataSet::SetFiltered(bool Value) {
  if (!Active()) {
    FFiltered = Value;
    return;
  }
  CheckBrowseMode();
  if (Value != FFiltered) {
    FFiltered = Value;
    ActivateFilters();
  }
  if (FFiltered) {
    First();
  } else {
    Refresh();
  }
}

void TVLTDataSet::SetFilterOptions(uint8_t Value) {
  if (Active()) CheckBrowseMode();
  FFilterOptions = Value;
  if (Active() && FFiltered) {
    ActivateFilters();
    First();
  }
}

void TVLTDataSet::SetOnFilterRecord(TFilterRecordEvent Event) {
  FOnFilterRecord = std::move(Event);
  if (Active()) {
    ActivateFilters();
    if (FFiltered) First();
  }
}

namespace {
struct TFindScope {
  TVLTDataSet& D;
  bool& Filtered;
  bool Was;
  std::function<void()> Reactivate;
  ~TFindScope() {
    if (!Was) {
      Filtered = false;
      Reactivate();
    }
  }
};
}  // namespace

bool TVLTDataSet::FindFirst() {
  CheckBrowseMode();
  TFindScope Scope{*this, FFiltered, FFiltered, [this] { ActivateFilters(); }};
  FFiltered = true;
  ActivateFilters();
  FHandle->InternalFirst();
  const bool Found = ReadRecord(grmNext);
  if (Found) {
    FBof = true;
    FEof = false;
  }
  return Found;
}

bool TVLTDataSet::FindLast() {
  CheckBrowseMode();
  TFindScope Scope{*this, FFiltered, FFiltered, [this] { ActivateFilters(); }};
  FFiltered = true;
  ActivateFilters();
  FHandle->InternalLast();
  const bool Found = ReadRecord(grmPrior);
  if (Found) {
    FEof = true;
    FBof = false;
  }
  return Found;
}

bool TVLTDataSet::FindNext() {
  CheckBrowseMode();
  if (!FHasRecord) return false;
  TFindScope Scope{*this, FFiltered, FFiltered, [this] { ActivateFilters(); }};
  FFiltered = true;
  ActivateFilters();
  PositionCursorOnActive();
  const bool Found = ReadRecord(grmNext);
  if (Found) FBof = FEof = false;
  return Found;
}

bool TVLTDataSet::FindPrior() {
  CheckBrowseMode();
  if (!FHasRecord) return false;
  TFindScope Scope{*this, FFiltered, FFiltered, [this] { ActivateFilters(); }};
  FFiltered = true;
  ActivateFilters();
  PositionCursorOnActive();
  const bool Found = ReadRecord(grmPrior);
  if (Found) FBof = FEof = false;
  return Found;
}

bool TVLTDataSet::Locate(const std::string& KeyFields, const std::vector<TVLTVariant>& KeyValues,
                         uint8_t Options) {
  FireScroll(BeforeScroll);
  if (!Active()) throw EVLTException(10271, "Cannot perform LOCATE on a closed dataset");
  CheckBrowseMode();
  bool Found = false;
  {
    TScratchRecord Scratch(*FHandle, FActiveBuffer);
    Found = FHandle->Locate(KeyFields, KeyValues, (Options & loCaseInsensitive) != 0,
                            (Options & loPartialKey) != 0);
  }
  if (Found) {
    FHandle->FirstPosition = FHandle->LastPosition = false;
    ReadRecord(grmCurrent);
    FBof = FEof = false;
    FireScroll(AfterScroll);
  }
  return Found;
}

std::vector<TVLTVariant> TVLTDataSet::Lookup(const std::string& KeyFields,
                                             const std::vector<TVLTVariant>& KeyValues,
                                             const std::string& ResultFields) {
  CheckBrowseMode();
  const std::vector<std::string> Names = SplitNames(ResultFields);
  std::vector<TVLTVariant> Result(Names.size());
  uint8_t* Pos = FHandle->SavePosition();
  uint8_t* Keep = FActiveBuffer;
  FActiveBuffer = FHandle->AllocateRecordBuffer();
  const bool KeepHas = FHasRecord;
  try {
    bool Found = false;
    {
      TScratchRecord Scratch(*FHandle, FActiveBuffer);
      Found = FHandle->Locate(KeyFields, KeyValues, false, false);
    }
    if (Found) {
      FHandle->FirstPosition = FHandle->LastPosition = false;
      if (ReadRecord(grmCurrent))
        for (size_t I = 0; I < Names.size(); ++I) Result[I] = FieldByName(Names[I]).AsVariant();
    }
  } catch (...) {
    FHandle->FreeRecordBuffer(FActiveBuffer);
    FActiveBuffer = Keep;
    FHasRecord = KeepHas;
    FHandle->RestorePosition(Pos);
    FHandle->FreePosition(Pos);
    throw;
  }
  FHandle->FreeRecordBuffer(FActiveBuffer);
  FActiveBuffer = Keep;
  FHasRecord = KeepHas;
  FHandle->RestorePosition(Pos);
  FHandle->FreePosition(Pos);
  return Result;
}

TVLTBookmark TVLTDataSet::GetBookmark() const {
  if (!Active() || !FHasRecord) return {};
  TVLTBookmark B(7, 0);
  const TVLTPageItemID Id = FHandle->GetBufferRecordID(FActiveBuffer);
  StoreLE<int32_t>(B.data(), Id.PageNo);
  StoreLE<uint16_t>(B.data() + 4, Id.PageItemNo);
  return B;
}

namespace {
TVLTPageItemID BookmarkID(const TVLTBookmark& B) {
  return TVLTPageItemID{LoadLE<int32_t>(B.data()), LoadLE<uint16_t>(B.data() + 4)};
}
}  // namespace

void TVLTDataSet::GotoBookmark(const TVLTBookmark& Bookmark) {
  if (Bookmark.size() < 6) return;
  CheckBrowseMode();
  FireScroll(BeforeScroll);
  FHandle->CurrentRecordID = BookmarkID(Bookmark);
  FHandle->FirstPosition = FHandle->LastPosition = false;
  if (!ReadRecord(grmCurrent)) throw EVLTException(10026, "Cannot retrieve record");
  FBof = FEof = false;
  FireScroll(AfterScroll);
}

bool TVLTDataSet::BookmarkValid(const TVLTBookmark& Bookmark) {
  if (Bookmark.size() < 6 || !Active()) return false;
  uint8_t* Pos = FHandle->SavePosition();
  uint8_t* Scratch = FHandle->AllocateRecordBuffer();
  FHandle->FCurrentRecordBuffer = Scratch;
  FHandle->CurrentRecordID = BookmarkID(Bookmark);
  FHandle->FirstPosition = FHandle->LastPosition = false;
  bool Ok = false;
  try {
    Ok = FHandle->GetRecordBuffer(grmCurrent) == grrOK;
  } catch (...) {
  }
  FHandle->FreeRecordBuffer(Scratch);
  FHandle->FCurrentRecordBuffer = FActiveBuffer;
  FHandle->RestorePosition(Pos);
  FHandle->FreePosition(Pos);
  return Ok;
}

int TVLTDataSet::CompareBookmarks(const TVLTBookmark& Bookmark1, const TVLTBookmark& Bookmark2) {
  const bool Has1 = Bookmark1.size() >= 6, Has2 = Bookmark2.size() >= 6;
  if (Has1 && Has2) return FHandle->CompareRecordsOrder(BookmarkID(Bookmark1), BookmarkID(Bookmark2));
  if (Has1) return -1;
  if (Has2) return 1;
  return 0;
}

std::unique_ptr<TVLTBLOBStream> TVLTDataSet::CreateBlobStream(TVLTField& Field, TBlobStreamMode Mode) {
  CheckActive();
  if (Mode != bmRead && FReadOnly) throw EVLTException(10107, "Dataset is in read only mode");
  return std::make_unique<TVLTBLOBStream>(Field, Mode);
}

void TVLTDataSet::CloseBlobField(TVLTField& Field, bool Modified) {
  if (!FHandle) return;
  FHandle->FCurrentRecordBuffer = CurrentBuffer();
  FHandle->InternalCloseBLOB(Field.FieldNo() - 1);
  if (Modified) FModified = true;
}

void TVLTDataSet::GetFieldVariant(const TVLTField& Field, TVLTVariant& Value) {
  if (!Active()) DatabaseError("Cannot perform this operation on a closed dataset");
  if (Field.FieldNo() <= 0) {
    Value.Clear(Field.BaseType());
    return;
  }
  if (Field.IsBlob()) {
    std::string Data;
    if (FHasRecord || FState == dsInsert || FState == dsEdit) {
      TVLTBLOBStream S(const_cast<TVLTField&>(Field), bmRead);
      Data.resize(static_cast<size_t>(S.GetSize()));
      if (!Data.empty()) S.Read(Data.data(), static_cast<int64_t>(Data.size()));
    }
    if (Data.empty()) {
      Value.Clear(Field.BaseType());
    } else {
      Value.SetAsAnsiString(Data);
    }
    return;
  }
  uint8_t* Buf = CurrentBuffer();
  if ((FState == dsBrowse && !FHasRecord) || !Buf) {
    Value.Clear(Field.BaseType());
    return;
  }
  FHandle->GetFieldValue(Value, Field.FieldNo() - 1, false, Buf);
}

void TVLTDataSet::SetFieldVariant(TVLTField& Field, const TVLTVariant& Value) {
  if (!Active()) DatabaseError("Cannot perform this operation on a closed dataset");
  if (FState != dsEdit && FState != dsInsert && FState != dsSetKey && FState != dsCalcFields &&
      FState != dsFilter)
    throw EVLTException(10007, "Dataset not in edit or insert mode");
  if (Field.FReadOnly && FState != dsSetKey)
    DatabaseError("Field '" + Field.DisplayName() + "' cannot be modified");
  if (Field.FieldNo() <= 0) return;
  if (FState == dsSetKey) CheckSetKeyField(Field);
  if (Field.IsBlob()) {
    TVLTBLOBStream S(Field, bmWrite);
    if (!Value.IsNull()) {
      const std::string Data = Value.AsAnsiString();
      S.Write(Data.data(), static_cast<int64_t>(Data.size()));
    }
    S.Close();  // a value that cannot be stored must not be dropped silently
    return;
  }
  if (Value.IsNull()) {
    TVLTVariant N(Field.BaseType());
    N.SetNull();
    FHandle->SetFieldValue(N, Field.FieldNo() - 1, false, CurrentBuffer());
  } else {
    FHandle->SetFieldValue(Value, Field.FieldNo() - 1, false, CurrentBuffer());
  }
  FModified = true;
}

}  // namespace vlt
