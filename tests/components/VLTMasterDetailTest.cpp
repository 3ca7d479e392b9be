#include <functional>
#include <memory>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "engine/base/VLTExcept.h"
#include "engine/components/VLTDatabaseError.h"
#include "engine/components/VLTTable.h"
#include "tests/components/VLTComponentTestUtil.h"

namespace vlt::test {
namespace {

using TLine = std::pair<int32_t, int32_t>;  // Num, Line

// A payroll pair: employees (master, keyed Num) and their pay lines (detail, keyed Num;Line).
// Employee 1 has three lines, employee 2 two, employee 3 none; lines of employee 9 have no
// employee yet.
class MasterDetailTest : public TComponentTest {
 protected:
  void SetUp() override {
    TComponentTest::SetUp();
    Db = &NewOpenDatabase();
    {
      auto E = NewEmployees();
      E->CreateTable();
      E->Open();
      for (int32_t N : {1, 2, 3}) {
        E->Append();
        E->FieldByName("Num").SetAsInteger(N);
        E->FieldByName("Name").SetAsString("Employee " + std::to_string(N));
        E->Post();
      }
    }
    auto L = NewLines();
    L->CreateTable();
    L->Open();
    for (const auto& [Num, Line, Amount] :
         std::vector<std::tuple<int32_t, int32_t, double>>{{1, 1, 30.0}, {1, 2, 10.0},
                                                           {1, 3, 20.0}, {2, 1, 5.5},
                                                           {2, 2, 7.5},  {9, 1, 1.0}})
      AppendLine(*L, Num, Line, Amount);
  }

  static std::unique_ptr<TVLTTable> NewEmployees() {
    auto T = std::make_unique<TVLTTable>();
    T->FName = "Employees";
    T->SetDatabaseName("Pay");
    T->SetTableName("Employees");
    T->AddField(std::make_unique<TVLTIntegerField>("Num"));
    T->AddField(std::make_unique<TVLTStringField>("Name", 30));
    T->IndexDefs.push_back({"Main", "Num", "", "", ixPrimary | ixUnique});
    T->SetIndexName("Main");
    return T;
  }

  // WithLine false leaves out the field object of the second index column.
  static std::unique_ptr<TVLTTable> NewLines(bool WithLine = true) {
    auto T = std::make_unique<TVLTTable>();
    T->FName = "PayLines";
    T->SetDatabaseName("Pay");
    T->SetTableName("PayLines");
    T->AddField(std::make_unique<TVLTIntegerField>("Num"));
    if (WithLine) T->AddField(std::make_unique<TVLTIntegerField>("Line"));
    T->AddField(std::make_unique<TVLTCurrencyField>("Amount"));
    T->IndexDefs.push_back({"Main", "Num;Line", "", "", ixPrimary | ixUnique});
    T->IndexDefs.push_back({"ByNumAmount", "Num;Amount", "", "", 0});
    T->IndexDefs.push_back({"ByAmount", "Amount", "", "", 0});
    T->SetIndexName("Main");
    return T;
  }

  static void AppendLine(TVLTTable& T, int32_t Num, int32_t Line, double Amount) {
    T.Append();
    T.FieldByName("Num").SetAsInteger(Num);
    T.FieldByName("Line").SetAsInteger(Line);
    T.FieldByName("Amount").SetAsFloat(Amount);
    T.Post();
  }

  static std::vector<TLine> Rows(TVLTTable& T) {
    std::vector<TLine> Out;
    for (T.First(); !T.Eof(); T.Next())
      Out.emplace_back(T.FieldByName("Num").AsInteger(), T.FieldByName("Line").AsInteger());
    return Out;
  }

  // Every stored pay line, through an unlinked table.
  static std::vector<TLine> AllLines() {
    auto T = NewLines();
    T->Open();
    return Rows(*T);
  }

  // Opens master and detail and links the detail on "Num".
  void OpenLinked() {
    Master = NewEmployees();
    Master->Open();
    Detail = NewLines();
    Detail->SetMasterSource(Master.get());
    Detail->SetMasterFields("Num");
    Detail->Open();
  }

  static std::string ErrorOf(const std::function<void()>& F) {
    try {
      F();
    } catch (const std::exception& E) {
      return E.what();
    }
    return {};
  }

