// BLOB streams of TVLTLocalCursor.
#include <algorithm>
#include <exception>

#include "engine/base/VLTExcept.h"
#include "engine/base/VLTScopeGuard.h"
#include "engine/components/VLTLocalCursor.h"
#include "engine/components/VLTTableLockAccess.h"
#include "engine/protect/VLTTemporaryStream.h"

namespace vlt {

TVLTLocalBLOBStream* TVLTLocalCursor::InternalCreateBlobStream(bool ToInsert, bool ToEdit,
                                                               int32_t FieldNo,
                                                               TVLTBLOBOpenMode OpenMode,
                                                               bool CanDoGetRecordBuffer) {
  TVLTTableData& T = CheckedTableData(10111);
  TVLTTableDataLatch Latch(T);
  TVLTTableLockAccess* L = MultiUserLocks();
  if (!L) return CreateBlobStream(FieldNo, OpenMode);
  const TVLTSessionID SID = SessionID();
  if (!L->LockTable(SID, ltS, FLockWaits.BLOBTries, FLockWaits.BLOBDelay, false)) return nullptr;
  TVLTLocalBLOBStream* S = nullptr;
  try {
    // While browsing, another process may have changed or deleted the record since it was shown.
    if (CanDoGetRecordBuffer && !ToInsert && !ToEdit && FBLOBStreams && FBLOBStreams->empty() &&
        FCurrentRecordBuffer) {
      const TVLTPageItemID Shown = GetBufferRecordID(FCurrentRecordBuffer);
      if (Shown.PageNo >= 0) CurrentRecordID = Shown;
      if (!ReReadCurrent()) {
        L->UnlockTable(SID, ltS, true);
        return nullptr;
      }
    }
    S = CreateBlobStream(FieldNo, OpenMode);
  } catch (...) {
    L->UnlockTable(SID, ltS, true);
    throw;
  }
  L->UnlockTable(SID, ltS, true);
  return S;
}

TVLTLocalBLOBStream* TVLTLocalCursor::CreateBlobStream(int32_t FieldNo, TVLTBLOBOpenMode OpenMode) {
  if (FieldNo < 0 || FieldNo >= VisibleFieldCount())
    throw EVLTException(10110, "Invalid field number - FieldNo = %d, FieldCount = %d",
                        {int64_t{FieldNo}, int64_t{VisibleFieldCount()}});
  if (!FBLOBStreams) VLTRaiseNilPointer(10113);
  const int32_t TableField = (*FVisibleFieldDefs)[FieldNo].FFieldNoReference;
  if (OpenMode != bomRead)
    for (const auto& S : *FBLOBStreams)
      if (S->FFieldNo == TableField && S->OpenedForWriting())
        throw EVLTException(10115, "BLOB field already opened. FieldNo = %d, FieldName = %s",
                            {int64_t{FieldNo}, (*FFieldDefs)[TableField].FName});
  auto Data = std::make_unique<TVLTTemporaryStream>(FDisableTempFiles);
  // A stream opened only for writing replaces the value; the others start with it.
  if (OpenMode != bomWrite && FCurrentRecordBuffer &&
      !VLTIsFieldNull(FCurrentRecordBuffer, TableField))
    if (auto* B = dynamic_cast<TVLTTableBLOBAccess*>(FTableData))
      B->ReadBLOBField(*this, TableField, *Data);
  FBLOBStreams->push_back(
      std::make_unique<TVLTLocalBLOBStream>(this, TableField, OpenMode, std::move(Data)));
  return FBLOBStreams->back().get();
}

void TVLTLocalCursor::CloseStream(TVLTLocalBLOBStream* Stream, bool Store) {
  auto It = std::find_if(FBLOBStreams->begin(), FBLOBStreams->end(),
                         [Stream](const auto& S) { return S.get() == Stream; });
  if (It == FBLOBStreams->end()) return;
  std::unique_ptr<TVLTLocalBLOBStream> Owned = std::move(*It);
  FBLOBStreams->erase(It);
  auto* B = dynamic_cast<TVLTTableBLOBAccess*>(FTableData);
  if (Store && Owned->OpenedForWriting() && Owned->Modified() && FCurrentRecordBuffer) {
    TVLTStream& Data = *Owned->FTemporaryStream;
    if (B) {
      // Also an emptied value goes through the storage: it drops what it had cached for the
      // field, and the field becomes NULL.
      Data.Seek(0, soBeginning);
      B->WriteBLOBFieldToRecordBuffer(*this, Owned->FFieldNo, Data);
    } else if (Data.GetSize() == 0) {
      VLTSetFieldNull(FCurrentRecordBuffer, Owned->FFieldNo, true);  // an empty BLOB is NULL
    } else {
      // Without BLOB storage the data would be lost silently.
      throw EVLTException(10120, "BLOB values cannot be stored in this table yet, field %s",
                          {(*FFieldDefs)[Owned->FFieldNo].FName});
    }
  } else if (!Owned->Modified() && B) {
    B->ClearBLOBFieldCache(*this, Owned->FFieldNo);
  }
  if (Owned->FUserBLOBStream && Owned->FDestroyUserStream) {
    Owned->FDestroyUserStream(*Owned);
    Owned->FUserBLOBStream = nullptr;
  }
}

void TVLTLocalCursor::InternalCloseBLOB(int32_t FieldNo) {
  TVLTTableData& T = CheckedTableData(10119);
  TVLTTableDataLatch Latch(T);
  if (FieldNo < 0 || FieldNo >= VisibleFieldCount())
    throw EVLTException(10118, "Invalid field number - FieldNo = %d, FieldCount = %d",
                        {int64_t{FieldNo}, int64_t{VisibleFieldCount()}});
  if (!FBLOBStreams) VLTRaiseNilPointer(10121);
  const int32_t TableField = (*FVisibleFieldDefs)[FieldNo].FFieldNoReference;
  std::vector<TVLTLocalBLOBStream*> Streams;
  for (const auto& S : *FBLOBStreams)
    if (S->FFieldNo == TableField) Streams.push_back(S.get());
  // Every stream of the field is closed even when one cannot store its data; the first error
  // is reported afterwards.
  std::exception_ptr First;
  for (TVLTLocalBLOBStream* S : Streams) {
    try {
      CloseStream(S, !FDiscardingBLOBs);
    } catch (...) {
      if (!First) First = std::current_exception();
    }
  }
  if (First) std::rethrow_exception(First);
}

void TVLTLocalCursor::ClearBLOBStreams(bool WriteOnly) {
  if (!FBLOBStreams) return;
  std::vector<TVLTLocalBLOBStream*> Streams;
  for (const auto& S : *FBLOBStreams)
    if (!WriteOnly || S->OpenedForWriting()) Streams.push_back(S.get());
  for (TVLTLocalBLOBStream* S : Streams) {
    const bool Listed = std::any_of(FBLOBStreams->begin(), FBLOBStreams->end(),
                                    [S](const auto& O) { return O.get() == S; });
    if (!Listed) continue;
    if (S->FUserBLOBStream && S->FDestroyUserStream) {
      // Destroying the user-level stream closes the BLOB through the dataset.
      TVLTStream* User = S->FUserBLOBStream;
      S->FUserBLOBStream = nullptr;
      (void)User;
      S->FDestroyUserStream(*S);
    }
    CloseStream(S, false);
  }
}

void TVLTLocalCursor::CloseWriteStreams(bool Store) {
  if (!FBLOBStreams) return;
  TVLTRestore KeepDiscarding(FDiscardingBLOBs);
  FDiscardingBLOBs = !Store;
  std::vector<TVLTLocalBLOBStream*> Streams;
  for (const auto& S : *FBLOBStreams)
    if (S->OpenedForWriting()) Streams.push_back(S.get());
  for (TVLTLocalBLOBStream* S : Streams) CloseStream(S, Store);
}

}  // namespace vlt
