// A three-conjunct filter (integer equality, string comparison, date range) over the 200,000
// records of a disk table. BM_FilterEvaluation counts the evaluation itself: the records are
// read once beforehand and the expression runs over the buffers in memory; "records/s" is its
// rate and "allocs/record" the heap allocations per record (0 expected: only constants,
// fields, comparisons and AND are involved). BM_FilterThroughTable counts the same filter
// through the table component (RecordCount of a filtered table: reading and evaluating every
// record), BM_CountThroughTable the same count with the constant filter TRUE (reading every
// record, evaluating next to nothing) as the peer.
//
// The string conjunct comes first in BM_FilterEvaluationAllConjuncts, so that every record
// evaluates all three instead of stopping at the integer equality.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "engine/components/VLTDatabase.h"
#include "engine/components/VLTEngineRegistry.h"
#include "engine/components/VLTLocalCursor.h"
#include "engine/components/VLTTable.h"
#include "engine/expr/VLTExpression.h"

// The replacement pair is malloc/free on both sides; GCC cannot see that through inlining.
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
namespace {
std::atomic<int64_t> GAllocations{0};
}  // namespace
void* operator new(std::size_t Size) {
  GAllocations.fetch_add(1, std::memory_order_relaxed);
  if (void* P = std::malloc(Size ? Size : 1)) return P;
  throw std::bad_alloc();
}
void operator delete(void* P) noexcept {
  std::free(P);
}
void operator delete(void* P, std::size_t) noexcept {
  std::free(P);
}

namespace {

using namespace vlt;

constexpr int32_t kRecords = 200000;
const char* kFilter =
    "ID = 123456 AND NAME >= 'Name 5' AND BORN BETWEEN '01/01/2001' AND '12/31/2001'";
const char* kAllConjuncts =
    "NAME >= 'Name 1' AND BORN BETWEEN '01/01/2000' AND '12/31/2030' AND ID <> -1";

// One database with the table People (ID, NAME, BORN), made once for all benchmarks.
struct TBenchTable {
  TBenchTable() {
    VLTStartEngine();
    char Tmpl[] = "/tmp/vlt_filter_bench_XXXXXX";
    Dir = ::mkdtemp(Tmpl);
    Db = std::make_unique<TVLTDatabase>();
    Db->SetDatabaseName("Bench");
    Db->SetDatabaseFileName(Dir + "/filter.vlt");
    Db->FPageSize = 8192;
    Db->FSilentMode = true;
    Db->FMaxConnections = 4;
    Db->CreateDatabase();
    Db->Open();
    T = std::make_unique<TVLTTable>();
    T->SetDatabaseName("Bench");
    T->SetTableName("People");
    T->AddField(std::make_unique<TVLTIntegerField>("ID"));
    T->AddField(std::make_unique<TVLTStringField>("NAME", 20));
    T->AddField(std::make_unique<TVLTDateField>("BORN"));
    T->CreateTable();
    T->Open();
    Db->StartTransaction();
    for (int32_t Row = 0; Row < kRecords; ++Row) {
      T->Append();
      T->FieldByName("ID").SetAsInteger(Row);
      T->FieldByName("NAME").SetAsString("Name " + std::to_string(Row));
      T->FieldByName("BORN").SetAsDateTime(36526 + Row % 5000);  // from 1 January 2000
      T->Post();
    }
    Db->Commit();
    // Every record buffer once, for the evaluation-only benchmarks.
    TVLTCursor& C = *T->Handle();
    const size_t Size = static_cast<size_t>(C.FRecordBufferSize);
    uint8_t* Saved = C.CurrentRecordBuffer();
    std::vector<uint8_t> Buffer(Size);
    C.SetCurrentRecordBuffer(Buffer.data());
    C.InternalFirst();
    while (C.GetRecordBuffer(grmNext) == grrOK) Records.push_back(Buffer);
    C.SetCurrentRecordBuffer(Saved);
    T->First();
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
  std::vector<std::vector<uint8_t>> Records;
};

TBenchTable& Table() {
  static TBenchTable B;
  return B;
}

void Evaluate(benchmark::State& State, const char* Filter, int64_t ExpectedMatches) {
  TBenchTable& B = Table();
  TVLTExpression E;
  E.ParseForFilter(B.T->Handle(), Filter, false, true);
  // One pass first: every node holds a value of its type from then on.
  for (const std::vector<uint8_t>& R : B.Records) {
    E.AssignCursorBuffer(R.data(), false);
    E.GetResult();
  }
  int64_t Matches = 0, Allocations = 0, Evaluated = 0;
  for (auto _ : State) {
    Matches = 0;
    const int64_t Before = GAllocations.load(std::memory_order_relaxed);
    for (const std::vector<uint8_t>& R : B.Records) {
      E.AssignCursorBuffer(R.data(), false);
      Matches += E.GetResult();
    }
    Allocations += GAllocations.load(std::memory_order_relaxed) - Before;
    Evaluated += static_cast<int64_t>(B.Records.size());
  }
  if (ExpectedMatches >= 0 && Matches != ExpectedMatches) State.SkipWithError("wrong matches");
  State.counters["records/s"] =
      benchmark::Counter(static_cast<double>(Evaluated), benchmark::Counter::kIsRate);
  State.counters["allocs/record"] =
      Evaluated ? static_cast<double>(Allocations) / static_cast<double>(Evaluated) : 0.0;
  State.counters["matches"] = static_cast<double>(Matches);
}

void BM_FilterEvaluation(benchmark::State& State) {
  Evaluate(State, kFilter, 0);
}

void BM_FilterEvaluationAllConjuncts(benchmark::State& State) {
  Evaluate(State, kAllConjuncts, -1);
}

void Count(benchmark::State& State, const char* Filter) {
  TBenchTable& B = Table();
  int64_t Read = 0;
  for (auto _ : State) {
    B.T->SetFiltered(false);
    B.T->SetFilter(Filter);
    B.T->SetFiltered(true);
    benchmark::DoNotOptimize(B.T->RecordCount());
    Read += kRecords;
  }
  B.T->SetFiltered(false);
  State.counters["records/s"] =
      benchmark::Counter(static_cast<double>(Read), benchmark::Counter::kIsRate);
}

void BM_FilterThroughTable(benchmark::State& State) {
  Count(State, kAllConjuncts);
}
// The peer: every record read, the filter a constant.
void BM_CountThroughTable(benchmark::State& State) {
  Count(State, "TRUE");
}

BENCHMARK(BM_FilterEvaluation)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FilterEvaluationAllConjuncts)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FilterThroughTable)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CountThroughTable)->Unit(benchmark::kMillisecond);

}  // namespace
