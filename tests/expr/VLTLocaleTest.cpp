#include "engine/expr/VLTLocale.h"

#include <gtest/gtest.h>

#include <string>

namespace vlt {
namespace {

TEST(Locale, FormatFloatGeneral) {
  struct TCase {
    long double Value;
    int Precision;
    const char* Expected;
  };
  const TCase Cases[] = {
      {1500, 15, "1500"},
      {-0.5, 15, "-0.5"},
      {0.00001L, 15, "0.00001"},
      {0.000001L, 15, "1E-6"},
      {1e15L, 15, "1E15"},
      {999999999999999.0L, 15, "999999999999999"},
      {123456789012345678.0L, 15, "1.23456789012346E17"},
      {2.0L / 3, 7, "0.6666667"},
      {0, 15, "0"},
  };
  for (const TCase& C : Cases)
    EXPECT_EQ(TVLTLocale::FormatFloat(C.Value, C.Precision), C.Expected)
        << static_cast<double>(C.Value);
  EXPECT_EQ(TVLTLocale::FormatCurrency(3), "3");
  EXPECT_EQ(TVLTLocale::FormatCurrency(-2.5), "-2.5");
  EXPECT_EQ(TVLTLocale::FormatCurrency(1234.5678), "1234.5678");
}

TEST(Locale, ParseNumbers) {
  struct TIntCase {
    const char* Text;
    bool Ok;
    int64_t Value;
  };
  const TIntCase Ints[] = {
      {"12", true, 12},        {" +5 ", true, 5},
      {"-0x10", true, -16},    {"$FFFFFFFFFFFFFFFF", true, -1},
      {"-9223372036854775808", true, INT64_MIN},
      {"9223372036854775808", false, 0},
      {"1 2", false, 0},       {"", false, 0},
      {"12.0", false, 0},      {"-", false, 0},
  };
  for (const TIntCase& C : Ints) {
    int64_t V = 0;
    EXPECT_EQ(TVLTLocale::ParseInteger(C.Text, V), C.Ok) << C.Text;
    if (C.Ok) {
      EXPECT_EQ(V, C.Value) << C.Text;
    }
  }
  struct TFloatCase {
    const char* Text;
    bool Ok;
    long double Value;
  };
  const TFloatCase Floats[] = {
      {"1.", true, 1},   {".5", true, 0.5L}, {" -2.5e2 ", true, -250}, {"1e", false, 0},
      {"e5", false, 0},  {"inf", false, 0},  {"nan", false, 0},       {"0x10", false, 0},
      {"1,5", false, 0}, {"1e99999", false, 0},
  };
  for (const TFloatCase& C : Floats) {
    long double V = 0;
    EXPECT_EQ(TVLTLocale::ParseFloat(C.Text, V), C.Ok) << C.Text;
    if (C.Ok) {
      EXPECT_EQ(V, C.Value) << C.Text;
    }
  }
}

TEST(Locale, ParseDatesAndTimes) {
  auto Day = [](int Y, int M, int D) {
    int32_t R = 0;
    EXPECT_TRUE(TryEncodeDayNumber(Y, M, D, R));
    return R;
  };
  struct TDateCase {
    const char* Text;
    int32_t Expected;  // 0 = rejected
  };
  const TDateCase Dates[] = {
      {"1/31/2024", Day(2024, 1, 31)}, {" 02/29/2024 ", Day(2024, 2, 29)},
      {"2/29/2023", 0},                {"12/31/99", Day(1999, 12, 31)},
      {"1/1/49", Day(2049, 1, 1)},     {"13/1/2024", 0},
      {"1-31-2024", 0},                {"1/31/2024x", 0},
  };
  for (const TDateCase& C : Dates) {
    int32_t D = 0;
    EXPECT_EQ(TVLTLocale::ParseDate(C.Text, D), C.Expected != 0) << C.Text;
    if (C.Expected) {
      EXPECT_EQ(D, C.Expected) << C.Text;
    }
  }
  struct TTimeCase {
    const char* Text;
    int32_t Expected;  // -1 = rejected
  };
  const TTimeCase Times[] = {
      {"1:05 PM", 47100000},   {"12:00 AM", 0},       {"12:00 pm", 43200000},
      {"23:59:59.5", 86399500}, {"13:00 PM", -1},     {"7", -1},
      {"7 am", 25200000},      {"24:00", -1},         {"1:5", 3900000},
  };
  for (const TTimeCase& C : Times) {
    int32_t T = 0;
    EXPECT_EQ(TVLTLocale::ParseTime(C.Text, T), C.Expected >= 0) << C.Text;
    if (C.Expected >= 0) {
      EXPECT_EQ(T, C.Expected) << C.Text;
    }
  }
  int32_t D = 0, T = 0;
  ASSERT_TRUE(TVLTLocale::ParseDateTime("1/31/2024  1:05:00 PM", D, T));
  EXPECT_EQ(D, Day(2024, 1, 31));
  EXPECT_EQ(T, 47100000);
  // What the locale writes it reads back.
  EXPECT_TRUE(TVLTLocale::ParseDateTime(TVLTLocale::FormatDateTime(D, T), D, T));
  EXPECT_EQ(T, 47100000);
}

TEST(Locale, Calendar) {
  for (int32_t Day : {1, 59, 60, 365, 366, 693594, 738916, 3652059}) {
    int Y, M, D;
    DecodeDayNumber(Day, Y, M, D);
    int32_t Back = 0;
    ASSERT_TRUE(TryEncodeDayNumber(Y, M, D, Back)) << Day;
    EXPECT_EQ(Back, Day);
  }
  int Y, M, D;
  DecodeDayNumber(3652059, Y, M, D);  // the last day of year 9999
  EXPECT_EQ(Y * 10000 + M * 100 + D, 99991231);
  EXPECT_EQ(DayOfWeek(738916), 4);  // 31 January 2024 was a Wednesday
  EXPECT_EQ(TVLTLocale::LongDayName(DayOfWeek(738916)), "Wednesday");
  EXPECT_EQ(TVLTLocale::ShortMonthName(12), "Dec");
  int32_t Ignored;
  EXPECT_FALSE(TryEncodeDayNumber(1900, 2, 29, Ignored));
  EXPECT_TRUE(TryEncodeDayNumber(2000, 2, 29, Ignored));
}

TEST(Locale, CaseMappingAndCodePage) {
  const TVLTLocale& L = TVLTLocale::Instance();
  EXPECT_EQ(L.UpperCase("stra\xDF" "e \xE9\xFF"), "STRA\xDF" "E \xC9\x9F");  // keeps its length
  EXPECT_EQ(L.UpperCase("\xB5"), "\xB5");  // micro sign: its upper case is not in the code page
  EXPECT_EQ(L.LowerCase("\x8A\xC9"), "\x9A\xE9");  // S and E with caron and acute
  EXPECT_EQ(L.UpperCase(std::u16string(u"\u03C9x")), u"\u03A9X");
  EXPECT_EQ(Win1252ToUnicode(0x80), u'\u20AC');
  EXPECT_EQ(Win1252ToUnicode(0x81), u'\u0081');
  bool Ok = true;
  EXPECT_EQ(UnicodeToWin1252(u'\u03A9', &Ok), '?');
  EXPECT_FALSE(Ok);
  EXPECT_EQ(WideToAnsi(AnsiToWide(std::string("\x80\x9F\xFF", 3))), std::string("\x80\x9F\xFF", 3));
  EXPECT_TRUE(WideFitsAnsi(u"\u20AC\u00FF"));
  EXPECT_FALSE(WideFitsAnsi(u"\u0100"));
}

TEST(Locale, Collation) {
  const TVLTLocale& L = TVLTLocale::Instance();
  EXPECT_LT(L.CompareAnsi("a", "B", false), 0);
  EXPECT_GT(L.CompareAnsi("b", "A", false), 0);
  EXPECT_LT(L.CompareAnsi("abc", "ABC", false), 0);  // lower case first
  EXPECT_EQ(L.CompareAnsi("abc", "ABC", true), 0);
  EXPECT_NE(L.CompareAnsi("resume", "r\xE9sum\xE9", true), 0);  // accents still count
  EXPECT_LT(L.CompareAnsi("O'Brien", "OBrien", false), 0);      // punctuation is significant
  EXPECT_EQ(L.CompareAnsiWide("\x80", u"\u20AC", false), 0);
  EXPECT_EQ(L.CompareChar(u'a', u'A', true), 0);
  EXPECT_LT(L.CompareWide(std::u16string(300, u'a'), std::u16string(300, u'b'), false), 0);
  EXPECT_LT(L.CompareAnsi(std::string(300, 'a'), std::string(301, 'a'), false), 0);
}

}  // namespace
}  // namespace vlt
