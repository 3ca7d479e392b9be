// In-memory test doubles for the table data: a record manager that keeps records in slots, an
// index that keeps (record copy, record id) entries sorted by its columns, a table data and a
// database data that make them. Every manager call is written to a shared log so that tests can
// check the order of the insert, update and delete flows; Fail* switches make one call fail.
#pragma once

#include <algorithm>
#include <cstring>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "engine/base/VLTExcept.h"
#include "engine/core/VLTDatabaseData.h"
#include "engine/core/VLTTableData.h"

namespace vlt::test {

using TLog = std::vector<std::string>;

// Records live in slots; slot s has the identifier (s div 4, s mod 4).
class TTestRecordManager : public TVLTBaseRecordManager {
 public:
  explicit TTestRecordManager(TLog* Log) : FLog(Log) {}

  static TVLTPageItemID IDOfSlot(size_t Slot) {
    return {static_cast<int32_t>(Slot / 4), static_cast<uint16_t>(Slot % 4)};
  }
  static std::optional<size_t> SlotOf(const TVLTPageItemID& ID) {
    if (ID.PageNo < 0 || ID.PageItemNo >= 4) return std::nullopt;
    return static_cast<size_t>(ID.PageNo) * 4 + ID.PageItemNo;
  }
  bool Used(size_t Slot) const { return Slot < FSlots.size() && FSlots[Slot].has_value(); }
  const std::vector<uint8_t>& Record(size_t Slot) const { return *FSlots[Slot]; }
  size_t SlotCount() const { return FSlots.size(); }

  void Empty(TVLTSessionID) override {
    FSlots.clear();
    FRecordCount = 0;
    ++FTableState;
  }
  bool AddRecord(TVLTSessionID, const uint8_t* RecordBuffer, TVLTPageItemID& RecordID) override {
    if (FLog) FLog->push_back("rm.add");
    if (FailAdd) return false;
    FSlots.emplace_back(std::vector<uint8_t>(RecordBuffer, RecordBuffer + FRecordBufferSize));
    RecordID = IDOfSlot(FSlots.size() - 1);
    ++FRecordCount;
    ++FTableState;
    return true;
  }
  bool UpdateRecord(TVLTSessionID, const uint8_t* RecordBuffer, const TVLTPageItemID& RecordID) override {
    if (FLog) FLog->push_back("rm.update");
    if (FailUpdate) {
      FailUpdate = false;
      return false;
    }
    auto Slot = SlotOf(RecordID);
    if (!Slot || !Used(*Slot)) return false;
    FSlots[*Slot] = std::vector<uint8_t>(RecordBuffer, RecordBuffer + FRecordBufferSize);
    ++FTableState;
    return true;
  }
  bool DeleteRecord(TVLTSessionID, const TVLTPageItemID& RecordID) override {
    if (FLog) FLog->push_back("rm.delete");
    if (FailDelete) return false;
    auto Slot = SlotOf(RecordID);
    if (!Slot || !Used(*Slot)) return false;
    FSlots[*Slot].reset();
    --FRecordCount;
    ++FTableState;
    return true;
  }
  void GetRecordBuffer(TVLTSessionID, TVLTNavigationInfo& N) override {
    auto Read = [&](size_t Slot) {
      N.RecordID = IDOfSlot(Slot);
      if (N.RecordBuffer) std::memcpy(N.RecordBuffer, FSlots[Slot]->data(), FSlots[Slot]->size());
      N.FirstPosition = N.LastPosition = false;
      N.GetRecordResult = grrOK;
    };
    if (N.GetRecordMode == grmCurrent) {
      auto Slot = SlotOf(N.RecordID);
      if (Slot && Used(*Slot))
        Read(*Slot);
      else
        N.GetRecordResult = grrError;
      return;
    }
    const bool Forward = N.GetRecordMode == grmNext;
    int64_t Start;
    if (Forward)
      Start = N.FirstPosition ? 0 : (N.LastPosition ? static_cast<int64_t>(FSlots.size())
                                                    : static_cast<int64_t>(*SlotOf(N.RecordID)) + 1);
    else
      Start = N.LastPosition ? static_cast<int64_t>(FSlots.size()) - 1
                             : (N.FirstPosition ? -1 : static_cast<int64_t>(*SlotOf(N.RecordID)) - 1);
    for (int64_t S = Start; S >= 0 && S < static_cast<int64_t>(FSlots.size()); S += Forward ? 1 : -1)
      if (Used(static_cast<size_t>(S))) {
        Read(static_cast<size_t>(S));
        return;
      }
    N.GetRecordResult = Forward ? grrEOF : grrBOF;
    N.LastPosition = Forward;
    N.FirstPosition = !Forward;
  }
  int CompareRecordID(const TVLTPageItemID& A, const TVLTPageItemID& B) override {
    return A < B ? -1 : (B < A ? 1 : 0);
  }
  int64_t GetApproximateRecNo(TVLTSessionID, const TVLTPageItemID& ID) override {
    int64_t N = 0;
    for (size_t S = 0; S < FSlots.size(); ++S)
      if (Used(S)) {
        ++N;
        if (IDOfSlot(S) == ID) return N;
      }
    return -1;
  }

