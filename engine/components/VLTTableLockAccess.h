// TVLTTableLockAccess: the table and record locks of one table of a database file, as a cursor
// takes them in multi-user mode. The table data of a database file provides it (the cursor
// asks its table data for this interface); table data without one (in-memory and temporary
// tables) are never locked.
//
// TVLTLockManagerTableLocks implements it over the database's lock manager and the table's
// locks file; TVLTDiskTableLocks over a table of a database file (which also keeps its page
// cache informed of the locks).
#pragma once

#include <cstdint>

#include "engine/base/VLTTypes.h"

namespace vlt {

class TVLTDatabaseTableLockManager;
class TVLTDiskTableData;
class TVLTTableLocksFile;

class TVLTTableLockAccess {
 public:
  virtual ~TVLTTableLockAccess() = default;
  // Up to TryCount tries, about DelayMS apart; false when the lock was not obtained.
  virtual bool LockTable(TVLTSessionID SessionID, TVLTLockType LockType, int32_t TryCount,
                         int32_t DelayMS, bool AllowXIRWAfterSIRW) = 0;
  virtual bool UnlockTable(TVLTSessionID SessionID, TVLTLockType LockType,
                           bool IgnoreIfNoLock) = 0;
  virtual bool LockRecord(TVLTSessionID SessionID, const TVLTPageItemID& RecordID,
                          int32_t TryCount, int32_t DelayMS) = 0;
  virtual bool UnlockRecord(TVLTSessionID SessionID, const TVLTPageItemID& RecordID) = 0;
  virtual bool IsRecordLocked(TVLTSessionID SessionID, const TVLTPageItemID& RecordID) = 0;
};

class TVLTLockManagerTableLocks : public TVLTTableLockAccess {
 public:
  TVLTLockManagerTableLocks(TVLTDatabaseTableLockManager* LockManager,
                            TVLTTableLocksFile* LocksFile)
      : FLockManager(LockManager), FLocksFile(LocksFile) {}

  bool LockTable(TVLTSessionID SessionID, TVLTLockType LockType, int32_t TryCount,
                 int32_t DelayMS, bool AllowXIRWAfterSIRW) override;
  bool UnlockTable(TVLTSessionID SessionID, TVLTLockType LockType, bool IgnoreIfNoLock) override;
  bool LockRecord(TVLTSessionID SessionID, const TVLTPageItemID& RecordID, int32_t TryCount,
                  int32_t DelayMS) override;
  bool UnlockRecord(TVLTSessionID SessionID, const TVLTPageItemID& RecordID) override;
  bool IsRecordLocked(TVLTSessionID SessionID, const TVLTPageItemID& RecordID) override;

 private:
  TVLTDatabaseTableLockManager* FLockManager;  // not owned
  TVLTTableLocksFile* FLocksFile;              // not owned
};

// Over a table of a database file: every request goes to the table data, the XIRW-after-SIRW
// allowance included.
class TVLTDiskTableLocks : public TVLTTableLockAccess {
 public:
  explicit TVLTDiskTableLocks(TVLTDiskTableData* Table) : FTable(Table) {}

  bool LockTable(TVLTSessionID SessionID, TVLTLockType LockType, int32_t TryCount,
                 int32_t DelayMS, bool AllowXIRWAfterSIRW) override;
  // IgnoreIfNoLock: a lock the session does not hold is no error.
  bool UnlockTable(TVLTSessionID SessionID, TVLTLockType LockType, bool IgnoreIfNoLock) override;
  bool LockRecord(TVLTSessionID SessionID, const TVLTPageItemID& RecordID, int32_t TryCount,
                  int32_t DelayMS) override;
  bool UnlockRecord(TVLTSessionID SessionID, const TVLTPageItemID& RecordID) override;
  bool IsRecordLocked(TVLTSessionID SessionID, const TVLTPageItemID& RecordID) override;

 private:
  TVLTDiskTableData* FTable;  // not owned
};

}  // namespace vlt
