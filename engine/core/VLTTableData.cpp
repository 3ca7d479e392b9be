#include "engine/core/VLTTableData.h"

#include <algorithm>
#include <cstring>
#include <optional>

#include "engine/base/VLTExcept.h"
#include "engine/base/VLTMemory.h"
#include "engine/core/VLTDatabaseData.h"
#include "engine/core/VLTPageManager.h"

namespace vlt {

namespace {

// A cursor's position and record buffer contents, put back on request.
struct TSavedPosition {
  TVLTPageItemID RecordID;
  bool First = false, Last = false;
  uint8_t* Buffer = nullptr;
  TVLTBuffer Copy;

  TSavedPosition(const TVLTTableCursor& C, int32_t RecordSize)
      : RecordID(C.CurrentRecordID), First(C.FirstPosition), Last(C.LastPosition),
        Buffer(C.FCurrentRecordBuffer) {
    if (Buffer && RecordSize > 0) {
      Copy = TVLTBuffer(static_cast<size_t>(RecordSize));
      std::memcpy(Copy.data(), Buffer, Copy.size());
    }
  }
  void Restore(TVLTTableCursor& C) const {
    C.CurrentRecordID = RecordID;
    C.FirstPosition = First;
    C.LastPosition = Last;
    C.FCurrentRecordBuffer = Buffer;
    if (Buffer && Copy.size() > 0) std::memcpy(Buffer, Copy.data(), Copy.size());
  }
};

}  // namespace

TVLTTableData::TVLTTableData(TVLTDatabaseData* DatabaseData, std::string TableName)
    : FPageManager(DatabaseData ? DatabaseData->PageManager() : nullptr),
      FDatabaseData(DatabaseData),
      FTableName(std::move(TableName)) {}

TVLTTableData::~TVLTTableData() { FreeManagers(); }

void TVLTTableData::FreeManagers() {
  // Indexes first: they reach the record and field managers through the table data.
  FIndexManager.reset();
  FConstraintManager.reset();
  FFieldManager.reset();
  FRecordManager.reset();
  FActive = false;
}

void TVLTTableData::Lock() {
  if (FDatabaseData)
    FDatabaseData->Lock();
  else
    FCSect.lock();
}

void TVLTTableData::Unlock() {
  if (FDatabaseData)
    FDatabaseData->Unlock();
  else
    FCSect.unlock();
}

TVLTBaseRecordManager& TVLTTableData::CheckedRecordManager(int32_t Code) const {
  if (!FRecordManager) VLTRaiseNilPointer(Code);
  return *FRecordManager;
}

// ---- managers ----

void TVLTTableData::CreateFieldManager(const TVLTFieldDefs& FieldDefs) {
  auto Defs = std::make_unique<TVLTFieldDefs>();
  Defs->Assign(FieldDefs);
  FFieldManager = std::make_unique<TVLTBaseFieldManager>(this, std::move(Defs));
}

void TVLTTableData::CreateIndexManager(const TVLTIndexDefs& IndexDefs) {
  FIndexManager = std::make_unique<TVLTBaseIndexManager>(
      this, FPageManager, [this](const TVLTIndexSite& Site) { return NewIndex(Site); });
  FIndexManager->CreateIndexDefs(IndexDefs);
}

void TVLTTableData::CreateConstraintManager(const TVLTConstraintDefs& ConstraintDefs) {
  auto Defs = std::make_unique<TVLTConstraintDefs>();
  Defs->Assign(ConstraintDefs);
  for (int32_t I = 0; I < Defs->Count(); ++I) {
    TVLTConstraintDef& Def = (*Defs)[I];
    switch (Def.FConstraintType) {
      case ctPK:
      case ctUnique:
        static_cast<TVLTConstraintDefUnique&>(Def).FTableName = FTableName;
        break;
      case ctNotNull:
      case ctCheck:
        static_cast<TVLTConstraintDefNotNull&>(Def).FTableName = FTableName;
        break;
      default:
        throw EVLTException(30058, "Not implemented yet");
    }
    if (FDatabaseData) Def.FObjectID = FDatabaseData->GetNewObjectId();
  }
  FConstraintManager = std::make_unique<TVLTBaseConstraintManager>(this, std::move(Defs));
  FConstraintManager->LinkObjectIds();
  FConstraintManager->FillConstraintAutoNames();
}

// ---- changes ----

void TVLTTableData::ApplyChanges(TVLTSessionID SessionID, bool InTransaction) {
  if (InTransaction) return;
  if (FPageManager) FPageManager->ApplyChanges(SessionID);
  if (FIndexManager && FIndexManager->TemporaryPageManager())
    FIndexManager->TemporaryPageManager()->ApplyChanges(SessionID);
}

void TVLTTableData::CancelChanges(TVLTSessionID SessionID, bool InTransaction) {
  if (InTransaction) return;
  if (FPageManager) FPageManager->CancelChanges(SessionID);
  // Temporary indexes keep their own pages; after the records' changes are gone they no longer
  // match the table and are rebuilt before their next use.
  if (FIndexManager)
    for (int32_t I = 0; I < FIndexManager->IndexDefs().Count(); ++I) {
      TVLTIndexDef& Def = FIndexManager->IndexDefs()[I];
      if (Def.FTemporary) Def.FNeedRebuild = true;
    }
}

// ---- table level ----

void TVLTTableData::CreateTable(TVLTTableCursor& Cursor, const TVLTFieldDefs& FieldDefs,
                                const TVLTConstraintDefs& ConstraintDefs,
                                const TVLTIndexDefs& IndexDefs) {
  TVLTTableDataLatch L(*this);
  CreateFieldManager(FieldDefs);
  if (FDatabaseData)
    for (int32_t I = 0; I < FFieldManager->FieldCount(); ++I) {
      TVLTFieldDef& F = FFieldManager->FieldDefs()[I];
      if (F.FObjectID == kNoObjectID) F.FObjectID = FDatabaseData->GetNewObjectId();
    }
  CreateRecordManager();
  FRecordManager->FRecordBufferSize = FFieldManager->GetMemoryRecordBufferSize();
  CreateIndexManager(IndexDefs);
  if (FDatabaseData)
    for (int32_t I = 0; I < FIndexManager->IndexDefs().Count(); ++I) {
      TVLTIndexDef& D = FIndexManager->IndexDefs()[I];
      if (D.FObjectID == kNoObjectID) D.FObjectID = FDatabaseData->GetNewObjectId();
    }
  FIndexManager->CreateIndexesByIndexDefs(&Cursor);
  CreateConstraintManager(ConstraintDefs);
  FActive = true;
}

void TVLTTableData::DeleteTable(TVLTTableCursor& Cursor, bool DesignMode) {
  TVLTTableDataLatch L(*this);
  const bool OthersOpen = std::any_of(FCursorList.begin(), FCursorList.end(),
                                      [&Cursor](TVLTTableCursor* C) { return C != &Cursor; });
  if (OthersOpen && !DesignMode)
    throw EVLTException(20017, "Cannot delete table '%s'. Table is open by another dataset",
                        {FTableName});
}

void TVLTTableData::EmptyTable(TVLTTableCursor& Cursor) {
  TVLTTableDataLatch L(*this);
  if (FFieldManager) FFieldManager->InitLastAutoIncValues();
  if (FIndexManager) FIndexManager->EmptyAllIndexes(Cursor.SessionID());
}

void TVLTTableData::RenameTable(const std::string& NewTableName, TVLTTableCursor& Cursor) {
  TVLTTableDataLatch L(*this);
  const bool OthersOpen = std::any_of(FCursorList.begin(), FCursorList.end(),
                                      [&Cursor](TVLTTableCursor* C) { return C != &Cursor; });
  if (OthersOpen)
    throw EVLTException(10150, "Cannot rename table '%s'. Table is open by another dataset",
                        {FTableName});
  FTableName = NewTableName;
}

void TVLTTableData::OpenTable(TVLTTableCursor& Cursor) {
  TVLTTableDataLatch L(*this);
  if (FCursorList.empty()) FDisableTempFiles = Cursor.FDisableTempFiles;
  if (std::find(FCursorList.begin(), FCursorList.end(), &Cursor) == FCursorList.end())
    FCursorList.push_back(&Cursor);
  if (!Cursor.FRecordBitmap) Cursor.FRecordBitmap = std::make_unique<TVLTRecordBitmap>(this);
}

void TVLTTableData::CloseTable(TVLTTableCursor& Cursor) {
  TVLTTableDataLatch L(*this);
  std::erase(FCursorList, &Cursor);
  if (Cursor.FRecordBitmap) Cursor.FRecordBitmap->Clear();
  Cursor.FIndexPositionCache.Invalidate();
}

void TVLTTableData::RenameField(const std::string& FieldName, const std::string& NewFieldName) {
  TVLTTableDataLatch L(*this);
  if (!FFieldManager) VLTRaiseNilPointer(30342);
  TVLTFieldDefs& Fields = FFieldManager->FieldDefs();
  TVLTFieldDef* F = Fields.GetFieldDefByName(FieldName);
  if (!F) throw EVLTException(30343, "Field '%s' not found", {FieldName});
  TVLTFieldDef* Other = Fields.GetFieldDefByName(NewFieldName);
  if (Other && Other != F)
    throw EVLTException(30344, "Cannot rename field '%s'. Field '%s' already exists",
                        {FieldName, NewFieldName});
  F->SetName(NewFieldName);
  if (FIndexManager) FIndexManager->RenameField(FieldName, NewFieldName);
  if (FConstraintManager) {
    TVLTConstraintDefs& Defs = FConstraintManager->ConstraintDefs();
    for (int32_t I = 0; I < Defs.Count(); ++I) {
      TVLTConstraintDef& D = Defs[I];
      if (D.FConstraintType == ctNotNull || D.FConstraintType == ctCheck) {
        auto& N = static_cast<TVLTConstraintDefNotNull&>(D);
        if (SameText(N.FColumnName, FieldName)) N.FColumnName = F->FName;
      } else if (D.FConstraintType == ctPK || D.FConstraintType == ctUnique) {
        for (auto& C : static_cast<TVLTConstraintDefUnique&>(D).Columns)
          if (SameText(C.ColumnName, FieldName)) C.ColumnName = F->FName;
      }
    }
  }
}

void TVLTTableData::AddIndex(const TVLTIndexDef& IndexDef, TVLTTableCursor* Cursor) {
  TVLTTableDataLatch L(*this);
  if (!FIndexManager) VLTRaiseNilPointer(10381);
  // Building the index walks the table; the cursor keeps its place.
  std::optional<TSavedPosition> Saved;
  if (Cursor) Saved.emplace(*Cursor, FRecordManager ? FRecordManager->FRecordBufferSize : 0);
  const int32_t IndexID = FIndexManager->CreateIndex(Cursor, IndexDef);
  if (Saved) Saved->Restore(*Cursor);
  const bool Temporary = IndexDef.FTemporary || (Cursor && Cursor->FTemporary);
  if (Temporary || !FConstraintManager) return;
  try {
    const TVLTIndexDef* Listed = FIndexManager->IndexDefs().GetByObjectId(IndexID);
    if (Listed) FConstraintManager->AddConstraintFromIndex(*Listed);
  } catch (...) {
    // An index whose constraint cannot be made would leave a unique index unenforced by the
    // constraint check: it goes again.
    FIndexManager->DropIndex(Cursor ? Cursor->SessionID() : kSystemSessionID, IndexID);
    throw;
  }
}

void TVLTTableData::DeleteIndex(int32_t IndexID, TVLTTableCursor* Cursor) {
  TVLTTableDataLatch L(*this);
  if (!FIndexManager) VLTRaiseNilPointer(10382);
  const TVLTIndexDef* Def = FIndexManager->IndexDefs().GetByObjectId(IndexID);
  if (!Def) throw EVLTException(20018, "Index not found");
  const bool Temporary = Def->FTemporary || (Cursor && Cursor->FTemporary);
  if (!Temporary && FConstraintManager) FConstraintManager->DeleteConstraintForIndexID(IndexID);
  FIndexManager->DropIndex(Cursor ? Cursor->SessionID() : kSystemSessionID, IndexID);
}

void TVLTTableData::EmptyIndex(int32_t IndexID, TVLTSessionID SessionID) {
  TVLTTableDataLatch L(*this);
  if (FIndexManager) FIndexManager->EmptyIndex(SessionID, IndexID);
}

void TVLTTableData::DeleteAllIndexes(TVLTTableCursor* Cursor) {
  TVLTTableDataLatch L(*this);
  if (!FIndexManager) return;
  while (FIndexManager->IndexDefs().Count() > 0)
    DeleteIndex(FIndexManager->IndexDefs()[0].FObjectID, Cursor);
}

void TVLTTableData::EmptyAllIndexes(TVLTSessionID SessionID) {
  TVLTTableDataLatch L(*this);
  if (FIndexManager) FIndexManager->EmptyAllIndexes(SessionID);
}

void TVLTTableData::FindOrCreateIndex(TVLTTableCursor& Cursor,
                                      const std::vector<std::string>& FieldNamesList,
                                      std::string& IndexName, bool& IsCreated,
                                      const std::vector<std::string>& CaseSensitivityList,
                                      const std::vector<std::string>& AscDescList) {
  TVLTTableDataLatch L(*this);
  if (!FIndexManager) VLTRaiseNilPointer(10383);
  try {
    const int32_t ID = FIndexManager->FindOrCreateIndex(&Cursor, FieldNamesList,
                                                        CaseSensitivityList, AscDescList, IsCreated);
    const TVLTIndexDef* Def = FIndexManager->IndexDefs().GetByObjectId(ID);
    if (!Def) throw EVLTException(10324, "Cannot find index by ID = %d", {int64_t{ID}});
    IndexName = Def->FName;
    ApplyChanges(Cursor.SessionID(), Cursor.InTransaction());
  } catch (...) {
    CancelChanges(Cursor.SessionID(), Cursor.InTransaction());
    throw;
  }
}

bool TVLTTableData::IndexExists(TVLTTableCursor& Cursor,
                                const std::vector<std::string>& FieldNamesList,
                                const std::vector<std::string>& CaseSensitivityList,
                                const std::vector<std::string>& AscDescList) {
  TVLTTableDataLatch L(*this);
  return FIndexManager &&
         FIndexManager->IsIndexExists(Cursor.SessionID(), FieldNamesList, CaseSensitivityList,
                                      AscDescList);
}

bool TVLTTableData::IsUniqueConstraintFailed(TVLTSessionID SessionID, int32_t IndexID,
                                             const TVLTPageItemID&, bool ToInsert,
                                             const uint8_t* OldRecordBuffer,
                                             const uint8_t* NewRecordBuffer) {
  if (!FRecordManager || FRecordManager->FRecordCount == 0) return false;
  if (!FIndexManager) VLTRaiseNilPointer(30021);
  TVLTIndex& Index = FIndexManager->OpenIndex(IndexID);
  if (ToInsert) return !Index.CanInsertRecord(SessionID, NewRecordBuffer);
  if (!OldRecordBuffer) VLTRaiseNilPointer(30022);
  return !Index.CanUpdateRecord(SessionID, OldRecordBuffer, NewRecordBuffer);
}

int64_t TVLTTableData::LastAutoincValue(int32_t, TVLTSessionData*) { return 0; }

void TVLTTableData::Rollback(TVLTSessionID SessionID) {
  TVLTTableDataLatch L(*this);
  if (!FIndexManager) return;
  // The session's record changes are gone; temporary indexes built over them are stale.
  for (int32_t I = 0; I < FIndexManager->IndexDefs().Count(); ++I) {
    TVLTIndexDef& Def = FIndexManager->IndexDefs()[I];
    if (Def.FTemporary) Def.FNeedRebuild = true;
  }
  for (TVLTTableCursor* C : FCursorList)
    if (C->SessionID() == SessionID) {
      bool Changed = false;
      FIndexManager->SynchronizeTemporaryIndexes(C, Changed);
      break;
    }
}

void TVLTTableData::SynchronizeForSession(TVLTTableCursor& Cursor) {
  if (!FIndexManager) return;
  bool Changed = false;
  FIndexManager->SynchronizeTemporaryIndexes(&Cursor, Changed);
}

}  // namespace vlt
