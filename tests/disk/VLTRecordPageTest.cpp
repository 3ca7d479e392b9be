// Record pages: slots per page, the presence bitmap, slot reuse and walking the used slots.
#include "engine/disk/VLTRecordPage.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "VLTDiskTestUtil.h"
#include "engine/core/VLTPage.h"

namespace vlt {
namespace {

using test::CodeOf;
using test::kSys;

TEST(RecordPageGeometry, SlotsPerPage) {
  struct {
    int32_t DataSize, RecordSize, Slots;
  } Cases[] = {
      {4056, 100, 40},     // Trunc(4055 / 100.125)
      {4056, 4054, 1},     // one record and one bitmap byte
      {4056, 4055, 0},     // PageDataSize - 1: the table cannot exist
      {4056, 4056, 0},
      {472, 1, 418},       // Trunc(471 / 1.125)
      {472, 470, 1},
      {472, 471, 0},
      {65495, 1, 58216},   // Trunc(65494 / 1.125)
      {472, 0, 0},
  };
  for (const auto& C : Cases) {
    SCOPED_TRACE(testing::Message() << C.DataSize << " / " << C.RecordSize);
    const int32_t Slots = CalcMaxRecordsOnPage(C.DataSize, C.RecordSize);
    EXPECT_EQ(Slots, C.Slots);
    // Whatever the count, bitmap and slots fit the page data.
    EXPECT_LE(RecordPageBitmapSize(Slots) + int64_t{Slots} * C.RecordSize, C.DataSize);
  }
  EXPECT_EQ(RecordPageBitmapSize(40), 5);
  EXPECT_EQ(RecordPageBitmapSize(41), 6);
}

class RecordPage : public test::DiskTest {
 protected:
  void SetUp() override {
    DiskTest::SetUp();
    M = Create(512);
    Page = M->AddPage(kSys, ptTableRecord);
    std::memset(Page->PageData(), 0xEE, Page->PageDataSize());  // free slots mean nothing
    std::memset(Page->PageData(), 0, static_cast<size_t>(RecordPageBitmapSize(kSlots)));
  }
  void TearDown() override {
    M->PutPage(Page);
    M->CancelChanges(kSys);
    M.reset();
    DiskTest::TearDown();
  }
  static std::vector<uint8_t> Rec(uint8_t V) { return std::vector<uint8_t>(kSize, V); }
  std::vector<uint16_t> UsedSlots(const TVLTSmallRecordPage& V) {
    std::vector<uint16_t> Out;
    TVLTPageItemID ID;
    if (!V.GetFirstRecordID(ID)) return Out;
    do Out.push_back(ID.PageItemNo);
    while (V.GetNextRecordID(ID));
    return Out;
  }

  static constexpr int32_t kSize = 45;  // Trunc(471 / 45.125) = 10 slots
  static constexpr int32_t kSlots = 10;
  std::unique_ptr<TVLTDiskPageManager> M;
  TVLTPage* Page = nullptr;
};

TEST_F(RecordPage, FillsExactlyAndReusesTheLowestFreeSlot) {
  ASSERT_EQ(CalcMaxRecordsOnPage(Page->PageDataSize(), kSize), kSlots);
  TVLTSmallRecordPage V(Page, kSlots, kSize);
  EXPECT_EQ(V.RecordDataOffset(), 2);
  TVLTPageItemID ID;
  for (int I = 0; I < kSlots; ++I) {
    ASSERT_TRUE(V.AddRecord(Rec(static_cast<uint8_t>(I)).data(), ID));
    EXPECT_EQ(ID, (TVLTPageItemID{Page->PageNo(), static_cast<uint16_t>(I)}));
  }
  EXPECT_EQ(V.GetRecordCount(), kSlots);
  EXPECT_FALSE(V.AddRecord(Rec(99).data(), ID));
  // Slot i lies at B + i * R, the bitmap is least significant bit first.
  EXPECT_EQ(Page->PageData()[0], 0xFF);
  EXPECT_EQ(Page->PageData()[1], 0x03);
  EXPECT_EQ(Page->PageData()[2 + 7 * kSize], 7);

  ASSERT_TRUE(V.DeleteRecord({Page->PageNo(), 3}));
  EXPECT_FALSE(V.DeleteRecord({Page->PageNo(), 3}));
  EXPECT_EQ(Page->PageData()[0], 0xF7);
  ASSERT_TRUE(V.AddRecord(Rec(42).data(), ID));
  EXPECT_EQ(ID.PageItemNo, 3);
  std::vector<uint8_t> Out(kSize);
  ASSERT_TRUE(V.GetRecordBuffer(ID, Out.data()));
  EXPECT_EQ(Out, Rec(42));
}

TEST_F(RecordPage, FreeSlotsAreRefused) {
  TVLTSmallRecordPage V(Page, kSlots, kSize);
  TVLTPageItemID ID;
  ASSERT_TRUE(V.AddRecord(Rec(1).data(), ID));
  const TVLTPageItemID Free{Page->PageNo(), 5}, Outside{Page->PageNo(), 10},
      Foreign{Page->PageNo() + 1, 0};
  std::vector<uint8_t> Out(kSize, 7);
  for (const auto& X : {Free, Outside, Foreign}) {
    EXPECT_FALSE(V.GetRecordBuffer(X, Out.data()));
    EXPECT_FALSE(V.UpdateRecord(Rec(2).data(), X));
    EXPECT_FALSE(V.DeleteRecord(X));
  }
  EXPECT_EQ(Out, std::vector<uint8_t>(kSize, 7));
  EXPECT_TRUE(V.UpdateRecord(Rec(2).data(), ID));
  ASSERT_TRUE(V.GetRecordBuffer(ID, Out.data()));
  EXPECT_EQ(Out, Rec(2));
  EXPECT_EQ(V.GetRecordCount(), 1);
}

TEST_F(RecordPage, WalksUsedSlotsAndCountsRecordNumbers) {
  TVLTSmallRecordPage V(Page, kSlots, kSize);
  TVLTPageItemID ID;
  for (int I = 0; I < kSlots; ++I) V.AddRecord(Rec(0).data(), ID);
  for (uint16_t S : {0, 2, 3, 8}) V.DeleteRecord({Page->PageNo(), S});
  EXPECT_EQ(UsedSlots(V), (std::vector<uint16_t>{1, 4, 5, 6, 7, 9}));
  ASSERT_TRUE(V.GetLastRecordID(ID));
  EXPECT_EQ(ID.PageItemNo, 9);
  std::vector<uint16_t> Back;
  do Back.push_back(ID.PageItemNo);
  while (V.GetPriorRecordID(ID));
  EXPECT_EQ(Back, (std::vector<uint16_t>{9, 7, 6, 5, 4, 1}));
  for (int32_t N = 0; N < 6; ++N) {
    ASSERT_TRUE(V.GetRecordID(N, ID));
    EXPECT_EQ(V.GetRecNoOnPage(ID), N);
  }
  EXPECT_FALSE(V.GetRecordID(6, ID));
  EXPECT_EQ(V.GetRecNoOnPage({Page->PageNo(), 4}), 1);
}

TEST_F(RecordPage, GeometryThatDoesNotFitIsRefused) {
  EXPECT_EQ(CodeOf([&] { TVLTSmallRecordPage(Page, kSlots + 1, kSize); }), 20140);
  EXPECT_EQ(CodeOf([&] { TVLTSmallRecordPage(Page, 0, kSize); }), 20140);
  EXPECT_EQ(CodeOf([&] { TVLTSmallRecordPage(Page, kSlots, kSize); }), 0);
}

}  // namespace
}  // namespace vlt
