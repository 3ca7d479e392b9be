#include "app/conversion/DryRun.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "app/conversion/Conversion.h"
#include "app/conversion/ConvertUtil.h"
#include "app/conversion/FileUtil.h"
#include "app/conversion/TableCopy.h"
#include "app/paradox/ParadoxTable.h"
#include "engine/base/VLTTypes.h"

namespace vlt::app {

namespace {

// Where the preparation's layout catalogue covers an area's tables (-1: it does not).
struct TLayoutRange {
  int First, Last;
};
TLayoutRange LayoutsOf(const TAreaInfo& A) {
  if (!A.Prepare) return {-1, -1};
  return *A.Prepare == TPrepareMode::Contributions ? TLayoutRange{10, 13} : TLayoutRange{0, 7};
}

// "  name  N records" or why the table cannot be read; counts the unreadable ones.
std::string DescribeTable(const std::string& Folder, const char* Name, TLayoutRange Layouts,
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
    for (int L = Layouts.First; L >= 0 && L <= Layouts.Last; ++L) {
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
    // A run writes its databases and logs into the folder (and rewrites tables in it).
    if (::access(Folder.c_str(), W_OK) != 0)
      Out += Folder + ": not writable: a run could write nothing here (" + std::strerror(errno) +
             ")\n";
    for (const TAreaInfo& A : Areas()) {
      const TAreaSources& Set = A.Sources;
      if (!IsAreaFolder(A.Area, Folder)) continue;
      const std::string Target = AreaTargetFile(A.Area, Folder);
      const std::string Head = Folder + ": " + A.Name + ": ";
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
        Out +=
            Head + (A.EmptyWithoutSources ? "empty " + Target + " (sources missing: " + List + ")\n"
                                          : "not converted, sources missing: " + List + "\n");
        continue;
      }
      Out += Head + "convert into " + Target + "\n";
      int Unreadable = 0;
      for (const char* Name : Set.Required)
        Out += DescribeTable(Folder, Name, LayoutsOf(A), Unreadable) + "\n";
      for (const char* Name : Set.Optional)
        if (!FindFileNoCase(Folder, Name).empty())
          Out += DescribeTable(Folder, Name, LayoutsOf(A), Unreadable) + "\n";
    }
  }
  return Out;
}

}  // namespace vlt::app
