// Index use of expressions: which comparisons and IS [NOT] NULL tests an index column can
// answer, the conditions they yield, and taking answered nodes out of the evaluation.
//
// Every condition stands for exactly the records for which its node is true, so a scan over the
// condition's key range shows the same records as a full scan.
#include <algorithm>

#include "engine/base/VLTExcept.h"
#include "engine/expr/VLTExprNodeFunctions.h"
#include "engine/expr/VLTExprNodeLogic.h"
#include "engine/expr/VLTExpression.h"

namespace vlt {

namespace {

bool SameName(std::string_view A, std::string_view B) {
  return A.size() == B.size() && std::equal(A.begin(), A.end(), B.begin(), [](char X, char Y) {
           auto U = [](char C) { return C >= 'a' && C <= 'z' ? static_cast<char>(C - 32) : C; };
           return U(X) == U(Y);
         });
}

// A field node of this cursor (not of an outer query).
TVLTExprNodeField* OwnField(TVLTExprNode* N) {
  auto* F = dynamic_cast<TVLTExprNodeField*>(N);
  return F && !F->FGetFromParent && F->IsBound() ? F : nullptr;
}

bool IsCaseOf(const TVLTVariant& V, TVLTDataOperator CaseOp) {
  if (V.IsNullOrEmpty() || !V.IsStringDataType()) return true;
  const std::u16string S = V.AsWideString();
  for (char16_t C : S) {
    if (CaseOp == doUPPER && C >= u'a' && C <= u'z') return false;
    if (CaseOp == doLOWER && C >= u'A' && C <= u'Z') return false;
  }
  return true;
}

TVLTSearchCondition ConditionOf(TVLTDataOperator Op) {
  switch (Op) {
    case doEQ:
      return scEqual;
    case doGT:
      return scGreater;
    case doLT:
      return scLower;
    case doGE:
      return scGreaterEqual;
    case doLE:
      return scLowerEqual;
    default:
      return scNone;
  }
}

// A descending column orders keys the other way round.
TVLTSearchCondition ForDirection(TVLTSearchCondition C, bool Descending) {
  if (!Descending) return C;
  switch (C) {
    case scGreater:
      return scLower;
    case scLower:
      return scGreater;
    case scGreaterEqual:
      return scLowerEqual;
    case scLowerEqual:
      return scGreaterEqual;
    default:
      return C;
  }
}

// Usable as the first column (temporary indexes only for their own session) or as a later one.
bool ColumnMatches(const TVLTExprNodeField& F, int32_t IndexColumnNo,
                   const TVLTExprIndexInfo& IndexDef, int32_t SessionID) {
  if (IndexColumnNo < 0 || IndexColumnNo >= static_cast<int32_t>(IndexDef.Columns.size()))
    return false;
  if (!SameName(IndexDef.Columns[static_cast<size_t>(IndexColumnNo)].FieldName, F.FFieldName))
    return false;
  if (IndexColumnNo == 0 && IndexDef.Temporary && IndexDef.SessionID != SessionID) return false;
  return !IsBlobBaseType(F.FBaseFieldType);
}

void RecordNode(TVLTExprScanCondition& C, TVLTExpression* Expression, TVLTExprNode* Node) {
  C.ParentExpressions.push_back(Expression);
  C.ParentExpressionNodes.push_back(Node);
}

void AddKeyField(TVLTExprScanCondition& C, int32_t FieldNo, const TVLTVariant* Value,
                 TVLTBaseFieldType NullType) {
  TVLTExprScanCondition::TKeyField K;
  K.FieldNo = FieldNo;
  if (Value)
    K.Value = *Value;
  else
    K.Value.Clear(NullType);
  C.KeyFields.push_back(std::move(K));
}

}  // namespace

// ---- comparison ----

bool TVLTExprNodeComparison::GetFieldAndConstNodes(TVLTExprNodeField*& Field, TVLTExprNode*& Const,
                                                   bool& FieldOnLeft, bool& CaseInsensitive) const {
  Field = nullptr;
  Const = nullptr;
  CaseInsensitive = FCaseInsensitive;
  if (Children.size() != 2) return false;
  TVLTDataOperator CaseOp = doUNDEFINED;
  auto FieldSide = [&](TVLTExprNode* N) -> TVLTExprNodeField* {
    if (TVLTExprNodeField* F = OwnField(N)) return F;
    if ((N->Operator == doUPPER || N->Operator == doLOWER) &&
        dynamic_cast<TVLTExprNodeStringFunction*>(N) && N->ChildCount() == 1)
      if (TVLTExprNodeField* F = OwnField(N->Child(0))) {
        CaseOp = N->Operator;
        return F;
      }
    return nullptr;
  };
  auto ConstSide = [](TVLTExprNode* N) -> bool {
    if (dynamic_cast<TVLTExprNodeConst*>(N)) return true;
    auto* F = dynamic_cast<TVLTExprNodeField*>(N);
    return F && F->FGetFromParent;
  };
  for (int Side = 0; Side < 2 && !Field; ++Side) {
    TVLTExprNode* A = Child(static_cast<size_t>(Side));
    TVLTExprNode* B = Child(static_cast<size_t>(1 - Side));
    CaseOp = doUNDEFINED;
    TVLTExprNodeField* F = FieldSide(A);
    if (F && ConstSide(B)) {
      Field = F;
      Const = B;
      FieldOnLeft = Side == 0;
    }
  }
  if (!Field) return false;
  if (CaseOp != doUNDEFINED) {
    // UPPER(Name) = 'smith' matches nothing an index on Name could find by 'smith'.
    if (!IsCaseOf(Const->Value, CaseOp)) return false;
    CaseInsensitive = true;
  }
  return true;
}

bool TVLTExprNodeComparison::CanUseIndex(int32_t IndexColumnNo,
                                         TVLTSearchCondition ConditionSearchOperator,
                                         const TVLTExprIndexInfo& IndexDef, int32_t SessionID) {
  if (FExtracted) return false;
  TVLTExprNodeField* F = nullptr;
  TVLTExprNode* C = nullptr;
  bool Left = true, CaseInsensitive = false;
  if (!GetFieldAndConstNodes(F, C, Left, CaseInsensitive)) return false;
  if (!ColumnMatches(*F, IndexColumnNo, IndexDef, SessionID)) return false;
  const TVLTExprIndexColumn& Column = IndexDef.Columns[static_cast<size_t>(IndexColumnNo)];
  const bool Text = IsStringBaseType(F->FBaseFieldType);
  if (Text && Column.CaseInsensitive != CaseInsensitive) return false;
  if (FPartialKey) return false;
  if (ConditionOf(Operator) == scNone) return false;
  // The key holds the constant in the field's type: only a constant that survives that cast
  // unchanged orders the records as the comparison does (Num < 5.5 is not Num < 5).
  if (!C->Value.IsNullOrEmpty() && !Text) {
    try {
      TVLTVariant K(C->Value);
      K.Cast(F->FBaseFieldType);
      if (K.IsNullOrEmpty() || K.Compare(C->Value, true, false, false) != vcrEqual) return false;
    } catch (const EVLTException&) {
      return false;
    }
  }
  if (Text) {
    const TVLTVariant& V = C->Value;
    if (!V.IsNullOrEmpty()) {
      if (!V.IsStringDataType()) return false;
      const int64_t Bytes = V.IsWideStringDataType() ? 2LL * V.StrLen() : V.StrLen();
      if (Bytes >= F->FFieldSize) return false;
    }
  }
  if (IndexColumnNo > 0) return Operator == doEQ && ConditionSearchOperator == scEqual;
  return true;
}

void TVLTExprNodeComparison::AddAsIndexScanCondition(TVLTExprScanConditions& ScanConditions,
                                                     const TVLTExprIndexInfo& IndexDef,
                                                     TVLTExpression* Expression) {
  TVLTExprNodeField* F = nullptr;
  TVLTExprNode* C = nullptr;
  bool Left = true, CaseInsensitive = false;
  if (!GetFieldAndConstNodes(F, C, Left, CaseInsensitive)) {
    if (!F) throw EVLTException(20054, "Pointer is nil");
    throw EVLTException(20055, "Pointer is nil");
  }
  if (IndexDef.Columns.empty()) throw EVLTException(20057, "Invalid index for search");
  TVLTExprScanCondition S;
  S.IndexID = IndexDef.IndexID;
  S.PartialCompare = FPartialKey;
  // 5 < Num counts as Num > 5.
  const TVLTDataOperator Op = Left ? Operator : MirrorComparison(Operator);
  S.Condition = ForDirection(ConditionOf(Op), IndexDef.Columns[0].Descending);
  AddKeyField(S, F->FFieldNo, &C->GetDataValue(), F->FBaseFieldType);
  // Nulls sort before every value (after it in a descending column): a bound open towards them
  // takes null keys in, for which the comparison is not true, so the node must still be
  // evaluated on the records the range yields.
  const bool First = !IndexDef.Columns[0].Descending;
  const bool TowardsNulls = First ? (S.Condition == scLower || S.Condition == scLowerEqual)
                                  : (S.Condition == scGreater || S.Condition == scGreaterEqual);
  RecordNode(S, Expression, TowardsNulls ? nullptr : this);
  ScanConditions.push_back(std::move(S));
}

void TVLTExprNodeComparison::ExtendIndexScanCondition(TVLTExprScanCondition& ScanCondition,
                                                      const TVLTExprIndexInfo& IndexDef,
                                                      TVLTExpression* Expression) {
  TVLTExprNodeField* F = nullptr;
  TVLTExprNode* C = nullptr;
  bool Left = true, CaseInsensitive = false;
  if (!GetFieldAndConstNodes(F, C, Left, CaseInsensitive)) {
    if (!F) throw EVLTException(20054, "Pointer is nil");
    throw EVLTException(20055, "Pointer is nil");
  }
  if (IndexDef.Columns.empty()) throw EVLTException(20057, "Invalid index for search");
  AddKeyField(ScanCondition, F->FFieldNo, &C->GetDataValue(), F->FBaseFieldType);
  RecordNode(ScanCondition, Expression, this);
}

// ---- IS [NOT] NULL ----

bool TVLTExprNodeBoolean::CanUseIndex(int32_t IndexColumnNo,
                                      TVLTSearchCondition ConditionSearchOperator,
                                      const TVLTExprIndexInfo& IndexDef, int32_t SessionID) {
  if (FExtracted || (Operator != doISNULL && Operator != doISNOTNULL) || Children.size() != 1)
    return false;
  TVLTExprNodeField* F = OwnField(Child(0));
  if (!F || !ColumnMatches(*F, IndexColumnNo, IndexDef, SessionID)) return false;
  if (IndexColumnNo > 0) return Operator == doISNULL && ConditionSearchOperator == scEqual;
  return true;
}

void TVLTExprNodeBoolean::AddAsIndexScanCondition(TVLTExprScanConditions& ScanConditions,
                                                  const TVLTExprIndexInfo& IndexDef,
                                                  TVLTExpression* Expression) {
  if (Operator != doISNULL && Operator != doISNOTNULL) return;
  TVLTExprNodeField* F = Children.size() == 1 ? OwnField(Child(0)) : nullptr;
  if (!F) throw EVLTException(20254, "Pointer is nil");
  if (IndexDef.Columns.empty()) throw EVLTException(20255, "Invalid index for search");
  TVLTExprScanCondition S;
  S.IndexID = IndexDef.IndexID;
  // Nulls sort first: IS NOT NULL is every key above the null key.
  S.Condition =
      ForDirection(Operator == doISNULL ? scEqual : scGreater, IndexDef.Columns[0].Descending);
  AddKeyField(S, F->FFieldNo, nullptr, F->FBaseFieldType);
  RecordNode(S, Expression, this);
  ScanConditions.push_back(std::move(S));
}

void TVLTExprNodeBoolean::ExtendIndexScanCondition(TVLTExprScanCondition& ScanCondition,
                                                   const TVLTExprIndexInfo& IndexDef,
                                                   TVLTExpression* Expression) {
  TVLTExprNodeField* F = Children.size() == 1 ? OwnField(Child(0)) : nullptr;
  if (!F) throw EVLTException(20254, "Pointer is nil");
  if (IndexDef.Columns.empty()) throw EVLTException(20255, "Invalid index for search");
  AddKeyField(ScanCondition, F->FFieldNo, nullptr, F->FBaseFieldType);
  RecordNode(ScanCondition, Expression, this);
}

// ---- the expression's walk ----

namespace {
bool IsCandidate(TVLTExprNode* N) {
  if (dynamic_cast<TVLTExprNodeComparison*>(N)) return true;
  return (N->Operator == doISNULL || N->Operator == doISNOTNULL) &&
         dynamic_cast<TVLTExprNodeBoolean*>(N);
}
bool IsAndNode(TVLTExprNode* N) {
  return N->Operator == doAND && dynamic_cast<TVLTExprNodeBoolean*>(N);
}
}  // namespace

void TVLTExpression::CreateIndexScanConditions(const std::vector<TVLTExprIndexInfo>& IndexDefs,
                                               TVLTExprScanConditions& ScanConditions,
                                               int32_t SessionID) {
  if (FRootExprNode)
    TryCreateIndexScanConditionsFromNode(FRootExprNode.get(), IndexDefs, ScanConditions, SessionID);
}

void TVLTExpression::TryCreateIndexScanConditionsFromNode(
    TVLTExprNode* Node, const std::vector<TVLTExprIndexInfo>& IndexDefs,
    TVLTExprScanConditions& ScanConditions, int32_t SessionID) {
  if (!Node || Node->FExtracted) return;
  if (IsAndNode(Node)) {
    for (auto& C : Node->Children)
      TryCreateIndexScanConditionsFromNode(C.get(), IndexDefs, ScanConditions, SessionID);
    return;
  }
  if (!IsCandidate(Node)) return;
  for (const TVLTExprIndexInfo& I : IndexDefs)
    if (Node->CanUseIndex(0, scNone, I, SessionID))
      Node->AddAsIndexScanCondition(ScanConditions, I, this);
}

bool TVLTExpression::ExtendMultiFieldIndexCondition(TVLTExprScanCondition& ScanCondition,
                                                    const TVLTExprIndexInfo& IndexDef) {
  if (!FRootExprNode) return false;
  if (ScanCondition.KeyFieldCount() >= static_cast<int32_t>(IndexDef.Columns.size())) return false;
  return ExtendMultiFieldIndexConditionFromNode(FRootExprNode.get(), ScanCondition, IndexDef);
}

bool TVLTExpression::ExtendMultiFieldIndexConditionFromNode(TVLTExprNode* Node,
                                                            TVLTExprScanCondition& ScanCondition,
                                                            const TVLTExprIndexInfo& IndexDef) {
  if (!Node || Node->FExtracted) return false;
  if (IsAndNode(Node)) {
    for (auto& C : Node->Children)
      if (ExtendMultiFieldIndexConditionFromNode(C.get(), ScanCondition, IndexDef)) return true;
    return false;
  }
  if (!IsCandidate(Node)) return false;
  // A node already in the key cannot extend it a second time.
  const auto& Used = ScanCondition.ParentExpressionNodes;
  if (std::find(Used.begin(), Used.end(), Node) != Used.end()) return false;
  if (!Node->CanUseIndex(ScanCondition.KeyFieldCount(), ScanCondition.Condition, IndexDef, -1))
    return false;
  Node->ExtendIndexScanCondition(ScanCondition, IndexDef, this);
  return true;
}

void TVLTExpression::RemoveExtractedNodes(const std::vector<TVLTExprNode*>& Nodes) {
  for (TVLTExprNode* N : Nodes) {
    if (!N || N->FExtracted) continue;
    N->FExtracted = true;
    FExtractedNodes.push_back(N);
  }
}

void TVLTExpression::ReturnExtractedNodes() {
  for (TVLTExprNode* N : FExtractedNodes) N->FExtracted = false;
  FExtractedNodes.clear();
}

namespace {
bool IsEmptyNode(const TVLTExprNode* N) {
  if (!N || N->FExtracted) return true;
  if (N->Operator != doAND || !dynamic_cast<const TVLTExprNodeBoolean*>(N)) return false;
  for (const auto& C : N->Children)
    if (!IsEmptyNode(C.get())) return false;
  return true;
}
}  // namespace

bool TVLTExpression::IsEmptyAfterExtraction() const { return IsEmptyNode(FRootExprNode.get()); }

}  // namespace vlt
