// The payroll database from end to end: all ten tables with their fields and indexes created
// through the components, filled with a few thousand rows, closed, compacted, reopened with the
// password and read back value by value; vltdb check must find the file sound.
#include <sys/wait.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <sstream>

#include "engine/components/VLTTable.h"
#include "tests/components/VLTComponentTestUtil.h"

namespace vlt::test {
namespace {

constexpr const char* kPassword = "Hx4%pWn8!sZe3";

struct TIndexSpec {
  const char* Name;
  const char* Fields;
  uint8_t Options;
};

struct TTableSpec {
  const char* Name;
  const char* Fields;  // NAME:TYPE separated by blanks; TYPE is I, SI, S<size>, C, D, DT or B
  std::vector<TIndexSpec> Indexes;
  int32_t Rows;
};

constexpr uint8_t kPU = ixPrimary | ixUnique;

// The payroll database in creation order. Every primary key starts with the first field, which
// the rows fill with a value unique per row.
const std::vector<TTableSpec>& Catalogue() {
  static const std::vector<TTableSpec> C = {
      {"DedTEx", "DNum:I TNum:I", {{"Main", "DNum;TNum", kPU}}, 40},
      {"Deducts", "Name:S28 Num:I BAmt:C BPct:D AAmt:C APct:D", {{"Main", "Name;Num", kPU}}, 40},
      {"EmpData",
       "ENum:I Num:I LName:S20 FName:S20 MI:S1 SSN:S11 EmpType:I Street:S40 City:S25 St:S2 "
       "StNum:I Zip:S10 Country:S20 CtryNum:I Phone:S13 PayType:I Salary:C OTRate:C MaritalSt:I "
       "Dependents:SI PayPeriod:I IsActive:B E1:I I1:I",
       {{"Main", "ENum;Num", kPU}},
       200},
      {"EmpDeds", "ENum:I DNum:I BAmt:C BPct:D AAmt:C APct:D E1:I I1:I E2:I I2:I",
       {{"Main", "ENum;DNum", kPU}},
       300},
      {"EmpWiths", "ENum:I WCat:I SubNum:I WNum:I MS:I Exempts:I Extra:C Exempt:B E1:I I1:I",
       {{"Main", "ENum;WCat;SubNum;WNum", kPU}},
       300},
      {"PayDD", "ENum:I PNum:I DType:SI DNum:I PYear:I DStart:DT DEnd:DT Amt:C Paid:B",
       {{"Main", "ENum;PNum;DType;DNum", kPU}},
       400},
      {"Payroll",
       "ENum:I DStart:DT DEnd:DT PNum:I PYear:I Paytype:I PP:I Hrs:D RRate:C Ot:D ORate:C "
       "AddPay:C GrossPay:C TotPreDed:C TotPostDed:C TotWith:C NetPay:C FY:I BA:I Chk:I CDate:DT",
       {{"Main", "ENum;DStart;DEnd;PNum", kPU}},
       800},
      {"PayTax", "ENum:I PNum:I WCat:I SubNum:I WNum:I PYear:I DStart:DT DEnd:DT Amt:C Paid:B",
       {{"Main", "ENum;PNum;WCat;SubNum;WNum", kPU}},
       800},
      {"TaxAccts", "WCat:I SubNum:I WPos:I Desc:S20 WNum:I",
       {{"Main", "WCat;SubNum;WPos;Desc;WNum", kPU}},
       40},
      {"TimeOff", "ENum:I PNum:I TType:I PYear:I HrsE:I HrsU:I Rate:C Pay:C",
       {{"Main", "ENum;PNum;TType;PYear", kPU}, {"i1", "PNum;TType", 0}},
       200},
  };
  return C;
}

struct TFieldSpec {
  std::string Name, Type;
  int32_t Size = 0;
  bool Indexed = false;
};

std::vector<TFieldSpec> FieldsOf(const TTableSpec& T) {
  std::vector<TFieldSpec> Out;
  std::istringstream In(T.Fields);
  std::string Item;
  while (In >> Item) {
    TFieldSpec F;
    const size_t Colon = Item.find(':');
    F.Name = Item.substr(0, Colon);
    F.Type = Item.substr(Colon + 1);
    if (F.Type[0] == 'S' && F.Type != "SI") {
      F.Size = std::stoi(F.Type.substr(1));
      F.Type = "S";
    }
    for (const auto& I : T.Indexes)
      if ((";" + std::string(I.Fields) + ";").find(";" + F.Name + ";") != std::string::npos)
        F.Indexed = true;
    Out.push_back(F);
  }
  return Out;
}

std::unique_ptr<TVLTField> MakeField(const TFieldSpec& F) {
  if (F.Type == "I") return std::make_unique<TVLTIntegerField>(F.Name);
  if (F.Type == "SI") return std::make_unique<TVLTSmallintField>(F.Name);
  if (F.Type == "S") return std::make_unique<TVLTStringField>(F.Name, F.Size);
  if (F.Type == "C") return std::make_unique<TVLTCurrencyField>(F.Name);
  if (F.Type == "D") return std::make_unique<TVLTFloatField>(F.Name);
  if (F.Type == "DT") return std::make_unique<TVLTDateField>(F.Name);
  return std::make_unique<TVLTBooleanField>(F.Name);
}

// The value of field number FieldNo in row Row: unique per row in the first field, NULL now and
// then outside the indexes.
bool IsNullValue(const TFieldSpec& F, int32_t Row, int32_t FieldNo) {
  return !F.Indexed && (Row + FieldNo) % 13 == 0;
}
std::string StringValue(const TFieldSpec& F, int32_t Row, int32_t FieldNo) {
  char Buf[32];
  if (FieldNo == 0)
    std::snprintf(Buf, sizeof Buf, "R%05d", Row);
  else
    std::snprintf(Buf, sizeof Buf, "v%d", Row * 11 + FieldNo);
  return std::string(Buf).substr(0, static_cast<size_t>(F.Size));
}
int32_t IntValue(const TFieldSpec& F, int32_t Row, int32_t FieldNo) {
  if (FieldNo == 0) return Row + 1;
  return F.Type == "SI" ? (Row * 3 + FieldNo) % 30000 - 15000 : (Row * 7 + FieldNo * 31) % 100000;
}
double FloatValue(const TFieldSpec& F, int32_t Row, int32_t FieldNo) {
  if (F.Type == "C") return (Row * 137 + FieldNo) / 100.0;
  if (F.Type == "DT") return 36526 + Row % 5000 + FieldNo;
  return Row * 0.5 + FieldNo / 8.0;
}

void SetValue(TVLTField& Field, const TFieldSpec& F, int32_t Row, int32_t FieldNo) {
  if (IsNullValue(F, Row, FieldNo)) return;
  if (F.Type == "I" || F.Type == "SI")
    Field.SetAsInteger(IntValue(F, Row, FieldNo));
  else if (F.Type == "S")
    Field.SetAsString(StringValue(F, Row, FieldNo));
  else if (F.Type == "C")
    Field.SetAsCurrency(FloatValue(F, Row, FieldNo));
  else if (F.Type == "DT")
    Field.SetAsDateTime(FloatValue(F, Row, FieldNo));
  else if (F.Type == "D")
    Field.SetAsFloat(FloatValue(F, Row, FieldNo));
  else
    Field.SetAsBoolean((Row + FieldNo) % 2 == 0);
}

// The differences between the field and the value of row Row ("" when it holds that value).
std::string Mismatch(const TVLTField& Field, const TFieldSpec& F, int32_t Row, int32_t FieldNo) {
  const std::string Where = F.Name + " of row " + std::to_string(Row) + ": ";
  if (IsNullValue(F, Row, FieldNo)) return Field.IsNull() ? "" : Where + "not NULL";
  if (Field.IsNull()) return Where + "NULL";
  bool Same;
  if (F.Type == "I" || F.Type == "SI")
    Same = Field.AsInteger() == IntValue(F, Row, FieldNo);
  else if (F.Type == "S")
    Same = Field.AsString() == StringValue(F, Row, FieldNo);
  else if (F.Type == "C")
    Same = std::abs(Field.AsCurrency() - FloatValue(F, Row, FieldNo)) < 1e-9;
  else if (F.Type == "DT")
    Same = Field.AsDateTime() == FloatValue(F, Row, FieldNo);
  else if (F.Type == "D")
    Same = Field.AsFloat() == FloatValue(F, Row, FieldNo);
  else
    Same = Field.AsBoolean() == ((Row + FieldNo) % 2 == 0);
  return Same ? "" : Where + "holds " + Field.AsString();
}

class PayrollEndToEndTest : public TComponentTest {
 protected:
  TVLTDatabase& PayrollDatabase(const std::string& Name) {
    TVLTDatabase& Db = NewDatabase(Name, kPassword);
    Db.FPageSize = 2048;
    return Db;
  }

