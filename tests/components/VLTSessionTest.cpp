// Engine registry, engine sessions and session components.
#include "engine/components/VLTSession.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>

#include "engine/base/VLTExcept.h"
#include "engine/components/VLTDiskDatabaseEntry.h"
#include "engine/components/VLTEngineRegistry.h"
#include "engine/components/VLTLocalCursor.h"
#include "engine/components/VLTLocalSession.h"
#include "engine/components/VLTReservedDatabaseData.h"
#include "tests/VLTTestUtil.h"

namespace vlt {
namespace {

using test::CodeOf;

class SessionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    VLTStartEngine();
    char Tmpl[] = "/tmp/vlt_sess_XXXXXX";
    ASSERT_NE(mkdtemp(Tmpl), nullptr);
    Dir = Tmpl;
    Path = Dir + "/db.vlt";
    BaseCount = VLTEngineRegistry().Count();
  }
  void TearDown() override {
    EXPECT_EQ(VLTEngineRegistry().Count(), BaseCount) << "a database data outlived its sessions";
    std::filesystem::remove_all(Dir);
  }
  std::unique_ptr<TVLTLocalSession> NewSession(const std::string& SessionName = {},
                                               const std::string& Password = {}) {
    auto S = std::make_unique<TVLTLocalSession>();
    S->FDatabaseName = "Db";
    S->FDatabaseFileName = Path;
    S->FSessionName = SessionName;
    S->FPassword.Password = Password;
    S->FPageSize = 1024;
    S->FMaxSessionCount = 8;
    S->MultiUser = !SessionName.empty();
    return S;
  }
  void CreateFile(const std::string& Password = {}) { NewSession({}, Password)->CreateDatabase(); }

  std::string Dir, Path;
  int32_t BaseCount = 0;
};

TEST_F(SessionTest, RegistryStartsWithTheReservedDatabases) {
  TVLTEngineRegistry& R = VLTEngineRegistry();
  ASSERT_GE(R.Count(), 2);
  EXPECT_EQ(R.Items(0)->DatabaseName(), "MEMORY");
  EXPECT_EQ(R.Items(1)->DatabaseName(), "TEMP");
  // The reserved databases hold no tables.
  for (const char* Name : {"MEMORY", "TEMP"}) {
    TVLTLocalSession S;
    S.FDatabaseName = Name;
    S.SetConnected(true);
    EXPECT_EQ(S.DatabaseData(), R.FindReserved(Name));
    EXPECT_FALSE(S.TableExists("Anything"));
    S.SetConnected(false);
  }
}

TEST_F(SessionTest, SameFileAndSessionNameShareOneDatabaseData) {
  CreateFile();
  auto A = NewSession(), B = NewSession();
  A->SetConnected(true);
  B->SetConnected(true);
  ASSERT_TRUE(A->GetConnected() && B->GetConnected());
  EXPECT_EQ(A->DatabaseData(), B->DatabaseData());
  EXPECT_EQ(VLTEngineRegistry().Count(), BaseCount + 1);
  A->SetConnected(false);
  EXPECT_FALSE(A->GetConnected());
  // The other session keeps working on the shared object.
  EXPECT_FALSE(B->TableExists("Missing"));
  EXPECT_EQ(VLTEngineRegistry().Count(), BaseCount + 1);
  B->SetConnected(false);
  EXPECT_EQ(VLTEngineRegistry().Count(), BaseCount);
}

TEST_F(SessionTest, SessionNamesSeparateDatabaseDataInMultiUserMode) {
  CreateFile();
  auto A = NewSession("S1"), B = NewSession("S2"), C = NewSession("s1");
  A->SetConnected(true);
  B->SetConnected(true);
  C->SetConnected(true);
  EXPECT_NE(A->DatabaseData(), B->DatabaseData());
  EXPECT_EQ(A->DatabaseData(), C->DatabaseData());  // names compare without regard to case
  EXPECT_NE(A->SessionID, C->SessionID);            // two slots of one file
  EXPECT_EQ(VLTEngineRegistry().Count(), BaseCount + 2);
  A->SetConnected(false);
  B->SetConnected(false);
  C->SetConnected(false);
}

TEST_F(SessionTest, CreateDatabaseRefusesAnOpenFile) {
  CreateFile();
  auto A = NewSession();
  A->SetConnected(true);
  auto B = NewSession();
  EXPECT_EQ(CodeOf([&] { B->CreateDatabase(); }), 20092);
  A->SetConnected(false);
  std::filesystem::remove(Path);
  EXPECT_EQ(CodeOf([&] { B->CreateDatabase(); }), 0);
  EXPECT_TRUE(std::filesystem::exists(Path));
}

