// A Paradox table object: a cursor over one table file in a directory, with the operations the
// conversions use: open and close; first, next, end test; fields by position and by name with
// typed reads and writes; record count under a filter; edit, append, post, delete; bookmarks;
// field and index definitions read from the file; creating a table and adding its primary
// index. Every failure raises EParadoxError with a message that names the table or field.
//
// Records come in primary-key order (physical order for unkeyed tables) or, when
// IndexFieldNames is set, in the order of those fields. Table objects open on the same file
// share its records (TParadoxTableData); the file is written when the last one closes.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/paradox/ParadoxFilter.h"
#include "app/paradox/ParadoxTableData.h"
#include "app/paradox/ParadoxTypes.h"
#include "app/paradox/ParadoxValue.h"

namespace vlt::app {

class TParadoxTable;

enum TTableType : uint8_t { ttDefault, ttParadox };
enum TDataSetState : uint8_t { dsInactive, dsBrowse, dsEdit, dsInsert };

// A field of the open table, for the current record (or the record being edited).
class TParadoxField {
 public:
  TParadoxField(TParadoxTable* Table, int Index) : FTable(Table), FIndex(Index) {}

  int Index() const { return FIndex; }
  const std::string& FieldName() const;  // 8-bit text
  TFieldType DataType() const;
  int Size() const;  // string length; 0 for fixed-size types

  bool IsNull() const;
  TParadoxValue AsVariant() const;  // NULL for an empty field
  int32_t AsInteger() const;        // 0 when empty
  std::string AsString() const;     // 8-bit text; "" when empty
  std::string AsUtf8() const;
  bool AsBoolean() const;  // false when empty
  double AsFloat() const;  // 0 when empty
  double AsCurrency() const { return AsFloat(); }
  TParadoxDate AsDate() const;  // {0,0,0} when empty

  // REQUIRES: the table is in edit or insert state.
  void SetAsInteger(int32_t V);
  void SetAsString(const std::string& V);  // 8-bit text; "" empties the field
  void SetAsFloat(double V);
  void SetAsCurrency(double V);
  void SetAsBoolean(bool V);
  void SetAsDate(const TParadoxDate& V);
  void SetAsVariant(const TParadoxValue& V);
  void Clear();

 private:
  TParadoxTable* FTable;
  int FIndex;
};

using TParadoxBookmark = uint64_t;  // 0 = none

class TParadoxTable {
 public:
  TParadoxTable() = default;
  ~TParadoxTable();
  TParadoxTable(const TParadoxTable&) = delete;
  TParadoxTable& operator=(const TParadoxTable&) = delete;

  // Where the table is: a directory and a file name ("contfile.db"; found without regard to
  // case; ".db" is added when the name has no extension).
  void SetDatabaseName(const std::string& Dir);
  const std::string& DatabaseName() const { return FDatabaseName; }
  void SetTableName(const std::string& Name);
  const std::string& TableName() const { return FTableName; }
  void SetTableType(TTableType T) { FTableType = T; }
  // A read-only table object refuses edit, append and delete.
  void SetReadOnly(bool ReadOnly) { FReadOnly = ReadOnly; }
  bool ReadOnly() const { return FReadOnly; }
  TTableType TableType() const { return FTableType; }
  // The file the table object points at.
  std::string FilePath() const;

  void Open();
  void Close();  // also cancels a pending edit
  bool Active() const { return FData != nullptr; }
  TDataSetState State() const { return FState; }

  // Navigation.
  void First();
  void Next();
  void Prior();
  void Last();
  bool Eof() const { return FEof; }
  bool Bof() const { return FBof; }

  // Record order by field names ("TransDate;BankAccountNum"); "" = primary key order.
  void SetIndexFieldNames(const std::string& Fields);
  const std::string& IndexFieldNames() const { return FIndexFieldNames; }

  // Fields of the open table.
  int FieldCount() const { return static_cast<int>(FFields.size()); }
  TParadoxField& Fields(int Index);
  TParadoxField& FieldByName(const std::string& Name);
  TParadoxField* FindField(const std::string& Name);

  // Records visible under the filter.
  int32_t RecordCount() const;

