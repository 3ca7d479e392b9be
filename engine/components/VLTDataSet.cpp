#include "engine/components/VLTDataSet.h"

#include <algorithm>
#include <cstring>
#include <exception>
#include <utility>

#include "engine/base/VLTExcept.h"
#include "engine/base/VLTScopeGuard.h"
#include "engine/components/VLTDatabaseError.h"
#include "engine/components/VLTTableAdvDefs.h"

namespace vlt {

namespace {

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
  C.SetCurrentRecordBuffer(Buf);
  C.PositionOnRecord(C.GetBufferRecordID(Buf));
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
    // A destructor cannot raise; nothing is left to undo.
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

// ---- data links ----

TVLTDataLink::~TVLTDataLink() { SetDataSet(nullptr); }

void TVLTDataLink::SetDataSet(TVLTDataSet* Value) {
  if (Value == FDataSet) return;
  if (FDataSet) std::erase(FDataSet->FDataLinks, this);
  FDataSet = Value;
  if (FDataSet) FDataSet->FDataLinks.push_back(this);
}

bool TVLTDataLink::Active() const { return FDataSet && FDataSet->Active(); }

// ---- dataset ----

TVLTDataSet::TVLTDataSet() = default;

TVLTDataSet::~TVLTDataSet() {
  try {
    Close();
  } catch (...) {
    // A destructor cannot raise; nothing is left to undo.
  }
  for (TVLTDataLink* L : FDataLinks) L->FDataSet = nullptr;
  FDataLinks.clear();
}

bool TVLTDataSet::IsLinkedTo(const TVLTDataSet* DataSet) const {
  // A chain longer than the number of datasets can only be a cycle made elsewhere; the bound
  // keeps a broken chain from hanging the check.
  const TVLTDataSet* D = this;
  for (int32_t Steps = 0; D && Steps < 10000; ++Steps, D = D->GetMasterDataSet())
    if (D == DataSet) return true;
  return false;
}

void TVLTDataSet::AfterScrolled() {
  if (AfterScroll) AfterScroll(*this);
  NotifyDataLinks(false);
}

void TVLTDataSet::NotifyDataLinks(bool ActiveChange) {
  if (FDataLinks.empty()) return;
  // A link may detach itself (or others) while being told: work on a copy and skip the ones
  // that left.
  const std::vector<TVLTDataLink*> Links = FDataLinks;
  std::exception_ptr First;
  for (TVLTDataLink* L : Links) {
    if (std::find(FDataLinks.begin(), FDataLinks.end(), L) == FDataLinks.end()) continue;
    try {
      if (ActiveChange) {
        L->ActiveChanged();
      } else {
        L->RecordChanged();
      }
    } catch (...) {
      if (!First) First = std::current_exception();
    }
  }
  if (First) std::rethrow_exception(First);
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

TVLTSession* TVLTDataSet::DBSession() const {
  if (FDatabase && FDatabase->Session()) return FDatabase->Session();
  if (TVLTSession* S = VLTSessions().FindSession(FSessionName)) return S;
  return &VLTDefaultSession();
}

void TVLTDataSet::OpenDatabase() {
  if (FDBFlags++ > 0) return;
  try {
    TVLTSession* S = VLTSessions().GetSession(FSessionName);
    // The session's database of that name, or a temporary one on the file of that name.
    TVLTDatabase* Db = S->OpenDatabase(FDatabaseName);
    Db->AddDataSet(this);
    FDatabase = Db;
  } catch (...) {
    FDBFlags = 0;
    throw;
  }
}

void TVLTDataSet::CloseDatabase() {
  if (FDBFlags == 0 || --FDBFlags > 0) return;
  std::lock_guard<std::recursive_mutex> Guard(VLTSessionLock());
  TVLTDatabase* Db = FDatabase;
  FDatabase = nullptr;
  if (!Db) return;
  Db->RemoveDataSet(this);
  if (TVLTSession* S = Db->Session()) S->CloseDatabase(Db);
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
    BindFields();
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
      // The open's own error is raised below.
    }
    FState = dsInactive;
    throw;
  }
  NotifyDataLinks(true);
  if (AfterOpen) AfterOpen(*this);
}

namespace {

// Bytes of a calculated field's value in its slot (after the has-value byte); 0 for types that
// cannot be calculated.
int32_t CalcDataSize(const TVLTField& F) {
  const TVLTBaseFieldType B = F.BaseType();
  switch (B) {
    case bftUnknown: case bftBytes: case bftVarBytes: case bftBlob: case bftClob:
    case bftWideClob: case bftBFile:
      return 0;
    default:
      return FieldMemorySize(B, std::max(F.Size(), 1));
  }
}

bool IsAnsiText(TVLTBaseFieldType B) { return B == bftChar || B == bftVarchar; }
bool IsWideText(TVLTBaseFieldType B) { return B == bftWideChar || B == bftWideVarchar; }

}  // namespace

void TVLTDataSet::BindFields() {
  const TVLTFieldDefs& Defs = *FHandle->FVisibleFieldDefs;
  FCalcFieldsSize = 0;
  for (auto& F : FFields) {
    if (F->FFieldKind != fkData) {
      const int32_t Size = CalcDataSize(*F);
      if (Size == 0)
        DatabaseError("Field '" + F->FieldName() + "' of type " + FieldTypeName(F->DataType()) +
                      " cannot be a calculated or lookup field");
      if (F->FFieldKind == fkLookup) {
        if (!F->FLookupDataSet || F->FLookupKeyFields.empty() || F->FLookupResultField.empty() ||
            F->FKeyFields.empty())
          DatabaseError("Lookup information for field '" + F->FieldName() + "' is incomplete");
        if (F->FLookupDataSet == this)
          DatabaseError("Circular datalinks are not allowed");
        for (const std::string& K : VLTSplitFieldList(F->FKeyFields)) FieldByName(K);
      }
      F->FFieldNo = 0;
      F->FCalcOffset = FCalcFieldsSize;
      FCalcFieldsSize += 1 + Size;
      continue;
    }
    const int32_t N = Defs.GetDefNumberByName(F->FieldName());
    if (N < 0) DatabaseError("Field '" + F->FieldName() + "' not found");
    const TVLTFieldDef& D = Defs[N];
    const TVLTDataSetFieldType Actual = DataSetTypeOfAdvanced(D.FAdvancedFieldType);
    // Types that store alike (a BCD field on a floating point column) match.
    if (DataSetTypeOfAdvanced(AdvancedTypeOfComponentType(F->DataType())) != Actual)
      DatabaseError("Type mismatch for field '" + F->FieldName() + "', expecting: " +
                    FieldTypeName(F->DataType()) + " actual: " + FieldTypeName(Actual));
    if (HasSize(Actual)) {
      const int32_t Expected = F->DataType() == ftGuid && F->Size() == 0 ? 38 : F->Size();
      const int32_t Stored = Actual == ftGuid && D.FFieldSize == 0 ? 38 : D.FFieldSize;
      if (Expected != Stored)
        DatabaseError("Size mismatch for field '" + F->FieldName() + "', expecting: " +
                      std::to_string(Expected) + " actual: " + std::to_string(Stored));
    }
    F->FFieldNo = N + 1;
  }
  // The calculated area follows the cursor's record buffer in every buffer it allocates.
  FCalcAreaOffset = FHandle->FRecordBufferSize;
  FHandle->FRecordBufferSize += FCalcFieldsSize;
}

void TVLTDataSet::CalculateFields(uint8_t* Buffer) {
  if (FCalcFieldsSize == 0 || !Buffer) return;
  std::memset(Buffer + FCalcAreaOffset, 0, static_cast<size_t>(FCalcFieldsSize));
  TVLTRestore KeepState(FState);
  TVLTRestore KeepCalcBuffer(FCalcBuffer);
  FState = dsCalcFields;
  FCalcBuffer = Buffer;
  for (auto& F : FFields)
    if (F->FFieldKind == fkLookup) CalcLookupValue(*F);
  if (OnCalcFields) OnCalcFields(*this);
}

void TVLTDataSet::CalcLookupValue(TVLTField& Field) {
  TVLTVariant Value(Field.BaseType());
  TVLTDataSet* L = Field.FLookupDataSet;
  if (L && L->Active()) {
    std::vector<TVLTVariant> Keys;
    bool AnyNull = false;
    for (const std::string& K : VLTSplitFieldList(Field.FKeyFields)) {
      Keys.push_back(FieldByName(K).AsVariant());
      AnyNull = AnyNull || Keys.back().IsNull();
    }
    // A record without a key has nothing to look up.
    if (!AnyNull) {
      std::vector<TVLTVariant> R = L->Lookup(Field.FLookupKeyFields, Keys, Field.FLookupResultField);
      if (!R.empty()) Value = R.front();
    }
  }
  SetCalcFieldValue(Field, Value);
}

void TVLTDataSet::GetCalcFieldValue(const TVLTField& Field, TVLTVariant& Value) const {
  const TVLTBaseFieldType B = Field.BaseType();
  Value.Clear(B);
  const uint8_t* Buf = CurrentBuffer();
  // The key buffer has no calculated area; a browse view without records shows nothing.
  if (!Buf || FState == dsSetKey || (FState == dsBrowse && !FHasRecord)) return;
  const uint8_t* P = Buf + FCalcAreaOffset + Field.FCalcOffset;
  if (P[0] == 0) return;
  const int32_t Size = CalcDataSize(Field);
  if (IsAnsiText(B)) {
    const char* T = reinterpret_cast<const char*>(P + 1);
    Value.SetAsAnsiString(std::string(T, ::strnlen(T, static_cast<size_t>(Size))));
  } else if (IsWideText(B)) {
    std::u16string W;
    for (int32_t I = 0; I + 1 < Size; I += 2) {
      const char16_t C = static_cast<char16_t>(P[1 + I] | (P[2 + I] << 8));
      if (C == 0) break;
      W.push_back(C);
    }
    Value.SetAsWideString(W);
  } else {
    Value.SetData(P + 1, Size, true, B);
  }
}

void TVLTDataSet::SetCalcFieldValue(const TVLTField& Field, const TVLTVariant& Value) {
  uint8_t* Buf = CurrentBuffer();
  if (!Buf || FState == dsSetKey) return;
  uint8_t* P = Buf + FCalcAreaOffset + Field.FCalcOffset;
  const int32_t Size = CalcDataSize(Field);
  const TVLTBaseFieldType B = Field.BaseType();
  if (Value.IsNull()) {
    std::memset(P, 0, static_cast<size_t>(1 + Size));
    return;
  }
  TVLTVariant V(Value);
  V.Cast(B);  // raises before the slot changes when the value does not convert
  std::memset(P, 0, static_cast<size_t>(1 + Size));
  if (IsAnsiText(B)) {
    std::string T = V.AsAnsiString();
    if (static_cast<int32_t>(T.size()) > Size - 1) T.resize(static_cast<size_t>(Size - 1));
    std::memcpy(P + 1, T.data(), T.size());
  } else if (IsWideText(B)) {
    std::u16string W = V.AsWideString();
    if (static_cast<int32_t>(W.size()) > Size / 2 - 1) W.resize(static_cast<size_t>(Size / 2 - 1));
    for (size_t I = 0; I < W.size(); ++I) {
      P[1 + 2 * I] = static_cast<uint8_t>(W[I] & 0xFF);
      P[2 + 2 * I] = static_cast<uint8_t>(W[I] >> 8);
    }
  } else if (!V.CopyDataToAddress(P + 1, Size)) {
    return;  // nothing to store: stays NULL
  }
  P[0] = 1;
}

void TVLTDataSet::ClearBuffers() {
  if (!FHandle) return;
  FHandle->SetCurrentRecordBuffer(nullptr);
  FHandle->SetEditRecordBuffer(nullptr);
  if (FEditRecordBuffer) FHandle->FreeRecordBuffer(FEditRecordBuffer);
  if (FActiveBuffer) FHandle->FreeRecordBuffer(FActiveBuffer);
  if (FSpareBuffer) FHandle->FreeRecordBuffer(FSpareBuffer);
}

void TVLTDataSet::Close() {
  if (!Active()) return;
  if (BeforeClose) BeforeClose(*this);
  if (FHandle && (FState == dsEdit || FState == dsInsert)) {
    FHandle->SetCurrentRecordBuffer(FActiveBuffer);
    try {
      FHandle->InternalCancel(FState == dsInsert);
    } catch (...) {
      // Closing goes on whatever the cancel makes of the pending edit: it is dropped either way.
    }
  }
  BeforeHandleClosed();
  ClearBuffers();
  if (FHandle) {
    try {
      FHandle->CloseTable();
    } catch (...) {
      // The dataset is closed whatever the cursor makes of it; its handle goes next.
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
  // The dataset is closed whatever a link makes of it; a link's failure (a detail record that
  // could not be posted) is raised after the close event.
  std::exception_ptr LinkError;
  try {
    NotifyDataLinks(true);
  } catch (...) {
    LinkError = std::current_exception();
  }
  if (AfterClose) AfterClose(*this);
  if (LinkError) std::rethrow_exception(LinkError);
}

uint8_t* TVLTDataSet::CurrentBuffer() const {
  switch (FState) {
    case dsSetKey: return FKeyBuffer;
    case dsFilter: return const_cast<uint8_t*>(FFilterBuffer);
    case dsCalcFields: return FCalcBuffer;
    default: return FActiveBuffer;
  }
}

bool TVLTDataSet::ReadRecord(TVLTGetRecordMode Mode) {
  TVLTCursor& C = *FHandle;
  TVLTGetRecordResult R = grrError;
  {
    TVLTRecordBuffer Scratch = FSpareBuffer
                                   ? TVLTRecordBuffer(C, std::exchange(FSpareBuffer, nullptr))
                                   : TVLTRecordBuffer(C);
    // The buffer left over on every path (the one replaced, or the unused scratch) serves the
    // next read instead of a new allocation.
    TVLTScopeExit KeepSpare([&] {
      if (!Scratch) return;
      try {
        C.RecycleRecordBuffer(Scratch.get());
        FSpareBuffer = Scratch.Detach();
      } catch (...) {
        // Not recycled: Scratch frees it.
      }
    });
    // The table data may take the current key from the buffer it is given.
    // BLOB slots are not copied: they may hold cached data that belongs to the active buffer.
    if (FActiveBuffer && FHasRecord) {
      std::memcpy(Scratch.get(), FActiveBuffer, static_cast<size_t>(C.FRecordSize));
      const int32_t Fields = C.FieldCount();
      for (int32_t I = 0; I < Fields; ++I) {
        const TVLTFieldDef& D = (*C.FFieldDefs)[I];
        if (D.FBaseFieldType == bftBlob || D.FBaseFieldType == bftClob ||
            D.FBaseFieldType == bftWideClob) {
          std::memset(Scratch.get() + D.FMemoryOffset, 0, static_cast<size_t>(D.FMemoryDataSize));
          Scratch.get()[I / 8] = static_cast<uint8_t>(Scratch.get()[I / 8] | (1u << (I % 8)));
        }
      }
    }
    // The cursor must never keep a pointer to a freed buffer.
    TVLTScopeExit PointBack([&] { C.SetCurrentRecordBuffer(FActiveBuffer); });
    C.SetCurrentRecordBuffer(Scratch.get());
    R = C.GetRecordBuffer(Mode);
    if (R == grrOK) {
      C.SetBufferRecordID(Scratch.get(), C.GetCurrentRecordID());
      C.SetBookmarkFlag(Scratch.get(), kBookmarkCurrent);
      uint8_t* Shown = FActiveBuffer;
      FActiveBuffer = Scratch.Detach();
      Scratch.Adopt(Shown);
      FHasRecord = true;
    }
  }
  if (R == grrOK) CalculateFields(FActiveBuffer);
  if (R == grrError && Mode == grmCurrent) return false;
  return R == grrOK;
}

void TVLTDataSet::PositionCursorOnActive() {
  TVLTCursor& C = *FHandle;
  C.PositionOnRecord(C.GetBufferRecordID(FActiveBuffer));
}

void TVLTDataSet::ReadAround(const TVLTPageItemID& RecordID) {
  TVLTCursor& C = *FHandle;
  C.PositionOnRecord(RecordID);
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
  AfterScrolled();
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
  AfterScrolled();
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
  AfterScrolled();
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
  AfterScrolled();
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
  TVLTSavedPosition Pos(*FHandle, TVLTSavedPosition::oeRestore);
  PositionCursorOnActive();
  return static_cast<int32_t>(FHandle->GetRecNo());
}

void TVLTDataSet::SetRecNo(int32_t Value) {
  CheckActive();
  CheckBrowseMode();
  FireScroll(BeforeScroll);
  FHandle->SetRecNo(Value);
  FHandle->PositionOnCurrentRecord();
  ReadRecord(grmCurrent);
  FBof = FEof = false;
  AfterScrolled();
}

void TVLTDataSet::Insert() {
  CheckActive();
  CheckBrowseMode();
  if (!CanModify()) DatabaseError("Cannot modify a read-only dataset");
  if (BeforeInsert) BeforeInsert(*this);
  TVLTRecordBuffer New(*FHandle);
  FHandle->InternalInitRecord(New.get(), true);
  FHandle->SetBookmarkFlag(New.get(), kBookmarkInserted);
  FHandle->SetBufferRecordID(New.get(), TVLTPageItemID{-1, 0xFFFF});
  // The shown record is kept as the edit copy slot until post or cancel brings it back.
  if (FEditRecordBuffer) FHandle->FreeRecordBuffer(FEditRecordBuffer);
  FEditRecordBuffer = FActiveBuffer;
  FActiveBuffer = New.get();
  FState = dsInsert;
  FModified = false;
  try {
    DoOnNewRecord();
  } catch (...) {
    FActiveBuffer = FEditRecordBuffer;  // the new record goes with New
    FEditRecordBuffer = nullptr;
    FState = dsBrowse;
    throw;
  }
  New.Detach();  // the active buffer from now on
  NotifyDataLinks(false);
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
  CheckOperation(
      [this] {
        TVLTCursor& C = *FHandle;
        TVLTRecordBuffer Shown(C);
        std::memcpy(Shown.get(), FActiveBuffer, static_cast<size_t>(C.FRecordSize));
        PositionCursorOnActive();
        C.SetCurrentRecordBuffer(FActiveBuffer);
        C.InternalEdit();
        if (C.FErrorCode != 0)
          throw EVLTEngineError(C.FErrorCode,
                                C.FErrorCode == kCursorConstraintFailed ? C.FErrorMessage : "");
        FEditRecordBuffer = Shown.Detach();
      },
      OnEditError);
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
  TVLTCursor& C = *FHandle;
  const bool ToInsert = FState == dsInsert;
  CheckOperation(
      [this, &C, ToInsert] {
        for (auto& F : FFields)
          if (F->FRequired && !F->FReadOnly && F->FFieldKind == fkData && F->IsNull())
            DatabaseError("Field '" + F->DisplayName() + "' must have a value");
        if (FState != dsEdit && FState != dsInsert)
          throw EVLTException(10030, "Dataset is not in insert or edit mode");
        if (FReadOnly) throw EVLTException(10032, "Dataset is in read only mode");
        C.SetCurrentRecordBuffer(FActiveBuffer);
        C.SetEditRecordBuffer(ToInsert ? nullptr : FEditRecordBuffer);
        C.InternalPost(ToInsert);
        C.SetEditRecordBuffer(nullptr);
        if (C.FErrorCode != 0)
          throw EVLTEngineError(C.FErrorCode,
                                C.FErrorCode == kCursorConstraintFailed ? C.FErrorMessage : "");
      },
      OnPostError);
  if (FEditRecordBuffer) C.FreeRecordBuffer(FEditRecordBuffer);
  FState = dsBrowse;
  FModified = false;
  ReadAround(ToInsert ? C.GetCurrentRecordID() : C.GetBufferRecordID(FActiveBuffer));
  NotifyDataLinks(false);
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
  C.SetCurrentRecordBuffer(FActiveBuffer);
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
    NotifyDataLinks(false);
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
  TVLTCursor& C = *FHandle;
  if (FState == dsEdit) CheckBrowseMode();
  TVLTPageItemID After{-1, 0xFFFF};
  CheckOperation(
      [this, &C, &After] {
        if (FReadOnly) throw EVLTException(10069, "Dataset is in read only mode");
        // Where the window goes afterwards: the next record, else the new last one.
        const TVLTPageItemID Deleted = C.GetBufferRecordID(FActiveBuffer);
        After = TVLTPageItemID{-1, 0xFFFF};
        PositionCursorOnActive();
        if (ReadRecord(grmNext)) After = C.GetBufferRecordID(FActiveBuffer);
        // Back to the record to delete: the cursor checks it against the stored one.
        C.PositionOnRecord(Deleted);
        if (!ReadRecord(grmCurrent)) throw EVLTEngineError(kCursorDeleteDeleted);
        C.PositionOnRecord(Deleted);
        C.SetCurrentRecordBuffer(FActiveBuffer);
        C.InternalDelete();
        if (C.FErrorCode != 0) throw EVLTEngineError(C.FErrorCode);
      },
      OnDeleteError);
  FState = dsBrowse;
  ReadAround(After);
  if (AfterDelete) AfterDelete(*this);
  AfterScrolled();
}

void TVLTDataSet::CheckOperation(const std::function<void()>& Operation,
                                 const TDataSetErrorEvent& OnError) {
  for (;;) {
    try {
      Operation();
      return;
    } catch (const EVLTAbort&) {
      throw;
    } catch (const std::exception& E) {
      if (!OnError) throw;
      TDataAction Action = daFail;
      OnError(*this, E, Action);
      if (Action == daFail) throw;
      if (Action == daAbort) throw EVLTAbort();
    }
  }
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
    NotifyDataLinks(false);
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
      // With calculated fields the handler sees a copy of the candidate that has them.
      TVLTRecordBuffer Copy;
      if (FCalcFieldsSize > 0) {
        Copy = TVLTRecordBuffer(*FHandle);
        std::memcpy(Copy.get(), Record, static_cast<size_t>(FHandle->FBookmarkOffset));
      }
      bool Accept = true;
      try {
        if (Copy) {
          FState = dsFilter;  // the calculation returns to the filter state
          CalculateFields(Copy.get());
        }
        FState = dsFilter;
        FFilterBuffer = Copy ? Copy.get() : Record;
        FOnFilterRecord(*this, Accept);
      } catch (...) {
        // This build has no error display to report a failing handler to: the value Accept had
        // decides.
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

bool TVLTDataSet::FindFirst() { return FindRecord(fsFirst); }
bool TVLTDataSet::FindLast() { return FindRecord(fsLast); }
bool TVLTDataSet::FindNext() { return FindRecord(fsNext); }
bool TVLTDataSet::FindPrior() { return FindRecord(fsPrior); }

bool TVLTDataSet::FindRecord(TFindStart Start) {
  CheckBrowseMode();
  FireScroll(BeforeScroll);
  const bool FromActive = Start == fsNext || Start == fsPrior;
  if (FromActive && !FHasRecord) return false;
  TFindScope Scope{*this, FFiltered, FFiltered, [this] { ActivateFilters(); }};
  FFiltered = true;
  ActivateFilters();
  if (Start == fsFirst)
    FHandle->InternalFirst();
  else if (Start == fsLast)
    FHandle->InternalLast();
  else
    PositionCursorOnActive();
  if (!ReadRecord(Start == fsFirst || Start == fsNext ? grmNext : grmPrior)) return false;
  FBof = Start == fsFirst;
  FEof = Start == fsLast;
  AfterScrolled();
  return true;
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
    FHandle->PositionOnCurrentRecord();
    ReadRecord(grmCurrent);
    FBof = FEof = false;
    AfterScrolled();
  }
  return Found;
}

std::vector<TVLTVariant> TVLTDataSet::Lookup(const std::string& KeyFields,
                                             const std::vector<TVLTVariant>& KeyValues,
                                             const std::string& ResultFields) {
  CheckBrowseMode();
  const std::vector<std::string> Names = VLTSplitFieldList(ResultFields);
  std::vector<TVLTVariant> Result(Names.size());
  TVLTSavedPosition Pos(*FHandle, TVLTSavedPosition::oeRestore);
  // The search reads into a record of its own (ReadRecord replaces and frees it as it goes);
  // afterwards the shown record is active again and the cursor points at it.
  uint8_t* const Shown = FActiveBuffer;
  const bool ShownHas = FHasRecord;
  FActiveBuffer = FHandle->AllocateRecordBuffer();
  TVLTScopeExit Back([&] {
    FHandle->FreeRecordBuffer(FActiveBuffer);
    FActiveBuffer = Shown;
    FHasRecord = ShownHas;
    FHandle->SetCurrentRecordBuffer(Shown);
  });
  bool Found = false;
  {
    TScratchRecord Scratch(*FHandle, FActiveBuffer);
    Found = FHandle->Locate(KeyFields, KeyValues, false, false);
  }
  if (Found) {
    FHandle->PositionOnCurrentRecord();
    if (ReadRecord(grmCurrent))
      for (size_t I = 0; I < Names.size(); ++I) Result[I] = FieldByName(Names[I]).AsVariant();
  }
  return Result;
}

bool TVLTDataSet::GetCurrentRecord(uint8_t* Buffer) {
  if (!Active() || !Buffer || !FHasRecord || FState == dsInsert) return false;
  TVLTCursor& C = *FHandle;
  bool Ok = false;
  TVLTPageItemID Id{-1, 0xFFFF};
  {
    TVLTSavedPosition Pos(C, TVLTSavedPosition::oeRestore);
    PositionCursorOnActive();
    TVLTScopeExit PointBack([&] { C.SetCurrentRecordBuffer(FActiveBuffer); });
    C.SetCurrentRecordBuffer(Buffer);
    Ok = C.GetRecordBuffer(grmCurrent) == grrOK;
    Id = C.GetCurrentRecordID();
  }
  if (Ok) {
    C.SetBufferRecordID(Buffer, Id);
    C.SetBookmarkFlag(Buffer, kBookmarkCurrent);
  }
  return Ok;
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
  FHandle->PositionOnRecord(BookmarkID(Bookmark));
  if (!ReadRecord(grmCurrent)) throw EVLTException(10026, "Cannot retrieve record");
  FBof = FEof = false;
  AfterScrolled();
}

bool TVLTDataSet::BookmarkValid(const TVLTBookmark& Bookmark) {
  if (Bookmark.size() < 6 || !Active()) return false;
  TVLTSavedPosition Pos(*FHandle, TVLTSavedPosition::oeRestore);
  TScratchRecord Scratch(*FHandle, FActiveBuffer);
  FHandle->PositionOnRecord(BookmarkID(Bookmark));
  bool Ok = false;
  try {
    Ok = FHandle->GetRecordBuffer(grmCurrent) == grrOK;
  } catch (...) {
    // A record that cannot be read makes the bookmark invalid: Ok stays false.
  }
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
  FHandle->SetCurrentRecordBuffer(CurrentBuffer());
  FHandle->InternalCloseBLOB(Field.FieldNo() - 1);
  if (Modified) FModified = true;
}

void TVLTDataSet::GetFieldVariant(const TVLTField& Field, TVLTVariant& Value) {
  if (!Active()) DatabaseError("Cannot perform this operation on a closed dataset");
  if (Field.FFieldKind != fkData) {
    GetCalcFieldValue(Field, Value);
    return;
  }
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
    } else if (Data.find('\0') != std::string::npos) {
      // Content with zero bytes stays whole: a text value would end at the first of them.
      Value.SetData(Data.data(), static_cast<int32_t>(Data.size()), true, bftClob);
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
  // Only the calculation may write lookup fields; it writes no data fields.
  if ((Field.FReadOnly && FState != dsSetKey && FState != dsCalcFields) ||
      (Field.FFieldKind == fkLookup && FState != dsCalcFields) ||
      (Field.FFieldKind == fkData && FState == dsCalcFields))
    DatabaseError("Field '" + Field.DisplayName() + "' cannot be modified");
  if (FState == dsSetKey) CheckSetKeyField(Field);
  if (Field.FFieldKind != fkData) {
    SetCalcFieldValue(Field, Value);
    return;
  }
  if (Field.FieldNo() <= 0) return;
  if (Field.IsBlob()) {
    TVLTBLOBStream S(Field, bmWrite);
    if (!Value.IsNull() && Value.IsBlobDataType()) {
      S.Write(Value.Data(), static_cast<int64_t>(Value.DataSize()));  // the bytes as they are
    } else if (!Value.IsNull()) {
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
  if (FAutoCalcFields && (FState == dsEdit || FState == dsInsert)) CalculateFields(FActiveBuffer);
}

}  // namespace vlt
