#include "engine/disk/VLTInternalFile.h"

#include <gtest/gtest.h>

#include <numeric>
#include <vector>

#include "VLTDiskTestUtil.h"
#include "engine/core/VLTPage.h"
#include "engine/disk/VLTSystemDirectory.h"
#include "engine/disk/VLTTableList.h"

namespace vlt {
namespace {

using test::CodeOf;
using test::kSys;

constexpr uint16_t D = 472;  // page data of a 512-byte page

std::vector<uint8_t> Pattern(size_t N, uint8_t Seed = 1) {
  std::vector<uint8_t> V(N);
  for (size_t I = 0; I < N; ++I) V[I] = static_cast<uint8_t>(I * 31 + Seed);
  return V;
}

class InternalFile : public test::DiskTest {
 protected:
  // Page numbers of a chain, read through the cache.
  std::vector<TVLTPageNo> Chain(TVLTDiskPageManager& M, TVLTPageNo Start, uint16_t Type) {
    std::vector<TVLTPageNo> R;
    for (TVLTPageNo No = Start; No != kNoPage && R.size() < 100;) {
      R.push_back(No);
      TVLTPage* P = M.GetPage(kSys, No, Type);
      No = P->PageHeader()->NextPageNo;
      M.PutPage(P);
    }
    return R;
  }
};

// ---- position mapping ----

TEST(InternalFileMapping, LockPositionsAtPageBoundariesFallOnThePrecedingPage) {
  struct {
    int64_t Position;
    int32_t Page;
    uint16_t Offset;
  } Cases[] = {
      {0, 0, 10},          {D - 11, 0, D - 1}, {D - 10, 0, 0},     {D - 9, 1, 1},
      {2 * D - 11, 1, D - 1}, {2 * D - 10, 1, 0}, {2 * D - 9, 2, 1}, {3 * D - 10, 2, 0},
  };
  for (const auto& C : Cases) {
    auto P = InternalFileLockPosition(C.Position, D);
    EXPECT_EQ(P.ChainPage, C.Page) << C.Position;
    EXPECT_EQ(P.DataOffset, C.Offset) << C.Position;
  }
  // Content is laid out contiguously: D - 10 starts the second page.
  EXPECT_EQ(InternalFileContentPosition(D - 10, D).ChainPage, 1);
  EXPECT_EQ(InternalFileContentPosition(D - 10, D).DataOffset, 0);
  EXPECT_EQ(InternalFileContentPosition(D - 11, D).ChainPage, 0);
  EXPECT_EQ(InternalFilePageCount(0, D), 1);
  EXPECT_EQ(InternalFilePageCount(D - 10, D), 1);
  EXPECT_EQ(InternalFilePageCount(D - 9, D), 2);
}

// ---- transacted files ----

TEST_F(InternalFile, TransactedRoundTripAcrossPageBoundaries) {
  struct {
    const char* Name;
    int32_t Size;
    TVLTCompressionAlgorithm Algorithm;
    int32_t Pages;
  } Cases[] = {
      {"empty", 0, acaNone, 1},          {"one byte", 1, acaNone, 1},
      {"first page full", D - 10, acaNone, 1}, {"one byte more", D - 9, acaNone, 2},
      {"three pages", 2 * D + 5, acaNone, 3}, {"zlib", 5000, acaZLIB, -1},
      {"bzip2", 3000, acaBZIP, -1},
  };
  for (const auto& C : Cases) {
    SCOPED_TRACE(C.Name);
    auto M = Create();
    TVLTInternalDBTransactedAccessFile F(M.get(), ptTableMetaData);
    F.CreateFile(kSys);
    auto Data = Pattern(static_cast<size_t>(C.Size));
    F.WriteFile(kSys, Data.data(), C.Size, C.Algorithm, 6);
    M->ApplyChanges(kSys);
    if (C.Pages > 0) {
      EXPECT_EQ(Chain(*M, F.StartPageNo(), ptTableMetaData).size(), size_t(C.Pages));
    }

    // A fresh manager reads it from the file.
    const TVLTPageNo Start = F.StartPageNo();
    M->CloseDatabase();
    auto R = Open();
    TVLTInternalDBTransactedAccessFile G(R.get(), ptTableMetaData);
    G.OpenFile(Start);
    int32_t Stored = 0, Decompressed = 0;
    TVLTCompressionAlgorithm A = acaNone;
    bool Changed = false;
    G.GetFileSize(kSys, Stored, Decompressed, A, Changed);
    EXPECT_EQ(Decompressed, C.Size);
    EXPECT_EQ(A, C.Algorithm);
    EXPECT_TRUE(Changed);  // first read from the file
    if (C.Algorithm != acaNone) {
      EXPECT_LT(Stored, C.Size);
    }
    std::vector<uint8_t> Back(static_cast<size_t>(C.Size));
    G.ReadFile(kSys, Back.data(), C.Size);
    EXPECT_EQ(Back, Data);
    EXPECT_EQ(CodeOf([&] { G.ReadFile(kSys, Back.data(), C.Size + 1); }), 30387);
  }
}

TEST_F(InternalFile, ShrinkingKeepsTheChainAndGrowingReusesIt) {
  auto M = Create();
  TVLTInternalDBTransactedAccessFile F(M.get(), ptTableMetaData);
  F.CreateFile(kSys);
  auto Big = Pattern(2 * D + 100, 3);
  F.WriteFile(kSys, Big.data(), static_cast<int32_t>(Big.size()), acaNone, 0);
  M->ApplyChanges(kSys);
  auto Pages = Chain(*M, F.StartPageNo(), ptTableMetaData);
  ASSERT_EQ(Pages.size(), 3u);
  const int32_t LastUsed = M->DBHeader().LastUsedPageNo;

  auto Small = Pattern(20, 9);
  F.WriteFile(kSys, Small.data(), 20, acaNone, 0);
  M->ApplyChanges(kSys);
  EXPECT_EQ(Chain(*M, F.StartPageNo(), ptTableMetaData), Pages);
  EXPECT_EQ(F.GetSize(kSys), 20);
  std::vector<uint8_t> Back(20);
  F.ReadFile(kSys, Back.data(), 20);
  EXPECT_EQ(Back, Small);

  // Growing to two pages takes the kept second page instead of a new one.
  auto Mid = Pattern(D + 50, 5);
  F.WriteFile(kSys, Mid.data(), static_cast<int32_t>(Mid.size()), acaNone, 0);
  M->ApplyChanges(kSys);
  EXPECT_EQ(Chain(*M, F.StartPageNo(), ptTableMetaData), Pages);
  EXPECT_EQ(+M->DBHeader().LastUsedPageNo, LastUsed);
  Back.resize(Mid.size());
  F.ReadFile(kSys, Back.data(), static_cast<int32_t>(Mid.size()));
  EXPECT_EQ(Back, Mid);

  // Deleting frees every page of the chain, the kept ones included.
  F.DeleteFile(kSys);
  M->ApplyChanges(kSys);
  EXPECT_EQ(F.StartPageNo(), kNoPage);
  for (TVLTPageNo No : Pages)
    EXPECT_EQ(Peek<int32_t>(PageOffset(No) + 4), kPageStateFreed) << No;
}

TEST_F(InternalFile, TransactedErrors) {
  auto M = Create();
  TVLTInternalDBTransactedAccessFile F(M.get(), ptTableMetaData);
  uint8_t B[4] = {};
  EXPECT_EQ(CodeOf([&] { F.ReadFile(kSys, B, 1); }), 30389);
  EXPECT_EQ(CodeOf([&] { F.WriteFile(kSys, B, 1, acaNone, 0); }), 30389);
  EXPECT_EQ(CodeOf([&] { F.GetSize(kSys); }), 30389);
  EXPECT_EQ(CodeOf([&] { F.LockFile(); }), 30389);
  EXPECT_EQ(CodeOf([&] { F.InitFileHeader(kSys); }), 20301);
  F.CreateFile(kSys);
  EXPECT_EQ(CodeOf([&] { F.CreateFile(kSys); }), 30383);
  EXPECT_EQ(CodeOf([&] { F.WriteFile(kSys, B, 0, acaZLIB, 6); }), 20187);

  // A chain that ends before the stored size says.
  auto Data = Pattern(D + 40);
  F.WriteFile(kSys, Data.data(), static_cast<int32_t>(Data.size()), acaNone, 0);
  TVLTPage* P = M->GetPage(kSys, F.StartPageNo(), ptTableMetaData);
  P->PageHeader()->NextPageNo = kNoPage;
  P->SetIsDirty(true);
  M->PutPage(P);
  std::vector<uint8_t> Back(Data.size());
  EXPECT_EQ(CodeOf([&] { F.ReadFile(kSys, Back.data(), static_cast<int32_t>(Back.size())); }),
            30388);
  EXPECT_EQ(CodeOf([&] { F.SetFileSize(kSys, 3 * D, 3 * D, acaNone); }), 20300);
}

TEST_F(InternalFile, ALoopInTheChainIsReportedNotFollowed) {
  auto M = Create();
  TVLTInternalDBTransactedAccessFile F(M.get(), ptTableMetaData);
  F.CreateFile(kSys);
  auto Data = Pattern(2 * D);
  F.WriteFile(kSys, Data.data(), 2 * D, acaNone, 0);
  auto Pages = Chain(*M, F.StartPageNo(), ptTableMetaData);
  ASSERT_EQ(Pages.size(), 3u);
  TVLTPage* P = M->GetPage(kSys, Pages[2], ptTableMetaData);
  P->PageHeader()->NextPageNo = Pages[1];
  P->SetIsDirty(true);
  M->PutPage(P);
  EXPECT_EQ(CodeOf([&] { F.DeleteFile(kSys); }), 30394);
  EXPECT_EQ(F.StartPageNo(), Pages[0]);  // nothing removed
  std::vector<uint8_t> Back(2 * D);
  F.ReadFile(kSys, Back.data(), 2 * D);  // the stored bytes themselves are intact
  EXPECT_EQ(Back, Data);
}

TEST_F(InternalFile, DamagedCompressedContentIsReported) {
  auto M = Create();
  TVLTInternalDBTransactedAccessFile F(M.get(), ptTableMetaData);
  F.CreateFile(kSys);
  auto Data = Pattern(4000);
  F.WriteFile(kSys, Data.data(), 4000, acaZLIB, 6);
  TVLTPage* P = M->GetPage(kSys, F.StartPageNo(), ptTableMetaData);
  P->PageData()[kInternalFileHeaderSize + 5] ^= 0xFF;
  P->SetIsDirty(true);
  M->PutPage(P);
  std::vector<uint8_t> Back(4000);
  EXPECT_EQ(CodeOf([&] { F.ReadFile(kSys, Back.data(), 4000); }), 20189);

  // Repair empties the file and rewrites the page header.
  F.InitFileHeader(kSys);
  int32_t Stored = -1, Decompressed = 0;
  TVLTCompressionAlgorithm A = acaZLIB;
  bool Changed = false;
  F.GetFileSize(kSys, Stored, Decompressed, A, Changed);
  EXPECT_EQ(Stored, 0);
  EXPECT_EQ(A, acaNone);
  EXPECT_EQ(Decompressed, 4000);  // left as it was
}

// ---- system directory and table list ----

TEST_F(InternalFile, SystemDirectoryMustStartAtPageTwo) {
  auto M = Create();
  TVLTInternalDBTransactedAccessFile Other(M.get(), ptTableMetaData);
  Other.CreateFile(kSys);  // takes page 2
  TVLTSystemDirectory Dir(M.get());
  EXPECT_EQ(test::MessageOf([&] { Dir.CreateDirectory(); }),
            "Error creating SystemDirectory. SystemDirectoryPageNo=2. Real PageNo=3. - Native "
            "error: 30392");
}

TEST_F(InternalFile, TableListNamesCompareWithoutCase) {
  auto M = Create();
  TVLTTableListFile L(M.get());
  const TVLTPageNo Start = L.CreateFile();
  L.AddTable(7, "ACCOUNTS", 10, 11, 12);
  L.AddTable(8, "Funds", 13, 14, 15);
  EXPECT_EQ(CodeOf([&] { L.AddTable(9, "Accounts", 1, 2, 3); }), 30395);
  int32_t Id = 0;
  TVLTPageNo Meta = 0, Most = 0, Locks = 0;
  L.OpenTable("accounts", Id, Meta, Most, Locks);
  EXPECT_EQ(Id, 7);
  EXPECT_EQ(Meta, 10);
  EXPECT_EQ(Most, 11);
  EXPECT_EQ(Locks, 12);
  EXPECT_EQ(CodeOf([&] { L.OpenTable("Nope", Id, Meta, Most, Locks); }), 30396);
  EXPECT_EQ(CodeOf([&] { L.RemoveTable("Nope"); }), 30405);
  EXPECT_EQ(CodeOf([&] { L.RenameTable("Nope", "X"); }), 30397);
  EXPECT_EQ(CodeOf([&] { L.RenameTable("funds", "accounts"); }), 30398);
  L.RenameTable("funds", "Donors");
  L.AddTable(10, std::string(300, 'x'), 1, 2, 3);  // cut to 255
  L.Save();
  M->ApplyChanges(kSys);

  TVLTTableListFile R(M.get());
  R.OpenFile(Start);
  EXPECT_EQ(CodeOf([&] { R.OpenFile(Start); }), 30393);
  std::vector<std::string> Names;
  R.GetTablesList(Names);
  EXPECT_EQ(Names, (std::vector<std::string>{"ACCOUNTS", "Donors", std::string(255, 'x')}));
  EXPECT_EQ(Peek<uint8_t>(PageOffset(Start) + 40), 10);                 // header size
  EXPECT_EQ(Peek<int32_t>(PageOffset(Start) + 41), 3 * 272);            // stored size
  R.RemoveTable("ACCOUNTS");
  EXPECT_FALSE(R.TableExists("accounts"));
  EXPECT_TRUE(R.TableExists("DONORS"));
}

// ---- direct-access files ----

class DirectFile : public InternalFile {
 protected:
  // A committed direct file of Size bytes in a database reopened for sharing.
  std::unique_ptr<TVLTDiskPageManager> Make(int32_t Size, TVLTPageNo& Start,
                                            const TVLTPassword& Password = {}) {
    auto M = Create(512, Password);
    TVLTInternalDBDirectAccessFile F(M.get(), ptTableLocks);
    F.CreateFile(Size);
    Start = F.StartPageNo();
    M->ApplyChanges(kSys);
    M->CloseDatabase();
    return Open(Password, nullptr, true);
  }
};

TEST_F(DirectFile, WritesAtPageBoundariesNeverTouchTheHeader) {
  TVLTPageNo Start = kNoPage;
  auto M = Make(3 * D, Start);
  TVLTInternalDBDirectAccessFile F(M.get(), ptTableLocks);
  F.OpenFile(Start);
  EXPECT_EQ(F.GetSize(), 3 * D);
  EXPECT_EQ(F.FilePages().ItemCount(), 4);
  for (int32_t Pos : {int32_t{D - 10}, int32_t{D - 13}, int32_t{2 * D - 10}, int32_t{2 * D - 12}}) {
    SCOPED_TRACE(Pos);
    auto Slot = Pattern(6, static_cast<uint8_t>(Pos));
    F.WriteBuffer(Slot.data(), 6, Pos);
    std::vector<uint8_t> Back(6);
    F.ReadBuffer(Back.data(), 6, Pos);
    EXPECT_EQ(Back, Slot);
  }
  // The header still says 10 and the size; a reopen sees the same file.
  EXPECT_EQ(Peek<uint8_t>(PageOffset(Start) + 40), 10);
  EXPECT_EQ(Peek<int32_t>(PageOffset(Start) + 41), 3 * D);
  TVLTInternalDBDirectAccessFile G(M.get(), ptTableLocks);
  G.OpenFile(Start);
  EXPECT_EQ(G.GetSize(), 3 * D);
  std::vector<uint8_t> Back(6);
  G.ReadBuffer(Back.data(), 6, D - 13);  // written last over the slot at D - 10
  EXPECT_EQ(Back, Pattern(6, static_cast<uint8_t>(D - 13)));
}

TEST_F(DirectFile, LockPositionsFollowTheFileMapping) {
  TVLTPageNo Start = kNoPage;
  auto M = Make(3 * D, Start);
  TVLTInternalDBDirectAccessFile F(M.get(), ptTableLocks);
  F.OpenFile(Start);
  const auto& Pages = F.FilePages();
  struct {
    int32_t Byte;
    int32_t ChainPage;
    uint16_t PageOffset;
  } Cases[] = {{0, 0, 50}, {D - 10, 0, 40}, {D - 9, 1, 41}, {2 * D - 10, 1, 40}};
  for (const auto& C : Cases) {
    SCOPED_TRACE(C.Byte);
    ASSERT_TRUE(F.LockByte(C.Byte));
    EXPECT_TRUE(M->IsPageByteLocked(Pages[C.ChainPage], C.PageOffset));
    EXPECT_TRUE(F.IsByteLocked(C.Byte));
    EXPECT_TRUE(F.IsRegionLocked(C.Byte - 3 < 0 ? 0 : C.Byte - 3, 4));
    EXPECT_FALSE(F.LockByte(C.Byte));  // one holder per byte, also within a process
    ASSERT_TRUE(F.UnlockByte(C.Byte));
    EXPECT_FALSE(M->IsPageByteLocked(Pages[C.ChainPage], C.PageOffset));
  }
  EXPECT_FALSE(F.IsRegionLocked(0, 3 * D));
  EXPECT_FALSE(F.IsRegionLocked(5, 0));
  EXPECT_FALSE(F.LockByte(3 * D));  // outside the file
  ASSERT_TRUE(F.LockFile());
  EXPECT_TRUE(M->IsPageByteLocked(Start, 0));
  EXPECT_TRUE(F.UnlockFile());
}

TEST_F(DirectFile, EveryCreatedPageIsOpenedAndDeleted) {
  // D - 9 bytes: creation makes two pages, although the last lock position lies on the first.
  TVLTPageNo Start = kNoPage;
  auto M = Make(D - 9, Start);
  TVLTInternalDBDirectAccessFile F(M.get(), ptTableLocks);
  F.OpenFile(Start);
  ASSERT_EQ(F.FilePages().ItemCount(), 2);
  const TVLTPageNo Second = F.FilePages()[1];
  EXPECT_EQ(F.GetSize(), D - 9);
  uint8_t B[1] = {7};
  F.WriteBuffer(B, 1, D - 10);  // the last byte, on the second page
  F.DeleteFile();
  M->ApplyChanges(kSys);
  EXPECT_EQ(Peek<int32_t>(PageOffset(Second) + 4), kPageStateFreed);
}

TEST_F(DirectFile, SizesAndErrors) {
  TVLTPageNo Start = kNoPage;
  auto M = Make(48, Start);
  TVLTInternalDBDirectAccessFile F(M.get(), ptTableLocks);
  uint8_t B[8] = {};
  EXPECT_EQ(CodeOf([&] { F.ReadBuffer(B, 1, 0); }), 20156);
  EXPECT_EQ(CodeOf([&] { F.WriteBuffer(B, 1, 0); }), 20156);
  EXPECT_EQ(CodeOf([&] { F.LockByte(0); }), 20156);
  EXPECT_EQ(CodeOf([&] { F.IsRegionLocked(0, 1); }), 20156);
  F.OpenFile(Start);
  EXPECT_EQ(CodeOf([&] { F.CreateFile(4); }), 20157);
  EXPECT_EQ(F.StoredSize(), 48);
  EXPECT_EQ(F.GetSize(), D - 10);  // a one-page file offers the whole page
  EXPECT_EQ(CodeOf([&] { F.ReadBuffer(B, 1, D); }), 20159);
  EXPECT_EQ(CodeOf([&] { F.ReadBuffer(B, 8, D - 12); }), 20249);
  EXPECT_EQ(CodeOf([&] { F.WriteBuffer(B, 8, 44); }), 20158);
  F.WriteBuffer(B, 8, 40);

  TVLTInternalDBDirectAccessFile Wrong(M.get(), ptActiveSessionList);
  EXPECT_EQ(test::MessageOf([&] { Wrong.OpenFile(Start); }),
            "Invalid PageType found: 7 but expecting: 5 - Native error: 20155");
}

TEST_F(DirectFile, PagesAreStoredPlainInAnEncryptedDatabase) {
  TVLTPageNo Start = kNoPage;
  auto M = Make(2 * D, Start, {"pw", craRijndael_256});
  auto B = Bytes();
  const auto* H = reinterpret_cast<const TVLTDiskPageHeader*>(B.data() + PageOffset(Start));
  EXPECT_EQ(+H->PageType, ptTableLocks);
  EXPECT_EQ(+H->Cipherype, 0);
  EXPECT_EQ(B[PageOffset(Start) + 40], 10);
  EXPECT_EQ(LoadLE<int32_t>(B.data() + PageOffset(Start) + 41), 2 * D);

  TVLTInternalDBDirectAccessFile F(M.get(), ptTableLocks);
  F.OpenFile(Start);
  EXPECT_EQ(F.FilePages().ItemCount(), 3);
  F.DeleteFile();
  M->ApplyChanges(kSys);
  EXPECT_EQ(F.StartPageNo(), kNoPage);
  EXPECT_EQ(Peek<int32_t>(PageOffset(Start) + 4), kPageStateFreed);
}

}  // namespace
}  // namespace vlt
