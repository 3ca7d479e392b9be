// The engine against SQLite, side by side on the same rows in one process: 100,000 ledger-like
// rows (a 7-column integer primary key in random order, an amount and a 30-character text).
// Every benchmark runs both peers on the same work and reports engine_rows_per_s,
// sqlite_rows_per_s and ratio (engine / SQLite; above 1 the engine is faster), plus the files'
// sizes in bytes.
//
//   BM_InsertOneTransaction/<pair>  all rows in one transaction. Pairs (engine | SQLite):
//     0  plain, page 4096       | WITHOUT ROWID, page 4096, journal DELETE, synchronous FULL
//     1  plain, page 4096       | rowid + unique index, page 4096, journal DELETE, sync FULL
//     2  Rijndael-256, page 512 | WITHOUT ROWID, page 512, journal DELETE, synchronous FULL
//     3  plain, no syncs        | WITHOUT ROWID, page 4096, journal OFF, synchronous OFF
//   BM_InsertAutocommit/<pair>      2,000 rows, a commit each; pair 0 both syncing (engine
//                                   normal durability, SQLite DELETE + FULL), 1 neither (engine
//                                   dsOff, SQLite journal OFF + sync OFF), 2 both journalling,
//                                   neither syncing (engine dsOff, SQLite DELETE + sync OFF):
//                                   the engine has no mode without a rollback journal
//   BM_ScanKeyOrder                 every row in key order (engine: primary index; SQLite:
//                                   ORDER BY the key of a WITHOUT ROWID table)
//   BM_ScanPhysical                 every row in storage order
//                                   (both scans also report cpu_ratio: the same ratio of the
//                                   thread's CPU time, steadier than wall time on a busy
//                                   machine, where the peers may be descheduled unevenly)
//   BM_PointLookups                 up to 10,000 look-ups by the whole key (FindKey against a
//                                   prepared SELECT), each peer stopped after 3 seconds
//
// Each benchmark also reports engine_peak_MB and sqlite_peak_MB: the resident memory each
// peer's part adds at its peak over what the process held when the part began (free heap given
// back first, so that one peer's freed memory does not hide the other's growth).
//
// VLT_CACHE_PAGES=N in the environment gives the engine a shared cache of N pages.
//
// The engine's part of a run is always measured first, so both peers start with a warm file
// cache only of their own files.
#include <benchmark/benchmark.h>
#include <malloc.h>
#include <sqlite3.h>
#include <stdlib.h>
#include <time.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <numeric>
#include <random>
#include <string>
#include <vector>

#include "engine/components/VLTDatabase.h"
#include "engine/components/VLTDiskDatabaseEntry.h"
#include "engine/components/VLTEngineRegistry.h"
#include "engine/components/VLTLocalSession.h"
#include "engine/components/VLTTable.h"
#include "engine/disk/VLTDiskPageManager.h"

