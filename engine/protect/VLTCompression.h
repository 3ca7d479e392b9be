// Buffer compression (zlib, bzip2, PPM) and the stored records of block-compressed streams.
//
// Block header TVLTCompressedStreamBlockHeader (20 bytes, packed, little-endian); in a block
// chain every block is this header followed by CompressedSize bytes of data:
//
//   OFFSET SIZE CONTENT
//   0      4    CompressedSize: bytes of compressed data following the header
//   4      4    UncompressedSize: bytes the block holds when decompressed
//   8      4    Crc32: CalcCRC32(0, uncompressed bytes)
//   12     8    OffsetToNextHeader: 20 + CompressedSize
//
// BLOB descriptor TVLTBLOBDescriptor (32 bytes, packed, little-endian), the handle of a chain:
//
//   OFFSET SIZE CONTENT
//   0      4    BlockSize: uncompressed bytes per block (every block but the last is full)
//   4      8    NumBlocks
//   12     8    UncompressedSize
//   20     8    StartPosition: where the first header lies in the containing stream
//   28     1    CompressionAlgorithm (TVLTCompressionAlgorithm)
//   29     1    CompressionMode (0 to 9)
//   30     2    Reserved
//
// Algorithms (one byte in every stored descriptor): 0 none, 1 zlib (RFC 1950 stream, window 15
// bits, memory level 8, default strategy, level = mode), 2 bzip2 (block size = mode x 100 k,
// modes 1 to 9 only), 3 PPM (PPMd variant G, see VLTPPM.h).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "engine/base/VLTMemory.h"
#include "engine/base/VLTTypes.h"

namespace vlt {

struct TVLTCompressedStreamBlockHeader {
  static constexpr size_t kStoredSize = 20;

  uint32_t CompressedSize = 0;
  uint32_t UncompressedSize = 0;
  uint32_t Crc32 = 0;
  int64_t OffsetToNextHeader = 0;

  void SaveTo(uint8_t* P) const {
    StoreLE<uint32_t>(P, CompressedSize);
    StoreLE<uint32_t>(P + 4, UncompressedSize);
    StoreLE<uint32_t>(P + 8, Crc32);
    StoreLE<int64_t>(P + 12, OffsetToNextHeader);
  }
  static TVLTCompressedStreamBlockHeader LoadFrom(const uint8_t* P) {
    return {LoadLE<uint32_t>(P), LoadLE<uint32_t>(P + 4), LoadLE<uint32_t>(P + 8),
            LoadLE<int64_t>(P + 12)};
  }
};

struct TVLTBLOBDescriptor {
  static constexpr size_t kStoredSize = 32;

  uint32_t BlockSize = 0;
  int64_t NumBlocks = 0;
  int64_t UncompressedSize = 0;
  int64_t StartPosition = 0;
  TVLTCompressionAlgorithm CompressionAlgorithm = acaNone;
  uint8_t CompressionMode = 0;
  uint16_t Reserved = 0;

  void SaveTo(uint8_t* P) const {
    StoreLE<uint32_t>(P, BlockSize);
    StoreLE<int64_t>(P + 4, NumBlocks);
    StoreLE<int64_t>(P + 12, UncompressedSize);
    StoreLE<int64_t>(P + 20, StartPosition);
    P[28] = CompressionAlgorithm;
    P[29] = CompressionMode;
    StoreLE<uint16_t>(P + 30, Reserved);
  }
  static TVLTBLOBDescriptor LoadFrom(const uint8_t* P) {
    TVLTBLOBDescriptor D;
    D.BlockSize = LoadLE<uint32_t>(P);
    D.NumBlocks = LoadLE<int64_t>(P + 4);
    D.UncompressedSize = LoadLE<int64_t>(P + 12);
    D.StartPosition = LoadLE<int64_t>(P + 20);
    D.CompressionAlgorithm = static_cast<TVLTCompressionAlgorithm>(P[28]);
    D.CompressionMode = P[29];
    D.Reserved = LoadLE<uint16_t>(P + 30);
    return D;
  }
};

// Uncompressed bytes per block when a chain is created with block size 0: mode 0: 102400;
// 1-3: 524288; 4-6: 1048576; 7-9 (and above): 1572864.
uint32_t DefaultCompressedBlockSize(uint8_t CompressionMode);

// Largest output the decompressor grows to when the expected size is not known.
constexpr int64_t kMaxUnknownDecompressedSize = int64_t{1} << 30;

// Compresses InputSize bytes with Algorithm at Mode. Fills Header (UncompressedSize, Crc32 of the
// input, CompressedSize = Output.size(), OffsetToNextHeader) and Output (exactly the compressed
// bytes). False for acaNone, an empty input, any failure of the algorithm (its message in
// *Error when given) or an empty result.
bool VLTCompressBuffer(TVLTCompressionAlgorithm Algorithm, uint8_t Mode, const void* Input,
                       int64_t InputSize, TVLTCompressedStreamBlockHeader& Header,
                       TVLTBuffer& Output, std::string* Error = nullptr);

// Decompresses InputSize bytes. OutputSize: the expected length going in (0 = unknown, not
// allowed for PPM), the actual length coming out; Output holds exactly that many bytes. With an
// expected length a stream that would produce more fails (damaged input never makes the output
// grow beyond what the caller expects); without one, the output grows up to
// kMaxUnknownDecompressedSize. False for acaNone, empty input, any failure (message in *Error) or
// an empty result.
bool VLTDecompressBuffer(TVLTCompressionAlgorithm Algorithm, const void* Input, int64_t InputSize,
                         int64_t& OutputSize, TVLTBuffer& Output, std::string* Error = nullptr);

}  // namespace vlt
