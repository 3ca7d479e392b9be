// Definitions of a table component: the component-level field and index definitions the
// application declares, the extended definitions (TVLTAdvFieldDefs, TVLTAdvIndexDefs) that
// carry what those cannot (defaults, ranges, autoincrement settings, BLOB compression, indexed
// sizes), and the mapping between component field types and engine field types.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "engine/base/VLTFieldList.h"
#include "engine/base/VLTTypes.h"
#include "engine/expr/VLTFieldTypeTable.h"
#include "engine/expr/VLTVariant.h"

namespace vlt {

// Index options (a set of bits).
enum TVLTIndexOption : uint8_t {
  ixPrimary = 1,
  ixUnique = 2,
  ixDescending = 4,
  ixCaseInsensitive = 8,
  ixExpression = 16,
  ixNonMaintained = 32,
};

// Creating a table: the engine type made for a component type (30289 "Unknown DataType: '%s'"
// with the ordinal for a type without one).
TVLTAdvancedFieldType AdvancedTypeOfComponentType(TVLTDataSetFieldType T);
// Reading a table back: the first component type listed for an engine type.
TVLTDataSetFieldType DataSetTypeOfAdvanced(TVLTAdvancedFieldType T);

struct TVLTComponentFieldDef {
  std::string Name;
  TVLTDataSetFieldType DataType = ftUnknown;
  int32_t Size = 0;
  bool Required = false;
};

struct TVLTComponentIndexDef {
  std::string Name;
  std::string Fields;         // separated by ';'
  std::string DescFields;
  std::string CaseInsFields;
  uint8_t Options = 0;        // TVLTIndexOption bits
};

class TVLTAdvFieldDef {
 public:
  std::string FName;
  TVLTObjectID FObjectID = kNoObjectID;
  TVLTAdvancedFieldType FDataType = aftUnknown;
  bool FRequired = false;
  int32_t FSize = 0;
  TVLTVariant FDefaultValue;
  TVLTVariant FMinValue;
  TVLTVariant FMaxValue;
  int64_t FAutoincIncrement = 1;
  int64_t FAutoincInitialValue = 0;
  int64_t FAutoincMinValue = 0;
  int64_t FAutoincMaxValue = INT64_MAX;
  bool FAutoincCycled = false;
  TVLTCompressionAlgorithm FBLOBCompressionAlgorithm = acaNone;
  uint8_t FBLOBCompressionMode = 0;
  int32_t FBLOBBlockSize = 102400;
};

class TVLTAdvIndexDef {
 public:
  std::string FName;
  std::string FFields;
  std::string FDescFields;
  std::string FCaseInsFields;
  uint8_t FOptions = 0;
  std::string FMaxIndexedSizes;  // one number per field, separated by ';'
  bool FTemporary = false;
};

class TVLTAdvFieldDefs {
 public:
  TVLTAdvFieldDef& Add(const std::string& Name, TVLTAdvancedFieldType DataType, int32_t Size = 0,
                       bool Required = false, TVLTCompressionAlgorithm Compression = acaNone,
                       uint8_t CompressionMode = 0);
  TVLTAdvFieldDef& AddFieldDef();
  TVLTAdvFieldDef* Find(const std::string& Name) const;
  // 30349 "Field '%s' not found".
  void DeleteFieldDef(const std::string& Name);
  void Clear() { FItems.clear(); }
  int32_t Count() const { return static_cast<int32_t>(FItems.size()); }
  TVLTAdvFieldDef& operator[](int32_t I) const { return *FItems.at(static_cast<size_t>(I)); }
  void Assign(const TVLTAdvFieldDefs& Source);

 private:
  std::vector<std::unique_ptr<TVLTAdvFieldDef>> FItems;
};

class TVLTAdvIndexDefs {
 public:
  TVLTAdvIndexDef& Add(const std::string& Name, const std::string& Fields, uint8_t Options,
                       bool Temporary = false, const std::string& DescFields = {},
                       const std::string& CaseInsFields = {},
                       const std::string& MaxIndexedSizes = {});
  TVLTAdvIndexDef& AddIndexDef();
  TVLTAdvIndexDef* Find(const std::string& Name) const;
  // 20190 "Index '%s' not found".
  void DeleteIndexDef(const std::string& Name);
  void Clear() { FItems.clear(); }
  int32_t Count() const { return static_cast<int32_t>(FItems.size()); }
  TVLTAdvIndexDef& operator[](int32_t I) const { return *FItems.at(static_cast<size_t>(I)); }
  // SkipTemporaryIndexes leaves out temporary entries and those whose upper-cased name contains
  // "TEMPORARY".
  void Assign(const TVLTAdvIndexDefs& Source, bool SkipTemporaryIndexes = false);

 private:
  std::vector<std::unique_ptr<TVLTAdvIndexDef>> FItems;
};

}  // namespace vlt
