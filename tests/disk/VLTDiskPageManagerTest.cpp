#include "engine/disk/VLTDiskPageManager.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <filesystem>

#include "VLTDiskTestUtil.h"
#include "VLTFileCheckTestUtil.h"
#include "engine/base/VLTCRC32.h"

namespace vlt {
namespace {

using test::CodeOf;
using test::kSys;
using test::MessageOf;

class DiskPageManager : public test::DiskTest {};

// ---- creating and opening ----

TEST_F(DiskPageManager, NewPlainDatabaseHasOnlyItsProlog) {
  Create(512)->CloseDatabase();
  auto B = Bytes();
  ASSERT_EQ(B.size(), 380u);
  TVLTDBHeader Expected = NewDBHeader(512, 8);
  EXPECT_EQ(std::memcmp(B.data(), &Expected, 76), 0);
  EXPECT_EQ(LoadLE<int16_t>(B.data() + 76), 280);
  for (int I = 78; I < 356; ++I) ASSERT_EQ(B[I], 0) << I;  // algorithm, block and CRC all 0
  EXPECT_EQ(LoadLE<int16_t>(B.data() + 356), 20);
  EXPECT_EQ(LoadLE<int32_t>(B.data() + 376), 0);

  test::DiskTest::TOpenResult R;
  auto M = Open({"any password", craTwofish_256}, &R);  // a plain file opens with any password
  EXPECT_FALSE(R.RepairNeeded);
  EXPECT_FALSE(M->Encrypted());
  EXPECT_EQ(M->PageSize(), 512);
  EXPECT_EQ(M->PageDataSize(), 472);
  EXPECT_EQ(M->OffsetToFirstPage(), 380);
}

TEST_F(DiskPageManager, EncryptedDatabaseChecksThePasswordAtOpen) {
  Create(512, {"secret", craBlowfish})->CloseDatabase();
  auto B = Bytes();
  EXPECT_EQ(B[43], 0xFF);
  EXPECT_EQ(B[76 + 2], craBlowfish);
  EXPECT_NE(LoadLE<uint32_t>(B.data() + 76 + 260), 0u);

  // The file's algorithm wins over the one asked for.
  auto M = Open({"secret", craRijndael_128});
  EXPECT_EQ(M->Password().CryptoAlgorithm, craBlowfish);
  M->CloseDatabase();

  auto Wrong = NewManager();
  bool ReadOnly = false, Repair = false, MultiUser = false;
  EXPECT_EQ(CodeOf([&] {
              Wrong->OpenDatabase(Path, {"Secret", craBlowfish}, ReadOnly, Repair, true, MultiUser);
            }),
            30445);
  EXPECT_EQ(Wrong->FreeSpaceManager(), nullptr);  // stopped before anything page-related
  Wrong->CloseDatabase();
  EXPECT_EQ(CodeOf([&] { Open({"", craBlowfish}); }), 30445);
  EXPECT_EQ(Bytes(), B);  // opening wrote nothing
}

TEST_F(DiskPageManager, OpenRejectsForeignAndDamagedFiles) {
  test::DiskTest::TOpenResult R;
  {
    std::vector<uint8_t> Junk(4000, 'x');
    FILE* F = std::fopen(Path.c_str(), "wb");
    std::fwrite(Junk.data(), 1, Junk.size(), F);
    std::fclose(F);
  }
  EXPECT_EQ(MessageOf([&] { Open(); }),
            "Invalid file format. Found signature: 'xxxxxxxxxxxxxxxx', expected: "
            "'VAULTR1XDATABASE' - Native error: 10470");

  Create(512)->CloseDatabase();
  int16_t BadCryptoSize = 200;
  Poke(76, &BadCryptoSize, 2);
  EXPECT_EQ(CodeOf([&] { Open(); }), 20237);

  Create(512)->CloseDatabase();
  uint16_t ZeroPageSize = 0;
  Poke(26, &ZeroPageSize, 2);
  EXPECT_EQ(CodeOf([&] { Open(); }), 20237);

  Create(512)->CloseDatabase();
  int32_t LastUsedBeyondEnd = 10;
  Poke(34, &LastUsedBeyondEnd, 4);
  EXPECT_EQ(CodeOf([&] { Open(); }), 20237);
}

TEST_F(DiskPageManager, RepairFlag) {
  struct Row {
    const char* Name;
    uint8_t WriteChangesState;
    double Version;
    bool Repair;
  };
  const Row Rows[] = {{"complete", 2, 7.91, false},
                      {"interrupted commit", 1, 7.91, true},
                      {"old version", 2, 2.5, true},
                      {"version 2.99", 2, 2.99, false}};
  for (const auto& Row : Rows) {
    SCOPED_TRACE(Row.Name);
    Create(512)->CloseDatabase();
    Poke(42, &Row.WriteChangesState, 1);
    Poke(18, &Row.Version, 8);
    test::DiskTest::TOpenResult R;
    Open({}, &R);
    EXPECT_EQ(R.RepairNeeded, Row.Repair);
  }
}

TEST_F(DiskPageManager, HeaderFoundInsideALargerFile) {
  {
    auto M = Create(512);
    TVLTPage* P = M->AddPage(kSys, ptTableRecord);
    std::memset(P->PageData(), 0x5C, P->PageDataSize());
    M->PutPage(P);
    M->ApplyChanges(kSys);
  }
  auto Db = Bytes();
  std::vector<uint8_t> Shifted(12345 + Db.size(), 0);
  std::copy(Db.begin(), Db.end(), Shifted.begin() + 12345);
  FILE* F = std::fopen(Path.c_str(), "wb");
  std::fwrite(Shifted.data(), 1, Shifted.size(), F);
  std::fclose(F);

  auto M = Open();
  EXPECT_EQ(M->OffsetToDBHeader(), 12345);
  EXPECT_EQ(M->OffsetToLockedBytes(), 12345 + 356);
  EXPECT_EQ(M->OffsetToFirstPage(), 12345 + 380);
  TVLTPage* P = M->GetPage(kSys, 2, ptTableRecord);
  EXPECT_EQ(P->PageData()[100], 0x5C);
  M->PutPage(P);
}

TEST_F(DiskPageManager, SecondOpenOfTheSameManagerIsRefused) {
  auto M = Create(512);
  EXPECT_EQ(CodeOf([&] { M->CreateAndOpenDatabase(Path, {}, 512, 8); }), 10461);
  bool ReadOnly = false, Repair = false, MultiUser = false;
  EXPECT_EQ(CodeOf([&] { M->OpenDatabase(Path, {}, ReadOnly, Repair, true, MultiUser); }),
            10462);
}

// ---- reading and writing pages ----

TEST_F(DiskPageManager, EncryptedPagesAreStoredCipheredAndCheckedOnRead) {
  const TVLTPassword Pw{"pw", craRijndael_128};
  {
    auto M = Create(512, Pw);
    for (int I = 0; I < 2; ++I) {
      TVLTPage* P = M->AddPage(kSys, ptTableRecord);
      std::memset(P->PageData(), 0x41, P->PageDataSize());
      EXPECT_EQ(P->PageNo(), 2 + I);
      M->PutPage(P);
    }
    M->ApplyChanges(kSys);
    // The cached copies stayed plain.
    TVLTPage* P = M->GetPage(kSys, 2, ptTableRecord);
    EXPECT_EQ(P->PageData()[0], 0x41);
    M->PutPage(P);
  }
  auto B = Bytes();
  const uint8_t* Page2 = B.data() + PageOffset(2);
  const uint8_t* Page3 = B.data() + PageOffset(3);
  EXPECT_EQ(std::memcmp(Page2, "VLTP", 4), 0);  // the header stays plain
  EXPECT_EQ(Page2[20], craRijndael_128);
  std::vector<uint8_t> Plain(472, 0x41);
  EXPECT_EQ(LoadLE<uint32_t>(Page2 + 14), CalcCRC32(0, Plain.data(), Plain.size()));
  EXPECT_NE(Page2[40], 0x41);
  EXPECT_EQ(std::memcmp(Page2 + 40, Page3 + 40, 472), 0);  // equal plain data, equal cipher text
  EXPECT_EQ(B[PageOffset(0) + 40], 0x0F);                  // bitmap pages stay plain

  uint8_t Flip = static_cast<uint8_t>(Page2[300] ^ 0x01);
  Poke(PageOffset(2) + 300, &Flip, 1);
  {
    auto M = Open(Pw);
    EXPECT_EQ(MessageOf([&] { M->GetPage(kSys, 2, ptTableRecord); }),
              "Decrypt page error. Check CRC failed. PageNo: 2 - Native error: 30446");
    M->PutPage(M->GetPage(kSys, 3, ptTableRecord));
    M->SetIgnoreCRCErrors(true);
    TVLTPage* P = M->GetPage(kSys, 2, ptTableRecord);  // damaged plain data returned
    M->PutPage(P);
  }
}

TEST_F(DiskPageManager, PageIsDecryptedWithTheAlgorithmInItsOwnHeader) {
  const std::string Other = Dir + "/other.vlt";
  {
    auto M = NewManager();
    M->CreateAndOpenDatabase(Other, {"pw", craTwofish_256}, 512, 8);
    TVLTPage* P = M->AddPage(kSys, ptTableRecord);
    std::memset(P->PageData(), 0x77, P->PageDataSize());
    M->PutPage(P);
    M->ApplyChanges(kSys);
  }
  {
    auto M = Create(512, {"pw", craDES_Triple});
    M->PutPage(M->AddPage(kSys, ptTableRecord));
    M->ApplyChanges(kSys);
  }
  // Page 2 of the triple-DES database replaced by the Twofish page of the other one.
  std::vector<uint8_t> Foreign(512);
  {
    FILE* F = std::fopen(Other.c_str(), "rb");
    std::fseek(F, 380 + 2 * 512, SEEK_SET);
    ASSERT_EQ(std::fread(Foreign.data(), 1, 512, F), 512u);
    std::fclose(F);
  }
  ASSERT_EQ(Foreign[20], craTwofish_256);
  Poke(PageOffset(2), Foreign.data(), Foreign.size());
  auto M = Open({"pw", craRijndael_128});
  EXPECT_EQ(M->Password().CryptoAlgorithm, craDES_Triple);
  TVLTPage* P = M->GetPage(kSys, 2, ptTableRecord);
  EXPECT_EQ(P->PageData()[0], 0x77);
  EXPECT_EQ(P->PageData()[471], 0x77);
  M->PutPage(P);
}

TEST_F(DiskPageManager, SystemPagesAreRefused) {
  auto M = Create(512);
  M->PutPage(M->AddPage(kSys, ptTableRecord));
  M->ApplyChanges(kSys);
  EXPECT_EQ(CodeOf([&] { M->GetPage(kSys, 0, ptAny); }), 30434);
  EXPECT_EQ(CodeOf([&] { M->GetPage(kSys, 1, ptAny); }), 30434);
  EXPECT_EQ(CodeOf([&] { M->RemovePage(kSys, 3776); }), 30434);
  EXPECT_EQ(MessageOf([&] { M->RemovePage(kSys, 1); }),
            "Cannot delete PFS or EAM page. PageNo=1 - Native error: 30434");
}

TEST_F(DiskPageManager, PageRegions) {
  auto M = Create(512);
  M->PutPage(M->AddPage(kSys, ptActiveSessionList));
  M->ApplyChanges(kSys);
  uint8_t Buf[20] = {1, 2, 3};
  EXPECT_EQ(MessageOf([&] { M->ReadPageRegion(Buf, 2, 500, 20); }),
            "Error - invalid page offset = 520, page size = 512 - Native error: 10476");
  EXPECT_EQ(CodeOf([&] { M->WritePageRegion(Buf, 2, 500, 20); }), 10477);
  M->WritePageRegion(Buf, 2, 492, 20);
  uint8_t Back[20] = {};
  M->ReadPageRegion(Back, 2, 492, 20);
  EXPECT_EQ(std::memcmp(Back, Buf, 20), 0);
  EXPECT_EQ(CodeOf([&] { M->ReadPageRegion(Back, 50, 0, 20); }), 10474);  // beyond the file
  EXPECT_EQ(MessageOf([&] { M->PagePosition(-1); }), "Invalid PageNo = -1 - Native error: 10471");
}

// ---- commits ----

TEST_F(DiskPageManager, CommitWritesHeaderPagesHeaderInThisOrder) {
  auto M = Create(512);
  for (int I = 0; I < 3; ++I) M->PutPage(M->AddPage(kSys, ptTableRecord));
  std::vector<std::pair<TVLTDiskWrite, TVLTPageNo>> Writes;
  std::vector<uint8_t> HeaderStates;
  M->SetWriteHook([&](TVLTDiskWrite W, TVLTPageNo No) {
    Writes.push_back({W, No});
    if (W == TVLTDiskWrite::DBHeader) HeaderStates.push_back(M->DBHeader().WriteChangesState);
  });
  int32_t StateBefore = StoredHeader().State;
  M->ApplyChanges(kSys);
  using W = TVLTDiskWrite;
  // The journal's fixed part first; the pages are new, so it saves none of them.
  const std::vector<std::pair<TVLTDiskWrite, TVLTPageNo>> Expected = {
      {W::Journal, -1}, {W::DBHeader, -1}, {W::Page, 2},    {W::Page, 3},
      {W::Page, 4},     {W::DBHeader, -1}};
  EXPECT_EQ(Writes, Expected);
  EXPECT_FALSE(TVLTDatabaseFile::FileExists(TVLTRollbackJournal::PathFor(M->DatabaseFile().FileName())));
  EXPECT_EQ(HeaderStates, (std::vector<uint8_t>{1, 2}));
  EXPECT_EQ(+StoredHeader().State, StateBefore + 1);
  EXPECT_EQ(+StoredHeader().WriteChangesState, 2);

  // Changing N pages again writes each once and the header twice; reading writes nothing.
  Writes.clear();
  for (TVLTPageNo No : {4, 2, 3}) {
    TVLTPage* P = M->GetPage(kSys, No, ptTableRecord);
    P->PageData()[0] = 1;
    P->SetIsDirty(true);
    M->PutPage(P);
  }
  M->ApplyChanges(kSys);
  // Now the three previous images go to the journal, with its fixed part in one write, before
  // the header is touched.
  const std::vector<std::pair<TVLTDiskWrite, TVLTPageNo>> Again = {
      {W::Journal, -1}, {W::DBHeader, -1}, {W::Page, 2},
      {W::Page, 3},     {W::Page, 4},      {W::DBHeader, -1}};
  EXPECT_EQ(Writes, Again);
  Writes.clear();
  M->PutPage(M->GetPage(0, 3, ptTableRecord));
  M->ApplyChanges(0);
  M->ApplyChanges(kSys);
  EXPECT_TRUE(Writes.empty());
}

TEST_F(DiskPageManager, CachedPageIsServedWithoutReadingTheFile) {
  auto M = Create(512);
  TVLTPage* P = M->AddPage(kSys, ptTableRecord);
  P->PageData()[0] = 0x10;
  M->PutPage(P);
  M->ApplyChanges(kSys);
  const uint8_t Junk = 0x99;
  Poke(PageOffset(2) + 40, &Junk, 1);  // changed behind the engine's back
  P = M->GetPage(0, 2, ptTableRecord);
  EXPECT_EQ(P->PageData()[0], 0x10);  // single-user: the cached copy, no read
  M->PutPage(P);
  M->CheckInvariants();
  M->CloseDatabase();  // the cache goes with the file
  EXPECT_EQ(M->SharedPages().Count(), 0);
}

TEST_F(DiskPageManager, RemovedPageIsMarkedFreedInTheFile) {
  auto M = Create(512);
  for (int I = 0; I < 3; ++I) M->PutPage(M->AddPage(kSys, ptTableRecord));
  M->ApplyChanges(kSys);
  M->RemovePage(kSys, 3);
  EXPECT_NE(Peek<int32_t>(PageOffset(3) + 4), 0x7FFFFFFF);  // nothing before the commit
  M->ApplyChanges(kSys);
  EXPECT_EQ(Peek<int32_t>(PageOffset(3) + 4), 0x7FFFFFFF);
  EXPECT_FALSE(M->FreeSpaceManager()->GetPageUsageFromPFS(3));
  EXPECT_EQ(Bytes()[PageOffset(0) + 40], 0x17);  // pages 0, 1, 2, 4
}

TEST_F(DiskPageManager, PageStateCountsWritesAndSkipsTheReservedValue) {
  auto M = Create(512);
  TVLTPage* P = M->AddPage(kSys, ptTableRecord);
  P->PageHeader()->State = 0x7FFFFFFB;
  M->PutPage(P);
  M->ApplyChanges(kSys);
  EXPECT_EQ(Peek<int32_t>(PageOffset(2) + 4), 0x7FFFFFFC);
  P = M->GetPage(kSys, 2, ptTableRecord);
  P->SetIsDirty(true);
  M->PutPage(P);
  M->ApplyChanges(kSys);
  EXPECT_EQ(Peek<int32_t>(PageOffset(2) + 4), 0);
}

TEST_F(DiskPageManager, FailedPageWriteLeavesTheCommitMarkedAndThePagePlain) {
  auto M = Create(512, {"pw", craRijndael_256});
  for (int I = 0; I < 2; ++I) {
    TVLTPage* P = M->AddPage(kSys, ptTableRecord);
    std::memset(P->PageData(), 0x2A, P->PageDataSize());
    M->PutPage(P);
  }
  M->SetWriteHook([](TVLTDiskWrite W, TVLTPageNo No) {
    if (W == TVLTDiskWrite::Page && No == 3) throw EVLTException(10469, "injected write failure");
  });
  EXPECT_EQ(CodeOf([&] { M->ApplyChanges(kSys); }), 10469);
  EXPECT_EQ(+StoredHeader().WriteChangesState, 1);
  EXPECT_EQ(M->LockDBHeaderCount(), 0);
  const TVLTPage* Pending = M->SessionInfo(kSys)->DirtyPages.Find(3);
  ASSERT_NE(Pending, nullptr);
  EXPECT_EQ(Pending->PageData()[0], 0x2A);  // decrypted again after the failed write

  // A commit of another session does not hide the half-written one.
  M->SetWriteHook(nullptr);
  TVLTPage* Other = M->GetPage(0, 2, ptTableRecord);
  Other->SetIsDirty(true);
  M->PutPage(Other);
  M->ApplyChanges(0);
  EXPECT_EQ(+StoredHeader().WriteChangesState, 1);
  // Retrying the failed commit completes it.
  M->ApplyChanges(kSys);
  EXPECT_EQ(+StoredHeader().WriteChangesState, 2);
  M->CloseDatabase();
  auto Back = Open({"pw", craRijndael_256});
  TVLTPage* P = Back->GetPage(kSys, 3, ptTableRecord);
  EXPECT_EQ(P->PageData()[471], 0x2A);
  Back->PutPage(P);
  Back->CloseDatabase();
  test::ExpectSoundDatabaseFile(Path, {"pw", craRijndael_256});
}

// ---- locks and object ids ----

TEST_F(DiskPageManager, HeaderLockIsCounted) {
  Create(512)->CloseDatabase();
  TVLTDatabaseFile Observer;  // another open of the file, as another process would have
  test::DiskTest::TOpenResult R;
  auto Shared = Open({}, &R, /*MultiUser=*/true);
  Observer.OpenFile(Path, amReadOnly, smShareDenyNone);
  EXPECT_TRUE(Shared->LockDBHeader());
  EXPECT_TRUE(Shared->LockDBHeader());
  EXPECT_TRUE(Observer.IsByteLocked(360));
  EXPECT_TRUE(Shared->UnlockDBHeader());
  EXPECT_TRUE(Observer.IsByteLocked(360));
  EXPECT_TRUE(Shared->UnlockDBHeader());
  EXPECT_FALSE(Observer.IsByteLocked(360));
  EXPECT_FALSE(Shared->UnlockDBHeader());

  // Another process's (here: another open's) header lock makes a commit wait and then fail.
  ASSERT_TRUE(Observer.LockByte(360, 1));
  EXPECT_EQ(CodeOf([&] { Shared->AddPage(0, ptTableRecord); }), 20231);
  EXPECT_EQ(CodeOf([&] { Shared->PageCount(); }), 20236);
}

TEST_F(DiskPageManager, ObjectIds) {
  {
    auto M = Create(512);
    EXPECT_EQ(M->GetNextObjectID(), 1);
    EXPECT_EQ(M->GetNextObjectID(), 2);
    EXPECT_EQ(Peek<int32_t>(376), 2);
  }
  auto Before = Bytes();
  test::DiskTest::TOpenResult R;
  auto M = Open({}, &R, false, /*ReadOnly=*/true);
  EXPECT_TRUE(R.ReadOnly);
  int32_t Id = M->GetNextObjectID();
  EXPECT_GE(Id, 3);
  EXPECT_LT(Id, 3 + 10000);
  EXPECT_EQ(Bytes(), Before);
  M->CloseDatabase();
  EXPECT_EQ(CodeOf([&] { M->GetNextObjectID(); }), 30399);
}

// ---- several users ----

TEST_F(DiskPageManager, MultiUserPagesFollowOtherWritersUnlessTheTableIsLocked) {
  {
    auto M = Create(512);
    M->PutPage(M->AddPage(kSys, ptTableRecord));
    M->ApplyChanges(kSys);
  }
  test::DiskTest::TOpenResult RA, RB;
  auto A = Open({}, &RA, true);
  auto B = Open({}, &RB, true);
  ASSERT_TRUE(RA.MultiUser);
  A->PutPage(A->GetPage(0, 2, ptTableRecord));  // cached in A

  auto Change = [&](uint8_t V) {
    TVLTPage* P = B->GetPage(0, 2, ptTableRecord);
    P->PageData()[0] = V;
    P->SetIsDirty(true);
    B->PutPage(P);
    B->ApplyChanges(0);
  };
  Change(7);
  TVLTPage* P = A->GetPage(0, 2, ptTableRecord);
  EXPECT_EQ(P->PageData()[0], 7);  // State differed: reread
  A->PutPage(P);

  // While A holds a table lock and has loaded the table's state, it trusts its cache.
  auto& Cache = A->TablePagesCacheManager();
  Cache.TableIsSLocked(0, 42);
  Cache.SetIsMostUpdatedLoaded(0, 42, 5);
  Cache.BeginWorkWithTable(0, 42);
  A->PutPage(A->GetPage(0, 2, ptTableRecord));  // checked once more, stamped with state 5
  Change(8);
  P = A->GetPage(0, 2, ptTableRecord);
  EXPECT_EQ(P->PageData()[0], 7);  // trusted, no file access
  A->PutPage(P);
  Cache.EndWorkWithTable(0, 42);
  Cache.TableIsSUnlocked(0, 42);
  P = A->GetPage(0, 2, ptTableRecord);
  EXPECT_EQ(P->PageData()[0], 8);
  A->PutPage(P);
}

TEST_F(DiskPageManager, ARereadThatFailsItsChecksLeavesNoStaleCopy) {
  const TVLTPassword Pw{"pw", craSquare};
  {
    auto M = Create(512, Pw);
    M->PutPage(M->AddPage(kSys, ptTableRecord));
    M->ApplyChanges(kSys);
  }
  test::DiskTest::TOpenResult R;
  auto A = Open(Pw, &R, true);
  A->PutPage(A->GetPage(0, 2, ptTableRecord));
  int32_t NewState = Peek<int32_t>(PageOffset(2) + 4) + 5;  // "another process wrote it"
  Poke(PageOffset(2) + 4, &NewState, 4);
  uint8_t Flip = static_cast<uint8_t>(Peek<uint8_t>(PageOffset(2) + 100) ^ 0xFF);
  Poke(PageOffset(2) + 100, &Flip, 1);
  EXPECT_EQ(CodeOf([&] { A->GetPage(0, 2, ptTableRecord); }), 30446);
  EXPECT_EQ(A->SharedPages().Find(2), nullptr);
  EXPECT_EQ(CodeOf([&] { A->GetPage(0, 2, ptTableRecord); }), 30446);  // still checked
  A->CheckInvariants();
}

TEST(TVLTDiskTablePagesCacheManager, LockCountsResetTheLoadedState) {
  TVLTDiskTablePagesCacheManager C;
  int32_t S = 0;
  EXPECT_FALSE(C.GetWorkTableState(3, S));
  C.BeginWorkWithTable(3, 10);
  EXPECT_FALSE(C.GetWorkTableState(3, S));  // neither locked nor loaded
  C.TableIsRWLocked(3, 10);
  C.SetIsMostUpdatedLoaded(3, 10, 77);
  C.SetIsMostUpdatedLoaded(3, 10, 78);  // ignored until the next reset
  EXPECT_TRUE(C.GetWorkTableState(3, S));
  EXPECT_EQ(S, 77);
  C.TableIsSLocked(3, 10);  // a second lock keeps the state
  C.TableIsRWUnlocked(3, 10);
  EXPECT_TRUE(C.GetWorkTableState(3, S));
  C.TableIsSUnlocked(3, 10);  // the last lock resets it
  EXPECT_FALSE(C.GetWorkTableState(3, S));
  EXPECT_EQ(S, -1);
  C.BeginWorkWithTable(3, 11);
  C.EndWorkWithTable(3, 10);
  C.TableIsSLocked(3, 11);
  C.SetIsMostUpdatedLoaded(3, 11, 1);
  EXPECT_TRUE(C.GetWorkTableState(3, S));
  EXPECT_EQ(S, 1);
  EXPECT_FALSE(C.GetWorkTableState(-2, S));  // the system session has an entry of its own
}

}  // namespace
}  // namespace vlt

