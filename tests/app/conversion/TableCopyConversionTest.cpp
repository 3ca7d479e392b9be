// The payroll, check-schedule, loans and ledger conversions end to end, over generated backups:
// each database is reopened with its password, its tables are compared with the catalogue and
// every row with its source row, the logs byte for byte, the files checked by vltdb, and the
// sources must be unchanged.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <map>
#include <set>
#include <sstream>

#include "app/conversion/Conversion.h"
#include "app/conversion/DryRun.h"
#include "app/conversion/FileUtil.h"
#include "app/conversion/TableCopy.h"
#include "app/conversion/TargetCatalogue.h"
#include "app/conversion/Verification.h"
#include "app/paradox/ParadoxTable.h"
#include "engine/components/VLTDatabase.h"
#include "engine/components/VLTTable.h"
#include "tests/app/FakeUI.h"
#include "tests/app/TargetTestUtil.h"
#include "tests/app/TestDirs.h"
#include "tests/components/VLTComponentTestUtil.h"
#include "tools/BackupGenerator.h"

namespace vlt::app {
namespace {

using test::ReadFile;
using test::TFakeUI;
using test::TTempDir;

// Where each target table's rows come from, as the conversion rules say.
struct TSource {
  const char* Target;
  const char* Table;
  const char* Fields;  // source fields in target order; "" = the target's names
};

// clang-format off
const std::vector<TSource> kSources = {
  {"DedTEx", "DEDTEX.DB", "DNum;TNum"},
  {"Deducts", "DEDUCTS.DB", "DName;Num;BAmt;BPct;AAmt;APct"},
  {"EmpData", "EMPDATA.DB", ""}, {"EmpDeds", "EMPDEDS.DB", ""}, {"EmpWiths", "EMPWITHS.DB", ""},
  {"PayDD", "PAYDD.DB", ""}, {"Payroll", "PAYROLL.DB", ""}, {"PayTax", "PAYTAX.DB", ""},
  {"TaxAccts", "TAXACCTS.DB", ""},
  {"Schedule", "chksc.db", ""},
  {"Loan", "LOAN.DB", "LNum;LYr;LName;SDate;EDate;SBal;FDate;i;P;CType"},
  {"BankInfo", "BANKINFO.DB", ""},
  {"BankFile", "BANKFILE.DB", "AcctNum;BDate;TransType;TransNum;Amount;Reconciled;Payroll;Payee"},
  {"ExpCats", "EXPCATS.DB", ""}, {"ExpGrps", "EXPGRPS.DB", ""},
  {"ExpAcct", "EXPACCT.DB", "Cat;Group;Pos;Name;Num;Budget"},
  {"IntCats", "INTCATS.DB", ""}, {"IntAcct", "INTACCT.DB", ""}, {"FYInfo", "FYINFO.DB", ""},
  {"Payees", "PAYEES.DB", ""},
  {"TranFile", "TRANFILE.DB",
   "TransDate;BankAccountNum;TransType;TransNum;ExpAccountNum;IntAccountNum;Num;ExpCredit;Amount;Comment"},
  {"Alloc", "Alloc.db", ""}, {"Report", "report.db", ""},
};
// clang-format on

std::vector<std::string> Split(const std::string& S) {
  std::vector<std::string> Out;
  std::string Cur;
  for (char C : S + ";") {
    if (C == ';' || C == ',') {
      if (!Cur.empty()) Out.push_back(Cur);
      Cur.clear();
    } else {
      Cur += C;
    }
  }
  return Out;
}

constexpr int32_t kCalendarOffset = 693594;  // day number of 1899-12-30

// A value as canonical text for the target type, from the source side.
std::string Canonical(TTargetType T, const TParadoxValue& V) {
  if (V.IsNull()) return "~";
  char Buf[64];
  switch (T) {
    case TTargetType::Integer:
    case TTargetType::Smallint:
      return std::to_string(V.Int);
    case TTargetType::Boolean:
      return V.Int ? "1" : "0";
    case TTargetType::Date:
      return std::to_string(V.Int - kCalendarOffset);
    case TTargetType::Double:
      std::snprintf(Buf, sizeof Buf, "%.17g", V.Float);
      return Buf;
    case TTargetType::Currency:
      std::snprintf(Buf, sizeof Buf, "%.4f", V.Float);
      return Buf;
    default:
      return V.Str;
  }
}

// ... and from the target side.
std::string Canonical(TTargetType T, const TVLTField& F) {
  if (F.IsNull()) return "~";
  char Buf[64];
  switch (T) {
    case TTargetType::Integer:
    case TTargetType::Smallint:
      return std::to_string(F.AsLargeInt());
    case TTargetType::Boolean:
      return F.AsBoolean() ? "1" : "0";
    case TTargetType::Date:
      return std::to_string(static_cast<int64_t>(F.AsDateTime()));
    case TTargetType::Double:
      std::snprintf(Buf, sizeof Buf, "%.17g", F.AsFloat());
      return Buf;
    case TTargetType::Currency:
      std::snprintf(Buf, sizeof Buf, "%.4f", F.AsCurrency());
      return Buf;
    default:
      return F.AsString();
  }
}

using TRow = std::vector<std::string>;

// The rows the target must hold: the source rows with the rules applied, one per primary key
// (the first wins), and how many were left out for a repeated key.
std::vector<TRow> ExpectedRows(const std::string& Dir, const TTargetTable& Table, int& Repeated) {
  const TSource& S = *std::find_if(kSources.begin(), kSources.end(), [&](const TSource& X) {
    return std::string(X.Target) == Table.Name;
  });
  const std::vector<TTargetField> Fields = Table.Fields();
  std::vector<std::string> Names = Split(S.Fields);
  if (Names.empty())
    for (const TTargetField& F : Fields) Names.push_back(F.Name);

  std::vector<int> KeyPositions;
  for (const TTargetIndex& I : Table.Indexes)
    if (I.Options & ixPrimary)
      for (const std::string& K : Split(I.Fields))
        for (size_t P = 0; P < Fields.size(); ++P)
          if (SameText(Fields[P].Name, K)) KeyPositions.push_back(static_cast<int>(P));

  TParadoxTable Src;
  Src.SetDatabaseName(Dir);
  Src.SetTableName(S.Table);
  Src.SetReadOnly(true);
  Src.Open();
  std::vector<TRow> Out;
  std::set<TRow> Keys;
  Repeated = 0;
  for (Src.First(); !Src.Eof(); Src.Next()) {
    std::vector<TParadoxValue> V;
    for (const std::string& N : Names) V.push_back(Src.FieldByName(N).AsVariant());
    if (V[0].IsNull()) continue;
    TRow Row;
    for (size_t I = 0; I < Fields.size(); ++I)
      Row.push_back(I < V.size() ? Canonical(Fields[I].Type, V[I]) : "~");
    if (Table.Name == std::string("Schedule") && V[0].Int <= 0 && !V[8].IsNull())
      Row[8] = std::to_string(ScheduleFlags(static_cast<int32_t>(V[8].Int)));
    if (Table.Name == std::string("Loan")) Row[10] = "1";
    if (!KeyPositions.empty()) {
      TRow Key;
      for (int P : KeyPositions) Key.push_back(Row[static_cast<size_t>(P)]);
      if (!Keys.insert(Key).second) {
        ++Repeated;
        continue;
      }
    }
    Out.push_back(Row);
  }
  std::sort(Out.begin(), Out.end());
  return Out;
}

// A string column keeps a positive size of its list; every other column is stored with 20.
bool SameIndexSizes(const std::string& Stored, const TTargetIndex& I,
                    const std::vector<TTargetField>& Fields) {
  const std::vector<std::string> Want = Split(I.Sizes), Names = Split(I.Fields),
                                 Got = Split(Stored);
  if (Got.size() != Names.size()) return false;
  for (size_t K = 0; K < Got.size(); ++K) {
    const auto F = std::find_if(Fields.begin(), Fields.end(),
                                [&](const TTargetField& X) { return SameText(X.Name, Names[K]); });
    const int Given = K < Want.size() ? std::stoi(Want[K]) : 20;
    const int Expect =
        F != Fields.end() && F->Type == TTargetType::String && Given > 0 ? Given : 20;
    if (Got[K] != std::to_string(Expect)) return false;
  }
  return true;
}

// Compares every table of Area's database in File with the catalogue and with the sources in
// Dir. Tables listed in Absent must not exist; Empty ones must hold no row. Returns the number
// of repeated-key rows left out per table.
std::map<std::string, int> CheckDatabase(TArea Area, const std::string& Dir,
                                         const std::string& File,
                                         const std::set<std::string>& Absent = {},
                                         const std::set<std::string>& Empty = {}) {
  std::map<std::string, int> Repeats;
  const TTargetDatabase& D = TargetDatabase(Area);
  SCOPED_TRACE(File);
  auto Db = test::OpenTarget(Area, File);
  std::vector<std::string> Tables;
  Db->GetTablesList(Tables);
  for (const TTargetTable& T : D.Tables) {
    SCOPED_TRACE(T.Name);
    const bool Exists = std::any_of(Tables.begin(), Tables.end(),
                                    [&](const std::string& N) { return SameText(N, T.Name); });
    EXPECT_EQ(Exists, !Absent.count(T.Name));
    if (!Exists) continue;
    TVLTTable Tbl;
    Tbl.SetDatabaseName(Db->DatabaseName());
    Tbl.SetTableName(T.Name);
    Tbl.Open();
    // Schema: names, types, sizes, required flags and indexes as catalogued.
    const std::vector<TTargetField> Fields = T.Fields();
    EXPECT_EQ(Tbl.RestructureFieldDefs().Count(), static_cast<int32_t>(Fields.size()));
    if (Tbl.RestructureFieldDefs().Count() != static_cast<int32_t>(Fields.size())) continue;
    for (size_t I = 0; I < Fields.size(); ++I) {
      const TVLTAdvFieldDef& F = Tbl.RestructureFieldDefs()[static_cast<int32_t>(I)];
      EXPECT_EQ(F.FName, Fields[I].Name);
      EXPECT_EQ(F.FRequired, Fields[I].Required) << F.FName;
      if (Fields[I].Type == TTargetType::String) {
        EXPECT_EQ(F.FSize, Fields[I].Size) << F.FName;
      }
      static const std::map<TTargetType, TVLTAdvancedFieldType> kTypes = {
          {TTargetType::String, aftString},     {TTargetType::Integer, aftInteger},
          {TTargetType::Smallint, aftSmallint}, {TTargetType::Double, aftDouble},
          {TTargetType::Boolean, aftBoolean},   {TTargetType::Currency, aftCurrency},
          {TTargetType::Date, aftDate},         {TTargetType::Memo, aftMemo}};
      EXPECT_EQ(F.FDataType, kTypes.at(Fields[I].Type)) << F.FName;
    }
    EXPECT_EQ(Tbl.RestructureIndexDefs().Count(), static_cast<int32_t>(T.Indexes.size()));
    for (const TTargetIndex& I : T.Indexes) {
      const TVLTAdvIndexDef* Got = Tbl.RestructureIndexDefs().Find(I.Name);
      EXPECT_NE(Got, nullptr) << I.Name;
      if (!Got) continue;
      std::vector<std::string> WantFields = Split(I.Fields);
      std::vector<std::string> GotFields = Split(Got->FFields);
      EXPECT_EQ(GotFields.size(), WantFields.size()) << I.Name;
      for (size_t K = 0; K < std::min(GotFields.size(), WantFields.size()); ++K)
        EXPECT_TRUE(SameText(GotFields[K], WantFields[K])) << I.Name;
      EXPECT_EQ(Got->FOptions & (ixPrimary | ixUnique), I.Options & (ixPrimary | ixUnique))
          << I.Name;
      EXPECT_TRUE(SameIndexSizes(Got->FMaxIndexedSizes, I, Fields))
          << I.Name << ": " << Got->FMaxIndexedSizes;
      EXPECT_EQ(Got->FCaseInsFields, std::string(I.CaseInsFields)) << I.Name;
    }
    // Rows.
    std::vector<TRow> Actual;
    for (Tbl.First(); !Tbl.Eof(); Tbl.Next()) {
      TRow Row;
      for (size_t I = 0; I < Fields.size(); ++I)
        Row.push_back(Canonical(Fields[I].Type, Tbl.Fields(static_cast<int32_t>(I))));
      Actual.push_back(Row);
    }
    std::sort(Actual.begin(), Actual.end());
    if (Empty.count(T.Name)) {
      EXPECT_TRUE(Actual.empty());
      continue;
    }
    int Repeated = 0;
    const std::vector<TRow> Expected = ExpectedRows(Dir, T, Repeated);
    Repeats[T.Name] = Repeated;
    EXPECT_EQ(Actual.size(), Expected.size());
    EXPECT_TRUE(Actual == Expected) << "rows differ from the source";
    Tbl.Close();
  }
  Db->Close();
  return Repeats;
}

std::map<std::string, std::string> Snapshot(const std::string& Root) {
  std::map<std::string, std::string> Files;
  for (const auto& E : std::filesystem::recursive_directory_iterator(Root))
    if (E.is_regular_file())
      Files[E.path().string().substr(Root.size())] = ReadFile(E.path().string());
  return Files;
}

std::string Crlf(const std::vector<std::string>& Lines) {
  std::string S;
  for (const auto& L : Lines) S += L + "\r\n";
  return S;
}

void ExpectVltdbCheckClean(const std::string& File, const std::string& Password) {
  const std::string Tool = test::VltdbPath();
  if (Tool.empty()) GTEST_SKIP() << "vltdb not built";
  std::string Out;
  EXPECT_EQ(test::RunTool(Tool + " --password '" + Password + "' check '" + File + "'", Out), 0)
      << Out;
}

class TableCopyConversionTest : public ::testing::Test {
 protected:
  void Convert(TFakeUI& UI, TRunOutcome Want) {
    TConverter C(UI);
    C.FormCreate();
    EXPECT_EQ(C.ConvertData(Dir.Path()), Want);
  }
  TTempDir Dir;
};

TEST_F(TableCopyConversionTest, GeneratedBackupsConvertExactly) {
  tools::TBackupGenOptions O;
  O.EdgeCases = true;
  tools::GenerateBackups(Dir.Path(), O);
  const auto Before = Snapshot(Dir.Path());

  TFakeUI UI;
  Convert(UI, TRunOutcome::Complete);
  EXPECT_EQ(UI.Boxes, (std::vector<TFakeUI::TBox>{{false, kMsgComplete}}));

  const std::string J12 = Dir / "2012jrnl.bkp", J13 = Dir / "2013jrnl.bkp",
                    J80 = Dir / "1980jrnl.bkp";
  const std::string Chk = Dir / "2ChkSc.bkp", Loan = Dir / "2Loans.bkp";

  // Every database against catalogue and sources. The repeated (7, 9) pair is the one record
  // that cannot be written.
  EXPECT_EQ(CheckDatabase(TArea::Payroll, J12, J12 + "/Payroll.vlt", {}, {"TimeOff"})["DedTEx"], 1);
  EXPECT_EQ(CheckDatabase(TArea::Payroll, J80, J80 + "/Payroll.vlt", {}, {"TimeOff"})["DedTEx"], 1);
  CheckDatabase(TArea::ChkSch, Chk, Chk + "/Schedule.vlt");
  CheckDatabase(TArea::Loans, Loan, Loan + "/Loan.vlt");
  CheckDatabase(TArea::Ledger, J12, J12 + "/2012Ledger.vlt");
  CheckDatabase(TArea::Ledger, J13, J13 + "/2013Ledger.vlt", {"Alloc"}, {"Report"});
  // A journal without payroll tables still gets the ten empty payroll tables.
  CheckDatabase(TArea::Payroll, J13, J13 + "/Payroll.vlt", {},
                {"DedTEx", "Deducts", "EmpData", "EmpDeds", "EmpWiths", "PayDD", "Payroll",
                 "PayTax", "TaxAccts", "TimeOff"});

  // The logs, byte for byte.
  EXPECT_EQ(
      ReadFile(J12 + "/Conversion_Log_PR.txt"),
      Crlf({"Convert " + J12, "Error Writing Record: DedTEx: 7, 9, ", "Conversion Complete"}));
  EXPECT_EQ(ReadFile(J12 + "/2012_Conversion_Log.txt"),
            Crlf({"Convert 2012", "Conversion Process Finished"}));
  EXPECT_EQ(ReadFile(J13 + "/2013_Conversion_Log.txt"),
            Crlf({"Convert 2013", "Conversion Process Finished"}));
  EXPECT_EQ(ReadFile(Chk + "/Conversion_Log_ChkSch.txt"),
            Crlf({"Convert: " + Chk, "Conversion Complete"}));
  EXPECT_EQ(ReadFile(Loan + "/Conversion_Log_Loan.txt"),
            Crlf({"Convert " + Loan, "Conversion Complete"}));

  // The check-schedule flags: t = 0 keeps the low ten bits plus 6144 for bit 10; t = 1 keeps f.
  {
    auto Db = test::OpenTarget(TArea::ChkSch, Chk + "/Schedule.vlt");
    TVLTTable T;
    T.SetDatabaseName(Db->DatabaseName());
    T.SetTableName("Schedule");
    T.Open();
    std::map<std::pair<int, int>, int> FlagsByTypeAndNum;
    for (T.First(); !T.Eof(); T.Next())
      FlagsByTypeAndNum[{T.FieldByName("t").AsInteger(), T.FieldByName("num").AsInteger()}] =
          T.FieldByName("f").AsInteger();
    EXPECT_EQ((FlagsByTypeAndNum[{0, 0}]), 6149);
    EXPECT_EQ((FlagsByTypeAndNum[{1, 1029}]), 1029);
    T.Close();
  }

  // What the folders hold afterwards: the sources unchanged, and only the files the rules name.
  const auto After = Snapshot(Dir.Path());
  std::set<std::string> Added, Changed, Gone;
  for (const auto& [Name, Content] : After) {
    auto It = Before.find(Name);
    if (It == Before.end())
      Added.insert(Name);
    else if (It->second != Content)
      Changed.insert(Name);
  }
  for (const auto& [Name, Content] : Before)
    if (!After.count(Name)) Gone.insert(Name);
  EXPECT_EQ(Gone, (std::set<std::string>{"/2012jrnl.bkp/backup.fl"}));
  EXPECT_EQ(Changed, (std::set<std::string>{"/2012jrnl.bkp/mstrldgr.dir/pdfile.txt"}));
  EXPECT_EQ(Added, (std::set<std::string>{
                       "/1980jrnl.bkp/Payroll.vlt", "/1980jrnl.bkp/Conversion_Log_PR.txt",
                       "/2012jrnl.bkp/Payroll.vlt", "/2012jrnl.bkp/Conversion_Log_PR.txt",
                       "/2012jrnl.bkp/2012Ledger.vlt", "/2012jrnl.bkp/2012_Conversion_Log.txt",
                       "/2012jrnl.bkp/backup_2012.fl", "/2013jrnl.bkp/Payroll.vlt",
                       "/2013jrnl.bkp/2013Ledger.vlt", "/2013jrnl.bkp/2013_Conversion_Log.txt",
                       "/2ChkSc.bkp/Schedule.vlt", "/2ChkSc.bkp/Conversion_Log_ChkSch.txt",
                       "/2Loans.bkp/Loan.vlt", "/2Loans.bkp/Conversion_Log_Loan.txt",
                       "/2012cont.bkp/XLQCont.bkp.vlt", "/2012cont.bkp/Conversion_Log.txt"}));
  EXPECT_EQ(After.at("/2012jrnl.bkp/mstrldgr.dir/pdfile.txt"),
            After.at("/2012jrnl.bkp/payroll.dir/pdfile.txt"));
  EXPECT_EQ(After.at("/2012jrnl.bkp/backup_2012.fl"), Before.at("/2012jrnl.bkp/backup.fl"));

  ExpectVltdbCheckClean(J12 + "/Payroll.vlt", TargetDatabase(TArea::Payroll).Password);
  ExpectVltdbCheckClean(J12 + "/2012Ledger.vlt", TargetDatabase(TArea::Ledger).Password);
  ExpectVltdbCheckClean(Chk + "/Schedule.vlt", TargetDatabase(TArea::ChkSch).Password);
  ExpectVltdbCheckClean(Loan + "/Loan.vlt", TargetDatabase(TArea::Loans).Password);

  // A second run finds everything converted.
  TFakeUI Again;
  Convert(Again, TRunOutcome::NoBackups);
  EXPECT_EQ(After, Snapshot(Dir.Path()));
}

// Writes a LOAN.DB of Count records (one more with an empty first field when Count > 0).
void WriteLoans(const std::string& Dir, int Count) {
  TParadoxTable T;
  T.SetDatabaseName(Dir);
  T.SetTableName("LOAN.DB");
  T.SetTableType(ttParadox);
  for (const char* N :
       {"LNum", "LYr", "LName", "SDate", "EDate", "SBal", "FDate", "i", "P", "CType"}) {
    const std::string Name = N;
    const TFieldType Type = Name == "LName" || Name == "P"           ? ftString
                            : Name == "SBal"                         ? ftCurrency
                            : Name.find("Date") != std::string::npos ? ftDate
                                                                     : ftInteger;
    T.FieldDefs().push_back({Name, Type, Type == ftString ? 14 : 0, false});
  }
  T.CreateTable();
  T.Open();
  for (int K = 0; K < Count; ++K) {
    T.Append();
    T.Fields(0).SetAsInteger(K + 1);
    T.Fields(2).SetAsString("Loan " + std::to_string(K));
    T.Post();
  }
  T.Close();
}

TEST_F(TableCopyConversionTest, LoanProgressFollowsTheRecordCount) {
  struct TCase {
    int Records;
    std::vector<int> Steps;  // step sizes set
    int StepCalls;           // bar advances
  };
  // 90 div N is the step; when it is 0 the step is 1 and the bar moves every N div 100 records.
  const std::vector<TCase> Cases = {
      {250, {5, 1}, 1 + 125},  {50, {5, 1}, 1 + 50}, {30, {5, 3}, 1 + 30},
      {1000, {5, 1}, 1 + 100}, {0, {5}, 1},
  };
  for (const TCase& C : Cases) {
    SCOPED_TRACE(C.Records);
    TTempDir Root;
    const std::string Folder = Root / "2Loans.bkp";
    test::MakeDir(Folder);
    WriteLoans(Folder, C.Records);
    TFakeUI UI;
    TConverter Conv(UI);
    Conv.ConvertData(Root.Path());
    EXPECT_EQ(UI.StepSizes, C.Steps);
    EXPECT_EQ(UI.StepCalls, C.StepCalls);
    EXPECT_EQ(UI.Progress.Position(), 100);
    EXPECT_TRUE(FileExists(Folder + "/Loan.vlt"));
  }
}

TEST_F(TableCopyConversionTest, FailedAreaLeavesNoDatabaseAndARerunConvertsIt) {
  tools::GenerateBackups(Dir.Path(), {});
  const std::string Chk = Dir / "2ChkSc.bkp";
  const std::string Good = ReadFile(Chk + "/chksc.db");
  test::WriteFile(Chk + "/chksc.db", Good.substr(0, 100));  // truncated: does not open

  TFakeUI UI;
  Convert(UI, TRunOutcome::Complete);  // the other areas still convert
  EXPECT_FALSE(FileExists(Chk + "/Schedule.vlt"));
  EXPECT_FALSE(FileExists(Chk + "/Schedule.vlt.tmp"));
  EXPECT_EQ(
      ReadFile(Chk + "/Conversion_Log_ChkSch.txt"),
      Crlf({"Convert: " + Chk, "Error Opening Table: chksc.db",
            "cstbl0: Cannot perform this operation on a closed dataset", "Conversion Complete"}));
  EXPECT_EQ(ReadFile(Chk + "/chksc.db"), Good.substr(0, 100));

  test::WriteFile(Chk + "/chksc.db", Good);
  TFakeUI Again;
  Convert(Again, TRunOutcome::Complete);
  EXPECT_TRUE(FileExists(Chk + "/Schedule.vlt"));
  CheckDatabase(TArea::ChkSch, Chk, Chk + "/Schedule.vlt");
}

TEST_F(TableCopyConversionTest, UnreadablePayrollTableIsLoggedAndTheRestConverts) {
  tools::GenerateBackups(Dir.Path(), {});
  const std::string J = Dir / "2012jrnl.bkp";
  test::WriteFile(J + "/PayTax.db", "this is not a Paradox table");
  TFakeUI UI;
  Convert(UI, TRunOutcome::Complete);
  EXPECT_EQ(ReadFile(J + "/Conversion_Log_PR.txt"),
            Crlf({"Convert " + J, "Error Opening Table: PAYTAX.DB", "Conversion Complete"}));
  CheckDatabase(TArea::Payroll, J, J + "/Payroll.vlt", {}, {"PayTax", "TimeOff"});
}

TEST(TableCopyRules, ScheduleFlagsKeepTheLowBitsAndMoveBitTen) {
  const std::vector<std::pair<int32_t, int32_t>> Cases = {
      {1029, 6149}, {5, 5}, {1024, 6144}, {2048 + 3, 3}, {0, 0}, {1023, 1023}, {3072 + 7, 6151}};
  for (auto [In, Out] : Cases) EXPECT_EQ(ScheduleFlags(In), Out) << In;
}

TEST(TableCopyRules, SourceValuesConvertToTheTargetTypeAndPrintAsLogsWriteThem) {
  EXPECT_EQ(SourceValueText(TParadoxValue::Integer(7)), "7");
  EXPECT_EQ(SourceValueText(TParadoxValue::Null()), "");
  EXPECT_EQ(SourceValueText(TParadoxValue::Currency(12.5)), "12.5");
  EXPECT_EQ(SourceValueText(TParadoxValue::Boolean(true)), "True");
  EXPECT_EQ(SourceValueText(TParadoxValue::Date(DateToDays({2012, 1, 31}))), "1/31/2012");
  EXPECT_EQ(SourceValueText(TParadoxValue::String("O'Brien")), "O'Brien");
}

TEST(TargetCatalogue, EveryTableParsesAndIndexesNameItsFields) {
  for (const TTargetDatabase& D : TargetCatalogue()) {
    for (const TTargetTable& T : D.Tables) {
      SCOPED_TRACE(T.Name);
      const std::vector<TTargetField> Fields = T.Fields();
      ASSERT_FALSE(Fields.empty());
      for (const TTargetIndex& I : T.Indexes)
        for (const std::string& N : Split(I.Fields))
          EXPECT_TRUE(std::any_of(Fields.begin(), Fields.end(),
                                  [&](const TTargetField& F) { return SameText(F.Name, N); }))
              << I.Name << ": " << N;
    }
  }
  EXPECT_THROW(ParseTargetFields("Name:Q"), std::invalid_argument);
  EXPECT_THROW(ParseTargetFields(":I"), std::invalid_argument);
  const auto F = ParseTargetFields("Num:I! Name:S50");
  ASSERT_EQ(F.size(), 2u);
  EXPECT_TRUE(F[0].Required);
  EXPECT_EQ(F[1].Size, 50);
  EXPECT_EQ(TargetDatabase(TArea::Contributions).Table("2012cont").NameFor(2012), "2012cont");
}

}  // namespace
}  // namespace vlt::app

