#include "engine/expr/VLTExprParser.h"

#include <cmath>

#include "engine/base/VLTExcept.h"
#include "engine/expr/VLTExprNodeFunctions.h"
#include "engine/expr/VLTExprNodeLogic.h"
#include "engine/expr/VLTExpression.h"
#include "engine/expr/VLTLocale.h"

namespace vlt {

namespace {

constexpr int32_t kErrNestedTooDeeply = 30463;
constexpr int32_t kErrTooComplex = 30464;
constexpr int32_t kErrMissingToken = 30068;
// Rule entries a parse may make: far above any real filter, low enough to end at once.
constexpr int64_t kMaxParseSteps = 2000000;
// Left-nested chains (a OR b OR ..., a * b * ...) may grow a tree this high; with the nesting
// bound this keeps evaluation and destruction, which recurse, well inside the stack.
constexpr int32_t kMaxChainHeight = 1000;

const std::vector<TToken>& CommandTokens(const TVLTLexer& Lexer) {
  static const std::vector<TToken> kNone;
  const int32_t C = Lexer.CurrentCommandNo();
  if (C < 0 || C >= Lexer.NumCommands()) return kNone;
  return Lexer.Commands()[static_cast<size_t>(C)].Tokens;
}

// Operator symbols the lexer gives as plain strings; they are never names.
bool IsOperatorText(std::string_view S) {
  return S.empty() || S == "=" || S == "<>" || S == "<" || S == "<=" || S == ">" || S == ">=" ||
         S == "+" || S == "-" || S == "*" || S == "/" || S == "|" || S == "||" || S == ":" ||
         S == "?" || S == "!=";
}

bool IsNameToken(const TToken& T) {
  if (T.TokenType == tktBracketedString) return !T.Text.empty();
  return T.TokenType == tktString && !IsOperatorText(T.Text);
}

TVLTDataOperator ComparisonOperator(const TToken& T) {
  if (T.TokenType != tktString) return doUNDEFINED;
  if (T.Text == "=") return doEQ;
  if (T.Text == "<>") return doNE;
  if (T.Text == "<") return doLT;
  if (T.Text == ">") return doGT;
  if (T.Text == "<=") return doLE;
  if (T.Text == ">=") return doGE;
  return doUNDEFINED;
}

auto* AsConst(TVLTExprNode* N) {
  return dynamic_cast<TVLTExprNodeConst*>(N);
}
bool IsFieldNode(TVLTExprNode* N) {
  return dynamic_cast<TVLTExprNodeField*>(N) != nullptr;
}

std::unique_ptr<TVLTExprNode> Unary(TVLTDataOperator Op, std::unique_ptr<TVLTExprNode> Child) {
  std::unique_ptr<TVLTExprNode> N;
  if (Op == doSUB)
    N = std::make_unique<TVLTExprNodeArithmetic>(doSUB);
  else
    N = std::make_unique<TVLTExprNodeBoolean>(Op);
  N->AddChild(std::move(Child));
  return N;
}

std::unique_ptr<TVLTExprNode> LogicalConst(bool V) {
  auto C = std::make_unique<TVLTExprNodeConst>();
  C->Value.Clear(bftLogical);
  C->Value.SetAsBoolean(V);
  return C;
}

}  // namespace

// Counts one level of nesting for as long as it lives.
class TVLTExprParser::TNesting {
 public:
  explicit TNesting(TVLTExprParser& P) : FP(P) {
    if (++FP.FDepth > TVLTExpression::kMaxNestingDepth) {
      const TToken& T = FP.Current();
      throw EVLTException(kErrNestedTooDeeply,
                          "Expression is nested too deeply at line %d, column %d",
                          {int64_t{T.LineNum}, int64_t{T.ColumnNum}});
    }
  }
  ~TNesting() { --FP.FDepth; }

