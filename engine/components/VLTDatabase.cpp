#include "engine/components/VLTDatabase.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <random>

#include "engine/base/VLTErrorCodes.h"
#include "engine/base/VLTExcept.h"
#include "engine/base/VLTGuid.h"
#include "engine/base/VLTScopeGuard.h"
#include "engine/components/VLTDatabaseError.h"
#include "engine/components/VLTDiskDatabaseEntry.h"
#include "engine/components/VLTEngineRegistry.h"
#include "engine/components/VLTLocalCursor.h"
#include "engine/components/VLTLocalSession.h"
#include "engine/components/VLTRebuildTableCopy.h"
#include "engine/disk/VLTDatabaseFile.h"
#include "engine/disk/VLTDiskFileFormat.h"
#include "engine/disk/VLTDiskPageManager.h"
#include "engine/disk/VLTDiskTableData.h"

namespace vlt {

namespace {

bool FileExists(const std::string& Name) {
  struct stat St {};
  return ::stat(Name.c_str(), &St) == 0 && S_ISREG(St.st_mode);
}

uint64_t FileSizeOf(const std::string& Name) {
  struct stat St {};
  return ::stat(Name.c_str(), &St) == 0 ? static_cast<uint64_t>(St.st_size) : 0;
}

std::string DirectoryOf(const std::string& Path) {
  const size_t P = Path.find_last_of('/');
  if (P == std::string::npos) return ".";
  return P == 0 ? "/" : Path.substr(0, P);
}

uint64_t DefaultFreeSpace(const std::string& Path) {
  struct statvfs V {};
  if (::statvfs(DirectoryOf(Path).c_str(), &V) != 0) return UINT64_MAX;  // unknown: do not block
  return static_cast<uint64_t>(V.f_bavail) * V.f_frsize;
}

// True when an engine connection of this process has the file open.
bool OpenInThisProcess(const std::string& FileName) {
  std::lock_guard<std::recursive_mutex> Guard(VLTEngineRegistry().CSect());
  for (int32_t I = 0; I < VLTEngineRegistry().Count(); ++I)
    if (SameText(VLTEngineRegistry().Items(I)->DatabaseName(), FileName)) return true;
  return false;
}

// Flushes a file (or directory) to stable storage; errors are ignored (best effort).
void SyncPath(const std::string& Path, bool Directory) {
  const int Fd = ::open(Path.c_str(), Directory ? (O_RDONLY | O_DIRECTORY) : O_RDONLY);
  if (Fd < 0) return;
  ::fsync(Fd);
  ::close(Fd);
}

}  // namespace

namespace {

// True when the connected file's header carries a version below the one that needs no
// conversion.
bool OldFileFormat(TVLTLocalSession& Session) {
  auto* Entry = dynamic_cast<TVLTDiskDatabaseEntry*>(Session.DatabaseData());
  if (!Entry) return false;
  TVLTDiskPageManager* PM = Entry->Disk().PageManager();
  return PM && PM->DBHeader().Version < kDBMinVersionWithoutRepair;
}

}  // namespace

std::function<uint64_t(const std::string&)> TVLTDatabase::FreeSpaceProbe = DefaultFreeSpace;

TVLTDatabase::TVLTDatabase() = default;

TVLTDatabase::~TVLTDatabase() {
  FDestroying = true;
  try {
    Close();
  } catch (...) {
    // A destructor cannot raise; nothing is left to undo.
  }
  if (FSession) FSession->RemoveDatabase(this);
}

void TVLTDatabase::DatabaseError(const std::string& Message) const {
  throw EVLTDatabaseError(FName, Message);
}

void TVLTDatabase::CheckClosed() const {
  if (Connected()) DatabaseError("Cannot perform this operation on an open database");
}

void TVLTDatabase::CheckOpen() const {
  if (!Connected()) DatabaseError("Cannot perform this operation on a closed database");
}

TVLTBaseSession* TVLTDatabase::EngineSession() { return FHandle; }

void TVLTDatabase::ValidateName() {
  std::lock_guard<std::recursive_mutex> Guard(VLTSessionLock());
  if (FDatabaseName.empty() && !FTemporary) DatabaseError("Database name missing");
  TVLTSession* Target = VLTSessions().GetSession(FSessionName);
  if (Target != FSession) {
    if (FSession) FSession->RemoveDatabase(this);
    FSession = nullptr;
  }
  if (!FDatabaseName.empty()) {
    for (bool Again = true; Again;) {
      Again = false;
      for (TVLTSessionDatabase* D : Target->Databases()) {
        if (D == this || !SameText(D->DatabaseName(), FDatabaseName)) continue;
        auto* Other = dynamic_cast<TVLTDatabase*>(D);
        if (FHandleShared && Other && Other->FHandleShared) continue;
        // An unreferenced temporary database of that name gives way.
        if (Other && Other->FTemporary && !FTemporary && Other->FRefCount == 0 &&
            Target->DestroyTemporary(Other)) {
          Again = true;
          break;
        }
        DatabaseError("Duplicate database name '" + FDatabaseName + "'");
      }
    }
  }
  if (!FSession) {
    FSession = Target;
    FSession->AddDatabase(this);
  }
}

void TVLTDatabase::CheckActive() {
  ValidateName();
  FSession->SetActive(true);
}

void TVLTDatabase::SetDatabaseFileName(const std::string& Value) {
  if (Value == FDatabaseFileName) return;
  Close();
  FDatabaseFileName = Value;
}

void TVLTDatabase::JoinSession() {
  if (FDatabaseName.empty() && !FTemporary) return;
  TVLTSession* Target = nullptr;
  try {
    Target = VLTSessions().FindSession(FSessionName);
  } catch (const EVLTException&) {
    return;  // engine not started: the database joins when it is first used
  }
  if (Target) ValidateName();
}

void TVLTDatabase::SetDatabaseName(const std::string& Value) {
  CheckClosed();
  const std::string Old = FDatabaseName;
  FDatabaseName = Value;
  try {
    JoinSession();
  } catch (...) {
    FDatabaseName = Old;
    throw;
  }
}

void TVLTDatabase::SetSessionName(const std::string& Value) {
  CheckClosed();
  FSessionName = Value;
  if (FSession && !SameText(FSession->SessionName(), Value)) {
    FSession->RemoveDatabase(this);
    FSession = nullptr;
  }
  JoinSession();
}

void TVLTDatabase::SetKeepConnection(bool Value) {
  FKeepConnection = Value;
  if (!Value && FRefCount == 0) Close();
}

std::unique_ptr<TVLTLocalSession> TVLTDatabase::MakeEngineSession() const {
  auto S = std::make_unique<TVLTLocalSession>();
  S->FDatabaseName = FDatabaseName;
  S->FDatabaseFileName = FDatabaseFileName;
  S->FPassword.Password = FPassword;
  S->FPassword.CryptoAlgorithm = FCryptoAlgorithm;
  S->FPageSize = FPageSize;
  S->FPageCountInExtent = FPageCountInExtent;
  S->FMaxSessionCount = FMaxConnections;
  S->ReadOnly = FReadOnly;
  S->Exclusive = FExclusive;
  S->MultiUser = FMultiUser;
  S->Durability = FDurability;
  // Single-user engine sessions carry no session name, so that every engine session of the
  // process opening one file shares one database object.
  if (FMultiUser) S->FSessionName = FSessionName;
  return S;
}

void TVLTDatabase::ConnectEngineSession() {
  for (;;) {
    FOwnHandle = MakeEngineSession();
    try {
      FOwnHandle->SetConnected(true);
      break;
    } catch (const EVLTException& E) {
      FOwnHandle.reset();
      if (E.NativeError() != kErrIncorrectPassword) throw;
      bool Continue = false;
      // Without engine windows an unanswered prompt counts as Cancel.
      if (OnPassword) OnPassword(*this, Continue);
      if (!Continue) throw;
    }
  }
}

void TVLTDatabase::Open() {
  if (Connected()) return;
  CheckActive();
  std::lock_guard<std::recursive_mutex> Guard(VLTSessionLock());
  if (FHandleShared) {
    for (TVLTSessionDatabase* D : FSession->Databases()) {
      auto* Other = dynamic_cast<TVLTDatabase*>(D);
      if (Other && Other != this && Other->Connected() && Other->FHandleShared &&
          SameText(Other->FDatabaseName, FDatabaseName)) {
        FHandle = Other->FHandle;
        FAcquiredHandle = true;
        return;
      }
    }
  }
  // Only the reserved databases (as the engine session names them) have no file. A temporary
  // database names its file too, and a missing one is reported rather than made.
  const bool Reserved = FDatabaseName == "MEMORY" || FDatabaseName == "TEMP";
  if (!Reserved && !FileExists(FDatabaseFileName))
    DatabaseError("Database file '" + FDatabaseFileName + "' does not exist");
  ConnectEngineSession();
  FAcquiredHandle = false;

  if (FOwnHandle->RepairNeeded && !FSilentMode && !FNoRequestAutoRepair) {
    // A file of the old format is converted without asking; any other is repaired when the
    // handler agrees (without a handler, no window can ask: as silent).
    bool DoRepair = OldFileFormat(*FOwnHandle);
    if (!DoRepair && OnNeedRepair) OnNeedRepair(*this, DoRepair);
    if (DoRepair) {
      FOwnHandle.reset();
      try {
        TVLTRestore<bool> Keep(FNoRequestAutoRepair);
        FNoRequestAutoRepair = true;
        RepairDatabase();
      } catch (const std::exception&) {
        throw EVLTException(20238,
                            "Cannot convert database to the new format. Please contact "
                            "support@vaultrix.example with this issue");
      }
      ConnectEngineSession();
    }
  }
  FHandle = FOwnHandle.get();
  // The file's own values now rule.
  FReadOnly = FHandle->ReadOnly;
  FCryptoAlgorithm = FHandle->FPassword.CryptoAlgorithm;
  FPageSize = FHandle->FPageSize;
  FPageCountInExtent = FHandle->FPageCountInExtent;
  FMaxConnections = FHandle->FMaxSessionCount;
  if (FSession->FOnDBNotify) FSession->FOnDBNotify(dbOpen, this);
}

void TVLTDatabase::Close() {
  if (!Connected() || FClosing) return;
  FClosing = true;
  TVLTScopeExit End([this] { FClosing = false; });
  if (FSession && FSession->FOnDBNotify) FSession->FOnDBNotify(dbClose, this);
  CloseDataSets();
  if (!FAcquiredHandle && FOwnHandle) FOwnHandle.reset();  // disconnects
  FHandle = nullptr;
  FAcquiredHandle = false;
  FRefCount = 0;
}

void TVLTDatabase::CreateDatabase() {
  CheckActive();
  CheckClosed();
  std::lock_guard<std::recursive_mutex> Guard(VLTSessionLock());
  std::unique_ptr<TVLTLocalSession> S = MakeEngineSession();
  if (!S) DatabaseError("Cannot create database");
  S->CreateDatabase();
}

void TVLTDatabase::DeleteDatabase() {
  CheckActive();
  CheckClosed();
  ::unlink(FDatabaseFileName.c_str());
}

void TVLTDatabase::RenameDatabase(const std::string& NewDatabaseFileName) {
  CheckActive();
  CheckClosed();
  if (::rename(FDatabaseFileName.c_str(), NewDatabaseFileName.c_str()) == 0)
    FDatabaseFileName = NewDatabaseFileName;
}

bool TVLTDatabase::Exists() const { return FileExists(FDatabaseFileName); }

void TVLTDatabase::ReplaceDatabaseFile(const std::string& TempFile) {
  // A connection of this process that still has the old file open would go on writing into a
  // file nobody can reach any more: refuse, keeping the old file.
  {
    std::lock_guard<std::recursive_mutex> Guard(VLTEngineRegistry().CSect());
    for (int32_t I = 0; I < VLTEngineRegistry().Count(); ++I)
      if (SameText(VLTEngineRegistry().Items(I)->DatabaseName(), FDatabaseFileName)) {
        ::unlink(TempFile.c_str());
        throw EVLTException(10605, "Cannot replace database file '%s': it is open",
                            {FDatabaseFileName});
      }
  }
  // The same holds for another process (whose open turned this one's exclusive open into a
  // read-only one): hold the old file exclusively across the rename, so that nobody has it open
  // while it is replaced.
  TVLTDatabaseFile Gate;
  try {
    Gate.OpenFile(FDatabaseFileName, amReadWrite, smExclusive);
  } catch (const EVLTException&) {
    ::unlink(TempFile.c_str());
    throw EVLTException(10692, "Cannot replace database file '%s': it is open in another process",
                        {FDatabaseFileName});
  }
  // rename() replaces the target atomically: there is no moment without a whole database file.
  SyncPath(TempFile, false);
  if (::rename(TempFile.c_str(), FDatabaseFileName.c_str()) != 0) {
    const int Err = errno;
    ::unlink(TempFile.c_str());
    throw EVLTException(10601, "Cannot replace database file '%s': %s",
                        {FDatabaseFileName, std::string(std::strerror(Err))});
  }
  Gate.CloseFile();
  SyncPath(DirectoryOf(FDatabaseFileName), true);
}

bool TVLTDatabase::CopyDatabase(const std::string& DestFileName, std::string& Log,
                                const TNotifyEvent& Before, const TProgressEvent& Progress,
                                const TNotifyEvent& After, int32_t DestMaxConnections,
                                int32_t DestPageCountInExtent, int32_t DestPageSize,
                                TVLTCryptoAlgorithm DestCryptoAlgorithm,
                                const std::string& DestPassword, bool IgnoreErrors) {
  CheckActive();
  CheckClosed();
  TVLTRestore<bool> KeepExclusive(FExclusive);
  TVLTRestore<bool> KeepSilent(FSilentMode);
  Log.clear();
  if (Before) Before(*this);
  TVLTScopeExit FireAfter([&After, this] {
    if (After) After(*this);
  });

  if (FreeSpaceProbe(DestFileName) < FileSizeOf(FDatabaseFileName))
    throw EVLTException(20303,
                        "There is not enough free space on drive to perform required operation "
                        "with the database file.");
  // The source is read exclusively: another process that has it open could change it while it
  // is copied (its open turns the exclusive open below into a plain read-only one). Refused
  // before anything is written. Components of this process share one connection to the file.
  if (!OpenInThisProcess(FDatabaseFileName)) {
    TVLTDatabaseFile Probe;
    try {
      Probe.OpenFile(FDatabaseFileName, amReadOnly, smExclusive);
    } catch (const EVLTException& E) {
      std::string Why = E.Message();
      Why = Why.substr(0, Why.rfind(" - Native error: "));
      throw EVLTException(10693, "Cannot open database file '%s' exclusively: %s",
                          {FDatabaseFileName, Why});
    }
  }

  TVLTDatabase Dest;
  Dest.FDatabaseFileName = DestFileName;
  Dest.FDatabaseName = "TempDatabase" + VLTNewGuidText();
  Dest.FSessionName = FSessionName;
  Dest.FPassword = DestPassword;
  Dest.FCryptoAlgorithm = DestCryptoAlgorithm;
  Dest.FPageSize = DestPageSize;
  Dest.FPageCountInExtent = DestPageCountInExtent;
  Dest.FMaxConnections = DestMaxConnections;
  Dest.FSilentMode = true;
  // The copy is thrown away when anything goes wrong and synced before it replaces a file.
  Dest.FDurability = dsOff;
  // Nobody has any business in the copy before it is complete, and as the file's only user its
  // page manager keeps the free-space bitmaps in memory (at page size 512 the allocations were a
  // third of a compaction).
  Dest.FExclusive = true;
  try {
    Dest.CreateDatabase();
    Dest.Open();
  } catch (const std::exception& E) {
    const std::string Text = "Create database error: '" + std::string(E.what()) + "'";
    Log += Text;
    if (IgnoreErrors) return false;
    throw EVLTException(30449, Text);
  }

  FExclusive = true;
  {
    TVLTRestore<bool> Silent(FSilentMode);  // silent only while opening
    FSilentMode = true;
    Open();
  }
  FHandle->SetSuppressDBHeaderErrors(true);
  std::vector<std::string> Tables;
  FHandle->GetTablesList(Tables);
  bool Result = true;
  bool Continue = true;
  const int32_t N = static_cast<int32_t>(Tables.size());
  // Progress inside a table is passed on only when it moves, so a large table reports steadily
  // and can be stopped part-way without an event per record.
  int32_t LastPercent = -1;
  const TVLTTableCopyProgress TableProgress = [&](int32_t Percent, bool& Cont) {
    if (!Progress || Percent == LastPercent) return;
    LastPercent = Percent;
    Progress(*this, Percent, Cont);
  };
  for (int32_t I = 0; I < N && Continue; ++I) {
    const int32_t Min = I * 100 / N, Max = (I + 1) * 100 / N;
    try {
      // A copy that answers false without being stopped did not finish its table.
      if (!VLTRebuildCopyTable(*this, Tables[static_cast<size_t>(I)], Dest, Log, Continue,
                               IgnoreErrors, Min, Max, TableProgress) &&
          Continue && !IgnoreErrors)
        throw EVLTException(20199, "The table copy did not complete");
    } catch (const std::exception& E) {
      const std::string Text = "Problem occured while copying table '" + Tables[static_cast<size_t>(I)] +
                               "': '" + E.what() + "'";
      Log += Text + "\n";  // one line per table, like the record entries of the table copy
      if (!IgnoreErrors) {
        try {
          FHandle->SetSuppressDBHeaderErrors(false);
        } catch (...) {
          // The copy's error is raised below.
        }
        Close();
        throw EVLTException(20199, Text);
      }
    }
    if (Continue && Max != LastPercent) TableProgress(Max, Continue);
    if (!Continue) Result = false;
  }
  FHandle->SetSuppressDBHeaderErrors(false);
  Close();
  if (!Result) return false;
  if (Progress) {
    bool C = true;
    Progress(*this, 100, C);
  }
  Dest.Close();
  Dest.FExclusive = true;
  Dest.TruncateDatabase();
  return IgnoreErrors ? true : Log.empty();
}

bool TVLTDatabase::CompactDatabase(const std::string& NewDatabaseFileName) {
  CheckActive();
  CheckClosed();
  Open();
  Close();
  bool Result = false;
  try {
    std::string Log;
    Result = CopyDatabase(NewDatabaseFileName, Log, BeforeCompact, OnCompactProgress, AfterCompact,
                          FMaxConnections, FPageCountInExtent, FPageSize, FCryptoAlgorithm,
                          FPassword, false);
    if (!Result) {
      ::unlink(NewDatabaseFileName.c_str());
      throw EVLTException(30456, "Operation %s failed: %s", {std::string("CompactDatabase"), Log});
    }
  } catch (...) {
    ::unlink(NewDatabaseFileName.c_str());
    throw;
  }
  return Result;
}

void TVLTDatabase::CheckTables(std::vector<std::string>& Problems) {
  std::vector<std::string> Tables;
  GetTablesList(Tables);
  std::vector<TVLTDiskPageHeader> Headers;
  bool HaveHeaders = false;
  for (const std::string& Name : Tables) {
    try {
      TVLTLocalCursor C;
      C.SetSession(Handle());
      C.FTableName = Name;
      C.FReadOnly = true;
      C.OpenTableByFieldDefs(nullptr, nullptr, nullptr);
      C.InternalInitFieldDefs();
      auto* Data = dynamic_cast<TVLTDiskTableData*>(C.TableData());
      if (!Data) continue;
      if (!HaveHeaders)
        if (auto* PM = dynamic_cast<TVLTDiskPageManager*>(Data->PageManager())) {
          PM->ReadPageHeaders(Headers);
          HaveHeaders = true;
        }
      std::vector<std::string> List;
      Data->CheckTable(Handle()->SessionID, List, HaveHeaders ? &Headers : nullptr);
      for (const std::string& P : List) Problems.push_back(Name + ": " + P);
    } catch (const std::exception& E) {
      Problems.push_back(Name + ": cannot be checked: " + E.what());
    }
  }
}

bool TVLTDatabase::CompactDatabase() {
  const std::string Temp = FDatabaseFileName + ".tmp";
  const bool Result = CompactDatabase(Temp);
  if (Result) ReplaceDatabaseFile(Temp);
  return Result;
}

bool TVLTDatabase::RepairDatabase(const std::string& NewDatabaseFileName, std::string& Log) {
  CheckActive();
  CheckClosed();
  {
    TVLTRestore<bool> Keep(FNoRequestAutoRepair);
    FNoRequestAutoRepair = true;
    Open();
  }
  Close();
  return CopyDatabase(NewDatabaseFileName, Log, BeforeRepair, OnRepairProgress, AfterRepair,
                      FMaxConnections, FPageCountInExtent, FPageSize, FCryptoAlgorithm, FPassword,
                      true);
}

std::string TVLTDatabase::RepairDatabase() {
  std::string Log;
  const std::string Temp = FDatabaseFileName + ".tmp";
  bool Result = false;
  try {
    Result = RepairDatabase(Temp, Log);
  } catch (...) {
    ::unlink(Temp.c_str());
    throw;
  }
  if (!Result) {
    if (Log.empty()) Log = "Unknown error";
    ::unlink(Temp.c_str());
    return Log;
  }
  ReplaceDatabaseFile(Temp);
  return Log;
}

std::string TVLTDatabase::ChangePassword(const std::string& NewPassword) {
  return ChangePassword(NewPassword, FCryptoAlgorithm);
}

std::string TVLTDatabase::ChangePassword(const std::string& NewPassword,
                                         TVLTCryptoAlgorithm NewCryptoAlgorithm) {
  std::string Log;
  ChangeDatabaseSettings(Log, false, NewPassword, NewCryptoAlgorithm, FPageSize,
                         FPageCountInExtent, FMaxConnections);
  return Log;
}

bool TVLTDatabase::ChangeDatabaseSettings(std::string& Log, bool IgnoreErrors,
                                          const std::string& NewPassword,
                                          TVLTCryptoAlgorithm NewCryptoAlgorithm,
                                          int32_t NewPageSize, int32_t NewPageCountInExtent,
                                          int32_t NewMaxConnections) {
  CheckActive();
  CheckClosed();
  Open();
  Close();
  if (NewMaxConnections <= 0)
    throw EVLTException(20274, "MaxConnections value must be positive ( >= 0)");
  const std::string Temp = FDatabaseFileName + ".tmp";
  const bool PasswordOnly = NewPageSize == FPageSize && NewPageCountInExtent == FPageCountInExtent &&
                            NewMaxConnections == FMaxConnections;
  bool Result = false;
  try {
    Result = CopyDatabase(Temp, Log,
                          PasswordOnly ? BeforeChangePassword : BeforeChangeDatabaseSettings,
                          PasswordOnly ? OnChangePasswordProgress : OnChangeDatabaseSettingsProgress,
                          PasswordOnly ? AfterChangePassword : AfterChangeDatabaseSettings,
                          NewMaxConnections, NewPageCountInExtent, NewPageSize, NewCryptoAlgorithm,
                          NewPassword, IgnoreErrors);
  } catch (...) {
    ::unlink(Temp.c_str());
    throw;
  }
  if (!Result) {
    ::unlink(Temp.c_str());
    return false;
  }
  ReplaceDatabaseFile(Temp);
  FPassword = NewPassword;
  FCryptoAlgorithm = NewCryptoAlgorithm;
  return true;
}

void TVLTDatabase::TruncateDatabase() {
  CheckActive();
  CheckClosed();
  TVLTRestore<bool> Keep(FExclusive);
  FExclusive = true;
  Open();
  try {
    FHandle->TruncateDatabase();
  } catch (...) {
    Close();
    throw;
  }
  Close();
}

void TVLTDatabase::FlushBuffers() {
  CheckOpen();
  FHandle->FlushBuffers();
}

void TVLTDatabase::GetTablesList(std::vector<std::string>& List) {
  const bool WasOpen = Connected();
  try {
    if (!WasOpen) Open();
    FHandle->GetTablesList(List);
  } catch (...) {
    // As documented: the list stays as far as filled.
  }
  if (!WasOpen) {
    try {
      Close();
    } catch (...) {
      // Best effort: the list is what was asked for.
    }
  }
}

bool TVLTDatabase::TableExists(const std::string& TableName) {
  Open();
  return FHandle->TableExists(TableName);
}

void TVLTDatabase::StartTransaction() {
  CheckOpen();
  if (FHandle->InTransaction) throw EVLTDatabaseError("Database is already within a transaction");
  FHandle->StartTransaction();
}

void TVLTDatabase::Commit(bool DoFlushBuffers) {
  CheckOpen();
  FHandle->Commit(DoFlushBuffers);
}

void TVLTDatabase::Rollback() {
  CheckOpen();
  FHandle->Rollback();
}

bool TVLTDatabase::InTransaction() const { return FHandle && FHandle->InTransaction; }

int64_t TVLTDatabase::PendingChangeBytes() const {
  return FHandle ? FHandle->PendingChangeBytes() : 0;
}

void TVLTDatabase::AddDataSet(TVLTDatabaseDataSet* DataSet) {
  if (std::find(FDataSets.begin(), FDataSets.end(), DataSet) == FDataSets.end())
    FDataSets.push_back(DataSet);
}

void TVLTDatabase::RemoveDataSet(TVLTDatabaseDataSet* DataSet) { std::erase(FDataSets, DataSet); }

void TVLTDatabase::CloseDataSets() {
  // Query components first (they may read through tables of this database), then the others
  // from the last to the first. Closing a dataset removes it from the list.
  for (;;) {
    auto It = std::find_if(FDataSets.begin(), FDataSets.end(),
                           [](TVLTDatabaseDataSet* D) { return D->IsQueryDataSet(); });
    if (It == FDataSets.end()) break;
    TVLTDatabaseDataSet* D = *It;
    D->CloseDataSet();
    RemoveDataSet(D);
  }
  while (!FDataSets.empty()) {
    TVLTDatabaseDataSet* D = FDataSets.back();
    D->CloseDataSet();
    RemoveDataSet(D);
  }
}

int32_t TVLTDatabase::GetDBFileConnectionsCount() {
  CheckOpen();
  return FHandle->GetDBFileConnectionsCount();
}

void TVLTDatabase::MakeExecutableDatabase(const std::string& ExeStubFileName,
                                          const std::string& ExeDbFileName) {
  std::ifstream Stub(ExeStubFileName, std::ios::binary);
  if (!Stub) throw EVLTException(10602, "Cannot open file '%s'", {ExeStubFileName});
  std::ifstream Db(FDatabaseFileName, std::ios::binary);
  if (!Db) throw EVLTException(10603, "Cannot open file '%s'", {FDatabaseFileName});
  const std::string Temp = ExeDbFileName + ".tmp";
  {
    std::ofstream Out(Temp, std::ios::binary | std::ios::trunc);
    Out << Stub.rdbuf();
    Out << Db.rdbuf();
    Out.flush();
    if (!Out) {
      ::unlink(Temp.c_str());
      throw EVLTException(10604, "Cannot write file '%s'", {ExeDbFileName});
    }
  }
  if (::rename(Temp.c_str(), ExeDbFileName.c_str()) != 0) {
    ::unlink(Temp.c_str());
    throw EVLTException(10604, "Cannot write file '%s'", {ExeDbFileName});
  }
}

}  // namespace vlt
