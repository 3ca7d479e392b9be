// Expression trees: the shapes the parser builds (AND flattening, rewritten comparisons), literal
// types, the index conditions each conjunct yields, taking answered nodes out and back, the
// default-value rule, LIKE matching, and evaluation without allocations.
#include "engine/expr/VLTExpression.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>

#include "engine/base/VLTMemory.h"
#include "engine/expr/VLTExprNodeLogic.h"
#include "tests/VLTTestUtil.h"
#include "tests/expr/VLTExprTestCursor.h"

// The replacement pair is malloc/free on both sides; GCC cannot see that through inlining.
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
namespace {
std::atomic<int64_t> GNewCalls{0};
}  // namespace

// Counts every allocation of this test program, so that a test can tell evaluation allocates
// nothing.
void* operator new(std::size_t Size) {
  GNewCalls.fetch_add(1, std::memory_order_relaxed);
  if (void* P = std::malloc(Size ? Size : 1)) return P;
  throw std::bad_alloc();
}
void operator delete(void* P) noexcept {
  std::free(P);
}
void operator delete(void* P, std::size_t) noexcept {
  std::free(P);
}

namespace vlt::test {
namespace {

class ExpressionTest : public ::testing::Test {
 protected:
  ExpressionTest() {
    C.Add("Num", bftSignedInt32)
        .Add("Big", bftSignedInt64)
        .Add("Name", bftVarchar, 10)
        .Add("Paid", bftLogical);
  }

  // The tree as text: operators by name, fields by name, constants by value; "~" marks a
  // partial comparison.
  static std::string Dump(const TVLTExprNode* N) {
    if (auto* F = dynamic_cast<const TVLTExprNodeField*>(N)) return F->FFieldName;
    if (auto* K = dynamic_cast<const TVLTExprNodeConst*>(N)) {
      if (K->Value.IsNull()) return "null";
      const std::string S = K->Value.AsAnsiString();
      return K->Value.IsStringDataType() ? "'" + S + "'" : S;
    }
    std::string S(DataOperatorName(N->Operator));
    if (N->FPartialKey) S += "~";
    S += "(";
    for (size_t I = 0; I < N->ChildCount(); ++I) S += (I ? "," : "") + Dump(N->Child(I));
    return S + ")";
  }

  std::string Parse(const std::string& Text, bool CaseInsensitive = false) {
    E.ParseForFilter(&C, Text, CaseInsensitive, true);
    return Dump(E.Root());
  }

