// The engine's only access to the operating-system file of a database: create, open and close,
// positioned reads and writes, size, flush, and byte-range locks. Nothing else in the engine
// calls the file API.
//
// Behaviour the engine relies on, kept from the platform the file format was born on:
//
// * Share modes. An open names what it does (read, or read and write) and what it lets others
//   do at the same time (smExclusive: nothing; smShareDenyWrite: read only; smShareDenyNone:
//   read and write). A second opener, in this or another process, is refused exactly when its
//   access is denied by an earlier open or its share mode denies an access an earlier open
//   already has. Deleting, replacing or renaming a file that is open anywhere is refused too,
//   so a database in use is never unlinked under its users.
//
// * Byte locks. LockByte places an exclusive lock on bytes of the file that every other open of
//   the file (in any process, and in this process through another TVLTDatabaseFile) sees; no
//   call ever waits. A lock belongs to this open of the file: it survives the closing of any
//   other descriptor of the same file and vanishes when this object closes the file. Locking a
//   region that overlaps one this object already holds is refused, and unlocking needs exactly
//   a region that was locked (offset and count), so that two sessions sharing one file object
//   can never both hold the same slot byte.
//
// How it is done on Linux: open-file-description locks (F_OFD_SETLK / F_OFD_GETLK), which are
// owned by the open file description rather than the process. Share modes are kept as shared
// locks on four marker bytes near the top of the 64-bit offset range, far beyond any offset the
// engine locks or any size a database can reach (page offsets stay below 2^47):
//
//   OFFSET                  SIZE CONTENT (shared lock held by every open that ...)
//   kShareLockBase + 0      1    ... reads
//   kShareLockBase + 1      1    ... writes
//   kShareLockBase + 2      1    ... denies reading to others
//   kShareLockBase + 3      1    ... denies writing to others
//
// An open sets its own markers first and then checks the others' (taking its markers back on a
// conflict), so two opens racing each other can never both pass.
//
// A descriptor opened for reading alone cannot hold an exclusive lock on Linux: an amReadOnly
// open locks with a shared lock after checking that no other open holds the region. Writers'
// locks still exclude it and it still excludes writers; only two read-only opens checking the
// same byte at the same instant could both get it.
//
// Every failing file call is retried once after ReopenDatabaseFile answered true; failures then
// raise EVLTException with the file name, errno and the system's error text.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>

#include "engine/base/VLTErrorCodes.h"
#include "engine/base/VLTTypes.h"

namespace vlt {

// Test seam under the file layer: makes reads, writes and flushes fail at chosen points (or
// stops the process there). Each hook answers 0 to let the call proceed, or an errno that the
// call then fails with, as if the system had answered it. Calls that are retried after a reopen
// reach the hook again.
class TVLTFileFaultInjector {
 public:
  virtual ~TVLTFileFaultInjector() = default;
  virtual int BeforeRead(const std::string& /*FileName*/, int64_t /*Position*/, size_t /*Count*/) {
    return 0;
  }
  virtual int BeforeWrite(const std::string& /*FileName*/, int64_t /*Position*/,
                          size_t /*Count*/) {
    return 0;
  }
  // The same with the bytes about to be written; the default asks BeforeWrite.
  virtual int BeforeWriteOf(const std::string& FileName, int64_t Position, const void* /*Data*/,
                            size_t Count) {
    return BeforeWrite(FileName, Position, Count);
  }
  virtual int BeforeFlush(const std::string& /*FileName*/) { return 0; }
};

class TVLTDatabaseFile {
 public:
  // Base of the share-mode marker bytes (see above). Byte locks at or beyond it are refused.
  static constexpr int64_t kShareLockBase = INT64_C(0x7FFFFFFFFFFF0000);
  // Attributes and flags for opening (normal file, random access); kept for the record.
  static constexpr uint32_t kDefaultAttrFlags = 0x08000080;

  TVLTDatabaseFile();
  ~TVLTDatabaseFile();  // closes the file, swallowing errors
  TVLTDatabaseFile(const TVLTDatabaseFile&) = delete;
  TVLTDatabaseFile& operator=(const TVLTDatabaseFile&) = delete;

  // ---- opening and closing ----
  // REQUIRES a closed file (30377, "CreateFile"); a blank name fails with 30374. An existing
  // file of that name is deleted first (refused while anyone has it open); the new file is
  // opened amReadWrite / smExclusive. Failure: 30361.
  void CreateAndOpenFile(const std::string& FileName);
  // REQUIRES a closed file (30377, "OpenFile"). Opens an existing file. Unknown modes: 30366,
  // 30367; failure (missing file, no permission, share-mode conflict): 30364. An amReadWrite
  // open of a file with the read-only attribute is refused (EACCES) as on its home platform.
  void OpenFile(const std::string& FileName, TVLTAccessMode AccessMode, TVLTShareMode ShareMode);
  // REQUIRES an open file (30376). Failure: 30365; the object is closed afterwards either way.
  void CloseFile();
  // REQUIRES a file this object has open with smExclusive (30376 otherwise): removes its name
  // and closes it. The exclusive open already proves nobody else has it open, so no probe is
  // needed. Failure: 30362 (the file is closed either way).
  void CloseAndDeleteFile();

  // ---- data ----
  // Reads Count bytes at Position or raises ErrorCode (reading past the end is a failure; the
  // message names position, count, file position and size).
  void ReadBuffer(void* Buffer, size_t Count, int64_t Position, int32_t ErrorCode);
  // The same, answering false instead of raising.
  bool ReadBuffer(void* Buffer, size_t Count, int64_t Position);
  void WriteBuffer(const void* Buffer, size_t Count, int64_t Position, int32_t ErrorCode);

