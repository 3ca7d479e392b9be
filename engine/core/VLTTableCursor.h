// TVLTTableCursor: the state of one cursor that the table data reads and writes. The cursor of
// the components layer derives from it and adds everything else (its definition copies, BLOB
// streams, error slot, buffer geometry).
//
// The table data never owns the record buffers: the dataset points FCurrentRecordBuffer at the
// buffer the next operation reads or fills, and FEditRecordBuffer at the record as it was when
// editing began.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "engine/core/VLTIndex.h"
#include "engine/core/VLTRecordBitmap.h"
#include "engine/core/VLTSessionData.h"

namespace vlt {

class TVLTExpression;
class TVLTVariant;

// What the searches of one cursor did, added up until Reset: the index entries the range walks
// answered and the records read to test them. The last search's driving range is kept for
// explaining it (IndexID -1: no range; Empty: the conditions excluded each other).
struct TVLTSearchStatistics {
  int64_t Searches = 0;
  int64_t IndexEntriesVisited = 0;
  int64_t RecordsVisited = 0;
  int32_t IndexID = -1;
  bool Empty = false;
  uint8_t StartCondition = 0;  // TVLTSearchCondition
  uint8_t EndCondition = 0;
  int32_t StartKeyFieldCount = 0;
  int32_t EndKeyFieldCount = 0;
  std::vector<uint8_t> StartKey;  // key record buffers
  std::vector<uint8_t> EndKey;

  void Reset() { *this = TVLTSearchStatistics(); }
};

class TVLTTableCursor {
 public:
  TVLTTableCursor();
  virtual ~TVLTTableCursor();
  TVLTTableCursor(const TVLTTableCursor&) = delete;
  TVLTTableCursor& operator=(const TVLTTableCursor&) = delete;

  TVLTSessionID SessionID() const { return FSession ? FSession->SessionID : kNoSessionID; }
  bool InTransaction() const { return FSession && FSession->InTransaction; }
  bool MultiUser() const { return FSession && FSession->MultiUser; }

  // True when a filter expression or an SQL filter restricts the visible records.
  virtual bool HasFilterExpressions() const { return false; }
  // Evaluates the filter expression and the SQL filter expression on a record; true when both
  // (those that are set) yield true.
  virtual bool FilterExpressionsAccept(const uint8_t* /*RecordBuffer*/) { return true; }
  // Evaluates a search expression of Locate on a record.
  virtual bool SearchExpressionAccepts(const TVLTExpression& /*Expression*/,
                                       const uint8_t* /*RecordBuffer*/) {
    return false;
  }

  // The parsed filter and SQL filter expressions (none in the base).
  virtual TVLTExpression* FilterExpression() const { return nullptr; }
  virtual TVLTExpression* SQLFilterExpression() const { return nullptr; }
  // A key record buffer for the index conditions of expressions (every field null), from the
  // memory manager, and writing one key value into it (cast to the field's type).
  virtual uint8_t* AllocateScanKeyBuffer(int32_t& Size) {
    Size = 0;
    return nullptr;
  }
  virtual void SetScanKeyValue(const TVLTVariant& /*Value*/, int32_t /*FieldNo*/,
                               uint8_t* /*Buffer*/) {}

  // A range, a filter or a distinct view restricts the records the cursor sees.
  bool IsViewRestricted() const {
    return FRangeStartBuffer != nullptr || FRangeEndBuffer != nullptr || FDistinctFieldCount > 0 ||
           HasFilterExpressions() || static_cast<bool>(FilterRecord);
  }

  std::string FTableName;
  std::string FIndexName;
  int32_t FIndexID = -1;  // -1 = physical order
  bool FReadOnly = false;
  bool FExclusive = false;
  bool FInMemory = false;
  bool FTemporary = false;
  TVLTSessionData* FSession = nullptr;  // not owned
  bool FIsOpen = false;

  uint8_t* FCurrentRecordBuffer = nullptr;
  uint8_t* FDistinctRecordBuffer = nullptr;
  uint8_t* FEditRecordBuffer = nullptr;

  std::unique_ptr<TVLTRecordBitmap> FRecordBitmap;  // made by the table data when opening
  TVLTIndexPositionCache FIndexPositionCache;

  bool FBatchUpdate = false;
  bool FDisableTempFiles = false;
  bool FIsRepairing = false;
  bool FIsDesignMode = false;

  // Key buffer of the next key search: the record part, then at FKeyOffset a modified flag
  // (1 byte), an exclusive flag (1 byte) and the key field count (Int32, 0 = all index fields).
  uint8_t* FKeyBuffer = nullptr;
  int32_t FKeyOffset = 0;

  uint8_t* FRangeStartBuffer = nullptr;  // nullptr = open end
  uint8_t* FRangeEndBuffer = nullptr;
  bool FRangeStartExclusive = false;
  bool FRangeEndExclusive = false;
  int32_t FRangeStartKeyFieldCount = 0;
  int32_t FRangeEndKeyFieldCount = 0;
  int32_t FDistinctFieldCount = 0;

  TVLTPageItemID CurrentRecordID;
  int32_t CurrentIndexID = -1;
  bool FirstPosition = true;
  bool LastPosition = false;

  TVLTSearchStatistics FSearchStatistics;
  // Searches drive no index range and read every record (to compare plans with).
  bool FPlainScans = false;

  // The dataset's record filter; empty = none.
  std::function<bool(const uint8_t* RecordBuffer)> FilterRecord;
};

}  // namespace vlt
