#include "app/conversion/SourceTables.h"

#include <algorithm>
#include <cctype>

#include "app/conversion/ConvertUtil.h"
#include "app/paradox/ParadoxError.h"
#include "app/paradox/ParadoxFile.h"
#include "app/paradox/ParadoxIndexFile.h"

namespace vlt::app {

namespace {

std::string LayoutOf(const TParadoxHeader& H) {
  std::string L;
  for (const TParadoxFieldDesc& F : H.Fields) {
    std::string N = F.Name;
    for (char& C : N) C = static_cast<char>(std::toupper(static_cast<unsigned char>(C)));
    L += N + ":" + std::to_string(static_cast<int>(F.Kind)) + ":" + std::to_string(F.Width) + ";";
  }
  return L + "key " + std::to_string(H.KeyFields);
}

std::string BaseName(const std::string& Path) {
  const size_t Slash = Path.find_last_of('/');
  return Slash == std::string::npos ? Path : Path.substr(Slash + 1);
}

}  // namespace

TSourceTables SnapshotSourceTables(const std::string& Folder) {
  TSourceTables Out;
  for (const TParadoxLayout& L : ParadoxLayouts()) {
    const std::string Db = FindParadoxFile(Folder, std::string(L.BaseName) + ".db");
    if (Db.empty()) continue;
    try {
      TParadoxFileImage Img = ReadParadoxFile(Db);
      std::sort(Img.Records.begin(), Img.Records.end());
      Out.push_back({BaseName(Db), LayoutOf(Img.Header), std::move(Img.Records)});
    } catch (const EParadoxError&) {
      // A table that does not read now cannot be compared later; the folder's hashes still
      // tell any change to it.
    }
  }
  return Out;
}

std::vector<std::string> CompareSourceTables(const std::string& Folder,
                                             const TSourceTables& Before) {
  std::vector<std::string> Out;
  for (const TSourceTable& T : Before) {
    const std::string Db = FindParadoxFile(Folder, T.File);
    if (Db.empty()) {
      Out.push_back(T.File + " (the table is gone)");
      continue;
    }
    TParadoxFileImage Img;
    try {
      Img = ReadParadoxFile(Db);
    } catch (const EParadoxError& E) {
      Out.push_back(T.File + " (it no longer reads: " + E.what() + ")");
      continue;
    }
    const size_t Now = Img.Records.size();
    bool Same = Now == T.Records.size();
    if (Same && LayoutOf(Img.Header) == T.Layout) {
      std::vector<std::string> Sorted = Img.Records;
      std::sort(Sorted.begin(), Sorted.end());
      Same = Sorted == T.Records;
    }
    if (!Same)
      Out.push_back(T.File + " (its records differ from before: " +
                    std::to_string(T.Records.size()) + " then, " + std::to_string(Now) + " now)");
    if (Img.Header.KeyFields <= 0) continue;
    const std::string Px = FindSiblingFile(Db, ".px");
    if (Px.empty()) continue;  // a table whose key its records break is left without an index
    try {
      std::vector<TParadoxFieldDesc> Keys(Img.Header.Fields.begin(),
                                          Img.Header.Fields.begin() + Img.Header.KeyFields);
      const std::string Diff = CheckParadoxIndexAgainstData(ReadParadoxIndex(Px, Keys), Img);
      if (!Diff.empty())
        Out.push_back(BaseName(Px) + " (the index does not describe its table: " + Diff + ")");
    } catch (const EParadoxError& E) {
      Out.push_back(BaseName(Px) + " (" + E.what() + ")");
    }
  }
  return Out;
}

}  // namespace vlt::app
