// BLOB values of a disk table: small values sharing pages, large values in page chains of their
// own, the boundary between the two, updates and deletes giving pages back, every compression,
// reopening, rollback, and random sizes against a model.
#include "engine/disk/VLTDiskBlob.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "VLTDiskTestUtil.h"
#include "engine/core/VLTPage.h"
#include "engine/disk/VLTDiskDatabaseData.h"
#include "engine/disk/VLTDiskRecordManager.h"
#include "engine/disk/VLTDiskTableData.h"
#include "engine/disk/VLTFreeSpaceManager.h"
#include "engine/protect/VLTMemoryStream.h"

namespace vlt {
namespace {

using test::CodeOf;

constexpr int32_t kNote = 1, kData = 2;  // field numbers of the two BLOB fields

// Table Docs: ID (integer), NOTE (memo), DATA (BLOB). 4096-byte pages: 4056 bytes of page data.
class DiskBlob : public test::DiskTest {
 protected:
  void SetUp() override {
    DiskTest::SetUp();
    auto D = NewData();
    D->CreateDatabase();
    Connect();
    Add("ID", aftInteger);
    Add("NOTE", aftMemo);
    Add("DATA", aftBlob);
  }
  void TearDown() override {
    Disconnect();
    DiskTest::TearDown();
  }
  TVLTFieldDef& Add(const std::string& Name, TVLTAdvancedFieldType Type) {
    TVLTFieldDef& F = Fields.AddNew();
    F.SetName(Name);
    F.SetFieldDefDataType(Type, 0);
    return F;
  }
  std::unique_ptr<TVLTDiskDatabaseData> NewData() {
    auto D = std::make_unique<TVLTDiskDatabaseData>(Path, "Default");
    TVLTDiskDatabaseData::TLockWaits W;
    W.Count = W.CommitCount = W.TablesCount = 3;
    W.DelayMS = W.CommitDelayMS = W.TablesDelayMS = 1;
    D->SetLockWaits(W);
    D->SetPageSize(PageSize);
    D->SetMaxSessionCount(4);
    return D;
  }
  void Connect() {
    Db = NewData();
    DS = {};
    Db->ConnectSession(DS);
    Session.SessionID = DS.SessionID;
    Link = std::make_unique<TVLTDiskBackedDatabaseData>(Db.get());
  }
  void Disconnect() {
    if (Table && Cursor) Table->CloseTable(*Cursor);
    Cursor.reset();
    Table.reset();
    Link.reset();
    if (Db) Db->DisconnectSession(DS);
    Db.reset();
  }
  void Reopen() {
    Disconnect();
    Connect();
    Open();
  }
  void Create() {
    TVLTTableCursor C;
    C.FSession = &Session;
    C.FTableName = "Docs";
    TVLTDiskTableData T(Link.get(), Db.get(), "Docs");
    T.CreateTable(C, Fields, TVLTConstraintDefs(), Indexes);
  }
  void Open() {
    Table = std::make_unique<TVLTDiskTableData>(Link.get(), Db.get(), "Docs");
    Cursor = std::make_unique<TVLTTableCursor>();
    Cursor->FSession = &Session;
    Cursor->FTableName = "Docs";
    Table->OpenTable(*Cursor);
    Buffer.assign(static_cast<size_t>(Table->FieldManager()->GetMemoryRecordBufferSize()), 0);
    Cursor->FCurrentRecordBuffer = Buffer.data();
  }
  void CreateAndOpen() {
    Create();
    Open();
  }
  TVLTBaseFieldManager& FM() { return *Table->FieldManager(); }
  TVLTDiskBlobManager& BM() { return *Table->BlobManager(); }
  TVLTSessionID SID() const { return Session.SessionID; }

