// Moving records between tables: copies into another database file, import, export,
// restructuring, batch moves and the SQL text of a table.
#include <algorithm>
#include <fstream>
#include <functional>
#include <iostream>
#include <sstream>
#include <stdexcept>

#include "engine/base/VLTExcept.h"
#include "engine/components/VLTDatabaseError.h"
#include "engine/components/VLTTable.h"
#include "engine/protect/VLTMemoryStream.h"
#include "tests/VLTTestUtil.h"
#include "tests/components/VLTComponentTestUtil.h"

namespace vlt::test {
namespace {

struct TRow {
  int32_t Num;
  std::string Name;
  friend bool operator==(const TRow&, const TRow&) = default;
};

class TransferTest : public TComponentTest {
 protected:
  void SetUp() override {
    TComponentTest::SetUp();
    Db = &NewOpenDatabase();
    OtherFile = Dir + "/Other.vlt";
  }

  // A second database file with another password, cipher and page size.
  TVLTDatabase& NewOtherDatabase(const std::string& Name = "Other") {
    auto D = std::make_unique<TVLTDatabase>();
    D->FName = Name;
    D->SetDatabaseName(Name);
    D->SetDatabaseFileName(OtherFile);
    D->FPassword = "pw2";
    D->FCryptoAlgorithm = craBlowfish;
    D->FPageSize = 4096;
    D->FSilentMode = true;
    if (!FileExists(OtherFile)) D->CreateDatabase();
    Databases.push_back(std::move(D));
    return *Databases.back();
  }

  // Table TableName of database DbName: Num (required), Type, Name; index Main (primary) on Num.
  static std::unique_ptr<TVLTTable> Table(const std::string& DbName, const std::string& TableName,
                                          bool Create, const std::string& Index = "Main") {
    auto T = std::make_unique<TVLTTable>();
    T->FName = TableName;
    T->SetDatabaseName(DbName);
    T->SetTableName(TableName);
    if (Create) {
      T->FieldDefs.push_back({"Num", ftInteger, 0, true});
      T->FieldDefs.push_back({"Type", ftSmallint, 0, false});
      T->FieldDefs.push_back({"Name", ftString, 20, false});
      T->IndexDefs.push_back({"Main", "Num", "", "", ixPrimary | ixUnique});
      T->CreateTable();
    }
    T->SetIndexName(Index);
    T->Open();
    return T;
  }
  static void Add(TVLTTable& T, int32_t Num, const std::string& Name) {
    T.Append();
    T.FieldByName("Num").SetAsInteger(Num);
    T.FieldByName("Type").SetAsInteger(Num % 3);
    if (!Name.empty()) T.FieldByName("Name").SetAsString(Name);
    T.Post();
  }
  std::unique_ptr<TVLTTable> Filled(int32_t Count, const std::string& Name = "Employees") {
    auto T = Table("Pay", Name, true);
    for (int32_t I = 1; I <= Count; ++I) Add(*T, I, "Name " + std::to_string(I));
    return T;
  }
  static std::vector<TRow> Rows(TVLTDataSet& T) {
    std::vector<TRow> Out;
    for (T.First(); !T.Eof(); T.Next())
      Out.push_back({T.FieldByName("Num").AsInteger(), T.FieldByName("Name").AsString()});
    std::sort(Out.begin(), Out.end(), [](const TRow& A, const TRow& B) { return A.Num < B.Num; });
    return Out;
  }
  static std::vector<TRow> Numbered(std::initializer_list<int32_t> Nums,
                                    const std::string& Prefix = "Name ") {
    std::vector<TRow> Out;
    for (int32_t N : Nums) Out.push_back({N, Prefix + std::to_string(N)});
    return Out;
  }
  bool TableExists(const std::string& Name) { return Db->TableExists(Name); }

