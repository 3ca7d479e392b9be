// TVLTBitsArray: a growable array of bits that keeps the count of its set bits. Bit n lives in
// bit (n mod 8) of byte (n div 8), least significant bit first.
#pragma once

#include <cstdint>
#include <vector>

namespace vlt {

class TVLTStream;

class TVLTBitsArray {
 public:
  int64_t BitCount() const { return FBitCount; }
  int64_t NonZeroBitCount() const { return FNonZeroBitCount; }

  // New bits are zero; shrinking forgets the bits beyond the new size.
  void SetSize(int64_t BitCount);
  // 10394 / 10395 "Invalid bit no = %d, number of bits = %d" outside the array.
  bool GetBit(int64_t BitNo) const;
  void SetBit(int64_t BitNo, bool Value);
  void SetAllBits();
  void ClearAllBits();
  // The first bit with Value; false when none.
  bool FindBit(bool Value, int64_t& BitNo) const;
  // The next set bit after CurBitNo (GoForward) or before it; from the start or the end when
  // Restart. False when there is none.
  bool Find(bool Restart, bool GoForward, int64_t CurBitNo, int64_t& FoundBitNo) const;
  // The number of the K-th set bit, counting from 0 (10428 when K is not below the set count).
  int64_t GetBitNoByBitPosition(int64_t K) const;
  // The count of set bits at positions 0 to N, minus one (10429 outside the array).
  int64_t GetBitPositionByBitNo(int64_t N) const;

  // Bit count (Int32), set count (Int32), then the bytes.
  void LoadFromStream(TVLTStream& Stream);
  void SaveToStream(TVLTStream& Stream) const;

 private:
  static int PopCount(uint8_t B);

  std::vector<uint8_t> FBits;
  int64_t FBitCount = 0;
  int64_t FNonZeroBitCount = 0;
};

}  // namespace vlt
