// The user's source tables after a run: what the preparation rewrites still reads, in pxlib as
// in our reader, at a church's size; an unchanged table is not rewritten by the next run; and
// a table that lost a record or whose index no longer describes it is reported.
#include "app/conversion/SourceTables.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <map>

#include "app/conversion/Conversion.h"
#include "app/conversion/Verification.h"
#include "app/paradox/ParadoxFile.h"
#include "tests/app/FakeUI.h"
#include "tests/app/PxlibCheck.h"
#include "tests/app/TestDirs.h"
#include "tools/BackupGenerator.h"

namespace vlt::app {
namespace {

using test::TFakeUI;
using test::TTempDir;

// Every Paradox data file below Root by path, with its .px beside it where there is one.
std::vector<std::string> DataFiles(const std::string& Root) {
  std::vector<std::string> Out;
  for (const auto& E : std::filesystem::recursive_directory_iterator(Root)) {
    std::string Ext = E.path().extension().string();
    for (char& C : Ext) C = static_cast<char>(std::tolower(static_cast<unsigned char>(C)));
    if (E.is_regular_file() && Ext == ".db") Out.push_back(E.path().string());
  }
  return Out;
}

// Inode and bytes of every .db and .px below Root.
std::map<std::string, std::pair<ino_t, std::string>> TableFiles(const std::string& Root) {
  std::map<std::string, std::pair<ino_t, std::string>> Out;
  for (const auto& E : std::filesystem::recursive_directory_iterator(Root)) {
    std::string Ext = E.path().extension().string();
    for (char& C : Ext) C = static_cast<char>(std::tolower(static_cast<unsigned char>(C)));
    if (!E.is_regular_file() || (Ext != ".db" && Ext != ".px")) continue;
    struct stat St {};
    ::stat(E.path().c_str(), &St);
    Out[E.path().string()] = {St.st_ino, test::ReadFile(E.path().string())};
  }
  return Out;
}

void RemoveTargets(const std::string& Root) {
  for (const auto& E : std::filesystem::recursive_directory_iterator(Root))
    if (E.is_regular_file() && E.path().extension() == ".vlt") std::filesystem::remove(E.path());
}

TEST(SourceTables, AChurchSizedBackupStillReadsInPxlibAndASecondRunRewritesNothing) {
  TTempDir Dir;
  tools::TBackupGenOptions O;
  O.Transactions = 12000;  // a two-level index at the journal's block size
  O.Payees = 600;
  O.Gifts = 8000;
  O.Contributors = 2500;
  tools::GenerateBackups(Dir.Path(), O);
  {
    TFakeUI UI;
    TConverter C(UI);
    C.FormCreate();
    ASSERT_EQ(C.ConvertData(Dir.Path()), TRunOutcome::Complete);
    EXPECT_TRUE(C.Report().Clean()) << FormatRunReport(C.Report());
  }
  int Checked = 0;
  for (const std::string& Db : DataFiles(Dir.Path())) {
    EXPECT_EQ(test::CheckWithPxlib(Db), "") << Db;
    ++Checked;
  }
  EXPECT_GT(Checked, 20);

  // The databases gone, the next run prepares the same tables again: they are sound and
  // unchanged, so the preparation writes none of them.
  const auto Before = TableFiles(Dir.Path());
  RemoveTargets(Dir.Path());
  {
    TFakeUI UI;
    TConverter C(UI);
    C.FormCreate();
    ASSERT_EQ(C.ConvertData(Dir.Path()), TRunOutcome::Complete);
    EXPECT_TRUE(C.Report().Clean()) << FormatRunReport(C.Report());
  }
  const auto After = TableFiles(Dir.Path());
  ASSERT_EQ(After.size(), Before.size());
  for (const auto& [Path, File] : Before) {
    auto It = After.find(Path);
    ASSERT_NE(It, After.end()) << Path;
    // The contributions area puts its safety copies back by renaming them over the tables it
    // renumbered, so only their bytes stay.
    if (Path.find("cont.bkp/") == std::string::npos) {
      EXPECT_EQ(It->second.first, File.first) << Path << " was replaced";
    }
    EXPECT_TRUE(It->second.second == File.second) << Path << " changed";
  }
}

TEST(SourceTables, ALostRecordAndAStaleIndexAreReported) {
  TTempDir Dir;
  tools::TBackupGenOptions O;
  O.Transactions = 3000;
  tools::GenerateBackups(Dir.Path(), O);
  const std::string J = Dir / "2012jrnl.bkp";
  const TSourceTables Before = SnapshotSourceTables(J);
  ASSERT_FALSE(Before.empty());
  EXPECT_TRUE(CompareSourceTables(J, Before).empty());

  // tranfile without its last record; payees without its first, beside the index of the
  // whole table.
  const std::string Tran = FindParadoxFile(J, "tranfile.db"),
                    Payees = FindParadoxFile(J, "payees.db");
  ASSERT_FALSE(Tran.empty());
  ASSERT_FALSE(Payees.empty());
  TParadoxFileImage T = ReadParadoxFile(Tran);
  std::vector<const std::string*> Kept;
  for (size_t I = 0; I + 1 < T.Records.size(); ++I) Kept.push_back(&T.Records[I]);
  WriteParadoxFile(Tran, T.Header, Kept);
  TParadoxFileImage P = ReadParadoxFile(Payees);
  const std::string WholePx = test::ReadFile(FindSiblingFile(Payees, ".px"));
  std::vector<const std::string*> Fewer;
  for (size_t I = 1; I < P.Records.size(); ++I) Fewer.push_back(&P.Records[I]);
  WriteParadoxFile(Payees, P.Header, Fewer);
  test::WriteFile(FindSiblingFile(Payees, ".px"), WholePx);

  const std::vector<std::string> Problems = CompareSourceTables(J, Before);
  ASSERT_EQ(Problems.size(), 3u) << ::testing::PrintToString(Problems);
  EXPECT_NE(Problems[0].find("(its records differ from before"), std::string::npos) << Problems[0];
  EXPECT_NE(Problems[1].find("the index does not describe its table"), std::string::npos)
      << Problems[1];
  EXPECT_NE(Problems[2].find("(its records differ from before"), std::string::npos) << Problems[2];
}

TEST(SourceTables, ARewrittenTableThatHadOtherNamesIsANotice) {
  TTempDir Dir;
  tools::GenerateBackups(Dir.Path(), {});
  const std::string J = Dir / "2012jrnl.bkp";
  const std::string Tran = FindParadoxFile(J, "tranfile.db");
  ASSERT_FALSE(Tran.empty());
  // A change count the old release kept in the header: the re-index writes the table anew.
  std::string Bytes = test::ReadFile(Tran);
  Bytes[0x2D] = 7;
  test::WriteFile(Tran, Bytes);
  std::filesystem::create_hard_link(Tran, Dir / "tranfile-link.db");
  TFakeUI UI;
  TConverter C(UI);
  C.FormCreate();
  C.ConvertData(Dir.Path());
  EXPECT_TRUE(C.Report().Clean()) << FormatRunReport(C.Report());
  ASSERT_TRUE(C.Report().Folders.count(J));
  const std::vector<std::string>& Notices = C.Report().Folders.at(J).Notices;
  ASSERT_EQ(Notices.size(), 1u) << FormatRunReport(C.Report());
  EXPECT_EQ(Notices[0], std::filesystem::path(Tran).filename().string() +
                            " had other hard links; the rewritten file no longer shares them");
  EXPECT_NE(FormatRunReport(C.Report()).find(J + ": NOTICE "), std::string::npos);
}

TEST(SourceTables, SourcesKeepTheirPermissionsAndOwnerThroughARun) {
  TTempDir Dir;
  tools::TBackupGenOptions O;
  O.SharedNumbers = true;  // the contributions sources are renumbered and put back
  O.WithOld = true;        // and some tables upgraded
  tools::GenerateBackups(Dir.Path(), O);
  const bool Root = ::geteuid() == 0;
  const auto Before = TableFiles(Dir.Path());
  for (const auto& [Path, File] : Before) {
    ASSERT_EQ(::chmod(Path.c_str(), 0600), 0);
    if (Root) {
      ASSERT_EQ(::chown(Path.c_str(), 1234, 5678), 0);
    }
  }
  TFakeUI UI;
  TConverter C(UI);
  C.FormCreate();
  C.ConvertData(Dir.Path());
  EXPECT_TRUE(C.Report().Clean()) << FormatRunReport(C.Report());
  int Checked = 0;
  for (const auto& [Path, File] : TableFiles(Dir.Path())) {
    struct stat St {};
    ASSERT_EQ(::stat(Path.c_str(), &St), 0);
    EXPECT_EQ(St.st_mode & 0777, 0600u) << Path;
    if (Root) {
      EXPECT_EQ(St.st_uid, 1234u) << Path;
      EXPECT_EQ(St.st_gid, 5678u) << Path;
    }
    ++Checked;
  }
  EXPECT_GT(Checked, 20);
}

TEST(SourceTables, ASourceFileThatVanishedIsAlwaysUnexpected) {
  const TFolderHashes Before = {{"tranfile.db", "a"},
                                {"tranfile.px", "b"},
                                {"backup.fl", "c"},
                                {"contfil0.db", "d"},
                                {"notes.txt", "e"}};
  const TFolderHashes After = {{"tranfile.db", "x"}, {"backup_2012.fl", "c"}, {"notes.txt", "e"}};
  const TFolderChanges C = CompareFolderHashes(Before, After);
  // The rewritten table is the preparation's; its index gone, never.
  EXPECT_EQ(C.Unexpected, (std::vector<std::string>{"tranfile.px"}));
}

}  // namespace
}  // namespace vlt::app
