// The date format language: how formats are cut into tokens, the text each element gives, the
// round trip of reading back what was written, and the size and type a format announces.
#include "engine/expr/VLTDateFormater.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "engine/base/VLTExcept.h"
#include "engine/expr/VLTLocale.h"

namespace vlt::test {
namespace {

TVLTDateTime At(int Y, int Mo, int D, int H = 0, int Mi = 0, int S = 0) {
  TVLTDateTime R{kDateDelta, 0};
  if (Y) {
    EXPECT_TRUE(TryEncodeDayNumber(Y, Mo, D, R.Date));
  }
  EXPECT_TRUE(TryEncodeTime(H, Mi, S, 0, R.Time));
  return R;
}

std::string Tokens(const char* Format) {
  const TDateFormater F(Format);
  std::string S;
  for (const TDateFormatToken& T : F.Tokens())
    S += (S.empty() ? "" : "|") + std::to_string(T.TokenType) + ":" + T.Text;
  return S;
}

TEST(DateFormaterTest, TokenizesByLongestElement) {
  EXPECT_EQ(Tokens("YYYY-MM-DD"), "0:YYYY|26:-|6:MM|26:-|10:DD");
  EXPECT_EQ(Tokens("Month mon"), "4:Month|26: |5:mon");
  EXPECT_EQ(Tokens("HH24HH12HHH24H12H"), "16:HH24|15:HH12|17:HH|19:H24|18:H12|20:H");
  EXPECT_EQ(Tokens("DDDDAYDYDWD"), "9:DDD|11:DAY|12:DY|13:DW|14:D");
  EXPECT_EQ(Tokens("'YYYY' \"at\" AMPM"), "26:YYYY|26: |26:at|26: |25:AMPM");
  EXPECT_EQ(Tokens("xYYYY"), "26:x|0:YYYY");
  EXPECT_EQ(Tokens("YYYY!"), "0:YYYY|26:!");
}

TEST(DateFormaterTest, ElementsAsText) {
  const TVLTDateTime D = At(2021, 3, 4, 13, 5, 9);  // a Thursday
  struct TCase {
    const char* Format;
    const char* Text;
  };
  const TCase Cases[] = {
      {"YYYY YEAR YY Q", "2021 2021 21 1"},
      {"MONTH MON MM M RM", "March Mar 03 3 III"},
      {"DDD DAY DD D", "Thu Thursday 04 4"},
      {"DY DW", "63 4"},
      {"HH12 HH H12 H", "01 01 1 1"},
      {"HH24 H24 NN N SS S", "13 13 05 5 09 9"},
      {"AMPM", "PM"},
      {"'DD' \"x\"", "DD x"},
  };
  for (const TCase& T : Cases) EXPECT_EQ(TDateFormater(T.Format).ToString(D), T.Text) << T.Format;
  // Noon and midnight are hour 00 of the 12-hour clock.
  EXPECT_EQ(TDateFormater("HH AMPM").ToString(At(2021, 3, 4, 12)), "00 PM");
  EXPECT_EQ(TDateFormater("HH AMPM").ToString(At(2021, 3, 4, 0)), "00 AM");
  EXPECT_EQ(TDateFormater("DW DY").ToString(At(2021, 3, 7)), "7 66");
  EXPECT_EQ(TDateFormater("DY").ToString(At(2020, 12, 31)), "366");
}

// Reading back what a format wrote gives the date-time again, for every element that carries
// information, on leap days, at noon and midnight, and across the two-digit-year boundary.
TEST(DateFormaterTest, RoundTrip) {
  const TVLTDateTime Dates[] = {At(2020, 2, 29, 0, 0, 0),  At(2021, 12, 31, 12, 30, 59),
                                At(1999, 1, 1, 23, 59, 1), At(2029, 9, 15, 11, 7, 8),
                                At(1930, 5, 20, 1, 0, 0),  At(2000, 10, 9, 13, 45, 30)};
  const char* DateTimeFormats[] = {
      "YYYY-MM-DD HH24:NN:SS",  "YEAR/M/D H24.N.S",          "DD MONTH YYYY HH12:NN:SS AMPM",
      "DD MON YYYY H:N:S AMPM", "DD RM YYYY HH:NN:SS AMPM",  "DAY DD.MM.YYYY H12 N S AMPM",
      "DDD, D.M.YYYY HH24NNSS", "DY DW YYYYMMDD HH24:NN:SS", "'at' YYYY \"on\" MM-DD HH24:NN:SS"};
  for (const char* Format : DateTimeFormats) {
    const TDateFormater F(Format);
    for (const TVLTDateTime& D : Dates) {
      const std::string Text = F.ToString(D);
      EXPECT_EQ(F.ToDate(Text), D) << Format << ": " << Text;
    }
  }
  // Two-digit years: 1930 to 2029.
  const TDateFormater YY("DD.MM.YY");
  for (const TVLTDateTime& D : Dates) {
    const TVLTDateTime Day{D.Date, 0};
    EXPECT_EQ(YY.ToDate(YY.ToString(D)), Day) << YY.ToString(D);
  }
  // Time only: the day is 30 December 1899.
  const TDateFormater T("HH:NN:SS AMPM");
  for (const TVLTDateTime& D : Dates) {
    const TVLTDateTime Time{kDateDelta, D.Time};
    EXPECT_EQ(T.ToDate(T.ToString(D)), Time) << T.ToString(D);
  }
}

TEST(DateFormaterTest, ReadingRules) {
  const TDateFormater F("D.M.YYYY H:N");
  EXPECT_EQ(F.ToDate("5.3.2021 7:05"), At(2021, 3, 5, 7, 5));
  EXPECT_EQ(F.ToDate("15.11.2021 17:5"), At(2021, 11, 15, 17, 5));
  EXPECT_EQ(TDateFormater("HH AMPM").ToDate("12 AM"), At(0, 0, 0, 0));
  EXPECT_EQ(TDateFormater("HH AMPM").ToDate("12 PM"), At(0, 0, 0, 12));
  EXPECT_EQ(TDateFormater("HH AMPM").ToDate("11 pm"), At(0, 0, 0, 23));
  // A date part that is not read leaves the date at 30 December 1899.
  EXPECT_EQ(TDateFormater("YYYY").ToDate("2021"), At(0, 0, 0));
  EXPECT_EQ(TDateFormater("Q YYYY").ToDate("3 2021").Date, kDateDelta);
  EXPECT_EQ(TDateFormater("DD Q YYYY").ToDate("02 3 2021"), At(2021, 7, 2));
  // Text shorter than the format reads as far as it goes.
  EXPECT_THROW(TDateFormater("DD.MM.YYYY").ToDate("05.03."), EVLTException);
}

TEST(DateFormaterTest, SizeAndType) {
  struct TCase {
    const char* Format;
    TVLTBaseFieldType Type;
  };
  const TCase Cases[] = {{"DD.MM.YYYY", bftDate},  {"HH24:NN", bftTime}, {"'x'", bftTime},
                         {"YYYY HH", bftDateTime}, {"AMPM", bftTime},    {"Q", bftDate}};
  for (const TCase& T : Cases) EXPECT_EQ(TDateFormater(T.Format).GetDataType(), T.Type);
  // The announced size bounds every text the format gives.
  const TDateFormater F("MONTH DAY DDD MON RM YYYY YY Q DD D DY DW HH H NN SS AMPM 'lit'");
  int32_t Longest = 0;
  for (int32_t Day = At(2020, 1, 1).Date; Day < At(2021, 1, 1).Date; ++Day)
    Longest = std::max(Longest, static_cast<int32_t>(F.ToString({Day, 86399000}).size()));
  EXPECT_LE(Longest, F.GetStringMaxSize());
}

}  // namespace
}  // namespace vlt::test
