#include "engine/disk/VLTDiskDatabaseData.h"

#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <functional>

#include "VLTDiskTestUtil.h"
#include "engine/disk/VLTActiveSessionsFile.h"
#include "engine/disk/VLTSystemDirectory.h"
#include "engine/disk/VLTTableList.h"

namespace vlt {
namespace {

using test::CodeOf;
using test::kSys;

// Short lock waits: nothing in these tests waits long for a lock.
TVLTDiskDatabaseData::TLockWaits ShortWaits() {
  TVLTDiskDatabaseData::TLockWaits W;
  W.Count = 3;
  W.DelayMS = 1;
  W.CommitCount = 3;
  W.CommitDelayMS = 1;
  W.TablesCount = 3;
  W.TablesDelayMS = 1;
  return W;
}

class DiskDatabaseData : public test::DiskTest {
 protected:
  std::unique_ptr<TVLTDiskDatabaseData> NewData() {
    auto D = std::make_unique<TVLTDiskDatabaseData>(Path, "Default");
    D->SetLockWaits(ShortWaits());
    D->SetPageSize(512);
    D->SetPageCountInExtent(8);
    D->SetMaxSessionCount(4);
    return D;
  }
  void CreateDatabase(int32_t MaxSessions = 4, const TVLTPassword& Password = {}) {
    auto D = NewData();
    D->SetMaxSessionCount(MaxSessions);
    D->SetPassword(Password);
    D->CreateDatabase();
  }
  static TVLTDatabaseSession Session(bool MultiUser) {
    TVLTDatabaseSession S;
    S.MultiUser = MultiUser;
    return S;
  }

