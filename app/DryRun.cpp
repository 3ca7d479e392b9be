#include "app/DryRun.h"

#include <vector>

#include "app/Conversion.h"
#include "app/ConvertUtil.h"
#include "app/FileUtil.h"
#include "app/ParadoxTable.h"
#include "engine/core/VLTTypes.h"

namespace vlt::app {

namespace {

struct TSourceSet {
  TArea Area;
  std::vector<const char*> Required, Optional;
  int FirstLayout, LastLayout;  // the tables the preparation covers (-1: none)
};

const std::vector<TSourceSet>& SourceSets() {
  static const std::vector<TSourceSet> kSets = {
      {TArea::Contributions, {"contfile.db", "contname.db", "servs.db", "funds.db"}, {}, 10, 13},
      {TArea::Payroll,
       {"DedTex.db", "Deducts.db", "EmpData.db", "EmpDeds.db", "EmpWiths.db", "PayDD.db",
        "Payroll.db", "PayTax.db", "TaxAccts.db"},
       {},
       -1,
       -1},
      {TArea::ChkSch, {"chksc.db"}, {}, -1, -1},
      {TArea::Loans, {"loan.db"}, {}, -1, -1},
      {TArea::Ledger,
       {"bankfile.db", "bankinfo.db", "expcats.db", "expgrps.db", "expacct.db", "fyinfo.db",
        "intcats.db", "intacct.db", "payees.db", "tranfile.db"},
       {"alloc.db", "report.db"},
       0,
       7},
  };
  return kSets;
}

const char* AreaName(TArea A) {
  static const char* const kNames[] = {"contributions", "payroll", "check schedule", "loans",
                                       "ledger"};
  return kNames[static_cast<size_t>(A)];
}

bool EndsWith(const std::string& S, const char* Suffix) {
  const std::string X = Suffix;
  return S.size() >= X.size() && S.compare(S.size() - X.size(), X.size(), X) == 0;
}

// "  name  N records" or why the table cannot be read; counts the unreadable ones.
std::string DescribeTable(const std::string& Folder, const char* Name, const TSourceSet& Set,
                          int& Unreadable) {
  TParadoxTable T;
  T.SetDatabaseName(Folder);
  T.SetTableName(Name);
  T.SetReadOnly(true);
  std::string Line = "    " + std::string(Name) + ": ";
  try {
    T.Open();
    Line += std::to_string(T.RecordCount()) + " records";
    // Every record decodes?
    int Bad = 0;
    for (T.First(); !T.Eof(); T.Next())
      for (int I = 0; I < T.FieldCount(); ++I) {
        try {
          (void)T.Fields(I).AsVariant();
        } catch (const std::exception&) {
          ++Bad;
          break;
        }
      }
    if (Bad) Line += ", " + std::to_string(Bad) + " damaged";
    // An old layout the preparation would upgrade.
    for (int L = Set.FirstLayout; L >= 0 && L <= Set.LastLayout; ++L) {
      if (!SameText(std::string(ParadoxLayouts()[static_cast<size_t>(L)].BaseName) + ".db", Name))
        continue;
      T.UpdateFieldDefs();
      int Form = 0;
      if (IsOldLayout(L, T.FieldDefs(), Form)) Line += ", old layout: would be upgraded";
    }
    T.Close();
  } catch (const std::exception& E) {
    ++Unreadable;
    Line += std::string("cannot be read: ") + E.what();
  }
  return Line;
}

}  // namespace

std::string PlanRun(const std::string& FolderText) {
  std::vector<std::string> Backups;
  const std::string SearchDir =
      ExtractFileExt(FolderText) == ".bkp" ? ExtractFilePath(FolderText) : FolderText;
  TConverter::GetBkpDirs(SearchDir, Backups);
  if (Backups.empty()) return "No backups found to convert.\n";
  std::string Out;
  for (std::string Folder : Backups) {
    Folder = ExcludeTrailingPathDelimiter(Folder);
    for (const TSourceSet& Set : SourceSets()) {
      const TAreaInfo& A = AreaInfo(Set.Area);
      if (!EndsWith(Folder, A.FolderSuffix)) continue;
      std::string Target = A.TargetFile;
      if (Set.Area == TArea::Ledger) {
        const int32_t Year = BackupYear(Folder);
        if (Year < 1981) continue;
        Target = LedgerTargetFile(Year);
      }
      const std::string Head = Folder + ": " + AreaName(Set.Area) + ": ";
      if (FileExists(JoinPath(Folder, Target))) {
        Out += Head + "skip, " + Target + " exists\n";
        continue;
      }
      std::vector<std::string> Missing;
      for (const char* Name : Set.Required)
        if (FindFileNoCase(Folder, Name).empty()) Missing.push_back(Name);
      if (!Missing.empty()) {
        std::string List;
        for (const auto& M : Missing) List += (List.empty() ? "" : ", ") + M;
        Out += Head + (Set.Area == TArea::Payroll
                           ? "empty " + Target + " (sources missing: " + List + ")\n"
                           : "not converted, sources missing: " + List + "\n");
        continue;
      }
      Out += Head + "convert into " + Target + "\n";
      int Unreadable = 0;
      for (const char* Name : Set.Required)
        Out += DescribeTable(Folder, Name, Set, Unreadable) + "\n";
      for (const char* Name : Set.Optional)
        if (!FindFileNoCase(Folder, Name).empty())
          Out += DescribeTable(Folder, Name, Set, Unreadable) + "\n";
    }
  }
  return Out;
}

}  // namespace vlt::app
