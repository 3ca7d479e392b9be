#include "engine/core/VLTFieldDef.h"

#include "engine/base/VLTExcept.h"
#include "engine/expr/VLTFieldTypeTable.h"
#include "engine/protect/VLTStream.h"

namespace vlt {

namespace {
// Native codes of the field definition's stream fields (read, write).
constexpr int32_t kReadBase = 10170, kWriteBase = 10171;
constexpr int32_t kReadAdvanced = 10172, kWriteAdvanced = 10173;
constexpr int32_t kReadSize = 10174, kWriteSize = 10175;
constexpr int32_t kReadBlobAlg = 10176, kWriteBlobAlg = 10177;
constexpr int32_t kReadBlobMode = 10178, kWriteBlobMode = 10187;
constexpr int32_t kReadBlobBlock = 10188, kWriteBlobBlock = 10189;
constexpr int32_t kReadIncrement = 10190, kWriteIncrement = 10191;
constexpr int32_t kReadInitial = 10192, kWriteInitial = 10193;
constexpr int32_t kReadMin = 10194, kWriteMin = 30407;
constexpr int32_t kReadMax = 30408, kWriteMax = 30409;
constexpr int32_t kReadCycled = 30410, kWriteCycled = 30411;
constexpr int32_t kBadType = 30412;
constexpr int32_t kBadSize = 30413;
constexpr int32_t kMaxFieldSize = 16 * 1024 * 1024;
}  // namespace

TVLTFieldDef::TVLTFieldDef() : FDefaultValue(bftUnknown) {}

void TVLTFieldDef::SetFieldDefDataType(TVLTAdvancedFieldType AdvancedFieldType, int32_t FieldSize) {
  std::optional<TVLTBaseFieldType> Base = BaseTypeOfAdvanced(AdvancedFieldType);
  if (!Base)
    throw EVLTException(30007, "Unsupported data type '%s'",
                        {std::string(AdvancedFieldTypeName(AdvancedFieldType))});
  FAdvancedFieldType = AdvancedFieldType;
  FBaseFieldType = *Base;
  FFieldSize = FieldSize;
  RecalcDataSizes();
}

void TVLTFieldDef::SetFieldDefDataType(TVLTBaseFieldType BaseFieldType, int32_t FieldSize) {
  std::optional<TVLTAdvancedFieldType> Advanced = AdvancedTypeOfBase(BaseFieldType);
  if (!Advanced)
    throw EVLTException(30008, "Unsupported data type '%s'",
                        {std::string(BaseFieldTypeName(BaseFieldType))});
  FBaseFieldType = BaseFieldType;
  FAdvancedFieldType = *Advanced;
  FFieldSize = FieldSize;
  RecalcDataSizes();
}

void TVLTFieldDef::RecalcDataSizes() {
  FMemoryDataSize = FieldMemorySize(FBaseFieldType, FFieldSize);
  FDiskDataSize = FieldDiskSize(FBaseFieldType, FFieldSize);
}

void TVLTFieldDef::SetDefaultValue(const TVLTVariant& Value) {
  FDefaultValue = Value;
  RebuildDefaultValueExpr();
}

void TVLTFieldDef::RebuildDefaultValueExpr() {
  FDefaultValueExpr.reset();
  // An expression is built only for defaults that are expressions; plain values are used as
  // they are.
  if (!IsDefaultValueExpression(FDefaultValue)) return;
  auto E = std::make_unique<TVLTExpression>();
  if (E->ParseForDefaultValueExpression(FDefaultValue.AsAnsiString())) FDefaultValueExpr = std::move(E);
}

TVLTVariant TVLTFieldDef::CurrentDefaultValue() const {
  if (FDefaultValueExpr) {
    if (const TVLTVariant* V = FDefaultValueExpr->GetValue(true)) return *V;
  }
  return FDefaultValue;
}

void TVLTFieldDef::Assign(const TVLTMetaObjectDef& Source) {
  TVLTMetaObjectDef::Assign(Source);
  const auto& S = static_cast<const TVLTFieldDef&>(Source);
  FBaseFieldType = S.FBaseFieldType;
  FAdvancedFieldType = S.FAdvancedFieldType;
  FFieldSize = S.FFieldSize;
  FDiskDataSize = S.FDiskDataSize;
  FMemoryDataSize = S.FMemoryDataSize;
  FDiskOffset = S.FDiskOffset;
  FMemoryOffset = S.FMemoryOffset;
  SetDefaultValue(S.FDefaultValue);
  FBLOBCompressionAlgorithm = S.FBLOBCompressionAlgorithm;
  FBLOBCompressionMode = S.FBLOBCompressionMode;
  FBLOBBlockSize = S.FBLOBBlockSize;
  FAutoincIncrement = S.FAutoincIncrement;
  FAutoincInitialValue = S.FAutoincInitialValue;
  FAutoincMinValue = S.FAutoincMinValue;
  FAutoincMaxValue = S.FAutoincMaxValue;
  FAutoincCycled = S.FAutoincCycled;
}

void TVLTFieldDef::LoadFromStream(TVLTStream& Stream) {
  TVLTMetaObjectDef::LoadFromStream(Stream);
  uint8_t Base = VLTReadLE<uint8_t>(Stream, kReadBase);
  uint8_t Advanced = VLTReadLE<uint8_t>(Stream, kReadAdvanced);
  if (Base >= kBaseFieldTypeCount || Advanced >= kAdvancedFieldTypeCount)
    throw EVLTException(kBadType, "Unknown DataType: '%d'", {int64_t{Base}});
  FBaseFieldType = static_cast<TVLTBaseFieldType>(Base);
  FAdvancedFieldType = static_cast<TVLTAdvancedFieldType>(Advanced);
  FFieldSize = VLTReadLE<int32_t>(Stream, kReadSize);
  // A damaged size must not turn into a huge record buffer later.
  if (FFieldSize < 0 || FFieldSize > kMaxFieldSize)
    throw EVLTException(kBadSize, "Invalid field size %d of field '%s'", {int64_t{FFieldSize}, FName});
  if (IsBlobBaseType(FBaseFieldType)) {
    uint8_t Alg = VLTReadLE<uint8_t>(Stream, kReadBlobAlg);
    FBLOBCompressionAlgorithm = Alg <= acaPPM ? static_cast<TVLTCompressionAlgorithm>(Alg) : acaNone;
    FBLOBCompressionMode = VLTReadLE<uint8_t>(Stream, kReadBlobMode);
    FBLOBBlockSize = VLTReadLE<int32_t>(Stream, kReadBlobBlock);
  }
  FAutoincIncrement = VLTReadLE<int64_t>(Stream, kReadIncrement);
  FAutoincInitialValue = VLTReadLE<int64_t>(Stream, kReadInitial);
  FAutoincMinValue = VLTReadLE<int64_t>(Stream, kReadMin);
  FAutoincMaxValue = VLTReadLE<int64_t>(Stream, kReadMax);
  FAutoincCycled = VLTReadLE<uint8_t>(Stream, kReadCycled) != 0;
  FDefaultValue.Clear(FBaseFieldType);
  FDefaultValue.LoadFromStream(Stream);
  RebuildDefaultValueExpr();
  RecalcDataSizes();
}

void TVLTFieldDef::SaveToStream(TVLTStream& Stream) const {
  TVLTMetaObjectDef::SaveToStream(Stream);
  VLTWriteLE<uint8_t>(Stream, FBaseFieldType, kWriteBase);
  VLTWriteLE<uint8_t>(Stream, FAdvancedFieldType, kWriteAdvanced);
  VLTWriteLE<int32_t>(Stream, FFieldSize, kWriteSize);
  if (IsBlobBaseType(FBaseFieldType)) {
    VLTWriteLE<uint8_t>(Stream, FBLOBCompressionAlgorithm, kWriteBlobAlg);
    VLTWriteLE<uint8_t>(Stream, FBLOBCompressionMode, kWriteBlobMode);
    VLTWriteLE<int32_t>(Stream, FBLOBBlockSize, kWriteBlobBlock);
  }
  VLTWriteLE<int64_t>(Stream, FAutoincIncrement, kWriteIncrement);
  VLTWriteLE<int64_t>(Stream, FAutoincInitialValue, kWriteInitial);
  VLTWriteLE<int64_t>(Stream, FAutoincMinValue, kWriteMin);
  VLTWriteLE<int64_t>(Stream, FAutoincMaxValue, kWriteMax);
  VLTWriteLE<uint8_t>(Stream, FAutoincCycled ? 1 : 0, kWriteCycled);
  FDefaultValue.SaveToStream(Stream);
}

void TVLTFieldDefs::RecalcFieldOffsets() {
  int32_t MemoryOffset = NullBitmapSize(), DiskOffset = NullBitmapSize();
  for (int32_t I = 0; I < Count(); ++I) {
    TVLTFieldDef& F = (*this)[I];
    F.FMemoryOffset = MemoryOffset;
    F.FDiskOffset = DiskOffset;
    MemoryOffset += F.FMemoryDataSize;
    DiskOffset += F.FDiskDataSize;
  }
}

int32_t TVLTFieldDefs::GetMemoryRecordBufferSize() const {
  int32_t Size = NullBitmapSize();
  for (int32_t I = 0; I < Count(); ++I) Size += (*this)[I].FMemoryDataSize;
  return Size;
}

int32_t TVLTFieldDefs::GetDiskRecordBufferSize() const {
  int32_t Size = NullBitmapSize();
  for (int32_t I = 0; I < Count(); ++I) Size += (*this)[I].FDiskDataSize;
  return Size;
}

}  // namespace vlt
