#include "engine/components/VLTTable.h"

#include <algorithm>

#include "engine/base/VLTExcept.h"
#include "engine/base/VLTMemory.h"
#include "engine/components/VLTDatabaseError.h"
#include "engine/disk/VLTDatabaseFile.h"
#include "tests/components/VLTComponentTestUtil.h"

namespace vlt::test {
namespace {

// The flow of one area conversion: an encrypted database, a table from field objects and a
// primary index, records appended through typed fields, edits, deletes, key searches, ranges,
// compaction and reopening.
class TableTest : public TComponentTest {
 protected:
  void SetUp() override {
    TComponentTest::SetUp();
    Db = &NewOpenDatabase();
  }

  std::unique_ptr<TVLTTable> NewTable(bool Create) {
    auto T = std::make_unique<TVLTTable>();
    T->FName = "Emp";
    T->SetDatabaseName("Pay");
    T->SetTableName("Employees");
    T->AddField(std::make_unique<TVLTIntegerField>("Num")).FRequired = true;
    T->AddField(std::make_unique<TVLTSmallintField>("Type"));
    T->AddField(std::make_unique<TVLTStringField>("Name", 30));
    T->AddField(std::make_unique<TVLTCurrencyField>("Rate"));
    T->AddField(std::make_unique<TVLTBooleanField>("Active"));
    T->AddField(std::make_unique<TVLTMemoField>("Notes"));
    T->IndexDefs.push_back({"Main", "Num;Type", "", "", ixPrimary | ixUnique});
    if (Create) T->CreateTable();
    T->SetIndexName("Main");
    T->Open();
    return T;
  }

  static void AppendRow(TVLTTable& T, int32_t Num) {
    T.Append();
    T.FieldByName("Num").SetAsInteger(Num);
    T.FieldByName("Type").SetAsInteger(Num % 3);
    T.FieldByName("Name").SetAsString("Name " + std::to_string(Num));
    T.FieldByName("Rate").SetAsFloat(Num * 1.25);
    T.FieldByName("Active").SetAsBoolean(Num % 2 == 0);
    T.Post();
  }

  static std::vector<int32_t> Nums(TVLTTable& T) {
    std::vector<int32_t> Out;
    for (T.First(); !T.Eof(); T.Next()) Out.push_back(T.FieldByName("Num").AsInteger());
    return Out;
  }

