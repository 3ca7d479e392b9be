// TVLTVariant: conversions between base types (Cast).
//
// Rules, by target:
//   numbers     from numbers by value (floats drop their fraction for integer targets; integers
//               wrap to the target's width); from a date its day number, from a time its
//               milliseconds, from a date-time its day number (with the time as fraction for
//               float targets); from logical 0 or 1; from text by parsing.
//   bftDate     from a number: the number is the day number (1 = 1 January of year 1).
//   bftTime     from a number: milliseconds modulo one day.
//   bftDateTime from an integer: that day at midnight; from a float: whole days and the
//               fraction as milliseconds. A date gives midnight of its day, a time day 0.
//   text        numbers, logical values, dates and times in the locale's text forms; midnight
//               (a time of 0) and the smallest day number are the empty text, i.e. null.
//   dates       from text: digit groups 4-2-2-2-2-2 (date and time) or 4-2-2 (date), separated
//               by nothing, blanks, "-" or ":", else the locale's date format.
//   bftLogical  from numbers: not 0; from text: "1" or "TRUE" in any case.
#include <cmath>
#include <cstring>

#include "engine/base/VLTTypes.h"
#include "engine/expr/VLTLocale.h"
#include "engine/expr/VLTVariant.h"
#include "engine/expr/VLTVariantInternal.h"

