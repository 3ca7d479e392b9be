#include "engine/disk/VLTDiskFileFormat.h"

#include <gtest/gtest.h>

#include <cstring>

namespace vlt {
namespace {

TEST(TVLTDiskFileFormat, NewHeaderBytes) {
  TVLTDBHeader H = NewDBHeader(512, 8);
  const uint8_t* B = reinterpret_cast<const uint8_t*>(&H);
  EXPECT_EQ(std::memcmp(B, "VAULTR1XDATABASE", 16), 0);
  const uint8_t Version[8] = {0xA4, 0x70, 0x3D, 0x0A, 0xD7, 0xA3, 0x1F, 0x40};
  EXPECT_EQ(std::memcmp(B + 18, Version, 8), 0);
  EXPECT_EQ(LoadLE<int16_t>(B + 16), 76);
  EXPECT_EQ(LoadLE<uint16_t>(B + 26), 512);
  EXPECT_EQ(LoadLE<uint16_t>(B + 28), 8);
  EXPECT_EQ(LoadLE<int32_t>(B + 30), 0);
  EXPECT_EQ(LoadLE<int32_t>(B + 34), -1);
  EXPECT_EQ(LoadLE<int32_t>(B + 38), 0);
  EXPECT_EQ(B[42], 2);
  EXPECT_EQ(B[43], 0);
  for (int I = 44; I < 76; ++I) EXPECT_EQ(B[I], 0);

  TVLTCryptoHeader C = NewCryptoHeader();
  EXPECT_EQ(LoadLE<int16_t>(&C), 280);
  TVLTLockedBytes L = NewLockedBytes();
  EXPECT_EQ(LoadLE<int16_t>(&L), 20);
}

struct GeometryRow {
  uint16_t PageSize;
  int64_t PFS_PA, EAM_EA, EAM_PA;
  int64_t SecondPFS, SecondEAM;
};

TEST(TVLTDiskFileFormat, BitmapCapacitiesAndPositions) {
  const GeometryRow Rows[] = {
      {256, 1728, 864, 6912, 1728, 6913},
      {512, 3776, 1888, 15104, 3776, 15105},
      {2048, 16064, 8032, 64256, 16064, 64257},
      {4096, 32448, 16224, 129792, 32448, 129793},
  };
  for (const auto& R : Rows) {
    SCOPED_TRACE(R.PageSize);
    TVLTFreeSpaceGeometry G(static_cast<uint16_t>(R.PageSize - 40), 8);
    EXPECT_EQ(G.PFSPagesAddressed, R.PFS_PA);
    EXPECT_EQ(G.EAMExtentsAddressed, R.EAM_EA);
    EXPECT_EQ(G.EAMPagesAddressed, R.EAM_PA);
    EXPECT_EQ(G.PFSPageNo(1), R.SecondPFS);
    EXPECT_EQ(G.EAMPageNo(0), 1);
    EXPECT_EQ(G.EAMPageNo(1), R.SecondEAM);
    EXPECT_TRUE(G.IsSystemPage(0));
    EXPECT_TRUE(G.IsSystemPage(1));
    EXPECT_FALSE(G.IsSystemPage(2));
    EXPECT_TRUE(G.IsSystemPage(R.SecondPFS));
    EXPECT_FALSE(G.IsSystemPage(R.SecondPFS + 1));  // a PFS position that is no EAM position
    EXPECT_TRUE(G.IsSystemPage(R.SecondEAM));
    EXPECT_TRUE(G.IsSystemPage(R.SecondEAM - 1));
    EXPECT_FALSE(G.IsSystemPage(R.SecondEAM + 1));
  }
  // When the extent size does not make EAM positions PFS positions, EAM pages sit on their own.
  TVLTFreeSpaceGeometry Odd(472, 3);  // EAM_PA 5664 = 1.5 PFS pages
  EXPECT_EQ(Odd.EAMPageNo(1), 5664);
  EXPECT_TRUE(Odd.IsSystemPage(5664));
  EXPECT_FALSE(Odd.IsSystemPage(5665));
  EXPECT_EQ(Odd.EAMPageNo(2), 11329);  // 11328 is also a PFS position
}

}  // namespace
}  // namespace vlt
