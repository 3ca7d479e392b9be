#include "engine/core/VLTPage.h"

#include <cstring>
#include <utility>

#include "engine/base/VLTExcept.h"
#include "engine/base/VLTMemory.h"
#include "engine/core/VLTPageManager.h"

namespace vlt {

TVLTPage::TVLTPage(TVLTPageManager* PageManager) : LPageManager(PageManager) {}

TVLTPage::~TVLTPage() {
  if (FOwnBuffer) TVLTMemoryManager::Instance().FreeMem(FPageBuffer);
}

void TVLTPage::AllocPageBuffer() {
  auto* Buffer = static_cast<uint8_t*>(TVLTMemoryManager::Instance().AllocMem(PageSize()));
  FreeAndNilPageBuffer();
  FPageBuffer = Buffer;
  FOwnBuffer = true;
  InitHeader();
}

void TVLTPage::ClearPageBuffer() {
  if (!FPageBuffer) throw EVLTException(20038, "Invalid page buffer. Buffer is Nil");
  std::memset(FPageBuffer, 0, PageSize());
}

void TVLTPage::FreeAndNilPageBuffer() {
  if (FOwnBuffer) TVLTMemoryManager::Instance().FreeMem(FPageBuffer);
  FPageBuffer = nullptr;
  FOwnBuffer = true;
}

void TVLTPage::InitHeader() {
  if (!FPageBuffer) throw EVLTException(20038, "Invalid page buffer. Buffer is Nil");
  if (PageHeaderSize() >= sizeof(TVLTDiskPageHeader)) InitPageHeader(*PageHeader());
}

void TVLTPage::EnlargePageBuffer(size_t NewSize) {
  if (!FPageBuffer) throw EVLTException(20038, "Invalid page buffer. Buffer is Nil");
  if (NewSize < PageSize()) throw EVLTException(20039, "Invalid page modification");
  auto& M = TVLTMemoryManager::Instance();
  if (FOwnBuffer) {
    FPageBuffer = static_cast<uint8_t*>(M.ReallocMem(FPageBuffer, NewSize));
  } else {
    auto* Buffer = static_cast<uint8_t*>(M.AllocMem(NewSize));
    std::memcpy(Buffer, FPageBuffer, PageSize());
    FPageBuffer = Buffer;
    FOwnBuffer = true;
  }
}

void TVLTPage::SetBorrowedBuffer(uint8_t* Buffer) {
  FreeAndNilPageBuffer();
  FPageBuffer = Buffer;
  FOwnBuffer = false;
}

void TVLTPage::AdoptOwnedBuffer(uint8_t* Buffer) {
  FreeAndNilPageBuffer();
  FPageBuffer = Buffer;
  FOwnBuffer = true;
}

uint8_t* TVLTPage::TakeOwnedBuffer() {
  if (!FOwnBuffer) return nullptr;
  FOwnBuffer = true;
  return std::exchange(FPageBuffer, nullptr);
}

bool TVLTPage::Synchronize() {
  if (!LPageManager->MultiUser() || !FPageBuffer) return true;
  int32_t StoredState = LPageManager->InternalReadPageState(FPageNo);
  if (StoredState == kPageStateFreed || StoredState == PageHeader()->State) {
    PageHeader()->State = StoredState;
    return true;
  }
  return LPageManager->InternalReadPage(this);  // a failed read leaves State MaxInt in the copy
}

bool TVLTPage::GetTableState(TVLTSessionID SessionID, int32_t& TableState) const {
  size_t I = static_cast<size_t>(SessionID + 2);
  if (SessionID < -2 || I >= FTableStates.size()) return false;
  TableState = FTableStates[I].TableState;
  return FTableStates[I].IsTableStateValueAssigned;
}

void TVLTPage::SetTableState(TVLTSessionID SessionID, int32_t TableState) {
  if (SessionID < -2) return;
  size_t I = static_cast<size_t>(SessionID + 2);
  if (I >= FTableStates.size()) FTableStates.resize(I + 1);
  FTableStates[I] = {TableState, true};
}

}  // namespace vlt
