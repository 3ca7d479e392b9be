// TVLTBTreeRecordIndex: a table index (declared or temporary) kept as a B+tree of record keys,
// the implementation of TVLTIndex. Keys are laid out from the index columns by
// TVLTRecordKeyRef; the reference of every leaf entry is the record identifier, so equal keys
// are kept in record-identifier order. Full values of truncated string parts are read through
// the table's record manager when two keys tie on their stored prefixes.
//
// The index works on the page manager its index manager assigns it (the table's temporary one
// for temporary indexes). It takes no locks: the table data lock guards every call.
#pragma once

#include <memory>

#include "engine/base/VLTMemory.h"
#include "engine/core/VLTBTree.h"
#include "engine/core/VLTBTreeKey.h"
#include "engine/core/VLTIndex.h"
#include "engine/core/VLTTableData.h"  // the search condition enumerators

namespace vlt {

class TVLTBaseIndexManager;

// A key path as an index position (record bitmaps, the cursor's position cache).
class TVLTBTreeIndexPosition : public TVLTIndexPosition {
 public:
  TVLTKeyPath Path;
};

class TVLTBTreeRecordIndex : public TVLTIndex {
 public:
  explicit TVLTBTreeRecordIndex(const TVLTIndexSite& Site);
  ~TVLTBTreeRecordIndex() override;

  // A new root page (its number stored in IndexDef and in the index's copy); with a cursor,
  // every record of the table is inserted in physical order. Session -2 without a cursor.
  void CreateIndex(TVLTTableCursor* Cursor, TVLTIndexDef& IndexDef) override;
  void DropIndex(TVLTSessionID SessionID) override;
  void EmptyIndex(TVLTSessionID SessionID) override;
  // 20119 when the definition has no root page.
  void OpenIndex(const TVLTIndexDef& IndexDef) override;
  void RebuildTemporaryIndex(TVLTTableCursor* Cursor) override;

  void GetRecordBuffer(TVLTSessionID SessionID, TVLTNavigationInfo& NavigationInfo,
                       int32_t TableState, TVLTIndexPositionCache* Cache) override;
  void GetClosestRecordBuffer(TVLTSessionID SessionID, TVLTNavigationInfo& NavigationInfo,
                              int32_t TableState, TVLTIndexPositionCache* Cache) override;

  std::unique_ptr<TVLTIndexPosition> CreateIndexPosition() override;
  bool GetIndexPosition(TVLTSessionID SessionID, const TVLTPageItemID& RecordID,
                        TVLTIndexPosition& Position, const uint8_t* RecordBuffer) override;
  // 20103 when the position names no entry.
  TVLTPageItemID GetRecordIDByIndexPosition(TVLTSessionID SessionID,
                                            const TVLTIndexPosition& Position) override;
  int64_t IndexPositionToBitNo(const TVLTIndexPosition& Position) override;
  void BitNoToIndexPosition(int64_t BitNo, TVLTIndexPosition& Position) override;
  int32_t GetMaxEntriesPerPage() override;

  int64_t GetRecNoByRecordID(TVLTSessionID SessionID, const TVLTPageItemID& RecordID,
                             const uint8_t* RecordBuffer) override;
  TVLTPageItemID GetRecordIDByRecNo(TVLTSessionID SessionID, int64_t RecNo) override;

  void ApplyDistinctToRecordBitmap(TVLTSessionID SessionID, TVLTRecordBitmap* Bitmap,
                                   int32_t DistinctFieldCount) override;
  int CompareRecordBuffersByIndex(const uint8_t* Buffer1, const uint8_t* Buffer2,
                                  int32_t FieldCount) override;

  bool CanInsertRecord(TVLTSessionID SessionID, const uint8_t* RecordBuffer) override;
  bool CanUpdateRecord(TVLTSessionID SessionID, const uint8_t* OldRecordBuffer,
                       const uint8_t* NewRecordBuffer) override;
  void InsertRecord(TVLTTableCursor& Cursor) override;
  // 20027 when the entry is missing.
  void DeleteRecord(TVLTTableCursor& Cursor) override;
  // 20250 when the old entry is missing.
  void UpdateRecord(TVLTTableCursor& Cursor, bool BeforeNewRecordIsStored) override;

