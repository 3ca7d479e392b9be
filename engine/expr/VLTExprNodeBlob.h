// TVLTExprNodeBlob: MIMETOBIN('text') — the Base64 (MIME) decoding of its one child's text as a
// bftBlob value. Characters outside the Base64 alphabet (line breaks, blanks) are skipped; a
// null or empty text gives null.
#pragma once

#include "engine/expr/VLTExprNode.h"

namespace vlt {

class TVLTExprNodeBlob : public TVLTExprNode {
 public:
  TVLTExprNodeBlob() : TVLTExprNode(doMIMETOBIN) {}
  // 30121 "Unknown operator: '%s'" without exactly one child.
  TVLTVariant& GetDataValue() override;
  TVLTBaseFieldType GetDataType() override { return bftBlob; }
};

}  // namespace vlt
