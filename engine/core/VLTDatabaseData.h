// TVLTDatabaseData: the engine-side object of one open database, shared by every engine session
// of the process that connects to the same database and session name. It owns the page manager
// (made by the storage variant), the table data objects of the tables open in the process, and
// knows the connected sessions.
//
// All engine work for one database is serialised by FCSect (Lock / Unlock); the table data of
// the database take the same latch. Order: database latch before table-data latch (they are the
// same recursive latch here, so either order nests).
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "engine/base/VLTTypes.h"
#include "engine/core/VLTPageManager.h"
#include "engine/core/VLTSessionData.h"

namespace vlt {

class TVLTTableData;
class TVLTTableCursor;

class TVLTDatabaseData {
 public:
  explicit TVLTDatabaseData(std::string DatabaseName, std::string SessionName = {});
  virtual ~TVLTDatabaseData();
  TVLTDatabaseData(const TVLTDatabaseData&) = delete;
  TVLTDatabaseData& operator=(const TVLTDatabaseData&) = delete;

  // Adds the session and gives it session id 0.
  virtual void ConnectSession(TVLTSessionData& Session);
  virtual void DisconnectSession(TVLTSessionData& Session);
  // True when no session is connected (the owner then frees the object).
  virtual bool FreeIfNoSessionsConnected();
  // Names of the open table data objects.
  virtual void GetTablesList(std::vector<std::string>& List);
  virtual void CreateDatabase();
  // A new table data object for the cursor's table (storage variant).
  virtual std::unique_ptr<TVLTTableData> CreateTableData(TVLTTableCursor& Cursor) = 0;
  // By the cursor's table name, case-insensitively; nullptr when not open.
  virtual TVLTTableData* FindTableData(TVLTTableCursor& Cursor);
  virtual TVLTTableData* FindOrCreateTableData(TVLTTableCursor& Cursor);
  // The base hands out ids from a counter in memory; storage variants keep theirs in the file.
  virtual TVLTObjectID GetNewObjectId();
  // The page manager applies the session's changes.
  virtual void Commit(TVLTSessionID SessionID, bool DoFlushBuffers);
  // The page manager cancels the session's changes, then every table data's Rollback.
  virtual void Rollback(TVLTSessionID SessionID);
  virtual void FlushBuffers();

  bool TableExists(const std::string& TableName);
  // Frees a table data object nobody uses any more.
  void RemoveTableData(TVLTTableData* TableData);

  void Lock() { FCSect.lock(); }
  void Unlock() { FCSect.unlock(); }
  std::recursive_mutex& CSect() { return FCSect; }

  const std::string& DatabaseName() const { return FDatabaseName; }
  const std::string& SessionName() const { return FSessionName; }
  TVLTPageManager* PageManager() const { return FPageManager.get(); }
  const std::vector<TVLTSessionData*>& SessionList() const { return FSessionList; }
  const std::vector<std::unique_ptr<TVLTTableData>>& TableDataList() const {
    return FTableDataList;
  }
  bool ReadOnly() const { return FReadOnly; }
  void SetReadOnly(bool V) { FReadOnly = V; }
  bool MultiUser() const { return FMultiUser; }
  void SetMultiUser(bool V) { FMultiUser = V; }
  int32_t TryCount() const { return FTryCount; }
  void SetTryCount(int32_t V) { FTryCount = V; }
  int32_t DelayMS() const { return FDelayMS; }
  void SetDelayMS(int32_t V) { FDelayMS = V; }

 protected:
  void SetPageManager(std::unique_ptr<TVLTPageManager> PageManager) {
    FPageManager = std::move(PageManager);
  }

  std::recursive_mutex FCSect;
  std::vector<TVLTSessionData*> FSessionList;  // not owned
  // FTableDataList comes after FPageManager, so table data are freed while the page manager exists.
  std::unique_ptr<TVLTPageManager> FPageManager;
  std::vector<std::unique_ptr<TVLTTableData>> FTableDataList;
  std::string FDatabaseName;
  bool FReadOnly = false;
  int32_t FTryCount = 20;
  int32_t FDelayMS = 50;
  bool FMultiUser = false;
  std::string FSessionName;
  TVLTObjectID FLastObjectID = 0;
};

}  // namespace vlt
