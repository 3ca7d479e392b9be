// Whole conversions of large backups. Each iteration converts a fresh copy in a child process,
// so that its peak memory can be read on its own.
//
// BM_ConvertJournal: payroll and ledger of a journal backup (150 employees x 52 pay periods,
// 100,000 transactions, 2,000 payees; Arg(2) doubles every count). Counters payroll_rows_per_s
// and ledger_rows_per_s (source records over each area's wall time), peak_rss_MB.
// BM_ConvertContributions: 8,000 contributors, 200,000 gifts, 40 services and 20 funds; Arg(1)
// has a quarter of the services and funds share numbers, Arg(0) none, so that the cost of the
// renumbering shows. Counters gifts_per_s and peak_rss_MB.
// Every run verifies what it wrote (the default): convert_s and verify_s are the seconds of
// both per run, verify_share_pct what the verification adds to the conversion.
// BM_ConvertVsPipeline: the conversion set against what a user would do instead, in the same
// run and on the same files: export every table of the backup folder with the project's Paradox
// reader and import it into SQLite (tables with the same primary keys, WITHOUT ROWID, page 4096,
// synchronous off, one transaction), in a child process. Arg(0) the journal above, Arg(1) the
// contributions year (200,000 gifts). Counters convert_s and verify_s (the conversion with its
// verification), pipeline_s, pipeline_ratio (pipeline_s / convert_s: 1.0 means as fast as the
// pipeline), verify_share_pct, peak_rss_MB and pipeline_peak_rss_MB.
// BM_SqliteJournalPeer: the peer. The same journal's payroll and ledger source rows loaded into
// SQLite (tables with the same primary keys, WITHOUT ROWID, the areas' page sizes, 4096 rows
// per transaction, no encryption), read from the same Paradox reader, in a child process.
#include <benchmark/benchmark.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "app/conversion/Conversion.h"
#include "app/conversion/FileUtil.h"
#include "app/conversion/TableCopy.h"
#include "app/conversion/TargetCatalogue.h"
#include "app/conversion/Verification.h"
#include "app/paradox/ParadoxTable.h"
#include "app/paradox/ParadoxValue.h"
#include "tools/BackupGenerator.h"

