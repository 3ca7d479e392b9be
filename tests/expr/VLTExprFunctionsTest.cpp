// Expression functions evaluated from text against a small record: results and their types,
// null handling, ROUND's modes, CAST, CASE and COALESCE, EXTRACT, TODATE and TOSTRING, date
// literals and date-time arithmetic, the system values, and the errors of malformed calls.
#include <gtest/gtest.h>

#include <set>

#include "engine/expr/VLTExprNodeFunctions.h"
#include "engine/expr/VLTExprNodeSystem.h"
#include "engine/expr/VLTExpression.h"
#include "tests/expr/VLTExprTestCursor.h"

namespace vlt::test {
namespace {

class ExprFunctionsTest : public ::testing::Test {
 protected:
  ExprFunctionsTest() {
    C.Add("Num", bftSignedInt32)
        .Add("Name", bftVarchar, 10)
        .Add("Empty", bftVarchar, 10)
        .Add("Born", bftDate)
        .Add("Rate", bftDouble);
    R = C.NewRecord();
    TVLTVariant V;
    V.SetAsInteger(5);
    C.Set(R, "Num", V);
    V.Clear(bftVarchar);
    V.SetAsAnsiString("smith");
    C.Set(R, "Name", V);
    V.Clear(bftVarchar);
    V.SetAsAnsiString("2020-02-29");
    V.Cast(bftDate);
    C.Set(R, "Born", V);
    V.Clear(bftDouble);
    V.SetAsDouble(2.5);
    C.Set(R, "Rate", V);
    C.FCurrent = R.data();
  }

  // The text as an expression on its own, evaluated once on the record.
  const TVLTVariant& Eval(const std::string& Text) {
    E.ParseForFilter(&C, Text, false, false);
    E.AssignCursorBuffer(R.data(), false);
    return E.Root()->GetDataValue();
  }

  int32_t ErrorOf(const std::string& Text) {
    try {
      Eval(Text);
    } catch (const EVLTException& X) {
      return X.NativeError();
    }
    return 0;
  }

