#include "engine/protect/VLTStream.h"

#include <algorithm>
#include <vector>

#include "engine/base/VLTErrorCodes.h"
#include "engine/base/VLTExcept.h"
#include "engine/protect/VLTFileStream.h"

namespace vlt {

namespace {

// Native codes of this unit.

int Percent(int64_t Done, int64_t Total) {
  if (Total <= 0) return 100;
  return static_cast<int>(Done * 100 / Total);
}

}  // namespace

void VLTReadBuffer(TVLTStream& Stream, void* Buffer, int64_t Size, int32_t Code) {
  if (Size <= 0) return;
  int64_t Got = Stream.Read(Buffer, Size);
  if (Got != Size) {
    int64_t Pos = Stream.GetPosition();
    throw EVLTException(
        Code,
        "Cannot read from stream. Position = %d, Stream size = %d, Block size = %d, Bytes Read = %d",
        {int64_t{Pos}, int64_t{Stream.GetSize()}, int64_t{Size}, int64_t{Got}});
  }
}

void VLTWriteBuffer(TVLTStream& Stream, const void* Buffer, int64_t Size, int32_t Code) {
  if (Size <= 0) return;
  int64_t Put = Stream.Write(Buffer, Size);
  if (Put != Size) {
    int64_t Pos = Stream.GetPosition();
    throw EVLTException(Code,
                        "Cannot write to stream. Position = %d, Stream size = %d, Block size = "
                        "%d, Bytes Write = %d",
                        {int64_t{Pos}, int64_t{Stream.GetSize()}, int64_t{Size}, int64_t{Put}});
  }
}

void VLTSeekStream(TVLTStream& Stream, int32_t Code, int64_t Position) {
  int64_t Got = Position < 0 ? -1 : Stream.Seek(Position, soBeginning);
  if (Got != Position) {
    throw EVLTException(Code, "Cannot set stream position to %d. Position = %d, Size = %d",
                        {int64_t{Position}, int64_t{Stream.GetPosition()},
                         int64_t{Stream.GetSize()}});
  }
}

std::string VLTReadShortString(TVLTStream& Stream, int32_t Code) {
  uint8_t Len = VLTReadLE<uint8_t>(Stream, Code);
  std::string S(Len, '\0');
  VLTReadBuffer(Stream, S.data(), Len, Code);
  return S;
}

void VLTWriteShortString(TVLTStream& Stream, std::string_view Text, int32_t Code) {
  size_t Len = std::min<size_t>(Text.size(), 255);
  uint8_t B[256];
  B[0] = static_cast<uint8_t>(Len);
  std::copy_n(Text.data(), Len, B + 1);
  VLTWriteBuffer(Stream, B, static_cast<int64_t>(Len) + 1, Code);
}

void VLTCopyStream(TVLTStream& Source, TVLTStream& Dest, int64_t Count, uint32_t ChunkSize,
                   const TVLTProgressEvent& OnProgress, int32_t ReadCode, int32_t WriteCode) {
  if (ChunkSize == 0)
    throw EVLTException(kErrStreamBlockSizeZero, "Stream block size = 0 is not allowed");
  std::vector<uint8_t> Chunk(static_cast<size_t>(std::min<int64_t>(ChunkSize, std::max<int64_t>(Count, 1))));
  int64_t Done = 0;
  int LastPercent = -1;
  while (Done < Count) {
    int64_t N = std::min<int64_t>(static_cast<int64_t>(Chunk.size()), Count - Done);
    VLTReadBuffer(Source, Chunk.data(), N, ReadCode);
    VLTWriteBuffer(Dest, Chunk.data(), N, WriteCode);
    Done += N;
    int P = Percent(Done, Count);
    if (OnProgress && P != LastPercent && P < 100) {
      OnProgress(P);
      LastPercent = P;
    }
  }
  if (OnProgress) OnProgress(100);
}

void TVLTStream::LoadFromStream(TVLTStream& Source) {
  if (FBlockSize == 0)
    throw EVLTException(kErrStreamBlockSizeZero, "Stream block size = 0 is not allowed");
  VLTSeekStream(Source, kErrStreamLoadSeek, 0);
  int64_t Count = Source.GetSize();
  SetSize(0);
  VLTSeekStream(*this, kErrStreamLoadSeek, 0);
  VLTCopyStream(Source, *this, Count, FBlockSize, FOnProgress, kErrStreamLoadRead,
                kErrStreamLoadWrite);
  FModified = true;
}

void TVLTStream::SaveToStream(TVLTStream& Dest) {
  if (FBlockSize == 0)
    throw EVLTException(kErrStreamBlockSizeZero, "Stream block size = 0 is not allowed");
  VLTSeekStream(*this, kErrStreamLoadSeek, 0);
  VLTCopyStream(*this, Dest, GetSize(), FBlockSize, FOnProgress, kErrStreamSaveRead,
                kErrStreamSaveWrite);
}

void TVLTStream::LoadFromFile(const std::string& FileName) {
  TVLTFileStream F(FileName, fmOpenRead | fmShareDenyNone);
  LoadFromStream(F);
}

void TVLTStream::SaveToFile(const std::string& FileName) {
  TVLTFileStream F(FileName, fmCreate);
  SaveToStream(F);
}

}  // namespace vlt
