#include "engine/core/VLTSessionData.h"

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

}  // namespace vlt
