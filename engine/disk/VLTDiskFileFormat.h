// The layout of a database file: the prolog (database header, crypto header, lock-byte area,
// object-id counter) followed by equal-sized pages numbered from 0. All integers little-endian,
// all records packed.
//
// File (header at offset H; the engine always creates it at H = 0):
//
//   OFFSET                 SIZE      CONTENT
//   H                      76        TVLTDBHeader
//   H + 76                 280       TVLTCryptoHeader
//   H + 356                20        TVLTLockedBytes
//   H + 376                4         LastObjectID (Int32): last object id handed out; its first
//                                    byte doubles as the lock byte of the counter
//   H + 380 + N*PageSize   PageSize  page N (a TVLTDiskPageHeader, then PageSize - 40 data bytes)
//
// The offsets after the header are derived from the stored sizes (H + HeaderSize, + 280,
// + LockedByteSize, + 4); the file is (offset of page 0) + TotalPageCount * PageSize bytes long.
//
// TVLTDBHeader (76 bytes):
//
//   OFFSET SIZE CONTENT
//   0      16   Signature "VAULTR1XDATABASE" (no terminator)
//   16     2    HeaderSize (SmallInt) = 76
//   18     8    Version (Double): 7.91 when created (bytes A4 70 3D 0A D7 A3 1F 40); below 2.99
//               means the file needs repair
//   26     2    PageSize (Word)
//   28     2    PageCountInExtent (Word): pages per extent of the free-space maps
//   30     4    TotalPageCount (Int32): pages in the file
//   34     4    LastUsedPageNo (Int32): highest page in use, -1 = none
//   38     4    State (Int32): +1 at every completed commit
//   42     1    WriteChangesState: 1 while a commit is being written, 2 once it completed
//   43     1    Encrypted (ByteBool): 0xFF when pages and control block are encrypted, else 0
//   44     32   Reserved (zero)
//
// TVLTCryptoHeader (280 bytes):
//
//   OFFSET SIZE CONTENT
//   0      2    CryptoHeaderSize (SmallInt) = 280
//   2      1    CryptoAlgorithm: TVLTCryptoAlgorithm of all encryption in the file (0 when plain)
//   3      1    CryptoMode (unused, 0)
//   4      256  ControlBlock: 256 random bytes 0..254, stored encrypted (zero when plain)
//   260    4    ControlBlockCRC (Cardinal): CalcCRC32(0, plain control block) (0 when plain)
//   264    16   Reserved (zero)
//
// TVLTLockedBytes (20 bytes). Only LockedByteSize is ever read; the other bytes exist so that
// processes can place byte-range locks on them:
//
//   OFFSET SIZE CONTENT
//   0      2    LockedByteSize (SmallInt) = 20
//   2      1    FSMByte: reserved for the free-space manager
//   3      1    TablesByte: all tables of the database are locked
//   4      1    DBHeaderByte: guards the database header and the free-space maps
//   5      15   Reserved (zero)
//
// System pages: the free-space bitmaps sit at page numbers fixed by formula (see
// IsSystemPageNo); they are never encrypted and never handed out to callers.
#pragma once

#include <cstdint>
#include <string_view>

#include "engine/base/VLTTypes.h"
#include "engine/core/VLTPageHeader.h"

namespace vlt {

constexpr char kDBSignature[16] = {'V', 'A', 'U', 'L', 'T', 'R', '1', 'X',
                                   'D', 'A', 'T', 'A', 'B', 'A', 'S', 'E'};
constexpr double kDBVersion = 7.91;
constexpr double kDBMinVersionWithoutRepair = 2.99;
constexpr uint8_t kWriteChangesInProgress = 1;
constexpr uint8_t kWriteChangesComplete = 2;

constexpr int16_t kDBHeaderSize = 76;
constexpr int16_t kCryptoHeaderSize = 280;
constexpr int16_t kLockedBytesSize = 20;
constexpr int64_t kDefaultOffsetToCryptoHeader = 76;
constexpr int64_t kDefaultOffsetToLockedBytes = 356;
constexpr int64_t kDefaultOffsetToLastObjectID = 376;
constexpr int64_t kDefaultOffsetToFirstPage = 380;
// Offsets of the lock bytes within TVLTLockedBytes.
constexpr int64_t kFSMByteOffset = 2;
constexpr int64_t kTablesByteOffset = 3;
constexpr int64_t kDBHeaderByteOffset = 4;

constexpr uint16_t kDefaultPageCountInExtent = 8;

#pragma pack(push, 1)
struct TVLTDBHeader {
  char Signature[16];
  int16_t HeaderSize;
  double Version;
  uint16_t PageSize;
  uint16_t PageCountInExtent;
  int32_t TotalPageCount;
  int32_t LastUsedPageNo;
  int32_t State;
  uint8_t WriteChangesState;
  uint8_t Encrypted;
  uint8_t Reserved[32];
};

struct TVLTCryptoHeader {
  int16_t CryptoHeaderSize;
  uint8_t CryptoAlgorithm;
  uint8_t CryptoMode;
  uint8_t ControlBlock[256];
  uint32_t ControlBlockCRC;
  uint8_t Reserverd[16];
};

struct TVLTLockedBytes {
  int16_t LockedByteSize;
  uint8_t FSMByte;
  uint8_t TablesByte;
  uint8_t DBHeaderByte;
  uint8_t Reserved[15];
};
#pragma pack(pop)
static_assert(sizeof(TVLTDBHeader) == kDBHeaderSize);
static_assert(sizeof(TVLTCryptoHeader) == kCryptoHeaderSize);
static_assert(sizeof(TVLTLockedBytes) == kLockedBytesSize);

// Creation values (PageSize and PageCountInExtent as given; plain, so Encrypted 0).
TVLTDBHeader NewDBHeader(uint16_t PageSize, uint16_t PageCountInExtent);
TVLTCryptoHeader NewCryptoHeader();
TVLTLockedBytes NewLockedBytes();

bool HasDBSignature(const TVLTDBHeader& H);

// Capacities of the free-space maps for a page size (D = PageSize - 40, E pages per extent):
// a PFS page maps D * 8 pages, an EAM page D * 4 extents = D * 4 * E pages.
struct TVLTFreeSpaceGeometry {
  // 64-bit: with large pages and extents EAM_PA exceeds the page-number range.
  int64_t PageCountInExtent;    // E
  int64_t PFSPagesAddressed;    // PFS_PA
  int64_t EAMExtentsAddressed;  // EAM_EA
  int64_t EAMPagesAddressed;    // EAM_PA

  TVLTFreeSpaceGeometry(uint16_t PageDataSize, int32_t PageCountInExtent);

  // Page N is a system page when N mod PFS_PA = 0, or N mod EAM_PA = 0, or both
  // (N - 1) mod PFS_PA = 0 and (N - 1) mod EAM_PA = 0.
  bool IsSystemPage(int64_t N) const;
  int64_t PFSPageNo(int64_t K) const { return K * PFSPagesAddressed; }
  // EAM page k is page k * EAM_PA, or the page after it when that is also a PFS position.
  int64_t EAMPageNo(int64_t K) const;
};

}  // namespace vlt