  TVLTDatabase* Db = nullptr;
};

TEST_F(TableTest, AppendReadBackThroughTypedFields) {
  auto T = NewTable(true);
  EXPECT_TRUE(T->IsEmpty());
  EXPECT_EQ(T->RecordCount(), 0);
  for (int32_t I = 1; I <= 12; ++I) AppendRow(*T, I);
  EXPECT_EQ(T->RecordCount(), 12);
  EXPECT_EQ(Nums(*T), (std::vector<int32_t>{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}));
  // No record has a NULL key (Num is required): the search fails and the table stays on the
  // record it showed, the last one.
  EXPECT_FALSE(T->FindKey({TVLTVariant(), TVLTVariant()}));
  EXPECT_EQ(T->FieldByName("Num").AsInteger(), 12);
  TVLTVariant K;
  K.SetAsInteger(3);
  ASSERT_TRUE(T->FindKey({K}));
  EXPECT_EQ(T->FieldByName("Name").AsString(), "Name 3");
  EXPECT_DOUBLE_EQ(T->FieldByName("Rate").AsFloat(), 3.75);
  EXPECT_FALSE(T->FieldByName("Active").AsBoolean());
  K.SetAsInteger(4);
  ASSERT_TRUE(T->FindKey({K}));
  EXPECT_TRUE(T->FieldByName("Notes").IsNull());
  EXPECT_TRUE(T->FieldByName("Active").AsBoolean());
  K.SetAsInteger(99);
  EXPECT_FALSE(T->FindKey({K}));
  EXPECT_EQ(T->FieldByName("Num").AsInteger(), 4);  // position kept
}

TEST_F(TableTest, EditDeleteAndRange) {
  auto T = NewTable(true);
  for (int32_t I = 1; I <= 10; ++I) AppendRow(*T, I);
  TVLTVariant K;
  K.SetAsInteger(5);
  ASSERT_TRUE(T->FindKey({K}));
  T->Edit();
  EXPECT_EQ(T->State(), dsEdit);
  T->FieldByName("Name").SetAsString("Changed");
  T->Post();
  EXPECT_EQ(T->State(), dsBrowse);
  ASSERT_TRUE(T->FindKey({K}));
  EXPECT_EQ(T->FieldByName("Name").AsString(), "Changed");

  K.SetAsInteger(7);
  ASSERT_TRUE(T->FindKey({K}));
  T->Delete();
  EXPECT_EQ(T->FieldByName("Num").AsInteger(), 8);  // the next record becomes current
  EXPECT_EQ(T->RecordCount(), 9);
  EXPECT_FALSE(T->FindKey({K}));

  TVLTVariant A, B;
  A.SetAsInteger(4);
  B.SetAsInteger(8);
  T->SetRange({A}, {B});
  EXPECT_EQ(T->RecordCount(), 4);
  EXPECT_EQ(Nums(*T), (std::vector<int32_t>{4, 5, 6, 8}));
  T->CancelRange();
  EXPECT_EQ(T->RecordCount(), 9);

  T->Last();
  EXPECT_EQ(T->FieldByName("Num").AsInteger(), 10);
  T->Delete();  // deleting the last record moves to the new last one
  EXPECT_EQ(T->FieldByName("Num").AsInteger(), 9);
}

TEST_F(TableTest, EngineErrorKeepsInsertStateAndValues) {
  auto T = NewTable(true);
  AppendRow(*T, 1);
  T->Append();
  T->FieldByName("Num").SetAsInteger(1);
  T->FieldByName("Type").SetAsInteger(1);  // same key as the first record
  T->FieldByName("Name").SetAsString("Dup");
  EXPECT_THROW(T->Post(), EVLTEngineError);
  EXPECT_EQ(T->State(), dsInsert);
  EXPECT_EQ(T->FieldByName("Name").AsString(), "Dup");
  EXPECT_EQ(T->RecNo(), -1);
  T->FieldByName("Num").SetAsInteger(2);
  T->Post();
  EXPECT_EQ(T->RecordCount(), 2);

  T->Append();
  try {
    T->Post();
    FAIL();
  } catch (const EVLTDatabaseError& E) {
    EXPECT_EQ(std::string(E.what()), "Emp: Field 'Num' must have a value");
  }
  EXPECT_EQ(T->State(), dsInsert);
  T->Cancel();
  EXPECT_EQ(T->RecordCount(), 2);
  EXPECT_EQ(T->State(), dsBrowse);
}

TEST_F(TableTest, FieldChecks) {
  auto T = NewTable(true);
  EXPECT_THROW(T->FieldByName("Nope"), EVLTDatabaseError);
  try {
    T->FieldByName("Num").SetAsInteger(1);
    FAIL();
  } catch (const EVLTException& E) {
    EXPECT_EQ(E.NativeError(), 10007);
  }
  T->Append();
  EXPECT_THROW(T->FieldByName("Num").SetAsString("12x"), EVLTDatabaseError);
  EXPECT_THROW(T->FieldByName("Type").SetAsInteger(40000), EVLTDatabaseError);
  EXPECT_THROW(T->FieldByName("Active").SetAsString("maybe"), EVLTDatabaseError);
  T->FieldByName("Name").SetAsString("");
  EXPECT_TRUE(T->FieldByName("Name").IsNull());
  T->Cancel();
  EXPECT_THROW(T->CreateBlobStream(T->FieldByName("Notes"), bmWrite), EVLTException);
}

TEST_F(TableTest, CreateTableValidation) {
  TVLTTable T;
  T.SetDatabaseName("Pay");
  EXPECT_THROW(T.CreateTable(), EVLTDatabaseError);  // missing table name
  T.SetTableName("Bad");
  T.FieldDefs.push_back({"S", ftString, 0, false});
  try {
    T.CreateTable();
    FAIL();
  } catch (const EVLTException& E) {
    EXPECT_EQ(E.NativeError(), 30453);
  }
  T.FieldDefs[0].Size = 10;
  T.IndexDefs.push_back({"I", "Missing", "", "", 0});
  try {
    T.CreateTable();
    FAIL();
  } catch (const EVLTException& E) {
    EXPECT_EQ(E.NativeError(), 20050);
  }
  EXPECT_FALSE(T.Exists());
}

// Exists opens a closed database only for the question, and answers false (raising nothing)
// for a missing file or an unknown database.
TEST_F(TableTest, ExistsLeavesTheDatabaseAsItFoundIt) {
  NewTable(true).reset();
  Db->Close();
  TVLTTable T;
  T.SetDatabaseName("Pay");
  T.SetTableName("Employees");
  EXPECT_TRUE(T.Exists());
  EXPECT_FALSE(Db->Connected());
  T.SetTableName("Nobody");
  EXPECT_FALSE(T.Exists());
  Db->Open();
  T.SetTableName("Employees");
  EXPECT_TRUE(T.Exists());
  EXPECT_TRUE(Db->Connected());
  T.SetDatabaseName(Dir + "/Missing.vlt");
  EXPECT_FALSE(T.Exists());
  EXPECT_FALSE(FileExists(Dir + "/Missing.vlt"));
}

TEST_F(TableTest, CreateReplacesEmptyRenameAndIndexes) {
  {
    auto T = NewTable(true);
    AppendRow(*T, 1);
    EXPECT_EQ(T->RestructureIndexDefs().Count(), 1);
    EXPECT_EQ(T->RestructureIndexDefs()[0].FMaxIndexedSizes, "20;20");
  }
  {
    auto T = NewTable(true);  // replaces the table: its rows are gone
    EXPECT_EQ(T->RecordCount(), 0);
    AppendRow(*T, 2);
    T->Close();
    T->EmptyTable();
    T->Open();
    EXPECT_EQ(T->RecordCount(), 0);
    T->Close();
    T->AddIndex("ByName", "Name", 0);
    T->SetIndexFieldNames("Name");
    T->Open();
    EXPECT_EQ(T->IndexName(), "");
    T->Close();
    T->RenameTable("Staff");
    EXPECT_TRUE(T->Exists());
    T->DeleteTable();
    EXPECT_FALSE(T->Exists());
  }
}

TEST_F(TableTest, CompactReplacesFileAndKeepsRecords) {
  {
    auto T = NewTable(true);
    for (int32_t I = 1; I <= 30; ++I) AppendRow(*T, I);
  }
  Db->Close();
  // One table of 30 records: progress moves while it is copied, never backwards, each value
  // reported once (100 comes again when the new file is complete).
  std::vector<int32_t> Progress;
  bool CopyWasPrivate = false;
  Db->OnCompactProgress = [&](TVLTDatabase&, int32_t P, bool&) {
    Progress.push_back(P);
    if (Progress.size() != 1) return;
    // The copy being written is its writer's alone: nobody else opens it, not even to read.
    TVLTDatabaseFile Other;
    try {
      Other.OpenFile(FileName + ".tmp", amReadOnly, smShareDenyNone);
      Other.CloseFile();
    } catch (const EVLTException&) {
      CopyWasPrivate = true;
    }
  };
  EXPECT_TRUE(Db->CompactDatabase());
  EXPECT_TRUE(CopyWasPrivate);
  ASSERT_FALSE(Progress.empty());
  EXPECT_EQ(Progress.back(), 100);
  EXPECT_GE(Progress.size(), 20u);
  EXPECT_TRUE(std::is_sorted(Progress.begin(), Progress.end()));
  EXPECT_EQ(std::adjacent_find(Progress.begin(), Progress.end() - 1), Progress.end() - 1);
  EXPECT_FALSE(FileExists(FileName + ".tmp"));

  TVLTDatabase& Again = NewDatabase("Again", "s3cret");
  Again.Open();
  TVLTTable T;
  T.SetDatabaseName("Again");
  T.SetTableName("Employees");
  T.SetIndexName("Main");
  T.Open();
  EXPECT_EQ(T.RecordCount(), 30);
  TVLTVariant K;
  K.SetAsInteger(3);
  ASSERT_TRUE(T.FindKey({K}));
  EXPECT_EQ(T.FieldByName("Name").AsString(), "Name 3");
  T.Close();
  Again.Close();

  TVLTDatabase& Wrong = NewDatabase("Wrong", "nope");
  EXPECT_THROW(Wrong.Open(), EVLTException);
}

TEST_F(TableTest, BookmarksAndLocate) {
  auto T = NewTable(true);
  for (int32_t I = 1; I <= 5; ++I) AppendRow(*T, I);
  T->First();
  const TVLTBookmark B1 = T->GetBookmark();
  T->Last();
  const TVLTBookmark B5 = T->GetBookmark();
  EXPECT_EQ(T->CompareBookmarks(B1, B5), -1);
  EXPECT_EQ(T->CompareBookmarks(B1, {}), -1);
  EXPECT_EQ(T->CompareBookmarks({}, B5), 1);
  EXPECT_EQ(T->CompareBookmarks({}, {}), 0);
  T->GotoBookmark(B1);
  EXPECT_EQ(T->FieldByName("Num").AsInteger(), 1);
  EXPECT_TRUE(T->BookmarkValid(B5));
  TVLTVariant V;
  V.SetAsAnsiString("Name 4");
  ASSERT_TRUE(T->Locate("Name", {V}));
  EXPECT_EQ(T->FieldByName("Num").AsInteger(), 4);
}

}  // namespace
}  // namespace vlt::test

