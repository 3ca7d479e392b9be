// TVLTTableData: the engine-side object of one open table, shared by every cursor of the process
// that has the table open. It owns the table's four managers: fields (layout, defaults,
// autoincrements), records (where records live), indexes and constraints. The storage variant
// creates them when the first cursor opens the table and implements the storage-dependent
// operations (records, BLOBs, record numbers, the bitmap mapping).
//
// Every operation that touches records takes the table data lock (the database data's latch)
// first and releases it on every exit.
//
// Record change flows (the cursor has already applied defaults, autoincrements and checked the
// constraints):
//
//   STEP  INSERT                        UPDATE                           DELETE
//   1     lock                          lock                             lock
//   2     sync temporary indexes (MU)   reload most-updated, sync (MU)   reload, sync (MU)
//   3     write BLOBs                   indexes: before store            find the neighbour
//   4     record manager AddRecord      write BLOBs                      delete BLOBs
//   5     bitmap show/hide              record manager UpdateRecord      indexes: delete
//   6     indexes: insert               indexes: after store             record manager Delete
//   7     save most-updated             bitmap, save most-updated        save most-updated
//   8     apply changes (no batch)      apply changes (no batch)         apply, bitmap, position
//
// A step that fails after the record or its index entries were changed undoes what the earlier
// steps of the same flow did to the indexes and records, so that records and indexes never
// disagree.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "engine/base/VLTScopeGuard.h"
#include "engine/core/VLTConstraintManager.h"
#include "engine/core/VLTFieldManager.h"
#include "engine/core/VLTIndexManager.h"
#include "engine/core/VLTRecordBitmap.h"
#include "engine/core/VLTRecordManager.h"
#include "engine/core/VLTTableCursor.h"
#include "engine/expr/VLTSearchCondition.h"

namespace vlt {

class TVLTDatabaseData;
class TVLTExpression;
class TVLTPageManager;
class TVLTScanSearchCondition;
class TVLTScanSearchConditionArray;

// One search of the table data for a cursor: the next or prior record of the cursor's view that
// also meets the key condition of a key search and the extra expression of a Locate; or, in
// bitmap mode, every such record marked in the bitmap.
struct TVLTSearchRequest {
  const TVLTExpression* Expression = nullptr;             // not owned
  const TVLTScanSearchCondition* KeyCondition = nullptr;  // not owned
  bool Forward = true;
  bool Restart = false;  // from the first (last) record rather than from the current one
  TVLTRecordBitmap* Bitmap = nullptr;
  bool BitmapMode = false;
};

class TVLTTableData {
 public:
  TVLTTableData(TVLTDatabaseData* DatabaseData, std::string TableName);
  virtual ~TVLTTableData();
  TVLTTableData(const TVLTTableData&) = delete;
  TVLTTableData& operator=(const TVLTTableData&) = delete;

  // ---- managers (storage variants create their own kinds) ----
  virtual void CreateRecordManager() = 0;
  virtual void CreateFieldManager(const TVLTFieldDefs& FieldDefs);
  virtual void CreateIndexManager(const TVLTIndexDefs& IndexDefs);
  // Gives every constraint a new object id and the table's name, then links and names them.
  virtual void CreateConstraintManager(const TVLTConstraintDefs& ConstraintDefs);
  virtual void InitCursorRecordSizes(TVLTTableCursor& /*Cursor*/) {}
  // A new index object of the storage variant's kind.
  virtual std::unique_ptr<TVLTIndex> NewIndex(const TVLTIndexSite& Site) = 0;
  void FreeManagers();

  // ---- changes ----
  // Unless a transaction is open, the page manager applies / cancels the session's changes.
  virtual void ApplyChanges(TVLTSessionID SessionID, bool InTransaction);
  virtual void CancelChanges(TVLTSessionID SessionID, bool InTransaction);

  // ---- table level ----
  virtual void CreateTable(TVLTTableCursor& Cursor, const TVLTFieldDefs& FieldDefs,
                           const TVLTConstraintDefs& ConstraintDefs,
                           const TVLTIndexDefs& IndexDefs);
  // 20017 "Cannot delete table '%s'. Table is open by another dataset" unless DesignMode.
  virtual void DeleteTable(TVLTTableCursor& Cursor, bool DesignMode);
  // Resets the autoincrement values and empties all indexes.
  virtual void EmptyTable(TVLTTableCursor& Cursor);
  // 10150 "Cannot rename table '%s'. Table is open by another dataset".
  virtual void RenameTable(const std::string& NewTableName, TVLTTableCursor& Cursor);
  // Adds / removes the cursor in FCursorList (the first cursor sets FDisableTempFiles).
  virtual void OpenTable(TVLTTableCursor& Cursor);
  virtual void CloseTable(TVLTTableCursor& Cursor);
  virtual void RenameField(const std::string& FieldName, const std::string& NewFieldName);
  virtual void AddIndex(const TVLTIndexDef& IndexDef, TVLTTableCursor* Cursor);
  virtual void DeleteIndex(int32_t IndexID, TVLTTableCursor* Cursor);
  void EmptyIndex(int32_t IndexID, TVLTSessionID SessionID);
  void DeleteAllIndexes(TVLTTableCursor* Cursor);
  void EmptyAllIndexes(TVLTSessionID SessionID);
  void FindOrCreateIndex(TVLTTableCursor& Cursor, const std::vector<std::string>& FieldNamesList,
                         std::string& IndexName, bool& IsCreated,
                         const std::vector<std::string>& CaseSensitivityList,
                         const std::vector<std::string>& AscDescList);
  bool IndexExists(TVLTTableCursor& Cursor, const std::vector<std::string>& FieldNamesList,
                   const std::vector<std::string>& CaseSensitivityList,
                   const std::vector<std::string>& AscDescList);

