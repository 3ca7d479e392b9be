#include "app/ui/MainWindow.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTextEdit>
#include <QTimer>
#include <filesystem>

#include "app/conversion/FileUtil.h"
#include "tests/app/TestDirs.h"
#include "tools/BackupGenerator.h"

namespace vlt::app {
namespace {

QApplication& App() {
  static int Argc = 1;
  static char Name[] = "window_tests";
  static char* Argv[] = {Name, nullptr};
  static QApplication A(Argc, Argv);
  return A;
}

TEST(TForm1, IdleStateTextsAndGeometry) {
  App();
  TForm1 F;
  F.show();
  EXPECT_EQ(F.windowTitle(), "XLQ Backup Conversion Tool");
  EXPECT_EQ(F.size(), QSize(435, 156));
  EXPECT_EQ(F.font().family(), "Tahoma");
  EXPECT_EQ(F.Label2->text(),
            "Select a backup to convert by clicking the Select Backup button and then click the "
            "Convert button.");
  EXPECT_TRUE(F.Label2->font().bold());
  EXPECT_EQ(F.Label2->font().pixelSize(), 13);
  EXPECT_TRUE(F.Label2->wordWrap());
  EXPECT_EQ(F.SelectBtn->text(), "Select Backup");
  EXPECT_EQ(F.ConvertBtn->text(), "Convert Backup");
  EXPECT_EQ(F.ExBtn->text(), "Exit");
  EXPECT_EQ(F.Label1->text(), "Please Wait ... Conversion in process");
  EXPECT_EQ(F.Label1->font().pixelSize(), 19);
  EXPECT_EQ(F.ProgBar->minimum(), 0);
  EXPECT_EQ(F.ProgBar->maximum(), 100);

  for (QWidget* W : {static_cast<QWidget*>(F.Label2), static_cast<QWidget*>(F.SelectBtn),
                     static_cast<QWidget*>(F.FEdit), static_cast<QWidget*>(F.ConvertBtn),
                     static_cast<QWidget*>(F.ExBtn)})
    EXPECT_TRUE(W->isVisible());
  EXPECT_FALSE(F.Label1->isVisible());
  EXPECT_FALSE(F.ProgBar->isVisible());
  EXPECT_FALSE(F.Memo1->isVisible());
}

TEST(TForm1, ConvertingStateShowsOnlyWaitLabelBarAndExit) {
  App();
  TForm1 F;
  F.show();
  F.SetConverting(true);
  EXPECT_TRUE(F.Label1->isVisible());
  EXPECT_TRUE(F.ProgBar->isVisible());
  EXPECT_TRUE(F.ExBtn->isVisible());
  EXPECT_FALSE(F.ConvertBtn->isVisible());
  EXPECT_FALSE(F.SelectBtn->isVisible());
  EXPECT_FALSE(F.FEdit->isVisible());
  EXPECT_FALSE(F.Label2->isVisible());
  EXPECT_FALSE(F.Memo1->isVisible());
  F.SetProgressStep(20);
  F.StepProgress();
  F.StepProgress();
  EXPECT_EQ(F.ProgBar->value(), 40);
  F.SetConverting(false);
  EXPECT_TRUE(F.ConvertBtn->isVisible());
  EXPECT_FALSE(F.ProgBar->isVisible());
}

TEST(TForm1, TheFinalBoxKeepsItsTextAndOffersTheRunSummaryAsDetails) {
  App();
  TForm1 F;
  auto Plain = F.MakeMessageBox(false, "Conversion Complete.");
  EXPECT_EQ(Plain->text(), "Conversion Complete.");
  EXPECT_TRUE(Plain->detailedText().isEmpty());
  F.SetDetails("folder: payroll -> Payroll.vlt\n  DedTEx 5 5\n");
  auto Box = F.MakeMessageBox(true, "Errors occured during the conversion.");
  EXPECT_EQ(Box->text(), "Errors occured during the conversion.");
  EXPECT_EQ(Box->icon(), QMessageBox::Critical);
  EXPECT_EQ(Box->detailedText(), "folder: payroll -> Payroll.vlt\n  DedTEx 5 5\n");
}

TEST(TForm1, FailuresOpenTheDetailsOfTheFinalBox) {
  App();
  TForm1 F;
  auto DetailsShown = [](QMessageBox& Box) {
    Box.show();
    QApplication::processEvents();
    for (QTextEdit* T : Box.findChildren<QTextEdit*>())
      if (T->isVisible()) return true;
    return false;
  };
  F.SetDetails(
      "folder: loans FAILED: Error Opening Table: LOAN.DB (see Conversion_Log_Loan.txt)\n");
  auto Closed = F.MakeMessageBox(false, "Conversion Complete.");
  EXPECT_FALSE(DetailsShown(*Closed));
  F.SetDetailsOpen(true);
  auto Open = F.MakeMessageBox(false, "Conversion Complete.");
  EXPECT_EQ(Open->text(), "Conversion Complete.");
  EXPECT_EQ(Open->icon(), QMessageBox::Information);
  EXPECT_TRUE(DetailsShown(*Open));
}

TEST(TForm1, ClosingDuringARunAsksAndOnlyAYesStopsIt) {
  App();
  TForm1 F;
  F.show();
  int Asked = 0;
  bool Answer = false;
  F.ConfirmStop = [&] {
    ++Asked;
    return Answer;
  };
  EXPECT_FALSE(F.CancelRequested());
  F.SetConverting(true);
  EXPECT_FALSE(F.close());
  EXPECT_EQ(Asked, 1);
  EXPECT_TRUE(F.isVisible());
  EXPECT_FALSE(F.CancelRequested());
  Answer = true;
  EXPECT_FALSE(F.close());  // the window waits for the run to wind down
  EXPECT_EQ(Asked, 2);
  EXPECT_TRUE(F.CancelRequested());
  F.SetConverting(false);
  EXPECT_TRUE(F.close());  // idle: no question
  EXPECT_EQ(Asked, 2);
}

// A close while converting stops the run at a record boundary: no half database, no leftover
// temporary file or safety copy, and the window closes once the run has wound down.
TEST(TForm1, ClosingDuringARunStopsItCleanlyAndClosesTheWindow) {
  App();
  test::TTempDir Dir;
  tools::TBackupGenOptions O;
  O.Records = 3000;
  tools::GenerateBackups(Dir.Path(), O);
  TForm1 F;
  F.show();
  int Asked = 0;
  F.ConfirmStop = [&] {
    ++Asked;
    return true;
  };
  F.FEdit->setText(QString::fromStdString(Dir.Path()));
  QTimer::singleShot(0, &F, [&] { F.close(); });
  F.ConvertBtnClick();
  EXPECT_EQ(Asked, 1);
  EXPECT_FALSE(F.isVisible());
  int Databases = 0;
  for (const auto& E : std::filesystem::recursive_directory_iterator(Dir.Path())) {
    const std::string Name = E.path().filename().string();
    EXPECT_EQ(Name.find(".partial"), std::string::npos) << Name;
    EXPECT_EQ(Name.find("-bkp."), std::string::npos) << Name;
    if (app::EndsWith(Name, ".vlt")) ++Databases;
  }
  EXPECT_LT(Databases, 5);  // the run did not go on to its end
}

}  // namespace
}  // namespace vlt::app
