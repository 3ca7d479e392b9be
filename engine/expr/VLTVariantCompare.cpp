// TVLTVariant: the common-type table and comparison.
#include <algorithm>
#include <cstring>

#include "engine/expr/VLTLocale.h"
#include "engine/expr/VLTVariant.h"
#include "engine/expr/VLTVariantInternal.h"

namespace vlt {

namespace {

// Short names for the table below.
constexpr TVLTBaseFieldType No = bftUnknown, Ch = bftChar, WC = bftWideChar, VC = bftVarchar,
                            WV = bftWideVarchar, I8 = bftSignedInt8, I16 = bftSignedInt16,
                            I32 = bftSignedInt32, I64 = bftSignedInt64, U8 = bftUnsignedInt8,
                            U16 = bftUnsignedInt16, U32 = bftUnsignedInt32, Sg = bftSingle,
                            Db = bftDouble, Ex = bftExtended, Dt = bftDate, Tm = bftTime,
                            DT = bftDateTime, Lg = bftLogical, Cu = bftCurrency;
// (Blob, Clob and WideClob never appear as a result; their rows and columns are Bl, Cl, WL.)

// Common type for comparisons: row = left type, column = right type, both bftChar (1) to
// bftCurrency (22) in ordinal order; No = incompatible. Not symmetric: the left row applies.
// clang-format off
constexpr TVLTBaseFieldType kCommonType[22][22] = {
    //         Ch  WC  VC  WV  I8  I16 I32 I64 U8  U16 U32 Sg  Db  Ex  Dt  Tm  DT  Bl  Cl  WL  Lg  Cu
    /* Ch  */ {Ch, WC, VC, WV, Ch, Ch, Ch, Ch, Ch, Ch, Ch, Ch, Ch, Ch, Dt, Tm, DT, No, Ch, WC, Ch, Ch},
    /* WC  */ {WC, WC, WC, WV, WC, WC, WC, WC, WC, WC, WC, WC, WC, WC, Dt, Tm, DT, No, WC, WC, WC, WC},
    /* VC  */ {VC, WC, VC, WV, VC, VC, VC, VC, VC, VC, VC, VC, VC, VC, Dt, Tm, DT, No, VC, WV, VC, VC},
    /* WV  */ {WV, WV, WV, WV, WV, WV, WV, WV, WV, WV, WV, WV, WV, WV, Dt, Tm, DT, No, WV, WV, WV, WV},
    /* I8  */ {Ch, WC, VC, WV, I8, I16, I32, I64, I16, U16, U32, Sg, Db, Ex, Dt, Tm, DT, No, No, No, I8, Cu},
    /* I16 */ {Ch, WC, VC, WV, I16, I16, I32, I64, I16, U16, U32, Sg, Db, Ex, Dt, Tm, DT, No, No, No, I16, Cu},
    /* I32 */ {Ch, WC, VC, WV, I32, I32, I32, I64, I32, I32, I64, Sg, Db, Ex, Dt, Tm, DT, No, No, No, I32, Cu},
    /* I64 */ {Ch, WC, VC, WV, I64, I64, I64, I64, I64, I64, I64, Sg, Db, Ex, Dt, Tm, DT, No, No, No, I64, Cu},
    /* U8  */ {Ch, WC, VC, WV, I16, I16, I32, I64, U8, U16, U32, Sg, Db, Ex, Dt, Tm, DT, No, No, No, U8, Cu},
    /* U16 */ {Ch, WC, VC, WV, I32, I32, I32, I64, U16, U16, U32, Sg, Db, Ex, Dt, Tm, DT, No, No, No, U16, Cu},
    /* U32 */ {Ch, WC, VC, WV, I64, I64, I64, I64, U32, U32, U32, Sg, Db, Ex, Dt, Tm, DT, No, No, No, U32, Cu},
    /* Sg  */ {Ch, WC, VC, WV, Sg, Sg, Sg, Sg, Sg, Sg, Sg, Sg, Db, Ex, Dt, Tm, DT, No, No, No, Sg, Cu},
    /* Db  */ {Ch, WC, VC, WV, Db, Db, Db, Db, Db, Db, Db, Db, Db, Ex, Dt, Tm, DT, No, No, No, Db, Cu},
    /* Ex  */ {Ch, WC, VC, WV, Ex, Ex, Ex, Ex, Ex, Ex, Ex, Ex, Ex, Ex, Dt, Tm, DT, No, No, No, Ex, Cu},
    /* Dt  */ {Dt, Dt, Dt, Dt, Dt, Dt, Dt, Dt, Dt, Dt, Dt, Dt, Dt, Dt, Dt, DT, DT, No, No, No, No, No},
    /* Tm  */ {Tm, Tm, Tm, Tm, Tm, Tm, Tm, Tm, Tm, Tm, Tm, Tm, Tm, Tm, DT, Tm, DT, No, No, No, No, No},
    /* DT  */ {DT, DT, DT, DT, DT, DT, DT, DT, DT, DT, DT, DT, DT, DT, DT, DT, DT, No, No, No, No, No},
    /* Bl  */ {No, No, No, No, No, No, No, No, No, No, No, No, No, No, No, No, No, No, No, No, No, No},
    /* Cl  */ {Ch, WC, VC, WV, No, No, No, No, No, No, No, No, No, No, No, No, No, No, Ch, WC, No, No},
    /* WL  */ {WC, WC, WV, WV, No, No, No, No, No, No, No, No, No, No, No, No, No, No, WC, WC, No, No},
    /* Lg  */ {Ch, WC, VC, WV, I8, I16, I32, I64, U8, U16, U32, Sg, Db, Ex, No, No, No, No, No, No, Lg, No},
    /* Cu  */ {Ch, WC, VC, WV, Cu, Cu, Cu, Cu, Cu, Cu, Cu, Sg, Db, Ex, No, No, No, No, No, No, No, Cu},
};
// clang-format on

}  // namespace

TVLTBaseFieldType VLTCommonType(TVLTBaseFieldType Left, TVLTBaseFieldType Right,
                                bool ForArithmetic) {
  if (Left < bftChar || Left > bftCurrency || Right < bftChar || Right > bftCurrency)
    return bftUnknown;
  if (ForArithmetic) {
    // Arithmetic, concatenation and LIKE treat a date or time against text as text.
    if (IsDateTimeBaseType(Left) && IsStringBaseType(Right)) return Right;
    if (IsStringBaseType(Left) && IsDateTimeBaseType(Right)) return Left;
  }
  return kCommonType[Left - 1][Right - 1];
}

namespace {

int Sign3(int64_t A, int64_t B) { return A < B ? -1 : A > B ? 1 : 0; }
int Sign3F(long double A, long double B) { return A < B ? -1 : A > B ? 1 : 0; }

// Text of a string-like value as raw 8-bit bytes or UTF-16 units, without copying.
struct TTextRef {
  const void* Data = nullptr;
  size_t Length = 0;
  bool Wide = false;
};

TTextRef TextOf(const TVLTVariant& V) {
  TTextRef R;
  TVLTBaseFieldType T = V.DataType();
  if (IsWideStringBaseType(T) || T == bftWideClob) {
    R.Data = V.WideUnits(R.Length);
    R.Wide = true;
  } else {
    std::string_view S = V.AnsiView();
    R.Data = S.data();
    R.Length = S.size();
  }
  return R;
}

int CompareTexts(TTextRef A, const TTextRef& B, bool CaseInsensitive, bool PartialKey) {
  // Partial key: self is compared over the length of Value only ("Smithson" equals "Smith").
  if (PartialKey && A.Length > B.Length) A.Length = B.Length;
  return TVLTLocale::Instance().CompareRaw(A.Data, A.Length, A.Wide, B.Data, B.Length, B.Wide,
                                           CaseInsensitive);
}

int CompareBytes(const TVLTVariant& A, const TVLTVariant& B) {
  size_t N = static_cast<size_t>(std::min(A.DataSize(), B.DataSize()));
  int R = N ? std::memcmp(A.Data(), B.Data(), N) : 0;
  if (R != 0) return R < 0 ? -1 : 1;
  return Sign3(A.DataSize(), B.DataSize());
}

// Both values non-null and of the same type Type.
int CompareSameType(const TVLTVariant& A, const TVLTVariant& B, TVLTBaseFieldType Type,
                    bool CaseInsensitive, bool PartialKey) {
  switch (Type) {
    case bftChar:
    case bftVarchar:
    case bftWideChar:
    case bftWideVarchar:
    case bftClob:
    case bftWideClob:
      return CompareTexts(TextOf(A), TextOf(B), CaseInsensitive, PartialKey);
    case bftBytes: {
      // Fixed-size byte fields compare as 8-bit text over their whole slot.
      return TVLTLocale::Instance().CompareRaw(A.Data(), static_cast<size_t>(A.DataSize()), false,
                                               B.Data(), static_cast<size_t>(B.DataSize()), false,
                                               CaseInsensitive);
    }
    case bftSignedInt8:
    case bftSignedInt16:
    case bftSignedInt32:
    case bftSignedInt64:
    case bftUnsignedInt8:
    case bftUnsignedInt16:
    case bftUnsignedInt32:
    case bftDate:
    case bftTime:
    case bftLogical:  // false (0) before true (1)
      return Sign3(ReadNumber(Type, A.Data()).I, ReadNumber(Type, B.Data()).I);
    case bftSingle:
    case bftDouble:
    case bftExtended:
    case bftCurrency:
      return Sign3F(ReadNumber(Type, A.Data()).F, ReadNumber(Type, B.Data()).F);
    case bftDateTime: {
      int R = Sign3(LoadLE<int32_t>(A.Data()), LoadLE<int32_t>(B.Data()));
      return R != 0 ? R : Sign3(LoadLE<int32_t>(A.Data() + 4), LoadLE<int32_t>(B.Data() + 4));
    }
    case bftBlob:
    case bftVarBytes:
    case bftBFile:
      return CompareBytes(A, B);
    default:
      throw EVLTException(kErrIncompatibleCompare,
                          "Cannot compare Incompatible DataTypes: '%s' and '%s'",
                          {std::string(BaseFieldTypeName(Type)), std::string(BaseFieldTypeName(Type))});
  }
}

// An integer as the integer type T holds it (wrapping to T's width, as a cast does).
int64_t WrapTo(int64_t V, TVLTBaseFieldType T) {
  switch (T) {
    case bftSignedInt8: return static_cast<int8_t>(V);
    case bftSignedInt16: return static_cast<int16_t>(V);
    case bftSignedInt32: return static_cast<int32_t>(V);
    case bftUnsignedInt8: return static_cast<uint8_t>(V);
    case bftUnsignedInt16: return static_cast<uint16_t>(V);
    case bftUnsignedInt32: return static_cast<uint32_t>(V);
    default: return V;
  }
}

// A number as the float type T holds it.
long double RoundTo(long double V, TVLTBaseFieldType T) {
  switch (T) {
    case bftSingle: return static_cast<float>(V);
    case bftDouble:
    case bftCurrency: return static_cast<double>(V);
    default: return V;
  }
}

// Two numbers of different types compared in their common type Common. An integer common type
// means both are integers or logical values (a float on either side gives a float type).
int CompareNumbers(const TNumber& A, const TNumber& B, TVLTBaseFieldType Common) {
  if (Common == bftLogical) return Sign3(A.I != 0, B.I != 0);
  if (IsIntegerBaseType(Common)) return Sign3(WrapTo(A.I, Common), WrapTo(B.I, Common));
  return Sign3F(RoundTo(A.AsFloat(), Common), RoundTo(B.AsFloat(), Common));
}

TVLTCompareResult ToResult(int Sign) {
  switch (Sign) {
    case -1: return vcrLess;
    case 0: return vcrEqual;
    case 1: return vcrGreater;
    default:
      throw EVLTException(kErrUnknownReturnCode, "Unknown return code: %d", {int64_t{Sign}});
  }
}

bool IsTextLike(TVLTBaseFieldType T) { return IsStringBaseType(T); }

}  // namespace

TVLTCompareResult TVLTVariant::Compare(const TVLTVariant& Value, bool TrueFalseNullLogic,
                                       bool CaseInsensitive, bool PartialKey) const {
  // An empty string is null throughout the engine.
  bool SelfNull = IsNullOrEmpty(), ValueNull = Value.IsNullOrEmpty();
  if (SelfNull || ValueNull) {
    if (SelfNull && ValueNull) return TrueFalseNullLogic ? vcrBothNull : vcrEqual;
    if (SelfNull) return TrueFalseNullLogic ? vcrSelfNull : vcrLess;
    return TrueFalseNullLogic ? vcrValueNull : vcrGreater;
  }

  const TVLTBaseFieldType L = FDataType, R = Value.FDataType;
  if (L == R && L != bftClob && L != bftWideClob)
    return ToResult(CompareSameType(*this, Value, L, CaseInsensitive, PartialKey));

  TVLTBaseFieldType Common = VLTCommonType(L, R, false);
  if (Common == bftUnknown)
    throw EVLTException(kErrIncompatibleCompare,
                        "Cannot compare Incompatible DataTypes: '%s' and '%s'",
                        {std::string(BaseFieldTypeName(L)), std::string(BaseFieldTypeName(R))});

  // Numbers (and logical values) of different types: convert in registers, exactly as Cast
  // would, without building converted values.
  if ((IsNumericBaseType(L) || L == bftLogical) && (IsNumericBaseType(R) || R == bftLogical) &&
      (IsNumericBaseType(Common) || Common == bftLogical))
    return ToResult(CompareNumbers(ReadNumber(L, FPData), ReadNumber(R, Value.FPData), Common));

  // Text against text (8-bit, wide, Clob) compares the texts themselves: converting 8-bit text
  // to wide text changes no character, so no copy is needed.
  if (IsTextLike(Common) && (IsTextLike(L) || L == bftClob || L == bftWideClob) &&
      (IsTextLike(R) || R == bftClob || R == bftWideClob))
    return ToResult(CompareTexts(TextOf(*this), TextOf(Value), CaseInsensitive, PartialKey));

  // Bring both sides to the common type. Numbers and dates convert into the values' inline
  // storage, so this allocates nothing.
  TVLTVariant A, B;
  A.Assign(*this, false);
  B.Assign(Value, false);
  A.Cast(Common);
  B.Cast(Common);
  if (A.IsNullOrEmpty() || B.IsNullOrEmpty()) {  // e.g. midnight converted to text
    bool AN = A.IsNullOrEmpty(), BN = B.IsNullOrEmpty();
    if (AN && BN) return TrueFalseNullLogic ? vcrBothNull : vcrEqual;
    if (AN) return TrueFalseNullLogic ? vcrSelfNull : vcrLess;
    return TrueFalseNullLogic ? vcrValueNull : vcrGreater;
  }
  return ToResult(CompareSameType(A, B, Common, CaseInsensitive, PartialKey));
}

}  // namespace vlt
