// Tables we write ourselves: create, fill, read back, edit keys, filters, bookmarks, indexes;
// encrypted tables, sort orders and dumps of binary values.
#include "app/paradox/ParadoxTable.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <random>
#include <set>
#include <sstream>
#include <tuple>

#include "app/paradox/ParadoxDump.h"
#include "app/paradox/ParadoxError.h"
#include "app/paradox/ParadoxFile.h"
#include "app/paradox/ParadoxIndexFile.h"
#include "engine/base/VLTTypes.h"
#include "tests/app/TestDirs.h"

namespace {

using namespace vlt::app;
using vlt::test::TTempDir;

// A services-like table: Pos, Name, Num keyed on all three, plus a flag.
void CreateServs(const std::string& Dir, const std::string& Name = "servs.db", bool Keyed = true) {
  TParadoxTable T;
  T.SetDatabaseName(Dir);
  T.SetTableName(Name);
  T.SetTableType(ttParadox);
  T.FieldDefs() = {{"Pos", ftInteger, 0, false},
                   {"Name", ftString, 50, false},
                   {"Num", ftInteger, 0, false},
                   {"Flag", ftBoolean, 0, false}};
  if (Keyed) T.IndexDefs() = {{"", "Pos;Name;Num", ixPrimary | ixUnique}};
  T.CreateTable();
}

void AddServ(TParadoxTable& T, int Pos, const std::string& Name, int Num) {
  T.Append();
  T.FieldByName("Pos").SetAsInteger(Pos);
  T.FieldByName("Name").SetAsString(Name);
  T.FieldByName("Num").SetAsInteger(Num);
  T.FieldByName("Flag").SetAsBoolean(Num % 2 == 0);
  T.Post();
}

std::vector<int> Column(TParadoxTable& T, const char* Field) {
  std::vector<int> V;
  for (T.First(); !T.Eof(); T.Next()) V.push_back(T.FieldByName(Field).AsInteger());
  return V;
}

TEST(ParadoxTable, CreateFillReopenInKeyOrder) {
  TTempDir Dir;
  CreateServs(Dir.Path());
  {
    TParadoxTable T;
    T.SetDatabaseName(Dir.Path());
    T.SetTableName("servs.db");
    T.Open();
    EXPECT_EQ(T.RecordCount(), 0);
    EXPECT_TRUE(T.Eof());
    AddServ(T, 2, "Evening", 1);
    AddServ(T, 0, "Morning", 1);
    AddServ(T, 1, "O'Brien Memorial", 7);
    EXPECT_EQ(Column(T, "Pos"), (std::vector<int>{0, 1, 2}));
  }
  // The file (and its .px) now hold the records; another reader sees them in key order.
  TParadoxFileImage Img = ReadParadoxFile(Dir / "servs.db");
  EXPECT_EQ(Img.Header.KeyFields, 3);
  ASSERT_EQ(Img.Records.size(), 3u);
  std::vector<TParadoxFieldDesc> Keys(Img.Header.Fields.begin(), Img.Header.Fields.begin() + 3);
  TParadoxIndexImage Ix = ReadParadoxIndex(Dir / "servs.px", Keys);
  ASSERT_EQ(Ix.Leaves.size(), 1u);
  EXPECT_EQ(Ix.Leaves[0].Count, 3);
  EXPECT_EQ(Ix.Leaves[0].Block, 1);

  TParadoxTable T;
  T.SetDatabaseName(Dir.Path());
  T.SetTableName("SERVS.DB");
  T.Open();
  T.First();
  EXPECT_EQ(T.FieldByName("name").AsString(), "Morning");
  EXPECT_FALSE(T.FieldByName("Flag").AsBoolean());
  T.Next();
  EXPECT_EQ(T.FieldByName("NAME").AsString(), "O'Brien Memorial");
  EXPECT_EQ(T.FieldByName("Num").AsVariant(), TParadoxValue::Integer(7));
}

TEST(ParadoxTable, DuplicateKeyIsRejectedAndRecordStaysInEdit) {
  TTempDir Dir;
  CreateServs(Dir.Path());
  TParadoxTable T;
  T.SetDatabaseName(Dir.Path());
  T.SetTableName("servs.db");
  T.Open();
  AddServ(T, 0, "A", 1);
  EXPECT_THROW(AddServ(T, 0, "A", 1), EParadoxError);
  EXPECT_EQ(T.State(), dsInsert);
  T.Cancel();
  EXPECT_EQ(T.RecordCount(), 1);
}

TEST(ParadoxTable, EditedKeyMovesRecordAndFilterCountDrops) {
  TTempDir Dir;
  CreateServs(Dir.Path());
  TParadoxTable T;
  T.SetDatabaseName(Dir.Path());
  T.SetTableName("servs.db");
  T.Open();
  for (int I = 0; I < 10; ++I) AddServ(T, I, "S" + std::to_string(I), I < 5 ? 1 : 2);
  T.SetFilter("Num=1");
  T.SetFiltered(true);
  EXPECT_EQ(T.RecordCount(), 5);
  // Renumber every record of the filter: each post moves the record out of it.
  int Posts = 0;
  while (T.RecordCount() > 0) {
    T.First();
    T.Edit();
    T.FieldByName("Num").SetAsInteger(50);
    T.FieldByName("Pos").SetAsInteger(100 + Posts);
    T.Post();
    ++Posts;
    ASSERT_LE(Posts, 5);
  }
  EXPECT_EQ(Posts, 5);
  T.SetFiltered(false);
  EXPECT_EQ(T.RecordCount(), 10);
  // Key order after the key edits: Pos 5..9, then 100..104.
  EXPECT_EQ(Column(T, "Pos"), (std::vector<int>{5, 6, 7, 8, 9, 100, 101, 102, 103, 104}));
  T.SetFilter("Num>49 and Num<51");
  T.SetFiltered(true);
  EXPECT_EQ(T.RecordCount(), 5);
}

TEST(ParadoxTable, FiltersOfTheConversions) {
  TTempDir Dir;
  CreateServs(Dir.Path());
  TParadoxTable T;
  T.SetDatabaseName(Dir.Path());
  T.SetTableName("servs.db");
  T.Open();
  AddServ(T, 0, "Morning", 1);
  AddServ(T, 1, "Evening", 1);
  AddServ(T, 2, "O'Brien", 3);
  AddServ(T, 3, "", 4);
  struct {
    const char* Filter;
    int Count;
  } Cases[] = {
      {"Num=1", 2},
      {"Num=2", 0},
      {"Num>0 and Num<4", 3},
      {"Num=1 and Name='Evening'", 1},
      {"Num=1 and Name='evening'", 0},  // exact comparison
      {"Num=3 and Name='O''Brien'", 1},
      {"Num=4 and Name=''", 1},  // an empty string equals an empty field
      {"  num = 1 ", 2},
      {"", 4},
  };
  for (const auto& C : Cases) {
    T.SetFilter(C.Filter);
    T.SetFiltered(true);
    EXPECT_EQ(T.RecordCount(), C.Count) << C.Filter;
    int Seen = 0;
    for (T.First(); !T.Eof(); T.Next()) ++Seen;
    EXPECT_EQ(Seen, C.Count) << C.Filter;
    T.SetFiltered(false);
  }
  for (const char* Bad : {"Num", "Num=", "Num=1 or Num=2", "Nope=1", "Name=5", "Num='x'",
                          "Num=1 and", "Name='open"}) {
    T.SetFilter(Bad);
    EXPECT_THROW(T.SetFiltered(true), EParadoxError) << Bad;
    EXPECT_FALSE(T.Filtered());
  }
}

TEST(ParadoxTable, SecondCursorSeesChangesAndBookmarks) {
  TTempDir Dir;
  CreateServs(Dir.Path());
  TParadoxTable A, B;
  for (TParadoxTable* T : {&A, &B}) {
    T->SetDatabaseName(Dir.Path());
    T->SetTableName("servs.db");
    T->Open();
  }
  for (int I = 0; I < 5; ++I) AddServ(A, I, "N", 10 + I);
  EXPECT_EQ(B.RecordCount(), 5);
  B.First();
  B.Next();  // Pos 1
  TParadoxBookmark Mark = B.GetBookmark();
  // Another cursor changes Num of that record; B's bookmark still leads to it.
  A.SetFilter("Num=11");
  A.SetFiltered(true);
  ASSERT_EQ(A.RecordCount(), 1);
  A.Edit();
  A.FieldByName("Num").SetAsInteger(99);
  A.Post();
  EXPECT_EQ(A.RecordCount(), 0);
  EXPECT_TRUE(B.BookmarkValid(Mark));
  B.Last();
  B.GotoBookmark(Mark);
  EXPECT_EQ(B.FieldByName("Num").AsInteger(), 99);
  B.Delete();
  EXPECT_FALSE(B.BookmarkValid(Mark));
  EXPECT_THROW(B.GotoBookmark(Mark), EParadoxError);
  EXPECT_EQ(B.FieldByName("Pos").AsInteger(), 2);  // moved on to the next record
  A.SetFiltered(false);
  EXPECT_EQ(A.RecordCount(), 4);
}

TEST(ParadoxTable, IndexFieldNamesOrder) {
  TTempDir Dir;
  CreateServs(Dir.Path(), "t.db", false);
  TParadoxTable T;
  T.SetDatabaseName(Dir.Path());
  T.SetTableName("t.db");
  T.Open();
  AddServ(T, 3, "c", 2);
  AddServ(T, 1, "a", 3);
  AddServ(T, 2, "b", 1);
  EXPECT_EQ(Column(T, "Pos"), (std::vector<int>{3, 1, 2}));  // physical order
  T.Close();
  T.SetIndexFieldNames("Num;Pos");
  T.Open();
  EXPECT_EQ(Column(T, "Pos"), (std::vector<int>{2, 3, 1}));
  EXPECT_THROW(T.SetIndexFieldNames("Nope"), EParadoxError);
  EXPECT_EQ(T.IndexFieldNames(), "Num;Pos");
}

TEST(ParadoxTable, AddIndexOrdersAndRejectsDuplicates) {
  TTempDir Dir;
  CreateServs(Dir.Path(), "t.db", false);
  {
    TParadoxTable T;
    T.SetDatabaseName(Dir.Path());
    T.SetTableName("t.db");
    T.Open();
    AddServ(T, 3, "c", 2);
    AddServ(T, 1, "a", 3);
    AddServ(T, 1, "a", 3);
  }
  TParadoxTable T;
  T.SetDatabaseName(Dir.Path());
  T.SetTableName("t.db");
  EXPECT_THROW(T.AddIndex("", "Pos;Name;Num", ixPrimary | ixUnique), EParadoxError);
  EXPECT_FALSE(vlt::app::PathIsFile(Dir / "t.px"));
  T.Open();
  EXPECT_EQ(T.RecordCount(), 3);  // nothing lost
  T.First();
  T.Delete();  // the first physical record (3, c, 2)
  T.Close();
  EXPECT_THROW(T.AddIndex("", "Name", ixPrimary | ixUnique), EParadoxError);  // not a leading field
  EXPECT_THROW(T.AddIndex("", "Pos;Name;Num", ixPrimary | ixUnique),
               EParadoxError);  // still duplicates
  T.Open();
  T.Last();
  T.Edit();
  T.FieldByName("Pos").SetAsInteger(0);
  T.Post();
  T.Close();
  T.AddIndex("", "Pos;Name;Num", ixPrimary | ixUnique);
  EXPECT_TRUE(vlt::app::PathIsFile(Dir / "t.px"));
  T.UpdateIndexDefs();
  ASSERT_EQ(T.IndexDefs().size(), 1u);
  EXPECT_EQ(T.IndexDefs()[0].Fields, "Pos;Name;Num");
  T.Open();
  EXPECT_EQ(Column(T, "Pos"), (std::vector<int>{0, 1}));
}

TEST(ParadoxTable, ManyRecordsRoundTripWithMultiLevelIndex) {
  TTempDir Dir;
  {
    TParadoxTable T;
    T.SetDatabaseName(Dir.Path());
    T.SetTableName("contfile.db");
    T.FieldDefs() = {{"CDate", ftDate, 0, false},      {"Num", ftInteger, 0, false},
                     {"Service", ftInteger, 0, false}, {"Fund", ftInteger, 0, false},
                     {"Amount", ftCurrency, 0, false}, {"EntryNum", ftInteger, 0, false}};
    T.IndexDefs() = {{"", "CDate;Num;Service;Fund;Amount;EntryNum", ixPrimary | ixUnique}};
    T.CreateTable();
    T.Open();
    std::mt19937 Rng(7);
    for (int I = 0; I < 8000; ++I) {
      T.Append();
      T.Fields(0).SetAsDate(
          {2012, 1 + static_cast<int>(Rng() % 12), 1 + static_cast<int>(Rng() % 28)});
      T.Fields(1).SetAsInteger(I);
      T.Fields(2).SetAsInteger(static_cast<int>(Rng() % 5));
      T.Fields(3).SetAsInteger(static_cast<int>(Rng() % 3));
      T.Fields(4).SetAsCurrency((Rng() % 100000) / 100.0 - 100);
      T.Fields(5).SetAsInteger(static_cast<int>(Rng()));
      T.Post();
    }
  }
  TParadoxFileImage Img = ReadParadoxFile(Dir / "contfile.db");
  ASSERT_EQ(Img.Records.size(), 8000u);
  std::vector<TParadoxFieldDesc> Keys(Img.Header.Fields.begin(), Img.Header.Fields.end());
  TParadoxIndexImage Ix = ReadParadoxIndex(Dir / "contfile.px", Keys);
  EXPECT_EQ(Ix.Levels, 2);
  int Covered = 0, Block = 0;
  for (const TParadoxIndexEntry& E : Ix.Leaves) {
    EXPECT_EQ(E.Block, ++Block);
    Covered += E.Count;
  }
  EXPECT_EQ(Covered, 8000);
  for (size_t I = 1; I < Img.Records.size(); ++I) ASSERT_LT(Img.Records[I - 1], Img.Records[I]);
  // Negative money survives the round trip.
  TParadoxTable T;
  T.SetDatabaseName(Dir.Path());
  T.SetTableName("contfile.db");
  T.SetFilter("Num=3");
  T.SetFiltered(true);
  T.Open();
  ASSERT_EQ(T.RecordCount(), 1);
  double A = T.FieldByName("Amount").AsCurrency();
  EXPECT_GE(A, -100.0);
  EXPECT_LT(A, 900.0);
}

TEST(ParadoxTable, ErrorsNameTheProblem) {
  TTempDir Dir;
  TParadoxTable T;
  T.SetDatabaseName(Dir.Path());
  T.SetTableName("missing.db");
  try {
    T.Open();
    FAIL();
  } catch (const EParadoxError& E) {
    EXPECT_NE(std::string(E.what()).find("missing.db"), std::string::npos);
  }
  CreateServs(Dir.Path());
  T.SetTableName("servs.db");
  T.Open();
  EXPECT_THROW(T.FieldByName("Nope"), EParadoxError);
  EXPECT_EQ(T.FindField("Nope"), nullptr);
  EXPECT_THROW(T.FieldByName("Num").SetAsInteger(1), EParadoxError);  // not editing
  EXPECT_THROW(T.Edit(), EParadoxError);                              // empty table
  T.Append();
  EXPECT_THROW(T.FieldByName("Num").SetAsString("abc"), EParadoxError);
  T.Cancel();
}

const std::string kSamples = VLT_SOURCE_DIR "/../shared/paradox-samples";

// Copies a sample table family into Dir.
void CopySample(const std::string& Dir, const std::string& Sub,
                std::initializer_list<const char*> Files) {
  for (const char* F : Files)
    std::filesystem::copy_file(kSamples + "/" + Sub + "/" + F, Dir + "/" + F);
}

TEST(ParadoxTable, EditingARealKeyedTableKeepsItValid) {
  if (!std::filesystem::exists(kSamples)) GTEST_SKIP();
  TTempDir Dir;
  CopySample(Dir.Path(), "paradoxdriver/db", {"AREACODE.DB", "AREACODE.PX"});
  std::ostringstream Before;
  WriteParadoxCsv(Dir / "AREACODE.DB", Before);
  {
    TParadoxTable T;
    T.SetDatabaseName(Dir.Path());
    T.SetTableName("areacode.db");
    T.Open();
    T.First();
    EXPECT_EQ(T.Fields(0).AsString(), "201");
    T.Edit();
    T.Fields(0).SetAsString("999");
    T.Post();
    T.Last();
    EXPECT_EQ(T.Fields(0).AsString(), "999");
    EXPECT_EQ(T.Fields(2).AsString(), "New Jersey");
  }
  // Same rows, the edited one moved to the end; the .px covers every record, block by block.
  std::ostringstream After;
  WriteParadoxCsv(Dir / "AREACODE.DB", After);
  std::string B = Before.str(), A = After.str();
  std::string Row = "201,United States,New Jersey,NJ\n";
  ASSERT_NE(B.find(Row), std::string::npos);
  B.erase(B.find(Row), Row.size());
  EXPECT_EQ(B + "999,United States,New Jersey,NJ\n", A);
  TParadoxFileImage Img = ReadParadoxFile(Dir / "AREACODE.DB");
  EXPECT_EQ(Img.Header.CodePage, 437);
  std::vector<TParadoxFieldDesc> Keys(Img.Header.Fields.begin(), Img.Header.Fields.begin() + 1);
  TParadoxIndexImage Ix = ReadParadoxIndex(Dir / "AREACODE.PX", Keys);
  size_t First = 0;
  for (const TParadoxIndexEntry& E : Ix.Leaves) {
    ASSERT_LT(First, Img.Records.size());
    EXPECT_EQ(E.Key, Img.Records[First].substr(0, 3));
    First += static_cast<size_t>(E.Count);
  }
  EXPECT_EQ(First, Img.Records.size());
}

TEST(ParadoxTable, AutoIncrementContinuesFromTheHeader) {
  if (!std::filesystem::exists(kSamples)) GTEST_SKIP();
  TTempDir Dir;
  CopySample(Dir.Path(), "paradoxdriver/fields", {"long.db", "long.px"});
  TParadoxTable T;
  T.SetDatabaseName(Dir.Path());
  T.SetTableName("long.db");
  T.Open();
  T.Append();
  T.FieldByName("LONG").SetAsInteger(40);
  T.Post();
  EXPECT_EQ(T.FieldByName("Id").AsInteger(), 4);
  T.Close();
  T.Open();
  EXPECT_EQ(T.RecordCount(), 4);
  EXPECT_EQ(T.Header().AutoInc, 4u);
}

TEST(ParadoxTable, TablesStaySharedAfterTheFileIsRewritten) {
  TTempDir Dir;
  CreateServs(Dir.Path(), "t.db", false);
  TParadoxTable A, B, C;
  A.SetDatabaseName(Dir.Path());
  A.SetTableName("t.db");
  A.Open();
  AddServ(A, 1, "x", 1);
  B.SetDatabaseName(Dir.Path());
  B.SetTableName("t.db");
  B.AddIndex("", "Pos", ixPrimary | ixUnique);  // writes a new file while A is open
  AddServ(A, 2, "y", 2);
  C.SetDatabaseName(Dir.Path());
  C.SetTableName("T.DB");
  C.Open();
  EXPECT_EQ(C.RecordCount(), 2);  // the same records, not a second copy from disk
  C.Close();
  A.Close();
  TParadoxFileImage Img = ReadParadoxFile(Dir / "t.db");
  EXPECT_EQ(Img.Records.size(), 2u);
  EXPECT_EQ(Img.Header.KeyFields, 1);
}

TEST(ParadoxTable, PriorLastAndEmptyTable) {
  TTempDir Dir;
  CreateServs(Dir.Path());
  TParadoxTable T;
  T.SetDatabaseName(Dir.Path());
  T.SetTableName("servs");
  T.Open();
  T.Last();
  EXPECT_TRUE(T.Eof());
  EXPECT_TRUE(T.Bof());
  EXPECT_TRUE(T.Fields(0).IsNull());
  EXPECT_EQ(T.GetBookmark(), 0u);
  for (int I = 0; I < 3; ++I) AddServ(T, I, "n", I);
  T.Last();
  EXPECT_EQ(T.Fields(0).AsInteger(), 2);
  T.Prior();
  EXPECT_EQ(T.Fields(0).AsInteger(), 1);
  T.Prior();
  T.Prior();
  EXPECT_TRUE(T.Bof());
  EXPECT_EQ(T.Fields(0).AsInteger(), 0);
  T.SetFilter("Num>0");
  T.SetFiltered(true);
  T.Last();
  T.Delete();  // the last visible record: the cursor falls back to the one before
  EXPECT_EQ(T.Fields(0).AsInteger(), 1);
  EXPECT_EQ(T.RecordCount(), 1);
}

TEST(ParadoxTable, OldVersionTablesAreRewrittenReadably) {
  if (!std::filesystem::exists(kSamples)) GTEST_SKIP();
  TTempDir Dir;
  CopySample(Dir.Path(), "paradoxReader/PCLDATA", {"PCL.DB"});
  CopySample(Dir.Path(), "paradoxdriver/areas", {"STATES.DB"});
  std::ostringstream PclBefore, StatesBefore;
  WriteParadoxCsv(Dir / "PCL.DB", PclBefore);
  WriteParadoxCsv(Dir / "STATES.DB", StatesBefore);
  for (const char* Name : {"PCL.DB", "STATES.DB"}) {
    TParadoxTable T;
    T.SetDatabaseName(Dir.Path());
    T.SetTableName(Name);
    T.Open();
    T.First();
    T.Edit();
    T.Fields(1).SetAsString(T.Fields(1).AsString());  // same value: the table is written anew
    T.Post();
  }
  std::ostringstream PclAfter, StatesAfter;
  WriteParadoxCsv(Dir / "PCL.DB", PclAfter);
  WriteParadoxCsv(Dir / "STATES.DB", StatesAfter);
  EXPECT_EQ(PclBefore.str(), PclAfter.str());
  EXPECT_EQ(StatesBefore.str(), StatesAfter.str());
  EXPECT_EQ(ReadParadoxFile(Dir / "PCL.DB").Header.Version, 0x0B);
  EXPECT_TRUE(PathIsFile(Dir / "STATES.PX"));  // a keyed table gets its primary index
}

TEST(ParadoxTable, ReadOnlyRefusesChanges) {
  TTempDir Dir;
  CreateServs(Dir.Path());
  TParadoxTable T;
  T.SetDatabaseName(Dir.Path());
  T.SetTableName("servs.db");
  T.SetReadOnly(true);
  T.Open();
  EXPECT_THROW(T.Append(), EParadoxError);
}

// Random operations through two cursors, checked against a plain model after every step.
TEST(ParadoxTable, RandomOperationsMatchAModel) {
  TTempDir Dir;
  CreateServs(Dir.Path());
  TParadoxTable A, B;
  for (TParadoxTable* T : {&A, &B}) {
    T->SetDatabaseName(Dir.Path());
    T->SetTableName("servs.db");
    T->Open();
  }
  using TKey = std::tuple<int, std::string, int>;
  std::set<TKey> Model;
  std::mt19937 Rng(5);
  auto KeyOf = [](TParadoxTable& T) {
    return TKey{T.Fields(0).AsInteger(), T.Fields(1).AsString(), T.Fields(2).AsInteger()};
  };
  int Filter = -1;
  for (int Step = 0; Step < 1500; ++Step) {
    TParadoxTable& T = Rng() % 2 ? A : B;
    TKey K{static_cast<int>(Rng() % 20), std::string(1, static_cast<char>('a' + Rng() % 3)),
           static_cast<int>(Rng() % 4)};
    switch (Rng() % 5) {
      case 0:
      case 1: {  // append
        bool Dup = Model.count(K) > 0;
        T.Append();
        T.Fields(0).SetAsInteger(std::get<0>(K));
        T.Fields(1).SetAsString(std::get<1>(K));
        T.Fields(2).SetAsInteger(std::get<2>(K));
        if (Dup) {
          EXPECT_THROW(T.Post(), EParadoxError);
          T.Cancel();
        } else {
          T.Post();
          Model.insert(K);
        }
        break;
      }
      case 2: {  // edit the current record's key
        if (T.Eof() && T.Bof()) break;
        if (T.RecordCount() == 0 || T.Fields(0).IsNull()) break;
        TKey Old = KeyOf(T);
        if (!Model.count(Old)) break;
        T.Edit();
        T.Fields(0).SetAsInteger(std::get<0>(K));
        T.Fields(2).SetAsInteger(std::get<2>(K));
        TKey New{std::get<0>(K), std::get<1>(Old), std::get<2>(K)};
        if (New != Old && Model.count(New)) {
          EXPECT_THROW(T.Post(), EParadoxError);
          T.Cancel();
        } else {
          T.Post();
          Model.erase(Old);
          Model.insert(New);
        }
        break;
      }
      case 3:  // delete the current record
        if (T.RecordCount() > 0 && !T.Fields(0).IsNull()) {
          TKey Old = KeyOf(T);
          T.Delete();
          Model.erase(Old);
        }
        break;
      case 4:  // move, or change A's filter
        if (&T == &A && Rng() % 3 == 0) {
          Filter = static_cast<int>(Rng() % 5) - 1;
          A.SetFilter(Filter < 0 ? "" : "Num=" + std::to_string(Filter));
          A.SetFiltered(Filter >= 0);
        } else if (Rng() % 2) {
          T.Next();
        } else {
          T.First();
        }
        break;
    }
    A.CheckInvariants();
    B.CheckInvariants();
    ASSERT_EQ(B.RecordCount(), static_cast<int>(Model.size())) << Step;
  }
  // Both cursors walk the model's order; A under its filter.
  std::vector<TKey> WantAll(Model.begin(), Model.end()), WantA, GotA, GotB;
  for (const TKey& K : WantAll)
    if (Filter < 0 || std::get<2>(K) == Filter) WantA.push_back(K);
  for (A.First(); !A.Eof(); A.Next()) GotA.push_back(KeyOf(A));
  for (B.First(); !B.Eof(); B.Next()) GotB.push_back(KeyOf(B));
  EXPECT_EQ(GotA, WantA);
  EXPECT_EQ(GotB, WantAll);
  A.Close();
  B.Close();
  EXPECT_EQ(ReadParadoxFile(Dir / "servs.db").Records.size(), Model.size());
}

}  // namespace