TEST_F(SessionTest, FailedCreationLeavesNothingInTheRegistry) {
  auto S = NewSession();
  S->FDatabaseFileName = Dir + "/no/such/dir/db.vlt";
  EXPECT_THROW(S->CreateDatabase(), std::exception);
  EXPECT_EQ(VLTEngineRegistry().Count(), BaseCount);
}

TEST_F(SessionTest, CommitAndRollbackNeedATransaction) {
  CreateFile();
  auto S = NewSession();
  S->SetConnected(true);
  EXPECT_EQ(CodeOf([&] { S->Commit(false); }), 20229);
  EXPECT_EQ(CodeOf([&] { S->Rollback(); }), 20229);
  EXPECT_FALSE(S->InTransaction);
  S->StartTransaction();
  EXPECT_TRUE(S->InTransaction);
  S->Commit(true);
  EXPECT_FALSE(S->InTransaction);
  S->StartTransaction();
  S->Rollback();
  EXPECT_FALSE(S->InTransaction);
  S->SetConnected(false);
}

TEST_F(SessionTest, ASecondSessionWithAnotherPasswordStaysOut) {
  CreateFile("secret");
  auto A = NewSession({}, "secret");
  A->SetConnected(true);
  auto B = NewSession({}, "Secret");  // passwords compare exactly
  EXPECT_EQ(CodeOf([&] { B->SetConnected(true); }), 20298);
  EXPECT_FALSE(B->GetConnected());
  EXPECT_EQ(A->DatabaseData()->SessionList().size(), 1u);
  A->SetConnected(false);
}

TEST_F(SessionTest, WrongPasswordOnFirstConnectLeavesNoEntry) {
  CreateFile("secret");
  auto S = NewSession({}, "wrong");
  EXPECT_THROW(S->SetConnected(true), EVLTException);
  EXPECT_FALSE(S->GetConnected());
}

TEST_F(SessionTest, ReservedNamesAreExactlyUpperCase) {
  CreateFile();
  auto S = NewSession();
  S->FDatabaseName = "memory";  // not the reserved name: the file is meant
  S->SetConnected(true);
  EXPECT_NE(S->DiskLink(), nullptr);
  S->SetConnected(false);
}

TEST_F(SessionTest, TableListOfAnUnconnectedSession) {
  CreateFile();
  auto S = NewSession();
  std::vector<std::string> List{"stale"};
  S->GetTablesList(List);
  EXPECT_TRUE(List.empty());
  EXPECT_FALSE(S->GetConnected());
}

TEST(SessionNamedObjects, ReplaceByIdOrByName) {
  TVLTLocalSession S;
  S.SetObject(std::make_unique<TVLTSessionNamedObject>(7, "Seq7"));
  S.SetObject(std::make_unique<TVLTSessionNamedObject>(-1, "Named"));
  S.SetObject(std::make_unique<TVLTSessionNamedObject>(7, "Other"));
  EXPECT_EQ(S.NamedObjectCount(), 2);
  EXPECT_EQ(S.GetObjectByID(7)->FName, "Other");
  S.SetObject(std::make_unique<TVLTSessionNamedObject>(-1, "NAMED"));
  EXPECT_EQ(S.NamedObjectCount(), 2);
  EXPECT_EQ(S.GetObjectByName("named")->FName, "NAMED");
  S.DeleteObject(7);
  EXPECT_EQ(S.GetObjectByID(7), nullptr);
  EXPECT_EQ(S.NamedObjectCount(), 1);
  EXPECT_EQ(TVLTSessionNamedObject(1, std::string(300, 'x')).FName.size(), 255u);
}

// ---- session components ----

TEST(SessionComponents, DefaultSessionIsFoundByEmptyOrAnyCaseName) {
  VLTStartEngine();
  TVLTSessionList& L = VLTSessions();
  TVLTSession* D = L.FindSession("");
  ASSERT_NE(D, nullptr);
  EXPECT_EQ(D->SessionName(), "Default");
  EXPECT_TRUE(D->IsDefault());
  EXPECT_TRUE(D->Active());
  EXPECT_EQ(L.FindSession("default"), D);
  EXPECT_EQ(L.GetSession("DEFAULT"), D);
  EXPECT_EQ(CodeOf([&] { L.GetSession("Nobody"); }), 20002);
}

