#include "engine/expr/VLTLocale.h"

#include <unicode/uchar.h>
#include <unicode/ucol.h>
#include <unicode/ustring.h>
#include <unicode/utf16.h>

#include <array>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "engine/base/VLTExcept.h"

namespace vlt {

namespace {

// Code points of 0x80..0x9F in Windows-1252 (the five undefined bytes map to the C1 control of
// the same number, as Windows does); 0xA0..0xFF are Latin-1.
constexpr std::array<char16_t, 32> kHigh = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

constexpr const char* kLocaleName = "en_US";

// UTF-16 text for ICU without a heap allocation for short strings.
class TUCharBuffer {
 public:
  static constexpr size_t kInline = 256;

  // Widens 8-bit text.
  explicit TUCharBuffer(std::string_view S) {
    UChar* P = Reserve(S.size());
    for (size_t I = 0; I < S.size(); ++I) P[I] = Win1252ToUnicode(static_cast<uint8_t>(S[I]));
  }
  // Uses wide text in place.
  explicit TUCharBuffer(std::u16string_view S)
      : FData(reinterpret_cast<const UChar*>(S.data())), FSize(S.size()) {}
  // Text of Length units or bytes at P; wide text is used in place when aligned.
  TUCharBuffer(const void* P, size_t Length, bool Wide) {
    if (!Wide) {
      auto* B = static_cast<const uint8_t*>(P);
      UChar* Out = Reserve(Length);
      for (size_t I = 0; I < Length; ++I) Out[I] = Win1252ToUnicode(B[I]);
    } else if (reinterpret_cast<uintptr_t>(P) % alignof(UChar) == 0) {
      FData = static_cast<const UChar*>(P);
      FSize = Length;
    } else if (Length > 0) {
      std::memcpy(Reserve(Length), P, Length * sizeof(UChar));
    }
  }

  const UChar* data() const { return FData; }
  int32_t size() const { return static_cast<int32_t>(FSize); }

