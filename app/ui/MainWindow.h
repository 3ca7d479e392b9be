// TForm1: the application's one window. Idle it offers the folder choice and the Convert
// button; during a run it shows a wait label and the progress bar. It is the Qt face of the
// conversion driver (TConversionUI).
#pragma once

#include <QElapsedTimer>
#include <QWidget>
#include <functional>
#include <memory>

#include "app/conversion/ConversionUI.h"

class QLabel;
class QLineEdit;
class QPushButton;
class QProgressBar;
class QPlainTextEdit;
class QMessageBox;

namespace vlt::app {

class TConverter;

class TForm1 : public QWidget, public TConversionUI {
 public:
  explicit TForm1(QWidget* Parent = nullptr);
  ~TForm1() override;

  // Handlers.
  void FormCreate();
  void SelectBtnClick();
  void ConvertBtnClick();
  void ExBtnClick();

  // TConversionUI
  void ShowError(const std::string& Text) override;
  void ShowInformation(const std::string& Text) override;
  void SetConverting(bool Converting) override;
  void SetProgressRange(int Min, int Max) override;
  void SetProgressStep(int Step) override;
  void SetProgressPosition(int Position) override;
  int ProgressPosition() const override;
  void StepProgress() override;
  void ProcessPendingEvents() override;
  void SetDetails(const std::string& Text) override { FDetails = Text; }
  void SetDetailsOpen(bool Open) override { FDetailsOpen = Open; }
  // Lets the window answer (a close, Exit) every tenth of a second; true once the user chose to
  // stop the run.
  bool CancelRequested() override;

  // Closing during a run asks "A conversion is in progress. Stop it?"; a yes stops the run at
  // its next record boundary and closes the window afterwards. Tests may replace the question.
  std::function<bool()> ConfirmStop;

  // The message box ShowError / ShowInformation run: the text, and the details of the run when
  // there are any ("Show Details"), shown open when they hold failures.
  std::unique_ptr<QMessageBox> MakeMessageBox(bool Error, const std::string& Text);

  // Controls, named as the window's design names them.
  QLabel* Label1;
  QLabel* Label2;
  QPushButton* SelectBtn;
  QLineEdit* FEdit;
  QPushButton* ConvertBtn;
  QPushButton* ExBtn;
  QProgressBar* ProgBar;
  QPlainTextEdit* Memo1;  // never shown; mirrors the log buffer

 private:
  void closeEvent(QCloseEvent* Event) override;

  TProgressState FProgress;
  bool FConverting = false;
  bool FStopRequested = false;
  QElapsedTimer FSinceEvents;
  std::string FDetails;
  bool FDetailsOpen = false;
  std::unique_ptr<TConverter> FConverter;
};

}  // namespace vlt::app
