// TVLTDiskPageManager: the page manager of a single-file database. It supplies the physical page
// operations over the file (allocation through the free-space manager, read with decryption and
// checksum, write with encryption), owns the in-memory prolog (database header, crypto header,
// lock-byte area), offers the byte-range locks through which processes coordinate, hands out
// object ids, and wraps every commit in the header protocol that marks an interrupted commit.
//
// Invariants:
//   1. The file is OffsetToFirstPage + TotalPageCount * PageSize bytes long, or longer after an
//      interrupted growth (ExtendFile always sets the size from TotalPageCount, so the surplus
//      is harmless and absorbed by the next growth). The header never claims a page the file
//      does not hold: the file grows before the header counts the new pages, and the header
//      drops pages before the file is cut.
//   2. WriteChangesState is 2 in the file only when every commit written through this manager
//      completed: it becomes 1 before the first byte of a commit reaches the file, and a commit
//      that failed keeps it 1 until the same session's retried commit completes.
//   3. Page N of the file is at OffsetToFirstPage + N * PageSize; system pages (the free-space
//      bitmaps) are never handed out by GetPage, RemovePage or AddPage, and never encrypted.
//   4. A page in memory is always plain: a write encrypts a copy of the data in place, writes
//      it, and decrypts it again whether or not the write succeeded.
//   5. The header lock byte is held by this manager iff FLockDBHeaderCount > 0, except by the
//      sole owner (below), which counts without taking the byte: nobody else can open its file.
//   6. The crypto header is written only at creation; opening writes nothing but the write
//      probe's unchanged first byte.
//
// Commit protocol (ApplyChanges; the header lock is held from the first step to the last):
//
//   STEP                           METHOD                      FILE AFTERWARDS
//   nothing to commit              HasChanges                  untouched
//   check pages released          CheckSessionPagesReleased   untouched (20152/20085/20086)
//   take header lock              LockDBHeader (4500 x 20ms)  untouched (20213)
//   reread header, mark writing   ReadDBHeader, WriteDBHeader WriteChangesState 1
//   free removed pages            InternalRemovePage          page State MaxInt, bits cleared
//   write dirty pages (ascending) InternalWritePage           pages written, State + 1 each
//   mark commit complete          WriteDBHeader               State + 1, WriteChangesState 2
//   release header lock           UnlockDBHeader              (also after any failure; a
//                                                             failure leaves state 1)
//
// Before the first in-place write of a commit, the previous images of the pages it overwrites
// (and the header) go to the rollback journal beside the file (TVLTRollbackJournal); a page the
// commit reaches that is not in the journal yet (a bitmap page of a freed page) is saved just
// before it is written. The journal is removed once the header says the commit completed (and,
// in normal durability, after the file was synced). A process that dies between the two header
// writes leaves WriteChangesState 1 and the journal: the next writable OpenDatabase (or the next
// commit of another process) puts the saved pages back, and the database is in its last
// committed state with no repair needed. Without a journal (deleted, or an older writer) the
// file reports RepairNeeded as it always did.
//
// The sole owner: a writer that opened the file exclusively in single-user mode. Nobody else
// can open the file while it is open, so what this manager last read or wrote of the header is
// what the file holds; it then takes the header from memory instead of rereading it
// (RefreshDBHeader) until a read or write of it fails. Every write still goes to the file at
// once and in the same order, so the file's bytes are the same at every step.
//
// Pages a session allocated but never committed stay marked used (allocation writes the bitmaps
// at once). An exclusive writer leaves a marker journal while it has allocated pages; an
// exclusive open that finds one gives back the used pages that hold no committed page. A shared
// writer makes an allocation marker of its own ("<file>-alloc-<pid>-<random>", empty) before its
// first allocation and removes it at a close that leaves nothing uncommitted; nobody else
// removes a marker except a writable open that finds the file open nowhere else: it gives back
// the leaked pages and sets LastUsedPageNo from the bitmaps, under the header lock (so nobody
// can allocate meanwhile), and then removes every marker. While others have the file open their
// uncommitted pages cannot be told from a dead writer's: the pages stay leaked (a warning of the
// check) until such an open.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "engine/core/VLTPageManager.h"
#include "engine/disk/VLTDatabaseFile.h"
#include "engine/disk/VLTDiskFileFormat.h"
#include "engine/disk/VLTDiskTablePagesCache.h"
#include "engine/disk/VLTRollbackJournal.h"

