// Proof that a conversion lost nothing: a converted table-copy database is reopened read-only
// with its password and every row is compared with its source row under the area's rules, and
// each backup folder's files are hashed before and after a run so that any change the
// conversion does not call for shows.
//
// Rows are matched by the target table's primary key (tables without one are compared as
// multisets of whole rows). A source row that has no target row counts as rejected when the
// area's log holds an "Error Writing Record" line for that table to account for it, otherwise
// as a mismatch.
#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "app/conversion/Conversion.h"

namespace vlt::app {

struct TTableCheck {
  std::string Table;
  int64_t Read = 0;                     // source records
  int64_t Skipped = 0;                  // first field empty
  int64_t Rejected = 0;                 // accounted for by a log line
  int64_t Written = 0;                  // target records
  int64_t Verified = 0;                 // target records equal to their source record
  int64_t Mismatched = 0;               // records that differ or are missing
  std::vector<std::string> Mismatches;  // "record <key>: <field> is <x>, the source gives <y>"
  // What the reader should know that is no fault (the exit status ignores them): a number
  // several source services share, a table created empty.
  std::vector<std::string> Notices;
};

// Wall time since construction.
class TStopwatch {
 public:
  double Seconds() const {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - FStart).count();
  }

 private:
  std::chrono::steady_clock::time_point FStart = std::chrono::steady_clock::now();
};

struct TAreaCheck {
  TArea Area = TArea::Payroll;
  std::string Folder, Database;
  std::vector<TTableCheck> Tables;
  std::vector<std::string> Problems;  // the database or a table that could not be read
  double ConvertSeconds = -1;         // the area's conversion; < 0 when not converted in this run
  double VerifySeconds = 0;           // the comparison and the table check
  bool Clean() const;
};

// Verifies the table-copy database File of Area against the sources in Folder; Log is the
// area's log lines (for the rejected records). Tables the conversion creates without a source
// are listed with their record count.
// With CheckEngine the engine's own consistency check of every table (record pages, counts,
// indexes) runs as well; its problems are the area's problems.
TAreaCheck VerifyCopyArea(TArea Area, const std::string& Folder, const std::string& File,
                          const std::vector<std::string>& Log, bool CheckEngine = true);

// Verifies a contributions database: every contributor by number and name, every gift by date,
// contributor, amount and split entry number, its service and fund by the name they had in the
// source (the numbers may have changed): the one name of its source number, or one of the names
// when several source services (funds) share the number, which the report then lists as a
// notice. Services and funds are checked against the source names, and every other table of
// the database is listed.
TAreaCheck VerifyContributions(const std::string& Folder, const std::string& File,
                               const std::vector<std::string>& Log, bool CheckEngine = true);

// SHA-256 (hex) of every file below Dir, by path relative to Dir.
using TFolderHashes = std::map<std::string, std::string>;
TFolderHashes HashFolder(const std::string& Dir);

struct TFolderChanges {
  std::vector<std::string> Changed, Appeared, Vanished;
  // Those of the above that no conversion rule calls for.
  std::vector<std::string> Unexpected;
  // What the user should know but that is no fault: a rewritten table's broken hard links.
  std::vector<std::string> Notices;
};
// The differences between two hashings of one backup folder. Expected are the targets, the
// logs, the preparation's upgrades of the tables it covers, the pdfile.txt copy and the
// backup.fl rename.
TFolderChanges CompareFolderHashes(const TFolderHashes& Before, const TFolderHashes& After);

// What a run proved: the verification of every area it converted and the changes found in each
// backup folder.
// How one data area of one backup folder ended.
enum class TAreaOutcomeKind {
  Converted,      // its database was written by this run
  Skipped,        // its database was there already
  NotApplicable,  // the folder is not the area's, or holds none of its tables
  Failed,         // it was the area's business and no database came of it
  NotConverted,   // (verifying only) the sources are there, the database is not
};
struct TAreaOutcome {
  std::string Folder;
  TArea Area = TArea::Payroll;
  TAreaOutcomeKind Kind = TAreaOutcomeKind::NotApplicable;
  std::string Error;    // what failed: the area's first error line
  std::string LogFile;  // the log that tells the rest
};

// The outcome of Area in Folder after an attempt: Existed tells whether its database was there
// before, Log is the area's log as it now stands.
TAreaOutcome AreaOutcomeAfter(TArea Area, const std::string& Folder, bool Existed);

struct TRunReport {
  std::vector<TAreaCheck> Areas;
  std::vector<TAreaOutcome> Outcomes;             // every area of every backup folder, in run order
  std::map<std::string, TFolderChanges> Folders;  // by backup folder
  // What the run cleared up before it started, left by interrupted runs: one line per action
  // (a stale temporary database removed, safety copies restored), by backup folder.
  std::map<std::string, std::vector<std::string>> Recovered;
  // No mismatch, no unreadable target, no change the conversions do not call for, no area that
  // failed or was not converted.
  bool Clean() const;
};

// The report as a summary table for a terminal, one line per table.
std::string FormatRunReport(const TRunReport& Report);

// The report as JSON (schema: docs/report.md); text is written as UTF-8.
std::string RunReportJson(const TRunReport& Report);

// Verifies the databases earlier runs left in the backup folders FolderText selects (as a run
// would select them), without writing anything.
TRunReport VerifyExisting(const std::string& FolderText);

// The lines of a log file (CR LF endings); none when it does not exist.
std::vector<std::string> ReadLogLines(const std::string& Path);

}  // namespace vlt::app
