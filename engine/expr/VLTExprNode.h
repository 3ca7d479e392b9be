// TVLTExprNode: the base of every node of an expression tree, with the two leaves: constants
// (TVLTExprNodeConst) and field references (TVLTExprNodeField).
//
// A node owns its children (destroying a node destroys its subtree) and its result value:
// every evaluation writes the result into Value and returns it, so a result stays valid until
// the node is evaluated again. Constants, fields, comparisons and the logical operators reuse
// Value and allocate nothing while evaluating; a field's value borrows the record buffer's bytes.
//
// New kinds of nodes (functions, CAST, CASE, ...) derive from TVLTExprNode and override
// GetDataValue, plus GetDataType / GetDataSize when the base rule does not fit.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "engine/expr/VLTExprCursor.h"
#include "engine/expr/VLTExprIndexScan.h"
#include "engine/expr/VLTExprTypes.h"
#include "engine/expr/VLTVariant.h"

namespace vlt {

class TVLTExpression;

class TVLTExprNode {
 public:
  explicit TVLTExprNode(TVLTDataOperator Operator) : Operator(Operator) {}
  virtual ~TVLTExprNode() = default;
  TVLTExprNode(const TVLTExprNode&) = delete;
  TVLTExprNode& operator=(const TVLTExprNode&) = delete;

  // Binding pass after parsing and after every buffer change; the base binds the children.
  virtual void BindToCursor();
  // Evaluates the node into Value and returns it.
  virtual TVLTVariant& GetDataValue() = 0;
  // Binds field nodes to Cursor; the base forwards to the children.
  virtual void AssignCursor(TVLTExprCursor* Cursor);
  // Points field nodes at a record buffer; the base forwards to the children.
  virtual void AssignCursorBuffer(const uint8_t* Buffer, bool ApplyToParentQueryFields);
  // The type the node produces: the base folds the children's types with the arithmetic common
  // type (30283 "Cannot determine expression type" without children or common type).
  virtual TVLTBaseFieldType GetDataType();
  // Bytes of a string result of doADD or doCONCAT (sum of the children's sizes); else 0.
  virtual int32_t GetDataSize();
  virtual int32_t GetPrecision() { return 0; }

  // Index use: whether an index column can answer this node, and the condition it yields.
  // The base answers no and adds nothing.
  virtual bool CanUseIndex(int32_t IndexColumnNo, TVLTSearchCondition ConditionSearchOperator,
                           const TVLTExprIndexInfo& IndexDef, int32_t SessionID);
  virtual void AddAsIndexScanCondition(TVLTExprScanConditions& ScanConditions,
                                       const TVLTExprIndexInfo& IndexDef,
                                       TVLTExpression* Expression);
  virtual void ExtendIndexScanCondition(TVLTExprScanCondition& ScanCondition,
                                        const TVLTExprIndexInfo& IndexDef,
                                        TVLTExpression* Expression);

  // Helpers.
  TVLTExprNode* Child(size_t I) const { return Children[I].get(); }
  size_t ChildCount() const { return Children.size(); }
  void AddChild(std::unique_ptr<TVLTExprNode> Node) {
    if (Node->FHeight + 1 > FHeight) FHeight = Node->FHeight + 1;
    Children.push_back(std::move(Node));
  }
  // Levels below this node as AddChild built them (a leaf has 0); evaluation recurses this deep.
  int32_t Height() const { return FHeight; }
  // Raises "Unknown operator: '%s'" with Code for this node's operator.
  [[noreturn]] void RaiseUnknownOperator(int32_t Code) const;

  std::vector<std::unique_ptr<TVLTExprNode>> Children;
  TVLTDataOperator Operator;
  TVLTVariant Value;
  bool FCaseInsensitive = false;
  bool FPartialKey = false;
  // Taken out of the tree by an index scan that already answers it: an AND operand that is
  // extracted is skipped, an extracted root is true.
  bool FExtracted = false;

 private:
  int32_t FHeight = 0;
};

// A constant: its value is Value.
class TVLTExprNodeConst : public TVLTExprNode {
 public:
  TVLTExprNodeConst() : TVLTExprNode(doUNDEFINED) {}
  explicit TVLTExprNodeConst(const TVLTVariant& V) : TVLTExprNode(doUNDEFINED) { Value = V; }
  TVLTVariant& GetDataValue() override { return Value; }
  TVLTBaseFieldType GetDataType() override { return Value.DataType(); }
  int32_t GetDataSize() override { return Value.IsNull() ? 0 : Value.DataSize(); }
};

// A field of the cursor's current record (or of the buffer given by AssignCursorBuffer).
class TVLTExprNodeField : public TVLTExprNode {
 public:
  // Binds at once when a cursor is given (30115 "Field '%s' not found").
  TVLTExprNodeField(TVLTExprCursor* Cursor, std::string FieldName, std::string TableName);

  void AssignCursor(TVLTExprCursor* Cursor) override;
  void AssignCursorBuffer(const uint8_t* Buffer, bool ApplyToParentQueryFields) override;
  // Null bit set: null. Clob / WideClob: the whole text through the cursor. Otherwise the value
  // borrows the slot's bytes. 30196 "Dataset and AO not assigned" without a buffer.
  TVLTVariant& GetDataValue() override;
  TVLTBaseFieldType GetDataType() override;
  int32_t GetDataSize() override { return FFieldSize; }

  bool IsBound() const { return FFieldNo >= 0; }

  TVLTExprCursor* LCursor = nullptr;
  const uint8_t* LRecordBuffer = nullptr;
  std::string FTableName;
  std::string FFieldName;
  int32_t FFieldNo = -1;
  int32_t FFieldOffsetInBuffer = 0;
  int32_t FFieldDataSize = 0;
  TVLTAdvancedFieldType FFieldType = aftUnknown;
  TVLTBaseFieldType FBaseFieldType = bftUnknown;
  int32_t FFieldSize = 0;
  int32_t FFieldPrecision = 0;
  // The field belongs to an outer SQL query and acts as a constant (never set for filters).
  bool FGetFromParent = false;
};

}  // namespace vlt
