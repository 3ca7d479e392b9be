// A stream that lives in memory until it grows past FMemoryLimit bytes and then moves to a
// private temporary file, keeping its content and position.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "engine/protect/VLTFileStream.h"
#include "engine/protect/VLTMemoryStream.h"

namespace vlt {

class TVLTTemporaryStream : public TVLTStream {
 public:
  static constexpr int64_t kDefaultMemoryLimit = 1048576;

  // With DisableTempFiles the stream always stays in memory.
  explicit TVLTTemporaryStream(bool DisableTempFiles = false);
  ~TVLTTemporaryStream() override;

  int64_t Read(void* Buffer, int64_t Count) override;
  // A write that would take the memory stream beyond FMemoryLimit first moves the content to a
  // temporary file (see TVLTFileStream::CreateTemporary).
  int64_t Write(const void* Buffer, int64_t Count) override;
  int64_t Seek(int64_t Offset, TVLTSeekOrigin Origin) override;
  int64_t GetSize() override;
  // Growing beyond the limit moves to the file as well.
  void SetSize(int64_t NewSize) override;

  bool InMemory() const { return FInMemory; }
  int64_t MemoryLimit() const { return FMemoryLimit; }
  // For tests and special callers; takes effect on the next write.
  void SetMemoryLimit(int64_t Limit) { FMemoryLimit = Limit; }
  // Name of the temporary file (already removed from its folder), empty while in memory.
  const std::string& FileName() const { return FFileName; }

 private:
  TVLTStream& Current();
  void SwitchToFile();

  int64_t FMemoryLimit = kDefaultMemoryLimit;
  std::unique_ptr<TVLTMemoryStream> FMemoryStream;
  std::unique_ptr<TVLTFileStream> FFileStream;
  std::string FFileName;
  bool FInMemory = true;
  bool FDisableTempFiles = false;
};

}  // namespace vlt
