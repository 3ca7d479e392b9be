// Multi-user locking of edit, post and delete: the table data of the in-memory test tables take
// their table and record locks through the lock manager of a real database file, so another
// process (a forked child with its own open file) can hold them.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>

#include "engine/components/VLTTableLockAccess.h"
#include "engine/disk/VLTDiskPageManager.h"
#include "engine/disk/VLTTableLockManager.h"
#include "engine/disk/VLTTableLocks.h"
#include "tests/components/VLTCursorTestUtil.h"

namespace vlt::test {
namespace {

constexpr int32_t kSessions = 4;

class TLockedTableData : public TTestTableData, public TVLTTableLockAccess {
 public:
  TLockedTableData(TVLTDatabaseData* DB, std::string Name, TLog* Log, TVLTTableLockAccess* Locks)
      : TTestTableData(DB, std::move(Name), Log), FLocks(Locks) {}
  bool LockTable(TVLTSessionID S, TVLTLockType T, int32_t Tries, int32_t Delay, bool Allow) override {
    return FLocks->LockTable(S, T, Tries, Delay, Allow);
  }
  bool UnlockTable(TVLTSessionID S, TVLTLockType T, bool Ignore) override {
    return FLocks->UnlockTable(S, T, Ignore);
  }
  bool LockRecord(TVLTSessionID S, const TVLTPageItemID& R, int32_t Tries, int32_t Delay) override {
    return FLocks->LockRecord(S, R, Tries, Delay);
  }
  bool UnlockRecord(TVLTSessionID S, const TVLTPageItemID& R) override {
    return FLocks->UnlockRecord(S, R);
  }
  bool IsRecordLocked(TVLTSessionID S, const TVLTPageItemID& R) override {
    return FLocks->IsRecordLocked(S, R);
  }

 private:
  TVLTTableLockAccess* FLocks;
};

class TLockedDatabaseData : public TTestDatabaseData {
 public:
  TLockedDatabaseData(TLog* Log, TVLTTableLockAccess* Locks) : TTestDatabaseData(Log), FLocks(Locks) {}
  std::unique_ptr<TVLTTableData> CreateTableData(TVLTTableCursor& Cursor) override {
    return std::make_unique<TLockedTableData>(this, Cursor.FTableName, nullptr, FLocks);
  }

 private:
  TVLTTableLockAccess* FLocks;
};

std::unique_ptr<TVLTDiskPageManager> OpenShared(const std::string& Path) {
  auto M = std::make_unique<TVLTDiskPageManager>();
  M->SetLockRetry(3, 1);
  bool ReadOnly = false, Repair = false, MultiUser = true;
  M->OpenDatabase(Path, {}, ReadOnly, Repair, false, MultiUser);
  return M;
}

class CursorLockTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char Tmpl[] = "/tmp/vlt_curlock_XXXXXX";
    ASSERT_NE(mkdtemp(Tmpl), nullptr);
    Dir = Tmpl;
    Path = Dir + "/locks.vlt";
    {
      auto C = std::make_unique<TVLTDiskPageManager>();
      C->SetLockRetry(3, 1);
      C->CreateAndOpenDatabase(Path, {}, 512, 8);
      TVLTTableLocksFile F(C.get());
      LocksPage = F.CreateFile(kSessions);
      C->ApplyChanges(kSystemSessionID);
      C->CloseDatabase();
    }
    M = OpenShared(Path);
    File = std::make_unique<TVLTTableLocksFile>(M.get());
    File->OpenFile(LocksPage);
    LM = std::make_unique<TVLTDatabaseTableLockManager>(kSessions, M.get());
    LM->SetUnlockRetry(3, 1);
    Locks = std::make_unique<TVLTLockManagerTableLocks>(LM.get(), File.get());
    Env = std::make_unique<TCursorEnv>(std::make_unique<TLockedDatabaseData>(nullptr, Locks.get()),
                                       /*MultiUser=*/true);
    Env->CreateTable();
    Cur = std::make_unique<TOpenCursor>(*Env);
    Cur->Post(1);
    Cur->Post(2);
    ASSERT_TRUE(Cur->GoToValue(1));
    Held = Cur->C->GetCurrentRecordID();
  }
  void TearDown() override {
    Cur.reset();
    Env.reset();
    EXPECT_FALSE(LM->HasLocks());
    Locks.reset();
    LM.reset();
    File.reset();
    M.reset();
    std::filesystem::remove_all(Dir);
  }

