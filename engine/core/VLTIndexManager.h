// The index manager base: a table's index definitions and its open indexes, including the
// temporary indexes that one session creates for itself.
//
// Invariants:
//   1. Every open index (FOpenIndexList) belongs to a definition of FIndexDefs with the same
//      object id; closing or dropping the definition closes the index.
//   2. A definition's FTableState counts the record changes made through this manager (+1 per
//      insertion, per update after the new record is stored, per deletion). A temporary index is
//      current iff its FTableState equals the record manager's FTableState.
//   3. Temporary indexes live in the temporary page manager and are never written to the
//      metadata stream.
// CheckInvariants verifies 1 and the metadata part of 3; 2 defines when a temporary index is
// current (SynchronizeTemporaryIndexes acts on it) rather than a state that could be wrong.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "engine/core/VLTPageManager.h"

#include "engine/core/VLTIndex.h"
#include "engine/core/VLTIndexDef.h"

namespace vlt {

class TVLTPageManager;
class TVLTStream;
class TVLTTableData;
class TVLTTableCursor;

using TVLTIndexFactory = std::function<std::unique_ptr<TVLTIndex>(const TVLTIndexSite&)>;

class TVLTBaseIndexManager {
 public:
  TVLTBaseIndexManager(TVLTTableData* TableData, TVLTPageManager* PageManager,
                       TVLTIndexFactory IndexFactory);
  virtual ~TVLTBaseIndexManager();
  TVLTBaseIndexManager(const TVLTBaseIndexManager&) = delete;
  TVLTBaseIndexManager& operator=(const TVLTBaseIndexManager&) = delete;

  virtual void LoadMetadata(TVLTStream& Stream);
  virtual void SaveMetadata(TVLTStream& Stream) const;
  // Replaces the list with copies of IndexDefs.
  virtual void CreateIndexDefs(const TVLTIndexDefs& IndexDefs);

  // Builds every index of the list.
  void CreateIndexesByIndexDefs(TVLTTableCursor* Cursor);
  // Adds a copy of IndexDef to the list and builds it; returns its object id. A failure removes
  // the definition again.
  int32_t CreateIndex(TVLTTableCursor* Cursor, const TVLTIndexDef& IndexDef);
  int32_t CreateTemporaryIndex(TVLTTableCursor* Cursor, const std::vector<std::string>& FieldNames,
                               const std::vector<std::string>& CaseSensitivityList,
                               const std::vector<std::string>& AscDescList);
  int32_t FindIndex(TVLTSessionID SessionID, const std::vector<std::string>& FieldNames,
                    const std::vector<std::string>& CaseSensitivityList,
                    const std::vector<std::string>& AscDescList) const;
  bool IsIndexExists(TVLTSessionID SessionID, const std::vector<std::string>& FieldNames,
                     const std::vector<std::string>& CaseSensitivityList,
                     const std::vector<std::string>& AscDescList) const {
    return FindIndex(SessionID, FieldNames, CaseSensitivityList, AscDescList) != -1;
  }
  // The existing index for the columns, or a new temporary one.
  int32_t FindOrCreateIndex(TVLTTableCursor* Cursor, const std::vector<std::string>& FieldNames,
                            const std::vector<std::string>& CaseSensitivityList,
                            const std::vector<std::string>& AscDescList, bool& IsCreated);

  // 20018 "Index not found" when IndexID is not in the list.
  TVLTIndex& OpenIndex(int32_t IndexID);
  void CloseIndex(int32_t IndexID);
  void DropIndex(TVLTSessionID SessionID, int32_t IndexID);
  void DropAllIndexes(TVLTSessionID SessionID);
  void DropTemporaryIndexes(TVLTSessionID SessionID);
  void EmptyIndex(TVLTSessionID SessionID, int32_t IndexID);
  void EmptyAllIndexes(TVLTSessionID SessionID);
  // The temporary page manager for temporary indexes (when there is one), the database's
  // otherwise.

  // Index navigation: reads the current record first; when it is gone, asks the index for the
  // record closest to the key values in the navigation buffer.
  void GetRecordBuffer(TVLTSessionID SessionID, TVLTNavigationInfo& NavigationInfo,
                       int32_t TableState, TVLTIndexPositionCache* Cache);
  // Every index inserts the cursor's current record. When an index fails, the entries made by
  // the indexes before it are deleted again before the error goes on.
  void InsertRecord(TVLTTableCursor& Cursor);
  // A failing index undoes this phase in the indexes before it (their old entries return before
  // storing; their new entries leave after storing) before the error goes on. Requires the
  // cursor's FEditRecordBuffer (20142).
  void UpdateRecord(TVLTTableCursor& Cursor, bool BeforeNewRecordIsStored);
  // Puts the old entries (from FEditRecordBuffer) back into every index whose key the update
  // changed: undoes a completed before-storing phase when storing fails.
  void RestoreOldEntries(TVLTTableCursor& Cursor);
  // Re-reads the current record and deletes it from every index; false when it cannot be read.
  bool DeleteRecord(TVLTTableCursor& Cursor);
  // Rebuilds every temporary index whose FTableState differs from the record manager's; IsChanged
  // tells whether one was rebuilt. Does nothing while already running.
  void SynchronizeTemporaryIndexes(TVLTTableCursor* Cursor, bool& IsChanged);
  // 30343 "Field '%s' not found", 30344 "Cannot rename field '%s'. Field '%s' already exists".
  void RenameField(const std::string& FieldName, const std::string& NewFieldName);

  TVLTIndexDefs& IndexDefs() const { return *FIndexDefs; }
  TVLTTableData* TableData() const { return FTableData; }
  TVLTPageManager* PageManager() const { return FPageManager; }
  TVLTPageManager* TemporaryPageManager() const { return FTemporaryPageManager.get(); }
  void SetTemporaryPageManager(std::unique_ptr<TVLTPageManager> PageManager);

  // Verifies the invariants above that a state can break; raises 20981 at the first violation.
  // A debug aid for tests and tools.
  void CheckInvariants() const;

 protected:
  TVLTIndex* FindOpenIndex(int32_t IndexID) const;
  TVLTIndexDef* IndexDefByID(int32_t IndexID) const;

  TVLTTableData* FTableData;
  std::unique_ptr<TVLTIndexDefs> FIndexDefs;
  std::vector<std::unique_ptr<TVLTIndex>> FOpenIndexList;
  TVLTPageManager* FPageManager;
  std::unique_ptr<TVLTPageManager> FTemporaryPageManager;
  bool FSynchronizingTemporaryIndexes = false;
  TVLTIndexFactory FIndexFactory;
  TVLTIndexSite FSite;  // what the open indexes work in
};

}  // namespace vlt
