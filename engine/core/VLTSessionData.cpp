#include "engine/core/VLTSessionData.h"

#include <algorithm>

namespace vlt {

const TVLTSessionNamedObjectSequenceValue* TVLTSessionData::FindSequenceValue(
    TVLTObjectID ObjectID) const {
  for (const auto& V : FSequenceValues)
    if (V.FObjectID == ObjectID) return &V;
  return nullptr;
}

void TVLTSessionData::SetSequenceValue(TVLTObjectID ObjectID, std::string_view Name, int64_t Value) {
  for (auto& V : FSequenceValues)
    if (V.FObjectID == ObjectID) {
      V.FValue = Value;
      return;
    }
  TVLTSessionNamedObjectSequenceValue V;
  V.FObjectID = ObjectID;
  V.FName = std::string(Name.substr(0, 255));
  V.FValue = Value;
  FSequenceValues.push_back(std::move(V));
}

bool TVLTSessionData::DeleteSequenceValue(TVLTObjectID ObjectID) {
  // Id -1 names no sequence: entries known by name only are never matched by it.
  if (ObjectID == kNoObjectID) return false;
  return std::erase_if(FSequenceValues, [ObjectID](const TVLTSessionNamedObjectSequenceValue& V) {
           return V.FObjectID == ObjectID;
         }) > 0;
}

}  // namespace vlt
