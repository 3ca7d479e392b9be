#include "engine/expr/VLTVariant.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "engine/expr/VLTLocale.h"
#include "engine/protect/VLTStream.h"

namespace vlt {
namespace {

std::string TextOf(const EVLTException& E) {
  return E.Message().substr(0, E.Message().find(" - Native error"));
}

int32_t Day(int Y, int M, int D) {
  int32_t R = 0;
  EXPECT_TRUE(TryEncodeDayNumber(Y, M, D, R));
  return R;
}

// ---- casts ----

struct TCastCase {
  const char* Name;
  std::function<void(TVLTVariant&)> Make;
  TVLTBaseFieldType Target;
  std::function<void(const TVLTVariant&)> Check;
};

class VariantCast : public ::testing::TestWithParam<TCastCase> {};

TEST_P(VariantCast, Converts) {
  const TCastCase& C = GetParam();
  TVLTVariant V;
  C.Make(V);
  V.Cast(C.Target);
  EXPECT_EQ(V.DataType(), C.Target);
  C.Check(V);
}

auto Text(const char* S) {
  return [S](TVLTVariant& V) { V.SetAsAnsiString(S); };
}
auto ExpectText(const char* S) {
  return [S](const TVLTVariant& V) { EXPECT_EQ(V.AsAnsiString(), S); };
}
auto ExpectNull() {
  return [](const TVLTVariant& V) { EXPECT_TRUE(V.IsNull()); };
}

INSTANTIATE_TEST_SUITE_P(
    Cases, VariantCast,
    ::testing::Values(
        TCastCase{"TextToInteger", Text(" 42 "), bftSignedInt32,
                  [](const TVLTVariant& V) { EXPECT_EQ(V.AsInteger(), 42); }},
        TCastCase{"HexTextToInteger", Text("$FF"), bftSignedInt16,
                  [](const TVLTVariant& V) { EXPECT_EQ(V.AsSmallint(), 255); }},
        TCastCase{"TextToDoubleUsesDot", Text("1.5E+3"), bftDouble,
                  [](const TVLTVariant& V) { EXPECT_EQ(V.AsDouble(), 1500.0); }},
        TCastCase{"TextToCurrency", Text("12.34567"), bftCurrency,
                  [](const TVLTVariant& V) { EXPECT_DOUBLE_EQ(V.AsCurrency(), 12.3457); }},
        TCastCase{"TextToExtended", Text("0.1"), bftExtended,
                  [](const TVLTVariant& V) {
                    EXPECT_EQ(V.DataSize(), 10);
                    EXPECT_EQ(V.AsExtended(), 0.1L);
                  }},
        TCastCase{"TrueText", Text("true"), bftLogical,
                  [](const TVLTVariant& V) { EXPECT_TRUE(V.AsBoolean()); }},
        TCastCase{"OneText", Text("1"), bftLogical,
                  [](const TVLTVariant& V) { EXPECT_TRUE(V.AsBoolean()); }},
        TCastCase{"OtherTextIsFalse", Text("yes"), bftLogical,
                  [](const TVLTVariant& V) { EXPECT_FALSE(V.AsBoolean()); }},
        TCastCase{"IsoDateText", Text("2024-01-31"), bftDate,
                  [](const TVLTVariant& V) { EXPECT_EQ(V.AsVLTDate(), 738916); }},
        TCastCase{"DigitGroupDateTime", Text("20240131123456"), bftDateTime,
                  [](const TVLTVariant& V) {
                    EXPECT_EQ(V.AsVLTDateTime(), (TVLTDateTime{738916, 45296000}));
                  }},
        TCastCase{"SeparatedDateTime", Text("2024-01-31 12:34:56"), bftDateTime,
                  [](const TVLTVariant& V) {
                    EXPECT_EQ(V.AsVLTDateTime(), (TVLTDateTime{738916, 45296000}));
                  }},
        TCastCase{"LocaleDateText", Text("1/31/2024"), bftDate,
                  [](const TVLTVariant& V) { EXPECT_EQ(V.AsVLTDate(), 738916); }},
        TCastCase{"LocaleDateTimeText", Text("1/31/2024 1:05:00 PM"), bftDateTime,
                  [](const TVLTVariant& V) {
                    EXPECT_EQ(V.AsVLTDateTime(), (TVLTDateTime{738916, 47100000}));
                  }},
        TCastCase{"TimeGroups", Text("13 05 00"), bftTime,
                  [](const TVLTVariant& V) { EXPECT_EQ(V.AsVLTTime(), 47100000); }},
        TCastCase{"LocaleTime", Text("1:05 pm"), bftTime,
                  [](const TVLTVariant& V) { EXPECT_EQ(V.AsVLTTime(), 47100000); }},
        TCastCase{"IntegerIsDayNumber", [](TVLTVariant& V) { V.SetAsInteger(5); }, bftDate,
                  [](const TVLTVariant& V) { EXPECT_EQ(V.AsVLTDate(), 5); }},
        TCastCase{"FloatDropsFractionForDate", [](TVLTVariant& V) { V.SetAsDouble(5.75); }, bftDate,
                  [](const TVLTVariant& V) { EXPECT_EQ(V.AsVLTDate(), 5); }},
        TCastCase{"IntegerTimeModuloDay", [](TVLTVariant& V) { V.SetAsInteger(90000000); }, bftTime,
                  [](const TVLTVariant& V) { EXPECT_EQ(V.AsVLTTime(), 3600000); }},
        TCastCase{"FloatFractionIsTime", [](TVLTVariant& V) { V.SetAsDouble(1.5); }, bftDateTime,
                  [](const TVLTVariant& V) {
                    EXPECT_EQ(V.AsVLTDateTime(), (TVLTDateTime{1, 43200000}));
                  }},
        TCastCase{"DateToNumber", [](TVLTVariant& V) { V.SetAsVLTDate(738916); }, bftSignedInt64,
                  [](const TVLTVariant& V) { EXPECT_EQ(V.AsInt64(), 738916); }},
        TCastCase{"FloatToIntegerTruncates", [](TVLTVariant& V) { V.SetAsDouble(-2.9); },
                  bftSignedInt32, [](const TVLTVariant& V) { EXPECT_EQ(V.AsInteger(), -2); }},
        TCastCase{"IntegerWrapsToWidth", [](TVLTVariant& V) { V.SetAsInteger(300); },
                  bftUnsignedInt8, [](const TVLTVariant& V) { EXPECT_EQ(V.AsByte(), 44); }},
        TCastCase{"DoubleText", [](TVLTVariant& V) { V.SetAsDouble(0.1); }, bftVarchar,
                  ExpectText("0.1")},
        TCastCase{"SingleText", [](TVLTVariant& V) { V.SetAsSingle(0.1f); }, bftVarchar,
                  ExpectText("0.1")},
        TCastCase{"LargeDoubleText", [](TVLTVariant& V) { V.SetAsDouble(1e20); }, bftVarchar,
                  ExpectText("1E20")},
        TCastCase{"SmallDoubleText", [](TVLTVariant& V) { V.SetAsDouble(-1.5e-7); }, bftVarchar,
                  ExpectText("-1.5E-7")},
        TCastCase{"CurrencyText", [](TVLTVariant& V) { V.SetAsCurrency(12.5); }, bftVarchar,
                  ExpectText("12.5")},
        TCastCase{"LogicalText", [](TVLTVariant& V) { V.SetAsBoolean(true); }, bftVarchar,
                  ExpectText("True")},
        TCastCase{"DateText", [](TVLTVariant& V) { V.SetAsVLTDate(738916); }, bftVarchar,
                  ExpectText("1/31/2024")},
        TCastCase{"TimeText", [](TVLTVariant& V) { V.SetAsVLTTime(47100000); }, bftVarchar,
                  ExpectText("1:05:00 PM")},
        TCastCase{"DateTimeText", [](TVLTVariant& V) { V.SetAsVLTDateTime({738916, 47100000}); },
                  bftVarchar, ExpectText("1/31/2024 1:05:00 PM")},
        TCastCase{"MidnightIsEmpty", [](TVLTVariant& V) { V.SetAsVLTTime(0); }, bftVarchar,
                  ExpectNull()},
        TCastCase{"SmallestDateIsEmpty", [](TVLTVariant& V) { V.SetAsVLTDate(INT32_MIN); },
                  bftVarchar, ExpectNull()},
        TCastCase{"SmallestDateTimeIsEmpty",
                  [](TVLTVariant& V) { V.SetAsVLTDateTime({INT32_MIN, 0}); }, bftWideVarchar,
                  ExpectNull()},
        TCastCase{"ClobGetsTerminator",
                  [](TVLTVariant& V) { V.SetData("abc", 3, true, bftClob); }, bftVarchar,
                  [](const TVLTVariant& V) {
                    EXPECT_EQ(V.DataSize(), 4);
                    EXPECT_EQ(V.Data()[3], 0);
                    EXPECT_EQ(V.AsAnsiString(), "abc");
                  }},
        TCastCase{"AnsiToWide", Text("Caf\xE9 \x80"), bftWideVarchar,
                  [](const TVLTVariant& V) {
                    EXPECT_EQ(V.AsWideString(), u"Caf\u00E9 \u20AC");
                    EXPECT_EQ(V.DataSize(), 14);
                  }},
        TCastCase{"WideClobToVarchar", [](TVLTVariant& V) { V.SetAsWideString(u"x\u20ACy"); },
                  bftVarchar, ExpectText("x\x80y")},
        TCastCase{"NullStaysNullOfNewType", [](TVLTVariant& V) { V.Clear(bftSignedInt32); },
                  bftVarchar, ExpectNull()}),
    [](const auto& Info) { return std::string(Info.param.Name); });

struct TCastFailure {
  const char* Name;
  std::function<void(TVLTVariant&)> Make;
  TVLTBaseFieldType Target;
  int32_t Code;
  const char* Message;
};

class VariantCastFailure : public ::testing::TestWithParam<TCastFailure> {};

TEST_P(VariantCastFailure, Raises) {
  const TCastFailure& C = GetParam();
  TVLTVariant V;
  C.Make(V);
  try {
    V.Cast(C.Target);
    FAIL() << "no error";
  } catch (const EVLTException& E) {
    EXPECT_EQ(E.NativeError(), C.Code);
    EXPECT_EQ(TextOf(E), C.Message);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, VariantCastFailure,
    ::testing::Values(
        TCastFailure{"NotAnInteger", Text("12a"), bftSignedInt32, 30048,
                     "'12a' is not a valid integer value"},
        TCastFailure{"IntegerOutOfRange", Text("300"), bftSignedInt8, 30048,
                     "'300' is not a valid integer value"},
        TCastFailure{"NotAFloat", Text("1,5"), bftDouble, 30049,
                     "'1,5' is not a valid floating point value"},
        TCastFailure{"NotADate", Text("2024-13-01"), bftDate, 30051,
                     "'2024-13-01' is not a valid date"},
        TCastFailure{"NotATime", Text("25:00"), bftTime, 30052, "'25:00' is not a valid time"},
        TCastFailure{"BlobToNumber", [](TVLTVariant& V) { V.SetData("ab", 2, true, bftBlob); },
                     bftSignedInt32, 30141,
                     "Cannot convert a value of type 'bftBlob' to type 'bftSignedInt32'"},
        TCastFailure{"DateToLogical", [](TVLTVariant& V) { V.SetAsVLTDate(5); }, bftLogical,
                     30141, "Cannot convert a value of type 'bftDate' to type 'bftLogical'"},
        TCastFailure{"ToUnknown", [](TVLTVariant& V) { V.SetAsInteger(5); }, bftUnknown, 30047,
                     "Unknown DataType: 'bftUnknown'"},
        TCastFailure{"HugeFloatToInteger", [](TVLTVariant& V) { V.SetAsDouble(1e30); },
                     bftSignedInt64, 30126,
                     "Value 1E30 is out of the integer range (bftDouble)"}),
    [](const auto& Info) { return std::string(Info.param.Name); });

TEST(Variant, WritingDataTypeCastsOrNulls) {
  TVLTVariant V;
  V.SetAsAnsiString("17");
  V.SetDataType(bftSignedInt16);
  EXPECT_EQ(V.DataType(), bftSignedInt16);
  EXPECT_EQ(V.AsSmallint(), 17);
  EXPECT_THROW(V.SetAsAnsiString("x"), EVLTConvertError);  // keeps its type: "x" is no number
  EXPECT_EQ(V.AsSmallint(), 17) << "a failed setter leaves the value";
  TVLTVariant W;
  W.SetAsAnsiString("abc");
  W.SetDataType(bftDate);  // the cast fails: a null date
  EXPECT_EQ(W.DataType(), bftDate);
  EXPECT_TRUE(W.IsNull());
}

// ---- typed access ----

TEST(Variant, SettersGiveOrKeepTheType) {
  TVLTVariant V;
  EXPECT_TRUE(V.IsNull());
  EXPECT_EQ(V.DataType(), bftUnknown);
  V.SetAsInteger(42);
  EXPECT_EQ(V.DataType(), bftSignedInt32);
  V.SetAsAnsiString("43");  // converted to the value's type
  EXPECT_EQ(V.DataType(), bftSignedInt32);
  EXPECT_EQ(V.AsInteger(), 43);
  V.SetAsDouble(44.9);
  EXPECT_EQ(V.AsInteger(), 44);
  EXPECT_EQ(V.AsAnsiString(), "44");

  TVLTVariant S(bftVarchar);
  S.SetAsInteger(5);
  EXPECT_EQ(S.DataType(), bftVarchar);
  EXPECT_EQ(S.AsAnsiString(), "5");
  EXPECT_EQ(S.StrLen(), 1);
  EXPECT_EQ(S.DataSize(), 2);
}

TEST(Variant, EmptyStringIsNull) {
  TVLTVariant V;
  V.SetAsAnsiString("");
  EXPECT_TRUE(V.IsNull());
  EXPECT_EQ(V.DataType(), bftVarchar);
  V.SetAsAnsiString("x");
  V.SetAsAnsiString("");
  EXPECT_TRUE(V.IsNull());
  TVLTVariant W(bftWideChar);
  W.SetAsWideString(u"");
  EXPECT_TRUE(W.IsNull());
  EXPECT_EQ(W.StrLen(), -1);
}

TEST(Variant, NullReadsAsEmptyTextOrRaises) {
  TVLTVariant V(bftSignedInt32);
  EXPECT_EQ(V.AsAnsiString(), "");
  EXPECT_EQ(V.AsWideString(), u"");
  try {
    (void)V.AsInteger();
    FAIL();
  } catch (const EVLTException& E) {
    EXPECT_EQ(E.NativeError(), 30016);
    EXPECT_EQ(TextOf(E), "Value is Null");
  }
  EXPECT_THROW((void)V.AsBoolean(), EVLTException);
  EXPECT_THROW((void)V.AsVLTDateTime(), EVLTException);
  EXPECT_TRUE(std::holds_alternative<std::monostate>(V.AsVariant()));
}

TEST(Variant, CalendarDateTimes) {
  TVLTVariant V;
  V.SetAsDateTime(45322.5);  // 31 January 2024, noon
  EXPECT_EQ(V.DataType(), bftDateTime);
  EXPECT_EQ(V.AsVLTDateTime(), (TVLTDateTime{738916, 43200000}));
  EXPECT_DOUBLE_EQ(V.AsDateTime(), 45322.5);
  EXPECT_DOUBLE_EQ(V.AsDate(), 45322.0);
  EXPECT_EQ(CalendarToVLTDateTime(-1.25), (TVLTDateTime{693593, 21600000}));
  EXPECT_DOUBLE_EQ(VLTDateTimeToCalendar({693593, 21600000}), -1.25);
  TVLTVariant T;
  T.SetAsTime(0.75);
  EXPECT_EQ(T.AsVLTTime(), 64800000);
  EXPECT_EQ(Day(1, 1, 1), 1);
  EXPECT_EQ(Day(1899, 12, 30), kDateDelta);
}

TEST(Variant, PlatformVariantRoundTrip) {
  TVLTVariant V;
  V.SetAsVariant(std::string("abc"));
  EXPECT_EQ(std::get<std::string>(V.AsVariant()), "abc");
  TVLTVariant I;
  I.SetAsVariant(int64_t{1} << 40);
  EXPECT_EQ(std::get<int64_t>(I.AsVariant()), int64_t{1} << 40);
  TVLTVariant D;
  D.SetAsVariant(TVLTCalendarDate{45322.5});
  EXPECT_EQ(std::get<TVLTCalendarDate>(D.AsVariant()).Value, 45322.5);
  D.SetAsVariant(std::monostate{});
  EXPECT_TRUE(D.IsNull());
}

// ---- borrowed data ----

TEST(Variant, BorrowedDataIsNeverWrittenOrFreed) {
  uint8_t Record[8] = {'a', 'b', 0, 0, 0, 0, 0, 0};
  TVLTVariant V;
  V.SetData(Record, 5, false, bftVarchar);  // a record slot of 5 bytes holding "ab"
  EXPECT_TRUE(V.IsDataLinked());
  EXPECT_EQ(V.Data(), Record);
  EXPECT_EQ(V.StrLen(), 2);
  EXPECT_EQ(V.AsAnsiString(), "ab");

  TVLTVariant Borrower;
  Borrower.Assign(V, false);
  EXPECT_TRUE(Borrower.IsDataLinked());
  EXPECT_EQ(Borrower.Data(), Record);
  TVLTVariant Copy;
  Copy.Assign(V, true);
  EXPECT_FALSE(Copy.IsDataLinked());
  EXPECT_NE(Copy.Data(), Record);

  V.SetAsAnsiString("xyz");  // takes data of its own
  EXPECT_FALSE(V.IsDataLinked());
  EXPECT_EQ(Record[0], 'a');

  int32_t Num = 7;
  TVLTVariant N;
  N.SetData(&Num, 4, false, bftSignedInt32);
  TVLTVariant One;
  One.SetAsInteger(1);
  N.Add(One);
  EXPECT_EQ(N.AsInteger(), 8);
  EXPECT_EQ(Num, 7);
  uint8_t DT[8] = {1, 0, 0, 0, 0, 0, 0, 0};
  TVLTVariant DTV;
  DTV.SetData(DT, 8, false, bftDateTime);
  TVLTVariant Hour;
  Hour.SetAsVLTDateTime({0, 3600000});
  DTV.Add(Hour);
  EXPECT_EQ(DT[4], 0) << "date-time arithmetic wrote through borrowed bytes";
}

TEST(Variant, CopiesOwnTheirData) {
  TVLTVariant Long;
  Long.SetAsAnsiString(std::string(100, 'x'));
  TVLTVariant A = Long;
  TVLTVariant B = std::move(Long);
  EXPECT_EQ(A.AsAnsiString(), std::string(100, 'x'));
  EXPECT_EQ(B.AsAnsiString(), std::string(100, 'x'));
  TVLTVariant Short;
  Short.SetAsInteger(3);
  TVLTVariant C = std::move(Short);
  EXPECT_EQ(C.AsInteger(), 3);
  C = A;
  EXPECT_EQ(C.StrLen(), 100);
  C = C;  // self-assignment keeps the value
  EXPECT_EQ(C.StrLen(), 100);
}

TEST(Variant, SetDataChecksFixedSizes) {
  int64_t X = 0;
  TVLTVariant V;
  EXPECT_THROW(V.SetData(&X, 8, true, bftSignedInt32), EVLTException);
  V.SetData(&X, 0, true, bftSignedInt32);
  EXPECT_TRUE(V.IsNull());
}

TEST(Variant, CopyDataToAddress) {
  TVLTVariant V;
  V.SetAsAnsiString("abc");
  char Buf[8] = {};
  EXPECT_TRUE(V.CopyDataToAddress(Buf, 8));
  EXPECT_STREQ(Buf, "abc");
  EXPECT_TRUE(V.CopyDataToAddress(Buf, -1));
  try {
    V.CopyDataToAddress(Buf, 3);
    FAIL();
  } catch (const EVLTException& E) {
    EXPECT_EQ(E.NativeError(), 20056);
  }
  TVLTVariant Null(bftSignedInt32);
  EXPECT_FALSE(Null.CopyDataToAddress(Buf, 8));
  uint8_t Empty[4] = {};
  TVLTVariant EmptySlot;
  EmptySlot.SetData(Empty, 4, false, bftVarchar);
  EXPECT_FALSE(EmptySlot.CopyDataToAddress(Buf, 8));
}

TEST(Variant, ReduceWideString) {
  TVLTVariant V;
  V.SetAsWideString(u"Caf\u00E9");
  V.TryToReduceWideStringToAnsiString();
  EXPECT_EQ(V.DataType(), bftVarchar);
  EXPECT_EQ(V.AsAnsiString(), "Caf\xE9");
  TVLTVariant W;
  W.SetAsWideString(u"\u03A9");
  W.TryToReduceWideStringToAnsiString();
  EXPECT_EQ(W.DataType(), bftWideVarchar);
}

// ---- arithmetic ----

TVLTVariant Int(int32_t V) {
  TVLTVariant R;
  R.SetAsInteger(V);
  return R;
}
TVLTVariant Dbl(double V) {
  TVLTVariant R;
  R.SetAsDouble(V);
  return R;
}
TVLTVariant Str(const char* S) {
  TVLTVariant R(bftVarchar);
  R.SetAsAnsiString(S);
  return R;
}

TEST(VariantArithmetic, CommonTypeDecidesTheResult) {
  TVLTVariant V = Int(2);
  V.Add(Dbl(0.5));
  EXPECT_EQ(V.DataType(), bftDouble);
  EXPECT_EQ(V.AsDouble(), 2.5);

  TVLTVariant Q = Int(7);
  Q.Division(Int(2));
  EXPECT_EQ(Q.DataType(), bftSignedInt32);
  EXPECT_EQ(Q.AsInteger(), 3);

  TVLTVariant N = Int(-7);
  N.Division(Int(2));
  EXPECT_EQ(N.AsInteger(), -3);

  TVLTVariant Small(bftSignedInt8);
  Small.SetAsInteger(127);
  TVLTVariant One(bftSignedInt8);
  One.SetAsInteger(1);
  Small.Add(One);
  EXPECT_EQ(Small.AsShortint(), -128);  // wraps in its width

  TVLTVariant M = Int(6);
  M.Mul(Int(7));
  M.Sub(Int(2));
  EXPECT_EQ(M.AsInteger(), 40);
  M.InvertValue();
  EXPECT_EQ(M.AsInteger(), -40);
}

TEST(VariantArithmetic, DateTimeCarriesWholeDays) {
  TVLTVariant V;
  V.SetAsVLTDateTime({Day(2024, 1, 1), 23 * 3600000});
  TVLTVariant TwoHours;
  TwoHours.SetAsVLTDateTime({0, 2 * 3600000});
  V.Add(TwoHours);
  EXPECT_EQ(V.AsVLTDateTime(), (TVLTDateTime{Day(2024, 1, 2), 3600000}));
  TVLTVariant ThreeHours;
  ThreeHours.SetAsVLTDateTime({0, 3 * 3600000});
  V.Sub(ThreeHours);
  EXPECT_EQ(V.AsVLTDateTime(), (TVLTDateTime{Day(2024, 1, 1), 22 * 3600000}));

  TVLTVariant D;
  D.SetAsVLTDate(Day(2024, 2, 28));
  D.Add(Int(2));
  EXPECT_EQ(D.DataType(), bftDate);
  EXPECT_EQ(D.AsVLTDate(), Day(2024, 3, 1));
}

TEST(VariantArithmetic, TextAndLogical) {
  TVLTVariant S = Str("ab");
  S.Add(Str("cd"));
  EXPECT_EQ(S.AsAnsiString(), "abcd");
  S.Add(Int(5));
  EXPECT_EQ(S.AsAnsiString(), "abcd5");
  TVLTVariant W;
  W.SetAsWideString(u"\u03A9");
  W.Add(Str("x"));
  EXPECT_EQ(W.AsWideString(), u"\u03A9x");
  TVLTVariant DateText;
  DateText.SetAsVLTDate(738916);
  DateText.Add(Str("!"));  // a date against text is text in arithmetic
  EXPECT_EQ(DateText.DataType(), bftVarchar);
  EXPECT_EQ(DateText.AsAnsiString(), "1/31/2024!");

  TVLTVariant B;
  B.SetAsBoolean(false);
  TVLTVariant T;
  T.SetAsBoolean(true);
  B.Add(T);
  EXPECT_TRUE(B.AsBoolean());
  TVLTVariant B2;
  B2.SetAsBoolean(false);
  B2.Division(T);
  EXPECT_TRUE(B2.AsBoolean());
}

TEST(VariantArithmetic, NullRules) {
  TVLTVariant Text = Str("abc");
  Text.Add(TVLTVariant(bftSignedInt32));
  EXPECT_EQ(Text.AsAnsiString(), "abc");  // text stays

  TVLTVariant Num = Int(5);
  Num.Add(TVLTVariant(bftSignedInt32));
  EXPECT_TRUE(Num.IsNull());

  TVLTVariant NullText(bftVarchar);
  NullText.Add(Int(5));  // a null text takes the right value
  EXPECT_FALSE(NullText.IsNull());
  EXPECT_EQ(NullText.AsInteger(), 5);

  for (auto Op : {&TVLTVariant::Sub, &TVLTVariant::Mul, &TVLTVariant::Division}) {
    TVLTVariant L = Int(5);
    (L.*Op)(TVLTVariant(bftDouble));
    EXPECT_TRUE(L.IsNull());
    TVLTVariant R(bftSignedInt32);
    (R.*Op)(Int(5));
    EXPECT_TRUE(R.IsNull());
  }
}

TEST(VariantArithmetic, Failures) {
  auto ExpectError = [](const std::function<void()>& F, int32_t Code, const char* Text) {
    try {
      F();
      ADD_FAILURE() << "no error";
    } catch (const EVLTException& E) {
      EXPECT_EQ(E.NativeError(), Code);
      EXPECT_EQ(TextOf(E), Text);
    }
  };
  ExpectError([] { TVLTVariant V = Int(1); V.Division(Int(0)); }, 30128,
              "Division error: Division by zero");
  ExpectError([] { TVLTVariant V = Dbl(1); V.Division(Dbl(0)); }, 30128,
              "Division error: Floating point division by zero");
  // A number against text computes in text, which has no division.
  ExpectError([] { TVLTVariant V = Int(1); V.Division(Str("2")); }, 30127,
              "Non-numeric argument in numeric operator '/'");
  ExpectError([] { TVLTVariant V = Str("a"); V.Sub(Str("b")); }, 30124,
              "Non-numeric argument in numeric operator '-'");
  ExpectError(
      [] {
        TVLTVariant V;
        V.SetData("ab", 2, true, bftBlob);
        V.Mul(Int(2));
      },
      30127, "Non-numeric argument in numeric operator '*'");
  ExpectError(
      [] {
        TVLTVariant V, W;
        V.SetAsBoolean(true);
        W.SetAsBoolean(false);
        V.Sub(W);
      },
      30124, "Non-numeric argument in numeric operator '-'");
  ExpectError([] { TVLTVariant V = Str("a"); V.InvertValue(); }, 30124,
              "Non-numeric argument in numeric operator '-'");
  TVLTVariant Int64Min;
  Int64Min.SetAsInt64(INT64_MIN);
  TVLTVariant MinusOne;
  MinusOne.SetAsInt64(-1);
  Int64Min.Division(MinusOne);  // wraps instead of trapping
  EXPECT_EQ(Int64Min.AsInt64(), INT64_MIN);
}

// ---- stream image ----

// A minimal in-memory stream for the image tests.
class TBytesStream : public TVLTStream {
 public:
  std::vector<uint8_t> Bytes;
  int64_t Pos = 0;
  int64_t Read(void* Buffer, int64_t Count) override {
    int64_t N = std::max<int64_t>(0, std::min<int64_t>(Count, static_cast<int64_t>(Bytes.size()) - Pos));
    if (N) std::memcpy(Buffer, Bytes.data() + Pos, static_cast<size_t>(N));
    Pos += N;
    return N;
  }
  int64_t Write(const void* Buffer, int64_t Count) override {
    if (Pos + Count > static_cast<int64_t>(Bytes.size())) Bytes.resize(static_cast<size_t>(Pos + Count));
    std::memcpy(Bytes.data() + Pos, Buffer, static_cast<size_t>(Count));
    Pos += Count;
    return Count;
  }
  int64_t Seek(int64_t Offset, TVLTSeekOrigin Origin) override {
    int64_t Base = Origin == soBeginning ? 0 : Origin == soCurrent ? Pos : static_cast<int64_t>(Bytes.size());
    if (Base + Offset < 0) return -1;
    return Pos = Base + Offset;
  }
  int64_t GetSize() override { return static_cast<int64_t>(Bytes.size()); }
  void SetSize(int64_t NewSize) override { Bytes.resize(static_cast<size_t>(NewSize)); }
};

TEST(VariantStream, ImageLayout) {
  std::vector<uint8_t> Out;
  Int(5).SaveToBytes(Out);
  EXPECT_EQ(Out, (std::vector<uint8_t>{7, 0, 4, 0, 0, 0, 5, 0, 0, 0}));
  Out.clear();
  TVLTVariant(bftVarchar).SaveToBytes(Out);
  EXPECT_EQ(Out, (std::vector<uint8_t>{3, 1}));
  Out.clear();
  Str("ab").SaveToBytes(Out);
  EXPECT_EQ(Out, (std::vector<uint8_t>{3, 0, 3, 0, 0, 0, 'a', 'b', 0}));
}

TEST(VariantStream, RoundTripEveryKind) {
  std::vector<TVLTVariant> Values;
  Values.push_back(Int(-5));
  Values.push_back(Str("hello"));
  TVLTVariant W;
  W.SetAsWideString(u"w\u20AC");
  Values.push_back(W);
  TVLTVariant E;
  E.SetAsExtended(1.0L / 3);
  Values.push_back(E);
  TVLTVariant DT;
  DT.SetAsVLTDateTime({738916, 5});
  Values.push_back(DT);
  Values.push_back(TVLTVariant(bftDate));
  TVLTVariant Blob;
  Blob.SetData("\0\1\2", 3, true, bftBlob);
  Values.push_back(Blob);

  std::vector<uint8_t> Bytes;
  TBytesStream S;
  for (const TVLTVariant& V : Values) {
    V.SaveToBytes(Bytes);
    V.SaveToStream(S);
  }
  EXPECT_EQ(S.Bytes, Bytes);
  S.Pos = 0;
  size_t Pos = 0;
  for (const TVLTVariant& V : Values) {
    TVLTVariant A, B;
    A.LoadFromBytes(Bytes.data(), Bytes.size(), Pos);
    B.LoadFromStream(S);
    for (const TVLTVariant* L : {&A, &B}) {
      EXPECT_EQ(L->DataType(), V.DataType());
      EXPECT_EQ(L->IsNull(), V.IsNull());
      EXPECT_EQ(L->DataSize(), V.IsNull() ? 0 : V.DataSize());
      if (!V.IsNull()) {
        EXPECT_EQ(std::memcmp(L->Data(), V.Data(), static_cast<size_t>(V.DataSize())), 0);
        EXPECT_EQ(L->Compare(V, true, false, false), vcrEqual);
      }
    }
  }
  EXPECT_EQ(Pos, Bytes.size());
}

TEST(VariantStream, DamagedImagesRaise) {
  struct TCase {
    std::vector<uint8_t> Bytes;
    int32_t Code;
  };
  const TCase Cases[] = {
      {{}, 10179},                                   // nothing at all
      {{7}, 10180},                                  // no null flag
      {{7, 0, 4, 0}, 10181},                         // size cut short
      {{7, 0, 4, 0, 0, 0, 5}, 10182},                // data cut short
      {{3, 0, 0xFF, 0xFF, 0xFF, 0x7F, 1}, 30142},    // absurd size
      {{7, 0, 2, 0, 0, 0, 5, 0}, 30142},             // wrong size for the type
      {{26, 1}, 30047},                              // no such type
  };
  for (const TCase& C : Cases) {
    TVLTVariant V;
    size_t Pos = 0;
    try {
      V.LoadFromBytes(C.Bytes.data(), C.Bytes.size(), Pos);
      ADD_FAILURE() << "no error for case with code " << C.Code;
    } catch (const EVLTException& E) {
      EXPECT_EQ(E.NativeError(), C.Code);
    }
    TBytesStream S;
    S.Bytes = C.Bytes;
    try {
      V.LoadFromStream(S);
      ADD_FAILURE() << "no error from the stream for code " << C.Code;
    } catch (const EVLTException& E) {
      EXPECT_EQ(E.NativeError(), C.Code);
    }
  }
}

}  // namespace
}  // namespace vlt