  bool FailAdd = false, FailUpdate = false, FailDelete = false;

 private:
  TLog* FLog;
  std::vector<std::optional<std::vector<uint8_t>>> FSlots;
};

class TTestIndexPosition : public TVLTIndexPosition {
 public:
  int64_t EntryNo = -1;
};

// Entries are sorted by the index columns (NULL first, descending columns reversed), ties by
// record identifier.
class TTestIndex : public TVLTIndex {
 public:
  struct TEntry {
    std::vector<uint8_t> Record;
    TVLTPageItemID ID;
  };

  TTestIndex(const TVLTIndexSite& Site, TLog* Log) : TVLTIndex(Site), FLog(Log) {}

  static inline std::string FailInsertFor;  // index name whose InsertRecord throws
  static inline std::string FailUpdateAfterFor;

  const std::vector<TEntry>& Entries() const { return FEntries; }
  std::string Name() const { return FIndexDef ? FIndexDef->FName : std::string(); }

  TVLTTableData& Table() const { return *FSite->TableData; }
  TVLTBaseRecordManager& RM() const { return *Table().RecordManager(); }

  int CompareColumns(const uint8_t* A, const uint8_t* B, int32_t Count) const {
    TVLTBaseFieldManager& FM = *Table().FieldManager();
    for (int32_t I = 0; I < Count && I < FIndexDef->ColumnCount(); ++I) {
      const TVLTIndexColumn& C = FIndexDef->FIndexColumns[static_cast<size_t>(I)];
      const int32_t FieldNo = FM.FieldDefs().GetDefNumberByName(C.FFieldName);
      TVLTVariant VA, VB;
      FM.GetFieldValue(FieldNo, A, VA);
      FM.GetFieldValue(FieldNo, B, VB);
      int R = 0;
      switch (VA.Compare(VB, false, C.FCaseInsensitive, false)) {
        case vcrLess: R = -1; break;
        case vcrGreater: R = 1; break;
        default: R = 0;
      }
      if (C.FDescending) R = -R;
      if (R != 0) return R;
    }
    return 0;
  }
  bool Less(const TEntry& E, const uint8_t* Record, const TVLTPageItemID& ID) const {
    const int C = CompareColumns(E.Record.data(), Record, FIndexDef->ColumnCount());
    return C < 0 || (C == 0 && E.ID < ID);
  }
  void AddEntry(const uint8_t* Record, const TVLTPageItemID& ID) {
    auto It = std::find_if(FEntries.begin(), FEntries.end(),
                           [&](const TEntry& E) { return !Less(E, Record, ID); });
    FEntries.insert(It, TEntry{std::vector<uint8_t>(Record, Record + RM().FRecordBufferSize), ID});
  }
  int64_t FindID(const TVLTPageItemID& ID) const {
    for (size_t I = 0; I < FEntries.size(); ++I)
      if (FEntries[I].ID == ID) return static_cast<int64_t>(I);
    return -1;
  }
  void LoadAll(TVLTSessionID S) {
    FEntries.clear();
    std::vector<uint8_t> Buf(static_cast<size_t>(RM().FRecordBufferSize));
    TVLTNavigationInfo N;
    N.FirstPosition = true;
    N.RecordBuffer = Buf.data();
    for (;;) {
      N.GetRecordMode = grmNext;
      RM().GetRecordBuffer(S, N);
      if (N.GetRecordResult != grrOK) break;
      AddEntry(Buf.data(), N.RecordID);
    }
  }

