// An in-memory page manager for tests of the page framework: pages live in a map, allocation
// hands out the lowest free number, and reads and writes can be made to fail.
#pragma once

#include <cstring>
#include <map>
#include <set>
#include <vector>

#include "engine/base/VLTExcept.h"
#include "engine/core/VLTPageManager.h"

namespace vlt::test {

class TMemPageManager : public TVLTPageManager {
 public:
  explicit TMemPageManager(uint16_t PageSize = 256) { SetPageSize(PageSize, kPageHeaderSize); }

  // Stored bytes of a page, formatted as if written with type T.
  void Store(TVLTPageNo No, uint16_t Type, uint8_t Fill) {
    std::vector<uint8_t> B(PageSize(), Fill);
    InitPageHeader(*reinterpret_cast<TVLTDiskPageHeader*>(B.data()));
    reinterpret_cast<TVLTDiskPageHeader*>(B.data())->PageType = Type;
    Stored[No] = B;
    Used.insert(No);
  }
  uint8_t StoredByte(TVLTPageNo No, size_t Offset) { return Stored.at(No).at(Offset); }

  std::map<TVLTPageNo, std::vector<uint8_t>> Stored;
  std::set<TVLTPageNo> Used;
  std::vector<TVLTPageNo> Writes, Removes;
  int Reads = 0;
  int FailWriteAt = -1;  // the n-th write (0-based) from now raises
  bool FailReads = false;

 protected:
  void InternalAddPage(TVLTPage* Page) override {
    TVLTPageNo No = 0;
    while (Used.count(No)) ++No;
    Used.insert(No);
    Page->SetPageNo(No);
    Page->AllocPageBuffer();
  }
  void InternalRemovePage(TVLTPageNo No) override {
    if (!Used.erase(No)) throw EVLTException(30427, "Page: %d already free", {int64_t{No}});
    Removes.push_back(No);
  }
  bool InternalReadPage(TVLTPage* Page) override {
    ++Reads;
    auto It = Stored.find(Page->PageNo());
    if (FailReads || It == Stored.end()) return false;
    if (!Page->PageBuffer()) Page->AllocPageBuffer();
    std::memcpy(Page->PageBuffer(), It->second.data(), PageSize());
    Page->SetReloaded(true);
    return true;
  }
  void InternalWritePage(TVLTPage* Page) override {
    if (FailWriteAt == 0) {
      FailWriteAt = -1;
      throw EVLTException(10469, "write failed");
    }
    if (FailWriteAt > 0) --FailWriteAt;
    Stored[Page->PageNo()].assign(Page->PageBuffer(), Page->PageBuffer() + PageSize());
    Writes.push_back(Page->PageNo());
  }
};

inline int32_t CodeOf(auto&& F) {
  try {
    F();
  } catch (const EVLTException& E) {
    return E.NativeError();
  }
  return 0;
}

}  // namespace vlt::test
