// TVLTTableData: the one search procedure behind navigation of restricted views, Locate, FindKey
// and record bitmaps.
//
//   STEP  WHAT
//   1     an empty table finds nothing
//   2     a bitmap in bitmap mode or outdated is cleared; an active one is walked instead
//   3     collect: key condition, expressions (Locate's, filter, SQL filter), range, distinct
//   4     the expressions add the index conditions they can answer
//   5     merge the conditions of each index (MergeIndexConditions); empty: nothing found
//   6     choose the driving range: unique equality, the single condition on the active index,
//         else the cheapest range by estimated page reads, unless a full scan is cheaper
//   7     drop the unchosen expression conditions, take the chosen nodes out of their
//         expressions (they are put back after the scan, also on errors)
//   8     scan: no range / range on the active index / range with physical order / range on
//         another index than the cursor's
//   9     test each candidate against everything the range does not guarantee
#include <algorithm>
#include <cstring>
#include <limits>

#include "engine/base/VLTExcept.h"
#include "engine/base/VLTMemory.h"
#include "engine/core/VLTPageManager.h"
#include "engine/core/VLTScanSearchCondition.h"
#include "engine/core/VLTTableData.h"
#include "engine/expr/VLTExpression.h"

namespace vlt {

namespace {

bool IsLowerBound(TVLTSearchCondition C) { return C == scGreater || C == scGreaterEqual; }
bool IsUpperBound(TVLTSearchCondition C) { return C == scLower || C == scLowerEqual; }

bool MeetsCondition(int Compare, TVLTSearchCondition Condition) {
  switch (Condition) {
    case scEqual: return Compare == 0;
    case scLower: return Compare < 0;
    case scGreater: return Compare > 0;
    case scLowerEqual: return Compare <= 0;
    case scGreaterEqual: return Compare >= 0;
    default: return true;
  }
}

// A pair of conditions of one index as (lower, upper) bound. A lower-bound kind first is the
// lower one, an upper-bound kind first the upper one; an equality is the lower bound unless the
// other condition is a lower bound itself.
void OrderPair(const TVLTScanSearchConditionArray& A, int32_t I, int32_t J, int32_t& Lower,
               int32_t& Upper) {
  const TVLTSearchCondition CI = A.Items[static_cast<size_t>(I)]->Condition;
  const TVLTSearchCondition CJ = A.Items[static_cast<size_t>(J)]->Condition;
  bool IFirst;
  if (IsLowerBound(CI))
    IFirst = true;
  else if (IsUpperBound(CI))
    IFirst = false;
  else
    IFirst = !IsLowerBound(CJ);
  Lower = IFirst ? I : J;
  Upper = IFirst ? J : I;
}

bool IsAutoincField(TVLTBaseFieldManager* FM, const std::string& Name) {
  if (!FM) return false;
  const TVLTFieldDef* F = FM->FieldDefs().GetFieldDefByName(Name);
  return F && IsAutoincAdvancedType(F->FAdvancedFieldType);
}

void SaveKey(std::vector<uint8_t>& To, const TVLTScanSearchCondition& C) {
  if (C.KeyRecordBuffer && C.KeyRecordBufferSize > 0)
    To.assign(C.KeyRecordBuffer, C.KeyRecordBuffer + C.KeyRecordBufferSize);
  else
    To.clear();
}

}  // namespace

int32_t TVLTTableData::GetDiskRecordSize() {
  return FRecordManager ? FRecordManager->FRecordBufferSize : 0;
}

TVLTGetRecordResult TVLTTableData::WalkRecordBitmap(TVLTTableCursor& Cursor,
                                                    TVLTRecordBitmap& Bitmap, bool Forward,
                                                    bool Restart, TVLTPageItemID& RecordID) {
  int64_t BitNo = -1;
  if (!Restart) {
    BitNo = RecordBitNo(Cursor, Cursor.CurrentRecordID, Cursor.FCurrentRecordBuffer);
    if (BitNo < 0) return grrError;
  }
  bool Found = false;
  Bitmap.FindRecord(Restart, Forward, Found, BitNo);
  if (!Found) return grrEOF;
  RecordID = RecordIDOfBit(Cursor, Bitmap, BitNo);
  return grrOK;
}

void TVLTTableData::ChooseDrivingRange(TVLTTableCursor& Cursor, const TVLTSearchRequest& Request,
                                       TVLTScanSearchConditionArray& A, int32_t& StartNo,
                                       int32_t& EndNo) {
  StartNo = EndNo = -1;
  int32_t IndexConditions = 0;
  while (IndexConditions < A.Count() && A[IndexConditions].IndexID != -1) ++IndexConditions;
  if (IndexConditions == 0 || Cursor.FPlainScans) return;
  const TVLTSessionID SessionID = Cursor.SessionID();
  auto Walkable = [&](int32_t No) { return FIndexManager->OpenIndex(A[No].IndexID).GetEntrySize() > 0; };

  // A unique equality finds at most one record: no estimate is needed.
  for (int32_t I = 0; I < IndexConditions; ++I) {
    if (A[I].Condition != scEqual || !Walkable(I)) continue;
    const TVLTIndexDef* Def = FIndexManager->OpenIndex(A[I].IndexID).IndexDef();
    if (!Def || Def->ColumnCount() != 1) continue;
    if (Def->FUnique || Def->FPrimary ||
        IsAutoincField(FFieldManager.get(), Def->FIndexColumns[0].FFieldName)) {
      StartNo = I;
      return;
    }
  }
  // The common case of one condition on the index the cursor walks anyway.
  if (IndexConditions == 1 && A[0].IndexID == Cursor.FIndexID && Walkable(0)) {
    StartNo = 0;
    return;
  }

  TVLTBaseRecordManager& RM = CheckedRecordManager(10015);
  const double N = static_cast<double>(RM.FRecordCount);
  const double PageDataSize = FPageManager ? FPageManager->PageDataSize() : 0;
  const double RecordSize = GetDiskRecordSize();
  double Best = N;
  for (int32_t I = 0; I < IndexConditions;) {
    const int32_t J = I + 1 < IndexConditions && A[I + 1].IndexID == A[I].IndexID ? I + 1 : -1;
    TVLTIndex& Index = FIndexManager->OpenIndex(A[I].IndexID);
    const double EntrySize = Index.GetEntrySize();
    if (EntrySize > 0 && PageDataSize > 0) {
      int32_t First = I, Second = I;
      if (J >= 0) {
        int32_t Lower = I, Upper = J;
        OrderPair(A, I, J, Lower, Upper);
        // The index judges the order by the first condition's kind.
        First = IsLowerBound(A[Lower].Condition) ? Lower : Upper;
        Second = First == Lower ? Upper : Lower;
      }
      const double E = static_cast<double>(
          Index.GetApproxRangeRecordCount(SessionID, A[First], A[Second], RM.FRecordCount));
      A.ExtractChosenConditionsFromExpressions(I, J);
      const bool OtherTests = A.HasOtherTests(I, J) || static_cast<bool>(Cursor.FilterRecord);
      A.ReturnExtractedConditionsToExpressions();
      const bool OtherIndex = Cursor.FIndexID != -1 && A[I].IndexID != Cursor.FIndexID;
      double Cost = E * EntrySize / PageDataSize;
      if (OtherTests || OtherIndex) Cost += E * RecordSize / PageDataSize;
      if (OtherIndex) Cost += E * EntrySize / PageDataSize;
      if (Cost < Best) {
        Best = Cost;
        StartNo = I;
        EndNo = J;
      }
    }
    I = J >= 0 ? J + 1 : I + 1;
  }
  if (StartNo >= 0 && PageDataSize > 0) {
    // What a full scan from the current position costs.
    double Position = Request.Forward ? 0 : N;
    if (!Request.Restart) {
      if (Cursor.FIndexID == -1) {
        Position = static_cast<double>(RM.GetApproximateRecNo(SessionID, Cursor.CurrentRecordID));
      } else {
        const double P = FIndexManager->OpenIndex(Cursor.FIndexID)
                             .GetApproxRecordPosition(SessionID, Cursor.CurrentRecordID);
        Position = P < 0 ? 0 : P * N;
      }
    }
    const double Remaining = std::max(0.0, Request.Forward ? N - Position : Position);
    const double Full = Cursor.FIndexID == -1 ? Remaining * RecordSize / PageDataSize : Remaining;
    if (Full < Best) StartNo = EndNo = -1;
  }
  if (StartNo >= 0 && EndNo >= 0) {
    int32_t Lower = StartNo, Upper = EndNo;
    OrderPair(A, StartNo, EndNo, Lower, Upper);
    StartNo = Request.Forward ? Lower : Upper;
    EndNo = Request.Forward ? Upper : Lower;
  }
}

TVLTGetRecordResult TVLTTableData::SearchRecord(TVLTTableCursor& Cursor,
                                                const TVLTSearchRequest& Request,
                                                TVLTPageItemID& RecordID) {
  TVLTBaseRecordManager& RM = CheckedRecordManager(10015);
  TVLTSearchStatistics& Stats = Cursor.FSearchStatistics;
  ++Stats.Searches;
  Stats.IndexID = -1;
  Stats.Empty = false;
  Stats.StartKey.clear();
  Stats.EndKey.clear();
  if (RM.FRecordCount == 0) return grrEOF;

  TVLTSearchRequest R = Request;
  TVLTRecordBitmap* Bitmap = R.Bitmap;
  if (R.BitmapMode) {
    if (!Bitmap) VLTRaiseNilPointer(10015);
    R.Forward = true;
    R.Restart = true;
  }
  if (Bitmap && (R.BitmapMode || Bitmap->Outdated())) {
    Bitmap->Clear();
    Bitmap->MarkUpToDate();
    Bitmap->SetIndexBased(Cursor.FIndexID != -1);
    if (!Bitmap->IndexBased()) Bitmap->SetSize(GetRecordBitmapSize());
  }
  if (Bitmap && Bitmap->Active() && !R.BitmapMode)
    return WalkRecordBitmap(Cursor, *Bitmap, R.Forward, R.Restart, RecordID);
  const TVLTSessionID SessionID = Cursor.SessionID();

  // ---- collect ----
  TVLTScanSearchConditionArray A;
  if (R.KeyCondition) {
    if (R.KeyCondition->IndexID == -1)
      throw EVLTException(20258,
                          "No active index is set for Key search. Set Table.IndexName to the "
                          "index on search fields.");
    A.AddCondition(*R.KeyCondition);
  }
  for (const TVLTExpression* E : {R.Expression, static_cast<const TVLTExpression*>(Cursor.FilterExpression()),
                                  static_cast<const TVLTExpression*>(Cursor.SQLFilterExpression())})
    if (E) A.AddExpression(const_cast<TVLTExpression*>(E));
  if (Cursor.FIndexID != -1 && FIndexManager) {
    TVLTIndex& Index = FIndexManager->OpenIndex(Cursor.FIndexID);
    const int32_t All = Index.IndexDef() ? Index.IndexDef()->ColumnCount() : 0;
    auto AddBound = [&](uint8_t* Buffer, int32_t Count, TVLTSearchCondition Condition) {
      TVLTScanSearchCondition C(true);
      C.KeyRecordBuffer = Buffer;
      C.KeyRecordBufferSize = RM.FRecordBufferSize;
      C.KeyFieldCount = Count > 0 ? Count : All;
      C.IndexID = Cursor.FIndexID;
      C.Condition = Condition;
      A.AddCondition(C);
    };
    if (Cursor.FRangeStartBuffer)
      AddBound(Cursor.FRangeStartBuffer, Cursor.FRangeStartKeyFieldCount,
               Cursor.FRangeStartExclusive ? scGreater : scGreaterEqual);
    if (Cursor.FRangeEndBuffer)
      AddBound(Cursor.FRangeEndBuffer, Cursor.FRangeEndKeyFieldCount,
               Cursor.FRangeEndExclusive ? scLower : scLowerEqual);
    // Moving on from a group of a distinct view skips the rest of that group.
    if (Cursor.FDistinctFieldCount > 0 && Cursor.FDistinctRecordBuffer && !R.BitmapMode &&
        !R.Restart && R.Forward && !Cursor.FirstPosition && !Cursor.LastPosition)
      AddBound(Cursor.FDistinctRecordBuffer, Cursor.FDistinctFieldCount, scGreater);
  }
  if (FIndexManager && A.Count() > 0)
    A.CreateIndexScanConditionsFromExpressions(FIndexManager->IndexDefs(), SessionID);

  // ---- merge, choose ----
  auto CompareKeys = [&](const TVLTScanSearchCondition& X, const TVLTScanSearchCondition& Y,
                         int32_t Count) {
    return FIndexManager->OpenIndex(X.IndexID)
        .CompareRecordBuffersByIndex(X.KeyRecordBuffer, Y.KeyRecordBuffer, Count);
  };
  if (!A.MergeIndexConditions(CompareKeys)) {
    Stats.Empty = true;
    if (R.BitmapMode) Bitmap->SetActive(true);
    return grrEOF;
  }
  int32_t StartNo = -1, EndNo = -1;
  ChooseDrivingRange(Cursor, R, A, StartNo, EndNo);
  A.RemoveUnusedConditionsCreatedFromExpressions(StartNo, EndNo);
  if (StartNo >= A.Count() || EndNo >= A.Count())
    throw EVLTException(10382, "Invalid condition number = %d, count = %d",
                        {int64_t{std::max(StartNo, EndNo)}, int64_t{A.Count()}});
  const TVLTScanSearchCondition* Start = StartNo >= 0 ? &A[StartNo] : nullptr;
  const TVLTScanSearchCondition* End = EndNo >= 0 ? &A[EndNo] : nullptr;
  if (Start) {
    Stats.IndexID = Start->IndexID;
    Stats.StartCondition = Start->Condition;
    Stats.StartKeyFieldCount = Start->KeyFieldCount;
    SaveKey(Stats.StartKey, *Start);
    Stats.EndCondition = End ? End->Condition : scNone;
    Stats.EndKeyFieldCount = End ? End->KeyFieldCount : 0;
    if (End) SaveKey(Stats.EndKey, *End);
  }
  A.ExtractChosenConditionsFromExpressions(StartNo, EndNo);

  TVLTGetRecordResult Result = grrEOF;
  try {
    // ---- record test ----
    std::vector<int32_t> Tests;
    for (int32_t I = 0; I < A.Count(); ++I) {
      if (I == StartNo || I == EndNo) continue;
      const TVLTScanSearchCondition& C = A[I];
      if (C.IndexID != -1 || (C.Expression && !C.Expression->IsEmptyAfterExtraction()))
        Tests.push_back(I);
    }
    const bool NeedRecord = !Tests.empty() || static_cast<bool>(Cursor.FilterRecord);
    TVLTBuffer Scratch(static_cast<size_t>(std::max(RM.FRecordBufferSize, 1)));
    auto Accepts = [&](const uint8_t* Buffer) {
      for (int32_t I : Tests) {
        const TVLTScanSearchCondition& C = A[I];
        if (C.IndexID != -1) {
          const int Cmp = FIndexManager->OpenIndex(C.IndexID)
                              .CompareRecordBuffersByIndex(Buffer, C.KeyRecordBuffer,
                                                           C.KeyFieldCount);
          if (!MeetsCondition(Cmp, C.Condition)) return false;
        } else if (!Cursor.SearchExpressionAccepts(*C.Expression, Buffer)) {
          return false;
        }
      }
      return !Cursor.FilterRecord || Cursor.FilterRecord(Buffer);
    };
    auto ReadRecord = [&](const TVLTPageItemID& ID) {
      TVLTNavigationInfo Info;
      Info.GetRecordMode = grmCurrent;
      Info.RecordID = ID;
      Info.RecordBuffer = Scratch.data();
      RM.GetRecordBuffer(SessionID, Info);
      ++Stats.RecordsVisited;
      return Info.GetRecordResult == grrOK;
    };
    // Read and test a candidate of a range walk (no read when the range guarantees it all).
    auto TestCandidate = [&](const TVLTPageItemID& ID, bool& Read) {
      Read = false;
      if (!NeedRecord) return true;
      if (!ReadRecord(ID)) return false;
      Read = true;
      return Accepts(Scratch.data());
    };
    auto SetBit = [&](int64_t BitNo) {
      if (BitNo >= 0) Bitmap->SetBitValue(BitNo, true);
    };

    if (!Start) {
      // ---- no driving range: the cursor's own order ----
      TVLTNavigationInfo Info;
      Info.IndexID = Cursor.FIndexID;
      Info.RecordID = Cursor.CurrentRecordID;
      Info.RecordBuffer = Scratch.data();
      Info.FirstPosition = R.Restart ? R.Forward : Cursor.FirstPosition;
      Info.LastPosition = R.Restart ? !R.Forward : Cursor.LastPosition;
      for (;;) {
        Info.GetRecordMode = R.Forward ? grmNext : grmPrior;
        NavigateUnrestricted(Cursor, Info);
        if (Info.GetRecordResult == grrError) {
          Result = grrError;
          break;
        }
        if (Info.GetRecordResult != grrOK) break;
        ++Stats.RecordsVisited;
        if (Cursor.FIndexID != -1) ++Stats.IndexEntriesVisited;
        if (!Accepts(Scratch.data())) continue;
        if (R.BitmapMode) {
          SetBit(RecordBitNo(Cursor, Info.RecordID, Scratch.data()));
          continue;
        }
        RecordID = Info.RecordID;
        Result = grrOK;
        break;
      }
    } else {
      TVLTIndex& Index = FIndexManager->OpenIndex(Start->IndexID);
      std::unique_ptr<TVLTIndexSearchInfo> Info = Index.CreateSearchInfo();
      if (!Info) VLTRaiseNilPointer(20058);
      TVLTPageItemID ID;
      bool Read = false;
      if (Start->IndexID == Cursor.FIndexID || (R.BitmapMode && Cursor.FIndexID == -1)) {
        // ---- the range lies on the cursor's own order (or order does not matter) ----
        bool Restart = R.Restart;
        while (Index.FindRecord(SessionID, Info.get(), Restart, R.Forward, Start, End,
                                Cursor.CurrentRecordID, Cursor.FCurrentRecordBuffer, ID)) {
          Restart = false;
          if (!TestCandidate(ID, Read)) continue;
          if (R.BitmapMode) {
            SetBit(Bitmap->IndexBased() ? Index.SearchInfoBitNo(*Info) : RecordIDToBitNo(ID));
            continue;
          }
          RecordID = ID;
          Result = grrOK;
          break;
        }
      } else if (Cursor.FIndexID == -1) {
        // ---- physical order: the nearest accepted record identifier ----
        const TVLTIndexDef* Def = Index.IndexDef();
        const bool AtOnce = Start->Condition == scEqual && !Start->PartialCompare && Def &&
                            Def->ColumnCount() == 1;
        bool Have = false;
        TVLTPageItemID Best;
        bool Restart = true;
        while (Index.FindRecord(SessionID, Info.get(), Restart, R.Forward, Start, End,
                                Cursor.CurrentRecordID, Cursor.FCurrentRecordBuffer, ID)) {
          Restart = false;
          if (!R.Restart) {
            const int C = RM.CompareRecordID(ID, Cursor.CurrentRecordID);
            if (R.Forward ? C <= 0 : C >= 0) continue;
          }
          if (Have) {
            const int C = RM.CompareRecordID(ID, Best);
            if (R.Forward ? C >= 0 : C <= 0) continue;
          }
          if (!TestCandidate(ID, Read)) continue;
          Best = ID;
          Have = true;
          // Equal keys of a one-column index come in record-identifier order.
          if (AtOnce) break;
        }
        if (Have) {
          RecordID = Best;
          Result = grrOK;
        }
      } else {
        // ---- another index than the cursor's: the nearest position in the cursor's index ----
        TVLTIndex& Own = FIndexManager->OpenIndex(Cursor.FIndexID);
        std::unique_ptr<TVLTIndexPosition> Position = Own.CreateIndexPosition();
        int64_t Current = 0;
        if (!R.Restart && !R.BitmapMode) {
          if (!Own.GetIndexPosition(SessionID, Cursor.CurrentRecordID, *Position, nullptr)) {
            Result = grrError;
            Index.FreeSearchInfo(Info);
            A.ReturnExtractedConditionsToExpressions();
            return Result;
          }
          Current = Own.IndexPositionToBitNo(*Position);
        }
        bool Have = false;
        int64_t BestBitNo = 0;
        TVLTPageItemID Best;
        bool Restart = true;
        while (Index.FindRecord(SessionID, Info.get(), Restart, R.Forward, Start, End,
                                Cursor.CurrentRecordID, Cursor.FCurrentRecordBuffer, ID)) {
          Restart = false;
          if (!TestCandidate(ID, Read)) continue;
          if (!Own.GetIndexPosition(SessionID, ID, *Position, Read ? Scratch.data() : nullptr))
            throw EVLTException(10387, "Cannot find record position in index %d, RecordID = %d %d",
                                {int64_t{Cursor.FIndexID}, int64_t{ID.PageNo},
                                 int64_t{ID.PageItemNo}});
          const int64_t BitNo = Own.IndexPositionToBitNo(*Position);
          if (R.BitmapMode) {
            SetBit(BitNo);
            continue;
          }
          if (!R.Restart && (R.Forward ? BitNo <= Current : BitNo >= Current)) continue;
          if (Have && (R.Forward ? BitNo >= BestBitNo : BitNo <= BestBitNo)) continue;
          Have = true;
          BestBitNo = BitNo;
          Best = ID;
        }
        if (Have) {
          RecordID = Best;
          Result = grrOK;
        }
      }
      Stats.IndexEntriesVisited += Info->EntriesVisited;
      Index.FreeSearchInfo(Info);
    }
    if (R.BitmapMode && Result != grrError) {
      Bitmap->SetActive(true);
      if (Bitmap->IndexBased() && Cursor.FDistinctFieldCount > 0)
        FIndexManager->OpenIndex(Cursor.FIndexID)
            .ApplyDistinctToRecordBitmap(SessionID, Bitmap, Cursor.FDistinctFieldCount);
      Result = grrEOF;
    }
  } catch (...) {
    A.ReturnExtractedConditionsToExpressions();
    throw;
  }
  A.ReturnExtractedConditionsToExpressions();
  return Result;
}

void TVLTTableData::PositionCursor(TVLTTableCursor& Cursor, const TVLTPageItemID& RecordID) {
  Cursor.CurrentRecordID = RecordID;
  Cursor.FirstPosition = false;
  Cursor.LastPosition = false;
  if (!Cursor.FCurrentRecordBuffer) return;
  TVLTNavigationInfo Info;
  Info.GetRecordMode = grmCurrent;
  Info.RecordID = RecordID;
  Info.RecordBuffer = Cursor.FCurrentRecordBuffer;
  CheckedRecordManager(10015).GetRecordBuffer(Cursor.SessionID(), Info);
}

}  // namespace vlt
