// A byte stream stored as a chain of independently compressed blocks inside another stream.
//
// Chain layout, from the descriptor's StartPosition in the containing stream: block i is a
// TVLTCompressedStreamBlockHeader (VLTCompression.h) followed by CompressedSize bytes, the
// block's uncompressed bytes compressed as one buffer; the next header follows directly. Every
// block but the last holds exactly BlockSize uncompressed bytes, the last the rest; the stream's
// content is the concatenation of the blocks.
//
// Invariants (between calls):
//   1. FHeaders holds NumBlocks entries; entry i lies at FHeaders[i].Position and entry i + 1 at
//      FHeaders[i].Position + FHeaders[i].Header.OffsetToNextHeader.
//   2. FUncompressedSize is the sum of the blocks' UncompressedSize; all blocks but the last
//      hold BlockSize bytes.
//   3. Writes only append; a block is rewritten only when it is the last one.
// CheckInvariants verifies 1 and 2 (3 is a property of the writing methods).
//
// With algorithm 0 the stream is a plain window of the containing stream from StartPosition.
// The containing stream is not owned.
#pragma once

#include <cstdint>
#include <vector>

#include "engine/base/VLTMemory.h"
#include "engine/protect/VLTCompression.h"
#include "engine/protect/VLTStream.h"

namespace vlt {

struct TVLTCompressedStreamBlockHeaderItem {
  TVLTCompressedStreamBlockHeader Header;
  int64_t Position = 0;  // of the header in the containing stream
};
using TVLTCompressedStreamBlockHeadersArray = std::vector<TVLTCompressedStreamBlockHeaderItem>;

class TVLTCompressedBLOBStream : public TVLTStream {
 public:
  // Opens (or with ToCreate starts, empty) the chain that BLOBDescriptor describes inside
  // CompressedStream. Loading reads NumBlocks headers; with Repair a chain that ends early is cut
  // to the blocks found, otherwise that raises 10082. A block size of 0 takes the mode's default.
  TVLTCompressedBLOBStream(TVLTStream* CompressedStream, bool Repair, bool ToCreate,
                           const TVLTBLOBDescriptor& BLOBDescriptor);
  ~TVLTCompressedBLOBStream() override;

  // Reads from the position; 0 at or after the end. Damaged blocks raise 10086 to 10090.
  int64_t Read(void* Buffer, int64_t Count) override;
  // Appends only: a write starting before the end writes nothing and returns 0; one starting
  // after the end first grows the stream with zeros.
  int64_t Write(const void* Buffer, int64_t Count) override;
  int64_t Seek(int64_t Offset, TVLTSeekOrigin Origin) override;
  int64_t GetSize() override { return FUncompressedSize; }
  // Grows with zeros or cuts whole blocks and rewrites the new last block.
  void SetSize(int64_t NewSize) override;

  // Size of the containing stream.
  int64_t CompressedSize();
  // (1 - chain bytes / uncompressed bytes) x 100; 0 for algorithm 0 or an empty stream.
  double CompressionRate() const { return FCompressionRate; }
  // The descriptor with the current block count and size.
  const TVLTBLOBDescriptor& BLOBDescriptor() const { return FBLOBDescriptor; }
  const TVLTCompressedStreamBlockHeadersArray& Headers() const { return FHeaders; }

  // Verifies invariants 1 and 2 on the headers held (the containing stream is not read);
  // raises 20981 at the first violation. A debug aid for tests and tools.
  void CheckInvariants() const;

 private:
  bool Compressed() const { return FCompressionAlgorithm != acaNone; }
  void LoadChain();
  // The uncompressed bytes of block I (cached until the chain changes).
  const TVLTBuffer& LoadBlock(size_t I);
  // Compresses Size bytes as a block and writes header and data at Position; returns the header.
  TVLTCompressedStreamBlockHeader WriteBlock(const uint8_t* Data, int64_t Size, int64_t Position);
  int64_t ChainEnd() const;
  void AppendData(const uint8_t* Data, int64_t Count);
  void Grow(int64_t NewSize);
  void Shrink(int64_t NewSize);
  void UpdateTotals();

  bool FRepair = false;
  TVLTCompressedStreamBlockHeadersArray FHeaders;
  int64_t FUncompressedSize = 0;
  int64_t FCompressedSize = 0;  // bytes of the chain: headers and data
  int64_t FStartPosition = 0;
  int64_t FCurrentHeader = 0;
  int64_t FPosition = 0;
  uint8_t FCompressionMode = 0;
  TVLTCompressionAlgorithm FCompressionAlgorithm = acaNone;
  double FCompressionRate = 0;
  TVLTStream* FCompressedStream = nullptr;
  TVLTBLOBDescriptor FBLOBDescriptor;
  uint32_t FChainBlockSize = 0;

  // The last block decompressed, so reading in small pieces decompresses each block once.
  int64_t FCachedBlock = -1;
  TVLTBuffer FCache;
};

}  // namespace vlt
