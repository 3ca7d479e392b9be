// TVLTDiskDatabaseData: the engine-side object of one open single-file database, shared by all
// engine sessions of the process that connect to the same file under the same session name. It
// creates new database files, opens the file and its system structures (system directory,
// active sessions file, table list, table lock manager) when the first session connects, hands
// out session ids through the active sessions file, and frees everything when the last session
// disconnects.
//
// Session life cycle (all under FCSect):
//
//   STEP                        METHOD                 EFFECT
//   first connect               OpenDatabaseFile       file opened, directory, sessions file,
//                                                      table list loaded, lock manager made
//   connect, multi-user         MultiUserConnect       lowest free slot = session id
//   connect, single-user        SingleUserConnect      session id 0; the process's first
//                                                      session takes all slots, or the database
//                                                      becomes read-only when another process
//                                                      is connected
//   disconnect                  MultiUserDisconnect /  slot released (single-user: all slots,
//                               SingleUserDisconnect   with the process's last session)
//   last disconnect             CloseDatabaseFile      open transaction rolled back, structures
//                                                      freed, file closed
//
// Within a process, sessions are serialised by FCSect; between processes, by the byte locks of
// the active sessions file and of the tables' locks files.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "engine/base/VLTTypes.h"

namespace vlt {

class TVLTDiskPageManager;
class TVLTSystemDirectory;
class TVLTActiveSessionsFile;
class TVLTTableListFile;
class TVLTDatabaseTableLockManager;

// What the database object reads from and sets on a connecting engine session.
struct TVLTDatabaseSession {
  TVLTSessionID SessionID = kNoSessionID;
  bool MultiUser = false;
  bool Exclusive = false;
  bool ReadOnly = false;
  bool RepairNeeded = false;
  bool InTransaction = false;
  TVLTDurability Durability = dsNormal;
};

class TVLTDiskDatabaseData {
 public:
  // DatabaseName holds the file name of the database; SessionName the name sessions share it
  // under.
  explicit TVLTDiskDatabaseData(std::string DatabaseName, std::string SessionName = {});
  ~TVLTDiskDatabaseData();  // closes what is still open, without raising
  TVLTDiskDatabaseData(const TVLTDiskDatabaseData&) = delete;
  TVLTDiskDatabaseData& operator=(const TVLTDiskDatabaseData&) = delete;

  // Creates a complete empty database from Password, PageSize, PageCountInExtent and
  // MaxSessionCount and closes it again (also when a step fails; a failed creation leaves no
  // file behind).
  void CreateDatabase();
  // 20235 when the session's MultiUser differs from the open database's; 20094 when no slot is
  // free. Sets the session's SessionID, MultiUser, ReadOnly and RepairNeeded.
  void ConnectSession(TVLTDatabaseSession& Session);
  // Releases the session's slot; the last session closes the database (rolling back an open
  // transaction of that session first).
  void DisconnectSession(TVLTDatabaseSession& Session);
  // True when no session is connected (the owner then frees the object).
  bool FreeIfNoSessionsConnected() const { return FSessionList.empty(); }

  // ---- table list (each change is saved through session -2) ----
  // 20126 (add) / 20129 (open) / 20130 (remove) / 20131 (rename) "Pointer is nil" when no
  // table list is open. A change the file refuses is undone in memory too.
  void AddTable(int32_t TableID, const std::string& TableName, TVLTPageNo MetadataFilePageNo,
                TVLTPageNo MostUpdatedFilePageNo, TVLTPageNo LocksFilePageNo);
  void OpenTable(const std::string& TableName, int32_t& TableID, TVLTPageNo& MetadataFilePageNo,
                 TVLTPageNo& MostUpdatedFilePageNo, TVLTPageNo& LocksFilePageNo);
  void RemoveTable(const std::string& TableName);
  void RenameTable(const std::string& TableName, const std::string& NewTableName);
  bool TableExists(const std::string& TableName);
  // The table names in stored order (the list is reloaded from the file).
  void GetTablesList(std::vector<std::string>& List);
  // Slots of the active sessions file locked right now, by any process.
  int32_t GetDBFileConnectionsCount();

