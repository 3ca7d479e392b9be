// TVLTTable: the dataset bound to one table of one database component. It adds what is
// table-specific: creating, deleting, emptying and renaming the table from component-level
// definitions; choosing the active index by name or by field list; key searches and key ranges
// on the active index; index maintenance (VLTTable.cpp); the engine definitions
// (VLTTableEngineDefs.cpp); table copying (VLTTableCopy.cpp); import, export, restructuring and
// batch moves (VLTTableTransfer.cpp); SQL export (VLTTableSqlExport.cpp).
//
// Table-level operations (create, delete, empty, rename, add or delete an index) run on a
// short-lived cursor opened exclusively, holding the database open for their duration.
//
// Key buffers (cursor key-buffer layout, one each): lookup, range start, range end, applied
// range start, applied range end, saved copy. The cursor's range points at the two applied
// buffers, which live as long as the dataset is open.
//
// Master-detail: with MasterSource (the master dataset) and MasterFields (master field names
// separated by ";") set, the table shows only the records whose leading index fields equal the
// master's current values, position by position: the first master field gives the first index
// field, and so on. The range is re-applied whenever the master opens, closes, moves to
// another record, posts, cancels, deletes or refreshes, and whenever this table opens or
// changes its index; a closed master, or one without a current record, shows no detail
// records at all. A new detail record starts with the master's values in those fields. The
// range uses the same range buffers as SetRange, so a user range is replaced by the next master
// change. Errors (raised when the link is applied): "No index currently active" without an
// index, "Field index out of range" when MasterFields names more fields than the index has,
// "Cannot access index field '%s'" when that index column has no field object, and the
// master's "Field '%s' not found" for an unknown master field.
#pragma once

#include <array>
#include <string>
#include <vector>

#include "engine/components/VLTDataSet.h"
#include "engine/components/VLTTableAdvDefs.h"

namespace vlt {

class TVLTStream;

// How BatchMove treats the records of the source (records are matched on the columns of the
// index named in the call; the primary index when none is named):
//   bmtAppend       append every source record
//   bmtAppendUpdate update the matching record, append when there is none
//   bmtCopy         re-create this table with the source's fields, then append every record
//   bmtDelete       delete the matching record
//   bmtUpdate       update the matching record, skip the source record when there is none
//   bmtSynchronize  as bmtAppendUpdate, then delete every record that no source record matched
enum TVLTBatchMoveType : uint8_t {
  bmtAppend,
  bmtAppendUpdate,
  bmtCopy,
  bmtDelete,
  bmtUpdate,
  bmtSynchronize
};

// What ExportToSQL writes.
struct TVLTExportToSqlOptions {
  bool Structure = true;            // CREATE TABLE and CREATE INDEX statements
  bool AddDropTable = false;        // a DROP TABLE statement before CREATE TABLE
  bool BlobSettings = true;         // BLOB block size and compression of BLOB columns
  bool Data = true;                 // one INSERT INTO statement per record
  bool FieldNamesInInserts = true;  // INSERT INTO t (a, b) VALUES ... instead of VALUES only
};

class TVLTTable;

// The link of a detail table to its master dataset (see above).
class TVLTMasterDataLink : public TVLTDataLink {
 public:
  explicit TVLTMasterDataLink(TVLTTable& Detail) : FDetail(Detail) {}
  std::string FFieldNames;  // master field names separated by ";"

 protected:
  void ActiveChanged() override;
  void RecordChanged() override;

 private:
  TVLTTable& FDetail;
};

class TVLTTable : public TVLTDataSet {
 public:
  using TCopyProgressEvent = std::function<void(TVLTTable&, int32_t PercentDone, bool& Continue)>;
  using TProgressEvent = TCopyProgressEvent;

  TVLTTable();
  ~TVLTTable() override;

  const std::string& TableName() const { return FTableName; }
  void SetTableName(const std::string& Value);
  const std::string& IndexName() const;
  void SetIndexName(const std::string& Value);
  const std::string& IndexFieldNames() const;
  void SetIndexFieldNames(const std::string& Value);
  bool Exclusive() const { return FExclusive; }
  void SetExclusive(bool Value);

