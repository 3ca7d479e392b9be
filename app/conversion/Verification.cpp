#include "app/conversion/Verification.h"

#include <cryptopp/hex.h>
#include <cryptopp/sha.h>

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <future>
#include <memory>
#include <regex>
#include <set>
#include <tuple>
#include <unordered_map>

#include "app/conversion/ContributionsConversion.h"
#include "app/conversion/ConvertUtil.h"
#include "app/conversion/FileUtil.h"
#include "app/conversion/TableCopy.h"
#include "app/conversion/TargetCatalogue.h"
#include "app/paradox/ParadoxTable.h"
#include "engine/base/VLTTypes.h"
#include "engine/components/VLTDatabase.h"
#include "engine/components/VLTLocalCursor.h"
#include "engine/components/VLTLocalSession.h"
#include "engine/components/VLTTable.h"
#include "engine/disk/VLTDiskPageManager.h"
#include "engine/disk/VLTDiskTableData.h"
#include "engine/expr/VLTLocale.h"

namespace vlt::app {

namespace {

// A value as comparable text for a target field of type T and size Size: what both sides must
// agree on once the source value is converted to the target's type.
std::string Canonical(TVLTDataSetFieldType T, int32_t Size, const TVLTVariant& V) {
  if (V.IsNull()) return "~";
  char Buf[64];
  auto Text = [&](auto Number) {
    return std::string(Buf, std::to_chars(Buf, Buf + sizeof Buf, Number).ptr);
  };
  switch (T) {
    case vlt::ftSmallint:
    case vlt::ftInteger:
    case vlt::ftWord:
    case vlt::ftLargeint:
    case vlt::ftAutoInc:
      return Text(static_cast<int64_t>(std::trunc(V.AsDouble())));
    case vlt::ftBoolean:
      return V.AsBoolean() ? "T" : "F";
    case vlt::ftFloat:
      return Text(V.AsDouble());
    case vlt::ftCurrency:
      return Text(std::llround(V.AsCurrency() * 10000.0));  // four decimals
    case vlt::ftDate:
      return Text(V.AsVLTDate());
    case vlt::ftString: {
      std::string S = V.AsAnsiString();
      if (Size > 0 && S.size() > static_cast<size_t>(Size)) S.resize(static_cast<size_t>(Size));
      return S.empty() ? "~" : S;
    }
    default:
      return V.AsAnsiString();
  }
}

constexpr char kSep = '\x1f';

std::string Joined(const std::vector<std::string>& Values) {
  std::string J;
  for (const auto& V : Values) (J += V) += kSep;
  return J;
}

std::vector<std::string> Split(const std::string& J) {
  std::vector<std::string> Out;
  size_t From = 0;
  for (size_t At; (At = J.find(kSep, From)) != std::string::npos; From = At + 1)
    Out.push_back(J.substr(From, At - From));
  return Out;
}

std::string KeyText(const std::vector<std::string>& Values, const std::vector<int>& KeyFields) {
  std::string K;
  if (KeyFields.empty()) {
    for (const auto& V : Values) K += V + "|";
    return K;
  }
  for (int P : KeyFields) K += Values[static_cast<size_t>(P)] + "|";
  return K;
}

std::string Shown(std::string Key) {
  if (!Key.empty()) Key.pop_back();
  for (char& C : Key)
    if (C == '|') C = ',';
  return "(" + Key + ")";
}

int64_t RejectedLines(const std::vector<std::string>& Log, const std::string& Table) {
  const std::string Prefix = kLogErrorWritingRecord + Table + ": ";
  return std::count_if(Log.begin(), Log.end(),
                       [&](const std::string& L) { return L.rfind(Prefix, 0) == 0; });
}

// What the comparison needs of a target table: its fields and its primary key's fields.
struct TTargetShape {
  std::vector<TVLTDataSetFieldType> Types;
  std::vector<int32_t> Sizes;
  std::vector<std::string> Names;
  std::vector<int> KeyFields;
};

// A table's source rows, converted to the target's types: what a second thread reads while the
// first reads the database (the Paradox reader and these conversions share nothing with the
// engine).
struct TSourceRows {
  struct TRow {
    std::string Key, Text;
    bool Convertible = true;
  };
  int64_t Read = 0, Skipped = 0;
  std::vector<TRow> Rows;
  std::string Error;  // the source could not be read
};

// Target rows by key, each as one joined text (a row per entry keeps memory and time low).
struct TTargetRows {
  std::unordered_multimap<std::string, std::string> Rows;
  int64_t Written = 0;
};

TTargetShape ShapeOf(TVLTTable& T) {
  TTargetShape S;
  for (int32_t I = 0; I < T.FieldCount(); ++I) {
    S.Types.push_back(T.Fields(I).DataType());
    S.Sizes.push_back(T.Fields(I).Size());
    S.Names.push_back(T.Fields(I).FieldName());
  }
  for (int32_t I = 0; I < T.RestructureIndexDefs().Count(); ++I) {
    const TVLTAdvIndexDef& D = T.RestructureIndexDefs()[I];
    if (!(D.FOptions & ixPrimary)) continue;
    for (const std::string& N : VLTSplitFieldList(D.FFields))
      for (size_t P = 0; P < S.Names.size(); ++P)
        if (SameText(S.Names[P], N)) S.KeyFields.push_back(static_cast<int>(P));
  }
  return S;
}

TTargetRows ReadTargetRows(TVLTTable& T, const TTargetShape& S) {
  TTargetRows R;
  R.Rows.reserve(static_cast<size_t>(std::max(T.RecordCount(), 0)));
  std::vector<std::string> Row(S.Names.size());
  for (T.First(); !T.Eof(); T.Next()) {
    for (int32_t I = 0; I < T.FieldCount(); ++I)
      Row[static_cast<size_t>(I)] =
          Canonical(S.Types[static_cast<size_t>(I)], S.Sizes[static_cast<size_t>(I)],
                    T.Fields(I).AsVariant());
    R.Rows.emplace(KeyText(Row, S.KeyFields), Joined(Row));
    ++R.Written;
  }
  return R;
}

TSourceRows ReadSourceRows(const TCopyPair& Pair, const std::string& Folder,
                           const TTargetShape& Shape) {
  TSourceRows R;
  if (FindFileNoCase(Folder, Pair.SourceTable).empty()) return R;
  try {
    TParadoxTable S;
    S.SetDatabaseName(Folder);
    S.SetTableName(Pair.SourceTable);
    S.SetReadOnly(true);
    S.Open();
    const auto& Names = Shape.Names;
    std::vector<TParadoxField*> From;
    for (const std::string& N : SourceFieldNames(Pair, Names)) From.push_back(&S.FieldByName(N));
    std::vector<TParadoxValue> V;
    for (S.First(); !S.Eof(); S.Next()) {
      ++R.Read;
      V.clear();
      for (TParadoxField* F : From) V.push_back(F->AsVariant());
      if (V.empty() || V[0].IsNull()) {
        ++R.Skipped;
        continue;
      }
      std::vector<std::string> Row(Names.size(), "~");
      TSourceRows::TRow Out;
      for (size_t I = 0; I < V.size() && I < Names.size(); ++I) {
        try {
          Row[I] = Canonical(Shape.Types[I], Shape.Sizes[I], SourceVariant(V[I]));
        } catch (const std::exception&) {
          Out.Convertible = false;  // such a record cannot have been written
        }
      }
      if (Pair.Rule == TCopyRule::CheckSchedule && V.size() > 8 && !V[8].IsNull() && V[0].Int <= 0)
        Row[8] = std::to_string(ScheduleFlags(static_cast<int32_t>(V[8].Int)));
      if (Pair.Rule == TCopyRule::Loans)
        for (size_t I = 0; I < Names.size(); ++I)
          if (SameText(Names[I], "Active")) Row[I] = "T";
      Out.Key = KeyText(Row, Shape.KeyFields);
      Out.Text = Joined(Row);
      R.Rows.push_back(std::move(Out));
    }
    S.Close();
  } catch (const std::exception& E) {
    R.Error = E.what();
  }
  return R;
}

void CompareTable(const TCopyPair& Pair, const TTargetShape& Shape, TTargetRows&& TargetRows,
                  TSourceRows&& Source, const std::vector<std::string>& Log, TTableCheck& C) {
  const auto& Names = Shape.Names;
  auto& Target = TargetRows.Rows;
  C.Written = TargetRows.Written;
  C.Read = Source.Read;
  C.Skipped = Source.Skipped;
  int64_t Missing = 0;
  std::vector<std::string> MissingKeys;
  for (TSourceRows::TRow& Row : Source.Rows) {
    auto Range = Target.equal_range(Row.Key);
    if (!Row.Convertible || Range.first == Range.second) {
      ++Missing;
      MissingKeys.push_back(std::move(Row.Key));
      continue;
    }
    // Prefer an equal row among those sharing the key.
    auto Match = std::find_if(Range.first, Range.second,
                              [&](const auto& E) { return E.second == Row.Text; });
    if (Match != Range.second) {
      ++C.Verified;
      Target.erase(Match);
      continue;
    }
    const std::vector<std::string> Got = Split(Range.first->second), Want = Split(Row.Text);
    for (size_t I = 0; I < Want.size() && I < Got.size() && I < Names.size(); ++I) {
      if (Got[I] != Want[I]) {
        C.Mismatches.push_back("record " + Shown(Row.Key) + ": " + Names[I] + " is " + Got[I] +
                               ", the source gives " + Want[I]);
        break;
      }
    }
    ++C.Mismatched;
    Target.erase(Range.first);
  }
  C.Rejected = std::min(Missing, RejectedLines(Log, Pair.TargetTable));
  for (size_t I = static_cast<size_t>(C.Rejected); I < MissingKeys.size(); ++I) {
    ++C.Mismatched;
    C.Mismatches.push_back("record " + Shown(MissingKeys[I]) + ": missing from the target");
  }
  for (const auto& [Key, Row] : Target) {
    ++C.Mismatched;
    C.Mismatches.push_back("record " + Shown(Key) + ": not in the source");
  }
}

bool SameTextPath(const std::string& A, const std::string& B) {
  return SameText(A, B);
}

// Whether Name (a path relative to the backup folder) is a file a conversion may create,
// change or remove there.
// A table the preparation moved aside for an upgrade ("contfil0.db" ...).
bool IsUpgradeTemporary(const std::string& Name) {
  for (const TParadoxLayout& L : ParadoxLayouts()) {
    const std::string Base = L.BaseName;
    const std::string Stem = Base.substr(0, Base.size() - 1);
    if (Name.size() == Stem.size() + 4 && SameText(Name.substr(0, Stem.size()), Stem) &&
        std::isdigit(static_cast<unsigned char>(Name[Stem.size()])) &&
        SameText(Name.substr(Stem.size() + 1), ".db"))
      return true;
  }
  return false;
}

bool ChangeExpected(const std::string& Name) {
  static const std::regex kAllowed(
      "(XLQCont\\.bkp\\.vlt|Payroll\\.vlt|Schedule\\.vlt|Loan\\.vlt|[0-9]{4}Ledger\\.vlt|"
      "Conversion_Log\\.txt|Conversion_Log_PR\\.txt|Conversion_Log_ChkSch\\.txt|Conversion_Log_"
      "Loan\\.txt|"
      "[0-9]{4}_Conversion_Log\\.txt|backup\\.fl|backup_[0-9]{4}\\.fl|mstrldgr\\.dir/pdfile\\.txt)",
      std::regex::icase);
  if (std::regex_match(Name, kAllowed)) return true;
  // The preparation rewrites the tables it covers and their index files; a failed upgrade
  // leaves its temporary copy.
  for (const TParadoxLayout& L : ParadoxLayouts()) {
    const std::string Base = L.BaseName;
    if (SameTextPath(Name, Base + ".db") || SameTextPath(Name, Base + ".px")) return true;
  }
  return IsUpgradeTemporary(Name);
}

// Lists the tables of Db that R has no check for: tables the conversion creates without a
// source (payroll's TimeOff, the contributions settings), with their record count.
void ListTablesWithoutSource(TVLTDatabase& Db, TAreaCheck& R) {
  std::vector<std::string> Tables;
  Db.GetTablesList(Tables);
  for (const std::string& Name : Tables) {
    if (std::any_of(R.Tables.begin(), R.Tables.end(),
                    [&](const TTableCheck& C) { return SameText(C.Table, Name); }))
      continue;
    TTableCheck C;
    C.Table = Name;
    try {
      TVLTTable T;
      T.SetDatabaseName(Db.DatabaseName());
      T.SetTableName(Name);
      T.Open();
      C.Written = T.RecordCount();
      T.Close();
    } catch (const std::exception& E) {
      R.Problems.push_back(Name + ": " + E.what());
      continue;
    }
    C.Notices.push_back(C.Written == 0 ? "created empty, no source"
                                       : std::to_string(C.Written) +
                                             " records, no source to compare them with");
    R.Tables.push_back(std::move(C));
  }
}

}  // namespace

bool TAreaCheck::Clean() const {
  if (!Problems.empty()) return false;
  return std::all_of(Tables.begin(), Tables.end(),
                     [](const TTableCheck& T) { return T.Mismatched == 0; });
}

TAreaCheck VerifyCopyArea(TArea Area, const std::string& Folder, const std::string& File,
                          const std::vector<std::string>& Log, bool CheckEngine) {
  static int Serial = 0;
  const TStopwatch Watch;
  TAreaCheck R;
  R.Area = Area;
  R.Folder = Folder;
  R.Database = File;
  const TTargetDatabase& D = TargetDatabase(Area);
  auto Db = std::make_unique<TVLTDatabase>();
  Db->SetDatabaseName("Verify" + std::to_string(++Serial));
  Db->SetDatabaseFileName(File);
  Db->FPassword = D.Password;
  Db->FCryptoAlgorithm = craRijndael_256;
  Db->FSilentMode = true;
  Db->FReadOnly = true;
  try {
    Db->Open();
  } catch (const std::exception& E) {
    R.Problems.push_back(File + ": " + E.what());
    R.VerifySeconds = Watch.Seconds();
    return R;
  }
  std::vector<std::string> Tables;
  Db->GetTablesList(Tables);
  // The target tables' shapes first; then the sources are read on a second thread while this
  // one reads the targets and runs the engine's check.
  const std::vector<TCopyPair> AreaPairs = CopyPairsOf(Area);
  std::vector<const TCopyPair*> Pairs;
  std::vector<TTargetShape> Shapes;
  std::vector<std::string> ShapeErrors;
  for (const TCopyPair& Pair : AreaPairs) {
    const bool Exists = std::any_of(Tables.begin(), Tables.end(), [&](const std::string& N) {
      return SameText(N, Pair.TargetTable);
    });
    if (!Exists) continue;  // Alloc without its source
    Pairs.push_back(&Pair);
    Shapes.emplace_back();
    ShapeErrors.emplace_back();
    try {
      TVLTTable T;
      T.SetDatabaseName(Db->DatabaseName());
      T.SetTableName(Pair.TargetTable);
      T.Open();
      Shapes.back() = ShapeOf(T);
    } catch (const std::exception& E) {
      ShapeErrors.back() = E.what();
    }
  }
  auto Sources = std::async(std::launch::async, [&] {
    std::vector<TSourceRows> Out(Pairs.size());
    for (size_t I = 0; I < Pairs.size(); ++I)
      if (ShapeErrors[I].empty()) Out[I] = ReadSourceRows(*Pairs[I], Folder, Shapes[I]);
    return Out;
  });
  std::vector<TTargetRows> Targets(Pairs.size());
  std::vector<std::string> TargetErrors(Pairs.size());
  for (size_t I = 0; I < Pairs.size(); ++I) {
    if (!ShapeErrors[I].empty()) continue;
    try {
      TVLTTable T;
      T.SetDatabaseName(Db->DatabaseName());
      T.SetTableName(Pairs[I]->TargetTable);
      T.Open();
      Targets[I] = ReadTargetRows(T, Shapes[I]);
    } catch (const std::exception& E) {
      TargetErrors[I] = E.what();
    }
  }
  if (CheckEngine) Db->CheckTables(R.Problems);
  std::vector<TSourceRows> SourceRows = Sources.get();
  for (size_t I = 0; I < Pairs.size(); ++I) {
    TTableCheck C;
    C.Table = Pairs[I]->TargetTable;
    const std::string& Error = !ShapeErrors[I].empty()    ? ShapeErrors[I]
                               : !TargetErrors[I].empty() ? TargetErrors[I]
                                                          : SourceRows[I].Error;
    if (!Error.empty())
      R.Problems.push_back(std::string(Pairs[I]->TargetTable) + ": " + Error);
    else
      CompareTable(*Pairs[I], Shapes[I], std::move(Targets[I]), std::move(SourceRows[I]), Log, C);
    R.Tables.push_back(std::move(C));
  }
  try {
    ListTablesWithoutSource(*Db, R);
  } catch (const std::exception& E) {
    R.Problems.push_back(File + ": " + E.what());
  }
  try {
    Db->Close();
  } catch (...) {
    // The comparison is complete; a read-only database that does not close changes nothing.
  }
  R.VerifySeconds = Watch.Seconds();
  return R;
}

TFolderHashes HashFolder(const std::string& Dir) {
  TFolderHashes Out;
  std::error_code Ec;
  for (auto It = std::filesystem::recursive_directory_iterator(Dir, Ec);
       !Ec && It != std::filesystem::recursive_directory_iterator(); It.increment(Ec)) {
    if (!It->is_regular_file(Ec)) continue;
    std::ifstream In(It->path(), std::ios::binary);
    CryptoPP::SHA256 H;
    char Buf[65536];
    while (In.read(Buf, sizeof Buf) || In.gcount() > 0) {
      H.Update(reinterpret_cast<const CryptoPP::byte*>(Buf), static_cast<size_t>(In.gcount()));
      if (!In) break;
    }
    CryptoPP::byte Digest[CryptoPP::SHA256::DIGESTSIZE];
    H.Final(Digest);
    std::string Hex;
    CryptoPP::HexEncoder Enc(new CryptoPP::StringSink(Hex), false);
    Enc.Put(Digest, sizeof Digest);
    Enc.MessageEnd();
    Out[std::filesystem::relative(It->path(), Dir, Ec).string()] = Hex;
  }
  return Out;
}

bool TRunReport::Clean() const {
  for (const TAreaCheck& A : Areas)
    if (!A.Clean()) return false;
  for (const TAreaOutcome& O : Outcomes)
    if (O.Kind == TAreaOutcomeKind::Failed || O.Kind == TAreaOutcomeKind::NotConverted)
      return false;
  for (const auto& [Folder, C] : Folders)
    if (!C.Unexpected.empty()) return false;
  return true;
}

namespace {

const char* const kOutcomeKeys[] = {"converted", "skipped", "not_applicable", "failed",
                                    "not_converted"};

// Whether Folder holds any of Area's source tables.
bool HasSources(TArea Area, const std::string& Folder) {
  const TAreaSources& S = AreaSourcesOf(Area);
  for (const auto* List : {&S.Required, &S.Optional})
    for (const char* Name : *List)
      if (!FindFileNoCase(Folder, Name).empty()) return true;
  return false;
}

// The lines of an outcome the database blocks do not already tell: skipped, failed and not
// converted areas, and converted ones that were not verified.
std::string FormatOutcomes(const TRunReport& Report) {
  std::string Out;
  for (const TAreaOutcome& O : Report.Outcomes) {
    const std::string Head = O.Folder + ": " + AreaInfo(O.Area).Name;
    const std::string Target = AreaTargetFile(O.Area, O.Folder);
    switch (O.Kind) {
      case TAreaOutcomeKind::Converted: {
        const bool Shown = std::any_of(
            Report.Areas.begin(), Report.Areas.end(),
            [&](const TAreaCheck& A) { return A.Area == O.Area && A.Folder == O.Folder; });
        if (!Shown) Out += Head + " -> " + Target + " converted\n";
        break;
      }
      case TAreaOutcomeKind::Skipped:
        Out += Head + " skipped: " + Target + " exists\n";
        break;
      case TAreaOutcomeKind::NotApplicable:
        break;
      case TAreaOutcomeKind::Failed:
        Out += Head + " FAILED: " + O.Error + " (see " + O.LogFile + ")\n";
        break;
      case TAreaOutcomeKind::NotConverted:
        Out += Head + " NOT CONVERTED: its tables are there, " + Target + " is not\n";
        break;
    }
  }
  return Out;
}

// The recovery's notes, one line each.
std::string FormatRecovered(const TRunReport& Report) {
  std::string Out;
  for (const auto& [Folder, Notes] : Report.Recovered)
    for (const std::string& N : Notes) Out += Folder + ": RECOVERED " + N + "\n";
  return Out;
}

}  // namespace

std::string FormatRunReport(const TRunReport& Report) {
  std::string Out;
  char Line[256];
  for (const TAreaCheck& A : Report.Areas) {
    Out += A.Folder + ": " + AreaInfo(A.Area).Name + " -> " + ExtractFileName(A.Database);
    if (A.ConvertSeconds >= 0) {
      std::snprintf(Line, sizeof Line, " (converted in %.1f s, verified in %.1f s)",
                    A.ConvertSeconds, A.VerifySeconds);
      Out += Line;
    } else {
      std::snprintf(Line, sizeof Line, " (verified in %.1f s)", A.VerifySeconds);
      Out += Line;
    }
    Out += "\n";
    std::snprintf(Line, sizeof Line, "  %-12s %8s %8s %8s %8s %8s %8s\n", "table", "read",
                  "skipped", "rejected", "written", "verified", "mismatch");
    Out += Line;
    for (const TTableCheck& T : A.Tables) {
      std::snprintf(Line, sizeof Line, "  %-12s %8lld %8lld %8lld %8lld %8lld %8lld\n",
                    T.Table.c_str(), static_cast<long long>(T.Read),
                    static_cast<long long>(T.Skipped), static_cast<long long>(T.Rejected),
                    static_cast<long long>(T.Written), static_cast<long long>(T.Verified),
                    static_cast<long long>(T.Mismatched));
      Out += Line;
      for (const std::string& M : T.Mismatches) Out += "    MISMATCH " + T.Table + " " + M + "\n";
      for (const std::string& N : T.Notices) Out += "    NOTICE " + T.Table + " " + N + "\n";
    }
    for (const std::string& P : A.Problems) Out += "  PROBLEM " + P + "\n";
  }
  Out += FormatOutcomes(Report);
  for (const auto& [Folder, C] : Report.Folders)
    for (const std::string& N : C.Unexpected) Out += Folder + ": UNEXPECTED CHANGE " + N + "\n";
  for (const auto& [Folder, C] : Report.Folders)
    for (const std::string& N : C.Notices) Out += Folder + ": NOTICE " + N + "\n";
  Out += FormatRecovered(Report);
  return Out;
}

TAreaOutcome AreaOutcomeAfter(TArea Area, const std::string& Folder, bool Existed) {
  TAreaOutcome O;
  O.Folder = Folder;
  O.Area = Area;
  O.LogFile = AreaLogFile(Area, Folder);
  if (!IsAreaFolder(Area, Folder)) return O;
  if (Existed) {
    O.Kind = TAreaOutcomeKind::Skipped;
  } else if (FileExists(JoinPath(Folder, AreaTargetFile(Area, Folder)))) {
    O.Kind = TAreaOutcomeKind::Converted;
  } else if (HasSources(Area, Folder)) {
    O.Kind = TAreaOutcomeKind::Failed;
    // The first line of the log after its heading that is not one of the closing lines.
    const std::vector<std::string> Lines = ReadLogLines(JoinPath(Folder, O.LogFile));
    for (size_t I = 0; I < Lines.size() && O.Error.empty(); ++I) {
      const std::string& L = Lines[I];
      if (L.empty() || IsAreaFrameLine(L)) continue;
      O.Error = L;
    }
    if (O.Error.empty()) O.Error = "no database was written";
  }
  return O;
}

std::vector<std::string> ReadLogLines(const std::string& Path) {
  std::vector<std::string> Lines;
  std::ifstream In(Path, std::ios::binary);
  std::string L;
  while (std::getline(In, L)) {
    if (!L.empty() && L.back() == '\r') L.pop_back();
    Lines.push_back(L);
  }
  return Lines;
}

TFolderChanges CompareFolderHashes(const TFolderHashes& Before, const TFolderHashes& After) {
  TFolderChanges C;
  for (const auto& [Name, Hash] : After) {
    auto It = Before.find(Name);
    if (It == Before.end())
      C.Appeared.push_back(Name);
    else if (It->second != Hash)
      C.Changed.push_back(Name);
  }
  for (const auto& [Name, Hash] : Before)
    if (!After.count(Name)) C.Vanished.push_back(Name);
  for (const auto* List : {&C.Changed, &C.Appeared})
    for (const std::string& N : *List)
      if (!ChangeExpected(N)) C.Unexpected.push_back(N);
  // A file no conversion moves away is never expected to vanish: the user's tables and their
  // indexes included, whatever the preparation does to them.
  static const std::regex kMayVanish("backup\\.fl", std::regex::icase);
  for (const std::string& N : C.Vanished)
    if (!std::regex_match(N, kMayVanish) && !IsUpgradeTemporary(N)) C.Unexpected.push_back(N);
  return C;
}

}  // namespace vlt::app

