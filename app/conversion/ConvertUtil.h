// Preparation of a backup folder's Paradox tables before a conversion reads them: tables kept in
// an older layout are upgraded in place to the current one, and the primary index of every
// covered table is rebuilt.
//
// An upgrade never damages the source: the table file is first moved aside under a temporary
// name (base name without its last character, a digit and ".db": contfil0.db ... contfil9.db),
// the new table is created under the old name and filled from the moved file, and the moved
// file is deleted only when every record was read.
//
// A password-protected table stays protected: an upgraded table is created, and a re-indexed
// one rewritten, with the same password checksum. The secondary indexes (.Xnn/.Ynn, .XGn/.YGn)
// of a table that is rewritten cannot be kept up to date and are removed once the rewrite has
// succeeded, so that nothing opens a stale index. A keyed table whose sort order is unknown is
// left as it is (its primary index included), and the routine's result is false.
#pragma once

#include <string>
#include <vector>

#include "app/conversion/ConversionUI.h"
#include "app/paradox/ParadoxTypes.h"

namespace vlt::app {

// One field of a current layout.
struct TParadoxLayoutField {
  const char* Name;
  TFieldType Type;
  int Size;  // strings only
};

// A current Paradox layout: the file is BaseName + ".db"; the first KeyCount fields form the
// primary key (0 = none).
struct TParadoxLayout {
  const char* BaseName;
  std::vector<TParadoxLayoutField> Fields;
  int KeyCount;
};

// The catalogue, numbered 0 (bankfile) to 13 (contname).
const std::vector<TParadoxLayout>& ParadoxLayouts();

// Whether the fields of table number T (of the catalogue above) are in one of its old layouts;
// Form tells the expense groups' two old forms apart (1 = A, 2 = B, else 0).
bool IsOldLayout(int T, const std::vector<TParadoxFieldDef>& Fields, int& Form);

enum class TPrepareMode {
  Contributions,  // upgrade and re-index tables 10 to 13
  Ledger,         // upgrade and re-index tables 0 to 7, then re-index tables 8 and 9
};

// Upgrades and re-indexes the tables of Folder for Mode. Returns true when every step
// succeeded. Problems that stop an upgrade are shown through UI as error boxes:
//   "While trying to restructure files in <folder>, could not create temporary file: <name>"
//   "A Problem has been encountered while updating table structure for table "<base>.db""
// and an unexpected error as "<type name>: <message>".
bool PrepareParadoxTables(const std::string& Folder, TPrepareMode Mode, TConversionUI& UI);

// Makes good what an upgrade cut off by a killed run left in Folder for Mode's tables: the table
// moved aside under a temporary name (contfil0.db ...) always holds every record, in the old
// layout, while the table under its own name may be missing or hold only part of them. The most
// recent temporary of an old layout (the highest digit) is compared with the table:
//   - the table is missing, cannot be opened, or is in the current layout with fewer records:
//     its index file goes and the temporary is renamed over it (atomically), so the next
//     preparation upgrades it again from the whole table;
//   - the table is in the current layout with as many records: the copy had finished, and the
//     temporary is deleted as the upgrade would have done;
//   - otherwise (the table itself is in an old layout, or holds more records) nothing is touched,
//     and the upgrade's own rule picks the next free temporary name.
// The folder is synced after a change. Answers a log line per action.
std::vector<std::string> RecoverUpgradeLeftovers(const std::string& Folder, TPrepareMode Mode);

// Message texts.
inline constexpr const char* kMsgRestructure1 = "While trying to restructure files in ";
inline constexpr const char* kMsgRestructure2 = ", could not";
inline constexpr const char* kMsgRestructure3 = " create temporary file: ";
inline constexpr const char* kMsgStructureProblem =
    "A Problem has been encountered while updating table structure for table \"";

}  // namespace vlt::app
