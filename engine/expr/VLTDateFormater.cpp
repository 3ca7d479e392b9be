#include "engine/expr/VLTDateFormater.h"

#include <array>
#include <cctype>

#include "engine/base/VLTExcept.h"
#include "engine/expr/VLTLocale.h"
#include "engine/expr/VLTVariant.h"

namespace vlt {

namespace {

constexpr int32_t kErrAmPmExpected = 30129;
constexpr int32_t kErrInvalidInteger = 30048;
constexpr int32_t kErrInvalidDate = 30051;
constexpr int32_t kErrInvalidTime = 30052;

struct TElement {
  std::string_view Name;
  TDateFormatType Type;
};

// Every element name; the tokenizer takes the longest that matches.
constexpr std::array<TElement, 26> kElements = {{
    {"YYYY", dfYYYY}, {"YY", dfYY},     {"YEAR", dfYEAR}, {"Q", dfQ},     {"MONTH", dfMONTH},
    {"MON", dfMON},   {"MM", dfMM},     {"M", dfM},       {"RM", dfRM},   {"DDD", dfDDD},
    {"DD", dfDD},     {"DAY", dfDAY},   {"DY", dfDY},     {"DW", dfDW},   {"D", dfD},
    {"HH12", dfHH12}, {"HH24", dfHH24}, {"HH", dfHH},     {"H12", dfH12}, {"H24", dfH24},
    {"H", dfH},       {"NN", dfNN},     {"N", dfN},       {"SS", dfSS},   {"S", dfS},
    {"AMPM", dfAMPM},
}};

constexpr std::array<std::string_view, 12> kRomanMonths = {"I",   "II",   "III", "IV", "V",  "VI",
                                                           "VII", "VIII", "IX",  "X",  "XI", "XII"};

char Upper(char C) {
  return static_cast<char>(std::toupper(static_cast<unsigned char>(C)));
}

bool StartsWithNoCase(std::string_view Text, size_t Pos, std::string_view Word) {
  if (Word.empty() || Text.size() - Pos < Word.size()) return false;
  for (size_t I = 0; I < Word.size(); ++I)
    if (Upper(Text[Pos + I]) != Upper(Word[I])) return false;
  return true;
}

const TElement* LongestElementAt(std::string_view Format, size_t Pos) {
  const TElement* Best = nullptr;
  for (const TElement& E : kElements)
    if (StartsWithNoCase(Format, Pos, E.Name) && (!Best || E.Name.size() > Best->Name.size()))
      Best = &E;
  return Best;
}

std::string TwoDigits(int V) {
  std::string S = std::to_string(V);
  return S.size() < 2 ? "0" + S : S;
}

std::string FourDigits(int V) {
  std::string S = std::to_string(V);
  while (S.size() < 4) S.insert(S.begin(), '0');
  return S;
}

bool IsDigitAt(std::string_view Text, size_t Pos) {
  return Pos < Text.size() && std::isdigit(static_cast<unsigned char>(Text[Pos]));
}

// The index (0-based) of the longest of Names that Text has at Pos, or -1.
template <size_t N>
int LongestNameAt(std::string_view Text, size_t Pos, const std::array<std::string_view, N>& Names,
                  size_t& Length) {
  int Best = -1;
  Length = 0;
  for (size_t I = 0; I < N; ++I)
    if (StartsWithNoCase(Text, Pos, Names[I]) && Names[I].size() > Length) {
      Best = static_cast<int>(I);
      Length = Names[I].size();
    }
  return Best;
}

template <typename F>
std::array<std::string_view, 12> MonthNames(F Name) {
  std::array<std::string_view, 12> R{};
  for (int I = 0; I < 12; ++I) R[static_cast<size_t>(I)] = Name(I + 1);
  return R;
}

template <typename F>
std::array<std::string_view, 7> DayNames(F Name) {
  std::array<std::string_view, 7> R{};
  for (int I = 0; I < 7; ++I) R[static_cast<size_t>(I)] = Name(I + 1);
  return R;
}

// Reads the text as a date format demands, element by element.
class TDateReader {
 public:
  explicit TDateReader(std::string_view Text) : FText(Text) {}