TEST(SessionComponents, ActivationRulesAndTokens) {
  VLTStartEngine();
  TVLTSessionList& L = VLTSessions();
  TVLTSession S;
  L.Add(&S);
  EXPECT_THROW(S.SetActive(true), EVLTSessionError);  // no name
  S.SetSessionName("Work");
  EXPECT_THROW(S.SetSessionName("default"), EVLTSessionError);  // duplicate
  bool Started = false;
  S.FOnStartup = [&](TVLTSession&) { Started = true; };
  S.Open();
  EXPECT_TRUE(Started);
  EXPECT_THROW(S.SetSessionName("Other"), EVLTSessionError);  // active
  EXPECT_NE(S.Handle(), VLTDefaultSession().Handle());
  L.SetCurrentSession(&S);
  EXPECT_EQ(L.CurrentSession(), &S);
  S.Close();
  EXPECT_EQ(L.CurrentSession(), &VLTDefaultSession());
  std::vector<std::string> Names;
  L.GetSessionNames(Names);
  EXPECT_NE(std::find(Names.begin(), Names.end(), "Work"), Names.end());
}

TEST(SessionComponents, AutomaticNamesTakeTheLowestFreeNumber) {
  VLTStartEngine();
  TVLTSession A, B;
  A.FComponentName = B.FComponentName = "Sess";
  VLTSessions().Add(&A);
  VLTSessions().Add(&B);
  A.SetAutoSessionName(true);
  B.SetAutoSessionName(true);
  EXPECT_EQ(A.SessionName(), "Sess_1");
  EXPECT_EQ(B.SessionName(), "Sess_2");
  EXPECT_THROW(A.SetSessionName("x"), EVLTSessionError);
  A.SetAutoSessionName(false);
  TVLTSession C;
  C.FComponentName = "Sess";
  VLTSessions().Add(&C);
  C.SetAutoSessionName(true);
  EXPECT_EQ(C.SessionName(), "Sess_1");
}

TEST(SessionComponents, OpenSessionMakesAndActivates) {
  VLTStartEngine();
  TVLTSession* S = VLTSessions().OpenSession("Made");
  ASSERT_NE(S, nullptr);
  EXPECT_TRUE(S->Active());
  EXPECT_EQ(VLTSessions().OpenSession("MADE"), S);
}

TEST(SessionComponents, ShutdownAndRestart) {
  VLTStartEngine();
  VLTShutdownEngine();
  EXPECT_FALSE(VLTEngineStarted());
  EXPECT_EQ(CodeOf([] { VLTEngineRegistry(); }), 20007);
  EXPECT_EQ(CodeOf([] { VLTSessions(); }), 20007);
  VLTStartEngine();
  EXPECT_EQ(VLTEngineRegistry().Count(), 2);
  EXPECT_EQ(VLTDefaultSession().SessionName(), "Default");
}

}  // namespace
}  // namespace vlt

namespace vlt {
namespace {

// A cursor on a table of a real database file, through the registry's disk entry.
TEST_F(SessionTest, CursorOnADatabaseFile) {
  CreateFile();
  auto S = NewSession();
  S->SetConnected(true);
  {
    TVLTFieldDefs F;
    TVLTFieldDef& V = F.AddNew();
    V.SetName("V");
    V.SetFieldDefDataType(aftInteger, 0);
    TVLTLocalCursor Maker;
    Maker.SetSession(S.get());
    Maker.FTableName = "Numbers";
    Maker.CreateTable(F, TVLTIndexDefs(), TVLTConstraintDefs());
  }
  EXPECT_TRUE(S->TableExists("numbers"));
  {
    TVLTLocalCursor C;
    C.SetSession(S.get());
    C.FTableName = "Numbers";
    C.OpenTableByFieldDefs(nullptr, nullptr, nullptr);
    C.InternalInitFieldDefs();
    std::vector<uint8_t> Buf(static_cast<size_t>(C.FRecordBufferSize));
    C.SetCurrentRecordBuffer(Buf.data());
    for (int32_t V : {4, 5}) {
      C.InternalInitRecord(Buf.data(), true);
      C.SetFieldData(0, &V, Buf.data());
      C.InternalPost(true);
      ASSERT_EQ(C.FErrorCode, 0);
    }
    C.InternalFirst();
    std::vector<int32_t> Seen;
    while (C.GetRecordBuffer(grmNext) == grrOK) {
      int32_t V = 0;
      C.GetFieldData(0, &V, Buf.data());
      Seen.push_back(V);
    }
    EXPECT_EQ(Seen, (std::vector<int32_t>{4, 5}));
    ASSERT_TRUE(C.Locate("V", {[] {
                                TVLTVariant X;
                                X.SetAsInteger(5);
                                return X;
                              }()},
                         false, false));
    std::vector<uint8_t> Edit = Buf;
    C.SetEditRecordBuffer(Edit.data());
    C.InternalEdit();
    ASSERT_EQ(C.FErrorCode, 0);
    int32_t Nine = 9;
    C.SetFieldData(0, &Nine, Buf.data());
    C.InternalPost(false);
    EXPECT_EQ(C.FErrorCode, 0);
    EXPECT_EQ(C.GetRecordCount(), 2);
  }
  auto Other = std::make_unique<TVLTLocalCursor>();
  Other->SetSession(S.get());
  Other->FTableName = "Numbers";
  Other->DeleteTable();
  EXPECT_FALSE(S->TableExists("Numbers"));
  S->SetConnected(false);
}

}  // namespace
}  // namespace vlt

