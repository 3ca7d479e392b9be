// Index scans of searches: the merge outcomes of two conditions on one index, the visits of the
// chosen driving range, and a randomized comparison of every plan with a plain full scan.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "engine/base/VLTExcept.h"
#include "engine/components/VLTTable.h"
#include "engine/core/VLTScanSearchCondition.h"
#include "tests/components/VLTComponentTestUtil.h"

namespace vlt::test {
namespace {

// ---- merge outcomes ----

// One cell of the merge table: outcomes for c < 0; c = 0 with kA = kB, kA < kB, kA > kB; c > 0.
// b both, e empty, A, B, f fewer, m more, = A turned into an equality.
struct TMergeCell {
  TVLTSearchCondition A, B;
  const char* Outcomes;  // 5 characters
};

// clang-format off
const TMergeCell kMergeTable[] = {
    {scEqual, scEqual, "emmme"},        {scEqual, scLower, "Aeeee"},
    {scEqual, scGreater, "eeeeA"},      {scEqual, scLowerEqual, "AAbAe"},
    {scEqual, scGreaterEqual, "eAbAA"},
    {scLower, scEqual, "eeeeB"},        {scLower, scLower, "AfffB"},
    {scLower, scGreater, "eeeeb"},      {scLower, scLowerEqual, "AAAAB"},
    {scLower, scGreaterEqual, "eeebb"},
    {scGreater, scEqual, "Beeee"},      {scGreater, scLower, "beeee"},
    {scGreater, scGreater, "BmmmA"},    {scGreater, scLowerEqual, "beebe"},
    {scGreater, scGreaterEqual, "BAAAA"},
    {scLowerEqual, scEqual, "eBBbB"},   {scLowerEqual, scLower, "AbbbB"},
    {scLowerEqual, scGreater, "eebeb"}, {scLowerEqual, scLowerEqual, "AmmmB"},
    {scLowerEqual, scGreaterEqual, "e=bbb"},
    {scGreaterEqual, scEqual, "BBBbe"}, {scGreaterEqual, scLower, "bebee"},
    {scGreaterEqual, scGreater, "BBBBA"}, {scGreaterEqual, scLowerEqual, "b=bbe"},
    {scGreaterEqual, scGreaterEqual, "BmmmA"},
};
// clang-format on

TVLTConditionMerge OutcomeOf(char C) {
  switch (C) {
    case 'e': return TVLTConditionMerge::Empty;
    case 'A': return TVLTConditionMerge::KeepA;
    case 'B': return TVLTConditionMerge::KeepB;
    case 'f': return TVLTConditionMerge::KeepFewer;
    case 'm': return TVLTConditionMerge::KeepMore;
    case '=': return TVLTConditionMerge::AToEqual;
    default: return TVLTConditionMerge::Both;
  }
}

TEST(MergeTableTest, EveryCellWithShortAndLongKeys) {
  ASSERT_EQ(std::size(kMergeTable), 25u);
  struct TCase {
    int C;
    int32_t KA, KB;
    int Column;
  };
  const TCase Cases[] = {{-1, 1, 1, 0}, {-1, 1, 2, 0}, {-1, 2, 1, 0}, {0, 2, 2, 1},
                         {0, 1, 2, 2},  {0, 2, 1, 3},  {1, 1, 1, 4},  {1, 2, 1, 4}};
  for (const TMergeCell& Cell : kMergeTable)
    for (const TCase& K : Cases)
      EXPECT_EQ(TVLTScanSearchConditionArray::MergeOutcome(Cell.A, Cell.B, K.C, K.KA, K.KB),
                OutcomeOf(Cell.Outcomes[K.Column]))
          << int(Cell.A) << " vs " << int(Cell.B) << " c=" << K.C << " kA=" << K.KA
          << " kB=" << K.KB;
}

TEST(MergeTableTest, ShortEqualityIsNotMergedWithLongerStrictBound) {
  using A = TVLTScanSearchConditionArray;
  EXPECT_FALSE(A::AreCompatible(scEqual, 1, scLower, 2));
  EXPECT_FALSE(A::AreCompatible(scGreater, 2, scEqual, 1));
  EXPECT_TRUE(A::AreCompatible(scEqual, 2, scGreater, 1));
  EXPECT_TRUE(A::AreCompatible(scEqual, 1, scLowerEqual, 2));
}

// ---- searches on a disk table ----

class IndexScanTest : public TComponentTest {
 protected:
  void SetUp() override {
    TComponentTest::SetUp();
    NewOpenDatabase();
    TVLTTable Maker;
    Maker.SetDatabaseName("Pay");
    Maker.SetTableName("Nums");
    Maker.AddField(std::make_unique<TVLTIntegerField>("Id"));
    Maker.AddField(std::make_unique<TVLTIntegerField>("Num"));
    Maker.AddField(std::make_unique<TVLTAutoIncField>("Auto"));
    Maker.AddField(std::make_unique<TVLTStringField>("Name", 12));
    Maker.IndexDefs.push_back({"ById", "Id", "", "", ixPrimary | ixUnique});
    Maker.IndexDefs.push_back({"ByNum", "Num", "", "", 0});
    Maker.IndexDefs.push_back({"ByAuto", "Auto", "", "", 0});
    Maker.IndexDefs.push_back({"ByAutoName", "Auto;Name", "", "", 0});
    Maker.CreateTable();
    T = std::make_unique<TVLTTable>();
    T->SetDatabaseName("Pay");
    T->SetTableName("Nums");
    T->Open();
    // Appended in an order other than Id's, so that physical order is not Id order.
    for (int32_t I = 0; I < 100; ++I) {
      const int32_t Id = (I * 37) % 100 + 1;
      T->Append();
      T->FieldByName("Id").SetAsInteger(Id);
      T->FieldByName("Num").SetAsInteger(Id % 30);
      T->FieldByName("Name").SetAsString("n" + std::to_string(Id));
      T->Post();
    }
  }
  void TearDown() override {
    T.reset();
    TComponentTest::TearDown();
  }

