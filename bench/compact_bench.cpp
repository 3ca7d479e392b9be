// Compacting a database (TVLTDatabase::CompactDatabase into a new file) against a plain copy of
// the same file. The database is built once per run, encrypted and paged as the conversion
// writes its databases (Rijndael-256, page size 8192): one table of about 50 MB of records with a
// primary and a secondary index. "MB/s" is the size of the source file over the time taken.
//
// The copy reads and writes 1 MiB blocks and ends with fdatasync, as the compaction's commits
// reach the disk. The environment variable VLT_COMPACT_BENCH_MB changes the source size (for a
// quick trial), VLT_COMPACT_BENCH_PAGE_SIZE its page size; the file is built before the first
// timed iteration.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "engine/components/VLTDatabase.h"
#include "engine/components/VLTEngineRegistry.h"
#include "engine/components/VLTTable.h"

namespace {

using namespace vlt;

// VLT_COMPACT_BENCH_PAGE_SIZE=512 measures the page size of the conversions' databases.
int32_t PageSize() {
  const char* V = std::getenv("VLT_COMPACT_BENCH_PAGE_SIZE");
  const long N = V ? std::strtol(V, nullptr, 10) : 0;
  return N >= 512 && N <= 65536 ? static_cast<int32_t>(N) : 8192;
}
constexpr TVLTCryptoAlgorithm kCrypto = craRijndael_256;
const char* const kPassword = "bench-password";
const char* const kDatabaseName = "CompactBench";

int64_t WantedBytes() {
  const char* MB = std::getenv("VLT_COMPACT_BENCH_MB");
  const long V = MB ? std::strtol(MB, nullptr, 10) : 0;
  return int64_t{V > 0 ? V : 50} * 1000 * 1000;
}

// The database component on FileName, closed, silent.
std::unique_ptr<TVLTDatabase> NewDatabase(const std::string& FileName) {
  auto Db = std::make_unique<TVLTDatabase>();
  Db->SetDatabaseName(kDatabaseName);
  Db->SetDatabaseFileName(FileName);
  Db->FPassword = kPassword;
  Db->FCryptoAlgorithm = kCrypto;
  Db->FPageSize = static_cast<uint16_t>(PageSize());
  Db->FSilentMode = true;
  Db->FMaxConnections = 4;
  return Db;
}

// The source database, built on first use and removed with its folder at exit.
class TSource {
 public:
  static TSource& Get() {
    static TSource Source;
    return Source;
  }
  const std::string& File() const { return FFile; }
  const std::string& Dir() const { return FDir; }
  int64_t Bytes() const { return FBytes; }

  ~TSource() {
    std::error_code Ec;
    std::filesystem::remove_all(FDir, Ec);
  }

