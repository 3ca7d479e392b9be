// What an interrupted run leaves and what the next run makes of it: temporary databases, the
// contributions safety copies, cut-off table upgrades, and stop requests at record boundaries.
#include "app/conversion/Interruption.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include "app/conversion/Conversion.h"
#include "app/conversion/ConvertUtil.h"
#include "app/conversion/FileUtil.h"
#include "app/conversion/Verification.h"
#include "app/paradox/ParadoxTable.h"
#include "engine/disk/VLTDatabaseFile.h"
#include "tests/app/FakeUI.h"
#include "tests/app/TestDirs.h"
#include "tools/BackupGenerator.h"

namespace vlt::app {
namespace {

namespace fs = std::filesystem;
using test::ReadFile;
using test::TFakeUI;
using test::TTempDir;
using test::WriteFile;

// Files anywhere below Root whose names hold Part.
std::vector<std::string> FilesWith(const std::string& Root, const std::string& Part) {
  std::vector<std::string> Out;
  for (const auto& E : fs::recursive_directory_iterator(Root))
    if (E.path().filename().string().find(Part) != std::string::npos)
      Out.push_back(E.path().filename().string());
  return Out;
}

void Generate(const std::string& Dir, bool WithOld = false) {
  tools::TBackupGenOptions O;
  O.Records = 400;
  O.WithOld = WithOld;
  O.SharedNumbers = true;
  tools::GenerateBackups(Dir, O);
}

// A UI whose user asks to stop at the N-th record boundary.
class TStoppingUI : public TFakeUI {
 public:
  explicit TStoppingUI(int64_t StopAt) : FStopAt(StopAt) {}
  bool CancelRequested() override { return ++Calls >= FStopAt; }
  int64_t Calls = 0;