namespace {

// An empty table keyed on an alpha field: Name A20 (the key), Num I; code page 1252.
void WriteNamesTable(const std::string& Path, const std::string& SortOrder, uint32_t Key,
                     int KeyFields = 1) {
  TParadoxHeader H;
  H.CodePage = 1252;
  H.SortOrderName = SortOrder;
  H.Encryption = Key;
  H.KeyFields = KeyFields;
  H.Fields = {{"Name", pxfAlpha, 20, 0, 0}, {"Num", pxfLong, 4, 0, 0}};
  WriteParadoxFile(Path, H, {});
}

std::vector<std::string> NamesInOrder(TParadoxTable& T) {
  std::vector<std::string> V;
  for (T.First(); !T.Eof(); T.Next()) V.push_back(T.FieldByName("Name").AsString());
  return V;
}

// Whether Text occurs in the file's bytes.
bool FileHolds(const std::string& Path, const std::string& Text) {
  return vlt::test::ReadFile(Path).find(Text) != std::string::npos;
}

}  // namespace

TEST(ParadoxEncryption, RealTableStaysEncryptedThroughAnEdit) {
  if (!std::filesystem::exists(kSamples)) GTEST_SKIP();
  TTempDir Dir;
  CopySample(Dir.Path(), "paradoxdriver/encrypt", {"encrypted.db"});
  const std::string Db = Dir / "encrypted.db";
  {
    TParadoxTable T;
    T.SetDatabaseName(Dir.Path());
    T.SetTableName("encrypted.db");
    T.Open();
    T.First();
    T.Next();
    T.Edit();
    T.FieldByName("Text").SetAsString("Changed two");
    T.Post();
    T.Append();
    T.FieldByName("Text").SetAsString("Fifth value");
    T.Post();
  }
  const std::string Bytes = vlt::test::ReadFile(Db);
  EXPECT_EQ(vlt::LoadLE<uint32_t>(reinterpret_cast<const uint8_t*>(Bytes.data()) + 0x25),
            kPxEncryptionMoved);
  EXPECT_EQ(vlt::LoadLE<uint32_t>(reinterpret_cast<const uint8_t*>(Bytes.data()) + 0x5C),
            0x0A25E09Au);
  for (const char* Plain : {"Value 1", "Changed two", "Fifth value", "Last one"})
    EXPECT_FALSE(FileHolds(Db, Plain)) << Plain;
  std::ostringstream Csv;
  WriteParadoxCsv(Db, Csv);
  EXPECT_EQ(Csv.str(), "Id,Text\n1,Value 1\n2,Changed two\n3,Value 3\n4,Last one\n5,Fifth value\n");
}

