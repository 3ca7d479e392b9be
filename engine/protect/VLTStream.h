// The engine's stream base and the exact-count operations every serialiser uses.
//
// TVLTStream is a byte stream with a position: Read, Write, Seek and a size. On top of that it
// carries a lock for streams that several sessions share, the chunk size used when whole streams
// are copied, a progress callback and a modified flag.
//
// The exact-count operations (VLTReadBuffer, VLTWriteBuffer, VLTSeekStream and the typed
// little-endian helpers built on them) either move exactly the requested bytes or raise
// EVLTException with the native code the caller passes, so a serialiser never has to check counts.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>

#include "engine/base/VLTTypes.h"

namespace vlt {

enum TVLTSeekOrigin : uint8_t { soBeginning, soCurrent, soEnd };

// Receives the share of work done, 0 to 100.
using TVLTProgressEvent = std::function<void(int Percent)>;

class TVLTStream {
 public:
  TVLTStream() = default;
  TVLTStream(const TVLTStream&) = delete;
  TVLTStream& operator=(const TVLTStream&) = delete;
  virtual ~TVLTStream() = default;

  // Reads up to Count bytes at the position and advances it; returns the bytes read (0 at the
  // end). Never raises for a short read.
  virtual int64_t Read(void* Buffer, int64_t Count) = 0;
  // Writes up to Count bytes at the position and advances it; returns the bytes written.
  virtual int64_t Write(const void* Buffer, int64_t Count) = 0;
  // Moves the position and returns the new one. A position before 0 is refused (the position
  // stays and -1 is returned); a position beyond the end is allowed (a later write fills the gap
  // with zeros).
  virtual int64_t Seek(int64_t Offset, TVLTSeekOrigin Origin) = 0;
  virtual int64_t GetSize() = 0;
  // Cuts or extends (with zeros) the stream; the position is kept unless it lies beyond the new
  // end. Raises on failure.
  virtual void SetSize(int64_t NewSize) = 0;

  int64_t GetPosition() { return Seek(0, soCurrent); }
  void SetPosition(int64_t Position) { Seek(Position, soBeginning); }

  // Guard a stream shared between sessions. Recursive.
  void Lock() { FLock.lock(); }
  void Unlock() { FLock.unlock(); }

  // Chunk size for LoadFromStream / SaveToStream.
  uint32_t BlockSize() const { return FBlockSize; }
  void SetBlockSize(uint32_t Size) { FBlockSize = Size; }
  const TVLTProgressEvent& OnProgress() const { return FOnProgress; }
  void SetOnProgress(TVLTProgressEvent Event) { FOnProgress = std::move(Event); }
  bool Modified() const { return FModified; }
  void SetModified(bool Value) { FModified = Value; }

  // Replaces this stream's content with the whole of Source (read from its start), copied in
  // BlockSize() chunks with progress. Leaves both positions at their ends.
  // Raises 10418 for block size 0 and the exact-count messages for short reads or writes.
  void LoadFromStream(TVLTStream& Source);
  // Writes this stream's whole content (from its start) to Dest at Dest's position.
  void SaveToStream(TVLTStream& Dest);
  void LoadFromFile(const std::string& FileName);
  void SaveToFile(const std::string& FileName);

 protected:
  uint32_t FBlockSize = 65536;
  TVLTProgressEvent FOnProgress;
  bool FModified = false;

 private:
  std::recursive_mutex FLock;
};

// RAII for TVLTStream::Lock / Unlock.
class TVLTStreamLock {
 public:
  explicit TVLTStreamLock(TVLTStream& S) : FStream(S) { FStream.Lock(); }
  ~TVLTStreamLock() { FStream.Unlock(); }
  TVLTStreamLock(const TVLTStreamLock&) = delete;
  TVLTStreamLock& operator=(const TVLTStreamLock&) = delete;

 private:
  TVLTStream& FStream;
};

// ---- exact-count operations ----

// Reads exactly Size bytes; fewer raise "Cannot read from stream. Position = %d, Stream size =
// %d, Block size = %d, Bytes Read = %d" with Code.
void VLTReadBuffer(TVLTStream& Stream, void* Buffer, int64_t Size, int32_t Code);
// Writes exactly Size bytes; fewer raise "Cannot write to stream. Position = %d, Stream size =
// %d, Block size = %d, Bytes Write = %d" with Code.
void VLTWriteBuffer(TVLTStream& Stream, const void* Buffer, int64_t Size, int32_t Code);
// Sets the position; a position that cannot be reached (negative, or not taken) raises
// "Cannot set stream position to %d. Position = %d, Size = %d" with Code.
void VLTSeekStream(TVLTStream& Stream, int32_t Code, int64_t Position);

// Typed little-endian helpers over the exact-count operations.
template <typename T>
T VLTReadLE(TVLTStream& Stream, int32_t Code) {
  uint8_t B[sizeof(T)];
  VLTReadBuffer(Stream, B, sizeof(T), Code);
  return LoadLE<T>(B);
}
template <typename T>
void VLTWriteLE(TVLTStream& Stream, T Value, int32_t Code) {
  uint8_t B[sizeof(T)];
  StoreLE<T>(B, Value);
  VLTWriteBuffer(Stream, B, sizeof(T), Code);
}

// Names: a length byte and up to 255 8-bit characters. Writing cuts a longer text to 255 bytes.
std::string VLTReadShortString(TVLTStream& Stream, int32_t Code);
void VLTWriteShortString(TVLTStream& Stream, std::string_view Text, int32_t Code);

// Copies Count bytes from Source's position to Dest's position in chunks of ChunkSize
// (REQUIRES: ChunkSize > 0), reporting progress to OnProgress when set. Short reads and writes
// raise with the given codes.
void VLTCopyStream(TVLTStream& Source, TVLTStream& Dest, int64_t Count, uint32_t ChunkSize,
                   const TVLTProgressEvent& OnProgress, int32_t ReadCode, int32_t WriteCode);

}  // namespace vlt