  // Runs Body in a child process; answers its exit code (99 when it threw something else than
  // EVLTException, the code mod 256 is not used: Body returns what the test wants to see).
  static int InChild(const std::function<int()>& Body) {
    pid_t Pid = fork();
    if (Pid == 0) {
      int Code = 99;
      try {
        Code = Body();
      } catch (...) {
      }
      _exit(Code);
    }
    int Status = 0;
    waitpid(Pid, &Status, 0);
    return WIFEXITED(Status) ? WEXITSTATUS(Status) : -1;
  }
};

// ---- creating ----

TEST_F(DiskDatabaseData, NewDatabaseHasTheSystemFilesOnFixedPages) {
  CreateDatabase();
  auto B = Bytes();
  ASSERT_EQ(B.size(), 3452u);  // 380 + 6 pages of 512
  const TVLTDBHeader H = StoredHeader();
  EXPECT_EQ(+H.TotalPageCount, 6);
  EXPECT_EQ(+H.LastUsedPageNo, 4);
  EXPECT_EQ(+H.State, 1);
  EXPECT_EQ(+H.WriteChangesState, 2);
  const uint16_t Types[] = {ptPFS, ptEAM, ptFileSystemDirectory, ptActiveSessionList, ptTableList};
  for (TVLTPageNo No = 0; No < 5; ++No)
    EXPECT_EQ(LoadLE<uint16_t>(B.data() + PageOffset(No) + 8), Types[No]) << No;
  EXPECT_EQ(B[PageOffset(0) + 40], 0x1F);  // pages 0 to 4 in use
  EXPECT_EQ(B[PageOffset(1) + 40], 0x01);

  // Directory: header (10, 10 stored bytes, 10, plain), then (2, 3) and (1, 4).
  const uint8_t* Dir = B.data() + PageOffset(2) + 40;
  EXPECT_EQ(Dir[0], 10);
  EXPECT_EQ(LoadLE<int32_t>(Dir + 1), 10);
  EXPECT_EQ(LoadLE<int32_t>(Dir + 5), 10);
  EXPECT_EQ(Dir[9], 0);
  EXPECT_EQ(Dir[10], dbftActiveSessionsList);
  EXPECT_EQ(LoadLE<int32_t>(Dir + 11), 3);
  EXPECT_EQ(Dir[15], dbftTablesList);
  EXPECT_EQ(LoadLE<int32_t>(Dir + 16), 4);

  const uint8_t Sessions[] = {0x0A, 0x04, 0x00, 0x00, 0x00};
  EXPECT_EQ(std::memcmp(B.data() + PageOffset(3) + 40, Sessions, 5), 0);
  EXPECT_EQ(LoadLE<int32_t>(B.data() + PageOffset(3) + 10), kNoPage);
  const uint8_t* List = B.data() + PageOffset(4) + 40;
  EXPECT_EQ(List[0], 10);
  EXPECT_EQ(LoadLE<int32_t>(List + 1), 0);
}

TEST_F(DiskDatabaseData, ManySessionsChainTheSessionsFile) {
  CreateDatabase(1000);  // 1010 bytes: 3 pages of 472
  EXPECT_EQ(+StoredHeader().LastUsedPageNo, 6);
  EXPECT_EQ(LoadLE<int32_t>(Bytes().data() + PageOffset(3) + 10), 4);
  auto D = NewData();
  auto S = Session(true);
  D->ConnectSession(S);
  EXPECT_EQ(D->MaxSessionCount(), 1000);
  EXPECT_EQ(D->TableListFile()->StartPageNo(), 6);
  D->DisconnectSession(S);
}

TEST_F(DiskDatabaseData, FailedCreationLeavesNoFile) {
  auto D = NewData();
  D->SetPageSize(30);
  EXPECT_EQ(CodeOf([&] { D->CreateDatabase(); }), 20237);
  EXPECT_FALSE(TVLTDatabaseFile::FileExists(Path));
  D->SetPageSize(512);
  D->SetPassword({"pw", static_cast<TVLTCryptoAlgorithm>(42)});
  EXPECT_EQ(CodeOf([&] { D->CreateDatabase(); }), 20251);
  EXPECT_FALSE(TVLTDatabaseFile::FileExists(Path));
}

// ---- sessions within one process ----

TEST_F(DiskDatabaseData, SingleUserSessionsShareIdZeroAndHoldAllSlots) {
  CreateDatabase(4, {"secret", craTwofish_128});
  auto D = NewData();
  D->SetPassword({"secret", craRijndael_128});
  auto A = Session(false), B = Session(false);
  D->ConnectSession(A);
  D->ConnectSession(B);
  EXPECT_EQ(A.SessionID, 0);
  EXPECT_EQ(B.SessionID, 0);
  EXPECT_FALSE(A.ReadOnly);
  EXPECT_FALSE(A.RepairNeeded);
  EXPECT_EQ(D->Password().CryptoAlgorithm, craTwofish_128);  // the file's algorithm
  EXPECT_EQ(D->PageSize(), 512);
  EXPECT_EQ(D->GetDBFileConnectionsCount(), 4);
  D->DisconnectSession(A);
  EXPECT_EQ(D->GetDBFileConnectionsCount(), 4);  // B still connected
  D->DisconnectSession(B);
  EXPECT_FALSE(D->IsOpen());
  EXPECT_TRUE(D->FreeIfNoSessionsConnected());
}

TEST_F(DiskDatabaseData, MultiUserSessionsTakeTheLowestFreeSlot) {
  CreateDatabase(2);
  auto D = NewData();
  auto A = Session(true), B = Session(true), C = Session(true);
  D->ConnectSession(A);
  D->ConnectSession(B);
  EXPECT_EQ(A.SessionID, 0);
  EXPECT_EQ(B.SessionID, 1);
  EXPECT_EQ(CodeOf([&] { D->ConnectSession(C); }), 20094);
  EXPECT_EQ(C.SessionID, kNoSessionID);
  D->DisconnectSession(A);
  D->ConnectSession(C);
  EXPECT_EQ(C.SessionID, 0);
  EXPECT_EQ(D->GetDBFileConnectionsCount(), 2);
  D->DisconnectSession(B);
  D->DisconnectSession(C);
  EXPECT_FALSE(D->IsOpen());
}

TEST_F(DiskDatabaseData, ModesCannotBeMixedInOneDatabaseObject) {
  CreateDatabase();
  auto D = NewData();
  auto Single = Session(false), Multi = Session(true);
  D->ConnectSession(Single);
  EXPECT_EQ(CodeOf([&] { D->ConnectSession(Multi); }), 20235);
  EXPECT_TRUE(D->IsOpen());
  D->DisconnectSession(Single);

  // A multi-user session alone on a new object opens the database; a failed connect of the
  // first session closes it again.
  auto E = NewData();
  E->SetPassword({});
  auto M = Session(true);
  E->ConnectSession(M);
  EXPECT_EQ(CodeOf([&] { E->ConnectSession(Single); }), 20235);
  E->DisconnectSession(M);
}

TEST_F(DiskDatabaseData, ABusySessionsFileIsReportedAfterTheWait) {
  CreateDatabase();
  TVLTDatabaseFile Other;  // another open of the file holds the sessions-file lock
  Other.OpenFile(Path, amReadWrite, smShareDenyNone);
  ASSERT_TRUE(Other.LockByte(PageOffset(3), 1));
  auto D = NewData();
  auto S = Session(true);
  EXPECT_EQ(test::MessageOf([&] { D->ConnectSession(S); }),
            "Cannot lock sessions file - Native error: 20243");
  EXPECT_FALSE(D->IsOpen());
  auto Single = Session(false);
  EXPECT_EQ(CodeOf([&] { D->ConnectSession(Single); }), 20245);
  Other.UnlockByte(PageOffset(3), 1);
  D->ConnectSession(Single);
  D->DisconnectSession(Single);
}

TEST_F(DiskDatabaseData, WrongPasswordLeavesTheObjectClosed) {
  CreateDatabase(4, {"right", craBlowfish});
  auto D = NewData();
  D->SetPassword({"wrong", craBlowfish});
  auto S = Session(false);
  EXPECT_EQ(CodeOf([&] { D->ConnectSession(S); }), 30445);
  EXPECT_FALSE(D->IsOpen());
  D->SetPassword({"right", craBlowfish});
  D->ConnectSession(S);
  D->DisconnectSession(S);
}

TEST_F(DiskDatabaseData, TableListChangesBecomePermanentWithTheSystemSession) {
  CreateDatabase();
  auto D = NewData();
  EXPECT_EQ(CodeOf([&] { D->AddTable(1, "Accounts", 5, 6, 7); }), 20126);
  int32_t Id = 0;
  TVLTPageNo Meta = 0, Most = 0, Locks = 0;
  EXPECT_EQ(CodeOf([&] { D->OpenTable("Accounts", Id, Meta, Most, Locks); }), 20129);
  EXPECT_EQ(CodeOf([&] { D->RemoveTable("Accounts"); }), 20130);
  EXPECT_EQ(CodeOf([&] { D->RenameTable("Accounts", "X"); }), 20131);

  auto S = Session(false);
  D->ConnectSession(S);
  D->AddTable(1, "ACCOUNTS", 5, 6, 7);
  D->AddTable(2, "Funds", 8, 9, 10);
  EXPECT_EQ(CodeOf([&] { D->AddTable(3, "Accounts", 1, 2, 3); }), 30395);
  D->OpenTable("accounts", Id, Meta, Most, Locks);
  EXPECT_EQ(Id, 1);
  EXPECT_EQ(Locks, 7);
  D->RenameTable("Funds", "Donors");
  D->Commit(kSys, true);
  D->AddTable(4, "Uncommitted", 1, 2, 3);
  D->DisconnectSession(S);

  D->ConnectSession(S);
  std::vector<std::string> Names;
  D->GetTablesList(Names);
  EXPECT_EQ(Names, (std::vector<std::string>{"ACCOUNTS", "Donors"}));
  EXPECT_TRUE(D->TableExists("donors"));
  D->RemoveTable("accounts");
  D->Commit(kSys, false);
  D->GetTablesList(Names);
  EXPECT_EQ(Names, (std::vector<std::string>{"Donors"}));
  D->DisconnectSession(S);
}

TEST_F(DiskDatabaseData, TableListChangesOfOthersAreKept) {
  CreateDatabase();
  // Two database objects with their own opens of the file, as two processes have.
  auto A = std::make_unique<TVLTDiskDatabaseData>(Path, "One");
  auto B = std::make_unique<TVLTDiskDatabaseData>(Path, "Two");
  A->SetLockWaits(ShortWaits());
  B->SetLockWaits(ShortWaits());
  auto SA = Session(true), SB = Session(true);
  A->ConnectSession(SA);
  B->ConnectSession(SB);
  A->AddTable(1, "First", 1, 2, 3);
  A->Commit(kSys, false);
  int32_t Id = 0;
  TVLTPageNo Meta = 0, Most = 0, Locks = 0;
  B->OpenTable("first", Id, Meta, Most, Locks);  // seen without reconnecting
  EXPECT_EQ(Id, 1);
  B->AddTable(2, "Second", 4, 5, 6);
  B->Commit(kSys, false);
  std::vector<std::string> Names;
  A->GetTablesList(Names);
  EXPECT_EQ(Names, (std::vector<std::string>{"First", "Second"}));
  EXPECT_EQ(CodeOf([&] { A->AddTable(3, "SECOND", 1, 1, 1); }), 30395);
  A->DisconnectSession(SA);
  B->DisconnectSession(SB);
}

TEST_F(DiskDatabaseData, UncommittedSystemPagesAreGivenBackAtClose) {
  CreateDatabase();
  auto D = NewData();
  auto S = Session(false);
  D->ConnectSession(S);
  // Enough table entries to make the table list grow by a page.
  for (int I = 0; I < 3; ++I) D->AddTable(I, "T" + std::to_string(I), 1, 2, 3);
  EXPECT_EQ(+D->PageManager()->DBHeader().LastUsedPageNo, 5);
  D->DisconnectSession(S);
  EXPECT_EQ(+StoredHeader().LastUsedPageNo, 4);
}

TEST_F(DiskDatabaseData, CommitRollbackAndObjectIds) {
  CreateDatabase();
  auto D = NewData();
  EXPECT_EQ(CodeOf([&] { D->GetNewObjectId(); }), 10459);
  auto S = Session(true);
  D->ConnectSession(S);
  EXPECT_EQ(D->GetNewObjectId(), 1);
  EXPECT_EQ(D->GetNewObjectId(), 2);
  TVLTPage* P = D->PageManager()->AddPage(S.SessionID, ptTableRecord);
  const TVLTPageNo No = P->PageNo();
  D->PageManager()->PutPage(P);
  D->Rollback(S.SessionID);
  EXPECT_FALSE(D->PageManager()->HasChanges(S.SessionID));
  P = D->PageManager()->AddPage(S.SessionID, ptTableRecord);
  EXPECT_EQ(P->PageNo(), No);  // given back by the rollback
  D->PageManager()->PutPage(P);
  D->Commit(S.SessionID, true);
  EXPECT_EQ(+StoredHeader().State, 2);
  D->LockTables();
  EXPECT_EQ(CodeOf([&] { D->LockTables(); }), 20210);  // the same open cannot take it twice
  D->UnlockTables();
  EXPECT_EQ(CodeOf([&] { D->UnlockTables(); }), 20211);
  D->DisconnectSession(S);
}

// ---- sessions of several processes ----

TEST_F(DiskDatabaseData, ProcessesGetTheirOwnSlots) {
  CreateDatabase(2);
  auto D = NewData();
  auto S = Session(true);
  D->ConnectSession(S);
  ASSERT_EQ(S.SessionID, 0);

  int Hold[2], Ready[2];
  ASSERT_EQ(pipe(Hold), 0);
  ASSERT_EQ(pipe(Ready), 0);
  pid_t Second = fork();
  if (Second == 0) {
    int Code = 99;
    try {
      auto E = NewData();
      auto T = Session(true);
      E->ConnectSession(T);
      Code = T.SessionID;
      char C = static_cast<char>(Code);
      (void)!write(Ready[1], &C, 1);
      (void)!read(Hold[0], &C, 1);  // keep the slot until the parent is done
      E->DisconnectSession(T);
    } catch (...) {
    }
    _exit(Code);
  }
  char Got = -1;
  ASSERT_EQ(read(Ready[0], &Got, 1), 1);
  EXPECT_EQ(Got, 1);
  EXPECT_EQ(D->GetDBFileConnectionsCount(), 2);

  EXPECT_EQ(InChild([&] {
              auto E = NewData();
              auto T = Session(true);
              return CodeOf([&] { E->ConnectSession(T); }) == 20094 ? 0 : 1;
            }),
            0);
  // A single-user process finds others connected and only reads.
  EXPECT_EQ(InChild([&] {
              auto E = NewData();
              auto T = Session(false);
              E->ConnectSession(T);
              int R = T.ReadOnly && E->ReadOnly() && T.SessionID == 0 ? 0 : 1;
              E->DisconnectSession(T);
              return R;
            }),
            0);

  char C = 'x';
  ASSERT_EQ(write(Hold[1], &C, 1), 1);
  int Status = 0;
  waitpid(Second, &Status, 0);
  EXPECT_EQ(WEXITSTATUS(Status), 1);
  D->DisconnectSession(S);
  for (int F : {Hold[0], Hold[1], Ready[0], Ready[1]}) close(F);

  // Everybody gone: a single-user process takes all slots again.
  auto E = NewData();
  auto T = Session(false);
  E->ConnectSession(T);
  EXPECT_FALSE(T.ReadOnly);
  EXPECT_EQ(InChild([&] {
              auto F = NewData();
              auto U = Session(true);
              return CodeOf([&] { F->ConnectSession(U); }) == 20094 ? 0 : 1;
            }),
            0);
  E->DisconnectSession(T);
}

}  // namespace
}  // namespace vlt
