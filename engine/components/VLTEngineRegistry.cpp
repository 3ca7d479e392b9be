#include "engine/components/VLTEngineRegistry.h"

#include <algorithm>
#include <mutex>
#include <string>

#include "engine/components/VLTDatabase.h"
#include "engine/components/VLTExprTableLink.h"
#include "engine/components/VLTReservedDatabaseData.h"
#include "engine/components/VLTSession.h"
#include "engine/components/VLTTable.h"
#include "engine/core/VLTExcept.h"

namespace vlt {

TVLTEngineRegistry::TVLTEngineRegistry() {
  FList.push_back(std::make_unique<TVLTMemoryDatabaseData>());
  FList.push_back(std::make_unique<TVLTTemporaryDatabaseData>());
}

TVLTEngineRegistry::~TVLTEngineRegistry() {
  // Last first, so that nothing refers to an entry already gone.
  while (!FList.empty()) FList.pop_back();
}

TVLTDatabaseData* TVLTEngineRegistry::Find(const std::string& DatabaseName,
                                           const std::string& SessionName) {
  std::lock_guard<std::recursive_mutex> Guard(FCSect);
  for (const auto& D : FList)
    if (SameText(D->DatabaseName(), DatabaseName) && SameText(D->SessionName(), SessionName) &&
        D->DatabaseName() != kMemoryDatabaseName && D->DatabaseName() != kTemporaryDatabaseName)
      return D.get();
  return nullptr;
}

TVLTDatabaseData* TVLTEngineRegistry::FindReserved(const std::string& Name) {
  std::lock_guard<std::recursive_mutex> Guard(FCSect);
  for (const auto& D : FList)
    if (SameText(D->DatabaseName(), Name)) return D.get();
  return nullptr;
}

void TVLTEngineRegistry::Add(std::unique_ptr<TVLTDatabaseData> DatabaseData) {
  std::lock_guard<std::recursive_mutex> Guard(FCSect);
  FList.push_back(std::move(DatabaseData));
}

std::unique_ptr<TVLTDatabaseData> TVLTEngineRegistry::Remove(TVLTDatabaseData* DatabaseData) {
  std::lock_guard<std::recursive_mutex> Guard(FCSect);
  auto It = std::find_if(FList.begin(), FList.end(),
                         [DatabaseData](const auto& D) { return D.get() == DatabaseData; });
  if (It == FList.end()) return nullptr;
  std::unique_ptr<TVLTDatabaseData> Out = std::move(*It);
  FList.erase(It);
  return Out;
}

int32_t TVLTEngineRegistry::Count() {
  std::lock_guard<std::recursive_mutex> Guard(FCSect);
  return static_cast<int32_t>(FList.size());
}

TVLTDatabaseData* TVLTEngineRegistry::Items(int32_t I) {
  std::lock_guard<std::recursive_mutex> Guard(FCSect);
  return FList.at(static_cast<size_t>(I)).get();
}

namespace {

std::unique_ptr<TVLTEngineRegistry> GRegistry;

// The number of records of a table, read through a fresh table component.
int64_t CountRecords(TVLTDatabase& Db, const std::string& TableName) {
  TVLTTable T;
  T.SetDatabaseName(Db.DatabaseName());
  T.FSessionName = Db.SessionName();
  T.SetTableName(TableName);
  T.Open();
  const int64_t Count = T.RecordCount();
  T.Close();
  return Count;
}

// Database rebuilding (compaction, repair, new settings) copies each table through a table
// component. When errors are to be ignored (repair), the table is first opened in repair mode,
// which checks the record page index against the record pages and rebuilds what the file lets
// it rebuild, so that the normal open after it can succeed; the records it finds there are
// what the copy must deliver, and the log says so when it does not. Otherwise a copy that
// delivers fewer records than the table holds is a failure, never a completion.
bool CopyTableThroughComponent(TVLTDatabase& Source, const std::string& TableName,
                               TVLTDatabase& Dest, std::string& Log, bool& Continue,
                               bool IgnoreErrors, int32_t MinProgress, int32_t MaxProgress,
                               const TVLTTableCopyProgress& Progress) {
  TVLTTable T;
  T.SetDatabaseName(Source.DatabaseName());
  T.FSessionName = Source.SessionName();
  T.SetTableName(TableName);
  int64_t Found = -1;  // unknown when the repair-mode open fails
  if (IgnoreErrors) {
    T.FIsRepairing = true;
    try {
      T.Open();
      Found = T.RecordCount();
      T.Close();
    } catch (...) {
      Found = -1;
      try {
        T.Close();
      } catch (...) {
      }
    }
    T.FIsRepairing = false;
  }
  T.Open();
  if (!IgnoreErrors) Found = T.RecordCount();
  T.Close();
  // One commit per copied record re-encrypts and rewrites every page the record touched. When
  // any failure abandons the whole new file anyway (errors not ignored), the records are
  // committed in batches instead. A repair keeps one commit per record, so that a record that
  // fails half-way is cancelled alone.
  constexpr int32_t kRecordsPerCommit = 2000;
  const bool Batched = !IgnoreErrors && Dest.Connected() && !Dest.InTransaction();
  int32_t Pending = 0;
  // Called after each copied record.
  T.OnCopyProgress = [&](TVLTTable&, int32_t Percent, bool& Cont) {
    if (Batched) {
      if (!Dest.InTransaction()) {
        Dest.StartTransaction();
      } else if (++Pending >= kRecordsPerCommit) {
        Dest.Commit(false);
        Pending = 0;
        Dest.StartTransaction();
      }
    }
    if (Progress) Progress(Percent, Cont);
  };
  bool Result = false;
  try {
    Result = T.CopyTable(Dest, TableName, Log, Continue, IgnoreErrors, false, true, MinProgress,
                         MaxProgress);
    if (Batched && Dest.InTransaction()) Dest.Commit(true);
  } catch (...) {
    if (Batched && Dest.InTransaction()) {
      try {
        Dest.Rollback();
      } catch (...) {
      }
    }
    throw;
  }
  if (!Result || !Continue || Found < 0) return Result;
  const int64_t Copied = CountRecords(Dest, TableName);
  if (Copied == Found) return Result;
  if (!IgnoreErrors) {
    if (Copied > Found) return Result;  // a stored count that lags behind loses nothing
    throw EVLTException(20199, "Table copy ended early: %d of %d records copied", {Copied, Found});
  }
  Log += "Table \"" + TableName + "\": " + std::to_string(Found) +
         " records found on its record pages, " + std::to_string(Copied) + " copied.\n";
  return Result;
}

}  // namespace

void VLTInstallTableCopy() {
  // Once per process: a restarted engine installs nothing again, so no copy that is running
  // can see the function replaced under it.
  static std::once_flag Once;
  std::call_once(Once, [] {
    VLTSetTableCopyFunc(CopyTableThroughComponent);
  });
}

void VLTStartEngine() {
  VLTInstallTableCopy();
  VLTInstallExprTableLink();
  if (GRegistry) return;
  GRegistry = std::make_unique<TVLTEngineRegistry>();
  VLTStartSessions();
}

void VLTShutdownEngine() {
  VLTStopSessions();
  GRegistry.reset();
}

bool VLTEngineStarted() { return GRegistry != nullptr; }

TVLTEngineRegistry& VLTEngineRegistry() {
  if (!GRegistry) throw EVLTException(20007, "Database Engine is not initialized");
  return *GRegistry;
}

}  // namespace vlt