namespace vlt::test {
namespace {
TEST_F(TableTest, MemoRoundTrip) {
  auto T = NewTable(true);
  T->Append();
  T->FieldByName("Num").SetAsInteger(1);
  T->FieldByName("Notes").SetAsString("hello memo");
  EXPECT_EQ(T->FieldByName("Notes").AsString(), "hello memo");
  T->Post();
  EXPECT_EQ(T->FieldByName("Notes").AsString(), "hello memo");
  T->First();
  EXPECT_EQ(T->FieldByName("Notes").AsString(), "hello memo");

  // The whole text, zero bytes included: a memo or BLOB is bytes, not a zero-terminated string.
  const std::string Binary("ab\0cd\0", 6);
  T->Edit();
  T->FieldByName("Notes").SetAsString(Binary);
  EXPECT_EQ(T->FieldByName("Notes").AsString(), Binary);
  T->Post();
  T->First();
  EXPECT_EQ(T->FieldByName("Notes").AsString(), Binary);
}
}  // namespace
}  // namespace vlt::test

namespace vlt::test {
namespace {

TEST_F(TableTest, RecordFilterRestrictsCountAndNavigation) {
  auto T = NewTable(true);
  for (int32_t I = 1; I <= 9; ++I) AppendRow(*T, I);
  T->SetOnFilterRecord([](TVLTDataSet& D, bool& Accept) {
    Accept = D.FieldByName("Type").AsInteger() == 1;
  });
  T->SetFiltered(true);
  EXPECT_EQ(T->RecordCount(), 3);
  EXPECT_EQ(Nums(*T), (std::vector<int32_t>{1, 4, 7}));
  T->Last();
  T->Delete();  // the new last matching record becomes current
  EXPECT_EQ(T->FieldByName("Num").AsInteger(), 4);
  T->Delete();
  T->Delete();
  EXPECT_TRUE(T->Eof());
  EXPECT_TRUE(T->IsEmpty());
  T->SetFiltered(false);
  EXPECT_EQ(T->RecordCount(), 6);
}

TEST_F(TableTest, StoppedCompactionLeavesTheFileUnchanged) {
  {
    auto T = NewTable(true);
    for (int32_t I = 1; I <= 5; ++I) AppendRow(*T, I);
  }
  Db->Close();
  const auto SizeBefore = std::filesystem::file_size(FileName);
  Db->OnCompactProgress = [](TVLTDatabase&, int32_t, bool& Continue) { Continue = false; };
  try {
    Db->CompactDatabase();
    FAIL();
  } catch (const EVLTException& E) {
    EXPECT_EQ(E.NativeError(), 30456);
  }
  EXPECT_FALSE(FileExists(FileName + ".tmp"));
  EXPECT_EQ(std::filesystem::file_size(FileName), SizeBefore);
  Db->OnCompactProgress = nullptr;
  auto T = NewTable(false);
  EXPECT_EQ(T->RecordCount(), 5);
}

TEST_F(TableTest, CloseInEditStateCancels) {
  auto T = NewTable(true);
  AppendRow(*T, 1);
  T->Edit();
  T->FieldByName("Name").SetAsString("Lost");
  T->Close();
  T->Open();
  EXPECT_EQ(T->FieldByName("Name").AsString(), "Name 1");
  T->Edit();
  T->FieldByName("Name").SetAsString("Kept");
  T->First();  // moving posts a modified record
  EXPECT_EQ(T->FieldByName("Name").AsString(), "Kept");
}

}  // namespace
}  // namespace vlt::test