 private:
  UChar* Reserve(size_t N) {
    FSize = N;
    UChar* P = N <= kInline ? FInline.data() : (FHeap.resize(N), reinterpret_cast<UChar*>(FHeap.data()));
    FData = P;
    return P;
  }
  std::array<UChar, kInline> FInline;
  std::u16string FHeap;
  const UChar* FData = nullptr;
  size_t FSize = 0;
};

int Sign(UCollationResult R) { return R == UCOL_LESS ? -1 : R == UCOL_GREATER ? 1 : 0; }

// Simple (one character to one character) case mapping, so that text keeps its length: a
// fixed-size field or an index key never grows when it is upper-cased ("\u00DF" stays).
std::u16string MapCase(std::u16string_view S, bool Upper) {
  std::u16string Out;
  Out.reserve(S.size());
  for (size_t I = 0; I < S.size();) {
    UChar32 C;
    U16_NEXT(S.data(), I, S.size(), C);
    C = Upper ? u_toupper(C) : u_tolower(C);
    if (U_IS_BMP(C)) {
      Out.push_back(static_cast<char16_t>(C));
    } else {
      Out.push_back(static_cast<char16_t>(U16_LEAD(C)));
      Out.push_back(static_cast<char16_t>(U16_TRAIL(C)));
    }
  }
  return Out;
}

// Case tables of the 8-bit code page. A character whose other case has no Windows-1252 byte
// (the micro sign's upper case is Greek) stays as it is.
struct TCaseTables {
  char Upper[256];
  char Lower[256];
  TCaseTables() {
    for (int B = 0; B < 256; ++B) {
      UChar32 C = Win1252ToUnicode(static_cast<uint8_t>(B));
      bool Ok;
      char U = UnicodeToWin1252(static_cast<char16_t>(u_toupper(C)), &Ok);
      Upper[B] = Ok && u_toupper(C) <= 0xFFFF ? U : static_cast<char>(B);
      char L = UnicodeToWin1252(static_cast<char16_t>(u_tolower(C)), &Ok);
      Lower[B] = Ok && u_tolower(C) <= 0xFFFF ? L : static_cast<char>(B);
    }
  }
};

const TCaseTables& CaseTables() {
  static const TCaseTables Tables;
  return Tables;
}

std::string_view Trim(std::string_view S) {
  while (!S.empty() && (S.front() == ' ' || S.front() == '\t')) S.remove_prefix(1);
  while (!S.empty() && (S.back() == ' ' || S.back() == '\t')) S.remove_suffix(1);
  return S;
}

bool IsDigit(char C) { return C >= '0' && C <= '9'; }

// Reads 1..MaxDigits digits at S[Pos].
bool ReadNumber(std::string_view S, size_t& Pos, int MaxDigits, int& Value, int* Digits = nullptr) {
  int N = 0;
  Value = 0;
  while (Pos < S.size() && IsDigit(S[Pos]) && N < MaxDigits) {
    Value = Value * 10 + (S[Pos] - '0');
    ++Pos;
    ++N;
  }
  if (Digits) *Digits = N;
  return N > 0 && !(Pos < S.size() && IsDigit(S[Pos]));
}

int CurrentYear() {
  std::time_t T = std::time(nullptr);
  std::tm Tm{};
  localtime_r(&T, &Tm);
  return Tm.tm_year + 1900;
}

// Days from 1 January 1970 (proleptic Gregorian).
int64_t DaysFromCivil(int64_t Y, unsigned M, unsigned D) {
  Y -= M <= 2;
  const int64_t Era = (Y >= 0 ? Y : Y - 399) / 400;
  const unsigned Yoe = static_cast<unsigned>(Y - Era * 400);
  const unsigned Doy = (153 * (M > 2 ? M - 3 : M + 9) + 2) / 5 + D - 1;
  const unsigned Doe = Yoe * 365 + Yoe / 4 - Yoe / 100 + Doy;
  return Era * 146097 + static_cast<int64_t>(Doe) - 719468;
}

void CivilFromDays(int64_t Z, int64_t& Y, unsigned& M, unsigned& D) {
  Z += 719468;
  const int64_t Era = (Z >= 0 ? Z : Z - 146096) / 146097;
  const unsigned Doe = static_cast<unsigned>(Z - Era * 146097);
  const unsigned Yoe = (Doe - Doe / 1460 + Doe / 36524 - Doe / 146096) / 365;
  Y = static_cast<int64_t>(Yoe) + Era * 400;
  const unsigned Doy = Doe - (365 * Yoe + Yoe / 4 - Yoe / 100);
  const unsigned Mp = (5 * Doy + 2) / 153;
  D = Doy - (153 * Mp + 2) / 5 + 1;
  M = Mp < 10 ? Mp + 3 : Mp - 9;
  Y += M <= 2;
}

const int64_t kDay1 = DaysFromCivil(1, 1, 1) - 1;  // so that 1 January of year 1 is day 1

}  // namespace

// ---- code page ----

char16_t Win1252ToUnicode(uint8_t C) {
  return (C >= 0x80 && C < 0xA0) ? kHigh[C - 0x80] : static_cast<char16_t>(C);
}

char UnicodeToWin1252(char16_t C, bool* Ok) {
  if (Ok) *Ok = true;
  if (C < 0x80 || (C >= 0xA0 && C <= 0xFF)) return static_cast<char>(C);
  for (size_t I = 0; I < kHigh.size(); ++I)
    if (kHigh[I] == C) return static_cast<char>(0x80 + I);
  if (Ok) *Ok = false;
  return '?';
}

std::u16string AnsiToWide(std::string_view S) {
  std::u16string Out(S.size(), u'\0');
  for (size_t I = 0; I < S.size(); ++I) Out[I] = Win1252ToUnicode(static_cast<uint8_t>(S[I]));
  return Out;
}

std::string WideToAnsi(std::u16string_view S) {
  std::string Out(S.size(), '\0');
  for (size_t I = 0; I < S.size(); ++I) Out[I] = UnicodeToWin1252(S[I]);
  return Out;
}

bool WideFitsAnsi(std::u16string_view S) {
  bool Ok = true;
  for (char16_t C : S) {
    UnicodeToWin1252(C, &Ok);
    if (!Ok) return false;
  }
  return true;
}

// ---- calendar ----

bool IsLeapYear(int Year) { return Year % 4 == 0 && (Year % 100 != 0 || Year % 400 == 0); }

int DaysInMonth(int Year, int Month) {
  static constexpr int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (Month < 1 || Month > 12) return 0;
  return kDays[Month - 1] + (Month == 2 && IsLeapYear(Year) ? 1 : 0);
}

bool TryEncodeDayNumber(int Year, int Month, int Day, int32_t& DayNumber) {
  if (Year < 1 || Year > 9999 || Day < 1 || Day > DaysInMonth(Year, Month)) return false;
  DayNumber = static_cast<int32_t>(DaysFromCivil(Year, static_cast<unsigned>(Month),
                                                 static_cast<unsigned>(Day)) - kDay1);
  return true;
}

void DecodeDayNumber(int32_t DayNumber, int& Year, int& Month, int& Day) {
  int64_t Y;
  unsigned M, D;
  CivilFromDays(static_cast<int64_t>(DayNumber) + kDay1, Y, M, D);
  Year = static_cast<int>(Y);
  Month = static_cast<int>(M);
  Day = static_cast<int>(D);
}

int DayOfWeek(int32_t DayNumber) {
  // Day 1 (1 January of year 1) was a Monday.
  int64_t R = (static_cast<int64_t>(DayNumber) % 7 + 7) % 7;  // 1 -> Monday
  return static_cast<int>(R) + 1;                               // 0 -> Sunday -> 1
}

bool TryEncodeTime(int Hour, int Minute, int Second, int MSec, int32_t& MSecs) {
  if (Hour < 0 || Hour > 23 || Minute < 0 || Minute > 59 || Second < 0 || Second > 59 ||
      MSec < 0 || MSec > 999)
    return false;
  MSecs = ((Hour * 60 + Minute) * 60 + Second) * 1000 + MSec;
  return true;
}

void DecodeTime(int32_t MSecs, int& Hour, int& Minute, int& Second, int& MSec) {
  int64_t T = (static_cast<int64_t>(MSecs) % 86400000 + 86400000) % 86400000;
  MSec = static_cast<int>(T % 1000);
  T /= 1000;
  Second = static_cast<int>(T % 60);
  T /= 60;
  Minute = static_cast<int>(T % 60);
  Hour = static_cast<int>(T / 60);
}

// ---- collation ----

struct TVLTLocale::TImpl {
  UCollator* CaseSensitive = nullptr;
  UCollator* CaseInsensitive = nullptr;
  ~TImpl() {
    if (CaseSensitive) ucol_close(CaseSensitive);
    if (CaseInsensitive) ucol_close(CaseInsensitive);
  }
  const UCollator* Get(bool CI) const { return CI ? CaseInsensitive : CaseSensitive; }
};

TVLTLocale::TVLTLocale() : FImpl(std::make_unique<TImpl>()) {
  // Punctuation counts as a character (string sort); case is a tertiary difference, so the
  // secondary strength ignores case and nothing else.
  auto Open = [](UColAttributeValue Strength, UCollator*& Out) {
    UErrorCode Err = U_ZERO_ERROR;
    Out = ucol_open(kLocaleName, &Err);
    if (U_SUCCESS(Err)) ucol_setAttribute(Out, UCOL_ALTERNATE_HANDLING, UCOL_NON_IGNORABLE, &Err);
    if (U_SUCCESS(Err)) ucol_setAttribute(Out, UCOL_STRENGTH, Strength, &Err);
    if (U_FAILURE(Err))
      throw EVLTException(30046, "Wide string comparison is not available (%s)",
                          {std::string(u_errorName(Err))});
  };
  Open(UCOL_TERTIARY, FImpl->CaseSensitive);
  Open(UCOL_SECONDARY, FImpl->CaseInsensitive);
}

TVLTLocale::~TVLTLocale() = default;

const TVLTLocale& TVLTLocale::Instance() {
  static const TVLTLocale Locale;
  return Locale;
}

int TVLTLocale::CompareAnsi(std::string_view A, std::string_view B, bool CaseInsensitive) const {
  TUCharBuffer UA(A), UB(B);
  return Sign(ucol_strcoll(FImpl->Get(CaseInsensitive), UA.data(), UA.size(), UB.data(), UB.size()));
}

int TVLTLocale::CompareWide(std::u16string_view A, std::u16string_view B,
                            bool CaseInsensitive) const {
  TUCharBuffer UA(A), UB(B);
  return Sign(ucol_strcoll(FImpl->Get(CaseInsensitive), UA.data(), UA.size(), UB.data(), UB.size()));
}

int TVLTLocale::CompareAnsiWide(std::string_view A, std::u16string_view B,
                                bool CaseInsensitive) const {
  TUCharBuffer UA(A), UB(B);
  return Sign(ucol_strcoll(FImpl->Get(CaseInsensitive), UA.data(), UA.size(), UB.data(), UB.size()));
}

int TVLTLocale::CompareRaw(const void* A, size_t ALength, bool AWide, const void* B,
                           size_t BLength, bool BWide, bool CaseInsensitive) const {
  TUCharBuffer UA(A, ALength, AWide), UB(B, BLength, BWide);
  return Sign(ucol_strcoll(FImpl->Get(CaseInsensitive), UA.data(), UA.size(), UB.data(), UB.size()));
}

int TVLTLocale::CompareChar(char16_t A, char16_t B, bool CaseInsensitive) const {
  UChar UA = A, UB = B;
  return Sign(ucol_strcoll(FImpl->Get(CaseInsensitive), &UA, 1, &UB, 1));
}

std::string TVLTLocale::UpperCase(std::string_view S) const {
  std::string Out(S);
  for (char& C : Out) C = CaseTables().Upper[static_cast<uint8_t>(C)];
  return Out;
}
std::string TVLTLocale::LowerCase(std::string_view S) const {
  std::string Out(S);
  for (char& C : Out) C = CaseTables().Lower[static_cast<uint8_t>(C)];
  return Out;
}
std::u16string TVLTLocale::UpperCase(std::u16string_view S) const { return MapCase(S, true); }
std::u16string TVLTLocale::LowerCase(std::u16string_view S) const { return MapCase(S, false); }

// ---- names ----

std::string_view TVLTLocale::LongMonthName(int Month) {
  static constexpr std::string_view kNames[12] = {
      "January", "February", "March",     "April",   "May",      "June",
      "July",    "August",   "September", "October", "November", "December"};
  return Month >= 1 && Month <= 12 ? kNames[Month - 1] : std::string_view();
}
std::string_view TVLTLocale::ShortMonthName(int Month) {
  static constexpr std::string_view kNames[12] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                  "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  return Month >= 1 && Month <= 12 ? kNames[Month - 1] : std::string_view();
}
std::string_view TVLTLocale::LongDayName(int Day) {
  static constexpr std::string_view kNames[7] = {"Sunday",   "Monday", "Tuesday", "Wednesday",
                                                 "Thursday", "Friday", "Saturday"};
  return Day >= 1 && Day <= 7 ? kNames[Day - 1] : std::string_view();
}
std::string_view TVLTLocale::ShortDayName(int Day) {
  static constexpr std::string_view kNames[7] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  return Day >= 1 && Day <= 7 ? kNames[Day - 1] : std::string_view();
}

// ---- formatting ----

std::string TVLTLocale::FormatFloat(long double Value, int Precision) {
  if (std::isnan(Value)) return "NAN";
  if (std::isinf(Value)) return Value < 0 ? "-INF" : "INF";
  if (Value == 0) return "0";
  if (Precision < 1) Precision = 1;
  if (Precision > 18) Precision = 18;
  char Buf[64];
  std::snprintf(Buf, sizeof Buf, "%.*Le", Precision - 1, Value);
  // Buf: [-]d.ddde[+-]xx
  std::string_view Text(Buf);
  bool Negative = Text.front() == '-';
  if (Negative) Text.remove_prefix(1);
  size_t EPos = Text.find('e');
  std::string Digits;
  for (char C : Text.substr(0, EPos))
    if (IsDigit(C)) Digits.push_back(C);
  int Exp = std::atoi(std::string(Text.substr(EPos + 1)).c_str());
  while (Digits.size() > 1 && Digits.back() == '0') Digits.pop_back();

  std::string Out = Negative ? "-" : "";
  if (Exp < -5 || Exp >= Precision) {
    Out += Digits[0];
    if (Digits.size() > 1) {
      Out += kDecimalSeparator;
      Out += Digits.substr(1);
    }
    Out += 'E';
    Out += std::to_string(Exp);
  } else if (Exp < 0) {
    Out += "0";
    Out += kDecimalSeparator;
    Out.append(static_cast<size_t>(-Exp - 1), '0');
    Out += Digits;
  } else {
    size_t IntDigits = static_cast<size_t>(Exp) + 1;
    if (Digits.size() <= IntDigits) {
      Out += Digits;
      Out.append(IntDigits - Digits.size(), '0');
    } else {
      Out += Digits.substr(0, IntDigits);
      Out += kDecimalSeparator;
      Out += Digits.substr(IntDigits);
    }
  }
  return Out;
}

std::string TVLTLocale::FormatCurrency(double Value) {
  if (!std::isfinite(Value)) return FormatFloat(Value, 15);
  char Buf[64];
  std::snprintf(Buf, sizeof Buf, "%.4f", Value);
  std::string Out(Buf);
  while (Out.back() == '0') Out.pop_back();
  if (Out.back() == '.') Out.pop_back();
  if (Out == "-0") Out = "0";
  return Out;
}

std::string TVLTLocale::FormatDate(int32_t DayNumber) {
  int Y, M, D;
  DecodeDayNumber(DayNumber, Y, M, D);
  char Buf[48];
  std::snprintf(Buf, sizeof Buf, "%d/%d/%04d", M, D, Y);
  return Buf;
}

std::string TVLTLocale::FormatTime(int32_t MSecs) {
  int H, N, S, Ms;
  DecodeTime(MSecs, H, N, S, Ms);
  char Buf[32];
  int H12 = H % 12 == 0 ? 12 : H % 12;
  std::snprintf(Buf, sizeof Buf, "%d:%02d:%02d %s", H12, N, S, H < 12 ? "AM" : "PM");
  return Buf;
}

std::string TVLTLocale::FormatDateTime(int32_t DayNumber, int32_t MSecs) {
  std::string Out = FormatDate(DayNumber);
  if (MSecs != 0) {
    Out += ' ';
    Out += FormatTime(MSecs);
  }
  return Out;
}

// ---- parsing ----

bool TVLTLocale::ParseInteger(std::string_view S, int64_t& Value) {
  S = Trim(S);
  bool Negative = false;
  if (!S.empty() && (S.front() == '-' || S.front() == '+')) {
    Negative = S.front() == '-';
    S.remove_prefix(1);
  }
  int Base = 10;
  if (!S.empty() && S.front() == '$') {
    Base = 16;
    S.remove_prefix(1);
  } else if (S.size() > 2 && S[0] == '0' && (S[1] == 'x' || S[1] == 'X')) {
    Base = 16;
    S.remove_prefix(2);
  }
  if (S.empty()) return false;
  uint64_t U = 0;
  auto [Ptr, Ec] = std::from_chars(S.data(), S.data() + S.size(), U, Base);
  if (Ec != std::errc() || Ptr != S.data() + S.size()) return false;
  if (Base == 16 && !Negative) {  // hexadecimal may spell the bit pattern of a negative number
    Value = static_cast<int64_t>(U);
    return true;
  }
  if (Negative) {
    if (U > static_cast<uint64_t>(INT64_MAX) + 1) return false;
    Value = static_cast<int64_t>(0 - U);
  } else {
    if (U > static_cast<uint64_t>(INT64_MAX)) return false;
    Value = static_cast<int64_t>(U);
  }
  return true;
}

bool TVLTLocale::ParseFloat(std::string_view S, long double& Value) {
  S = Trim(S);
  // Validate the shape first: from_chars would also take "inf", "nan" and hexadecimal forms.
  size_t I = 0;
  bool Negative = false;
  if (I < S.size() && (S[I] == '+' || S[I] == '-')) Negative = S[I++] == '-';
  size_t Start = I;
  int Digits = 0;
  while (I < S.size() && IsDigit(S[I])) ++I, ++Digits;
  if (I < S.size() && S[I] == '.') {
    ++I;
    while (I < S.size() && IsDigit(S[I])) ++I, ++Digits;
  }
  if (Digits == 0) return false;
  if (I < S.size() && (S[I] == 'e' || S[I] == 'E')) {
    ++I;
    if (I < S.size() && (S[I] == '+' || S[I] == '-')) ++I;
    int ExpDigits = 0;
    while (I < S.size() && IsDigit(S[I])) ++I, ++ExpDigits;
    if (ExpDigits == 0) return false;
  }
  if (I != S.size()) return false;
  std::string Body(S.substr(Start));
  char* End = nullptr;
  long double V = std::strtold(Body.c_str(), &End);
  if (End != Body.c_str() + Body.size() || std::isinf(V)) return false;
  Value = Negative ? -V : V;
  return true;
}

bool TVLTLocale::ParseCurrency(std::string_view S, double& Value) {
  long double V;
  if (!ParseFloat(S, V)) return false;
  long double Scaled = std::round(V * 10000.0L);
  Value = static_cast<double>(Scaled / 10000.0L);
  return std::isfinite(Value);
}

namespace {

bool ParseDatePart(std::string_view S, size_t& Pos, int32_t& DayNumber) {
  int Parts[3];
  int PartDigits[3];
  int Count = 0;
  while (Count < 3) {
    if (!ReadNumber(S, Pos, 4, Parts[Count], &PartDigits[Count])) return false;
    ++Count;
    if (Pos < S.size() && S[Pos] == TVLTLocale::kDateSeparator && Count < 3)
      ++Pos;
    else
      break;
  }
  if (Count < 2) return false;
  int Month = Parts[0], Day = Parts[1];
  if (PartDigits[0] > 2 || PartDigits[1] > 2) return false;
  int Year;
  if (Count == 3) {
    Year = Parts[2];
    if (PartDigits[2] <= 2) Year += Year < 50 ? 2000 : 1900;
  } else {
    Year = CurrentYear();
  }
  return TryEncodeDayNumber(Year, Month, Day, DayNumber);
}

bool ParseTimePart(std::string_view S, size_t& Pos, int32_t& MSecs) {
  int H = 0, N = 0, Sec = 0, Ms = 0, Digits = 0;
  if (!ReadNumber(S, Pos, 2, H)) return false;
  bool HasMinutes = false;
  if (Pos < S.size() && S[Pos] == TVLTLocale::kTimeSeparator) {
    ++Pos;
    if (!ReadNumber(S, Pos, 2, N)) return false;
    HasMinutes = true;
    if (Pos < S.size() && S[Pos] == TVLTLocale::kTimeSeparator) {
      ++Pos;
      if (!ReadNumber(S, Pos, 2, Sec)) return false;
      if (Pos < S.size() && S[Pos] == TVLTLocale::kDecimalSeparator) {
        ++Pos;
        if (!ReadNumber(S, Pos, 3, Ms, &Digits)) return false;
        for (; Digits < 3; ++Digits) Ms *= 10;
      }
    }
  }
  size_t P = Pos;
  while (P < S.size() && S[P] == ' ') ++P;
  bool HasAmPm = false;
  if (P + 1 < S.size() + 0 && P + 2 <= S.size()) {
    char A = static_cast<char>(S[P] & ~0x20), M = static_cast<char>(S[P + 1] & ~0x20);
    if ((A == 'A' || A == 'P') && M == 'M') {
      HasAmPm = true;
      if (H < 1 || H > 12) return false;
      H = H % 12 + (A == 'P' ? 12 : 0);
      Pos = P + 2;
    }
  }
  if (!HasMinutes && !HasAmPm) return false;
  return TryEncodeTime(H, N, Sec, Ms, MSecs);
}

}  // namespace

bool TVLTLocale::ParseDate(std::string_view S, int32_t& DayNumber) {
  S = Trim(S);
  size_t Pos = 0;
  return ParseDatePart(S, Pos, DayNumber) && Pos == S.size();
}

bool TVLTLocale::ParseTime(std::string_view S, int32_t& MSecs) {
  S = Trim(S);
  size_t Pos = 0;
  return ParseTimePart(S, Pos, MSecs) && Pos == S.size();
}

bool TVLTLocale::ParseDateTime(std::string_view S, int32_t& DayNumber, int32_t& MSecs) {
  S = Trim(S);
  size_t Pos = 0;
  if (!ParseDatePart(S, Pos, DayNumber)) return false;
  MSecs = 0;
  if (Pos == S.size()) return true;
  if (S[Pos] != ' ') return false;
  while (Pos < S.size() && S[Pos] == ' ') ++Pos;
  return ParseTimePart(S, Pos, MSecs) && Pos == S.size();
}

}  // namespace vlt
