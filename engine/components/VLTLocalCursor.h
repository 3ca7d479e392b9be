// TVLTLocalCursor: the in-process cursor. It works on the shared table data of the database data
// its engine session is connected to.
//
// Latches: open, close and the table-level operations hold the database data's latch; record
// operations hold the table data's latch. Both are released on every exit, also by error.
//
// Multi-user locking (sessions of a database file opened in multi-user mode; other tables are
// never locked and nothing is re-read before an edit):
//
//   OPERATION   TABLE LOCK (in / outside a transaction)   RECORD LOCK   HELD UNTIL
//   edit        ltXIRW / ltSIRW                           yes           post or cancel
//   post        ltXIRW / ltRW                             -             end of post
//   delete      ltXIRW / ltRW                             yes           end of delete
//   BLOB open   ltS                                       -             stream made
//
// Inside a transaction the locks stay until commit or rollback. The tries and delays are those
// of TLockWaits; tests shorten them.
#pragma once

#include "engine/components/VLTCursor.h"
#include "engine/components/VLTTableLockAccess.h"

namespace vlt {

class TVLTDatabaseData;
class TVLTTableLockAccess;

class TVLTLocalCursor : public TVLTCursor {
 public:
  struct TLockWaits {
    int32_t EditTableTries = 900, EditTableDelay = 100;  // lock manager's tries and delay
    int32_t RecordTries = 15, RecordDelayMS = 100;
    int32_t PostTries = 2250, PostSleepMS = 40;          // one try each, latch left meanwhile
    int32_t DeleteTries = 900, DeleteSleepMS = 100;
    int32_t BLOBTries = 2250, BLOBDelay = 40;
  };

  TVLTLocalCursor();
  // Closes the table without raising.
  ~TVLTLocalCursor() override;

  void CreateTable(const TVLTFieldDefs& FieldDefs, const TVLTIndexDefs& IndexDefs,
                   const TVLTConstraintDefs& ConstraintDefs) override;
  void DeleteTable() override;
  void EmptyTable() override;
  void RenameTable(const std::string& NewTableName) override;
  void InternalInitFieldDefs() override;
  void OpenTableByFieldDefs(const TVLTFieldDefs* FieldDefs, const TVLTIndexDefs* IndexDefs,
                            const TVLTConstraintDefs* ConstraintDefs) override;
  void CloseTable() override;
  void LockTableData() override;
  void UnlockTableData() override;
  bool LockTable(TVLTLockType LockType, int32_t TryCount, int32_t Delay,
                 bool AllowXIRWAfterSIRW) override;
  bool UnlockTable(TVLTLockType LockType, bool IgnoreIfNoLock) override;
  void RenameField(const std::string& FieldName, const std::string& NewFieldName) override;
  TVLTIndexDefs& GetIndexDefs() override;
  void AddIndex(const TVLTIndexDef& IndexDef) override;
  void DeleteIndex(const std::string& Name) override;
  void DeleteAllIndexes() override;
  std::string FindOrCreateIndex(const std::vector<std::string>& FieldNamesList,
                                const std::vector<std::string>& AscDescList,
                                const std::vector<std::string>& CaseSensitivityList,
                                bool& IsCreated) override;
  bool IndexExists(const std::vector<std::string>& FieldNamesList,
                   const std::vector<std::string>& AscDescList,
                   const std::vector<std::string>& CaseSensitivityList) override;
  void CopyFieldValue(int32_t SrcFieldNo, bool DirectAccess, int32_t DestFieldNo,
                      TVLTCursor& DestCursor) override;
  void InternalInitRecord(uint8_t* RecordBuffer, bool InsertMode) override;
  void FreeRecordBuffer(uint8_t*& Buffer) override;
  void RecycleRecordBuffer(uint8_t* Buffer) override;
  int64_t GetRecordCount() override;
  TVLTGetRecordResult GetRecordBuffer(TVLTGetRecordMode GetRecordMode) override;
  void SetRecNo(int64_t Value) override;
  int64_t GetRecNo() override;
  int CompareRecordsOrder(const TVLTPageItemID& RecordID1,
                          const TVLTPageItemID& RecordID2) override;
  void InternalFirst() override;
  void InternalLast() override;
  void InternalInsert() override {}
  void InternalEdit() override;
  void InternalCancel(bool ToInsert) override;
  void InternalPost(bool ToInsert) override;
  void InternalDelete() override;
  bool IsRecordLocked() override;
  void ApplyDistinct(const std::vector<std::string>& FieldNamesList,
                     const std::vector<std::string>& AscDescList,
                     const std::vector<std::string>& CaseSensitivityList) override;
  // Parses FilterText for this cursor; an empty text clears the filter. A text that does not
  // parse raises its error and leaves no filter.
  void ActivateFilters(const std::string& FilterText, bool CaseInsensitive,
                       bool PartialKey) override;
  void DeactivateFilters() override;
  bool Locate(const std::string& KeyFields, const std::vector<TVLTVariant>& KeyValues,
              bool CaseInsensitive, bool PartialKey) override;
  bool FindKey(TVLTSearchCondition SearchCondition) override;
  bool IsAnyRecordMatchCondition(const std::string& FieldName, TVLTMatchOperator Operator,
                                 const TVLTVariant& Value) override;
  TVLTLocalBLOBStream* InternalCreateBlobStream(bool ToInsert, bool ToEdit, int32_t FieldNo,
                                                TVLTBLOBOpenMode OpenMode,
                                                bool CanDoGetRecordBuffer) override;
  void InternalCloseBLOB(int32_t FieldNo) override;
  void ClearBLOBStreams(bool WriteOnly) override;
  int64_t LastAutoincValue(int32_t FieldNo) override;
  void BeginBatchUpdate() override;
  void EndBatchUpdate() override;
  void CancelBatchUpdate() override;
  bool CheckConstraints(bool ToInsert) override;
  // Reads the BLOB text through the table data with RecordBuffer as the current record.
  void ReadExprBlobText(int32_t FieldNo, const uint8_t* RecordBuffer, TVLTVariant& Value) override;

