#include "engine/protect/VLTFileStream.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <vector>

#include "engine/base/VLTErrorCodes.h"
#include "engine/base/VLTExcept.h"

namespace vlt {

namespace {}  // namespace

TVLTFileStream::TVLTFileStream(const std::string& FileName, uint16_t Mode)
    : FFileName(FileName), FMode(Mode) {
  if (Mode == fmCreate) {
    FHandle = ::open(FileName.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (FHandle < 0)
      throw EVLTException(kErrFileCreate, "Cannot create file. FileName = %s",
                          {std::string(FileName)});
    return;
  }
  int Flags = O_CLOEXEC;
  switch (Mode & 0x0F) {
    case fmOpenWrite: Flags |= O_WRONLY; break;
    case fmOpenReadWrite: Flags |= O_RDWR; break;
    default: Flags |= O_RDONLY; break;
  }
  FHandle = ::open(FileName.c_str(), Flags);
  if (FHandle < 0)
    throw EVLTException(kErrFileOpen, "Cannot open file. FileName = %s, Mode = %d",
                        {std::string(FileName), int64_t{Mode}});
}

TVLTFileStream::TVLTFileStream(TTemporaryTag, int Handle, std::string FileName)
    : FHandle(Handle), FFileName(std::move(FileName)), FMode(fmCreate), FIsTemporary(true) {}

TVLTFileStream::~TVLTFileStream() {
  if (FHandle >= 0) ::close(FHandle);
}

TVLTFileStream* TVLTFileStream::CreateTemporary() {
  std::error_code Ec;
  std::filesystem::path Dir = std::filesystem::temp_directory_path(Ec);
  if (Ec) Dir = "/tmp";
  std::string Pattern = (Dir / "VLTXXXXXX").string();
  std::vector<char> Name(Pattern.begin(), Pattern.end());
  Name.push_back('\0');
  int H = ::mkostemp(Name.data(), O_CLOEXEC);
  if (H < 0)
    throw EVLTException(kErrTempFileCreate, "Cannot create file. FileName = %s", {Pattern});
  std::string FileName(Name.data());
  ::unlink(FileName.c_str());
  return new TVLTFileStream(TTemporaryTag{}, H, FileName);
}

int64_t TVLTFileStream::Read(void* Buffer, int64_t Count) {
  int64_t Done = 0;
  auto* P = static_cast<uint8_t*>(Buffer);
  while (Done < Count) {
    ssize_t N = ::pread(FHandle, P + Done, static_cast<size_t>(Count - Done), FPosition + Done);
    if (N < 0 && errno == EINTR) continue;
    if (N <= 0) break;
    Done += N;
  }
  FPosition += Done;
  return Done;
}

int64_t TVLTFileStream::Write(const void* Buffer, int64_t Count) {
  int64_t Done = 0;
  auto* P = static_cast<const uint8_t*>(Buffer);
  while (Done < Count) {
    ssize_t N = ::pwrite(FHandle, P + Done, static_cast<size_t>(Count - Done), FPosition + Done);
    if (N < 0 && errno == EINTR) continue;
    if (N <= 0) break;
    Done += N;
  }
  FPosition += Done;
  if (Done > 0) FModified = true;
  return Done;
}

int64_t TVLTFileStream::Seek(int64_t Offset, TVLTSeekOrigin Origin) {
  int64_t Base = Origin == soBeginning ? 0 : Origin == soCurrent ? FPosition : GetSize();
  int64_t P = Base + Offset;
  if (P < 0) return -1;
  FPosition = P;
  return FPosition;
}

int64_t TVLTFileStream::GetSize() {
  struct stat St;
  if (::fstat(FHandle, &St) != 0) return 0;
  return St.st_size;
}

void TVLTFileStream::SetSize(int64_t NewSize) {
  if (NewSize < 0 || ::ftruncate(FHandle, NewSize) != 0)
    throw EVLTException(kErrFileSetSize, "Cannot set file size. FileName = %s, Size = %d",
                        {FFileName, int64_t{NewSize}});
  if (FPosition > NewSize) FPosition = NewSize;
  FModified = true;
}

}  // namespace vlt
