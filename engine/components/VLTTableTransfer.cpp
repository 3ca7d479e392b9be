// Table transfers: import from another dataset, export into another table, restructuring,
// batch moves and the SQL text of a table.
//
// Records travel between datasets through field objects matched by name (restructuring
// matches by field object id first, so that a renamed field keeps its values). The source is
// only read: a source that was closed is closed again, an open one returns to its record.
#include <algorithm>
#include <charconv>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <set>

#include "engine/components/VLTDatabaseError.h"
#include "engine/components/VLTTable.h"
#include "engine/core/VLTExcept.h"
#include "engine/expr/VLTLocale.h"
#include "engine/protect/VLTStream.h"

namespace vlt {

namespace {

constexpr int32_t kTransferError = 30467;     // import, export and batch-move failures
constexpr int32_t kRestructureInTransaction = 30463;
constexpr int32_t kRestructureFailed = 30464;
constexpr int32_t kBatchMoveIndexError = 30468;

using TFieldPairs = std::vector<std::pair<TVLTField*, TVLTField*>>;  // source, destination

// Opens a dataset for the duration when it was closed; otherwise keeps its record (pending
// edits are posted first) and returns to it.
class TKeepDataSet {
 public:
  explicit TKeepDataSet(TVLTDataSet& DataSet) : FDataSet(DataSet), FWasActive(DataSet.Active()) {
    if (FWasActive) {
      FDataSet.CheckBrowseMode();
      if (!FDataSet.IsEmpty()) FBookmark = FDataSet.GetBookmark();
    } else {
      FDataSet.Open();
    }
  }
  ~TKeepDataSet() {
    try {
      if (!FWasActive) {
        FDataSet.Close();
      } else if (FDataSet.Active() && FDataSet.State() == dsBrowse && !FBookmark.empty() &&
                 FDataSet.BookmarkValid(FBookmark)) {
        FDataSet.GotoBookmark(FBookmark);
      }
    } catch (...) {
    }
  }
  TKeepDataSet(const TKeepDataSet&) = delete;
  TKeepDataSet& operator=(const TKeepDataSet&) = delete;

 private:
  TVLTDataSet& FDataSet;
  bool FWasActive;
  TVLTBookmark FBookmark;
};

// Fires an "after" event when the scope ends, also by error.
class TFireAfter {
 public:
  TFireAfter(const TVLTDataSet::TDataSetNotifyEvent& Event, TVLTTable& Table)
      : FEvent(Event), FTable(Table) {}
  ~TFireAfter() {
    if (!FEvent) return;
    try {
      FEvent(FTable);
    } catch (...) {
    }
  }
  TFireAfter(const TFireAfter&) = delete;
  TFireAfter& operator=(const TFireAfter&) = delete;

