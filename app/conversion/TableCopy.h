// Copying one Paradox source table into one target table, record by record and field by
// position, with the per-table rules of the table-copy areas. Also the pieces the contributions
// conversion and the verification share: a source value as a target field value, and the text
// of a source field as the logs write it.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "app/conversion/Conversion.h"
#include "app/paradox/ParadoxError.h"
#include "app/paradox/ParadoxTable.h"
#include "engine/components/VLTTable.h"

namespace vlt::app {

// Commits a database's changes in batches of Size records: one commit per record would write
// every changed page again for each of them, and a bounded batch keeps memory flat however large
// the table. Does nothing when the database is already in a transaction. Finish commits the
// last batch (and raises its errors); an object destroyed without Finish rolls the open batch
// back.
class TBatchCommit {
 public:
  explicit TBatchCommit(TVLTDatabase* Db, int32_t Size = 4096);
  ~TBatchCommit();
  TBatchCommit(const TBatchCommit&) = delete;
  TBatchCommit& operator=(const TBatchCommit&) = delete;
  // After each record written.
  void Written();
  void Finish();

 private:
  TVLTDatabase* FDb;
  int32_t FSize, FInBatch = 0;
  bool FOwn;
};

// Whether an error's text is the database file refusing a write (a full disk, an I/O error)
// rather than a record being refused: then every later write would fail the same way, and an
// area stops at the first.
bool IsStorageFailure(const std::string& Text);

// Log lines.
inline constexpr const char* kLogErrorWritingRecord = "Error Writing Record: ";
inline constexpr const char* kLogErrorOpeningTable = "Error Opening Table: ";

struct TCopyCounts {
  int32_t SourceRecords = 0;  // records of the source
  int32_t Skipped = 0;        // first field empty
  int32_t Rejected = 0;       // logged as "Error Writing Record"
  int32_t Written = 0;
};

// How a copy reports progress: once per source record (after it was handled), and once before
// the first record with the source's record count.
struct TCopyProgress {
  std::function<void(int32_t RecordCount)> Started;
  std::function<void()> Record;
  // Before each record (and after the last): where a stop request may end the copy by raising.
  std::function<void()> Boundary;
};

// Copies every record of Pair's source table in Dir into Target (a closed table component of
// an open database). Per record: skipped when its first field is empty; otherwise appended with
// field i set from source field i (converted to the target type; NULL stays NULL), the pair's
// rule applied, and posted. A record that fails is cancelled and logged as
//   "Error Writing Record: <target>: <text of each source field>, " ...
// and the copy goes on. When the source or the target cannot be opened, or the source lacks a
// listed field, "Error Opening Table: <source table>" is logged, nothing is copied and the
// result is false. Sources are opened read-only. Both tables are closed afterwards.
bool CopyRecords(TVLTTable& Target, const TCopyPair& Pair, const std::string& Dir,
                 std::vector<std::string>& Log, const TCopyProgress& Progress = {},
                 TCopyCounts* Counts = nullptr);

// The source field names of Pair for a target with TargetFields.
std::vector<std::string> SourceFieldNames(const TCopyPair& Pair,
                                          const std::vector<std::string>& TargetFields);

// A source value as the engine's value (NULL stays NULL).
TVLTVariant SourceVariant(const TParadoxValue& Value);

// Sets Target from a source value, converting to the target's type; NULL clears it.
void AssignSourceValue(TVLTField& Target, const TParadoxValue& Value);

// The text of a source value as logs write it: numbers in general format (up to 15 significant
// digits), dates in the short date format, logical values as True/False, NULL as "".
std::string SourceValueText(const TParadoxValue& Value);

// The check-schedule rule for f when t is not above 0.
int32_t ScheduleFlags(int32_t F);

}  // namespace vlt::app
