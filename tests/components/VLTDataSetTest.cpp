// Dataset behaviour beyond the edit cycle: error handlers that retry, abort or fail an
// operation, the checks of persistent field objects against the table, field conversion
// errors, and calculated and lookup fields.
#include "engine/components/VLTDataSet.h"

#include "engine/base/VLTExcept.h"
#include "engine/base/VLTMemory.h"
#include "engine/components/VLTDatabaseError.h"
#include "engine/components/VLTLocalCursor.h"
#include "engine/components/VLTTable.h"
#include "tests/VLTTestUtil.h"
#include "tests/components/VLTComponentTestUtil.h"

namespace vlt::test {
namespace {

class DataSetTest : public TComponentTest {
 protected:
  void SetUp() override {
    TComponentTest::SetUp();
    Db = &NewOpenDatabase();
  }

  // Employees: Num (required), Name (30), Rate, DeptId; made once, then opened with the
  // fields Declare adds (default field objects when it adds none).
  std::unique_ptr<TVLTTable> Employees(const std::function<void(TVLTTable&)>& Declare = {},
                                       const std::string& Database = "Pay") {
    if (!Created) {
      TVLTTable Maker;
      Maker.SetDatabaseName("Pay");
      Maker.SetTableName("Employees");
      Maker.AddField(std::make_unique<TVLTIntegerField>("Num")).FRequired = true;
      Maker.AddField(std::make_unique<TVLTStringField>("Name", 30));
      Maker.AddField(std::make_unique<TVLTFloatField>("Rate"));
      Maker.AddField(std::make_unique<TVLTIntegerField>("DeptId"));
      Maker.CreateTable();
      Created = true;
    }
    auto T = std::make_unique<TVLTTable>();
    T->FName = "Emp";
    T->SetDatabaseName(Database);
    T->SetTableName("Employees");
    if (Declare) Declare(*T);
    return T;
  }

  static void Add(TVLTTable& T, int32_t Num, const std::string& Name, double Rate, int32_t Dept) {
    T.Append();
    T.FieldByName("Num").SetAsInteger(Num);
    T.FieldByName("Name").SetAsString(Name);
    T.FieldByName("Rate").SetAsFloat(Rate);
    if (Dept != 0) T.FieldByName("DeptId").SetAsInteger(Dept);
    T.Post();
  }

  static void DeclareAll(TVLTTable& T) {
    T.AddField(std::make_unique<TVLTIntegerField>("Num")).FRequired = true;
    T.AddField(std::make_unique<TVLTStringField>("Name", 30));
    T.AddField(std::make_unique<TVLTFloatField>("Rate"));
    T.AddField(std::make_unique<TVLTIntegerField>("DeptId"));
  }