  // Count digits from the current position, as an integer (the integer parser's error for
  // anything else; nothing left reads as an empty text, which is no integer either).
  int Digits(size_t Count) {
    const std::string_view S = Take(Count);
    int64_t V = 0;
    bool AllDigits = !S.empty();
    for (char C : S) AllDigits = AllDigits && std::isdigit(static_cast<unsigned char>(C));
    if (!AllDigits || !TVLTLocale::ParseInteger(S, V))
      throw EVLTConvertError(kErrInvalidInteger, "'%s' is not a valid integer value",
                             {std::string(S)});
    return static_cast<int>(V);
  }
  // Two digits when the second character is a digit, else one.
  int OneOrTwoDigits() { return Digits(IsDigitAt(FText, FPos + 1) ? 2 : 1); }
  // Up to Max digits (at least one).
  int UpToDigits(size_t Max) {
    size_t N = 1;
    while (N < Max && IsDigitAt(FText, FPos + N)) ++N;
    return Digits(N);
  }
  std::string_view Take(size_t Count) {
    const size_t Start = FPos < FText.size() ? FPos : FText.size();
    const std::string_view S = FText.substr(Start, Count);
    FPos = Start + S.size();
    return S;
  }
  // 1-based index of the longest name at the position (which it passes), 0 when none matches.
  template <size_t N>
  int Name(const std::array<std::string_view, N>& Names) {
    size_t Length = 0;
    const int I = FPos < FText.size() ? LongestNameAt(FText, FPos, Names, Length) : -1;
    if (I < 0) return 0;
    FPos += Length;
    return I + 1;
  }

