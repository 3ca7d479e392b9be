// vltcrash: kill-point sweeps of a database writer. Each case kills a writer process just before
// one of its writes (to the database, its journal or a compaction's copy) and checks what the
// next user of the file finds: exactly the last committed state, no repair asked for, every
// index agreeing with the records.
//
//   vltcrash sweep [--seconds N] [--seed N] [--dir DIR]
//   vltcrash convert [--seconds N | --cases N] [--records N] [--seed N] [--dir DIR]
//
// convert: generated backups of every area are converted to the end once for reference; each
// case then converts a fresh copy, interrupts it (SIGKILL or SIGTERM to vltconvert at a random
// instant, or in a forked converter just before a random write to a database file) and runs
// vltconvert again to the end. Prints one CSV line per case and a table of outcomes; exit 1 when
// any case lost a row, left a temporary file or a changed source, or failed to verify.
//
// Prints one CSV line per case (page size, compacting, kill point, torn, committed
// transactions, repair asked, pages rolled back, pages reclaimed, rows lost, uncommitted rows
// visible, check problems) and a table of outcomes at the end. Exit 1 when any case lost a
// committed row, showed an uncommitted one, needed repair or failed its check.
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <random>
#include <string>

#include "engine/components/VLTEngineRegistry.h"
#include "tools/ConvertSweep.h"
#include "tools/CrashSweep.h"

