// Page indexes: the record page index (record counts per record page) and the BLOB page index
// (bytes used per small-BLOB page).
#include <gtest/gtest.h>

#include "engine/core/VLTBTreePageIndex.h"
#include "engine/core/VLTTableData.h"
#include "tests/core/VLTPageTestUtil.h"

namespace vlt {
namespace {

using test::CodeOf;
using test::TMemPageManager;

constexpr TVLTSessionID kS = 0;

TEST(BTreeRecordPageIndex, CountsPerPage) {
  TMemPageManager PM(256);
  TVLTBTreeRecordPageIndex I(&PM, 4);
  I.CreateIndex(kS);
  TVLTPageNo P = -1;
  EXPECT_FALSE(I.FindPageForNewRecord(kS, P));
  EXPECT_FALSE(I.GetFirstRecordPage(kS, P));
  I.AddRecord(kS, 30, 1);
  I.AddRecord(kS, 10, 1);
  I.AddRecord(kS, 20, 1);
  I.AddRecord(kS, 30, 3);  // now full (4 of 4)
  uint16_t Count = 0;
  ASSERT_TRUE(I.FindPage(kS, 30, Count));
  EXPECT_EQ(Count, 4);
  EXPECT_EQ(CodeOf([&] { I.AddRecord(kS, 30, 1); }), 20106);
  // The newest page with room first: 30 is full, so 20.
  ASSERT_TRUE(I.FindPageForNewRecord(kS, P));
  EXPECT_EQ(P, 20);
  // Page order walks.
  ASSERT_TRUE(I.GetFirstRecordPage(kS, P));
  EXPECT_EQ(P, 10);
  ASSERT_TRUE(I.GetNextRecordPage(kS, P, P));
  EXPECT_EQ(P, 20);
  ASSERT_TRUE(I.GetLastRecordPage(kS, P));
  EXPECT_EQ(P, 30);
  EXPECT_FALSE(I.GetNextRecordPage(kS, 30, P));
  ASSERT_TRUE(I.GetPriorRecordPage(kS, 20, P));
  EXPECT_EQ(P, 10);
  EXPECT_EQ(CodeOf([&] { I.GetNextRecordPage(kS, 11, P); }), 20101);
  // Record numbers: 10 holds #1, 20 holds #2, 30 holds #3..#6.
  int32_t OnPage = -1;
  I.GetRecordByRecNo(kS, P, OnPage, 5);
  EXPECT_EQ(P, 30);
  EXPECT_EQ(OnPage, 2);
  EXPECT_EQ(CodeOf([&] { I.GetRecordByRecNo(kS, P, OnPage, 7); }), 20113);
  int64_t RecNo = 0;
  I.GetRecNoByRecord(kS, 30, RecNo, 3);
  EXPECT_EQ(RecNo, 6);
  I.Validate(kS, 6);
  EXPECT_EQ(CodeOf([&] { I.Validate(kS, 7); }), 20292);
  // A page whose count falls to 0 leaves the index.
  I.DeleteRecord(kS, 20, 0);
  EXPECT_FALSE(I.FindPage(kS, 20, Count));
  I.DeleteRecord(kS, 30, 2);
  ASSERT_TRUE(I.FindPage(kS, 30, Count));
  EXPECT_EQ(Count, 2);
  EXPECT_EQ(CodeOf([&] { I.DeleteRecord(kS, 20, 0); }), 20110);
  I.Tree().CheckIntegrity(kS);
}

TEST(BTreeRecordPageIndex, ManyPagesAndTheSearchWindow) {
  TMemPageManager PM(128);  // 11 entries per leaf
  TVLTBTreeRecordPageIndex I(&PM, 2);
  I.CreateIndex(kS);
  for (TVLTPageNo No = 100; No < 400; ++No) I.AddRecord(kS, No, 2);  // all full
  I.Tree().CheckIntegrity(kS);
  TVLTPageNo P;
  EXPECT_FALSE(I.FindPageForNewRecord(kS, P));
  // A page with room deep in the middle lies outside both leaf windows and is not found.
  I.DeleteRecord(kS, 250, 1);
  EXPECT_FALSE(I.FindPageForNewRecord(kS, P));
  // One near either end is.
  I.DeleteRecord(kS, 101, 1);
  ASSERT_TRUE(I.FindPageForNewRecord(kS, P));
  EXPECT_EQ(P, 101);
  I.DeleteRecord(kS, 398, 1);
  ASSERT_TRUE(I.FindPageForNewRecord(kS, P));
  EXPECT_EQ(P, 398);
  EXPECT_EQ(I.TotalAmount(kS), 300 * 2 - 3);
  // Emptying every page shrinks the tree back to an empty root.
  for (TVLTPageNo No = 100; No < 400; ++No) I.DeleteRecord(kS, No, 0);
  I.Tree().CheckIntegrity(kS);
  EXPECT_FALSE(I.GetFirstRecordPage(kS, P));
  I.DropIndex(kS);
  EXPECT_EQ(I.RootPageNo(), kNoPage);
  EXPECT_EQ(CodeOf([&] { I.DropIndex(kS); }), 20115);
  EXPECT_EQ(CodeOf([&] { I.EmptyIndex(kS); }), 20116);
  EXPECT_EQ(CodeOf([&] { I.GetFirstRecordPage(kS, P); }), 20117);
  EXPECT_EQ(CodeOf([&] { I.AddRecord(kS, 1, 1); }), 20118);
}

// The leaf-by-leaf walk visits exactly the entries that stepping with Prior / Next visits, from
// any start, over any budget, across leaf boundaries, and stops on the entry asked for.
TEST(BTreeRecordPageIndex, WalkingLeavesMatchesSteppingEntries) {
  TMemPageManager PM(128);  // 11 entries per leaf
  TVLTBTreeRecordPageIndex I(&PM, 2);
  I.CreateIndex(kS);
  for (TVLTPageNo No = 1; No <= 60; ++No) I.AddRecord(kS, No * 3, 1);
  for (TVLTPageNo No = 2; No <= 60; No += 4) I.DeleteRecord(kS, No * 3, 0);  // uneven leaves
  TVLTBTree& T = I.Tree();
  const int64_t Count = T.EntryCount(kS);
  auto KeyAt = [&](const TVLTKeyPath& Path) {
    uint8_t Key[4];
    T.ReadEntry(kS, Path, Key, nullptr);
    return LoadLE<int32_t>(Key);
  };
  for (const bool Backwards : {true, false}) {
    for (int64_t Start = 1; Start <= Count; Start += 5) {
      for (int32_t Budget : {1, 2, 10, 11, 12, 23, 100}) {
        SCOPED_TRACE(testing::Message() << Backwards << " " << Start << " " << Budget);
        TVLTKeyPath Path;
        T.GetPathByRecNo(kS, Start, Path);
        std::vector<int32_t> Stepped;
        for (int32_t K = 0; K < Budget; ++K) {
          Stepped.push_back(KeyAt(Path));
          if (!(Backwards ? T.Prior(kS, Path) : T.Next(kS, Path))) break;
        }
        T.GetPathByRecNo(kS, Start, Path);
        std::vector<int32_t> Walked;
        EXPECT_FALSE(T.WalkEntries(kS, Path, Backwards, Budget, [&](const uint8_t* Key, const uint8_t*) {
          Walked.push_back(LoadLE<int32_t>(Key));
          return false;
        }));
        EXPECT_EQ(Walked, Stepped);
        // Stopping on the last entry of the window leaves the path on it.
        T.GetPathByRecNo(kS, Start, Path);
        const int32_t Wanted = Stepped.back();
        EXPECT_TRUE(T.WalkEntries(kS, Path, Backwards, Budget, [&](const uint8_t* Key, const uint8_t*) {
          return LoadLE<int32_t>(Key) == Wanted;
        }));
        EXPECT_EQ(KeyAt(Path), Wanted);
      }
    }
  }
  TVLTKeyPath Empty;
  EXPECT_FALSE(T.WalkEntries(kS, Empty, false, 5, [](const uint8_t*, const uint8_t*) { return true; }));
}

TEST(BTreeBlobPageIndex, BytesPerPage) {
  TMemPageManager PM(256);  // page data 216 bytes: an entry fits while used + size < 214
  TVLTBTreeBlobPageIndex I(&PM);
  I.CreateIndex(kS);
  I.AddBlob(kS, 7, 100);
  TVLTPageNo P;
  ASSERT_TRUE(I.FindPageForNewBlob(kS, 113, P));
  EXPECT_EQ(P, 7);
  EXPECT_FALSE(I.FindPageForNewBlob(kS, 114, P));
  EXPECT_EQ(CodeOf([&] { I.AddBlob(kS, 7, 114); }), 20106);
  I.AddBlob(kS, 7, 113);
  uint16_t Used;
  ASSERT_TRUE(I.FindPage(kS, 7, Used));
  EXPECT_EQ(Used, 213);
  I.RemoveBlob(kS, 7, 13);
  EXPECT_EQ(CodeOf([&] { I.RemoveBlob(kS, 7, 201); }), 20307);  // more than recorded
  I.RemoveBlob(kS, 7, 200);
  EXPECT_FALSE(I.FindPage(kS, 7, Used));
  EXPECT_EQ(CodeOf([&] { I.RemoveBlob(kS, 7, 1); }), 20111);
}

}  // namespace
}  // namespace vlt
