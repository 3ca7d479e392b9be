#include "engine/disk/VLTDiskDatabaseData.h"

#include <algorithm>
#include <chrono>
#include <exception>
#include <thread>

#include "engine/base/VLTErrorCodes.h"
#include "engine/base/VLTExcept.h"
#include "engine/disk/VLTActiveSessionsFile.h"
#include "engine/disk/VLTDatabaseFile.h"
#include "engine/disk/VLTDiskPageManager.h"
#include "engine/disk/VLTSystemDirectory.h"
#include "engine/disk/VLTTableList.h"
#include "engine/disk/VLTTableLockManager.h"

namespace vlt {

namespace {

[[noreturn]] void RaisePointerIsNil(int32_t Code) { throw EVLTException(Code, "Pointer is nil"); }

}  // namespace

TVLTDiskDatabaseData::TVLTDiskDatabaseData(std::string DatabaseName, std::string SessionName)
    : FDatabaseName(std::move(DatabaseName)), FSessionName(std::move(SessionName)) {}

TVLTDiskDatabaseData::~TVLTDiskDatabaseData() { CloseDatabaseFile(); }

// ---- creating ----

void TVLTDiskDatabaseData::CreateDatabase() {
  std::lock_guard Guard(FCSect);
  if (FPageSize <= kPageHeaderSize || FPageSize > UINT16_MAX || FPageCountInExtent < 1 ||
      FPageCountInExtent > UINT16_MAX || FMaxSessionCount < 1)
    throw EVLTException(kErrInvalidDatabaseFormat, "Invalid database format");
  // An unknown cipher would store plain pages under an encrypted header: a file nobody opens.
  if (!FPassword.Password.empty() && FPassword.CryptoAlgorithm >= kCryptoAlgorithmCount)
    throw EVLTException(kErrUnknownCryptoAlgorithm, "Unknown crypto algorithm: %d",
                        {int64_t{FPassword.CryptoAlgorithm}});
  auto PM = std::make_unique<TVLTDiskPageManager>();
  PM->SetLockRetry(FLockWaits.Count, FLockWaits.DelayMS);
  PM->SetDesignMode(FDesignMode);
  bool FileCreated = false;
  try {
    PM->CreateAndOpenDatabase(FDatabaseName, FPassword, static_cast<uint16_t>(FPageSize),
                              static_cast<uint16_t>(FPageCountInExtent));
    FileCreated = true;
    TVLTSystemDirectory Directory(PM.get());
    Directory.CreateDirectory();
    TVLTActiveSessionsFile Sessions(PM.get());
    Directory.CreateFile(dbftActiveSessionsList, Sessions.CreateFile(FMaxSessionCount));
    TVLTTableListFile Tables(PM.get());
    Directory.CreateFile(dbftTablesList, Tables.CreateFile());
    Directory.SaveDirectory();
    PM->ApplyChanges(kSystemSessionID);
    PM->DatabaseFile().FlushFileBuffers();
    PM->CloseDatabase();
  } catch (...) {
    // A half-made database is of no use to anybody: close it and take it away.
    PM->CloseDatabase();
    if (FileCreated) {
      try {
        TVLTDatabaseFile::DeleteFile(FDatabaseName);
      } catch (...) {
        // The error on its way out is the one the caller gets; this clean-up failing adds nothing
        // to it.
      }
    }
    throw;
  }
}

// ---- opening and closing ----

void TVLTDiskDatabaseData::OpenDatabaseFile(TVLTDatabaseSession& Session) {
  auto PM = std::make_unique<TVLTDiskPageManager>();
  PM->SetLockRetry(FLockWaits.Count, FLockWaits.DelayMS);
  PM->SetDesignMode(FDesignMode);
  PM->SetDurability(Session.Durability);
  bool MultiUser = Session.MultiUser;
  // Read-only comes from the opening session (a previous opening that fell back to reading
  // only does not stick to the object).
  bool ReadOnly = Session.ReadOnly;
  bool RepairNeeded = false;
  try {
    PM->OpenDatabase(FDatabaseName, FPassword, ReadOnly, RepairNeeded, Session.Exclusive,
                     MultiUser);
    FPassword = PM->Password();
    FPageSize = PM->PageSize();
    FPageCountInExtent = PM->DBHeader().PageCountInExtent;

    FSystemDir = std::make_unique<TVLTSystemDirectory>(PM.get());
    FSystemDir->LoadDirectory();
    const TVLTPageNo SessionsPage = FSystemDir->GetFileFirstPageNo(dbftActiveSessionsList);
    const TVLTPageNo TablesPage = FSystemDir->GetFileFirstPageNo(dbftTablesList);
    if (SessionsPage == kNoPage || TablesPage == kNoPage)
      throw EVLTException(kErrInvalidDatabaseFormat, "Invalid database format");
    FActiveSessionsFile = std::make_unique<TVLTActiveSessionsFile>(PM.get());
    FActiveSessionsFile->SetLockRetry(FLockWaits.Count, FLockWaits.DelayMS);
    FActiveSessionsFile->OpenFile(SessionsPage);
    FMaxSessionCount = FActiveSessionsFile->MaxSessionCount();
    FTableListFile = std::make_unique<TVLTTableListFile>(PM.get());
    FTableListFile->OpenFile(TablesPage);
    FTableListFile->Load();
    FTableLockManager = std::make_unique<TVLTDatabaseTableLockManager>(FMaxSessionCount, PM.get());
    FTableLockManager->SetUnlockRetry(FLockWaits.Count, FLockWaits.DelayMS);
    FTableLockManager->SetTransactionLockRetry(FLockWaits.CommitCount, FLockWaits.CommitDelayMS);
  } catch (...) {
    FTableLockManager.reset();
    FTableListFile.reset();
    FActiveSessionsFile.reset();
    FSystemDir.reset();
    PM->CloseDatabase();
    throw;
  }
  FPageManager = std::move(PM);
  FMultiUser = MultiUser;
  FReadOnly = ReadOnly;
  FSingleUserConnected = false;
  Session.RepairNeeded = RepairNeeded;
  Session.MultiUser = MultiUser;
}

void TVLTDiskDatabaseData::CloseDatabaseFile() noexcept {
  if (FPageManager) {
    // Pages a session added but never committed are marked used on disk already: give them
    // back, or they would be lost to the file for good.
    try {
      FPageManager->CancelChanges(kSystemSessionID);
      for (TVLTSessionID Id = 0; Id < FMaxSessionCount; ++Id)
        if (FPageManager->HasChanges(Id)) FPageManager->CancelChanges(Id);
    } catch (...) {
      // Closing must go on; pages not given back are what `vltdb check` counts as leaked.
    }
  }
  FTableLockManager.reset();
  FTableListFile.reset();
  FActiveSessionsFile.reset();
  FSystemDir.reset();
  if (FPageManager) {
    try {
      FPageManager->CloseDatabase();
    } catch (...) {
      // Closing must go on; the page manager's file object marks the file closed.
    }
    FPageManager.reset();
  }
  FSingleUserConnected = false;
}

void TVLTDiskDatabaseData::ConnectSession(TVLTDatabaseSession& Session) {
  std::lock_guard Guard(FCSect);
  if (!IsOpen()) OpenDatabaseFile(Session);
  try {
    if (Session.MultiUser != FMultiUser)
      throw EVLTException(kErrCannotOpenDatabaseMulti,
                          "Cannot open database in multi-user and signle-user mode at the same "
                          "time");
    if (FMultiUser) {
      Session.SessionID = FActiveSessionsFile->MultiUserConnect();
    } else {
      Session.SessionID = 0;
      if (!FSingleUserConnected) {
        if (FActiveSessionsFile->SingleUserConnect())
          FSingleUserConnected = true;
        else
          FReadOnly = true;  // another process is connected: this one only reads
      }
    }
  } catch (...) {
    Session.SessionID = kNoSessionID;
    if (FSessionList.empty()) CloseDatabaseFile();
    throw;
  }
  Session.ReadOnly = FReadOnly;
  FSessionList.push_back(&Session);
}

void TVLTDiskDatabaseData::DisconnectSession(TVLTDatabaseSession& Session) {
  std::lock_guard Guard(FCSect);
  auto It = std::find(FSessionList.begin(), FSessionList.end(), &Session);
  if (It == FSessionList.end()) return;
  std::exception_ptr Error;
  if (IsOpen()) {
    try {
      if (FMultiUser) {
        FActiveSessionsFile->MultiUserDisconnect(Session.SessionID);
      } else if (FSingleUserConnected && FSessionList.size() == 1) {
        FActiveSessionsFile->SingleUserDisconnect();
        FSingleUserConnected = false;
      }
    } catch (...) {
      if (!FDesignMode) Error = std::current_exception();
    }
  }
  // The session leaves also when its slot could not be released, so that the database can
  // still be closed; the error is reported afterwards.
  const TVLTSessionID SessionID = Session.SessionID;
  FSessionList.erase(It);
  Session.SessionID = kNoSessionID;
  if (FSessionList.empty() && IsOpen()) {
    if (Session.InTransaction) {
      try {
        Rollback(SessionID);
        Session.InTransaction = false;
      } catch (...) {
        if (!Error) Error = std::current_exception();
      }
    }
    const bool LocksLeft = FTableLockManager && FTableLockManager->HasLocks();
    CloseDatabaseFile();
    if (LocksLeft && !Error)
      Error = std::make_exception_ptr(EVLTException(kErrSomeTableLocksStillInDisconnectSession,
                                                    "Some table locks still exist"));
  }
  if (Error) std::rethrow_exception(Error);
}

// ---- table list ----
//
// Every operation first rereads the list (through session -2, so this process's own uncommitted
// changes stay): other processes may have committed tables since, and a change made on a stale
// list would drop theirs when saved.

TVLTTableListFile& TVLTDiskDatabaseData::TableList(int32_t NilCode) const {
  if (!FTableListFile || FTableListFile->StartPageNo() == kNoPage) RaisePointerIsNil(NilCode);
  return *FTableListFile;
}

void TVLTDiskDatabaseData::AddTable(int32_t TableID, const std::string& TableName,
                                    TVLTPageNo MetadataFilePageNo,
                                    TVLTPageNo MostUpdatedFilePageNo,
                                    TVLTPageNo LocksFilePageNo) {
  std::lock_guard Guard(FCSect);
  TVLTTableListFile& List = TableList(kErrNilTableListAddTable);
  List.Load();
  List.AddTable(TableID, TableName, MetadataFilePageNo, MostUpdatedFilePageNo, LocksFilePageNo);
  try {
    List.Save();
  } catch (...) {
    // Memory and file must not disagree: reread what the file holds.
    try {
      List.Load();
    } catch (...) {
      // The error on its way out is the one the caller gets; this clean-up failing adds nothing to
      // it.
    }
    throw;
  }
}

void TVLTDiskDatabaseData::OpenTable(const std::string& TableName, int32_t& TableID,
                                     TVLTPageNo& MetadataFilePageNo,
                                     TVLTPageNo& MostUpdatedFilePageNo,
                                     TVLTPageNo& LocksFilePageNo) {
  std::lock_guard Guard(FCSect);
  TVLTTableListFile& List = TableList(kErrNilTableListOpenTable);
  List.Load();
  List.OpenTable(TableName, TableID, MetadataFilePageNo, MostUpdatedFilePageNo,
                             LocksFilePageNo);
}

void TVLTDiskDatabaseData::RemoveTable(const std::string& TableName) {
  std::lock_guard Guard(FCSect);
  TVLTTableListFile& List = TableList(kErrNilTableListRemoveTable);
  List.Load();
  List.RemoveTable(TableName);
  try {
    List.Save();
  } catch (...) {
    try {
      List.Load();
    } catch (...) {
      // The error on its way out is the one the caller gets; this clean-up failing adds nothing to
      // it.
    }
    throw;
  }
}

void TVLTDiskDatabaseData::RenameTable(const std::string& TableName,
                                       const std::string& NewTableName) {
  std::lock_guard Guard(FCSect);
  TVLTTableListFile& List = TableList(kErrNilTableListRenameTable);
  List.Load();
  List.RenameTable(TableName, NewTableName);
  try {
    List.Save();
  } catch (...) {
    try {
      List.Load();
    } catch (...) {
      // The error on its way out is the one the caller gets; this clean-up failing adds nothing to
      // it.
    }
    throw;
  }
}

bool TVLTDiskDatabaseData::TableExists(const std::string& TableName) {
  std::lock_guard Guard(FCSect);
  if (!FTableListFile || FTableListFile->StartPageNo() == kNoPage) return false;
  FTableListFile->Load();
  return FTableListFile->TableExists(TableName);
}

void TVLTDiskDatabaseData::GetTablesList(std::vector<std::string>& List) {
  std::lock_guard Guard(FCSect);
  List.clear();
  if (FTableListFile) FTableListFile->GetTablesList(List);
}

int32_t TVLTDiskDatabaseData::GetDBFileConnectionsCount() {
  std::lock_guard Guard(FCSect);
  return FActiveSessionsFile ? FActiveSessionsFile->GetDBFileConnectionsCount() : 0;
}

// ---- transactions and the rest ----

TVLTDiskPageManager& TVLTDiskDatabaseData::OpenPageManager() const {
  if (!FPageManager) throw EVLTException(kErrFileNotOpened, "Error - database file is not opened.");
  return *FPageManager;
}

void TVLTDiskDatabaseData::Commit(TVLTSessionID SessionID, bool DoFlushBuffers) {
  std::lock_guard Guard(FCSect);
  TVLTDiskPageManager& PM = OpenPageManager();
  const bool TransactionLocks = FMultiUser && SessionID >= 0 && FTableLockManager;
  if (TransactionLocks && !FTableLockManager->AddRWLocksBeforeCommit(SessionID))
    throw EVLTException(kErrCannotCommitChangesLocks,
                        "Cannot commit changes. Locks of modified tables failed");
  PM.ApplyChanges(SessionID);
  if (DoFlushBuffers) PM.DatabaseFile().FlushFileBuffers();
  if (TransactionLocks) FTableLockManager->ClearTransactionLocks(SessionID);
}

void TVLTDiskDatabaseData::Rollback(TVLTSessionID SessionID) {
  std::lock_guard Guard(FCSect);
  TVLTDiskPageManager& PM = OpenPageManager();
  if (FMultiUser && SessionID >= 0 && FTableLockManager)
    FTableLockManager->ClearTransactionLocks(SessionID);
  PM.CancelChanges(SessionID);
}

void TVLTDiskDatabaseData::FlushBuffers() {
  std::lock_guard Guard(FCSect);
  OpenPageManager().DatabaseFile().FlushFileBuffers();
}

int64_t TVLTDiskDatabaseData::PendingChangeBytes(TVLTSessionID SessionID) {
  std::lock_guard Guard(FCSect);
  if (!FPageManager) return 0;
  return int64_t{FPageManager->ChangedPageCount(SessionID)} * FPageManager->PageSize();
}

int32_t TVLTDiskDatabaseData::GetNewObjectId() {
  std::lock_guard Guard(FCSect);
  return OpenPageManager().GetNextObjectID();
}

void TVLTDiskDatabaseData::LockTables() {
  std::lock_guard Guard(FCSect);
  TVLTDiskPageManager& PM = OpenPageManager();
  for (int32_t I = 0; I < FLockWaits.TablesCount; ++I) {
    if (PM.LockTables()) return;
    if (I + 1 < FLockWaits.TablesCount)
      std::this_thread::sleep_for(std::chrono::milliseconds(FLockWaits.TablesDelayMS));
  }
  throw EVLTException(kErrDatabaseTablesAreLocked, "Database tables are locked");
}

void TVLTDiskDatabaseData::UnlockTables() {
  std::lock_guard Guard(FCSect);
  if (!OpenPageManager().UnlockTables())
    throw EVLTException(kErrCannotUnlockDatabaseTables, "Cannot unlock database tables");
}

void TVLTDiskDatabaseData::TruncateDatabase() {
  std::lock_guard Guard(FCSect);
  OpenPageManager().TruncateDatabase();
}

}  // namespace vlt
