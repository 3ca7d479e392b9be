#include "engine/core/VLTPageList.h"

#include <algorithm>
#include <numeric>

#include "engine/core/VLTExcept.h"
#include "engine/core/VLTPage.h"

namespace vlt {

TVLTSortedPageList::TVLTSortedPageList(int32_t Size) {
  SetSize(Size);
}

void TVLTSortedPageList::Account(int32_t NewCount) {
  // The account grows geometrically and shrinks only when three quarters of it are unused, to
  // half its size: a list whose count moves up and down around one size never regrows (an
  // exact shrink followed by a regrowth of many zero-filled entries cost more than the list
  // work).
  if (NewCount > AllocItemCount) {
    AllocItemCount = std::max({NewCount, AllocItemCount * 2, AllocBy});
  } else if (NewCount < AllocItemCount / 4 && AllocItemCount / 2 >= deAllocBy) {
    AllocItemCount /= 2;
  }
  ItemCount = NewCount;
}

void TVLTSortedPageList::SetSize(int32_t NewSize) {
  if (NewSize <= 0) {
    Blocks.clear();
    Blocks.shrink_to_fit();
    StartsValid = false;
    ForgetFound();
    AllocItemCount = 0;
    ItemCount = 0;
    LRUHead = LRUTail = LRUNext = nullptr;
    return;
  }
  while (ItemCount > NewSize) {
    TBlock& B = Blocks.back();
    if (TVLTPage* Page = B.Values.back().Page) Unlink(Page);
    EraseAt(Blocks.size() - 1, static_cast<size_t>(B.Size() - 1));
  }
  while (ItemCount < NewSize) {
    if (Blocks.empty() || Blocks.back().Size() >= kBlockSize) Blocks.emplace_back();
    Blocks.back().Keys.push_back(0);
    Blocks.back().Values.push_back({});
    StartsValid = false;
    ForgetFound();
    ++ItemCount;
  }
  Account(NewSize);
}

TVLTSortedPageList::TWhere TVLTSortedPageList::Search(TVLTPageNo Key) const {
  // The first block whose last key is not below Key (the last block when all are).
  size_t Lo = 0, Hi = Blocks.size() - 1;
  while (Lo < Hi) {
    const size_t Mid = (Lo + Hi) / 2;
    if (Blocks[Mid].Keys.back() < Key)
      Lo = Mid + 1;
    else
      Hi = Mid;
  }
  const std::vector<TVLTPageNo>& K = Blocks[Lo].Keys;
  const auto It = std::lower_bound(K.begin(), K.end(), Key);
  return {Lo, static_cast<size_t>(It - K.begin()), It != K.end() && *It == Key};
}

const TVLTPageElement& TVLTSortedPageList::Element(int32_t I) const {
  if (!StartsValid) {
    Starts.resize(Blocks.size());
    int32_t At = 0;
    for (size_t B = 0; B < Blocks.size(); ++B) {
      Starts[B] = At;
      At += Blocks[B].Size();
    }
    StartsValid = true;
    LastBlock = 0;
  }
  auto Holds = [&](size_t B) {
    return B < Blocks.size() && I >= Starts[B] && I < Starts[B] + Blocks[B].Size();
  };
  if (!Holds(LastBlock)) {
    if (Holds(LastBlock + 1)) {
      ++LastBlock;
    } else {
      const auto It = std::upper_bound(Starts.begin(), Starts.end(), I);
      LastBlock = static_cast<size_t>(It - Starts.begin()) - 1;
    }
  }
  return Blocks[LastBlock].Values[static_cast<size_t>(I - Starts[LastBlock])];
}

void TVLTSortedPageList::InsertAt(size_t Block, size_t Pos, TVLTPageNo Key,
                                  const TVLTPageElement& Value) {
  if (Blocks.empty()) Blocks.emplace_back();
  TBlock& B = Blocks[Block];
  B.Keys.insert(B.Keys.begin() + static_cast<std::ptrdiff_t>(Pos), Key);
  B.Values.insert(B.Values.begin() + static_cast<std::ptrdiff_t>(Pos), Value);
  if (B.Size() > kBlockSize) {
    // Split in halves: the upper one becomes the next block.
    TBlock Upper;
    const auto Half = static_cast<std::ptrdiff_t>(B.Size() / 2);
    Upper.Keys.assign(B.Keys.begin() + Half, B.Keys.end());
    Upper.Values.assign(B.Values.begin() + Half, B.Values.end());
    B.Keys.resize(static_cast<size_t>(Half));
    B.Values.resize(static_cast<size_t>(Half));
    Blocks.insert(Blocks.begin() + static_cast<std::ptrdiff_t>(Block) + 1, std::move(Upper));
  }
  StartsValid = false;
  ForgetFound();
}

void TVLTSortedPageList::EraseAt(size_t Block, size_t Pos) {
  TBlock& B = Blocks[Block];
  B.Keys.erase(B.Keys.begin() + static_cast<std::ptrdiff_t>(Pos));
  B.Values.erase(B.Values.begin() + static_cast<std::ptrdiff_t>(Pos));
  if (B.Keys.empty()) {
    Blocks.erase(Blocks.begin() + static_cast<std::ptrdiff_t>(Block));
  } else if (B.Size() < kBlockSize / 4 && Block + 1 < Blocks.size() &&
             B.Size() + Blocks[Block + 1].Size() <= kBlockSize / 2) {
    TBlock& N = Blocks[Block + 1];
    B.Keys.insert(B.Keys.end(), N.Keys.begin(), N.Keys.end());
    B.Values.insert(B.Values.end(), N.Values.begin(), N.Values.end());
    Blocks.erase(Blocks.begin() + static_cast<std::ptrdiff_t>(Block) + 1);
  }
  --ItemCount;
  StartsValid = false;
  ForgetFound();
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
  TWhere W{0, 0, false};
  if (!Blocks.empty()) W = Search(Page->PageNo());
  if (W.Found) VLTRaiseNilPointer(20980);  // a page number is listed once; callers ensure it
  InsertAt(W.Block, W.Pos, Page->PageNo(), {Page, ++LRUCount});
  Account(ItemCount + 1);
  LinkAtTail(Page);
}

void TVLTSortedPageList::Delete(TVLTPageNo PageNo) {
  if (ItemCount == 0) throw EVLTException(20165, "TSortedPageList.Delete - no elements in array!");
  TWhere W{0, 0, true};
  if (ItemCount > 1) {
    W = Search(PageNo);
    if (!W.Found)
      throw EVLTException(20166,
                          "TSortedPageList.Delete - element not found, key = %d, itemCount = %d",
                          {int64_t{PageNo}, int64_t{ItemCount}});
  }
  if (TVLTPage* Page = Blocks[W.Block].Values[W.Pos].Page) Unlink(Page);
  EraseAt(W.Block, W.Pos);
  Account(ItemCount);
}

void TVLTSortedPageList::DeleteFirst(int32_t N) {
  N = std::clamp(N, 0, ItemCount);
  if (N == 0) return;
  int32_t Left = N;
  size_t Whole = 0;
  while (Whole < Blocks.size() && Blocks[Whole].Size() <= Left) Left -= Blocks[Whole++].Size();
  Blocks.erase(Blocks.begin(), Blocks.begin() + static_cast<std::ptrdiff_t>(Whole));
  if (Left > 0) {
    TBlock& B = Blocks.front();
    B.Keys.erase(B.Keys.begin(), B.Keys.begin() + Left);
    B.Values.erase(B.Values.begin(), B.Values.begin() + Left);
  }
  StartsValid = false;
  ForgetFound();
  // The pages taken off may be chained into another list by now: rebuild from those left.
  Account(ItemCount - N);
  RelinkByStamps();
}

void TVLTSortedPageList::Clear() {
  Blocks.clear();
  StartsValid = false;
  ForgetFound();
  ItemCount = 0;
  LRUHead = LRUTail = LRUNext = nullptr;
}

void TVLTSortedPageList::RelinkByStamps() {
  std::vector<TVLTPageElement> Order;
  Order.reserve(static_cast<size_t>(ItemCount));
  for (const TBlock& B : Blocks) Order.insert(Order.end(), B.Values.begin(), B.Values.end());
  std::sort(Order.begin(), Order.end(), [](const TVLTPageElement& A, const TVLTPageElement& B) {
    return A.LRUCount < B.LRUCount;
  });
  LRUHead = LRUTail = LRUNext = nullptr;
  const bool Walking = LRUWalking;
  LRUWalking = false;
  for (const TVLTPageElement& E : Order)
    if (E.Page) LinkAtTail(E.Page);
  LRUWalking = Walking;
}

TVLTPage* TVLTSortedPageList::Find(TVLTPageNo Key) const {
  if (LastFound && LastFoundKey == Key) return LastFound;
  if (PriorFound && PriorFoundKey == Key) {
    // A scan alternates between a leaf and the record pages it names.
    std::swap(LastFound, PriorFound);
    std::swap(LastFoundKey, PriorFoundKey);
    std::swap(LastFoundAt, PriorFoundAt);
    return LastFound;
  }
  if (Blocks.empty()) return nullptr;
  const TWhere W = Search(Key);
  if (!W.Found) return nullptr;
  if (LastFound) {
    PriorFound = LastFound;
    PriorFoundKey = LastFoundKey;
    PriorFoundAt = LastFoundAt;
  }
  LastFound = Blocks[W.Block].Values[W.Pos].Page;
  LastFoundKey = Key;
  LastFoundAt = W;
  return LastFound;
}

void TVLTSortedPageList::UpdateLRU(TVLTPage* Page) {
  TWhere W{0, 0, false};
  // A page is mostly given back right after Find answered it: its place is known.
  if (LastFound && LastFound == Page && LastFoundKey == Page->PageNo())
    W = LastFoundAt;
  else if (!Blocks.empty())
    W = Search(Page->PageNo());
  if (!W.Found || Blocks[W.Block].Values[W.Pos].Page != Page)
    throw EVLTException(20167, "Page not found");
  Blocks[W.Block].Values[W.Pos].LRUCount = ++LRUCount;
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
    if (++Chained > ItemCount || Blocks.empty()) VLTRaiseNilPointer(20980);
    const TWhere W = Search(P->PageNo());
    if (!W.Found || Blocks[W.Block].Values[W.Pos].Page != P) VLTRaiseNilPointer(20980);
    const int64_t Stamp = Blocks[W.Block].Values[W.Pos].LRUCount;
    if (Stamp <= Last) VLTRaiseNilPointer(20980);
    Last = Stamp;
  }
  if (Chained != ItemCount) VLTRaiseNilPointer(20980);
  int32_t Listed = 0;
  bool First = true;
  TVLTPageNo Prev = 0;
  for (const TBlock& B : Blocks) {
    if (B.Keys.empty() || B.Keys.size() != B.Values.size()) VLTRaiseNilPointer(20980);
    for (size_t I = 0; I < B.Keys.size(); ++I) {
      if ((!First && Prev >= B.Keys[I]) || !B.Values[I].Page ||
          B.Values[I].Page->PageNo() != B.Keys[I])
        VLTRaiseNilPointer(20980);
      Prev = B.Keys[I];
      First = false;
      ++Listed;
    }
  }
  if (Listed != ItemCount) VLTRaiseNilPointer(20980);
}

}  // namespace vlt
