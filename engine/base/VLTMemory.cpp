#include "engine/base/VLTMemory.h"

#include <cstdlib>
#include <cstring>

#include "engine/base/VLTErrorCodes.h"
#include "engine/base/VLTExcept.h"

namespace vlt {

struct TBlockHeader {
  uint64_t Size;
  uint32_t Guard;
  uint32_t Padding;
};
static_assert(sizeof(TBlockHeader) == 16);

namespace {
constexpr uint32_t kHeadGuard = 0x564C5442;
constexpr uint32_t kTailGuard = 0x4B434F4C;
constexpr uint32_t kFreedGuard = 0xDEADBEEF;

void WriteTail(TBlockHeader* H) {
  std::memcpy(reinterpret_cast<uint8_t*>(H + 1) + H->Size, &kTailGuard, sizeof kTailGuard);
}
}  // namespace

TVLTMemoryManager& TVLTMemoryManager::Instance() {
  static TVLTMemoryManager Manager;
  return Manager;
}

TBlockHeader* TVLTMemoryManager::HeaderOf(const void* Ptr) {
  auto* H =
      reinterpret_cast<TBlockHeader*>(const_cast<uint8_t*>(static_cast<const uint8_t*>(Ptr))) - 1;
  if (H->Guard != kHeadGuard) throw EVLTException(kErrInvalidPointer, "Invalid pointer");
  uint32_t Tail;
  std::memcpy(&Tail, reinterpret_cast<uint8_t*>(H + 1) + H->Size, sizeof Tail);
  if (Tail != kTailGuard) throw EVLTException(kErrInvalidPointer, "Invalid pointer");
  return H;
}

void TVLTMemoryManager::Reserve(size_t Size) {
  std::lock_guard<std::mutex> Guard(FLock);
  if (FLimit > 0 && FAllocated + static_cast<int64_t>(Size) > FLimit)
    throw EVLTException(kErrMemoryLimit, "Memory limit exceeded (Limit = %d bytes)", {FLimit});
  FAllocated += static_cast<int64_t>(Size);
}

void* TVLTMemoryManager::GetMem(size_t Size) {
  if (Size == 0) throw EVLTException(kErrAllocateZero, "Cannot allocate 0 bytes");
  Reserve(Size);
  auto* H =
      static_cast<TBlockHeader*>(std::malloc(sizeof(TBlockHeader) + Size + sizeof kTailGuard));
  if (!H) {
    std::lock_guard<std::mutex> Guard(FLock);
    FAllocated -= static_cast<int64_t>(Size);
    throw std::bad_alloc();
  }
  H->Size = Size;
  H->Guard = kHeadGuard;
  H->Padding = 0;
  WriteTail(H);
  return H + 1;
}

void* TVLTMemoryManager::AllocMem(size_t Size) {
  void* P = GetMem(Size);
  std::memset(P, 0, Size);
  return P;
}

void* TVLTMemoryManager::ReallocMem(void* Ptr, size_t NewSize) {
  if (!Ptr) return AllocMem(NewSize);
  if (NewSize == 0) throw EVLTException(kErrAllocateZero, "Cannot allocate 0 bytes");
  TBlockHeader* H = HeaderOf(Ptr);
  size_t OldSize = H->Size;
  if (NewSize > OldSize) Reserve(NewSize - OldSize);
  auto* N = static_cast<TBlockHeader*>(
      std::realloc(H, sizeof(TBlockHeader) + NewSize + sizeof kTailGuard));
  if (!N) {
    if (NewSize > OldSize) {
      std::lock_guard<std::mutex> Guard(FLock);
      FAllocated -= static_cast<int64_t>(NewSize - OldSize);
    }
    throw std::bad_alloc();
  }
  if (NewSize < OldSize) {
    std::lock_guard<std::mutex> Guard(FLock);
    FAllocated -= static_cast<int64_t>(OldSize - NewSize);
  }
  N->Size = NewSize;
  if (NewSize > OldSize)
    std::memset(reinterpret_cast<uint8_t*>(N + 1) + OldSize, 0, NewSize - OldSize);
  WriteTail(N);
  return N + 1;
}

void TVLTMemoryManager::FreeMem(void* Ptr) {
  if (!Ptr) return;
  TBlockHeader* H = HeaderOf(Ptr);
  {
    std::lock_guard<std::mutex> Guard(FLock);
    FAllocated -= static_cast<int64_t>(H->Size);
  }
  H->Guard = kFreedGuard;
  std::free(H);
}

size_t TVLTMemoryManager::BlockSize(const void* Ptr) const {
  return HeaderOf(Ptr)->Size;
}

int64_t TVLTMemoryManager::AllocatedSize() const {
  std::lock_guard<std::mutex> Guard(FLock);
  return FAllocated;
}

void TVLTMemoryManager::SetLimit(int64_t Limit) {
  std::lock_guard<std::mutex> Guard(FLock);
  FLimit = Limit;
}

int64_t TVLTMemoryManager::Limit() const {
  std::lock_guard<std::mutex> Guard(FLock);
  return FLimit;
}

void TVLTBuffer::Resize(size_t NewSize) {
  // On failure ReallocMem raises and the old block stays ours.
  void* P = TVLTMemoryManager::Instance().ReallocMem(FData.get(), NewSize);
  (void)FData.release();
  FData.reset(static_cast<uint8_t*>(P));
  FSize = NewSize;
}

}  // namespace vlt
