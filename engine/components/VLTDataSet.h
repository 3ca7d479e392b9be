// TVLTDataSet: a record-at-a-time view of one cursor. It opens and closes the cursor, keeps the
// active record buffer, moves through the records, hands field values to and from field objects
// and runs the edit cycle (append or insert, edit, post, cancel, delete) with its checks, events
// and error reporting; it also carries the filter, bookmarks and BLOB streams.
//
// States:
//   STATE     ENTERED BY                          LEFT BY
//   inactive  creation, Close                     Open
//   browse    Open, Post, Cancel, Delete          Edit, Insert, Append, SetKey, Close
//   edit      Edit                                Post, Cancel, Close (cancels)
//   insert    Insert, Append, Edit when empty     Post, Cancel, Close (cancels)
//   set-key   SetKey, EditKey, SetRangeStart...   Post, Cancel
//
// Record-level failures of edit, post, cancel and delete are raised as EVLTEngineError; the
// dataset then keeps its state and the user's values, so the caller may correct and post again.
// Any other raised error also leaves state and buffer as they were.
//
// The window holds one record buffer (the active record). Record buffers come from the cursor
// and are enlarged by the calculated-fields area (see VLTField.h):
//
//   OFFSET           SIZE              CONTENT
//   0                FCalcAreaOffset   the cursor's record buffer (record, record id, flag)
//   FCalcAreaOffset  FCalcFieldsSize   one slot per calculated or lookup field
//
// Persistent field objects are checked against the table's fields when the dataset opens: a
// field the table lacks, a type that does not map to the column's, or a size that differs for
// a sized type (strings, bytes) is an error, so that values never go to the wrong place.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "engine/components/VLTCursor.h"
#include "engine/components/VLTDatabase.h"
#include "engine/components/VLTField.h"
#include "engine/protect/VLTStream.h"

namespace vlt {

enum TDataSetState : uint8_t { dsInactive, dsBrowse, dsEdit, dsInsert, dsSetKey, dsCalcFields, dsFilter };
enum TVLTFilterOption : uint8_t { foCaseInsensitive = 1, foNoPartialCompare = 2 };
enum TVLTLocateOption : uint8_t { loCaseInsensitive = 1, loPartialKey = 2 };
enum TBlobStreamMode : uint8_t { bmRead, bmWrite, bmReadWrite };
// What an OnEditError, OnPostError or OnDeleteError handler wants done with the failure:
// raise it (daFail), end the operation silently with EVLTAbort (daAbort), or run the operation
// again (daRetry), typically after the handler removed the cause.
enum TDataAction : uint8_t { daFail, daAbort, daRetry };

// A silent abort: the operation was given up on purpose and needs no error message.
class EVLTAbort : public std::exception {
 public:
  const char* what() const noexcept override { return "Operation aborted"; }
};

using TVLTBookmark = std::vector<uint8_t>;  // 7 bytes: record id (6) and one spare byte

class TVLTDataSet;

// Points the cursor at a scratch record buffer for a search that reads candidate records, so
// that the shown record is not overwritten; afterwards the cursor points at Active again.
class TScratchRecord {
 public:
  TScratchRecord(TVLTCursor& Cursor, uint8_t* Active)
      : FCursor(Cursor), FActive(Active), FBuffer(Cursor) {
    FCursor.SetCurrentRecordBuffer(FBuffer.get());
  }
  ~TScratchRecord() { FCursor.SetCurrentRecordBuffer(FActive); }
  TScratchRecord(const TScratchRecord&) = delete;
  TScratchRecord& operator=(const TScratchRecord&) = delete;

  uint8_t* get() const { return FBuffer.get(); }

 private:
  TVLTCursor& FCursor;
  uint8_t* FActive;
  TVLTRecordBuffer FBuffer;
};

// A field's BLOB as a stream; destroying it closes the BLOB into the current record.
class TVLTBLOBStream : public TVLTStream {
 public:
  TVLTBLOBStream(TVLTField& Field, TBlobStreamMode Mode);
  ~TVLTBLOBStream() override;
  int64_t Read(void* Buffer, int64_t Count) override;
  int64_t Write(const void* Buffer, int64_t Count) override;
  int64_t Seek(int64_t Offset, TVLTSeekOrigin Origin) override;
  int64_t GetSize() override;
  void SetSize(int64_t NewSize) override;
  // Closes the BLOB into the current record; errors (the value could not be stored) are
  // raised here. The destructor closes without raising.
  void Close();

 private:
  TVLTField& FField;
  TVLTDataSet& FDataSet;
  TVLTLocalBLOBStream* FEngineStream = nullptr;
  bool FModified = false;
};

// A listener on a dataset (the link of a detail table to its master, for instance). The
// dataset tells its links when it opens or closes and whenever its current record may have
// changed: after a scroll, a post, a cancel, a delete, a refresh and when a new record is
// begun. A link detaches itself when destroyed; a destroyed dataset leaves its links without a
// dataset.
class TVLTDataLink {
 public:
  TVLTDataLink() = default;
  virtual ~TVLTDataLink();
  TVLTDataLink(const TVLTDataLink&) = delete;
  TVLTDataLink& operator=(const TVLTDataLink&) = delete;

