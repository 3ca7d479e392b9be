// Constraint definitions (primary key, unique, not null, check) and the constraint list.
//
// In the constraint list every definition is preceded by its 1-byte constraint type, which
// selects the class on load (0 primary key, 2 unique, 3 not null, 4 check).
//
// Not-null and check constraint (after the meta object part):
//
//   SIZE  CONTENT
//   4     FTableSchemaObjectID (Int32)
//   4     FTableObjectID (Int32)
//   4     FColumnObjectID (Int32)
//   3 x   1-byte N = L + 1, then N bytes: length byte L and L characters, for
//         FTableSchemaName, FTableName, FColumnName in this order
//   var   check only: FMinValue, FMaxValue as serialized values
//
// Unique and primary-key constraint (after the meta object part):
//
//   SIZE  CONTENT
//   4     FTableSchemaObjectID (Int32)
//   4     FTableObjectID (Int32)
//   4     FIndexObjectID (Int32)
//   3 x   4-byte N = L + 1, then N bytes: length byte L and L characters, for
//         FTableSchemaName, FTableName, FIndexName in this order
//   4     column count K (Int32)
//   K x   4-byte ColumnObjectID, 4-byte N = L + 1, N bytes of ColumnName's image
#pragma once

#include <string>
#include <vector>

#include "engine/core/VLTMetaObjectDef.h"
#include "engine/expr/VLTVariant.h"

namespace vlt {

enum TVLTConstraintType : uint8_t { ctPK = 0, ctFK = 1, ctUnique = 2, ctNotNull = 3, ctCheck = 4 };

class TVLTConstraintDef : public TVLTMetaObjectDef {
 public:
  explicit TVLTConstraintDef(TVLTConstraintType Type) : FConstraintType(Type) {}
  TVLTConstraintType FConstraintType;
};

// A constraint on one column of a table.
class TVLTConstraintDefNotNull : public TVLTConstraintDef {
 public:
  TVLTConstraintDefNotNull() : TVLTConstraintDef(ctNotNull) {}

  // Fills the three names (each cut to 255 characters) and the schema name.
  void SetNames(std::string_view ColumnName, std::string_view TableName, std::string_view SchemaName);

  void Assign(const TVLTMetaObjectDef& Source) override;
  void LoadFromStream(TVLTStream& Stream) override;
  void SaveToStream(TVLTStream& Stream) const override;

  std::string FTableSchemaName;
  int32_t FTableSchemaObjectID = -1;
  std::string FTableName;
  TVLTObjectID FTableObjectID = kNoObjectID;
  std::string FColumnName;
  TVLTObjectID FColumnObjectID = kNoObjectID;

 protected:
  explicit TVLTConstraintDefNotNull(TVLTConstraintType Type) : TVLTConstraintDef(Type) {}
};

// A range check on one column; a null bound is not checked.
class TVLTConstraintDefCheck : public TVLTConstraintDefNotNull {
 public:
  TVLTConstraintDefCheck() : TVLTConstraintDefNotNull(ctCheck) {}

  void Assign(const TVLTMetaObjectDef& Source) override;
  void LoadFromStream(TVLTStream& Stream) override;
  void SaveToStream(TVLTStream& Stream) const override;

  TVLTVariant FMinValue;
  TVLTVariant FMaxValue;
};

struct TVLTConstraintColumn {
  std::string ColumnName;
  TVLTObjectID ColumnObjectID = kNoObjectID;
};

// Uniqueness of a column list, enforced by the index FIndexObjectID.
class TVLTConstraintDefUnique : public TVLTConstraintDef {
 public:
  TVLTConstraintDefUnique() : TVLTConstraintDef(ctUnique) {}

  void Assign(const TVLTMetaObjectDef& Source) override;
  void LoadFromStream(TVLTStream& Stream) override;
  void SaveToStream(TVLTStream& Stream) const override;

  std::string FTableSchemaName;
  int32_t FTableSchemaObjectID = -1;
  std::string FTableName;
  TVLTObjectID FTableObjectID = kNoObjectID;
  std::string FIndexName;
  TVLTObjectID FIndexObjectID = kNoObjectID;
  std::vector<TVLTConstraintColumn> Columns;

 protected:
  explicit TVLTConstraintDefUnique(TVLTConstraintType Type) : TVLTConstraintDef(Type) {}
};

class TVLTConstraintDefPrimary : public TVLTConstraintDefUnique {
 public:
  TVLTConstraintDefPrimary() : TVLTConstraintDefUnique(ctPK) {}
};

class TVLTConstraintDefs : public TVLTMetaObjectDefs {
 public:
  TVLTConstraintDef& operator[](int32_t Index) const {
    return static_cast<TVLTConstraintDef&>(Item(Index));
  }
  TVLTConstraintDefPrimary& AddPK();
  TVLTConstraintDefUnique& AddUnique();
  TVLTConstraintDefNotNull& AddNotNull();
  TVLTConstraintDefCheck& AddCheck();

  // A new definition of the class for Type; 30035 "Not implemented yet" for foreign keys and
  // unknown types.
  static std::unique_ptr<TVLTConstraintDef> Create(TVLTConstraintType Type);

 protected:
  std::string_view ClassName() const override { return "TVLTConstraintDefs"; }
  std::unique_ptr<TVLTMetaObjectDef> CreateCopyOf(const TVLTMetaObjectDef& Source) override;
  std::unique_ptr<TVLTMetaObjectDef> LoadOne(TVLTStream& Stream) override;
  void SaveOne(TVLTStream& Stream, const TVLTMetaObjectDef& Def) const override;
};

}  // namespace vlt
