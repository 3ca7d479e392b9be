// TVLTActiveSessionsFile: the session slots of a database. A direct-access internal file of page
// type ptActiveSessionList whose size N is the maximum number of connections (MaxSessionCount).
// Content byte i is the slot of session id i. Its value is never written: a process holds
// session id i exactly while it holds a byte-range lock on that byte's lock position, so the
// slots of a crashed process free themselves.
//
// Every connect, disconnect and count runs under the sessions-file lock (byte 0 of the file's
// start page), taken with up to LockRetryCount tries LockRetryDelayMS apart (4500 x 20 ms), so
// that the test of the slots and the taking of them is atomic between processes.
//
// Modes:
//   multi-user   each session takes the lowest free slot; its slot number is its session id.
//   single-user  the first session of a process takes all slots when none is taken by anybody;
//                every session of that process is session 0.
#pragma once

#include <cstdint>

#include "engine/disk/VLTInternalFile.h"

namespace vlt {

class TVLTActiveSessionsFile {
 public:
  explicit TVLTActiveSessionsFile(TVLTDiskPageManager* PageManager);

  // Creates the file with aMaxSessionCount slots (through session -2) and returns its start page.
  TVLTPageNo CreateFile(int32_t aMaxSessionCount);
  // MaxSessionCount = the stored size, or the file's usable size when that is smaller.
  void OpenFile(TVLTPageNo aStartPageNo);
  void CloseFile();

  // The lowest slot that can be locked; 0 at once when the database is not multi-user.
  // 20094 when every slot is taken.
  int32_t MultiUserConnect();
  // Releases the slot; 20095 when it cannot be released.
  void MultiUserDisconnect(TVLTSessionID SessionID);
  // When no slot is locked by anybody, locks them all and answers true; otherwise false.
  bool SingleUserConnect();
  void SingleUserDisconnect();
  // Slots locked right now (by this process and others).
  int32_t GetDBFileConnectionsCount();
  // Whether one slot is locked right now (by this process or another).
  bool IsSlotLocked(int32_t SlotNo);

  TVLTPageNo StartPageNo() const { return FHandle.StartPageNo(); }
  int32_t MaxSessionCount() const { return FMaxSessionCount; }
  void SetLockRetry(int32_t Count, int32_t DelayMS) {
    FLockRetryCount = Count;
    FLockRetryDelayMS = DelayMS;
  }

 private:
  // Takes the sessions-file lock with retries; raises FailCode when it cannot be taken.
  void LockSessionsFile(int32_t FailCode);
  // Releases it; raises FailCode ("Cannot unlock sessions file") when that fails.
  void UnlockSessionsFile(int32_t FailCode);

  TVLTDiskPageManager* LPageManager;
  TVLTInternalDBDirectAccessFile FHandle;
  int32_t FMaxSessionCount = 0;
  int32_t FLockRetryCount = 4500;
  int32_t FLockRetryDelayMS = 20;
};

}  // namespace vlt
