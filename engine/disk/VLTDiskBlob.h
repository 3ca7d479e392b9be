// BLOB storage of a disk table: memo, BLOB and graphic values live outside the record, in
// ptTableBlob pages. A small value shares a page with other small values; a large value gets a
// chain of pages of its own. The table's BLOB page index (a page index B-tree keyed by page
// number, amount = bytes used) finds small-value pages with room.
//
// A value is always kept as a block chain (VLTCompressedBLOBStream.h) built with the field's
// block size, compression algorithm and mode, starting at position 0 of a byte buffer. What is
// stored is that buffer ("data", DataSize bytes) with the chain's block count and uncompressed
// size; the chain's descriptor is rebuilt from the field definition.
//
// BLOB slot of a record:
//
//   OFFSET  SIZE  CONTENT
//   0       4     PageNo (Int32): 0 or -1 = no stored value; else the small-value page or the
//                 first page of a large value
//   4       2     PageItemNo (UInt16): item number on a small-value page; 65535 = large value
//   6       4     memory record only: handle of the value's cache entry (0 = none)
//
// A deleted value leaves the reference (-1, 65535).
//
// Small-value page (ptTableBlob), offsets within the page data:
//
//   OFFSET  SIZE  CONTENT
//   0       2     BlobCount (UInt16)
//   2       ...   BlobCount entries packed one after the other: a 22-byte entry header, then
//                 DataSize bytes of data
//
// Entry header (also the header of a large value's first page):
//
//   OFFSET  SIZE  CONTENT
//   0       2     item number (UInt16; meaningless on a large value's first page)
//   2       4     NumBlocks (Int32)
//   6       8     DataSize (Int64)
//   14      8     UncompressedSize (Int64)
//
// Large value, first page (page data offsets):
//
//   OFFSET  SIZE  CONTENT
//   0       22    entry header as above
//   22      4     ListPageNo (Int32): page where the page list starts
//   26      2     ListOffset (UInt16): offset of the page list in that page's data
//   28      4     PageCount (Int32): number of data pages, the first included
//   32      rest  the first data bytes
//
// Further data pages hold data from offset 0 to the end of the page data. The page list holds
// PageCount page numbers (Int32, in data order) from ListOffset of ListPageNo on, continuing from
// offset 0 of the pages chained by the page header's NextPageNo. It starts right after the data
// in the last data page, or on a new page when that page is full.
//
// A value is small when DataSize + 24 < page data size (the count and its header fit beside it).
// Every BLOB page carries the table's object id in its header. Values are never changed in
// place: writing a changed value stores a new copy and deletes the old one.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "engine/base/VLTMemory.h"
#include "engine/base/VLTTypes.h"
#include "engine/core/VLTBTreePageIndex.h"

namespace vlt {

class TVLTBaseFieldManager;
class TVLTBaseRecordManager;
class TVLTFieldDef;
class TVLTPage;
class TVLTPageManager;
class TVLTStream;

constexpr int32_t kBlobEntryHeaderSize = 22;
constexpr int32_t kBlobLargeDataOffset = 32;
constexpr uint16_t kBlobLargeItemNo = 65535;
constexpr int32_t kBlobMemorySlotSize = 10;

// One cached value: the stored form (chain bytes, block count, uncompressed size).
struct TVLTDiskBLOBCache {
  int32_t NumBlocks = 0;
  int64_t UncompressedSize = 0;
  bool Modified = false;
  TVLTBuffer BlobData;
  // The record buffer the entry was made for: only that buffer frees it unforced, so that a
  // copy of the buffer being dropped leaves the value alone.
  const uint8_t* Owner = nullptr;
};

// A view over one small-value page (the page stays the caller's).
class TVLTSmallBlobPage {
 public:
  explicit TVLTSmallBlobPage(TVLTPage* Page);
  uint16_t BlobCount() const;
  void SetBlobCount(uint16_t Count);
  // Bytes the entries use (22 + DataSize each). 20291 when the entries run past the page.
  int32_t UsedSize() const;
  // Appends the value; 20290 when it does not fit, 20172 when no item number is free.
  void AddBlob(const TVLTDiskBLOBCache& Cache, uint16_t& ItemNo);
  // Removes the entry; false when the page has no such item. FreedSize = 22 + DataSize.
  bool DeleteBlob(uint16_t ItemNo, int32_t& FreedSize);
  // Fills Cache from the entry; false when the page has no such item.
  bool ReadBlob(TVLTDiskBLOBCache& Cache, uint16_t ItemNo) const;
  // Item numbers in page order (raises 20291 on a damaged page).
  std::vector<uint16_t> ItemNumbers() const;

