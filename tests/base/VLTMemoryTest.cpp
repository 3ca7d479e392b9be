#include "engine/base/VLTMemory.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "engine/base/VLTExcept.h"
#include "tests/VLTTestUtil.h"

namespace vlt {
namespace {

using test::CodeOf;

TEST(TVLTMemoryManager, CountsAllocationsAndZeroFills) {
  auto& M = TVLTMemoryManager::Instance();
  int64_t Before = M.AllocatedSize();
  auto* P = static_cast<uint8_t*>(M.AllocMem(100));
  for (int I = 0; I < 100; ++I) ASSERT_EQ(P[I], 0);
  EXPECT_EQ(M.AllocatedSize(), Before + 100);
  std::memset(P, 0xAB, 100);
  P = static_cast<uint8_t*>(M.ReallocMem(P, 300));
  EXPECT_EQ(M.AllocatedSize(), Before + 300);
  EXPECT_EQ(P[99], 0xAB);
  EXPECT_EQ(P[100], 0);  // grown part is zero
  EXPECT_EQ(M.BlockSize(P), 300u);
  P = static_cast<uint8_t*>(M.ReallocMem(P, 10));
  EXPECT_EQ(P[9], 0xAB);
  EXPECT_EQ(M.AllocatedSize(), Before + 10);
  M.FreeMem(P);
  M.FreeMem(nullptr);
  EXPECT_EQ(M.AllocatedSize(), Before);
}

TEST(TVLTMemoryManager, RefusesZeroBytesForeignPointersAndOverruns) {
  auto& M = TVLTMemoryManager::Instance();
  EXPECT_EQ(CodeOf([&] { M.GetMem(0); }), 30286);
  std::vector<uint8_t> Foreign(64, 0x11);
  EXPECT_EQ(CodeOf([&] { M.FreeMem(Foreign.data() + 32); }), 30005);
  auto* P = static_cast<uint8_t*>(M.GetMem(8));
  P[8] = 0;  // clobbers the tail guard
  EXPECT_EQ(CodeOf([&] { M.FreeMem(P); }), 30005);
  P[8] = 0x4C;  // restore the guard's first byte so the block can go
  M.FreeMem(P);
}

TEST(TVLTMemoryManager, LimitIsEnforcedAndNamed) {
  auto& M = TVLTMemoryManager::Instance();
  int64_t Before = M.AllocatedSize();
  M.SetLimit(Before + 1000);
  void* P = M.GetMem(900);
  try {
    M.GetMem(200);
    FAIL() << "limit not enforced";
  } catch (const EVLTException& E) {
    EXPECT_EQ(E.NativeError(), 30004);
    EXPECT_NE(E.Message().find("Memory limit exceeded (Limit = " + std::to_string(Before + 1000) +
                               " bytes)"),
              std::string::npos);
  }
  EXPECT_EQ(M.AllocatedSize(), Before + 900);  // the refused request is not counted
  M.FreeMem(P);
  M.SetLimit(0);
}

TEST(TVLTBuffer, OwnsAndResizes) {
  auto& M = TVLTMemoryManager::Instance();
  int64_t Before = M.AllocatedSize();
  {
    TVLTBuffer B(16);
    B[15] = 7;
    B.Resize(32);
    EXPECT_EQ(B[15], 7);
    EXPECT_EQ(B.size(), 32u);
    EXPECT_EQ(M.AllocatedSize(), Before + 32);
  }
  EXPECT_EQ(M.AllocatedSize(), Before);
}

}  // namespace
}  // namespace vlt

namespace vlt {
namespace {

TEST(TVLTBuffer, KeepsItsBlockWhenGrowingFails) {
  auto& M = TVLTMemoryManager::Instance();
  TVLTBuffer B(16);
  B[0] = 42;
  M.SetLimit(M.AllocatedSize() + 8);
  EXPECT_THROW(B.Resize(1 << 20), EVLTException);
  M.SetLimit(0);
  EXPECT_EQ(B.size(), 16u);
  EXPECT_EQ(B[0], 42);
}

}  // namespace
}  // namespace vlt
