#include "engine/expr/VLTLexer.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace vlt {
namespace {

// "Kind:Text" for every token of every command, commands separated by "|".
std::string Describe(const TVLTLexer& L) {
  static const char* const kKinds[] = {"None", "Str",  "Quot", "Brack", "Int",  "Float",
                                       "Word", "Param", "(",   ")",     ",",    "."};
  std::string Out;
  for (size_t C = 0; C < L.Commands().size(); ++C) {
    if (C) Out += " | ";
    bool First = true;
    for (const TToken& T : L.Commands()[C].Tokens) {
      if (!First) Out += ' ';
      First = false;
      Out += kKinds[T.TokenType];
      Out += ':';
      Out += T.Text;
    }
  }
  return Out;
}

struct TTokenCase {
  const char* Name;
  const char* Text;
  const char* Expected;
};

class LexerTokens : public ::testing::TestWithParam<TTokenCase> {};

TEST_P(LexerTokens, Tokenize) {
  const TTokenCase& C = GetParam();
  TVLTLexer L(C.Text, true, nullptr);
  EXPECT_EQ(Describe(L), C.Expected) << C.Text;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, LexerTokens,
    ::testing::Values(
        TTokenCase{"DoubledQuote", "Name = 'O''Brien'", "Str:Name Str:= Quot:O'Brien"},
        TTokenCase{"DoubleQuotesAreText", "\"Name\"", "Quot:Name"},
        TTokenCase{"BracketedReservedWord", "[Order]", "Brack:Order"},
        TTokenCase{"ReservedWordAnyCase", "order By", "Word:order Word:By"},
        TTokenCase{"BackQuotedNeverReserved", "`order` `a\\`b` `it``s`",
                   "Str:order Str:a`b Str:it`s"},
        TTokenCase{"FloatWithExponentSign", "1.5E+3", "Float:1.5E+3"},
        TTokenCase{"FloatWithBareExponent", "1E", "Float:1E"},
        TTokenCase{"NegativeExponentThenMinus", "1e-3-2", "Float:1e-3 Str:- Int:2"},
        TTokenCase{"LeadingDotNumber", ".5", "Float:.5"},
        TTokenCase{"Integer", "42", "Int:42"},
        TTokenCase{"WordThenLineComment", "abc -- comment", "Str:abc"},
        TTokenCase{"WordThenBlockComment", "abc/* comment */", "Str:abc"},
        TTokenCase{"BlockCommentSplitsWords", "abc/**/def", "Str:abc Str:def"},
        TTokenCase{"UnterminatedBlockComment", "abc /* open", "Str:abc"},
        TTokenCase{"ComparisonsWithoutBlanks", "a<5 b<=6 c<>7 d>=8 e>9 f=1",
                   "Str:a Str:< Int:5 Str:b Str:<= Int:6 Str:c Str:<> Int:7 Str:d Str:>= Int:8 "
                   "Str:e Str:> Int:9 Str:f Str:= Int:1"},
        TTokenCase{"Concatenation", "a||b", "Str:a Str:|| Str:b"},
        TTokenCase{"QualifiedName", "T.Name", "Str:T .:. Str:Name"},
        TTokenCase{"MinusIsAlwaysAToken", "a-1", "Str:a Str:- Int:1"},
        TTokenCase{"WordKeepsDigits", "abc12", "Str:abc12"},
        TTokenCase{"Punctuation", "f(x, y)", "Str:f (:( Str:x ,:, Str:y ):)"},
        TTokenCase{"QuoteStartsTokenAfterOperator", "x='a'", "Str:x Str:= Quot:a"},
        TTokenCase{"SemicolonInQuotes", "'a;b'", "Quot:a;b"},
        TTokenCase{"Commands", "a; b;; c", "Str:a | Str:b | Str:c"},
        TTokenCase{"OnlyCommentsNoCommand", "  -- nothing\n /* at all */ ; ", ""},
        TTokenCase{"Empty", "", ""},
        TTokenCase{"ParametersOffKeepsColon", "x = :p", "Str:x Str:= Str::p"},
        TTokenCase{"LastAutoIncWord", "LastAutoInc", "Word:LastAutoInc"}),
    [](const auto& Info) { return std::string(Info.param.Name); });

TEST(Lexer, ReservedWordNumbersFollowTheList) {
  TVLTLexer L("order [order] `order` ORDER lastautoinc rndup absolute", true, nullptr);
  const auto& T = L.Commands().at(0).Tokens;
  ASSERT_EQ(T.size(), 7u);
  EXPECT_EQ(T[0].ReservedWord, rwORDER);
  EXPECT_EQ(T[1].ReservedWord, rwNone);
  EXPECT_EQ(T[2].ReservedWord, rwNone);
  EXPECT_EQ(T[3].ReservedWord, rwORDER);
  EXPECT_EQ(T[4].ReservedWord, rwLAST_AUTOINC);
  EXPECT_EQ(T[5].ReservedWord, rwRNDUP);
  EXPECT_EQ(T[6].ReservedWord, rwABSOLUTE);
  EXPECT_TRUE(T[0].IsReservedWord(rwNone));
  EXPECT_FALSE(T[1].IsReservedWord(rwNone));
}

TEST(ReservedWords, EveryWordFindsItsOwnNumber) {
  for (int I = 0; I < kReservedWordCount; ++I) {
    auto W = static_cast<TReservedWord>(I);
    EXPECT_EQ(FindReservedWord(ReservedWordText(W)), W) << ReservedWordText(W);
  }
  // Anchors spread over the list: a shifted entry moves all of these.
  EXPECT_EQ(rwABSOLUTE, 0);
  EXPECT_EQ(rwAND, 6);
  EXPECT_EQ(rwFALSE, 83);
  EXPECT_EQ(rwNOT, 140);
  EXPECT_EQ(rwTRUE, 208);
  EXPECT_EQ(rwZONE, 229);
  EXPECT_EQ(rwPASSWORD, 230);
  EXPECT_EQ(rwLAST_AUTOINC, 234);
  EXPECT_EQ(rwTRUNCATE, 266);
  EXPECT_EQ(rwRNDUP, 291);
  EXPECT_EQ(rwNone, 292);
  EXPECT_EQ(ReservedWordText(rwLAST_AUTOINC), "LASTAUTOINC");
  EXPECT_EQ(FindReservedWord("Name"), rwNone);
  EXPECT_EQ(FindReservedWord(""), rwNone);
}

TEST(Lexer, PositionsCountFromOne) {
  TVLTLexer L("a\n  bc\r\n'x\ny' d", true, nullptr);
  const auto& T = L.Commands().at(0).Tokens;
  ASSERT_EQ(T.size(), 4u);
  EXPECT_EQ((std::pair{T[0].LineNum, T[0].ColumnNum}), (std::pair{1, 1}));
  EXPECT_EQ((std::pair{T[1].LineNum, T[1].ColumnNum}), (std::pair{2, 3}));
  EXPECT_EQ((std::pair{T[2].LineNum, T[2].ColumnNum}), (std::pair{3, 1}));  // CR moves nothing
  EXPECT_EQ(T[2].Text, "x\ny");
  EXPECT_EQ((std::pair{T[3].LineNum, T[3].ColumnNum}), (std::pair{4, 4}));  // LF inside quotes
}

struct TErrorCase {
  const char* Name;
  const char* Text;
  int32_t Code;
  const char* Message;
};

class LexerErrors : public ::testing::TestWithParam<TErrorCase> {};

TEST_P(LexerErrors, Raise) {
  const TErrorCase& C = GetParam();
  try {
    TVLTLexer L(C.Text, false, nullptr);
    FAIL() << "no error for " << C.Text;
  } catch (const EVLTException& E) {
    EXPECT_EQ(E.NativeError(), C.Code);
    EXPECT_EQ(E.Message().substr(0, E.Message().find(" - Native error")), C.Message);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, LexerErrors,
    ::testing::Values(
        TErrorCase{"UnmatchedOpening", "(a = 1", 30059, "Missing symbol ')' at line 1, column 1"},
        TErrorCase{"InnermostUnclosed", "(a\n + (b)", 30059,
                   "Missing symbol ')' at line 1, column 1"},
        TErrorCase{"UnclosedBeforeSemicolon", "x; f((a)", 30059,
                   "Missing symbol ')' at line 1, column 5"},
        TErrorCase{"SurplusClosing", "a)", 30060, "Unexpected symbol ')' found at line 1, column 2"},
        TErrorCase{"SurplusClosingLaterReopened", "(a))(", 30060,
                   "Unexpected symbol ')' found at line 1, column 4"},
        TErrorCase{"LetterInNumber", "12a", 30062, "Invalid numeric symbol 'a' at line 1, column 3"},
        TErrorCase{"LetterInNumberSecondLine", "x\n 1.5x", 30062,
                   "Invalid numeric symbol 'x' at line 2, column 5"},
        TErrorCase{"UnterminatedQuote", "a = 'abc", 30061, "Unterminated string at line 1, column 5"},
        TErrorCase{"UnterminatedBracket", "[abc", 30061, "Unterminated string at line 1, column 1"},
        TErrorCase{"NamedParameterWithoutList", "x = :p", 30358,
                   "Value for parameter 'p' not found"},
        TErrorCase{"PositionalParameterWithoutList", "x = ?", 30358,
                   "Value for parameter 'Param1' not found"}),
    [](const auto& Info) { return std::string(Info.param.Name); });

TEST(Lexer, ParametersTakeTheirValues) {
  TVLTSQLParams P;
  TVLTVariant V1;
  V1.SetAsInteger(5);
  TVLTVariant V2;
  V2.SetAsAnsiString("abc");
  P.Add("Num", V1);
  P.Add("my name", V2);
  TVLTLexer L("a = :NUM and b = ? or c = ? or d = :'my name'", false, &P);
  std::vector<const TToken*> Params;
  for (const TToken& T : L.Commands().at(0).Tokens)
    if (T.TokenType == tktParameter) Params.push_back(&T);
  ASSERT_EQ(Params.size(), 4u);
  EXPECT_EQ(Params[0]->Text, "NUM");
  EXPECT_EQ(Params[0]->ParamValue->AsInteger(), 5);
  EXPECT_EQ(Params[1]->Text, "Param1");
  EXPECT_EQ(Params[1]->ParamValue->AsInteger(), 5);
  EXPECT_EQ(Params[2]->Text, "Param2");
  EXPECT_EQ(Params[2]->ParamValue->AsAnsiString(), "abc");
  EXPECT_EQ(Params[3]->Text, "my name");
  EXPECT_EQ(Params[3]->ParamValue->AsAnsiString(), "abc");

  EXPECT_THROW(TVLTLexer("a = :missing", false, &P), EVLTException);
  EXPECT_THROW(TVLTLexer("? ? ?", false, &P), EVLTException);  // only two values
}

TEST(Lexer, NavigationAndBacktracking) {
  TVLTLexer L("a = 1; (b)", true, nullptr);
  TToken T;
  EXPECT_EQ(L.CurrentCommandNo(), -1);
  EXPECT_FALSE(L.GetCurrentToken(T));
  EXPECT_EQ(T.TokenType, tktNone);

  ASSERT_TRUE(L.GetNextCommand());
  ASSERT_TRUE(L.GetCurrentToken(T));
  EXPECT_EQ(T.Text, "a");
  ASSERT_TRUE(L.LookNextToken(T));
  EXPECT_EQ(T.Text, "=");
  EXPECT_EQ(L.GetCurrentTokenNo(), 0);
  ASSERT_TRUE(L.GetNextToken(T));
  EXPECT_EQ(T.Text, "=");
  EXPECT_EQ(L.GetCurrentTokenNo(), 1);
  ASSERT_TRUE(L.GetNextToken(T));
  EXPECT_EQ(T.Text, "1");
  EXPECT_FALSE(L.GetNextToken(T));  // past the end
  EXPECT_EQ(T.TokenType, tktNone);
  EXPECT_TRUE(T.Text.empty());
  EXPECT_FALSE(L.GetCurrentToken(T));
  ASSERT_TRUE(L.SetCurrentTokenNo(1, T));  // back-track
  EXPECT_EQ(T.Text, "=");

  ASSERT_TRUE(L.GetNextCommand());
  ASSERT_TRUE(L.GetNextSpecifiedToken(T, TokenTypeSet({tktRightParenthesis})));
  EXPECT_EQ(T.ColumnNum, 10);
  EXPECT_FALSE(L.GetNextSpecifiedToken(T, TokenTypeSet({tktComma})));
  EXPECT_FALSE(L.GetNextCommand());
  EXPECT_FALSE(L.GetNextCommand());
}

TEST(Lexer, BuiltTokenLists) {
  TVLTLexer L("", true, nullptr);
  EXPECT_EQ(L.NumCommands(), 0);
  TToken T;
  T.TokenType = tktInt;
  T.Text = "7";
  L.AddToken(T);
  L.AddCommand();
  L.AddToken(T);
  ASSERT_EQ(L.NumCommands(), 2);
  ASSERT_TRUE(L.GetNextCommand());
  TToken Got;
  ASSERT_TRUE(L.GetCurrentToken(Got));
  EXPECT_EQ(Got.Text, "7");
}

}  // namespace
}  // namespace vlt
