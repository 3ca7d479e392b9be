// The PPM model's memory: one heap cut into 12-byte units, handed out in 38 size classes.
//
// Compressed PPM data can only be decoded by a model that runs out of memory at exactly the same
// moment as the encoder's did (it then restarts), so this allocator reproduces the reference
// PPMd var.G sub-allocator unit for unit: the same size classes, the same order of taking units
// from the low end (statistics) and the high end (contexts), the same reserve ("last breath") of
// 128 blocks of 128 units at the start of the heap, released once when the heap is exhausted,
// and last-in-first-out free lists.
//
// Everything inside the heap refers to other places in it by 32-bit offsets from Base(), with
// offset 0 meaning none; a unit laid out exactly like the reference's 32-bit build keeps the
// model's structures 12 and 6 bytes long.
//
// Heap layout:
//
//   OFFSET                 SIZE                 CONTENT
//   0                      12                   never handed out (offset 0 = none)
//   12                     128 * 128 * 12       reserve released when the heap runs out
//   12 + 196608            ...                  statistics grow upwards from here (LoUnit)
//   ...                    ...                  contexts grow downwards to here (HiUnit)
//   12 + 12 * (Size / 12)                       end of the usable heap
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace vlt {

class TVLTPPMSubAllocator {
 public:
  static constexpr uint32_t kUnitSize = 12;
  static constexpr int kIndexCount = 38;

  TVLTPPMSubAllocator();
  ~TVLTPPMSubAllocator();
  TVLTPPMSubAllocator(const TVLTPPMSubAllocator&) = delete;
  TVLTPPMSubAllocator& operator=(const TVLTPPMSubAllocator&) = delete;

  // Makes a heap of MegaBytes MB (kept when the size is unchanged). False when it cannot be had.
  bool Start(uint32_t MegaBytes);
  void Stop();
  // Forgets every allocation: the whole heap is free again.
  void Init();

  uint8_t* Base() const { return FBase; }
  uint32_t Offset(const void* P) const {
    return P ? static_cast<uint32_t>(static_cast<const uint8_t*>(P) - FBase) : 0;
  }
  uint8_t* Pointer(uint32_t Off) const { return Off ? FBase + Off : nullptr; }

  // One unit from the high end (or anywhere when the ends have met). Null when exhausted.
  uint8_t* AllocContext();
  // NU units (1 to 128). Null when exhausted.
  uint8_t* AllocUnitsRare(int NU);
  // Grows a block of OldNU units by one unit, moving it when its size class changes.
  uint8_t* ExpandUnits(uint8_t* OldPtr, int OldNU);
  uint8_t* ShrinkUnits(uint8_t* OldPtr, int OldNU, int NewNU);
  void FreeUnits(uint8_t* Ptr, int OldNU);

 private:
  uint32_t I2B(int Index) const { return kUnitSize * FIndx2Units[Index]; }
  void InsertNode(uint8_t* P, int Index) {
    std::memcpy(P, &FFreeList[Index], 4);
    FFreeList[Index] = Offset(P);
  }
  uint8_t* RemoveNode(int Index) {
    uint8_t* P = FBase + FFreeList[Index];
    std::memcpy(&FFreeList[Index], P, 4);
    return P;
  }
  void SplitBlock(uint8_t* P, int OldIndex, int NewIndex);

  uint8_t* FHeap = nullptr;  // the allocation; FBase == FHeap
  uint8_t* FBase = nullptr;
  uint32_t FSize = 0;  // usable bytes (MB << 20)
  uint8_t* FHeapStart = nullptr;
  uint8_t* FLoUnit = nullptr;
  uint8_t* FHiUnit = nullptr;
  uint8_t* FLastBreath = nullptr;
  uint32_t FFreeList[kIndexCount] = {};
  uint8_t FIndx2Units[kIndexCount];
  uint8_t FUnits2Indx[128];
};

}  // namespace vlt