namespace vlt {

class TVLTDatabaseCipher;
class TVLTDatabaseFreeSpaceManager;

// What is about to be written (for the test hook). Journal: a write to the rollback journal.
enum class TVLTDiskWrite { DBHeader, Page, PageState, PageRegion, LastObjectID, Prolog, Journal };

class TVLTDiskPageManager : public TVLTPageManager {
 public:
  TVLTDiskPageManager();
  ~TVLTDiskPageManager() override;  // closes the database

  // ---- creating, opening, closing ----
  // Creates the file with its prolog (header, crypto header with the control block when
  // Password is not empty, lock bytes, object-id counter 0) and leaves it open without pages.
  // 10461 when this manager's file is already open.
  void CreateAndOpenDatabase(const std::string& DatabaseFileName, const TVLTPassword& Password,
                             uint16_t PageSize, uint16_t ExtentPageCount);
  // Opens an existing file and checks it: signature (10470), password against the control block
  // (30445, before any page is read), prolog sizes and header values (20237). ReadOnly becomes
  // true when the file cannot be written; RepairNeeded tells that the last commit did not
  // complete (or the file is older than version 2.99). aMultiUser becomes false for exclusive
  // opens and read-only files. 10462 when this manager's file is already open; 20230 when the
  // header lock cannot be taken. On a failure the file stays open: the caller closes it.
  void OpenDatabase(const std::string& DatabaseFileName, const TVLTPassword& Password,
                    bool& ReadOnly, bool& RepairNeeded, bool Exclusive, bool& aMultiUser);
  // Closes the file (a failing close only marks it closed), drops the cached clean pages and
  // frees the free-space manager. Uncommitted pages stay with their sessions.
  void CloseDatabase();

  // Verifies the page lists (the base class's check), invariants 1 and 5 above and the free-space
  // manager's; raises 20981 at the first violation. A debug aid for tests and tools.
  void CheckDiskInvariants();

  // ---- the page manager's operations ----
  int32_t PageCount() override;  // the header's TotalPageCount, reread under the header lock
  bool IsPageTableStateCurrent(TVLTSessionID SessionID, TVLTPage* Page) override;
  void SavePageTableState(TVLTSessionID SessionID, TVLTPage* Page) override;
  void RemovePage(TVLTSessionID SessionID, TVLTPageNo PageNo) override;  // 30434 system pages
  TVLTPage* GetPage(TVLTSessionID SessionID, TVLTPageNo PageNo, uint16_t PageType,
                    bool SynchronizeAllowed = true) override;            // 30434 system pages
  void ApplyChanges(TVLTSessionID SessionID) override;                  // the commit protocol

  // ---- direct page access (no cache, no encryption, no checksum) ----
  // Offset + Count above PageSize: 10476 (read) / 10477 (write); file errors 10474 / 10475.
  void ReadPageRegion(void* Buffer, TVLTPageNo PageNo, uint16_t Offset, uint16_t Count);
  // The stored header of every page [0, PageCount()) as the file holds it (headers are never
  // encrypted), read in large blocks past the cache: what checks scan instead of reading and
  // decrypting every page. A page that cannot be read gets a zeroed header (no signature); the
  // list ends with the file, also when a damaged header counts more pages.
  void ReadPageHeaders(std::vector<TVLTDiskPageHeader>& Headers);
  void WritePageRegion(const void* Buffer, TVLTPageNo PageNo, uint16_t Offset, uint16_t Count);
  // Multi-user only: the State stored for the page; MaxInt on any failure or in single-user mode.
  int32_t InternalReadPageState(TVLTPageNo PageNo) override;
  void InternalWritePageState(TVLTPageNo PageNo, int32_t PageState);
  // File position of a page; 10471 "Invalid PageNo = %d" for -1 (and any negative number).
  int64_t PagePosition(TVLTPageNo PageNo) const;

  // ---- prolog ----
  void ReadDBHeader();  // 10459 closed, 10464 read failure
  // ReadDBHeader, unless this is the sole owner and the in-memory header is what the file holds;
  // answers true when it kept the in-memory header (nothing was read).
  bool RefreshDBHeader();
  // The in-memory header may differ from the file (a failed step): the next refresh rereads it.
  void ForgetDBHeader() { FDBHeaderCurrent = false; }
  // A writer that opened the file exclusively in single-user mode (see the header).
  bool SoleOwner() const {
    return FExclusive && !FMultiUser && FDatabaseFile->IsOpened() &&
           FDatabaseFile->AccessMode() == amReadWrite && FDatabaseFile->ShareMode() == smExclusive;
  }
  // 10460 closed, 10462 write failure; CheckExternalChanges applies the design-mode check 20196.
  void WriteDBHeader(bool CheckExternalChanges = false);
  void ReadCryptoHeader();   // 30436, 30439
  void WriteCryptoHeader();  // 30437, 30438
  void ReadLockedBytes();    // 30441, 30442 (only LockedByteSize is read)
  void WriteLockedBytes();   // 30443, 30444