  void CreateIndex(TVLTTableCursor* Cursor, TVLTIndexDef& Def) override {
    TVLTIndex::CreateIndex(Cursor, Def);
    Def.FRootPageNo = FIndexDef->FRootPageNo = 1;
    if (FLog) FLog->push_back("idx." + Name() + ".create");
    FEntries.clear();
    if (Cursor) LoadAll(Cursor->SessionID());
  }
  void OpenIndex(const TVLTIndexDef& Def) override { TVLTIndex::OpenIndex(Def); }
  void DropIndex(TVLTSessionID) override { FEntries.clear(); }
  void EmptyIndex(TVLTSessionID) override { FEntries.clear(); }
  void RebuildTemporaryIndex(TVLTTableCursor* Cursor) override {
    if (FLog) FLog->push_back("idx." + Name() + ".rebuild");
    LoadAll(Cursor ? Cursor->SessionID() : kSystemSessionID);
  }
  void Move(TVLTSessionID S, TVLTNavigationInfo& N, int64_t From) {
    const bool Forward = N.GetRecordMode == grmNext;
    const int64_t To = From + (Forward ? 1 : -1);
    if (To < 0 || To >= static_cast<int64_t>(FEntries.size())) {
      N.GetRecordResult = Forward ? grrEOF : grrBOF;
      N.LastPosition = Forward;
      N.FirstPosition = !Forward;
      return;
    }
    N.RecordID = FEntries[static_cast<size_t>(To)].ID;
    N.GetRecordMode = grmCurrent;
    RM().GetRecordBuffer(S, N);
    N.GetRecordMode = Forward ? grmNext : grmPrior;
  }
  void GetRecordBuffer(TVLTSessionID S, TVLTNavigationInfo& N, int32_t, TVLTIndexPositionCache*) override {
    if (N.GetRecordMode == grmCurrent) throw EVLTException(20053, "Invalid 'get record' mode for index: grmCurrent");
    if (N.FirstPosition) return Move(S, N, -1);
    if (N.LastPosition) return Move(S, N, static_cast<int64_t>(FEntries.size()));
    const int64_t At = FindID(N.RecordID);
    if (At < 0) {
      N.GetRecordResult = grrError;
      return;
    }
    Move(S, N, At);
  }
  void GetClosestRecordBuffer(TVLTSessionID S, TVLTNavigationInfo& N, int32_t, TVLTIndexPositionCache*) override {
    // The first entry after (next) / the last before (prior) the key values in the buffer.
    const bool Forward = N.GetRecordMode == grmNext;
    int64_t From = Forward ? static_cast<int64_t>(FEntries.size()) : -1;
    for (size_t I = 0; I < FEntries.size(); ++I)
      if (!Less(FEntries[I], N.RecordBuffer, N.RecordID)) {
        From = static_cast<int64_t>(I) - (Forward ? 1 : 0);
        break;
      }
    if (!Forward && From == -1) From = static_cast<int64_t>(FEntries.size());
    Move(S, N, Forward ? From : From);
  }
  std::unique_ptr<TVLTIndexPosition> CreateIndexPosition() override {
    return std::make_unique<TTestIndexPosition>();
  }
  bool GetIndexPosition(TVLTSessionID, const TVLTPageItemID& ID, TVLTIndexPosition& P, const uint8_t*) override {
    static_cast<TTestIndexPosition&>(P).EntryNo = FindID(ID);
    return static_cast<TTestIndexPosition&>(P).EntryNo >= 0;
  }
  TVLTPageItemID GetRecordIDByIndexPosition(TVLTSessionID, const TVLTIndexPosition& P) override {
    return FEntries.at(static_cast<size_t>(static_cast<const TTestIndexPosition&>(P).EntryNo)).ID;
  }
  int64_t IndexPositionToBitNo(const TVLTIndexPosition& P) override {
    return static_cast<const TTestIndexPosition&>(P).EntryNo + 1;
  }
  void BitNoToIndexPosition(int64_t BitNo, TVLTIndexPosition& P) override {
    static_cast<TTestIndexPosition&>(P).EntryNo = BitNo - 1;
  }
  int32_t GetMaxEntriesPerPage() override { return 100; }
  int64_t GetRecNoByRecordID(TVLTSessionID, const TVLTPageItemID& ID, const uint8_t*) override {
    const int64_t At = FindID(ID);
    return At < 0 ? -1 : At + 1;
  }
  TVLTPageItemID GetRecordIDByRecNo(TVLTSessionID, int64_t RecNo) override {
    return FEntries.at(static_cast<size_t>(RecNo - 1)).ID;
  }
  void ApplyDistinctToRecordBitmap(TVLTSessionID, TVLTRecordBitmap* Bitmap, int32_t Count) override {
    const TEntry* Group = nullptr;
    for (size_t I = 0; I < FEntries.size(); ++I) {
      const int64_t Bit = static_cast<int64_t>(I) + 1;
      if (!Bitmap->IsRecordVisible(Bit)) continue;
      if (Group && CompareColumns(Group->Record.data(), FEntries[I].Record.data(), Count) == 0)
        Bitmap->SetBitValue(Bit, false);
      else
        Group = &FEntries[I];
    }
  }
  int CompareRecordBuffersByIndex(const uint8_t* A, const uint8_t* B, int32_t Count) override {
    return CompareColumns(A, B, Count);
  }
  bool CanInsertRecord(TVLTSessionID, const uint8_t* Record) override {
    if (!FIndexDef->FUnique && !FIndexDef->FPrimary) return true;
    for (const TEntry& E : FEntries)
      if (CompareColumns(E.Record.data(), Record, FIndexDef->ColumnCount()) == 0) return false;
    return true;
  }
  bool CanUpdateRecord(TVLTSessionID S, const uint8_t* Old, const uint8_t* New) override {
    if (CompareColumns(Old, New, FIndexDef->ColumnCount()) == 0) return true;
    return CanInsertRecord(S, New);
  }
  void InsertRecord(TVLTTableCursor& C) override {
    if (FLog) FLog->push_back("idx." + Name() + ".insert");
    if (FailInsertFor == Name()) throw EVLTException(29999, "index insert failed");
    AddEntry(C.FCurrentRecordBuffer, C.CurrentRecordID);
  }
  void DeleteRecord(TVLTTableCursor& C) override {
    if (FLog) FLog->push_back("idx." + Name() + ".delete");
    const int64_t At = FindID(C.CurrentRecordID);
    if (At < 0) throw EVLTException(20027, "Index error: cannot delete entry. Entry not found");
    FEntries.erase(FEntries.begin() + At);
  }
  void UpdateRecord(TVLTTableCursor& C, bool Before) override {
    if (FLog) FLog->push_back("idx." + Name() + (Before ? ".update-before" : ".update-after"));
    if (!Before && FailUpdateAfterFor == Name()) throw EVLTException(29998, "index update failed");
    if (CompareColumns(C.FEditRecordBuffer, C.FCurrentRecordBuffer, FIndexDef->ColumnCount()) == 0)
      return;
    if (Before) {
      const int64_t At = FindID(C.CurrentRecordID);
      if (At < 0) throw EVLTException(20250, "Index error: cannot delete entry. Entry not found");
      FEntries.erase(FEntries.begin() + At);
    } else {
      AddEntry(C.FCurrentRecordBuffer, C.CurrentRecordID);
    }
  }

