// Value-producing nodes: arithmetic (TVLTExprNodeArithmetic), string functions
// (TVLTExprNodeStringFunction) and date functions (TVLTExprNodeDateFunction).
//
// Arithmetic: doADD sums all its children (a - b is doADD(a, doSUB(b))); doSUB with one child
// negates it, with two subtracts; doMUL and doDIV are binary. A null operand gives null.
// Strings: doCONCAT joins its children's texts (a null child adds nothing; all null gives
// null); doUPPER and doLOWER map the case of their one child. Dates: doCURRENT_DATE,
// doCURRENT_TIME and doSYSDATE give the local date, time of day and date-time now.
//
// Further functions (string, mathematical and date functions, CAST, CASE) add their operators
// to these classes or come as new node classes; the parser's operand rule is the only place
// that names them.
#pragma once

#include "engine/expr/VLTExprNode.h"

namespace vlt {

class TVLTExprNodeArithmetic : public TVLTExprNode {
 public:
  explicit TVLTExprNodeArithmetic(TVLTDataOperator Operator) : TVLTExprNode(Operator) {}
  // 30121 "Unknown operator: '%s'" for an operator the class does not evaluate.
  TVLTVariant& GetDataValue() override;
};

class TVLTExprNodeStringFunction : public TVLTExprNode {
 public:
  explicit TVLTExprNodeStringFunction(TVLTDataOperator Operator) : TVLTExprNode(Operator) {}
  // 30131 "Unknown operator: '%s'" for an operator the class does not evaluate.
  TVLTVariant& GetDataValue() override;
  TVLTBaseFieldType GetDataType() override;
};

class TVLTExprNodeDateFunction : public TVLTExprNode {
 public:
  explicit TVLTExprNodeDateFunction(TVLTDataOperator Operator) : TVLTExprNode(Operator) {}
  // 30130 "Unknown operator: '%s'" for an operator the class does not evaluate.
  TVLTVariant& GetDataValue() override;
  TVLTBaseFieldType GetDataType() override;
};

}  // namespace vlt