namespace vlt::test {
namespace {

TEST_F(TableTest, PrimaryIndexBecomesKeyConstraintAndRequiredNotNull) {
  auto T = NewTable(true);
  const TVLTConstraintDefs& C = *T->Handle()->FConstraintDefs;
  bool SawPK = false, SawNotNull = false;
  for (int32_t I = 0; I < C.Count(); ++I) {
    if (C[I].FConstraintType == ctPK) {
      SawPK = true;
      EXPECT_EQ(C[I].FName, "C_PK$Num$Type");
    }
    if (C[I].FConstraintType == ctNotNull) {
      SawNotNull = true;
      EXPECT_EQ(static_cast<const TVLTConstraintDefNotNull&>(C[I]).FColumnName, "Num");
    }
  }
  EXPECT_TRUE(SawPK);
  EXPECT_TRUE(SawNotNull);
  EXPECT_TRUE(T->FieldByName("Num").FRequired);
  EXPECT_EQ(T->IndexFieldCount(), 2);
  EXPECT_EQ(T->IndexFields(1).FieldName(), "Type");
  EXPECT_THROW(T->IndexFields(2), EVLTDatabaseError);
  // Only index fields may be set while keys are edited.
  T->SetKey();
  EXPECT_THROW(T->FieldByName("Name").SetAsString("x"), EVLTException);
  T->Cancel();
  T->SetIndexName("");
  EXPECT_THROW(T->FindKey({TVLTVariant()}), EVLTDatabaseError);  // no index currently active
}

}  // namespace
}  // namespace vlt::test