  void SetBlob(int32_t FieldNo, const std::string& V) {
    TVLTMemoryStream S;
    if (!V.empty()) S.Write(V.data(), static_cast<int64_t>(V.size()));
    Table->WriteBLOBFieldToRecordBuffer(*Cursor, FieldNo, S);
  }
  std::string GetBlob(int32_t FieldNo) {
    if (VLTIsFieldNull(Buffer.data(), FieldNo)) return "<null>";
    TVLTMemoryStream S;
    Table->ReadBLOBField(*Cursor, FieldNo, S);
    return std::string(reinterpret_cast<const char*>(S.Memory()), static_cast<size_t>(S.GetSize()));
  }
  TVLTPageItemID Ref(int32_t FieldNo) {
    return TVLTDiskBlobManager::GetReference(Buffer.data(), FM().FieldDefs()[FieldNo]);
  }
  TVLTPageItemID Insert(int32_t Id, const std::string& Note, const std::string& Data = {}) {
    FM().InitRecordBuffer(Buffer.data());
    FM().SetFieldData(0, &Id, Buffer.data());
    if (!Note.empty()) SetBlob(kNote, Note);
    if (!Data.empty()) SetBlob(kData, Data);
    EXPECT_TRUE(Table->InsertRecord(*Cursor));
    return Cursor->CurrentRecordID;
  }
  void GoTo(const TVLTPageItemID& ID) {
    Cursor->CurrentRecordID = ID;
    Cursor->FirstPosition = Cursor->LastPosition = false;
    ASSERT_EQ(Table->GetRecordBuffer(*Cursor, grmCurrent), grrOK);
  }
  void Update(const TVLTPageItemID& ID, int32_t FieldNo, const std::string& V) {
    GoTo(ID);
    SetBlob(FieldNo, V);
    ASSERT_TRUE(Table->UpdateRecord(*Cursor));
  }
  void Delete(const TVLTPageItemID& ID) {
    GoTo(ID);
    ASSERT_TRUE(Table->DeleteRecord(*Cursor));
  }
  std::string NoteOf(const TVLTPageItemID& ID) {
    GoTo(ID);
    return GetBlob(kNote);
  }
  // Used pages of the file, and the ptTableBlob pages among them.
  int32_t UsedPages() {
    auto* M = Db->PageManager();
    int32_t N = 0;
    for (TVLTPageNo No = 0; No < M->PageCount(); ++No)
      N += M->FreeSpaceManager()->GetPageUsageFromPFS(No) ? 1 : 0;
    return N;
  }
  int32_t BlobPages() {
    auto* M = Db->PageManager();
    int32_t N = 0;
    for (TVLTPageNo No = 1; No < M->PageCount(); ++No) {
      if (M->IsSystemPage(No) || !M->FreeSpaceManager()->GetPageUsageFromPFS(No)) continue;
      TVLTPage* P = M->GetPage(SID(), No, ptAny);
      N += P->PageHeader()->PageType == ptTableBlob ? 1 : 0;
      M->PutPage(P);
    }
    return N;
  }
  std::vector<std::string> Problems() {
    std::vector<std::string> P;
    Table->CheckTable(SID(), P);
    return P;
  }
  static std::string Text(size_t Size, uint32_t Seed) {
    std::string S(Size, ' ');
    std::mt19937 R(Seed);
    for (char& C : S) C = static_cast<char>('a' + R() % 26);
    return S;
  }

