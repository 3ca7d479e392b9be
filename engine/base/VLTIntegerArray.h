// TVLTIntegerArray: a growable array of signed 32-bit integers (page number lists and the like).
// Growth is geometric; AllocBy and MaxAllocBy are kept as hints for callers that size it up front.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace vlt {

class TVLTIntegerArray {
 public:
  explicit TVLTIntegerArray(int32_t Size = 0, int32_t DefaultAllocBy = 100,
                            int32_t MaximumAllocBy = 100000);

  int32_t ItemCount() const { return static_cast<int32_t>(FItems.size()); }
  int32_t& operator[](int32_t I) { return FItems[Check(I)]; }
  int32_t operator[](int32_t I) const { return FItems[Check(I)]; }
  const int32_t* Items() const { return FItems.data(); }

  void SetSize(int32_t NewSize);  // new items are 0
  void Append(int32_t Value) { FItems.push_back(Value); }
  // REQUIRES: 0 <= ItemNo <= ItemCount().
  void Insert(int32_t ItemNo, int32_t Value);
  void Delete(int32_t ItemNo);
  // Drops the first N items (all of them when N >= ItemCount()).
  void DeleteFirst(int32_t N) {
    FItems.erase(FItems.begin(), FItems.begin() + std::clamp<ptrdiff_t>(N, 0, ItemCount()));
  }
  // Moves one item so that it ends at NewItemNo; the items between shift by one.
  void MoveTo(int32_t ItemNo, int32_t NewItemNo);
  void CopyTo(TVLTIntegerArray& Dest) const { Dest.FItems = FItems; }
  void Assign(const TVLTIntegerArray& Source) { FItems = Source.FItems; }
  bool IsValueExists(int32_t Value) const { return IndexOf(Value) >= 0; }
  int32_t IndexOf(int32_t Value) const;  // -1 when absent
  void Clear() { FItems.clear(); }

  auto begin() const { return FItems.begin(); }
  auto end() const { return FItems.end(); }

 private:
  size_t Check(int32_t I) const;
  std::vector<int32_t> FItems;
};

}  // namespace vlt
