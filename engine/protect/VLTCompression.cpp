#include "engine/protect/VLTCompression.h"

#include <bzlib.h>
#include <zlib.h>

#include <cmath>
#include <exception>
#include <limits>
#include <vector>

#include "engine/base/VLTCRC32.h"
#include "engine/protect/VLTPPM.h"

namespace vlt {

namespace {

// Inputs and outputs of the libraries are counted in 32-bit unsigned integers, as are the block
// headers.
constexpr int64_t kMaxBufferSize = std::numeric_limits<uint32_t>::max() / 2;

struct TAlgorithmError {
  std::string Text;
};

[[noreturn]] void RaiseLibraryError(int Code) { throw TAlgorithmError{"error " + std::to_string(Code)}; }

void ZlibCompress(const uint8_t* In, int64_t N, uint8_t Mode, TVLTBuffer& Out) {
  size_t Cap = static_cast<size_t>((N + N / 10 + 267) & ~int64_t{255});
  Out = TVLTBuffer(Cap);
  z_stream S{};
  int R = deflateInit(&S, Mode);
  if (R != Z_OK) RaiseLibraryError(R);
  S.next_in = const_cast<Bytef*>(In);
  S.avail_in = static_cast<uInt>(N);
  for (;;) {
    S.next_out = Out.data() + S.total_out;
    S.avail_out = static_cast<uInt>(Cap - S.total_out);
    R = deflate(&S, Z_FINISH);
    if (R == Z_STREAM_END) break;
    if (R < 0 && R != Z_BUF_ERROR) {
      deflateEnd(&S);
      RaiseLibraryError(R);
    }
    if (S.avail_out == 0) {
      Cap += 256;
      Out.Resize(Cap);
    }
  }
  size_t Produced = S.total_out;
  deflateEnd(&S);
  if (Produced > 0) Out.Resize(Produced);
}

// Expected > 0: the output is exactly that large and may not grow.
size_t ZlibDecompress(const uint8_t* In, int64_t N, int64_t Expected, TVLTBuffer& Out) {
  int64_t Step = Expected > 0 ? Expected : std::max<int64_t>((N + 255) & ~int64_t{255}, 256);
  int64_t Cap = Step;
  Out = TVLTBuffer(static_cast<size_t>(Cap));
  z_stream S{};
  int R = inflateInit(&S);
  if (R != Z_OK) RaiseLibraryError(R);
  S.next_in = const_cast<Bytef*>(In);
  S.avail_in = static_cast<uInt>(N);
  uint8_t Probe = 0;
  bool Probing = false;  // the output is full; only the stream's end may follow
  for (;;) {
    if (!Probing) {
      S.next_out = Out.data() + S.total_out;
      S.avail_out = static_cast<uInt>(Cap - static_cast<int64_t>(S.total_out));
    }
    R = inflate(&S, Z_NO_FLUSH);
    if (R == Z_STREAM_END) {
      if (Probing && S.avail_out == 0) R = Z_BUF_ERROR;  // a byte beyond the expected size
      else break;
    }
    if (R == Z_NEED_DICT) R = Z_DATA_ERROR;
    if (R < 0 && R != Z_BUF_ERROR) {
      inflateEnd(&S);
      RaiseLibraryError(R);
    }
    if (Probing && S.avail_out == 0) {
      inflateEnd(&S);
      RaiseLibraryError(Z_BUF_ERROR);
    }
    if (!Probing && S.avail_out == 0) {
      if (Expected > 0) {
        Probing = true;
        S.next_out = &Probe;
        S.avail_out = 1;
        continue;
      }
      if (Cap >= kMaxUnknownDecompressedSize) {
        inflateEnd(&S);
        RaiseLibraryError(Z_MEM_ERROR);
      }
      // Geometric growth: even the largest ratios stay linear in time.
      Cap = std::min(Cap + std::max(Step, Cap / 2), kMaxUnknownDecompressedSize);
      Out.Resize(static_cast<size_t>(Cap));
      continue;
    }
    if (S.avail_in == 0) {  // the input ended before the stream did
      inflateEnd(&S);
      RaiseLibraryError(Z_DATA_ERROR);
    }
  }
  size_t Produced = S.total_out;
  inflateEnd(&S);
  return Produced;
}

void BzipCompress(const uint8_t* In, int64_t N, uint8_t Mode, TVLTBuffer& Out) {
  unsigned int Cap = static_cast<unsigned int>(std::llround(static_cast<double>(N) * 1.01) + 600);
  Out = TVLTBuffer(Cap);
  int R = BZ2_bzBuffToBuffCompress(reinterpret_cast<char*>(Out.data()), &Cap,
                                   const_cast<char*>(reinterpret_cast<const char*>(In)),
                                   static_cast<unsigned int>(N), Mode, 0, 0);
  if (R != BZ_OK) RaiseLibraryError(R);
  if (Cap > 0) Out.Resize(Cap);
}

size_t BzipDecompress(const uint8_t* In, int64_t N, int64_t Expected, TVLTBuffer& Out) {
  if (Expected > 0) {
    // The expected size is the whole output area: a stream that needs more is damaged.
    Out = TVLTBuffer(static_cast<size_t>(Expected));
    unsigned int Len = static_cast<unsigned int>(Expected);
    int R = BZ2_bzBuffToBuffDecompress(reinterpret_cast<char*>(Out.data()), &Len,
                                       const_cast<char*>(reinterpret_cast<const char*>(In)),
                                       static_cast<unsigned int>(N), 0, 0);
    if (R != BZ_OK) RaiseLibraryError(R);
    return Len;
  }
  // Unknown size: the area starts at (10 x n + 65535) rounded down to 64 KB and grows by that
  // step. Growing keeps the stream's state, so no byte is decompressed twice.
  int64_t Step = std::max<int64_t>((10 * N + 65535) & ~int64_t{65535}, 65536);
  int64_t Cap = Step;
  Out = TVLTBuffer(static_cast<size_t>(Cap));
  bz_stream S{};
  int R = BZ2_bzDecompressInit(&S, 0, 0);
  if (R != BZ_OK) RaiseLibraryError(R);
  S.next_in = const_cast<char*>(reinterpret_cast<const char*>(In));
  S.avail_in = static_cast<unsigned int>(N);
  uint64_t Produced = 0;
  for (;;) {
    S.next_out = reinterpret_cast<char*>(Out.data() + Produced);
    S.avail_out = static_cast<unsigned int>(Cap - static_cast<int64_t>(Produced));
    unsigned int Room = S.avail_out;
    R = BZ2_bzDecompress(&S);
    Produced += Room - S.avail_out;
    if (R == BZ_STREAM_END) break;
    if (R != BZ_OK) {
      BZ2_bzDecompressEnd(&S);
      RaiseLibraryError(R);
    }
    if (S.avail_out == 0) {
      if (Cap >= kMaxUnknownDecompressedSize) {
        BZ2_bzDecompressEnd(&S);
        RaiseLibraryError(BZ_OUTBUFF_FULL);
      }
      Cap = std::min(Cap + std::max(Step, Cap / 2), kMaxUnknownDecompressedSize);
      Out.Resize(static_cast<size_t>(Cap));
    } else if (S.avail_in == 0) {
      BZ2_bzDecompressEnd(&S);
      RaiseLibraryError(BZ_UNEXPECTED_EOF);
    }
  }
  BZ2_bzDecompressEnd(&S);
  return static_cast<size_t>(Produced);
}

void PpmCompress(const uint8_t* In, int64_t N, uint8_t Mode, TVLTBuffer& Out) {
  std::vector<uint8_t> Packed;
  std::string Error;
  if (!PPMCompressBuffer(In, static_cast<size_t>(N), Mode, Packed, Error)) throw TAlgorithmError{Error};
  Out = TVLTBuffer(Packed.size());
  std::copy(Packed.begin(), Packed.end(), Out.data());
}

size_t PpmDecompress(const uint8_t* In, int64_t N, int64_t Expected, TVLTBuffer& Out) {
  if (Expected <= 0) throw TAlgorithmError{"PPM DecpmpressBuf: OutSize must be set"};
  Out = TVLTBuffer(static_cast<size_t>(Expected));
  size_t Produced = 0;
  std::string Error;
  if (!PPMDecompressBuffer(In, static_cast<size_t>(N), Out.data(), Out.size(), Produced, Error))
    throw TAlgorithmError{Error};
  return Produced;
}

void SetError(std::string* Error, std::string Text) {
  if (Error) *Error = std::move(Text);
}

}  // namespace

uint32_t DefaultCompressedBlockSize(uint8_t CompressionMode) {
  if (CompressionMode == 0) return 102400;
  if (CompressionMode <= 3) return 524288;
  if (CompressionMode <= 6) return 1048576;
  return 1572864;
}

bool VLTCompressBuffer(TVLTCompressionAlgorithm Algorithm, uint8_t Mode, const void* Input,
                       int64_t InputSize, TVLTCompressedStreamBlockHeader& Header,
                       TVLTBuffer& Output, std::string* Error) {
  if (Algorithm == acaNone || Algorithm > acaPPM || !Input || InputSize <= 0 ||
      InputSize > kMaxBufferSize) {
    SetError(Error, "error " + std::to_string(InputSize <= 0 ? 0 : -2));
    return false;
  }
  const auto* In = static_cast<const uint8_t*>(Input);
  Header.UncompressedSize = static_cast<uint32_t>(InputSize);
  Header.Crc32 = CalcCRC32(0, In, static_cast<size_t>(InputSize));
  try {
    switch (Algorithm) {
      case acaZLIB: ZlibCompress(In, InputSize, Mode, Output); break;
      case acaBZIP: BzipCompress(In, InputSize, Mode, Output); break;
      default: PpmCompress(In, InputSize, Mode, Output); break;
    }
  } catch (const TAlgorithmError& E) {
    SetError(Error, E.Text);
    Output = TVLTBuffer();
    return false;
  } catch (const std::exception& E) {
    SetError(Error, E.what());
    Output = TVLTBuffer();
    return false;
  }
  if (Output.size() == 0) return false;
  Header.CompressedSize = static_cast<uint32_t>(Output.size());
  Header.OffsetToNextHeader =
      static_cast<int64_t>(TVLTCompressedStreamBlockHeader::kStoredSize) + Header.CompressedSize;
  return true;
}

bool VLTDecompressBuffer(TVLTCompressionAlgorithm Algorithm, const void* Input, int64_t InputSize,
                         int64_t& OutputSize, TVLTBuffer& Output, std::string* Error) {
  int64_t Expected = OutputSize;
  OutputSize = 0;
  if (Algorithm == acaNone || Algorithm > acaPPM || !Input || InputSize <= 0 ||
      InputSize > kMaxBufferSize || Expected < 0 || Expected > kMaxBufferSize) {
    SetError(Error, "error " + std::to_string(InputSize <= 0 ? 0 : -2));
    return false;
  }
  const auto* In = static_cast<const uint8_t*>(Input);
  size_t Produced = 0;
  try {
    switch (Algorithm) {
      case acaZLIB: Produced = ZlibDecompress(In, InputSize, Expected, Output); break;
      case acaBZIP: Produced = BzipDecompress(In, InputSize, Expected, Output); break;
      default: Produced = PpmDecompress(In, InputSize, Expected, Output); break;
    }
  } catch (const TAlgorithmError& E) {
    SetError(Error, E.Text);
    Output = TVLTBuffer();
    return false;
  } catch (const std::exception& E) {
    SetError(Error, E.what());
    Output = TVLTBuffer();
    return false;
  }
  if (Produced == 0) {
    SetError(Error, "error 0");
    Output = TVLTBuffer();
    return false;
  }
  if (Produced != Output.size()) Output.Resize(Produced);
  OutputSize = static_cast<int64_t>(Produced);
  return true;
}

}  // namespace vlt