TEST(ParadoxEncryption, KeyedTableAndItsIndexAreEncryptedWithTheSameKey) {
  TTempDir Dir;
  const uint32_t Key = 0x5A17C3E1u;
  WriteNamesTable(Dir / "names.db", "ascii", Key);
  const std::vector<std::string> Names = {"Miller", "Adams", "Zimmer", "Baker", "Young", "Cole"};
  {
    TParadoxTable T;
    T.SetDatabaseName(Dir.Path());
    T.SetTableName("names");
    T.Open();
    // Enough records for several data blocks and two index levels.
    for (int I = 0; I < 600; ++I) {
      T.Append();
      T.FieldByName("Name").SetAsString(Names[static_cast<size_t>(I) % Names.size()] +
                                        std::to_string(1000 + I));
      T.FieldByName("Num").SetAsInteger(I);
      T.Post();
    }
  }
  const std::string Px = Dir / "names.px";
  EXPECT_EQ(vlt::LoadLE<uint32_t>(reinterpret_cast<const uint8_t*>(vlt::test::ReadFile(Px).data()) +
                                  0x25),
            Key);
  EXPECT_FALSE(FileHolds(Dir / "names.db", "Miller"));
  EXPECT_FALSE(FileHolds(Px, "Adams"));
  TParadoxFileImage Img = ReadParadoxFile(Dir / "names.db");
  EXPECT_EQ(Img.Header.Encryption, Key);
  ASSERT_EQ(Img.Records.size(), 600u);
  TParadoxIndexImage Ix = ReadParadoxIndex(Px, {Img.Header.Fields[0]});
  EXPECT_GE(Ix.Levels, 1);
  size_t First = 0;
  for (const TParadoxIndexEntry& E : Ix.Leaves) {
    ASSERT_LT(First, Img.Records.size());
    EXPECT_EQ(E.Key, Img.Records[First].substr(0, 20));
    First += static_cast<size_t>(E.Count);
  }
  EXPECT_EQ(First, 600u);
  TParadoxTable T;
  T.SetDatabaseName(Dir.Path());
  T.SetTableName("names");
  T.Open();
  std::vector<std::string> Seen = NamesInOrder(T);
  ASSERT_EQ(Seen.size(), 600u);
  EXPECT_TRUE(std::is_sorted(Seen.begin(), Seen.end()));
  EXPECT_EQ(Seen.front(), "Adams1001");
}

