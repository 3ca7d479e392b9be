// Table lock types and the locks file of one table.
//
// Compatibility (1 = a session may take the column type while another session holds the row
// type; symmetric):
//
//   held \ wanted  IS  S  SIRW XIRW RW  U  X
//   ltIS            1  1   1    1   1   1  0
//   ltS             1  1   1    1   0   1  0
//   ltSIRW          1  1   1    0   1   1  0
//   ltXIRW          1  1   0    0   0   1  0
//   ltRW            1  0   1    0   0   1  0
//   ltU             1  1   1    1   1   1  0
//   ltX             0  0   0    0   0   0  0
//
// Type a is at least as strong as type b when every type compatible with a is also compatible
// with b. ltU marks record locks: a session that locks a record of a table holds ltU on it.
//
// TVLTTableLocksFile: a direct-access internal file of page type ptTableLocks with 12 x N
// content bytes, N = the database's MaxSessionCount when the table was created. Only the locks
// on its bytes matter, except the record slots, which are written when a record lock is taken
// and read by other sessions:
//
//   CONTENT POSITION    SIZE CONTENT
//   t * N + s           1    lock byte of type t (0..5) held by session s; t = 5 (ltU) is
//                            also session s's record-lock byte
//   6 * N + 6 * s       6    record slot of session s: TVLTPageItemID (PageNo Int32,
//                            PageItemNo Word) of the record it locked last
//
// ltX has no byte: a session holds ltX by keeping the locks file's own lock (byte 0 of the start
// page) for as long as it holds ltX. Every test-and-set of the lock bytes is made by the lock
// manager while it holds that file lock, so test and set are atomic between processes.
#pragma once

#include <cstdint>

#include "engine/disk/VLTInternalFile.h"

namespace vlt {

constexpr int kLockTypeCount = 7;
constexpr int32_t kTableLocksBytesPerSession = 12;

// Whether a session may take Wanted while another session holds Held.
bool IsLockCompatible(TVLTLockType Held, TVLTLockType Wanted);
// Whether A is at least as strong as B.
bool IsLockAtLeastAsStrong(TVLTLockType A, TVLTLockType B);
// "ltIS" ... "ltX".
const char* LockTypeName(TVLTLockType T);

class TVLTTableLocksFile {
 public:
  explicit TVLTTableLocksFile(TVLTDiskPageManager* PageManager);

  // Creates the file for aMaxSessionCount sessions (through session -2) and returns its start
  // page; the file stays open.
  TVLTPageNo CreateFile(int32_t aMaxSessionCount);
  // N = the stored size div 12.
  void OpenFile(TVLTPageNo aStartPageNo);
  void CloseFile();
  // Removes its pages through session -2.
  void DeleteFile();

  // Lock or unlock byte LockType * N + SessionID; ltX answers false without doing anything.
  // 20200 for a session id outside 0 .. N - 1.
  bool LockTable(TVLTSessionID SessionID, TVLTLockType LockType);
  bool UnlockTable(TVLTSessionID SessionID, TVLTLockType LockType);
  // Whether any other session holds the byte of LockType (false for ltX).
  bool IsTableLockedByAnyOtherSession(TVLTSessionID SessionID, TVLTLockType LockType);
  // True when every type another session holds is compatible with LockType, or is ltSIRW
  // while LockType is ltXIRW and AllowXIRWAfterSIRW is set.
  bool IsTableLockAllowed(TVLTSessionID SessionID, TVLTLockType LockType,
                          bool AllowXIRWAfterSIRW);
  // Locks the session's record-lock byte and, when that worked, writes RecordID into its slot.
  bool LockRecord(TVLTSessionID SessionID, const TVLTPageItemID& RecordID);
  // Unlocks the byte (the slot keeps its value).
  bool UnlockRecord(TVLTSessionID SessionID, const TVLTPageItemID& RecordID);
  // True when another session whose record-lock byte is locked has RecordID in its slot.
  bool IsRecordLockedByAnyOtherSession(TVLTSessionID SessionID, const TVLTPageItemID& RecordID);
  // The file lock (byte 0 of the start page).
  bool LockFile();
  bool UnlockFile();

  int32_t MaxSessionCount() const { return FMaxSessionCount; }
  TVLTPageNo StartPageNo() const;  // 10483 when closed
  bool IsOpen() const { return FHandle.StartPageNo() != kNoPage; }
  TVLTInternalDBDirectAccessFile& Handle() { return FHandle; }

 private:
  void CheckOpen(int32_t Code) const;
  void CheckSession(TVLTSessionID SessionID) const;

  TVLTDiskPageManager* LPageManager;
  TVLTInternalDBDirectAccessFile FHandle;
  int32_t FMaxSessionCount = 0;
};

}  // namespace vlt
