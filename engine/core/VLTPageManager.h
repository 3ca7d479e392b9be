// TVLTPageManager: the storage-independent page manager. It keeps one shared cache of clean
// pages for all sessions, a private list of changed (dirty) pages per session, and the page
// numbers each session added or removed since its last commit. Subclasses supply the four
// physical operations (allocate, free, read, write a page): the single-file disk engine in
// TVLTDiskPageManager, the in-memory and temporary engines in their own classes.
//
// Invariants:
//   1. A page object is in exactly one list at a time - the shared cache or the dirty list of
//      one session - and that list is its ParentList. (A cached copy superseded while somebody
//      still used it is detached - ParentList nullptr - and freed at its last PutPage; its
//      changes then join its session's dirty list, unless its page number was freed meanwhile.)
//   2. A page released dirty never stays in the shared cache: it moves to the dirty list of the
//      session that released it, and reaches storage only when that session commits.
//   3. A page with UseCount > 0 belongs to the session in its SessionID; no other session gets it.
//   4. Page numbers added by a session are allocated in storage at AddPage and given back at
//      CancelChanges; page numbers removed by a session are freed in storage only at commit.
//   5. The shared cache holds at most FCacheCapacity pages nobody uses (pages in use may push it
//      above; each release evicts least recently used pages until it is within capacity).
//   6. Session id -1 is invalid; -2 is the system session for the database's own structures.
//   7. A page read from storage enters the shared cache only once its read and checks passed,
//      and leaves it when a reread fails: no cached copy is ever half-read.
//
// Calling order: every GetPage/AddPage is matched by exactly one PutPage before the session
// commits or cancels; a caller that changed the buffer sets IsDirty before PutPage. The manager
// is used by one thread at a time (its owner serialises sessions); FCSect is offered to that
// owner but never entered here.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <unordered_set>
#include <vector>

#include "engine/base/VLTIntegerArray.h"
#include "engine/core/VLTPage.h"
#include "engine/core/VLTPageList.h"

namespace vlt {

struct TVLTSessionPageInfo {
  TVLTSessionID SessionID = kNoSessionID;
  TVLTSortedPageList DirtyPages;
  TVLTIntegerArray AddedPageNumbers;
  TVLTIntegerArray RemovedPageNumbers;
  // The numbers of RemovedPageNumbers, for the membership test of every RemovePage.
  std::unordered_set<TVLTPageNo> RemovedSet;
};

class TVLTPageManager {
 public:
  // FCacheCapacity = min(free physical memory / 65536, 1000); MultiUser and IgnoreCRCErrors false.
  TVLTPageManager();
  // Frees every list and page object. Owners call CheckNoUncommittedPages first: a destructor
  // cannot report the error.
  virtual ~TVLTPageManager();
  // 20097 "Cannot free non-committed pages" when some session still has dirty pages.
  void CheckNoUncommittedPages() const;
  TVLTPageManager(const TVLTPageManager&) = delete;
  TVLTPageManager& operator=(const TVLTPageManager&) = delete;

  virtual int32_t PageCount();
  // Multi-user page-trust hooks and stream persistence of in-memory engines.
  virtual bool IsPageTableStateCurrent(TVLTSessionID SessionID, TVLTPage* Page);
  virtual void SavePageTableState(TVLTSessionID SessionID, TVLTPage* Page);

  // Records PageNo to be freed at the session's commit (once, however often asked).
  virtual void RemovePage(TVLTSessionID SessionID, TVLTPageNo PageNo);
  // The page, in use by the session. PageType 255 (ptAny) accepts any type.
  virtual TVLTPage* GetPage(TVLTSessionID SessionID, TVLTPageNo PageNo, uint16_t PageType,
                            bool SynchronizeAllowed = true);
  // Frees the removed pages and writes the dirty ones. A failure leaves what was done
  // done and the rest pending, so that the commit can be retried or cancelled.
  virtual void ApplyChanges(TVLTSessionID SessionID);

  // A new page for the session, in use and dirty, its header typed PageType.
  TVLTPage* AddPage(TVLTSessionID SessionID, uint16_t PageType);
  void PutPage(TVLTPage* Page);
  // Drops the session's dirty pages and gives back the pages it added.
  void CancelChanges(TVLTSessionID SessionID);

