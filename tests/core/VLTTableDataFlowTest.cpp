// Table data: the insert, update and delete flows (order and undo), navigation, record numbers,
// restricted views and temporary indexes, with the in-memory test doubles.
#include <gtest/gtest.h>

#include "tests/VLTTestUtil.h"
#include "tests/core/VLTTableTestDoubles.h"

namespace vlt::test {
namespace {

// A table with integer fields V and W, indexes IV (V) and IW (W).
struct TFlowTable : TTestTable {
  static const TVLTFieldDefs& Fields2() {
    static const TVLTFieldDefs& F = *[] {
      auto* D = new TVLTFieldDefs;
      AddField(*D, "V", aftInteger);
      AddField(*D, "W", aftInteger);
      return D;
    }();
    return F;
  }
  static const TVLTIndexDefs& Indexes(bool WithIndexes) {
    static const TVLTIndexDefs None;
    static const TVLTIndexDefs& Two = *[] {
      auto* D = new TVLTIndexDefs;
      AddIndexDef(*D, "IV", {"V"});
      AddIndexDef(*D, "IW", {"W"});
      return D;
    }();
    return WithIndexes ? Two : None;
  }
  explicit TFlowTable(bool WithIndexes = true)
      : TTestTable(Fields2(), Indexes(WithIndexes), TVLTConstraintDefs()) {
    Log.clear();
  }
  ~TFlowTable() { TTestIndex::FailInsertFor.clear(), TTestIndex::FailUpdateAfterFor.clear(); }
  std::vector<int32_t> IndexValues(const std::string& Name) {
    std::vector<int32_t> Out;
    for (const auto& E : Table->Index(Name).Entries()) Out.push_back(GetInt(0, E.Record.data()));
    return Out;
  }
};

TEST(TableFlowTest, InsertOrder) {
  TFlowTable T;
  T.InsertInt(1);
  EXPECT_EQ(T.Log, (TLog{"blobs.write", "rm.add", "idx.IV.insert", "idx.IW.insert",
                         "mostupdated.save", "apply"}));
  EXPECT_FALSE(T.Cursor.FirstPosition);
  EXPECT_FALSE(T.Cursor.LastPosition);
  EXPECT_EQ(T.Cursor.CurrentRecordID, TTestRecordManager::IDOfSlot(0));
}

TEST(TableFlowTest, InsertInBatchOrTransactionDoesNotApply) {
  TFlowTable T;
  T.Cursor.FBatchUpdate = true;
  T.InsertInt(1);
  EXPECT_EQ(T.Log.back(), "mostupdated.save");
  T.Cursor.FBatchUpdate = false;
  T.Session.InTransaction = true;
  T.Log.clear();
  T.InsertInt(2);
  EXPECT_EQ(T.Log.back(), "apply(tx)");
}

TEST(TableFlowTest, RefusedAddChangesNothingElse) {
  TFlowTable T;
  T.Table->Records().FailAdd = true;
  T.NewRecord();
  T.SetInt(0, 1);
  EXPECT_FALSE(T.Table->InsertRecord(T.Cursor));
  EXPECT_EQ(T.Log, (TLog{"blobs.write", "rm.add"}));
  EXPECT_TRUE(T.Table->Index("IV").Entries().empty());
}

TEST(TableFlowTest, FailedIndexInsertLeavesNoTrace) {
  TFlowTable T;
  T.InsertInt(1);
  TTestIndex::FailInsertFor = "IW";
  T.Log.clear();
  EXPECT_THROW(T.InsertInt(2), EVLTException);
  // The first index's entry and the stored record are gone again.
  EXPECT_EQ(T.Log, (TLog{"blobs.write", "rm.add", "idx.IV.insert", "idx.IW.insert",
                         "idx.IV.delete", "blobs.delete", "rm.delete"}));
  EXPECT_EQ(T.IndexValues("IV"), (std::vector<int32_t>{1}));
  EXPECT_EQ(T.IndexValues("IW").size(), 1u);
  EXPECT_EQ(T.Table->RecordManager()->FRecordCount, 1);
  EXPECT_EQ(T.Cursor.CurrentRecordID, TTestRecordManager::IDOfSlot(0));
  T.Table->IndexManager()->CheckInvariants();
}

TEST(TableFlowTest, UpdateOrderAndIndexContents) {
  TFlowTable T;
  const auto ID = T.InsertInt(5);
  T.InsertInt(7);
  T.GoTo(ID);
  T.SetInt(0, 9);
  T.Log.clear();
  ASSERT_TRUE(T.Table->UpdateRecord(T.Cursor));
  EXPECT_EQ(T.Log, (TLog{"idx.IV.update-before", "idx.IW.update-before", "blobs.write",
                         "rm.update", "idx.IV.update-after", "idx.IW.update-after",
                         "mostupdated.save", "apply"}));
  EXPECT_EQ(T.IndexValues("IV"), (std::vector<int32_t>{7, 9}));
}

TEST(TableFlowTest, RefusedUpdatePutsOldEntriesBack) {
  TFlowTable T;
  const auto ID = T.InsertInt(5);
  T.GoTo(ID);
  T.SetInt(0, 6);
  T.Table->Records().FailUpdate = true;
  EXPECT_FALSE(T.Table->UpdateRecord(T.Cursor));
  EXPECT_EQ(T.IndexValues("IV"), (std::vector<int32_t>{5}));
  EXPECT_EQ(T.Table->Index("IV").Entries()[0].ID, ID);
}

TEST(TableFlowTest, FailedIndexUpdateAfterStoringRestoresRecordAndEntries) {
  TFlowTable T;
  const auto ID = T.InsertInt(5);
  T.GoTo(ID);
  T.SetInt(0, 6);
  T.SetInt(1, 60);
  TTestIndex::FailUpdateAfterFor = "IW";
  EXPECT_THROW(T.Table->UpdateRecord(T.Cursor), EVLTException);
  EXPECT_EQ(T.IndexValues("IV"), (std::vector<int32_t>{5}));
  ASSERT_EQ(T.Table->Index("IW").Entries().size(), 1u);
  std::vector<uint8_t> Stored = T.Table->Records().Record(0);
  EXPECT_EQ(T.GetInt(0, Stored.data()), 5);
  EXPECT_EQ(T.GetInt(1, Stored.data()), INT32_MIN);  // W was NULL and is again
}

TEST(TableFlowTest, DeleteOrderAndNeighbour) {
  TFlowTable T;
  const auto A = T.InsertInt(1);
  const auto B = T.InsertInt(2);
  const auto C = T.InsertInt(3);
  // Middle record: the cursor goes to the next one.
  T.GoTo(B);
  T.Log.clear();
  ASSERT_TRUE(T.Table->DeleteRecord(T.Cursor));
  EXPECT_EQ(T.Log, (TLog{"blobs.delete", "idx.IV.delete", "idx.IW.delete", "rm.delete",
                         "mostupdated.save", "apply"}));
  EXPECT_EQ(T.Cursor.CurrentRecordID, C);
  EXPECT_EQ(T.GetInt(0), 3);
  // Last record: the prior one.
  ASSERT_TRUE(T.Table->DeleteRecord(T.Cursor));
  EXPECT_EQ(T.Cursor.CurrentRecordID, A);
  EXPECT_FALSE(T.Cursor.FirstPosition);
  // The only record: the cursor is marked at the first position.
  ASSERT_TRUE(T.Table->DeleteRecord(T.Cursor));
  EXPECT_TRUE(T.Cursor.FirstPosition);
  EXPECT_FALSE(T.Cursor.LastPosition);
  EXPECT_TRUE(T.Table->Index("IV").Entries().empty());
  EXPECT_EQ(T.Table->GetRecordBuffer(T.Cursor, grmNext), grrEOF);
}

TEST(TableFlowTest, DeleteOfAVanishedRecordStops) {
  TFlowTable T;
  const auto A = T.InsertInt(1);
  T.InsertInt(2);
  T.GoTo(A);
  T.Table->Records().DeleteRecord(0, A);  // gone behind the table's back
  T.Log.clear();
  EXPECT_FALSE(T.Table->DeleteRecord(T.Cursor));
  EXPECT_EQ(T.Log, (TLog{"blobs.delete"}));
}

TEST(TableFlowTest, RefusedDeleteKeepsIndexEntries) {
  TFlowTable T;
  const auto A = T.InsertInt(1);
  T.GoTo(A);
  T.Table->Records().FailDelete = true;
  EXPECT_FALSE(T.Table->DeleteRecord(T.Cursor));
  EXPECT_EQ(T.IndexValues("IV"), (std::vector<int32_t>{1}));
  EXPECT_EQ(T.IndexValues("IW").size(), 1u);
}

TEST(TableFlowTest, MissingBuffersAndManagers) {
  TFlowTable T;
  T.Cursor.FCurrentRecordBuffer = nullptr;
  for (auto [Code, F] : std::vector<std::pair<int32_t, std::function<void()>>>{
           {20136, [&] { T.Table->InsertRecord(T.Cursor); }},
           {20139, [&] { T.Table->UpdateRecord(T.Cursor); }},
           {10016, [&] { T.Table->GetRecordBuffer(T.Cursor, grmNext); }}}) {
    try {
      F();
      ADD_FAILURE() << Code;
    } catch (const EVLTException& E) {
      EXPECT_EQ(E.NativeError(), Code);
      EXPECT_NE(std::string(E.what()).find("Nil pointer occured"), std::string::npos);
    }
  }
}

// ---- navigation ----

struct TNavCase {
  const char* Name;
  std::vector<int32_t> Values;
  bool ByIndex;
};

class NavigationTest : public ::testing::TestWithParam<TNavCase> {};

TEST_P(NavigationTest, WalksBothWaysAndStopsAtTheEnds) {
  const TNavCase& C = GetParam();
  TFlowTable T;
  for (int32_t V : C.Values) T.InsertInt(V);
  if (C.ByIndex)
    T.Cursor.FIndexID = T.Table->IndexManager()->IndexDefs().GetIndexDefByName("IV")->FObjectID;
  std::vector<int32_t> Expected = C.Values;
  if (C.ByIndex) std::sort(Expected.begin(), Expected.end());
  // An empty table answers end of file and leaves the cursor's flags alone.
  EXPECT_EQ(T.Walk(grmNext), Expected);
  EXPECT_EQ(T.Cursor.LastPosition, !C.Values.empty());
  std::vector<int32_t> Back(Expected.rbegin(), Expected.rend());
  EXPECT_EQ(T.Walk(grmPrior), Back);
  EXPECT_EQ(T.Cursor.FirstPosition, !C.Values.empty());
  // From the first position, prior stays there; from the last, next stays there.
  EXPECT_EQ(T.Table->GetRecordBuffer(T.Cursor, grmPrior), C.Values.empty() ? grrEOF : grrBOF);
  T.Cursor.FirstPosition = false;
  T.Cursor.LastPosition = true;
  EXPECT_EQ(T.Table->GetRecordBuffer(T.Cursor, grmNext), grrEOF);
  EXPECT_EQ(T.Table->GetRecordCount(T.Cursor), static_cast<int64_t>(C.Values.size()));
}

INSTANTIATE_TEST_SUITE_P(Cases, NavigationTest,
                         ::testing::Values(TNavCase{"Empty", {}, false},
                                           TNavCase{"OnePhysical", {4}, false},
                                           TNavCase{"TwoPhysical", {4, 2}, false},
                                           TNavCase{"OneIndexed", {4}, true},
                                           TNavCase{"TwoIndexed", {4, 2}, true},
                                           TNavCase{"ThreeIndexed", {4, 2, 3}, true}),
                         [](const auto& Info) { return std::string(Info.param.Name); });

TEST(TableNavigationTest, IndexNavigationFromAVanishedRecordFindsTheClosest) {
  TFlowTable T;
  T.InsertInt(1);
  const auto B = T.InsertInt(2);
  T.InsertInt(3);
  T.Cursor.FIndexID = T.Table->IndexManager()->IndexDefs().GetIndexDefByName("IV")->FObjectID;
  T.GoTo(B);
  ASSERT_TRUE(T.Table->DeleteRecord(T.Cursor));
  // The cursor still stands on the deleted record and holds its values.
  for (auto [Mode, Expected] : {std::pair{grmNext, 3}, std::pair{grmPrior, 1}}) {
    T.Cursor.CurrentRecordID = B;
    T.Cursor.FirstPosition = T.Cursor.LastPosition = false;
    T.SetInt(0, 2);
    ASSERT_EQ(T.Table->GetRecordBuffer(T.Cursor, Mode), grrOK);
    EXPECT_EQ(T.GetInt(0), Expected);
  }
}

TEST(TableNavigationTest, RecordNumbers) {
  TFlowTable T;
  EXPECT_EQ(T.Table->GetRecNo(T.Cursor), -1);
  T.Table->SetRecNo(T.Cursor, 1);  // no record: nothing happens
  EXPECT_TRUE(T.Cursor.FirstPosition);
  T.InsertInt(30);
  T.InsertInt(10);
  T.InsertInt(20);
  T.Table->SetRecNo(T.Cursor, 2);
  EXPECT_EQ(T.Table->GetRecNo(T.Cursor), 2);
  EXPECT_EQ(T.Cursor.CurrentRecordID, TTestRecordManager::IDOfSlot(1));
  T.Table->SetRecNo(T.Cursor, 99);  // cut to the count
  EXPECT_EQ(T.Table->GetRecNo(T.Cursor), 3);
  T.Cursor.FIndexID = T.Table->IndexManager()->IndexDefs().GetIndexDefByName("IV")->FObjectID;
  T.Table->SetRecNo(T.Cursor, 1);
  EXPECT_EQ(T.GetInt(0), 10);
  EXPECT_EQ(T.Table->GetRecNo(T.Cursor), 1);
  T.Cursor.LastPosition = true;
  EXPECT_EQ(T.Table->GetRecNo(T.Cursor), -1);
}

// ---- restricted views ----

TEST(TableViewTest, FilterRestrictsCountNavigationAndRecordNumbers) {
  TFlowTable T;
  for (int32_t V = 1; V <= 12; ++V) T.InsertInt(V);  // slots across a byte of the bitmap
  T.Cursor.FilterRecord = [&T](const uint8_t* B) { return T.GetInt(0, B) % 3 == 0; };
  EXPECT_EQ(T.Table->GetRecordCount(T.Cursor), 4);
  EXPECT_EQ(T.Walk(grmNext), (std::vector<int32_t>{3, 6, 9, 12}));
  EXPECT_EQ(T.Walk(grmPrior), (std::vector<int32_t>{12, 9, 6, 3}));
  T.Table->SetRecNo(T.Cursor, 3);
  EXPECT_EQ(T.GetInt(0), 9);
  EXPECT_EQ(T.Table->GetRecNo(T.Cursor), 3);
  // A record that is not visible, read directly, is an error for the cursor.
  T.Cursor.CurrentRecordID = TTestRecordManager::IDOfSlot(0);
  EXPECT_EQ(T.Table->GetRecordBuffer(T.Cursor, grmCurrent), grrError);

  // An insert shows the new record in the bitmap (visible or not, the count follows).
  T.InsertInt(15);
  EXPECT_TRUE(T.Cursor.FRecordBitmap->IsRecordVisible(T.Cursor.CurrentRecordID));
  EXPECT_EQ(T.Table->GetRecordCount(T.Cursor), 5);
  T.InsertInt(16);
  EXPECT_EQ(T.Table->GetRecordCount(T.Cursor), 5);
  // A delete hides the record and leaves an up-to-date bitmap up to date.
  T.Table->SetRecNo(T.Cursor, 1);
  ASSERT_TRUE(T.Table->DeleteRecord(T.Cursor));
  EXPECT_FALSE(T.Cursor.FRecordBitmap->Outdated());
  EXPECT_EQ(T.Table->GetRecordCount(T.Cursor), 4);
  EXPECT_EQ(T.GetInt(0), 6);
}

TEST(TableViewTest, RangeOnIndexWithBounds) {
  TFlowTable T;
  for (int32_t V : {5, 1, 4, 2, 3}) T.InsertInt(V);
  T.Cursor.FIndexID = T.Table->IndexManager()->IndexDefs().GetIndexDefByName("IV")->FObjectID;
  std::vector<uint8_t> Lo(T.Buffer.size()), Hi(T.Buffer.size());
  T.Fields().InitRecordBuffer(Lo.data());
  T.Fields().InitRecordBuffer(Hi.data());
  int32_t L = 2, H = 4;
  T.Fields().SetFieldData(0, &L, Lo.data());
  T.Fields().SetFieldData(0, &H, Hi.data());
  T.Cursor.FRangeStartBuffer = Lo.data();
  T.Cursor.FRangeEndBuffer = Hi.data();
  T.Cursor.FRangeStartKeyFieldCount = T.Cursor.FRangeEndKeyFieldCount = 1;
  EXPECT_EQ(T.Walk(grmNext), (std::vector<int32_t>{2, 3, 4}));
  T.Cursor.FRangeStartExclusive = true;
  T.Cursor.FRecordBitmap->Clear();
  EXPECT_EQ(T.Walk(grmNext), (std::vector<int32_t>{3, 4}));
  T.Cursor.FRangeEndExclusive = true;
  T.Cursor.FRecordBitmap->Clear();
  EXPECT_EQ(T.Walk(grmPrior), (std::vector<int32_t>{3}));
  EXPECT_EQ(T.Table->GetRecordCount(T.Cursor), 1);
}

TEST(TableViewTest, DistinctKeepsTheFirstOfEachGroup) {
  TFlowTable T;
  for (int32_t V : {2, 1, 2, 1, 3}) T.InsertInt(V);
  T.Cursor.FIndexID = T.Table->IndexManager()->IndexDefs().GetIndexDefByName("IV")->FObjectID;
  T.Cursor.FDistinctFieldCount = 1;
  EXPECT_EQ(T.Walk(grmNext), (std::vector<int32_t>{1, 2, 3}));
  EXPECT_EQ(T.Table->GetRecordCount(T.Cursor), 3);
}

// ---- temporary indexes ----

TEST(TemporaryIndexTest, CreatedFoundAndKeptCurrent) {
  TFlowTable T(false);
  T.InsertInt(3);
  T.InsertInt(1);
  std::string Name;
  bool Created = false;
  T.Table->FindOrCreateIndex(T.Cursor, {"V"}, Name, Created, {"CASE"}, {"ASC"});
  EXPECT_TRUE(Created);
  EXPECT_EQ(Name.rfind("TEMPORARY_INDEX_{", 0), 0u);
  EXPECT_EQ(Name.size(), std::string("TEMPORARY_INDEX_").size() + 38);
  const TVLTIndexDef* Def = T.Table->IndexManager()->IndexDefs().GetIndexDefByName(Name);
  ASSERT_NE(Def, nullptr);
  EXPECT_TRUE(Def->FTemporary);
  EXPECT_EQ(Def->FSessionID, T.Session.SessionID);
  EXPECT_EQ(T.IndexValues(Name), (std::vector<int32_t>{1, 3}));
  T.Table->IndexManager()->CheckInvariants();
  // Found again rather than made twice.
  std::string Again;
  T.Table->FindOrCreateIndex(T.Cursor, {"V"}, Again, Created, {"CASE"}, {"ASC"});
  EXPECT_FALSE(Created);
  EXPECT_EQ(Again, Name);
  // Kept current by the flows, without a rebuild.
  T.Log.clear();
  T.InsertInt(2);
  EXPECT_EQ(T.IndexValues(Name), (std::vector<int32_t>{1, 2, 3}));
  EXPECT_EQ(std::count(T.Log.begin(), T.Log.end(), "idx." + Name + ".rebuild"), 0);
  EXPECT_EQ(Def->FTableState, T.Table->RecordManager()->FTableState);
  T.Table->IndexManager()->CheckInvariants();
  // A definition taken for a lasting one while its index is open as temporary is caught.
  TVLTIndexDef* Listed = T.Table->IndexManager()->IndexDefs().GetIndexDefByName(Name);
  Listed->FTemporary = false;
  EXPECT_EQ(CodeOf([&] { T.Table->IndexManager()->CheckInvariants(); }), 20981);
  Listed->FTemporary = true;
}

TEST(TemporaryIndexTest, RebuiltWhenAnotherWriterChangedTheTable) {
  TFlowTable T(false);
  T.Session.MultiUser = true;
  T.InsertInt(3);
  std::string Name;
  bool Created = false;
  T.Table->FindOrCreateIndex(T.Cursor, {"V"}, Name, Created, {"CASE"}, {"ASC"});
  // Another process stores a record: only the record manager knows.
  std::vector<uint8_t> Other(T.Buffer.size());
  T.Fields().InitRecordBuffer(Other.data());
  int32_t V = 1;
  T.Fields().SetFieldData(0, &V, Other.data());
  TVLTPageItemID ID;
  T.Table->Records().AddRecord(0, Other.data(), ID);
  T.Log.clear();
  T.InsertInt(2);
  EXPECT_EQ(T.Log.at(0), "idx." + Name + ".rebuild");
  EXPECT_EQ(T.IndexValues(Name), (std::vector<int32_t>{1, 2, 3}));
}

TEST(TemporaryIndexTest, RebuiltAfterRollback) {
  TFlowTable T(false);
  T.InsertInt(3);
  std::string Name;
  bool Created = false;
  T.Table->FindOrCreateIndex(T.Cursor, {"V"}, Name, Created, {"CASE"}, {"ASC"});
  T.Log.clear();
  T.DB.Rollback(T.Session.SessionID);
  EXPECT_EQ(T.Log, (TLog{"idx." + Name + ".rebuild"}));
  T.Table->IndexManager()->CheckInvariants();
}

// ---- table level ----

TEST(TableLevelTest, OpenByAnotherCursor) {
  TFlowTable T;
  TVLTTableCursor Other;
  Other.FSession = &T.Session;
  Other.FTableName = "t";  // names compare without case
  ASSERT_EQ(T.DB.FindTableData(Other), T.Table);
  T.Table->OpenTable(Other);
  try {
    T.Table->DeleteTable(T.Cursor, false);
    ADD_FAILURE();
  } catch (const EVLTException& E) {
    EXPECT_EQ(std::string(E.what()),
              "Cannot delete table 'T'. Table is open by another dataset - Native error: 20017");
  }
  EXPECT_NO_THROW(T.Table->DeleteTable(T.Cursor, true));
  try {
    T.Table->RenameTable("U", T.Cursor);
    ADD_FAILURE();
  } catch (const EVLTException& E) {
    EXPECT_EQ(E.NativeError(), 10150);
  }
  T.Table->CloseTable(Other);
  T.Table->RenameTable("U", T.Cursor);
  EXPECT_EQ(T.Table->TableName(), "U");
  EXPECT_TRUE(T.DB.TableExists("u"));
}

TEST(TableLevelTest, RenameField) {
  TFlowTable T;
  EXPECT_THROW(
      {
        try {
          T.Table->RenameField("Nope", "X");
        } catch (const EVLTException& E) {
          EXPECT_EQ(E.NativeError(), 30343);
          throw;
        }
      },
      EVLTException);
  try {
    T.Table->RenameField("V", "w");
    ADD_FAILURE();
  } catch (const EVLTException& E) {
    EXPECT_EQ(std::string(E.what()),
              "Cannot rename field 'V'. Field 'w' already exists - Native error: 30344");
  }
  T.Table->RenameField("V", "Value");
  EXPECT_EQ(T.Table->IndexManager()->IndexDefs().GetIndexDefByName("IV")->FIndexColumns[0].FFieldName,
            "Value");
  T.InsertInt(1);  // the indexes work on the renamed field
  EXPECT_EQ(T.IndexValues("IV"), (std::vector<int32_t>{1}));
}

TEST(TableLevelTest, EmptyTableResetsAutoincsAndIndexes) {
  TVLTFieldDefs F;
  AddField(F, "V", aftInteger);
  AddField(F, "ID", aftAutoInc);
  TVLTIndexDefs I;
  AddIndexDef(I, "IV", {"V"});
  TTestTable T(F, I, TVLTConstraintDefs());
  T.NewRecord();
  T.SetInt(0, 1);
  T.Fields().ApplyAutoincsToRecordBuffer(&T.Session, T.Buffer.data());
  ASSERT_TRUE(T.Table->InsertRecord(T.Cursor));
  EXPECT_EQ(T.Fields().LastAutoIncValue(1), 1);
  T.Table->EmptyTable(T.Cursor);
  EXPECT_EQ(T.Fields().LastAutoIncValue(1), 0);
  EXPECT_TRUE(T.Table->Index("IV").Entries().empty());
}

TEST(DatabaseDataTest, SessionsAndTables) {
  TTestDatabaseData DB;
  TVLTSessionData S1, S2;
  DB.ConnectSession(S1);
  DB.ConnectSession(S2);
  EXPECT_EQ(S1.SessionID, 0);
  EXPECT_FALSE(DB.FreeIfNoSessionsConnected());
  TVLTTableCursor C;
  C.FTableName = "Accounts";
  TVLTTableData* T = DB.FindOrCreateTableData(C);
  EXPECT_EQ(DB.FindOrCreateTableData(C), T);
  std::vector<std::string> Names;
  DB.GetTablesList(Names);
  EXPECT_EQ(Names, (std::vector<std::string>{"Accounts"}));
  EXPECT_NE(DB.GetNewObjectId(), DB.GetNewObjectId());
  DB.DisconnectSession(S1);
  DB.DisconnectSession(S2);
  EXPECT_TRUE(DB.FreeIfNoSessionsConnected());
  EXPECT_EQ(DB.TryCount(), 20);
  EXPECT_EQ(DB.DelayMS(), 50);
  EXPECT_EQ(DB.PageManager(), nullptr);
}

}  // namespace
}  // namespace vlt::test