  void Filter(const std::string& Text) {
    T->SetFiltered(false);
    T->SetFilter(Text);
    T->SetFiltered(!Text.empty());
  }
  std::vector<int32_t> Forward() {
    std::vector<int32_t> Ids;
    for (T->First(); !T->Eof(); T->Next()) Ids.push_back(T->FieldByName("Id").AsInteger());
    return Ids;
  }
  std::vector<int32_t> Backward() {
    std::vector<int32_t> Ids;
    for (T->Last(); !T->Bof(); T->Prior()) Ids.push_back(T->FieldByName("Id").AsInteger());
    return Ids;
  }
  TVLTSearchStatistics& Stats() { return T->Handle()->FSearchStatistics; }
  int32_t IndexID(const std::string& Name) {
    return T->Handle()->GetIndexDefs().GetIndexDefByName(Name)->FObjectID;
  }

  std::unique_ptr<TVLTTable> T;
};

TEST_F(IndexScanTest, EqualToTwoValuesVisitsNothing) {
  Filter("Num = 5 and Num = 6");
  Stats().Reset();
  EXPECT_EQ(T->RecordCount(), 0);
  EXPECT_TRUE(Stats().Empty);
  EXPECT_EQ(Stats().IndexEntriesVisited, 0);
  EXPECT_EQ(Stats().RecordsVisited, 0);
}

TEST_F(IndexScanTest, RangeAndFilterBoundMergeIntoTheStrongerOne) {
  T->SetIndexName("ByNum");
  T->SetRange({Int(10)}, {Int(20)});
  Filter("Num > 15");
  Stats().Reset();
  // Num 16..20: ids 16..20, 46..50, 76..80.
  EXPECT_EQ(T->RecordCount(), 15);
  EXPECT_EQ(Stats().IndexID, IndexID("ByNum"));
  EXPECT_EQ(Stats().StartCondition, scGreater);
  EXPECT_EQ(Stats().EndCondition, scLowerEqual);
  EXPECT_EQ(Stats().IndexEntriesVisited, 15);
  EXPECT_EQ(Stats().RecordsVisited, 0);  // the range answers everything
  std::vector<int32_t> Ids = Forward();
  std::sort(Ids.begin(), Ids.end());
  ASSERT_EQ(Ids.size(), 15u);
  EXPECT_EQ(Ids.front(), 16);
  EXPECT_EQ(Ids.back(), 80);
}

TEST_F(IndexScanTest, EqualityOnActiveIndexStopsAtItsEnd) {
  T->SetIndexName("ByNum");
  Filter("Num = 0");  // ids 30, 60, 90
  EXPECT_EQ(Forward().size(), 3u);
  EXPECT_EQ(Backward().size(), 3u);
}

TEST_F(IndexScanTest, LocateOnUniqueIndexUsesIt) {
  Stats().Reset();
  ASSERT_TRUE(T->Locate("Id", {Int(77)}, 0));
  EXPECT_EQ(T->FieldByName("Id").AsInteger(), 77);
  EXPECT_EQ(Stats().IndexID, IndexID("ById"));
  EXPECT_EQ(Stats().IndexEntriesVisited, 1);
  EXPECT_LE(Stats().RecordsVisited, 1);
  Stats().Reset();
  EXPECT_FALSE(T->Locate("Id", {Int(1000)}, 0));
  EXPECT_EQ(Stats().IndexEntriesVisited + Stats().RecordsVisited, 0);
}

TEST_F(IndexScanTest, PhysicalOrderWithIndexedFilterKeepsRecordOrder) {
  Filter("Num = 5");  // ids 5, 35, 65, 95
  T->Handle()->FPlainScans = true;
  const std::vector<int32_t> Plain = Forward();
  T->Handle()->FPlainScans = false;
  Stats().Reset();
  EXPECT_EQ(Forward(), Plain);
  ASSERT_EQ(Plain.size(), 4u);
  EXPECT_EQ(Stats().IndexID, IndexID("ByNum"));
  EXPECT_LT(Stats().RecordsVisited, 30);  // the plain walk reads 100 per step
  EXPECT_EQ(Backward(), std::vector<int32_t>(Plain.rbegin(), Plain.rend()));
  T->SetIndexName("ById");  // not sorted by Id when physical order is
  EXPECT_NE(Plain, (std::vector<int32_t>{5, 35, 65, 95}));
}

TEST_F(IndexScanTest, PartialKeyOnAutoincIndexTakesNoUniqueShortcut) {
  ASSERT_TRUE(T->Locate("Id", {Int(40)}, 0));
  const int32_t Auto = T->FieldByName("Auto").AsInteger();
  Filter("Id = 40");
  // A one-column autoincrement index drives the key search at once ...
  T->SetIndexName("ByAuto");
  ASSERT_TRUE(T->FindKey({Int(Auto)}));
  EXPECT_EQ(Stats().IndexID, IndexID("ByAuto"));
  // ... a partial key on a two-column one does not: the unique Id equality does.
  T->SetIndexName("ByAutoName");
  ASSERT_TRUE(T->FindKey({Int(Auto)}));
  EXPECT_EQ(T->FieldByName("Id").AsInteger(), 40);
  EXPECT_EQ(Stats().IndexID, IndexID("ById"));
}

TEST_F(IndexScanTest, FindNearestAndRecNoThroughRanges) {
  T->SetIndexName("ById");
  Stats().Reset();
  T->FindNearest({Int(50)});
  EXPECT_EQ(T->FieldByName("Id").AsInteger(), 50);
  EXPECT_EQ(Stats().IndexEntriesVisited, 1);
  Filter("Num >= 28");  // ids 28, 29, 58, 59, 88, 89
  EXPECT_EQ(T->RecordCount(), 6);
  EXPECT_EQ(Forward(), (std::vector<int32_t>{28, 29, 58, 59, 88, 89}));
  T->SetRecNo(3);
  EXPECT_EQ(T->FieldByName("Id").AsInteger(), 58);
  EXPECT_EQ(T->RecNo(), 3);
}

TEST_F(IndexScanTest, ExtractedNodesComeBackWhenTheScanFails) {
  Filter("Num = 5 and Id > 0");
  TVLTCursor& C = *T->Handle();
  C.FilterRecord = [](const uint8_t*) -> bool { throw EVLTException(1, "stop"); };
  EXPECT_THROW(C.GetRecordCount(), EVLTException);
  C.FilterRecord = nullptr;
  ASSERT_TRUE(C.FFilterExpression);
  EXPECT_FALSE(C.FFilterExpression->IsEmptyAfterExtraction());
  C.DisableRecordBitmap();
  EXPECT_EQ(C.GetRecordCount(), 4);
}

// ---- randomized comparison with plain scans ----

class IndexScanDifferentialTest : public TComponentTest {};

TEST_F(IndexScanDifferentialTest, EveryPlanShowsWhatAPlainScanShows) {
  NewOpenDatabase();
  {
    TVLTTable Maker;
    Maker.SetDatabaseName("Pay");
    Maker.SetTableName("R");
    Maker.AddField(std::make_unique<TVLTIntegerField>("Id"));
    Maker.AddField(std::make_unique<TVLTIntegerField>("A"));
    Maker.AddField(std::make_unique<TVLTStringField>("B", 8));
    Maker.AddField(std::make_unique<TVLTIntegerField>("C"));
    Maker.IndexDefs.push_back({"IId", "Id", "", "", ixPrimary | ixUnique});
    Maker.IndexDefs.push_back({"IA", "A", "", "", 0});
    Maker.IndexDefs.push_back({"IAB", "A;B", "", "", 0});
    Maker.IndexDefs.push_back({"IBd", "B", "", "", ixDescending});
    Maker.IndexDefs.push_back({"IBci", "B", "", "", ixCaseInsensitive});
    Maker.IndexDefs.push_back({"ICA", "C;A", "C", "", 0});
    Maker.CreateTable();
  }
  TVLTTable T;
  T.SetDatabaseName("Pay");
  T.SetTableName("R");
  T.Open();
  std::mt19937 Rng(20240611);
  auto Pick = [&](int N) { return static_cast<int>(Rng() % static_cast<unsigned>(N)); };
  const char* Names[] = {"ab", "Ab", "b", "B", "cd", "x"};
  for (int32_t Id = 1; Id <= 300; ++Id) {
    T.Append();
    T.FieldByName("Id").SetAsInteger(Id);
    if (Pick(8)) T.FieldByName("A").SetAsInteger(Pick(12));
    if (Pick(6)) T.FieldByName("B").SetAsString(Names[Pick(6)]);
    if (Pick(5)) T.FieldByName("C").SetAsInteger(Pick(4));
    T.Post();
  }
  auto Term = [&]() -> std::string {
    const char* Ops[] = {"=", "<", ">", "<=", ">=", "<>"};
    switch (Pick(5)) {
      case 0: return "A " + std::string(Ops[Pick(6)]) + " " + std::to_string(Pick(12));
      case 1: return "B " + std::string(Ops[Pick(5)]) + " '" + Names[Pick(6)] + "'";
      case 2: return "C " + std::string(Ops[Pick(5)]) + " " + std::to_string(Pick(4));
      case 3: return std::string(Pick(2) ? "A" : "B") + (Pick(2) ? " IS NULL" : " IS NOT NULL");
      default: return "Id " + std::string(Ops[Pick(5)]) + " " + std::to_string(Pick(300) + 1);
    }
  };
  const char* IndexNames[] = {"", "IId", "IA", "IAB", "IBd", "IBci", "ICA"};
  TVLTCursor& H = *T.Handle();
  auto Walk = [&](bool Plain, bool Back) {
    H.FPlainScans = Plain;
    H.DisableRecordBitmap();
    std::vector<int32_t> Ids;
    if (Back)
      for (T.Last(); !T.Bof(); T.Prior()) Ids.push_back(T.FieldByName("Id").AsInteger());
    else
      for (T.First(); !T.Eof(); T.Next()) Ids.push_back(T.FieldByName("Id").AsInteger());
    return Ids;
  };
  int64_t Indexed = 0;
  for (int Round = 0; Round < 150; ++Round) {
    std::string F = Term();
    for (int N = Pick(3); N > 0; --N) F += (Pick(4) ? " and " : " or ") + Term();
    T.SetFiltered(false);
    T.CancelRange();
    T.SetIndexName(IndexNames[Pick(7)]);
    const std::string Index = T.IndexName();
    if ((Index == "IA" || Index == "IAB") && Pick(2)) {
      const int32_t Lo = Pick(12);
      T.SetRange({Int(Lo)}, {Int(Lo + Pick(6))});
    }
    T.SetFilter(F);
    T.SetFiltered(true);
    SCOPED_TRACE("filter " + F + " index " + Index);
    for (bool Back : {false, true}) {
      const std::vector<int32_t> Expected = Walk(true, Back);
      H.FSearchStatistics.Reset();
      EXPECT_EQ(Walk(false, Back), Expected)
          << (Back ? "backward" : "forward") << " index " << H.FSearchStatistics.IndexID << " "
          << int(H.FSearchStatistics.StartCondition) << "/" << H.FSearchStatistics.StartKeyFieldCount
          << " " << int(H.FSearchStatistics.EndCondition) << " cursor " << H.FIndexID;
      if (H.FSearchStatistics.IndexID != -1) ++Indexed;
      H.FPlainScans = false;
      H.DisableRecordBitmap();
      EXPECT_EQ(T.RecordCount(), static_cast<int32_t>(Expected.size())) << "bitmap";
      // Navigation through the bitmap the count built.
      std::vector<int32_t> ByBitmap;
      if (Back)
        for (T.Last(); !T.Bof(); T.Prior()) ByBitmap.push_back(T.FieldByName("Id").AsInteger());
      else
        for (T.First(); !T.Eof(); T.Next()) ByBitmap.push_back(T.FieldByName("Id").AsInteger());
      EXPECT_EQ(ByBitmap, Expected) << "bitmap walk";
    }
    // Locate from the start: the first record of the view with that A.
    const int32_t Wanted = Pick(12);
    H.FPlainScans = true;
    const bool PlainFound = T.Locate("A", {Int(Wanted)}, 0);
    const int32_t PlainId = PlainFound ? T.FieldByName("Id").AsInteger() : -1;
    H.FPlainScans = false;
    const bool Found = T.Locate("A", {Int(Wanted)}, 0);
    EXPECT_EQ(Found, PlainFound);
    if (Found) {
      EXPECT_EQ(T.FieldByName("Id").AsInteger(), PlainId) << "locate A=" << Wanted;
    }
  }
  EXPECT_GT(Indexed, 50);  // most rounds did use an index range
}

}  // namespace
}  // namespace vlt::test