 private:
  // Offset of the entry of ItemNo in the page data, -1 when missing.
  int32_t FindEntry(uint16_t ItemNo) const;
  int32_t EntrySize(int32_t Offset) const;
  TVLTPage* LPage;
  int32_t FDataSize;
};

class TVLTDiskBlobManager {
 public:
  TVLTDiskBlobManager(TVLTPageManager* PageManager, TVLTBaseFieldManager* FieldManager,
                      TVLTBaseRecordManager* RecordManager, int32_t TableID);
  // Frees every cache entry left.
  ~TVLTDiskBlobManager();
  TVLTDiskBlobManager(const TVLTDiskBlobManager&) = delete;
  TVLTDiskBlobManager& operator=(const TVLTDiskBlobManager&) = delete;

  // ---- the BLOB page index ----
  void CreateBlobPageIndex(TVLTSessionID SessionID);
  void OpenBlobPageIndex(TVLTPageNo RootPageNo) { FBlobPageIndex.OpenIndex(RootPageNo); }
  TVLTPageNo BlobPageIndexRoot() const { return FBlobPageIndex.RootPageNo(); }
  TVLTBTreeBlobPageIndex& BlobPageIndex() { return FBlobPageIndex; }
  // Called when a table without an index (made before its BLOB fields could hold values) gets
  // one on its first small value: the table stores the new root.
  std::function<void(TVLTSessionID)> FOnIndexCreated;

  // Deletes the values of every record, then empties the index. Values that cannot be read are
  // passed over so that a damaged page never blocks emptying.
  void Empty(TVLTSessionID SessionID);
  // Empties, then drops the index.
  void Delete(TVLTSessionID SessionID);

  // ---- record buffers (memory layout) ----
  static TVLTPageItemID GetReference(const uint8_t* RecordBuffer, const TVLTFieldDef& F);
  static void SetReference(uint8_t* RecordBuffer, const TVLTFieldDef& F, const TVLTPageItemID& R);
  static bool HasStoredValue(const TVLTPageItemID& R) { return R.PageNo > 0; }

  // The uncompressed value of the field into Stream (from its cache entry, else from the
  // pages); nothing for NULL. 20162 when the stored value cannot be read.
  void ReadValue(TVLTSessionID SessionID, const uint8_t* RecordBuffer, int32_t FieldNo,
                 TVLTStream& Stream);
  // Stream's content from its start becomes the field's new (modified, cached) value; an empty
  // stream makes the field NULL.
  void SetValue(uint8_t* RecordBuffer, int32_t FieldNo, TVLTStream& Stream);
  // Frees the slot's cache entry and clears the handle. Unforced, a modified entry stays, and a
  // buffer that did not make the entry (a copy) only forgets the handle.
  void ClearBlobInRecordBuffer(uint8_t* RecordBuffer, int32_t FieldNo, bool ForceClear);
  // The buffer goes away (or its record was deleted): the entries it made are freed, modified
  // or not; handles of entries other buffers made are forgotten.
  void ReleaseRecordBuffer(uint8_t* RecordBuffer);

  // Stores a changed value and deletes the one it replaces; a NULL field loses its stored value.
  // With Inserting, a reference without a changed value (copied from another record) gets a
  // copy of its own, so that no two records share a stored value.
  void WriteBlob(TVLTSessionID SessionID, uint8_t* RecordBuffer, int32_t FieldNo, bool Inserting);
  void WriteBlobs(TVLTSessionID SessionID, uint8_t* RecordBuffer, bool Inserting);
  void DeleteBlob(TVLTSessionID SessionID, uint8_t* RecordBuffer, int32_t FieldNo);
  void DeleteBlobs(TVLTSessionID SessionID, uint8_t* RecordBuffer);

  // ---- one record change ----
  // Between BeginRecordChange and KeepRecordChange / UndoRecordChange, WriteBlob(s) and
  // DeleteBlob(s) store new values at once but delete the values they replace only when the
  // change is kept, and remember the buffers' slots: a record change that fails after its
  // BLOBs were written leaves the old values stored and gives the buffer back its cached,
  // unsaved values.
  void BeginRecordChange();
  // Deletes the replaced values and frees the written values' cache entries.
  void KeepRecordChange(TVLTSessionID SessionID);
  // Deletes the values stored since BeginRecordChange and restores the buffers' slots.
  void UndoRecordChange(TVLTSessionID SessionID) noexcept;
  bool InRecordChange() const { return FDeferring; }