 private:
  TLog* FLog;
  std::vector<TEntry> FEntries;
};

class TTestTableData : public TVLTTableData {
 public:
  TTestTableData(TVLTDatabaseData* DB, std::string Name, TLog* Log)
      : TVLTTableData(DB, std::move(Name)), FLog(Log) {}

  void CreateRecordManager() override { FRecordManager = std::make_unique<TTestRecordManager>(FLog); }
  std::unique_ptr<TVLTIndex> NewIndex(const TVLTIndexSite& Site) override {
    return std::make_unique<TTestIndex>(Site, FLog);
  }
  int64_t GetRecordBitmapSize() override { return static_cast<int64_t>(Records().SlotCount()); }
  int64_t RecordIDToBitNo(const TVLTPageItemID& ID) override { return ID.PageNo * 4 + ID.PageItemNo; }
  TVLTPageItemID BitNoToRecordID(int64_t BitNo) override {
    return TTestRecordManager::IDOfSlot(static_cast<size_t>(BitNo));
  }
  void InternalSetRecNo(TVLTTableCursor& C, int64_t RecNo) override {
    int64_t N = 0;
    for (size_t S = 0; S < Records().SlotCount(); ++S)
      if (Records().Used(S) && ++N == RecNo) {
        C.CurrentRecordID = TTestRecordManager::IDOfSlot(S);
        return;
      }
  }
  int64_t InternalGetRecNo(TVLTTableCursor& C) override {
    return Records().GetApproximateRecNo(C.SessionID(), C.CurrentRecordID);
  }
  int64_t InternalGetRecordCount(TVLTTableCursor&) override { return FRecordManager->FRecordCount; }
  void WriteBLOBs(TVLTTableCursor&) override { Log("blobs.write"); }
  void DeleteBLOBs(TVLTTableCursor&) override { Log("blobs.delete"); }
  void SaveMostUpdated(TVLTSessionID) override { Log("mostupdated.save"); }
  void LoadMostUpdated(TVLTSessionID) override { Log("mostupdated.load"); }
  void ApplyChanges(TVLTSessionID S, bool InTransaction) override {
    Log(InTransaction ? "apply(tx)" : "apply");
    TVLTTableData::ApplyChanges(S, InTransaction);
  }