  TExprTestCursor C;
  std::vector<uint8_t> R;
  TVLTExpression E;
};

TEST_F(ExprFunctionsTest, ValuesAndTypes) {
  struct TCase {
    const char* Text;
    const char* Expected;  // as text; "null" for a null value
    TVLTBaseFieldType Type;
  };
  // clang-format off
  const TCase Cases[] = {
      // strings
      {"UPPER(Name)", "SMITH", bftVarchar},
      {"UPPER(Empty)", "null", bftVarchar},
      {"LOWER('AbC')", "abc", bftVarchar},
      {"UPPER(Num)", "5", bftVarchar},
      {"TRIM('  a b  ')", "a b", bftVarchar},
      {"LTRIM('  a ')", "a ", bftVarchar},
      {"RTRIM('  a ')", "  a", bftVarchar},
      {"TRIM('    ')", "null", bftVarchar},
      {"LENGTH('')", "0", bftSignedInt32},
      {"LENGTH(Empty)", "0", bftSignedInt32},
      {"LENGTH(Name)", "5", bftSignedInt32},
      {"POS('b', 'abc')", "2", bftSignedInt32},
      {"POS('', 'abc')", "0", bftSignedInt32},
      {"POS('x', 'abc')", "0", bftSignedInt32},
      {"POS('a', Empty)", "0", bftSignedInt32},
      {"POSITION('c' IN 'abcabc')", "3", bftSignedInt32},
      {"SUBSTRING('abcdef' FROM 2 FOR 3)", "bcd", bftVarchar},
      {"SUBSTRING('abcdef', 4)", "def", bftVarchar},
      {"SUBSTRING('abc' FROM 0 FOR 2)", "ab", bftVarchar},
      {"SUBSTRING('abc', -5, 10)", "abc", bftVarchar},
      {"SUBSTRING('abc', 5)", "null", bftVarchar},
      {"SUBSTRING('abc', 2, 0)", "null", bftVarchar},
      {"SUBSTRING(Empty, 1, 2)", "null", bftVarchar},
      {"'a' || Empty || 'b'", "ab", bftVarchar},
      // mathematics
      {"ABS(-3)", "3", bftSignedInt32},
      {"ABS(-2.5)", "2.5", bftDouble},
      {"CEIL(1.2)", "2", bftSignedInt32},
      {"FLOOR(-1.2)", "-2", bftSignedInt32},
      {"SIGN(-3.5)", "-1", bftSignedInt32},
      {"SIGN(0)", "0", bftSignedInt32},
      {"SQR(Num)", "25", bftSignedInt32},
      {"SQRT(16)", "4", bftDouble},
      {"POWER(2, 10)", "1024", bftDouble},
      {"LOG(EXP(2))", "2", bftDouble},
      {"ROUND(2.5)", "2", bftSignedInt32},
      {"ROUND(3.5)", "4", bftSignedInt32},
      {"ROUND(Rate, 0, HALFUP)", "3", bftDouble},
      {"ROUND(1234, -2)", "1200", bftDouble},
      {"RAND(0)", "0", bftSignedInt32},
      // conversions and conditions
      {"CAST(Name AS VARCHAR(3))", "smi", bftVarchar},
      {"CAST('12' AS integer)", "12", bftSignedInt32},
      {"CAST(Num, STRING)", "5", bftVarchar},
      {"CAST(Born AS DATE)", "2/29/2020", bftDate},
      {"CASE Name WHEN 'SMITH' THEN 1 ELSE 0 END", "1", bftSignedInt32},
      {"CASE Name WHEN 'jones' THEN 1 END", "null", bftSignedInt32},
      {"CASE WHEN Num > 3 THEN 'big' ELSE 'small' END", "big", bftVarchar},
      {"CASE WHEN Empty = 'x' THEN 'a' WHEN Num = 5 THEN 'b' END", "b", bftVarchar},
      {"COALESCE(Empty, 'x')", "x", bftVarchar},
      {"COALESCE(Empty, NULL)", "null", bftVarchar},
      // dates
      {"EXTRACT(MONTH FROM DATE '2020-02-29')", "2", bftUnsignedInt16},
      {"EXTRACT(DAY FROM Born)", "29", bftUnsignedInt16},
      {"EXTRACT(YEAR FROM CAST(Empty AS DATE))", "null", bftUnsignedInt16},
      {"EXTRACT(HOUR FROM TIMESTAMP '2021-03-04 13:05:09')", "13", bftUnsignedInt16},
      {"EXTRACT(SECOND FROM TIME '13:05:09')", "9", bftUnsignedInt16},
      {"TOSTRING(TIMESTAMP '2021-03-04 13:05:09', 'YYYY-MM-DD HH24:NN:SS')",
       "2021-03-04 13:05:09", bftVarchar},
      {"TOSTRING(TIMESTAMP '2021-03-04 13:05:09', 'HH:NN AMPM')", "01:05 PM", bftVarchar},
      {"TOSTRING(DATE '2021-03-04', 'RM')", "III", bftVarchar},
      {"TOSTRING(TIME '07:08:09', 'H:N:S')", "7:8:9", bftVarchar},
      {"TOSTRING(Empty, 'YYYY')", "null", bftVarchar},
      {"TODATE('05.03.2021', 'DD.MM.YYYY')", "3/5/2021", bftDate},
      {"TODATE('13:05', 'HH24:NN')", "1:05:00 PM", bftTime},
      {"TODATE('07 PM', 'HH AMPM')", "7:00:00 PM", bftTime},
      {"TODATE('12 pm', 'HH AMPM')", "12:00:00 PM", bftTime},
      {"TODATE('5.3.21 7:05', 'D.M.YY H:N')", "3/5/2021 7:05:00 AM", bftDateTime},
      {"TODATE('5.3.30', 'D.M.YY')", "3/5/1930", bftDate},
      {"TODATE('29 February 2020', 'DD MONTH YYYY')", "2/29/2020", bftDate},
      {"TODATE(Empty, 'DD.MM.YYYY')", "null", bftDate},
      {"DATE '2020-02-29'", "2/29/2020", bftDate},
      {"DATE '2020-02-28' + 1", "2/29/2020", bftDate},
      {"DATE '2020-03-01' - 1", "2/29/2020", bftDate},
      {"(DATE '2020-03-01' - Num)", "2/25/2020", bftDate},
      {"TIMESTAMP '2021-01-01 23:00:00' + TIME '02:00:00'", "1/2/2021 1:00:00 AM", bftDateTime},
      {"TODATE('28.02.2021', 'DD.MM.YYYY') + 1", "3/1/2021", bftDate},
      {"MIMETOBIN('aGVs bG8=')", "hello", bftBlob},
  };
  // clang-format on
  for (const TCase& T : Cases) {
    SCOPED_TRACE(T.Text);
    try {
      const TVLTVariant& V = Eval(T.Text);
      EXPECT_EQ(V.IsNullOrEmpty()         ? std::string("null")
                : V.DataType() == bftBlob ? std::string(reinterpret_cast<const char*>(V.Data()),
                                                        static_cast<size_t>(V.DataSize()))
                                          : V.AsAnsiString(),
                T.Expected);
      EXPECT_EQ(BaseFieldTypeName(V.DataType()), BaseFieldTypeName(T.Type));
    } catch (const EVLTException& X) {
      ADD_FAILURE() << X.what();
    }
  }
}

TEST_F(ExprFunctionsTest, Errors) {
  struct TCase {
    const char* Text;
    int32_t Code;
  };
  // clang-format off
  const TCase Cases[] = {
      {"UPPER Name", 30073},           {"UPPER(Name 1)", 30074},
      {"UPPER()", 30102},              {"POWER(2 3)", 20267},
      {"POWER(, 3)", 20265},           {"POWER(2, )", 20268},
      {"SUBSTRING('a' 1)", 30086},     {"SUBSTRING(, 1)", 30085},
      {"CAST(Name VARCHAR)", 30100},   {"CAST(Name AS BLOB)", 30077},
      {"CAST(Name AS GUID)", 30077},   {"CAST(Name AS NOSUCHTYPE)", 30077},
      {"CASE Num 1 END", 20264},       {"CASE Num WHEN 1 2 END", 20279},
      {"CASE Num WHEN 1 THEN 2", 20275},
      {"COALESCE()", 20276},           {"EXTRACT(WEEK FROM Born)", 20261},
      {"EXTRACT(YEAR Born)", 30086},   {"EXTRACT(YEAR FROM )", 20262},
      {"POSITION('a' 'b')", 20266},    {"TODATE('1', Name)", 30096},
      {"TOSTRING(Born 'YYYY')", 30465}, {"TOSTRING(, 'YYYY')", 30094},
      {"MIMETOBIN(Name)", 30092},      {"LASTAUTOINC(1, Num)", 30480},
      {"ROUND(1, 2, UP)", 30501},
      {"DATE 5", 20283},               {"DATE '2021-02-29'", 20284},
      {"TIME 1", 20285},               {"TIME '25:00:00'", 20286},
      {"TIMESTAMP Num", 20287},        {"TIMESTAMP 'soon'", 20288},
      // evaluation
      {"ABS(Empty)", 30016},           {"ABS(NULL)", 30016},
      {"SUBSTRING('abc', NULL)", 30016},
      {"SQRT(-1)", 30132},             {"LOG(0)", 30132},
      {"CEIL(1E20)", 30126},
      {"TODATE('07 XM', 'HH AMPM')", 30129},
      {"TODATE('1x.03.2021', 'DD.MM.YYYY')", 30048},
      {"TODATE('29.02.2021', 'DD.MM.YYYY')", 30051},
      {"TODATE('25:00', 'HH24:NN')", 30052},
  };
  // clang-format on
  for (const TCase& T : Cases) EXPECT_EQ(ErrorOf(T.Text), T.Code) << T.Text;
  ErrorOf("CASE Num WHEN 1 THEN 2");
  EXPECT_EQ(E.Root(), nullptr);  // a failed parse leaves no tree
}

TEST_F(ExprFunctionsTest, ErrorsTellWhere) {
  auto Message = [&](const std::string& Text) {
    try {
      Eval(Text);
    } catch (const EVLTException& X) {
      return std::string(X.what());
    }
    return std::string();
  };
  EXPECT_NE(Message("Num = UPPER(\n  5 6)")
                .find("Token ')' expected, but '6' found at line 2, "
                      "column 5"),
            std::string::npos);
  EXPECT_NE(Message("TODATE(Name, Num)")
                .find("Const DateFormat string expected, but 'Num' "
                      "found at line 1, column 14"),
            std::string::npos);
  EXPECT_NE(Message("COALESCE( )").find("COALESCE arguments are missing at line 1, column 11"),
            std::string::npos);
  EXPECT_NE(Message("DATE '2021-13-01'")
                .find("Token 'YYYY-MM-DD' expected, but '2021-13-01' "
                      "found at line 1, column 6"),
            std::string::npos);
  EXPECT_NE(Message("TODATE('7 AX', 'H AMPM')").find("AM/PM word expected, but 'AX' found"),
            std::string::npos);
}

// Every mode at ties and off ties, positive and negative.
TEST(ExprRoundTest, Modes) {
  struct TCase {
    TVLTRoundMode Mode;
    double Expected[6];  // for In, in order
  };
  const double In[6] = {2.5, -2.5, 3.5, 2.4, -2.4, 2.6};
  // clang-format off
  const TCase Cases[] = {
      {rmHALFEVEN, {2, -2, 4, 2, -2, 3}},
      {rmHALFPOS, {3, -2, 4, 2, -2, 3}},
      {rmHALFNEG, {2, -3, 3, 2, -2, 3}},
      {rmHALFDOWN, {2, -2, 3, 2, -2, 3}},
      {rmHALFUP, {3, -3, 4, 2, -2, 3}},
      {rmRNDNEG, {2, -3, 3, 2, -3, 2}},
      {rmRNDPOS, {3, -2, 4, 3, -2, 3}},
      {rmRNDDOWN, {2, -2, 3, 2, -2, 2}},
      {rmRNDUP, {3, -3, 4, 3, -3, 3}},
  };
  // clang-format on
  for (const TCase& T : Cases)
    for (int I = 0; I < 6; ++I)
      EXPECT_EQ(VLTRound(In[I], 0, T.Mode), T.Expected[I]) << "mode " << T.Mode << " " << In[I];
  // Decimal places: ties as written in decimal count as ties.
  EXPECT_DOUBLE_EQ(VLTRound(1.25, 1, rmHALFEVEN), 1.2);
  EXPECT_DOUBLE_EQ(VLTRound(1.35, 1, rmHALFEVEN), 1.4);
  EXPECT_DOUBLE_EQ(VLTRound(2.675, 2, rmHALFUP), 2.68);
  EXPECT_DOUBLE_EQ(VLTRound(-2.675, 2, rmHALFDOWN), -2.67);
  EXPECT_DOUBLE_EQ(VLTRound(1250, -2, rmHALFEVEN), 1200);
  EXPECT_DOUBLE_EQ(VLTRound(1.001, 2, rmRNDPOS), 1.01);
}

TEST_F(ExprFunctionsTest, InFilters) {
  auto Shows = [&](const char* Filter) {
    E.ParseForFilter(&C, Filter, false, true);
    E.AssignCursorBuffer(R.data(), false);
    return E.GetResult();
  };
  EXPECT_TRUE(Shows("EXTRACT(MONTH FROM Born) = 2 AND UPPER(Name) = 'SMITH'"));
  EXPECT_TRUE(Shows("LENGTH(Empty) = 0"));
  EXPECT_TRUE(Shows("Born = DATE '2020-03-01' - 1"));
  EXPECT_TRUE(Shows("Born < TODATE('01.03.2020', 'DD.MM.YYYY')"));
  EXPECT_TRUE(Shows("SUBSTRING(Name FROM 2 FOR 3) = 'mit'"));
  EXPECT_TRUE(Shows("ROUND(Rate) = 2 AND CEIL(Rate) = 3"));
  EXPECT_TRUE(Shows("COALESCE(Empty, Name) LIKE 'sm%'"));
  EXPECT_TRUE(Shows("CASE WHEN Num = 5 THEN TRUE ELSE FALSE END"));
  EXPECT_FALSE(Shows("TOSTRING(Born, 'YYYY') = '2021'"));
  EXPECT_TRUE(Shows("UPPER(Name) || '!' = 'SMITH!'"));
  EXPECT_TRUE(Shows("CURRENT_DATE || 'x' <> 'x'"));
}

TEST_F(ExprFunctionsTest, DefaultValues) {
  auto IsExpression = [](const char* Text) {
    TVLTVariant V(bftVarchar);
    V.SetAsAnsiString(Text);
    return IsDefaultValueExpression(V);
  };
  EXPECT_TRUE(IsExpression("CURRENT_DATE"));
  EXPECT_TRUE(IsExpression("TODATE('05.03.2021', 'DD.MM.YYYY')"));
  EXPECT_TRUE(IsExpression("UPPER('abc')"));
  EXPECT_TRUE(IsExpression("DATE '2020-01-01' + 1"));
  EXPECT_TRUE(IsExpression("ROWNUM"));
  EXPECT_FALSE(IsExpression("5"));
  EXPECT_FALSE(IsExpression("UPPER(x"));

  TVLTExpression D;
  ASSERT_TRUE(D.ParseForDefaultValueExpression("EXTRACT(YEAR FROM CURRENT_DATE) + 0"));
  EXPECT_GE(D.GetValue(true)->AsInteger(), 2024);
}

TEST_F(ExprFunctionsTest, RowNumCountsAndRandStaysInRange) {
  Eval("ROWNUM");
  EXPECT_EQ(E.Root()->GetDataValue().AsInt64(), 2);
  EXPECT_EQ(E.Root()->GetDataValue().AsInt64(), 3);
  Eval("RAND(3)");
  std::set<int32_t> Seen;
  for (int I = 0; I < 200; ++I) Seen.insert(E.Root()->GetDataValue().AsInteger());
  EXPECT_EQ(Seen, (std::set<int32_t>{0, 1, 2}));
}

class TFakeTable : public TVLTExprTable {
 public:
  bool HasField(const std::string& FieldName) const override { return FieldName == "ID"; }
  int64_t LastAutoincValue(const std::string&) override { return ++Value; }
  int64_t Value = 41;
};

TEST_F(ExprFunctionsTest, LastAutoincThroughTheOpener) {
  std::string Opened;
  VLTSetExprTableOpener([&](const std::string& Session, const std::string& Database,
                            const std::string& Table, bool InMemory) {
    Opened = Session + "|" + Database + "|" + Table + (InMemory ? "|memory" : "");
    return std::make_unique<TFakeTable>();
  });
  E.FSessionName = "S";
  E.FDatabaseName = "Db";
  EXPECT_EQ(Eval("LASTAUTOINC(Orders, ID)").AsInt64(), 42);
  EXPECT_EQ(BaseFieldTypeName(E.Root()->Value.DataType()), BaseFieldTypeName(bftSignedInt64));
  EXPECT_EQ(Opened, "S|Db|Orders");
  Eval("LASTAUTOINC('Orders', [ID], MEMORY)");
  EXPECT_EQ(Opened, "S|Db|Orders|memory");
  EXPECT_EQ(ErrorOf("LASTAUTOINC(Orders, Nope)"), 30337);
  VLTSetExprTableOpener(nullptr);
  EXPECT_EQ(ErrorOf("LASTAUTOINC(Orders, ID)"), 20007);
}

}  // namespace
}  // namespace vlt::test
