// The headless face of the conversion driver: message-box texts go to the terminal (errors to
// standard error) and the progress bar is drawn on standard error when it is a terminal.
#pragma once

#include <cstdio>

#include "app/conversion/ConversionUI.h"

namespace vlt::app {

class TTerminalUI : public TConversionUI {
 public:
  TTerminalUI(std::FILE* Out, std::FILE* Err, bool DrawProgress)
      : FOut(Out), FErr(Err), FDrawProgress(DrawProgress) {}

  void ShowError(const std::string& Text) override;
  void ShowInformation(const std::string& Text) override;
  void SetConverting(bool Converting) override;
  void SetProgressRange(int Min, int Max) override;
  void SetProgressStep(int Step) override { FProgress.SetStep(Step); }
  void SetProgressPosition(int Position) override;
  int ProgressPosition() const override { return FProgress.Position(); }
  void StepProgress() override;
  void ProcessPendingEvents() override {}
  // SIGINT, SIGTERM or SIGHUP arrived (InstallCancelSignalHandlers).
  bool CancelRequested() override;

 private:
  void Draw();
  void ClearBar();

  std::FILE* FOut;
  std::FILE* FErr;
  bool FDrawProgress;
  bool FConverting = false;
  bool FBarShown = false;
  int FLastPercent = -1;
  TProgressState FProgress;
};

}  // namespace vlt::app
