// Scratch databases for the disk engine tests.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "engine/base/VLTExcept.h"
#include "engine/disk/VLTDiskPageManager.h"
#include "engine/disk/VLTFreeSpaceManager.h"

namespace vlt::test {

class DiskTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char Tmpl[] = "/tmp/vlt_disk_XXXXXX";
    ASSERT_NE(mkdtemp(Tmpl), nullptr);
    Dir = Tmpl;
    Path = Dir + "/test.vlt";
  }
  void TearDown() override {
    std::error_code Ec;
    std::filesystem::remove_all(Dir, Ec);
  }

  // A manager with short lock waits, so a test never waits 90 seconds.
  static std::unique_ptr<TVLTDiskPageManager> NewManager() {
    auto M = std::make_unique<TVLTDiskPageManager>();
    M->SetLockRetry(3, 1);
    return M;
  }
  std::unique_ptr<TVLTDiskPageManager> Create(uint16_t PageSize = 512,
                                              const TVLTPassword& Password = {}) {
    auto M = NewManager();
    M->CreateAndOpenDatabase(Path, Password, PageSize, 8);
    return M;
  }
  struct TOpenResult {
    bool ReadOnly = false, RepairNeeded = false, MultiUser = false;
  };
  std::unique_ptr<TVLTDiskPageManager> Open(const TVLTPassword& Password = {},
                                            TOpenResult* R = nullptr, bool MultiUser = false,
                                            bool ReadOnly = false) {
    auto M = NewManager();
    TOpenResult Local;
    TOpenResult& Res = R ? *R : Local;
    Res.ReadOnly = ReadOnly;
    Res.MultiUser = MultiUser;
    M->OpenDatabase(Path, Password, Res.ReadOnly, Res.RepairNeeded, !MultiUser, Res.MultiUser);
    return M;
  }

  std::vector<uint8_t> Bytes() const {
    std::ifstream F(Path, std::ios::binary | std::ios::ate);
    std::vector<uint8_t> B(static_cast<size_t>(F.tellg()));
    F.seekg(0);
    F.read(reinterpret_cast<char*>(B.data()), static_cast<std::streamsize>(B.size()));
    return B;
  }
  void Poke(int64_t Offset, const void* Data, size_t Size) const {
    FILE* F = std::fopen(Path.c_str(), "r+b");
    ASSERT_NE(F, nullptr);
    std::fseek(F, static_cast<long>(Offset), SEEK_SET);
    std::fwrite(Data, 1, Size, F);
    std::fclose(F);
  }
  template <typename T>
  T Peek(int64_t Offset) const {
    T V;
    std::memset(&V, 0, sizeof V);
    std::ifstream F(Path, std::ios::binary);
    F.seekg(Offset);
    F.read(reinterpret_cast<char*>(&V), sizeof V);
    EXPECT_TRUE(F.good()) << "no bytes at offset " << Offset;
    return V;
  }
  TVLTDBHeader StoredHeader() const { return Peek<TVLTDBHeader>(0); }
  int64_t PageOffset(TVLTPageNo No, uint16_t PageSize = 512) const {
    return 380 + int64_t{No} * PageSize;
  }

  std::string Dir, Path;
};

inline int32_t CodeOf(auto&& F) {
  try {
    F();
  } catch (const EVLTException& E) {
    return E.NativeError();
  }
  return 0;
}

inline std::string MessageOf(auto&& F) {
  try {
    F();
  } catch (const EVLTException& E) {
    return E.Message();
  }
  return {};
}

constexpr TVLTSessionID kSys = kSystemSessionID;

}  // namespace vlt::test