 private:
  const TVLTDataSet::TDataSetNotifyEvent& FEvent;
  TVLTTable& FTable;
};

bool IsDataField(const TVLTField& F) { return F.FFieldKind == fkData; }

// Copies one value. A NULL source leaves a new record's BLOB untouched (it is NULL already).
void CopyValue(const TVLTField& Source, TVLTField& Dest) {
  if (Source.IsNull()) {
    if (!Dest.IsBlob()) Dest.Clear();
    return;
  }
  Dest.SetAsVariant(Source.AsVariant());
}

// Every data field of Source that Dest has under the same name and may write.
TFieldPairs PairByName(TVLTDataSet& Source, TVLTDataSet& Dest) {
  TFieldPairs Out;
  for (int32_t I = 0; I < Source.FieldCount(); ++I) {
    TVLTField& S = Source.Fields(I);
    if (!IsDataField(S)) continue;
    TVLTField* D = Dest.FindField(S.FieldName());
    if (D && IsDataField(*D) && !D->FReadOnly) Out.emplace_back(&S, D);
  }
  return Out;
}

void CopyFields(const TFieldPairs& Pairs) {
  for (const auto& [S, D] : Pairs) CopyValue(*S, *D);
}

// Appends every record of Source (from its first) to Dest. Without a log the first error is
// raised; with one, a field that cannot be copied is left NULL and a record that cannot be
// posted is skipped, each with a log line. False when the progress handler stopped it.
bool AppendRecords(TVLTDataSet& Source, TVLTTable& Dest, const TFieldPairs& Pairs,
                   std::string* Log, const std::string& What, const std::string& TableName,
                   TVLTTable& Reporter, const TVLTTable::TProgressEvent& Progress,
                   int64_t* Count = nullptr) {
  const int64_t Total = std::max<int64_t>(1, Source.RecordCount());
  int64_t RecNo = 0;
  for (Source.First(); !Source.Eof(); Source.Next()) {
    ++RecNo;
    Dest.Append();
    for (const auto& [S, D] : Pairs) {
      try {
        CopyValue(*S, *D);
      } catch (const std::exception& E) {
        if (!Log) {
          Dest.Cancel();
          throw;
        }
        *Log += "Error " + What + " table \"" + TableName + "\". Record #" +
                std::to_string(RecNo) + ", field '" + S->FieldName() +
                "' was copied with Null value due to error: " + E.what() + "\n";
      }
    }
    try {
      Dest.Post();
      if (Count) ++*Count;
    } catch (const std::exception& E) {
      try {
        Dest.Cancel();
      } catch (...) {
      }
      if (!Log) throw;
      *Log += "Error " + What + " table \"" + TableName + "\". Record #" + std::to_string(RecNo) +
              " was not imported due to error: " + E.what() + "\n\n";
    }
    if (Progress) {
      bool Continue = true;
      Progress(Reporter, static_cast<int32_t>(std::min(RecNo, Total) * 100 / Total), Continue);
      if (!Continue) {
        if (Log) *Log += "Terminated by User.\n";
        return false;
      }
    }
  }
  return true;
}

// The database file behind a dataset's database name ("" when there is none).
std::string DatabaseFileOf(const std::string& SessionName, const std::string& DatabaseName) {
  try {
    TVLTSession* S = VLTSessions().GetSession(SessionName);
    auto* Db = S ? dynamic_cast<TVLTDatabase*>(S->FindDatabase(DatabaseName)) : nullptr;
    return Db ? Db->DatabaseFileName() : std::string();
  } catch (...) {
    return {};
  }
}

// Two names of one existing database file.
bool SameFile(const std::string& A, const std::string& B) {
  if (A.empty() || B.empty()) return false;
  std::error_code E1, E2;
  const auto CA = std::filesystem::weakly_canonical(A, E1);
  const auto CB = std::filesystem::weakly_canonical(B, E2);
  return !E1 && !E2 ? CA == CB : A == B;
}

// A table component on TableName of that database, closed.
void PointAt(TVLTTable& T, const std::string& SessionName, const std::string& DatabaseName,
             const std::string& TableName) {
  T.FSessionName = SessionName;
  T.SetDatabaseName(DatabaseName);
  T.SetTableName(TableName);
}

// A name "OLD_" + TableName (with a number when taken) that no table of the database has.
std::string FreeOldName(const std::string& SessionName, const std::string& DatabaseName,
                        const std::string& TableName) {
  TVLTTable Probe;
  std::string Name = "OLD_" + TableName;
  PointAt(Probe, SessionName, DatabaseName, Name);
  for (int32_t N = 2; Probe.Exists(); ++N) {
    Name = "OLD_" + TableName + "_" + std::to_string(N);
    Probe.SetTableName(Name);
  }
  return Name;
}

// Runs Build, which creates TableName and fills it, so that a table of that name is replaced
// only when Build completes: the old table waits under an "OLD_" name and gets its name back
// when Build raises or answers false (stopped); a table Build left behind is deleted then.
bool ReplaceAllOrNothing(const std::string& SessionName, const std::string& DatabaseName,
                         const std::string& TableName, std::string* Log,
                         const std::function<bool()>& Build) {
  TVLTTable Probe;
  PointAt(Probe, SessionName, DatabaseName, TableName);
  std::string OldName;
  if (Probe.Exists()) {
    OldName = FreeOldName(SessionName, DatabaseName, TableName);
    Probe.RenameTable(OldName);
    Probe.SetTableName(TableName);
  }
  auto Undo = [&] {
    if (Probe.Exists()) Probe.DeleteTable();
    if (OldName.empty()) return;
    TVLTTable Old;
    PointAt(Old, SessionName, DatabaseName, OldName);
    Old.RenameTable(TableName);
  };
  bool Done = false;
  try {
    Done = Build();
  } catch (const std::exception& E) {
    try {
      Undo();
    } catch (const std::exception& U) {
      throw EVLTException(kTransferError, "%s. The original table '%s' is kept as '%s' (%s)",
                          {std::string(E.what()), TableName, OldName, std::string(U.what())});
    }
    throw;
  }
  if (!Done) {
    Undo();
    return false;
  }
  if (!OldName.empty()) {
    try {
      TVLTTable Old;
      PointAt(Old, SessionName, DatabaseName, OldName);
      Old.DeleteTable();
    } catch (const std::exception& E) {
      if (Log) *Log += "Table '" + OldName + "' could not be deleted: " + E.what() + "\n";
    }
  }
  return true;
}

// ---- SQL text ----

std::string QuoteName(const std::string& Name) {
  std::string Out = "\"";
  for (char C : Name) Out += C == '"' ? std::string("\"\"") : std::string(1, C);
  return Out + "\"";
}

std::string QuoteText(const std::string& Text) {
  std::string Out = "'";
  for (char C : Text) Out += C == '\'' ? std::string("''") : std::string(1, C);
  return Out + "'";
}

std::string FloatText(double V) {
  char Buf[64];
  const auto R = std::to_chars(Buf, Buf + sizeof Buf, V);
  return std::string(Buf, R.ptr);
}

std::string DateText(int32_t DayNumber) {
  int Y = 0, M = 0, D = 0;
  DecodeDayNumber(DayNumber, Y, M, D);
  char Buf[32];
  std::snprintf(Buf, sizeof Buf, "%04d-%02d-%02d", Y, M, D);
  return Buf;
}

std::string TimeText(int32_t MSecs) {
  char Buf[32];
  std::snprintf(Buf, sizeof Buf, "%02d:%02d:%02d.%03d", MSecs / 3600000, MSecs / 60000 % 60,
                MSecs / 1000 % 60, MSecs % 1000);
  return Buf;
}

std::string HexText(const uint8_t* Data, int32_t Size) {
  static const char* Digits = "0123456789ABCDEF";
  std::string Out = "X'";
  for (int32_t I = 0; I < Size; ++I) {
    Out += Digits[Data[I] >> 4];
    Out += Digits[Data[I] & 15];
  }
  return Out + "'";
}

// A value as an SQL literal.
std::string SqlLiteral(const TVLTVariant& V) {
  if (V.IsNull()) return "NULL";
  const TVLTBaseFieldType T = V.DataType();
  if (T == bftLogical) return V.AsBoolean() ? "TRUE" : "FALSE";
  if (IsIntegerBaseType(T)) return std::to_string(V.AsInt64());
  if (IsFloatBaseType(T)) return FloatText(V.AsDouble());
  if (T == bftDate) return QuoteText(DateText(V.AsVLTDate()));
  if (T == bftTime) return QuoteText(TimeText(V.AsVLTTime()));
  if (T == bftDateTime) {
    const TVLTDateTime DT = V.AsVLTDateTime();
    return QuoteText(DateText(DT.Date) + " " + TimeText(DT.Time));
  }
  if (T == bftBytes || T == bftVarBytes || T == bftBlob || T == bftBFile)
    return HexText(V.Data(), V.DataSize());
  return QuoteText(V.AsAnsiString());
}

const char* CompressionName(TVLTCompressionAlgorithm A) {
  switch (A) {
    case acaZLIB: return "ZLIB";
    case acaBZIP: return "BZIP";
    case acaPPM: return "PPM";
    default: return "NONE";
  }
}

bool IsAutoIncType(TVLTAdvancedFieldType T) { return T >= aftAutoInc && T <= aftAutoIncCardinal; }

bool IsSizedSqlType(TVLTAdvancedFieldType T) {
  return (T >= aftChar && T <= aftWideString) || T == aftBytes || T == aftVarBytes;
}

std::string ColumnList(const TVLTAdvIndexDef& D, bool WithOrder) {
  const auto Names = VLTSplitFieldList(D.FFields);
  const auto Desc = VLTSplitFieldList(D.FDescFields);
  const auto CaseIns = VLTSplitFieldList(D.FCaseInsFields);
  auto Listed = [](const std::vector<std::string>& L, const std::string& N) {
    return std::any_of(L.begin(), L.end(), [&](const std::string& S) { return SameText(S, N); });
  };
  std::string Out;
  for (const auto& N : Names) {
    if (!Out.empty()) Out += ", ";
    Out += QuoteName(N);
    if (!WithOrder) continue;
    if (Listed(CaseIns, N)) Out += " COLLATE NOCASE";
    if (Listed(Desc, N)) Out += " DESC";
  }
  return Out;
}

}  // namespace

// ---- import and export ----

bool TVLTTable::ImportTable(TVLTDataSet& SourceTable) {
  return DoImport(SourceTable, nullptr, nullptr);
}

bool TVLTTable::ImportTable(TVLTDataSet& SourceTable, std::string& Log,
                            const std::vector<TVLTComponentIndexDef>& aIndexDefs) {
  return DoImport(SourceTable, &Log, &aIndexDefs);
}

bool TVLTTable::DoImport(TVLTDataSet& Source, std::string* Log,
                         const std::vector<TVLTComponentIndexDef>* IndexDefsIn) {
  CheckInactive();
  CheckTableName();
  if (&Source == this) DatabaseError("Cannot import a table into itself");
  auto* SrcTable = dynamic_cast<TVLTTable*>(&Source);
  // Re-creating the source itself would destroy it.
  if (SrcTable && SameText(SrcTable->TableName(), FTableName) &&
      SameFile(DatabaseFileOf(Source.FSessionName, Source.DatabaseName()),
               DatabaseFileOf(FSessionName, FDatabaseName)))
    throw EVLTException(30447, "Cannot copy table '%s.%s' into it self",
                        {FDatabaseName, FTableName});
  TKeepDataSet KeepSource(Source);
  if (BeforeImport) BeforeImport(*this);
  TFireAfter After(AfterImport, *this);

  TVLTAdvFieldDefs Fields;
  for (int32_t I = 0; I < Source.FieldCount(); ++I) {
    const TVLTField& F = Source.Fields(I);
    if (!IsDataField(F)) continue;
    const TVLTAdvFieldDef* Known =
        SrcTable ? SrcTable->RestructureFieldDefs().Find(F.FieldName()) : nullptr;
    if (Known) {
      TVLTAdvFieldDef& A = Fields.AddFieldDef();
      A = *Known;
      A.FObjectID = kNoObjectID;
    } else {
      Fields.Add(F.FieldName(), AdvancedTypeOfComponentType(F.DataType()), F.Size(), F.FRequired);
    }
  }
  if (Fields.Count() == 0)
    throw EVLTException(kTransferError, "Cannot import table '%s': the source has no fields",
                        {FTableName});
  TVLTAdvIndexDefs Indexes;
  if (IndexDefsIn) {
    for (const auto& D : *IndexDefsIn) {
      if (D.Options & ixExpression) {
        const std::string Text =
            "Cannot import index '" + D.Name + "'. Index type is not supported, index skipped";
        if (Log) *Log += Text + "\n";
        continue;
      }
      Indexes.Add(D.Name, D.Fields, D.Options, false, D.DescFields, D.CaseInsFields);
    }
  } else if (SrcTable) {
    Indexes.Assign(SrcTable->RestructureIndexDefs(), true);
  }
  FAdvFieldDefs.Assign(Fields);
  FAdvIndexDefs.Assign(Indexes);
  FieldDefs.clear();
  IndexDefs.clear();
  return ReplaceAllOrNothing(FSessionName, FDatabaseName, FTableName, Log, [&] {
    CreateTable();
    Open();
    bool Result = false;
    try {
      Result = AppendRecords(Source, *this, PairByName(Source, *this), Log, "importing",
                             FTableName, *this, OnImportProgress);
    } catch (...) {
      Close();
      throw;
    }
    Close();
    return Result;
  });
}

bool TVLTTable::ExportTable(TVLTTable& DestinationTable, bool CreateDestinationTable) {
  return DoExport(DestinationTable, CreateDestinationTable, nullptr);
}

bool TVLTTable::ExportTable(TVLTTable& DestinationTable, bool CreateDestinationTable,
                            std::string& Log) {
  return DoExport(DestinationTable, CreateDestinationTable, &Log);
}

bool TVLTTable::DoExport(TVLTTable& Dest, bool CreateDest, std::string* Log) {
  CheckTableName();
  if (&Dest == this) DatabaseError("Cannot export a table into itself");
  if (SameText(Dest.TableName(), FTableName) &&
      SameFile(DatabaseFileOf(Dest.FSessionName, Dest.DatabaseName()),
               DatabaseFileOf(FSessionName, FDatabaseName)))
    throw EVLTException(30447, "Cannot copy table '%s.%s' into it self",
                        {FDatabaseName, FTableName});
  TKeepDataSet KeepSelf(*this);
  if (BeforeExport) BeforeExport(*this);
  TFireAfter After(AfterExport, *this);
  auto Fill = [&] {
    TKeepDataSet KeepDest(Dest);
    return AppendRecords(*this, Dest, PairByName(*this, Dest), Log, "exporting", FTableName, *this,
                         OnExportProgress);
  };
  if (!CreateDest) return Fill();
  Dest.Close();
  Dest.AdvFieldDefs().Assign(FRestructureFieldDefs);
  Dest.AdvIndexDefs().Assign(FRestructureIndexDefs, true);
  Dest.FieldDefs.clear();
  Dest.IndexDefs.clear();
  return ReplaceAllOrNothing(Dest.FSessionName, Dest.DatabaseName(), Dest.TableName(), Log, [&] {
    Dest.CreateTable();
    return Fill();
  });
}

// ---- restructuring ----

bool TVLTTable::RestructureTable() { return DoRestructure(nullptr); }

bool TVLTTable::RestructureTable(std::string& Log) { return DoRestructure(&Log); }

bool TVLTTable::DoRestructure(std::string* Log) {
  CheckTableName();
  if (FRestructureFieldDefs.Count() == 0)
    throw EVLTException(kRestructureFailed,
                        "Cannot restructure table '%s': no field definitions (open the table "
                        "first)",
                        {FTableName});
  const bool WasActive = Active();
  if (WasActive) CheckBrowseMode();
  TVLTAdvFieldDefs NewFields;
  NewFields.Assign(FRestructureFieldDefs);
  TVLTAdvIndexDefs NewIndexes;
  NewIndexes.Assign(FRestructureIndexDefs, true);
  Close();

  const std::string Name = FTableName;
  std::string OldName = "OLD_" + Name;
  OpenDatabase();
  try {
    if (FDatabase->InTransaction())
      throw EVLTException(kRestructureInTransaction,
                          "Cannot perform '%s' operation on a database in a transaction",
                          {std::string("RestructureTable")});
    // A table of that name may be left from an earlier run: it is never touched.
    for (int32_t N = 2; FDatabase->TableExists(OldName); ++N)
      OldName = "OLD_" + Name + "_" + std::to_string(N);
  } catch (...) {
    CloseDatabase();
    throw;
  }
  CloseDatabase();

  if (BeforeRestructure) BeforeRestructure(*this);
  TFireAfter After(AfterRestructure, *this);
  auto TableOn = [&](TVLTTable& T, const std::string& TableName) {
    T.FName = FName;
    T.FSessionName = FSessionName;
    T.SetDatabaseName(FDatabaseName);
    T.SetTableName(TableName);
  };

  RenameTable(OldName);
  FTableName = Name;
  bool Created = false;
  try {
    TVLTTable NewT;
    TableOn(NewT, Name);
    NewT.AdvFieldDefs().Assign(NewFields);
    NewT.AdvIndexDefs().Assign(NewIndexes);
    NewT.CreateTable();
    Created = true;
    TVLTTable OldT;
    TableOn(OldT, OldName);
    OldT.Open();
    NewT.Open();
    // Each new field takes the old field of its object id, else the one of its name.
    TFieldPairs Pairs;
    for (int32_t I = 0; I < NewFields.Count(); ++I) {
      const TVLTAdvFieldDef& Def = NewFields[I];
      TVLTField* D = NewT.FindField(Def.FName);
      if (!D) continue;
      TVLTField* S = nullptr;
      if (Def.FObjectID != kNoObjectID && OldT.Handle()->FFieldDefs) {
        const TVLTFieldDefs& OldDefs = *OldT.Handle()->FFieldDefs;
        for (int32_t K = 0; K < OldDefs.Count() && !S; ++K)
          if (OldDefs[K].FObjectID == Def.FObjectID) S = OldT.FindField(OldDefs[K].FName);
      }
      if (!S) S = OldT.FindField(Def.FName);
      if (S) Pairs.emplace_back(S, D);
    }
    if (!AppendRecords(OldT, NewT, Pairs, nullptr, "restructuring", Name, *this,
                       OnRestructureProgress))
      throw EVLTException(kRestructureFailed, "Terminated by User.");
    const int32_t OldCount = OldT.RecordCount(), NewCount = NewT.RecordCount();
    if (OldCount != NewCount)
      throw EVLTException(kRestructureFailed, "%d of %d records were copied",
                          {int64_t{NewCount}, int64_t{OldCount}});
    NewT.Close();
    OldT.Close();
  } catch (const std::exception& E) {
    // Give the old table its name back; the new one goes first.
    std::string Text = "Cannot restructure table '" + Name + "': " + E.what();
    try {
      if (Created) {
        TVLTTable NewT;
        TableOn(NewT, Name);
        NewT.DeleteTable();
      }
      TVLTTable OldT;
      TableOn(OldT, OldName);
      OldT.RenameTable(Name);
    } catch (const std::exception& Restore) {
      Text += ". The original data are kept in table '" + OldName + "' (" + Restore.what() + ")";
    }
    if (!Log) throw EVLTException(kRestructureFailed, Text);
    *Log += Text + "\n";
    if (WasActive) Open();
    return false;
  }
  try {
    TVLTTable OldT;
    TableOn(OldT, OldName);
    OldT.DeleteTable();
  } catch (const std::exception& E) {
    if (Log) *Log += "Table '" + OldName + "' could not be deleted: " + E.what() + "\n";
  }
  if (WasActive) Open();
  return true;
}

// ---- batch moves ----

int64_t TVLTTable::BatchMove(TVLTDataSet& Source, TVLTBatchMoveType MoveType,
                             const std::string& IndexName) {
  CheckTableName();
  if (&Source == this) DatabaseError("Cannot move records of a table into itself");
  int64_t Count = 0;
  if (MoveType == bmtCopy) {
    const bool WasOpen = Active();
    Close();
    if (BeforeBatchMove) BeforeBatchMove(*this);
    TFireAfter After(AfterBatchMove, *this);
    const TProgressEvent SavedImport = OnImportProgress;
    OnImportProgress = OnBatchMoveProgress;
    try {
      DoImport(Source, nullptr, nullptr);
    } catch (...) {
      OnImportProgress = SavedImport;
      throw;
    }
    OnImportProgress = SavedImport;
    Open();
    Count = RecordCount();
    if (!WasOpen) Close();
    return Count;
  }

  TKeepDataSet KeepSource(Source);
  const bool WasActive = Active();
  if (!WasActive) Open();
  CheckBrowseMode();
  const std::string SavedIndex = FIndexName;
  const bool SavedFieldsIndex = FFieldsIndex;
  auto RestoreIndex = [&] {
    if (SavedFieldsIndex) {
      SetIndexFieldNames(SavedIndex);
    } else {
      SetIndexName(SavedIndex);
    }
  };
  if (BeforeBatchMove) BeforeBatchMove(*this);
  TFireAfter After(AfterBatchMove, *this);
  try {
    const TFieldPairs Pairs = PairByName(Source, *this);
    if (MoveType == bmtAppend) {
      AppendRecords(Source, *this, Pairs, nullptr, "moving", FTableName, *this,
                    OnBatchMoveProgress, &Count);
    } else {
      // The index that identifies records: the named one, else the primary one.
      std::string Index = IndexName;
      for (int32_t I = 0; I < FRestructureIndexDefs.Count() && Index.empty(); ++I)
        if (FRestructureIndexDefs[I].FOptions & ixPrimary) Index = FRestructureIndexDefs[I].FName;
      if (Index.empty())
        throw EVLTException(kBatchMoveIndexError,
                            "Cannot move records into table '%s': no index identifies its records",
                            {FTableName});
      if (!FRestructureIndexDefs.Find(Index))
        throw EVLTException(kBatchMoveIndexError, "Index '%s' not found in table '%s'",
                            {Index, FTableName});
      SetIndexName(Index);
      std::vector<TVLTField*> KeySource;
      for (int32_t K = 0; K < IndexFieldCount(); ++K) {
        TVLTField* S = Source.FindField(IndexFields(K).FieldName());
        if (!S)
          throw EVLTException(kBatchMoveIndexError, "The source has no field '%s' of index '%s'",
                              {IndexFields(K).FieldName(), Index});
        KeySource.push_back(S);
      }
      std::set<TVLTBookmark> Matched;
      const int64_t Total = std::max<int64_t>(1, Source.RecordCount());
      int64_t RecNoMoved = 0;
      bool Continue = true;
      for (Source.First(); !Source.Eof() && Continue; Source.Next()) {
        ++RecNoMoved;
        std::vector<TVLTVariant> Key;
        for (TVLTField* S : KeySource) Key.push_back(S->AsVariant());
        const bool Found = FindKey(Key);
        if (MoveType == bmtDelete) {
          if (Found) {
            Delete();
            ++Count;
          }
        } else if (Found || MoveType != bmtUpdate) {
          if (Found) {
            Edit();
          } else {
            Append();
          }
          try {
            CopyFields(Pairs);
            Post();
          } catch (...) {
            Cancel();
            throw;
          }
          ++Count;
          if (MoveType == bmtSynchronize) Matched.insert(GetBookmark());
        }
        if (OnBatchMoveProgress)
          OnBatchMoveProgress(*this, static_cast<int32_t>(std::min(RecNoMoved, Total) * 100 / Total),
                              Continue);
      }
      if (MoveType == bmtSynchronize && Continue) {
        First();
        while (!Eof()) {
          if (Matched.count(GetBookmark())) {
            Next();
          } else {
            Delete();
            ++Count;
          }
        }
      }
    }
  } catch (...) {
    try {
      if (State() == dsBrowse) RestoreIndex();
      if (!WasActive) Close();
    } catch (...) {
    }
    throw;
  }
  RestoreIndex();
  if (!WasActive) Close();
  return Count;
}

// ---- SQL text ----

std::string TVLTTable::SqlText() {
  const TVLTExportToSqlOptions& O = FExportToSqlOptions;
  std::string Out;
  const std::string Table = QuoteName(FTableName);
  if (O.Structure) {
    if (O.AddDropTable) Out += "DROP TABLE " + Table + ";\n\n";
    Out += "CREATE TABLE " + Table + " (";
    std::string PrimaryKey;
    for (int32_t I = 0; I < FRestructureFieldDefs.Count(); ++I) {
      const TVLTAdvFieldDef& F = FRestructureFieldDefs[I];
      Out += std::string(I ? "," : "") + "\n  " + QuoteName(F.FName) + " " +
             std::string(SqlNameOfAdvanced(F.FDataType));
      if (IsSizedSqlType(F.FDataType)) Out += "(" + std::to_string(F.FSize) + ")";
      if (IsAutoIncType(F.FDataType) &&
          (F.FAutoincIncrement != 1 || F.FAutoincInitialValue != 0 || F.FAutoincMinValue != 0 ||
           F.FAutoincMaxValue != INT64_MAX || F.FAutoincCycled))
        Out += " AUTOINC(INCREMENT " + std::to_string(F.FAutoincIncrement) + ", INITIALVALUE " +
               std::to_string(F.FAutoincInitialValue) + ", MINVALUE " +
               std::to_string(F.FAutoincMinValue) + ", MAXVALUE " +
               std::to_string(F.FAutoincMaxValue) + (F.FAutoincCycled ? ", CYCLED)" : ")");
      if (O.BlobSettings && IsBlobAdvancedType(F.FDataType)) {
        Out += " BLOBBLOCKSIZE " + std::to_string(F.FBLOBBlockSize) + " BLOBCOMPRESSIONALGORITHM " +
               CompressionName(F.FBLOBCompressionAlgorithm);
        if (F.FBLOBCompressionAlgorithm != acaNone)
          Out += " BLOBCOMPRESSIONMODE " + std::to_string(F.FBLOBCompressionMode);
      }
      if (!F.FDefaultValue.IsNull()) Out += " DEFAULT " + SqlLiteral(F.FDefaultValue);
      if (F.FRequired) Out += " NOT NULL";
      if (!F.FMinValue.IsNull() && !F.FMaxValue.IsNull())
        Out += " CHECK (" + QuoteName(F.FName) + " BETWEEN " + SqlLiteral(F.FMinValue) + " AND " +
               SqlLiteral(F.FMaxValue) + ")";
      else if (!F.FMinValue.IsNull())
        Out += " CHECK (" + QuoteName(F.FName) + " >= " + SqlLiteral(F.FMinValue) + ")";
      else if (!F.FMaxValue.IsNull())
        Out += " CHECK (" + QuoteName(F.FName) + " <= " + SqlLiteral(F.FMaxValue) + ")";
    }
    std::string IndexStatements;
    for (int32_t I = 0; I < FRestructureIndexDefs.Count(); ++I) {
      const TVLTAdvIndexDef& D = FRestructureIndexDefs[I];
      if (D.FTemporary) continue;
      if (D.FOptions & ixPrimary) {
        std::string Name = "C_PK";
        for (const auto& N : VLTSplitFieldList(D.FFields)) Name += "$" + N;
        Out += ",\n  CONSTRAINT " + QuoteName(Name) + " PRIMARY KEY (" + ColumnList(D, false) + ")";
      }
      IndexStatements += std::string("CREATE ") + ((D.FOptions & (ixUnique | ixPrimary)) ? "UNIQUE " : "") +
                         "INDEX " + QuoteName(D.FName) + " ON " + Table + " (" +
                         ColumnList(D, true) + ");\n";
    }
    Out += "\n);\n";
    if (!IndexStatements.empty()) Out += "\n" + IndexStatements;
  }
  if (O.Data) {
    TVLTCursor& C = *FHandle;
    std::string Prefix = "INSERT INTO " + Table;
    if (O.FieldNamesInInserts) {
      Prefix += " (";
      for (int32_t I = 0; I < C.VisibleFieldCount(); ++I)
        Prefix += (I ? ", " : "") + QuoteName((*C.FVisibleFieldDefs)[I].FName);
      Prefix += ")";
    }
    Prefix += " VALUES (";
    if (O.Structure && RecordCount() > 0) Out += "\n";
    for (First(); !Eof(); Next()) {
      std::string Line = Prefix;
      for (int32_t I = 0; I < C.VisibleFieldCount(); ++I) {
        TVLTVariant V;
        C.GetFieldValue(V, I, false, FActiveBuffer);
        Line += (I ? ", " : "") + SqlLiteral(V);
      }
      Out += Line + ");\n";
    }
  }
  return Out;
}

std::string TVLTTable::ExportToSQL() {
  CheckTableName();
  TKeepDataSet Keep(*this);
  return SqlText();
}

void TVLTTable::ExportToSQL(TVLTStream& Stream) {
  const std::string Text = ExportToSQL();
  const int64_t Size = static_cast<int64_t>(Text.size());
  if (Stream.Write(Text.data(), Size) != Size)
    throw EVLTException(kTransferError, "Cannot write the SQL text of table '%s'", {FTableName});
}

void TVLTTable::ExportToSQL(const std::string& FileName) {
  const std::string Text = ExportToSQL();
  std::ofstream F(FileName, std::ios::binary | std::ios::trunc);
  if (F) F.write(Text.data(), static_cast<std::streamsize>(Text.size()));
  if (F) F.close();
  if (!F)
    throw EVLTException(kTransferError, "Cannot write the SQL text of table '%s' to file '%s'",
                        {FTableName, FileName});
}

}  // namespace vlt