  std::unique_ptr<TVLTDiskDatabaseData> Db;
  std::unique_ptr<TVLTDiskBackedDatabaseData> Link;
  TVLTDatabaseSession DS;
  TVLTSessionData Session;
  uint16_t PageSize = 4096;
  TVLTFieldDefs Fields;
  TVLTIndexDefs Indexes;
  std::unique_ptr<TVLTDiskTableData> Table;
  std::unique_ptr<TVLTTableCursor> Cursor;
  std::vector<uint8_t> Buffer;
};

TEST_F(DiskBlob, SmallValuesShareAPageAndSurviveTheirNeighboursDeletion) {
  CreateAndOpen();
  const TVLTPageItemID A = Insert(1, Text(1000, 1));
  const TVLTPageItemID ARef = Ref(kNote);
  const TVLTPageItemID B = Insert(2, Text(1200, 2));
  const TVLTPageItemID BRef = Ref(kNote);
  const TVLTPageItemID C = Insert(3, Text(900, 3));
  EXPECT_EQ(ARef.PageNo, BRef.PageNo);
  EXPECT_NE(ARef.PageItemNo, BRef.PageItemNo);
  EXPECT_EQ(BlobPages(), 1);
  // 22 header bytes per entry in the index's amount.
  uint16_t Amount = 0;
  ASSERT_TRUE(BM().BlobPageIndex().FindPage(SID(), ARef.PageNo, Amount));
  EXPECT_EQ(Amount, 1000 + 1200 + 900 + 3 * 22);

  // Deleting the first moves the others down; their references stay valid.
  Delete(A);
  EXPECT_EQ(NoteOf(B), Text(1200, 2));
  EXPECT_EQ(Ref(kNote), BRef);
  EXPECT_EQ(NoteOf(C), Text(900, 3));
  EXPECT_EQ(GetBlob(kData), "<null>");
  EXPECT_TRUE(Problems().empty());
  ASSERT_TRUE(BM().BlobPageIndex().FindPage(SID(), ARef.PageNo, Amount));
  EXPECT_EQ(Amount, 1200 + 900 + 2 * 22);

  // The last value gone, the page and its index entry go too.
  Delete(B);
  Delete(C);
  EXPECT_EQ(BlobPages(), 0);
  EXPECT_FALSE(BM().BlobPageIndex().FindPage(SID(), ARef.PageNo, Amount));
}

TEST_F(DiskBlob, SizesAroundTheSmallLargeBoundary) {
  CreateAndOpen();
  const int32_t PDS = 4056;
  struct TCase {
    int32_t Size;
    bool Large;
    int32_t Pages;  // BLOB pages the value takes
  };
  const TCase Cases[] = {
      {1, false, 1},
      {PDS - 25, false, 1},             // 4031: count, header and data fill the page
      {PDS - 24, true, 2},              // 4032: first page and one more, the list after the data
      {(PDS - 32) + PDS, true, 3},      // two full data pages: the list on a third
      {(PDS - 32) + PDS - 7, true, 3},  // 3 bytes left after the data: the list continues on
      {(PDS - 32) + PDS - 8, true, 2},  // 8 bytes left: both numbers fit
  };
  const int32_t Before = UsedPages();
  for (const TCase& Case : Cases) {
    SCOPED_TRACE("size " + std::to_string(Case.Size));
    const std::string V = Text(static_cast<size_t>(Case.Size), static_cast<uint32_t>(Case.Size));
    const TVLTPageItemID ID = Insert(Case.Size, V);
    EXPECT_EQ(Ref(kNote).PageItemNo == kBlobLargeItemNo, Case.Large);
    EXPECT_EQ(BlobPages(), Case.Pages);
    EXPECT_EQ(NoteOf(ID), V);
    EXPECT_TRUE(Problems().empty());
    Delete(ID);
    EXPECT_EQ(BlobPages(), 0);
  }
  Db->PageManager()->ApplyChanges(SID());
  EXPECT_EQ(UsedPages(), Before);
}

TEST_F(DiskBlob, LargeValuesSurviveReopening) {
  CreateAndOpen();
  std::map<int32_t, TVLTPageItemID> Where;
  for (int32_t I = 1; I <= 3; ++I) Where[I] = Insert(I, Text(20000 * I, 10 + I), Text(300, 20 + I));
  // A value longer than a page's worth of page numbers needs a list of several pages.
  Where[4] = Insert(4, Text(1050 * 4056, 14));
  EXPECT_TRUE(Problems().empty());
  Reopen();
  for (int32_t I = 1; I <= 3; ++I) {
    EXPECT_EQ(NoteOf(Where[I]), Text(20000 * I, 10 + I));
    EXPECT_EQ(GetBlob(kData), Text(300, 20 + I));
  }
  EXPECT_EQ(NoteOf(Where[4]), Text(1050 * 4056, 14));
  const std::vector<TVLTPageNo> Pages = BM().LargeValuePages(SID(), Ref(kNote).PageNo);
  // 1051 data pages (the first holds 32 bytes less); the list starts after the data on the last
  // one (room for 1006 numbers) and needs one page more.
  EXPECT_EQ(Pages.size(), 1052u);
  EXPECT_TRUE(Problems().empty());
}

TEST_F(DiskBlob, UpdatesMoveValuesAcrossTheBoundaryAndGivePagesBack) {
  CreateAndOpen();
  const TVLTPageItemID Keep = Insert(1, Text(500, 1));
  const TVLTPageItemID ID = Insert(2, Text(100, 2));
  Db->PageManager()->ApplyChanges(SID());
  const int32_t Start = UsedPages();
  const std::vector<size_t> Sizes = {9000, 50, 30000, 4031, 4032, 1};
  for (size_t Size : Sizes) {
    SCOPED_TRACE("size " + std::to_string(Size));
    Update(ID, kNote, Text(Size, static_cast<uint32_t>(Size)));
    EXPECT_EQ(NoteOf(ID), Text(Size, static_cast<uint32_t>(Size)));
    EXPECT_TRUE(Problems().empty());
  }
  // Back to a small value on the shared page: no page was kept for the large values.
  Update(ID, kNote, Text(100, 2));
  EXPECT_EQ(UsedPages(), Start);
  EXPECT_EQ(BlobPages(), 1);
  // Emptied: NULL, no stored value, the reference says "deleted".
  Update(ID, kNote, "");
  GoTo(ID);
  EXPECT_EQ(GetBlob(kNote), "<null>");
  EXPECT_EQ(Ref(kNote).PageNo, -1);
  EXPECT_EQ(NoteOf(Keep), Text(500, 1));
  EXPECT_EQ(BlobPages(), 1);
  EXPECT_TRUE(Problems().empty());
}

TEST_F(DiskBlob, RewritingARecordWithoutItsBlobKeepsTheStoredValue) {
  CreateAndOpen();
  const TVLTPageItemID ID = Insert(1, Text(6000, 1));
  const TVLTPageItemID Before = Ref(kNote);
  GoTo(ID);
  int32_t NewId = 9;
  FM().SetFieldData(0, &NewId, Buffer.data());
  ASSERT_TRUE(Table->UpdateRecord(*Cursor));
  GoTo(ID);
  EXPECT_EQ(Ref(kNote), Before);
  EXPECT_EQ(GetBlob(kNote), Text(6000, 1));
  EXPECT_EQ(BlobPages(), 2);
}

TEST_F(DiskBlob, InsertingACopiedReferenceStoresAValueOfItsOwn) {
  CreateAndOpen();
  const TVLTPageItemID A = Insert(1, Text(700, 1));
  GoTo(A);
  // The buffer of A inserted again: the new record must not share A's stored value.
  ASSERT_TRUE(Table->InsertRecord(*Cursor));
  const TVLTPageItemID B = Cursor->CurrentRecordID;
  GoTo(B);
  const TVLTPageItemID BRef = Ref(kNote);
  GoTo(A);
  EXPECT_NE(Ref(kNote), BRef);
  Delete(A);
  EXPECT_EQ(NoteOf(B), Text(700, 1));
  EXPECT_TRUE(Problems().empty());
}

// Changes of a record that vanished meanwhile (another session deleted it) fail after their
// BLOBs were written: nothing is deleted twice, the values stored for the change go again, and
// the buffer keeps its unsaved values.
TEST_F(DiskBlob, AFailedChangeDeletesNothingTwiceAndKeepsTheUnsavedValues) {
  CreateAndOpen();
  const TVLTPageItemID One = Insert(1, Text(700, 1));
  const TVLTPageItemID Two = Insert(2, Text(800, 2), Text(9000, 3));
  Db->PageManager()->ApplyChanges(SID());
  const int32_t Pages = UsedPages();
  GoTo(Two);
  const std::vector<uint8_t> Shown = Buffer;
  Delete(Two);

  Buffer = Shown;
  Cursor->FCurrentRecordBuffer = Buffer.data();
  Cursor->CurrentRecordID = Two;
  SetBlob(kNote, Text(5000, 5));
  EXPECT_FALSE(Table->UpdateRecord(*Cursor));
  EXPECT_EQ(GetBlob(kNote), Text(5000, 5));
  Table->ClearBlobsCacheInRecordBuffer(Buffer.data());
  Buffer = Shown;
  Cursor->CurrentRecordID = Two;
  EXPECT_FALSE(Table->DeleteRecord(*Cursor));

  EXPECT_EQ(NoteOf(One), Text(700, 1));
  for (const std::string& P : Problems()) ADD_FAILURE() << P;
  EXPECT_EQ(BM().CacheCount(), 0u);
  Db->PageManager()->ApplyChanges(SID());
  // The three pages of Two's large value are free, the new value's pages went again.
  EXPECT_EQ(UsedPages(), Pages - 3);
}

TEST_F(DiskBlob, EmptyAndDeleteTableFreeEveryBlobPage) {
  const int32_t Baseline = UsedPages();
  CreateAndOpen();
  for (int32_t I = 0; I < 30; ++I) Insert(I, Text(static_cast<size_t>(I * 997 % 12000 + 1), I), Text(40, I));
  EXPECT_GT(BlobPages(), 5);
  Table->EmptyTable(*Cursor);
  EXPECT_EQ(BlobPages(), 0);
  EXPECT_TRUE(Problems().empty());
  const TVLTPageItemID ID = Insert(7, Text(5000, 7));
  EXPECT_EQ(NoteOf(ID), Text(5000, 7));
  Table->DeleteTable(*Cursor, false);
  Cursor.reset();
  Table.reset();
  EXPECT_EQ(UsedPages(), Baseline);
}

TEST_F(DiskBlob, EveryCompressionAlgorithmRoundTrips) {
  const TVLTCompressionAlgorithm Algorithms[] = {acaNone, acaZLIB, acaBZIP, acaPPM};
  for (TVLTCompressionAlgorithm A : Algorithms) {
    SCOPED_TRACE("algorithm " + std::to_string(A));
    if (Table) {
      Table->DeleteTable(*Cursor, false);
      Cursor.reset();
      Table.reset();
    }
    Fields[kNote].FBLOBCompressionAlgorithm = A;
    Fields[kNote].FBLOBCompressionMode = A == acaNone ? 0 : 5;
    Fields[kNote].FBLOBBlockSize = 4000;  // several blocks per value
    CreateAndOpen();
    std::string Repetitive;
    while (Repetitive.size() < 60000) Repetitive += "Offering for the building fund; ";
    const std::vector<std::string> Values = {"x", Text(3000, 5), Repetitive, Text(25000, 6)};
    std::vector<TVLTPageItemID> IDs;
    for (size_t I = 0; I < Values.size(); ++I) IDs.push_back(Insert(static_cast<int32_t>(I), Values[I]));
    if (A != acaNone) {
      GoTo(IDs[2]);
      EXPECT_NE(Ref(kNote).PageItemNo, kBlobLargeItemNo);  // compressed down to a small value
    }
    Reopen();
    for (size_t I = 0; I < Values.size(); ++I) EXPECT_EQ(NoteOf(IDs[I]), Values[I]);
    EXPECT_TRUE(Problems().empty());
  }
}

TEST_F(DiskBlob, BlockSizeZeroIsRefused) {
  CreateAndOpen();
  // A damaged definition: the value cannot be turned into a block chain.
  TVLTFieldDef F;
  F.SetFieldDefDataType(aftMemo, 0);
  F.FBLOBBlockSize = 0;
  TVLTDiskBLOBCache C;
  const std::string V = "abc";
  EXPECT_EQ(CodeOf([&] { BM().Encode(F, reinterpret_cast<const uint8_t*>(V.data()), 3, C); }), 20149);
}

TEST_F(DiskBlob, RollbackTakesBackABlobChange) {
  CreateAndOpen();
  const TVLTPageItemID ID = Insert(1, Text(800, 1));
  const TVLTPageItemID Big = Insert(2, Text(10000, 2));
  const int32_t Pages = UsedPages();
  Session.InTransaction = true;
  Update(ID, kNote, Text(15000, 3));
  Delete(Big);
  Insert(3, Text(300, 4));
  Link->Rollback(SID());
  Session.InTransaction = false;
  EXPECT_EQ(NoteOf(ID), Text(800, 1));
  EXPECT_EQ(NoteOf(Big), Text(10000, 2));
  EXPECT_EQ(Table->GetRecordCount(*Cursor), 2);
  EXPECT_EQ(UsedPages(), Pages);
  EXPECT_TRUE(Problems().empty());
}

TEST_F(DiskBlob, CheckFindsADamagedIndexAmountAndAnUnreadableValue) {
  CreateAndOpen();
  const TVLTPageItemID ID = Insert(1, Text(700, 1));
  const TVLTPageItemID R = Ref(kNote);
  ASSERT_TRUE(Problems().empty());
  BM().BlobPageIndex().AddBlob(SID(), R.PageNo, 5);
  std::vector<std::string> P = Problems();
  ASSERT_EQ(P.size(), 1u);
  EXPECT_NE(P[0].find("bytes, the BLOB page index says"), std::string::npos) << P[0];
  BM().BlobPageIndex().RemoveBlob(SID(), R.PageNo, 5);
  // Values no record refers to: a small entry and the pages of a large value.
  TVLTDiskBLOBCache Small, Large;
  const std::string SmallData = Text(50, 8), LargeData = Text(6000, 9);
  BM().Encode(FM().FieldDefs()[kNote], reinterpret_cast<const uint8_t*>(SmallData.data()), 50, Small);
  BM().Encode(FM().FieldDefs()[kNote], reinterpret_cast<const uint8_t*>(LargeData.data()), 6000, Large);
  const TVLTPageItemID S = BM().StoreValue(SID(), Small);
  BM().StoreValue(SID(), Large);
  P = Problems();
  std::string All;
  for (const std::string& Line : P) All += Line + "\n";
  EXPECT_EQ(P.size(), 3u) << All;  // the entry, and the two pages of the large value
  EXPECT_NE(All.find("holds item " + std::to_string(S.PageItemNo) + " that no record refers to"),
            std::string::npos) << All;
  EXPECT_NE(All.find("belongs to no stored value"), std::string::npos) << All;
  BM().DeleteValue(SID(), S);
  // The record names an item its page does not hold.
  GoTo(ID);
  TVLTDiskBlobManager::SetReference(Buffer.data(), FM().FieldDefs()[kNote], {R.PageNo, 7});
  EXPECT_EQ(CodeOf([&] { GetBlob(kNote); }), 20162);
}

TEST_F(DiskBlob, CacheEntriesAreFreedWithTheirBuffer) {
  CreateAndOpen();
  FM().InitRecordBuffer(Buffer.data());
  SetBlob(kNote, "pending");
  SetBlob(kNote, "replaced");  // the first entry goes at once
  EXPECT_EQ(BM().CacheCount(), 1u);
  EXPECT_EQ(GetBlob(kNote), "replaced");
  // A copy of the buffer being dropped leaves the owner's value alone.
  std::vector<uint8_t> Copy = Buffer;
  Table->ClearBlobsCacheInRecordBuffer(Copy.data());
  EXPECT_EQ(BM().CacheCount(), 1u);
  // Closing a stream unchanged keeps a changed value.
  Table->ClearBLOBFieldCache(*Cursor, kNote);
  EXPECT_EQ(GetBlob(kNote), "replaced");
  Table->ClearBlobsCacheInRecordBuffer(Buffer.data());
  EXPECT_EQ(BM().CacheCount(), 0u);
  // Writing a record frees its entries.
  Insert(1, "a", "b");
  EXPECT_EQ(BM().CacheCount(), 0u);
}

// A damaged small-value page: reading its values fails with 20162, the check names it, and the
// records can still be deleted and the table emptied.
TEST_F(DiskBlob, ADamagedBlobPageBlocksNeitherDeletingNorEmptying) {
  CreateAndOpen();
  const TVLTPageItemID A = Insert(1, Text(500, 1));
  const TVLTPageNo Page = Ref(kNote).PageNo;
  const TVLTPageItemID B = Insert(2, Text(500, 2));
  Insert(3, "", Text(7000, 3));
  {
    TVLTPage* P = Db->PageManager()->GetPage(SID(), Page, ptTableBlob);
    StoreLE<int64_t>(P->PageData() + 2 + 6, int64_t{1} << 40);  // the first entry's DataSize
    P->SetIsDirty(true);
    Db->PageManager()->PutPage(P);
  }
  GoTo(B);
  EXPECT_EQ(CodeOf([&] { GetBlob(kNote); }), 20162);
  const std::vector<std::string> P = Problems();
  ASSERT_FALSE(P.empty());
  EXPECT_NE(P[0].find("BLOB page " + std::to_string(Page)), std::string::npos) << P[0];
  Delete(A);
  EXPECT_EQ(Table->GetRecordCount(*Cursor), 2);
  Table->EmptyTable(*Cursor);
  EXPECT_EQ(Table->GetRecordCount(*Cursor), 0);
  EXPECT_EQ(BlobPages(), 0);
  EXPECT_TRUE(Problems().empty());
}

// A table whose metadata names no BLOB page index (made before its BLOB fields held values) gets
// one with its first small value, and keeps it.
TEST_F(DiskBlob, ATableWithoutABlobPageIndexGetsOneOnItsFirstSmallValue) {
  CreateAndOpen();
  const TVLTPageNo Made = BM().BlobPageIndexRoot();
  ASSERT_NE(Made, kNoPage);
  BM().BlobPageIndex().DropIndex(SID());
  Table->SaveMetadataFile(SID());
  Db->PageManager()->ApplyChanges(SID());
  Reopen();
  EXPECT_EQ(BM().BlobPageIndexRoot(), kNoPage);
  const TVLTPageItemID ID = Insert(1, Text(100, 1));
  EXPECT_NE(BM().BlobPageIndexRoot(), kNoPage);
  Reopen();
  EXPECT_NE(BM().BlobPageIndexRoot(), kNoPage);
  EXPECT_EQ(NoteOf(ID), Text(100, 1));
  Insert(2, Text(100, 2));
  EXPECT_EQ(BlobPages(), 1);
  EXPECT_TRUE(Problems().empty());
}

// Item number 255 was once also written for large values: a small value with that number is
// still read as small, and deleted as such.
TEST_F(DiskBlob, ItemNumber255IsReadAndDeletedAsTheSmallValueItIs) {
  Disconnect();
  std::filesystem::remove(Path);
  PageSize = 16384;
  NewData()->CreateDatabase();
  Connect();
  CreateAndOpen();
  std::map<uint16_t, TVLTPageItemID> ByItem;
  for (int32_t I = 0; I < 300; ++I) {
    const TVLTPageItemID ID = Insert(I, Text(2, static_cast<uint32_t>(I)));
    if (I < 260) ByItem[Ref(kNote).PageItemNo] = ID;
  }
  ASSERT_TRUE(ByItem.count(255));
  EXPECT_EQ(NoteOf(ByItem[255]), Text(2, 255));
  Delete(ByItem[255]);
  EXPECT_EQ(NoteOf(ByItem[256]), Text(2, 256));
  EXPECT_TRUE(Problems().empty());
}

TEST_F(DiskBlob, RandomSizesAgainstAModel) {
  CreateAndOpen();
  std::mt19937 R(4711);
  std::map<int32_t, std::pair<TVLTPageItemID, std::string>> Model;
  auto RandomValue = [&](uint32_t Seed) {
    static const size_t Sizes[] = {0, 1, 22, 2000, 4031, 4032, 8080, 12000};
    const size_t Size = R() % 3 == 0 ? Sizes[R() % 8] : R() % 14000;
    return Text(Size, Seed);
  };
  int32_t NextId = 1;
  for (int32_t Step = 0; Step < 150; ++Step) {
    const uint32_t Op = R() % 10;
    if (Model.empty() || Op < 5) {
      const std::string V = RandomValue(static_cast<uint32_t>(Step));
      const TVLTPageItemID ID = Insert(NextId, V);
      Model[NextId++] = {ID, V};
    } else if (Op < 8) {
      auto It = std::next(Model.begin(), static_cast<long>(R() % Model.size()));
      const std::string V = RandomValue(static_cast<uint32_t>(Step));
      Update(It->second.first, kNote, V);
      It->second.second = V;
    } else {
      auto It = std::next(Model.begin(), static_cast<long>(R() % Model.size()));
      Delete(It->second.first);
      Model.erase(It);
    }
  }
  auto Verify = [&]() {
    for (const auto& [Id, Entry] : Model)
      EXPECT_EQ(NoteOf(Entry.first), Entry.second.empty() ? "<null>" : Entry.second) << Id;
    EXPECT_TRUE(Problems().empty());
  };
  Verify();
  Reopen();
  Verify();
}

}  // namespace
}  // namespace vlt
