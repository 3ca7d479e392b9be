#include "engine/components/VLTBaseSession.h"

#include <algorithm>

namespace vlt {

void TVLTBaseSession::SetObject(std::unique_ptr<TVLTSessionNamedObject> Value) {
  if (!Value) return;
  TVLTSessionNamedObject* Old = Value->FObjectID == kNoObjectID ? GetObjectByName(Value->FName)
                                                                 : GetObjectByID(Value->FObjectID);
  if (Old)
    std::erase_if(FSessionNamedObjectList, [Old](const auto& O) { return O.get() == Old; });
  FSessionNamedObjectList.push_back(std::move(Value));
}

TVLTSessionNamedObject* TVLTBaseSession::GetObjectByName(const std::string& ObjectName) const {
  for (const auto& O : FSessionNamedObjectList)
    if (SameText(O->FName, ObjectName)) return O.get();
  return nullptr;
}

TVLTSessionNamedObject* TVLTBaseSession::GetObjectByID(TVLTObjectID ID) const {
  for (const auto& O : FSessionNamedObjectList)
    if (O->FObjectID == ID) return O.get();
  return nullptr;
}

void TVLTBaseSession::DeleteObject(TVLTObjectID ID) {
  auto It = std::find_if(FSessionNamedObjectList.begin(), FSessionNamedObjectList.end(),
                         [ID](const auto& O) { return O->FObjectID == ID; });
  if (It != FSessionNamedObjectList.end()) FSessionNamedObjectList.erase(It);
}

}  // namespace vlt