  // Filter text and switch; applied while both are set and the table is open.
  void SetFilter(const std::string& Text);
  const std::string& Filter() const { return FFilterText; }
  void SetFiltered(bool On);
  bool Filtered() const { return FFiltered; }

  // Record changes.
  void Edit();
  void Append();
  void Insert() { Append(); }
  void Post();
  void Cancel();
  void Delete();

  // Bookmarks.
  TParadoxBookmark GetBookmark() const;
  bool BookmarkValid(TParadoxBookmark B) const;
  void GotoBookmark(TParadoxBookmark B);

  // Definitions. FieldDefs/IndexDefs are what CreateTable uses; the Update calls fill them from
  // the file (the table need not be open).
  std::vector<TParadoxFieldDef>& FieldDefs() { return FFieldDefs; }
  std::vector<TParadoxIndexDef>& IndexDefs() { return FIndexDefs; }
  void UpdateFieldDefs();
  void UpdateIndexDefs();

  // Creates the table from FieldDefs and IndexDefs (at most the unnamed primary index, over the
  // leading fields), replacing an existing table of that name. The table must be closed. With
  // an encryption key (a password checksum as an encrypted table's header holds it), the new
  // table is encrypted with it.
  void CreateTable();
  void SetEncryptionKey(uint32_t Key) { FEncryptionKey = Key; }
  uint32_t EncryptionKey() const { return FEncryptionKey; }
  // Adds the primary unique index over Fields (the leading fields, in order) to the existing
  // table: orders the records by the key and writes a new .px. Raises "Key violation" and
  // changes nothing when two records share a key.
  void AddIndex(const std::string& Name, const std::string& Fields, uint8_t Options);

  // Checks the shared data's invariants and that the filter set holds exactly the visible
  // records; raises EParadoxError when one is broken. For tests and debugging.
  void CheckInvariants() const;

  // The table's header (open table).
  const TParadoxHeader& Header() const;

 private:
  friend class TParadoxField;
  friend class TParadoxTableData;

  // Notifications from the shared data (see TParadoxTableData).
  void RecordLeaving(TParadoxRecord* Rec);   // before a change or removal
  void RecordArrived(TParadoxRecord* Rec);   // after a change or insertion
  void RecordRemoving(TParadoxRecord* Rec);  // before removal

  [[noreturn]] void Fail(const std::string& What) const;
  void CheckActive() const;
  void CheckBrowse(const char* Op) const;
  bool UsesIndexView() const { return !FIndexFields.empty(); }
  void RefreshIndexView();
  bool Visible(const TParadoxRecord* Rec) const;
  void ApplyFilter();
  void PlaceAfterChange(TParadoxRecord* Rec);
  const uint8_t* RecordBytes() const;  // null when there is no current record
  uint8_t* EditBytes(int FieldIndex);
  void ReadHeaderFromFile(TParadoxHeader& H) const;
  void AfterCursorMove();

  std::string FDatabaseName, FTableName, FFilterText, FIndexFieldNames;
  TTableType FTableType = ttDefault;
  bool FReadOnly = false;
  uint32_t FEncryptionKey = 0;
  std::shared_ptr<TParadoxTableData> FData;
  std::vector<TParadoxField> FFields;
  std::vector<std::string> FFieldNames;  // 8-bit names of the open table's fields
  std::vector<TParadoxFieldDef> FFieldDefs;
  std::vector<TParadoxIndexDef> FIndexDefs;

  TDataSetState FState = dsInactive;
  TParadoxRecord* FCurrent = nullptr;
  // Where FCurrent stands in the table's key order, while the order has not changed since
  // (FOrderVersion): a walk then steps instead of searching for every record.
  TParadoxRecordSet::const_iterator FOrderPos;
  uint64_t FOrderVersion = UINT64_MAX;
  bool FEof = true, FBof = true;
  std::string FBuffer;  // the record being edited or inserted
  TParadoxRecord* FEditing = nullptr;

  bool FFiltered = false;
  std::optional<TParadoxFilter> FFilter;  // set while the filter applies
  std::unique_ptr<TParadoxRecordSet> FFilterSet;

  std::vector<int> FIndexFields;  // fields of IndexFieldNames
  std::vector<TParadoxRecord*> FIndexView;
  uint64_t FIndexVersion = ~0ull;
  size_t FIndexPos = 0;
};

}  // namespace vlt::app
