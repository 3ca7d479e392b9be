// Reading the Paradox files this project writes with an independent reader, Debian's pxlib,
// through its public C API: the records along the data file's block chain, the primary index
// as pxlib loads it, and the records again through that index. Test-only.
//
// pxlib takes the first block of an index's chain as its upper level and every other block as
// leaves, and attaches only indexes of one or two levels; a three-level index is loaded (every
// entry along the chain) but not attached, and pxlib's warning about its level sums is
// expected there.
#pragma once

#include <string>
#include <vector>

namespace vlt::test {

struct TPxlibTable {
  int NumRecords = -1;
  std::vector<std::string> Records;  // raw records along the chain (when ChainRead)
  bool ChainRead = false;
  int IndexEntries = -1;  // entries pxlib loaded from the .px (-1: no index read)
  int IndexLevels = 0;
  bool IndexAttached = false;
  std::vector<std::string> IndexedRecords;  // raw records read through the index
  std::vector<std::string> Messages;        // pxlib's errors and warnings, in order
};

// Reads Db (and Px, when not empty) with pxlib. Records along the chain are read when the
// table is small enough for pxlib's walk from the first block for every record.
TPxlibTable ReadWithPxlib(const std::string& Db, const std::string& Px);

// Reads Db and its .px with pxlib and with the project's reader and compares them: the same
// records in the same order, the index loaded whole and, for one or two levels, attached with
// no message and yielding the same records. Empty when they agree; otherwise what differs.
std::string CheckWithPxlib(const std::string& Db);

// Makes every Paradox data file this test program writes pass CheckWithPxlib (a failure of
// the running test otherwise). Called once by the programs that write tables.
void CheckEveryParadoxWrite();

}  // namespace vlt::test
