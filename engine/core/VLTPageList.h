// TVLTSortedPageList: pages sorted by page number, each with an LRU stamp. It is the shape of both
// the shared page cache and a session's dirty list. The list does not own its pages; their
// manager does.
//
// Invariants:
//   1. KeyItems[0 .. ItemCount) is strictly ascending and KeyItems[i] == ValueItems[i].Page->PageNo.
//   2. Every stamp is unique: each Insert and UpdateLRU hands out LRUCount + 1.
//   3. AllocItemCount >= ItemCount; storage at least doubles when it grows (from 1000 entries)
//      and halves only when less than a quarter of it is used, so that inserting and deleting
//      rarely reallocates.
#pragma once

#include <cstdint>
#include <vector>

#include "engine/core/VLTTypes.h"

namespace vlt {

class TVLTPage;

struct TVLTPageElement {
  TVLTPage* Page = nullptr;
  int64_t LRUCount = 0;
};

class TVLTSortedPageList {
 public:
  explicit TVLTSortedPageList(int32_t Size = 0);

  int32_t Count() const { return ItemCount; }
  TVLTPage* Items(int32_t I) const { return ValueItems[static_cast<size_t>(I)].Page; }
  int64_t LRUStamp(int32_t I) const { return ValueItems[static_cast<size_t>(I)].LRUCount; }
  int32_t AllocatedCount() const { return AllocItemCount; }

  // 0 clears everything including the storage; see invariant 3 for the steps.
  void SetSize(int32_t NewSize);
  // Inserts at the page's position with the next LRU stamp. REQUIRES: its number is not listed.
  void Insert(TVLTPage* Page);
  // 20165 on an empty list; 20166 when the key is absent (a list of one element drops that
  // element whatever its key).
  void Delete(TVLTPageNo PageNo);
  // nullptr when absent.
  TVLTPage* Find(TVLTPageNo Key) const;
  // Count 0, storage kept.
  void Clear() { ItemCount = 0; }
  // Gives the page the next stamp; 20167 "Page not found" when it is not listed.
  void UpdateLRU(TVLTPage* Page);

  // LRU walk: FirstByLRU is the least recently used page (the first in page-number order among
  // equal stamps); each NextByLRU is the next one in stamp order; nullptr at the end.
  TVLTPage* FirstByLRU();
  TVLTPage* NextByLRU();

 private:
  // Index of Key when present (Found true), else the index it would be inserted at.
  int32_t Search(TVLTPageNo Key, bool& Found) const;

  std::vector<TVLTPageNo> KeyItems;
  int32_t ItemCount = 0;
  int32_t AllocBy = 1000;
  int32_t deAllocBy = 1000;
  int32_t AllocItemCount = 0;
  int64_t LRUCount = 0;
  int64_t LRULastFound = 0;
  std::vector<TVLTPageElement> ValueItems;
};

}  // namespace vlt
