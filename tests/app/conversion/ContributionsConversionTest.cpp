// The contributions conversion end to end over small hand-made backups: renumbering of shared
// service and fund numbers, the change records, unnamed services and funds, the entry-number
// split, rejected gifts, the error paths with their messages and logs, and the sources
// byte-identical afterwards whatever happened.
#include "app/conversion/ContributionsConversion.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <random>
#include <set>
#include <stdexcept>
#include <tuple>

#include "app/conversion/Conversion.h"
#include "app/conversion/ConvertUtil.h"
#include "app/conversion/FileUtil.h"
#include "app/conversion/TargetCatalogue.h"
#include "app/conversion/TargetComponents.h"
#include "app/conversion/Verification.h"
#include "app/paradox/ParadoxTable.h"
#include "engine/components/VLTDatabase.h"
#include "engine/components/VLTTable.h"
#include "tests/app/FakeUI.h"
#include "tests/app/TargetTestUtil.h"
#include "tests/app/TestDirs.h"
#include "tools/BackupGenerator.h"

namespace vlt::app {
namespace {

using test::ReadFile;
using test::TFakeUI;
using test::TTempDir;
using TRow = std::vector<TParadoxValue>;

TParadoxValue I(int64_t V) {
  return TParadoxValue::Integer(V);
}
TParadoxValue S(const std::string& V) {
  return V.empty() ? TParadoxValue::Null() : TParadoxValue::String(V);
}
TParadoxValue C(double V) {
  return TParadoxValue::Currency(V);
}
TParadoxValue Bool(bool V) {
  return TParadoxValue::Boolean(V);
}
TParadoxValue D(int Y, int M, int Dd) {
  return TParadoxValue::Date(DateToDays({Y, M, Dd}));
}

void WriteTable(const std::string& Dir, const std::string& File,
                std::vector<TParadoxFieldDef> Fields, int KeyCount, const std::vector<TRow>& Rows) {
  TParadoxTable T;
  T.SetDatabaseName(Dir);
  T.SetTableName(File);
  T.SetTableType(ttParadox);
  std::string Key;
  for (int K = 0; K < KeyCount; ++K) Key += (K ? ";" : "") + Fields[static_cast<size_t>(K)].Name;
  T.FieldDefs() = std::move(Fields);
  if (KeyCount > 0) T.IndexDefs().push_back({"", Key, ixPrimary | ixUnique});
  T.CreateTable();
  T.Open();
  for (const TRow& R : Rows) {
    T.Append();
    for (size_t K = 0; K < R.size(); ++K) T.Fields(static_cast<int>(K)).SetAsVariant(R[K]);
    T.Post();
  }
  T.Close();
}

struct TBackup {
  std::vector<TRow> Servs, Funds, Names, Gifts;
};

// The current layout of the preparation's table Base, as field definitions.
std::vector<TParadoxFieldDef> LayoutFields(const std::string& Base) {
  for (const TParadoxLayout& L : ParadoxLayouts()) {
    if (Base != L.BaseName) continue;
    std::vector<TParadoxFieldDef> Out;
    for (const TParadoxLayoutField& F : L.Fields) Out.push_back({F.Name, F.Type, F.Size, false});
    return Out;
  }
  throw std::invalid_argument(Base);
}

// A contributions folder in the current layouts. Unkeyed gifts can hold identical records.
void WriteBackup(const std::string& Dir, const TBackup& B, bool KeyedGifts = false) {
  test::MakeDir(Dir);
  WriteTable(Dir, "servs.db", LayoutFields("servs"), 3, B.Servs);
  WriteTable(Dir, "funds.db", LayoutFields("funds"), 3, B.Funds);
  WriteTable(Dir, "contname.db", LayoutFields("contname"), 3, B.Names);
  WriteTable(Dir, "contfile.db", LayoutFields("contfile"), KeyedGifts ? 6 : 0, B.Gifts);
}

TRow Name(const std::string& L, const std::string& F, int N) {
  return {S(L),
          S(F),
          I(N),
          S("1 Main St"),
          S(""),
          S("Salem"),
          S("OR"),
          S("97301"),
          S("555-0100"),
          Bool(false),
          S("E" + std::to_string(N)),
          S("")};
}
TRow Gift(int Day, int Who, int Service, int Fund, double Amount, int64_t Entry) {
  return {D(2012, 1, Day), I(Who), I(Service), I(Fund), C(Amount), I(Entry)};
}

std::map<std::string, std::string> Snapshot(const std::string& Dir);

// The folder's files as the conversion must leave them: as they are after the preparation.
std::map<std::string, std::string> PreparedSnapshot(const std::string& Dir) {
  TFakeUI UI;
  PrepareParadoxTables(Dir, TPrepareMode::Contributions, UI);
  return Snapshot(Dir);
}

std::map<std::string, std::string> Snapshot(const std::string& Dir) {
  std::map<std::string, std::string> Files;
  for (const auto& E : std::filesystem::directory_iterator(Dir))
    if (E.is_regular_file()) {
      const std::string Content = ReadFile(E.path().string());
      Files[E.path().filename().string()] =
          std::to_string(Content.size()) + ":" + std::to_string(std::hash<std::string>{}(Content));
    }
  return Files;
}

std::string Crlf(const std::vector<std::string>& Lines) {
  std::string Out;
  for (const auto& L : Lines) Out += L + "\r\n";
  return Out;
}

// Rows of a target table as text, "a|b|c", in index order.
std::vector<std::string> Rows(const std::string& File, const std::string& Table,
                              const std::vector<std::string>& Fields) {
  auto Db = test::OpenTarget(TArea::Contributions, File);
  TVLTTable T;
  T.SetDatabaseName(Db->DatabaseName());
  T.SetTableName(Table);
  T.Open();
  std::vector<std::string> Out;
  for (T.First(); !T.Eof(); T.Next()) {
    std::string Row;
    for (size_t K = 0; K < Fields.size(); ++K)
      Row += (K ? "|" : "") + T.FieldByName(Fields[K]).AsString();
    Out.push_back(Row);
  }
  T.Close();
  Db->Close();
  return Out;
}

const TTableCheck& TableOf(const TAreaCheck& R, const std::string& Table) {
  for (const TTableCheck& T : R.Tables)
    if (T.Table == Table) return T;
  throw std::invalid_argument("no check for " + Table);
}

// Keeps the change records the step writes before it deletes them.
class TWatchingConverter : public TConverter {
 public:
  using TConverter::TConverter;
  std::vector<std::string> ServiceChanges, FundChanges;

