// Constraint manager: checks with their exact messages, linking and naming.
#include <gtest/gtest.h>

#include "tests/core/VLTTableTestDoubles.h"

namespace vlt::test {
namespace {

std::string MessageOf(const std::function<void()>& F, int32_t* Code = nullptr) {
  try {
    F();
  } catch (const EVLTException& E) {
    if (Code) *Code = E.NativeError();
    return E.what();
  }
  return "no exception";
}

struct TConstraintTable {
  TVLTFieldDefs Fields;
  TVLTIndexDefs Indexes;
  TVLTConstraintDefs Constraints;
  std::unique_ptr<TTestTable> T;

  TConstraintTable() {
    AddField(Fields, "A", aftInteger);
    AddField(Fields, "B", aftInteger);
    AddField(Fields, "C", aftInteger);
  }
  void Open() { T = std::make_unique<TTestTable>(Fields, Indexes, Constraints, "Orders"); }
  bool Check(bool ToInsert = true, bool Raise = true) {
    return T->Table->ConstraintManager()->CheckConstraints(
        T->Cursor.SessionID(), T->Buffer.data(), true, Raise, T->Cursor.CurrentRecordID, ToInsert,
        T->EditBuffer.data());
  }
};

TEST(ConstraintTest, PrimaryKeyNullTestAndDuplicates) {
  TConstraintTable C;
  AddIndexDef(C.Indexes, "PK", {"A", "B"}, true, true);
  auto& PK = C.Constraints.AddPK();
  PK.SetName("PK_Orders");
  PK.FIndexName = "PK";
  PK.Columns = {{"A", -1}, {"B", -1}};
  C.Open();
  TTestTable& T = *C.T;

  // Both key columns null: the joined column list is named.
  T.NewRecord();
  int32_t Code = 0;
  EXPECT_EQ(MessageOf([&] { C.Check(); }, &Code),
            "Constraint 'PK_Orders' violated. Value in field 'A,B' cannot be null - Native error: 30330");
  EXPECT_EQ(Code, 30330);
  EXPECT_FALSE(C.Check(true, false));

  // A null, B set: passes the null test; the table is empty, so no duplicate either.
  T.SetInt(1, 5);
  EXPECT_TRUE(C.Check());
  ASSERT_TRUE(T.Table->InsertRecord(T.Cursor));

  // The same key again is a duplicate.
  T.NewRecord();
  T.SetInt(1, 5);
  EXPECT_EQ(MessageOf([&] { C.Check(); }),
            "Primary Key constraint 'PK_Orders' violated. Duplicate found. - Native error: 30319");
  T.SetInt(0, 1);
  EXPECT_TRUE(C.Check());

  // Updating the stored record to its own key is no duplicate.
  T.GoTo(TTestRecordManager::IDOfSlot(0));
  EXPECT_TRUE(C.Check(false));
}

TEST(ConstraintTest, UniqueOnlyWhenCheckUnique) {
  TConstraintTable C;
  AddIndexDef(C.Indexes, "UX", {"C"}, true);
  auto& U = C.Constraints.AddUnique();
  U.SetName("UQ");
  U.FIndexName = "UX";
  U.Columns = {{"C", -1}};
  C.Open();
  TTestTable& T = *C.T;
  T.NewRecord();
  T.SetInt(2, 9);
  ASSERT_TRUE(T.Table->InsertRecord(T.Cursor));
  T.NewRecord();
  T.SetInt(2, 9);
  EXPECT_EQ(MessageOf([&] { C.Check(); }),
            "Constraint unique 'UQ' violated. Duplicate found. - Native error: 30320");
  EXPECT_TRUE(T.Table->ConstraintManager()->CheckConstraints(
      T.Cursor.SessionID(), T.Buffer.data(), false, true, T.Cursor.CurrentRecordID, true, nullptr));
}

TEST(ConstraintTest, NotNullAndCheckMessages) {
  TConstraintTable C;
  auto& NN = C.Constraints.AddNotNull();
  NN.FColumnName = "A";
  auto& Chk = C.Constraints.AddCheck();
  Chk.SetName("RangeB");
  Chk.FColumnName = "B";
  Chk.FMinValue.SetAsInteger(10);
  Chk.FMaxValue.SetAsInteger(20);
  auto& MaxOnly = C.Constraints.AddCheck();
  MaxOnly.FColumnName = "C";
  MaxOnly.FMaxValue.SetAsInteger(3);
  C.Open();
  TTestTable& T = *C.T;

  T.NewRecord();
  EXPECT_EQ(MessageOf([&] { C.Check(); }),
            "Constraint '$C_NotNull$Orders$A' violated. Value in field 'A' cannot be null - Native "
            "error: 30026");
  T.SetInt(0, 1);
  EXPECT_TRUE(C.Check());  // NULL passes both checks

  struct TCase {
    int32_t B, C;
    const char* Message;
  };
  const TCase Cases[] = {
      {10, 3, nullptr},
      {20, -100, nullptr},
      {9, 0,
       "Constraint 'RangeB' violated. Value in field 'B' cannot be lower than '10' - Native error: "
       "30029"},
      {21, 0,
       "Constraint 'RangeB' violated. Value in field 'B' cannot be greater than '20' - Native "
       "error: 30030"},
      {15, 4,
       "Constraint '$C_Check$Orders$C' violated. Value in field 'C' cannot be greater than '3' - "
       "Native error: 30030"},
  };
  for (const TCase& K : Cases) {
    T.SetInt(1, K.B);
    T.SetInt(2, K.C);
    if (!K.Message) {
      EXPECT_TRUE(C.Check()) << K.B << " " << K.C;
      EXPECT_TRUE(C.Check(true, false));
    } else {
      EXPECT_EQ(MessageOf([&] { C.Check(); }), K.Message);
      EXPECT_FALSE(C.Check(true, false));
    }
  }
}

TEST(ConstraintTest, AutoNamesAreMadeUnique) {
  TConstraintTable C;
  C.Constraints.AddNotNull().FColumnName = "A";
  C.Constraints.AddNotNull().FColumnName = "A";
  C.Open();
  TVLTConstraintDefs& Defs = C.T->Table->ConstraintManager()->ConstraintDefs();
  ASSERT_EQ(Defs.Count(), 2);
  EXPECT_EQ(Defs[0].FName, "$C_NotNull$Orders$A");
  EXPECT_NE(Defs[1].FName, Defs[0].FName);
  EXPECT_EQ(Defs[1].FName.rfind("$C_NotNull$Orders$A", 0), 0u);
  // Linked to the field's object id, with fresh object ids of their own.
  const TVLTFieldDef* A = C.T->Fields().FieldDefs().GetFieldDefByName("A");
  EXPECT_EQ(static_cast<TVLTConstraintDefNotNull&>(Defs[0]).FColumnObjectID, A->FObjectID);
  EXPECT_NE(Defs[0].FObjectID, kNoObjectID);
  EXPECT_NE(Defs[0].FObjectID, Defs[1].FObjectID);
}

TEST(ConstraintTest, LinkingErrors) {
  struct TCase {
    const char* Name;
    std::function<void(TConstraintTable&)> Setup;
    int32_t Code;
    const char* Text;
  };
  const TCase Cases[] = {
      {"PKIndexMissing",
       [](TConstraintTable& C) {
         auto& PK = C.Constraints.AddPK();
         PK.SetName("P");
         PK.FIndexName = "Nope";
       },
       30325, "Index 'Nope' not found"},
      {"UniqueIndexMissing",
       [](TConstraintTable& C) {
         auto& U = C.Constraints.AddUnique();
         U.SetName("U");
         U.FIndexName = "Nope";
       },
       30326, "Index 'Nope' not found"},
      {"PKFieldMissing",
       [](TConstraintTable& C) {
         AddIndexDef(C.Indexes, "PK", {"A"}, true, true);
         auto& PK = C.Constraints.AddPK();
         PK.SetName("P");
         PK.FIndexName = "PK";
         PK.Columns = {{"Z", -1}};
       },
       30331, "Field 'Z' not found"},
      {"UniqueFieldMissing",
       [](TConstraintTable& C) {
         AddIndexDef(C.Indexes, "UX", {"A"}, true);
         auto& U = C.Constraints.AddUnique();
         U.SetName("U");
         U.FIndexName = "UX";
         U.Columns = {{"Z", -1}};
       },
       30332, "Field 'Z' not found"},
      {"NotNullFieldMissing", [](TConstraintTable& C) { C.Constraints.AddNotNull().FColumnName = "Z"; },
       30027, "Field 'Z' not found"},
  };
  for (const TCase& K : Cases) {
    TConstraintTable C;
    K.Setup(C);
    int32_t Code = 0;
    const std::string M = MessageOf([&] { C.Open(); }, &Code);
    EXPECT_EQ(Code, K.Code) << K.Name << ": " << M;
    EXPECT_NE(M.find(K.Text), std::string::npos) << K.Name << ": " << M;
  }
}

TEST(ConstraintTest, IndexesImplyConstraints) {
  TConstraintTable C;
  C.Open();
  TTestTable& T = *C.T;
  TVLTIndexDef PK;
  PK.SetName("PKX");
  PK.AssignByNames({"A", "B"}, {"ASC", "ASC"}, {"CASE", "CASE"});
  PK.FPrimary = true;
  T.Table->AddIndex(PK, &T.Cursor);
  TVLTIndexDef UX;
  UX.SetName("UX");
  UX.AssignByNames({"C"}, {"ASC"}, {"CASE"});
  UX.FUnique = true;
  T.Table->AddIndex(UX, &T.Cursor);
  TVLTIndexDef Plain;
  Plain.SetName("IX");
  Plain.AssignByNames({"C"}, {"ASC"}, {"CASE"});
  T.Table->AddIndex(Plain, &T.Cursor);

  TVLTConstraintDefs& Defs = T.Table->ConstraintManager()->ConstraintDefs();
  ASSERT_EQ(Defs.Count(), 2);
  auto& P = static_cast<TVLTConstraintDefUnique&>(Defs[0]);
  EXPECT_EQ(P.FConstraintType, ctPK);
  EXPECT_EQ(P.FName, "C_PK$A$B");
  EXPECT_EQ(P.FIndexName, "PKX");
  const int32_t PKID = T.Table->IndexManager()->IndexDefs().GetIndexDefByName("PKX")->FObjectID;
  EXPECT_EQ(P.FIndexObjectID, PKID);
  ASSERT_EQ(P.Columns.size(), 2u);
  EXPECT_EQ(P.Columns[1].ColumnObjectID, T.Fields().FieldDefs()[1].FObjectID);
  EXPECT_EQ(Defs[1].FName, "C_Unique$C");

  // Deleting the index takes its constraint with it.
  T.Table->DeleteIndex(PKID, &T.Cursor);
  ASSERT_EQ(Defs.Count(), 1);
  EXPECT_EQ(Defs[0].FName, "C_Unique$C");
}

TEST(ConstraintTest, TemporaryCursorAddsNoConstraint) {
  TConstraintTable C;
  C.Open();
  TTestTable& T = *C.T;
  T.Cursor.FTemporary = true;
  TVLTIndexDef UX;
  UX.SetName("UX");
  UX.AssignByNames({"C"}, {"ASC"}, {"CASE"});
  UX.FUnique = true;
  T.Table->AddIndex(UX, &T.Cursor);
  EXPECT_EQ(T.Table->ConstraintManager()->ConstraintDefs().Count(), 0);
}

}  // namespace
}  // namespace vlt::test
