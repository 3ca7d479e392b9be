// TVLTCursor: the engine-side handle through which one dataset (or one short table operation)
// works on one table. It owns copies of the table's field, index and constraint definitions,
// the navigation state, the filter, range and distinct settings, the open BLOB streams and the
// error slot through which edit, post, delete and cancel report record-level failures.
//
// Record buffer (allocated by the cursor for the dataset, FRecordBufferSize bytes, zero-filled):
//
//   OFFSET               SIZE   CONTENT
//   0                    ...    null bitmap and field data (the table's memory record layout)
//   FBookmarkOffset      6      record id: page number (Int32), item number (UInt16); -1, -1
//                               in a new record
//   FBookmarkOffset + 6  1      bookmark flag: 0 current, 1 before first, 2 after last,
//                               3 inserted
//   FRecordBufferSize    ...    calculated fields (added by the dataset)
//
// Key buffer (FKeyBufferSize bytes): the record part, then at FKeyOffset a modified flag (1
// byte), an exclusive flag (1 byte) and the key field count (Int32: leading index fields that
// carry a key value; 0 = all fields of the active index).
//
// Position record (SavePosition, 8 bytes): FirstPosition (1), LastPosition (1),
// CurrentRecordID (6).
//
// Who writes the cursor's buffers and position: the table data (through TVLTTableCursor) and the
// cursor itself. Code that holds a TVLTCursor (the dataset, the table component) points the
// current, edit and key buffers and positions the cursor through the calls below; the fields
// themselves are protected at this level. Record buffers and saved positions that live for a
// scope are held by TVLTRecordBuffer and TVLTSavedPosition, which free them on every path.
//
// Record-level results of edit, post, delete and cancel (FErrorCode; the dataset raises
// EVLTEngineError for every non-zero code and stays in its edit or insert state):
//
//   CODE  WHEN
//   -1    insert failed             -8   a constraint check failed (FErrorMessage)
//   -2    update failed             -9   edit of a temporary-table record
//   -3    delete failed             -10  delete of a temporary-table record
//   -4    update: record changed    -11  cancel in temporary mode (reserved)
//   -5    delete: record changed    -12  record lock not obtained
//   -6    update: record deleted    -13  table lock not obtained
//   -7    delete: record deleted
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "engine/components/VLTLocalBLOBStream.h"
#include "engine/core/VLTConstraintDef.h"
#include "engine/core/VLTFieldDef.h"
#include "engine/core/VLTIndexDef.h"
#include "engine/core/VLTTableData.h"
#include "engine/expr/VLTExprCursor.h"
#include "engine/expr/VLTExpression.h"
#include "engine/expr/VLTVariant.h"

namespace vlt {

class TVLTBaseSession;
class TVLTDataSet;
class TVLTIndexPosition;

// Record-level result codes of edit, post, delete and cancel.
enum : int32_t {
  kCursorInsertFailed = -1,
  kCursorUpdateFailed = -2,
  kCursorDeleteFailed = -3,
  kCursorUpdateModified = -4,
  kCursorDeleteModified = -5,
  kCursorUpdateDeleted = -6,
  kCursorDeleteDeleted = -7,
  kCursorConstraintFailed = -8,
  kCursorTemporaryUpdate = -9,
  kCursorTemporaryDelete = -10,
  kCursorTemporaryCancel = -11,
  kCursorRecordLocked = -12,
  kCursorTableLocked = -13,
};

// Operators of IsAnyRecordMatchCondition.
enum TVLTMatchOperator : uint8_t { moEqual, moNotEqual, moLess, moLessEqual, moGreater, moGreaterEqual };

// Bookmark flags of a record buffer.
enum : uint8_t { kBookmarkCurrent = 0, kBookmarkBOF = 1, kBookmarkEOF = 2, kBookmarkInserted = 3 };

class TVLTCursor : public TVLTTableCursor, public TVLTExprCursor {
 public:
  TVLTCursor();
  ~TVLTCursor() override;

