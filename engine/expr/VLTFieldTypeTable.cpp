#include "engine/expr/VLTFieldTypeTable.h"

#include <array>

#include "engine/base/VLTExcept.h"
#include "engine/base/VLTTypes.h"

namespace vlt {

namespace {

constexpr std::array<TSQLFieldType, 62> kRows = {{
    {"CHAR", aftChar, bftChar, ftFixedChar},
    {"FIXEDCHAR", aftChar, bftChar, ftFixedChar},
    {"STRING", aftString, bftVarchar, ftString},
    {"VARCHAR", aftString, bftVarchar, ftString},
    {"VARCHAR2", aftString, bftVarchar, ftString},
    {"WIDECHAR", aftWideChar, bftWideChar, ftWideString},
    {"FIXEDWIDECHAR", aftWideChar, bftWideChar, ftWideString},
    {"WIDESTRING", aftWideString, bftWideVarchar, ftWideString},
    {"WIDEVARCHAR", aftWideString, bftWideVarchar, ftWideString},
    {"SMALLINT", aftSmallint, bftSignedInt16, ftSmallint},
    {"SIGNEDINT16", aftSmallint, bftSignedInt16, ftSmallint},
    {"SHORTINT", aftShortint, bftSignedInt8, ftSmallint},
    {"SIGNEDINT8", aftShortint, bftSignedInt8, ftSmallint},
    {"INTEGER", aftInteger, bftSignedInt32, ftInteger},
    {"SIGNEDINT32", aftInteger, bftSignedInt32, ftInteger},
    {"LARGEINT", aftLargeint, bftSignedInt64, ftLargeint},
    {"INT64", aftLargeint, bftSignedInt64, ftLargeint},
    {"SIGNEDINT64", aftLargeint, bftSignedInt64, ftLargeint},
    {"WORD", aftWord, bftUnsignedInt16, ftWord},
    {"UNSIGNEDINT16", aftWord, bftUnsignedInt16, ftWord},
    {"BYTE", aftByte, bftUnsignedInt8, ftWord},
    {"UNSIGNEDINT8", aftByte, bftUnsignedInt8, ftWord},
    {"CARDINAL", aftCardinal, bftUnsignedInt32, ftLargeint},
    {"UNSIGNEDINT32", aftCardinal, bftUnsignedInt32, ftLargeint},
    {"AUTOINC", aftAutoInc, bftSignedInt32, ftAutoInc},
    {"AUTOINCSHORTINT", aftAutoIncShortint, bftSignedInt8, ftAutoInc},
    {"AUTOINCSMALLINT", aftAutoIncSmallint, bftSignedInt16, ftAutoInc},
    {"AUTOINCINTEGER", aftAutoIncInteger, bftSignedInt32, ftAutoInc},
    {"AUTOINCLARGEINT", aftAutoIncLargeint, bftSignedInt64, ftLargeint},
    {"AUTOINCBYTE", aftAutoIncByte, bftUnsignedInt8, ftAutoInc},
    {"AUTOINCWORD", aftAutoIncWord, bftUnsignedInt16, ftAutoInc},
    {"AUTOINCCARDINAL", aftAutoIncCardinal, bftUnsignedInt32, ftAutoInc},
    {"FLOAT", aftDouble, bftDouble, ftFloat},
    {"FLOAT", aftDouble, bftDouble, ftBCD},
    {"DOUBLE", aftDouble, bftDouble, ftFloat},
    {"SINGLE", aftSingle, bftSingle, ftFloat},
    {"EXTENDED", aftExtended, bftExtended, ftFloat},
    {"LOGICAL", aftBoolean, bftLogical, ftBoolean},
    {"BOOLEAN", aftBoolean, bftLogical, ftBoolean},
    {"BOOL", aftBoolean, bftLogical, ftBoolean},
    {"BIT", aftBoolean, bftLogical, ftBoolean},
    {"CURRENCY", aftCurrency, bftCurrency, ftCurrency},
    {"MONEY", aftCurrency, bftCurrency, ftCurrency},
    {"DATE", aftDate, bftDate, ftDate},
    {"TIME", aftTime, bftTime, ftTime},
    {"DATETIME", aftDateTime, bftDateTime, ftDateTime},
    {"TIMESTAMP", aftTimeStamp, bftDateTime, ftTimeStamp},
    {"BYTES", aftBytes, bftBytes, ftBytes},
    {"VARBYTES", aftVarBytes, bftVarBytes, ftVarBytes},
    {"BLOB", aftBlob, bftBlob, ftBlob},
    {"BLOB", aftBlob, bftBlob, ftParadoxOle},
    {"BLOB", aftBlob, bftBlob, ftTypedBinary},
    {"BLOB", aftBlob, bftBlob, ftDBaseOle},
    {"BLOB", aftBlob, bftBlob, ftOraBlob},
    {"BLOB", aftBlob, bftBlob, ftOraClob},
    {"GRAPHIC", aftGraphic, bftBlob, ftGraphic},
    {"MEMO", aftMemo, bftClob, ftMemo},
    {"CLOB", aftMemo, bftClob, ftMemo},
    {"FORMATTEDMEMO", aftFormattedMemo, bftClob, ftFmtMemo},
    {"WIDEMEMO", aftWideMemo, bftWideClob, ftWideMemo},
    {"WIDECLOB", aftWideMemo, bftWideClob, ftWideMemo},
    {"GUID", aftGuid, bftChar, ftGuid},
}};

template <typename Pred>
const TSQLFieldType* FirstRow(Pred P) {
  for (const TSQLFieldType& R : kRows)
    if (P(R)) return &R;
  return nullptr;
}

}  // namespace

std::span<const TSQLFieldType> SQLFieldTypes() { return kRows; }

std::optional<TVLTBaseFieldType> BaseTypeOfAdvanced(TVLTAdvancedFieldType T) {
  if (auto* R = FirstRow([T](const TSQLFieldType& X) { return X.AdvancedFieldType == T; }))
    return R->BaseFieldType;
  return std::nullopt;
}

std::optional<TVLTAdvancedFieldType> AdvancedTypeOfBase(TVLTBaseFieldType T) {
  if (auto* R = FirstRow([T](const TSQLFieldType& X) { return X.BaseFieldType == T; }))
    return R->AdvancedFieldType;
  return std::nullopt;
}

std::optional<TVLTAdvancedFieldType> AdvancedTypeOfDataSetType(TVLTDataSetFieldType T) {
  if (auto* R = FirstRow([T](const TSQLFieldType& X) { return X.FieldType == T; }))
    return R->AdvancedFieldType;
  return std::nullopt;
}

std::optional<TVLTAdvancedFieldType> AdvancedTypeOfSqlName(std::string_view Name) {
  if (auto* R = FirstRow([Name](const TSQLFieldType& X) { return SameText(X.SqlName, Name); }))
    return R->AdvancedFieldType;
  return std::nullopt;
}

std::string_view SqlNameOfAdvanced(TVLTAdvancedFieldType T) {
  auto* R = FirstRow([T](const TSQLFieldType& X) { return X.AdvancedFieldType == T; });
  return R ? R->SqlName : "Unknown";
}

std::string_view SqlNameOfBase(TVLTBaseFieldType T) {
  auto* R = FirstRow([T](const TSQLFieldType& X) { return X.BaseFieldType == T; });
  return R ? R->SqlName : "Unknown";
}

int32_t FieldMemorySize(TVLTBaseFieldType T, int32_t FieldSize) {
  if (int32_t Fixed = FixedDataSize(T)) return Fixed;
  switch (T) {
    case bftChar:
    case bftVarchar:
    case bftBytes:
    case bftVarBytes:
      return FieldSize + 1;
    case bftWideChar:
    case bftWideVarchar:
      return (FieldSize + 1) * 2;
    case bftBlob:
    case bftClob:
    case bftWideClob:
      return 10;  // BLOB reference and cache handle
    default:
      throw EVLTException(30050, "Unknown DataType: '%s'", {std::string(BaseFieldTypeName(T))});
  }
}

int32_t FieldDiskSize(TVLTBaseFieldType T, int32_t FieldSize) {
  // A BLOB slot on disk is the 6-byte reference to the stored value.
  return IsBlobBaseType(T) ? 6 : FieldMemorySize(T, FieldSize);
}

}  // namespace vlt
