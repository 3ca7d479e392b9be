// TVLTDatabase: the application's handle on one database file. It names the file, carries the
// password, cipher and page geometry used when the file is created, opens and closes the
// connection through an engine session, creates, deletes and renames the file, and rebuilds it
// into a new file for compaction, repair, password change and settings change.
//
// Rebuilding (CopyDatabase) copies every table into a new file written beside the database file
// (its name followed by ".tmp"). The new file takes the old one's place by one atomic rename
// only after a complete copy, so that at any moment either the old file or the new one is whole
// under the database file's name; on failure the temporary file is deleted and the database
// file stays unchanged.
//
// This build has no engine windows: the password prompt, the repair confirmation and the wait
// window behave as with SilentMode on; the events (OnPassword, OnNeedRepair, progress events)
// still work.
//
// State: closed -> Open -> open (FHandle set, datasets may open) -> Close -> closed. Closing
// first closes every dataset of the database.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "engine/base/VLTTypes.h"
#include "engine/components/VLTSession.h"

namespace vlt {

class TVLTBaseSession;
class TVLTLocalSession;
class TVLTDatabase;

// What a database needs of the datasets that use it.
class TVLTDatabaseDataSet {
 public:
  virtual ~TVLTDatabaseDataSet() = default;
  virtual void CloseDataSet() = 0;
  // Query components are closed first.
  virtual bool IsQueryDataSet() const { return false; }
};

class TVLTDatabase : public TVLTSessionDatabase {
 public:
  using TNotifyEvent = std::function<void(TVLTDatabase& Sender)>;
  using TProgressEvent = std::function<void(TVLTDatabase& Sender, int32_t PercentDone, bool& Continue)>;
  using TPasswordEvent = std::function<void(TVLTDatabase& Sender, bool& Continue)>;
  using TNeedRepairEvent = std::function<void(TVLTDatabase& Sender, bool& DoRepair)>;

  TVLTDatabase();
  ~TVLTDatabase() override;
  TVLTDatabase(const TVLTDatabase&) = delete;
  TVLTDatabase& operator=(const TVLTDatabase&) = delete;

  // TVLTSessionDatabase
  std::string DatabaseName() const override { return FDatabaseName; }
  bool Temporary() const override { return FTemporary; }
  void CloseDatabase() override { Close(); }
  TVLTBaseSession* EngineSession() override;
  void SessionDestroyed() override { FSession = nullptr; }
  // Closing or being destroyed: a session leaves such a database alone.
  bool Busy() const { return FClosing || FDestroying; }

  void Open();
  void Close();
  bool Connected() const { return FHandle != nullptr; }
  void SetConnected(bool Value) { Value ? Open() : Close(); }

  void CreateDatabase();
  // A failing deletion is ignored.
  void DeleteDatabase();
  void RenameDatabase(const std::string& NewDatabaseFileName);
  // Into DatabaseFileName + ".tmp", then the new file replaces the old one.
  bool CompactDatabase();
  bool CompactDatabase(const std::string& NewDatabaseFileName);
  // In place; the result is the log of the problems found.
  std::string RepairDatabase();
  bool RepairDatabase(const std::string& NewDatabaseFileName, std::string& Log);
  std::string ChangePassword(const std::string& NewPassword);
  std::string ChangePassword(const std::string& NewPassword, TVLTCryptoAlgorithm NewCryptoAlgorithm);
  bool ChangeDatabaseSettings(std::string& Log, bool IgnoreErrors, const std::string& NewPassword,
                              TVLTCryptoAlgorithm NewCryptoAlgorithm, int32_t NewPageSize,
                              int32_t NewPageCountInExtent, int32_t NewMaxConnections);
  void TruncateDatabase();
  void FlushBuffers();
  // Errors are swallowed; the list stays as far as filled.
  void GetTablesList(std::vector<std::string>& List);
  // The engine's consistency check of every table of the open database (record pages against
  // the record page index and counts, BLOBs, every index's structure and that each record is in
  // every index once); Problems receives a line per fault, each starting with the table's name.
  // The page headers are read once for all the tables.
  void CheckTables(std::vector<std::string>& Problems);
  // Connects when closed and stays connected.
  bool TableExists(const std::string& TableName);
  void StartTransaction();
  void Commit(bool DoFlushBuffers = true);
  void Rollback();
  bool InTransaction() const;
  // The bytes of pages the open transaction changed so far (what its commit writes); 0 when not
  // connected or the database is not a file.
  int64_t PendingChangeBytes() const;
  void CloseDataSets();
  int32_t GetDBFileConnectionsCount();
  // Writes the stub file followed by the database file into ExeDbFileName.
  void MakeExecutableDatabase(const std::string& ExeStubFileName, const std::string& ExeDbFileName);
  bool Exists() const;

