// Preparation of a backup folder's Paradox tables: old layouts upgraded, indexes rebuilt.
#include "app/conversion/ConvertUtil.h"

#include <gtest/gtest.h>

#include "app/paradox/ParadoxError.h"
#include "app/paradox/ParadoxFile.h"
#include "app/paradox/ParadoxTable.h"
#include "engine/base/VLTTypes.h"
#include "tests/app/FakeUI.h"
#include "tests/app/TestDirs.h"

namespace {

using namespace vlt::app;
using vlt::test::TFakeUI;
using vlt::test::TTempDir;

using TRow = std::vector<TParadoxValue>;

void MakeTable(const std::string& Dir, const std::string& Name,
               std::vector<TParadoxFieldDef> Fields, const std::string& Key,
               const std::vector<TRow>& Rows) {
  TParadoxTable T;
  T.SetDatabaseName(Dir);
  T.SetTableName(Name);
  T.FieldDefs() = std::move(Fields);
  if (!Key.empty()) T.IndexDefs() = {{"", Key, ixPrimary | ixUnique}};
  T.CreateTable();
  T.Open();
  for (const TRow& R : Rows) {
    T.Append();
    for (size_t I = 0; I < R.size(); ++I) T.Fields(static_cast<int>(I)).SetAsVariant(R[I]);
    T.Post();
  }
}

std::vector<TRow> ReadRows(const std::string& Dir, const std::string& Name,
                           std::vector<std::string>* Names = nullptr) {
  TParadoxTable T;
  T.SetDatabaseName(Dir);
  T.SetTableName(Name);
  T.Open();
  if (Names) {
    Names->clear();
    for (int I = 0; I < T.FieldCount(); ++I) Names->push_back(T.Fields(I).FieldName());
  }
  std::vector<TRow> Rows;
  for (T.First(); !T.Eof(); T.Next()) {
    TRow R;
    for (int I = 0; I < T.FieldCount(); ++I) R.push_back(T.Fields(I).AsVariant());
    Rows.push_back(R);
  }
  return Rows;
}

TParadoxValue I(int64_t V) {
  return TParadoxValue::Integer(V);
}
TParadoxValue S(const char* V) {
  return TParadoxValue::String(V);
}
TParadoxValue D(int Y, int M, int Dd) {
  return TParadoxValue::Date(DateToDays({Y, M, Dd}));
}
TParadoxValue C(double V) {
  return TParadoxValue::Currency(V);
}
TParadoxValue B(bool V) {
  return TParadoxValue::Boolean(V);
}
const TParadoxValue N = TParadoxValue::Null();

const std::vector<TParadoxFieldDef> kOldContfile = {
    {"ContDate", ftDate, 0, false},   {"Num", ftInteger, 0, false},
    {"Service", ftInteger, 0, false}, {"Fund", ftInteger, 0, false},
    {"Amount", ftCurrency, 0, false}, {"EntryNum", ftInteger, 0, false}};
const std::vector<TRow> kGifts = {{D(2012, 1, 8), I(4), I(1), I(2), C(25.5), I(0x12345678)},
                                  {D(2012, 1, 1), I(3), I(1), I(1), C(10), I(7)},
                                  {D(2012, 1, 1), I(3), I(1), I(1), C(12), I(8)}};

TEST(PrepareParadoxTables, OldContfileBecomesCurrentLayout) {
  TTempDir Dir;
  MakeTable(Dir.Path(), "contfile.db", kOldContfile, "ContDate;Num;Service;Fund;Amount;EntryNum",
            kGifts);
  MakeTable(
      Dir.Path(), "servs.db",
      {{"Pos", ftInteger, 0, false}, {"Name", ftString, 50, false}, {"Num", ftInteger, 0, false}},
      "Pos;Name;Num", {{I(0), S("Morning"), I(1)}});
  TFakeUI UI;
  EXPECT_FALSE(PrepareParadoxTables(Dir.Path(), TPrepareMode::Contributions,
                                    UI));  // funds, contname missing
  EXPECT_TRUE(UI.Boxes.empty());
  std::vector<std::string> Names;
  auto Rows = ReadRows(Dir.Path(), "contfile.db", &Names);
  EXPECT_EQ(Names,
            (std::vector<std::string>{"CDate", "Num", "Service", "Fund", "Amount", "EntryNum"}));
  ASSERT_EQ(Rows.size(), 3u);
  EXPECT_EQ(Rows[0][5], I(7));  // key order
  EXPECT_EQ(Rows[2][4], C(25.5));
  EXPECT_EQ(Rows[2][5], I(0x12345678));
  EXPECT_EQ(FindParadoxFile(Dir.Path(), "contfil0.db"), "");
  EXPECT_NE(FindParadoxFile(Dir.Path(), "contfile.px"), "");
  EXPECT_NE(FindParadoxFile(Dir.Path(), "servs.px"), "");
}

TEST(PrepareParadoxTables, EarlierTemporaryFileIsKept) {
  TTempDir Dir;
  MakeTable(Dir.Path(), "contfile.db", kOldContfile, "", kGifts);
  vlt::test::WriteFile(Dir / "CONTFIL0.DB", "left over from an earlier run");
  TFakeUI UI;
  PrepareParadoxTables(Dir.Path() + "/", TPrepareMode::Contributions, UI);
  EXPECT_EQ(vlt::test::ReadFile(Dir / "CONTFIL0.DB"), "left over from an earlier run");
  EXPECT_EQ(FindParadoxFile(Dir.Path(), "contfil1.db"), "");  // used, then deleted
  EXPECT_EQ(ReadRows(Dir.Path(), "contfile.db").size(), 3u);
}

TEST(PrepareParadoxTables, NoFreeTemporaryNameShowsError) {
  TTempDir Dir;
  MakeTable(Dir.Path(), "contfile.db", kOldContfile, "", kGifts);
  for (int K = 0; K <= 9; ++K)
    vlt::test::WriteFile(Dir / ("contfil" + std::to_string(K) + ".db"), "x");
  TFakeUI UI;
  EXPECT_FALSE(PrepareParadoxTables(Dir.Path(), TPrepareMode::Contributions, UI));
  ASSERT_FALSE(UI.Boxes.empty());
  EXPECT_EQ(UI.Boxes[0],
            (TFakeUI::TBox{true, "While trying to restructure files in " + Dir.Path() +
                                     ", could not create temporary file: contfil9.db"}));
  std::vector<std::string> Names;
  EXPECT_EQ(ReadRows(Dir.Path(), "contfile.db", &Names).size(), 3u);  // untouched
  EXPECT_EQ(Names[0], "ContDate");
}

TEST(PrepareParadoxTables, KeyViolationKeepsDataWithoutIndex) {
  TTempDir Dir;
  // Current layout, unkeyed, two records with the same key.
  const TParadoxLayout& L = ParadoxLayouts()[12];
  std::vector<TParadoxFieldDef> F;
  for (const auto& X : L.Fields) F.push_back({X.Name, X.Type, X.Size, false});
  MakeTable(Dir.Path(), "servs.db", F, "", {{I(0), S("A"), I(1)}, {I(0), S("A"), I(1)}});
  vlt::test::WriteFile(Dir / "servs.px", "stale");
  TFakeUI UI;
  EXPECT_FALSE(PrepareParadoxTables(Dir.Path(), TPrepareMode::Contributions, UI));
  EXPECT_EQ(ReadRows(Dir.Path(), "servs.db").size(), 2u);
  EXPECT_EQ(FindParadoxFile(Dir.Path(), "servs.px"), "");
  EXPECT_EQ(FindParadoxFile(Dir.Path(), "servs0.db"), "");  // never moved
}

TEST(PrepareParadoxTables, ADamagedTableKeepsItsIndexFile) {
  TTempDir Dir;
  const TParadoxLayout& L = ParadoxLayouts()[12];
  std::vector<TParadoxFieldDef> F;
  for (const auto& X : L.Fields) F.push_back({X.Name, X.Type, X.Size, false});
  MakeTable(Dir.Path(), "servs.db", F, "Pos;Name;Num",
            {{I(0), S("A"), I(1)}, {I(1), S("B"), I(2)}});
  const std::string Px = vlt::test::ReadFile(Dir / "servs.px");
  // Cut the data file off inside its first record.
  std::string Db = vlt::test::ReadFile(Dir / "servs.db");
  Db.resize(2048 + 10);
  vlt::test::WriteFile(Dir / "servs.db", Db);
  TFakeUI UI;
  EXPECT_FALSE(PrepareParadoxTables(Dir.Path(), TPrepareMode::Contributions, UI));
  EXPECT_TRUE(vlt::test::ReadFile(Dir / "servs.db") == Db);
  EXPECT_TRUE(vlt::test::ReadFile(Dir / "servs.px") == Px);
}

TEST(PrepareParadoxTables, LedgerUpgradesAndReindexes) {
  TTempDir Dir;
  // Old three-field expense groups: Pos numbered in read order.
  MakeTable(
      Dir.Path(), "EXPGRPS.DB",
      {{"Cat", ftInteger, 0, false}, {"Name", ftString, 50, false}, {"Num", ftInteger, 0, false}},
      "", {{I(1), S("Rent"), I(10)}, {I(1), S("Heat"), I(11)}, {I(2), S("Pay"), I(12)}});
  // Old bank file: field 6 is a boolean RECONCILED, 9 fields.
  MakeTable(Dir.Path(), "bankfile.db",
            {{"AcctNum", ftInteger, 0, false},
             {"BDate", ftDate, 0, false},
             {"TransType", ftInteger, 0, false},
             {"TransNum", ftInteger, 0, false},
             {"Amount", ftFloat, 0, false},
             {"Reconciled", ftBoolean, 0, false},
             {"Old7", ftInteger, 0, false},
             {"Payroll", ftBoolean, 0, false},
             {"Payee", ftInteger, 0, false}},
            "",
            {{I(1), D(2012, 5, 1), I(2), I(3), TParadoxValue::Floating(-4.5), B(true), I(99),
              B(false), I(6)}});
  // Old payees (11 fields).
  std::vector<TParadoxFieldDef> P;
  for (const char* Nm : {"Name", "Addr1", "City", "State", "Zip", "Phone", "X7", "X8"})
    P.push_back({Nm, ftString, 20, false});
  P.push_back({"Num", ftInteger, 0, false});
  P.push_back({"ANum", ftString, 20, false});
  P.push_back({"X11", ftString, 5, false});
  MakeTable(Dir.Path(), "payees.db", P, "",
            {{S("O'Hara"), S("1 Main"), S("Town"), S("ST"), S("12345"), S("555"), N, N, I(4),
              S("A1"), N}});
  MakeTable(Dir.Path(), "fyinfo.db", {{"Fystart", ftDate, 0, false}, {"Fyend", ftDate, 0, false}},
            "", {{D(2012, 1, 1), D(2012, 12, 31)}});
  vlt::test::WriteFile(Dir / "fyinfo.px", "stale");
  std::string FyBefore = vlt::test::ReadFile(Dir / "fyinfo.db");
  TFakeUI UI;
  PrepareParadoxTables(Dir.Path(), TPrepareMode::Ledger, UI);
  EXPECT_TRUE(UI.Boxes.empty());

  auto G = ReadRows(Dir.Path(), "expgrps.db");
  ASSERT_EQ(G.size(), 3u);
  EXPECT_EQ(G[0], (TRow{I(1), I(0), S("Rent"), I(10)}));
  EXPECT_EQ(G[1], (TRow{I(1), I(1), S("Heat"), I(11)}));
  EXPECT_EQ(G[2], (TRow{I(2), I(2), S("Pay"), I(12)}));
  EXPECT_NE(FindParadoxFile(Dir.Path(), "expgrps.px"), "");

  auto Bk = ReadRows(Dir.Path(), "bankfile.db");
  ASSERT_EQ(Bk.size(), 1u);
  EXPECT_EQ(Bk[0], (TRow{I(1), D(2012, 5, 1), I(2), I(3), TParadoxValue::Floating(-4.5), I(1),
                         B(false), I(6)}));

  auto Py = ReadRows(Dir.Path(), "payees.db");
  ASSERT_EQ(Py.size(), 1u);
  EXPECT_EQ(Py[0], (TRow{S("O'Hara"), I(4), S("1 Main"), N, S("Town"), S("ST"), S("12345"), I(0),
                         S("555"), S("A1")}));

  // fyinfo has no key: only its .px goes.
  EXPECT_EQ(FindParadoxFile(Dir.Path(), "fyinfo.px"), "");
  EXPECT_EQ(vlt::test::ReadFile(Dir / "fyinfo.db"), FyBefore);
}

TEST(PrepareParadoxTables, MissingFolderIsNotAnError) {
  TFakeUI UI;
  EXPECT_TRUE(PrepareParadoxTables("/nonexistent/2012cont.bkp", TPrepareMode::Contributions, UI));
  EXPECT_TRUE(UI.Boxes.empty());
}

// Every old layout rule: the old table, one record, and the record expected in the new layout.
struct TOldCase {
  const char* Name;
  TPrepareMode Mode;
  const char* File;
  std::vector<TParadoxFieldDef> OldFields;
  TRow OldRow;
  TRow NewRow;
};

TEST(PrepareParadoxTables, EveryOldLayoutRule) {
  auto A = [](const char* Nm, int Size = 20) {
    return TParadoxFieldDef{Nm, ftString, Size, false};
  };
  auto Int = [](const char* Nm) { return TParadoxFieldDef{Nm, ftInteger, 0, false}; };
  auto Cur = [](const char* Nm) { return TParadoxFieldDef{Nm, ftCurrency, 0, false}; };
  auto Bool = [](const char* Nm) { return TParadoxFieldDef{Nm, ftBoolean, 0, false}; };
  const std::vector<TOldCase> Cases = {
      {"bankinfo 4 fields",
       TPrepareMode::Ledger,
       "bankinfo.db",
       {Int("Pos"), A("Name"), Int("Num"), Cur("BBal")},
       {I(0), S("Chk"), I(1), C(5)},
       {I(0), S("Chk"), I(1), C(5), N, N}},
      {"bankinfo 6 fields, field 5 integer",
       TPrepareMode::Ledger,
       "bankinfo.db",
       {Int("Pos"), A("Name"), Int("Num"), Cur("BBal"), Int("Anum1"), Int("Anum2")},
       {I(0), S("Chk"), I(1), C(5), I(77), I(78)},
       {I(0), S("Chk"), I(1), C(5), N, N}},
      {"expcats 4 fields",
       TPrepareMode::Ledger,
       "expcats.db",
       {Int("Pos"), A("Name"), Int("Num"), Int("X")},
       {I(2), S("Ops"), I(3), I(9)},
       {I(2), S("Ops"), I(3)}},
      {"expgrps form B",
       TPrepareMode::Ledger,
       "expgrps.db",
       {Int("CatType"), Int("Pos"), A("Name"), Int("Num")},
       {I(1), I(5), S("G"), I(6)},
       {I(1), I(5), S("G"), I(6)}},
      {"expacct 7 fields",
       TPrepareMode::Ledger,
       "expacct.db",
       {Int("Cat"), Int("Group"), Int("Pos"), A("Name"), Int("Num"), Int("Old"), Cur("Budget")},
       {I(1), I(2), I(3), S("Acct"), I(4), I(99), C(250)},
       {I(1), I(2), I(3), S("Acct"), I(4), C(250)}},
      {"intcats 5 fields",
       TPrepareMode::Ledger,
       "intcats.db",
       {Int("Pos"), A("Name"), Int("Num"), Int("X"), Int("Y")},
       {I(0), S("Gifts"), I(1), I(8), I(9)},
       {I(0), S("Gifts"), I(1)}},
      {"intacct 6 fields",
       TPrepareMode::Ledger,
       "intacct.db",
       {Int("Cat"), Int("Pos"), A("Name"), Int("Num"), Cur("BBal"), Int("X")},
       {I(1), I(0), S("Plate"), I(2), C(1.25), I(5)},
       {I(1), I(0), S("Plate"), I(2), C(1.25)}},
      {"funds FundPos",
       TPrepareMode::Contributions,
       "funds.db",
       {Int("FundPos"), A("Name"), Int("Num"), Bool("Deduct")},
       {I(0), S("General"), I(1), B(true)},
       {I(0), S("General"), I(1), B(true)}},
      {"servs PosNum",
       TPrepareMode::Contributions,
       "servs.db",
       {Int("PosNum"), A("Name"), Int("Num")},
       {I(0), S("Early"), I(1)},
       {I(0), S("Early"), I(1)}},
      {"contname 10 fields",
       TPrepareMode::Contributions,
       "contname.db",
       {A("Lname"), A("FName"), Int("Num"), A("Addr1"), A("City"), A("State"), A("Zip"), A("Phone"),
        Bool("Print"), A("Enum")},
       {S("Doe"), S("Jo"), I(3), S("1 Elm"), S("Salem"), S("OR"), S("97301"), S("555"), B(false),
        S("E3")},
       {S("Doe"), S("Jo"), I(3), S("1 Elm"), N, S("Salem"), S("OR"), S("97301"), S("555"), B(false),
        S("E3"), N}},
  };
  for (const TOldCase& Cs : Cases) {
    TTempDir Dir;
    MakeTable(Dir.Path(), Cs.File, Cs.OldFields, "", {Cs.OldRow});
    TFakeUI UI;
    PrepareParadoxTables(Dir.Path(), Cs.Mode, UI);
    EXPECT_TRUE(UI.Boxes.empty()) << Cs.Name;
    std::vector<std::string> Names;
    auto Rows = ReadRows(Dir.Path(), Cs.File, &Names);
    ASSERT_EQ(Rows.size(), 1u) << Cs.Name;
    EXPECT_EQ(Rows[0], Cs.NewRow) << Cs.Name;
    std::string Base = std::string(Cs.File).substr(0, std::string(Cs.File).size() - 3);
    for (const TParadoxLayout& L : ParadoxLayouts())
      if (Base == L.BaseName) {
        ASSERT_EQ(Names.size(), L.Fields.size()) << Cs.Name;
        for (size_t K = 0; K < Names.size(); ++K) EXPECT_EQ(Names[K], L.Fields[K].Name) << Cs.Name;
      }
    EXPECT_NE(FindParadoxFile(Dir.Path(), Base + ".px"), "") << Cs.Name;
    EXPECT_EQ(FindParadoxFile(Dir.Path(), Base.substr(0, Base.size() - 1) + "0.db"), "") << Cs.Name;
  }
}

TEST(PrepareParadoxTables, CurrentLayoutIsNotMoved) {
  TTempDir Dir;
  const TParadoxLayout& L = ParadoxLayouts()[11];
  std::vector<TParadoxFieldDef> F;
  for (const auto& X : L.Fields) F.push_back({X.Name, X.Type, X.Size, false});
  MakeTable(Dir.Path(), "funds.db", F, "Pos;Name;Num", {{I(0), S("General"), I(1), B(true)}});
  std::string Before = vlt::test::ReadFile(Dir / "funds.db");
  TFakeUI UI;
  PrepareParadoxTables(Dir.Path(), TPrepareMode::Contributions, UI);
  EXPECT_EQ(vlt::test::ReadFile(Dir / "funds.db"), Before);
  EXPECT_NE(FindParadoxFile(Dir.Path(), "funds.px"), "");
}

// Rewrites an existing table file with other header settings (encryption, sort order).
void RewriteWith(const std::string& Path, uint32_t Key, const std::string& SortOrder) {
  TParadoxFileImage Img = ReadParadoxFile(Path);
  Img.Header.Encryption = Key;
  Img.Header.SortOrderName = SortOrder;
  std::vector<const std::string*> Recs;
  for (const std::string& R : Img.Records) Recs.push_back(&R);
  WriteParadoxFile(Path, Img.Header, Recs);
}

TEST(PrepareParadoxTables, EncryptedTablesStayEncryptedAndLoseTheirStaleSecondaryIndexes) {
  TTempDir Dir;
  const uint32_t Key = 0x0A25E09Au;
  MakeTable(Dir.Path(), "contfile.db", kOldContfile, "ContDate;Num;Service;Fund;Amount;EntryNum",
            kGifts);
  RewriteWith(Dir / "contfile.db", Key, "ascii");
  const TParadoxLayout& L = ParadoxLayouts()[12];
  std::vector<TParadoxFieldDef> F;
  for (const auto& X : L.Fields) F.push_back({X.Name, X.Type, X.Size, false});
  MakeTable(Dir.Path(), "servs.db", F, "Pos;Name;Num",
            {{I(0), S("Morning"), I(1)}, {I(1), S("Evening"), I(2)}});
  RewriteWith(Dir / "servs.db", Key, "ascii");
  for (const char* X :
       {"contfile.X02", "contfile.Y02", "CONTFILE.XG0", "contfile.yg0", "servs.X03", "servs.Y03"})
    vlt::test::WriteFile(Dir / X, "index");
  vlt::test::WriteFile(Dir / "contfile.xls", "not an index");
  vlt::test::WriteFile(Dir / "contfile.val", "not an index");
  TFakeUI UI;
  PrepareParadoxTables(Dir.Path(), TPrepareMode::Contributions, UI);  // funds, contname missing
  EXPECT_TRUE(UI.Boxes.empty());
  for (const char* Table : {"contfile.db", "servs.db"}) {
    SCOPED_TRACE(Table);
    TParadoxFileImage Img = ReadParadoxFile(Dir / Table);
    EXPECT_EQ(Img.Header.Encryption, Key);
    EXPECT_TRUE(FindSecondaryIndexFiles(Dir / Table).empty());
    std::string Px = FindSiblingFile(Dir / Table, ".px");
    ASSERT_NE(Px, "");
    std::string PxBytes = vlt::test::ReadFile(Px);
    EXPECT_EQ(vlt::LoadLE<uint32_t>(reinterpret_cast<const uint8_t*>(PxBytes.data()) + 0x25), Key);
  }
  EXPECT_EQ(ReadRows(Dir.Path(), "contfile.db").size(), 3u);
  EXPECT_EQ(ReadRows(Dir.Path(), "servs.db").size(), 2u);
  EXPECT_EQ(vlt::test::ReadFile(Dir / "contfile.xls"), "not an index");
  EXPECT_EQ(vlt::test::ReadFile(Dir / "contfile.val"), "not an index");
}

TEST(PrepareParadoxTables, SecondaryIndexesStayWhenNothingIsRewritten) {
  TTempDir Dir;
  // A key violation: the table is not rewritten, so its other indexes still match it.
  const TParadoxLayout& L = ParadoxLayouts()[12];
  std::vector<TParadoxFieldDef> F;
  for (const auto& X : L.Fields) F.push_back({X.Name, X.Type, X.Size, false});
  MakeTable(Dir.Path(), "servs.db", F, "", {{I(0), S("A"), I(1)}, {I(0), S("A"), I(1)}});
  vlt::test::WriteFile(Dir / "servs.X02", "index");
  // Unknown sort order with an alpha key: the table and its primary index are kept as they are.
  MakeTable(Dir.Path(), "funds.db",
            {{"Pos", ftInteger, 0, false},
             {"Name", ftString, 50, false},
             {"Num", ftInteger, 0, false},
             {"Deduct", ftBoolean, 0, false}},
            "Pos;Name;Num", {{I(0), S("General"), I(1), B(true)}});
  RewriteWith(Dir / "funds.db", 0, "klingon");
  vlt::test::WriteFile(Dir / "funds.X02", "index");
  const std::string Db = vlt::test::ReadFile(Dir / "funds.db"),
                    Px = vlt::test::ReadFile(Dir / "funds.px");
  TFakeUI UI;
  EXPECT_FALSE(PrepareParadoxTables(Dir.Path(), TPrepareMode::Contributions, UI));
  EXPECT_EQ(vlt::test::ReadFile(Dir / "servs.X02"), "index");
  EXPECT_EQ(vlt::test::ReadFile(Dir / "funds.db"), Db);
  EXPECT_EQ(vlt::test::ReadFile(Dir / "funds.px"), Px);
  EXPECT_EQ(vlt::test::ReadFile(Dir / "funds.X02"), "index");
}

}  // namespace
