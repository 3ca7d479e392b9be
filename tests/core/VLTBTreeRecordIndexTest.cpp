// The B-tree record index inside a table: inserts, updates and deletes through the table data
// flows, unique checks on truncated strings, index navigation, record numbers, positions and
// distinct reduction. Records live in the in-memory record manager of the table test doubles;
// index pages in an in-memory page manager.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "engine/core/VLTBTreeRecordIndex.h"
#include "engine/core/VLTIndexManager.h"
#include "engine/core/VLTRecordBitmap.h"
#include "tests/core/VLTPageTestUtil.h"
#include "tests/core/VLTTableTestDoubles.h"

namespace vlt {
namespace {

using test::CodeOf;

class TBTreeTableData : public test::TTestTableData {
 public:
  using TTestTableData::TTestTableData;
  std::unique_ptr<TVLTIndex> NewIndex(const TVLTIndexSite& Site) override {
    return CreateBTreeRecordIndex(Site);
  }
  TVLTBTreeRecordIndex& BTree(const std::string& Name) {
    const TVLTIndexDef* Def = FIndexManager->IndexDefs().GetIndexDefByName(Name);
    return static_cast<TVLTBTreeRecordIndex&>(FIndexManager->OpenIndex(Def->FObjectID));
  }
  int32_t IndexID(const std::string& Name) {
    return FIndexManager->IndexDefs().GetIndexDefByName(Name)->FObjectID;
  }
};

class TBTreeDatabaseData : public TVLTDatabaseData {
 public:
  TBTreeDatabaseData() : TVLTDatabaseData("BTreeDB") {
    SetPageManager(std::make_unique<test::TMemPageManager>(256));
  }
  std::unique_ptr<TVLTTableData> CreateTableData(TVLTTableCursor& Cursor) override {
    return std::make_unique<TBTreeTableData>(this, Cursor.FTableName, nullptr);
  }
};

// Table T(Id integer, Name varchar(50)) with a unique index on Name and one on Id.
struct TTable {
  TBTreeDatabaseData DB;
  TVLTSessionData Session;
  TVLTTableCursor Cursor;
  TBTreeTableData* Table = nullptr;
  std::vector<uint8_t> Buffer, EditBuffer;

