// The four table-copy areas: payroll, check schedule, loans and ledger. Each checks that the
// backup folder is its business, then runs the shared skeleton (RunCopyArea) with its own body:
// create the database and tables, copy the source pairs, close and compact.
#include <algorithm>
#include <exception>

#include "app/conversion/Conversion.h"
#include "app/conversion/ConvertUtil.h"
#include "app/conversion/FileUtil.h"
#include "app/conversion/Interruption.h"
#include "app/conversion/TableCopy.h"
#include "app/conversion/TargetComponents.h"

namespace vlt::app {

namespace {

// clang-format off
const std::vector<TCopyPair> kPayrollPairs = {
  {"dexold", "DEDTEX.DB", "DedTEx", "DNum;TNum"},
  {"dold", "DEDUCTS.DB", "Deducts", "DName;Num;BAmt;BPct;AAmt;APct"},
  {"eold", "EMPDATA.DB", "EmpData"},
  {"edold", "EMPDEDS.DB", "EmpDeds"},
  {"ewold", "EMPWITHS.DB", "EmpWiths"},
  {"ddold", "PAYDD.DB", "PayDD"},
  {"prold", "PAYROLL.DB", "Payroll"},
  {"twold", "PAYTAX.DB", "PayTax"},
  {"taold", "TAXACCTS.DB", "TaxAccts"},
};

const TCopyPair kSchedulePair = {"cstbl0", "chksc.db", "Schedule", "t;d;n;num;a;fn;pn;bn;f;p;b", "",
                                 TCopyRule::CheckSchedule};
const TCopyPair kLoanPair = {"ltbl0", "LOAN.DB", "Loan", "LNum;LYr;LName;SDate;EDate;SBal;FDate;i;P;CType", "",
                             TCopyRule::Loans};

const std::vector<TCopyPair> kLedgerPairs = {
  {"biold", "BANKINFO.DB", "BankInfo", "Pos;Name;Num;BBal;ANum1;ANum2"},
  {"bkold", "BANKFILE.DB", "BankFile", "AcctNum;BDate;TransType;TransNum;Amount;Reconciled;Payroll;Payee"},
  {"ecold", "EXPCATS.DB", "ExpCats", "Pos;Name;Num"},
  {"egold", "EXPGRPS.DB", "ExpGrps", "Cat;Pos;Name;Num"},
  {"eaold", "EXPACCT.DB", "ExpAcct", "Cat;Group;Pos;Name;Num;Budget"},
  {"icold", "INTCATS.DB", "IntCats", "Pos;Name;Num"},
  {"iaold", "INTACCT.DB", "IntAcct", "Cat;Pos;Name;Num;BBal"},
  {"fyold", "FYINFO.DB", "FYInfo", "Fystart;Fyend"},
  {"pyold", "PAYEES.DB", "Payees", "Name;Num;Addr1;Addr2;City;State;Zip;Country;Phone;ANum"},
  {"trold", "TRANFILE.DB", "TranFile",
   "TransDate;BankAccountNum;TransType;TransNum;ExpAccountNum;IntAccountNum;Num;ExpCredit;Amount;Comment",
   "TransDate;BankAccountNum;TransType;TransNum"},
};
const TCopyPair kAllocPair = {"alold", "Alloc.db", "Alloc", "n;t1;t2;t3;name"};
const TCopyPair kReportPair = {"arold", "report.db", "Report", "R;T;C;Name;Code;Num;O"};
// clang-format on

constexpr const char* kClosingComplete = "Conversion Complete";
constexpr const char* kClosingLedger = "Conversion Process Finished";

bool HasFile(const std::string& Dir, std::string_view Name) {
  return !FindFileNoCase(Dir, Name).empty();
}

bool HasAll(const std::string& Dir, const std::vector<const char*>& Names) {
  return std::all_of(Names.begin(), Names.end(),
                     [&](const char* Name) { return HasFile(Dir, Name); });
}

}  // namespace

const TAreaSources& AreaSourcesOf(TArea Area) {
  static const TAreaSources kSources[] = {
      {{"contfile.db", "contname.db", "servs.db", "funds.db"}, {}},
      {{"DedTex.db", "Deducts.db", "EmpData.db", "EmpDeds.db", "EmpWiths.db", "PayDD.db",
        "Payroll.db", "PayTax.db", "TaxAccts.db"},
       {}},
      {{"chksc.db"}, {}},
      {{"loan.db"}, {}},
      {{"bankfile.db", "bankinfo.db", "expcats.db", "expgrps.db", "expacct.db", "fyinfo.db",
        "intcats.db", "intacct.db", "payees.db", "tranfile.db"},
       {"alloc.db", "report.db"}},
  };
  return kSources[static_cast<size_t>(Area)];
}

std::vector<TCopyPair> CopyPairsOf(TArea Area) {
  switch (Area) {
    case TArea::Payroll:
      return kPayrollPairs;
    case TArea::ChkSch:
      return {kSchedulePair};
    case TArea::Loans:
      return {kLoanPair};
    case TArea::Ledger: {
      std::vector<TCopyPair> All = kLedgerPairs;
      All.push_back(kAllocPair);
      All.push_back(kReportPair);
      return All;
    }
    case TArea::Contributions:
      break;
  }
  return {};
}

int32_t TConverter::RunCopyArea(TArea Area, const std::string& TargetFile,
                                const std::string& LogFile, int Step, const char* ClosingLine,
                                const std::function<int32_t()>& Body,
                                const std::function<void()>& BeforeLog) {
  // The database is built under a temporary name and takes the target's name only when complete.
  const std::string Partial = PartialNameOf(JoinPath(FBackupDir, TargetFile));
  TakeRecoveryNotes(Area);
  if (FileExists(Partial)) {
    // Another process is building this area now (the recovery kept its file): leave it be.
    WriteLog(LogFile);
    FLog.clear();
    return 0;
  }

  FUI.SetProgressRange(0, 100);
  FUI.SetProgressStep(Step);
  Targets().PrepareDatabase(Area, Partial);
  int32_t Result = 0;
  bool Cancelled = false;
  try {
    Result = Body();
  } catch (const TConversionCancelled&) {
    Cancelled = true;
  } catch (const std::exception& E) {
    AddLog(E.what());
  } catch (...) {
    AddLog("Unknown error");
  }
  if (Result == 0) {
    // The area did not finish: its temporary database (and compaction copy) goes.
    Targets().CloseQuietly(Area);
    DiscardPartial(Partial);
  }
  if (Cancelled) {
    AddLog(kLogCancelled);
    WriteLog(LogFile);
    FLog.clear();
    throw TConversionCancelled();
  }
  AddLog(ClosingLine);
  if (BeforeLog) BeforeLog();
  WriteLog(LogFile);
  FLog.clear();
  return Result;
}

void TConverter::CopyPairs(TArea Area, const std::vector<TCopyPair>& Pairs,
                           bool EventsBetweenTables) {
  TCopyProgress Progress;
  Progress.Boundary = [this] { CheckCancelled(); };
  for (const TCopyPair& Pair : Pairs) {
    if (CopyRecords(Targets().Table(Area, Pair.TargetTable), Pair, FBackupDir, FLog, Progress))
      FUI.StepProgress();
    if (EventsBetweenTables) FUI.ProcessPendingEvents();
  }
}

void TConverter::CopyWithRecordProgress(TArea Area, const TCopyPair& Pair) {
  int32_t Every = 1, Count = 0;
  TCopyProgress Progress;
  Progress.Started = [&](int32_t N) {
    if (N <= 0) {
      Every = 0;  // an empty source leaves the bar alone
      return;
    }
    int32_t StepSize = 90 / N;
    Every = 1;
    if (StepSize == 0) {
      StepSize = 1;
      Every = N / 100;
    }
    FUI.SetProgressStep(StepSize);
  };
  Progress.Record = [&] {
    ++Count;
    if (Every <= 1 || Count % Every == 0) FUI.StepProgress();
  };
  Progress.Boundary = [this] { CheckCancelled(); };
  if (!CopyRecords(Targets().Table(Area, Pair.TargetTable), Pair, FBackupDir, FLog, Progress)) {
    // Counting the records of a table that never opened fails, which ends the area.
    throw EParadoxError(std::string(Pair.Component) +
                        ": Cannot perform this operation on a closed dataset");
  }
}

void TConverter::CloseAndCompact(TArea Area) {
  Targets().CloseQuietly(Area);
  TVLTDatabase& Db = Targets().Database(Area);
  Db.Close();
  Db.CompactDatabase();
  // A stop request during the compaction still discards the area.
  CheckCancelled();
  const std::string Partial = Db.DatabaseFileName();
  PublishDatabase(Partial, Partial.substr(0, Partial.size() - std::string(kPartialSuffix).size()));
}

void TConverter::MakeEmptyPayroll(const std::string& TargetFile) {
  const std::string Target = JoinPath(FBackupDir, TargetFile);
  const std::string Partial = PartialNameOf(Target);
  FRecoveryNotes.erase({FBackupDir, TArea::Payroll});  // the report keeps them
  if (FileExists(Partial)) return;                     // being made by another process
  Targets().PrepareDatabase(TArea::Payroll, Partial);
  try {
    Targets().CreateDatabaseAndTables(TArea::Payroll);
    Targets().CloseQuietly(TArea::Payroll);
    Targets().Database(TArea::Payroll).Close();
    PublishDatabase(Partial, Target);
  } catch (...) {
    // Nothing is logged for the empty database; a half-made one is not left behind.
    Targets().CloseQuietly(TArea::Payroll);
    DiscardPartial(Partial);
  }
}

int32_t TConverter::ConvertPayroll() {
  const TAreaInfo& A = AreaInfo(TArea::Payroll);
  if (!IsAreaFolder(A.Area, FBackupDir) || FileExists(JoinPath(FBackupDir, A.TargetFile))) return 0;
  if (!HasAll(FBackupDir, AreaSourcesOf(TArea::Payroll).Required)) {
    MakeEmptyPayroll(A.TargetFile);
    return 0;
  }
  return RunCopyArea(TArea::Payroll, A.TargetFile, A.LogFile, 5, kClosingComplete, [&] {
    FUI.SetProgressPosition(0);
    AddLog("Convert " + FBackupDir);
    Targets().CreateDatabaseAndTables(TArea::Payroll);
    FUI.StepProgress();
    CopyPairs(TArea::Payroll, kPayrollPairs, false);
    CloseAndCompact(TArea::Payroll);
    // Extra work: the pay-data file goes along into the ledger's folder. Its failure is logged
    // but the database stands.
    const std::string PayDir = FindDirNoCase(FBackupDir, "payroll.dir");
    const std::string From = PayDir.empty() ? std::string() : FindFileNoCase(PayDir, "pdfile.txt");
    if (!From.empty()) {
      try {
        std::string LedgerDir = FindDirNoCase(FBackupDir, "mstrldgr.dir");
        if (LedgerDir.empty()) LedgerDir = JoinPath(FBackupDir, "mstrldgr.dir");
        std::string To = FindFileNoCase(LedgerDir, "pdfile.txt");
        if (To.empty()) To = JoinPath(LedgerDir, "pdfile.txt");
        CopyFileReplacing(From, To);
      } catch (const std::exception& E) {
        AddLog(E.what());
      }
    }
    return 1;
  });
}

int32_t TConverter::ConvertChkSch() {
  const TAreaInfo& A = AreaInfo(TArea::ChkSch);
  if (!IsAreaFolder(A.Area, FBackupDir) || FileExists(JoinPath(FBackupDir, A.TargetFile))) return 0;
  if (!HasAll(FBackupDir, AreaSourcesOf(TArea::ChkSch).Required)) return 0;
  return RunCopyArea(TArea::ChkSch, A.TargetFile, A.LogFile, 5, kClosingComplete, [&] {
    FUI.SetProgressPosition(0);
    AddLog("Convert: " + FBackupDir);
    Targets().CreateDatabaseAndTables(TArea::ChkSch);
    FUI.StepProgress();
    CopyWithRecordProgress(TArea::ChkSch, kSchedulePair);
    CloseAndCompact(TArea::ChkSch);
    FUI.SetProgressPosition(100);
    return 1;
  });
}

int32_t TConverter::ConvertLoans() {
  const TAreaInfo& A = AreaInfo(TArea::Loans);
  if (!IsAreaFolder(A.Area, FBackupDir) || FileExists(JoinPath(FBackupDir, A.TargetFile))) return 0;
  if (!HasAll(FBackupDir, AreaSourcesOf(TArea::Loans).Required)) return 0;
  return RunCopyArea(TArea::Loans, A.TargetFile, A.LogFile, 5, kClosingComplete, [&] {
    FUI.SetProgressPosition(0);
    AddLog("Convert " + FBackupDir);
    Targets().CreateDatabaseAndTables(TArea::Loans);
    FUI.StepProgress();
    CopyWithRecordProgress(TArea::Loans, kLoanPair);
    CloseAndCompact(TArea::Loans);
    FUI.SetProgressPosition(100);
    return 1;
  });
}

int32_t TConverter::ConvertLedger() {
  if (!IsAreaFolder(TArea::Ledger, FBackupDir)) return 0;
  const int32_t Year = BackupYear(FBackupDir);
  const std::string TargetFile = LedgerTargetFile(Year);
  if (FileExists(JoinPath(FBackupDir, TargetFile)) ||
      !HasAll(FBackupDir, AreaSourcesOf(TArea::Ledger).Required))
    return 0;

  FUI.ProcessPendingEvents();
  const int32_t Result = RunCopyArea(
      TArea::Ledger, TargetFile, LedgerLogFile(Year), 7, kClosingLedger,
      [&] {
        PrepareParadoxTables(FBackupDir, TPrepareMode::Ledger, FUI);
        {
          // The transactions must open in their reading order before anything is written.
          TParadoxTable Tran;
          Tran.SetDatabaseName(FBackupDir);
          Tran.SetTableName(kLedgerPairs.back().SourceTable);
          Tran.SetTableType(ttParadox);
          Tran.SetReadOnly(true);
          Tran.SetIndexFieldNames(kLedgerPairs.back().IndexFieldNames);
          Tran.Open();
          Tran.Close();
        }
        FUI.SetProgressPosition(0);
        AddLog("Convert " + std::to_string(Year));
        Targets().CreateDatabaseAndTables(TArea::Ledger, {"Alloc", "Report"});
        FUI.StepProgress();
        CopyPairs(TArea::Ledger, kLedgerPairs, true);
        if (HasFile(FBackupDir, "alloc.db")) {
          Targets().CreateTable(TArea::Ledger, "Alloc");
          CopyPairs(TArea::Ledger, {kAllocPair}, true);
        }
        Targets().CreateTable(TArea::Ledger, "Report");
        if (HasFile(FBackupDir, "report.db")) CopyPairs(TArea::Ledger, {kReportPair}, true);
        CloseAndCompact(TArea::Ledger);
        FUI.SetProgressPosition(100);
        return 1;
      },
      [&] {
        const std::string Flag = FindFileNoCase(FBackupDir, "backup.fl");
        if (!Flag.empty())
          RenameNoReplace(Flag, JoinPath(FBackupDir, "backup_" + std::to_string(Year) + ".fl"));
      });
  FUI.ProcessPendingEvents();
  return Result;
}

}  // namespace vlt::app
