// Password keys of one database: encryption of page data and of the password control block.
//
// Only the data area of a page (bytes 40 .. PageSize - 1) is ever enciphered; the 40-byte page
// header stays plain and carries what reading needs (offsets within TVLTDiskPageHeader):
//
//   OFFSET SIZE CONTENT
//   14     4    CRC32     CalcCRC32(0, plain page data, PageSize - 40)
//   20     1    Cipherype TVLTCryptoAlgorithm ordinal the data was enciphered with
//
// A page is deciphered with the algorithm of its own Cipherype byte, not the database's, so the
// object keeps one prepared cipher per algorithm it meets (the database's is prepared at once).
//
// Control block: 256 random bytes (each 0 to 254) whose CalcCRC32(0, ..., 256) is stored beside
// them in the crypto header; the bytes are stored enciphered. The right password deciphers them
// to bytes with that checksum.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>

#include "engine/base/VLTTypes.h"
#include "engine/protect/VLTCipher.h"

namespace vlt {

constexpr size_t kPageCRC32Offset = 14;
constexpr size_t kPageCipherypeOffset = 20;
constexpr size_t kControlBlockSize = 256;

class TVLTDatabaseCipher {
 public:
  // Prepares the key of Password.CryptoAlgorithm. REQUIRES: Password.Password not empty (an
  // empty password means the database is not encrypted and has no cipher).
  explicit TVLTDatabaseCipher(const TVLTPassword& Password);
  ~TVLTDatabaseCipher();
  TVLTDatabaseCipher(const TVLTDatabaseCipher&) = delete;
  TVLTDatabaseCipher& operator=(const TVLTDatabaseCipher&) = delete;

  const TVLTPassword& Password() const { return FPassword; }
  TVLTCryptoAlgorithm Algorithm() const { return FPassword.CryptoAlgorithm; }

  // EncryptBuffer / DecryptBuffer with the prepared keys: same bytes, same answers (an algorithm
  // above 7 leaves the buffer unchanged and answers true). A cipher failure answers false; the
  // page methods below ignore it by design: a page enciphered wrongly fails its checksum when it
  // is read (30446), a wrong password fails the control block check.
  bool Encrypt(uint8_t Algorithm, void* Buffer, size_t Size);
  bool Decrypt(uint8_t Algorithm, void* Buffer, size_t Size);

  // Before a page is written: sets Cipherype to the database's algorithm and CRC32 over the
  // plain data, then enciphers the data area in place. REQUIRES: PageSize > 40.
  void EncryptPage(uint8_t* Page, size_t PageSize);
  // After the write: deciphers the data area again (by the page's Cipherype) so the cached page
  // stays plain. No checksum test.
  void RestorePage(uint8_t* Page, size_t PageSize);
  // After a read: deciphers the data area with the page's Cipherype; unless IgnoreCRCErrors,
  // a checksum other than the header's CRC32 raises 30446 "Decrypt page error. Check CRC
  // failed. PageNo: %d". With IgnoreCRCErrors the damaged plain data is left in the page.
  void DecryptPage(uint8_t* Page, size_t PageSize, TVLTPageNo PageNo, bool IgnoreCRCErrors);

  // A new control block: 256 random bytes 0..254; CRC receives their checksum, then Block is
  // enciphered in place with the database's algorithm; a cipher failure raises 30440.
  void NewControlBlock(uint8_t* Block, uint32_t& CRC);
  // Deciphers Block (256 bytes, in place) with the database's algorithm and answers whether its
  // checksum equals CRC. An algorithm above 7 answers false: such a block cannot prove a
  // password.
  bool CheckControlBlock(uint8_t* Block, uint32_t CRC);

 private:
  const TVLTCipher* CipherFor(uint8_t Algorithm);

  TVLTPassword FPassword;
  std::mutex FLock;  // guards FCiphers while one is being prepared
  std::array<std::unique_ptr<TVLTCipher>, kCryptoAlgorithmCount> FCiphers;
};

}  // namespace vlt
