#include "engine/core/VLTIndex.h"

namespace vlt {

void TVLTIndex::AssignIndexDef(const TVLTIndexDef& Def) {
  if (FIndexDef.get() == &Def) return;
  auto Copy = std::make_unique<TVLTIndexDef>();
  Copy->Assign(Def);
  FIndexDef = std::move(Copy);
}

void TVLTIndex::CreateIndex(TVLTTableCursor*, TVLTIndexDef& IndexDef) { AssignIndexDef(IndexDef); }

void TVLTIndex::OpenIndex(const TVLTIndexDef& IndexDef) { AssignIndexDef(IndexDef); }

}  // namespace vlt
