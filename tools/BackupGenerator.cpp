#include "tools/BackupGenerator.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <fstream>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "app/conversion/ConvertUtil.h"
#include "app/paradox/ParadoxError.h"
#include "app/paradox/ParadoxTable.h"

namespace vlt::tools {

namespace {

using namespace vlt::app;

struct TCol {
  const char* Name;
  char Type;  // A alpha, I long, S short, N number, $ money, L logical, D date
  int Size = 0;
};

using TRow = std::vector<TParadoxValue>;

TParadoxValue I(int64_t V) {
  return TParadoxValue::Integer(V);
}
TParadoxValue S(const std::string& V) {
  return V.empty() ? TParadoxValue::Null() : TParadoxValue::String(V);
}
TParadoxValue C(double V) {
  return TParadoxValue::Currency(V);
}
TParadoxValue F(double V) {
  return TParadoxValue::Floating(V);
}
TParadoxValue B(bool V) {
  return TParadoxValue::Boolean(V);
}
TParadoxValue D(int Y, int M, int Dd) {
  return TParadoxValue::Date(DateToDays({Y, M, Dd}));
}
const TParadoxValue N = TParadoxValue::Null();

TFieldType TypeOf(char T) {
  switch (T) {
    case 'A':
      return ftString;
    case 'I':
      return ftInteger;
    case 'S':
      return ftSmallint;
    case 'N':
      return ftFloat;
    case '$':
      return ftCurrency;
    case 'L':
      return ftBoolean;
    case 'D':
      return ftDate;
  }
  return ftUnknown;
}

class TGenerator {
 public:
  explicit TGenerator(const TBackupGenOptions& O)
      : FOptions(O), FRecords(O.Records), FRng(O.Seed) {}

  void Run(const std::string& Out) {
    MakeDir(Out);
    Contributions(Out + "/2012cont.bkp", false);
    Journal(Out + "/2012jrnl.bkp", 2012, false, true, true);
    Schedule(Out + "/2ChkSc.bkp");
    Loans(Out + "/2Loans.bkp");
    if (FOptions.WithOld) {
      Contributions(Out + "/2011cont.bkp", true);
      Journal(Out + "/2011jrnl.bkp", 2011, true, true, true);
    }
    if (FOptions.EdgeCases) EdgeCases(Out);
  }

 private:
  static void MakeDir(const std::string& P) {
    if (::mkdir(P.c_str(), 0755) != 0 && errno != EEXIST)
      throw EParadoxError("Cannot create folder \"" + P + "\".");
  }

  int Rand(int Lo, int Hi) { return std::uniform_int_distribution<int>(Lo, Hi)(FRng); }
  double Money(int Lo, int Hi) { return Rand(Lo * 100, Hi * 100) / 100.0; }
  TParadoxValue Day(int Year) { return D(Year, Rand(1, 12), Rand(1, 28)); }
  std::string Pick(const std::vector<std::string>& V) {
    return V[static_cast<size_t>(Rand(0, static_cast<int>(V.size()) - 1))];
  }

  // Creates Dir/File with Cols (the first KeyCount form the primary key) and posts Rows;
  // rows that repeat a key are skipped.
  void Table(const std::string& Dir, const std::string& File, const std::vector<TCol>& Cols,
             int KeyCount, const std::vector<TRow>& Rows) {
    MakeDir(Dir);
    TParadoxTable T;
    T.SetDatabaseName(Dir);
    T.SetTableName(File);
    T.SetTableType(ttParadox);
    std::string Key;
    for (const TCol& Col : Cols)
      T.FieldDefs().push_back({Col.Name, TypeOf(Col.Type), Col.Size, false});
    for (int K = 0; K < KeyCount; ++K)
      Key += std::string(K ? ";" : "") + Cols[static_cast<size_t>(K)].Name;
    if (KeyCount > 0) T.IndexDefs().push_back({"", Key, ixPrimary | ixUnique});
    T.CreateTable();
    T.Open();
    for (const TRow& R : Rows) {
      T.Append();
      for (size_t K = 0; K < R.size() && K < Cols.size(); ++K)
        T.Fields(static_cast<int>(K)).SetAsVariant(R[K]);
      try {
        T.Post();
      } catch (const EParadoxError&) {
        T.Cancel();
      }
    }
    T.Close();
  }

