#include "engine/core/VLTTableMetadata.h"

#include "engine/protect/VLTStream.h"

namespace vlt {

namespace {
constexpr int32_t kReadRoots = 20168, kWriteRoots = 20169;
}

void TVLTTableMetadata::LoadFromStream(TVLTStream& Stream) {
  FieldDefs.LoadFromStream(Stream);
  FieldDefs.RecalcFieldOffsets();
  IndexDefs.LoadFromStream(Stream);
  ConstraintDefs.LoadFromStream(Stream);
  RecordPageIndexRoot = VLTReadLE<int32_t>(Stream, kReadRoots);
  BLOBPageIndexRoot = VLTReadLE<int32_t>(Stream, kReadRoots);
}

void TVLTTableMetadata::SaveToStream(TVLTStream& Stream) const {
  FieldDefs.SaveToStream(Stream);
  IndexDefs.SaveToStream(Stream);
  ConstraintDefs.SaveToStream(Stream);
  VLTWriteLE<int32_t>(Stream, RecordPageIndexRoot, kWriteRoots);
  VLTWriteLE<int32_t>(Stream, BLOBPageIndexRoot, kWriteRoots);
}

}  // namespace vlt
