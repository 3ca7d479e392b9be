// The function rules of TVLTExprParser: function calls, CAST, CASE, COALESCE, the date and time
// literals and the system values. Each starts at its reserved word; once the word is read the
// text can be nothing else, so a piece missing after it is an error, not a failed alternative.
//
//   CALL                                  NODE
//   UPPER LOWER TRIM LTRIM RTRIM LENGTH   string function of the one argument
//   POS(sub, s), POSITION(sub IN s)       string function doPOS
//   SUBSTRING(s FROM a [FOR n])           string function doSUBSTRING; also (s, a [, n])
//   ABS ACOS ASIN ATAN CEIL COS EXP FLOOR LOG SIGN SIN SQR SQRT RAND (x)   arithmetic
//   POWER(x, y), ROUND(x [, n [, mode]])  arithmetic; the mode is a constant child
//   SYSDATE NOW CURRENT_TIMESTAMP CURRENT_DATE CURRENT_TIME [()]   date function
//   TODATE(s, 'format'), TOSTRING(x, 'format')                      date function with formater
//   EXTRACT(YEAR | MONTH | DAY | HOUR | MINUTE | SECOND FROM x)     date function
//   DATE 'text', TIME 'text', TIMESTAMP 'text'                      constant
//   CAST(x AS type [(size)]), CAST(x, type [(size)])                TVLTExprNodeCast
//   CASE ... END, COALESCE(a, ...)                                  TVLTExprNodeCase
//   LASTAUTOINC(table, field [, MEMORY]), ROWNUM                    TVLTExprNodeSystem
//   MIMETOBIN('text')                                               TVLTExprNodeBlob
//
// Errors (line and column of the token found):
//   30073 / 30074 "Token '%s' expected, but '%s' found ..."  "(" / ")" missing
//   30086 the same for FROM (EXTRACT, SUBSTRING), 30100 for AS (CAST), 20266 for IN (POSITION),
//   20264 for WHEN, 20279 for THEN, 20275 for END (CASE), 30465 for "," between arguments,
//   20261 for the part of EXTRACT, 30501 for the mode of ROUND
//   30102 "Argument expected for function '%s' at line %d, column %d"  (30085 SUBSTRING,
//   30094 TODATE / TOSTRING, 20262 EXTRACT, 20265 / 20268 first / second of POWER)
//   20267 "comma (\",\") expected but not found at line %d, column %d"  POWER
//   20276 "COALESCE arguments are missing at line %d, column %d"
//   30096 "Const DateFormat string expected, but '%s' found at line %d, column %d"
//   30092 / 30480 "String argument expected for function '%s', but '%s' found at line %d,
//   column %d"  MIMETOBIN / LASTAUTOINC
//   30077 "Cannot convert an expression to specified type: '%s'"  CAST
//   20283 / 20285 / 20287 a date, time or timestamp literal without its quoted text;
//   20284 / 20286 / 20288 one whose text does not read
#include <string>

#include "engine/base/VLTExcept.h"
#include "engine/expr/VLTExprNodeBlob.h"
#include "engine/expr/VLTExprNodeCase.h"
#include "engine/expr/VLTExprNodeCast.h"
#include "engine/expr/VLTExprNodeFunctions.h"
#include "engine/expr/VLTExprNodeSystem.h"
#include "engine/expr/VLTExprParser.h"
#include "engine/expr/VLTExpression.h"

