#include "engine/components/VLTTableAdvDefs.h"

#include <gtest/gtest.h>

#include "engine/base/VLTExcept.h"

namespace vlt {
namespace {

TEST(TableTypeMapTest, CreateAndReadBackFollowTheMappingTable) {
  struct TRow {
    TVLTDataSetFieldType Component;
    TVLTAdvancedFieldType Created;
    TVLTDataSetFieldType ReadBack;
  };
  const TRow Rows[] = {
      {ftFixedChar, aftChar, ftFixedChar},     {ftString, aftString, ftString},
      {ftWideString, aftWideChar, ftWideString}, {ftSmallint, aftSmallint, ftSmallint},
      {ftInteger, aftInteger, ftInteger},      {ftLargeint, aftLargeint, ftLargeint},
      {ftWord, aftWord, ftWord},               {ftAutoInc, aftAutoInc, ftAutoInc},
      {ftFloat, aftDouble, ftFloat},           {ftBCD, aftDouble, ftFloat},
      {ftBoolean, aftBoolean, ftBoolean},      {ftCurrency, aftCurrency, ftCurrency},
      {ftDate, aftDate, ftDate},               {ftTime, aftTime, ftTime},
      {ftDateTime, aftDateTime, ftDateTime},   {ftTimeStamp, aftTimeStamp, ftTimeStamp},
      {ftBytes, aftBytes, ftBytes},            {ftVarBytes, aftVarBytes, ftVarBytes},
      {ftBlob, aftBlob, ftBlob},               {ftParadoxOle, aftBlob, ftBlob},
      {ftOraClob, aftBlob, ftBlob},            {ftGraphic, aftGraphic, ftGraphic},
      {ftMemo, aftMemo, ftMemo},               {ftFmtMemo, aftFormattedMemo, ftFmtMemo},
      {ftWideMemo, aftWideMemo, ftWideMemo},   {ftGuid, aftGuid, ftGuid},
  };
  for (const TRow& R : Rows) {
    SCOPED_TRACE(static_cast<int>(R.Component));
    EXPECT_EQ(AdvancedTypeOfComponentType(R.Component), R.Created);
    EXPECT_EQ(DataSetTypeOfAdvanced(R.Created), R.ReadBack);
  }
  // Engine types read back as the first component type listed for them.
  EXPECT_EQ(DataSetTypeOfAdvanced(aftShortint), ftSmallint);
  EXPECT_EQ(DataSetTypeOfAdvanced(aftCardinal), ftLargeint);
  EXPECT_EQ(DataSetTypeOfAdvanced(aftAutoIncLargeint), ftLargeint);
  EXPECT_EQ(DataSetTypeOfAdvanced(aftByte), ftWord);
  EXPECT_EQ(DataSetTypeOfAdvanced(aftAutoIncWord), ftAutoInc);
  EXPECT_EQ(DataSetTypeOfAdvanced(aftExtended), ftFloat);
  EXPECT_EQ(DataSetTypeOfAdvanced(aftWideString), ftWideString);
  try {
    AdvancedTypeOfComponentType(ftCursor);
    FAIL();
  } catch (const EVLTException& E) {
    EXPECT_EQ(E.NativeError(), 30289);
    EXPECT_NE(E.Message().find("Unknown DataType: '22'"), std::string::npos);
  }
}

TEST(TableAdvDefsTest, ListsFindDeleteAndAssign) {
  TVLTAdvFieldDefs F;
  F.Add("Num", aftInteger, 0, true);
  F.Add("Memo", aftMemo, 0, false, acaZLIB, 6);
  EXPECT_EQ(F.Find("NUM")->FRequired, true);
  EXPECT_EQ(F.Find("memo")->FBLOBCompressionMode, 6);
  EXPECT_EQ(F.Find("none"), nullptr);
  EXPECT_EQ(F[0].FAutoincMaxValue, INT64_MAX);
  EXPECT_EQ(F[0].FBLOBBlockSize, 102400);
  try {
    F.DeleteFieldDef("none");
    FAIL();
  } catch (const EVLTException& E) {
    EXPECT_EQ(E.NativeError(), 30349);
  }
  TVLTAdvFieldDefs Copy;
  Copy.Assign(F);
  F.DeleteFieldDef("num");
  EXPECT_EQ(F.Count(), 1);
  EXPECT_EQ(Copy.Count(), 2);  // a deep copy

  TVLTAdvIndexDefs I;
  I.Add("Main", "Num", ixPrimary | ixUnique);
  I.Add("Tmp", "Num", 0, true);
  I.Add("myTemporaryIdx", "Num", 0);
  TVLTAdvIndexDefs Kept;
  Kept.Assign(I, true);
  ASSERT_EQ(Kept.Count(), 1);
  EXPECT_EQ(Kept[0].FName, "Main");
  Kept.Assign(I);
  EXPECT_EQ(Kept.Count(), 3);
  try {
    I.DeleteIndexDef("nothing");
    FAIL();
  } catch (const EVLTException& E) {
    EXPECT_EQ(E.NativeError(), 20190);
  }
}

TEST(TableAdvDefsTest, FieldListsSplitAtSemicolonsAndCommas) {
  EXPECT_EQ(VLTSplitFieldList(" Num ; Type,Name;;"),
            (std::vector<std::string>{"Num", "Type", "Name"}));
  EXPECT_TRUE(VLTSplitFieldList("  ").empty());
}

}  // namespace
}  // namespace vlt
