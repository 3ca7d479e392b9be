// TVLTLocalSession: the in-process engine session. It finds or creates the shared database data
// in the engine registry and connects to it.
//
// Finding the database data (under the registry lock, first match in registry order):
//   FDatabaseName "TEMP" / "MEMORY" (exactly, upper case): the reserved entry of that name;
//   otherwise: the entry whose database name equals FDatabaseFileName and whose session name
//   equals FSessionName, both without regard to case.
// When nothing matches, a disk database data is made from the session's file name, read-only
// flag, maximum session count, password, page size, pages per extent and session name.
#pragma once

#include "engine/components/VLTBaseSession.h"

namespace vlt {

class TVLTDatabaseData;
class TVLTDiskDatabaseEntry;

class TVLTLocalSession : public TVLTBaseSession {
 public:
  TVLTLocalSession() = default;
  // Disconnects without raising.
  ~TVLTLocalSession() override;

  bool GetConnected() const override { return FDatabaseData != nullptr && FConnected; }
  void SetConnected(bool Value) override;
  bool GetSuppressDBHeaderErrors() override;
  void SetSuppressDBHeaderErrors(bool Value) override;
  // 20092 when this process has the file open under the same session name.
  void CreateDatabase() override;
  void DeleteDatabase() override {}
  void RenameDatabase(const std::string&) override {}
  void GetTablesList(std::vector<std::string>& List) override;
  bool TableExists(const std::string& TableName) override;
  void StartTransaction() override { InTransaction = true; }
  // 20229 outside a transaction.
  void Commit(bool DoFlushBuffers) override;
  void Rollback() override;
  void FlushBuffers() override;
  // The bytes of the database file's pages this session changed and has not committed yet; 0
  // for the reserved databases and when not connected.
  int64_t PendingChangeBytes() const;

  TVLTPassword& GetPassword() { return FPassword; }
  void TruncateDatabase();
  int32_t GetDBFileConnectionsCount();

  TVLTDatabaseData* DatabaseData() const { return FDatabaseData; }
  // The link to the database file; nullptr for the reserved databases or when not connected.
  TVLTDiskDatabaseEntry* DiskLink() const;

  TVLTPassword FPassword;
  int32_t FPageSize = 4096;
  int32_t FPageCountInExtent = 8;
  bool FSuppressDBHeaderErrors = false;

 private:
  // Caller holds the registry lock.
  TVLTDatabaseData* FindDatabaseData();
  TVLTDatabaseData* FindOrCreateDatabaseData();
  void Connect();
  void Disconnect();
  // Removes and frees a disk database data that no session uses any more.
  void ReleaseIfUnused(TVLTDatabaseData* Data);

  TVLTDatabaseData* FDatabaseData = nullptr;  // owned by the registry
  bool FConnected = false;
};

}  // namespace vlt
