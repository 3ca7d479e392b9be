// vltgenbackups: writes synthetic backup folders of the old release, for tests, benchmarks and
// the samples in examples/backups (what each folder holds: tools/BackupGenerator.h).
//
//   vltgenbackups [--records N] [--seed N] [--with-old] [--edge-cases] [--large]
//                 [--employees N] [--periods N] [--transactions N] [--payees N]
//                 [--contributors N] [--gifts N] [--services N] [--funds N] [--shared-numbers]
//                 OUTDIR
//
// --large is a journal of 150 employees with 52 pay periods, 100,000 transactions and 2,000
// payees; the four counts set the journal's sizes one by one. The contributions counts size the
// contributions folder; --shared-numbers makes a quarter of its services and funds share numbers.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "tools/BackupGenerator.h"

namespace {

const char* const kUsage =
    "usage: vltgenbackups [--records N] [--seed N] [--with-old] [--edge-cases] [--large]\n"
    "                     [--employees N] [--periods N] [--transactions N] [--payees N]\n"
    "                     [--contributors N] [--gifts N] [--services N] [--funds N] "
    "[--shared-numbers] OUTDIR\n";

}  // namespace

int main(int Argc, char** Argv) {
  vlt::tools::TBackupGenOptions O;
  std::string Out;
  bool Bad = false;
  for (int A = 1; A < Argc && !Bad; ++A) {
    const std::string Arg = Argv[A];
    auto Number = [&](int& Into) {
      if (A + 1 >= Argc) return void(Bad = true);
      char* End = nullptr;
      const long V = std::strtol(Argv[++A], &End, 10);
      if (*End != 0 || V < 1 || V > 100000000) return void(Bad = true);
      Into = static_cast<int>(V);
    };
    if (Arg == "--help" || Arg == "-h") {
      std::fputs(kUsage, stdout);
      return 0;
    } else if (Arg == "--records") {
      Number(O.Records);
    } else if (Arg == "--seed") {
      int Seed = 0;
      Number(Seed);
      O.Seed = static_cast<unsigned>(Seed);
    } else if (Arg == "--with-old") {
      O.WithOld = true;
    } else if (Arg == "--edge-cases") {
      O.EdgeCases = true;
    } else if (Arg == "--large") {
      O.Employees = 150;
      O.Periods = 52;
      O.Transactions = 100000;
      O.Payees = 2000;
    } else if (Arg == "--employees") {
      Number(O.Employees);
    } else if (Arg == "--periods") {
      Number(O.Periods);
    } else if (Arg == "--transactions") {
      Number(O.Transactions);
    } else if (Arg == "--payees") {
      Number(O.Payees);
    } else if (Arg == "--contributors") {
      Number(O.Contributors);
    } else if (Arg == "--gifts") {
      Number(O.Gifts);
    } else if (Arg == "--services") {
      Number(O.Services);
    } else if (Arg == "--funds") {
      Number(O.Funds);
    } else if (Arg == "--shared-numbers") {
      O.SharedNumbers = true;
    } else if (!Arg.empty() && Arg[0] != '-' && Out.empty()) {
      Out = Arg;
    } else {
      Bad = true;
    }
  }
  if (Bad || Out.empty()) {
    std::fputs(kUsage, stderr);
    return 2;
  }
  try {
    vlt::tools::GenerateBackups(Out, O);
  } catch (const std::exception& E) {
    std::fprintf(stderr, "vltgenbackups: %s\n", E.what());
    return 1;
  }
  return 0;
}
