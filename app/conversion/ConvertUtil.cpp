#include "app/conversion/ConvertUtil.h"

#include <cxxabi.h>
#include <dirent.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <memory>
#include <typeinfo>

#include "app/paradox/ParadoxError.h"
#include "app/paradox/ParadoxFile.h"
#include "app/paradox/ParadoxSortOrder.h"
#include "app/paradox/ParadoxTable.h"
#include "engine/base/VLTTypes.h"

namespace vlt::app {

const std::vector<TParadoxLayout>& ParadoxLayouts() {
  static const std::vector<TParadoxLayout> L = {
      {"bankfile",
       {{"AcctNum", ftInteger, 0},
        {"BDate", ftDate, 0},
        {"TransType", ftInteger, 0},
        {"TransNum", ftInteger, 0},
        {"Amount", ftFloat, 0},
        {"Reconciled", ftInteger, 0},
        {"Payroll", ftBoolean, 0},
        {"Payee", ftInteger, 0}},
       4},
      {"bankinfo",
       {{"Pos", ftInteger, 0},
        {"Name", ftString, 50},
        {"Num", ftInteger, 0},
        {"BBal", ftCurrency, 0},
        {"Anum1", ftString, 20},
        {"Anum2", ftString, 20}},
       3},
      {"expcats", {{"Pos", ftInteger, 0}, {"Name", ftString, 50}, {"Num", ftInteger, 0}}, 3},
      {"expgrps",
       {{"Cat", ftInteger, 0},
        {"Pos", ftInteger, 0},
        {"Name", ftString, 50},
        {"Num", ftInteger, 0}},
       4},
      {"expacct",
       {{"Cat", ftInteger, 0},
        {"Group", ftInteger, 0},
        {"Pos", ftInteger, 0},
        {"Name", ftString, 50},
        {"Num", ftInteger, 0},
        {"Budget", ftCurrency, 0}},
       5},
      {"intcats", {{"Pos", ftInteger, 0}, {"Name", ftString, 50}, {"Num", ftInteger, 0}}, 3},
      {"intacct",
       {{"Cat", ftInteger, 0},
        {"Pos", ftInteger, 0},
        {"Name", ftString, 50},
        {"Num", ftInteger, 0},
        {"BBal", ftCurrency, 0}},
       4},
      {"payees",
       {{"Name", ftString, 50},
        {"Num", ftInteger, 0},
        {"Addr1", ftString, 50},
        {"Addr2", ftString, 50},
        {"City", ftString, 50},
        {"State", ftString, 10},
        {"Zip", ftString, 10},
        {"Country", ftInteger, 0},
        {"Phone", ftString, 20},
        {"ANum", ftString, 20}},
       2},
      {"tranfile",
       {{"TransDate", ftDate, 0},
        {"BankAccountNum", ftInteger, 0},
        {"TransType", ftInteger, 0},
        {"TransNum", ftInteger, 0},
        {"ExpAccountType", ftInteger, 0},
        {"ExpGroupNum", ftInteger, 0},
        {"ExpAccountNum", ftInteger, 0},
        {"IntAccountType", ftInteger, 0},
        {"IntAccountNum", ftInteger, 0},
        {"Num", ftInteger, 0},
        {"ExpCredit", ftBoolean, 0},
        {"Amount", ftFloat, 0},
        {"Comment", ftString, 30}},
       10},
      {"fyinfo", {{"Fystart", ftDate, 0}, {"Fyend", ftDate, 0}}, 0},
      {"contfile",
       {{"CDate", ftDate, 0},
        {"Num", ftInteger, 0},
        {"Service", ftInteger, 0},
        {"Fund", ftInteger, 0},
        {"Amount", ftCurrency, 0},
        {"EntryNum", ftInteger, 0}},
       6},
      {"funds",
       {{"Pos", ftInteger, 0},
        {"Name", ftString, 50},
        {"Num", ftInteger, 0},
        {"Deduct", ftBoolean, 0}},
       3},
      {"servs", {{"Pos", ftInteger, 0}, {"Name", ftString, 50}, {"Num", ftInteger, 0}}, 3},
      {"contname",
       {{"Lname", ftString, 50},
        {"FName", ftString, 30},
        {"Num", ftInteger, 0},
        {"Addr1", ftString, 50},
        {"Addr2", ftString, 50},
        {"City", ftString, 50},
        {"State", ftString, 10},
        {"Zip", ftString, 10},
        {"Phone", ftString, 20},
        {"Print", ftBoolean, 0},
        {"Enum", ftString, 12},
        {"Email", ftString, 40}},
       3},
  };
  return L;
}

namespace {

std::string KeyFieldList(const TParadoxLayout& L) {
  std::string S;
  for (int I = 0; I < L.KeyCount; ++I) {
    if (I) S += ';';
    S += L.Fields[static_cast<size_t>(I)].Name;
  }
  return S;
}

std::string TypeNameOf(const std::exception& E) {
  const char* Mangled = typeid(E).name();
  int Status = 0;
  std::unique_ptr<char, void (*)(void*)> D(abi::__cxa_demangle(Mangled, nullptr, nullptr, &Status),
                                           std::free);
  std::string N = (Status == 0 && D) ? D.get() : Mangled;
  size_t Colon = N.rfind("::");
  return Colon == std::string::npos ? N : N.substr(Colon + 2);
}

// Moves From to To unless To exists (in any case spelling): the temporary name must be new.
bool MoveNoReplace(const std::string& Dir, const std::string& From, const std::string& ToName) {
  if (!FindParadoxFile(Dir, ToName).empty()) return false;
  std::string To = Dir + "/" + ToName;
  if (::renameat2(AT_FDCWD, From.c_str(), AT_FDCWD, To.c_str(), RENAME_NOREPLACE) == 0) return true;
  if (errno != EINVAL && errno != ENOSYS) return false;
  // A file system without no-replace renames: a hard link also refuses an existing name.
  if (::link(From.c_str(), To.c_str()) != 0) return false;
  ::unlink(From.c_str());
  return true;
}

void DeleteNoCase(const std::string& Dir, const std::string& Name) {
  std::string P = FindParadoxFile(Dir, Name);
  if (!P.empty()) ::unlink(P.c_str());
}

// The secondary indexes of a table this routine has rewritten no longer match its records
// (they point into blocks by number): they go, each .Xnn with its .Ynn, so that nothing opens
// a stale index. They are removed only after the rewrite succeeded.
void DeleteSecondaryIndexes(const std::string& Dir, const std::string& TableFile) {
  std::string Db = FindParadoxFile(Dir, TableFile);
  for (const std::string& X : FindSecondaryIndexFiles(Db.empty() ? Dir + "/" + TableFile : Db))
    ::unlink(X.c_str());
}

}  // namespace

bool IsOldLayout(int T, const std::vector<TParadoxFieldDef>& F, int& Form) {
  const size_t N = F.size();
  auto NameIs = [&](size_t I, const char* Name) { return N > I && SameText(F[I].Name, Name); };
  Form = 0;
  switch (T) {
    case 0:
      return NameIs(5, "RECONCILED") && F[5].DataType == ftBoolean;
    case 1:
      return N == 4 || (N == 6 && (F[4].DataType == ftInteger || F[4].DataType == ftSmallint));
    case 2:
      return N == 4;
    case 3:
      if (N == 3)
        Form = 1;
      else if (N == 4 && NameIs(0, "CATTYPE"))
        Form = 2;
      return Form != 0;
    case 4:
      return N == 7;
    case 5:
      return N == 5;
    case 6:
      return N == 6;
    case 7:
      return N == 11;
    case 10:
      return NameIs(0, "CONTDATE");
    case 11:
      return NameIs(0, "FUNDPOS");
    case 12:
      return NameIs(0, "POSNUM");
    case 13:
      return N == 10;
    default:
      return false;
  }
}

namespace {

class TPreparer {
 public:
  TPreparer(std::string Path, TConversionUI& UI) : FPath(std::move(Path)), FUI(UI) {}

