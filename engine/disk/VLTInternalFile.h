// Internal files: the engine's own small files inside the database file, each a chain of pages.
//
// Chain: the first page of an internal file is its start page (the number the file is known
// by); every page of the chain carries the file's page type and, in NextPageNo, the next page of
// the file (-1 after the last). The file's bytes lie in the page data areas (D = PageDataSize
// bytes per page): the 10-byte internal-file header first, then the content.
//
// Two kinds:
//
// * Transacted (TVLTInternalDBTransactedAccessFile): read and written as a whole through the
//   page cache of a session, so changes take effect at that session's commit; the content may
//   be compressed. System directory, table list, table metadata and most-updated files.
//   Header (first 10 data bytes of the start page):
//
//     OFFSET SIZE CONTENT
//     0      1    HeaderSize = 10
//     1      4    StoredSize (Int32): content bytes stored (the compressed size when compressed)
//     5      4    DecompressedSize (Int32): content size as the caller sees it
//     9      1    CompressionAlgorithm (TVLTCompressionAlgorithm): 0 = stored as is
//
//   The stored bytes follow the header in the start page and continue at data offset 0 of each
//   following page, in chain order. A file that shrinks keeps its chain; growing reuses the
//   pages of the chain before adding new ones, so no page is ever cut off the chain.
//
// * Direct access (TVLTInternalDBDirectAccessFile): fixed size, read, written and byte-locked
//   directly in the file, outside caches and transactions; its pages are stored unencrypted
//   even in an encrypted database. Active sessions file and table locks files, whose bytes are
//   the targets of byte-range locks between processes.
//   Header (first 10 data bytes of the start page):
//
//     OFFSET SIZE CONTENT
//     0      1    10
//     1      4    Size S (Int32): content bytes
//     5      5    zero
//
// Lock positions. Content byte p is locked at chain page ceil((p + 10) / D) - 1, data offset
// (p + 10) mod D. Positions where p + 10 is a multiple of D therefore map to data offset 0 of
// the preceding chain page; every process locks exactly these bytes, so the mapping is part of
// the file format and must not change.
//
// Content positions. Reads and writes of content use the plain contiguous layout instead: byte p
// lies at chain page (p + 10) div D, data offset (p + 10) mod D. (The lock mapping would put
// position D - 10 onto the header's first bytes, so a record slot starting there would
// overwrite the stored file size.) Only the record slots of the locks files are ever written,
// and they are transient, so no stored data depend on the difference.
#pragma once

#include <cstdint>

#include "engine/base/VLTIntegerArray.h"
#include "engine/base/VLTTypes.h"

namespace vlt {

class TVLTDiskPageManager;

constexpr int32_t kInternalFileHeaderSize = 10;

// The 10-byte header of a transacted internal file.
struct TVLTInternalFileHeader {
  uint8_t HeaderSize = kInternalFileHeaderSize;
  int32_t StoredSize = 0;
  int32_t DecompressedSize = 0;
  uint8_t CompressionAlgorithm = acaNone;

  void SaveTo(uint8_t* P) const;
  static TVLTInternalFileHeader LoadFrom(const uint8_t* P);
};

// Pages an internal file of Size content bytes occupies when created: ceil((Size + 10) / D).
int32_t InternalFilePageCount(int64_t Size, uint16_t PageDataSize);

// The lock position of content byte Position (see above).
struct TVLTInternalFilePosition {
  int32_t ChainPage;    // 0 = start page
  uint16_t DataOffset;  // within the page data
};
TVLTInternalFilePosition InternalFileLockPosition(int64_t Position, uint16_t PageDataSize);
// The content position of byte Position (see above).
TVLTInternalFilePosition InternalFileContentPosition(int64_t Position, uint16_t PageDataSize);

class TVLTInternalDBTransactedAccessFile {
 public:
  TVLTInternalDBTransactedAccessFile(TVLTDiskPageManager* PageManager, uint16_t PageTypeID);

  // Adds the start page in the session with an empty header (10, 0, 0, 0). 30383 when the
  // object already has a file.
  void CreateFile(TVLTSessionID SessionID);
  // Only records the start page.
  void OpenFile(TVLTPageNo StartPageNo);
  void CloseFile() { FStartPageNo = kNoPage; }
  // Removes every page of the chain in the session (StartPageNo -1: the recorded one) and
  // closes the file.
  void DeleteFile(TVLTSessionID SessionID, TVLTPageNo StartPageNo = kNoPage);

