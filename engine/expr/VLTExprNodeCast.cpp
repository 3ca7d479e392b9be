#include "engine/expr/VLTExprNodeCast.h"

#include "engine/base/VLTExcept.h"
#include "engine/expr/VLTFieldTypeTable.h"

namespace vlt {

TVLTExprNodeCast::TVLTExprNodeCast(std::unique_ptr<TVLTExprNode> Argument,
                                   std::string_view TypeName,
                                   std::unique_ptr<TVLTExprNode> SizeNode)
    : TVLTExprNode(doCAST) {
  const std::optional<TVLTAdvancedFieldType> Type = AdvancedTypeOfSqlName(TypeName);
  if (!Type || IsBytesAdvancedType(*Type) || *Type == aftBlob || *Type == aftGraphic ||
      *Type == aftGuid)
    throw EVLTException(30077, "Cannot convert an expression to specified type: '%s'",
                        {std::string(TypeName)});
  FCastType = *Type;
  FBaseType = BaseTypeOfAdvanced(*Type).value_or(bftUnknown);
  AddChild(std::move(Argument));
  if (SizeNode) {
    LCastSizeNode = SizeNode.get();
    AddChild(std::move(SizeNode));
  }
}

int32_t TVLTExprNodeCast::CastSize() {
  if (!LCastSizeNode) return kDefaultStringSize;
  const int32_t Size = LCastSizeNode->GetDataValue().AsInteger();
  return Size < 0 ? 0 : Size;
}

int32_t TVLTExprNodeCast::GetDataSize() {
  if (IsStringBaseType(FBaseType)) return CastSize();
  if (const int32_t Fixed = FixedDataSize(FBaseType)) return Fixed;
  throw EVLTException(30466, "Unsupported data type '%s'",
                      {std::string(BaseFieldTypeName(FBaseType))});
}

TVLTVariant& TVLTExprNodeCast::GetDataValue() {
  Value.Assign(Children[0]->GetDataValue(), true);
  Value.Cast(FBaseType);
  if (!IsStringBaseType(FBaseType) || Value.IsNull()) return Value;
  const auto Size = static_cast<size_t>(CastSize());
  if (Value.IsWideStringDataType()) {
    const std::u16string S = Value.AsWideString();
    if (S.size() > Size) {
      Value.Clear(FBaseType);
      Value.SetAsWideString(std::u16string_view(S).substr(0, Size));
    }
  } else {
    const std::string S = Value.AsAnsiString();
    if (S.size() > Size) {
      Value.Clear(FBaseType);
      Value.SetAsAnsiString(std::string_view(S).substr(0, Size));
    }
  }
  return Value;
}

}  // namespace vlt
