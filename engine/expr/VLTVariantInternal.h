// Helpers shared by the parts of TVLTVariant (storage, conversions, comparison, arithmetic).
// Not for use outside the value type.
#pragma once

#include <cfloat>
#include <cstdint>
#include <cstring>

#include "engine/base/VLTTypes.h"
#include "engine/expr/VLTVariant.h"

namespace vlt {

static_assert(LDBL_MANT_DIG == 64, "bftExtended needs the 80-bit x87 long double");
constexpr int32_t kExtendedSize = 10;

// Native codes of the value type's own checks.
constexpr int32_t kErrValueIsNull = 30016;
constexpr int32_t kErrLogicalIsNull = 30140;
constexpr int32_t kErrBufferSizeExceeded = 20056;
constexpr int32_t kErrIncompatibleCompare = 30044;
constexpr int32_t kErrUnknownReturnCode = 30045;
constexpr int32_t kErrUnknownDataType = 30047;
constexpr int32_t kErrInvalidInteger = 30048;
constexpr int32_t kErrInvalidFloat = 30049;
constexpr int32_t kErrInvalidDate = 30051;
constexpr int32_t kErrInvalidTime = 30052;
constexpr int32_t kErrInvalidDateTime = 30053;
constexpr int32_t kErrInvalidCurrency = 30125;
constexpr int32_t kErrFloatOutOfIntRange = 30126;
constexpr int32_t kErrCannotConvert = 30141;
constexpr int32_t kErrInvalidDataSize = 30142;
constexpr int32_t kErrNonNumericAddSub = 30124;
constexpr int32_t kErrNonNumericMulDiv = 30127;
constexpr int32_t kErrDivision = 30128;

inline long double LoadExtended(const uint8_t* P) {
  long double V = 0;
  std::memcpy(&V, P, kExtendedSize);
  return V;
}
inline void StoreExtended(uint8_t* P, long double V) { std::memcpy(P, &V, kExtendedSize); }

// Numeric view of a non-null numeric, logical or date-time value. Integers (and logical, date
// and time values) are exact in I; floats and currency in F. For a date-time, I is the day
// number and F the day number with the time as fraction.
struct TNumber {
  bool IsFloat = false;
  int64_t I = 0;
  long double F = 0;
  long double AsFloat() const { return IsFloat ? F : static_cast<long double>(I); }
};
TNumber ReadNumber(TVLTBaseFieldType Type, const uint8_t* Data);

// ---- scalar storage (private members of TVLTVariant used by several of its parts) ----

template <typename T>
inline void TVLTVariant::StoreScalar(TVLTBaseFieldType Type, T V) {
  uint8_t* P = Reserve(static_cast<int32_t>(sizeof(T)));
  StoreLE<T>(P, V);
  FDataType = Type;
  FIsNull = false;
}

template <>
inline void TVLTVariant::StoreScalar<long double>(TVLTBaseFieldType Type, long double V) {
  StoreExtended(Reserve(kExtendedSize), V);
  FDataType = Type;
  FIsNull = false;
}

// Raises "Value is Null" when V is null.
[[noreturn]] void RaiseNull(int32_t Code);

}  // namespace vlt
