// Every area's outcome is told: a damaged or foreign source table makes its area FAILED in the
// summary, the JSON and the exit status, the other areas convert, and a rerun converts the
// area once its table is mended; verifying alone calls a missing database not converted.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <filesystem>
#include <string>

#include "app/conversion/Conversion.h"
#include "app/conversion/DryRun.h"
#include "app/conversion/FileUtil.h"
#include "app/conversion/Verification.h"
#include "engine/base/VLTScopeGuard.h"
#include "engine/disk/VLTDatabaseFile.h"
#include "tests/app/FakeUI.h"
#include "tests/app/TestDirs.h"
#include "tools/BackupGenerator.h"

namespace vlt::app {
namespace {

using test::TFakeUI;
using test::TTempDir;

const TAreaOutcome* OutcomeOf(const TRunReport& R, TArea Area, const std::string& Folder) {
  for (const TAreaOutcome& O : R.Outcomes)
    if (O.Area == Area && O.Folder == Folder) return &O;
  return nullptr;
}

TEST(AreaOutcomes, DamagedSourcesFailTheirAreaAloneAndARerunConvertsThemOnceMended) {
  TTempDir Dir;
  tools::GenerateBackups(Dir.Path(), {});
  const std::string J = Dir / "2012jrnl.bkp", L = Dir / "2Loans.bkp";
  const std::string Tran = FindFileNoCase(J, "tranfile.db"), Loan = FindFileNoCase(L, "loan.db");
  ASSERT_FALSE(Tran.empty());
  ASSERT_FALSE(Loan.empty());
  const std::string TranBytes = test::ReadFile(Tran), LoanBytes = test::ReadFile(Loan);
  std::filesystem::resize_file(Tran, 3000);  // cut off in its first block
  test::WriteFile(Loan, "not a table\n");
  {
    TFakeUI UI;
    TConverter C(UI);
    C.FormCreate();
    C.ConvertData(Dir.Path());
    // The final box keeps the conversion's own text.
    ASSERT_FALSE(UI.Boxes.empty());
    EXPECT_EQ(UI.Boxes.back().Text, kMsgComplete);
    const TRunReport& R = C.Report();
    EXPECT_FALSE(R.Clean());
    const TAreaOutcome* Ledger = OutcomeOf(R, TArea::Ledger, J);
    const TAreaOutcome* Loans = OutcomeOf(R, TArea::Loans, L);
    ASSERT_TRUE(Ledger && Loans);
    EXPECT_EQ(Ledger->Kind, TAreaOutcomeKind::Failed);
    EXPECT_NE(Ledger->Error.find("is damaged"), std::string::npos) << Ledger->Error;
    EXPECT_EQ(Ledger->LogFile, "2012_Conversion_Log.txt");
    EXPECT_EQ(Loans->Kind, TAreaOutcomeKind::Failed);
    EXPECT_EQ(OutcomeOf(R, TArea::Payroll, J)->Kind, TAreaOutcomeKind::Converted);
    EXPECT_EQ(OutcomeOf(R, TArea::ChkSch, Dir / "2ChkSc.bkp")->Kind, TAreaOutcomeKind::Converted);
    EXPECT_EQ(OutcomeOf(R, TArea::Loans, J)->Kind, TAreaOutcomeKind::NotApplicable);
    const std::string Summary = FormatRunReport(R);
    EXPECT_NE(Summary.find(J + ": ledger FAILED: "), std::string::npos) << Summary;
    EXPECT_NE(Summary.find("(see Conversion_Log_Loan.txt)"), std::string::npos) << Summary;
    const std::string Json = RunReportJson(R);
    EXPECT_NE(Json.find("\"outcome\": \"failed\""), std::string::npos);
    EXPECT_NE(Json.find("\"clean\": false"), std::string::npos);

    // Verifying alone: the two areas were never converted.
    const TRunReport V = VerifyExisting(Dir.Path());
    EXPECT_FALSE(V.Clean());
    ASSERT_TRUE(OutcomeOf(V, TArea::Ledger, J));
    EXPECT_EQ(OutcomeOf(V, TArea::Ledger, J)->Kind, TAreaOutcomeKind::NotConverted);
    EXPECT_NE(FormatRunReport(V).find("ledger NOT CONVERTED"), std::string::npos);
  }
  // Mended, the next run converts the two areas and skips the others.
  test::WriteFile(Tran, TranBytes);
  test::WriteFile(Loan, LoanBytes);
  TFakeUI UI;
  TConverter C(UI);
  C.FormCreate();
  C.ConvertData(Dir.Path());
  EXPECT_TRUE(C.Report().Clean()) << FormatRunReport(C.Report());
  EXPECT_EQ(OutcomeOf(C.Report(), TArea::Ledger, J)->Kind, TAreaOutcomeKind::Converted);
  EXPECT_EQ(OutcomeOf(C.Report(), TArea::Loans, L)->Kind, TAreaOutcomeKind::Converted);
  EXPECT_EQ(OutcomeOf(C.Report(), TArea::Payroll, J)->Kind, TAreaOutcomeKind::Skipped);
  EXPECT_NE(FormatRunReport(C.Report()).find("payroll skipped: Payroll.vlt exists"),
            std::string::npos);
  EXPECT_TRUE(VerifyExisting(Dir.Path()).Clean());
}

// Each area with one of its tables damaged in each of the ways a backup is found damaged: cut
// off, a block overwritten, or another file under the table's name. The area is FAILED with
// its error (payroll: converted without that table, which is a problem), the damaged file
// keeps its bytes and its index, and the run is not clean.
TEST(AreaOutcomes, EachAreaFailsOnEachKindOfDamage) {
  struct TCase {
    TArea Area;
    const char* Folder;
    const char* Table;
  };
  const TCase Cases[] = {{TArea::Ledger, "2012jrnl.bkp", "tranfile"},
                         {TArea::Payroll, "2012jrnl.bkp", "EmpData"},
                         {TArea::ChkSch, "2ChkSc.bkp", "chksc"},
                         {TArea::Loans, "2Loans.bkp", "loan"},
                         {TArea::Contributions, "2012cont.bkp", "contfile"}};
  enum TDamage { Truncated, ScrambledBlock, TextFile };
  for (const TCase& Case : Cases) {
    for (const TDamage Damage : {Truncated, ScrambledBlock, TextFile}) {
      SCOPED_TRACE(std::string(Case.Table) + " damage " + std::to_string(Damage));
      TTempDir Dir;
      tools::TBackupGenOptions Sizes;
      Sizes.Records = 2000;  // every table of more than one block
      tools::GenerateBackups(Dir.Path(), Sizes);
      const std::string F = Dir / Case.Folder;
      const std::string Db = FindFileNoCase(F, std::string(Case.Table) + ".db");
      const std::string Px = FindFileNoCase(F, std::string(Case.Table) + ".px");
      ASSERT_FALSE(Db.empty());
      std::string Bytes = test::ReadFile(Db);
      ASSERT_GT(Bytes.size(), 4096u);
      switch (Damage) {
        case Truncated:
          Bytes.resize(Bytes.size() / 2 + 100);
          break;
        case ScrambledBlock: {
          // The second block, header and records, overwritten with noise.
          const size_t BlockSize = size_t{static_cast<unsigned char>(Bytes[5])} * 1024;
          const size_t Header = static_cast<unsigned char>(Bytes[2]) |
                                size_t{static_cast<unsigned char>(Bytes[3])} << 8;
          uint32_t X = 12345;
          for (size_t I = Header + BlockSize; I < Header + 2 * BlockSize && I < Bytes.size(); ++I) {
            X = X * 1664525u + 1013904223u;
            Bytes[I] = static_cast<char>(X >> 24);
          }
          break;
        }
        case TextFile:
          Bytes = "Pastor's notes for Sunday\r\n";
          break;
      }
      test::WriteFile(Db, Bytes);
      const std::string PxBytes = Px.empty() ? "" : test::ReadFile(Px);
      TFakeUI UI;
      TConverter C(UI);
      C.FormCreate();
      C.ConvertData(Dir.Path());
      const TRunReport& R = C.Report();
      EXPECT_FALSE(R.Clean());
      const TAreaOutcome* O = OutcomeOf(R, Case.Area, F);
      ASSERT_TRUE(O);
      const std::string Summary = FormatRunReport(R);
      if (Case.Area == TArea::Payroll) {
        // A payroll table that does not open is left empty and the others are copied; the
        // table is a problem of the converted area.
        EXPECT_EQ(O->Kind, TAreaOutcomeKind::Converted) << Summary;
        EXPECT_NE(Summary.find("  PROBLEM " + std::string(Case.Table) + ": "), std::string::npos)
            << Summary;
      } else {
        EXPECT_EQ(O->Kind, TAreaOutcomeKind::Failed) << Summary;
        // The error itself, not the log's heading.
        EXPECT_EQ(O->Error.find("Convert"), std::string::npos) << O->Error;
        EXPECT_NE(Summary.find(" FAILED: " + O->Error), std::string::npos) << Summary;
      }
      EXPECT_EQ(test::ReadFile(Db), Bytes);
      if (!Px.empty()) {
        EXPECT_EQ(test::ReadFile(Px), PxBytes);
      }
    }
  }
}

TEST(AreaOutcomes, AFolderAnotherRunHoldsIsLeftAlone) {
  TTempDir Dir;
  tools::GenerateBackups(Dir.Path(), {});
  const std::string L = Dir / "2Loans.bkp";
  TFolderLock Other(L);  // as another conversion would hold it
  ASSERT_TRUE(Other.Held());
  EXPECT_FALSE(TFolderLock(L).Held());
  TFakeUI UI;
  TConverter C(UI);
  C.FormCreate();
  C.ConvertData(Dir.Path());
  ASSERT_FALSE(UI.Boxes.empty());
  EXPECT_EQ(UI.Boxes.front(), (TFakeUI::TBox{true, kMsgFolderBusy}));
  EXPECT_FALSE(FileExists(L + "/Loan.vlt"));
  EXPECT_TRUE(FileExists(Dir / "2ChkSc.bkp/Schedule.vlt"));
  const TAreaOutcome* Loans = OutcomeOf(C.Report(), TArea::Loans, L);
  ASSERT_TRUE(Loans);
  EXPECT_EQ(Loans->Kind, TAreaOutcomeKind::Failed);
  EXPECT_EQ(Loans->Error, kMsgFolderBusy);
  EXPECT_FALSE(C.Report().Clean());
}

TEST(AreaOutcomes, TooLittleRoomRefusesTheAreaAndTheOthersGoOn) {
  TTempDir Dir;
  tools::GenerateBackups(Dir.Path(), {});
  const std::string J = Dir / "2012jrnl.bkp";
  TFakeUI UI;
  TConverter C(UI);
  C.FormCreate();
  C.FreeSpaceOf = [&](const std::string& Folder) -> uint64_t {
    return Folder == J ? 1u << 20 : UINT64_MAX;  // 1 MB where the journal lies
  };
  C.ConvertData(Dir.Path());
  const TAreaOutcome* Ledger = OutcomeOf(C.Report(), TArea::Ledger, J);
  ASSERT_TRUE(Ledger);
  EXPECT_EQ(Ledger->Kind, TAreaOutcomeKind::Failed);
  EXPECT_EQ(Ledger->Error.rfind("Not enough free space on the drive of " + J + ": about ", 0), 0u)
      << Ledger->Error;
  EXPECT_NE(Ledger->Error.find(" MB needed, 1 MB free."), std::string::npos) << Ledger->Error;
  EXPECT_EQ(test::ReadFile(J + "/2012_Conversion_Log.txt"), Ledger->Error + "\r\n");
  EXPECT_FALSE(FileExists(J + "/2012Ledger.vlt"));
  // The journal's payroll needs room on the same drive; the other folders go on.
  EXPECT_EQ(OutcomeOf(C.Report(), TArea::Payroll, J)->Kind, TAreaOutcomeKind::Failed);
  EXPECT_TRUE(FileExists(Dir / "2Loans.bkp/Loan.vlt"));
  EXPECT_TRUE(FileExists(Dir / "2012cont.bkp/XLQCont.bkp.vlt"));
}

// Fails every write to the files of one database (its name contains Name: the database, its
// temporary names, journal and compaction copy) with ENOSPC once it has written Allowed times.
// Allowed < 0 counts the writes and fails none.
class TDiskFull : public TVLTFileFaultInjector {
 public:
  explicit TDiskFull(int Allowed, std::string Name = "Ledger.vlt")
      : FAllowed(Allowed), FName(std::move(Name)) {}
  int BeforeWrite(const std::string& FileName, int64_t, size_t) override {
    if (FileName.find(FName) == std::string::npos) return 0;
    return ++FWrites > FAllowed && FAllowed >= 0 ? ENOSPC : 0;
  }
  int Writes() const { return FWrites; }