namespace vlt {

TNumber ReadNumber(TVLTBaseFieldType Type, const uint8_t* P) {
  TNumber N;
  switch (Type) {
    case bftSignedInt8: N.I = LoadLE<int8_t>(P); break;
    case bftSignedInt16: N.I = LoadLE<int16_t>(P); break;
    case bftSignedInt32: N.I = LoadLE<int32_t>(P); break;
    case bftSignedInt64: N.I = LoadLE<int64_t>(P); break;
    case bftUnsignedInt8: N.I = LoadLE<uint8_t>(P); break;
    case bftUnsignedInt16: N.I = LoadLE<uint16_t>(P); break;
    case bftUnsignedInt32: N.I = LoadLE<uint32_t>(P); break;
    case bftDate:
    case bftTime: N.I = LoadLE<int32_t>(P); break;
    case bftLogical: N.I = LoadLE<uint16_t>(P) != 0 ? 1 : 0; break;
    case bftSingle: N.IsFloat = true; N.F = LoadLE<float>(P); break;
    case bftDouble:
    case bftCurrency: N.IsFloat = true; N.F = LoadLE<double>(P); break;
    case bftExtended: N.IsFloat = true; N.F = LoadExtended(P); break;
    case bftDateTime: {
      N.I = LoadLE<int32_t>(P);
      long double Fraction = static_cast<long double>(LoadLE<int32_t>(P + 4)) / kMSecsPerDay;
      N.F = N.I < 0 ? N.I - Fraction : N.I + Fraction;
      break;
    }
    default: break;
  }
  return N;
}

namespace {

[[noreturn]] void RaiseCannotConvert(TVLTBaseFieldType From, TVLTBaseFieldType To) {
  throw EVLTException(kErrCannotConvert, "Cannot convert a value of type '%s' to type '%s'",
                      {std::string(BaseFieldTypeName(From)), std::string(BaseFieldTypeName(To))});
}

bool IsTextType(TVLTBaseFieldType T) {
  return IsStringBaseType(T) || T == bftClob || T == bftWideClob;
}
bool IsWideTextType(TVLTBaseFieldType T) { return IsWideStringBaseType(T) || T == bftWideClob; }
bool HasNumber(TVLTBaseFieldType T) {
  return IsNumericBaseType(T) || IsDateTimeBaseType(T) || T == bftLogical;
}

std::u16string WideText(const TVLTVariant& V) {
  size_t N;
  const uint8_t* P = V.WideUnits(N);
  std::u16string Out(N, u'\0');
  if (N) std::memcpy(Out.data(), P, N * 2);
  return Out;
}

// Text of a value in the locale's forms (empty for midnight and the smallest day number).
std::string FormatText(const TVLTVariant& V) {
  TVLTBaseFieldType T = V.DataType();
  const uint8_t* P = V.Data();
  switch (T) {
    case bftSignedInt8:
    case bftSignedInt16:
    case bftSignedInt32:
    case bftSignedInt64:
    case bftUnsignedInt8:
    case bftUnsignedInt16:
    case bftUnsignedInt32: return std::to_string(ReadNumber(T, P).I);
    case bftSingle: return TVLTLocale::FormatFloat(LoadLE<float>(P), 7);
    case bftDouble: return TVLTLocale::FormatFloat(LoadLE<double>(P), 15);
    case bftExtended: return TVLTLocale::FormatFloat(LoadExtended(P), 18);
    case bftCurrency: return TVLTLocale::FormatCurrency(LoadLE<double>(P));
    case bftLogical: return std::string(TVLTLocale::BoolName(LoadLE<uint16_t>(P) != 0));
    case bftDate: {
      int32_t D = LoadLE<int32_t>(P);
      return D == INT32_MIN ? std::string() : TVLTLocale::FormatDate(D);
    }
    case bftTime: {
      int32_t Ms = LoadLE<int32_t>(P);
      return Ms == 0 ? std::string() : TVLTLocale::FormatTime(Ms);
    }
    case bftDateTime: {
      int32_t D = LoadLE<int32_t>(P), Ms = LoadLE<int32_t>(P + 4);
      return (D == INT32_MIN && Ms == 0) ? std::string() : TVLTLocale::FormatDateTime(D, Ms);
    }
    case bftWideChar:
    case bftWideVarchar:
    case bftWideClob: return WideToAnsi(WideText(V));
    default: return std::string(V.AnsiView());  // 8-bit text and raw bytes
  }
}

std::u16string FormatWideText(const TVLTVariant& V) {
  if (IsWideTextType(V.DataType())) return WideText(V);
  return AnsiToWide(FormatText(V));
}

// The value's text for parsing (wide text narrowed).
std::string ParseText(const TVLTVariant& V) {
  if (IsWideTextType(V.DataType())) return WideToAnsi(WideText(V));
  return std::string(V.AnsiView());
}

int64_t FloatToInt64(long double F, TVLTBaseFieldType From) {
  long double T = std::trunc(F);
  if (!(T >= -9223372036854775808.0L && T < 9223372036854775808.0L))
    throw EVLTConvertError(kErrFloatOutOfIntRange, "Value %s is out of the integer range (%s)",
                           {TVLTLocale::FormatFloat(F, 15), std::string(BaseFieldTypeName(From))});
  return static_cast<int64_t>(T);
}

bool InIntegerRange(int64_t V, TVLTBaseFieldType T) {
  switch (T) {
    case bftSignedInt8: return V >= INT8_MIN && V <= INT8_MAX;
    case bftSignedInt16: return V >= INT16_MIN && V <= INT16_MAX;
    case bftSignedInt32: return V >= INT32_MIN && V <= INT32_MAX;
    case bftUnsignedInt8: return V >= 0 && V <= UINT8_MAX;
    case bftUnsignedInt16: return V >= 0 && V <= UINT16_MAX;
    case bftUnsignedInt32: return V >= 0 && V <= static_cast<int64_t>(UINT32_MAX);
    default: return true;
  }
}

int64_t ToInteger(const TVLTVariant& V, TVLTBaseFieldType Target) {
  TVLTBaseFieldType T = V.DataType();
  if (HasNumber(T)) {
    TNumber N = ReadNumber(T, V.Data());
    if (T == bftDateTime) return N.I;
    return N.IsFloat ? FloatToInt64(N.F, T) : N.I;
  }
  if (IsTextType(T)) {
    std::string S = ParseText(V);
    int64_t R;
    if (!TVLTLocale::ParseInteger(S, R) || !InIntegerRange(R, Target))
      throw EVLTConvertError(kErrInvalidInteger, "'%s' is not a valid integer value", {S});
    return R;
  }
  RaiseCannotConvert(T, Target);
}

long double ToFloat(const TVLTVariant& V, TVLTBaseFieldType Target) {
  TVLTBaseFieldType T = V.DataType();
  if (HasNumber(T)) return ReadNumber(T, V.Data()).AsFloat();
  if (IsTextType(T)) {
    std::string S = ParseText(V);
    if (Target == bftCurrency) {
      double R;
      if (!TVLTLocale::ParseCurrency(S, R))
        throw EVLTConvertError(kErrInvalidCurrency, "'%s' is not a valid floating point value", {S});
      return R;
    }
    long double R;
    if (!TVLTLocale::ParseFloat(S, R))
      throw EVLTConvertError(kErrInvalidFloat, "'%s' is not a valid floating point value", {S});
    return R;
  }
  RaiseCannotConvert(T, Target);
}

// Reads consecutive groups of exactly Lens[i] digits; groups may be separated by blanks, "-" or
// ":" (or not at all). The whole text must be used.
bool ParseDigitGroups(std::string_view S, const int* Lens, int Count, int* Out) {
  while (!S.empty() && S.front() == ' ') S.remove_prefix(1);
  while (!S.empty() && S.back() == ' ') S.remove_suffix(1);
  size_t Pos = 0;
  for (int G = 0; G < Count; ++G) {
    if (G > 0)
      while (Pos < S.size() && (S[Pos] == ' ' || S[Pos] == '-' || S[Pos] == ':')) ++Pos;
    int V = 0;
    for (int K = 0; K < Lens[G]; ++K, ++Pos) {
      if (Pos >= S.size() || S[Pos] < '0' || S[Pos] > '9') return false;
      V = V * 10 + (S[Pos] - '0');
    }
    Out[G] = V;
  }
  return Pos == S.size();
}

bool TextToDateTime(std::string_view S, TVLTDateTime& R, bool& HadTime) {
  static constexpr int kLong[6] = {4, 2, 2, 2, 2, 2};
  int G[6];
  HadTime = false;
  if (ParseDigitGroups(S, kLong, 6, G)) {
    if (TryEncodeDayNumber(G[0], G[1], G[2], R.Date) && TryEncodeTime(G[3], G[4], G[5], 0, R.Time)) {
      HadTime = true;
      return true;
    }
  }
  if (ParseDigitGroups(S, kLong, 3, G)) {
    if (TryEncodeDayNumber(G[0], G[1], G[2], R.Date)) {
      R.Time = 0;
      return true;
    }
  }
  if (TVLTLocale::ParseDateTime(S, R.Date, R.Time)) {
    HadTime = R.Time != 0;
    return true;
  }
  return false;
}

bool TextToTime(std::string_view S, int32_t& Ms) {
  static constexpr int kLens[3] = {2, 2, 2};
  int G[3];
  if (ParseDigitGroups(S, kLens, 3, G) && TryEncodeTime(G[0], G[1], G[2], 0, Ms)) return true;
  return TVLTLocale::ParseTime(S, Ms);
}

int32_t PositiveTime(int64_t Ms) {
  return static_cast<int32_t>(((Ms % kMSecsPerDay) + kMSecsPerDay) % kMSecsPerDay);
}

TVLTDateTime ToDateTime(const TVLTVariant& V) {
  TVLTBaseFieldType T = V.DataType();
  const uint8_t* P = V.Data();
  switch (T) {
    case bftDate: return {LoadLE<int32_t>(P), 0};
    case bftTime: return {0, LoadLE<int32_t>(P)};
    case bftDateTime: return {LoadLE<int32_t>(P), LoadLE<int32_t>(P + 4)};
    default: break;
  }
  if (IsNumericBaseType(T)) {
    TNumber N = ReadNumber(T, P);
    if (!N.IsFloat) return {static_cast<int32_t>(N.I), 0};
    int64_t Days = FloatToInt64(N.F, T);
    auto Ms = static_cast<int64_t>(std::llround(std::fabs(N.F - Days) * kMSecsPerDay));
    if (Ms >= kMSecsPerDay) {
      Ms -= kMSecsPerDay;
      Days += N.F < 0 ? -1 : 1;
    }
    return {static_cast<int32_t>(Days), static_cast<int32_t>(Ms)};
  }
  if (IsTextType(T)) {
    std::string S = ParseText(V);
    TVLTDateTime R;
    bool HadTime;
    if (!TextToDateTime(S, R, HadTime))
      throw EVLTConvertError(kErrInvalidDateTime, "'%s' is not a valid date and time", {S});
    return R;
  }
  RaiseCannotConvert(T, bftDateTime);
}

int32_t ToDate(const TVLTVariant& V) {
  TVLTBaseFieldType T = V.DataType();
  if (IsNumericBaseType(T)) {
    TNumber N = ReadNumber(T, V.Data());
    return static_cast<int32_t>(N.IsFloat ? FloatToInt64(N.F, T) : N.I);
  }
  if (IsTextType(T)) {
    std::string S = ParseText(V);
    TVLTDateTime R;
    bool HadTime;
    if (!TextToDateTime(S, R, HadTime))
      throw EVLTConvertError(kErrInvalidDate, "'%s' is not a valid date", {S});
    return R.Date;
  }
  if (IsDateTimeBaseType(T)) return ToDateTime(V).Date;
  RaiseCannotConvert(T, bftDate);
}

int32_t ToTime(const TVLTVariant& V) {
  TVLTBaseFieldType T = V.DataType();
  if (IsNumericBaseType(T)) {
    TNumber N = ReadNumber(T, V.Data());
    return PositiveTime(N.IsFloat ? FloatToInt64(N.F, T) : N.I);
  }
  if (IsTextType(T)) {
    std::string S = ParseText(V);
    int32_t Ms;
    if (!TextToTime(S, Ms)) throw EVLTConvertError(kErrInvalidTime, "'%s' is not a valid time", {S});
    return Ms;
  }
  if (IsDateTimeBaseType(T)) return ToDateTime(V).Time;
  RaiseCannotConvert(T, bftTime);
}

bool ToLogical(const TVLTVariant& V) {
  TVLTBaseFieldType T = V.DataType();
  if (IsNumericBaseType(T) || T == bftLogical) {
    TNumber N = ReadNumber(T, V.Data());
    return N.IsFloat ? N.F != 0 : N.I != 0;
  }
  if (IsTextType(T)) {
    std::string S = ParseText(V);
    size_t B = S.find_first_not_of(' '), E = S.find_last_not_of(' ');
    std::string_view Trimmed = B == std::string::npos ? std::string_view() : std::string_view(S).substr(B, E - B + 1);
    return Trimmed == "1" || SameText(Trimmed, "TRUE");
  }
  RaiseCannotConvert(T, bftLogical);
}

}  // namespace

void TVLTVariant::Cast(TVLTBaseFieldType NewDataType) {
  if (NewDataType == FDataType) return;
  if (NewDataType == bftUnknown || NewDataType == bftBFile ||
      static_cast<int>(NewDataType) >= kBaseFieldTypeCount)
    throw EVLTException(kErrUnknownDataType, "Unknown DataType: '%s'",
                        {std::string(BaseFieldTypeName(NewDataType))});
  if (IsNull()) {
    Clear(NewDataType);
    return;
  }
  const TVLTBaseFieldType From = FDataType;
  if (From == bftUnknown || From == bftBFile) RaiseCannotConvert(From, NewDataType);

  switch (NewDataType) {
    case bftChar:
    case bftVarchar:
    case bftClob:
      if (IsAnsiStringBaseType(From) || From == bftClob) {
        // Same 8-bit text, only the terminator differs (a record slot may hold more bytes).
        StoreString(AnsiView(), NewDataType);
      } else {
        StoreString(FormatText(*this), NewDataType);
      }
      return;
    case bftWideChar:
    case bftWideVarchar:
    case bftWideClob:
      if (IsWideTextType(From)) {
        StoreWide(WideText(*this), NewDataType);
      } else if (IsTextType(From) || From == bftBlob || From == bftBytes || From == bftVarBytes) {
        StoreWide(AnsiToWide(AnsiView()), NewDataType);
      } else {
        StoreWide(FormatWideText(*this), NewDataType);
      }
      return;
    case bftSignedInt8: {
      int64_t V = ToInteger(*this, NewDataType);
      StoreScalar<int8_t>(NewDataType, static_cast<int8_t>(V));
      return;
    }
    case bftSignedInt16: {
      int64_t V = ToInteger(*this, NewDataType);
      StoreScalar<int16_t>(NewDataType, static_cast<int16_t>(V));
      return;
    }
    case bftSignedInt32: {
      int64_t V = ToInteger(*this, NewDataType);
      StoreScalar<int32_t>(NewDataType, static_cast<int32_t>(V));
      return;
    }
    case bftSignedInt64: {
      int64_t V = ToInteger(*this, NewDataType);
      StoreScalar<int64_t>(NewDataType, V);
      return;
    }
    case bftUnsignedInt8: {
      int64_t V = ToInteger(*this, NewDataType);
      StoreScalar<uint8_t>(NewDataType, static_cast<uint8_t>(V));
      return;
    }
    case bftUnsignedInt16: {
      int64_t V = ToInteger(*this, NewDataType);
      StoreScalar<uint16_t>(NewDataType, static_cast<uint16_t>(V));
      return;
    }
    case bftUnsignedInt32: {
      int64_t V = ToInteger(*this, NewDataType);
      StoreScalar<uint32_t>(NewDataType, static_cast<uint32_t>(V));
      return;
    }
    case bftSingle: {
      long double V = ToFloat(*this, NewDataType);
      StoreScalar<float>(NewDataType, static_cast<float>(V));
      return;
    }
    case bftDouble:
    case bftCurrency: {
      long double V = ToFloat(*this, NewDataType);
      StoreScalar<double>(NewDataType, static_cast<double>(V));
      return;
    }
    case bftExtended: {
      long double V = ToFloat(*this, NewDataType);
      StoreScalar<long double>(NewDataType, V);
      return;
    }
    case bftDate: {
      int32_t V = ToDate(*this);
      StoreScalar<int32_t>(NewDataType, V);
      return;
    }
    case bftTime: {
      int32_t V = ToTime(*this);
      StoreScalar<int32_t>(NewDataType, V);
      return;
    }
    case bftDateTime: {
      TVLTDateTime V = ToDateTime(*this);
      uint8_t* P = Reserve(8);
      StoreLE<int32_t>(P, V.Date);
      StoreLE<int32_t>(P + 4, V.Time);
      FDataType = NewDataType;
      FIsNull = false;
      return;
    }
    case bftLogical: {
      bool V = ToLogical(*this);
      StoreScalar<uint16_t>(NewDataType, V ? 1 : 0);
      return;
    }
    case bftBlob:
    case bftBytes:
    case bftVarBytes: {
      if (IsAnsiStringBaseType(From)) {
        std::string_view S = AnsiView();
        TakeOwnBytes(S.data(), static_cast<int32_t>(S.size()));
      } else if (IsWideStringBaseType(From)) {
        size_t N;
        const uint8_t* P = WideUnits(N);
        TakeOwnBytes(P, static_cast<int32_t>(N * 2));
      } else {
        TakeOwnBytes(FPData, FDataSize);  // the raw bytes as they are
      }
      FDataType = NewDataType;
      return;
    }
    default:
      throw EVLTException(kErrUnknownDataType, "Unknown DataType: '%s'",
                          {std::string(BaseFieldTypeName(NewDataType))});
  }
}

}  // namespace vlt
