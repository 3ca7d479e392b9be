#include "engine/base/VLTTypes.h"

#include <array>

namespace vlt {

namespace {
constexpr std::array<std::string_view, kCryptoAlgorithmCount> kCryptoNames = {
    "Rijndael_128", "Rijndael_256", "DES_Single",  "DES_Triple",
    "Blowfish",     "Twofish_128",  "Twofish_256", "Square"};

constexpr std::array<std::string_view, 4> kCompressionNames = {"NONE", "ZLIB", "BZIP", "PPM"};

// Upper case of a Windows-1252 byte: ASCII letters, and the accented letters of 0xE0..0xFE
// except the division sign 0xF7; 0x9A/0x9C/0x9E/0xFF map to 0x8A/0x8C/0x8E/0x9F.
constexpr uint8_t Upper1252(uint8_t C) {
  if (C >= 'a' && C <= 'z') return static_cast<uint8_t>(C - 32);
  if (C >= 0xE0 && C <= 0xFE && C != 0xF7) return static_cast<uint8_t>(C - 32);
  switch (C) {
    case 0x9A:
      return 0x8A;
    case 0x9C:
      return 0x8C;
    case 0x9E:
      return 0x8E;
    case 0xFF:
      return 0x9F;
    default:
      return C;
  }
}
}  // namespace

std::string_view CryptoAlgorithmName(TVLTCryptoAlgorithm A) {
  return A < kCryptoAlgorithmCount ? kCryptoNames[A] : std::string_view();
}

bool CryptoAlgorithmFromName(std::string_view Name, TVLTCryptoAlgorithm& A) {
  for (int I = 0; I < kCryptoAlgorithmCount; ++I)
    if (SameText(Name, kCryptoNames[I])) {
      A = static_cast<TVLTCryptoAlgorithm>(I);
      return true;
    }
  return false;
}

std::string_view CompressionAlgorithmName(TVLTCompressionAlgorithm A) {
  return A < kCompressionNames.size() ? kCompressionNames[A] : std::string_view();
}

TVLTCompressionAlgorithm CompressionAlgorithmFromName(std::string_view Name) {
  for (size_t I = 0; I < kCompressionNames.size(); ++I)
    if (SameText(Name, kCompressionNames[I])) return static_cast<TVLTCompressionAlgorithm>(I);
  return acaNone;
}

int CompareText(std::string_view A, std::string_view B) {
  size_t N = A.size() < B.size() ? A.size() : B.size();
  for (size_t I = 0; I < N; ++I) {
    uint8_t X = Upper1252(static_cast<uint8_t>(A[I])), Y = Upper1252(static_cast<uint8_t>(B[I]));
    if (X != Y) return X < Y ? -1 : 1;
  }
  return A.size() == B.size() ? 0 : (A.size() < B.size() ? -1 : 1);
}

bool SameText(std::string_view A, std::string_view B) {
  return A.size() == B.size() && CompareText(A, B) == 0;
}

std::string UpperCase1252(std::string_view S) {
  std::string R(S);
  for (char& C : R) C = static_cast<char>(Upper1252(static_cast<uint8_t>(C)));
  return R;
}

}  // namespace vlt
