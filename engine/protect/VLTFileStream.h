// A stream over an operating-system file.
#pragma once

#include <cstdint>
#include <string>

#include "engine/protect/VLTStream.h"

namespace vlt {

// Open modes: an access value combined with a share value, or fmCreate alone.
constexpr uint16_t fmOpenRead = 0x0000;
constexpr uint16_t fmOpenWrite = 0x0001;
constexpr uint16_t fmOpenReadWrite = 0x0002;
constexpr uint16_t fmShareExclusive = 0x0010;
constexpr uint16_t fmShareDenyWrite = 0x0020;
constexpr uint16_t fmShareDenyNone = 0x0040;
constexpr uint16_t fmCreate = 0xFF00;  // create or truncate, read and write

class TVLTFileStream : public TVLTStream {
 public:
  // Opens or creates FileName. Raises "Cannot open file. FileName = %s, Mode = %d" (10104) or
  // "Cannot create file. FileName = %s" (10105).
  //
  // Share values are accepted for the callers' sake but not enforced here: these streams serve
  // private files (temporary spill files, import and export). The database file has its own
  // access class with share-mode locking.
  TVLTFileStream(const std::string& FileName, uint16_t Mode);
  ~TVLTFileStream() override;

  // A new, empty file in the system's temporary folder named "VLT" + a unique suffix, opened for
  // reading and writing. The file is removed from the folder at once, so it disappears when the
  // stream is closed, even when the process dies.
  static TVLTFileStream* CreateTemporary();

  int64_t Read(void* Buffer, int64_t Count) override;
  int64_t Write(const void* Buffer, int64_t Count) override;
  int64_t Seek(int64_t Offset, TVLTSeekOrigin Origin) override;
  int64_t GetSize() override;
  // Raises "Cannot set file size. FileName = %s, Size = %d" (10106).
  void SetSize(int64_t NewSize) override;

  const std::string& FileName() const { return FFileName; }
  bool IsTemporary() const { return FIsTemporary; }

 private:
  struct TTemporaryTag {};
  TVLTFileStream(TTemporaryTag, int Handle, std::string FileName);

  int FHandle = -1;
  std::string FFileName;
  uint16_t FMode = 0;
  bool FIsTemporary = false;
  int64_t FPosition = 0;
};

}  // namespace vlt
