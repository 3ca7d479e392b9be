#include "app/conversion/TargetCatalogue.h"

#include <stdexcept>

#include "engine/base/VLTTypes.h"
#include "engine/components/VLTTableAdvDefs.h"

namespace vlt::app {

namespace {

constexpr uint8_t PU = ixPrimary | ixUnique;
constexpr uint8_t U = ixUnique;
constexpr uint8_t CI = ixCaseInsensitive;

// clang-format off
const std::vector<TTargetDatabase> kCatalogue = {
  {TArea::Contributions, "MstrCont", "Contrib", "Qv7#kLm2^dRt9", 512, true, {
    {"Names", "LName:S50 FName:S30 Num:I! ENum:S12 Active:B Rem:B Ys:I Ye:I",
     {{"Main", "LName;FName;Num", PU}, {"i1", "Num", U}}, "Main"},
    {"Addr", "Num:I Type:I Addr1:S50 Addr2:S20 City:S50 State:S10 Zip:S10", {{"Main", "Num;Type", PU}}},
    {"Phone", "Num:I Type:I Phone:S20", {{"Main", "Num;Type", PU}}},
    {"Email", "Num:I Type:I Addr:S40", {{"Main", "Num;Type", PU}}},
    {"Funds", "Pos:I Name:S50! Num:I! Deduct:B Active:B", {{"Main", "Pos;Name;Num", PU}}, "Main"},
    {"Servs", "Pos:I Name:S50! Num:I! Active:B", {{"Main", "Pos;Name;Num", PU}}, "Main"},
    {"Settings", "Code:I Num:I Int:I Flt:D Str:M", {{"Main", "Code;Num", PU}}},
    {"cchng", "LName:S50 FName:S30 Num:I! nnum:I", {{"Main", "LName;FName;Num", PU}}, "Main"},
    {"Schng", "onum:I name:S50 nnum:I", {{"Main", "onum;name", PU}}, "Main"},
    {"Fchng", "onum:I name:S50 nnum:I", {{"Main", "onum;name", PU}}, "Main"},
    {"#cont", "CDate:DT Num:I Service:I Fund:I Amount:C Entrynum:I ChkNum:I",
     {{"Main", "CDate;Num;Service;Fund;Amount;EntryNum;ChkNum", PU}}},
  }},
  {TArea::Payroll, "PDB", "Payroll", "Hx4%pWn8!sZe3", 2048, true, {
    {"DedTEx", "DNum:I TNum:I", {{"Main", "DNum;TNum", PU}}, "Main"},
    {"Deducts", "Name:S28 Num:I BAmt:C BPct:D AAmt:C APct:D", {{"Main", "Name;Num", PU}}, "Main"},
    {"EmpData",
     "ENum:I Num:I LName:S20 FName:S20 MI:S1 SSN:S11 EmpType:I Street:S40 City:S25 St:S2 StNum:I "
     "Zip:S10 Country:S20 CtryNum:I Phone:S13 PayType:I Salary:C OTRate:C MaritalSt:I Dependents:SI "
     "PayPeriod:I IsActive:B E1:I I1:I",
     {{"Main", "ENum;Num", PU}}, "Main"},
    {"EmpDeds", "ENum:I DNum:I BAmt:C BPct:D AAmt:C APct:D E1:I I1:I E2:I I2:I",
     {{"Main", "ENum;DNum", PU}}, "Main"},
    {"EmpWiths", "ENum:I WCat:I SubNum:I WNum:I MS:I Exempts:I Extra:C Exempt:B E1:I I1:I",
     {{"Main", "ENum;WCat;SubNum;WNum", PU}}, "Main"},
    {"PayDD", "ENum:I PNum:I DType:SI DNum:I PYear:I DStart:DT DEnd:DT Amt:C Paid:B",
     {{"Main", "ENum;PNum;DType;DNum", PU}}, "Main"},
    {"Payroll",
     "ENum:I DStart:DT DEnd:DT PNum:I PYear:I Paytype:I PP:I Hrs:D RRate:C Ot:D ORate:C AddPay:C "
     "GrossPay:C TotPreDed:C TotPostDed:C TotWith:C NetPay:C FY:I BA:I Chk:I CDate:DT",
     {{"Main", "ENum;DStart;DEnd;PNum", PU}}, "Main"},
    {"PayTax", "ENum:I PNum:I WCat:I SubNum:I WNum:I PYear:I DStart:DT DEnd:DT Amt:C Paid:B",
     {{"Main", "ENum;PNum;WCat;SubNum;WNum", PU}}, "Main"},
    {"TaxAccts", "WCat:I SubNum:I WPos:I Desc:S20 WNum:I", {{"Main", "WCat;SubNum;WPos;Desc;WNum", PU}}, "Main"},
    {"TimeOff", "ENum:I PNum:I TType:I PYear:I HrsE:I HrsU:I Rate:C Pay:C",
     {{"Main", "ENum;PNum;TType;PYear", PU}, {"i1", "PNum;TType", 0}}, "Main"},
  }},
  {TArea::ChkSch, "ChkSch", "CSchedule", "Mw2^jUq6#vNa8", 512, false, {
    {"Schedule", "t:I d:DT n:S40 num:I a:C fn:S15 pn:S50 bn:S50 f:I p:I b:I", {{"Main", "t;d;n;num", PU}}, "Main"},
  }},
  {TArea::Loans, "Loans", "Loans", "Tb9*rGf5$yKc1", 256, true, {
    {"Loan", "LNum:I LYr:I LName:S50 SDate:DT EDate:DT SBal:C FDate:DT i:I P:S14 CType:I Active:B", {}},
  }},
  {TArea::Ledger, "Ledger", "ML", "Fz3!cPo7&hXi5", 512, true, {
    {"BankInfo", "Pos:I Name:S50 Num:I BBal:C ANum1:S20 ANum2:S20", {{"Main", "Pos;Name;Num", PU, "0;30;0"}}},
    {"BankFile", "AcctNum:I BDate:DT TransType:I TransNum:I Amount:D Reconciled:I Payroll:B Payee:I Invoice:S25",
     {{"Main", "AcctNum;BDate;TransType;TransNum", PU}}},
    {"ExpCats", "Pos:I Name:S50 Num:I", {{"Main", "Pos;Name;Num", PU}}},
    {"ExpGrps", "Cat:I Pos:I Name:S50 Num:I", {{"Main", "Cat;Pos;Name;Num", PU, "0;0;30;0"}}},
    {"ExpAcct", "Cat:I Grp:I Pos:I Name:S50 Num:I Budget:C", {{"Main", "Cat;Grp;Pos;Name;Num", PU, "0;0;0;30;0"}}},
    {"IntCats", "Pos:I Name:S50 Num:I", {{"Main", "Pos;Name;Num", PU}}},
    {"IntAcct", "Cat:I Pos:I Name:S50 Num:I BBal:C", {{"Main", "Cat;Pos;Name;Num", PU, "0;0;30;0"}}},
    {"FYInfo", "FYStart:DT FYEnd:DT", {}},
    {"Payees", "Name:S50 Num:I Addr1:S50 Addr2:S50 City:S50 State:S10 Zip:S10 Country:I Phone:S20 ANum:S20",
     {{"Main", "Name;Num", PU, "30;0"}, {"i2", "Name", CI, "30;0", "Name"}, {"i3", "Num", 0, "0;0"}}},
    {"TranFile", "TDate:DT BAcct:I TType:I TNum:I EAcct:I IAcct:I Num:I ExpCredit:B Amount:D Comment:S37",
     {{"Main", "TDate;BAcct;TType;TNum;EAcct;IAcct;Num", PU}}},
    {"Alloc", "n:I t1:I t2:I t3:I Name:S50", {{"Main", "n;t1;t2", 0}}},
    {"Report", "R:I T:I C:I Name:S50 Code:S10 Num:I O:I", {{"i0", "R", 0}, {"i1", "T,O", 0}}},
  }},
};
// clang-format on

TTargetType TypeOfCode(std::string_view Code, int32_t& Size) {
  Size = 0;
  if (Code == "I") return TTargetType::Integer;
  if (Code == "SI") return TTargetType::Smallint;
  if (Code == "D") return TTargetType::Double;
  if (Code == "B") return TTargetType::Boolean;
  if (Code == "C") return TTargetType::Currency;
  if (Code == "DT") return TTargetType::Date;
  if (Code == "M") return TTargetType::Memo;
  if (Code.size() > 1 && Code[0] == 'S') {
    int32_t N = 0;
    for (char Ch : Code.substr(1)) {
      if (Ch < '0' || Ch > '9') throw std::invalid_argument("bad size");
      N = N * 10 + (Ch - '0');
    }
    if (N > 0) {
      Size = N;
      return TTargetType::String;
    }
  }
  throw std::invalid_argument("bad type");
}

}  // namespace

std::vector<TTargetField> ParseTargetFields(std::string_view Text) {
  std::vector<TTargetField> Out;
  size_t I = 0;
  while (I < Text.size()) {
    if (Text[I] == ' ') {
      ++I;
      continue;
    }
    size_t End = Text.find(' ', I);
    if (End == std::string_view::npos) End = Text.size();
    std::string_view Word = Text.substr(I, End - I);
    I = End;
    const size_t Colon = Word.find(':');
    if (Colon == 0 || Colon == std::string_view::npos)
      throw std::invalid_argument("field \"" + std::string(Word) + "\" has no name or type");
    TTargetField F;
    F.Name = std::string(Word.substr(0, Colon));
    std::string_view Type = Word.substr(Colon + 1);
    if (!Type.empty() && Type.back() == '!') {
      F.Required = true;
      Type.remove_suffix(1);
    }
    try {
      F.Type = TypeOfCode(Type, F.Size);
    } catch (const std::invalid_argument&) {
      throw std::invalid_argument("field \"" + std::string(Word) + "\" has an unknown type");
    }
    Out.push_back(std::move(F));
  }
  return Out;
}

std::vector<TTargetField> TTargetTable::Fields() const {
  return ParseTargetFields(FieldText);
}

std::string TTargetTable::NameFor(int32_t Year) const {
  std::string N = Name;
  if (!N.empty() && N[0] == '#') N = std::to_string(Year) + N.substr(1);
  return N;
}

bool TTargetTable::HasExtendedIndexes() const {
  for (const TTargetIndex& I : Indexes)
    if (I.Extended()) return true;
  return false;
}

const TTargetTable& TTargetDatabase::Table(std::string_view Name) const {
  for (const TTargetTable& T : Tables) {
    if (SameText(T.Name, Name)) return T;
    // Any year's contributions table: digits (or -1) followed by the rest of the name.
    if (T.Name[0] == '#') {
      std::string_view Rest = std::string_view(T.Name).substr(1);
      if (Name.size() > Rest.size() && SameText(Name.substr(Name.size() - Rest.size()), Rest))
        return T;
    }
  }
  throw std::out_of_range("no target table \"" + std::string(Name) + "\"");
}

const std::vector<TTargetDatabase>& TargetCatalogue() {
  return kCatalogue;
}

const TTargetDatabase& TargetDatabase(TArea Area) {
  return kCatalogue.at(static_cast<size_t>(Area));
}

}  // namespace vlt::app
