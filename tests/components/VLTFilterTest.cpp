// Filters through the table component: one row per filter text with the records it must show
// over a small table with nulls, empty strings, mixed case, numbers at the 32/64-bit boundary and
// dates; the errors with their codes and positions; Locate and default values through
// expressions.
#include <algorithm>
#include <optional>

#include "engine/base/VLTExcept.h"
#include "engine/components/VLTTable.h"
#include "engine/core/VLTScanSearchCondition.h"
#include "engine/expr/VLTExpression.h"
#include "tests/VLTTestUtil.h"
#include "tests/components/VLTComponentTestUtil.h"

namespace vlt::test {
namespace {

struct TPerson {
  int32_t Id;
  std::optional<int32_t> Num;
  std::optional<int64_t> Big;
  const char* Name;  // "" = null
  std::optional<bool> Paid;
  const char* Born;  // "" = null
};

// clang-format off
const TPerson kPeople[] = {
    {1, 1,  2147483646LL,           "Smith",    true,  "01/15/1980"},
    {2, 2,  2147483647LL,           "Smithson", false, "06/01/1990"},
    {3, 3,  -2147483648LL,          "smith",    {},    ""},
    {4, {}, 9223372036854775807LL,  "",         true,  "12/31/1999"},
    {5, 5,  {},                     "O'Brien",  false, "01/01/2000"},
    {6, 10, 0,                      "10%",      true,  "02/29/2000"},
    {7, 7,  1,                      "Sm_th",    false, "03/03/2003"},
};
// clang-format on

class FilterTest : public TComponentTest {
 protected:
  void SetUp() override {
    TComponentTest::SetUp();
    NewOpenDatabase();
    TVLTTable Maker;
    Maker.SetDatabaseName("Pay");
    Maker.SetTableName("People");
    DeclareFields(Maker);
    Maker.CreateTable();
    T = std::make_unique<TVLTTable>();
    T->FName = "People";
    T->SetDatabaseName("Pay");
    T->SetTableName("People");
    T->Open();
    for (const TPerson& P : kPeople) {
      T->Append();
      T->FieldByName("Id").SetAsInteger(P.Id);
      if (P.Num) T->FieldByName("Num").SetAsInteger(*P.Num);
      if (P.Big) T->FieldByName("Big").SetAsLargeInt(*P.Big);
      if (*P.Name) T->FieldByName("Name").SetAsString(P.Name);
      if (P.Paid) T->FieldByName("Paid").SetAsBoolean(*P.Paid);
      if (*P.Born) T->FieldByName("Born").SetAsString(P.Born);
      T->Post();
    }
  }
  void TearDown() override {
    T.reset();
    TComponentTest::TearDown();
  }

  static void DeclareFields(TVLTTable& Table) {
    Table.AddField(std::make_unique<TVLTIntegerField>("Id"));
    Table.AddField(std::make_unique<TVLTIntegerField>("Num"));
    Table.AddField(std::make_unique<TVLTLargeintField>("Big"));
    Table.AddField(std::make_unique<TVLTStringField>("Name", 20));
    Table.AddField(std::make_unique<TVLTBooleanField>("Paid"));
    Table.AddField(std::make_unique<TVLTDateField>("Born"));
  }

  // The ids the table shows, in order.
  std::vector<int32_t> Shown() {
    std::vector<int32_t> Ids;
    for (T->First(); !T->Eof(); T->Next()) Ids.push_back(T->FieldByName("Id").AsInteger());
    return Ids;
  }

  std::vector<int32_t> Filtered(const std::string& Text, uint8_t Options = 0) {
    T->SetFiltered(false);
    T->SetFilterOptions(Options);
    T->SetFilter(Text);
    T->SetFiltered(true);
    return Shown();
  }

