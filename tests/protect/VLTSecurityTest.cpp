#include "engine/protect/VLTSecurity.h"

#include <gtest/gtest.h>

#include <vector>

#include "engine/base/VLTCRC32.h"
#include "engine/base/VLTExcept.h"

namespace vlt {
namespace {

// A 512-byte page: header with recognisable bytes, data area with a pattern.
std::vector<uint8_t> MakePage(size_t PageSize = 512, uint8_t Seed = 0x31) {
  std::vector<uint8_t> P(PageSize);
  for (size_t I = 0; I < kPageHeaderSize; ++I) P[I] = static_cast<uint8_t>(0xA0 + I);
  P[kPageCipherypeOffset] = 0;
  StoreLE<uint32_t>(&P[kPageCRC32Offset], 0);
  for (size_t I = kPageHeaderSize; I < PageSize; ++I) P[I] = static_cast<uint8_t>(Seed + I * 13);
  return P;
}

TVLTPassword Pw(const char* Text, TVLTCryptoAlgorithm A) {
  TVLTPassword P;
  P.Password = Text;
  P.CryptoAlgorithm = A;
  return P;
}

TEST(PageEncryption, HeaderStaysPlainAndCarriesAlgorithmAndChecksum) {
  TVLTDatabaseCipher C(Pw("church", craRijndael_256));
  auto Plain = MakePage();
  auto Page = Plain;
  C.EncryptPage(Page.data(), Page.size());

  EXPECT_EQ(Page[kPageCipherypeOffset], craRijndael_256);
  EXPECT_EQ(LoadLE<uint32_t>(&Page[kPageCRC32Offset]),
            CalcCRC32(0, Plain.data() + kPageHeaderSize, 512 - kPageHeaderSize));
  for (size_t I = 0; I < kPageHeaderSize; ++I) {
    if (I == kPageCipherypeOffset || (I >= kPageCRC32Offset && I < kPageCRC32Offset + 4))
      continue;
    EXPECT_EQ(Page[I], Plain[I]) << I;
  }
  // The data area is exactly EncryptBuffer of the plain data.
  std::vector<uint8_t> Data(Plain.begin() + kPageHeaderSize, Plain.end());
  ASSERT_TRUE(EncryptBuffer(craRijndael_256, Data.data(), Data.size(), "church"));
  EXPECT_TRUE(std::equal(Data.begin(), Data.end(), Page.begin() + kPageHeaderSize));

  C.RestorePage(Page.data(), Page.size());
  EXPECT_TRUE(std::equal(Plain.begin() + kPageHeaderSize, Plain.end(),
                         Page.begin() + kPageHeaderSize));
}

TEST(PageEncryption, IdenticalPlainPagesGiveIdenticalStoredBytes) {
  TVLTDatabaseCipher C(Pw("church", craTwofish_128));
  auto A = MakePage(), B = MakePage();
  C.EncryptPage(A.data(), A.size());
  C.EncryptPage(B.data(), B.size());
  EXPECT_EQ(A, B);
}

class PageRoundTrip : public ::testing::TestWithParam<TVLTCryptoAlgorithm> {};

TEST_P(PageRoundTrip, ReadBackAfterWriteForEveryPageSize) {
  TVLTDatabaseCipher C(Pw("Pass word", GetParam()));
  for (size_t Size : {256u, 512u, 1024u, 2048u, 4096u, 65535u}) {
    auto Plain = MakePage(Size);
    auto Page = Plain;
    C.EncryptPage(Page.data(), Page.size());
    EXPECT_FALSE(std::equal(Plain.begin() + kPageHeaderSize, Plain.end(),
                            Page.begin() + kPageHeaderSize));
    ASSERT_NO_THROW(C.DecryptPage(Page.data(), Page.size(), 7, false)) << Size;
    EXPECT_TRUE(std::equal(Plain.begin() + kPageHeaderSize, Plain.end(),
                           Page.begin() + kPageHeaderSize));
  }
}

INSTANTIATE_TEST_SUITE_P(AllAlgorithms, PageRoundTrip,
                         ::testing::Values(craRijndael_128, craRijndael_256, craDES_Single,
                                           craDES_Triple, craBlowfish, craTwofish_128,
                                           craTwofish_256, craSquare),
                         [](const auto& Info) {
                           return std::string(CryptoAlgorithmName(Info.param));
                         });

TEST(PageEncryption, OneFlippedStoredByteFailsTheChecksum) {
  TVLTDatabaseCipher C(Pw("church", craRijndael_128));
  for (size_t Flip : {size_t{40}, size_t{300}, size_t{511}}) {  // first, middle, partial block
    auto Page = MakePage();
    C.EncryptPage(Page.data(), Page.size());
    Page[Flip] ^= 0x01;
    auto Damaged = Page;
    try {
      C.DecryptPage(Page.data(), Page.size(), 42, false);
      ADD_FAILURE() << "no error for flipped byte " << Flip;
    } catch (const EVLTException& E) {
      EXPECT_EQ(E.NativeError(), 30446);
      EXPECT_EQ(E.Message(),
                "Decrypt page error. Check CRC failed. PageNo: 42 - Native error: 30446");
    }
    // With checksum errors ignored the damaged plain data comes back.
    EXPECT_NO_THROW(C.DecryptPage(Damaged.data(), Damaged.size(), 42, true));
    auto Plain = MakePage();
    EXPECT_FALSE(std::equal(Plain.begin() + kPageHeaderSize, Plain.end(),
                            Damaged.begin() + kPageHeaderSize));
  }
}

TEST(PageEncryption, PageIsReadWithItsOwnAlgorithm) {
  // Written when the database used Blowfish, read by a cipher set up for Square.
  TVLTDatabaseCipher Writer(Pw("church", craBlowfish));
  TVLTDatabaseCipher Reader(Pw("church", craSquare));
  auto Plain = MakePage();
  auto Page = Plain;
  Writer.EncryptPage(Page.data(), Page.size());
  ASSERT_NO_THROW(Reader.DecryptPage(Page.data(), Page.size(), 3, false));
  EXPECT_TRUE(std::equal(Plain.begin() + kPageHeaderSize, Plain.end(),
                         Page.begin() + kPageHeaderSize));
}

TEST(PageEncryption, WrongPasswordIsCaughtByTheChecksum) {
  TVLTDatabaseCipher Writer(Pw("church", craDES_Triple));
  TVLTDatabaseCipher Reader(Pw("Church", craDES_Triple));
  auto Page = MakePage();
  Writer.EncryptPage(Page.data(), Page.size());
  EXPECT_THROW(Reader.DecryptPage(Page.data(), Page.size(), 5, false), EVLTException);
}

TEST(PageEncryption, UnknownCipherTypeByteIsReadAsStored) {
  // A page byte naming no algorithm: the data is taken as it is, and the checksum decides.
  TVLTDatabaseCipher C(Pw("church", craRijndael_128));
  auto Page = MakePage();
  Page[kPageCipherypeOffset] = 9;
  StoreLE<uint32_t>(&Page[kPageCRC32Offset],
                    CalcCRC32(0, Page.data() + kPageHeaderSize, 512 - kPageHeaderSize));
  auto Before = Page;
  EXPECT_NO_THROW(C.DecryptPage(Page.data(), Page.size(), 1, false));
  EXPECT_EQ(Page, Before);
}

TEST(ControlBlock, RightPasswordPassesAndWrongOneFails) {
  for (TVLTCryptoAlgorithm A : {craRijndael_128, craDES_Single, craDES_Triple, craBlowfish}) {
    TVLTDatabaseCipher C(Pw("Secret", A));
    uint8_t Block[kControlBlockSize];
    uint32_t CRC = 0;
    C.NewControlBlock(Block, CRC);
    uint8_t Copy[kControlBlockSize];
    std::memcpy(Copy, Block, sizeof Block);

    TVLTDatabaseCipher Wrong(Pw("secret", A));
    EXPECT_FALSE(Wrong.CheckControlBlock(Copy, CRC)) << CryptoAlgorithmName(A);
    EXPECT_TRUE(C.CheckControlBlock(Block, CRC)) << CryptoAlgorithmName(A);
    for (uint8_t B : Block) EXPECT_LT(B, 255);  // plain bytes are drawn from 0 to 254
  }
}

TEST(ControlBlock, EncipheredBlockIsEncryptBufferOfThePlainOne) {
  TVLTDatabaseCipher C(Pw("Secret", craTwofish_256));
  uint8_t Block[kControlBlockSize];
  uint32_t CRC = 0;
  C.NewControlBlock(Block, CRC);
  uint8_t Plain[kControlBlockSize];
  std::memcpy(Plain, Block, sizeof Block);
  ASSERT_TRUE(DecryptBuffer(craTwofish_256, Plain, sizeof Plain, "Secret"));
  EXPECT_EQ(CalcCRC32(0, Plain, sizeof Plain), CRC);
}

TEST(ControlBlock, UnknownAlgorithmNeverProvesAPassword) {
  // A block that is not enciphered at all would otherwise pass for any password.
  TVLTDatabaseCipher C(Pw("anything", static_cast<TVLTCryptoAlgorithm>(8)));
  uint8_t Block[kControlBlockSize] = {};
  EXPECT_FALSE(C.CheckControlBlock(Block, CalcCRC32(0, Block, sizeof Block)));
}

}  // namespace
}  // namespace vlt
