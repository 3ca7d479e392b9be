// The converter interrupted at twenty points spread over a whole run: killed or asked to stop
// before database writes from the first to the last, and killed or stopped at instants of a
// vltconvert run. After the next run every database is complete and verified, no temporary
// file is left and every source is as an uninterrupted run leaves it.
#include "tools/ConvertSweep.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include "engine/components/VLTEngineRegistry.h"

namespace vlt::tools {
namespace {

TEST(ConvertSweep, TwentyKillPointsLoseNothing) {
  VLTStartEngine();
  const std::string Dir = "/tmp/vlt_convert_sweep_" + std::to_string(::getpid());
  TConvertSweep Sweep(Dir, VLTCONVERT_PATH, 600);
  ASSERT_GT(Sweep.CleanWrites(), 100);
  std::vector<TConvertCase> Cases;
  for (int I = 0; I < 8; ++I)
    Cases.push_back({TConvertKill::WriteKill, 0, 1 + Sweep.CleanWrites() * I / 8});
  Cases.push_back({TConvertKill::WriteKill, 0, Sweep.CleanWrites()});  // the last write
  for (int I = 0; I < 5; ++I)
    Cases.push_back({TConvertKill::WriteTerm, 0, 1 + Sweep.CleanWrites() * (2 * I + 1) / 10});
  for (int I = 1; I <= 3; ++I)
    Cases.push_back({TConvertKill::TimedKill, Sweep.CleanSeconds() * I / 4, 0});
  for (int I = 1; I <= 3; ++I)
    Cases.push_back({TConvertKill::TimedTerm, Sweep.CleanSeconds() * I / 4, 0});
  int Interrupted = 0;
  for (const TConvertCase& C : Cases) {
    const TConvertOutcome O = Sweep.Run(C);
    Interrupted += O.Interrupted ? 1 : 0;
    std::string Shown = std::string(ConvertKillName(C.Kind)) + " at write " +
                        std::to_string(C.AtWrite) + " / " + std::to_string(C.AtSeconds) + " s:";
    for (const std::string& S : O.Stale) Shown += " stale " + S;
    for (const std::string& S : O.Changed) Shown += " " + S;
    EXPECT_TRUE(O.Good()) << Shown << " lost " << O.LostRows << " " << O.Problem;
  }
  EXPECT_GE(Interrupted, 15);
  std::filesystem::remove_all(Dir);
}

}  // namespace
}  // namespace vlt::tools
