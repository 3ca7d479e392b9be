// The contributions conversion of one backup folder: contributors, services, funds and gifts
// into "XLQCont.bkp.vlt", with the renumbering that gives every service and fund a number of
// its own while keeping each gift with a service and fund of the same number and name.
//
// The sources are renumbered in place and restored from safety copies at the end:
//
//   step  what                                         on error
//   1-5   folder checks, preparation, year             "Conversion Failed." when a table is missing
//   6     safety copies name-bkp.db / name-bkp.px
//   8     database and tables                          ConversionError 1
//   9     open the sources                             ConversionError 2 (database deleted)
//   10    open the targets                             ConversionError 3
//   12-15 contributors, services, funds, gifts         101 when gifts cannot be renumbered
//   17    close, restore the copies, drop the working tables, compact, "Conversion Complete"
//
// Every restore is one atomic rename of the safety copy over the original (the folder is synced
// afterwards), so at every instant a whole table exists under the original name.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "app/conversion/Conversion.h"
#include "app/paradox/ParadoxTable.h"

namespace vlt {
class TVLTTable;
}

namespace vlt::app {

// The entry-number layout: bits 8 to 27 of the source Entrynum are the check number; bits 0 to
// 7, with bits 28 to 31 moved to 24 to 27, are the entry number.
int32_t SplitChkNum(int32_t SourceEntrynum);
int32_t SplitEntrynum(int32_t SourceEntrynum);

// A filter text's single-quoted string, inner quotes doubled.
std::string QuotedFilterString(const std::string& S);

// Delphi-style trim: characters up to the blank removed at both ends.
std::string TrimBlanks(const std::string& S);

inline constexpr const char* kMsgConversionFailed = "Conversion Failed.";

// Puts back the safety copies (name-bkp.db / name-bkp.px) an interrupted run left in Folder,
// exactly as the closing step restores them: each one renamed over its original, then the
// folder synced. A half-written copy (".copy-tmp") is removed. Answers a log line per file.
std::vector<std::string> RestoreLeftoverSafetyCopies(const std::string& Folder);

class TContributionsRun {
 public:
  explicit TContributionsRun(TConverter& Converter);
  ~TContributionsRun();
  TContributionsRun(const TContributionsRun&) = delete;
  TContributionsRun& operator=(const TContributionsRun&) = delete;

  // The whole step for the converter's BackupDir; true when it counted a conversion.
  bool Run();

 private:
  // A table with a Num field that NextFreeNum can probe: a target table component or a source
  // cursor.
  class TNumTable;
  class TTargetNums;
  class TSourceNums;

  // Which gifts a renumbering of a service (fund) moves. A gift moves with the source record
  // that last moved it; until its first move it belongs to every source record that carries its
  // number in the source, and the first of them to be renumbered takes it. So a gift that one
  // record moved to a number is not taken along when another record of that number moves on.
  // The gifts are kept in buckets by current number and owner: a renumbering touches only the
  // gifts it moves.
  struct TGiftOwners {
    // (current number, source record that last moved them; 0 = none yet) -> gifts
    std::map<std::pair<int32_t, TParadoxBookmark>, std::vector<TParadoxBookmark>> Buckets;
    // source record -> its number in the source, before any renumbering
    std::unordered_map<TParadoxBookmark, int32_t> SourceNum;
  };

  struct TSafetyCopy {
    std::string Original;  // the table file as found
    std::string Copy;      // name-bkp.db beside it
  };

  // Steps.
  bool MakeSafetyCopies();
  void RestoreSafetyCopies();
  void OpenSources();
  void OpenTargets();
  void Contributors();
  void ServicesOrFunds(bool Funds);
  void Contributions();
  void Closing();
  // Renames the finished database to its target name (a stop request discards it instead).
  void Publish();
  // A stop request during steps 11-15: sources closed and restored, the database discarded.
  void Cancelled();

  // Helpers of the renumbering.
  int32_t NextFreeNum(int32_t Start, TNumTable& Table);
  bool SourceHasNum(int32_t N);
  void IndexGifts(bool Funds);
  // Moves the gifts of source record Record from Old to New.
  void RenumberContributions(bool Funds, TParadoxBookmark Record, int32_t Old, int32_t New);
  void MoveSourceOutOfTheWay(bool Funds, int32_t P, const std::string& S);
  void AddServiceOrFund(bool Funds, int32_t P, std::string& S);
  void AppendChange(bool Funds, int32_t OldNum, const std::string& Name, int32_t NewNum);
  bool ChangeExists(bool Funds, int32_t OldNum, const std::string& Name, int32_t& NewNum);
  void PointLookupAt(const std::string& Table);

  void Log(std::string Line);
  void Fail(int32_t Code);
  // Notes E when it is the database file refusing a write (a full disk, an I/O error); true
  // then. The area stops at the first such failure, and its database is discarded.
  bool StorageFailed(const std::exception& E);
  std::string Source(const char* Name) const;

  TConverter& FConv;
  std::string F;
  int32_t FYear = -1;
  std::vector<TSafetyCopy> FCopies;
  bool FStorageFailed = false;

  TParadoxTable FContNames, FCtbl0, FServTbl0, FFundTbl0, FT01;

  TGiftOwners FServiceGifts, FFundGifts;

  int32_t FServicePos = 0, FFundPos = 0, FServiceSerial = 0, FFundSerial = 0;
};

}  // namespace vlt::app
