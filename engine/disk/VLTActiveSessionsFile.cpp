#include "engine/disk/VLTActiveSessionsFile.h"

#include <algorithm>
#include <chrono>
#include <thread>

#include "engine/base/VLTErrorCodes.h"
#include "engine/base/VLTExcept.h"
#include "engine/core/VLTPageHeader.h"
#include "engine/disk/VLTDiskPageManager.h"

namespace vlt {

namespace {

// Codes of the sites that fail to take the sessions-file lock.

// Releases the sessions-file lock when an operation fails before its own release.
class TUnlockOnError {
 public:
  explicit TUnlockOnError(TVLTInternalDBDirectAccessFile& F) : FFile(F) {}
  ~TUnlockOnError() {
    if (FArmed) FFile.UnlockFile();
  }
  void Disarm() { FArmed = false; }

 private:
  TVLTInternalDBDirectAccessFile& FFile;
  bool FArmed = true;
};

}  // namespace

TVLTActiveSessionsFile::TVLTActiveSessionsFile(TVLTDiskPageManager* PageManager)
    : LPageManager(PageManager), FHandle(PageManager, ptActiveSessionList) {}

TVLTPageNo TVLTActiveSessionsFile::CreateFile(int32_t aMaxSessionCount) {
  FHandle.CreateFile(aMaxSessionCount);
  FMaxSessionCount = aMaxSessionCount;
  return FHandle.StartPageNo();
}

void TVLTActiveSessionsFile::OpenFile(TVLTPageNo aStartPageNo) {
  FHandle.OpenFile(aStartPageNo);
  FMaxSessionCount = std::min(FHandle.StoredSize(), FHandle.GetSize());
}

void TVLTActiveSessionsFile::CloseFile() {
  FHandle.CloseFile();
  FMaxSessionCount = 0;
}

void TVLTActiveSessionsFile::LockSessionsFile(int32_t FailCode) {
  for (int32_t I = 0; I < FLockRetryCount; ++I) {
    if (FHandle.LockFile()) return;
    if (I + 1 < FLockRetryCount)
      std::this_thread::sleep_for(std::chrono::milliseconds(FLockRetryDelayMS));
  }
  throw EVLTException(FailCode, "Cannot lock sessions file");
}

void TVLTActiveSessionsFile::UnlockSessionsFile(int32_t FailCode) {
  if (!FHandle.UnlockFile()) throw EVLTException(FailCode, "Cannot unlock sessions file");
}

int32_t TVLTActiveSessionsFile::MultiUserConnect() {
  if (!LPageManager->MultiUser()) return 0;
  LockSessionsFile(kErrSessionsLockMultiConnect);
  TUnlockOnError Guard(FHandle);
  int32_t SessionID = kNoSessionID;
  for (int32_t I = 0; I < FMaxSessionCount && SessionID == kNoSessionID; ++I)
    if (FHandle.LockByte(I)) SessionID = I;
  Guard.Disarm();
  if (!FHandle.UnlockFile()) {
    if (SessionID != kNoSessionID) FHandle.UnlockByte(SessionID);
    throw EVLTException(kErrCannotUnlockSessionsFileInMultiUserConnect,
                        "Cannot unlock sessions file");
  }
  if (SessionID == kNoSessionID)
    throw EVLTException(kErrCannotConnectSessionMaximum,
                        "Cannot connect session. Maximum connections quantity exceeded or "
                        "database is open in single-user mode");
  return SessionID;
}

void TVLTActiveSessionsFile::MultiUserDisconnect(TVLTSessionID SessionID) {
  if (!LPageManager->MultiUser()) return;
  LockSessionsFile(kErrSessionsLockMultiDisconnect);
  TUnlockOnError Guard(FHandle);
  const bool Released = FHandle.UnlockByte(SessionID);
  Guard.Disarm();
  UnlockSessionsFile(kErrSessionsUnlockMultiDisconnect);
  if (!Released) throw EVLTException(kErrCannotDisconnectSession, "Cannot disconnect session");
}

bool TVLTActiveSessionsFile::SingleUserConnect() {
  LockSessionsFile(kErrSessionsLockSingleConnect);
  TUnlockOnError Guard(FHandle);
  bool Connected = false;
  if (FMaxSessionCount > 0 && !FHandle.IsRegionLocked(0, FMaxSessionCount)) {
    int32_t Taken = 0;
    while (Taken < FMaxSessionCount && FHandle.LockByte(Taken)) ++Taken;
    Connected = Taken == FMaxSessionCount;
    if (!Connected)  // somebody came between the test and the lock: give back what we took
      while (Taken > 0) FHandle.UnlockByte(--Taken);
  }
  Guard.Disarm();
  if (!FHandle.UnlockFile()) {
    if (Connected)
      for (int32_t I = 0; I < FMaxSessionCount; ++I) FHandle.UnlockByte(I);
    throw EVLTException(kErrCannotUnlockSessionsFileInSingleUserConnect,
                        "Cannot unlock sessions file");
  }
  return Connected;
}

void TVLTActiveSessionsFile::SingleUserDisconnect() {
  LockSessionsFile(kErrSessionsLockSingleDisconnect);
  TUnlockOnError Guard(FHandle);
  for (int32_t I = 0; I < FMaxSessionCount; ++I) FHandle.UnlockByte(I);
  Guard.Disarm();
  UnlockSessionsFile(kErrSessionsUnlockSingleDisconnect);
}

int32_t TVLTActiveSessionsFile::GetDBFileConnectionsCount() {
  LockSessionsFile(kErrSessionsLockCount);
  TUnlockOnError Guard(FHandle);
  int32_t Count = 0;
  for (int32_t I = 0; I < FMaxSessionCount; ++I)
    if (FHandle.IsByteLocked(I)) ++Count;
  Guard.Disarm();
  UnlockSessionsFile(kErrSessionsUnlockCount);
  return Count;
}

bool TVLTActiveSessionsFile::IsSlotLocked(int32_t SlotNo) { return FHandle.IsByteLocked(SlotNo); }

}  // namespace vlt