  // ---- locks between processes (never wait; answer whether it worked) ----
  bool LockDBHeader();  // counted: nested calls succeed, the last unlock releases
  bool UnlockDBHeader();
  bool LockTables();
  bool UnlockTables();
  bool LockFreeSpaceManager();
  bool UnlockFreeSpaceManager();
  bool LockLastObjectID();
  bool UnlockLastObjectID();
  bool LockPageByte(TVLTPageNo PageNo, uint16_t Offset);
  bool UnlockPageByte(TVLTPageNo PageNo, uint16_t Offset);
  bool IsPageByteLocked(TVLTPageNo PageNo, uint16_t Offset);
  bool IsPageRegionLocked(TVLTPageNo PageNo, uint16_t Offset, uint16_t Count);
  // LockDBHeader retried LockRetryCount times LockRetryDelayMS apart (4500 x 20 ms).
  bool LockDBHeaderWithRetry();

  // ---- object ids ----
  // The next object id (30399 closed, 30401 lock, 30400 read, 30404 write). A read-only file is
  // not changed; the answer then adds a random 0..9999. The arguments are not used.
  int32_t GetNextObjectID(int32_t TryCount = 0, int32_t DelayMS = 0);
  void InitObjectID(int32_t TryCount = 0, int32_t DelayMS = 0);

  // ---- size ----
  // Grows the file by PageCount pages (to OffsetToFirstPage + (TotalPageCount + PageCount) *
  // PageSize), then counts them in the in-memory header. Nothing for PageCount <= 0.
  void ExtendFile(int32_t PageCount);
  // Drops PageCount pages: header first (written), then the file is cut. Nothing for
  // PageCount <= 0 or above TotalPageCount.
  void TruncateFile(int32_t PageCount);
  // Cuts the free tail so that the last used page is the file's last page.
  void TruncateDatabase();

  // ---- properties ----
  TVLTDatabaseFile& DatabaseFile() { return *FDatabaseFile; }
  TVLTDBHeader& DBHeader() { return FDBHeader; }
  const TVLTCryptoHeader& CryptoHeader() const { return FCryptoHeader; }
  const TVLTLockedBytes& LockedBytes() const { return FLockedBytes; }
  const TVLTPassword& Password() const { return FPassword; }
  bool IsOpened() const { return FDatabaseFile->IsOpened(); }
  bool Encrypted() const { return FDBHeader.Encrypted != 0; }
  bool Exclusive() const { return FExclusive; }
  int64_t OffsetToDBHeader() const { return FOffsetToDBHeader; }
  int64_t OffsetToCryptoHeader() const { return FOffsetToCryptoHeader; }
  int64_t OffsetToLockedBytes() const { return FOffsetToLockedBytes; }
  int64_t OffsetToLastObjectID() const { return FOffsetToLastObjectID; }
  int64_t OffsetToFirstPage() const { return FOffsetToFirstPage; }
  TVLTDatabaseFreeSpaceManager* FreeSpaceManager() const { return FDatabaseFreeSpaceManager.get(); }
  TVLTDiskTablePagesCacheManager& TablePagesCacheManager() { return FTablePagesCacheManager; }
  int32_t LockDBHeaderCount() const { return FLockDBHeaderCount; }
  // True when page N is a free-space bitmap page of this file.
  bool IsSystemPage(TVLTPageNo PageNo) const;

  // How commits meet the medium (default dsNormal); set before opening.
  TVLTDurability Durability() const { return FDurability; }
  void SetDurability(TVLTDurability V) { FDurability = V; }
  // What the last OpenDatabase did about a journal it found: saved pages put back (0 when none)
  // and leaked pages given back.
  int64_t RolledBackPages() const { return FRolledBackPages; }
  int64_t ReclaimedPages() const { return FReclaimedPages; }
  // What the last OpenDatabase changed in the file, one line each (empty: nothing).
  const std::vector<std::string>& OpenChanges() const { return FOpenChanges; }
  // The allocation markers of shared writers beside the database file (see the header).
  static std::vector<std::string> AllocationMarkers(const std::string& DatabaseFileName);
  // Gives back the pages marked used that hold no committed page (never written, or stamped
  // freed): what a session that died before its commit left. REQUIRES that no session of any
  // process has uncommitted pages (an exclusive open). Answers how many.
  int64_t ReclaimLeakedPages();
  // ReclaimLeakedPages, counted in FReclaimedPages and told in the open's changes; the pages
  // freed.
  int64_t ReclaimAndReport();

