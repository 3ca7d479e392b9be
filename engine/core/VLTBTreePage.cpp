#include "engine/core/VLTBTreePage.h"

#include <cstring>

#include "engine/base/VLTExcept.h"
#include "engine/core/VLTBTreeKey.h"

namespace vlt {

void TVLTBTreePage::InitPage() {
  uint8_t* D = PageData();
  std::memset(D, 0, kBTreeEntriesOffset);
  SetLeftPageNo(kNoPage);
  SetRightPageNo(kNoPage);
}

void TVLTBTreePage::InitRoot() {
  InitPage();
  uint8_t* D = PageData();
  D[0] = 1;
  D[1] = 1;
  D[10] = 1;
  StoreLE<uint16_t>(D + 12, LKeyRef->FShortKeySize);
}

void TVLTBTreePage::CopyHeaderFrom(const TVLTBTreePage& Other) {
  std::memcpy(PageData(), Other.PageData(), kBTreeEntriesOffset);
}

void TVLTBTreePage::InsertEntry(int32_t I, const uint8_t* Key, const uint8_t* Reference) {
  int32_t N = EntryCount(), ES = EntrySize();
  size_t Needed = static_cast<size_t>(LPage->PageHeaderSize() + EntriesOffset() + (N + 1) * ES);
  if (Needed > PageSize()) EnlargePageBuffer(Needed);
  uint8_t* P = Entry(I);
  std::memmove(P + ES, P, static_cast<size_t>((N - I) * ES));
  if (Key != nullptr)
    std::memcpy(P, Key, KeyPrefixSize());
  else
    std::memset(P, 0, KeyPrefixSize());
  std::memcpy(P + KeyPrefixSize(), Reference, static_cast<size_t>(ReferenceSize()));
  SetEntryCount(N + 1);
}

void TVLTBTreePage::DeleteEntry(int32_t I) {
  int32_t N = EntryCount(), ES = EntrySize();
  uint8_t* P = Entry(I);
  std::memmove(P, P + ES, static_cast<size_t>((N - I - 1) * ES));
  SetEntryCount(N - 1);
}

void TVLTBTreePage::AppendEntries(const uint8_t* Entries, int32_t Count) {
  int32_t N = EntryCount();
  std::memmove(Entry(N), Entries, static_cast<size_t>(Count * EntrySize()));
  SetEntryCount(N + Count);
}

void TVLTBTreePage::PrependEntries(const uint8_t* Entries, int32_t Count) {
  int32_t N = EntryCount(), ES = EntrySize();
  std::memmove(Entry(Count), Entry(0), static_cast<size_t>(N * ES));
  std::memmove(Entry(0), Entries, static_cast<size_t>(Count * ES));
  SetEntryCount(N + Count);
}

void TVLTBTreePage::CheckHeader() const {
  const uint8_t* D = PageData();
  bool Ok = D[0] <= 1 && D[1] <= 1 && !HasSuffixes() && PagePrefixSize() == 0 &&
            KeyPrefixSize() == LKeyRef->FShortKeySize &&
            EntryCount() * EntrySize() + EntriesOffset() <= PageDataSize();
  if (!Ok) throw EVLTException(20302, "Index page is damaged. PageNo=%d", {int64_t{PageNo()}});
}

}  // namespace vlt
