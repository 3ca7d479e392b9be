#include "engine/components/VLTLocalBLOBStream.h"

#include "engine/base/VLTExcept.h"

namespace vlt {

TVLTLocalBLOBStream::TVLTLocalBLOBStream(TVLTCursor* Cursor, int32_t FieldNo,
                                         TVLTBLOBOpenMode OpenMode,
                                         std::unique_ptr<TVLTStream> TemporaryStream)
    : FOpenMode(OpenMode), FTemporaryStream(std::move(TemporaryStream)), FFieldNo(FieldNo),
      FCursor(Cursor) {
  if (!FTemporaryStream) VLTRaiseNilPointer(10117);
  FTemporaryStream->Seek(0, soBeginning);
  FTemporaryStream->SetModified(false);
}

TVLTLocalBLOBStream::~TVLTLocalBLOBStream() = default;

int64_t TVLTLocalBLOBStream::Read(void* Buffer, int64_t Count) {
  const int64_t N = FTemporaryStream->Read(Buffer, Count);
  FPosition = FTemporaryStream->GetPosition();
  return N;
}

int64_t TVLTLocalBLOBStream::Write(const void* Buffer, int64_t Count) {
  if (FOpenMode == bomRead) throw EVLTException(10115, "Cannot write to read only stream");
  const int64_t N = FTemporaryStream->Write(Buffer, Count);
  FPosition = FTemporaryStream->GetPosition();
  if (N > 0) SetModified(true);
  return N;
}

int64_t TVLTLocalBLOBStream::Seek(int64_t Offset, TVLTSeekOrigin Origin) {
  FPosition = FTemporaryStream->Seek(Offset, Origin);
  return FPosition;
}

int64_t TVLTLocalBLOBStream::GetSize() { return FTemporaryStream->GetSize(); }

void TVLTLocalBLOBStream::SetSize(int64_t NewSize) {
  if (FOpenMode == bomRead) throw EVLTException(10116, "Cannot write to read only stream");
  FTemporaryStream->SetSize(NewSize);
  FPosition = FTemporaryStream->GetPosition();
  SetModified(true);
}

}  // namespace vlt