namespace vlt {
namespace {

// The header list a check scans ends with the file, however many pages a (damaged) header
// counts: a cut file gives the pages it still holds, and no list the size of the count.
TEST_F(DiskPageManager, PageHeadersEndWithTheFile) {
  auto M = Create(512);
  for (int I = 0; I < 6; ++I) M->PutPage(M->AddPage(test::kSys, ptTableRecord));
  M->ApplyChanges(test::kSys);
  std::vector<TVLTDiskPageHeader> Headers;
  M->ReadPageHeaders(Headers);
  const auto Count = static_cast<size_t>(M->PageCount());
  ASSERT_EQ(Headers.size(), Count);
  std::filesystem::resize_file(
      Path, static_cast<uintmax_t>(PageOffset(static_cast<TVLTPageNo>(Count) - 2)));
  M->ReadPageHeaders(Headers);
  EXPECT_EQ(Headers.size(), Count - 2);
  EXPECT_EQ(static_cast<size_t>(M->PageCount()), Count);  // what the header still says
}

// A scan through more pages than the cache holds reads each page into the buffer of one
// evicted a moment ago: every page must come back with its own bytes, also after a read that
// failed its checks on such a buffer, and after the cache was emptied.
TEST_F(DiskPageManager, PagesReadThroughAFullCacheKeepTheirOwnBytes) {
  const TVLTPassword Pw{"pw", craRijndael_128};
  constexpr int kPages = 12;
  {
    auto M = Create(512, Pw);
    for (int I = 0; I < kPages; ++I) {
      TVLTPage* P = M->AddPage(kSys, ptTableRecord);
      std::memset(P->PageData(), 0x10 + I, P->PageDataSize());
      M->PutPage(P);
    }
    M->ApplyChanges(kSys);
  }
  auto Check = [&](TVLTDiskPageManager& M, int I) {
    TVLTPage* P = M.GetPage(kSys, 2 + I, ptTableRecord);
    const std::vector<uint8_t> Want(P->PageDataSize(), static_cast<uint8_t>(0x10 + I));
    const bool Same = std::memcmp(P->PageData(), Want.data(), Want.size()) == 0;
    M.PutPage(P);
    return Same;
  };
  uint8_t Flip = static_cast<uint8_t>(Peek<uint8_t>(PageOffset(2 + 5) + 200) ^ 0x01);
  Poke(PageOffset(2 + 5) + 200, &Flip, 1);  // page 7 no longer passes its check
  auto M = Open(Pw);
  M->SetCacheCapacity(3);
  for (int Round = 0; Round < 2; ++Round) {
    for (int I = 0; I < kPages; ++I) {
      if (I == 5) {
        EXPECT_EQ(CodeOf([&] { M->GetPage(kSys, 2 + I, ptTableRecord); }), 30446);
        EXPECT_EQ(M->SharedPages().Find(2 + I), nullptr);
        continue;
      }
      EXPECT_TRUE(Check(*M, I)) << "page " << 2 + I << " in round " << Round;
    }
    for (int I = kPages - 1; I >= 0; I -= 3) EXPECT_TRUE(I == 5 || Check(*M, I)) << I;
    EXPECT_LE(M->SharedPages().Count(), 3);
    M->CheckInvariants();
  }
  EXPECT_EQ(CodeOf([&] { M->GetPage(kSys, 2 + kPages + 50, ptTableRecord); }), 20299);
  EXPECT_TRUE(Check(*M, 0));
  M->CloseDatabase();
  auto Again = Open(Pw);
  Again->SetCacheCapacity(2);
  for (int I = kPages - 1; I >= 0; --I) EXPECT_TRUE(I == 5 || Check(*Again, I)) << I;
}

}  // namespace
}  // namespace vlt