namespace vlt::app {

namespace {

// Rows of a target table as field-name -> text maps, for the contributions checks.
std::vector<std::map<std::string, std::string>> TargetRows(TVLTDatabase& Db,
                                                           const std::string& Table) {
  TVLTTable T;
  T.SetDatabaseName(Db.DatabaseName());
  T.SetTableName(Table);
  T.Open();
  std::vector<std::map<std::string, std::string>> Rows;
  for (T.First(); !T.Eof(); T.Next()) {
    std::map<std::string, std::string> R;
    for (int32_t I = 0; I < T.FieldCount(); ++I) {
      const TVLTField& F = T.Fields(I);
      R[F.FieldName()] = Canonical(F.DataType(), F.Size(), F.AsVariant());
    }
    Rows.push_back(std::move(R));
  }
  T.Close();
  return Rows;
}

// Source services or funds by number: the distinct trimmed names, with a blank entry for each
// unnamed record (it stands for any generated "Service n" / "Fund n").
struct TSourceNamed {
  std::map<int64_t, std::vector<std::string>> Names;
  int64_t Records = 0;
  const std::vector<std::string>& Of(int64_t Num) const {
    static const std::vector<std::string> kNone;
    auto It = Names.find(Num);
    return It == Names.end() ? kNone : It->second;
  }
};

TSourceNamed SourceNames(const std::string& Folder, const char* Table) {
  TSourceNamed Out;
  TParadoxTable S;
  S.SetDatabaseName(Folder);
  S.SetTableName(Table);
  S.SetReadOnly(true);
  S.Open();
  for (S.First(); !S.Eof(); S.Next()) {
    ++Out.Records;
    const std::string Name = TrimBlanks(S.FieldByName("Name").AsString());
    std::vector<std::string>& Names = Out.Names[S.FieldByName("Num").AsInteger()];
    if (Name.empty() || std::find(Names.begin(), Names.end(), Name) == Names.end())
      Names.push_back(Name);
  }
  S.Close();
  return Out;
}

// Whether a gift whose source number has Names may carry the target name Target: one of the
// names (a blank one: any generated name); no name at all when the number names nothing.
bool NameMatches(const std::vector<std::string>& Names, const std::string& Target,
                 const std::string& Generated) {
  if (Names.empty()) return Target.empty();
  return std::any_of(Names.begin(), Names.end(), [&](const std::string& N) {
    return N.empty() ? !Target.empty() && Target.rfind(Generated, 0) == 0 : N == Target;
  });
}

// "Morning", "Morning and Evening", "Morning, Vespers or an unnamed service".
std::string NamesText(const std::vector<std::string>& Names, const char* Kind,
                      const char* Conjunction) {
  std::string Out;
  for (size_t I = 0; I < Names.size(); ++I) {
    if (I) Out += I + 1 == Names.size() ? std::string(" ") + Conjunction + " " : ", ";
    Out += Names[I].empty() ? std::string("an unnamed ") + Kind : Names[I];
  }
  return Out;
}

// A gift's service or fund that is not what its source number names: both sides, names and
// numbers.
std::string WrongName(const char* Kind, int64_t SourceNum, const std::vector<std::string>& Names,
                      const std::string& TargetNum, const std::string& TargetName) {
  std::string Out = std::string(Kind) + " " + std::to_string(SourceNum) +
                    (Names.empty() ? " is not in the source"
                                   : " is " + NamesText(Names, Kind, "or") + " in the source");
  if (TargetName.empty())
    return Out + ", the target gives it " + Kind + " " + TargetNum + ", which has no name";
  return Out + ", the target puts it under " + TargetName + " (" + Kind + " " + TargetNum + ")";
}

// The notice for a number several source services (funds) share: where its gifts went.
std::string SharedNumberNotice(const char* Kind, int64_t Num, const std::vector<std::string>& Names,
                               const std::map<std::string, int64_t>& Under) {
  std::string Out = std::string(Kind) + " " + std::to_string(Num) + " is " +
                    NamesText(Names, Kind, "and") + " in the source: ";
  int64_t Total = 0;
  for (const auto& [Name, Count] : Under) Total += Count;
  if (Total == 0) return Out + "no gift carries it";
  Out += Total == 1 ? "its gift is under " : "its " + std::to_string(Total) + " gifts are under ";
  size_t I = 0;
  for (const auto& [Name, Count] : Under) {
    if (I++) Out += I == Under.size() ? " and " : ", ";
    Out += Name;
    if (Under.size() > 1) Out += " (" + std::to_string(Count) + ")";
  }
  return Out;
}

// Target services or funds: every name is a source name (or a generated one for an unnamed
// source record) and every source name is there.
TTableCheck CheckNamedTable(TVLTDatabase& Db, const char* Table, const TSourceNamed& Source,
                            const char* Kind, const std::string& Generated) {
  TTableCheck C;
  C.Table = Table;
  C.Read = Source.Records;
  std::set<std::string> Wanted, Found;
  bool Unnamed = false;
  for (const auto& [Num, Names] : Source.Names)
    for (const std::string& N : Names) {
      if (N.empty())
        Unnamed = true;
      else
        Wanted.insert(N);
    }
  for (auto& Row : TargetRows(Db, Table)) {
    ++C.Written;
    const std::string& Name = Row["Name"];
    if (Wanted.count(Name) || (Unnamed && Name.rfind(Generated, 0) == 0)) {
      ++C.Verified;
      Found.insert(Name);
      continue;
    }
    ++C.Mismatched;
    C.Mismatches.push_back("record (" + Row["Num"] + "): " + Name + " is no " + Kind +
                           " of the source");
  }
  for (const std::string& N : Wanted) {
    if (Found.count(N)) continue;
    ++C.Mismatched;
    C.Mismatches.push_back(std::string(Kind) + " " + N +
                           " of the source is missing from the target");
  }
  return C;
}

}  // namespace

namespace {

// The source gifts as the comparison needs them, read on a second thread while the first reads
// the database: the match key (date, contributor, amount, split entry and check numbers) and the
// service and fund numbers.
struct TSourceGifts {
  struct TGift {
    std::string Key;
    int64_t Service = 0, Fund = 0;
  };
  std::vector<TGift> Gifts;
  std::string Error;
};

TSourceGifts ReadSourceGifts(const std::string& Folder) {
  TSourceGifts R;
  try {
    TParadoxTable S;
    S.SetDatabaseName(Folder);
    S.SetTableName("contfile.db");
    S.SetReadOnly(true);
    S.Open();
    TParadoxField &SDate = S.FieldByName("CDate"), &SNum = S.FieldByName("Num"),
                  &SAmount = S.FieldByName("Amount"), &SEntry = S.FieldByName("Entrynum"),
                  &SService = S.FieldByName("Service"), &SFund = S.FieldByName("Fund");
    auto Field = [&](TParadoxField& F, TVLTDataSetFieldType T) {
      return Canonical(T, 0, SourceVariant(F.AsVariant()));
    };
    for (S.First(); !S.Eof(); S.Next()) {
      const int32_t E = SEntry.AsInteger();
      R.Gifts.push_back({Field(SDate, vlt::ftDate) + "|" + Field(SNum, vlt::ftInteger) + "|" +
                             Field(SAmount, vlt::ftCurrency) + "|" +
                             std::to_string(SplitEntrynum(E)) + "|" +
                             std::to_string(SplitChkNum(E)),
                         SService.AsInteger(), SFund.AsInteger()});
    }
    S.Close();
  } catch (const std::exception& E) {
    R.Error = E.what();
  }
  return R;
}

}  // namespace

TAreaCheck VerifyContributions(const std::string& Folder, const std::string& File,
                               const std::vector<std::string>& Log, bool CheckEngine) {
  static int Serial = 0;
  const TStopwatch Watch;
  TAreaCheck R;
  R.Area = TArea::Contributions;
  R.Folder = Folder;
  R.Database = File;
  auto Db = std::make_unique<TVLTDatabase>();
  Db->SetDatabaseName("VerifyCont" + std::to_string(++Serial));
  Db->SetDatabaseFileName(File);
  Db->FPassword = TargetDatabase(TArea::Contributions).Password;
  Db->FCryptoAlgorithm = craRijndael_256;
  Db->FSilentMode = true;
  Db->FReadOnly = true;
  auto SourceGifts = std::async(std::launch::async, [&Folder] { return ReadSourceGifts(Folder); });
  try {
    Db->Open();
    // Contributors: one row per source contributor in each of Names, Addr, Phone and Email, by
    // number, with the values the conversion gives them.
    struct TPart {
      const char* Target;
      // target field, source field ("" = constant), constant; "@trim" trims, "@not" negates
      std::vector<std::array<const char*, 3>> Fields;
    };
    const std::vector<TPart> Parts = {
        {"Names",
         {{{"LName", "Lname", "@trim"}},
          {{"FName", "Fname", "@trim"}},
          {{"ENum", "Enum", ""}},
          {{"Active", "Print", "@not"}},
          {{"Rem", "", "F"}}}},
        {"Addr",
         {{{"Type", "", "0"}},
          {{"Addr1", "Addr1", ""}},
          {{"Addr2", "Addr2", ""}},
          {{"City", "City", ""}},
          {{"State", "State", ""}},
          {{"Zip", "Zip", ""}}}},
        {"Phone", {{{"Type", "", "0"}}, {{"Phone", "Phone", ""}}}},
        {"Email", {{{"Type", "", "0"}}, {{"Addr", "Email", ""}}}},
    };
    const TTargetDatabase& Catalogue = TargetDatabase(TArea::Contributions);
    // A contributor that could not be written is logged with the engine's error text.
    const int64_t ContributorErrors =
        std::count_if(Log.begin(), Log.end(), [](const std::string& L) {
          for (const char* Known :
               {"Convert ", "Conversion Complete", "Error Writing record:", "Error Changing "})
            if (L.rfind(Known, 0) == 0) return false;
          return true;
        });
    // The source is opened once (opening orders the whole table) and walked once per part.
    TParadoxTable S;
    S.SetDatabaseName(Folder);
    S.SetTableName("contname.db");
    S.SetReadOnly(true);
    S.Open();
    for (const TPart& Part : Parts) {
      TTableCheck C;
      C.Table = Part.Target;
      std::map<std::string, std::map<std::string, std::string>> ByNum;
      for (auto& Row : TargetRows(*Db, Part.Target)) {
        ++C.Written;
        ByNum[Row["Num"]] = Row;
      }
      std::map<std::string, int32_t> Sizes;
      for (const TTargetField& F : Catalogue.Table(Part.Target).Fields()) Sizes[F.Name] = F.Size;
      for (S.First(); !S.Eof(); S.Next()) {
        ++C.Read;
        const std::string Num =
            S.FieldByName("Num").IsNull() ? "~" : std::to_string(S.FieldByName("Num").AsInteger());
        auto It = ByNum.find(Num);
        if (It == ByNum.end()) {
          if (C.Rejected < ContributorErrors) {
            ++C.Rejected;
          } else {
            ++C.Mismatched;
            C.Mismatches.push_back("record (" + Num + "): missing from the target");
          }
          continue;
        }
        std::string Problem;
        for (const auto& [To, From, How] : Part.Fields) {
          std::string Want;
          if (!*From) {
            Want = How;
          } else if (std::string(How) == "@not") {
            Want = S.FieldByName(From).AsBoolean() ? "F" : "T";
          } else {
            std::string Text = S.FieldByName(From).AsString();
            if (std::string(How) == "@trim") Text = TrimBlanks(Text);
            const int32_t Size = Sizes[To];
            if (Size > 0 && Text.size() > static_cast<size_t>(Size))
              Text.resize(static_cast<size_t>(Size));
            Want = Text.empty() ? "~" : Text;
          }
          if (It->second[To] != Want) {
            Problem = "record (" + Num + "): " + To + " is " + It->second[To] +
                      ", the source gives " + Want;
            break;
          }
        }
        if (Problem.empty()) {
          ++C.Verified;
        } else {
          ++C.Mismatched;
          C.Mismatches.push_back(Problem);
        }
      }
      R.Tables.push_back(std::move(C));
    }

    const auto SourceServices = SourceNames(Folder, "servs.db"),
               SourceFunds = SourceNames(Folder, "funds.db");
    R.Tables.push_back(CheckNamedTable(*Db, "Servs", SourceServices, "service", "Service "));
    R.Tables.push_back(CheckNamedTable(*Db, "Funds", SourceFunds, "fund", "Fund "));

    // Gifts: matched by date, contributor, amount and the split entry number; the service and
    // fund by the name they had in the source. A number that names one source service must
    // bring its gifts to that name; the gifts of a number several share cannot tell them apart
    // and may be under any of them, which the notices show.
    std::map<std::string, std::string> ServiceName, FundName;
    for (auto& Row : TargetRows(*Db, "Servs")) ServiceName[Row["Num"]] = Row["Name"];
    for (auto& Row : TargetRows(*Db, "Funds")) FundName[Row["Num"]] = Row["Name"];
    const std::string GiftTable = std::to_string(BackupYear(Folder)) + "cont";
    TTableCheck Gifts;
    Gifts.Table = GiftTable;
    struct TTargetGift {
      std::string ServiceNum, Service, FundNum, Fund;
    };
    // Read by field position: a map per row would cost more than the conversion itself.
    std::unordered_multimap<std::string, TTargetGift> Target;
    {
      TVLTTable T;
      T.SetDatabaseName(Db->DatabaseName());
      T.SetTableName(GiftTable);
      T.Open();
      Target.reserve(static_cast<size_t>(std::max(T.RecordCount(), 0)));
      TVLTField &CDate = T.FieldByName("CDate"), &Num = T.FieldByName("Num"),
                &Service = T.FieldByName("Service"), &Fund = T.FieldByName("Fund"),
                &Amount = T.FieldByName("Amount"), &Entry = T.FieldByName("Entrynum"),
                &Chk = T.FieldByName("ChkNum");
      auto Text = [](const TVLTField& F) {
        return Canonical(F.DataType(), F.Size(), F.AsVariant());
      };
      for (T.First(); !T.Eof(); T.Next()) {
        ++Gifts.Written;
        std::string S = Text(Service), F = Text(Fund);
        auto SN = ServiceName.find(S), FN = FundName.find(F);
        Target.emplace(Text(CDate) + "|" + Text(Num) + "|" + Text(Amount) + "|" + Text(Entry) +
                           "|" + Text(Chk),
                       TTargetGift{S, SN == ServiceName.end() ? "" : SN->second, F,
                                   FN == FundName.end() ? "" : FN->second});
      }
      T.Close();
    }
    // Gifts of shared numbers by the target name they went to, and gifts whose number names
    // nothing in the source.
    std::map<int64_t, std::map<std::string, int64_t>> SharedServices, SharedFunds;
    std::map<int64_t, int64_t> LooseServices, LooseFunds;
    int64_t Missing = 0;
    TSourceGifts Source = SourceGifts.get();
    if (!Source.Error.empty()) R.Problems.push_back("contfile.db: " + Source.Error);
    for (const TSourceGifts::TGift& G : Source.Gifts) {
      ++Gifts.Read;
      const std::string& Key = G.Key;
      const int64_t H = G.Service, Fd = G.Fund;
      auto Range = Target.equal_range(Key);
      if (Range.first == Range.second) {
        ++Missing;
        continue;
      }
      const auto& SNames = SourceServices.Of(H);
      const auto& FNames = SourceFunds.Of(Fd);
      auto Match = std::find_if(Range.first, Range.second, [&](const auto& T) {
        return NameMatches(SNames, T.second.Service, "Service ") &&
               NameMatches(FNames, T.second.Fund, "Fund ");
      });
      if (Match == Range.second) {
        const TTargetGift& T = Range.first->second;
        std::string Problem;
        if (!NameMatches(SNames, T.Service, "Service "))
          Problem = WrongName("service", H, SNames, T.ServiceNum, T.Service);
        if (!NameMatches(FNames, T.Fund, "Fund "))
          Problem +=
              (Problem.empty() ? "" : "; ") + WrongName("fund", Fd, FNames, T.FundNum, T.Fund);
        ++Gifts.Mismatched;
        Gifts.Mismatches.push_back("gift " + Shown(Key + "|") + ": " + Problem);
        Target.erase(Range.first);
        continue;
      }
      if (SNames.size() > 1) ++SharedServices[H][Match->second.Service];
      if (FNames.size() > 1) ++SharedFunds[Fd][Match->second.Fund];
      if (SNames.empty()) ++LooseServices[H];
      if (FNames.empty()) ++LooseFunds[Fd];
      ++Gifts.Verified;
      Target.erase(Match);
    }
    for (auto [Kind, Names, Shared, Loose] :
         {std::tuple{"service", &SourceServices, &SharedServices, &LooseServices},
          std::tuple{"fund", &SourceFunds, &SharedFunds, &LooseFunds}}) {
      for (const auto& [Num, List] : Names->Names)
        if (List.size() > 1) {
          static const std::map<std::string, int64_t> kNoGifts;
          auto It = Shared->find(Num);
          Gifts.Notices.push_back(
              SharedNumberNotice(Kind, Num, List, It == Shared->end() ? kNoGifts : It->second));
        }
      for (const auto& [Num, Count] : *Loose)
        Gifts.Notices.push_back(
            std::string(Kind) + " " + std::to_string(Num) + " is not in the source: its " +
            (Count == 1 ? std::string("gift has") : std::to_string(Count) + " gifts have") +
            " no " + Kind + " in the target either");
    }
    const int64_t Lines = std::count_if(Log.begin(), Log.end(), [](const std::string& L) {
      return L.rfind("Error Writing record:", 0) == 0;
    });
    Gifts.Rejected = std::min(Missing, Lines);
    if (Missing > Gifts.Rejected) {
      Gifts.Mismatched += Missing - Gifts.Rejected;
      Gifts.Mismatches.push_back(std::to_string(Missing - Gifts.Rejected) +
                                 " gifts missing from the target");
    }
    R.Tables.push_back(std::move(Gifts));
    ListTablesWithoutSource(*Db, R);
    if (CheckEngine) Db->CheckTables(R.Problems);
    Db->Close();
  } catch (const std::exception& E) {
    R.Problems.push_back(File + ": " + E.what());
  }
  R.VerifySeconds = Watch.Seconds();
  return R;
}

}  // namespace vlt::app

