// A writer killed just before one of its writes: the next user of the file finds exactly the
// last committed state, no repair asked for, the indexes agreeing with the records. A fixed set
// of kill points spread over whole runs (commits, allocations, compactions); VLT_CRASH_SWEEP=N
// adds N random ones.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <random>
#include <string>

#include "engine/components/VLTEngineRegistry.h"
#include "tools/CrashSweep.h"

namespace vlt {
namespace {

using tools::RunCrashCase;
using tools::TCrashCase;
using tools::TCrashOutcome;

class CrashSweep : public ::testing::TestWithParam<std::tuple<uint16_t, bool>> {
 protected:
  void SetUp() override {
    VLTStartEngine();
    Dir = "/tmp/vlt_crash_" + std::to_string(::getpid());
  }
  void TearDown() override { std::system(("rm -rf " + Dir).c_str()); }

  static std::string Shown(const TCrashCase& C, const TCrashOutcome& O) {
    return "page size " + std::to_string(C.PageSize) + (C.Compact ? ", compacting" : "") +
           ", killed before write " + std::to_string(C.KillAtWrite) + ", seed " +
           std::to_string(C.Seed) + ": committed " + std::to_string(O.Committed) + ", repair " +
           std::to_string(O.RepairNeeded) + ", lost " + std::to_string(O.CommittedRowsLost) +
           ", visible " + std::to_string(O.UncommittedVisible) + ", check problems " +
           std::to_string(O.CheckProblems) + ", page map problems " +
           std::to_string(O.PageMapProblems) + ", leaked " + std::to_string(O.LeakedPages) +
           (O.Problem.empty() ? "" : ", " + O.Problem);
  }

  std::string Dir;
};

TEST_P(CrashSweep, EveryKillPointLeavesTheLastCommittedState) {
  TCrashCase C;
  C.PageSize = std::get<0>(GetParam());
  C.Compact = std::get<1>(GetParam());
  C.Transactions = 12;
  int64_t RolledBack = 0;
  for (uint64_t Seed : {2u, 3u}) {  // one run without syncs, one with
    C.Seed = Seed;
    C.KillAtWrite = INT64_MAX;
    const TCrashOutcome Whole = RunCrashCase(Dir, C);
    ASSERT_FALSE(Whole.Killed);
    ASSERT_TRUE(Whole.Good()) << Shown(C, Whole);
    ASSERT_EQ(Whole.Committed, C.Transactions);
    std::vector<int64_t> Points;
    for (int64_t N = 1; N <= Whole.Writes; N += std::max<int64_t>(1, Whole.Writes / 25))
      Points.push_back(N);
    if (const char* More = std::getenv("VLT_CRASH_SWEEP")) {
      std::mt19937_64 R(Seed);
      for (long I = std::atol(More); I > 0; --I)
        Points.push_back(1 + static_cast<int64_t>(R() % static_cast<uint64_t>(Whole.Writes)));
    }
    for (int64_t N : Points) {
      C.KillAtWrite = N;
      const TCrashOutcome O = RunCrashCase(Dir, C);
      ASSERT_TRUE(O.Killed) << Shown(C, O);
      EXPECT_TRUE(O.Good()) << Shown(C, O);
      RolledBack += O.RolledBack > 0;
    }
  }
  EXPECT_GT(RolledBack, 0);  // some kills fell inside a commit's in-place writes
}

INSTANTIATE_TEST_SUITE_P(Sizes, CrashSweep,
                         ::testing::Combine(::testing::Values<uint16_t>(512, 4096),
                                            ::testing::Bool()));

TEST_P(CrashSweep, TornWritesAreCoveredToo) {
  // The write the child dies in reaches the file half done, as when a page straddles two
  // blocks of the system's cache: a commit's page, a bitmap page an allocation extends, a
  // journal record. The journal holds what each overwrote (or, torn itself, saved nothing).
  TCrashCase C;
  C.PageSize = std::get<0>(GetParam());
  C.Compact = std::get<1>(GetParam());
  C.Transactions = 6;
  C.Seed = 5;
  C.Tear = true;
  C.KillAtWrite = INT64_MAX;
  const TCrashOutcome Whole = RunCrashCase(Dir, C);
  ASSERT_TRUE(Whole.Good()) << Shown(C, Whole);
  int64_t RolledBack = 0;
  for (int64_t N = 1; N <= Whole.Writes; N += std::max<int64_t>(1, Whole.Writes / 20)) {
    C.KillAtWrite = N;
    const TCrashOutcome O = RunCrashCase(Dir, C);
    EXPECT_TRUE(O.Good()) << Shown(C, O);
    RolledBack += O.RolledBack > 0;
  }
  EXPECT_GT(RolledBack, 0);
}

}  // namespace
}  // namespace vlt
