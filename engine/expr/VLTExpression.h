// TVLTExpression: a condition or value as a tree of nodes (VLTExprNode.h) evaluated against the
// record a cursor holds. It serves a dataset's filter text, the cursor's Locate and
// IsAnyRecordMatchCondition (trees built from names and values, without text), field default
// values that are expressions, and index scans (the conditions an index can answer).
//
// Life cycle: created empty; one of the Parse operations fills it (each frees any previous tree
// first; a parse that fails leaves the expression empty); then it is evaluated any number of
// times: for every candidate record AssignCursorBuffer(buffer, false), then GetResult. One
// thread at a time: every node keeps its result in itself.
//
// Errors raise EVLTException; parse errors carry the line and column of the token concerned:
//   30119 "Blank SQL command"                                     no command in the text
//   30118, 30136 "Unexpected end of SQL command found at line %d, column %d"
//   30066, 30069, 30070 "Boolean expression expected, but '%s' found at line %d, column %d"
//   30067 "Token '%s' expected, but '%s' found at line %d, column %d"
//   30068 the same message for a missing ")" or list element
//   20294 "Invalid escape character length (should be a single character) at line %d, column %d"
//   30115 "Field '%s' not found"                                  while parsing
//   30463 "Expression is nested too deeply at line %d, column %d" more than kMaxNestingDepth
//   30464 "Expression is too complex at line %d, column %d"       parse work beyond its bound
//   30112 "Count of FieldNames (%d) does not equal counts of KeyValues (%d)"
//   30110 "Value is Null"                                         GetResult of an empty tree
//   30198 "Node is not a field"                                   GetFieldInfo
// Functions, CAST, CASE and date literals add their own (VLTExprParserFunctions.cpp).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "engine/expr/VLTExprCursor.h"
#include "engine/expr/VLTExprIndexScan.h"
#include "engine/expr/VLTExprNode.h"
#include "engine/expr/VLTExprTypes.h"
#include "engine/expr/VLTVariant.h"

namespace vlt {

class TVLTLexer;

class TVLTExpression {
 public:
  // Parentheses, signs and operators nest at most this deep in a text.
  static constexpr int32_t kMaxNestingDepth = 100;

  TVLTExpression();
  // Around an existing tree, which the expression then owns.
  explicit TVLTExpression(std::unique_ptr<TVLTExprNode> RootNode);
  ~TVLTExpression();
  TVLTExpression(const TVLTExpression&) = delete;
  TVLTExpression& operator=(const TVLTExpression&) = delete;

  // ---- building ----
  // The filter entry point: only the first command of Filter is read; tokens left over after
  // the condition are not examined. Field names are bound to Cursor while parsing.
  void ParseForFilter(TVLTExprCursor* Cursor, std::string_view Filter, bool CaseInsensitive,
                      bool PartialKey);
  // One condition from the lexer's current command.
  void ParseForBooleanExpression(TVLTLexer& Lexer);
  // One value expression from the lexer's current command.
  void ParseForValueExpression(TVLTLexer& Lexer);
  // True when DefaultValue's text is exactly one value expression; errors give false.
  bool ParseForDefaultValueExpression(std::string_view DefaultValue);
  // One equality per name of FieldNames (separated by ";"), against the value of the same
  // position; several give one AND. Two-valued logic, so a null key finds null fields.
  void ParseForLocate(TVLTExprCursor* Cursor, std::string_view FieldNames,
                      const std::vector<TVLTVariant>& KeyValues, bool CaseInsensitive,
                      bool PartialKey);
  // FieldName Operator Value, case respected, no partial comparison, two-valued logic.
  void ParseForIsAnyRecordMatchCondition(TVLTExprCursor* Cursor, std::string_view FieldName,
                                         TVLTDataOperator Operator, const TVLTVariant& Value);

  // Adds a node under the root, or makes it the root.
  void AddNode(std::unique_ptr<TVLTExprNode> Node);
  // Conjoins Expr's tree with this one and takes it over; Expr is left empty.
  void AddAndMoveNodesFromExpression(TVLTExpression& Expr);
  // Flattens AND nodes directly under an AND root into the root (at any depth).
  void MoveAndNodesToRoot();

  // ---- evaluating ----
  // None for an empty tree; otherwise the root's value, a null read as false unless
  // TrueFalseNullLogic. Valid until the next evaluation.
  const TVLTVariant* GetValue(bool TrueFalseNullLogic);
  // GetValue(false) as a boolean; 30110 "Value is Null" for an empty tree.
  bool GetResult();
  void AssignCursor(TVLTExprCursor* Cursor);
  void AssignCursorBuffer(const uint8_t* Buffer, bool ApplyToParentQueryFields);

  TVLTBaseFieldType GetDataType();
  int32_t GetDataSize();
  int32_t GetPrecision();

  // ---- inspecting ----
  bool IsEmpty() const;
  bool IsField() const;
  // The root is a field, or one of its direct children is.
  bool IsFieldsExpression() const;
  // 30198 "Node is not a field" when the root is none.
  void GetFieldInfo(std::string& TableName, std::string& FieldName) const;
  TVLTExprNode* Root() const { return FRootExprNode.get(); }
  TVLTExprCursor* Cursor() const { return LCursor; }

  // ---- index use ----
  // Appends a condition for every comparison or IS [NOT] NULL among the AND operands and every
  // index that can answer it (an index may get several).
  void CreateIndexScanConditions(const std::vector<TVLTExprIndexInfo>& IndexDefs,
                                 TVLTExprScanConditions& ScanConditions, int32_t SessionID);
  void TryCreateIndexScanConditionsFromNode(TVLTExprNode* Node,
                                            const std::vector<TVLTExprIndexInfo>& IndexDefs,
                                            TVLTExprScanConditions& ScanConditions,
                                            int32_t SessionID);
  // Adds the next key field to ScanCondition from the first node that can extend it; true when
  // one did. The caller repeats until nothing is added.
  bool ExtendMultiFieldIndexCondition(TVLTExprScanCondition& ScanCondition,
                                      const TVLTExprIndexInfo& IndexDef);
  bool ExtendMultiFieldIndexConditionFromNode(TVLTExprNode* Node,
                                              TVLTExprScanCondition& ScanCondition,
                                              const TVLTExprIndexInfo& IndexDef);
  // Takes Nodes out of the evaluation (an index scan answers them) and puts them back.
  void RemoveExtractedNodes(const std::vector<TVLTExprNode*>& Nodes);
  void ReturnExtractedNodes();
  // True when evaluating is no longer needed: no root, or every conjunct has been taken out.
  bool IsEmptyAfterExtraction() const;

  bool FCaseInsensitive = false;
  bool FPartialKey = false;
  bool F3ValueLogic = true;
  // Where tables named inside the expression (LASTAUTOINC) are opened: the session and database
  // component names, or the in-memory database. Set before parsing.
  bool FInMemory = false;
  std::string FDatabaseName;
  std::string FSessionName;

 private:
  friend class TVLTExprParser;
  void Clear();
  void Bind();

  TVLTExprCursor* LCursor = nullptr;  // borrowed
  std::unique_ptr<TVLTExprNode> FRootExprNode;
  std::vector<TVLTExprNode*> FExtractedNodes;
  TVLTVariant FFalseValue;
  TVLTVariant FTrueValue;
};

// Whether a field's default value is an expression to evaluate when a record is initialised
// (CURRENT_DATE, 1+1) rather than a plain value (5, a bare word): a non-empty string that
// parses as one value expression that is no field reference and whose value, as text, differs
// from the text itself.
bool IsDefaultValueExpression(const TVLTVariant& DefaultValue);

}  // namespace vlt