  bool Run(TPrepareMode Mode) {
    try {
      int From = Mode == TPrepareMode::Contributions ? 10 : 0;
      int To = Mode == TPrepareMode::Contributions ? 13 : 7;
      for (int T = From; T <= To; ++T) {
        int R = 0, Form = 0;
        if (IsOld(T, R, Form)) Upgrade(T, R, Form);
        ReIndex(T);
      }
      if (Mode == TPrepareMode::Ledger) {
        ReIndex(8);
        ReIndex(9);
      }
    } catch (const EParadoxError& E) {
      FResult = false;
      FUI.ShowError(std::string(EParadoxError::kTypeName) + ": " + E.what());
    } catch (const std::exception& E) {
      FResult = false;
      FUI.ShowError(TypeNameOf(E) + ": " + E.what());
    }
    CloseQuietly(FOld);
    CloseQuietly(FNew);
    return FResult;
  }

 private:
  static void CloseQuietly(TParadoxTable& T) {
    try {
      T.Close();
    } catch (const std::exception&) {
    }
  }

  const TParadoxLayout& Layout(int T) const { return ParadoxLayouts()[static_cast<size_t>(T)]; }

  // Opens the table's file in FOld and applies its old-layout rule. Form tells the expense
  // groups' two old forms apart (1 = A, 2 = B).
  bool IsOld(int T, int& R, int& Form) {
    const TParadoxLayout& L = Layout(T);
    CloseQuietly(FOld);
    FOld.SetDatabaseName(FPath);
    FOld.SetTableName(std::string(L.BaseName) + ".db");
    FOld.SetTableType(ttParadox);
    FOld.FieldDefs().clear();
    FOld.IndexDefs().clear();
    try {
      FOld.UpdateFieldDefs();
      FOld.UpdateIndexDefs();
      FOld.Open();
    } catch (const EParadoxError&) {
      return false;
    }
    const bool Old = IsOldLayout(T, FOld.FieldDefs(), Form);
    if (Old) {
      R = FOld.RecordCount();
      FOldKey = FOld.Header().Encryption;
      FOld.Close();
    }
    return Old;
  }

