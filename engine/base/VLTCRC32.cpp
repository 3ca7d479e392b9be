#include "engine/base/VLTCRC32.h"

#include <zlib.h>

namespace vlt {

// zlib's crc32 is the same table-driven update wrapped in an inversion on entry and on exit;
// undoing both gives the engine's raw form, with zlib's fast slicing loop underneath.
uint32_t CalcCRC32(uint32_t Start, const void* Data, size_t Length) {
  if (Length == 0) return Start;
  return ~static_cast<uint32_t>(crc32_z(~static_cast<unsigned long>(Start) & 0xFFFFFFFFul,
                                        static_cast<const Bytef*>(Data), Length));
}

}  // namespace vlt