  // ---- storage-dependent mapping of record bitmaps ----
  virtual int64_t GetRecordBitmapSize() = 0;
  virtual int64_t RecordIDToBitNo(const TVLTPageItemID& RecordID) = 0;
  virtual TVLTPageItemID BitNoToRecordID(int64_t BitNo) = 0;

  // ---- BLOBs (storage variant; the base has no BLOB storage) ----
  virtual void ClearBlobsCacheInRecordBuffer(uint8_t* /*RecordBuffer*/) {}
  // Turns cached BLOB values of the buffer into stored BLOB references.
  virtual void WriteBLOBs(TVLTTableCursor& /*Cursor*/) {}
  virtual void DeleteBLOBs(TVLTTableCursor& /*Cursor*/) {}

  // ---- records ----
  virtual TVLTGetRecordResult GetRecordBuffer(TVLTTableCursor& Cursor,
                                              TVLTGetRecordMode GetRecordMode);
  // From the start, the first record for which the cursor accepts Expression; on failure the old
  // position is restored. 10272 "Nil pointer occured" for a nil expression.
  virtual bool Locate(TVLTTableCursor& Cursor, const TVLTExpression* SearchExpression);
  // The first record (in the cursor's index order) that meets the key of the cursor's key buffer
  // under SearchCondition (scEqual or scGreaterEqual).
  virtual bool FindKey(TVLTTableCursor& Cursor, TVLTSearchCondition SearchCondition);
  virtual bool InsertRecord(TVLTTableCursor& Cursor);
  virtual bool DeleteRecord(TVLTTableCursor& Cursor);
  virtual bool UpdateRecord(TVLTTableCursor& Cursor);
  int64_t GetRecordCount(TVLTTableCursor& Cursor);
  // 1-based record numbers.
  virtual void SetRecNo(TVLTTableCursor& Cursor, int64_t RecNo);
  virtual int64_t GetRecNo(TVLTTableCursor& Cursor);
  virtual void InternalSetRecNo(TVLTTableCursor& Cursor, int64_t RecNo) = 0;
  virtual int64_t InternalGetRecNo(TVLTTableCursor& Cursor) = 0;
  virtual int64_t InternalGetRecordCount(TVLTTableCursor& Cursor) = 0;
  virtual int64_t LastAutoincValue(int32_t FieldNo, TVLTSessionData* Session);
  // Resynchronises the temporary indexes of the session's cursors.
  virtual void Rollback(TVLTSessionID SessionID);

  // Most-updated data of the storage variant (autoincrement values, record count); nothing in
  // the base.
  virtual void SaveMostUpdated(TVLTSessionID /*SessionID*/) {}
  virtual void LoadMostUpdated(TVLTSessionID /*SessionID*/) {}

  // ---- record visibility and bitmaps ----
  bool IsRecordVisible(TVLTTableCursor& Cursor, const uint8_t* RecordBuffer);
  // Rebuilds the cursor's bitmap when it is outdated (or inactive) and the view is restricted.
  void RefreshRecordBitmap(TVLTTableCursor& Cursor);
  // The bit of the record (RecordBuffer holds its values) in the cursor's bitmap; -1 when the
  // index does not hold it.
  // The record a bit of the cursor's record bitmap stands for (by index position when the
  // bitmap follows the cursor's index, else by record identifier).
  TVLTPageItemID RecordIDOfBit(TVLTTableCursor& Cursor, const TVLTRecordBitmap& Bitmap,
                               int64_t BitNo);
  int64_t RecordBitNo(TVLTTableCursor& Cursor, const TVLTPageItemID& RecordID,
                      const uint8_t* RecordBuffer);

  // ---- the search procedure (VLTTableDataSearch.cpp) ----
  // Every search for a cursor goes through it: navigation of a restricted view, Locate,
  // FindKey and the record bitmap. The conditions of the view and the request become scan
  // search conditions; those of one index are merged, at most one index range drives the scan
  // (chosen by its estimated page reads) and every candidate record is tested against what the
  // range does not guarantee. grrOK with RecordID, grrEOF when nothing was found, grrError when
  // the current record cannot be placed. 20258 for a key condition without an index.
  TVLTGetRecordResult SearchRecord(TVLTTableCursor& Cursor, const TVLTSearchRequest& Request,
                                   TVLTPageItemID& RecordID);
  // Bytes a stored record takes (the cost of reading one), the memory record size unless the
  // storage variant knows better.
  virtual int32_t GetDiskRecordSize();

