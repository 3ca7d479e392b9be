#include "engine/protect/VLTCipher.h"

#include <cryptopp/blowfish.h>
#include <cryptopp/des.h>
#include <cryptopp/rijndael.h>
#include <cryptopp/ripemd.h>
#include <cryptopp/square.h>
#include <cryptopp/twofish.h>
#include <openssl/evp.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <stdexcept>

namespace vlt {

namespace {

inline void XorInto(uint8_t* Dst, const uint8_t* Src, size_t N) {
  for (size_t I = 0; I < N; ++I) Dst[I] ^= Src[I];
}

struct TAlgorithmInfo {
  size_t BlockSize;
  bool Ripe256;    // key from RIPEMD-256, else RIPEMD-128
  size_t KeySize;  // bytes of the digest used
};

// Indexed by TVLTCryptoAlgorithm.
constexpr TAlgorithmInfo kAlgorithms[kCryptoAlgorithmCount] = {
    {16, false, 16},  // craRijndael_128
    {16, true, 32},   // craRijndael_256
    {8, false, 8},    // craDES_Single
    {24, false, 16},  // craDES_Triple (padded to 24 with zeros)
    {8, true, 32},    // craBlowfish
    {16, false, 16},  // craTwofish_128
    {16, true, 32},   // craTwofish_256
    {16, false, 16},  // craSquare
};

}  // namespace

// The block cipher of one algorithm with its key schedules.
struct TVLTCipher::TCoder {
  virtual ~TCoder() = default;
  virtual void Enc(const uint8_t* In, uint8_t* Out) const = 0;
  virtual void Dec(const uint8_t* In, uint8_t* Out) const = 0;
  // Count whole blocks without chaining; In and Out do not overlap. Ciphers that can work on
  // several independent blocks at once (AES with hardware support) do so here.
  virtual void DecBlocks(const uint8_t* In, uint8_t* Out, size_t Count, size_t BlockSize) const {
    for (size_t I = 0; I < Count; ++I) Dec(In + I * BlockSize, Out + I * BlockSize);
  }
};

namespace {

template <class C>
struct TLibraryCoder final : TVLTCipher::TCoder {
  typename C::Encryption E;
  typename C::Decryption D;

  TLibraryCoder(const uint8_t* Key, size_t KeySize) : E(Key, KeySize), D(Key, KeySize) {}

  void Enc(const uint8_t* In, uint8_t* Out) const override {
    E.ProcessAndXorBlock(In, nullptr, Out);
  }
  void Dec(const uint8_t* In, uint8_t* Out) const override {
    D.ProcessAndXorBlock(In, nullptr, Out);
  }
  void DecBlocks(const uint8_t* In, uint8_t* Out, size_t Count, size_t BlockSize) const override {
    size_t Left = D.AdvancedProcessBlocks(In, nullptr, Out, Count * BlockSize,
                                          CryptoPP::BlockTransformation::BT_AllowParallel);
    // The library handles every whole block; finish by hand should a version leave any.
    for (size_t Done = Count * BlockSize - Left; Done < Count * BlockSize; Done += BlockSize)
      Dec(In + Done, Out + Done);
  }
};

// Triple DES on 24-byte blocks (see the header). Words W1 and W2 (bytes 4-11) are exchanged
// between the DES passes, which ties the three 8-byte lanes together.
struct TTripleDESCoder final : TVLTCipher::TCoder {
  CryptoPP::DES::Encryption E1, E2, E3;
  CryptoPP::DES::Decryption D1, D2, D3;

  explicit TTripleDESCoder(const uint8_t* Key)
      : E1(Key, 8), E2(Key + 8, 8), E3(Key + 16, 8), D1(Key, 8), D2(Key + 8, 8), D3(Key + 16, 8) {}

  static void SwapW1W2(uint8_t* B) {
    uint8_t T[4];
    std::memcpy(T, B + 4, 4);
    std::memcpy(B + 4, B + 8, 4);
    std::memcpy(B + 8, T, 4);
  }
  static void Pass(const CryptoPP::BlockTransformation& T, uint8_t* B) {
    T.ProcessBlock(B);
    T.ProcessBlock(B + 8);
    T.ProcessBlock(B + 16);
  }

