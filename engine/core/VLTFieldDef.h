// Field definitions and the field list, with the record buffer geometry they imply.
//
// A record buffer holds a null bitmap of ceil(n / 8) bytes for n fields, then the fields packed
// in definition order without alignment. Memory and disk layouts differ only in BLOB slots
// (10 bytes in memory, a 6-byte reference on disk).
//
// Field definition in the metadata stream (after the meta object part):
//
//   SIZE  CONTENT
//   1     FBaseFieldType
//   1     FAdvancedFieldType
//   4     FFieldSize (Int32)
//   1     FBLOBCompressionAlgorithm      -- BLOB base types only
//   1     FBLOBCompressionMode           -- BLOB base types only
//   4     FBLOBBlockSize (Int32)         -- BLOB base types only
//   8     FAutoincIncrement (Int64)
//   8     FAutoincInitialValue (Int64)
//   8     FAutoincMinValue (Int64)
//   8     FAutoincMaxValue (Int64)
//   1     FAutoincCycled
//   var   FDefaultValue as a serialized value (type byte, null byte, [size Int32, data])
#pragma once

#include <memory>

#include "engine/core/VLTMetaObjectDef.h"
#include "engine/expr/VLTExpression.h"
#include "engine/expr/VLTFieldTypes.h"
#include "engine/expr/VLTVariant.h"

namespace vlt {

// The engine-wide default size of a BLOB block.
constexpr int32_t kDefaultBLOBBlockSize = 102400;

class TVLTFieldDef : public TVLTMetaObjectDef {
 public:
  TVLTFieldDef();

  // Declared type and size; the base type comes from the type-name table. A type without a
  // base type raises 30007 "Unsupported data type '%s'".
  void SetFieldDefDataType(TVLTAdvancedFieldType AdvancedFieldType, int32_t FieldSize);
  // Storage type and size; the advanced type is the first with that base type (30008).
  void SetFieldDefDataType(TVLTBaseFieldType BaseFieldType, int32_t FieldSize);

  // Sets the default value and rebuilds the default expression.
  void SetDefaultValue(const TVLTVariant& Value);
  const TVLTVariant& DefaultValue() const { return FDefaultValue; }
  const TVLTExpression* DefaultValueExpr() const { return FDefaultValueExpr.get(); }
  // The value a new record gets: a default expression (CURRENT_DATE, 1+1) evaluated now, else
  // the stored default value.
  TVLTVariant CurrentDefaultValue() const;

  void RecalcDataSizes();

  void Assign(const TVLTMetaObjectDef& Source) override;
  void LoadFromStream(TVLTStream& Stream) override;
  void SaveToStream(TVLTStream& Stream) const override;

  TVLTBaseFieldType FBaseFieldType = bftUnknown;
  TVLTAdvancedFieldType FAdvancedFieldType = aftUnknown;
  int32_t FFieldSize = 0;
  int32_t FDiskDataSize = 0;
  int32_t FMemoryDataSize = 0;
  int32_t FDiskOffset = 0;
  int32_t FMemoryOffset = 0;
  int32_t FFieldNoReference = 0;  // not stored
  TVLTCompressionAlgorithm FBLOBCompressionAlgorithm = acaNone;
  uint8_t FBLOBCompressionMode = 0;
  int32_t FBLOBBlockSize = kDefaultBLOBBlockSize;
  int64_t FAutoincIncrement = 1;
  int64_t FAutoincInitialValue = 0;
  int64_t FAutoincMinValue = 0;
  int64_t FAutoincMaxValue = INT64_MAX;
  bool FAutoincCycled = false;

 private:
  void RebuildDefaultValueExpr();

  TVLTVariant FDefaultValue;
  std::unique_ptr<TVLTExpression> FDefaultValueExpr;  // not stored
};

class TVLTFieldDefs : public TVLTTypedDefs<TVLTFieldDef> {
 public:
  TVLTFieldDef* GetFieldDefByName(std::string_view Name) const { return GetByName(Name); }

  // Offsets of every field in the memory and disk record layouts.
  void RecalcFieldOffsets();
  int32_t NullBitmapSize() const { return (Count() + 7) / 8; }
  int32_t GetMemoryRecordBufferSize() const;
  int32_t GetDiskRecordBufferSize() const;

 protected:
  std::string_view ClassName() const override { return "TVLTFieldDefs"; }
};

}  // namespace vlt