  std::vector<TVLTComponentFieldDef> FieldDefs;
  std::vector<TVLTComponentIndexDef> IndexDefs;
  TVLTAdvFieldDefs& AdvFieldDefs() { return FAdvFieldDefs; }
  TVLTAdvIndexDefs& AdvIndexDefs() { return FAdvIndexDefs; }
  // The extended definitions as last read from the table (input of copying).
  TVLTAdvFieldDefs& RestructureFieldDefs() { return FRestructureFieldDefs; }
  TVLTAdvIndexDefs& RestructureIndexDefs() { return FRestructureIndexDefs; }

  void CreateTable();
  void DeleteTable();
  void EmptyTable();
  void RenameTable(const std::string& NewTableName);
  // False when the database name is empty, the file is missing or anything fails.
  bool Exists();
  void AddIndex(const std::string& Name, const std::string& Fields, uint8_t Options,
                const std::string& DescFields = {}, const std::string& CaseInsFields = {});
  void DeleteIndex(const std::string& Name);
  void DeleteAllIndexes();
  // On a closed table: opens it exclusively for the rename (30343 unknown field, 30344 name
  // taken).
  void RenameField(const std::string& FieldName, const std::string& NewFieldName);
  // On an open table: one record per distinct value of the fields, through an index on them
  // (found or created); that index becomes IndexName. AscDescList entries are "ASC" or "DESC",
  // CaseSensitivityList entries "CASE" or "NO_CASE"; missing entries are empty (no requirement
  // when an index is looked for, ascending and case-sensitive when one is created).
  void ApplyDistinct(const std::vector<std::string>& FieldNamesList,
                     const std::vector<std::string>& AscDescList,
                     const std::vector<std::string>& CaseSensitivityList);
  std::string FindOrCreateIndex(const std::vector<std::string>& FieldNamesList,
                                const std::vector<std::string>& AscDescList,
                                const std::vector<std::string>& CaseSensitivityList,
                                bool& IsCreated);
  bool IndexExists(const std::vector<std::string>& FieldNamesList,
                   const std::vector<std::string>& AscDescList,
                   const std::vector<std::string>& CaseSensitivityList);

  // Keys and ranges on the active index.
  void SetKey();
  void EditKey();
  bool GotoKey();
  void GotoNearest();
  bool FindKey(const std::vector<TVLTVariant>& KeyValues);
  void FindNearest(const std::vector<TVLTVariant>& KeyValues);
  bool KeyExclusive() const;
  void SetKeyExclusive(bool Value);
  int32_t KeyFieldCount() const;
  void SetKeyFieldCount(int32_t Value);
  void SetRangeStart();
  void SetRangeEnd();
  void EditRangeStart();
  void EditRangeEnd();
  void ApplyRange();
  void CancelRange();
  void SetRange(const std::vector<TVLTVariant>& StartValues, const std::vector<TVLTVariant>& EndValues);
  int32_t IndexFieldCount() const { return static_cast<int32_t>(FIndexFieldMap.size()); }
  // "Field index out of range".
  TVLTField& IndexFields(int32_t I) const;

  // Master-detail link. A master that is this table, or whose own masters lead back to it,
  // raises "Circular datalinks are not allowed" (the link stays as it was). Removing the master
  // or the field names from an open table cancels the range.
  TVLTDataSet* MasterSource() const { return FMasterLink.DataSet(); }
  void SetMasterSource(TVLTDataSet* Value);
  const std::string& MasterFields() const { return FMasterLink.FFieldNames; }
  void SetMasterFields(const std::string& Value);
  TVLTDataSet* GetMasterDataSet() const override { return FMasterLink.DataSet(); }

  int64_t LastAutoincValue(const std::string& FieldName);
  bool IsRecordLocked();