  // ---- virtual operations ----
  virtual void CreateTable(const TVLTFieldDefs& FieldDefs, const TVLTIndexDefs& IndexDefs,
                           const TVLTConstraintDefs& ConstraintDefs) = 0;
  virtual void DeleteTable() = 0;
  virtual void EmptyTable() = 0;
  virtual void RenameTable(const std::string& NewTableName) = 0;
  virtual void InternalInitFieldDefs() = 0;
  virtual void OpenTableByFieldDefs(const TVLTFieldDefs* FieldDefs, const TVLTIndexDefs* IndexDefs,
                                    const TVLTConstraintDefs* ConstraintDefs) = 0;
  virtual void CloseTable() = 0;
  virtual void LockTableData() = 0;
  virtual void UnlockTableData() = 0;
  virtual bool LockTable(TVLTLockType LockType, int32_t TryCount, int32_t Delay,
                         bool AllowXIRWAfterSIRW) = 0;
  virtual bool UnlockTable(TVLTLockType LockType, bool IgnoreIfNoLock) = 0;
  // 30345 "Field '%s' not found"; 30346 when the new name is taken.
  virtual void RenameField(const std::string& FieldName, const std::string& NewFieldName);
  virtual TVLTIndexDefs& GetIndexDefs();
  virtual void AddIndex(const TVLTIndexDef& IndexDef) = 0;
  virtual void DeleteIndex(const std::string& Name) = 0;
  virtual void DeleteAllIndexes() = 0;
  virtual std::string FindOrCreateIndex(const std::vector<std::string>& FieldNamesList,
                                        const std::vector<std::string>& AscDescList,
                                        const std::vector<std::string>& CaseSensitivityList,
                                        bool& IsCreated) = 0;
  virtual bool IndexExists(const std::vector<std::string>& FieldNamesList,
                           const std::vector<std::string>& AscDescList,
                           const std::vector<std::string>& CaseSensitivityList) = 0;
  virtual void CopyFieldValue(int32_t SrcFieldNo, bool DirectAccess, int32_t DestFieldNo,
                              TVLTCursor& DestCursor) = 0;
  virtual void InternalInitRecord(uint8_t* RecordBuffer, bool InsertMode) = 0;
  virtual void FreeRecordBuffer(uint8_t*& Buffer);
  // Gives up what FreeRecordBuffer gives up with the buffer, but keeps it: it is then as
  // AllocateRecordBuffer made it, for its owner's next use.
  virtual void RecycleRecordBuffer(uint8_t* Buffer);
  virtual int64_t GetRecordCount() = 0;
  virtual TVLTGetRecordResult GetRecordBuffer(TVLTGetRecordMode GetRecordMode) = 0;
  virtual void SetRecNo(int64_t Value) = 0;
  virtual int64_t GetRecNo() = 0;
  virtual int CompareRecordsOrder(const TVLTPageItemID& RecordID1,
                                  const TVLTPageItemID& RecordID2) = 0;
  virtual void InternalFirst() = 0;
  virtual void InternalLast() = 0;
  virtual void InternalInsert() = 0;
  virtual void InternalEdit() = 0;
  virtual void InternalCancel(bool ToInsert) = 0;
  virtual void InternalPost(bool ToInsert) = 0;
  virtual void InternalDelete() = 0;
  virtual bool IsRecordLocked() = 0;
  virtual void ApplyDistinct(const std::vector<std::string>& FieldNamesList,
                             const std::vector<std::string>& AscDescList,
                             const std::vector<std::string>& CaseSensitivityList) = 0;
  virtual void ActivateFilters(const std::string& FilterText, bool CaseInsensitive,
                               bool PartialKey) = 0;
  virtual void DeactivateFilters() = 0;
  // KeyFields: field names separated by ';'; one value per field.
  virtual bool Locate(const std::string& KeyFields, const std::vector<TVLTVariant>& KeyValues,
                      bool CaseInsensitive, bool PartialKey) = 0;
  virtual bool FindKey(TVLTSearchCondition SearchCondition) = 0;
  virtual bool IsAnyRecordMatchCondition(const std::string& FieldName, TVLTMatchOperator Operator,
                                         const TVLTVariant& Value) = 0;
  virtual TVLTLocalBLOBStream* InternalCreateBlobStream(bool ToInsert, bool ToEdit, int32_t FieldNo,
                                                        TVLTBLOBOpenMode OpenMode,
                                                        bool CanDoGetRecordBuffer) = 0;
  virtual void InternalCloseBLOB(int32_t FieldNo) = 0;
  virtual void ClearBLOBStreams(bool WriteOnly) = 0;
  virtual int64_t LastAutoincValue(int32_t FieldNo) = 0;
  virtual void BeginBatchUpdate() = 0;
  virtual void EndBatchUpdate() = 0;
  virtual void CancelBatchUpdate() = 0;
  virtual bool CheckConstraints(bool ToInsert) = 0;

