#include "app/conversion/Interruption.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <system_error>

#include "app/conversion/ContributionsConversion.h"
#include "app/conversion/ConvertUtil.h"
#include "app/conversion/FileUtil.h"

namespace vlt::app {

namespace {

std::atomic<bool> GCancelSignalled{false};

void OnCancelSignal(int) {
  GCancelSignalled.store(true);
}

void SyncPath(const std::string& Path, bool Folder) {
  const int Fd = ::open(Path.empty() ? "." : Path.c_str(),
                        (Folder ? O_RDONLY | O_DIRECTORY : O_RDWR) | O_CLOEXEC);
  if (Fd < 0) return;
  ::fsync(Fd);
  ::close(Fd);
}

[[noreturn]] void Fail(int Error, const std::string& What) {
  throw std::system_error(Error, std::generic_category(), What);
}

}  // namespace

std::string PartialNameOf(const std::string& Target) {
  return Target + kPartialSuffix;
}

void PublishDatabase(const std::string& Partial, const std::string& Target) {
  SyncPath(Partial, false);
  if (!RenameNoReplace(Partial, Target))
    Fail(errno, "Cannot rename \"" + Partial + "\" to \"" + Target + "\"");
  SyncPath(ExtractFilePath(Target), true);
}

bool RemoveUnlessHeld(const std::string& Path) {
  const int Fd = ::open(Path.c_str(), O_RDWR | O_CLOEXEC | O_NOFOLLOW);
  if (Fd < 0) return errno == ENOENT || ::unlink(Path.c_str()) == 0;
  struct flock Fl {};
  Fl.l_type = F_WRLCK;
  Fl.l_whence = SEEK_SET;
  Fl.l_start = 0;
  Fl.l_len = 0;  // every byte, the share-mode markers far beyond the end included
  int Rc;
  do {
    Rc = ::fcntl(Fd, F_OFD_SETLK, &Fl);
  } while (Rc != 0 && errno == EINTR);
  bool Removed = false;
  if (Rc == 0) {
    Removed = ::unlink(Path.c_str()) == 0 || errno == ENOENT;
    if (Removed) SyncPath(ExtractFilePath(Path), true);
  }
  ::close(Fd);
  return Removed;
}

std::vector<std::string> CompanionsOf(const std::string& Db) {
  std::vector<std::string> Out;
  const std::string Dir = ExtractFilePath(Db), Name = ExtractFileName(Db);
  for (const TDirEntry& E : ListDirectory(Dir.empty() ? "." : Dir))
    if (!E.IsDirectory && (E.Name == Name + "-journal" || E.Name.rfind(Name + "-alloc-", 0) == 0))
      Out.push_back(JoinPath(Dir, E.Name));
  return Out;
}

void DiscardPartial(const std::string& Partial) {
  for (const std::string& Db : {Partial + ".tmp", Partial}) {
    DeleteFileIfExists(Db);
    for (const std::string& C : CompanionsOf(Db)) DeleteFileIfExists(C);
  }
}

std::vector<TRecoveryNote> RecoverInterruptedRun(const std::string& Folder) {
  std::vector<TRecoveryNote> Notes;
  for (const TAreaInfo& A : Areas()) {
    const TArea Area = A.Area;
    if (!IsAreaFolder(Area, Folder)) continue;
    const std::string TargetName = AreaTargetFile(Area, Folder);
    if (FileExists(JoinPath(Folder, TargetName))) continue;
    const std::string Partial = PartialNameOf(JoinPath(Folder, TargetName));
    // The compaction copy first: it can only exist beside its database.
    for (const std::string& Stale : {Partial + ".tmp", Partial}) {
      if (!FileExists(Stale)) continue;
      const std::string Name = ExtractFileName(Stale);
      if (RemoveUnlessHeld(Stale)) {
        // What the engine kept beside it goes with it.
        for (const std::string& C : CompanionsOf(Stale)) DeleteFileIfExists(C);
        Notes.push_back({Area, "Removed " + Name + " left by an interrupted conversion"});
      } else
        Notes.push_back({Area, "Kept " + Name + ": another process has it open"});
    }
    // Sources: the safety copies are taken after the upgrade, so they are put back first.
    std::vector<std::string> Lines;
    if (A.Method == TAreaMethod::Contributions) Lines = RestoreLeftoverSafetyCopies(Folder);
    if (A.Prepare)
      for (std::string& L : RecoverUpgradeLeftovers(Folder, *A.Prepare))
        Lines.push_back(std::move(L));
    for (std::string& L : Lines) Notes.push_back({Area, std::move(L)});
  }
  return Notes;
}

void InstallCancelSignalHandlers() {
  struct sigaction Sa {};
  Sa.sa_handler = OnCancelSignal;
  sigemptyset(&Sa.sa_mask);
  // Interrupted system calls go on; a second signal of the same kind is not caught again.
  Sa.sa_flags = SA_RESTART | SA_RESETHAND;
  for (int Sig : {SIGINT, SIGTERM, SIGHUP}) ::sigaction(Sig, &Sa, nullptr);
}

bool CancelSignalled() {
  return GCancelSignalled.load();
}

}  // namespace vlt::app
