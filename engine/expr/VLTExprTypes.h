// Operators and small shared types of expression trees.
//
// TVLTDataOperator is one byte; its ordinals are fixed (expressions refer to operators by
// number), so values are only ever appended.
#pragma once

#include <cstdint>
#include <string_view>

namespace vlt {

enum TVLTDataOperator : uint8_t {
  doUNDEFINED,
  doEQ,
  doNE,
  doGT,
  doLT,
  doGE,
  doLE,
  doNOT,
  doAND,
  doOR,
  doIN,
  doNOTIN,
  doEXISTS,
  doBETWEEN,
  doNOTBETWEEN,
  doLIKE,
  doNOTLIKE,
  doISNULL,
  doISNOTNULL,
  doTRUE,
  doFALSE,
  doADD,
  doSUB,
  doMUL,
  doDIV,
  doCONCAT,
  doUPPER,
  doLOWER,
  doTRIM,
  doLTRIM,
  doRTRIM,
  doLENGTH,
  doPOS,
  doSUBSTRING,
  doSUM,
  doAVG,
  doMIN,
  doMAX,
  doCOUNT,
  doCOUNTALL,
  doSYSDATE,
  doCURRENT_DATE,
  doCURRENT_TIME,
  doTODATE,
  doTOSTRING,
  doEXTRACT,
  doCAST,
  doLASTAUTOINC,
  doMIMETOBIN,
  doROWNUM,
  doABS,
  doACOS,
  doASIN,
  doATAN,
  doCEIL,
  doCOS,
  doEXP,
  doFLOOR,
  doLOG,
  doPOWER,
  doRAND,
  doROUND,
  doSIGN,
  doSIN,
  doSQR,
  doSQRT,
};
constexpr int kDataOperatorCount = 66;

// Quantifier of an SQL comparison against a subquery.
enum TVLTQuantifier : uint8_t { qUNDEFINED, qALL, qANY };

// The enumerator's name ("doEQ"), for messages; "doUNKNOWN" outside the enumeration.
std::string_view DataOperatorName(TVLTDataOperator Operator);

// Comparison operators as seen from the other side: a < b is b > a.
constexpr TVLTDataOperator MirrorComparison(TVLTDataOperator Operator) {
  switch (Operator) {
    case doGT:
      return doLT;
    case doLT:
      return doGT;
    case doGE:
      return doLE;
    case doLE:
      return doGE;
    default:
      return Operator;
  }
}

}  // namespace vlt