namespace vlt {
namespace {

// Two multi-user sessions of one process under different session names open the file twice, so
// they meet through the file's locks exactly as two processes do.
TEST_F(SessionTest, TwoMultiUserSessionsMeetThroughTheFileLocks) {
  CreateFile();
  auto A = NewSession("A"), B = NewSession("B");
  A->SetConnected(true);
  B->SetConnected(true);
  ASSERT_TRUE(A->MultiUser && B->MultiUser);
  auto Open = [](TVLTLocalSession& S, std::vector<uint8_t>& Buf) {
    auto C = std::make_unique<TVLTLocalCursor>();
    C->SetSession(&S);
    C->FTableName = "Numbers";
    C->FLockWaits = {2, 1, 2, 1, 2, 1, 2, 1, 2, 1};
    C->OpenTableByFieldDefs(nullptr, nullptr, nullptr);
    C->InternalInitFieldDefs();
    Buf.assign(static_cast<size_t>(C->FRecordBufferSize), 0);
    C->SetCurrentRecordBuffer(Buf.data());
    return C;
  };
  {
    TVLTFieldDefs F;
    TVLTFieldDef& V = F.AddNew();
    V.SetName("V");
    V.SetFieldDefDataType(aftInteger, 0);
    TVLTLocalCursor Maker;
    Maker.SetSession(A.get());
    Maker.FTableName = "Numbers";
    Maker.CreateTable(F, TVLTIndexDefs(), TVLTConstraintDefs());
  }
  std::vector<uint8_t> BufA, BufB, EditA, EditB;
  auto CA = Open(*A, BufA);
  int32_t One = 1;
  CA->InternalInitRecord(BufA.data(), true);
  CA->SetFieldData(0, &One, BufA.data());
  CA->InternalPost(true);
  ASSERT_EQ(CA->FErrorCode, 0);
  auto CB = Open(*B, BufB);
  auto First = [](TVLTLocalCursor& C) {
    C.InternalFirst();
    return C.GetRecordBuffer(grmNext);
  };
  ASSERT_EQ(First(*CA), grrOK);
  ASSERT_EQ(First(*CB), grrOK);
  // A edits: B cannot lock the record meanwhile.
  EditA = BufA;
  CA->SetEditRecordBuffer(EditA.data());
  CA->InternalEdit();
  ASSERT_EQ(CA->FErrorCode, 0);
  EXPECT_TRUE(CB->IsRecordLocked());
  EditB = BufB;
  CB->SetEditRecordBuffer(EditB.data());
  CB->InternalEdit();
  EXPECT_EQ(CB->FErrorCode, kCursorRecordLocked);
  CB->InternalDelete();
  EXPECT_EQ(CB->FErrorCode, kCursorRecordLocked);
  // A posts a change: B, still showing the old record, is told so when it edits.
  int32_t Two = 2;
  CA->SetFieldData(0, &Two, BufA.data());
  CA->InternalPost(false);
  ASSERT_EQ(CA->FErrorCode, 0);
  CB->InternalEdit();
  EXPECT_EQ(CB->FErrorCode, kCursorUpdateModified);
  int32_t Shown = 0;
  CB->GetFieldData(0, &Shown, BufB.data());
  EXPECT_EQ(Shown, 1);  // the shown record stays in the buffer
  CA.reset();
  CB.reset();
  A->SetConnected(false);
  B->SetConnected(false);
}

}  // namespace
}  // namespace vlt

// ---- database components of a session ----

