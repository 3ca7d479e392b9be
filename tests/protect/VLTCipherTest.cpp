#include "engine/protect/VLTCipher.h"

#include <cryptopp/des.h>
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "engine/base/VLTCRC32.h"

namespace vlt {
namespace {

std::vector<uint8_t> Hex(std::string_view S) {
  std::vector<uint8_t> R;
  for (size_t I = 0; I + 1 < S.size(); I += 2)
    R.push_back(static_cast<uint8_t>(std::stoi(std::string(S.substr(I, 2)), nullptr, 16)));
  return R;
}

std::vector<uint8_t> Pattern(size_t N, uint8_t Seed) {
  std::vector<uint8_t> V(N);
  for (size_t I = 0; I < N; ++I) V[I] = static_cast<uint8_t>(Seed + I * 7 + (I >> 3));
  return V;
}

const TVLTCryptoAlgorithm kAll[] = {craRijndael_128, craRijndael_256, craDES_Single,
                                    craDES_Triple,   craBlowfish,     craTwofish_128,
                                    craTwofish_256,  craSquare};

// ---- the bare block ciphers against published vectors ----

struct TBlockVector {
  const char* Name;
  TVLTCryptoAlgorithm Algorithm;
  const char* Key;
  const char* Plain;
  const char* Cipher;
};

const TBlockVector kBlockVectors[] = {
    {"AES128_FIPS197", craRijndael_128, "000102030405060708090a0b0c0d0e0f",
     "00112233445566778899aabbccddeeff", "69c4e0d86a7b0430d8cdb78070b4c55a"},
    {"AES256_FIPS197", craRijndael_256,
     "000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f",
     "00112233445566778899aabbccddeeff", "8ea2b7ca516745bfeafc49904b496089"},
    {"DES_Classic", craDES_Single, "133457799bbcdff1", "0123456789abcdef", "85e813540f0ab405"},
    {"Blowfish_ZeroKey", craBlowfish, "0000000000000000", "0000000000000000",
     "4ef997456198dd78"},
    {"Blowfish_OnesKey", craBlowfish, "ffffffffffffffff", "ffffffffffffffff",
     "51866fd5b85ecb8a"},
    {"Blowfish_24ByteKey", craBlowfish, "f0e1d2c3b4a5968778695a4b3c2d1e0f0011223344556677",
     "fedcba9876543210", "05044b62fa52d080"},
    {"Twofish128_ZeroKey", craTwofish_128, "00000000000000000000000000000000",
     "00000000000000000000000000000000", "9f589f5cf6122c32b6bfec2f2ae8c35a"},
    {"Twofish256_ZeroKey", craTwofish_256,
     "0000000000000000000000000000000000000000000000000000000000000000",
     "00000000000000000000000000000000", "57ff739d4dc92c1bd7fc01700cc8216f"},
    {"Twofish256_Key", craTwofish_256,
     "0123456789abcdeffedcba987654321000112233445566778899aabbccddeeff",
     "00000000000000000000000000000000", "37527be0052334b89f0cfccae87cfa20"},
    {"Square_Reference", craSquare, "000102030405060708090a0b0c0d0e0f",
     "000102030405060708090a0b0c0d0e0f", "7c3491d94994e70f0ec2e7a5ccb5a14f"},
};

class BlockCipherVectors : public ::testing::TestWithParam<TBlockVector> {};

TEST_P(BlockCipherVectors, EncryptAndDecryptOneBlock) {
  const TBlockVector& V = GetParam();
  auto Key = Hex(V.Key), Plain = Hex(V.Plain), Expected = Hex(V.Cipher);
  TVLTCipher C(V.Algorithm, Key.data(), Key.size());
  ASSERT_EQ(C.BlockSize(), Plain.size());
  std::vector<uint8_t> Out(Plain.size());
  C.EncryptBlock(Plain.data(), Out.data());
  EXPECT_EQ(Out, Expected);
  C.DecryptBlock(Out.data(), Out.data());
  EXPECT_EQ(Out, Plain);
}

INSTANTIATE_TEST_SUITE_P(Published, BlockCipherVectors, ::testing::ValuesIn(kBlockVectors),
                         [](const auto& Info) { return std::string(Info.param.Name); });

// ---- hashes ----

struct THashVector {
  const char* Name;
  const char* Input;
  const char* Ripe128;
  const char* Ripe256;
};

const THashVector kHashVectors[] = {
    {"Empty", "", "cdf26213a150dc3ecb610f18f6b38b46",
     "02ba4c4e5f8ecd1877fc52d64d30e37a2d9774fb1e5d026380ae0168e3c5522d"},
    {"abc", "abc", "c14a12199c66e4ba84636b0f69144c77",
     "afbd6e228b9d8cbbcef5ca2d03e6dba10ac0bc7dcbe4680e1e42d2e975459b65"},
    {"MessageDigest", "message digest", "9e327b3d6e523062afc1132d7df9d1b8",
     "87e971759a1ce47a514d5c914c392c9018c7c46bc14465554afcdf54a5070c0e"},
};

class HashVectors : public ::testing::TestWithParam<THashVector> {};

TEST_P(HashVectors, RipeMD128And256) {
  const THashVector& V = GetParam();
  auto D128 = VLTHashRipeMD128(V.Input, std::strlen(V.Input));
  auto D256 = VLTHashRipeMD256(V.Input, std::strlen(V.Input));
  EXPECT_EQ(std::vector<uint8_t>(D128.begin(), D128.end()), Hex(V.Ripe128));
  EXPECT_EQ(std::vector<uint8_t>(D256.begin(), D256.end()), Hex(V.Ripe256));
}

INSTANTIATE_TEST_SUITE_P(Published, HashVectors, ::testing::ValuesIn(kHashVectors),
                         [](const auto& Info) { return std::string(Info.param.Name); });

// ---- key derivation ----

TEST(DeriveKey, TakesTheLeadingDigestBytesTheCipherUses) {
  const std::string Pw = "abc";
  auto R128 = VLTHashRipeMD128(Pw.data(), Pw.size());
  auto R256 = VLTHashRipeMD256(Pw.data(), Pw.size());
  const std::vector<uint8_t> V128(R128.begin(), R128.end()), V256(R256.begin(), R256.end());

  EXPECT_EQ(VLTDeriveKey(craRijndael_128, Pw), V128);
  EXPECT_EQ(VLTDeriveKey(craRijndael_256, Pw), V256);
  EXPECT_EQ(VLTDeriveKey(craDES_Single, Pw), std::vector<uint8_t>(V128.begin(), V128.begin() + 8));
  std::vector<uint8_t> Triple = V128;
  Triple.resize(24, 0);
  EXPECT_EQ(VLTDeriveKey(craDES_Triple, Pw), Triple);
  EXPECT_EQ(VLTDeriveKey(craBlowfish, Pw), V256);
  EXPECT_EQ(VLTDeriveKey(craTwofish_128, Pw), V128);
  EXPECT_EQ(VLTDeriveKey(craTwofish_256, Pw), V256);
  EXPECT_EQ(VLTDeriveKey(craSquare, Pw), V128);
}

TEST(DeriveKey, HashesTheEightBitBytesOnly) {
  // Windows-1252 "Müller": the engine hashes the stored 8-bit text, not its UTF-8 form.
  const std::string Pw("M\xFCller", 6);
  auto D = VLTHashRipeMD128(Pw.data(), Pw.size());
  EXPECT_EQ(VLTDeriveKey(craSquare, Pw), std::vector<uint8_t>(D.begin(), D.end()));
  EXPECT_NE(VLTDeriveKey(craSquare, Pw), VLTDeriveKey(craSquare, "M\xC3\xBCller"));
}

TEST(Cipher, DesIgnoresTheParityBitsOfItsKey) {
  auto Key = Hex("133457799bbcdff1");
  auto Plain = Hex("0123456789abcdef");
  std::vector<uint8_t> A(8), B(8);
  TVLTCipher(craDES_Single, Key.data(), Key.size()).EncryptBlock(Plain.data(), A.data());
  for (auto& K : Key) K ^= 1;  // every parity bit flipped
  TVLTCipher(craDES_Single, Key.data(), Key.size()).EncryptBlock(Plain.data(), B.data());
  EXPECT_EQ(A, B);
  EXPECT_EQ(A, Hex("85e813540f0ab405"));
}

TEST(Cipher, RejectsKeysTheCipherCannotTake) {
  uint8_t Key[40] = {};
  EXPECT_THROW(TVLTCipher(craRijndael_128, Key, 20), std::invalid_argument);
  EXPECT_THROW(TVLTCipher(craDES_Single, Key, 16), std::invalid_argument);
  EXPECT_THROW(TVLTCipher(craDES_Triple, Key, 16), std::invalid_argument);
  EXPECT_THROW(TVLTCipher(static_cast<TVLTCryptoAlgorithm>(8), Key, 16), std::invalid_argument);
}

// ---- the triple-DES 24-byte variant, against a model built from plain DES ----

std::vector<uint8_t> ModelTripleDES(const std::vector<uint8_t>& Key,
                                    const std::vector<uint8_t>& Block) {
  CryptoPP::DES::Encryption E1(Key.data(), 8), E3(Key.data() + 16, 8);
  CryptoPP::DES::Decryption D2(Key.data() + 8, 8);
  std::vector<uint8_t> B = Block;
  auto Swap = [&] {
    for (int I = 0; I < 4; ++I) std::swap(B[4 + I], B[8 + I]);
  };
  for (int L = 0; L < 3; ++L) E1.ProcessBlock(&B[8 * L]);
  Swap();
  for (int L = 0; L < 3; ++L) D2.ProcessBlock(&B[8 * L]);
  Swap();
  for (int L = 0; L < 3; ++L) E3.ProcessBlock(&B[8 * L]);
  return B;
}

TEST(TripleDES, ExchangesWordsOneAndTwoBetweenThePasses) {
  const auto Key = Hex("0123456789abcdeffedcba98765432100011223344556677");
  const auto Plain = Pattern(24, 3);
  TVLTCipher C(craDES_Triple, Key.data(), Key.size());
  ASSERT_EQ(C.BlockSize(), 24u);
  std::vector<uint8_t> Out(24);
  C.EncryptBlock(Plain.data(), Out.data());
  EXPECT_EQ(Out, ModelTripleDES(Key, Plain));
  C.DecryptBlock(Out.data(), Out.data());
  EXPECT_EQ(Out, Plain);

  // The third DES lane on its own must differ from plain EDE on it: the exchange ties the lanes.
  CryptoPP::DES_EDE3::Encryption Ede(Key.data(), 24);
  uint8_t Lane[8];
  Ede.ProcessBlock(Plain.data() + 16, Lane);
  C.EncryptBlock(Plain.data(), Out.data());
  EXPECT_EQ(0, std::memcmp(Lane, Out.data() + 16, 8));  // lane C never takes part in a swap
  Ede.ProcessBlock(Plain.data(), Lane);
  EXPECT_NE(0, std::memcmp(Lane, Out.data(), 8));
}

TEST(TripleDES, PasswordKeyHasEightZeroBytesAsThirdKey) {
  const auto Key = VLTDeriveKey(craDES_Triple, "secret");
  const auto Plain = Pattern(24, 11);
  std::vector<uint8_t> Out(24);
  TVLTCipher::ForPassword(craDES_Triple, "secret").EncryptBlock(Plain.data(), Out.data());
  EXPECT_EQ(Out, ModelTripleDES(Key, Plain));
}

// ---- chaining ----

// Stored bytes built block by block from the bare cipher, exactly as the chaining is defined.
std::vector<uint8_t> ModelEncode(const TVLTCipher& C, std::vector<uint8_t> Data) {
  const size_t B = C.BlockSize();
  std::vector<uint8_t> F(B, 0xFF), T(B);
  size_t I = 0;
  for (; I + B <= Data.size(); I += B) {
    for (size_t J = 0; J < B; ++J) T[J] = Data[I + J] ^ F[J];
    C.EncryptBlock(T.data(), &Data[I]);
    for (size_t J = 0; J < B; ++J) F[J] ^= Data[I + J];
  }
  if (I < Data.size()) {
    C.EncryptBlock(F.data(), T.data());
    for (size_t J = 0; I + J < Data.size(); ++J) Data[I + J] ^= T[J];
  }
  return Data;
}

class Chaining : public ::testing::TestWithParam<TVLTCryptoAlgorithm> {};

TEST_P(Chaining, MatchesTheBlockByBlockDefinition) {
  TVLTCipher C = TVLTCipher::ForPassword(GetParam(), "Password1");
  const size_t B = C.BlockSize();
  for (size_t Size : {size_t{1}, B - 1, B, B + 1, 2 * B + B / 2, size_t{256}, size_t{472}}) {
    SCOPED_TRACE(Size);
    auto Plain = Pattern(Size, static_cast<uint8_t>(Size));
    auto Buf = Plain;
    C.Encode(Buf.data(), Buf.size());
    EXPECT_EQ(Buf, ModelEncode(C, Plain));
  }
}

TEST_P(Chaining, RoundTripsEveryLength) {
  TVLTCipher C = TVLTCipher::ForPassword(GetParam(), "pw");
  for (size_t Size = 0; Size <= 100; ++Size) {
    auto Plain = Pattern(Size, 0x21);
    auto Buf = Plain;
    C.Encode(Buf.data(), Buf.size());
    if (Size >= C.BlockSize()) {
      EXPECT_NE(Buf, Plain) << Size;
    }
    C.Decode(Buf.data(), Buf.size());
    ASSERT_EQ(Buf, Plain) << Size;
  }
  for (size_t Size : {472u, 4056u, 8152u, 65495u}) {  // page data areas, odd and large
    auto Plain = Pattern(Size, 0x5C);
    auto Buf = Plain;
    C.Encode(Buf.data(), Buf.size());
    C.Decode(Buf.data(), Buf.size());
    ASSERT_EQ(Buf, Plain) << Size;
  }
}

TEST_P(Chaining, EveryCallStartsFromTheSameVector) {
  TVLTCipher C = TVLTCipher::ForPassword(GetParam(), "pw");
  auto A = Pattern(100, 1), B = A;
  C.Encode(A.data(), A.size());
  C.Encode(B.data(), B.size());
  EXPECT_EQ(A, B);
  // A change in one block alters that block and every later one, never an earlier one.
  auto P = Pattern(100, 1);
  P[C.BlockSize()] ^= 1;
  C.Encode(P.data(), P.size());
  EXPECT_TRUE(std::equal(A.begin(), A.begin() + C.BlockSize(), P.begin()));
  EXPECT_NE(A[99], P[99]);
}

TEST_P(Chaining, BufferFunctionsAgreeWithThePreparedCipher) {
  const TVLTCryptoAlgorithm A = GetParam();
  auto Plain = Pattern(333, 9);
  auto Buf = Plain, Ref = Plain;
  ASSERT_TRUE(EncryptBuffer(A, Buf.data(), Buf.size(), "key"));
  TVLTCipher::ForPassword(A, "key").Encode(Ref.data(), Ref.size());
  EXPECT_EQ(Buf, Ref);
  ASSERT_TRUE(DecryptBuffer(A, Buf.data(), Buf.size(), "key"));
  EXPECT_EQ(Buf, Plain);
  // Another password gives other bytes.
  auto Other = Plain;
  EncryptBuffer(A, Other.data(), Other.size(), "kez");
  EXPECT_NE(Other, Ref);
}

INSTANTIATE_TEST_SUITE_P(AllAlgorithms, Chaining, ::testing::ValuesIn(kAll),
                         [](const auto& Info) {
                           return std::string(CryptoAlgorithmName(Info.param));
                         });

// AES deciphers a page's whole blocks through another library than the one that enciphers
// them, a run of blocks at a time: every key size, and lengths at the edges of the runs, must
// give back what the block-by-block definition gives.
TEST(Chaining, AesDecodingMatchesTheBlockByBlockDefinitionForEveryKeySize) {
  for (size_t KeySize : {16u, 24u, 32u}) {
    const auto Key = Pattern(KeySize, static_cast<uint8_t>(KeySize));
    TVLTCipher C(KeySize == 16 ? craRijndael_128 : craRijndael_256, Key.data(), KeySize);
    for (size_t Size : {16u, 95u * 16, 96u * 16, 96u * 16 + 1, 97u * 16 + 5, 4056u}) {
      SCOPED_TRACE(testing::Message() << KeySize << "-byte key, " << Size << " bytes");
      const auto Stored = Pattern(Size, 0x3D);
      std::vector<uint8_t> Expected = Stored, F(16, 0xFF), T(16);
      size_t I = 0;
      for (; I + 16 <= Size; I += 16) {
        C.DecryptBlock(&Stored[I], T.data());
        for (size_t J = 0; J < 16; ++J) {
          Expected[I + J] = T[J] ^ F[J];
          F[J] ^= Stored[I + J];
        }
      }
      C.EncryptBlock(F.data(), T.data());
      for (size_t J = 0; I + J < Size; ++J) Expected[I + J] = Stored[I + J] ^ T[J];
      auto Buf = Stored;
      C.Decode(Buf.data(), Buf.size());
      EXPECT_EQ(Buf, Expected);
    }
  }
}

TEST(Chaining, PartialFinalBlockOfAnAesPage) {
  // 472 data bytes of a 512-byte page: 29 whole AES blocks and 8 trailing bytes, which are the
  // plain bytes xor the enciphered feedback block.
  TVLTCipher C = TVLTCipher::ForPassword(craRijndael_128, "Password1");
  auto Plain = Pattern(472, 0);
  auto Buf = Plain;
  C.Encode(Buf.data(), Buf.size());
  std::vector<uint8_t> F(16, 0xFF);
  for (size_t I = 0; I < 29 * 16; ++I) F[I % 16] ^= Buf[I];
  uint8_t K[16];
  C.EncryptBlock(F.data(), K);
  for (size_t J = 0; J < 8; ++J) EXPECT_EQ(Buf[464 + J], Plain[464 + J] ^ K[J]) << J;
}

TEST(Chaining, FirstBlockIsPlainXorAllOnesEnciphered) {
  const auto Key = Hex("000102030405060708090a0b0c0d0e0f");
  TVLTCipher C(craRijndael_128, Key.data(), Key.size());
  auto Buf = Hex("ffeeddccbbaa99887766554433221100");  // xor 0xFF gives the FIPS-197 plain text
  C.Encode(Buf.data(), Buf.size());
  EXPECT_EQ(Buf, Hex("69c4e0d86a7b0430d8cdb78070b4c55a"));
}

// Stored bytes must never change between releases: a checksum of the cipher text of a fixed
// buffer under a fixed password, per algorithm, pinned once the model tests above passed.
TEST(Chaining, StoredBytesArePinned) {
  const uint32_t kExpected[] = {0x6E8226ACu, 0x0F68C2C2u, 0x6D2A4A08u, 0xEC377D41u,
                                0x254AF109u, 0x240B040Eu, 0x4570A9C4u, 0x813BCF9Au};
  for (TVLTCryptoAlgorithm A : kAll) {
    auto Buf = Pattern(472, 0x40);
    ASSERT_TRUE(EncryptBuffer(A, Buf.data(), Buf.size(), "Vaultrix"));
    EXPECT_EQ(CalcCRC32(0, Buf.data(), Buf.size()), kExpected[A]) << CryptoAlgorithmName(A);
  }
}

TEST(BufferFunctions, UnknownAlgorithmLeavesTheBufferAlone) {
  auto Plain = Pattern(40, 2), Buf = Plain;
  EXPECT_TRUE(EncryptBuffer(8, Buf.data(), Buf.size(), "pw"));
  EXPECT_TRUE(DecryptBuffer(255, Buf.data(), Buf.size(), "pw"));
  EXPECT_EQ(Buf, Plain);
}

}  // namespace
}  // namespace vlt
