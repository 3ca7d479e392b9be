#include <gtest/gtest.h>

#include <functional>
#include <vector>

#include "engine/base/VLTExcept.h"
#include "engine/protect/VLTCompressedBLOBStream.h"
#include "engine/protect/VLTMemoryStream.h"
#include "tests/VLTTestUtil.h"

namespace vlt {
namespace {

std::vector<uint8_t> Pattern(size_t N, uint32_t Seed = 21) {
  // Compressible but not trivial: runs of a few distinct bytes.
  std::vector<uint8_t> V(N);
  uint32_t X = Seed;
  for (size_t I = 0; I < N; ++I) {
    if (I % 16 == 0) X = X * 1103515245u + 12345u;
    V[I] = static_cast<uint8_t>('a' + (X >> 20) % 8);
  }
  return V;
}

using test::CodeOf;

TVLTBLOBDescriptor Desc(TVLTCompressionAlgorithm A, uint8_t Mode, uint32_t BlockSize,
                        int64_t Start = 0) {
  TVLTBLOBDescriptor D;
  D.BlockSize = BlockSize;
  D.StartPosition = Start;
  D.CompressionAlgorithm = A;
  D.CompressionMode = Mode;
  return D;
}

std::vector<uint8_t> ReadAll(TVLTStream& S) {
  std::vector<uint8_t> V(static_cast<size_t>(S.GetSize()));
  S.Seek(0, soBeginning);
  VLTReadBuffer(S, V.data(), static_cast<int64_t>(V.size()), 1);
  return V;
}

std::vector<uint8_t> Bytes(TVLTMemoryStream& M, int64_t From, int64_t To) {
  return {M.Memory() + From, M.Memory() + To};
}

TEST(VLTCompressedBLOBStream, ThreeBlocksAndAppendRewritesOnlyTheLast) {
  TVLTMemoryStream Container;
  auto Data = Pattern(250000);
  TVLTBLOBDescriptor D;
  {
    TVLTCompressedBLOBStream S(&Container, false, true, Desc(acaZLIB, 6, 102400));
    VLTWriteBuffer(S, Data.data(), Data.size(), 1);
    ASSERT_EQ(S.Headers().size(), 3u);
    EXPECT_EQ(S.Headers()[0].Header.UncompressedSize, 102400u);
    EXPECT_EQ(S.Headers()[1].Header.UncompressedSize, 102400u);
    EXPECT_EQ(S.Headers()[2].Header.UncompressedSize, 45200u);
    EXPECT_EQ(S.Headers()[1].Position, 20 + S.Headers()[0].Header.CompressedSize);
    EXPECT_GT(S.CompressionRate(), 0.0);
    D = S.BLOBDescriptor();
    EXPECT_EQ(D.NumBlocks, 3);
    EXPECT_EQ(D.UncompressedSize, 250000);
    EXPECT_EQ(S.CompressedSize(), Container.GetSize());
    S.CheckInvariants();
  }
  int64_t ThirdPos;
  std::vector<uint8_t> Before;
  {
    TVLTCompressedBLOBStream S(&Container, false, false, D);
    EXPECT_EQ(ReadAll(S), Data);
    ThirdPos = S.Headers()[2].Position;
    Before = Bytes(Container, 0, ThirdPos);
    S.Seek(0, soEnd);
    uint8_t Ten[10] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
    EXPECT_EQ(S.Write(Ten, 10), 10);
    Data.insert(Data.end(), Ten, Ten + 10);
    ASSERT_EQ(S.Headers().size(), 3u);
    EXPECT_EQ(S.Headers()[2].Position, ThirdPos);
    EXPECT_EQ(S.Headers()[2].Header.UncompressedSize, 45210u);
    S.CheckInvariants();
    D = S.BLOBDescriptor();
  }
  EXPECT_EQ(Bytes(Container, 0, ThirdPos), Before);  // first two blocks untouched
  TVLTCompressedBLOBStream S(&Container, false, false, D);
  EXPECT_EQ(S.GetSize(), 250010);
  EXPECT_EQ(ReadAll(S), Data);
  uint8_t B;
  EXPECT_EQ(S.Read(&B, 1), 0);  // at the exact end
}

TEST(VLTCompressedBLOBStream, EveryAlgorithmRoundTripsAcrossBlocks) {
  for (auto A : {acaNone, acaZLIB, acaBZIP, acaPPM}) {
    TVLTMemoryStream Container;
    Container.SetSize(5);  // the chain starts after other bytes
    auto Data = Pattern(70001, 3);
    TVLTBLOBDescriptor D;
    {
      TVLTCompressedBLOBStream S(&Container, false, true, Desc(A, 3, 16384, 5));
      // Small writes: each fills up the last block before new ones start.
      for (size_t I = 0; I < Data.size(); I += 7000)
        VLTWriteBuffer(S, Data.data() + I, std::min<size_t>(7000, Data.size() - I), 1);
      S.CheckInvariants();
      D = S.BLOBDescriptor();
    }
    TVLTCompressedBLOBStream S(&Container, false, false, D);
    S.CheckInvariants();
    EXPECT_EQ(ReadAll(S), Data) << int(A);
    // Reading across a block boundary from the middle.
    std::vector<uint8_t> Part(100);
    S.Seek(16384 - 50, soBeginning);
    VLTReadBuffer(S, Part.data(), 100, 1);
    EXPECT_TRUE(std::equal(Part.begin(), Part.end(), Data.begin() + 16384 - 50)) << int(A);
    if (A != acaNone) {
      EXPECT_EQ(D.NumBlocks, 5);
    }
  }
}

TEST(VLTCompressedBLOBStream, ChecksumMismatchFails10089) {
  TVLTMemoryStream Container;
  auto Data = Pattern(30000);
  TVLTBLOBDescriptor D;
  {
    TVLTCompressedBLOBStream S(&Container, false, true, Desc(acaZLIB, 6, 10000));
    VLTWriteBuffer(S, Data.data(), Data.size(), 1);
    D = S.BLOBDescriptor();
  }
  TVLTCompressedBLOBStream Probe(&Container, false, false, D);
  int64_t Second = Probe.Headers()[1].Position;
  Container.Memory()[Second + 8] ^= 1;  // Crc32 of block 1
  TVLTCompressedBLOBStream S(&Container, false, false, D);
  std::vector<uint8_t> Buf(30000);
  EXPECT_EQ(S.Read(Buf.data(), 10000), 10000);  // block 0 is fine
  EXPECT_EQ(CodeOf([&] { S.Read(Buf.data(), 10); }), 10089);
}

TEST(VLTCompressedBLOBStream, DamagedBlocksFailWithTheirCodes) {
  TVLTMemoryStream Container;
  auto Data = Pattern(30000);
  TVLTBLOBDescriptor D;
  {
    TVLTCompressedBLOBStream S(&Container, false, true, Desc(acaBZIP, 6, 10000));
    VLTWriteBuffer(S, Data.data(), Data.size(), 1);
    D = S.BLOBDescriptor();
  }
  std::vector<uint8_t> Good(Container.Memory(), Container.Memory() + Container.GetSize());
  auto Restore = [&] {
    Container.SetSize(0);
    VLTWriteBuffer(Container, Good.data(), Good.size(), 1);
  };
  struct Row {
    const char* Name;
    std::function<void()> Damage;
    int32_t Code;
  };
  const Row Rows[] = {
      {"data garbled", [&] { Container.Memory()[40] ^= 0xFF; }, 10087},
      {"size in header", [&] { Container.Memory()[4] ^= 0x01; }, 10088},
      {"huge size in header", [&] { Container.Memory()[7] = 0x7F; }, 10088},
      {"link broken", [&] { Container.Memory()[12] ^= 0x01; }, 10084},
      {"chain cut short", [&] { Container.SetSize(Container.GetSize() - 30); }, 10086},
  };
  for (const Row& R : Rows) {
    Restore();
    R.Damage();
    int32_t Code = CodeOf([&] {
      TVLTCompressedBLOBStream S(&Container, false, false, D);
      ReadAll(S);
    });
    EXPECT_EQ(Code, R.Code) << R.Name;
  }
}

TEST(VLTCompressedBLOBStream, TruncateKeepsWholeBlocksAndRewritesTheLast) {
  TVLTMemoryStream Container;
  auto Data = Pattern(250000);
  TVLTCompressedBLOBStream S(&Container, false, true, Desc(acaZLIB, 6, 102400));
  VLTWriteBuffer(S, Data.data(), Data.size(), 1);
  S.SetSize(102401);
  S.CheckInvariants();
  ASSERT_EQ(S.Headers().size(), 2u);
  EXPECT_EQ(S.Headers()[1].Header.UncompressedSize, 1u);
  EXPECT_EQ(Container.GetSize(), S.Headers()[1].Position + 20 + S.Headers()[1].Header.CompressedSize);
  EXPECT_EQ(S.GetPosition(), 102401);
  Data.resize(102401);
  EXPECT_EQ(ReadAll(S), Data);

  TVLTBLOBDescriptor D = S.BLOBDescriptor();
  EXPECT_EQ(D.NumBlocks, 2);
  TVLTCompressedBLOBStream Again(&Container, false, false, D);
  EXPECT_EQ(ReadAll(Again), Data);

  S.SetSize(102400);  // exactly one full block: nothing to rewrite
  EXPECT_EQ(S.Headers().size(), 1u);
  S.CheckInvariants();
  S.SetSize(0);
  EXPECT_EQ(S.Headers().size(), 0u);
  S.CheckInvariants();
  EXPECT_EQ(Container.GetSize(), 0);
}

TEST(VLTCompressedBLOBStream, GrowingAndWritingBeyondTheEndFillWithZeros) {
  TVLTMemoryStream Container;
  TVLTCompressedBLOBStream S(&Container, false, true, Desc(acaZLIB, 1, 1000));
  uint8_t X = 0xAB;
  VLTWriteBuffer(S, &X, 1, 1);
  S.SetSize(2500);
  EXPECT_EQ(S.Headers().size(), 3u);
  S.CheckInvariants();
  S.Seek(3000, soBeginning);
  EXPECT_EQ(S.Write(&X, 1), 1);
  EXPECT_EQ(S.GetSize(), 3001);
  S.CheckInvariants();
  auto All = ReadAll(S);
  EXPECT_EQ(All[0], 0xAB);
  EXPECT_EQ(All[3000], 0xAB);
  EXPECT_EQ(std::count(All.begin(), All.end(), 0), 2999);
  S.Seek(10, soBeginning);
  EXPECT_EQ(S.Write(&X, 1), 0);  // appending only
}

TEST(VLTCompressedBLOBStream, ShortChainRaisesOrIsCutInRepairMode) {
  TVLTMemoryStream Container;
  auto Data = Pattern(5000);
  TVLTBLOBDescriptor D;
  {
    TVLTCompressedBLOBStream S(&Container, false, true, Desc(acaZLIB, 6, 1000));
    VLTWriteBuffer(S, Data.data(), Data.size(), 1);
    D = S.BLOBDescriptor();
  }
  D.NumBlocks = 7;  // two more than stored
  EXPECT_EQ(CodeOf([&] { TVLTCompressedBLOBStream S(&Container, false, false, D); }), 10082);
  TVLTCompressedBLOBStream R(&Container, true, false, D);
  EXPECT_EQ(R.BLOBDescriptor().NumBlocks, 5);
  R.CheckInvariants();
  EXPECT_EQ(ReadAll(R), Data);
}

TEST(VLTCompressedBLOBStream, CheckInvariantsCatchesAChainOfAnotherBlockSize) {
  TVLTMemoryStream Container;
  auto Data = Pattern(2500);
  TVLTBLOBDescriptor D;
  {
    TVLTCompressedBLOBStream S(&Container, false, true, Desc(acaZLIB, 6, 1000));
    VLTWriteBuffer(S, Data.data(), Data.size(), 1);
    D = S.BLOBDescriptor();
  }
  // Blocks of 1000 bytes load under a descriptor that claims 2000 (none is larger), but the
  // first block is no longer full.
  D.BlockSize = 2000;
  TVLTCompressedBLOBStream S(&Container, false, false, D);
  EXPECT_EQ(CodeOf([&] { S.CheckInvariants(); }), 20981);
}

TEST(VLTCompressedBLOBStream, PlainWindowChecksContainerSize) {
  TVLTMemoryStream Container;
  Container.SetSize(10);
  TVLTBLOBDescriptor D = Desc(acaNone, 0, 0, 10);
  {
    TVLTCompressedBLOBStream S(&Container, false, true, D);
    auto Data = Pattern(300);
    VLTWriteBuffer(S, Data.data(), 300, 1);
    EXPECT_EQ(Container.GetSize(), 310);
    EXPECT_EQ(S.CompressionRate(), 0.0);
    D = S.BLOBDescriptor();
    S.SetSize(200);
    EXPECT_EQ(Container.GetSize(), 210);
  }
  D.UncompressedSize = 201;
  EXPECT_EQ(CodeOf([&] { TVLTCompressedBLOBStream S(&Container, false, false, D); }), 10081);
  TVLTCompressedBLOBStream R(&Container, true, false, D);
  EXPECT_EQ(R.GetSize(), 200);
}

TEST(VLTCompressedBLOBStream, CompressorFailureRaises10085) {
  TVLTMemoryStream Container;
  TVLTCompressedBLOBStream S(&Container, false, true, Desc(acaBZIP, 0, 1000));  // bzip2 mode 0
  uint8_t X = 1;
  EXPECT_EQ(CodeOf([&] { S.Write(&X, 1); }), 10085);
}

}  // namespace
}  // namespace vlt
