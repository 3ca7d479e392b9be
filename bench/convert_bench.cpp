// The payroll and ledger conversions of a large journal backup (150 employees x 52 pay periods,
// 100,000 transactions, 2,000 payees; Arg(2) doubles every count). Each iteration converts a
// fresh copy in a child process, so that its peak memory can be read on its own.
//
// Counters: payroll_rows_per_s and ledger_rows_per_s (source records over each area's wall
// time), peak_rss_MB of the converting process. Memory must stay flat: Arg(2) should not need
// twice the memory of Arg(1).
#include <benchmark/benchmark.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "app/Conversion.h"
#include "app/ParadoxTable.h"
#include "tools/BackupGenerator.h"

namespace {

using namespace vlt::app;

class TQuietUI : public TConversionUI {
 public:
  void ShowError(const std::string&) override {}
  void ShowInformation(const std::string&) override {}
  void SetConverting(bool) override {}
  void SetProgressRange(int, int) override {}
  void SetProgressStep(int) override {}
  void SetProgressPosition(int) override {}
  int ProgressPosition() const override { return 0; }
  void StepProgress() override {}
  void ProcessPendingEvents() override {}
};

// Times the two areas of a journal folder.
class TTimedConverter : public TConverter {
 public:
  using TConverter::TConverter;
  double PayrollSeconds = 0, LedgerSeconds = 0;
  int32_t ConvertPayroll() override {
    return Timed(PayrollSeconds, [&] { return TConverter::ConvertPayroll(); });
  }
  int32_t ConvertLedger() override {
    return Timed(LedgerSeconds, [&] { return TConverter::ConvertLedger(); });
  }

 private:
  template <typename F>
  int32_t Timed(double& Into, F Body) {
    const auto Start = std::chrono::steady_clock::now();
    const int32_t R = Body();
    Into += std::chrono::duration<double>(std::chrono::steady_clock::now() - Start).count();
    return R;
  }
};

int64_t CountRecords(const std::string& Dir, std::initializer_list<const char*> Tables) {
  int64_t N = 0;
  for (const char* T : Tables) {
    TParadoxTable P;
    P.SetDatabaseName(Dir);
    P.SetTableName(T);
    P.Open();
    N += P.RecordCount();
    P.Close();
  }
  return N;
}

struct TSample {
  std::string Template;  // generated once per scale
  int64_t PayrollRows = 0, LedgerRows = 0;
};

const TSample& SampleFor(int Scale) {
  static TSample Samples[3];
  TSample& S = Samples[Scale];
  if (!S.Template.empty()) return S;
  S.Template = (std::filesystem::temp_directory_path() /
                ("vlt_convert_bench_" + std::to_string(getpid()) + "_" + std::to_string(Scale)))
                   .string();
  std::filesystem::remove_all(S.Template);
  // Generated and counted in a child process, so that this process stays small and the
  // converting children it forks measure only their own memory.
  int Pipe[2];
  if (::pipe(Pipe) != 0) std::abort();
  const pid_t Child = ::fork();
  if (Child == 0) {
    ::close(Pipe[0]);
    vlt::tools::TBackupGenOptions O;
    O.Employees = 150 * Scale;
    O.Periods = 52;
    O.Transactions = 100000 * Scale;
    O.Payees = 2000 * Scale;
    vlt::tools::GenerateBackups(S.Template, O);
    for (const char* Other : {"2012cont.bkp", "2ChkSc.bkp", "2Loans.bkp"})
      std::filesystem::remove_all(S.Template + "/" + Other);
    const std::string J = S.Template + "/2012jrnl.bkp";
    const int64_t Counts[2] = {
        CountRecords(J, {"DEDTEX.DB", "DEDUCTS.DB", "EMPDATA.DB", "EMPDEDS.DB", "EMPWITHS.DB",
                         "PAYDD.DB", "PAYROLL.DB", "PAYTAX.DB", "TAXACCTS.DB"}),
        CountRecords(J, {"BANKINFO.DB", "BANKFILE.DB", "EXPCATS.DB", "EXPGRPS.DB", "EXPACCT.DB",
                         "INTCATS.DB", "INTACCT.DB", "FYINFO.DB", "PAYEES.DB", "TRANFILE.DB",
                         "Alloc.db", "report.db"})};
    ::_exit(::write(Pipe[1], Counts, sizeof Counts) == sizeof Counts ? 0 : 1);
  }
  ::close(Pipe[1]);
  int64_t Counts[2] = {0, 0};
  if (::read(Pipe[0], Counts, sizeof Counts) != sizeof Counts) std::abort();
  ::close(Pipe[0]);
  ::waitpid(Child, nullptr, 0);
  S.PayrollRows = Counts[0];
  S.LedgerRows = Counts[1];
  return S;
}

void BM_ConvertJournal(benchmark::State& State) {
  const int Scale = static_cast<int>(State.range(0));
  const TSample& S = SampleFor(Scale);
  const std::string Work = S.Template + "_run";
  double Payroll = 0, Ledger = 0, PeakMB = 0;
  for (auto _ : State) {
    State.PauseTiming();
    std::filesystem::remove_all(Work);
    std::filesystem::copy(S.Template, Work, std::filesystem::copy_options::recursive);
    int Pipe[2];
    if (::pipe(Pipe) != 0) std::abort();
    State.ResumeTiming();
    const pid_t Child = ::fork();
    if (Child == 0) {
      ::close(Pipe[0]);
      TQuietUI UI;
      TTimedConverter C(UI);
      C.FormCreate();
      const TRunOutcome Outcome = C.ConvertData(Work);
      const double Times[2] = {C.PayrollSeconds, C.LedgerSeconds};
      if (::write(Pipe[1], Times, sizeof Times) != sizeof Times) ::_exit(2);
      ::_exit(Outcome == TRunOutcome::Complete ? 0 : 1);
    }
    ::close(Pipe[1]);
    double Times[2] = {0, 0};
    const bool Read = ::read(Pipe[0], Times, sizeof Times) == sizeof Times;
    ::close(Pipe[0]);
    int Status = 0;
    rusage Usage{};
    ::wait4(Child, &Status, 0, &Usage);
    State.PauseTiming();
    if (!Read || !WIFEXITED(Status) || WEXITSTATUS(Status) != 0) {
      State.SkipWithError("the conversion did not complete");
      break;
    }
    Payroll += Times[0];
    Ledger += Times[1];
    PeakMB = std::max(PeakMB, Usage.ru_maxrss / 1024.0);
    State.ResumeTiming();
  }
  std::filesystem::remove_all(Work);
  const double N = static_cast<double>(State.iterations());
  if (N > 0 && Payroll > 0 && Ledger > 0) {
    State.counters["payroll_rows_per_s"] = S.PayrollRows * N / Payroll;
    State.counters["ledger_rows_per_s"] = S.LedgerRows * N / Ledger;
    State.counters["payroll_rows"] = static_cast<double>(S.PayrollRows);
    State.counters["ledger_rows"] = static_cast<double>(S.LedgerRows);
  }
  State.counters["peak_rss_MB"] = PeakMB;
}
BENCHMARK(BM_ConvertJournal)
    ->Arg(1)
    ->Arg(2)
    ->Unit(benchmark::kSecond)
    ->Iterations(2)
    ->UseRealTime();

}  // namespace