  TVLTDataSet* DataSet() const { return FDataSet; }
  void SetDataSet(TVLTDataSet* Value);
  // The dataset is set and open.
  bool Active() const;

 protected:
  friend class TVLTDataSet;
  virtual void ActiveChanged() {}
  virtual void RecordChanged() {}

 private:
  TVLTDataSet* FDataSet = nullptr;
};

class TVLTDataSet : public TVLTDatabaseDataSet {
 public:
  using TDataSetNotifyEvent = std::function<void(TVLTDataSet&)>;
  using TFilterRecordEvent = std::function<void(TVLTDataSet&, bool& Accept)>;
  using TDataSetErrorEvent =
      std::function<void(TVLTDataSet&, const std::exception& E, TDataAction& Action)>;

  TVLTDataSet();
  ~TVLTDataSet() override;
  TVLTDataSet(const TVLTDataSet&) = delete;
  TVLTDataSet& operator=(const TVLTDataSet&) = delete;

  // TVLTDatabaseDataSet
  void CloseDataSet() override { Close(); }

  void Open();
  void Close();
  bool Active() const { return FState != dsInactive; }
  void SetActive(bool Value) { Value ? Open() : Close(); }
  TDataSetState State() const { return FState; }

  // Persistent field objects (owned); declare before opening. Calculated and lookup fields
  // (FFieldKind) are always persistent. Without any, default field
  // objects are made from the table's fields when the dataset opens.
  TVLTField& AddField(std::unique_ptr<TVLTField> Field);
  int32_t FieldCount() const { return static_cast<int32_t>(FFields.size()); }
  TVLTField& Fields(int32_t I) const { return *FFields.at(static_cast<size_t>(I)); }
  TVLTField* FindField(const std::string& Name) const;
  // "Field '%s' not found".
  TVLTField& FieldByName(const std::string& Name) const;

  void First();
  void Last();
  void Next();
  void Prior();
  int32_t MoveBy(int32_t Distance);
  bool Eof() const { return FEof; }
  bool Bof() const { return FBof; }
  bool IsEmpty() const { return !FHasRecord && FState != dsInsert; }
  int32_t RecordCount();
  int32_t RecNo();
  void SetRecNo(int32_t Value);

  void Insert();
  void Append();
  // A missing or NULL value clears the field.
  void AppendRecord(const std::vector<TVLTVariant>& Values);
  void Edit();
  void Post();
  void Cancel();
  void Delete();
  void CheckBrowseMode();
  void Refresh();
  bool Modified() const { return FModified; }
  bool CanModify() const { return !FReadOnly; }

  const std::string& Filter() const { return FFilter; }
  void SetFilter(const std::string& Value);
  bool Filtered() const { return FFiltered; }
  void SetFiltered(bool Value);
  uint8_t FilterOptions() const { return FFilterOptions; }
  void SetFilterOptions(uint8_t Value);
  void SetOnFilterRecord(TFilterRecordEvent Event);
  bool FindFirst();
  bool FindLast();
  bool FindNext();
  bool FindPrior();

  // KeyFields separated by ';'; Options of TVLTLocateOption.
  bool Locate(const std::string& KeyFields, const std::vector<TVLTVariant>& KeyValues,
              uint8_t Options = 0);
  // Values of ResultFields (separated by ';') of the first matching record, without moving;
  // NULL values when none matches.
  std::vector<TVLTVariant> Lookup(const std::string& KeyFields,
                                  const std::vector<TVLTVariant>& KeyValues,
                                  const std::string& ResultFields);

  // Re-reads the active record from the table into Buffer (a buffer of the cursor's record
  // buffer size); false when there is no stored active record or it is gone.
  bool GetCurrentRecord(uint8_t* Buffer);

  TVLTBookmark GetBookmark() const;
  void GotoBookmark(const TVLTBookmark& Bookmark);
  bool BookmarkValid(const TVLTBookmark& Bookmark);
  int CompareBookmarks(const TVLTBookmark& Bookmark1, const TVLTBookmark& Bookmark2);

  std::unique_ptr<TVLTBLOBStream> CreateBlobStream(TVLTField& Field, TBlobStreamMode Mode);

  // Recompute the calculated fields whenever a data field of the record being edited changes.
  bool FAutoCalcFields = true;
  int32_t CalcFieldsSize() const { return FCalcFieldsSize; }

  const std::string& DatabaseName() const { return FDatabaseName; }
  void SetDatabaseName(const std::string& Value);
  TVLTDatabase* Database() const { return FDatabase; }
  // The database's session while open, else the session named SessionName, else the default.
  TVLTSession* DBSession() const;
  // The dataset works on the in-memory database (DatabaseName "MEMORY" in any letter case).
  bool InMemory() const { return SameText(FDatabaseName, "MEMORY"); }
  TVLTCursor* Handle() const { return FHandle.get(); }
  // The dataset this one takes its records' range from (a detail table's master); none by
  // default.
  virtual TVLTDataSet* GetMasterDataSet() const { return nullptr; }
  // DataSet is this dataset or one of its masters, directly or through other masters.
  bool IsLinkedTo(const TVLTDataSet* DataSet) const;
  std::string CurrentVersion() const { return "7.91 "; }

