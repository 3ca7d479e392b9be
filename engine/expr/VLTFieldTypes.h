// The engine's field type system: the declared (advanced) type of a field and the storage (base)
// type the engine keeps, compares and converts values in. Both are stored in files by ordinal,
// so the order of the enumerators is part of the file format and must never change.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

namespace vlt {

enum TVLTBaseFieldType : uint8_t {
  bftUnknown = 0,
  bftChar = 1,
  bftWideChar = 2,
  bftVarchar = 3,
  bftWideVarchar = 4,
  bftSignedInt8 = 5,
  bftSignedInt16 = 6,
  bftSignedInt32 = 7,
  bftSignedInt64 = 8,
  bftUnsignedInt8 = 9,
  bftUnsignedInt16 = 10,
  bftUnsignedInt32 = 11,
  bftSingle = 12,
  bftDouble = 13,
  bftExtended = 14,
  bftDate = 15,
  bftTime = 16,
  bftDateTime = 17,
  bftBlob = 18,
  bftClob = 19,
  bftWideClob = 20,
  bftLogical = 21,
  bftCurrency = 22,
  bftBytes = 23,
  bftVarBytes = 24,
  bftBFile = 25,
};
constexpr int kBaseFieldTypeCount = 26;

enum TVLTAdvancedFieldType : uint8_t {
  aftUnknown = 0,
  aftChar = 1,
  aftString = 2,
  aftWideChar = 3,
  aftWideString = 4,
  aftShortint = 5,
  aftSmallint = 6,
  aftInteger = 7,
  aftLargeint = 8,
  aftByte = 9,
  aftWord = 10,
  aftCardinal = 11,
  aftAutoInc = 12,
  aftAutoIncShortint = 13,
  aftAutoIncSmallint = 14,
  aftAutoIncInteger = 15,
  aftAutoIncLargeint = 16,
  aftAutoIncByte = 17,
  aftAutoIncWord = 18,
  aftAutoIncCardinal = 19,
  aftSingle = 20,
  aftDouble = 21,
  aftExtended = 22,
  aftBoolean = 23,
  aftCurrency = 24,
  aftDate = 25,
  aftTime = 26,
  aftDateTime = 27,
  aftTimeStamp = 28,
  aftBytes = 29,
  aftVarBytes = 30,
  aftBlob = 31,
  aftGraphic = 32,
  aftMemo = 33,
  aftFormattedMemo = 34,
  aftWideMemo = 35,
  aftGuid = 36,
};
constexpr int kAdvancedFieldTypeCount = 37;

// ---- type classes (ordinal ranges; callers rely on exactly these members) ----

constexpr bool IsBlobBaseType(TVLTBaseFieldType T) { return T >= bftBlob && T <= bftWideClob; }
constexpr bool IsStringBaseType(TVLTBaseFieldType T) { return T >= bftChar && T <= bftWideVarchar; }
constexpr bool IsWideStringBaseType(TVLTBaseFieldType T) {
  return T == bftWideChar || T == bftWideVarchar;
}
constexpr bool IsAnsiStringBaseType(TVLTBaseFieldType T) { return T == bftChar || T == bftVarchar; }
constexpr bool IsVarStringBaseType(TVLTBaseFieldType T) {
  return T == bftVarchar || T == bftWideVarchar;
}
constexpr bool IsNumericBaseType(TVLTBaseFieldType T) {
  return (T >= bftSignedInt8 && T <= bftExtended) || T == bftCurrency;
}
constexpr bool IsIntegerBaseType(TVLTBaseFieldType T) {
  return T >= bftSignedInt8 && T <= bftUnsignedInt32;
}
constexpr bool IsFloatBaseType(TVLTBaseFieldType T) {
  return T == bftSingle || T == bftDouble || T == bftExtended || T == bftCurrency;
}
constexpr bool IsDateTimeBaseType(TVLTBaseFieldType T) { return T >= bftDate && T <= bftDateTime; }

constexpr bool IsBlobAdvancedType(TVLTAdvancedFieldType T) {
  return T >= aftBlob && T <= aftWideMemo;
}
constexpr bool IsStringAdvancedType(TVLTAdvancedFieldType T) {
  return (T >= aftChar && T <= aftWideString) || T == aftGuid;
}
constexpr bool IsWideStringAdvancedType(TVLTAdvancedFieldType T) {
  return T == aftWideChar || T == aftWideString;
}
constexpr bool IsBytesAdvancedType(TVLTAdvancedFieldType T) {
  return T == aftBytes || T == aftVarBytes;
}
constexpr bool IsAutoincAdvancedType(TVLTAdvancedFieldType T) {
  return T >= aftAutoInc && T <= aftAutoIncCardinal;
}

// Size of a fixed-size type's value in bytes; 0 for the variable-size types (strings, bytes,
// BLOBs) and for types without storage.
constexpr int32_t FixedDataSize(TVLTBaseFieldType T) {
  switch (T) {
    case bftSignedInt8:
    case bftUnsignedInt8:
      return 1;
    case bftSignedInt16:
    case bftUnsignedInt16:
    case bftLogical:
      return 2;
    case bftSignedInt32:
    case bftUnsignedInt32:
    case bftSingle:
    case bftDate:
    case bftTime:
      return 4;
    case bftSignedInt64:
    case bftDouble:
    case bftDateTime:
    case bftCurrency:
      return 8;
    case bftExtended:
      return 10;  // x87 80-bit extended real
    default:
      return 0;
  }
}

// ---- names for messages ----

inline constexpr std::array<std::string_view, kBaseFieldTypeCount> kBaseFieldTypeNames = {
    "bftUnknown",      "bftChar",          "bftWideChar",      "bftVarchar",
    "bftWideVarchar",  "bftSignedInt8",    "bftSignedInt16",   "bftSignedInt32",
    "bftSignedInt64",  "bftUnsignedInt8",  "bftUnsignedInt16", "bftUnsignedInt32",
    "bftSingle",       "bftDouble",        "bftExtended",      "bftDate",
    "bftTime",         "bftDateTime",      "bftBlob",          "bftClob",
    "bftWideClob",     "bftLogical",       "bftCurrency",      "bftBytes",
    "bftVarBytes",     "bftBFile"};

inline constexpr std::array<std::string_view, kAdvancedFieldTypeCount> kAdvancedFieldTypeNames = {
    "aftUnknown",         "aftChar",          "aftString",          "aftWideChar",
    "aftWideString",      "aftShortint",      "aftSmallint",        "aftInteger",
    "aftLargeint",        "aftByte",          "aftWord",            "aftCardinal",
    "aftAutoInc",         "aftAutoIncShortint", "aftAutoIncSmallint", "aftAutoIncInteger",
    "aftAutoIncLargeint", "aftAutoIncByte",   "aftAutoIncWord",     "aftAutoIncCardinal",
    "aftSingle",          "aftDouble",        "aftExtended",        "aftBoolean",
    "aftCurrency",        "aftDate",          "aftTime",            "aftDateTime",
    "aftTimeStamp",       "aftBytes",         "aftVarBytes",        "aftBlob",
    "aftGraphic",         "aftMemo",          "aftFormattedMemo",   "aftWideMemo",
    "aftGuid"};

// The enumerator's name ("bftVarchar"); "Unknown" for an ordinal outside the enumeration.
constexpr std::string_view BaseFieldTypeName(TVLTBaseFieldType T) {
  return static_cast<int>(T) < kBaseFieldTypeCount ? kBaseFieldTypeNames[T] : "Unknown";
}
constexpr std::string_view AdvancedFieldTypeName(TVLTAdvancedFieldType T) {
  return static_cast<int>(T) < kAdvancedFieldTypeCount ? kAdvancedFieldTypeNames[T] : "Unknown";
}

// A bftDateTime value as stored (8 bytes, packed):
//
//   OFFSET SIZE CONTENT
//   0      4    Date: day number, 1 = 1 January of year 1 (Int32)
//   4      4    Time: milliseconds since midnight, 0 to 86399999 (Int32)
struct TVLTDateTime {
  int32_t Date = 0;
  int32_t Time = 0;
  friend bool operator==(const TVLTDateTime&, const TVLTDateTime&) = default;
};

// Day number of the calendar date-time serial 0 (30 December 1899).
constexpr int32_t kDateDelta = 693594;
constexpr int32_t kMSecsPerDay = 86400000;

}  // namespace vlt
