#include "engine/disk/VLTDatabaseFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <random>
#include <system_error>
#include <thread>
#include <vector>

#include "engine/base/VLTErrorCodes.h"
#include "engine/base/VLTExcept.h"

namespace vlt {

namespace {

constexpr char kDBSignature[16] = {'V', 'A', 'U', 'L', 'T', 'R', '1', 'X',
                                   'D', 'A', 'T', 'A', 'B', 'A', 'S', 'E'};
constexpr int16_t kDBHeaderSize = 76;
constexpr size_t kSignatureProbe = sizeof kDBSignature + 2;  // signature + HeaderSize
constexpr int64_t kScanWindow = 10000;
// Consecutive windows overlap by one byte less than the probe, so a probe that straddles the
// end of a window lies whole in the next one.
constexpr int64_t kScanStep = kScanWindow - static_cast<int64_t>(kSignatureProbe) + 1;

constexpr int64_t kMarkRead = TVLTDatabaseFile::kShareLockBase + 0;
constexpr int64_t kMarkWrite = TVLTDatabaseFile::kShareLockBase + 1;
constexpr int64_t kMarkDenyRead = TVLTDatabaseFile::kShareLockBase + 2;
constexpr int64_t kMarkDenyWrite = TVLTDatabaseFile::kShareLockBase + 3;

// A share-mode conflict has no errno of its own; EBUSY with a text that says what happened.
constexpr int kSharingViolation = EBUSY;

std::string ErrorText(int Error) {
  if (Error == kSharingViolation) return "The file is in use with a conflicting share mode";
  return std::system_category().message(Error);
}

// Places (or removes, with F_UNLCK) an open-file-description lock. Answers 0 or the errno.
int OfdLock(int Fd, short Type, int64_t Offset, int64_t Count) {
  struct flock Fl {};
  Fl.l_type = Type;
  Fl.l_whence = SEEK_SET;
  Fl.l_start = Offset;
  Fl.l_len = Count;
  for (;;) {
    if (fcntl(Fd, F_OFD_SETLK, &Fl) == 0) return 0;
    if (errno != EINTR) return errno;
  }
}

// Answers 0 and sets Conflict when an exclusive lock on the region would be refused because
// another open file description holds a lock there.
int OfdTest(int Fd, int64_t Offset, int64_t Count, bool& Conflict) {
  struct flock Fl {};
  Fl.l_type = F_WRLCK;
  Fl.l_whence = SEEK_SET;
  Fl.l_start = Offset;
  Fl.l_len = Count;
  if (fcntl(Fd, F_OFD_GETLK, &Fl) != 0) return errno;
  Conflict = Fl.l_type != F_UNLCK;
  return 0;
}

struct TShareRequest {
  bool Read = true;
  bool Write = false;
  bool DenyRead = false;
  bool DenyWrite = false;
};

TShareRequest ShareRequestOf(TVLTAccessMode Access, TVLTShareMode Share) {
  TShareRequest R;
  R.Write = Access == amReadWrite;
  R.DenyRead = Share == smExclusive;
  R.DenyWrite = Share == smExclusive || Share == smShareDenyWrite;
  return R;
}

// Registers Request's markers on Fd, then checks the markers of all other opens against it;
// on a conflict the markers are taken back. Because every open registers before it checks, two
// opens racing each other can never both pass (at worst both see the other and back off, so a
// refused attempt is repeated a few times after a short random pause). Shared locks only: they
// work on descriptors opened for reading alone. Answers 0, kSharingViolation or an errno.
int RegisterShare(int Fd, const TShareRequest& Request) {
  struct TMark {
    bool Needed;
    int64_t Own;       // marker this open sets
  };
  const TMark Marks[] = {
      {Request.Read, kMarkRead},
      {Request.Write, kMarkWrite},
      {Request.DenyRead, kMarkDenyRead},
      {Request.DenyWrite, kMarkDenyWrite},
  };
  struct TCheck {
    bool Needed;
    int64_t Other;  // marker another open must not hold
  };
  const TCheck Checks[] = {
      {Request.Read, kMarkDenyRead},
      {Request.Write, kMarkDenyWrite},
      {Request.DenyRead, kMarkRead},
      {Request.DenyWrite, kMarkWrite},
  };
  constexpr int kAttempts = 4;
  for (int Attempt = 0;; ++Attempt) {
    for (const TMark& M : Marks)
      if (M.Needed)
        if (int E = OfdLock(Fd, F_RDLCK, M.Own, 1)) {
          OfdLock(Fd, F_UNLCK, kMarkRead, 4);
          return E;
        }
    bool Conflict = false;
    for (const TCheck& C : Checks) {
      if (!C.Needed) continue;
      if (int E = OfdTest(Fd, C.Other, 1, Conflict)) {
        OfdLock(Fd, F_UNLCK, kMarkRead, 4);
        return E;
      }
      if (Conflict) break;
    }
    if (!Conflict) return 0;
    OfdLock(Fd, F_UNLCK, kMarkRead, 4);
    if (Attempt + 1 == kAttempts) return kSharingViolation;
    static thread_local std::minstd_rand Gen(static_cast<unsigned>(getpid()) * 7919u +
                                            static_cast<unsigned>(Fd));
    std::this_thread::sleep_for(std::chrono::microseconds(500 + Gen() % 2500));
  }
}

// Registers an exclusive open of an existing file, so that whole-file operations can decide
// while no other open can start; tells whether the file is open anywhere. Closing the probe
// releases the registration.
class TFileInUseProbe {
 public:
  explicit TFileInUseProbe(const std::string& FileName)
      : FFd(open(FileName.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW)) {
    if (FFd >= 0) {
      TShareRequest Exclusive;
      Exclusive.DenyRead = Exclusive.DenyWrite = true;
      FInUse = RegisterShare(FFd, Exclusive) == kSharingViolation;
    }
  }
  ~TFileInUseProbe() {
    if (FFd >= 0) close(FFd);
  }
  TFileInUseProbe(const TFileInUseProbe&) = delete;
  TFileInUseProbe& operator=(const TFileInUseProbe&) = delete;