  TTable() {
    TVLTFieldDefs Fields;
    test::AddField(Fields, "Id", aftInteger);
    test::AddField(Fields, "Name", aftString, 50);
    TVLTIndexDefs Indexes;
    test::AddIndexDef(Indexes, "ByName", {"Name"}, true);
    test::AddIndexDef(Indexes, "ById", {"Id"});
    TVLTConstraintDefs Constraints;
    DB.ConnectSession(Session);
    Cursor.FSession = &Session;
    Cursor.FTableName = "T";
    Table = static_cast<TBTreeTableData*>(DB.FindOrCreateTableData(Cursor));
    Table->CreateTable(Cursor, Fields, Constraints, Indexes);
    Table->OpenTable(Cursor);
    const size_t Size = static_cast<size_t>(Table->RecordManager()->FRecordBufferSize);
    Buffer.assign(Size, 0);
    EditBuffer.assign(Size, 0);
    Cursor.FCurrentRecordBuffer = Buffer.data();
    Cursor.FEditRecordBuffer = EditBuffer.data();
  }
  ~TTable() {
    Table->CloseTable(Cursor);
    DB.DisconnectSession(Session);
  }
  TVLTSessionID S() const { return Cursor.SessionID(); }
  TVLTBaseFieldManager& Fields() { return *Table->FieldManager(); }
  std::vector<uint8_t> Record(int32_t Id, const std::string& Name) {
    std::vector<uint8_t> R(Buffer.size());
    Fields().InitRecordBuffer(R.data());
    Fields().SetFieldData(0, &Id, R.data());
    // The field manager copies the field's whole slot from the source.
    std::vector<char> Slot(64, 0);
    std::memcpy(Slot.data(), Name.c_str(), std::min<size_t>(Name.size(), 50));
    if (!Name.empty()) Fields().SetFieldData(1, Slot.data(), R.data());
    return R;
  }
  bool Insert(int32_t Id, const std::string& Name) {
    Buffer = Record(Id, Name);
    Cursor.FCurrentRecordBuffer = Buffer.data();
    return Table->InsertRecord(Cursor);
  }
  // Names along an index from the first record.
  std::vector<std::string> Walk(const std::string& Index, TVLTGetRecordMode Mode = grmNext) {
    TVLTBTreeRecordIndex& I = Table->BTree(Index);
    std::vector<std::string> Out;
    TVLTNavigationInfo Nav;
    Nav.GetRecordMode = Mode;
    Nav.FirstPosition = Mode == grmNext;
    Nav.LastPosition = Mode == grmPrior;
    std::vector<uint8_t> R(Buffer.size());
    Nav.RecordBuffer = R.data();
    for (;;) {
      I.GetRecordBuffer(S(), Nav, 0, &Cursor.FIndexPositionCache);
      if (Nav.GetRecordResult != grrOK) break;
      char Name[64] = {};
      if (!Fields().GetFieldData(1, Name, R.data())) std::strcpy(Name, "<null>");
      Out.emplace_back(Name);
    }
    return Out;
  }
};

const std::string kP = "abcdefghijklmnopqrst";  // the 20 characters a key stores of Name

TEST(BTreeRecordIndex, InsertUniqueByFullValueAndNavigate) {
  TTable T;
  ASSERT_TRUE(T.Insert(3, kP + "b"));
  ASSERT_TRUE(T.Insert(1, kP + "a"));
  ASSERT_TRUE(T.Insert(2, kP));
  ASSERT_TRUE(T.Insert(4, ""));
  TVLTBTreeRecordIndex& ByName = T.Table->BTree("ByName");
  ByName.CheckIntegrity(T.S());
  EXPECT_EQ(T.Walk("ByName"), (std::vector<std::string>{"<null>", kP, kP + "a", kP + "b"}));
  EXPECT_EQ(T.Walk("ByName", grmPrior), (std::vector<std::string>{kP + "b", kP + "a", kP, "<null>"}));
  // Equal in the stored 20 characters, different as a whole: not a duplicate.
  EXPECT_TRUE(ByName.CanInsertRecord(T.S(), T.Record(9, kP + "c").data()));
  EXPECT_FALSE(ByName.CanInsertRecord(T.S(), T.Record(9, kP + "a").data()));
  EXPECT_FALSE(ByName.CanInsertRecord(T.S(), T.Record(9, kP).data()));
  EXPECT_TRUE(ByName.CanUpdateRecord(T.S(), T.Record(1, kP + "a").data(), T.Record(7, kP + "a").data()));
  EXPECT_FALSE(ByName.CanUpdateRecord(T.S(), T.Record(1, kP + "a").data(), T.Record(1, kP).data()));
  EXPECT_EQ(ByName.CompareRecordBuffersByIndex(T.Record(0, kP + "a").data(), T.Record(0, kP + "b").data(), 0), -1);
  // A non-unique index takes anything.
  EXPECT_TRUE(T.Table->BTree("ById").CanInsertRecord(T.S(), T.Record(1, "x").data()));
}

TEST(BTreeRecordIndex, UpdateMovesTheEntryAndDeleteRemovesIt) {
  TTable T;
  for (int32_t I = 0; I < 40; ++I) ASSERT_TRUE(T.Insert(I, "name" + std::to_string(100 + I)));
  TVLTBTreeRecordIndex& ByName = T.Table->BTree("ByName");
  // Rename record 5 so that it sorts last.
  TVLTPageItemID Id;
  {
    std::vector<TVLTPageItemID> Ids;
    ByName.Tree().ForEachEntry(T.S(), [&](const uint8_t*, const uint8_t* Ref, const TVLTKeyPath&) {
      Ids.push_back(TVLTPageItemID::LoadFrom(Ref));
      return true;
    });
    Id = Ids[5];
  }
  T.Cursor.CurrentRecordID = Id;
  T.EditBuffer = T.Record(5, "name105");
  T.Buffer = T.Record(5, "zzz");
  T.Cursor.FCurrentRecordBuffer = T.Buffer.data();
  T.Cursor.FEditRecordBuffer = T.EditBuffer.data();
  ASSERT_TRUE(T.Table->UpdateRecord(T.Cursor));
  ByName.CheckIntegrity(T.S());
  std::vector<std::string> W = T.Walk("ByName");
  ASSERT_EQ(W.size(), 40u);
  EXPECT_EQ(W.back(), "zzz");
  EXPECT_EQ(std::count(W.begin(), W.end(), "name105"), 0);
  EXPECT_EQ(ByName.GetRecNoByRecordID(T.S(), Id, nullptr), 40);
  EXPECT_EQ(ByName.GetRecordIDByRecNo(T.S(), 40), Id);

  T.Cursor.CurrentRecordID = Id;
  ASSERT_TRUE(T.Table->DeleteRecord(T.Cursor));
  ByName.CheckIntegrity(T.S());
  EXPECT_EQ(T.Walk("ByName").size(), 39u);
  EXPECT_EQ(ByName.GetRecNoByRecordID(T.S(), Id, T.Record(5, "zzz").data()), -1);
  // Deleting an entry that is not there is an index error.
  T.Buffer = T.Record(5, "zzz");
  T.Cursor.FCurrentRecordBuffer = T.Buffer.data();
  EXPECT_EQ(CodeOf([&] { ByName.DeleteRecord(T.Cursor); }), 20027);
}

TEST(BTreeRecordIndex, PositionsDistinctAndRangeEstimate) {
  TTable T;
  // Ids 0..59 with names repeating every 6 records: 10 distinct names.
  for (int32_t I = 0; I < 60; ++I) ASSERT_TRUE(T.Insert(I, "n" + std::to_string(I % 10) + "_" + std::to_string(I)));
  TVLTBTreeRecordIndex& ById = T.Table->BTree("ById");
  ById.CheckIntegrity(T.S());
  // Every position's bit number leads back to its record.
  TVLTRecordBitmap Bitmap(T.Table);
  Bitmap.SetIndexBased(true);
  ById.Tree().ForEachEntry(T.S(), [&](const uint8_t*, const uint8_t* Ref, const TVLTKeyPath& Path) {
    TVLTBTreeIndexPosition P;
    P.Path = Path;
    int64_t Bit = ById.IndexPositionToBitNo(P);
    TVLTBTreeIndexPosition Back;
    ById.BitNoToIndexPosition(Bit, Back);
    EXPECT_EQ(ById.GetRecordIDByIndexPosition(T.S(), Back), TVLTPageItemID::LoadFrom(Ref));
    Bitmap.SetBitValue(Bit, true);
    return true;
  });
  EXPECT_EQ(Bitmap.GetRecordCount(), 60);
  // Id alone is distinct: nothing hidden.
  ById.ApplyDistinctToRecordBitmap(T.S(), &Bitmap, 1);
  EXPECT_EQ(Bitmap.GetRecordCount(), 60);
  EXPECT_EQ(CodeOf([&] { ById.ApplyDistinctToRecordBitmap(T.S(), nullptr, 1); }), 20076);

  // Range 10 <= Id <= 29 of 60 records: about 20.
  auto Lo = T.Record(10, ""), Hi = T.Record(29, "");
  int64_t N = ById.GetApproxRangeRecordCount(
      T.S(), {scLowerEqual, Hi.data(), 1}, {scGreaterEqual, Lo.data(), 1}, 60);
  EXPECT_NEAR(static_cast<double>(N), 20.0, 3.0);
  auto Past = T.Record(100, "");
  EXPECT_EQ(ById.GetApproxRangeRecordCount(T.S(), {scGreater, Past.data(), 1},
                                           {scGreater, Past.data(), 1}, 60),
            0);
  TVLTBTreeIndexPosition Pos;
  EXPECT_TRUE(ById.FindByCondition(T.S(), true, scGreater, Lo.data(), 1, false, Pos));
  EXPECT_EQ(ById.GetRecordIDByIndexPosition(T.S(), Pos),
            ById.GetRecordIDByRecNo(T.S(), 12));  // Ids 0..10 come first
  EXPECT_EQ(TVLTBTreeRecordIndex::CompareConditions(scGreaterEqual, scLower), -1);
  EXPECT_EQ(TVLTBTreeRecordIndex::CompareConditions(scLower, scGreater), 1);
  EXPECT_EQ(TVLTBTreeRecordIndex::CompareConditions(scEqual, scEqual), 0);
}

TEST(BTreeRecordIndex, DistinctKeepsFirstOfEqualRuns) {
  TTable T;
  TVLTIndexDef Def;
  Def.SetName("ByNameId");
  Def.AssignByNames({"Name", "Id"}, {"ASC", "ASC"}, {"CASE", "CASE"});
  T.Table->AddIndex(Def, &T.Cursor);
  for (int32_t I = 0; I < 30; ++I) ASSERT_TRUE(T.Insert(I, kP + static_cast<char>('a' + I % 3)));
  TVLTBTreeRecordIndex& I = T.Table->BTree("ByNameId");
  I.CheckIntegrity(T.S());
  TVLTRecordBitmap Bitmap(T.Table);
  std::vector<int64_t> Bits;
  I.Tree().ForEachEntry(T.S(), [&](const uint8_t*, const uint8_t*, const TVLTKeyPath& Path) {
    Bits.push_back(I.Tree().PathToBitNo(Path));
    Bitmap.SetBitValue(Bits.back(), true);
    return true;
  });
  Bitmap.SetIndexBased(true);
  I.ApplyDistinctToRecordBitmap(T.S(), &Bitmap, 1);
  // Three names (tied on their stored prefix, different as a whole) stay, one each.
  EXPECT_EQ(Bitmap.GetRecordCount(), 3);
  EXPECT_TRUE(Bitmap.IsRecordVisible(Bits[0]));
  EXPECT_TRUE(Bitmap.IsRecordVisible(Bits[10]));
  EXPECT_TRUE(Bitmap.IsRecordVisible(Bits[20]));
}

TEST(BTreeRecordIndex, RefusedOperations) {
  TTable T;
  TVLTBTreeRecordIndex& ById = T.Table->BTree("ById");
  TVLTNavigationInfo Nav;
  Nav.GetRecordMode = grmCurrent;
  EXPECT_EQ(CodeOf([&] { ById.GetRecordBuffer(T.S(), Nav, 0, nullptr); }), 20053);
  EXPECT_EQ(CodeOf([&] { ById.GetRecordIDByRecNo(T.S(), 1); }), 20074);
  TVLTIndexDef NoRoot;
  NoRoot.AssignByNames({"Id"}, {"ASC"}, {"CASE"});
  const TVLTIndexSite Nowhere;
  TVLTBTreeRecordIndex Other(Nowhere);
  EXPECT_EQ(CodeOf([&] { Other.OpenIndex(NoRoot); }), 20119);
}

}  // namespace
}  // namespace vlt
