#include "engine/core/VLTPageManager.h"

#include <unistd.h>

#include <algorithm>
#include <random>
#include <set>

#include "engine/base/VLTExcept.h"
#include "engine/base/VLTMemory.h"

namespace vlt {

namespace {

int32_t InitialCacheCapacity() {
  long Pages = sysconf(_SC_AVPHYS_PAGES), Size = sysconf(_SC_PAGESIZE);
  if (Pages <= 0 || Size <= 0) return 1000;
  int64_t Available = int64_t{Pages} * Size;
  return static_cast<int32_t>(std::min<int64_t>(Available / 65536, 1000));
}

int32_t RandomPageState() {
  thread_local std::mt19937 Gen{std::random_device{}()};
  return std::uniform_int_distribution<int32_t>(0, kPageStateRandomLimit - 1)(Gen);
}

void CheckSessionID(TVLTSessionID SessionID) {
  if (SessionID == kNoSessionID) throw EVLTException(20186, "Invalid Session ID");
}

}  // namespace

TVLTPageManager::TVLTPageManager() : FCacheCapacity(InitialCacheCapacity()) {
  FSpareBuffers.reserve(kMaxSpareBuffers);  // keeping a buffer never allocates
}

TVLTPageManager::~TVLTPageManager() {
  for (int32_t I = 0; I < FSharedPages.Count(); ++I) delete FSharedPages.Items(I);
  for (auto& [Id, Info] : FSessions)
    for (int32_t I = 0; I < Info->DirtyPages.Count(); ++I) delete Info->DirtyPages.Items(I);
  for (TVLTPage* P : FDetachedPages) delete P;
  FreeSpareBuffers();
}

void TVLTPageManager::FreePage(TVLTPage* Page) {
  // Every owned page buffer holds at least PageSize bytes (EnlargePageBuffer only grows it).
  if (Page->OwnBuffer() && Page->PageBuffer() && FSpareBuffers.size() < kMaxSpareBuffers)
    FSpareBuffers.push_back(Page->TakeOwnedBuffer());
  delete Page;
}

uint8_t* TVLTPageManager::TakeSpareBuffer() {
  if (FSpareBuffers.empty()) return nullptr;
  uint8_t* Buffer = FSpareBuffers.back();
  FSpareBuffers.pop_back();
  return Buffer;
}

void TVLTPageManager::FreeSpareBuffers() {
  for (uint8_t* Buffer : FSpareBuffers) TVLTMemoryManager::Instance().FreeMem(Buffer);
  FSpareBuffers.clear();
}

void TVLTPageManager::CheckNoUncommittedPages() const {
  for (auto& [Id, Info] : FSessions)
    if (Info->DirtyPages.Count() > 0) throw EVLTException(20097, "Cannot free non-committed pages");
}

void TVLTPageManager::SetPageSize(uint16_t PageSize, uint16_t PageHeaderSize) {
  if (PageSize != FPageSize) FreeSpareBuffers();  // too small, or larger than needed
  FPageSize = PageSize;
  FPageHeaderSize = PageHeaderSize;
  FPageDataSize = static_cast<uint16_t>(PageSize - PageHeaderSize);
}

int32_t TVLTPageManager::PageCount() {
  return FPageCount;
}
bool TVLTPageManager::IsPageTableStateCurrent(TVLTSessionID, TVLTPage*) {
  return false;
}
void TVLTPageManager::SavePageTableState(TVLTSessionID, TVLTPage*) {}
int32_t TVLTPageManager::InternalReadPageState(TVLTPageNo) {
  return kPageStateFreed;
}

TVLTSessionPageInfo& TVLTPageManager::SessionEntry(TVLTSessionID SessionID) {
  auto& Entry = FSessions[SessionID];
  if (!Entry) {
    Entry = std::make_unique<TVLTSessionPageInfo>();
    Entry->SessionID = SessionID;
  }
  return *Entry;
}

const TVLTSessionPageInfo* TVLTPageManager::SessionInfo(TVLTSessionID SessionID) const {
  auto It = FSessions.find(SessionID);
  return It == FSessions.end() ? nullptr : It->second.get();
}

bool TVLTPageManager::HasChanges(TVLTSessionID SessionID) const {
  const TVLTSessionPageInfo* Info = SessionInfo(SessionID);
  return Info && (Info->DirtyPages.Count() > 0 || Info->AddedPageNumbers.ItemCount() > 0 ||
                  Info->RemovedPageNumbers.ItemCount() > 0);
}

int32_t TVLTPageManager::ChangedPageCount(TVLTSessionID SessionID) const {
  const TVLTSessionPageInfo* Info = SessionInfo(SessionID);
  return Info ? Info->DirtyPages.Count() : 0;
}

void TVLTPageManager::DisposePage(TVLTPage* Page, bool Dropped) {
  if (Page->FUseCount > 0) {
    Page->FDropped = Page->FDropped || Dropped;
    Page->FParentList = nullptr;
    FDetachedPages.insert(Page);
  } else {
    FreePage(Page);
  }
}

TVLTPage* TVLTPageManager::GetPage(TVLTSessionID SessionID, TVLTPageNo PageNo, uint16_t PageType,
                                   bool SynchronizeAllowed) {
  CheckSessionID(SessionID);
  TVLTSessionPageInfo& Info = SessionEntry(SessionID);
  TVLTPage* Page = Info.DirtyPages.Find(PageNo);
  if (!Page) {
    Page = FSharedPages.Find(PageNo);
    if (Page) {
      // Checked before synchronising: a reread must never replace bytes another session is
      // working on.
      if (Page->FUseCount > 0 && Page->FSessionID != SessionID)
        throw EVLTException(20090, "Page is used by other session");
      // A page the session already holds is not reread under its feet.
      if (SynchronizeAllowed && Page->FUseCount == 0 && !IsPageTableStateCurrent(SessionID, Page)) {
        bool Synchronized = false;
        try {
          Synchronized = Page->Synchronize();
        } catch (...) {
          // A reread that failed its checks leaves a buffer nobody may trust: drop it.
          FSharedPages.Delete(PageNo);
          delete Page;
          throw;
        }
        if (!Synchronized) {
          FSharedPages.Delete(PageNo);
          delete Page;
          throw EVLTException(20299, "Error reading database file page. Page No: %d, type %d",
                              {int64_t{PageNo}, int64_t{PageType}});
        }
        SavePageTableState(SessionID, Page);
      }
    } else {
      auto Fresh = std::make_unique<TVLTPage>(this);
      Fresh->FPageNo = PageNo;
      Fresh->FSessionID = SessionID;
      if (!InternalReadPage(Fresh.get()))
        throw EVLTException(20299, "Error reading database file page. Page No: %d, type %d",
                            {int64_t{PageNo}, int64_t{PageType}});
      if (!FIgnoreCRCErrors && PageType != ptAny && FPageHeaderSize != 0 &&
          Fresh->PageHeader()->PageType != PageType)
        throw EVLTException(
            20153, "Invalid page type. Possible data corruption. Expecting type %d, but found %d",
            {int64_t{PageType}, int64_t{Fresh->PageHeader()->PageType}});
      // Cached only once it was read and checked, so a failed read leaves nothing behind.
      Page = Fresh.release();
      FSharedPages.Insert(Page);
      Page->FParentList = &FSharedPages;
      SavePageTableState(SessionID, Page);
    }
  }
  if (Page->FUseCount > 0 && Page->FSessionID != SessionID)
    throw EVLTException(20090, "Page is used by other session");
  Page->FSessionID = SessionID;
  ++Page->FUseCount;
  return Page;
}

TVLTPage* TVLTPageManager::AddPage(TVLTSessionID SessionID, uint16_t PageType) {
  CheckSessionID(SessionID);
  TVLTSessionPageInfo& Info = SessionEntry(SessionID);
  auto Fresh = std::make_unique<TVLTPage>(this);
  InternalAddPage(Fresh.get());
  if (Fresh->FPageNo == kNoPage) throw EVLTException(20064, "Invalid page number");
  TVLTPage* Page = Fresh.release();
  Info.AddedPageNumbers.Append(Page->FPageNo);  // given back by CancelChanges from now on
  Page->FUseCount = 1;
  Page->FIsDirty = true;
  Page->FReloaded = false;
  if (FPageHeaderSize != 0) {
    Page->PageHeader()->PageType = PageType;
    Page->PageHeader()->State = RandomPageState();
  }
  Page->FSessionID = SessionID;
  if (TVLTPage* Old = FSharedPages.Find(Page->FPageNo)) {
    FSharedPages.Delete(Old->FPageNo);
    DisposePage(Old);
  }
  Info.DirtyPages.Insert(Page);
  Page->FParentList = &Info.DirtyPages;
  return Page;
}

void TVLTPageManager::PutPage(TVLTPage* Page) {
  if (!Page) return;
  if (Page->FUseCount > 0) --Page->FUseCount;
  if (Page->FUseCount == 0) {
    Page->FReloaded = false;
    if (Page->FParentList == &FSharedPages) {
      if (Page->FIsDirty) {
        FSharedPages.Delete(Page->FPageNo);
        TVLTSessionPageInfo& Info = SessionEntry(Page->FSessionID);
        Info.DirtyPages.Insert(Page);
        Page->FParentList = &Info.DirtyPages;
      } else {
        FSharedPages.UpdateLRU(Page);
      }
    } else if (Page->FParentList == nullptr) {
      // A superseded copy: its changes (if any) still belong to the session that made them.
      FDetachedPages.erase(Page);
      TVLTSessionPageInfo& Info = SessionEntry(Page->FSessionID);
      // A copy of a freed page never reaches storage again: its number may belong to
      // another page by now.
      if (Page->FIsDirty && !Page->FDropped && !Info.DirtyPages.Find(Page->FPageNo)) {
        Info.DirtyPages.Insert(Page);
        Page->FParentList = &Info.DirtyPages;
      } else {
        delete Page;
        return;
      }
    }
  }
  if (Page->FParentList == &FSharedPages) TrimCache();
}

void TVLTPageManager::TrimCache() {
  if (FSharedPages.Count() <= FCacheCapacity) return;
  for (TVLTPage* P = FSharedPages.FirstByLRU(); P && FSharedPages.Count() > FCacheCapacity;
       P = FSharedPages.NextByLRU()) {
    if (P->FUseCount != 0) continue;
    FSharedPages.Delete(P->FPageNo);
    FreePage(P);
  }
}

void TVLTPageManager::RemovePage(TVLTSessionID SessionID, TVLTPageNo PageNo) {
  CheckSessionID(SessionID);
  TVLTSessionPageInfo& Info = SessionEntry(SessionID);
  // Freeing a number twice at commit would fail half-way through it.
  if (Info.RemovedSet.insert(PageNo).second) Info.RemovedPageNumbers.Append(PageNo);
}

void TVLTPageManager::CheckSessionPagesReleased(TVLTSessionID SessionID) const {
  for (int32_t I = 0; I < FSharedPages.Count(); ++I) {
    const TVLTPage* P = FSharedPages.Items(I);
    if (P->FSessionID == SessionID && P->FUseCount > 0)
      throw EVLTException(20152, "Some session pages not released");
  }
}

void TVLTPageManager::ApplyChanges(TVLTSessionID SessionID) {
  CheckSessionPagesReleased(SessionID);
  auto It = FSessions.find(SessionID);
  if (It == FSessions.end()) return;
  DoApplyChanges(*It->second);
}

void TVLTPageManager::CheckDirtyPages(const TVLTSessionPageInfo& Info) const {
  for (int32_t I = 0; I < Info.DirtyPages.Count(); ++I) {
    const TVLTPage* P = Info.DirtyPages.Items(I);
    if (!P->FIsDirty) throw EVLTException(20085, "Invalid page");
    if (P->FUseCount > 0) throw EVLTException(20086, "Cannot write used page");
  }
}

void TVLTPageManager::DoApplyChanges(TVLTSessionPageInfo& Info) {
  // Every dirty page is checked before anything reaches storage, so a caller's mistake never
  // leaves half a commit behind.
  CheckDirtyPages(Info);
  // Each step is taken off its list once done, so that a failure leaves exactly the rest
  // pending and a retried commit does not repeat finished steps. The lists are walked once and
  // their finished prefix dropped in one move (also on failure).
  int32_t Removed = 0;
  try {
    for (; Removed < Info.RemovedPageNumbers.ItemCount(); ++Removed) {
      TVLTPageNo PageNo = Info.RemovedPageNumbers[Removed];
      InternalRemovePage(PageNo);
      if (TVLTPage* P = Info.DirtyPages.Find(PageNo)) {
        Info.DirtyPages.Delete(PageNo);
        DisposePage(P, true);
      }
      if (TVLTPage* P = FSharedPages.Find(PageNo)) {
        FSharedPages.Delete(PageNo);
        DisposePage(P, true);
      }
    }
  } catch (...) {
    for (int32_t I = 0; I < Removed; ++I) Info.RemovedSet.erase(Info.RemovedPageNumbers[I]);
    Info.RemovedPageNumbers.DeleteFirst(Removed);
    throw;
  }
  Info.RemovedPageNumbers.Clear();
  Info.RemovedSet.clear();
  Info.AddedPageNumbers.Clear();
  int32_t Written = 0;
  try {
    for (; Written < Info.DirtyPages.Count(); ++Written) {
      TVLTPage* P = Info.DirtyPages.Items(Written);
      InternalWritePage(P);
      P->FIsDirty = false;
      P->FParentList = nullptr;
      CacheCommittedPage(P);
    }
  } catch (...) {
    Info.DirtyPages.DeleteFirst(Written);
    throw;
  }
  Info.DirtyPages.Clear();
}

void TVLTPageManager::CacheCommittedPage(TVLTPage* Page) {
  if (TVLTPage* Old = FSharedPages.Find(Page->FPageNo)) {
    FSharedPages.Delete(Old->FPageNo);
    DisposePage(Old);
  }
  if (FSharedPages.Count() < FCacheCapacity) {
    FSharedPages.Insert(Page);
    Page->FParentList = &FSharedPages;
  } else {
    FreePage(Page);
  }
}

void TVLTPageManager::CancelChanges(TVLTSessionID SessionID) {
  auto It = FSessions.find(SessionID);
  if (It == FSessions.end()) return;
  TVLTSessionPageInfo& Info = *It->second;
  ++FChangeEpoch;
  for (int32_t I = 0; I < Info.DirtyPages.Count(); ++I) {
    const TVLTPage* P = Info.DirtyPages.Items(I);
    if (!P->FIsDirty) throw EVLTException(20087, "Invalid index page");
    if (P->FUseCount > 0) throw EVLTException(20088, "Cannot remove used page");
  }
  for (int32_t I = 0; I < Info.DirtyPages.Count(); ++I) delete Info.DirtyPages.Items(I);
  Info.DirtyPages.Clear();
  int32_t Freed = 0;
  try {
    for (; Freed < Info.AddedPageNumbers.ItemCount(); ++Freed)
      InternalRemovePage(Info.AddedPageNumbers[Freed]);
  } catch (...) {
    Info.AddedPageNumbers.DeleteFirst(Freed);
    throw;
  }
  Info.AddedPageNumbers.Clear();
  Info.RemovedPageNumbers.Clear();
  Info.RemovedSet.clear();
}

}  // namespace vlt

