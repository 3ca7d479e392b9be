// TVLTDiskRecordManager: a table's records on record pages of the database file (layout in
// VLTRecordPage.h), listed by the table's record page index (TVLTBTreeRecordPageIndex: one entry
// per non-empty record page, key = page number, amount = records on the page).
//
// Invariants:
//   1. The record page index lists exactly the table's record pages that hold a record, each
//      with the number of set bits of its presence bitmap; a page whose last record goes is
//      removed at once, together with its entry.
//   2. FRecordCount is the sum of the index's counts.
//   3. FTableState advances by one for every insertion, update and deletion.
// TVLTDiskTableData::CheckTable verifies 1 and 2 against the file (3 is a property of the
// operations, not of a state).
//
// Physical navigation moves through the pages the index lists and raises 20153 on a listed page
// that is not one of the table's record pages (damage); it never reads such a page as records
// nor takes it for the end of the table. A page that went since the cursor's record was read
// (no longer listed) is passed over.
//
// Physical order is the order of record identifiers: by page number, then slot. New records go
// to the newest pages with room first (the index is searched within two leaves' worth of
// entries), else onto a new page.
//
// The manager works under the table data lock; its scratch disk record is used only there.
#pragma once

#include <cstdint>
#include <memory>

#include "engine/base/VLTMemory.h"
#include "engine/core/VLTBTreePageIndex.h"
#include "engine/core/VLTRecordManager.h"

namespace vlt {

class TVLTBaseFieldManager;
class TVLTDiskPageManager;
class TVLTDiskTableData;
class TVLTInternalDBTransactedAccessFile;
class TVLTPage;
class TVLTStream;

class TVLTDiskRecordManager : public TVLTBaseRecordManager {
 public:
  TVLTDiskRecordManager(TVLTDiskPageManager* PageManager, TVLTDiskTableData* TableData,
                        TVLTInternalDBTransactedAccessFile* MostUpdatedFile,
                        TVLTBaseFieldManager* FieldManager);
  ~TVLTDiskRecordManager() override;

  // Computes MaxRecordsOnPage; 20174 when not even one record fits a page.
  void Init(int32_t RecordBufferSize, int32_t DiskRecordBufferSize, int32_t FieldCount);

  void Empty(TVLTSessionID SessionID) override;
  // Never raises: any failure answers false and leaves pages, index, count and state as they
  // were.
  bool AddRecord(TVLTSessionID SessionID, const uint8_t* RecordBuffer,
                 TVLTPageItemID& RecordID) override;
  bool UpdateRecord(TVLTSessionID SessionID, const uint8_t* RecordBuffer,
                    const TVLTPageItemID& RecordID) override;
  bool DeleteRecord(TVLTSessionID SessionID, const TVLTPageItemID& RecordID) override;
  void GetRecordBuffer(TVLTSessionID SessionID, TVLTNavigationInfo& NavigationInfo) override;
  int CompareRecordID(const TVLTPageItemID& RecordID1, const TVLTPageItemID& RecordID2) override;
  int64_t GetApproximateRecNo(TVLTSessionID SessionID, const TVLTPageItemID& RecordID) override;

  // 1-based record numbers in physical order. SetRecNo: 20113 beyond the record count.
  TVLTPageItemID SetRecNo(TVLTSessionID SessionID, int64_t RecNo);
  int64_t GetRecNo(TVLTSessionID SessionID, const TVLTPageItemID& RecordID);

  // The record page index root page number (Int32) in the metadata stream.
  void LoadMetadata(TVLTStream& Stream);
  void SaveMetadata(TVLTStream& Stream) const;
  // The record block of the most-updated data: FTableState (Int32), record count (Int32, low
  // half; loading sets the high half to 0).
  void LoadMostUpdated(const uint8_t* Buffer, int32_t& Offset);
  void SaveMostUpdated(uint8_t* Buffer, int32_t& Offset) const;
  static constexpr int32_t kMostUpdatedSize = 8;

  void CreateRecordPageIndex(TVLTSessionID SessionID);
  // Removes every record page and drops the index.
  void Delete(TVLTSessionID SessionID);
  // A new index from the pages themselves: every used page of type ptTableRecord that carries
  // the table's object id; the record count follows.
  void RebuildRecordPageIndex(TVLTSessionID SessionID);
  // Checks the index against the pages themselves (20292 on the first disagreement): the
  // counts add up to the record count; every listed page is a used page of type ptTableRecord
  // that carries the table's object id and holds as many records as listed; no used record page
  // of the table holding records is left out. A listed page that cannot be read is accepted
  // when its stored header still names it a record page of the table: its records are then
  // damaged, not misplaced, and rebuilding would lose them without a word.
  void ValidateRecordPageIndex(TVLTSessionID SessionID);

  // Whether a page read with any type accepted is one of this table's record pages.
  bool IsTableRecordPage(const TVLTPage& Page) const;
  // 20153 unless a page the index lists is one of this table's record pages.
  void CheckListedPage(const TVLTPage& Page) const;

  TVLTBTreeRecordPageIndex& RecordPageIndex() { return *FRecordPageIndex; }
  int32_t MaxRecordsOnPage() const { return FMaxRecordsOnPage; }
  int32_t DiskRecordBufferSize() const { return FDiskRecordBufferSize; }

 private:
  void NavigateNext(TVLTSessionID SessionID, TVLTNavigationInfo& Info);
  void NavigatePrior(TVLTSessionID SessionID, TVLTNavigationInfo& Info);
  // Reads the record of a used slot into the navigation buffer.
  void ReadInto(const uint8_t* DiskRecord, TVLTNavigationInfo& Info);
  // The first index page after / before PageNo, also when PageNo has no entry any more.
  bool NextIndexPage(TVLTSessionID SessionID, TVLTPageNo PageNo, TVLTPageNo& Next);
  bool PriorIndexPage(TVLTSessionID SessionID, TVLTPageNo PageNo, TVLTPageNo& Prior);

  std::unique_ptr<TVLTBTreeRecordPageIndex> FRecordPageIndex;
  TVLTDiskPageManager* LPageManager;
  TVLTBaseFieldManager* LFieldManager;
  TVLTInternalDBTransactedAccessFile* LMostUpdatedFile;
  int32_t FMaxRecordsOnPage = 0;
  int32_t FDiskRecordBufferSize = 0;
  TVLTBuffer FTempDiskRecordBuffer;
  TVLTDiskTableData* LTableData;
};

}  // namespace vlt