#if VLT_BENCH_SQLITE
#include <sqlite3.h>
#endif

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
  double PayrollSeconds = 0, LedgerSeconds = 0, ContributionsSeconds = 0;
  int32_t ConvertPayroll() override {
    return Timed(PayrollSeconds, [&] { return TConverter::ConvertPayroll(); });
  }
  int32_t ConvertLedger() override {
    return Timed(LedgerSeconds, [&] { return TConverter::ConvertLedger(); });
  }

 protected:
  bool ConvertContributions() override {
    return Timed(ContributionsSeconds,
                 [&] { return TConverter::ConvertContributions() ? 1 : 0; }) != 0;
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

// Generates a backup folder set in a child process, so that this process stays small and the
// converting children it forks measure only their own memory. Keep names the one folder kept;
// Count gives the source record counts reported back.
std::string Generate(const std::string& Name, const vlt::tools::TBackupGenOptions& O,
                     const char* Keep,
                     const std::function<std::vector<int64_t>(const std::string&)>& Count,
                     std::vector<int64_t>& Counts) {
  const std::string Dir = (std::filesystem::temp_directory_path() /
                           ("vlt_convert_bench_" + std::to_string(getpid()) + "_" + Name))
                              .string();
  std::filesystem::remove_all(Dir);
  int Pipe[2];
  if (::pipe(Pipe) != 0) std::abort();
  const pid_t Child = ::fork();
  if (Child == 0) {
    ::close(Pipe[0]);
    vlt::tools::GenerateBackups(Dir, O);
    for (const auto& E : std::filesystem::directory_iterator(Dir))
      if (E.path().filename() != Keep) std::filesystem::remove_all(E.path());
    const std::vector<int64_t> C = Count(Dir + "/" + Keep);
    const auto Size = static_cast<ssize_t>(C.size() * sizeof(int64_t));
    ::_exit(::write(Pipe[1], C.data(), static_cast<size_t>(Size)) == Size ? 0 : 1);
  }
  ::close(Pipe[1]);
  int64_t Buf[8] = {};
  const ssize_t Got = ::read(Pipe[0], Buf, sizeof Buf);
  ::close(Pipe[0]);
  ::waitpid(Child, nullptr, 0);
  if (Got <= 0) std::abort();
  Counts.assign(Buf, Buf + Got / static_cast<ssize_t>(sizeof(int64_t)));
  return Dir;
}

struct TRunFigures {
  double Payroll = 0, Ledger = 0, Contributions = 0;  // seconds per area, summed
  double Convert = 0, Verify = 0;  // of all areas: converting, and verifying afterwards
  double PeakMB = 0;
};

// Converts a fresh copy of Template in a child process; false when it did not complete.
bool ConvertCopy(benchmark::State& State, const std::string& Template, TRunFigures& Into) {
  const std::string Work = Template + "_run";
  std::filesystem::remove_all(Work);
  std::filesystem::copy(Template, Work, std::filesystem::copy_options::recursive);
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
    double Convert = 0, Verify = 0;
    for (const TAreaCheck& A : C.Report().Areas) {
      Convert += std::max(A.ConvertSeconds, 0.0);
      Verify += A.VerifySeconds;
    }
    const double Times[5] = {C.PayrollSeconds, C.LedgerSeconds, C.ContributionsSeconds, Convert,
                             Verify};
    if (::write(Pipe[1], Times, sizeof Times) != sizeof Times) ::_exit(2);
    ::_exit(Outcome == TRunOutcome::Complete ? 0 : 1);
  }
  ::close(Pipe[1]);
  double Times[5] = {0, 0, 0, 0, 0};
  const bool Read = ::read(Pipe[0], Times, sizeof Times) == sizeof Times;
  ::close(Pipe[0]);
  int Status = 0;
  rusage Usage{};
  ::wait4(Child, &Status, 0, &Usage);
  State.PauseTiming();
  std::filesystem::remove_all(Work);
  if (!Read || !WIFEXITED(Status) || WEXITSTATUS(Status) != 0) return false;
  Into.Payroll += Times[0];
  Into.Ledger += Times[1];
  Into.Contributions += Times[2];
  Into.Convert += Times[3];
  Into.Verify += Times[4];
  Into.PeakMB = std::max(Into.PeakMB, Usage.ru_maxrss / 1024.0);
  return true;
}

void RunIterations(benchmark::State& State, const std::string& Template, TRunFigures& F) {
  for (auto _ : State) {
    State.PauseTiming();
    if (!ConvertCopy(State, Template, F)) {
      State.SkipWithError("the conversion did not complete");
      break;
    }
    State.ResumeTiming();
  }
  State.counters["peak_rss_MB"] = F.PeakMB;
  const double N = static_cast<double>(State.iterations());
  if (N > 0 && F.Convert > 0) {
    State.counters["convert_s"] = F.Convert / N;
    State.counters["verify_s"] = F.Verify / N;
    State.counters["verify_share_pct"] = 100.0 * F.Verify / F.Convert;
  }
}

