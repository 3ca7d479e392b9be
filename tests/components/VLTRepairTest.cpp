// Repair of damaged databases through the database component: a commit interrupted by the death
// of its process (the file keeps its repair flag), and pages damaged on disk. Opening asks about
// the repair only when not silent; the rebuilt file must pass vltdb check and keep every record
// that could still be read; the repair log tells what was lost.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <numeric>

#include "engine/base/VLTExcept.h"
#include "engine/components/VLTDiskDatabaseEntry.h"
#include "engine/components/VLTLocalCursor.h"
#include "engine/components/VLTLocalSession.h"
#include "engine/components/VLTTable.h"
#include "engine/core/VLTPageHeader.h"
#include "engine/disk/VLTDiskFileFormat.h"
#include "engine/disk/VLTDiskPageManager.h"
#include "engine/disk/VLTDiskRecordManager.h"
#include "engine/disk/VLTDiskTableData.h"
#include "tests/components/VLTComponentTestUtil.h"
#include "tests/disk/VLTFileCheckTestUtil.h"

namespace vlt::test {
namespace {

class RepairTest : public TComponentTest {
 protected:
  void SetUp() override {
    TComponentTest::SetUp();
    Tool = VltdbPath();
  }
  // Whatever a test did, the file it ends with and the files its repairs wrote are sound; a test
  // that keeps a file needing repair on purpose says so.
  void TearDown() override {
    TVLTDatabase::FreeSpaceProbe = SavedProbe;
    Databases.clear();
    if (FileExists(FileName)) RepairedFiles.push_back(FileName);
    for (const std::string& F : RepairedFiles)
      ExpectSoundDatabaseFile(F, kPassword, !(F == FileName && LeftNeedingRepair));
    TComponentTest::TearDown();
  }

  static std::unique_ptr<TVLTTable> OpenTable(const std::string& DbName, bool Create) {
    auto T = std::make_unique<TVLTTable>();
    T->SetDatabaseName(DbName);
    T->SetTableName("Members");
    T->AddField(std::make_unique<TVLTIntegerField>("Num")).FRequired = true;
    T->AddField(std::make_unique<TVLTStringField>("Name", 30));
    T->AddField(std::make_unique<TVLTStringField>("Notes", 400));
    T->IndexDefs.push_back({"Main", "Num", "", "", ixPrimary | ixUnique});
    if (Create) T->CreateTable();
    T->Open();
    return T;
  }
  static void Append(TVLTTable& T, int32_t Num) {
    T.Append();
    T.FieldByName("Num").SetAsInteger(Num);
    T.FieldByName("Name").SetAsString("Member " + std::to_string(Num));
    T.FieldByName("Notes").SetAsString(std::string(300, static_cast<char>('a' + Num % 26)));
    T.Post();
  }

  // Members 1..Count (about 25 to a page of 8192 bytes).
  void Build(int32_t Count) {
    TVLTDatabase& Db = NewDatabase("Build");
    Db.CreateDatabase();
    Db.Open();
    auto T = OpenTable("Build", true);
    for (int32_t I = 1; I <= Count; ++I) Append(*T, I);
    T.reset();
    Db.Close();
  }

  // The numbers of the members in physical order, each with the page that holds it, read
  // through a silent component on File.
  std::vector<std::pair<int32_t, TVLTPageNo>> Members(const std::string& File = {}) {
    TVLTDatabase& Db = NewDatabase("Read" + std::to_string(Databases.size()));
    if (!File.empty()) Db.SetDatabaseFileName(File);
    Db.Open();
    std::vector<std::pair<int32_t, TVLTPageNo>> Out;
    {
      auto T = OpenTable(Db.DatabaseName(), false);
      for (T->First(); !T->Eof(); T->Next()) {
        const int32_t N = T->FieldByName("Num").AsInteger();
        EXPECT_EQ(T->FieldByName("Name").AsString(), "Member " + std::to_string(N));
        EXPECT_EQ(T->FieldByName("Notes").AsString().size(), 300u);
        Out.emplace_back(N, T->Handle()->GetCurrentRecordID().PageNo);
      }
    }
    Db.Close();
    return Out;
  }
  std::vector<int32_t> Nums(const std::string& File = {}) {
    std::vector<int32_t> Out;
    for (const auto& M : Members(File)) Out.push_back(M.first);
    std::sort(Out.begin(), Out.end());
    return Out;
  }
  static std::vector<int32_t> Range(int32_t From, int32_t To) {
    std::vector<int32_t> Out(static_cast<size_t>(To - From + 1));
    std::iota(Out.begin(), Out.end(), From);
    return Out;
  }

