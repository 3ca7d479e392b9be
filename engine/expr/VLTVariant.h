// TVLTVariant: the engine's typed, nullable value. Field values, default values, constants and
// expression results are all held in it.
//
// A value has a base type (TVLTBaseFieldType), a data size and the data bytes. It is null when
// its null flag is set or it has no data. The engine makes no difference between an empty string
// and null: setting a value from an empty string leaves it null, and comparisons treat an empty
// string as null.
//
// Data layout by base type (all little-endian, packed):
//
//   BASE TYPE                          DATA
//   bftChar, bftVarchar                8-bit (Windows-1252) characters, then one 0 byte
//   bftWideChar, bftWideVarchar        UTF-16 units, then one 0 unit
//   bftSignedInt8/16/32/64             the integer in 1, 2, 4, 8 bytes
//   bftUnsignedInt8/16/32              the integer in 1, 2, 4 bytes
//   bftSingle, bftDouble               IEEE float in 4, 8 bytes
//   bftExtended                        80-bit x87 extended float, 10 bytes
//   bftDate                            Int32 day number, 1 = 1 January of year 1
//   bftTime                            Int32 milliseconds since midnight
//   bftDateTime                        TVLTDateTime: Int32 day number, Int32 milliseconds
//   bftLogical                         16-bit, 0 = false, anything else = true
//   bftCurrency                        IEEE double, 8 bytes
//   bftBlob, bftBytes, bftVarBytes     the raw bytes
//   bftClob                            8-bit characters, no terminating 0
//   bftWideClob                        UTF-16 units, no terminating 0
//
// A string read from a value ends at its first 0 (a value that borrows a record buffer's field
// slot sees the whole slot, with the string terminated inside it).
//
// Borrowed data. A value may borrow another owner's bytes (FIsDataLinked): a field value read
// from a record buffer points into the buffer instead of copying it. A borrowed buffer is never
// written through and never freed by the value; any change of the value first gives it data of
// its own. The lender must outlive the borrowing.
//
// Own data of up to kInlineSize bytes lives inside the value, larger data in a block of the
// memory manager that is kept for reuse, so a value that is written over and over (an expression
// node's result) stops allocating once it has grown. Comparing two numeric values, or two strings
// of up to 256 characters, allocates nothing.
//
// Stream image (how values are stored):
//
//   OFFSET SIZE CONTENT
//   0      1    FDataType (TVLTBaseFieldType ordinal)
//   1      1    FIsNull (0 or 1)
//   2      4    FDataSize D (Int32)           -- only when FIsNull is 0
//   6      D    the data bytes as laid out above -- only when FIsNull is 0
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "engine/base/VLTExcept.h"
#include "engine/expr/VLTFieldTypes.h"

namespace vlt {

class TVLTStream;

// A conversion the value's text or number does not allow ("'12a' is not a valid integer
// value"). Text() is the message without the native-error suffix, for callers that wrap it.
class EVLTConvertError : public EVLTException {
 public:
  EVLTConvertError(int32_t NativeError, std::string_view Format,
                   std::initializer_list<TVLTFormatArg> Args);
  const std::string& Text() const noexcept { return FText; }

 private:
  std::string FText;
};

// Result of TVLTVariant::Compare.
enum TVLTCompareResult : uint8_t {
  vcrEqual = 0,
  vcrLess = 1,       // self < Value
  vcrGreater = 2,    // self > Value
  vcrSelfNull = 3,   // self null, Value not
  vcrValueNull = 4,  // Value null, self not
  vcrBothNull = 5,
};

// The value as the dataset layer's variant sees it.
struct TVLTCalendarDate {
  double Value = 0;  // calendar date-time: days since 30 December 1899, time as the fraction
  friend bool operator==(const TVLTCalendarDate&, const TVLTCalendarDate&) = default;
};
using TVLTPlatformVariant = std::variant<std::monostate, bool, int32_t, int64_t, double,
                                        std::string, std::u16string, TVLTCalendarDate>;

// Calendar date-time (days since 30 December 1899 with the time as fraction; before that day the
// fraction counts forward from the negative whole day) to the engine's day number and
// milliseconds, and back.
TVLTDateTime CalendarToVLTDateTime(double Value);
double VLTDateTimeToCalendar(const TVLTDateTime& Value);

// Common type of two base types (bftUnknown when incompatible). The comparison table applies;
// ForArithmetic selects the variant used by arithmetic, concatenation and LIKE, in which a date,
// time or date-time against a string type yields the string type.
TVLTBaseFieldType VLTCommonType(TVLTBaseFieldType Left, TVLTBaseFieldType Right,
                                bool ForArithmetic);

class TVLTVariant {
 public:
  static constexpr int32_t kInlineSize = 24;