void BM_ConvertJournal(benchmark::State& State) {
  const int Scale = static_cast<int>(State.range(0));
  vlt::tools::TBackupGenOptions O;
  O.Employees = 150 * Scale;
  O.Periods = 52;
  O.Transactions = 100000 * Scale;
  O.Payees = 2000 * Scale;
  std::vector<int64_t> Rows;
  const std::string Template = Generate(
      "journal" + std::to_string(Scale), O, "2012jrnl.bkp",
      [](const std::string& J) {
        return std::vector<int64_t>{
            CountRecords(J, {"DEDTEX.DB", "DEDUCTS.DB", "EMPDATA.DB", "EMPDEDS.DB", "EMPWITHS.DB",
                             "PAYDD.DB", "PAYROLL.DB", "PAYTAX.DB", "TAXACCTS.DB"}),
            CountRecords(J, {"BANKINFO.DB", "BANKFILE.DB", "EXPCATS.DB", "EXPGRPS.DB", "EXPACCT.DB",
                             "INTCATS.DB", "INTACCT.DB", "FYINFO.DB", "PAYEES.DB", "TRANFILE.DB",
                             "Alloc.db", "report.db"})};
      },
      Rows);
  TRunFigures F;
  RunIterations(State, Template, F);
  std::filesystem::remove_all(Template);
  const double N = static_cast<double>(State.iterations());
  if (N > 0 && F.Payroll > 0 && F.Ledger > 0) {
    State.counters["payroll_rows_per_s"] = static_cast<double>(Rows[0]) * N / F.Payroll;
    State.counters["ledger_rows_per_s"] = static_cast<double>(Rows[1]) * N / F.Ledger;
    State.counters["payroll_rows"] = static_cast<double>(Rows[0]);
    State.counters["ledger_rows"] = static_cast<double>(Rows[1]);
  }
}
BENCHMARK(BM_ConvertJournal)
    ->Arg(1)
    ->Arg(2)
    ->Unit(benchmark::kSecond)
    ->Iterations(2)
    ->UseRealTime();

void BM_ConvertContributions(benchmark::State& State) {
  vlt::tools::TBackupGenOptions O;
  O.Contributors = 8000;
  O.Gifts = 200000;
  O.Services = 40;
  O.Funds = 20;
  O.SharedNumbers = State.range(0) != 0;
  std::vector<int64_t> Gifts;
  const std::string Template = Generate(
      "cont" + std::to_string(State.range(0)), O, "2012cont.bkp",
      [](const std::string& C) { return std::vector<int64_t>{CountRecords(C, {"contfile.db"})}; },
      Gifts);
  TRunFigures F;
  RunIterations(State, Template, F);
  std::filesystem::remove_all(Template);
  const double N = static_cast<double>(State.iterations());
  if (N > 0 && F.Contributions > 0) {
    State.counters["gifts_per_s"] = static_cast<double>(Gifts[0]) * N / F.Contributions;
    State.counters["gifts"] = static_cast<double>(Gifts[0]);
  }
}
BENCHMARK(BM_ConvertContributions)
    ->Arg(0)
    ->Arg(1)
    ->Unit(benchmark::kSecond)
    ->Iterations(2)
    ->UseRealTime();

