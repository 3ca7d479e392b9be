// Bit arrays and record bitmaps, with the edges at byte boundaries.
#include <gtest/gtest.h>

#include "engine/core/VLTBitsArray.h"
#include "engine/protect/VLTMemoryStream.h"
#include "tests/core/VLTTableTestDoubles.h"

namespace vlt::test {
namespace {

TEST(BitsArrayTest, SetGetAndCountAcrossByteBoundaries) {
  for (int64_t Size : {1, 7, 8, 9, 15, 16, 17}) {
    TVLTBitsArray A;
    A.SetSize(Size);
    for (int64_t I = 0; I < Size; ++I) EXPECT_FALSE(A.GetBit(I));
    A.SetBit(Size - 1, true);
    A.SetBit(0, true);
    A.SetBit(0, true);  // setting twice counts once
    EXPECT_EQ(A.NonZeroBitCount(), Size == 1 ? 1 : 2) << Size;
    EXPECT_TRUE(A.GetBit(Size - 1));
    A.SetAllBits();
    EXPECT_EQ(A.NonZeroBitCount(), Size);
    A.SetSize(Size + 3);  // new bits are zero
    EXPECT_FALSE(A.GetBit(Size));
    EXPECT_EQ(A.NonZeroBitCount(), Size);
    A.SetSize(Size - 1 > 0 ? Size - 1 : 0);  // shrinking forgets the cut bits
    EXPECT_EQ(A.NonZeroBitCount(), A.BitCount());
    A.SetSize(Size + 8);
    EXPECT_EQ(A.NonZeroBitCount(), Size - 1 > 0 ? Size - 1 : 0) << Size;
  }
}

TEST(BitsArrayTest, RangeErrors) {
  TVLTBitsArray A;
  A.SetSize(8);
  try {
    A.GetBit(8);
    ADD_FAILURE();
  } catch (const EVLTException& E) {
    EXPECT_EQ(std::string(E.what()), "Invalid bit no = 8, number of bits = 8 - Native error: 10394");
  }
  EXPECT_THROW(A.SetBit(-1, true), EVLTException);
  EXPECT_THROW(A.GetBitNoByBitPosition(0), EVLTException);  // no set bit
  EXPECT_THROW(A.GetBitPositionByBitNo(8), EVLTException);
}

TEST(BitsArrayTest, FindForwardAndBackward) {
  TVLTBitsArray A;
  A.SetSize(20);
  for (int64_t B : {0, 7, 8, 15, 16, 19}) A.SetBit(B, true);
  std::vector<int64_t> Forward, Backward;
  int64_t Cur = -1, Found = -1;
  bool Restart = true;
  while (A.Find(Restart, true, Cur, Found)) {
    Forward.push_back(Found);
    Cur = Found;
    Restart = false;
  }
  Restart = true;
  while (A.Find(Restart, false, Cur, Found)) {
    Backward.push_back(Found);
    Cur = Found;
    Restart = false;
  }
  EXPECT_EQ(Forward, (std::vector<int64_t>{0, 7, 8, 15, 16, 19}));
  EXPECT_EQ(Backward, (std::vector<int64_t>{19, 16, 15, 8, 7, 0}));
  EXPECT_FALSE(A.Find(false, true, 19, Found));
  EXPECT_FALSE(A.Find(false, false, 0, Found));
  int64_t First = -1;
  ASSERT_TRUE(A.FindBit(false, First));
  EXPECT_EQ(First, 1);
}

TEST(BitsArrayTest, RankAndSelect) {
  TVLTBitsArray A;
  A.SetSize(24);
  const std::vector<int64_t> Set = {3, 7, 8, 9, 16, 23};
  for (int64_t B : Set) A.SetBit(B, true);
  for (size_t K = 0; K < Set.size(); ++K) {
    EXPECT_EQ(A.GetBitNoByBitPosition(static_cast<int64_t>(K)), Set[K]);
    EXPECT_EQ(A.GetBitPositionByBitNo(Set[K]), static_cast<int64_t>(K));
  }
  EXPECT_EQ(A.GetBitPositionByBitNo(2), -1);  // nothing set up to bit 2
  A.SetAllBits();
  EXPECT_EQ(A.GetBitNoByBitPosition(13), 13);
  EXPECT_EQ(A.GetBitPositionByBitNo(13), 13);
}

TEST(BitsArrayTest, StreamRoundTripRecountsSetBits) {
  TVLTBitsArray A;
  A.SetSize(13);
  A.SetBit(12, true);
  A.SetBit(3, true);
  TVLTMemoryStream S;
  A.SaveToStream(S);
  EXPECT_EQ(S.GetSize(), 4 + 4 + 2);
  S.Seek(0, soBeginning);
  TVLTBitsArray B;
  B.LoadFromStream(S);
  EXPECT_EQ(B.BitCount(), 13);
  EXPECT_EQ(B.NonZeroBitCount(), 2);
  EXPECT_TRUE(B.GetBit(12));
}

struct TBitmapTable : TTestTable {
  static const TVLTFieldDefs& F() {
    static const TVLTFieldDefs& Defs = *[] {
      auto* D = new TVLTFieldDefs;
      AddField(*D, "V", aftInteger);
      return D;
    }();
    return Defs;
  }
  TBitmapTable() : TTestTable(F(), TVLTIndexDefs(), TVLTConstraintDefs()) {}
};

TEST(RecordBitmapTest, ShowAndHideGrowTheBitmap) {
  TBitmapTable T;
  TVLTRecordBitmap B(T.Table);
  B.SetSize(8);
  const TVLTPageItemID Bit8 = TTestRecordManager::IDOfSlot(8);  // first bit of the second byte
  EXPECT_EQ(B.GetRecNoByRecordID(Bit8), -1);  // beyond the bitmap
  B.HideRecord(Bit8);
  EXPECT_EQ(B.GetSize(), 9);
  EXPECT_EQ(B.GetRecordCount(), 0);
  B.ShowRecord(Bit8);
  EXPECT_EQ(B.GetSize(), 9);
  B.ShowRecord(TTestRecordManager::IDOfSlot(7));
  B.ShowRecord(TTestRecordManager::IDOfSlot(0));
  EXPECT_EQ(B.GetRecordCount(), 3);
  EXPECT_EQ(B.GetRecNoByRecordID(Bit8), 3);
  EXPECT_EQ(B.GetRecNoByRecordID(TTestRecordManager::IDOfSlot(7)), 2);
  EXPECT_EQ(B.GetRecordIDByRecNo(2), TTestRecordManager::IDOfSlot(7));
  bool Found = false;
  TVLTPageItemID Cur = TTestRecordManager::IDOfSlot(7);
  B.FindRecord(false, true, Found, Cur);
  EXPECT_TRUE(Found);
  EXPECT_EQ(Cur, Bit8);
  B.FindRecord(false, true, Found, Cur);
  EXPECT_FALSE(Found);
  B.FindRecord(true, false, Found, Cur);
  EXPECT_EQ(Cur, Bit8);
}

TEST(RecordBitmapTest, IndexBasedChangesClearTheBitmap) {
  TBitmapTable T;
  TVLTRecordBitmap B(T.Table);
  B.SetIndexBased(true);
  B.SetActive(true);
  B.SetBitValue(5, true);
  B.ShowRecord(int64_t{6});
  EXPECT_FALSE(B.Active());
  EXPECT_EQ(B.GetSize(), 0);
  EXPECT_TRUE(B.Outdated());
}

TEST(RecordBitmapTest, OutdatedFollowsTheTableState) {
  TBitmapTable T;
  TVLTRecordBitmap B(T.Table);
  EXPECT_TRUE(B.Outdated());  // -1 when created
  B.MarkUpToDate();
  EXPECT_FALSE(B.Outdated());
  T.InsertInt(1);
  EXPECT_TRUE(B.Outdated());
}

}  // namespace
}  // namespace vlt::test
