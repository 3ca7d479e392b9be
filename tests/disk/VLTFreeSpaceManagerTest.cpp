#include "engine/disk/VLTFreeSpaceManager.h"

#include <gtest/gtest.h>

#include "VLTDiskTestUtil.h"
#include "VLTFileCheckTestUtil.h"

namespace vlt {
namespace {

using test::CodeOf;
using test::kSys;

class FreeSpace : public test::DiskTest {
 protected:
  TVLTPageNo Add(TVLTDiskPageManager& M) {
    TVLTPage* P = M.AddPage(kSys, ptTableRecord);
    TVLTPageNo No = P->PageNo();
    M.PutPage(P);
    return No;
  }
  int64_t FileSize() const { return static_cast<int64_t>(std::filesystem::file_size(Path)); }
  uint8_t DataByte(TVLTPageNo Page, int I, uint16_t PageSize = 512) const {
    return Peek<uint8_t>(PageOffset(Page, PageSize) + 40 + I);
  }
  uint16_t TypeOf(TVLTPageNo Page, uint16_t PageSize = 512) const {
    return Peek<uint16_t>(PageOffset(Page, PageSize) + 8);
  }
};

TEST_F(FreeSpace, FirstAllocationsOfAnEmptyFile) {
  auto M = Create(512);
  EXPECT_EQ(M->FreeSpaceManager()->AddPagesStep(), 6);
  EXPECT_EQ(Add(*M), 2);
  EXPECT_EQ(FileSize(), 380 + 6 * 512);
  EXPECT_EQ(+StoredHeader().TotalPageCount, 6);
  EXPECT_EQ(+StoredHeader().LastUsedPageNo, 2);
  EXPECT_EQ(TypeOf(0), ptPFS);
  EXPECT_EQ(TypeOf(1), ptEAM);
  EXPECT_EQ(DataByte(0, 0), 0x07);
  EXPECT_EQ(DataByte(1, 0), 0x01);
  EXPECT_EQ(Add(*M), 3);
  EXPECT_EQ(Add(*M), 4);
  EXPECT_EQ(FileSize(), 380 + 6 * 512);
  EXPECT_EQ(DataByte(0, 0), 0x1F);
  EXPECT_EQ(+StoredHeader().LastUsedPageNo, 4);
  EXPECT_EQ(Add(*M), 5);
  // Pages 2 to 5 in use: the next growth is max(6 div 10, 8) = 8 pages.
  EXPECT_EQ(M->FreeSpaceManager()->AddPagesStep(), 8);
  EXPECT_EQ(Add(*M), 6);
  EXPECT_EQ(+StoredHeader().TotalPageCount, 14);
  EXPECT_EQ(FileSize(), 380 + 14 * 512);
  M->CancelChanges(kSys);  // every page added is given back
  EXPECT_EQ(DataByte(0, 0), 0x03);
}

TEST_F(FreeSpace, TheInvariantCheckNamesWhatABrokenBitmapContradicts) {
  auto M = Create(512);
  for (int I = 0; I < 4; ++I) Add(*M);  // pages 2..5
  M->ApplyChanges(kSys);
  EXPECT_NO_THROW(M->CheckDiskInvariants());
  // Page 4's bit cleared behind the manager's back: a live page marked free, and the pages the
  // header says are in use no longer are.
  const uint8_t Cleared = DataByte(0, 0) & ~(1u << 4);
  Poke(PageOffset(0) + 40, &Cleared, 1);
  try {
    M->FreeSpaceManager()->CheckInvariants();
    ADD_FAILURE() << "no violation found";
  } catch (const EVLTException& E) {
    EXPECT_EQ(E.NativeError(), 20981);
    EXPECT_NE(E.Message().find("page 4: marked free but holds a live"), std::string::npos)
        << E.Message();
  }
}

TEST_F(FreeSpace, FreedPagesAreReusedLowestFirstAndTheTailShrinks) {
  auto M = Create(512);
  for (int I = 0; I < 30; ++I) Add(*M);  // pages 2 .. 31
  M->ApplyChanges(kSys);
  const int32_t Total = StoredHeader().TotalPageCount;
  M->RemovePage(kSys, 9);
  M->RemovePage(kSys, 5);
  M->ApplyChanges(kSys);
  EXPECT_EQ(Add(*M), 5);
  EXPECT_EQ(Add(*M), 9);
  M->ApplyChanges(kSys);

  // Free the top 20 pages: the free tail is at least one step and is cut in whole steps.
  for (TVLTPageNo No = 12; No <= 31; ++No) M->RemovePage(kSys, No);
  M->ApplyChanges(kSys);
  auto H = StoredHeader();
  EXPECT_EQ(+H.LastUsedPageNo, 11);
  EXPECT_LT(+H.TotalPageCount, Total);
  EXPECT_GE(+H.TotalPageCount, 12);
  EXPECT_EQ(FileSize(), 380 + int64_t{H.TotalPageCount} * 512);

  // Freeing everything skips LastUsedPageNo back over the bitmap pages to -1.
  for (TVLTPageNo No = 2; No <= 11; ++No) M->RemovePage(kSys, No);
  M->ApplyChanges(kSys);
  EXPECT_EQ(+StoredHeader().LastUsedPageNo, -1);
  EXPECT_EQ(Add(*M), 2);
}

TEST_F(FreeSpace, FreeingTwiceAndBitmapPagesAreRefused) {
  auto M = Create(512);
  Add(*M);
  Add(*M);
  M->ApplyChanges(kSys);
  M->FreeSpaceManager()->FreePage(3);
  EXPECT_EQ(CodeOf([&] { M->FreeSpaceManager()->FreePage(3); }), 30427);
  EXPECT_EQ(CodeOf([&] { M->FreeSpaceManager()->FreePage(100); }), 30430);
  EXPECT_EQ(M->LockDBHeaderCount(), 0);  // the lock is released on failure too
  EXPECT_EQ(CodeOf([&] { M->FreeSpaceManager()->CheckPageNoForSystemPages(0); }), 30434);
}

TEST_F(FreeSpace, WrongBitmapPageTypeIsReported) {
  auto M = Create(512);
  Add(*M);
  M->ApplyChanges(kSys);
  uint16_t Record = ptTableRecord;
  Poke(PageOffset(1) + 8, &Record, 2);  // the EAM page damaged
  // An exclusive owner keeps the bitmaps it wrote in memory; the next open meets the damage.
  M.reset();
  M = Open();
  EXPECT_EQ(test::MessageOf([&] { Add(*M); }),
            "Wrong page type. Found 'TableRecord Page', but expecting: 'EAM Page' - Native "
            "error: 30423");
}

// The growth that crosses the first PFS page's range: the second PFS page (3776 at page size
// 512) is formatted and never handed out.
TEST_F(FreeSpace, GrowthAcrossTheSecondPFSPage) {
  auto M = Create(512);
  TVLTPageNo Last = 0;
  for (int I = 0; I < 3780; ++I) {
    Last = Add(*M);
    ASSERT_NE(Last, 3776);
    if (I % 500 == 0) M->ApplyChanges(kSys);
  }
  M->ApplyChanges(kSys);
  EXPECT_EQ(Last, 3782);  // 3780 pages from 2, skipping 3776
  EXPECT_EQ(TypeOf(3776), ptPFS);
  EXPECT_EQ(DataByte(3776, 0), 0x7F);  // itself and 3777 .. 3782
  EXPECT_EQ(DataByte(0, 0), 0xFF);
  EXPECT_EQ(DataByte(0, 471), 0xFF);
  EXPECT_EQ(DataByte(1, 0), 0xFF);  // the first extents are full
  auto H = StoredHeader();
  EXPECT_EQ(FileSize(), 380 + int64_t{H.TotalPageCount} * 512);
  EXPECT_FALSE(M->FreeSpaceManager()->IsSystemPage(H.TotalPageCount - 1));
}

TEST_F(FreeSpace, ASecondManagerOnTheFileSeesTheSameAllocation) {
  Create(512)->CloseDatabase();
  test::DiskTest::TOpenResult R;
  auto A = Open({}, &R, true);
  auto B = Open({}, &R, true);
  EXPECT_EQ(Add(*A), 2);
  EXPECT_EQ(Add(*B), 3);
  EXPECT_EQ(Add(*A), 4);
  A->ApplyChanges(kSys);
  B->ApplyChanges(kSys);
  EXPECT_EQ(+StoredHeader().LastUsedPageNo, 4);
}

// Bitmap pages are read again by every allocation and every free: what another manager on the
// file did in between is always seen, in both directions.
TEST_F(FreeSpace, EveryOperationReadsTheBitmapsAgain) {
  Create(512)->CloseDatabase();
  test::DiskTest::TOpenResult R;
  auto A = Open({}, &R, true);
  auto B = Open({}, &R, true);
  for (TVLTPageNo Want = 2; Want <= 5; ++Want) EXPECT_EQ(Add(*A), Want);
  A->ApplyChanges(kSys);
  B->FreeSpaceManager()->FreePage(3);
  EXPECT_EQ(Add(*A), 3);  // freed by B after A last looked
  A->ApplyChanges(kSys);
  A->FreeSpaceManager()->FreePage(4);
  EXPECT_EQ(Add(*B), 4);
  B->ApplyChanges(kSys);
  EXPECT_EQ(Add(*A), 6);  // 4 is B's again
  A->ApplyChanges(kSys);
  EXPECT_EQ(DataByte(0, 0), 0x7F);  // pages 0 .. 6 in use, once each
  EXPECT_EQ(CodeOf([&] { B->FreeSpaceManager()->FreePage(5); }), 0);
  EXPECT_EQ(CodeOf([&] { A->FreeSpaceManager()->FreePage(5); }), 30427);  // B freed it
}

// A bitmap write that failed half-way through an allocation leaves nothing trusted behind: the
// next allocation reads the file and hands out the page the failed one could not mark.
TEST_F(FreeSpace, AFailedBitmapWriteIsReadAgain) {
  auto M = Create(512);
  EXPECT_EQ(Add(*M), 2);
  M->ApplyChanges(kSys);
  int Failures = 2;  // the write and its retry at the next allocation
  M->SetWriteHook([&](TVLTDiskWrite W, TVLTPageNo No) {
    if (W == TVLTDiskWrite::Page && No == 0 && Failures-- > 0)
      throw EVLTException(10469, "injected write failure");
  });
  EXPECT_EQ(CodeOf([&] { Add(*M); }), 10469);
  EXPECT_EQ(CodeOf([&] { Add(*M); }), 10469);
  EXPECT_EQ(M->LockDBHeaderCount(), 0);
  EXPECT_EQ(DataByte(0, 0), 0x07);  // page 3 is still free in the file
  EXPECT_EQ(Add(*M), 3);
  EXPECT_EQ(Add(*M), 4);
  M->SetWriteHook(nullptr);
  M->ApplyChanges(kSys);
  EXPECT_EQ(DataByte(0, 0), 0x1F);
  M->CloseDatabase();
  test::ExpectSoundDatabaseFile(Path);
}

// Page numbers below the first bitmap position are answered without the general test; the
// answers must agree with it everywhere, across several bitmap ranges and page sizes.
TEST_F(FreeSpace, SystemPagesAgreeWithTheGeometry) {
  for (const uint16_t PageSize : {512, 1024, 8192}) {
    SCOPED_TRACE(PageSize);
    auto M = Create(PageSize);
    const TVLTDatabaseFreeSpaceManager& FSM = *M->FreeSpaceManager();
    const TVLTFreeSpaceGeometry& G = FSM.Geometry();
    const int64_t Limit = 2 * G.EAMPagesAddressed + 3;
    int64_t Mismatches = 0, SystemPages = 0;
    for (int64_t N = -2; N < Limit; ++N) {
      const bool Expected = G.IsSystemPage(N);
      SystemPages += Expected ? 1 : 0;
      if (FSM.IsSystemPage(N) != Expected && ++Mismatches < 5) ADD_FAILURE() << "page " << N;
    }
    EXPECT_EQ(Mismatches, 0);
    EXPECT_GT(SystemPages, 4);
    M->CloseDatabase();
    std::filesystem::remove(Path);
  }
}

}  // namespace
}  // namespace vlt

