#include "app/ui/TerminalUI.h"

#include <string>

#include "app/conversion/Interruption.h"

namespace vlt::app {

namespace {
// Message boxes end lines with CR LF; a terminal wants LF.
std::string ForTerminal(const std::string& Text) {
  std::string R;
  for (size_t I = 0; I < Text.size(); ++I)
    if (!(Text[I] == '\r' && I + 1 < Text.size() && Text[I + 1] == '\n')) R.push_back(Text[I]);
  return R;
}
}  // namespace

bool TTerminalUI::CancelRequested() {
  return CancelSignalled();
}

void TTerminalUI::ClearBar() {
  if (!FBarShown) return;
  std::fputs("\r\033[K", FErr);
  FBarShown = false;
}

void TTerminalUI::ShowError(const std::string& Text) {
  ClearBar();
  std::fprintf(FErr, "%s\n", ForTerminal(Text).c_str());
  std::fflush(FErr);
  FLastPercent = -1;
}

void TTerminalUI::ShowInformation(const std::string& Text) {
  ClearBar();
  std::fprintf(FOut, "%s\n", ForTerminal(Text).c_str());
  std::fflush(FOut);
  FLastPercent = -1;
}

void TTerminalUI::SetConverting(bool Converting) {
  FConverting = Converting;
  if (Converting) {
    std::fprintf(FOut, "Please Wait ... Conversion in process\n");
    std::fflush(FOut);
    Draw();
  } else {
    ClearBar();
    std::fflush(FErr);
  }
}

void TTerminalUI::SetProgressRange(int Min, int Max) {
  FProgress.SetRange(Min, Max);
  Draw();
}

void TTerminalUI::SetProgressPosition(int Position) {
  FProgress.SetPosition(Position);
  Draw();
}

void TTerminalUI::StepProgress() {
  FProgress.Step();
  Draw();
}

void TTerminalUI::Draw() {
  if (!FDrawProgress || !FConverting) return;
  int Percent = FProgress.Percent();
  if (Percent == FLastPercent && FBarShown) return;
  FLastPercent = Percent;
  constexpr int kWidth = 40;
  int Filled = Percent * kWidth / 100;
  std::string Bar(static_cast<size_t>(Filled), '#');
  Bar.append(static_cast<size_t>(kWidth - Filled), '.');
  std::fprintf(FErr, "\r[%s] %3d%%", Bar.c_str(), Percent);
  std::fflush(FErr);
  FBarShown = true;
}

}  // namespace vlt::app
