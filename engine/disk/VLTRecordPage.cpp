#include "engine/disk/VLTRecordPage.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>

#include "engine/base/VLTErrorCodes.h"
#include "engine/base/VLTExcept.h"
#include "engine/core/VLTPage.h"

namespace vlt {

int32_t CalcMaxRecordsOnPage(int32_t PageDataSize, int32_t DiskRecordBufferSize) {
  if (PageDataSize <= 1 || DiskRecordBufferSize <= 0) return 0;
  const double N = std::trunc((PageDataSize - 1) / (DiskRecordBufferSize + 0.125));
  // A page holds at most 65535 slots (slot numbers are 16-bit).
  return N > 65535 ? 65535 : static_cast<int32_t>(N);
}

TVLTSmallRecordPage::TVLTSmallRecordPage(TVLTPage* Page, int32_t MaxRecordsOnPage,
                                         int32_t RecordBufferSize)
    : LPage(Page),
      FData(Page ? Page->PageData() : nullptr),
      FRecordBufferSize(RecordBufferSize),
      FMaxRecordsOnPage(MaxRecordsOnPage),
      FRecordDataOffset(RecordPageBitmapSize(MaxRecordsOnPage)) {
  if (!FData) VLTRaiseNilPointer(kErrNilRecordPageData);
  if (MaxRecordsOnPage <= 0 || RecordBufferSize <= 0 ||
      int64_t{FRecordDataOffset} + int64_t{MaxRecordsOnPage} * RecordBufferSize >
          Page->PageDataSize())
    throw EVLTException(kErrInvalidNumberRecordsPage, "Invalid number of records on page");
}

bool TVLTSmallRecordPage::IsSlotUsed(int32_t S) const {
  return S >= 0 && S < FMaxRecordsOnPage && ((FData[S / 8] >> (S % 8)) & 1);
}

void TVLTSmallRecordPage::SetSlotUsed(int32_t S, bool Used) {
  if (Used)
    FData[S / 8] |= static_cast<uint8_t>(1u << (S % 8));
  else
    FData[S / 8] &= static_cast<uint8_t>(~(1u << (S % 8)));
}

uint8_t* TVLTSmallRecordPage::Slot(int32_t S) const {
  return FData + FRecordDataOffset + static_cast<size_t>(S) * static_cast<size_t>(FRecordBufferSize);
}

bool TVLTSmallRecordPage::ValidSlot(const TVLTPageItemID& RecordID) const {
  return RecordID.PageNo == LPage->PageNo() && RecordID.PageItemNo < FMaxRecordsOnPage;
}

int32_t TVLTSmallRecordPage::GetRecordCount() const {
  int32_t N = 0;
  const int32_t Full = FMaxRecordsOnPage / 8;
  for (int32_t I = 0; I < Full; ++I) N += std::popcount(FData[I]);
  for (int32_t S = Full * 8; S < FMaxRecordsOnPage; ++S) N += IsSlotUsed(S) ? 1 : 0;
  return N;
}

bool TVLTSmallRecordPage::AddRecord(const uint8_t* RecordBuffer, TVLTPageItemID& RecordID) {
  for (int32_t S = 0; S < FMaxRecordsOnPage; ++S) {
    if (S % 8 == 0 && FData[S / 8] == 0xFF && S + 8 <= FMaxRecordsOnPage) {
      S += 7;
      continue;
    }
    if (IsSlotUsed(S)) continue;
    std::memcpy(Slot(S), RecordBuffer, static_cast<size_t>(FRecordBufferSize));
    SetSlotUsed(S, true);
    RecordID.PageNo = LPage->PageNo();
    RecordID.PageItemNo = static_cast<uint16_t>(S);
    return true;
  }
  return false;
}

bool TVLTSmallRecordPage::UpdateRecord(const uint8_t* RecordBuffer, const TVLTPageItemID& RecordID) {
  if (!ValidSlot(RecordID) || !IsSlotUsed(RecordID.PageItemNo)) return false;
  std::memcpy(Slot(RecordID.PageItemNo), RecordBuffer, static_cast<size_t>(FRecordBufferSize));
  return true;
}

bool TVLTSmallRecordPage::DeleteRecord(const TVLTPageItemID& RecordID) {
  if (!ValidSlot(RecordID) || !IsSlotUsed(RecordID.PageItemNo)) return false;
  SetSlotUsed(RecordID.PageItemNo, false);
  return true;
}

bool TVLTSmallRecordPage::GetRecordBuffer(const TVLTPageItemID& RecordID,
                                          uint8_t* RecordBuffer) const {
  if (!ValidSlot(RecordID) || !IsSlotUsed(RecordID.PageItemNo)) return false;
  if (RecordBuffer)
    std::memcpy(RecordBuffer, Slot(RecordID.PageItemNo), static_cast<size_t>(FRecordBufferSize));
  return true;
}

bool TVLTSmallRecordPage::GetFirstRecordID(TVLTPageItemID& RecordID) const {
  for (int32_t S = 0; S < FMaxRecordsOnPage; ++S)
    if (IsSlotUsed(S)) {
      RecordID = {LPage->PageNo(), static_cast<uint16_t>(S)};
      return true;
    }
  return false;
}

bool TVLTSmallRecordPage::GetLastRecordID(TVLTPageItemID& RecordID) const {
  for (int32_t S = FMaxRecordsOnPage - 1; S >= 0; --S)
    if (IsSlotUsed(S)) {
      RecordID = {LPage->PageNo(), static_cast<uint16_t>(S)};
      return true;
    }
  return false;
}

bool TVLTSmallRecordPage::GetNextRecordID(TVLTPageItemID& RecordID) const {
  for (int32_t S = int32_t{RecordID.PageItemNo} + 1; S < FMaxRecordsOnPage; ++S)
    if (IsSlotUsed(S)) {
      RecordID = {LPage->PageNo(), static_cast<uint16_t>(S)};
      return true;
    }
  return false;
}

bool TVLTSmallRecordPage::GetPriorRecordID(TVLTPageItemID& RecordID) const {
  for (int32_t S = std::min<int32_t>(RecordID.PageItemNo, FMaxRecordsOnPage) - 1; S >= 0; --S)
    if (IsSlotUsed(S)) {
      RecordID = {LPage->PageNo(), static_cast<uint16_t>(S)};
      return true;
    }
  return false;
}

bool TVLTSmallRecordPage::GetRecordID(int32_t RecNoOnPage, TVLTPageItemID& RecordID) const {
  if (RecNoOnPage < 0) return false;
  int32_t Seen = 0;
  for (int32_t S = 0; S < FMaxRecordsOnPage; ++S)
    if (IsSlotUsed(S) && Seen++ == RecNoOnPage) {
      RecordID = {LPage->PageNo(), static_cast<uint16_t>(S)};
      return true;
    }
  return false;
}

int32_t TVLTSmallRecordPage::GetRecNoOnPage(const TVLTPageItemID& RecordID) const {
  int32_t N = 0;
  const int32_t End = std::min<int32_t>(RecordID.PageItemNo, FMaxRecordsOnPage);
  for (int32_t S = 0; S < End; ++S) N += IsSlotUsed(S) ? 1 : 0;
  return N;
}

}  // namespace vlt
