#include "engine/expr/VLTExprNodeCase.h"

#include <algorithm>

#include "engine/base/VLTExcept.h"

namespace vlt {

std::unique_ptr<TVLTExprNodeCase> TVLTExprNodeCase::CreateSimpleCase(
    std::unique_ptr<TVLTExprNode> InputExpression) {
  std::unique_ptr<TVLTExprNodeCase> N(new TVLTExprNodeCase());
  N->FInputExpression = InputExpression.get();
  N->AddChild(std::move(InputExpression));
  return N;
}

std::unique_ptr<TVLTExprNodeCase> TVLTExprNodeCase::CreateSearchedCase() {
  return std::unique_ptr<TVLTExprNodeCase>(new TVLTExprNodeCase());
}

std::unique_ptr<TVLTExprNodeCase> TVLTExprNodeCase::CreateCoalesce(
    std::vector<std::unique_ptr<TVLTExprNode>> Nodes) {
  std::unique_ptr<TVLTExprNodeCase> N(new TVLTExprNodeCase());
  N->FIsCoalesceExpression = true;
  for (auto& Node : Nodes) {
    N->FCoalesceNodes.push_back(Node.get());
    N->AddChild(std::move(Node));
  }
  return N;
}

void TVLTExprNodeCase::AddWhenExpression(std::unique_ptr<TVLTExprNode> Node) {
  FWhenExpressions.push_back(Node.get());
  AddChild(std::move(Node));
}

void TVLTExprNodeCase::AddResultExpression(std::unique_ptr<TVLTExprNode> Node) {
  FResultExpressions.push_back(Node.get());
  AddChild(std::move(Node));
}

void TVLTExprNodeCase::SetElseResultExpression(std::unique_ptr<TVLTExprNode> Node) {
  FElseResultExpression = Node.get();
  AddChild(std::move(Node));
}

std::vector<TVLTExprNode*> TVLTExprNodeCase::Results() const {
  if (FIsCoalesceExpression) return FCoalesceNodes;
  std::vector<TVLTExprNode*> R = FResultExpressions;
  if (FElseResultExpression) R.push_back(FElseResultExpression);
  return R;
}

TVLTBaseFieldType TVLTExprNodeCase::GetDataType() {
  TVLTBaseFieldType T = bftUnknown;
  bool First = true;
  for (TVLTExprNode* N : Results()) {
    const TVLTBaseFieldType C = N->GetDataType();
    T = First ? C : VLTCommonType(T, C, true);
    First = false;
    if (T == bftUnknown) break;
  }
  if (T == bftUnknown) throw EVLTException(30283, "Cannot determine expression type");
  return T;
}

int32_t TVLTExprNodeCase::GetDataSize() {
  int32_t Size = 0;
  for (TVLTExprNode* N : Results()) Size = std::max(Size, N->GetDataSize());
  return Size;
}

TVLTVariant& TVLTExprNodeCase::GetDataValue() {
  TVLTExprNode* Chosen = nullptr;
  if (FIsCoalesceExpression) {
    for (TVLTExprNode* N : FCoalesceNodes)
      if (!N->GetDataValue().IsNullOrEmpty()) {
        Chosen = N;
        break;
      }
  } else {
    const TVLTVariant* Input = FInputExpression ? &FInputExpression->GetDataValue() : nullptr;
    for (size_t I = 0; I < FWhenExpressions.size() && I < FResultExpressions.size(); ++I) {
      const TVLTVariant& W = FWhenExpressions[I]->GetDataValue();
      const bool Match = Input ? Input->Compare(W, false, true, false) == vcrEqual
                               : !W.IsNullOrEmpty() && W.AsBoolean();
      if (Match) {
        Chosen = FResultExpressions[I];
        break;
      }
    }
    if (!Chosen) Chosen = FElseResultExpression;
  }
  if (!Chosen) {
    // A null of the type the node announces (when the results have one).
    TVLTBaseFieldType Type = bftSignedInt32;
    try {
      Type = GetDataType();
    } catch (const EVLTException&) {
    }
    Value.Clear(Type);
    return Value;
  }
  Value.Assign(Chosen->GetDataValue(), true);
  return Value;
}

}  // namespace vlt
