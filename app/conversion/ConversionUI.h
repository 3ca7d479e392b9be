// What the conversion driver and the area conversions need of a user interface: message boxes,
// the progress bar, the idle/converting switch and a chance to process pending window events.
// The main window implements it with Qt; the headless tool with a terminal; tests with a fake.
#pragma once

#include <string>

namespace vlt::app {

class TConversionUI {
 public:
  virtual ~TConversionUI() = default;

  // Message boxes with an OK button. Texts are UTF-8.
  virtual void ShowError(const std::string& Text) = 0;
  virtual void ShowInformation(const std::string& Text) = 0;

  // Idle: the selection controls are visible. Converting: the wait label and the progress bar
  // are. Switching repaints at once, so the change is visible before work starts.
  virtual void SetConverting(bool Converting) = 0;

  // The progress bar, as a classic progress control: a range, a step and a position.
  virtual void SetProgressRange(int Min, int Max) = 0;
  virtual void SetProgressStep(int Step) = 0;
  virtual void SetProgressPosition(int Position) = 0;
  virtual int ProgressPosition() const = 0;
  virtual void StepProgress() = 0;

  // Lets the window process pending events (repaints, Exit) during long work.
  virtual void ProcessPendingEvents() = 0;

  // Details for the run's final message box (the verification summary); "" clears them. A front
  // end may show them on request beside the box's text, which stays as it is.
  virtual void SetDetails(const std::string& Text) { (void)Text; }
  // Whether those details hold failures, so that a window shows them open with the box.
  virtual void SetDetailsOpen(bool Open) { (void)Open; }

  // Asked at every record boundary: whether the user wants the run stopped (Ctrl-C, the window
  // closed). Cheap enough to call per record; a window may process its events here now and then.
  virtual bool CancelRequested() { return false; }
};

// Progress bookkeeping shared by the real front ends: clamps the position into the range and
// steps as a classic progress control does.
class TProgressState {
 public:
  void SetRange(int Min, int Max) {
    FMin = Min;
    FMax = Max < Min ? Min : Max;
    SetPosition(FPosition);
  }
  void SetStep(int Step) { FStep = Step; }
  void SetPosition(int Position) {
    FPosition = Position < FMin ? FMin : Position > FMax ? FMax : Position;
  }
  // A classic progress control wraps to its minimum when a step passes the maximum.
  void Step() {
    int Next = FPosition + FStep;
    FPosition = Next > FMax ? FMin + (Next - FMax) % (FMax - FMin + 1) : Next;
    if (FPosition < FMin) FPosition = FMin;
  }
  int Min() const { return FMin; }
  int Max() const { return FMax; }
  int Position() const { return FPosition; }
  int Percent() const { return FMax == FMin ? 0 : (FPosition - FMin) * 100 / (FMax - FMin); }

 private:
  int FMin = 0, FMax = 100, FStep = 10, FPosition = 0;
};

}  // namespace vlt::app