  // Opens on a given table data (SQL layer, table copies).
  void OpenTable(TVLTTableData* TableData);

  TVLTTableData* TableData() const { return FTableData; }
  TVLTDatabaseData* DatabaseData() const { return FDatabaseData; }
  TLockWaits FLockWaits;

 protected:
  TVLTBaseFieldManager* FieldManager() const override;

 private:
  // FDatabaseData from the engine session (10613 when the session is not connected).
  TVLTDatabaseData& SessionDatabaseData();
  TVLTTableData& CheckedTableData(int32_t Code) const;
  // The table's locks when the table must be locked (multi-user, database file); else nullptr.
  TVLTTableLockAccess* MultiUserLocks();
  // The table's locks whatever the mode; nullptr for tables that are never locked.
  TVLTTableLockAccess* LockAccess();
  void CloseTableNoLatch();
  void AfterOpen();
  void RefreshDefs();
  // Re-reads the record at CurrentRecordID into the current buffer; false when it is gone. The
  // position flags are kept.
  bool ReReadCurrent();
  // 30345 "Field '%s' not found" unless Name is a visible field.
  void CheckVisibleField(const std::string& Name) const;
  // Table field numbers of names in the visible fields (names map to the table's names).
  std::vector<std::string> MapFieldNames(const std::vector<std::string>& Names) const;
  TVLTLocalBLOBStream* CreateBlobStream(int32_t FieldNo, TVLTBLOBOpenMode OpenMode);
  // Ends one stream: Store writes the data of a stream opened for writing into the current
  // record buffer; the user-level stream is destroyed; the stream leaves the list.
  void CloseStream(TVLTLocalBLOBStream* Stream, bool Store);
  void CloseWriteStreams(bool Store);
  void PostBody(bool ToInsert);
  void DeleteBody();

  bool FDiscardingBLOBs = false;
  std::unique_ptr<TVLTTableLockAccess> FDiskLocks;  // over FDiskLocksFor
  TVLTTableData* FDiskLocksFor = nullptr;  // cancel: streams close without storing
  TVLTTableData* FTableData = nullptr;      // shared, owned by the database data
  TVLTDatabaseData* FDatabaseData = nullptr;  // owned by the registry
};

}  // namespace vlt
