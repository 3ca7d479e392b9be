#include "engine/core/VLTPageList.h"

#include <algorithm>
#include <bit>
#include <numeric>

#include "engine/base/VLTExcept.h"
#include "engine/core/VLTPage.h"

namespace vlt {

// ---- TVLTPageNoIndex ----

void TVLTPageNoIndex::Rehash(size_t Capacity) {
  std::vector<TSlot> Old = std::move(FSlots);
  FSlots.assign(Capacity, TSlot{});
  FMask = Capacity - 1;
  FShift = 64 - std::countr_zero(Capacity);
  FCount = 0;
  for (const TSlot& S : Old)
    if (S.Page) Insert(S.Key, S.Page);
}

void TVLTPageNoIndex::Insert(TVLTPageNo Key, TVLTPage* Page) {
  if ((FCount + 1) * 2 > FSlots.size()) Rehash(std::max<size_t>(16, FSlots.size() * 2));
  size_t I = Home(Key);
  while (FSlots[I].Page) I = (I + 1) & FMask;
  FSlots[I] = {Key, Page};
  ++FCount;
}

void TVLTPageNoIndex::Erase(TVLTPageNo Key) {
  if (FCount == 0) return;
  size_t I = Home(Key);
  for (;; I = (I + 1) & FMask) {
    if (!FSlots[I].Page) return;
    if (FSlots[I].Key == Key) break;
  }
  // Backward shift: an entry further along the run moves into the hole unless its home lies
  // cyclically after the hole (then it would no longer be found from its home).
  for (size_t J = I;;) {
    FSlots[I].Page = nullptr;
    for (;;) {
      J = (J + 1) & FMask;
      if (!FSlots[J].Page) {
        --FCount;
        return;
      }
      const size_t H = Home(FSlots[J].Key);
      const bool Stays = I <= J ? (I < H && H <= J) : (I < H || H <= J);
      if (!Stays) break;
    }
    FSlots[I] = FSlots[J];
    I = J;
  }
}

void TVLTPageNoIndex::Clear() {
  FSlots.clear();
  FSlots.shrink_to_fit();
  FMask = 0;
  FShift = 64;
  FCount = 0;
}

void TVLTPageNoIndex::Fit() {
  size_t Capacity = 16;
  while (Capacity < FCount * 2) Capacity *= 2;
  if (FCount == 0)
    Clear();
  else if (Capacity < FSlots.size())
    Rehash(Capacity);
}

// ---- TVLTSortedPageList ----

TVLTSortedPageList::TVLTSortedPageList(int32_t Size) {
  SetSize(Size);
}

int64_t TVLTSortedPageList::PageStamp(const TVLTPage* Page) {
  return Page->FLRUStamp;
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
    Index.Clear();
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
  if (Value.Page) Index.Insert(Key, Value.Page);
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
  if (TVLTPage* P = B.Values[Pos].Page; P && Index.Find(B.Keys[Pos]) == P) Index.Erase(B.Keys[Pos]);
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
  InsertAt(W.Block, W.Pos, Page->PageNo(), {Page});
  Page->FLRUStamp = ++LRUCount;
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
  for (const TBlock& B : Blocks) {
    for (size_t I = 0; I < B.Keys.size() && Left > 0; ++I, --Left)
      if (B.Values[I].Page && Index.Find(B.Keys[I]) == B.Values[I].Page) Index.Erase(B.Keys[I]);
    if (Left == 0) break;
  }
  Index.Fit();
  Left = N;
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
  Index.Clear();
  StartsValid = false;
  ForgetFound();
  ItemCount = 0;
  LRUHead = LRUTail = LRUNext = nullptr;
}

void TVLTSortedPageList::RelinkByStamps() {
  std::vector<TVLTPageElement> Order;
  Order.reserve(static_cast<size_t>(ItemCount));
  for (const TBlock& B : Blocks)
    for (const TVLTPageElement& E : B.Values)
      if (E.Page) Order.push_back(E);
  std::sort(Order.begin(), Order.end(), [](const TVLTPageElement& A, const TVLTPageElement& B) {
    return PageStamp(A.Page) < PageStamp(B.Page);
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
    return LastFound;
  }
  TVLTPage* Page = Index.Find(Key);
  if (!Page) return nullptr;
  if (LastFound) {
    PriorFound = LastFound;
    PriorFoundKey = LastFoundKey;
  }
  LastFound = Page;
  LastFoundKey = Key;
  return LastFound;
}

void TVLTSortedPageList::UpdateLRU(TVLTPage* Page) {
  if (!Page || Index.Find(Page->PageNo()) != Page) throw EVLTException(20167, "Page not found");
  Page->FLRUStamp = ++LRUCount;
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
    const int64_t Stamp = P->FLRUStamp;
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
  // Every entry holds a page (checked above), so the index holds exactly one per entry.
  for (const TBlock& B : Blocks)
    for (size_t I = 0; I < B.Keys.size(); ++I)
      if (Index.Find(B.Keys[I]) != B.Values[I].Page) VLTRaiseNilPointer(20980);
  if (Index.Count() != static_cast<size_t>(ItemCount)) VLTRaiseNilPointer(20980);
}

}  // namespace vlt
