// TVLTTableBLOBAccess: what a table data with BLOB storage offers the cursor: filling a new
// stream with a field's value and writing a stream back into a record buffer. Table data
// without it give empty BLOB streams whose data are not kept. The disk table data implement
// it; the components' cursor finds it on its table data.
#pragma once

#include <cstdint>

namespace vlt {

class TVLTStream;
class TVLTTableCursor;

class TVLTTableBLOBAccess {
 public:
  virtual ~TVLTTableBLOBAccess() = default;
  // Fills Stream with the value of table field FieldNo of the cursor's current record buffer.
  virtual void ReadBLOBField(TVLTTableCursor& Cursor, int32_t FieldNo, TVLTStream& Stream) = 0;
  // Stores the whole of Stream as the value of FieldNo in the cursor's current record buffer.
  virtual void WriteBLOBFieldToRecordBuffer(TVLTTableCursor& Cursor, int32_t FieldNo,
                                            TVLTStream& Stream) = 0;
  // Drops cached BLOB data of FieldNo held in the buffer.
  virtual void ClearBLOBFieldCache(TVLTTableCursor& Cursor, int32_t FieldNo) = 0;
};

}  // namespace vlt
