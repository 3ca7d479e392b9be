#include "engine/disk/VLTFreeSpaceManager.h"

#include <algorithm>
#include <cassert>
#include <exception>

#include "engine/base/VLTErrorCodes.h"
#include "engine/base/VLTExcept.h"
#include "engine/disk/VLTDiskPageManager.h"
#include "engine/disk/VLTPageMapCheck.h"

namespace vlt {

// The header lock for one allocation or free: taken with retries, released on every path.
class TVLTDatabaseFreeSpaceManager::THeaderLock {
 public:
  THeaderLock(TVLTDiskPageManager* M, int32_t ErrorCode) : FManager(M) {
    if (!M->LockDBHeaderWithRetry()) throw EVLTException(ErrorCode, "Database is locked");
  }
  ~THeaderLock() { FManager->UnlockDBHeader(); }

 private:
  TVLTDiskPageManager* FManager;
};

TVLTDatabaseFreeSpaceManager::TVLTDatabaseFreeSpaceManager(TVLTDiskPageManager* PageManager)
    : LPageManager(PageManager),
      FPageCountInExtent(PageManager->DBHeader().PageCountInExtent),
      FGeometry(PageManager->PageDataSize(), PageManager->DBHeader().PageCountInExtent),
      FFirstBitmapPosition(std::min(FGeometry.PFSPagesAddressed, FGeometry.EAMPagesAddressed)),
      FLastUsedPageNo(PageManager->DBHeader().LastUsedPageNo),
      FTotalPageCount(PageManager->DBHeader().TotalPageCount) {}

int32_t TVLTDatabaseFreeSpaceManager::AddPagesStep() const {
  if (FTotalPageCount == 0) return 6;
  return std::max(FTotalPageCount / 10, FPageCountInExtent);
}

void TVLTDatabaseFreeSpaceManager::CheckPageNoForSystemPages(TVLTPageNo PageNo) const {
  if (IsSystemPage(PageNo))
    throw EVLTException(kErrCannotDeletePFSEAM, "Cannot delete PFS or EAM page. PageNo=%d",
                        {int64_t{PageNo}});
}

void TVLTDatabaseFreeSpaceManager::ReadHeader() {
  const bool Kept = LPageManager->RefreshDBHeader();
  const TVLTDBHeader& H = LPageManager->DBHeader();
  if (!Kept || H.LastUsedPageNo != FLastUsedPageNo || H.TotalPageCount != FTotalPageCount)
    ForgetBitmapPages();
  FLastUsedPageNo = H.LastUsedPageNo;
  FTotalPageCount = H.TotalPageCount;
}

void TVLTDatabaseFreeSpaceManager::ForgetBitmapPages() {
  for (auto& [No, Page] : FBitmapPages) Page.Current = false;
}

void TVLTDatabaseFreeSpaceManager::EndOperation(bool KeepCurrent) {
  if (FBitmapPages.size() > (KeepCurrent ? kKeptBitmapPagesSoleOwner : kKeptBitmapPages)) {
    FBitmapPages.clear();
    return;
  }
  if (!KeepCurrent) ForgetBitmapPages();
}

void TVLTDatabaseFreeSpaceManager::SaveHeader() {
  TVLTDBHeader& H = LPageManager->DBHeader();
  if (H.LastUsedPageNo == FLastUsedPageNo && H.TotalPageCount == FTotalPageCount) return;
  H.LastUsedPageNo = FLastUsedPageNo;
  H.TotalPageCount = FTotalPageCount;
  LPageManager->WriteDBHeader(true);
}

// One allocation reads the same EAM and PFS pages up to three times (search, PFS bit, EAM
// state). While the header lock is held nobody else may change them, so within one operation a
// page read once is reused; every operation reads them from the file again (into the buffers of
// the last one: allocating and freeing two page buffers per allocated page showed in profiles),
// except for the sole owner after an operation that succeeded (invariant 6): its allocations
// read nothing, where otherwise each read the header and two bitmap pages.
class TVLTDatabaseFreeSpaceManager::TBitmapScope {
 public:
  explicit TBitmapScope(TVLTDatabaseFreeSpaceManager* M)
      : FManager(M), FUncaught(std::uncaught_exceptions()) {
    ++M->FBitmapScopeDepth;
  }
  ~TBitmapScope() {
    if (--FManager->FBitmapScopeDepth > 0) return;
    // A failure may have left the file, the header in memory or a page buffer half-changed.
    const bool Failed = std::uncaught_exceptions() > FUncaught;
    if (Failed) FManager->LPageManager->ForgetDBHeader();
    FManager->EndOperation(!Failed && FManager->LPageManager->SoleOwner());
  }
  TBitmapScope(const TBitmapScope&) = delete;
  TBitmapScope& operator=(const TBitmapScope&) = delete;