namespace vlt::test {
namespace {

int32_t CodeOf(auto&& F) {
  try {
    F();
  } catch (const EVLTException& E) {
    return E.NativeError();
  }
  return 0;
}

// Rows appended in the order 5, 1, 4, 2, 3 so that index order and physical order differ.
class TableIndexTest : public TableTest {
 protected:
  std::unique_ptr<TVLTTable> Filled() {
    auto T = NewTable(true);
    for (int32_t N : {5, 1, 4, 2, 3}) AppendRow(*T, N * 10);
    return T;
  }
  // A table on the same file with default field objects.
  static std::unique_ptr<TVLTTable> Plain() {
    auto T = std::make_unique<TVLTTable>();
    T->FName = "Plain";
    T->SetDatabaseName("Pay");
    T->SetTableName("Employees");
    return T;
  }
};

TEST_F(TableIndexTest, GotoNearestExclusiveInclusiveAndPastTheEnd) {
  auto T = Filled();
  struct {
    int32_t Key;
    bool Exclusive;
    int32_t Expected;
  } Cases[] = {
      {30, false, 30}, {30, true, 40}, {25, false, 30}, {25, true, 30},
      {0, false, 10},  {50, true, 50}, {99, false, 50},  // nothing found: the last record
  };
  for (const auto& C : Cases) {
    SCOPED_TRACE(std::to_string(C.Key) + (C.Exclusive ? " exclusive" : " inclusive"));
    T->First();
    T->SetKey();
    T->SetKeyFieldCount(1);
    T->SetKeyExclusive(C.Exclusive);
    T->FieldByName("Num").SetAsInteger(C.Key);
    T->Post();  // leaves the key state, keeping the values
    EXPECT_EQ(T->State(), dsBrowse);
    T->GotoNearest();
    EXPECT_EQ(T->FieldByName("Num").AsInteger(), C.Expected);
  }
  T->FindNearest({Int(35)});
  EXPECT_EQ(T->FieldByName("Num").AsInteger(), 40);
}

TEST_F(TableIndexTest, RecNoFollowsTheActiveIndex) {
  auto T = Filled();
  ASSERT_TRUE(T->FindKey({Int(20)}));
  EXPECT_EQ(T->RecNo(), 2);
  T->Last();
  EXPECT_EQ(T->RecNo(), 5);
  T->SetRecNo(3);
  EXPECT_EQ(T->FieldByName("Num").AsInteger(), 30);
  EXPECT_EQ(T->RecNo(), 3);
  T->SetRecNo(1);
  EXPECT_EQ(T->FieldByName("Num").AsInteger(), 10);
  T->SetIndexName("");  // physical order: the order of appending
  T->First();
  EXPECT_EQ(T->FieldByName("Num").AsInteger(), 50);
  T->SetRecNo(2);
  EXPECT_EQ(T->FieldByName("Num").AsInteger(), 10);
}

TEST_F(TableIndexTest, DeleteAllIndexesDropsKeysAndRangesButKeepsRows) {
  auto T = Filled();
  T->AddIndex("ByName", "Name", 0);
  T->SetRange({Int(20)}, {Int(30)});
  EXPECT_EQ(T->RecordCount(), 2);
  T->DeleteAllIndexes();
  EXPECT_EQ(T->RestructureIndexDefs().Count(), 0);
  EXPECT_EQ(T->IndexFieldCount(), 0);
  EXPECT_EQ(T->RecordCount(), 5);  // the range went with its index
  EXPECT_THROW(T->FindKey({Int(20)}), EVLTDatabaseError);
  T->Close();
  T->Open();
  EXPECT_EQ(T->RecordCount(), 5);
  EXPECT_EQ(T->RestructureIndexDefs().Count(), 0);
  // Deleting the active index alone also leaves no stale key geometry.
  T->Close();
  T->AddIndex("Main", "Num;Type", ixPrimary | ixUnique);
  T->SetIndexName("Main");
  T->Open();
  EXPECT_EQ(T->IndexFieldCount(), 2);
  T->DeleteIndex("Main");
  EXPECT_EQ(T->IndexFieldCount(), 0);
  EXPECT_EQ(T->RecordCount(), 5);
}

TEST_F(TableIndexTest, IndexOperationsRefuseTransactions) {
  Filled().reset();
  auto T = Plain();
  Db->StartTransaction();
  EXPECT_EQ(CodeOf([&] { T->DeleteAllIndexes(); }), 20178);
  EXPECT_EQ(CodeOf([&] { T->RenameField("Name", "FullName"); }), 20179);
  EXPECT_FALSE(T->Active());
  EXPECT_FALSE(T->Exclusive());
  Db->Rollback();
  T->Open();
  EXPECT_EQ(T->RestructureIndexDefs().Count(), 1);
  EXPECT_NE(T->FindField("Name"), nullptr);
}

TEST_F(TableIndexTest, RenameFieldKeepsValuesAndRestoresExclusiveFlag) {
  Filled().reset();
  auto T = Plain();
  T->RenameField("Name", "FullName");
  EXPECT_FALSE(T->Active());
  EXPECT_FALSE(T->Exclusive());
  EXPECT_EQ(CodeOf([&] { T->RenameField("Nope", "X"); }), 30343);
  EXPECT_EQ(CodeOf([&] { T->RenameField("Type", "FullName"); }), 30344);
  EXPECT_FALSE(T->Exclusive());
  T->SetIndexName("Main");
  T->Open();
  EXPECT_EQ(T->FindField("Name"), nullptr);
  ASSERT_TRUE(T->FindKey({Int(40)}));
  EXPECT_EQ(T->FieldByName("FullName").AsString(), "Name 40");
  EXPECT_THROW(T->RenameField("FullName", "Name"), EVLTDatabaseError);  // open table
}

TEST_F(TableIndexTest, DistinctViewAndIndexLookups) {
  auto T = Filled();  // Type = Num % 3: 10->1, 20->2, 30->0, 40->1, 50->2
  EXPECT_FALSE(T->IndexExists({"Type"}, {}, {}));
  bool Created = false;
  const std::string Name = T->FindOrCreateIndex({"Type"}, {}, {}, Created);
  EXPECT_TRUE(Created);
  EXPECT_FALSE(Name.empty());
  EXPECT_TRUE(T->IndexExists({"Type"}, {}, {}));
  EXPECT_EQ(T->FindOrCreateIndex({"Type"}, {}, {}, Created), Name);
  EXPECT_FALSE(Created);

  T->ApplyDistinct({"Type"}, {}, {});
  EXPECT_EQ(T->IndexName(), Name);
  EXPECT_EQ(T->RecordCount(), 3);
  std::vector<int32_t> Types;
  for (T->First(); !T->Eof(); T->Next()) Types.push_back(T->FieldByName("Type").AsInteger());
  EXPECT_EQ(Types, (std::vector<int32_t>{0, 1, 2}));

  T->Close();
  EXPECT_THROW(T->ApplyDistinct({"Type"}, {}, {}), EVLTDatabaseError);
  EXPECT_THROW(T->IndexExists({"Type"}, {}, {}), EVLTDatabaseError);
}

}  // namespace
}  // namespace vlt::test

