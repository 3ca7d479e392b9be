// The table metadata stream: what a table's metadata file holds.
//
//   CONTENT
//   field list       4-byte count, then the field definitions
//   index list       4-byte count of stored (non-temporary) indexes, then their definitions
//   constraint list  4-byte count, then per constraint its type byte and definition
//   4 bytes          root page of the record page index (Int32)
//   4 bytes          root page of the BLOB page index (Int32)
#pragma once

#include "engine/core/VLTConstraintDef.h"
#include "engine/core/VLTFieldDef.h"
#include "engine/core/VLTIndexDef.h"

namespace vlt {

struct TVLTTableMetadata {
  TVLTFieldDefs FieldDefs;
  TVLTIndexDefs IndexDefs;
  TVLTConstraintDefs ConstraintDefs;
  TVLTPageNo RecordPageIndexRoot = kNoPage;
  TVLTPageNo BLOBPageIndexRoot = kNoPage;

  // Loading recomputes the field offsets.
  void LoadFromStream(TVLTStream& Stream);
  void SaveToStream(TVLTStream& Stream) const;
};

}  // namespace vlt
