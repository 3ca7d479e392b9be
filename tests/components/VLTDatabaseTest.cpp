#include "engine/components/VLTDatabase.h"

#include "engine/components/VLTDatabaseError.h"
#include "engine/core/VLTExcept.h"
#include "tests/components/VLTComponentTestUtil.h"
#include "tests/VLTTestUtil.h"

namespace vlt::test {
namespace {

using DatabaseTest = TComponentTest;


TEST_F(DatabaseTest, OpenMissingFileFailsAndStaysClosed) {
  TVLTDatabase& Db = NewDatabase();
  try {
    Db.Open();
    FAIL();
  } catch (const EVLTDatabaseError& E) {
    EXPECT_EQ(std::string(E.what()), "PayComponent: Database file '" + FileName + "' does not exist");
  }
  EXPECT_FALSE(Db.Connected());
  Db.CreateDatabase();
  Db.Open();
  EXPECT_TRUE(Db.Connected());
  EXPECT_EQ(Db.CurrentVersion(), "7.91 ");
}

TEST_F(DatabaseTest, FileValuesRuleAfterOpen) {
  TVLTDatabase& Db = NewDatabase();
  Db.CreateDatabase();
  Db.FPageSize = 4096;
  Db.FCryptoAlgorithm = craBlowfish;
  Db.Open();
  EXPECT_EQ(Db.FPageSize, 8192);
  EXPECT_EQ(Db.FCryptoAlgorithm, craRijndael_256);
}

TEST_F(DatabaseTest, WrongPasswordSilentRaisesEngineErrorAndPromptCanRetry) {
  NewDatabase().CreateDatabase();
  TVLTDatabase& Other = NewDatabase("Other", "wrong");
  EXPECT_EQ(CodeOf([&] { Other.Open(); }), 30445);
  EXPECT_FALSE(Other.Connected());

  int Asked = 0;
  Other.OnPassword = [&](TVLTDatabase& D, bool& Continue) {
    ++Asked;
    D.FPassword = "s3cret";
    Continue = true;
  };
  Other.Open();
  EXPECT_TRUE(Other.Connected());
  EXPECT_EQ(Asked, 1);
}

TEST_F(DatabaseTest, ChecksOfOpenAndClosedState) {
  TVLTDatabase& Db = NewDatabase();
  Db.CreateDatabase();
  Db.Open();
  EXPECT_THROW(Db.DeleteDatabase(), EVLTDatabaseError);
  EXPECT_THROW(Db.CreateDatabase(), EVLTDatabaseError);
  Db.StartTransaction();
  EXPECT_TRUE(Db.InTransaction());
  EXPECT_THROW(Db.StartTransaction(), EVLTDatabaseError);
  Db.Rollback();
  EXPECT_FALSE(Db.InTransaction());
  Db.Close();
  EXPECT_THROW(Db.FlushBuffers(), EVLTDatabaseError);
  EXPECT_FALSE(Db.InTransaction());
  Db.DeleteDatabase();
  EXPECT_FALSE(Db.Exists());
  Db.DeleteDatabase();  // a missing file is no error
}

TEST_F(DatabaseTest, NameRules) {
  TVLTDatabase& Db = NewDatabase("");
  EXPECT_THROW(Db.Open(), EVLTDatabaseError);
  TVLTDatabase& A = NewDatabase("Same");
  A.ValidateName();
  TVLTDatabase& B = NewDatabase("Other");
  B.ValidateName();
  EXPECT_THROW(B.SetDatabaseName("SAME"), EVLTDatabaseError);
}

TEST_F(DatabaseTest, TableExistsOpensAndStaysOpen) {
  TVLTDatabase& Db = NewDatabase();
  Db.CreateDatabase();
  EXPECT_FALSE(Db.TableExists("Nothing"));
  EXPECT_TRUE(Db.Connected());
}

TEST_F(DatabaseTest, CompactWithoutSpaceRaisesBeforeWriting) {
  TVLTDatabase& Db = NewDatabase();
  Db.CreateDatabase();
  auto Saved = TVLTDatabase::FreeSpaceProbe;
  TVLTDatabase::FreeSpaceProbe = [](const std::string&) { return uint64_t{10}; };
  EXPECT_EQ(CodeOf([&] { Db.CompactDatabase(); }), 20303);
  TVLTDatabase::FreeSpaceProbe = Saved;
  EXPECT_FALSE(FileExists(FileName + ".tmp"));
  EXPECT_TRUE(FileExists(FileName));
  Db.Open();  // the original is whole
}

TEST_F(DatabaseTest, ChangePasswordReplacesFile) {
  TVLTDatabase& Db = NewDatabase();
  Db.CreateDatabase();
  EXPECT_EQ(Db.ChangePassword("n3w", craTwofish_128), "");
  EXPECT_FALSE(FileExists(FileName + ".tmp"));
  EXPECT_EQ(Db.FPassword, "n3w");
  Db.Open();
  EXPECT_EQ(Db.FCryptoAlgorithm, craTwofish_128);
  Db.Close();
  TVLTDatabase& Old = NewDatabase("Old", "s3cret");
  EXPECT_EQ(CodeOf([&] { Old.Open(); }), 30445);
  std::string Log;
  EXPECT_EQ(CodeOf([&] { Db.ChangeDatabaseSettings(Log, false, "x", craRijndael_128, 4096, 8, 0); }),
            20274);
}

TEST_F(DatabaseTest, MakeExecutableDatabaseConcatenates) {
  TVLTDatabase& Db = NewDatabase();
  Db.CreateDatabase();
  const std::string Stub = Dir + "/stub.bin", Exe = Dir + "/out.exe";
  { std::ofstream(Stub, std::ios::binary) << "STUB"; }
  Db.MakeExecutableDatabase(Stub, Exe);
  EXPECT_EQ(std::filesystem::file_size(Exe), 4 + std::filesystem::file_size(FileName));
}

}  // namespace
}  // namespace vlt::test

namespace vlt::test {
namespace {

TEST_F(DatabaseTest, CompactRefusesWhileAnotherComponentHasTheFileOpen) {
  TVLTDatabase& Db = NewDatabase();
  Db.CreateDatabase();
  TVLTDatabase& Other = NewDatabase("Other");
  Other.Open();
  const auto SizeBefore = std::filesystem::file_size(FileName);
  EXPECT_THROW(Db.CompactDatabase(), std::exception);
  EXPECT_FALSE(FileExists(FileName + ".tmp"));
  EXPECT_EQ(std::filesystem::file_size(FileName), SizeBefore);
  EXPECT_TRUE(Other.TableExists("None") == false);
  Other.Close();
  EXPECT_TRUE(Db.CompactDatabase());
}

}  // namespace
}  // namespace vlt::test
