// The primary index (.px) of a keyed table: a small Paradox file (file type 1) whose records
// are index entries, stored like data records:
//   the key fields (encoded as in the data file), then three short values in field encoding:
//   block number, record count, and 0.
// Leaf entries (level 1) point to data blocks: the key of the block's first record, the data
// block number and the block's record count. Entries of higher levels point to index blocks of
// the level below: that block's first key, its block number in the .px and the records under
// it. The header names the root block (0x1E) and the number of levels (0x20). Each level's
// blocks are chained in key order.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "app/ParadoxHeader.h"

namespace vlt::app {

struct TParadoxIndexEntry {
  std::string Key;  // the key bytes
  int Block = 0;    // data block (leaves) or index block
  int Count = 0;
};

struct TParadoxIndexImage {
  TParadoxHeader Header;
  int Levels = 0;
  std::vector<TParadoxIndexEntry> Leaves;  // in key order, found by walking from the root
  int EntriesTotal = 0;                    // entries of all levels
};

// Reads and checks a .px file; raises EParadoxError for a damaged one. The key fields must
// match KeyFields (those of the data file).
// An encrypted index (a checksum at 0x25) is decrypted.
TParadoxIndexImage ReadParadoxIndex(const std::string& Path, const std::vector<TParadoxFieldDesc>& KeyFields);
// The same from bytes in memory (Path is used in messages).
TParadoxIndexImage ParseParadoxIndex(const std::string& Bytes, const std::string& Path,
                                     const std::vector<TParadoxFieldDesc>& KeyFields);

// Builds the bytes of a .px for a data file whose blocks are Leaves (first key, block number,
// record count), with the given data file header (block size, version, sort order, key fields,
// encryption: the index of an encrypted table is encrypted with the same checksum).
std::string BuildParadoxIndex(const TParadoxHeader& Data, const std::vector<TParadoxIndexEntry>& Leaves);

}  // namespace vlt::app
