// TVLTTable: the dataset bound to one table of one database component. It adds what is
// table-specific: creating, deleting, emptying and renaming the table from component-level
// definitions; choosing the active index by name or by field list; key searches and key ranges
// on the active index; index maintenance; and table copying.
//
// Table-level operations (create, delete, empty, rename, add or delete an index) run on a
// short-lived cursor opened exclusively, holding the database open for their duration.
//
// Key buffers (cursor key-buffer layout, one each): lookup, range start, range end, applied
// range start, applied range end, saved copy. The cursor's range points at the two applied
// buffers, which live as long as the dataset is open.
#pragma once

#include <array>
#include <string>
#include <vector>

#include "engine/components/VLTDataSet.h"
#include "engine/components/VLTTableAdvDefs.h"

namespace vlt {

class TVLTTable : public TVLTDataSet {
 public:
  using TCopyProgressEvent = std::function<void(TVLTTable&, int32_t PercentDone, bool& Continue)>;

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

  int64_t LastAutoincValue(const std::string& FieldName);
  bool IsRecordLocked();

  // Copies this table with its records into DestDatabase under NewTableName (used by database
  // rebuilding). Problems go to Log; without IgnoreErrors they are raised. False when the
  // progress handler stopped the copy.
  bool CopyTable(TVLTDatabase& DestDatabase, const std::string& NewTableName, std::string& Log,
                 bool& Continue, bool IgnoreErrors, bool OverwriteExistingTable, bool CopyIndexes,
                 int32_t MinProgress, int32_t MaxProgress);

  bool FDisableTempFiles = false;
  bool FIsRepairing = false;
  TDataSetNotifyEvent BeforeCopy, AfterCopy;
  TCopyProgressEvent OnCopyProgress;

 protected:
  std::unique_ptr<TVLTCursor> CreateHandle() override;
  void AfterHandleOpened() override;
  void BeforeHandleClosed() override;
  void CheckSetKeyField(const TVLTField& Field) override;

 private:
  enum TKeyIndex { kiLookup, kiRangeStart, kiRangeEnd, kiAppliedStart, kiAppliedEnd, kiSave };

  void CheckTableName() const;
  // A closed, unopened cursor on the table, on the database's engine session (database held).
  std::unique_ptr<TVLTCursor> MakeTableCursor();
  void ReleaseTableCursor(std::unique_ptr<TVLTCursor>& Cursor);
  void CheckNoTransaction(int32_t Code, const char* Operation);
  // Index name that a field list selects ("No index for fields '%s'").
  std::string ResolveIndexName(TVLTCursor& Cursor) const;
  void ApplyIndex();
  void ReadDefinitionsBack();
  void BuildEngineDefinitions(TVLTFieldDefs& Fields, TVLTIndexDefs& Indexes,
                              TVLTConstraintDefs& Constraints);
  void SetKeyBuffer(TKeyIndex Which, bool Clear);
  void AssignKeyValues(TKeyIndex Which, const std::vector<TVLTVariant>& Values);
  void ResetKeyBuffers();

  std::string FTableName;
  bool FExclusive = false;
  std::string FIndexName;
  bool FFieldsIndex = false;
  TVLTAdvFieldDefs FAdvFieldDefs, FRestructureFieldDefs;
  TVLTAdvIndexDefs FAdvIndexDefs, FRestructureIndexDefs;
  std::array<uint8_t*, 6> FKeyBuffers{};
  std::vector<int32_t> FIndexFieldMap;  // field numbers (1-based) of the index columns
  bool FRangeApplied = false;
};

}  // namespace vlt