namespace vlt::test {
namespace {

// Two multi-user connections to one file in this process: key searches and ranges take the
// shared table lock only while they read, so the other connection can write again.
class TableSharedLockTest : public TComponentTest {};

TEST_F(TableSharedLockTest, KeySearchesAndRangesReleaseTheirSharedTableLock) {
  TVLTDatabase& A = NewDatabase("PayA");
  A.FMultiUser = true;
  A.CreateDatabase();
  A.Open();
  TVLTTable T;
  T.SetDatabaseName("PayA");
  T.SetTableName("Members");
  T.FieldDefs.push_back({"Num", ftInteger, 0, true});
  T.IndexDefs.push_back({"Main", "Num", "", "", ixPrimary | ixUnique});
  T.CreateTable();
  T.SetIndexName("Main");
  T.Open();
  for (int32_t I = 1; I <= 5; ++I) T.AppendRecord({Int(I)});

  TVLTSession Other;
  VLTSessions().Add(&Other);
  Other.SetSessionName("OtherUser");
  Other.Open();
  TVLTDatabase& B = NewDatabase("PayB");
  B.SetSessionName("OtherUser");
  B.FMultiUser = true;
  B.Open();
  TVLTTable U;
  U.FSessionName = "OtherUser";
  U.SetDatabaseName("PayB");
  U.SetTableName("Members");
  U.Open();
  // The write lock conflicts with the shared lock, not with the open table.
  auto OtherCanWrite = [&] {
    const bool Got = U.Handle()->LockTable(ltRW, 1, 0, false);
    if (Got) U.Handle()->UnlockTable(ltRW, true);
    return Got;
  };
  ASSERT_TRUE(OtherCanWrite());
  ASSERT_TRUE(T.FindKey({Int(3)}));
  EXPECT_TRUE(OtherCanWrite());
  T.FindNearest({Int(9)});
  EXPECT_EQ(T.FieldByName("Num").AsInteger(), 5);
  EXPECT_TRUE(OtherCanWrite());
  T.SetRange({Int(2)}, {Int(4)});
  EXPECT_EQ(T.RecordCount(), 3);
  EXPECT_TRUE(OtherCanWrite());
  U.Close();
  B.Close();
  T.Close();
  A.Close();
  Other.Close();
}

}  // namespace
}  // namespace vlt::test

