#include "engine/expr/VLTExprNode.h"

#include <array>

#include "engine/base/VLTExcept.h"

namespace vlt {

namespace {
constexpr std::array<std::string_view, kDataOperatorCount> kOperatorNames = {
    "doUNDEFINED",    "doEQ",      "doNE",         "doGT",        "doLT",      "doGE",
    "doLE",           "doNOT",     "doAND",        "doOR",        "doIN",      "doNOTIN",
    "doEXISTS",       "doBETWEEN", "doNOTBETWEEN", "doLIKE",      "doNOTLIKE", "doISNULL",
    "doISNOTNULL",    "doTRUE",    "doFALSE",      "doADD",       "doSUB",     "doMUL",
    "doDIV",          "doCONCAT",  "doUPPER",      "doLOWER",     "doTRIM",    "doLTRIM",
    "doRTRIM",        "doLENGTH",  "doPOS",        "doSUBSTRING", "doSUM",     "doAVG",
    "doMIN",          "doMAX",     "doCOUNT",      "doCOUNTALL",  "doSYSDATE", "doCURRENT_DATE",
    "doCURRENT_TIME", "doTODATE",  "doTOSTRING",   "doEXTRACT",   "doCAST",    "doLASTAUTOINC",
    "doMIMETOBIN",    "doROWNUM",  "doABS",        "doACOS",      "doASIN",    "doATAN",
    "doCEIL",         "doCOS",     "doEXP",        "doFLOOR",     "doLOG",     "doPOWER",
    "doRAND",         "doROUND",   "doSIGN",       "doSIN",       "doSQR",     "doSQRT"};
}  // namespace

std::string_view DataOperatorName(TVLTDataOperator Operator) {
  return Operator < kDataOperatorCount ? kOperatorNames[Operator] : "doUNKNOWN";
}

// ---- base ----

void TVLTExprNode::BindToCursor() {
  for (auto& C : Children) C->BindToCursor();
}

void TVLTExprNode::AssignCursor(TVLTExprCursor* Cursor) {
  for (auto& C : Children) C->AssignCursor(Cursor);
}

void TVLTExprNode::AssignCursorBuffer(const uint8_t* Buffer, bool ApplyToParentQueryFields) {
  for (auto& C : Children) C->AssignCursorBuffer(Buffer, ApplyToParentQueryFields);
}

TVLTBaseFieldType TVLTExprNode::GetDataType() {
  TVLTBaseFieldType T = bftUnknown;
  for (size_t I = 0; I < Children.size(); ++I) {
    const TVLTBaseFieldType C = Children[I]->GetDataType();
    T = I == 0 ? C : VLTCommonType(T, C, true);
    if (T == bftUnknown) break;
  }
  if (T == bftUnknown) throw EVLTException(30283, "Cannot determine expression type");
  return T;
}

int32_t TVLTExprNode::GetDataSize() {
  if (Operator != doADD && Operator != doCONCAT && Operator != doCAST) return 0;
  if (!IsStringBaseType(GetDataType())) return 0;
  int32_t Size = 0;
  for (auto& C : Children) Size += C->GetDataSize();
  return Size;
}

bool TVLTExprNode::CanUseIndex(int32_t, TVLTSearchCondition, const TVLTExprIndexInfo&, int32_t) {
  return false;
}

void TVLTExprNode::AddAsIndexScanCondition(TVLTExprScanConditions&, const TVLTExprIndexInfo&,
                                           TVLTExpression*) {}

void TVLTExprNode::ExtendIndexScanCondition(TVLTExprScanCondition&, const TVLTExprIndexInfo&,
                                            TVLTExpression*) {}

void TVLTExprNode::RaiseUnknownOperator(int32_t Code) const {
  throw EVLTException(Code, "Unknown operator: '%s'", {std::string(DataOperatorName(Operator))});
}

// ---- field ----

TVLTExprNodeField::TVLTExprNodeField(TVLTExprCursor* Cursor, std::string FieldName,
                                     std::string TableName)
    : TVLTExprNode(doUNDEFINED),
      FTableName(std::move(TableName)),
      FFieldName(std::move(FieldName)) {
  if (Cursor) AssignCursor(Cursor);
}

void TVLTExprNodeField::AssignCursor(TVLTExprCursor* Cursor) {
  LCursor = Cursor;
  FFieldNo = -1;
  LRecordBuffer = nullptr;
  if (!Cursor) return;
  TVLTExprFieldInfo Info;
  if (!Cursor->FindExprField(FFieldName, Info))
    throw EVLTException(30115, "Field '%s' not found", {FFieldName});
  // A slot outside the record would be read past the buffer's end; such a definition is
  // damaged, not a field.
  if (Info.FieldNo < 0 || Info.Offset < 0 || Info.DataSize < 0 ||
      Info.Offset + Info.DataSize > Cursor->ExprRecordSize() ||
      Info.FieldNo / 8 >= Cursor->ExprRecordSize())
    throw EVLTException(30115, "Field '%s' not found", {FFieldName});
  FFieldNo = Info.FieldNo;
  FFieldOffsetInBuffer = Info.Offset;
  FFieldDataSize = Info.DataSize;
  FFieldType = Info.FieldType;
  FBaseFieldType = Info.BaseFieldType;
  FFieldSize = Info.FieldSize;
  Value.Clear(FBaseFieldType);
  LRecordBuffer = Cursor->ExprCurrentRecordBuffer();
}

void TVLTExprNodeField::AssignCursorBuffer(const uint8_t* Buffer, bool ApplyToParentQueryFields) {
  if (ApplyToParentQueryFields == FGetFromParent) LRecordBuffer = Buffer;
}

TVLTVariant& TVLTExprNodeField::GetDataValue() {
  if (!LRecordBuffer || FFieldNo < 0) throw EVLTException(30196, "Dataset and AO not assigned");
  if ((LRecordBuffer[FFieldNo / 8] >> (FFieldNo % 8)) & 1) {
    Value.Clear(FBaseFieldType);
  } else if (FBaseFieldType == bftClob || FBaseFieldType == bftWideClob) {
    LCursor->ReadExprBlobText(FFieldNo, LRecordBuffer, Value);
  } else {
    Value.SetData(LRecordBuffer + FFieldOffsetInBuffer, FFieldDataSize, false, FBaseFieldType);
  }
  return Value;
}

TVLTBaseFieldType TVLTExprNodeField::GetDataType() {
  if (FFieldNo < 0) throw EVLTException(30283, "Cannot determine expression type");
  return FBaseFieldType;
}

}  // namespace vlt
