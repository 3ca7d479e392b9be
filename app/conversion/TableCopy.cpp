#include "app/conversion/TableCopy.h"

#include <cmath>
#include <exception>
#include <stdexcept>

#include "app/paradox/ParadoxTypes.h"
#include "engine/components/VLTDatabase.h"
#include "engine/components/VLTField.h"
#include "engine/expr/VLTLocale.h"
#include "engine/expr/VLTVariant.h"

namespace vlt::app {

namespace {

// Closes a table component on every path out of the copy.
class TCloseOnExit {
 public:
  explicit TCloseOnExit(std::function<void()> Close) : FClose(std::move(Close)) {}
  ~TCloseOnExit() {
    try {
      FClose();
    } catch (...) {
      // A destructor cannot raise; nothing is left to undo.
    }
  }
  TCloseOnExit(const TCloseOnExit&) = delete;
  TCloseOnExit& operator=(const TCloseOnExit&) = delete;

 private:
  std::function<void()> FClose;
};

std::string ErrorText(const std::exception& E) {
  return E.what();
}

int64_t IntegerOf(const TParadoxValue& V) {
  if (V.Kind == TParadoxValue::vkFloat || V.Kind == TParadoxValue::vkCurrency)
    return static_cast<int64_t>(V.Float);
  return V.Int;
}

}  // namespace

bool IsStorageFailure(const std::string& Text) {
  for (const char* Sign : {"Cannot Write to file", "Cannot Truncate File", "Cannot Flush",
                           "No space left on device", "Input/output error", "Disk quota exceeded"})
    if (Text.find(Sign) != std::string::npos) return true;
  return false;
}

TBatchCommit::TBatchCommit(TVLTDatabase* Db, int32_t Size)
    : FDb(Db), FSize(Size), FOwn(Db && !Db->InTransaction()) {
  if (FOwn) FDb->StartTransaction();
}

TBatchCommit::~TBatchCommit() {
  // Only an error escaping the copy leaves a batch open; the caller then fails as a whole.
  if (FOwn && FDb->InTransaction()) {
    try {
      FDb->Rollback();
    } catch (...) {
      // An error is already on its way out and fails the copy as a whole.
    }
  }
}

void TBatchCommit::Written() {
  if (!FOwn || ++FInBatch < FSize) return;
  FDb->Commit();
  FDb->StartTransaction();
  FInBatch = 0;
}

void TBatchCommit::Finish() {
  if (FOwn && FDb->InTransaction()) FDb->Commit();
}

int32_t ScheduleFlags(int32_t F) {
  return (F & 1023) + ((F & 1024) != 0 ? 6144 : 0);
}

std::vector<std::string> SourceFieldNames(const TCopyPair& Pair,
                                          const std::vector<std::string>& TargetFields) {
  if (Pair.SourceFields[0] != 0) return VLTSplitFieldList(Pair.SourceFields);
  return TargetFields;
}

TVLTVariant SourceVariant(const TParadoxValue& Value) {
  TVLTVariant V;
  switch (Value.Kind) {
    case TParadoxValue::vkNull:
      break;
    case TParadoxValue::vkBoolean:
      V.SetAsBoolean(Value.Int != 0);
      break;
    case TParadoxValue::vkInteger:
      V.SetAsInt64(Value.Int);
      break;
    case TParadoxValue::vkFloat:
      V.SetAsDouble(Value.Float);
      break;
    case TParadoxValue::vkCurrency:
      V.SetAsCurrency(Value.Float);
      break;
    case TParadoxValue::vkString:
    case TParadoxValue::vkBytes:
      V.SetAsAnsiString(Value.Str);
      break;
    case TParadoxValue::vkDate:
      V.SetAsVLTDate(static_cast<int32_t>(Value.Int));
      break;
    case TParadoxValue::vkTime:
      V.SetAsVLTTime(static_cast<int32_t>(Value.Int));
      break;
    case TParadoxValue::vkDateTime: {
      const double Ms = Value.Float;
      TVLTDateTime DT;
      DT.Date = static_cast<int32_t>(std::floor(Ms / 86400000.0));
      DT.Time = static_cast<int32_t>(Ms - DT.Date * 86400000.0);
      V.SetAsVLTDateTime(DT);
      break;
    }
  }
  return V;
}

void AssignSourceValue(TVLTField& Target, const TParadoxValue& Value) {
  if (Value.IsNull())
    Target.Clear();
  else
    Target.SetAsVariant(SourceVariant(Value));
}

std::string SourceValueText(const TParadoxValue& Value) {
  switch (Value.Kind) {
    case TParadoxValue::vkNull:
      return {};
    case TParadoxValue::vkBoolean:
      return std::string(TVLTLocale::BoolName(Value.Int != 0));
    case TParadoxValue::vkInteger:
      return std::to_string(Value.Int);
    case TParadoxValue::vkFloat:
    case TParadoxValue::vkCurrency:
      return TVLTLocale::FormatFloat(Value.Float, 15);
    case TParadoxValue::vkString:
    case TParadoxValue::vkBytes:
      return Value.Str;
    case TParadoxValue::vkDate:
      return TVLTLocale::FormatDate(static_cast<int32_t>(Value.Int));
    case TParadoxValue::vkTime:
      return TVLTLocale::FormatTime(static_cast<int32_t>(Value.Int));
    case TParadoxValue::vkDateTime: {
      const int32_t Day = static_cast<int32_t>(std::floor(Value.Float / 86400000.0));
      return TVLTLocale::FormatDateTime(Day, static_cast<int32_t>(Value.Float - Day * 86400000.0));
    }
  }
  return {};
}

bool CopyRecords(TVLTTable& Target, const TCopyPair& Pair, const std::string& Dir,
                 std::vector<std::string>& Log, const TCopyProgress& Progress,
                 TCopyCounts* Counts) {
  TCopyCounts Local;
  TCopyCounts& C = Counts ? *Counts : Local;
  C = {};

  TParadoxTable Source;
  TCloseOnExit CloseSource([&] { Source.Close(); });
  TCloseOnExit CloseTarget([&] { Target.Close(); });

  std::vector<TParadoxField*> From;
  std::vector<TVLTField*> To;
  int FieldT = -1, FieldF = -1, FieldActive = -1;
  try {
    Source.SetDatabaseName(Dir);
    Source.SetTableName(Pair.SourceTable);
    Source.SetTableType(ttParadox);
    Source.SetReadOnly(true);
    Source.SetIndexFieldNames(Pair.IndexFieldNames);
    Source.Open();
    Target.Open();

    std::vector<std::string> TargetNames;
    for (int32_t I = 0; I < Target.FieldCount(); ++I)
      TargetNames.push_back(Target.Fields(I).FieldName());
    const std::vector<std::string> Names = SourceFieldNames(Pair, TargetNames);
    if (Names.size() > TargetNames.size())
      throw EParadoxError("Table \"" + std::string(Pair.SourceTable) +
                          "\" has more fields than its target.");
    for (size_t I = 0; I < Names.size(); ++I) {
      From.push_back(&Source.FieldByName(Names[I]));
      To.push_back(&Target.Fields(static_cast<int32_t>(I)));
    }
    if (Pair.Rule == TCopyRule::CheckSchedule) {
      FieldT = 0;
      FieldF = 8;
    } else if (Pair.Rule == TCopyRule::Loans) {
      FieldActive = Target.FieldByName("Active").FieldNo() - 1;
    }
  } catch (const std::exception&) {
    Log.push_back(kLogErrorOpeningTable + std::string(Pair.SourceTable));
    return false;
  }

  C.SourceRecords = Source.RecordCount();
  if (Progress.Started) Progress.Started(C.SourceRecords);

  TBatchCommit Batch(Target.Database());

  std::vector<TParadoxValue> Values(From.size());
  for (Source.First(); !Source.Eof(); Source.Next()) {
    if (Progress.Boundary) Progress.Boundary();
    std::string Failure;
    try {
      for (size_t I = 0; I < From.size(); ++I) Values[I] = From[I]->AsVariant();
    } catch (const std::exception& E) {
      Failure = ErrorText(E);
    }
    if (Failure.empty() && !Values.empty() && Values[0].IsNull()) {
      ++C.Skipped;
      if (Progress.Record) Progress.Record();
      continue;
    }
    if (Failure.empty()) {
      try {
        Target.Append();
        for (size_t I = 0; I < Values.size(); ++I) AssignSourceValue(*To[I], Values[I]);
        if (FieldF >= 0 && !Values[static_cast<size_t>(FieldF)].IsNull() &&
            IntegerOf(Values[static_cast<size_t>(FieldT)]) <= 0) {
          const auto F = static_cast<int32_t>(IntegerOf(Values[static_cast<size_t>(FieldF)]));
          To[static_cast<size_t>(FieldF)]->SetAsInteger(ScheduleFlags(F));
        }
        if (FieldActive >= 0) Target.Fields(FieldActive).SetAsBoolean(true);
        Target.Post();
        ++C.Written;
        Batch.Written();
      } catch (const std::exception& E) {
        Failure = ErrorText(E);
        try {
          Target.Cancel();
        } catch (...) {
          // The record's failure is reported below; a cancel that fails adds nothing.
        }
        if (IsStorageFailure(Failure)) throw std::runtime_error(Failure);
      }
    }
    if (!Failure.empty()) {
      std::string Line = kLogErrorWritingRecord + Target.TableName() + ": ";
      for (size_t I = 0; I < From.size(); ++I) {
        try {
          Line += SourceValueText(From[I]->AsVariant());
        } catch (const std::exception&) {
          Line += "?";
        }
        Line += ", ";
      }
      Log.push_back(std::move(Line));
      ++C.Rejected;
    }
    if (Progress.Record) Progress.Record();
  }
  if (Progress.Boundary) Progress.Boundary();
  Batch.Finish();
  return true;
}

}  // namespace vlt::app
