// TVLTRecordBitmap: one cursor's cached set of visible records, one bit per possible record
// position. Bit numbers come from the table data (record identifiers: RecordIDToBitNo /
// BitNoToRecordID) or, for an index-based bitmap, from index positions of the cursor's index.
//
// The bitmap is outdated when FTableState differs from the record manager's; the table data then
// rebuilds it. Record numbers through a bitmap are the 1-based count of set bits up to the
// record's bit; a record whose bit lies beyond the bitmap has record number -1.
#pragma once

#include <cstdint>

#include "engine/base/VLTTypes.h"
#include "engine/core/VLTBitsArray.h"

namespace vlt {

class TVLTTableData;
class TVLTIndexPosition;
class TVLTIndex;

class TVLTRecordBitmap {
 public:
  explicit TVLTRecordBitmap(TVLTTableData* TableData) : FTableData(TableData) {}

  int64_t GetSize() const { return FBitmap.BitCount(); }
  void SetSize(int64_t Size) { FBitmap.SetSize(Size); }
  int64_t GetRecordCount() const { return FBitmap.NonZeroBitCount(); }
  bool Outdated() const;
  void MarkUpToDate();

  int64_t GetRecNoByRecordID(const TVLTPageItemID& RecordID) const;
  int64_t GetRecNoByIndexPos(int64_t BitNo) const;
  TVLTPageItemID GetRecordIDByRecNo(int64_t RecNo) const;
  int64_t GetIndexPosByRecNo(int64_t RecNo) const;

  bool IsRecordVisible(const TVLTPageItemID& RecordID) const;
  bool IsRecordVisible(int64_t IndexBitNo) const;
  // Grows the bitmap when the bit lies beyond it. On an index-based bitmap both clear the
  // bitmap instead (index positions shift with every change), forcing a rebuild.
  void ShowRecord(const TVLTPageItemID& RecordID);
  void ShowRecord(int64_t IndexBitNo);
  void HideRecord(const TVLTPageItemID& RecordID);
  void HideRecord(int64_t IndexBitNo);
  void SetAllBits() { FBitmap.SetAllBits(); }
  // Sets or clears one bit, growing the bitmap as needed; for rebuilding (no index-based
  // clearing).
  void SetBitValue(int64_t BitNo, bool Value) { SetBitGrowing(BitNo, Value); }
  // Inactive, size 0, outdated.
  void Clear();

  // The next (GoForward) or prior visible record from Current, or the first / last when Restart.
  void FindRecord(bool Restart, bool GoForward, bool& Found, TVLTPageItemID& Current) const;
  void FindRecord(bool Restart, bool GoForward, bool& Found, int64_t& CurrentIndexBitNo) const;

  bool Active() const { return FActive; }
  void SetActive(bool V) { FActive = V; }
  bool IndexBased() const { return FIndexBased; }
  void SetIndexBased(bool V) { FIndexBased = V; }
  int32_t TableState() const { return FTableState; }
  void SetTableState(int32_t V) { FTableState = V; }
  const TVLTBitsArray& Bits() const { return FBitmap; }

 private:
  void SetBitGrowing(int64_t BitNo, bool Value);

  TVLTBitsArray FBitmap;
  TVLTTableData* FTableData;
  bool FActive = false;
  bool FIndexBased = false;
  int32_t FTableState = -1;
};

}  // namespace vlt
