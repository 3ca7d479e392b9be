// vltcrash: kill-point sweeps of a database writer. Each case kills a writer process just before
// one of its writes (to the database, its journal or a compaction's copy) and checks what the
// next user of the file finds: exactly the last committed state, no repair asked for, every
// index agreeing with the records, the page map clean.
//
//   vltcrash sweep [--seconds N] [--seed N] [--dir DIR]
//   vltcrash convert [--seconds N | --cases N] [--records N] [--seed N] [--dir DIR]
//   vltcrash case --page-size N [--compact] [--shared] --kill-at N [--tear] [--rounds N]
//                 --case-seed N [--dir DIR]
//
// sweep prints one CSV line per case (page size, compacting, shared, kill point, the write it
// came before, torn, committed transactions, repair asked, pages rolled back, pages reclaimed,
// rows lost, uncommitted rows visible, check problems, page map problems, leaked pages) and
// tables of outcomes at the end. Writers are exclusive or shared (as the conversions open their
// databases), page sizes 512 or 4096. Exit 1 when any case lost a committed row, showed an
// uncommitted one, needed repair, failed a check after the reopen or when a writer died of
// anything but the planned kill; each such case is printed as the case command that replays it.
// case runs one of them and prints what the reopen found.
//
// convert: generated backups of every area are converted to the end once for reference; each
// case then converts a fresh copy, interrupts it (SIGKILL or SIGTERM to vltconvert at a random
// instant, or in a forked converter just before a random write to a database file) and runs
// vltconvert again to the end. Prints one CSV line per case and a table of outcomes; exit 1 when
// any case lost a row, left a temporary file or a changed source, or failed to verify.
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
    "       vltcrash case --page-size N [--compact] [--shared] --kill-at N [--tear] [--rounds N]\n"
    "                     --case-seed N [--dir DIR]\n"
    "sweep kills a writer at random writes for N seconds (default 60) and checks every outcome;\n"
    "case replays one kill point and prints what the next open found; convert interrupts\n"
    "vltconvert at random instants and writes for N seconds (or N cases) and runs it again to\n"
    "the end, checking every outcome.\n";

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

using vlt::tools::TCrashCase;
using vlt::tools::TCrashOutcome;

std::string CaseCommand(const TCrashCase& C) {
  return "vltcrash case --page-size " + std::to_string(C.PageSize) +
         (C.Compact ? " --compact" : "") + (C.Shared ? " --shared" : "") + " --kill-at " +
         std::to_string(C.KillAtWrite) + (C.Tear ? " --tear" : "") +
         (C.Rounds > 1 ? " --rounds " + std::to_string(C.Rounds) : "") + " --case-seed " +
         std::to_string(C.Seed);
}

// What the case shows: the failure first, then the outcome.
std::string OutcomeOf(const TCrashOutcome& O) {
  if (O.WriterFailed) return "FAILED: " + O.Problem;
  if (!O.Problem.empty()) return "FAILED: the reopen: " + O.Problem;
  if (O.CommittedRowsLost > 0) return "FAILED: committed rows lost";
  if (O.UncommittedVisible > 0) return "FAILED: uncommitted rows visible";
  if (O.RepairNeeded) return "FAILED: repair asked for";
  if (O.CheckProblems > 0 || O.PageMapProblems > 0) return "FAILED: check not clean";
  if (O.LeakedPages > 0) return "FAILED: leaked pages left";
  if (!O.Killed) return "finished before the kill point";
  if (O.RolledBack > 0) return "rolled back from the journal";
  if (O.Reclaimed > 0) return "leaked pages given back";
  return "committed state, nothing to roll back";
}

