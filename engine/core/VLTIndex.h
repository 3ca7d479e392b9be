// TVLTIndex: what the index manager and the table data need of one open index of a table. The
// B-tree record index implements it; the storage core only ever calls these operations.
//
// Contract for implementations:
//   1. The index keeps its own copy of the definition (FIndexDef). CreateIndex and OpenIndex of
//      this base replace that copy with a fresh copy of the given definition, except when given
//      the index's own copy. An implementation's CreateIndex stores the new root page number in
//      the given definition AND in its copy; the index manager copies FRootPageNo from the copy
//      into the listed definition after every insertion, so a root that moves is not lost.
//   2. InsertRecord / DeleteRecord take the key from the cursor's FCurrentRecordBuffer and the
//      reference from its CurrentRecordID. UpdateRecord(Cursor, true) is called before the new
//      record is stored, UpdateRecord(Cursor, false) after; the old values are in the cursor's
//      FEditRecordBuffer, the new ones in FCurrentRecordBuffer. When the keys are equal nothing
//      changes; otherwise the old entry goes before, the new entry comes after.
//   3. DeleteRecord raises EVLTException when the entry is missing (the index is then
//      inconsistent with the table); every other failure also raises.
//   4. Index positions (TVLTIndexPosition) are made by CreateIndexPosition and turned into bit
//      numbers of an index-based record bitmap by IndexPositionToBitNo (no bit number is 0 or
//      below) and back by BitNoToIndexPosition.
//   5. Navigation (GetRecordBuffer) refuses grmCurrent, starts from the ends when the end flags
//      are set, and reads the record found through the table's record manager. The position
//      cache may be nullptr (the table data's own scans pass none). NavigationInfo.RecordBuffer
//      may be nullptr when only the position is wanted.
//   6. CompareRecordBuffersByIndex over all columns answers 0 exactly when UpdateRecord treats
//      the old and new keys as equal: the index manager relies on it to undo a failed update.
#pragma once

#include <cstdint>
#include <memory>

#include "engine/core/VLTIndexDef.h"
#include "engine/core/VLTRecordManager.h"

namespace vlt {

class TVLTPageManager;
class TVLTRecordBitmap;
class TVLTScanSearchCondition;
class TVLTTableCursor;
class TVLTTableData;

// A position in an index (the B-tree's key path). Opaque to the storage core.
class TVLTIndexPosition {
 public:
  virtual ~TVLTIndexPosition() = default;
};

// The state of one walk over an index range (FindRecord), from CreateSearchInfo to
// FreeSearchInfo. InUse is set by the walk's first answer.
class TVLTIndexSearchInfo {
 public:
  virtual ~TVLTIndexSearchInfo() = default;
  bool InUse = false;
  int64_t EntriesVisited = 0;  // answers given
};

// The cursor's cache of its last index position: valid for IndexID, RecordID and TableState.
struct TVLTIndexPositionCache {
  std::unique_ptr<TVLTIndexPosition> Position;
  int32_t IndexID = -1;
  TVLTPageItemID RecordID;
  int32_t TableState = -1;

  void Invalidate() {
    IndexID = -1;
    TableState = -1;
  }
};

// What an index works in: the table whose records it orders and the page managers of its pages
// (a temporary index keeps its pages apart when the table has a temporary page manager). The
// index manager owns it; an index reads it and never calls back into the manager.
struct TVLTIndexSite {
  TVLTTableData* TableData = nullptr;
  TVLTPageManager* PageManager = nullptr;
  const std::unique_ptr<TVLTPageManager>* TemporaryPageManager = nullptr;  // the manager's slot

  // The page manager of the pages of an index defined by Def.
  TVLTPageManager* PageManagerFor(const TVLTIndexDef* Def) const {
    if (Def && Def->FTemporary && TemporaryPageManager && *TemporaryPageManager)
      return TemporaryPageManager->get();
    return PageManager;
  }
};

class TVLTIndex {
 public:
  explicit TVLTIndex(const TVLTIndexSite& Site) : FSite(&Site) {}
  virtual ~TVLTIndex() = default;
  TVLTIndex(const TVLTIndex&) = delete;
  TVLTIndex& operator=(const TVLTIndex&) = delete;

  // Builds the index for IndexDef; with a cursor, every record of the table is inserted.
  virtual void CreateIndex(TVLTTableCursor* Cursor, TVLTIndexDef& IndexDef);
  virtual void DropIndex(TVLTSessionID SessionID) = 0;
  virtual void EmptyIndex(TVLTSessionID SessionID) = 0;
  virtual void OpenIndex(const TVLTIndexDef& IndexDef);
  // Drops and creates the index again from the table's current records.
  virtual void RebuildTemporaryIndex(TVLTTableCursor* Cursor) = 0;

  virtual void GetRecordBuffer(TVLTSessionID SessionID, TVLTNavigationInfo& NavigationInfo,
                               int32_t TableState, TVLTIndexPositionCache* Cache) = 0;
  // The record next to (mode next or prior) the key values held in NavigationInfo.RecordBuffer,
  // for a current record that can no longer be read.
  virtual void GetClosestRecordBuffer(TVLTSessionID SessionID, TVLTNavigationInfo& NavigationInfo,
                                      int32_t TableState, TVLTIndexPositionCache* Cache) = 0;

