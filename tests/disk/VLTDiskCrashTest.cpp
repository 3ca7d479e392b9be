// What survives when the process dies or the file system fails in the middle of a change.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>

#include "VLTDiskTestUtil.h"
#include "VLTFileCheckTestUtil.h"

namespace vlt {
namespace {

using test::kSys;

class Crash : public test::DiskTest {
 protected:
  // Whatever a test did to the file, its page map must agree with its bitmaps at the end
  // (a cut-off commit without its journal is the repair's business, not the map's).
  void TearDown() override {
    if (TVLTDatabaseFile::FileExists(Path)) test::ExpectSoundDatabaseFile(Path, {}, false);
    test::DiskTest::TearDown();
  }
  // Runs Body in a child process and answers how it ended.
  template <typename F>
  int RunChild(F Body) {
    pid_t Pid = fork();
    if (Pid == 0) {
      try {
        Body();
      } catch (...) {
        _exit(3);
      }
      _exit(0);
    }
    int Status = 0;
    waitpid(Pid, &Status, 0);
    return Status;
  }
  // Kills a child inside a commit that changed page 2, between the two header writes.
  void KillBetweenTheHeaderWrites() {
    {
      auto M = Create(512);
      M->PutPage(M->AddPage(kSys, ptTableRecord));
      M->ApplyChanges(kSys);
    }
    pid_t Pid = fork();
    if (Pid == 0) {
      auto M = Open();
      TVLTPage* P = M->GetPage(kSys, 2, ptTableRecord);
      P->PageData()[0] = 0xEE;
      P->SetIsDirty(true);
      M->PutPage(P);
      int HeaderWrites = 0;
      M->SetWriteHook([&](TVLTDiskWrite W, TVLTPageNo) {
        if (W == TVLTDiskWrite::DBHeader && ++HeaderWrites == 2) raise(SIGKILL);
      });
      M->ApplyChanges(kSys);
      _exit(0);
    }
    int Status = 0;
    waitpid(Pid, &Status, 0);
    ASSERT_TRUE(WIFSIGNALED(Status));
    EXPECT_EQ(WTERMSIG(Status), SIGKILL);
    EXPECT_EQ(+StoredHeader().WriteChangesState, 1);
  }
};

TEST_F(Crash, KilledBetweenTheTwoHeaderWritesOfACommitRollsBackFromTheJournal) {
  KillBetweenTheHeaderWrites();
  const std::string Journal = TVLTRollbackJournal::PathFor(Path);
  ASSERT_TRUE(TVLTDatabaseFile::FileExists(Journal));
  test::DiskTest::TOpenResult R;
  auto M = Open({}, &R);
  EXPECT_FALSE(R.RepairNeeded);
  EXPECT_EQ(M->RolledBackPages(), 1);
  EXPECT_EQ(+StoredHeader().WriteChangesState, 2);
  EXPECT_FALSE(TVLTDatabaseFile::FileExists(Journal));
  TVLTPage* P = M->GetPage(kSys, 2, ptTableRecord);
  EXPECT_EQ(P->PageData()[0], 0);  // the committed state, not the half-written one
  M->PutPage(P);
}

TEST_F(Crash, KilledBetweenTheTwoHeaderWritesOfACommitWithoutItsJournalAsksForRepair) {
  KillBetweenTheHeaderWrites();
  TVLTDatabaseFile::DeleteFile(TVLTRollbackJournal::PathFor(Path));
  test::DiskTest::TOpenResult R;
  auto M = Open({}, &R);
  EXPECT_TRUE(R.RepairNeeded);
  EXPECT_EQ(+StoredHeader().WriteChangesState, 1);
  TVLTPage* P = M->GetPage(kSys, 2, ptTableRecord);
  EXPECT_EQ(P->PageData()[0], 0xEE);  // the page itself was written
  M->PutPage(P);
}

TEST_F(Crash, ASharedWritersNextCommitPutsBackAnotherProcessesCutOffCommit) {
  {
    auto M = Create(512);
    M->PutPage(M->AddPage(kSys, ptTableRecord));  // page 2
    M->PutPage(M->AddPage(kSys, ptTableRecord));  // page 3
    M->ApplyChanges(kSys);
  }
  test::DiskTest::TOpenResult R;
  auto Other = Open({}, &R, true);  // stays open in this process while the writer dies
  ASSERT_TRUE(R.MultiUser);
  pid_t Pid = fork();
  if (Pid == 0) {
    test::DiskTest::TOpenResult W;
    auto M = Open({}, &W, true);
    TVLTPage* P = M->GetPage(kSys, 2, ptTableRecord);
    P->PageData()[0] = 0xEE;
    P->SetIsDirty(true);
    M->PutPage(P);
    int HeaderWrites = 0;
    M->SetWriteHook([&](TVLTDiskWrite Wr, TVLTPageNo) {
      if (Wr == TVLTDiskWrite::DBHeader && ++HeaderWrites == 2) raise(SIGKILL);
    });
    M->ApplyChanges(kSys);
    _exit(0);
  }
  int Status = 0;
  waitpid(Pid, &Status, 0);
  ASSERT_TRUE(WIFSIGNALED(Status));
  TVLTPage* P = Other->GetPage(0, 3, ptTableRecord);
  P->PageData()[0] = 0x11;
  P->SetIsDirty(true);
  Other->PutPage(P);
  EXPECT_EQ(test::CodeOf([&] { Other->ApplyChanges(0); }), 30542);
  EXPECT_EQ(+StoredHeader().WriteChangesState, 2);
  EXPECT_FALSE(TVLTDatabaseFile::FileExists(TVLTRollbackJournal::PathFor(Path)));
  Other->CancelChanges(0);
  P = Other->GetPage(0, 2, ptTableRecord);
  EXPECT_EQ(P->PageData()[0], 0);  // the dead writer's change is gone
  Other->PutPage(P);
}

TEST_F(Crash, KilledAfterTheFileGrewButBeforeTheHeaderCountedIt) {
  {
    auto M = Create(512);
    for (int I = 0; I < 4; ++I) M->PutPage(M->AddPage(kSys, ptTableRecord));  // pages 2..5
    M->ApplyChanges(kSys);
  }
  int Status = RunChild([&] {
    auto M = Open();
    M->SetWriteHook([&](TVLTDiskWrite W, TVLTPageNo) {
      if (W != TVLTDiskWrite::Journal) raise(SIGKILL);
    });
    M->AddPage(kSys, ptTableRecord);
  });
  ASSERT_TRUE(WIFSIGNALED(Status));
  EXPECT_GT(Bytes().size(), 380u + 6 * 512);  // grown, but not counted
  EXPECT_EQ(+StoredHeader().TotalPageCount, 6);
  auto M = Open();
  TVLTPage* P = M->AddPage(kSys, ptTableRecord);
  EXPECT_EQ(P->PageNo(), 6);
  M->PutPage(P);
  M->ApplyChanges(kSys);
  EXPECT_EQ(Bytes().size(), 380u + 14 * 512);  // the surplus was absorbed, not added to
}

TEST_F(Crash, GrowthRefusedByTheFileSystemHandsOutNoPage) {
  {
    auto M = Create(512);
    for (int I = 0; I < 4; ++I) M->PutPage(M->AddPage(kSys, ptTableRecord));
    M->ApplyChanges(kSys);
  }
  const size_t Size = Bytes().size();
  int Status = RunChild([&] {
    signal(SIGXFSZ, SIG_IGN);
    rlimit Limit{static_cast<rlim_t>(Size), static_cast<rlim_t>(Size)};
    setrlimit(RLIMIT_FSIZE, &Limit);  // the file may not grow any more
    auto M = Open();
    try {
      M->AddPage(kSys, ptTableRecord);
    } catch (const EVLTException&) {
      if (M->LockDBHeaderCount() != 0) _exit(5);
      _exit(4);  // refused, as it must be
    }
    _exit(6);
  });
  ASSERT_TRUE(WIFEXITED(Status));
  EXPECT_EQ(WEXITSTATUS(Status), 4);
  EXPECT_EQ(Bytes().size(), Size);
  auto H = StoredHeader();
  EXPECT_EQ(+H.TotalPageCount, 6);
  EXPECT_EQ(+H.LastUsedPageNo, 5);
  EXPECT_EQ(+H.WriteChangesState, 2);
  auto M = Open();
  TVLTPage* P = M->AddPage(kSys, ptTableRecord);
  EXPECT_EQ(P->PageNo(), 6);
  M->PutPage(P);
  M->ApplyChanges(kSys);
}

TEST_F(Crash, FailedBitmapWriteDuringGrowthTakesTheGrowthBack) {
  auto M = Create(512);
  M->SetWriteHook([](TVLTDiskWrite W, TVLTPageNo No) {
    if (W == TVLTDiskWrite::Page && No == 1) throw EVLTException(10469, "injected");
  });
  EXPECT_EQ(test::CodeOf([&] { M->AddPage(kSys, ptTableRecord); }), 10469);
  EXPECT_EQ(+StoredHeader().TotalPageCount, 0);
  EXPECT_EQ(+StoredHeader().LastUsedPageNo, -1);
  M->SetWriteHook(nullptr);
  TVLTPage* P = M->AddPage(kSys, ptTableRecord);
  EXPECT_EQ(P->PageNo(), 2);
  M->PutPage(P);
  M->ApplyChanges(kSys);
  EXPECT_EQ(Bytes().size(), 380u + 6 * 512);
  EXPECT_EQ(Bytes()[380 + 512 + 8], ptEAM);
}

}  // namespace
}  // namespace vlt