#include "engine/components/VLTDatabaseError.h"
#include "tests/components/VLTComponentTestUtil.h"

namespace vlt::test {
namespace {

class SessionDatabaseTest : public TComponentTest {
 protected:
  void SetUp() override {
    TComponentTest::SetUp();
    // An unencrypted database that is reached by its file name alone.
    Plain = Dir + "/Plain.vlt";
    TVLTDatabase Maker;
    Maker.SetDatabaseName("Maker");
    Maker.SetDatabaseFileName(Plain);
    Maker.FSilentMode = true;
    Maker.CreateDatabase();
    Maker.Open();
    TVLTFieldDefs F;
    TVLTFieldDef& V = F.AddNew();
    V.SetName("V");
    V.SetFieldDefDataType(aftInteger, 0);
    TVLTLocalCursor C;
    C.SetSession(Maker.Handle());
    C.FTableName = "Numbers";
    C.CreateTable(F, TVLTIndexDefs(), TVLTConstraintDefs());
  }
  void TearDown() override {
    VLTDefaultSession().DropConnections();
    TComponentTest::TearDown();
  }
  static std::vector<std::string> Names(TVLTSession& S) {
    std::vector<std::string> L;
    S.GetDatabaseNames(L);
    return L;
  }

  std::string Plain;
};

TEST_F(SessionDatabaseTest, OpenDatabaseCountsReferencesOfANamedDatabase) {
  TVLTDatabase& Db = NewDatabase();
  Db.CreateDatabase();
  TVLTSession& S = VLTDefaultSession();
  EXPECT_EQ(S.FindDatabase("PAY"), &Db);  // joined when it was named
  EXPECT_EQ(S.OpenDatabase("pay"), &Db);
  EXPECT_TRUE(Db.Connected());
  EXPECT_EQ(S.OpenDatabase("Pay"), &Db);
  EXPECT_EQ(Db.FRefCount, 2);
  S.CloseDatabase(&Db);
  S.CloseDatabase(&Db);
  EXPECT_EQ(Db.FRefCount, 0);
  EXPECT_TRUE(Db.Connected());  // KeepConnection
  S.CloseDatabase(&Db);
  EXPECT_EQ(Db.FRefCount, 0);  // never below 0
  S.OpenDatabase("Pay");
  Db.SetKeepConnection(false);
  EXPECT_TRUE(Db.Connected());  // still referenced
  S.CloseDatabase(&Db);
  EXPECT_FALSE(Db.Connected());
  EXPECT_EQ(S.FindDatabase("Pay"), &Db);  // a component of the application is never destroyed
}

TEST_F(SessionDatabaseTest, TemporaryDatabaseOnAFileName) {
  TVLTSession& S = VLTDefaultSession();
  TVLTDatabase* T = S.OpenDatabase(Plain);
  ASSERT_NE(T, nullptr);
  EXPECT_TRUE(T->Temporary());
  EXPECT_TRUE(T->FSilentMode);
  EXPECT_TRUE(T->FKeepConnection);
  EXPECT_EQ(T->DatabaseFileName(), Plain);
  EXPECT_TRUE(T->TableExists("numbers"));
  EXPECT_EQ(S.OpenDatabase(Plain), T);
  EXPECT_EQ(T->FRefCount, 2);
  S.CloseDatabase(T);
  S.DropConnections();  // still referenced: stays
  EXPECT_EQ(S.FindDatabase(Plain), T);
  S.CloseDatabase(T);
  EXPECT_TRUE(T->Connected());  // the session keeps its connections
  S.DropConnections();
  EXPECT_EQ(S.FindDatabase(Plain), nullptr);

  // Without KeepConnections the last reference destroys it.
  S.SetKeepConnections(false);
  T = S.OpenDatabase(Plain);
  EXPECT_FALSE(T->FKeepConnection);
  S.CloseDatabase(T);
  EXPECT_EQ(S.FindDatabase(Plain), nullptr);
  S.SetKeepConnections(true);
}

TEST_F(SessionDatabaseTest, FailedOpenLeavesNoTemporaryDatabase) {
  TVLTSession& S = VLTDefaultSession();
  const size_t Before = Names(S).size();
  const std::string Missing = Dir + "/Missing.vlt";
  try {
    S.OpenDatabase(Missing);
    FAIL();
  } catch (const EVLTDatabaseError& E) {
    EXPECT_EQ(std::string(E.what()), "Database file '" + Missing + "' does not exist");
  }
  EXPECT_FALSE(FileExists(Missing));  // never made up
  // An encrypted file cannot be opened without its password; the prompt is silent.
  TVLTDatabase& Enc = NewDatabase();
  Enc.CreateDatabase();
  try {
    S.OpenDatabase(FileName);
    FAIL();
  } catch (const EVLTException& E) {
    EXPECT_EQ(E.NativeError(), 30445);
  }
  EXPECT_EQ(Names(S).size(), Before + 1);  // only Enc joined
  EXPECT_EQ(S.FindDatabase(FileName), nullptr);
}

TEST_F(SessionDatabaseTest, TableNamesThroughATemporaryDatabase) {
  TVLTSession& S = VLTDefaultSession();
  std::vector<std::string> L{"stale"};
  S.GetTableNames("", L);
  EXPECT_TRUE(L.empty());
  S.GetTableNames(Plain, L);
  EXPECT_EQ(L, std::vector<std::string>{"Numbers"});
  TVLTDatabase* T = dynamic_cast<TVLTDatabase*>(S.FindDatabase(Plain));
  ASSERT_NE(T, nullptr);
  EXPECT_EQ(T->FRefCount, 0);  // the reference went back
}

TEST_F(SessionDatabaseTest, ReservedNamesInAnyCaseReachTheReservedDatabases) {
  TVLTSession& S = VLTDefaultSession();
  TVLTDatabase* M = S.OpenDatabase("memory");
  EXPECT_EQ(M->DatabaseName(), "MEMORY");
  EXPECT_TRUE(M->Connected());
  EXPECT_FALSE(M->TableExists("Anything"));
  EXPECT_EQ(S.OpenDatabase("Memory"), M);
  S.CloseDatabase(M);
  S.CloseDatabase(M);
}

TEST_F(SessionDatabaseTest, NamedDatabaseReplacesAnUnreferencedTemporaryOne) {
  TVLTSession& S = VLTDefaultSession();
  TVLTDatabase* T = S.OpenDatabase(Plain);
  TVLTDatabase Mine;
  Mine.SetDatabaseFileName(Plain);
  // Referenced: the name is taken.
  EXPECT_THROW(Mine.SetDatabaseName(Plain), EVLTDatabaseError);
  EXPECT_EQ(Mine.DatabaseName(), "");  // left as it was
  S.CloseDatabase(T);
  Mine.SetDatabaseName(Plain);
  EXPECT_EQ(S.FindDatabase(Plain), &Mine);
  Mine.Open();
  EXPECT_TRUE(Mine.TableExists("Numbers"));
}

TEST_F(SessionDatabaseTest, DeactivationDestroysTemporaryAndClosesOtherDatabases) {
  TVLTSession Work;
  VLTSessions().Add(&Work);
  Work.SetSessionName("Work");
  TVLTDatabase& Db = NewDatabase("WorkPay");
  Db.SetSessionName("work");
  EXPECT_EQ(Db.Session(), &Work);
  EXPECT_EQ(VLTDefaultSession().FindDatabase("WorkPay"), nullptr);
  Db.CreateDatabase();
  Db.Open();
  TVLTDatabase* T = Work.OpenDatabase(Plain);
  ASSERT_EQ(T->Session(), &Work);
  std::vector<TVLTDatabaseEvent> Events;
  Work.FOnDBNotify = [&](TVLTDatabaseEvent E, TVLTSessionDatabase*) { Events.push_back(E); };
  Work.Close();
  EXPECT_FALSE(Db.Connected());
  EXPECT_EQ(Work.FindDatabase(Plain), nullptr);
  EXPECT_EQ(Names(Work), std::vector<std::string>{"WorkPay"});
  EXPECT_EQ(Events, (std::vector<TVLTDatabaseEvent>{dbClose, dbRemove, dbClose}));
  Work.FOnDBNotify = nullptr;
}

TEST_F(SessionDatabaseTest, ADatabaseMayOutliveItsSession) {
  auto Db = std::make_unique<TVLTDatabase>();
  {
    TVLTSession Short;
    VLTSessions().Add(&Short);
    Short.SetSessionName("Short");
    Db->SetSessionName("Short");
    Db->SetDatabaseName("Plain");
    Db->SetDatabaseFileName(Plain);
    Db->Open();
    EXPECT_EQ(Db->Session(), &Short);
  }
  EXPECT_FALSE(Db->Connected());
  EXPECT_EQ(Db->Session(), nullptr);
  Db.reset();  // must not reach the freed session
}

}  // namespace
}  // namespace vlt::test