  bool InUse() const { return FInUse; }

 private:
  int FFd;
  bool FInUse = false;
};

std::atomic<TVLTFileFaultInjector*> GFaultInjector{nullptr};

bool IsBlank(const std::string& S) {
  return std::all_of(S.begin(), S.end(), [](unsigned char C) { return C <= ' '; });
}

std::string FullPath(const std::string& FileName) {
  std::error_code Ec;
  auto P = std::filesystem::absolute(FileName, Ec);
  return Ec ? FileName : P.lexically_normal().string();
}

bool IsCriticalLockError(int Error) {
  switch (Error) {
    case EBADF:         // invalid handle
    case EIO:           // read / write fault, general failure
    case ESTALE:        // network name deleted
    case ENOLCK:        // lock service of a network file system unreachable
    case ENETDOWN:
    case ENETUNREACH:   // bad network path
    case ENETRESET:
    case ECONNABORTED:
    case ECONNRESET:    // unexpected network error
    case ENOTCONN:
    case EHOSTDOWN:
    case EHOSTUNREACH:
    case EREMOTEIO:
    case ENODEV:
    case ENXIO:
      return true;
    default:
      return false;  // EAGAIN / EACCES are plain conflicts
  }
}

}  // namespace

TVLTDatabaseFile::TVLTDatabaseFile() = default;

TVLTDatabaseFile::~TVLTDatabaseFile() { CloseHandle(); }

void TVLTDatabaseFile::CheckOpened(const char* Operation) const {
  if (!FIsOpened)
    throw EVLTException(kErrCannotPerformOperationClosedInCheckOpened,
                        "Cannot perform this operation (%s) on a closed file",
                        {std::string(Operation)});
}

void TVLTDatabaseFile::CheckClosed(const char* Operation) const {
  if (FIsOpened)
    throw EVLTException(kErrCannotPerformOperationOpened,
                        "Cannot perform this operation (%s) on a opened file",
                        {std::string(Operation)});
}

void TVLTDatabaseFile::CloseHandle() {
  if (FHandle >= 0) close(FHandle);
  FHandle = -1;
  FPendingPosition = -1;
  FOwnLocks.clear();
}

int TVLTDatabaseFile::OpenHandle(int& Error) {
  Error = 0;
  if (FAccessMode == amReadWrite && IsFileReadOnly(FFileName)) {
    Error = EACCES;
    return -1;
  }
  int Fd = open(FFileName.c_str(), (FAccessMode == amReadWrite ? O_RDWR : O_RDONLY) | O_CLOEXEC);
  if (Fd < 0) {
    Error = errno;
    return -1;
  }
  struct stat St;
  if (fstat(Fd, &St) != 0) {
    Error = errno;
    close(Fd);
    return -1;
  }
  if (!S_ISREG(St.st_mode)) {
    Error = S_ISDIR(St.st_mode) ? EISDIR : EINVAL;
    close(Fd);
    return -1;
  }
  if (int E = RegisterShare(Fd, ShareRequestOf(FAccessMode, FShareMode))) {
    Error = E;
    close(Fd);
    return -1;
  }
  return Fd;
}

void TVLTDatabaseFile::CreateAndOpenFile(const std::string& FileName) {
  CheckClosed("CreateFile");
  if (IsBlank(FileName))
    throw EVLTException(kErrCannotCreateFileBlank, "Cannot create file with blank FileName");
  const std::string Path = FullPath(FileName);
  auto Fail = [&](int Error) {
    throw EVLTException(kErrCannotCreateFileError,
                        "Cannot create file: '%s' Error code: %d. ErrorMessage: %s",
                        {Path, int64_t{Error}, ErrorText(Error)});
  };
  struct stat St;
  if (lstat(Path.c_str(), &St) == 0) {
    // Replace the old file, but never one that somebody has open: on Linux unlinking would
    // succeed and leave its users writing into a file nobody can reach any more.
    TFileInUseProbe Gate(Path);
    if (Gate.InUse()) Fail(kSharingViolation);
    if (unlink(Path.c_str()) != 0 && errno != ENOENT) Fail(errno);
  }
  int Fd = open(Path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (Fd < 0) Fail(errno);
  if (int E = RegisterShare(Fd, ShareRequestOf(amReadWrite, smExclusive))) {
    close(Fd);
    Fail(E);
  }
  FFileName = Path;
  FAccessMode = amReadWrite;
  FShareMode = smExclusive;
  FHandle = Fd;
  FIsOpened = true;
  FWasCriticalError = false;
  FReopenError = 0;
  FOwnLocks.clear();
}

void TVLTDatabaseFile::OpenFile(const std::string& FileName, TVLTAccessMode AccessMode,
                                TVLTShareMode ShareMode) {
  CheckClosed("OpenFile");
  if (AccessMode > amReadWrite)
    throw EVLTException(kErrUnknownAccessMode, "Unknown Access mode: '%d'", {int64_t{AccessMode}});
  if (ShareMode > smShareDenyWrite)
    throw EVLTException(kErrUnknownShareMode, "Unknown Share mode: '%d'", {int64_t{ShareMode}});
  const std::string Path = FileName.empty() ? FileName : FullPath(FileName);
  FFileName = Path;
  FAccessMode = AccessMode;
  FShareMode = ShareMode;
  int Error = ENOENT;
  int Fd = Path.empty() ? -1 : OpenHandle(Error);
  if (Fd < 0)
    throw EVLTException(kErrCannotOpenFileError,
                        "Cannot open file:'%s' Error code: %d. ErrorMessage: %s",
                        {Path, int64_t{Error}, ErrorText(Error)});
  FHandle = Fd;
  FIsOpened = true;
  FWasCriticalError = false;
  FReopenError = 0;
  FOwnLocks.clear();
}

void TVLTDatabaseFile::CloseFile() {
  CheckOpened("CloseFile");
  int Result = FHandle >= 0 ? close(FHandle) : 0;
  int Error = errno;
  FHandle = -1;
  FPendingPosition = -1;
  FIsOpened = false;
  FDesignOpenCount = 0;
  FOwnLocks.clear();
  // Linux releases the descriptor even when close reports an error; the object is closed.
  if (Result != 0)
    throw EVLTException(kErrCannotCloseFileError,
                        "Cannot close file:'%s' Error code: %d. ErrorMessage: %s",
                        {FFileName, int64_t{Error}, ErrorText(Error)});
}

void TVLTDatabaseFile::CloseAndDeleteFile() {
  CheckOpened("CloseAndDeleteFile");
  if (FShareMode != smExclusive)
    throw EVLTException(kErrCannotDeleteFileNot,
                        "Cannot delete file: '%s': it is not open exclusively", {FFileName});
  const int Result = unlink(FFileName.c_str());
  const int Error = errno;
  CloseFile();
  if (Result != 0)
    throw EVLTException(kErrCannotDeleteFileError,
                        "Cannot delete file: '%s' Error code: %d. ErrorMessage: %s",
                        {FFileName, int64_t{Error}, ErrorText(Error)});
}

bool TVLTDatabaseFile::ReopenDatabaseFile() {
  struct stat St;
  if (FHandle >= 0 && fstat(FHandle, &St) == 0) return true;
  CloseHandle();
  for (int Attempt = 0; Attempt < 3; ++Attempt) {
    if (Attempt > 0) std::this_thread::sleep_for(std::chrono::milliseconds(FReopenDelayMS));
    int Fd = OpenHandle(FReopenError);
    if (Fd >= 0) {
      FHandle = Fd;
      FReopenError = 0;
      return true;
    }
  }
  return false;
}

// ---- data ----

int TVLTDatabaseFile::HandleError() const {
  return FHandle < 0 && FReopenError != 0 ? FReopenError : errno;
}

void TVLTDatabaseFile::SetFaultInjector(TVLTFileFaultInjector* Injector) {
  GFaultInjector.store(Injector);
}

bool TVLTDatabaseFile::TryRead(void* Buffer, size_t Count, int64_t Position, int& Error) {
  if (auto* I = GFaultInjector.load())
    if ((Error = I->BeforeRead(FFileName, Position, Count)) != 0) return false;
  if (FHandle < 0) {
    Error = FReopenError ? FReopenError : EBADF;
    return false;
  }
  if (Position < 0) {
    Error = EINVAL;
    return false;
  }
  // One positioned call instead of a seek and a read; the descriptor's own position is brought
  // to where the read ended only when somebody asks for it (ApplyPendingPosition).
  auto* P = static_cast<uint8_t*>(Buffer);
  int64_t At = Position;
  bool OK = true;
  while (Count > 0) {
    ssize_t N = pread(FHandle, P, Count, At);
    if (N < 0) {
      if (errno == EINTR) continue;
      Error = errno;
      OK = false;
      break;
    }
    if (N == 0) {  // the end of the file came first
      Error = ENODATA;
      OK = false;
      break;
    }
    P += N;
    At += N;
    Count -= static_cast<size_t>(N);
  }
  FPendingPosition = At;
  return OK;
}

bool TVLTDatabaseFile::TryWrite(const void* Buffer, size_t Count, int64_t Position, int& Error) {
  if (auto* I = GFaultInjector.load())
    if ((Error = I->BeforeWriteOf(FFileName, Position, Buffer, Count)) != 0) return false;
  if (FHandle < 0) {
    Error = FReopenError ? FReopenError : EBADF;
    return false;
  }
  if (Position < 0) {
    Error = EINVAL;
    return false;
  }
  // As in TryRead: positioned writes, the descriptor position follows lazily.
  auto* P = static_cast<const uint8_t*>(Buffer);
  int64_t At = Position;
  bool OK = true;
  while (Count > 0) {
    ssize_t N = pwrite(FHandle, P, Count, At);
    if (N < 0) {
      if (errno == EINTR) continue;
      Error = errno;
      OK = false;
      break;
    }
    if (N == 0) {
      Error = ENOSPC;
      OK = false;
      break;
    }
    P += N;
    At += N;
    Count -= static_cast<size_t>(N);
  }
  FPendingPosition = At;
  return OK;
}

void TVLTDatabaseFile::ApplyPendingPosition() {
  if (FPendingPosition >= 0 && FHandle >= 0) lseek(FHandle, FPendingPosition, SEEK_SET);
  FPendingPosition = -1;
}

int64_t TVLTDatabaseFile::SizeForMessage() {
  struct stat St;
  return FHandle >= 0 && fstat(FHandle, &St) == 0 ? St.st_size : -1;
}

int64_t TVLTDatabaseFile::PositionForMessage() {
  ApplyPendingPosition();
  return FHandle >= 0 ? lseek(FHandle, 0, SEEK_CUR) : -1;
}

bool TVLTDatabaseFile::ReadBuffer(void* Buffer, size_t Count, int64_t Position) {
  CheckOpened("ReadBuffer");
  int Error = 0;
  if (TryRead(Buffer, Count, Position, Error)) return true;
  return ReopenDatabaseFile() && TryRead(Buffer, Count, Position, Error);
}

void TVLTDatabaseFile::ReadBuffer(void* Buffer, size_t Count, int64_t Position,
                                  int32_t ErrorCode) {
  CheckOpened("ReadBuffer");
  int Error = 0;
  if (TryRead(Buffer, Count, Position, Error)) return;
  if (ReopenDatabaseFile() && TryRead(Buffer, Count, Position, Error)) return;
  throw EVLTException(ErrorCode,
                      "Cannot Read from file: '%s' Position = %d, Count = %d, FilePosition = %d, "
                      "FileSize = %d, ErrorCode:%d. ErrorMessage: %s",
                      {FFileName, int64_t{Position}, static_cast<int64_t>(Count),
                       PositionForMessage(), SizeForMessage(), int64_t{Error}, ErrorText(Error)});
}

void TVLTDatabaseFile::WriteBuffer(const void* Buffer, size_t Count, int64_t Position,
                                   int32_t ErrorCode) {
  CheckOpened("WriteBuffer");
  int Error = 0;
  if (TryWrite(Buffer, Count, Position, Error)) return;
  if (ReopenDatabaseFile() && TryWrite(Buffer, Count, Position, Error)) return;
  throw EVLTException(ErrorCode,
                      "Cannot Write to file: '%s' Position = %d, Count = %d, FilePosition = %d, "
                      "FileSize = %d, ErrorCode:%d. ErrorMessage: %s",
                      {FFileName, int64_t{Position}, static_cast<int64_t>(Count),
                       PositionForMessage(), SizeForMessage(), int64_t{Error}, ErrorText(Error)});
}

int64_t TVLTDatabaseFile::Seek(int64_t Offset, int Origin) {
  CheckOpened("Seek");
  ApplyPendingPosition();
  off_t R = lseek(FHandle, Offset, Origin);
  if (R < 0 && ReopenDatabaseFile()) R = lseek(FHandle, Offset, Origin);
  if (R < 0)
    throw EVLTException(
        kErrCannotSetFilePosition,
        "Cannot Set File Position to %d. FileName='%s'. FilePosition = %d, FileSize = %d",
        {int64_t{Offset}, FFileName, PositionForMessage(), SizeForMessage()});
  return R;
}

void TVLTDatabaseFile::SetPosition(int64_t NewPosition, int32_t ErrorCode) {
  CheckOpened("SetPosition");
  FPendingPosition = -1;
  off_t R = lseek(FHandle, NewPosition, SEEK_SET);
  if (R < 0 && ReopenDatabaseFile()) R = lseek(FHandle, NewPosition, SEEK_SET);
  if (R < 0)
    throw EVLTException(
        ErrorCode,
        "Cannot Set File Position to %d. FileName='%s'. FilePosition = %d, FileSize = %d",
        {int64_t{NewPosition}, FFileName, PositionForMessage(), SizeForMessage()});
}

int64_t TVLTDatabaseFile::GetPosition() {
  CheckOpened("GetPosition");
  ApplyPendingPosition();
  off_t R = lseek(FHandle, 0, SEEK_CUR);
  if (R < 0 && ReopenDatabaseFile()) R = lseek(FHandle, 0, SEEK_CUR);
  if (R < 0) {
    int Error = HandleError();
    throw EVLTException(kErrCannotGetFilePosition,
                        "Cannot Get File Position. FileName='%s' ErrorCode:%d. ErrorMessage: %s",
                        {FFileName, int64_t{Error}, ErrorText(Error)});
  }
  return R;
}

void TVLTDatabaseFile::SetSize(int64_t NewSize) {
  CheckOpened("SetSize");
  FPendingPosition = -1;
  // The position moves to the new end as with every read and write: when it is asked for.
  auto Try = [&]() {
    if (ftruncate(FHandle, NewSize) != 0) return false;
    FPendingPosition = NewSize;
    return true;
  };
  if (Try()) return;
  int Error = errno;
  if (ReopenDatabaseFile() && Try()) return;
  Error = HandleError();
  throw EVLTException(kErrCannotTruncateFileBytes,
                      "Cannot Truncate File '%s' to %d bytes. ErrorCode:%d. ErrorMessage: %s",
                      {FFileName, int64_t{NewSize}, int64_t{Error}, ErrorText(Error)});
}

int64_t TVLTDatabaseFile::GetSize() {
  CheckOpened("GetSize");
  struct stat St;
  if (FHandle >= 0 && fstat(FHandle, &St) == 0) return St.st_size;
  int Error = FHandle >= 0 ? errno : EBADF;
  if (ReopenDatabaseFile() && fstat(FHandle, &St) == 0) return St.st_size;
  Error = HandleError();
  throw EVLTException(kErrCannotGetFileSize,
                      "Cannot Get File Size for file: '%s'. ErrorCode:%d. ErrorMessage: %s",
                      {FFileName, int64_t{Error}, ErrorText(Error)});
}

void TVLTDatabaseFile::FlushFileBuffers() {
  CheckOpened("FlushFileBuffers");
  int Error = 0;
  auto Try = [&] {
    if (auto* I = GFaultInjector.load())
      if ((Error = I->BeforeFlush(FFileName)) != 0) return false;
    if (FHandle >= 0 && fdatasync(FHandle) == 0) return true;
    Error = HandleError();
    return false;
  };
  if (Try()) return;
  if (ReopenDatabaseFile() && Try()) return;
  throw EVLTException(kErrCannotFlushFileBuffers,
                      "Cannot flush file buffers for file: '%s'. ErrorCode:%d. ErrorMessage: %s",
                      {FFileName, int64_t{Error}, ErrorText(Error)});
}

// ---- byte locks ----

bool TVLTDatabaseFile::RegionIsValid(int64_t Offset, int64_t Count) const {
  return Offset >= 0 && Count > 0 && Offset <= kShareLockBase - Count;
}

bool TVLTDatabaseFile::OverlapsOwnLock(int64_t Offset, int64_t Count) const {
  // Own locks never overlap each other, so only the last one starting before the region's end
  // can reach into it.
  auto It = FOwnLocks.lower_bound(Offset + Count);
  if (It == FOwnLocks.begin()) return false;
  --It;
  return It->first + It->second > Offset;
}

// A refused call answers FWasCriticalError: after a critical error (the handle or the network
// is gone) lock calls report success, so that a caller polling for a lock goes on and meets the
// real failure in its next read or write. A call the system answers normally (granted, or
// refused because somebody else holds the region) proves the handle works and clears the flag,
// so that plain conflicts are never reported as granted locks.
bool TVLTDatabaseFile::TryLock(int64_t Offset, int64_t Count) {
  if (OverlapsOwnLock(Offset, Count)) return false;
  int Error = EBADF;
  if (FHandle >= 0) {
    if (FAccessMode == amReadWrite) {
      Error = OfdLock(FHandle, F_WRLCK, Offset, Count);
    } else {
      // A descriptor opened for reading cannot hold an exclusive lock; it takes a shared one
      // after checking that nobody else holds the region. Exclusive locks of writers and the
      // check of other readers still refuse it.
      bool Conflict = false;
      Error = OfdTest(FHandle, Offset, Count, Conflict);
      if (Error == 0) Error = Conflict ? EAGAIN : OfdLock(FHandle, F_RDLCK, Offset, Count);
    }
  }
  if (Error == 0) {
    FWasCriticalError = false;
    FOwnLocks[Offset] = Count;
    return true;
  }
  FWasCriticalError = IsCriticalLockError(Error);
  return FWasCriticalError;
}

bool TVLTDatabaseFile::TryUnlock(int64_t Offset, int64_t Count) {
  auto It = FOwnLocks.find(Offset);
  if (It == FOwnLocks.end() || It->second != Count) return false;  // not locked as such
  int Error = FHandle >= 0 ? OfdLock(FHandle, F_UNLCK, Offset, Count) : EBADF;
  if (Error == 0) {
    FWasCriticalError = false;
    FOwnLocks.erase(It);
    return true;
  }
  FWasCriticalError = IsCriticalLockError(Error);
  return FWasCriticalError;
}

bool TVLTDatabaseFile::LockByte(int64_t Offset, int64_t Count) {
  CheckOpened("LockByte");
  if (!RegionIsValid(Offset, Count)) return false;
  bool Result = TryLock(Offset, Count);
  if (!Result && ReopenDatabaseFile()) {
    FWasCriticalError = false;
    Result = TryLock(Offset, Count);
  }
  return Result;
}

bool TVLTDatabaseFile::UnlockByte(int64_t Offset, int64_t Count) {
  CheckOpened("UnlockByte");
  bool Result = RegionIsValid(Offset, Count) && TryUnlock(Offset, Count);
  if (!Result && RegionIsValid(Offset, Count) && ReopenDatabaseFile()) {
    FWasCriticalError = false;
    Result = TryUnlock(Offset, Count);
  }
  return Result || FDesignMode;
}

bool TVLTDatabaseFile::IsByteLocked(int64_t Offset) {
  CheckOpened("IsByteLocked");
  return IsRegionLocked(Offset, 1);
}

bool TVLTDatabaseFile::OpenedElsewhere() {
  CheckOpened("OpenedElsewhere");
  bool Conflict = true;
  // A probe that fails cannot prove the file is ours alone.
  if (FHandle < 0 || OfdTest(FHandle, kMarkRead, 1, Conflict) != 0) return true;
  return Conflict;
}

bool TVLTDatabaseFile::IsRegionLocked(int64_t Offset, int64_t Count) {
  CheckOpened("IsRegionLocked");
  if (Count <= 0 || Offset < 0) return false;
  if (!RegionIsValid(Offset, Count)) return true;  // a lock there is always refused
  if (OverlapsOwnLock(Offset, Count)) return true;
  bool Conflict = false;
  int Error = FHandle >= 0 ? OfdTest(FHandle, Offset, Count, Conflict) : EBADF;
  if (Error == 0) return Conflict;
  // The probe itself failed: a critical failure counts as a granted (and released) lock.
  if (IsCriticalLockError(Error)) {
    FWasCriticalError = true;
    return false;
  }
  return true;
}

// ---- header search ----

bool TVLTDatabaseFile::FindSignature(int64_t& Offset) {
  CheckOpened("FindSignature");
  const int64_t Saved = GetPosition();
  auto IsHeaderAt = [](const uint8_t* P) {
    return std::memcmp(P, kDBSignature, sizeof kDBSignature) == 0 &&
           LoadLE<int16_t>(P + sizeof kDBSignature) == kDBHeaderSize;
  };
  bool Found = false;
  uint8_t First[sizeof kDBSignature + kDBHeaderSize];
  if (ReadBuffer(First, sizeof First, 0) && IsHeaderAt(First)) {
    Offset = 0;
    Found = true;
  } else {
    const int64_t FileSize = GetSize();
    std::vector<uint8_t> Window(kScanWindow);
    for (int64_t Start = 0; !Found && Start < FileSize; Start += kScanStep) {
      const int64_t N = std::min(kScanWindow, FileSize - Start);
      if (N < static_cast<int64_t>(kSignatureProbe)) break;
      if (!ReadBuffer(Window.data(), static_cast<size_t>(N), Start)) break;
      for (int64_t P = 0; P + static_cast<int64_t>(kSignatureProbe) <= N; ++P) {
        if (Window[P] == static_cast<uint8_t>(kDBSignature[0]) && IsHeaderAt(&Window[P])) {
          Offset = Start + P;
          Found = true;
          break;
        }
      }
      if (Start + N >= FileSize) break;
    }
  }
  SetPosition(Saved);
  return Found;
}

// ---- design mode ----

void TVLTDatabaseFile::OpenFileForDesignTime() {
  if (FDesignOpenCount == 0 && !FIsOpened) OpenFile(FFileName, FAccessMode, FShareMode);
  ++FDesignOpenCount;
}

void TVLTDatabaseFile::CloseFileForDesignTime() {
  if (FDesignOpenCount > 0) --FDesignOpenCount;
  if (FDesignOpenCount == 0 && FIsOpened) CloseFile();
}

// ---- whole-file operations ----

bool TVLTDatabaseFile::FileExists(const std::string& FileName) {
  struct stat St;
  return !FileName.empty() && stat(FileName.c_str(), &St) == 0 && S_ISREG(St.st_mode);
}

bool TVLTDatabaseFile::IsFileReadOnly(const std::string& FileName) {
  struct stat St;
  if (FileName.empty() || stat(FileName.c_str(), &St) != 0) return false;
  if ((St.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0) return true;
  struct statvfs Fs;
  return statvfs(FileName.c_str(), &Fs) == 0 && (Fs.f_flag & ST_RDONLY) != 0;
}

bool TVLTDatabaseFile::IsFileWritable(const std::string& FileName, bool MultiUser) {
  if (IsFileReadOnly(FileName)) return false;
  int Fd = open(FileName.c_str(), O_RDWR | O_CLOEXEC);
  if (Fd < 0) return false;
  struct stat St;
  bool Writable = fstat(Fd, &St) == 0 && S_ISREG(St.st_mode);
  if (Writable) {
    TShareRequest Request;
    Request.Write = true;
    Request.DenyRead = !MultiUser;  // single user: share writing only
    Writable = RegisterShare(Fd, Request) == 0;
  }
  if (Writable) {
    uint8_t Byte;
    ssize_t N;
    do N = pread(Fd, &Byte, 1, 0);
    while (N < 0 && errno == EINTR);
    if (N < 0)
      Writable = false;
    else if (N == 1) {  // an empty file has no byte to write back and must stay empty
      do N = pwrite(Fd, &Byte, 1, 0);
      while (N < 0 && errno == EINTR);
      Writable = N == 1;
    }
  }
  close(Fd);
  return Writable;
}

void TVLTDatabaseFile::DeleteFile(const std::string& FileName) {
  auto Fail = [&](int Error) {
    throw EVLTException(kErrCannotDeleteFileError,
                        "Cannot delete file: '%s' Error code: %d. ErrorMessage: %s",
                        {FileName, int64_t{Error}, ErrorText(Error)});
  };
  TFileInUseProbe Gate(FileName);
  if (Gate.InUse()) Fail(kSharingViolation);
  if (unlink(FileName.c_str()) != 0) Fail(errno);
}

void TVLTDatabaseFile::RenameFile(const std::string& OldFileName, const std::string& NewFileName) {
  auto Fail = [&](int Error) {
    throw EVLTException(kErrCannotRenameFileErrorCode,
                        "Cannot rename file '%s' to '%s' ErrorCode:%d. ErrorMessage: %s",
                        {OldFileName, NewFileName, int64_t{Error}, ErrorText(Error)});
  };
  TFileInUseProbe Gate(OldFileName);
  if (Gate.InUse()) Fail(kSharingViolation);
  if (renameat2(AT_FDCWD, OldFileName.c_str(), AT_FDCWD, NewFileName.c_str(), RENAME_NOREPLACE) ==
      0)
    return;
  if (errno != EINVAL && errno != ENOSYS) Fail(errno);
  // A file system without the no-replace flag: check, then rename.
  struct stat St;
  if (lstat(NewFileName.c_str(), &St) == 0) Fail(EEXIST);
  if (rename(OldFileName.c_str(), NewFileName.c_str()) != 0) Fail(errno);
}

}  // namespace vlt
