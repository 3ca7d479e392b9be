// The input format the file-structure fuzz targets share: either a list of patches to a valid
// image, or (first byte odd) the raw start of the image.
//
// Patch list: repeated (offset: 3 bytes, little-endian, taken modulo the image size; length: 1
// byte, 1..16; the bytes).
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace vlt::fuzz {

inline std::vector<uint8_t> Damaged(const std::vector<uint8_t>& Image, const uint8_t* Data,
                                    size_t Size) {
  std::vector<uint8_t> Bytes = Image;
  if (Bytes.empty()) return Bytes;
  if (Size > 0 && (Data[0] & 1)) {
    std::copy_n(Data + 1, std::min(Size - 1, Bytes.size()), Bytes.begin());
    return Bytes;
  }
  for (size_t P = Size > 0 ? 1 : 0; P + 4 <= Size;) {
    const size_t Offset = (Data[P] | Data[P + 1] << 8 | Data[P + 2] << 16) % Bytes.size();
    const size_t Length = 1 + Data[P + 3] % 16;
    P += 4;
    for (size_t K = 0; K < Length && P < Size && Offset + K < Bytes.size(); ++K, ++P)
      Bytes[Offset + K] = Data[P];
  }
  return Bytes;
}

}  // namespace vlt::fuzz