 private:
  TVLTExprParser& FP;
};

TVLTExprParser::TVLTExprParser(TVLTExpression& Expression, TVLTLexer& Lexer)
    : FExpression(Expression),
      FLexer(Lexer),
      FTokens(CommandTokens(Lexer)),
      FPos(Lexer.GetCurrentTokenNo()) {
  if (FPos < 0) FPos = 0;
  if (!FTokens.empty()) {
    FEndToken.LineNum = FTokens.back().LineNum;
    FEndToken.ColumnNum = FTokens.back().ColumnNum;
  } else {
    FEndToken.LineNum = FEndToken.ColumnNum = 1;
  }
  for (auto& F : FFailed) F.assign(FTokens.size() + 1, 0);
}

TVLTExprParser::~TVLTExprParser() {
  TToken T;
  FLexer.SetCurrentTokenNo(FPos, T);
}

const TToken& TVLTExprParser::Current() const {
  return FPos < static_cast<int32_t>(FTokens.size()) ? FTokens[static_cast<size_t>(FPos)]
                                                     : FEndToken;
}

bool TVLTExprParser::IsSymbol(std::string_view Text) const {
  const TToken& T = Current();
  return T.TokenType == tktString && T.Text == Text;
}

bool TVLTExprParser::Failed(TRule Rule) const {
  return FPos <= static_cast<int32_t>(FTokens.size()) && FFailed[Rule][static_cast<size_t>(FPos)];
}

void TVLTExprParser::MarkFailed(TRule Rule, int32_t Pos) {
  if (Pos >= 0 && Pos <= static_cast<int32_t>(FTokens.size()))
    FFailed[Rule][static_cast<size_t>(Pos)] = 1;
}

void TVLTExprParser::Step() {
  if (++FSteps > kMaxParseSteps) {
    const TToken& T = Current();
    throw EVLTException(kErrTooComplex, "Expression is too complex at line %d, column %d",
                        {int64_t{T.LineNum}, int64_t{T.ColumnNum}});
  }
}

void TVLTExprParser::CheckHeight(const TVLTExprNode& Node) const {
  if (Node.Height() <= kMaxChainHeight) return;
  const TToken& T = Current();
  throw EVLTException(kErrNestedTooDeeply, "Expression is nested too deeply at line %d, column %d",
                      {int64_t{T.LineNum}, int64_t{T.ColumnNum}});
}

void TVLTExprParser::RaiseTokenExpected(int32_t Code, std::string_view Expected) const {
  const TToken& T = Current();
  throw EVLTException(Code, "Token '%s' expected, but '%s' found at line %d, column %d",
                      {std::string(Expected), T.Text, int64_t{T.LineNum}, int64_t{T.ColumnNum}});
}

// ---- conditions ----

std::unique_ptr<TVLTExprNode> TVLTExprParser::ParseBooleanExpression() {
  Step();
  if (Failed(ruBoolean)) return nullptr;
  TNesting Nesting(*this);
  const int32_t Start = FPos;
  std::unique_ptr<TVLTExprNode> Left = ParseAndTerm();
  if (!Left) {
    MarkFailed(ruBoolean, Start);
    return nullptr;
  }
  while (IsWord(rwOR)) {
    Next();
    std::unique_ptr<TVLTExprNode> Right = ParseAndTerm();
    if (!Right) {
      const TToken& T = Current();
      throw EVLTException(30070,
                          "Boolean expression expected, but '%s' found at line %d, column %d",
                          {T.Text, int64_t{T.LineNum}, int64_t{T.ColumnNum}});
    }
    auto Or = std::make_unique<TVLTExprNodeBoolean>(doOR);
    Or->AddChild(std::move(Left));
    Or->AddChild(std::move(Right));
    Left = std::move(Or);
    CheckHeight(*Left);
  }
  return Left;
}

std::unique_ptr<TVLTExprNode> TVLTExprParser::ParseAndTerm() {
  std::unique_ptr<TVLTExprNode> First = ParseFactor();
  if (!First || !IsWord(rwAND)) return First;
  auto And = std::make_unique<TVLTExprNodeBoolean>(doAND);
  And->AddChild(std::move(First));
  while (IsWord(rwAND)) {
    Next();
    std::unique_ptr<TVLTExprNode> F = ParseFactor();
    if (!F) {
      const TToken& T = Current();
      throw EVLTException(30069,
                          "Boolean expression expected, but '%s' found at line %d, column %d",
                          {T.Text, int64_t{T.LineNum}, int64_t{T.ColumnNum}});
    }
    And->AddChild(std::move(F));
  }
  return And;
}

std::unique_ptr<TVLTExprNode> TVLTExprParser::ParseFactor() {
  if (!IsWord(rwNOT)) return ParseTest();
  const int32_t Start = FPos;
  Next();
  std::unique_ptr<TVLTExprNode> T = ParseTest();
  if (!T) {
    Restore(Start);
    return nullptr;
  }
  return Unary(doNOT, std::move(T));
}

std::unique_ptr<TVLTExprNode> TVLTExprParser::ParseTest() {
  std::unique_ptr<TVLTExprNode> P = ParsePrimary();
  if (!P || !IsWord(rwIS)) return P;
  Next();
  bool Negated = false;
  if (IsWord(rwNOT)) {
    Negated = true;
    Next();
  }
  if (IsWord(rwTRUE) || IsWord(rwFALSE)) {
    const bool IsTrue = IsWord(rwTRUE);
    Next();
    // IS TRUE and IS NOT FALSE keep the primary; IS FALSE and IS NOT TRUE negate it.
    return IsTrue != Negated ? std::move(P) : Unary(doNOT, std::move(P));
  }
  if (IsWord(rwUNKNOWN)) {
    Next();
    return Unary(Negated ? doISNOTNULL : doISNULL, std::move(P));
  }
  RaiseTokenExpected(30067, "TRUE, FALSE or UNKNOWN");
}

std::unique_ptr<TVLTExprNode> TVLTExprParser::ParsePrimary() {
  Step();
  const int32_t Start = FPos;
  if (std::unique_ptr<TVLTExprNode> P = ParsePredicate()) return P;
  if (Current().TokenType == tktLeftParenthesis) {
    Next();
    std::unique_ptr<TVLTExprNode> B = ParseBooleanExpression();
    if (B) {
      if (Current().TokenType == tktRightParenthesis) {
        Next();
        return B;
      }
      // Not a parenthesised condition; a value that happens to start with "(" may still be.
      const int32_t Missing = FPos;
      B.reset();
      Restore(Start);
      if (std::unique_ptr<TVLTExprNode> V = ParseValueExpression()) return V;
      Restore(Missing);
      RaiseTokenExpected(kErrMissingToken, ")");
    }
    Restore(Start);
  }
  return ParseValueExpression();
}

std::unique_ptr<TVLTExprNode> TVLTExprParser::ParsePredicate() {
  Step();
  if (Failed(ruPredicate)) return nullptr;
  const int32_t Start = FPos;
  if (IsWord(rwTRUE) || IsWord(rwFALSE)) {
    const bool V = IsWord(rwTRUE);
    Next();
    return LogicalConst(V);
  }
  const TToken& First = Current();
  if (First.TokenType == tktParameter && First.ParamValue &&
      First.ParamValue->DataType() == bftLogical) {
    Next();
    return std::make_unique<TVLTExprNodeConst>(*First.ParamValue);
  }

  // Every other predicate starts with a value expression; it is parsed once and the token after
  // it tells which predicate this is.
  std::unique_ptr<TVLTExprNode> Left = ParseValueExpression();
  auto Fail = [&]() -> std::unique_ptr<TVLTExprNode> {
    Restore(Start);
    MarkFailed(ruPredicate, Start);
    return nullptr;
  };
  if (!Left) return Fail();

  if (TVLTDataOperator Op = ComparisonOperator(Current()); Op != doUNDEFINED) {
    Next();
    std::unique_ptr<TVLTExprNode> Right = ParseValueExpression();
    if (!Right) return Fail();
    return BuildComparison(Op, std::move(Left), std::move(Right));
  }

  if (IsWord(rwIS)) {
    Next();
    bool Negated = false;
    if (IsWord(rwNOT)) {
      Negated = true;
      Next();
    }
    if (!IsWord(rwNULL)) return Fail();  // IS [NOT] TRUE / FALSE / UNKNOWN: a test
    Next();
    return Unary(Negated ? doISNOTNULL : doISNULL, std::move(Left));
  }

  bool Negated = false;
  if (IsWord(rwNOT)) {
    Negated = true;
    Next();
  }
  if (IsWord(rwLIKE)) {
    Next();
    std::unique_ptr<TVLTExprNode> Pattern = ParseValueExpression();
    if (!Pattern) return Fail();
    bool HasEscape = false;
    std::string Escape;
    if (IsWord(rwESCAPE)) {
      HasEscape = true;
      Next();
      const TToken& E = Current();
      Escape = E.TokenType == tktParameter && E.ParamValue ? E.ParamValue->AsAnsiString() : E.Text;
      if (Escape.size() != 1 || E.TokenType == tktNone)
        throw EVLTException(20294,
                            "Invalid escape character length (should be a single character) at "
                            "line %d, column %d",
                            {int64_t{E.LineNum}, int64_t{E.ColumnNum}});
      Next();
    }
    return BuildLike(Negated, std::move(Left), std::move(Pattern), HasEscape, Escape);
  }
  if (IsWord(rwBETWEEN)) {
    Next();
    std::unique_ptr<TVLTExprNode> Low = ParseValueExpression();
    if (!Low || !IsWord(rwAND)) return Fail();
    Next();
    std::unique_ptr<TVLTExprNode> High = ParseValueExpression();
    if (!High) return Fail();
    auto N = std::make_unique<TVLTExprNodeBoolean>(Negated ? doNOTBETWEEN : doBETWEEN);
    N->AddChild(std::move(Left));
    N->AddChild(std::move(Low));
    N->AddChild(std::move(High));
    return N;
  }
  if (IsWord(rwIN)) {
    Next();
    if (Current().TokenType != tktLeftParenthesis) return Fail();
    Next();
    auto N = std::make_unique<TVLTExprNodeBoolean>(Negated ? doNOTIN : doIN);
    N->AddChild(std::move(Left));
    for (;;) {
      std::unique_ptr<TVLTExprNode> E = ParseValueExpression();
      if (!E) return Fail();
      N->AddChild(std::move(E));
      if (Current().TokenType == tktComma) {
        Next();
        continue;
      }
      if (Current().TokenType != tktRightParenthesis) return Fail();
      Next();
      return N;
    }
  }
  return Fail();
}

std::unique_ptr<TVLTExprNode> TVLTExprParser::BuildComparison(TVLTDataOperator Operator,
                                                              std::unique_ptr<TVLTExprNode> Left,
                                                              std::unique_ptr<TVLTExprNode> Right) {
  // A string constant ending in "*" is a prefix when the partial-key option is on.
  bool Partial = false;
  if (FExpression.FPartialKey) {
    for (TVLTExprNode* Side : {Left.get(), Right.get()}) {
      TVLTExprNodeConst* C = AsConst(Side);
      if (!C || C->Value.IsNullOrEmpty() || !C->Value.IsStringDataType()) continue;
      const TVLTBaseFieldType Type = C->Value.DataType();
      if (C->Value.IsWideStringDataType()) {
        std::u16string S = C->Value.AsWideString();
        if (S.empty() || S.back() != u'*') continue;
        S.pop_back();
        C->Value.Clear(Type);
        C->Value.SetAsWideString(S);
      } else {
        std::string S = C->Value.AsAnsiString();
        if (S.empty() || S.back() != '*') continue;
        S.pop_back();
        C->Value.Clear(Type);
        C->Value.SetAsAnsiString(S);
      }
      Partial = true;
    }
  }

  TVLTExprNodeConst* LC = AsConst(Left.get());
  TVLTExprNodeConst* RC = AsConst(Right.get());
  const bool LF = IsFieldNode(Left.get()), RF = IsFieldNode(Right.get());

  // Field = '' (or a lone "*") asks whether the field is null.
  if (Operator == doEQ || Operator == doNE) {
    auto IsNullText = [](TVLTExprNodeConst* C) {
      return C && C->Value.IsNullOrEmpty() &&
             (C->Value.IsStringDataType() || C->Value.IsDateTimeDataType());
    };
    if ((LF && IsNullText(RC)) || (RF && IsNullText(LC)))
      return Unary(Operator == doEQ ? doISNULL : doISNOTNULL,
                   LF ? std::move(Left) : std::move(Right));
  }

  // Three-valued logic unless a field meets a null or text constant; text compared with
  // anything but a non-null constant is two-valued as well.
  auto NullOrText = [](TVLTExprNodeConst* C) {
    return C && (C->Value.IsNullOrEmpty() || C->Value.IsStringDataType() ||
                 C->Value.IsDateTimeDataType());
  };
  bool ThreeValued = !((LF && NullOrText(RC)) || (RF && NullOrText(LC)));
  if (RC && RC->Value.IsStringDataType())
    ThreeValued = ThreeValued && LC && !LC->Value.IsNullOrEmpty();
  if (LC && LC->Value.IsStringDataType())
    ThreeValued = ThreeValued && RC && !RC->Value.IsNullOrEmpty();

  auto N = std::make_unique<TVLTExprNodeComparison>(Operator);
  N->FPartialKey = Partial;
  N->FCaseInsensitive = FExpression.FCaseInsensitive;
  N->F3ValueLogic = ThreeValued;
  N->AddChild(std::move(Left));
  N->AddChild(std::move(Right));
  return N;
}

std::unique_ptr<TVLTExprNode> TVLTExprParser::BuildLike(bool Negated,
                                                        std::unique_ptr<TVLTExprNode> Text,
                                                        std::unique_ptr<TVLTExprNode> Pattern,
                                                        bool HasEscape, const std::string& Escape) {
  // 'abc%' without ESCAPE is a prefix comparison.
  if (!HasEscape) {
    if (TVLTExprNodeConst* C = AsConst(Pattern.get());
        C && !C->Value.IsNullOrEmpty() && C->Value.IsStringDataType()) {
      const TVLTBaseFieldType Type = C->Value.DataType();
      bool Shortcut = false;
      if (C->Value.IsWideStringDataType()) {
        std::u16string S = C->Value.AsWideString();
        if (S.size() >= 2 && S.find(u'%') == S.size() - 1) {
          S.pop_back();
          C->Value.Clear(Type);
          C->Value.SetAsWideString(S);
          Shortcut = true;
        }
      } else {
        std::string S = C->Value.AsAnsiString();
        if (S.size() >= 2 && S.find('%') == S.size() - 1) {
          S.pop_back();
          C->Value.Clear(Type);
          C->Value.SetAsAnsiString(S);
          Shortcut = true;
        }
      }
      if (Shortcut) {
        auto N = std::make_unique<TVLTExprNodeComparison>(Negated ? doNE : doEQ);
        N->FPartialKey = true;
        N->F3ValueLogic = false;
        N->FCaseInsensitive = FExpression.FCaseInsensitive;
        N->AddChild(std::move(Text));
        N->AddChild(std::move(Pattern));
        return N;
      }
    }
  }
  auto N = std::make_unique<TVLTExprNodeBoolean>(Negated ? doNOTLIKE : doLIKE);
  N->EscapeStr = HasEscape ? Escape : std::string();
  N->FCaseInsensitive = FExpression.FCaseInsensitive;
  N->AddChild(std::move(Text));
  N->AddChild(std::move(Pattern));
  return N;
}

// ---- values ----

std::unique_ptr<TVLTExprNode> TVLTExprParser::ParseValueExpression() {
  Step();
  if (Failed(ruValue)) return nullptr;
  TNesting Nesting(*this);
  const int32_t Start = FPos;
  if (std::unique_ptr<TVLTExprNode> N = ParseNumericExpression()) return N;
  Restore(Start);
  if (std::unique_ptr<TVLTExprNode> D = ParseDateTimeExpression()) return D;
  Restore(Start);
  if (std::unique_ptr<TVLTExprNode> S = ParseStringExpression()) return S;
  Restore(Start);
  if (IsWord(rwTRUE) || IsWord(rwFALSE)) {
    const bool V = IsWord(rwTRUE);
    Next();
    return LogicalConst(V);
  }
  if (IsWord(rwNULL)) {
    Next();
    auto C = std::make_unique<TVLTExprNodeConst>();
    C->Value.Clear(bftSignedInt32);
    return C;
  }
  const TToken& T = Current();
  if (T.TokenType == tktParameter && T.ParamValue &&
      (T.ParamValue->IsNull() || T.ParamValue->DataType() == bftLogical)) {
    Next();
    auto C = std::make_unique<TVLTExprNodeConst>(*T.ParamValue);
    if (C->Value.DataType() == bftUnknown) C->Value.Clear(bftSignedInt32);
    return C;
  }
  MarkFailed(ruValue, Start);
  return nullptr;
}

namespace {

// Takes Target out of Root's leftmost path (where a tree keeps its first operand).
std::unique_ptr<TVLTExprNode> TakeLeftmost(std::unique_ptr<TVLTExprNode>& Root,
                                           TVLTExprNode* Target) {
  std::unique_ptr<TVLTExprNode>* P = &Root;
  while (P->get() != Target) {
    if (!*P || (*P)->Children.empty()) return nullptr;
    P = &(*P)->Children[0];
  }
  return std::move(*P);
}

bool IsNonNumericConst(TVLTExprNode* N) {
  TVLTExprNodeConst* C = AsConst(N);
  return C && !C->Value.IsNumericDataType();
}

}  // namespace

std::unique_ptr<TVLTExprNode> TVLTExprParser::ParseNumericExpression() {
  const int32_t Start = FPos;
  TVLTExprNode* First = nullptr;  // the first operand, when it has no sign
  int32_t FirstEnd = -1;
  std::unique_ptr<TVLTExprNode> Tree;
  // The string alternative starts with the same operand: it gets this one instead of parsing
  // it again (nested in parentheses that would double the work at every level).
  auto Fail = [&]() -> std::unique_ptr<TVLTExprNode> {
    if (First && Tree)
      if (std::unique_ptr<TVLTExprNode> N = TakeLeftmost(Tree, First)) {
        FStash.Node = std::move(N);
        FStash.Start = Start;
        FStash.End = FirstEnd;
      }
    Restore(Start);
    return nullptr;
  };
  if (!ParseTerm(Tree, &First, &FirstEnd)) return Fail();
  if (IsSymbol("+") || IsSymbol("-")) {
    auto Add = std::make_unique<TVLTExprNodeArithmetic>(doADD);
    Add->AddChild(std::move(Tree));
    Tree = std::move(Add);
    while (IsSymbol("+") || IsSymbol("-")) {
      const bool Minus = IsSymbol("-");
      Next();
      std::unique_ptr<TVLTExprNode> T;
      if (!ParseTerm(T, nullptr, nullptr)) return Fail();
      Tree->AddChild(Minus ? Unary(doSUB, std::move(T)) : std::move(T));
    }
  }
  if (IsSymbol("||")) return Fail();
  return Tree;
}

bool TVLTExprParser::ParseTerm(std::unique_ptr<TVLTExprNode>& Out, TVLTExprNode** First,
                               int32_t* FirstEnd) {
  const int32_t Start = FPos;
  if (!ParseNumericFactor(Out, First, FirstEnd)) {
    Restore(Start);
    return false;
  }
  while (IsSymbol("*") || IsSymbol("/")) {
    const TVLTDataOperator Op = IsSymbol("*") ? doMUL : doDIV;
    Next();
    std::unique_ptr<TVLTExprNode> Right;
    if (!ParseNumericFactor(Right, nullptr, nullptr)) {
      Restore(Start);
      return false;
    }
    auto N = std::make_unique<TVLTExprNodeArithmetic>(Op);
    N->AddChild(std::move(Out));
    N->AddChild(std::move(Right));
    Out = std::move(N);
    CheckHeight(*Out);
  }
  return true;
}

bool TVLTExprParser::ParseNumericFactor(std::unique_ptr<TVLTExprNode>& Out, TVLTExprNode** First,
                                        int32_t* FirstEnd) {
  const int32_t Start = FPos;
  const bool Signed = IsSymbol("+") || IsSymbol("-");
  const bool Minus = IsSymbol("-");
  if (Signed) Next();
  std::unique_ptr<TVLTExprNode> Operand = ParseOperand();
  if (!Operand) {
    Restore(Start);
    Out.reset();
    return false;
  }
  if (!Signed && First) {
    *First = Operand.get();
    *FirstEnd = FPos;
  }
  // A constant counts as an operand of arithmetic only when it is a number.
  if (IsNonNumericConst(Operand.get())) {
    Out = std::move(Operand);  // the caller may hand it to the string alternative
    Restore(Start);
    return false;
  }
  Out = Minus ? Unary(doSUB, std::move(Operand)) : std::move(Operand);
  return true;
}

std::unique_ptr<TVLTExprNode> TVLTExprParser::ParseStringExpression() {
  const int32_t Start = FPos;
  std::unique_ptr<TVLTExprNode> First = ParseOperand();
  if (!First) return nullptr;
  if (!IsSymbol("||") && !IsSymbol("+")) return First;
  auto Concat = std::make_unique<TVLTExprNodeStringFunction>(doCONCAT);
  Concat->AddChild(std::move(First));
  while (IsSymbol("||") || IsSymbol("+")) {
    Next();
    std::unique_ptr<TVLTExprNode> O = ParseOperand();
    if (!O) {
      Restore(Start);
      return nullptr;
    }
    Concat->AddChild(std::move(O));
  }
  return Concat;
}

namespace {

// An operand that gives a date, time or date-time: the date functions that do, and constants
// (literals, parameters) of those types.
bool IsDateTimeOperand(TVLTExprNode* N) {
  if (auto* F = dynamic_cast<TVLTExprNodeDateFunction*>(N))
    return F->Operator == doSYSDATE || F->Operator == doCURRENT_DATE ||
           F->Operator == doCURRENT_TIME || F->Operator == doTODATE;
  TVLTExprNodeConst* C = AsConst(N);
  return C && C->Value.IsDateTimeDataType();
}

bool IsStringConst(TVLTExprNode* N) {
  TVLTExprNodeConst* C = AsConst(N);
  return C && C->Value.IsStringDataType();
}

}  // namespace

std::unique_ptr<TVLTExprNode> TVLTExprParser::ParseDateTimeExpression() {
  const int32_t Start = FPos;
  std::unique_ptr<TVLTExprNode> First = ParseOperand();
  if (!First) return nullptr;
  const int32_t FirstEnd = FPos;
  // Not date-time arithmetic: the operand goes to the string alternative, which starts here too.
  auto GiveBack = [&]() -> std::unique_ptr<TVLTExprNode> {
    FStash.Node = std::move(First);
    FStash.Start = Start;
    FStash.End = FirstEnd;
    Restore(Start);
    return nullptr;
  };
  const bool IsDate = IsDateTimeOperand(First.get());
  const bool IsText = !IsDate && IsStringConst(First.get());
  if (!IsDate && !IsText) return GiveBack();
  const bool Minus = IsSymbol("-");
  if (Minus || (IsDate && IsSymbol("+"))) {
    Next();
    // After a date-time any value; after a text only a date-time, which is subtracted.
    std::unique_ptr<TVLTExprNode> Second = IsDate ? ParseValueExpression() : ParseOperand();
    if (Second && (IsDate || IsDateTimeOperand(Second.get()))) {
      auto Wrap = std::make_unique<TVLTExprNodeArithmetic>(Minus ? doSUB : doADD);
      Wrap->AddChild(std::move(Second));
      auto Add = std::make_unique<TVLTExprNodeArithmetic>(doADD);
      Add->AddChild(std::move(First));
      Add->AddChild(std::move(Wrap));
      return Add;
    }
    return GiveBack();
  }
  // A date-time alone, unless it starts a concatenation.
  if (IsDate && !IsSymbol("||")) return First;
  return GiveBack();
}

std::unique_ptr<TVLTExprNode> TVLTExprParser::ParseOperand() {
  Step();
  if (FStash.Node && FStash.Start == FPos) {
    FPos = FStash.End;
    return std::move(FStash.Node);
  }
  if (Failed(ruOperand)) return nullptr;
  const int32_t Start = FPos;
  const TToken& T = Current();
  switch (T.TokenType) {
    case tktInt: {
      Next();
      auto C = std::make_unique<TVLTExprNodeConst>();
      int64_t V = 0;
      if (TVLTLocale::ParseInteger(T.Text, V)) {
        // Below 2147483647 in magnitude the literal is 32-bit; 2147483647 itself stays 64-bit.
        if (V > -2147483647LL && V < 2147483647LL) {
          C->Value.Clear(bftSignedInt32);
          C->Value.SetAsInteger(static_cast<int32_t>(V));
        } else {
          C->Value.Clear(bftSignedInt64);
          C->Value.SetAsInt64(V);
        }
      } else {
        // Too large for 64 bits: a floating-point number.
        long double F = 0;
        if (!TVLTLocale::ParseFloat(T.Text, F) || !std::isfinite(F)) break;
        C->Value.Clear(bftDouble);
        C->Value.SetAsDouble(static_cast<double>(F));
      }
      return C;
    }
    case tktFloat: {
      long double F = 0;
      if (!TVLTLocale::ParseFloat(T.Text, F) || !std::isfinite(F)) break;
      Next();
      auto C = std::make_unique<TVLTExprNodeConst>();
      C->Value.Clear(bftDouble);
      C->Value.SetAsDouble(static_cast<double>(F));
      return C;
    }
    case tktQuotedString: {
      Next();
      // The text is 8-bit already; '' is a null string.
      auto C = std::make_unique<TVLTExprNodeConst>();
      C->Value.Clear(bftVarchar);
      C->Value.SetAsAnsiString(T.Text);
      return C;
    }
    case tktParameter:
      if (T.ParamValue && !T.ParamValue->IsNull() &&
          (T.ParamValue->IsNumericDataType() || T.ParamValue->IsStringDataType() ||
           T.ParamValue->IsBlobDataType() || T.ParamValue->IsDateTimeDataType())) {
        Next();
        return std::make_unique<TVLTExprNodeConst>(*T.ParamValue);
      }
      break;
    case tktLeftParenthesis: {
      Next();
      std::unique_ptr<TVLTExprNode> V = ParseValueExpression();
      if (V && Current().TokenType == tktRightParenthesis) {
        Next();
        return V;
      }
      break;
    }
    case tktReservedWord:
      if (std::unique_ptr<TVLTExprNode> F = ParseFunction()) return F;
      break;
    default:
      if (std::unique_ptr<TVLTExprNode> F = ParseFieldReference()) return F;
      break;
  }
  Restore(Start);
  MarkFailed(ruOperand, Start);
  return nullptr;
}

std::unique_ptr<TVLTExprNode> TVLTExprParser::ParseFieldReference() {
  const int32_t Start = FPos;
  if (!IsNameToken(Current())) return nullptr;
  std::string Table, Name = Current().Text;
  Next();
  if (Current().TokenType == tktDot) {
    Next();
    const TToken& After = Current();
    if (After.TokenType == tktNone || After.Text.empty()) {
      Restore(Start);
      return nullptr;
    }
    Table = std::move(Name);
    Name = After.Text;
    Next();
  }
  // name( is a function call, not a field.
  if (Current().TokenType == tktLeftParenthesis) {
    Restore(Start);
    return nullptr;
  }
  return std::make_unique<TVLTExprNodeField>(FExpression.LCursor, Name, Table);
}

}  // namespace vlt
