#include "app/paradox/ParadoxValue.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>

#include "app/paradox/ParadoxBlob.h"
#include "app/paradox/ParadoxError.h"
#include "engine/base/VLTTypes.h"

namespace vlt::app {

namespace {

uint32_t LoadBE(const uint8_t* P, int N) {
  uint32_t V = 0;
  for (int I = 0; I < N; ++I) V = (V << 8) | P[I];
  return V;
}
void StoreBE(uint8_t* P, int N, uint32_t V) {
  for (int I = N - 1; I >= 0; --I) {
    P[I] = static_cast<uint8_t>(V);
    V >>= 8;
  }
}

bool AllZero(const uint8_t* P, int N) {
  for (int I = 0; I < N; ++I)
    if (P[I]) return false;
  return true;
}

double LoadDouble(const uint8_t* P) {
  uint64_t B = 0;
  for (int I = 0; I < 8; ++I) B = (B << 8) | P[I];
  if (B & 0x8000000000000000ull)
    B &= 0x7FFFFFFFFFFFFFFFull;
  else
    B = ~B;
  double D;
  std::memcpy(&D, &B, 8);
  return D;
}
void StoreDouble(uint8_t* P, double D) {
  uint64_t B;
  std::memcpy(&B, &D, 8);
  if (B & 0x8000000000000000ull)
    B = ~B;
  else
    B |= 0x8000000000000000ull;
  for (int I = 7; I >= 0; --I) {
    P[I] = static_cast<uint8_t>(B);
    B >>= 8;
  }
}

std::string ConvertText(std::string_view Raw, const TParadoxCodePage& CP, TTextForm Form) {
  switch (Form) {
    case TTextForm::Ansi:
      return CP.ToWin1252(Raw);
    case TTextForm::Utf8:
      return CP.ToUtf8(Raw);
    case TTextForm::Raw:
      break;
  }
  return std::string(Raw);
}

[[noreturn]] void Conv(const std::string& FieldName, const std::string& What) {
  throw EParadoxError("Field \"" + FieldName + "\": " + What + ".");
}

bool ParseInt(std::string_view S, int64_t& V) {
  while (!S.empty() && S.front() == ' ') S.remove_prefix(1);
  while (!S.empty() && S.back() == ' ') S.remove_suffix(1);
  if (!S.empty() && S.front() == '+') S.remove_prefix(1);
  auto R = std::from_chars(S.data(), S.data() + S.size(), V);
  return !S.empty() && R.ec == std::errc() && R.ptr == S.data() + S.size();
}
bool ParseFloat(std::string_view S, double& V) {
  while (!S.empty() && S.front() == ' ') S.remove_prefix(1);
  while (!S.empty() && S.back() == ' ') S.remove_suffix(1);
  if (!S.empty() && S.front() == '+') S.remove_prefix(1);
  auto R = std::from_chars(S.data(), S.data() + S.size(), V);
  return !S.empty() && R.ec == std::errc() && R.ptr == S.data() + S.size();
}

int64_t ToInteger(const TParadoxValue& V, const std::string& FieldName) {
  switch (V.Kind) {
    case TParadoxValue::vkInteger:
    case TParadoxValue::vkBoolean:
    case TParadoxValue::vkDate:
    case TParadoxValue::vkTime:
      return V.Int;
    case TParadoxValue::vkFloat:
    case TParadoxValue::vkCurrency:
    case TParadoxValue::vkDateTime:
      if (!std::isfinite(V.Float) || std::fabs(V.Float) > 9.2e18)
        Conv(FieldName, "value out of range");
      return std::llround(V.Float);
    case TParadoxValue::vkString: {
      int64_t I;
      if (!ParseInt(V.Str, I)) Conv(FieldName, "'" + V.Str + "' is not a valid integer value");
      return I;
    }
    default:
      break;
  }
  Conv(FieldName, "the value cannot be converted to an integer");
}

double ToFloat(const TParadoxValue& V, const std::string& FieldName) {
  switch (V.Kind) {
    case TParadoxValue::vkFloat:
    case TParadoxValue::vkCurrency:
    case TParadoxValue::vkDateTime:
      return V.Float;
    case TParadoxValue::vkInteger:
    case TParadoxValue::vkBoolean:
    case TParadoxValue::vkDate:
    case TParadoxValue::vkTime:
      return static_cast<double>(V.Int);
    case TParadoxValue::vkString: {
      double D;
      if (!ParseFloat(V.Str, D))
        Conv(FieldName, "'" + V.Str + "' is not a valid floating point value");
      return D;
    }
    default:
      break;
  }
  Conv(FieldName, "the value cannot be converted to a number");
}

bool ParseDateText(std::string_view S, int32_t& Days) {
  int Y, M, D;
  char Tail;
  std::string Z(S);
  if (std::sscanf(Z.c_str(), "%d-%d-%d%c", &Y, &M, &D, &Tail) == 3 ||
      (std::sscanf(Z.c_str(), "%d/%d/%d%c", &M, &D, &Y, &Tail) == 3)) {
    TParadoxDate PD{Y, M, D};
    if (!IsValidDate(PD)) return false;
    Days = DateToDays(PD);
    return true;
  }
  return false;
}

std::string TimeText(int64_t Ms) {
  char B[32];
  int64_t S = Ms / 1000;
  int Frac = static_cast<int>(Ms % 1000);
  std::snprintf(B, sizeof B, "%02d:%02d:%02d", static_cast<int>(S / 3600),
                static_cast<int>(S / 60 % 60), static_cast<int>(S % 60));
  std::string Out = B;
  if (Frac) {
    std::snprintf(B, sizeof B, ".%03d", Frac);
    Out += B;
  }
  return Out;
}

std::string DateText(int64_t Days) {
  if (Days < 1 || Days > 3652059) return std::to_string(Days);
  TParadoxDate D = DaysToDate(static_cast<int32_t>(Days));
  char B[32];
  std::snprintf(B, sizeof B, "%04d-%02d-%02d", D.Year, D.Month, D.Day);
  return B;
}

double ReadBCD(const uint8_t* P, int Decimals) {
  bool Positive = (P[0] & 0x80) != 0;
  double V = 0;
  for (int I = 0; I < 32; ++I) {
    uint8_t Nib = (I % 2 == 0) ? (P[1 + I / 2] >> 4) : (P[1 + I / 2] & 0x0F);
    if (!Positive) Nib = static_cast<uint8_t>(0x0F - Nib);
    if (Nib > 9) return std::numeric_limits<double>::quiet_NaN();
    V = V * 10 + Nib;
  }
  V /= std::pow(10.0, Decimals);
  return Positive ? V : -V;
}

}  // namespace

std::string ShortestDecimal(double D) {
  if (std::isnan(D)) return "NaN";
  if (std::isinf(D)) return D < 0 ? "-Inf" : "Inf";
  char B[512];
  auto R = std::to_chars(B, B + sizeof B, D, std::chars_format::fixed);
  if (R.ec != std::errc()) return std::to_string(D);
  std::string S(B, R.ptr);
  if (S == "-0") S = "0";
  return S;
}

std::string ValueToText(const TParadoxValue& V) {
  switch (V.Kind) {
    case TParadoxValue::vkNull:
      return {};
    case TParadoxValue::vkBoolean:
      return V.Int ? "true" : "false";
    case TParadoxValue::vkInteger:
      return std::to_string(V.Int);
    case TParadoxValue::vkFloat:
    case TParadoxValue::vkCurrency:
      return ShortestDecimal(V.Float);
    case TParadoxValue::vkString:
    case TParadoxValue::vkBytes:
      return V.Str;
    case TParadoxValue::vkDate:
      return DateText(V.Int);
    case TParadoxValue::vkTime:
      return TimeText(V.Int);
    case TParadoxValue::vkDateTime: {
      if (!std::isfinite(V.Float) || V.Float < 0 || V.Float > 9e15) return ShortestDecimal(V.Float);
      int64_t Ms = static_cast<int64_t>(std::llround(V.Float));
      return DateText(Ms / 86400000) + " " + TimeText(Ms % 86400000);
    }
  }
  return {};
}

bool FieldIsNull(const TParadoxFieldDesc& F, const uint8_t* Rec) {
  const uint8_t* P = Rec + F.Offset;
  switch (F.Kind) {
    case pxfMemo:
    case pxfBlob:
    case pxfFmtMemo:
    case pxfOLE:
    case pxfGraphic:
      return LoadLE<uint32_t>(P + F.Width - 6) == 0 && AllZero(P, F.Width - 10);
    default:
      return AllZero(P, F.Width);
  }
}

TParadoxValue DecodeField(const TParadoxFieldDesc& F, const uint8_t* Rec,
                          const TParadoxCodePage& CP, TTextForm Form, const TParadoxBlobFile* Blobs,
                          const std::string& TableName) {
  const uint8_t* P = Rec + F.Offset;
  if (FieldIsNull(F, Rec)) return {};
  switch (F.Kind) {
    case pxfAlpha: {
      size_t L = strnlen(reinterpret_cast<const char*>(P), static_cast<size_t>(F.Width));
      return TParadoxValue::String(
          ConvertText(std::string_view(reinterpret_cast<const char*>(P), L), CP, Form));
    }
    case pxfShort:
      return TParadoxValue::Integer(static_cast<int16_t>(LoadBE(P, 2) ^ 0x8000u));
    case pxfLong:
    case pxfAutoInc:
      return TParadoxValue::Integer(static_cast<int32_t>(LoadBE(P, 4) ^ 0x80000000u));
    case pxfDate:
      return TParadoxValue::Date(static_cast<int32_t>(LoadBE(P, 4) ^ 0x80000000u));
    case pxfTime:
      return TParadoxValue::Time(static_cast<int32_t>(LoadBE(P, 4) ^ 0x80000000u));
    case pxfNumber:
      return TParadoxValue::Floating(LoadDouble(P));
    case pxfMoney:
      return TParadoxValue::Currency(LoadDouble(P));
    case pxfTimestamp:
      return TParadoxValue::DateTime(LoadDouble(P));
    case pxfLogical:
      return TParadoxValue::Boolean(P[0] != 0x80);
    case pxfBCD:
      return TParadoxValue::Floating(ReadBCD(P, F.DescSize));
    case pxfBytes:
      return TParadoxValue::Bytes(
          std::string(reinterpret_cast<const char*>(P), static_cast<size_t>(F.Width)));
    case pxfMemo:
    case pxfBlob:
    case pxfFmtMemo:
    case pxfOLE:
    case pxfGraphic: {
      const int Leader = F.Width - 10;
      const uint32_t Offset = LoadLE<uint32_t>(P + Leader);
      const uint32_t Length = LoadLE<uint32_t>(P + Leader + 4);
      std::string Data;
      if (Length <= static_cast<uint32_t>(Leader)) {
        Data.assign(reinterpret_cast<const char*>(P), Length);
      } else if (Length == 0) {
        return {};
      } else {
        if (!Blobs)
          throw EParadoxError("Table \"" + TableName + "\": the BLOB file of field \"" + F.Name +
                              "\" is missing.");
        Data = Blobs->Read(Offset, Length, F.Name);
      }
      if (F.Kind == pxfMemo) return TParadoxValue::String(ConvertText(Data, CP, Form));
      return TParadoxValue::Bytes(std::move(Data));
    }
  }
  return {};
}

void EncodeField(const TParadoxFieldDesc& F, uint8_t* Rec, const TParadoxValue& V,
                 const TParadoxCodePage& CP, const std::string& FieldName) {
  uint8_t* P = Rec + F.Offset;
  if (V.IsNull() || (V.Kind == TParadoxValue::vkString && V.Str.empty() && F.Kind != pxfAlpha)) {
    std::memset(P, 0, static_cast<size_t>(F.Width));
    return;
  }
  switch (F.Kind) {
    case pxfAlpha: {
      std::string S;
      switch (V.Kind) {
        case TParadoxValue::vkString:
          S = V.Str;
          break;
        case TParadoxValue::vkBytes:
          S = V.Str;
          break;
        default:
          S = ValueToText(V);
          break;
      }
      std::string T = CP.FromWin1252(S);
      size_t N = std::min(T.size(), static_cast<size_t>(F.Width));
      std::memset(P, 0, static_cast<size_t>(F.Width));
      std::memcpy(P, T.data(), N);
      return;
    }
    case pxfShort:
    case pxfLong:
    case pxfAutoInc: {
      int64_t I = ToInteger(V, FieldName);
      int64_t Lo = F.Kind == pxfShort ? -32767 : -2147483647;
      int64_t Hi = F.Kind == pxfShort ? 32767 : 2147483647;
      if (I < Lo || I > Hi) Conv(FieldName, std::to_string(I) + " is out of range");
      if (F.Kind == pxfShort)
        StoreBE(P, 2, static_cast<uint16_t>(I) ^ 0x8000u);
      else
        StoreBE(P, 4, static_cast<uint32_t>(I) ^ 0x80000000u);
      return;
    }
    case pxfDate: {
      int64_t Days;
      if (V.Kind == TParadoxValue::vkDate)
        Days = V.Int;
      else if (V.Kind == TParadoxValue::vkDateTime)
        Days = static_cast<int64_t>(std::floor(V.Float / 86400000.0));
      else if (V.Kind == TParadoxValue::vkString) {
        int32_t D;
        if (!ParseDateText(V.Str, D)) Conv(FieldName, "'" + V.Str + "' is not a valid date");
        Days = D;
      } else
        Conv(FieldName, "the value cannot be converted to a date");
      if (Days < 1 || Days > 3652059) Conv(FieldName, "date out of range");
      StoreBE(P, 4, static_cast<uint32_t>(Days) ^ 0x80000000u);
      return;
    }
    case pxfTime: {
      int64_t Ms;
      if (V.Kind == TParadoxValue::vkTime || V.Kind == TParadoxValue::vkInteger)
        Ms = V.Int;
      else if (V.Kind == TParadoxValue::vkDateTime)
        Ms = static_cast<int64_t>(std::fmod(V.Float, 86400000.0));
      else
        Conv(FieldName, "the value cannot be converted to a time");
      if (Ms < 0 || Ms >= 86400000) Conv(FieldName, "time out of range");
      StoreBE(P, 4, static_cast<uint32_t>(Ms) ^ 0x80000000u);
      return;
    }
    case pxfNumber:
    case pxfMoney:
      StoreDouble(P, ToFloat(V, FieldName));
      return;
    case pxfTimestamp: {
      double Ms;
      if (V.Kind == TParadoxValue::vkDateTime)
        Ms = V.Float;
      else if (V.Kind == TParadoxValue::vkDate)
        Ms = static_cast<double>(V.Int) * 86400000.0;
      else
        Conv(FieldName, "the value cannot be converted to a timestamp");
      StoreDouble(P, Ms);
      return;
    }
    case pxfLogical: {
      bool B;
      if (V.Kind == TParadoxValue::vkString) {
        if (SameText(V.Str, "true"))
          B = true;
        else if (SameText(V.Str, "false"))
          B = false;
        else
          Conv(FieldName, "'" + V.Str + "' is not a valid boolean value");
      } else {
        B = ToInteger(V, FieldName) != 0;
      }
      P[0] = B ? 0x81 : 0x80;
      return;
    }
    case pxfBytes: {
      if (V.Kind != TParadoxValue::vkBytes && V.Kind != TParadoxValue::vkString)
        Conv(FieldName, "the value cannot be converted to bytes");
      std::memset(P, 0, static_cast<size_t>(F.Width));
      std::memcpy(P, V.Str.data(), std::min(V.Str.size(), static_cast<size_t>(F.Width)));
      return;
    }
    default:
      break;
  }
  Conv(FieldName, "writing fields of type " + std::string(FieldTypeName(FieldTypeOfKind(F.Kind))) +
                      " is not supported");
}

int CompareFieldBytes(const TParadoxFieldDesc& F, const uint8_t* A, const uint8_t* B) {
  return std::memcmp(A + F.Offset, B + F.Offset, static_cast<size_t>(F.Width));
}

}  // namespace vlt::app
