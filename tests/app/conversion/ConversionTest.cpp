#include "app/conversion/Conversion.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <stdexcept>

#include "app/conversion/FileUtil.h"
#include "tests/app/FakeUI.h"
#include "tests/app/TestDirs.h"

namespace vlt::app {
namespace {

using test::MakeDir;
using test::TFakeUI;
using test::TTempDir;
using test::WriteFile;

// A converter whose areas act like the real ones in what the driver sees: each takes the folders
// whose names end in its suffix, skips a folder whose target exists, "creates" the target file,
// writes its log, and is recorded.
class TScriptedConverter : public TConverter {
 public:
  using TConverter::TConverter;

  std::vector<std::string> Calls;                                 // "area:folder name"
  std::function<int32_t(const std::string&)> ContributionsError;  // folder -> error code

  int32_t ConvertPayroll() override { return Area(TArea::Payroll, "PR"); }
  int32_t ConvertChkSch() override { return Area(TArea::ChkSch, "CS"); }
  int32_t ConvertLoans() override { return Area(TArea::Loans, "LN"); }
  int32_t ConvertLedger() override {
    Calls.push_back("GL:" + ExtractFileName(BackupDir()));
    int32_t Year = BackupYear(BackupDir());
    if (!BackupDir().ends_with("jrnl.bkp") || Year < 1981) return 0;
    if (FileExists(JoinPath(BackupDir(), LedgerTargetFile(Year)))) return 0;
    test::WriteFile(JoinPath(BackupDir(), LedgerTargetFile(Year)), "db");
    AddLog("Conversion Process Finished");
    WriteLog(LedgerLogFile(Year));
    LogBuffer().clear();
    return 1;
  }

 protected:
  bool ConvertContributions() override {
    Calls.push_back("CT:" + ExtractFileName(BackupDir()));
    const TAreaInfo& A = AreaInfo(TArea::Contributions);
    if (!BackupDir().ends_with(A.FolderSuffix) || ConversionError() != 0) return false;
    if (FileExists(JoinPath(BackupDir(), A.TargetFile))) return false;
    int32_t Err = ContributionsError ? ContributionsError(BackupDir()) : 0;
    if (Err) {
      SetConversionError(Err);
      AddLog("Error creating database");
    } else {
      test::WriteFile(JoinPath(BackupDir(), A.TargetFile), "db");
    }
    AddLog("Conversion Complete");
    return true;
  }

