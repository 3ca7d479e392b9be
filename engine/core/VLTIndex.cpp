#include "engine/core/VLTIndex.h"

#include "engine/base/VLTExcept.h"

namespace vlt {

void TVLTIndex::AssignIndexDef(const TVLTIndexDef& Def) {
  if (FIndexDef.get() == &Def) return;
  auto Copy = std::make_unique<TVLTIndexDef>();
  Copy->Assign(Def);
  FIndexDef = std::move(Copy);
}

void TVLTIndex::CreateIndex(TVLTTableCursor*, TVLTIndexDef& IndexDef) { AssignIndexDef(IndexDef); }

void TVLTIndex::OpenIndex(const TVLTIndexDef& IndexDef) { AssignIndexDef(IndexDef); }

bool TVLTIndex::FindRecord(TVLTSessionID, TVLTIndexSearchInfo* SearchInfo, bool, bool,
                           const TVLTScanSearchCondition*, const TVLTScanSearchCondition*,
                           const TVLTPageItemID&, const uint8_t*, TVLTPageItemID&) {
  if (!SearchInfo) throw EVLTException(20077, "Pointer is nil");
  throw EVLTException(20078, "Index error: invalid params");
}

}  // namespace vlt