namespace vlt::test {
namespace {

// Tables with a memo column copy, export and restructure: NULL memos stay NULL.
TEST_F(TableTest, TablesWithAMemoColumnCopyExportAndRestructure) {
  auto T = NewTable(true);
  for (int32_t I = 1; I <= 3; ++I) AppendRow(*T, I);
  const std::string Other = Dir + "/Copy.vlt";
  {
    TVLTDatabase& D = NewDatabase("Copy");
    D.SetDatabaseFileName(Other);
    D.CreateDatabase();
  }
  EXPECT_TRUE(T->CopyTable("Employees", Other, "s3cret"));
  TVLTTable Exported;
  Exported.SetDatabaseName("Pay");
  Exported.SetTableName("Exported");
  EXPECT_TRUE(T->ExportTable(Exported, true));
  T->RestructureFieldDefs().Add("Extra", aftInteger);
  EXPECT_TRUE(T->RestructureTable());
  for (auto* Db : {"Copy", "Pay"}) {
    SCOPED_TRACE(Db);
    TVLTTable C;
    C.SetDatabaseName(Db);
    C.SetTableName(std::string(Db) == "Copy" ? "Employees" : "Exported");
    C.Open();
    EXPECT_EQ(C.RecordCount(), 3);
    C.Last();
    EXPECT_EQ(C.FieldByName("Name").AsString(), "Name 3");
    EXPECT_TRUE(C.FieldByName("Notes").IsNull());
  }
  T->First();
  EXPECT_EQ(T->FieldByName("Rate").AsFloat(), 1.25);
  EXPECT_NE(T->RestructureFieldDefs().Find("Extra"), nullptr);  // persistent fields: no object
  EXPECT_EQ(T->RecordCount(), 3);
}

}  // namespace
}  // namespace vlt::test