namespace vlt::app {
namespace {

// Writes Dir/File with string fields Names holding Rows.
void WriteTextTable(const std::string& Dir, const std::string& File,
                    const std::vector<std::string>& Names,
                    const std::vector<std::vector<std::string>>& Rows) {
  TParadoxTable T;
  T.SetDatabaseName(Dir);
  T.SetTableName(File);
  T.SetTableType(ttParadox);
  for (const std::string& N : Names) T.FieldDefs().push_back({N, ftString, 10, false});
  T.CreateTable();
  T.Open();
  for (const auto& R : Rows) {
    T.Append();
    for (size_t K = 0; K < R.size(); ++K) T.Fields(static_cast<int>(K)).SetAsString(R[K]);
    T.Post();
  }
  T.Close();
}

TEST(TableCopyBadInput, UnexpectedLayoutsAndUnconvertibleValuesAreLoggedAndTheRestConverts) {
  TTempDir Dir;
  tools::GenerateBackups(Dir.Path(), {});
  const std::string J = Dir / "2012jrnl.bkp";
  // Text where numbers belong: the record that does not convert is logged with its values.
  WriteTextTable(J, "DEDTEX.DB", {"DNum", "TNum"}, {{"7", "9"}, {"x7", "9"}, {"8", "10"}});
  // A table without the fields its target needs.
  WriteTextTable(J, "EMPDATA.DB", {"Other", "Fields"}, {{"a", "b"}});
  TFakeUI UI;
  {
    TConverter C(UI);
    C.FormCreate();
    EXPECT_EQ(C.ConvertData(Dir.Path()), TRunOutcome::Complete);
  }
  EXPECT_EQ(ReadFile(J + "/Conversion_Log_PR.txt"),
            Crlf({"Convert " + J, "Error Writing Record: DedTEx: x7, 9, ",
                  "Error Opening Table: EMPDATA.DB", "Conversion Complete"}));
  auto Db = test::OpenTarget(TArea::Payroll, J + "/Payroll.vlt");
  TVLTTable T;
  T.SetDatabaseName(Db->DatabaseName());
  T.SetTableName("DedTEx");
  T.Open();
  std::vector<std::pair<int, int>> Rows;
  for (T.First(); !T.Eof(); T.Next())
    Rows.push_back({T.Fields(0).AsInteger(), T.Fields(1).AsInteger()});
  EXPECT_EQ(Rows, (std::vector<std::pair<int, int>>{{7, 9}, {8, 10}}));
  T.Close();
}

}  // namespace
}  // namespace vlt::app

