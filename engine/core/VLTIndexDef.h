// Index definitions and the index list.
//
// Index definition in the metadata stream (after the meta object part):
//
//   SIZE  CONTENT
//   1     FIndexType (0 = B-tree)
//   1     FUnique
//   1     FPrimary
//   4     column count C (Int32)
//   4     FRootPageNo (Int32)
//   C x   index column:
//           1  L, length of the field name
//           L  field name (8-bit characters)
//           1  FDescending
//           1  FCaseInsensitive
//           4  FMaxIndexedSize (Int32)
//
// Temporary indexes live in one session only: the list neither writes nor counts them.
#pragma once

#include <string>
#include <vector>

#include "engine/core/VLTMetaObjectDef.h"

namespace vlt {

class TVLTFieldDefs;

enum TVLTIndexType : uint8_t { itBTree = 0, itAnotherOne = 1 };

struct TVLTIndexColumn {
  std::string FFieldName;
  bool FDescending = false;
  bool FCaseInsensitive = false;
  int32_t FMaxIndexedSize = 0;  // 0 when created empty, 20 from AssignByNames
};

class TVLTIndexDef : public TVLTMetaObjectDef {
 public:
  int32_t ColumnCount() const { return static_cast<int32_t>(FIndexColumns.size()); }
  // Growing adds empty columns; shrinking drops the surplus.
  void SetColumnCount(int32_t Count) { FIndexColumns.resize(static_cast<size_t>(Count < 0 ? 0 : Count)); }

  // Columns from three lists of equal length: names, "ASC"/"DESC" entries and "CASE"/"NO_CASE"
  // entries (keywords compare exactly). Lengths that differ raise 10278 (names against
  // ascending/descending) or 10279 (names against case).
  void AssignByNames(const std::vector<std::string>& FieldNames,
                     const std::vector<std::string>& AscDescList,
                     const std::vector<std::string>& CaseSensitivityList);

  void Assign(const TVLTMetaObjectDef& Source) override;
  void LoadFromStream(TVLTStream& Stream) override;
  void SaveToStream(TVLTStream& Stream) const override;

  TVLTIndexType FIndexType = itBTree;
  std::vector<TVLTIndexColumn> FIndexColumns;
  bool FUnique = false;
  bool FPrimary = false;
  TVLTPageNo FRootPageNo = kNoPage;
  bool FTemporary = false;      // not stored
  TVLTSessionID FSessionID = kNoSessionID;
  int32_t FTableState = 0;
  bool FNeedRebuild = false;    // not stored
};

class TVLTIndexDefs : public TVLTTypedDefs<TVLTIndexDef> {
 public:
  TVLTIndexDef* GetIndexDefByName(std::string_view Name) const { return GetByName(Name); }
  // Replaces the definition at Index (the old one is freed).
  void Replace(int32_t Index, std::unique_ptr<TVLTIndexDef> Def);

  // The object id of the first index whose leading columns serve FieldNames with the requested
  // order and case sensitivity, or -1. Null lists raise "Nil pointer occured" (10389, 10390,
  // 10391); lists of unequal length raise 10276 / 10277.
  TVLTObjectID FindIndex(const std::vector<std::string>* FieldNames,
                         const std::vector<std::string>* AscDescList, const TVLTFieldDefs* FieldDefs,
                         TVLTSessionID SessionID,
                         const std::vector<std::string>* CaseSensitivityList) const;
  bool IsIndexExists(const std::vector<std::string>* FieldNames,
                     const std::vector<std::string>* AscDescList, const TVLTFieldDefs* FieldDefs,
                     TVLTSessionID SessionID,
                     const std::vector<std::string>* CaseSensitivityList) const {
    return FindIndex(FieldNames, AscDescList, FieldDefs, SessionID, CaseSensitivityList) != -1;
  }

 protected:
  std::string_view ClassName() const override { return "TVLTIndexDefs"; }
  bool IsStored(const TVLTMetaObjectDef& Def) const override {
    return !static_cast<const TVLTIndexDef&>(Def).FTemporary;
  }
};

}  // namespace vlt