namespace vlt {

void TVLTPageManager::DropCachedPages() {
  ++FChangeEpoch;
  for (int32_t I = FSharedPages.Count() - 1; I >= 0; --I) {
    TVLTPage* P = FSharedPages.Items(I);
    if (P->FUseCount > 0) continue;
    FSharedPages.Delete(P->FPageNo);
    delete P;
  }
}

void TVLTPageManager::CheckInvariants() const {
  std::set<const TVLTPage*> Seen;
  auto CheckList = [&](const TVLTSortedPageList& L, bool Shared, TVLTSessionID Owner) {
    for (int32_t I = 0; I < L.Count(); ++I) {
      const TVLTPage* P = L.Items(I);
      if (!P || !Seen.insert(P).second) VLTRaiseNilPointer(20981);  // in two lists
      if (P->FParentList != &L) VLTRaiseNilPointer(20981);
      if (I > 0 && L.Items(I - 1)->FPageNo >= P->FPageNo) VLTRaiseNilPointer(20981);
      if (Shared && P->FIsDirty && P->FUseCount == 0) VLTRaiseNilPointer(20981);
      if (!Shared && P->FSessionID != Owner) VLTRaiseNilPointer(20981);
    }
  };
  CheckList(FSharedPages, true, kNoSessionID);
  for (auto& [Id, Info] : FSessions) CheckList(Info->DirtyPages, false, Id);
  for (const TVLTPage* P : FDetachedPages)
    if (P->FParentList != nullptr || P->FUseCount <= 0 || !Seen.insert(P).second)
      VLTRaiseNilPointer(20981);
}

}  // namespace vlt