  // The header values; FileWasChanged tells that the start page was just (re)read from the file.
  void GetFileSize(TVLTSessionID SessionID, int32_t& Size, int32_t& DecompressedSize,
                   TVLTCompressionAlgorithm& CompressionAlgorithm, bool& FileWasChanged,
                   bool SynchronizeAllowed = true);
  int32_t GetSize(TVLTSessionID SessionID);  // DecompressedSize
  // GetSize for callers about to allocate a buffer of that size: a size that is negative or
  // larger than the whole database file is damage and raises 30388.
  int32_t GetCheckedSize(TVLTSessionID SessionID);
  // NewSize is the new StoredSize. Grows the chain as needed (reusing pages a shrink kept).
  void SetFileSize(TVLTSessionID SessionID, int32_t NewSize, int32_t DecompressedSize,
                   TVLTCompressionAlgorithm CompressionAlgorithm);
  // The first Count bytes of the (decompressed) content. 30387 when the file is smaller, 30388
  // when the chain holds fewer bytes than the header says, 20189 when decompression fails.
  void ReadFile(TVLTSessionID SessionID, void* Buffer, int32_t Count,
                bool SynchronizeAllowed = true);
  // Replaces the content with Count bytes, compressed with Algorithm at CompressionMode unless
  // Algorithm is acaNone (20187 when compression fails or yields nothing).
  void WriteFile(TVLTSessionID SessionID, const void* Buffer, int32_t Count,
                 TVLTCompressionAlgorithm Algorithm, uint8_t CompressionMode);
  // Repair: rewrites the start page's page header and makes the file empty (DecompressedSize
  // untouched); the page is read ignoring checksum and type errors. 20301 when closed.
  void InitFileHeader(TVLTSessionID SessionID);
  // Byte 0 of the start page.
  bool LockFile();
  bool UnlockFile();

  TVLTDiskPageManager* PageManager() const { return LPageManager; }
  TVLTPageNo StartPageNo() const { return FStartPageNo; }
  uint16_t PageTypeID() const { return FPageTypeID; }

 private:
  void CheckOpen(const char* Operation) const;

  TVLTDiskPageManager* LPageManager;
  TVLTPageNo FStartPageNo = kNoPage;
  uint16_t FPageTypeID;
};

class TVLTInternalDBDirectAccessFile {
 public:
  TVLTInternalDBDirectAccessFile(TVLTDiskPageManager* PageManager, uint16_t PageTypeID);

  // Adds the pages in the system session -2 with encryption off and writes the header into the
  // start page; the pages reach the file at the next commit of session -2. 20157 when the
  // object already has a file.
  void CreateFile(int32_t Size);
  // Reads the size and collects the chain with region reads (byte 0 of each page is skipped:
  // another process may hold it locked). 20155 for a page of another type.
  void OpenFile(TVLTPageNo StartPageNo);
  void CloseFile();
  // Removes the pages in session -2 (StartPageNo -1: the open file) and closes the file.
  void DeleteFile(TVLTPageNo StartPageNo = kNoPage);

  int32_t GetSize() const;
  // The size stored in the header (GetSize may be larger for a one-page file).
  int32_t StoredSize() const { return FStoredSize; }
  // 20159 for a position beyond the file size; reads past the end: 20249; writes past the
  // stored size: 20158.
  void ReadBuffer(void* Buffer, int32_t Count, int32_t Position);
  void WriteBuffer(const void* Buffer, int32_t Count, int32_t Position);

  // Byte 0 of the start page (the first byte of its page header).
  bool LockFile();
  bool UnlockFile();
  // The file byte content byte ByteNo maps to (lock positions); false for bytes outside the file.
  bool LockByte(int32_t ByteNo);
  bool UnlockByte(int32_t ByteNo);
  bool IsByteLocked(int32_t ByteNo);
  // True when any of ByteCount bytes from ByteNo is locked; false for ByteCount <= 0.
  bool IsRegionLocked(int32_t ByteNo, int32_t ByteCount);

  TVLTDiskPageManager* PageManager() const { return LPageManager; }
  TVLTPageNo StartPageNo() const { return FStartPageNo; }
  const TVLTIntegerArray& FilePages() const { return FFilePages; }

 private:
  void CheckOpen(const char* Operation) const;
  // Page number and page offset of a lock position; false when outside the chain.
  bool LockTarget(int32_t ByteNo, TVLTPageNo& PageNo, uint16_t& PageOffset) const;

  TVLTDiskPageManager* LPageManager;
  TVLTPageNo FStartPageNo = kNoPage;
  uint16_t FPageTypeID;
  int32_t FFileSize = 0;
  int32_t FStoredSize = 0;
  TVLTIntegerArray FFilePages;
};

}  // namespace vlt
