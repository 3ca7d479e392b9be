// Searches over the 200,000 records of a disk table with a unique index on ID and a secondary
// index on GRP (2,000 records per value): a filtered count with ID equality, a filtered count
// over 1% of GRP, and Locate on ID, each once through the index ranges the search procedure
// chooses and once as the plain full scan it replaces (the cursor's FPlainScans). A filter no
// index answers (on NAME) is measured both ways too: it must cost what the full scan costs.
// Counters: "entries" and "records" are the index entries and records one search visited.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <filesystem>
#include <memory>
#include <string>

#include "engine/components/VLTDatabase.h"
#include "engine/components/VLTEngineRegistry.h"
#include "engine/components/VLTLocalCursor.h"
#include "engine/components/VLTTable.h"

namespace {

using namespace vlt;

constexpr int32_t kRecords = 200000;

struct TBenchTable {
  TBenchTable() {
    VLTStartEngine();
    char Tmpl[] = "/tmp/vlt_index_scan_bench_XXXXXX";
    Dir = ::mkdtemp(Tmpl);
    Db = std::make_unique<TVLTDatabase>();
    Db->SetDatabaseName("Bench");
    Db->SetDatabaseFileName(Dir + "/scan.vlt");
    Db->FPageSize = 8192;
    Db->FSilentMode = true;
    Db->FMaxConnections = 4;
    Db->CreateDatabase();
    Db->Open();
    T = std::make_unique<TVLTTable>();
    T->SetDatabaseName("Bench");
    T->SetTableName("Contributions");
    T->AddField(std::make_unique<TVLTIntegerField>("ID"));
    T->AddField(std::make_unique<TVLTIntegerField>("GRP"));
    T->AddField(std::make_unique<TVLTStringField>("NAME", 20));
    T->IndexDefs.push_back({"ById", "ID", "", "", ixPrimary | ixUnique});
    T->IndexDefs.push_back({"ByGrp", "GRP", "", "", 0});
    T->CreateTable();
    T->Open();
    Db->StartTransaction();
    for (int32_t Row = 0; Row < kRecords; ++Row) {
      T->Append();
      T->FieldByName("ID").SetAsInteger(Row);
      T->FieldByName("GRP").SetAsInteger((Row * 7919) % 100);
      T->FieldByName("NAME").SetAsString("Name " + std::to_string(Row));
      T->Post();
    }
    Db->Commit();
  }
  ~TBenchTable() {
    T.reset();
    Db->Close();
    Db.reset();
    std::error_code Ec;
    std::filesystem::remove_all(Dir, Ec);
  }

  std::string Dir;
  std::unique_ptr<TVLTDatabase> Db;
  std::unique_ptr<TVLTTable> T;
};

TBenchTable& Table() {
  static TBenchTable B;
  return B;
}

void Report(benchmark::State& State, TVLTCursor& C, int64_t Searches) {
  const TVLTSearchStatistics& S = C.FSearchStatistics;
  const double N = static_cast<double>(Searches > 0 ? Searches : 1);
  State.counters["entries"] = static_cast<double>(S.IndexEntriesVisited) / N;
  State.counters["records"] = static_cast<double>(S.RecordsVisited) / N;
}

void Count(benchmark::State& State, const char* Filter, int32_t Expected, bool Plain) {
  TBenchTable& B = Table();
  B.T->SetFiltered(false);
  B.T->SetFilter(Filter);
  B.T->SetFiltered(true);
  TVLTCursor& C = *B.T->Handle();
  C.FPlainScans = Plain;
  C.FSearchStatistics.Reset();
  int64_t Searches = 0;
  for (auto _ : State) {
    C.DisableRecordBitmap();
    if (B.T->RecordCount() != Expected) State.SkipWithError("wrong count");
    ++Searches;
  }
  Report(State, C, Searches);
  C.FPlainScans = false;
  B.T->SetFiltered(false);
}

void BM_UniqueEquality(benchmark::State& S) { Count(S, "ID = 123456", 1, false); }
void BM_UniqueEqualityFullScan(benchmark::State& S) { Count(S, "ID = 123456", 1, true); }
void BM_SecondaryRange1Percent(benchmark::State& S) { Count(S, "GRP = 42", 2000, false); }
void BM_SecondaryRange1PercentFullScan(benchmark::State& S) { Count(S, "GRP = 42", 2000, true); }
void BM_NoIndexFilter(benchmark::State& S) { Count(S, "NAME = 'Name 77'", 1, false); }
void BM_NoIndexFilterFullScan(benchmark::State& S) { Count(S, "NAME = 'Name 77'", 1, true); }

void LocateById(benchmark::State& State, bool Plain) {
  TBenchTable& B = Table();
  TVLTCursor& C = *B.T->Handle();
  C.FPlainScans = Plain;
  C.FSearchStatistics.Reset();
  int64_t Searches = 0;
  int32_t Id = 150001;
  for (auto _ : State) {
    TVLTVariant Key;
    Key.SetAsInteger(Id);
    if (!B.T->Locate("ID", {Key}, 0)) State.SkipWithError("not found");
    Id = (Id + 7) % kRecords;
    ++Searches;
  }
  Report(State, C, Searches);
  C.FPlainScans = false;
}

void BM_LocatePrimaryKey(benchmark::State& S) { LocateById(S, false); }
void BM_LocatePrimaryKeyFullScan(benchmark::State& S) { LocateById(S, true); }

BENCHMARK(BM_UniqueEquality)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_UniqueEqualityFullScan)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_SecondaryRange1Percent)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_SecondaryRange1PercentFullScan)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_NoIndexFilter)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_NoIndexFilterFullScan)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_LocatePrimaryKey)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_LocatePrimaryKeyFullScan)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace
