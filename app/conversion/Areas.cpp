#include "app/conversion/Areas.h"

#include <exception>

#include "app/conversion/Conversion.h"
#include "app/conversion/FileUtil.h"

namespace vlt::app {

namespace {

// clang-format off
constexpr const char* kContributionsSources[] = {"contfile.db", "contname.db", "servs.db", "funds.db"};
constexpr const char* kPayrollSources[] = {"DedTex.db", "Deducts.db", "EmpData.db", "EmpDeds.db", "EmpWiths.db",
                                           "PayDD.db", "Payroll.db", "PayTax.db", "TaxAccts.db"};
constexpr const char* kScheduleSources[] = {"chksc.db"};
constexpr const char* kLoanSources[] = {"loan.db"};
constexpr const char* kLedgerSources[] = {"bankfile.db", "bankinfo.db", "expcats.db", "expgrps.db", "expacct.db",
                                          "fyinfo.db", "intcats.db", "intacct.db", "payees.db", "tranfile.db"};
constexpr const char* kLedgerOptionalSources[] = {"alloc.db", "report.db"};

constexpr TCopyPair kPayrollPairs[] = {
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

constexpr TCopyPair kSchedulePairs[] = {
  {"cstbl0", "chksc.db", "Schedule", "t;d;n;num;a;fn;pn;bn;f;p;b", "", TCopyRule::CheckSchedule},
};
constexpr TCopyPair kLoanPairs[] = {
  {"ltbl0", "LOAN.DB", "Loan", "LNum;LYr;LName;SDate;EDate;SBal;FDate;i;P;CType", "", TCopyRule::Loans},
};

constexpr TCopyPair kLedgerPairs[] = {
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
constexpr TOptionalPair kLedgerOptionalPairs[] = {
  {{"alold", "Alloc.db", "Alloc", "n;t1;t2;t3;name"}, false},
  {{"arold", "report.db", "Report", "R;T;C;Name;Code;Num;O"}, true},
};
// clang-format on

constexpr const char* kClosingComplete = "Conversion Complete";
constexpr const char* kClosingLedger = "Conversion Process Finished";

// The payroll's pay-data file goes along into the ledger's folder.
void CopyPayData(TAreaWork& Work) {
  const std::string PayDir = FindDirNoCase(Work.Folder, "payroll.dir");
  const std::string From = PayDir.empty() ? std::string() : FindFileNoCase(PayDir, "pdfile.txt");
  if (From.empty()) return;
  try {
    std::string LedgerDir = FindDirNoCase(Work.Folder, "mstrldgr.dir");
    if (LedgerDir.empty()) LedgerDir = JoinPath(Work.Folder, "mstrldgr.dir");
    std::string To = FindFileNoCase(LedgerDir, "pdfile.txt");
    if (To.empty()) To = JoinPath(LedgerDir, "pdfile.txt");
    CopyFileReplacing(From, To);
  } catch (const std::exception& E) {
    Work.Log.push_back(E.what());
  }
}

// The ledger's backup flag takes the year into its name.
void RenameBackupFlag(TAreaWork& Work) {
  const std::string Flag = FindFileNoCase(Work.Folder, "backup.fl");
  if (!Flag.empty())
    RenameNoReplace(Flag, JoinPath(Work.Folder, "backup_" + std::to_string(Work.Year) + ".fl"));
}

constexpr std::array<TAreaInfo, kAreaCount> kAreas = {{
    {.Area = TArea::Contributions,
     .FolderSuffix = "cont.bkp",
     .MinYear = 0,
     .TargetFile = "XLQCont.bkp.vlt",
     .LogFile = "Conversion_Log.txt",
     .Name = "contributions",
     .Key = "contributions",
     .Method = TAreaMethod::Contributions,
     .Sources = {kContributionsSources, {}},
     .Prepare = TPrepareMode::Contributions},
    {.Area = TArea::Payroll,
     .FolderSuffix = "jrnl.bkp",
     .MinYear = 0,
     .TargetFile = "Payroll.vlt",
     .LogFile = "Conversion_Log_PR.txt",
     .Name = "payroll",
     .Key = "payroll",
     .Method = TAreaMethod::TableCopy,
     .Sources = {kPayrollSources, {}},
     .Pairs = kPayrollPairs,
     .Progress = TCopyProgressKind::PerTable,
     .Step = 5,
     .Heading = "Convert @",
     .ClosingLine = kClosingComplete,
     .EmptyWithoutSources = true,
     .AfterPublish = CopyPayData,
     .Convert = &TConverter::ConvertPayroll},
    {.Area = TArea::ChkSch,
     .FolderSuffix = "2ChkSc.bkp",
     .MinYear = 0,
     .TargetFile = "Schedule.vlt",
     .LogFile = "Conversion_Log_ChkSch.txt",
     .Name = "check schedule",
     .Key = "check_schedule",
     .Method = TAreaMethod::TableCopy,
     .Sources = {kScheduleSources, {}},
     .Pairs = kSchedulePairs,
     .Progress = TCopyProgressKind::PerRecord,
     .Step = 5,
     .Heading = "Convert: @",
     .ClosingLine = kClosingComplete,
     .EndsAtFull = true,
     .Convert = &TConverter::ConvertChkSch},
    {.Area = TArea::Loans,
     .FolderSuffix = "2Loans.bkp",
     .MinYear = 0,
     .TargetFile = "Loan.vlt",
     .LogFile = "Conversion_Log_Loan.txt",
     .Name = "loans",
     .Key = "loans",
     .Method = TAreaMethod::TableCopy,
     .Sources = {kLoanSources, {}},
     .Pairs = kLoanPairs,
     .Progress = TCopyProgressKind::PerRecord,
     .Step = 5,
     .Heading = "Convert @",
     .ClosingLine = kClosingComplete,
     .EndsAtFull = true,
     .Convert = &TConverter::ConvertLoans},
    {.Area = TArea::Ledger,
     .FolderSuffix = "jrnl.bkp",
     .MinYear = 1981,
     .TargetFile = "#Ledger.vlt",
     .LogFile = "#_Conversion_Log.txt",
     .Name = "ledger",
     .Key = "ledger",
     .Method = TAreaMethod::TableCopy,
     .Sources = {kLedgerSources, kLedgerOptionalSources},
     .Prepare = TPrepareMode::Ledger,
     .Pairs = kLedgerPairs,
     .OptionalPairs = kLedgerOptionalPairs,
     .Progress = TCopyProgressKind::PerTableWithEvents,
     .Step = 7,
     .Heading = "Convert #",
     .ClosingLine = kClosingLedger,
     .EndsAtFull = true,
     .BeforeLog = RenameBackupFlag,
     .Convert = &TConverter::ConvertLedger},
}};

// Row I describes area I, and every row says what its method needs: a missing or misplaced row
// does not compile.
constexpr bool RowsInEnumOrder() {
  for (size_t I = 0; I < kAreas.size(); ++I)
    if (kAreas[I].Area != static_cast<TArea>(I)) return false;
  return true;
}
constexpr bool RowsComplete() {
  for (const TAreaInfo& A : kAreas) {
    if (!A.FolderSuffix[0] || !A.TargetFile[0] || !A.LogFile[0] || !A.Name[0] || !A.Key[0])
      return false;
    const bool Copy = A.Method == TAreaMethod::TableCopy;
    if (Copy != !A.Pairs.empty() || (Copy && (A.Step <= 0 || !A.Heading[0] || !A.ClosingLine[0])))
      return false;
  }
  return true;
}
static_assert(kAreas.size() == kAreaCount);
static_assert(RowsInEnumOrder(), "the table of areas must have one row per area, in enum order");
static_assert(RowsComplete(), "a row of the table of areas lacks a name or its table copy");

// Pattern with "#" replaced by the year and "@" by the folder.
std::string Expand(std::string_view Pattern, std::string_view Folder) {
  std::string Out;
  for (char C : Pattern) {
    if (C == '#')
      Out += std::to_string(BackupYear(Folder));
    else if (C == '@')
      Out += Folder;
    else
      Out += C;
  }
  return Out;
}

std::string WithYear(std::string_view Pattern, int32_t Year) {
  std::string Out;
  for (char C : Pattern) {
    if (C == '#')
      Out += std::to_string(Year);
    else
      Out += C;
  }
  return Out;
}

}  // namespace

const TAreaInfo& AreaInfo(TArea Area) {
  return kAreas[static_cast<size_t>(Area)];
}

std::span<const TAreaInfo> Areas() {
  return kAreas;
}

int32_t BackupYear(std::string_view BackupDir) {
  // The four characters before the last eight; fewer when the path is shorter.
  if (BackupDir.size() <= 8) return -1;
  size_t End = BackupDir.size() - 8;
  size_t Start = End >= 4 ? End - 4 : 0;
  std::string_view Text = BackupDir.substr(Start, End - Start);
  size_t I = 0;
  bool Negative = false;
  if (I < Text.size() && (Text[I] == '+' || Text[I] == '-')) Negative = Text[I++] == '-';
  if (I == Text.size()) return -1;
  int32_t Value = 0;
  for (; I < Text.size(); ++I) {
    if (Text[I] < '0' || Text[I] > '9') return -1;
    Value = Value * 10 + (Text[I] - '0');
  }
  return Negative ? -Value : Value;
}

std::string LedgerTargetFile(int32_t Year) {
  return WithYear(AreaInfo(TArea::Ledger).TargetFile, Year);
}
std::string LedgerLogFile(int32_t Year) {
  return WithYear(AreaInfo(TArea::Ledger).LogFile, Year);
}

bool IsAreaFolder(TArea Area, std::string_view Folder) {
  const TAreaInfo& A = AreaInfo(Area);
  if (!EndsWith(Folder, A.FolderSuffix)) return false;
  return A.MinYear == 0 || BackupYear(Folder) >= A.MinYear;
}

std::string AreaTargetFile(TArea Area, std::string_view Folder) {
  return WithYear(AreaInfo(Area).TargetFile, BackupYear(Folder));
}

std::string AreaLogFile(TArea Area, std::string_view Folder) {
  return WithYear(AreaInfo(Area).LogFile, BackupYear(Folder));
}

std::string AreaHeading(TArea Area, std::string_view Folder) {
  return Expand(AreaInfo(Area).Heading, Folder);
}

bool IsAreaFrameLine(std::string_view Line) {
  for (const TAreaInfo& A : kAreas) {
    if (A.Method != TAreaMethod::TableCopy) continue;
    const std::string_view Heading = A.Heading;
    const std::string_view Fixed = Heading.substr(0, Heading.find_first_of("#@"));
    if (Line.starts_with(Fixed) || Line == A.ClosingLine) return true;
  }
  return false;
}

const TAreaSources& AreaSourcesOf(TArea Area) {
  return AreaInfo(Area).Sources;
}

std::vector<TCopyPair> CopyPairsOf(TArea Area) {
  const TAreaInfo& A = AreaInfo(Area);
  std::vector<TCopyPair> All(A.Pairs.begin(), A.Pairs.end());
  for (const TOptionalPair& P : A.OptionalPairs) All.push_back(P.Pair);
  return All;
}

}  // namespace vlt::app
