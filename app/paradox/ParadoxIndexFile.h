// The primary index (.px) of a keyed table: a small Paradox file (file type 1) whose records
// are index entries, stored like data records:
//   the key fields (encoded as in the data file), then three short values in field encoding:
//   block number, record count, and 0.
// Leaf entries (level 1) point to data blocks: the key of the block's first record, the data
// block number and the block's record count. Entries of higher levels point to index blocks of
// the level below: that block's first key, its block number in the .px and the records under
// it. The header names the root block (0x1E) and the number of levels (0x20).
//
// Like a data file, the index is also a table of its entries: every block, root and all levels,
// lies on one chain of next/previous block numbers from the header's first block to its last,
// and the header's record count is the number of entries on that chain. Other readers read
// the index along that chain (and take the first block's entries for the upper level), so the
// writer lays the chain out top-down:
//
//   block 1            the root                (header: first block, root block)
//   blocks 2 ...       each level below it, in key order, down to
//   ... FileBlocks     the leaves              (header: last block, file blocks)
//
// Block header: next block (u16 LE, 0 = none), previous block (u16 LE, 0 = none), offset of
// the last entry (i16 LE, -entry size when empty), as in a data block.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "app/paradox/ParadoxFile.h"
#include "app/paradox/ParadoxHeader.h"

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

// Reads and checks a .px file; raises EParadoxError ("Index ... is damaged: ...") for a damaged
// one: a block off the chain or outside the file, a chain that loops or disagrees with itself
// or with the header's first and last block, block and entry counts, a tree block that is not
// on the chain or a chain block the tree does not reach. The key fields must match KeyFields
// (those of the data file).
// An encrypted index (a checksum at 0x25) is decrypted.
TParadoxIndexImage ReadParadoxIndex(const std::string& Path,
                                    const std::vector<TParadoxFieldDesc>& KeyFields);
// The same from bytes in memory (Path is used in messages).
TParadoxIndexImage ParseParadoxIndex(const std::string& Bytes, const std::string& Path,
                                     const std::vector<TParadoxFieldDesc>& KeyFields);

// Whether the index describes the data file: its leaves name the data file's non-empty blocks
// in chain order, with their record counts and first keys. Empty when it does; otherwise what
// differs.
std::string CheckParadoxIndexAgainstData(const TParadoxIndexImage& Index,
                                         const TParadoxFileImage& Data);

// Builds the bytes of a .px for a data file whose blocks are Leaves (first key, block number,
// record count), with the given data file header (block size, version, sort order, key fields,
// encryption: the index of an encrypted table is encrypted with the same checksum).
std::string BuildParadoxIndex(const TParadoxHeader& Data,
                              const std::vector<TParadoxIndexEntry>& Leaves);

}  // namespace vlt::app
