// The buffer compressor against the libraries called directly, on text-like data of one BLOB
// block (102400 bytes): zlib and bzip2 should cost the same through the compressor (it adds a
// checksum and one copy at most). PPM at mode 4 should run at 3 MB/s or more in both directions.
#include <benchmark/benchmark.h>
#include <bzlib.h>
#include <zlib.h>

#include <string>
#include <vector>

#include "engine/protect/VLTCompression.h"
#include "engine/protect/VLTPPM.h"

namespace {

std::vector<uint8_t> TextLike(size_t N) {
  static const char* Words[] = {"offering ", "pledge ",  "member ", "Sunday ", "1998 ",
                                "\r\n",      "total ",   "45.00 ",  "general ", "fund ",
                                "building ", "Johnson ", "Mary ",   "check ",   "No. "};
  std::vector<uint8_t> V;
  uint32_t X = 17;
  while (V.size() < N) {
    X = X * 1103515245u + 12345u;
    for (const char* C = Words[(X >> 16) % 15]; *C && V.size() < N; ++C)
      V.push_back(static_cast<uint8_t>(*C));
  }
  return V;
}

const std::vector<uint8_t>& Input() {
  static const std::vector<uint8_t> V = TextLike(102400);
  return V;
}

void Compress(benchmark::State& State, vlt::TVLTCompressionAlgorithm A, uint8_t Mode) {
  const auto& In = Input();
  for (auto _ : State) {
    vlt::TVLTCompressedStreamBlockHeader H;
    vlt::TVLTBuffer Out;
    if (!vlt::VLTCompressBuffer(A, Mode, In.data(), static_cast<int64_t>(In.size()), H, Out))
      State.SkipWithError("compression failed");
    benchmark::DoNotOptimize(Out.data());
  }
  State.SetBytesProcessed(static_cast<int64_t>(State.iterations() * In.size()));
}

void Decompress(benchmark::State& State, vlt::TVLTCompressionAlgorithm A, uint8_t Mode) {
  const auto& In = Input();
  vlt::TVLTCompressedStreamBlockHeader H;
  vlt::TVLTBuffer Packed;
  vlt::VLTCompressBuffer(A, Mode, In.data(), static_cast<int64_t>(In.size()), H, Packed);
  for (auto _ : State) {
    int64_t Size = static_cast<int64_t>(In.size());
    vlt::TVLTBuffer Out;
    if (!vlt::VLTDecompressBuffer(A, Packed.data(), static_cast<int64_t>(Packed.size()), Size, Out))
      State.SkipWithError("decompression failed");
    benchmark::DoNotOptimize(Out.data());
  }
  State.SetBytesProcessed(static_cast<int64_t>(State.iterations() * In.size()));
}

void BM_VLTZlibCompress(benchmark::State& S) { Compress(S, vlt::acaZLIB, 6); }
void BM_VLTZlibDecompress(benchmark::State& S) { Decompress(S, vlt::acaZLIB, 6); }
void BM_VLTBzipCompress(benchmark::State& S) { Compress(S, vlt::acaBZIP, 6); }
void BM_VLTBzipDecompress(benchmark::State& S) { Decompress(S, vlt::acaBZIP, 6); }
void BM_VLTPPMCompressMode4(benchmark::State& S) { Compress(S, vlt::acaPPM, 4); }
void BM_VLTPPMDecompressMode4(benchmark::State& S) { Decompress(S, vlt::acaPPM, 4); }

void BM_DirectZlibCompress(benchmark::State& State) {
  const auto& In = Input();
  std::vector<uint8_t> Out(compressBound(In.size()));
  for (auto _ : State) {
    uLongf Len = Out.size();
    compress2(Out.data(), &Len, In.data(), In.size(), 6);
    benchmark::DoNotOptimize(Out.data());
  }
  State.SetBytesProcessed(static_cast<int64_t>(State.iterations() * In.size()));
}

void BM_DirectZlibDecompress(benchmark::State& State) {
  const auto& In = Input();
  std::vector<uint8_t> Packed(compressBound(In.size()));
  uLongf PLen = Packed.size();
  compress2(Packed.data(), &PLen, In.data(), In.size(), 6);
  std::vector<uint8_t> Out(In.size());
  for (auto _ : State) {
    uLongf Len = Out.size();
    uncompress(Out.data(), &Len, Packed.data(), PLen);
    benchmark::DoNotOptimize(Out.data());
  }
  State.SetBytesProcessed(static_cast<int64_t>(State.iterations() * In.size()));
}

void BM_DirectBzipCompress(benchmark::State& State) {
  const auto& In = Input();
  std::vector<char> Out(In.size() * 2 + 600);
  for (auto _ : State) {
    unsigned int Len = static_cast<unsigned int>(Out.size());
    BZ2_bzBuffToBuffCompress(Out.data(), &Len, reinterpret_cast<char*>(const_cast<uint8_t*>(In.data())),
                             static_cast<unsigned int>(In.size()), 6, 0, 0);
    benchmark::DoNotOptimize(Out.data());
  }
  State.SetBytesProcessed(static_cast<int64_t>(State.iterations() * In.size()));
}

void BM_DirectBzipDecompress(benchmark::State& State) {
  const auto& In = Input();
  std::vector<char> Packed(In.size() * 2 + 600);
  unsigned int PLen = static_cast<unsigned int>(Packed.size());
  BZ2_bzBuffToBuffCompress(Packed.data(), &PLen, reinterpret_cast<char*>(const_cast<uint8_t*>(In.data())),
                           static_cast<unsigned int>(In.size()), 6, 0, 0);
  std::vector<char> Out(In.size());
  for (auto _ : State) {
    unsigned int Len = static_cast<unsigned int>(Out.size());
    BZ2_bzBuffToBuffDecompress(Out.data(), &Len, Packed.data(), PLen, 0, 0);
    benchmark::DoNotOptimize(Out.data());
  }
  State.SetBytesProcessed(static_cast<int64_t>(State.iterations() * In.size()));
}

}  // namespace

BENCHMARK(BM_VLTZlibCompress);
BENCHMARK(BM_DirectZlibCompress);
BENCHMARK(BM_VLTZlibDecompress);
BENCHMARK(BM_DirectZlibDecompress);
BENCHMARK(BM_VLTBzipCompress);
BENCHMARK(BM_DirectBzipCompress);
BENCHMARK(BM_VLTBzipDecompress);
BENCHMARK(BM_DirectBzipDecompress);
BENCHMARK(BM_VLTPPMCompressMode4);
BENCHMARK(BM_VLTPPMDecompressMode4);