  std::unique_ptr<TVLTTable> T;
};

using TIds = std::vector<int32_t>;

struct TFilterCase {
  const char* Name;
  const char* Text;
  uint8_t Options;
  TIds Ids;
};

// clang-format off
const TFilterCase kFilterCases[] = {
    {"Equal", "Num=5", 0, {5}},
    {"Range", "Num>3 and Num<10", 0, {5, 7}},
    {"DoubledQuote", "Num=5 and Name='O''Brien'", 0, {5}},
    {"FieldNamesIgnoreCase", "num = 5", 0, {5}},
    {"BracketedAndQualifiedNames", "[Num] = 5 and People.Id = 5", 0, {5}},
    {"ConstantOnTheLeft", "3 < Num", 0, {5, 6, 7}},
    {"PartialKeyPrefix", "Name = 'Smi*'", 0, {1, 2}},
    {"NoPrefixWithoutStar", "Name = 'Smi'", 0, {}},
    {"StarIsPlainWithoutPartialKey", "Name = 'Smi*'", foNoPartialCompare, {}},
    {"PrefixIgnoringCase", "Name = 'SMITH*'", foCaseInsensitive, {1, 2, 3}},
    {"CaseRespectedByDefault", "Name = 'smith'", 0, {3}},
    {"EmptyStringIsNull", "Name = ''", 0, {4}},
    {"NotEmptyString", "Name <> ''", 0, {1, 2, 3, 5, 6, 7}},
    {"LoneStarIsEmpty", "Name = '*'", 0, {4}},
    {"StringNotEqualShowsNulls", "Name <> 'Smith'", 0, {2, 3, 4, 5, 6, 7}},
    {"NumberNotEqualHidesNulls", "Num <> 5", 0, {1, 2, 3, 6, 7}},
    {"NotOverComparisonShowsNulls", "NOT (Num = 5)", 0, {1, 2, 3, 4, 6, 7}},
    {"EqualNullFindsNulls", "Num = NULL", 0, {4}},
    {"IsNull", "Num IS NULL", 0, {4}},
    {"IsNotNull", "Num IS NOT NULL", 0, {1, 2, 3, 5, 6, 7}},
    {"LikePrefix", "Name LIKE 'Sm%'", 0, {1, 2, 7}},
    {"LikePrefixUnderscoreIsLiteral", "Name LIKE 'Sm_th%'", 0, {7}},
    {"LikeUnderscore", "Name LIKE 'Sm_th'", 0, {1, 7}},
    {"LikeEverything", "Name LIKE '%'", 0, {1, 2, 3, 4, 5, 6, 7}},
    {"LikeInner", "Name LIKE '%i%h%'", 0, {1, 2, 3}},
    {"LikeIgnoringCase", "Name LIKE '%MITH'", foCaseInsensitive, {1, 3}},
    {"LikeEscape", "Name LIKE '10!%' ESCAPE '!'", 0, {6}},
    {"NotLikePrefixShowsNulls", "Name NOT LIKE 'Sm%'", 0, {3, 4, 5, 6}},
    {"NotLikeShowsNullText", "Name NOT LIKE '%th'", 0, {2, 4, 5, 6}},
    {"InIgnoresCase", "Name IN ('SMITH')", 0, {1, 3}},
    {"InNumbers", "Num IN (1, 3, 99)", 0, {1, 3}},
    {"NotInWithNull", "Num NOT IN (1, NULL)", 0, {2, 3, 5, 6, 7}},
    {"BetweenIgnoresCase", "Name BETWEEN 'r' AND 't'", 0, {1, 2, 3, 7}},
    {"BetweenNumbers", "Num BETWEEN 2 AND 5", 0, {2, 3, 5}},
    {"NotBetween", "Num NOT BETWEEN 2 AND 5", 0, {1, 6, 7}},
    {"LogicalField", "Paid", 0, {1, 4, 6}},
    {"IsTrue", "Paid IS TRUE", 0, {1, 4, 6}},
    {"IsFalse", "Paid IS FALSE", 0, {2, 5, 7}},
    {"IsNotFalse", "Paid IS NOT FALSE", 0, {1, 4, 6}},
    {"IsUnknown", "Paid IS UNKNOWN", 0, {3}},
    {"IsNotUnknown", "Paid IS NOT UNKNOWN", 0, {1, 2, 4, 5, 6, 7}},
    {"NotLogical", "NOT Paid", 0, {2, 5, 7}},
    {"Int32Edge", "Big = 2147483646", 0, {1}},
    {"Int64Edge", "Big = 2147483647", 0, {2}},
    {"Int64Above", "Big > 2147483646", 0, {2, 4}},
    {"Int32Minimum", "Big < -2147483647", 0, {3}},
    {"Int64Maximum", "Big = 9223372036854775807", 0, {4}},
    {"DateFrom", "Born >= '01/01/2000'", 0, {5, 6, 7}},
    {"DateBeforeShowsNull", "Born < '01/01/1990'", 0, {1, 3}},
    {"LeapDay", "Born = '02/29/2000'", 0, {6}},
    {"Arithmetic", "Num + 1 = 6", 0, {5}},
    {"Subtraction", "Num - 1 = 4", 0, {5}},
    {"Product", "Num * 2 > 10", 0, {6, 7}},
    {"UnaryMinus", "-Num < -6", 0, {6, 7}},
    {"Precedence", "1 + Num * 2 = 11", 0, {5}},
    {"Concatenation", "Name || 'x' = 'Smithx'", 0, {1}},
    {"Upper", "UPPER(Name) = 'SMITH'", 0, {1, 3}},
    {"OrChain", "Num = 1 OR Num = 2 OR Name = 'smith'", 0, {1, 2, 3}},
    {"Parentheses", "(Num = 1 OR Num = 2) AND Paid", 0, {1}},
    {"NestedAnd", "Num > 0 AND (Num < 7 AND (Paid OR Num = 2))", 0, {1, 2}},
    {"TrailingTextIgnored", "Num = 5 xyz", 0, {5}},
    {"SecondCommandIgnored", "Num = 5; Num = 1", 0, {5}},
    {"KeywordsIgnoreCase", "num between 2 and 3 Or NAME is null", 0, {2, 3, 4}},
    {"TrueConstant", "TRUE", 0, {1, 2, 3, 4, 5, 6, 7}},
};
// clang-format on

TEST_F(FilterTest, FilterTextsShowTheirRecords) {
  for (const TFilterCase& C : kFilterCases) {
    SCOPED_TRACE(C.Name);
    EXPECT_EQ(Filtered(C.Text, C.Options), C.Ids) << C.Text;
  }
}

struct TErrorCase {
  const char* Name;
  const char* Text;
  int32_t Code;
  const char* Message;  // the message up to the native-error suffix
};

// clang-format off
const TErrorCase kErrorCases[] = {
    {"CommentOnly", "-- nothing", 30119, "Blank SQL command"},
    {"NothingParses", "= 5", 30066, "Boolean expression expected, but '=' found at line 1, column 1"},
    {"MissingAndOperand", "Num = 5 AND", 30069,
     "Boolean expression expected, but '' found at line 1, column 9"},
    {"MissingOrOperandOnLineTwo", "Num = 5 OR\n  AND", 30070,
     "Boolean expression expected, but 'AND' found at line 2, column 3"},
    {"IsWithoutTruth", "Paid IS 5", 30067,
     "Token 'TRUE, FALSE or UNKNOWN' expected, but '5' found at line 1, column 9"},
    {"UnknownField", "Nope = 1", 30115, "Field 'Nope' not found"},
    {"LongEscape", "Name LIKE 'a' ESCAPE 'ab'", 20294,
     "Invalid escape character length (should be a single character) at line 1, column 22"},
    {"MissingParenthesis", "(Num = 5 xyz)", 30068, "Token ')' expected, but 'xyz' found at line 1, column 10"},
    {"UnterminatedString", "Name = 'abc", 30061, "Unterminated string at line 1, column 8"},
    {"UnbalancedParenthesis", "(Num = 5", 30059, "Missing symbol ')'"},
};
// clang-format on

TEST_F(FilterTest, BadFilterTextsRaiseTheirCodeAndPosition) {
  for (const TErrorCase& C : kErrorCases) {
    SCOPED_TRACE(C.Name);
    T->SetFiltered(false);
    T->SetFilter(C.Text);
    const std::string M = MessageOf([&] { T->SetFiltered(true); });
    EXPECT_EQ(CodeOf([&] {
                T->SetFiltered(false);
                T->SetFiltered(true);
              }),
              C.Code);
    EXPECT_NE(M.find(C.Message), std::string::npos) << M;
  }
  // A bad filter leaves no filter behind: the table still shows every record.
  T->SetFiltered(false);
  T->SetFilter("Num = 1");
  T->SetFiltered(true);
  EXPECT_EQ(Shown(), (TIds{1}));
}

TEST_F(FilterTest, NestingIsBoundedWithAClearError) {
  std::string Deep;
  for (int I = 0; I < 300; ++I) Deep += "(";
  Deep += "Num = 1";
  for (int I = 0; I < 300; ++I) Deep += ")";
  T->SetFilter(Deep);
  EXPECT_EQ(CodeOf([&] { T->SetFiltered(true); }), 30463);
  // Unbalanced parentheses deep down end quickly too, with a position.
  T->SetFiltered(false);
  std::string Unbalanced(60, '(');
  Unbalanced += "Num";
  T->SetFilter(Unbalanced);
  const int32_t Code = CodeOf([&] { T->SetFiltered(true); });
  EXPECT_TRUE(Code == 30066 || Code == 30059) << Code;
  T->SetFiltered(false);
  std::string Fine(40, '(');
  Fine += "Num = 5";
  Fine += std::string(40, ')');
  EXPECT_EQ(Filtered(Fine), (TIds{5}));
}

TEST_F(FilterTest, RecordCountAndRecordNumbersHonourTheFilter) {
  EXPECT_EQ(T->RecordCount(), 7);
  Filtered("Num > 3");
  EXPECT_EQ(T->RecordCount(), 3);
  // Record numbers count the records the filter shows; navigation skips the others.
  T->Last();
  EXPECT_EQ(T->FieldByName("Id").AsInteger(), 7);
  EXPECT_EQ(T->RecNo(), 3);
  T->Prior();
  EXPECT_EQ(T->FieldByName("Id").AsInteger(), 6);
  EXPECT_EQ(T->RecNo(), 2);
  T->SetRecNo(1);
  EXPECT_EQ(T->FieldByName("Id").AsInteger(), 5);
  T->SetFilter("Paid");
  EXPECT_EQ(T->RecordCount(), 3);
  T->SetFilter("");
  EXPECT_EQ(T->RecordCount(), 7);
  T->SetFilter("Num = 5");
  T->SetFiltered(false);
  EXPECT_EQ(T->RecordCount(), 7);
}

TEST_F(FilterTest, LocateGoesThroughExpressions) {
  EXPECT_TRUE(T->Locate("Num;Name",
                        {Int(5),
                         [] {
                           TVLTVariant V;
                           V.SetAsAnsiString("O'Brien");
                           return V;
                         }()},
                        0));
  EXPECT_EQ(T->FieldByName("Id").AsInteger(), 5);
  // A null key finds the record whose field is null.
  EXPECT_TRUE(T->Locate("Num", {TVLTVariant(bftSignedInt32)}, 0));
  EXPECT_EQ(T->FieldByName("Id").AsInteger(), 4);
  TVLTVariant Smi;
  Smi.SetAsAnsiString("SMI");
  EXPECT_FALSE(T->Locate("Name", {Smi}, 0));
  EXPECT_TRUE(T->Locate("Name", {Smi}, loCaseInsensitive | loPartialKey));
  EXPECT_EQ(T->FieldByName("Id").AsInteger(), 1);
  EXPECT_EQ(CodeOf([&] { T->Locate("Num;Name", {Int(5)}, 0); }), 30112);
  EXPECT_NE(MessageOf([&] {
              T->Locate("Num;Name", {Int(5)}, 0);
            }).find("Count of FieldNames (2) does not equal counts of KeyValues (1)"),
            std::string::npos);
}

TEST_F(FilterTest, DefaultValueExpressionsAreEvaluatedForNewRecords) {
  // Defaults are given to the engine through the advanced field definitions.
  auto D = std::make_unique<TVLTTable>();
  D->SetDatabaseName("Pay");
  D->SetTableName("Defaults");
  TVLTAdvFieldDefs& A = D->AdvFieldDefs();
  A.Add("Id", aftInteger);
  A.Add("Made", aftDate).FDefaultValue.SetAsAnsiString("CURRENT_DATE");
  A.Add("Two", aftInteger).FDefaultValue.SetAsAnsiString("1+1");
  A.Add("Five", aftInteger).FDefaultValue.SetAsAnsiString("5");
  A.Add("Plain", aftString, 10).FDefaultValue.SetAsAnsiString("Plain");
  D->CreateTable();
  D->Open();
  D->Append();
  D->FieldByName("Id").SetAsInteger(1);
  D->Post();
  EXPECT_EQ(D->FieldByName("Two").AsInteger(), 2);
  EXPECT_EQ(D->FieldByName("Five").AsInteger(), 5);
  EXPECT_EQ(D->FieldByName("Plain").AsString(), "Plain");
  ASSERT_FALSE(D->FieldByName("Made").IsNull());
  EXPECT_GT(D->FieldByName("Made").AsDateTime(), 45000.0);  // this century, not the zero date
}

TEST_F(FilterTest, FilterConjunctsBecomeIndexConditionsWithKeyBuffers) {
  T->Close();
  T->AddIndex("ByNumBig", "Num;Big", 0);
  T->Open();
  Filtered("Num = 5 AND Big IS NULL AND Name <> 'x'");
  TVLTCursor& C = *T->Handle();
  TVLTScanSearchConditionArray A;
  A.AddExpression(C.FFilterExpression.get());
  A.CreateIndexScanConditionsFromExpressions(C.GetIndexDefs(), C.SessionID());
  ASSERT_EQ(A.Count(), 2);
  TVLTScanSearchCondition& K = A[1];
  EXPECT_TRUE(K.CreatedFromExpression);
  EXPECT_EQ(K.Condition, scEqual);
  EXPECT_EQ(K.IndexID, C.GetIndexDefs().GetIndexDefByName("ByNumBig")->FObjectID);
  ASSERT_EQ(K.KeyFieldCount, 2);  // Num = 5 widened by Big IS NULL
  TVLTVariant V;
  C.GetFieldValue(V, 1, true, K.KeyRecordBuffer);
  EXPECT_EQ(V.AsInteger(), 5);
  C.GetFieldValue(V, 2, true, K.KeyRecordBuffer);
  EXPECT_TRUE(V.IsNull());
  // The covered conjuncts are taken out while the scan runs and put back afterwards.
  int32_t Start = 1, End = -1;
  A.RemoveUnusedConditionsCreatedFromExpressions(Start, End);
  A.ExtractChosenConditionsFromExpressions(Start, End);
  C.DisableRecordBitmap();
  EXPECT_EQ(Shown(), (TIds{1, 2, 3, 4, 5, 6, 7}));  // only Name <> 'x' is evaluated
  A.ReturnExtractedConditionsToExpressions();
  C.DisableRecordBitmap();
  EXPECT_EQ(Shown(), (TIds{5}));
  T->Close();
  T->Open();
}

TEST_F(FilterTest, ContributionStyleFilters) {
  TVLTTable C;
  C.SetDatabaseName("Pay");
  C.SetTableName("Contrib");
  C.AddField(std::make_unique<TVLTDateField>("CDate"));
  C.AddField(std::make_unique<TVLTIntegerField>("Num"));
  C.AddField(std::make_unique<TVLTIntegerField>("Service"));
  C.AddField(std::make_unique<TVLTIntegerField>("Fund"));
  C.CreateTable();
  C.Open();
  const int32_t Rows[][3] = {{5, 7, 2}, {5, 8, 2}, {6, 7, 1}, {5, 7, 1}};
  for (const auto& R : Rows) {
    C.Append();
    C.FieldByName("CDate").SetAsString("03/01/2004");
    C.FieldByName("Num").SetAsInteger(R[0]);
    C.FieldByName("Service").SetAsInteger(R[1]);
    C.FieldByName("Fund").SetAsInteger(R[2]);
    C.Post();
  }
  C.SetFiltered(true);
  for (const auto& [Text, Count] :
       std::vector<std::pair<std::string, int32_t>>{{"Service=7", 3},
                                                    {"Fund=2", 2},
                                                    {"Num=5 and Service=7", 2},
                                                    {"Num=5 and Service=7 and Fund=1", 1},
                                                    {"CDate = '03/01/2004'", 4}}) {
    C.SetFilter(Text);
    EXPECT_EQ(C.RecordCount(), Count) << Text;
  }
  // Renumbering under a filter: the edited record leaves the filter's view.
  C.SetFilter("Service=7");
  C.First();
  C.Edit();
  C.FieldByName("Service").SetAsInteger(9);
  C.Post();
  EXPECT_EQ(C.RecordCount(), 2);
}

TEST_F(FilterTest, MemoTextIsReadWholeForTheFilter) {
  TVLTTable N;
  N.SetDatabaseName("Pay");
  N.SetTableName("Notes");
  N.AddField(std::make_unique<TVLTIntegerField>("Id"));
  N.AddField(std::make_unique<TVLTMemoField>("Text"));
  N.CreateTable();
  N.Open();
  const std::string Long(3000, 'x');
  const char* Texts[] = {"short note", "", "needle at the end of a long text: "};
  for (int32_t I = 0; I < 3; ++I) {
    N.Append();
    N.FieldByName("Id").SetAsInteger(I + 1);
    std::string Text = Texts[I];
    if (I == 2) Text = Long + Text + "needle";
    if (!Text.empty()) N.FieldByName("Text").SetAsString(Text);
    N.Post();
  }
  N.SetFilter("Text LIKE '%needle'");
  N.SetFiltered(true);
  std::vector<int32_t> Ids;
  for (N.First(); !N.Eof(); N.Next()) Ids.push_back(N.FieldByName("Id").AsInteger());
  EXPECT_EQ(Ids, (TIds{3}));
  N.SetFilter("Text IS NULL OR Text = 'short note'");
  EXPECT_EQ(N.RecordCount(), 2);
}

TEST_F(FilterTest, VltdbCountsAndDumpsWhatAFilterShows) {
  const std::string Tool = VltdbPath();
  if (Tool.empty()) GTEST_SKIP() << "vltdb not built";
  T.reset();
  Databases.front()->Close();
  const std::string Base = Tool + " --password s3cret ";
  std::string Out;
  EXPECT_EQ(RunTool(Base + "count " + FileName + " People", Out), 0) << Out;
  EXPECT_EQ(Out, "7\n");
  EXPECT_EQ(RunTool(Base + "count " + FileName + " People --filter 'Num>3 and Num<10'", Out), 0)
      << Out;
  EXPECT_EQ(Out, "2\n");
  EXPECT_EQ(RunTool(Base + "count " + FileName + " People --filter \"Name = 'SMITH*'\"", Out), 0);
  EXPECT_EQ(Out, "0\n");
  EXPECT_EQ(RunTool(Base + "count " + FileName +
                        " People --case-insensitive --filter \"Name = 'SMITH*'\"",
                    Out),
            0);
  EXPECT_EQ(Out, "3\n");
  EXPECT_EQ(
      RunTool(Base + "count " + FileName + " People --no-partial-key --filter \"Name = 'Smith*'\"",
              Out),
      0);
  EXPECT_EQ(Out, "0\n");
  ASSERT_EQ(RunTool(Base + "dump " + FileName + " People --filter \"Name='O''Brien'\"", Out), 0)
      << Out;
  EXPECT_EQ(Out.substr(0, Out.find('\n')), "Id,Num,Big,Name,Paid,Born");
  EXPECT_NE(Out.find("\n5,5,"), std::string::npos) << Out;
  EXPECT_EQ(std::count(Out.begin(), Out.end(), '\n'), 2) << Out;
  // A bad filter prints the engine's message with its position and fails; bad usage is 2.
  EXPECT_EQ(RunTool(Base + "count " + FileName + " People --filter 'Num = 5 AND'", Out), 1);
  EXPECT_NE(Out.find("Boolean expression expected, but '' found at line 1, column 9"),
            std::string::npos)
      << Out;
  EXPECT_EQ(RunTool(Base + "count " + FileName, Out), 2) << Out;
  EXPECT_EQ(RunTool(Base + "count " + FileName + " People --index X", Out), 2) << Out;
}

// Functions in filters, in default values, LASTAUTOINC over a real table, and through vltdb.
TEST_F(FilterTest, FunctionsWorkInFiltersDefaultsAndTheTool) {
  // clang-format off
  const std::pair<const char*, TIds> Cases[] = {
      {"UPPER(Name) = 'SMITH'", {1, 3}},
      {"LENGTH(Name) = 0", {4}},
      {"EXTRACT(MONTH FROM Born) = 2", {6}},
      {"Born = DATE '2000-03-01' - 1", {6}},
      {"Born >= TODATE('01.01.2000', 'DD.MM.YYYY')", {5, 6, 7}},
      {"TOSTRING(Born, 'YYYY') = '1990'", {2}},
      {"SUBSTRING(Name FROM 1 FOR 3) = 'Smi' AND POS('son', Name) > 0", {2}},
      {"CASE WHEN Num > 4 THEN 1 ELSE 0 END = 1", {5, 6, 7}},
      {"COALESCE(Num, 0) = 0", {4}},
      // A null argument of a mathematical function is an error, so nulls are kept away from it.
      {"Num IS NOT NULL AND ROUND(Num / 2.0) = 2", {3, 5}},  // 1.5 and 2.5 round to 2
  };
  // clang-format on
  for (const auto& [Text, Ids] : Cases) EXPECT_EQ(Filtered(Text), Ids) << Text;

  {
  auto D = std::make_unique<TVLTTable>();
  D->SetDatabaseName("Pay");
  D->SetTableName("Counters");
  TVLTAdvFieldDefs& A = D->AdvFieldDefs();
  A.Add("Id", aftAutoInc);
  A.Add("Day", aftDate).FDefaultValue.SetAsAnsiString("TODATE('05.03.2021', 'DD.MM.YYYY')");
  A.Add("Code", aftString, 10).FDefaultValue.SetAsAnsiString("UPPER('ab') || 'c'");
  D->CreateTable();
  D->Open();
  for (int I = 0; I < 2; ++I) {
    D->Append();
    D->Post();
  }
  EXPECT_EQ(D->FieldByName("Code").AsString(), "ABc");
  EXPECT_EQ(D->FieldByName("Day").AsString(), "3/5/2021");
  TVLTExpression E;
  E.FDatabaseName = "Pay";
  ASSERT_TRUE(E.ParseForDefaultValueExpression("LASTAUTOINC(Counters, Id)"));
  EXPECT_EQ(E.GetValue(true)->AsInt64(), D->LastAutoincValue("Id"));
  EXPECT_FALSE(E.ParseForDefaultValueExpression("LASTAUTOINC(Counters, Nope)"));
  // In a filter the function reaches its table through the filtered table's database.
  D->SetFilter("Id = LASTAUTOINC(Counters, Id)");
  D->SetFiltered(true);
  D->First();
  ASSERT_FALSE(D->Eof());
  EXPECT_EQ(D->FieldByName("Id").AsLargeInt(), D->LastAutoincValue("Id"));
  D->Next();
  EXPECT_TRUE(D->Eof());
  }

  const std::string Tool = VltdbPath();
  if (Tool.empty()) GTEST_SKIP() << "vltdb not built";
  T.reset();
  Databases.front()->Close();
  std::string Out;
  EXPECT_EQ(RunTool(Tool + " --password s3cret count " + FileName +
                        " People --filter \"EXTRACT(YEAR FROM Born) < 2000 AND UPPER(Name) "
                        "LIKE 'SMITH%'\"",
                    Out),
            0)
      << Out;
  EXPECT_EQ(Out, "2\n");
  EXPECT_EQ(RunTool(Tool + " --password s3cret count " + FileName +
                        " People --filter \"TODATE(Name, Num) IS NULL\"",
                    Out),
            1);
  EXPECT_NE(Out.find("Const DateFormat string expected, but 'Num' found at line 1, column 14"),
            std::string::npos)
      << Out;
}

// A default value is parsed without a dataset, so LASTAUTOINC in one has no database to find
// its table in (and the in-memory database holds no tables): the text is a plain value, which a
// numeric field refuses when the table is created, naming the text.
TEST_F(FilterTest, LastAutoincIsNoDefaultExpression) {
  for (const char* Text : {"LASTAUTOINC(People, Id)", "LASTAUTOINC(People, Id, MEMORY)"}) {
    TVLTVariant V;
    V.SetAsAnsiString(Text);
    EXPECT_FALSE(IsDefaultValueExpression(V)) << Text;
  }
  TVLTTable Bad;
  Bad.SetDatabaseName("Pay");
  Bad.SetTableName("Bad");
  Bad.AdvFieldDefs()
      .Add("Ref", aftLargeint)
      .FDefaultValue.SetAsAnsiString("LASTAUTOINC(People, Id)");
  try {
    Bad.CreateTable();
    FAIL() << "created";
  } catch (const EVLTException& E) {
    EXPECT_NE(std::string(E.what()).find("LASTAUTOINC(People, Id)"), std::string::npos) << E.what();
  }
  std::vector<std::string> Tables;
  Databases.front()->GetTablesList(Tables);
  EXPECT_EQ(std::count(Tables.begin(), Tables.end(), "Bad"), 0);
}

}  // namespace
}  // namespace vlt::test
