// A stream over a growable buffer from the engine's memory manager.
#pragma once

#include <cstdint>

#include "engine/protect/VLTStream.h"

namespace vlt {

class TVLTMemoryStream : public TVLTStream {
 public:
  TVLTMemoryStream() = default;
  ~TVLTMemoryStream() override;

  int64_t Read(void* Buffer, int64_t Count) override;
  // Grows the buffer as needed; a gap between the end and the position is filled with zeros.
  // Raises the memory manager's errors when the buffer cannot grow.
  int64_t Write(const void* Buffer, int64_t Count) override;
  int64_t Seek(int64_t Offset, TVLTSeekOrigin Origin) override;
  int64_t GetSize() override { return FBufferSize; }
  void SetSize(int64_t NewSize) override;

  // The content (FBufferSize bytes); null while empty. Valid until the next size change.
  uint8_t* Memory() { return FBuffer; }
  const uint8_t* Memory() const { return FBuffer; }
  // Frees the buffer: size and position 0.
  void Clear();

 private:
  void Reserve(int64_t Capacity);

  uint8_t* FBuffer = nullptr;
  int64_t FBufferSize = 0;
  int64_t FAllocatedBufferSize = 0;
  int64_t FPosition = 0;
};

}  // namespace vlt
