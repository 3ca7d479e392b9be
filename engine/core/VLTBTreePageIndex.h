// Page indexes: B+trees whose key is a page number (signed 32-bit) and whose reference is a
// 16-bit amount kept for that page - the record count of a record page (TVLTBTreeRecordPageIndex)
// or the bytes used on a small-BLOB page (TVLTBTreeBlobPageIndex). Entries ascend by page
// number; a page has at most one entry, and an entry whose amount falls to 0 is deleted, so
// the index lists exactly the pages that hold something.
#pragma once

#include <cstdint>

#include "engine/core/VLTBTree.h"
#include "engine/core/VLTBTreeKey.h"

namespace vlt {

class TVLTBTreePageIndex {
 public:
  explicit TVLTBTreePageIndex(TVLTPageManager* PageManager)
      : LPageManager(PageManager), FTree(PageManager, &FKeyRef) {}
  virtual ~TVLTBTreePageIndex() = default;
  TVLTBTreePageIndex(const TVLTBTreePageIndex&) = delete;
  TVLTBTreePageIndex& operator=(const TVLTBTreePageIndex&) = delete;

  // Adds a new empty root page.
  void CreateIndex(TVLTSessionID SessionID);
  void OpenIndex(TVLTPageNo RootPageNo) { FTree.SetRootPageNo(RootPageNo); }
  // Frees every page; the root page number becomes -1.
  void DropIndex(TVLTSessionID SessionID);
  // Frees every page but the root.
  void EmptyIndex(TVLTSessionID SessionID);
  TVLTPageNo RootPageNo() const { return FTree.RootPageNo(); }
  TVLTBTree& Tree() { return FTree; }

  // The amount stored for PageNo; false when the page has no entry.
  bool FindPage(TVLTSessionID SessionID, TVLTPageNo PageNo, uint16_t& Amount);
  // Adds Amount to the page's entry (inserting one when missing); 20106 when the page has no
  // room for it (HasRoom).
  void AddAmount(TVLTSessionID SessionID, TVLTPageNo PageNo, uint16_t Amount);
  // Sets the page's amount; an amount of 0 deletes the entry. 20110 when the page has no entry.
  void SetAmount(TVLTSessionID SessionID, TVLTPageNo PageNo, uint16_t NewAmount);

  // Page order walks; false when there is no such page.
  bool GetFirstPage(TVLTSessionID SessionID, TVLTPageNo& PageNo);
  bool GetLastPage(TVLTSessionID SessionID, TVLTPageNo& PageNo);
  // 20101 / 20102 when CurrentPageNo has no entry.
  bool GetNextPage(TVLTSessionID SessionID, TVLTPageNo CurrentPageNo, TVLTPageNo& NextPageNo);
  bool GetPriorPage(TVLTSessionID SessionID, TVLTPageNo CurrentPageNo, TVLTPageNo& PriorPageNo);
  // Sum of all amounts.
  int64_t TotalAmount(TVLTSessionID SessionID);

 protected:
  // Whether a page whose stored amount is Stored can take Amount more.
  virtual bool HasRoom(uint16_t Stored, uint16_t Amount) const = 0;
  // A page with room for Amount: walks back from the last entry over as many entries as the
  // last leaf holds, then forward from the first over as many as the first leaf holds, so new
  // data goes to the newest pages first and the search stays within two leaves.
  bool FindPageWithRoom(TVLTSessionID SessionID, uint16_t Amount, TVLTPageNo& PageNo);
  // 20115..20118 when the index has no root.
  void CheckRoot(int32_t Code) const;

  TVLTPageManager* LPageManager;
  TVLTPageKeyRef FKeyRef;
  TVLTBTree FTree;
};

// The table's record pages with their record counts.
class TVLTBTreeRecordPageIndex : public TVLTBTreePageIndex {
 public:
  TVLTBTreeRecordPageIndex(TVLTPageManager* PageManager, int32_t MaxRecordsOnPage)
      : TVLTBTreePageIndex(PageManager), FMaxRecordsOnPage(MaxRecordsOnPage) {}

  bool FindPageForNewRecord(TVLTSessionID SessionID, TVLTPageNo& PageNo) {
    return FindPageWithRoom(SessionID, 1, PageNo);
  }
  void AddRecord(TVLTSessionID SessionID, TVLTPageNo PageNo, uint16_t AddCount) {
    AddAmount(SessionID, PageNo, AddCount);
  }
  // The page now holds NewItemCount records; 0 deletes its entry.
  void DeleteRecord(TVLTSessionID SessionID, TVLTPageNo PageNo, uint16_t NewItemCount) {
    SetAmount(SessionID, PageNo, NewItemCount);
  }
  bool GetFirstRecordPage(TVLTSessionID SessionID, TVLTPageNo& PageNo) { return GetFirstPage(SessionID, PageNo); }
  bool GetLastRecordPage(TVLTSessionID SessionID, TVLTPageNo& PageNo) { return GetLastPage(SessionID, PageNo); }
  bool GetNextRecordPage(TVLTSessionID SessionID, TVLTPageNo Current, TVLTPageNo& Next) {
    return GetNextPage(SessionID, Current, Next);
  }
  bool GetPriorRecordPage(TVLTSessionID SessionID, TVLTPageNo Current, TVLTPageNo& Prior) {
    return GetPriorPage(SessionID, Current, Prior);
  }
  // The page holding record number RecNo (1-based) and the record's 0-based number among the
  // used slots of that page; 20113 when RecNo exceeds the record count.
  void GetRecordByRecNo(TVLTSessionID SessionID, TVLTPageNo& PageNo, int32_t& RecNoOnPage,
                        int64_t RecNo);
  // 1-based record number of the RecNoOnPage-th record of PageNo; 20111 when the page has no
  // entry.
  void GetRecNoByRecord(TVLTSessionID SessionID, TVLTPageNo PageNo, int64_t& RecNo,
                        int32_t RecNoOnPage);
  // 20292 when the counts of the index do not add up to StoredRecordCount.
  void Validate(TVLTSessionID SessionID, int64_t StoredRecordCount);

  int32_t MaxRecordsOnPage() const { return FMaxRecordsOnPage; }
  void SetMaxRecordsOnPage(int32_t V) { FMaxRecordsOnPage = V; }

 protected:
  bool HasRoom(uint16_t Stored, uint16_t) const override { return Stored < FMaxRecordsOnPage; }

 private:
  int32_t FMaxRecordsOnPage;
};

// The table's small-BLOB pages with the bytes their entries use.
class TVLTBTreeBlobPageIndex : public TVLTBTreePageIndex {
 public:
  using TVLTBTreePageIndex::TVLTBTreePageIndex;

  // A page whose used bytes + Amount stay below the page data size - 2.
  bool FindPageForNewBlob(TVLTSessionID SessionID, uint16_t Amount, TVLTPageNo& PageNo) {
    return FindPageWithRoom(SessionID, Amount, PageNo);
  }
  void AddBlob(TVLTSessionID SessionID, TVLTPageNo PageNo, uint16_t Amount) {
    AddAmount(SessionID, PageNo, Amount);
  }
  // Subtracts Amount from the page's bytes; 20111 when the page has no entry, 20112 when its
  // stored amount is 0, 20307 when Amount exceeds it. Reaching 0 deletes the entry.
  void RemoveBlob(TVLTSessionID SessionID, TVLTPageNo PageNo, uint16_t Amount);

 protected:
  bool HasRoom(uint16_t Stored, uint16_t Amount) const override {
    return int32_t{Stored} + Amount < int32_t{LPageManager->PageDataSize()} - 2;
  }
};

}  // namespace vlt
