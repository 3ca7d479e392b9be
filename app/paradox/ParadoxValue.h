// Field values of Paradox records: a small typed, nullable value and the codec between it and
// the bytes of a record.
//
// Stored encodings (a field of all zero bytes is empty, that is NULL):
//   alpha       the text in the table's code page, NUL-padded
//   short       2 bytes big-endian, top bit inverted (0 is stored as 80 00)
//   long, auto-increment, date, time
//               4 bytes big-endian, top bit inverted; a date counts days with 1 = 0001-01-01,
//               a time milliseconds since midnight
//   number, money, timestamp
//               an IEEE double, big-endian; for values with the sign bit clear the sign bit is
//               set, otherwise every bit is inverted, so that bytes compare like numbers; a
//               timestamp is milliseconds counted like dates (day 1 = 0001-01-01)
//   logical     1 byte: 0x80 false, 0x81 true
//   BCD         17 bytes: byte 0 bit 7 set = positive; 32 decimal digits in the nibbles of
//               bytes 1..16, the last <size> of them after the decimal point; negative values
//               store every nibble complemented
//   bytes       raw bytes
//   memo, BLOB, formatted memo, OLE, graphic
//               <size - 10> leader bytes (the start of a memo's text), then 10 bytes: offset in
//               the .mb file (4, little-endian; low byte = slot in a shared block, 0xFF = own
//               block), length (4), modification number (2)
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "app/paradox/ParadoxCodePage.h"
#include "app/paradox/ParadoxHeader.h"

namespace vlt::app {

class TParadoxBlobFile;

struct TParadoxValue {
  enum TKind : uint8_t {
    vkNull,
    vkBoolean,
    vkInteger,
    vkFloat,
    vkCurrency,
    vkString,
    vkDate,
    vkTime,
    vkDateTime,
    vkBytes
  };
  TKind Kind = vkNull;
  int64_t Int = 0;   // integer; boolean 0/1; date in days; time in milliseconds
  double Float = 0;  // float, currency; timestamp in milliseconds (day 1 = 0001-01-01)
  std::string Str;   // string (8-bit text), bytes

  static TParadoxValue Null() { return {}; }
  static TParadoxValue Integer(int64_t V) { return {vkInteger, V, 0, {}}; }
  static TParadoxValue Boolean(bool V) { return {vkBoolean, V ? 1 : 0, 0, {}}; }
  static TParadoxValue Floating(double V) { return {vkFloat, 0, V, {}}; }
  static TParadoxValue Currency(double V) { return {vkCurrency, 0, V, {}}; }
  static TParadoxValue String(std::string V) { return {vkString, 0, 0, std::move(V)}; }
  static TParadoxValue Date(int32_t Days) { return {vkDate, Days, 0, {}}; }
  static TParadoxValue Time(int32_t Ms) { return {vkTime, Ms, 0, {}}; }
  static TParadoxValue DateTime(double Ms) { return {vkDateTime, 0, Ms, {}}; }
  static TParadoxValue Bytes(std::string V) { return {vkBytes, 0, 0, std::move(V)}; }

  bool IsNull() const { return Kind == vkNull; }
  friend bool operator==(const TParadoxValue&, const TParadoxValue&) = default;
};

// Text of a value as the dumps write it: dates YYYY-MM-DD, times HH:MM:SS[.mmm], timestamps
// "date time", logicals true/false, numbers in the shortest form that reads back to the same
// double; NULL is empty.
std::string ValueToText(const TParadoxValue& V);
// The shortest plain decimal (no exponent) that reads back to exactly D.
std::string ShortestDecimal(double D);

enum class TTextForm { Ansi, Utf8, Raw };

// Reads field F of the record at Rec. Text is converted from CP to Form. Memo and BLOB values
// are read from Blobs (may be null: then only memos held in the record can be read).
TParadoxValue DecodeField(const TParadoxFieldDesc& F, const uint8_t* Rec,
                          const TParadoxCodePage& CP, TTextForm Form, const TParadoxBlobFile* Blobs,
                          const std::string& TableName);

// Writes V (converted to the field's type) into field F of the record at Rec; NULL clears it.
// Raises EParadoxError naming the field when V cannot be converted or stored.
void EncodeField(const TParadoxFieldDesc& F, uint8_t* Rec, const TParadoxValue& V,
                 const TParadoxCodePage& CP, const std::string& FieldName);

// Compares field F of two records by their bytes (NULL first): the key order of every encoding
// but alpha, whose order is the table's sort order (TParadoxTableData::CompareField); for
// alpha fields this is the "ascii" order.
int CompareFieldBytes(const TParadoxFieldDesc& F, const uint8_t* A, const uint8_t* B);

bool FieldIsNull(const TParadoxFieldDesc& F, const uint8_t* Rec);

}  // namespace vlt::app
