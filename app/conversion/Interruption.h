// What keeps an interrupted run from leaving damage behind.
//
// Publishing. Every area builds its database under a temporary name beside the target (the
// target's name plus ".partial"), closes and compacts it there, syncs it and only then renames it
// to the target's name (never replacing a file) and syncs the folder. A run killed at any instant
// leaves either no target or a complete one, so the rule "an area whose database exists is
// skipped" can never skip a half-written area.
//
// Recovery. Before a run looks at a backup folder it clears what an interrupted run left there:
// a stale ".partial" (and its compaction copy) that no live process holds, the contributions
// safety copies a finished run would have restored, and the table upgrade's moved-aside tables
// (see RecoverUpgradeLeftovers). Each action is one note for the area's log and the run report.
//
// Cancelling. A stop request (Ctrl-C, SIGTERM, SIGHUP, or the window closed during a run) is
// honoured at the next record boundary: TConverter::CheckCancelled raises TConversionCancelled,
// which no per-record handler catches; the area on its way out removes its temporary database,
// restores renumbered sources and writes its log so far.
#pragma once

#include <string>
#include <vector>

#include "app/conversion/Conversion.h"

namespace vlt::app {

// Raised at a record boundary after a stop request. Deliberately not a std::exception, so that
// the handlers that log a record's failure and go on let it through.
struct TConversionCancelled {};

inline constexpr const char* kMsgCancelled = "Conversion cancelled.";
inline constexpr const char* kLogCancelled = "Conversion cancelled";
inline constexpr const char* kPartialSuffix = ".partial";

// Target + ".partial".
std::string PartialNameOf(const std::string& Target);

// Syncs Partial, renames it to Target unless Target exists, syncs the folder. Throws
// std::system_error naming the files when the rename is refused.
void PublishDatabase(const std::string& Partial, const std::string& Target);

// Removes Path when no live process has it open: the file's exclusive open-file-description
// lock over every byte is taken first (every open of a database holds locks on it) and held
// across the unlink. Answers true when the file is gone (also when it was not there), false when
// another process holds it.
bool RemoveUnlessHeld(const std::string& Path);

// The files the engine keeps beside a database while it writes: its rollback journal
// (Db + "-journal") and the allocation markers of its shared writers (Db + "-alloc-...").
std::vector<std::string> CompanionsOf(const std::string& Db);

// Removes an area's unfinished database: Partial, its compaction copy (Partial + ".tmp") and
// the companions of both.
void DiscardPartial(const std::string& Partial);

// One thing the recovery did (or left alone) in a backup folder.
struct TRecoveryNote {
  TArea Area;
  std::string Text;  // a log line: "Removed Payroll.vlt.partial left by an interrupted run"
};

// Everything the recovery does for Folder, in order: stale temporary databases of the areas
// whose target does not exist, leftover contributions safety copies, leftover upgrade tables.
std::vector<TRecoveryNote> RecoverInterruptedRun(const std::string& Folder);

// Stop requests from signals: SIGINT, SIGTERM and SIGHUP set a flag (a second signal of the same
// kind ends the process at once).
void InstallCancelSignalHandlers();
bool CancelSignalled();

}  // namespace vlt::app
