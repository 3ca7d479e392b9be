#include "engine/protect/VLTPPM.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/core/VLTTypes.h"

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
  auto Text = TextLike(40000);
  auto Rand = Random(5000);
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
  RoundTrip(Random(600000, 3), 1);
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
