// The field type system shared by the whole engine, beyond the two enumerations: the dataset
// layer's field types, the type-name table that maps between names, declared (advanced) types,
// storage (base) types and dataset types, and the storage size of one value.
//
// Every look-up in the type-name table takes the first row that matches, so the row order is
// binding: it decides, for example, that bftClob reads back as aftMemo and aftDouble is named
// "FLOAT".
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

#include "engine/expr/VLTFieldTypes.h"

namespace vlt {

// Field types of the dataset layer, in their customary order (ordinals appear in messages).
enum TVLTDataSetFieldType : uint8_t {
  ftUnknown, ftString, ftSmallint, ftInteger, ftWord, ftBoolean, ftFloat, ftCurrency, ftBCD,
  ftDate, ftTime, ftDateTime, ftBytes, ftVarBytes, ftAutoInc, ftBlob, ftMemo, ftGraphic,
  ftFmtMemo, ftParadoxOle, ftDBaseOle, ftTypedBinary, ftCursor, ftFixedChar, ftWideString,
  ftLargeint, ftADT, ftArray, ftReference, ftDataSet, ftOraBlob, ftOraClob, ftVariant,
  ftInterface, ftIDispatch, ftGuid, ftTimeStamp, ftFMTBcd, ftFixedWideChar, ftWideMemo,
};

// One row of the type-name table.
struct TSQLFieldType {
  std::string_view SqlName;
  TVLTAdvancedFieldType AdvancedFieldType;
  TVLTBaseFieldType BaseFieldType;
  TVLTDataSetFieldType FieldType;
};

// All 62 rows in their binding order.
std::span<const TSQLFieldType> SQLFieldTypes();

// First-match look-ups; nothing when no row matches.
std::optional<TVLTBaseFieldType> BaseTypeOfAdvanced(TVLTAdvancedFieldType T);
std::optional<TVLTAdvancedFieldType> AdvancedTypeOfBase(TVLTBaseFieldType T);
std::optional<TVLTAdvancedFieldType> AdvancedTypeOfDataSetType(TVLTDataSetFieldType T);
std::optional<TVLTAdvancedFieldType> AdvancedTypeOfSqlName(std::string_view Name);  // any case
// The first row's name; "Unknown" for a type without a row.
std::string_view SqlNameOfAdvanced(TVLTAdvancedFieldType T);
std::string_view SqlNameOfBase(TVLTBaseFieldType T);

// Bytes one value occupies in a memory record buffer and in a stored record. FieldSize is the
// declared size (characters for strings, bytes for byte types). A base type without a size
// (bftUnknown, bftBFile) raises 30050 "Unknown DataType: '%s'".
int32_t FieldMemorySize(TVLTBaseFieldType T, int32_t FieldSize);
int32_t FieldDiskSize(TVLTBaseFieldType T, int32_t FieldSize);

}  // namespace vlt