TEST(ParadoxEncryption, DamagedEncryptedBlocksAreErrors) {
  TTempDir Dir;
  WriteNamesTable(Dir / "names.db", "ascii", 0x01020304u, 0);
  {
    TParadoxTable T;
    T.SetDatabaseName(Dir.Path());
    T.SetTableName("names");
    T.Open();
    for (int I = 0; I < 100; ++I) {
      T.Append();
      T.FieldByName("Name").SetAsString("n" + std::to_string(I));
      T.Post();
    }
  }
  const std::string Good = vlt::test::ReadFile(Dir / "names.db");
  ASSERT_EQ(ParseParadoxFile(Good, "names.db").Records.size(), 100u);
  // Cut inside the first piece of a block, and inside a later piece holding records.
  for (size_t Cut : {size_t{2048 + 100}, size_t{2048 + 700}})
    EXPECT_THROW(ParseParadoxFile(Good.substr(0, Cut), "names.db"), EParadoxError) << Cut;
  // A changed byte anywhere in the blocks gives records or an error, never a crash.
  std::mt19937 Rng(7);
  for (int I = 0; I < 300; ++I) {
    std::string Bad = Good;
    Bad[2048 + Rng() % (Bad.size() - 2048)] ^= static_cast<char>(1 + Rng() % 255);
    try {
      (void)ParseParadoxFile(Bad, "names.db");
    } catch (const EParadoxError&) {
    }
  }
}