  TTestRecordManager& Records() const { return static_cast<TTestRecordManager&>(*FRecordManager); }
  TTestIndex& Index(const std::string& Name) {
    const TVLTIndexDef* Def = FIndexManager->IndexDefs().GetIndexDefByName(Name);
    return static_cast<TTestIndex&>(FIndexManager->OpenIndex(Def->FObjectID));
  }

 private:
  void Log(const std::string& S) {
    if (FLog) FLog->push_back(S);
  }
  TLog* FLog;
};

class TTestDatabaseData : public TVLTDatabaseData {
 public:
  explicit TTestDatabaseData(TLog* Log = nullptr) : TVLTDatabaseData("TestDB"), FLog(Log) {}
  std::unique_ptr<TVLTTableData> CreateTableData(TVLTTableCursor& Cursor) override {
    return std::make_unique<TTestTableData>(this, Cursor.FTableName, FLog);
  }

 private:
  TLog* FLog;
};

// ---- building tables ----

inline TVLTFieldDef& AddField(TVLTFieldDefs& Defs, const std::string& Name,
                              TVLTAdvancedFieldType Type, int32_t Size = 0) {
  TVLTFieldDef& F = Defs.AddNew();
  F.SetName(Name);
  F.SetFieldDefDataType(Type, Size);
  return F;
}

inline TVLTIndexDef& AddIndexDef(TVLTIndexDefs& Defs, const std::string& Name,
                                 const std::vector<std::string>& Columns, bool Unique = false,
                                 bool Primary = false) {
  TVLTIndexDef& D = Defs.AddNew();
  D.SetName(Name);
  D.AssignByNames(Columns, std::vector<std::string>(Columns.size(), "ASC"),
                  std::vector<std::string>(Columns.size(), "CASE"));
  D.FUnique = Unique;
  D.FPrimary = Primary;
  return D;
}

// A database, one table on it and one open cursor with its own record buffers.
struct TTestTable {
  TLog Log;
  TTestDatabaseData DB{&Log};
  TVLTSessionData Session;
  TVLTTableCursor Cursor;
  TTestTableData* Table = nullptr;
  std::vector<uint8_t> Buffer, EditBuffer;

