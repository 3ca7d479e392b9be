#include "engine/protect/VLTMemoryStream.h"

#include <algorithm>
#include <cstring>

#include "engine/base/VLTMemory.h"

namespace vlt {

namespace {
constexpr int64_t kGrowStep = 65536;
}

TVLTMemoryStream::~TVLTMemoryStream() { Clear(); }

void TVLTMemoryStream::Clear() {
  TVLTMemoryManager::Instance().FreeMem(FBuffer);
  FBuffer = nullptr;
  FBufferSize = FAllocatedBufferSize = FPosition = 0;
}

void TVLTMemoryStream::Reserve(int64_t Capacity) {
  if (Capacity <= FAllocatedBufferSize) return;
  // Grow geometrically so that appending in small pieces stays linear.
  int64_t NewCap = std::max(Capacity, FAllocatedBufferSize + FAllocatedBufferSize / 2);
  NewCap = (NewCap + kGrowStep - 1) / kGrowStep * kGrowStep;
  FBuffer = static_cast<uint8_t*>(
      TVLTMemoryManager::Instance().ReallocMem(FBuffer, static_cast<size_t>(NewCap)));
  FAllocatedBufferSize = NewCap;
}

int64_t TVLTMemoryStream::Read(void* Buffer, int64_t Count) {
  if (Count <= 0 || FPosition >= FBufferSize) return 0;
  int64_t N = std::min(Count, FBufferSize - FPosition);
  std::memcpy(Buffer, FBuffer + FPosition, static_cast<size_t>(N));
  FPosition += N;
  return N;
}

int64_t TVLTMemoryStream::Write(const void* Buffer, int64_t Count) {
  if (Count <= 0) return 0;
  int64_t End = FPosition + Count;
  if (End > FBufferSize) {
    Reserve(End);
    if (FPosition > FBufferSize)
      std::memset(FBuffer + FBufferSize, 0, static_cast<size_t>(FPosition - FBufferSize));
    FBufferSize = End;
  }
  std::memcpy(FBuffer + FPosition, Buffer, static_cast<size_t>(Count));
  FPosition = End;
  FModified = true;
  return Count;
}

int64_t TVLTMemoryStream::Seek(int64_t Offset, TVLTSeekOrigin Origin) {
  int64_t Base = Origin == soBeginning ? 0 : Origin == soCurrent ? FPosition : FBufferSize;
  int64_t P = Base + Offset;
  if (P < 0) return -1;
  FPosition = P;
  return FPosition;
}

void TVLTMemoryStream::SetSize(int64_t NewSize) {
  if (NewSize < 0) NewSize = 0;
  if (NewSize == 0) {
    Clear();
    FModified = true;
    return;
  }
  if (NewSize > FBufferSize) {
    Reserve(NewSize);
    std::memset(FBuffer + FBufferSize, 0, static_cast<size_t>(NewSize - FBufferSize));
  }
  FBufferSize = NewSize;
  if (FPosition > FBufferSize) FPosition = FBufferSize;
  FModified = true;
}

}  // namespace vlt