  static std::unique_ptr<TVLTTable> TableComponent(const std::string& DbName, const TTableSpec& S) {
    auto T = std::make_unique<TVLTTable>();
    T->SetDatabaseName(DbName);
    T->SetTableName(S.Name);
    for (const auto& F : FieldsOf(S)) T->AddField(MakeField(F));
    for (const auto& I : S.Indexes) T->IndexDefs.push_back({I.Name, I.Fields, "", "", I.Options});
    return T;
  }
};

TEST_F(PayrollEndToEndTest, BuildCompactReopenAndCheck) {
  TVLTDatabase& Db = PayrollDatabase("Payroll");
  Db.CreateDatabase();
  Db.Open();
  for (const auto& S : Catalogue()) {
    auto T = TableComponent("Payroll", S);
    T->CreateTable();
    T->SetIndexName("Main");
    T->Open();
    const auto Fields = FieldsOf(S);
    for (int32_t Row = 0; Row < S.Rows; ++Row) {
      T->Append();
      for (int32_t F = 0; F < static_cast<int32_t>(Fields.size()); ++F)
        SetValue(T->Fields(F), Fields[F], Row, F);
      T->Post();
    }
    ASSERT_EQ(T->RecordCount(), S.Rows) << S.Name;
  }
  Db.Close();
  ASSERT_TRUE(Db.CompactDatabase());
  EXPECT_FALSE(FileExists(FileName + ".tmp"));

  TVLTDatabase& Again = PayrollDatabase("Reopened");
  Again.FPageSize = 4096;  // the file's own values rule after opening
  Again.Open();
  EXPECT_EQ(Again.FPageSize, 2048);
  EXPECT_EQ(Again.FCryptoAlgorithm, craRijndael_256);
  std::vector<std::string> Names;
  Again.GetTablesList(Names);
  EXPECT_EQ(Names.size(), Catalogue().size());
  for (const auto& S : Catalogue()) {
    SCOPED_TRACE(S.Name);
    EXPECT_TRUE(Again.TableExists(S.Name));
    auto T = TableComponent("Reopened", S);
    T->SetIndexName("Main");
    T->Open();
    ASSERT_EQ(T->RecordCount(), S.Rows);
    const auto Fields = FieldsOf(S);
    std::vector<bool> Seen(static_cast<size_t>(S.Rows));
    int32_t Previous = -1, Problems = 0;
    for (T->First(); !T->Eof() && Problems < 5; T->Next()) {
      // The first field names the row; the primary index yields the rows in that order.
      const int32_t Row = Fields[0].Type == "S" ? std::stoi(T->Fields(0).AsString().substr(1))
                                                : T->Fields(0).AsInteger() - 1;
      ASSERT_TRUE(Row > Previous && Row < S.Rows) << Row << " after " << Previous;
      Previous = Row;
      Seen[static_cast<size_t>(Row)] = true;
      for (int32_t F = 0; F < static_cast<int32_t>(Fields.size()); ++F) {
        const std::string M = Mismatch(T->Fields(F), Fields[F], Row, F);
        if (!M.empty()) ++Problems;
        EXPECT_EQ(M, "");
      }
    }
    EXPECT_EQ(std::count(Seen.begin(), Seen.end(), true), S.Rows);
  }
  // The secondary index of TimeOff holds every row.
  auto TimeOff = TableComponent("Reopened", Catalogue().back());
  TimeOff->SetIndexName("i1");
  TimeOff->Open();
  int32_t Count = 0;
  for (TimeOff->First(); !TimeOff->Eof(); TimeOff->Next()) ++Count;
  EXPECT_EQ(Count, Catalogue().back().Rows);
  TimeOff.reset();
  Again.Close();

  const std::string Tool = VltdbPath();
  if (Tool.empty()) GTEST_SKIP() << "vltdb was not built";
  std::string Out;
  const std::string Command = Tool + " check " + FileName + " --password '" + kPassword + "'";
  EXPECT_EQ(RunTool(Command, Out), 0) << Out;
  EXPECT_NE(Out.find("tables: consistent"), std::string::npos) << Out;
}

}  // namespace
}  // namespace vlt::test
