// TVLTExprParser: recursive descent with back-tracking over one command of a lexer, building the
// nodes of a TVLTExpression. Internal to the expression unit.
//
// Every alternative remembers the token it started at; when it fails, the nodes it built are
// freed and the parser returns to that token to try the next alternative. Failures of the rules
// that several alternatives start with are remembered per token, so that no text is parsed an
// exponential number of times; nesting is bounded (30463) and so is the total work (30464).
//
// Grammar (keywords are reserved words, case-insensitive):
//   boolean    := and-term { OR and-term }                  left-nested doOR
//   and-term   := factor { AND factor }                     one doAND with every factor
//   factor     := [NOT] test
//   test       := primary [IS [NOT] (TRUE | FALSE | UNKNOWN)]
//   primary    := predicate | "(" boolean ")" | value
//   predicate  := TRUE | FALSE
//               | value compare-op value
//               | value [NOT] LIKE value [ESCAPE text]
//               | value IS [NOT] NULL
//               | value [NOT] BETWEEN value AND value
//               | value [NOT] IN "(" value { "," value } ")"
//   value      := numeric | datetime | string | TRUE | FALSE | NULL
//   numeric    := term { ("+" | "-") term }, not followed by "||"
//   term       := factor' { ("*" | "/") factor' }
//   factor'    := ["+" | "-"] operand                       a constant operand must be numeric
//   datetime   := dt-operand ("+" | "-") value              doADD(dt, doADD(value) | doSUB(value))
//               | 'text' "-" dt-operand                     doADD('text', doSUB(dt))
//               | dt-operand                                not followed by "||"
//   dt-operand := SYSDATE | NOW | CURRENT_TIMESTAMP | CURRENT_DATE | CURRENT_TIME | TODATE(...)
//               | DATE 'text' | TIME 'text' | TIMESTAMP 'text' | a date-time parameter
//   string     := operand { ("||" | "+") operand }
//   operand    := number | 'text' | field | "(" value ")" | function
//   field      := [qualifier "."] (word | [name] | `name`), not a reserved word, no "(" after
//   function   := the functions, CAST, CASE, COALESCE and date literals (VLTExprParserFunctions.cpp)
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "engine/expr/VLTExprNode.h"
#include "engine/expr/VLTLexer.h"

namespace vlt {

class TVLTExpression;

class TVLTExprParser {
 public:
  // Parses from the lexer's current token of its current command. The read position is moved
  // past what was parsed.
  TVLTExprParser(TVLTExpression& Expression, TVLTLexer& Lexer);
  ~TVLTExprParser();

  // None when nothing parses (the read position is then where it started).
  std::unique_ptr<TVLTExprNode> ParseBooleanExpression();
  std::unique_ptr<TVLTExprNode> ParseValueExpression();

  const TToken& Current() const;
  int32_t Position() const { return FPos; }
  bool AtEnd() const { return FPos >= static_cast<int32_t>(FTokens.size()); }

 private:
  enum TRule : uint8_t { ruBoolean, ruPredicate, ruValue, ruOperand, ruRuleCount };
  class TNesting;

  std::unique_ptr<TVLTExprNode> ParseAndTerm();
  std::unique_ptr<TVLTExprNode> ParseFactor();
  std::unique_ptr<TVLTExprNode> ParseTest();
  std::unique_ptr<TVLTExprNode> ParsePrimary();
  std::unique_ptr<TVLTExprNode> ParsePredicate();
  std::unique_ptr<TVLTExprNode> ParseNumericExpression();
  // Terms and factors of arithmetic. False when they do not parse; Out then holds what was
  // built so far (so that the first operand can be handed on), First and FirstEnd (when given)
  // the first operand without a sign and where it ended.
  bool ParseTerm(std::unique_ptr<TVLTExprNode>& Out, TVLTExprNode** First, int32_t* FirstEnd);
  bool ParseNumericFactor(std::unique_ptr<TVLTExprNode>& Out, TVLTExprNode** First,
                          int32_t* FirstEnd);
  std::unique_ptr<TVLTExprNode> ParseStringExpression();
  std::unique_ptr<TVLTExprNode> ParseOperand();
  std::unique_ptr<TVLTExprNode> ParseFieldReference();
  std::unique_ptr<TVLTExprNode> ParseFunction();
  std::unique_ptr<TVLTExprNode> ParseDateTimeExpression();
  // Rules of ParseFunction (VLTExprParserFunctions.cpp).
  std::unique_ptr<TVLTExprNode> ParseDateLiteral(TReservedWord Word);
  std::unique_ptr<TVLTExprNode> ParseCast();
  std::unique_ptr<TVLTExprNode> ParseCase();
  std::unique_ptr<TVLTExprNode> ParseCoalesce();
  std::unique_ptr<TVLTExprNode> ParseSubstring();
  std::unique_ptr<TVLTExprNode> ParseExtract();
  std::unique_ptr<TVLTExprNode> ParseDateFormatFunction(TVLTDataOperator Operator);
  std::unique_ptr<TVLTExprNode> ParseRound();
  std::unique_ptr<TVLTExprNode> ParseLastAutoinc();
  std::unique_ptr<TVLTExprNode> ParseMimeToBin();
  // Pieces of function calls: each raises its error when the text lacks what it expects.
  void ExpectLeftParenthesis(int32_t Code);
  void ExpectRightParenthesis(int32_t Code);
  void ExpectComma(int32_t Code);
  void ExpectWord(TReservedWord Word, int32_t Code);
  std::unique_ptr<TVLTExprNode> RequireArgument(int32_t Code, std::string_view Function);
  // The text of a name argument (a word, a quoted or a bracketed name); 30480 otherwise.
  std::string RequireName(std::string_view Function);

  std::unique_ptr<TVLTExprNode> BuildComparison(TVLTDataOperator Operator,
                                                std::unique_ptr<TVLTExprNode> Left,
                                                std::unique_ptr<TVLTExprNode> Right);
  std::unique_ptr<TVLTExprNode> BuildLike(bool Negated, std::unique_ptr<TVLTExprNode> Text,
                                          std::unique_ptr<TVLTExprNode> Pattern, bool HasEscape,
                                          const std::string& Escape);

  void Next() {
    if (FPos < static_cast<int32_t>(FTokens.size())) ++FPos;
  }
  void Restore(int32_t Pos) { FPos = Pos; }
  bool IsSymbol(std::string_view Text) const;
  bool IsWord(TReservedWord Word) const { return Current().IsReservedWord(Word); }
  bool Failed(TRule Rule) const;
  void MarkFailed(TRule Rule, int32_t Pos);
  void Step();
  // 30463 when Node makes the tree too high to evaluate safely.
  void CheckHeight(const TVLTExprNode& Node) const;
  // Raises Code with "Token '%s' expected, but '%s' found at line %d, column %d".
  [[noreturn]] void RaiseTokenExpected(int32_t Code, std::string_view Expected) const;

  TVLTExpression& FExpression;
  TVLTLexer& FLexer;
  const std::vector<TToken>& FTokens;
  int32_t FPos;
  TToken FEndToken;  // past the last token: no type, the position of the last token
  std::vector<uint8_t> FFailed[ruRuleCount];
  // An operand parsed at Start (ending at End) by an alternative that failed, kept for the next
  // alternative that starts there.
  struct TStash {
    int32_t Start = -1;
    int32_t End = -1;
    std::unique_ptr<TVLTExprNode> Node;
  } FStash;
  int32_t FDepth = 0;
  int64_t FSteps = 0;
};

}  // namespace vlt
