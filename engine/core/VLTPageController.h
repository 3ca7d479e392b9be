// TVLTPageController: base of the objects that interpret the bytes of one page (a B-tree node,
// a record page). It holds the page it works on and forwards the page's properties.
#pragma once

#include <cstddef>
#include <cstdint>

#include "engine/core/VLTPage.h"

namespace vlt {

class TVLTPageController {
 public:
  explicit TVLTPageController(TVLTPage* Page = nullptr) : LPage(Page) {}
  virtual ~TVLTPageController() = default;

  TVLTPage* Page() const { return LPage; }
  void SetPage(TVLTPage* Page) { LPage = Page; }

  TVLTPageNo PageNo() const { return LPage->PageNo(); }
  uint16_t PageSize() const { return LPage->PageSize(); }
  uint8_t* PageBuffer() const { return LPage->PageBuffer(); }
  bool OwnBuffer() const { return LPage->OwnBuffer(); }
  bool IsDirty() const { return LPage->IsDirty(); }
  void SetIsDirty(bool V) { LPage->SetIsDirty(V); }
  int32_t UseCount() const { return LPage->UseCount(); }
  TVLTPageManager* PageManager() const { return LPage->PageManager(); }
  uint8_t* PageData() const { return LPage->PageData(); }
  uint16_t PageDataSize() const { return LPage->PageDataSize(); }
  void EnlargePageBuffer(size_t NewSize) { LPage->EnlargePageBuffer(NewSize); }

 protected:
  TVLTPage* LPage;
};

}  // namespace vlt