 protected:
  void InspectWorkingTables() override {
    if (!FileExists(Targets().Database(TArea::Contributions).DatabaseFileName())) return;
    for (auto [Name, Into] :
         {std::pair{"Schng", &ServiceChanges}, std::pair{"Fchng", &FundChanges}}) {
      TVLTTable& T = Targets().Table(TArea::Contributions, Name);
      T.Open();
      for (T.First(); !T.Eof(); T.Next())
        Into->push_back(T.FieldByName("onum").AsString() + "|" + T.FieldByName("name").AsString() +
                        "|" + T.FieldByName("nnum").AsString());
      T.Close();
    }
  }
};

class ContributionsConversionTest : public ::testing::Test {
 protected:
  TRunOutcome Convert(TFakeUI& UI, TWatchingConverter** Keep = nullptr) {
    FConverter = std::make_unique<TWatchingConverter>(UI);
    FConverter->FormCreate();
    if (Keep) *Keep = FConverter.get();
    return FConverter->ConvertData(Root.Path());
  }
  TTempDir Root;
  std::unique_ptr<TWatchingConverter> FConverter;
};

TEST_F(ContributionsConversionTest, SharedNumbersAreRenumberedAndGiftsFollow) {
  const std::string F = Root / "2012cont.bkp";
  TBackup B;
  B.Servs = {{I(0), S("Morning"), I(1)},
             {I(1), S("Evening"), I(1)},
             {I(2), S(""), I(7)},
             {I(3), S("  "), I(8)},
             {I(4), S("St. Mary's"), I(3)}};
  B.Funds = {{I(0), S("General"), I(1), Bool(true)},
             {I(1), S("Building"), I(1), Bool(false)},
             {I(2), S(""), I(2), Bool(true)}};
  B.Names = {Name("Smith", "Ann", 1), Name("O'Brien", " Pat ", 2)};
  B.Gifts = {Gift(1, 1, 1, 1, 10.5, 0x12345678), Gift(2, 2, 3, 2, 20, 5), Gift(3, 1, 7, 1, 1.25, 0),
             Gift(3, 1, 7, 1, 1.25, 0)};  // the last two are identical
  WriteBackup(F, B);
  const auto Before = PreparedSnapshot(F);

  TFakeUI UI;
  TWatchingConverter* Conv = nullptr;
  EXPECT_EQ(Convert(UI, &Conv), TRunOutcome::Complete);
  EXPECT_EQ(UI.Boxes, (std::vector<TFakeUI::TBox>{{false, kMsgComplete}}));
  EXPECT_TRUE(Conv->Report().Clean()) << FormatRunReport(Conv->Report());
  // 0 at the start, 10 after opening, 40 after the contributors, one step of 20 after the
  // services, 85 after restoring the copies, 100 at the end.
  EXPECT_EQ(UI.Positions, (std::vector<int>{0, 10, 40, 85, 100}));
  EXPECT_EQ(UI.StepSizes, (std::vector<int>{20}));
  EXPECT_EQ(UI.StepCalls, 1);
  EXPECT_EQ(UI.Progress.Position(), 100);

  // Morning keeps 1, Evening gets 50; the unnamed services are numbered in order.
  const std::string Db = F + "/XLQCont.bkp.vlt";
  EXPECT_EQ(Rows(Db, "Servs", {"Pos", "Name", "Num", "Active"}),
            (std::vector<std::string>{"0|Morning|1|True", "1|Evening|50|True", "2|Service 0|7|True",
                                      "3|Service 1|8|True", "4|St. Mary's|3|True"}));
  EXPECT_EQ(
      Rows(Db, "Funds", {"Pos", "Name", "Num", "Deduct"}),
      (std::vector<std::string>{"0|General|1|True", "1|Building|50|False", "2|Fund 0|2|True"}));
  EXPECT_EQ(Conv->ServiceChanges, (std::vector<std::string>{"1|Evening|50"}));
  EXPECT_EQ(Conv->FundChanges, (std::vector<std::string>{"1|Building|50"}));

  // Every gift of service 1 and fund 1 moved (the gifts cannot tell the two apart); the entry
  // number is split; one of the identical gifts is rejected.
  EXPECT_EQ(
      Rows(Db, "2012cont", {"CDate", "Num", "Service", "Fund", "Amount", "Entrynum", "ChkNum"}),
      (std::vector<std::string>{"1/1/2012|1|50|50|10.5|16777336|144470", "1/2/2012|2|3|2|20|5|0",
                                "1/3/2012|1|7|50|1.25|0|0"}));
  EXPECT_EQ(SplitChkNum(0x12345678), 0x23456);
  EXPECT_EQ(SplitEntrynum(0x12345678), 0x1000078);

  // The gifts of the shared numbers are under the service and fund renumbered first.
  ASSERT_EQ(Conv->Report().Areas.size(), 1u);
  const TAreaCheck& Area = Conv->Report().Areas[0];
  EXPECT_EQ(TableOf(Area, "2012cont").Notices,
            (std::vector<std::string>{
                "service 1 is Morning and Evening in the source: its gift is under Evening",
                "fund 1 is General and Building in the source: its 2 gifts are under Building"}));
  EXPECT_EQ(TableOf(Area, "Settings").Notices,
            (std::vector<std::string>{"created empty, no source"}));
  EXPECT_EQ(TableOf(Area, "Servs").Verified, 5);

  EXPECT_EQ(Rows(Db, "Names", {"LName", "FName", "Num", "ENum", "Active", "Rem", "Ys", "Ye"}),
            (std::vector<std::string>{"O'Brien|Pat|2|E2|True|False|2012|2012",
                                      "Smith|Ann|1|E1|True|False|2012|2012"}));
  EXPECT_EQ(Rows(Db, "Addr", {"Num", "Type", "Addr1", "City"}).size(), 2u);

  EXPECT_EQ(ReadFile(F + "/Conversion_Log.txt"),
            Crlf({"Convert " + F, "Error Writing record:1/3/2012,1,7,50,1.25,0,0,0",
                  "Conversion Complete"}));

  // The working tables are gone; the sources are byte for byte what they were.
  std::vector<std::string> Tables;
  {
    auto Check = test::OpenTarget(TArea::Contributions, Db);
    Check->GetTablesList(Tables);
    Check->Close();
  }
  std::set<std::string> Names(Tables.begin(), Tables.end());
  EXPECT_EQ(Names, (std::set<std::string>{"Names", "Addr", "Phone", "Email", "Funds", "Servs",
                                          "Settings", "2012cont"}));
  auto After = Snapshot(F);
  After.erase("XLQCont.bkp.vlt");
  After.erase("Conversion_Log.txt");
  EXPECT_EQ(After, Before);
}

TEST_F(ContributionsConversionTest, VerificationFindsAGiftWhoseServiceLostItsName) {
  const std::string F = Root / "2012cont.bkp";
  TBackup B;
  B.Servs = {{I(0), S("Morning"), I(1)}, {I(1), S("Evening"), I(1)}};
  B.Funds = {{I(0), S("General"), I(1), Bool(true)}};
  B.Names = {Name("Smith", "Ann", 1)};
  B.Gifts = {Gift(1, 1, 1, 1, 10, 0), Gift(2, 1, 1, 1, 20, 0)};
  WriteBackup(F, B);
  TFakeUI UI;
  TWatchingConverter* Conv = nullptr;
  EXPECT_EQ(Convert(UI, &Conv), TRunOutcome::Complete);
  EXPECT_TRUE(Conv->Report().Clean()) << FormatRunReport(Conv->Report());
  FConverter.reset();
  const std::string File = F + "/XLQCont.bkp.vlt";
  {
    auto Db = test::OpenTarget(TArea::Contributions, File, false);
    TVLTTable T;
    T.SetDatabaseName(Db->DatabaseName());
    T.SetTableName("Servs");
    T.Open();
    for (T.First(); !T.Eof(); T.Next())
      if (T.FieldByName("Num").AsInteger() == 50) {
        T.Edit();
        T.FieldByName("Name").SetAsString("Night");
        T.Post();
        break;
      }
    T.Close();
    Db->Close();
  }
  const TAreaCheck R = VerifyContributions(F, File, ReadLogLines(F + "/Conversion_Log.txt"));
  EXPECT_FALSE(R.Clean());
  const TTableCheck& Gifts = TableOf(R, "2012cont");
  EXPECT_EQ(Gifts.Mismatched, 2);
  EXPECT_EQ(Gifts.Mismatches.at(0).find("gift ("), 0u) << Gifts.Mismatches.at(0);
  EXPECT_NE(Gifts.Mismatches.at(0).find("service 1 is Morning or Evening in the source, the "
                                        "target puts it under Night (service 50)"),
            std::string::npos)
      << Gifts.Mismatches.at(0);
  // The services table shows the renamed service from both sides.
  EXPECT_EQ(TableOf(R, "Servs").Mismatches,
            (std::vector<std::string>{"record (50): Night is no service of the source",
                                      "service Evening of the source is missing from the target"}));
}

// Funds in key order: General Fund 1, General Fund 3, Benevolence 3, Missions 4, Missions 5,
// Youth Ministry 4. Missions 5 joins Missions 4, then Youth Ministry leaves 4 for 50: the gifts
// that came from Missions 5 stay with Missions.
TBackup FundChainBackup() {
  TBackup B;
  B.Servs = {{I(0), S("Sunday"), I(1)}};
  B.Funds = {
      {I(0), S("General Fund"), I(1), Bool(true)}, {I(1), S("General Fund"), I(3), Bool(true)},
      {I(2), S("Benevolence"), I(3), Bool(true)},  {I(3), S("Missions"), I(4), Bool(true)},
      {I(4), S("Missions"), I(5), Bool(true)},     {I(5), S("Youth Ministry"), I(4), Bool(false)}};
  B.Names = {Name("Smith", "Ann", 1)};
  // Gift K carries check number K, so it can be told apart in the target.
  const int Funds[] = {1, 3, 3, 4, 5, 5, 5, 4};
  for (int K = 0; K < 8; ++K) B.Gifts.push_back(Gift(1 + K, 1, 1, Funds[K], 10 + K, K << 8));
  return B;
}

TEST_F(ContributionsConversionTest, AGiftMovedWithOneFundStaysWhenAnotherFundOfItsNumberMoves) {
  const std::string F = Root / "2012cont.bkp";
  WriteBackup(F, FundChainBackup());
  TFakeUI UI;
  TWatchingConverter* Conv = nullptr;
  EXPECT_EQ(Convert(UI, &Conv), TRunOutcome::Complete);
  const std::string Db = F + "/XLQCont.bkp.vlt";
  const auto Funds = Rows(Db, "Funds", {"Name", "Num"});
  EXPECT_EQ(std::set<std::string>(Funds.begin(), Funds.end()),
            (std::set<std::string>{"General Fund|1", "Benevolence|3", "Missions|4",
                                   "Youth Ministry|50"}));
  // The change records are those the renumbering always wrote.
  EXPECT_EQ(Conv->FundChanges,
            (std::vector<std::string>{"3|General Fund|1", "4|Youth Ministry|50", "5|Missions|4"}));
  std::map<std::string, std::string> FundOf;  // check number -> fund
  for (const std::string& R : Rows(Db, "2012cont", {"ChkNum", "Fund"}))
    FundOf[R.substr(0, R.find('|'))] = R.substr(R.find('|') + 1);
  // Fund 3 went with General Fund (renumbered first), fund 4 with Youth Ministry, fund 5 with
  // Missions: under 4, not under 50.
  EXPECT_EQ(FundOf, (std::map<std::string, std::string>{{"0", "1"},
                                                        {"1", "1"},
                                                        {"2", "1"},
                                                        {"3", "50"},
                                                        {"4", "4"},
                                                        {"5", "4"},
                                                        {"6", "4"},
                                                        {"7", "50"}}));
  const TRunReport& Report = Conv->Report();
  EXPECT_TRUE(Report.Clean()) << FormatRunReport(Report);
  EXPECT_EQ(TableOf(Report.Areas.at(0), "2012cont").Notices,
            (std::vector<std::string>{
                "fund 3 is General Fund and Benevolence in the source: its 2 gifts are under "
                "General Fund",
                "fund 4 is Missions and Youth Ministry in the source: its 2 gifts are under Youth "
                "Ministry"}));
  EXPECT_NE(FormatRunReport(Report).find("    NOTICE 2012cont fund 3 is General Fund and "),
            std::string::npos);
  EXPECT_NE(RunReportJson(Report).find("\"notices\": [\"fund 3 is General Fund and Benevolence"),
            std::string::npos);
}

TEST_F(ContributionsConversionTest, OneUnambiguousGiftUnderTheWrongFundIsExactlyOneMismatch) {
  const std::string F = Root / "2012cont.bkp";
  WriteBackup(F, FundChainBackup());
  {
    TFakeUI UI;
    EXPECT_EQ(Convert(UI), TRunOutcome::Complete);
    EXPECT_TRUE(FConverter->Report().Clean()) << FormatRunReport(FConverter->Report());
    FConverter.reset();
  }
  // Check number 5 is a Missions 5 gift: put it under Youth Ministry.
  {
    auto Db = test::OpenTarget(TArea::Contributions, F + "/XLQCont.bkp.vlt", false);
    TVLTTable T;
    T.SetDatabaseName(Db->DatabaseName());
    T.SetTableName("2012cont");
    T.Open();
    for (T.First(); !T.Eof(); T.Next())
      if (T.FieldByName("ChkNum").AsInteger() == 5) {
        T.Edit();
        T.FieldByName("Fund").SetAsInteger(50);
        T.Post();
        break;
      }
    T.Close();
    Db->Close();
  }
  const TRunReport Report = VerifyExisting(Root.Path());
  EXPECT_FALSE(Report.Clean());  // vltconvert exits 1
  ASSERT_EQ(Report.Areas.size(), 1u);
  int64_t Mismatched = 0;
  for (const TTableCheck& T : Report.Areas[0].Tables) Mismatched += T.Mismatched;
  EXPECT_EQ(Mismatched, 1);
  const TTableCheck& Gifts = TableOf(Report.Areas[0], "2012cont");
  ASSERT_EQ(Gifts.Mismatches.size(), 1u);
  EXPECT_NE(
      Gifts.Mismatches[0].find(
          "fund 5 is Missions in the source, the target puts it under Youth Ministry (fund 50)"),
      std::string::npos)
      << Gifts.Mismatches[0];
  // The shared numbers are still notices, not mismatches.
  EXPECT_EQ(Gifts.Notices.size(), 2u);
}

TEST_F(ContributionsConversionTest, AServiceMovedOutOfTheWayLeavesTheGiftsOthersMovedToItsNumber) {
  // "Service 0" is the unnamed first service's generated name; a source service of that name
  // joins it under 1 and moves the unnamed one out of the way (to 50). Service 0's own record
  // stays at 2 (W holds 1 under that name), so Youth becomes the first source record of 1 and the
  // next "Service 0" moves it out of the way (to 51). Youth, renumbered again from 51 to join
  // Youth 7, takes only its own gifts: those moved to 1 with "Service 0" stay there.
  const std::string F = Root / "2012cont.bkp";
  TBackup B;
  B.Servs = {{I(0), S(""), I(1)},          {I(1), S("Youth"), I(7)}, {I(2), S("Service 0"), I(2)},
             {I(3), S("Service 0"), I(4)}, {I(4), S("Youth"), I(1)}, {I(9), S("Service 0"), I(1)}};
  B.Funds = {{I(0), S("General"), I(1), Bool(true)}};
  B.Names = {Name("Smith", "Ann", 1)};
  B.Gifts = {Gift(1, 1, 2, 1, 10, 0 << 8), Gift(2, 1, 2, 1, 11, 1 << 8),
             Gift(3, 1, 4, 1, 12, 2 << 8), Gift(4, 1, 7, 1, 13, 3 << 8),
             Gift(5, 1, 7, 8, 14, 4 << 8)};  // fund 8 is not in the source
  WriteBackup(F, B);
  const auto Before = PreparedSnapshot(F);
  TFakeUI UI;
  TWatchingConverter* Conv = nullptr;
  EXPECT_EQ(Convert(UI, &Conv), TRunOutcome::Complete);
  const std::string Db = F + "/XLQCont.bkp.vlt";
  const auto Servs = Rows(Db, "Servs", {"Name", "Num"});
  EXPECT_EQ(std::set<std::string>(Servs.begin(), Servs.end()),
            (std::set<std::string>{"Service 0|1", "Youth|7"}));
  EXPECT_EQ(Conv->ServiceChanges,
            (std::vector<std::string>{"2|Service 0|1", "4|Service 0|1", "51|Youth|7"}));
  EXPECT_EQ(Rows(Db, "2012cont", {"ChkNum", "Service"}),
            (std::vector<std::string>{"0|1", "1|1", "2|1", "3|7", "4|7"}));
  const TRunReport& Report = Conv->Report();
  EXPECT_TRUE(Report.Clean()) << FormatRunReport(Report);
  EXPECT_EQ(TableOf(Report.Areas.at(0), "2012cont").Notices,
            (std::vector<std::string>{
                "service 1 is an unnamed service, Youth and Service 0 in the source: no gift "
                "carries it",
                "fund 8 is not in the source: its gift has no fund in the target either"}));
  auto After = Snapshot(F);
  After.erase("XLQCont.bkp.vlt");
  After.erase("Conversion_Log.txt");
  EXPECT_EQ(After, Before);
}

// Random services and funds that share numbers and names, random gifts: every gift ends under
// one of the names its source number had, the only one when the number was unique, and the
// verification agrees.
TEST_F(ContributionsConversionTest, RandomSharedNumbersKeepEveryGiftWithANameOfItsNumber) {
  std::mt19937 Rng(30);
  auto Rand = [&](int Lo, int Hi) { return std::uniform_int_distribution<int>(Lo, Hi)(Rng); };
  const char* const kNames[] = {"Alms", "Bells", "Choir", "Deacons", "Easter", ""};
  for (int Round = 0; Round < 12; ++Round) {
    SCOPED_TRACE("round " + std::to_string(Round));
    const std::string F = Root / (std::to_string(2000 + Round) + "cont.bkp");
    TBackup B;
    // number -> source names (blank: a generated one)
    std::map<int, std::set<std::string>> ServiceNames, FundNames;
    for (auto [Rows, Names, Funds] :
         {std::tuple{&B.Servs, &ServiceNames, false}, std::tuple{&B.Funds, &FundNames, true}}) {
      const int Count = Rand(2, 9);
      for (int K = 0; K < Count; ++K) {
        const std::string Name = kNames[Rand(0, 5)];
        const int Num = Rand(1, 5);
        TRow R = {I(K), S(Name), I(Num)};
        if (Funds) R.push_back(Bool(K % 2 == 0));
        Rows->push_back(R);
        (*Names)[Num].insert(Name);
      }
    }
    B.Names = {Name("Smith", "Ann", 1)};
    std::vector<std::pair<int, int>> Given;  // by check number: source service and fund
    for (int K = 0; K < 60; ++K) {
      auto Pick = [&](const std::map<int, std::set<std::string>>& M) {
        auto It = M.begin();
        std::advance(It, Rand(0, static_cast<int>(M.size()) - 1));
        return It->first;
      };
      Given.emplace_back(Pick(ServiceNames), Pick(FundNames));
      B.Gifts.push_back(Gift(1 + K % 28, 1, Given.back().first, Given.back().second, 5, K << 8));
    }
    WriteBackup(F, B);
    TFakeUI UI;
    ASSERT_EQ(Convert(UI), TRunOutcome::Complete);
    const std::string Db = F + "/XLQCont.bkp.vlt";
    auto NameByNum = [&](const char* Table) {
      std::map<std::string, std::string> Out;
      for (const std::string& R : Rows(Db, Table, {"Num", "Name"}))
        Out[R.substr(0, R.find('|'))] = R.substr(R.find('|') + 1);
      return Out;
    };
    const auto Services = NameByNum("Servs"), Funds = NameByNum("Funds");
    auto Allowed = [](const std::set<std::string>& Names, const std::string& Got,
                      const std::string& Generated) {
      if (Names.count(Got)) return true;
      return Names.count("") && Got.rfind(Generated, 0) == 0;
    };
    const auto Gifts =
        Rows(Db, std::to_string(2000 + Round) + "cont", {"ChkNum", "Service", "Fund"});
    ASSERT_EQ(Gifts.size(), Given.size());
    for (const std::string& G : Gifts) {
      const size_t A = G.find('|'), Bar = G.rfind('|');
      const auto [Service, Fund] = Given.at(std::stoul(G.substr(0, A)));
      const std::string GotService = Services.count(G.substr(A + 1, Bar - A - 1))
                                         ? Services.at(G.substr(A + 1, Bar - A - 1))
                                         : "(none)";
      const std::string GotFund =
          Funds.count(G.substr(Bar + 1)) ? Funds.at(G.substr(Bar + 1)) : "(none)";
      EXPECT_TRUE(Allowed(ServiceNames[Service], GotService, "Service "))
          << "gift " << G << ": service " << Service << " under " << GotService;
      EXPECT_TRUE(Allowed(FundNames[Fund], GotFund, "Fund "))
          << "gift " << G << ": fund " << Fund << " under " << GotFund;
    }
    const TAreaCheck& Check = FConverter->Report().Areas.at(0);
    EXPECT_TRUE(Check.Clean()) << FormatRunReport(FConverter->Report());
    std::filesystem::remove_all(F);
  }
}

TEST_F(ContributionsConversionTest, ANumberTakenByAnotherNameGetsTheFirstFreeBlockNumber) {
  const std::string F = Root / "2012cont.bkp";
  TBackup B;
  // 2 is Youth's in the target already when Choir (2 as well) comes; 50..52 are taken in the
  // source, so the block search from 50 goes past them.
  B.Servs = {{I(0), S("Youth"), I(2)},
             {I(1), S("Choir"), I(2)},
             {I(2), S("A"), I(50)},
             {I(3), S("B"), I(51)},
             {I(4), S("C"), I(52)}};
  B.Funds = {{I(0), S("General"), I(1), Bool(true)}};
  B.Names = {Name("Smith", "Ann", 1)};
  B.Gifts = {Gift(1, 1, 2, 1, 5, 0)};
  WriteBackup(F, B);
  const auto Before = PreparedSnapshot(F);
  TFakeUI UI;
  TWatchingConverter* Conv = nullptr;
  EXPECT_EQ(Convert(UI, &Conv), TRunOutcome::Complete);
  const auto Servs = Rows(F + "/XLQCont.bkp.vlt", "Servs", {"Name", "Num"});
  std::set<std::string> Got(Servs.begin(), Servs.end());
  EXPECT_EQ(Got, (std::set<std::string>{"Youth|2", "Choir|53", "A|50", "B|51", "C|52"}));
  EXPECT_EQ(Conv->ServiceChanges, (std::vector<std::string>{"2|Choir|53"}));
  auto After = Snapshot(F);
  After.erase("XLQCont.bkp.vlt");
  After.erase("Conversion_Log.txt");
  EXPECT_EQ(After, Before);
}

TEST_F(ContributionsConversionTest, AMissingSourceTableFailsWithoutADatabase) {
  const std::string F = Root / "2012cont.bkp";
  TBackup B;
  B.Servs = {{I(0), S("Morning"), I(1)}};
  B.Funds = {{I(0), S("General"), I(1), Bool(true)}};
  WriteBackup(F, B);
  std::filesystem::remove(F + "/funds.db");
  const auto Before = PreparedSnapshot(F);
  TFakeUI UI;
  EXPECT_EQ(Convert(UI), TRunOutcome::NoBackups);
  EXPECT_EQ(UI.Boxes,
            (std::vector<TFakeUI::TBox>{{true, kMsgConversionFailed}, {false, kMsgNoBackups}}));
  EXPECT_EQ(Snapshot(F), Before);
}

TEST_F(ContributionsConversionTest, AnUnreadableSourceStopsTheRunAndLeavesNoDatabase) {
  // Two contributions folders: the first cannot be read, so the second is not converted.
  TBackup B;
  B.Servs = {{I(0), S("Morning"), I(1)}};
  B.Funds = {{I(0), S("General"), I(1), Bool(true)}};
  B.Names = {Name("Smith", "Ann", 1)};
  const std::string First = Root / "2011cont.bkp", Second = Root / "2012cont.bkp";
  WriteBackup(First, B);
  WriteBackup(Second, B);
  test::WriteFile(First + "/contfile.db", "not a table at all");
  const auto Before = PreparedSnapshot(First);
  std::vector<std::string> Order;
  TConverter::GetBkpDirs(Root.Path(), Order);  // the order the run takes them in
  const bool DamagedFirst = Order.at(0) == First;
  TFakeUI UI;
  EXPECT_EQ(Convert(UI), TRunOutcome::Errors);
  // The error box with the reader's message, then the two-line error message.
  ASSERT_EQ(UI.Boxes.size(), 2u);
  EXPECT_TRUE(UI.Boxes[0].Error);
  EXPECT_EQ(UI.Boxes[1], (TFakeUI::TBox{true, kMsgErrors}));
  EXPECT_FALSE(FileExists(First + "/XLQCont.bkp.vlt"));
  auto After = Snapshot(First);
  After.erase("Conversion_Log.txt");
  EXPECT_EQ(After, Before);
  EXPECT_EQ(ReadFile(First + "/Conversion_Log.txt"),
            Crlf({"Convert " + First, UI.Boxes[0].Text, "Conversion Complete"}));
  // A folder after the failed one is not converted.
  EXPECT_EQ(FileExists(Second + "/XLQCont.bkp.vlt"), !DamagedFirst);
  EXPECT_EQ(FConverter->ConversionError(), 2);
}

TEST_F(ContributionsConversionTest, AFailedRenumberingIsLoggedAndEndsTheRunWithTheErrorMessage) {
  const std::string F = Root / "2012cont.bkp";
  TBackup B;
  B.Servs = {{I(0), S("Morning"), I(1)}, {I(1), S("Evening"), I(1)}};
  B.Funds = {{I(0), S("General"), I(1), Bool(true)}};
  B.Names = {Name("Smith", "Ann", 1)};
  // Keyed gifts: moving service 1 to 50 collides with the gift already under 50.
  B.Gifts = {Gift(1, 1, 1, 1, 5, 0), Gift(1, 1, 50, 1, 5, 0)};
  WriteBackup(F, B, true);
  const auto Before = PreparedSnapshot(F);
  TFakeUI UI;
  EXPECT_EQ(Convert(UI), TRunOutcome::Errors);
  EXPECT_EQ(FConverter->ConversionError(), 101);
  const std::string Log = ReadFile(F + "/Conversion_Log.txt");
  EXPECT_NE(Log.find("Error Changing contribution records to new number: OldN: 1, NewN: 50\r\n"),
            std::string::npos)
      << Log;
  auto After = Snapshot(F);
  After.erase("XLQCont.bkp.vlt");
  After.erase("Conversion_Log.txt");
  EXPECT_EQ(After, Before);
}

TEST_F(ContributionsConversionTest, GeneratedBackupsConvertWithTheirSourcesUnchanged) {
  tools::TBackupGenOptions O;
  O.WithOld = true;
  tools::GenerateBackups(Root.Path(), O);
  std::filesystem::remove_all(Root / "2012jrnl.bkp");
  std::filesystem::remove_all(Root / "2011jrnl.bkp");
  TFakeUI UI;
  EXPECT_EQ(Convert(UI), TRunOutcome::Complete);
  for (const char* Folder : {"2011cont.bkp", "2012cont.bkp"}) {
    SCOPED_TRACE(Folder);
    const std::string F = Root / Folder;
    EXPECT_TRUE(FileExists(F + "/XLQCont.bkp.vlt"));
    for (const auto& [Name, Content] : Snapshot(F))
      EXPECT_EQ(Name.find("-bkp"), std::string::npos) << Name;
    // Every gift came over.
    TParadoxTable Gifts;
    Gifts.SetDatabaseName(F);
    Gifts.SetTableName("contfile.db");
    Gifts.Open();
    const size_t Count = static_cast<size_t>(Gifts.RecordCount());
    Gifts.Close();
    const std::string Table = std::string(Folder).substr(0, 4) + "cont";
    EXPECT_EQ(Rows(F + "/XLQCont.bkp.vlt", Table, {"Num"}).size(), Count);
  }
}

}  // namespace
}  // namespace vlt::app