  // ---- filters as the table data sees them ----
  bool HasFilterExpressions() const override {
    return FFilterExpression != nullptr || FSQLFilterExpression != nullptr;
  }
  // Both filter expressions (those that are set) evaluate to true on RecordBuffer.
  bool FilterExpressionsAccept(const uint8_t* RecordBuffer) override;
  bool SearchExpressionAccepts(const TVLTExpression& Expression,
                               const uint8_t* RecordBuffer) override;
  TVLTExpression* FilterExpression() const override { return FFilterExpression.get(); }
  TVLTExpression* SQLFilterExpression() const override { return FSQLFilterExpression; }
  uint8_t* AllocateScanKeyBuffer(int32_t& Size) override;
  void SetScanKeyValue(const TVLTVariant& Value, int32_t FieldNo, uint8_t* Buffer) override;

  // ---- what expressions read through the cursor ----
  bool FindExprField(std::string_view Name, TVLTExprFieldInfo& Info) const override;
  const uint8_t* ExprCurrentRecordBuffer() const override { return FCurrentRecordBuffer; }
  int32_t ExprRecordSize() const override { return FBookmarkOffset; }
  int32_t ExprSessionID() const override { return SessionID(); }

  // ---- non-virtual operations ----
  void SetSession(TVLTBaseSession* Session);
  TVLTBaseSession* Session() const { return FBaseSession; }
  // The index of that name becomes active; an unknown or empty name means physical order.
  void SetIndexName(const std::string& Name);
  const std::string& IndexName() const { return FIndexName; }

  // One field between a caller's buffer (exchange form) and a record buffer; FieldNo indexes
  // the visible fields. 10005 / 10006 out of range.
  bool GetFieldData(int32_t FieldNo, void* Buffer, const uint8_t* RecordBuffer) const;
  void SetFieldData(int32_t FieldNo, const void* Buffer, uint8_t* RecordBuffer) const;
  // The same through a value. DirectAccess: FieldNo indexes all table fields; else the visible
  // ones. An empty RecordBuffer means FCurrentRecordBuffer. 20191 / 10317 (get), 20192 / 20193
  // (set) out of range.
  void GetFieldValue(TVLTVariant& Value, int32_t FieldNo, bool DirectAccess,
                     const uint8_t* RecordBuffer = nullptr) const;
  void SetFieldValue(const TVLTVariant& Value, int32_t FieldNo, bool DirectAccess,
                     uint8_t* RecordBuffer = nullptr) const;
  // Zero-fills NULL character fields and the bytes after a string's terminator, so that equal
  // keys compare equal byte for byte.
  void ClearStringFieldsGarbage(uint8_t* RecordBuffer) const;

  uint8_t* AllocateRecordBuffer() const;
  uint8_t* AllocateKeyRecordBuffer() const;
  void InternalInitKeyBuffer(uint8_t* Buffer);
  // The record id and the bookmark flag of a record buffer.
  TVLTPageItemID GetBufferRecordID(const uint8_t* RecordBuffer) const;
  void SetBufferRecordID(uint8_t* RecordBuffer, const TVLTPageItemID& RecordID) const;
  uint8_t GetBookmarkFlag(const uint8_t* RecordBuffer) const {
    return RecordBuffer[FBookmarkOffset + 6];
  }
  void SetBookmarkFlag(uint8_t* RecordBuffer, uint8_t Flag) const {
    RecordBuffer[FBookmarkOffset + 6] = Flag;
  }
  // Key buffer items after the record part.
  bool KeyModified(const uint8_t* KeyBuffer) const { return KeyBuffer[FKeyOffset] != 0; }
  void SetKeyModified(uint8_t* KeyBuffer, bool V) const { KeyBuffer[FKeyOffset] = V ? 1 : 0; }
  bool KeyExclusive(const uint8_t* KeyBuffer) const { return KeyBuffer[FKeyOffset + 1] != 0; }
  void SetKeyExclusive(uint8_t* KeyBuffer, bool V) const { KeyBuffer[FKeyOffset + 1] = V ? 1 : 0; }
  int32_t GetKeyFieldCount(const uint8_t* KeyBuffer) const;
  void SetKeyFieldCount(uint8_t* KeyBuffer, int32_t Count) const;

