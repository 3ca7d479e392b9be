// Damaged zlib input must fail cleanly, never crash or allocate without bound.
#include <cstddef>
#include <cstdint>

#include "engine/protect/VLTCompression.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  if (Size < 2) return 0;
  // First two bytes: the expected size (0 = unknown), the rest the compressed data.
  int64_t Expected = Data[0] | (Data[1] << 8);
  int64_t OutSize = Expected;
  vlt::TVLTBuffer Out;
  vlt::VLTDecompressBuffer(vlt::acaZLIB, Data + 2, static_cast<int64_t>(Size - 2), OutSize, Out);
  return 0;
}