 private:
  int FAllowed, FWrites = 0;
  std::string FName;
};

// A whole run over Dir with Faults on every database file write (none when null); the
// injector is taken off again however the run ends.
TRunReport ConvertWithFaults(const std::string& Dir, TVLTFileFaultInjector* Faults) {
  TVLTDatabaseFile::SetFaultInjector(Faults);
  TVLTScopeExit Off([] { TVLTDatabaseFile::SetFaultInjector(nullptr); });
  TFakeUI UI;
  TConverter C(UI);
  C.FormCreate();
  C.ConvertData(Dir);
  return C.Report();
}

TEST(AreaOutcomes, AFullDiskStopsTheAreaAtItsFirstFailedWriteAndLeavesNothing) {
  TTempDir Dir;
  tools::TBackupGenOptions O;
  O.Transactions = 3000;
  tools::GenerateBackups(Dir.Path(), O);
  const std::string J = Dir / "2012jrnl.bkp";
  {
    TDiskFull Full(40);
    const TRunReport R = ConvertWithFaults(Dir.Path(), &Full);
    const TAreaOutcome* Ledger = OutcomeOf(R, TArea::Ledger, J);
    ASSERT_TRUE(Ledger);
    EXPECT_EQ(Ledger->Kind, TAreaOutcomeKind::Failed);
    EXPECT_NE(Ledger->Error.find("No space left on device"), std::string::npos) << Ledger->Error;
  }
  const std::string Log = test::ReadFile(J + "/2012_Conversion_Log.txt");
  EXPECT_EQ(Log.find("Error Writing Record"), std::string::npos) << Log;
  for (const auto& E : std::filesystem::directory_iterator(J)) {
    const std::string Name = E.path().filename().string();
    EXPECT_EQ(Name.find("Ledger.vlt"), std::string::npos) << Name << " left behind";
  }
  // With room again, the next run converts the area.
  const TRunReport Again = ConvertWithFaults(Dir.Path(), nullptr);
  EXPECT_EQ(OutcomeOf(Again, TArea::Ledger, J)->Kind, TAreaOutcomeKind::Converted);
  EXPECT_TRUE(Again.Clean()) << FormatRunReport(Again);
}

// The contributions area renumbers its sources before it copies them: a disk that fills while
// it converts contributors, while it copies the gifts, or while its database is closed and
// compacted fails the area with one line, puts every source back as it was, publishes nothing
// and leaves no temporary file; the next run converts it.
TEST(AreaOutcomes, AFullDiskFailsTheContributionsAndPutsTheirSourcesBack) {
  TTempDir Dir;
  tools::TBackupGenOptions O;
  O.Records = 3000;
  O.SharedNumbers = true;
  tools::GenerateBackups(Dir.Path(), O);
  const std::string F = Dir / "2012cont.bkp";
  const TFolderHashes Before = HashFolder(F);
  int Total = 0;
  {
    // How many writes a whole conversion of the area takes, in a copy of the folder.
    TTempDir Copy;
    std::filesystem::copy(F, Copy / "2012cont.bkp");
    TDiskFull Count(-1, "XLQCont.bkp.vlt");
    ConvertWithFaults(Copy.Path(), &Count);
    Total = Count.Writes();
  }
  ASSERT_GT(Total, 20);
  for (const int Allowed : {Total / 20, Total / 2, Total - 2}) {
    SCOPED_TRACE("writes allowed: " + std::to_string(Allowed) + " of " + std::to_string(Total));
    TDiskFull Full(Allowed, "XLQCont.bkp.vlt");
    const TRunReport R = ConvertWithFaults(Dir.Path(), &Full);
    const TAreaOutcome* Cont = OutcomeOf(R, TArea::Contributions, F);
    ASSERT_TRUE(Cont);
    const std::string Log = test::ReadFile(F + "/" + Cont->LogFile);
    EXPECT_EQ(Cont->Kind, TAreaOutcomeKind::Failed) << Log.substr(0, 3000);
    EXPECT_NE(Cont->Error.find("No space left on device"), std::string::npos) << Cont->Error;
    EXPECT_EQ(Log.find("Error Writing"), std::string::npos) << Log.substr(0, 3000);
    for (const auto& E : std::filesystem::directory_iterator(F)) {
      const std::string Name = E.path().filename().string();
      EXPECT_EQ(Name.find("XLQCont.bkp.vlt"), std::string::npos) << Name << " left behind";
    }
    // Only the area's log is new; every source is as it was.
    TFolderHashes After = HashFolder(F);
    After.erase(Cont->LogFile);
    EXPECT_EQ(After, Before);
    std::filesystem::remove(F + "/" + Cont->LogFile);
  }
  const TRunReport Again = ConvertWithFaults(Dir.Path(), nullptr);
  EXPECT_EQ(OutcomeOf(Again, TArea::Contributions, F)->Kind, TAreaOutcomeKind::Converted);
  EXPECT_TRUE(Again.Clean()) << FormatRunReport(Again);
}

TEST(AreaOutcomes, ReportStringsAreUtf8Once) {
  TRunReport R;
  // A folder name from the file system (UTF-8) and a table's text (Windows-1252).
  R.Outcomes.push_back({"/b/Th\xC3\xA9r\xC3\xA8se 2012cont.bkp", TArea::Contributions,
                        TAreaOutcomeKind::Failed, "Fund \"Caf\xE9\" is damaged",
                        "Conversion_Log.txt"});
  const std::string J = RunReportJson(R);
  EXPECT_NE(J.find("\"folder\": \"/b/Th\xC3\xA9r\xC3\xA8se 2012cont.bkp\""), std::string::npos)
      << J;
  EXPECT_NE(J.find("\"error\": \"Fund \\\"Caf\xC3\xA9\\\" is damaged\""), std::string::npos) << J;
}

TEST(AreaOutcomes, TheDryRunSaysWhenAFolderIsNotWritable) {
  if (::geteuid() == 0) GTEST_SKIP() << "every folder is writable for root";
  TTempDir Dir;
  tools::GenerateBackups(Dir.Path(), {});
  const std::string L = Dir / "2Loans.bkp";
  ASSERT_EQ(::chmod(L.c_str(), 0555), 0);
  const std::string Plan = PlanRun(Dir.Path());
  ::chmod(L.c_str(), 0755);
  EXPECT_NE(Plan.find(L + ": not writable: "), std::string::npos) << Plan;
  EXPECT_EQ(Plan.find(Dir / "2ChkSc.bkp: not writable"), std::string::npos) << Plan;
}

}  // namespace
}  // namespace vlt::app
