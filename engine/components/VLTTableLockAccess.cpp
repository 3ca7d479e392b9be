#include "engine/components/VLTTableLockAccess.h"

#include "engine/base/VLTExcept.h"
#include "engine/disk/VLTDiskTableData.h"
#include "engine/disk/VLTTableLockManager.h"

namespace vlt {

bool TVLTLockManagerTableLocks::LockTable(TVLTSessionID SessionID, TVLTLockType LockType,
                                          int32_t TryCount, int32_t DelayMS,
                                          bool AllowXIRWAfterSIRW) {
  if (!FLockManager || !FLocksFile) VLTRaiseNilPointer(20464);
  return FLockManager->LockTable(SessionID, LockType, *FLocksFile, TryCount, DelayMS, false,
                                 AllowXIRWAfterSIRW);
}

bool TVLTLockManagerTableLocks::UnlockTable(TVLTSessionID SessionID, TVLTLockType LockType,
                                            bool IgnoreIfNoLock) {
  if (!FLockManager || !FLocksFile) VLTRaiseNilPointer(20465);
  return FLockManager->UnlockTable(SessionID, LockType, *FLocksFile, IgnoreIfNoLock);
}

bool TVLTLockManagerTableLocks::LockRecord(TVLTSessionID SessionID, const TVLTPageItemID& RecordID,
                                           int32_t TryCount, int32_t DelayMS) {
  if (!FLockManager || !FLocksFile) VLTRaiseNilPointer(20466);
  return FLockManager->LockRecord(SessionID, *FLocksFile, RecordID, TryCount, DelayMS);
}

bool TVLTLockManagerTableLocks::UnlockRecord(TVLTSessionID SessionID,
                                             const TVLTPageItemID& RecordID) {
  if (!FLockManager || !FLocksFile) VLTRaiseNilPointer(20467);
  return FLockManager->UnlockRecord(SessionID, *FLocksFile, RecordID);
}

bool TVLTLockManagerTableLocks::IsRecordLocked(TVLTSessionID SessionID,
                                               const TVLTPageItemID& RecordID) {
  if (!FLockManager || !FLocksFile) VLTRaiseNilPointer(20468);
  return FLockManager->IsRecordLocked(SessionID, *FLocksFile, RecordID);
}

bool TVLTDiskTableLocks::LockTable(TVLTSessionID SessionID, TVLTLockType LockType,
                                   int32_t TryCount, int32_t DelayMS, bool AllowXIRWAfterSIRW) {
  return FTable->LockTable(SessionID, LockType, TryCount, DelayMS, AllowXIRWAfterSIRW);
}

bool TVLTDiskTableLocks::UnlockTable(TVLTSessionID SessionID, TVLTLockType LockType,
                                     bool IgnoreIfNoLock) {
  if (!IgnoreIfNoLock) return FTable->UnlockTable(SessionID, LockType);
  try {
    return FTable->UnlockTable(SessionID, LockType);
  } catch (const EVLTException&) {
    return true;
  }
}

bool TVLTDiskTableLocks::LockRecord(TVLTSessionID SessionID, const TVLTPageItemID& RecordID,
                                    int32_t TryCount, int32_t DelayMS) {
  return FTable->LockRecord(SessionID, RecordID, TryCount, DelayMS);
}

bool TVLTDiskTableLocks::UnlockRecord(TVLTSessionID SessionID, const TVLTPageItemID& RecordID) {
  return FTable->UnlockRecord(SessionID, RecordID);
}

bool TVLTDiskTableLocks::IsRecordLocked(TVLTSessionID SessionID, const TVLTPageItemID& RecordID) {
  return FTable->IsRecordLocked(SessionID, RecordID);
}

}  // namespace vlt