namespace vlt::app {

namespace {

// A JSON string of 8-bit (Windows-1252) text.
// Whether S is well-formed UTF-8 (ASCII included).
bool IsUtf8(const std::string& S) {
  for (size_t I = 0; I < S.size();) {
    const unsigned char C = static_cast<unsigned char>(S[I]);
    const size_t N = C < 0x80           ? 1
                     : (C >> 5) == 0x6  ? 2
                     : (C >> 4) == 0xE  ? 3
                     : (C >> 3) == 0x1E ? 4
                                        : 0;
    if (N == 0 || I + N > S.size() || (N == 2 && C < 0xC2)) return false;
    for (size_t K = 1; K < N; ++K)
      if ((static_cast<unsigned char>(S[I + K]) & 0xC0) != 0x80) return false;
    I += N;
  }
  return true;
}

// A report string as JSON. Paths come from the file system as UTF-8 and go out as they are;
// the engine's and the tables' 8-bit text (Windows-1252) is converted once.
std::string Json(const std::string& S) {
  if (IsUtf8(S)) {
    std::string Out = "\"";
    for (unsigned char C : S) {
      if (C == '"' || C == '\\') {
        Out += '\\';
        Out += static_cast<char>(C);
      } else if (C < 0x20) {
        char Buf[8];
        std::snprintf(Buf, sizeof Buf, "\\u%04x", C);
        Out += Buf;
      } else {
        Out += static_cast<char>(C);
      }
    }
    return Out + "\"";
  }
  std::string Out = "\"";
  for (unsigned char C : S) {
    const char16_t U = Win1252ToUnicode(C);
    if (U == '"' || U == '\\') {
      Out += '\\';
      Out += static_cast<char>(U);
    } else if (U < 0x20) {
      char Buf[8];
      std::snprintf(Buf, sizeof Buf, "\\u%04x", U);
      Out += Buf;
    } else if (U < 0x80) {
      Out += static_cast<char>(U);
    } else if (U < 0x800) {
      Out += static_cast<char>(0xC0 | (U >> 6));
      Out += static_cast<char>(0x80 | (U & 0x3F));
    } else {
      Out += static_cast<char>(0xE0 | (U >> 12));
      Out += static_cast<char>(0x80 | ((U >> 6) & 0x3F));
      Out += static_cast<char>(0x80 | (U & 0x3F));
    }
  }
  return Out + "\"";
}

// The area's times, as JSON members after a comma.
std::string Seconds(const TAreaCheck& C) {
  char Buf[96];
  std::string Out;
  if (C.ConvertSeconds >= 0) {
    std::snprintf(Buf, sizeof Buf, ", \"convert_seconds\": %.3f", C.ConvertSeconds);
    Out += Buf;
  }
  std::snprintf(Buf, sizeof Buf, ", \"verify_seconds\": %.3f", C.VerifySeconds);
  return Out + Buf;
}

std::string JsonList(const std::vector<std::string>& Items) {
  std::string Out = "[";
  for (size_t I = 0; I < Items.size(); ++I) Out += (I ? ", " : "") + Json(Items[I]);
  return Out + "]";
}

}  // namespace

namespace {

// ",\n  "recovered": [...]" when the run cleared up after an interrupted one; nothing otherwise.
std::string RecoveredJson(const TRunReport& R) {
  if (R.Recovered.empty()) return {};
  std::string Out = ",\n  \"recovered\": [";
  size_t F = 0;
  for (const auto& [Folder, Notes] : R.Recovered)
    Out += std::string(F++ ? "," : "") + "\n    {\"folder\": " + Json(Folder) +
           ", \"notes\": " + JsonList(Notes) + "}";
  return Out + "\n  ]";
}

}  // namespace

std::string RunReportJson(const TRunReport& R) {
  std::string Out =
      "{\n  \"version\": 1,\n  \"clean\": " + std::string(R.Clean() ? "true" : "false") +
      ",\n  \"areas\": [";
  for (size_t A = 0; A < R.Areas.size(); ++A) {
    const TAreaCheck& C = R.Areas[A];
    Out += std::string(A ? "," : "") + "\n    {\"folder\": " + Json(C.Folder) + ", \"area\": \"" +
           AreaInfo(C.Area).Key + "\", \"database\": " + Json(C.Database) +
           ", \"clean\": " + (C.Clean() ? "true" : "false") + Seconds(C) +
           ", \"problems\": " + JsonList(C.Problems) + ", \"tables\": [";
    for (size_t T = 0; T < C.Tables.size(); ++T) {
      const TTableCheck& X = C.Tables[T];
      Out += std::string(T ? "," : "") + "\n      {\"table\": " + Json(X.Table) +
             ", \"read\": " + std::to_string(X.Read) +
             ", \"skipped\": " + std::to_string(X.Skipped) +
             ", \"rejected\": " + std::to_string(X.Rejected) +
             ", \"written\": " + std::to_string(X.Written) +
             ", \"verified\": " + std::to_string(X.Verified) +
             ", \"mismatched\": " + std::to_string(X.Mismatched) +
             ", \"mismatches\": " + JsonList(X.Mismatches) +
             ", \"notices\": " + JsonList(X.Notices) + "}";
    }
    Out += C.Tables.empty() ? "]}" : "\n    ]}";
  }
  Out += R.Areas.empty() ? "],\n  \"folders\": [" : "\n  ],\n  \"folders\": [";
  size_t F = 0;
  for (const auto& [Folder, C] : R.Folders) {
    Out += std::string(F++ ? "," : "") + "\n    {\"folder\": " + Json(Folder) +
           ", \"changed\": " + JsonList(C.Changed) + ", \"appeared\": " + JsonList(C.Appeared) +
           ", \"vanished\": " + JsonList(C.Vanished) +
           ", \"unexpected\": " + JsonList(C.Unexpected) + ", \"notices\": " + JsonList(C.Notices) +
           "}";
  }
  Out += R.Folders.empty() ? "]" : "\n  ]";
  Out += ",\n  \"outcomes\": [";
  for (size_t I = 0; I < R.Outcomes.size(); ++I) {
    const TAreaOutcome& O = R.Outcomes[I];
    Out += std::string(I ? "," : "") + "\n    {\"folder\": " + Json(O.Folder) + ", \"area\": \"" +
           AreaInfo(O.Area).Key + "\", \"outcome\": \"" +
           kOutcomeKeys[static_cast<size_t>(O.Kind)] + "\", \"error\": " + Json(O.Error) +
           ", \"log\": " + Json(O.LogFile) + "}";
  }
  Out += R.Outcomes.empty() ? "]" : "\n  ]";
  Out += RecoveredJson(R);
  return Out + "\n}\n";
}

TRunReport VerifyExisting(const std::string& FolderText) {
  TRunReport R;
  std::vector<std::string> Backups;
  const std::string SearchDir =
      ExtractFileExt(FolderText) == ".bkp" ? ExtractFilePath(FolderText) : FolderText;
  TConverter::GetBkpDirs(SearchDir, Backups);
  for (std::string Folder : Backups) {
    Folder = ExcludeTrailingPathDelimiter(Folder);
    for (const TAreaInfo& A : Areas()) {
      const TArea Area = A.Area;
      if (!IsAreaFolder(Area, Folder)) continue;
      const std::string File = JoinPath(Folder, AreaTargetFile(Area, Folder));
      if (!FileExists(File)) {
        // An area whose tables are there but whose database is not was never converted.
        if (HasSources(Area, Folder))
          R.Outcomes.push_back(
              {Folder, Area, TAreaOutcomeKind::NotConverted, "", AreaLogFile(Area, Folder)});
        continue;
      }
      const std::vector<std::string> Lines =
          ReadLogLines(JoinPath(Folder, AreaLogFile(Area, Folder)));
      R.Areas.push_back(A.Method == TAreaMethod::Contributions
                            ? VerifyContributions(Folder, File, Lines)
                            : VerifyCopyArea(Area, Folder, File, Lines));
    }
  }
  return R;
}

}  // namespace vlt::app