  // ---- transactions and the rest of the file ----
  // Multi-user: first takes ltRW on the tables the session changed (20233 when that fails),
  // afterwards clears the transaction locks. DoFlushBuffers flushes the file.
  void Commit(TVLTSessionID SessionID, bool DoFlushBuffers);
  void Rollback(TVLTSessionID SessionID);
  void FlushBuffers();
  // The bytes of the pages the session changed and has not committed yet (what its next commit
  // writes, not counting the journal); 0 when the file is not open.
  int64_t PendingChangeBytes(TVLTSessionID SessionID);
  int32_t GetNewObjectId();
  // 200 tries 20 ms apart; 20210 / 20211.
  void LockTables();
  void UnlockTables();
  void TruncateDatabase();

  // ---- properties ----
  const std::string& DatabaseName() const { return FDatabaseName; }
  const std::string& SessionName() const { return FSessionName; }
  TVLTDiskPageManager* PageManager() const { return FPageManager.get(); }
  TVLTSystemDirectory* SystemDir() const { return FSystemDir.get(); }
  TVLTActiveSessionsFile* ActiveSessionsFile() const { return FActiveSessionsFile.get(); }
  TVLTTableListFile* TableListFile() const { return FTableListFile.get(); }
  TVLTDatabaseTableLockManager* TableLockManager() const { return FTableLockManager.get(); }
  const std::vector<TVLTDatabaseSession*>& SessionList() const { return FSessionList; }
  bool IsOpen() const { return FPageManager != nullptr; }
  std::recursive_mutex& CSect() { return FCSect; }

  const TVLTPassword& Password() const { return FPassword; }
  void SetPassword(const TVLTPassword& V) { FPassword = V; }
  bool Encrypted() const { return !FPassword.Password.empty(); }
  int32_t MaxSessionCount() const { return FMaxSessionCount; }
  void SetMaxSessionCount(int32_t V) { FMaxSessionCount = V; }
  int32_t PageSize() const { return FPageSize; }
  void SetPageSize(int32_t V) { FPageSize = V; }
  int32_t PageCountInExtent() const { return FPageCountInExtent; }
  void SetPageCountInExtent(int32_t V) { FPageCountInExtent = V; }
  bool ReadOnly() const { return FReadOnly; }
  void SetReadOnly(bool V) { FReadOnly = V; }
  bool MultiUser() const { return FMultiUser; }
  int32_t TryCount() const { return FTryCount; }
  int32_t DelayMS() const { return FDelayMS; }
  void SetTryCount(int32_t V) { FTryCount = V; }
  void SetDelayMS(int32_t V) { FDelayMS = V; }
  bool DesignMode() const { return FDesignMode; }
  void SetDesignMode(bool V) { FDesignMode = V; }

  // Lock waits of the structures this object makes (sessions-file lock, header lock, lock
  // releases, commit-time table locks); the defaults are the production ones. Tests shorten
  // them.
  struct TLockWaits {
    int32_t Count = 4500, DelayMS = 20;            // sessions file, header, releases
    int32_t CommitCount = 900, CommitDelayMS = 100;  // table locks before a commit
    int32_t TablesCount = 200, TablesDelayMS = 20;   // LockTables
  };
  void SetLockWaits(const TLockWaits& W) { FLockWaits = W; }

 private:
  void OpenDatabaseFile(TVLTDatabaseSession& Session);
  void CloseDatabaseFile() noexcept;
  TVLTDiskPageManager& OpenPageManager() const;
  TVLTTableListFile& TableList(int32_t NilCode) const;

  // Fields of the database object.
  std::recursive_mutex FCSect;
  std::vector<TVLTDatabaseSession*> FSessionList;
  std::string FDatabaseName;
  std::unique_ptr<TVLTDiskPageManager> FPageManager;
  bool FReadOnly = false;
  int32_t FTryCount = 20;
  int32_t FDelayMS = 50;
  bool FMultiUser = false;
  std::string FSessionName;
  // Fields of the disk database.
  std::unique_ptr<TVLTSystemDirectory> FSystemDir;
  std::unique_ptr<TVLTActiveSessionsFile> FActiveSessionsFile;
  std::unique_ptr<TVLTTableListFile> FTableListFile;
  TVLTPassword FPassword;
  int32_t FMaxSessionCount = 500;
  int32_t FPageSize = 4096;
  int32_t FPageCountInExtent = 8;
  std::unique_ptr<TVLTDatabaseTableLockManager> FTableLockManager;
  bool FSingleUserConnected = false;

  bool FDesignMode = false;
  TLockWaits FLockWaits;
};

}  // namespace vlt
