// Table and record locks of the sessions of one process on one database.
//
// TVLTDatabaseTableLockManager keeps, per session id, the list of locks the session holds
// (TVLTTableLockList), counts repeated requests, grants a request without touching the file when
// the session already holds a stronger lock on the same table, and takes and releases the
// physical locks on the tables' locks files (TVLTTableLocksFile) with retries. Locking is
// skipped altogether when the database was opened exclusively.
//
// Invariants:
//   1. An entry with HasPhysicalLock holds exactly one lock in the file: the byte of its type
//      for the session (ltU: the record-lock byte), or for ltX the locks file's own lock.
//   2. A session's entries other than ltU differ in (LockType, LocksFilePageNo); LockCount >= 1.
//   3. When a physical entry goes away while weaker non-physical entries of the same table
//      remain, their bytes are locked first, so the session never loses protection.
//   4. All bookkeeping happens under FCSect. A lock request from outside leaves it while
//      sleeping between tries, so that other sessions of the process can release their locks
//      meanwhile; the commit-time requests (AddRWLocksBeforeCommit, ClearTransactionLocks)
//      keep it for their whole run, sleeps included (their inner LockTable calls pass
//      NoThreadLock because FCSect is held already).
// CheckInvariants verifies 1 (for the lock bytes; an ltX entry's file lock is not probed), 2 and
// 3 as a state: every entry without a physical lock has, on the same table, an entry at least as
// strong that has one.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "engine/disk/VLTTableLocks.h"

namespace vlt {

struct TVLTTableLockEntry {
  TVLTLockType LockType = ltIS;
  TVLTPageNo LocksFilePageNo = kNoPage;  // identifies the table
  int32_t LockCount = 0;                 // grants not yet released
  bool HasPhysicalLock = false;
  bool IsXIRWAfterSIRWAllowed = false;
};

class TVLTTableLockList {
 public:
  // An entry of the same type and table is counted up (its flags stay); otherwise a new entry.
  void AddLock(TVLTLockType LockType, TVLTPageNo LocksFilePageNo, bool HasPhysicalLock,
               bool IsXIRWAfterSIRWAllowed);
  // 20202 when there is no such entry. Counts down; when the count reaches 0 (or IgnoreCount)
  // removes the entry and reports its HasPhysicalLock (and the entry in Removed); otherwise
  // reports false.
  void RemoveLock(TVLTLockType LockType, TVLTPageNo LocksFilePageNo, bool& HasPhysicalLock,
                  bool IgnoreCount, TVLTTableLockEntry* Removed = nullptr);
  bool LockExists(TVLTLockType LockType, TVLTPageNo LocksFilePageNo) const;
  bool LockExists(TVLTLockType LockType, TVLTPageNo LocksFilePageNo,
                  bool IsXIRWAfterSIRWAllowed) const;
  // Whether an entry of another type on the same table is at least as strong as LockType.
  bool StrongerLockExists(TVLTLockType LockType, TVLTPageNo LocksFilePageNo) const;
  void SetPhysicalLock(int32_t ItemNo);
  // LockType is at least as strong as the entry's type and the entry has no physical lock.
  bool IsWeakerNonPhysicalLock(int32_t ItemNo, TVLTLockType LockType) const;
  // 20201 "Some table locks still exist" when entries remain.
  void CheckEmpty() const;
  // Invariants 2 and 3 of the list; raises 20981 at the first violation.
  void CheckInvariants() const;

  int32_t Count() const { return static_cast<int32_t>(FLockList.size()); }
  const TVLTTableLockEntry& Items(int32_t I) const { return FLockList[static_cast<size_t>(I)]; }

 private:
  int32_t Find(TVLTLockType LockType, TVLTPageNo LocksFilePageNo) const;

  std::vector<TVLTTableLockEntry> FLockList;
};

class TVLTDatabaseTableLockManager {
 public:
  TVLTDatabaseTableLockManager(int32_t MaxSessionCount, TVLTDiskPageManager* PageManager);
  // Frees the lists without raising; owners call CheckNoLocks first where they can report.
  ~TVLTDatabaseTableLockManager();

  // Up to aTryCount tries; after a failed try sleeps aDelayMS / 2 plus a random part below
  // aDelayMS / 2. A second ltSIRW of the same session on the same table answers false.
  bool LockTable(TVLTSessionID SessionID, TVLTLockType LockType, TVLTTableLocksFile& TableLocksFile,
                 int32_t aTryCount, int32_t aDelayMS, bool NoThreadLock = false,
                 bool AllowXIRWAfterSIRW = false);
  bool UnlockTable(TVLTSessionID SessionID, TVLTLockType LockType,
                   TVLTTableLocksFile& TableLocksFile, bool IgnoreIfNoLock = false,
                   bool IgnoreCount = false);
  // A session locks at most one record per table at a time (a second answers false).
  bool LockRecord(TVLTSessionID SessionID, TVLTTableLocksFile& TableLocksFile,
                  const TVLTPageItemID& RecordID, int32_t aTryCount, int32_t aDelayMS);
  bool UnlockRecord(TVLTSessionID SessionID, TVLTTableLocksFile& TableLocksFile,
                    const TVLTPageItemID& RecordID);
  bool IsRecordLocked(TVLTSessionID SessionID, TVLTTableLocksFile& TableLocksFile,
                      const TVLTPageItemID& RecordID);
  // Before a multi-user commit: ltRW on every table the session holds ltXIRW on. On a failure
  // every ltRW entry of the session is released again (20234 when one remains).
  bool AddRWLocksBeforeCommit(TVLTSessionID SessionID);
  // After a multi-user commit or on rollback: ltSIRW on the tables with record locks, then
  // every ltXIRW and ltRW entry released.
  bool ClearTransactionLocks(TVLTSessionID SessionID);

  bool HasLocks() const;
  void CheckNoLocks() const;  // 20201 when a session still holds locks
  const TVLTTableLockList& SessionLocks(TVLTSessionID SessionID) const;
  // Verifies the invariants above for every session, reading the lock bytes of the tables that
  // hold physical locks; raises 20981 at the first violation. A debug aid for tests and tools.
  void CheckInvariants();
  int32_t MaxSessionCount() const { return FMaxSessionCount; }

  // Release retries (4500 x 20 ms) and the commit-time lock tries (900 x 100 ms); tests shorten
  // them.
  void SetUnlockRetry(int32_t Count, int32_t DelayMS) {
    FUnlockRetryCount = Count;
    FUnlockRetryDelayMS = DelayMS;
  }
  void SetTransactionLockRetry(int32_t Count, int32_t DelayMS) {
    FTransactionTryCount = Count;
    FTransactionDelayMS = DelayMS;
  }

 private:
  TVLTTableLockList& ListOf(TVLTSessionID SessionID);
  bool Exclusive() const;
  // Sleeps DelayMS, leaving FCSect meanwhile unless NoThreadLock (the caller holds FCSect and
  // keeps it).
  void Pause(int32_t DelayMS, bool NoThreadLock);
  // Takes the locks file lock with the release retries; false when it cannot be taken.
  bool LockFileForRelease(TVLTTableLocksFile& File, bool NoThreadLock);

  std::vector<std::unique_ptr<TVLTTableLockList>> FSessionLockList;
  int32_t FMaxSessionCount;
  std::recursive_mutex FCSect;
  TVLTDiskPageManager* LPageManager;
  int32_t FUnlockRetryCount = 4500;
  int32_t FUnlockRetryDelayMS = 20;
  int32_t FTransactionTryCount = 900;
  int32_t FTransactionDelayMS = 100;
};

}  // namespace vlt
