#include "app/conversion/ContributionsConversion.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstddef>
#include <exception>

#include "app/conversion/ConvertUtil.h"
#include "app/conversion/FileUtil.h"
#include "app/conversion/Interruption.h"
#include "app/conversion/TableCopy.h"
#include "app/conversion/TargetComponents.h"
#include "engine/expr/VLTLocale.h"

namespace vlt::app {

namespace {

constexpr TArea kArea = TArea::Contributions;
constexpr const char* kTargetFile = "XLQCont.bkp.vlt";

// The four sources in safety-copy order.
const char* const kSources[] = {"contfile", "contname", "servs", "funds"};

// "name-bkp.ext" beside Path.
std::string BackupNameOf(const std::string& Path) {
  const std::string Dir = ExtractFilePath(Path), Name = ExtractFileName(Path);
  const size_t Dot = Name.rfind('.');
  return Dir + Name.substr(0, Dot) + "-bkp" + Name.substr(Dot);
}

void SyncFolder(const std::string& Dir) {
  const int Fd = ::open(Dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (Fd < 0) return;
  ::fsync(Fd);
  ::close(Fd);
}

std::string IntText(const TParadoxField& F) {
  return F.IsNull() ? std::string() : std::to_string(F.AsInteger());
}

}  // namespace

std::vector<std::string> RestoreLeftoverSafetyCopies(const std::string& Folder) {
  std::vector<std::string> Lines;
  for (const char* Name : kSources) {
    for (const char* Ext : {".db", ".px"}) {
      const std::string Copy = FindFileNoCase(Folder, std::string(Name) + "-bkp" + Ext);
      if (!Copy.empty()) {
        std::string Original = FindFileNoCase(Folder, std::string(Name) + Ext);
        if (Original.empty()) Original = JoinPath(Folder, std::string(Name) + Ext);
        if (::rename(Copy.c_str(), Original.c_str()) == 0)
          Lines.push_back("Restored " + ExtractFileName(Original) + " from " +
                          ExtractFileName(Copy) + " left by an interrupted conversion");
      }
      const std::string Half =
          FindFileNoCase(Folder, std::string(Name) + "-bkp" + Ext + ".copy-tmp");
      if (!Half.empty() && DeleteFileIfExists(Half))
        Lines.push_back("Removed " + ExtractFileName(Half) + " left by an interrupted conversion");
    }
  }
  if (!Lines.empty()) SyncFolder(Folder);
  return Lines;
}

int32_t SplitChkNum(int32_t SourceEntrynum) {
  return static_cast<int32_t>((static_cast<uint32_t>(SourceEntrynum) >> 8) & 0xFFFFFu);
}

int32_t SplitEntrynum(int32_t SourceEntrynum) {
  const uint32_t E = static_cast<uint32_t>(SourceEntrynum);
  return static_cast<int32_t>((E & 0xFFu) | ((E >> 28) << 24));
}

std::string QuotedFilterString(const std::string& S) {
  std::string Out = "'";
  for (char C : S) {
    Out += C;
    if (C == '\'') Out += '\'';
  }
  return Out + "'";
}

std::string TrimBlanks(const std::string& S) {
  size_t B = 0, E = S.size();
  while (B < E && static_cast<unsigned char>(S[B]) <= ' ') ++B;
  while (E > B && static_cast<unsigned char>(S[E - 1]) <= ' ') --E;
  return S.substr(B, E - B);
}

// ---- tables NextFreeNum probes ----

class TContributionsRun::TNumTable {
 public:
  virtual ~TNumTable() = default;
  // Remembers the filter (and position), later put back by Restore.
  virtual void Save() = 0;
  virtual void Restore() = 0;
  // Records shown by Filter.
  virtual int32_t CountWhere(const std::string& Filter) = 0;
};

class TContributionsRun::TTargetNums : public TNumTable {
 public:
  explicit TTargetNums(TVLTTable& T) : FT(T) {}
  void Save() override {
    FFilter = FT.Filter();
    FFiltered = FT.Filtered();
  }
  void Restore() override {
    FT.SetFilter(FFilter);
    FT.SetFiltered(FFiltered);
  }
  int32_t CountWhere(const std::string& Filter) override {
    FT.SetFilter(Filter);
    FT.SetFiltered(true);
    return FT.RecordCount();
  }

