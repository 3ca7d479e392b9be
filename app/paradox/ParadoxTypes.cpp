#include "app/paradox/ParadoxTypes.h"

#include <chrono>

#include "engine/base/VLTFieldList.h"

namespace vlt::app {

// clang-format off
std::string_view FieldTypeName(TFieldType T) {
  switch (T) {
    case ftString: return "String";
    case ftSmallint: return "Smallint";
    case ftInteger: return "Integer";
    case ftBoolean: return "Boolean";
    case ftFloat: return "Float";
    case ftCurrency: return "Currency";
    case ftBCD: return "BCD";
    case ftDate: return "Date";
    case ftTime: return "Time";
    case ftDateTime: return "DateTime";
    case ftBytes: return "Bytes";
    case ftAutoInc: return "AutoInc";
    case ftBlob: return "Blob";
    case ftMemo: return "Memo";
    case ftGraphic: return "Graphic";
    case ftFmtMemo: return "FmtMemo";
    case ftParadoxOle: return "ParadoxOle";
    case ftUnknown: break;
  }
  return "Unknown";
}

char FieldKindLetter(TParadoxFieldKind K) {
  switch (K) {
    case pxfAlpha: return 'A';
    case pxfDate: return 'D';
    case pxfShort: return 'S';
    case pxfLong: return 'I';
    case pxfMoney: return '$';
    case pxfNumber: return 'N';
    case pxfLogical: return 'L';
    case pxfMemo: return 'M';
    case pxfBlob: return 'B';
    case pxfFmtMemo: return 'F';
    case pxfOLE: return 'O';
    case pxfGraphic: return 'G';
    case pxfTime: return 'T';
    case pxfTimestamp: return '@';
    case pxfAutoInc: return '+';
    case pxfBCD: return '#';
    case pxfBytes: return 'Y';
  }
  return '?';
}

bool IsKnownFieldKind(uint8_t K) { return FieldKindLetter(static_cast<TParadoxFieldKind>(K)) != '?'; }

TFieldType FieldTypeOfKind(TParadoxFieldKind K) {
  switch (K) {
    case pxfAlpha: return ftString;
    case pxfDate: return ftDate;
    case pxfShort: return ftSmallint;
    case pxfLong: return ftInteger;
    case pxfMoney: return ftCurrency;
    case pxfNumber: return ftFloat;
    case pxfLogical: return ftBoolean;
    case pxfMemo: return ftMemo;
    case pxfBlob: return ftBlob;
    case pxfFmtMemo: return ftFmtMemo;
    case pxfOLE: return ftParadoxOle;
    case pxfGraphic: return ftGraphic;
    case pxfTime: return ftTime;
    case pxfTimestamp: return ftDateTime;
    case pxfAutoInc: return ftAutoInc;
    case pxfBCD: return ftBCD;
    case pxfBytes: return ftBytes;
  }
  return ftUnknown;
}

bool KindOfFieldType(TFieldType T, TParadoxFieldKind& K) {
  switch (T) {
    case ftString: K = pxfAlpha; return true;
    case ftSmallint: K = pxfShort; return true;
    case ftInteger: K = pxfLong; return true;
    case ftBoolean: K = pxfLogical; return true;
    case ftFloat: K = pxfNumber; return true;
    case ftCurrency: K = pxfMoney; return true;
    case ftDate: K = pxfDate; return true;
    case ftTime: K = pxfTime; return true;
    case ftDateTime: K = pxfTimestamp; return true;
    case ftAutoInc: K = pxfAutoInc; return true;
    case ftBytes: K = pxfBytes; return true;
    default: return false;
  }
}

int StoredFieldSize(TParadoxFieldKind K, int Size) {
  switch (K) {
    case pxfAlpha:
    case pxfBytes: return Size;
    case pxfShort: return 2;
    case pxfLogical: return 1;
    case pxfDate:
    case pxfLong:
    case pxfTime:
    case pxfAutoInc: return 4;
    case pxfMoney:
    case pxfNumber:
    case pxfTimestamp: return 8;
    case pxfBCD: return 17;
    default: return Size;  // BLOB kinds: leader + 10 as stored in the descriptor
  }
}
// clang-format on

std::vector<std::string> SplitFieldList(std::string_view Fields) {
  return VLTSplitList(Fields, ";", false);
}

namespace {
constexpr std::chrono::sys_days kDayOne{std::chrono::year{1} / 1 / 1};
}

int32_t DateToDays(const TParadoxDate& D) {
  using namespace std::chrono;
  sys_days S{year{D.Year} / month{static_cast<unsigned>(D.Month)} /
             day{static_cast<unsigned>(D.Day)}};
  return static_cast<int32_t>((S - kDayOne).count() + 1);
}

TParadoxDate DaysToDate(int32_t Days) {
  using namespace std::chrono;
  year_month_day Y{kDayOne + days{static_cast<int64_t>(Days) - 1}};
  return {static_cast<int>(Y.year()), static_cast<int>(static_cast<unsigned>(Y.month())),
          static_cast<int>(static_cast<unsigned>(Y.day()))};
}

bool IsValidDate(const TParadoxDate& D) {
  using namespace std::chrono;
  if (D.Year < 1 || D.Year > 9999 || D.Month < 1 || D.Month > 12 || D.Day < 1 || D.Day > 31)
    return false;
  return year_month_day{year{D.Year} / month{static_cast<unsigned>(D.Month)} /
                        day{static_cast<unsigned>(D.Day)}}
      .ok();
}

}  // namespace vlt::app