namespace {

using namespace vlt;
using Clock = std::chrono::steady_clock;

constexpr int kRows = 100000;

struct TRow {
  int32_t Key[7];
  double Amount;
  std::string Memo;
};

const std::vector<TRow>& Rows() {
  static const std::vector<TRow> R = [] {
    std::vector<int32_t> Order(kRows);
    std::iota(Order.begin(), Order.end(), 0);
    std::mt19937 G(42);
    std::shuffle(Order.begin(), Order.end(), G);
    std::vector<TRow> Out;
    Out.reserve(kRows);
    for (int32_t K : Order) {
      TRow Row{{2000 + K % 20, K / 20 % 50, K / 1000 % 10, K / 10000 % 10, K % 13, K % 7, K},
               K * 1.25,
               "Memo of entry " + std::to_string(K)};
      Out.push_back(std::move(Row));
    }
    return Out;
  }();
  return R;
}

const char* const kKeyNames[7] = {"Year", "Fund", "Acct", "Dept", "Period", "Kind", "Seq"};

struct TScratch {
  std::string Dir;
  TScratch() {
    char T[] = "/tmp/vlt_sqlcmp_XXXXXX";
    Dir = mkdtemp(T);
  }
  ~TScratch() { std::filesystem::remove_all(Dir); }
};

double Seconds(Clock::time_point Start) {
  return std::chrono::duration<double>(Clock::now() - Start).count();
}

// CPU time of the calling thread in seconds.
double ThreadCpuSeconds() {
  timespec T{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &T);
  return static_cast<double>(T.tv_sec) + static_cast<double>(T.tv_nsec) * 1e-9;
}

int64_t FileSize(const std::string& Path) {
  std::error_code Ec;
  const auto S = std::filesystem::file_size(Path, Ec);
  return Ec ? 0 : static_cast<int64_t>(S);
}

// ---- the engine ----

struct TEngineOptions {
  uint16_t PageSize = 4096;
  bool Encrypted = false;
  TVLTDurability Durability = dsNormal;
};

std::unique_ptr<TVLTDatabase> EngineDatabase(const std::string& File, const TEngineOptions& O,
                                             bool Create) {
  static int Serial = 0;
  auto Db = std::make_unique<TVLTDatabase>();
  Db->SetDatabaseName("Cmp" + std::to_string(++Serial));
  Db->SetDatabaseFileName(File);
  Db->FPageSize = O.PageSize;
  Db->FSilentMode = true;
  Db->FExclusive = true;
  Db->FDurability = O.Durability;
  if (O.Encrypted) {
    Db->FPassword = "compare";
    Db->FCryptoAlgorithm = craRijndael_256;
  }
  if (Create) Db->CreateDatabase();
  Db->Open();
  // VLT_CACHE_PAGES=N runs the engine with a shared cache of N pages instead of its default.
  if (const char* Pages = std::getenv("VLT_CACHE_PAGES"); Pages && std::atoi(Pages) > 0)
    Db->Handle()->DiskLink()->Disk().PageManager()->SetCacheCapacity(std::atoi(Pages));
  return Db;
}

std::unique_ptr<TVLTTable> EngineTable(TVLTDatabase& Db, bool Create) {
  auto T = std::make_unique<TVLTTable>();
  T->SetDatabaseName(Db.DatabaseName());
  T->SetTableName("Ledger");
  for (const char* N : kKeyNames) T->AddField(std::make_unique<TVLTIntegerField>(N));
  T->AddField(std::make_unique<TVLTFloatField>("Amount"));
  T->AddField(std::make_unique<TVLTStringField>("Memo", 30));
  T->IndexDefs.push_back(
      {"Main", "Year;Fund;Acct;Dept;Period;Kind;Seq", "", "", ixPrimary | ixUnique});
  if (Create) T->CreateTable();
  T->Open();
  return T;
}

void EngineInsert(TVLTTable& T, const TRow& R) {
  T.Append();
  for (int I = 0; I < 7; ++I) T.Fields(I).SetAsInteger(R.Key[I]);
  T.Fields(7).SetAsFloat(R.Amount);
  T.Fields(8).SetAsString(R.Memo);
  T.Post();
}

double EngineLoad(const std::string& File, const TEngineOptions& O, int Count,
                  bool OneTransaction) {
  std::filesystem::remove(File);
  auto Db = EngineDatabase(File, O, true);
  auto T = EngineTable(*Db, true);
  const auto Start = Clock::now();
  if (OneTransaction) Db->StartTransaction();
  for (int I = 0; I < Count; ++I) EngineInsert(*T, Rows()[static_cast<size_t>(I)]);
  if (OneTransaction) Db->Commit();
  const double S = Seconds(Start);
  T.reset();
  Db->Close();
  return S;
}

// ---- SQLite ----

struct TSqliteOptions {
  int PageSize = 4096;
  bool WithoutRowid = true;
  bool Journal = true;  // DELETE, else OFF
  bool Sync = true;     // FULL, else OFF
};

void Exec(sqlite3* Db, const std::string& Sql) {
  char* Error = nullptr;
  if (sqlite3_exec(Db, Sql.c_str(), nullptr, nullptr, &Error) != SQLITE_OK) {
    std::fprintf(stderr, "sqlite: %s: %s\n", Sql.c_str(), Error ? Error : "?");
    sqlite3_free(Error);
    std::abort();
  }
}

sqlite3* SqliteOpen(const std::string& File, const TSqliteOptions& O) {
  sqlite3* Db = nullptr;
  sqlite3_open(File.c_str(), &Db);
  Exec(Db, "PRAGMA page_size=" + std::to_string(O.PageSize));
  Exec(Db, std::string("PRAGMA journal_mode=") + (O.Journal ? "DELETE" : "OFF"));
  Exec(Db, std::string("PRAGMA synchronous=") + (O.Sync ? "FULL" : "OFF"));
  return Db;
}

const char* const kKeyList = "Year, Fund, Acct, Dept, Period, Kind, Seq";

double SqliteLoad(const std::string& File, const TSqliteOptions& O, int Count,
                  bool OneTransaction) {
  std::filesystem::remove(File);
  sqlite3* Db = SqliteOpen(File, O);
  const std::string Columns =
      "Year INTEGER, Fund INTEGER, Acct INTEGER, Dept INTEGER, Period INTEGER, Kind INTEGER, "
      "Seq INTEGER, Amount REAL, Memo TEXT";
  if (O.WithoutRowid) {
    Exec(Db, "CREATE TABLE Ledger (" + Columns + ", PRIMARY KEY (" + kKeyList + ")) WITHOUT ROWID");
  } else {
    Exec(Db, "CREATE TABLE Ledger (" + Columns + ")");
    Exec(Db, std::string("CREATE UNIQUE INDEX Main ON Ledger (") + kKeyList + ")");
  }
  sqlite3_stmt* Insert = nullptr;
  sqlite3_prepare_v2(Db, "INSERT INTO Ledger VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?)", -1, &Insert,
                     nullptr);
  const auto Start = Clock::now();
  if (OneTransaction) Exec(Db, "BEGIN");
  for (int I = 0; I < Count; ++I) {
    const TRow& R = Rows()[static_cast<size_t>(I)];
    for (int K = 0; K < 7; ++K) sqlite3_bind_int(Insert, K + 1, R.Key[K]);
    sqlite3_bind_double(Insert, 8, R.Amount);
    sqlite3_bind_text(Insert, 9, R.Memo.c_str(), static_cast<int>(R.Memo.size()), SQLITE_STATIC);
    sqlite3_step(Insert);
    sqlite3_reset(Insert);
  }
  if (OneTransaction) Exec(Db, "COMMIT");
  const double S = Seconds(Start);
  sqlite3_finalize(Insert);
  sqlite3_close(Db);
  return S;
}

// The resident memory added since construction at its peak (Linux: VmHWM, reset through
// clear_refs), in MB.
class TPeakMemory {
 public:
  TPeakMemory() {
    malloc_trim(0);
    std::ofstream("/proc/self/clear_refs") << "5";
    FBaseKB = StatusKB("VmRSS:");
  }
  double AddedMB() const {
    return static_cast<double>(std::max<int64_t>(StatusKB("VmHWM:") - FBaseKB, 0)) / 1024;
  }