  // Gives Path the permissions, owner and group of Like (the owner only where the process may).
  static void TakeAccessOf(const std::string& Like, const std::string& Path) {
    struct stat St {};
    if (Path.empty() || ::stat(Like.c_str(), &St) != 0) return;
    if (::chown(Path.c_str(), St.st_uid, St.st_gid) != 0) {
      // Not allowed to give the file away: it stays the converting user's.
    }
    ::chmod(Path.c_str(), St.st_mode & 07777);
  }

  void Upgrade(int T, int R, int Form) {
    const TParadoxLayout& L = Layout(T);
    const std::string Base = L.BaseName;
    const std::string TableFile = Base + ".db";
    // 1-2. Move the table aside under the first free temporary name.
    std::string Source = FindParadoxFile(FPath, TableFile);
    std::string TempName;
    bool Moved = false;
    for (int K = 0; K <= 9 && !Moved; ++K) {
      TempName = Base.substr(0, Base.size() - 1) + std::to_string(K) + ".db";
      Moved = !Source.empty() && MoveNoReplace(FPath, Source, TempName);
    }
    if (!Moved) {
      FResult = false;
      FUI.ShowError(std::string(kMsgRestructure1) + FPath + kMsgRestructure2 + kMsgRestructure3 +
                    TempName);
      return;
    }
    // 3-4. The new table under the old name, with the current layout and key.
    DeleteNoCase(FPath, Base + ".px");
    try {
      CloseQuietly(FNew);
      FNew.SetDatabaseName(FPath);
      FNew.SetTableName(TableFile);
      FNew.SetTableType(ttParadox);
      FNew.FieldDefs().clear();
      for (const TParadoxLayoutField& F : L.Fields)
        FNew.FieldDefs().push_back({F.Name, F.Type, F.Size, false});
      DeleteNoCase(FPath, Base + ".px");
      FNew.IndexDefs().clear();
      if (L.KeyCount > 0)
        FNew.IndexDefs().push_back(
            {"", KeyFieldList(L), static_cast<uint8_t>(ixPrimary | ixUnique)});
      // A password-protected table stays protected with the same password.
      FNew.SetEncryptionKey(FOldKey);
      FNew.CreateTable();
      // The new table stands in for the one moved aside: its permissions, owner and group.
      const std::string Moved = FindParadoxFile(FPath, TempName),
                        Created = FindParadoxFile(FPath, TableFile);
      TakeAccessOf(Moved, Created);
      TakeAccessOf(Moved, FindSiblingFile(Created, ".px"));
      DeleteSecondaryIndexes(FPath, TableFile);
      FNew.Open();
    } catch (const EParadoxError&) {
      FResult = false;
      FUI.ShowError(std::string(kMsgStructureProblem) + Base + ".db\"");
      return;
    }
    // 5-9. Copy the records from the moved table.
    try {
      FOld.Close();
      FOld.SetTableName(TempName);
      FOld.Open();
      if (FOld.RecordCount() != R) {
        // The table changed between the checks: copy nothing and keep the moved file.
        FResult = false;
        FNew.Close();
        FOld.Close();
        return;
      }
      FNew.First();
      while (FNew.RecordCount() > 0) {
        FNew.First();
        FNew.Delete();
      }
      int Seq = 0;
      for (FOld.First(); !FOld.Eof(); FOld.Next(), ++Seq) {
        FNew.Append();
        FillRecord(T, Form, Seq);
        FNew.Post();
      }
      int R2 = FOld.RecordCount();
      FOld.Close();
      FNew.Close();
      if (R2 == R) DeleteNoCase(FPath, TempName);
    } catch (const EParadoxError&) {
      FResult = false;
      if (FNew.State() == dsInsert || FNew.State() == dsEdit) FNew.Cancel();
      CloseQuietly(FOld);
      CloseQuietly(FNew);
    }
  }

