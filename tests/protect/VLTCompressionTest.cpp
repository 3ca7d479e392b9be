#include "engine/protect/VLTCompression.h"

#include <bzlib.h>
#include <gtest/gtest.h>
#include <zlib.h>

#include <cstring>
#include <string>
#include <vector>

namespace vlt {
namespace {

std::vector<uint8_t> TextLike(size_t N, uint32_t Seed = 11) {
  static const char* Words[] = {"offering ", "pledge ", "member ", "Sunday ", "1998 ", "\r\n",
                                "total ", "45.00 ", "general ", "fund ", "building "};
  std::vector<uint8_t> V;
  uint32_t X = Seed;
  while (V.size() < N) {
    X = X * 1103515245u + 12345u;
    for (const char* C = Words[(X >> 16) % 11]; *C && V.size() < N; ++C) V.push_back(static_cast<uint8_t>(*C));
  }
  return V;
}

std::vector<uint8_t> ToVector(const TVLTBuffer& B) { return {B.data(), B.data() + B.size()}; }

bool RoundTrip(TVLTCompressionAlgorithm A, uint8_t Mode, const std::vector<uint8_t>& In, bool KnownSize) {
  TVLTCompressedStreamBlockHeader H;
  TVLTBuffer Packed;
  if (!VLTCompressBuffer(A, Mode, In.data(), static_cast<int64_t>(In.size()), H, Packed)) return false;
  EXPECT_EQ(H.CompressedSize, Packed.size());
  EXPECT_EQ(H.UncompressedSize, In.size());
  EXPECT_EQ(H.OffsetToNextHeader, 20 + static_cast<int64_t>(Packed.size()));
  int64_t OutSize = KnownSize ? static_cast<int64_t>(In.size()) : 0;
  TVLTBuffer Out;
  if (!VLTDecompressBuffer(A, Packed.data(), static_cast<int64_t>(Packed.size()), OutSize, Out)) return false;
  EXPECT_EQ(OutSize, static_cast<int64_t>(In.size()));
  return ToVector(Out) == In;
}

TEST(VLTCompression, HeaderLayoutAndChecksum) {
  const uint8_t Abc[] = {'a', 'b', 'c'};
  TVLTCompressedStreamBlockHeader H;
  TVLTBuffer Packed;
  ASSERT_TRUE(VLTCompressBuffer(acaZLIB, 6, Abc, 3, H, Packed));
  EXPECT_EQ(H.Crc32, 0xCA6598D0u);
  uint8_t Raw[20];
  H.SaveTo(Raw);
  EXPECT_EQ(Raw[0], Packed.size());
  EXPECT_EQ(Raw[4], 3);
  EXPECT_EQ(Raw[8], 0xD0);
  EXPECT_EQ(Raw[11], 0xCA);
  EXPECT_EQ(Raw[12], 20 + Packed.size());
  auto Back = TVLTCompressedStreamBlockHeader::LoadFrom(Raw);
  EXPECT_EQ(Back.OffsetToNextHeader, H.OffsetToNextHeader);

  TVLTBLOBDescriptor D{102400, 3, 250000, 7, acaBZIP, 9, 0};
  uint8_t DRaw[32];
  D.SaveTo(DRaw);
  EXPECT_EQ(DRaw[28], 2);
  EXPECT_EQ(DRaw[29], 9);
  auto D2 = TVLTBLOBDescriptor::LoadFrom(DRaw);
  EXPECT_EQ(D2.NumBlocks, 3);
  EXPECT_EQ(D2.UncompressedSize, 250000);
  EXPECT_EQ(D2.StartPosition, 7);
}

TEST(VLTCompression, DefaultBlockSizes) {
  const uint32_t Want[10] = {102400, 524288, 524288, 524288, 1048576, 1048576, 1048576,
                             1572864, 1572864, 1572864};
  for (uint8_t M = 0; M < 10; ++M) EXPECT_EQ(DefaultCompressedBlockSize(M), Want[M]) << int(M);
}

TEST(VLTCompression, ZlibMatchesLibraryAtEveryLevel) {
  auto In = TextLike(30000);
  for (uint8_t Mode = 0; Mode <= 9; ++Mode) {
    TVLTCompressedStreamBlockHeader H;
    TVLTBuffer Packed;
    ASSERT_TRUE(VLTCompressBuffer(acaZLIB, Mode, In.data(), In.size(), H, Packed));
    std::vector<uint8_t> Direct(compressBound(In.size()));
    uLongf Len = Direct.size();
    ASSERT_EQ(compress2(Direct.data(), &Len, In.data(), In.size(), Mode), Z_OK);
    Direct.resize(Len);
    EXPECT_EQ(ToVector(Packed), Direct) << int(Mode);
    EXPECT_TRUE(RoundTrip(acaZLIB, Mode, In, true));
  }
}

TEST(VLTCompression, BzipMatchesLibraryAndRefusesModeZero) {
  auto In = TextLike(30000);
  for (uint8_t Mode = 1; Mode <= 9; ++Mode) {
    TVLTCompressedStreamBlockHeader H;
    TVLTBuffer Packed;
    ASSERT_TRUE(VLTCompressBuffer(acaBZIP, Mode, In.data(), In.size(), H, Packed));
    ASSERT_GE(Packed.size(), 4u);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(Packed.data()), 3), "BZh");
    EXPECT_EQ(Packed[3], '0' + Mode);
    EXPECT_TRUE(RoundTrip(acaBZIP, Mode, In, true));
  }
  TVLTCompressedStreamBlockHeader H;
  TVLTBuffer Packed;
  std::string Err;
  EXPECT_FALSE(VLTCompressBuffer(acaBZIP, 0, In.data(), In.size(), H, Packed, &Err));
  EXPECT_EQ(Err, "error -2");
}