 private:
  TVLTDatabaseFreeSpaceManager* FManager;
  int FUncaught;
};

TVLTPage* TVLTDatabaseFreeSpaceManager::ReadBitmapPage(int64_t PageNo, uint16_t Type,
                                                      int32_t ErrorCode) {
  if (PageNo >= FTotalPageCount)
    throw EVLTException(kErrReadingDatabaseFilePage,
                        "Error reading database file page. Page No: %d, type %d",
                        {int64_t{PageNo}, int64_t{Type}});
  assert(FBitmapScopeDepth > 0);  // else the page would be trusted by the next operation
  TBitmapPage& Slot = FBitmapPages[PageNo];
  if (!Slot.Current) {
    if (!Slot.Page) {
      Slot.Page = std::make_unique<TVLTPage>(LPageManager);
      Slot.Page->SetPageNo(static_cast<TVLTPageNo>(PageNo));
    }
    if (!LPageManager->InternalReadPage(Slot.Page.get())) {
      FBitmapPages.erase(PageNo);
      throw EVLTException(kErrReadingDatabaseFilePage,
                          "Error reading database file page. Page No: %d, type %d",
                          {int64_t{PageNo}, int64_t{Type}});
    }
    Slot.Current = true;
  }
  CheckPageType(Slot.Page->PageHeader()->PageType, Type, ErrorCode);
  return Slot.Page.get();
}

void TVLTDatabaseFreeSpaceManager::WriteBitmapPage(TVLTPage& Page) {
  try {
    LPageManager->InternalWritePage(&Page);
  } catch (...) {
    // The file may hold the old bytes, part of the new ones or nothing: read it again.
    FBitmapPages.erase(Page.PageNo());
    throw;
  }
}

void TVLTDatabaseFreeSpaceManager::FormatBitmapPage(int64_t PageNo, uint16_t Type) {
  FBitmapPages.erase(PageNo);
  TVLTPage Page(LPageManager);
  Page.SetPageNo(static_cast<TVLTPageNo>(PageNo));
  Page.AllocPageBuffer();
  Page.PageHeader()->PageType = Type;
  Page.PageData()[0] = 0x01;
  WriteBitmapPage(Page);
}

// ---- allocation ----

TVLTPageNo TVLTDatabaseFreeSpaceManager::GetPage(TVLTPageNo) {
  THeaderLock Lock(LPageManager, kErrDatabaseLockedAllocate);
  TBitmapScope Scope(this);
  TVLTPageNo Result = kNoPage;
  try {
    ReadHeader();
    if (!FindFreePage(Result)) Result = AppendPages();
    if (Result > FLastUsedPageNo) FLastUsedPageNo = Result;
  } catch (...) {
    try {
      SaveHeader();
    } catch (...) {
      // The error on its way out is the one the caller gets; this clean-up failing adds nothing to
      // it.
    }
    throw;
  }
  SaveHeader();
  return Result;
}

bool TVLTDatabaseFreeSpaceManager::FindFreePage(TVLTPageNo& Result) {
  if (FLastUsedPageNo == kNoPage || FTotalPageCount <= 0) return false;
  int64_t LastEAM = (int64_t{FTotalPageCount} - 1) / FGeometry.EAMPagesAddressed;
  if (SearchEAMPage(LastEAM, Result)) return true;
  for (int64_t K = 0; K < LastEAM; ++K)
    if (SearchEAMPage(K, Result)) return true;
  return false;
}

bool TVLTDatabaseFreeSpaceManager::SearchEAMPage(int64_t K, TVLTPageNo& Result) {
  auto EAM = ReadBitmapPage(FGeometry.EAMPageNo(K), ptEAM, kErrBitmapTypeSearch);
  const uint8_t* Data = EAM->PageData();
  const int64_t E = FPageCountInExtent;
  for (int64_t I = 0; I < EAM->PageDataSize(); ++I) {
    if (Data[I] == 0xFF) continue;
    for (int J = 0; J < 4; ++J) {
      if (Data[I] & (1u << (2 * J + 1))) continue;
      int64_t Extent = K * FGeometry.EAMExtentsAddressed + I * 4 + J;
      int64_t FirstPFS = Extent * E / FGeometry.PFSPagesAddressed;
      int64_t LastPFS = (Extent * E + E - 1) / FGeometry.PFSPagesAddressed;
      while (LastPFS >= FirstPFS && FGeometry.PFSPageNo(LastPFS) >= FTotalPageCount) --LastPFS;
      if (FGeometry.PFSPageNo(FirstPFS) >= FTotalPageCount) return false;
      for (int64_t P = FirstPFS; P <= LastPFS; ++P) {
        auto PFS = ReadBitmapPage(FGeometry.PFSPageNo(P), ptPFS, kErrBitmapTypeSearch);
        const uint8_t* Bits = PFS->PageData();
        for (int64_t B = 0; B < PFS->PageDataSize(); ++B) {
          if (Bits[B] == 0xFF) continue;
          for (int Bit = 0; Bit < 8; ++Bit) {
            if (Bits[B] & (1u << Bit)) continue;
            int64_t Candidate = FGeometry.PFSPageNo(P) + B * 8 + Bit;
            if (Candidate >= FTotalPageCount) return false;
            // A bitmap page whose bit a crash left clear is still never handed out.
            if (IsSystemPage(Candidate)) continue;
            MarkPage(static_cast<TVLTPageNo>(Candidate), true);
            Result = static_cast<TVLTPageNo>(Candidate);
            return true;
          }
        }
      }
      return false;
    }
  }
  return false;
}

TVLTPageNo TVLTDatabaseFreeSpaceManager::AppendPages() {
  const bool WasEmpty = FLastUsedPageNo == kNoPage;
  const int32_t OldTotal = FTotalPageCount;
  const int64_t OldLastPFS =
      WasEmpty ? -1 : std::max<int64_t>(OldTotal - 1, 0) / FGeometry.PFSPagesAddressed;
  const int64_t OldLastEAM =
      WasEmpty ? -1 : std::max<int64_t>(OldTotal - 1, 0) / FGeometry.EAMPagesAddressed;

  // The new page: past the last used one, past system pages, and past pages a crash left
  // marked in use below the end of the file.
  int64_t P = int64_t{FLastUsedPageNo} + 1;
  while (IsSystemPage(P) || (!WasEmpty && P < OldTotal && GetPageUsageFromPFS(
                                                              static_cast<TVLTPageNo>(P))))
    ++P;
  int64_t N = AddPagesStep();
  if (P >= OldTotal + N) N = P - OldTotal + 1;
  while (IsSystemPage(OldTotal + N - 1)) ++N;
  if (OldTotal + N > INT32_MAX)
    throw EVLTException(kErrPageCannotBeAddressed,
                        "Page: %d cannot be addressed. TotalPageCount=%d",
                        {int64_t{P}, int64_t{OldTotal}});

  // The file grows first; the header counts the new pages only once their bitmap pages are
  // formatted; a failure takes the count back, so no page beyond the end is ever handed out.
  LPageManager->ExtendFile(static_cast<int32_t>(N));
  FTotalPageCount = LPageManager->DBHeader().TotalPageCount;
  try {
    const int64_t NewLastPFS = (int64_t{FTotalPageCount} - 1) / FGeometry.PFSPagesAddressed;
    const int64_t NewLastEAM = (int64_t{FTotalPageCount} - 1) / FGeometry.EAMPagesAddressed;
    for (int64_t K = OldLastPFS + 1; K <= NewLastPFS; ++K)
      FormatBitmapPage(FGeometry.PFSPageNo(K), ptPFS);
    for (int64_t K = OldLastEAM + 1; K <= NewLastEAM; ++K)
      FormatBitmapPage(FGeometry.EAMPageNo(K), ptEAM);
    SaveHeader();
    for (int64_t K = OldLastEAM + 1; K <= NewLastEAM; ++K)
      MarkPage(static_cast<TVLTPageNo>(FGeometry.EAMPageNo(K)), true, true);
    for (int64_t K = OldLastPFS + 1; K <= NewLastPFS; ++K)
      UpdateEAM(static_cast<TVLTPageNo>(FGeometry.PFSPageNo(K)));
    FLastUsedPageNo = std::max<int32_t>(FLastUsedPageNo, static_cast<TVLTPageNo>(P));
    MarkPage(static_cast<TVLTPageNo>(P), true, P >= OldTotal);
  } catch (...) {
    FTotalPageCount = OldTotal;
    LPageManager->DBHeader().TotalPageCount = OldTotal;
    if (WasEmpty) FLastUsedPageNo = kNoPage;
    throw;
  }
  return static_cast<TVLTPageNo>(P);
}

// ---- bits ----

void TVLTDatabaseFreeSpaceManager::MarkPage(TVLTPageNo PageNo, bool Used, bool TolerateSame) {
  SetPFSBit(PageNo, Used, TolerateSame);
  UpdateEAM(PageNo);
}

void TVLTDatabaseFreeSpaceManager::SetPFSBit(TVLTPageNo PageNo, bool Used, bool TolerateSame) {
  if (PageNo < 0 || PageNo >= FTotalPageCount)
    throw EVLTException(kErrPageCannotBeAddressed,
                        "Page: %d cannot be addressed. TotalPageCount=%d",
                        {int64_t{PageNo}, int64_t{FTotalPageCount}});
  int64_t K = PageNo / FGeometry.PFSPagesAddressed;
  auto PFS = ReadBitmapPage(FGeometry.PFSPageNo(K), ptPFS, kErrBitmapTypeSetPFSBit);
  int64_t Local = PageNo - FGeometry.PFSPageNo(K);
  uint8_t& Byte = PFS->PageData()[Local / 8];
  const uint8_t Mask = static_cast<uint8_t>(1u << (Local % 8));
  if (Used && (Byte & Mask)) {
    if (TolerateSame) return;
    throw EVLTException(kErrPageAlreadyUsed, "Page: %d already used", {int64_t{PageNo}});
  }
  if (!Used && !(Byte & Mask)) {
    if (TolerateSame) return;
    throw EVLTException(kErrPageAlreadyFree, "Page: %d already free", {int64_t{PageNo}});
  }
  Byte = static_cast<uint8_t>(Used ? Byte | Mask : Byte & ~Mask);
  WriteBitmapPage(*PFS);
}

void TVLTDatabaseFreeSpaceManager::UpdateEAM(TVLTPageNo PageNo) {
  if (PageNo < 0 || PageNo >= FTotalPageCount)
    throw EVLTException(kErrPageCannotBeAddressedUpdateEAM,
                        "Page: %d cannot be addressed. TotalPageCount=%d",
                        {int64_t{PageNo}, int64_t{FTotalPageCount}});
  const int64_t E = FPageCountInExtent;
  int64_t K = PageNo / FGeometry.EAMPagesAddressed;
  auto EAM = ReadBitmapPage(FGeometry.EAMPageNo(K), ptEAM, kErrBitmapTypeUpdateEAM);
  int64_t Extent = PageNo / E;
  // Counts the extent's pages as GetPageUsageFromPFS sees them, reading each PFS page once.
  bool SomeUsed = false, SomeFree = false;
  TVLTPage* PFS = nullptr;
  int64_t PFSNo = -1;
  for (int64_t Q = Extent * E; Q < Extent * E + E && !(SomeUsed && SomeFree); ++Q) {
    int64_t QPFSNo = FGeometry.PFSPageNo(Q / FGeometry.PFSPagesAddressed);
    bool Used = false;
    if (Q < FTotalPageCount && QPFSNo <= FLastUsedPageNo) {
      if (QPFSNo != PFSNo) {
        PFS = ReadBitmapPage(QPFSNo, ptPFS, kErrPageCannotBeAddressed);
        PFSNo = QPFSNo;
      }
      Used = (PFS->PageData()[(Q - QPFSNo) / 8] >> ((Q - QPFSNo) % 8)) & 1;
    }
    (Used ? SomeUsed : SomeFree) = true;
  }
  int64_t Local = Extent - K * FGeometry.EAMExtentsAddressed;
  uint8_t& Byte = EAM->PageData()[Local / 4];
  const int Shift = static_cast<int>(Local % 4) * 2;
  const uint8_t Value = SomeUsed && !SomeFree ? 3 : 1;
  uint8_t NewByte = static_cast<uint8_t>((Byte & ~(3u << Shift)) | (Value << Shift));
  if (NewByte == Byte) return;
  Byte = NewByte;
  WriteBitmapPage(*EAM);
}

bool TVLTDatabaseFreeSpaceManager::GetPageUsageFromPFS(TVLTPageNo PageNo) {
  TBitmapScope Scope(this);
  int64_t K = PageNo / FGeometry.PFSPagesAddressed;
  if (FGeometry.PFSPageNo(K) > FLastUsedPageNo) return false;
  auto PFS = ReadBitmapPage(FGeometry.PFSPageNo(K), ptPFS, kErrPageCannotBeAddressed);
  int64_t Local = PageNo - FGeometry.PFSPageNo(K);
  return (PFS->PageData()[Local / 8] >> (Local % 8)) & 1;
}

// ---- freeing ----

TVLTPageNo TVLTDatabaseFreeSpaceManager::FindLastUsedPage() {
  if (FTotalPageCount <= 0) return kNoPage;
  for (int64_t K = (int64_t{FTotalPageCount} - 1) / FGeometry.PFSPagesAddressed; K >= 0; --K) {
    auto PFS = ReadBitmapPage(FGeometry.PFSPageNo(K), ptPFS, kErrBitmapTypeFindLastUsed);
    const uint8_t* Bits = PFS->PageData();
    for (int64_t B = PFS->PageDataSize() - 1; B >= 0; --B) {
      if (Bits[B] == 0) continue;
      for (int Bit = 7; Bit >= 0; --Bit) {
        if (!(Bits[B] & (1u << Bit))) continue;
        int64_t Page = FGeometry.PFSPageNo(K) + B * 8 + Bit;
        if (Page < FTotalPageCount && !IsSystemPage(Page)) return static_cast<TVLTPageNo>(Page);
      }
    }
  }
  return kNoPage;
}

bool TVLTDatabaseFreeSpaceManager::FixLastUsedPageNo(TVLTPageNo& Was, TVLTPageNo& Now) {
  THeaderLock Lock(LPageManager, kErrDatabaseLockedFree);
  TBitmapScope Scope(this);
  ReadHeader();
  Was = FLastUsedPageNo;
  Now = FindLastUsedPage();
  if (Now == Was) return false;
  FLastUsedPageNo = Now;
  SaveHeader();
  return true;
}

void TVLTDatabaseFreeSpaceManager::FreePage(TVLTPageNo PageNo) {
  THeaderLock Lock(LPageManager, kErrDatabaseLockedFree);
  TBitmapScope Scope(this);
  try {
    ReadHeader();
    MarkPage(PageNo, false);
    FLastUsedPageNo = FindLastUsedPage();
    int64_t Step = DelPagesStep();
    int64_t Tail = int64_t{FTotalPageCount} - FLastUsedPageNo - 1;
    if (Tail >= Step) {
      int64_t N = Tail / Step * Step;
      // Never end on a bitmap page: the EAM page after a PFS page would be cut off.
      while (N > 0 && FTotalPageCount - N > 0 && IsSystemPage(FTotalPageCount - N - 1)) --N;
      if (N > 0) {
        LPageManager->DBHeader().LastUsedPageNo = FLastUsedPageNo;
        FBitmapPages.clear();
        LPageManager->TruncateFile(static_cast<int32_t>(N));
        FTotalPageCount = LPageManager->DBHeader().TotalPageCount;
      }
    }
  } catch (...) {
    try {
      SaveHeader();
    } catch (...) {
      // The error on its way out is the one the caller gets; this clean-up failing adds nothing to
      // it.
    }
    throw;
  }
  SaveHeader();
}

}  // namespace vlt

namespace vlt {

void TVLTDatabaseFreeSpaceManager::CheckInvariants() {
  // The page map check reads the bitmaps and pages from the file: exactly these invariants.
  const TVLTPageMapReport R = CheckPageMap(*LPageManager, false);
  auto Fail = [](const std::string& What) {
    throw EVLTException(kErrInvariantCheck, "Free space check failed: %s", {What});
  };
  for (const TVLTPageMapEntry& E : R.Pages)
    if (!E.Problems.empty()) Fail(E.Problems.front());
  if (!R.Problems.empty()) Fail(R.Problems.front());
}

}  // namespace vlt
