#include "engine/disk/VLTTableLockManager.h"

#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "VLTDiskTestUtil.h"

namespace vlt {
namespace {

using test::CodeOf;
using test::kSys;

// ---- lock types ----

TEST(LockTypes, CompatibilityMatrix) {
  // Rows: held; columns: wanted (ltIS ltS ltSIRW ltXIRW ltRW ltU ltX).
  const char* Rows[kLockTypeCount] = {"1111110", "1111010", "1110110", "1100010",
                                      "1010010", "1111110", "0000000"};
  for (int H = 0; H < kLockTypeCount; ++H)
    for (int W = 0; W < kLockTypeCount; ++W) {
      auto Held = static_cast<TVLTLockType>(H), Wanted = static_cast<TVLTLockType>(W);
      EXPECT_EQ(IsLockCompatible(Held, Wanted), Rows[H][W] == '1')
          << LockTypeName(Held) << " / " << LockTypeName(Wanted);
      EXPECT_EQ(IsLockCompatible(Held, Wanted), IsLockCompatible(Wanted, Held));
    }
}

TEST(LockTypes, Strength) {
  // For each type, the types it is at least as strong as.
  struct {
    TVLTLockType T;
    const char* AtLeastAs;  // ltIS ltS ltSIRW ltXIRW ltRW ltU ltX
  } Cases[] = {
      {ltIS, "1000010"},   {ltS, "1100010"}, {ltSIRW, "1010010"}, {ltXIRW, "1111010"},
      {ltRW, "1110110"},   {ltU, "1000010"}, {ltX, "1111111"},
  };
  for (const auto& C : Cases)
    for (int B = 0; B < kLockTypeCount; ++B)
      EXPECT_EQ(IsLockAtLeastAsStrong(C.T, static_cast<TVLTLockType>(B)), C.AtLeastAs[B] == '1')
          << LockTypeName(C.T) << " >= " << LockTypeName(static_cast<TVLTLockType>(B));
}

TEST(LockTypes, ListCountsAndRemoves) {
  TVLTTableLockList L;
  L.AddLock(ltS, 7, true, false);
  L.AddLock(ltS, 7, false, true);  // counted; flags stay
  EXPECT_EQ(L.Count(), 1);
  EXPECT_EQ(L.Items(0).LockCount, 2);
  EXPECT_TRUE(L.LockExists(ltS, 7, false));
  EXPECT_FALSE(L.LockExists(ltS, 7, true));
  EXPECT_TRUE(L.StrongerLockExists(ltIS, 7));
  EXPECT_FALSE(L.StrongerLockExists(ltIS, 8));
  EXPECT_FALSE(L.StrongerLockExists(ltS, 7));  // the same type does not count
  bool Physical = true;
  L.RemoveLock(ltS, 7, Physical, false);
  EXPECT_FALSE(Physical);
  EXPECT_EQ(CodeOf([&] { L.CheckEmpty(); }), 20201);
  L.RemoveLock(ltS, 7, Physical, false);
  EXPECT_TRUE(Physical);
  EXPECT_EQ(CodeOf([&] { L.RemoveLock(ltS, 7, Physical, false); }), 20202);
  L.AddLock(ltIS, 7, false, false);
  EXPECT_TRUE(L.IsWeakerNonPhysicalLock(0, ltS));
  L.AddLock(ltS, 9, false, false);
  EXPECT_FALSE(L.IsWeakerNonPhysicalLock(1, ltSIRW));  // SIRW is not as strong as S
  EXPECT_TRUE(L.IsWeakerNonPhysicalLock(1, ltXIRW));
  // Neither entry is protected by a physical lock.
  EXPECT_EQ(CodeOf([&] { L.CheckInvariants(); }), 20981);
  L.SetPhysicalLock(0);
  EXPECT_FALSE(L.IsWeakerNonPhysicalLock(0, ltS));
  L.SetPhysicalLock(1);
  EXPECT_NO_THROW(L.CheckInvariants());
  L.AddLock(ltIS, 9, false, false);  // covered by the physical S on the same table
  EXPECT_NO_THROW(L.CheckInvariants());
  L.AddLock(ltX, 7, false, false);  // nothing on table 7 is as strong as X
  EXPECT_EQ(CodeOf([&] { L.CheckInvariants(); }), 20981);
}

// ---- locks files and the manager ----

class TableLocks : public test::DiskTest {
 protected:
  static constexpr int32_t kSessions = 4;

