// B+tree throughput over an in-memory page manager: inserts (sequential and random keys),
// point lookups and deletes per second, for page-number keys and for record keys with a
// truncated string column.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <map>
#include <random>
#include <set>
#include <vector>

#include "engine/core/VLTBTree.h"
#include "engine/core/VLTFieldDef.h"
#include "engine/core/VLTIndexDef.h"
#include "engine/core/VLTTableData.h"

namespace vlt {
namespace {

constexpr TVLTSessionID kS = 0;

// Pages in a map; nothing is ever read back from "storage" because the session's changed pages
// stay in memory until the benchmark ends.
class TBenchPageManager : public TVLTPageManager {
 public:
  explicit TBenchPageManager(uint16_t PageSize) { SetPageSize(PageSize, kPageHeaderSize); }

 protected:
  void InternalAddPage(TVLTPage* Page) override {
    Page->SetPageNo(FNext++);
    Page->AllocPageBuffer();
  }
  void InternalRemovePage(TVLTPageNo) override {}
  bool InternalReadPage(TVLTPage* Page) override {
    auto It = FStored.find(Page->PageNo());
    if (It == FStored.end()) return false;
    if (!Page->PageBuffer()) Page->AllocPageBuffer();
    std::memcpy(Page->PageBuffer(), It->second.data(), PageSize());
    return true;
  }
  void InternalWritePage(TVLTPage* Page) override {
    FStored[Page->PageNo()].assign(Page->PageBuffer(), Page->PageBuffer() + PageSize());
  }

 private:
  TVLTPageNo FNext = 0;
  std::map<TVLTPageNo, std::vector<uint8_t>> FStored;
};

std::vector<int32_t> Keys(int64_t N, bool Random) {
  std::vector<int32_t> K(static_cast<size_t>(N));
  for (int64_t I = 0; I < N; ++I) K[static_cast<size_t>(I)] = static_cast<int32_t>(I);
  if (Random) std::shuffle(K.begin(), K.end(), std::mt19937(7));
  return K;
}

void PageKeyInsert(benchmark::State& State, bool Random) {
  const auto K = Keys(State.range(0), Random);
  for (auto _ : State) {
    TBenchPageManager PM(4096);
    TVLTPageKeyRef Ref;
    TVLTBTree T(&PM, &Ref);
    T.CreateRoot(kS);
    uint8_t Key[4], R[2] = {1, 0};
    for (int32_t V : K) {
      StoreLE(Key, V);
      T.Insert(kS, Key, R);
    }
    State.PauseTiming();
    PM.ApplyChanges(kS);
    State.ResumeTiming();
  }
  State.SetItemsProcessed(State.iterations() * State.range(0));
}

void BM_InsertSequential(benchmark::State& State) { PageKeyInsert(State, false); }
void BM_InsertRandom(benchmark::State& State) { PageKeyInsert(State, true); }
BENCHMARK(BM_InsertSequential)->Arg(10000)->Arg(100000);
BENCHMARK(BM_InsertRandom)->Arg(10000)->Arg(100000);

void BM_LookupRandom(benchmark::State& State) {
  const auto K = Keys(State.range(0), true);
  TBenchPageManager PM(4096);
  TVLTPageKeyRef Ref;
  TVLTBTree T(&PM, &Ref);
  T.CreateRoot(kS);
  uint8_t Key[4], R[2] = {1, 0};
  for (int32_t V : K) {
    StoreLE(Key, V);
    T.Insert(kS, Key, R);
  }
  size_t I = 0;
  TVLTKeyPath P;
  for (auto _ : State) {
    StoreLE(Key, K[I++ % K.size()]);
    benchmark::DoNotOptimize(T.FindByCondition(kS, true, scEqual, Key, P));
  }
  State.SetItemsProcessed(State.iterations());
  PM.ApplyChanges(kS);
}
BENCHMARK(BM_LookupRandom)->Arg(100000);

void BM_InsertDeleteRandom(benchmark::State& State) {
  const auto K = Keys(State.range(0), true);
  for (auto _ : State) {
    TBenchPageManager PM(4096);
    TVLTPageKeyRef Ref;
    TVLTBTree T(&PM, &Ref);
    T.CreateRoot(kS);
    uint8_t Key[4], R[2] = {1, 0};
    for (int32_t V : K) {
      StoreLE(Key, V);
      T.Insert(kS, Key, R);
    }
    for (int32_t V : K) {
      StoreLE(Key, V);
      T.Delete(kS, Key, R);
    }
    State.PauseTiming();
    PM.ApplyChanges(kS);
    State.ResumeTiming();
  }
  State.SetItemsProcessed(State.iterations() * State.range(0) * 2);
}
BENCHMARK(BM_InsertDeleteRandom)->Arg(20000);

// Record keys: an integer and a varchar(40) stored as a 20-character prefix.
void BM_RecordKeyInsertRandom(benchmark::State& State) {
  TVLTFieldDefs Fields;
  auto& A = Fields.AddNew();
  A.SetName("Id");
  A.SetFieldDefDataType(aftInteger, 0);
  auto& B = Fields.AddNew();
  B.SetName("Name");
  B.SetFieldDefDataType(aftString, 40);
  Fields.RecalcFieldOffsets();
  TVLTIndexDef Def;
  Def.AssignByNames({"Name", "Id"}, {"ASC", "ASC"}, {"CASE", "CASE"});
  const auto K = Keys(State.range(0), true);
  std::vector<uint8_t> Rec(static_cast<size_t>(Fields.GetMemoryRecordBufferSize()), 0);
  for (auto _ : State) {
    TBenchPageManager PM(4096);
    TVLTRecordKeyRef Ref;
    Ref.Assign(Def, &Fields);
    TVLTBTree T(&PM, &Ref);
    T.CreateRoot(kS);
    std::vector<uint8_t> Key(Ref.FShortKeySize);
    uint8_t R[6];
    for (int32_t V : K) {
      Rec[0] = 0;
      StoreLE(Rec.data() + Fields[0].FMemoryOffset, V);
      std::string S = "customer " + std::to_string(V * 7919 % 100003);
      std::memcpy(Rec.data() + Fields[1].FMemoryOffset, S.c_str(), S.size() + 1);
      Ref.MakeShortKeyFromRecordBuffer(Rec.data(), Key.data());
      TVLTPageItemID{V, 0}.SaveTo(R);
      T.Insert(kS, Key.data(), R);
    }
    State.PauseTiming();
    PM.ApplyChanges(kS);
    State.ResumeTiming();
  }
  State.SetItemsProcessed(State.iterations() * State.range(0));
}
BENCHMARK(BM_RecordKeyInsertRandom)->Arg(20000);

}  // namespace
}  // namespace vlt
