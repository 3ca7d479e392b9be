#include "engine/protect/VLTStream.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <numeric>
#include <vector>

#include "engine/base/VLTExcept.h"
#include "engine/protect/VLTFileStream.h"
#include "engine/protect/VLTMemoryStream.h"
#include "engine/protect/VLTTemporaryStream.h"
#include "tests/VLTTestUtil.h"

namespace vlt {
namespace {

std::vector<uint8_t> Pattern(size_t N, uint32_t Seed = 1) {
  std::vector<uint8_t> V(N);
  uint32_t X = Seed;
  for (auto& B : V) {
    X = X * 1103515245u + 12345u;
    B = static_cast<uint8_t>(X >> 16);
  }
  return V;
}

using test::CodeOf;

TEST(VLTStream, ExactReadRaisesWithCallersCodeAndMessage) {
  TVLTMemoryStream S;
  VLTWriteLE<uint32_t>(S, 0x01020304u, 1);
  VLTSeekStream(S, 2, 0);
  uint8_t Buf[8];
  try {
    VLTReadBuffer(S, Buf, 8, 12345);
    FAIL();
  } catch (const EVLTException& E) {
    EXPECT_EQ(E.NativeError(), 12345);
    EXPECT_EQ(E.Message(),
              "Cannot read from stream. Position = 4, Stream size = 4, Block size = 8, Bytes Read "
              "= 4 - Native error: 12345");
  }
}

TEST(VLTStream, SeekBeforeStartRaises) {
  TVLTMemoryStream S;
  try {
    VLTSeekStream(S, 777, -5);
    FAIL();
  } catch (const EVLTException& E) {
    EXPECT_EQ(E.NativeError(), 777);
    EXPECT_EQ(E.Message(),
              "Cannot set stream position to -5. Position = 0, Size = 0 - Native error:   777");
  }
}

TEST(VLTStream, TypedHelpersAreLittleEndian) {
  TVLTMemoryStream S;
  VLTWriteLE<uint16_t>(S, 0xA1B2, 1);
  VLTWriteLE<int64_t>(S, -2, 1);
  VLTWriteShortString(S, std::string(300, 'x'), 1);
  ASSERT_EQ(S.GetSize(), 2 + 8 + 256);
  EXPECT_EQ(S.Memory()[0], 0xB2);
  EXPECT_EQ(S.Memory()[1], 0xA1);
  EXPECT_EQ(S.Memory()[10], 255);
  VLTSeekStream(S, 1, 0);
  EXPECT_EQ(VLTReadLE<uint16_t>(S, 1), 0xA1B2);
  EXPECT_EQ(VLTReadLE<int64_t>(S, 1), -2);
  EXPECT_EQ(VLTReadShortString(S, 1), std::string(255, 'x'));
}

TEST(VLTStream, MemoryWriteBeyondEndFillsGapWithZeros) {
  TVLTMemoryStream S;
  S.Seek(10, soBeginning);
  uint8_t One = 7;
  EXPECT_EQ(S.Write(&One, 1), 1);
  ASSERT_EQ(S.GetSize(), 11);
  for (int I = 0; I < 10; ++I) EXPECT_EQ(S.Memory()[I], 0);
  S.SetSize(3);
  EXPECT_EQ(S.GetPosition(), 3);
  S.SetSize(6);
  EXPECT_EQ(S.Memory()[5], 0);
}

TEST(VLTStream, LoadAndSaveCopyWholeStreamWithProgress) {
  auto Data = Pattern(250000);
  TVLTMemoryStream Src;
  VLTWriteBuffer(Src, Data.data(), Data.size(), 1);
  TVLTMemoryStream Dst;
  Dst.SetBlockSize(65536);
  std::vector<int> Seen;
  Dst.SetOnProgress([&](int P) { Seen.push_back(P); });
  Dst.LoadFromStream(Src);
  ASSERT_EQ(Dst.GetSize(), 250000);
  EXPECT_TRUE(std::equal(Data.begin(), Data.end(), Dst.Memory()));
  ASSERT_FALSE(Seen.empty());
  EXPECT_EQ(Seen.back(), 100);
  EXPECT_TRUE(std::is_sorted(Seen.begin(), Seen.end()));

  TVLTMemoryStream Out;
  Dst.SaveToStream(Out);
  EXPECT_EQ(Out.GetSize(), 250000);

  Dst.SetBlockSize(0);
  EXPECT_EQ(CodeOf([&] { Dst.LoadFromStream(Src); }), 10418);
  EXPECT_EQ(CodeOf([&] { Dst.SaveToStream(Out); }), 10418);
}

TEST(VLTStream, FileRoundTripAndOpenErrors) {
  auto Dir = std::filesystem::temp_directory_path();
  std::string Name = (Dir / ("vlt_stream_test_" + std::to_string(::getpid()))).string();
  auto Data = Pattern(70000, 3);
  TVLTMemoryStream Src;
  VLTWriteBuffer(Src, Data.data(), Data.size(), 1);
  Src.SaveToFile(Name);
  TVLTMemoryStream Back;
  Back.LoadFromFile(Name);
  ASSERT_EQ(Back.GetSize(), 70000);
  EXPECT_TRUE(std::equal(Data.begin(), Data.end(), Back.Memory()));
  std::filesystem::remove(Name);

  try {
    TVLTFileStream F(Name, fmOpenRead);
    FAIL();
  } catch (const EVLTException& E) {
    EXPECT_EQ(E.NativeError(), 10104);
    EXPECT_NE(E.Message().find("Cannot open file. FileName = " + Name + ", Mode = 0"),
              std::string::npos);
  }
  EXPECT_EQ(CodeOf([&] { TVLTFileStream F("/nonexistent-dir/x", fmCreate); }), 10105);
}

TEST(VLTStream, TemporaryStreamSwitchesOnWriteCrossingLimitAndKeepsPosition) {
  TVLTTemporaryStream S;
  EXPECT_EQ(S.BlockSize(), 102400u);
  auto Data = Pattern(TVLTTemporaryStream::kDefaultMemoryLimit, 5);
  VLTWriteBuffer(S, Data.data(), Data.size(), 1);  // exactly at the limit: still in memory
  EXPECT_TRUE(S.InMemory());
  VLTSeekStream(S, 1, 1000);
  uint8_t Extra[3] = {9, 8, 7};
  VLTWriteBuffer(S, Extra, 3, 1);  // inside the limit
  EXPECT_TRUE(S.InMemory());
  S.Seek(0, soEnd);
  VLTWriteBuffer(S, Extra, 1, 1);  // crosses the limit
  EXPECT_FALSE(S.InMemory());
  EXPECT_FALSE(S.FileName().empty());
  EXPECT_FALSE(std::filesystem::exists(S.FileName()));  // never left behind
  EXPECT_EQ(S.GetPosition(), static_cast<int64_t>(Data.size()) + 1);
  EXPECT_EQ(S.GetSize(), static_cast<int64_t>(Data.size()) + 1);
  Data[1000] = 9, Data[1001] = 8, Data[1002] = 7;
  Data.push_back(9);
  std::vector<uint8_t> Back(Data.size());
  VLTSeekStream(S, 1, 0);
  VLTReadBuffer(S, Back.data(), Back.size(), 1);
  EXPECT_EQ(Back, Data);
}

TEST(VLTStream, TemporaryStreamSwitchKeepsPositionInsideContent) {
  TVLTTemporaryStream S;
  S.SetMemoryLimit(100);
  auto Data = Pattern(90, 6);
  VLTWriteBuffer(S, Data.data(), Data.size(), 1);
  VLTSeekStream(S, 1, 50);
  auto More = Pattern(60, 7);
  VLTWriteBuffer(S, More.data(), More.size(), 1);  // 50 + 60 > 100
  EXPECT_FALSE(S.InMemory());
  EXPECT_EQ(S.GetPosition(), 110);
  std::vector<uint8_t> Back(110);
  VLTSeekStream(S, 1, 0);
  VLTReadBuffer(S, Back.data(), 110, 1);
  EXPECT_TRUE(std::equal(Data.begin(), Data.begin() + 50, Back.begin()));
  EXPECT_TRUE(std::equal(More.begin(), More.end(), Back.begin() + 50));
}

TEST(VLTStream, TemporaryStreamWithTempFilesDisabledStaysInMemory) {
  TVLTTemporaryStream S(true);
  S.SetMemoryLimit(10);
  auto Data = Pattern(1000);
  VLTWriteBuffer(S, Data.data(), Data.size(), 1);
  EXPECT_TRUE(S.InMemory());
  S.SetSize(5000);
  EXPECT_TRUE(S.InMemory());
}

}  // namespace
}  // namespace vlt