  // Copies old field From (counted from 1) into new field To (counted from 0).
  void Copy(int From, int To) { FNew.Fields(To).SetAsVariant(FOld.Fields(From - 1).AsVariant()); }

  void FillRecord(int T, int Form, int Seq) {
    switch (T) {
      case 0:
        for (int I = 1; I <= 5; ++I) Copy(I, I - 1);
        FNew.Fields(5).SetAsInteger(FOld.Fields(5).AsBoolean() ? 1 : 0);
        Copy(8, 6);
        Copy(9, 7);
        break;
      case 1:
        for (int I = 1; I <= 4; ++I) Copy(I, I - 1);
        FNew.Fields(4).SetAsString("");
        FNew.Fields(5).SetAsString("");
        break;
      case 2:
      case 5:
        for (int I = 1; I <= 3; ++I) Copy(I, I - 1);
        break;
      case 3:
        if (Form == 1) {
          Copy(1, 0);
          FNew.Fields(1).SetAsInteger(Seq);
          Copy(2, 2);
          Copy(3, 3);
        } else {
          for (int I = 1; I <= 4; ++I) Copy(I, I - 1);
        }
        break;
      case 4:
        for (int I = 1; I <= 5; ++I) Copy(I, I - 1);
        Copy(7, 5);
        break;
      case 6:
        for (int I = 1; I <= 5; ++I) Copy(I, I - 1);
        break;
      case 7:
        Copy(1, 0);
        Copy(9, 1);
        Copy(2, 2);
        FNew.Fields(3).SetAsString("");
        Copy(3, 4);
        Copy(4, 5);
        Copy(5, 6);
        FNew.Fields(7).SetAsInteger(0);
        Copy(6, 8);
        Copy(10, 9);
        break;
      case 10:
        for (int I = 1; I <= 6; ++I) Copy(I, I - 1);
        break;
      case 11:
        for (int I = 1; I <= 4; ++I) Copy(I, I - 1);
        break;
      case 12:
        for (int I = 1; I <= 3; ++I) Copy(I, I - 1);
        break;
      case 13:
        for (int I = 1; I <= 4; ++I) Copy(I, I - 1);
        for (int I = 5; I <= 10; ++I) Copy(I, I);
        break;
      default:
        break;
    }
  }

  void ReIndex(int T) {
    const TParadoxLayout& L = Layout(T);
    const std::string TableFile = std::string(L.BaseName) + ".db";
    try {
      FOld.Close();
      // A key under a sort order this program does not know cannot be written: keep the
      // table's own index rather than delete it for nothing.
      if (L.KeyCount > 0) {
        std::string Db = FindParadoxFile(FPath, TableFile);
        if (!Db.empty() && KeysNeedUnknownOrder(ReadParadoxHeader(Db), L.KeyCount)) {
          FResult = false;
          return;
        }
      }
      // The new index replaces the old one in a single rename, and a file whose rebuilt bytes
      // equal what it holds is not written at all; a table whose index cannot be rebuilt is
      // left without one.
      if (L.KeyCount == 0) DeleteNoCase(FPath, std::string(L.BaseName) + ".px");
      FOld.SetDatabaseName(FPath);
      FOld.SetTableName(TableFile);
      FOld.IndexDefs().clear();
      FOld.UpdateFieldDefs();
      if (L.KeyCount > 0) {
        FOld.AddIndex("", KeyFieldList(L), ixPrimary | ixUnique);
        DeleteSecondaryIndexes(FPath, TableFile);
      }
    } catch (const EParadoxError&) {
      // A table whose records break the key is left without an index; a table that does not
      // read at all keeps the one it has, which may be all that is left of it.
      if (TableReads(TableFile)) DeleteNoCase(FPath, std::string(L.BaseName) + ".px");
      FResult = false;
    }
  }

  bool TableReads(const std::string& TableFile) const {
    const std::string Db = FindParadoxFile(FPath, TableFile);
    if (Db.empty()) return false;
    try {
      ReadParadoxFile(Db);
      return true;
    } catch (const EParadoxError&) {
      return false;
    }
  }

  static bool KeysNeedUnknownOrder(const TParadoxHeader& H, int KeyCount) {
    if (CollationOf(H.SortOrder, H.SortOrderName) != TParadoxCollation::Unknown) return false;
    for (int I = 0; I < KeyCount && I < static_cast<int>(H.Fields.size()); ++I)
      if (H.Fields[static_cast<size_t>(I)].Kind == pxfAlpha) return true;
    return false;
  }

