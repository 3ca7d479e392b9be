#include "engine/protect/VLTTemporaryStream.h"

#include "engine/base/VLTErrorCodes.h"
#include "engine/base/VLTExcept.h"

namespace vlt {

namespace {}  // namespace

TVLTTemporaryStream::TVLTTemporaryStream(bool DisableTempFiles)
    : FMemoryStream(std::make_unique<TVLTMemoryStream>()), FDisableTempFiles(DisableTempFiles) {
  FBlockSize = 102400;
}

TVLTTemporaryStream::~TVLTTemporaryStream() = default;

TVLTStream& TVLTTemporaryStream::Current() {
  if (FInMemory) return *FMemoryStream;
  return *FFileStream;
}

void TVLTTemporaryStream::SwitchToFile() {
  std::unique_ptr<TVLTFileStream> F(TVLTFileStream::CreateTemporary());
  int64_t Pos = FMemoryStream->GetPosition();
  VLTWriteBuffer(*F, FMemoryStream->Memory(), FMemoryStream->GetSize(), kErrTemporarySwitchWrite);
  VLTSeekStream(*F, kErrTemporarySwitchSeek, Pos);
  FFileName = F->FileName();
  FFileStream = std::move(F);
  FMemoryStream.reset();
  FInMemory = false;
}

int64_t TVLTTemporaryStream::Read(void* Buffer, int64_t Count) { return Current().Read(Buffer, Count); }

int64_t TVLTTemporaryStream::Write(const void* Buffer, int64_t Count) {
  if (Count <= 0) return 0;
  if (FInMemory && !FDisableTempFiles &&
      FMemoryStream->GetPosition() + Count > FMemoryLimit)
    SwitchToFile();
  int64_t N = Current().Write(Buffer, Count);
  if (N > 0) FModified = true;
  return N;
}

int64_t TVLTTemporaryStream::Seek(int64_t Offset, TVLTSeekOrigin Origin) {
  return Current().Seek(Offset, Origin);
}

int64_t TVLTTemporaryStream::GetSize() { return Current().GetSize(); }

void TVLTTemporaryStream::SetSize(int64_t NewSize) {
  if (FInMemory && !FDisableTempFiles && NewSize > FMemoryLimit) SwitchToFile();
  Current().SetSize(NewSize);
  FModified = true;
}

}  // namespace vlt