#if VLT_BENCH_SQLITE
// Loads Area's source rows from Folder into a new SQLite database File; returns the rows loaded.
int64_t LoadIntoSqlite(TArea Area, const std::string& Folder, const std::string& File) {
  sqlite3* Db = nullptr;
  if (sqlite3_open(File.c_str(), &Db) != SQLITE_OK) std::abort();
  const std::string PageSize = std::to_string(TargetDatabase(Area).PageSize);
  sqlite3_exec(Db, ("PRAGMA page_size=" + PageSize).c_str(), nullptr, nullptr, nullptr);
  int64_t Rows = 0;
  for (const TCopyPair& Pair : CopyPairsOf(Area)) {
    const TTargetTable& T = TargetDatabase(Area).Table(Pair.TargetTable);
    const std::vector<TTargetField> Fields = T.Fields();
    std::string Create = "CREATE TABLE \"" + std::string(T.Name) + "\" (",
                Insert = "INSERT OR IGNORE INTO \"" + std::string(T.Name) + "\" VALUES (";
    for (size_t I = 0; I < Fields.size(); ++I) {
      const bool Text =
          Fields[I].Type == TTargetType::String || Fields[I].Type == TTargetType::Memo;
      const bool Real =
          Fields[I].Type == TTargetType::Double || Fields[I].Type == TTargetType::Currency;
      Create += (I ? ", \"" : "\"") + Fields[I].Name + "\" " +
                (Text   ? "TEXT"
                 : Real ? "REAL"
                        : "INTEGER");
      Insert += I ? ", ?" : "?";
    }
    bool Keyed = false;
    for (const TTargetIndex& X : T.Indexes)
      if (X.Options & 1) {
        std::string Key = X.Fields;
        for (char& C : Key)
          if (C == ';') C = ',';
        Create += ", PRIMARY KEY (" + Key + ")";
        Keyed = true;
      }
    Create += Keyed ? ") WITHOUT ROWID" : ")";
    if (sqlite3_exec(Db, Create.c_str(), nullptr, nullptr, nullptr) != SQLITE_OK) std::abort();
    sqlite3_stmt* Stmt = nullptr;
    sqlite3_prepare_v2(Db, (Insert + ")").c_str(), -1, &Stmt, nullptr);
    if (FindFileNoCase(Folder, Pair.SourceTable).empty()) continue;
    TParadoxTable S;
    S.SetDatabaseName(Folder);
    S.SetTableName(Pair.SourceTable);
    S.SetReadOnly(true);
    S.SetIndexFieldNames(Pair.IndexFieldNames);
    S.Open();
    std::vector<std::string> Names;
    for (const TTargetField& F : Fields) Names.push_back(F.Name);
    std::vector<TParadoxField*> From;
    for (const std::string& N : SourceFieldNames(Pair, Names)) From.push_back(&S.FieldByName(N));
    sqlite3_exec(Db, "BEGIN", nullptr, nullptr, nullptr);
    int InBatch = 0;
    for (S.First(); !S.Eof(); S.Next()) {
      if (From[0]->IsNull()) continue;
      for (size_t I = 0; I < From.size(); ++I) {
        const TParadoxValue V = From[I]->AsVariant();
        const int P = static_cast<int>(I) + 1;
        switch (V.Kind) {
          case TParadoxValue::vkNull:
            sqlite3_bind_null(Stmt, P);
            break;
          case TParadoxValue::vkFloat:
          case TParadoxValue::vkCurrency:
          case TParadoxValue::vkDateTime:
            sqlite3_bind_double(Stmt, P, V.Float);
            break;
          case TParadoxValue::vkString:
          case TParadoxValue::vkBytes:
            sqlite3_bind_text(Stmt, P, V.Str.data(), static_cast<int>(V.Str.size()),
                              SQLITE_TRANSIENT);
            break;
          default:
            sqlite3_bind_int64(Stmt, P, V.Int);
            break;
        }
      }
      sqlite3_step(Stmt);
      sqlite3_reset(Stmt);
      ++Rows;
      if (++InBatch == 4096) {
        sqlite3_exec(Db, "COMMIT; BEGIN", nullptr, nullptr, nullptr);
        InBatch = 0;
      }
    }
    sqlite3_exec(Db, "COMMIT", nullptr, nullptr, nullptr);
    sqlite3_finalize(Stmt);
    S.Close();
  }
  sqlite3_close(Db);
  return Rows;
}

