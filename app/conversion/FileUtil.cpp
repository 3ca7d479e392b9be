#include "app/conversion/FileUtil.h"

#include <dirent.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

#include "engine/base/VLTTypes.h"

namespace vlt::app {

bool FileExists(const std::string& Path) {
  struct stat St;
  return ::stat(Path.c_str(), &St) == 0 && !S_ISDIR(St.st_mode);
}

bool DirectoryExists(const std::string& Path) {
  struct stat St;
  return ::stat(Path.c_str(), &St) == 0 && S_ISDIR(St.st_mode);
}

std::string IncludeTrailingPathDelimiter(std::string_view Path) {
  std::string R(Path);
  if (R.empty() || R.back() != kPathDelim) R.push_back(kPathDelim);
  return R;
}

std::string ExcludeTrailingPathDelimiter(std::string_view Path) {
  std::string R(Path);
  while (R.size() > 1 && R.back() == kPathDelim) R.pop_back();
  return R;
}

std::string ExtractFileExt(std::string_view Path) {
  size_t Slash = Path.rfind(kPathDelim);
  size_t Dot = Path.rfind('.');
  if (Dot == std::string_view::npos || (Slash != std::string_view::npos && Dot < Slash)) return {};
  return std::string(Path.substr(Dot));
}

std::string ExtractFilePath(std::string_view Path) {
  size_t Slash = Path.rfind(kPathDelim);
  return Slash == std::string_view::npos ? std::string() : std::string(Path.substr(0, Slash + 1));
}

std::string ExtractFileName(std::string_view Path) {
  size_t Slash = Path.rfind(kPathDelim);
  return std::string(Slash == std::string_view::npos ? Path : Path.substr(Slash + 1));
}

std::string JoinPath(std::string_view Dir, std::string_view Name) {
  if (Dir.empty()) return std::string(Name);
  return IncludeTrailingPathDelimiter(Dir) + std::string(Name);
}

std::vector<TDirEntry> ListDirectory(const std::string& Dir) {
  std::vector<TDirEntry> Entries;
  DIR* D = ::opendir(Dir.empty() ? "." : Dir.c_str());
  if (!D) return Entries;
  while (dirent* E = ::readdir(D)) {
    std::string Name = E->d_name;
    if (Name == "." || Name == "..") continue;
    bool IsDir = E->d_type == DT_DIR;
    if (E->d_type == DT_UNKNOWN || E->d_type == DT_LNK)
      IsDir = DirectoryExists(JoinPath(Dir, Name));
    Entries.push_back({std::move(Name), IsDir});
  }
  ::closedir(D);
  return Entries;
}

std::string FindFileNoCase(const std::string& Dir, std::string_view Name) {
  std::string Exact = JoinPath(Dir, Name);
  if (FileExists(Exact)) return Exact;
  for (const TDirEntry& E : ListDirectory(Dir))
    if (!E.IsDirectory && SameText(E.Name, Name)) return JoinPath(Dir, E.Name);
  return {};
}

bool EndsWith(std::string_view S, std::string_view Suffix) {
  return S.size() >= Suffix.size() && S.substr(S.size() - Suffix.size()) == Suffix;
}

std::string FindDirNoCase(const std::string& Dir, std::string_view Name) {
  std::string Exact = JoinPath(Dir, Name);
  if (DirectoryExists(Exact)) return Exact;
  for (const TDirEntry& E : ListDirectory(Dir))
    if (E.IsDirectory && SameText(E.Name, Name)) return JoinPath(Dir, E.Name);
  return {};
}

bool DeleteFileIfExists(const std::string& Path) {
  return ::unlink(Path.c_str()) == 0 || errno == ENOENT;
}

bool RenameNoReplace(const std::string& From, const std::string& To) {
  return ::renameat2(AT_FDCWD, From.c_str(), AT_FDCWD, To.c_str(), RENAME_NOREPLACE) == 0;
}

namespace {

// Syncs the folder holding Path, so a rename into it survives a power cut.
void SyncFolderOf(const std::string& Path) {
  std::string Dir = ExtractFilePath(Path);
  int Fd = ::open(Dir.empty() ? "." : Dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (Fd < 0) return;
  ::fsync(Fd);
  ::close(Fd);
}

[[noreturn]] void FailOn(const std::string& What, const std::string& Path) {
  throw std::system_error(errno, std::generic_category(), What + " \"" + Path + "\"");
}

}  // namespace

void CopyFileReplacing(const std::string& From, const std::string& To) {
  int In = ::open(From.c_str(), O_RDONLY | O_CLOEXEC);
  if (In < 0) FailOn("Cannot open file", From);
  const std::string Temp = To + ".copy-tmp";
  int Out = ::open(Temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
  if (Out < 0) {
    int Err = errno;
    ::close(In);
    errno = Err;
    FailOn("Cannot create file", Temp);
  }
  auto Abandon = [&](const char* What, const std::string& Path) {
    int Err = errno;
    ::close(In);
    ::close(Out);
    ::unlink(Temp.c_str());
    errno = Err;
    FailOn(What, Path);
  };
  // The copy is the original's stand-in (a safety copy renamed back over it later): it takes
  // the original's permissions, owner and group. A caller that may not give files away keeps
  // the copy as its own.
  struct stat St {};
  if (::fstat(In, &St) != 0) Abandon("Cannot read file", From);
  if (::fchown(Out, St.st_uid, St.st_gid) != 0 && errno != EPERM)
    Abandon("Cannot write file", Temp);
  if (::fchmod(Out, St.st_mode & 07777) != 0) Abandon("Cannot write file", Temp);
  char Buf[65536];
  for (;;) {
    ssize_t N = ::read(In, Buf, sizeof Buf);
    if (N < 0 && errno == EINTR) continue;
    if (N < 0) Abandon("Cannot read file", From);
    if (N == 0) break;
    for (ssize_t Done = 0; Done < N;) {
      ssize_t W = ::write(Out, Buf + Done, static_cast<size_t>(N - Done));
      if (W < 0 && errno == EINTR) continue;
      if (W <= 0) Abandon("Cannot write file", Temp);
      Done += W;
    }
  }
  if (::fsync(Out) != 0) Abandon("Cannot write file", Temp);
  ::close(In);
  if (::close(Out) != 0) {
    ::unlink(Temp.c_str());
    FailOn("Cannot write file", Temp);
  }
  if (::rename(Temp.c_str(), To.c_str()) != 0) {
    int Err = errno;
    ::unlink(Temp.c_str());
    errno = Err;
    FailOn("Cannot replace file", To);
  }
  SyncFolderOf(To);
}

void WriteLogFile(const std::string& Path, const std::vector<std::string>& Lines) {
  if (Lines.empty()) return;
  std::string Text;
  for (const std::string& L : Lines) {
    Text += L;
    Text += "\r\n";
  }
  int Fd = ::open(Path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (Fd < 0)
    throw std::system_error(errno, std::generic_category(), "Cannot create file \"" + Path + "\"");
  size_t Done = 0;
  while (Done < Text.size()) {
    ssize_t N = ::write(Fd, Text.data() + Done, Text.size() - Done);
    if (N < 0 && errno == EINTR) continue;
    if (N <= 0) {
      int Err = errno;
      ::close(Fd);
      throw std::system_error(Err, std::generic_category(), "Cannot write file \"" + Path + "\"");
    }
    Done += static_cast<size_t>(N);
  }
  if (::close(Fd) != 0)
    throw std::system_error(errno, std::generic_category(), "Cannot write file \"" + Path + "\"");
}

TFolderLock::TFolderLock(const std::string& Dir) {
  FFd = ::open(Dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (FFd >= 0 && ::flock(FFd, LOCK_EX | LOCK_NB) != 0) {
    ::close(FFd);
    FFd = -1;
  }
}

TFolderLock::~TFolderLock() {
  if (FFd >= 0) ::close(FFd);  // closing the only descriptor releases the lock
}

}  // namespace vlt::app