  const std::vector<std::string> kLast = {"Smith",
                                          "Johnson",
                                          "O'Brien",
                                          "Garc\xED"
                                          "a",
                                          "Nguyen",
                                          "Miller",
                                          "D'Angelo",
                                          "Brown"};
  const std::vector<std::string> kFirst = {"Mary", "John", "Ren\xE9", "Anne",
                                           "Paul", "Li",   "Zo\xEB",  ""};
  const std::vector<std::string> kCity = {"Springfield", "Riverside", "Fairview", "Salem"};

  void Contributions(const std::string& Dir, bool Old) {
    MakeDir(Dir);
    // Services: two share number 1, one shares 3, one has a blank name, one a quote.
    std::vector<TRow> Servs = {{I(0), S("Morning"), I(1)},        {I(1), S("Evening"), I(1)},
                               {I(2), S("St. Mary's Day"), I(3)}, {I(3), S(""), I(4)},
                               {I(4), S("Youth"), I(3)},          {I(5), S("   "), I(6)}};
    std::vector<TRow> Funds = {{I(0), S("General"), I(1), B(true)},
                               {I(1), S("Building"), I(1), B(true)},
                               {I(2), S("Missions"), I(2), B(false)},
                               {I(3), S(""), I(5), B(true)},
                               {I(4), S("Widow's Mite"), I(50), B(true)}};
    if (FOptions.Services > 0) Servs = NumberedRows(FOptions.Services, "Service", false);
    if (FOptions.Funds > 0) Funds = NumberedRows(FOptions.Funds, "Fund", true);
    std::vector<TRow> Names;
    int People = FOptions.Contributors > 0 ? FOptions.Contributors : std::max(5, FRecords / 10);
    for (int P = 1; P <= People; ++P) {
      TRow R = {S(Pick(kLast)),
                S(Pick(kFirst)),
                I(P),
                S(std::to_string(P) + " Church St"),
                S(P % 4 == 0 ? "Apt 2" : ""),
                S(Pick(kCity)),
                S("ST"),
                S("1234" + std::to_string(P % 10)),
                S("555-01" + std::to_string(P % 100)),
                B(P % 3 == 0),
                S("E" + std::to_string(P)),
                S(P % 2 ? "p" + std::to_string(P) + "@example.org" : "")};
      Names.push_back(R);
    }
    std::vector<TRow> Gifts;
    const int GiftCount = FOptions.Gifts > 0 ? FOptions.Gifts : FRecords;
    for (int G = 0; G < GiftCount; ++G) {
      uint32_t Entry = static_cast<uint32_t>(Rand(0, 255)) |
                       (static_cast<uint32_t>(Rand(0, 1048575)) << 8) |
                       (static_cast<uint32_t>(Rand(0, 15)) << 28);
      if (G == 0) Entry = 0x12345678u;
      const int LastServ = static_cast<int>(Servs.size()) - 1,
                LastFund = static_cast<int>(Funds.size()) - 1;
      Gifts.push_back({Day(2012), I(Rand(1, People)),
                       Servs[static_cast<size_t>(Rand(0, LastServ))][2],
                       Funds[static_cast<size_t>(Rand(0, LastFund))][2], C(Money(1, 500)),
                       I(static_cast<int32_t>(Entry))});
    }
    if (!Old) {
      auto Cols = [](int T) {
        std::vector<TCol> V;
        for (const TParadoxLayoutField& Fl : ParadoxLayouts()[static_cast<size_t>(T)].Fields)
          V.push_back({Fl.Name,
                       Fl.Type == ftString     ? 'A'
                       : Fl.Type == ftInteger  ? 'I'
                       : Fl.Type == ftCurrency ? '$'
                       : Fl.Type == ftFloat    ? 'N'
                       : Fl.Type == ftBoolean  ? 'L'
                                               : 'D',
                       Fl.Size});
        return V;
      };
      Table(Dir, "contfile.db", Cols(10), 6, Gifts);
      Table(Dir, "Funds.db", Cols(11), 3, Funds);
      Table(Dir, "servs.db", Cols(12), 3, Servs);
      Table(Dir, "CONTNAME.DB", Cols(13), 3, Names);
      return;
    }
    Table(Dir, "contfile.db",
          {{"ContDate", 'D'},
           {"Num", 'I'},
           {"Service", 'I'},
           {"Fund", 'I'},
           {"Amount", '$'},
           {"EntryNum", 'I'}},
          6, Gifts);
    Table(Dir, "funds.db", {{"FundPos", 'I'}, {"Name", 'A', 50}, {"Num", 'I'}, {"Deduct", 'L'}}, 3,
          Funds);
    Table(Dir, "servs.db", {{"PosNum", 'I'}, {"Name", 'A', 50}, {"Num", 'I'}}, 3, Servs);
    std::vector<TRow> Old10;
    for (const TRow& R : Names)
      Old10.push_back({R[0], R[1], R[2], R[3], R[5], R[6], R[7], R[8], R[9], R[10]});
    Table(Dir, "contname.db",
          {{"Lname", 'A', 50},
           {"FName", 'A', 30},
           {"Num", 'I'},
           {"Addr1", 'A', 50},
           {"City", 'A', 50},
           {"State", 'A', 10},
           {"Zip", 'A', 10},
           {"Phone", 'A', 20},
           {"Print", 'L'},
           {"Enum", 'A', 12}},
          3, Old10);
  }

