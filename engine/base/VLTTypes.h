// Shared engine types: page numbers, page item ids, object and session ids, passwords, and the
// enumerations every layer uses. All stored integers are little-endian and all stored records
// are packed; the Load/Store helpers here are the only way the engine reads or writes them.
#pragma once

#include <bit>
#include <compare>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

namespace vlt {

using TVLTPageNo = int32_t;  // pages counted from 0 in the file
using TVLTObjectID = int32_t;
using TVLTSessionID = int32_t;

constexpr TVLTPageNo kNoPage = -1;
constexpr TVLTObjectID kNoObjectID = -1;
constexpr TVLTSessionID kSystemSessionID = -2;  // the engine changing its own structures
constexpr TVLTSessionID kNoSessionID = -1;      // not connected
constexpr uint16_t kPageHeaderSize = 40;        // every page starts with it

// ---- little-endian access to packed records ----
template <typename T>
inline T LoadLE(const void* P) {
  T V;
  std::memcpy(&V, P, sizeof V);  // the engine runs on little-endian machines only
  return V;
}
template <typename T>
inline void StoreLE(void* P, T V) {
  std::memcpy(P, &V, sizeof V);
}
static_assert(std::endian::native == std::endian::little, "stored integers are little-endian");

// A record (record page and slot) or a BLOB; the key of record locks and the dataset bookmark.
//
//   OFFSET SIZE CONTENT
//   0      4    PageNo (Int32)
//   4      2    PageItemNo (Word)
struct TVLTPageItemID {
  static constexpr size_t kStoredSize = 6;

  int32_t PageNo = kNoPage;
  uint16_t PageItemNo = 0;

  friend auto operator<=>(const TVLTPageItemID&, const TVLTPageItemID&) = default;
  friend bool operator==(const TVLTPageItemID&, const TVLTPageItemID&) = default;

  void SaveTo(uint8_t* P) const {
    StoreLE<int32_t>(P, PageNo);
    StoreLE<uint16_t>(P + 4, PageItemNo);
  }
  static TVLTPageItemID LoadFrom(const uint8_t* P) {
    return {LoadLE<int32_t>(P), LoadLE<uint16_t>(P + 4)};
  }
};

enum TVLTCryptoAlgorithm : uint8_t {
  craRijndael_128 = 0,
  craRijndael_256 = 1,
  craDES_Single = 2,
  craDES_Triple = 3,
  craBlowfish = 4,
  craTwofish_128 = 5,
  craTwofish_256 = 6,
  craSquare = 7,
};
constexpr int kCryptoAlgorithmCount = 8;
// "Rijndael_128" ... "Square": the value's name without its prefix.
std::string_view CryptoAlgorithmName(TVLTCryptoAlgorithm A);
// Case-insensitive; false for an unknown name.
bool CryptoAlgorithmFromName(std::string_view Name, TVLTCryptoAlgorithm& A);

// Password of a database; an empty password means the pages are not encrypted.
struct TVLTPassword {
  std::string Password;  // 8-bit text, compared exactly
  TVLTCryptoAlgorithm CryptoAlgorithm = craRijndael_128;
};

// Table lock types, weakest first (compatibility matrix with the lock manager).
enum TVLTLockType : uint8_t { ltIS, ltS, ltSIRW, ltXIRW, ltRW, ltU, ltX };

enum TVLTAccessMode : uint8_t { amReadOnly, amReadWrite };
enum TVLTShareMode : uint8_t { smExclusive, smShareDenyNone, smShareDenyWrite };

// One byte in every stored descriptor.
enum TVLTCompressionAlgorithm : uint8_t { acaNone = 0, acaZLIB = 1, acaBZIP = 2, acaPPM = 3 };
enum TVLTCompressionLevel : uint8_t { aclNone, aclFastest, aclNormal, aclMaximum };

struct TVLTCompression {
  TVLTCompressionAlgorithm CompressionAlgorithm = acaNone;
  uint8_t CompressionMode = 0;  // 0 to 9
  TVLTCompressionLevel CompressionLevel = aclNone;
};

// "NONE", "ZLIB", "BZIP", "PPM".
std::string_view CompressionAlgorithmName(TVLTCompressionAlgorithm A);
// Case-insensitive; acaNone for an unknown name.
TVLTCompressionAlgorithm CompressionAlgorithmFromName(std::string_view Name);

// Names of tables, fields, indexes, sessions and databases compare without regard to case
// (ASCII and the Windows-1252 letters).
bool SameText(std::string_view A, std::string_view B);
int CompareText(std::string_view A, std::string_view B);
std::string UpperCase1252(std::string_view S);

// How a database's commits meet the medium.
enum TVLTDurability : uint8_t {
  dsOff,     // no syncs: a process crash is covered by the rollback journal, a power loss is not
  dsNormal,  // the journal is synced before a commit's in-place writes, the file before the
             // journal is removed
};

}  // namespace vlt
