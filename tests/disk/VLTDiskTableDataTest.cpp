// Tables in a database file: create, insert, read in physical and index order, update, delete,
// reopen, full pages, empty, delete, rename, indexes added to and dropped from a filled table.
#include "engine/disk/VLTDiskTableData.h"

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "VLTDiskTestUtil.h"
#include "VLTFileCheckTestUtil.h"
#include "engine/core/VLTPage.h"
#include "engine/disk/VLTDiskDatabaseData.h"
#include "engine/disk/VLTDiskRecordManager.h"
#include "engine/disk/VLTFreeSpaceManager.h"
#include "engine/disk/VLTInternalFile.h"
#include "engine/disk/VLTRecordPage.h"

namespace vlt {
namespace {

using test::CodeOf;

TVLTDiskDatabaseData::TLockWaits ShortWaits() {
  TVLTDiskDatabaseData::TLockWaits W;
  W.Count = W.CommitCount = W.TablesCount = 3;
  W.DelayMS = W.CommitDelayMS = W.TablesDelayMS = 1;
  return W;
}

TVLTFieldDef& AddField(TVLTFieldDefs& Defs, const std::string& Name, TVLTAdvancedFieldType Type,
                       int32_t Size = 0) {
  TVLTFieldDef& F = Defs.AddNew();
  F.SetName(Name);
  F.SetFieldDefDataType(Type, Size);
  return F;
}

TVLTIndexDef MakeIndex(const std::string& Name, const std::vector<std::string>& Columns,
                       bool Primary = false) {
  TVLTIndexDef D;
  D.SetName(Name);
  D.AssignByNames(Columns, std::vector<std::string>(Columns.size(), "ASC"),
                  std::vector<std::string>(Columns.size(), "CASE"));
  D.FUnique = D.FPrimary = Primary;
  return D;
}

// The people table: ID (integer, primary index PK), NAME (string 20, index BYNAME), AMOUNT
// (double), DAY (date), FLAG (boolean).
class DiskTable : public test::DiskTest {
 protected:
  void SetUp() override {
    DiskTest::SetUp();
    auto D = NewData();
    D->CreateDatabase();
    Connect();
    AddField(Fields, "ID", aftInteger);
    AddField(Fields, "NAME", aftString, 20);
    AddField(Fields, "AMOUNT", aftDouble);
    AddField(Fields, "DAY", aftDate);
    AddField(Fields, "FLAG", aftBoolean);
    Indexes.AddNew().Assign(MakeIndex("PK", {"ID"}, true));
    Indexes.AddNew().Assign(MakeIndex("BYNAME", {"NAME"}));
  }
  void TearDown() override {
    Disconnect();
    DiskTest::TearDown();
  }
  std::unique_ptr<TVLTDiskDatabaseData> NewData() {
    auto D = std::make_unique<TVLTDiskDatabaseData>(Path, "Default");
    D->SetLockWaits(ShortWaits());
    D->SetPageSize(PageSize);
    D->SetMaxSessionCount(4);
    return D;
  }
  void Connect() {
    Db = NewData();
    DS = {};
    Db->ConnectSession(DS);
    Session.SessionID = DS.SessionID;
    Session.MultiUser = DS.MultiUser;
    Link = std::make_unique<TVLTDiskBackedDatabaseData>(Db.get());
  }
  void Disconnect() {
    CloseTable();
    Table.reset();
    Link.reset();
    if (Db) Db->DisconnectSession(DS);
    Db.reset();
  }
  void Reconnect() {
    Disconnect();
    Connect();
  }
  // The end of a repair test: the file, checked on its own, is sound.
  void ExpectSoundFile() {
    Disconnect();
    test::ExpectSoundDatabaseFile(Path);
  }

  void CreateTable(const std::string& Name = "People") {
    TVLTTableCursor C;
    C.FSession = &Session;
    C.FTableName = Name;
    TVLTDiskTableData T(Link.get(), Db.get(), Name);
    T.CreateTable(C, Fields, TVLTConstraintDefs(), Indexes);
  }
  void OpenTable(const std::string& Name = "People") {
    Table = std::make_unique<TVLTDiskTableData>(Link.get(), Db.get(), Name);
    Cursor = std::make_unique<TVLTTableCursor>();
    Cursor->FSession = &Session;
    Cursor->FTableName = Name;
    Table->OpenTable(*Cursor);
    const int32_t Size = Table->FieldManager()->GetMemoryRecordBufferSize();
    Buffer.assign(static_cast<size_t>(Size), 0);
    Edit.assign(static_cast<size_t>(Size), 0);
    Cursor->FCurrentRecordBuffer = Buffer.data();
    Cursor->FEditRecordBuffer = Edit.data();
  }
  void CloseTable() {
    if (Table && Cursor && Cursor->FTableName.size()) Table->CloseTable(*Cursor);
    Cursor.reset();
  }

