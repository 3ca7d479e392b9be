#include "engine/disk/VLTTableLocks.h"

#include "engine/base/VLTErrorCodes.h"
#include "engine/base/VLTExcept.h"
#include "engine/core/VLTPageHeader.h"

namespace vlt {

namespace {

// kCompatible[held][wanted]
constexpr bool kCompatible[kLockTypeCount][kLockTypeCount] = {
    {1, 1, 1, 1, 1, 1, 0},  // ltIS
    {1, 1, 1, 1, 0, 1, 0},  // ltS
    {1, 1, 1, 0, 1, 1, 0},  // ltSIRW
    {1, 1, 0, 0, 0, 1, 0},  // ltXIRW
    {1, 0, 1, 0, 0, 1, 0},  // ltRW
    {1, 1, 1, 1, 1, 1, 0},  // ltU
    {0, 0, 0, 0, 0, 0, 0},  // ltX
};

constexpr const char* kLockTypeNames[kLockTypeCount] = {"ltIS", "ltS",  "ltSIRW", "ltXIRW",
                                                        "ltRW", "ltU", "ltX"};

}  // namespace

bool IsLockCompatible(TVLTLockType Held, TVLTLockType Wanted) {
  return Held < kLockTypeCount && Wanted < kLockTypeCount && kCompatible[Held][Wanted];
}

bool IsLockAtLeastAsStrong(TVLTLockType A, TVLTLockType B) {
  for (int T = 0; T < kLockTypeCount; ++T)
    if (kCompatible[A][T] && !kCompatible[B][T]) return false;
  return true;
}

const char* LockTypeName(TVLTLockType T) {
  return T < kLockTypeCount ? kLockTypeNames[T] : "lt?";
}

TVLTTableLocksFile::TVLTTableLocksFile(TVLTDiskPageManager* PageManager)
    : LPageManager(PageManager), FHandle(PageManager, ptTableLocks) {}

TVLTPageNo TVLTTableLocksFile::CreateFile(int32_t aMaxSessionCount) {
  FHandle.CreateFile(kTableLocksBytesPerSession * aMaxSessionCount);
  FMaxSessionCount = aMaxSessionCount;
  return FHandle.StartPageNo();
}

void TVLTTableLocksFile::OpenFile(TVLTPageNo aStartPageNo) {
  FHandle.OpenFile(aStartPageNo);
  // The stored size, not the usable size of a one-page file: every process and the creator
  // must compute the same byte positions.
  FMaxSessionCount = FHandle.StoredSize() / kTableLocksBytesPerSession;
}

void TVLTTableLocksFile::CloseFile() {
  FHandle.CloseFile();
  FMaxSessionCount = 0;
}

void TVLTTableLocksFile::DeleteFile() {
  FHandle.DeleteFile();
  FMaxSessionCount = 0;
}

TVLTPageNo TVLTTableLocksFile::StartPageNo() const {
  CheckOpen(kErrLocksFileClosedStartPageNo);
  return FHandle.StartPageNo();
}

void TVLTTableLocksFile::CheckOpen(int32_t Code) const {
  if (FHandle.StartPageNo() == kNoPage) VLTRaiseNilPointer(Code);
}

void TVLTTableLocksFile::CheckSession(TVLTSessionID SessionID) const {
  if (SessionID < 0 || SessionID >= FMaxSessionCount)
    throw EVLTException(kErrCannotSetTableLockInListOf,
                        "Cannot set table lock. Try to repair the database or increase number of "
                        "allowed connections");
}

bool TVLTTableLocksFile::LockTable(TVLTSessionID SessionID, TVLTLockType LockType) {
  CheckOpen(kErrLocksFileClosedLockTable);
  if (LockType == ltX) return false;
  CheckSession(SessionID);
  return FHandle.LockByte(LockType * FMaxSessionCount + SessionID);
}

bool TVLTTableLocksFile::UnlockTable(TVLTSessionID SessionID, TVLTLockType LockType) {
  CheckOpen(kErrLocksFileClosedUnlockTable);
  if (LockType == ltX) return false;
  CheckSession(SessionID);
  return FHandle.UnlockByte(LockType * FMaxSessionCount + SessionID);
}

bool TVLTTableLocksFile::IsTableLockedByAnyOtherSession(TVLTSessionID SessionID,
                                                        TVLTLockType LockType) {
  CheckOpen(kErrLocksFileClosedIsTableLocked);
  if (LockType == ltX) return false;
  CheckSession(SessionID);
  const int32_t Base = LockType * FMaxSessionCount;
  return FHandle.IsRegionLocked(Base, SessionID) ||
         FHandle.IsRegionLocked(Base + SessionID + 1, FMaxSessionCount - SessionID - 1);
}

bool TVLTTableLocksFile::IsTableLockAllowed(TVLTSessionID SessionID, TVLTLockType LockType,
                                            bool AllowXIRWAfterSIRW) {
  for (int T = ltIS; T < ltX; ++T) {
    const auto Held = static_cast<TVLTLockType>(T);
    if (IsLockCompatible(Held, LockType)) continue;
    if (AllowXIRWAfterSIRW && LockType == ltXIRW && Held == ltSIRW) continue;
    if (IsTableLockedByAnyOtherSession(SessionID, Held)) return false;
  }
  return true;
}

bool TVLTTableLocksFile::LockRecord(TVLTSessionID SessionID, const TVLTPageItemID& RecordID) {
  CheckOpen(kErrLocksFileClosedLockRecord);
  CheckSession(SessionID);
  if (!FHandle.LockByte(ltU * FMaxSessionCount + SessionID)) return false;
  uint8_t Slot[TVLTPageItemID::kStoredSize];
  RecordID.SaveTo(Slot);
  try {
    FHandle.WriteBuffer(Slot, sizeof Slot, 6 * FMaxSessionCount + 6 * SessionID);
  } catch (...) {
    // Without its slot the byte would block whatever record the slot named before.
    FHandle.UnlockByte(ltU * FMaxSessionCount + SessionID);
    throw;
  }
  return true;
}

bool TVLTTableLocksFile::UnlockRecord(TVLTSessionID SessionID, const TVLTPageItemID&) {
  CheckOpen(kErrLocksFileClosedUnlockRecord);
  CheckSession(SessionID);
  return FHandle.UnlockByte(ltU * FMaxSessionCount + SessionID);
}

bool TVLTTableLocksFile::IsRecordLockedByAnyOtherSession(TVLTSessionID SessionID,
                                                         const TVLTPageItemID& RecordID) {
  CheckOpen(kErrLocksFileClosedIsRecordLocked);
  if (!IsTableLockedByAnyOtherSession(SessionID, ltU)) return false;
  for (int32_t S = 0; S < FMaxSessionCount; ++S) {
    if (S == SessionID || !FHandle.IsByteLocked(ltU * FMaxSessionCount + S)) continue;
    uint8_t Slot[TVLTPageItemID::kStoredSize];
    FHandle.ReadBuffer(Slot, sizeof Slot, 6 * FMaxSessionCount + 6 * S);
    if (TVLTPageItemID::LoadFrom(Slot) == RecordID) return true;
  }
  return false;
}

bool TVLTTableLocksFile::LockFile() { return FHandle.LockFile(); }
bool TVLTTableLocksFile::UnlockFile() { return FHandle.UnlockFile(); }

}  // namespace vlt