  void Enc(const uint8_t* In, uint8_t* Out) const override {
    uint8_t B[24];
    std::memcpy(B, In, 24);
    Pass(E1, B);
    SwapW1W2(B);
    Pass(D2, B);
    SwapW1W2(B);
    Pass(E3, B);
    std::memcpy(Out, B, 24);
  }
  void Dec(const uint8_t* In, uint8_t* Out) const override {
    uint8_t B[24];
    std::memcpy(B, In, 24);
    Pass(D3, B);
    SwapW1W2(B);
    Pass(E2, B);
    SwapW1W2(B);
    Pass(D1, B);
    std::memcpy(Out, B, 24);
  }
};

// AES. Enciphering chains every block to the one before, so blocks go one at a time, and
// Crypto++'s single-block call costs less than OpenSSL's. The whole blocks of a page being
// deciphered are independent of each other: they go to OpenSSL's ECB decryption in one call,
// which keeps more blocks in flight than Crypto++ does (its ECB decryption is about 1.5x
// faster on the same bytes; a whole page's decoding with the feedback, 5-10%). Both are the
// bare AES of the same key. Should OpenSSL fail to set up or
// to decipher, Crypto++ does the work.
struct TAESCoder final : TVLTCipher::TCoder {
  TLibraryCoder<CryptoPP::Rijndael> Library;
  EVP_CIPHER_CTX* Ecb = nullptr;

  TAESCoder(const uint8_t* Key, size_t KeySize) : Library(Key, KeySize) {
    const EVP_CIPHER* Cipher = KeySize == 16   ? EVP_aes_128_ecb()
                               : KeySize == 24 ? EVP_aes_192_ecb()
                                               : EVP_aes_256_ecb();
    Ecb = EVP_CIPHER_CTX_new();
    if (Ecb && (EVP_DecryptInit_ex(Ecb, Cipher, nullptr, Key, nullptr) != 1 ||
                EVP_CIPHER_CTX_set_padding(Ecb, 0) != 1)) {
      EVP_CIPHER_CTX_free(Ecb);
      Ecb = nullptr;
    }
  }
  ~TAESCoder() override { EVP_CIPHER_CTX_free(Ecb); }
  TAESCoder(const TAESCoder&) = delete;
  TAESCoder& operator=(const TAESCoder&) = delete;

