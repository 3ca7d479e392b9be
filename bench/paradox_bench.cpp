// Paradox tables at the size of a large contributions year: 200,000 gifts keyed on all six
// fields. Measures a sequential read through a table object, rebuilding the primary index (what
// the table preparation does for every table) and a filtered count as the renumbering uses it.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>

#include "app/paradox/ParadoxTable.h"

namespace {

using namespace vlt::app;

const std::string& TableDir() {
  static const std::string Dir = [] {
    std::string D = std::filesystem::temp_directory_path().string() + "/vlt-paradox-bench";
    std::filesystem::remove_all(D);
    std::filesystem::create_directories(D);
    TParadoxTable T;
    T.SetDatabaseName(D);
    T.SetTableName("contfile.db");
    T.FieldDefs() = {{"CDate", ftDate, 0, false},   {"Num", ftInteger, 0, false},     {"Service", ftInteger, 0, false},
                     {"Fund", ftInteger, 0, false}, {"Amount", ftCurrency, 0, false}, {"EntryNum", ftInteger, 0, false}};
    T.IndexDefs() = {{"", "CDate;Num;Service;Fund;Amount;EntryNum", ixPrimary | ixUnique}};
    T.CreateTable();
    T.Open();
    std::mt19937 Rng(1);
    for (int I = 0; I < 200000; ++I) {
      T.Append();
      T.Fields(0).SetAsDate({2012, 1 + static_cast<int>(Rng() % 12), 1 + static_cast<int>(Rng() % 28)});
      T.Fields(1).SetAsInteger(static_cast<int>(Rng() % 5000));
      T.Fields(2).SetAsInteger(static_cast<int>(Rng() % 8));
      T.Fields(3).SetAsInteger(static_cast<int>(Rng() % 6));
      T.Fields(4).SetAsCurrency((Rng() % 50000) / 100.0);
      T.Fields(5).SetAsInteger(I);
      T.Post();
    }
    T.Close();
    return D;
  }();
  return Dir;
}

void BM_SequentialRead(benchmark::State& State) {
  const std::string& Dir = TableDir();
  for (auto _ : State) {
    TParadoxTable T;
    T.SetDatabaseName(Dir);
    T.SetTableName("contfile.db");
    T.Open();
    double Sum = 0;
    for (T.First(); !T.Eof(); T.Next()) Sum += T.Fields(4).AsCurrency() + T.Fields(1).AsInteger();
    benchmark::DoNotOptimize(Sum);
  }
  State.SetItemsProcessed(State.iterations() * 200000);
}
BENCHMARK(BM_SequentialRead)->Unit(benchmark::kMillisecond);

void BM_Reindex(benchmark::State& State) {
  const std::string& Dir = TableDir();
  for (auto _ : State) {
    std::filesystem::remove(Dir + "/contfile.px");
    TParadoxTable T;
    T.SetDatabaseName(Dir);
    T.SetTableName("contfile.db");
    T.AddIndex("", "CDate;Num;Service;Fund;Amount;EntryNum", ixPrimary | ixUnique);
  }
}
BENCHMARK(BM_Reindex)->Unit(benchmark::kMillisecond);

void BM_FilteredCount(benchmark::State& State) {
  const std::string& Dir = TableDir();
  TParadoxTable T;
  T.SetDatabaseName(Dir);
  T.SetTableName("contfile.db");
  T.Open();
  int Service = 0;
  for (auto _ : State) {
    T.SetFilter("Service=" + std::to_string(Service++ % 8));
    T.SetFiltered(true);
    benchmark::DoNotOptimize(T.RecordCount());
    T.SetFiltered(false);
  }
}
BENCHMARK(BM_FilteredCount)->Unit(benchmark::kMillisecond);

}  // namespace