  void Journal(const std::string& Dir, int Year, bool Old, bool WithPayroll, bool WithAlloc) {
    MakeDir(Dir);
    const int Emp = FOptions.Employees > 0 ? FOptions.Employees : std::max(3, FRecords / 40);
    const int Periods = FOptions.Periods > 0 ? FOptions.Periods : 4;
    const int Transactions = FOptions.Transactions > 0 ? FOptions.Transactions : FRecords;
    const int PayeeCount = FOptions.Payees > 0 ? FOptions.Payees : 5;
    // Payroll (same layouts in every release). The first DedTEx record has an empty first field.
    std::vector<TRow> DedTex = {{N, I(9)}}, Deducts, EmpData, EmpDeds, EmpWiths, PayDD, Payroll,
                      PayTax, TaxAccts;
    for (int K = 1; K <= 4; ++K) DedTex.push_back({I(K), I(K + 1)});
    // Without a key the old table can hold a pair twice; the second copy cannot be written.
    if (FOptions.EdgeCases) DedTex.insert(DedTex.end(), {{I(7), I(9)}, {I(7), I(9)}});
    for (int K = 1; K <= 5; ++K)
      Deducts.push_back({S(K == 3 ? "Employee's Fund" : "Deduction " + std::to_string(K)), I(K),
                         C(Money(0, 50)), F(Rand(0, 10) / 2.0), C(Money(0, 50)), F(Rand(0, 5))});
    for (int E = 1; E <= Emp; ++E) {
      EmpData.push_back({I(E),
                         I(E),
                         S(Pick(kLast)),
                         S(Pick(kFirst)),
                         S("Q"),
                         S("000-00-" + std::to_string(1000 + E)),
                         I(E % 3),
                         S(std::to_string(E) + " Elm"),
                         S(Pick(kCity)),
                         S("ST"),
                         I(12),
                         S("98765"),
                         S("USA"),
                         I(1),
                         S("555-0100"),
                         I(E % 2),
                         C(Money(20000, 60000)),
                         C(Money(10, 40)),
                         I(E % 2),
                         I(E % 4),
                         I(26),
                         B(E % 5 != 0),
                         I(0),
                         I(0)});
      for (int K = 1; K <= 2; ++K) {
        EmpDeds.push_back({I(E), I(K), C(Money(0, 50)), F(0), C(0), F(0), I(0), I(0), I(0), I(0)});
        EmpWiths.push_back(
            {I(E), I(K), I(0), I(K), I(E % 2), I(E % 3), C(0), B(false), I(0), I(0)});
      }
      for (int P = 1; P <= Periods; ++P) {
        const int32_t Start = DateToDays({Year, 1, 1}) + (P - 1) * 7;
        TParadoxValue From = TParadoxValue::Date(Start), To = TParadoxValue::Date(Start + 6);
        Payroll.push_back({I(E),    From,        To,    I(P),          I(Year), I(1),
                           I(26),   F(80),       C(20), F(Rand(0, 8)), C(30),   C(0),
                           C(1600), C(50),       C(20), C(300),        C(1230), I(Year),
                           I(1),    I(1000 + P), To});
        PayDD.push_back(
            {I(E), I(P), TParadoxValue::Integer(1), I(1), I(Year), From, To, C(50), B(true)});
        PayTax.push_back(
            {I(E), I(P), I(1), I(0), I(1), I(Year), From, To, C(Money(50, 200)), B(true)});
      }
    }
    for (int K = 1; K <= 4; ++K)
      TaxAccts.push_back({I(1), I(0), I(K), S("Tax " + std::to_string(K)), I(K)});
    if (WithPayroll) {
      Table(Dir, "DEDTEX.DB", {{"DNum", 'I'}, {"TNum", 'I'}}, FOptions.EdgeCases ? 0 : 2, DedTex);
      Table(Dir, "Deducts.db",
            {{"DName", 'A', 28},
             {"Num", 'I'},
             {"BAmt", '$'},
             {"BPct", 'N'},
             {"AAmt", '$'},
             {"APct", 'N'}},
            2, Deducts);
      Table(Dir, "EMPDATA.DB",
            {{"ENum", 'I'},        {"Num", 'I'},      {"LName", 'A', 20}, {"FName", 'A', 20},
             {"MI", 'A', 1},       {"SSN", 'A', 11},  {"EmpType", 'I'},   {"Street", 'A', 40},
             {"City", 'A', 25},    {"St", 'A', 2},    {"StNum", 'I'},     {"Zip", 'A', 10},
             {"Country", 'A', 20}, {"CtryNum", 'I'},  {"Phone", 'A', 13}, {"PayType", 'I'},
             {"Salary", '$'},      {"OTRate", '$'},   {"MaritalSt", 'I'}, {"Dependents", 'S'},
             {"PayPeriod", 'I'},   {"IsActive", 'L'}, {"E1", 'I'},        {"I1", 'I'}},
            2, EmpData);
      Table(Dir, "EmpDeds.db",
            {{"ENum", 'I'},
             {"DNum", 'I'},
             {"BAmt", '$'},
             {"BPct", 'N'},
             {"AAmt", '$'},
             {"APct", 'N'},
             {"E1", 'I'},
             {"I1", 'I'},
             {"E2", 'I'},
             {"I2", 'I'}},
            2, EmpDeds);
      Table(Dir, "EMPWITHS.DB",
            {{"ENum", 'I'},
             {"WCat", 'I'},
             {"SubNum", 'I'},
             {"WNum", 'I'},
             {"MS", 'I'},
             {"Exempts", 'I'},
             {"Extra", '$'},
             {"Exempt", 'L'},
             {"E1", 'I'},
             {"I1", 'I'}},
            4, EmpWiths);
      Table(Dir, "paydd.db",
            {{"ENum", 'I'},
             {"PNum", 'I'},
             {"DType", 'S'},
             {"DNum", 'I'},
             {"PYear", 'I'},
             {"DStart", 'D'},
             {"DEnd", 'D'},
             {"Amt", '$'},
             {"Paid", 'L'}},
            4, PayDD);
      Table(Dir, "PAYROLL.DB",
            {{"ENum", 'I'},     {"DStart", 'D'},    {"DEnd", 'D'},       {"PNum", 'I'},
             {"PYear", 'I'},    {"Paytype", 'I'},   {"PP", 'I'},         {"Hrs", 'N'},
             {"RRate", '$'},    {"Ot", 'N'},        {"ORate", '$'},      {"AddPay", '$'},
             {"GrossPay", '$'}, {"TotPreDed", '$'}, {"TotPostDed", '$'}, {"TotWith", '$'},
             {"NetPay", '$'},   {"FY", 'I'},        {"BA", 'I'},         {"Chk", 'I'},
             {"CDate", 'D'}},
            4, Payroll);
      Table(Dir, "PayTax.db",
            {{"ENum", 'I'},
             {"PNum", 'I'},
             {"WCat", 'I'},
             {"SubNum", 'I'},
             {"WNum", 'I'},
             {"PYear", 'I'},
             {"DStart", 'D'},
             {"DEnd", 'D'},
             {"Amt", '$'},
             {"Paid", 'L'}},
            5, PayTax);
      Table(Dir, "TAXACCTS.DB",
            {{"WCat", 'I'}, {"SubNum", 'I'}, {"WPos", 'I'}, {"Desc", 'A', 20}, {"WNum", 'I'}}, 5,
            TaxAccts);
    }

    // Ledger.
    std::vector<TRow> BankInfo = {{I(0), S("Checking"), I(1), C(1500.25), S("12-345"), S("")},
                                  {I(1), S("Savings"), I(2), C(20000), S(""), S("")}};
    std::vector<TRow> ExpCats = {{I(0), S("Operations"), I(1)}, {I(1), S("Ministry"), I(2)}};
    std::vector<TRow> ExpGrps = {{I(1), I(0), S("Utilities"), I(10)},
                                 {I(1), I(1), S("Building"), I(11)},
                                 {I(2), I(0), S("Youth"), I(12)}};
    std::vector<TRow> ExpAcct, IntCats = {{I(0), S("Offerings"), I(1)}, {I(1), S("Other"), I(2)}},
                               IntAcct, Payees, Tran, Bank;
    for (int K = 0; K < 6; ++K)
      ExpAcct.push_back({I(1 + K % 2), I(10 + K % 3), I(K), S("Account " + std::to_string(K)),
                         I(100 + K), C(Money(100, 5000))});
    for (int K = 0; K < 4; ++K)
      IntAcct.push_back(
          {I(1 + K % 2), I(K), S("Income " + std::to_string(K)), I(200 + K), C(Money(0, 100))});
    for (int K = 0; K < PayeeCount; ++K)
      Payees.push_back({S(K == 2 ? "O'Malley's Hardware" : "Payee " + std::to_string(K)), I(K + 1),
                        S(std::to_string(K) + " Oak"), S(""), S(Pick(kCity)), S("ST"), S("55555"),
                        I(0), S("555-0199"), S("A" + std::to_string(K))});
    for (int K = 0; K < Transactions; ++K) {
      TParadoxValue Dt = Day(Year);
      int Acct = Rand(1, 2), Type = Rand(0, 3), Num = K + 1;
      Tran.push_back({Dt, I(Acct), I(Type), I(Num), I(0), I(10), I(100 + Rand(0, 5)), I(0),
                      I(200 + Rand(0, 3)), I(Rand(0, 5)), B(Rand(0, 1) == 1), F(Money(-500, 500)),
                      S(K % 7 == 0 ? "Note, with comma" : "")});
      Bank.push_back({I(Acct), Dt, I(Type), I(Num), F(Money(-500, 500)), I(Rand(0, 1)),
                      B(Rand(0, 1) == 1), I(Rand(1, 5))});
    }
    std::vector<TRow> Fy = {{D(Year, 1, 1), D(Year, 12, 31)}};
    if (!Old) {
      Table(Dir, "BANKINFO.DB",
            {{"Pos", 'I'},
             {"Name", 'A', 50},
             {"Num", 'I'},
             {"BBal", '$'},
             {"Anum1", 'A', 20},
             {"Anum2", 'A', 20}},
            3, BankInfo);
      Table(Dir, "BankFile.db",
            {{"AcctNum", 'I'},
             {"BDate", 'D'},
             {"TransType", 'I'},
             {"TransNum", 'I'},
             {"Amount", 'N'},
             {"Reconciled", 'I'},
             {"Payroll", 'L'},
             {"Payee", 'I'}},
            4, Bank);
      Table(Dir, "expcats.db", {{"Pos", 'I'}, {"Name", 'A', 50}, {"Num", 'I'}}, 3, ExpCats);
      Table(Dir, "EXPGRPS.DB", {{"Cat", 'I'}, {"Pos", 'I'}, {"Name", 'A', 50}, {"Num", 'I'}}, 4,
            ExpGrps);
      Table(Dir, "expacct.db",
            {{"Cat", 'I'},
             {"Group", 'I'},
             {"Pos", 'I'},
             {"Name", 'A', 50},
             {"Num", 'I'},
             {"Budget", '$'}},
            5, ExpAcct);
      Table(Dir, "IntCats.db", {{"Pos", 'I'}, {"Name", 'A', 50}, {"Num", 'I'}}, 3, IntCats);
      Table(Dir, "intacct.db",
            {{"Cat", 'I'}, {"Pos", 'I'}, {"Name", 'A', 50}, {"Num", 'I'}, {"BBal", '$'}}, 4,
            IntAcct);
      Table(Dir, "PAYEES.DB",
            {{"Name", 'A', 50},
             {"Num", 'I'},
             {"Addr1", 'A', 50},
             {"Addr2", 'A', 50},
             {"City", 'A', 50},
             {"State", 'A', 10},
             {"Zip", 'A', 10},
             {"Country", 'I'},
             {"Phone", 'A', 20},
             {"ANum", 'A', 20}},
            2, Payees);
    } else {
      std::vector<TRow> BankOld, GrpOld, AcctOld, IntCOld, IntAOld, PayOld, CatOld, InfoOld;
      for (const TRow& R : Bank)
        BankOld.push_back({R[0], R[1], R[2], R[3], R[4], B(R[5].Int != 0), I(0), R[6], R[7]});
      for (const TRow& R : ExpGrps) GrpOld.push_back({R[0], R[2], R[3]});
      for (const TRow& R : ExpAcct) AcctOld.push_back({R[0], R[1], R[2], R[3], R[4], I(0), R[5]});
      for (const TRow& R : IntCats) IntCOld.push_back({R[0], R[1], R[2], I(0), I(0)});
      for (const TRow& R : IntAcct) IntAOld.push_back({R[0], R[1], R[2], R[3], R[4], I(0)});
      for (const TRow& R : Payees)
        PayOld.push_back({R[0], R[2], R[4], R[5], R[6], R[8], N, N, R[1], R[9], N});
      for (const TRow& R : ExpCats) CatOld.push_back({R[0], R[1], R[2], I(0)});
      for (const TRow& R : BankInfo) InfoOld.push_back({R[0], R[1], R[2], R[3]});
      Table(Dir, "bankinfo.db", {{"Pos", 'I'}, {"Name", 'A', 50}, {"Num", 'I'}, {"BBal", '$'}}, 3,
            InfoOld);
      Table(Dir, "bankfile.db",
            {{"AcctNum", 'I'},
             {"BDate", 'D'},
             {"TransType", 'I'},
             {"TransNum", 'I'},
             {"Amount", 'N'},
             {"Reconciled", 'L'},
             {"Cleared", 'I'},
             {"Payroll", 'L'},
             {"Payee", 'I'}},
            4, BankOld);
      Table(Dir, "expcats.db", {{"Pos", 'I'}, {"Name", 'A', 50}, {"Num", 'I'}, {"Spare", 'I'}}, 3,
            CatOld);
      Table(Dir, "expgrps.db", {{"Cat", 'I'}, {"Name", 'A', 50}, {"Num", 'I'}}, 0, GrpOld);
      Table(Dir, "expacct.db",
            {{"Cat", 'I'},
             {"Group", 'I'},
             {"Pos", 'I'},
             {"Name", 'A', 50},
             {"Num", 'I'},
             {"OldBudget", 'I'},
             {"Budget", '$'}},
            5, AcctOld);
      Table(Dir, "intcats.db",
            {{"Pos", 'I'}, {"Name", 'A', 50}, {"Num", 'I'}, {"X1", 'I'}, {"X2", 'I'}}, 3, IntCOld);
      Table(
          Dir, "intacct.db",
          {{"Cat", 'I'}, {"Pos", 'I'}, {"Name", 'A', 50}, {"Num", 'I'}, {"BBal", '$'}, {"X", 'I'}},
          4, IntAOld);
      Table(Dir, "payees.db",
            {{"Name", 'A', 50},
             {"Addr1", 'A', 50},
             {"City", 'A', 50},
             {"State", 'A', 10},
             {"Zip", 'A', 10},
             {"Phone", 'A', 20},
             {"X7", 'A', 10},
             {"X8", 'A', 10},
             {"Num", 'I'},
             {"ANum", 'A', 20},
             {"X11", 'I'}},
            0, PayOld);
    }
    Table(Dir, "FYINFO.DB", {{"Fystart", 'D'}, {"Fyend", 'D'}}, 0, Fy);
    Table(Dir, "tranfile.db",
          {{"TransDate", 'D'},
           {"BankAccountNum", 'I'},
           {"TransType", 'I'},
           {"TransNum", 'I'},
           {"ExpAccountType", 'I'},
           {"ExpGroupNum", 'I'},
           {"ExpAccountNum", 'I'},
           {"IntAccountType", 'I'},
           {"IntAccountNum", 'I'},
           {"Num", 'I'},
           {"ExpCredit", 'L'},
           {"Amount", 'N'},
           {"Comment", 'A', 30}},
          10, Tran);
    if (WithAlloc)
      Table(Dir, "Alloc.db", {{"n", 'I'}, {"t1", 'I'}, {"t2", 'I'}, {"t3", 'I'}, {"name", 'A', 50}},
            0, {{I(1), I(1), I(2), I(3), S("Split")}, {I(2), I(2), I(2), I(2), S("")}});
    if (WithAlloc)
      Table(Dir, "report.db",
            {{"R", 'I'},
             {"T", 'I'},
             {"C", 'I'},
             {"Name", 'A', 50},
             {"Code", 'A', 10},
             {"Num", 'I'},
             {"O", 'I'}},
            0,
            {{I(1), I(1), I(0), S("Income"), S("INC"), I(1), I(0)},
             {I(1), I(2), I(0), S("Expense"), S("EXP"), I(2), I(1)}});
  }