  TVLTDatabase* Db = nullptr;
  bool Created = false;
};

// ---- error handlers ----

TEST_F(DataSetTest, PostErrorHandlerFixesTheRecordAndRetries) {
  auto T = Employees();
  T->Open();
  int32_t Calls = 0;
  T->OnPostError = [&](TVLTDataSet& D, const std::exception& E, TDataAction& Action) {
    ++Calls;
    EXPECT_EQ(std::string(E.what()), "Emp: Field 'Num' must have a value");
    EXPECT_EQ(Action, daFail);
    D.FieldByName("Num").SetAsInteger(7);
    Action = daRetry;
  };
  T->Append();
  T->FieldByName("Name").SetAsString("Ann");
  T->Post();
  EXPECT_EQ(Calls, 1);
  EXPECT_EQ(T->State(), dsBrowse);
  EXPECT_EQ(T->RecordCount(), 1);
  EXPECT_EQ(T->FieldByName("Num").AsInteger(), 7);
  EXPECT_EQ(T->FieldByName("Name").AsString(), "Ann");
}

TEST_F(DataSetTest, PostErrorHandlerAbortsOrFails) {
  auto T = Employees();
  T->Open();
  TDataAction Answer = daAbort;
  T->OnPostError = [&](TVLTDataSet&, const std::exception&, TDataAction& Action) { Action = Answer; };
  T->Append();
  EXPECT_THROW(T->Post(), EVLTAbort);
  EXPECT_EQ(T->State(), dsInsert);  // nothing written, values kept for another try
  Answer = daFail;
  EXPECT_THROW(T->Post(), EVLTDatabaseError);  // the original error
  EXPECT_EQ(T->State(), dsInsert);
  T->Cancel();
  EXPECT_EQ(T->RecordCount(), 0);
}

// Two multi-user connections of one process, under two sessions, meet through the file's
// record locks: one edits, the other's edit and delete fail with -12 until the first lets go.
class LockConflictTest : public DataSetTest {
 protected:
  void SetUp() override {
    TComponentTest::SetUp();
    for (auto* S : {&SA, &SB}) VLTSessions().Add(S);
    SA.SetSessionName("A");
    SB.SetSessionName("B");
    TVLTDatabase& Maker = NewDatabase("Pay");
    Maker.FMultiUser = true;
    Maker.CreateDatabase();
    for (const char* Name : {"A", "B"}) {
      TVLTDatabase& D = NewDatabase(std::string("Db") + Name);
      D.SetSessionName(Name);
      D.FMultiUser = true;
    }
    Db = &Maker;
    Employees();  // creates the table
    for (const char* Name : {"A", "B"}) {
      auto T = std::make_unique<TVLTTable>();
      T->SetDatabaseName(std::string("Db") + Name);
      T->FSessionName = Name;
      T->SetTableName("Employees");
      T->Open();
      // Short lock waits: a conflict is reported at once.
      auto* C = dynamic_cast<TVLTLocalCursor*>(T->Handle());
      EXPECT_NE(C, nullptr);
      if (C) C->FLockWaits = {2, 1, 2, 1, 2, 1, 2, 1, 2, 1};
      Tables.push_back(std::move(T));
    }
    Add(*Tables[0], 1, "One", 1.0, 0);
    Add(*Tables[0], 2, "Two", 2.0, 0);
    Tables[1]->Refresh();
    Tables[1]->First();
  }
  void TearDown() override {
    Tables.clear();
    Databases.clear();
    TComponentTest::TearDown();
  }