 private:
  int32_t Area(TArea Which, const char* Tag) {
    Calls.push_back(std::string(Tag) + ":" + ExtractFileName(BackupDir()));
    const TAreaInfo& A = AreaInfo(Which);
    if (!BackupDir().ends_with(A.FolderSuffix)) return 0;
    if (FileExists(JoinPath(BackupDir(), A.TargetFile))) return 0;
    test::WriteFile(JoinPath(BackupDir(), A.TargetFile), "db");
    AddLog("Conversion Complete");
    WriteLog(A.LogFile);
    LogBuffer().clear();
    return 1;
  }
};

const TFakeUI::TBox kNoBackups{false, kMsgNoBackups};
const TFakeUI::TBox kComplete{false, kMsgComplete};
const TFakeUI::TBox kErrors{true, kMsgErrors};

TEST(BackupYear, FourCharactersBeforeTheEnding) {
  EXPECT_EQ(BackupYear("/data/2012jrnl.bkp"), 2012);
  EXPECT_EQ(BackupYear("/data/1980cont.bkp"), 1980);
  EXPECT_EQ(BackupYear("/data/ABCDjrnl.bkp"), -1);
  EXPECT_EQ(BackupYear("/data/x12jrnl.bkp"), -1);
  EXPECT_EQ(BackupYear("jrnl.bkp"), -1);
  EXPECT_EQ(BackupYear("12jrnl.bkp"), 12);  // fewer than four characters before the ending
  EXPECT_EQ(LedgerTargetFile(2012), "2012Ledger.vlt");
  EXPECT_EQ(LedgerLogFile(2012), "2012_Conversion_Log.txt");
}

TEST(GetBkpDirs, OnlyFoldersEndingExactlyInDotBkp) {
  TTempDir T;
  MakeDir(T / "2012cont.bkp");
  MakeDir(T / "ABC.BKP");
  MakeDir(T / "other");
  MakeDir(T / ".bkp");
  WriteFile(T / "x.bkp", "not a folder");
  std::vector<std::string> List;
  TConverter::GetBkpDirs(T.Path(), List);
  std::sort(List.begin(), List.end());
  EXPECT_EQ(List, (std::vector<std::string>{T / ".bkp", T / "2012cont.bkp"}));
  // With a trailing delimiter the paths have exactly one.
  List.clear();
  TConverter::GetBkpDirs(T.Path() + "/", List);
  EXPECT_EQ(List.size(), 2u);
  EXPECT_TRUE(std::find(List.begin(), List.end(), T / "2012cont.bkp") != List.end());
}

TEST(ConvertData, EmptyFolderSaysNoBackupsTwiceAndReturnsToIdle) {
  TTempDir T;
  TFakeUI UI;
  TScriptedConverter C(UI);
  EXPECT_EQ(C.ConvertData(T.Path()), TRunOutcome::NoBackups);
  EXPECT_EQ(UI.Boxes, (std::vector<TFakeUI::TBox>{kNoBackups, kNoBackups}));
  EXPECT_EQ(UI.States, (std::vector<bool>{true, false}));
  EXPECT_TRUE(C.Calls.empty());
}

TEST(ConvertData, RunsAreasInOrderAndWritesLogs) {
  TTempDir T;
  MakeDir(T / "2012jrnl.bkp");
  TFakeUI UI;
  {
    // One converter at a time: its database components are registered by name.
    TScriptedConverter C(UI);
    EXPECT_EQ(C.ConvertData(T.Path()), TRunOutcome::Complete);
    EXPECT_EQ(C.Calls,
              (std::vector<std::string>{"CT:2012jrnl.bkp", "PR:2012jrnl.bkp", "CS:2012jrnl.bkp",
                                        "LN:2012jrnl.bkp", "GL:2012jrnl.bkp"}));
    EXPECT_EQ(C.ConvertedCount(), 2);  // payroll and ledger
    EXPECT_TRUE(FileExists(T / "2012jrnl.bkp/Payroll.vlt"));
    EXPECT_TRUE(FileExists(T / "2012jrnl.bkp/2012Ledger.vlt"));
    EXPECT_EQ(test::ReadFile(T / "2012jrnl.bkp/2012_Conversion_Log.txt"),
              "Conversion Process Finished\r\n");
    EXPECT_FALSE(FileExists(T / "2012jrnl.bkp/Conversion_Log.txt"));  // empty buffer: no file
    EXPECT_EQ(UI.Boxes, (std::vector<TFakeUI::TBox>{kComplete}));
    EXPECT_EQ(C.BackupDir(), T / "2012jrnl.bkp");
  }

  // A second run converts nothing and ends as if there were no backups.
  TScriptedConverter Again(UI);
  UI.Boxes.clear();
  EXPECT_EQ(Again.ConvertData(T.Path()), TRunOutcome::NoBackups);
  EXPECT_EQ(UI.Boxes, (std::vector<TFakeUI::TBox>{kNoBackups}));
}

TEST(ConvertData, OldOrNonNumericYearGetsOnlyPayroll) {
  TTempDir T;
  MakeDir(T / "1980jrnl.bkp");
  MakeDir(T / "Xmasjrnl.bkp");
  TFakeUI UI;
  TScriptedConverter C(UI);
  C.ConvertData(T.Path());
  EXPECT_EQ(C.ConvertedCount(), 2);
  EXPECT_TRUE(FileExists(T / "1980jrnl.bkp/Payroll.vlt"));
  EXPECT_TRUE(FileExists(T / "Xmasjrnl.bkp/Payroll.vlt"));
  EXPECT_FALSE(FileExists(T / "1980jrnl.bkp/1980Ledger.vlt"));
}

TEST(ConvertData, ChoosingABackupFolderConvertsItsSiblings) {
  TTempDir T;
  MakeDir(T / "2012cont.bkp");
  MakeDir(T / "2ChkSc.bkp");
  MakeDir(T / "2Loans.bkp");
  TFakeUI UI;
  TScriptedConverter C(UI);
  EXPECT_EQ(C.ConvertData(T / "2012cont.bkp"), TRunOutcome::Complete);
  EXPECT_EQ(C.ConvertedCount(), 3);
  EXPECT_TRUE(FileExists(T / "2012cont.bkp/XLQCont.bkp.vlt"));
  EXPECT_TRUE(FileExists(T / "2ChkSc.bkp/Schedule.vlt"));
  EXPECT_TRUE(FileExists(T / "2Loans.bkp/Loan.vlt"));
  // The driver writes the contributions log.
  EXPECT_EQ(test::ReadFile(T / "2012cont.bkp/Conversion_Log.txt"), "Conversion Complete\r\n");
}

TEST(ConvertData, ContributionsErrorStopsTheRun) {
  TTempDir T;
  MakeDir(T / "2011cont.bkp");
  MakeDir(T / "2012cont.bkp");
  TFakeUI UI;
  TScriptedConverter C(UI);
  std::string First;
  C.ContributionsError = [&](const std::string& Dir) {
    if (First.empty()) First = Dir;
    return 2;
  };
  EXPECT_EQ(C.ConvertData(T.Path()), TRunOutcome::Errors);
  EXPECT_EQ(C.ConversionError(), 2);
  // Only the first folder's contributions ran; the other areas were not called.
  EXPECT_EQ(C.Calls, (std::vector<std::string>{"CT:" + ExtractFileName(First)}));
  EXPECT_EQ(test::ReadFile(First + "/Conversion_Log.txt"),
            "Error creating database\r\nConversion Complete\r\n");
  EXPECT_EQ(UI.Boxes, (std::vector<TFakeUI::TBox>{kErrors}));
}

TEST(ConvertData, ErrorEscapingAnAreaLeavesTheWindowIdle) {
  struct TThrowing : TScriptedConverter {
    using TScriptedConverter::TScriptedConverter;
    int32_t ConvertLoans() override { throw std::runtime_error("disk full"); }
  };
  TTempDir T;
  MakeDir(T / "2Loans.bkp");
  TFakeUI UI;
  TThrowing C(UI);
  EXPECT_THROW(C.ConvertData(T.Path()), std::runtime_error);
  EXPECT_EQ(UI.States, (std::vector<bool>{true, false}));
}

TEST(SelectFolder, CancelKeepsTextAndBadFolderIsAnError) {
  TTempDir T;
  TFakeUI UI;
  TConverter C(UI);
  EXPECT_EQ(C.SelectFolder("", "old"), "old");
  EXPECT_TRUE(UI.Boxes.empty());
  EXPECT_EQ(C.SelectFolder(T / "missing", "old"), "old");
  EXPECT_EQ(UI.Boxes, (std::vector<TFakeUI::TBox>{{true, kMsgInvalidFolder}}));
  EXPECT_EQ(C.SelectFolder(T.Path(), "old"), T.Path());
}

TEST(TProgressState, ClampsAndSteps) {
  TProgressState P;
  P.SetStep(20);
  for (int I = 0; I < 5; ++I) P.Step();
  EXPECT_EQ(P.Position(), 100);
  P.SetPosition(150);
  EXPECT_EQ(P.Position(), 100);
  P.SetRange(0, 10);
  P.SetPosition(5);
  EXPECT_EQ(P.Percent(), 50);
}

}  // namespace
}  // namespace vlt::app
