// TVLTDiskTableData: one table of a single-file database, as the engine of one process sees it.
// It creates, opens, empties, renames and deletes the table in the database file, keeps its
// two small internal files and takes the table locks each operation needs.
//
// A table in the file:
//
//   WHAT                   WHERE
//   table list entry       name, object id and the start pages of the three files below
//   metadata file          transacted internal file, page type ptTableMetaData: the table
//                          metadata stream (VLTTableMetadata.h) compressed with zlib level 1
//   most-updated file      transacted internal file, page type ptTableMostUpdated (below)
//   locks file             direct-access internal file of the table and record lock bytes
//   record pages           ptTableRecord pages whose header ObjectID is the table's object id
//                          (VLTRecordPage.h), listed by the record page index
//   index pages            ptTableIndex pages of the record page index and of every B-tree
//   BLOB pages             ptTableBlob pages of the table's BLOB values and the BLOB page
//                          index (VLTDiskBlob.h); only tables with BLOB fields have them
//
// Most-updated file content (stored uncompressed, little-endian; n = number of fields):
//
//   OFFSET   SIZE   CONTENT
//   0        4      n (Int32)
//   4        8 x n  last autoincrement value of each field (Int64; 0 for other fields)
//   4 + 8n   4      FTableState of the record manager (Int32)
//   8 + 8n   4      record count (Int32, low half of the count)
//
// The table's structural changes (create, delete, rename, metadata) are made in the system
// session -2 and committed at once; record changes go through the cursor's session.
//
// Every operation runs under the database's latch (the table data lock). Between processes:
// the database-wide table-list lock around create, open, delete and rename; the table locks of
// the locks file (exclusive ltX or intent-share ltIS while a cursor has the table open, shared
// ltS around multi-user reads).
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "engine/core/VLTDatabaseData.h"
#include "engine/core/VLTTableBLOBAccess.h"
#include "engine/core/VLTTableData.h"

namespace vlt {

class TVLTDiskBlobManager;
class TVLTDiskDatabaseData;
class TVLTDiskPageManager;
class TVLTDiskRecordManager;
class TVLTInternalDBTransactedAccessFile;
class TVLTTableLocksFile;

class TVLTDiskTableData : public TVLTTableData, public TVLTTableBLOBAccess {
 public:
  // DatabaseData (may be null) gives the latch and object ids to the storage-independent code;
  // DiskDatabase is the open database the table lives in.
  TVLTDiskTableData(TVLTDatabaseData* DatabaseData, TVLTDiskDatabaseData* DiskDatabase,
                    std::string TableName);
  ~TVLTDiskTableData() override;

  void CreateRecordManager() override;
  std::unique_ptr<TVLTIndex> NewIndex(const TVLTIndexSite& Site) override;
  void CancelChanges(TVLTSessionID SessionID, bool InTransaction) override;

  // ---- table level ----
  // 20128 without fields; 20174 when a record does not fit a page. Leaves the table closed.
  void CreateTable(TVLTTableCursor& Cursor, const TVLTFieldDefs& FieldDefs,
                   const TVLTConstraintDefs& ConstraintDefs, const TVLTIndexDefs& IndexDefs) override;
  // 20242 exclusive access while other cursors have the table open; 20208 / 20209 when the
  // table lock cannot be had.
  void OpenTable(TVLTTableCursor& Cursor) override;
  void CloseTable(TVLTTableCursor& Cursor) override;
  // Removes every page of the table, its three files and its table list entry.
  void DeleteTable(TVLTTableCursor& Cursor, bool DesignMode) override;
  void EmptyTable(TVLTTableCursor& Cursor) override;
  void RenameTable(const std::string& NewTableName, TVLTTableCursor& Cursor) override;
  void RenameField(const std::string& FieldName, const std::string& NewFieldName) override;
  void AddIndex(const TVLTIndexDef& IndexDef, TVLTTableCursor* Cursor) override;
  void DeleteIndex(int32_t IndexID, TVLTTableCursor* Cursor) override;