// Key order of alpha fields under each supported sort order: the names are posted in reverse
// and must come back, and be written, in the expected order.
TEST(ParadoxSortOrders, KeyOrderFollowsTheTablesSortOrder) {
  struct TCase {
    const char* SortOrder;
    std::vector<std::string> Expected;  // Windows-1252 text
  } Cases[] = {
      {"ascii", {"Abel", "Zoe", "abel", "\xC9mile"}},
      {"intl",
       {"Adam", "Aeble",
        "\xC6"
        "ble",
        "ebert", "emile", "Emile", "\xC9mile", "Eve", "Orsted", "\xD8rsted", "Otto", "Zoe"}},
      {"ANSIINTL", {"\xE4rla", "Ase", "\xE5se", "Bob", "Zoe"}},
      {"nordan",
       {"Aeble", "Ase", "Orsted", "Zoe",
        "\xC6"
        "ble",
        "\xC4rla", "\xD8rsted", "\xC5se"}},
      {"swedfin",
       {"Ost", "Zoe", "\xC5se",
        "\xC6"
        "ble",
        "\xC4rla", "\xD6rn", "\xD8rsted"}},
      {"spanish",
       {"Nunez", "Nuno",
        "nu\xF1"
        "ez",
        "Nu\xF1"
        "ez",
        "Nuo"}},
      {"intl",
       {"Nunez",
        "nu\xF1"
        "ez",
        "Nu\xF1"
        "ez",
        "Nuno", "Nuo"}},
  };
  for (const TCase& C : Cases) {
    SCOPED_TRACE(C.SortOrder);
    TTempDir Dir;
    WriteNamesTable(Dir / "names.db", C.SortOrder, 0);
    {
      TParadoxTable T;
      T.SetDatabaseName(Dir.Path());
      T.SetTableName("names");
      T.Open();
      for (size_t I = C.Expected.size(); I-- > 0;) {
        T.Append();
        T.FieldByName("Name").SetAsString(C.Expected[I]);
        T.Post();
      }
      EXPECT_EQ(NamesInOrder(T), C.Expected);
      T.CheckInvariants();
    }
    // Written in that order (blocks, index) and read back in it.
    TParadoxFileImage Img = ReadParadoxFile(Dir / "names.db");
    EXPECT_EQ(Img.Header.SortOrderName, C.SortOrder);
    TParadoxCodePage CP(1252);
    std::vector<std::string> Stored;
    for (const std::string& R : Img.Records) Stored.push_back(R.substr(0, R.find('\0')));
    EXPECT_EQ(Stored, C.Expected);
    TParadoxTable T;
    T.SetDatabaseName(Dir.Path());
    T.SetTableName("names");
    T.Open();
    EXPECT_EQ(NamesInOrder(T), C.Expected);
  }
}