namespace vlt::app {
namespace {

// A source text longer than its target field keeps the characters that fit, as a string field
// assignment does, without a log line.
TEST(TableCopyBadInput, TextLongerThanItsTargetFieldIsCutToTheFieldSize) {
  TTempDir Dir;
  tools::GenerateBackups(Dir.Path(), {});
  const std::string J = Dir / "2012jrnl.bkp";
  TParadoxTable T;
  T.SetDatabaseName(J);
  T.SetTableName("DEDUCTS.DB");
  T.SetTableType(ttParadox);
  T.FieldDefs() = {{"DName", ftString, 40, false}, {"Num", ftInteger, 0, false},
                   {"BAmt", ftCurrency, 0, false}, {"BPct", ftFloat, 0, false},
                   {"AAmt", ftCurrency, 0, false}, {"APct", ftFloat, 0, false}};
  T.CreateTable();
  T.Open();
  T.Append();
  T.Fields(0).SetAsString("A deduction name of thirty-six chars");
  T.Fields(1).SetAsInteger(1);
  T.Post();
  T.Close();
  TFakeUI UI;
  {
    TConverter C(UI);
    C.FormCreate();
    C.ConvertData(Dir.Path());
  }
  EXPECT_EQ(ReadFile(J + "/Conversion_Log_PR.txt"), Crlf({"Convert " + J, "Conversion Complete"}));
  auto Db = test::OpenTarget(TArea::Payroll, J + "/Payroll.vlt");
  TVLTTable D;
  D.SetDatabaseName(Db->DatabaseName());
  D.SetTableName("Deducts");
  D.Open();
  std::vector<std::string> Names;
  for (D.First(); !D.Eof(); D.Next()) Names.push_back(D.Fields(0).AsString());
  EXPECT_EQ(Names, (std::vector<std::string>{"A deduction name of thirty-s"}));
  D.Close();
}

}  // namespace
}  // namespace vlt::app

