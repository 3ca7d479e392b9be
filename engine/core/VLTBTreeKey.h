// Keys of the B+tree: how a key is laid out from its columns and how two keys compare.
//
// A key is a sequence of parts, one per index column. Each part starts with a flag byte (1 =
// NULL, 0 = a value), followed by the value's bytes as they stand in the memory record. The tree
// stores the "short" key of every entry; the "full" key of a record is only built when two short
// keys tie on a truncated part.
//
// Short key part (one index column), offsets relative to the part:
//
//   OFFSET        SIZE        CONTENT
//   0             1           flag: 1 = NULL (value bytes left zero), 0 = value
//   1             V           value bytes; V = memory size of the field, or FMaxIndexedSize
//                             when that is smaller (the part is then "truncated")
//   1 + V         2           truncated parts only: two zero bytes, so that a string that
//                             fills the stored prefix is still terminated (AddedSize = 2)
//
// Full key part: the flag byte and the field's whole memory-size value (FullSize = size + 1).
//
// Comparison (CompareShortKeys / CompareFullKeys), part by part over the first
// FCompareFieldCount parts: NULL equals NULL and sorts before any value; values compare by base
// type (integers and dates numerically, reals as reals, logical false before true, strings and
// bytes by the engine's ICU collation, case-insensitively for case-insensitive columns); a
// descending part negates its result; the first non-zero result answers. A truncated part that
// ties where either stored prefix is completely filled may differ beyond the prefix: with full
// keys allowed and the second key's reference given, the two full keys are built from their
// records and decide; without full keys the comparison stops and answers 0.
#pragma once

#include <cstdint>
#include <vector>

#include "engine/base/VLTMemory.h"
#include "engine/base/VLTTypes.h"
#include "engine/expr/VLTFieldTypes.h"

namespace vlt {

class TVLTIndexDef;
class TVLTFieldDefs;

// One index column as laid out in short keys, full keys and the memory record.
struct TVLTKeyPart {
  int32_t OffsetInShortKeyBuffer = 0;
  int32_t OffsetInFullKeyBuffer = 0;
  int32_t OffsetInRecordBuffer = 0;  // the field's memory offset (after the null bitmap)
  int32_t FieldNo = 0;
  int32_t ShortSize = 0;
  int32_t FullSize = 0;
  int32_t AddedSize = 0;  // 2 for a truncated part, else 0
  TVLTBaseFieldType DataType = bftUnknown;
  bool Descending = false;
  bool CaseInsensitive = false;
};

// Compares two values of one base type as stored in keys and records. Length is the number of
// bytes available for each value (strings end at their first zero character within it);
// CompareLength limits string comparisons to that many characters (-1 = whole value).
// Raises 30044 for base types that cannot be compared.
int CompareKeyValues(TVLTBaseFieldType DataType, const uint8_t* A, const uint8_t* B,
                     int32_t Length, int32_t CompareLength, bool CaseInsensitive);

// Base of the key reference objects: the key geometry and the comparisons the tree uses.
class TVLTBTreeKeyRef {
 public:
  virtual ~TVLTBTreeKeyRef() = default;

  int32_t PartCount() const { return static_cast<int32_t>(Parts.size()); }
  virtual void SetPartCount(int32_t Count);

  // <0, 0, >0 as Key1 is lower, equal or greater. Reference1/Reference2 identify the records
  // the keys were built from (nullptr: not known; for Reference1 the current record buffer
  // LRecordBuffer is then used). Full values are fetched only when MayUseFullKeys and
  // Reference2 are given and a truncated part ties with a filled prefix.
  virtual int CompareShortKeys(const uint8_t* Key1, const uint8_t* Key2, const uint8_t* Reference2,
                               const uint8_t* Reference1, TVLTSessionID SessionID,
                               bool MayUseFullKeys);
  virtual int CompareFullKeys(const uint8_t* Key1, const uint8_t* Key2);
  // Record identifiers order by page then slot; other references byte by byte.
  virtual int CompareReferences(const uint8_t* Reference1, const uint8_t* Reference2) const;