  TVLTDatabase* Db = nullptr;
  std::string OtherFile;
};

// ---- CopyTable ----

TEST_F(TransferTest, CopyIntoAnotherFileKeepsRowsIndexesAndReportsProgress) {
  auto T = Filled(8);
  NewOtherDatabase();
  std::vector<int32_t> Progress;
  int Before = 0, After = 0;
  T->OnCopyProgress = [&](TVLTTable&, int32_t P, bool&) { Progress.push_back(P); };
  T->BeforeCopy = [&](TVLTDataSet&) { ++Before; };
  T->AfterCopy = [&](TVLTDataSet&) { ++After; };
  std::string Log;
  bool Continue = true;
  EXPECT_TRUE(T->CopyTable("Copy", Log, Continue, OtherFile, "pw2", false, false, true, 20, 60));
  EXPECT_EQ(Log, "");
  EXPECT_EQ(Before, 1);
  EXPECT_EQ(After, 1);
  ASSERT_EQ(Progress.size(), 8u);
  EXPECT_TRUE(std::is_sorted(Progress.begin(), Progress.end()));
  EXPECT_EQ(Progress.back(), 60);
  EXPECT_GE(Progress.front(), 20);

  EXPECT_TRUE(T->CopyTable("Short", OtherFile, "pw2"));

  TVLTDatabase& Other = NewOtherDatabase("Check");
  Other.Open();
  EXPECT_EQ(Other.FCryptoAlgorithm, craBlowfish);  // the file's own settings
  for (const char* Name : {"Copy", "Short"}) {
    SCOPED_TRACE(Name);
    auto C = Table("Check", Name, false);
    EXPECT_EQ(Rows(*C), Numbered({1, 2, 3, 4, 5, 6, 7, 8}));
    ASSERT_EQ(C->RestructureIndexDefs().Count(), 1);
    EXPECT_EQ(C->RestructureIndexDefs()[0].FOptions & ixPrimary, ixPrimary);
    EXPECT_TRUE(C->RestructureFieldDefs().Find("Num")->FRequired);
    ASSERT_TRUE(C->FindKey({Int(5)}));
    EXPECT_EQ(C->FieldByName("Name").AsString(), "Name 5");
  }
}

TEST_F(TransferTest, CopyRefusalsRaiseOrAreLogged) {
  auto T = Filled(3);
  NewOtherDatabase();
  T->CopyTable("Taken", OtherFile, "pw2");
  struct TCase {
    const char* What;
    std::string NewName, File, Password;
    int32_t Code;
    std::string LogText;
  } Cases[] = {
      {"onto itself", "Employees", FileName, "s3cret", 30447,
       "Cannot copy table 'Pay.Employees' into it self"},
      {"onto itself by another path", "EMPLOYEES", Dir + "/./Payroll.vlt", "s3cret", 30447,
       "into it self"},
      {"existing table", "Taken", OtherFile, "pw2", 30448, "already exists"},
      {"wrong password", "New", OtherFile, "nope", 30445, "incorrect password"},
  };
  for (const auto& C : Cases) {
    SCOPED_TRACE(C.What);
    std::string Log;
    bool Continue = true;
    EXPECT_EQ(CodeOf([&] {
                T->CopyTable(C.NewName, Log, Continue, C.File, C.Password, false, false, true, 0,
                             100);
              }),
              C.Code);
    Log.clear();
    EXPECT_FALSE(
        T->CopyTable(C.NewName, Log, Continue, C.File, C.Password, true, false, true, 0, 100));
    EXPECT_NE(Log.find(C.LogText), std::string::npos) << Log;
  }
  EXPECT_EQ(CodeOf([&] { T->CopyTable("M", "MEMORY", ""); }), 30462);
  EXPECT_EQ(Rows(*T), Numbered({1, 2, 3}));  // the source is untouched

  // Overwriting replaces the existing table.
  std::string Log;
  bool Continue = true;
  T->SetRange({Int(2)}, {Int(3)});
  EXPECT_TRUE(T->CopyTable("Taken", Log, Continue, OtherFile, "pw2", false, true, true, 0, 100));
}

TEST_F(TransferTest, CopyNeedsAFieldObjectForEveryField) {
  Filled(2).reset();
  TVLTTable T;
  T.SetDatabaseName("Pay");
  T.SetTableName("Employees");
  T.AddField(std::make_unique<TVLTIntegerField>("Num"));
  NewOtherDatabase();
  EXPECT_EQ(CodeOf([&] { T.CopyTable("Part", OtherFile, "pw2"); }), 20297);
  EXPECT_FALSE(T.Active());
}

TEST_F(TransferTest, CopyStoppedByTheProgressHandlerKeepsTheSourcePosition) {
  auto T = Filled(6);
  ASSERT_TRUE(T->FindKey({Int(4)}));
  int32_t Calls = 0;
  T->OnCopyProgress = [&](TVLTTable&, int32_t, bool& Continue) { Continue = ++Calls < 2; };
  NewOtherDatabase();
  std::string Log;
  bool Continue = true;
  EXPECT_FALSE(T->CopyTable("Stopped", Log, Continue, OtherFile, "pw2", false, false, true, 0, 100));
  EXPECT_FALSE(Continue);
  EXPECT_EQ(Log, "Terminated by User.\n");
  EXPECT_TRUE(T->Active());
  EXPECT_EQ(T->FieldByName("Num").AsInteger(), 4);
  EXPECT_EQ(T->IndexName(), "Main");

  T->Close();
  T->OnCopyProgress = nullptr;
  TVLTDatabase& Pay = *Db;
  Log.clear();
  Continue = true;
  EXPECT_TRUE(T->CopyTable(Pay, "SameFile", Log, Continue, false, false, true, 0, 100));
  EXPECT_FALSE(T->Active());  // a closed table stays closed
  auto C = Table("Pay", "SameFile", false);
  EXPECT_EQ(C->RecordCount(), 6);
}

// ---- import and export ----

TEST_F(TransferTest, ImportCreatesTheTableFromTheSourceAndCopiesRows) {
  auto Src = Filled(5);
  ASSERT_TRUE(Src->FindKey({Int(3)}));
  TVLTTable Dst;
  Dst.SetDatabaseName("Pay");
  Dst.SetTableName("Imported");
  int32_t LastProgress = -1;
  Dst.OnImportProgress = [&](TVLTTable&, int32_t P, bool&) { LastProgress = P; };
  EXPECT_TRUE(Dst.ImportTable(*Src));
  EXPECT_EQ(LastProgress, 100);
  EXPECT_FALSE(Dst.Active());
  EXPECT_EQ(Src->FieldByName("Num").AsInteger(), 3);  // the source keeps its record
  Dst.SetIndexName("Main");
  Dst.Open();
  EXPECT_EQ(Rows(Dst), Numbered({1, 2, 3, 4, 5}));
  ASSERT_TRUE(Dst.FindKey({Int(2)}));
  EXPECT_EQ(Dst.FieldByName("Type").AsInteger(), 2);
  EXPECT_THROW(Dst.ImportTable(*Src), EVLTDatabaseError);  // an open table
  // Importing a table into itself, also through another database component on the same
  // file, would re-create (empty) the source.
  NewDatabase("Pay2");
  for (const char* DbName : {"Pay", "Pay2"}) {
    TVLTTable Same;
    Same.SetDatabaseName(DbName);
    Same.SetTableName("EMPLOYEES");
    EXPECT_EQ(CodeOf([&] { Same.ImportTable(*Src); }), 30447) << DbName;
  }
  EXPECT_EQ(Src->RecordCount(), 5);
}

TEST_F(TransferTest, ImportWithLogSkipsUnsupportedIndexesAndBadRecords) {
  auto Src = Table("Pay", "Employees", true);
  for (int32_t I = 1; I <= 4; ++I) Add(*Src, I, I <= 2 ? "Same" : "Other " + std::to_string(I));
  Src->Close();  // a closed source is opened for the import and closed again
  TVLTTable Dst;
  Dst.SetDatabaseName("Pay");
  Dst.SetTableName("Imported");
  std::string Log;
  const std::vector<TVLTComponentIndexDef> Indexes = {
      {"ByExpr", "Num", "", "", ixExpression},
      {"UniqueName", "Name", "", "", ixUnique},
  };
  EXPECT_TRUE(Dst.ImportTable(*Src, Log, Indexes));
  EXPECT_FALSE(Src->Active());
  EXPECT_NE(Log.find("Cannot import index 'ByExpr'. Index type is not supported, index skipped"),
            std::string::npos);
  EXPECT_NE(Log.find("Error importing table \"Imported\". Record #2 was not imported due to error: "),
            std::string::npos)
      << Log;
  Dst.Open();
  EXPECT_EQ(Dst.RecordCount(), 3);
  EXPECT_EQ(Dst.RestructureIndexDefs().Count(), 1);
}

TEST_F(TransferTest, ImportOverAnExistingTableIsAllOrNothing) {
  auto Src = Filled(4);
  auto Dst = Table("Pay", "Target", true);
  Add(*Dst, 99, "Old");
  Dst->Close();
  struct TCase {
    const char* What;
    TVLTTable::TProgressEvent Progress;
    bool Raises;
  } Cases[] = {
      {"stopped", [](TVLTTable&, int32_t, bool& Continue) { Continue = false; }, false},
      {"failed", [](TVLTTable&, int32_t P, bool&) {
         if (P > 40) throw std::runtime_error("disk gone");
       }, true},
  };
  for (const auto& C : Cases) {
    SCOPED_TRACE(C.What);
    Dst->OnImportProgress = C.Progress;
    if (C.Raises) {
      EXPECT_THROW(Dst->ImportTable(*Src), std::runtime_error);
    } else {
      EXPECT_FALSE(Dst->ImportTable(*Src));
    }
    EXPECT_FALSE(TableExists("OLD_Target"));
    Dst->Open();
    EXPECT_EQ(Rows(*Dst), (std::vector<TRow>{{99, "Old"}}));
    Dst->Close();
  }
  Dst->OnImportProgress = nullptr;
  EXPECT_TRUE(Dst->ImportTable(*Src));
  EXPECT_FALSE(TableExists("OLD_Target"));
  Dst->Open();
  EXPECT_EQ(Rows(*Dst), Numbered({1, 2, 3, 4}));
}

TEST_F(TransferTest, ExportCreatesOrFillsTheDestination) {
  auto Src = Filled(4);
  NewOtherDatabase().Open();
  TVLTTable Dst;
  Dst.SetDatabaseName("Other");
  Dst.SetTableName("Exported");
  int Before = 0;
  Src->BeforeExport = [&](TVLTDataSet&) { ++Before; };
  EXPECT_TRUE(Src->ExportTable(Dst, true));
  EXPECT_EQ(Before, 1);
  EXPECT_FALSE(Dst.Active());
  Dst.Open();
  EXPECT_EQ(Rows(Dst), Numbered({1, 2, 3, 4}));
  EXPECT_EQ(Dst.RestructureIndexDefs().Count(), 1);
  // Creating again replaces the destination's rows.
  EXPECT_TRUE(Src->ExportTable(Dst, true));
  Dst.Open();
  EXPECT_EQ(Dst.RecordCount(), 4);
}

TEST_F(TransferTest, ExportIntoAnExistingTableMatchesFieldsByName) {
  auto Src = Filled(3);
  TVLTTable Dst;
  Dst.SetDatabaseName("Pay");
  Dst.SetTableName("Names");
  Dst.FieldDefs.push_back({"Name", ftString, 20, false});
  Dst.FieldDefs.push_back({"Extra", ftInteger, 0, false});
  Dst.FieldDefs.push_back({"Num", ftInteger, 0, false});
  Dst.IndexDefs.push_back({"UniqueName", "Name", "", "", ixUnique});
  Dst.CreateTable();
  Dst.Open();
  EXPECT_TRUE(Src->ExportTable(Dst, false));
  EXPECT_TRUE(Dst.Active());
  EXPECT_EQ(Rows(Dst), Numbered({1, 2, 3}));
  Dst.First();
  EXPECT_TRUE(Dst.FieldByName("Extra").IsNull());
  // The same names again: without a log the first refused record raises, with one each is
  // logged and skipped.
  EXPECT_THROW(Src->ExportTable(Dst, false), EVLTEngineError);
  EXPECT_EQ(Dst.State(), dsBrowse);
  std::string Log;
  EXPECT_TRUE(Src->ExportTable(Dst, false, Log));
  EXPECT_NE(Log.find("Record #3 was not imported"), std::string::npos) << Log;
  EXPECT_EQ(Dst.RecordCount(), 3);
  // Never into itself.
  TVLTTable Same;
  Same.SetDatabaseName("Pay");
  Same.SetTableName("employees");
  EXPECT_EQ(CodeOf([&] { Src->ExportTable(Same, true); }), 30447);
  EXPECT_EQ(Src->RecordCount(), 3);
}

// ---- restructuring ----

TEST_F(TransferTest, RestructureAddsRenamesAndDropsFieldsKeepingRows) {
  auto T = Filled(5);
  TVLTAdvFieldDefs& F = T->RestructureFieldDefs();
  F.Find("Name")->FName = "FullName";  // same field, new name: values follow
  F.DeleteFieldDef("Type");
  F.Add("Age", aftInteger);
  T->RestructureIndexDefs().Add("ByName", "FullName", 0);
  int32_t LastProgress = -1;
  T->OnRestructureProgress = [&](TVLTTable&, int32_t P, bool&) { LastProgress = P; };
  EXPECT_TRUE(T->RestructureTable());
  EXPECT_EQ(LastProgress, 100);
  EXPECT_FALSE(TableExists("OLD_Employees"));
  EXPECT_TRUE(T->Active());  // reopened as it was
  T->Close();
  TVLTTable R;
  R.SetDatabaseName("Pay");
  R.SetTableName("Employees");
  R.SetIndexName("ByName");
  R.Open();
  EXPECT_EQ(R.RecordCount(), 5);
  EXPECT_EQ(R.FindField("Type"), nullptr);
  R.First();
  EXPECT_EQ(R.FieldByName("FullName").AsString(), "Name 1");
  EXPECT_TRUE(R.FieldByName("Age").IsNull());
  EXPECT_EQ(R.RestructureIndexDefs().Count(), 2);
}

TEST_F(TransferTest, FailedRestructureLeavesTheOriginalTableIntact) {
  auto T = Table("Pay", "Employees", true);
  for (int32_t I = 1; I <= 4; ++I) Add(*T, I, "Dup");
  struct TCase {
    const char* What;
    std::function<void(TVLTTable&)> Change;
    std::function<void(TVLTTable&)> Arm;
  } Cases[] = {
      {"a unique index the rows break",
       [](TVLTTable& X) { X.RestructureIndexDefs().Add("UName", "Name", ixUnique); }, nullptr},
      {"a value that does not fit", [](TVLTTable& X) {
         X.RestructureFieldDefs().Find("Name")->FDataType = aftInteger;
         X.RestructureFieldDefs().Find("Name")->FSize = 0;
       }, nullptr},
      {"an index on a missing field",
       [](TVLTTable& X) { X.RestructureIndexDefs().Add("Bad", "Missing", 0); }, nullptr},
      {"a stop by the user", nullptr,
       [](TVLTTable& X) {
         X.OnRestructureProgress = [](TVLTTable&, int32_t, bool& Continue) { Continue = false; };
       }},
  };
  for (const auto& C : Cases) {
    SCOPED_TRACE(C.What);
    for (bool WithLog : {false, true}) {
      T->Close();
      T->Open();  // definitions as stored
      T->OnRestructureProgress = nullptr;
      if (C.Change) C.Change(*T);
      if (C.Arm) C.Arm(*T);
      std::string Log;
      if (WithLog) {
        EXPECT_FALSE(T->RestructureTable(Log));
        EXPECT_NE(Log.find("Cannot restructure table 'Employees'"), std::string::npos) << Log;
      } else {
        EXPECT_EQ(CodeOf([&] { T->RestructureTable(); }), 30464);
      }
      EXPECT_FALSE(TableExists("OLD_Employees"));
      T->Close();
      T->Open();
      EXPECT_EQ(Rows(*T), (std::vector<TRow>{{1, "Dup"}, {2, "Dup"}, {3, "Dup"}, {4, "Dup"}}));
      EXPECT_EQ(T->RestructureIndexDefs().Count(), 1);
      EXPECT_EQ(T->RestructureFieldDefs().Find("Name")->FDataType, aftString);
    }
  }
}

TEST_F(TransferTest, RestructureRefusesTransactionsAndNeverTouchesALeftOverOldTable) {
  auto T = Filled(2);
  auto Left = Table("Pay", "OLD_Employees", true, "");
  Add(*Left, 42, "kept");
  Left->Close();
  Db->StartTransaction();
  EXPECT_EQ(CodeOf([&] { T->RestructureTable(); }), 30463);
  Db->Rollback();
  T->Open();
  T->RestructureFieldDefs().Add("Extra", aftInteger);
  EXPECT_TRUE(T->RestructureTable());
  EXPECT_FALSE(TableExists("OLD_Employees_2"));
  Left->Open();
  EXPECT_EQ(Rows(*Left), (std::vector<TRow>{{42, "kept"}}));
  EXPECT_EQ(Rows(*T), Numbered({1, 2}));
  TVLTTable Closed;
  Closed.SetDatabaseName("Pay");
  Closed.SetTableName("Employees");
  EXPECT_EQ(CodeOf([&] { Closed.RestructureTable(); }), 30464);  // definitions never read
}

// ---- batch moves ----

TEST_F(TransferTest, BatchMoveByMoveType) {
  struct TCase {
    TVLTBatchMoveType Type;
    int64_t Count;
    std::vector<TRow> Expected;
  } Cases[] = {
      {bmtUpdate, 2, {{1, "Name 1"}, {2, "Name 2"}, {3, "Name 3"}, {4, "New 4"}, {5, "New 5"}}},
      {bmtAppendUpdate, 4,
       {{1, "Name 1"}, {2, "Name 2"}, {3, "Name 3"}, {4, "New 4"}, {5, "New 5"}, {6, "New 6"},
        {7, "New 7"}}},
      {bmtDelete, 2, {{1, "Name 1"}, {2, "Name 2"}, {3, "Name 3"}}},
      {bmtSynchronize, 7, {{4, "New 4"}, {5, "New 5"}, {6, "New 6"}, {7, "New 7"}}},
      {bmtCopy, 4, {{4, "New 4"}, {5, "New 5"}, {6, "New 6"}, {7, "New 7"}}},
  };
  for (const auto& C : Cases) {
    SCOPED_TRACE(static_cast<int>(C.Type));
    auto Dst = Filled(5);
    auto Src = Table("Pay", "Source", true);
    for (int32_t I = 4; I <= 7; ++I) Add(*Src, I, "New " + std::to_string(I));
    int Before = 0, After = 0;
    Dst->BeforeBatchMove = [&](TVLTDataSet&) { ++Before; };
    Dst->AfterBatchMove = [&](TVLTDataSet&) { ++After; };
    EXPECT_EQ(Dst->BatchMove(*Src, C.Type), C.Count);
    EXPECT_EQ(Before, 1);
    EXPECT_EQ(After, 1);
    EXPECT_EQ(Src->RecordCount(), 4);
    EXPECT_TRUE(Dst->Active());  // as it was
    EXPECT_EQ(Rows(*Dst), C.Expected);
    if (C.Type != bmtCopy) {
      EXPECT_EQ(Dst->IndexName(), "Main");
    }
  }
}

TEST_F(TransferTest, BatchMoveAppendAndIndexChecks) {
  auto Dst = Filled(2);
  auto Src = Table("Pay", "Source", true);
  Add(*Src, 3, "Three");
  EXPECT_EQ(Dst->BatchMove(*Src, bmtAppend), 1);
  EXPECT_EQ(Dst->RecordCount(), 3);
  EXPECT_THROW(Dst->BatchMove(*Src, bmtAppend), EVLTEngineError);  // key 3 exists now
  EXPECT_EQ(Dst->State(), dsBrowse);
  EXPECT_EQ(CodeOf([&] { Dst->BatchMove(*Src, bmtUpdate, "Nope"); }), 30468);
  Dst->DeleteAllIndexes();
  EXPECT_EQ(CodeOf([&] { Dst->BatchMove(*Src, bmtUpdate); }), 30468);
  EXPECT_EQ(Dst->RecordCount(), 3);
}

// ---- SQL text ----

TEST_F(TransferTest, ExportToSqlOrdersColumnsAsTheTableWouldBeBuilt) {
  // An index definition with the order in its options and no field list: every column is
  // descending, as RestructureTable would build it.
  auto T = Filled(0);
  T->RestructureIndexDefs().Add("ByType", "Type;Name", ixDescending | ixCaseInsensitive, false, "",
                                "Name");
  T->ExportToSqlOptions().Data = false;
  EXPECT_NE(T->ExportToSQL().find(
                "CREATE INDEX \"ByType\" ON \"Employees\" (\"Type\" DESC, \"Name\" COLLATE "
                "NOCASE DESC);\n"),
            std::string::npos)
      << T->ExportToSQL();
}

TEST_F(TransferTest, ExportToSqlWritesStructureAndData) {
  auto T = Filled(0);
  Add(*T, 2, "");
  Add(*T, 1, "O'Brien");
  T->AddIndex("ByName", "Name", ixCaseInsensitive | ixDescending);
  const std::string Create =
      "CREATE TABLE \"Employees\" (\n"
      "  \"Num\" INTEGER NOT NULL,\n"
      "  \"Type\" SMALLINT,\n"
      "  \"Name\" STRING(20),\n"
      "  CONSTRAINT \"C_PK$Num\" PRIMARY KEY (\"Num\")\n"
      ");\n"
      "\n"
      "CREATE UNIQUE INDEX \"Main\" ON \"Employees\" (\"Num\");\n"
      "CREATE INDEX \"ByName\" ON \"Employees\" (\"Name\" COLLATE NOCASE DESC);\n";
  // In the order of the active index.
  const std::string Inserts =
      "INSERT INTO \"Employees\" (\"Num\", \"Type\", \"Name\") VALUES (1, 1, 'O''Brien');\n"
      "INSERT INTO \"Employees\" (\"Num\", \"Type\", \"Name\") VALUES (2, 2, NULL);\n";
  TVLTExportToSqlOptions& O = T->ExportToSqlOptions();
  EXPECT_EQ(T->ExportToSQL(), Create + "\n" + Inserts);
  O.AddDropTable = true;
  O.Data = false;
  EXPECT_EQ(T->ExportToSQL(), "DROP TABLE \"Employees\";\n\n" + Create);
  O.Structure = false;
  O.Data = true;
  O.FieldNamesInInserts = false;
  EXPECT_EQ(T->ExportToSQL(),
            "INSERT INTO \"Employees\" VALUES (1, 1, 'O''Brien');\n"
            "INSERT INTO \"Employees\" VALUES (2, 2, NULL);\n");
  const std::string Text = T->ExportToSQL();
  const std::string File = Dir + "/employees.sql";
  T->ExportToSQL(File);
  std::ifstream In(File, std::ios::binary);
  std::stringstream Read;
  Read << In.rdbuf();
  EXPECT_EQ(Read.str(), Text);
  EXPECT_EQ(CodeOf([&] { T->ExportToSQL(Dir + "/missing/dir/x.sql"); }), 30467);
  TVLTMemoryStream Stream;
  Stream.Write("-- head\n", 8);
  T->ExportToSQL(Stream);  // written at the stream's position
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(Stream.Memory()),
                        static_cast<size_t>(Stream.GetSize())),
            "-- head\n" + Text);
  // A closed table is opened for the export and closed again.
  T->Close();
  EXPECT_EQ(T->ExportToSQL(), Text);
  EXPECT_FALSE(T->Active());
}

