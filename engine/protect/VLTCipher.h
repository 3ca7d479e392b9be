// Block ciphers keyed from a database password, and the chaining every encrypted page and the
// password control block are coded with.
//
// What each TVLTCryptoAlgorithm value means (key = first k bytes of the password's hash):
//
//   ORDINAL VALUE            CIPHER              BLOCK  HASH        KEY BYTES
//   0       craRijndael_128  AES                 16     RIPEMD-128  16 (AES-128)
//   1       craRijndael_256  AES                 16     RIPEMD-256  32 (AES-256)
//   2       craDES_Single    DES                 8      RIPEMD-128  8 (parity bits ignored)
//   3       craDES_Triple    24-byte triple DES  24     RIPEMD-128  16 + 8 zero bytes
//   4       craBlowfish      Blowfish            8      RIPEMD-256  32
//   5       craTwofish_128   Twofish             16     RIPEMD-128  16
//   6       craTwofish_256   Twofish             16     RIPEMD-256  32
//   7       craSquare        Square              16     RIPEMD-128  16
//
// The hashed input is the password's 8-bit bytes and nothing else (no terminator, length or
// salt).
//
// Chaining. With block size B, encryption E and decryption D, the feedback block F starts as B
// bytes of 0xFF at every call (so equal plain data always gives equal cipher text):
//   whole block P:        C = E(P xor F);  F = C xor F      (decoding: P = D(C) xor F; F = C xor F)
//   final n < B bytes:    K = E(F);  C = P xor K[0..n)      (decoding is the same operation)
// This is not textbook cipher-text stealing; files written by earlier releases depend on it bit
// for bit.
//
// Triple DES 24-byte variant. K1, K2, K3 = key bytes 0-7, 8-15, 16-23 (K3 is zero with a
// RIPEMD-128 key). A block is three DES blocks A B C (bytes 0-7, 8-15, 16-23) = words W0..W5 of
// 4 bytes. Encrypting: DES-encrypt A, B, C under K1; swap W1 and W2; DES-decrypt A, B, C under
// K2; swap W1 and W2; DES-encrypt A, B, C under K3. Decrypting runs the steps backwards.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

#include "engine/base/VLTTypes.h"

namespace vlt {

constexpr size_t kMaxCipherBlockSize = 24;

// RIPEMD-128 (16 bytes) and RIPEMD-256 (32 bytes) digests of Data.
std::array<uint8_t, 16> VLTHashRipeMD128(const void* Data, size_t Size);
std::array<uint8_t, 32> VLTHashRipeMD256(const void* Data, size_t Size);

// The key bytes Algorithm uses for Password (see the table above). REQUIRES: Algorithm <= 7.
std::vector<uint8_t> VLTDeriveKey(TVLTCryptoAlgorithm Algorithm, std::string_view Password);

// One algorithm with its key schedule set up once. Coding keeps no state between calls, so one
// prepared object serves every page of a database; callers serialise its use (the page manager
// runs under its database's lock), since some cipher implementations use scratch space inside
// the object.
class TVLTCipher {
 public:
  // Key as VLTDeriveKey returns it (or any key size the cipher accepts: AES 16/24/32, DES 8,
  // triple DES 24, Blowfish 4-56, Twofish 16/24/32, Square 16). Throws std::invalid_argument for
  // an unknown algorithm or a key size the cipher does not take.
  TVLTCipher(TVLTCryptoAlgorithm Algorithm, const uint8_t* Key, size_t KeySize);
  // Hashes Password into the algorithm's key.
  static TVLTCipher ForPassword(TVLTCryptoAlgorithm Algorithm, std::string_view Password);

  TVLTCipher(TVLTCipher&&) noexcept;
  TVLTCipher& operator=(TVLTCipher&&) noexcept;
  ~TVLTCipher();

  TVLTCryptoAlgorithm Algorithm() const { return FAlgorithm; }
  size_t BlockSize() const { return FBlockSize; }

  // One block of BlockSize bytes with the bare block cipher (no chaining). In and Out may alias.
  void EncryptBlock(const uint8_t* In, uint8_t* Out) const;
  void DecryptBlock(const uint8_t* In, uint8_t* Out) const;

  // Size bytes in place with the chaining above, from a fresh all-0xFF feedback block.
  void Encode(void* Buffer, size_t Size) const;
  void Decode(void* Buffer, size_t Size) const;

  struct TCoder;  // the block cipher behind the algorithm

 private:
  TVLTCryptoAlgorithm FAlgorithm;
  size_t FBlockSize;
  std::unique_ptr<TCoder> FCoder;
};

// Encipher / decipher Size bytes in place under Password with a fresh cipher for this call.
// Answer false when the cipher failed; an Algorithm above 7 leaves the buffer unchanged and
// answers true.
bool EncryptBuffer(uint8_t Algorithm, void* Buffer, size_t Size, std::string_view Password);
bool DecryptBuffer(uint8_t Algorithm, void* Buffer, size_t Size, std::string_view Password);

}  // namespace vlt
