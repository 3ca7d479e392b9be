#include "engine/disk/VLTDiskTableData.h"

#include <algorithm>
#include <cstring>
#include <functional>
#include <set>

#include "engine/base/VLTErrorCodes.h"
#include "engine/base/VLTExcept.h"
#include "engine/base/VLTMemory.h"
#include "engine/base/VLTScopeGuard.h"
#include "engine/core/VLTBTreeRecordIndex.h"
#include "engine/core/VLTPage.h"
#include "engine/core/VLTPageHandle.h"
#include "engine/disk/VLTActiveSessionsFile.h"
#include "engine/disk/VLTDiskBlob.h"
#include "engine/disk/VLTDiskDatabaseData.h"
#include "engine/disk/VLTDiskPageManager.h"
#include "engine/disk/VLTDiskRecordManager.h"
#include "engine/disk/VLTFreeSpaceManager.h"
#include "engine/disk/VLTInternalFile.h"
#include "engine/disk/VLTRecordPage.h"
#include "engine/disk/VLTTableLockManager.h"
#include "engine/disk/VLTTableLocks.h"
#include "engine/protect/VLTMemoryStream.h"

namespace vlt {

namespace {

constexpr int32_t kOpenLockTries = 50, kOpenLockDelayMS = 100;
constexpr int32_t kReadLockTries = 2250, kReadLockDelayMS = 40;
constexpr uint8_t kMetadataCompressionMode = 1;

}  // namespace

// The database-wide table-list lock for a scope, unless the table list is being changed already
// (the caller holds it then).
class TVLTDiskTableData::TTablesLock {
 public:
  explicit TTablesLock(TVLTDiskTableData& T) : FT(T) {
    if (FT.FIsChangingTableList) return;
    FT.LDiskDatabase->LockTables();
    FT.FIsChangingTableList = true;
    FHeld = true;
  }
  ~TTablesLock() {
    if (!FHeld) return;
    FT.FIsChangingTableList = false;
    try {
      FT.LDiskDatabase->UnlockTables();
    } catch (...) {
      // The lock goes with the connection at the latest; a destructor cannot raise.
    }
  }
  TTablesLock(const TTablesLock&) = delete;
  TTablesLock& operator=(const TTablesLock&) = delete;

 private:
  TVLTDiskTableData& FT;
  bool FHeld = false;
};

// A multi-user read: shared table lock, fresh most-updated data, the pages cache told that the
// session works on the table, temporary indexes brought up to date. Nothing in single-user mode.
class TVLTDiskTableData::TSharedRead {
 public:
  TSharedRead(TVLTDiskTableData& T, TVLTTableCursor& Cursor) : FT(T), FSessionID(Cursor.SessionID()) {
    if (!FT.MultiUser()) {
      FOK = true;
      return;
    }
    if (!FT.LockTable(FSessionID, ltS, kReadLockTries, kReadLockDelayMS)) return;
    FLocked = true;
    try {
      FT.LoadMostUpdated(FSessionID);
      FT.LDiskPageManager->TablePagesCacheManager().BeginWorkWithTable(FSessionID, FT.FTableID);
      FWorking = true;
      if (FT.FIndexManager) {
        bool Changed = false;
        FT.FIndexManager->SynchronizeTemporaryIndexes(&Cursor, Changed);
        if (Changed && FT.FIndexManager->TemporaryPageManager())
          FT.FIndexManager->TemporaryPageManager()->ApplyChanges(FSessionID);
      }
    } catch (...) {
      Release();
      throw;
    }
    FOK = true;
  }
  ~TSharedRead() { Release(); }
  TSharedRead(const TSharedRead&) = delete;
  TSharedRead& operator=(const TSharedRead&) = delete;
  bool OK() const { return FOK; }

 private:
  void Release() noexcept {
    try {
      if (FWorking)
        FT.LDiskPageManager->TablePagesCacheManager().EndWorkWithTable(FSessionID, FT.FTableID);
      if (FLocked) FT.UnlockTable(FSessionID, ltS);
    } catch (...) {
      // Release is noexcept: the lock goes with the connection at the latest.
    }
    FWorking = FLocked = false;
  }

