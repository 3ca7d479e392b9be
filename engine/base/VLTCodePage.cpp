#include "engine/base/VLTCodePage.h"

#include <array>
#include <cstdint>

namespace vlt {

namespace {
// Code points of 0x80..0x9F in Windows-1252; the rest of 0xA0..0xFF are Latin-1.
constexpr std::array<uint16_t, 32> kHigh = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

void AppendUtf8(std::string& Out, uint32_t Cp) {
  if (Cp < 0x80) {
    Out.push_back(static_cast<char>(Cp));
  } else if (Cp < 0x800) {
    Out.push_back(static_cast<char>(0xC0 | (Cp >> 6)));
    Out.push_back(static_cast<char>(0x80 | (Cp & 0x3F)));
  } else {
    Out.push_back(static_cast<char>(0xE0 | (Cp >> 12)));
    Out.push_back(static_cast<char>(0x80 | ((Cp >> 6) & 0x3F)));
    Out.push_back(static_cast<char>(0x80 | (Cp & 0x3F)));
  }
}

char ToByte(uint32_t Cp) {
  if (Cp < 0x80 || (Cp >= 0xA0 && Cp <= 0xFF)) return static_cast<char>(Cp);
  for (size_t I = 0; I < kHigh.size(); ++I)
    if (kHigh[I] == Cp) return static_cast<char>(0x80 + I);
  return '?';
}
}  // namespace

std::string Win1252ToUtf8(std::string_view S) {
  std::string Out;
  Out.reserve(S.size());
  for (char Ch : S) {
    auto C = static_cast<uint8_t>(Ch);
    AppendUtf8(Out, C < 0x80 ? C : (C < 0xA0 ? kHigh[C - 0x80] : C));
  }
  return Out;
}

std::string Utf8ToWin1252(std::string_view S) {
  std::string Out;
  Out.reserve(S.size());
  for (size_t I = 0; I < S.size();) {
    auto C = static_cast<uint8_t>(S[I]);
    int Len = C < 0x80 ? 1 : (C >> 5) == 6 ? 2 : (C >> 4) == 14 ? 3 : (C >> 3) == 30 ? 4 : 0;
    bool Ok = Len > 0 && I + Len <= S.size();
    uint32_t Cp = Len == 1 ? C : Len == 2 ? C & 0x1F : Len == 3 ? C & 0x0F : C & 0x07;
    for (int K = 1; Ok && K < Len; ++K) {
      auto N = static_cast<uint8_t>(S[I + K]);
      if ((N & 0xC0) != 0x80) Ok = false;
      Cp = (Cp << 6) | (N & 0x3F);
    }
    if (!Ok) {
      Out.push_back(static_cast<char>(C));
      ++I;
      continue;
    }
    Out.push_back(ToByte(Cp));
    I += static_cast<size_t>(Len);
  }
  return Out;
}

}  // namespace vlt