  TVLTBaseFieldManager& FM() { return *Table->FieldManager(); }
  TVLTDiskRecordManager& RM() { return *Table->DiskRecordManager(); }
  void SetStr(int32_t FieldNo, const std::string& S, uint8_t* B) {
    std::vector<char> V(static_cast<size_t>(FM().FieldDefs()[FieldNo].FMemoryDataSize), 0);
    std::memcpy(V.data(), S.data(), std::min(S.size(), V.size() - 1));
    FM().SetFieldData(FieldNo, S.empty() ? nullptr : V.data(), B);
  }
  std::string GetStr(int32_t FieldNo, const uint8_t* B) {
    std::vector<char> V(static_cast<size_t>(FM().FieldDefs()[FieldNo].FMemoryDataSize) + 1, 0);
    if (!FM().GetFieldData(FieldNo, V.data(), B)) return "<null>";
    return V.data();
  }
  int32_t GetInt(const uint8_t* B) {
    int32_t V = 0;
    return FM().GetFieldData(0, &V, B) ? V : INT32_MIN;
  }
  double GetDouble(const uint8_t* B) {
    double V = 0;
    return FM().GetFieldData(2, &V, B) ? V : -1;
  }

  // A new record with ID = Id, NAME = Name, AMOUNT = Id / 4.
  TVLTPageItemID Insert(int32_t Id, const std::string& Name) {
    FM().InitRecordBuffer(Buffer.data());
    FM().SetFieldData(0, &Id, Buffer.data());
    SetStr(1, Name, Buffer.data());
    double Amount = Id / 4.0;
    FM().SetFieldData(2, &Amount, Buffer.data());
    int32_t Day = 730000 + Id;
    FM().SetFieldData(3, &Day, Buffer.data());
    uint16_t Flag = Id % 2;
    FM().SetFieldData(4, &Flag, Buffer.data());
    EXPECT_TRUE(Table->InsertRecord(*Cursor));
    return Cursor->CurrentRecordID;
  }
  void GoTo(const TVLTPageItemID& ID) {
    Cursor->CurrentRecordID = ID;
    Cursor->FirstPosition = Cursor->LastPosition = false;
    ASSERT_EQ(Table->GetRecordBuffer(*Cursor, grmCurrent), grrOK);
    Edit = Buffer;
  }
  // IDs (field 0) in the order of the index (empty = physical order).
  std::vector<int32_t> Ids(const std::string& Index = {}, bool Backwards = false) {
    Cursor->FIndexID = -1;
    if (!Index.empty())
      Cursor->FIndexID = Table->IndexManager()->IndexDefs().GetIndexDefByName(Index)->FObjectID;
    Cursor->FirstPosition = !Backwards;
    Cursor->LastPosition = Backwards;
    std::vector<int32_t> Out;
    while (Table->GetRecordBuffer(*Cursor, Backwards ? grmPrior : grmNext) == grrOK)
      Out.push_back(GetInt(Buffer.data()));
    Cursor->FIndexID = -1;
    return Out;
  }
  std::vector<std::string> Problems() {
    std::vector<std::string> P;
    Table->CheckTable(Session.SessionID, P);
    return P;
  }
  int32_t RecordPages() {
    int32_t N = 0;
    TVLTPageNo No = kNoPage;
    auto& Index = RM().RecordPageIndex();
    if (Index.GetFirstRecordPage(Session.SessionID, No)) do ++N;
      while (Index.GetNextRecordPage(Session.SessionID, No, No));
    return N;
  }
  int32_t UsedPages() {
    auto* M = Db->PageManager();
    int32_t N = 0;
    for (TVLTPageNo No = 0; No < M->PageCount(); ++No)
      N += M->FreeSpaceManager()->GetPageUsageFromPFS(No) ? 1 : 0;
    return N;
  }