  // Joins the session named SessionName, activates it and checks the name (Failure handling).
  void ValidateName();

  // Datasets register while they hold the database open.
  void AddDataSet(TVLTDatabaseDataSet* DataSet);
  void RemoveDataSet(TVLTDatabaseDataSet* DataSet);
  int32_t DataSetCount() const { return static_cast<int32_t>(FDataSets.size()); }
  TVLTDatabaseDataSet* DataSets(int32_t I) const { return FDataSets.at(static_cast<size_t>(I)); }

  std::string CurrentVersion() const { return "7.91 "; }
  TVLTLocalSession* Handle() const { return FHandle; }
  TVLTSession* Session() const { return FSession; }

  const std::string& DatabaseFileName() const { return FDatabaseFileName; }
  // Changing the file name closes the database.
  void SetDatabaseFileName(const std::string& Value);
  // Requires the closed state. A named database joins the session named SessionName when that
  // session exists ("Duplicate database name '%s'" when the session has another of that name;
  // the name is then left as it was).
  void SetDatabaseName(const std::string& Value);
  // Requires the closed state; moves the database to that session when it exists.
  void SetSessionName(const std::string& Value);
  // false closes the database when no OpenDatabase reference is held.
  void SetKeepConnection(bool Value);
  const std::string& SessionName() const { return FSessionName; }

  // Component name (prefix of component errors).
  std::string FName;

  bool FKeepConnection = true;
  // Made by a session's OpenDatabase and owned by that session.
  bool FTemporary = false;
  bool FHandleShared = false;
  bool FReadOnly = false;
  bool FExclusive = false;
  int32_t FRefCount = 0;  // references taken by a session's OpenDatabase
  std::string FPassword;
  TVLTCryptoAlgorithm FCryptoAlgorithm = craRijndael_128;
  int32_t FPageSize = 4096;
  int32_t FPageCountInExtent = 8;
  bool FNoRequestAutoRepair = false;
  bool FSilentMode = false;
  // dsNormal (the default) syncs each commit's journal and file; dsOff leaves syncing to the
  // system (a process crash is still covered, a power loss is not). Read at open.
  TVLTDurability FDurability = dsNormal;
  bool FMultiUser = false;
  int32_t FMaxConnections = 500;
  bool FDisableTempFiles = false;

  TPasswordEvent OnPassword;
  TNotifyEvent BeforeRepair, AfterRepair, BeforeCompact, AfterCompact, BeforeChangePassword,
      AfterChangePassword, BeforeChangeDatabaseSettings, AfterChangeDatabaseSettings;
  TProgressEvent OnRepairProgress, OnCompactProgress, OnChangePasswordProgress,
      OnChangeDatabaseSettingsProgress;
  TNeedRepairEvent OnNeedRepair;

  // Free bytes available where Path (a file to be written) would go; tests may replace it.
  static std::function<uint64_t(const std::string& Path)> FreeSpaceProbe;

 private:
  [[noreturn]] void DatabaseError(const std::string& Message) const;
  void CheckClosed() const;
  void CheckOpen() const;
  void CheckActive();  // name set, session joined and activated
  std::unique_ptr<TVLTLocalSession> MakeEngineSession() const;
  void ConnectEngineSession();
  bool CopyDatabase(const std::string& DestFileName, std::string& Log, const TNotifyEvent& Before,
                    const TProgressEvent& Progress, const TNotifyEvent& After,
                    int32_t DestMaxConnections, int32_t DestPageCountInExtent,
                    int32_t DestPageSize, TVLTCryptoAlgorithm DestCryptoAlgorithm,
                    const std::string& DestPassword, bool IgnoreErrors);
  // Makes TempFile the database file in one atomic step.
  void ReplaceDatabaseFile(const std::string& TempFile);

  // Joins the session named FSessionName when it exists (ValidateName).
  void JoinSession();

  std::vector<TVLTDatabaseDataSet*> FDataSets;
  bool FClosing = false;
  bool FDestroying = false;
  TVLTLocalSession* FHandle = nullptr;
  std::unique_ptr<TVLTLocalSession> FOwnHandle;
  bool FAcquiredHandle = false;
  TVLTSession* FSession = nullptr;
  std::string FSessionName = "Default";
  std::string FDatabaseName;
  std::string FDatabaseFileName;
};

}  // namespace vlt