// Every table of Folder, read with the Paradox reader, into one new SQLite database File: the
// source's own fields and primary key, one transaction. Returns the rows loaded.
int64_t ExportImport(const std::string& Folder, const std::string& File) {
  sqlite3* Db = nullptr;
  if (sqlite3_open(File.c_str(), &Db) != SQLITE_OK) std::abort();
  sqlite3_exec(Db, "PRAGMA page_size=4096; PRAGMA synchronous=OFF; BEGIN", nullptr, nullptr,
               nullptr);
  int64_t Rows = 0;
  for (const auto& E : std::filesystem::directory_iterator(Folder)) {
    std::string Ext = E.path().extension().string();
    for (char& C : Ext) C = static_cast<char>(std::tolower(static_cast<unsigned char>(C)));
    if (!E.is_regular_file() || Ext != ".db") continue;
    TParadoxTable S;
    S.SetDatabaseName(Folder);
    S.SetTableName(E.path().filename().string());
    S.SetReadOnly(true);
    try {
      S.Open();
    } catch (const std::exception&) {
      continue;
    }
    const std::string Name = E.path().stem().string();
    std::string Create = "CREATE TABLE \"" + Name + "\" (",
                Insert = "INSERT OR IGNORE INTO \"" + Name + "\" VALUES (", Key;
    for (int I = 0; I < S.FieldCount(); ++I) {
      const TParadoxField& F = S.Fields(I);
      const TFieldType T = F.DataType();
      const char* Type = T == ftString || T == ftBytes ? "TEXT"
                         : T == ftFloat || T == ftCurrency || T == ftBCD || T == ftDate ||
                                 T == ftTime || T == ftDateTime
                             ? "REAL"
                             : "INTEGER";
      Create += (I ? ", \"" : "\"") + F.FieldName() + "\" " + Type;
      Insert += I ? ", ?" : "?";
      if (I < S.Header().KeyFields) Key += (I ? ", \"" : "\"") + F.FieldName() + "\"";
    }
    Create += Key.empty() ? ")" : ", PRIMARY KEY (" + Key + ")) WITHOUT ROWID";
    if (sqlite3_exec(Db, Create.c_str(), nullptr, nullptr, nullptr) != SQLITE_OK) std::abort();
    sqlite3_stmt* Stmt = nullptr;
    sqlite3_prepare_v2(Db, (Insert + ")").c_str(), -1, &Stmt, nullptr);
    for (S.First(); !S.Eof(); S.Next()) {
      for (int I = 0; I < S.FieldCount(); ++I) {
        const TParadoxValue V = S.Fields(I).AsVariant();
        switch (V.Kind) {
          case TParadoxValue::vkNull:
            sqlite3_bind_null(Stmt, I + 1);
            break;
          case TParadoxValue::vkFloat:
          case TParadoxValue::vkCurrency:
          case TParadoxValue::vkDateTime:
            sqlite3_bind_double(Stmt, I + 1, V.Float);
            break;
          case TParadoxValue::vkString:
          case TParadoxValue::vkBytes:
            sqlite3_bind_text(Stmt, I + 1, V.Str.data(), static_cast<int>(V.Str.size()),
                              SQLITE_TRANSIENT);
            break;
          default:
            sqlite3_bind_int64(Stmt, I + 1, V.Int);
            break;
        }
      }
      sqlite3_step(Stmt);
      sqlite3_reset(Stmt);
      ++Rows;
    }
    sqlite3_finalize(Stmt);
    S.Close();
  }
  sqlite3_exec(Db, "COMMIT", nullptr, nullptr, nullptr);
  sqlite3_close(Db);
  return Rows;
}

// Runs the export and import of Folder into File in a child process: its wall seconds, and its
// peak memory into PeakMB.
double TimedExportImport(const std::string& Folder, const std::string& File, double& PeakMB) {
  std::filesystem::remove(File);
  const auto Start = std::chrono::steady_clock::now();
  const pid_t Child = ::fork();
  if (Child == 0) ::_exit(ExportImport(Folder, File) > 0 ? 0 : 1);
  rusage Usage{};
  int Status = 0;
  ::wait4(Child, &Status, 0, &Usage);
  const double Seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - Start).count();
  if (!WIFEXITED(Status) || WEXITSTATUS(Status) != 0) std::abort();
  PeakMB = std::max(PeakMB, Usage.ru_maxrss / 1024.0);
  std::filesystem::remove(File);
  return Seconds;
}

