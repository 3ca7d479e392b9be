// The field manager base: the record buffer layout of a table, field values, default values and
// autoincrement values.
//
// Memory record buffer (laid out by TVLTFieldDefs::RecalcFieldOffsets):
//
//   OFFSET                 SIZE                   CONTENT
//   0                      ceil(FieldCount / 8)   null bitmap: bit (n mod 8) of byte (n div 8)
//                                                 is 1 when field n is NULL
//   field's FMemoryOffset  field's memory size    the value, little-endian, packed
//
// A new record buffer has every bitmap byte 0xFF (all fields NULL) and every data byte 0. An
// empty string is stored as NULL.
//
// Exchange with the dataset layer converts four types; everything else is copied as its memory
// size in bytes:
//
//   ADVANCED TYPE   IN THE RECORD             EXCHANGED AS
//   aftShortint     1 byte, signed            Int16
//   aftCardinal     4 bytes, unsigned         Int64 (upper half 0)
//   aftSingle       4-byte IEEE single        8-byte IEEE double
//   aftExtended     10-byte 80-bit extended   8-byte IEEE double
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "engine/core/VLTFieldDef.h"
#include "engine/core/VLTSessionData.h"

namespace vlt {

class TVLTTableData;
class TVLTStream;

// Null bitmap helpers of a record buffer.
inline bool VLTIsFieldNull(const uint8_t* RecordBuffer, int32_t FieldNo) {
  return (RecordBuffer[FieldNo / 8] >> (FieldNo % 8)) & 1;
}
inline void VLTSetFieldNull(uint8_t* RecordBuffer, int32_t FieldNo, bool IsNull) {
  if (IsNull)
    RecordBuffer[FieldNo / 8] |= static_cast<uint8_t>(1u << (FieldNo % 8));
  else
    RecordBuffer[FieldNo / 8] &= static_cast<uint8_t>(~(1u << (FieldNo % 8)));
}

class TVLTBaseFieldManager {
 public:
  // Takes over FieldDefs (which may be empty, to be loaded later).
  TVLTBaseFieldManager(TVLTTableData* TableData, std::unique_ptr<TVLTFieldDefs> FieldDefs);
  virtual ~TVLTBaseFieldManager();

  TVLTFieldDefs& FieldDefs() const { return *FFieldDefs; }
  int32_t FieldCount() const { return FFieldDefs->Count(); }

  // ---- autoincrement and defaults ----
  // The field's next value: last + increment (1 when the increment is 0); past a non-zero
  // maximum either 20160 "Autoinc max value exceeded for field '%s'" or, cycled, the minimum.
  // 30402 / 30403 "Field #%d not found" for a field number out of range.
  virtual int64_t IncrementLastAutoinc(int32_t FieldNo);
  // For every non-BLOB field with a non-null default: the default's bytes, null bit cleared.
  virtual void ApplyDefaultValuesToRecordBuffer(TVLTSessionData* Session, uint8_t* RecordBuffer);
  // NULL autoincrement fields get the next value; set ones raise the last value to theirs.
  virtual void ApplyAutoincsToRecordBuffer(TVLTSessionData* Session, uint8_t* RecordBuffer);
  // IncrementLastAutoinc, recorded in the session as the sequence's last value.
  virtual int64_t GetNextAutoinc(TVLTSessionData* Session, int32_t FieldNo);
  // The session's recorded value; without one 30012 in multi-user mode, else the last value
  // (autoincrement fields) or 0.
  virtual int64_t GetLastAutoinc(TVLTSessionData* Session, int32_t FieldNo);

  // Raises the last value of FieldNo to InsertedValue when that is greater (signed 64-bit) and
  // records it in the session.
  void UpdateLastAutoinc(TVLTSessionData* Session, int32_t FieldNo, int64_t InsertedValue);
  int64_t LastAutoIncValue(int32_t FieldNo) const;
  void SetLastAutoIncValue(int32_t FieldNo, int64_t Value);
  const std::vector<int64_t>& LastAutoIncValues() const { return FLastAutoIncValues; }

  // ---- layout ----
  void LoadMetadata(TVLTStream& Stream);
  void SaveMetadata(TVLTStream& Stream) const;
  // The autoincrement block of the most-updated data: one Int64 last value per field.
  void LoadMostUpdated(const uint8_t* Buffer, int32_t& Offset);
  void SaveMostUpdated(uint8_t* Buffer, int32_t& Offset) const;
  int32_t MostUpdatedSize() const { return FieldCount() * 8; }
  void RecalcFieldOffsets();
  void InitLastAutoIncValues();
  // 10131 "Error creating table - no fields were specified" for a table without fields.
  int32_t GetMemoryRecordBufferSize() const;
  int32_t GetDiskRecordBufferSize() const;
  // A new record: bitmap all 0xFF, data all 0.
  void InitRecordBuffer(uint8_t* RecordBuffer) const;
  void DiskRecordBufferToMemRecordBuffer(const uint8_t* Disk, uint8_t* Mem) const;
  void MemRecordBufferToDiskRecordBuffer(const uint8_t* Mem, uint8_t* Disk) const;
  // Equal when the bitmaps and, for every field, the first disk-size bytes at its memory offset
  // are equal byte for byte.
  bool CompareRecordBuffers(const uint8_t* Buffer1, const uint8_t* Buffer2) const;
  // 10421 "BLOB block size should be > 0 for field %s" for a BLOB field with block size 0.
  bool BlobFieldsPresent() const;

  // ---- values ----
  // Whether the field holds a value; Target (may be nullptr) receives it in exchange form.
  bool GetFieldData(int32_t FieldNo, void* Target, const uint8_t* RecordBuffer) const;
  // Source nullptr (or an empty string) makes the field NULL.
  void SetFieldData(int32_t FieldNo, const void* Source, uint8_t* RecordBuffer) const;
  // The field's value in the record as a value of its base type (NULL when null).
  void GetFieldValue(int32_t FieldNo, const uint8_t* RecordBuffer, TVLTVariant& Value) const;

  TVLTTableData* TableData() const { return FTableData; }

 protected:
  TVLTFieldDef& CheckedField(int32_t FieldNo, int32_t Code) const;

  std::unique_ptr<TVLTFieldDefs> FFieldDefs;
  TVLTTableData* FTableData;
  std::vector<int64_t> FLastAutoIncValues;
};

}  // namespace vlt
