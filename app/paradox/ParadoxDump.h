// Looking into Paradox tables: a summary of a table file and a CSV dump of its records, for the
// vltpx tool and for comparing tables with dumps made by other readers.
#pragma once

#include <ostream>
#include <string>

#include "app/paradox/ParadoxValue.h"

namespace vlt::app {

// Header facts (encryption, sort order), fields, key fields, record count, the secondary index
// files and, when present, the .px shape.
void WriteParadoxInfo(const std::string& Path, std::ostream& Out);

// CSV (RFC 4180 quoting, LF line ends, UTF-8): a header row of field names, then one row per
// record in the order of the file's block chain. Values as DumpText writes them; a BLOB that
// cannot be read is written as "<blob not read>".
void WriteParadoxCsv(const std::string& Path, std::ostream& Out);

// A value as the dumps write it: ValueToText, but binary values (bytes, BLOBs other than
// memos) as upper-case hex digits, so that the dump stays valid UTF-8.
std::string DumpText(const TParadoxValue& V);

// One CSV cell, quoted when it holds a comma, a quote or a line break.
std::string CsvCell(const std::string& S);

}  // namespace vlt::app