  TExprTestCursor C;
  TVLTExpression E;
};

TEST_F(ExpressionTest, TreeShapes) {
  struct TCase {
    const char* Text;
    const char* Tree;
  };
  // clang-format off
  const TCase Cases[] = {
      {"Num = 5 AND (Name = 'A' AND Paid)", "doAND(doEQ(Num,5),doEQ(Name,'A'),Paid)"},
      {"Num = 1 AND (Num = 2 AND (Num = 3 AND Num = 4))",
       "doAND(doEQ(Num,1),doEQ(Num,2),doEQ(Num,3),doEQ(Num,4))"},
      {"(Num = 1 AND Num = 2) AND Num = 3", "doAND(doEQ(Num,3),doEQ(Num,1),doEQ(Num,2))"},
      {"Num = 1 OR Num = 2 OR Num = 3", "doOR(doOR(doEQ(Num,1),doEQ(Num,2)),doEQ(Num,3))"},
      {"Num = 1 OR Num = 2 AND Paid", "doOR(doEQ(Num,1),doAND(doEQ(Num,2),Paid))"},
      {"Num - 1 * 2 = 3", "doEQ(doADD(Num,doSUB(doMUL(1,2))),3)"},
      {"-Num / 2 > 1", "doGT(doDIV(doSUB(Num),2),1)"},
      {"Name = ''", "doISNULL(Name)"},
      {"Name <> '*'", "doISNOTNULL(Name)"},
      {"'' = Name", "doISNULL(Name)"},
      {"Name = 'Sm*'", "doEQ~(Name,'Sm')"},
      {"Name LIKE 'Sm%'", "doEQ~(Name,'Sm')"},
      {"Name NOT LIKE 'Sm%'", "doNE~(Name,'Sm')"},
      {"Name LIKE 'S%m%'", "doLIKE(Name,'S%m%')"},
      {"Name LIKE '%'", "doLIKE(Name,'%')"},
      {"NOT Num IN (1, 2)", "doNOT(doIN(Num,1,2))"},
      {"Num NOT IN (1)", "doNOTIN(Num,1)"},
      {"Paid IS NOT TRUE", "doNOT(Paid)"},
      {"Paid IS FALSE", "doNOT(Paid)"},
      {"Paid IS NOT FALSE", "Paid"},
      {"Paid IS NOT UNKNOWN", "doISNOTNULL(Paid)"},
      {"Num NOT BETWEEN 1 AND 2", "doNOTBETWEEN(Num,1,2)"},
      {"'a' + 'b' = Name", "doEQ(doCONCAT('a','b'),Name)"},
      {"Name || Num = 'x'", "doEQ(doCONCAT(Name,Num),'x')"},
      {"(1 + 2) * 3 = Num", "doEQ(doMUL(doADD(1,2),3),Num)"},
      {"Num = NULL", "doEQ(Num,null)"},
      {"Num = 5 xyz", "doEQ(Num,5)"},
  };
  // clang-format on
  for (const TCase& T : Cases) EXPECT_EQ(Parse(T.Text), T.Tree) << T.Text;
}

TEST_F(ExpressionTest, LiteralTypesAndLogic) {
  struct TCase {
    const char* Text;
    TVLTBaseFieldType Type;
  };
  const TCase Cases[] = {{"Big = 2147483646", bftSignedInt32},
                         {"Big = 2147483647", bftSignedInt64},
                         {"Big = 2147483648", bftSignedInt64},
                         {"Big = 99999999999999999999", bftDouble},
                         {"Big = 1.5", bftDouble},
                         {"Name = 'x'", bftVarchar}};
  for (const TCase& T : Cases) {
    Parse(T.Text);
    EXPECT_EQ(E.Root()->Child(1)->Value.DataType(), T.Type) << T.Text;
  }
  // Three-valued logic unless a field meets a null or text constant.
  auto Logic = [&](const char* Text) {
    Parse(Text);
    return static_cast<TVLTExprNodeComparison*>(E.Root())->F3ValueLogic;
  };
  EXPECT_TRUE(Logic("Num = 5"));
  EXPECT_FALSE(Logic("Num = NULL"));
  EXPECT_FALSE(Logic("Name = 'x'"));
  EXPECT_FALSE(Logic("'x' = Name"));
  EXPECT_TRUE(Logic("Num = Big"));
  EXPECT_TRUE(Logic("'x' = 'y'"));
}

TEST_F(ExpressionTest, EmptyAndFieldInspection) {
  EXPECT_TRUE(E.IsEmpty());
  EXPECT_EQ(E.GetValue(false), nullptr);
  EXPECT_EQ(CodeOf([&] { E.GetResult(); }), 30110);
  Parse("Num");
  std::string Table, Field;
  E.GetFieldInfo(Table, Field);
  EXPECT_EQ(Field, "Num");
  EXPECT_TRUE(E.IsField());
  Parse("Num = 1");
  EXPECT_EQ(CodeOf([&] { E.GetFieldInfo(Table, Field); }), 30198);
  EXPECT_TRUE(E.IsFieldsExpression());
  // Conjoining moves the other tree over and flattens.
  TVLTExpression Other;
  Other.ParseForFilter(&C, "Big = 2 AND Paid", false, true);
  E.AddAndMoveNodesFromExpression(Other);
  EXPECT_EQ(Dump(E.Root()), "doAND(doEQ(Num,1),doEQ(Big,2),Paid)");
  EXPECT_EQ(Other.Root(), nullptr);
}

TEST_F(ExpressionTest, StrangeTextsGiveATreeOrAnError) {
  const char* Texts[] = {"",
                         ")",
                         "((",
                         "Num = = 5",
                         "NOT NOT Num",
                         "Num IN ()",
                         "Name LIKE",
                         "Num BETWEEN 1",
                         "1 +",
                         "* 5",
                         "[",
                         "Num.",
                         "a.b.c = 1",
                         "Num IN (1,,2)",
                         "Num IS",
                         "NOT",
                         "'a' LIKE 5",
                         "Num < > 1",
                         "UPPER(",
                         "UPPER(Num"};
  for (const char* T : Texts) {
    TVLTExpression X;
    try {
      X.ParseForFilter(&C, T, false, true);
      EXPECT_NE(X.Root(), nullptr) << T;
    } catch (const EVLTException& Error) {
      EXPECT_EQ(X.Root(), nullptr) << T;  // a failed parse leaves no tree
      EXPECT_NE(Error.NativeError(), 0);
    }
  }
}

TEST_F(ExpressionTest, LongChainsAreBoundedButFlatOnesAreNot) {
  auto Chain = [](const std::string& First, const std::string& Op, int N) {
    std::string S = First;
    for (int I = 0; I < N; ++I) S += Op + First;
    return S;
  };
  // OR and * nest to the left: a long chain would make evaluation recurse without bound.
  EXPECT_EQ(CodeOf([&] { Parse(Chain("Num = 1", " OR ", 3000)); }), 30463);
  EXPECT_EQ(CodeOf([&] { Parse(Chain("Num", " * ", 3000) + " = 1"); }), 30463);
  std::vector<uint8_t> R = C.NewRecord();
  Parse(Chain("Num = 1", " OR ", 500) + " OR Num IS NULL");
  E.AssignCursorBuffer(R.data(), false);
  EXPECT_TRUE(E.GetResult());
  // AND, + and IN keep one node for any number of operands.
  Parse(Chain("Num IS NULL", " AND ", 5000));
  EXPECT_EQ(E.Root()->ChildCount(), 5001u);
  E.AssignCursorBuffer(R.data(), false);
  EXPECT_TRUE(E.GetResult());
  Parse(Chain("1", " + ", 5000) + " = 5001");
  E.AssignCursorBuffer(R.data(), false);
  EXPECT_TRUE(E.GetResult());
}

TEST_F(ExpressionTest, DeepAlternativesDoNotMultiplyTheWork) {
  // Each level tries arithmetic first and then text: without handing the parsed operand on,
  // 90 levels would take 2^90 steps (ending in 30464 "too complex" at best).
  auto Wrap = [](const std::string& Core, int N, const std::string& Open,
                 const std::string& Close) {
    std::string S;
    for (int I = 0; I < N; ++I) S += Open;
    S += Core;
    for (int I = 0; I < N; ++I) S += Close;
    return S;
  };
  EXPECT_EQ(CodeOf([&] { Parse(Wrap("Name", 90, "(", " || 'a')") + " = 'x'"); }), 0);
  EXPECT_EQ(CodeOf([&] { Parse(Wrap("'a'", 90, "(", ")") + " = Name"); }), 0);
  EXPECT_EQ(CodeOf([&] { Parse(Wrap("Num", 90, "(", ") + 1") + " = 1"); }), 0);
  EXPECT_EQ(CodeOf([&] { Parse(Wrap("Num = 1", 90, "NOT (", ")")); }), 0);
  EXPECT_EQ(Parse("(('a') || Name) = 'ab'"), "doEQ(doCONCAT('a',Name),'ab')");
}

TEST_F(ExpressionTest, FieldsAreReadFromTheAssignedBuffer) {
  std::vector<uint8_t> R = C.NewRecord();
  TVLTVariant V;
  V.SetAsInteger(5);
  C.Set(R, "Num", V);
  V.Clear(bftVarchar);
  V.SetAsAnsiString("Smith");
  C.Set(R, "Name", V);
  Parse("Num = 5 AND Name = 'Smi*' AND Big IS NULL");
  E.AssignCursorBuffer(R.data(), false);
  EXPECT_TRUE(E.GetResult());
  Parse("Num <> 5 OR Big IN (1)");
  E.AssignCursorBuffer(R.data(), false);
  EXPECT_FALSE(E.GetResult());
  EXPECT_TRUE(E.GetValue(true)->IsNull());  // unknown: IN over a null Big
  // A field with no buffer at all is an error, not a read through a null pointer.
  Parse("Num = 5");
  E.AssignCursorBuffer(nullptr, false);
  EXPECT_EQ(CodeOf([&] { E.GetResult(); }), 30196);
}

TEST_F(ExpressionTest, EvaluationAllocatesNothing) {
  std::vector<uint8_t> R = C.NewRecord();
  TVLTVariant V;
  V.SetAsInteger(7);
  C.Set(R, "Num", V);
  V.Clear(bftVarchar);
  V.SetAsAnsiString("Jones");
  C.Set(R, "Name", V);
  Parse("Num = 7 AND Name <> 'Smith' AND NOT (Big IS NULL) OR Num > 3 AND Paid IS NULL");
  E.AssignCursorBuffer(R.data(), false);
  EXPECT_TRUE(E.GetResult());  // warm: every node has its value once
  const int64_t Before = GNewCalls.load();
  const int64_t Managed = TVLTMemoryManager::Instance().AllocatedSize();
  bool All = true;
  for (int I = 0; I < 1000; ++I) {
    E.AssignCursorBuffer(R.data(), false);
    All = All && E.GetResult();
  }
  EXPECT_TRUE(All);
  EXPECT_EQ(GNewCalls.load() - Before, 0);
  EXPECT_EQ(TVLTMemoryManager::Instance().AllocatedSize(), Managed);
}

// ---- index conditions ----

class IndexConditionTest : public ExpressionTest {
 protected:
  IndexConditionTest() {
    auto Index = [](int32_t Id, std::vector<TVLTExprIndexColumn> Columns, bool Temporary = false,
                    int32_t Session = -1) {
      TVLTExprIndexInfo I;
      I.IndexID = Id;
      I.Columns = std::move(Columns);
      I.Temporary = Temporary;
      I.SessionID = Session;
      return I;
    };
    Indexes = {Index(1, {{"NUM", false, false}}),
               Index(2, {{"Num", true, false}}),
               Index(3, {{"Name", false, false}}),
               Index(4, {{"Name", false, true}}),
               Index(5, {{"Num", false, false}, {"Big", false, false}}),
               Index(6, {{"Big", false, false}}, true, 7)};
  }