 private:
  static int64_t StatusKB(const std::string& Field) {
    std::ifstream Status("/proc/self/status");
    for (std::string Line; std::getline(Status, Line);)
      if (Line.compare(0, Field.size(), Field) == 0) return std::atoll(Line.c_str() + Field.size());
    return 0;
  }
  int64_t FBaseKB;
};

struct TPeaks {
  double EngineMB, SqliteMB;
};

void Report(benchmark::State& State, int Rows, double EngineSeconds, double SqliteSeconds,
            TPeaks Peaks, int64_t EngineBytes = 0, int64_t SqliteBytes = 0) {
  State.counters["engine_rows_per_s"] = Rows / EngineSeconds;
  State.counters["sqlite_rows_per_s"] = Rows / SqliteSeconds;
  State.counters["ratio"] = SqliteSeconds / EngineSeconds;
  State.counters["engine_peak_MB"] = Peaks.EngineMB;
  State.counters["sqlite_peak_MB"] = Peaks.SqliteMB;
  if (EngineBytes) State.counters["engine_bytes"] = static_cast<double>(EngineBytes);
  if (SqliteBytes) State.counters["sqlite_bytes"] = static_cast<double>(SqliteBytes);
}

// ---- benchmarks ----

void BM_InsertOneTransaction(benchmark::State& State) {
  VLTStartEngine();
  Rows();  // made before the peaks are measured
  TScratch S;
  TEngineOptions E;
  TSqliteOptions Q;
  switch (State.range(0)) {
    case 1:
      Q.WithoutRowid = false;
      break;
    case 2:
      E.PageSize = 512, E.Encrypted = true, Q.PageSize = 512;
      break;
    case 3:
      E.Durability = dsOff, Q.Journal = false, Q.Sync = false;
      break;
    default:
      break;
  }
  for (auto _ : State) {
    TPeaks Peaks;
    TPeakMemory EM;
    const double Es = EngineLoad(S.Dir + "/e.vlt", E, kRows, true);
    Peaks.EngineMB = EM.AddedMB();
    TPeakMemory QM;
    const double Qs = SqliteLoad(S.Dir + "/q.db", Q, kRows, true);
    Peaks.SqliteMB = QM.AddedMB();
    Report(State, kRows, Es, Qs, Peaks, FileSize(S.Dir + "/e.vlt"), FileSize(S.Dir + "/q.db"));
  }
}
BENCHMARK(BM_InsertOneTransaction)->DenseRange(0, 3)->Iterations(1)->Unit(benchmark::kSecond);

void BM_InsertAutocommit(benchmark::State& State) {
  VLTStartEngine();
  Rows();
  TScratch S;
  TEngineOptions E;
  TSqliteOptions Q;
  if (State.range(0) >= 1) E.Durability = dsOff, Q.Sync = false;
  if (State.range(0) == 1) Q.Journal = false;
  constexpr int kCount = 2000;
  for (auto _ : State) {
    TPeaks Peaks;
    TPeakMemory EM;
    const double Es = EngineLoad(S.Dir + "/e.vlt", E, kCount, false);
    Peaks.EngineMB = EM.AddedMB();
    TPeakMemory QM;
    const double Qs = SqliteLoad(S.Dir + "/q.db", Q, kCount, false);
    Peaks.SqliteMB = QM.AddedMB();
    Report(State, kCount, Es, Qs, Peaks);
  }
}
BENCHMARK(BM_InsertAutocommit)->DenseRange(0, 2)->Iterations(1)->Unit(benchmark::kSecond);

// A loaded pair of files for the reading benchmarks.
struct TLoaded {
  TScratch S;
  TLoaded() {
    VLTStartEngine();
    EngineLoad(S.Dir + "/e.vlt", TEngineOptions{4096, false, dsOff}, kRows, true);
    SqliteLoad(S.Dir + "/q.db", TSqliteOptions{4096, true, false, false}, kRows, true);
  }
};
TLoaded& Loaded() {
  static TLoaded L;
  return L;
}

void Scan(benchmark::State& State, bool KeyOrder) {
  TLoaded& L = Loaded();
  for (auto _ : State) {
    TPeaks Peaks;
    TPeakMemory EM;
    auto Db = EngineDatabase(L.S.Dir + "/e.vlt", TEngineOptions{4096, false, dsOff}, false);
    auto T = EngineTable(*Db, false);
    if (KeyOrder) T->SetIndexName("Main");
    int64_t Sum = 0;
    auto Start = Clock::now();
    double Cpu = ThreadCpuSeconds();
    for (T->First(); !T->Eof(); T->Next()) Sum += T->Fields(6).AsInteger();
    const double Es = Seconds(Start);
    const double ECpu = ThreadCpuSeconds() - Cpu;
    Peaks.EngineMB = EM.AddedMB();
    T.reset();
    Db->Close();
    TPeakMemory QM;
    sqlite3* Q = SqliteOpen(L.S.Dir + "/q.db", TSqliteOptions{4096, true, false, false});
    sqlite3_stmt* Select = nullptr;
    sqlite3_prepare_v2(Q,
                       KeyOrder ? "SELECT Seq, Amount, Memo FROM Ledger ORDER BY Year, Fund, Acct, "
                                  "Dept, Period, Kind, Seq"
                                : "SELECT Seq, Amount, Memo FROM Ledger",
                       -1, &Select, nullptr);
    Start = Clock::now();
    Cpu = ThreadCpuSeconds();
    while (sqlite3_step(Select) == SQLITE_ROW) Sum -= sqlite3_column_int(Select, 0);
    const double Qs = Seconds(Start);
    const double QCpu = ThreadCpuSeconds() - Cpu;
    Peaks.SqliteMB = QM.AddedMB();
    sqlite3_finalize(Select);
    sqlite3_close(Q);
    benchmark::DoNotOptimize(Sum);
    Report(State, kRows, Es, Qs, Peaks);
    State.counters["engine_cpu_ms"] = ECpu * 1000;
    State.counters["sqlite_cpu_ms"] = QCpu * 1000;
    State.counters["cpu_ratio"] = QCpu / ECpu;
  }
}
void BM_ScanKeyOrder(benchmark::State& State) {
  Scan(State, true);
}
void BM_ScanPhysical(benchmark::State& State) {
  Scan(State, false);
}
BENCHMARK(BM_ScanKeyOrder)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ScanPhysical)->Iterations(1)->Unit(benchmark::kMillisecond);

