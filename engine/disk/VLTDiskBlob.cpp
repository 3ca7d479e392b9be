#include "engine/disk/VLTDiskBlob.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <set>

#include "engine/base/VLTErrorCodes.h"
#include "engine/base/VLTExcept.h"
#include "engine/core/VLTFieldManager.h"
#include "engine/core/VLTPage.h"
#include "engine/core/VLTPageHandle.h"
#include "engine/core/VLTPageManager.h"
#include "engine/core/VLTRecordManager.h"
#include "engine/protect/VLTCompressedBLOBStream.h"
#include "engine/protect/VLTMemoryStream.h"

namespace vlt {

namespace {

// Entry header fields.
constexpr int32_t kItemNoAt = 0, kNumBlocksAt = 2, kDataSizeAt = 6, kUncompressedAt = 14;
// Large value locator on the first page.
constexpr int32_t kListPageAt = 22, kListOffsetAt = 26, kPageCountAt = 28;

void StoreEntryHeader(uint8_t* P, uint16_t ItemNo, const TVLTDiskBLOBCache& V) {
  StoreLE<uint16_t>(P + kItemNoAt, ItemNo);
  StoreLE<int32_t>(P + kNumBlocksAt, V.NumBlocks);
  StoreLE<int64_t>(P + kDataSizeAt, static_cast<int64_t>(V.BlobData.size()));
  StoreLE<int64_t>(P + kUncompressedAt, V.UncompressedSize);
}

TVLTBuffer CopyBytes(const uint8_t* P, int64_t Size) {
  if (Size <= 0) return TVLTBuffer();
  TVLTBuffer B(static_cast<size_t>(Size));
  std::memcpy(B.data(), P, static_cast<size_t>(Size));
  return B;
}

[[noreturn]] void RaiseUnreadable() {
  throw EVLTException(kErrCannotReadBLOBField, "Cannot read BLOB field value");
}

}  // namespace

// Puts a page back on every exit.
namespace {

// A page of the BLOB pages of a table.
void GetBlobPage(TVLTPageHandle& Page, TVLTSessionID SessionID, TVLTPageNo PageNo) {
  Page.Get(SessionID, PageNo, ptTableBlob);
}
void AddBlobPage(TVLTPageHandle& Page, TVLTSessionID SessionID, int32_t TableID) {
  Page.Add(SessionID, ptTableBlob);
  Page->PageHeader()->ObjectID = TableID;
}

}  // namespace


// ---- small-value page ----

TVLTSmallBlobPage::TVLTSmallBlobPage(TVLTPage* Page)
    : LPage(Page), FDataSize(Page->PageSize() - Page->PageHeaderSize()) {}

uint16_t TVLTSmallBlobPage::BlobCount() const { return LoadLE<uint16_t>(LPage->PageData()); }

void TVLTSmallBlobPage::SetBlobCount(uint16_t Count) { StoreLE<uint16_t>(LPage->PageData(), Count); }

int32_t TVLTSmallBlobPage::EntrySize(int32_t Offset) const {
  const uint8_t* D = LPage->PageData();
  if (Offset + kBlobEntryHeaderSize > FDataSize)
    throw EVLTException(kErrDamagedBlobPageEntry,
                        "Damaged blob page %d: entry header at %d runs past the page",
                        {int64_t{LPage->PageNo()}, int64_t{Offset}});
  const int64_t Size = LoadLE<int64_t>(D + Offset + kDataSizeAt);
  if (Size < 0 || Offset + kBlobEntryHeaderSize + Size > FDataSize)
    throw EVLTException(kErrDamagedBlobPageEntry,
                        "Damaged blob page %d: entry at %d runs past the page",
                        {int64_t{LPage->PageNo()}, int64_t{Offset}});
  return kBlobEntryHeaderSize + static_cast<int32_t>(Size);
}

int32_t TVLTSmallBlobPage::UsedSize() const {
  int32_t Offset = 2;
  for (uint16_t I = 0, N = BlobCount(); I < N; ++I) Offset += EntrySize(Offset);
  return Offset - 2;
}

int32_t TVLTSmallBlobPage::FindEntry(uint16_t ItemNo) const {
  int32_t Offset = 2;
  for (uint16_t I = 0, N = BlobCount(); I < N; ++I) {
    const int32_t Size = EntrySize(Offset);
    if (LoadLE<uint16_t>(LPage->PageData() + Offset + kItemNoAt) == ItemNo) return Offset;
    Offset += Size;
  }
  return -1;
}

std::vector<uint16_t> TVLTSmallBlobPage::ItemNumbers() const {
  std::vector<uint16_t> Items;
  int32_t Offset = 2;
  for (uint16_t I = 0, N = BlobCount(); I < N; ++I) {
    const int32_t Size = EntrySize(Offset);
    Items.push_back(LoadLE<uint16_t>(LPage->PageData() + Offset + kItemNoAt));
    Offset += Size;
  }
  return Items;
}

void TVLTSmallBlobPage::AddBlob(const TVLTDiskBLOBCache& Cache, uint16_t& ItemNo) {
  const uint16_t Count = BlobCount();
  const int32_t Used = UsedSize();
  const int32_t Offset = 2 + Used;
  const int64_t Size = static_cast<int64_t>(Cache.BlobData.size());
  if (Offset + kBlobEntryHeaderSize + Size > FDataSize)
    throw EVLTException(kErrCannotAddBlobPage,
                        "Cannot add blob. Page is full: BlobCount=%d, BlobOffset=%d, BlobSize=%d, "
                        "PageDataSize=%d, SizeInBlobPageIndex=%d",
                        {int64_t{Count}, int64_t{Offset}, Size, int64_t{FDataSize}, int64_t{Used}});
  // A new item number: from the count on, the first one no entry has (65535 marks large values).
  const std::vector<uint16_t> Taken = ItemNumbers();
  uint16_t No = Count == kBlobLargeItemNo ? 0 : Count;
  for (int32_t Tries = 0; std::find(Taken.begin(), Taken.end(), No) != Taken.end(); ++Tries) {
    if (Tries >= 65535) throw EVLTException(kErrInvalidBlobFieldID, "Invalid blob field ID");
    No = No >= 65534 ? 0 : static_cast<uint16_t>(No + 1);
  }
  uint8_t* P = LPage->PageData() + Offset;
  StoreEntryHeader(P, No, Cache);
  if (Size > 0) std::memcpy(P + kBlobEntryHeaderSize, Cache.BlobData.data(), static_cast<size_t>(Size));
  SetBlobCount(static_cast<uint16_t>(Count + 1));
  LPage->SetIsDirty(true);
  ItemNo = No;
}

bool TVLTSmallBlobPage::DeleteBlob(uint16_t ItemNo, int32_t& FreedSize) {
  const int32_t Offset = FindEntry(ItemNo);
  if (Offset < 0) return false;
  const int32_t Size = EntrySize(Offset);
  const int32_t End = 2 + UsedSize();
  uint8_t* D = LPage->PageData();
  std::memmove(D + Offset, D + Offset + Size, static_cast<size_t>(End - Offset - Size));
  std::memset(D + End - Size, 0, static_cast<size_t>(Size));
  SetBlobCount(static_cast<uint16_t>(BlobCount() - 1));
  LPage->SetIsDirty(true);
  FreedSize = Size;
  return true;
}

bool TVLTSmallBlobPage::ReadBlob(TVLTDiskBLOBCache& Cache, uint16_t ItemNo) const {
  const int32_t Offset = FindEntry(ItemNo);
  if (Offset < 0) return false;
  const uint8_t* P = LPage->PageData() + Offset;
  const int32_t Size = EntrySize(Offset) - kBlobEntryHeaderSize;
  Cache.NumBlocks = LoadLE<int32_t>(P + kNumBlocksAt);
  Cache.UncompressedSize = LoadLE<int64_t>(P + kUncompressedAt);
  Cache.Modified = false;
  Cache.BlobData = CopyBytes(P + kBlobEntryHeaderSize, Size);
  return true;
}

// ---- the manager ----

TVLTDiskBlobManager::TVLTDiskBlobManager(TVLTPageManager* PageManager,
                                         TVLTBaseFieldManager* FieldManager,
                                         TVLTBaseRecordManager* RecordManager, int32_t TableID)
    : LPageManager(PageManager), LFieldManager(FieldManager), LRecordManager(RecordManager),
      FTableID(TableID), FBlobPageIndex(PageManager) {
  if (!LPageManager || !LFieldManager) VLTRaiseNilPointer(kErrNilPageManager);
}

// Entries still cached belong to record buffers that were dropped without clearing their slots
// (a cancelled edit of a closing table, say); they are freed with the manager rather than
// raising from a destructor.
TVLTDiskBlobManager::~TVLTDiskBlobManager() = default;

bool TVLTDiskBlobManager::BlobFields() const {
  for (int32_t I = 0; I < LFieldManager->FieldCount(); ++I)
    if (IsBlobBaseType(LFieldManager->FieldDefs()[I].FBaseFieldType)) return true;
  return false;
}

const TVLTFieldDef& TVLTDiskBlobManager::FieldDef(int32_t FieldNo) const {
  if (FieldNo < 0 || FieldNo >= LFieldManager->FieldCount() ||
      !IsBlobBaseType(LFieldManager->FieldDefs()[FieldNo].FBaseFieldType))
    throw EVLTException(kErrFieldNotBLOBField, "Field %d is not a BLOB field", {int64_t{FieldNo}});
  return LFieldManager->FieldDefs()[FieldNo];
}

int32_t TVLTDiskBlobManager::PageDataSize() const { return LPageManager->PageDataSize(); }

void TVLTDiskBlobManager::CreateBlobPageIndex(TVLTSessionID SessionID) {
  FBlobPageIndex.CreateIndex(SessionID);
}

TVLTPageItemID TVLTDiskBlobManager::GetReference(const uint8_t* RecordBuffer, const TVLTFieldDef& F) {
  const uint8_t* P = RecordBuffer + F.FMemoryOffset;
  return {LoadLE<int32_t>(P), LoadLE<uint16_t>(P + 4)};
}

void TVLTDiskBlobManager::SetReference(uint8_t* RecordBuffer, const TVLTFieldDef& F,
                                       const TVLTPageItemID& R) {
  uint8_t* P = RecordBuffer + F.FMemoryOffset;
  StoreLE<int32_t>(P, R.PageNo);
  StoreLE<uint16_t>(P + 4, R.PageItemNo);
}

TVLTDiskBLOBCache* TVLTDiskBlobManager::FindCache(const uint8_t* RecordBuffer, const TVLTFieldDef& F) {
  const uint32_t Handle = LoadLE<uint32_t>(RecordBuffer + F.FMemoryOffset + 6);
  if (Handle == 0) return nullptr;
  auto It = FBlobCacheList.find(Handle);
  return It == FBlobCacheList.end() ? nullptr : It->second.get();
}

// ---- values and streams ----

void TVLTDiskBlobManager::Encode(const TVLTFieldDef& F, const uint8_t* Data, int64_t Size,
                                 TVLTDiskBLOBCache& Out) {
  if (F.FBLOBBlockSize <= 0)
    throw EVLTException(kErrStreamBlockSizeNot, "Stream block size = 0 is not allowed");
  Out = TVLTDiskBLOBCache();
  if (Size <= 0) return;
  TVLTBLOBDescriptor D;
  D.BlockSize = static_cast<uint32_t>(F.FBLOBBlockSize);
  D.CompressionAlgorithm = F.FBLOBCompressionAlgorithm;
  D.CompressionMode = F.FBLOBCompressionMode;
  TVLTMemoryStream Chain;
  {
    TVLTCompressedBLOBStream S(&Chain, false, true, D);
    if (S.Write(Data, Size) != Size)
      throw EVLTException(kErrCannotWriteBLOBField, "Cannot write BLOB field value");
    Out.NumBlocks = static_cast<int32_t>(S.BLOBDescriptor().NumBlocks);
    Out.UncompressedSize = S.GetSize();
    if (F.FBLOBCompressionAlgorithm != acaNone) Out.NumBlocks = static_cast<int32_t>(S.Headers().size());
  }
  Out.BlobData = CopyBytes(Chain.Memory(), Chain.GetSize());
}

void TVLTDiskBlobManager::Decode(const TVLTFieldDef& F, const TVLTDiskBLOBCache& Value,
                                 TVLTStream& Stream) {
  if (F.FBLOBBlockSize <= 0)
    throw EVLTException(kErrStreamBlockSizeNot, "Stream block size = 0 is not allowed");
  if (Value.UncompressedSize < 0)
    throw EVLTException(kErrInvalidBlobFieldSize, "Invalid blob field size");
  if (Value.UncompressedSize == 0) return;
  TVLTBLOBDescriptor D;
  D.BlockSize = static_cast<uint32_t>(F.FBLOBBlockSize);
  D.CompressionAlgorithm = F.FBLOBCompressionAlgorithm;
  D.CompressionMode = F.FBLOBCompressionMode;
  D.NumBlocks = Value.NumBlocks;
  D.UncompressedSize = Value.UncompressedSize;
  TVLTMemoryStream Chain;
  if (Value.BlobData.size() > 0)
    Chain.Write(Value.BlobData.data(), static_cast<int64_t>(Value.BlobData.size()));
  Chain.Seek(0, soBeginning);
  TVLTCompressedBLOBStream S(&Chain, false, false, D);
  if (S.GetSize() != Value.UncompressedSize) RaiseUnreadable();
  constexpr int64_t kPiece = 65536;
  TVLTBuffer Piece(static_cast<size_t>(std::min(kPiece, Value.UncompressedSize)));
  int64_t Left = Value.UncompressedSize;
  while (Left > 0) {
    const int64_t N = S.Read(Piece.data(), std::min<int64_t>(Left, static_cast<int64_t>(Piece.size())));
    if (N <= 0) RaiseUnreadable();
    if (Stream.Write(Piece.data(), N) != N)
      throw EVLTException(kErrCannotWriteBLOBField, "Cannot write BLOB field value");
    Left -= N;
  }
}

void TVLTDiskBlobManager::ReadValue(TVLTSessionID SessionID, const uint8_t* RecordBuffer,
                                    int32_t FieldNo, TVLTStream& Stream) {
  const TVLTFieldDef& F = FieldDef(FieldNo);
  if (VLTIsFieldNull(RecordBuffer, FieldNo)) return;
  if (const TVLTDiskBLOBCache* C = FindCache(RecordBuffer, F)) {
    Decode(F, *C, Stream);
    return;
  }
  const TVLTPageItemID R = GetReference(RecordBuffer, F);
  if (!HasStoredValue(R)) return;
  TVLTDiskBLOBCache Value;
  LoadValue(SessionID, R, Value);
  Decode(F, Value, Stream);
}

void TVLTDiskBlobManager::SetValue(uint8_t* RecordBuffer, int32_t FieldNo, TVLTStream& Stream) {
  const TVLTFieldDef& F = FieldDef(FieldNo);
  const int64_t Size = Stream.GetSize();
  if (Size < 0) throw EVLTException(kErrInvalidBlobFieldSize, "Invalid blob field size");
  TVLTBuffer Data;
  if (Size > 0) {
    Data = TVLTBuffer(static_cast<size_t>(Size));
    Stream.Seek(0, soBeginning);
    int64_t Done = 0;
    while (Done < Size) {
      const int64_t N = Stream.Read(Data.data() + Done, Size - Done);
      if (N <= 0) throw EVLTException(kErrCannotReadBLOBStream, "Cannot read BLOB stream");
      Done += N;
    }
  }
  auto Entry = std::make_unique<TVLTDiskBLOBCache>();
  Encode(F, Data.data(), Size, *Entry);
  Entry->Modified = true;
  Entry->Owner = RecordBuffer;
  ClearBlobInRecordBuffer(RecordBuffer, FieldNo, true);
  // Handles are unique in the process: a buffer that outlived its table's manager (or a copy of
  // one) can never name an entry of another.
  static std::atomic<uint32_t> LastHandle{0};
  uint32_t Handle = ++LastHandle;
  if (Handle == 0) Handle = ++LastHandle;
  FBlobCacheList[Handle] = std::move(Entry);
  StoreLE<uint32_t>(RecordBuffer + F.FMemoryOffset + 6, Handle);
  VLTSetFieldNull(RecordBuffer, FieldNo, Size == 0);
}

void TVLTDiskBlobManager::ClearBlobInRecordBuffer(uint8_t* RecordBuffer, int32_t FieldNo,
                                                  bool ForceClear) {
  const TVLTFieldDef& F = FieldDef(FieldNo);
  uint8_t* HandleAt = RecordBuffer + F.FMemoryOffset + 6;
  const uint32_t Handle = LoadLE<uint32_t>(HandleAt);
  if (Handle == 0) return;
  auto It = FBlobCacheList.find(Handle);
  if (It != FBlobCacheList.end() && !ForceClear) {
    const TVLTDiskBLOBCache& C = *It->second;
    if (C.Owner != RecordBuffer) {
      // A copy of the owner's buffer only forgets the handle; the owner's value stays.
      StoreLE<uint32_t>(HandleAt, 0);
      return;
    }
    if (C.Modified) return;  // a changed value waits for its record to be written
  }
  if (It != FBlobCacheList.end()) FBlobCacheList.erase(It);
  StoreLE<uint32_t>(HandleAt, 0);
}

void TVLTDiskBlobManager::ReleaseRecordBuffer(uint8_t* RecordBuffer) {
  if (!RecordBuffer) return;
  for (int32_t I = 0; I < LFieldManager->FieldCount(); ++I) {
    const TVLTFieldDef& F = LFieldManager->FieldDefs()[I];
    if (!IsBlobBaseType(F.FBaseFieldType)) continue;
    uint8_t* HandleAt = RecordBuffer + F.FMemoryOffset + 6;
    auto It = FBlobCacheList.find(LoadLE<uint32_t>(HandleAt));
    if (It != FBlobCacheList.end() && It->second->Owner == RecordBuffer) FBlobCacheList.erase(It);
    StoreLE<uint32_t>(HandleAt, 0);
  }
}

// ---- writing and deleting record values ----

void TVLTDiskBlobManager::Remember(uint8_t* RecordBuffer, int32_t FieldNo) {
  const TVLTFieldDef& F = FieldDef(FieldNo);
  TPendingChange C;
  C.Buffer = RecordBuffer;
  C.FieldNo = FieldNo;
  std::memcpy(C.Slot, RecordBuffer + F.FMemoryOffset, kBlobMemorySlotSize);
  C.Null = VLTIsFieldNull(RecordBuffer, FieldNo);
  FPending.push_back(C);
}

void TVLTDiskBlobManager::Replace(TVLTSessionID SessionID, const TVLTPageItemID& Old) {
  if (!HasStoredValue(Old)) return;
  if (FDeferring)
    FPending.back().Replaced = Old;
  else
    DeleteValue(SessionID, Old);
}

void TVLTDiskBlobManager::DropCache(uint8_t* RecordBuffer, int32_t FieldNo) {
  if (FDeferring) {
    // The entry stays until the change is kept: a failed write gives the buffer its value back.
    StoreLE<uint32_t>(RecordBuffer + FieldDef(FieldNo).FMemoryOffset + 6, 0);
    return;
  }
  ClearBlobInRecordBuffer(RecordBuffer, FieldNo, true);
}

void TVLTDiskBlobManager::WriteBlob(TVLTSessionID SessionID, uint8_t* RecordBuffer,
                                    int32_t FieldNo, bool Inserting) {
  const TVLTFieldDef& F = FieldDef(FieldNo);
  TVLTDiskBLOBCache* C = FindCache(RecordBuffer, F);
  const TVLTPageItemID Old = GetReference(RecordBuffer, F);
  const bool Null = VLTIsFieldNull(RecordBuffer, FieldNo);
  const bool Changed = Null || (C && C->Modified) || (Inserting && HasStoredValue(Old));
  if (!Changed) return;
  if (FDeferring) Remember(RecordBuffer, FieldNo);
  if (Null) {
    // An emptied value: the stored one goes (on insert it belongs to the record copied from).
    if (!Inserting) Replace(SessionID, Old);
    if (HasStoredValue(Old) || Inserting) SetReference(RecordBuffer, F, {kNoPage, kBlobLargeItemNo});
    if (C) DropCache(RecordBuffer, FieldNo);
    return;
  }
  if (!C || !C->Modified) {
    // A reference copied from another record: this record gets a value of its own.
    TVLTDiskBLOBCache Copy;
    LoadValue(SessionID, Old, Copy);
    const TVLTPageItemID New = StoreValue(SessionID, Copy);
    if (FDeferring) FPending.back().Stored = New;
    SetReference(RecordBuffer, F, New);
    return;
  }
  if (!Inserting) Replace(SessionID, Old);
  TVLTPageItemID New{kNoPage, kBlobLargeItemNo};
  if (C->UncompressedSize > 0) New = StoreValue(SessionID, *C);
  if (FDeferring) FPending.back().Stored = New;
  SetReference(RecordBuffer, F, New);
  if (C->UncompressedSize <= 0) VLTSetFieldNull(RecordBuffer, FieldNo, true);
  DropCache(RecordBuffer, FieldNo);
}

void TVLTDiskBlobManager::WriteBlobs(TVLTSessionID SessionID, uint8_t* RecordBuffer,
                                     bool Inserting) {
  for (int32_t I = 0; I < LFieldManager->FieldCount(); ++I)
    if (IsBlobBaseType(LFieldManager->FieldDefs()[I].FBaseFieldType))
      WriteBlob(SessionID, RecordBuffer, I, Inserting);
}

void TVLTDiskBlobManager::DeleteBlob(TVLTSessionID SessionID, uint8_t* RecordBuffer,
                                     int32_t FieldNo) {
  const TVLTFieldDef& F = FieldDef(FieldNo);
  const TVLTPageItemID R = GetReference(RecordBuffer, F);
  if (FDeferring) Remember(RecordBuffer, FieldNo);
  Replace(SessionID, R);
  SetReference(RecordBuffer, F, {kNoPage, kBlobLargeItemNo});
}

void TVLTDiskBlobManager::DeleteBlobs(TVLTSessionID SessionID, uint8_t* RecordBuffer) {
  for (int32_t I = 0; I < LFieldManager->FieldCount(); ++I)
    if (IsBlobBaseType(LFieldManager->FieldDefs()[I].FBaseFieldType))
      DeleteBlob(SessionID, RecordBuffer, I);
}

void TVLTDiskBlobManager::BeginRecordChange() {
  FPending.clear();
  FDeferring = true;
}

void TVLTDiskBlobManager::KeepRecordChange(TVLTSessionID SessionID) {
  if (!FDeferring) return;
  FDeferring = false;
  std::vector<TPendingChange> Pending;
  Pending.swap(FPending);
  for (const TPendingChange& C : Pending) {
    if (HasStoredValue(C.Replaced)) {
      try {
        DeleteValue(SessionID, C.Replaced);
      } catch (const EVLTException&) {
        // A value that cannot be read cannot be freed either; the record no longer needs it.
      }
    }
    const uint32_t Handle = LoadLE<uint32_t>(C.Slot + 6);
    if (Handle != 0) FBlobCacheList.erase(Handle);
  }
}

void TVLTDiskBlobManager::UndoRecordChange(TVLTSessionID SessionID) noexcept {
  if (!FDeferring) return;
  FDeferring = false;
  std::vector<TVLTPageItemID> Stored;
  for (auto It = FPending.rbegin(); It != FPending.rend(); ++It) {
    if (HasStoredValue(It->Stored)) Stored.push_back(It->Stored);
    const TVLTFieldDef& F = LFieldManager->FieldDefs()[It->FieldNo];
    std::memcpy(It->Buffer + F.FMemoryOffset, It->Slot, kBlobMemorySlotSize);
    VLTSetFieldNull(It->Buffer, It->FieldNo, It->Null);
  }
  FPending.clear();
  for (const TVLTPageItemID& R : Stored) {
    try {
      DeleteValue(SessionID, R);
    } catch (...) {
      // A value that cannot be deleted stays unreferenced; the table check reports it.
    }
  }
}

void TVLTDiskBlobManager::Empty(TVLTSessionID SessionID) {
  if (!BlobFields() || !LRecordManager) return;
  TVLTBuffer Record(static_cast<size_t>(std::max(LRecordManager->FRecordBufferSize, 1)));
  TVLTNavigationInfo Nav;
  Nav.GetRecordMode = grmNext;
  Nav.FirstPosition = true;
  Nav.RecordBuffer = Record.data();
  for (;;) {
    LRecordManager->GetRecordBuffer(SessionID, Nav);
    if (Nav.GetRecordResult != grrOK) break;
    Nav.FirstPosition = false;
    for (int32_t I = 0; I < LFieldManager->FieldCount(); ++I) {
      const TVLTFieldDef& F = LFieldManager->FieldDefs()[I];
      if (!IsBlobBaseType(F.FBaseFieldType)) continue;
      const TVLTPageItemID R = GetReference(Record.data(), F);
      if (!HasStoredValue(R)) continue;
      try {
        DeleteValue(SessionID, R);
      } catch (const EVLTException&) {
        // A damaged value must not keep the table from being emptied.
      }
    }
  }
  if (FBlobPageIndex.RootPageNo() == kNoPage) return;
  // Small-value pages a damaged value left behind go with the index entries.
  std::vector<TVLTPageNo> Left;
  TVLTPageNo No = kNoPage;
  if (FBlobPageIndex.GetFirstPage(SessionID, No)) do
      Left.push_back(No);
    while (FBlobPageIndex.GetNextPage(SessionID, No, No));
  for (TVLTPageNo P : Left) LPageManager->RemovePage(SessionID, P);
  FBlobPageIndex.EmptyIndex(SessionID);
}

void TVLTDiskBlobManager::Delete(TVLTSessionID SessionID) {
  Empty(SessionID);
  if (FBlobPageIndex.RootPageNo() != kNoPage) FBlobPageIndex.DropIndex(SessionID);
}

// ---- stored values ----

TVLTPageItemID TVLTDiskBlobManager::StoreValue(TVLTSessionID SessionID, const TVLTDiskBLOBCache& Value) {
  const int64_t DataSize = static_cast<int64_t>(Value.BlobData.size());
  if (DataSize + 24 < PageDataSize()) return StoreSmall(SessionID, Value);
  return StoreLarge(SessionID, Value);
}

TVLTPageItemID TVLTDiskBlobManager::StoreSmall(TVLTSessionID SessionID, const TVLTDiskBLOBCache& Value) {
  if (FBlobPageIndex.RootPageNo() == kNoPage) {
    FBlobPageIndex.CreateIndex(SessionID);
    if (FOnIndexCreated) FOnIndexCreated(SessionID);
  }
  const uint16_t Amount = static_cast<uint16_t>(Value.BlobData.size() + kBlobEntryHeaderSize);
  TVLTPageHandle Page(*LPageManager);
  TVLTPageNo PageNo = kNoPage;
  bool NewPage = false;
  if (FBlobPageIndex.FindPageForNewBlob(SessionID, Amount, PageNo)) {
    GetBlobPage(Page, SessionID, PageNo);
  } else {
    AddBlobPage(Page, SessionID, FTableID);
    std::memset(Page->PageData(), 0, static_cast<size_t>(PageDataSize()));
    NewPage = true;
  }
  TVLTSmallBlobPage View(Page.get());
  uint16_t ItemNo = 0;
  try {
    View.AddBlob(Value, ItemNo);
  } catch (...) {
    if (NewPage) {
      const TVLTPageNo No = Page->PageNo();
      Page.Release();
      LPageManager->RemovePage(SessionID, No);
    }
    throw;
  }
  const TVLTPageNo No = Page->PageNo();
  try {
    FBlobPageIndex.AddBlob(SessionID, No, Amount);
  } catch (...) {
    int32_t Freed = 0;
    View.DeleteBlob(ItemNo, Freed);
    if (NewPage) {
      Page.Release();
      LPageManager->RemovePage(SessionID, No);
    }
    throw;
  }
  return {No, ItemNo};
}

TVLTPageItemID TVLTDiskBlobManager::StoreLarge(TVLTSessionID SessionID, const TVLTDiskBLOBCache& Value) {
  const int32_t PDS = PageDataSize();
  const int64_t DataSize = static_cast<int64_t>(Value.BlobData.size());
  const uint8_t* Data = Value.BlobData.data();
  // Every page written is held until the end: the first page (header, locator), the last data
  // page and the list pages are written to after they were added.
  std::vector<TVLTPageHandle> Held;
  std::vector<TVLTPageNo> AllAdded;
  auto NewPage = [&]() {
    Held.emplace_back(*LPageManager);
    Held.back().Add(SessionID, ptTableBlob);
    TVLTPage* P = Held.back().get();
    AllAdded.push_back(P->PageNo());
    P->PageHeader()->ObjectID = FTableID;
    std::memset(P->PageData(), 0, static_cast<size_t>(PDS));
    P->SetIsDirty(true);
    return P;
  };
  auto PutAll = [&]() {
    Held.clear();
  };
  try {
    TVLTPage* First = NewPage();
    uint8_t* FD = First->PageData();
    StoreEntryHeader(FD, kBlobLargeItemNo, Value);
    // Data: from offset 32 of the first page, then whole further pages.
    std::vector<TVLTPageNo> DataPages{First->PageNo()};
    int64_t Done = std::min<int64_t>(DataSize, PDS - kBlobLargeDataOffset);
    std::memcpy(FD + kBlobLargeDataOffset, Data, static_cast<size_t>(Done));
    TVLTPage* Last = First;
    int32_t EndOffset = kBlobLargeDataOffset + static_cast<int32_t>(Done);
    while (Done < DataSize) {
      TVLTPage* P = NewPage();
      DataPages.push_back(P->PageNo());
      const int64_t N = std::min<int64_t>(DataSize - Done, PDS);
      std::memcpy(P->PageData(), Data + Done, static_cast<size_t>(N));
      Done += N;
      EndOffset = static_cast<int32_t>(N);
      if (Done < DataSize) {
        // A full middle page is not needed again.
        Held.pop_back();
      } else {
        Last = P;
      }
    }
    // The page list: after the data in the last data page, else on new pages chained on.
    TVLTPage* Current = Last;
    int32_t At = EndOffset;
    if (At >= PDS) {
      TVLTPage* P = NewPage();
      Current->PageHeader()->NextPageNo = P->PageNo();
      Current = P;
      At = 0;
    }
    const TVLTPageNo ListPageNo = Current->PageNo();
    const int32_t ListStart = At;
    for (TVLTPageNo No : DataPages) {
      if (At + 4 > PDS) {
        TVLTPage* P = NewPage();
        Current->PageHeader()->NextPageNo = P->PageNo();
        Current->SetIsDirty(true);
        Current = P;
        At = 0;
      }
      StoreLE<int32_t>(Current->PageData() + At, No);
      Current->SetIsDirty(true);
      At += 4;
    }
    StoreLE<int32_t>(FD + kListPageAt, ListPageNo);
    StoreLE<uint16_t>(FD + kListOffsetAt, static_cast<uint16_t>(ListStart));
    StoreLE<int32_t>(FD + kPageCountAt, static_cast<int32_t>(DataPages.size()));
    First->SetIsDirty(true);
    const TVLTPageNo FirstNo = First->PageNo();
    PutAll();
    return {FirstNo, kBlobLargeItemNo};
  } catch (...) {
    PutAll();
    for (TVLTPageNo No : AllAdded) {
      try {
        LPageManager->RemovePage(SessionID, No);
      } catch (...) {
        // The error on its way out is the one the caller gets; this clean-up failing adds nothing
        // to it.
      }
    }
    throw;
  }
}

bool TVLTDiskBlobManager::LooksLarge(TVLTSessionID SessionID, TVLTPageNo PageNo) {
  try {
    TVLTPageHandle Page(*LPageManager);
    GetBlobPage(Page, SessionID, PageNo);
    const uint8_t* D = Page->PageData();
    const int64_t Size = LoadLE<int64_t>(D + kDataSizeAt);
    const int64_t Count = LoadLE<int32_t>(D + kPageCountAt);
    const int64_t PDS = PageDataSize();
    return Size < Count * PDS && Size > (Count - 2) * PDS;
  } catch (const EVLTException&) {
    return false;
  }
}

void TVLTDiskBlobManager::ReadLargeLayout(TVLTSessionID SessionID, TVLTPageNo FirstPage,
                                          int64_t& DataSize, int32_t& NumBlocks,
                                          int64_t& UncompressedSize,
                                          std::vector<TVLTPageNo>& DataPages,
                                          std::vector<TVLTPageNo>& ListPages) {
  const int32_t PDS = PageDataSize();
  TVLTPageHandle Page(*LPageManager);
  GetBlobPage(Page, SessionID, FirstPage);
  const uint8_t* FD = Page->PageData();
  NumBlocks = LoadLE<int32_t>(FD + kNumBlocksAt);
  DataSize = LoadLE<int64_t>(FD + kDataSizeAt);
  UncompressedSize = LoadLE<int64_t>(FD + kUncompressedAt);
  TVLTPageNo ListPageNo = LoadLE<int32_t>(FD + kListPageAt);
  int32_t At = LoadLE<uint16_t>(FD + kListOffsetAt);
  const int32_t PageCount = LoadLE<int32_t>(FD + kPageCountAt);
  // The page count must be the one the data size needs.
  const int64_t Needed =
      DataSize <= PDS - kBlobLargeDataOffset
          ? 1
          : 1 + (DataSize - (PDS - kBlobLargeDataOffset) + PDS - 1) / PDS;
  if (DataSize < 0 || UncompressedSize < 0 || PageCount <= 0 || PageCount != Needed ||
      ListPageNo <= 0 || At > PDS)
    RaiseUnreadable();
  Page.Release();
  DataPages.clear();
  ListPages.clear();
  std::set<TVLTPageNo> Seen;
  while (static_cast<int32_t>(DataPages.size()) < PageCount) {
    if (ListPageNo <= 0 || !Seen.insert(ListPageNo).second) RaiseUnreadable();
    ListPages.push_back(ListPageNo);
    GetBlobPage(Page, SessionID, ListPageNo);
    const uint8_t* D = Page->PageData();
    for (; At + 4 <= PDS && static_cast<int32_t>(DataPages.size()) < PageCount; At += 4) {
      const TVLTPageNo No = LoadLE<int32_t>(D + At);
      if (No <= 0) RaiseUnreadable();
      DataPages.push_back(No);
    }
    ListPageNo = Page->PageHeader()->NextPageNo;
    At = 0;
  }
  Page.Release();
  if (DataPages.front() != FirstPage) RaiseUnreadable();
}

void TVLTDiskBlobManager::LoadLarge(TVLTSessionID SessionID, TVLTPageNo FirstPage,
                                    TVLTDiskBLOBCache& Out) {
  const int32_t PDS = PageDataSize();
  int64_t DataSize = 0, Uncompressed = 0;
  int32_t NumBlocks = 0;
  std::vector<TVLTPageNo> DataPages, ListPages;
  ReadLargeLayout(SessionID, FirstPage, DataSize, NumBlocks, Uncompressed, DataPages, ListPages);
  TVLTBuffer Data(static_cast<size_t>(std::max<int64_t>(DataSize, 1)));
  int64_t Done = 0;
  TVLTPageHandle Page(*LPageManager);
  for (size_t I = 0; I < DataPages.size() && Done < DataSize; ++I) {
    GetBlobPage(Page, SessionID, DataPages[I]);
    const int32_t From = I == 0 ? kBlobLargeDataOffset : 0;
    const int64_t N = std::min<int64_t>(DataSize - Done, PDS - From);
    std::memcpy(Data.data() + Done, Page->PageData() + From, static_cast<size_t>(N));
    Done += N;
  }
  if (Done != DataSize) RaiseUnreadable();
  Out.NumBlocks = NumBlocks;
  Out.UncompressedSize = Uncompressed;
  Out.Modified = false;
  if (DataSize > 0) Data.Resize(static_cast<size_t>(DataSize));
  Out.BlobData = DataSize > 0 ? std::move(Data) : TVLTBuffer();
}

bool TVLTDiskBlobManager::LoadSmall(TVLTSessionID SessionID, const TVLTPageItemID& R,
                                    TVLTDiskBLOBCache& Out) {
  TVLTPageHandle Page(*LPageManager);
  GetBlobPage(Page, SessionID, R.PageNo);
  return TVLTSmallBlobPage(Page.get()).ReadBlob(Out, R.PageItemNo);
}

void TVLTDiskBlobManager::LoadValue(TVLTSessionID SessionID, const TVLTPageItemID& Reference,
                                    TVLTDiskBLOBCache& Out) {
  if (!HasStoredValue(Reference)) RaiseUnreadable();
  try {
    if (Reference.PageItemNo == kBlobLargeItemNo) {
      LoadLarge(SessionID, Reference.PageNo, Out);
      return;
    }
    if (Reference.PageItemNo == 255 && LooksLarge(SessionID, Reference.PageNo)) {
      try {
        LoadLarge(SessionID, Reference.PageNo, Out);
        return;
      } catch (const EVLTException&) {
      }
      if (LoadSmall(SessionID, Reference, Out)) return;
      RaiseUnreadable();
    }
    if (LoadSmall(SessionID, Reference, Out)) return;
    if (Reference.PageItemNo == 255) {
      LoadLarge(SessionID, Reference.PageNo, Out);
      return;
    }
  } catch (const EVLTException& E) {
    if (E.NativeError() == kErrCannotReadBLOBField) throw;
    throw EVLTException(kErrCannotReadBLOBField, "Cannot read BLOB field value (%s)",
                        {std::string(E.what())});
  }
  RaiseUnreadable();
}

bool TVLTDiskBlobManager::DeleteSmall(TVLTSessionID SessionID, const TVLTPageItemID& R) {
  TVLTPageHandle Page(*LPageManager);
  GetBlobPage(Page, SessionID, R.PageNo);
  TVLTSmallBlobPage View(Page.get());
  int32_t Freed = 0;
  if (!View.DeleteBlob(R.PageItemNo, Freed)) return false;
  const bool Emptied = View.BlobCount() == 0;
  Page.Release();
  if (Emptied) LPageManager->RemovePage(SessionID, R.PageNo);
  if (FBlobPageIndex.RootPageNo() != kNoPage)
    FBlobPageIndex.RemoveBlob(SessionID, R.PageNo, static_cast<uint16_t>(Freed));
  return true;
}

std::vector<TVLTPageNo> TVLTDiskBlobManager::LargeValuePages(TVLTSessionID SessionID,
                                                             TVLTPageNo FirstPage) {
  int64_t DataSize = 0, Uncompressed = 0;
  int32_t NumBlocks = 0;
  std::vector<TVLTPageNo> DataPages, ListPages;
  ReadLargeLayout(SessionID, FirstPage, DataSize, NumBlocks, Uncompressed, DataPages, ListPages);
  std::vector<TVLTPageNo> All = DataPages;
  for (TVLTPageNo No : ListPages)
    if (std::find(All.begin(), All.end(), No) == All.end()) All.push_back(No);
  return All;
}

void TVLTDiskBlobManager::DeleteLarge(TVLTSessionID SessionID, TVLTPageNo FirstPage) {
  for (TVLTPageNo No : LargeValuePages(SessionID, FirstPage)) LPageManager->RemovePage(SessionID, No);
}

void TVLTDiskBlobManager::DeleteValue(TVLTSessionID SessionID, const TVLTPageItemID& Reference) {
  if (!HasStoredValue(Reference)) return;
  if (Reference.PageItemNo == kBlobLargeItemNo) {
    DeleteLarge(SessionID, Reference.PageNo);
    return;
  }
  if (Reference.PageItemNo == 255 && LooksLarge(SessionID, Reference.PageNo)) {
    try {
      DeleteLarge(SessionID, Reference.PageNo);
      return;
    } catch (const EVLTException&) {
    }
    if (DeleteSmall(SessionID, Reference)) return;
  } else {
    if (DeleteSmall(SessionID, Reference)) return;
    if (Reference.PageItemNo == 255) {
      DeleteLarge(SessionID, Reference.PageNo);
      return;
    }
  }
  throw EVLTException(kErrCannotFindBlobField, "Cannot find blob field");
}

// ---- check ----

void TVLTDiskBlobManager::Check(TVLTSessionID SessionID, std::vector<std::string>& Problems,
                                const std::set<TVLTPageNo>* FoundPages) {
  if (!LRecordManager) return;
  auto Problem = [&](const std::string& Text) { Problems.push_back(Text); };
  const bool Fields = BlobFields();
  // Small-value pages listed by the index, with the bytes it says they use.
  std::map<TVLTPageNo, uint16_t> Listed;
  if (FBlobPageIndex.RootPageNo() != kNoPage) {
    try {
      FBlobPageIndex.Tree().CheckIntegrity(SessionID);
      TVLTPageNo No = kNoPage;
      if (FBlobPageIndex.GetFirstPage(SessionID, No)) do {
          uint16_t Amount = 0;
          FBlobPageIndex.FindPage(SessionID, No, Amount);
          Listed[No] = Amount;
        } while (FBlobPageIndex.GetNextPage(SessionID, No, No));
    } catch (const std::exception& E) {
      Problem(std::string("the BLOB page index cannot be read: ") + E.what());
    }
  }
  std::map<TVLTPageNo, std::vector<uint16_t>> SmallItems;  // items on each listed page
  for (const auto& [No, Amount] : Listed) {
    try {
      TVLTPageHandle Page(*LPageManager);
      GetBlobPage(Page, SessionID, No);
      TVLTSmallBlobPage View(Page.get());
      if (Page->PageHeader()->ObjectID != FTableID)
        Problem("BLOB page " + std::to_string(No) + " belongs to another object");
      const int32_t Used = View.UsedSize();
      if (Used != Amount)
        Problem("BLOB page " + std::to_string(No) + " uses " + std::to_string(Used) +
                " bytes, the BLOB page index says " + std::to_string(Amount));
      SmallItems[No] = View.ItemNumbers();
    } catch (const std::exception& E) {
      Problem("BLOB page " + std::to_string(No) + ": " + E.what());
    }
  }
  if (!Fields) return;
  // Every stored value of every record must be readable, and each at most once referenced.
  std::set<TVLTPageItemID> Referenced;
  std::set<TVLTPageNo> LargePages;
  TVLTBuffer Record(static_cast<size_t>(std::max(LRecordManager->FRecordBufferSize, 1)));
  TVLTNavigationInfo Nav;
  Nav.GetRecordMode = grmNext;
  Nav.FirstPosition = true;
  Nav.RecordBuffer = Record.data();
  int64_t Records = 0;
  bool Walked = false;
  try {
    for (;;) {
      LRecordManager->GetRecordBuffer(SessionID, Nav);
      if (Nav.GetRecordResult != grrOK) break;
      Nav.FirstPosition = false;
      if (++Records > LRecordManager->FRecordCount + 1) break;
      const std::string Where = "record (" + std::to_string(Nav.RecordID.PageNo) + ", " +
                                std::to_string(Nav.RecordID.PageItemNo) + ")";
      for (int32_t I = 0; I < LFieldManager->FieldCount(); ++I) {
        const TVLTFieldDef& F = LFieldManager->FieldDefs()[I];
        if (!IsBlobBaseType(F.FBaseFieldType)) continue;
        const TVLTPageItemID R = GetReference(Record.data(), F);
        if (!HasStoredValue(R)) continue;
        const std::string What = Where + " field " + F.FName;
        if (!Referenced.insert(R).second) {
          Problem(What + " shares its stored value with another record");
          continue;
        }
        try {
          TVLTDiskBLOBCache V;
          LoadValue(SessionID, R, V);
          TVLTMemoryStream Out;
          Decode(F, V, Out);
          if (R.PageItemNo == kBlobLargeItemNo)
            for (TVLTPageNo No : LargeValuePages(SessionID, R.PageNo)) LargePages.insert(No);
          else if (!Listed.count(R.PageNo))
            Problem(What + ": its BLOB page " + std::to_string(R.PageNo) +
                    " is not in the BLOB page index");
        } catch (const std::exception& E) {
          Problem(What + ": " + E.what());
        }
      }
    }
    Walked = true;
  } catch (const std::exception& E) {
    Problem(std::string("reading the records for their BLOB values: ") + E.what());
  }
  if (Walked && FoundPages)
    for (TVLTPageNo No : *FoundPages)
      if (!Listed.count(No) && !LargePages.count(No))
        Problem("BLOB page " + std::to_string(No) + " belongs to no stored value");
  for (const auto& [No, Items] : SmallItems)
    for (uint16_t Item : Items)
      if (!Referenced.count(TVLTPageItemID{No, Item}))
        Problem("BLOB page " + std::to_string(No) + " holds item " + std::to_string(Item) +
                " that no record refers to");
  for (TVLTPageNo No : LargePages)
    if (Listed.count(No))
      Problem("BLOB page " + std::to_string(No) +
              " is part of a large value and listed by the BLOB page index");
}

}  // namespace vlt
