// TDateFormater: the date format texts of TODATE and TOSTRING ('DD.MM.YYYY', 'HH:NN AMPM').
//
// A format is cut into tokens once, when the formater is created: text between single or
// between double quotes is literal (the quotes are dropped); elsewhere, at each position, the
// longest element name that matches (compared in upper case) is taken, and characters that start
// no element are collected into one literal token placed before the next element.
//
//   ELEMENT      TOSTRING OUTPUT                      TODATE READS
//   YYYY, YEAR   four-digit year                      4 digits
//   YY           two-digit year                       2 digits; below 30 is 20xx, else 19xx
//   Q            quarter 1..4                         1 digit; the quarter's first month
//   MONTH, MON   long, short month name               a month name (longest match)
//   MM, M        month with, without leading zero     2 digits; M 1 or 2
//   RM           month in Roman numerals I..XII       a Roman month numeral
//   DDD, DAY     short, long day name                 a day name (skipped)
//   DD, D        day of month with, without zero      2 digits; D 1 or 2
//   DY           day of the year from 1               up to 3 digits (skipped)
//   DW           day of week, 1 = Monday..7 = Sunday  1 digit (skipped)
//   HH12, HH     hour modulo 12, two digits           1 or 2 digits
//   H12, H       hour modulo 12, no leading zero      1 or 2 digits
//   HH24, H24    hour 0..23 with, without zero        HH24 2 digits; H24 1 or 2
//   NN, N        minutes with, without zero           NN 2 digits; N 1 or 2
//   SS, S        seconds with, without zero           SS 2 digits; S 1 or 2
//   AMPM         PM when the hour is above 11, else AM  AM or PM, any case
//   text         the literal text                     skips as many characters
//
// "1 or 2" digits: two when the second character is a digit. Noon and midnight print as hour
// 00 in the 12-hour elements; read back with PM and AM they give 12 and 0 again, and so do 12 PM
// and 12 AM. When the year, month or day read is 0 (not read), the date is 30 December 1899.
//
// Errors: 30129 "AM/PM word expected, but '%s' found" for a text where AMPM expects AM or PM;
// 30048 "'%s' is not a valid integer value" for digits that are none; 30051 / 30052 for a date
// or time read that does not exist (31 February, hour 25).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "engine/expr/VLTFieldTypes.h"

namespace vlt {

enum TDateFormatType : uint8_t {
  dfYYYY,
  dfYY,
  dfYEAR,
  dfQ,
  dfMONTH,
  dfMON,
  dfMM,
  dfM,
  dfRM,
  dfDDD,
  dfDD,
  dfDAY,
  dfDY,
  dfDW,
  dfD,
  dfHH12,
  dfHH24,
  dfHH,
  dfH12,
  dfH24,
  dfH,
  dfNN,
  dfN,
  dfSS,
  dfS,
  dfAMPM,
  dfText,
};

struct TDateFormatToken {
  TDateFormatType TokenType = dfText;
  std::string Text;  // the characters of the format it came from (literal text without quotes)
};

class TDateFormater {
 public:
  explicit TDateFormater(std::string_view DateFormat);

  // The date-time (engine day number and milliseconds) as text.
  std::string ToString(const TVLTDateTime& DateTime) const;
  // Text read by the format, as an engine date-time.
  TVLTDateTime ToDate(std::string_view Text) const;
  // An upper bound of the characters ToString produces.
  int32_t GetStringMaxSize() const;
  // bftTime when the format has no date element, bftDate when it has no time element, else
  // bftDateTime.
  TVLTBaseFieldType GetDataType() const;

  const std::vector<TDateFormatToken>& Tokens() const { return FDateFormat; }

 private:
  std::vector<TDateFormatToken> FDateFormat;
};

}  // namespace vlt
