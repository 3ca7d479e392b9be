// Appending rows to a table: through the table component (Append, typed field assignment,
// Post) against the same rows written into the table data directly (record buffer and
// InsertRecord). The difference is the cost of the component layers above the table data.
// Each iteration appends Rows rows to a new, empty table of a new database; "rows/s" is the rate.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "engine/components/VLTDatabase.h"
#include "engine/components/VLTEngineRegistry.h"
#include "engine/components/VLTTable.h"
#include "engine/core/VLTTableCursor.h"
#include "engine/disk/VLTDiskDatabaseData.h"
#include "engine/disk/VLTDiskTableData.h"

namespace {

using namespace vlt;

constexpr int32_t kPageSize = 4096;

struct TScratchDir {
  TScratchDir() {
    char Tmpl[] = "/tmp/vlt_append_bench_XXXXXX";
    Dir = ::mkdtemp(Tmpl);
  }
  ~TScratchDir() {
    std::error_code Ec;
    std::filesystem::remove_all(Dir, Ec);
  }
  std::string Dir;
};

std::string NameOf(int32_t Row) { return "Name " + std::to_string(Row); }

// ID (integer, primary), NAME (string 20), AMOUNT (double), DAY (date), FLAG (boolean).
void BM_AppendThroughTableComponent(benchmark::State& State) {
  VLTStartEngine();
  const int32_t Rows = static_cast<int32_t>(State.range(0));
  TScratchDir Scratch;
  int Run = 0;
  for (auto _ : State) {
    State.PauseTiming();
    auto Db = std::make_unique<TVLTDatabase>();
    Db->SetDatabaseName("Bench");
    Db->SetDatabaseFileName(Scratch.Dir + "/c" + std::to_string(Run++) + ".vlt");
    Db->FPageSize = kPageSize;
    Db->FSilentMode = true;
    Db->FMaxConnections = 4;
    // Arg 1: 0 commits without syncs, 1 syncs journal and file at every commit (the default).
    Db->FDurability = State.range(1) ? dsNormal : dsOff;
    Db->CreateDatabase();
    Db->Open();
    auto T = std::make_unique<TVLTTable>();
    T->SetDatabaseName("Bench");
    T->SetTableName("People");
    T->AddField(std::make_unique<TVLTIntegerField>("ID"));
    T->AddField(std::make_unique<TVLTStringField>("NAME", 20));
    T->AddField(std::make_unique<TVLTFloatField>("AMOUNT"));
    T->AddField(std::make_unique<TVLTDateField>("DAY"));
    T->AddField(std::make_unique<TVLTBooleanField>("FLAG"));
    T->IndexDefs.push_back({"PK", "ID", "", "", ixPrimary | ixUnique});
    T->CreateTable();
    T->Open();
    TVLTField& Id = T->FieldByName("ID");
    TVLTField& Name = T->FieldByName("NAME");
    TVLTField& Amount = T->FieldByName("AMOUNT");
    TVLTField& Day = T->FieldByName("DAY");
    TVLTField& Flag = T->FieldByName("FLAG");
    State.ResumeTiming();

    for (int32_t Row = 0; Row < Rows; ++Row) {
      T->Append();
      Id.SetAsInteger(Row);
      Name.SetAsString(NameOf(Row));
      Amount.SetAsFloat(Row / 4.0);
      Day.SetAsDateTime(36526 + Row % 5000);
      Flag.SetAsBoolean(Row % 2 == 0);
      T->Post();
    }

    State.PauseTiming();
    T.reset();
    Db->Close();
    Db.reset();
    State.ResumeTiming();
  }
  State.counters["rows/s"] = benchmark::Counter(static_cast<double>(State.iterations()) * Rows,
                                                benchmark::Counter::kIsRate);
}

void BM_AppendThroughTableData(benchmark::State& State) {
  const int32_t Rows = static_cast<int32_t>(State.range(0));
  TScratchDir Scratch;
  int Run = 0;
  for (auto _ : State) {
    State.PauseTiming();
    const std::string Path = Scratch.Dir + "/d" + std::to_string(Run++) + ".vlt";
    auto Db = std::make_unique<TVLTDiskDatabaseData>(Path, "Default");
    Db->SetPageSize(kPageSize);
    Db->SetMaxSessionCount(4);
    Db->CreateDatabase();
    Db.reset();
    Db = std::make_unique<TVLTDiskDatabaseData>(Path, "Default");
    Db->SetPageSize(kPageSize);
    Db->SetMaxSessionCount(4);
    TVLTDatabaseSession DS;
    Db->ConnectSession(DS);
    TVLTSessionData Session;
    Session.SessionID = DS.SessionID;
    Session.MultiUser = DS.MultiUser;
    auto Link = std::make_unique<TVLTDiskBackedDatabaseData>(Db.get());

    TVLTFieldDefs Fields;
    auto Add = [&](const char* FieldName, TVLTAdvancedFieldType Type, int32_t Size = 0) {
      TVLTFieldDef& F = Fields.AddNew();
      F.SetName(FieldName);
      F.SetFieldDefDataType(Type, Size);
    };
    Add("ID", aftInteger);
    Add("NAME", aftString, 20);
    Add("AMOUNT", aftDouble);
    Add("DAY", aftDate);
    Add("FLAG", aftBoolean);
    TVLTIndexDefs Indexes;
    {
      TVLTIndexDef D;
      D.SetName("PK");
      D.AssignByNames({"ID"}, {"ASC"}, {"CASE"});
      D.FUnique = D.FPrimary = true;
      Indexes.AddNew().Assign(D);
    }
    {
      TVLTTableCursor C;
      C.FSession = &Session;
      C.FTableName = "People";
      TVLTDiskTableData Creator(Link.get(), Db.get(), "People");
      Creator.CreateTable(C, Fields, TVLTConstraintDefs(), Indexes);
    }
    auto Table = std::make_unique<TVLTDiskTableData>(Link.get(), Db.get(), "People");
    TVLTTableCursor Cursor;
    Cursor.FSession = &Session;
    Cursor.FTableName = "People";
    Table->OpenTable(Cursor);
    TVLTBaseFieldManager& FM = *Table->FieldManager();
    const auto Size = static_cast<size_t>(FM.GetMemoryRecordBufferSize());
    std::vector<uint8_t> Buffer(Size), Edit(Size);
    Cursor.FCurrentRecordBuffer = Buffer.data();
    Cursor.FEditRecordBuffer = Edit.data();
    std::vector<char> Text(static_cast<size_t>(FM.FieldDefs()[1].FMemoryDataSize));
    State.ResumeTiming();

    for (int32_t Row = 0; Row < Rows; ++Row) {
      FM.InitRecordBuffer(Buffer.data());
      FM.SetFieldData(0, &Row, Buffer.data());
      const std::string Name = NameOf(Row);
      std::fill(Text.begin(), Text.end(), 0);
      std::memcpy(Text.data(), Name.data(), std::min(Name.size(), Text.size() - 1));
      FM.SetFieldData(1, Text.data(), Buffer.data());
      double Amount = Row / 4.0;
      FM.SetFieldData(2, &Amount, Buffer.data());
      int32_t Day = 730120 + Row % 5000;
      FM.SetFieldData(3, &Day, Buffer.data());
      uint16_t Flag = Row % 2 == 0;
      FM.SetFieldData(4, &Flag, Buffer.data());
      if (!Table->InsertRecord(Cursor)) State.SkipWithError("InsertRecord failed");
    }

    State.PauseTiming();
    Table->CloseTable(Cursor);
    Table.reset();
    Link.reset();
    Db->DisconnectSession(DS);
    Db.reset();
    State.ResumeTiming();
  }
  State.counters["rows/s"] = benchmark::Counter(static_cast<double>(State.iterations()) * Rows,
                                                benchmark::Counter::kIsRate);
}

BENCHMARK(BM_AppendThroughTableComponent)
    ->Args({2000, 0})
    ->Args({2000, 1})
    ->ArgNames({"rows", "synced"})
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_AppendThroughTableData)->Arg(2000)->Unit(benchmark::kMillisecond);

}  // namespace
