// Record pages: where the single-file engine keeps a table's records.
//
// Every record page of a table has the same number of slots, each holding one disk record
// (TVLTFieldDefs::GetDiskRecordBufferSize bytes: null bitmap, then the fields at their disk
// offsets; a BLOB field is the 6-byte TVLTPageItemID of its BLOB):
//
//   MaxRecordsOnPage = Trunc((PageDataSize - 1) / (DiskRecordBufferSize + 0.125))
//
// (a slot costs its record plus one bit of the presence bitmap; one byte is held back). 0 slots
// means the table cannot exist in this database (20174).
//
// TableRecord page (page type ptTableRecord; header ObjectID = the table's object id, set when
// the page is added). Offsets are relative to the page data (page offset 40 + x);
// B = ceil(MaxRecordsOnPage / 8), R = DiskRecordBufferSize, M = MaxRecordsOnPage:
//
//   OFFSET      SIZE   CONTENT
//   0           B      presence bitmap: bit (slot mod 8) of byte (slot div 8), least
//                      significant bit first; 1 = the slot holds a record
//   B + i * R   R      slot i (0 <= i < M): the disk record
//   B + M * R   rest   unused
//
// Only the bitmap tells whether a slot is used; the bytes of free slots mean nothing. A record
// is named by (page number, slot) and keeps that identifier for life: updates rewrite the slot.
#pragma once

#include <cstdint>

#include "engine/base/VLTTypes.h"

namespace vlt {

class TVLTPage;

// Slots per record page; 0 when even one record does not fit.
int32_t CalcMaxRecordsOnPage(int32_t PageDataSize, int32_t DiskRecordBufferSize);
// Bytes of the presence bitmap: ceil(MaxRecordsOnPage / 8).
inline int32_t RecordPageBitmapSize(int32_t MaxRecordsOnPage) { return (MaxRecordsOnPage + 7) / 8; }

// A transient view over one record page the caller holds (GetPage .. PutPage). Changing
// operations do not mark the page dirty; the caller does.
class TVLTSmallRecordPage {
 public:
  // 20140 "Invalid number of records on page" when the slots do not fit the page data.
  TVLTSmallRecordPage(TVLTPage* Page, int32_t MaxRecordsOnPage, int32_t RecordBufferSize);

  // Number of used slots.
  int32_t GetRecordCount() const;
  // Puts the record into the lowest free slot; false when the page is full.
  bool AddRecord(const uint8_t* RecordBuffer, TVLTPageItemID& RecordID);
  // Rewrites a used slot; false (nothing changed) for a free or out-of-range slot.
  bool UpdateRecord(const uint8_t* RecordBuffer, const TVLTPageItemID& RecordID);
  // Frees a used slot; false for a free or out-of-range slot.
  bool DeleteRecord(const TVLTPageItemID& RecordID);
  // Copies the slot's record (when RecordBuffer is not null); false for a free slot.
  bool GetRecordBuffer(const TVLTPageItemID& RecordID, uint8_t* RecordBuffer) const;
  // The lowest / highest used slot; false on an empty page.
  bool GetFirstRecordID(TVLTPageItemID& RecordID) const;
  bool GetLastRecordID(TVLTPageItemID& RecordID) const;
  // The next / prior used slot after / before RecordID's; false when there is none.
  bool GetNextRecordID(TVLTPageItemID& RecordID) const;
  bool GetPriorRecordID(TVLTPageItemID& RecordID) const;
  // The RecNoOnPage-th used slot (0-based); false when the page holds fewer records.
  bool GetRecordID(int32_t RecNoOnPage, TVLTPageItemID& RecordID) const;
  // Number of used slots before RecordID's slot.
  int32_t GetRecNoOnPage(const TVLTPageItemID& RecordID) const;

  bool IsSlotUsed(int32_t Slot) const;
  int32_t MaxRecordsOnPage() const { return FMaxRecordsOnPage; }
  int32_t RecordDataOffset() const { return FRecordDataOffset; }

 private:
  void SetSlotUsed(int32_t Slot, bool Used);
  uint8_t* Slot(int32_t Slot) const;
  bool ValidSlot(const TVLTPageItemID& RecordID) const;

  TVLTPage* LPage;
  uint8_t* FData;
  int32_t FRecordBufferSize;
  int32_t FMaxRecordsOnPage;
  int32_t FRecordDataOffset;
};

}  // namespace vlt