  TTestTable(const TVLTFieldDefs& Fields, const TVLTIndexDefs& Indexes,
             const TVLTConstraintDefs& Constraints, const std::string& Name = "T") {
    DB.ConnectSession(Session);
    Cursor.FSession = &Session;
    Cursor.FTableName = Name;
    Table = static_cast<TTestTableData*>(DB.FindOrCreateTableData(Cursor));
    Table->CreateTable(Cursor, Fields, Constraints, Indexes);
    Table->OpenTable(Cursor);
    const size_t Size = static_cast<size_t>(Table->RecordManager()->FRecordBufferSize);
    Buffer.assign(Size, 0);
    EditBuffer.assign(Size, 0);
    Cursor.FCurrentRecordBuffer = Buffer.data();
    Cursor.FEditRecordBuffer = EditBuffer.data();
    NewRecord();
  }
  ~TTestTable() {
    Table->CloseTable(Cursor);
    DB.DisconnectSession(Session);
  }

  TVLTBaseFieldManager& Fields() { return *Table->FieldManager(); }
  void NewRecord() { Fields().InitRecordBuffer(Buffer.data()); }
  void SetInt(int32_t FieldNo, int32_t V) { Fields().SetFieldData(FieldNo, &V, Buffer.data()); }
  void SetNull(int32_t FieldNo) { Fields().SetFieldData(FieldNo, nullptr, Buffer.data()); }
  int32_t GetInt(int32_t FieldNo, const uint8_t* B = nullptr) {
    int32_t V = 0;
    if (!Fields().GetFieldData(FieldNo, &V, B ? B : Buffer.data())) return INT32_MIN;
    return V;
  }
  // Appends a record whose field 0 is V; returns its identifier.
  TVLTPageItemID InsertInt(int32_t V) {
    NewRecord();
    SetInt(0, V);
    if (!Table->InsertRecord(Cursor)) throw std::runtime_error("insert refused");
    return Cursor.CurrentRecordID;
  }
  // Positions the cursor on RecordID with its values in the buffer and a copy in the edit buffer.
  void GoTo(const TVLTPageItemID& RecordID) {
    Cursor.CurrentRecordID = RecordID;
    Cursor.FirstPosition = Cursor.LastPosition = false;
    if (Table->GetRecordBuffer(Cursor, grmCurrent) != grrOK)
      throw std::runtime_error("record not found");
    EditBuffer = Buffer;
  }
  // Field 0 of every record in the order Mode walks from the matching end.
  std::vector<int32_t> Walk(TVLTGetRecordMode Mode = grmNext) {
    std::vector<int32_t> Out;
    Cursor.FirstPosition = Mode == grmNext;
    Cursor.LastPosition = Mode == grmPrior;
    while (Table->GetRecordBuffer(Cursor, Mode) == grrOK) Out.push_back(GetInt(0));
    return Out;
  }
};

}  // namespace vlt::test
