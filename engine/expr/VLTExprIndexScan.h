// Index conditions that an expression yields: the parts of a filter that an index range can
// answer, described independently of the cursor layer. The components turn each into a scan
// search condition with a key record buffer.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "engine/expr/VLTSearchCondition.h"
#include "engine/expr/VLTVariant.h"

namespace vlt {

class TVLTExpression;
class TVLTExprNode;

struct TVLTExprIndexColumn {
  std::string FieldName;
  bool Descending = false;
  bool CaseInsensitive = false;
};

// An index as the expression needs to see it.
struct TVLTExprIndexInfo {
  int32_t IndexID = -1;
  bool Temporary = false;
  int32_t SessionID = -1;  // owner of a temporary index
  std::vector<TVLTExprIndexColumn> Columns;
};

// One index condition: the key holds one value per leading index column, written to the key
// record buffer in that order (a null value is a null key field).
struct TVLTExprScanCondition {
  struct TKeyField {
    int32_t FieldNo = -1;  // table field number
    TVLTVariant Value;
  };

  int32_t IndexID = -1;
  TVLTSearchCondition Condition = scNone;
  bool PartialCompare = false;
  std::vector<TKeyField> KeyFields;
  // The expression and node behind each key field (parallel lists).
  std::vector<TVLTExpression*> ParentExpressions;
  std::vector<TVLTExprNode*> ParentExpressionNodes;

  int32_t KeyFieldCount() const { return static_cast<int32_t>(KeyFields.size()); }
};

using TVLTExprScanConditions = std::vector<TVLTExprScanCondition>;

}  // namespace vlt