  // Origin: SEEK_SET, SEEK_CUR or SEEK_END. Answers the new position. Failure: 30372.
  int64_t Seek(int64_t Offset, int Origin);
  // Failure: ErrorCode "Cannot Set File Position to %d. ...".
  void SetPosition(int64_t NewPosition, int32_t ErrorCode = kErrCannotSetFilePosition);
  int64_t GetPosition();  // failure 30373
  // Sets the end of file (growing fills with zeros); the position moves to NewSize. Failure
  // 30370.
  void SetSize(int64_t NewSize);
  int64_t GetSize();  // failure 30371
  int64_t Size() { return GetSize(); }
  int64_t Position() { return GetPosition(); }
  void FlushFileBuffers();  // failure 30379

  // ---- byte locks (never raise for a refused lock, never wait) ----
  // Count <= 0, a negative offset or a region reaching kShareLockBase answer false.
  bool LockByte(int64_t Offset, int64_t Count);
  bool UnlockByte(int64_t Offset, int64_t Count);
  // True when a lock on the byte / region would be refused: held by another open of the file,
  // or overlapping a lock of this object. Never changes any lock.
  bool IsByteLocked(int64_t Offset);
  bool IsRegionLocked(int64_t Offset, int64_t Count);
  // True when another open of the file (in any process, or through another object of this
  // one) has it open: every open holds the reading marker. REQUIRES an open file (30376).
  bool OpenedElsewhere();

  // Locates the database header by its signature ("VAULTR1XDATABASE" followed by the SmallInt
  // 76): offset 0 when it is there, else the first such place in the file. The file position is
  // kept. REQUIRES an open file.
  bool FindSignature(int64_t& Offset);

  // ---- recovery and design mode ----
  // When the handle can still answer its size: true, nothing done. Otherwise closes it and opens
  // the file again by name with the remembered modes, up to 3 attempts ReopenDelayMS apart;
  // answers whether the file is open afterwards.
  bool ReopenDatabaseFile();
  // Nested open/close used when the page manager runs in design mode.
  void OpenFileForDesignTime();
  void CloseFileForDesignTime();

  // ---- whole-file operations ----
  static bool FileExists(const std::string& FileName);
  // The read-only attribute: no write permission bit set, or a read-only file system.
  static bool IsFileReadOnly(const std::string& FileName);
  // Write probe: false for a read-only file, a file that cannot be opened for reading and writing
  // (sharing reading and writing when MultiUser, else writing only), or whose first byte cannot
  // be written back unchanged. An empty file is writable when the open succeeds (nothing is
  // written to it).
  static bool IsFileWritable(const std::string& FileName, bool MultiUser);
  // Refused while the file is open anywhere. Failure: 30362.
  static void DeleteFile(const std::string& FileName);
  // Never replaces an existing NewFileName; refused while OldFileName is open anywhere.
  // Failure: 30378.
  static void RenameFile(const std::string& OldFileName, const std::string& NewFileName);

  // Process-wide; nullptr (the default) removes it. The injector must outlive its use.
  static void SetFaultInjector(TVLTFileFaultInjector* Injector);

  // ---- properties ----
  const std::string& FileName() const { return FFileName; }
  bool IsOpened() const { return FIsOpened; }
  TVLTAccessMode AccessMode() const { return FAccessMode; }
  TVLTShareMode ShareMode() const { return FShareMode; }
  uint32_t AttrFlags() const { return FAttrFlags; }
  int Handle() const { return FHandle; }
  bool WasCriticalError() const { return FWasCriticalError; }
  int32_t DesignOpenCount() const { return FDesignOpenCount; }
  // Set by the owner from the process-wide design-mode flag: a failing unlock then reports
  // success.
  bool DesignMode() const { return FDesignMode; }
  void SetDesignMode(bool Value) { FDesignMode = Value; }
  // Pause between reopen attempts (1000 ms; tests shorten it).
  int ReopenDelayMS() const { return FReopenDelayMS; }
  void SetReopenDelayMS(int Value) { FReopenDelayMS = Value; }

 private:
  void CheckOpened(const char* Operation) const;
  void CheckClosed(const char* Operation) const;
  // Opens FFileName with the remembered modes; answers the descriptor or -1 with errno set.
  int OpenHandle(int& Error);
  void CloseHandle();
  // errno of the last failing call, or why the last reopen failed when there is no handle.
  int HandleError() const;
  bool TryRead(void* Buffer, size_t Count, int64_t Position, int& Error);
  bool TryWrite(const void* Buffer, size_t Count, int64_t Position, int& Error);
  // Moves the descriptor to where the last positioned read or write ended, as a seek followed
  // by that transfer would have left it.
  void ApplyPendingPosition();
  bool TryLock(int64_t Offset, int64_t Count);
  bool TryUnlock(int64_t Offset, int64_t Count);
  bool OverlapsOwnLock(int64_t Offset, int64_t Count) const;
  bool RegionIsValid(int64_t Offset, int64_t Count) const;
  int64_t SizeForMessage();
  int64_t PositionForMessage();

  std::string FFileName;
  TVLTAccessMode FAccessMode = amReadWrite;
  TVLTShareMode FShareMode = smExclusive;
  uint32_t FAttrFlags = kDefaultAttrFlags;
  int FHandle = -1;
  int64_t FPendingPosition = -1;  // where the last read/write ended; -1: the descriptor knows
  bool FIsOpened = false;
  int32_t FDesignOpenCount = 0;
  bool FWasCriticalError = false;
  bool FDesignMode = false;
  int FReopenDelayMS = 1000;
  int FReopenError = 0;  // errno of the last failed reopen
  std::map<int64_t, int64_t> FOwnLocks;  // offset -> count of the locks this open holds
};

}  // namespace vlt
