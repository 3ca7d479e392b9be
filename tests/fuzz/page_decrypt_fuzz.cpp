// Decrypts arbitrary bytes as a stored page: any page size, any algorithm byte in the page
// header (also values naming no algorithm), any password. Reading must end in plain data or in
// error 30446, never in a crash or a read outside the page. Also checks that every buffer
// enciphered with a password deciphers back to itself.
//
// Input: byte 0 = database algorithm, byte 1 = flags (bit 0: ignore checksum errors), byte 2 =
// password length n (mod 32), then n password bytes, then the stored page.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "engine/base/VLTExcept.h"
#include "engine/protect/VLTSecurity.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  using namespace vlt;
  if (Size < 3) return 0;
  TVLTPassword Pw;
  Pw.CryptoAlgorithm = static_cast<TVLTCryptoAlgorithm>(Data[0] % kCryptoAlgorithmCount);
  const bool IgnoreCRC = Data[1] & 1;
  size_t N = Data[2] % 32;
  Data += 3;
  Size -= 3;
  if (N > Size) N = Size;
  Pw.Password.assign(reinterpret_cast<const char*>(Data), N);
  Data += N;
  Size -= N;

  TVLTDatabaseCipher Cipher(Pw);
  std::vector<uint8_t> Page(Data, Data + Size);
  try {
    Cipher.DecryptPage(Page.data(), Page.size(), 7, IgnoreCRC);
  } catch (const EVLTException& E) {
    if (E.NativeError() != 30446) std::abort();
  }

  // Round trip of the same bytes under the database's algorithm.
  std::vector<uint8_t> Plain(Data, Data + Size), Buf = Plain;
  if (!EncryptBuffer(Pw.CryptoAlgorithm, Buf.data(), Buf.size(), Pw.Password) ||
      !DecryptBuffer(Pw.CryptoAlgorithm, Buf.data(), Buf.size(), Pw.Password) || Buf != Plain)
    std::abort();
  return 0;
}