namespace vlt::app {
namespace {

// Verification catches a changed row, a removed row and a row that has no source; a clean
// conversion verifies with no mismatch.
TEST(TableCopyVerification, FindsChangedMissingAndExtraRows) {
  TTempDir Dir;
  tools::GenerateBackups(Dir.Path(), {});
  TFakeUI UI;
  {
    TConverter C(UI);
    C.FormCreate();
    EXPECT_EQ(C.ConvertData(Dir.Path()), TRunOutcome::Complete);
    EXPECT_TRUE(C.Report().Clean()) << FormatRunReport(C.Report());
    EXPECT_EQ(C.Report().Areas.size(), 5u);  // every area
    // Every table of every target is listed, those created without a source included.
    for (const TAreaCheck& A : C.Report().Areas) {
      std::set<std::string> Listed;
      for (const TTableCheck& T : A.Tables) Listed.insert(T.Table);
      for (const TTargetTable& T : TargetDatabase(A.Area).Tables) {
        // The year table has its own name; Alloc may lack its source; working tables are
        // dropped.
        static const std::set<std::string> kNotListed = {"#cont", "Alloc", "cchng", "Schng",
                                                         "Fchng"};
        if (kNotListed.count(T.Name)) continue;
        EXPECT_TRUE(Listed.count(T.Name)) << T.Name;
      }
      if (A.Area != TArea::Payroll) continue;
      const auto TimeOff = std::find_if(A.Tables.begin(), A.Tables.end(),
                                        [](const TTableCheck& T) { return T.Table == "TimeOff"; });
      ASSERT_NE(TimeOff, A.Tables.end());
      EXPECT_EQ(TimeOff->Notices, (std::vector<std::string>{"created empty, no source"}));
    }
  }
  const std::string Chk = Dir / "2ChkSc.bkp", File = Chk + "/Schedule.vlt";
  const std::vector<std::string> Log = ReadLogLines(Chk + "/Conversion_Log_ChkSch.txt");
  {
    // Tamper with the database as a second writer would.
    auto Db = test::OpenTarget(TArea::ChkSch, File, false);
    TVLTTable T;
    T.SetDatabaseName(Db->DatabaseName());
    T.SetTableName("Schedule");
    T.SetIndexName("Main");
    T.Open();
    T.First();
    T.Edit();
    T.FieldByName("pn").SetAsString("Someone else");
    T.Post();
    T.Next();
    T.Delete();
    T.Append();
    T.FieldByName("t").SetAsInteger(77);
    T.FieldByName("num").SetAsInteger(1);
    T.Post();
    T.Close();
    Db->Close();
  }
  const TAreaCheck R = VerifyCopyArea(TArea::ChkSch, Chk, File, Log);
  ASSERT_EQ(R.Tables.size(), 1u);
  const TTableCheck& T = R.Tables[0];
  EXPECT_FALSE(R.Clean());
  EXPECT_EQ(T.Mismatched, 3);
  ASSERT_EQ(T.Mismatches.size(), 3u);
  auto Has = [&](const std::string& Part) {
    return std::any_of(T.Mismatches.begin(), T.Mismatches.end(),
                       [&](const std::string& M) { return M.find(Part) != std::string::npos; });
  };
  EXPECT_TRUE(Has(": pn is Someone else, the source gives Payee")) << T.Mismatches[0];
  EXPECT_TRUE(Has("missing from the target"));
  EXPECT_TRUE(Has("(77,~,~,1): not in the source"));
}

TEST(TableCopyVerification, SourceChangesTheConversionDoesNotCallForAreReported) {
  const TFolderHashes Before = {
      {"EMPDATA.DB", "a"}, {"tranfile.px", "b"}, {"backup.fl", "c"}, {"notes.txt", "d"}};
  const TFolderHashes After = {{"EMPDATA.DB", "x"},     {"tranfile.px", "y"},
                               {"backup_2012.fl", "c"}, {"notes.txt", "d"},
                               {"2012Ledger.vlt", "e"}, {"Payroll.vlt", "f"},
                               {"stray.tmp", "g"},      {"mstrldgr.dir/pdfile.txt", "h"},
                               {"contfil0.db", "i"}};
  const TFolderChanges C = CompareFolderHashes(Before, After);
  EXPECT_EQ(C.Changed, (std::vector<std::string>{"EMPDATA.DB", "tranfile.px"}));
  EXPECT_EQ(C.Vanished, (std::vector<std::string>{"backup.fl"}));
  EXPECT_EQ(C.Unexpected, (std::vector<std::string>{"EMPDATA.DB", "stray.tmp"}));
}

}  // namespace
}  // namespace vlt::app

