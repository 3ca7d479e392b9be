// TVLTRollbackJournal: the file beside a database (its name + "-journal") that makes a commit
// atomic across a crash. Before a commit overwrites a page in place, the page's previous image
// goes to the journal; the commit then writes in place as it always did, and the journal is
// removed once the header says the commit completed. A database whose header says a commit was
// cut off and which has a complete journal record for a page gets that page back, so opening
// it after a crash restores the last committed state instead of asking for repair.
//
// Journal layout (little-endian):
//
//   OFFSET  SIZE  FIELD
//   0       8     Magic "VLTJRNL" + kind (1 = commit, 2 = allocations pending)
//   8       4     PageSize of the database
//   12      4     DBState: the header's State when the commit began
//   16      8     FileSize: the database file's size when the commit began
//   24      8     OffsetToDBHeader
//   32      4     AddedCount: pages the committing session allocated (no previous image)
//   36      4     CRC32 of bytes 0..35, the header image and the added list
//   40      76    the database header as it was when the commit began
//   116     4*A   the added page numbers
//   then records, each: Position (8), Length (4), CRC32 of Position, Length and data (4), data
//
// Rules that make the order of writes safe:
//   1. A record is complete in the journal (and synced, in normal durability) before the bytes
//      it saves are overwritten; so a record that is torn or missing saved nothing yet. A
//      commit's fixed part and records are queued and reach the file in one write (Flush, also
//      done by Sync; a queue of 1 MiB is written at once) before its first in-place write; a
//      write that fails takes its queued records back, so their pages count as not saved (and
//      a fixed part that never reached the file as a journal not begun).
//   2. Pages beyond FileSize and pages the session allocated have no previous image worth
//      keeping: rollback cuts the file back to FileSize and stamps the allocated pages freed.
//   3. The owner keeps the journal open exclusively (share modes of TVLTDatabaseFile) while it
//      uses it; a journal that can be opened exclusively has no live owner and may be recovered.
//   4. An owner that keeps the file between commits (SetKeepOpen) empties it when a commit
//      completes instead of removing it: an empty journal saves nothing and is removed by the
//      next open, exactly like no journal. Such an owner still holds it exclusively, so nobody
//      takes it for a dead owner's; Release removes it when the owner lets go.
//   5. A kind-2 journal is written when a session of an exclusive database first allocates
//      pages outside a commit. It saves the bitmap pages that allocations (and the freeing of a
//      cancelled transaction's pages) overwrite in place, with the header as it was before:
//      putting them back gives the file its state before those allocations, which no commit
//      has relied on (a commit replaces the journal with its own, and removes it when done).
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <unordered_set>
#include <vector>

#include "engine/base/VLTTypes.h"
#include "engine/disk/VLTDatabaseFile.h"
#include "engine/disk/VLTDiskFileFormat.h"

namespace vlt {

class TVLTRollbackJournal {
 public:
  enum class TKind : uint8_t { None = 0, Commit = 1, Allocations = 2 };

  // What a database's journal file holds, as found at open.
  struct TFound {
    bool Exists = false;
    bool Live = false;  // another owner holds it
    TKind Kind = TKind::None;
    bool Valid = false;  // a readable fixed part with a matching checksum
    int32_t DBState = 0;
    uint16_t PageSize = 0;
  };

  static std::string PathFor(const std::string& DatabaseFileName) {
    return DatabaseFileName + "-journal";
  }
  static TFound Inspect(const std::string& DatabaseFileName);
  // Applies every complete record of the journal to Db, restores the header image, cuts or
  // grows the file back to its size and syncs it; Added receives the pages to stamp freed.
  // False (nothing done) when the journal is not a valid journal of this page size.
  static bool RollBack(const std::string& DatabaseFileName, TVLTDatabaseFile& Db, uint16_t PageSize,
                       std::vector<TVLTPageNo>& Added, int64_t& Records);
  // Removes the journal file (no error when it is not there).
  static void Remove(const std::string& DatabaseFileName);

  explicit TVLTRollbackJournal(std::string DatabaseFileName);
  ~TVLTRollbackJournal();  // closes the file, swallowing errors; the file stays on disk
  TVLTRollbackJournal(const TVLTRollbackJournal&) = delete;
  TVLTRollbackJournal& operator=(const TVLTRollbackJournal&) = delete;

  // Starts a commit's journal (creating or truncating the file): Header is the database header
  // as the commit found it, Added the session's allocated pages.
  void Begin(const TVLTDBHeader& Header, int64_t OffsetToDBHeader, uint16_t PageSize,
             int64_t FileSize, const std::vector<TVLTPageNo>& Added);
  // Starts a kind-2 journal when no journal is in use (Header and FileSize as for Begin).
  void MarkAllocations(const TVLTDBHeader& Header, int64_t OffsetToDBHeader, uint16_t PageSize,
                       int64_t FileSize);
  bool Active() const { return FActive; }
  // Called before every write to the journal file (the page manager's test hook).
  void SetWriteHook(std::function<void()> Hook) { FWriteHook = std::move(Hook); }
  bool MarkerWritten() const { return FMarker; }

  // Queues the page's current bytes from Db unless the journal already covers the page.
  // Answers whether a record was queued (the caller flushes, and syncs in normal durability,
  // before overwriting the page).
  bool Protect(TVLTPageNo PageNo, int64_t Position, TVLTDatabaseFile& Db);
  // Writes what is queued in one write.
  void Flush();
  void Sync();  // Flush, then sync the file
  // The commit completed: closes the file and removes it, or (kept open) empties it.
  void Finish();
  // Whether Finish keeps the file open and empty for the next commit (rule 4): worth it where
  // commits are not synced, so that creating and removing the file is most of their cost.
  void SetKeepOpen(bool V) { FKeepOpen = V; }
  // Closes and removes a file kept open while no journal is in use; a journal in use stays.
  void Release();

 private:
  void Create();
  // Writes the fixed part of a journal of Kind and starts covering its pages.
  void Start(TKind Kind, const TVLTDBHeader& Header, int64_t OffsetToDBHeader, uint16_t PageSize,
             int64_t FileSize, const std::vector<TVLTPageNo>& Added);
  void Write(const void* Data, size_t Count);

  std::string FDatabaseFileName;
  std::string FPath;
  TVLTDatabaseFile FFile;
  bool FActive = false;
  bool FMarker = false;
  bool FKeepOpen = false;
  bool FEmpty = false;  // the open file holds nothing
  uint16_t FPageSize = 0;
  int64_t FFileSize = 0;
  int64_t FEnd = 0;  // where the queued bytes go
  std::unordered_set<TVLTPageNo> FCovered;
  std::vector<uint8_t> FQueued;          // bytes not written yet, from FEnd on
  std::vector<TVLTPageNo> FQueuedPages;  // the pages whose records are among them
  bool FFixedQueued = false;             // the fixed part is among them
  std::function<void()> FWriteHook;
};

}  // namespace vlt
