#include "engine/protect/VLTCompressedBLOBStream.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "engine/base/VLTCRC32.h"
#include "engine/base/VLTErrorCodes.h"
#include "engine/base/VLTExcept.h"

namespace vlt {

namespace {

constexpr int64_t kHeaderSize = TVLTCompressedStreamBlockHeader::kStoredSize;

}  // namespace

TVLTCompressedBLOBStream::TVLTCompressedBLOBStream(TVLTStream* CompressedStream, bool Repair,
                                                   bool ToCreate,
                                                   const TVLTBLOBDescriptor& BLOBDescriptor)
    : FRepair(Repair),
      FStartPosition(BLOBDescriptor.StartPosition),
      FCompressionMode(BLOBDescriptor.CompressionMode),
      FCompressionAlgorithm(BLOBDescriptor.CompressionAlgorithm),
      FCompressedStream(CompressedStream),
      FBLOBDescriptor(BLOBDescriptor) {
  if (!FCompressedStream) VLTRaiseNilPointer(kErrNilContainingStream);
  VLTSeekStream(*FCompressedStream, kErrCompressedCreateSeek, FStartPosition);
  if (FBLOBDescriptor.BlockSize == 0)
    FBLOBDescriptor.BlockSize = DefaultCompressedBlockSize(FCompressionMode);
  FChainBlockSize = FBLOBDescriptor.BlockSize;
  FBlockSize = FChainBlockSize;
  if (Compressed()) {
    if (ToCreate) {
      FBLOBDescriptor.NumBlocks = 0;
      FBLOBDescriptor.UncompressedSize = 0;
    } else {
      LoadChain();
    }
  } else {
    FUncompressedSize = ToCreate ? 0 : std::max<int64_t>(BLOBDescriptor.UncompressedSize, 0);
    int64_t Available = FCompressedStream->GetSize() - FStartPosition;
    if (Available < FUncompressedSize) {
      if (!FRepair)
        throw EVLTException(
            kErrCompressedPlainTooSmall, "Stream size = %d too small. Should be at least = %d",
            {int64_t{FCompressedStream->GetSize()},
             // a damaged descriptor may hold any size: no overflow
             FUncompressedSize > INT64_MAX - FStartPosition ? INT64_MAX
                                                            : FStartPosition + FUncompressedSize});
      FUncompressedSize = std::max<int64_t>(Available, 0);
    }
  }
  UpdateTotals();
}

TVLTCompressedBLOBStream::~TVLTCompressedBLOBStream() = default;

void TVLTCompressedBLOBStream::LoadChain() {
  int64_t Pos = FStartPosition;
  int64_t StreamSize = FCompressedStream->GetSize();
  int64_t Wanted = std::max<int64_t>(FBLOBDescriptor.NumBlocks, 0);
  uint8_t Raw[kHeaderSize];
  for (int64_t I = 0; I < Wanted; ++I) {
    if (StreamSize - Pos < kHeaderSize) {
      if (FRepair) break;
      throw EVLTException(kErrCompressedChainTooSmall,
                          "Stream size = %d too small. Should be at least = %d",
                          {int64_t{StreamSize}, int64_t{Pos + kHeaderSize}});
    }
    VLTSeekStream(*FCompressedStream, kErrCompressedLoadSeek, Pos);
    VLTReadBuffer(*FCompressedStream, Raw, kHeaderSize, kErrCompressedChainTooSmall);
    TVLTCompressedStreamBlockHeader H = TVLTCompressedStreamBlockHeader::LoadFrom(Raw);
    // The chain is walked by OffsetToNextHeader; a value that disagrees with the block's own
    // size cannot have been written by this class and would send the walk anywhere.
    if (H.OffsetToNextHeader != kHeaderSize + static_cast<int64_t>(H.CompressedSize) ||
        H.CompressedSize == 0) {
      if (FRepair) break;
      throw EVLTException(kErrCompressedHeaderLink,
                          "Invalid block header. Block = %d, Position = %d",
                          {int64_t{I}, int64_t{Pos}});
    }
    // A block never holds more than BlockSize bytes; a larger count would make the stream
    // claim a size its blocks cannot deliver.
    if (H.UncompressedSize == 0 || H.UncompressedSize > FChainBlockSize) {
      if (FRepair) break;
      throw EVLTException(kErrCompressedBlockSize,
                          "Decompress buffer failed. UncompSize = %d, Header.UncompSize = %d",
                          {int64_t{FChainBlockSize}, int64_t{H.UncompressedSize}});
    }
    FHeaders.push_back({H, Pos});
    FUncompressedSize += H.UncompressedSize;
    Pos += H.OffsetToNextHeader;
  }
  VLTSeekStream(*FCompressedStream, kErrCompressedLoadEndSeek, FStartPosition);
}

void TVLTCompressedBLOBStream::UpdateTotals() {
  FCompressedSize = 0;
  for (const auto& H : FHeaders) FCompressedSize += H.Header.OffsetToNextHeader;
  if (!Compressed()) FCompressedSize = FUncompressedSize;
  FCompressionRate = (Compressed() && FUncompressedSize > 0)
                         ? (1.0 - static_cast<double>(FCompressedSize) /
                                      static_cast<double>(FUncompressedSize)) * 100.0
                         : 0.0;
  FBLOBDescriptor.NumBlocks = static_cast<int64_t>(FHeaders.size());
  FBLOBDescriptor.UncompressedSize = FUncompressedSize;
}

void TVLTCompressedBLOBStream::CheckInvariants() const {
  auto Fail = [](const char* What, int64_t Block) {
    throw EVLTException(kErrInvariantCheck, "Compressed stream check failed: %s (block %d)",
                        {std::string(What), Block});
  };
  if (!Compressed()) {
    if (!FHeaders.empty()) Fail("a plain window holds block headers", 0);
    if (FUncompressedSize < 0) Fail("negative size", 0);
    return;
  }
  // 1: the descriptor's count and the chain's links.
  if (FBLOBDescriptor.NumBlocks != static_cast<int64_t>(FHeaders.size()))
    Fail("block count differs from the descriptor's", FBLOBDescriptor.NumBlocks);
  int64_t Position = FStartPosition;
  int64_t Total = 0;
  for (size_t I = 0; I < FHeaders.size(); ++I) {
    const TVLTCompressedStreamBlockHeaderItem& Item = FHeaders[I];
    const int64_t Block = static_cast<int64_t>(I);
    if (Item.Position != Position) Fail("header not where the previous block ends", Block);
    if (Item.Header.OffsetToNextHeader !=
        kHeaderSize + static_cast<int64_t>(Item.Header.CompressedSize))
      Fail("link to the next header disagrees with the block size", Block);
    // 2: full blocks but the last.
    const bool Last = I + 1 == FHeaders.size();
    if (Item.Header.UncompressedSize == 0 || Item.Header.UncompressedSize > FChainBlockSize ||
        (!Last && Item.Header.UncompressedSize != FChainBlockSize))
      Fail("block size is not the chain's", Block);
    Position += Item.Header.OffsetToNextHeader;
    Total += Item.Header.UncompressedSize;
  }
  if (Total != FUncompressedSize) Fail("size is not the sum of the blocks", -1);
  if (FBLOBDescriptor.UncompressedSize != FUncompressedSize)
    Fail("size differs from the descriptor's", -1);
}

int64_t TVLTCompressedBLOBStream::CompressedSize() { return FCompressedStream->GetSize(); }

int64_t TVLTCompressedBLOBStream::ChainEnd() const {
  if (FHeaders.empty()) return FStartPosition;
  return FHeaders.back().Position + FHeaders.back().Header.OffsetToNextHeader;
}

const TVLTBuffer& TVLTCompressedBLOBStream::LoadBlock(size_t I) {
  if (FCachedBlock == static_cast<int64_t>(I)) return FCache;
  const TVLTCompressedStreamBlockHeaderItem& Item = FHeaders[I];
  const TVLTCompressedStreamBlockHeader& H = Item.Header;
  // What the block must hold follows from the chain, so a damaged header never decides how much
  // memory is taken.
  int64_t Expected = I + 1 < FHeaders.size()
                         ? static_cast<int64_t>(FChainBlockSize)
                         : FUncompressedSize - static_cast<int64_t>(I) * FChainBlockSize;
  if (static_cast<int64_t>(H.UncompressedSize) != Expected || Expected <= 0)
    throw EVLTException(kErrCompressedBlockSize,
                        "Decompress buffer failed. UncompSize = %d, Header.UncompSize = %d",
                        {int64_t{Expected}, int64_t{H.UncompressedSize}});
  int64_t DataPos = Item.Position + kHeaderSize;
  int64_t StreamSize = FCompressedStream->GetSize();
  if (StreamSize - DataPos < static_cast<int64_t>(H.CompressedSize))
    throw EVLTException(kErrCompressedBlockRead,
                        "Cannot read from stream. Position = %d, Stream size = %d, Block size = "
                        "%d, Bytes Read = %d",
                        {int64_t{DataPos}, int64_t{StreamSize}, int64_t{H.CompressedSize},
                         int64_t{std::max<int64_t>(StreamSize - DataPos, 0)}});
  TVLTBuffer Packed(H.CompressedSize);
  VLTSeekStream(*FCompressedStream, kErrCompressedBlockSeek, DataPos);
  VLTReadBuffer(*FCompressedStream, Packed.data(), H.CompressedSize, kErrCompressedBlockRead);
  FCachedBlock = -1;
  int64_t OutSize = H.UncompressedSize;
  if (!VLTDecompressBuffer(FCompressionAlgorithm, Packed.data(), H.CompressedSize, OutSize, FCache))
    throw EVLTException(
        kErrCompressedDecompress,
        "Decompress buffer failed. CompAlg = %d, InSize = %d, OutSize = %d",
        {int64_t{FCompressionAlgorithm}, int64_t{H.CompressedSize}, int64_t{OutSize}});
  if (OutSize != static_cast<int64_t>(H.UncompressedSize))
    throw EVLTException(kErrCompressedBlockSize,
                        "Decompress buffer failed. UncompSize = %d, Header.UncompSize = %d",
                        {int64_t{OutSize}, int64_t{H.UncompressedSize}});
  uint32_t Crc = CalcCRC32(0, FCache.data(), FCache.size());
  if (Crc != H.Crc32)
    throw EVLTException(kErrCompressedChecksum,
                        "Decompress buffer failed. CheckSum = %d, Header.Crc32 = %d",
                        {int64_t{Crc}, int64_t{H.Crc32}});
  FCachedBlock = static_cast<int64_t>(I);
  return FCache;
}

int64_t TVLTCompressedBLOBStream::Read(void* Buffer, int64_t Count) {
  if (Count <= 0 || FPosition >= FUncompressedSize) return 0;
  auto* Out = static_cast<uint8_t*>(Buffer);
  if (!Compressed()) {
    VLTSeekStream(*FCompressedStream, kErrCompressedPlainSeek, FStartPosition + FPosition);
    int64_t N = FCompressedStream->Read(Out, std::min(Count, FUncompressedSize - FPosition));
    FPosition += std::max<int64_t>(N, 0);
    return std::max<int64_t>(N, 0);
  }
  int64_t Done = 0;
  while (Count > 0 && FPosition < FUncompressedSize) {
    size_t Block = static_cast<size_t>(FPosition / FChainBlockSize);
    if (Block >= FHeaders.size()) break;
    const TVLTBuffer& Data = LoadBlock(Block);
    int64_t Offset = FPosition % FChainBlockSize;
    int64_t N = std::min<int64_t>(Count, static_cast<int64_t>(Data.size()) - Offset);
    if (N <= 0)
      throw EVLTException(kErrCompressedReadSize, "Cannot read from stream. ReadSize = %d",
                          {int64_t{N}});
    std::memcpy(Out + Done, Data.data() + Offset, static_cast<size_t>(N));
    Done += N;
    Count -= N;
    FPosition += N;
    FCurrentHeader = static_cast<int64_t>(Block);
  }
  return Done;
}

TVLTCompressedStreamBlockHeader TVLTCompressedBLOBStream::WriteBlock(const uint8_t* Data,
                                                                     int64_t Size,
                                                                     int64_t Position) {
  TVLTCompressedStreamBlockHeader H;
  TVLTBuffer Packed;
  if (!VLTCompressBuffer(FCompressionAlgorithm, FCompressionMode, Data, Size, H, Packed))
    throw EVLTException(kErrCompressedCompress,
                        "Compress buffer failed. CompAlg = %d, CompMode = %d, InSize = %d, "
                        "OutSize = %d",
                        {int64_t{FCompressionAlgorithm}, int64_t{FCompressionMode}, int64_t{Size},
                         int64_t{static_cast<int64_t>(Packed.size())}});
  uint8_t Raw[kHeaderSize];
  H.SaveTo(Raw);
  VLTSeekStream(*FCompressedStream, kErrCompressedWriteSeek, Position);
  VLTWriteBuffer(*FCompressedStream, Raw, kHeaderSize, kErrCompressedHeaderWrite);
  VLTWriteBuffer(*FCompressedStream, Packed.data(), H.CompressedSize, kErrCompressedDataWrite);
  return H;
}

void TVLTCompressedBLOBStream::AppendData(const uint8_t* Data, int64_t Count) {
  const int64_t BS = FChainBlockSize;
  // 1. Fill up the last block when it is not full.
  int64_t Tail = FUncompressedSize % BS;
  if (Tail > 0 && !FHeaders.empty()) {
    size_t Last = FHeaders.size() - 1;
    const TVLTBuffer& Old = LoadBlock(Last);
    int64_t Take = std::min(Count, BS - Tail);
    TVLTBuffer Block(static_cast<size_t>(Tail + Take));
    std::memcpy(Block.data(), Old.data(), static_cast<size_t>(Tail));
    std::memcpy(Block.data() + Tail, Data, static_cast<size_t>(Take));
    FCachedBlock = -1;
    FHeaders[Last].Header = WriteBlock(Block.data(), Tail + Take, FHeaders[Last].Position);
    FUncompressedSize += Take;
    FCache = std::move(Block);
    FCachedBlock = static_cast<int64_t>(Last);
    Data += Take;
    Count -= Take;
  }
  // 2. New blocks at the end of the chain.
  while (Count > 0) {
    int64_t N = std::min(Count, BS);
    int64_t Pos = ChainEnd();
    TVLTCompressedStreamBlockHeader H = WriteBlock(Data, N, Pos);
    FHeaders.push_back({H, Pos});
    FUncompressedSize += N;
    Data += N;
    Count -= N;
  }
  // A rewritten last block may have shrunk: nothing stale may follow the chain.
  int64_t End = ChainEnd();
  if (FCompressedStream->GetSize() > End) FCompressedStream->SetSize(End);
  // 3. Sizes, block count, rate.
  UpdateTotals();
  FModified = true;
}

int64_t TVLTCompressedBLOBStream::Write(const void* Buffer, int64_t Count) {
  if (Count <= 0 || FPosition < FUncompressedSize) return 0;
  if (!Compressed()) {
    VLTSeekStream(*FCompressedStream, kErrCompressedPlainSeek, FStartPosition + FPosition);
    int64_t N = std::max<int64_t>(FCompressedStream->Write(Buffer, Count), 0);
    FPosition += N;
    FUncompressedSize = std::max(FUncompressedSize, FPosition);
    UpdateTotals();
    if (N > 0) FModified = true;
    return N;
  }
  if (FPosition > FUncompressedSize) Grow(FPosition);
  AppendData(static_cast<const uint8_t*>(Buffer), Count);
  FPosition += Count;
  FCurrentHeader = std::max<int64_t>(static_cast<int64_t>(FHeaders.size()) - 1, 0);
  return Count;
}

int64_t TVLTCompressedBLOBStream::Seek(int64_t Offset, TVLTSeekOrigin Origin) {
  int64_t Base = Origin == soBeginning ? 0 : Origin == soCurrent ? FPosition : FUncompressedSize;
  int64_t P = Base + Offset;
  if (P < 0) return -1;
  FPosition = P;
  if (Compressed()) {
    // Blocks before the last are full, so the block of a position is found by division.
    if (FHeaders.empty())
      FCurrentHeader = 0;
    else
      FCurrentHeader = std::min<int64_t>(P / FChainBlockSize, static_cast<int64_t>(FHeaders.size()) - 1);
  } else {
    FCompressedStream->Seek(FStartPosition + P, soBeginning);
  }
  return FPosition;
}

void TVLTCompressedBLOBStream::Grow(int64_t NewSize) {
  int64_t Extension = NewSize - FUncompressedSize;
  if (Extension <= 0)
    throw EVLTException(kErrCompressedExtension,
                        "Invalid extension size. NewSize = %d, UncompressedSize = %d, "
                        "ExtensionSize = %d",
                        {int64_t{NewSize}, int64_t{FUncompressedSize}, int64_t{Extension}});
  TVLTBuffer Zeros(static_cast<size_t>(std::min<int64_t>(Extension, FChainBlockSize)));
  while (Extension > 0) {
    int64_t N = std::min<int64_t>(Extension, static_cast<int64_t>(Zeros.size()));
    AppendData(Zeros.data(), N);
    Extension -= N;
  }
}

void TVLTCompressedBLOBStream::Shrink(int64_t NewSize) {
  const int64_t BS = FChainBlockSize;
  size_t Keep = static_cast<size_t>((NewSize + BS - 1) / BS);
  int64_t LastBytes = NewSize - static_cast<int64_t>(Keep > 0 ? Keep - 1 : 0) * BS;
  // The new last block's bytes, taken before anything is cut.
  TVLTBuffer LastData;
  if (Keep > 0 && LastBytes < static_cast<int64_t>(FHeaders[Keep - 1].Header.UncompressedSize)) {
    const TVLTBuffer& Old = LoadBlock(Keep - 1);
    LastData = TVLTBuffer(static_cast<size_t>(LastBytes));
    std::memcpy(LastData.data(), Old.data(), static_cast<size_t>(LastBytes));
  }
  FCachedBlock = -1;
  if (Keep < FHeaders.size()) {
    int64_t Cut = FHeaders[Keep].Position;
    FCompressedStream->SetSize(Cut);
    if (FCompressedStream->GetSize() != Cut)
      throw EVLTException(kErrCompressedCutSize, "Invalid stream size = %d. Should be = %d",
                          {int64_t{FCompressedStream->GetSize()}, int64_t{Cut}});
    FHeaders.resize(Keep);
  }
  FUncompressedSize = NewSize;
  if (LastData.size() > 0) {
    TVLTCompressedStreamBlockHeaderItem& Last = FHeaders[Keep - 1];
    try {
      Last.Header = WriteBlock(LastData.data(), LastBytes, Last.Position);
    } catch (const EVLTException&) {
      throw EVLTException(kErrCompressedRewrite, "Error writing to stream");
    }
    FCompressedStream->SetSize(Last.Position + Last.Header.OffsetToNextHeader);
  }
  UpdateTotals();
  FModified = true;
}

void TVLTCompressedBLOBStream::SetSize(int64_t NewSize) {
  if (NewSize < 0) NewSize = 0;
  if (!Compressed()) {
    FCompressedStream->SetSize(FStartPosition + NewSize);
    FUncompressedSize = NewSize;
    UpdateTotals();
    FModified = true;
  } else if (NewSize > FUncompressedSize) {
    Grow(NewSize);
  } else if (NewSize < FUncompressedSize) {
    Shrink(NewSize);
  }
  if (FPosition > FUncompressedSize) Seek(FUncompressedSize, soBeginning);
}

}  // namespace vlt
