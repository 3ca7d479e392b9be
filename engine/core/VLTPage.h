// TVLTPage: one page of a database in memory - its number, its PageSize-byte buffer (the 40-byte
// TVLTDiskPageHeader, then the page data) and its bookkeeping in the page manager.
//
// A page object belongs to exactly one list of its manager at a time (ParentList): the shared
// cache of clean pages or the dirty list of one session. It is created, moved and destroyed only
// by its TVLTPageManager; users obtain it with GetPage/AddPage and give it back with PutPage.
#pragma once

#include <cstdint>
#include <vector>

#include "engine/base/VLTTypes.h"
#include "engine/core/VLTPageHeader.h"

namespace vlt {

class TVLTPageManager;
class TVLTSortedPageList;

// The table state under which a cached page was last known valid for one session.
struct TVLTPageTableStateInfo {
  int32_t TableState = -1;
  bool IsTableStateValueAssigned = false;
};

class TVLTPage {
 public:
  // No buffer, PageNo -1, OwnBuffer true, not dirty, UseCount 0, Reloaded false,
  // EncryptionEnabled true.
  explicit TVLTPage(TVLTPageManager* PageManager);
  ~TVLTPage();  // frees the buffer when OwnBuffer
  TVLTPage(const TVLTPage&) = delete;
  TVLTPage& operator=(const TVLTPage&) = delete;

  // PageSize zeroed bytes with a freshly initialised header. Replaces (and frees, when owned)
  // any buffer held before.
  void AllocPageBuffer();
  // Zeroes PageSize bytes. REQUIRES: a buffer.
  void ClearPageBuffer();
  void FreeAndNilPageBuffer();
  // Writes the header of a newly formatted page (see VLTPageHeader.h). REQUIRES: a buffer.
  void InitHeader();
  // Makes the buffer NewSize bytes, keeping its first PageSize bytes. A nil buffer raises 20038,
  // NewSize below PageSize raises 20039 (the buffer is left as it was). A borrowed buffer is
  // copied into a new owned one. Only PageSize bytes ever reach storage.
  void EnlargePageBuffer(size_t NewSize);
  // Hands the page a buffer it does not own (OwnBuffer false), e.g. a caller's scratch area.
  void SetBorrowedBuffer(uint8_t* Buffer);
  // Hands the page an owned buffer of at least PageSize bytes from the memory manager, contents
  // as they are (a page about to be read over whole). REQUIRES: no buffer yet.
  void AdoptOwnedBuffer(uint8_t* Buffer);
  // Gives up an owned buffer (nullptr for none or a borrowed one); the caller frees it.
  uint8_t* TakeOwnedBuffer();

  // Multi-user disk storage only: compares the State stored in the file with the cached one and
  // rereads the page when they differ. An unreadable State (MaxInt) keeps the cached page.
  // False when the reread failed: the buffer then holds no trustworthy copy.
  bool Synchronize();

  // False when no entry exists for the session.
  bool GetTableState(TVLTSessionID SessionID, int32_t& TableState) const;
  void SetTableState(TVLTSessionID SessionID, int32_t TableState);

  TVLTPageNo PageNo() const { return FPageNo; }
  void SetPageNo(TVLTPageNo PageNo) { FPageNo = PageNo; }
  // Inline (defined in VLTPageManager.h): every entry access of an index or record page asks
  // for them, so a call per access showed in profiles.
  inline uint16_t PageSize() const;
  inline uint16_t PageHeaderSize() const;
  uint8_t* PageBuffer() const { return FPageBuffer; }
  bool OwnBuffer() const { return FOwnBuffer; }
  bool IsDirty() const { return FIsDirty; }
  void SetIsDirty(bool V) { FIsDirty = V; }
  int32_t UseCount() const { return FUseCount; }
  TVLTPageManager* PageManager() const { return LPageManager; }
  TVLTDiskPageHeader* PageHeader() const {
    return reinterpret_cast<TVLTDiskPageHeader*>(FPageBuffer);
  }
  uint8_t* PageData() const { return FPageBuffer ? FPageBuffer + PageHeaderSize() : nullptr; }
  uint16_t PageDataSize() const { return static_cast<uint16_t>(PageSize() - PageHeaderSize()); }
  TVLTSortedPageList* ParentList() const { return FParentList; }
  TVLTSessionID SessionID() const { return FSessionID; }
  bool Reloaded() const { return FReloaded; }
  void SetReloaded(bool V) { FReloaded = V; }
  bool EncryptionEnabled() const { return FEncryptionEnabled; }
  void SetEncryptionEnabled(bool V) { FEncryptionEnabled = V; }

 private:
  friend class TVLTPageManager;
  friend class TVLTSortedPageList;

  TVLTPageManager* LPageManager;
  TVLTPageNo FPageNo = kNoPage;
  uint8_t* FPageBuffer = nullptr;
  bool FOwnBuffer = true;
  bool FIsDirty = false;
  int32_t FUseCount = 0;
  TVLTSortedPageList* FParentList = nullptr;  // nullptr: detached, freed at its last PutPage
  TVLTSessionID FSessionID = kNoSessionID;
  bool FReloaded = false;
  bool FEncryptionEnabled = true;
  bool FDropped = false;  // its page number was freed while somebody still used it
  // The use chain of the list the page is in and its stamp there (see TVLTSortedPageList).
  TVLTPage* FLRUPrev = nullptr;
  TVLTPage* FLRUNext = nullptr;
  int64_t FLRUStamp = 0;
  std::vector<TVLTPageTableStateInfo> FTableStates;  // indexed by session id + 2
};

}  // namespace vlt

// The inline geometry getters above need the whole manager.
#include "engine/core/VLTPageManager.h"  // IWYU pragma: keep
