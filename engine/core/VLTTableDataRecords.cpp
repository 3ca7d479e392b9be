// TVLTTableData: navigation, record numbers, searches, record bitmaps and the insert, update and
// delete flows.
#include <algorithm>
#include <cstring>
#include <optional>

#include "engine/base/VLTExcept.h"
#include "engine/base/VLTMemory.h"
#include "engine/core/VLTDatabaseData.h"
#include "engine/core/VLTScanSearchCondition.h"
#include "engine/core/VLTTableData.h"

namespace vlt {

namespace {

void ApplyNavigationToCursor(TVLTTableCursor& Cursor, const TVLTNavigationInfo& Info) {
  switch (Info.GetRecordResult) {
    case grrOK:
      Cursor.CurrentRecordID = Info.RecordID;
      Cursor.FirstPosition = false;
      Cursor.LastPosition = false;
      break;
    case grrEOF:
      Cursor.FirstPosition = false;
      Cursor.LastPosition = true;
      break;
    case grrBOF:
      Cursor.FirstPosition = true;
      Cursor.LastPosition = false;
      break;
    case grrError:
      break;
  }
}

}  // namespace

// ---- visibility and bitmaps ----

bool TVLTTableData::IsRecordVisible(TVLTTableCursor& Cursor, const uint8_t* RecordBuffer) {
  if (Cursor.FIndexID != -1 && (Cursor.FRangeStartBuffer || Cursor.FRangeEndBuffer)) {
    if (!FIndexManager) VLTRaiseNilPointer(10380);
    TVLTIndex& Index = FIndexManager->OpenIndex(Cursor.FIndexID);
    const int32_t All = Index.IndexDef() ? Index.IndexDef()->ColumnCount() : 0;
    if (Cursor.FRangeStartBuffer) {
      const int32_t N = Cursor.FRangeStartKeyFieldCount > 0 ? Cursor.FRangeStartKeyFieldCount : All;
      const int C = Index.CompareRecordBuffersByIndex(RecordBuffer, Cursor.FRangeStartBuffer, N);
      if (Cursor.FRangeStartExclusive ? C <= 0 : C < 0) return false;
    }
    if (Cursor.FRangeEndBuffer) {
      const int32_t N = Cursor.FRangeEndKeyFieldCount > 0 ? Cursor.FRangeEndKeyFieldCount : All;
      const int C = Index.CompareRecordBuffersByIndex(RecordBuffer, Cursor.FRangeEndBuffer, N);
      if (Cursor.FRangeEndExclusive ? C >= 0 : C > 0) return false;
    }
  }
  if (Cursor.HasFilterExpressions() && !Cursor.FilterExpressionsAccept(RecordBuffer)) return false;
  if (Cursor.FilterRecord && !Cursor.FilterRecord(RecordBuffer)) return false;
  return true;
}

int64_t TVLTTableData::RecordBitNo(TVLTTableCursor& Cursor, const TVLTPageItemID& RecordID,
                                   const uint8_t* RecordBuffer) {
  if (Cursor.FRecordBitmap && Cursor.FRecordBitmap->IndexBased()) {
    TVLTIndex& Index = FIndexManager->OpenIndex(Cursor.FIndexID);
    std::unique_ptr<TVLTIndexPosition> Position = Index.CreateIndexPosition();
    if (!Index.GetIndexPosition(Cursor.SessionID(), RecordID, *Position, RecordBuffer)) return -1;
    return Index.IndexPositionToBitNo(*Position);
  }
  return RecordIDToBitNo(RecordID);
}

void TVLTTableData::RefreshRecordBitmap(TVLTTableCursor& Cursor) {
  if (!Cursor.FRecordBitmap) Cursor.FRecordBitmap = std::make_unique<TVLTRecordBitmap>(this);
  TVLTRecordBitmap& Bitmap = *Cursor.FRecordBitmap;
  const bool IndexBased = Cursor.FIndexID != -1;
  if (Bitmap.Active() && !Bitmap.Outdated() && Bitmap.IndexBased() == IndexBased) return;
  CheckedRecordManager(10015);
  // The search marks every visible record; the cursor's position and buffer stay untouched.
  TVLTSearchRequest Request;
  Request.Bitmap = &Bitmap;
  Request.BitmapMode = true;
  TVLTPageItemID Unused;
  SearchRecord(Cursor, Request, Unused);
  Bitmap.SetIndexBased(IndexBased);
  Bitmap.SetActive(true);
  Bitmap.MarkUpToDate();
}

void TVLTTableData::UpdateBitmapForRecord(TVLTTableCursor& Cursor) {
  TVLTRecordBitmap* Bitmap = Cursor.FRecordBitmap.get();
  if (!Bitmap || !Bitmap->Active()) return;
  if (Bitmap->IndexBased()) {
    Bitmap->Clear();  // index positions shift: rebuild on next use
    return;
  }
  if (IsRecordVisible(Cursor, Cursor.FCurrentRecordBuffer))
    Bitmap->ShowRecord(Cursor.CurrentRecordID);
  else
    Bitmap->HideRecord(Cursor.CurrentRecordID);
}

// ---- navigation ----

void TVLTTableData::NavigateUnrestricted(TVLTTableCursor& Cursor, TVLTNavigationInfo& Info) {
  TVLTBaseRecordManager& RM = CheckedRecordManager(10015);
  if (Info.IndexID != -1 && Info.GetRecordMode != grmCurrent) {
    if (!FIndexManager) VLTRaiseNilPointer(10380);
    FIndexManager->GetRecordBuffer(Cursor.SessionID(), Info, RM.FTableState,
                                   &Cursor.FIndexPositionCache);
  } else {
    RM.GetRecordBuffer(Cursor.SessionID(), Info);
  }
}

TVLTGetRecordResult TVLTTableData::GetRecordBuffer(TVLTTableCursor& Cursor,
                                                   TVLTGetRecordMode GetRecordMode) {
  TVLTTableDataLatch L(*this);
  TVLTBaseRecordManager& RM = CheckedRecordManager(10015);
  if (!Cursor.FCurrentRecordBuffer) VLTRaiseNilPointer(10016);
  if (RM.FRecordCount == 0) return grrEOF;

  TVLTNavigationInfo Info;
  Info.GetRecordMode = GetRecordMode;
  Info.IndexID = Cursor.FIndexID;
  Info.RecordID = Cursor.CurrentRecordID;
  Info.RecordBuffer = Cursor.FCurrentRecordBuffer;
  Info.FirstPosition = Cursor.FirstPosition;
  Info.LastPosition = Cursor.LastPosition;

  const bool Restricted = Cursor.IsViewRestricted();
  if (Restricted && GetRecordMode != grmCurrent) {
    const bool Forward = GetRecordMode == grmNext;
    TVLTGetRecordResult Result = grrEOF;
    if ((Forward && Cursor.LastPosition) || (!Forward && Cursor.FirstPosition)) {
      Result = grrEOF;  // already past that end
    } else {
      // A distinct view shows the first record of every group: its bitmap knows them.
      if (Cursor.FDistinctFieldCount > 0) RefreshRecordBitmap(Cursor);
      if (!Cursor.FRecordBitmap) Cursor.FRecordBitmap = std::make_unique<TVLTRecordBitmap>(this);
      TVLTSearchRequest Request;
      Request.Forward = Forward;
      Request.Restart = Forward ? Cursor.FirstPosition : Cursor.LastPosition;
      Request.Bitmap = Cursor.FRecordBitmap.get();
      Result = SearchRecord(Cursor, Request, Info.RecordID);
    }
    if (Result == grrError) return grrError;
    if (Result != grrOK) {
      Info.GetRecordResult = Forward ? grrEOF : grrBOF;
    } else {
      Info.GetRecordMode = grmCurrent;
      Info.FirstPosition = Info.LastPosition = false;
      RM.GetRecordBuffer(Cursor.SessionID(), Info);
    }
  } else {
    NavigateUnrestricted(Cursor, Info);
    if (Restricted && Info.GetRecordResult == grrOK &&
        !IsRecordVisible(Cursor, Cursor.FCurrentRecordBuffer))
      Info.GetRecordResult = grrError;
  }
  ApplyNavigationToCursor(Cursor, Info);
  return Info.GetRecordResult;
}

// ---- counts and record numbers ----

int64_t TVLTTableData::GetRecordCount(TVLTTableCursor& Cursor) {
  TVLTTableDataLatch L(*this);
  CheckedRecordManager(10015);
  if (Cursor.IsViewRestricted()) {
    RefreshRecordBitmap(Cursor);
    return Cursor.FRecordBitmap->GetRecordCount();
  }
  return InternalGetRecordCount(Cursor);
}

void TVLTTableData::SetRecNo(TVLTTableCursor& Cursor, int64_t RecNo) {
  TVLTTableDataLatch L(*this);
  TVLTBaseRecordManager& RM = CheckedRecordManager(10015);
  if (RM.FRecordCount == 0) return;
  const bool Restricted = Cursor.IsViewRestricted();
  const int64_t Count = Restricted ? GetRecordCount(Cursor) : InternalGetRecordCount(Cursor);
  if (Count <= 0) return;
  RecNo = std::clamp<int64_t>(RecNo, 1, Count);
  Cursor.FirstPosition = false;
  Cursor.LastPosition = false;
  TVLTPageItemID RecordID;
  if (Restricted) {
    TVLTRecordBitmap& Bitmap = *Cursor.FRecordBitmap;
    RecordID = RecordIDOfBit(Cursor, Bitmap, Bitmap.GetIndexPosByRecNo(RecNo));
  } else if (Cursor.FIndexID != -1) {
    if (!FIndexManager) VLTRaiseNilPointer(10380);
    RecordID = FIndexManager->OpenIndex(Cursor.FIndexID).GetRecordIDByRecNo(Cursor.SessionID(), RecNo);
  } else {
    InternalSetRecNo(Cursor, RecNo);
    return;
  }
  Cursor.CurrentRecordID = RecordID;
  if (Cursor.FCurrentRecordBuffer) {
    TVLTNavigationInfo Info;
    Info.GetRecordMode = grmCurrent;
    Info.RecordID = RecordID;
    Info.RecordBuffer = Cursor.FCurrentRecordBuffer;
    RM.GetRecordBuffer(Cursor.SessionID(), Info);
  }
}

int64_t TVLTTableData::GetRecNo(TVLTTableCursor& Cursor) {
  TVLTTableDataLatch L(*this);
  TVLTBaseRecordManager& RM = CheckedRecordManager(10015);
  if (Cursor.FirstPosition || Cursor.LastPosition || RM.FRecordCount == 0) return -1;
  const bool Restricted = Cursor.IsViewRestricted();
  if (!Restricted && Cursor.FIndexID == -1) return InternalGetRecNo(Cursor);
  // The current record's values (index positions are found by key).
  TVLTBuffer Scratch(static_cast<size_t>(std::max(RM.FRecordBufferSize, 1)));
  TVLTNavigationInfo Info;
  Info.GetRecordMode = grmCurrent;
  Info.RecordID = Cursor.CurrentRecordID;
  Info.RecordBuffer = Scratch.data();
  RM.GetRecordBuffer(Cursor.SessionID(), Info);
  if (Info.GetRecordResult != grrOK) return -1;
  if (Restricted) {
    RefreshRecordBitmap(Cursor);
    const int64_t BitNo = RecordBitNo(Cursor, Cursor.CurrentRecordID, Scratch.data());
    return Cursor.FRecordBitmap->GetRecNoByIndexPos(BitNo);
  }
  if (!FIndexManager) VLTRaiseNilPointer(10380);
  return FIndexManager->OpenIndex(Cursor.FIndexID)
      .GetRecNoByRecordID(Cursor.SessionID(), Cursor.CurrentRecordID, Scratch.data());
}

// ---- searches ----

bool TVLTTableData::ScanFromStart(TVLTTableCursor& Cursor,
                                  const std::function<bool(const uint8_t*)>& Accepts) {
  TVLTBaseRecordManager& RM = CheckedRecordManager(10015);
  if (!Cursor.FCurrentRecordBuffer) VLTRaiseNilPointer(10016);
  const size_t Size = static_cast<size_t>(std::max(RM.FRecordBufferSize, 1));
  const TVLTPageItemID OldID = Cursor.CurrentRecordID;
  const bool OldFirst = Cursor.FirstPosition, OldLast = Cursor.LastPosition;
  TVLTBuffer OldBuffer(Size);
  std::memcpy(OldBuffer.data(), Cursor.FCurrentRecordBuffer, Size);
  Cursor.FirstPosition = true;
  Cursor.LastPosition = false;
  try {
    while (GetRecordBuffer(Cursor, grmNext) == grrOK)
      if (Accepts(Cursor.FCurrentRecordBuffer)) return true;
  } catch (...) {
    Cursor.CurrentRecordID = OldID;
    Cursor.FirstPosition = OldFirst;
    Cursor.LastPosition = OldLast;
    std::memcpy(Cursor.FCurrentRecordBuffer, OldBuffer.data(), Size);
    throw;
  }
  Cursor.CurrentRecordID = OldID;
  Cursor.FirstPosition = OldFirst;
  Cursor.LastPosition = OldLast;
  std::memcpy(Cursor.FCurrentRecordBuffer, OldBuffer.data(), Size);
  return false;
}

bool TVLTTableData::Locate(TVLTTableCursor& Cursor, const TVLTExpression* SearchExpression) {
  if (!SearchExpression) VLTRaiseNilPointer(10272);
  TVLTTableDataLatch L(*this);
  if (Cursor.FDistinctFieldCount > 0)
    return ScanFromStart(Cursor, [&](const uint8_t* Buffer) {
      return Cursor.SearchExpressionAccepts(*SearchExpression, Buffer);
    });
  TVLTSearchRequest Request;
  Request.Expression = SearchExpression;
  Request.Restart = true;
  TVLTPageItemID RecordID;
  if (SearchRecord(Cursor, Request, RecordID) != grrOK) return false;
  PositionCursor(Cursor, RecordID);
  return true;
}

bool TVLTTableData::FindKey(TVLTTableCursor& Cursor, TVLTSearchCondition SearchCondition) {
  TVLTTableDataLatch L(*this);
  TVLTBaseRecordManager& RM = CheckedRecordManager(10015);
  if (!Cursor.FKeyBuffer) return false;
  TVLTScanSearchCondition Key(true);
  Key.Condition = SearchCondition;
  Key.IndexID = Cursor.FIndexID;
  Key.KeyRecordBuffer = Cursor.FKeyBuffer;
  Key.KeyRecordBufferSize = RM.FRecordBufferSize;
  if (Cursor.FIndexID != -1) {
    if (!FIndexManager) VLTRaiseNilPointer(10380);
    TVLTIndex& Index = FIndexManager->OpenIndex(Cursor.FIndexID);
    Key.KeyFieldCount = LoadLE<int32_t>(Cursor.FKeyBuffer + Cursor.FKeyOffset + 2);
    if (Key.KeyFieldCount <= 0 && Index.IndexDef())
      Key.KeyFieldCount = Index.IndexDef()->ColumnCount();
  }
  if (Cursor.FDistinctFieldCount > 0) {
    if (Cursor.FIndexID == -1)
      throw EVLTException(20258,
                          "No active index is set for Key search. Set Table.IndexName to the "
                          "index on search fields.");
    TVLTIndex& Index = FIndexManager->OpenIndex(Cursor.FIndexID);
    return ScanFromStart(Cursor, [&](const uint8_t* Buffer) {
      const int C = Index.CompareRecordBuffersByIndex(Buffer, Cursor.FKeyBuffer, Key.KeyFieldCount);
      switch (SearchCondition) {
        case scGreater: return C > 0;
        case scGreaterEqual: return C >= 0;
        case scLower: return C < 0;
        case scLowerEqual: return C <= 0;
        default: return C == 0;
      }
    });
  }
  TVLTSearchRequest Request;
  Request.KeyCondition = &Key;
  Request.Restart = true;
  TVLTPageItemID RecordID;
  if (SearchRecord(Cursor, Request, RecordID) != grrOK) return false;
  PositionCursor(Cursor, RecordID);
  return true;
}

// ---- record changes ----

bool TVLTTableData::InsertRecord(TVLTTableCursor& Cursor) {
  TVLTTableDataLatch L(*this);
  if (!FRecordManager) VLTRaiseNilPointer(20135);
  if (!Cursor.FCurrentRecordBuffer) VLTRaiseNilPointer(20136);
  const TVLTSessionID SessionID = Cursor.SessionID();
  SynchronizeForSession(Cursor);
  WriteBLOBs(Cursor);
  TVLTPageItemID NewID;
  if (!FRecordManager->AddRecord(SessionID, Cursor.FCurrentRecordBuffer, NewID)) return false;
  const TVLTPageItemID OldID = Cursor.CurrentRecordID;
  Cursor.CurrentRecordID = NewID;
  try {
    UpdateBitmapForRecord(Cursor);
    if (FIndexManager) FIndexManager->InsertRecord(Cursor);
  } catch (...) {
    // The index manager took the record out of the indexes that had it; the record goes too,
    // so that no record exists that its indexes do not know.
    try {
      DeleteBLOBs(Cursor);
      FRecordManager->DeleteRecord(SessionID, NewID);
    } catch (...) {
      // The error on its way out is the one the caller gets; this clean-up failing adds nothing to
      // it.
    }
    if (Cursor.FRecordBitmap) Cursor.FRecordBitmap->Clear();
    Cursor.CurrentRecordID = OldID;
    throw;
  }
  Cursor.FirstPosition = false;
  Cursor.LastPosition = false;
  SaveMostUpdated(SessionID);
  if (!Cursor.FBatchUpdate) ApplyChanges(SessionID, Cursor.InTransaction());
  return true;
}

bool TVLTTableData::UpdateRecord(TVLTTableCursor& Cursor) {
  TVLTTableDataLatch L(*this);
  if (!FRecordManager) VLTRaiseNilPointer(20138);
  if (!Cursor.FCurrentRecordBuffer) VLTRaiseNilPointer(20139);
  const TVLTSessionID SessionID = Cursor.SessionID();
  if (Cursor.MultiUser()) LoadMostUpdated(SessionID);
  SynchronizeForSession(Cursor);

  if (FIndexManager) FIndexManager->UpdateRecord(Cursor, true);
  // From here the indexes lack the old entries of changed keys; every failure puts them back.
  auto RestoreIndexes = [&]() {
    if (FIndexManager && Cursor.FEditRecordBuffer) FIndexManager->RestoreOldEntries(Cursor);
  };
  bool Stored = false;
  try {
    WriteBLOBs(Cursor);
    Stored = FRecordManager->UpdateRecord(SessionID, Cursor.FCurrentRecordBuffer,
                                          Cursor.CurrentRecordID);
  } catch (...) {
    RestoreIndexes();
    throw;
  }
  if (!Stored) {
    RestoreIndexes();
    return false;
  }
  try {
    if (FIndexManager) FIndexManager->UpdateRecord(Cursor, false);
  } catch (...) {
    // The new entries are out again; the old record and its entries come back.
    if (Cursor.FEditRecordBuffer) {
      try {
        FRecordManager->UpdateRecord(SessionID, Cursor.FEditRecordBuffer, Cursor.CurrentRecordID);
      } catch (...) {
        // The error on its way out is the one the caller gets; this clean-up failing adds nothing
        // to it.
      }
      RestoreIndexes();
    }
    throw;
  }
  UpdateBitmapForRecord(Cursor);
  SaveMostUpdated(SessionID);
  if (!Cursor.FBatchUpdate) ApplyChanges(SessionID, Cursor.InTransaction());
  return true;
}

bool TVLTTableData::DeleteRecord(TVLTTableCursor& Cursor) {
  TVLTTableDataLatch L(*this);
  if (!FRecordManager) VLTRaiseNilPointer(20137);
  if (!Cursor.FCurrentRecordBuffer) VLTRaiseNilPointer(10385);
  const TVLTSessionID SessionID = Cursor.SessionID();
  if (Cursor.MultiUser()) LoadMostUpdated(SessionID);
  SynchronizeForSession(Cursor);

  // Where the cursor goes afterwards: the next record, else the prior one, else the start.
  const size_t Size = static_cast<size_t>(std::max(FRecordManager->FRecordBufferSize, 1));
  TVLTBuffer Neighbour(Size), Saved(Size);
  std::memcpy(Saved.data(), Cursor.FCurrentRecordBuffer, Size);
  uint8_t* const OwnBuffer = Cursor.FCurrentRecordBuffer;
  const TVLTPageItemID RecordID = Cursor.CurrentRecordID;
  const bool First = Cursor.FirstPosition, Last = Cursor.LastPosition;
  std::optional<TVLTPageItemID> NeighbourID;
  auto RestorePosition = [&]() {
    Cursor.FCurrentRecordBuffer = OwnBuffer;
    Cursor.CurrentRecordID = RecordID;
    Cursor.FirstPosition = First;
    Cursor.LastPosition = Last;
  };
  try {
    Cursor.FCurrentRecordBuffer = Neighbour.data();
    if (GetRecordBuffer(Cursor, grmNext) == grrOK) {
      NeighbourID = Cursor.CurrentRecordID;
    } else {
      RestorePosition();
      Cursor.FCurrentRecordBuffer = Neighbour.data();
      if (GetRecordBuffer(Cursor, grmPrior) == grrOK) NeighbourID = Cursor.CurrentRecordID;
    }
  } catch (...) {
    RestorePosition();
    throw;
  }
  RestorePosition();
  std::memcpy(Cursor.FCurrentRecordBuffer, Saved.data(), Size);

  ClearBlobsCacheInRecordBuffer(Cursor.FCurrentRecordBuffer);
  DeleteBLOBs(Cursor);
  if (FIndexManager && !FIndexManager->DeleteRecord(Cursor)) return false;

  TVLTRecordBitmap* Bitmap = Cursor.FRecordBitmap.get();
  const bool BitmapWasCurrent = Bitmap && Bitmap->Active() && !Bitmap->Outdated();
  const int64_t BitNo =
      Bitmap && Bitmap->Active() && !Bitmap->IndexBased() ? RecordIDToBitNo(RecordID) : -1;
  bool Deleted = false;
  try {
    Deleted = FRecordManager->DeleteRecord(SessionID, RecordID);
  } catch (...) {
    if (FIndexManager) FIndexManager->InsertRecord(Cursor);  // the record stays: so do its entries
    throw;
  }
  if (!Deleted) {
    if (FIndexManager) FIndexManager->InsertRecord(Cursor);
    return false;
  }
  SaveMostUpdated(SessionID);
  if (!Cursor.FBatchUpdate) ApplyChanges(SessionID, Cursor.InTransaction());
  if (Bitmap && Bitmap->Active()) {
    if (Bitmap->IndexBased())
      Bitmap->Clear();
    else {
      Bitmap->HideRecord(BitNo);
      if (BitmapWasCurrent && Cursor.FDistinctFieldCount == 0) Bitmap->MarkUpToDate();
    }
  }
  if (!NeighbourID) {
    Cursor.FirstPosition = true;
    Cursor.LastPosition = false;
  } else {
    Cursor.FirstPosition = false;
    Cursor.LastPosition = false;
    Cursor.CurrentRecordID = *NeighbourID;
    std::memcpy(Cursor.FCurrentRecordBuffer, Neighbour.data(), Size);
  }
  return true;
}

TVLTPageItemID TVLTTableData::RecordIDOfBit(TVLTTableCursor& Cursor, const TVLTRecordBitmap& Bitmap,
                                            int64_t BitNo) {
  if (!Bitmap.IndexBased()) return BitNoToRecordID(BitNo);
  TVLTIndex& Index = FIndexManager->OpenIndex(Cursor.FIndexID);
  std::unique_ptr<TVLTIndexPosition> Position = Index.CreateIndexPosition();
  Index.BitNoToIndexPosition(BitNo, *Position);
  return Index.GetRecordIDByIndexPosition(Cursor.SessionID(), *Position);
}

}  // namespace vlt
