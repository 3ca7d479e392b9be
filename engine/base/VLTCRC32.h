// The engine's checksum for encrypted pages, the password control block and compressed blocks:
// table-driven CRC-32 of the reflected polynomial 0xEDB88320, started from the caller's value and
// without final inversion (so CalcCRC32(0, ...) is not the usual CRC-32 value).
#pragma once

#include <cstddef>
#include <cstdint>

namespace vlt {

// REQUIRES: Length >= 1 where the caller needs a defined value (0 bytes return Start).
uint32_t CalcCRC32(uint32_t Start, const void* Data, size_t Length);

}  // namespace vlt