  // ---- records ----
  // Multi-user: reloads the most-updated data first.
  bool InsertRecord(TVLTTableCursor& Cursor) override;
  // A change that fails keeps the BLOB values it would have replaced, deletes the ones it
  // stored, and leaves the buffer's unsaved BLOB values in place for another try.
  bool UpdateRecord(TVLTTableCursor& Cursor) override;
  bool DeleteRecord(TVLTTableCursor& Cursor) override;
  TVLTGetRecordResult GetRecordBuffer(TVLTTableCursor& Cursor,
                                      TVLTGetRecordMode GetRecordMode) override;
  bool Locate(TVLTTableCursor& Cursor, const TVLTExpression* SearchExpression) override;
  bool FindKey(TVLTTableCursor& Cursor, TVLTSearchCondition SearchCondition) override;
  void InternalSetRecNo(TVLTTableCursor& Cursor, int64_t RecNo) override;
  int64_t InternalGetRecNo(TVLTTableCursor& Cursor) override;
  int64_t InternalGetRecordCount(TVLTTableCursor& Cursor) override;
  int64_t LastAutoincValue(int32_t FieldNo, TVLTSessionData* Session) override;
  void Rollback(TVLTSessionID SessionID) override;

  int64_t GetRecordBitmapSize() override;
  int32_t GetDiskRecordSize() override;
  int64_t RecordIDToBitNo(const TVLTPageItemID& RecordID) override;
  TVLTPageItemID BitNoToRecordID(int64_t BitNo) override;

  // ---- BLOB values (each under the table data lock) ----
  void ReadBLOBField(TVLTTableCursor& Cursor, int32_t FieldNo, TVLTStream& Stream) override;
  void WriteBLOBFieldToRecordBuffer(TVLTTableCursor& Cursor, int32_t FieldNo,
                                    TVLTStream& Stream) override;
  void ClearBLOBFieldCache(TVLTTableCursor& Cursor, int32_t FieldNo) override;
  // Frees the cache entries the buffer made; copies of the buffer only forget their handles.
  void ClearBlobsCacheInRecordBuffer(uint8_t* RecordBuffer) override;
  void WriteBLOBs(TVLTTableCursor& Cursor) override;
  void DeleteBLOBs(TVLTTableCursor& Cursor) override;
  TVLTDiskBlobManager* BlobManager() const { return FBlobManager.get(); }

  // ---- stored state ----
  // 20164 "Invalid table header data" when the file does not hold this table's layout.
  void LoadMostUpdated(TVLTSessionID SessionID) override;
  void SaveMostUpdated(TVLTSessionID SessionID) override;
  void SaveMetadataFile(TVLTSessionID SessionID);
  void LoadMetadataFile(TVLTSessionID SessionID);

  // ---- locks (true at once in single-user mode) ----
  // AllowXIRWAfterSIRW lets ltXIRW be taken while another session holds ltSIRW on the table (the
  // edit locks of cursors in a transaction); the lock manager also keeps the flag with the lock,
  // and a record lock under an ltXIRW taken with it is a physical one other sessions see.
  bool LockTable(TVLTSessionID SessionID, TVLTLockType LockType, int32_t TryCount, int32_t DelayMS,
                 bool AllowXIRWAfterSIRW = false);
  bool UnlockTable(TVLTSessionID SessionID, TVLTLockType LockType);
  bool LockRecord(TVLTSessionID SessionID, const TVLTPageItemID& RecordID, int32_t TryCount,
                  int32_t DelayMS);
  bool UnlockRecord(TVLTSessionID SessionID, const TVLTPageItemID& RecordID);
  bool IsRecordLocked(TVLTSessionID SessionID, const TVLTPageItemID& RecordID);

  // A consistency check of the open table (read only; Problems receives one line per fault):
  // every record page of the table (page type, object id, marked used) against the record page
  // index and its counts, the counts against the record count (invariants 1 and 2 of
  // VLTDiskRecordManager.h), each B-tree's own integrity, and
  // every record present exactly once in every index; the BLOB pages against the BLOB page
  // index, every stored BLOB value readable and referred to once, no BLOB page left over. The pages
  // of the session slots and table lock slots, which an encrypted file stores plain, are passed
  // over: they are never record pages, and reading them through the cipher would report them as
  // damaged. Headers: the file's page headers (TVLTDiskPageManager::ReadPageHeaders) when the
  // caller checks several tables of one database; read here when absent.
  void CheckTable(TVLTSessionID SessionID, std::vector<std::string>& Problems,
                  const std::vector<TVLTDiskPageHeader>* Headers = nullptr);