TEST(ParadoxSortOrders, IndexFieldNamesUseTheSortOrder) {
  TTempDir Dir;
  WriteNamesTable(Dir / "names.db", "intl", 0, 0);
  TParadoxTable T;
  T.SetDatabaseName(Dir.Path());
  T.SetTableName("names");
  T.Open();
  for (const char* N : {"zoe", "\xC9mile", "adam", "Eve"}) {
    T.Append();
    T.FieldByName("Name").SetAsString(N);
    T.Post();
  }
  T.SetIndexFieldNames("Name");
  EXPECT_EQ(NamesInOrder(T), (std::vector<std::string>{"adam", "\xC9mile", "Eve", "zoe"}));
}

TEST(ParadoxSortOrders, UnknownSortOrderIsReadButKeysAreNotWritten) {
  TTempDir Dir;
  const std::string Db = Dir / "names.db";
  // Records written under the unknown order's rules; we keep them as they are.
  {
    TParadoxHeader H;
    H.CodePage = 1252;
    H.SortOrderName = "klingon";
    H.KeyFields = 1;
    H.Fields = {{"Name", pxfAlpha, 20, 0, 0}, {"Num", pxfLong, 4, 0, 0}};
    H.RecordSize = LayoutFields(H.Fields);
    std::vector<std::string> Recs;
    for (const char* N : {"b", "a"}) {
      std::string R(static_cast<size_t>(H.RecordSize), '\0');
      std::memcpy(R.data(), N, 1);
      Recs.push_back(R);
    }
    WriteParadoxFile(Db, H, {&Recs[0], &Recs[1]});
  }
  const std::string Before = vlt::test::ReadFile(Db);
  std::ostringstream Info;
  WriteParadoxInfo(Db, Info);
  EXPECT_NE(Info.str().find("unknown (readable; keys cannot be written)"), std::string::npos)
      << Info.str();
  TParadoxTable T;
  T.SetDatabaseName(Dir.Path());
  T.SetTableName("names");
  T.Open();
  EXPECT_EQ(T.RecordCount(), 2);
  T.Append();
  T.FieldByName("Name").SetAsString("c");
  try {
    T.Post();
    FAIL() << "no error";
  } catch (const EParadoxError& E) {
    EXPECT_NE(std::string(E.what()).find("\"klingon\", which this program does not know"),
              std::string::npos)
        << E.what();
  }
  T.Cancel();
  T.First();
  EXPECT_THROW(T.Delete(), EParadoxError);
  EXPECT_THROW(T.AddIndex("", "Name", ixPrimary | ixUnique), EParadoxError);
  T.Close();
  EXPECT_EQ(vlt::test::ReadFile(Db), Before);
  // Without an alpha key the sort order does not matter.
  WriteNamesTable(Dir / "plain.db", "klingon", 0, 0);
  TParadoxTable P;
  P.SetDatabaseName(Dir.Path());
  P.SetTableName("plain");
  P.Open();
  P.Append();
  P.FieldByName("Name").SetAsString("x");
  EXPECT_NO_THROW(P.Post());
}

TEST(ParadoxDump, BinaryValuesAreHexDigits) {
  TTempDir Dir;
  TParadoxHeader H;
  H.CodePage = 1252;
  H.Fields = {{"Id", pxfShort, 2, 0, 0}, {"Raw", pxfBytes, 4, 0, 0}};
  H.RecordSize = LayoutFields(H.Fields);
  std::string R(static_cast<size_t>(H.RecordSize), '\0');
  R[0] = '\x80';
  R[1] = 1;
  R.replace(2, 4,
            std::string("\x00\x01\xFF"
                        "A",
                        4));
  WriteParadoxFile(Dir / "raw.db", H, {&R});
  std::ostringstream Csv;
  WriteParadoxCsv(Dir / "raw.db", Csv);
  EXPECT_EQ(Csv.str(), "Id,Raw\n1,0001FF41\n");
  EXPECT_EQ(DumpText(TParadoxValue::String("abc")), "abc");
  EXPECT_EQ(DumpText(TParadoxValue::Bytes("")), "");
}