  // A database shared by several sessions with two tables' locks files.
  void SetUp() override {
    test::DiskTest::SetUp();
    auto C = Create();
    TVLTTableLocksFile A(C.get()), B(C.get());
    T1 = A.CreateFile(kSessions);
    T2 = B.CreateFile(kSessions);
    C->ApplyChanges(kSys);
    C->CloseDatabase();
    M = Open({}, nullptr, /*MultiUser=*/true);
    F1 = std::make_unique<TVLTTableLocksFile>(M.get());
    F2 = std::make_unique<TVLTTableLocksFile>(M.get());
    F1->OpenFile(T1);
    F2->OpenFile(T2);
    L = std::make_unique<TVLTDatabaseTableLockManager>(kSessions, M.get());
    L->SetUnlockRetry(3, 1);
    L->SetTransactionLockRetry(3, 1);
  }
  void TearDown() override {
    L.reset();
    F1.reset();
    F2.reset();
    M.reset();
    test::DiskTest::TearDown();
  }
  bool Lock(TVLTSessionID S, TVLTLockType T, TVLTTableLocksFile& F, bool Allow = false) {
    return L->LockTable(S, T, F, 3, 2, false, Allow);
  }
  bool Unlock(TVLTSessionID S, TVLTLockType T, TVLTTableLocksFile& F) {
    return L->UnlockTable(S, T, F);
  }
  // Whether the byte of type T of session S is locked in the file.
  bool ByteLocked(TVLTTableLocksFile& F, TVLTLockType T, TVLTSessionID S) {
    return F.Handle().IsByteLocked(T * F.MaxSessionCount() + S);
  }

