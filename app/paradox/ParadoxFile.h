// Whole Paradox files: reading a data file's records along its block chain, writing a data file
// (and the primary index of a keyed table) from records in order, and the file helpers both use.
// Files are written beside their final name and renamed into place, so a failure never leaves a
// half-written table behind.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "app/paradox/ParadoxHeader.h"

namespace vlt::app {

// A data block as the chain holds it: its number, its first record in Records and its count.
struct TParadoxBlockRef {
  int Block = 0;
  size_t FirstRecord = 0;
  int Count = 0;
};

struct TParadoxFileImage {
  TParadoxHeader Header;
  std::vector<std::string> Records;      // in the order of the block chain
  std::vector<TParadoxBlockRef> Blocks;  // the chain's blocks, in order
};

// Reads and checks a data file; an encrypted one is decrypted with the checksum in its header.
// Raises EParadoxError for a missing, unreadable, damaged or foreign file, and for a .px or
// secondary index file.
TParadoxFileImage ReadParadoxFile(const std::string& Path);
// The same from bytes in memory (Name is used in messages).
TParadoxFileImage ParseParadoxFile(const std::string& Bytes, const std::string& Name);

// The header alone of a data or index file (raises like ReadParadoxFile).
TParadoxHeader ReadParadoxHeader(const std::string& Path);

// Writes the data file Path from Records (each H.RecordSize bytes, in order) and, when
// H.KeyFields > 0, its primary index beside it (Path with extension .px). An unkeyed table's
// stale .px is removed. H's counts and sizes are filled in. When H.Encryption is set, both
// files are encrypted with it.
void WriteParadoxFile(const std::string& Path, TParadoxHeader& H,
                      const std::vector<const std::string*>& Records);

// Called with the data file's path after WriteParadoxFile has put a table in place (tests read
// every table written back with another reader). Null: none.
using TParadoxWriteObserver = void (*)(const std::string& DataPath);
void SetParadoxWriteObserver(TParadoxWriteObserver Observer);

// File helpers. A file written over an existing one keeps its permissions, owner and group.
std::string ReadWholeFile(const std::string& Path);  // raises EParadoxError
void WriteFileAtomically(const std::string& Path, const std::string& Bytes);
bool PathIsFile(const std::string& Path);
// The files whose other hard links were broken by replacing them, since the last call.
std::vector<std::string> TakeBrokenLinks();
// The file in Dir named Name without regard to case (the exact name first); empty when none.
std::string FindParadoxFile(const std::string& Dir, const std::string& Name);
// Path with its extension replaced by Ext (".px", ".mb"), keeping the case style of the name:
// an upper-case extension gets an upper-case one.
std::string SiblingFile(const std::string& Path, const std::string& Ext);
// The existing sibling with extension Ext in any case, or empty.
std::string FindSiblingFile(const std::string& Path, const std::string& Ext);
// The secondary index files of the table file Path, in any case: .Xnn and .Ynn (nn the field
// number in hex), .XGn and .YGn (composite indexes).
bool IsSecondaryIndexExtension(const std::string& Ext);  // ".X02", ".yg1" ...
std::vector<std::string> FindSecondaryIndexFiles(const std::string& Path);

}  // namespace vlt::app
