#include "engine/disk/VLTTableLockManager.h"

#include <chrono>
#include <random>
#include <thread>

#include "engine/base/VLTErrorCodes.h"
#include "engine/base/VLTExcept.h"
#include "engine/disk/VLTDiskPageManager.h"

namespace vlt {

namespace {

int32_t RandomBelow(int32_t Limit) {
  if (Limit <= 0) return 0;
  thread_local std::mt19937 Gen{std::random_device{}()};
  return std::uniform_int_distribution<int32_t>(0, Limit - 1)(Gen);
}

// Enters a recursive mutex unless told not to; leaves it on every path.
class TOptionalLock {
 public:
  TOptionalLock(std::recursive_mutex& M, bool Skip) : FM(M), FHeld(!Skip) {
    if (FHeld) FM.lock();
  }
  ~TOptionalLock() {
    if (FHeld) FM.unlock();
  }
  TOptionalLock(const TOptionalLock&) = delete;
  TOptionalLock& operator=(const TOptionalLock&) = delete;

 private:
  std::recursive_mutex& FM;
  bool FHeld;
};

}  // namespace

// ---- lock list ----

int32_t TVLTTableLockList::Find(TVLTLockType LockType, TVLTPageNo LocksFilePageNo) const {
  for (size_t I = 0; I < FLockList.size(); ++I)
    if (FLockList[I].LockType == LockType && FLockList[I].LocksFilePageNo == LocksFilePageNo)
      return static_cast<int32_t>(I);
  return -1;
}

void TVLTTableLockList::AddLock(TVLTLockType LockType, TVLTPageNo LocksFilePageNo,
                                bool HasPhysicalLock, bool IsXIRWAfterSIRWAllowed) {
  const int32_t I = Find(LockType, LocksFilePageNo);
  if (I >= 0) {
    ++FLockList[static_cast<size_t>(I)].LockCount;
    return;
  }
  FLockList.push_back({LockType, LocksFilePageNo, 1, HasPhysicalLock, IsXIRWAfterSIRWAllowed});
}

void TVLTTableLockList::RemoveLock(TVLTLockType LockType, TVLTPageNo LocksFilePageNo,
                                   bool& HasPhysicalLock, bool IgnoreCount,
                                   TVLTTableLockEntry* Removed) {
  const int32_t I = Find(LockType, LocksFilePageNo);
  if (I < 0)
    throw EVLTException(kErrCannotRemoveTableLock, "Cannot remove table lock. Lock not found");
  TVLTTableLockEntry& E = FLockList[static_cast<size_t>(I)];
  HasPhysicalLock = false;
  if (--E.LockCount > 0 && !IgnoreCount) return;
  HasPhysicalLock = E.HasPhysicalLock;
  if (Removed) *Removed = E;
  FLockList.erase(FLockList.begin() + I);
}

bool TVLTTableLockList::LockExists(TVLTLockType LockType, TVLTPageNo LocksFilePageNo) const {
  return Find(LockType, LocksFilePageNo) >= 0;
}

bool TVLTTableLockList::LockExists(TVLTLockType LockType, TVLTPageNo LocksFilePageNo,
                                   bool IsXIRWAfterSIRWAllowed) const {
  const int32_t I = Find(LockType, LocksFilePageNo);
  return I >= 0 && FLockList[static_cast<size_t>(I)].IsXIRWAfterSIRWAllowed == IsXIRWAfterSIRWAllowed;
}

bool TVLTTableLockList::StrongerLockExists(TVLTLockType LockType,
                                           TVLTPageNo LocksFilePageNo) const {
  for (const auto& E : FLockList)
    if (E.LocksFilePageNo == LocksFilePageNo && E.LockType != LockType &&
        IsLockAtLeastAsStrong(E.LockType, LockType))
      return true;
  return false;
}

void TVLTTableLockList::SetPhysicalLock(int32_t ItemNo) {
  FLockList.at(static_cast<size_t>(ItemNo)).HasPhysicalLock = true;
}

bool TVLTTableLockList::IsWeakerNonPhysicalLock(int32_t ItemNo, TVLTLockType LockType) const {
  const auto& E = FLockList.at(static_cast<size_t>(ItemNo));
  return !E.HasPhysicalLock && IsLockAtLeastAsStrong(LockType, E.LockType);
}

void TVLTTableLockList::CheckEmpty() const {
  if (!FLockList.empty())
    throw EVLTException(kErrSomeTableLocksStillInDisconnectSession, "Some table locks still exist");
}

namespace {

[[noreturn]] void FailLockCheck(const std::string& What) {
  throw EVLTException(kErrInvariantCheck, "Lock manager check failed: %s", {What});
}

std::string EntryText(const TVLTTableLockEntry& E) {
  return std::string(LockTypeName(E.LockType)) + " on table " + std::to_string(E.LocksFilePageNo);
}

}  // namespace

void TVLTTableLockList::CheckInvariants() const {
  for (size_t I = 0; I < FLockList.size(); ++I) {
    const TVLTTableLockEntry& E = FLockList[I];
    if (E.LockCount < 1) FailLockCheck("entry without grants: " + EntryText(E));
    bool Covered = E.HasPhysicalLock;
    for (size_t J = 0; J < FLockList.size(); ++J) {
      if (J == I) continue;
      const TVLTTableLockEntry& O = FLockList[J];
      if (O.LocksFilePageNo != E.LocksFilePageNo) continue;
      if (O.LockType == E.LockType && E.LockType != ltU)
        FailLockCheck("two entries of " + EntryText(E));
      if (O.HasPhysicalLock && IsLockAtLeastAsStrong(O.LockType, E.LockType)) Covered = true;
    }
    if (!Covered) FailLockCheck("unprotected entry " + EntryText(E));
  }
}

// ---- lock manager ----

TVLTDatabaseTableLockManager::TVLTDatabaseTableLockManager(int32_t MaxSessionCount,
                                                           TVLTDiskPageManager* PageManager)
    : FMaxSessionCount(MaxSessionCount), LPageManager(PageManager) {
  for (int32_t I = 0; I < MaxSessionCount; ++I)
    FSessionLockList.push_back(std::make_unique<TVLTTableLockList>());
}

TVLTDatabaseTableLockManager::~TVLTDatabaseTableLockManager() = default;

TVLTTableLockList& TVLTDatabaseTableLockManager::ListOf(TVLTSessionID SessionID) {
  if (SessionID < 0 || SessionID >= FMaxSessionCount)
    throw EVLTException(kErrCannotSetTableLockInListOf,
                        "Cannot set table lock. Try to repair the database or increase number of "
                        "allowed connections");
  return *FSessionLockList[static_cast<size_t>(SessionID)];
}

const TVLTTableLockList& TVLTDatabaseTableLockManager::SessionLocks(TVLTSessionID SessionID) const {
  return const_cast<TVLTDatabaseTableLockManager*>(this)->ListOf(SessionID);
}

bool TVLTDatabaseTableLockManager::Exclusive() const {
  return LPageManager && LPageManager->Exclusive();
}

bool TVLTDatabaseTableLockManager::HasLocks() const {
  for (const auto& L : FSessionLockList)
    if (L->Count() > 0) return true;
  return false;
}

void TVLTDatabaseTableLockManager::CheckNoLocks() const {
  for (const auto& L : FSessionLockList) L->CheckEmpty();
}

void TVLTDatabaseTableLockManager::CheckInvariants() {
  std::lock_guard Guard(FCSect);
  for (TVLTSessionID S = 0; S < FMaxSessionCount; ++S) {
    const TVLTTableLockList& List = *FSessionLockList[static_cast<size_t>(S)];
    List.CheckInvariants();
    if (Exclusive()) {
      if (List.Count() > 0) FailLockCheck("locks noted on an exclusive database");
      continue;
    }
    for (int32_t I = 0; I < List.Count(); ++I) {
      const TVLTTableLockEntry& E = List.Items(I);
      if (!E.HasPhysicalLock || E.LockType == ltX) continue;
      TVLTTableLocksFile File(LPageManager);
      File.OpenFile(E.LocksFilePageNo);
      if (S >= File.MaxSessionCount() ||
          !File.Handle().IsByteLocked(E.LockType * File.MaxSessionCount() + S))
        FailLockCheck("physical entry without its lock byte: " + EntryText(E) + ", session " +
                      std::to_string(S));
    }
  }
}

void TVLTDatabaseTableLockManager::Pause(int32_t DelayMS, bool NoThreadLock) {
  if (!NoThreadLock) FCSect.unlock();
  std::this_thread::sleep_for(std::chrono::milliseconds(DelayMS > 0 ? DelayMS : 0));
  if (!NoThreadLock) FCSect.lock();
}

bool TVLTDatabaseTableLockManager::LockFileForRelease(TVLTTableLocksFile& File,
                                                      bool NoThreadLock) {
  for (int32_t I = 0; I < FUnlockRetryCount; ++I) {
    if (File.LockFile()) return true;
    if (I + 1 < FUnlockRetryCount) Pause(FUnlockRetryDelayMS, NoThreadLock);
  }
  return false;
}

bool TVLTDatabaseTableLockManager::LockTable(TVLTSessionID SessionID, TVLTLockType LockType,
                                             TVLTTableLocksFile& TableLocksFile,
                                             int32_t aTryCount, int32_t aDelayMS,
                                             bool NoThreadLock, bool AllowXIRWAfterSIRW) {
  if (Exclusive()) return true;
  TOptionalLock Guard(FCSect, NoThreadLock);
  TVLTTableLockList& List = ListOf(SessionID);
  const TVLTPageNo Table = TableLocksFile.StartPageNo();
  if (List.LockExists(LockType, Table)) {
    if (LockType == ltSIRW) return false;
    List.AddLock(LockType, Table, false, AllowXIRWAfterSIRW);
    return true;
  }
  if (List.StrongerLockExists(LockType, Table)) {
    List.AddLock(LockType, Table, false, AllowXIRWAfterSIRW);
    return true;
  }
  for (int32_t Try = 0; Try < aTryCount; ++Try) {
    if (TableLocksFile.LockFile()) {
      bool Taken = false;
      try {
        if (TableLocksFile.IsTableLockAllowed(SessionID, LockType, AllowXIRWAfterSIRW)) {
          if (LockType != ltX && !TableLocksFile.LockTable(SessionID, LockType))
            throw EVLTException(kErrCannotSetTableLockInLockTable, "Cannot set table lock");
          Taken = true;
        }
      } catch (...) {
        TableLocksFile.UnlockFile();
        throw;
      }
      // An ltX holder keeps the file lock for as long as it holds ltX.
      if (!(Taken && LockType == ltX)) TableLocksFile.UnlockFile();
      if (Taken) {
        List.AddLock(LockType, Table, true, AllowXIRWAfterSIRW);
        return true;
      }
    }
    if (Try + 1 < aTryCount)
      Pause(aDelayMS / 2 + RandomBelow(aDelayMS / 2), NoThreadLock);
  }
  return false;
}

bool TVLTDatabaseTableLockManager::UnlockTable(TVLTSessionID SessionID, TVLTLockType LockType,
                                               TVLTTableLocksFile& TableLocksFile,
                                               bool IgnoreIfNoLock, bool IgnoreCount) {
  if (Exclusive()) return true;
  std::lock_guard Guard(FCSect);
  TVLTTableLockList& List = ListOf(SessionID);
  const TVLTPageNo Table = TableLocksFile.StartPageNo();
  if (IgnoreIfNoLock && !List.LockExists(LockType, Table)) return true;
  bool Physical = false;
  TVLTTableLockEntry Removed;
  List.RemoveLock(LockType, Table, Physical, IgnoreCount, &Removed);
  if (!Physical) return true;
  auto PutBack = [&] {
    List.AddLock(LockType, Table, true, Removed.IsXIRWAfterSIRWAllowed);
    return false;
  };

  // Weaker locks the session keeps on the table lose the protection of the one released: give
  // them their own bytes first.
  bool NeedsProtection = false;
  for (int32_t I = 0; I < List.Count(); ++I)
    if (List.Items(I).LocksFilePageNo == Table && List.IsWeakerNonPhysicalLock(I, LockType))
      NeedsProtection = true;
  if (NeedsProtection) {
    if (LockType != ltX && !LockFileForRelease(TableLocksFile, false)) return PutBack();
    for (int32_t I = 0; I < List.Count(); ++I) {
      const TVLTTableLockEntry& E = List.Items(I);
      if (E.LocksFilePageNo != Table || !List.IsWeakerNonPhysicalLock(I, LockType)) continue;
      if (TableLocksFile.LockTable(SessionID, E.LockType)) List.SetPhysicalLock(I);
    }
    if (LockType != ltX) TableLocksFile.UnlockFile();
  }

  bool Released = false;
  for (int32_t Try = 0; Try < FUnlockRetryCount && !Released; ++Try) {
    if (LockType == ltX) {
      Released = TableLocksFile.UnlockFile();
    } else if (TableLocksFile.LockFile()) {
      const bool Unlocked = TableLocksFile.UnlockTable(SessionID, LockType);
      TableLocksFile.UnlockFile();
      if (!Unlocked) {
        PutBack();
        throw EVLTException(kErrCannotUnlockTable, "Cannot unlock table");
      }
      Released = true;
    }
    if (!Released && Try + 1 < FUnlockRetryCount) Pause(FUnlockRetryDelayMS, false);
  }
  if (!Released) return PutBack();
  return true;
}

bool TVLTDatabaseTableLockManager::LockRecord(TVLTSessionID SessionID,
                                              TVLTTableLocksFile& TableLocksFile,
                                              const TVLTPageItemID& RecordID, int32_t aTryCount,
                                              int32_t aDelayMS) {
  if (Exclusive()) return true;
  std::lock_guard Guard(FCSect);
  TVLTTableLockList& List = ListOf(SessionID);
  const TVLTPageNo Table = TableLocksFile.StartPageNo();
  if (List.LockExists(ltU, Table)) return false;
  if (List.LockExists(ltX, Table) || List.LockExists(ltXIRW, Table, false)) {
    List.AddLock(ltU, Table, false, false);
    return true;
  }
  const auto Start = std::chrono::steady_clock::now();
  const auto Budget = std::chrono::milliseconds(int64_t{aTryCount} * (aDelayMS > 0 ? aDelayMS : 0));
  for (int32_t Try = 0; Try < aTryCount; ++Try) {
    if (Try > 0 && std::chrono::steady_clock::now() - Start >= Budget) break;
    if (TableLocksFile.LockFile()) {
      bool Taken = false;
      try {
        if (!TableLocksFile.IsRecordLockedByAnyOtherSession(SessionID, RecordID)) {
          if (!TableLocksFile.LockRecord(SessionID, RecordID))
            throw EVLTException(kErrCannotLockRecord, "Cannot lock record");
          Taken = true;
        }
      } catch (...) {
        TableLocksFile.UnlockFile();
        throw;
      }
      TableLocksFile.UnlockFile();
      if (Taken) {
        List.AddLock(ltU, Table, true, false);
        return true;
      }
    }
    if (Try + 1 < aTryCount) Pause(aDelayMS, false);
  }
  return false;
}

bool TVLTDatabaseTableLockManager::UnlockRecord(TVLTSessionID SessionID,
                                                TVLTTableLocksFile& TableLocksFile,
                                                const TVLTPageItemID& RecordID) {
  if (Exclusive()) return true;
  std::lock_guard Guard(FCSect);
  TVLTTableLockList& List = ListOf(SessionID);
  const TVLTPageNo Table = TableLocksFile.StartPageNo();
  if (!List.LockExists(ltU, Table)) return false;
  bool Physical = false;
  List.RemoveLock(ltU, Table, Physical, false);
  if (!Physical) return true;
  for (int32_t Try = 0; Try < FUnlockRetryCount; ++Try) {
    if (TableLocksFile.LockFile()) {
      const bool Unlocked = TableLocksFile.UnlockRecord(SessionID, RecordID);
      TableLocksFile.UnlockFile();
      if (!Unlocked) {
        List.AddLock(ltU, Table, true, false);
        throw EVLTException(kErrCannotUnlockRecord, "Cannot unlock record");
      }
      return true;
    }
    if (Try + 1 < FUnlockRetryCount) Pause(FUnlockRetryDelayMS, false);
  }
  // Still locked in the file: keep the entry so that a later unlock can release it.
  List.AddLock(ltU, Table, true, false);
  return false;
}

bool TVLTDatabaseTableLockManager::IsRecordLocked(TVLTSessionID SessionID,
                                                  TVLTTableLocksFile& TableLocksFile,
                                                  const TVLTPageItemID& RecordID) {
  std::lock_guard Guard(FCSect);
  return TableLocksFile.IsRecordLockedByAnyOtherSession(SessionID, RecordID);
}

bool TVLTDatabaseTableLockManager::AddRWLocksBeforeCommit(TVLTSessionID SessionID) {
  std::lock_guard Guard(FCSect);
  TVLTTableLockList& List = ListOf(SessionID);
  if (List.Count() == 0) return true;
  std::vector<TVLTPageNo> Tables;
  for (int32_t I = 0; I < List.Count(); ++I)
    if (List.Items(I).LockType == ltXIRW) Tables.push_back(List.Items(I).LocksFilePageNo);
  bool AllTaken = true;
  for (TVLTPageNo Table : Tables) {
    bool Covered = false;
    for (int32_t I = 0; I < List.Count(); ++I) {
      const TVLTTableLockEntry& E = List.Items(I);
      if (E.LocksFilePageNo == Table && E.LockType != ltXIRW &&
          IsLockAtLeastAsStrong(E.LockType, ltRW))
        Covered = true;
    }
    if (Covered) continue;
    TVLTTableLocksFile File(LPageManager);
    File.OpenFile(Table);
    if (!LockTable(SessionID, ltRW, File, FTransactionTryCount, FTransactionDelayMS, true, true)) {
      AllTaken = false;
      break;
    }
  }
  if (AllTaken) return true;
  // Give back every ltRW of the session, counting each down to nothing.
  for (int32_t I = List.Count() - 1; I >= 0; --I) {
    if (I >= List.Count() || List.Items(I).LockType != ltRW) continue;
    const TVLTPageNo Table = List.Items(I).LocksFilePageNo;
    TVLTTableLocksFile File(LPageManager);
    File.OpenFile(Table);
    while (List.LockExists(ltRW, Table))
      if (!UnlockTable(SessionID, ltRW, File, false, false)) break;
  }
  for (int32_t I = 0; I < List.Count(); ++I)
    if (List.Items(I).LockType == ltRW)
      throw EVLTException(kErrSomeTableLocksStillInAddRWLocksBeforeCommit,
                          "Some table locks still exist");
  return false;
}

bool TVLTDatabaseTableLockManager::ClearTransactionLocks(TVLTSessionID SessionID) {
  std::lock_guard Guard(FCSect);
  TVLTTableLockList& List = ListOf(SessionID);
  std::vector<TVLTPageNo> RecordTables;
  for (int32_t I = 0; I < List.Count(); ++I)
    if (List.Items(I).LockType == ltU) RecordTables.push_back(List.Items(I).LocksFilePageNo);
  for (TVLTPageNo Table : RecordTables) {
    TVLTTableLocksFile File(LPageManager);
    File.OpenFile(Table);
    bool Ok = true;
    if (List.LockExists(ltX, Table) || !List.LockExists(ltSIRW, Table))
      Ok = LockTable(SessionID, ltSIRW, File, FTransactionTryCount, FTransactionDelayMS, true,
                     true);
    if (!Ok) return false;
  }
  std::vector<TVLTTableLockEntry> Transaction;
  for (int32_t I = 0; I < List.Count(); ++I)
    if (List.Items(I).LockType == ltXIRW || List.Items(I).LockType == ltRW)
      Transaction.push_back(List.Items(I));
  for (const TVLTTableLockEntry& E : Transaction) {
    TVLTTableLocksFile File(LPageManager);
    File.OpenFile(E.LocksFilePageNo);
    UnlockTable(SessionID, E.LockType, File, false, true);
  }
  return true;
}

}  // namespace vlt