namespace {

const char* const kUsage =
    "usage: vltcrash sweep [--seconds N] [--seed N] [--dir DIR]\n"
    "       vltcrash convert [--seconds N | --cases N] [--records N] [--seed N] [--dir DIR]\n"
    "sweep kills a database writer at random writes for N seconds (default 60); convert\n"
    "interrupts vltconvert at random instants and writes for N seconds (or N cases) and runs it\n"
    "again to the end. Both check every outcome.\n";

// vltconvert beside this program's folder: build/release/tools/vltcrash -> ../app/vltconvert.
std::string FindVltconvert() {
  char Self[4096];
  const ssize_t N = ::readlink("/proc/self/exe", Self, sizeof Self - 1);
  const std::string Exe = N > 0 ? std::string(Self, static_cast<size_t>(N)) : "";
  const std::string Dir = Exe.substr(0, Exe.rfind('/'));
  for (const std::string& P :
       {Dir + "/../app/vltconvert", Dir + "/vltconvert", std::string("/usr/bin/vltconvert")})
    if (::access(P.c_str(), X_OK) == 0) return P;
  return "vltconvert";
}

int ConvertSweep(int argc, char** argv) {
  double Seconds = 60;
  int64_t Cases = -1;
  int Records = 3000;
  uint64_t Seed = 1;
  std::string Dir = "/tmp/vltcrash-convert";
  for (int A = 2; A < argc; ++A) {
    const std::string Arg = argv[A];
    if (A + 1 >= argc) {
      std::fputs(kUsage, stderr);
      return 2;
    }
    if (Arg == "--seconds")
      Seconds = std::atof(argv[++A]);
    else if (Arg == "--cases")
      Cases = std::atoll(argv[++A]);
    else if (Arg == "--records")
      Records = std::atoi(argv[++A]);
    else if (Arg == "--seed")
      Seed = std::strtoull(argv[++A], nullptr, 10);
    else if (Arg == "--dir")
      Dir = argv[++A];
    else {
      std::fputs(kUsage, stderr);
      return 2;
    }
  }
  vlt::VLTStartEngine();
  std::unique_ptr<vlt::tools::TConvertSweep> Sweep;
  try {
    Sweep = std::make_unique<vlt::tools::TConvertSweep>(Dir, FindVltconvert(), Records);
  } catch (const std::exception& E) {
    std::fprintf(stderr, "vltcrash: %s\n", E.what());
    return 1;
  }
  std::printf("# reference run %.2f s, %lld database writes\n", Sweep->CleanSeconds(),
              static_cast<long long>(Sweep->CleanWrites()));
  std::printf("kind,at,interrupted,lost_rows,stale,changed,problem\n");
  std::mt19937_64 R(Seed);
  std::map<std::string, int64_t> Outcomes;
  int64_t Done = 0, Bad = 0, Lost = 0, Changed = 0, Stale = 0;
  const auto Start = std::chrono::steady_clock::now();
  auto More = [&] {
    if (Cases >= 0) return Done < Cases;
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - Start).count() <
           Seconds;
  };
  while (More()) {
    vlt::tools::TConvertCase C;
    C.Kind = static_cast<vlt::tools::TConvertKill>(R() % 4);
    C.AtSeconds = Sweep->CleanSeconds() * static_cast<double>(R() % 10000) / 10000.0;
    C.AtWrite = 1 + static_cast<int64_t>(
                        R() % static_cast<uint64_t>(std::max<int64_t>(1, Sweep->CleanWrites())));
    const bool Timed = C.Kind == vlt::tools::TConvertKill::TimedKill ||
                       C.Kind == vlt::tools::TConvertKill::TimedTerm;
    vlt::tools::TConvertOutcome O;
    try {
      O = Sweep->Run(C);
    } catch (const std::exception& E) {
      O.Problem = E.what();
    }
    ++Done;
    std::string At =
        Timed ? std::to_string(C.AtSeconds) + "s" : "write " + std::to_string(C.AtWrite);
    std::printf("%s,%s,%d,%lld,%zu,%zu,%s\n", vlt::tools::ConvertKillName(C.Kind), At.c_str(),
                O.Interrupted ? 1 : 0, static_cast<long long>(O.LostRows), O.Stale.size(),
                O.Changed.size(), O.Problem.c_str());
    std::fflush(stdout);
    Lost += O.LostRows;
    Changed += static_cast<int64_t>(O.Changed.size());
    Stale += static_cast<int64_t>(O.Stale.size());
    std::string Outcome = std::string(vlt::tools::ConvertKillName(C.Kind)) + ": ";
    if (!O.Good())
      Outcome += "WRONG";
    else if (O.Interrupted)
      Outcome += "interrupted, complete after the next run";
    else
      Outcome += "finished before the interruption";
    ++Outcomes[Outcome];
    if (!O.Good()) {
      ++Bad;
      std::fprintf(stderr, "vltcrash: %s at %s:", vlt::tools::ConvertKillName(C.Kind), At.c_str());
      if (O.LostRows) std::fprintf(stderr, " %lld rows lost;", static_cast<long long>(O.LostRows));
      for (const std::string& S : O.Stale) std::fprintf(stderr, " stale %s;", S.c_str());
      for (const std::string& S : O.Changed) std::fprintf(stderr, " %s;", S.c_str());
      if (!O.Problem.empty()) std::fprintf(stderr, " %s", O.Problem.c_str());
      std::fprintf(stderr, "\n");
    }
  }
  std::printf(
      "\n%lld kill points, %lld runs wrong, %lld rows lost, %lld changed sources, %lld "
      "stale files\n",
      static_cast<long long>(Done), static_cast<long long>(Bad), static_cast<long long>(Lost),
      static_cast<long long>(Changed), static_cast<long long>(Stale));
  for (const auto& [Outcome, N] : Outcomes)
    std::printf("  %-62s %lld\n", Outcome.c_str(), static_cast<long long>(N));
  return Bad ? 1 : 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2 || std::string(argv[1]) == "--help" || std::string(argv[1]) == "-h") {
    std::fputs(kUsage, argc < 2 ? stderr : stdout);
    return argc < 2 ? 2 : 0;
  }
  if (std::string(argv[1]) == "convert") return ConvertSweep(argc, argv);
  if (std::string(argv[1]) != "sweep") {
    std::fputs(kUsage, stderr);
    return 2;
  }
  double Seconds = 60;
  uint64_t Seed = 1;
  std::string Dir = "/tmp/vltcrash";
  for (int A = 2; A < argc; ++A) {
    const std::string Arg = argv[A];
    if (A + 1 >= argc) {
      std::fputs(kUsage, stderr);
      return 2;
    }
    if (Arg == "--seconds")
      Seconds = std::atof(argv[++A]);
    else if (Arg == "--seed")
      Seed = std::strtoull(argv[++A], nullptr, 10);
    else if (Arg == "--dir")
      Dir = argv[++A];
    else {
      std::fputs(kUsage, stderr);
      return 2;
    }
  }
  vlt::VLTStartEngine();
  std::mt19937_64 R(Seed);
  std::map<std::string, int64_t> Outcomes;
  int64_t Cases = 0, Bad = 0, Lost = 0, Visible = 0;
  std::map<uint16_t, int64_t> WritesOf;  // writes of an uninterrupted run, per page size
  const auto Start = std::chrono::steady_clock::now();
  std::printf("page_size,compact,kill_at,torn,committed,repair,rolled_back,reclaimed,lost,"
              "visible,check_problems\n");
  while (std::chrono::duration<double>(std::chrono::steady_clock::now() - Start).count() <
         Seconds) {
    vlt::tools::TCrashCase C;
    C.PageSize = (R() & 1) ? 4096 : 512;
    C.Compact = (R() & 1) != 0;
    C.Seed = R();
    C.Tear = R() % 8 == 0;
    // The length of an uninterrupted run bounds the kill points.
    int64_t& Total = WritesOf[static_cast<uint16_t>(C.PageSize + (C.Compact ? 1 : 0))];
    if (Total == 0) {
      vlt::tools::TCrashCase Whole = C;
      Whole.KillAtWrite = INT64_MAX;
      Total = std::max<int64_t>(1, vlt::tools::RunCrashCase(Dir, Whole).Writes);
    }
    C.KillAtWrite = 1 + static_cast<int64_t>(R() % static_cast<uint64_t>(Total));
    const vlt::tools::TCrashOutcome O = vlt::tools::RunCrashCase(Dir, C);
    ++Cases;
    std::printf("%d,%d,%lld,%d,%lld,%d,%lld,%lld,%lld,%lld,%lld\n", C.PageSize, C.Compact ? 1 : 0,
                static_cast<long long>(C.KillAtWrite), C.Tear ? 1 : 0,
                static_cast<long long>(O.Committed), O.RepairNeeded ? 1 : 0,
                static_cast<long long>(O.RolledBack), static_cast<long long>(O.Reclaimed),
                static_cast<long long>(O.CommittedRowsLost),
                static_cast<long long>(O.UncommittedVisible),
                static_cast<long long>(O.CheckProblems));
    std::string Outcome;
    if (!O.Problem.empty())
      Outcome = "error: " + O.Problem;
    else if (!O.Killed)
      Outcome = "finished before the kill point";
    else if (!O.Good())
      Outcome = "WRONG";
    else if (O.RolledBack > 0)
      Outcome = "rolled back from the journal";
    else
      Outcome = "committed state, nothing to roll back";
    ++Outcomes[Outcome];
    Lost += O.CommittedRowsLost;
    Visible += O.UncommittedVisible;
    if (!O.Good()) {
      ++Bad;
      std::fprintf(stderr, "vltcrash: case --page-size %d%s --kill-at %lld%s --case-seed %llu: %s\n",
                   C.PageSize, C.Compact ? " --compact" : "", static_cast<long long>(C.KillAtWrite),
                   C.Tear ? " --tear" : "", static_cast<unsigned long long>(C.Seed),
                   O.Problem.empty() ? "wrong outcome" : O.Problem.c_str());
    }
  }
  std::fprintf(stdout, "\n%lld kill points, %lld committed rows lost, %lld uncommitted rows "
                       "visible\n",
               static_cast<long long>(Cases), static_cast<long long>(Lost),
               static_cast<long long>(Visible));
  for (const auto& [Outcome, N] : Outcomes)
    std::printf("  %-45s %lld\n", Outcome.c_str(), static_cast<long long>(N));
  return Bad ? 1 : 0;
}