  uint16_t PageSize() const { return FPageSize; }
  uint16_t PageHeaderSize() const { return FPageHeaderSize; }
  uint16_t PageDataSize() const { return FPageDataSize; }
  bool MultiUser() const { return FMultiUser; }
  void SetMultiUser(bool V) { FMultiUser = V; }
  bool IgnoreCRCErrors() const { return FIgnoreCRCErrors; }
  void SetIgnoreCRCErrors(bool V) { FIgnoreCRCErrors = V; }
  int32_t CacheCapacity() const { return FCacheCapacity; }
  void SetCacheCapacity(int32_t V) { FCacheCapacity = V; }
  std::recursive_mutex& CSect() { return FCSect; }
  // Counts the events that may give a page other bytes than its users last saw without a
  // change through them: a session's changes cancelled, the cache dropped. Whoever remembers
  // a position in pages compares it.
  uint64_t ChangeEpoch() const { return FChangeEpoch; }

  // Introspection for tests and tools.
  const TVLTSortedPageList& SharedPages() const { return FSharedPages; }
  // nullptr when the session was never seen.
  const TVLTSessionPageInfo* SessionInfo(TVLTSessionID SessionID) const;
  // True when the session has something to commit.
  bool HasChanges(TVLTSessionID SessionID) const;
  // The pages the session changed and has not committed yet (0 for a session never seen).
  int32_t ChangedPageCount(TVLTSessionID SessionID) const;
  // Verifies invariants 1-3 over every list (a debug aid for tests and tools); raises
  // "Nil pointer occured" (20981) at the first violation.
  void CheckInvariants() const;

 protected:
  friend class TVLTPage;

  // The physical operations.
  // Gives the page a free page number and a formatted buffer.
  virtual void InternalAddPage(TVLTPage* Page) = 0;
  // Returns the page number to free space.
  virtual void InternalRemovePage(TVLTPageNo PageNo) = 0;
  // Fills the buffer from storage; false when the read failed.
  virtual bool InternalReadPage(TVLTPage* Page) = 0;
  // Stores the buffer.
  virtual void InternalWritePage(TVLTPage* Page) = 0;
  // State stored for the page (multi-user storage); MaxInt when unknown.
  virtual int32_t InternalReadPageState(TVLTPageNo PageNo);

  void SetPageSize(uint16_t PageSize, uint16_t PageHeaderSize);
  // The buffer of a page freed a moment ago, for a page about to be read over whole (nullptr
  // when none is kept): a scan through more pages than the cache holds then neither allocates,
  // zeroes nor frees a buffer for every page it reads.
  uint8_t* TakeSpareBuffer();
  TVLTSessionPageInfo& SessionEntry(TVLTSessionID SessionID);
  // The page-level commit of ApplyChanges without its checks; subclasses wrap it.
  void DoApplyChanges(TVLTSessionPageInfo& Info);
  // 20085 / 20086 when a page of the dirty list is not dirty or still in use.
  void CheckDirtyPages(const TVLTSessionPageInfo& Info) const;
  // Frees every cached page nobody uses (the file behind them is going away).
  void DropCachedPages();
  // 20152 when a cached page of the session is still in use.
  void CheckSessionPagesReleased(TVLTSessionID SessionID) const;

  std::recursive_mutex FCSect;
  int32_t FCacheCapacity;
  TVLTSortedPageList FSharedPages;
  std::map<TVLTSessionID, std::unique_ptr<TVLTSessionPageInfo>> FSessions;
  uint16_t FPageSize = 0;
  uint16_t FPageHeaderSize = 0;
  uint16_t FPageDataSize = 0;
  int32_t FPageCount = 0;
  bool FMultiUser = false;
  bool FIgnoreCRCErrors = false;
  uint64_t FChangeEpoch = 0;

 private:
  std::unordered_set<TVLTPage*> FDetachedPages;  // superseded copies still in use
  // Owned buffers of freed pages, each at least PageSize bytes (see TakeSpareBuffer).
  static constexpr size_t kMaxSpareBuffers = 4;
  std::vector<uint8_t*> FSpareBuffers;

  // Frees a page object nobody uses, keeping its buffer for the next read when there is room.
  void FreePage(TVLTPage* Page);
  void FreeSpareBuffers();

  // Frees a page object nobody uses, or detaches one still in use (freed at its last PutPage).
  void DisposePage(TVLTPage* Page, bool Dropped = false);
  // Evicts least recently used unused pages while the cache is above capacity.
  void TrimCache();
  // Puts a page that was just committed into the shared cache (superseding any older copy), or
  // frees it when the cache is full.
  void CacheCommittedPage(TVLTPage* Page);
};

inline uint16_t TVLTPage::PageSize() const {
  return LPageManager->PageSize();
}
inline uint16_t TVLTPage::PageHeaderSize() const {
  return LPageManager->PageHeaderSize();
}

}  // namespace vlt
