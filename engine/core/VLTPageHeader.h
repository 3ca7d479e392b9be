// The 40-byte header at the start of every page, and the page types.
//
// TVLTDiskPageHeader (40 bytes, packed, little-endian):
//
//   OFFSET SIZE CONTENT
//   0      4    Signature "VLTP" (no terminator)
//   4      4    State (Int32): version stamp of the page. A random value below 0x3FFFFFFF when
//               the page is added, +1 before every write (the value 0x7FFFFFFD is never written:
//               that increment yields 0 instead), 0x7FFFFFFF (MaxInt) once the page is freed or
//               when an in-memory copy could not be read.
//   8      2    PageType (Word): TVLTPageType
//   10     4    NextPageNo (Int32): next page of a chain (internal files), -1 = none
//   14     4    CRC32 (Cardinal): CalcCRC32(0, plain page data) - valid only in encrypted pages
//   18     1    CRCType (unused, 0)
//   19     1    HashType (unused, 0)
//   20     1    Cipherype: TVLTCryptoAlgorithm the page data were encrypted with (0 until then)
//   21     1    MACType (unused, 0)
//   22     4    ObjectID (Int32): owner object id, -1 = none
//   26     6    RecordID (TVLTPageItemID: PageNo Int32, PageItemNo Word), for the page's user
//   32     8    Reserved (zero)
//
// The page data follow at offset 40 and run to the end of the page (PageSize - 40 bytes).
#pragma once

#include <cstdint>
#include <string>

#include "engine/base/VLTTypes.h"

namespace vlt {

constexpr int32_t kPageStateFreed = 0x7FFFFFFF;        // MaxInt: freed page / unreadable copy
constexpr int32_t kPageStateSkipped = 0x7FFFFFFD;      // never written; the increment wraps to 0
constexpr int32_t kPageStateRandomLimit = 0x3FFFFFFF;  // added pages start below it
constexpr char kPageSignature[4] = {'V', 'L', 'T', 'P'};

#pragma pack(push, 1)
struct TVLTDiskPageHeader {
  char Signature[4];
  int32_t State;
  uint16_t PageType;
  int32_t NextPageNo;
  uint32_t CRC32;
  uint8_t CRCType;
  uint8_t HashType;
  uint8_t Cipherype;
  uint8_t MACType;
  int32_t ObjectID;
  int32_t RecordIDPageNo;       // TVLTPageItemID.PageNo
  uint16_t RecordIDPageItemNo;  // TVLTPageItemID.PageItemNo
  uint8_t Reserved[8];
};
#pragma pack(pop)
static_assert(sizeof(TVLTDiskPageHeader) == kPageHeaderSize);

// Page types as stored in TVLTDiskPageHeader.PageType.
enum TVLTPageType : uint16_t {
  ptUnknown = 0,
  ptEmpty = 1,
  ptEAM = 2,
  ptPFS = 3,
  ptFileSystemDirectory = 4,
  ptActiveSessionList = 5,
  ptTableList = 6,
  ptTableLocks = 7,
  ptTableMetaData = 8,
  ptTableMostUpdated = 9,
  ptTableRecord = 10,
  ptTableBlob = 11,
  ptTableIndex = 12,
};
constexpr uint16_t ptAny = 255;  // "any type" where a read checks the type
constexpr uint16_t kLastPageType = ptTableIndex;

// "Unknown Page" ... "TableIndex Page". Values above 12 raise 30382 "Unknown Page Type: (%d)".
std::string PageTypeToText(int PageType);

// Raises "Wrong page type. Found '%s', but expecting: '%s'" under the caller's code when Found
// differs from Expected. A Found value without a text is shown as its number.
void CheckPageType(int Found, int Expected, int32_t ErrorCode);

// Writes the header of a newly formatted page: "VLTP", State 0, PageType 0, NextPageNo -1,
// CRC32 0, the four type bytes 0, ObjectID -1, RecordID (-1, 0), Reserved 0.
void InitPageHeader(TVLTDiskPageHeader& H);

// The next State a page is written with: +1, where 0x7FFFFFFD becomes 0.
inline int32_t NextPageState(int32_t State) {
  int32_t N = State == kPageStateFreed ? 0 : State + 1;
  return N == kPageStateSkipped ? 0 : N;
}

}  // namespace vlt