 private:
  std::string_view FText;
  size_t FPos = 0;
};

}  // namespace

TDateFormater::TDateFormater(std::string_view DateFormat) {
  std::string Pending;  // characters that start no element
  auto FlushPending = [&] {
    if (Pending.empty()) return;
    FDateFormat.push_back({dfText, std::move(Pending)});
    Pending.clear();
  };
  size_t I = 0;
  while (I < DateFormat.size()) {
    const char C = DateFormat[I];
    if (C == '\'' || C == '"') {
      const size_t End = DateFormat.find(C, I + 1);
      const size_t Stop = End == std::string_view::npos ? DateFormat.size() : End;
      FlushPending();
      FDateFormat.push_back({dfText, std::string(DateFormat.substr(I + 1, Stop - I - 1))});
      I = Stop == DateFormat.size() ? Stop : Stop + 1;
      continue;
    }
    if (const TElement* E = LongestElementAt(DateFormat, I)) {
      FlushPending();
      FDateFormat.push_back({E->Type, std::string(DateFormat.substr(I, E->Name.size()))});
      I += E->Name.size();
      continue;
    }
    Pending += C;
    ++I;
  }
  FlushPending();
}

std::string TDateFormater::ToString(const TVLTDateTime& DateTime) const {
  int Year = 0, Month = 0, Day = 0, Hour = 0, Minute = 0, Second = 0, MSec = 0;
  DecodeDayNumber(DateTime.Date, Year, Month, Day);
  DecodeTime(DateTime.Time, Hour, Minute, Second, MSec);
  const int WeekDay = DayOfWeek(DateTime.Date);  // 1 = Sunday
  std::string R;
  for (const TDateFormatToken& T : FDateFormat) {
    switch (T.TokenType) {
      case dfYYYY:
      case dfYEAR:
        R += FourDigits(Year);
        break;
      case dfYY:
        R += TwoDigits(((Year % 100) + 100) % 100);
        break;
      case dfQ:
        R += std::to_string((Month - 1) / 3 + 1);
        break;
      case dfMONTH:
        R += TVLTLocale::LongMonthName(Month);
        break;
      case dfMON:
        R += TVLTLocale::ShortMonthName(Month);
        break;
      case dfMM:
        R += TwoDigits(Month);
        break;
      case dfM:
        R += std::to_string(Month);
        break;
      case dfRM:
        R += kRomanMonths[static_cast<size_t>(Month - 1)];
        break;
      case dfDDD:
        R += TVLTLocale::ShortDayName(WeekDay);
        break;
      case dfDAY:
        R += TVLTLocale::LongDayName(WeekDay);
        break;
      case dfDD:
        R += TwoDigits(Day);
        break;
      case dfD:
        R += std::to_string(Day);
        break;
      case dfDY: {
        int32_t First = 0;
        TryEncodeDayNumber(Year, 1, 1, First);
        R += std::to_string(DateTime.Date - First + 1);
        break;
      }
      case dfDW:
        R += std::to_string(WeekDay == 1 ? 7 : WeekDay - 1);
        break;
      case dfHH12:
      case dfHH:
        R += TwoDigits(Hour % 12);
        break;
      case dfH12:
      case dfH:
        R += std::to_string(Hour % 12);
        break;
      case dfHH24:
        R += TwoDigits(Hour);
        break;
      case dfH24:
        R += std::to_string(Hour);
        break;
      case dfNN:
        R += TwoDigits(Minute);
        break;
      case dfN:
        R += std::to_string(Minute);
        break;
      case dfSS:
        R += TwoDigits(Second);
        break;
      case dfS:
        R += std::to_string(Second);
        break;
      case dfAMPM:
        R += Hour > 11 ? "PM" : "AM";
        break;
      case dfText:
        R += T.Text;
        break;
    }
  }
  return R;
}

TVLTDateTime TDateFormater::ToDate(std::string_view Text) const {
  static const auto kLongMonths = MonthNames(TVLTLocale::LongMonthName);
  static const auto kShortMonths = MonthNames(TVLTLocale::ShortMonthName);
  static const auto kLongDays = DayNames(TVLTLocale::LongDayName);
  static const auto kShortDays = DayNames(TVLTLocale::ShortDayName);
  TDateReader R(Text);
  int Year = 0, Month = 0, Day = 0, Hour = 0, Minute = 0, Second = 0;
  enum { kNoHalf, kAM, kPM } Half = kNoHalf;
  for (const TDateFormatToken& T : FDateFormat) {
    switch (T.TokenType) {
      case dfYYYY:
      case dfYEAR:
        Year = R.Digits(4);
        break;
      case dfYY: {
        const int YY = R.Digits(2);
        Year = YY < 30 ? 2000 + YY : 1900 + YY;
        break;
      }
      case dfQ: {
        const int Q = R.Digits(1);
        Month = Q >= 1 && Q <= 4 ? 3 * Q - 2 : 0;
        break;
      }
      case dfMONTH:
      case dfMON: {
        // A long name is tried first so that "March" is not read as "Mar" plus "ch".
        if (int M = R.Name(kLongMonths))
          Month = M;
        else
          Month = R.Name(kShortMonths);
        break;
      }
      case dfRM:
        Month = R.Name(kRomanMonths);
        break;
      case dfDAY:
      case dfDDD:
        if (!R.Name(kLongDays)) R.Name(kShortDays);
        break;
      case dfMM:
        Month = R.Digits(2);
        break;
      case dfM:
        Month = R.OneOrTwoDigits();
        break;
      case dfDD:
        Day = R.Digits(2);
        break;
      case dfD:
        Day = R.OneOrTwoDigits();
        break;
      case dfDY:
        R.UpToDigits(3);
        break;
      case dfDW:
        R.Digits(1);
        break;
      case dfHH24:
        Hour = R.Digits(2);
        break;
      case dfHH12:
      case dfHH:
      case dfH12:
      case dfH:
      case dfH24:
        Hour = R.OneOrTwoDigits();
        break;
      case dfNN:
        Minute = R.Digits(2);
        break;
      case dfN:
        Minute = R.OneOrTwoDigits();
        break;
      case dfSS:
        Second = R.Digits(2);
        break;
      case dfS:
        Second = R.OneOrTwoDigits();
        break;
      case dfAMPM: {
        const std::string_view W = R.Take(2);
        if (StartsWithNoCase(W, 0, "PM"))
          Half = kPM;
        else if (StartsWithNoCase(W, 0, "AM"))
          Half = kAM;
        else
          throw EVLTException(kErrAmPmExpected, "AM/PM word expected, but '%s' found",
                              {std::string(W)});
        break;
      }
      case dfText:
        R.Take(T.Text.size());
        break;
    }
  }
  // The 12-hour clock: 12 AM is midnight and 12 PM noon; hours 0..11 move to the afternoon
  // with PM.
  if (Half == kPM && Hour < 12) Hour += 12;
  if (Half == kAM && Hour == 12) Hour = 0;

  TVLTDateTime Result{kDateDelta, 0};
  if (Year != 0 && Month != 0 && Day != 0 && !TryEncodeDayNumber(Year, Month, Day, Result.Date))
    throw EVLTConvertError(kErrInvalidDate, "'%s' is not a valid date", {std::string(Text)});
  if (!TryEncodeTime(Hour, Minute, Second, 0, Result.Time))
    throw EVLTConvertError(kErrInvalidTime, "'%s' is not a valid time", {std::string(Text)});
  return Result;
}

int32_t TDateFormater::GetStringMaxSize() const {
  int32_t Size = 0;
  for (const TDateFormatToken& T : FDateFormat) {
    switch (T.TokenType) {
      case dfMONTH:
      case dfDAY:
        Size += 9;
        break;  // September, Wednesday
      case dfRM:
        Size += 4;
        break;  // VIII
      case dfDY:
      case dfDDD:
      case dfMON:
        Size += 3;
        break;
      case dfQ:
      case dfDW:
        Size += 1;
        break;
      case dfYYYY:
      case dfYEAR:
        Size += 4;
        break;
      case dfText:
        Size += static_cast<int32_t>(T.Text.size());
        break;
      default:
        Size += 2;
        break;  // two digits, or AM / PM
    }
  }
  return Size;
}

TVLTBaseFieldType TDateFormater::GetDataType() const {
  bool HasDate = false, HasTime = false;
  for (const TDateFormatToken& T : FDateFormat) {
    if (T.TokenType == dfText) continue;
    if (T.TokenType >= dfHH12)
      HasTime = true;
    else
      HasDate = true;
  }
  if (!HasDate) return bftTime;
  if (!HasTime) return bftDate;
  return bftDateTime;
}

}  // namespace vlt
