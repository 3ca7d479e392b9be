// Pages a writer allocated and never committed: counted by vltdb check as leaked free space
// (a warning, not damage) and given back; a compaction's stale copy removed by an exclusive
// open.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>

#include "engine/components/VLTDiskDatabaseEntry.h"
#include "engine/components/VLTLocalSession.h"
#include "engine/components/VLTTable.h"
#include "engine/disk/VLTDatabaseFile.h"
#include "engine/disk/VLTDiskPageManager.h"
#include "tests/components/VLTComponentTestUtil.h"

namespace vlt::test {
namespace {

class LeakTest : public TComponentTest {
 protected:
  std::unique_ptr<TVLTTable> OpenTable(const std::string& DbName, bool Create) {
    auto T = std::make_unique<TVLTTable>();
    T->SetDatabaseName(DbName);
    T->SetTableName("Members");
    T->AddField(std::make_unique<TVLTIntegerField>("Num")).FRequired = true;
    T->AddField(std::make_unique<TVLTStringField>("Notes", 400));
    T->IndexDefs.push_back({"Main", "Num", "", "", ixPrimary | ixUnique});
    if (Create) T->CreateTable();
    T->Open();
    return T;
  }
  void Build() {
    TVLTDatabase& Db = NewDatabase("Build");
    Db.CreateDatabase();
    Db.Open();
    auto T = OpenTable("Build", true);
    T.reset();
    Db.Close();
  }
  // A child that opens the file (exclusively or shared), appends 200 members inside a
  // transaction (new pages, none committed) and dies.
  void DieWithUncommittedPages(bool Exclusive) {
    const pid_t Pid = fork();
    ASSERT_GE(Pid, 0);
    if (Pid == 0) {
      alarm(10);
      try {
        TVLTDatabase& Db = NewDatabase("Child");
        Db.FExclusive = Exclusive;
        Db.FMultiUser = !Exclusive;
        Db.Open();
        auto T = OpenTable("Child", false);
        Db.StartTransaction();
        for (int32_t I = 1; I <= 200; ++I) {
          T->Append();
          T->FieldByName("Num").SetAsInteger(I);
          T->FieldByName("Notes").SetAsString(std::string(300, 'x'));
          T->Post();
        }
        raise(SIGKILL);
      } catch (...) {
      }
      _exit(3);
    }
    int Status = 0;
    ASSERT_EQ(waitpid(Pid, &Status, 0), Pid);
    ASSERT_TRUE(WIFSIGNALED(Status)) << Status;
  }
  int Check(std::string& Out) {
    return RunTool(VltdbPath() + " check " + FileName + " --password s3cret", Out);
  }
};

TEST_F(LeakTest, ASharedWritersUncommittedPagesAreAWarningUntilACompactionGivesThemBack) {
  if (VltdbPath().empty()) GTEST_SKIP() << "vltdb not built";
  Build();
  DieWithUncommittedPages(false);
  std::string Out;
  EXPECT_EQ(Check(Out), 0) << Out;
  EXPECT_NE(Out.find("leaked pages: allocated by a transaction that never committed"),
            std::string::npos)
      << Out;
  EXPECT_NE(Out.find(": consistent"), std::string::npos) << Out;
  TVLTDatabase& Db = NewDatabase("Compact");
  ASSERT_TRUE(Db.CompactDatabase());
  EXPECT_EQ(Check(Out), 0) << Out;
  EXPECT_EQ(Out.find("leaked"), std::string::npos) << Out;
}

TEST_F(LeakTest, AnExclusiveWritersUncommittedPagesAreGivenBackAtTheNextOpen) {
  if (VltdbPath().empty()) GTEST_SKIP() << "vltdb not built";
  Build();
  const auto SizeBefore = std::ifstream(FileName, std::ios::ate | std::ios::binary).tellg();
  DieWithUncommittedPages(true);
  EXPECT_GT(std::ifstream(FileName, std::ios::ate | std::ios::binary).tellg(), SizeBefore);
  TVLTDatabase& Db = NewDatabase("Next");
  Db.FExclusive = true;
  Db.Open();
  EXPECT_GT(Db.Handle()->DiskLink()->Disk().PageManager()->RolledBackPages(), 0);
  Db.Close();
  EXPECT_EQ(std::ifstream(FileName, std::ios::ate | std::ios::binary).tellg(), SizeBefore);
  std::string Out;
  EXPECT_EQ(Check(Out), 0) << Out;
  EXPECT_EQ(Out.find("leaked"), std::string::npos) << Out;
  EXPECT_FALSE(TVLTDatabaseFile::FileExists(FileName + "-journal"));
}

TEST_F(LeakTest, AnExclusiveOpenRemovesAStaleCompactionCopyButNotOneInUse) {
  Build();
  const std::string Temp = FileName + ".tmp";
  std::ofstream(Temp) << "left by a compaction that was stopped";
  {
    TVLTDatabaseFile InUse;
    InUse.OpenFile(Temp, amReadWrite, smExclusive);
    TVLTDatabase& Db = NewDatabase("First");
    Db.FExclusive = true;
    Db.Open();
    Db.Close();
    EXPECT_TRUE(TVLTDatabaseFile::FileExists(Temp));
  }
  TVLTDatabase& Shared = NewDatabase("Shared");
  Shared.Open();
  Shared.Close();
  EXPECT_TRUE(TVLTDatabaseFile::FileExists(Temp));  // only an exclusive open tidies
  TVLTDatabase& Db = NewDatabase("Second");
  Db.FExclusive = true;
  Db.Open();
  Db.Close();
  EXPECT_FALSE(TVLTDatabaseFile::FileExists(Temp));
}

}  // namespace
}  // namespace vlt::test