 private:
  TVLTTable& FT;
  std::string FFilter;
  bool FFiltered = false;
};

class TContributionsRun::TSourceNums : public TNumTable {
 public:
  explicit TSourceNums(TParadoxTable& T) : FT(T) {}
  void Save() override {
    FFilter = FT.Filter();
    FFiltered = FT.Filtered();
    FPlace = FT.GetBookmark();
  }
  void Restore() override {
    FT.SetFilter(FFilter);
    FT.SetFiltered(FFiltered);
    if (FPlace != 0 && FT.BookmarkValid(FPlace)) FT.GotoBookmark(FPlace);
  }
  int32_t CountWhere(const std::string& Filter) override {
    FT.SetFilter(Filter);
    FT.SetFiltered(true);
    return FT.RecordCount();
  }

 private:
  TParadoxTable& FT;
  std::string FFilter;
  bool FFiltered = false;
  TParadoxBookmark FPlace = 0;
};

// ---- the run ----

TContributionsRun::TContributionsRun(TConverter& Converter)
    : FConv(Converter), F(Converter.BackupDir()) {}

TContributionsRun::~TContributionsRun() = default;

void TContributionsRun::Log(std::string Line) {
  FConv.AddLog(std::move(Line));
}

void TContributionsRun::Fail(int32_t Code) {
  FConv.SetConversionError(Code);
}

std::string TContributionsRun::Source(const char* Name) const {
  std::string P = FindFileNoCase(F, std::string(Name) + ".db");
  return P.empty() ? JoinPath(F, std::string(Name) + ".db") : P;
}

bool TContributionsRun::Run() {
  TConversionUI& UI = FConv.UI();
  // 1.
  if (!IsAreaFolder(kArea, F) || FConv.ConversionError() != 0) return false;
  const std::string Target = JoinPath(F, kTargetFile);
  if (FileExists(Target)) return false;
  FConv.Targets().Database(kArea).SetDatabaseFileName(Target);
  if (FConv.Targets().Database(kArea).Exists()) return false;
  // Built under a temporary name, published by the closing step; a temporary file the recovery
  // kept belongs to another process converting this folder now.
  if (FileExists(PartialNameOf(Target))) return false;
  FConv.Targets().Database(kArea).SetDatabaseFileName(PartialNameOf(Target));
  // 2-4.
  PrepareParadoxTables(F, TPrepareMode::Contributions, UI);
  FYear = BackupYear(F);
  UI.SetProgressStep(20);
  UI.SetProgressPosition(0);
  // 5.
  for (const char* Name : kSources) {
    if (FindFileNoCase(F, std::string(Name) + ".db").empty()) {
      UI.ShowError(kMsgConversionFailed);
      UI.SetProgressPosition(100);
      return false;
    }
  }
  // 6-7.
  if (!MakeSafetyCopies()) {
    UI.SetProgressPosition(100);
    return false;
  }
  Log("Convert " + F);

  // 8.
  TTargetComponents& T = FConv.Targets();
  try {
    T.Table(kArea, "#cont").SetTableName(std::to_string(FYear) + "cont");
    T.CreateDatabaseAndTables(kArea);
  } catch (const std::exception& E) {
    StorageFailed(E);
    UI.ShowError(E.what());
    Fail(1);
    Log(E.what());
  }
  // 9.
  if (FConv.ConversionError() == 0) {
    try {
      OpenSources();
    } catch (const std::exception& E) {
      UI.ShowError(E.what());
      Fail(2);
      Log(E.what());
      T.CloseQuietly(kArea);
      DiscardPartial(PartialNameOf(Target));
    }
  }
  // 10.
  if (FConv.ConversionError() == 0) {
    try {
      OpenTargets();
    } catch (const std::exception& E) {
      StorageFailed(E);
      Fail(3);
      Log(E.what());
    }
  }
  // 11-15.
  UI.SetProgressPosition(10);
  if (FConv.ConversionError() == 0) {
    try {
      FConv.CheckCancelled();
      Contributors();
      UI.SetProgressPosition(40);
      PointLookupAt("Servs.db");
      ServicesOrFunds(false);
      UI.StepProgress();
      PointLookupAt("Funds.db");
      ServicesOrFunds(true);
      Contributions();
    } catch (const std::exception& E) {
      // The renumbered sources must not stay: go on to the closing step, which restores them.
      StorageFailed(E);
      Log(E.what());
    } catch (const TConversionCancelled&) {
      Cancelled();
      throw;
    }
  }
  // 17.
  Closing();
  return true;
}

bool TContributionsRun::MakeSafetyCopies() {
  for (const char* Name : kSources) {
    const std::string Db = FindFileNoCase(F, std::string(Name) + ".db");
    try {
      CopyFileReplacing(Db, BackupNameOf(Db));
    } catch (const std::exception& E) {
      // Without a safety copy the sources may not be renumbered.
      for (const TSafetyCopy& C : FCopies) DeleteFileIfExists(C.Copy);
      FCopies.clear();
      FConv.UI().ShowError(E.what());
      return false;
    }
    FCopies.push_back({Db, BackupNameOf(Db)});
    const std::string Px = FindFileNoCase(F, std::string(Name) + ".px");
    if (!Px.empty()) {
      try {
        CopyFileReplacing(Px, BackupNameOf(Px));
        FCopies.push_back({Px, BackupNameOf(Px)});
      } catch (const std::exception&) {
        // A missing index copy is tolerated: the index can be rebuilt from the table.
      }
    }
  }
  return true;
}

void TContributionsRun::RestoreSafetyCopies() {
  for (const TSafetyCopy& C : FCopies) ::rename(C.Copy.c_str(), C.Original.c_str());
  SyncFolder(F);
  FCopies.clear();
}

void TContributionsRun::OpenSources() {
  struct TSrc {
    TParadoxTable* T;
    const char* Name;
  };
  for (const TSrc& S : {TSrc{&FContNames, "contname.db"}, TSrc{&FCtbl0, "contfile.db"},
                        TSrc{&FServTbl0, "servs.db"}, TSrc{&FFundTbl0, "funds.db"}}) {
    S.T->SetDatabaseName(IncludeTrailingPathDelimiter(F));
    S.T->SetTableName(S.Name);
    S.T->SetTableType(ttParadox);
    S.T->Open();
  }
  FT01.Close();
  FT01.SetDatabaseName(IncludeTrailingPathDelimiter(F));
  FT01.SetTableName("contname.db");
  FT01.UpdateFieldDefs();
  FT01.UpdateIndexDefs();
  FT01.Open();
}

void TContributionsRun::OpenTargets() {
  TTargetComponents& T = FConv.Targets();
  T.Table(kArea, "#cont").SetIndexName("");
  T.Table(kArea, "#cont").Open();
  for (const char* Name : {"Names", "Servs", "Funds", "cchng", "Schng", "Fchng"})
    T.Table(kArea, Name).SetIndexName("Main");
  for (const char* Name :
       {"Names", "Addr", "Phone", "Email", "Servs", "Funds", "cchng", "Schng", "Fchng"})
    T.Table(kArea, Name).Open();
}

void TContributionsRun::PointLookupAt(const std::string& Table) {
  FT01.Close();
  FT01.SetTableName(Table);
  FT01.UpdateFieldDefs();
  FT01.UpdateIndexDefs();
  FT01.Open();
}

void TContributionsRun::Contributors() {
  TTargetComponents& T = FConv.Targets();
  TVLTTable &Names = T.Table(kArea, "Names"), &Addr = T.Table(kArea, "Addr"),
            &Phone = T.Table(kArea, "Phone"), &Email = T.Table(kArea, "Email");
  auto Put = [](TVLTTable& Tbl, const char* Field, const TParadoxField& From) {
    AssignSourceValue(Tbl.FieldByName(Field), From.AsVariant());
  };
  TBatchCommit Batch(Names.Database());
  for (FContNames.First(); !FContNames.Eof(); FContNames.Next()) {
    FConv.CheckCancelled();
    TVLTTable* Current = nullptr;
    try {
      const int32_t N = FContNames.FieldByName("Num").AsInteger();
      const bool NumNull = FContNames.FieldByName("Num").IsNull();
      Current = &Names;
      Names.Append();
      Names.FieldByName("LName").SetAsString(
          TrimBlanks(FContNames.FieldByName("Lname").AsString()));
      Names.FieldByName("FName").SetAsString(
          TrimBlanks(FContNames.FieldByName("Fname").AsString()));
      if (!NumNull) Names.FieldByName("Num").SetAsInteger(N);
      Put(Names, "ENum", FContNames.FieldByName("Enum"));
      Names.FieldByName("Active").SetAsBoolean(!FContNames.FieldByName("Print").AsBoolean());
      Names.FieldByName("Rem").SetAsBoolean(false);
      Names.FieldByName("Ys").SetAsInteger(FYear);
      Names.FieldByName("Ye").SetAsInteger(FYear);
      Names.Post();

      Current = &Addr;
      Addr.Append();
      if (!NumNull) Addr.FieldByName("Num").SetAsInteger(N);
      Addr.FieldByName("Type").SetAsInteger(0);
      for (const char* Fld : {"Addr1", "Addr2", "City", "State", "Zip"})
        Put(Addr, Fld, FContNames.FieldByName(Fld));
      Addr.Post();

      Current = &Phone;
      Phone.Append();
      if (!NumNull) Phone.FieldByName("Num").SetAsInteger(N);
      Phone.FieldByName("Type").SetAsInteger(0);
      Put(Phone, "Phone", FContNames.FieldByName("Phone"));
      Phone.Post();

      Current = &Email;
      Email.Append();
      if (!NumNull) Email.FieldByName("Num").SetAsInteger(N);
      Email.FieldByName("Type").SetAsInteger(0);
      Put(Email, "Addr", FContNames.FieldByName("Email"));
      Email.Post();
      Batch.Written();
    } catch (const std::exception& E) {
      // A disk that refuses this write refuses every later one: the area ends here.
      if (IsStorageFailure(E.what())) throw;
      Log(E.what());
      if (Current) {
        try {
          Current->Cancel();
        } catch (...) {
          // The record's error is logged above; a cancel that fails leaves nothing to add.
        }
      }
    }
  }
  Batch.Finish();
}

int32_t TContributionsRun::NextFreeNum(int32_t A, TNumTable& T) {
  T.Save();
  int32_t Result;
  try {
    const bool Probe = A <= 0;
    if (Probe) A = -A;
    if (T.CountWhere("Num=" + std::to_string(A)) == 0) {
      Result = A;
    } else {
      if (!Probe) {
        int32_t C = 50, D = 64;
        for (;;) {
          const int32_t Shown =
              T.CountWhere("Num>" + std::to_string(C - 1) + " and Num<" + std::to_string(C + D));
          if (Shown < D) {
            D /= 4;
            if (D <= 1) break;
          } else {
            C += D;
          }
        }
        A = C - 1;
      }
      do {
        ++A;
      } while (T.CountWhere("Num=" + std::to_string(A)) != 0);
      Result = A;
    }
  } catch (...) {
    T.Restore();
    throw;
  }
  T.Restore();
  return Result;
}

bool TContributionsRun::SourceHasNum(int32_t N) {
  FT01.SetFilter("Num=" + std::to_string(N));
  FT01.SetFiltered(true);
  const bool Has = FT01.RecordCount() > 0;
  FT01.SetFiltered(false);
  return Has;
}

void TContributionsRun::IndexGifts(bool Funds) {
  TGiftOwners& G = Funds ? FFundGifts : FServiceGifts;
  G = {};
  TParadoxTable& Src = Funds ? FFundTbl0 : FServTbl0;
  for (Src.First(); !Src.Eof(); Src.Next())
    G.SourceNum[Src.GetBookmark()] = Src.FieldByName("Num").AsInteger();
  // A gift without a number matches no "Field=n" filter: no renumbering moves it.
  const TParadoxField& Field = FCtbl0.FieldByName(Funds ? "Fund" : "Service");
  for (FCtbl0.First(); !FCtbl0.Eof(); FCtbl0.Next())
    if (!Field.IsNull()) G.Buckets[{Field.AsInteger(), 0}].push_back(FCtbl0.GetBookmark());
}

void TContributionsRun::RenumberContributions(bool Funds, TParadoxBookmark Record, int32_t Old,
                                              int32_t New) {
  const char* Field = Funds ? "Fund" : "Service";
  TGiftOwners& G = Funds ? FFundGifts : FServiceGifts;
  std::vector<TParadoxBookmark>& Into = G.Buckets[{New, Record}];
  std::vector<std::vector<TParadoxBookmark>*> Moving = {&G.Buckets[{Old, Record}]};
  const auto Num = G.SourceNum.find(Record);
  if (Num != G.SourceNum.end() && Num->second == Old) Moving.push_back(&G.Buckets[{Old, 0}]);
  try {
    for (std::vector<TParadoxBookmark>* Gifts : Moving) {
      size_t Done = 0;
      try {
        for (; Done < Gifts->size(); ++Done) {
          FCtbl0.GotoBookmark((*Gifts)[Done]);
          FCtbl0.Edit();
          FCtbl0.FieldByName(Field).SetAsInteger(New);
          FCtbl0.Post();
          Into.push_back((*Gifts)[Done]);
        }
      } catch (...) {
        Gifts->erase(Gifts->begin(), Gifts->begin() + static_cast<std::ptrdiff_t>(Done));
        throw;
      }
      Gifts->clear();
    }
  } catch (const std::exception&) {
    try {
      FCtbl0.Cancel();
    } catch (...) {
      // The failure is logged below; a cancel that fails leaves nothing to add.
    }
    Log("Error Changing contribution records to new number: OldN: " + std::to_string(Old) +
        ", NewN: " + std::to_string(New));
    Fail(101);
  }
}

void TContributionsRun::MoveSourceOutOfTheWay(bool Funds, int32_t P, const std::string& S) {
  if (!SourceHasNum(P)) return;
  FT01.SetFilter("Num=" + std::to_string(P));
  FT01.SetFiltered(true);
  FT01.First();
  if (!FT01.Eof() && TrimBlanks(FT01.FieldByName("Name").AsString()) != S) {
    TSourceNums Lookup(FT01);
    const int32_t M = NextFreeNum(P, Lookup);
    const TParadoxBookmark Moved = FT01.GetBookmark();
    FT01.Edit();
    FT01.FieldByName("Num").SetAsInteger(M);
    FT01.Post();
    RenumberContributions(Funds, Moved, P, M);
  }
  FT01.SetFiltered(false);
}

void TContributionsRun::AddServiceOrFund(bool Funds, int32_t P, std::string& S) {
  TVLTTable& Tbl = FConv.Targets().Table(kArea, Funds ? "Funds" : "Servs");
  int32_t& Serial = Funds ? FFundSerial : FServiceSerial;
  int32_t& Pos = Funds ? FFundPos : FServicePos;
  if (S.empty()) S = (Funds ? "Fund " : "Service ") + std::to_string(Serial++);
  Tbl.Append();
  try {
    Tbl.FieldByName("Pos").SetAsInteger(Pos);
    Tbl.FieldByName("Name").SetAsString(S);
    Tbl.FieldByName("Num").SetAsInteger(P);
    if (Funds)
      AssignSourceValue(Tbl.FieldByName("Deduct"), FFundTbl0.FieldByName("Deduct").AsVariant());
    Tbl.FieldByName("Active").SetAsBoolean(true);
    Tbl.Post();
  } catch (...) {
    Tbl.Cancel();
    throw;
  }
  ++Pos;
}

void TContributionsRun::AppendChange(bool Funds, int32_t OldNum, const std::string& Name,
                                     int32_t NewNum) {
  TVLTTable& Tbl = FConv.Targets().Table(kArea, Funds ? "Fchng" : "Schng");
  Tbl.Append();
  try {
    Tbl.FieldByName("onum").SetAsInteger(OldNum);
    Tbl.FieldByName("name").SetAsString(Name);
    Tbl.FieldByName("nnum").SetAsInteger(NewNum);
    Tbl.Post();
  } catch (...) {
    Tbl.Cancel();
    throw;
  }
}

bool TContributionsRun::ChangeExists(bool Funds, int32_t OldNum, const std::string& Name,
                                     int32_t& NewNum) {
  TVLTTable& Tbl = FConv.Targets().Table(kArea, Funds ? "Fchng" : "Schng");
  TVLTVariant Num, Text;
  Num.SetAsInteger(OldNum);
  Text.SetAsAnsiString(Name);
  if (!Tbl.FindKey({Num, Text})) return false;
  NewNum = Tbl.FieldByName("nnum").AsInteger();
  return true;
}

void TContributionsRun::ServicesOrFunds(bool Funds) {
  TParadoxTable& Src = Funds ? FFundTbl0 : FServTbl0;
  TVLTTable& Tgt = FConv.Targets().Table(kArea, Funds ? "Funds" : "Servs");
  TTargetNums TargetNums(Tgt);
  TSourceNums SourceNums(Src);
  IndexGifts(Funds);
  Tgt.SetFiltered(true);
  for (Src.First(); !Src.Eof(); Src.Next()) {
    const int32_t H = Src.FieldByName("Num").AsInteger();
    std::string S = TrimBlanks(Src.FieldByName("Name").AsString());
    int32_t P = H;
    bool Added = false;
    Tgt.SetFilter("Num=" + std::to_string(H) + " and Name=" + QuotedFilterString(S));
    if (Tgt.RecordCount() == 0) {
      Tgt.SetFilter("Name=" + QuotedFilterString(S));
      int32_t Changed = 0;
      if (ChangeExists(Funds, H, S, Changed)) {
        P = Changed;
        MoveSourceOutOfTheWay(Funds, P, S);
      } else if (Tgt.RecordCount() == 0) {
        P = NextFreeNum(H, TargetNums);
        if (P != H) {
          while (SourceHasNum(P)) {
            const int32_t M = NextFreeNum(-P, SourceNums);
            P = NextFreeNum(-M, TargetNums);
          }
        }
        AddServiceOrFund(Funds, P, S);
        Added = true;
      } else {
        Tgt.First();
        P = Tgt.FieldByName("Num").AsInteger();
        MoveSourceOutOfTheWay(Funds, P, S);
        AppendChange(Funds, H, S, P);
      }
    }
    if (Added && P != H) AppendChange(Funds, H, S, P);
    if (P != H) {
      const TParadoxBookmark Here = Src.GetBookmark();
      RenumberContributions(Funds, Here, H, P);
      Src.SetFilter("Num=" + std::to_string(P) + " and Name=" + QuotedFilterString(S));
      Src.SetFiltered(true);
      const bool Shown = Src.RecordCount() > 0;
      Src.SetFiltered(false);
      Src.GotoBookmark(Here);
      if (!Shown) {
        Src.Edit();
        Src.FieldByName("Num").SetAsInteger(P);
        Src.Post();
      }
    }
  }
  Tgt.SetFiltered(false);
}

void TContributionsRun::Contributions() {
  TVLTTable& Tbl = FConv.Targets().Table(kArea, "#cont");
  TBatchCommit Batch(Tbl.Database());
  {
    for (FCtbl0.First(); !FCtbl0.Eof(); FCtbl0.Next()) {
      FConv.CheckCancelled();
      const TParadoxField &CDate = FCtbl0.FieldByName("CDate"), &Num = FCtbl0.FieldByName("Num"),
                          &Service = FCtbl0.FieldByName("Service"),
                          &Fund = FCtbl0.FieldByName("Fund"),
                          &Amount = FCtbl0.FieldByName("Amount"),
                          &Entry = FCtbl0.FieldByName("Entrynum");
      const int32_t Source = Entry.AsInteger();
      const int32_t NewEntry = SplitEntrynum(Source), ChkNum = SplitChkNum(Source);
      try {
        Tbl.Append();
        AssignSourceValue(Tbl.FieldByName("CDate"), CDate.AsVariant());
        AssignSourceValue(Tbl.FieldByName("Num"), Num.AsVariant());
        AssignSourceValue(Tbl.FieldByName("Service"), Service.AsVariant());
        AssignSourceValue(Tbl.FieldByName("Fund"), Fund.AsVariant());
        if (!Amount.IsNull()) Tbl.FieldByName("Amount").SetAsCurrency(Amount.AsCurrency());
        Tbl.FieldByName("Entrynum").SetAsInteger(NewEntry);
        Tbl.FieldByName("ChkNum").SetAsInteger(ChkNum);
        Tbl.Post();
        Batch.Written();
      } catch (const std::exception& E) {
        if (IsStorageFailure(E.what())) throw;
        try {
          Tbl.Cancel();
        } catch (...) {
          // The record's error is logged below; a cancel that fails leaves nothing to add.
        }
        Log("Error Writing record:" + SourceValueText(CDate.AsVariant()) + "," + IntText(Num) +
            "," + IntText(Service) + "," + IntText(Fund) + "," +
            (Amount.IsNull() ? "" : ShortestDecimal(Amount.AsCurrency())) + "," +
            std::to_string(NewEntry) + "," + std::to_string(ChkNum) + "," + IntText(Entry));
      }
    }
  }
  Batch.Finish();
}

void TContributionsRun::Closing() {
  TConversionUI& UI = FConv.UI();
  TTargetComponents& T = FConv.Targets();
  for (TParadoxTable* S : {&FContNames, &FCtbl0, &FServTbl0, &FFundTbl0}) {
    try {
      S->Close();
    } catch (const std::exception& E) {
      Log(E.what());
    }
  }
  try {
    T.Table(kArea, "#cont").Close();
  } catch (const std::exception& E) {
    Log(E.what());
  }
  try {
    FT01.Close();
  } catch (const std::exception& E) {
    Log(E.what());
  }
  RestoreSafetyCopies();
  UI.SetProgressPosition(85);
  TVLTDatabase& Db = T.Database(kArea);
  try {
    if (Db.Connected()) Db.CloseDataSets();
  } catch (const std::exception& E) {
    Log(E.what());
  } catch (...) {
    Log("The datasets of the area could not be closed");
  }
  if (!FStorageFailed) {
    FConv.InspectWorkingTables();
    try {
      for (const char* Name : {"Fchng", "cchng", "Schng"}) T.Table(kArea, Name).DeleteTable();
    } catch (...) {
      // The first failure ends the deletions.
    }
    try {
      Db.Close();
      if (FileExists(Db.DatabaseFileName())) Db.CompactDatabase();
    } catch (const std::exception& E) {
      StorageFailed(E);
      Log(E.what());
    }
  }
  if (FStorageFailed) {
    // A database the disk stopped half-way is not whole: none is published, and the next run
    // converts the area again.
    T.CloseQuietly(kArea);
    DiscardPartial(PartialNameOf(JoinPath(F, kTargetFile)));
  }
  Publish();
  UI.SetProgressPosition(100);
  Log("Conversion Complete");
}

bool TContributionsRun::StorageFailed(const std::exception& E) {
  if (IsStorageFailure(E.what())) FStorageFailed = true;
  return FStorageFailed;
}

void TContributionsRun::Publish() {
  const std::string Target = JoinPath(F, kTargetFile), Partial = PartialNameOf(Target);
  if (!FileExists(Partial)) return;
  if (FConv.UI().CancelRequested()) {
    // The sources are already restored; only the database is left to discard.
    DiscardPartial(Partial);
    throw TConversionCancelled();
  }
  try {
    PublishDatabase(Partial, Target);
  } catch (const std::exception& E) {
    Log(E.what());
  }
}

void TContributionsRun::Cancelled() {
  for (TParadoxTable* S : {&FContNames, &FCtbl0, &FServTbl0, &FFundTbl0, &FT01}) {
    try {
      S->Close();
    } catch (...) {
      // Closing before the restore; the restore replaces the files whatever state they are in.
    }
  }
  RestoreSafetyCopies();
  FConv.Targets().CloseQuietly(kArea);
  const std::string Partial = PartialNameOf(JoinPath(F, kTargetFile));
  DiscardPartial(Partial);
}

// ---- the converter's hooks ----

void TConverter::PrepareContributionsDatabase() {
  Targets().PrepareDatabase(TArea::Contributions,
                            Targets().Database(TArea::Contributions).DatabaseFileName());
}

bool TConverter::ConvertContributions() {
  TContributionsRun Run(*this);
  return Run.Run();
}

}  // namespace vlt::app
