#include "engine/core/VLTIndexManager.h"

#include <algorithm>
#include <cstdio>
#include <random>

#include "engine/base/VLTErrorCodes.h"
#include "engine/base/VLTExcept.h"
#include "engine/base/VLTGuid.h"
#include "engine/base/VLTMemory.h"
#include "engine/base/VLTScopeGuard.h"
#include "engine/core/VLTDatabaseData.h"
#include "engine/core/VLTTableData.h"
#include "engine/protect/VLTMemoryStream.h"

namespace vlt {

TVLTBaseIndexManager::TVLTBaseIndexManager(TVLTTableData* TableData, TVLTPageManager* PageManager,
                                           TVLTIndexFactory IndexFactory)
    : FTableData(TableData),
      FIndexDefs(std::make_unique<TVLTIndexDefs>()),
      FPageManager(PageManager),
      FIndexFactory(std::move(IndexFactory)),
      FSite{TableData, PageManager, &FTemporaryPageManager} {}

TVLTBaseIndexManager::~TVLTBaseIndexManager() {
  FOpenIndexList.clear();  // indexes first: they may use the temporary page manager
}

void TVLTBaseIndexManager::LoadMetadata(TVLTStream& Stream) {
  FOpenIndexList.clear();
  FIndexDefs->LoadFromStream(Stream);
}

void TVLTBaseIndexManager::SaveMetadata(TVLTStream& Stream) const { FIndexDefs->SaveToStream(Stream); }

void TVLTBaseIndexManager::CreateIndexDefs(const TVLTIndexDefs& IndexDefs) {
  FOpenIndexList.clear();
  FIndexDefs->Assign(IndexDefs);
}

void TVLTBaseIndexManager::SetTemporaryPageManager(std::unique_ptr<TVLTPageManager> PageManager) {
  FTemporaryPageManager = std::move(PageManager);
}

void TVLTBaseIndexManager::CheckInvariants() const {
  auto Fail = [](const std::string& What) {
    throw EVLTException(kErrInvariantCheck, "Index manager check failed: %s", {What});
  };
  // 1: every open index has its definition, and one definition has at most one open index.
  for (size_t I = 0; I < FOpenIndexList.size(); ++I) {
    const TVLTIndexDef* Own = FOpenIndexList[I]->IndexDef();
    if (!Own) Fail("open index without a definition");
    const TVLTIndexDef* Def = IndexDefByID(Own->FObjectID);
    if (!Def)
      Fail("open index " + std::to_string(Own->FObjectID) + " has no definition in the list");
    if (Def->FTemporary != Own->FTemporary)
      Fail("open index " + std::to_string(Own->FObjectID) + " differs from its definition");
    for (size_t J = I + 1; J < FOpenIndexList.size(); ++J) {
      const TVLTIndexDef* Other = FOpenIndexList[J]->IndexDef();
      if (Other && Other->FObjectID == Own->FObjectID)
        Fail("index " + std::to_string(Own->FObjectID) + " is open twice");
    }
  }
  // 3: the metadata stream holds exactly the lasting definitions.
  int32_t Lasting = 0;
  for (int32_t I = 0; I < FIndexDefs->Count(); ++I)
    if (!(*FIndexDefs)[I].FTemporary) ++Lasting;
  TVLTMemoryStream Stream;
  FIndexDefs->SaveToStream(Stream);
  Stream.Seek(0, soBeginning);
  TVLTIndexDefs Stored;
  Stored.LoadFromStream(Stream);
  if (Stored.Count() != Lasting) Fail("the metadata stream holds temporary indexes");
}

TVLTIndex* TVLTBaseIndexManager::FindOpenIndex(int32_t IndexID) const {
  for (const auto& I : FOpenIndexList)
    if (I->IndexDef() && I->IndexDef()->FObjectID == IndexID) return I.get();
  return nullptr;
}

TVLTIndexDef* TVLTBaseIndexManager::IndexDefByID(int32_t IndexID) const {
  return FIndexDefs->GetByObjectId(IndexID);
}

void TVLTBaseIndexManager::CreateIndexesByIndexDefs(TVLTTableCursor* Cursor) {
  FOpenIndexList.clear();
  for (int32_t I = 0; I < FIndexDefs->Count(); ++I) {
    TVLTIndexDef& Def = (*FIndexDefs)[I];
    if (!FIndexFactory) VLTRaiseNilPointer(20141);
    std::unique_ptr<TVLTIndex> Index = FIndexFactory(FSite);
    Index->CreateIndex(Cursor, Def);
    FOpenIndexList.push_back(std::move(Index));
  }
}

int32_t TVLTBaseIndexManager::CreateIndex(TVLTTableCursor* Cursor, const TVLTIndexDef& IndexDef) {
  if (!FIndexFactory) VLTRaiseNilPointer(20141);
  auto Copy = std::make_unique<TVLTIndexDef>();
  Copy->Assign(IndexDef);
  if (Copy->FObjectID == kNoObjectID && FTableData && FTableData->DatabaseData())
    Copy->FObjectID = FTableData->DatabaseData()->GetNewObjectId();
  TVLTIndexDef& Def = static_cast<TVLTIndexDef&>(FIndexDefs->Add(std::move(Copy)));
  try {
    std::unique_ptr<TVLTIndex> Index = FIndexFactory(FSite);
    Index->CreateIndex(Cursor, Def);
    FOpenIndexList.push_back(std::move(Index));
  } catch (...) {
    FIndexDefs->Delete(FIndexDefs->Count() - 1);
    throw;
  }
  return Def.FObjectID;
}

int32_t TVLTBaseIndexManager::CreateTemporaryIndex(TVLTTableCursor* Cursor,
                                                   const std::vector<std::string>& FieldNames,
                                                   const std::vector<std::string>& CaseSensitivityList,
                                                   const std::vector<std::string>& AscDescList) {
  TVLTIndexDef Def;
  std::string Name;
  do Name = "TEMPORARY_INDEX_" + VLTNewGuidText();
  while (FIndexDefs->GetIndexDefByName(Name) != nullptr);
  Def.SetName(Name);
  Def.FTemporary = true;
  Def.FIndexType = itBTree;
  Def.FUnique = false;
  Def.FPrimary = false;
  Def.AssignByNames(FieldNames, AscDescList, CaseSensitivityList);
  Def.FSessionID = Cursor ? Cursor->SessionID() : kSystemSessionID;
  TVLTBaseRecordManager* RM = FTableData ? FTableData->RecordManager() : nullptr;
  Def.FTableState = RM ? RM->FTableState : 0;
  return CreateIndex(Cursor, Def);
}

int32_t TVLTBaseIndexManager::FindIndex(TVLTSessionID SessionID,
                                        const std::vector<std::string>& FieldNames,
                                        const std::vector<std::string>& CaseSensitivityList,
                                        const std::vector<std::string>& AscDescList) const {
  const TVLTFieldDefs* Fields =
      FTableData && FTableData->FieldManager() ? &FTableData->FieldManager()->FieldDefs() : nullptr;
  return FIndexDefs->FindIndex(&FieldNames, &AscDescList, Fields, SessionID, &CaseSensitivityList);
}

int32_t TVLTBaseIndexManager::FindOrCreateIndex(TVLTTableCursor* Cursor,
                                                const std::vector<std::string>& FieldNames,
                                                const std::vector<std::string>& CaseSensitivityList,
                                                const std::vector<std::string>& AscDescList,
                                                bool& IsCreated) {
  const TVLTSessionID SessionID = Cursor ? Cursor->SessionID() : kSystemSessionID;
  IsCreated = false;
  int32_t ID = FindIndex(SessionID, FieldNames, CaseSensitivityList, AscDescList);
  if (ID != -1) return ID;
  ID = CreateTemporaryIndex(Cursor, FieldNames, CaseSensitivityList, AscDescList);
  IsCreated = true;
  return ID;
}

TVLTIndex& TVLTBaseIndexManager::OpenIndex(int32_t IndexID) {
  if (TVLTIndex* Open = FindOpenIndex(IndexID)) return *Open;
  TVLTIndexDef* Def = IndexDefByID(IndexID);
  if (!Def) throw EVLTException(20018, "Index not found");
  if (!FIndexFactory) VLTRaiseNilPointer(20141);
  std::unique_ptr<TVLTIndex> Index = FIndexFactory(FSite);
  Index->OpenIndex(*Def);
  FOpenIndexList.push_back(std::move(Index));
  return *FOpenIndexList.back();
}

void TVLTBaseIndexManager::CloseIndex(int32_t IndexID) {
  std::erase_if(FOpenIndexList, [IndexID](const auto& I) {
    return I->IndexDef() && I->IndexDef()->FObjectID == IndexID;
  });
}

void TVLTBaseIndexManager::DropIndex(TVLTSessionID SessionID, int32_t IndexID) {
  OpenIndex(IndexID).DropIndex(SessionID);
  CloseIndex(IndexID);
  const int32_t No = FIndexDefs->GetDefNumberByObjectId(IndexID);
  if (No >= 0) FIndexDefs->Delete(No);
}

void TVLTBaseIndexManager::DropAllIndexes(TVLTSessionID SessionID) {
  while (FIndexDefs->Count() > 0) DropIndex(SessionID, (*FIndexDefs)[0].FObjectID);
}

void TVLTBaseIndexManager::DropTemporaryIndexes(TVLTSessionID SessionID) {
  for (int32_t I = FIndexDefs->Count() - 1; I >= 0; --I) {
    const TVLTIndexDef& Def = (*FIndexDefs)[I];
    if (Def.FTemporary && Def.FSessionID == SessionID) DropIndex(SessionID, Def.FObjectID);
  }
}

void TVLTBaseIndexManager::EmptyIndex(TVLTSessionID SessionID, int32_t IndexID) {
  OpenIndex(IndexID).EmptyIndex(SessionID);
}

void TVLTBaseIndexManager::EmptyAllIndexes(TVLTSessionID SessionID) {
  for (int32_t I = 0; I < FIndexDefs->Count(); ++I) EmptyIndex(SessionID, (*FIndexDefs)[I].FObjectID);
}

void TVLTBaseIndexManager::GetRecordBuffer(TVLTSessionID SessionID,
                                           TVLTNavigationInfo& NavigationInfo, int32_t TableState,
                                           TVLTIndexPositionCache* Cache) {
  TVLTIndex& Index = OpenIndex(NavigationInfo.IndexID);
  if (NavigationInfo.FirstPosition || NavigationInfo.LastPosition) {
    Index.GetRecordBuffer(SessionID, NavigationInfo, TableState, Cache);
    return;
  }
  // Is the current record still there? Asked without a buffer: nothing is copied or decoded,
  // and the navigation buffer keeps the old key values that the closest-record search needs.
  TVLTBaseRecordManager* RM = FTableData->RecordManager();
  if (!RM) VLTRaiseNilPointer(10380);
  TVLTNavigationInfo Probe;
  Probe.GetRecordMode = grmCurrent;
  Probe.RecordID = NavigationInfo.RecordID;
  Probe.RecordBuffer = nullptr;
  RM->GetRecordBuffer(SessionID, Probe);
  if (Probe.GetRecordResult == grrOK)
    Index.GetRecordBuffer(SessionID, NavigationInfo, TableState, Cache);
  else
    Index.GetClosestRecordBuffer(SessionID, NavigationInfo, TableState, Cache);
}

void TVLTBaseIndexManager::InsertRecord(TVLTTableCursor& Cursor) {
  const int32_t Count = FIndexDefs->Count();
  int32_t Done = 0;
  try {
    for (; Done < Count; ++Done) {
      TVLTIndexDef& Def = (*FIndexDefs)[Done];
      TVLTIndex& Index = OpenIndex(Def.FObjectID);
      Index.InsertRecord(Cursor);
      ++Def.FTableState;
      if (Index.IndexDef() && Index.IndexDef()->FRootPageNo != Def.FRootPageNo)
        Def.FRootPageNo = Index.IndexDef()->FRootPageNo;
    }
  } catch (...) {
    // Take the entry out of the indexes that already hold it, so that no index names a record
    // that the caller is about to remove again.
    for (int32_t I = 0; I < Done; ++I) {
      try {
        OpenIndex((*FIndexDefs)[I].FObjectID).DeleteRecord(Cursor);
      } catch (...) {
        (*FIndexDefs)[I].FNeedRebuild = true;
      }
    }
    throw;
  }
}

void TVLTBaseIndexManager::UpdateRecord(TVLTTableCursor& Cursor, bool BeforeNewRecordIsStored) {
  if (FIndexDefs->Count() > 0 && !Cursor.FEditRecordBuffer) VLTRaiseNilPointer(20142);
  const int32_t Count = FIndexDefs->Count();
  int32_t Done = 0;
  try {
    for (; Done < Count; ++Done) {
      TVLTIndexDef& Def = (*FIndexDefs)[Done];
      TVLTIndex& Index = OpenIndex(Def.FObjectID);
      Index.UpdateRecord(Cursor, BeforeNewRecordIsStored);
      if (!BeforeNewRecordIsStored) {
        ++Def.FTableState;
        if (Index.IndexDef() && Index.IndexDef()->FRootPageNo != Def.FRootPageNo)
          Def.FRootPageNo = Index.IndexDef()->FRootPageNo;
      }
    }
  } catch (...) {
    // Undo this phase in the indexes done so far: before storing, their old entries go back;
    // after storing, their new entries go out again (the caller then restores the old ones).
    for (int32_t I = 0; I < Done; ++I) {
      TVLTIndex& Index = OpenIndex((*FIndexDefs)[I].FObjectID);
      try {
        if (Index.CompareRecordBuffersByIndex(Cursor.FEditRecordBuffer, Cursor.FCurrentRecordBuffer,
                                              Index.IndexDef()->ColumnCount()) == 0)
          continue;  // the index did not change
        if (BeforeNewRecordIsStored) {
          TVLTRestore KeepCurrent(Cursor.FCurrentRecordBuffer);
          Cursor.FCurrentRecordBuffer = Cursor.FEditRecordBuffer;
          Index.InsertRecord(Cursor);
        } else {
          Index.DeleteRecord(Cursor);
        }
      } catch (...) {
        (*FIndexDefs)[I].FNeedRebuild = true;
      }
    }
    throw;
  }
}

void TVLTBaseIndexManager::RestoreOldEntries(TVLTTableCursor& Cursor) {
  for (int32_t I = 0; I < FIndexDefs->Count(); ++I) {
    TVLTIndex& Index = OpenIndex((*FIndexDefs)[I].FObjectID);
    try {
      if (Index.CompareRecordBuffersByIndex(Cursor.FEditRecordBuffer, Cursor.FCurrentRecordBuffer,
                                            Index.IndexDef()->ColumnCount()) == 0)
        continue;
      TVLTRestore KeepCurrent(Cursor.FCurrentRecordBuffer);
      Cursor.FCurrentRecordBuffer = Cursor.FEditRecordBuffer;
      Index.InsertRecord(Cursor);
    } catch (...) {
      (*FIndexDefs)[I].FNeedRebuild = true;
    }
  }
}

bool TVLTBaseIndexManager::DeleteRecord(TVLTTableCursor& Cursor) {
  TVLTBaseRecordManager* RM = FTableData->RecordManager();
  if (!RM) VLTRaiseNilPointer(20137);
  if (!Cursor.FCurrentRecordBuffer) VLTRaiseNilPointer(10384);
  // The entries to delete are made from the stored record, not from what the buffer holds now.
  TVLTNavigationInfo Info;
  Info.GetRecordMode = grmCurrent;
  Info.RecordID = Cursor.CurrentRecordID;
  Info.RecordBuffer = Cursor.FCurrentRecordBuffer;
  RM->GetRecordBuffer(Cursor.SessionID(), Info);
  if (Info.GetRecordResult != grrOK) return false;
  const int32_t Count = FIndexDefs->Count();
  int32_t Done = 0;
  try {
    for (; Done < Count; ++Done) {
      TVLTIndexDef& Def = (*FIndexDefs)[Done];
      OpenIndex(Def.FObjectID).DeleteRecord(Cursor);
      ++Def.FTableState;
    }
  } catch (...) {
    for (int32_t I = 0; I < Done; ++I) {
      try {
        OpenIndex((*FIndexDefs)[I].FObjectID).InsertRecord(Cursor);
      } catch (...) {
        (*FIndexDefs)[I].FNeedRebuild = true;
      }
    }
    throw;
  }
  return true;
}

void TVLTBaseIndexManager::SynchronizeTemporaryIndexes(TVLTTableCursor* Cursor, bool& IsChanged) {
  IsChanged = false;
  if (FSynchronizingTemporaryIndexes) return;
  TVLTBaseRecordManager* RM = FTableData->RecordManager();
  if (!RM) return;
  TVLTRestore KeepSynchronizing(FSynchronizingTemporaryIndexes);  // false here
  FSynchronizingTemporaryIndexes = true;
  for (int32_t I = 0; I < FIndexDefs->Count(); ++I) {
    TVLTIndexDef& Def = (*FIndexDefs)[I];
    if (!Def.FTemporary) continue;
    if (Def.FTableState == RM->FTableState && !Def.FNeedRebuild) continue;
    TVLTIndex& Index = OpenIndex(Def.FObjectID);
    Index.RebuildTemporaryIndex(Cursor);
    Def.FTableState = RM->FTableState;
    Def.FNeedRebuild = false;
    if (Index.IndexDef()) Def.FRootPageNo = Index.IndexDef()->FRootPageNo;
    IsChanged = true;
  }
}

void TVLTBaseIndexManager::RenameField(const std::string& FieldName, const std::string& NewFieldName) {
  for (int32_t I = 0; I < FIndexDefs->Count(); ++I)
    for (TVLTIndexColumn& C : (*FIndexDefs)[I].FIndexColumns)
      if (SameText(C.FFieldName, FieldName)) C.FFieldName = NewFieldName;
  // Open indexes hold copies of the old definitions; they reopen from the renamed ones.
  FOpenIndexList.clear();
}

}  // namespace vlt
