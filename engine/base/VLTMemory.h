// The process-wide memory manager every engine buffer (record, key, BLOB, page) comes from.
//
// Block layout (the caller sees only the data):
//
//   OFFSET        SIZE  CONTENT
//   0             8     data size in bytes
//   8             4     head guard word 0x564C5442
//   12            4     (padding, keeps the data 16-byte aligned)
//   16            n     data handed to the caller
//   16 + n        4     tail guard word 0x4B434F4C
//
// A pointer whose head guard word is wrong was not handed out by the manager (or was freed, or
// its block was overwritten) and raises "Invalid pointer" (30005).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>

namespace vlt {

class TVLTMemoryManager {
 public:
  // The one instance of the process.
  static TVLTMemoryManager& Instance();

  // Uninitialised block. REQUIRES: Size > 0 (else 30286 "Cannot allocate 0 bytes").
  void* GetMem(size_t Size);
  // Zero-filled block.
  void* AllocMem(size_t Size);
  // Resizes a block, keeping its first min(old, new) bytes; new bytes are zero. A null pointer
  // behaves as AllocMem.
  void* ReallocMem(void* Ptr, size_t NewSize);
  // Frees a block; a null pointer is ignored.
  void FreeMem(void* Ptr);

  // Size of a block handed out by this manager.
  size_t BlockSize(const void* Ptr) const;

  // Bytes currently handed out (data only).
  int64_t AllocatedSize() const;
  // 0 = no limit. Requests that would take the total above the limit raise 30004.
  void SetLimit(int64_t Limit);
  int64_t Limit() const;

 private:
  TVLTMemoryManager() = default;
  void Reserve(size_t Size);
  static struct TBlockHeader* HeaderOf(const void* Ptr);

  mutable std::mutex FLock;  // guards FAllocated and FLimit
  int64_t FAllocated = 0;
  int64_t FLimit = 0;
};

// Frees a block of the memory manager; for std::unique_ptr.
struct TVLTMemDeleter {
  void operator()(void* Ptr) const { TVLTMemoryManager::Instance().FreeMem(Ptr); }
};

// An owned, zero-filled byte buffer from the memory manager.
class TVLTBuffer {
 public:
  TVLTBuffer() = default;
  explicit TVLTBuffer(size_t Size)
      : FData(static_cast<uint8_t*>(TVLTMemoryManager::Instance().AllocMem(Size))), FSize(Size) {}

  uint8_t* data() { return FData.get(); }
  const uint8_t* data() const { return FData.get(); }
  size_t size() const { return FSize; }
  uint8_t& operator[](size_t I) { return FData.get()[I]; }
  const uint8_t& operator[](size_t I) const { return FData.get()[I]; }
  void Resize(size_t NewSize);

 private:
  std::unique_ptr<uint8_t, TVLTMemDeleter> FData;
  size_t FSize = 0;
};

}  // namespace vlt
