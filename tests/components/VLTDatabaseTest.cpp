#include "engine/components/VLTDatabase.h"

#include "engine/base/VLTExcept.h"
#include "engine/components/VLTDatabaseError.h"
#include "engine/components/VLTTable.h"
#include "tests/VLTTestUtil.h"
#include "tests/components/VLTComponentTestUtil.h"
#include "tests/disk/VLTFileCheckTestUtil.h"

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

// The changed pages an open transaction holds: what its commit writes, nothing once committed or
// rolled back, nothing without a connection.
TEST_F(DatabaseTest, PendingChangeBytesCountTheUncommittedPages) {
  TVLTDatabase& Db = NewDatabase();
  EXPECT_EQ(Db.PendingChangeBytes(), 0);
  Db.CreateDatabase();
  Db.Open();
  TVLTTable T;
  T.SetDatabaseName("Pay");
  T.SetTableName("Notes");
  T.AddField(std::make_unique<TVLTIntegerField>("Num"));
  T.AddField(std::make_unique<TVLTStringField>("Text", 200));
  T.CreateTable();
  T.Open();
  EXPECT_EQ(Db.PendingChangeBytes(), 0);
  Db.StartTransaction();
  for (int32_t I = 0; I < 200; ++I) {
    T.Append();
    T.FieldByName("Num").SetAsInteger(I);
    T.FieldByName("Text").SetAsString(std::string(150, 'n'));
    T.Post();
  }
  const int64_t Pending = Db.PendingChangeBytes();
  EXPECT_GE(Pending, 200 * 150);  // the records at least, in whole pages
  EXPECT_EQ(Pending % 8192, 0);
  Db.Commit();
  EXPECT_EQ(Db.PendingChangeBytes(), 0);
  Db.StartTransaction();
  T.AppendRecord({Int(1000)});
  EXPECT_GT(Db.PendingChangeBytes(), 0);
  Db.Rollback();
  EXPECT_EQ(Db.PendingChangeBytes(), 0);
  T.Close();
  Db.Close();
  EXPECT_EQ(Db.PendingChangeBytes(), 0);
}

// A table larger than one commit batch of the compaction (the batches end at a size of changed
// pages): every record, index entry and BLOB reaches the new file, and the file checks clean.
TEST_F(DatabaseTest, CompactionOfATableLargerThanOneCommitBatchKeepsEverything) {
  constexpr int32_t kRows = 44;
  auto Blob = [](int32_t Row) {
    // Pseudo-random bytes, which no compression shrinks.
    std::string B(1 << 20, '\0');
    uint32_t X = 2654435761u * static_cast<uint32_t>(Row + 1);
    for (char& C : B) {
      X = X * 1664525u + 1013904223u;
      C = static_cast<char>(1 + (X >> 24) % 255);  // no NUL: the field takes text
    }
    return B;
  };
  auto Name = [](int32_t Row) { return "Member " + std::to_string(Row * 37 % kRows); };
  auto Define = [](TVLTTable& T) {
    T.SetDatabaseName("Pay");
    T.SetTableName("Docs");
    T.AddField(std::make_unique<TVLTIntegerField>("Num"));
    T.AddField(std::make_unique<TVLTStringField>("Name", 40));
    T.AddField(std::make_unique<TVLTBlobField>("Data"));
    T.IndexDefs.push_back({"Main", "Num", "", "", ixPrimary | ixUnique});
    T.IndexDefs.push_back({"ByName", "Name", "", "", 0});
  };
  TVLTDatabase& Db = NewOpenDatabase();
  {
    TVLTTable T;
    Define(T);
    T.CreateTable();
    T.Open();
    for (int32_t Row = 0; Row < kRows; ++Row) {
      T.Append();
      T.FieldByName("Num").SetAsInteger(Row);
      T.FieldByName("Name").SetAsString(Name(Row));
      T.FieldByName("Data").SetAsString(Blob(Row));
      T.Post();
    }
  }
  Db.Close();
  ASSERT_GT(std::filesystem::file_size(FileName), 40u << 20);  // more than one batch
  ASSERT_TRUE(Db.CompactDatabase());
  ExpectSoundDatabaseFile(FileName, TVLTPassword{"s3cret", craRijndael_256});

  Db.Open();
  TVLTTable T;
  T.SetDatabaseName("Pay");
  T.SetTableName("Docs");
  T.Open();
  EXPECT_EQ(T.RecordCount(), kRows);
  T.SetIndexName("Main");
  int32_t Seen = 0;
  for (T.First(); !T.Eof(); T.Next(), ++Seen) {
    const int32_t Row = static_cast<int32_t>(T.FieldByName("Num").AsInteger());
    EXPECT_EQ(Row, Seen);
    EXPECT_EQ(T.FieldByName("Name").AsString(), Name(Row));
    EXPECT_TRUE(T.FieldByName("Data").AsString() == Blob(Row)) << "BLOB of row " << Row;
  }
  EXPECT_EQ(Seen, kRows);
  T.SetIndexName("ByName");
  for (int32_t Row = 0; Row < kRows; ++Row) {
    TVLTVariant Key;
    Key.SetAsAnsiString(Name(Row));
    ASSERT_TRUE(T.FindKey({Key})) << Name(Row);
    EXPECT_EQ(T.FieldByName("Num").AsInteger(), Row);
  }
  T.Close();
  Db.Close();
}

}  // namespace
}  // namespace vlt::test
