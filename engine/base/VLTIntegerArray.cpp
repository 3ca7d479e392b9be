#include "engine/base/VLTIntegerArray.h"

#include <algorithm>
#include <stdexcept>

namespace vlt {

TVLTIntegerArray::TVLTIntegerArray(int32_t Size, int32_t DefaultAllocBy, int32_t MaximumAllocBy) {
  FItems.reserve(static_cast<size_t>(std::max(Size, std::min(DefaultAllocBy, MaximumAllocBy))));
  FItems.resize(static_cast<size_t>(std::max(Size, 0)));
}

size_t TVLTIntegerArray::Check(int32_t I) const {
  if (I < 0 || static_cast<size_t>(I) >= FItems.size())
    throw std::out_of_range("TVLTIntegerArray: item number out of range");
  return static_cast<size_t>(I);
}

void TVLTIntegerArray::SetSize(int32_t NewSize) {
  FItems.resize(static_cast<size_t>(std::max(NewSize, 0)));
}

void TVLTIntegerArray::Insert(int32_t ItemNo, int32_t Value) {
  if (ItemNo < 0 || static_cast<size_t>(ItemNo) > FItems.size())
    throw std::out_of_range("TVLTIntegerArray: item number out of range");
  FItems.insert(FItems.begin() + ItemNo, Value);
}

void TVLTIntegerArray::Delete(int32_t ItemNo) {
  FItems.erase(FItems.begin() + static_cast<ptrdiff_t>(Check(ItemNo)));
}

void TVLTIntegerArray::MoveTo(int32_t ItemNo, int32_t NewItemNo) {
  size_t From = Check(ItemNo), To = Check(NewItemNo);
  if (From < To)
    std::rotate(FItems.begin() + From, FItems.begin() + From + 1, FItems.begin() + To + 1);
  else if (To < From)
    std::rotate(FItems.begin() + To, FItems.begin() + From, FItems.begin() + From + 1);
}

int32_t TVLTIntegerArray::IndexOf(int32_t Value) const {
  auto It = std::find(FItems.begin(), FItems.end(), Value);
  return It == FItems.end() ? -1 : static_cast<int32_t>(It - FItems.begin());
}

}  // namespace vlt
