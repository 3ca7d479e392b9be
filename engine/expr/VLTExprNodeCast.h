// TVLTExprNodeCast: CAST(x AS type [(size)]) — the value of its one child converted to the base
// type of a declared field type.
//
// The type is one of the type-name table's names (VLTFieldTypeTable.h), any case; BYTES,
// VARBYTES, BLOB, GRAPHIC, GUID and names not in the table raise 30077 "Cannot convert an
// expression to specified type: '%s'" when the node is built. A string result is cut to the
// size (the value of LCastSizeNode, default 4096) in characters. Conversion errors of the value
// type pass through. GetDataSize raises 30466 "Unsupported data type '%s'" for a type whose
// size cannot be told (the BLOB types).
#pragma once

#include <string_view>

#include "engine/expr/VLTExprNode.h"

namespace vlt {

class TVLTExprNodeCast : public TVLTExprNode {
 public:
  static constexpr int32_t kDefaultStringSize = 4096;

  // 30077 for a type name a value cannot be cast to.
  TVLTExprNodeCast(std::unique_ptr<TVLTExprNode> Argument, std::string_view TypeName,
                   std::unique_ptr<TVLTExprNode> SizeNode);

  TVLTVariant& GetDataValue() override;
  TVLTBaseFieldType GetDataType() override { return FBaseType; }
  int32_t GetDataSize() override;

  TVLTAdvancedFieldType FCastType = aftUnknown;
  TVLTExprNode* LCastSizeNode = nullptr;  // the second child when a size is given; none else

 private:
  int32_t CastSize();
  TVLTBaseFieldType FBaseType = bftUnknown;
};

}  // namespace vlt