  void Schedule(const std::string& Dir) {
    std::vector<TRow> Rows;
    for (int K = 0; K < std::max(4, FRecords / 4); ++K)
      Rows.push_back({I(K % 2), Day(2012), S("Payment " + std::to_string(K)), I(K),
                      C(Money(10, 900)), S("F" + std::to_string(K % 3)), S("Payee"), S("Bank"),
                      I(K == 0 ? 1029 : Rand(0, 4000)), I(Rand(0, 9)), I(Rand(0, 9))});
    Rows.push_back({N, Day(2012), S("empty first field"), I(999), C(1), S(""), S(""), S(""), I(0),
                    I(0), I(0)});
    if (FOptions.EdgeCases)
      Rows.push_back({I(1), D(2012, 5, 5), S("kept flags"), I(1029), C(5), S(""), S(""), S(""),
                      I(1029), I(0), I(0)});
    Table(Dir, "chksc.db",
          {{"t", 'I'},
           {"d", 'D'},
           {"n", 'A', 40},
           {"num", 'I'},
           {"a", '$'},
           {"fn", 'A', 15},
           {"pn", 'A', 50},
           {"bn", 'A', 50},
           {"f", 'I'},
           {"p", 'I'},
           {"b", 'I'}},
          4, Rows);
  }

