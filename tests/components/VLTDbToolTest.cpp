// The maintenance subcommands of the vltdb tool (compact, repair, passwd) run on a database
// built through the components; the results are read back through the components.
#include <sys/wait.h>

#include <cstdio>
#include <filesystem>

#include "engine/components/VLTTable.h"
#include "engine/core/VLTExcept.h"
#include "tests/components/VLTComponentTestUtil.h"

namespace vlt::test {
namespace {

class DbToolTest : public TComponentTest {
 protected:
  void SetUp() override {
    TComponentTest::SetUp();
    Tool = VltdbPath();
    if (Tool.empty()) GTEST_SKIP() << "vltdb was not built";
  }

  std::unique_ptr<TVLTTable> OpenTable(const std::string& DbName, bool Create) {
    auto T = std::make_unique<TVLTTable>();
    T->SetDatabaseName(DbName);
    T->SetTableName("Members");
    T->AddField(std::make_unique<TVLTIntegerField>("Num")).FRequired = true;
    T->AddField(std::make_unique<TVLTStringField>("Name", 30));
    T->AddField(std::make_unique<TVLTStringField>("Notes", 200));
    T->IndexDefs.push_back({"Main", "Num", "", "", ixPrimary | ixUnique});
    if (Create) T->CreateTable();
    T->SetIndexName("Main");
    T->Open();
    return T;
  }

  // Members 1..Count, then every third one deleted so the file holds free space.
  void Build(int32_t Count) {
    TVLTDatabase& Db = NewDatabase();
    Db.CreateDatabase();
    Db.Open();
    auto T = OpenTable("Pay", true);
    for (int32_t I = 1; I <= Count; ++I) {
      T->Append();
      T->FieldByName("Num").SetAsInteger(I);
      T->FieldByName("Name").SetAsString("Member " + std::to_string(I));
      if (I % 5 == 0) T->FieldByName("Notes").SetAsString(std::string(150, 'n'));
      T->Post();
    }
    for (T->First(); !T->Eof();)
      if (T->FieldByName("Num").AsInteger() % 3 == 0)
        T->Delete();
      else
        T->Next();
    T.reset();
    Db.Close();
  }

  // The numbers and names read back with the given password.
  std::vector<std::string> Rows(const std::string& Password) {
    TVLTDatabase& Db = NewDatabase("Check" + std::to_string(Databases.size()), Password);
    Db.Open();
    std::vector<std::string> Out;
    {
      auto T = OpenTable(Db.DatabaseName(), false);
      for (T->First(); !T->Eof(); T->Next())
        Out.push_back(T->FieldByName("Num").AsString() + ":" + T->FieldByName("Name").AsString() +
                      ":" + std::to_string(T->FieldByName("Notes").AsString().size()));
    }
    Db.Close();
    return Out;
  }

  static int32_t OpenCode(TVLTDatabase& Db) {
    try {
      Db.Open();
    } catch (const EVLTException& E) {
      return E.NativeError();
    }
    Db.Close();
    return 0;
  }

