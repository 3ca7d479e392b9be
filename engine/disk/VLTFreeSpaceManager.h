// TVLTDatabaseFreeSpaceManager: which page number a new page gets, taking page numbers back, and
// growing and shrinking the file. Its state lives in bitmap pages inside the file, read into
// private page objects and written back at once - outside the page cache and outside any
// session's transaction - under the database header lock, so every process sharing the file
// sees the same allocation state.
//
// Bitmaps (D = PageDataSize, E = PageCountInExtent; extent x = pages x*E .. x*E + E - 1):
//   PFS page k = page k * (D*8); bit b of data byte i is page k*D*8 + i*8 + b: 1 used, 0 free.
//   EAM page k = page k * (D*4*E), or the page after it when that is also a PFS position;
//     bits 2j, 2j+1 of data byte i describe extent k*D*4 + i*4 + j: 3 = every page used,
//     1 = not full, 0 = never updated. Only the full bit 2j+1 is tested.
//   A new bitmap page has data byte 0 = 0x01 and all other data bytes 0.
//
// Invariants:
//   1. Every page below TotalPageCount is either a system page (a bitmap page, PFS bit set), a
//      page handed out and not yet freed (PFS bit set), or free (PFS bit clear). System pages
//      are never handed out.
//   2. LastUsedPageNo is the highest non-system page whose PFS bit is set, -1 when none.
//   3. The file never ends on a system page, so every bitmap page that maps an existing page
//      exists in the file and is formatted before the header counts the pages it maps.
//   4. An EAM full bit is set only when every page of the extent is in use.
//   5. The manager holds no authority of its own: every GetPage and FreePage rereads
//      LastUsedPageNo and TotalPageCount from the file under the header lock and writes them
//      back before releasing it (also when the step failed - with the page count of a failed
//      growth taken back).
//   6. The one exception is the page manager's sole owner (an exclusive single-user writer,
//      which nobody else can open): what it last read or wrote is what the file holds, so after
//      an operation that succeeded the header and the bitmap pages stay in memory and the next
//      operation starts from them. Writes go to the file exactly as otherwise. A failed
//      operation, or a header that changed outside this manager, makes the next one read both
//      from the file again.
#pragma once

#include <cstdint>
#include <map>
#include <memory>

#include "engine/core/VLTPage.h"
#include "engine/disk/VLTDiskFileFormat.h"

namespace vlt {

class TVLTDiskPageManager;

class TVLTDatabaseFreeSpaceManager {
 public:
  // Takes E, LastUsedPageNo and TotalPageCount from the manager's in-memory header.
  explicit TVLTDatabaseFreeSpaceManager(TVLTDiskPageManager* PageManager);

  // Allocates one page (DesiredStartPageNo is not used): the lowest free page of the first
  // extent with room, or a page appended to the file. 20231 when the header lock is not had.
  TVLTPageNo GetPage(TVLTPageNo DesiredStartPageNo = kNoPage);
  // Returns a page to free space and shrinks the file by whole steps when its free tail allows.
  // 20232 when the header lock is not had; 30427 when the page is already free.
  void FreePage(TVLTPageNo PageNo);
  // Sets the header's LastUsedPageNo to the highest page the bitmaps mark used when the two
  // differ (an allocation or a freeing cut off between its bitmap and header writes). Answers
  // whether it changed the header; Was and Now receive the value before and after.
  bool FixLastUsedPageNo(TVLTPageNo& Was, TVLTPageNo& Now);
  // Whether the PFS bit of the page is set (pages whose PFS page lies beyond LastUsedPageNo are
  // free without reading anything).
  bool GetPageUsageFromPFS(TVLTPageNo PageNo);
  // 30434 "Cannot delete PFS or EAM page. PageNo=%d" for a system page.
  void CheckPageNoForSystemPages(TVLTPageNo PageNo) const;
  // Asked for every page fetched: pages 2 .. below the first bitmap position after page 0 are
  // answered without the divisions of the general test.
  bool IsSystemPage(int64_t PageNo) const {
    if (PageNo >= 2 && PageNo < FFirstBitmapPosition) return false;
    return FGeometry.IsSystemPage(PageNo);
  }

  // Verifies invariants 1-4 against the file (a debug aid for tests and tools); raises 20981
  // "Free space check failed: %s" naming the first violation.
  void CheckInvariants();

  // Growth: 6 pages for an empty file, else a tenth of the file, at least one extent.
  int32_t AddPagesStep() const;
  int32_t DelPagesStep() const { return AddPagesStep(); }
  const TVLTFreeSpaceGeometry& Geometry() const { return FGeometry; }
  int32_t LastUsedPageNo() const { return FLastUsedPageNo; }
  int32_t TotalPageCount() const { return FTotalPageCount; }
  // Set around compaction; read by record storage (not consulted here).
  bool SuppressDBHeaderErrors() const { return FSuppressDBHeaderErrors; }
  void SetSuppressDBHeaderErrors(bool V) { FSuppressDBHeaderErrors = V; }

 private:
  class THeaderLock;
  class TBitmapScope;

  // Refreshes the header (invariant 6) and takes LastUsedPageNo and TotalPageCount from it.
  void ReadHeader();
  void SaveHeader();
  // The end of the outermost operation: keeps the pages read in it for the next one only when
  // KeepCurrent (the sole owner, no failure).
  void EndOperation(bool KeepCurrent);
  void ForgetBitmapPages();
  bool FindFreePage(TVLTPageNo& Result);
  bool SearchEAMPage(int64_t K, TVLTPageNo& Result);
  TVLTPageNo AppendPages();
  // PFS bit, then the extent's EAM state. With TolerateSame a bit already in the wanted state is
  // accepted (pages beyond the end of the file before this growth, which nobody can own).
  void MarkPage(TVLTPageNo PageNo, bool Used, bool TolerateSame = false);
  void SetPFSBit(TVLTPageNo PageNo, bool Used, bool TolerateSame);
  void UpdateEAM(TVLTPageNo PageNo);
  TVLTPageNo FindLastUsedPage();
  // The bitmap page, read from the file at its first use in the current operation (GetPage,
  // FreePage, GetPageUsageFromPFS) or kept from the last one (invariant 6).
  TVLTPage* ReadBitmapPage(int64_t PageNo, uint16_t Type, int32_t ErrorCode);
  void WriteBitmapPage(TVLTPage& Page);
  void FormatBitmapPage(int64_t PageNo, uint16_t Type);

  TVLTDiskPageManager* LPageManager;
  int32_t FPageCountInExtent;
  TVLTFreeSpaceGeometry FGeometry;
  int64_t FFirstBitmapPosition;  // min(PFS_PA, EAM_PA): no system page lies in 2 .. below it
  int32_t FLastUsedPageNo;
  int32_t FTotalPageCount;
  bool FSuppressDBHeaderErrors = false;
  struct TBitmapPage {
    std::unique_ptr<TVLTPage> Page;
    bool Current = false;  // what the file holds; else only its buffer is reused
  };
  static constexpr size_t kKeptBitmapPages = 8;  // buffers kept between operations
  static constexpr size_t kKeptBitmapPagesSoleOwner = 1024;
  std::map<int64_t, TBitmapPage> FBitmapPages;
  int32_t FBitmapScopeDepth = 0;
};

}  // namespace vlt
