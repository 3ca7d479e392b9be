// The record manager base: where a table's records live and how they are walked in physical
// order. Storage variants implement every operation (the single-file engine keeps records on
// record pages); the table data calls them under the table data lock.
//
// A record travels as a memory record buffer (see VLTFieldManager.h); a record is named by a
// TVLTPageItemID whose meaning is the storage variant's.
#pragma once

#include <cstdint>

#include "engine/base/VLTTypes.h"

namespace vlt {

enum TVLTGetRecordMode : uint8_t { grmCurrent = 0, grmNext = 1, grmPrior = 2 };
enum TVLTGetRecordResult : uint8_t { grrOK = 0, grrBOF = 1, grrEOF = 2, grrError = 3 };

// A navigation request and its answer.
//
// In: GetRecordMode, IndexID (-1 = physical order), RecordID (the current record), the end flags
// (the position is before the first / after the last record: moving next from FirstPosition
// gives the first record, moving prior from LastPosition the last one), RecordBuffer (nullptr
// when only the position is wanted).
// Out: GetRecordResult; on grrOK RecordID names the record read and both end flags are clear;
// on grrEOF LastPosition is set, on grrBOF FirstPosition is set.
struct TVLTNavigationInfo {
  TVLTGetRecordMode GetRecordMode = grmCurrent;
  int32_t IndexID = -1;
  TVLTPageItemID RecordID;
  uint8_t* RecordBuffer = nullptr;
  bool FirstPosition = false;
  bool LastPosition = false;
  TVLTGetRecordResult GetRecordResult = grrOK;
};

class TVLTBaseRecordManager {
 public:
  virtual ~TVLTBaseRecordManager() = default;

  // Removes every record.
  virtual void Empty(TVLTSessionID SessionID) = 0;
  // Stores a new record; false (nothing stored) when storage refuses it.
  virtual bool AddRecord(TVLTSessionID SessionID, const uint8_t* RecordBuffer,
                         TVLTPageItemID& RecordID) = 0;
  virtual bool UpdateRecord(TVLTSessionID SessionID, const uint8_t* RecordBuffer,
                            const TVLTPageItemID& RecordID) = 0;
  virtual bool DeleteRecord(TVLTSessionID SessionID, const TVLTPageItemID& RecordID) = 0;
  // Physical navigation; the mode current reads the record RecordID (grrError when it is gone).
  // A RecordBuffer of nullptr asks only where the record is (or whether it is there).
  virtual void GetRecordBuffer(TVLTSessionID SessionID, TVLTNavigationInfo& NavigationInfo) = 0;
  // -1, 0 or 1 in physical order.
  virtual int CompareRecordID(const TVLTPageItemID& RecordID1,
                              const TVLTPageItemID& RecordID2) = 0;
  virtual int64_t GetApproximateRecNo(TVLTSessionID SessionID, const TVLTPageItemID& RecordID) = 0;

  int64_t RecordCount() const { return FRecordCount; }
  int32_t TableState() const { return FTableState; }
  int32_t RecordBufferSize() const { return FRecordBufferSize; }
  void SetRecordBufferSize(int32_t Size) { FRecordBufferSize = Size; }

  int64_t FRecordCount = 0;
  // Counts every insertion, update and deletion; record bitmaps and temporary indexes compare
  // themselves with it to find out that they are stale. Storage variants advance it.
  int32_t FTableState = 0;
  int32_t FRecordBufferSize = 0;
};

}  // namespace vlt