  explicit TVLTVariant(TVLTBaseFieldType DataType = bftUnknown);
  // Copies are deep: the copy owns its data even when the original borrows.
  TVLTVariant(const TVLTVariant& Other);
  TVLTVariant& operator=(const TVLTVariant& Other);
  TVLTVariant(TVLTVariant&& Other) noexcept;
  TVLTVariant& operator=(TVLTVariant&& Other) noexcept;
  ~TVLTVariant();

  // ---- state ----
  TVLTBaseFieldType DataType() const { return FDataType; }
  // A null value only takes the new type; a non-null value is cast, and becomes a null of the
  // new type when the cast fails.
  void SetDataType(TVLTBaseFieldType NewDataType);
  int32_t DataSize() const { return FDataSize; }
  const uint8_t* Data() const { return FPData; }
  bool IsDataLinked() const { return FIsDataLinked; }

  bool IsNull() const { return FIsNull || FPData == nullptr || FDataSize <= 0; }
  // Null, or a string of length 0.
  bool IsNullOrEmpty() const;
  void Clear(TVLTBaseFieldType DataType);
  void SetNull() { FIsNull = true; }

  bool IsNumericDataType() const { return IsNumericBaseType(FDataType); }
  bool IsStringDataType() const { return IsStringBaseType(FDataType); }
  bool IsWideStringDataType() const { return IsWideStringBaseType(FDataType); }
  bool IsBlobDataType() const { return IsBlobBaseType(FDataType); }
  bool IsDateTimeDataType() const { return IsDateTimeBaseType(FDataType); }

  // Takes type, size and null state; copies the data when CopyData, else borrows Source's bytes.
  void Assign(const TVLTVariant& Source, bool CopyData);
  // The value from raw bytes in the layout of DataType, copied or (Copy false) borrowed. Raises
  // 30142 when Size does not fit a fixed-size type. Size 0 gives a null value.
  void SetData(const void* Buffer, int32_t Size, bool Copy, TVLTBaseFieldType DataType);
  // Copies the data to Buffer; false (nothing copied) for null and for a string of length 0.
  // Raises 20056 "Buffer size exceeded" when MaxSize is not -1 and smaller than the data.
  bool CopyDataToAddress(void* Buffer, int32_t MaxSize) const;

  // ---- typed access ----
  // Getters convert from the stored type; reading a null value as a non-string type raises
  // "Value is Null", as a string gives "". Setters give a bftUnknown value the setter's type and
  // otherwise convert to the value's type; they clear null, except that an empty string leaves
  // the value null.
  int8_t AsShortint() const;
  int16_t AsSmallint() const;
  int32_t AsInteger() const;
  int64_t AsInt64() const;
  uint8_t AsByte() const;
  uint16_t AsWord() const;
  uint32_t AsCardinal() const;
  float AsSingle() const;
  double AsDouble() const;
  long double AsExtended() const;
  double AsCurrency() const;
  bool AsBoolean() const;
  std::string AsAnsiString() const;
  std::u16string AsWideString() const;
  int32_t AsVLTDate() const;  // day number
  int32_t AsVLTTime() const;  // milliseconds
  TVLTDateTime AsVLTDateTime() const;
  double AsDate() const;  // calendar date (whole days)
  double AsTime() const;  // calendar time (fraction of a day)
  double AsDateTime() const;
  TVLTPlatformVariant AsVariant() const;