  // ---- copying (VLTTableCopy.cpp) ----
  // Copies this table with its records into DestDatabase under NewTableName (used by database
  // rebuilding). Problems go to Log; without IgnoreErrors they are raised. False when the
  // progress handler stopped the copy.
  bool CopyTable(TVLTDatabase& DestDatabase, const std::string& NewTableName, std::string& Log,
                 bool& Continue, bool IgnoreErrors, bool OverwriteExistingTable, bool CopyIndexes,
                 int32_t MinProgress, int32_t MaxProgress);
  // The same into the database file DestDatabaseFileName (opened with DestDatabasePassword
  // for the copy; the file's own cipher and page size apply). The in-memory database "MEMORY"
  // is not available in this build (30462).
  bool CopyTable(const std::string& NewTableName, std::string& Log, bool& Continue,
                 const std::string& DestDatabaseFileName, const std::string& DestDatabasePassword,
                 bool IgnoreErrors, bool OverwriteExistingTable, bool CopyIndexes,
                 int32_t MinProgress, int32_t MaxProgress);
  // With indexes, progress 0 to 100, neither overwriting nor ignoring errors.
  bool CopyTable(const std::string& NewTableName, const std::string& DestDatabaseFileName,
                 const std::string& DestDatabasePassword);

  // ---- transfers (VLTTableTransfer.cpp; the SQL text: VLTTableSqlExport.cpp) ----
  // Re-creates this (closed) table from the source dataset's fields (a table source gives its
  // extended definitions and, in the first form, its indexes) and appends the source's records.
  // An existing table of this name is replaced only when the import completes: until then it
  // waits under an "OLD_" name and gets its name back on failure or stop. The first form raises
  // the first record error; the second logs record errors and goes on, and skips expression
  // indexes with "Cannot import index '%s'. Index type is not supported, index skipped". False
  // when stopped by the progress handler (nothing changed then).
  bool ImportTable(TVLTDataSet& SourceTable);
  bool ImportTable(TVLTDataSet& SourceTable, std::string& Log,
                   const std::vector<TVLTComponentIndexDef>& aIndexDefs);
  // Appends this table's records to DestinationTable, which is first (re-)created from this
  // table's definitions when CreateDestinationTable is set (all or nothing, as ImportTable);
  // otherwise fields are matched by name and the records go into the existing table. Error
  // handling as ImportTable.
  bool ExportTable(TVLTTable& DestinationTable, bool CreateDestinationTable);
  bool ExportTable(TVLTTable& DestinationTable, bool CreateDestinationTable, std::string& Log);
  // Rebuilds the table with RestructureFieldDefs and RestructureIndexDefs: the table is renamed
  // to "OLD_" + its name, the new table is created and filled, then the old one is deleted.
  // Fields are matched by object id (so a renamed field keeps its values), else by name. Any
  // failure (a value that does not convert, a record the new constraints refuse, a stop by the
  // progress handler) removes the new table and gives the old one its name back: no data are
  // lost. The first form raises; the second logs the reason and returns false.
  bool RestructureTable();
  bool RestructureTable(std::string& Log);
  // Moves the source's records into this table (see TVLTBatchMoveType); the number of records
  // appended, updated or deleted.
  int64_t BatchMove(TVLTDataSet& Source, TVLTBatchMoveType MoveType,
                    const std::string& IndexName = {});
  // The table as SQL text (ExportToSqlOptions). Text values are written as stored (8-bit).
  std::string ExportToSQL();
  void ExportToSQL(TVLTStream& Stream);
  void ExportToSQL(const std::string& FileName);
  TVLTExportToSqlOptions& ExportToSqlOptions() { return FExportToSqlOptions; }

  bool FDisableTempFiles = false;
  bool FIsRepairing = false;
  TDataSetNotifyEvent BeforeCopy, AfterCopy, BeforeImport, AfterImport, BeforeExport,
      AfterExport, BeforeRestructure, AfterRestructure, BeforeBatchMove, AfterBatchMove;
  TCopyProgressEvent OnCopyProgress;
  TProgressEvent OnImportProgress, OnExportProgress, OnRestructureProgress, OnBatchMoveProgress;

 protected:
  std::unique_ptr<TVLTCursor> CreateHandle() override;
  void AfterHandleOpened() override;
  void BeforeHandleClosed() override;
  void CheckSetKeyField(const TVLTField& Field) override;
  void DoOnNewRecord() override;

 private:
  enum TKeyIndex { kiLookup, kiRangeStart, kiRangeEnd, kiAppliedStart, kiAppliedEnd, kiSave };