  // The process-wide designer flag (an application never sets it).
  bool DesignMode() const { return FDesignMode; }
  void SetDesignMode(bool V) { FDesignMode = V; }
  // Lock waits (4500 tries 20 ms apart); tests shorten them.
  void SetLockRetry(int32_t Count, int32_t DelayMS) {
    FLockRetryCount = Count;
    FLockRetryDelayMS = DelayMS;
  }
  // Called before every write to the file with what is written and the page number (-1 for
  // prolog writes). Tests use it to count writes, to fail one (by throwing) or to stop the
  // process at a chosen point.
  using TWriteHook = std::function<void(TVLTDiskWrite What, TVLTPageNo PageNo)>;
  void SetWriteHook(TWriteHook Hook) { FWriteHook = std::move(Hook); }

 protected:
  friend class TVLTDatabaseFreeSpaceManager;

  void InternalAddPage(TVLTPage* Page) override;
  void InternalRemovePage(TVLTPageNo PageNo) override;
  bool InternalReadPage(TVLTPage* Page) override;
  void InternalWritePage(TVLTPage* Page) override;

 private:
  void Hook(TVLTDiskWrite What, TVLTPageNo PageNo) {
    if (FWriteHook) FWriteHook(What, PageNo);
  }
  bool RetryLock(const std::function<bool()>& TryOnce);
  void ResetProlog();
  void CheckPageNoForSystemPages(TVLTPageNo PageNo) const;
  void CheckHeaderValues() const;
  // Under the header lock with the header just read: a journal left by a dead writer is put
  // back when the header says its commit was cut off. Answers whether it was.
  bool RecoverJournal();
  // At a writable open: a rolled-back or stale journal is dealt with and removed; exclusive
  // opens also give back leaked pages and a compaction's stale ".tmp"; shared writers' markers
  // lead to ReclaimWhenAlone.
  void TidyAfterOpen(bool& RepairNeeded);
  TVLTRollbackJournal& Journal();
  // A shared writer's allocation marker, made once per open before its first allocation.
  void MakeAllocationMarker();
  // Under the header lock at a writable open: when nobody else has the file open, gives back
  // leaked pages, sets LastUsedPageNo from the bitmaps and removes the allocation markers.
  void ReclaimWhenAlone(const std::vector<std::string>& Markers);
  // Saves the page's previous image when a commit is under way (see the commit protocol).
  void ProtectPage(TVLTPageNo PageNo);

  std::unique_ptr<TVLTDatabaseFreeSpaceManager> FDatabaseFreeSpaceManager;
  std::unique_ptr<TVLTDatabaseFile> FDatabaseFile;
  TVLTDBHeader FDBHeader;
  TVLTCryptoHeader FCryptoHeader;
  TVLTPassword FPassword;
  TVLTLockedBytes FLockedBytes;
  int32_t FLockDBHeaderCount = 0;
  int64_t FLockedDBHeaderByte = 0;  // the byte the current header lock is on (-1: none taken)
  bool FDBHeaderCurrent = false;    // FDBHeader is what the file holds (last read or written)
  bool FExclusive = false;
  TVLTDiskTablePagesCacheManager FTablePagesCacheManager;
  int64_t FOffsetToDBHeader = 0;
  int64_t FOffsetToCryptoHeader = kDefaultOffsetToCryptoHeader;
  int64_t FOffsetToLockedBytes = kDefaultOffsetToLockedBytes;
  int64_t FOffsetToLastObjectID = kDefaultOffsetToLastObjectID;
  int64_t FOffsetToFirstPage = kDefaultOffsetToFirstPage;

  std::unique_ptr<TVLTDatabaseCipher> FCipher;  // exists iff the open file is encrypted
  std::set<TVLTSessionID> FIncompleteCommits;   // sessions whose commit failed half-way
  bool FDesignMode = false;
  int32_t FLockRetryCount = 4500;
  int32_t FLockRetryDelayMS = 20;
  TWriteHook FWriteHook;
  TVLTDurability FDurability = dsNormal;
  std::unique_ptr<TVLTRollbackJournal> FJournal;
  int64_t FRolledBackPages = 0;
  int64_t FReclaimedPages = 0;
  std::vector<std::string> FOpenChanges;
  std::string FAllocationMarker;        // this open's marker once made
  bool FAllocationMarkerTried = false;  // made, or making it failed (not retried)
};

}  // namespace vlt
