// Table copying: CopyTable, the copy of a table with its records into another database (or
// another database file) under a new name, which database rebuilding runs for every table.
// The source is re-opened for the copy and put back afterwards; a record that cannot be read
// is skipped by number when errors are ignored.
#include <algorithm>

#include "engine/base/VLTExcept.h"
#include "engine/base/VLTGuid.h"
#include "engine/components/VLTTable.h"
#include "engine/components/VLTTableScopes.h"

namespace vlt {

namespace {

std::string Trimmed(const std::string& S) {
  const size_t B = S.find_first_not_of(" \t"), E = S.find_last_not_of(" \t");
  return B == std::string::npos ? std::string() : S.substr(B, E - B + 1);
}

// The names the copy uses for the shared guards (VLTTableScopes.h).
using TAfterEvent = TVLTAfterEvent;
bool SameDatabaseFile(const std::string& A, const std::string& B) {
  return VLTSameDatabaseFile(A, B);
}

}  // namespace

bool TVLTTable::CopyTable(TVLTDatabase& DestDatabase, const std::string& NewTableName,
                          std::string& Log, bool& Continue, bool IgnoreErrors,
                          bool OverwriteExistingTable, bool CopyIndexes, int32_t MinProgress,
                          int32_t MaxProgress) {
  TVLTKeepDataSet Reopened(*this, true);  // the same record afterwards, or closed again
  TSuspendedMasterLink WholeTable(*this);
  return CopyTableInto(DestDatabase, NewTableName, Log, Continue, IgnoreErrors,
                       OverwriteExistingTable, CopyIndexes, MinProgress, MaxProgress);
}

bool TVLTTable::CopyTable(const std::string& NewTableName, std::string& Log, bool& Continue,
                          const std::string& DestDatabaseFileName,
                          const std::string& DestDatabasePassword, bool IgnoreErrors,
                          bool OverwriteExistingTable, bool CopyIndexes, int32_t MinProgress,
                          int32_t MaxProgress) {
  if (SameText(Trimmed(DestDatabaseFileName), "MEMORY"))
    throw EVLTException(30462,
                        "Cannot copy table '%s' into the in-memory database: in-memory tables "
                        "are not available",
                        {FTableName});
  TVLTKeepDataSet Reopened(*this, true);  // the same record afterwards, or closed again
  TSuspendedMasterLink WholeTable(*this);
  // Checked before the destination is opened: the source's own connection may keep others out.
  if (SameText(NewTableName, FTableName) &&
      SameDatabaseFile(DestDatabaseFileName, FDatabase->DatabaseFileName())) {
    const std::string Text =
        "Cannot copy table '" + FDatabaseName + "." + FTableName + "' into it self";
    if (!IgnoreErrors) throw EVLTException(30447, Text);
    Log += Text + "\n";
    return false;
  }
  TVLTDatabase TempDb;
  TempDb.FName = "TempDb";
  TempDb.SetSessionName(FDatabase->SessionName());
  TempDb.SetDatabaseName("TempDb" + VLTNewGuidText());
  TempDb.SetDatabaseFileName(DestDatabaseFileName);
  TempDb.FPassword = DestDatabasePassword;
  TempDb.FCryptoAlgorithm = FDatabase->FCryptoAlgorithm;  // the file's own cipher wins on open
  TempDb.FMultiUser = FDatabase->FMultiUser;
  TempDb.FSilentMode = true;
  try {
    TempDb.Open();
  } catch (const std::exception& E) {
    if (!IgnoreErrors) throw;
    Log += std::string(E.what()) + "\n";
    return false;
  }
  const bool Result = CopyTableInto(TempDb, NewTableName, Log, Continue, IgnoreErrors,
                                    OverwriteExistingTable, CopyIndexes, MinProgress, MaxProgress);
  TempDb.Close();
  return Result;
}

bool TVLTTable::CopyTable(const std::string& NewTableName, const std::string& DestDatabaseFileName,
                          const std::string& DestDatabasePassword) {
  std::string Log;
  bool Continue = true;
  return CopyTable(NewTableName, Log, Continue, DestDatabaseFileName, DestDatabasePassword, false,
                   false, true, 0, 100);
}

// The copy keeps the layout it had before the format check until its body next changes.
// clang-format off
bool TVLTTable::CopyTableInto(TVLTDatabase& DestDatabase, const std::string& NewTableName,
                              std::string& Log, bool& Continue, bool IgnoreErrors,
                              bool OverwriteExistingTable, bool CopyIndexes, int32_t MinProgress,
                              int32_t MaxProgress) {
  auto Fail = [&](const EVLTException& E) {
    if (!IgnoreErrors) throw E;
    Log += std::string(E.what()) + "\n";
    return false;
  };
  if (SameText(NewTableName, FTableName) &&
      (&DestDatabase == FDatabase ||
       SameDatabaseFile(DestDatabase.DatabaseFileName(), FDatabase->DatabaseFileName())))
    return Fail(EVLTException(30447, "Cannot copy table '" + FDatabaseName + "." + FTableName +
                                         "' into it self"));
  TVLTCursor& Src = *FHandle;
  for (int32_t I = 0; I < Src.VisibleFieldCount(); ++I) {
    const std::string& Name = (*Src.FVisibleFieldDefs)[I].FName;
    if (!FindField(Name))
      throw EVLTException(20297,
                          "Cannot copy table \"%s\". Field object for field \"%s\" is not created.",
                          {FTableName, Name});
  }

  if (BeforeCopy) BeforeCopy(*this);
  TAfterEvent FireAfter(AfterCopy, *this);
  TVLTTable Dest;
  Dest.FName = NewTableName;
  Dest.SetDatabaseName(DestDatabase.DatabaseName());
  Dest.FSessionName = DestDatabase.SessionName();
  Dest.SetTableName(NewTableName);
  Dest.AdvFieldDefs().Assign(FRestructureFieldDefs);
  if (CopyIndexes) Dest.AdvIndexDefs().Assign(FRestructureIndexDefs, true);
  if (Dest.Exists()) {
    if (!OverwriteExistingTable)
      return Fail(EVLTException(30448, "Table '%s.%s' already exists",
                                {DestDatabase.DatabaseName(), NewTableName}));
    Dest.DeleteTable();
  }
  try {
    Dest.CreateTable();
  } catch (const std::exception& E) {
    return Fail(EVLTException(30450, "Create table '%s.%s' error: '%s'",
                              {DestDatabase.DatabaseName(), NewTableName, std::string(E.what())}));
  }
  Dest.Open();

  // Destination field number of each source field (the same names by construction).
  TVLTCursor& Dst = *Dest.FHandle;
  std::vector<int32_t> DestNo(static_cast<size_t>(Src.VisibleFieldCount()), -1);
  for (int32_t I = 0; I < Src.VisibleFieldCount(); ++I)
    DestNo[static_cast<size_t>(I)] =
        Dst.FVisibleFieldDefs->GetDefNumberByName((*Src.FVisibleFieldDefs)[I].FName);

  const int64_t Total = std::max<int64_t>(1, RecordCount());
  int64_t RecNoCopied = 0;
  bool Completed = true;
  // Position: record number (in the table's current order) of the record shown. A record that
  // cannot be read is skipped by number, so one damaged page costs only its own records.
  int64_t Position = 1;
  auto SkipUnreadable = [&](int64_t From) {
    for (int64_t N = From; N <= Total; ++N) {
      try {
        SetRecNo(static_cast<int32_t>(N));
        Position = N;
        return true;
      } catch (const std::exception&) {
        Log += "Record #" + std::to_string(N) + " corrupted and skipped.\n";
      }
    }
    return false;
  };
  try {
    First();
  } catch (const std::exception&) {
    if (!IgnoreErrors) throw;
    if (!SkipUnreadable(1)) FEof = true;
  }
  while (!Eof()) {
    ++RecNoCopied;
    Dest.Append();
    for (int32_t I = 0; I < Src.VisibleFieldCount(); ++I) {
      if (DestNo[static_cast<size_t>(I)] < 0) continue;
      try {
        Src.SetCurrentRecordBuffer(FActiveBuffer);
        Dst.SetCurrentRecordBuffer(Dest.FActiveBuffer);
        Src.PositionOnRecord(Src.GetBufferRecordID(FActiveBuffer));
        Src.CopyFieldValue(I, false, DestNo[static_cast<size_t>(I)], Dst);
        Dest.FModified = true;
      } catch (const std::exception& E) {
        if (!IgnoreErrors) {
          Dest.Cancel();
          throw;
        }
        Log += "Error copying table \"" + FTableName + "\". Record #" + std::to_string(RecNoCopied) +
               ", field '" + (*Src.FVisibleFieldDefs)[I].FName +
               "' was copied with Null value due to error: " + E.what() + "\n";
      }
    }
    try {
      Dest.Post();
    } catch (const std::exception& E) {
      try {
        Dest.Cancel();
      } catch (...) {
      }
      if (!IgnoreErrors) throw;
      Log += "Error copying table \"" + FTableName + "\". Record #" + std::to_string(RecNoCopied) +
             " was not imported due to error: " + E.what() + "\n\n";
    }
    const int32_t Percent = MinProgress + static_cast<int32_t>((MaxProgress - MinProgress) *
                                                               std::min(RecNoCopied, Total) / Total);
    if (OnCopyProgress) OnCopyProgress(*this, Percent, Continue);
    if (!Continue) {
      Log += "Terminated by User.\n";
      Completed = false;
      break;
    }
    try {
      Next();
      ++Position;
    } catch (const std::exception&) {
      if (!IgnoreErrors) throw;
      Log += "Record #" + std::to_string(Position + 1) + " corrupted and skipped.\n";
      if (!SkipUnreadable(Position + 2)) break;
    }
  }
  Dest.Close();
  return Completed;
}
// clang-format on

}  // namespace vlt
