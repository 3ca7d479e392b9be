#include "engine/protect/VLTSecurity.h"

#include <random>

#include "engine/base/VLTCRC32.h"
#include "engine/base/VLTErrorCodes.h"
#include "engine/base/VLTExcept.h"

namespace vlt {

TVLTDatabaseCipher::TVLTDatabaseCipher(const TVLTPassword& Password) : FPassword(Password) {
  CipherFor(FPassword.CryptoAlgorithm);
}

TVLTDatabaseCipher::~TVLTDatabaseCipher() = default;

const TVLTCipher* TVLTDatabaseCipher::CipherFor(uint8_t Algorithm) {
  if (Algorithm >= kCryptoAlgorithmCount) return nullptr;
  std::lock_guard<std::mutex> Guard(FLock);
  auto& Slot = FCiphers[Algorithm];
  if (!Slot)
    Slot = std::make_unique<TVLTCipher>(
        TVLTCipher::ForPassword(static_cast<TVLTCryptoAlgorithm>(Algorithm), FPassword.Password));
  return Slot.get();
}

bool TVLTDatabaseCipher::Encrypt(uint8_t Algorithm, void* Buffer, size_t Size) {
  if (Algorithm >= kCryptoAlgorithmCount) return true;
  try {
    CipherFor(Algorithm)->Encode(Buffer, Size);
    return true;
  } catch (...) {
    return false;
  }
}

bool TVLTDatabaseCipher::Decrypt(uint8_t Algorithm, void* Buffer, size_t Size) {
  if (Algorithm >= kCryptoAlgorithmCount) return true;
  try {
    CipherFor(Algorithm)->Decode(Buffer, Size);
    return true;
  } catch (...) {
    return false;
  }
}

void TVLTDatabaseCipher::EncryptPage(uint8_t* Page, size_t PageSize) {
  if (PageSize <= kPageHeaderSize) return;
  uint8_t* Data = Page + kPageHeaderSize;
  const size_t DataSize = PageSize - kPageHeaderSize;
  Page[kPageCipherypeOffset] = FPassword.CryptoAlgorithm;
  StoreLE<uint32_t>(Page + kPageCRC32Offset, CalcCRC32(0, Data, DataSize));
  Encrypt(FPassword.CryptoAlgorithm, Data, DataSize);
}

void TVLTDatabaseCipher::RestorePage(uint8_t* Page, size_t PageSize) {
  if (PageSize <= kPageHeaderSize) return;
  Decrypt(Page[kPageCipherypeOffset], Page + kPageHeaderSize, PageSize - kPageHeaderSize);
}

void TVLTDatabaseCipher::DecryptPage(uint8_t* Page, size_t PageSize, TVLTPageNo PageNo,
                                     bool IgnoreCRCErrors) {
  if (PageSize <= kPageHeaderSize) return;
  uint8_t* Data = Page + kPageHeaderSize;
  const size_t DataSize = PageSize - kPageHeaderSize;
  Decrypt(Page[kPageCipherypeOffset], Data, DataSize);
  if (IgnoreCRCErrors) return;
  if (CalcCRC32(0, Data, DataSize) != LoadLE<uint32_t>(Page + kPageCRC32Offset))
    throw EVLTException(kErrDecryptPageCRC, "Decrypt page error. Check CRC failed. PageNo: %d",
                        {int64_t{PageNo}});
}

void TVLTDatabaseCipher::NewControlBlock(uint8_t* Block, uint32_t& CRC) {
  std::random_device Seed;
  std::mt19937 Gen(Seed());
  std::uniform_int_distribution<int> Byte(0, 254);
  for (size_t I = 0; I < kControlBlockSize; ++I) Block[I] = static_cast<uint8_t>(Byte(Gen));
  CRC = CalcCRC32(0, Block, kControlBlockSize);
  // Unlike a page, a block stored unenciphered could never prove the password again.
  if (!Encrypt(FPassword.CryptoAlgorithm, Block, kControlBlockSize))
    throw EVLTException(kErrControlBlockEncrypt, "Cannot encrypt the password control block");
}

bool TVLTDatabaseCipher::CheckControlBlock(uint8_t* Block, uint32_t CRC) {
  if (FPassword.CryptoAlgorithm >= kCryptoAlgorithmCount) return false;
  if (!Decrypt(FPassword.CryptoAlgorithm, Block, kControlBlockSize)) return false;
  return CalcCRC32(0, Block, kControlBlockSize) == CRC;
}

}  // namespace vlt