  static std::string Summary(const TVLTExprScanCondition& S) {
    static const char* kCond[] = {"none", "=", "<", ">", "<=", ">="};
    std::string R = std::to_string(S.IndexID) + kCond[S.Condition];
    for (size_t I = 0; I < S.KeyFields.size(); ++I) {
      const TVLTVariant& V = S.KeyFields[I].Value;
      R += (I ? "," : "") + (V.IsNull() ? std::string("null") : V.AsAnsiString());
    }
    return R;
  }

  std::vector<std::string> Conditions(const std::string& Text, bool CaseInsensitive = false,
                                      bool Extend = false) {
    Parse(Text, CaseInsensitive);
    TVLTExprScanConditions Found;
    E.CreateIndexScanConditions(Indexes, Found, 0);
    std::vector<std::string> Out;
    for (TVLTExprScanCondition& S : Found) {
      if (Extend)
        for (const TVLTExprIndexInfo& I : Indexes)
          if (I.IndexID == S.IndexID)
            while (E.ExtendMultiFieldIndexCondition(S, I)) {
            }
      Out.push_back(Summary(S));
    }
    return Out;
  }

  std::vector<TVLTExprIndexInfo> Indexes;
};

TEST_F(IndexConditionTest, ConditionsEachConjunctYields) {
  using TList = std::vector<std::string>;
  struct TCase {
    const char* Text;
    bool CaseInsensitive;
    TList Expected;
  };
  // clang-format off
  const TCase Cases[] = {
      {"Num = 5", false, {"1=5", "2=5", "5=5"}},
      {"Num > 5", false, {"1>5", "2<5", "5>5"}},
      {"5 > Num", false, {"1<5", "2>5", "5<5"}},
      {"Num <= 5", false, {"1<=5", "2>=5", "5<=5"}},
      {"Num <> 5", false, {}},
      {"Num = 5 OR Num = 6", false, {}},
      {"NOT Num = 5", false, {}},
      {"Num IN (5)", false, {}},
      {"Num = 5.5", false, {}},
      {"Num = Big", false, {}},
      {"Name = 'abc'", false, {"3=abc"}},
      {"Name = 'abc'", true, {"4=abc"}},
      {"UPPER(Name) = 'ABC'", false, {"4=ABC"}},
      {"UPPER(Name) = 'abc'", false, {}},
      {"Name = 'ab*'", false, {}},
      {"Name LIKE 'ab%'", false, {}},
      {"Name = 'abcdefghij'", false, {}},
      {"Name = 'abcdefghi'", false, {"3=abcdefghi"}},
      {"Num IS NULL", false, {"1=null", "2=null", "5=null"}},
      {"Num IS NOT NULL", false, {"1>null", "2<null", "5>null"}},
      {"Big = 3", false, {}},
      {"Num = 5 AND Name = 'x' AND Paid", false, {"1=5", "2=5", "5=5", "3=x"}},
  };
  // clang-format on
  for (const TCase& T : Cases)
    EXPECT_EQ(Conditions(T.Text, T.CaseInsensitive), T.Expected) << T.Text;
}

TEST_F(IndexConditionTest, MultiColumnIndexesTakeFurtherEqualities) {
  using TList = std::vector<std::string>;
  EXPECT_EQ(Conditions("Num = 5 AND Big = 7", false, true), (TList{"1=5", "2=5", "5=5,7"}));
  EXPECT_EQ(Conditions("Big = 7 AND Num = 5", false, true), (TList{"1=5", "2=5", "5=5,7"}));
  EXPECT_EQ(Conditions("Num = 5 AND Big IS NULL", false, true), (TList{"1=5", "2=5", "5=5,null"}));
  EXPECT_EQ(Conditions("Num > 5 AND Big = 7", false, true), (TList{"1>5", "2<5", "5>5"}));
  EXPECT_EQ(Conditions("Num = 5 AND Big > 7", false, true), (TList{"1=5", "2=5", "5=5"}));
}

TEST_F(IndexConditionTest, ExtractedNodesAreSkippedUntilReturned) {
  std::vector<uint8_t> R = C.NewRecord();
  TVLTVariant V;
  V.SetAsInteger(5);
  C.Set(R, "Num", V);
  V.SetAsInteger(8);
  C.Set(R, "Big", V);
  Parse("Num = 5 AND Big = 7");
  E.AssignCursorBuffer(R.data(), false);
  EXPECT_FALSE(E.GetResult());
  TVLTExprNode* BigNode = E.Root()->Child(1);
  E.RemoveExtractedNodes({BigNode});
  EXPECT_TRUE(E.GetResult());
  TVLTExprScanConditions Found;
  E.CreateIndexScanConditions(Indexes, Found, 0);
  for (const TVLTExprScanCondition& S : Found)
    EXPECT_EQ(S.ParentExpressionNodes.front(), E.Root()->Child(0));  // the taken node gives none
  E.ReturnExtractedNodes();
  EXPECT_FALSE(E.GetResult());
  // A root that is taken out is true for every record.
  Parse("Num = 4");
  E.AssignCursorBuffer(R.data(), false);
  E.RemoveExtractedNodes({E.Root()});
  EXPECT_TRUE(E.GetResult());
}

// ---- default values and LIKE ----

TEST(DefaultValueExpressionTest, WhichDefaultsAreExpressions) {
  struct TCase {
    const char* Text;
    bool Expression;
  };
  const TCase Cases[] = {{"1+1", true},        {"CURRENT_DATE", true}, {"(2*3)", true},
                         {"5", false},         {"Smith", false},       {"-5", false},
                         {"Name + 1", false},  {"1 - Name", false},    {"1 1", false},
                         {"'a'; 'b'", false},  {"12a", false},         {"   ", false},
                         {"UPPER('x')", true}, {"'x'", true}};
  for (const TCase& T : Cases) {
    TVLTVariant V;
    V.SetAsAnsiString(T.Text);
    EXPECT_EQ(IsDefaultValueExpression(V), T.Expression) << T.Text;
  }
  TVLTVariant Number;
  Number.SetAsInteger(5);
  EXPECT_FALSE(IsDefaultValueExpression(Number));
}

TEST(LikeMatchTest, Patterns) {
  struct TCase {
    const char16_t* Text;
    const char16_t* Pattern;
    char16_t Escape;
    bool CaseInsensitive;
    bool Match;
  };
  // clang-format off
  const TCase Cases[] = {
      {u"Smith", u"Sm_th", 0, false, true},
      {u"Smith", u"Sm%", 0, false, true},
      {u"Smith", u"%ith", 0, false, true},
      {u"Smith", u"%it", 0, false, false},
      {u"Smith", u"S%t%h", 0, false, true},
      {u"Smith", u"smith", 0, false, false},
      {u"Smith", u"smith", 0, true, true},
      {u"", u"%", 0, false, true},
      {u"", u"_", 0, false, false},
      {u"a", u"a%%", 0, false, true},
      {u"10%", u"10!%", u'!', false, true},
      {u"100", u"10!%", u'!', false, false},
      {u"a_c", u"a!_c", u'!', false, true},
      {u"abc", u"a!_c", u'!', false, false},
      {u"ab", u"abc", 0, false, false},
      {u"abc", u"ab", 0, false, false},
  };
  // clang-format on
  for (const TCase& T : Cases)
    EXPECT_EQ(VLTLikeMatch(T.Text, T.Pattern, T.Escape, T.CaseInsensitive), T.Match)
        << std::string(T.Pattern, T.Pattern + std::char_traits<char16_t>::length(T.Pattern));
  // Many "%" against a long text that almost matches ends at once.
  const std::u16string Long(5000, u'a');
  EXPECT_FALSE(VLTLikeMatch(Long, u"%a%a%a%a%a%a%a%a%a%a%b", 0, false));
}

}  // namespace
}  // namespace vlt::test
