// Locale services of the engine: the one string collation, case mapping, and the text forms of
// numbers, dates, times and logical values.
//
// One fixed locale serves the whole engine (US English conventions), so that the text a value
// converts to always converts back, and so that index key order, value comparison and LIKE
// agree everywhere:
//   decimal separator "."        (no thousands separator in output or input)
//   short date format  M/d/yyyy  (1/31/2024)
//   time format        h:mm:ss AM/PM (1:05:00 PM)
//   logical names      True, False
//
// Collation. Strings are compared with ICU's collation for the fixed locale, with punctuation
// significant (the "string sort" order: a hyphen or apostrophe is a character like any other and
// sorts before digits and letters). Case-insensitive comparison ignores case differences only
// (accents still count). 8-bit engine text is Windows-1252 and is widened to UTF-16 for ICU. The
// two collators are created once per process and only read afterwards, so comparisons may run on
// any thread; a comparison of short strings allocates nothing.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace vlt {

// ---- Windows-1252 <-> UTF-16 ----

char16_t Win1252ToUnicode(uint8_t C);
// '?' for a character without a Windows-1252 byte; Ok (when given) tells whether one existed.
char UnicodeToWin1252(char16_t C, bool* Ok = nullptr);
std::u16string AnsiToWide(std::string_view S);
std::string WideToAnsi(std::u16string_view S);
// True when every character of S has a Windows-1252 byte (the text survives a round trip).
bool WideFitsAnsi(std::u16string_view S);

// ---- calendar (proleptic Gregorian; day number 1 = 1 January of year 1) ----

bool IsLeapYear(int Year);
int DaysInMonth(int Year, int Month);
// False when the date does not exist (month 1..12, day 1..days in month, year 1..9999).
bool TryEncodeDayNumber(int Year, int Month, int Day, int32_t& DayNumber);
void DecodeDayNumber(int32_t DayNumber, int& Year, int& Month, int& Day);
// 1 = Sunday ... 7 = Saturday.
int DayOfWeek(int32_t DayNumber);
bool TryEncodeTime(int Hour, int Minute, int Second, int MSec, int32_t& MSecs);
void DecodeTime(int32_t MSecs, int& Hour, int& Minute, int& Second, int& MSec);

// ---- the locale ----

class TVLTLocale {
 public:
  // The process's locale; creates the collators on first use. Raises 30046 when ICU cannot
  // provide a collation.
  static const TVLTLocale& Instance();

  TVLTLocale(const TVLTLocale&) = delete;
  TVLTLocale& operator=(const TVLTLocale&) = delete;
  ~TVLTLocale();

  // <0, 0 or >0. Strings are compared over their full length (embedded zeros included).
  int CompareAnsi(std::string_view A, std::string_view B, bool CaseInsensitive) const;
  int CompareWide(std::u16string_view A, std::u16string_view B, bool CaseInsensitive) const;
  int CompareAnsiWide(std::string_view A, std::u16string_view B, bool CaseInsensitive) const;
  // Wide text given as raw UTF-16 units at any address (record buffers are packed, so wide
  // text there may be misaligned); AWide/BWide false means 8-bit text of that many bytes.
  int CompareRaw(const void* A, size_t ALength, bool AWide, const void* B, size_t BLength,
                 bool BWide, bool CaseInsensitive) const;
  // One character against another (LIKE compares pattern and text character by character).
  int CompareChar(char16_t A, char16_t B, bool CaseInsensitive) const;

  // Character by character (the text keeps its length); the fixed locale's rules.
  std::string UpperCase(std::string_view S) const;
  std::string LowerCase(std::string_view S) const;
  std::u16string UpperCase(std::u16string_view S) const;
  std::u16string LowerCase(std::u16string_view S) const;

  // ---- text forms ----
  static constexpr char kDecimalSeparator = '.';
  static constexpr char kDateSeparator = '/';
  static constexpr char kTimeSeparator = ':';

  static std::string_view BoolName(bool Value) { return Value ? "True" : "False"; }
  static std::string_view LongMonthName(int Month);  // 1..12
  static std::string_view ShortMonthName(int Month);
  static std::string_view LongDayName(int Day);  // 1 = Sunday
  static std::string_view ShortDayName(int Day);

  // General format with Precision significant digits: fixed notation unless the exponent is
  // below -5 or reaches Precision ("0.00001", "1.5E-7", "1E20").
  static std::string FormatFloat(long double Value, int Precision);
  // Up to four decimals, trailing zeros dropped ("12.5").
  static std::string FormatCurrency(double Value);
  static std::string FormatDate(int32_t DayNumber);
  static std::string FormatTime(int32_t MSecs);
  // Date, then a blank and the time unless the time is midnight.
  static std::string FormatDateTime(int32_t DayNumber, int32_t MSecs);

  // Parsers answer false for text that is not in their format. Blanks around the text are
  // allowed.
  // Decimal integer with optional sign, or hexadecimal after "$" or "0x".
  static bool ParseInteger(std::string_view S, int64_t& Value);
  // Optional sign, digits with an optional "." and an optional exponent; "." whatever the
  // locale says.
  static bool ParseFloat(std::string_view S, long double& Value);
  // As ParseFloat with the locale's decimal separator, rounded to four decimals.
  static bool ParseCurrency(std::string_view S, double& Value);
  // Short date format M/d/y; a year of one or two digits is taken within 1950..2049; a missing
  // year is the current one.
  static bool ParseDate(std::string_view S, int32_t& DayNumber);
  // h:mm[:ss[.zzz]] with optional AM or PM, or h AM/PM.
  static bool ParseTime(std::string_view S, int32_t& MSecs);
  // A date, optionally followed by blanks and a time.
  static bool ParseDateTime(std::string_view S, int32_t& DayNumber, int32_t& MSecs);

 private:
  TVLTLocale();
  struct TImpl;
  std::unique_ptr<TImpl> FImpl;  // the collators
};

}  // namespace vlt