namespace vlt::app {
namespace {

TEST(TableCopyVerification, JsonReportHasTheDocumentedLayoutAndEscapesText) {
  TRunReport R;
  TAreaCheck A;
  A.Area = TArea::ChkSch;
  A.Folder = "/b/2ChkSc.bkp";
  A.Database = "/b/2ChkSc.bkp/Schedule.vlt";
  TTableCheck T;
  T.Table = "Schedule";
  T.Read = 3;
  T.Written = 2;
  T.Verified = 1;
  T.Mismatched = 1;
  T.Mismatches = {"record (1): pn is \"Jos\xE9\", the source gives x"};
  A.Tables.push_back(T);
  R.Areas.push_back(A);
  R.Folders["/b/2ChkSc.bkp"].Appeared = {"Schedule.vlt"};
  const std::string J = RunReportJson(R);
  for (const char* Part :
       {"\"version\": 1", "\"clean\": false", "\"area\": \"check_schedule\"",
        "\"table\": \"Schedule\"", "\"read\": 3", "\"skipped\": 0", "\"rejected\": 0",
        "\"written\": 2", "\"verified\": 1", "\"mismatched\": 1",
        "\"mismatches\": [\"record (1): pn is \\\"Jos\xC3\xA9\\\", the source gives x\"]",
        "\"appeared\": [\"Schedule.vlt\"]", "\"unexpected\": []"})
    EXPECT_NE(J.find(Part), std::string::npos) << Part << "\n" << J;
}

}  // namespace
}  // namespace vlt::app