  // 8-byte position records from the memory manager.
  uint8_t* SavePosition() const;
  void RestorePosition(const uint8_t* Pos);
  void FreePosition(uint8_t*& Pos) const;

  // ---- buffers and position as the cursor's owner sets them ----
  uint8_t* CurrentRecordBuffer() const { return FCurrentRecordBuffer; }
  // The buffer the next operation reads or fills; the caller keeps it.
  void SetCurrentRecordBuffer(uint8_t* Buffer) { FCurrentRecordBuffer = Buffer; }
  uint8_t* EditRecordBuffer() const { return FEditRecordBuffer; }
  // The record as it was when editing began (for a post of an edit); the caller keeps it.
  void SetEditRecordBuffer(uint8_t* Buffer) { FEditRecordBuffer = Buffer; }
  uint8_t* KeyBuffer() const { return FKeyBuffer; }
  // The key buffer of the next key search; the caller keeps it.
  void SetKeyBuffer(uint8_t* Buffer) { FKeyBuffer = Buffer; }
  const TVLTPageItemID& GetCurrentRecordID() const { return CurrentRecordID; }
  bool IsFirstPosition() const { return FirstPosition; }
  bool IsLastPosition() const { return LastPosition; }
  // On RecordID, neither before the first nor after the last record: what a re-read with
  // grmCurrent expects.
  void PositionOnRecord(const TVLTPageItemID& RecordID) {
    CurrentRecordID = RecordID;
    PositionOnCurrentRecord();
  }
  // Stays on CurrentRecordID (set by the last search or move); clears both boundary flags.
  void PositionOnCurrentRecord() { FirstPosition = LastPosition = false; }

  void DisableRecordBitmap();
  bool IsIndexApplied() const { return FIndexID != -1; }
  bool IsDistinctApplied() const { return FDistinctFieldCount > 0; }
  bool IsFilterApplied() const { return HasFilterExpressions() || static_cast<bool>(FilterRecord); }
  bool IsRangeApplied() const { return FRangeStartBuffer || FRangeEndBuffer; }
  // The buffers stay the caller's.
  void ApplyRange(uint8_t* StartBuffer, uint8_t* EndBuffer, int32_t StartKeyFieldCount,
                  int32_t EndKeyFieldCount, bool StartExclusive, bool EndExclusive);
  void ResetRange();

  int32_t FieldCount() const { return FFieldDefs ? FFieldDefs->Count() : 0; }
  int32_t VisibleFieldCount() const { return FVisibleFieldDefs ? FVisibleFieldDefs->Count() : 0; }

  bool FSettingProjection = false;
  bool FPhysicalOrder = false;
  TVLTIndexPosition* FCurrentRecordPositionInIndex = nullptr;  // the table data's, not owned
  TVLTPassword FPassword;
  std::unique_ptr<TVLTConstraintDefs> FConstraintDefs;
  TVLTCompression FBLOBCompression;
  std::unique_ptr<TVLTFieldDefs> FFieldDefs;
  std::unique_ptr<TVLTFieldDefs> FVisibleFieldDefs;
  std::unique_ptr<TVLTIndexDefs> FIndexDefs;
  std::unique_ptr<std::vector<std::unique_ptr<TVLTLocalBLOBStream>>> FBLOBStreams;
  bool FTableLockedByCursor = false;
  int32_t FErrorCode = 0;
  std::string FErrorMessage;
  int32_t FRecordBufferSize = 0;
  int32_t FRecordSize = 0;
  int32_t FKeyBufferSize = 0;
  int32_t FKeyFieldCount = 0;
  int32_t FFieldValuesOffset = 0;
  int32_t FCalculatedFieldsOffset = 0;
  int32_t FBookmarkOffset = 0;
  std::unique_ptr<TVLTExpression> FFilterExpression;
  TVLTExpression* FSQLFilterExpression = nullptr;  // not owned
  TVLTDataSet* Dataset = nullptr;                  // the owning dataset, for FilterRecord

 protected:
  // Written by the table data and the cursor; others use the calls above.
  using TVLTTableCursor::CurrentRecordID;
  using TVLTTableCursor::FCurrentRecordBuffer;
  using TVLTTableCursor::FDistinctRecordBuffer;
  using TVLTTableCursor::FEditRecordBuffer;
  using TVLTTableCursor::FirstPosition;
  using TVLTTableCursor::FKeyBuffer;
  using TVLTTableCursor::FRangeEndBuffer;
  using TVLTTableCursor::FRangeStartBuffer;
  using TVLTTableCursor::LastPosition;

