// Damaged PPM input must fail cleanly or decode some bytes, never crash. The parameter word is
// kept to small models so that each run stays fast; the decoder itself accepts any order and up
// to 256 MB.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "engine/protect/VLTCompression.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  if (Size < 6) return 0;
  int64_t Expected = (Data[0] | (Data[1] << 8)) % 8192 + 1;
  std::vector<uint8_t> In(Data + 2, Data + Size);
  // Memory field: 1 to 4 MB; order and variant as fuzzed (a wrong variant must be refused).
  In[0] = static_cast<uint8_t>((In[0] & 0x0F) | ((In[0] & 0x30)));
  In[1] = static_cast<uint8_t>(In[1] & 0xF0);
  int64_t OutSize = Expected;
  vlt::TVLTBuffer Out;
  vlt::VLTDecompressBuffer(vlt::acaPPM, In.data(), static_cast<int64_t>(In.size()), OutSize, Out);
  return 0;
}
