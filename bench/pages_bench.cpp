// Page cache and commit costs of the disk page manager.
//
//   BM_CachedGetPut            GetPage + PutPage of a cached page (no file access)
//   BM_Commit/N/encrypted      a commit of N changed pages: each page written once, the header
//                              twice (and, encrypted, each page enciphered and deciphered again)
//   BM_RawPwrite/N             the same bytes written with bare pwrite calls: the floor a commit
//                              is measured against
//   BM_AddPage                 allocating a page through the free-space bitmaps
#include <fcntl.h>
#include <unistd.h>

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "engine/disk/VLTDiskPageManager.h"

namespace {

using namespace vlt;

constexpr uint16_t kPageSize = 4096;

std::string BenchFile() {
  char Tmpl[] = "/tmp/vlt_pages_bench_XXXXXX";
  int Fd = mkstemp(Tmpl);
  if (Fd >= 0) close(Fd);
  return Tmpl;
}

struct TBenchDb {
  std::string Path = BenchFile();
  std::unique_ptr<TVLTDiskPageManager> M = std::make_unique<TVLTDiskPageManager>();

  TBenchDb(int Pages, bool Encrypted) {
    TVLTPassword Pw;
    if (Encrypted) Pw = {"bench password", craRijndael_128};
    M->CreateAndOpenDatabase(Path, Pw, kPageSize, 8);
    for (int I = 0; I < Pages; ++I) {
      TVLTPage* P = M->AddPage(kSystemSessionID, ptTableRecord);
      P->PageData()[0] = static_cast<uint8_t>(I);
      M->PutPage(P);
    }
    M->ApplyChanges(kSystemSessionID);
  }
  ~TBenchDb() {
    M->CloseDatabase();
    std::remove(Path.c_str());
  }
};

void BM_CachedGetPut(benchmark::State& State) {
  TBenchDb Db(1, false);
  Db.M->PutPage(Db.M->GetPage(0, 2, ptTableRecord));
  for (auto _ : State) {
    TVLTPage* P = Db.M->GetPage(0, 2, ptTableRecord);
    benchmark::DoNotOptimize(P->PageData());
    Db.M->PutPage(P);
  }
}
BENCHMARK(BM_CachedGetPut);

void BM_Commit(benchmark::State& State) {
  const int N = static_cast<int>(State.range(0));
  TBenchDb Db(N, State.range(1) != 0);
  std::vector<TVLTPageNo> Pages;
  for (TVLTPageNo No = 2; static_cast<int>(Pages.size()) < N; ++No)
    if (!Db.M->IsSystemPage(No)) Pages.push_back(No);
  for (auto _ : State) {
    for (TVLTPageNo No : Pages) {
      TVLTPage* P = Db.M->GetPage(0, No, ptTableRecord);
      ++P->PageData()[1];
      P->SetIsDirty(true);
      Db.M->PutPage(P);
    }
    Db.M->ApplyChanges(0);
  }
  State.SetItemsProcessed(State.iterations() * N);
  State.SetBytesProcessed(State.iterations() * N * kPageSize);
}
BENCHMARK(BM_Commit)->ArgsProduct({{1, 16, 256}, {0, 1}})->ArgNames({"N", "encrypted"});

void BM_RawPwrite(benchmark::State& State) {
  const int N = static_cast<int>(State.range(0));
  std::string Path = BenchFile();
  int Fd = open(Path.c_str(), O_RDWR);
  std::vector<uint8_t> Page(kPageSize, 0x5A), Header(76, 0);
  for (auto _ : State) {
    benchmark::DoNotOptimize(pwrite(Fd, Header.data(), Header.size(), 0));
    for (int I = 0; I < N; ++I)
      benchmark::DoNotOptimize(
          pwrite(Fd, Page.data(), Page.size(), 380 + off_t{I + 2} * kPageSize));
    benchmark::DoNotOptimize(pwrite(Fd, Header.data(), Header.size(), 0));
  }
  close(Fd);
  std::remove(Path.c_str());
  State.SetItemsProcessed(State.iterations() * N);
  State.SetBytesProcessed(State.iterations() * N * kPageSize);
}
BENCHMARK(BM_RawPwrite)->Arg(1)->Arg(16)->Arg(256)->ArgName("N");

void BM_AddPage(benchmark::State& State) {
  TBenchDb Db(0, false);
  int Since = 0;
  for (auto _ : State) {
    Db.M->PutPage(Db.M->AddPage(0, ptTableRecord));
    if (++Since == 1000) {
      State.PauseTiming();
      Db.M->ApplyChanges(0);
      Since = 0;
      State.ResumeTiming();
    }
  }
  Db.M->ApplyChanges(0);
}
BENCHMARK(BM_AddPage);

}  // namespace
