#include "app/conversion/Conversion.h"

#include <sys/stat.h>
#include <sys/statvfs.h>

#include <algorithm>
#include <cstdint>

#include "app/conversion/FileUtil.h"
#include "app/conversion/Interruption.h"
#include "app/conversion/SourceTables.h"
#include "app/conversion/TableCopy.h"
#include "app/conversion/TargetComponents.h"
#include "app/conversion/Verification.h"
#include "app/paradox/ParadoxFile.h"

namespace vlt::app {

TConverter::TConverter(TConversionUI& UI) : FUI(UI), FReport(std::make_unique<TRunReport>()) {}
TConverter::~TConverter() = default;

TTargetComponents& TConverter::Targets() {
  if (!FTargets) FTargets = std::make_unique<TTargetComponents>();
  return *FTargets;
}

void TConverter::FormCreate() {
  Targets().RegisterExtendedIndexDefs();
}

void TConverter::GetBkpDirs(const std::string& Directory, std::vector<std::string>& List) {
  std::string Dir = IncludeTrailingPathDelimiter(Directory);
  for (const TDirEntry& E : ListDirectory(Dir))
    if (E.IsDirectory && EndsWith(E.Name, ".bkp")) List.push_back(Dir + E.Name);
}

std::string TConverter::SelectFolder(const std::string& Chosen, const std::string& Current) {
  if (Chosen.empty()) return Current;
  if (!DirectoryExists(Chosen)) {
    FUI.ShowError(kMsgInvalidFolder);
    return Current;
  }
  return Chosen;
}

void TConverter::WriteLog(const std::string& FileName) {
  WriteLogFile(JoinPath(FBackupDir, FileName), FLog);
}

void TConverter::CheckCancelled() {
  if (FUI.CancelRequested()) throw TConversionCancelled();
}

void TConverter::RecoverFolders(const std::vector<std::string>& Backups) {
  FRecoveryNotes.clear();
  for (const std::string& Dir : Backups) {
    const std::string Folder = ExcludeTrailingPathDelimiter(Dir);
    for (TRecoveryNote& N : RecoverInterruptedRun(Folder)) {
      FReport->Recovered[Folder].push_back(N.Text);
      FRecoveryNotes[{Folder, N.Area}].push_back(std::move(N.Text));
    }
  }
}

void TConverter::TakeRecoveryNotes(TArea Area) {
  auto It = FRecoveryNotes.find({FBackupDir, Area});
  if (It == FRecoveryNotes.end()) return;
  FLog.insert(FLog.begin(), It->second.begin(), It->second.end());
  FRecoveryNotes.erase(It);
}

TRunOutcome TConverter::ConvertData(const std::string& FolderText) {
  FUI.SetConverting(true);
  try {
    return RunFolders(FolderText);
  } catch (const TConversionCancelled&) {
    // The area that was working has cleaned up after itself and written its log.
    FUI.SetDetails("");
    FUI.SetConverting(false);
    return TRunOutcome::Cancelled;
  } catch (...) {
    // An error escaping an area ends the run; the window still goes back to idle and the
    // front end reports the error.
    FUI.SetConverting(false);
    throw;
  }
}

namespace {

// What an area needs of the disk while it converts, against the bytes of its source tables: a
// ledger's database takes about 3.2 times its tables, and the compaction that ends the area
// copies it once more (measured on generated backups of 100,000 transactions).
constexpr uint64_t kSpaceFactor = 7;

uint64_t FreeBytesOf(const std::string& Dir) {
  struct statvfs V {};
  if (::statvfs(Dir.c_str(), &V) != 0) return UINT64_MAX;  // unknown: do not refuse
  return static_cast<uint64_t>(V.f_bavail) * V.f_frsize;
}

}  // namespace

bool TConverter::RoomFor(TArea Area) {
  if (!IsAreaFolder(Area, FBackupDir) ||
      FileExists(JoinPath(FBackupDir, AreaTargetFile(Area, FBackupDir))))
    return true;
  uint64_t Sources = 0;
  const TAreaSources& S = AreaSourcesOf(Area);
  for (const auto* List : {&S.Required, &S.Optional})
    for (const char* Name : *List) {
      struct stat St {};
      const std::string P = FindFileNoCase(FBackupDir, Name);
      if (!P.empty() && ::stat(P.c_str(), &St) == 0) Sources += static_cast<uint64_t>(St.st_size);
    }
  if (Sources == 0) return true;
  const uint64_t Need = Sources * kSpaceFactor + (1u << 20);
  const uint64_t Free = FreeSpaceOf ? FreeSpaceOf(FBackupDir) : FreeBytesOf(FBackupDir);
  if (Free >= Need) return true;
  const std::string Message = "Not enough free space on the drive of " + FBackupDir + ": about " +
                              std::to_string((Need + (1u << 20) - 1) >> 20) + " MB needed, " +
                              std::to_string(Free >> 20) + " MB free.";
  const std::string Log = AreaLogFile(Area, FBackupDir);
  WriteLogFile(JoinPath(FBackupDir, Log), {Message});
  FReport->Outcomes.push_back({FBackupDir, Area, TAreaOutcomeKind::Failed, Message, Log});
  return false;
}

void TConverter::Count(TArea Area, const std::function<int32_t()>& Convert) {
  if (!RoomFor(Area)) return;
  const bool Existed = FileExists(JoinPath(FBackupDir, AreaTargetFile(Area, FBackupDir)));
  const TStopwatch Watch;
  const int32_t Result = Convert();
  const double Seconds = Watch.Seconds();
  FConvertedCount += Result;
  FReport->Outcomes.push_back(AreaOutcomeAfter(Area, FBackupDir, Existed));
  if (Result != 1 || !FVerify) return;
  const std::string Target = AreaTargetFile(Area, FBackupDir), Log = AreaLogFile(Area, FBackupDir);
  FReport->Areas.push_back(VerifyCopyArea(Area, FBackupDir, JoinPath(FBackupDir, Target),
                                          ReadLogLines(JoinPath(FBackupDir, Log)), FCheckTables));
  FReport->Areas.back().ConvertSeconds = Seconds;
}

void TConverter::RunContributions() {
  const TStopwatch Watch;
  const TAreaInfo& A = AreaInfo(TArea::Contributions);
  TakeRecoveryNotes(A.Area);
  const std::string Target = JoinPath(FBackupDir, A.TargetFile);
  const bool Existed = FileExists(Target);
  bool Counted = false;
  if (RoomFor(A.Area)) {
    try {
      Counted = ConvertContributions();
    } catch (const TConversionCancelled&) {
      AddLog(kLogCancelled);
      WriteLog(A.LogFile);
      FLog.clear();
      throw;
    }
    const double Seconds = Watch.Seconds();
    if (Counted) ++FConvertedCount;
    WriteLog(A.LogFile);
    FReport->Outcomes.push_back(AreaOutcomeAfter(A.Area, FBackupDir, Existed));
    if (Counted && FVerify && FileExists(Target)) {
      FReport->Areas.push_back(VerifyContributions(FBackupDir, Target, FLog, FCheckTables));
      FReport->Areas.back().ConvertSeconds = Seconds;
    }
  }
  FLog.clear();
}

TRunOutcome TConverter::RunFolders(const std::string& FolderText) {
  PrepareContributionsDatabase();

  std::vector<std::string> Backups;
  FConvertedCount = 0;
  *FReport = {};

  // Choosing one backup folder converts it with every backup folder beside it.
  std::string SearchDir =
      ExtractFileExt(FolderText) == ".bkp" ? ExtractFilePath(FolderText) : FolderText;
  GetBkpDirs(SearchDir, Backups);
  if (Backups.empty()) FUI.ShowInformation(kMsgNoBackups);
  // One conversion per backup folder, from the first look to the last write: a folder another
  // run holds is left alone, and each of its areas counts as failed.
  std::vector<TFolderLock> Locks;
  std::vector<std::string> Mine;
  for (const std::string& Folder : Backups) {
    TFolderLock Lock(Folder);
    if (!Lock.Held()) {
      FUI.ShowError(kMsgFolderBusy);
      const std::string Dir = ExcludeTrailingPathDelimiter(Folder);
      for (const TAreaInfo& A : Areas())
        if (IsAreaFolder(A.Area, Dir))
          FReport->Outcomes.push_back(
              {Dir, A.Area, TAreaOutcomeKind::Failed, kMsgFolderBusy, AreaLogFile(A.Area, Dir)});
      continue;
    }
    Locks.push_back(std::move(Lock));
    Mine.push_back(Folder);
  }
  Backups = std::move(Mine);
  // Before anything looks at a folder (the hashes included): what interrupted runs left.
  RecoverFolders(Backups);
  (void)TakeBrokenLinks();  // only this run's
  std::map<std::string, TFolderHashes> Before;
  std::map<std::string, TSourceTables> BeforeTables;
  if (FVerify)
    for (const std::string& Folder : Backups) {
      Before[Folder] = HashFolder(Folder);
      BeforeTables[Folder] = SnapshotSourceTables(Folder);
    }

  FConversionError = 0;
  for (const std::string& Folder : Backups) {
    if (FConversionError > 0) break;
    FBackupDir = ExcludeTrailingPathDelimiter(Folder);
    for (const TAreaInfo& A : Areas()) {
      if (A.Method == TAreaMethod::Contributions)
        RunContributions();
      else if (FConversionError == 0)
        Count(A.Area, [&] { return A.Convert ? (this->*A.Convert)() : ConvertCopyArea(A.Area); });
    }
    CheckCancelled();
  }
  for (const auto& [Folder, Hashes] : Before) {
    TFolderChanges& C = FReport->Folders[Folder] = CompareFolderHashes(Hashes, HashFolder(Folder));
    for (std::string& Problem : CompareSourceTables(Folder, BeforeTables[Folder]))
      C.Unexpected.push_back(std::move(Problem));
  }
  // A table the preparation rewrote had other names: the rewrite could not keep them.
  for (const std::string& Path : TakeBrokenLinks()) {
    const std::string Dir = ExcludeTrailingPathDelimiter(ExtractFilePath(Path));
    FReport->Folders[Dir].Notices.push_back(
        ExtractFileName(Path) + " had other hard links; the rewritten file no longer shares them");
  }

  // Failed areas are told even when nothing is verified, and the window shows them at once.
  const bool Failures =
      std::any_of(FReport->Outcomes.begin(), FReport->Outcomes.end(),
                  [](const TAreaOutcome& O) { return O.Kind == TAreaOutcomeKind::Failed; });
  if (FVerify || Failures) FUI.SetDetails(FormatRunReport(*FReport));
  FUI.SetDetailsOpen(Failures);
  TRunOutcome Outcome = TRunOutcome::NoBackups;
  if (FConvertedCount == 0) {
    FUI.ShowInformation(kMsgNoBackups);
  } else if (!Backups.empty() && FConversionError == 0) {
    Outcome = TRunOutcome::Complete;
    FUI.ShowInformation(kMsgComplete);
  } else if (FConversionError > 0) {
    Outcome = TRunOutcome::Errors;
    FUI.ShowError(kMsgErrors);
  }

  FUI.SetDetails("");
  FUI.SetDetailsOpen(false);
  FUI.SetConverting(false);
  return Outcome;
}

}  // namespace vlt::app