namespace vlt::app {
namespace {

// The dry run reads only, and its plan is what the run then does.
TEST(DryRun, PlansWhatTheRunDoesAndWritesNothing) {
  TTempDir Dir;
  tools::TBackupGenOptions O;
  O.EdgeCases = true;
  O.WithOld = true;
  tools::GenerateBackups(Dir.Path(), O);
  test::WriteFile(Dir / "2ChkSc.bkp/chksc.db", "not a table");
  const auto Before = Snapshot(Dir.Path());
  const std::string Plan = PlanRun(Dir.Path());
  EXPECT_EQ(Snapshot(Dir.Path()), Before);
  for (const std::string& Line :
       {Dir / "2012jrnl.bkp: payroll: convert into Payroll.vlt\n",
        Dir / "2012jrnl.bkp: ledger: convert into 2012Ledger.vlt\n",
        Dir / "2013jrnl.bkp: payroll: empty Payroll.vlt (sources missing: ",
        std::string("    bankfile.db: 200 records, old layout: would be upgraded\n"),
        Dir / "2ChkSc.bkp: check schedule: convert into Schedule.vlt\n    chksc.db: cannot be "
              "read: "})
    EXPECT_NE(Plan.find(Line), std::string::npos) << Line << "\n" << Plan;
  EXPECT_EQ(Plan.find("1980jrnl.bkp: ledger"), std::string::npos);

  // Every area planned for conversion gets its database (the unreadable schedule fails and
  // leaves none), and a second plan says skip for each.
  TFakeUI UI;
  {
    TConverter C(UI);
    C.FormCreate();
    C.ConvertData(Dir.Path());
  }
  std::istringstream In(Plan);
  for (std::string L; std::getline(In, L);) {
    const size_t At = L.find(": convert into ");
    if (At == std::string::npos || L.find("2ChkSc.bkp") != std::string::npos) continue;
    const std::string Folder = L.substr(0, L.find(": "));
    const std::string Target = L.substr(At + 15);
    EXPECT_TRUE(FileExists(Folder + "/" + Target)) << L;
    EXPECT_NE(PlanRun(Dir.Path()).find(L.substr(0, At) + ": skip, " + Target + " exists"),
              std::string::npos)
        << L;
  }
  EXPECT_FALSE(FileExists(Dir / "2ChkSc.bkp/Schedule.vlt"));
}

}  // namespace
}  // namespace vlt::app
