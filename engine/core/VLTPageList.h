// TVLTSortedPageList: pages sorted by page number, each with an LRU stamp. It is the shape of both
// the shared page cache and a session's dirty list. The list does not own its pages; their
// manager does. A page is in at most one list at a time (its ParentList).
//
// Two orders over the same pages: the sorted arrays answer by page number (binary search, block
// moves on insert and delete), and a doubly linked chain through the pages themselves answers
// by use (least recently used at its head), so that eviction never walks the list.
//
// Invariants:
//   1. KeyItems[0 .. ItemCount) is strictly ascending and KeyItems[i] == ValueItems[i].Page->PageNo.
//   2. Every stamp is unique: each Insert and UpdateLRU hands out LRUCount + 1.
//   3. AllocItemCount >= ItemCount; storage at least doubles when it grows (from 1000 entries)
//      and halves only when less than a quarter of it is used, so that inserting and deleting
//      rarely reallocates.
//   4. The chain from LRUHead holds exactly the listed pages, in ascending stamp order.
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
  // Drops the first N pages in page-number order (a commit's written prefix) in one move.
  void DeleteFirst(int32_t N);
  // Count 0, storage kept.
  void Clear();
  // Gives the page the next stamp; 20167 "Page not found" when it is not listed.
  void UpdateLRU(TVLTPage* Page);

  // LRU walk: FirstByLRU is the least recently used page; each NextByLRU is the next one in
  // stamp order (the smallest stamp above that of the page found last), nullptr at the end.
  // Deleting or using the page found last during the walk is allowed.
  TVLTPage* FirstByLRU();
  TVLTPage* NextByLRU();

  // Checks invariants 1, 2 and 4; 20980 when one is broken.
  void CheckInvariants() const;

 private:
  // Index of Key when present (Found true), else the index it would be inserted at.
  int32_t Search(TVLTPageNo Key, bool& Found) const;
  void LinkAtTail(TVLTPage* Page);
  void Unlink(TVLTPage* Page);
  // Rebuilds the chain from the listed pages' stamps (after a bulk removal).
  void RelinkByStamps();

  std::vector<TVLTPageNo> KeyItems;
  int32_t ItemCount = 0;
  int32_t AllocBy = 1000;
  int32_t deAllocBy = 1000;
  int32_t AllocItemCount = 0;
  int64_t LRUCount = 0;
  TVLTPage* LRUHead = nullptr;
  TVLTPage* LRUTail = nullptr;
  // The page NextByLRU answers; nullptr past the end of a walk (a page chained later is next).
  TVLTPage* LRUNext = nullptr;
  bool LRUWalking = false;
  std::vector<TVLTPageElement> ValueItems;
};

}  // namespace vlt
