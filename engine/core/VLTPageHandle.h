// TVLTPageHandle: a page obtained from a page manager and put back on every path, also when an
// exception of any kind leaves the scope. The one way engine code holds a page for longer than a
// single call; a raw GetPage/PutPage pair is a leak waiting for its first exception.
#pragma once

#include <utility>

#include "engine/core/VLTPageManager.h"

namespace vlt {

class TVLTPageHandle {
 public:
  explicit TVLTPageHandle(TVLTPageManager& Manager) : FManager(&Manager) {}
  // Takes over a page already obtained from Manager.
  TVLTPageHandle(TVLTPageManager& Manager, TVLTPage* Page) : FManager(&Manager), FPage(Page) {}
  TVLTPageHandle(TVLTPageManager& Manager, TVLTSessionID SessionID, TVLTPageNo PageNo,
                 uint16_t PageType)
      : FManager(&Manager) {
    Get(SessionID, PageNo, PageType);
  }
  ~TVLTPageHandle() { Release(); }
  TVLTPageHandle(const TVLTPageHandle&) = delete;
  TVLTPageHandle& operator=(const TVLTPageHandle&) = delete;
  TVLTPageHandle(TVLTPageHandle&& Other) noexcept
      : FManager(Other.FManager), FPage(std::exchange(Other.FPage, nullptr)) {}
  TVLTPageHandle& operator=(TVLTPageHandle&& Other) noexcept {
    if (this != &Other) {
      Release();
      FManager = Other.FManager;
      FPage = std::exchange(Other.FPage, nullptr);
    }
    return *this;
  }

  // Puts back the page held (if any) and holds the one asked for.
  void Get(TVLTSessionID SessionID, TVLTPageNo PageNo, uint16_t PageType,
           bool SynchronizeAllowed = true) {
    Release();
    FPage = FManager->GetPage(SessionID, PageNo, PageType, SynchronizeAllowed);
  }
  void Add(TVLTSessionID SessionID, uint16_t PageType) {
    Release();
    FPage = FManager->AddPage(SessionID, PageType);
  }
  // Puts back the page held (if any) and holds Page, obtained from the same manager.
  void Adopt(TVLTPage* Page) {
    Release();
    FPage = Page;
  }
  void Release() {
    if (FPage) FManager->PutPage(std::exchange(FPage, nullptr));
  }

  // Gives the page up without putting it back: whoever receives it puts it back.
  TVLTPage* Detach() { return std::exchange(FPage, nullptr); }

  TVLTPage* get() const { return FPage; }
  TVLTPage* operator->() const { return FPage; }
  explicit operator bool() const { return FPage != nullptr; }
  TVLTPageManager& Manager() const { return *FManager; }

 private:
  TVLTPageManager* FManager;
  TVLTPage* FPage = nullptr;
};

}  // namespace vlt