 private:
  TSource() {
    VLTStartEngine();
    char Tmpl[] = "/tmp/vlt_compact_bench_XXXXXX";
    FDir = ::mkdtemp(Tmpl);
    FFile = FDir + "/source.vlt";
    const auto Start = std::chrono::steady_clock::now();
    auto Db = NewDatabase(FFile);
    Db->CreateDatabase();
    Db->Open();
    {
      // Rows of about 270 bytes: ID (integer, primary), NAME (string 40, indexed), NOTE (string
      // 200), AMOUNT (float), DAY (date).
      TVLTTable T;
      T.SetDatabaseName(kDatabaseName);
      T.SetTableName("Ledger");
      T.AddField(std::make_unique<TVLTIntegerField>("ID"));
      T.AddField(std::make_unique<TVLTStringField>("NAME", 40));
      T.AddField(std::make_unique<TVLTStringField>("NOTE", 200));
      T.AddField(std::make_unique<TVLTFloatField>("AMOUNT"));
      T.AddField(std::make_unique<TVLTDateField>("DAY"));
      T.IndexDefs.push_back({"PK", "ID", "", "", ixPrimary | ixUnique});
      T.IndexDefs.push_back({"BYNAME", "NAME", "", "", 0});
      T.CreateTable();
      T.Open();
      TVLTField& Id = T.FieldByName("ID");
      TVLTField& Name = T.FieldByName("NAME");
      TVLTField& Note = T.FieldByName("NOTE");
      TVLTField& Amount = T.FieldByName("AMOUNT");
      TVLTField& Day = T.FieldByName("DAY");
      const std::string Filler(150, 'x');
      const int64_t Wanted = WantedBytes();
      // Committed every 5000 rows: the same file as one commit per row, built much faster.
      Db->StartTransaction();
      for (int32_t Row = 0;; ++Row) {
        if (Row % 5000 == 0 && Row > 0) {
          Db->Commit();
          if (static_cast<int64_t>(std::filesystem::file_size(FFile)) >= Wanted) break;
          Db->StartTransaction();
        }
        T.Append();
        Id.SetAsInteger(Row);
        Name.SetAsString("Member " + std::to_string(Row * 7919 % 100003));
        Note.SetAsString("Contribution " + std::to_string(Row) + " " + Filler);
        Amount.SetAsFloat(Row / 8.0);
        Day.SetAsDateTime(36526 + Row % 5000);
        T.Post();
        ++FRows;
      }
    }
    Db->Close();
    FBytes = static_cast<int64_t>(std::filesystem::file_size(FFile));
    const double Seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - Start).count();
    std::fprintf(stderr, "source: %lld rows, %.1f MB, built in %.1f s\n",
                 static_cast<long long>(FRows), FBytes / 1e6, Seconds);
  }

  std::string FDir, FFile;
  int64_t FBytes = 0;
  int64_t FRows = 0;
};

void SetRate(benchmark::State& State, int64_t Bytes) {
  const double Total = static_cast<double>(State.iterations()) * static_cast<double>(Bytes);
  State.SetBytesProcessed(static_cast<int64_t>(Total));
  State.counters["MB/s"] = benchmark::Counter(Total / 1e6, benchmark::Counter::kIsRate);
  State.counters["MB"] = static_cast<double>(Bytes) / 1e6;
}

void BM_CompactDatabase(benchmark::State& State) {
  TSource& Source = TSource::Get();
  const std::string Out = Source.Dir() + "/compacted.vlt";
  for (auto _ : State) {
    auto Db = NewDatabase(Source.File());
    if (!Db->CompactDatabase(Out)) State.SkipWithError("CompactDatabase failed");
    State.PauseTiming();
    Db.reset();
    std::filesystem::remove(Out);
    State.ResumeTiming();
  }
  SetRate(State, Source.Bytes());
}

void BM_CopyFile(benchmark::State& State) {
  TSource& Source = TSource::Get();
  const std::string Out = Source.Dir() + "/copied.vlt";
  std::vector<char> Block(1 << 20);
  for (auto _ : State) {
    const int In = ::open(Source.File().c_str(), O_RDONLY);
    const int Dest = ::open(Out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    bool OK = In >= 0 && Dest >= 0;
    while (OK) {
      const ssize_t N = ::read(In, Block.data(), Block.size());
      if (N <= 0) {
        OK = N == 0;
        break;
      }
      OK = ::write(Dest, Block.data(), static_cast<size_t>(N)) == N;
    }
    OK = OK && ::fdatasync(Dest) == 0;
    if (In >= 0) ::close(In);
    if (Dest >= 0) ::close(Dest);
    if (!OK) State.SkipWithError("copy failed");
    State.PauseTiming();
    std::filesystem::remove(Out);
    State.ResumeTiming();
  }
  SetRate(State, Source.Bytes());
}

BENCHMARK(BM_CompactDatabase)->Unit(benchmark::kMillisecond)->Iterations(2);
BENCHMARK(BM_CopyFile)->Unit(benchmark::kMillisecond)->Iterations(5);

}  // namespace