  static TVLTDiskPageManager& PageManager(TVLTDatabase& Db) {
    return *Db.Handle()->DiskLink()->Disk().PageManager();
  }

  // In a child process: opens the file, appends member Num and dies inside the commit: right
  // before the header write that would mark it complete (its pages are all written by then), or,
  // with PagesWritten >= 0, right before the commit's page write after that many. Unless
  // KeepJournal, the commit's rollback journal goes too, so that the file is what a writer
  // without a journal would have left: the case repair is for.
  void KillDuringCommit(int32_t Num, int32_t PagesWritten = -1, bool KeepJournal = false) {
    const pid_t Pid = fork();
    ASSERT_GE(Pid, 0);
    if (Pid == 0) {
      alarm(10);  // never outlive a broken test
      try {
        TVLTDatabase& Db = NewDatabase("Child");
        Db.Open();
        auto T = OpenTable("Child", false);
        TVLTDiskPageManager& M = PageManager(Db);
        bool InProgress = false;
        int32_t Pages = 0;
        M.SetWriteHook([&M, &InProgress, &Pages, PagesWritten](TVLTDiskWrite W, TVLTPageNo) {
          if (W == TVLTDiskWrite::Page && InProgress && PagesWritten >= 0 && Pages++ == PagesWritten)
            raise(SIGKILL);
          if (W != TVLTDiskWrite::DBHeader) return;
          if (M.DBHeader().WriteChangesState != kWriteChangesComplete)
            InProgress = true;
          else if (InProgress)
            raise(SIGKILL);
        });
        Append(*T, Num);
      } catch (...) {
      }
      _exit(3);  // only reached when the commit was not interrupted
    }
    int Status = 0;
    ASSERT_EQ(waitpid(Pid, &Status, 0), Pid);
    ASSERT_TRUE(WIFSIGNALED(Status) && WTERMSIG(Status) == SIGKILL) << "child status " << Status;
    if (!KeepJournal) TVLTRollbackJournal::Remove(FileName);
  }

  // A second table, Others, with members 1..Count.
  void BuildOthers(int32_t Count) {
    TVLTDatabase& Db = NewDatabase("Others" + std::to_string(Databases.size()));
    Db.Open();
    auto T = std::make_unique<TVLTTable>();
    T->SetDatabaseName(Db.DatabaseName());
    T->SetTableName("Others");
    T->AddField(std::make_unique<TVLTIntegerField>("Num"));
    T->CreateTable();
    T->Open();
    for (int32_t I = 1; I <= Count; ++I) {
      T->Append();
      T->FieldByName("Num").SetAsInteger(I);
      T->Post();
    }
    T.reset();
    Db.Close();
  }
  // The first page of a table's metadata file.
  TVLTPageNo MetadataPage(const std::string& Table) {
    TVLTDatabase& Db = NewDatabase("Meta" + std::to_string(Databases.size()));
    Db.Open();
    int32_t ID = 0;
    TVLTPageNo Meta = kNoPage, MostUpdated = kNoPage, Locks = kNoPage;
    Db.Handle()->DiskLink()->Disk().OpenTable(Table, ID, Meta, MostUpdated, Locks);
    Db.Close();
    return Meta;
  }

  // The pages of the given type, in page order, and where the file's pages start.
  std::vector<TVLTPageNo> PagesOfType(uint16_t Type) {
    TVLTDatabase& Db = NewDatabase("Pages" + std::to_string(Databases.size()));
    Db.Open();
    TVLTDiskPageManager& M = PageManager(Db);
    FirstPageOffset = M.OffsetToFirstPage();
    PageSize = M.PageSize();
    const int32_t Count = M.DBHeader().TotalPageCount;
    Db.Close();
    std::vector<TVLTPageNo> Out;
    const std::string Bytes = FileBytes();
    for (int32_t No = 0; No < Count; ++No) {
      const size_t At = static_cast<size_t>(FirstPageOffset + int64_t{No} * PageSize);
      if (At + sizeof(TVLTDiskPageHeader) > Bytes.size()) break;
      TVLTDiskPageHeader H;
      std::memcpy(&H, Bytes.data() + At, sizeof H);
      if (std::memcmp(H.Signature, kPageSignature, 4) == 0 && H.PageType == Type &&
          H.State != kPageStateFreed)
        Out.push_back(No);
    }
    return Out;
  }
  // Overwrites part of a page's (encrypted) data, so that its checksum no longer matches.
  void DamagePage(TVLTPageNo No) {
    std::fstream F(FileName, std::ios::in | std::ios::out | std::ios::binary);
    F.seekp(FirstPageOffset + int64_t{No} * PageSize + kPageHeaderSize + 16);
    const std::string Garbage(64, '\x5A');
    F.write(Garbage.data(), static_cast<std::streamsize>(Garbage.size()));
    ASSERT_TRUE(F.good());
  }
  std::string FileBytes(const std::string& Name = {}) const {
    std::ifstream F(Name.empty() ? FileName : Name, std::ios::binary);
    return {std::istreambuf_iterator<char>(F), std::istreambuf_iterator<char>()};
  }
  // vltdb check on the file; -2 when the tool was not built.
  int Check(std::string& Out, const std::string& File = {}) {
    if (Tool.empty()) return -2;
    return RunTool(Tool + " check " + (File.empty() ? FileName : File) + " --password s3cret", Out);
  }

