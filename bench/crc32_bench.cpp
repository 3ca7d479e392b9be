// The engine checksum against zlib's standard CRC-32 on page-sized buffers: the two should run
// at the same speed, since the engine's form is zlib's loop without the inversions.
#include <benchmark/benchmark.h>
#include <zlib.h>

#include <vector>

#include "engine/base/VLTCRC32.h"

static void BM_CalcCRC32(benchmark::State& State) {
  std::vector<uint8_t> Page(static_cast<size_t>(State.range(0)), 0x5A);
  for (auto _ : State) benchmark::DoNotOptimize(vlt::CalcCRC32(0, Page.data(), Page.size()));
  State.SetBytesProcessed(static_cast<int64_t>(State.iterations()) * State.range(0));
}
BENCHMARK(BM_CalcCRC32)->Arg(4096)->Arg(16384)->Arg(65536);

static void BM_ZlibCRC32(benchmark::State& State) {
  std::vector<uint8_t> Page(static_cast<size_t>(State.range(0)), 0x5A);
  for (auto _ : State) benchmark::DoNotOptimize(crc32_z(0, Page.data(), Page.size()));
  State.SetBytesProcessed(static_cast<int64_t>(State.iterations()) * State.range(0));
}
BENCHMARK(BM_ZlibCRC32)->Arg(4096)->Arg(16384)->Arg(65536);
