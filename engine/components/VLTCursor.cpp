#include "engine/components/VLTCursor.h"

#include <algorithm>
#include <cstring>

#include "engine/base/VLTExcept.h"
#include "engine/base/VLTMemory.h"
#include "engine/components/VLTBaseSession.h"
#include "engine/core/VLTFieldManager.h"

namespace vlt {

TVLTCursor::TVLTCursor() = default;
TVLTCursor::~TVLTCursor() = default;

void TVLTCursor::SetSession(TVLTBaseSession* Session) {
  FBaseSession = Session;
  FSession = Session;
}

void TVLTCursor::SetIndexName(const std::string& Name) {
  FIndexName = Name;
  const TVLTIndexDef* Def = (FIndexDefs && !Name.empty()) ? FIndexDefs->GetIndexDefByName(Name)
                                                          : nullptr;
  FIndexID = Def ? Def->FObjectID : -1;
  FPhysicalOrder = FIndexID == -1;
  DisableRecordBitmap();
}

void TVLTCursor::RenameField(const std::string& FieldName, const std::string& NewFieldName) {
  if (!FFieldDefs) VLTRaiseNilPointer(30347);
  TVLTFieldDef* F = FFieldDefs->GetFieldDefByName(FieldName);
  if (!F) throw EVLTException(30345, "Field '%s' not found", {FieldName});
  TVLTFieldDef* Other = FFieldDefs->GetFieldDefByName(NewFieldName);
  if (Other && Other != F)
    throw EVLTException(30346, "Cannot rename field '%s'. Field '%s' already exists",
                        {FieldName, NewFieldName});
  F->SetName(NewFieldName);
}

TVLTIndexDefs& TVLTCursor::GetIndexDefs() {
  if (!FIndexDefs) FIndexDefs = std::make_unique<TVLTIndexDefs>();
  return *FIndexDefs;
}

void TVLTCursor::FreeRecordBuffer(uint8_t*& Buffer) {
  if (Buffer) TVLTMemoryManager::Instance().FreeMem(Buffer);
  Buffer = nullptr;
}

void TVLTCursor::RecycleRecordBuffer(uint8_t* Buffer) {
  if (!Buffer) return;
  std::memset(Buffer, 0, static_cast<size_t>(FRecordBufferSize > 0 ? FRecordBufferSize : 7));
  SetBufferRecordID(Buffer, TVLTPageItemID{-1, 0xFFFF});
}

bool TVLTCursor::FilterExpressionsAccept(const uint8_t* RecordBuffer) {
  for (TVLTExpression* E : {FFilterExpression.get(), FSQLFilterExpression}) {
    if (!E) continue;
    E->AssignCursorBuffer(RecordBuffer, false);
    if (!E->GetResult()) return false;
  }
  return true;
}

bool TVLTCursor::SearchExpressionAccepts(const TVLTExpression& Expression,
                                         const uint8_t* RecordBuffer) {
  // Evaluating writes only the nodes' own result values; the table data hands the search
  // expression over as const because it never changes the condition itself.
  auto& E = const_cast<TVLTExpression&>(Expression);
  E.AssignCursorBuffer(RecordBuffer, false);
  return E.GetResult();
}

uint8_t* TVLTCursor::AllocateScanKeyBuffer(int32_t& Size) {
  uint8_t* B = AllocateRecordBuffer();
  Size = FRecordBufferSize;
  const int32_t Bitmap = (FieldCount() + 7) / 8;
  std::memset(B, 0xFF, static_cast<size_t>(std::min(Bitmap, Size)));
  return B;
}

void TVLTCursor::SetScanKeyValue(const TVLTVariant& Value, int32_t FieldNo, uint8_t* Buffer) {
  SetFieldValue(Value, FieldNo, true, Buffer);
}

bool TVLTCursor::FindExprField(std::string_view Name, TVLTExprFieldInfo& Info) const {
  int32_t No = FFieldDefs ? FFieldDefs->GetDefNumberByName(Name) : -1;
  if (No < 0 && FVisibleFieldDefs) {
    const int32_t V = FVisibleFieldDefs->GetDefNumberByName(Name);
    if (V >= 0) No = (*FVisibleFieldDefs)[V].FFieldNoReference;
  }
  if (No < 0 || No >= FieldCount()) return false;
  const TVLTFieldDef& F = (*FFieldDefs)[No];
  Info.FieldName = F.FName;
  Info.FieldNo = No;
  Info.Offset = F.FMemoryOffset;
  Info.DataSize = F.FMemoryDataSize;
  Info.FieldSize = F.FFieldSize;
  Info.FieldType = F.FAdvancedFieldType;
  Info.BaseFieldType = F.FBaseFieldType;
  return true;
}

// ---- geometry ----

void TVLTCursor::CalcBufferGeometry() {
  const int32_t N = FieldCount();
  if (N == 0) {
    FFieldValuesOffset = 0;
    FBookmarkOffset = 0;
  } else {
    const TVLTFieldDef& First = (*FFieldDefs)[0];
    const TVLTFieldDef& Last = (*FFieldDefs)[N - 1];
    FFieldValuesOffset = First.FMemoryOffset;
    FBookmarkOffset = Last.FMemoryOffset + Last.FMemoryDataSize;
  }
  FKeyOffset = FBookmarkOffset;
  FKeyBufferSize = FBookmarkOffset + 6;
  FRecordSize = FRecordBufferSize = FCalculatedFieldsOffset = FBookmarkOffset + 7;
}

int32_t TVLTCursor::TableFieldNo(int32_t FieldNo, bool DirectAccess, int32_t Code) const {
  const int32_t Count = DirectAccess ? FieldCount() : VisibleFieldCount();
  if (FieldNo < 0 || FieldNo >= Count)
    throw EVLTException(Code, "Invalid field number - FieldNo = %d, FieldCount = %d",
                        {int64_t{FieldNo}, int64_t{Count}});
  return DirectAccess ? FieldNo : (*FVisibleFieldDefs)[FieldNo].FFieldNoReference;
}

const TVLTFieldDef& TVLTCursor::TableFieldDef(int32_t TableFieldNo) const {
  return (*FFieldDefs)[TableFieldNo];
}

// ---- field values ----

bool TVLTCursor::GetFieldData(int32_t FieldNo, void* Buffer, const uint8_t* RecordBuffer) const {
  const int32_t T = TableFieldNo(FieldNo, false, 10005);
  TVLTBaseFieldManager* FM = FieldManager();
  if (!FM) VLTRaiseNilPointer(10610);
  return FM->GetFieldData(T, Buffer, RecordBuffer ? RecordBuffer : FCurrentRecordBuffer);
}

void TVLTCursor::SetFieldData(int32_t FieldNo, const void* Buffer, uint8_t* RecordBuffer) const {
  const int32_t T = TableFieldNo(FieldNo, false, 10006);
  TVLTBaseFieldManager* FM = FieldManager();
  if (!FM) VLTRaiseNilPointer(10611);
  FM->SetFieldData(T, Buffer, RecordBuffer ? RecordBuffer : FCurrentRecordBuffer);
}

void TVLTCursor::GetFieldValue(TVLTVariant& Value, int32_t FieldNo, bool DirectAccess,
                               const uint8_t* RecordBuffer) const {
  const int32_t T = TableFieldNo(FieldNo, DirectAccess, DirectAccess ? 20191 : 10317);
  const uint8_t* B = RecordBuffer ? RecordBuffer : FCurrentRecordBuffer;
  if (!B) VLTRaiseNilPointer(10318);
  const TVLTFieldDef& F = TableFieldDef(T);
  if (VLTIsFieldNull(B, T)) {
    Value = TVLTVariant(F.FBaseFieldType);
    return;
  }
  Value.SetData(B + F.FMemoryOffset, F.FMemoryDataSize, true, F.FBaseFieldType);
}

void TVLTCursor::SetFieldValue(const TVLTVariant& Value, int32_t FieldNo, bool DirectAccess,
                               uint8_t* RecordBuffer) const {
  const int32_t T = TableFieldNo(FieldNo, DirectAccess, DirectAccess ? 20192 : 20193);
  uint8_t* B = RecordBuffer ? RecordBuffer : FCurrentRecordBuffer;
  if (!B) VLTRaiseNilPointer(20600);
  const TVLTFieldDef& F = TableFieldDef(T);
  // An empty string is NULL throughout the engine.
  if (Value.IsNullOrEmpty()) {
    VLTSetFieldNull(B, T, true);
    return;
  }
  TVLTVariant V(Value);
  V.Cast(F.FBaseFieldType);
  const int32_t Size = F.FMemoryDataSize;
  const int32_t N = std::min(Size, V.DataSize());
  uint8_t* Target = B + F.FMemoryOffset;
  std::memcpy(Target, V.Data(), static_cast<size_t>(N));
  std::memset(Target + N, 0, static_cast<size_t>(Size - N));
  // A string cut to the field keeps its terminator.
  if (N == Size && Size > 0) {
    if (F.FBaseFieldType == bftChar || F.FBaseFieldType == bftVarchar) Target[Size - 1] = 0;
    if ((F.FBaseFieldType == bftWideChar || F.FBaseFieldType == bftWideVarchar) && Size >= 2)
      Target[Size - 1] = Target[Size - 2] = 0;
  }
  VLTSetFieldNull(B, T, false);
}

void TVLTCursor::ClearStringFieldsGarbage(uint8_t* RecordBuffer) const {
  for (int32_t I = 0; I < FieldCount(); ++I) {
    const TVLTFieldDef& F = TableFieldDef(I);
    const bool Ansi = F.FBaseFieldType == bftChar || F.FBaseFieldType == bftVarchar;
    const bool Wide = F.FBaseFieldType == bftWideChar || F.FBaseFieldType == bftWideVarchar;
    if (!Ansi && !Wide) continue;
    uint8_t* P = RecordBuffer + F.FMemoryOffset;
    const int32_t Size = F.FMemoryDataSize;
    if (VLTIsFieldNull(RecordBuffer, I)) {
      std::memset(P, 0, static_cast<size_t>(Size));
      continue;
    }
    int32_t End = Size;
    if (Ansi) {
      for (int32_t K = 0; K < Size; ++K)
        if (P[K] == 0) {
          End = K;
          break;
        }
    } else {
      for (int32_t K = 0; K + 1 < Size; K += 2)
        if (P[K] == 0 && P[K + 1] == 0) {
          End = K;
          break;
        }
    }
    if (End < Size) std::memset(P + End, 0, static_cast<size_t>(Size - End));
  }
}

// ---- buffers ----

uint8_t* TVLTCursor::AllocateRecordBuffer() const {
  auto* B = static_cast<uint8_t*>(TVLTMemoryManager::Instance().AllocMem(
      static_cast<size_t>(FRecordBufferSize > 0 ? FRecordBufferSize : 7)));
  SetBufferRecordID(B, TVLTPageItemID{-1, 0xFFFF});
  return B;
}

uint8_t* TVLTCursor::AllocateKeyRecordBuffer() const {
  return static_cast<uint8_t*>(
      TVLTMemoryManager::Instance().AllocMem(static_cast<size_t>(FKeyBufferSize > 0 ? FKeyBufferSize : 6)));
}

void TVLTCursor::InternalInitKeyBuffer(uint8_t* Buffer) {
  std::memset(Buffer, 0, static_cast<size_t>(FKeyBufferSize));
  InternalInitRecord(Buffer, false);
}

TVLTPageItemID TVLTCursor::GetBufferRecordID(const uint8_t* RecordBuffer) const {
  TVLTPageItemID ID;
  ID.PageNo = LoadLE<int32_t>(RecordBuffer + FBookmarkOffset);
  ID.PageItemNo = LoadLE<uint16_t>(RecordBuffer + FBookmarkOffset + 4);
  return ID;
}

void TVLTCursor::SetBufferRecordID(uint8_t* RecordBuffer, const TVLTPageItemID& RecordID) const {
  StoreLE<int32_t>(RecordBuffer + FBookmarkOffset, RecordID.PageNo);
  StoreLE<uint16_t>(RecordBuffer + FBookmarkOffset + 4, RecordID.PageItemNo);
}

int32_t TVLTCursor::GetKeyFieldCount(const uint8_t* KeyBuffer) const {
  return LoadLE<int32_t>(KeyBuffer + FKeyOffset + 2);
}

void TVLTCursor::SetKeyFieldCount(uint8_t* KeyBuffer, int32_t Count) const {
  StoreLE<int32_t>(KeyBuffer + FKeyOffset + 2, Count);
}

// ---- positions ----

uint8_t* TVLTCursor::SavePosition() const {
  auto* P = static_cast<uint8_t*>(TVLTMemoryManager::Instance().GetMem(8));
  P[0] = FirstPosition ? 1 : 0;
  P[1] = LastPosition ? 1 : 0;
  StoreLE<int32_t>(P + 2, CurrentRecordID.PageNo);
  StoreLE<uint16_t>(P + 6, CurrentRecordID.PageItemNo);
  return P;
}

void TVLTCursor::RestorePosition(const uint8_t* Pos) {
  if (!Pos) VLTRaiseNilPointer(10612);
  FirstPosition = Pos[0] != 0;
  LastPosition = Pos[1] != 0;
  CurrentRecordID.PageNo = LoadLE<int32_t>(Pos + 2);
  CurrentRecordID.PageItemNo = LoadLE<uint16_t>(Pos + 6);
}

void TVLTCursor::FreePosition(uint8_t*& Pos) const {
  if (Pos) TVLTMemoryManager::Instance().FreeMem(Pos);
  Pos = nullptr;
}

// ---- view ----

void TVLTCursor::DisableRecordBitmap() {
  if (FRecordBitmap) FRecordBitmap->Clear();
}

void TVLTCursor::ApplyRange(uint8_t* StartBuffer, uint8_t* EndBuffer, int32_t StartKeyFieldCount,
                            int32_t EndKeyFieldCount, bool StartExclusive, bool EndExclusive) {
  FRangeStartBuffer = StartBuffer;
  FRangeEndBuffer = EndBuffer;
  FRangeStartKeyFieldCount = StartKeyFieldCount;
  FRangeEndKeyFieldCount = EndKeyFieldCount;
  FRangeStartExclusive = StartExclusive;
  FRangeEndExclusive = EndExclusive;
  DisableRecordBitmap();
}

void TVLTCursor::ResetRange() {
  FRangeStartBuffer = FRangeEndBuffer = nullptr;
  DisableRecordBitmap();
}

}  // namespace vlt
