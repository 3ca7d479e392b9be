// Local cursors on in-memory test tables: table operations, buffers, navigation, searches,
// record-level results of edit, post and delete, BLOB stream plumbing.
#include <gtest/gtest.h>

#include "engine/base/VLTExcept.h"
#include "engine/base/VLTMemory.h"
#include "engine/core/VLTScanSearchCondition.h"
#include "engine/protect/VLTMemoryStream.h"
#include "tests/components/VLTCursorTestUtil.h"

namespace vlt::test {
namespace {

TEST(CursorTest, BufferGeometryFollowsTheFields) {
  TCursorEnv Env;
  Env.CreateTable("T", false, 7);  // 9 fields
  TOpenCursor O(Env);
  TVLTLocalCursor& C = *O.C;
  ASSERT_EQ(C.FieldCount(), 9);
  const TVLTFieldDef& Last = (*C.FFieldDefs)[8];
  EXPECT_EQ(C.FFieldValuesOffset, 2);
  EXPECT_EQ(C.FBookmarkOffset, Last.FMemoryOffset + Last.FMemoryDataSize);
  EXPECT_EQ(C.FKeyOffset, C.FBookmarkOffset);
  EXPECT_EQ(C.FKeyBufferSize, C.FBookmarkOffset + 6);
  EXPECT_EQ(C.FRecordBufferSize, C.FBookmarkOffset + 7);
  EXPECT_EQ(C.FRecordSize, C.FRecordBufferSize);
  std::vector<uint8_t> B(static_cast<size_t>(C.FRecordBufferSize), 0x55);
  C.InternalInitRecord(B.data(), false);
  EXPECT_EQ(B[0], 0xFF);
  EXPECT_EQ(B[1], 0xFF);
  EXPECT_EQ(B[2], 0);
  EXPECT_EQ(B[static_cast<size_t>(C.FBookmarkOffset) - 1], 0);
  uint8_t* New = C.AllocateRecordBuffer();
  EXPECT_EQ(C.GetBufferRecordID(New), (TVLTPageItemID{-1, 0xFFFF}));
  C.FreeRecordBuffer(New);
  EXPECT_EQ(New, nullptr);
}

TEST(CursorTest, KeyBufferItemsSitAfterTheRecordPart) {
  TCursorEnv Env;
  Env.CreateTable();
  TOpenCursor O(Env);
  TVLTLocalCursor& C = *O.C;
  uint8_t* K = C.AllocateKeyRecordBuffer();
  C.InternalInitKeyBuffer(K);
  EXPECT_EQ(K[0], 0xFF);  // the null bitmap byte: every field NULL
  C.SetKeyModified(K, true);
  C.SetKeyExclusive(K, true);
  C.SetKeyFieldCount(K, 1);
  EXPECT_TRUE(C.KeyModified(K));
  EXPECT_TRUE(C.KeyExclusive(K));
  EXPECT_EQ(C.GetKeyFieldCount(K), 1);
  EXPECT_EQ(LoadLE<int32_t>(K + C.FKeyOffset + 2), 1);
  TVLTMemoryManager::Instance().FreeMem(K);
}

TEST(CursorTest, PostedRecordsNavigateBothWays) {
  TCursorEnv Env;
  Env.CreateTable();
  TOpenCursor O(Env);
  for (int32_t V : {3, 1, 2}) ASSERT_EQ(O.Post(V), 0);
  EXPECT_EQ(O.C->GetBookmarkFlag(O.Buf.data()), kBookmarkInserted);
  EXPECT_EQ(O.C->GetBufferRecordID(O.Buf.data()), O.C->GetCurrentRecordID());
  EXPECT_EQ(O.C->GetRecordCount(), 3);
  EXPECT_EQ(O.Walk(), (std::vector<int32_t>{3, 1, 2}));
  EXPECT_EQ(O.Walk(grmPrior), (std::vector<int32_t>{2, 1, 3}));
  O.C->SetIndexName("iv");
  EXPECT_NE(O.C->FIndexID, -1);
  EXPECT_EQ(O.Walk(), (std::vector<int32_t>{1, 2, 3}));
  // An unknown index name means physical order, without an error.
  O.C->SetIndexName("NoSuchIndex");
  EXPECT_EQ(O.C->FIndexID, -1);
  EXPECT_EQ(O.Walk(), (std::vector<int32_t>{3, 1, 2}));
}

TEST(CursorTest, NavigationWritesTheRecordIdIntoTheBuffer) {
  TCursorEnv Env;
  Env.CreateTable();
  TOpenCursor O(Env);
  O.Post(5);
  O.Post(6);
  ASSERT_TRUE(O.GoToValue(6));
  EXPECT_EQ(O.C->GetBufferRecordID(O.Buf.data()), O.C->GetCurrentRecordID());
  EXPECT_EQ(O.C->GetBookmarkFlag(O.Buf.data()), kBookmarkCurrent);
}

TEST(CursorTest, PositionsAreSavedAndRestored) {
  TCursorEnv Env;
  Env.CreateTable();
  TOpenCursor O(Env);
  O.Post(1);
  O.Post(2);
  ASSERT_TRUE(O.GoToValue(1));
  uint8_t* P = O.C->SavePosition();
  const TVLTPageItemID At = O.C->GetCurrentRecordID();
  O.C->InternalLast();
  O.C->RestorePosition(P);
  O.C->FreePosition(P);
  EXPECT_EQ(P, nullptr);
  EXPECT_EQ(O.C->GetCurrentRecordID(), At);
  EXPECT_FALSE(O.C->IsFirstPosition() || O.C->IsLastPosition());
  ASSERT_EQ(O.C->GetRecordBuffer(grmNext), grrOK);
  EXPECT_EQ(O.V(), 2);

  // The owners give their buffer or position back however the scope ends; a moved-from owner
  // holds nothing, a detached buffer is the receiver's to free.
  ASSERT_TRUE(O.GoToValue(1));
  TVLTLocalCursor& C = *O.C;
  TVLTMemoryManager& Mem = TVLTMemoryManager::Instance();
  const int64_t Base = Mem.AllocatedSize();
  {
    TVLTRecordBuffer B(C);
    EXPECT_EQ(C.GetBufferRecordID(B.get()), (TVLTPageItemID{-1, 0xFFFF}));
    EXPECT_GT(Mem.AllocatedSize(), Base);
    TVLTRecordBuffer Moved(std::move(B));
    EXPECT_FALSE(B);
    EXPECT_TRUE(Moved);
    B = std::move(Moved);
    EXPECT_TRUE(B);
  }
  EXPECT_EQ(Mem.AllocatedSize(), Base);

  EXPECT_THROW(
      {
        TVLTRecordBuffer B(C);
        TVLTSavedPosition P(C, TVLTSavedPosition::oeRestore);
        C.InternalLast();
        throw EVLTException(1, "failed in the middle");
      },
      EVLTException);
  EXPECT_EQ(Mem.AllocatedSize(), Base);
  EXPECT_EQ(C.GetCurrentRecordID(), At);
  EXPECT_FALSE(C.IsLastPosition());

  {
    TVLTSavedPosition P(C);  // kept unless asked
    C.InternalLast();
  }
  EXPECT_TRUE(C.IsLastPosition());
  {
    TVLTSavedPosition P(C);
    C.PositionOnRecord(At);
    C.InternalFirst();
    P.Restore();
    EXPECT_TRUE(C.IsLastPosition());
  }
  EXPECT_EQ(Mem.AllocatedSize(), Base);

  TVLTRecordBuffer B(C);
  uint8_t* Raw = B.Detach();
  EXPECT_FALSE(B);
  B.Reset();
  EXPECT_GT(Mem.AllocatedSize(), Base);
  B.Adopt(Raw);
  B.Reset();
  EXPECT_EQ(Mem.AllocatedSize(), Base);
}

TEST(CursorTest, FieldValuesThroughVariants) {
  TCursorEnv Env;
  Env.CreateTable();
  TOpenCursor O(Env);
  TVLTLocalCursor& C = *O.C;
  C.InternalInitRecord(O.Buf.data(), false);
  TVLTVariant V;
  V.SetAsAnsiString("42");
  C.SetFieldValue(V, 0, false);  // converted to the field's type
  TVLTVariant Out;
  C.GetFieldValue(Out, 0, true);
  EXPECT_EQ(Out.AsAnsiString(), "42");
  V.SetAsAnsiString(std::string(30, 'a'));  // longer than the field: cut, terminated
  C.SetFieldValue(V, 1, false);
  C.GetFieldValue(Out, 1, false);
  EXPECT_EQ(Out.AsAnsiString().size(), static_cast<size_t>((*C.FFieldDefs)[1].FMemoryDataSize - 1));
  V.SetAsAnsiString("");  // an empty string is NULL
  C.SetFieldValue(V, 1, false);
  EXPECT_TRUE(VLTIsFieldNull(O.Buf.data(), 1));
  struct TCase {
    std::function<void()> F;
    int32_t Code;
  } Cases[] = {
      {[&] { C.GetFieldValue(Out, 2, true); }, 20191},
      {[&] { C.GetFieldValue(Out, -1, false); }, 10317},
      {[&] { C.SetFieldValue(V, 2, true); }, 20192},
      {[&] { C.SetFieldValue(V, 5, false); }, 20193},
      {[&] { C.GetFieldData(2, nullptr, O.Buf.data()); }, 10005},
      {[&] { C.SetFieldData(2, nullptr, O.Buf.data()); }, 10006},
  };
  for (const auto& T : Cases) EXPECT_EQ(CursorCodeOf(T.F), T.Code);
}

TEST(CursorTest, StringGarbageIsCleared) {
  TCursorEnv Env;
  Env.CreateTable();
  TOpenCursor O(Env);
  TVLTLocalCursor& C = *O.C;
  C.InternalInitRecord(O.Buf.data(), false);
  char Abc[64] = "abc";  // the field manager copies the field's whole size
  C.SetFieldData(1, Abc, O.Buf.data());
  const TVLTFieldDef& S = (*C.FFieldDefs)[1];
  uint8_t* P = O.Buf.data() + S.FMemoryOffset;
  P[10] = 'z';
  std::vector<uint8_t> Other = O.Buf;
  Other[static_cast<size_t>(S.FMemoryOffset) + 12] = 'q';
  C.ClearStringFieldsGarbage(O.Buf.data());
  C.ClearStringFieldsGarbage(Other.data());
  EXPECT_EQ(0, std::memcmp(O.Buf.data(), Other.data(), static_cast<size_t>(C.FBookmarkOffset)));
  EXPECT_EQ(std::string(reinterpret_cast<char*>(P)), "abc");
}

TEST(CursorTest, TableOperations) {
  TCursorEnv Env;
  Env.CreateTable("phone");
  Env.CreateTable("other");
  auto C = Env.NewCursor("phone");
  EXPECT_EQ(CursorCodeOf([&] { C->RenameTable("phone"); }), 30452);
  EXPECT_EQ(CursorCodeOf([&] { C->RenameTable("OTHER"); }), 30451);
  EXPECT_EQ(CursorCodeOf([&] { C->RenameTable("Phone"); }), 0);
  EXPECT_EQ(C->FTableName, "Phone");
  EXPECT_TRUE(Env.DB->TableExists("Phone"));
  auto Missing = Env.NewCursor("nope");
  EXPECT_EQ(CursorCodeOf([&] { Missing->DeleteTable(); }), 20132);
  EXPECT_EQ(CursorCodeOf([&] { Missing->EmptyTable(); }), 20133);
  EXPECT_EQ(CursorCodeOf([&] { Missing->RenameTable("x"); }), 20134);
  EXPECT_EQ(CursorCodeOf([&] { Missing->OpenTableByFieldDefs(nullptr, nullptr, nullptr); }), 10028);
  {
    TOpenCursor O(Env, "other");
    O.Post(1);
    O.Post(2);
  }
  EXPECT_EQ(CursorCodeOf([&] { Env.NewCursor("other")->EmptyTable(); }), 0);
  // Creating a table of an existing name replaces it.
  {
    TOpenCursor O(Env, "other");
    O.Post(9);
  }
  Env.CreateTable("other");
  EXPECT_EQ(TOpenCursor(Env, "other").Walk(), std::vector<int32_t>{});
  Env.NewCursor("other")->DeleteTable();
  EXPECT_FALSE(Env.DB->TableExists("other"));
}

TEST(CursorTest, IndexesAndFieldsOfAnOpenCursor) {
  TCursorEnv Env;
  Env.CreateTable();
  TOpenCursor O(Env);
  TVLTLocalCursor& C = *O.C;
  TVLTIndexDef Def;
  Def.SetName("IS");
  Def.AssignByNames({"S"}, {"ASC"}, {"CASE"});
  C.AddIndex(Def);
  EXPECT_NE(C.GetIndexDefs().GetIndexDefByName("IS"), nullptr);
  EXPECT_EQ(CursorCodeOf([&] { C.AddIndex(Def); }), 20022);
  C.SetIndexName("IS");
  C.DeleteIndex("IS");
  EXPECT_EQ(C.FIndexID, -1);
  EXPECT_EQ(CursorCodeOf([&] { C.DeleteIndex("IS"); }), 20021);
  EXPECT_TRUE(C.IndexExists({"V"}, {"ASC"}, {"CASE"}));
  bool Created = true;
  EXPECT_EQ(C.FindOrCreateIndex({"V"}, {"ASC"}, {"CASE"}, Created), "IV");
  EXPECT_FALSE(Created);
  C.RenameField("S", "Name");
  EXPECT_NE(C.FFieldDefs->GetFieldDefByName("Name"), nullptr);
  EXPECT_EQ(CursorCodeOf([&] { C.TVLTCursor::RenameField("Nope", "X"); }), 30345);
  EXPECT_EQ(CursorCodeOf([&] { C.TVLTCursor::RenameField("Name", "V"); }), 30346);
}

TEST(CursorTest, CompareRecordsOrder) {
  TCursorEnv Env;
  Env.CreateTable();
  TOpenCursor O(Env);
  O.Post(2);
  const TVLTPageItemID A = O.C->GetCurrentRecordID();
  O.Post(1);
  const TVLTPageItemID B = O.C->GetCurrentRecordID();
  O.Post(1);
  const TVLTPageItemID C2 = O.C->GetCurrentRecordID();
  EXPECT_EQ(O.C->CompareRecordsOrder(A, B), -1);  // physical order
  EXPECT_EQ(O.C->CompareRecordsOrder({1, 0}, {0, 5}), 1);
  EXPECT_EQ(O.C->CompareRecordsOrder(A, A), 0);
  O.C->SetIndexName("IV");
  EXPECT_EQ(O.C->CompareRecordsOrder(A, B), 1);   // by key
  EXPECT_EQ(O.C->CompareRecordsOrder(B, C2), -1);  // equal keys: by identifier
  EXPECT_EQ(O.C->CompareRecordsOrder({99, 0}, A), -1);  // the first is gone
  EXPECT_EQ(O.C->CompareRecordsOrder(A, {99, 0}), 1);
}

TEST(CursorTest, LocateAndMatch) {
  TCursorEnv Env;
  Env.CreateTable();
  TOpenCursor O(Env);
  O.Post(1, "Alpha");
  O.Post(2, "beta");
  O.Post(3, "Gamma");
  TVLTVariant Beta, Two, Three;
  Beta.SetAsAnsiString("BE");
  Two.SetAsInteger(2);
  Three.SetAsInteger(3);
  EXPECT_FALSE(O.C->Locate("S", {Beta}, false, false));
  EXPECT_TRUE(O.C->Locate("S", {Beta}, true, true));
  EXPECT_EQ(O.V(), 2);
  EXPECT_FALSE(O.C->Locate("V;S", {Three, TVLTVariant()}, false, false));
  EXPECT_EQ(CursorCodeOf([&] { O.C->Locate("Nope", {Two}, false, false); }), 30345);
  ASSERT_TRUE(O.GoToValue(1));
  EXPECT_TRUE(O.C->IsAnyRecordMatchCondition("V", moGreater, Two));
  EXPECT_FALSE(O.C->IsAnyRecordMatchCondition("V", moGreater, Three));
  EXPECT_EQ(O.V(), 1);  // the search did not move the cursor
}

TEST(CursorTest, FindKeyUsesTheKeyBuffer) {
  TCursorEnv Env;
  Env.CreateTable();
  TOpenCursor O(Env);
  for (int32_t V : {10, 30, 20}) O.Post(V);
  O.C->SetIndexName("IV");
  uint8_t* K = O.C->AllocateKeyRecordBuffer();
  O.C->InternalInitKeyBuffer(K);
  int32_t Key = 15;
  O.C->SetFieldData(0, &Key, K);
  O.C->SetKeyBuffer(K);
  O.C->FKeyFieldCount = 1;
  EXPECT_FALSE(O.C->FindKey(scEqual));
  EXPECT_TRUE(O.C->FindKey(scGreaterEqual));
  EXPECT_EQ(O.V(), 20);
  O.C->SetKeyBuffer(nullptr);
  TVLTMemoryManager::Instance().FreeMem(K);
}

TEST(CursorTest, FiltersAndDistinct) {
  TCursorEnv Env;
  Env.CreateTable();
  TOpenCursor O(Env);
  for (int32_t V : {1, 2, 2, 3}) O.Post(V);
  EXPECT_NO_THROW(O.C->ActivateFilters("  ", false, false));
  EXPECT_FALSE(O.C->IsFilterApplied());
  O.C->ActivateFilters("V > 1", false, false);
  EXPECT_TRUE(O.C->IsFilterApplied());
  EXPECT_EQ(O.Walk(), (std::vector<int32_t>{2, 2, 3}));
  O.C->DeactivateFilters();
  O.C->FilterRecord = [&](const uint8_t* R) {
    int32_t V = 0;
    O.C->GetFieldData(0, &V, R);
    return V != 2;
  };
  EXPECT_EQ(O.Walk(), (std::vector<int32_t>{1, 3}));
  O.C->FilterRecord = nullptr;
  O.C->DisableRecordBitmap();
  O.C->ApplyDistinct({"V"}, {"ASC"}, {"CASE"});
  EXPECT_TRUE(O.C->IsDistinctApplied());
  EXPECT_EQ(O.Walk(), (std::vector<int32_t>{1, 2, 3}));
}

// ---- record-level results ----

TEST(CursorRecordTest, EditAndPostChangeTheRecord) {
  TCursorEnv Env;
  Env.CreateTable();
  TOpenCursor O(Env);
  O.Post(1);
  ASSERT_TRUE(O.GoToValue(1));
  ASSERT_EQ(O.BeginEdit(), 0);
  ASSERT_EQ(O.PostEdit(7), 0);
  EXPECT_EQ(O.Walk(), std::vector<int32_t>{7});
}

TEST(CursorRecordTest, ChangesByAnotherCursorAreReported) {
  struct TCase {
    const char* Name;
    bool OtherDeletes;  // else the other cursor changes the record
    bool ThisDeletes;   // else this cursor posts an edit
    int32_t Code;
  } Cases[] = {
      {"update of a changed record", false, false, kCursorUpdateModified},
      {"update of a deleted record", true, false, kCursorUpdateDeleted},
      {"delete of a changed record", false, true, kCursorDeleteModified},
      {"delete of a deleted record", true, true, kCursorDeleteDeleted},
  };
  for (const TCase& T : Cases) {
    SCOPED_TRACE(T.Name);
    TCursorEnv Env;
    Env.CreateTable();
    TOpenCursor A(Env), B(Env);
    A.Post(1);
    A.Post(2);
    ASSERT_TRUE(A.GoToValue(1));
    if (!T.ThisDeletes) {
      ASSERT_EQ(A.BeginEdit(), 0);
    }
    ASSERT_TRUE(B.GoToValue(1));
    if (T.OtherDeletes) {
      ASSERT_EQ(B.Delete(), 0);
    } else {
      ASSERT_EQ(B.BeginEdit(), 0);
      ASSERT_EQ(B.PostEdit(5), 0);
    }
    if (T.ThisDeletes) {
      EXPECT_EQ(A.Delete(), T.Code);
      EXPECT_EQ(A.V(), 1);  // the shown record stays in the buffer
    } else {
      EXPECT_EQ(A.PostEdit(9), T.Code);
      EXPECT_EQ(A.V(), 9);  // the user's values stay for another try
    }
    EXPECT_EQ(EVLTEngineError(T.Code).ErrorCode(), T.Code);
  }
}

TEST(CursorRecordTest, DeleteRemovesTheShownRecord) {
  TCursorEnv Env;
  Env.CreateTable();
  TOpenCursor O(Env);
  O.Post(1);
  O.Post(2);
  ASSERT_TRUE(O.GoToValue(2));
  EXPECT_EQ(O.Delete(), 0);
  EXPECT_EQ(O.Walk(), std::vector<int32_t>{1});
}

TEST(CursorRecordTest, ConstraintFailureCarriesItsMessage) {
  TCursorEnv Env;
  Env.CreateTable("T", /*NotNullV=*/true);
  TOpenCursor O(Env);
  ASSERT_EQ(O.Post(1), 0);
  O.C->InternalInitRecord(O.Buf.data(), true);
  O.C->InternalPost(true);
  EXPECT_EQ(O.C->FErrorCode, kCursorConstraintFailed);
  EXPECT_NE(O.C->FErrorMessage.find("cannot be null"), std::string::npos) << O.C->FErrorMessage;
  EXPECT_EQ(EVLTEngineError(kCursorConstraintFailed, O.C->FErrorMessage).Message().find("Vaultrix"),
            0u);
  EXPECT_EQ(O.Walk(), std::vector<int32_t>{1});
  O.C->InternalInitRecord(O.Buf.data(), true);
  EXPECT_FALSE(O.C->CheckConstraints(true));  // V is still NULL
}

TEST(CursorRecordTest, TemporaryTablesRefuseEditAndDelete) {
  TCursorEnv Env;
  Env.CreateTable();
  TOpenCursor O(Env);
  O.Post(1);
  ASSERT_TRUE(O.GoToValue(1));
  O.C->FTemporary = true;
  EXPECT_EQ(O.BeginEdit(), kCursorTemporaryUpdate);
  EXPECT_EQ(O.Delete(), kCursorTemporaryDelete);
  O.C->InternalCancel(false);
  EXPECT_EQ(O.C->FErrorCode, 0);
}

TEST(CursorRecordTest, ErrorTextsOfTheCodes) {
  EXPECT_EQ(std::string(EVLTEngineError(kCursorRecordLocked).what()),
            "Vaultrix Engine Error # -12 Record is locked");
  EXPECT_EQ(std::string(EVLTEngineError(kCursorUpdateModified).what()),
            "Vaultrix Engine Error # -4 Error updating record - record was modified by another "
            "process");
}

// ---- BLOB streams ----

TEST(CursorBLOBTest, StreamRulesAndErrors) {
  TCursorEnv Env;
  TVLTFieldDefs F;
  AddField(F, "V", aftInteger);
  AddField(F, "M", aftMemo);
  Env.NewCursor("B")->CreateTable(F, TVLTIndexDefs(), TVLTConstraintDefs());
  TOpenCursor O(Env, "B");
  TVLTLocalCursor& C = *O.C;
  C.InternalInitRecord(O.Buf.data(), true);
  TVLTLocalBLOBStream* W = C.InternalCreateBlobStream(true, false, 1, bomWrite, false);
  ASSERT_NE(W, nullptr);
  EXPECT_EQ(CursorCodeOf([&] { C.InternalCreateBlobStream(true, false, 1, bomReadWrite, false); }),
            10115);
  TVLTLocalBLOBStream* R1 = C.InternalCreateBlobStream(true, false, 1, bomRead, false);
  TVLTLocalBLOBStream* R2 = C.InternalCreateBlobStream(true, false, 1, bomRead, false);
  ASSERT_TRUE(R1 && R2);
  EXPECT_EQ(CursorCodeOf([&] { R1->Write("x", 1); }), 10115);
  EXPECT_EQ(CursorCodeOf([&] { R1->SetSize(3); }), 10116);
  EXPECT_EQ(CursorCodeOf([&] { C.InternalCreateBlobStream(true, false, 2, bomRead, false); }),
            10110);
  EXPECT_EQ(W->Write("abc", 3), 3);
  W->Seek(0, soBeginning);
  char Back[3] = {};
  EXPECT_EQ(W->Read(Back, 3), 3);
  EXPECT_EQ(std::string(Back, 3), "abc");
  // No BLOB storage yet: closing a written stream must not drop its data silently.
  EXPECT_EQ(CursorCodeOf([&] { C.InternalCloseBLOB(1); }), 10120);
  EXPECT_EQ(C.FBLOBStreams->size(), 0u);
  EXPECT_EQ(CursorCodeOf([&] { C.InternalCloseBLOB(5); }), 10118);
  // A user-level stream is destroyed with the cursor's streams.
  TVLTLocalBLOBStream* U = C.InternalCreateBlobStream(true, false, 1, bomRead, false);
  int Destroyed = 0;
  TVLTMemoryStream UserStream;
  U->FUserBLOBStream = &UserStream;
  U->FDestroyUserStream = [&](TVLTLocalBLOBStream&) { ++Destroyed; };
  C.ClearBLOBStreams(false);
  EXPECT_EQ(Destroyed, 1);
  EXPECT_TRUE(C.FBLOBStreams->empty());
  // Cancel drops written streams without storing them.
  TVLTLocalBLOBStream* W2 = C.InternalCreateBlobStream(true, false, 1, bomWrite, false);
  W2->Write("zz", 2);
  C.InternalCancel(true);
  EXPECT_TRUE(C.FBLOBStreams->empty());
  EXPECT_TRUE(VLTIsFieldNull(O.Buf.data(), 1));
}

// ---- scan conditions ----

TEST(ScanConditionTest, ListRules) {
  TVLTScanSearchConditionArray A;
  TVLTScanSearchCondition C;
  EXPECT_EQ(CursorCodeOf([&] { A.AddCondition(C); }), 10388);
  const uint8_t Key[3] = {1, 2, 3};
  C.SetKeyRecordBuffer(Key, 3);
  C.IndexID = 5;
  for (int I = 0; I < 4; ++I) {
    C.CreatedFromExpression = I != 1;
    A.AddCondition(C);
  }
  EXPECT_NE(A[0].KeyRecordBuffer, C.KeyRecordBuffer);  // deep copy
  EXPECT_EQ(A[0].KeyRecordBuffer[2], 3);
  int32_t Start = 2, End = 3;
  A.RemoveUnusedConditionsCreatedFromExpressions(Start, End);
  EXPECT_EQ(A.Count(), 3);  // 0 went, 1 is not from an expression
  EXPECT_EQ(Start, 1);
  EXPECT_EQ(End, 2);
  EXPECT_EQ(CursorCodeOf([&] { A.Delete(3); }), 10413);
  A.AddExpression(nullptr);
  EXPECT_EQ(A[3].Condition, scNone);
  EXPECT_EQ(A[3].IndexID, -1);
}

}  // namespace
}  // namespace vlt::test
