#include "engine/disk/VLTDiskPageManager.h"

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <random>
#include <thread>

#include "engine/base/VLTErrorCodes.h"
#include "engine/base/VLTExcept.h"
#include "engine/base/VLTScopeGuard.h"
#include "engine/disk/VLTFreeSpaceManager.h"
#include "engine/protect/VLTSecurity.h"

namespace vlt {

namespace {

constexpr const char* kNotOpened = "Error - database file is not opened.";

int32_t RandomBelow(int32_t Limit) {
  thread_local std::mt19937 Gen{std::random_device{}()};
  return std::uniform_int_distribution<int32_t>(0, Limit - 1)(Gen);
}

}  // namespace

TVLTDiskPageManager::TVLTDiskPageManager() : FDatabaseFile(std::make_unique<TVLTDatabaseFile>()) {
  SetPageSize(0, kPageHeaderSize);
  ResetProlog();
}

TVLTDiskPageManager::~TVLTDiskPageManager() {
  try {
    CloseDatabase();
  } catch (...) {
    // A destructor cannot raise; nothing is left to undo.
  }
}

void TVLTDiskPageManager::ResetProlog() {
  FDBHeader = NewDBHeader(PageSize(), kDefaultPageCountInExtent);
  FDBHeaderCurrent = false;
  FCryptoHeader = NewCryptoHeader();
  FLockedBytes = NewLockedBytes();
  FOffsetToDBHeader = 0;
  FOffsetToCryptoHeader = kDefaultOffsetToCryptoHeader;
  FOffsetToLockedBytes = kDefaultOffsetToLockedBytes;
  FOffsetToLastObjectID = kDefaultOffsetToLastObjectID;
  FOffsetToFirstPage = kDefaultOffsetToFirstPage;
}

// ---- creating, opening, closing ----

void TVLTDiskPageManager::CreateAndOpenDatabase(const std::string& DatabaseFileName,
                                                const TVLTPassword& Password, uint16_t PageSize,
                                                uint16_t ExtentPageCount) {
  if (IsOpened())
    throw EVLTException(kErrDatabaseFileUseInCreateAndOpenDatabase,
                        "Error - database file %s is in use.", {FDatabaseFile->FileName()});
  if (PageSize <= kPageHeaderSize || ExtentPageCount == 0)
    throw EVLTException(kErrInvalidDatabaseFormat, "Invalid database format");
  SetPageSize(PageSize, kPageHeaderSize);
  FPassword = Password;
  ResetProlog();
  FDBHeader = NewDBHeader(PageSize, ExtentPageCount);
  FDatabaseFile->CreateAndOpenFile(DatabaseFileName);
  FExclusive = true;
  FMultiUser = false;
  FCipher.reset();
  if (!Password.Password.empty()) {
    FDBHeader.Encrypted = 0xFF;
    FCryptoHeader.CryptoAlgorithm = Password.CryptoAlgorithm;
    FCipher = std::make_unique<TVLTDatabaseCipher>(Password);
    uint32_t CRC = 0;
    FCipher->NewControlBlock(FCryptoHeader.ControlBlock, CRC);
    FCryptoHeader.ControlBlockCRC = CRC;
  }
  WriteDBHeader();
  WriteCryptoHeader();
  WriteLockedBytes();
  InitObjectID();
  FDatabaseFreeSpaceManager = std::make_unique<TVLTDatabaseFreeSpaceManager>(this);
}

void TVLTDiskPageManager::OpenDatabase(const std::string& DatabaseFileName,
                                       const TVLTPassword& Password, bool& ReadOnly,
                                       bool& RepairNeeded, bool Exclusive, bool& aMultiUser) {
  if (IsOpened())
    throw EVLTException(kErrDatabaseFileUseInOpenDatabase, "Error - database file %s is in use.",
                        {FDatabaseFile->FileName()});
  FPassword = Password;
  RepairNeeded = false;
  bool MultiUser = aMultiUser;
  if (!ReadOnly && TVLTDatabaseFile::FileExists(DatabaseFileName)) {
    if (!TVLTDatabaseFile::IsFileWritable(DatabaseFileName, MultiUser)) ReadOnly = true;
    if (TVLTDatabaseFile::IsFileReadOnly(DatabaseFileName)) MultiUser = false;
  }
  TVLTAccessMode Access = amReadOnly;
  TVLTShareMode Share = smShareDenyNone;
  if (!ReadOnly) {
    Access = amReadWrite;
    if (Exclusive) {
      Share = smExclusive;
      MultiUser = false;
    }
  }
  FMultiUser = MultiUser;
  FExclusive = Exclusive;
  aMultiUser = MultiUser;
  FCipher.reset();
  FDatabaseFreeSpaceManager.reset();
  ResetProlog();
  FDatabaseFile->OpenFile(DatabaseFileName, Access, Share);

  if (!LockDBHeaderWithRetry())
    throw EVLTException(kErrDatabaseLockedInOpenDatabase, "Database is locked");
  {
    TVLTScopeExit Unlock([this] { UnlockDBHeader(); });
    int64_t Offset = 0;
    if (!FDatabaseFile->FindSignature(Offset)) Offset = 0;
    FOffsetToDBHeader = Offset;
    ReadDBHeader();
    RepairNeeded = FDBHeader.WriteChangesState != kWriteChangesComplete ||
                   !(FDBHeader.Version >= kDBMinVersionWithoutRepair);
  }
  if (!HasDBSignature(FDBHeader))
    throw EVLTException(kErrInvalidFileFormatFound,
                        "Invalid file format. Found signature: '%s', expected: '%s'",
                        {std::string(FDBHeader.Signature, sizeof FDBHeader.Signature),
                         std::string(kDBSignature, sizeof kDBSignature)});
  SetPageSize(FDBHeader.PageSize, kPageHeaderSize);

  FOffsetToCryptoHeader = FOffsetToDBHeader + FDBHeader.HeaderSize;
  ReadCryptoHeader();
  const int64_t ExpectedLockedBytes = FOffsetToCryptoHeader + kCryptoHeaderSize;
  if (FDBHeader.Encrypted != 0) {
    // The file's algorithm wins over the one asked for.
    FPassword.CryptoAlgorithm = static_cast<TVLTCryptoAlgorithm>(FCryptoHeader.CryptoAlgorithm);
    bool Valid = false;
    if (!FPassword.Password.empty() && FCryptoHeader.CryptoAlgorithm < kCryptoAlgorithmCount) {
      auto Cipher = std::make_unique<TVLTDatabaseCipher>(FPassword);
      uint8_t Block[kControlBlockSize];
      std::memcpy(Block, FCryptoHeader.ControlBlock, sizeof Block);
      Valid = Cipher->CheckControlBlock(Block, FCryptoHeader.ControlBlockCRC);
      if (Valid) FCipher = std::move(Cipher);
    }
    if (!Valid)
      throw EVLTException(kErrIncorrectPassword, "Cannot open database - incorrect password");
  }
  if (FOffsetToCryptoHeader + FCryptoHeader.CryptoHeaderSize != ExpectedLockedBytes)
    throw EVLTException(kErrInvalidDatabaseFormat, "Invalid database format");
  FOffsetToLockedBytes = ExpectedLockedBytes;
  ReadLockedBytes();
  FOffsetToLastObjectID = FOffsetToLockedBytes + FLockedBytes.LockedByteSize;
  FOffsetToFirstPage = FOffsetToLastObjectID + 4;
  CheckHeaderValues();
  FDatabaseFreeSpaceManager = std::make_unique<TVLTDatabaseFreeSpaceManager>(this);
  FRolledBackPages = FReclaimedPages = 0;
  FOpenChanges.clear();
  FAllocationMarker.clear();
  FAllocationMarkerTried = false;
  if (!ReadOnly) TidyAfterOpen(RepairNeeded);
}

void TVLTDiskPageManager::CheckDiskInvariants() {
  CheckInvariants();
  if (!IsOpened()) return;
  auto Fail = [](const std::string& What) {
    throw EVLTException(kErrInvariantCheck, "Page manager check failed: %s", {What});
  };
  const int64_t Counted = FOffsetToFirstPage + int64_t{FDBHeader.TotalPageCount} * PageSize();
  if (FDatabaseFile->GetSize() < Counted)
    Fail("the file is shorter than the pages its header counts");
  if (FLockDBHeaderCount < 0) Fail("negative header lock count");
  if (FDatabaseFreeSpaceManager) FDatabaseFreeSpaceManager->CheckInvariants();
}

// ---- rollback journal ----

TVLTRollbackJournal& TVLTDiskPageManager::Journal() {
  if (!FJournal) {
    FJournal = std::make_unique<TVLTRollbackJournal>(FDatabaseFile->FileName());
    FJournal->SetWriteHook([this] { Hook(TVLTDiskWrite::Journal, kNoPage); });
  }
  return *FJournal;
}

bool TVLTDiskPageManager::RecoverJournal() {
  const std::string& Name = FDatabaseFile->FileName();
  const TVLTRollbackJournal::TFound Found = TVLTRollbackJournal::Inspect(Name);
  if (FDBHeader.WriteChangesState != kWriteChangesInProgress || !Found.Valid || Found.Live ||
      Found.Kind != TVLTRollbackJournal::TKind::Commit || Found.DBState != FDBHeader.State ||
      Found.PageSize != PageSize())
    return false;
  std::vector<TVLTPageNo> Added;
  int64_t Records = 0;
  if (!TVLTRollbackJournal::RollBack(Name, *FDatabaseFile, PageSize(), Added, Records))
    return false;
  ReadDBHeader();
  CheckHeaderValues();
  FDatabaseFreeSpaceManager = std::make_unique<TVLTDatabaseFreeSpaceManager>(this);
  // The dead session's own pages hold nothing committed: stamped freed and given back.
  for (TVLTPageNo No : Added) {
    if (No <= 0 || No >= FDBHeader.TotalPageCount || IsSystemPage(No) ||
        !FDatabaseFreeSpaceManager->GetPageUsageFromPFS(No))
      continue;
    InternalWritePageState(No, kPageStateFreed);
    FDatabaseFreeSpaceManager->FreePage(No);
    ++FReclaimedPages;
  }
  FDatabaseFile->FlushFileBuffers();
  FRolledBackPages = Records;
  return true;
}

void TVLTDiskPageManager::TidyAfterOpen(bool& RepairNeeded) {
  const std::string& Name = FDatabaseFile->FileName();
  const TVLTRollbackJournal::TFound Found = TVLTRollbackJournal::Inspect(Name);
  if (Found.Exists && !Found.Live) {
    if (!LockDBHeaderWithRetry())
      throw EVLTException(kErrDatabaseLockedInOpenDatabase, "Database is locked");
    TVLTScopeExit Unlock([this] { UnlockDBHeader(); });
    ReadDBHeader();
    if (RecoverJournal()) {
      RepairNeeded = !(FDBHeader.Version >= kDBMinVersionWithoutRepair);
      TVLTRollbackJournal::Remove(Name);
    } else if (FDBHeader.WriteChangesState == kWriteChangesComplete) {
      // Allocations no commit took up: the bitmaps and header go back to before them.
      if (Found.Valid && Found.Kind == TVLTRollbackJournal::TKind::Allocations &&
          Found.DBState == FDBHeader.State && Found.PageSize == PageSize()) {
        std::vector<TVLTPageNo> Added;
        int64_t Records = 0;
        if (TVLTRollbackJournal::RollBack(Name, *FDatabaseFile, PageSize(), Added, Records)) {
          ReadDBHeader();
          CheckHeaderValues();
          FDatabaseFreeSpaceManager = std::make_unique<TVLTDatabaseFreeSpaceManager>(this);
          FRolledBackPages = Records;
        }
      }
      // Written before a commit's first in-place write, or a marker: nothing to put back.
      TVLTRollbackJournal::Remove(Name);
    }
    // A cut-off commit without a usable journal keeps the journal and asks for repair.
    if (FExclusive && FDBHeader.WriteChangesState == kWriteChangesComplete) {
      ReclaimAndReport();
    }
  }
  if (FRolledBackPages > 0)
    FOpenChanges.insert(FOpenChanges.begin(),
                        "put back " + std::to_string(FRolledBackPages) + " page image" +
                            (FRolledBackPages == 1 ? "" : "s") +
                            " from the rollback journal (a commit or allocation cut off)");
  // Shared writers that died leave their markers; a live one keeps the file open, so an open
  // that finds the file open nowhere else may give their pages back.
  const std::vector<std::string> Markers = AllocationMarkers(Name);
  if (!Markers.empty()) ReclaimWhenAlone(Markers);
  if (FExclusive) {
    // A compaction's copy that nobody has open is what an interrupted compaction left.
    const std::string Temp = Name + ".tmp";
    if (TVLTDatabaseFile::FileExists(Temp)) {
      try {
        TVLTDatabaseFile Probe;
        Probe.OpenFile(Temp, amReadWrite, smExclusive);
        Probe.CloseFile();
        TVLTDatabaseFile::DeleteFile(Temp);
      } catch (const EVLTException&) {
        // in use, or not ours to remove
      }
    }
  }
}

int64_t TVLTDiskPageManager::ReclaimAndReport() {
  const int64_t Freed = ReclaimLeakedPages();
  FReclaimedPages += Freed;
  if (Freed > 0)
    FOpenChanges.push_back("freed " + std::to_string(Freed) + " leaked page" +
                           (Freed == 1 ? "" : "s") +
                           " (allocated by a transaction that never committed)");
  return Freed;
}

int64_t TVLTDiskPageManager::ReclaimLeakedPages() {
  std::vector<TVLTDiskPageHeader> Headers;
  ReadPageHeaders(Headers);
  int64_t Freed = 0;
  for (TVLTPageNo No = static_cast<TVLTPageNo>(Headers.size()) - 1; No > 0; --No) {
    if (No >= FDBHeader.TotalPageCount || IsSystemPage(No)) continue;
    const TVLTDiskPageHeader& H = Headers[static_cast<size_t>(No)];
    const bool Written = std::memcmp(H.Signature, kPageSignature, sizeof H.Signature) == 0 &&
                         H.State != kPageStateFreed;
    if (Written || !FDatabaseFreeSpaceManager->GetPageUsageFromPFS(No)) continue;
    FDatabaseFreeSpaceManager->FreePage(No);
    ++Freed;
  }
  return Freed;
}

void TVLTDiskPageManager::ProtectPage(TVLTPageNo PageNo) {
  if (!FJournal || !(FJournal->Active() || FJournal->MarkerWritten())) return;
  if (!FJournal->Protect(PageNo, PagePosition(PageNo), *FDatabaseFile)) return;
  if (FDurability == dsNormal)
    FJournal->Sync();
  else
    FJournal->Flush();
}

void TVLTDiskPageManager::CheckHeaderValues() const {
  // Values that later computations divide by, index with or seek to.
  const TVLTDBHeader& H = FDBHeader;
  if (H.PageSize <= kPageHeaderSize || H.PageCountInExtent == 0 || H.TotalPageCount < 0 ||
      H.LastUsedPageNo < kNoPage || H.LastUsedPageNo >= H.TotalPageCount ||
      FLockedBytes.LockedByteSize < kDBHeaderByteOffset + 1)
    throw EVLTException(kErrInvalidDatabaseFormat, "Invalid database format");
}

void TVLTDiskPageManager::CloseDatabase() {
  // A journal still in use belongs to a commit that failed half-way: it stays for the next
  // open to put back. A marker has served its purpose once nothing is left uncommitted.
  if (FJournal) {
    try {
      FJournal->SetKeepOpen(false);
      if (!FJournal->Active() && FJournal->MarkerWritten()) FJournal->Finish();
      FJournal->Release();  // an emptied journal kept open between commits
    } catch (...) {
      // A marker that cannot be removed now is stale at the next open, which removes it.
    }
    FJournal.reset();
  }
  if (!FAllocationMarker.empty()) {
    // Pages a session still holds uncommitted are leaked by this close: the marker stays.
    bool Uncommitted = false;
    for (const auto& [Id, Info] : FSessions)
      if (Info && Info->AddedPageNumbers.ItemCount() > 0) Uncommitted = true;
    if (!Uncommitted) {
      try {
        TVLTDatabaseFile::DeleteFile(FAllocationMarker);
      } catch (...) {
        // Left behind, it only makes a later open look for leaked pages.
      }
    }
    FAllocationMarker.clear();
  }
  if (FDatabaseFile->IsOpened()) {
    try {
      FDatabaseFile->CloseFile();
    } catch (...) {
      // A failing close only marks the file closed (the file object does).
    }
  }
  FLockDBHeaderCount = 0;  // byte locks vanish with the close
  FDBHeaderCurrent = false;
  DropCachedPages();       // a later open may be of another file
  FDatabaseFreeSpaceManager.reset();
  FCipher.reset();
}

// ---- prolog ----

void TVLTDiskPageManager::ReadDBHeader() {
  if (!IsOpened()) throw EVLTException(kErrFileNotOpened, kNotOpened);
  FDBHeaderCurrent = false;
  std::memset(&FDBHeader, 0, sizeof FDBHeader);
  FDatabaseFile->ReadBuffer(&FDBHeader, sizeof FDBHeader, FOffsetToDBHeader, kErrReadDBHeader);
  FDBHeaderCurrent = true;
}

bool TVLTDiskPageManager::RefreshDBHeader() {
  if (FDBHeaderCurrent && SoleOwner()) return true;
  ReadDBHeader();
  return false;
}

void TVLTDiskPageManager::WriteDBHeader(bool CheckExternalChanges) {
  if (!IsOpened()) throw EVLTException(kErrFileNotOpenedForWrite, kNotOpened);
  if (CheckExternalChanges && FDesignMode) {
    TVLTDBHeader OnDisk;
    FDatabaseFile->ReadBuffer(&OnDisk, sizeof OnDisk, FOffsetToDBHeader, kErrReadDBHeader);
    if (OnDisk.State != FDBHeader.State && OnDisk.WriteChangesState == kWriteChangesInProgress)
      throw EVLTException(
          kErrCannotWriteChangesDatabase,
          "Cannot write changes. Database file was modified by an external application");
  }
  FDBHeaderCurrent = false;
  Hook(TVLTDiskWrite::DBHeader, kNoPage);
  FDatabaseFile->WriteBuffer(&FDBHeader, sizeof FDBHeader, FOffsetToDBHeader, kErrWriteDBHeader);
  FDBHeaderCurrent = true;
}

void TVLTDiskPageManager::ReadCryptoHeader() {
  if (!IsOpened()) throw EVLTException(kErrFileNotOpenedReadCrypto, kNotOpened);
  FDatabaseFile->ReadBuffer(&FCryptoHeader, sizeof FCryptoHeader, FOffsetToCryptoHeader,
                            kErrReadCryptoHeader);
}

void TVLTDiskPageManager::WriteCryptoHeader() {
  if (!IsOpened()) throw EVLTException(kErrFileNotOpenedWriteCrypto, kNotOpened);
  Hook(TVLTDiskWrite::Prolog, kNoPage);
  FDatabaseFile->WriteBuffer(&FCryptoHeader, sizeof FCryptoHeader, FOffsetToCryptoHeader,
                             kErrWriteCryptoHeader);
}

void TVLTDiskPageManager::ReadLockedBytes() {
  if (!IsOpened()) throw EVLTException(kErrFileNotOpenedReadLockedBytes, kNotOpened);
  FLockedBytes = NewLockedBytes();
  FDatabaseFile->ReadBuffer(&FLockedBytes.LockedByteSize, sizeof FLockedBytes.LockedByteSize,
                            FOffsetToLockedBytes, kErrReadLockedBytes);
}

void TVLTDiskPageManager::WriteLockedBytes() {
  if (!IsOpened()) throw EVLTException(kErrFileNotOpenedWriteLockedBytes, kNotOpened);
  Hook(TVLTDiskWrite::Prolog, kNoPage);
  FDatabaseFile->WriteBuffer(&FLockedBytes, sizeof FLockedBytes, FOffsetToLockedBytes,
                             kErrWriteLockedBytes);
}

// ---- locks ----

bool TVLTDiskPageManager::RetryLock(const std::function<bool()>& TryOnce) {
  for (int32_t I = 0; I < FLockRetryCount; ++I) {
    if (TryOnce()) return true;
    if (I + 1 < FLockRetryCount)
      std::this_thread::sleep_for(std::chrono::milliseconds(FLockRetryDelayMS));
  }
  return false;
}

bool TVLTDiskPageManager::LockDBHeader() {
  if (FLockDBHeaderCount > 0) {
    ++FLockDBHeaderCount;
    return true;
  }
  if (!IsOpened()) return false;
  if (SoleOwner()) {
    // Nobody else can open the file: two system calls per allocation saved.
    FLockedDBHeaderByte = -1;
    FLockDBHeaderCount = 1;
    return true;
  }
  int64_t Byte = FOffsetToLockedBytes + kDBHeaderByteOffset;
  if (!FDatabaseFile->LockByte(Byte, 1)) return false;
  FLockedDBHeaderByte = Byte;
  FLockDBHeaderCount = 1;
  return true;
}

bool TVLTDiskPageManager::UnlockDBHeader() {
  if (FLockDBHeaderCount <= 0) return false;
  if (--FLockDBHeaderCount > 0) return true;
  if (FLockedDBHeaderByte < 0) return IsOpened();
  return IsOpened() && FDatabaseFile->UnlockByte(FLockedDBHeaderByte, 1);
}

bool TVLTDiskPageManager::LockDBHeaderWithRetry() {
  return RetryLock([this] { return LockDBHeader(); });
}

bool TVLTDiskPageManager::LockTables() {
  return IsOpened() && FDatabaseFile->LockByte(FOffsetToLockedBytes + kTablesByteOffset, 1);
}
bool TVLTDiskPageManager::UnlockTables() {
  return IsOpened() && FDatabaseFile->UnlockByte(FOffsetToLockedBytes + kTablesByteOffset, 1);
}
bool TVLTDiskPageManager::LockFreeSpaceManager() {
  return IsOpened() && FDatabaseFile->LockByte(FOffsetToLockedBytes + kFSMByteOffset, 1);
}
bool TVLTDiskPageManager::UnlockFreeSpaceManager() {
  return IsOpened() && FDatabaseFile->UnlockByte(FOffsetToLockedBytes + kFSMByteOffset, 1);
}
bool TVLTDiskPageManager::LockLastObjectID() {
  return IsOpened() && FDatabaseFile->LockByte(FOffsetToLastObjectID, 1);
}
bool TVLTDiskPageManager::UnlockLastObjectID() {
  return IsOpened() && FDatabaseFile->UnlockByte(FOffsetToLastObjectID, 1);
}
bool TVLTDiskPageManager::LockPageByte(TVLTPageNo PageNo, uint16_t Offset) {
  return IsOpened() && FDatabaseFile->LockByte(PagePosition(PageNo) + Offset, 1);
}
bool TVLTDiskPageManager::UnlockPageByte(TVLTPageNo PageNo, uint16_t Offset) {
  return IsOpened() && FDatabaseFile->UnlockByte(PagePosition(PageNo) + Offset, 1);
}
bool TVLTDiskPageManager::IsPageByteLocked(TVLTPageNo PageNo, uint16_t Offset) {
  return IsOpened() && FDatabaseFile->IsByteLocked(PagePosition(PageNo) + Offset);
}
bool TVLTDiskPageManager::IsPageRegionLocked(TVLTPageNo PageNo, uint16_t Offset, uint16_t Count) {
  return IsOpened() && FDatabaseFile->IsRegionLocked(PagePosition(PageNo) + Offset, Count);
}

// ---- pages ----

int64_t TVLTDiskPageManager::PagePosition(TVLTPageNo PageNo) const {
  if (PageNo < 0) throw EVLTException(kErrInvalidPageNo, "Invalid PageNo = %d", {int64_t{PageNo}});
  return FOffsetToFirstPage + int64_t{PageNo} * PageSize();
}

bool TVLTDiskPageManager::IsSystemPage(TVLTPageNo PageNo) const {
  if (FDatabaseFreeSpaceManager) return FDatabaseFreeSpaceManager->IsSystemPage(PageNo);
  if (PageSize() <= kPageHeaderSize || FDBHeader.PageCountInExtent == 0) return false;
  return TVLTFreeSpaceGeometry(PageDataSize(), FDBHeader.PageCountInExtent).IsSystemPage(PageNo);
}

void TVLTDiskPageManager::CheckPageNoForSystemPages(TVLTPageNo PageNo) const {
  if (IsSystemPage(PageNo))
    throw EVLTException(kErrCannotDeletePFSEAM, "Cannot delete PFS or EAM page. PageNo=%d",
                        {int64_t{PageNo}});
}

TVLTPage* TVLTDiskPageManager::GetPage(TVLTSessionID SessionID, TVLTPageNo PageNo,
                                       uint16_t PageType, bool SynchronizeAllowed) {
  CheckPageNoForSystemPages(PageNo);
  return TVLTPageManager::GetPage(SessionID, PageNo, PageType, SynchronizeAllowed);
}

void TVLTDiskPageManager::RemovePage(TVLTSessionID SessionID, TVLTPageNo PageNo) {
  CheckPageNoForSystemPages(PageNo);
  TVLTPageManager::RemovePage(SessionID, PageNo);
}

void TVLTDiskPageManager::InternalAddPage(TVLTPage* Page) {
  if (!FDatabaseFreeSpaceManager || !IsOpened()) throw EVLTException(kErrFileNotOpened, kNotOpened);
  // An exclusive writer journals what allocations overwrite outside commits (see the header).
  if (FExclusive && !FMultiUser &&
      !(FJournal && (FJournal->Active() || FJournal->MarkerWritten()))) {
    TVLTDBHeader Stored;
    FDatabaseFile->ReadBuffer(&Stored, sizeof Stored, FOffsetToDBHeader, kErrReadDBHeader);
    Journal().MarkAllocations(Stored, FOffsetToDBHeader, PageSize(), FDatabaseFile->GetSize());
    if (FDurability == dsNormal) FJournal->Sync();
  }
  if (!FExclusive && !FAllocationMarkerTried) MakeAllocationMarker();
  Page->SetPageNo(FDatabaseFreeSpaceManager->GetPage(kNoPage));
  Page->AllocPageBuffer();
}

std::vector<std::string> TVLTDiskPageManager::AllocationMarkers(
    const std::string& DatabaseFileName) {
  namespace fs = std::filesystem;
  std::vector<std::string> Found;
  const fs::path File(DatabaseFileName);
  const std::string Prefix = File.filename().string() + "-alloc-";
  const fs::path Dir = File.has_parent_path() ? File.parent_path() : fs::path(".");
  std::error_code Ec;
  for (fs::directory_iterator It(Dir, Ec), End; !Ec && It != End; It.increment(Ec)) {
    const std::string Name = It->path().filename().string();
    if (Name.size() > Prefix.size() && Name.compare(0, Prefix.size(), Prefix) == 0)
      Found.push_back((Dir / Name).string());
  }
  return Found;
}

void TVLTDiskPageManager::MakeAllocationMarker() {
  FAllocationMarkerTried = true;
  char Suffix[40];
  std::snprintf(Suffix, sizeof Suffix, "-alloc-%ld-%08x", static_cast<long>(::getpid()),
                static_cast<unsigned>(RandomBelow(INT32_MAX)));
  const std::string Name = FDatabaseFile->FileName() + Suffix;
  try {
    TVLTDatabaseFile Marker;
    Marker.CreateAndOpenFile(Name);
    Marker.CloseFile();
    FAllocationMarker = Name;
  } catch (const EVLTException&) {
    // Without a marker (a directory nobody may write to) a crash leaves leaked pages that the
    // check reports and a compaction gives back: nothing is lost.
  }
}

void TVLTDiskPageManager::ReclaimWhenAlone(const std::vector<std::string>& Markers) {
  if (!LockDBHeaderWithRetry())
    throw EVLTException(kErrDatabaseLockedInOpenDatabase, "Database is locked");
  TVLTScopeExit Unlock([this] { UnlockDBHeader(); });
  ReadDBHeader();
  // Another open may hold uncommitted pages that look exactly like a dead writer's.
  if (FDBHeader.WriteChangesState != kWriteChangesComplete || FDatabaseFile->OpenedElsewhere())
    return;
  FDatabaseFreeSpaceManager = std::make_unique<TVLTDatabaseFreeSpaceManager>(this);
  const int64_t Freed = ReclaimAndReport();
  TVLTPageNo Was = kNoPage, Now = kNoPage;
  if (FDatabaseFreeSpaceManager->FixLastUsedPageNo(Was, Now))
    FOpenChanges.push_back("set LastUsedPageNo from " + std::to_string(Was) + " to " +
                           std::to_string(Now) + " (the highest page the bitmaps mark used)");
  if (FDurability == dsNormal && (Freed > 0 || Was != Now)) FDatabaseFile->FlushFileBuffers();
  for (const std::string& M : Markers) {
    try {
      TVLTDatabaseFile::DeleteFile(M);
    } catch (const EVLTException&) {
      // One left behind only makes a later open look again.
    }
  }
}

void TVLTDiskPageManager::InternalRemovePage(TVLTPageNo PageNo) {
  if (!FDatabaseFreeSpaceManager || !IsOpened()) throw EVLTException(kErrFileNotOpened, kNotOpened);
  ProtectPage(PageNo);
  InternalWritePageState(PageNo, kPageStateFreed);
  FDatabaseFreeSpaceManager->FreePage(PageNo);
}

bool TVLTDiskPageManager::InternalReadPage(TVLTPage* Page) {
  // A successful read fills the whole buffer; a failed one leaves a page nobody keeps.
  if (!Page->PageBuffer()) {
    if (uint8_t* Spare = TakeSpareBuffer())
      Page->AdoptOwnedBuffer(Spare);
    else
      Page->AllocPageBuffer();
  }
  const TVLTPageNo PageNo = Page->PageNo();
  bool Read = false;
  if (IsOpened() && PageNo >= 0) {
    try {
      Read = FDatabaseFile->ReadBuffer(Page->PageBuffer(), PageSize(), PagePosition(PageNo));
    } catch (const EVLTException&) {
      Read = false;
    }
  }
  if (!Read) {
    Page->PageHeader()->State = kPageStateFreed;
    return false;
  }
  if (FCipher && Encrypted() && Page->EncryptionEnabled() && !IsSystemPage(PageNo))
    FCipher->DecryptPage(Page->PageBuffer(), PageSize(), PageNo, IgnoreCRCErrors());
  Page->SetReloaded(true);
  return true;
}

void TVLTDiskPageManager::InternalWritePage(TVLTPage* Page) {
  if (!IsOpened()) throw EVLTException(kErrFileNotOpenedForWrite, kNotOpened);
  const TVLTPageNo PageNo = Page->PageNo();
  const int64_t Position = PagePosition(PageNo);
  uint8_t* Buffer = Page->PageBuffer();
  Page->PageHeader()->State = NextPageState(Page->PageHeader()->State);
  const bool Encrypt = FCipher && Encrypted() && Page->EncryptionEnabled() && !IsSystemPage(PageNo);
  if (Encrypt) FCipher->EncryptPage(Buffer, PageSize());
  // The cached page is plain again afterwards, also when the write failed.
  TVLTScopeExit Restore([&] {
    if (Encrypt) FCipher->RestorePage(Buffer, PageSize());
  });
  ProtectPage(PageNo);
  Hook(TVLTDiskWrite::Page, PageNo);
  FDatabaseFile->WriteBuffer(Buffer, PageSize(), Position, kErrWritePage);
}

int32_t TVLTDiskPageManager::InternalReadPageState(TVLTPageNo PageNo) {
  if (!FMultiUser || !IsOpened() || PageNo < 0) return kPageStateFreed;
  int32_t State = kPageStateFreed;
  try {
    if (!FDatabaseFile->ReadBuffer(&State, sizeof State, PagePosition(PageNo) + 4))
      return kPageStateFreed;
  } catch (const EVLTException&) {
    return kPageStateFreed;
  }
  return State;
}

void TVLTDiskPageManager::InternalWritePageState(TVLTPageNo PageNo, int32_t PageState) {
  if (!IsOpened()) throw EVLTException(kErrFileNotOpenedForWrite, kNotOpened);
  const int64_t Position = PagePosition(PageNo) + 4;
  Hook(TVLTDiskWrite::PageState, PageNo);
  FDatabaseFile->WriteBuffer(&PageState, sizeof PageState, Position, kErrWritePageRegion);
}

void TVLTDiskPageManager::ReadPageRegion(void* Buffer, TVLTPageNo PageNo, uint16_t Offset,
                                         uint16_t Count) {
  if (int32_t{Offset} + Count > PageSize())
    throw EVLTException(kErrInvalidPageOffsetPageInReadPageRegion,
                        "Error - invalid page offset = %d, page size = %d",
                        {int64_t{Offset} + Count, int64_t{PageSize()}});
  FDatabaseFile->ReadBuffer(Buffer, Count, PagePosition(PageNo) + Offset, kErrReadPageRegion);
}

void TVLTDiskPageManager::ReadPageHeaders(std::vector<TVLTDiskPageHeader>& Headers) {
  // A damaged header may count far more pages than the file holds: only the pages whose first
  // byte lies inside the file have a header to read.
  const int64_t InFile =
      (FDatabaseFile->GetSize() - FOffsetToFirstPage + PageSize() - 1) / PageSize();
  const auto Count =
      static_cast<int32_t>(std::max<int64_t>(0, std::min<int64_t>(InFile, PageCount())));
  Headers.assign(static_cast<size_t>(Count), TVLTDiskPageHeader{});
  const int32_t PerBlock = std::max(1, (1 << 20) / PageSize());
  std::vector<uint8_t> Block(static_cast<size_t>(PerBlock) * PageSize());
  for (int32_t First = 0; First < Count; First += PerBlock) {
    const int32_t N = std::min(PerBlock, Count - First);
    const size_t Bytes = static_cast<size_t>(N) * PageSize();
    if (!FDatabaseFile->ReadBuffer(Block.data(), Bytes, PagePosition(First))) {
      // A short file: take page by page what is there.
      for (int32_t I = 0; I < N; ++I)
        if (!FDatabaseFile->ReadBuffer(&Headers[static_cast<size_t>(First + I)],
                                       sizeof(TVLTDiskPageHeader), PagePosition(First + I)))
          Headers[static_cast<size_t>(First + I)] = TVLTDiskPageHeader{};
      continue;
    }
    for (int32_t I = 0; I < N; ++I)
      std::memcpy(&Headers[static_cast<size_t>(First + I)],
                  Block.data() + static_cast<size_t>(I) * PageSize(), sizeof(TVLTDiskPageHeader));
  }
}

void TVLTDiskPageManager::WritePageRegion(const void* Buffer, TVLTPageNo PageNo, uint16_t Offset,
                                          uint16_t Count) {
  if (int32_t{Offset} + Count > PageSize())
    throw EVLTException(kErrInvalidPageOffsetPageInWritePageRegion,
                        "Error - invalid page offset = %d, page size = %d",
                        {int64_t{Offset} + Count, int64_t{PageSize()}});
  const int64_t Position = PagePosition(PageNo) + Offset;
  Hook(TVLTDiskWrite::PageRegion, PageNo);
  FDatabaseFile->WriteBuffer(Buffer, Count, Position, kErrWritePageRegion);
}

// ---- page-trust bookkeeping ----

bool TVLTDiskPageManager::IsPageTableStateCurrent(TVLTSessionID SessionID, TVLTPage* Page) {
  if (!FMultiUser) return true;
  int32_t WorkState = 0, PageState = 0;
  if (!FTablePagesCacheManager.GetWorkTableState(SessionID, WorkState)) return false;
  return Page->GetTableState(SessionID, PageState) && PageState == WorkState;
}

void TVLTDiskPageManager::SavePageTableState(TVLTSessionID SessionID, TVLTPage* Page) {
  if (!FMultiUser) return;
  int32_t WorkState = 0;
  if (FTablePagesCacheManager.GetWorkTableState(SessionID, WorkState))
    Page->SetTableState(SessionID, WorkState);
}

// ---- commit ----

int32_t TVLTDiskPageManager::PageCount() {
  if (!LockDBHeader()) throw EVLTException(kErrDatabaseLockedInPageCount, "Database is locked");
  TVLTScopeExit Unlock([this] { UnlockDBHeader(); });
  RefreshDBHeader();
  return FDBHeader.TotalPageCount;
}

void TVLTDiskPageManager::ApplyChanges(TVLTSessionID SessionID) {
  if (!HasChanges(SessionID)) return;
  TVLTSessionPageInfo& Info = SessionEntry(SessionID);
  // Mistakes of the caller are refused before the file is touched.
  CheckSessionPagesReleased(SessionID);
  CheckDirtyPages(Info);
  if (!LockDBHeaderWithRetry())
    throw EVLTException(kErrDatabaseLockedInApplyChanges, "Database is locked");
  TVLTScopeExit Unlock([this] { UnlockDBHeader(); });

  RefreshDBHeader();
  TVLTRollbackJournal& J = Journal();
  // A commit cut off in another process (which died holding the header lock) is put back
  // first. What this session read may have come from it, so its transaction cannot go on.
  if (FDBHeader.WriteChangesState == kWriteChangesInProgress && FIncompleteCommits.empty() &&
      !J.Active() && RecoverJournal()) {
    TVLTRollbackJournal::Remove(FDatabaseFile->FileName());
    DropCachedPages();
    throw EVLTException(kErrCannotCommitChangesDatabase,
                        "Cannot commit changes. The database was restored after another "
                        "process stopped in the middle of a commit; repeat the transaction");
  }
  // The previous images go to the journal before the header says a commit is under way. A
  // journal still in use (a failed commit of this process) keeps its older, earlier images.
  if (!J.Active()) {
    std::vector<TVLTPageNo> Added(Info.AddedPageNumbers.begin(), Info.AddedPageNumbers.end());
    J.Begin(FDBHeader, FOffsetToDBHeader, PageSize(), FDatabaseFile->GetSize(), Added);
  }
  for (TVLTPageNo No : Info.RemovedPageNumbers) J.Protect(No, PagePosition(No), *FDatabaseFile);
  for (int32_t I = 0; I < Info.DirtyPages.Count(); ++I) {
    const TVLTPageNo No = Info.DirtyPages.Items(I)->PageNo();
    J.Protect(No, PagePosition(No), *FDatabaseFile);
  }
  // One write for the fixed part and every record, before the header says a commit is on.
  if (FDurability == dsNormal)
    J.Sync();
  else
    J.Flush();

  FDBHeader.WriteChangesState = kWriteChangesInProgress;
  WriteDBHeader(true);
  FIncompleteCommits.insert(SessionID);
  DoApplyChanges(Info);
  FIncompleteCommits.erase(SessionID);
  FDBHeader.State = static_cast<int32_t>(static_cast<uint32_t>(FDBHeader.State) + 1u);
  // Another session's commit that failed half-way keeps the file marked for repair.
  FDBHeader.WriteChangesState =
      FIncompleteCommits.empty() ? kWriteChangesComplete : kWriteChangesInProgress;
  WriteDBHeader(false);
  if (FIncompleteCommits.empty()) {
    if (FDurability == dsNormal) FDatabaseFile->FlushFileBuffers();
    // Nobody else can open an exclusive file, and without syncs creating and removing the
    // journal would cost more than the commit's own writes: it stays open, emptied.
    J.SetKeepOpen(FExclusive && !FMultiUser && FDurability == dsOff);
    J.Finish();
  }
}

// ---- object ids ----

int32_t TVLTDiskPageManager::GetNextObjectID(int32_t, int32_t) {
  if (!IsOpened()) throw EVLTException(kErrFileNotOpenedObjectID, kNotOpened);
  if (!RetryLock([this] { return LockLastObjectID(); }))
    throw EVLTException(kErrCannotGetNextObjectIDFile,
                        "Cannot get NextObjectID. File area is Locked.");
  TVLTScopeExit Unlock([this] { UnlockLastObjectID(); });
  int32_t Value = 0;
  FDatabaseFile->ReadBuffer(&Value, sizeof Value, FOffsetToLastObjectID, kErrReadLastObjectID);
  Value = static_cast<int32_t>(static_cast<uint32_t>(Value) + 1u);
  if (FDatabaseFile->AccessMode() == amReadWrite) {
    Hook(TVLTDiskWrite::LastObjectID, kNoPage);
    FDatabaseFile->WriteBuffer(&Value, sizeof Value, FOffsetToLastObjectID, kErrWriteLastObjectID);
  } else {
    Value = static_cast<int32_t>(static_cast<uint32_t>(Value) +
                                 static_cast<uint32_t>(RandomBelow(10000)));
  }
  return Value;
}

void TVLTDiskPageManager::InitObjectID(int32_t, int32_t) {
  if (!IsOpened()) throw EVLTException(kErrFileNotOpenedObjectID, kNotOpened);
  if (!RetryLock([this] { return LockLastObjectID(); }))
    throw EVLTException(kErrCannotGetNextObjectIDFile,
                        "Cannot get NextObjectID. File area is Locked.");
  TVLTScopeExit Unlock([this] { UnlockLastObjectID(); });
  if (FDatabaseFile->AccessMode() != amReadWrite) return;
  int32_t Zero = 0;
  Hook(TVLTDiskWrite::LastObjectID, kNoPage);
  FDatabaseFile->WriteBuffer(&Zero, sizeof Zero, FOffsetToLastObjectID, kErrWriteLastObjectID);
}

// ---- size ----

void TVLTDiskPageManager::ExtendFile(int32_t PageCount) {
  if (PageCount <= 0) return;
  // From the header's count, not the current size: a growth a crash left uncounted is reused.
  FDatabaseFile->SetSize(FOffsetToFirstPage +
                         (int64_t{FDBHeader.TotalPageCount} + PageCount) * PageSize());
  FDBHeader.TotalPageCount += PageCount;
  FDBHeaderCurrent = false;  // counted in memory only until the header is written
}

void TVLTDiskPageManager::TruncateFile(int32_t PageCount) {
  if (PageCount <= 0 || PageCount > FDBHeader.TotalPageCount) return;
  FDBHeader.TotalPageCount -= PageCount;
  WriteDBHeader();  // before the cut: the header never claims pages the file lacks
  FDatabaseFile->SetSize(FOffsetToFirstPage + int64_t{FDBHeader.TotalPageCount} * PageSize());
}

void TVLTDiskPageManager::TruncateDatabase() {
  if (!LockDBHeaderWithRetry())
    throw EVLTException(kErrDatabaseLockedAllocate, "Database is locked");
  TVLTScopeExit Unlock([this] { UnlockDBHeader(); });
  RefreshDBHeader();
  int32_t Tail = FDBHeader.TotalPageCount - 1 - FDBHeader.LastUsedPageNo;
  if (Tail > 0) TruncateFile(Tail);
}

}  // namespace vlt