TEST_F(TransferTest, SqlLiteralsOfEveryKindOfValue) {
  TVLTTable T;
  T.SetDatabaseName("Pay");
  T.SetTableName("Kinds");
  T.FieldDefs = {{"B", ftBoolean, 0, false},  {"F", ftFloat, 0, false},
                 {"C", ftCurrency, 0, false}, {"D", ftDate, 0, false},
                 {"T", ftTime, 0, false},     {"DT", ftDateTime, 0, false},
                 {"L", ftLargeint, 0, false}};
  T.CreateTable();
  T.Open();
  T.Append();
  T.FieldByName("B").SetAsBoolean(true);
  T.FieldByName("F").SetAsFloat(-0.125);
  T.FieldByName("C").SetAsFloat(12.5);
  T.FieldByName("D").SetAsDateTime(45000);           // 2023-03-15
  T.FieldByName("T").SetAsDateTime(0.5 + 1.5 / 86400);  // 12:00:01.500
  T.FieldByName("DT").SetAsDateTime(2.25);           // 1900-01-01 06:00
  T.FieldByName("L").SetAsLargeInt(-9000000000LL);
  T.Post();
  T.ExportToSqlOptions().Structure = false;
  T.ExportToSqlOptions().FieldNamesInInserts = false;
  EXPECT_EQ(T.ExportToSQL(),
            "INSERT INTO \"Kinds\" VALUES (TRUE, -0.125, 12.5, '2023-03-15', '12:00:01.500', "
            "'1900-01-01 06:00:00.000', -9000000000);\n");
}

}  // namespace
}  // namespace vlt::test
