// Kill-point sweeps of a writer: a child process runs random transactions (inserts, updates,
// deletes) on an encrypted database, optionally compacting it now and then, and is killed just
// before its N-th write to any file (database, journal or a compaction's copy), optionally
// tearing that write in half. The parent then opens the database as the next user would and
// compares it with the state after the last transaction the child reported committed.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vlt::tools {

struct TCrashCase {
  uint16_t PageSize = 4096;
  bool Compact = false;     // compact after every fifth transaction
  int64_t KillAtWrite = 1;  // the write (1-based) the child dies before; beyond the run: none
  // That write reaches the file half done (a torn page write, as a system crash leaves it; a
  // killed process never tears a write). Not for shared writers: their allocations cannot be
  // journalled by page images (putting a bitmap page back would undo other writers' allocations),
  // so only a kill, not a torn bitmap page, is theirs to survive.
  bool Tear = false;
  uint64_t Seed = 1;        // of the transactions
  int32_t Transactions = 24;
  // Writers open the file shared (as the conversions do) instead of exclusively; the open after
  // the crash is then shared too.
  bool Shared = false;
  // Kills in a row on the same database, each run starting from what the reopen before it found
  // (its kill point and transactions drawn from Seed); the outcome is the last round's, which
  // ends the case early when it is not good.
  int32_t Rounds = 1;
};

struct TCrashOutcome {
  bool Killed = false;       // the child died at the kill point (else it finished the run)
  std::string KilledBefore;  // the kind of write it died before ("bitmap page", "journal", ...)
  int64_t Committed = 0;     // transactions the child reported committed
  int64_t Writes = 0;        // writes the child made (when it was not killed)
  bool RepairNeeded = false; // the open after the crash asked for repair
  int64_t RolledBack = 0;    // pages the open put back from the journal
  int64_t Reclaimed = 0;     // leaked pages the open gave back
  int64_t CommittedRowsLost = 0;
  int64_t UncommittedVisible = 0;  // rows present or changed that no committed state has
  int64_t CheckProblems = 0;       // the engine's table check after the open
  int64_t PageMapProblems = 0;     // the page map against the bitmaps after the open
  int64_t LeakedPages = 0;         // pages left marked used that hold no committed page
  std::vector<std::string> Findings;  // the check's problems and warnings, the open's changes
  bool WriterFailed = false;          // the writer died of something else than the planned kill
  std::string Problem;                // why the writer failed, or the database could not be read
  bool Good() const {
    return Problem.empty() && (Killed || Writes > 0) && !RepairNeeded && CommittedRowsLost == 0 &&
           UncommittedVisible == 0 && CheckProblems == 0 && PageMapProblems == 0 &&
           LeakedPages == 0;
  }
};

// Runs one case in Dir (which it empties first). A writer that dies of anything but the planned
// kill (a signal, an exception, a row the engine lost) sets Problem. REQUIRES: the engine
// started.
TCrashOutcome RunCrashCase(const std::string& Dir, const TCrashCase& Case);

}  // namespace vlt::tools
