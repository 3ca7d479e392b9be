#include "engine/core/VLTBitsArray.h"

#include <bit>

#include "engine/base/VLTExcept.h"
#include "engine/protect/VLTStream.h"

namespace vlt {

int TVLTBitsArray::PopCount(uint8_t B) { return std::popcount(static_cast<unsigned>(B)); }

void TVLTBitsArray::SetSize(int64_t BitCount) {
  if (BitCount < 0) BitCount = 0;
  if (BitCount < FBitCount) {
    // Forget the bits beyond the new end, keeping the set count exact.
    for (int64_t I = BitCount; I < FBitCount; ++I)
      if (GetBit(I)) --FNonZeroBitCount;
    FBits.resize(static_cast<size_t>((BitCount + 7) / 8));
    if (BitCount % 8 != 0 && !FBits.empty())
      FBits.back() &= static_cast<uint8_t>((1u << (BitCount % 8)) - 1);
  } else {
    FBits.resize(static_cast<size_t>((BitCount + 7) / 8), 0);
  }
  FBitCount = BitCount;
}

bool TVLTBitsArray::GetBit(int64_t BitNo) const {
  if (BitNo < 0 || BitNo >= FBitCount)
    throw EVLTException(10394, "Invalid bit no = %d, number of bits = %d",
                        {int64_t{BitNo}, int64_t{FBitCount}});
  return (FBits[static_cast<size_t>(BitNo / 8)] >> (BitNo % 8)) & 1;
}

void TVLTBitsArray::SetBit(int64_t BitNo, bool Value) {
  if (BitNo < 0 || BitNo >= FBitCount)
    throw EVLTException(10395, "Invalid bit no = %d, number of bits = %d",
                        {int64_t{BitNo}, int64_t{FBitCount}});
  uint8_t& B = FBits[static_cast<size_t>(BitNo / 8)];
  const uint8_t Mask = static_cast<uint8_t>(1u << (BitNo % 8));
  const bool Old = (B & Mask) != 0;
  if (Old == Value) return;
  if (Value) {
    B |= Mask;
    ++FNonZeroBitCount;
  } else {
    B &= static_cast<uint8_t>(~Mask);
    --FNonZeroBitCount;
  }
}

void TVLTBitsArray::SetAllBits() {
  for (auto& B : FBits) B = 0xFF;
  if (FBitCount % 8 != 0 && !FBits.empty())
    FBits.back() = static_cast<uint8_t>((1u << (FBitCount % 8)) - 1);
  FNonZeroBitCount = FBitCount;
}

void TVLTBitsArray::ClearAllBits() {
  for (auto& B : FBits) B = 0;
  FNonZeroBitCount = 0;
}

bool TVLTBitsArray::FindBit(bool Value, int64_t& BitNo) const {
  for (size_t Byte = 0; Byte < FBits.size(); ++Byte) {
    const uint8_t B = Value ? FBits[Byte] : static_cast<uint8_t>(~FBits[Byte]);
    if (B == 0) continue;
    const int64_t N = static_cast<int64_t>(Byte) * 8 + std::countr_zero(static_cast<unsigned>(B));
    if (N >= FBitCount) return false;
    BitNo = N;
    return true;
  }
  return false;
}

bool TVLTBitsArray::Find(bool Restart, bool GoForward, int64_t CurBitNo, int64_t& FoundBitNo) const {
  if (FNonZeroBitCount == 0) return false;
  if (GoForward) {
    int64_t I = Restart ? 0 : CurBitNo + 1;
    if (I < 0) I = 0;
    while (I < FBitCount) {
      const uint8_t B = static_cast<uint8_t>(FBits[static_cast<size_t>(I / 8)] >> (I % 8));
      if (B == 0) {
        I = (I / 8 + 1) * 8;  // rest of this byte is clear
        continue;
      }
      const int64_t N = I + std::countr_zero(static_cast<unsigned>(B));
      if (N >= FBitCount) return false;
      FoundBitNo = N;
      return true;
    }
    return false;
  }
  int64_t I = Restart ? FBitCount - 1 : CurBitNo - 1;
  if (I >= FBitCount) I = FBitCount - 1;
  while (I >= 0) {
    const unsigned Shift = static_cast<unsigned>(7 - I % 8);
    const uint8_t B = static_cast<uint8_t>(FBits[static_cast<size_t>(I / 8)] << Shift);
    if (B == 0) {
      I = (I / 8) * 8 - 1;  // lower part of this byte is clear
      continue;
    }
    FoundBitNo = I - std::countl_zero(static_cast<unsigned>(B) << 24);
    return true;
  }
  return false;
}

int64_t TVLTBitsArray::GetBitNoByBitPosition(int64_t K) const {
  if (K < 0 || K >= FNonZeroBitCount)
    throw EVLTException(10428, "Invalid bit position = %d, number of set bits = %d",
                        {int64_t{K}, int64_t{FNonZeroBitCount}});
  if (FNonZeroBitCount == FBitCount) return K;
  int64_t Seen = 0;
  for (size_t Byte = 0; Byte < FBits.size(); ++Byte) {
    const int C = PopCount(FBits[Byte]);
    if (Seen + C > K) {
      uint8_t B = FBits[Byte];
      for (int64_t Skip = K - Seen; Skip > 0; --Skip) B &= static_cast<uint8_t>(B - 1);
      return static_cast<int64_t>(Byte) * 8 + std::countr_zero(static_cast<unsigned>(B));
    }
    Seen += C;
  }
  return -1;  // not reached: the set count is exact
}

int64_t TVLTBitsArray::GetBitPositionByBitNo(int64_t N) const {
  if (N < 0 || N >= FBitCount)
    throw EVLTException(10429, "Invalid bit no = %d, number of bits = %d",
                        {int64_t{N}, int64_t{FBitCount}});
  if (FNonZeroBitCount == FBitCount) return N;
  int64_t Count = 0;
  const size_t LastByte = static_cast<size_t>(N / 8);
  for (size_t Byte = 0; Byte < LastByte; ++Byte) Count += PopCount(FBits[Byte]);
  const unsigned Keep = static_cast<unsigned>(N % 8) + 1;
  Count += PopCount(static_cast<uint8_t>(FBits[LastByte] & ((1u << Keep) - 1)));
  return Count - 1;
}

void TVLTBitsArray::LoadFromStream(TVLTStream& Stream) {
  int32_t BitCount = 0, NonZero = 0;
  VLTReadBuffer(Stream, &BitCount, 4, 10396);
  VLTReadBuffer(Stream, &NonZero, 4, 10397);
  if (BitCount < 0) throw EVLTException(10398, "Invalid bit count = %d", {int64_t{BitCount}});
  std::vector<uint8_t> Bits(static_cast<size_t>((int64_t{BitCount} + 7) / 8));
  if (!Bits.empty()) VLTReadBuffer(Stream, Bits.data(), static_cast<int64_t>(Bits.size()), 10399);
  FBits = std::move(Bits);
  FBitCount = BitCount;
  if (BitCount % 8 != 0 && !FBits.empty())
    FBits.back() &= static_cast<uint8_t>((1u << (BitCount % 8)) - 1);
  // The stored set count is not trusted: it is counted again from the bytes.
  FNonZeroBitCount = 0;
  for (uint8_t B : FBits) FNonZeroBitCount += PopCount(B);
}

void TVLTBitsArray::SaveToStream(TVLTStream& Stream) const {
  const int32_t BitCount = static_cast<int32_t>(FBitCount);
  const int32_t NonZero = static_cast<int32_t>(FNonZeroBitCount);
  VLTWriteBuffer(Stream, &BitCount, 4, 10400);
  VLTWriteBuffer(Stream, &NonZero, 4, 10401);
  if (!FBits.empty()) VLTWriteBuffer(Stream, FBits.data(), static_cast<int64_t>(FBits.size()), 10402);
}

}  // namespace vlt
