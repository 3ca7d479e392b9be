// Table transfers: import from another dataset, export into another table, restructuring and
// batch moves.
//
// Records travel between datasets through field objects matched by name (restructuring
// matches by field object id first, so that a renamed field keeps its values). The source is
// only read: a source that was closed is closed again, an open one returns to its record.
#include <algorithm>
#include <functional>
#include <set>

#include "engine/base/VLTExcept.h"
#include "engine/base/VLTScopeGuard.h"
#include "engine/components/VLTDatabaseError.h"
#include "engine/components/VLTTable.h"
#include "engine/components/VLTTableScopes.h"

namespace vlt {

namespace {

constexpr int32_t kTransferError = 30467;     // import, export and batch-move failures
constexpr int32_t kRestructureInTransaction = 30463;
constexpr int32_t kRestructureFailed = 30464;
constexpr int32_t kBatchMoveIndexError = 30468;

using TFieldPairs = std::vector<std::pair<TVLTField*, TVLTField*>>;  // source, destination

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
        // The record's error is raised or logged below.
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
  return !A.empty() && !B.empty() && VLTSameDatabaseFile(A, B);
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
  TVLTKeepDataSet KeepSource(Source);
  if (BeforeImport) BeforeImport(*this);
  TVLTAfterEvent After(AfterImport, *this);

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
  TVLTKeepDataSet KeepSelf(*this);
  if (BeforeExport) BeforeExport(*this);
  TVLTAfterEvent After(AfterExport, *this);
  auto Fill = [&] {
    TVLTKeepDataSet KeepDest(Dest);
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
  TVLTAfterEvent After(AfterRestructure, *this);
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
    TVLTAfterEvent After(AfterBatchMove, *this);
    {
      TVLTRestore KeepImportProgress(OnImportProgress);
      OnImportProgress = OnBatchMoveProgress;
      DoImport(Source, nullptr, nullptr);
    }
    Open();
    Count = RecordCount();
    if (!WasOpen) Close();
    return Count;
  }

  TVLTKeepDataSet KeepSource(Source);
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
  TVLTAfterEvent After(AfterBatchMove, *this);
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
      // The error on its way out is the one the caller gets; this clean-up failing adds nothing to
      // it.
    }
    throw;
  }
  RestoreIndex();
  if (!WasActive) Close();
  return Count;
}

}  // namespace vlt
