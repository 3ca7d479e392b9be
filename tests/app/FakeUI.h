// A conversion UI that records what the driver asked of it, for tests.
#pragma once

#include <string>
#include <vector>

#include "app/conversion/ConversionUI.h"

namespace vlt::test {

class TFakeUI : public app::TConversionUI {
 public:
  struct TBox {
    bool Error;
    std::string Text;
    friend bool operator==(const TBox&, const TBox&) = default;
  };
  std::vector<TBox> Boxes;
  std::vector<bool> States;  // every SetConverting call
  app::TProgressState Progress;
  int PendingEventCalls = 0;
  int StepCalls = 0;
  std::vector<int> StepSizes;  // every SetProgressStep call
  std::vector<int> Positions;  // every SetProgressPosition call

  void ShowError(const std::string& Text) override { Boxes.push_back({true, Text}); }
  void ShowInformation(const std::string& Text) override { Boxes.push_back({false, Text}); }
  void SetConverting(bool Converting) override { States.push_back(Converting); }
  void SetProgressRange(int Min, int Max) override { Progress.SetRange(Min, Max); }
  void SetProgressStep(int Step) override {
    StepSizes.push_back(Step);
    Progress.SetStep(Step);
  }
  void SetProgressPosition(int Position) override {
    Positions.push_back(Position);
    Progress.SetPosition(Position);
  }
  int ProgressPosition() const override { return Progress.Position(); }
  void StepProgress() override {
    ++StepCalls;
    Progress.Step();
  }
  void ProcessPendingEvents() override { ++PendingEventCalls; }
};

}  // namespace vlt::test
