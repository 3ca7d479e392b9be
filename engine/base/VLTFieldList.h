// Field lists: field names written as one text, separated by ';' ("Name;City"), as index
// definitions, key searches, lookups and master-detail links take them. Every splitting of such a
// text goes through VLTSplitList, so that blanks and empty entries are treated alike everywhere;
// callers differ only in the separators they accept and whether an empty entry is an error for
// them to report (kept) or nothing (dropped).
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace vlt {

// Splits List at every character of Separators and trims spaces from both ends of each entry.
// With KeepEmpty, n separators always give n + 1 entries ("" is one empty entry, "a;;b" three);
// without it empty entries are dropped ("" and " ; " give none).
std::vector<std::string> VLTSplitList(std::string_view List, std::string_view Separators,
                                      bool KeepEmpty);
// The field list of the components' definitions: ';' separates (a ',' counts as ';'), empty
// entries are dropped.
std::vector<std::string> VLTSplitFieldList(std::string_view List);
// Names joined by ';' (the inverse of VLTSplitFieldList for names without separators or blanks
// at their ends).
std::string VLTJoinFieldList(const std::vector<std::string>& Names);

}  // namespace vlt
