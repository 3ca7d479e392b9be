#include "engine/core/VLTPageList.h"

#include <algorithm>
#include <limits>

#include "engine/core/VLTExcept.h"
#include "engine/core/VLTPage.h"

namespace vlt {

TVLTSortedPageList::TVLTSortedPageList(int32_t Size) {
  SetSize(Size);
  ItemCount = 0;
}

void TVLTSortedPageList::SetSize(int32_t NewSize) {
  if (NewSize <= 0) {
    KeyItems.clear();
    KeyItems.shrink_to_fit();
    ValueItems.clear();
    ValueItems.shrink_to_fit();
    AllocItemCount = 0;
    ItemCount = 0;
    return;
  }
  // Storage grows geometrically and shrinks only when three quarters of it are unused, to half
  // its size: a list whose count moves up and down around one size never reallocates (an exact
  // shrink followed by a regrowth of many zero-filled entries cost more than the list work).
  if (NewSize > AllocItemCount) {
    AllocItemCount = std::max({NewSize, AllocItemCount * 2, AllocBy});
    KeyItems.resize(static_cast<size_t>(AllocItemCount));
    ValueItems.resize(static_cast<size_t>(AllocItemCount));
  } else if (NewSize < AllocItemCount / 4 && AllocItemCount / 2 >= deAllocBy) {
    AllocItemCount /= 2;
    KeyItems.resize(static_cast<size_t>(AllocItemCount));
    ValueItems.resize(static_cast<size_t>(AllocItemCount));
    KeyItems.shrink_to_fit();
    ValueItems.shrink_to_fit();
  }
  ItemCount = NewSize;
}

int32_t TVLTSortedPageList::Search(TVLTPageNo Key, bool& Found) const {
  auto Begin = KeyItems.begin(), End = KeyItems.begin() + ItemCount;
  auto It = std::lower_bound(Begin, End, Key);
  Found = It != End && *It == Key;
  return static_cast<int32_t>(It - Begin);
}

void TVLTSortedPageList::Insert(TVLTPage* Page) {
  bool Found;
  int32_t Pos = Search(Page->PageNo(), Found);
  if (Found) VLTRaiseNilPointer(20980);  // a page number is listed once; callers ensure it
  int32_t Old = ItemCount;
  SetSize(Old + 1);
  for (int32_t I = Old; I > Pos; --I) {
    KeyItems[static_cast<size_t>(I)] = KeyItems[static_cast<size_t>(I - 1)];
    ValueItems[static_cast<size_t>(I)] = ValueItems[static_cast<size_t>(I - 1)];
  }
  KeyItems[static_cast<size_t>(Pos)] = Page->PageNo();
  ValueItems[static_cast<size_t>(Pos)] = {Page, ++LRUCount};
}

void TVLTSortedPageList::Delete(TVLTPageNo PageNo) {
  if (ItemCount == 0) throw EVLTException(20165, "TSortedPageList.Delete - no elements in array!");
  int32_t Pos = 0;
  if (ItemCount > 1) {
    bool Found;
    Pos = Search(PageNo, Found);
    if (!Found)
      throw EVLTException(20166,
                          "TSortedPageList.Delete - element not found, key = %d, itemCount = %d",
                          {int64_t{PageNo}, int64_t{ItemCount}});
  }
  for (int32_t I = Pos; I + 1 < ItemCount; ++I) {
    KeyItems[static_cast<size_t>(I)] = KeyItems[static_cast<size_t>(I + 1)];
    ValueItems[static_cast<size_t>(I)] = ValueItems[static_cast<size_t>(I + 1)];
  }
  SetSize(ItemCount - 1);
}

TVLTPage* TVLTSortedPageList::Find(TVLTPageNo Key) const {
  bool Found;
  int32_t Pos = Search(Key, Found);
  return Found ? ValueItems[static_cast<size_t>(Pos)].Page : nullptr;
}

void TVLTSortedPageList::UpdateLRU(TVLTPage* Page) {
  bool Found;
  int32_t Pos = Search(Page->PageNo(), Found);
  if (!Found || ValueItems[static_cast<size_t>(Pos)].Page != Page)
    throw EVLTException(20167, "Page not found");
  ValueItems[static_cast<size_t>(Pos)].LRUCount = ++LRUCount;
}

TVLTPage* TVLTSortedPageList::FirstByLRU() {
  LRULastFound = std::numeric_limits<int64_t>::min();
  return NextByLRU();
}

TVLTPage* TVLTSortedPageList::NextByLRU() {
  // The smallest stamp above the one found last. Stamps are unique, so this walks every page
  // once, least recently used first.
  TVLTPage* Best = nullptr;
  int64_t BestStamp = std::numeric_limits<int64_t>::max();
  for (int32_t I = 0; I < ItemCount; ++I) {
    int64_t S = ValueItems[static_cast<size_t>(I)].LRUCount;
    if (S > LRULastFound && S < BestStamp) {
      BestStamp = S;
      Best = ValueItems[static_cast<size_t>(I)].Page;
    }
  }
  if (Best) LRULastFound = BestStamp;
  return Best;
}

}  // namespace vlt