  // ---- stored values ----
  // Compresses Size bytes into a stored form by the field's settings (20149 for block size 0).
  void Encode(const TVLTFieldDef& F, const uint8_t* Data, int64_t Size, TVLTDiskBLOBCache& Out);
  // The uncompressed bytes of a stored form into Stream.
  void Decode(const TVLTFieldDef& F, const TVLTDiskBLOBCache& Value, TVLTStream& Stream);
  TVLTPageItemID StoreValue(TVLTSessionID SessionID, const TVLTDiskBLOBCache& Value);
  // 20162 "Cannot read BLOB field value" when the reference names no readable value.
  void LoadValue(TVLTSessionID SessionID, const TVLTPageItemID& Reference, TVLTDiskBLOBCache& Out);
  // 20171 "Cannot find blob field" when the reference names no value.
  void DeleteValue(TVLTSessionID SessionID, const TVLTPageItemID& Reference);
  // The pages of a large value: data pages, then pages holding only the list.
  std::vector<TVLTPageNo> LargeValuePages(TVLTSessionID SessionID, TVLTPageNo FirstPage);

  // A read-only check of the table's BLOB pages against the index and the records' references;
  // one line per fault. FoundPages (optional): the table's ptTableBlob pages found in the file,
  // each of which must belong to a stored value or the index.
  void Check(TVLTSessionID SessionID, std::vector<std::string>& Problems,
             const std::set<TVLTPageNo>* FoundPages = nullptr);

  size_t CacheCount() const { return FBlobCacheList.size(); }

 private:
  bool BlobFields() const;
  const TVLTFieldDef& FieldDef(int32_t FieldNo) const;
  TVLTDiskBLOBCache* FindCache(const uint8_t* RecordBuffer, const TVLTFieldDef& F);
  int32_t PageDataSize() const;
  TVLTPageItemID StoreSmall(TVLTSessionID SessionID, const TVLTDiskBLOBCache& Value);
  TVLTPageItemID StoreLarge(TVLTSessionID SessionID, const TVLTDiskBLOBCache& Value);
  bool LoadSmall(TVLTSessionID SessionID, const TVLTPageItemID& R, TVLTDiskBLOBCache& Out);
  void LoadLarge(TVLTSessionID SessionID, TVLTPageNo FirstPage, TVLTDiskBLOBCache& Out);
  bool DeleteSmall(TVLTSessionID SessionID, const TVLTPageItemID& R);
  void DeleteLarge(TVLTSessionID SessionID, TVLTPageNo FirstPage);
  // Whether the first page of item 255 looks like a large value's (the old ambiguous number).
  bool LooksLarge(TVLTSessionID SessionID, TVLTPageNo PageNo);
  // Header and list of a large value; raises on anything inconsistent.
  void ReadLargeLayout(TVLTSessionID SessionID, TVLTPageNo FirstPage, int64_t& DataSize,
                       int32_t& NumBlocks, int64_t& UncompressedSize,
                       std::vector<TVLTPageNo>& DataPages, std::vector<TVLTPageNo>& ListPages);

  struct TPendingChange {
    uint8_t* Buffer = nullptr;
    int32_t FieldNo = -1;
    uint8_t Slot[kBlobMemorySlotSize] = {};
    bool Null = true;
    TVLTPageItemID Stored{kNoPage, kBlobLargeItemNo};    // written by this change
    TVLTPageItemID Replaced{kNoPage, kBlobLargeItemNo};  // to delete when the change is kept
  };
  // Remembers the slot before WriteBlob / DeleteBlob change it.
  void Remember(uint8_t* RecordBuffer, int32_t FieldNo);
  // The stored value Old is replaced: deleted now, or when the change is kept.
  void Replace(TVLTSessionID SessionID, const TVLTPageItemID& Old);
  void DropCache(uint8_t* RecordBuffer, int32_t FieldNo);

  bool FDeferring = false;
  std::vector<TPendingChange> FPending;
  TVLTPageManager* LPageManager;
  TVLTBaseFieldManager* LFieldManager;
  TVLTBaseRecordManager* LRecordManager;
  int32_t FTableID;
  std::map<uint32_t, std::unique_ptr<TVLTDiskBLOBCache>> FBlobCacheList;
  TVLTBTreeBlobPageIndex FBlobPageIndex;
};

}  // namespace vlt
