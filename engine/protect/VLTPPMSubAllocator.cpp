#include "engine/protect/VLTPPMSubAllocator.h"

#include <cstdlib>

namespace vlt {

namespace {
constexpr uint32_t kReserveUnits = 128 * 128;
}

TVLTPPMSubAllocator::TVLTPPMSubAllocator() {
  // Size classes: 1-4 units step 1, 6-12 step 2, 15-24 step 3, 28-128 step 4.
  int I = 0, K = 1;
  for (; I < 4; ++I, K += 1) FIndx2Units[I] = static_cast<uint8_t>(K);
  for (++K; I < 8; ++I, K += 2) FIndx2Units[I] = static_cast<uint8_t>(K);
  for (++K; I < 12; ++I, K += 3) FIndx2Units[I] = static_cast<uint8_t>(K);
  for (++K; I < kIndexCount; ++I, K += 4) FIndx2Units[I] = static_cast<uint8_t>(K);
  for (K = 0, I = 0; K < 128; ++K) {
    if (FIndx2Units[I] < K + 1) ++I;
    FUnits2Indx[K] = static_cast<uint8_t>(I);
  }
}

TVLTPPMSubAllocator::~TVLTPPMSubAllocator() { Stop(); }

bool TVLTPPMSubAllocator::Start(uint32_t MegaBytes) {
  uint32_t Size = MegaBytes << 20;
  if (FHeap && FSize == Size) return true;
  Stop();
  if (Size < (kReserveUnits + 256) * kUnitSize) return false;
  // calloc: pages the model never touches are never committed.
  FHeap = static_cast<uint8_t*>(std::calloc(1, static_cast<size_t>(Size) + kUnitSize));
  if (!FHeap) return false;
  FBase = FHeap;
  FSize = Size;
  FHeapStart = FHeap + kUnitSize;
  return true;
}

void TVLTPPMSubAllocator::Stop() {
  std::free(FHeap);
  FHeap = FBase = FHeapStart = nullptr;
  FSize = 0;
}

void TVLTPPMSubAllocator::Init() {
  std::memset(FFreeList, 0, sizeof FFreeList);
  FHiUnit = FHeapStart + kUnitSize * (FSize / kUnitSize);
  FLastBreath = FHeapStart;
  FLoUnit = FHeapStart + kReserveUnits * kUnitSize;
}

void TVLTPPMSubAllocator::SplitBlock(uint8_t* P, int OldIndex, int NewIndex) {
  int UDiff = FIndx2Units[OldIndex] - FIndx2Units[NewIndex];
  P += I2B(NewIndex);
  int I = FUnits2Indx[UDiff - 1];
  if (FIndx2Units[I] != UDiff) {
    --I;
    InsertNode(P, I);
    P += I2B(I);
    UDiff -= FIndx2Units[I];
  }
  InsertNode(P, FUnits2Indx[UDiff - 1]);
}

uint8_t* TVLTPPMSubAllocator::AllocUnitsRare(int NU) {
  int Index = FUnits2Indx[NU - 1];
  if (FFreeList[Index]) return RemoveNode(Index);
  uint8_t* Ret = FLoUnit;
  if (static_cast<size_t>(FHiUnit - FLoUnit) >= I2B(Index)) {
    FLoUnit += I2B(Index);
    return Ret;
  }
  if (FLastBreath) {
    for (int I = 0; I < 128; ++I) {
      InsertNode(FLastBreath, kIndexCount - 1);
      FLastBreath += 128 * kUnitSize;
    }
    FLastBreath = nullptr;
  }
  int I = Index;
  do {
    if (++I == kIndexCount) return nullptr;
  } while (!FFreeList[I]);
  Ret = RemoveNode(I);
  SplitBlock(Ret, I, Index);
  return Ret;
}

uint8_t* TVLTPPMSubAllocator::AllocContext() {
  if (FHiUnit != FLoUnit) return FHiUnit -= kUnitSize;
  return AllocUnitsRare(1);
}

uint8_t* TVLTPPMSubAllocator::ExpandUnits(uint8_t* OldPtr, int OldNU) {
  int I0 = FUnits2Indx[OldNU - 1], I1 = FUnits2Indx[OldNU];
  if (I0 == I1) return OldPtr;
  uint8_t* P = AllocUnitsRare(OldNU + 1);
  if (P) {
    std::memcpy(P, OldPtr, I2B(I0));
    InsertNode(OldPtr, I0);
  }
  return P;
}

uint8_t* TVLTPPMSubAllocator::ShrinkUnits(uint8_t* OldPtr, int OldNU, int NewNU) {
  int I0 = FUnits2Indx[OldNU - 1], I1 = FUnits2Indx[NewNU - 1];
  if (I0 == I1) return OldPtr;
  if (FFreeList[I1]) {
    uint8_t* P = RemoveNode(I1);
    std::memcpy(P, OldPtr, I2B(I1));
    InsertNode(OldPtr, I0);
    return P;
  }
  SplitBlock(OldPtr, I0, I1);
  return OldPtr;
}

void TVLTPPMSubAllocator::FreeUnits(uint8_t* Ptr, int OldNU) { InsertNode(Ptr, FUnits2Indx[OldNU - 1]); }

}  // namespace vlt