  TVLTPageNo T1 = kNoPage, T2 = kNoPage;
  std::unique_ptr<TVLTDiskPageManager> M;
  std::unique_ptr<TVLTTableLocksFile> F1, F2;
  std::unique_ptr<TVLTDatabaseTableLockManager> L;
};

TEST_F(TableLocks, LocksFileLayout) {
  // 4 sessions: 48 content bytes on one page; a reopen sees N = 4, not the page's capacity.
  EXPECT_EQ(F1->MaxSessionCount(), 4);
  EXPECT_EQ(F1->Handle().StoredSize(), 48);
  EXPECT_EQ(Peek<int32_t>(PageOffset(T1) + 41), 48);
  EXPECT_EQ(LoadLE<uint16_t>(Bytes().data() + PageOffset(T1) + 8), ptTableLocks);
  // 38 sessions still fit on one page of 512 bytes, 39 do not.
  auto C = NewManager();
  C->CreateAndOpenDatabase(Dir + "/b.vlt", {}, 512, 8);
  TVLTTableLocksFile A(C.get()), B(C.get());
  A.CreateFile(38);
  B.CreateFile(39);
  EXPECT_EQ(A.Handle().FilePages().ItemCount(), 1);
  EXPECT_EQ(B.Handle().FilePages().ItemCount(), 2);
  C->CancelChanges(kSys);

  // Byte positions: type t of session s at t * 4 + s, the record slot of s at 24 + 6 s.
  ASSERT_TRUE(F1->LockTable(2, ltRW));
  EXPECT_TRUE(F1->Handle().IsByteLocked(4 * 4 + 2));
  EXPECT_TRUE(F1->IsTableLockedByAnyOtherSession(1, ltRW));
  EXPECT_FALSE(F1->IsTableLockedByAnyOtherSession(2, ltRW));
  EXPECT_TRUE(F1->UnlockTable(2, ltRW));
  ASSERT_TRUE(F1->LockRecord(3, {5, 2}));
  uint8_t Slot[6];
  F1->Handle().ReadBuffer(Slot, 6, 24 + 18);
  EXPECT_EQ(TVLTPageItemID::LoadFrom(Slot), (TVLTPageItemID{5, 2}));
  EXPECT_TRUE(F1->Handle().IsByteLocked(5 * 4 + 3));
  EXPECT_TRUE(F1->UnlockRecord(3, {5, 2}));
  EXPECT_FALSE(F1->LockTable(0, ltX));
  EXPECT_EQ(CodeOf([&] { F1->LockTable(4, ltS); }), 20200);

  TVLTTableLocksFile Closed(M.get());
  EXPECT_EQ(CodeOf([&] { Closed.StartPageNo(); }), 10483);
  EXPECT_EQ(CodeOf([&] { Closed.LockTable(0, ltS); }), 10489);
  EXPECT_EQ(CodeOf([&] { Closed.UnlockTable(0, ltS); }), 10494);
  EXPECT_EQ(CodeOf([&] { Closed.IsTableLockedByAnyOtherSession(0, ltS); }), 10490);
  EXPECT_EQ(CodeOf([&] { Closed.LockRecord(0, {}); }), 10491);
  EXPECT_EQ(CodeOf([&] { Closed.UnlockRecord(0, {}); }), 10492);
  EXPECT_EQ(CodeOf([&] { Closed.IsRecordLockedByAnyOtherSession(0, {}); }), 10493);
}

TEST_F(TableLocks, StrongerLockGrantsWeakerWithoutTheFile) {
  ASSERT_TRUE(Lock(0, ltS, *F1));
  EXPECT_TRUE(ByteLocked(*F1, ltS, 0));
  // With the locks file held by somebody else the weaker request still succeeds at once.
  ASSERT_TRUE(F1->LockFile());
  EXPECT_TRUE(Lock(0, ltIS, *F1));
  EXPECT_FALSE(ByteLocked(*F1, ltIS, 0));
  EXPECT_FALSE(L->SessionLocks(0).Items(1).HasPhysicalLock);
  L->CheckInvariants();
  EXPECT_FALSE(Lock(1, ltIS, *F1));  // another session needs the file lock
  F1->UnlockFile();
  // Another table gets its own physical lock.
  ASSERT_TRUE(Lock(0, ltS, *F2));
  EXPECT_TRUE(ByteLocked(*F2, ltS, 0));
  L->CheckInvariants();
  EXPECT_TRUE(Unlock(0, ltIS, *F1));
  EXPECT_TRUE(Unlock(0, ltS, *F1));
  EXPECT_TRUE(Unlock(0, ltS, *F2));
  EXPECT_FALSE(L->HasLocks());
}

TEST_F(TableLocks, RepeatedRequests) {
  ASSERT_TRUE(Lock(0, ltSIRW, *F1));
  EXPECT_FALSE(Lock(0, ltSIRW, *F1));  // a second SIRW is refused
  ASSERT_TRUE(Lock(0, ltS, *F1));
  ASSERT_TRUE(Lock(0, ltS, *F1));
  EXPECT_TRUE(Unlock(0, ltS, *F1));
  EXPECT_TRUE(ByteLocked(*F1, ltS, 0));  // still counted once
  EXPECT_TRUE(Unlock(0, ltS, *F1));
  EXPECT_FALSE(ByteLocked(*F1, ltS, 0));
  EXPECT_EQ(CodeOf([&] { Unlock(0, ltS, *F1); }), 20202);
  EXPECT_TRUE(L->UnlockTable(0, ltS, *F1, /*IgnoreIfNoLock=*/true));
  EXPECT_TRUE(Unlock(0, ltSIRW, *F1));
  EXPECT_NO_THROW(L->CheckNoLocks());
}

TEST_F(TableLocks, ConflictsBetweenSessions) {
  ASSERT_TRUE(Lock(1, ltRW, *F1));
  EXPECT_FALSE(Lock(0, ltS, *F1));
  EXPECT_TRUE(Lock(0, ltSIRW, *F1));
  EXPECT_FALSE(Lock(2, ltX, *F1));
  EXPECT_TRUE(Unlock(1, ltRW, *F1));
  EXPECT_FALSE(Lock(2, ltX, *F1));  // session 0's SIRW is still there
  EXPECT_TRUE(Unlock(0, ltSIRW, *F1));
  ASSERT_TRUE(Lock(2, ltX, *F1));
  EXPECT_FALSE(Lock(0, ltIS, *F1));  // ltX keeps the file lock
  EXPECT_FALSE(F1->LockFile());
  EXPECT_TRUE(Unlock(2, ltX, *F1));
  EXPECT_TRUE(Lock(0, ltIS, *F1));
  EXPECT_TRUE(Unlock(0, ltIS, *F1));
}

TEST_F(TableLocks, XIRWAfterSIRWOnlyWhenAllowed) {
  ASSERT_TRUE(Lock(1, ltSIRW, *F1));
  EXPECT_FALSE(Lock(0, ltXIRW, *F1));
  EXPECT_TRUE(Lock(0, ltXIRW, *F1, /*Allow=*/true));
  EXPECT_TRUE(L->SessionLocks(0).LockExists(ltXIRW, T1, true));
  ASSERT_TRUE(Lock(2, ltRW, *F2));
  EXPECT_FALSE(Lock(0, ltXIRW, *F2, true));
  EXPECT_TRUE(Unlock(0, ltXIRW, *F1));
  EXPECT_TRUE(Unlock(1, ltSIRW, *F1));
  EXPECT_TRUE(Unlock(2, ltRW, *F2));
}

TEST_F(TableLocks, OneRecordPerSessionAndTable) {
  ASSERT_TRUE(L->LockRecord(0, *F1, {5, 2}, 3, 1));
  EXPECT_FALSE(L->LockRecord(0, *F1, {5, 3}, 3, 1));
  EXPECT_TRUE(L->IsRecordLocked(1, *F1, {5, 2}));
  EXPECT_FALSE(L->IsRecordLocked(1, *F1, {5, 3}));
  EXPECT_FALSE(L->IsRecordLocked(0, *F1, {5, 2}));  // its own lock
  EXPECT_FALSE(L->LockRecord(1, *F1, {5, 2}, 3, 1));
  EXPECT_TRUE(L->LockRecord(1, *F1, {5, 3}, 3, 1));
  EXPECT_TRUE(L->LockRecord(0, *F2, {5, 2}, 3, 1));  // another table
  L->CheckInvariants();
  EXPECT_TRUE(L->UnlockRecord(0, *F1, {5, 2}));
  EXPECT_FALSE(L->IsRecordLocked(1, *F1, {5, 2}));
  EXPECT_FALSE(L->UnlockRecord(0, *F1, {5, 2}));  // nothing left to unlock
  EXPECT_TRUE(L->UnlockRecord(1, *F1, {5, 3}));
  EXPECT_TRUE(L->UnlockRecord(0, *F2, {5, 2}));
  EXPECT_FALSE(L->HasLocks());

  // Under ltX the record lock is only noted.
  ASSERT_TRUE(Lock(0, ltX, *F1));
  EXPECT_TRUE(L->LockRecord(0, *F1, {9, 9}, 3, 1));
  EXPECT_FALSE(ByteLocked(*F1, ltU, 0));
  L->CheckInvariants();
  EXPECT_TRUE(L->UnlockRecord(0, *F1, {9, 9}));
  EXPECT_TRUE(Unlock(0, ltX, *F1));
}

TEST_F(TableLocks, ARecordLockWhoseSlotCannotBeWrittenIsGivenBack) {
  auto R = Open({}, nullptr, true, /*ReadOnly=*/true);
  TVLTTableLocksFile F(R.get());
  F.OpenFile(T1);
  EXPECT_NE(CodeOf([&] { F.LockRecord(1, {4, 4}); }), 0);
  EXPECT_FALSE(ByteLocked(*F1, ltU, 1));
}

TEST_F(TableLocks, ReleasingXProtectsTheWeakerLocksFirst) {
  ASSERT_TRUE(Lock(0, ltX, *F1));
  ASSERT_TRUE(Lock(0, ltS, *F1));
  EXPECT_FALSE(ByteLocked(*F1, ltS, 0));
  L->CheckInvariants();
  EXPECT_TRUE(Unlock(0, ltX, *F1));
  EXPECT_TRUE(ByteLocked(*F1, ltS, 0));
  EXPECT_TRUE(L->SessionLocks(0).Items(0).HasPhysicalLock);
  L->CheckInvariants();
  ASSERT_TRUE(F1->LockFile());  // the file lock is free again
  F1->UnlockFile();
  EXPECT_FALSE(Lock(1, ltRW, *F1));  // the S still protects the table
  EXPECT_TRUE(Unlock(0, ltS, *F1));
  EXPECT_FALSE(ByteLocked(*F1, ltS, 0));
}

TEST_F(TableLocks, CommitUpgradesAndClearsTransactionLocks) {
  ASSERT_TRUE(Lock(0, ltXIRW, *F1));
  ASSERT_TRUE(L->LockRecord(0, *F2, {3, 1}, 3, 1));
  ASSERT_TRUE(L->AddRWLocksBeforeCommit(0));
  EXPECT_TRUE(ByteLocked(*F1, ltRW, 0));
  L->CheckInvariants();
  ASSERT_TRUE(L->ClearTransactionLocks(0));
  L->CheckInvariants();
  EXPECT_FALSE(ByteLocked(*F1, ltRW, 0));
  EXPECT_FALSE(ByteLocked(*F1, ltXIRW, 0));
  // The record lock stays, now with SIRW on its table.
  EXPECT_TRUE(L->SessionLocks(0).LockExists(ltSIRW, T2));
  EXPECT_TRUE(L->SessionLocks(0).LockExists(ltU, T2));
  EXPECT_TRUE(L->UnlockRecord(0, *F2, {3, 1}));
  EXPECT_TRUE(Unlock(0, ltSIRW, *F2));
  EXPECT_FALSE(L->HasLocks());

  // The upgrade fails while another session reads the table: nothing is left behind.
  ASSERT_TRUE(Lock(1, ltS, *F1));
  ASSERT_TRUE(Lock(0, ltXIRW, *F1));
  ASSERT_TRUE(Lock(0, ltRW, *F2));
  ASSERT_TRUE(Lock(0, ltXIRW, *F2));
  EXPECT_FALSE(L->AddRWLocksBeforeCommit(0));
  EXPECT_FALSE(L->SessionLocks(0).LockExists(ltRW, T1));
  EXPECT_FALSE(L->SessionLocks(0).LockExists(ltRW, T2));
  L->CheckInvariants();
  EXPECT_TRUE(L->ClearTransactionLocks(0));
  EXPECT_TRUE(Unlock(1, ltS, *F1));
  EXPECT_FALSE(L->HasLocks());
}

TEST_F(TableLocks, CheckInvariantsCatchesALockByteReleasedBehindTheManager) {
  ASSERT_TRUE(Lock(0, ltS, *F1));
  L->CheckInvariants();
  ASSERT_TRUE(F1->UnlockTable(0, ltS));  // the entry still says it holds the byte
  EXPECT_EQ(CodeOf([&] { L->CheckInvariants(); }), 20981);
  ASSERT_TRUE(F1->LockTable(0, ltS));
  EXPECT_TRUE(Unlock(0, ltS, *F1));
}

TEST_F(TableLocks, ExclusiveDatabaseGrantsEverything) {
  L.reset();
  F1.reset();
  F2.reset();
  M.reset();
  M = Open();  // exclusive
  ASSERT_TRUE(M->Exclusive());
  TVLTTableLocksFile F(M.get());
  F.OpenFile(T1);
  TVLTDatabaseTableLockManager X(kSessions, M.get());
  ASSERT_TRUE(F.LockFile());  // even with the file lock held nothing waits
  EXPECT_TRUE(X.LockTable(0, ltX, F, 1, 1000));
  EXPECT_TRUE(X.LockTable(1, ltX, F, 1, 1000));
  EXPECT_TRUE(X.LockRecord(0, F, {1, 1}, 1, 1000));
  X.CheckInvariants();
  EXPECT_TRUE(X.UnlockTable(0, ltX, F));
  EXPECT_TRUE(X.UnlockRecord(0, F, {1, 1}));
  EXPECT_FALSE(X.HasLocks());
  F.UnlockFile();
}

TEST_F(TableLocks, LocksAreSeenByOtherProcesses) {
  ASSERT_TRUE(Lock(1, ltRW, *F1));
  ASSERT_TRUE(L->LockRecord(2, *F2, {7, 7}, 3, 1));
  pid_t Pid = fork();
  if (Pid == 0) {
    int Code = 99;
    try {
      auto O = Open({}, nullptr, true);
      TVLTTableLocksFile A(O.get()), B(O.get());
      A.OpenFile(T1);
      B.OpenFile(T2);
      TVLTDatabaseTableLockManager X(kSessions, O.get());
      X.SetUnlockRetry(3, 1);
      Code = 0;
      if (X.LockTable(0, ltS, A, 3, 2)) Code |= 1;       // refused: RW elsewhere
      if (!X.LockTable(0, ltSIRW, A, 3, 2)) Code |= 2;   // compatible
      if (!X.IsRecordLocked(0, B, {7, 7})) Code |= 4;
      if (X.LockRecord(0, B, {7, 7}, 3, 1)) Code |= 8;
      if (!X.LockRecord(0, B, {7, 8}, 3, 1)) Code |= 16;
      X.UnlockTable(0, ltSIRW, A);
      X.UnlockRecord(0, B, {7, 8});
    } catch (...) {
    }
    _exit(Code);
  }
  int Status = 0;
  waitpid(Pid, &Status, 0);
  EXPECT_EQ(WEXITSTATUS(Status), 0);
  EXPECT_TRUE(Unlock(1, ltRW, *F1));
  EXPECT_TRUE(L->UnlockRecord(2, *F2, {7, 7}));
}

}  // namespace
}  // namespace vlt
