#include "engine/base/VLTGuid.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <random>

namespace vlt {

std::string VLTNewGuidText() {
  static thread_local std::mt19937_64 Random(std::random_device{}());
  uint8_t B[16];
  for (int I = 0; I < 16; I += 8) {
    const uint64_t V = Random();
    std::memcpy(B + I, &V, 8);
  }
  B[6] = static_cast<uint8_t>((B[6] & 0x0F) | 0x40);  // version 4
  B[8] = static_cast<uint8_t>((B[8] & 0x3F) | 0x80);  // variant 1
  char Text[40];
  std::snprintf(Text, sizeof Text,
                "{%02X%02X%02X%02X-%02X%02X-%02X%02X-%02X%02X-%02X%02X%02X%02X%02X%02X}", B[0],
                B[1], B[2], B[3], B[4], B[5], B[6], B[7], B[8], B[9], B[10], B[11], B[12], B[13],
                B[14], B[15]);
  return Text;
}

}  // namespace vlt