  TVLTDiskTableData& FT;
  TVLTSessionID FSessionID;
  bool FOK = false, FLocked = false, FWorking = false;
};

TVLTDiskTableData::TVLTDiskTableData(TVLTDatabaseData* DatabaseData,
                                     TVLTDiskDatabaseData* DiskDatabase, std::string TableName)
    : TVLTTableData(DatabaseData, std::move(TableName)),
      LDiskDatabase(DiskDatabase),
      LDiskPageManager(DiskDatabase ? DiskDatabase->PageManager() : nullptr) {
  if (!LDiskDatabase || !LDiskPageManager) VLTRaiseNilPointer(kErrNilDiskDatabase);
  FPageManager = LDiskPageManager;
}

TVLTDiskTableData::~TVLTDiskTableData() { FreeTableObjects(); }

bool TVLTDiskTableData::MultiUser() const { return LDiskDatabase->MultiUser(); }

TVLTDiskRecordManager* TVLTDiskTableData::DiskRecordManager() const {
  return static_cast<TVLTDiskRecordManager*>(FRecordManager.get());
}

void TVLTDiskTableData::CreateRecordManager() {
  FRecordManager = std::make_unique<TVLTDiskRecordManager>(
      LDiskPageManager, this, FTableMostUpdatedFile.get(), FFieldManager.get());
}

void TVLTDiskTableData::CreateBlobManager() {
  FBlobManager = std::make_unique<TVLTDiskBlobManager>(LDiskPageManager, FFieldManager.get(),
                                                       FRecordManager.get(), FTableID);
  // A table made before its BLOB fields could hold values gets its index on the first value.
  FBlobManager->FOnIndexCreated = [this](TVLTSessionID SessionID) { SaveMetadataFile(SessionID); };
}

std::unique_ptr<TVLTIndex> TVLTDiskTableData::NewIndex(const TVLTIndexSite& Site) {
  return CreateBTreeRecordIndex(Site);
}

void TVLTDiskTableData::FreeTableObjects() noexcept {
  FBlobManager.reset();
  FreeManagers();
  FTableLocksFile.reset();
  FTableMetadataFile.reset();
  FTableMostUpdatedFile.reset();
  FCursorLocks.clear();
  FLastUsedTableState = -1;
}

bool TVLTDiskTableData::InCursorList(const TVLTTableCursor& Cursor) const {
  return std::find(FCursorList.begin(), FCursorList.end(), &Cursor) != FCursorList.end();
}

void TVLTDiskTableData::CancelChanges(TVLTSessionID SessionID, bool InTransaction) {
  TVLTTableData::CancelChanges(SessionID, InTransaction);
  // The cancelled changes took the record count and state with them: the stored ones count.
  if (!InTransaction && FRecordManager && FTableMostUpdatedFile) {
    try {
      LoadMostUpdated(SessionID);
    } catch (...) {
      // Cancelling runs while an error is on its way: a reload that fails keeps the count the
      // cancelled changes left; multi-user reads load it afresh.
    }
  }
}

// ---- stored state ----

int32_t TVLTDiskTableData::MostUpdatedSize() const {
  return 4 + FFieldManager->MostUpdatedSize() + TVLTDiskRecordManager::kMostUpdatedSize;
}

void TVLTDiskTableData::SaveMostUpdated(TVLTSessionID SessionID) {
  if (!FTableMostUpdatedFile || !FFieldManager || !FRecordManager)
    VLTRaiseNilPointer(kErrNilTableMostUpdatedFile);
  // A record change has stored its record: the BLOB values it replaced can go now.
  if (FBlobManager && FBlobManager->InRecordChange()) FBlobManager->KeepRecordChange(SessionID);
  TVLTBuffer Buffer(static_cast<size_t>(MostUpdatedSize()));
  int32_t Offset = 4;
  StoreLE<int32_t>(Buffer.data(), FFieldManager->FieldCount());
  FFieldManager->SaveMostUpdated(Buffer.data(), Offset);
  DiskRecordManager()->SaveMostUpdated(Buffer.data(), Offset);
  FTableMostUpdatedFile->WriteFile(SessionID, Buffer.data(), Offset, acaNone, 0);
  FLastUsedTableState = FRecordManager->FTableState;
}

void TVLTDiskTableData::LoadMostUpdated(TVLTSessionID SessionID) {
  if (!FTableMostUpdatedFile) throw EVLTException(kErrNilMostUpdatedFileLoad, "Pointer is nil");
  if (!FFieldManager || !FRecordManager) VLTRaiseNilPointer(kErrNilFieldManagerInLoadMostUpdated);
  auto& Cache = LDiskPageManager->TablePagesCacheManager();
  const bool Loaded = Cache.GetIsMostUpdatedLoaded(SessionID, FTableID);
  const int32_t Expected = MostUpdatedSize();
  const int32_t Capacity = (8 * FFieldManager->FieldCount() + 8) * 4;
  const int32_t Size = FTableMostUpdatedFile->GetSize(SessionID);
  // A file of another size (or naming another field count) belongs to another layout: reading
  // it would take values from the wrong places.
  if (Size > Capacity || Size != Expected)
    throw EVLTException(kErrInvalidTableHeaderData, "Invalid table header data");
  TVLTBuffer Buffer(static_cast<size_t>(Expected));
  FTableMostUpdatedFile->ReadFile(SessionID, Buffer.data(), Expected, !Loaded);
  if (LoadLE<int32_t>(Buffer.data()) != FFieldManager->FieldCount())
    throw EVLTException(kErrInvalidTableHeaderData, "Invalid table header data");
  int32_t Offset = 4;
  FFieldManager->LoadMostUpdated(Buffer.data(), Offset);
  DiskRecordManager()->LoadMostUpdated(Buffer.data(), Offset);
  FLastUsedTableState = FRecordManager->FTableState;
  Cache.SetIsMostUpdatedLoaded(SessionID, FTableID, FRecordManager->FTableState);
}

void TVLTDiskTableData::SaveMetadataFile(TVLTSessionID SessionID) {
  if (!FTableMetadataFile || !FFieldManager || !FIndexManager || !FConstraintManager ||
      !FRecordManager)
    VLTRaiseNilPointer(kErrNilInSaveMetadataFile);
  TVLTMemoryStream Stream;
  FFieldManager->SaveMetadata(Stream);
  FIndexManager->SaveMetadata(Stream);
  FConstraintManager->SaveMetadata(Stream);
  DiskRecordManager()->SaveMetadata(Stream);
  VLTWriteLE<int32_t>(Stream, FBlobManager ? FBlobManager->BlobPageIndexRoot() : kNoPage,
                      kErrWriteIndexRoot);
  FTableMetadataFile->WriteFile(SessionID, Stream.Memory(), static_cast<int32_t>(Stream.GetSize()),
                                acaZLIB, kMetadataCompressionMode);
}

void TVLTDiskTableData::LoadMetadataFile(TVLTSessionID SessionID) {
  if (!FTableMetadataFile || !FFieldManager || !FIndexManager || !FConstraintManager ||
      !FRecordManager)
    VLTRaiseNilPointer(kErrNilInLoadMetadataFile);
  const int32_t Size = FTableMetadataFile->GetCheckedSize(SessionID);
  TVLTMemoryStream Stream;
  if (Size > 0) {
    TVLTBuffer Buffer(static_cast<size_t>(Size));
    FTableMetadataFile->ReadFile(SessionID, Buffer.data(), Size);
    Stream.Write(Buffer.data(), Size);
    Stream.SetPosition(0);
  }
  FFieldManager->LoadMetadata(Stream);
  FIndexManager->LoadMetadata(Stream);
  FConstraintManager->LoadMetadata(Stream);
  DiskRecordManager()->LoadMetadata(Stream);
  const TVLTPageNo BlobRoot = VLTReadLE<int32_t>(Stream, kErrReadIndexRoot);
  if (FBlobManager) FBlobManager->OpenBlobPageIndex(BlobRoot);
}

// ---- table level ----

void TVLTDiskTableData::CreateTable(TVLTTableCursor& Cursor, const TVLTFieldDefs& FieldDefs,
                                    const TVLTConstraintDefs& ConstraintDefs,
                                    const TVLTIndexDefs& IndexDefs) {
  TVLTTableDataLatch L(*this);
  if (FieldDefs.Count() == 0)
    throw EVLTException(kErrCreatingTableNoFields,
                        "Error creating table - no fields were specified");
  if (!Cursor.FTableName.empty()) FTableName = Cursor.FTableName;
  FDisableTempFiles = Cursor.FDisableTempFiles;
  FreeTableObjects();
  FTableID = LDiskDatabase->GetNewObjectId();
  TTablesLock Tables(*this);
  constexpr TVLTSessionID Sys = kSystemSessionID;
  try {
    FTableLocksFile = std::make_unique<TVLTTableLocksFile>(LDiskPageManager);
    const int32_t Sessions = LDiskDatabase->ActiveSessionsFile()
                                 ? LDiskDatabase->ActiveSessionsFile()->MaxSessionCount()
                                 : LDiskDatabase->MaxSessionCount();
    const TVLTPageNo LocksPage = FTableLocksFile->CreateFile(Sessions);
    FTableMetadataFile = std::make_unique<TVLTInternalDBTransactedAccessFile>(LDiskPageManager, ptTableMetaData);
    FTableMetadataFile->CreateFile(Sys);
    FTableMostUpdatedFile =
        std::make_unique<TVLTInternalDBTransactedAccessFile>(LDiskPageManager, ptTableMostUpdated);
    FTableMostUpdatedFile->CreateFile(Sys);

    CreateFieldManager(FieldDefs);
    for (int32_t I = 0; I < FFieldManager->FieldCount(); ++I)
      FFieldManager->FieldDefs()[I].FObjectID = LDiskDatabase->GetNewObjectId();
    FFieldManager->RecalcFieldOffsets();
    FFieldManager->InitLastAutoIncValues();
    CreateIndexManager(IndexDefs);
    for (int32_t I = 0; I < FIndexManager->IndexDefs().Count(); ++I)
      FIndexManager->IndexDefs()[I].FObjectID = LDiskDatabase->GetNewObjectId();
    CreateConstraintManager(ConstraintDefs);
    for (int32_t I = 0; I < FConstraintManager->ConstraintDefs().Count(); ++I) {
      TVLTConstraintDef& D = FConstraintManager->ConstraintDefs()[I];
      if (D.FObjectID == kNoObjectID) D.FObjectID = LDiskDatabase->GetNewObjectId();
    }
    CreateRecordManager();
    DiskRecordManager()->Init(FFieldManager->GetMemoryRecordBufferSize(),
                              FFieldManager->GetDiskRecordBufferSize(), FFieldManager->FieldCount());
    CreateBlobManager();

    SaveMostUpdated(Sys);
    DiskRecordManager()->CreateRecordPageIndex(Sys);
    if (FFieldManager->BlobFieldsPresent()) FBlobManager->CreateBlobPageIndex(Sys);
    FIndexManager->CreateIndexesByIndexDefs(nullptr);  // the table is empty: roots only
    SaveMetadataFile(Sys);
    LDiskDatabase->AddTable(FTableID, FTableName, FTableMetadataFile->StartPageNo(),
                            FTableMostUpdatedFile->StartPageNo(), LocksPage);
    FreeTableObjects();
    LDiskPageManager->ApplyChanges(Sys);
  } catch (...) {
    FreeTableObjects();
    try {
      LDiskPageManager->CancelChanges(Sys);
    } catch (...) {
      // The error on its way out is the one the caller gets; this clean-up failing adds nothing to
      // it.
    }
    throw;
  }
}

void TVLTDiskTableData::LoadTableObjects(TVLTTableCursor& Cursor) {
  const TVLTSessionID SessionID = Cursor.SessionID();
  TVLTPageNo MetaPage = kNoPage, MostUpdatedPage = kNoPage, LocksPage = kNoPage;
  LDiskDatabase->OpenTable(FTableName, FTableID, MetaPage, MostUpdatedPage, LocksPage);
  FTableLocksFile = std::make_unique<TVLTTableLocksFile>(LDiskPageManager);
  FTableLocksFile->OpenFile(LocksPage);
  FTableMetadataFile = std::make_unique<TVLTInternalDBTransactedAccessFile>(LDiskPageManager, ptTableMetaData);
  FTableMetadataFile->OpenFile(MetaPage);
  FTableMostUpdatedFile =
      std::make_unique<TVLTInternalDBTransactedAccessFile>(LDiskPageManager, ptTableMostUpdated);
  FTableMostUpdatedFile->OpenFile(MostUpdatedPage);

  FFieldManager = std::make_unique<TVLTBaseFieldManager>(this, std::make_unique<TVLTFieldDefs>());
  CreateIndexManager(TVLTIndexDefs());
  FConstraintManager =
      std::make_unique<TVLTBaseConstraintManager>(this, std::make_unique<TVLTConstraintDefs>());
  CreateRecordManager();
  CreateBlobManager();
  LoadMetadataFile(SessionID);
  DiskRecordManager()->Init(FFieldManager->GetMemoryRecordBufferSize(),
                            FFieldManager->GetDiskRecordBufferSize(), FFieldManager->FieldCount());
  if (Cursor.FIsRepairing || FIsRepairing)
    RepairOnOpen(Cursor);
  else
    LoadMostUpdated(SessionID);
}

void TVLTDiskTableData::RepairOnOpen(TVLTTableCursor& Cursor) {
  const TVLTSessionID SessionID = Cursor.SessionID();
  try {
    LoadMostUpdated(SessionID);
    DiskRecordManager()->ValidateRecordPageIndex(SessionID);
    return;
  } catch (const EVLTException&) {
  }
  if (DiskRecordManager()->DiskRecordBufferSize() >= LDiskPageManager->PageDataSize())
    throw EVLTException(kErrCannotRepairPageIndex,
                        "Cannot repair page index for large table. Table name: \"%s\"",
                        {FTableName});
  try {
    DiskRecordManager()->RebuildRecordPageIndex(SessionID);
    RaiseAutoincsToStoredValues(SessionID);
    SaveMetadataFile(SessionID);
    FTableMostUpdatedFile->InitFileHeader(SessionID);
    SaveMostUpdated(SessionID);
    LDiskPageManager->ApplyChanges(SessionID);
  } catch (...) {
    LDiskPageManager->CancelChanges(SessionID);
    throw;
  }
}

void TVLTDiskTableData::RaiseAutoincsToStoredValues(TVLTSessionID SessionID) {
  TVLTBaseFieldManager& FM = *FFieldManager;
  std::vector<int32_t> Autoincs;
  for (int32_t I = 0; I < FM.FieldCount(); ++I)
    if (IsAutoincAdvancedType(FM.FieldDefs()[I].FAdvancedFieldType)) Autoincs.push_back(I);
  if (Autoincs.empty()) return;
  TVLTBuffer Record(static_cast<size_t>(FRecordManager->FRecordBufferSize));
  TVLTNavigationInfo Nav;
  Nav.GetRecordMode = grmNext;
  Nav.FirstPosition = true;
  Nav.RecordBuffer = Record.data();
  for (;;) {
    FRecordManager->GetRecordBuffer(SessionID, Nav);
    if (Nav.GetRecordResult != grrOK) break;
    for (int32_t FieldNo : Autoincs) {
      if (VLTIsFieldNull(Record.data(), FieldNo)) continue;
      TVLTVariant V;
      FM.GetFieldValue(FieldNo, Record.data(), V);
      if (!V.IsNull() && V.AsInt64() > FM.LastAutoIncValue(FieldNo))
        FM.SetLastAutoIncValue(FieldNo, V.AsInt64());
    }
  }
}

void TVLTDiskTableData::OpenTable(TVLTTableCursor& Cursor) {
  TVLTTableDataLatch L(*this);
  const bool Others = std::any_of(FCursorList.begin(), FCursorList.end(),
                                  [&Cursor](TVLTTableCursor* C) { return C != &Cursor; });
  if (Others && Cursor.FExclusive && !FExclusive)
    throw EVLTException(
        kErrCannotAccessTableExclusiveInOpenTable20242,
        "Cannot access table '%s' in exclusive mode. Table is open by other cursors", {FTableName});
  if (InCursorList(Cursor)) return;
  const bool First = FCursorList.empty();
  {
    TTablesLock Tables(*this);
    if (First) {
      try {
        LoadTableObjects(Cursor);
        FExclusive = Cursor.FExclusive;
        FActive = true;
      } catch (...) {
        FreeTableObjects();
        throw;
      }
    }
  }
  TVLTTableData::OpenTable(Cursor);
  const TVLTLockType Type = Cursor.FExclusive ? ltX : ltIS;
  if (!LockTable(Cursor.SessionID(), Type, kOpenLockTries, kOpenLockDelayMS)) {
    TVLTTableData::CloseTable(Cursor);
    if (FCursorList.empty()) FreeTableObjects();
    if (Cursor.FExclusive)
      throw EVLTException(
          kErrCannotAccessTableExclusiveInOpenTable20208,
          "Cannot access table '%s' in exclusive mode. Table is open by another user",
          {FTableName});
    throw EVLTException(kErrCannotOpenTableTable, "Cannot open table '%s'. Table is locked",
                        {FTableName});
  }
  FCursorLocks[&Cursor] = Type;
}

void TVLTDiskTableData::RemoveCursor(TVLTTableCursor& Cursor) {
  auto It = FCursorLocks.find(&Cursor);
  if (It != FCursorLocks.end()) {
    const TVLTLockType Type = It->second;
    FCursorLocks.erase(It);
    try {
      UnlockTable(Cursor.SessionID(), Type);
    } catch (...) {
      // The cursor goes whatever the lock does: the lock goes with the connection at the latest.
    }
  }
  TVLTTableData::CloseTable(Cursor);
  if (FCursorList.empty()) FreeTableObjects();
}

void TVLTDiskTableData::CloseTable(TVLTTableCursor& Cursor) {
  TVLTTableDataLatch L(*this);
  RemoveCursor(Cursor);
}

bool TVLTDiskTableData::OpenExclusively(TVLTTableCursor& Cursor) {
  if (InCursorList(Cursor)) {
    if (FCursorList.size() > 1)
      throw EVLTException(
          kErrCannotAccessTableExclusiveInOpenTable20242,
          "Cannot access table '%s' in exclusive mode. Table is open by other cursors",
          {FTableName});
    return false;
  }
  {
    TVLTRestore KeepExclusive(Cursor.FExclusive);
    Cursor.FExclusive = true;
    OpenTable(Cursor);
  }
  return true;
}

void TVLTDiskTableData::DeleteTable(TVLTTableCursor& Cursor, bool DesignMode) {
  TVLTTableDataLatch L(*this);
  TVLTTableData::DeleteTable(Cursor, DesignMode);
  TTablesLock Tables(*this);
  constexpr TVLTSessionID Sys = kSystemSessionID;
  OpenExclusively(Cursor);
  // The fields' sequences end with the table: the session forgets their last values.
  std::vector<TVLTObjectID> FieldIDs;
  if (FFieldManager)
    for (int32_t I = 0; I < FFieldManager->FieldDefs().Count(); ++I)
      FieldIDs.push_back(FFieldManager->FieldDefs()[I].FObjectID);
  try {
    FIndexManager->DropAllIndexes(Sys);
    FBlobManager->Delete(Sys);
    DiskRecordManager()->Delete(Sys);
    auto It = FCursorLocks.find(&Cursor);
    if (It != FCursorLocks.end()) {
      UnlockTable(Cursor.SessionID(), It->second);
      FCursorLocks.erase(It);
    }
    FTableLocksFile->DeleteFile();
    FTableMetadataFile->DeleteFile(Sys);
    FTableMostUpdatedFile->DeleteFile(Sys);
    // The entry goes too: a table list naming freed pages would make the name unusable.
    LDiskDatabase->RemoveTable(FTableName);
    RemoveCursor(Cursor);
    FreeTableObjects();
    LDiskPageManager->ApplyChanges(Sys);
  } catch (...) {
    try {
      RemoveCursor(Cursor);
    } catch (...) {
      // The error on its way out is the one the caller gets; this clean-up failing adds nothing to
      // it.
    }
    FreeTableObjects();
    try {
      LDiskPageManager->CancelChanges(Sys);
    } catch (...) {
      // The error on its way out is the one the caller gets; this clean-up failing adds nothing to
      // it.
    }
    throw;
  }
  if (Cursor.FSession)
    for (TVLTObjectID ID : FieldIDs) Cursor.FSession->DeleteSequenceValue(ID);
}

void TVLTDiskTableData::EmptyTable(TVLTTableCursor& Cursor) {
  TVLTTableDataLatch L(*this);
  const bool Opened = OpenExclusively(Cursor);
  const TVLTSessionID SessionID = Cursor.SessionID();
  try {
    TVLTTableData::EmptyTable(Cursor);
    FBlobManager->Empty(SessionID);
    DiskRecordManager()->Empty(SessionID);
    SaveMostUpdated(SessionID);
    ApplyChanges(SessionID, Cursor.InTransaction());
  } catch (...) {
    CancelChanges(SessionID, Cursor.InTransaction());
    if (Opened) RemoveCursor(Cursor);
    throw;
  }
  if (Cursor.FRecordBitmap) Cursor.FRecordBitmap->Clear();
  Cursor.FirstPosition = true;
  Cursor.LastPosition = false;
  if (Opened) RemoveCursor(Cursor);
}

void TVLTDiskTableData::RenameTable(const std::string& NewTableName, TVLTTableCursor& Cursor) {
  TVLTTableDataLatch L(*this);
  TTablesLock Tables(*this);
  const bool Opened = OpenExclusively(Cursor);
  if (Opened) RemoveCursor(Cursor);
  const std::string OldName = FTableName;
  try {
    LDiskDatabase->RenameTable(OldName, NewTableName);
    TVLTTableData::RenameTable(NewTableName, Cursor);
    LDiskPageManager->ApplyChanges(kSystemSessionID);
  } catch (...) {
    FTableName = OldName;
    try {
      LDiskPageManager->CancelChanges(kSystemSessionID);
    } catch (...) {
      // The error on its way out is the one the caller gets; this clean-up failing adds nothing to
      // it.
    }
    throw;
  }
}

void TVLTDiskTableData::RenameField(const std::string& FieldName, const std::string& NewFieldName) {
  TVLTTableDataLatch L(*this);
  TVLTTableData::RenameField(FieldName, NewFieldName);
  try {
    SaveMetadataFile(kSystemSessionID);
    LDiskPageManager->ApplyChanges(kSystemSessionID);
  } catch (...) {
    LDiskPageManager->CancelChanges(kSystemSessionID);
    // Memory goes back to what the file holds.
    try {
      TVLTTableData::RenameField(NewFieldName, FieldName);
    } catch (...) {
      // The error on its way out is the one the caller gets; this clean-up failing adds nothing to
      // it.
    }
    throw;
  }
}

void TVLTDiskTableData::AddIndex(const TVLTIndexDef& IndexDef, TVLTTableCursor* Cursor) {
  TVLTTableDataLatch L(*this);
  TVLTIndexDef Def;
  Def.Assign(IndexDef);
  if (Def.FObjectID == kNoObjectID) Def.FObjectID = LDiskDatabase->GetNewObjectId();
  const TVLTSessionID SessionID = Cursor ? Cursor->SessionID() : kSystemSessionID;
  const bool InTransaction = Cursor && Cursor->InTransaction();
  const bool Temporary = Def.FTemporary || (Cursor && Cursor->FTemporary);
  try {
    TVLTTableData::AddIndex(Def, Cursor);
    if (!Temporary) SaveMetadataFile(SessionID);
    ApplyChanges(SessionID, InTransaction);
  } catch (...) {
    CancelChanges(SessionID, InTransaction);
    // The definition must not outlive its pages.
    if (FIndexManager && FIndexManager->IndexDefs().GetByObjectId(Def.FObjectID)) {
      try {
        FIndexManager->CloseIndex(Def.FObjectID);
        for (int32_t I = 0; I < FIndexManager->IndexDefs().Count(); ++I)
          if (FIndexManager->IndexDefs()[I].FObjectID == Def.FObjectID) {
            FIndexManager->IndexDefs().Delete(I);
            break;
          }
        if (FConstraintManager) FConstraintManager->DeleteConstraintForIndexID(Def.FObjectID);
      } catch (...) {
        // The error on its way out is the one the caller gets; this clean-up failing adds nothing
        // to it.
      }
    }
    throw;
  }
}

void TVLTDiskTableData::DeleteIndex(int32_t IndexID, TVLTTableCursor* Cursor) {
  TVLTTableDataLatch L(*this);
  const TVLTSessionID SessionID = Cursor ? Cursor->SessionID() : kSystemSessionID;
  const bool InTransaction = Cursor && Cursor->InTransaction();
  const TVLTIndexDef* Def = FIndexManager ? FIndexManager->IndexDefs().GetByObjectId(IndexID) : nullptr;
  const bool Temporary = (Def && Def->FTemporary) || (Cursor && Cursor->FTemporary);
  TVLTTableData::DeleteIndex(IndexID, Cursor);
  try {
    if (!Temporary) SaveMetadataFile(SessionID);
    ApplyChanges(SessionID, InTransaction);
  } catch (...) {
    CancelChanges(SessionID, InTransaction);
    throw;
  }
}

// ---- records ----

bool TVLTDiskTableData::InsertRecord(TVLTTableCursor& Cursor) {
  TVLTTableDataLatch L(*this);
  // Another process may have added or removed records since: the count and state saved after
  // this insert must build on the stored ones.
  if (MultiUser() && FRecordManager) LoadMostUpdated(Cursor.SessionID());
  TVLTScopeExit Inserted([this] { FInsertingRecord = false; });
  FInsertingRecord = true;
  return ChangeWithBlobs(Cursor, [&] { return TVLTTableData::InsertRecord(Cursor); });
}

bool TVLTDiskTableData::UpdateRecord(TVLTTableCursor& Cursor) {
  TVLTTableDataLatch L(*this);
  return ChangeWithBlobs(Cursor, [&] { return TVLTTableData::UpdateRecord(Cursor); });
}

bool TVLTDiskTableData::DeleteRecord(TVLTTableCursor& Cursor) {
  TVLTTableDataLatch L(*this);
  return ChangeWithBlobs(Cursor, [&] { return TVLTTableData::DeleteRecord(Cursor); });
}

bool TVLTDiskTableData::ChangeWithBlobs(TVLTTableCursor& Cursor,
                                        const std::function<bool()>& Change) {
  if (!FBlobManager) return Change();
  // The replaced values are deleted when the change saves the most-updated data, which it does
  // only once the record and its index entries are stored.
  FBlobManager->BeginRecordChange();
  bool Done = false;
  try {
    Done = Change();
  } catch (...) {
    FBlobManager->UndoRecordChange(Cursor.SessionID());
    throw;
  }
  if (FBlobManager->InRecordChange()) FBlobManager->UndoRecordChange(Cursor.SessionID());
  return Done;
}

// ---- BLOB values ----

void TVLTDiskTableData::ReadBLOBField(TVLTTableCursor& Cursor, int32_t FieldNo, TVLTStream& Stream) {
  TVLTTableDataLatch L(*this);
  if (!FBlobManager) VLTRaiseNilPointer(kErrNilBlobManagerInReadBLOBField);
  if (!Cursor.FCurrentRecordBuffer) return;
  FBlobManager->ReadValue(Cursor.SessionID(), Cursor.FCurrentRecordBuffer, FieldNo, Stream);
}

void TVLTDiskTableData::WriteBLOBFieldToRecordBuffer(TVLTTableCursor& Cursor, int32_t FieldNo,
                                                     TVLTStream& Stream) {
  TVLTTableDataLatch L(*this);
  if (!FBlobManager || !Cursor.FCurrentRecordBuffer)
    VLTRaiseNilPointer(kErrNilBlobManagerInWriteBLOBFieldToRecordBuffer);
  FBlobManager->SetValue(Cursor.FCurrentRecordBuffer, FieldNo, Stream);
}

void TVLTDiskTableData::ClearBLOBFieldCache(TVLTTableCursor& Cursor, int32_t FieldNo) {
  TVLTTableDataLatch L(*this);
  if (FBlobManager && Cursor.FCurrentRecordBuffer)
    FBlobManager->ClearBlobInRecordBuffer(Cursor.FCurrentRecordBuffer, FieldNo, false);
}

void TVLTDiskTableData::ClearBlobsCacheInRecordBuffer(uint8_t* RecordBuffer) {
  TVLTTableDataLatch L(*this);
  if (FBlobManager) FBlobManager->ReleaseRecordBuffer(RecordBuffer);
}

void TVLTDiskTableData::WriteBLOBs(TVLTTableCursor& Cursor) {
  if (FBlobManager && Cursor.FCurrentRecordBuffer)
    FBlobManager->WriteBlobs(Cursor.SessionID(), Cursor.FCurrentRecordBuffer, FInsertingRecord);
}

void TVLTDiskTableData::DeleteBLOBs(TVLTTableCursor& Cursor) {
  if (FBlobManager && Cursor.FCurrentRecordBuffer)
    FBlobManager->DeleteBlobs(Cursor.SessionID(), Cursor.FCurrentRecordBuffer);
}

TVLTGetRecordResult TVLTDiskTableData::GetRecordBuffer(TVLTTableCursor& Cursor,
                                                       TVLTGetRecordMode GetRecordMode) {
  TVLTTableDataLatch L(*this);
  TSharedRead Read(*this, Cursor);
  if (!Read.OK()) return grrError;
  return TVLTTableData::GetRecordBuffer(Cursor, GetRecordMode);
}

bool TVLTDiskTableData::Locate(TVLTTableCursor& Cursor, const TVLTExpression* SearchExpression) {
  TVLTTableDataLatch L(*this);
  TSharedRead Read(*this, Cursor);
  if (!Read.OK()) throw EVLTException(kErrTableLockedInLocate, "Table is locked");
  return TVLTTableData::Locate(Cursor, SearchExpression);
}

bool TVLTDiskTableData::FindKey(TVLTTableCursor& Cursor, TVLTSearchCondition SearchCondition) {
  TVLTTableDataLatch L(*this);
  TSharedRead Read(*this, Cursor);
  if (!Read.OK()) throw EVLTException(kErrTableLockedInFindKey, "Table is locked");
  return TVLTTableData::FindKey(Cursor, SearchCondition);
}

int32_t TVLTDiskTableData::GetDiskRecordSize() {
  TVLTDiskRecordManager* RM = DiskRecordManager();
  return RM ? RM->DiskRecordBufferSize() : TVLTTableData::GetDiskRecordSize();
}

int64_t TVLTDiskTableData::InternalGetRecordCount(TVLTTableCursor& Cursor) {
  TVLTTableDataLatch L(*this);
  TSharedRead Read(*this, Cursor);
  if (!Read.OK()) throw EVLTException(kErrTableLockedInInternalGetRecordCount, "Table is locked");
  return CheckedRecordManager(kErrNilRecordManagerCount).FRecordCount;
}

void TVLTDiskTableData::InternalSetRecNo(TVLTTableCursor& Cursor, int64_t RecNo) {
  TVLTTableDataLatch L(*this);
  TSharedRead Read(*this, Cursor);
  if (!Read.OK()) throw EVLTException(kErrTableLockedInInternalSetRecNo, "Table is locked");
  TVLTDiskRecordManager* RM = DiskRecordManager();
  if (!RM) VLTRaiseNilPointer(kErrNilRMInInternalSetRecNo);
  const TVLTPageItemID ID = RM->SetRecNo(Cursor.SessionID(), RecNo);
  Cursor.CurrentRecordID = ID;
  Cursor.FirstPosition = Cursor.LastPosition = false;
  if (Cursor.FCurrentRecordBuffer) {
    TVLTNavigationInfo Info;
    Info.GetRecordMode = grmCurrent;
    Info.RecordID = ID;
    Info.RecordBuffer = Cursor.FCurrentRecordBuffer;
    RM->GetRecordBuffer(Cursor.SessionID(), Info);
  }
}

int64_t TVLTDiskTableData::InternalGetRecNo(TVLTTableCursor& Cursor) {
  TVLTTableDataLatch L(*this);
  TSharedRead Read(*this, Cursor);
  if (!Read.OK()) throw EVLTException(kErrTableLockedInInternalGetRecNo, "Table is locked");
  TVLTDiskRecordManager* RM = DiskRecordManager();
  if (!RM) VLTRaiseNilPointer(kErrNilRMInInternalGetRecNo);
  if (Cursor.FirstPosition || Cursor.LastPosition || RM->FRecordCount == 0) return -1;
  return RM->GetRecNo(Cursor.SessionID(), Cursor.CurrentRecordID);
}

int64_t TVLTDiskTableData::LastAutoincValue(int32_t FieldNo, TVLTSessionData* Session) {
  TVLTTableDataLatch L(*this);
  if (!FFieldManager) VLTRaiseNilPointer(kErrNilFieldManagerInLastAutoincValue);
  return FFieldManager->GetLastAutoinc(Session, FieldNo);
}

void TVLTDiskTableData::Rollback(TVLTSessionID SessionID) {
  TVLTTableDataLatch L(*this);
  if (!FRecordManager) return;
  LoadMostUpdated(SessionID);
  if (FIndexManager && FIndexManager->TemporaryPageManager())
    FIndexManager->TemporaryPageManager()->CancelChanges(SessionID);
  TVLTTableData::Rollback(SessionID);
  if (FIndexManager && FIndexManager->TemporaryPageManager())
    FIndexManager->TemporaryPageManager()->ApplyChanges(SessionID);
}

int64_t TVLTDiskTableData::GetRecordBitmapSize() {
  TVLTDiskRecordManager* RM = DiskRecordManager();
  if (!RM) VLTRaiseNilPointer(kErrNilRMInGetRecordBitmapSize);
  // The index as the cursors' session sees it (a batch of inserts may not be committed yet).
  const TVLTSessionID SessionID =
      FCursorList.empty() ? kSystemSessionID : FCursorList.front()->SessionID();
  TVLTPageNo Last = kNoPage;
  if (RM->RecordPageIndex().RootPageNo() == kNoPage ||
      !RM->RecordPageIndex().GetLastRecordPage(SessionID, Last))
    return 1;
  return (int64_t{Last} + 1) * RM->MaxRecordsOnPage();
}

int64_t TVLTDiskTableData::RecordIDToBitNo(const TVLTPageItemID& RecordID) {
  return int64_t{RecordID.PageNo} * DiskRecordManager()->MaxRecordsOnPage() + RecordID.PageItemNo;
}

TVLTPageItemID TVLTDiskTableData::BitNoToRecordID(int64_t BitNo) {
  const int64_t Max = DiskRecordManager()->MaxRecordsOnPage();
  return {static_cast<TVLTPageNo>(BitNo / Max), static_cast<uint16_t>(BitNo % Max)};
}

// ---- locks ----

bool TVLTDiskTableData::LockTable(TVLTSessionID SessionID, TVLTLockType LockType, int32_t TryCount,
                                  int32_t DelayMS, bool AllowXIRWAfterSIRW) {
  if (!MultiUser()) return true;
  if (!FTableLocksFile || !LDiskDatabase->TableLockManager())
    VLTRaiseNilPointer(kErrNilTableLocksFileInLockTable);
  if (!LDiskDatabase->TableLockManager()->LockTable(SessionID, LockType, *FTableLocksFile, TryCount,
                                                    DelayMS, false, AllowXIRWAfterSIRW))
    return false;
  auto& Cache = LDiskPageManager->TablePagesCacheManager();
  if (LockType == ltS) Cache.TableIsSLocked(SessionID, FTableID);
  if (LockType == ltRW) Cache.TableIsRWLocked(SessionID, FTableID);
  return true;
}

bool TVLTDiskTableData::UnlockTable(TVLTSessionID SessionID, TVLTLockType LockType) {
  if (!MultiUser()) return true;
  if (!FTableLocksFile || !LDiskDatabase->TableLockManager())
    VLTRaiseNilPointer(kErrNilTableLocksFileInUnlockTable);
  const bool OK = LDiskDatabase->TableLockManager()->UnlockTable(SessionID, LockType, *FTableLocksFile);
  auto& Cache = LDiskPageManager->TablePagesCacheManager();
  if (LockType == ltS) Cache.TableIsSUnlocked(SessionID, FTableID);
  if (LockType == ltRW) Cache.TableIsRWUnlocked(SessionID, FTableID);
  return OK;
}

bool TVLTDiskTableData::LockRecord(TVLTSessionID SessionID, const TVLTPageItemID& RecordID,
                                   int32_t TryCount, int32_t DelayMS) {
  if (!MultiUser()) return true;
  if (!FTableLocksFile || !LDiskDatabase->TableLockManager())
    VLTRaiseNilPointer(kErrNilTableLocksFileInLockRecord);
  return LDiskDatabase->TableLockManager()->LockRecord(SessionID, *FTableLocksFile, RecordID,
                                                       TryCount, DelayMS);
}

bool TVLTDiskTableData::UnlockRecord(TVLTSessionID SessionID, const TVLTPageItemID& RecordID) {
  if (!MultiUser()) return true;
  if (!FTableLocksFile || !LDiskDatabase->TableLockManager())
    VLTRaiseNilPointer(kErrNilTableLocksFileInUnlockRecord);
  return LDiskDatabase->TableLockManager()->UnlockRecord(SessionID, *FTableLocksFile, RecordID);
}

bool TVLTDiskTableData::IsRecordLocked(TVLTSessionID SessionID, const TVLTPageItemID& RecordID) {
  if (!MultiUser()) return false;
  if (!FTableLocksFile || !LDiskDatabase->TableLockManager())
    VLTRaiseNilPointer(kErrNilTableLocksFileInIsRecordLocked);
  return LDiskDatabase->TableLockManager()->IsRecordLocked(SessionID, *FTableLocksFile, RecordID);
}

// ---- the database object ----

TVLTDiskBackedDatabaseData::TVLTDiskBackedDatabaseData(TVLTDiskDatabaseData* DiskDatabase)
    : TVLTDatabaseData(DiskDatabase ? DiskDatabase->DatabaseName() : std::string(),
                       DiskDatabase ? DiskDatabase->SessionName() : std::string()),
      LDiskDatabase(DiskDatabase) {
  if (!LDiskDatabase) VLTRaiseNilPointer(kErrNilBackingDiskDatabase);
  SetMultiUser(LDiskDatabase->MultiUser());
  SetReadOnly(LDiskDatabase->ReadOnly());
}

TVLTDiskBackedDatabaseData::~TVLTDiskBackedDatabaseData() {
  FTableDataList.clear();
}

std::unique_ptr<TVLTTableData> TVLTDiskBackedDatabaseData::CreateTableData(
    TVLTTableCursor& Cursor) {
  return std::make_unique<TVLTDiskTableData>(this, LDiskDatabase, Cursor.FTableName);
}

TVLTObjectID TVLTDiskBackedDatabaseData::GetNewObjectId() {
  return LDiskDatabase->GetNewObjectId();
}

void TVLTDiskBackedDatabaseData::Commit(TVLTSessionID SessionID, bool DoFlushBuffers) {
  LDiskDatabase->Commit(SessionID, DoFlushBuffers);
}

void TVLTDiskBackedDatabaseData::Rollback(TVLTSessionID SessionID) {
  LDiskDatabase->Rollback(SessionID);
  for (const auto& T : FTableDataList) T->Rollback(SessionID);
}

void TVLTDiskBackedDatabaseData::FlushBuffers() {
  LDiskDatabase->FlushBuffers();
}

}  // namespace vlt