  void CheckTableName() const;
  // After a key search found a record: the window is re-read around it (under a shared table
  // lock when one can be had) and the scroll events fire.
  void ShowFoundRecord();
  // Runs Operation on a closed cursor of the table, opened exclusively on the database's engine
  // session; the database is held open for the duration.
  void WithTableCursor(const std::function<void(TVLTCursor&)>& Operation);
  void CheckNoTransaction(int32_t Code, const char* Operation);
  // Index name that a field list selects ("No index for fields '%s'").
  std::string ResolveIndexName(TVLTCursor& Cursor) const;
  void ApplyIndex();
  // ApplyIndex after IndexName or IndexFieldNames changed; a linked table whose link fails on
  // the new index goes back to the old one before the error is raised.
  void ChangeIndex(const std::string& OldName, bool OldFieldsIndex);
  // Key field map from the cursor's active index.
  void RecomputeIndexGeometry();
  // After an index deletion on the open table.
  void AfterIndexesDeleted();
  // Opens this table for an operation; false when it was open already.
  bool OpenForOperation();
  // The copy behind both public forms (the destination database is open).
  bool CopyTableInto(TVLTDatabase& DestDatabase, const std::string& NewTableName,
                     std::string& Log, bool& Continue, bool IgnoreErrors,
                     bool OverwriteExistingTable, bool CopyIndexes, int32_t MinProgress,
                     int32_t MaxProgress);
  bool DoImport(TVLTDataSet& Source, std::string* Log,
                const std::vector<TVLTComponentIndexDef>* IndexDefs);
  bool DoExport(TVLTTable& Dest, bool CreateDest, std::string* Log);
  bool DoRestructure(std::string* Log);
  std::string SqlText();
  void ReadDefinitionsBack();
  void BuildEngineDefinitions(TVLTFieldDefs& Fields, TVLTIndexDefs& Indexes,
                              TVLTConstraintDefs& Constraints);
  void SetKeyBuffer(TKeyIndex Which, bool Clear);
  void AssignKeyValues(TKeyIndex Which, const std::vector<TVLTVariant>& Values);
  void ResetKeyBuffers();
  // Installs the range buffers on the cursor as the applied range; false when they equal the
  // range applied already.
  bool InstallRange();

  // ---- master-detail ----
  friend class TVLTMasterDataLink;
  // A master is set and master fields are named.
  bool MasterLinked() const;
  // The master's current record changed, or it opened or closed.
  void MasterChanged();
  // The link was set up or removed on the open table.
  void MasterLinkChanged();
  // The detail index fields that the master fields fill, checked against the active index.
  std::vector<TVLTField*> MasterIndexFields() const;
  // Fills the range buffers from the master's current record: start and end both the master's
  // values on the leading index fields; an empty range when the master has no current record.
  void SetLinkRanges();
  // A copy takes the whole table, not the master's records: the link is set aside while this
  // lives (declared after the re-opening, so that it comes back before the old record is
  // sought again).
  class TSuspendedMasterLink {
   public:
    explicit TSuspendedMasterLink(TVLTTable& Table);
    ~TSuspendedMasterLink();
    TSuspendedMasterLink(const TSuspendedMasterLink&) = delete;
    TSuspendedMasterLink& operator=(const TSuspendedMasterLink&) = delete;

   private:
    TVLTTable& FTable;
    bool FWasLinked;
  };

  std::string FTableName;
  bool FExclusive = false;
  std::string FIndexName;
  bool FFieldsIndex = false;
  TVLTAdvFieldDefs FAdvFieldDefs, FRestructureFieldDefs;
  TVLTAdvIndexDefs FAdvIndexDefs, FRestructureIndexDefs;
  std::array<uint8_t*, 6> FKeyBuffers{};
  std::vector<int32_t> FIndexFieldMap;  // field numbers (1-based) of the index columns
  bool FRangeApplied = false;
  TVLTExportToSqlOptions FExportToSqlOptions;
  TVLTMasterDataLink FMasterLink{*this};
  bool FMasterLinkSuspended = false;
};

}  // namespace vlt