  // Changes what the file stores for Members: Stale (when given) is listed in its record page
  // index with 3 records, and the stored record count grows by CountDelta. A commit cut off
  // after it wrote the index and the count, but before its new record page, leaves this.
  void DamageRecordPageIndex(TVLTPageNo Stale, int64_t CountDelta) {
    TVLTDatabase& Db = NewDatabase("Index" + std::to_string(Databases.size()));
    Db.Open();
    {
      auto T = OpenTable(Db.DatabaseName(), false);
      auto* Cursor = dynamic_cast<TVLTLocalCursor*>(T->Handle());
      ASSERT_NE(Cursor, nullptr);
      auto* Data = dynamic_cast<TVLTDiskTableData*>(Cursor->TableData());
      ASSERT_NE(Data, nullptr);
      const TVLTSessionID S = Cursor->SessionID();
      TVLTDiskRecordManager& RM = *Data->DiskRecordManager();
      if (Stale != kNoPage) RM.RecordPageIndex().AddRecord(S, Stale, 3);
      RM.FRecordCount += CountDelta;
      Data->SaveMostUpdated(S);
      Data->ApplyChanges(S, false);
    }
    Db.Close();
  }

  static inline const TVLTPassword kPassword{"s3cret", craRijndael_256};
  std::string Tool;
  std::vector<std::string> RepairedFiles;  // besides FileName, checked at the end
  bool LeftNeedingRepair = false;          // FileName keeps an interrupted commit on purpose
  int64_t FirstPageOffset = 0;
  int32_t PageSize = 0;
  std::function<uint64_t(const std::string&)> SavedProbe = TVLTDatabase::FreeSpaceProbe;
};

TEST_F(RepairTest, InterruptedCommitLeavesTheRepairFlagAndCheckReportsIt) {
  Build(30);
  KillDuringCommit(31);
  std::string Out;
  if (!Tool.empty()) {
    EXPECT_EQ(Check(Out), 1) << Out;
    EXPECT_NE(Out.find("needs repair"), std::string::npos) << Out;
    // The reading commands read such a file as it is and change nothing.
    const std::string Bytes = FileBytes();
    EXPECT_EQ(RunTool(Tool + " tables " + FileName + " --password s3cret", Out), 0) << Out;
    EXPECT_NE(Out.find(", 31 records, "), std::string::npos) << Out;
    EXPECT_EQ(RunTool(Tool + " dump " + FileName + " Members --index Main --password s3cret", Out), 0)
        << Out;
    EXPECT_NE(Out.find("\n31,Member 31,"), std::string::npos) << Out;
    EXPECT_TRUE(FileBytes() == Bytes);
  }
  // Silent components never ask and open the file as it is.
  int Asked = 0;
  TVLTDatabase& Silent = NewDatabase("Silent");
  Silent.OnNeedRepair = [&](TVLTDatabase&, bool& DoRepair) {
    ++Asked;
    DoRepair = true;
  };
  Silent.Open();
  EXPECT_TRUE(Silent.Handle()->RepairNeeded);
  Silent.Close();
  // Neither does one told never to ask.
  Silent.FSilentMode = false;
  Silent.FNoRequestAutoRepair = true;
  Silent.Open();
  EXPECT_TRUE(Silent.Handle()->RepairNeeded);
  Silent.Close();
  EXPECT_EQ(Asked, 0);

  // Asked and answered No: the file stays as it is.
  TVLTDatabase& No = NewDatabase("No");
  No.FSilentMode = false;
  No.OnNeedRepair = [&](TVLTDatabase&, bool& DoRepair) {
    ++Asked;
    DoRepair = false;
  };
  No.Open();
  EXPECT_EQ(Asked, 1);
  EXPECT_TRUE(No.Handle()->RepairNeeded);
  No.Close();
  // The committed pages were all written before the process died: nothing is missing.
  EXPECT_EQ(Nums(), Range(1, 31));
  LeftNeedingRepair = true;
}

TEST_F(RepairTest, RepairOnOpenReplacesTheFileWithASoundOne) {
  Build(40);
  KillDuringCommit(41);
  TVLTDatabase& Db = NewDatabase("Yes");
  Db.FSilentMode = false;
  int Asked = 0;
  Db.OnNeedRepair = [&](TVLTDatabase&, bool& DoRepair) {
    ++Asked;
    DoRepair = true;
  };
  int Before = 0, After = 0;
  Db.BeforeRepair = [&](TVLTDatabase&) { ++Before; };
  Db.AfterRepair = [&](TVLTDatabase&) { ++After; };
  Db.Open();
  EXPECT_EQ(Asked, 1);
  EXPECT_EQ(Before, 1);
  EXPECT_EQ(After, 1);
  ASSERT_TRUE(Db.Connected());
  EXPECT_FALSE(Db.Handle()->RepairNeeded);
  EXPECT_FALSE(Db.FNoRequestAutoRepair);  // restored after the repair
  Db.Close();
  EXPECT_FALSE(FileExists(FileName + ".tmp"));
  EXPECT_EQ(Nums(), Range(1, 41));
  std::string Out;
  if (!Tool.empty()) {
    EXPECT_EQ(Check(Out), 0) << Out;
    EXPECT_NE(Out.find("tables: consistent"), std::string::npos) << Out;
  }
  // Reopening asks nothing more.
  Db.Open();
  EXPECT_EQ(Asked, 1);
}

// A file whose header carries an old format version is converted on open without asking, and
// the converted file has the current version and every record.
TEST_F(RepairTest, OldFormatFileIsConvertedWithoutAsking) {
  Build(30);
  {
    std::fstream F(FileName, std::ios::in | std::ios::out | std::ios::binary);
    char Sig[16];
    F.read(Sig, sizeof Sig);
    ASSERT_EQ(std::string(Sig, sizeof Sig), "VAULTR1XDATABASE");
    const double Old = 2.5;
    F.seekp(18);
    F.write(reinterpret_cast<const char*>(&Old), sizeof Old);
  }
  TVLTDatabase& Db = NewDatabase("Old");
  Db.FSilentMode = false;
  int Asked = 0, After = 0;
  Db.OnNeedRepair = [&](TVLTDatabase&, bool& DoRepair) {
    ++Asked;
    DoRepair = false;
  };
  Db.AfterRepair = [&](TVLTDatabase&) { ++After; };
  Db.Open();
  EXPECT_EQ(Asked, 0);
  EXPECT_EQ(After, 1);
  ASSERT_TRUE(Db.Connected());
  EXPECT_FALSE(Db.Handle()->RepairNeeded);
  EXPECT_DOUBLE_EQ(PageManager(Db).DBHeader().Version, 7.91);
  Db.Close();
  EXPECT_EQ(Nums(), Range(1, 30));
}

TEST_F(RepairTest, FailedRepairOnOpenRaises20238AndKeepsTheFile) {
  Build(10);
  KillDuringCommit(11);
  const std::string Bytes = FileBytes();
  TVLTDatabase::FreeSpaceProbe = [](const std::string&) { return uint64_t{10}; };
  TVLTDatabase& Db = NewDatabase("Yes");
  Db.FSilentMode = false;
  Db.OnNeedRepair = [](TVLTDatabase&, bool& DoRepair) { DoRepair = true; };
  try {
    Db.Open();
    FAIL() << "the repair cannot succeed without free space";
  } catch (const EVLTException& E) {
    EXPECT_EQ(E.NativeError(), 20238);
    EXPECT_EQ(E.Message().rfind("Cannot convert database to the new format. Please contact ", 0), 0u)
        << E.Message();
  }
  EXPECT_FALSE(Db.Connected());
  EXPECT_FALSE(Db.FNoRequestAutoRepair);
  EXPECT_FALSE(FileExists(FileName + ".tmp"));
  EXPECT_TRUE(FileBytes() == Bytes) << "the file must stay as it was";
  TVLTDatabase::FreeSpaceProbe = SavedProbe;
  EXPECT_EQ(Nums(), Range(1, 11));
  LeftNeedingRepair = true;
}

TEST_F(RepairTest, DamagedRecordPageIsReportedAndRepairKeepsEveryOtherRecord) {
  Build(120);
  const auto Before = Members();
  const std::vector<TVLTPageNo> RecordPages = PagesOfType(ptTableRecord);
  ASSERT_GE(RecordPages.size(), 3u);
  const TVLTPageNo Damaged = RecordPages.back();  // the last page in physical order
  std::vector<int32_t> Survivors;
  for (const auto& [Num, Page] : Before)
    if (Page != Damaged) Survivors.push_back(Num);
  std::sort(Survivors.begin(), Survivors.end());
  ASSERT_LT(Survivors.size(), Before.size());
  ASSERT_FALSE(Survivors.empty());
  DamagePage(Damaged);

  std::string Out;
  if (!Tool.empty()) {
    EXPECT_EQ(Check(Out), 1) << Out;
    EXPECT_NE(Out.find("page " + std::to_string(Damaged) + ": checksum does not match"),
              std::string::npos)
        << Out;
    EXPECT_NE(Out.find("NOT CONSISTENT"), std::string::npos) << Out;
  }

  // Into another file: the damaged file stays as it is.
  const std::string Damage = FileBytes();
  const std::string Copy = Dir + "/Copy.vlt";
  TVLTDatabase& Db = NewDatabase("Repair");
  std::vector<int32_t> Progress;
  Db.OnRepairProgress = [&](TVLTDatabase&, int32_t Percent, bool&) { Progress.push_back(Percent); };
  std::string Log;
  EXPECT_TRUE(Db.RepairDatabase(Copy, Log));
  EXPECT_NE(Log.find("corrupted and skipped"), std::string::npos) << Log;
  EXPECT_TRUE(FileBytes() == Damage);
  ASSERT_FALSE(Progress.empty());
  EXPECT_EQ(Progress.back(), 100);
  EXPECT_TRUE(std::is_sorted(Progress.begin(), Progress.end()));
  EXPECT_EQ(Nums(Copy), Survivors);
  RepairedFiles.push_back(Copy);
  if (!Tool.empty()) {
    EXPECT_EQ(Check(Out, Copy), 0) << Out;
  }

  // In place: the repaired file takes the damaged one's place.
  const std::string InPlaceLog = Db.RepairDatabase();
  EXPECT_EQ(InPlaceLog, Log);
  EXPECT_FALSE(FileExists(FileName + ".tmp"));
  EXPECT_EQ(Nums(), Survivors);
  if (!Tool.empty()) {
    EXPECT_EQ(Check(Out), 0) << Out;
    EXPECT_NE(Out.find("tables: consistent"), std::string::npos) << Out;
  }
}

TEST_F(RepairTest, DamagedMostUpdatedDataIsRebuiltFromTheRecordPages) {
  Build(80);
  const std::vector<TVLTPageNo> Pages = PagesOfType(ptTableMostUpdated);
  ASSERT_EQ(Pages.size(), 1u);
  DamagePage(Pages[0]);
  std::string Out;
  if (!Tool.empty()) {
    EXPECT_EQ(Check(Out), 1) << Out;
  }
  TVLTDatabase& Db = NewDatabase("Repair");
  Db.RepairDatabase();
  EXPECT_FALSE(FileExists(FileName + ".tmp"));
  EXPECT_EQ(Nums(), Range(1, 80));
  if (!Tool.empty()) {
    EXPECT_EQ(Check(Out), 0) << Out;
  }
  // The rebuilt table takes new records after the old ones.
  Db.Open();
  {
    auto T = OpenTable("Repair", false);
    Append(*T, 81);
    EXPECT_EQ(T->RecordCount(), 81);
  }
  Db.Close();
}

TEST_F(RepairTest, ToolRepairsADamagedFileAndPrintsTheLog) {
  if (Tool.empty()) GTEST_SKIP() << "vltdb was not built";
  Build(120);
  const auto Before = Members();
  const TVLTPageNo Damaged = PagesOfType(ptTableRecord).back();
  std::vector<int32_t> Survivors;
  for (const auto& [Num, Page] : Before)
    if (Page != Damaged) Survivors.push_back(Num);
  std::sort(Survivors.begin(), Survivors.end());
  DamagePage(Damaged);
  std::string Out;
  ASSERT_EQ(RunTool(Tool + " repair " + FileName + " --password s3cret", Out), 0) << Out;
  // Every change on a line of its own: what the check found, then the records left out.
  EXPECT_NE(Out.find("what it changed:\n  mended: "), std::string::npos) << Out;
  EXPECT_NE(Out.find("\n  mended: page " + std::to_string(Damaged) + ": checksum"),
            std::string::npos)
      << Out;
  EXPECT_NE(Out.find("corrupted and skipped"), std::string::npos) << Out;
  EXPECT_EQ(Out.find("no problems found"), std::string::npos) << Out;
  EXPECT_FALSE(FileExists(FileName + ".tmp"));
  EXPECT_EQ(Check(Out), 0) << Out;
  EXPECT_EQ(Nums(), Survivors);

  // An interrupted commit: the tool repairs without asking, nothing is lost.
  KillDuringCommit(1000);
  ASSERT_EQ(RunTool(Tool + " repair " + FileName + " --password s3cret", Out), 0) << Out;
  EXPECT_NE(Out.find("mended: the last commit did not complete"), std::string::npos) << Out;
  EXPECT_EQ(Check(Out), 0) << Out;
  Survivors.push_back(1000);
  EXPECT_EQ(Nums(), Survivors);
}


TEST_F(RepairTest, DamagedIndexPagesAreRebuiltWithoutLosingRecords) {
  Build(120);
  const std::vector<TVLTPageNo> Pages = PagesOfType(ptTableIndex);
  ASSERT_GE(Pages.size(), 2u);  // the record page index and the primary key
  for (TVLTPageNo P : Pages) DamagePage(P);
  std::string Out;
  if (!Tool.empty()) {
    EXPECT_EQ(Check(Out), 1) << Out;
  }
  TVLTDatabase& Db = NewDatabase("Repair");
  EXPECT_EQ(Db.RepairDatabase(), "");
  EXPECT_EQ(Nums(), Range(1, 120));
  if (!Tool.empty()) {
    EXPECT_EQ(Check(Out), 0) << Out;
  }
  // The primary key works again.
  Db.Open();
  auto T = OpenTable("Repair", false);
  T->Append();
  T->FieldByName("Num").SetAsInteger(7);
  EXPECT_THROW(T->Post(), EVLTEngineError);
  T->Cancel();
}

TEST_F(RepairTest, UnreadableTableDefinitionLosesOnlyThatTable) {
  Build(30);
  BuildOthers(50);
  const TVLTPageNo Meta = MetadataPage("Members");
  ASSERT_NE(Meta, kNoPage);
  PagesOfType(ptTableMetaData);  // page geometry
  DamagePage(Meta);
  TVLTDatabase& Db = NewDatabase("Repair");
  const std::string Log = Db.RepairDatabase();
  EXPECT_EQ(Log.rfind("Problem occured while copying table 'Members': '", 0), 0u) << Log;
  EXPECT_EQ(std::count(Log.begin(), Log.end(), '\n'), 1) << Log;
  std::vector<std::string> Tables;
  Db.GetTablesList(Tables);
  EXPECT_EQ(Tables, std::vector<std::string>{"Others"});
  Db.Open();
  {
    TVLTTable T;
    T.SetDatabaseName("Repair");
    T.SetTableName("Others");
    T.Open();
    EXPECT_EQ(T.RecordCount(), 50);
    int32_t Expect = 1;
    for (T.First(); !T.Eof(); T.Next()) EXPECT_EQ(T.FieldByName("Num").AsInteger(), Expect++);
  }
  Db.Close();
  std::string Out;
  if (!Tool.empty()) {
    EXPECT_EQ(Check(Out), 0) << Out;
  }
}

// A damaged record page in the middle of a table: the records of the pages after it can still be
// read and must reach the repaired file.
TEST_F(RepairTest, DamagedRecordPageInTheMiddleLosesOnlyItsOwnRecords) {
  Build(120);
  const auto Before = Members();
  const std::vector<TVLTPageNo> RecordPages = PagesOfType(ptTableRecord);
  ASSERT_GE(RecordPages.size(), 3u);
  const TVLTPageNo Damaged = RecordPages[1];
  std::vector<int32_t> Survivors;
  for (const auto& [Num, Page] : Before)
    if (Page != Damaged) Survivors.push_back(Num);
  std::sort(Survivors.begin(), Survivors.end());
  DamagePage(Damaged);
  TVLTDatabase& Db = NewDatabase("Repair");
  const std::string Log = Db.RepairDatabase();
  EXPECT_NE(Log.find("corrupted and skipped"), std::string::npos) << Log;
  EXPECT_EQ(Nums(), Survivors);
}

// A stopped repair changes nothing: the database file stays, the new one is deleted.
TEST_F(RepairTest, RepairStoppedThroughTheProgressEventKeepsTheFile) {
  Build(20);
  BuildOthers(20);
  const std::string Bytes = FileBytes();
  TVLTDatabase& Db = NewDatabase("Repair");
  int Calls = 0, After = 0;
  Db.OnRepairProgress = [&](TVLTDatabase&, int32_t, bool& Continue) {
    ++Calls;
    Continue = false;
  };
  Db.AfterRepair = [&](TVLTDatabase&) { ++After; };
  EXPECT_NE(Db.RepairDatabase().find("Terminated by User."), std::string::npos);
  EXPECT_EQ(Calls, 1);
  EXPECT_EQ(After, 1);
  EXPECT_FALSE(Db.Connected());
  EXPECT_FALSE(FileExists(FileName + ".tmp"));
  EXPECT_TRUE(FileBytes() == Bytes);
}

// A damaged BLOB page costs only the values stored on it: their records are kept with the field
// empty, and the log names each of them.
TEST_F(RepairTest, DamagedBlobPageEmptiesOnlyItsValues) {
  {
    TVLTDatabase& Db = NewDatabase("Docs");
    Db.CreateDatabase();
    Db.Open();
    TVLTTable T;
    T.SetDatabaseName("Docs");
    T.SetTableName("Docs");
    T.AddField(std::make_unique<TVLTIntegerField>("Num"));
    T.AddField(std::make_unique<TVLTMemoField>("Text"));
    T.CreateTable();
    T.Open();
    for (int32_t I = 1; I <= 12; ++I) {
      T.Append();
      T.FieldByName("Num").SetAsInteger(I);
      T.FieldByName("Text").SetAsString(std::string(3000, static_cast<char>('a' + I)));
      T.Post();
    }
    T.Close();
    Db.Close();
  }
  const std::vector<TVLTPageNo> Blobs = PagesOfType(ptTableBlob);
  ASSERT_GE(Blobs.size(), 2u);
  DamagePage(Blobs[Blobs.size() / 2]);
  TVLTDatabase& Db = NewDatabase("Repair");
  const std::string Log = Db.RepairDatabase();
  EXPECT_NE(Log.find("field 'Text' was copied with Null value"), std::string::npos) << Log;
  Db.Open();
  TVLTTable T;
  T.SetDatabaseName("Repair");
  T.SetTableName("Docs");
  T.Open();
  EXPECT_EQ(T.RecordCount(), 12);
  int32_t Intact = 0, Emptied = 0;
  for (T.First(); !T.Eof(); T.Next()) {
    const std::string Text = T.FieldByName("Text").AsString();
    const int32_t Num = T.FieldByName("Num").AsInteger();
    if (Text.empty())
      ++Emptied;
    else if (Text == std::string(3000, static_cast<char>('a' + Num)))
      ++Intact;
  }
  EXPECT_GE(Emptied, 1);
  EXPECT_EQ(Intact + Emptied, 12);
  EXPECT_EQ(std::count(Log.begin(), Log.end(), '\n'), Emptied) << Log;
  T.Close();
  Db.Close();
  std::string Out;
  if (!Tool.empty()) {
    EXPECT_EQ(Check(Out), 0) << Out;
  }
}

// A commit cut off half-way through its page writes: the file holds some of its pages and not
// others. The repaired file is sound and holds every record committed before.
TEST_F(RepairTest, CommitCutOffBetweenItsPageWritesIsRepairedToASoundFile) {
  for (int32_t Written : {0, 1, 2}) {
    SCOPED_TRACE("pages written " + std::to_string(Written));
    Build(30);
    KillDuringCommit(31, Written);
    TVLTDatabase& Db = NewDatabase("Repair" + std::to_string(Written));
    Db.Open();
    EXPECT_TRUE(Db.Handle()->RepairNeeded);
    Db.Close();
    Db.RepairDatabase();
    EXPECT_FALSE(FileExists(FileName + ".tmp"));
    std::vector<int32_t> Got = Nums();
    if (!Got.empty() && Got.back() == 31) Got.pop_back();  // the cut-off record may be whole
    EXPECT_EQ(Got, Range(1, 30));
    std::string Out;
    if (!Tool.empty()) {
      EXPECT_EQ(Check(Out), 0) << Out;
    }
    Databases.clear();
    ExpectSoundDatabaseFile(FileName, kPassword);
    std::filesystem::remove(FileName);
  }
}

// The record page index lists a page of another type ahead of the table's record pages, with
// totals that agree. Compaction refuses to copy such a table (it would read the page as records
// and end the table there) and leaves the file as it was; repair rebuilds the index from the
// pages and keeps every record.
TEST_F(RepairTest, StalePageInTheRecordPageIndexFailsCompactionAndIsRepaired) {
  Build(120);
  const TVLTPageNo Stale = MetadataPage("Members");
  const std::vector<TVLTPageNo> RecordPages = PagesOfType(ptTableRecord);
  ASSERT_FALSE(RecordPages.empty());
  ASSERT_LT(Stale, RecordPages.front());
  DamageRecordPageIndex(Stale, 3);
  std::string Out;
  if (!Tool.empty()) {
    EXPECT_EQ(Check(Out), 1) << Out;
    EXPECT_NE(Out.find("lists page " + std::to_string(Stale)), std::string::npos) << Out;
  }

  const std::string Bytes = FileBytes();
  TVLTDatabase& Db = NewDatabase("Compact");
  try {
    Db.CompactDatabase();
    FAIL() << "compaction must not complete over the stale page";
  } catch (const EVLTException& E) {
    EXPECT_EQ(E.NativeError(), 20199);
    EXPECT_NE(E.Message().find("Invalid page type"), std::string::npos) << E.Message();
  }
  EXPECT_FALSE(Db.Connected());
  EXPECT_FALSE(FileExists(FileName + ".tmp"));
  EXPECT_TRUE(FileBytes() == Bytes) << "the file must stay as it was";

  EXPECT_EQ(Db.RepairDatabase(), "");  // nothing was lost
  EXPECT_FALSE(FileExists(FileName + ".tmp"));
  EXPECT_EQ(Nums(), Range(1, 120));
  if (!Tool.empty()) {
    EXPECT_EQ(Check(Out), 0) << Out;
    EXPECT_NE(Out.find("tables: consistent"), std::string::npos) << Out;
  }
}

// A stored record count above what the table's pages hold: the copy delivers fewer records than
// the table claims, which fails the compaction instead of completing it. Repair rebuilds the
// count from the pages.
TEST_F(RepairTest, CompactionThatCopiesFewerRecordsThanTheTableHoldsFails) {
  Build(60);
  DamageRecordPageIndex(kNoPage, 5);
  const std::string Bytes = FileBytes();
  TVLTDatabase& Db = NewDatabase("Compact");
  try {
    Db.CompactDatabase();
    FAIL() << "compaction must not complete with records missing";
  } catch (const EVLTException& E) {
    EXPECT_EQ(E.NativeError(), 20199);
    EXPECT_NE(E.Message().find("60 of 65 records copied"), std::string::npos) << E.Message();
  }
  EXPECT_FALSE(FileExists(FileName + ".tmp"));
  EXPECT_TRUE(FileBytes() == Bytes) << "the file must stay as it was";
  EXPECT_EQ(Db.RepairDatabase(), "");
  EXPECT_EQ(Nums(), Range(1, 60));
  Db.CompactDatabase();
  EXPECT_EQ(Nums(), Range(1, 60));
}

// Records that could not be copied are counted in the log: the table's records found on its
// pages against those that reached the new file; a table copied whole adds no line.
TEST_F(RepairTest, RepairLogCountsFoundAgainstCopiedRecords) {
  Build(120);
  BuildOthers(30);
  const auto Before = Members();
  const std::vector<TVLTPageNo> RecordPages = PagesOfType(ptTableRecord);
  ASSERT_GE(RecordPages.size(), 3u);
  const TVLTPageNo Damaged = RecordPages[1];
  const auto Lost = std::count_if(Before.begin(), Before.end(),
                                  [&](const auto& M) { return M.second == Damaged; });
  ASSERT_GT(Lost, 0);
  DamagePage(Damaged);
  TVLTDatabase& Db = NewDatabase("Repair");
  const std::string Log = Db.RepairDatabase();
  EXPECT_NE(Log.find("Table \"Members\": 120 records found on its record pages, " +
                     std::to_string(120 - Lost) + " copied.\n"),
            std::string::npos)
      << Log;
  EXPECT_EQ(Log.find("\"Others\""), std::string::npos) << Log;
  EXPECT_EQ(static_cast<int64_t>(Nums().size()), 120 - Lost);
  std::string Out;
  if (!Tool.empty()) {
    EXPECT_EQ(Check(Out), 0) << Out;
  }
}

}  // namespace
}  // namespace vlt::test