void BM_PointLookups(benchmark::State& State) {
  TLoaded& L = Loaded();
  constexpr int kMax = 10000;
  constexpr double kCap = 3.0;
  std::mt19937 G(7);
  std::vector<const TRow*> Probes;
  for (int I = 0; I < kMax; ++I) Probes.push_back(&Rows()[G() % kRows]);
  for (auto _ : State) {
    TPeaks Peaks;
    TPeakMemory EM;
    auto Db = EngineDatabase(L.S.Dir + "/e.vlt", TEngineOptions{4096, false, dsOff}, false);
    auto T = EngineTable(*Db, false);
    T->SetIndexName("Main");
    int Found = 0, Done = 0;
    auto Start = Clock::now();
    for (; Done < kMax && Seconds(Start) < kCap; ++Done) {
      std::vector<TVLTVariant> Key(7);
      for (int K = 0; K < 7; ++K) Key[static_cast<size_t>(K)].SetAsInteger(Probes[Done]->Key[K]);
      Found += T->FindKey(Key);
    }
    const double Es = Seconds(Start) / Done;
    Peaks.EngineMB = EM.AddedMB();
    T.reset();
    Db->Close();
    TPeakMemory QM;
    sqlite3* Q = SqliteOpen(L.S.Dir + "/q.db", TSqliteOptions{4096, true, false, false});
    sqlite3_stmt* Select = nullptr;
    sqlite3_prepare_v2(Q,
                       "SELECT Amount, Memo FROM Ledger WHERE Year=? AND Fund=? AND Acct=? AND "
                       "Dept=? AND Period=? AND Kind=? AND Seq=?",
                       -1, &Select, nullptr);
    int QDone = 0;
    Start = Clock::now();
    for (; QDone < kMax && Seconds(Start) < kCap; ++QDone) {
      for (int K = 0; K < 7; ++K) sqlite3_bind_int(Select, K + 1, Probes[QDone]->Key[K]);
      Found += sqlite3_step(Select) == SQLITE_ROW;
      sqlite3_reset(Select);
    }
    const double Qs = Seconds(Start) / QDone;
    Peaks.SqliteMB = QM.AddedMB();
    sqlite3_finalize(Select);
    sqlite3_close(Q);
    benchmark::DoNotOptimize(Found);
    State.counters["engine_lookups"] = Done;
    Report(State, 1, Es, Qs, Peaks);
  }
}
BENCHMARK(BM_PointLookups)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace
