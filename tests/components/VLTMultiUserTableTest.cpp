// Two processes work on one database file through multi-user database components and table
// datasets: record locks held by an edit, records changed or deleted by the other user, and
// each seeing the other's posted values. Also truncation of a file and record numbers in
// physical order.
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>

#include "engine/base/VLTExcept.h"
#include "engine/components/VLTLocalCursor.h"
#include "engine/components/VLTTable.h"
#include "tests/components/VLTComponentTestUtil.h"

namespace vlt::test {
namespace {

// A forked process that runs its steps one at a time, each when the parent asks, and answers
// with the step's result character. When the parent goes away (a failed test) the pipe closes
// and the child ends; it never outlives ten seconds.
class TOtherUser {
 public:
  using TStep = std::function<char()>;
  explicit TOtherUser(std::vector<TStep> Steps) {
    if (pipe(FToChild) != 0 || pipe(FFromChild) != 0) return;
    FPid = fork();
    if (FPid == 0) {
      alarm(10);
      close(FToChild[1]);
      close(FFromChild[0]);
      for (auto& S : Steps) {
        char C;
        if (read(FToChild[0], &C, 1) != 1) _exit(0);
        char R = 'X';
        try {
          R = S();
        } catch (const EVLTEngineError& E) {
          R = static_cast<char>('0' - E.ErrorCode());  // -12 -> '<'
        } catch (...) {
        }
        if (write(FFromChild[1], &R, 1) != 1) _exit(0);
      }
      char C;
      (void)!read(FToChild[0], &C, 1);
      _exit(0);
    }
    close(FToChild[0]);
    close(FFromChild[1]);
  }
  ~TOtherUser() {
    close(FToChild[1]);
    close(FFromChild[0]);
    if (FPid > 0) {
      int Status = 0;
      waitpid(FPid, &Status, 0);
    }
  }
  TOtherUser(const TOtherUser&) = delete;
  TOtherUser& operator=(const TOtherUser&) = delete;

  // Runs the next step; 0 when the child is gone.
  char Step() {
    if (FPid <= 0 || write(FToChild[1], "s", 1) != 1) return 0;
    char R = 0;
    return read(FFromChild[0], &R, 1) == 1 ? R : 0;
  }

 private:
  int FToChild[2] = {-1, -1}, FFromChild[2] = {-1, -1};
  pid_t FPid = -1;
};

class MultiUserTableTest : public TComponentTest {
 protected:
  TVLTDatabase& NewMultiUser(const std::string& Name) {
    TVLTDatabase& Db = NewDatabase(Name);
    Db.FMultiUser = true;
    return Db;
  }
  // The dataset's cursor gives up on a lock after a few short tries.
  static void ShortWaits(TVLTTable& T) {
    auto* C = dynamic_cast<TVLTLocalCursor*>(T.Handle());
    ASSERT_NE(C, nullptr);
    C->FLockWaits = {2, 1, 2, 10, 2, 10, 2, 10, 2, 1};
  }
  static std::unique_ptr<TVLTTable> OpenTable(const std::string& DbName, bool Create,
                                              const std::string& Index = "Main") {
    auto T = std::make_unique<TVLTTable>();
    T->SetDatabaseName(DbName);
    T->SetTableName("Members");
    T->AddField(std::make_unique<TVLTIntegerField>("Num")).FRequired = true;
    T->AddField(std::make_unique<TVLTStringField>("Name", 30));
    T->AddField(std::make_unique<TVLTStringField>("Notes", 400));
    T->IndexDefs.push_back({"Main", "Num", "", "", ixPrimary | ixUnique});
    if (Create) T->CreateTable();
    T->SetIndexName(Index);
    T->Open();
    ShortWaits(*T);
    return T;
  }
  // Members 1..Count named "Member N"; with Notes, long enough for about 20 to a page.
  void Build(int32_t Count, bool Notes = false) {
    TVLTDatabase& Db = NewDatabase("Build");
    Db.CreateDatabase();
    Db.Open();
    auto T = OpenTable("Build", true);
    for (int32_t I = 1; I <= Count; ++I) {
      T->Append();
      T->FieldByName("Num").SetAsInteger(I);
      T->FieldByName("Name").SetAsString("Member " + std::to_string(I));
      if (Notes) T->FieldByName("Notes").SetAsString(std::string(350, 'n'));
      T->Post();
    }
    T.reset();
    Db.Close();
  }
  static bool GoTo(TVLTTable& T, int32_t Num) {
    for (T.First(); !T.Eof(); T.Next())
      if (T.FieldByName("Num").AsInteger() == Num) return true;
    return false;
  }
  static std::string Name(TVLTTable& T) { return T.FieldByName("Name").AsString(); }

