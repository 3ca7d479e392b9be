#include "engine/components/VLTTableEngineDefs.h"

#include <gtest/gtest.h>

#include <string>

#include "engine/components/VLTTableAdvDefs.h"

namespace vlt {
namespace {

// One row per way a column gets its order and case: listed, implied by the options when the
// list is empty, not implied when the list names other fields.
TEST(IndexColumnRulesTest, OrderAndCaseOfEachColumn) {
  struct TRow {
    const char* Name;
    const char* Fields;
    const char* Desc;
    const char* CaseIns;
    uint8_t Options;
    const char* WantDesc;  // one '1' or '0' per column
    const char* WantCaseIns;
  };
  const TRow Rows[] = {
      {"Plain", "A;B", "", "", 0, "00", "00"},
      {"ListedDescending", "A;B", "b", "", 0, "01", "00"},
      {"ListedCaseInsensitive", "A;B", "", "A", 0, "00", "10"},
      {"OptionsWithEmptyLists", "A;B", "", "", ixDescending | ixCaseInsensitive, "11", "11"},
      {"ListWinsOverOptions", "A;B", "B", "A", ixDescending | ixCaseInsensitive, "01", "10"},
      {"BlankListCountsAsEmpty", "A;B", " ; ", "", ixDescending, "11", "00"},
      {"CommaSeparated", "A, B", "A,B", "", 0, "11", "00"},
  };
  for (const TRow& R : Rows) {
    SCOPED_TRACE(R.Name);
    const TVLTIndexColumnRules Rules(R.Fields, R.Desc, R.CaseIns, R.Options);
    ASSERT_EQ(Rules.Names().size(), std::string(R.WantDesc).size());
    for (size_t K = 0; K < Rules.Names().size(); ++K) {
      const TVLTIndexColumn Col = Rules.Column(K);
      EXPECT_EQ(Col.FFieldName, Rules.Names()[K]);
      EXPECT_EQ(Col.FDescending, R.WantDesc[K] == '1') << K;
      EXPECT_EQ(Col.FCaseInsensitive, R.WantCaseIns[K] == '1') << K;
      EXPECT_EQ(Col.FMaxIndexedSize, kVLTDefaultMaxIndexedSize);
      EXPECT_EQ(Rules.Descending(Col.FFieldName), Col.FDescending);
    }
  }
}

TEST(IndexColumnRulesTest, WholeIndexOptionsFromTheLists) {
  EXPECT_TRUE(TVLTIndexColumnRules("A;B", "a;b", "", 0).AllDescending());
  EXPECT_FALSE(TVLTIndexColumnRules("A;B", "B;A", "", 0).AllDescending());  // order counts
  EXPECT_FALSE(TVLTIndexColumnRules("A;B", "A", "", 0).AllDescending());
  EXPECT_FALSE(TVLTIndexColumnRules("A;B", "", "", ixDescending).AllDescending());
  EXPECT_TRUE(TVLTIndexColumnRules("A;B", "", "A ; B", 0).AllCaseInsensitive());
  EXPECT_FALSE(TVLTIndexColumnRules("A;B", "A;B", "", 0).AllCaseInsensitive());
}

TEST(IndexColumnRulesTest, IndexedSizeOnlyForSizedTypes) {
  EXPECT_EQ(VLTIndexedSize("40", aftString), 40);
  EXPECT_EQ(VLTIndexedSize("1", aftBytes), 1);
  EXPECT_EQ(VLTIndexedSize("40", aftGuid), kVLTDefaultMaxIndexedSize);
  EXPECT_EQ(VLTIndexedSize("40", aftInteger), kVLTDefaultMaxIndexedSize);
  EXPECT_EQ(VLTIndexedSize("0", aftString), kVLTDefaultMaxIndexedSize);
  EXPECT_EQ(VLTIndexedSize("-5", aftString), kVLTDefaultMaxIndexedSize);
  EXPECT_EQ(VLTIndexedSize("", aftString), kVLTDefaultMaxIndexedSize);
  EXPECT_EQ(VLTIndexedSize("x", aftString), kVLTDefaultMaxIndexedSize);
}

}  // namespace
}  // namespace vlt
