// TVLTDiskDatabaseEntry: the engine registry's entry for one database file. It owns the
// single-file database object (TVLTDiskDatabaseData) and is the storage core's database data
// over it (TVLTDiskBackedDatabaseData: table data of the file, object ids, commits), so that
// engine sessions, cursors and the table data reach every kind of database the same way.
//
// The disk object keeps its own per-session record (TVLTDatabaseSession); the entry keeps one
// for every connected engine session and copies the session id, mode flags and the transaction
// flag across on connect, disconnect, commit and rollback.
#pragma once

#include <map>
#include <memory>

#include "engine/disk/VLTDiskDatabaseData.h"
#include "engine/disk/VLTDiskTableData.h"

namespace vlt {

// Holds the disk object, so that it is made before and freed after the database data over it.
struct TVLTDiskDatabaseHolder {
  TVLTDiskDatabaseHolder(const std::string& DatabaseFileName, const std::string& SessionName)
      : FDisk(std::make_unique<TVLTDiskDatabaseData>(DatabaseFileName, SessionName)) {}
  std::unique_ptr<TVLTDiskDatabaseData> FDisk;
};

class TVLTDiskDatabaseEntry : private TVLTDiskDatabaseHolder, public TVLTDiskBackedDatabaseData {
 public:
  TVLTDiskDatabaseEntry(const std::string& DatabaseFileName, const std::string& SessionName);
  ~TVLTDiskDatabaseEntry() override;

  void ConnectSession(TVLTSessionData& Session) override;
  void DisconnectSession(TVLTSessionData& Session) override;
  bool FreeIfNoSessionsConnected() override;
  // The table names of the file's table list (not only the open ones).
  void GetTablesList(std::vector<std::string>& List) override;
  void CreateDatabase() override;
  void Commit(TVLTSessionID SessionID, bool DoFlushBuffers) override;
  void Rollback(TVLTSessionID SessionID) override;

  bool FileTableExists(const std::string& TableName) { return FDisk->TableExists(TableName); }
  void TruncateDatabase() { FDisk->TruncateDatabase(); }
  int32_t GetDBFileConnectionsCount() { return FDisk->GetDBFileConnectionsCount(); }

  TVLTDiskDatabaseData& Disk() const { return *FDisk; }

 private:
  TVLTDatabaseSession* MirrorOf(TVLTSessionID SessionID);

  // The disk object's record of every connected engine session.
  std::map<TVLTSessionData*, std::unique_ptr<TVLTDatabaseSession>> FMirrors;
};

}  // namespace vlt
