// TVLTExprCursor: what an expression needs from the cursor whose records it reads. The
// components' cursor implements it; expressions never see more of a cursor than this.
//
// Field numbers are table field numbers (all fields, not only the visible ones).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "engine/expr/VLTFieldTypes.h"
#include "engine/expr/VLTVariant.h"

namespace vlt {

// Where a field lives in the cursor's record buffer and what it holds.
struct TVLTExprFieldInfo {
  std::string FieldName;  // as defined
  int32_t FieldNo = -1;
  int32_t Offset = 0;     // of the field's slot in the record buffer
  int32_t DataSize = 0;   // bytes of the slot
  int32_t FieldSize = 0;  // declared size (characters of a string)
  TVLTAdvancedFieldType FieldType = aftUnknown;
  TVLTBaseFieldType BaseFieldType = bftUnknown;
};

class TVLTExprCursor {
 public:
  // Looks Name up without regard to case, first among the table fields, then among the visible
  // fields (a visible field maps to its table field). False when there is no such field.
  virtual bool FindExprField(std::string_view Name, TVLTExprFieldInfo& Info) const = 0;
  // The record buffer field nodes read until told otherwise; may be none.
  virtual const uint8_t* ExprCurrentRecordBuffer() const = 0;
  // Bytes of a record buffer covered by the null bitmap and the fields: no field slot ends
  // beyond it.
  virtual int32_t ExprRecordSize() const = 0;
  // The whole text of a Clob (8-bit) or WideClob (UTF-16) field of the record in RecordBuffer.
  virtual void ReadExprBlobText(int32_t FieldNo, const uint8_t* RecordBuffer,
                                TVLTVariant& Value) = 0;
  // The session that owns the cursor (temporary indexes belong to one session).
  virtual int32_t ExprSessionID() const = 0;

 protected:
  ~TVLTExprCursor() = default;
};

}  // namespace vlt
