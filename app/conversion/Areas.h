// The data areas, each described in one row of one table: which backup folders are its business,
// the database and log it writes, the source tables it needs, how it converts (the contributions
// conversion, or a copy of source tables into target tables with its pairs, progress and closing
// line) and its names in reports. The driver, the dry run, the recovery of interrupted runs and
// the verification all walk this table; each area's database is described in the target
// catalogue (TargetCatalogue.cpp).
//
// Adding a table-copy area: a value of TArea (before kLastArea moves on to it), its row in
// Areas.cpp, its database in the target catalogue, and its report key in docs/report.schema.json.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "app/conversion/ConvertUtil.h"

namespace vlt::app {

class TConverter;

// The data areas, in the order a run converts them.
enum class TArea { Contributions, Payroll, ChkSch, Loans, Ledger };
inline constexpr TArea kLastArea = TArea::Ledger;
inline constexpr size_t kAreaCount = static_cast<size_t>(kLastArea) + 1;

// A rule applied to a target record after its fields were copied.
enum class TCopyRule : uint8_t {
  None,
  CheckSchedule,  // f keeps its low ten bits (+6144 for bit 10) unless t is above 0
  Loans,          // Active is set to true
};

// One source-to-target pair of a table-copy area.
struct TCopyPair {
  const char* Component;    // the source component's name ("dexold")
  const char* SourceTable;  // the source table as the component names it ("DEDTEX.DB")
  const char* TargetTable;  // catalogue name of the target table
  // Source fields in order, ";"-separated; field i goes to target field i. "" = the target's
  // fields by the same names.
  const char* SourceFields = "";
  // Source record order ("" = primary key order). A pair read in an order of its own is opened
  // in it once before anything is written, so that a problem with that index ends the area
  // before its database exists.
  const char* IndexFieldNames = "";
  TCopyRule Rule = TCopyRule::None;
};

// A pair copied after the others, whose source table may be missing; its target table is
// created when the source is there, or always (then empty without it).
struct TOptionalPair {
  TCopyPair Pair;
  bool AlwaysCreated = false;
};

// The source tables an area needs in the backup folder before it converts (found without regard
// to case), and those it copies when present.
struct TAreaSources {
  std::span<const char*const> Required, Optional;
};

// How an area converts.
enum class TAreaMethod : uint8_t {
  Contributions,  // the contributions conversion (ContributionsConversion)
  TableCopy,      // the table copy below (TConverter's table-copy skeleton)
};

// How a table-copy area moves the progress bar while it copies its pairs.
enum class TCopyProgressKind : uint8_t {
  PerTable,            // one step after each table
  PerTableWithEvents,  // the same; the window also processes its events before the area,
                       // between tables and after it
  PerRecord,           // the steps spread over the records of each pair
};

// What an area's own steps see of the run.
struct TAreaWork {
  const std::string& Folder;      // the backup folder
  int32_t Year;                   // its year (BackupYear)
  std::vector<std::string>& Log;  // the log buffer
};

struct TAreaInfo {
  TArea Area;
  const char* FolderSuffix;  // the backup folder's path must end with it (case-sensitive)
  // Only folders of this year or later (BackupYear; 0 = any folder).
  int32_t MinYear;
  // Database and log file written in the backup folder; "#" stands for the backup year.
  const char* TargetFile;
  const char* LogFile;
  const char* Name;  // in the report and the dry run: "check schedule"
  const char* Key;   // in the report's JSON: "check_schedule"
  TAreaMethod Method;
  TAreaSources Sources;
  // The upgrade and re-indexing of the area's source tables before it reads them (none for
  // most areas); interrupted runs' leftovers of it are cleared before a run.
  std::optional<TPrepareMode> Prepare = std::nullopt;

  // Table copy only.
  std::span<const TCopyPair> Pairs = {};              // in copy order
  std::span<const TOptionalPair> OptionalPairs = {};  // after Pairs, in order
  TCopyProgressKind Progress = TCopyProgressKind::PerTable;
  int Step = 0;                      // the bar's step (its range is 0 to 100)
  const char* Heading = "";          // first log line: "@" the backup folder, "#" its year
  const char* ClosingLine = "";      // last log line
  bool EndsAtFull = false;           // the bar is set full once the database is published
  bool EmptyWithoutSources = false;  // required sources missing: an empty database is made
  // The area's own step once its database is published; a failure it logs leaves it standing.
  void (*AfterPublish)(TAreaWork&) = nullptr;
  // The area's own step after its closing line, before its log is written.
  void (*BeforeLog)(TAreaWork&) = nullptr;
  // The converter's entry point for the area (front ends, tests and benchmarks may override
  // it); none: the table copy is called directly.
  int32_t (TConverter::*Convert)() = nullptr;
};

const TAreaInfo& AreaInfo(TArea Area);
// Every area, in the order a run converts them.
std::span<const TAreaInfo> Areas();

// The year of a backup folder: the four characters right before the eight-character ending
// ("cont.bkp", "jrnl.bkp") read as a decimal integer, or -1 when they are not one.
int32_t BackupYear(std::string_view BackupDir);

// The ledger's target and log file names for a year: "2012Ledger.vlt", "2012_Conversion_Log.txt".
std::string LedgerTargetFile(int32_t Year);
std::string LedgerLogFile(int32_t Year);

// Whether Folder is Area's business by its name (suffix and year rule), and the names of Area's
// database and log file in it.
bool IsAreaFolder(TArea Area, std::string_view Folder);
std::string AreaTargetFile(TArea Area, std::string_view Folder);
std::string AreaLogFile(TArea Area, std::string_view Folder);

// A table-copy area's heading for a backup folder.
std::string AreaHeading(TArea Area, std::string_view Folder);

// Whether a log line is one of the headings or closing lines the areas write.
bool IsAreaFrameLine(std::string_view Line);

const TAreaSources& AreaSourcesOf(TArea Area);

// Every source-to-target pair of a table-copy area, in copy order (the optional pairs last).
// Empty for contributions.
std::vector<TCopyPair> CopyPairsOf(TArea Area);

}  // namespace vlt::app
