// Table data of a database file: the consistency check of tables in encrypted and plain files,
// the XIRW-after-SIRW allowance of table locks between two multi-user connections, and the
// session's last autoincrement values when a table is deleted.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "VLTDiskTestUtil.h"
#include "engine/core/VLTPageHeader.h"
#include "engine/disk/VLTDiskDatabaseData.h"
#include "engine/disk/VLTDiskRecordManager.h"
#include "engine/disk/VLTDiskTableData.h"

namespace vlt {
namespace {

TVLTDiskDatabaseData::TLockWaits ShortWaits() {
  TVLTDiskDatabaseData::TLockWaits W;
  W.Count = W.CommitCount = W.TablesCount = 3;
  W.DelayMS = W.CommitDelayMS = W.TablesDelayMS = 1;
  return W;
}

// One connection to the file: database data, session, link, and at most one open table.
struct TConnection {
  std::unique_ptr<TVLTDiskDatabaseData> Db;
  TVLTDatabaseSession DS;
  TVLTSessionData Session;
  std::unique_ptr<TVLTDiskBackedDatabaseData> Link;
  std::unique_ptr<TVLTDiskTableData> Table;
  TVLTTableCursor Cursor;
  std::vector<uint8_t> Buffer;

  ~TConnection() { Close(); }
  void Close() {
    CloseTable();
    Link.reset();
    if (Db) Db->DisconnectSession(DS);
    Db.reset();
  }
  void CloseTable() {
    if (Table && !Cursor.FTableName.empty()) Table->CloseTable(Cursor);
    Table.reset();
    Cursor.FTableName.clear();
  }
  void OpenTable(const std::string& Name) {
    CloseTable();
    Table = std::make_unique<TVLTDiskTableData>(Link.get(), Db.get(), Name);
    Cursor.FSession = &Session;
    Cursor.FTableName = Name;
    Table->OpenTable(Cursor);
    Buffer.assign(static_cast<size_t>(Table->FieldManager()->GetMemoryRecordBufferSize()), 0);
    Cursor.FCurrentRecordBuffer = Buffer.data();
    Cursor.FEditRecordBuffer = Buffer.data();
  }
  // A record with field 1 (an integer) = Value; the autoincrement field 0 is drawn for the
  // session as a cursor's post draws it.
  void Insert(int32_t Value) {
    auto& FM = *Table->FieldManager();
    FM.InitRecordBuffer(Buffer.data());
    FM.SetFieldData(1, &Value, Buffer.data());
    FM.ApplyAutoincsToRecordBuffer(&Session, Buffer.data());
    EXPECT_TRUE(Table->InsertRecord(Cursor));
  }
  std::vector<std::string> Problems() {
    std::vector<std::string> P;
    Table->CheckTable(Session.SessionID, P);
    return P;
  }
  TVLTObjectID FieldID(int32_t FieldNo) {
    return Table->FieldManager()->FieldDefs()[FieldNo].FObjectID;
  }
};

// Tables of two fields: SEQ (autoincrement, primary index) and VAL (integer, index BYVAL).
class DiskTableUpkeep : public test::DiskTest {
 protected:
  void SetUp() override {
    DiskTest::SetUp();
    TVLTFieldDef& Seq = Fields.AddNew();
    Seq.SetName("SEQ");
    Seq.SetFieldDefDataType(aftAutoInc, 0);
    TVLTFieldDef& Val = Fields.AddNew();
    Val.SetName("VAL");
    Val.SetFieldDefDataType(aftInteger, 0);
    AddIndex("PK", "SEQ", true);
    AddIndex("BYVAL", "VAL", false);
  }
  void AddIndex(const std::string& Name, const std::string& Column, bool Primary) {
    TVLTIndexDef D;
    D.SetName(Name);
    D.AssignByNames({Column}, {"ASC"}, {"CASE"});
    D.FUnique = D.FPrimary = Primary;
    Indexes.AddNew().Assign(D);
  }
  std::unique_ptr<TVLTDiskDatabaseData> NewData() {
    auto D = std::make_unique<TVLTDiskDatabaseData>(Path, "Default");
    D->SetLockWaits(ShortWaits());
    D->SetPageSize(PageSize);
    D->SetMaxSessionCount(4);
    D->SetPassword(Password);
    return D;
  }
  void CreateDatabase() { NewData()->CreateDatabase(); }
  void Connect(TConnection& C, bool MultiUser) {
    C.Db = NewData();
    C.DS = {};
    C.DS.MultiUser = MultiUser;
    C.Db->ConnectSession(C.DS);
    C.Session.SessionID = C.DS.SessionID;
    C.Session.MultiUser = C.DS.MultiUser;
    C.Link = std::make_unique<TVLTDiskBackedDatabaseData>(C.Db.get());
  }
  void CreateTable(TConnection& C, const std::string& Name) {
    TVLTTableCursor Cursor;
    Cursor.FSession = &C.Session;
    Cursor.FTableName = Name;
    TVLTDiskTableData T(C.Link.get(), C.Db.get(), Name);
    T.CreateTable(Cursor, Fields, TVLTConstraintDefs(), Indexes);
  }

