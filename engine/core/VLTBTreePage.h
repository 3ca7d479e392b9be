// TVLTBTreePage: the layout of one B+tree page (page type ptTableIndex) and the operations on
// its entries.
//
// TableIndex page data (offsets from the start of the page data, after the 40-byte page
// header; integers little-endian):
//
//   OFFSET  SIZE               CONTENT
//   0       1                  IsRoot: 1 on the root page
//   1       1                  IsLeaf: 1 on leaf pages
//   2       4                  LeftPageNo: previous page on the same level, -1 if none
//   6       4                  RightPageNo: next page on the same level, -1 if none
//   10      1                  HasKeys: 1 once initialised as a root (copied to pages split off)
//   11      1                  HasSuffixes: always 0
//   12      2                  KeyPrefixSize: key bytes per entry (the short key size)
//   14      2                  EntryCount
//   16      2                  PagePrefixSize: always 0
//   18+PPS  EntryCount x ES    entries in key order
//
// Entry (ES = KeyPrefixSize + ReferenceSize bytes):
//
//   OFFSET         SIZE           CONTENT
//   0              KeyPrefixSize  short key
//   KeyPrefixSize  4              node pages: page number of the child
//   KeyPrefixSize  R              leaf pages: the key reference's reference (R = 6: record
//                                 identifier; R = 2: 16-bit amount of a page index)
//
// Node entry i leads to child i, which holds the keys from separator i up to separator i + 1;
// the key of node entry 0 is never consulted. A page overflows when
// EntryCount x ES + 18 + PagePrefixSize exceeds the page data size (it may be exactly full),
// and is under half full when EntryCount x ES < (page data size - PagePrefixSize - 18) div 2.
#pragma once

#include <cstdint>

#include "engine/core/VLTBTreeKey.h"
#include "engine/core/VLTPageController.h"
#include "engine/core/VLTPageHandle.h"
#include "engine/core/VLTPageManager.h"

namespace vlt {

constexpr int32_t kBTreeEntriesOffset = 18;  // fixed part of the page data before the entries
constexpr int32_t kBTreeChildRefSize = 4;    // reference size on node pages

class TVLTBTreePage : public TVLTPageController {
 public:
  TVLTBTreePage(TVLTBTreeKeyRef* KeyRef, TVLTPage* Page) : TVLTPageController(Page), LKeyRef(KeyRef) {}

  // IsRoot 0, IsLeaf 0, neighbours -1, HasKeys 0, HasSuffixes 0, sizes and count 0.
  void InitPage();
  // InitPage, then IsRoot 1, IsLeaf 1, HasKeys 1, KeyPrefixSize = short key size.
  void InitRoot();

  bool IsRoot() const { return PageData()[0] != 0; }
  void SetIsRoot(bool V) { PageData()[0] = V ? 1 : 0; }
  bool IsLeaf() const { return PageData()[1] != 0; }
  void SetIsLeaf(bool V) { PageData()[1] = V ? 1 : 0; }
  TVLTPageNo LeftPageNo() const { return LoadLE<int32_t>(PageData() + 2); }
  void SetLeftPageNo(TVLTPageNo V) { StoreLE<int32_t>(PageData() + 2, V); }
  TVLTPageNo RightPageNo() const { return LoadLE<int32_t>(PageData() + 6); }
  void SetRightPageNo(TVLTPageNo V) { StoreLE<int32_t>(PageData() + 6, V); }
  bool HasKeys() const { return PageData()[10] != 0; }
  bool HasSuffixes() const { return PageData()[11] != 0; }
  uint16_t KeyPrefixSize() const { return LoadLE<uint16_t>(PageData() + 12); }
  int32_t EntryCount() const { return LoadLE<uint16_t>(PageData() + 14); }
  void SetEntryCount(int32_t V) { StoreLE<uint16_t>(PageData() + 14, static_cast<uint16_t>(V)); }
  uint16_t PagePrefixSize() const { return LoadLE<uint16_t>(PageData() + 16); }

  int32_t ReferenceSize() const { return IsLeaf() ? LKeyRef->FReferenceSize : kBTreeChildRefSize; }
  int32_t EntrySize() const { return KeyPrefixSize() + ReferenceSize(); }
  int32_t EntriesOffset() const { return kBTreeEntriesOffset + PagePrefixSize(); }
  // Entries that fit in a page of this kind.
  int32_t MaxEntryCount() const { return (PageDataSize() - EntriesOffset()) / EntrySize(); }
  bool IsOverflow() const { return EntryCount() * EntrySize() + EntriesOffset() > PageDataSize(); }
  bool IsUnderHalf() const {
    return EntryCount() * EntrySize() < (PageDataSize() - PagePrefixSize() - kBTreeEntriesOffset) / 2;
  }

  uint8_t* Entry(int32_t I) const { return PageData() + EntriesOffset() + I * EntrySize(); }
  uint8_t* Key(int32_t I) const { return Entry(I); }
  uint8_t* Reference(int32_t I) const { return Entry(I) + KeyPrefixSize(); }
  TVLTPageNo ChildPageNo(int32_t I) const { return LoadLE<int32_t>(Reference(I)); }
  void SetChildPageNo(int32_t I, TVLTPageNo V) { StoreLE<int32_t>(Reference(I), V); }

  // Inserts an entry at position I (0 .. EntryCount), shifting the following ones; the buffer
  // is enlarged by one entry when it has no room. A null Key stores zeros.
  void InsertEntry(int32_t I, const uint8_t* Key, const uint8_t* Reference);
  void DeleteEntry(int32_t I);
  // Appends Count entries copied from another page of the same kind.
  void AppendEntries(const uint8_t* Entries, int32_t Count);
  // Inserts Count entries before the first one.
  void PrependEntries(const uint8_t* Entries, int32_t Count);
  // Keeps the first Count entries.
  void Truncate(int32_t Count) { SetEntryCount(Count); }
  // Copies the fixed header bytes (offsets 0 .. 17) of another page.
  void CopyHeaderFrom(const TVLTBTreePage& Other);

  // Validates the fixed header read from storage: 20302 "Index page is damaged" when the key
  // size, the counts or the reference size cannot belong to this tree.
  void CheckHeader() const;

  TVLTBTreeKeyRef* KeyRef() const { return LKeyRef; }

 private:
  TVLTBTreeKeyRef* LKeyRef;
};

// A B-tree view of a page held by a TVLTPageHandle: put back on every path.
class TVLTBTreePageGuard {
 public:
  TVLTBTreePageGuard(TVLTPageManager* Manager, TVLTPage* Page, TVLTBTreeKeyRef* KeyRef)
      : FHandle(*Manager, Page), FPage(KeyRef, Page) {}
  TVLTBTreePageGuard(const TVLTBTreePageGuard&) = delete;
  TVLTBTreePageGuard& operator=(const TVLTBTreePageGuard&) = delete;

  TVLTBTreePage* operator->() { return &FPage; }
  TVLTBTreePage& operator*() { return FPage; }
  // Marks the page changed (it is written at the session's commit).
  void Dirty() { FPage.SetIsDirty(true); }
  // Puts the page back now.
  void Release() {
    FHandle.Release();
    FPage.SetPage(nullptr);
  }

 private:
  TVLTPageHandle FHandle;
  TVLTBTreePage FPage;
};

}  // namespace vlt