  void Loans(const std::string& Dir) {
    std::vector<TRow> Rows;
    for (int K = 1; K <= std::max(3, FRecords / 8); ++K)
      Rows.push_back({I(K), I(2012),
                      S(K == 2 ? "St. Paul's Mortgage" : "Loan " + std::to_string(K)),
                      D(2010, 1 + K % 12, 1), D(2030, 1 + K % 12, 1), C(Money(1000, 250000)),
                      D(2010, 2, 1), I(Rand(1, 8)), S("4.25%"), I(K % 3)});
    Rows.push_back({N, I(2012), S("empty first field"), N, N, N, N, N, N, N});
    Table(Dir, "LOAN.DB",
          {{"LNum", 'I'},
           {"LYr", 'I'},
           {"LName", 'A', 50},
           {"SDate", 'D'},
           {"EDate", 'D'},
           {"SBal", '$'},
           {"FDate", 'D'},
           {"i", 'I'},
           {"P", 'A', 14},
           {"CType", 'I'}},
          0, Rows);
  }

  // Count services or funds; with SharedNumbers the first quarter come in pairs that share a
  // number.
  std::vector<TRow> NumberedRows(int Count, const std::string& Prefix, bool Funds) {
    std::vector<TRow> Rows;
    const int Shared = FOptions.SharedNumbers ? Count / 4 : 0;
    for (int K = 0; K < Count; ++K) {
      const int Num = K < Shared ? 1 + K / 2 : 1 + K;
      TRow R = {I(K), S(Prefix + " " + std::to_string(K)), I(Num)};
      if (Funds) R.push_back(B(K % 2 == 0));
      Rows.push_back(R);
    }
    return Rows;
  }