void BM_ConvertVsPipeline(benchmark::State& State) {
  const bool Contributions = State.range(0) != 0;
  vlt::tools::TBackupGenOptions O;
  if (Contributions) {
    O.Contributors = 8000;
    O.Gifts = 200000;
    O.Services = 40;
    O.Funds = 20;
  } else {
    O.Employees = 150;
    O.Periods = 52;
    O.Transactions = 100000;
    O.Payees = 2000;
  }
  const char* Keep = Contributions ? "2012cont.bkp" : "2012jrnl.bkp";
  std::vector<int64_t> Unused;
  const std::string Template = Generate(
      Contributions ? "pipe_cont" : "pipe_jrnl", O, Keep,
      [](const std::string&) { return std::vector<int64_t>{0}; }, Unused);
  TRunFigures F;
  double Pipeline = 0, PipelinePeakMB = 0;
  for (auto _ : State) {
    State.PauseTiming();
    if (!ConvertCopy(State, Template, F)) {
      State.SkipWithError("the conversion did not complete");
      break;
    }
    Pipeline +=
        TimedExportImport(Template + "/" + Keep, Template + "/pipeline.sqlite", PipelinePeakMB);
    State.ResumeTiming();
  }
  std::filesystem::remove_all(Template);
  const double N = static_cast<double>(State.iterations());
  if (N > 0 && F.Convert > 0) {
    State.counters["convert_s"] = F.Convert / N;
    State.counters["verify_s"] = F.Verify / N;
    State.counters["verify_share_pct"] = 100.0 * F.Verify / F.Convert;
    State.counters["pipeline_s"] = Pipeline / N;
    State.counters["pipeline_ratio"] = Pipeline / F.Convert;
    State.counters["peak_rss_MB"] = F.PeakMB;
    State.counters["pipeline_peak_rss_MB"] = PipelinePeakMB;
  }
}
BENCHMARK(BM_ConvertVsPipeline)
    ->Arg(0)
    ->Arg(1)
    ->Unit(benchmark::kSecond)
    ->Iterations(2)
    ->UseRealTime();

void BM_SqliteJournalPeer(benchmark::State& State) {
  vlt::tools::TBackupGenOptions O;
  O.Employees = 150;
  O.Periods = 52;
  O.Transactions = 100000;
  O.Payees = 2000;
  std::vector<int64_t> Unused;
  const std::string Template = Generate(
      "peer", O, "2012jrnl.bkp", [](const std::string&) { return std::vector<int64_t>{0}; },
      Unused);
  const std::string J = Template + "/2012jrnl.bkp";
  double PeakMB = 0;
  int64_t Rows = 0;
  for (auto _ : State) {
    State.PauseTiming();
    std::filesystem::remove(Template + "/payroll.sqlite");
    std::filesystem::remove(Template + "/ledger.sqlite");
    int Pipe[2];
    if (::pipe(Pipe) != 0) std::abort();
    State.ResumeTiming();
    const pid_t Child = ::fork();
    if (Child == 0) {
      ::close(Pipe[0]);
      const int64_t N = LoadIntoSqlite(TArea::Payroll, J, Template + "/payroll.sqlite") +
                        LoadIntoSqlite(TArea::Ledger, J, Template + "/ledger.sqlite");
      ::_exit(::write(Pipe[1], &N, sizeof N) == sizeof N ? 0 : 1);
    }
    ::close(Pipe[1]);
    if (::read(Pipe[0], &Rows, sizeof Rows) != sizeof Rows) std::abort();
    ::close(Pipe[0]);
    rusage Usage{};
    int Status = 0;
    ::wait4(Child, &Status, 0, &Usage);
    PeakMB = std::max(PeakMB, Usage.ru_maxrss / 1024.0);
  }
  std::filesystem::remove_all(Template);
  State.counters["rows"] = static_cast<double>(Rows);
  State.counters["rows_per_s"] =
      benchmark::Counter(static_cast<double>(Rows), benchmark::Counter::kIsIterationInvariantRate);
  State.counters["peak_rss_MB"] = PeakMB;
}
BENCHMARK(BM_SqliteJournalPeer)->Unit(benchmark::kSecond)->Iterations(2)->UseRealTime();
#endif

}  // namespace
