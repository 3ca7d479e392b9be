#include "engine/expr/VLTExpression.h"

#include <algorithm>

#include "engine/base/VLTExcept.h"
#include "engine/base/VLTFieldList.h"
#include "engine/expr/VLTExprNodeLogic.h"
#include "engine/expr/VLTExprParser.h"
#include "engine/expr/VLTLexer.h"
#include "engine/expr/VLTLocale.h"

namespace vlt {

namespace {

std::string UpperTrim(std::string_view S) {
  size_t B = S.find_first_not_of(" \t\r\n");
  if (B == std::string_view::npos) return {};
  size_t E = S.find_last_not_of(" \t\r\n");
  std::string R(S.substr(B, E - B + 1));
  std::transform(R.begin(), R.end(), R.begin(), [](unsigned char C) {
    return static_cast<char>(C >= 'a' && C <= 'z' ? C - 32 : C);
  });
  return R;
}

}  // namespace

TVLTExpression::TVLTExpression() : FFalseValue(bftLogical), FTrueValue(bftLogical) {
  FFalseValue.SetAsBoolean(false);
  FTrueValue.SetAsBoolean(true);
}

TVLTExpression::TVLTExpression(std::unique_ptr<TVLTExprNode> RootNode) : TVLTExpression() {
  FRootExprNode = std::move(RootNode);
}

TVLTExpression::~TVLTExpression() = default;

void TVLTExpression::Clear() {
  FExtractedNodes.clear();
  FRootExprNode.reset();
}

void TVLTExpression::Bind() {
  if (FRootExprNode && LCursor) FRootExprNode->BindToCursor();
}

// ---- building ----

void TVLTExpression::ParseForFilter(TVLTExprCursor* Cursor, std::string_view Filter,
                                    bool CaseInsensitive, bool PartialKey) {
  Clear();
  LCursor = Cursor;
  FCaseInsensitive = CaseInsensitive;
  FPartialKey = PartialKey;
  TVLTLexer Lexer(Filter, true, nullptr);
  if (Lexer.NumCommands() == 0) throw EVLTException(30119, "Blank SQL command");
  Lexer.GetNextCommand();
  ParseForBooleanExpression(Lexer);
}

void TVLTExpression::ParseForBooleanExpression(TVLTLexer& Lexer) {
  Clear();
  TToken T;
  if (!Lexer.GetCurrentToken(T))
    throw EVLTException(30118, "Unexpected end of SQL command found at line %d, column %d",
                        {int64_t{T.LineNum}, int64_t{T.ColumnNum}});
  std::unique_ptr<TVLTExprNode> Root;
  {
    TVLTExprParser Parser(*this, Lexer);
    Root = Parser.ParseBooleanExpression();
    if (!Root) {
      const TToken& C = Parser.Current();
      throw EVLTException(30066,
                          "Boolean expression expected, but '%s' found at line %d, column %d",
                          {C.Text, int64_t{C.LineNum}, int64_t{C.ColumnNum}});
    }
  }
  FRootExprNode = std::move(Root);
  MoveAndNodesToRoot();
  Bind();
}

void TVLTExpression::ParseForValueExpression(TVLTLexer& Lexer) {
  Clear();
  TToken T;
  if (!Lexer.GetCurrentToken(T))
    throw EVLTException(30136, "Unexpected end of SQL command found at line %d, column %d",
                        {int64_t{T.LineNum}, int64_t{T.ColumnNum}});
  TVLTExprParser Parser(*this, Lexer);
  FRootExprNode = Parser.ParseValueExpression();
  Bind();
}

bool TVLTExpression::ParseForDefaultValueExpression(std::string_view DefaultValue) {
  Clear();
  try {
    TVLTLexer Lexer(DefaultValue, true, nullptr);
    if (Lexer.NumCommands() != 1) return false;
    Lexer.GetNextCommand();
    ParseForValueExpression(Lexer);
    if (!FRootExprNode) return false;
    // Exactly one value expression: nothing may follow it.
    TToken T;
    if (Lexer.GetCurrentToken(T)) {
      Clear();
      return false;
    }
    return true;
  } catch (const std::exception&) {
    // Any error, also one of the table a function names (LASTAUTOINC without a database to
    // look in), means the text is no expression.
    Clear();
    return false;
  }
}

void TVLTExpression::ParseForLocate(TVLTExprCursor* Cursor, std::string_view FieldNames,
                                    const std::vector<TVLTVariant>& KeyValues, bool CaseInsensitive,
                                    bool PartialKey) {
  Clear();
  LCursor = Cursor;
  F3ValueLogic = false;
  std::vector<std::string> Names = VLTSplitList(FieldNames, ";", true);
  for (std::string& Name : Names) Name = UpperTrim(Name);
  if (Names.size() != KeyValues.size())
    throw EVLTException(30112, "Count of FieldNames (%d) does not equal counts of KeyValues (%d)",
                        {int64_t{static_cast<int64_t>(Names.size())},
                         int64_t{static_cast<int64_t>(KeyValues.size())}});
  std::unique_ptr<TVLTExprNode> Root;
  if (Names.size() > 1) Root = std::make_unique<TVLTExprNodeBoolean>(doAND);
  for (size_t I = 0; I < Names.size(); ++I) {
    auto Field = std::make_unique<TVLTExprNodeField>(Cursor, Names[I], std::string());
    auto Const = std::make_unique<TVLTExprNodeConst>(KeyValues[I]);
    // A number given for a date or time field is a calendar date-time.
    if (IsDateTimeBaseType(Field->FBaseFieldType) && !Const->Value.IsNull() &&
        Const->Value.IsNumericDataType()) {
      const double Calendar = Const->Value.AsDouble();
      Const->Value.Clear(bftDateTime);
      Const->Value.SetAsVLTDateTime(CalendarToVLTDateTime(Calendar));
    }
    auto Cmp = std::make_unique<TVLTExprNodeComparison>(doEQ);
    Cmp->FCaseInsensitive = CaseInsensitive;
    Cmp->FPartialKey = PartialKey;
    Cmp->F3ValueLogic = false;
    Cmp->AddChild(std::move(Field));
    Cmp->AddChild(std::move(Const));
    if (Root)
      Root->AddChild(std::move(Cmp));
    else
      Root = std::move(Cmp);
  }
  FRootExprNode = std::move(Root);
  Bind();
}

void TVLTExpression::ParseForIsAnyRecordMatchCondition(TVLTExprCursor* Cursor,
                                                       std::string_view FieldName,
                                                       TVLTDataOperator Operator,
                                                       const TVLTVariant& Value) {
  Clear();
  LCursor = Cursor;
  F3ValueLogic = false;
  auto Cmp = std::make_unique<TVLTExprNodeComparison>(Operator);
  Cmp->F3ValueLogic = false;
  Cmp->AddChild(std::make_unique<TVLTExprNodeField>(Cursor, std::string(FieldName), std::string()));
  Cmp->AddChild(std::make_unique<TVLTExprNodeConst>(Value));
  FRootExprNode = std::move(Cmp);
  Bind();
}

void TVLTExpression::AddNode(std::unique_ptr<TVLTExprNode> Node) {
  if (!Node) return;
  if (FRootExprNode)
    FRootExprNode->AddChild(std::move(Node));
  else
    FRootExprNode = std::move(Node);
}

void TVLTExpression::AddAndMoveNodesFromExpression(TVLTExpression& Expr) {
  if (!Expr.FRootExprNode) return;
  if (!FRootExprNode) {
    FRootExprNode = std::move(Expr.FRootExprNode);
  } else {
    if (FRootExprNode->Operator != doAND ||
        !dynamic_cast<TVLTExprNodeBoolean*>(FRootExprNode.get())) {
      auto And = std::make_unique<TVLTExprNodeBoolean>(doAND);
      And->AddChild(std::move(FRootExprNode));
      FRootExprNode = std::move(And);
    }
    FRootExprNode->AddChild(std::move(Expr.FRootExprNode));
  }
  Expr.Clear();
  MoveAndNodesToRoot();
}

void TVLTExpression::MoveAndNodesToRoot() {
  if (!FRootExprNode || FRootExprNode->Operator != doAND ||
      !dynamic_cast<TVLTExprNodeBoolean*>(FRootExprNode.get()))
    return;
  auto& C = FRootExprNode->Children;
  // An AND child gives its operands to the root (appended at the end); the appended ones are
  // looked at again, so nested ANDs at any depth are flattened.
  for (size_t I = 0; I < C.size();) {
    if (C[I]->Operator == doAND && dynamic_cast<TVLTExprNodeBoolean*>(C[I].get())) {
      std::unique_ptr<TVLTExprNode> And = std::move(C[I]);
      C.erase(C.begin() + static_cast<std::ptrdiff_t>(I));
      for (auto& Grand : And->Children) C.push_back(std::move(Grand));
    } else {
      ++I;
    }
  }
}

// ---- evaluating ----

const TVLTVariant* TVLTExpression::GetValue(bool TrueFalseNullLogic) {
  if (!FRootExprNode) return nullptr;
  if (FRootExprNode->FExtracted) return &FTrueValue;
  const TVLTVariant& V = FRootExprNode->GetDataValue();
  if (!TrueFalseNullLogic && V.IsNullOrEmpty()) return &FFalseValue;
  return &V;
}

bool TVLTExpression::GetResult() {
  const TVLTVariant* V = GetValue(false);
  if (!V) throw EVLTException(30110, "Value is Null");
  return V->AsBoolean();
}

void TVLTExpression::AssignCursor(TVLTExprCursor* Cursor) {
  LCursor = Cursor;
  if (!FRootExprNode) return;
  FRootExprNode->AssignCursor(Cursor);
  FRootExprNode->BindToCursor();
}

void TVLTExpression::AssignCursorBuffer(const uint8_t* Buffer, bool ApplyToParentQueryFields) {
  if (!FRootExprNode) return;
  FRootExprNode->AssignCursorBuffer(Buffer, ApplyToParentQueryFields);
}

TVLTBaseFieldType TVLTExpression::GetDataType() {
  if (!FRootExprNode) throw EVLTException(30283, "Cannot determine expression type");
  return FRootExprNode->GetDataType();
}

int32_t TVLTExpression::GetDataSize() {
  return FRootExprNode ? FRootExprNode->GetDataSize() : 0;
}

int32_t TVLTExpression::GetPrecision() {
  return FRootExprNode ? FRootExprNode->GetPrecision() : 0;
}

// ---- inspecting ----

bool TVLTExpression::IsEmpty() const {
  if (!FRootExprNode) return true;
  return dynamic_cast<TVLTExprNodeBoolean*>(FRootExprNode.get()) && FRootExprNode->Children.empty();
}

bool TVLTExpression::IsField() const {
  return dynamic_cast<TVLTExprNodeField*>(FRootExprNode.get()) != nullptr;
}

bool TVLTExpression::IsFieldsExpression() const {
  if (!FRootExprNode) return false;
  if (IsField()) return true;
  for (auto& C : FRootExprNode->Children)
    if (dynamic_cast<TVLTExprNodeField*>(C.get())) return true;
  return false;
}

void TVLTExpression::GetFieldInfo(std::string& TableName, std::string& FieldName) const {
  auto* F = dynamic_cast<TVLTExprNodeField*>(FRootExprNode.get());
  if (!F) throw EVLTException(30198, "Node is not a field");
  TableName = F->FTableName;
  FieldName = F->FFieldName;
}

// ---- default values ----

bool IsDefaultValueExpression(const TVLTVariant& DefaultValue) {
  if (!DefaultValue.IsStringDataType() || DefaultValue.IsNullOrEmpty()) return false;
  try {
    const std::string Text = DefaultValue.AsAnsiString();
    TVLTExpression E;
    if (!E.ParseForDefaultValueExpression(Text) || E.IsFieldsExpression()) return false;
    const TVLTVariant* V = E.GetValue(true);
    if (!V) return false;
    return V->AsAnsiString() != Text;
  } catch (const std::exception&) {
    // A text that cannot be evaluated without a record is a plain value.
    return false;
  }
}

}  // namespace vlt