  void Enc(const uint8_t* In, uint8_t* Out) const override { Library.Enc(In, Out); }
  void Dec(const uint8_t* In, uint8_t* Out) const override { Library.Dec(In, Out); }
  // REQUIRES: In and Out do not overlap, so that a failed OpenSSL call can be done again from In.
  void DecBlocks(const uint8_t* In, uint8_t* Out, size_t Count, size_t BlockSize) const override {
    const size_t Bytes = Count * BlockSize;
    int Written = 0;
    if (Ecb && Bytes <= INT_MAX &&
        EVP_DecryptUpdate(Ecb, Out, &Written, In, static_cast<int>(Bytes)) == 1 &&
        static_cast<size_t>(Written) == Bytes)
      return;
    Library.DecBlocks(In, Out, Count, BlockSize);
  }
};

template <class C>
void CheckKeySize(size_t KeySize) {
  if (!C::Encryption::StaticGetValidKeyLength(KeySize) ||
      C::Encryption::StaticGetValidKeyLength(KeySize) != KeySize)
    throw std::invalid_argument("key size not accepted by the cipher");
}

template <class C, class Coder = TLibraryCoder<C>>
std::unique_ptr<TVLTCipher::TCoder> MakeLibraryCoder(const uint8_t* Key, size_t KeySize) {
  CheckKeySize<C>(KeySize);
  return std::make_unique<Coder>(Key, KeySize);
}

}  // namespace

std::array<uint8_t, 16> VLTHashRipeMD128(const void* Data, size_t Size) {
  std::array<uint8_t, 16> Digest;
  CryptoPP::RIPEMD128().CalculateDigest(Digest.data(), static_cast<const CryptoPP::byte*>(Data),
                                        Size);
  return Digest;
}

std::array<uint8_t, 32> VLTHashRipeMD256(const void* Data, size_t Size) {
  std::array<uint8_t, 32> Digest;
  CryptoPP::RIPEMD256().CalculateDigest(Digest.data(), static_cast<const CryptoPP::byte*>(Data),
                                        Size);
  return Digest;
}

std::vector<uint8_t> VLTDeriveKey(TVLTCryptoAlgorithm Algorithm, std::string_view Password) {
  if (Algorithm >= kCryptoAlgorithmCount) throw std::invalid_argument("unknown crypto algorithm");
  const TAlgorithmInfo& Info = kAlgorithms[Algorithm];
  std::vector<uint8_t> Key;
  if (Info.Ripe256) {
    auto D = VLTHashRipeMD256(Password.data(), Password.size());
    Key.assign(D.begin(), D.begin() + Info.KeySize);
  } else {
    auto D = VLTHashRipeMD128(Password.data(), Password.size());
    Key.assign(D.begin(), D.begin() + Info.KeySize);
  }
  if (Algorithm == craDES_Triple) Key.resize(24, 0);  // K3 = eight zero bytes
  return Key;
}

TVLTCipher::TVLTCipher(TVLTCryptoAlgorithm Algorithm, const uint8_t* Key, size_t KeySize)
    : FAlgorithm(Algorithm), FBlockSize(0) {
  if (Algorithm >= kCryptoAlgorithmCount) throw std::invalid_argument("unknown crypto algorithm");
  FBlockSize = kAlgorithms[Algorithm].BlockSize;
  switch (Algorithm) {
    case craRijndael_128:
    case craRijndael_256:
      FCoder = MakeLibraryCoder<CryptoPP::Rijndael, TAESCoder>(Key, KeySize);
      break;
    case craDES_Single:
      FCoder = MakeLibraryCoder<CryptoPP::DES>(Key, KeySize);
      break;
    case craDES_Triple:
      if (KeySize != 24) throw std::invalid_argument("triple DES takes a 24-byte key");
      FCoder = std::make_unique<TTripleDESCoder>(Key);
      break;
    case craBlowfish:
      FCoder = MakeLibraryCoder<CryptoPP::Blowfish>(Key, KeySize);
      break;
    case craTwofish_128:
    case craTwofish_256:
      FCoder = MakeLibraryCoder<CryptoPP::Twofish>(Key, KeySize);
      break;
    case craSquare:
      FCoder = MakeLibraryCoder<CryptoPP::Square>(Key, KeySize);
      break;
  }
}

TVLTCipher TVLTCipher::ForPassword(TVLTCryptoAlgorithm Algorithm, std::string_view Password) {
  std::vector<uint8_t> Key = VLTDeriveKey(Algorithm, Password);
  return TVLTCipher(Algorithm, Key.data(), Key.size());
}

TVLTCipher::TVLTCipher(TVLTCipher&&) noexcept = default;
TVLTCipher& TVLTCipher::operator=(TVLTCipher&&) noexcept = default;
TVLTCipher::~TVLTCipher() = default;

void TVLTCipher::EncryptBlock(const uint8_t* In, uint8_t* Out) const { FCoder->Enc(In, Out); }
void TVLTCipher::DecryptBlock(const uint8_t* In, uint8_t* Out) const { FCoder->Dec(In, Out); }

namespace {

// The chaining, instantiated per block size so that the xors are fixed-size word operations.
template <size_t B>
void EncodeChain(const TVLTCipher::TCoder& Coder, uint8_t* P, size_t Size) {
  // The feedback stays in words of its own, in registers, as in decoding; the block cipher gets
  // the input block P xor F in a buffer of its own. (Passing F to the library's xor-on-input
  // call instead, with F kept in memory, cost a fifth more per block.) The xors go by 64-bit
  // words (block sizes are 8, 16 and 24): byte loops here were auto-vectorised into code
  // several times slower than the cipher itself.
  constexpr size_t kWords = B / 8;
  uint64_t F[kWords];
  for (uint64_t& W : F) W = ~uint64_t{0};
  uint8_t T[B];
  for (size_t Whole = Size / B; Whole > 0; --Whole, P += B) {
    for (size_t W = 0; W < kWords; ++W) StoreLE(T + 8 * W, LoadLE<uint64_t>(P + 8 * W) ^ F[W]);
    Coder.Enc(T, P);                                                          // C = E(P xor F)
    for (size_t W = 0; W < kWords; ++W) F[W] ^= LoadLE<uint64_t>(P + 8 * W);  // F = C xor F
  }
  if (size_t Rest = Size % B) {
    uint8_t FB[B];
    std::memcpy(FB, F, B);
    Coder.Enc(FB, T);
    XorInto(P, T, Rest);
  }
}

template <size_t B>
void DecodeChain(const TVLTCipher::TCoder& Coder, uint8_t* P, size_t Size) {
  // The feedback lives in words of its own whose address never leaves this function, so that
  // it stays in registers: kept in memory, each block's update waited on the store before.
  constexpr size_t kWords = B / 8;
  uint64_t F[kWords];
  for (uint64_t& W : F) W = ~uint64_t{0};
  // The feedback depends only on cipher blocks, so whole blocks are deciphered a chunk at a
  // time without chaining (in parallel where the cipher can) and the feedback is applied
  // afterwards from a copy of the chunk.
  constexpr size_t kPerChunk = 1536 / B;
  uint8_t Saved[kPerChunk * B];
  for (size_t Whole = Size / B; Whole > 0;) {
    const size_t N = std::min(Whole, kPerChunk);
    std::memcpy(Saved, P, N * B);
    Coder.DecBlocks(Saved, P, N, B);
    for (size_t I = 0; I < N * B; I += B) {
      for (size_t W = 0; W < kWords; ++W) {
        uint8_t* Word = P + I + 8 * W;
        StoreLE(Word, LoadLE<uint64_t>(Word) ^ F[W]);  // P = D(C) xor F
        F[W] ^= LoadLE<uint64_t>(Saved + I + 8 * W);   // F = C xor F
      }
    }
    P += N * B;
    Whole -= N;
  }
  if (size_t Rest = Size % B) {
    uint8_t FB[B], K[B];
    std::memcpy(FB, F, B);
    Coder.Enc(FB, K);
    XorInto(P, K, Rest);
  }
}

}  // namespace

void TVLTCipher::Encode(void* Buffer, size_t Size) const {
  auto* P = static_cast<uint8_t*>(Buffer);
  switch (FBlockSize) {
    case 8: return EncodeChain<8>(*FCoder, P, Size);
    case 16: return EncodeChain<16>(*FCoder, P, Size);
    default: return EncodeChain<24>(*FCoder, P, Size);
  }
}

void TVLTCipher::Decode(void* Buffer, size_t Size) const {
  auto* P = static_cast<uint8_t*>(Buffer);
  switch (FBlockSize) {
    case 8: return DecodeChain<8>(*FCoder, P, Size);
    case 16: return DecodeChain<16>(*FCoder, P, Size);
    default: return DecodeChain<24>(*FCoder, P, Size);
  }
}

bool EncryptBuffer(uint8_t Algorithm, void* Buffer, size_t Size, std::string_view Password) {
  if (Algorithm >= kCryptoAlgorithmCount) return true;
  try {
    TVLTCipher::ForPassword(static_cast<TVLTCryptoAlgorithm>(Algorithm), Password)
        .Encode(Buffer, Size);
    return true;
  } catch (...) {
    return false;
  }
}

bool DecryptBuffer(uint8_t Algorithm, void* Buffer, size_t Size, std::string_view Password) {
  if (Algorithm >= kCryptoAlgorithmCount) return true;
  try {
    TVLTCipher::ForPassword(static_cast<TVLTCryptoAlgorithm>(Algorithm), Password)
        .Decode(Buffer, Size);
    return true;
  } catch (...) {
    return false;
  }
}

}  // namespace vlt
