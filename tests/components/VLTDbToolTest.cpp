// The maintenance subcommands of the vltdb tool (compact, repair, passwd) run on a database
// built through the components; the results are read back through the components.
#include <sys/wait.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

#include "engine/base/VLTExcept.h"
#include "engine/components/VLTDiskDatabaseEntry.h"
#include "engine/components/VLTLocalSession.h"
#include "engine/components/VLTTable.h"
#include "engine/core/VLTPageHeader.h"
#include "engine/disk/VLTDiskPageManager.h"
#include "tests/components/VLTComponentTestUtil.h"
#include "tests/disk/VLTFileCheckTestUtil.h"

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

  std::string FileBytes() const {
    std::ifstream F(FileName, std::ios::binary);
    return {std::istreambuf_iterator<char>(F), std::istreambuf_iterator<char>()};
  }

  // Overwrites part of the data of the table's last record page, so that its checksum fails.
  void DamageLastRecordPage() {
    TVLTDatabase& Db = NewDatabase("Damage");
    Db.Open();
    TVLTDiskPageManager& M = *Db.Handle()->DiskLink()->Disk().PageManager();
    const int64_t First = M.OffsetToFirstPage(), Size = M.PageSize();
    const int32_t Count = M.DBHeader().TotalPageCount;
    Db.Close();
    std::fstream F(FileName, std::ios::in | std::ios::out | std::ios::binary);
    int64_t Last = -1;
    for (int32_t No = 0; No < Count; ++No) {
      TVLTDiskPageHeader H{};
      F.seekg(First + No * Size);
      F.read(reinterpret_cast<char*>(&H), sizeof H);
      if (F && std::memcmp(H.Signature, kPageSignature, 4) == 0 && H.PageType == ptTableRecord &&
          H.State != kPageStateFreed)
        Last = No;
    }
    ASSERT_GE(Last, 0);
    F.clear();
    F.seekp(First + Last * Size + kPageHeaderSize + 16);
    F.write(std::string(64, '\x5A').data(), 64);
    ASSERT_TRUE(F.good());
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
  const std::string Bytes = FileBytes();
  std::string Out;
  ASSERT_EQ(RunTool(Tool + " repair " + FileName + " --password s3cret", Out), 0) << Out;
  EXPECT_NE(Out.find("no problems found"), std::string::npos) << Out;
  EXPECT_TRUE(FileBytes() == Bytes);  // "no problems found": nothing was changed
  EXPECT_EQ(Rows("s3cret"), Before);
  ExpectSoundDatabaseFile(FileName, {"s3cret", craRijndael_256});
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

// The reading commands go through a read-only multi-user connection: they work while another
// process has the file open and is editing, and they never change the file.
TEST_F(DbToolTest, CountExplainsItsIndexRange) {
  Build(60);
  std::string Out;
  ASSERT_EQ(RunTool(Tool + " count " + FileName +
                        " Members --filter 'Num >= 10 and Num <= 20' --explain --password s3cret",
                    Out),
            0)
      << Out;
  // 10..20 without 12, 15 and 18: only the range's records are read (to test Num <= 20, which
  // null keys would also meet in the index).
  EXPECT_EQ(Out,
            "8\nplan: index Main\n  start: Num >= 10\n  end:   Num <= 20\n"
            "visited: 8 index entries, 8 records\n");
  ASSERT_EQ(RunTool(Tool + " count " + FileName +
                        " Members --filter \"Name = 'Member 7'\" --explain --password s3cret",
                    Out),
            0)
      << Out;
  EXPECT_EQ(Out, "1\nplan: full scan in physical order\nvisited: 0 index entries, 40 records\n");
}

TEST_F(DbToolTest, ReadingCommandsWorkBesideAnotherUserAndChangeNothing) {
  Build(60);
  TVLTDatabase& Live = NewDatabase("Live");
  Live.FMultiUser = true;
  Live.Open();
  auto T = OpenTable("Live", false);
  T->First();
  T->Edit();  // holds the record and an intent lock on the table
  T->FieldByName("Name").SetAsString("Renamed");
  const std::string Bytes = FileBytes();

  std::string Out;
  ASSERT_EQ(RunTool(Tool + " tables " + FileName + " --password s3cret", Out), 0) << Out;
  EXPECT_NE(Out.find("Table Members\n  id "), std::string::npos) << Out;
  EXPECT_NE(Out.find(", 40 records, "), std::string::npos) << Out;
  EXPECT_NE(Out.find("fields (3):"), std::string::npos) << Out;
  EXPECT_NE(Out.find("primary unique (Num"), std::string::npos) << Out;
  EXPECT_NE(Out.find("constraints (2):"), std::string::npos) << Out;

  ASSERT_EQ(RunTool(Tool + " dump " + FileName + " Members --index Main --password s3cret", Out), 0)
      << Out;
  std::vector<std::string> Lines;
  std::istringstream In(Out);
  for (std::string L; std::getline(In, L);) Lines.push_back(L);
  ASSERT_EQ(Lines.size(), 41u) << Out;
  EXPECT_EQ(Lines[0], "Num,Name,Notes");
  EXPECT_EQ(Lines[1], "1,Member 1,");  // the edit is not posted yet
  EXPECT_EQ(Lines[4], "5,Member 5," + std::string(150, 'n'));
  EXPECT_EQ(Lines[40], "59,Member 59,");

  ASSERT_EQ(RunTool(Tool + " check " + FileName + " --password s3cret", Out), 0) << Out;
  EXPECT_NE(Out.find("tables: consistent"), std::string::npos) << Out;
  EXPECT_TRUE(FileBytes() == Bytes) << "a reading command changed the file";

  T->Post();  // the other user was not disturbed
  T.reset();
  Live.Close();
  ASSERT_EQ(RunTool(Tool + " dump " + FileName + " Members --index Main --password s3cret", Out), 0)
      << Out;
  EXPECT_NE(Out.find("\n1,Renamed,\n"), std::string::npos) << Out;
}

// Memo values are dumped as their text (in UTF-8), binary BLOBs as hex digits, empty ones as
// empty cells; the file still checks clean.
TEST_F(DbToolTest, DumpWritesBlobValues) {
  TVLTDatabase& Db = NewOpenDatabase();
  {
    TVLTTable T;
    T.SetDatabaseName("Pay");
    T.SetTableName("Docs");
    T.AddField(std::make_unique<TVLTIntegerField>("Num"));
    T.AddField(std::make_unique<TVLTMemoField>("Text"));
    T.AddField(std::make_unique<TVLTBlobField>("Data"));
    T.CreateTable();
    T.Open();
    T.AppendRecord({Int(1)});
    T.Append();
    T.FieldByName("Num").SetAsInteger(2);
    T.FieldByName("Text").SetAsString(std::string("caf\xE9 ") + std::string(5000, 'x'));
    T.FieldByName("Data").SetAsString(std::string("\x01\xFF", 2));
    T.Post();
  }
  Db.Close();
  std::string Out;
  ASSERT_EQ(RunTool(Tool + " dump " + FileName + " Docs --password s3cret", Out), 0) << Out;
  EXPECT_EQ(Out, "Num,Text,Data\n1,,\n2,caf\xC3\xA9 " + std::string(5000, 'x') + ",01FF\n");
  ASSERT_EQ(RunTool(Tool + " check " + FileName + " --password s3cret", Out), 0) << Out;
}

TEST_F(DbToolTest, DamagedRecordPageStopsTheDumpButNotTheTableListOrTheCheck) {
  Build(300);
  DamageLastRecordPage();
  std::string Out;
  EXPECT_EQ(RunTool(Tool + " dump " + FileName + " Members --password s3cret", Out), 1) << Out;
  EXPECT_NE(Out.find("vltdb: reading Members stopped after "), std::string::npos) << Out;
  EXPECT_EQ(Out.rfind("Num,Name,Notes\n1,Member 1,\n", 0), 0u) << Out;
  // Definitions and counts do not need the records.
  EXPECT_EQ(RunTool(Tool + " tables " + FileName + " --password s3cret", Out), 0) << Out;
  EXPECT_NE(Out.find(", 200 records, "), std::string::npos) << Out;
  EXPECT_EQ(RunTool(Tool + " check " + FileName + " --password s3cret", Out), 1) << Out;
  EXPECT_NE(Out.find("checksum does not match its data"), std::string::npos) << Out;
  EXPECT_NE(Out.find("table Members"), std::string::npos) << Out;
  EXPECT_EQ(Out.find("cannot be opened"), std::string::npos) << Out;
  EXPECT_NE(Out.find("tables: NOT CONSISTENT"), std::string::npos) << Out;
}

TEST_F(DbToolTest, ReadingCommandsRefuseWhatIsNotThere) {
  Build(10);
  struct TCase {
    std::string Args;
    int Exit;
    std::string Says;
  } const Cases[] = {
      {" dump " + FileName + " Nobody --password s3cret", 1, "Nobody"},
      {" dump " + FileName + " Members --index Nothing --password s3cret", 1,
       "vltdb: table Members has no index Nothing"},
      {" tables " + FileName + " --password wrong", 1, "Native error: 30445"},
      {" dump " + FileName + " --password s3cret", 2, "usage"},
  };
  for (const auto& C : Cases) {
    std::string Out;
    EXPECT_EQ(RunTool(Tool + C.Args, Out), C.Exit) << C.Args << "\n" << Out;
    EXPECT_NE(Out.find(C.Says), std::string::npos) << C.Args << "\n" << Out;
  }
}

// A repair that cannot write its new file says so and fails; the file stays as it was.
TEST_F(DbToolTest, RepairThatCannotWriteItsNewFileFails) {
  Build(300);
  DamageLastRecordPage();  // a sound file has nothing to rebuild
  const std::string Bytes = FileBytes();
  std::filesystem::create_directory(FileName + ".tmp");  // where the new file would go
  std::string Out;
  EXPECT_EQ(RunTool(Tool + " repair " + FileName + " --password s3cret", Out), 1) << Out;
  EXPECT_NE(Out.find("was not repaired: Create database error: '"), std::string::npos) << Out;
  EXPECT_EQ(Out.find("Repaired"), std::string::npos) << Out;
  EXPECT_TRUE(FileBytes() == Bytes);
  std::filesystem::remove(FileName + ".tmp");
  EXPECT_EQ(RunTool(Tool + " repair " + FileName + " --password s3cret", Out), 0) << Out;
  const size_t Kept = Rows("s3cret").size();
  EXPECT_TRUE(Kept > 150 && Kept < 200) << Kept;  // the damaged page's records are gone
  ExpectSoundDatabaseFile(FileName, {"s3cret", craRijndael_256});
}

}  // namespace
}  // namespace vlt::test