  bool IsUniqueConstraintFailed(TVLTSessionID SessionID, int32_t IndexID,
                                const TVLTPageItemID& RecordID, bool ToInsert,
                                const uint8_t* OldRecordBuffer, const uint8_t* NewRecordBuffer);

  void Lock();
  void Unlock();

  // ---- properties ----
  const std::string& TableName() const { return FTableName; }
  TVLTDatabaseData* DatabaseData() const { return FDatabaseData; }
  TVLTPageManager* PageManager() const { return FPageManager; }
  TVLTBaseFieldManager* FieldManager() const { return FFieldManager.get(); }
  TVLTBaseRecordManager* RecordManager() const { return FRecordManager.get(); }
  TVLTBaseIndexManager* IndexManager() const { return FIndexManager.get(); }
  TVLTBaseConstraintManager* ConstraintManager() const { return FConstraintManager.get(); }
  const std::vector<TVLTTableCursor*>& CursorList() const { return FCursorList; }
  bool Active() const { return FActive; }
  bool IsRepairing() const { return FIsRepairing; }
  void SetIsRepairing(bool V) { FIsRepairing = V; }
  bool DisableTempFiles() const { return FDisableTempFiles; }
  const TVLTCompression& BLOBCompression() const { return FBLOBCompression; }
  void SetBLOBCompression(const TVLTCompression& V) { FBLOBCompression = V; }

 protected:
  TVLTBaseRecordManager& CheckedRecordManager(int32_t Code) const;
  // Physical or index navigation without the bitmap.
  void NavigateUnrestricted(TVLTTableCursor& Cursor, TVLTNavigationInfo& Info);
  void SaveCursorPosition(const TVLTTableCursor& Cursor, TVLTPageItemID& RecordID, bool& First,
                          bool& Last) const;
  // Rebuilds the temporary indexes that no longer match the table (another process changed
  // records, or a change was cancelled).
  void SynchronizeForSession(TVLTTableCursor& Cursor);
  // Shows or hides the cursor's current record in its active bitmap (an index-based bitmap is
  // cleared instead).
  void UpdateBitmapForRecord(TVLTTableCursor& Cursor);
  // The next or prior visible record by an active bitmap.
  TVLTGetRecordResult WalkRecordBitmap(TVLTTableCursor& Cursor, TVLTRecordBitmap& Bitmap,
                                       bool Forward, bool Restart, TVLTPageItemID& RecordID);
  // Chooses the driving range among the merged index conditions: StartNo / EndNo, -1 = none.
  void ChooseDrivingRange(TVLTTableCursor& Cursor, const TVLTSearchRequest& Request,
                          TVLTScanSearchConditionArray& Conditions, int32_t& StartNo,
                          int32_t& EndNo);
  // Moves the cursor onto RecordID and reads it into its record buffer.
  void PositionCursor(TVLTTableCursor& Cursor, const TVLTPageItemID& RecordID);
  // From the first record in the cursor's view, the first record Accepts; the cursor stays there.
  // Otherwise its old position and buffer come back and the answer is false.
  bool ScanFromStart(TVLTTableCursor& Cursor, const std::function<bool(const uint8_t*)>& Accepts);

  std::recursive_mutex FCSect;  // not used for locking: Lock takes the database data's latch
  bool FIsRepairing = false;
  TVLTPageManager* FPageManager;
  TVLTDatabaseData* FDatabaseData;
  std::string FTableName;
  TVLTCompression FBLOBCompression;
  bool FActive = false;
  std::unique_ptr<TVLTBaseFieldManager> FFieldManager;
  std::unique_ptr<TVLTBaseConstraintManager> FConstraintManager;
  std::unique_ptr<TVLTBaseIndexManager> FIndexManager;
  std::unique_ptr<TVLTBaseRecordManager> FRecordManager;
  std::vector<TVLTTableCursor*> FCursorList;  // not owned
  bool FDisableTempFiles = false;
};

// Holds a table data's latch (TVLTTableData::Lock) for a scope.
class TVLTTableDataLatch {
 public:
  explicit TVLTTableDataLatch(TVLTTableData& T) : FT(T) { FT.Lock(); }
  ~TVLTTableDataLatch() { FT.Unlock(); }
  TVLTTableDataLatch(const TVLTTableDataLatch&) = delete;
  TVLTTableDataLatch& operator=(const TVLTTableDataLatch&) = delete;

  // Leaves the latch while Wait runs (a pause between lock tries, so that other cursors of the
  // table can go on meanwhile) and takes it again afterwards.
  template <typename F>
  void Released(F&& Wait) {
    FT.Unlock();
    TVLTScopeExit Relock([this] { FT.Lock(); });
    Wait();
  }

 private:
  TVLTTableData& FT;
};

}  // namespace vlt