int RunCase(const TCrashCase& C, const std::string& Dir) {
  const TCrashOutcome O = vlt::tools::RunCrashCase(Dir, C);
  std::printf("%s\n", CaseCommand(C).c_str());
  std::printf("  killed before: %s\n", O.Killed ? O.KilledBefore.c_str() : "(not killed)");
  std::printf("  committed transactions %lld, pages rolled back %lld, pages reclaimed %lld\n",
              static_cast<long long>(O.Committed), static_cast<long long>(O.RolledBack),
              static_cast<long long>(O.Reclaimed));
  std::printf("  rows lost %lld, uncommitted rows visible %lld, repair asked %s\n",
              static_cast<long long>(O.CommittedRowsLost),
              static_cast<long long>(O.UncommittedVisible), O.RepairNeeded ? "yes" : "no");
  for (const std::string& F : O.Findings) std::printf("  %s\n", F.c_str());
  std::printf("  outcome: %s\n", OutcomeOf(O).c_str());
  return O.Good() ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2 || std::string(argv[1]) == "--help" || std::string(argv[1]) == "-h") {
    std::fputs(kUsage, argc < 2 ? stderr : stdout);
    return argc < 2 ? 2 : 0;
  }
  const std::string Command = argv[1];
  if (Command == "convert") return ConvertSweep(argc, argv);
  if (Command != "sweep" && Command != "case") {
    std::fputs(kUsage, stderr);
    return 2;
  }
  double Seconds = 60;
  uint64_t Seed = 1;
  std::string Dir = "/tmp/vltcrash";
  TCrashCase One;
  for (int A = 2; A < argc; ++A) {
    const std::string Arg = argv[A];
    if (Arg == "--compact") {
      One.Compact = true;
      continue;
    }
    if (Arg == "--shared") {
      One.Shared = true;
      continue;
    }
    if (Arg == "--tear") {
      One.Tear = true;
      continue;
    }
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
    else if (Arg == "--page-size")
      One.PageSize = static_cast<uint16_t>(std::atoi(argv[++A]));
    else if (Arg == "--kill-at")
      One.KillAtWrite = std::strtoll(argv[++A], nullptr, 10);
    else if (Arg == "--rounds")
      One.Rounds = std::max(1, std::atoi(argv[++A]));
    else if (Arg == "--case-seed")
      One.Seed = std::strtoull(argv[++A], nullptr, 10);
    else {
      std::fputs(kUsage, stderr);
      return 2;
    }
  }
  vlt::VLTStartEngine();
  if (Command == "case") return RunCase(One, Dir);

  std::mt19937_64 R(Seed);
  std::map<std::string, int64_t> Outcomes, Kinds;
  int64_t Cases = 0, Bad = 0, Lost = 0, Visible = 0, Unclean = 0, WriterFailures = 0;
  std::map<int, int64_t> WritesOf;  // writes of an uninterrupted run, per kind of run
  const auto Start = std::chrono::steady_clock::now();
  std::printf(
      "page_size,compact,shared,kill_at,kill_before,torn,committed,repair,rolled_back,"
      "reclaimed,lost,visible,check_problems,page_map_problems,leaked\n");
  while (std::chrono::duration<double>(std::chrono::steady_clock::now() - Start).count() <
         Seconds) {
    TCrashCase C;
    C.PageSize = (R() & 1) ? 4096 : 512;
    C.Compact = (R() & 1) != 0;
    C.Seed = R();
    C.Shared = (R() & 1) != 0;
    C.Tear = !C.Shared && R() % 8 == 0;
    // A quarter of the cases kill writers again and again on one database, as a user whose
    // machine keeps failing would.
    C.Rounds = R() % 4 == 0 ? 5 : 1;
    // The length of an uninterrupted run bounds the kill points.
    int64_t& Total = WritesOf[C.PageSize + (C.Compact ? 1 : 0) + (C.Shared ? 2 : 0)];
    if (Total == 0) {
      TCrashCase Whole = C;
      Whole.KillAtWrite = INT64_MAX;
      Total = std::max<int64_t>(1, vlt::tools::RunCrashCase(Dir, Whole).Writes);
    }
    C.KillAtWrite = 1 + static_cast<int64_t>(R() % static_cast<uint64_t>(Total));
    const TCrashOutcome O = vlt::tools::RunCrashCase(Dir, C);
    ++Cases;
    std::printf("%d,%d,%d,%lld,%s,%d,%lld,%d,%lld,%lld,%lld,%lld,%lld,%lld,%lld\n", C.PageSize,
                C.Compact ? 1 : 0, C.Shared ? 1 : 0, static_cast<long long>(C.KillAtWrite),
                O.KilledBefore.c_str(), C.Tear ? 1 : 0, static_cast<long long>(O.Committed),
                O.RepairNeeded ? 1 : 0, static_cast<long long>(O.RolledBack),
                static_cast<long long>(O.Reclaimed), static_cast<long long>(O.CommittedRowsLost),
                static_cast<long long>(O.UncommittedVisible),
                static_cast<long long>(O.CheckProblems), static_cast<long long>(O.PageMapProblems),
                static_cast<long long>(O.LeakedPages));
    ++Outcomes[OutcomeOf(O)];
    if (O.Killed) ++Kinds[(C.Shared ? "shared, " : "exclusive, ") + O.KilledBefore];
    Lost += O.CommittedRowsLost;
    Visible += O.UncommittedVisible;
    Unclean += !O.WriterFailed && (!O.Problem.empty() || O.RepairNeeded || O.CheckProblems > 0 ||
                                   O.PageMapProblems > 0);
    WriterFailures += O.WriterFailed;
    if (!O.Good()) {
      ++Bad;
      std::fprintf(stderr, "vltcrash: %s: %s\n", CaseCommand(C).c_str(), OutcomeOf(O).c_str());
      for (const std::string& F : O.Findings)
        if (F.rfind("warning: ", 0) != 0) std::fprintf(stderr, "  %s\n", F.c_str());
    }
  }
  std::printf(
      "\n%lld kill points, %lld committed rows lost, %lld uncommitted rows visible, "
      "%lld unclean checks after reopen, %lld writers failed otherwise\n",
      static_cast<long long>(Cases), static_cast<long long>(Lost), static_cast<long long>(Visible),
      static_cast<long long>(Unclean), static_cast<long long>(WriterFailures));
  std::printf("outcomes:\n");
  for (const auto& [Outcome, N] : Outcomes)
    std::printf("  %-45s %lld\n", Outcome.c_str(), static_cast<long long>(N));
  std::printf("killed before:\n");
  for (const auto& [Kind, N] : Kinds)
    std::printf("  %-45s %lld\n", Kind.c_str(), static_cast<long long>(N));
  return Bad ? 1 : 0;
}
