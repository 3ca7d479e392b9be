#include "app/conversion/Areas.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <set>
#include <sstream>
#include <string>

#include "app/conversion/TargetCatalogue.h"
#include "engine/base/VLTTypes.h"

namespace vlt::app {
namespace {

bool InCatalogue(const TTargetDatabase& Db, const char* Table) {
  return std::any_of(Db.Tables.begin(), Db.Tables.end(),
                     [&](const TTargetTable& T) { return SameText(T.Name, Table); });
}

// The rows of the table of areas agree with the target catalogue and the report's schema: an area
// added to one and missed in another is caught here rather than by a conversion that writes into
// the wrong database or a report no reader accepts.
TEST(Areas, RowsAgreeWithTheCatalogueAndTheReportSchema) {
  std::ifstream In(VLT_SOURCE_DIR "/docs/report.schema.json");
  ASSERT_TRUE(In) << "docs/report.schema.json";
  std::stringstream Schema;
  Schema << In.rdbuf();
  std::set<std::string> Names, Keys;
  ASSERT_EQ(Areas().size(), kAreaCount);
  ASSERT_EQ(TargetCatalogue().size(), kAreaCount);
  for (const TAreaInfo& A : Areas()) {
    SCOPED_TRACE(A.Name);
    EXPECT_TRUE(Names.insert(A.Name).second);
    EXPECT_TRUE(Keys.insert(A.Key).second);
    EXPECT_NE(Schema.str().find("\"" + std::string(A.Key) + "\""), std::string::npos);
    const TTargetDatabase& Db = TargetDatabase(A.Area);
    EXPECT_EQ(Db.Area, A.Area);
    for (const TCopyPair& P : CopyPairsOf(A.Area)) EXPECT_TRUE(InCatalogue(Db, P.TargetTable));
    // Every source the area copies is one it looks for.
    for (const TCopyPair& P : CopyPairsOf(A.Area)) {
      const auto Listed = [&](std::span<const char* const> List) {
        return std::any_of(List.begin(), List.end(),
                           [&](const char* N) { return SameText(N, P.SourceTable); });
      };
      EXPECT_TRUE(Listed(A.Sources.Required) || Listed(A.Sources.Optional)) << P.SourceTable;
    }
  }
}

TEST(Areas, FileNamesAndFolderRulesComeFromTheRows) {
  EXPECT_EQ(AreaTargetFile(TArea::Ledger, "/b/2012jrnl.bkp"), "2012Ledger.vlt");
  EXPECT_EQ(AreaLogFile(TArea::Ledger, "/b/2012jrnl.bkp"), "2012_Conversion_Log.txt");
  EXPECT_EQ(AreaTargetFile(TArea::Payroll, "/b/2012jrnl.bkp"), "Payroll.vlt");
  EXPECT_TRUE(IsAreaFolder(TArea::Ledger, "/b/1981jrnl.bkp"));
  EXPECT_FALSE(IsAreaFolder(TArea::Ledger, "/b/1980jrnl.bkp"));
  EXPECT_TRUE(IsAreaFolder(TArea::Payroll, "/b/1980jrnl.bkp"));
  EXPECT_FALSE(IsAreaFolder(TArea::Loans, "/b/2Loans.BKP"));
  EXPECT_EQ(AreaHeading(TArea::ChkSch, "/b/#@2ChkSc.bkp"), "Convert: /b/#@2ChkSc.bkp");
  EXPECT_EQ(AreaHeading(TArea::Ledger, "/b/2012jrnl.bkp"), "Convert 2012");
  EXPECT_TRUE(IsAreaFrameLine("Conversion Process Finished"));
  EXPECT_TRUE(IsAreaFrameLine("Convert: /b/2ChkSc.bkp"));
  EXPECT_FALSE(IsAreaFrameLine("Error Opening Table: LOAN.DB"));
}

}  // namespace
}  // namespace vlt::app
