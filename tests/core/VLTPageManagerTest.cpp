#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "VLTPageTestUtil.h"
#include "engine/core/VLTPageManager.h"

namespace vlt {
namespace {

using test::CodeOf;
using test::TMemPageManager;

constexpr TVLTSessionID S1 = 0, S2 = 1, Sys = kSystemSessionID;

TEST(TVLTPageManager, SessionSeesItsOwnChangesOthersSeeTheStoredPage) {
  TMemPageManager M;
  M.Store(3, ptTableRecord, 0x11);
  TVLTPage* P = M.GetPage(S1, 3, ptTableRecord);
  P->PageData()[0] = 0x99;
  P->SetIsDirty(true);
  M.PutPage(P);
  EXPECT_EQ(M.SharedPages().Count(), 0);  // left the cache for S1's dirty list
  EXPECT_EQ(M.SessionInfo(S1)->DirtyPages.Count(), 1);

  TVLTPage* Again = M.GetPage(S1, 3, ptTableRecord);
  EXPECT_EQ(Again, P);
  EXPECT_EQ(Again->PageData()[0], 0x99);
  M.PutPage(Again);

  TVLTPage* Other = M.GetPage(S2, 3, ptTableRecord);
  EXPECT_NE(Other, P);
  EXPECT_EQ(Other->PageData()[0], 0x11);
  M.PutPage(Other);
  EXPECT_TRUE(M.Writes.empty());

  M.ApplyChanges(S1);
  EXPECT_EQ(M.Writes, std::vector<TVLTPageNo>{3});
  EXPECT_EQ(M.StoredByte(3, 40), 0x99);
  // The committed copy replaced S2's stale cached one.
  TVLTPage* Fresh = M.GetPage(S2, 3, ptTableRecord);
  EXPECT_EQ(Fresh->PageData()[0], 0x99);
  M.PutPage(Fresh);
  EXPECT_EQ(M.SharedPages().Count(), 1);
  M.CheckInvariants();
}

TEST(TVLTPageManager, SessionsShareCleanPagesButNotWhileInUse) {
  TMemPageManager M;
  M.Store(4, ptTableIndex, 0);
  TVLTPage* A = M.GetPage(S1, 4, ptTableIndex);
  EXPECT_EQ(CodeOf([&] { M.GetPage(S2, 4, ptTableIndex); }), 20090);
  TVLTPage* A2 = M.GetPage(S1, 4, ptTableIndex);  // nested use by the same session
  EXPECT_EQ(A2, A);
  EXPECT_EQ(A->UseCount(), 2);
  M.PutPage(A2);
  M.PutPage(A);
  TVLTPage* B = M.GetPage(S2, 4, ptTableIndex);
  EXPECT_EQ(B, A);
  EXPECT_EQ(M.Reads, 1);
  M.PutPage(B);
  EXPECT_EQ(CodeOf([&] { M.GetPage(-1, 4, ptTableIndex); }), 20186);
}

TEST(TVLTPageManager, TypeChecksAndFailedReads) {
  TMemPageManager M;
  M.Store(2, ptTableBlob, 0);
  try {
    M.GetPage(S1, 2, ptTableRecord);
    FAIL();
  } catch (const EVLTException& E) {
    EXPECT_EQ(E.NativeError(), 20153);
    EXPECT_NE(E.Message().find("Expecting type 10, but found 11"), std::string::npos);
  }
  EXPECT_EQ(M.SharedPages().Count(), 0);  // nothing half-read stays cached
  M.PutPage(M.GetPage(S1, 2, ptAny));
  M.SetIgnoreCRCErrors(true);
  M.PutPage(M.GetPage(S1, 2, ptTableRecord));
  try {
    M.GetPage(S1, 9, ptTableRecord);
    FAIL();
  } catch (const EVLTException& E) {
    EXPECT_EQ(E.NativeError(), 20299);
    EXPECT_NE(E.Message().find("Page No: 9, type 10"), std::string::npos);
  }
  EXPECT_EQ(M.SharedPages().Find(9), nullptr);
}

TEST(TVLTPageManager, AddPageIsDirtyTypedAndGivenBackOnCancel) {
  TMemPageManager M;
  TVLTPage* P = M.AddPage(S1, ptTableRecord);
  EXPECT_EQ(P->PageNo(), 0);
  EXPECT_TRUE(P->IsDirty());
  EXPECT_EQ(P->UseCount(), 1);
  EXPECT_EQ(+P->PageHeader()->PageType, ptTableRecord);
  EXPECT_GE(+P->PageHeader()->State, 0);
  EXPECT_LT(+P->PageHeader()->State, 0x3FFFFFFF);
  EXPECT_EQ(CodeOf([&] { M.CancelChanges(S1); }), 20088);  // still in use
  M.PutPage(P);
  M.CancelChanges(S1);
  EXPECT_EQ(M.Removes, std::vector<TVLTPageNo>{0});
  EXPECT_FALSE(M.HasChanges(S1));
  EXPECT_TRUE(M.Writes.empty());
}

TEST(TVLTPageManager, RemovedPagesAreFreedOnlyAtCommit) {
  TMemPageManager M;
  M.Store(1, ptTableRecord, 0);
  M.Store(2, ptTableRecord, 0);
  M.PutPage(M.GetPage(S1, 1, ptTableRecord));  // cached
  M.RemovePage(S1, 1);
  M.RemovePage(S1, 1);  // recorded once
  M.CancelChanges(S1);
  EXPECT_TRUE(M.Removes.empty());
  EXPECT_TRUE(M.Used.count(1));

  M.RemovePage(S1, 1);
  M.RemovePage(S1, 2);
  M.ApplyChanges(S1);
  EXPECT_EQ(M.Removes, (std::vector<TVLTPageNo>{1, 2}));
  EXPECT_EQ(M.SharedPages().Find(1), nullptr);  // the cached object went with it
}

TEST(TVLTPageManager, CommitWritesDirtyPagesInPageOrderAndCachesThem) {
  TMemPageManager M;
  std::vector<TVLTPage*> Added;
  for (int I = 0; I < 3; ++I) Added.push_back(M.AddPage(S1, ptTableRecord));
  for (auto It = Added.rbegin(); It != Added.rend(); ++It) M.PutPage(*It);
  TVLTPage* Held = M.GetPage(S1, 0, ptTableRecord);  // in S1's dirty list, in use
  EXPECT_EQ(CodeOf([&] { M.ApplyChanges(S1); }), 20086);
  EXPECT_TRUE(M.Writes.empty());  // checked before anything was written
  M.PutPage(Held);
  M.ApplyChanges(S1);
  EXPECT_EQ(M.Writes, (std::vector<TVLTPageNo>{0, 1, 2}));
  EXPECT_EQ(M.SharedPages().Count(), 3);
  EXPECT_FALSE(M.HasChanges(S1));
  M.ApplyChanges(S1);  // nothing left: nothing written
  EXPECT_EQ(M.Writes.size(), 3u);

  TVLTPage* InCache = M.GetPage(S1, 1, ptTableRecord);
  EXPECT_EQ(CodeOf([&] { M.ApplyChanges(S1); }), 20152);
  M.PutPage(InCache);
}

TEST(TVLTPageManager, FailedCommitKeepsTheRestPendingAndCanBeRetried) {
  TMemPageManager M;
  for (int I = 0; I < 3; ++I) M.PutPage(M.AddPage(S1, ptTableRecord));
  M.Store(7, ptTableRecord, 0);
  M.RemovePage(S1, 7);
  M.FailWriteAt = 1;  // the second page write fails
  EXPECT_EQ(CodeOf([&] { M.ApplyChanges(S1); }), 10469);
  EXPECT_EQ(M.Writes, std::vector<TVLTPageNo>{0});
  EXPECT_EQ(M.SessionInfo(S1)->DirtyPages.Count(), 2);
  EXPECT_EQ(M.Removes, std::vector<TVLTPageNo>{7});
  M.CheckInvariants();
  M.ApplyChanges(S1);  // the retry neither frees 7 again nor rewrites 0
  EXPECT_EQ(M.Writes, (std::vector<TVLTPageNo>{0, 1, 2}));
  EXPECT_EQ(M.Removes, std::vector<TVLTPageNo>{7});
  M.CheckInvariants();
}

TEST(TVLTPageManager, CacheEvictsLeastRecentlyUsedUnusedPages) {
  TMemPageManager M;
  M.SetCacheCapacity(3);
  for (TVLTPageNo No = 0; No < 6; ++No) M.Store(No, ptTableRecord, 0);
  TVLTPage* Pinned = M.GetPage(S1, 0, ptTableRecord);  // least recently used, but held
  for (TVLTPageNo No = 1; No < 6; ++No) M.PutPage(M.GetPage(S1, No, ptTableRecord));
  EXPECT_EQ(M.SharedPages().Count(), 3);
  EXPECT_NE(M.SharedPages().Find(0), nullptr);
  EXPECT_NE(M.SharedPages().Find(4), nullptr);
  EXPECT_NE(M.SharedPages().Find(5), nullptr);
  M.PutPage(Pinned);
  // Reading a cached page again costs no read.
  int Reads = M.Reads;
  M.PutPage(M.GetPage(S2, 5, ptTableRecord));
  EXPECT_EQ(M.Reads, Reads);
  M.CheckInvariants();
}

TEST(TVLTPageManager, DirtyPageReleasedByADetachedCopyStaysWithItsSession) {
  TMemPageManager M;
  M.Store(3, ptTableRecord, 0x01);
  TVLTPage* Mine = M.GetPage(S1, 3, ptTableRecord);
  Mine->SetIsDirty(true);
  M.PutPage(Mine);
  TVLTPage* Theirs = M.GetPage(S2, 3, ptTableRecord);
  M.ApplyChanges(S1);  // supersedes S2's copy while S2 holds it
  Theirs->PageData()[0] = 0x55;
  Theirs->SetIsDirty(true);
  M.PutPage(Theirs);  // S2's change is not lost: it waits in S2's dirty list
  EXPECT_EQ(M.SessionInfo(S2)->DirtyPages.Find(3), Theirs);
  M.CheckInvariants();
  M.ApplyChanges(S2);
  EXPECT_EQ(M.StoredByte(3, 40), 0x55);
  M.CheckInvariants();
}

TEST(TVLTPageManager, SupersededCopyInUseIsFreedAtItsLastRelease) {
  TMemPageManager M;
  M.Store(3, ptTableRecord, 0x01);
  TVLTPage* Mine = M.GetPage(S1, 3, ptTableRecord);
  Mine->PageData()[0] = 0x02;
  Mine->SetIsDirty(true);
  M.PutPage(Mine);
  TVLTPage* Theirs = M.GetPage(S2, 3, ptTableRecord);  // the stored version, held over the commit
  M.ApplyChanges(S1);
  EXPECT_EQ(M.SharedPages().Find(3), Mine);
  EXPECT_EQ(Theirs->ParentList(), nullptr);
  M.CheckInvariants();
  M.PutPage(Theirs);  // clean: freed (ASan would report a leak or a double free)
  EXPECT_EQ(M.SharedPages().Find(3), Mine);
  M.CheckInvariants();
}

TEST(TVLTPageManager, CopyOfARemovedPageNeverReachesStorage) {
  TMemPageManager M;
  M.Store(3, ptTableRecord, 0x01);
  TVLTPage* Held = M.GetPage(S2, 3, ptTableRecord);
  M.RemovePage(S1, 3);
  M.ApplyChanges(S1);  // page 3 freed while S2 still holds its copy
  Held->PageData()[0] = 0x77;
  Held->SetIsDirty(true);
  M.PutPage(Held);
  EXPECT_FALSE(M.HasChanges(S2));
  M.ApplyChanges(S2);
  EXPECT_EQ(M.StoredByte(3, 40), 0x01);
  M.CheckInvariants();
}

// A manager that hands out page numbers in order without searching, for commits of many pages.
class TCountingPageManager : public TMemPageManager {
 protected:
  void InternalAddPage(TVLTPage* Page) override {
    Used.insert(Next);
    Page->SetPageNo(Next++);
    Page->AllocPageBuffer();
  }
  TVLTPageNo Next = 0;
};

// A commit of 100,000 pages: written once each in page order, the numbers removed (each asked
// twice) freed once; a failure half-way leaves exactly the rest, and the retry finishes it.
TEST(TVLTPageManager, CommitOfAHundredThousandPagesInOnePass) {
  constexpr int32_t kPages = 100000;
  TCountingPageManager M;
  M.SetCacheCapacity(100);
  for (int32_t I = 0; I < kPages; ++I) M.PutPage(M.AddPage(S1, ptTableRecord));
  M.ApplyChanges(S1);
  ASSERT_EQ(M.Writes.size(), static_cast<size_t>(kPages));
  EXPECT_TRUE(std::is_sorted(M.Writes.begin(), M.Writes.end()));
  EXPECT_EQ(M.SharedPages().Count(), 100);  // the cache took what it holds, no more
  M.Writes.clear();

  // Every page again, dirtied in descending order (each lands at the front of the list), and
  // a tenth of them removed, each number twice.
  for (int32_t No = kPages - 1; No >= 0; --No) {
    TVLTPage* P = M.GetPage(S1, No, ptTableRecord);
    P->SetIsDirty(true);
    M.PutPage(P);
  }
  for (int Twice = 0; Twice < 2; ++Twice)
    for (int32_t No = 0; No < kPages; No += 10) M.RemovePage(S1, No);
  EXPECT_EQ(M.SessionInfo(S1)->RemovedPageNumbers.ItemCount(), kPages / 10);
  M.FailWriteAt = kPages / 2;
  EXPECT_EQ(CodeOf([&] { M.ApplyChanges(S1); }), 10469);
  EXPECT_EQ(M.Removes.size(), static_cast<size_t>(kPages / 10));
  EXPECT_EQ(M.SessionInfo(S1)->DirtyPages.Count(), kPages - kPages / 10 - kPages / 2);
  M.ApplyChanges(S1);
  EXPECT_EQ(M.Removes.size(), static_cast<size_t>(kPages / 10));
  ASSERT_EQ(M.Writes.size(), static_cast<size_t>(kPages - kPages / 10));
  EXPECT_TRUE(std::is_sorted(M.Writes.begin(), M.Writes.end()));
  EXPECT_FALSE(M.HasChanges(S1));
  M.CheckInvariants();
}

// A cache of several blocks at its capacity while hundreds of pages are in use: releases evict
// only unused pages, least recently used first, and the pages in use stay whatever their age.
TEST(TVLTPageManager, EvictionAtCapacityWhilePagesAreInUse) {
  TMemPageManager M;
  M.SetCacheCapacity(1500);
  for (TVLTPageNo No = 0; No < 4000; ++No) M.Store(No, ptTableRecord, 0);
  std::vector<TVLTPage*> Held;
  for (TVLTPageNo No = 0; No < 4000; No += 5) Held.push_back(M.GetPage(S1, No, ptTableRecord));
  for (TVLTPageNo No = 0; No < 4000; ++No)
    if (No % 5 != 0) M.PutPage(M.GetPage(S1, No, ptTableRecord));
  // All 800 in use, though the oldest of all, and the 700 most recent others.
  EXPECT_EQ(M.SharedPages().Count(), 1500);
  for (TVLTPage* P : Held) EXPECT_EQ(M.SharedPages().Find(P->PageNo()), P);
  EXPECT_NE(M.SharedPages().Find(3999), nullptr);
  EXPECT_EQ(M.SharedPages().Find(1), nullptr);
  M.CheckInvariants();
  for (TVLTPage* P : Held) M.PutPage(P);
  EXPECT_EQ(M.SharedPages().Count(), 1500);
  // The held pages were used last: they stay, the oldest unused ones went.
  for (TVLTPage* P : Held) EXPECT_EQ(M.SharedPages().Find(P->PageNo()), P);
  M.CheckInvariants();
}

TEST(TVLTPageManager, UncommittedPagesAreReportedBeforeDestruction) {
  TMemPageManager M;
  M.PutPage(M.AddPage(Sys, ptFileSystemDirectory));
  EXPECT_EQ(CodeOf([&] { M.CheckNoUncommittedPages(); }), 20097);
  M.ApplyChanges(Sys);
  EXPECT_EQ(CodeOf([&] { M.CheckNoUncommittedPages(); }), 0);
}

}  // namespace
}  // namespace vlt