  // The other process's table, opened in its first step.
  struct TChildSide {
    TVLTDatabase* Db = nullptr;
    std::unique_ptr<TVLTTable> T;
  } Other;
  TOtherUser::TStep OpenOther() {
    return [this] {
      Other.Db = &NewMultiUser("Other");
      Other.Db->Open();
      Other.T = OpenTable("Other", false);
      return 'o';
    };
  }
  TOtherUser::TStep OtherGoTo(int32_t Num) {
    return [this, Num] { return GoTo(*Other.T, Num) ? 'g' : 'n'; };
  }
  TOtherUser::TStep OtherEdit() {
    return [this] {
      Other.T->Edit();
      return 'e';
    };
  }
  TOtherUser::TStep OtherSetName(const std::string& Value) {
    return [this, Value] {
      Other.T->FieldByName("Name").SetAsString(Value);
      Other.T->Post();
      return 'p';
    };
  }

  // Asserts that F raises EVLTEngineError with Code.
  template <typename F>
  static void ExpectEngineError(int32_t Code, F&& Body) {
    try {
      Body();
      ADD_FAILURE() << "no engine error " << Code;
    } catch (const EVLTEngineError& E) {
      EXPECT_EQ(E.ErrorCode(), Code) << E.what();
      EXPECT_EQ(std::string(E.what()),
                "Vaultrix Engine Error # " + std::to_string(Code) + " " +
                    std::string(EVLTEngineError::TextOf(Code)));
    }
  }
};

TEST_F(MultiUserTableTest, EditHoldsTheRecordUntilPostThenTheOtherUserSeesTheNewValues) {
  Build(5);
  TOtherUser Child({OpenOther(), OtherGoTo(2), OtherEdit(), OtherSetName("Changed")});
  ASSERT_EQ(Child.Step(), 'o');
  TVLTDatabase& Db = NewMultiUser("Mine");
  Db.Open();
  auto T = OpenTable("Mine", false);
  ASSERT_TRUE(GoTo(*T, 2));
  ASSERT_EQ(Child.Step(), 'g');
  ASSERT_EQ(Child.Step(), 'e');  // the other user edits member 2 and holds it
  EXPECT_EQ(Db.GetDBFileConnectionsCount(), 2);

  EXPECT_TRUE(T->IsRecordLocked());
  ExpectEngineError(-12, [&] { T->Edit(); });
  EXPECT_EQ(T->State(), dsBrowse);
  ExpectEngineError(-12, [&] { T->Delete(); });
  EXPECT_EQ(T->State(), dsBrowse);
  EXPECT_EQ(Name(*T), "Member 2");
  // Other records are free meanwhile.
  ASSERT_TRUE(GoTo(*T, 3));
  T->Edit();
  T->FieldByName("Name").SetAsString("Mine 3");
  T->Post();

  ASSERT_EQ(Child.Step(), 'p');  // the other user posts and lets go
  ASSERT_TRUE(GoTo(*T, 2));
  EXPECT_FALSE(T->IsRecordLocked());
  EXPECT_EQ(Name(*T), "Changed");
  T->Edit();
  T->FieldByName("Name").SetAsString("Mine 2");
  T->Post();
  EXPECT_EQ(T->RecordCount(), 5);
}

TEST_F(MultiUserTableTest, RecordChangedOrDeletedByTheOtherUserSinceItWasShown) {
  Build(5);
  TOtherUser Child({OpenOther(), OtherGoTo(2), OtherEdit(), OtherSetName("Theirs"), OtherGoTo(4),
                    [this] {
                      Other.T->Delete();
                      return 'd';
                    }});
  ASSERT_EQ(Child.Step(), 'o');
  TVLTDatabase& Db = NewMultiUser("Mine");
  Db.Open();
  auto T = OpenTable("Mine", false);
  ASSERT_TRUE(GoTo(*T, 2));
  for (char Expect : {'g', 'e', 'p'}) ASSERT_EQ(Child.Step(), Expect);

  // Member 2 as shown here is no longer the stored one.
  ExpectEngineError(-4, [&] { T->Edit(); });
  EXPECT_EQ(T->State(), dsBrowse);
  EXPECT_EQ(Name(*T), "Member 2");  // the shown record stays
  EXPECT_FALSE(T->IsRecordLocked());
  T->Refresh();
  EXPECT_EQ(Name(*T), "Theirs");
  T->Edit();  // now it is the stored record
  T->Cancel();

  ASSERT_TRUE(GoTo(*T, 4));
  ASSERT_EQ(Child.Step(), 'g');
  ASSERT_EQ(Child.Step(), 'd');
  ExpectEngineError(-6, [&] { T->Edit(); });
  EXPECT_EQ(T->State(), dsBrowse);
  ExpectEngineError(-7, [&] { T->Delete(); });
  EXPECT_EQ(T->State(), dsBrowse);
  EXPECT_EQ(T->RecordCount(), 4);
  EXPECT_FALSE(GoTo(*T, 4));
}

TEST_F(MultiUserTableTest, PostRefusedWhileTheOtherUserReadsKeepsTheEdit) {
  Build(3);
  TOtherUser Child({OpenOther(),
                    [this] {
                      return Other.T->Handle()->LockTable(ltS, 2, 1, false) ? 'l' : 'n';
                    },
                    [this] {
                      return Other.T->Handle()->UnlockTable(ltS, false) ? 'u' : 'n';
                    }});
  ASSERT_EQ(Child.Step(), 'o');
  TVLTDatabase& Db = NewMultiUser("Mine");
  Db.Open();
  auto T = OpenTable("Mine", false);
  ASSERT_TRUE(GoTo(*T, 1));
  T->Edit();
  T->FieldByName("Name").SetAsString("Waiting");
  ASSERT_EQ(Child.Step(), 'l') << "the other user could not take its read lock";
  ExpectEngineError(-13, [&] { T->Post(); });
  EXPECT_EQ(T->State(), dsEdit);
  EXPECT_EQ(Name(*T), "Waiting");  // the user's value is kept
  ASSERT_EQ(Child.Step(), 'u');
  T->Post();
  EXPECT_EQ(T->State(), dsBrowse);
  ASSERT_TRUE(GoTo(*T, 1));
  EXPECT_EQ(Name(*T), "Waiting");
}

TEST_F(MultiUserTableTest, InsertsOfBothUsersAreSeenByBoth) {
  Build(2);
  TOtherUser Child({OpenOther(),
                    [this] {
                      Other.T->Append();
                      Other.T->FieldByName("Num").SetAsInteger(10);
                      Other.T->FieldByName("Name").SetAsString("Theirs");
                      Other.T->Post();
                      return 'a';
                    },
                    [this] {
                      Other.T->First();
                      return static_cast<char>('0' + Other.T->RecordCount());
                    }});
  ASSERT_EQ(Child.Step(), 'o');
  TVLTDatabase& Db = NewMultiUser("Mine");
  Db.Open();
  auto T = OpenTable("Mine", false);
  ASSERT_EQ(Child.Step(), 'a');
  EXPECT_EQ(T->RecordCount(), 3);
  ASSERT_TRUE(GoTo(*T, 10));
  EXPECT_EQ(Name(*T), "Theirs");
  T->Append();
  T->FieldByName("Num").SetAsInteger(11);
  T->Post();
  EXPECT_EQ(Child.Step(), '4');
  // A key the other user took is refused here.
  T->Append();
  T->FieldByName("Num").SetAsInteger(10);
  EXPECT_THROW(T->Post(), EVLTEngineError);
  EXPECT_EQ(T->State(), dsInsert);
  T->Cancel();
  EXPECT_EQ(T->RecordCount(), 4);
}

// Rebuilding replaces the file: never while another process has it open (it would go on writing
// into a file nobody can reach any more).
TEST_F(MultiUserTableTest, RebuildsRefuseWhileTheOtherUserHasTheFileOpen) {
  Build(20);
  TOtherUser Child({OpenOther(), [this] {
                      Other.T.reset();
                      Other.Db->Close();
                      return 'c';
                    }});
  ASSERT_EQ(Child.Step(), 'o');
  std::ifstream In(FileName, std::ios::binary);
  const std::string Bytes{std::istreambuf_iterator<char>(In), std::istreambuf_iterator<char>()};
  TVLTDatabase& Db = NewDatabase("Rebuild");
  auto CodeOf = [](auto&& F) {
    try {
      F();
    } catch (const EVLTException& E) {
      return E.NativeError();
    }
    return 0;
  };
  try {
    Db.RepairDatabase();
    ADD_FAILURE() << "repaired while the other user has the file open";
  } catch (const EVLTException& E) {
    EXPECT_EQ(E.NativeError(), 10693);
    EXPECT_EQ(E.Message().rfind("Cannot open database file '" + FileName + "' exclusively: ", 0), 0u)
        << E.Message();
    EXPECT_EQ(E.Message().find("Native error"), E.Message().rfind("Native error")) << E.Message();
  }
  EXPECT_EQ(CodeOf([&] { Db.CompactDatabase(); }), 10693);
  EXPECT_EQ(CodeOf([&] { Db.ChangePassword("other"); }), 10693);
  // Nor is it copied into another file while the other user may be changing it.
  EXPECT_EQ(CodeOf([&] { Db.CompactDatabase(Dir + "/Copy.vlt"); }), 10693);
  std::string Log;
  EXPECT_EQ(CodeOf([&] { Db.RepairDatabase(Dir + "/Copy.vlt", Log); }), 10693);
  EXPECT_FALSE(FileExists(Dir + "/Copy.vlt"));
  EXPECT_EQ(Db.FPassword, "s3cret");
  EXPECT_FALSE(Db.Connected());
  EXPECT_FALSE(FileExists(FileName + ".tmp"));
  std::ifstream Again(FileName, std::ios::binary);
  EXPECT_TRUE(std::string(std::istreambuf_iterator<char>(Again), std::istreambuf_iterator<char>()) ==
              Bytes);
  ASSERT_EQ(Child.Step(), 'c');  // the other user closes
  EXPECT_EQ(Db.RepairDatabase(), "");
  Db.Open();
  auto T = OpenTable("Rebuild", false);
  EXPECT_EQ(T->RecordCount(), 20);
}

TEST_F(MultiUserTableTest, TruncateCutsFreePagesAtTheEndAndKeepsTheData) {
  Build(300, /*Notes=*/true);
  {
    TVLTDatabase& Db = NewDatabase("Delete");
    Db.Open();
    auto T = OpenTable("Delete", false);
    for (T->Last(); !T->Bof() && T->FieldByName("Num").AsInteger() > 40;) T->Delete();
    EXPECT_EQ(T->RecordCount(), 40);
    T.reset();
    Db.Close();
  }
  const auto Before = std::filesystem::file_size(FileName);
  TVLTDatabase& Db = NewDatabase("Truncate");
  Db.FExclusive = false;
  Db.TruncateDatabase();
  EXPECT_FALSE(Db.Connected());
  EXPECT_FALSE(Db.FExclusive);  // restored
  const auto After = std::filesystem::file_size(FileName);
  EXPECT_LT(After, Before);
  EXPECT_EQ((Before - After) % 8192, 0u);  // whole pages were cut
  Db.Open();
  auto T = OpenTable("Truncate", false);
  int32_t Expect = 1;
  for (T->First(); !T->Eof(); T->Next(), ++Expect) {
    EXPECT_EQ(T->FieldByName("Num").AsInteger(), Expect);
    EXPECT_EQ(T->FieldByName("Notes").AsString().size(), 350u);
  }
  EXPECT_EQ(Expect, 41);
  // The file grows again as needed.
  T->Append();
  T->FieldByName("Num").SetAsInteger(41);
  T->Post();
  T.reset();
  Db.Close();
  // Truncating a file without free pages at its end changes nothing.
  const auto Again = std::filesystem::file_size(FileName);
  Db.TruncateDatabase();
  EXPECT_EQ(std::filesystem::file_size(FileName), Again);

  const std::string Tool = VltdbPath();
  if (Tool.empty()) return;
  std::string Out;
  EXPECT_EQ(RunTool(Tool + " check " + FileName + " --password s3cret", Out), 0) << Out;
}

TEST_F(MultiUserTableTest, RecNoCountsInPhysicalOrder) {
  Build(90, /*Notes=*/true);  // several record pages
  TVLTDatabase& Db = NewMultiUser("Mine");
  Db.Open();
  auto T = OpenTable("Mine", false, "");
  for (T->First(); !T->Eof();)
    if (T->FieldByName("Num").AsInteger() % 4 == 0)
      T->Delete();
    else
      T->Next();
  std::vector<int32_t> Order;
  int32_t Expect = 1;
  for (T->First(); !T->Eof(); T->Next(), ++Expect) {
    EXPECT_EQ(T->RecNo(), Expect);
    Order.push_back(T->FieldByName("Num").AsInteger());
  }
  const int32_t N = static_cast<int32_t>(Order.size());
  ASSERT_EQ(N, 68);
  for (int32_t K : {1, 2, 21, 22, 23, 45, N - 1, N}) {
    T->SetRecNo(K);
    EXPECT_EQ(T->RecNo(), K);
    EXPECT_EQ(T->FieldByName("Num").AsInteger(), Order[static_cast<size_t>(K - 1)]) << K;
  }
  T->SetRecNo(N + 10);  // beyond the end: the last record
  EXPECT_EQ(T->FieldByName("Num").AsInteger(), Order.back());
  T->Append();
  EXPECT_EQ(T->RecNo(), -1);
  T->Cancel();
}

}  // namespace
}  // namespace vlt::test