  TVLTSession SA, SB;
  std::vector<std::unique_ptr<TVLTTable>> Tables;
};

TEST_F(LockConflictTest, EditAndDeleteRetryOnceTheRecordLockIsGone) {
  TVLTTable& A = *Tables[0];
  TVLTTable& B = *Tables[1];
  A.First();
  A.Edit();  // holds the record lock of record 1
  std::vector<int32_t> Codes;
  auto Release = [&](TVLTDataSet&, const std::exception& E, TDataAction& Action) {
    auto* Engine = dynamic_cast<const EVLTEngineError*>(&E);
    Codes.push_back(Engine ? Engine->ErrorCode() : 0);
    if (A.State() == dsEdit) {
      A.Cancel();
      Action = daRetry;
    }
  };
  B.OnEditError = Release;
  B.Edit();
  EXPECT_EQ(Codes, std::vector<int32_t>{kCursorRecordLocked});
  EXPECT_EQ(B.State(), dsEdit);
  B.FieldByName("Name").SetAsString("Uno");
  B.Post();

  A.First();
  A.Edit();
  B.First();
  B.OnDeleteError = Release;
  Codes.clear();
  B.Delete();
  EXPECT_EQ(Codes, std::vector<int32_t>{kCursorRecordLocked});
  EXPECT_EQ(B.RecordCount(), 1);
  EXPECT_EQ(B.FieldByName("Num").AsInteger(), 2);

  // Without a handler the conflict is raised and the dataset stays in browse state.
  B.OnEditError = nullptr;
  B.First();
  A.First();
  A.Edit();
  try {
    B.Edit();
    FAIL();
  } catch (const EVLTEngineError& E) {
    EXPECT_EQ(E.ErrorCode(), kCursorRecordLocked);
  }
  EXPECT_EQ(B.State(), dsBrowse);
  A.Cancel();
}

TEST_F(DataSetTest, FindScrollsOnlyWhenItFindsAndCurrentRecordIsReadFromTheTable) {
  auto T = Employees();
  T->Open();
  for (int32_t I = 1; I <= 4; ++I) Add(*T, I, "N" + std::to_string(I), I, 0);
  int32_t Before = 0, After = 0;
  T->BeforeScroll = [&](TVLTDataSet&) { ++Before; };
  T->AfterScroll = [&](TVLTDataSet&) { ++After; };
  T->SetOnFilterRecord(
      [](TVLTDataSet& D, bool& Accept) { Accept = D.FieldByName("Num").AsInteger() > 2; });
  ASSERT_TRUE(T->FindFirst());
  EXPECT_EQ(T->FieldByName("Num").AsInteger(), 3);
  EXPECT_TRUE(T->FindNext());
  EXPECT_FALSE(T->FindNext());
  EXPECT_EQ(T->FieldByName("Num").AsInteger(), 4);  // stays on the last match
  EXPECT_EQ(Before, 3);
  EXPECT_EQ(After, 2);
  EXPECT_EQ(T->RecordCount(), 4);  // not filtered outside the search

  uint8_t* Buf = T->Handle()->AllocateRecordBuffer();
  ASSERT_TRUE(T->GetCurrentRecord(Buf));
  TVLTVariant V;
  T->Handle()->GetFieldValue(V, 0, false, Buf);
  EXPECT_EQ(V.AsInteger(), 4);
  EXPECT_EQ(T->Handle()->GetBufferRecordID(Buf).PageNo,
            T->Handle()->GetBufferRecordID(T->Handle()->CurrentRecordBuffer()).PageNo);
  T->Append();
  EXPECT_FALSE(T->GetCurrentRecord(Buf));  // a new record is not stored yet
  T->Cancel();
  T->Handle()->FreeRecordBuffer(Buf);
}

// The searches and reads that work on a record or position of their own give both back,
// whatever they find, and leave the cursor pointing at the shown record (never at a buffer they
// freed); a new record whose OnNewRecord fails goes with its buffer.
TEST_F(DataSetTest, ScratchRecordsAndPositionsAreGivenBack) {
  auto T = Employees();
  T->Open();
  for (int32_t I = 1; I <= 4; ++I) Add(*T, I, "N" + std::to_string(I), I, 0);
  T->First();
  T->Next();
  ASSERT_EQ(T->FieldByName("Num").AsInteger(), 2);
  const TVLTBookmark Shown = T->GetBookmark();
  TVLTCursor& C = *T->Handle();
  auto PointsAtShown = [&] {
    const TVLTPageItemID Id = C.GetBufferRecordID(C.CurrentRecordBuffer());
    return Id.PageNo == LoadLE<int32_t>(Shown.data()) &&
           Id.PageItemNo == LoadLE<uint16_t>(Shown.data() + 4);
  };
  TVLTMemoryManager& Mem = TVLTMemoryManager::Instance();
  const int64_t Base = Mem.AllocatedSize();

  {
    const std::vector<TVLTVariant> Found = T->Lookup("Num", {Int(3)}, "Name");
    ASSERT_EQ(Found.size(), 1u);
    EXPECT_EQ(Found[0].AsAnsiString(), "N3");
  }
  EXPECT_TRUE(PointsAtShown());
  EXPECT_TRUE(T->Lookup("Num", {Int(9)}, "Name")[0].IsNull());
  EXPECT_TRUE(PointsAtShown());
  EXPECT_EQ(T->RecNo(), 2);
  EXPECT_TRUE(T->BookmarkValid(Shown));
  EXPECT_TRUE(PointsAtShown());
  EXPECT_EQ(Mem.AllocatedSize(), Base);
  EXPECT_EQ(T->FieldByName("Num").AsInteger(), 2);

  T->OnNewRecord = [](TVLTDataSet&) { throw EVLTException(1, "no new record now"); };
  EXPECT_THROW(T->Append(), EVLTException);
  EXPECT_EQ(T->State(), dsBrowse);
  EXPECT_EQ(T->FieldByName("Num").AsInteger(), 2);
  EXPECT_EQ(Mem.AllocatedSize(), Base);
  T->OnNewRecord = nullptr;
  T->Edit();
  T->Cancel();
  EXPECT_EQ(Mem.AllocatedSize(), Base);
}

// ---- persistent fields against the table ----

TEST_F(DataSetTest, PersistentFieldsMustMatchTheTable) {
  struct {
    const char* Name;
    std::function<void(TVLTTable&)> Declare;
    const char* Message;
  } Cases[] = {
      {"string on integer column",
       [](TVLTTable& T) { T.AddField(std::make_unique<TVLTStringField>("Num", 10)); },
       "Emp: Type mismatch for field 'Num', expecting: String actual: Integer"},
      {"boolean on float column",
       [](TVLTTable& T) { T.AddField(std::make_unique<TVLTBooleanField>("Rate")); },
       "Emp: Type mismatch for field 'Rate', expecting: Boolean actual: Float"},
      {"shorter string",
       [](TVLTTable& T) { T.AddField(std::make_unique<TVLTStringField>("Name", 20)); },
       "Emp: Size mismatch for field 'Name', expecting: 20 actual: 30"},
      {"fixed string on variable column",
       [](TVLTTable& T) { T.AddField(std::make_unique<TVLTStringField>("Name", 30, true)); },
       "Emp: Type mismatch for field 'Name', expecting: FixedChar actual: String"},
      {"missing column",
       [](TVLTTable& T) { T.AddField(std::make_unique<TVLTIntegerField>("Salary")); },
       "Emp: Field 'Salary' not found"},
  };
  for (const auto& C : Cases) {
    auto T = Employees(C.Declare);
    EXPECT_EQ(MessageOf([&] { T->Open(); }), C.Message) << C.Name;
    EXPECT_FALSE(T->Active()) << C.Name;
  }
  // Matching declarations open; a subset of the columns is enough.
  auto T = Employees([](TVLTTable& T) {
    T.AddField(std::make_unique<TVLTStringField>("Name", 30));
    T.AddField(std::make_unique<TVLTIntegerField>("Num"));
  });
  T->Open();
  EXPECT_EQ(T->FieldCount(), 2);
  EXPECT_EQ(Db->DataSetCount(), 1);
}

TEST_F(DataSetTest, FieldConversionErrors) {
  auto T = Employees([](TVLTTable& T) {
    DeclareAll(T);
    T.AddField(std::make_unique<TVLTBooleanField>("Flag")).FFieldKind = fkCalculated;
    T.AddField(std::make_unique<TVLTDateField>("When")).FFieldKind = fkCalculated;
  });
  T->Open();
  T->Append();
  struct {
    const char* Field;
    std::function<void(TVLTField&)> Set;
    const char* Message;
  } Cases[] = {
      {"Num", [](TVLTField& F) { F.SetAsString("12x"); },
       "Emp: '12x' is not a valid integer value for field 'Num'"},
      {"Rate", [](TVLTField& F) { F.SetAsString("1.2.3"); },
       "Emp: '1.2.3' is not a valid floating point value for field 'Rate'"},
      {"Num", [](TVLTField& F) { F.SetAsFloat(3e10); },
       "Emp: 3e+10 is not a valid value for field 'Num'. The allowed range is -2.14748e+09 to "
       "2.14748e+09"},
      {"Flag", [](TVLTField& F) { F.SetAsString("maybe"); },
       "Emp: 'maybe' is not a valid boolean value for field 'Flag'"},
      {"When", [](TVLTField& F) { F.SetAsString("no date"); },
       "Emp: Invalid value for field 'When'"},
  };
  for (const auto& C : Cases) {
    TVLTField& F = T->FieldByName(C.Field);
    EXPECT_EQ(MessageOf([&] { C.Set(F); }), C.Message) << C.Field;
    EXPECT_TRUE(F.IsNull()) << "a refused value must not reach the record: " << C.Field;
  }
  EXPECT_EQ(T->State(), dsInsert);
  T->Cancel();
}

// ---- calculated and lookup fields ----

TEST_F(DataSetTest, CalculatedFieldsFollowTheRecord) {
  int32_t Runs = 0;
  auto T = Employees([&](TVLTTable& T) {
    DeclareAll(T);
    T.AddField(std::make_unique<TVLTFloatField>("Double")).FFieldKind = fkCalculated;
    T.AddField(std::make_unique<TVLTStringField>("Label", 8)).FFieldKind = fkCalculated;
    T.OnCalcFields = [&Runs](TVLTDataSet& D) {
      ++Runs;
      EXPECT_EQ(D.State(), dsCalcFields);
      if (!D.FieldByName("Rate").IsNull())
        D.FieldByName("Double").SetAsFloat(D.FieldByName("Rate").AsFloat() * 2);
      D.FieldByName("Label").SetAsString("#" + D.FieldByName("Name").AsString());
    };
  });
  T->Open();
  EXPECT_GT(T->CalcFieldsSize(), 0);
  Add(*T, 1, "Ann", 1.5, 0);
  Add(*T, 2, "Bob", 4, 0);
  T->Append();
  T->FieldByName("Num").SetAsInteger(3);
  T->Post();  // no rate: the calculated field stays NULL

  std::vector<std::string> Seen;
  for (T->First(); !T->Eof(); T->Next())
    Seen.push_back(T->FieldByName("Double").AsString() + "|" + T->FieldByName("Label").AsString());
  EXPECT_EQ(Seen, (std::vector<std::string>{"3|#Ann", "8|#Bob", "|#"}));
  // Text longer than the field is cut to its size.
  T->First();
  T->Edit();
  T->FieldByName("Name").SetAsString("Annabelle");
  EXPECT_EQ(T->FieldByName("Label").AsString(), "#Annabel");
  // Recomputed on every change of a data field while editing...
  T->FieldByName("Rate").SetAsFloat(10);
  EXPECT_DOUBLE_EQ(T->FieldByName("Double").AsFloat(), 20);
  // ...but not with AutoCalcFields off.
  T->FAutoCalcFields = false;
  T->FieldByName("Rate").SetAsFloat(30);
  EXPECT_DOUBLE_EQ(T->FieldByName("Double").AsFloat(), 20);
  T->Post();
  EXPECT_DOUBLE_EQ(T->FieldByName("Double").AsFloat(), 60);  // read back after posting

  // A calculated field can be written while editing, never a data field while calculating.
  T->Edit();
  T->FieldByName("Double").SetAsFloat(1);
  EXPECT_DOUBLE_EQ(T->FieldByName("Double").AsFloat(), 1);
  T->Cancel();
  T->OnCalcFields = [](TVLTDataSet& D) { D.FieldByName("Rate").SetAsFloat(0); };
  EXPECT_THROW(T->First(), EVLTDatabaseError);
  T->OnCalcFields = nullptr;
  T->First();

  // The record filter sees the calculated values of the candidates.
  T->OnCalcFields = [](TVLTDataSet& D) {
    D.FieldByName("Double").SetAsFloat(D.FieldByName("Rate").AsFloat() * 2);
  };
  T->SetOnFilterRecord([](TVLTDataSet& D, bool& Accept) {
    Accept = D.FieldByName("Double").AsFloat() > 7;
  });
  T->SetFiltered(true);
  EXPECT_EQ(T->RecordCount(), 2);  // 60 and 8
  T->SetFiltered(false);
  T->Close();

  // The calculated fields are no columns: the table opens with its four fields.
  auto Plain = Employees();
  Plain->Open();
  EXPECT_EQ(Plain->FieldCount(), 4);
  EXPECT_EQ(Plain->RecordCount(), 3);
  EXPECT_GT(Runs, 0);
}

TEST_F(DataSetTest, CreateTableLeavesCalculatedFieldsOut) {
  TVLTTable T;
  T.SetDatabaseName("Pay");
  T.SetTableName("WithCalc");
  T.AddField(std::make_unique<TVLTIntegerField>("Id"));
  T.AddField(std::make_unique<TVLTFloatField>("Twice")).FFieldKind = fkCalculated;
  T.OnCalcFields = [](TVLTDataSet& D) {
    D.FieldByName("Twice").SetAsFloat(D.FieldByName("Id").AsInteger() * 2);
  };
  T.CreateTable();
  T.Open();
  T.AppendRecord({Int(4)});  // values go to the data fields only
  EXPECT_DOUBLE_EQ(T.FieldByName("Twice").AsFloat(), 8);
  T.Close();
  TVLTTable Plain;
  Plain.SetDatabaseName("Pay");
  Plain.SetTableName("WithCalc");
  Plain.Open();
  ASSERT_EQ(Plain.FieldCount(), 1);
  EXPECT_EQ(Plain.Fields(0).FieldName(), "Id");
  EXPECT_EQ(Plain.Fields(0).AsInteger(), 4);
}

TEST_F(DataSetTest, CalculatedFieldsOfUnsupportedTypesAreRefused) {
  auto T = Employees([](TVLTTable& T) {
    DeclareAll(T);
    T.AddField(std::make_unique<TVLTMemoField>("Notes")).FFieldKind = fkCalculated;
  });
  EXPECT_EQ(MessageOf([&] { T->Open(); }),
            "Emp: Field 'Notes' of type Memo cannot be a calculated or lookup field");
  EXPECT_FALSE(T->Active());
}

TEST_F(DataSetTest, LookupFieldsResolveThroughTheLookupDataSet) {
  {
    TVLTTable Maker;
    Maker.SetDatabaseName("Pay");
    Maker.SetTableName("Depts");
    Maker.AddField(std::make_unique<TVLTIntegerField>("Id"));
    Maker.AddField(std::make_unique<TVLTStringField>("Title", 20));
    Maker.CreateTable();
  }
  TVLTTable Depts;
  Depts.SetDatabaseName("Pay");
  Depts.SetTableName("Depts");
  Depts.Open();
  Depts.AppendRecord({Int(10), TVLTVariant()});
  Depts.Edit();
  Depts.FieldByName("Title").SetAsString("Choir");
  Depts.Post();
  Depts.Append();
  Depts.FieldByName("Id").SetAsInteger(20);
  Depts.FieldByName("Title").SetAsString("Finance");
  Depts.Post();

  auto Lookup = [&Depts](TVLTTable& T, const std::string& KeyFields) -> TVLTField& {
    TVLTField& F = T.AddField(std::make_unique<TVLTStringField>("Dept", 20));
    F.FFieldKind = fkLookup;
    F.FLookupDataSet = &Depts;
    F.FLookupKeyFields = "Id";
    F.FLookupResultField = "Title";
    F.FKeyFields = KeyFields;
    return F;
  };
  auto T = Employees([&](TVLTTable& T) {
    DeclareAll(T);
    Lookup(T, "DeptId");
  });
  T->Open();
  Add(*T, 1, "Ann", 1, 20);
  Add(*T, 2, "Bob", 1, 10);
  Add(*T, 3, "Cy", 1, 99);  // no such department
  Add(*T, 4, "Di", 1, 0);   // none given
  std::vector<std::string> Seen;
  for (T->First(); !T->Eof(); T->Next()) Seen.push_back(T->FieldByName("Dept").AsString());
  EXPECT_EQ(Seen, (std::vector<std::string>{"Finance", "Choir", "", ""}));
  EXPECT_EQ(Depts.FieldByName("Id").AsInteger(), 20);  // the lookup does not move it

  // Editing the key field looks up again; the lookup field itself is not for writing.
  T->First();
  T->Edit();
  T->FieldByName("DeptId").SetAsInteger(10);
  EXPECT_EQ(T->FieldByName("Dept").AsString(), "Choir");
  EXPECT_THROW(T->FieldByName("Dept").SetAsString("x"), EVLTDatabaseError);
  T->Cancel();
  // A closed lookup dataset gives NULL.
  Depts.Close();
  T->First();
  EXPECT_TRUE(T->FieldByName("Dept").IsNull());
  T->Close();

  auto Bad = Employees([&](TVLTTable& T) {
    DeclareAll(T);
    Lookup(T, "DeptId").FLookupResultField.clear();
  });
  EXPECT_EQ(MessageOf([&] { Bad->Open(); }),
            "Emp: Lookup information for field 'Dept' is incomplete");
  auto Unknown = Employees([&](TVLTTable& T) {
    DeclareAll(T);
    Lookup(T, "Department");
  });
  EXPECT_EQ(MessageOf([&] { Unknown->Open(); }), "Emp: Field 'Department' not found");
}

// ---- datasets on a database named by its file ----

TEST_F(DataSetTest, DataSetOnAFileNameUsesATemporaryDatabase) {
  // An unencrypted copy, reachable only by its file name.
  const std::string Plain = Dir + "/Plain.vlt";
  {
    TVLTDatabase P;
    P.SetDatabaseName("Plain");
    P.SetDatabaseFileName(Plain);
    P.FSilentMode = true;
    P.CreateDatabase();
    TVLTTable Maker;
    Maker.SetDatabaseName("Plain");
    Maker.SetTableName("Items");
    Maker.AddField(std::make_unique<TVLTIntegerField>("Id"));
    Maker.CreateTable();
  }
  TVLTTable T;
  T.SetDatabaseName(Plain);
  T.SetTableName("Items");
  T.Open();
  TVLTDatabase* Temp = T.Database();
  ASSERT_NE(Temp, nullptr);
  EXPECT_TRUE(Temp->Temporary());
  EXPECT_EQ(Temp->FRefCount, 1);
  EXPECT_EQ(T.DBSession(), &VLTDefaultSession());
  T.AppendRecord({Int(5)});
  EXPECT_EQ(T.RecordCount(), 1);
  T.Close();
  // The session keeps its connections: the database stays, unreferenced, until dropped.
  EXPECT_EQ(Temp->FRefCount, 0);
  EXPECT_EQ(VLTDefaultSession().FindDatabase(Plain), Temp);
  VLTDefaultSession().DropConnections();
  EXPECT_EQ(VLTDefaultSession().FindDatabase(Plain), nullptr);

  TVLTTable Missing;
  Missing.SetDatabaseName(Dir + "/None.vlt");
  Missing.SetTableName("Items");
  EXPECT_EQ(MessageOf([&] { Missing.Open(); }),
            "Database file '" + Dir + "/None.vlt' does not exist");
  EXPECT_EQ(VLTDefaultSession().FindDatabase(Dir + "/None.vlt"), nullptr);

  // "memory" in any letter case is the in-memory database, which holds no tables here.
  TVLTTable M;
  M.SetDatabaseName("memory");
  M.SetTableName("Items");
  EXPECT_TRUE(M.InMemory());
  try {
    M.Open();
    FAIL();
  } catch (const EVLTException& E) {
    EXPECT_EQ(E.NativeError(), 10028);
  }
  EXPECT_FALSE(M.Active());
  auto* Mem = dynamic_cast<TVLTDatabase*>(VLTDefaultSession().FindDatabase("MEMORY"));
  ASSERT_NE(Mem, nullptr);
  EXPECT_EQ(Mem->FRefCount, 0);  // the failed open gave its reference back
  VLTDefaultSession().DropConnections();
}

}  // namespace
}  // namespace vlt::test
