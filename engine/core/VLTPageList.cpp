#include "engine/core/VLTPageList.h"

#include <algorithm>
#include <numeric>

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
    LRUHead = LRUTail = LRUNext = nullptr;
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

void TVLTSortedPageList::LinkAtTail(TVLTPage* Page) {
  Page->FLRUPrev = LRUTail;
  Page->FLRUNext = nullptr;
  (LRUTail ? LRUTail->FLRUNext : LRUHead) = Page;
  LRUTail = Page;
  // A walk that had reached its end goes on with the page used last.
  if (LRUWalking && !LRUNext) LRUNext = Page;
}

void TVLTSortedPageList::Unlink(TVLTPage* Page) {
  if (LRUNext == Page) LRUNext = Page->FLRUNext;
  (Page->FLRUPrev ? Page->FLRUPrev->FLRUNext : LRUHead) = Page->FLRUNext;
  (Page->FLRUNext ? Page->FLRUNext->FLRUPrev : LRUTail) = Page->FLRUPrev;
  Page->FLRUPrev = Page->FLRUNext = nullptr;
}

void TVLTSortedPageList::Insert(TVLTPage* Page) {
  bool Found;
  const int32_t Pos = Search(Page->PageNo(), Found);
  if (Found) VLTRaiseNilPointer(20980);  // a page number is listed once; callers ensure it
  const int32_t Old = ItemCount;
  SetSize(Old + 1);
  const auto P = static_cast<size_t>(Pos), E = static_cast<size_t>(Old);
  std::copy_backward(KeyItems.begin() + P, KeyItems.begin() + E, KeyItems.begin() + E + 1);
  std::copy_backward(ValueItems.begin() + P, ValueItems.begin() + E, ValueItems.begin() + E + 1);
  KeyItems[P] = Page->PageNo();
  ValueItems[P] = {Page, ++LRUCount};
  LinkAtTail(Page);
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
  const auto P = static_cast<size_t>(Pos), E = static_cast<size_t>(ItemCount);
  if (TVLTPage* Page = ValueItems[P].Page) Unlink(Page);
  std::copy(KeyItems.begin() + P + 1, KeyItems.begin() + E, KeyItems.begin() + P);
  std::copy(ValueItems.begin() + P + 1, ValueItems.begin() + E, ValueItems.begin() + P);
  SetSize(ItemCount - 1);
}

void TVLTSortedPageList::DeleteFirst(int32_t N) {
  N = std::clamp(N, 0, ItemCount);
  if (N == 0) return;
  const auto C = static_cast<size_t>(N), E = static_cast<size_t>(ItemCount);
  std::copy(KeyItems.begin() + C, KeyItems.begin() + E, KeyItems.begin());
  std::copy(ValueItems.begin() + C, ValueItems.begin() + E, ValueItems.begin());
  // The pages taken off may be chained into another list by now: rebuild from those left.
  SetSize(ItemCount - N);
  RelinkByStamps();
}

void TVLTSortedPageList::Clear() {
  ItemCount = 0;
  LRUHead = LRUTail = LRUNext = nullptr;
}

void TVLTSortedPageList::RelinkByStamps() {
  std::vector<int32_t> Order(static_cast<size_t>(ItemCount));
  std::iota(Order.begin(), Order.end(), 0);
  std::sort(Order.begin(), Order.end(), [&](int32_t A, int32_t B) {
    return ValueItems[static_cast<size_t>(A)].LRUCount < ValueItems[static_cast<size_t>(B)].LRUCount;
  });
  LRUHead = LRUTail = LRUNext = nullptr;
  const bool Walking = LRUWalking;
  LRUWalking = false;
  for (int32_t I : Order) LinkAtTail(ValueItems[static_cast<size_t>(I)].Page);
  LRUWalking = Walking;
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
  Unlink(Page);
  LinkAtTail(Page);
}

TVLTPage* TVLTSortedPageList::FirstByLRU() {
  LRUWalking = true;
  LRUNext = LRUHead;
  return NextByLRU();
}

TVLTPage* TVLTSortedPageList::NextByLRU() {
  TVLTPage* Found = LRUNext;
  if (Found) LRUNext = Found->FLRUNext;
  return Found;
}

void TVLTSortedPageList::CheckInvariants() const {
  int32_t Chained = 0;
  int64_t Last = 0;
  for (const TVLTPage* P = LRUHead; P; P = P->FLRUNext) {
    if (++Chained > ItemCount) VLTRaiseNilPointer(20980);
    bool Found;
    const int32_t Pos = Search(P->PageNo(), Found);
    if (!Found || ValueItems[static_cast<size_t>(Pos)].Page != P) VLTRaiseNilPointer(20980);
    const int64_t Stamp = ValueItems[static_cast<size_t>(Pos)].LRUCount;
    if (Stamp <= Last) VLTRaiseNilPointer(20980);
    Last = Stamp;
  }
  if (Chained != ItemCount) VLTRaiseNilPointer(20980);
  for (int32_t I = 1; I < ItemCount; ++I)
    if (KeyItems[static_cast<size_t>(I - 1)] >= KeyItems[static_cast<size_t>(I)])
      VLTRaiseNilPointer(20980);
}

}  // namespace vlt