  // True when some part is stored truncated (short key size differs from full key size).
  bool HasTruncatedParts() const { return FShortKeySize != FFullKeySize; }

  uint16_t FShortKeySize = 0;
  uint16_t FFullKeySize = 0;
  uint16_t FReferenceSize = 0;
  bool FKeyIsReference = false;
  int32_t FCompareFieldCount = 0;  // leading parts that take part in comparisons
  std::vector<TVLTKeyPart> Parts;

 protected:
  // Builds the full key of the record identified by Reference (nullptr: the current record
  // buffer) into Key; the base class has no records and raises 20170.
  virtual void MakeFullKeyForReference(TVLTSessionID SessionID, const uint8_t* Reference,
                                       uint8_t* Key);
  // Compare length of part I (-1 = whole value).
  virtual int32_t CompareLength(int32_t I) const;
};

// Key of the page indexes: one signed 32-bit page number (4 bytes, no flag byte: a page number
// is never NULL), reference = 16-bit amount.
class TVLTPageKeyRef : public TVLTBTreeKeyRef {
 public:
  TVLTPageKeyRef();
  // Page numbers are stored as they are, without a flag byte.
  int CompareShortKeys(const uint8_t* Key1, const uint8_t* Key2, const uint8_t* Reference2,
                       const uint8_t* Reference1, TVLTSessionID SessionID,
                       bool MayUseFullKeys) override;
  int CompareFullKeys(const uint8_t* Key1, const uint8_t* Key2) override;
  int CompareReferences(const uint8_t* Reference1, const uint8_t* Reference2) const override;
};

// Reads the memory record of a record identifier for full-key comparisons. Implemented by the
// table data (through its record manager) and by tests.
class TVLTKeyRecordReader {
 public:
  virtual ~TVLTKeyRecordReader() = default;
  // Fills Buffer (a memory record buffer of the table's size) with the record; false when it
  // cannot be read.
  virtual bool ReadKeyRecord(TVLTSessionID SessionID, const TVLTPageItemID& RecordID,
                             uint8_t* Buffer) = 0;
};

// Key of a record index: one part per index column, reference = 6-byte record identifier.
class TVLTRecordKeyRef : public TVLTBTreeKeyRef {
 public:
  TVLTRecordKeyRef();

  // Lays out the parts from the index columns. 20043 for a column that names no field, 20295
  // for a BLOB field, 20044/20045 when the field list is missing.
  void Assign(const TVLTIndexDef& IndexDef, const TVLTFieldDefs* FieldDefs);
  void SetRecordReader(TVLTKeyRecordReader* Reader) { LRecordReader = Reader; }

  void SetPartCount(int32_t Count) override;
  // Record identifiers: by page number, then by slot.
  int CompareReferences(const uint8_t* Reference1, const uint8_t* Reference2) const override;

  // The short key of a memory record; remembers RecordBuffer as LRecordBuffer, the record the
  // searched key came from.
  void MakeShortKeyFromRecordBuffer(const uint8_t* RecordBuffer, uint8_t* Key);
  void MakeFullKeyFromRecordBuffer(const uint8_t* RecordBuffer, uint8_t* Key) const;
  // Limits string comparisons of each part to the length of the value in RecordBuffer
  // (PartialCompare true) or resets every part to whole values.
  void SetPartialCompare(const uint8_t* RecordBuffer, bool PartialCompare);

  const uint8_t* LRecordBuffer = nullptr;
  std::vector<int32_t> FCompareLengths;  // one per part, -1 = whole part

 protected:
  void MakeFullKeyForReference(TVLTSessionID SessionID, const uint8_t* Reference,
                               uint8_t* Key) override;
  int32_t CompareLength(int32_t I) const override;

 private:
  TVLTKeyRecordReader* LRecordReader = nullptr;
  TVLTBuffer FRecordScratch;
};

}  // namespace vlt
