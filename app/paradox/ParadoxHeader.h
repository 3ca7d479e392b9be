// The header of a Paradox file: the data file (.db) and the primary index (.px) share its first
// 0x58 bytes; data files of version 4.0 and later continue with a second part up to 0x78. Then
// come the field descriptors, the table name and, in data files, the field names.
//
// Common header (all integers little-endian):
//   OFFSET SIZE CONTENT
//   0x00   2    record size in bytes
//   0x02   2    header size in bytes; data block n (from 1) starts at header size + (n-1) * block
//   size 0x04   1    file type: 0 keyed .db, 1 primary index .px, 2 unkeyed .db (3..8 secondary
//   indexes) 0x05   1    block size in KiB (1, 2, 3, 4; 8, 16, 32 in 7.x) 0x06   4    number of
//   records (in a .px: of index entries) 0x0A   2    next free block number (= file blocks when
//   none is free) 0x0C   2    file blocks 0x0E   2    first block of the data chain (0 = none) 0x10
//   2    last block of the data chain 0x12   2    (unknown; 12 in .db, 17 in .px files) 0x14   1
//   modified flags 0x15   1    index field number 0x16   8    two in-memory pointers, meaningless
//   on disk 0x1E   2    .px: block number of the index root 0x20   1    .px: number of index levels
//   0x21   2    number of fields (in a .px: the key fields)
//   0x23   2    number of primary key fields (the first fields of the record)
//   0x25   4    encryption: the password checksum; 0xFF00FF00 in 4.0+ data files, where the
//                checksum moves to 0x5C
//   0x29   1    sort order id
//   0x2A   1    modified flags
//   0x2B   2    (unknown)
//   0x2D   2    change counts
//   0x2F   1    (unknown)
//   0x30   8    two in-memory pointers
//   0x38   1    write protected
//   0x39   1    file version: 3 = 3.0, 4 = 3.5, 5..9 = 4.x, 10..11 = 5.x, 12 = 7.x
//   0x3A   2    maximum blocks
//   0x3C   12   (unknown), 0x3D number of auxiliary passwords, (pointers)
//   0x48   1    (unknown)
//   0x49   4    last auto-increment value
//   0x4D   2    first free block
//   0x4F   1    index update required
//   0x50   1    (unknown)
//   0x51   2    real header size
//   0x53   5    (unknown, referential integrity)
// Data header of 4.0+ data files:
//   0x58   2    file version id 3       0x5A   2    file version id 4
//   0x5C   4    encryption (checksum)   0x60   4    file update time
//   0x64   2    highest field id        0x66   2    field id info
//   0x68   2    (field count)           0x6A   2    DOS code page
//   0x6C   12   (unknown, change count)
// Then, at 0x58 (3.x, .px) or 0x78 (4.0+ data files):
//   2 * fields   field descriptors: type byte (TParadoxFieldKind), size byte
//   4            pointer to the table name (meaningless on disk)
//   4 * fields   pointers to the field names (data files only)
//   79 or 261    table name, NUL-padded (261 from version 12 on)
//   ...          data files: field names, each NUL-terminated; in encrypted tables the
//                password information (none, a byte per field, or 256 bytes with auxiliary
//                passwords); field numbers (2 bytes each); the sort order name, NUL-terminated
//
// Data block (also index block of a .px):
//   OFFSET SIZE CONTENT
//   0      2    next block in the chain (0 = last)
//   2      2    previous block (0 = first)
//   4      2    offset of the last record in the block (signed): records = value / record size
//                + 1; an empty block holds -record size
//   6      ...  records, packed
// In an encrypted table the whole block, its header included, is scrambled (ParadoxCrypt.h).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "app/paradox/ParadoxTypes.h"

namespace vlt::app {

constexpr size_t kPxCommonHeaderSize = 0x58;
constexpr size_t kPxDataHeaderEnd = 0x78;
constexpr size_t kPxBlockHeaderSize = 6;
constexpr uint32_t kPxEncryptionMoved = 0xFF00FF00u;

enum TParadoxFileType : uint8_t { pxtKeyedDB = 0, pxtPrimaryIndex = 1, pxtUnkeyedDB = 2 };

// One field as the file stores it.
struct TParadoxFieldDesc {
  std::string Name;  // as stored (table code page)
  TParadoxFieldKind Kind = pxfAlpha;
  int DescSize = 0;  // the descriptor's size byte
  int Width = 0;     // bytes in a record
  int Offset = 0;    // from the start of the record
};

struct TParadoxHeader {
  uint8_t FileType = pxtUnkeyedDB;
  uint8_t Version = 0x0B;
  int BlockSize = 2048;
  int HeaderSize = 2048;
  int RecordSize = 0;
  uint32_t NumRecords = 0;
  uint16_t FileBlocks = 0, FirstBlock = 0, LastBlock = 0;
  uint16_t IndexRoot = 0;
  uint8_t IndexLevels = 0;
  int KeyFields = 0;
  uint8_t SortOrder = 0;
  std::string SortOrderName;
  int CodePage = 0;  // 0 = not stored (before 4.0)
  uint32_t AutoInc = 0;
  uint32_t Encryption = 0;  // password checksum; 0 = not encrypted
  uint8_t AuxPasswords = 0;
  std::string CryptInfo;  // the password information of an encrypted data file, kept as read
  std::string TableName;
  std::vector<TParadoxFieldDesc> Fields;

  bool IsDataFile() const { return FileType == pxtKeyedDB || FileType == pxtUnkeyedDB; }
  // "3.0", "3.5", "4.x", "5.x", "7.x".
  std::string VersionText() const;
};

// Reads and checks the header of a file whose first Size bytes are Data (Size may be the whole
// file). Every count and offset is checked against Size; a damaged or foreign file raises
// EParadoxError naming FileName.
TParadoxHeader ParseParadoxHeader(const uint8_t* Data, size_t Size, const std::string& FileName);

// Lays out a header for H (a 4.0+ data file or a .px): fills H.HeaderSize when it is too small
// and returns exactly H.HeaderSize bytes.
std::string BuildParadoxHeader(TParadoxHeader& H);

// Fills Offset and Width of every field and returns the record size.
int LayoutFields(std::vector<TParadoxFieldDesc>& Fields);

}  // namespace vlt::app
