#include "engine/protect/VLTPPM.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/base/VLTTypes.h"

namespace vlt {
namespace {

std::vector<uint8_t> TextLike(size_t N, uint32_t Seed = 7) {
  static const char* Words[] = {"the ", "church ", "ledger ", "payroll ", "contribution ",
                                "account ", "2026 ", "John ", "Smith ", "\r\n", "amount=",
                                "12.50 ", "fund ", "of ", "and "};
  std::vector<uint8_t> V;
  uint32_t X = Seed;
  while (V.size() < N) {
    X = X * 1103515245u + 12345u;
    const char* W = Words[(X >> 16) % 15];
    for (const char* C = W; *C && V.size() < N; ++C) V.push_back(static_cast<uint8_t>(*C));
  }
  return V;
}

std::vector<uint8_t> Random(size_t N, uint32_t Seed = 9) {
  std::vector<uint8_t> V(N);
  uint32_t X = Seed;
  for (auto& B : V) {
    X = X * 1664525u + 1013904223u;
    B = static_cast<uint8_t>(X >> 24);
  }
  return V;
}

void RoundTrip(const std::vector<uint8_t>& In, int Mode) {
  std::vector<uint8_t> Packed;
  std::string Err;
  ASSERT_TRUE(PPMCompressBuffer(In.data(), In.size(), Mode, Packed, Err)) << Err;
  std::vector<uint8_t> Out(In.size());
  size_t Produced = 0;
  ASSERT_TRUE(PPMDecompressBuffer(Packed.data(), Packed.size(), Out.data(), Out.size(), Produced, Err))
      << Err << " mode " << Mode;
  ASSERT_EQ(Produced, In.size());
  ASSERT_TRUE(Out == In) << "mode " << Mode;
}

TEST(VLTPPM, ParameterWordByMode) {
  struct Row { int Mode; uint32_t Word; };
  const Row Rows[] = {{0, 0x6011}, {1, 0x6011}, {2, 0x6022}, {3, 0x6063}, {4, 0x60F4},
                      {5, 0x6156}, {6, 0x6187}, {7, 0x6279}, {8, 0x663C}, {9, 0x663F},
                      {10, 0x663F}};
  for (const Row& R : Rows) EXPECT_EQ(PPMParameterWord(PPMParametersForMode(R.Mode)), R.Word) << R.Mode;
}

TEST(VLTPPM, RoundTripEveryMode) {
  auto Text = TextLike(20000);
  auto Rand = Random(3000);
  for (int Mode = 0; Mode <= 10; ++Mode) {
    RoundTrip(Text, Mode);
    RoundTrip(Rand, Mode);
  }
}

TEST(VLTPPM, RoundTripSmallAndRepetitive) {
  RoundTrip({'a'}, 4);
  RoundTrip(std::vector<uint8_t>(100000, 0), 4);
  RoundTrip(std::vector<uint8_t>(70000, 0xFF), 9);
  std::vector<uint8_t> Alt;
  for (int I = 0; I < 60000; ++I) Alt.push_back(static_cast<uint8_t>(I % 3 == 0 ? 'x' : I));
  RoundTrip(Alt, 2);
}

TEST(VLTPPM, ModelRestartWhenMemoryRunsOut) {
  // 2 MB at mode 1 fills up quickly on random bytes; the model restarts in both coders alike.
  uint64_t Before = PPMModelRestartCount();
  RoundTrip(Random(110000, 3), 1);
  EXPECT_GE(PPMModelRestartCount(), Before + 2);  // at least once in each direction
}

// Reference vectors derived by hand from the published var.G algorithm (order 2, 2 MB):
// - no input: the initial order-1 context (symbol 0 after a history of zeros) is binary with
//   BinSumm[0][14] = 16384 - 0x6BCA / 2 = 2587; the end escapes it (2587..16384 of 2^14), then
//   escapes order 0 with all 255 other symbols (255..256 of 256); one byte 0xFF is shifted out
//   and the flush gives 28 2C 1B 00.
// - "a": the same binary escape, then 'a' in order 0 among 255 unmasked symbols (96..97 of
//   256); the end then escapes order 0 with SummFreq 261 ('a' now has frequency 5): 260..261 of
//   261, shifting out 7A 1A; the flush gives 21 6D 00 00.
// - "aa", "aab", "aaba": the coded events traced by hand through the model (the second 'a' in
//   order 0 at 97..102 of 261 with the swap of update1; the new order-1 context "a" built by
//   MakeRoot with frequency 1 + (2*8 + 3*1 - 1) / 2 = 10; 'b' escaping it at BinSumm[9][14] =
//   13876; the binary context growing to two states ('a' 20, 'b' 5, SummFreq 28) and the end
//   escaping it at 25..28 of 28, then order 0 with two symbols masked at 254..255 of 255), the
//   bytes then computed by a separate model of the range coder.
// They pin the parameter word, the range coder's arithmetic and normalisation, the initial model,
// the escape estimates of binary and order-0 contexts and the first steps of model growth.
TEST(VLTPPM, HandDerivedReferenceVectors) {
  struct Row {
    std::vector<uint8_t> In;
    std::vector<uint8_t> Coded;
  };
  const Row Rows[] = {
      {{}, {0x11, 0x60, 0x00, 0x00, 0xFF, 0x28, 0x2C, 0x1B, 0x00}},
      {{'a'}, {0x11, 0x60, 0x00, 0x00, 0x7A, 0x1A, 0x21, 0x6D, 0x00, 0x00}},
      {{'a', 'a'}, {0x11, 0x60, 0x00, 0x00, 0x79, 0x97, 0xA0, 0x35, 0x03, 0x00, 0x00}},
      {{'a', 'a', 'b'}, {0x11, 0x60, 0x00, 0x00, 0x79, 0x97, 0x3C, 0xF9, 0xB0, 0x03, 0xDC}},
      {{'a', 'a', 'b', 'a'},
       {0x11, 0x60, 0x00, 0x00, 0x79, 0x97, 0x3C, 0x97, 0xA4, 0x76, 0xEF, 0x10}},
  };
  for (const Row& R : Rows) {
    std::vector<uint8_t> Packed;
    std::string Err;
    ASSERT_TRUE(PPMCompressBuffer(R.In.data(), R.In.size(), 1, Packed, Err));
    EXPECT_EQ(Packed, R.Coded);
    if (!R.In.empty()) {
      std::vector<uint8_t> Out(R.In.size());
      size_t Produced = 0;
      ASSERT_TRUE(PPMDecompressBuffer(R.Coded.data(), R.Coded.size(), Out.data(), Out.size(),
                                      Produced, Err));
      EXPECT_EQ(Out, R.In);
    }
  }
}

// A decoder given more room than the data holds stops at the end-of-data escape.
TEST(VLTPPM, DecoderStopsAtEndOfData) {
  auto In = TextLike(5000);
  std::vector<uint8_t> Packed;
  std::string Err;
  ASSERT_TRUE(PPMCompressBuffer(In.data(), In.size(), 6, Packed, Err));
  std::vector<uint8_t> Out(In.size() + 100);
  size_t Produced = 0;
  ASSERT_TRUE(PPMDecompressBuffer(Packed.data(), Packed.size(), Out.data(), Out.size(), Produced, Err));
  EXPECT_EQ(Produced, In.size());
  EXPECT_TRUE(std::equal(In.begin(), In.end(), Out.begin()));
}

TEST(VLTPPM, OtherVariantIsRefused) {
  auto In = TextLike(1000);
  std::vector<uint8_t> Packed;
  std::string Err;
  ASSERT_TRUE(PPMCompressBuffer(In.data(), In.size(), 4, Packed, Err));
  StoreLE<uint32_t>(Packed.data(), (LoadLE<uint32_t>(Packed.data()) & ~0xF000u) | (7u << 12));
  std::vector<uint8_t> Out(In.size());
  size_t Produced = 0;
  EXPECT_FALSE(PPMDecompressBuffer(Packed.data(), Packed.size(), Out.data(), Out.size(), Produced, Err));
  EXPECT_EQ(Produced, 0u);
}

TEST(VLTPPM, DecompressNeedsOutSize) {
  uint8_t In[8] = {0x14, 0x60, 0, 0, 1, 2, 3, 4};
  uint8_t Out[1];
  size_t Produced = 0;
  std::string Err;
  EXPECT_FALSE(PPMDecompressBuffer(In, sizeof In, Out, 0, Produced, Err));
  EXPECT_EQ(Err, "PPM DecpmpressBuf: OutSize must be set");
}

}  // namespace
}  // namespace vlt