  // True (and the object may be freed) when no cursor has the table open.
  bool FreeIfNoCursorsConnected() const { return FCursorList.empty(); }

  int32_t TableID() const { return FTableID; }
  bool Exclusive() const { return FExclusive; }
  bool IsChangingTableList() const { return FIsChangingTableList; }
  void SetIsChangingTableList(bool V) { FIsChangingTableList = V; }
  TVLTDiskRecordManager* DiskRecordManager() const;
  TVLTDiskDatabaseData* DiskDatabase() const { return LDiskDatabase; }
  TVLTInternalDBTransactedAccessFile* MetadataFile() const { return FTableMetadataFile.get(); }
  TVLTInternalDBTransactedAccessFile* MostUpdatedFile() const { return FTableMostUpdatedFile.get(); }
  int32_t MostUpdatedSize() const;

 private:
  class TSharedRead;
  class TTablesLock;
  bool MultiUser() const;
  // The three files and the managers go; the table is closed in this process.
  void FreeTableObjects() noexcept;
  // Creates the managers of an existing table from its metadata file.
  void LoadTableObjects(TVLTTableCursor& Cursor);
  // The repair path of opening: the record page index is rebuilt from the pages when it or the
  // most-updated data cannot be trusted, that is when the index disagrees with what its pages
  // really are (TVLTDiskRecordManager::ValidateRecordPageIndex).
  void RepairOnOpen(TVLTTableCursor& Cursor);
  // After a rebuild that could not trust the most-updated data: every autoincrement field's last
  // value becomes at least the highest value stored, so that no value is handed out twice.
  void RaiseAutoincsToStoredValues(TVLTSessionID SessionID);
  // Opens the table for the cursor exclusively unless the cursor has it open already (then no
  // other cursor may have it open). Returns whether it opened it.
  bool OpenExclusively(TVLTTableCursor& Cursor);
  bool InCursorList(const TVLTTableCursor& Cursor) const;
  void CreateBlobManager();
  // Runs an insert, update or delete as one BLOB record change (VLTDiskBlob.h).
  bool ChangeWithBlobs(TVLTTableCursor& Cursor, const std::function<bool()>& Change);
  void RemoveCursor(TVLTTableCursor& Cursor);

  TVLTDiskDatabaseData* LDiskDatabase;
  TVLTDiskPageManager* LDiskPageManager;
  int32_t FTableID = kNoObjectID;
  std::unique_ptr<TVLTTableLocksFile> FTableLocksFile;
  std::unique_ptr<TVLTInternalDBTransactedAccessFile> FTableMetadataFile;
  std::unique_ptr<TVLTInternalDBTransactedAccessFile> FTableMostUpdatedFile;
  std::unique_ptr<TVLTDiskBlobManager> FBlobManager;
  // Set while a record is inserted: its BLOB references must not be shared with another record.
  bool FInsertingRecord = false;
  bool FExclusive = false;
  bool FIsChangingTableList = false;
  int32_t FLastUsedTableState = -1;
  // The table lock each cursor holds while it has the table open.
  std::map<const TVLTTableCursor*, TVLTLockType> FCursorLocks;
};

// The storage-independent database object over an open single-file database: object ids come
// from the file, commits and rollbacks go to the disk database, and its table data objects are
// TVLTDiskTableData.
class TVLTDiskBackedDatabaseData : public TVLTDatabaseData {
 public:
  explicit TVLTDiskBackedDatabaseData(TVLTDiskDatabaseData* DiskDatabase);
  ~TVLTDiskBackedDatabaseData() override;

  std::unique_ptr<TVLTTableData> CreateTableData(TVLTTableCursor& Cursor) override;
  TVLTObjectID GetNewObjectId() override;
  void Commit(TVLTSessionID SessionID, bool DoFlushBuffers) override;
  void Rollback(TVLTSessionID SessionID) override;
  void FlushBuffers() override;

  TVLTDiskDatabaseData* DiskDatabase() const { return LDiskDatabase; }

 private:
  TVLTDiskDatabaseData* LDiskDatabase;
};

}  // namespace vlt