namespace vlt::test {
namespace {

// A scan in key order re-uses the record buffer each read replaces: every row must show its
// own values (its memo included, never the one of the row before), in both directions, also
// across records deleted under the scan, and the scan must not grow the memory in use.
TEST_F(TableTest, KeyOrderScanShowsEachRowsOwnValuesAndMemos) {
  auto T = NewTable(true);
  constexpr int32_t kRows = 600;  // several index leaves and record pages
  for (int32_t I = kRows; I >= 1; --I) {
    AppendRow(*T, I);
    if (I % 4 == 0) {
      T->Edit();
      T->FieldByName("Notes").SetAsString("memo " + std::to_string(I));
      T->Post();
    }
  }
  auto Check = [&](int32_t Num) {
    EXPECT_EQ(T->FieldByName("Name").AsString(), "Name " + std::to_string(Num));
    EXPECT_EQ(T->FieldByName("Notes").AsString(),
              Num % 4 == 0 ? "memo " + std::to_string(Num) : "");
  };
  TVLTMemoryManager& Mem = TVLTMemoryManager::Instance();
  T->First();
  T->Next();
  const int64_t Base = Mem.AllocatedSize();
  int32_t Num = 0;
  for (T->First(); !T->Eof(); T->Next()) {
    ASSERT_EQ(T->FieldByName("Num").AsInteger(), ++Num);
    Check(Num);
  }
  EXPECT_EQ(Num, kRows);
  EXPECT_EQ(Mem.AllocatedSize(), Base);
  for (T->Last(); !T->Bof(); T->Prior()) {
    ASSERT_EQ(T->FieldByName("Num").AsInteger(), Num);
    Check(Num--);
  }
  EXPECT_EQ(Num, 0);
  // Delete every third row while walking: the next row read is still the right one.
  std::vector<int32_t> Left;
  for (T->First(); !T->Eof();) {
    const int32_t Num = T->FieldByName("Num").AsInteger();
    Check(Num);
    if (Num % 3 == 0) {
      T->Delete();
    } else {
      Left.push_back(Num);
      T->Next();
    }
  }
  EXPECT_EQ(Left.size(), static_cast<size_t>(kRows - kRows / 3));
  EXPECT_EQ(Nums(*T), Left);
}

}  // namespace
}  // namespace vlt::test