  std::string FPath;
  TConversionUI& FUI;
  TParadoxTable FOld, FNew;
  uint32_t FOldKey = 0;  // password checksum of the table being upgraded
  bool FResult = true;
};

}  // namespace

namespace {

// Opens Path's table and answers its record count, or -1 when it cannot be opened; Old tells
// whether its fields are in one of table T's old layouts.
int64_t CountRecords(const std::string& Path, int T, bool& Old) {
  Old = false;
  try {
    TParadoxTable Table;
    Table.SetDatabaseName(Path.substr(0, Path.rfind('/')));
    Table.SetTableName(Path.substr(Path.rfind('/') + 1));
    Table.SetTableType(ttParadox);
    Table.SetReadOnly(true);
    Table.UpdateFieldDefs();
    int Form = 0;
    Old = IsOldLayout(T, Table.FieldDefs(), Form);
    Table.Open();
    const int64_t N = Table.RecordCount();
    Table.Close();
    return N;
  } catch (const EParadoxError&) {
    return -1;
  }
}

}  // namespace

std::vector<std::string> RecoverUpgradeLeftovers(const std::string& Folder, TPrepareMode Mode) {
  std::vector<std::string> Lines;
  const int First = Mode == TPrepareMode::Contributions ? 10 : 0;
  const int Last = Mode == TPrepareMode::Contributions ? 13 : 7;
  for (int T = First; T <= Last; ++T) {
    const std::string Base = ParadoxLayouts()[static_cast<size_t>(T)].BaseName;
    std::string Temp;
    int64_t TempCount = -1;
    for (int K = 9; K >= 0 && Temp.empty(); --K) {
      const std::string P =
          FindParadoxFile(Folder, Base.substr(0, Base.size() - 1) + std::to_string(K) + ".db");
      bool Old = false;
      if (P.empty()) continue;
      const int64_t N = CountRecords(P, T, Old);
      if (N >= 0 && Old) {
        Temp = P;
        TempCount = N;
      }
    }
    if (Temp.empty()) continue;
    const std::string TempName = Temp.substr(Temp.rfind('/') + 1);
    std::string Table = FindParadoxFile(Folder, Base + ".db");
    bool TableOld = false;
    const int64_t TableCount = Table.empty() ? -1 : CountRecords(Table, T, TableOld);
    if (Table.empty()) Table = Folder + "/" + Base + ".db";
    if (TableCount < 0 || (!TableOld && TableCount < TempCount)) {
      DeleteNoCase(Folder, Base + ".px");
      if (::rename(Temp.c_str(), Table.c_str()) != 0) continue;
      Lines.push_back("Restored " + Table.substr(Table.rfind('/') + 1) + " from " + TempName +
                      " left by an interrupted table upgrade");
    } else if (!TableOld && TableCount == TempCount) {
      if (::unlink(Temp.c_str()) != 0) continue;
      Lines.push_back("Removed " + TempName + " left by an interrupted table upgrade: " +
                      Table.substr(Table.rfind('/') + 1) + " holds all of its records");
    } else {
      continue;
    }
    const int Fd = ::open(Folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (Fd >= 0) {
      ::fsync(Fd);
      ::close(Fd);
    }
  }
  return Lines;
}

bool PrepareParadoxTables(const std::string& Folder, TPrepareMode Mode, TConversionUI& UI) {
  // Look the folder up in its parent; the path used is the parent plus the entry's name with
  // surrounding blanks removed.
  std::string F = Folder;
  while (F.size() > 1 && F.back() == '/') F.pop_back();
  size_t Slash = F.find_last_of('/');
  std::string Parent = Slash == std::string::npos ? "." : (Slash == 0 ? "/" : F.substr(0, Slash));
  std::string Name = Slash == std::string::npos ? F : F.substr(Slash + 1);
  std::string Entry;
  if (DIR* D = ::opendir(Parent.c_str())) {
    while (dirent* E = ::readdir(D))
      if (SameText(E->d_name, Name)) {
        Entry = E->d_name;
        if (Entry == Name) break;
      }
    ::closedir(D);
  }
  if (Entry.empty()) return true;
  size_t B = Entry.find_first_not_of(' ');
  size_t E = Entry.find_last_not_of(' ');
  Entry = B == std::string::npos ? std::string() : Entry.substr(B, E - B + 1);
  std::string Path = (Parent == "/" ? "" : Parent) + "/" + Entry;
  TPreparer P(Path, UI);
  return P.Run(Mode);
}

}  // namespace vlt::app