namespace vlt {
namespace {

// Without syncs an exclusive owner keeps its journal open between commits, emptied. The file
// must then mean exactly what a removed one meant: a death after a commit loses nothing and
// puts nothing back, a death inside a later commit rolls back to the commit before, and a
// close leaves no journal behind.
// A commit's journal reaches the file in one write. When that write fails, nothing of it
// counts: the retried commit journals every page again, so a crash in the middle of the retry
// still gets every page back.
TEST_F(Crash, ACommitRetriedAfterAFailedJournalWriteSavesEveryPageAgain) {
  {
    auto M = Create(512);
    for (int I = 0; I < 3; ++I) M->PutPage(M->AddPage(kSys, ptTableRecord));  // pages 2..4
    M->ApplyChanges(kSys);
  }
  int Status = RunChild([&] {
    auto M = Open();
    for (TVLTPageNo No : {2, 4}) {
      TVLTPage* P = M->GetPage(kSys, No, ptTableRecord);
      P->PageData()[0] = 0xEE;
      P->SetIsDirty(true);
      M->PutPage(P);
    }
    bool Failed = false;
    int HeaderWrites = 0;
    M->SetWriteHook([&](TVLTDiskWrite W, TVLTPageNo) {
      if (W == TVLTDiskWrite::Journal && !Failed) {
        Failed = true;
        throw EVLTException(30540, "injected");
      }
      if (W == TVLTDiskWrite::DBHeader && ++HeaderWrites == 2) raise(SIGKILL);
    });
    try {
      M->ApplyChanges(kSys);
      _exit(4);  // the failed write went unnoticed
    } catch (const EVLTException& E) {
      if (E.NativeError() != 30540) _exit(5);
    }
    M->ApplyChanges(kSys);  // killed between its header writes
    _exit(6);
  });
  ASSERT_TRUE(WIFSIGNALED(Status)) << WEXITSTATUS(Status);
  test::DiskTest::TOpenResult R;
  auto M = Open({}, &R);
  EXPECT_FALSE(R.RepairNeeded);
  EXPECT_EQ(M->RolledBackPages(), 2);
  for (TVLTPageNo No : {2, 4}) {
    TVLTPage* P = M->GetPage(kSys, No, ptTableRecord);
    EXPECT_EQ(P->PageData()[0], 0) << "page " << No;
    M->PutPage(P);
  }
}

// A commit whose previous images outgrow one journal write (1 MiB) writes them in pieces; every
// piece is in the file before the first page is overwritten. A piece that failed to reach the
// file is written again by the retried commit.
TEST_F(Crash, ALargeCommitsJournalInPiecesPutsEveryPageBack) {
  constexpr int kPages = 400;  // 400 x 4 KiB
  {
    auto M = Create(4096);
    for (int I = 0; I < kPages; ++I) M->PutPage(M->AddPage(kSys, ptTableRecord));
    M->ApplyChanges(kSys);
  }
  int Status = RunChild([&] {
    auto M = Open();
    M->SetDurability(dsOff);
    for (TVLTPageNo No = 2; No < 2 + kPages; ++No) {
      TVLTPage* P = M->GetPage(kSys, No, ptTableRecord);
      P->PageData()[0] = 0xEE;
      P->SetIsDirty(true);
      M->PutPage(P);
    }
    int HeaderWrites = 0, JournalWrites = 0;
    M->SetWriteHook([&](TVLTDiskWrite W, TVLTPageNo) {
      if (W == TVLTDiskWrite::Journal && ++JournalWrites == 2)
        throw EVLTException(30540, "injected");  // the second piece, once
      if (W == TVLTDiskWrite::DBHeader && ++HeaderWrites == 2) {
        if (JournalWrites < 3) _exit(7);  // not in pieces
        raise(SIGKILL);
      }
    });
    if (test::CodeOf([&] { M->ApplyChanges(kSys); }) != 30540) _exit(8);
    M->ApplyChanges(kSys);  // killed between its header writes
  });
  ASSERT_TRUE(WIFSIGNALED(Status)) << WEXITSTATUS(Status);
  test::DiskTest::TOpenResult R;
  auto M = Open({}, &R);
  EXPECT_FALSE(R.RepairNeeded);
  EXPECT_EQ(M->RolledBackPages(), kPages);
  int Changed = 0;
  for (TVLTPageNo No = 2; No < 2 + kPages; ++No) {
    TVLTPage* P = M->GetPage(kSys, No, ptTableRecord);
    Changed += P->PageData()[0] != 0;
    M->PutPage(P);
  }
  EXPECT_EQ(Changed, 0);
}

TEST_F(Crash, AJournalKeptOpenBetweenUnsyncedCommitsRecoversLikeARemovedOne) {
  const std::string Journal = TVLTRollbackJournal::PathFor(Path);
  auto CommitByte = [](TVLTDiskPageManager& M, uint8_t Value) {
    TVLTPage* P = M.GetPage(kSys, 2, ptTableRecord);
    P->PageData()[0] = Value;
    P->SetIsDirty(true);
    M.PutPage(P);
    M.ApplyChanges(kSys);
  };
  {
    auto M = Create(512);
    M->SetDurability(dsOff);
    M->PutPage(M->AddPage(kSys, ptTableRecord));  // page 2
    M->ApplyChanges(kSys);
    EXPECT_TRUE(TVLTDatabaseFile::FileExists(Journal));
    EXPECT_EQ(std::filesystem::file_size(Journal), 0u);
    CommitByte(*M, 0x11);
    CommitByte(*M, 0x22);
    EXPECT_EQ(std::filesystem::file_size(Journal), 0u);
    M->CloseDatabase();
    EXPECT_FALSE(TVLTDatabaseFile::FileExists(Journal));
  }
  // Dies right after a commit, the emptied journal still open.
  int Status = RunChild([&] {
    auto M = Open();
    M->SetDurability(dsOff);
    CommitByte(*M, 0x33);
    raise(SIGKILL);
  });
  ASSERT_TRUE(WIFSIGNALED(Status));
  ASSERT_TRUE(TVLTDatabaseFile::FileExists(Journal));
  {
    test::DiskTest::TOpenResult R;
    auto M = Open({}, &R);
    EXPECT_FALSE(R.RepairNeeded);
    EXPECT_EQ(M->RolledBackPages(), 0);
    EXPECT_FALSE(TVLTDatabaseFile::FileExists(Journal));
    TVLTPage* P = M->GetPage(kSys, 2, ptTableRecord);
    EXPECT_EQ(P->PageData()[0], 0x33);
    M->PutPage(P);
  }
  // Dies inside the second commit after the kept journal was emptied, between its header
  // writes: the first commit stays, the second goes.
  Status = RunChild([&] {
    auto M = Open();
    M->SetDurability(dsOff);
    CommitByte(*M, 0x44);
    int HeaderWrites = 0;
    M->SetWriteHook([&](TVLTDiskWrite W, TVLTPageNo) {
      if (W == TVLTDiskWrite::DBHeader && ++HeaderWrites == 2) raise(SIGKILL);
    });
    CommitByte(*M, 0x55);
  });
  ASSERT_TRUE(WIFSIGNALED(Status));
  EXPECT_EQ(+StoredHeader().WriteChangesState, 1);
  test::DiskTest::TOpenResult R;
  auto M = Open({}, &R);
  EXPECT_FALSE(R.RepairNeeded);
  EXPECT_EQ(M->RolledBackPages(), 1);
  EXPECT_FALSE(TVLTDatabaseFile::FileExists(Journal));
  TVLTPage* P = M->GetPage(kSys, 2, ptTableRecord);
  EXPECT_EQ(P->PageData()[0], 0x44);
  M->PutPage(P);
}

}  // namespace
}  // namespace vlt