  std::string Tool;
};

TEST_F(DbToolTest, CompactKeepsRecordsAndShrinksTheFile) {
  Build(600);
  const auto Before = Rows("s3cret");
  ASSERT_EQ(Before.size(), 400u);
  const auto SizeBefore = std::filesystem::file_size(FileName);
  std::string Out;
  EXPECT_EQ(RunTool(Tool + " check " + FileName + " --password s3cret", Out), 0) << Out;
  ASSERT_EQ(RunTool(Tool + " compact " + FileName + " --password s3cret", Out), 0) << Out;
  EXPECT_NE(Out.find("Compacted"), std::string::npos) << Out;
  EXPECT_LT(std::filesystem::file_size(FileName), SizeBefore);
  EXPECT_FALSE(FileExists(FileName + ".tmp"));
  EXPECT_EQ(Rows("s3cret"), Before);
  EXPECT_EQ(RunTool(Tool + " check " + FileName + " --password s3cret", Out), 0) << Out;
  EXPECT_NE(Out.find("tables: consistent"), std::string::npos) << Out;
}

TEST_F(DbToolTest, PasswdRequiresTheNewPasswordAfterwards) {
  Build(60);
  const auto Before = Rows("s3cret");
  std::string Out;
  ASSERT_EQ(RunTool(Tool + " passwd " + FileName +
                        " --password s3cret --new-password n3w --cipher Twofish_128",
                    Out),
            0)
      << Out;
  EXPECT_NE(Out.find("Twofish_128"), std::string::npos) << Out;
  EXPECT_FALSE(FileExists(FileName + ".tmp"));
  TVLTDatabase& Old = NewDatabase("Old", "s3cret");
  EXPECT_EQ(OpenCode(Old), 30445);
  EXPECT_EQ(Rows("n3w"), Before);
  TVLTDatabase& New = NewDatabase("New", "n3w");
  New.Open();
  EXPECT_EQ(New.FCryptoAlgorithm, craTwofish_128);
  New.Close();
  EXPECT_EQ(RunTool(Tool + " check " + FileName + " --password n3w", Out), 0) << Out;
  EXPECT_EQ(RunTool(Tool + " check " + FileName + " --password s3cret", Out), 1) << Out;

  // Without --cipher the file's cipher is kept.
  ASSERT_EQ(RunTool(Tool + " passwd " + FileName + " --password n3w --new-password again", Out), 0)
      << Out;
  TVLTDatabase& Again = NewDatabase("Again", "again");
  Again.Open();
  EXPECT_EQ(Again.FCryptoAlgorithm, craTwofish_128);
  Again.Close();

  // An empty new password leaves the file unencrypted.
  ASSERT_EQ(RunTool(Tool + " passwd " + FileName + " --password again --new-password ''", Out), 0)
      << Out;
  EXPECT_NE(Out.find("not encrypted"), std::string::npos) << Out;
  EXPECT_EQ(Rows(""), Before);
  EXPECT_EQ(RunTool(Tool + " check " + FileName, Out), 0) << Out;
}

TEST_F(DbToolTest, RepairOfASoundFileLogsNothingAndKeepsRecords) {
  Build(60);
  const auto Before = Rows("s3cret");
  std::string Out;
  ASSERT_EQ(RunTool(Tool + " repair " + FileName + " --password s3cret", Out), 0) << Out;
  EXPECT_NE(Out.find("no problems found"), std::string::npos) << Out;
  EXPECT_EQ(Rows("s3cret"), Before);
}

// Failures leave the file as it was and no temporary file behind.
TEST_F(DbToolTest, FailuresLeaveTheFileUnchanged) {
  Build(30);
  const auto Size = std::filesystem::file_size(FileName);
  struct TCase {
    std::string Args;
    int Exit;
  } const Cases[] = {
      {" compact " + FileName + " --password wrong", 1},
      {" repair " + FileName + " --password wrong", 1},
      {" passwd " + FileName + " --password wrong --new-password x", 1},
      {" passwd " + FileName + " --password s3cret", 2},
      {" passwd " + FileName + " --password s3cret --new-password x --cipher Nothing", 2},
      {" compact " + FileName + " --password s3cret --cipher Twofish_128", 2},
      {" compact " + Dir + "/missing.vlt", 1},
  };
  for (const auto& C : Cases) {
    std::string Out;
    EXPECT_EQ(RunTool(Tool + C.Args, Out), C.Exit) << C.Args << "\n" << Out;
    EXPECT_FALSE(FileExists(FileName + ".tmp")) << C.Args;
    EXPECT_EQ(std::filesystem::file_size(FileName), Size) << C.Args;
  }
  EXPECT_EQ(Rows("s3cret").size(), 20u);
}

}  // namespace
}  // namespace vlt::test