  uint16_t PageSize = 4096;
  std::unique_ptr<TVLTDiskDatabaseData> Db;
  std::unique_ptr<TVLTDiskBackedDatabaseData> Link;
  TVLTDatabaseSession DS;
  TVLTSessionData Session;
  TVLTFieldDefs Fields;
  TVLTIndexDefs Indexes;
  std::unique_ptr<TVLTDiskTableData> Table;
  std::unique_ptr<TVLTTableCursor> Cursor;
  std::vector<uint8_t> Buffer, Edit;
};

TEST_F(DiskTable, RecordsSurviveReopeningInEveryOrder) {
  CreateTable();
  OpenTable();
  EXPECT_EQ(Table->GetRecordBuffer(*Cursor, grmNext), grrEOF);
  const std::vector<std::pair<int32_t, std::string>> Rows = {
      {5, "Eve"}, {1, "Carl"}, {4, "Bob"}, {2, "Dora"}, {3, "Alice"}};
  std::map<int32_t, TVLTPageItemID> Where;
  for (const auto& [Id, Name] : Rows) Where[Id] = Insert(Id, Name);
  EXPECT_EQ(Ids(), (std::vector<int32_t>{5, 1, 4, 2, 3}));
  EXPECT_EQ(Ids({}, true), (std::vector<int32_t>{3, 2, 4, 1, 5}));
  EXPECT_EQ(Ids("PK"), (std::vector<int32_t>{1, 2, 3, 4, 5}));
  EXPECT_EQ(Ids("BYNAME"), (std::vector<int32_t>{3, 4, 1, 2, 5}));

  // Update in place: the record keeps its identifier, the name index follows.
  GoTo(Where[4]);
  SetStr(1, "Zed", Buffer.data());
  ASSERT_TRUE(Table->UpdateRecord(*Cursor));
  EXPECT_EQ(Cursor->CurrentRecordID, Where[4]);
  GoTo(Where[2]);
  ASSERT_TRUE(Table->DeleteRecord(*Cursor));
  EXPECT_EQ(Ids("BYNAME"), (std::vector<int32_t>{3, 1, 5, 4}));
  EXPECT_TRUE(Problems().empty());

  Reconnect();
  OpenTable();
  EXPECT_EQ(Table->GetRecordCount(*Cursor), 4);
  EXPECT_EQ(Ids(), (std::vector<int32_t>{5, 1, 4, 3}));
  EXPECT_EQ(Ids("PK"), (std::vector<int32_t>{1, 3, 4, 5}));
  EXPECT_EQ(Ids("BYNAME"), (std::vector<int32_t>{3, 1, 5, 4}));
  GoTo(Where[4]);
  EXPECT_EQ(GetStr(1, Buffer.data()), "Zed");
  EXPECT_DOUBLE_EQ(GetDouble(Buffer.data()), 1.0);
  int32_t Day = 0;
  ASSERT_TRUE(FM().GetFieldData(3, &Day, Buffer.data()));
  EXPECT_EQ(Day, 730004);
  Cursor->CurrentRecordID = Where[2];
  EXPECT_EQ(Table->GetRecordBuffer(*Cursor, grmCurrent), grrError);  // deleted
  EXPECT_TRUE(Problems().empty());
}

TEST_F(DiskTable, MostUpdatedFileHoldsCountsAndStateAcrossReopen) {
  CreateTable();
  OpenTable();
  for (int I = 1; I <= 3; ++I) Insert(I, "N" + std::to_string(I));
  // 4 + 5 x 8 + 8 bytes for five fields.
  EXPECT_EQ(Table->MostUpdatedFile()->GetSize(Session.SessionID), 52);
  const int32_t State = RM().FTableState;
  EXPECT_EQ(State, 3);
  Reconnect();
  OpenTable();
  EXPECT_EQ(RM().FRecordCount, 3);
  EXPECT_EQ(RM().FTableState, State);
}

TEST_F(DiskTable, RecordNumbersFollowPhysicalOrder) {
  PageSize = 512;
  Disconnect();
  std::remove(Path.c_str());
  NewData()->CreateDatabase();
  Connect();
  CreateTable();
  OpenTable();
  const int32_t Max = RM().MaxRecordsOnPage();
  ASSERT_GT(Max, 1);
  const int32_t N = Max * 3 + 2;
  std::vector<TVLTPageItemID> IDs;
  for (int32_t I = 0; I < N; ++I) IDs.push_back(Insert(I, "R"));
  for (int32_t RecNo : {1, Max, Max + 1, N}) {
    SCOPED_TRACE(RecNo);
    Table->SetRecNo(*Cursor, RecNo);
    EXPECT_EQ(Cursor->CurrentRecordID, IDs[static_cast<size_t>(RecNo - 1)]);
    EXPECT_EQ(GetInt(Buffer.data()), RecNo - 1);
    EXPECT_EQ(Table->GetRecNo(*Cursor), RecNo);
  }
  EXPECT_EQ(CodeOf([&] { RM().SetRecNo(Session.SessionID, N + 1); }), 20113);
  // Via the index the numbers follow key order.
  Cursor->FIndexID = Table->IndexManager()->IndexDefs().GetIndexDefByName("PK")->FObjectID;
  Table->SetRecNo(*Cursor, 7);
  EXPECT_EQ(GetInt(Buffer.data()), 6);
}

TEST_F(DiskTable, FullPagesSlotReuseAndPageRemoval) {
  CreateTable();
  OpenTable();
  const int32_t Max = RM().MaxRecordsOnPage();
  EXPECT_EQ(Max, CalcMaxRecordsOnPage(4056, FM().GetDiskRecordBufferSize()));
  std::vector<TVLTPageItemID> IDs;
  for (int32_t I = 0; I < Max; ++I) IDs.push_back(Insert(I, "A"));
  EXPECT_EQ(RecordPages(), 1);  // exactly full
  const TVLTPageNo First = IDs[0].PageNo;
  for (const auto& ID : IDs) EXPECT_EQ(ID.PageNo, First);

  // A freed slot of the full page is taken again.
  GoTo(IDs[3]);
  ASSERT_TRUE(Table->DeleteRecord(*Cursor));
  EXPECT_EQ(Insert(1000, "C"), IDs[3]);

  IDs.push_back(Insert(Max, "B"));
  EXPECT_NE(IDs.back().PageNo, First);
  EXPECT_EQ(IDs.back().PageItemNo, 0);
  EXPECT_EQ(RecordPages(), 2);

  // The last record of a page takes the page with it.
  const int32_t Before = UsedPages();
  GoTo(IDs.back());
  ASSERT_TRUE(Table->DeleteRecord(*Cursor));
  EXPECT_EQ(RecordPages(), 1);
  EXPECT_EQ(UsedPages(), Before - 1);
  Cursor->CurrentRecordID = IDs.back();
  EXPECT_EQ(Table->GetRecordBuffer(*Cursor, grmCurrent), grrError);
  EXPECT_TRUE(Problems().empty());
}

TEST_F(DiskTable, NavigationFromARecordWhosePageWent) {
  CreateTable();
  OpenTable();
  const int32_t Max = RM().MaxRecordsOnPage();
  for (int32_t I = 0; I < Max; ++I) Insert(I, "A");
  const TVLTPageItemID Lone = Insert(Max, "B");
  GoTo(Lone);
  ASSERT_TRUE(Table->DeleteRecord(*Cursor));
  TVLTNavigationInfo Nav;
  Nav.RecordID = Lone;
  Nav.RecordBuffer = Buffer.data();
  Nav.GetRecordMode = grmNext;
  RM().GetRecordBuffer(Session.SessionID, Nav);
  EXPECT_EQ(Nav.GetRecordResult, grrEOF);
  Nav = {};
  Nav.RecordID = Lone;
  Nav.RecordBuffer = Buffer.data();
  Nav.GetRecordMode = grmPrior;
  RM().GetRecordBuffer(Session.SessionID, Nav);
  ASSERT_EQ(Nav.GetRecordResult, grrOK);  // the table's last record
  EXPECT_EQ(GetInt(Buffer.data()), Max - 1);
}

TEST_F(DiskTable, RecordTooLargeForThePageIsRefused) {
  Fields.Clear();
  Indexes.Clear();
  AddField(Fields, "BIG", aftBytes, 4055);  // one null byte + 4055 = more than 4055
  TVLTTableCursor C;
  C.FSession = &Session;
  C.FTableName = "Big";
  TVLTDiskTableData T(Link.get(), Db.get(), "Big");
  EXPECT_EQ(CodeOf([&] { T.CreateTable(C, Fields, TVLTConstraintDefs(), Indexes); }), 20174);
  EXPECT_FALSE(Db->TableExists("Big"));
  TVLTFieldDefs None;
  EXPECT_EQ(CodeOf([&] { T.CreateTable(C, None, TVLTConstraintDefs(), Indexes); }), 20128);
}

TEST_F(DiskTable, EmptyAndDeleteGiveEveryPageBack) {
  const int32_t Baseline = UsedPages();
  CreateTable();
  OpenTable();
  for (int I = 0; I < 300; ++I) Insert(I, "Name" + std::to_string(I % 17));
  EXPECT_GE(RecordPages(), 3);
  const int32_t Filled = UsedPages();
  Table->EmptyTable(*Cursor);
  EXPECT_EQ(Table->GetRecordCount(*Cursor), 0);
  EXPECT_EQ(RecordPages(), 0);
  EXPECT_LT(UsedPages(), Filled);
  EXPECT_TRUE(Ids().empty());
  EXPECT_TRUE(Ids("BYNAME").empty());
  EXPECT_TRUE(Problems().empty());
  Insert(7, "again");
  EXPECT_EQ(Ids("PK"), (std::vector<int32_t>{7}));

  Table->DeleteTable(*Cursor, false);
  Cursor.reset();
  Table.reset();
  EXPECT_FALSE(Db->TableExists("People"));
  EXPECT_EQ(UsedPages(), Baseline);
  // The name is free again.
  CreateTable();
  OpenTable();
  EXPECT_EQ(Table->GetRecordCount(*Cursor), 0);
}

TEST_F(DiskTable, RenameTableAndField) {
  CreateTable();
  OpenTable();
  Insert(1, "x");
  Insert(2, "a");
  CloseTable();
  TVLTTableCursor C;
  C.FSession = &Session;
  C.FTableName = "People";
  Table->RenameTable("Folk", C);
  EXPECT_EQ(Table->TableName(), "Folk");
  EXPECT_FALSE(Db->TableExists("People"));
  ASSERT_TRUE(Db->TableExists("Folk"));

  OpenTable("Folk");
  Table->RenameField("name", "FullName");
  Reconnect();
  OpenTable("Folk");
  EXPECT_NE(FM().FieldDefs().GetFieldDefByName("FULLNAME"), nullptr);
  EXPECT_EQ(FM().FieldDefs().GetFieldDefByName("NAME"), nullptr);
  EXPECT_EQ(Table->IndexManager()->IndexDefs().GetIndexDefByName("BYNAME")->FIndexColumns[0].FFieldName,
            "FullName");
  EXPECT_EQ(Ids("BYNAME"), (std::vector<int32_t>{2, 1}));
  EXPECT_TRUE(Problems().empty());
}

TEST_F(DiskTable, IndexesAddedToAndDroppedFromAFilledTable) {
  CreateTable();
  OpenTable();
  for (int I = 0; I < 200; ++I) Insert(I, "N" + std::to_string((I * 37) % 101));
  const int32_t Before = UsedPages();
  Table->AddIndex(MakeIndex("BYAMOUNT", {"AMOUNT", "ID"}), Cursor.get());
  std::vector<int32_t> Expected(200);
  for (int I = 0; I < 200; ++I) Expected[static_cast<size_t>(I)] = I;
  EXPECT_EQ(Ids("BYAMOUNT"), Expected);
  EXPECT_GT(UsedPages(), Before);
  EXPECT_TRUE(Problems().empty());
  Table->IndexManager()->CheckInvariants();

  Reconnect();
  OpenTable();
  ASSERT_NE(Table->IndexManager()->IndexDefs().GetIndexDefByName("BYAMOUNT"), nullptr);
  EXPECT_EQ(Ids("BYAMOUNT"), Expected);
  const int32_t ID = Table->IndexManager()->IndexDefs().GetIndexDefByName("BYAMOUNT")->FObjectID;
  Table->DeleteIndex(ID, Cursor.get());
  EXPECT_EQ(UsedPages(), Before);
  Table->IndexManager()->CheckInvariants();
  Reconnect();
  OpenTable();
  EXPECT_EQ(Table->IndexManager()->IndexDefs().GetIndexDefByName("BYAMOUNT"), nullptr);
  EXPECT_EQ(Table->IndexManager()->IndexDefs().Count(), 2);
  EXPECT_TRUE(Problems().empty());
}

// Ten thousand records end to end: insert, index orders, deletes of every third, reopen, check.
TEST_F(DiskTable, TenThousandRecords) {
  CreateTable();
  OpenTable();
  constexpr int32_t N = 10000;
  Cursor->FBatchUpdate = true;  // one commit at the end
  std::vector<TVLTPageItemID> IDs;
  IDs.reserve(N);
  for (int32_t I = 0; I < N; ++I) IDs.push_back(Insert((I * 7919) % N, "K" + std::to_string(I % 997)));
  Table->ApplyChanges(Session.SessionID, false);
  for (int32_t I = 0; I < N; I += 3) {
    GoTo(IDs[static_cast<size_t>(I)]);
    ASSERT_TRUE(Table->DeleteRecord(*Cursor));
  }
  Table->ApplyChanges(Session.SessionID, false);
  Cursor->FBatchUpdate = false;
  Reconnect();
  OpenTable();
  const int64_t Left = N - (N + 2) / 3;
  EXPECT_EQ(Table->GetRecordCount(*Cursor), Left);
  const std::vector<int32_t> ByKey = Ids("PK");
  ASSERT_EQ(static_cast<int64_t>(ByKey.size()), Left);
  EXPECT_TRUE(std::is_sorted(ByKey.begin(), ByKey.end()));
  EXPECT_EQ(static_cast<int64_t>(Ids().size()), Left);
  EXPECT_TRUE(Problems().empty());
}

// Stores a most-updated buffer of the given bytes for the open table and commits it.
void WriteMostUpdated(TVLTDiskTableData& T, TVLTSessionID S, const std::vector<uint8_t>& Bytes) {
  T.MostUpdatedFile()->WriteFile(S, Bytes.data(), static_cast<int32_t>(Bytes.size()), acaNone, 0);
  T.ApplyChanges(S, false);
}

TEST_F(DiskTable, CheckFindsDamageAndRepairRebuildsTheRecordPageIndex) {
  CreateTable();
  OpenTable();
  const int32_t Max = RM().MaxRecordsOnPage();
  for (int32_t I = 0; I < Max + 5; ++I) Insert(I, "N");
  const int32_t Size = Table->MostUpdatedSize();
  std::vector<uint8_t> Bytes(static_cast<size_t>(Size));
  Table->MostUpdatedFile()->ReadFile(Session.SessionID, Bytes.data(), Size);
  StoreLE<int32_t>(Bytes.data() + Size - 4, 3);  // a record count that lies
  WriteMostUpdated(*Table, Session.SessionID, Bytes);
  Reconnect();
  OpenTable();
  EXPECT_EQ(RM().FRecordCount, 3);
  EXPECT_FALSE(Problems().empty());
  CloseTable();

  // Opened for repair, the table counts its record pages again.
  Table = std::make_unique<TVLTDiskTableData>(Link.get(), Db.get(), "People");
  Cursor = std::make_unique<TVLTTableCursor>();
  Cursor->FSession = &Session;
  Cursor->FTableName = "People";
  Cursor->FIsRepairing = true;
  Table->OpenTable(*Cursor);
  EXPECT_EQ(RM().FRecordCount, Max + 5);
  EXPECT_TRUE(Problems().empty());
  Reconnect();
  OpenTable();
  EXPECT_EQ(RM().FRecordCount, Max + 5);
  EXPECT_EQ(static_cast<int32_t>(Ids("PK").size()), Max + 5);
  ExpectSoundFile();
}

// A commit cut off after it wrote the record page index and the record count, but before its
// new record page, leaves the index listing whatever the page's slot held: a freed page of
// another table (with its old records still in it), a record page of a table that lives on, a
// page of another type. Navigation refuses such a page in both directions instead of reading
// its records or ending the table there; opening for repair sees through the agreeing totals,
// rebuilds the index from the pages and keeps every record.
TEST_F(DiskTable, RecordPageIndexListingAStalePageIsRefusedAndRebuiltByRepair) {
  CreateTable("Gone");
  CreateTable();
  CreateTable("Others");
  OpenTable("Gone");
  const int32_t Max = RM().MaxRecordsOnPage();
  for (int32_t I = 0; I < Max * 2; ++I) Insert(1000 + I, "G");
  TVLTPageNo Freed = kNoPage;
  ASSERT_TRUE(RM().RecordPageIndex().GetFirstRecordPage(Session.SessionID, Freed));
  CloseTable();
  OpenTable();
  const int32_t N = Max * 3 + 5;
  std::vector<int32_t> All;
  for (int32_t I = 0; I < N; ++I) {
    Insert(I, "P");
    All.push_back(I);
  }
  const TVLTPageNo Meta = Table->MetadataFile()->StartPageNo();
  TVLTPageNo FirstOwn = kNoPage;
  ASSERT_TRUE(RM().RecordPageIndex().GetFirstRecordPage(Session.SessionID, FirstOwn));
  ASSERT_LT(Freed, FirstOwn);  // listed ahead of every record page of the table
  CloseTable();
  OpenTable("Others");
  for (int32_t I = 0; I < 4; ++I) Insert(2000 + I, "O");
  TVLTPageNo OtherTable = kNoPage;
  ASSERT_TRUE(RM().RecordPageIndex().GetFirstRecordPage(Session.SessionID, OtherTable));
  CloseTable();
  OpenTable("Gone");
  Table->EmptyTable(*Cursor);
  CloseTable();

  auto OpenForRepair = [&] {
    Table = std::make_unique<TVLTDiskTableData>(Link.get(), Db.get(), "People");
    Cursor = std::make_unique<TVLTTableCursor>();
    Cursor->FSession = &Session;
    Cursor->FTableName = "People";
    Cursor->FIsRepairing = true;
    Table->OpenTable(*Cursor);
    Buffer.assign(static_cast<size_t>(FM().GetMemoryRecordBufferSize()), 0);
    Cursor->FCurrentRecordBuffer = Buffer.data();
  };
  for (const auto& [Stale, What] : {std::pair{Freed, "a freed page of another table"},
                                    std::pair{OtherTable, "a record page of another table"},
                                    std::pair{Meta, "the table's metadata page"}}) {
    SCOPED_TRACE(What);
    Reconnect();
    OpenTable();
    RM().RecordPageIndex().AddRecord(Session.SessionID, Stale, 3);
    RM().FRecordCount += 3;
    Table->SaveMostUpdated(Session.SessionID);
    Table->ApplyChanges(Session.SessionID, false);
    Reconnect();
    OpenTable();
    ASSERT_EQ(RM().FRecordCount, N + 3);
    EXPECT_EQ(CodeOf([&] { Ids(); }), 20153);
    EXPECT_EQ(CodeOf([&] { Ids({}, true); }), 20153);
    try {
      Ids();
    } catch (const EVLTException& E) {
      EXPECT_NE(E.Message().find("page " + std::to_string(Stale) + " of table 'People'"),
                std::string::npos)
          << E.Message();
    }
    const std::vector<std::string> Found = Problems();
    EXPECT_TRUE(std::any_of(Found.begin(), Found.end(), [&](const std::string& P) {
      return P.find("lists page " + std::to_string(Stale)) != std::string::npos;
    })) << testing::PrintToString(Found);
    CloseTable();

    OpenForRepair();
    EXPECT_EQ(RM().FRecordCount, N);
    EXPECT_TRUE(Problems().empty()) << testing::PrintToString(Problems());
    Reconnect();
    OpenTable();
    EXPECT_EQ(Table->GetRecordCount(*Cursor), N);
    EXPECT_EQ(Ids(), All);
    EXPECT_EQ(Ids("PK"), All);
    EXPECT_TRUE(Problems().empty());
    CloseTable();
  }
  ExpectSoundFile();
}

// An index that agrees with the pages is kept as it is by a repair-mode open; one that leaves
// out a page of the table (its count lowered to match) is rebuilt.
TEST_F(DiskTable, RepairOpenKeepsASoundIndexAndRebuildsOneThatLeavesAPageOut) {
  CreateTable();
  OpenTable();
  const int32_t Max = RM().MaxRecordsOnPage();
  const int32_t N = Max * 3;
  for (int32_t I = 0; I < N; ++I) Insert(I, "P");
  const TVLTPageNo Root = RM().RecordPageIndex().RootPageNo();
  CloseTable();
  auto OpenForRepair = [&] {
    Table = std::make_unique<TVLTDiskTableData>(Link.get(), Db.get(), "People");
    Cursor = std::make_unique<TVLTTableCursor>();
    Cursor->FSession = &Session;
    Cursor->FTableName = "People";
    Cursor->FIsRepairing = true;
    Table->OpenTable(*Cursor);
  };
  OpenForRepair();
  EXPECT_EQ(RM().RecordPageIndex().RootPageNo(), Root);  // nothing rebuilt
  Reconnect();
  OpenTable();
  TVLTPageNo Last = kNoPage;
  ASSERT_TRUE(RM().RecordPageIndex().GetLastRecordPage(Session.SessionID, Last));
  RM().RecordPageIndex().DeleteRecord(Session.SessionID, Last, 0);
  RM().FRecordCount -= Max;
  Table->SaveMostUpdated(Session.SessionID);
  Table->ApplyChanges(Session.SessionID, false);
  Reconnect();
  OpenForRepair();
  EXPECT_NE(RM().RecordPageIndex().RootPageNo(), Root);
  EXPECT_EQ(RM().FRecordCount, N);
  EXPECT_TRUE(Problems().empty());
  ExpectSoundFile();
}

TEST_F(DiskTable, RepairKeepsAutoincrementsAboveTheStoredValues) {
  Fields.Clear();
  Indexes.Clear();
  AddField(Fields, "SEQ", aftAutoIncInteger);
  CreateTable();
  OpenTable();
  for (int32_t V : {7, 12, 3}) {
    FM().InitRecordBuffer(Buffer.data());
    FM().SetFieldData(0, &V, Buffer.data());
    ASSERT_TRUE(Table->InsertRecord(*Cursor));
  }
  WriteMostUpdated(*Table, Session.SessionID, std::vector<uint8_t>(5, 0));  // unreadable
  CloseTable();
  Table = std::make_unique<TVLTDiskTableData>(Link.get(), Db.get(), "People");
  Cursor = std::make_unique<TVLTTableCursor>();
  Cursor->FSession = &Session;
  Cursor->FTableName = "People";
  Cursor->FIsRepairing = true;
  Table->OpenTable(*Cursor);
  EXPECT_EQ(RM().FRecordCount, 3);
  EXPECT_GE(FM().LastAutoIncValue(0), 12);
  Reconnect();
  OpenTable();
  EXPECT_GE(FM().LastAutoIncValue(0), 12);
  EXPECT_EQ(Table->GetRecordCount(*Cursor), 3);
  ExpectSoundFile();
}

TEST_F(DiskTable, CheckFindsARecordMissingFromAnIndex) {
  CreateTable();
  OpenTable();
  for (int32_t I = 0; I < 10; ++I) Insert(I, "N" + std::to_string(I));
  GoTo(Insert(10, "gone"));
  const int32_t ID = Table->IndexManager()->IndexDefs().GetIndexDefByName("BYNAME")->FObjectID;
  Table->IndexManager()->OpenIndex(ID).DeleteRecord(*Cursor);
  const auto P = Problems();
  ASSERT_EQ(P.size(), 2u);  // one entry short, one record lacking
  EXPECT_NE(P[0].find("index BYNAME holds 10 entries"), std::string::npos) << P[0];
  EXPECT_NE(P[1].find("index BYNAME lacks record"), std::string::npos) << P[1];
}

TEST_F(DiskTable, MostUpdatedDataOfAnotherLayoutIsRefused) {
  CreateTable();
  OpenTable();
  Insert(1, "a");
  const int32_t Size = Table->MostUpdatedSize();
  std::vector<uint8_t> Bytes(static_cast<size_t>(Size));
  Table->MostUpdatedFile()->ReadFile(Session.SessionID, Bytes.data(), Size);
  std::vector<std::vector<uint8_t>> Bad = {Bytes, Bytes, {}};
  Bad[0].push_back(0);                       // longer
  StoreLE<int32_t>(Bad[1].data(), 4);        // names four fields
  Bad[2].assign(Bytes.begin(), Bytes.end() - 4);  // shorter
  for (const auto& B : Bad) {
    WriteMostUpdated(*Table, Session.SessionID, B);
    EXPECT_EQ(CodeOf([&] { Table->LoadMostUpdated(Session.SessionID); }), 20164);
  }
}

TEST_F(DiskTable, ExclusiveAccessWhileOthersHaveTheTableOpen) {
  CreateTable();
  OpenTable();
  TVLTTableCursor Other;
  Other.FSession = &Session;
  Other.FTableName = "People";
  Other.FExclusive = true;
  EXPECT_EQ(CodeOf([&] { Table->OpenTable(Other); }), 20242);
  EXPECT_EQ(CodeOf([&] { Table->EmptyTable(Other); }), 20242);
  Other.FExclusive = false;
  Table->OpenTable(Other);
  EXPECT_EQ(Table->CursorList().size(), 2u);
  EXPECT_EQ(CodeOf([&] { Table->DeleteTable(Other, false); }), 20017);
  Table->CloseTable(Other);
  EXPECT_TRUE(Table->Active());
}

// Two connections to one file in multi-user mode (each opening is its own open file
// description, so their byte locks meet like those of two processes).
TEST_F(DiskTable, MultiUserConnectionsSeeEachOthersRecords) {
  CreateTable();
  Disconnect();
  struct TConn {
    std::unique_ptr<TVLTDiskDatabaseData> Db;
    TVLTDatabaseSession DS;
    TVLTSessionData Session;
    std::unique_ptr<TVLTDiskBackedDatabaseData> Link;
    std::unique_ptr<TVLTDiskTableData> Table;
    TVLTTableCursor Cursor;
    std::vector<uint8_t> Buffer;
  };
  auto Open = [&](TConn& C) {
    C.Db = NewData();
    C.DS.MultiUser = true;
    C.Db->ConnectSession(C.DS);
    C.Session.SessionID = C.DS.SessionID;
    C.Session.MultiUser = true;
    C.Link = std::make_unique<TVLTDiskBackedDatabaseData>(C.Db.get());
    C.Table = std::make_unique<TVLTDiskTableData>(C.Link.get(), C.Db.get(), "People");
    C.Cursor.FSession = &C.Session;
    C.Cursor.FTableName = "People";
    C.Table->OpenTable(C.Cursor);
    C.Buffer.assign(static_cast<size_t>(C.Table->FieldManager()->GetMemoryRecordBufferSize()), 0);
    C.Cursor.FCurrentRecordBuffer = C.Buffer.data();
  };
  auto Add = [](TConn& C, int32_t Id) {
    auto& F = *C.Table->FieldManager();
    F.InitRecordBuffer(C.Buffer.data());
    F.SetFieldData(0, &Id, C.Buffer.data());
    EXPECT_TRUE(C.Table->InsertRecord(C.Cursor));
  };
  auto Close = [](TConn& C) {
    C.Table->CloseTable(C.Cursor);
    C.Table.reset();
    C.Link.reset();
    C.Db->DisconnectSession(C.DS);
  };
  TConn A, B;
  Open(A);
  Open(B);
  ASSERT_NE(A.Session.SessionID, B.Session.SessionID);
  for (int32_t I = 0; I < 3; ++I) Add(A, I);
  EXPECT_EQ(B.Table->GetRecordCount(B.Cursor), 3);
  Add(B, 10);
  EXPECT_EQ(A.Table->GetRecordCount(A.Cursor), 4);
  Add(A, 11);
  EXPECT_EQ(B.Table->GetRecordCount(B.Cursor), 5);
  B.Cursor.FirstPosition = true;
  int32_t Seen = 0;
  while (B.Table->GetRecordBuffer(B.Cursor, grmNext) == grrOK) ++Seen;
  EXPECT_EQ(Seen, 5);
  std::vector<std::string> P;
  B.Table->CheckTable(B.Session.SessionID, P);
  EXPECT_TRUE(P.empty()) << P.front();
  Close(A);
  Close(B);
}

// The vltdb tool built beside this test program (skipped when it was not built).
std::string VltdbPath() {
  std::error_code Ec;
  const auto Self = std::filesystem::read_symlink("/proc/self/exe", Ec);
  if (Ec) return {};
  const auto Tool = Self.parent_path().parent_path().parent_path() / "tools" / "vltdb";
  return std::filesystem::exists(Tool, Ec) ? Tool.string() : std::string();
}

// Runs the command; Output receives stdout, the answer is the exit code.
int RunTool(const std::string& Command, std::string& Output) {
  Output.clear();
  FILE* P = popen((Command + " 2>&1").c_str(), "r");
  if (!P) return -1;
  char Buf[4096];
  size_t N;
  while ((N = fread(Buf, 1, sizeof Buf, P)) > 0) Output.append(Buf, N);
  const int Status = pclose(P);
  return WIFEXITED(Status) ? WEXITSTATUS(Status) : -1;
}

TEST_F(DiskTable, VltdbChecksAndDumpsTheTables) {
  const std::string Tool = VltdbPath();
  if (Tool.empty()) GTEST_SKIP() << "vltdb was not built";
  CreateTable();
  OpenTable();
  Insert(2, "Smith, \"Jr\"");
  Insert(1, "\xC5sa");  // Windows-1252 in the record, UTF-8 in the dump
  GoTo(Insert(3, ""));
  Disconnect();

  std::string Out;
  EXPECT_EQ(RunTool(Tool + " check " + Path, Out), 0) << Out;
  EXPECT_NE(Out.find("tables: consistent"), std::string::npos) << Out;
  EXPECT_EQ(RunTool(Tool + " dump " + Path + " People --index PK", Out), 0) << Out;
  EXPECT_EQ(Out,
            "ID,NAME,AMOUNT,DAY,FLAG\n"
            "1,Åsa,0.25,1999-09-04,true\n"
            "2,\"Smith, \"\"Jr\"\"\",0.5,1999-09-05,false\n"
            "3,,0.75,1999-09-06,true\n");
  EXPECT_EQ(RunTool(Tool + " tables " + Path, Out), 0) << Out;
  EXPECT_NE(Out.find("3 records"), std::string::npos) << Out;
  EXPECT_EQ(RunTool(Tool + " meta " + Path + " People", Out), 0) << Out;
  EXPECT_NE(Out.find("BYNAME"), std::string::npos) << Out;
  EXPECT_EQ(RunTool(Tool + " dump " + Path + " Nobody", Out), 1) << Out;
}

}  // namespace
}  // namespace vlt
