#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <map>
#include <new>
#include <sstream>
#include <string>

#include "engine/expr/VLTVariant.h"

// Counts heap allocations so that a test can show that a comparison allocates nothing. The
// replacement pair is malloc/free on both sides; GCC cannot see that through inlining.
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
namespace {
std::atomic<long> GAllocations{0};
}
void* operator new(std::size_t Size) {
  ++GAllocations;
  if (void* P = std::malloc(Size ? Size : 1)) return P;
  throw std::bad_alloc();
}
void operator delete(void* P) noexcept { std::free(P); }
void operator delete(void* P, std::size_t) noexcept { std::free(P); }

namespace vlt {
namespace {

// ---- common-type table ----

const std::map<std::string, TVLTBaseFieldType>& Abbreviations() {
  static const std::map<std::string, TVLTBaseFieldType> M = {
      {"Ch", bftChar},          {"WC", bftWideChar},       {"VC", bftVarchar},
      {"WV", bftWideVarchar},   {"I8", bftSignedInt8},     {"I16", bftSignedInt16},
      {"I32", bftSignedInt32},  {"I64", bftSignedInt64},   {"U8", bftUnsignedInt8},
      {"U16", bftUnsignedInt16}, {"U32", bftUnsignedInt32}, {"Sg", bftSingle},
      {"Db", bftDouble},        {"Ex", bftExtended},       {"Dt", bftDate},
      {"Tm", bftTime},          {"DT", bftDateTime},       {"Bl", bftBlob},
      {"Cl", bftClob},          {"WL", bftWideClob},       {"Lg", bftLogical},
      {"Cu", bftCurrency},      {"-", bftUnknown}};
  return M;
}

// Row type, then the common type with each column type in the order of the rows.
const char* const kComparisonRows[] = {
      "Ch  Ch  WC  VC  WV  Ch  Ch  Ch  Ch  Ch  Ch  Ch  Ch  Ch  Ch  Dt  Tm  DT  -   Ch  WC  Ch  Ch",
      "WC  WC  WC  WC  WV  WC  WC  WC  WC  WC  WC  WC  WC  WC  WC  Dt  Tm  DT  -   WC  WC  WC  WC",
      "VC  VC  WC  VC  WV  VC  VC  VC  VC  VC  VC  VC  VC  VC  VC  Dt  Tm  DT  -   VC  WV  VC  VC",
      "WV  WV  WV  WV  WV  WV  WV  WV  WV  WV  WV  WV  WV  WV  WV  Dt  Tm  DT  -   WV  WV  WV  WV",
      "I8  Ch  WC  VC  WV  I8  I16 I32 I64 I16 U16 U32 Sg  Db  Ex  Dt  Tm  DT  -   -   -   I8  Cu",
      "I16 Ch  WC  VC  WV  I16 I16 I32 I64 I16 U16 U32 Sg  Db  Ex  Dt  Tm  DT  -   -   -   I16 Cu",
      "I32 Ch  WC  VC  WV  I32 I32 I32 I64 I32 I32 I64 Sg  Db  Ex  Dt  Tm  DT  -   -   -   I32 Cu",
      "I64 Ch  WC  VC  WV  I64 I64 I64 I64 I64 I64 I64 Sg  Db  Ex  Dt  Tm  DT  -   -   -   I64 Cu",
      "U8  Ch  WC  VC  WV  I16 I16 I32 I64 U8  U16 U32 Sg  Db  Ex  Dt  Tm  DT  -   -   -   U8  Cu",
      "U16 Ch  WC  VC  WV  I32 I32 I32 I64 U16 U16 U32 Sg  Db  Ex  Dt  Tm  DT  -   -   -   U16 Cu",
      "U32 Ch  WC  VC  WV  I64 I64 I64 I64 U32 U32 U32 Sg  Db  Ex  Dt  Tm  DT  -   -   -   U32 Cu",
      "Sg  Ch  WC  VC  WV  Sg  Sg  Sg  Sg  Sg  Sg  Sg  Sg  Db  Ex  Dt  Tm  DT  -   -   -   Sg  Cu",
      "Db  Ch  WC  VC  WV  Db  Db  Db  Db  Db  Db  Db  Db  Db  Ex  Dt  Tm  DT  -   -   -   Db  Cu",
      "Ex  Ch  WC  VC  WV  Ex  Ex  Ex  Ex  Ex  Ex  Ex  Ex  Ex  Ex  Dt  Tm  DT  -   -   -   Ex  Cu",
      "Dt  Dt  Dt  Dt  Dt  Dt  Dt  Dt  Dt  Dt  Dt  Dt  Dt  Dt  Dt  Dt  DT  DT  -   -   -   -   -",
      "Tm  Tm  Tm  Tm  Tm  Tm  Tm  Tm  Tm  Tm  Tm  Tm  Tm  Tm  Tm  DT  Tm  DT  -   -   -   -   -",
      "DT  DT  DT  DT  DT  DT  DT  DT  DT  DT  DT  DT  DT  DT  DT  DT  DT  DT  -   -   -   -   -",
      "Bl  -   -   -   -   -   -   -   -   -   -   -   -   -   -   -   -   -   -   -   -   -   -",
      "Cl  Ch  WC  VC  WV  -   -   -   -   -   -   -   -   -   -   -   -   -   -   Ch  WC  -   -",
      "WL  WC  WC  WV  WV  -   -   -   -   -   -   -   -   -   -   -   -   -   -   WC  WC  -   -",
      "Lg  Ch  WC  VC  WV  I8  I16 I32 I64 U8  U16 U32 Sg  Db  Ex  -   -   -   -   -   -   Lg  -",
      "Cu  Ch  WC  VC  WV  Cu  Cu  Cu  Cu  Cu  Cu  Cu  Sg  Db  Ex  -   -   -   -   -   -   -   Cu",
};

TEST(CommonType, ComparisonTable) {
  const char* const kColumns[] = {"Ch", "WC", "VC", "WV", "I8", "I16", "I32", "I64",
                                  "U8", "U16", "U32", "Sg", "Db", "Ex", "Dt", "Tm",
                                  "DT", "Bl", "Cl", "WL", "Lg", "Cu"};
  for (const char* Row : kComparisonRows) {
    std::istringstream In(Row);
    std::string Left;
    In >> Left;
    for (const char* Column : kColumns) {
      std::string Expected;
      ASSERT_TRUE(In >> Expected) << Row;
      EXPECT_EQ(VLTCommonType(Abbreviations().at(Left), Abbreviations().at(Column), false),
                Abbreviations().at(Expected))
          << Left << " with " << Column;
      // The arithmetic variant differs only for dates and times against text.
      TVLTBaseFieldType L = Abbreviations().at(Left), R = Abbreviations().at(Column);
      TVLTBaseFieldType Arith = VLTCommonType(L, R, true);
      if (IsDateTimeBaseType(L) && IsStringBaseType(R))
        EXPECT_EQ(Arith, R) << Left << " + " << Column;
      else if (IsStringBaseType(L) && IsDateTimeBaseType(R))
        EXPECT_EQ(Arith, L) << Left << " + " << Column;
      else
        EXPECT_EQ(Arith, Abbreviations().at(Expected)) << Left << " + " << Column;
    }
  }
}

TEST(CommonType, TypesOutsideTheTableAreIncompatible) {
  for (TVLTBaseFieldType Odd : {bftUnknown, bftBytes, bftVarBytes, bftBFile})
    for (int T = 0; T < kBaseFieldTypeCount; ++T) {
      EXPECT_EQ(VLTCommonType(Odd, static_cast<TVLTBaseFieldType>(T), false), bftUnknown);
      EXPECT_EQ(VLTCommonType(static_cast<TVLTBaseFieldType>(T), Odd, true), bftUnknown);
    }
}

// ---- Compare ----

TVLTVariant Null(TVLTBaseFieldType T) { return TVLTVariant(T); }
TVLTVariant Int(int32_t V) {
  TVLTVariant R;
  R.SetAsInteger(V);
  return R;
}
TVLTVariant Typed(TVLTBaseFieldType T, int64_t V) {
  TVLTVariant R(T);
  R.SetAsInt64(V);
  return R;
}
TVLTVariant Dbl(double V) {
  TVLTVariant R;
  R.SetAsDouble(V);
  return R;
}
TVLTVariant Str(const char* S, TVLTBaseFieldType T = bftVarchar) {
  TVLTVariant R(T);
  R.SetAsAnsiString(S);
  return R;
}
TVLTVariant Wide(const char16_t* S) {
  TVLTVariant R;
  R.SetAsWideString(S);
  return R;
}
TVLTVariant Bool(bool B) {
  TVLTVariant R;
  R.SetAsBoolean(B);
  return R;
}
TVLTVariant DateTime(int32_t D, int32_t Ms) {
  TVLTVariant R;
  R.SetAsVLTDateTime({D, Ms});
  return R;
}
TVLTVariant Date(int32_t D) {
  TVLTVariant R;
  R.SetAsVLTDate(D);
  return R;
}

struct TCompareCase {
  const char* Name;
  TVLTVariant Self, Value;
  bool ThreeValued, CaseInsensitive, PartialKey;
  TVLTCompareResult Expected;
};

class VariantCompare : public ::testing::TestWithParam<TCompareCase> {};

TEST_P(VariantCompare, Result) {
  const TCompareCase& C = GetParam();
  EXPECT_EQ(C.Self.Compare(C.Value, C.ThreeValued, C.CaseInsensitive, C.PartialKey), C.Expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, VariantCompare,
    ::testing::Values(
        TCompareCase{"AnsiAgainstWideIgnoringCase", Str("abc"), Wide(u"ABC"), true, true, false,
                     vcrEqual},
        TCompareCase{"AnsiAgainstWideRespectingCase", Str("abc"), Wide(u"ABC"), true, false,
                     false, vcrLess},
        TCompareCase{"PartialKeyOverValueLength", Str("abcdef"), Str("abc"), true, false, true,
                     vcrEqual},
        TCompareCase{"PartialKeySmithson", Str("Smithson"), Str("Smith"), true, false, true,
                     vcrEqual},
        TCompareCase{"WithoutPartialKeyLonger", Str("abcdef"), Str("abc"), true, false, false,
                     vcrGreater},
        TCompareCase{"PartialKeyShorterSelf", Str("ab"), Str("abc"), true, false, true, vcrLess},
        TCompareCase{"LocaleOrderNotByteOrder", Str("a"), Str("B"), true, false, false, vcrLess},
        TCompareCase{"HyphenCounts", Str("co-op"), Str("coop"), true, true, false, vcrLess},
        TCompareCase{"AccentsCountWithoutCase", Str("\xE9"), Wide(u"\u00C9"), true, true, false,
                     vcrEqual},
        TCompareCase{"AccentDiffers", Str("e"), Str("\xE9"), true, true, false, vcrLess},
        TCompareCase{"CharAgainstVarchar", Str("x", bftChar), Str("x"), true, false, false,
                     vcrEqual},
        TCompareCase{"ClobAgainstClob", Str("b", bftClob), Str("a", bftClob), true, false, false,
                     vcrGreater},
        TCompareCase{"BothNullThreeValued", Null(bftSignedInt32), Null(bftVarchar), true, false,
                     false, vcrBothNull},
        TCompareCase{"BothNullTwoValued", Null(bftSignedInt32), Null(bftVarchar), false, false,
                     false, vcrEqual},
        TCompareCase{"NullAgainstFiveThreeValued", Null(bftSignedInt32), Int(5), true, false,
                     false, vcrSelfNull},
        TCompareCase{"NullAgainstFiveTwoValued", Null(bftSignedInt32), Int(5), false, false, false,
                     vcrLess},
        TCompareCase{"FiveAgainstNullThreeValued", Int(5), Null(bftSignedInt32), true, false,
                     false, vcrValueNull},
        TCompareCase{"FiveAgainstNullTwoValued", Int(5), Null(bftSignedInt32), false, false,
                     false, vcrGreater},
        TCompareCase{"EmptyStringIsNull", Str("", bftVarchar), Null(bftVarchar), true, false,
                     false, vcrBothNull},
        TCompareCase{"IntegerAgainstDouble", Int(4), Dbl(4.5), true, false, false, vcrLess},
        TCompareCase{"IntegerEqualsDouble", Int(5), Dbl(5.0), true, false, false, vcrEqual},
        TCompareCase{"Int64Wide", Typed(bftSignedInt64, INT64_MAX), Int(-1), true, false, false,
                     vcrGreater},
        TCompareCase{"Cardinal", Typed(bftUnsignedInt32, 4000000000), Int(5), true, false, false,
                     vcrGreater},
        // Asymmetric table: I16 with U16 compares as U16 (-1 becomes 65535), U16 with I16 as I32.
        TCompareCase{"SmallintRowWord", Typed(bftSignedInt16, -1), Typed(bftUnsignedInt16, 65535),
                     true, false, false, vcrEqual},
        TCompareCase{"WordRowSmallint", Typed(bftUnsignedInt16, 65535), Typed(bftSignedInt16, -1),
                     true, false, false, vcrGreater},
        TCompareCase{"NumberAgainstText", Int(10), Str("9"), true, false, false, vcrLess},
        TCompareCase{"DateAgainstText", Date(738916), Str("2024-01-31"), true, false, false,
                     vcrEqual},
        TCompareCase{"DateAgainstDateTime", Date(738916), DateTime(738916, 1), true, false, false,
                     vcrLess},
        TCompareCase{"DateTimeByDayThenTime", DateTime(5, 100), DateTime(5, 99), true, false,
                     false, vcrGreater},
        TCompareCase{"FalseBeforeTrue", Bool(false), Bool(true), true, false, false, vcrLess},
        TCompareCase{"LogicalAgainstInteger", Bool(true), Int(1), true, false, false, vcrEqual}),
    [](const auto& Info) { return std::string(Info.param.Name); });

TEST(VariantCompare, IncompatibleTypesRaise) {
  TVLTVariant Blob;
  Blob.SetData("ab", 2, true, bftBlob);
  try {
    Blob.Compare(Int(1), true, false, false);
    FAIL();
  } catch (const EVLTException& E) {
    EXPECT_EQ(E.NativeError(), 30044);
    EXPECT_EQ(E.Message(),
              "Cannot compare Incompatible DataTypes: 'bftBlob' and 'bftSignedInt32' - Native "
              "error: 30044");
  }
  EXPECT_THROW(Date(1).Compare(Bool(true), true, false, false), EVLTException);
}

TEST(VariantCompare, MixedNumbersCompareAsTheirCastsDo) {
  // Comparing numbers of different types must agree with casting both to the common type.
  const TVLTBaseFieldType Types[] = {bftSignedInt8,    bftSignedInt16,   bftSignedInt32,
                                     bftSignedInt64,   bftUnsignedInt8,  bftUnsignedInt16,
                                     bftUnsignedInt32, bftSingle,        bftDouble,
                                     bftExtended,      bftCurrency,      bftLogical};
  const double Values[] = {-70000.5, -129, -1, 0, 0.1, 1, 127.9, 255, 65535, 16777217, 3e9};
  for (TVLTBaseFieldType LT : Types)
    for (TVLTBaseFieldType RT : Types) {
      if (LT == RT) continue;
      TVLTBaseFieldType Common = VLTCommonType(LT, RT, false);
      if (Common == bftUnknown) continue;
      for (double LV : Values)
        for (double RV : Values) {
          TVLTVariant L(LT), R(RT);
          L.SetAsExtended(LV);
          R.SetAsExtended(RV);
          TVLTVariant LC = L, RC = R;
          LC.Cast(Common);
          RC.Cast(Common);
          EXPECT_EQ(L.Compare(R, true, false, false), LC.Compare(RC, true, false, false))
              << BaseFieldTypeName(LT) << " " << LV << " vs " << BaseFieldTypeName(RT) << " "
              << RV;
        }
    }
}

TEST(VariantCompare, NumbersAndShortStringsAllocateNothing) {
  TVLTVariant A = Int(7), B = Dbl(7.5), C = Typed(bftSignedInt64, 9), D = Typed(bftUnsignedInt8, 3);
  TVLTVariant S1 = Str("Smithson"), S2 = Str("smith"), W = Wide(u"SMITH");
  TVLTVariant D1 = Date(700000), T1 = DateTime(700000, 5);
  // Borrowed bytes of a packed record slot, wide text at an odd address.
  alignas(8) uint8_t Record[16] = {0, 'S', 0, 'M', 0, 'I', 0, 'T', 0, 'H', 0, 0, 0};
  TVLTVariant Slot;
  Slot.SetData(Record + 1, 12, false, bftWideVarchar);
  (void)S1.Compare(S2, true, true, false);  // the collators are created once, on first use
  long Before = GAllocations.load();
  int Sum = 0;
  Sum += A.Compare(B, true, false, false);
  Sum += C.Compare(A, true, false, false);
  Sum += D.Compare(B, true, false, false);
  Sum += B.Compare(C, false, false, false);
  Sum += D1.Compare(T1, true, false, false);
  Sum += S1.Compare(S2, true, true, true);
  Sum += S1.Compare(W, true, true, false);
  Sum += W.Compare(Slot, true, false, false);
  EXPECT_EQ(GAllocations.load() - Before, 0);
  EXPECT_EQ(Sum, 1 + 2 + 1 + 1 + 1 + 0 + 2 + 0);
}

}  // namespace
}  // namespace vlt