  // Buffer geometry from FFieldDefs.
  void CalcBufferGeometry();
  // Visible field number -> table field number (Code when out of range).
  int32_t TableFieldNo(int32_t FieldNo, bool DirectAccess, int32_t Code) const;
  const TVLTFieldDef& TableFieldDef(int32_t TableFieldNo) const;

  // The field manager that converts values between exchange form and record layout; the local
  // cursor's is its table data's.
  virtual TVLTBaseFieldManager* FieldManager() const = 0;

  TVLTBaseSession* FBaseSession = nullptr;  // not owned
};

// A record buffer from Cursor.AllocateRecordBuffer, given back through Cursor.FreeRecordBuffer
// (which also drops BLOB values cached for it) on every path out of the scope. Movable, not
// copyable; REQUIRES: the cursor outlives the buffer.
class TVLTRecordBuffer {
 public:
  TVLTRecordBuffer() = default;
  explicit TVLTRecordBuffer(TVLTCursor& Cursor)
      : FCursor(&Cursor), FBuffer(Cursor.AllocateRecordBuffer()) {}
  // Takes over Buffer, allocated by Cursor.
  TVLTRecordBuffer(TVLTCursor& Cursor, uint8_t* Buffer) : FCursor(&Cursor), FBuffer(Buffer) {}
  ~TVLTRecordBuffer() { Reset(); }
  TVLTRecordBuffer(const TVLTRecordBuffer&) = delete;
  TVLTRecordBuffer& operator=(const TVLTRecordBuffer&) = delete;
  TVLTRecordBuffer(TVLTRecordBuffer&& Other) noexcept
      : FCursor(Other.FCursor), FBuffer(std::exchange(Other.FBuffer, nullptr)) {}
  TVLTRecordBuffer& operator=(TVLTRecordBuffer&& Other) noexcept {
    if (this != &Other) {
      Reset();
      FCursor = Other.FCursor;
      FBuffer = std::exchange(Other.FBuffer, nullptr);
    }
    return *this;
  }

  // Frees the buffer held (if any).
  void Reset() {
    if (FBuffer) FCursor->FreeRecordBuffer(FBuffer);
    FBuffer = nullptr;
  }
  // Frees the buffer held (if any) and holds Buffer, allocated by the same cursor.
  void Adopt(uint8_t* Buffer) {
    Reset();
    FBuffer = Buffer;
  }
  // Gives the buffer up without freeing it: whoever receives it frees it through the cursor.
  uint8_t* Detach() { return std::exchange(FBuffer, nullptr); }

  uint8_t* get() const { return FBuffer; }
  explicit operator bool() const { return FBuffer != nullptr; }

 private:
  TVLTCursor* FCursor = nullptr;
  uint8_t* FBuffer = nullptr;
};

// The cursor's position (SavePosition) taken on construction and freed on every path out of the
// scope. Restore puts the cursor back there; with oeRestore the destructor does so as well,
// also when an exception leaves the scope. Movable, not copyable; REQUIRES: the cursor outlives
// the saved position.
class TVLTSavedPosition {
 public:
  enum TOnExit : uint8_t { oeKeep, oeRestore };

  explicit TVLTSavedPosition(TVLTCursor& Cursor, TOnExit OnExit = oeKeep)
      : FCursor(&Cursor), FPos(Cursor.SavePosition()), FOnExit(OnExit) {}
  ~TVLTSavedPosition() {
    if (!FPos) return;
    if (FOnExit == oeRestore) FCursor->RestorePosition(FPos);
    FCursor->FreePosition(FPos);
  }
  TVLTSavedPosition(const TVLTSavedPosition&) = delete;
  TVLTSavedPosition& operator=(const TVLTSavedPosition&) = delete;
  TVLTSavedPosition(TVLTSavedPosition&& Other) noexcept
      : FCursor(Other.FCursor), FPos(std::exchange(Other.FPos, nullptr)), FOnExit(Other.FOnExit) {}
  TVLTSavedPosition& operator=(TVLTSavedPosition&&) = delete;

  void Restore() const { FCursor->RestorePosition(FPos); }

 private:
  TVLTCursor* FCursor;
  uint8_t* FPos;
  TOnExit FOnExit;
};

}  // namespace vlt