 private:
  int64_t FStopAt;
};

TEST(Publishing, RemoveUnlessHeldLeavesAFileAnotherOpenHolds) {
  TTempDir Dir;
  const std::string File = Dir / "Payroll.vlt.partial";
  WriteFile(File, "half a database");
  {
    TVLTDatabaseFile Held;
    Held.OpenFile(File, amReadWrite, smShareDenyNone);
    EXPECT_FALSE(RemoveUnlessHeld(File));
    EXPECT_TRUE(FileExists(File));
  }
  EXPECT_TRUE(RemoveUnlessHeld(File));
  EXPECT_FALSE(FileExists(File));
  EXPECT_TRUE(RemoveUnlessHeld(File));  // gone already
}

TEST(Publishing, PublishNeverReplacesATarget) {
  TTempDir Dir;
  WriteFile(Dir / "Loan.vlt.partial", "new");
  WriteFile(Dir / "Loan.vlt", "old");
  EXPECT_THROW(PublishDatabase(Dir / "Loan.vlt.partial", Dir / "Loan.vlt"), std::system_error);
  EXPECT_EQ(ReadFile(Dir / "Loan.vlt"), "old");
  std::filesystem::remove(Dir / "Loan.vlt");
  PublishDatabase(Dir / "Loan.vlt.partial", Dir / "Loan.vlt");
  EXPECT_EQ(ReadFile(Dir / "Loan.vlt"), "new");
  EXPECT_FALSE(FileExists(Dir / "Loan.vlt.partial"));
}

// A killed run's temporary databases go, the notes open the area's log and the report, the
// area converts in full; a target that exists keeps its temporary neighbour's fate its own.
TEST(Recovery, StaleTemporaryDatabasesAreRemovedLoggedAndReported) {
  TTempDir Dir;
  Generate(Dir.Path());
  const std::string Loans = Dir / "2Loans.bkp";
  WriteFile(Loans + "/Loan.vlt.partial", "cut off");
  WriteFile(Loans + "/Loan.vlt.partial.tmp", "cut off compaction");
  TFakeUI UI;
  TConverter C(UI);
  C.FormCreate();
  EXPECT_EQ(C.ConvertData(Dir.Path()), TRunOutcome::Complete);
  EXPECT_TRUE(C.Report().Clean());
  EXPECT_TRUE(FilesWith(Dir.Path(), ".partial").empty());
  const std::vector<std::string> Log = ReadLogLines(Loans + "/Conversion_Log_Loan.txt");
  ASSERT_GE(Log.size(), 3u);
  EXPECT_EQ(Log[0], "Removed Loan.vlt.partial.tmp left by an interrupted conversion");
  EXPECT_EQ(Log[1], "Removed Loan.vlt.partial left by an interrupted conversion");
  EXPECT_EQ(Log[2], "Convert " + Loans);
  ASSERT_EQ(C.Report().Recovered.count(Loans), 1u);
  EXPECT_EQ(C.Report().Recovered.at(Loans).size(), 2u);
  EXPECT_NE(FormatRunReport(C.Report()).find(Loans + ": RECOVERED Removed Loan.vlt.partial"),
            std::string::npos);
  EXPECT_NE(RunReportJson(C.Report()).find("\"recovered\": ["), std::string::npos);
}

// Safety copies a run left between taking them and restoring them are put back before anything
// else: the renumbered sources are replaced and the conversion sees the original gifts.
TEST(Recovery, LeftoverSafetyCopiesAreRestoredBeforeTheConversion) {
  TTempDir Dir;
  Generate(Dir.Path());
  const std::string Cont = Dir / "2012cont.bkp";
  const std::string Gifts = FindFileNoCase(Cont, "contfile.db");
  const std::string Services = FindFileNoCase(Cont, "servs.db");
  const std::string Original = ReadFile(Gifts), OriginalServices = ReadFile(Services);
  // As a run killed while renumbering leaves it: copies beside sources that were changed.
  WriteFile(Cont + "/contfile-bkp.db", Original);
  WriteFile(Cont + "/servs-bkp.db", OriginalServices);
  WriteFile(Cont + "/funds-bkp.db.copy-tmp", "half a copy");
  {
    TParadoxTable T;
    T.SetDatabaseName(Cont);
    T.SetTableName(ExtractFileName(Gifts));
    T.SetTableType(ttParadox);
    T.Open();
    T.First();
    T.Edit();
    T.FieldByName("Service").SetAsInteger(777);
    T.Post();
    T.Close();
  }
  ASSERT_NE(ReadFile(Gifts), Original);

  TFakeUI UI;
  TConverter C(UI);
  C.FormCreate();
  EXPECT_EQ(C.ConvertData(Dir.Path()), TRunOutcome::Complete);
  EXPECT_EQ(ReadFile(Gifts), Original);
  EXPECT_EQ(ReadFile(Services), OriginalServices);
  EXPECT_TRUE(FilesWith(Cont, "-bkp").empty());
  const std::vector<std::string> Log = ReadLogLines(Cont + "/Conversion_Log.txt");
  ASSERT_GE(Log.size(), 4u);
  EXPECT_EQ(Log[0], "Restored contfile.db from contfile-bkp.db left by an interrupted conversion");
  EXPECT_EQ(Log[1], "Restored servs.db from servs-bkp.db left by an interrupted conversion");
  EXPECT_EQ(Log[2], "Removed funds-bkp.db.copy-tmp left by an interrupted conversion");
  EXPECT_EQ(Log[3], "Convert " + Cont);
  EXPECT_TRUE(C.Report().Clean()) << FormatRunReport(C.Report());
}

int64_t RecordsOf(const std::string& Dir, const std::string& Table) {
  TParadoxTable T;
  T.SetDatabaseName(Dir);
  T.SetTableName(Table);
  T.SetTableType(ttParadox);
  T.Open();
  const int64_t N = T.RecordCount();
  T.Close();
  return N;
}

// An upgrade cut off after moving the old table aside: the moved table always wins over a
// missing or shorter new one, and goes once the new one holds all of its records.
TEST(Recovery, CutOffTableUpgradesNeverLoseRecords) {
  TTempDir Dir;
  Generate(Dir.Path(), true);
  const std::string Cont = Dir / "2011cont.bkp";
  const std::string OldBytes = ReadFile(FindFileNoCase(Cont, "contfile.db"));
  const int64_t All = RecordsOf(Cont, "contfile.db");
  ASSERT_GT(All, 1);

  // Killed right after the move: no table under its own name.
  fs::rename(FindFileNoCase(Cont, "contfile.db"), Cont + "/contfil0.db");
  std::vector<std::string> Lines = RecoverUpgradeLeftovers(Cont, TPrepareMode::Contributions);
  ASSERT_EQ(Lines.size(), 1u);
  EXPECT_EQ(Lines[0], "Restored contfile.db from contfil0.db left by an interrupted table upgrade");
  EXPECT_EQ(ReadFile(Cont + "/contfile.db"), OldBytes);

  // Upgraded, then killed before the moved table was deleted: it goes.
  TFakeUI UI;
  PrepareParadoxTables(Cont, TPrepareMode::Contributions, UI);
  ASSERT_EQ(RecordsOf(Cont, "contfile.db"), All);
  WriteFile(Cont + "/contfil0.db", OldBytes);
  Lines = RecoverUpgradeLeftovers(Cont, TPrepareMode::Contributions);
  ASSERT_EQ(Lines.size(), 1u);
  EXPECT_EQ(Lines[0],
            "Removed contfil0.db left by an interrupted table upgrade: contfile.db holds all of "
            "its records");
  EXPECT_FALSE(FileExists(Cont + "/contfil0.db"));

  // Killed while copying: the new table is short of records and is replaced by the old one.
  WriteFile(Cont + "/contfil0.db", OldBytes);
  {
    TParadoxTable T;
    T.SetDatabaseName(Cont);
    T.SetTableName("contfile.db");
    T.SetTableType(ttParadox);
    T.Open();
    T.First();
    T.Delete();
    T.Close();
  }
  Lines = RecoverUpgradeLeftovers(Cont, TPrepareMode::Contributions);
  ASSERT_EQ(Lines.size(), 1u);
  EXPECT_EQ(ReadFile(Cont + "/contfile.db"), OldBytes);
  EXPECT_FALSE(FileExists(Cont + "/contfil0.db"));
  EXPECT_TRUE(RecoverUpgradeLeftovers(Cont, TPrepareMode::Contributions).empty());

  // The next conversion upgrades it again and converts every gift.
  TConverter C(UI);
  C.FormCreate();
  C.ConvertData(Dir.Path());
  EXPECT_TRUE(C.Report().Clean()) << FormatRunReport(C.Report());
  EXPECT_TRUE(FilesWith(Cont, "contfil0").empty());
}

// A stop request at record boundaries spread over the whole run (table copies, contributors,
// gifts, between areas): the run ends Cancelled with no temporary database, no safety copy and
// the sources as they were; the area's log ends "Conversion cancelled"; the next run converts
// everything and verifies clean.
TEST(Cancelling, AStopAtAnyRecordBoundaryLeavesNothingBehind) {
  TTempDir Gen;
  Generate(Gen.Path());
  int64_t Boundaries = 0;
  {
    TTempDir Dir;
    fs::copy(Gen.Path(), Dir.Path(),
             fs::copy_options::recursive | fs::copy_options::overwrite_existing);
    TStoppingUI UI(INT64_MAX);
    TConverter C(UI);
    C.SetVerify(false);
    C.FormCreate();
    ASSERT_EQ(C.ConvertData(Dir.Path()), TRunOutcome::Complete);
    Boundaries = UI.Calls;
  }
  ASSERT_GT(Boundaries, 100);
  for (int64_t At : {int64_t{1}, Boundaries / 10, Boundaries / 4, Boundaries / 2,
                     Boundaries * 3 / 4, Boundaries - 1}) {
    SCOPED_TRACE("stop at boundary " + std::to_string(At) + " of " + std::to_string(Boundaries));
    TTempDir Dir;
    fs::copy(Gen.Path(), Dir.Path(),
             fs::copy_options::recursive | fs::copy_options::overwrite_existing);
    const TFolderHashes Before = HashFolder(Dir.Path());
    {
      TStoppingUI UI(At);
      TConverter C(UI);
      C.SetVerify(false);
      C.FormCreate();
      EXPECT_EQ(C.ConvertData(Dir.Path()), TRunOutcome::Cancelled);
      EXPECT_TRUE(UI.Boxes.empty());
      ASSERT_FALSE(UI.States.empty());
      EXPECT_FALSE(UI.States.back());
    }
    EXPECT_TRUE(FilesWith(Dir.Path(), ".partial").empty());
    EXPECT_TRUE(FilesWith(Dir.Path(), "-bkp").empty());
    int CancelledLogs = 0;
    for (const auto& E : fs::recursive_directory_iterator(Dir.Path()))
      if (E.path().filename().string().find("Conversion_Log") != std::string::npos) {
        const std::vector<std::string> L = ReadLogLines(E.path().string());
        if (!L.empty() && L.back() == kLogCancelled) ++CancelledLogs;
      }
    EXPECT_LE(CancelledLogs, 1);
    // Only databases and logs appeared; the contributions sources are byte for byte as before.
    const TFolderChanges Changes = CompareFolderHashes(Before, HashFolder(Dir.Path()));
    for (const std::string& N : Changes.Changed)
      EXPECT_EQ(N.find("cont.bkp"), std::string::npos) << N;
    TFakeUI UI;
    TConverter Again(UI);
    Again.FormCreate();
    Again.ConvertData(Dir.Path());
    EXPECT_TRUE(Again.Report().Clean()) << FormatRunReport(Again.Report());
    EXPECT_EQ(VerifyExisting(Dir.Path()).Areas.size(), 5u);
  }
}

}  // namespace
}  // namespace vlt::app
