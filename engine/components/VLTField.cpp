#include "engine/components/VLTField.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <iterator>

#include "engine/components/VLTDataSet.h"
#include "engine/components/VLTDatabaseError.h"

namespace vlt {

std::string FieldTypeName(TVLTDataSetFieldType T) {
  static const char* const Names[] = {
      "Unknown",    "String",     "SmallInt",  "Integer",    "Word",        "Boolean",
      "Float",      "Currency",   "BCD",       "Date",       "Time",        "DateTime",
      "Bytes",      "VarBytes",   "AutoInc",   "Blob",       "Memo",        "Graphic",
      "FmtMemo",    "ParadoxOle", "dBaseOle",  "TypedBinary", "Cursor",     "FixedChar",
      "WideString", "LargeInt",   "ADT",       "Array",      "Reference",   "DataSet",
      "OraBlob",    "OraClob",    "Variant",   "Interface",  "IDispatch",   "Guid",
      "TimeStamp",  "FMTBcd",     "FixedWideChar", "WideMemo"};
  const size_t I = static_cast<size_t>(T);
  return I < std::size(Names) ? Names[I] : "Unknown";
}

TVLTField::TVLTField(TVLTDataSetFieldType DataType, std::string FieldName, int32_t Size)
    : FDataType(DataType), FFieldName(std::move(FieldName)), FSize(Size) {}

bool TVLTField::IsBlob() const {
  switch (FDataType) {
    case ftBlob: case ftMemo: case ftGraphic: case ftFmtMemo: case ftParadoxOle: case ftDBaseOle:
    case ftTypedBinary: case ftOraBlob: case ftOraClob: case ftWideMemo:
      return true;
    default:
      return false;
  }
}

TVLTBaseFieldType TVLTField::BaseType() const {
  switch (FDataType) {
    case ftString: case ftFixedChar: case ftGuid: return bftChar;
    case ftWideString: case ftFixedWideChar: return bftWideChar;
    case ftSmallint: return bftSignedInt16;
    case ftInteger: case ftAutoInc: return bftSignedInt32;
    case ftWord: return bftUnsignedInt16;
    case ftLargeint: return bftSignedInt64;
    case ftFloat: case ftBCD: case ftFMTBcd: return bftDouble;
    case ftCurrency: return bftCurrency;
    case ftBoolean: return bftLogical;
    case ftDate: return bftDate;
    case ftTime: return bftTime;
    case ftDateTime: case ftTimeStamp: return bftDateTime;
    case ftBytes: return bftBytes;
    case ftVarBytes: return bftVarBytes;
    case ftMemo: case ftFmtMemo: case ftOraClob: return bftClob;
    case ftWideMemo: return bftWideClob;
    default: return IsBlob() ? bftBlob : bftUnknown;
  }
}

void TVLTField::FieldError(const std::string& Message) const {
  throw EVLTDatabaseError(FDataSet ? FDataSet->FName : std::string(), Message);
}

void TVLTField::CheckRange(double Value, double Min, double Max) const {
  if (Value < Min || Value > Max) {
    char Buf[256];
    std::snprintf(Buf, sizeof Buf, "%g is not a valid value for field '%s'. The allowed range is %g to %g",
                  Value, FFieldName.c_str(), Min, Max);
    FieldError(Buf);
  }
}

TVLTVariant TVLTField::AsVariant() const {
  TVLTVariant V;
  if (!FDataSet) FieldError("Cannot perform this operation on a closed dataset");
  FDataSet->GetFieldVariant(*this, V);
  return V;
}

void TVLTField::SetAsVariant(const TVLTVariant& Value) {
  if (!FDataSet) FieldError("Cannot perform this operation on a closed dataset");
  try {
    FDataSet->SetFieldVariant(*this, Value);
  } catch (const EVLTConvertError&) {
    // The value does not convert to the field's type ("abc" for a date).
    FieldError("Invalid value for field '" + FFieldName + "'");
  }
}

bool TVLTField::IsNull() const { return AsVariant().IsNull(); }

void TVLTField::Clear() { SetAsVariant(TVLTVariant(BaseType())); }

std::string TVLTField::AsString() const {
  const TVLTVariant V = AsVariant();
  return V.IsNull() ? std::string() : V.AsAnsiString();
}

void TVLTField::SetAsString(const std::string& Value) {
  TVLTVariant V;
  if (Value.empty()) {
    V.Clear(BaseType());  // an empty string is NULL throughout the engine
  } else if (IsBlobBaseType(BaseType())) {
    // A BLOB or memo takes the bytes as they are: a text would end at its first zero byte.
    V.SetData(Value.data(), static_cast<int32_t>(Value.size()), true, bftClob);
  } else {
    V.SetAsAnsiString(Value);
  }
  SetAsVariant(V);
}

int32_t TVLTField::AsInteger() const {
  const TVLTVariant V = AsVariant();
  return V.IsNull() ? 0 : V.AsInteger();
}
void TVLTField::SetAsInteger(int32_t Value) {
  TVLTVariant V;
  V.SetAsInteger(Value);
  SetAsVariant(V);
}
int64_t TVLTField::AsLargeInt() const {
  const TVLTVariant V = AsVariant();
  return V.IsNull() ? 0 : V.AsInt64();
}
void TVLTField::SetAsLargeInt(int64_t Value) {
  TVLTVariant V;
  V.SetAsInt64(Value);
  SetAsVariant(V);
}
double TVLTField::AsFloat() const {
  const TVLTVariant V = AsVariant();
  return V.IsNull() ? 0.0 : V.AsDouble();
}
void TVLTField::SetAsFloat(double Value) {
  TVLTVariant V;
  V.SetAsDouble(Value);
  SetAsVariant(V);
}
double TVLTField::AsCurrency() const {
  const TVLTVariant V = AsVariant();
  return V.IsNull() ? 0.0 : V.AsCurrency();
}
void TVLTField::SetAsCurrency(double Value) {
  TVLTVariant V;
  V.SetAsCurrency(Value);
  SetAsVariant(V);
}
bool TVLTField::AsBoolean() const {
  const TVLTVariant V = AsVariant();
  return !V.IsNull() && V.AsBoolean();
}
void TVLTField::SetAsBoolean(bool Value) {
  TVLTVariant V;
  V.SetAsBoolean(Value);
  SetAsVariant(V);
}
double TVLTField::AsDateTime() const {
  const TVLTVariant V = AsVariant();
  return V.IsNull() ? 0.0 : V.AsDateTime();
}
void TVLTField::SetAsDateTime(double Value) {
  TVLTVariant V;
  V.SetAsDateTime(Value);
  SetAsVariant(V);
}

namespace {

void IntegerRange(TVLTDataSetFieldType T, double& Min, double& Max) {
  switch (T) {
    case ftSmallint: Min = -32768; Max = 32767; break;
    case ftWord: Min = 0; Max = 65535; break;
    case ftLargeint: Min = -9223372036854775808.0; Max = 9223372036854775807.0; break;
    default: Min = -2147483648.0; Max = 2147483647.0; break;
  }
}

}  // namespace

void TVLTIntegerField::SetAsLargeInt(int64_t Value) {
  double Min = 0, Max = 0;
  IntegerRange(FDataType, Min, Max);
  if (FDataType != ftLargeint) CheckRange(static_cast<double>(Value), Min, Max);
  TVLTField::SetAsLargeInt(Value);
}

void TVLTIntegerField::SetAsFloat(double Value) {
  double Min = 0, Max = 0;
  IntegerRange(FDataType, Min, Max);
  CheckRange(Value, Min, Max);
  SetAsLargeInt(static_cast<int64_t>(Value));
}

void TVLTIntegerField::SetAsString(const std::string& Value) {
  if (Value.empty()) {
    Clear();
    return;
  }
  errno = 0;
  char* End = nullptr;
  const long long N = std::strtoll(Value.c_str(), &End, 10);
  if (errno != 0 || End == Value.c_str() || *End != '\0')
    FieldError("'" + Value + "' is not a valid integer value for field '" + FFieldName + "'");
  SetAsLargeInt(N);
}

void TVLTFloatField::SetAsString(const std::string& Value) {
  if (Value.empty()) {
    Clear();
    return;
  }
  errno = 0;
  char* End = nullptr;
  const double D = std::strtod(Value.c_str(), &End);
  if (errno != 0 || End == Value.c_str() || *End != '\0')
    FieldError("'" + Value + "' is not a valid floating point value for field '" + FFieldName + "'");
  FDataType == ftCurrency ? SetAsCurrency(D) : SetAsFloat(D);
}

void TVLTBooleanField::SetAsString(const std::string& Value) {
  if (Value.empty()) {
    Clear();
    return;
  }
  if (SameText(Value, "true") || SameText(Value, "t") || SameText(Value, "yes") || Value == "1") {
    SetAsBoolean(true);
  } else if (SameText(Value, "false") || SameText(Value, "f") || SameText(Value, "no") ||
             Value == "0") {
    SetAsBoolean(false);
  } else {
    FieldError("'" + Value + "' is not a valid boolean value for field '" + FFieldName + "'");
  }
}

}  // namespace vlt
