// Value-producing nodes: arithmetic and the mathematical functions (TVLTExprNodeArithmetic),
// string functions (TVLTExprNodeStringFunction) and date functions (TVLTExprNodeDateFunction).
// The children are the arguments in order.
//
// Arithmetic: doADD sums all its children (a - b is doADD(a, doSUB(b)); with one child it is
// that child); doSUB with one child negates it, with two subtracts; doMUL and doDIV are binary.
// A null operand gives null. The mathematical functions (VLTExprNodeMath.cpp) read their
// arguments as doubles or integers, so a null argument raises 30016 "Value is Null":
//   ABS x in x's type; ACOS ASIN ATAN COS SIN EXP LOG (natural) SQRT POWER a double;
//   CEIL FLOOR SIGN a 32-bit integer; SQR x * x in x's type; RAND(n) an integer 0..n-1;
//   ROUND(x) a 32-bit integer (half to even), ROUND(x, n [, mode]) a double with n decimals.
//   A result that is no number (SQRT(-1), LOG(0)) raises 30132.
// Strings: doCONCAT joins its children's texts (a null child adds nothing; all null gives
// null); doUPPER and doLOWER map the case of their one child (null stays null); doTRIM, doLTRIM
// and doRTRIM remove characters up to code 32 from both ends, the start or the end; doLENGTH is
// the length in characters (0 for null); doPOS(sub, s) the 1-based position of sub in s (0 when
// absent, null or empty); doSUBSTRING(s, start [, len]) the characters from start (below 1
// counts as 1), len of them (default: all), null for a null s.
// Dates: doCURRENT_DATE, doCURRENT_TIME and doSYSDATE give the local date, time of day and
// date-time now; doTOSTRING(x) formats x with the formater, doTODATE(s) reads s with it (a time
// when the day read is none, a date when the time is 0, else a date-time); doEXTRACT(x) gives
// one part of x as an unsigned 16-bit integer. A null argument gives null.
#pragma once

#include <memory>

#include "engine/expr/VLTDateFormater.h"
#include "engine/expr/VLTExprNode.h"

namespace vlt {

class TVLTExprNodeArithmetic : public TVLTExprNode {
 public:
  explicit TVLTExprNodeArithmetic(TVLTDataOperator Operator) : TVLTExprNode(Operator) {}
  // 30121 "Unknown operator: '%s'" for an operator the class does not evaluate.
  TVLTVariant& GetDataValue() override;
  TVLTBaseFieldType GetDataType() override;

 private:
  // The mathematical functions, doABS to doSQRT.
  TVLTVariant& GetMathValue();
};

// How ROUND with a mode rounds; the ordinal is the mode child's value. The HALF modes round to
// the nearest value and differ at ties (to the even digit, toward positive, toward negative,
// toward zero, away from zero); the RND modes are directed (toward negative infinity, positive
// infinity, zero, away from zero).
enum TVLTRoundMode : uint8_t {
  rmHALFEVEN,
  rmHALFPOS,
  rmHALFNEG,
  rmHALFDOWN,
  rmHALFUP,
  rmRNDNEG,
  rmRNDPOS,
  rmRNDDOWN,
  rmRNDUP,
};
// Value rounded to Decimals decimal places (negative: to tens, hundreds...).
double VLTRound(double Value, int32_t Decimals, TVLTRoundMode Mode);

class TVLTExprNodeStringFunction : public TVLTExprNode {
 public:
  explicit TVLTExprNodeStringFunction(TVLTDataOperator Operator) : TVLTExprNode(Operator) {}
  // 30131 "Unknown operator: '%s'" for an operator the class does not evaluate.
  TVLTVariant& GetDataValue() override;
  TVLTBaseFieldType GetDataType() override;
  int32_t GetDataSize() override;
};

// The part EXTRACT takes.
enum TVLTExtractField : uint8_t { efYEAR, efMONTH, efDAY, efHOUR, efMINUTE, efSECOND };

class TVLTExprNodeDateFunction : public TVLTExprNode {
 public:
  explicit TVLTExprNodeDateFunction(TVLTDataOperator Operator) : TVLTExprNode(Operator) {}
  // TODATE and TOSTRING with the format's formater.
  TVLTExprNodeDateFunction(TVLTDataOperator Operator, std::string_view DateFormat)
      : TVLTExprNode(Operator), DateFormater(std::make_unique<TDateFormater>(DateFormat)) {}
  // 30130 "Unknown operator: '%s'" for an operator the class does not evaluate.
  TVLTVariant& GetDataValue() override;
  TVLTBaseFieldType GetDataType() override;
  int32_t GetDataSize() override;

  std::unique_ptr<TDateFormater> DateFormater;     // TODATE and TOSTRING only
  TVLTExtractField ExtractDateTimeField = efYEAR;  // EXTRACT only
};

// A value read as a calendar date-time: a time lies on 30 December 1899.
TVLTDateTime VLTValueAsCalendarDateTime(const TVLTVariant& V);

}  // namespace vlt