namespace vlt {

namespace {

constexpr int32_t kErrLeftParenthesis = 30073;
constexpr int32_t kErrRightParenthesis = 30074;
constexpr int32_t kErrFromExpected = 30086;
constexpr int32_t kErrAsExpected = 30100;
constexpr int32_t kErrInExpected = 20266;
constexpr int32_t kErrWhenExpected = 20264;
constexpr int32_t kErrThenExpected = 20279;
constexpr int32_t kErrEndExpected = 20275;
constexpr int32_t kErrCommaExpected = 30465;
constexpr int32_t kErrExtractPart = 20261;
constexpr int32_t kErrRoundMode = 30501;
constexpr int32_t kErrArgument = 30102;
constexpr int32_t kErrSubstringArgument = 30085;
constexpr int32_t kErrDateFormatArgument = 30094;
constexpr int32_t kErrExtractArgument = 20262;
constexpr int32_t kErrPowerFirst = 20265;
constexpr int32_t kErrPowerSecond = 20268;
constexpr int32_t kErrPowerComma = 20267;
constexpr int32_t kErrCoalesceEmpty = 20276;
constexpr int32_t kErrConstDateFormat = 30096;
constexpr int32_t kErrMimeString = 30092;
constexpr int32_t kErrTableString = 30480;
constexpr int32_t kErrCastType = 30077;

std::unique_ptr<TVLTExprNode> WithChildren(std::unique_ptr<TVLTExprNode> N,
                                           std::unique_ptr<TVLTExprNode> A,
                                           std::unique_ptr<TVLTExprNode> B = nullptr) {
  N->AddChild(std::move(A));
  if (B) N->AddChild(std::move(B));
  return N;
}

std::unique_ptr<TVLTExprNode> IntegerConst(int32_t V) {
  auto C = std::make_unique<TVLTExprNodeConst>();
  C->Value.Clear(bftSignedInt32);
  C->Value.SetAsInteger(V);
  return C;
}

// Functions of one argument and the node they make.
struct TUnaryFunction {
  TReservedWord Word;
  TVLTDataOperator Operator;
  bool IsString;
};
constexpr TUnaryFunction kUnaryFunctions[] = {
    {rwUPPER, doUPPER, true}, {rwLOWER, doLOWER, true},  {rwTRIM, doTRIM, true},
    {rwLTRIM, doLTRIM, true}, {rwRTRIM, doRTRIM, true},  {rwLENGTH, doLENGTH, true},
    {rwABS, doABS, false},    {rwACOS, doACOS, false},   {rwASIN, doASIN, false},
    {rwATAN, doATAN, false},  {rwCEIL, doCEIL, false},   {rwCOS, doCOS, false},
    {rwEXP, doEXP, false},    {rwFLOOR, doFLOOR, false}, {rwLOG, doLOG, false},
    {rwSIGN, doSIGN, false},  {rwSIN, doSIN, false},     {rwSQR, doSQR, false},
    {rwSQRT, doSQRT, false},  {rwRAND, doRAND, false},
};

}  // namespace

// ---- pieces ----

void TVLTExprParser::ExpectLeftParenthesis(int32_t Code) {
  if (Current().TokenType != tktLeftParenthesis) RaiseTokenExpected(Code, "(");
  Next();
}

void TVLTExprParser::ExpectRightParenthesis(int32_t Code) {
  if (Current().TokenType != tktRightParenthesis) RaiseTokenExpected(Code, ")");
  Next();
}

void TVLTExprParser::ExpectComma(int32_t Code) {
  if (Current().TokenType != tktComma) RaiseTokenExpected(Code, ",");
  Next();
}

void TVLTExprParser::ExpectWord(TReservedWord Word, int32_t Code) {
  if (!IsWord(Word)) RaiseTokenExpected(Code, ReservedWordText(Word));
  Next();
}

std::unique_ptr<TVLTExprNode> TVLTExprParser::RequireArgument(int32_t Code,
                                                              std::string_view Function) {
  std::unique_ptr<TVLTExprNode> N = ParseValueExpression();
  if (N) return N;
  const TToken& T = Current();
  throw EVLTException(Code, "Argument expected for function '%s' at line %d, column %d",
                      {std::string(Function), int64_t{T.LineNum}, int64_t{T.ColumnNum}});
}

std::string TVLTExprParser::RequireName(std::string_view Function) {
  const TToken& T = Current();
  if ((T.TokenType == tktString || T.TokenType == tktQuotedString ||
       T.TokenType == tktBracketedString) &&
      !T.Text.empty()) {
    std::string Name = T.Text;
    Next();
    return Name;
  }
  throw EVLTException(kErrTableString,
                      "String argument expected for function '%s', but '%s' found at line %d, "
                      "column %d",
                      {std::string(Function), T.Text, int64_t{T.LineNum}, int64_t{T.ColumnNum}});
}

// ---- the operand rule for reserved words ----

std::unique_ptr<TVLTExprNode> TVLTExprParser::ParseFunction() {
  const TToken& T = Current();
  const TReservedWord Word = T.ReservedWord;
  const std::string Name = std::string(ReservedWordText(Word));
  for (const TUnaryFunction& F : kUnaryFunctions) {
    if (F.Word != Word) continue;
    Next();
    ExpectLeftParenthesis(kErrLeftParenthesis);
    std::unique_ptr<TVLTExprNode> Arg = RequireArgument(kErrArgument, Name);
    ExpectRightParenthesis(kErrRightParenthesis);
    std::unique_ptr<TVLTExprNode> N;
    if (F.IsString)
      N = std::make_unique<TVLTExprNodeStringFunction>(F.Operator);
    else
      N = std::make_unique<TVLTExprNodeArithmetic>(F.Operator);
    return WithChildren(std::move(N), std::move(Arg));
  }
  switch (Word) {
    case rwCURRENT_DATE:
    case rwCURRENT_TIME:
    case rwCURRENT_TIMESTAMP:
    case rwSYSDATE:
    case rwNOW: {
      const TVLTDataOperator Op = Word == rwCURRENT_DATE   ? doCURRENT_DATE
                                  : Word == rwCURRENT_TIME ? doCURRENT_TIME
                                                           : doSYSDATE;
      Next();
      // The functions may carry an empty argument list.
      if (Current().TokenType == tktLeftParenthesis &&
          FPos + 1 < static_cast<int32_t>(FTokens.size()) &&
          FTokens[static_cast<size_t>(FPos + 1)].TokenType == tktRightParenthesis) {
        Next();
        Next();
      }
      return std::make_unique<TVLTExprNodeDateFunction>(Op);
    }
    case rwROWNUM:
      Next();
      if (Current().TokenType == tktLeftParenthesis &&
          FPos + 1 < static_cast<int32_t>(FTokens.size()) &&
          FTokens[static_cast<size_t>(FPos + 1)].TokenType == tktRightParenthesis) {
        Next();
        Next();
      }
      return TVLTExprNodeSystem::Create(doROWNUM, {}, {}, {}, {}, false);
    case rwPOS:
    case rwPOSITION: {
      Next();
      ExpectLeftParenthesis(kErrLeftParenthesis);
      std::unique_ptr<TVLTExprNode> Sub = RequireArgument(kErrArgument, Name);
      if (IsWord(rwIN) || Current().TokenType == tktComma)
        Next();
      else if (Word == rwPOSITION)
        RaiseTokenExpected(kErrInExpected, "IN");
      else
        RaiseTokenExpected(kErrCommaExpected, ",");
      std::unique_ptr<TVLTExprNode> Text = RequireArgument(kErrArgument, Name);
      ExpectRightParenthesis(kErrRightParenthesis);
      return WithChildren(std::make_unique<TVLTExprNodeStringFunction>(doPOS), std::move(Sub),
                          std::move(Text));
    }
    case rwPOWER: {
      Next();
      ExpectLeftParenthesis(kErrLeftParenthesis);
      std::unique_ptr<TVLTExprNode> Base = RequireArgument(kErrPowerFirst, Name);
      if (Current().TokenType != tktComma) {
        const TToken& C = Current();
        throw EVLTException(kErrPowerComma,
                            "comma (\",\") expected but not found at line %d, column %d",
                            {int64_t{C.LineNum}, int64_t{C.ColumnNum}});
      }
      Next();
      std::unique_ptr<TVLTExprNode> Exponent = RequireArgument(kErrPowerSecond, Name);
      ExpectRightParenthesis(kErrRightParenthesis);
      return WithChildren(std::make_unique<TVLTExprNodeArithmetic>(doPOWER), std::move(Base),
                          std::move(Exponent));
    }
    case rwROUND:
      return ParseRound();
    case rwSUBSTRING:
      return ParseSubstring();
    case rwEXTRACT:
      return ParseExtract();
    case rwTODATE:
      return ParseDateFormatFunction(doTODATE);
    case rwTOSTRING:
      return ParseDateFormatFunction(doTOSTRING);
    case rwDATE:
    case rwTIME:
    case rwTIMESTAMP:
      return ParseDateLiteral(Word);
    case rwCAST:
      return ParseCast();
    case rwCASE:
      return ParseCase();
    case rwCOALESCE:
      return ParseCoalesce();
    case rwLAST_AUTOINC:
      return ParseLastAutoinc();
    case rwMIMETOBIN:
      return ParseMimeToBin();
    default:
      return nullptr;
  }
}

// ---- the rules ----

std::unique_ptr<TVLTExprNode> TVLTExprParser::ParseDateLiteral(TReservedWord Word) {
  Next();
  const TToken& T = Current();
  const bool IsDate = Word == rwDATE, IsTime = Word == rwTIME;
  const int32_t Code = IsDate ? 20283 : IsTime ? 20285 : 20287;
  if (T.TokenType != tktQuotedString) {
    const char* Format =
        IsDate ? "Date string expected \"YYYY-MM-DD\", but found \"%s\" at line %d, column %d"
               : "Time string expected \"HH:MM:SS\", but found \"%s\" at line %d, column %d";
    throw EVLTException(Code, Format, {T.Text, int64_t{T.LineNum}, int64_t{T.ColumnNum}});
  }
  const TVLTBaseFieldType Type = IsDate ? bftDate : IsTime ? bftTime : bftDateTime;
  auto C = std::make_unique<TVLTExprNodeConst>();
  C->Value.Clear(bftVarchar);
  C->Value.SetAsAnsiString(T.Text);
  bool Read = false;
  try {
    C->Value.Cast(Type);
    Read = !C->Value.IsNull();
  } catch (const EVLTException&) {
  }
  if (!Read) RaiseTokenExpected(Code + 1, IsTime ? "HH:MM:SS" : "YYYY-MM-DD");
  Next();
  return C;
}

std::unique_ptr<TVLTExprNode> TVLTExprParser::ParseCast() {
  Next();
  ExpectLeftParenthesis(kErrLeftParenthesis);
  std::unique_ptr<TVLTExprNode> Arg = RequireArgument(kErrArgument, "CAST");
  if (IsWord(rwAS) || Current().TokenType == tktComma)
    Next();
  else
    RaiseTokenExpected(kErrAsExpected, "AS");
  const TToken& TypeToken = Current();
  if (TypeToken.TokenType != tktString && TypeToken.TokenType != tktReservedWord)
    throw EVLTException(kErrCastType, "Cannot convert an expression to specified type: '%s'",
                        {TypeToken.Text});
  const std::string TypeName = TypeToken.Text;
  Next();
  std::unique_ptr<TVLTExprNode> Size;
  if (Current().TokenType == tktLeftParenthesis) {
    Next();
    Size = RequireArgument(kErrArgument, "CAST");
    ExpectRightParenthesis(kErrRightParenthesis);
  }
  ExpectRightParenthesis(kErrRightParenthesis);
  return std::make_unique<TVLTExprNodeCast>(std::move(Arg), TypeName, std::move(Size));
}

std::unique_ptr<TVLTExprNode> TVLTExprParser::ParseCase() {
  Next();
  std::unique_ptr<TVLTExprNodeCase> N;
  const bool Searched = IsWord(rwWHEN);
  if (Searched)
    N = TVLTExprNodeCase::CreateSearchedCase();
  else
    N = TVLTExprNodeCase::CreateSimpleCase(RequireArgument(kErrArgument, "CASE"));
  if (!IsWord(rwWHEN)) RaiseTokenExpected(kErrWhenExpected, "WHEN");
  while (IsWord(rwWHEN)) {
    Next();
    std::unique_ptr<TVLTExprNode> When;
    if (Searched) {
      When = ParseBooleanExpression();
      if (!When) {
        const TToken& T = Current();
        throw EVLTException(kErrArgument,
                            "Argument expected for function '%s' at line %d, column %d",
                            {std::string("CASE"), int64_t{T.LineNum}, int64_t{T.ColumnNum}});
      }
    } else {
      When = RequireArgument(kErrArgument, "CASE");
    }
    N->AddWhenExpression(std::move(When));
    ExpectWord(rwTHEN, kErrThenExpected);
    N->AddResultExpression(RequireArgument(kErrArgument, "CASE"));
  }
  if (IsWord(rwELSE)) {
    Next();
    N->SetElseResultExpression(RequireArgument(kErrArgument, "CASE"));
  }
  ExpectWord(rwEND, kErrEndExpected);
  return N;
}

std::unique_ptr<TVLTExprNode> TVLTExprParser::ParseCoalesce() {
  Next();
  ExpectLeftParenthesis(kErrLeftParenthesis);
  std::vector<std::unique_ptr<TVLTExprNode>> Nodes;
  if (Current().TokenType == tktRightParenthesis) {
    const TToken& T = Current();
    throw EVLTException(kErrCoalesceEmpty, "COALESCE arguments are missing at line %d, column %d",
                        {int64_t{T.LineNum}, int64_t{T.ColumnNum}});
  }
  Nodes.push_back(RequireArgument(kErrArgument, "COALESCE"));
  while (Current().TokenType == tktComma) {
    Next();
    Nodes.push_back(RequireArgument(kErrArgument, "COALESCE"));
  }
  ExpectRightParenthesis(kErrRightParenthesis);
  return TVLTExprNodeCase::CreateCoalesce(std::move(Nodes));
}

std::unique_ptr<TVLTExprNode> TVLTExprParser::ParseSubstring() {
  Next();
  ExpectLeftParenthesis(kErrLeftParenthesis);
  auto N = std::make_unique<TVLTExprNodeStringFunction>(doSUBSTRING);
  N->AddChild(RequireArgument(kErrSubstringArgument, "SUBSTRING"));
  // The keyword form and the comma form; a keyword form goes on with FOR, a comma form with ",".
  const bool Keywords = IsWord(rwFROM);
  if (!Keywords && Current().TokenType != tktComma) RaiseTokenExpected(kErrFromExpected, "FROM");
  Next();
  N->AddChild(RequireArgument(kErrSubstringArgument, "SUBSTRING"));
  if (Keywords ? IsWord(rwFOR) : Current().TokenType == tktComma) {
    Next();
    N->AddChild(RequireArgument(kErrSubstringArgument, "SUBSTRING"));
  }
  ExpectRightParenthesis(kErrRightParenthesis);
  return N;
}

std::unique_ptr<TVLTExprNode> TVLTExprParser::ParseExtract() {
  Next();
  ExpectLeftParenthesis(kErrLeftParenthesis);
  TVLTExtractField Field;
  switch (Current().TokenType == tktReservedWord ? Current().ReservedWord : rwNone) {
    case rwYEAR:
      Field = efYEAR;
      break;
    case rwMONTH:
      Field = efMONTH;
      break;
    case rwDAY:
      Field = efDAY;
      break;
    case rwHOUR:
      Field = efHOUR;
      break;
    case rwMINUTE:
      Field = efMINUTE;
      break;
    case rwSECOND:
      Field = efSECOND;
      break;
    default:
      RaiseTokenExpected(kErrExtractPart, "YEAR, MONTH, DAY, HOUR, MINUTE or SECOND");
  }
  Next();
  ExpectWord(rwFROM, kErrFromExpected);
  std::unique_ptr<TVLTExprNode> Arg = RequireArgument(kErrExtractArgument, "EXTRACT");
  ExpectRightParenthesis(kErrRightParenthesis);
  auto N = std::make_unique<TVLTExprNodeDateFunction>(doEXTRACT);
  N->ExtractDateTimeField = Field;
  N->AddChild(std::move(Arg));
  return N;
}

std::unique_ptr<TVLTExprNode> TVLTExprParser::ParseDateFormatFunction(TVLTDataOperator Operator) {
  const std::string Name = Operator == doTODATE ? "TODATE" : "TOSTRING";
  Next();
  ExpectLeftParenthesis(kErrLeftParenthesis);
  std::unique_ptr<TVLTExprNode> Arg = RequireArgument(kErrDateFormatArgument, Name);
  ExpectComma(kErrCommaExpected);
  const TToken& F = Current();
  if (F.TokenType != tktQuotedString)
    throw EVLTException(kErrConstDateFormat,
                        "Const DateFormat string expected, but '%s' found at line %d, column %d",
                        {F.Text, int64_t{F.LineNum}, int64_t{F.ColumnNum}});
  auto N = std::make_unique<TVLTExprNodeDateFunction>(Operator, F.Text);
  Next();
  ExpectRightParenthesis(kErrRightParenthesis);
  N->AddChild(std::move(Arg));
  return N;
}

std::unique_ptr<TVLTExprNode> TVLTExprParser::ParseRound() {
  Next();
  ExpectLeftParenthesis(kErrLeftParenthesis);
  auto N = std::make_unique<TVLTExprNodeArithmetic>(doROUND);
  N->AddChild(RequireArgument(kErrArgument, "ROUND"));
  if (Current().TokenType == tktComma) {
    Next();
    N->AddChild(RequireArgument(kErrArgument, "ROUND"));
    if (Current().TokenType == tktComma) {
      Next();
      const TToken& M = Current();
      if (M.TokenType != tktReservedWord || M.ReservedWord < rwHALFEVEN || M.ReservedWord > rwRNDUP)
        RaiseTokenExpected(kErrRoundMode,
                           "HALFEVEN, HALFPOS, HALFNEG, HALFDOWN, HALFUP, RNDNEG, RNDPOS, "
                           "RNDDOWN or RNDUP");
      N->AddChild(IntegerConst(static_cast<int32_t>(M.ReservedWord - rwHALFEVEN)));
      Next();
    }
  }
  ExpectRightParenthesis(kErrRightParenthesis);
  return N;
}

std::unique_ptr<TVLTExprNode> TVLTExprParser::ParseLastAutoinc() {
  Next();
  ExpectLeftParenthesis(kErrLeftParenthesis);
  const std::string Table = RequireName("LASTAUTOINC");
  ExpectComma(kErrCommaExpected);
  const std::string Column = RequireName("LASTAUTOINC");
  bool InMemory = FExpression.FInMemory;
  if (Current().TokenType == tktComma) {
    Next();
    ExpectWord(rwMEMORY, kErrRightParenthesis);
    InMemory = true;
  }
  ExpectRightParenthesis(kErrRightParenthesis);
  return TVLTExprNodeSystem::Create(doLASTAUTOINC, FExpression.FSessionName,
                                    FExpression.FDatabaseName, Table, Column, InMemory);
}

std::unique_ptr<TVLTExprNode> TVLTExprParser::ParseMimeToBin() {
  Next();
  ExpectLeftParenthesis(kErrLeftParenthesis);
  const TToken& T = Current();
  if (T.TokenType != tktQuotedString)
    throw EVLTException(
        kErrMimeString,
        "String argument expected for function '%s', but '%s' found at line %d, "
        "column %d",
        {std::string("MIMETOBIN"), T.Text, int64_t{T.LineNum}, int64_t{T.ColumnNum}});
  auto C = std::make_unique<TVLTExprNodeConst>();
  C->Value.Clear(bftVarchar);
  C->Value.SetAsAnsiString(T.Text);
  Next();
  ExpectRightParenthesis(kErrRightParenthesis);
  return WithChildren(std::make_unique<TVLTExprNodeBlob>(), std::move(C));
}

}  // namespace vlt
