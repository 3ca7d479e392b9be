// The conditions of expression trees: comparisons (TVLTExprNodeComparison) and the logical
// operators, LIKE, IN, BETWEEN and IS [NOT] NULL (TVLTExprNodeBoolean).
//
// Shapes: a comparison has the children left, right. AND holds all its operands in text order;
// OR is binary and left-nested. NOT, IS NULL and IS NOT NULL have one child. IN has the tested
// value, then the list. BETWEEN has the value, the low and the high bound. LIKE has the text,
// then the pattern.
//
// Results are logical values. A comparison is never null; the logical operators follow
// three-valued logic (null is unknown), and a filter reads a null result as false.
#pragma once

#include <string>

#include "engine/expr/VLTExprNode.h"

namespace vlt {

class TVLTExprNodeComparison : public TVLTExprNode {
 public:
  explicit TVLTExprNodeComparison(TVLTDataOperator Operator) : TVLTExprNode(Operator) {}

  // A wide string constant compared with an 8-bit string field becomes 8-bit text; a text
  // constant compared with a date or time field becomes a value of the field's type.
  void BindToCursor() override;
  // cmp = left.Compare(right, F3ValueLogic, FCaseInsensitive, FPartialKey); see the table in
  // the .cpp. 30117 "Unknown operator: '%s'" for a non-comparison operator.
  TVLTVariant& GetDataValue() override;
  TVLTBaseFieldType GetDataType() override { return bftLogical; }

  bool CanUseIndex(int32_t IndexColumnNo, TVLTSearchCondition ConditionSearchOperator,
                   const TVLTExprIndexInfo& IndexDef, int32_t SessionID) override;
  void AddAsIndexScanCondition(TVLTExprScanConditions& ScanConditions,
                               const TVLTExprIndexInfo& IndexDef,
                               TVLTExpression* Expression) override;
  void ExtendIndexScanCondition(TVLTExprScanCondition& ScanCondition,
                                const TVLTExprIndexInfo& IndexDef,
                                TVLTExpression* Expression) override;

  // The field side and the constant side for index use; false when the node has not one of
  // each. FieldOnLeft tells the operator's direction.
  bool GetFieldAndConstNodes(class TVLTExprNodeField*& Field, TVLTExprNode*& Const,
                             bool& FieldOnLeft, bool& CaseInsensitive) const;

  bool F3ValueLogic = true;
  TVLTQuantifier FQuantifier = qUNDEFINED;
};

class TVLTExprNodeBoolean : public TVLTExprNode {
 public:
  explicit TVLTExprNodeBoolean(TVLTDataOperator Operator) : TVLTExprNode(Operator) {}

  // Text bounds of BETWEEN and IN items against a date or time field become dates once.
  void BindToCursor() override;

  // 30116 "Unknown operator: '%s'" for an operator the class does not evaluate; LIKE on
  // operands without a common string type raises 30120 "Non-string argument in function '%s'".
  TVLTVariant& GetDataValue() override;
  TVLTBaseFieldType GetDataType() override { return bftLogical; }

  bool CanUseIndex(int32_t IndexColumnNo, TVLTSearchCondition ConditionSearchOperator,
                   const TVLTExprIndexInfo& IndexDef, int32_t SessionID) override;
  void AddAsIndexScanCondition(TVLTExprScanConditions& ScanConditions,
                               const TVLTExprIndexInfo& IndexDef,
                               TVLTExpression* Expression) override;
  void ExtendIndexScanCondition(TVLTExprScanCondition& ScanCondition,
                                const TVLTExprIndexInfo& IndexDef,
                                TVLTExpression* Expression) override;

  TVLTVariant TempVal;
  std::string EscapeStr;  // LIKE escape character; empty for none

 private:
  TVLTVariant& EvaluateLike();
  TVLTVariant& SetResult(bool Result);
  TVLTVariant& SetUnknown();
};

// LIKE matching of Text against Pattern ("%" any run of characters, "_" any one character;
// Escape, when not 0, makes the next pattern character literal). Runs in time proportional to
// the product of the lengths at worst; characters compare through the locale.
bool VLTLikeMatch(std::u16string_view Text, std::u16string_view Pattern, char16_t Escape,
                  bool CaseInsensitive);

}  // namespace vlt
