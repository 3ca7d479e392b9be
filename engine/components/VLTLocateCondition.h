// TVLTLocateCondition: the search condition of Locate and IsAnyRecordMatchCondition, kept as an
// expression so that the table data's Locate asks the cursor to test it on each record. Every
// term compares one table field with one value by an operator; a record is accepted when all
// terms hold. NULL matches only NULL under equality.
#pragma once

#include <cstdint>
#include <vector>

#include "engine/core/VLTFieldDef.h"
#include "engine/expr/VLTVariant.h"

namespace vlt {

class TVLTCursor;
enum TVLTMatchOperator : uint8_t;

class TVLTLocateCondition : public TVLTExpression {
 public:
  struct TTerm {
    int32_t FieldNo;  // table field number
    TVLTMatchOperator Operator;
    TVLTVariant Value;
  };

  TVLTLocateCondition(bool CaseInsensitive, bool PartialKey)
      : FCaseInsensitive(CaseInsensitive), FPartialKey(PartialKey) {}

  void AddTerm(int32_t FieldNo, TVLTMatchOperator Operator, const TVLTVariant& Value) {
    FTerms.push_back({FieldNo, Operator, Value});
  }
  bool Accepts(const TVLTCursor& Cursor, const uint8_t* RecordBuffer) const;

 private:
  std::vector<TTerm> FTerms;
  bool FCaseInsensitive;
  bool FPartialKey;
};

}  // namespace vlt
