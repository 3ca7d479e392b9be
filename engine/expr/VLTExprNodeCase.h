// TVLTExprNodeCase: CASE (simple and searched) and COALESCE.
//
//   CASE x WHEN v THEN r ... [ELSE e] END   r of the first v that equals x, compared with
//                                            two-valued logic and case ignored
//   CASE WHEN c THEN r ... [ELSE e] END     r of the first condition that is true (null is not)
//   COALESCE(a, b, ...)                     the first argument that is not null
// Without a match the ELSE value, or null without ELSE (COALESCE: null).
//
// The node owns every part as a child, in the order input, when 1, result 1, when 2, ..., else
// (COALESCE: the arguments); the named lists point at those children.
#pragma once

#include <vector>

#include "engine/expr/VLTExprNode.h"

namespace vlt {

class TVLTExprNodeCase : public TVLTExprNode {
 public:
  static std::unique_ptr<TVLTExprNodeCase> CreateSimpleCase(
      std::unique_ptr<TVLTExprNode> InputExpression);
  static std::unique_ptr<TVLTExprNodeCase> CreateSearchedCase();
  static std::unique_ptr<TVLTExprNodeCase> CreateCoalesce(
      std::vector<std::unique_ptr<TVLTExprNode>> Nodes);

  void AddWhenExpression(std::unique_ptr<TVLTExprNode> Node);
  void AddResultExpression(std::unique_ptr<TVLTExprNode> Node);
  void SetElseResultExpression(std::unique_ptr<TVLTExprNode> Node);

  TVLTVariant& GetDataValue() override;
  // The common type of the results (arithmetic variant).
  TVLTBaseFieldType GetDataType() override;
  int32_t GetDataSize() override;

  std::vector<TVLTExprNode*> FWhenExpressions;
  std::vector<TVLTExprNode*> FResultExpressions;
  TVLTExprNode* FElseResultExpression = nullptr;
  TVLTExprNode* FInputExpression = nullptr;  // none for a searched CASE
  std::vector<TVLTExprNode*> FCoalesceNodes;
  bool FIsCoalesceExpression = false;

 private:
  TVLTExprNodeCase() : TVLTExprNode(doUNDEFINED) {}
  // The nodes a result can come from.
  std::vector<TVLTExprNode*> Results() const;
};

}  // namespace vlt