  // ---- searches for scans (the scan planner) ----
  // The first / last entry matching Condition against the first KeyFieldCount columns (0 =
  // all) of the key values in KeyRecordBuffer; PartialCompare compares string columns only
  // over the length of the given values.
  bool FindByCondition(TVLTSessionID SessionID, bool First, TVLTSearchCondition Condition,
                       const uint8_t* KeyRecordBuffer, int32_t KeyFieldCount, bool PartialCompare,
                       TVLTBTreeIndexPosition& Position);
  // -1 when Condition1 is a lower bound (greater, greater-or-equal), 1 when it is an upper
  // bound (lower, lower-or-equal), 0 otherwise.
  static int CompareConditions(TVLTSearchCondition Condition1, TVLTSearchCondition Condition2);
  struct TRangeCondition {
    TVLTSearchCondition Condition = scNone;
    const uint8_t* KeyRecordBuffer = nullptr;
    int32_t KeyFieldCount = 0;
  };
  // Records between the two bounds, estimated from their approximate positions; clamped to
  // 0 .. TotalRecordCount. 20125 without a root.
  int64_t GetApproxRangeRecordCount(TVLTSessionID SessionID, const TRangeCondition& Condition1,
                                    const TRangeCondition& Condition2, int64_t TotalRecordCount);

  // ---- range walks (TVLTIndex) ----
  std::unique_ptr<TVLTIndexSearchInfo> CreateSearchInfo() override;
  bool FindRecord(TVLTSessionID SessionID, TVLTIndexSearchInfo* SearchInfo, bool Restart,
                  bool Forward, const TVLTScanSearchCondition* StartCondition,
                  const TVLTScanSearchCondition* EndCondition,
                  const TVLTPageItemID& CurrentRecordID, const uint8_t* CurrentRecordBuffer,
                  TVLTPageItemID& RecordID) override;
  int64_t SearchInfoBitNo(const TVLTIndexSearchInfo& SearchInfo) override;
  int64_t GetApproxRangeRecordCount(TVLTSessionID SessionID,
                                    const TVLTScanSearchCondition& Condition1,
                                    const TVLTScanSearchCondition& Condition2,
                                    int64_t TotalRecordCount) override;
  int32_t GetEntrySize() override;
  double GetApproxRecordPosition(TVLTSessionID SessionID, const TVLTPageItemID& RecordID) override;

  void CheckIntegrity(TVLTSessionID SessionID);
  TVLTBTree& Tree() { return *FTree; }
  TVLTRecordKeyRef& KeyRef() { return FKeyRef; }

 private:
  class TRecordReader;

  // Builds the key reference from the definition and the table's fields, and the tree over
  // the index's page manager.
  void Prepare();
  void CheckRoot(int32_t Code) const;
  // The entry after (Forward) or before the current record, which may be gone from the index
  // (then its key values from CurrentRecordBuffer place it); false when there is none.
  bool StepFromRecord(TVLTSessionID SessionID, bool Forward, const TVLTPageItemID& RecordID,
                      const uint8_t* RecordBuffer, TVLTKeyPath& Path);
  // Reads a record through the record manager; false when it cannot be read.
  bool ReadRecord(TVLTSessionID SessionID, const TVLTPageItemID& RecordID, uint8_t* Buffer);
  // Moves from Path (on an entry, or OnEntry false: before the entry Path is on / past the end
  // when Path is empty) and finishes the navigation request. Reference, when given, is the
  // reference of the entry Path is on, already read by the move.
  void FinishNavigation(TVLTSessionID SessionID, TVLTNavigationInfo& Nav, TVLTKeyPath& Path,
                        bool Found, int32_t TableState, TVLTIndexPositionCache* Cache,
                        const uint8_t* Reference = nullptr);

  TVLTRecordKeyRef FKeyRef;
  std::unique_ptr<TRecordReader> FReader;
  std::unique_ptr<TVLTBTree> FTree;
  TVLTBuffer FKeyBuffer;     // one short key
  TVLTBuffer FRecordBuffer;  // one memory record
};

// The index factory of the index manager for B-tree indexes.
std::unique_ptr<TVLTIndex> CreateBTreeRecordIndex(const TVLTIndexSite& Site);

}  // namespace vlt
