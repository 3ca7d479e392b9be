// TVLTVariant: arithmetic. Both operands are brought to their common type (the arithmetic
// variant of the table) and the result keeps that type: integers wrap around in their width and
// divide truncating, floats and currency compute in extended precision, dates and times on their
// day numbers and milliseconds; "+" concatenates text; "+" and "/" on logical values are "or".
#include <cmath>
#include <cstring>
#include <string>

#include "engine/expr/VLTLocale.h"
#include "engine/expr/VLTVariant.h"
#include "engine/expr/VLTVariantInternal.h"

namespace vlt {

namespace {

[[noreturn]] void RaiseNonNumeric(int32_t Code, char Op) {
  throw EVLTException(Code, "Non-numeric argument in numeric operator '%s'",
                      {std::string(1, Op)});
}

[[noreturn]] void RaiseDivision(std::string_view Text) {
  throw EVLTException(kErrDivision, "Division error: %s", {std::string(Text)});
}

int64_t FloorDiv(int64_t A, int64_t B) {
  int64_t Q = A / B;
  if ((A % B != 0) && ((A < 0) != (B < 0))) --Q;
  return Q;
}

int32_t DayTime(int64_t Ms) {
  return static_cast<int32_t>(((Ms % kMSecsPerDay) + kMSecsPerDay) % kMSecsPerDay);
}

int64_t IntegerOp(int64_t A, int64_t B, char Op) {
  auto UA = static_cast<uint64_t>(A), UB = static_cast<uint64_t>(B);
  switch (Op) {
    case '+': return static_cast<int64_t>(UA + UB);
    case '-': return static_cast<int64_t>(UA - UB);
    case '*': return static_cast<int64_t>(UA * UB);
    default:
      if (B == 0) RaiseDivision("Division by zero");
      if (A == INT64_MIN && B == -1) return A;  // wraps around
      return A / B;
  }
}

long double FloatOp(long double A, long double B, char Op) {
  switch (Op) {
    case '+': return A + B;
    case '-': return A - B;
    case '*': return A * B;
    default:
      if (B == 0) RaiseDivision(A == 0 ? "Invalid floating point operation"
                                       : "Floating point division by zero");
      return A / B;
  }
}

}  // namespace

void TVLTVariant::Add(const TVLTVariant& Value) {
  Arithmetic(Value, '+', kErrNonNumericAddSub);
}
void TVLTVariant::Sub(const TVLTVariant& Value) {
  Arithmetic(Value, '-', kErrNonNumericAddSub);
}
void TVLTVariant::Mul(const TVLTVariant& Value) {
  Arithmetic(Value, '*', kErrNonNumericMulDiv);
}
void TVLTVariant::Division(const TVLTVariant& Value) {
  try {
    Arithmetic(Value, '/', kErrNonNumericMulDiv);
  } catch (const EVLTConvertError& E) {
    RaiseDivision(E.Text());
  }
}

void TVLTVariant::Arithmetic(const TVLTVariant& Value, char Op, int32_t NonNumericCode) {
  const bool SelfNull = IsNullOrEmpty(), ValueNull = Value.IsNullOrEmpty();
  if (Op == '+') {
    if (ValueNull) {  // text stays as it is, anything else becomes unknown
      if (!IsStringBaseType(FDataType)) SetNull();
      return;
    }
    if (SelfNull) {
      if (IsStringBaseType(FDataType))
        Assign(Value, true);
      else
        SetNull();
      return;
    }
  } else if (SelfNull || ValueNull) {
    SetNull();
    return;
  }

  const TVLTBaseFieldType Common = VLTCommonType(FDataType, Value.FDataType, true);
  if (Common == bftUnknown) RaiseNonNumeric(NonNumericCode, Op);
  TVLTVariant B;
  B.Assign(Value, false);
  B.Cast(Common);
  Cast(Common);

  if (IsStringBaseType(Common)) {
    if (Op != '+') RaiseNonNumeric(NonNumericCode, Op);
    if (IsWideStringBaseType(Common))
      StoreWide(AsWideString() + B.AsWideString(), Common);
    else
      StoreString(std::string(AnsiView()) + std::string(B.AnsiView()), Common);
    return;
  }
  if (IsNull() || B.IsNull()) {  // cannot happen for numbers; keep the null rule anyway
    SetNull();
    return;
  }

  switch (Common) {
    case bftSignedInt8:
    case bftSignedInt16:
    case bftSignedInt32:
    case bftSignedInt64:
    case bftUnsignedInt8:
    case bftUnsignedInt16:
    case bftUnsignedInt32: {
      int64_t R = IntegerOp(ReadNumber(Common, FPData).I, ReadNumber(Common, B.FPData).I, Op);
      switch (Common) {
        case bftSignedInt8: StoreScalar<int8_t>(Common, static_cast<int8_t>(R)); break;
        case bftSignedInt16: StoreScalar<int16_t>(Common, static_cast<int16_t>(R)); break;
        case bftSignedInt32: StoreScalar<int32_t>(Common, static_cast<int32_t>(R)); break;
        case bftSignedInt64: StoreScalar<int64_t>(Common, R); break;
        case bftUnsignedInt8: StoreScalar<uint8_t>(Common, static_cast<uint8_t>(R)); break;
        case bftUnsignedInt16: StoreScalar<uint16_t>(Common, static_cast<uint16_t>(R)); break;
        default: StoreScalar<uint32_t>(Common, static_cast<uint32_t>(R)); break;
      }
      return;
    }
    case bftSingle:
    case bftDouble:
    case bftExtended:
    case bftCurrency: {
      long double R = FloatOp(ReadNumber(Common, FPData).F, ReadNumber(Common, B.FPData).F, Op);
      if (Common == bftSingle)
        StoreScalar<float>(Common, static_cast<float>(R));
      else if (Common == bftExtended)
        StoreScalar<long double>(Common, R);
      else
        StoreScalar<double>(Common, static_cast<double>(R));
      return;
    }
    case bftDate: {
      int64_t R = IntegerOp(LoadLE<int32_t>(FPData), LoadLE<int32_t>(B.FPData), Op);
      StoreScalar<int32_t>(Common, static_cast<int32_t>(R));
      return;
    }
    case bftTime: {
      int64_t R = IntegerOp(LoadLE<int32_t>(FPData), LoadLE<int32_t>(B.FPData), Op);
      StoreScalar<int32_t>(Common, DayTime(R));
      return;
    }
    case bftDateTime: {
      if (Op != '+' && Op != '-') RaiseNonNumeric(NonNumericCode, Op);
      int64_t Days = LoadLE<int32_t>(FPData), Ms = LoadLE<int32_t>(FPData + 4);
      int64_t BDays = LoadLE<int32_t>(B.FPData), BMs = LoadLE<int32_t>(B.FPData + 4);
      Days = Op == '+' ? Days + BDays : Days - BDays;
      Ms = Op == '+' ? Ms + BMs : Ms - BMs;
      Days += FloorDiv(Ms, kMSecsPerDay);  // carry whole days out of the milliseconds
      uint8_t* P = Reserve(8);  // never write through borrowed bytes
      StoreLE<int32_t>(P, static_cast<int32_t>(Days));
      StoreLE<int32_t>(P + 4, DayTime(Ms));
      FIsNull = false;
      return;
    }
    case bftLogical: {
      if (Op != '+' && Op != '/') RaiseNonNumeric(NonNumericCode, Op);
      bool R = LoadLE<uint16_t>(FPData) != 0 || LoadLE<uint16_t>(B.FPData) != 0;
      StoreScalar<uint16_t>(Common, R ? 1 : 0);
      return;
    }
    default:
      RaiseNonNumeric(NonNumericCode, Op);
  }
}

void TVLTVariant::InvertValue() {
  if (IsNull()) return;
  switch (FDataType) {
    case bftSignedInt8:
    case bftSignedInt16:
    case bftSignedInt32:
    case bftSignedInt64:
    case bftUnsignedInt8:
    case bftUnsignedInt16:
    case bftUnsignedInt32: {
      int64_t R = IntegerOp(0, ReadNumber(FDataType, FPData).I, '-');
      TVLTBaseFieldType T = FDataType;
      switch (T) {
        case bftSignedInt8: StoreScalar<int8_t>(T, static_cast<int8_t>(R)); break;
        case bftSignedInt16: StoreScalar<int16_t>(T, static_cast<int16_t>(R)); break;
        case bftSignedInt32: StoreScalar<int32_t>(T, static_cast<int32_t>(R)); break;
        case bftSignedInt64: StoreScalar<int64_t>(T, R); break;
        case bftUnsignedInt8: StoreScalar<uint8_t>(T, static_cast<uint8_t>(R)); break;
        case bftUnsignedInt16: StoreScalar<uint16_t>(T, static_cast<uint16_t>(R)); break;
        default: StoreScalar<uint32_t>(T, static_cast<uint32_t>(R)); break;
      }
      return;
    }
    case bftSingle: StoreScalar<float>(FDataType, -LoadLE<float>(FPData)); return;
    case bftDouble:
    case bftCurrency: StoreScalar<double>(FDataType, -LoadLE<double>(FPData)); return;
    case bftExtended: StoreScalar<long double>(FDataType, -LoadExtended(FPData)); return;
    case bftDate:
      StoreScalar<int32_t>(FDataType, static_cast<int32_t>(IntegerOp(0, LoadLE<int32_t>(FPData), '-')));
      return;
    case bftTime: StoreScalar<int32_t>(FDataType, DayTime(-int64_t{LoadLE<int32_t>(FPData)})); return;
    case bftLogical: StoreScalar<uint16_t>(FDataType, LoadLE<uint16_t>(FPData) != 0 ? 0 : 1); return;
    default: RaiseNonNumeric(kErrNonNumericAddSub, '-');
  }
}

}  // namespace vlt
