// Field types and definitions of Paradox tables, as callers see them and as the file stores
// them, and the calendar of Paradox dates.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vlt::app {

// The type byte of a field descriptor in the file header.
enum TParadoxFieldKind : uint8_t {
  pxfAlpha = 0x01,
  pxfDate = 0x02,
  pxfShort = 0x03,
  pxfLong = 0x04,
  pxfMoney = 0x05,
  pxfNumber = 0x06,
  pxfLogical = 0x09,
  pxfMemo = 0x0C,
  pxfBlob = 0x0D,
  pxfFmtMemo = 0x0E,
  pxfOLE = 0x0F,
  pxfGraphic = 0x10,
  pxfTime = 0x14,
  pxfTimestamp = 0x15,
  pxfAutoInc = 0x16,
  pxfBCD = 0x17,
  pxfBytes = 0x18,
};

// The data type of a field as the callers name it.
enum TFieldType : uint8_t {
  ftUnknown,
  ftString,
  ftSmallint,
  ftInteger,
  ftBoolean,
  ftFloat,
  ftCurrency,
  ftBCD,
  ftDate,
  ftTime,
  ftDateTime,
  ftBytes,
  ftAutoInc,
  ftBlob,
  ftMemo,
  ftGraphic,
  ftFmtMemo,
  ftParadoxOle,
};

std::string_view FieldTypeName(TFieldType T);
// The letter Paradox uses for a field type in its table structure dialog (A, S, I, N, $ ...).
char FieldKindLetter(TParadoxFieldKind K);
bool IsKnownFieldKind(uint8_t K);
TFieldType FieldTypeOfKind(TParadoxFieldKind K);
// The stored kind for a caller's type; false for a type that cannot be stored.
bool KindOfFieldType(TFieldType T, TParadoxFieldKind& K);
// Bytes a field of this kind takes in a record (Size is the alpha length, the BCD digit count
// or the BLOB leader length plus 10).
int StoredFieldSize(TParadoxFieldKind K, int Size);

// A field definition: what callers add to define a table and what they read back.
struct TParadoxFieldDef {
  std::string Name;  // 8-bit text (Windows-1252)
  TFieldType DataType = ftUnknown;
  int Size = 0;  // string length; 0 for fixed-size types
  bool Required = false;
};

enum TIndexOption : uint8_t { ixPrimary = 1, ixUnique = 2 };

// An index definition. Paradox tables here carry at most one index: the unnamed primary one.
struct TParadoxIndexDef {
  std::string Name;
  std::string Fields;   // field names joined by ';'
  uint8_t Options = 0;  // TIndexOption bits
};

// Splits "A;B;C" into its names (blanks around names removed, empty names dropped); only ';'
// separates here: a ',' stays part of the name.
std::vector<std::string> SplitFieldList(std::string_view Fields);

// Dates are counted in days with 1 = 1 January of year 1 (proleptic Gregorian calendar).
struct TParadoxDate {
  int Year = 0, Month = 0, Day = 0;
  friend bool operator==(const TParadoxDate&, const TParadoxDate&) = default;
};
int32_t DateToDays(const TParadoxDate& D);
TParadoxDate DaysToDate(int32_t Days);
bool IsValidDate(const TParadoxDate& D);

}  // namespace vlt::app