  // Field data exchange (field objects call these).
  void GetFieldVariant(const TVLTField& Field, TVLTVariant& Value);
  void SetFieldVariant(TVLTField& Field, const TVLTVariant& Value);

  std::string FName;  // component name (prefix of component errors)
  std::string FSessionName;
  bool FReadOnly = false;

  TDataSetNotifyEvent BeforeOpen, AfterOpen, BeforeClose, AfterClose, BeforeInsert, AfterInsert,
      BeforeEdit, AfterEdit, BeforePost, AfterPost, BeforeCancel, AfterCancel, BeforeDelete,
      AfterDelete, BeforeScroll, AfterScroll, OnNewRecord, OnCalcFields;
  // Called when Edit, Post or Delete fails (the action starts as daFail).
  TDataSetErrorEvent OnEditError, OnPostError, OnDeleteError;

 protected:
  friend class TVLTBLOBStream;
  // The table component makes and opens its cursor here.
  virtual std::unique_ptr<TVLTCursor> CreateHandle() = 0;
  // After the cursor and the fields are ready (the table applies its index).
  virtual void AfterHandleOpened() {}
  virtual void BeforeHandleClosed() {}
  // In the set-key state only fields of the active index may be assigned.
  virtual void CheckSetKeyField(const TVLTField& /*Field*/) {}
  [[noreturn]] void DatabaseError(const std::string& Message) const;
  void CheckInactive() const;
  void CheckActive() const;
  // Opens the database component named DatabaseName and holds it (flags of FDBFlags).
  void OpenDatabase();
  void CloseDatabase();
  uint8_t* CurrentBuffer() const;
  // Reads a record into the active buffer; false when none was read.
  bool ReadRecord(TVLTGetRecordMode Mode);
  // Re-reads the window around RecordID: that record, else the next one, else the last one.
  void ReadAround(const TVLTPageItemID& RecordID);
  void PositionCursorOnActive();
  // The find operations: with the filter in force, read from the first or last record, or on
  // from the active one.
  enum TFindStart : uint8_t { fsFirst, fsLast, fsNext, fsPrior };
  bool FindRecord(TFindStart Start);
  void ClearBuffers();
  void FireScroll(const TDataSetNotifyEvent& E) {
    if (E) E(*this);
  }
  // The after-scroll event, then the links learn of the new current record.
  void AfterScrolled();
  // Tells every link (ActiveChange: opened or closed; else the current record may have
  // changed). All links are told even when one fails; the first failure is raised afterwards.
  void NotifyDataLinks(bool ActiveChange);
  // A new record was begun in the active buffer (insert state): OnNewRecord. The table assigns
  // the master values of its link first.
  virtual void DoOnNewRecord() {
    if (OnNewRecord) OnNewRecord(*this);
  }
  void ActivateFilters();
  void CloseBlobField(TVLTField& Field, bool Modified);
  // Binds the field objects to the cursor's field definitions and lays out the calculated area.
  void BindFields();
  // Clears the calculated area of Buffer, then fills it (lookups, OnCalcFields) in the
  // calculation state.
  void CalculateFields(uint8_t* Buffer);
  void CalcLookupValue(TVLTField& Field);
  void GetCalcFieldValue(const TVLTField& Field, TVLTVariant& Value) const;
  void SetCalcFieldValue(const TVLTField& Field, const TVLTVariant& Value);
  // Runs Operation; a failure goes to OnError, which may retry it, abort or let it fail.
  void CheckOperation(const std::function<void()>& Operation, const TDataSetErrorEvent& OnError);

  TDataSetState FState = dsInactive;
  std::vector<std::unique_ptr<TVLTField>> FFields;
  std::vector<size_t> FDefaultFields;  // positions of default field objects
  std::unique_ptr<TVLTCursor> FHandle;
  TVLTDatabase* FDatabase = nullptr;
  int32_t FDBFlags = 0;
  std::string FDatabaseName;
  uint8_t* FActiveBuffer = nullptr;
  uint8_t* FEditRecordBuffer = nullptr;
  // The buffer a read replaced, recycled for the next read instead of a new allocation.
  uint8_t* FSpareBuffer = nullptr;
  uint8_t* FKeyBuffer = nullptr;  // buffer edited in the set-key state
  bool FHasRecord = false;
  bool FBof = true;
  bool FEof = true;
  bool FModified = false;
  std::string FFilter;
  bool FFiltered = false;
  uint8_t FFilterOptions = 0;
  TFilterRecordEvent FOnFilterRecord;
  const uint8_t* FFilterBuffer = nullptr;
  uint8_t* FCalcBuffer = nullptr;  // record whose calculated fields are being computed
  int32_t FCalcAreaOffset = 0;
  int32_t FCalcFieldsSize = 0;

 private:
  friend class TVLTDataLink;
  std::vector<TVLTDataLink*> FDataLinks;  // not owned
};

}  // namespace vlt