  virtual std::unique_ptr<TVLTIndexPosition> CreateIndexPosition() = 0;
  // The position of the record RecordID whose values are in RecordBuffer; false when the index
  // does not hold it.
  virtual bool GetIndexPosition(TVLTSessionID SessionID, const TVLTPageItemID& RecordID,
                                TVLTIndexPosition& Position, const uint8_t* RecordBuffer) = 0;
  virtual TVLTPageItemID GetRecordIDByIndexPosition(TVLTSessionID SessionID,
                                                    const TVLTIndexPosition& Position) = 0;
  virtual int64_t IndexPositionToBitNo(const TVLTIndexPosition& Position) = 0;
  virtual void BitNoToIndexPosition(int64_t BitNo, TVLTIndexPosition& Position) = 0;
  virtual int32_t GetMaxEntriesPerPage() = 0;

  // 1-based number of the record in index order, -1 when the index does not hold it.
  virtual int64_t GetRecNoByRecordID(TVLTSessionID SessionID, const TVLTPageItemID& RecordID,
                                     const uint8_t* RecordBuffer) = 0;
  virtual TVLTPageItemID GetRecordIDByRecNo(TVLTSessionID SessionID, int64_t RecNo) = 0;

  // Of every run of visible positions equal in the first DistinctFieldCount columns, hides all
  // but the first.
  virtual void ApplyDistinctToRecordBitmap(TVLTSessionID SessionID, TVLTRecordBitmap* Bitmap,
                                           int32_t DistinctFieldCount) = 0;
  // Compares two records by the first FieldCount columns of the index (<0, 0, >0).
  virtual int CompareRecordBuffersByIndex(const uint8_t* Buffer1, const uint8_t* Buffer2,
                                          int32_t FieldCount) = 0;

  // ---- range walks and estimates of the scan planner ----
  // An index that cannot walk ranges (GetEntrySize 0) keeps these defaults; the planner then
  // never drives a scan by it.
  virtual std::unique_ptr<TVLTIndexSearchInfo> CreateSearchInfo() { return nullptr; }
  virtual void FreeSearchInfo(std::unique_ptr<TVLTIndexSearchInfo>& SearchInfo) { SearchInfo.reset(); }
  // One step of a walk over the entries that satisfy StartCondition and EndCondition (when
  // given), in index order or backwards. The
  // first call answers the first entry of the range, or, unless Restart, the entry after
  // (before) the current record when that lies further on; later calls the next entry. False
  // past the range. 20077 without a search state, 20078 for a restart of a walk under way.
  virtual bool FindRecord(TVLTSessionID SessionID, TVLTIndexSearchInfo* SearchInfo, bool Restart,
                          bool Forward, const TVLTScanSearchCondition* StartCondition,
                          const TVLTScanSearchCondition* EndCondition,
                          const TVLTPageItemID& CurrentRecordID,
                          const uint8_t* CurrentRecordBuffer, TVLTPageItemID& RecordID);
  // The bit number (index-based bitmaps) of the walk's last answer.
  virtual int64_t SearchInfoBitNo(const TVLTIndexSearchInfo& /*SearchInfo*/) { return -1; }
  // Estimated entries between a lower and an upper condition (one condition: pass it twice);
  // the order of the two is the index's (CompareConditions).
  virtual int64_t GetApproxRangeRecordCount(TVLTSessionID /*SessionID*/,
                                            const TVLTScanSearchCondition& /*Condition1*/,
                                            const TVLTScanSearchCondition& /*Condition2*/,
                                            int64_t TotalRecordCount) {
    return TotalRecordCount;
  }
  // Bytes of one leaf entry: key and reference.
  virtual int32_t GetEntrySize() { return 0; }
  // Where in [0, 1) the record lies in index order; -1 when the index does not hold it.
  virtual double GetApproxRecordPosition(TVLTSessionID /*SessionID*/,
                                         const TVLTPageItemID& /*RecordID*/) {
    return -1;
  }

  // True for indexes that are neither unique nor primary, else true iff no entry has the key.
  virtual bool CanInsertRecord(TVLTSessionID SessionID, const uint8_t* RecordBuffer) = 0;
  virtual bool CanUpdateRecord(TVLTSessionID SessionID, const uint8_t* OldRecordBuffer,
                               const uint8_t* NewRecordBuffer) = 0;
  virtual void InsertRecord(TVLTTableCursor& Cursor) = 0;
  virtual void DeleteRecord(TVLTTableCursor& Cursor) = 0;
  virtual void UpdateRecord(TVLTTableCursor& Cursor, bool BeforeNewRecordIsStored) = 0;

  TVLTIndexDef* IndexDef() const { return FIndexDef.get(); }
  const TVLTIndexSite& Site() const { return *FSite; }

 protected:
  // Replaces FIndexDef with a copy of Def unless Def is FIndexDef itself.
  void AssignIndexDef(const TVLTIndexDef& Def);

  std::unique_ptr<TVLTIndexDef> FIndexDef;
  const TVLTIndexSite* FSite;
};

}  // namespace vlt
