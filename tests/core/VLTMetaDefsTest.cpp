#include <gtest/gtest.h>

#include <vector>

#include "engine/base/VLTExcept.h"
#include "engine/core/VLTTableMetadata.h"
#include "engine/expr/VLTFieldTypeTable.h"
#include "engine/protect/VLTMemoryStream.h"
#include "tests/VLTTestUtil.h"

namespace vlt {
namespace {

using test::CodeOf;

std::vector<uint8_t> Bytes(TVLTMemoryStream& S) {
  return std::vector<uint8_t>(S.Memory(), S.Memory() + S.GetSize());
}

TVLTFieldDef& AddField(TVLTFieldDefs& Defs, const char* Name, TVLTAdvancedFieldType Type,
                       int32_t Size = 0) {
  TVLTFieldDef& F = Defs.AddNew();
  F.SetName(Name);
  F.SetFieldDefDataType(Type, Size);
  return F;
}

TEST(TypeNameTable, FirstMatchConsequences) {
  EXPECT_EQ(SQLFieldTypes().size(), 62u);
  EXPECT_EQ(AdvancedTypeOfBase(bftClob), aftMemo);
  EXPECT_EQ(AdvancedTypeOfBase(bftSignedInt32), aftInteger);
  EXPECT_EQ(AdvancedTypeOfBase(bftDateTime), aftDateTime);
  EXPECT_EQ(AdvancedTypeOfBase(bftChar), aftChar);
  EXPECT_EQ(AdvancedTypeOfDataSetType(ftWideString), aftWideChar);
  EXPECT_EQ(AdvancedTypeOfDataSetType(ftFloat), aftDouble);
  EXPECT_EQ(AdvancedTypeOfDataSetType(ftBCD), aftDouble);
  EXPECT_EQ(SqlNameOfAdvanced(aftDouble), "FLOAT");
  EXPECT_EQ(SqlNameOfAdvanced(aftBoolean), "LOGICAL");
  EXPECT_EQ(SqlNameOfBase(bftBFile), "Unknown");
  EXPECT_EQ(AdvancedTypeOfSqlName("varchar2"), aftString);
  EXPECT_EQ(BaseTypeOfAdvanced(aftGuid), bftChar);
  EXPECT_FALSE(AdvancedTypeOfBase(bftUnknown).has_value());

  TVLTFieldDef F;
  F.SetFieldDefDataType(bftClob, 0);
  EXPECT_EQ(F.FAdvancedFieldType, aftMemo);
  EXPECT_EQ(CodeOf([&] { F.SetFieldDefDataType(bftBFile, 0); }), 30008);
  EXPECT_EQ(CodeOf([&] { F.SetFieldDefDataType(aftUnknown, 0); }), 30007);
  EXPECT_EQ(CodeOf([] { FieldMemorySize(bftUnknown, 0); }), 30050);
}

TEST(TVLTFieldDefs, RecordGeometry) {
  struct Row {
    TVLTAdvancedFieldType Type;
    int32_t Size, Memory, Disk;
  };
  const Row Rows[] = {
      {aftWideString, 20, 42, 42}, {aftString, 20, 21, 21}, {aftBlob, 0, 10, 6},
      {aftMemo, 0, 10, 6},         {aftSmallint, 0, 2, 2},  {aftBoolean, 0, 2, 2},
      {aftDateTime, 0, 8, 8},      {aftExtended, 0, 10, 10}, {aftBytes, 16, 17, 17},
      {aftShortint, 0, 1, 1},      {aftCurrency, 0, 8, 8},  {aftDate, 0, 4, 4},
  };
  for (const Row& R : Rows) {
    TVLTFieldDef F;
    F.SetFieldDefDataType(R.Type, R.Size);
    EXPECT_EQ(F.FMemoryDataSize, R.Memory) << AdvancedFieldTypeName(R.Type);
    EXPECT_EQ(F.FDiskDataSize, R.Disk) << AdvancedFieldTypeName(R.Type);
  }

  TVLTFieldDefs Defs;
  for (int I = 0; I < 8; ++I) AddField(Defs, ("F" + std::to_string(I)).c_str(), aftInteger);
  Defs.RecalcFieldOffsets();
  EXPECT_EQ(Defs[0].FMemoryOffset, 1);
  EXPECT_EQ(Defs.GetMemoryRecordBufferSize(), 1 + 32);
  AddField(Defs, "Memo", aftMemo);
  AddField(Defs, "Blob", aftBlob);
  AddField(Defs, "After", aftInteger);
  Defs.RecalcFieldOffsets();
  EXPECT_EQ(Defs[0].FMemoryOffset, 2);  // 11 fields: two bitmap bytes
  EXPECT_EQ(Defs[0].FDiskOffset, 2);
  // Each BLOB before a field moves its disk offset 4 below its memory offset.
  EXPECT_EQ(Defs[10].FMemoryOffset - Defs[10].FDiskOffset, 8);
  EXPECT_EQ(Defs.GetMemoryRecordBufferSize(), 2 + 32 + 10 + 10 + 4);
  EXPECT_EQ(Defs.GetDiskRecordBufferSize(), 2 + 32 + 6 + 6 + 4);
}

TEST(TVLTMetaObjectDefs, LookupsAssignAndOwnership) {
  TVLTFieldDefs Defs;
  AddField(Defs, "NAME", aftString, 30).FObjectID = 7;
  AddField(Defs, "Num", aftInteger).FObjectID = 9;
  EXPECT_EQ(Defs.GetDefNumberByName("name"), 0);
  EXPECT_EQ(Defs.GetDefNumberByName("missing"), -1);
  EXPECT_EQ(Defs.GetByObjectId(9)->FName, "Num");
  EXPECT_EQ(Defs.GetDefByObjectId(8), nullptr);

  TVLTFieldDefs Copy;
  Copy.Assign(Defs);
  ASSERT_EQ(Copy.Count(), 2);
  EXPECT_EQ(Copy[0].FFieldSize, 30);
  EXPECT_NE(&Copy[0], &Defs[0]);

  AddField(Defs, "num", aftInteger);
  EXPECT_EQ(CodeOf([&] { Copy.Assign(Defs); }), 10424);

  Defs.Move(2, 0);
  EXPECT_EQ(Defs[0].FName, "num");
  Defs.Delete(0);
  EXPECT_EQ(Defs.Count(), 2);

  TVLTMetaObjectDefs Base;
  EXPECT_EQ(CodeOf([&] { Base.AddCreated(); }), 30339);
}

// A small table whose stream is known byte for byte.
TEST(TVLTTableMetadata, StreamImageByteForByte) {
  TVLTTableMetadata M;
  TVLTFieldDef& Num = AddField(M.FieldDefs, "Num", aftInteger);
  Num.FObjectID = 2;
  TVLTFieldDef& Note = AddField(M.FieldDefs, "N", aftMemo);
  Note.FObjectID = 3;
  Note.FBLOBCompressionAlgorithm = acaZLIB;
  Note.FBLOBCompressionMode = 6;
  TVLTIndexDef& Pk = M.IndexDefs.AddNew();
  Pk.SetName("PK");
  Pk.FObjectID = 4;
  Pk.FPrimary = Pk.FUnique = true;
  Pk.FRootPageNo = 12;
  Pk.AssignByNames({"Num"}, {"ASC"}, {"CASE"});
  TVLTConstraintDefNotNull& NN = M.ConstraintDefs.AddNotNull();
  NN.SetName("NN");
  NN.FObjectID = 5;
  NN.SetNames("Num", "T", "");
  M.RecordPageIndexRoot = 10;
  M.BLOBPageIndexRoot = 11;

  TVLTMemoryStream S;
  M.SaveToStream(S);

  std::vector<uint8_t> W;
  auto I32 = [&](int32_t V) { for (int K = 0; K < 4; ++K) W.push_back(uint8_t(uint32_t(V) >> (8 * K))); };
  auto I64 = [&](int64_t V) { for (int K = 0; K < 8; ++K) W.push_back(uint8_t(uint64_t(V) >> (8 * K))); };
  auto Str = [&](const char* T) { W.push_back(uint8_t(strlen(T))); W.insert(W.end(), T, T + strlen(T)); };
  auto AutoincAndNullDefault = [&](uint8_t BaseType) {
    I64(1); I64(0); I64(0); I64(INT64_MAX); W.push_back(0);
    W.push_back(BaseType); W.push_back(1);  // default value: type, null
  };
  I32(2);                                                        // field count
  Str("Num"); I32(2); W.push_back(bftSignedInt32); W.push_back(aftInteger); I32(0);
  AutoincAndNullDefault(bftUnknown);
  Str("N"); I32(3); W.push_back(bftClob); W.push_back(aftMemo); I32(0);
  W.push_back(acaZLIB); W.push_back(6); I32(102400);             // BLOB settings
  AutoincAndNullDefault(bftUnknown);
  I32(1);                                                        // index count
  Str("PK"); I32(4); W.push_back(itBTree); W.push_back(1); W.push_back(1); I32(1); I32(12);
  Str("Num"); W.push_back(0); W.push_back(0); I32(20);
  I32(1);                                                        // constraint count
  W.push_back(ctNotNull); Str("NN"); I32(5); I32(-1); I32(-1); I32(-1);
  W.push_back(1); Str(""); W.push_back(2); Str("T"); W.push_back(4); Str("Num");
  I32(10); I32(11);
  EXPECT_EQ(Bytes(S), W);

  S.SetPosition(0);
  TVLTTableMetadata Back;
  Back.LoadFromStream(S);
  ASSERT_EQ(Back.FieldDefs.Count(), 2);
  EXPECT_EQ(Back.FieldDefs[1].FBLOBCompressionAlgorithm, acaZLIB);
  EXPECT_EQ(Back.FieldDefs[1].FDiskDataSize, 6);
  EXPECT_EQ(Back.FieldDefs[1].FMemoryOffset, 1 + 4);
  EXPECT_EQ(Back.IndexDefs[0].FIndexColumns[0].FMaxIndexedSize, 20);
  EXPECT_EQ(Back.BLOBPageIndexRoot, 11);
  auto& BackNN = static_cast<TVLTConstraintDefNotNull&>(Back.ConstraintDefs[0]);
  EXPECT_EQ(BackNN.FColumnName, "Num");
  EXPECT_EQ(BackNN.FTableName, "T");
}

TEST(TVLTIndexDefs, TemporaryIndexesAreNotStored) {
  TVLTIndexDefs Defs;
  for (const char* Name : {"A", "Tmp", "B"}) {
    TVLTIndexDef& D = Defs.AddNew();
    D.SetName(Name);
    D.FTemporary = std::string(Name) == "Tmp";
  }
  TVLTMemoryStream S;
  Defs.SaveToStream(S);
  EXPECT_EQ(S.Memory()[0], 2);
  S.SetPosition(0);
  TVLTIndexDefs Back;
  Back.LoadFromStream(S);
  ASSERT_EQ(Back.Count(), 2);
  EXPECT_EQ(Back[1].FName, "B");
  EXPECT_FALSE(Back[0].FTemporary);
}

TEST(TVLTIndexDefs, FindIndexRules) {
  TVLTFieldDefs Fields;
  AddField(Fields, "A", aftString, 10);
  AddField(Fields, "B", aftInteger);
  TVLTIndexDefs Defs;
  auto Add = [&](const char* Name, TVLTObjectID Id, std::vector<std::string> Cols,
                 std::vector<std::string> Order, std::vector<std::string> Case) -> TVLTIndexDef& {
    TVLTIndexDef& D = Defs.AddNew();
    D.SetName(Name);
    D.FObjectID = Id;
    D.AssignByNames(Cols, Order, Case);
    return D;
  };
  Add("AB", 1, {"A", "B"}, {"ASC", "ASC"}, {"CASE", "CASE"});
  Add("BDesc", 2, {"B"}, {"DESC"}, {"CASE"});
  Add("BNoCase", 3, {"B"}, {"ASC"}, {"NO_CASE"});
  TVLTIndexDef& Tmp = Add("ATmp", 4, {"A"}, {"ASC"}, {"NO_CASE"});
  Tmp.FTemporary = true;
  Tmp.FSessionID = 1;

  using L = std::vector<std::string>;
  struct Row {
    L Names, Order, Case;
    TVLTSessionID Session;
    TVLTObjectID Want;
  };
  const Row Rows[] = {
      {{"a"}, {""}, {""}, 0, 1},                  // leading column of (A, B)
      {{"A", "B"}, {"ASC", ""}, {"", ""}, 0, 1},
      {{"A"}, {"DESC"}, {""}, 0, -1},             // DESC does not match an ascending column
      {{"B"}, {"DESC"}, {""}, 0, 2},
      {{"B"}, {"ASC"}, {"NO_CASE"}, 0, 3},        // NO_CASE on an integer needs the flag
      {{"B"}, {"ASC"}, {""}, 0, 3},
      {{"A"}, {""}, {"NO_CASE"}, 0, -1},          // the temporary index belongs to session 1
      {{"A"}, {""}, {"NO_CASE"}, 1, 4},
      {{"B", "A"}, {"", ""}, {"", ""}, 0, -1},
  };
  for (const Row& R : Rows)
    EXPECT_EQ(Defs.FindIndex(&R.Names, &R.Order, &Fields, R.Session, &R.Case), R.Want)
        << R.Names[0] << " " << R.Order[0] << " " << R.Case[0] << " session " << R.Session;

  L One = {"A"}, Two = {"A", "B"};
  EXPECT_EQ(CodeOf([&] { Defs.FindIndex(nullptr, &One, &Fields, 0, &One); }), 10389);
  EXPECT_EQ(CodeOf([&] { Defs.FindIndex(&One, &Two, &Fields, 0, &One); }), 10276);
  EXPECT_EQ(CodeOf([&] { Defs.FindIndex(&One, &One, &Fields, 0, &Two); }), 10277);
  EXPECT_EQ(CodeOf([&] { Tmp.AssignByNames(One, Two, One); }), 10278);
  EXPECT_EQ(CodeOf([&] { Tmp.AssignByNames(One, One, Two); }), 10279);
}

TEST(TVLTConstraintDefs, RoundTripAndDamage) {
  TVLTConstraintDefs Defs;
  TVLTConstraintDefPrimary& Pk = Defs.AddPK();
  Pk.SetName("PK_T");
  Pk.FIndexName = "PK";
  Pk.Columns = {{"Num", 2}, {"Name", 3}};
  TVLTConstraintDefCheck& Ck = Defs.AddCheck();
  Ck.SetNames("Num", "T", "");
  Ck.FMinValue.SetAsInteger(1);
  Defs.AddUnique().FIndexName = "U";

  TVLTMemoryStream S;
  Defs.SaveToStream(S);
  S.SetPosition(0);
  TVLTConstraintDefs Back;
  Back.LoadFromStream(S);
  ASSERT_EQ(Back.Count(), 3);
  EXPECT_EQ(Back[0].FConstraintType, ctPK);
  auto& BackPk = static_cast<TVLTConstraintDefPrimary&>(Back[0]);
  EXPECT_EQ(BackPk.Columns.size(), 2u);
  EXPECT_EQ(BackPk.Columns[1].ColumnName, "Name");
  auto& BackCk = static_cast<TVLTConstraintDefCheck&>(Back[1]);
  EXPECT_EQ(BackCk.FMinValue.AsInteger(), 1);
  EXPECT_TRUE(BackCk.FMaxValue.IsNull());

  TVLTConstraintDefs Copy;
  Copy.Assign(Back);
  EXPECT_EQ(Copy[2].FConstraintType, ctUnique);

  // An unknown type byte, and a stream cut inside the third definition: what was read stays.
  std::vector<uint8_t> Image = Bytes(S);
  Image[4] = 1;  // the first definition claims to be a foreign key
  TVLTMemoryStream Bad;
  Bad.Write(Image.data(), static_cast<int64_t>(Image.size()));
  Bad.SetPosition(0);
  EXPECT_EQ(CodeOf([&] { Back.LoadFromStream(Bad); }), 30316);

  TVLTMemoryStream Cut;
  Cut.Write(S.Memory(), S.GetSize() - 3);
  Cut.SetPosition(0);
  EXPECT_NE(CodeOf([&] { Back.LoadFromStream(Cut); }), 0);
  EXPECT_EQ(Back.Count(), 2);
}

}  // namespace
}  // namespace vlt
