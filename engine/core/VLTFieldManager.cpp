#include "engine/core/VLTFieldManager.h"

#include <algorithm>
#include <cstring>

#include "engine/base/VLTExcept.h"
#include "engine/core/VLTTableData.h"

namespace vlt {

namespace {

bool HoldsEmptyString(const TVLTFieldDef& F, const void* Source) {
  if (IsWideStringAdvancedType(F.FAdvancedFieldType))
    return LoadLE<uint16_t>(Source) == 0;
  if (IsStringAdvancedType(F.FAdvancedFieldType)) return *static_cast<const uint8_t*>(Source) == 0;
  return false;
}

}  // namespace

TVLTBaseFieldManager::TVLTBaseFieldManager(TVLTTableData* TableData,
                                           std::unique_ptr<TVLTFieldDefs> FieldDefs)
    : FFieldDefs(FieldDefs ? std::move(FieldDefs) : std::make_unique<TVLTFieldDefs>()),
      FTableData(TableData) {
  RecalcFieldOffsets();
  InitLastAutoIncValues();
}

TVLTBaseFieldManager::~TVLTBaseFieldManager() = default;

TVLTFieldDef& TVLTBaseFieldManager::CheckedField(int32_t FieldNo, int32_t Code) const {
  if (FieldNo < 0 || FieldNo >= FieldCount())
    throw EVLTException(Code, "Invalid field number - FieldNo = %d, FieldCount = %d",
                        {int64_t{FieldNo}, int64_t{FieldCount()}});
  return (*FFieldDefs)[FieldNo];
}

// ---- autoincrement ----

int64_t TVLTBaseFieldManager::IncrementLastAutoinc(int32_t FieldNo) {
  if (FieldNo < 0 || FieldNo >= FieldCount())
    throw EVLTException(30402, "Field #%d not found", {int64_t{FieldNo}});
  if (FieldNo >= static_cast<int32_t>(FLastAutoIncValues.size()))
    throw EVLTException(30403, "Field #%d not found", {int64_t{FieldNo}});
  const TVLTFieldDef& F = (*FFieldDefs)[FieldNo];
  const int64_t Increment = F.FAutoincIncrement == 0 ? 1 : F.FAutoincIncrement;
  // A sum beyond the 64-bit range counts as beyond the maximum: wrapping round would hand out
  // values already used.
  int64_t Value = 0;
  const bool Overflow = __builtin_add_overflow(FLastAutoIncValues[FieldNo], Increment, &Value);
  if (Overflow || (F.FAutoincMaxValue != 0 && Value > F.FAutoincMaxValue)) {
    if (!F.FAutoincCycled)
      throw EVLTException(20160, "Autoinc max value exceeded for field '%s'", {F.FName});
    Value = F.FAutoincMinValue;
  }
  FLastAutoIncValues[FieldNo] = Value;
  return Value;
}

int64_t TVLTBaseFieldManager::GetNextAutoinc(TVLTSessionData* Session, int32_t FieldNo) {
  const int64_t Value = IncrementLastAutoinc(FieldNo);
  if (Session) {
    const TVLTFieldDef& F = (*FFieldDefs)[FieldNo];
    Session->SetSequenceValue(F.FObjectID, F.FName, Value);
  }
  return Value;
}

int64_t TVLTBaseFieldManager::GetLastAutoinc(TVLTSessionData* Session, int32_t FieldNo) {
  if (FieldNo < 0 || FieldNo >= FieldCount())
    throw EVLTException(30402, "Field #%d not found", {int64_t{FieldNo}});
  const TVLTFieldDef& F = (*FFieldDefs)[FieldNo];
  if (Session)
    if (const auto* V = Session->FindSequenceValue(F.FObjectID)) return V->FValue;
  if (Session && Session->MultiUser)
    throw EVLTException(30012,
                        "No SequenceLastValue in session for sequence '%s'. Call GetNextVal first",
                        {F.FName});
  if (IsAutoincAdvancedType(F.FAdvancedFieldType) &&
      FieldNo < static_cast<int32_t>(FLastAutoIncValues.size()))
    return FLastAutoIncValues[FieldNo];
  return 0;
}

void TVLTBaseFieldManager::UpdateLastAutoinc(TVLTSessionData* Session, int32_t FieldNo,
                                             int64_t InsertedValue) {
  if (FieldNo < 0 || FieldNo >= static_cast<int32_t>(FLastAutoIncValues.size()))
    throw EVLTException(30403, "Field #%d not found", {int64_t{FieldNo}});
  if (InsertedValue <= FLastAutoIncValues[FieldNo]) return;
  FLastAutoIncValues[FieldNo] = InsertedValue;
  if (Session) {
    const TVLTFieldDef& F = (*FFieldDefs)[FieldNo];
    Session->SetSequenceValue(F.FObjectID, F.FName, InsertedValue);
  }
}

int64_t TVLTBaseFieldManager::LastAutoIncValue(int32_t FieldNo) const {
  if (FieldNo < 0 || FieldNo >= static_cast<int32_t>(FLastAutoIncValues.size()))
    throw EVLTException(30403, "Field #%d not found", {int64_t{FieldNo}});
  return FLastAutoIncValues[FieldNo];
}

void TVLTBaseFieldManager::SetLastAutoIncValue(int32_t FieldNo, int64_t Value) {
  if (FieldNo < 0 || FieldNo >= static_cast<int32_t>(FLastAutoIncValues.size()))
    throw EVLTException(30403, "Field #%d not found", {int64_t{FieldNo}});
  FLastAutoIncValues[FieldNo] = Value;
}

void TVLTBaseFieldManager::ApplyAutoincsToRecordBuffer(TVLTSessionData* Session,
                                                       uint8_t* RecordBuffer) {
  if (!RecordBuffer) VLTRaiseNilPointer(10016);
  for (int32_t I = 0; I < FieldCount(); ++I) {
    const TVLTFieldDef& F = (*FFieldDefs)[I];
    if (!IsAutoincAdvancedType(F.FAdvancedFieldType)) continue;
    const size_t Size = static_cast<size_t>(std::min<int32_t>(F.FMemoryDataSize, 8));
    uint8_t* Slot = RecordBuffer + F.FMemoryOffset;
    if (VLTIsFieldNull(RecordBuffer, I)) {
      const int64_t Value = GetNextAutoinc(Session, I);
      std::memcpy(Slot, &Value, Size);  // the low memory-size bytes (little-endian)
      VLTSetFieldNull(RecordBuffer, I, false);
    } else {
      uint64_t Value = 0;
      std::memcpy(&Value, Slot, Size);  // zero-extended
      UpdateLastAutoinc(Session, I, static_cast<int64_t>(Value));
    }
  }
}

void TVLTBaseFieldManager::ApplyDefaultValuesToRecordBuffer(TVLTSessionData*, uint8_t* RecordBuffer) {
  if (!RecordBuffer) VLTRaiseNilPointer(10016);
  for (int32_t I = 0; I < FieldCount(); ++I) {
    const TVLTFieldDef& F = (*FFieldDefs)[I];
    if (IsBlobAdvancedType(F.FAdvancedFieldType) || IsBlobBaseType(F.FBaseFieldType)) continue;
    if (F.DefaultValue().IsNull()) continue;
    // A default expression is evaluated for every record. A value of another type is cast to
    // the field's type first, so the bytes copied are always in the field's own layout.
    TVLTVariant Value(F.CurrentDefaultValue());
    if (Value.DataType() != F.FBaseFieldType) Value.Cast(F.FBaseFieldType);
    if (Value.IsNull()) continue;
    uint8_t* Slot = RecordBuffer + F.FMemoryOffset;
    std::memset(Slot, 0, static_cast<size_t>(F.FMemoryDataSize));
    std::memcpy(Slot, Value.Data(),
                static_cast<size_t>(std::min(Value.DataSize(), F.FMemoryDataSize)));
    if (IsStringBaseType(F.FBaseFieldType) && F.FMemoryDataSize > 0) {
      // A default longer than the field is cut, and still ends with its terminating zero.
      const int32_t Unit = IsWideStringBaseType(F.FBaseFieldType) ? 2 : 1;
      std::memset(Slot + F.FMemoryDataSize - Unit, 0, static_cast<size_t>(Unit));
    }
    VLTSetFieldNull(RecordBuffer, I, false);
  }
}

// ---- layout ----

void TVLTBaseFieldManager::LoadMetadata(TVLTStream& Stream) {
  FFieldDefs->LoadFromStream(Stream);
  RecalcFieldOffsets();
  InitLastAutoIncValues();
}

void TVLTBaseFieldManager::SaveMetadata(TVLTStream& Stream) const { FFieldDefs->SaveToStream(Stream); }

void TVLTBaseFieldManager::LoadMostUpdated(const uint8_t* Buffer, int32_t& Offset) {
  FLastAutoIncValues.assign(static_cast<size_t>(FieldCount()), 0);
  for (auto& V : FLastAutoIncValues) {
    V = LoadLE<int64_t>(Buffer + Offset);
    Offset += 8;
  }
}

void TVLTBaseFieldManager::SaveMostUpdated(uint8_t* Buffer, int32_t& Offset) const {
  for (int32_t I = 0; I < FieldCount(); ++I) {
    StoreLE<int64_t>(Buffer + Offset,
                     I < static_cast<int32_t>(FLastAutoIncValues.size()) ? FLastAutoIncValues[I] : 0);
    Offset += 8;
  }
}

void TVLTBaseFieldManager::RecalcFieldOffsets() { FFieldDefs->RecalcFieldOffsets(); }

void TVLTBaseFieldManager::InitLastAutoIncValues() {
  FLastAutoIncValues.assign(static_cast<size_t>(FieldCount()), 0);
  for (int32_t I = 0; I < FieldCount(); ++I) {
    const TVLTFieldDef& F = (*FFieldDefs)[I];
    if (IsAutoincAdvancedType(F.FAdvancedFieldType)) FLastAutoIncValues[I] = F.FAutoincInitialValue;
  }
}

int32_t TVLTBaseFieldManager::GetMemoryRecordBufferSize() const {
  if (FieldCount() == 0)
    throw EVLTException(10131, "Error creating table - no fields were specified");
  return FFieldDefs->GetMemoryRecordBufferSize();
}

int32_t TVLTBaseFieldManager::GetDiskRecordBufferSize() const {
  if (FieldCount() == 0)
    throw EVLTException(10131, "Error creating table - no fields were specified");
  return FFieldDefs->GetDiskRecordBufferSize();
}

void TVLTBaseFieldManager::InitRecordBuffer(uint8_t* RecordBuffer) const {
  const int32_t Bitmap = FFieldDefs->NullBitmapSize();
  std::memset(RecordBuffer, 0xFF, static_cast<size_t>(Bitmap));
  std::memset(RecordBuffer + Bitmap, 0,
              static_cast<size_t>(FFieldDefs->GetMemoryRecordBufferSize() - Bitmap));
}

void TVLTBaseFieldManager::DiskRecordBufferToMemRecordBuffer(const uint8_t* Disk, uint8_t* Mem) const {
  const TVLTFieldDefs& Defs = *FFieldDefs;
  std::memset(Mem, 0, static_cast<size_t>(Defs.GetMemoryRecordBufferSize()));
  std::memcpy(Mem, Disk, static_cast<size_t>(Defs.NullBitmapSize()));
  const int32_t Count = Defs.Count();
  for (int32_t I = 0; I < Count; ++I) {
    const TVLTFieldDef& F = Defs[I];
    std::memcpy(Mem + F.FMemoryOffset, Disk + F.FDiskOffset, static_cast<size_t>(F.FDiskDataSize));
  }
}

void TVLTBaseFieldManager::MemRecordBufferToDiskRecordBuffer(const uint8_t* Mem, uint8_t* Disk) const {
  std::memset(Disk, 0, static_cast<size_t>(FFieldDefs->GetDiskRecordBufferSize()));
  std::memcpy(Disk, Mem, static_cast<size_t>(FFieldDefs->NullBitmapSize()));
  for (int32_t I = 0; I < FieldCount(); ++I) {
    const TVLTFieldDef& F = (*FFieldDefs)[I];
    std::memcpy(Disk + F.FDiskOffset, Mem + F.FMemoryOffset, static_cast<size_t>(F.FDiskDataSize));
  }
}

bool TVLTBaseFieldManager::CompareRecordBuffers(const uint8_t* Buffer1, const uint8_t* Buffer2) const {
  if (std::memcmp(Buffer1, Buffer2, static_cast<size_t>(FFieldDefs->NullBitmapSize())) != 0)
    return false;
  for (int32_t I = 0; I < FieldCount(); ++I) {
    const TVLTFieldDef& F = (*FFieldDefs)[I];
    if (std::memcmp(Buffer1 + F.FMemoryOffset, Buffer2 + F.FMemoryOffset,
                    static_cast<size_t>(F.FDiskDataSize)) != 0)
      return false;
  }
  return true;
}

bool TVLTBaseFieldManager::BlobFieldsPresent() const {
  bool Present = false;
  for (int32_t I = 0; I < FieldCount(); ++I) {
    const TVLTFieldDef& F = (*FFieldDefs)[I];
    if (!IsBlobBaseType(F.FBaseFieldType)) continue;
    if (F.FBLOBBlockSize <= 0)
      throw EVLTException(10421, "BLOB block size should be > 0 for field %s", {F.FName});
    Present = true;
  }
  return Present;
}

// ---- values ----

bool TVLTBaseFieldManager::GetFieldData(int32_t FieldNo, void* Target,
                                        const uint8_t* RecordBuffer) const {
  const TVLTFieldDef& F = CheckedField(FieldNo, 10000);
  if (!RecordBuffer) VLTRaiseNilPointer(10003);
  if (VLTIsFieldNull(RecordBuffer, FieldNo)) return false;
  if (!Target || IsBlobAdvancedType(F.FAdvancedFieldType)) return true;
  const uint8_t* Slot = RecordBuffer + F.FMemoryOffset;
  try {
    switch (F.FAdvancedFieldType) {
      case aftShortint:
        StoreLE<int16_t>(Target, static_cast<int16_t>(static_cast<int8_t>(Slot[0])));
        break;
      case aftCardinal:
        StoreLE<int64_t>(Target, static_cast<int64_t>(LoadLE<uint32_t>(Slot)));
        break;
      case aftSingle:
        StoreLE<double>(Target, static_cast<double>(LoadLE<float>(Slot)));
        break;
      case aftExtended: {
        long double V = 0;
        std::memcpy(&V, Slot, 10);
        StoreLE<double>(Target, static_cast<double>(V));
        break;
      }
      default:
        std::memcpy(Target, Slot, static_cast<size_t>(F.FMemoryDataSize));
    }
  } catch (const std::exception&) {
    throw EVLTException(10002,
                        "Error getting field data - FieldNo = %d, MemoryOffset = %d, MemoryDataSize = %d",
                        {int64_t{FieldNo}, int64_t{F.FMemoryOffset}, int64_t{F.FMemoryDataSize}});
  }
  return true;
}

void TVLTBaseFieldManager::SetFieldData(int32_t FieldNo, const void* Source,
                                        uint8_t* RecordBuffer) const {
  const TVLTFieldDef& F = CheckedField(FieldNo, 10004);
  if (!RecordBuffer) VLTRaiseNilPointer(10003);
  if (!Source || HoldsEmptyString(F, Source)) {
    VLTSetFieldNull(RecordBuffer, FieldNo, true);  // data left as it is
    return;
  }
  uint8_t* Slot = RecordBuffer + F.FMemoryOffset;
  switch (F.FAdvancedFieldType) {
    case aftShortint:
      Slot[0] = static_cast<uint8_t>(static_cast<int8_t>(LoadLE<int16_t>(Source)));
      break;
    case aftCardinal:
      StoreLE<uint32_t>(Slot, static_cast<uint32_t>(LoadLE<int64_t>(Source)));
      break;
    case aftSingle:
      StoreLE<float>(Slot, static_cast<float>(LoadLE<double>(Source)));
      break;
    case aftExtended: {
      long double V = LoadLE<double>(Source);
      std::memcpy(Slot, &V, 10);
      break;
    }
    default:
      std::memcpy(Slot, Source, static_cast<size_t>(F.FMemoryDataSize));
  }
  VLTSetFieldNull(RecordBuffer, FieldNo, false);
}

void TVLTBaseFieldManager::GetFieldValue(int32_t FieldNo, const uint8_t* RecordBuffer,
                                         TVLTVariant& Value) const {
  const TVLTFieldDef& F = CheckedField(FieldNo, 10000);
  if (!RecordBuffer) VLTRaiseNilPointer(10003);
  if (VLTIsFieldNull(RecordBuffer, FieldNo) || IsBlobBaseType(F.FBaseFieldType)) {
    Value.Clear(F.FBaseFieldType);
    return;
  }
  const uint8_t* Slot = RecordBuffer + F.FMemoryOffset;
  int32_t Size = F.FMemoryDataSize;
  if (IsAnsiStringBaseType(F.FBaseFieldType)) {
    Size = static_cast<int32_t>(strnlen(reinterpret_cast<const char*>(Slot), static_cast<size_t>(Size)));
    if (Size == 0) {
      Value.Clear(F.FBaseFieldType);
      return;
    }
    // Own copy with its terminating zero (the slot may be filled to the end).
    std::string S(reinterpret_cast<const char*>(Slot), static_cast<size_t>(Size));
    Value.Clear(F.FBaseFieldType);
    Value.SetData(S.c_str(), Size + 1, true, F.FBaseFieldType);
    return;
  }
  Value.SetData(Slot, Size, true, F.FBaseFieldType);
}

}  // namespace vlt