  // A child process opens the file on its own and takes a lock as session 1 until told to end.
  enum TChildLock { clTable, clRecord };
  void RunWithChildLock(TChildLock What, TVLTLockType Type, const std::function<void()>& Body) {
    int Ready[2], Done[2];
    ASSERT_EQ(pipe(Ready), 0);
    ASSERT_EQ(pipe(Done), 0);
    const pid_t Pid = fork();
    ASSERT_GE(Pid, 0);
    if (Pid == 0) {
      char Ok = 'n';
      try {
        auto O = OpenShared(Path);
        TVLTTableLocksFile F(O.get());
        F.OpenFile(LocksPage);
        TVLTDatabaseTableLockManager X(kSessions, O.get());
        X.SetUnlockRetry(3, 1);
        const bool Got = What == clTable ? X.LockTable(1, Type, F, 3, 2)
                                         : X.LockRecord(1, F, Held, 3, 2);
        Ok = Got ? 'y' : 'n';
        (void)!write(Ready[1], &Ok, 1);
        char C;
        (void)!read(Done[0], &C, 1);
        if (What == clTable)
          X.UnlockTable(1, Type, F);
        else
          X.UnlockRecord(1, F, Held);
      } catch (...) {
        (void)!write(Ready[1], &Ok, 1);
      }
      _exit(0);
    }
    char Ok = 0;
    ASSERT_EQ(read(Ready[0], &Ok, 1), 1);
    EXPECT_EQ(Ok, 'y') << "the child did not get its lock";
    Body();
    (void)!write(Done[1], "x", 1);
    int Status = 0;
    waitpid(Pid, &Status, 0);
    for (int Fd : {Ready[0], Ready[1], Done[0], Done[1]}) close(Fd);
  }
  size_t LocksHeld() const { return static_cast<size_t>(LM->SessionLocks(0).Count()); }

  std::string Dir, Path;
  TVLTPageNo LocksPage = kNoPage;
  std::unique_ptr<TVLTDiskPageManager> M;
  std::unique_ptr<TVLTTableLocksFile> File;
  std::unique_ptr<TVLTDatabaseTableLockManager> LM;
  std::unique_ptr<TVLTLockManagerTableLocks> Locks;
  std::unique_ptr<TCursorEnv> Env;
  std::unique_ptr<TOpenCursor> Cur;
  TVLTPageItemID Held;
};

TEST_F(CursorLockTest, EditHoldsItsLocksUntilPost) {
  ASSERT_EQ(Cur->BeginEdit(), 0);
  EXPECT_EQ(LocksHeld(), 2u);  // ltSIRW and the record
  EXPECT_TRUE(Cur->C->IsRecordLocked() == false);  // our own lock is not "locked"
  ASSERT_EQ(Cur->PostEdit(5), 0);
  EXPECT_EQ(LocksHeld(), 0u);
  ASSERT_TRUE(Cur->GoToValue(5));
  ASSERT_EQ(Cur->BeginEdit(), 0);
  Cur->C->InternalCancel(false);
  EXPECT_EQ(LocksHeld(), 0u);
}

TEST_F(CursorLockTest, TableLockedByAnotherProcess) {
  RunWithChildLock(clTable, ltX, [&] {
    EXPECT_EQ(Cur->BeginEdit(), kCursorTableLocked);
    EXPECT_EQ(Cur->Delete(), kCursorTableLocked);
    EXPECT_EQ(Cur->Post(3), kCursorTableLocked);
    EXPECT_EQ(LocksHeld(), 0u);
  });
  // Once the other process is gone everything works again.
  ASSERT_TRUE(Cur->GoToValue(1));
  EXPECT_EQ(Cur->Delete(), 0);
  EXPECT_EQ(Cur->Walk(), std::vector<int32_t>{2});
}

TEST_F(CursorLockTest, PostWaitsForAReadLockOfAnotherProcess) {
  RunWithChildLock(clTable, ltS, [&] {
    EXPECT_EQ(Cur->Post(3), kCursorTableLocked);
    EXPECT_EQ(Cur->Walk(), (std::vector<int32_t>{1, 2}));  // nothing was written
  });
}

TEST_F(CursorLockTest, RecordLockedByAnotherProcess) {
  RunWithChildLock(clRecord, ltU, [&] {
    ASSERT_TRUE(Cur->GoToValue(1));
    EXPECT_TRUE(Cur->C->IsRecordLocked());
    EXPECT_EQ(Cur->BeginEdit(), kCursorRecordLocked);
    EXPECT_EQ(LocksHeld(), 0u);  // the table lock went with the failure
    EXPECT_EQ(Cur->Delete(), kCursorRecordLocked);
    EXPECT_EQ(LocksHeld(), 0u);
    // Another record is free.
    ASSERT_TRUE(Cur->GoToValue(2));
    EXPECT_EQ(Cur->BeginEdit(), 0);
    EXPECT_EQ(Cur->PostEdit(4), 0);
  });
  EXPECT_EQ(Cur->Walk(), (std::vector<int32_t>{1, 4}));
}

TEST_F(CursorLockTest, LocksStayUntilTheTransactionEnds) {
  Env->Session.InTransaction = true;
  ASSERT_EQ(Cur->BeginEdit(), 0);
  ASSERT_EQ(Cur->PostEdit(8), 0);
  EXPECT_GT(LocksHeld(), 0u);  // ltXIRW stays for the commit
  Env->Session.InTransaction = false;
  LM->ClearTransactionLocks(0);
  Locks->UnlockTable(0, ltSIRW, true);
  while (LM->SessionLocks(0).Count() > 0) {
    const TVLTTableLockEntry E = LM->SessionLocks(0).Items(0);
    if (E.LockType == ltU) break;
    Locks->UnlockTable(0, E.LockType, true);
  }
  Locks->UnlockRecord(0, Held);
}

}  // namespace
}  // namespace vlt::test
