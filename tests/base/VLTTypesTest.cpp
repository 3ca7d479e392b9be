#include "engine/base/VLTTypes.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "engine/base/VLTCRC32.h"
#include "engine/base/VLTCodePage.h"
#include "engine/base/VLTIntegerArray.h"

namespace vlt {
namespace {

TEST(CalcCRC32, RawUpdateWithoutInversion) {
  EXPECT_EQ(CalcCRC32(0, "abc", 3), 0xCA6598D0u);
  // From 0xFFFFFFFF and inverted it is the usual CRC-32.
  EXPECT_EQ(~CalcCRC32(0xFFFFFFFFu, "123456789", 9), 0xCBF43926u);
  // Chaining: the checksum of a whole equals that of its parts in turn.
  std::vector<uint8_t> Data(10000);
  for (size_t I = 0; I < Data.size(); ++I) Data[I] = static_cast<uint8_t>(I * 7 + 3);
  uint32_t Whole = CalcCRC32(0, Data.data(), Data.size());
  EXPECT_EQ(CalcCRC32(CalcCRC32(0, Data.data(), 4097), Data.data() + 4097, Data.size() - 4097),
            Whole);
}

TEST(TVLTPageItemID, OrderAndStoredForm) {
  std::vector<TVLTPageItemID> Ids = {{5, 2}, {3, 9}, {5, 1}, {-1, 0}, {3, 0}};
  std::sort(Ids.begin(), Ids.end());
  std::vector<TVLTPageItemID> Want = {{-1, 0}, {3, 0}, {3, 9}, {5, 1}, {5, 2}};
  EXPECT_EQ(Ids, Want);

  uint8_t Raw[6];
  TVLTPageItemID{0x01020304, 0xA0B0}.SaveTo(Raw);
  const uint8_t Expected[6] = {0x04, 0x03, 0x02, 0x01, 0xB0, 0xA0};
  EXPECT_EQ(std::vector<uint8_t>(Raw, Raw + 6), std::vector<uint8_t>(Expected, Expected + 6));
  EXPECT_EQ(TVLTPageItemID::LoadFrom(Raw), (TVLTPageItemID{0x01020304, 0xA0B0}));
}

TEST(Names, CaseInsensitiveIncludingWesternLetters) {
  EXPECT_TRUE(SameText("Payroll", "PAYROLL"));
  EXPECT_TRUE(SameText("caf\xE9", "CAF\xC9"));
  EXPECT_FALSE(SameText("\xF7", "\xD7"));  // division and multiplication signs are not letters
  EXPECT_LT(CompareText("abc", "ABD"), 0);
  EXPECT_GT(CompareText("abcd", "ABC"), 0);
  TVLTCryptoAlgorithm A;
  ASSERT_TRUE(CryptoAlgorithmFromName("rijndael_256", A));
  EXPECT_EQ(A, craRijndael_256);
  EXPECT_FALSE(CryptoAlgorithmFromName("Serpent", A));
  EXPECT_EQ(CompressionAlgorithmFromName("bzip"), acaBZIP);
  EXPECT_EQ(CompressionAlgorithmFromName("lzma"), acaNone);
}

TEST(TVLTIntegerArray, EditingOperations) {
  TVLTIntegerArray A;
  for (int V : {10, 20, 30, 40}) A.Append(V);
  A.Insert(0, 5);
  A.Insert(5, 50);
  A.Delete(2);  // removes 20
  EXPECT_EQ(std::vector<int32_t>(A.begin(), A.end()), (std::vector<int32_t>{5, 10, 30, 40, 50}));
  A.MoveTo(0, 4);
  EXPECT_EQ(std::vector<int32_t>(A.begin(), A.end()), (std::vector<int32_t>{10, 30, 40, 50, 5}));
  A.MoveTo(4, 1);
  EXPECT_EQ(std::vector<int32_t>(A.begin(), A.end()), (std::vector<int32_t>{10, 5, 30, 40, 50}));
  EXPECT_EQ(A.IndexOf(40), 3);
  EXPECT_EQ(A.IndexOf(99), -1);
  EXPECT_THROW(A.Delete(5), std::out_of_range);
  A.SetSize(7);
  EXPECT_EQ(A[6], 0);
}

TEST(CodePage, RoundTripsEveryByteThroughUtf8) {
  std::string All;
  for (int C = 1; C < 256; ++C) All.push_back(static_cast<char>(C));
  EXPECT_EQ(Utf8ToWin1252(Win1252ToUtf8(All)), All);
  EXPECT_EQ(Win1252ToUtf8("\x80"), "\xE2\x82\xAC");    // euro sign
  EXPECT_EQ(Utf8ToWin1252("\xE2\x98\x83"), "?");       // a snowman has no byte
  EXPECT_EQ(Utf8ToWin1252("M\xFCller"), "M\xFCller");  // not UTF-8: passes through
}

}  // namespace
}  // namespace vlt
