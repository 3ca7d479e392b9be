// TVLTSortedPageList: pages sorted by page number, each with an LRU stamp. It is the shape of both
// the shared page cache and a session's dirty list. The list does not own its pages; their
// manager does. A page is in at most one list at a time (its ParentList).
//
// Two orders over the same pages: sorted blocks answer by page number, and a doubly linked
// chain through the pages themselves answers by use (least recently used at its head), so that
// eviction never walks the list. The blocks hold at most kBlockSize entries each: an insert or
// delete moves entries within one block (and block handles, a few hundred at most for the
// largest lists), never the whole list, so that a list of 100,000 pages grows at any position
// at the cost of a small one. A hash index beside the blocks answers Find and UpdateLRU without
// a search (the binary search over a session's tens of thousands of pages was a tenth of an
// insert's time); each page carries its own stamp.
//
// Invariants:
//   1. Entries, block by block, are strictly ascending; no block is empty; each entry's key is
//      its page's number. ItemCount is the sum of the block sizes.
//   2. Every stamp is unique: each Insert and UpdateLRU hands out LRUCount + 1.
//   3. AllocItemCount, the entries the list accounts storage for, is >= ItemCount; it at least
//      doubles when it grows (from 1000 entries) and halves only when less than a quarter of
//      it is used, so that a count moving around one size never regrows.
//   4. The chain from LRUHead holds exactly the listed pages, in ascending stamp order.
//   5. The index maps the number of every listed page to the page, and holds nothing else.
#pragma once

#include <cstdint>
#include <utility>
#include <vector>

#include "engine/base/VLTTypes.h"

namespace vlt {

class TVLTPage;

struct TVLTPageElement {
  TVLTPage* Page = nullptr;
};

// Page number -> page: open addressing with linear probing over a power-of-two table at most
// half full; an erase moves the rest of its run back, so no tombstones pile up.
class TVLTPageNoIndex {
 public:
  TVLTPage* Find(TVLTPageNo Key) const {
    if (FCount == 0) return nullptr;
    for (size_t I = Home(Key);; I = (I + 1) & FMask) {
      const TSlot& S = FSlots[I];
      if (!S.Page) return nullptr;
      if (S.Key == Key) return S.Page;
    }
  }
  // REQUIRES: Key absent, Page not nullptr.
  void Insert(TVLTPageNo Key, TVLTPage* Page);
  // Nothing when absent.
  void Erase(TVLTPageNo Key);
  // Empties the table; its storage goes back down to the smallest size.
  void Clear();
  // Rehashes into the smallest table that keeps it at most half full (after bulk removals).
  void Fit();
  size_t Count() const { return FCount; }

 private:
  struct TSlot {
    TVLTPageNo Key = 0;
    TVLTPage* Page = nullptr;  // nullptr: empty
  };
  size_t Home(TVLTPageNo Key) const {
    return static_cast<size_t>((uint64_t{static_cast<uint32_t>(Key)} * 0x9E3779B97F4A7C15ull) >>
                               FShift);
  }
  void Rehash(size_t Capacity);

  std::vector<TSlot> FSlots;
  size_t FMask = 0;
  int FShift = 64;
  size_t FCount = 0;
};

class TVLTSortedPageList {
 public:
  explicit TVLTSortedPageList(int32_t Size = 0);

  static constexpr int32_t kBlockSize = 512;

  int32_t Count() const { return ItemCount; }
  // By position in page-number order; walking I upwards costs O(1) a step.
  TVLTPage* Items(int32_t I) const { return Element(I).Page; }
  int64_t LRUStamp(int32_t I) const {
    const TVLTPage* P = Element(I).Page;
    return P ? PageStamp(P) : 0;
  }
  int32_t AllocatedCount() const { return AllocItemCount; }

  // 0 clears everything including the storage; see invariant 3 for the steps. A larger count
  // appends empty entries, a smaller one drops the last ones.
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

  // Checks invariants 1, 2, 4 and 5; 20980 when one is broken.
  void CheckInvariants() const;

 private:
  struct TBlock {
    std::vector<TVLTPageNo> Keys;
    std::vector<TVLTPageElement> Values;
    int32_t Size() const { return static_cast<int32_t>(Keys.size()); }
  };
  struct TWhere {
    size_t Block;
    size_t Pos;  // within the block
    bool Found;
  };

  // Where Key is (Found) or would be inserted. REQUIRES: at least one block.
  TWhere Search(TVLTPageNo Key) const;
  const TVLTPageElement& Element(int32_t I) const;
  TVLTPageElement& Element(int32_t I) {
    return const_cast<TVLTPageElement&>(std::as_const(*this).Element(I));
  }
  // Removes the entry (block emptied: dropped; small: merged with its right neighbour).
  void EraseAt(size_t Block, size_t Pos);
  void InsertAt(size_t Block, size_t Pos, TVLTPageNo Key, const TVLTPageElement& Value);
  // Applies invariant 3 to the new count.
  void Account(int32_t NewCount);
  static int64_t PageStamp(const TVLTPage* Page);
  void LinkAtTail(TVLTPage* Page);
  void Unlink(TVLTPage* Page);
  // Rebuilds the chain from the listed pages' stamps (after a bulk removal).
  void RelinkByStamps();

  std::vector<TBlock> Blocks;
  // First position of each block, rebuilt on demand after the sizes changed.
  mutable std::vector<int32_t> Starts;
  mutable bool StartsValid = false;
  mutable size_t LastBlock = 0;  // the block Element answered last
  TVLTPageNoIndex Index;
  // The two pages Find answered last (scans ask for one leaf and one record page many times in
  // a row); both nullptr after any change of the entries.
  mutable TVLTPage* LastFound = nullptr;
  mutable TVLTPageNo LastFoundKey = 0;
  mutable TVLTPage* PriorFound = nullptr;
  mutable TVLTPageNo PriorFoundKey = 0;
  void ForgetFound() const { LastFound = PriorFound = nullptr; }
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
};

}  // namespace vlt
