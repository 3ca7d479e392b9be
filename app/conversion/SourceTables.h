// What the source tables the preparation rewrites held before a run, and whether they hold the
// same afterwards: the preparation replaces those tables and their primary indexes in the
// user's backup, so a run proves that each still reads, keeps its records (the same records
// when its layout stayed, as many when it was upgraded) and has an index that describes it.
#pragma once

#include <string>
#include <vector>

namespace vlt::app {

struct TSourceTable {
  std::string File;                  // as found in the backup folder
  std::string Layout;                // the field names, kinds and widths
  std::vector<std::string> Records;  // sorted
};
using TSourceTables = std::vector<TSourceTable>;

// The tables of the preparation's catalogue in Folder that read as Paradox tables now.
TSourceTables SnapshotSourceTables(const std::string& Folder);

// What differs from Before, one text per table: "tranfile.db (its records differ from before:
// 10000 then, 9999 now)", "tranfile.px (Index ... is damaged: ...)". Empty when nothing does.
std::vector<std::string> CompareSourceTables(const std::string& Folder,
                                             const TSourceTables& Before);

}  // namespace vlt::app
