// The table-copy areas (payroll, check schedule, loans and ledger), each run from its row of the
// table of areas: the folder and source conditions, then the shared skeleton (RunCopyArea) with
// the body every such area has: create the database and tables, copy the source pairs, close,
// compact and publish, with the row's own steps where it names them.
#include <algorithm>
#include <exception>
#include <span>

#include "app/conversion/Conversion.h"
#include "app/conversion/ConvertUtil.h"
#include "app/conversion/FileUtil.h"
#include "app/conversion/Interruption.h"
#include "app/conversion/TableCopy.h"
#include "app/conversion/TargetComponents.h"

namespace vlt::app {

namespace {

bool HasFile(const std::string& Dir, std::string_view Name) {
  return !FindFileNoCase(Dir, Name).empty();
}

bool HasAll(const std::string& Dir, std::span<const char* const> Names) {
  return std::all_of(Names.begin(), Names.end(),
                     [&](const char* Name) { return HasFile(Dir, Name); });
}

}  // namespace

int32_t TConverter::RunCopyArea(TArea Area, const std::string& TargetFile,
                                const std::string& LogFile, int Step, const char* ClosingLine,
                                const std::function<int32_t()>& Body,
                                const std::function<void()>& BeforeLog) {
  // The database is built under a temporary name and takes the target's name only when complete.
  const std::string Partial = PartialNameOf(JoinPath(FBackupDir, TargetFile));
  TakeRecoveryNotes(Area);
  if (FileExists(Partial)) {
    // Another process is building this area now (the recovery kept its file): leave it be.
    WriteLog(LogFile);
    FLog.clear();
    return 0;
  }

  FUI.SetProgressRange(0, 100);
  FUI.SetProgressStep(Step);
  Targets().PrepareDatabase(Area, Partial);
  int32_t Result = 0;
  bool Cancelled = false;
  try {
    Result = Body();
  } catch (const TConversionCancelled&) {
    Cancelled = true;
  } catch (const std::exception& E) {
    AddLog(E.what());
  } catch (...) {
    AddLog("Unknown error");
  }
  if (Result == 0) {
    // The area did not finish: its temporary database (and compaction copy) goes.
    Targets().CloseQuietly(Area);
    DiscardPartial(Partial);
  }
  if (Cancelled) {
    AddLog(kLogCancelled);
    WriteLog(LogFile);
    FLog.clear();
    throw TConversionCancelled();
  }
  AddLog(ClosingLine);
  if (BeforeLog) BeforeLog();
  WriteLog(LogFile);
  FLog.clear();
  return Result;
}

void TConverter::CopyPairs(TArea Area, std::span<const TCopyPair> Pairs, bool EventsBetweenTables) {
  TCopyProgress Progress;
  Progress.Boundary = [this] { CheckCancelled(); };
  for (const TCopyPair& Pair : Pairs) {
    if (CopyRecords(Targets().Table(Area, Pair.TargetTable), Pair, FBackupDir, FLog, Progress))
      FUI.StepProgress();
    if (EventsBetweenTables) FUI.ProcessPendingEvents();
  }
}

void TConverter::CopyWithRecordProgress(TArea Area, const TCopyPair& Pair) {
  int32_t Every = 1, Count = 0;
  TCopyProgress Progress;
  Progress.Started = [&](int32_t N) {
    if (N <= 0) {
      Every = 0;  // an empty source leaves the bar alone
      return;
    }
    int32_t StepSize = 90 / N;
    Every = 1;
    if (StepSize == 0) {
      StepSize = 1;
      Every = N / 100;
    }
    FUI.SetProgressStep(StepSize);
  };
  Progress.Record = [&] {
    ++Count;
    if (Every <= 1 || Count % Every == 0) FUI.StepProgress();
  };
  Progress.Boundary = [this] { CheckCancelled(); };
  if (!CopyRecords(Targets().Table(Area, Pair.TargetTable), Pair, FBackupDir, FLog, Progress)) {
    // Counting the records of a table that never opened fails, which ends the area.
    throw EParadoxError(std::string(Pair.Component) +
                        ": Cannot perform this operation on a closed dataset");
  }
}

void TConverter::CloseAndCompact(TArea Area) {
  Targets().CloseQuietly(Area);
  TVLTDatabase& Db = Targets().Database(Area);
  Db.Close();
  Db.CompactDatabase();
  // A stop request during the compaction still discards the area.
  CheckCancelled();
  const std::string Partial = Db.DatabaseFileName();
  PublishDatabase(Partial, Partial.substr(0, Partial.size() - std::string(kPartialSuffix).size()));
}

void TConverter::MakeEmptyDatabase(TArea Area, const std::string& TargetFile) {
  const std::string Target = JoinPath(FBackupDir, TargetFile);
  const std::string Partial = PartialNameOf(Target);
  FRecoveryNotes.erase({FBackupDir, Area});  // the report keeps them
  if (FileExists(Partial)) return;           // being made by another process
  Targets().PrepareDatabase(Area, Partial);
  try {
    Targets().CreateDatabaseAndTables(Area);
    Targets().CloseQuietly(Area);
    Targets().Database(Area).Close();
    PublishDatabase(Partial, Target);
  } catch (...) {
    // Nothing is logged for the empty database; a half-made one is not left behind.
    Targets().CloseQuietly(Area);
    DiscardPartial(Partial);
  }
}

int32_t TConverter::ConvertCopyArea(TArea Area) {
  const TAreaInfo& A = AreaInfo(Area);
  if (!IsAreaFolder(Area, FBackupDir)) return 0;
  const std::string TargetFile = AreaTargetFile(Area, FBackupDir);
  if (FileExists(JoinPath(FBackupDir, TargetFile))) return 0;
  if (!HasAll(FBackupDir, A.Sources.Required)) {
    if (A.EmptyWithoutSources) MakeEmptyDatabase(Area, TargetFile);
    return 0;
  }

  const bool Events = A.Progress == TCopyProgressKind::PerTableWithEvents;
  TAreaWork Work{FBackupDir, BackupYear(FBackupDir), FLog};
  if (Events) FUI.ProcessPendingEvents();
  const int32_t Result = RunCopyArea(
      Area, TargetFile, AreaLogFile(Area, FBackupDir), A.Step, A.ClosingLine,
      [&] {
        if (A.Prepare) PrepareParadoxTables(FBackupDir, *A.Prepare, FUI);
        for (const TCopyPair& Pair : A.Pairs) {
          if (!Pair.IndexFieldNames[0]) continue;
          // The source must open in its reading order before anything is written.
          TParadoxTable Source;
          Source.SetDatabaseName(FBackupDir);
          Source.SetTableName(Pair.SourceTable);
          Source.SetTableType(ttParadox);
          Source.SetReadOnly(true);
          Source.SetIndexFieldNames(Pair.IndexFieldNames);
          Source.Open();
          Source.Close();
        }
        FUI.SetProgressPosition(0);
        AddLog(AreaHeading(Area, FBackupDir));
        std::vector<std::string> Later;
        for (const TOptionalPair& P : A.OptionalPairs) Later.push_back(P.Pair.TargetTable);
        Targets().CreateDatabaseAndTables(Area, Later);
        FUI.StepProgress();
        if (A.Progress == TCopyProgressKind::PerRecord)
          for (const TCopyPair& Pair : A.Pairs) CopyWithRecordProgress(Area, Pair);
        else
          CopyPairs(Area, A.Pairs, Events);
        for (const TOptionalPair& P : A.OptionalPairs) {
          const bool Present = HasFile(FBackupDir, P.Pair.SourceTable);
          if (Present || P.AlwaysCreated) Targets().CreateTable(Area, P.Pair.TargetTable);
          if (Present) CopyPairs(Area, {&P.Pair, 1}, Events);
        }
        CloseAndCompact(Area);
        if (A.AfterPublish) A.AfterPublish(Work);
        if (A.EndsAtFull) FUI.SetProgressPosition(100);
        return 1;
      },
      [&] {
        if (A.BeforeLog) A.BeforeLog(Work);
      });
  if (Events) FUI.ProcessPendingEvents();
  return Result;
}

int32_t TConverter::ConvertPayroll() {
  return ConvertCopyArea(TArea::Payroll);
}

int32_t TConverter::ConvertChkSch() {
  return ConvertCopyArea(TArea::ChkSch);
}

int32_t TConverter::ConvertLoans() {
  return ConvertCopyArea(TArea::Loans);
}

int32_t TConverter::ConvertLedger() {
  return ConvertCopyArea(TArea::Ledger);
}

}  // namespace vlt::app
