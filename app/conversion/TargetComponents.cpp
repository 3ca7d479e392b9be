#include "app/conversion/TargetComponents.h"

#include <algorithm>
#include <cctype>

#include "engine/components/VLTEngineRegistry.h"
#include "engine/components/VLTField.h"

namespace vlt::app {

namespace {

std::string Upper(std::string S) {
  std::transform(S.begin(), S.end(), S.begin(),
                 [](unsigned char C) { return static_cast<char>(std::toupper(C)); });
  return S;
}

std::unique_ptr<TVLTField> MakeField(const TTargetField& F) {
  std::unique_ptr<TVLTField> Out;
  switch (F.Type) {
    case TTargetType::String:
      Out = std::make_unique<TVLTStringField>(F.Name, F.Size);
      break;
    case TTargetType::Integer:
      Out = std::make_unique<TVLTIntegerField>(F.Name);
      break;
    case TTargetType::Smallint:
      Out = std::make_unique<TVLTSmallintField>(F.Name);
      break;
    case TTargetType::Double:
      Out = std::make_unique<TVLTFloatField>(F.Name);
      break;
    case TTargetType::Boolean:
      Out = std::make_unique<TVLTBooleanField>(F.Name);
      break;
    case TTargetType::Currency:
      Out = std::make_unique<TVLTCurrencyField>(F.Name);
      break;
    case TTargetType::Date:
      Out = std::make_unique<TVLTDateField>(F.Name);
      break;
    case TTargetType::Memo:
      Out = std::make_unique<TVLTMemoField>(F.Name);
      break;
  }
  Out->FRequired = F.Required;
  return Out;
}

}  // namespace

std::unique_ptr<TVLTTable> MakeTargetTable(const TTargetDatabase& Database,
                                           const TTargetTable& Table) {
  auto T = std::make_unique<TVLTTable>();
  T->SetDatabaseName(Database.DatabaseName);
  T->SetTableName(Table.NameFor(-1));
  for (const TTargetField& F : Table.Fields()) T->AddField(MakeField(F));
  for (const TTargetIndex& I : Table.Indexes)
    T->IndexDefs.push_back({I.Name, I.Fields, "", I.CaseInsFields, I.Options});
  return T;
}

void AddExtendedIndexDefs(TVLTTable& Component, const TTargetTable& Table) {
  if (!Table.HasExtendedIndexes()) return;
  Component.AdvIndexDefs().Clear();
  for (const TTargetIndex& I : Table.Indexes)
    Component.AdvIndexDefs().Add(I.Name, I.Fields, I.Options, false, "", I.CaseInsFields, I.Sizes);
}

TTargetComponents::TTargetComponents() {
  VLTStartEngine();
  for (const TTargetDatabase& D : TargetCatalogue()) {
    TAreaComponents& A = Of(D.Area);
    A.Database = std::make_unique<TVLTDatabase>();
    A.Database->FName = D.Component;
    A.Database->SetDatabaseName(D.DatabaseName);
    for (const TTargetTable& T : D.Tables) A.Tables[Upper(T.Name)] = MakeTargetTable(D, T);
  }
}

TTargetComponents::~TTargetComponents() {
  // Tables first: they hold their database open.
  for (size_t I = 0; I < std::size(FAreas); ++I) {
    CloseQuietly(static_cast<TArea>(I));
    FAreas[I].Tables.clear();
    FAreas[I].Database.reset();
  }
}

void TTargetComponents::RegisterExtendedIndexDefs() {
  const TTargetDatabase& L = TargetDatabase(TArea::Ledger);
  for (const TTargetTable& T : L.Tables)
    if (T.HasExtendedIndexes()) AddExtendedIndexDefs(Table(TArea::Ledger, T.Name), T);
}

TVLTDatabase& TTargetComponents::Database(TArea Area) {
  return *Of(Area).Database;
}

TVLTTable& TTargetComponents::Table(TArea Area, const std::string& Name) {
  const TTargetTable& Def = TargetDatabase(Area).Table(Name);
  return *Of(Area).Tables.at(Upper(Def.Name));
}

void TTargetComponents::PrepareDatabase(TArea Area, const std::string& FileName) {
  const TTargetDatabase& D = TargetDatabase(Area);
  TVLTDatabase& Db = Database(Area);
  Db.Close();
  Db.FPassword = D.Password;
  Db.FCryptoAlgorithm = craRijndael_256;
  Db.FPageSize = D.PageSize;
  Db.FMaxConnections = kTargetMaxConnections;
  Db.FMultiUser = false;
  Db.FExclusive = false;
  Db.FSilentMode = D.SilentMode;
  // A fresh target: a failed area deletes it, and the finished file is synced when its
  // compaction replaces it, so its commits need not wait for the disk.
  Db.FDurability = dsOff;
  Db.SetDatabaseFileName(FileName);
}

void TTargetComponents::CreateTable(TArea Area, const std::string& Name) {
  const TTargetTable& Def = TargetDatabase(Area).Table(Name);
  TVLTTable& T = Table(Area, Name);
  T.Close();
  if (Def.Name[0] != '#') T.SetTableName(Def.Name);
  T.SetIndexName("");
  T.CreateTable();
  T.SetIndexName(Def.OpenIndex);
}

void TTargetComponents::CreateDatabaseAndTables(TArea Area, const std::vector<std::string>& Skip) {
  TVLTDatabase& Db = Database(Area);
  Db.CreateDatabase();
  Db.Open();
  for (const TTargetTable& T : TargetDatabase(Area).Tables) {
    bool Skipped = std::any_of(Skip.begin(), Skip.end(),
                               [&](const std::string& S) { return Upper(S) == Upper(T.Name); });
    if (!Skipped) CreateTable(Area, T.Name);
  }
}

void TTargetComponents::CloseQuietly(TArea Area) noexcept {
  TAreaComponents& A = Of(Area);
  for (auto& [Name, T] : A.Tables) {
    try {
      T->Close();
    } catch (...) {
      // Closing quietly is the point: the caller is cleaning up after a failure.
    }
  }
  try {
    if (A.Database) A.Database->Close();
  } catch (...) {
    // Closing quietly is the point: the caller is cleaning up after a failure.
  }
}

}  // namespace vlt::app