namespace vlt {
namespace {

// The sole owner (an exclusive writer) keeps the header and the bitmap pages in memory between
// allocations; a writer that shares the file rereads them every time. Both must leave the same
// bytes after the same allocations, frees, truncation and failed allocation.
TEST_F(FreeSpace, SoleOwnerWritesWhatASharedWriterWrites) {
  std::vector<uint8_t> Files[2];
  for (const bool Exclusive : {true, false}) {
    SCOPED_TRACE(Exclusive ? "exclusive" : "shared");
    Create(512)->CloseDatabase();
    auto M = NewManager();
    bool ReadOnly = false, RepairNeeded = false, MultiUser = false;
    M->OpenDatabase(Path, {}, ReadOnly, RepairNeeded, Exclusive, MultiUser);
    ASSERT_EQ(M->SoleOwner(), Exclusive);
    for (int I = 0; I < 60; ++I) Add(*M);  // pages 2 .. 61
    M->ApplyChanges(kSys);
    for (TVLTPageNo No : {7, 3, 30}) M->RemovePage(kSys, No);
    M->ApplyChanges(kSys);
    EXPECT_EQ(Add(*M), 3);
    // A failed bitmap write in the middle of an allocation: the next one starts from the file.
    M->SetWriteHook([](TVLTDiskWrite W, TVLTPageNo No) {
      if (W == TVLTDiskWrite::Page && No == 0) throw EVLTException(10469, "injected");
    });
    EXPECT_EQ(CodeOf([&] { Add(*M); }), 10469);
    M->SetWriteHook(nullptr);
    EXPECT_EQ(Add(*M), 7);
    M->ApplyChanges(kSys);
    // The tail freed and cut outside the free-space manager's own steps.
    for (TVLTPageNo No = 40; No <= 61; ++No) M->RemovePage(kSys, No);
    M->ApplyChanges(kSys);
    M->TruncateDatabase();
    EXPECT_EQ(Add(*M), 30);
    EXPECT_EQ(Add(*M), 40);
    M->ApplyChanges(kSys);
    // A growth that fails after the file grew, when the page is being marked: the next
    // allocation must start from what the file holds.
    int64_t SizeBefore = 0;
    M->SetWriteHook([&](TVLTDiskWrite W, TVLTPageNo No) {
      if (W == TVLTDiskWrite::Page && No == 0 && FileSize() > SizeBefore)
        throw EVLTException(10469, "injected");
    });
    int Added = 0;
    for (; Added < 200; ++Added) {
      SizeBefore = FileSize();
      if (CodeOf([&] { Add(*M); }) == 10469) break;
    }
    EXPECT_LT(Added, 200);
    M->SetWriteHook(nullptr);
    for (int I = 0; I < 20; ++I) Add(*M);
    M->ApplyChanges(kSys);
    EXPECT_NO_THROW(M->CheckDiskInvariants());
    M->CloseDatabase();
    test::ExpectSoundDatabaseFile(Path);
    Files[Exclusive ? 0 : 1] = Bytes();
    // Pages start with a random State; everything else must agree.
    for (size_t At = 380 + 4; At + 4 <= Files[Exclusive ? 0 : 1].size(); At += 512)
      std::fill_n(Files[Exclusive ? 0 : 1].begin() + static_cast<std::ptrdiff_t>(At), 4, 0);
    std::filesystem::remove(Path);
  }
  ASSERT_EQ(Files[0].size(), Files[1].size());
  for (size_t I = 0; I < Files[0].size(); ++I)
    if (Files[0][I] != Files[1][I]) ADD_FAILURE() << "byte " << I << " differs";
}

}  // namespace
}  // namespace vlt