  uint16_t PageSize = 1024;
  TVLTPassword Password;
  TVLTFieldDefs Fields;
  TVLTIndexDefs Indexes;
};

std::string Join(const std::vector<std::string>& Lines) {
  std::string Out;
  for (const auto& L : Lines) Out += L + "\n";
  return Out;
}

// ---- the consistency check ----

// Every file carries plain pages of the session slots and of each table's lock slots; in an
// encrypted file they must not be taken for damaged pages. A fresh connection reads every page
// from the file, so nothing is answered from a cache filled while the file was written.
TEST_F(DiskTableUpkeep, CheckFindsNoProblemInSoundFilesEncryptedOrNot) {
  struct TCase {
    const char* Name;
    TVLTPassword Password;
    bool MultiUser;
  };
  const TCase Cases[] = {
      {"plain, single-user", {}, false},
      {"plain, multi-user", {}, true},
      {"Rijndael-256, single-user", {"Secret", craRijndael_256}, false},
      {"Rijndael-256, multi-user", {"Secret", craRijndael_256}, true},
      {"Blowfish, multi-user", {"Secret", craBlowfish}, true},
  };
  for (const TCase& Case : Cases) {
    SCOPED_TRACE(Case.Name);
    std::filesystem::remove(Path);
    Password = Case.Password;
    CreateDatabase();
    {
      TConnection C;
      Connect(C, Case.MultiUser);
      for (const char* Name : {"First", "Second", "Third"}) {
        CreateTable(C, Name);
        C.OpenTable(Name);
        for (int32_t I = 0; I < 60; ++I) C.Insert(I * 7 % 50);
      }
    }
    TConnection C;
    Connect(C, Case.MultiUser);
    for (const char* Name : {"First", "Second", "Third"}) {
      C.OpenTable(Name);
      EXPECT_EQ(Join(C.Problems()), "") << Name;
    }
  }
}

// Passing over the plain pages must not hide damage: a record page whose encrypted data were
// changed in the file is still reported.
TEST_F(DiskTableUpkeep, CheckReportsADamagedRecordPageOfAnEncryptedFile) {
  Password = {"Secret", craRijndael_256};
  CreateDatabase();
  TVLTPageNo RecordPage = kNoPage;
  {
    TConnection C;
    Connect(C, false);
    CreateTable(C, "People");
    C.OpenTable("People");
    for (int32_t I = 0; I < 5; ++I) C.Insert(I);
    RecordPage = C.Cursor.CurrentRecordID.PageNo;
  }
  ASSERT_NE(RecordPage, kNoPage);
  {
    auto M = Open(Password);
    const int64_t At = M->PagePosition(RecordPage) + kPageHeaderSize + 10;
    M.reset();
    const uint8_t Byte = Peek<uint8_t>(At) ^ 0x5A;
    Poke(At, &Byte, 1);
  }
  TConnection C;
  Connect(C, false);
  // Opening reads the record page index, not the record pages themselves.
  C.OpenTable("People");
  const std::string Problems = Join(C.Problems());
  EXPECT_NE(Problems.find("page " + std::to_string(RecordPage) + " cannot be read"),
            std::string::npos)
      << Problems;
}

// ---- table locks between two connections ----

// Two multi-user connections with the table open: what the XIRW-after-SIRW allowance changes.
TEST_F(DiskTableUpkeep, XIRWAfterSIRWIsAllowedOnlyWhenAsked) {
  CreateDatabase();
  TConnection A, B;
  Connect(A, true);
  CreateTable(A, "People");
  A.OpenTable("People");
  Connect(B, true);
  B.OpenTable("People");
  ASSERT_NE(A.Session.SessionID, B.Session.SessionID);
  const TVLTSessionID SA = A.Session.SessionID, SB = B.Session.SessionID;

  // Another session's SIRW: XIRW is refused unless allowed.
  ASSERT_TRUE(B.Table->LockTable(SB, ltSIRW, 3, 1));
  EXPECT_FALSE(A.Table->LockTable(SA, ltXIRW, 3, 1));
  EXPECT_FALSE(A.Table->LockTable(SA, ltXIRW, 3, 1, false));
  ASSERT_TRUE(A.Table->LockTable(SA, ltXIRW, 3, 1, true));
  EXPECT_TRUE(A.Table->UnlockTable(SA, ltXIRW));
  EXPECT_TRUE(B.Table->UnlockTable(SB, ltSIRW));

  // Another session's RW: the allowance does not reach beyond SIRW.
  ASSERT_TRUE(B.Table->LockTable(SB, ltRW, 3, 1));
  EXPECT_FALSE(A.Table->LockTable(SA, ltXIRW, 3, 1, true));
  EXPECT_TRUE(B.Table->UnlockTable(SB, ltRW));

  // A record locked under an XIRW taken with the allowance is locked in the file, where the
  // other connection sees it; under an XIRW taken without it the lock stays in this process.
  const TVLTPageItemID Record{5, 2};
  for (const bool Allow : {true, false}) {
    SCOPED_TRACE(Allow ? "XIRW with the allowance" : "XIRW without the allowance");
    ASSERT_TRUE(A.Table->LockTable(SA, ltXIRW, 3, 1, Allow));
    ASSERT_TRUE(A.Table->LockRecord(SA, Record, 3, 1));
    EXPECT_EQ(B.Table->IsRecordLocked(SB, Record), Allow);
    EXPECT_FALSE(B.Table->IsRecordLocked(SB, TVLTPageItemID{5, 3}));
    EXPECT_TRUE(A.Table->UnlockRecord(SA, Record));
    EXPECT_FALSE(B.Table->IsRecordLocked(SB, Record));
    EXPECT_TRUE(A.Table->UnlockTable(SA, ltXIRW));
  }
}

// ---- last autoincrement values of the session ----

TEST_F(DiskTableUpkeep, DeletingATableForgetsTheSessionsLastValuesOfItsFields) {
  CreateDatabase();
  TConnection C;
  Connect(C, false);
  CreateTable(C, "Kept");
  CreateTable(C, "Dropped");
  C.OpenTable("Kept");
  C.Insert(1);
  C.Insert(2);
  const TVLTObjectID KeptSeq = C.FieldID(0);
  C.OpenTable("Dropped");
  C.Insert(3);
  const TVLTObjectID DroppedSeq = C.FieldID(0);
  ASSERT_NE(KeptSeq, DroppedSeq);
  ASSERT_NE(C.Session.FindSequenceValue(KeptSeq), nullptr);
  EXPECT_EQ(C.Session.FindSequenceValue(KeptSeq)->FValue, 2);
  ASSERT_NE(C.Session.FindSequenceValue(DroppedSeq), nullptr);
  C.CloseTable();

  TVLTTableCursor Cursor;
  Cursor.FSession = &C.Session;
  Cursor.FTableName = "Dropped";
  TVLTDiskTableData(C.Link.get(), C.Db.get(), "Dropped").DeleteTable(Cursor, false);

  EXPECT_EQ(C.Session.FindSequenceValue(DroppedSeq), nullptr);
  ASSERT_NE(C.Session.FindSequenceValue(KeptSeq), nullptr);
  EXPECT_EQ(C.Session.FindSequenceValue(KeptSeq)->FValue, 2);
  EXPECT_EQ(C.Session.SequenceValues().size(), 1u);

  // A table made again under the old name starts its own sequence for the session.
  CreateTable(C, "Dropped");
  C.OpenTable("Dropped");
  C.Insert(4);
  const TVLTObjectID NewSeq = C.FieldID(0);
  EXPECT_NE(NewSeq, DroppedSeq);
  ASSERT_NE(C.Session.FindSequenceValue(NewSeq), nullptr);
  EXPECT_EQ(C.Session.FindSequenceValue(NewSeq)->FValue, 1);
}

}  // namespace
}  // namespace vlt