  const std::vector<TLine> Emp1{{1, 1}, {1, 2}, {1, 3}};
  const std::vector<TLine> Emp2{{2, 1}, {2, 2}};
  TVLTDatabase* Db = nullptr;
  std::unique_ptr<TVLTTable> Master, Detail;
};

// ---- following the master ----

TEST_F(MasterDetailTest, EveryWayOfMovingTheMasterMovesTheDetail) {
  OpenLinked();
  EXPECT_EQ(Rows(*Detail), Emp1);
  EXPECT_EQ(Detail->RecordCount(), 3);
  struct TCase {
    const char* Name;
    std::function<void(TVLTTable&)> Move;
    std::vector<TLine> Expected;
  };
  const std::vector<TCase> Cases = {
      {"Next", [](TVLTTable& M) { M.Next(); }, Emp2},
      {"Next to an employee without lines", [](TVLTTable& M) { M.Next(); }, {}},
      {"Prior", [](TVLTTable& M) { M.Prior(); }, Emp2},
      {"First", [](TVLTTable& M) { M.First(); }, Emp1},
      {"Last", [](TVLTTable& M) { M.Last(); }, {}},
      {"FindKey", [](TVLTTable& M) { M.FindKey({Int(2)}); }, Emp2},
      {"Locate", [](TVLTTable& M) { M.Locate("Num", {Int(1)}); }, Emp1},
      {"RecNo", [](TVLTTable& M) { M.SetRecNo(2); }, Emp2},
      {"MoveBy", [](TVLTTable& M) { M.MoveBy(-1); }, Emp1},
  };
  for (const auto& C : Cases) {
    C.Move(*Master);
    EXPECT_EQ(Rows(*Detail), C.Expected) << C.Name;
    EXPECT_EQ(Detail->RecordCount(), static_cast<int32_t>(C.Expected.size())) << C.Name;
    EXPECT_EQ(Detail->IsEmpty(), C.Expected.empty()) << C.Name;
  }
  // Deleting the master record shows the lines of the record that takes its place; the lines
  // themselves stay.
  Master->First();
  Master->Delete();
  EXPECT_EQ(Master->FieldByName("Num").AsInteger(), 2);
  EXPECT_EQ(Rows(*Detail), Emp2);
  EXPECT_EQ(AllLines().size(), 6u);
}

TEST_F(MasterDetailTest, LinkByIndexFieldNamesAndTwoLevels) {
  Master = NewEmployees();
  Master->Open();
  Detail = NewLines();
  Detail->SetIndexFieldNames("Num");  // the first index that starts with Num
  Detail->SetMasterSource(Master.get());
  Detail->SetMasterFields("Num");
  Detail->Open();
  EXPECT_EQ(Detail->IndexName(), "");
  EXPECT_EQ(Rows(*Detail), Emp1);

  // A third level follows the detail: Num;Line of the current pay line.
  auto Third = NewLines();
  Third->FName = "SameLine";
  Third->SetMasterSource(Detail.get());
  Third->SetMasterFields("Num;Line");
  Third->Open();
  Detail->Last();
  EXPECT_EQ(Rows(*Third), (std::vector<TLine>{{1, 3}}));
  Master->Next();  // the detail moves to 2/1, the third level with it
  EXPECT_EQ(Rows(*Third), (std::vector<TLine>{{2, 1}}));
  Master->Last();  // no lines: nothing below either
  EXPECT_TRUE(Detail->IsEmpty());
  EXPECT_TRUE(Third->IsEmpty());
}

// ---- new detail records ----

TEST_F(MasterDetailTest, NewDetailRecordsTakeTheMasterKey) {
  OpenLinked();
  Master->FindKey({Int(2)});
  std::vector<std::string> Events;
  Detail->OnNewRecord = [&](TVLTDataSet& D) {
    // The master's key is in place before the application's handler runs.
    Events.push_back("new:" + std::to_string(D.FieldByName("Num").AsInteger()));
  };
  Detail->Append();
  EXPECT_EQ(Detail->FieldByName("Num").AsInteger(), 2);
  EXPECT_TRUE(Detail->FieldByName("Line").IsNull());
  EXPECT_FALSE(Detail->Modified());
  Detail->FieldByName("Line").SetAsInteger(3);
  Detail->FieldByName("Amount").SetAsFloat(12.0);
  Detail->Post();
  EXPECT_EQ(Events, (std::vector<std::string>{"new:2"}));
  EXPECT_EQ(Rows(*Detail), (std::vector<TLine>{{2, 1}, {2, 2}, {2, 3}}));

  // Insert works the same; AppendRecord's own values win over the link's.
  Detail->Insert();
  EXPECT_EQ(Detail->FieldByName("Num").AsInteger(), 2);
  Detail->Cancel();
  Detail->AppendRecord({Int(2), Int(4), TVLTVariant()});
  EXPECT_EQ(Detail->RecordCount(), 4);

  // A new record left untouched is dropped, not posted, when the master moves on.
  Detail->Append();
  Master->First();
  EXPECT_EQ(Detail->State(), dsBrowse);
  EXPECT_EQ(Rows(*Detail), Emp1);
  EXPECT_EQ(AllLines().size(), 8u);
}

TEST_F(MasterDetailTest, PendingDetailChangesArePostedWhenTheMasterMoves) {
  OpenLinked();
  Detail->Last();
  Detail->Edit();
  Detail->FieldByName("Amount").SetAsFloat(99.0);
  Detail->Append();  // posts the edit, then begins a new line
  Detail->FieldByName("Line").SetAsInteger(4);
  Master->Next();  // posts the new line before following
  EXPECT_EQ(Rows(*Detail), Emp2);
  Master->First();
  EXPECT_EQ(Rows(*Detail), (std::vector<TLine>{{1, 1}, {1, 2}, {1, 3}, {1, 4}}));
  Detail->FindKey({Int(1), Int(3)});
  EXPECT_DOUBLE_EQ(Detail->FieldByName("Amount").AsFloat(), 99.0);

  // A pending line that cannot be posted stops the detail from following, and keeps the
  // user's values for a corrected post.
  Detail->FieldByName("Amount").FRequired = true;
  Detail->Append();
  Detail->FieldByName("Line").SetAsInteger(5);
  EXPECT_EQ(ErrorOf([&] { Master->Next(); }), "PayLines: Field 'Amount' must have a value");
  EXPECT_EQ(Detail->State(), dsInsert);
  EXPECT_EQ(Detail->FieldByName("Num").AsInteger(), 1);
  Detail->FieldByName("Amount").SetAsFloat(3.0);
  Detail->Post();
  Master->First();
  EXPECT_EQ(Rows(*Detail).back(), (TLine{1, 5}));
}

TEST_F(MasterDetailTest, NewMasterRecordShowsNoLinesUntilCancelled) {
  OpenLinked();
  Master->Append();
  EXPECT_TRUE(Detail->IsEmpty());
  Master->Cancel();
  EXPECT_EQ(Rows(*Detail), Emp1);
}

// ---- master changes after post ----

TEST_F(MasterDetailTest, PostedKeyEditOfTheMasterRefreshesTheDetail) {
  OpenLinked();
  Master->FindKey({Int(3)});
  EXPECT_TRUE(Detail->IsEmpty());
  Master->Edit();
  Master->FieldByName("Num").SetAsInteger(9);
  EXPECT_TRUE(Detail->IsEmpty());  // not before the post
  Master->Post();
  EXPECT_EQ(Rows(*Detail), (std::vector<TLine>{{9, 1}}));
  // A post that leaves the key alone keeps the detail where it is.
  Detail->First();
  Master->Edit();
  Master->FieldByName("Name").SetAsString("Renamed");
  Master->Post();
  EXPECT_EQ(Detail->FieldByName("Line").AsInteger(), 1);
  EXPECT_EQ(Detail->RecordCount(), 1);
}

// ---- index changes ----

TEST_F(MasterDetailTest, IndexChangeOnTheDetailReappliesTheLink) {
  OpenLinked();
  Master->FindKey({Int(1)});
  Detail->SetIndexName("ByNumAmount");
  EXPECT_EQ(Rows(*Detail), (std::vector<TLine>{{1, 2}, {1, 3}, {1, 1}}));  // by amount
  Detail->SetIndexFieldNames("Num;Line");
  EXPECT_EQ(Rows(*Detail), Emp1);
  Master->Next();
  Detail->SetIndexName("Main");
  EXPECT_EQ(Rows(*Detail), Emp2);
}

TEST_F(MasterDetailTest, IndexTooShortForTheLinkIsRefusedAndTheOldIndexStays) {
  OpenLinked();
  Master->FindKey({Int(2)});
  // Master fields fill the leading index fields by position: Num;Num gives Num = 2, Line = 2.
  Detail->SetMasterFields("Num;Num");
  EXPECT_EQ(Rows(*Detail), (std::vector<TLine>{{2, 2}}));
  EXPECT_EQ(ErrorOf([&] { Detail->SetIndexName("ByAmount"); }),
            "PayLines: Field index out of range");
  EXPECT_EQ(Detail->IndexName(), "Main");
  EXPECT_EQ(Rows(*Detail), (std::vector<TLine>{{2, 2}}));
  Detail->SetMasterFields("Num");
  EXPECT_EQ(Rows(*Detail), Emp2);
}

// ---- errors ----

TEST_F(MasterDetailTest, LinksThatCannotBeAppliedRaiseClearErrors) {
  Master = NewEmployees();
  Master->Open();
  struct TCase {
    const char* Name;
    std::function<void(TVLTTable&)> Setup;
    std::string Fields;
    std::string Error;
  };
  const std::vector<TCase> Cases = {
      {"more master fields than index fields", [](TVLTTable&) {}, "Num;Name;Num",
       "PayLines: Field index out of range"},
      {"no active index", [](TVLTTable& D) { D.SetIndexName(""); }, "Num",
       "PayLines: No index currently active"},
      {"unknown master field", [](TVLTTable&) {}, "Nope", "Employees: Field 'Nope' not found"},
  };
  for (const auto& C : Cases) {
    auto D = NewLines();
    C.Setup(*D);
    D->SetMasterSource(Master.get());
    D->SetMasterFields(C.Fields);
    EXPECT_EQ(ErrorOf([&] { D->Open(); }), C.Error) << C.Name;
    EXPECT_FALSE(D->Active()) << C.Name;
  }
  // An index column without a field object.
  auto D = NewLines(false);
  D->SetMasterSource(Master.get());
  D->SetMasterFields("Num;Num");
  EXPECT_EQ(ErrorOf([&] { D->Open(); }), "PayLines: Cannot access index field 'Line'");

  // On an open detail a refused link change keeps the link and range it had.
  OpenLinked();
  EXPECT_EQ(ErrorOf([&] { Detail->SetMasterFields("Num;Name;Num"); }),
            "PayLines: Field index out of range");
  EXPECT_EQ(Detail->MasterFields(), "Num");
  EXPECT_EQ(Rows(*Detail), Emp1);
}

TEST_F(MasterDetailTest, CircularLinksAreRefused) {
  auto A = NewLines();
  auto B = NewLines();
  auto C = NewLines();
  EXPECT_EQ(ErrorOf([&] { A->SetMasterSource(A.get()); }),
            "PayLines: Circular datalinks are not allowed");
  B->SetMasterSource(A.get());
  C->SetMasterSource(B.get());
  EXPECT_EQ(ErrorOf([&] { A->SetMasterSource(B.get()); }),
            "PayLines: Circular datalinks are not allowed");
  EXPECT_EQ(ErrorOf([&] { A->SetMasterSource(C.get()); }),
            "PayLines: Circular datalinks are not allowed");
  EXPECT_EQ(A->MasterSource(), nullptr);
  EXPECT_TRUE(C->IsLinkedTo(A.get()));
  EXPECT_FALSE(A->IsLinkedTo(C.get()));
  // Re-linking along the chain's direction is fine.
  C->SetMasterSource(A.get());
  EXPECT_EQ(C->MasterSource(), A.get());
}

// ---- master without a record ----

TEST_F(MasterDetailTest, ClosedOrEmptyMasterShowsNoDetailRecords) {
  Master = NewEmployees();
  Detail = NewLines();
  Detail->SetMasterSource(Master.get());
  Detail->SetMasterFields("Num");
  Detail->Open();  // master closed
  EXPECT_TRUE(Detail->IsEmpty());
  EXPECT_EQ(Detail->RecordCount(), 0);
  Master->Open();
  EXPECT_EQ(Rows(*Detail), Emp1);
  Master->SetRange({Int(50)}, {Int(60)});  // the master shows no employee
  EXPECT_TRUE(Master->IsEmpty());
  EXPECT_TRUE(Detail->IsEmpty());
  // No master record: a new detail record gets no key from the link.
  Detail->Append();
  EXPECT_TRUE(Detail->FieldByName("Num").IsNull());
  Detail->Cancel();
  Master->CancelRange();
  EXPECT_EQ(Rows(*Detail), Emp1);
  Master->Close();
  EXPECT_TRUE(Detail->IsEmpty());
  EXPECT_EQ(AllLines().size(), 6u);
}

TEST_F(MasterDetailTest, UnlinkingShowsAllRecordsAndDestroyedMasterIsForgotten) {
  OpenLinked();
  Detail->SetMasterSource(nullptr);
  EXPECT_EQ(Detail->RecordCount(), 6);
  Detail->SetMasterSource(Master.get());
  EXPECT_EQ(Rows(*Detail), Emp1);
  Detail->SetMasterFields("");
  EXPECT_EQ(Detail->RecordCount(), 6);
  Detail->SetMasterFields("Num");
  EXPECT_EQ(Detail->RecordCount(), 3);
  Master.reset();
  EXPECT_EQ(Detail->MasterSource(), nullptr);
  EXPECT_TRUE(Detail->IsEmpty());  // the master closed on its way out
  Detail->Close();
  Detail->Open();  // no master: every record
  EXPECT_EQ(Detail->RecordCount(), 6);
}

TEST_F(MasterDetailTest, CopyOfALinkedDetailTakesTheWholeTableAndKeepsTheView) {
  OpenLinked();
  Master->FindKey({Int(2)});
  Detail->Last();
  const std::string Other = Dir + "/Copy.vlt";
  {
    TVLTDatabase& D = NewDatabase("Copy");
    D.SetDatabaseFileName(Other);
    D.CreateDatabase();
  }
  EXPECT_TRUE(Detail->CopyTable("PayLines", Other, "s3cret"));
  EXPECT_EQ(Detail->RecordCount(), 2);
  EXPECT_EQ(Detail->FieldByName("Line").AsInteger(), 2);  // the record shown before
  EXPECT_EQ(Rows(*Detail), Emp2);
  TVLTTable Copy;
  Copy.SetDatabaseName("Copy");
  Copy.SetTableName("PayLines");
  Copy.Open();
  EXPECT_EQ(Copy.RecordCount(), 6);
}

// ---- the notification hook itself ----

TEST_F(MasterDetailTest, DataLinksHearOpenCloseAndRecordChanges) {
  struct TCounting : TVLTDataLink {
    int Opens = 0, Records = 0;
    void ActiveChanged() override { ++Opens; }
    void RecordChanged() override { ++Records; }
  };
  auto E = NewEmployees();
  TCounting L;
  L.SetDataSet(E.get());
  E->Open();
  EXPECT_EQ(L.Opens, 1);
  const int AfterOpen = L.Records;
  EXPECT_GE(AfterOpen, 1);
  struct TStep {
    const char* Name;
    std::function<void()> Do;
  };
  const std::vector<TStep> Steps = {
      {"Next", [&] { E->Next(); }},
      {"Edit+Post", [&] { E->Edit(); E->FieldByName("Name").SetAsString("x"); E->Post(); }},
      {"Refresh", [&] { E->Refresh(); }},
      {"Delete", [&] { E->Delete(); }},
      {"Append", [&] { E->Append(); }},
      {"Cancel", [&] { E->Cancel(); }},
  };
  for (const auto& S : Steps) {
    const int Before = L.Records;
    S.Do();
    EXPECT_GT(L.Records, Before) << S.Name;
  }
  const int Before = L.Records;
  E->Edit();  // editing does not change the record
  EXPECT_EQ(L.Records, Before);
  E->Cancel();
  E->Close();
  EXPECT_EQ(L.Opens, 2);
  {
    TCounting Short;
    Short.SetDataSet(E.get());
  }  // detaches itself
  E->Open();
  EXPECT_EQ(L.Opens, 3);
  E.reset();
  EXPECT_EQ(L.DataSet(), nullptr);
}

}  // namespace
}  // namespace vlt::test
