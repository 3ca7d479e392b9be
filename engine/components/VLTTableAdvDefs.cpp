#include "engine/components/VLTTableAdvDefs.h"

#include <algorithm>

#include "engine/base/VLTExcept.h"

namespace vlt {

TVLTAdvancedFieldType AdvancedTypeOfComponentType(TVLTDataSetFieldType T) {
  switch (T) {
    case ftFixedChar: return aftChar;
    case ftString: return aftString;
    case ftWideString: return aftWideChar;
    case ftSmallint: return aftSmallint;
    case ftInteger: return aftInteger;
    case ftLargeint: return aftLargeint;
    case ftWord: return aftWord;
    case ftAutoInc: return aftAutoInc;
    case ftFloat: case ftBCD: return aftDouble;
    case ftBoolean: return aftBoolean;
    case ftCurrency: return aftCurrency;
    case ftDate: return aftDate;
    case ftTime: return aftTime;
    case ftDateTime: return aftDateTime;
    case ftTimeStamp: return aftTimeStamp;
    case ftBytes: return aftBytes;
    case ftVarBytes: return aftVarBytes;
    case ftBlob: case ftParadoxOle: case ftTypedBinary: case ftDBaseOle: case ftOraBlob:
    case ftOraClob:
      return aftBlob;
    case ftGraphic: return aftGraphic;
    case ftMemo: return aftMemo;
    case ftFmtMemo: return aftFormattedMemo;
    case ftWideMemo: return aftWideMemo;
    case ftGuid: return aftGuid;
    default:
      throw EVLTException(30289, "Unknown DataType: '%s'", {std::to_string(static_cast<int>(T))});
  }
}

TVLTDataSetFieldType DataSetTypeOfAdvanced(TVLTAdvancedFieldType T) {
  switch (T) {
    case aftChar: return ftFixedChar;
    case aftString: return ftString;
    case aftWideChar: case aftWideString: return ftWideString;
    case aftShortint: case aftSmallint: return ftSmallint;
    case aftInteger: return ftInteger;
    case aftLargeint: case aftCardinal: case aftAutoIncLargeint: return ftLargeint;
    case aftByte: case aftWord: return ftWord;
    case aftAutoInc: case aftAutoIncShortint: case aftAutoIncSmallint: case aftAutoIncInteger:
    case aftAutoIncByte: case aftAutoIncWord: case aftAutoIncCardinal:
      return ftAutoInc;
    case aftSingle: case aftDouble: case aftExtended: return ftFloat;
    case aftBoolean: return ftBoolean;
    case aftCurrency: return ftCurrency;
    case aftDate: return ftDate;
    case aftTime: return ftTime;
    case aftDateTime: return ftDateTime;
    case aftTimeStamp: return ftTimeStamp;
    case aftBytes: return ftBytes;
    case aftVarBytes: return ftVarBytes;
    case aftBlob: return ftBlob;
    case aftGraphic: return ftGraphic;
    case aftMemo: return ftMemo;
    case aftFormattedMemo: return ftFmtMemo;
    case aftWideMemo: return ftWideMemo;
    case aftGuid: return ftGuid;
    default: return ftUnknown;
  }
}

TVLTAdvFieldDef& TVLTAdvFieldDefs::Add(const std::string& Name, TVLTAdvancedFieldType DataType,
                                       int32_t Size, bool Required,
                                       TVLTCompressionAlgorithm Compression,
                                       uint8_t CompressionMode) {
  TVLTAdvFieldDef& D = AddFieldDef();
  D.FName = Name;
  D.FDataType = DataType;
  D.FSize = Size;
  D.FRequired = Required;
  D.FBLOBCompressionAlgorithm = Compression;
  D.FBLOBCompressionMode = CompressionMode;
  return D;
}

TVLTAdvFieldDef& TVLTAdvFieldDefs::AddFieldDef() {
  FItems.push_back(std::make_unique<TVLTAdvFieldDef>());
  return *FItems.back();
}

TVLTAdvFieldDef* TVLTAdvFieldDefs::Find(const std::string& Name) const {
  for (const auto& D : FItems)
    if (SameText(D->FName, Name)) return D.get();
  return nullptr;
}

void TVLTAdvFieldDefs::DeleteFieldDef(const std::string& Name) {
  auto It = std::find_if(FItems.begin(), FItems.end(),
                         [&](const auto& D) { return SameText(D->FName, Name); });
  if (It == FItems.end()) throw EVLTException(30349, "Field '%s' not found", {Name});
  FItems.erase(It);
}

void TVLTAdvFieldDefs::Assign(const TVLTAdvFieldDefs& Source) {
  if (&Source == this) return;
  FItems.clear();
  for (const auto& D : Source.FItems) FItems.push_back(std::make_unique<TVLTAdvFieldDef>(*D));
}

TVLTAdvIndexDef& TVLTAdvIndexDefs::Add(const std::string& Name, const std::string& Fields,
                                       uint8_t Options, bool Temporary,
                                       const std::string& DescFields,
                                       const std::string& CaseInsFields,
                                       const std::string& MaxIndexedSizes) {
  TVLTAdvIndexDef& D = AddIndexDef();
  D.FName = Name;
  D.FFields = Fields;
  D.FOptions = Options;
  D.FTemporary = Temporary;
  D.FDescFields = DescFields;
  D.FCaseInsFields = CaseInsFields;
  D.FMaxIndexedSizes = MaxIndexedSizes;
  return D;
}

TVLTAdvIndexDef& TVLTAdvIndexDefs::AddIndexDef() {
  FItems.push_back(std::make_unique<TVLTAdvIndexDef>());
  return *FItems.back();
}

TVLTAdvIndexDef* TVLTAdvIndexDefs::Find(const std::string& Name) const {
  for (const auto& D : FItems)
    if (SameText(D->FName, Name)) return D.get();
  return nullptr;
}

void TVLTAdvIndexDefs::DeleteIndexDef(const std::string& Name) {
  auto It = std::find_if(FItems.begin(), FItems.end(),
                         [&](const auto& D) { return SameText(D->FName, Name); });
  if (It == FItems.end()) throw EVLTException(20190, "Index '%s' not found", {Name});
  FItems.erase(It);
}

void TVLTAdvIndexDefs::Assign(const TVLTAdvIndexDefs& Source, bool SkipTemporaryIndexes) {
  if (&Source == this) return;
  FItems.clear();
  for (const auto& D : Source.FItems) {
    if (SkipTemporaryIndexes &&
        (D->FTemporary || UpperCase1252(D->FName).find("TEMPORARY") != std::string::npos))
      continue;
    FItems.push_back(std::make_unique<TVLTAdvIndexDef>(*D));
  }
}

}  // namespace vlt
