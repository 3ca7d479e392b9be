// Edit, cancel, post and delete of TVLTLocalCursor, with the multi-user locking rules.
#include <chrono>
#include <cstring>
#include <thread>
#include <vector>

#include "engine/base/VLTExcept.h"
#include "engine/components/VLTLocalCursor.h"
#include "engine/components/VLTTableLockAccess.h"

namespace vlt {

namespace {

void SleepMS(int32_t MS) {
  if (MS > 0) std::this_thread::sleep_for(std::chrono::milliseconds(MS));
}

// Up to Tries single attempts, the latch left while sleeping between them.
bool LockTableWithSleeps(TVLTTableLockAccess& L, TVLTTableDataLatch& Latch, TVLTSessionID SessionID,
                         TVLTLockType LockType, int32_t Tries, int32_t DelayMS) {
  for (int32_t I = 0; I < Tries; ++I) {
    if (L.LockTable(SessionID, LockType, 1, 0, true)) return true;
    if (I + 1 < Tries) Latch.Released([DelayMS] { SleepMS(DelayMS); });
  }
  return false;
}

}  // namespace

bool TVLTLocalCursor::ReReadCurrent() {
  // A physical read of exactly that record: an index would answer with its closest neighbour.
  const int32_t IndexID = FIndexID;
  const bool First = FirstPosition, Last = LastPosition;
  const TVLTPageItemID Wanted = CurrentRecordID;
  FIndexID = -1;
  FirstPosition = LastPosition = false;
  TVLTGetRecordResult R = grrError;
  try {
    R = FTableData->GetRecordBuffer(*this, grmCurrent);
  } catch (...) {
    FIndexID = IndexID;
    FirstPosition = First;
    LastPosition = Last;
    CurrentRecordID = Wanted;
    throw;
  }
  FIndexID = IndexID;
  FirstPosition = First;
  LastPosition = Last;
  const bool Found = R == grrOK && CurrentRecordID == Wanted;
  CurrentRecordID = Wanted;
  return Found;
}

void TVLTLocalCursor::InternalEdit() {
  TVLTTableData& T = CheckedTableData(10635);
  TVLTTableDataLatch Latch(T);
  FErrorCode = 0;
  if (FTemporary) {
    FErrorCode = kCursorTemporaryUpdate;
    return;
  }
  TVLTTableLockAccess* L = MultiUserLocks();
  if (!L) return;
  if (!FCurrentRecordBuffer) VLTRaiseNilPointer(10636);
  const TVLTPageItemID Shown = GetBufferRecordID(FCurrentRecordBuffer);
  if (Shown.PageNo >= 0) CurrentRecordID = Shown;
  const TVLTSessionID SID = SessionID();
  const TVLTLockType TableLock = InTransaction() ? ltXIRW : ltSIRW;
  if (!L->LockTable(SID, TableLock, FLockWaits.EditTableTries, FLockWaits.EditTableDelay, true)) {
    FErrorCode = kCursorTableLocked;
    return;
  }
  if (!L->LockRecord(SID, CurrentRecordID, FLockWaits.RecordTries, FLockWaits.RecordDelayMS)) {
    L->UnlockTable(SID, TableLock, true);
    FErrorCode = kCursorRecordLocked;
    return;
  }
  std::vector<uint8_t> ShownRecord(FCurrentRecordBuffer, FCurrentRecordBuffer + FRecordSize);
  try {
    if (!ReReadCurrent())
      FErrorCode = kCursorUpdateDeleted;
    else if (!T.FieldManager()->CompareRecordBuffers(FCurrentRecordBuffer, ShownRecord.data()))
      FErrorCode = kCursorUpdateModified;
  } catch (...) {
    std::memcpy(FCurrentRecordBuffer, ShownRecord.data(), ShownRecord.size());
    L->UnlockRecord(SID, CurrentRecordID);
    L->UnlockTable(SID, TableLock, true);
    throw;
  }
  if (FErrorCode != 0) {
    std::memcpy(FCurrentRecordBuffer, ShownRecord.data(), ShownRecord.size());
    L->UnlockRecord(SID, CurrentRecordID);
    L->UnlockTable(SID, TableLock, true);
  }
}

void TVLTLocalCursor::InternalCancel(bool ToInsert) {
  TVLTTableData& T = CheckedTableData(10637);
  TVLTTableDataLatch Latch(T);
  FErrorCode = 0;
  CloseWriteStreams(false);
  if (FCurrentRecordBuffer) {
    T.ClearBlobsCacheInRecordBuffer(FCurrentRecordBuffer);
    if (ToInsert)
      for (int32_t I = 0; I < FieldCount(); ++I) {
        const TVLTBaseFieldType B = (*FFieldDefs)[I].FBaseFieldType;
        if (B == bftBlob || B == bftClob || B == bftWideClob) VLTSetFieldNull(FCurrentRecordBuffer, I, true);
      }
  }
  TVLTTableLockAccess* L = MultiUserLocks();
  if (L && !ToInsert) {
    const TVLTSessionID SID = SessionID();
    L->UnlockRecord(SID, CurrentRecordID);
    if (!InTransaction()) L->UnlockTable(SID, ltSIRW, true);
  }
}

void TVLTLocalCursor::InternalPost(bool ToInsert) {
  TVLTTableData& T = CheckedTableData(10638);
  if (!FCurrentRecordBuffer) VLTRaiseNilPointer(10639);
  TVLTTableDataLatch Latch(T);
  FErrorCode = 0;
  FErrorMessage.clear();
  TVLTTableLockAccess* L = MultiUserLocks();
  const TVLTSessionID SID = SessionID();
  const bool InTx = InTransaction();
  const TVLTLockType TableLock = InTx ? ltXIRW : ltRW;
  if (L && !LockTableWithSleeps(*L, Latch, SID, TableLock, FLockWaits.PostTries,
                                FLockWaits.PostSleepMS)) {
    FErrorCode = kCursorTableLocked;
    return;
  }
  auto CleanUp = [&] {
    if (!L) return;
    if (!ToInsert && FErrorCode != kCursorConstraintFailed) {
      L->UnlockRecord(SID, CurrentRecordID);
      if (!InTx) L->UnlockTable(SID, ltSIRW, true);
    }
    if (!InTx) L->UnlockTable(SID, ltRW, true);
  };
  try {
    PostBody(ToInsert);
  } catch (...) {
    CleanUp();
    throw;
  }
  CleanUp();
}

void TVLTLocalCursor::PostBody(bool ToInsert) {
  TVLTTableData& T = *FTableData;
  const TVLTSessionID SID = SessionID();
  // Constraint phase: any error is a record-level failure with the error's own text.
  try {
    if (ToInsert) {
      T.LoadMostUpdated(SID);
      if (T.FieldManager()) T.FieldManager()->ApplyAutoincsToRecordBuffer(FSession, FCurrentRecordBuffer);
    }
    if (!FTemporary && T.ConstraintManager())
      T.ConstraintManager()->CheckConstraints(SID, FCurrentRecordBuffer, true, true, CurrentRecordID,
                                              ToInsert, FEditRecordBuffer);
  } catch (const EVLTException& E) {
    FErrorCode = kCursorConstraintFailed;
    FErrorMessage = E.Message();
    return;
  } catch (const std::exception& E) {
    FErrorCode = kCursorConstraintFailed;
    FErrorMessage = E.what();
    return;
  }
  CloseWriteStreams(true);
  if (ToInsert) {
    if (!T.InsertRecord(*this)) {
      FErrorCode = kCursorInsertFailed;
      return;
    }
    SetBufferRecordID(FCurrentRecordBuffer, CurrentRecordID);
    SetBookmarkFlag(FCurrentRecordBuffer, kBookmarkInserted);
    return;
  }
  CurrentRecordID = GetBufferRecordID(FCurrentRecordBuffer);
  std::vector<uint8_t> NewValues(FCurrentRecordBuffer, FCurrentRecordBuffer + FRecordSize);
  auto PutBack = [&] { std::memcpy(FCurrentRecordBuffer, NewValues.data(), NewValues.size()); };
  bool Found = false;
  try {
    Found = ReReadCurrent();
  } catch (...) {
    PutBack();
    throw;
  }
  if (!Found) {
    FErrorCode = kCursorUpdateDeleted;
    PutBack();
    return;
  }
  const bool Unchanged = !FEditRecordBuffer || T.FieldManager()->CompareRecordBuffers(
                                                   FCurrentRecordBuffer, FEditRecordBuffer);
  PutBack();
  if (!Unchanged) {
    FErrorCode = kCursorUpdateModified;
    return;
  }
  if (!T.UpdateRecord(*this)) FErrorCode = kCursorUpdateFailed;
}

void TVLTLocalCursor::InternalDelete() {
  TVLTTableData& T = CheckedTableData(10640);
  if (!FCurrentRecordBuffer) VLTRaiseNilPointer(10641);
  TVLTTableDataLatch Latch(T);
  FErrorCode = 0;
  TVLTTableLockAccess* L = MultiUserLocks();
  const TVLTSessionID SID = SessionID();
  const bool InTx = InTransaction();
  const TVLTLockType TableLock = InTx ? ltXIRW : ltRW;
  CurrentRecordID = GetBufferRecordID(FCurrentRecordBuffer);
  if (L) {
    if (!LockTableWithSleeps(*L, Latch, SID, TableLock, FLockWaits.DeleteTries,
                             FLockWaits.DeleteSleepMS)) {
      FErrorCode = kCursorTableLocked;
      return;
    }
    if (!L->LockRecord(SID, CurrentRecordID, FLockWaits.RecordTries, FLockWaits.RecordDelayMS)) {
      L->UnlockTable(SID, TableLock, true);
      FErrorCode = kCursorRecordLocked;
      return;
    }
  }
  auto CleanUp = [&] {
    if (!L) return;
    L->UnlockRecord(SID, CurrentRecordID);
    if (!InTx) L->UnlockTable(SID, ltRW, true);
  };
  try {
    DeleteBody();
  } catch (...) {
    CleanUp();
    throw;
  }
  CleanUp();
}

void TVLTLocalCursor::DeleteBody() {
  if (FTemporary) {
    FErrorCode = kCursorTemporaryDelete;
    return;
  }
  TVLTTableData& T = *FTableData;
  std::vector<uint8_t> Shown(FCurrentRecordBuffer, FCurrentRecordBuffer + FRecordSize);
  auto Restore = [&] { std::memcpy(FCurrentRecordBuffer, Shown.data(), Shown.size()); };
  try {
    if (!ReReadCurrent())
      FErrorCode = kCursorDeleteDeleted;
    else if (!T.FieldManager()->CompareRecordBuffers(FCurrentRecordBuffer, Shown.data()))
      FErrorCode = kCursorDeleteModified;
    else {
      Restore();
      if (!T.DeleteRecord(*this)) FErrorCode = kCursorDeleteFailed;
    }
  } catch (...) {
    Restore();
    throw;
  }
  Restore();
}

}  // namespace vlt
