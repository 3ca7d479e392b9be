#include "engine/core/VLTRecordBitmap.h"

#include "engine/core/VLTTableData.h"

namespace vlt {

bool TVLTRecordBitmap::Outdated() const {
  TVLTBaseRecordManager* RM = FTableData ? FTableData->RecordManager() : nullptr;
  return !RM || FTableState != RM->FTableState;
}

void TVLTRecordBitmap::MarkUpToDate() {
  TVLTBaseRecordManager* RM = FTableData ? FTableData->RecordManager() : nullptr;
  FTableState = RM ? RM->FTableState : -1;
}

void TVLTRecordBitmap::Clear() {
  FBitmap.SetSize(0);
  FActive = false;
  FTableState = -1;
}

void TVLTRecordBitmap::SetBitGrowing(int64_t BitNo, bool Value) {
  if (BitNo < 0) return;
  if (BitNo >= FBitmap.BitCount()) FBitmap.SetSize(BitNo + 1);
  FBitmap.SetBit(BitNo, Value);
}

int64_t TVLTRecordBitmap::GetRecNoByIndexPos(int64_t BitNo) const {
  if (BitNo < 0 || BitNo >= FBitmap.BitCount()) return -1;
  return FBitmap.GetBitPositionByBitNo(BitNo) + 1;
}

int64_t TVLTRecordBitmap::GetRecNoByRecordID(const TVLTPageItemID& RecordID) const {
  return GetRecNoByIndexPos(FTableData->RecordIDToBitNo(RecordID));
}

int64_t TVLTRecordBitmap::GetIndexPosByRecNo(int64_t RecNo) const {
  return FBitmap.GetBitNoByBitPosition(RecNo - 1);
}

TVLTPageItemID TVLTRecordBitmap::GetRecordIDByRecNo(int64_t RecNo) const {
  return FTableData->BitNoToRecordID(GetIndexPosByRecNo(RecNo));
}

bool TVLTRecordBitmap::IsRecordVisible(int64_t IndexBitNo) const {
  return IndexBitNo >= 0 && IndexBitNo < FBitmap.BitCount() && FBitmap.GetBit(IndexBitNo);
}

bool TVLTRecordBitmap::IsRecordVisible(const TVLTPageItemID& RecordID) const {
  return IsRecordVisible(FTableData->RecordIDToBitNo(RecordID));
}

void TVLTRecordBitmap::ShowRecord(const TVLTPageItemID& RecordID) {
  if (FIndexBased) {
    Clear();
    return;
  }
  SetBitGrowing(FTableData->RecordIDToBitNo(RecordID), true);
}

void TVLTRecordBitmap::HideRecord(const TVLTPageItemID& RecordID) {
  if (FIndexBased) {
    Clear();
    return;
  }
  SetBitGrowing(FTableData->RecordIDToBitNo(RecordID), false);
}

void TVLTRecordBitmap::ShowRecord(int64_t IndexBitNo) {
  if (FIndexBased) {
    Clear();
    return;
  }
  SetBitGrowing(IndexBitNo, true);
}

void TVLTRecordBitmap::HideRecord(int64_t IndexBitNo) {
  if (FIndexBased) {
    Clear();
    return;
  }
  SetBitGrowing(IndexBitNo, false);
}

void TVLTRecordBitmap::FindRecord(bool Restart, bool GoForward, bool& Found,
                                  int64_t& CurrentIndexBitNo) const {
  int64_t BitNo = -1;
  Found = FBitmap.Find(Restart, GoForward, CurrentIndexBitNo, BitNo);
  if (Found) CurrentIndexBitNo = BitNo;
}

void TVLTRecordBitmap::FindRecord(bool Restart, bool GoForward, bool& Found,
                                  TVLTPageItemID& Current) const {
  int64_t BitNo = Restart ? -1 : FTableData->RecordIDToBitNo(Current);
  FindRecord(Restart, GoForward, Found, BitNo);
  if (Found) Current = FTableData->BitNoToRecordID(BitNo);
}

}  // namespace vlt