  void SetAsShortint(int8_t V);
  void SetAsSmallint(int16_t V);
  void SetAsInteger(int32_t V);
  void SetAsInt64(int64_t V);
  void SetAsByte(uint8_t V);
  void SetAsWord(uint16_t V);
  void SetAsCardinal(uint32_t V);
  void SetAsSingle(float V);
  void SetAsDouble(double V);
  void SetAsExtended(long double V);
  void SetAsCurrency(double V);
  void SetAsBoolean(bool V);
  void SetAsAnsiString(std::string_view V);
  void SetAsWideString(std::u16string_view V);
  void SetAsVLTDate(int32_t DayNumber);
  void SetAsVLTTime(int32_t MSecs);
  void SetAsVLTDateTime(const TVLTDateTime& V);
  void SetAsDate(double V);
  void SetAsTime(double V);
  void SetAsDateTime(double V);
  // monostate makes the value null (type kept).
  void SetAsVariant(const TVLTPlatformVariant& V);

  // String length in characters (up to the first 0); -1 for null and non-string values.
  int32_t StrLen() const;

  // ---- conversion ----
  // Same type: nothing. Null: a null of the new type. bftClob to bftVarchar: the terminating 0
  // is appended. Otherwise the conversion rules; a conversion that the text or number does not
  // allow raises EVLTConvertError, an impossible one 30141, an unknown type 30047.
  void Cast(TVLTBaseFieldType NewDataType);
  // A wide string whose text survives the round trip through Windows-1252 becomes bftVarchar.
  void TryToReduceWideStringToAnsiString();

  // ---- comparison and arithmetic ----
  // See TVLTCompareResult. Without TrueFalseNullLogic the null codes fold: self null -> vcrLess,
  // Value null -> vcrGreater, both -> vcrEqual. PartialKey compares strings over the length of
  // Value only. Raises 30044 for incompatible types.
  TVLTCompareResult Compare(const TVLTVariant& Value, bool TrueFalseNullLogic,
                            bool CaseInsensitive, bool PartialKey) const;
  // self := self op Value in the common type (arithmetic table).
  void Add(const TVLTVariant& Value);
  void Sub(const TVLTVariant& Value);
  void Mul(const TVLTVariant& Value);
  void Division(const TVLTVariant& Value);
  void InvertValue();

  // ---- stream image ----
  void SaveToStream(TVLTStream& Stream) const;
  // Raises "Cannot read from stream..." (10179 to 10182) for a short stream and 30047 / 30142
  // for a type or size that cannot be a value's.
  void LoadFromStream(TVLTStream& Stream);
  // The same image appended to / read from a byte buffer (Pos advances past the image).
  void SaveToBytes(std::vector<uint8_t>& Out) const;
  void LoadFromBytes(const uint8_t* Data, size_t Size, size_t& Pos);

  // ---- internal views (no copies) ----
  // 8-bit text of bftChar/bftVarchar/bftClob data, wide text units of the wide types.
  std::string_view AnsiView() const;
  const uint8_t* WideUnits(size_t& Length) const;

 private:
  // Own storage for Size bytes, reusing the inline buffer or the kept heap block. The previous
  // data may not be read after this call.
  uint8_t* Reserve(int32_t Size);
  void TakeOwnBytes(const void* Buffer, int32_t Size);
  void ReleaseHeap();
  template <typename T>
  void StoreScalar(TVLTBaseFieldType Type, T V);
  void StoreString(std::string_view S, TVLTBaseFieldType Type);
  void StoreWide(std::u16string_view S, TVLTBaseFieldType Type);
  TVLTVariant CastCopy(TVLTBaseFieldType Type) const;
  void CheckNotNull(int32_t Code) const;
  void Arithmetic(const TVLTVariant& Value, char Op, int32_t NonNumericCode);

  TVLTBaseFieldType FDataType = bftUnknown;
  int32_t FDataSize = 0;
  uint8_t* FPData = nullptr;  // FInline, FHeap or (FIsDataLinked) someone else's bytes
  bool FIsNull = true;
  bool FIsDataLinked = false;
  uint8_t* FHeap = nullptr;  // memory manager block kept for reuse; owned
  int32_t FHeapCapacity = 0;
  alignas(8) uint8_t FInline[kInlineSize];
};

}  // namespace vlt