TEST(VLTCompression, RoundTripsWithUnknownSizeGrowTheOutput) {
  std::vector<uint8_t> Zeros(1024 * 1024, 0);
  EXPECT_TRUE(RoundTrip(acaZLIB, 9, Zeros, false));
  EXPECT_TRUE(RoundTrip(acaBZIP, 9, Zeros, false));
  auto Text = TextLike(100000);
  EXPECT_TRUE(RoundTrip(acaZLIB, 1, Text, false));
  EXPECT_TRUE(RoundTrip(acaBZIP, 1, Text, false));
  EXPECT_TRUE(RoundTrip(acaPPM, 4, Text, true));
  EXPECT_FALSE(RoundTrip(acaPPM, 4, Text, false));  // PPM needs the size
}

TEST(VLTCompression, NothingToDoIsFalse) {
  uint8_t B[4] = {1, 2, 3, 4};
  TVLTCompressedStreamBlockHeader H;
  TVLTBuffer Out;
  EXPECT_FALSE(VLTCompressBuffer(acaNone, 5, B, 4, H, Out));
  EXPECT_FALSE(VLTCompressBuffer(acaZLIB, 5, B, 0, H, Out));
  int64_t Size = 4;
  EXPECT_FALSE(VLTDecompressBuffer(acaNone, B, 4, Size, Out));
  Size = 4;
  EXPECT_FALSE(VLTDecompressBuffer(acaZLIB, B, 0, Size, Out));
  EXPECT_EQ(Size, 0);
}

// Damaged input of every algorithm fails cleanly: truncated, bytes flipped, too small an
// expected size.
TEST(VLTCompression, DamagedInputFails) {
  auto In = TextLike(20000);
  for (auto A : {acaZLIB, acaBZIP, acaPPM}) {
    TVLTCompressedStreamBlockHeader H;
    TVLTBuffer Packed;
    ASSERT_TRUE(VLTCompressBuffer(A, 5, In.data(), In.size(), H, Packed));
    auto Good = ToVector(Packed);
    struct Case { const char* Name; std::vector<uint8_t> Data; int64_t Expected; };
    std::vector<Case> Cases;
    Cases.push_back({"truncated", {Good.begin(), Good.begin() + Good.size() / 2}, (int64_t)In.size()});
    auto Flipped = Good;
    for (size_t I = 8; I < Flipped.size(); I += 97) Flipped[I] ^= 0x5A;
    Cases.push_back({"flipped", Flipped, (int64_t)In.size()});
    Cases.push_back({"expected too small", Good, (int64_t)In.size() - 1});
    for (auto& C : Cases) {
      int64_t Size = C.Expected;
      TVLTBuffer Out;
      std::string Err;
      bool Ok = VLTDecompressBuffer(A, C.Data.data(), C.Data.size(), Size, Out, &Err);
      // PPM has no integrity check of its own: it may decode garbage, which the block checksum
      // catches; it must never decode the original.
      if (A == acaPPM && Ok)
        EXPECT_FALSE(Size == (int64_t)In.size() && ToVector(Out) == In && C.Expected == Size &&
                     std::string(C.Name) != "expected too small")
            << C.Name;
      else
        EXPECT_FALSE(Ok) << int(A) << " " << C.Name;
    }
  }
}

}  // namespace
}  // namespace vlt
