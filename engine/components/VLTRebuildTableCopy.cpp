#include "engine/components/VLTRebuildTableCopy.h"

#include "engine/base/VLTExcept.h"
#include "engine/components/VLTDatabase.h"
#include "engine/components/VLTTable.h"

namespace vlt {

namespace {

// The number of records of a table, read through a fresh table component.
int64_t CountRecords(TVLTDatabase& Db, const std::string& TableName) {
  TVLTTable T;
  T.SetDatabaseName(Db.DatabaseName());
  T.FSessionName = Db.SessionName();
  T.SetTableName(TableName);
  T.Open();
  const int64_t Count = T.RecordCount();
  T.Close();
  return Count;
}

}  // namespace

bool VLTRebuildCopyTable(TVLTDatabase& Source, const std::string& TableName, TVLTDatabase& Dest,
                         std::string& Log, bool& Continue, bool IgnoreErrors, int32_t MinProgress,
                         int32_t MaxProgress, const TVLTTableCopyProgress& Progress) {
  TVLTTable T;
  T.SetDatabaseName(Source.DatabaseName());
  T.FSessionName = Source.SessionName();
  T.SetTableName(TableName);
  int64_t Found = -1;  // unknown when the repair-mode open fails
  if (IgnoreErrors) {
    T.FIsRepairing = true;
    try {
      T.Open();
      Found = T.RecordCount();
      T.Close();
    } catch (...) {
      Found = -1;
      try {
        T.Close();
      } catch (...) {
        // The repair-mode open failed already; the count stays unknown.
      }
    }
    T.FIsRepairing = false;
  }
  T.Open();
  if (!IgnoreErrors) Found = T.RecordCount();
  T.Close();
  // One commit per copied record re-encrypts and rewrites every page the record touched. When
  // any failure abandons the whole new file anyway (errors not ignored), the records are
  // committed in batches instead: once the pages changed since the last commit reach
  // kCommitBytes, which bounds the memory the uncommitted pages take. A count of records would
  // not: the index pages a batch touches grow with the table, and each commit rewrites them all.
  // A repair keeps one commit per record, so that a record that fails half-way is cancelled
  // alone.
  constexpr int64_t kCommitBytes = int64_t{32} << 20;
  const bool Batched = !IgnoreErrors && Dest.Connected() && !Dest.InTransaction();
  // Called after each copied record.
  T.OnCopyProgress = [&](TVLTTable&, int32_t Percent, bool& Cont) {
    if (Batched) {
      if (!Dest.InTransaction()) {
        Dest.StartTransaction();
      } else if (Dest.PendingChangeBytes() >= kCommitBytes) {
        Dest.Commit(false);
        Dest.StartTransaction();
      }
    }
    if (Progress) Progress(Percent, Cont);
  };
  bool Result = false;
  try {
    Result = T.CopyTable(Dest, TableName, Log, Continue, IgnoreErrors, false, true, MinProgress,
                         MaxProgress);
    if (Batched && Dest.InTransaction()) Dest.Commit(true);
  } catch (...) {
    if (Batched && Dest.InTransaction()) {
      try {
        Dest.Rollback();
      } catch (...) {
        // The error on its way out is the one the caller gets; this clean-up failing adds nothing
        // to it.
      }
    }
    throw;
  }
  if (!Result || !Continue || Found < 0) return Result;
  const int64_t Copied = CountRecords(Dest, TableName);
  if (Copied == Found) return Result;
  if (!IgnoreErrors) {
    if (Copied > Found) return Result;  // a stored count that lags behind loses nothing
    throw EVLTException(20199, "Table copy ended early: %d of %d records copied", {Copied, Found});
  }
  Log += "Table \"" + TableName + "\": " + std::to_string(Found) +
         " records found on its record pages, " + std::to_string(Copied) + " copied.\n";
  return Result;
}

}  // namespace vlt
