// Looking into Paradox tables: a summary of a table file and a CSV dump of its records, for the
// vltpx tool and for comparing tables with dumps made by other readers.
#pragma once

#include <ostream>
#include <string>

namespace vlt::app {

// Header facts, fields, key fields, record count and, when present, the .px shape.
void WriteParadoxInfo(const std::string& Path, std::ostream& Out);

// CSV (RFC 4180 quoting, LF line ends, UTF-8): a header row of field names, then one row per
// record in the order of the file's block chain. Values as ValueToText writes them; a BLOB that
// cannot be read is written as "<blob not read>".
void WriteParadoxCsv(const std::string& Path, std::ostream& Out);

// One CSV cell, quoted when it holds a comma, a quote or a line break.
std::string CsvCell(const std::string& S);

}  // namespace vlt::app
