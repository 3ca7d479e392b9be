#include "engine/core/VLTPage.h"

#include <gtest/gtest.h>

#include <cstring>

#include "VLTPageTestUtil.h"
#include "engine/base/VLTMemory.h"
#include "engine/core/VLTPageController.h"

namespace vlt {
namespace {

using test::CodeOf;

TEST(TVLTPage, NewBufferCarriesTheInitialHeader) {
  test::TMemPageManager M(512);
  TVLTPage P(&M);
  EXPECT_EQ(P.PageNo(), -1);
  EXPECT_EQ(P.PageBuffer(), nullptr);
  EXPECT_TRUE(P.OwnBuffer());
  EXPECT_TRUE(P.EncryptionEnabled());
  P.AllocPageBuffer();
  const uint8_t Expected[40] = {'V', 'L', 'T', 'P', 0, 0, 0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF,
                                0,   0,   0,   0,   0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
                                0xFF, 0xFF, 0xFF, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
  EXPECT_EQ(std::memcmp(P.PageBuffer(), Expected, 40), 0);
  EXPECT_EQ(P.PageDataSize(), 472);
  EXPECT_EQ(P.PageData(), P.PageBuffer() + 40);
  for (int I = 40; I < 512; ++I) ASSERT_EQ(P.PageBuffer()[I], 0);
}

TEST(TVLTPage, EnlargePageBuffer) {
  test::TMemPageManager M(256);
  TVLTPage P(&M);
  EXPECT_EQ(CodeOf([&] { P.EnlargePageBuffer(300); }), 20038);
  P.AllocPageBuffer();
  P.PageData()[0] = 0x5A;
  uint8_t* Before = P.PageBuffer();
  EXPECT_EQ(CodeOf([&] { P.EnlargePageBuffer(255); }), 20039);
  EXPECT_EQ(P.PageBuffer(), Before);
  P.EnlargePageBuffer(1000);
  EXPECT_EQ(P.PageData()[0], 0x5A);
  EXPECT_EQ(TVLTMemoryManager::Instance().BlockSize(P.PageBuffer()), 1000u);

  // A borrowed buffer is copied, never resized or freed by the page.
  uint8_t Borrowed[256];
  std::memset(Borrowed, 0x33, sizeof Borrowed);
  TVLTPage Q(&M);
  Q.SetBorrowedBuffer(Borrowed);
  EXPECT_FALSE(Q.OwnBuffer());
  TVLTPageController C(&Q);
  C.EnlargePageBuffer(512);
  EXPECT_TRUE(Q.OwnBuffer());
  EXPECT_NE(Q.PageBuffer(), Borrowed);
  EXPECT_EQ(Q.PageBuffer()[255], 0x33);
  EXPECT_EQ(Q.PageBuffer()[256], 0);
  EXPECT_EQ(C.PageDataSize(), 216);
}

TEST(TVLTPage, TableStatesPerSession) {
  test::TMemPageManager M;
  TVLTPage P(&M);
  int32_t S = 0;
  EXPECT_FALSE(P.GetTableState(-2, S));
  P.SetTableState(3, 41);
  EXPECT_TRUE(P.GetTableState(3, S));
  EXPECT_EQ(S, 41);
  EXPECT_FALSE(P.GetTableState(0, S));  // created by the growth, unassigned
  P.SetTableState(-2, 7);
  EXPECT_TRUE(P.GetTableState(-2, S));
  EXPECT_EQ(S, 7);
  EXPECT_FALSE(P.GetTableState(9, S));
}

TEST(TVLTPageHeader, TypeTextsAndStateIncrement) {
  EXPECT_EQ(PageTypeToText(ptEAM), "EAM Page");
  EXPECT_EQ(PageTypeToText(ptFileSystemDirectory), "FileSystemDirectory Page");
  EXPECT_EQ(PageTypeToText(ptTableIndex), "TableIndex Page");
  EXPECT_EQ(CodeOf([] { PageTypeToText(13); }), 30382);
  try {
    CheckPageType(ptPFS, ptEAM, 30423);
    FAIL();
  } catch (const EVLTException& E) {
    EXPECT_EQ(E.Message(),
              "Wrong page type. Found 'PFS Page', but expecting: 'EAM Page' - Native error: 30423");
  }
  EXPECT_EQ(NextPageState(5), 6);
  EXPECT_EQ(NextPageState(0x7FFFFFFC), 0);  // 0x7FFFFFFD is never written
  EXPECT_EQ(NextPageState(0x7FFFFFFF), 0);
}

}  // namespace
}  // namespace vlt