  static void WriteText(const std::string& Path, const std::string& Text) {
    std::ofstream Out(Path, std::ios::binary);
    Out << Text;
    if (!Out) throw EParadoxError("Cannot write \"" + Path + "\".");
  }

  // Folders and files for the cases the conversions must get right besides the usual data.
  void EdgeCases(const std::string& Out) {
    const std::string Jrnl = Out + "/2012jrnl.bkp";
    WriteText(Jrnl + "/backup.fl", "backup flag\r\n");
    MakeDir(Jrnl + "/payroll.dir");
    WriteText(Jrnl + "/payroll.dir/pdfile.txt", "pay data 2012\r\n");
    MakeDir(Jrnl + "/mstrldgr.dir");
    WriteText(Jrnl + "/mstrldgr.dir/pdfile.txt", "stale\r\n");
    // A year before 1981: payroll only. A journal without payroll tables, Alloc or Report.
    Journal(Out + "/1980jrnl.bkp", 1980, false, true, true);
    Journal(Out + "/2013jrnl.bkp", 2013, false, false, false);
    // Not backup folders: an upper-case ending, and a file.
    MakeDir(Out + "/ABC.BKP");
    WriteText(Out + "/x.bkp", "not a folder");
  }

  TBackupGenOptions FOptions;
  int FRecords;
  std::mt19937 FRng;
};

}  // namespace

void GenerateBackups(const std::string& Out, const TBackupGenOptions& Options) {
  TGenerator(Options).Run(Out);
}

}  // namespace vlt::tools
