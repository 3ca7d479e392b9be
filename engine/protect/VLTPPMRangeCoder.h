// The carry-less range coder of the PPM coder (Dmitry Subbotin's design as used by PPMd var.G):
// 32-bit low and range, bytes shifted out while the top byte of low is settled, and the range cut
// back to the next 2^15 boundary when it falls below 2^15, so no carry ever propagates.
//
// All arithmetic is on 32-bit unsigned values, exactly as the reference coder's.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace vlt {

// The interval of one coded event: [LowCount, HighCount) of Scale (or of 2^Shift).
struct TVLTPPMSubRange {
  uint32_t LowCount = 0;
  uint32_t HighCount = 0;
  uint32_t Scale = 0;
};

class TVLTPPMRangeEncoder {
 public:
  static constexpr uint32_t kTop = 1u << 24;
  static constexpr uint32_t kBot = 1u << 15;

  explicit TVLTPPMRangeEncoder(std::vector<uint8_t>& Out) : FOut(Out) {}

  void Encode(const TVLTPPMSubRange& R) {
    FLow += R.LowCount * (FRange /= R.Scale);
    FRange *= R.HighCount - R.LowCount;
  }
  void ShiftEncode(const TVLTPPMSubRange& R, unsigned Shift) {
    FLow += R.LowCount * (FRange >>= Shift);
    FRange *= R.HighCount - R.LowCount;
  }
  void Normalize() {
    for (;;) {
      if ((FLow ^ (FLow + FRange)) >= kTop) {
        if (FRange >= kBot) break;
        FRange = (0u - FLow) & (kBot - 1);
      }
      FOut.push_back(static_cast<uint8_t>(FLow >> 24));
      FRange <<= 8;
      FLow <<= 8;
    }
  }
  void Flush() {
    for (int I = 0; I < 4; ++I) {
      FOut.push_back(static_cast<uint8_t>(FLow >> 24));
      FLow <<= 8;
    }
  }

 private:
  std::vector<uint8_t>& FOut;
  uint32_t FLow = 0;
  uint32_t FRange = 0xFFFFFFFFu;
};

class TVLTPPMRangeDecoder {
 public:
  static constexpr uint32_t kTop = 1u << 24;
  static constexpr uint32_t kBot = 1u << 15;

  // Past the end of the input every byte reads as all ones (the reference coder ORs in EOF).
  TVLTPPMRangeDecoder(const uint8_t* In, size_t Size) : FIn(In), FEnd(In + Size) {
    for (int I = 0; I < 4; ++I) FCode = (FCode << 8) | NextByte();
  }

  uint32_t GetCurrentCount(uint32_t Scale) { return (FCode - FLow) / (FRange /= Scale); }
  uint32_t GetCurrentShiftCount(unsigned Shift) { return (FCode - FLow) / (FRange >>= Shift); }
  void RemoveSubrange(const TVLTPPMSubRange& R) {
    FLow += FRange * R.LowCount;
    FRange *= R.HighCount - R.LowCount;
  }
  // False when the range has collapsed (only damaged input can do that).
  bool Normalize() {
    for (;;) {
      if ((FLow ^ (FLow + FRange)) >= kTop) {
        if (FRange >= kBot) return true;
        FRange = (0u - FLow) & (kBot - 1);
        if (FRange == 0) return false;
      }
      FCode = (FCode << 8) | NextByte();
      FRange <<= 8;
      FLow <<= 8;
    }
  }
  // Bytes requested beyond the end of the input.
  size_t Overrun() const { return FOverrun; }

 private:
  uint32_t NextByte() {
    if (FIn < FEnd) return *FIn++;
    ++FOverrun;
    return 0xFFFFFFFFu;
  }

  const uint8_t* FIn;
  const uint8_t* FEnd;
  size_t FOverrun = 0;
  uint32_t FLow = 0;
  uint32_t FCode = 0;
  uint32_t FRange = 0xFFFFFFFFu;
};

}  // namespace vlt
