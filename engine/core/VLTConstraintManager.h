// The constraint manager base: a table's constraints (primary key, unique, not null, check),
// their checks on a record, and the linking of constraints to the fields and indexes they name.
#pragma once

#include <cstdint>
#include <memory>

#include "engine/base/VLTTypes.h"
#include "engine/core/VLTConstraintDef.h"

namespace vlt {

class TVLTIndexDef;
class TVLTStream;
class TVLTTableData;

class TVLTBaseConstraintManager {
 public:
  TVLTBaseConstraintManager(TVLTTableData* TableData, std::unique_ptr<TVLTConstraintDefs> Defs);
  virtual ~TVLTBaseConstraintManager();

  void LoadMetadata(TVLTStream& Stream);
  void SaveMetadata(TVLTStream& Stream) const;

  // Checks the constraints in list order; the first failure ends the check, raising its error
  // (RaiseErrors) or answering false. Unique and primary-key rules only when CheckUnique.
  bool CheckConstraints(TVLTSessionID SessionID, const uint8_t* NewRecordBuffer, bool CheckUnique,
                        bool RaiseErrors, const TVLTPageItemID& RecordID, bool ToInsert,
                        const uint8_t* OldRecordBuffer);
  // Resolves the index and column names of one constraint to object ids.
  void LinkObjectId(TVLTConstraintDef& Def);
  void LinkObjectIds();
  // Names the unnamed not-null and check constraints.
  void FillConstraintAutoNames();
  // A primary or unique index implies a constraint; other indexes add nothing.
  void AddConstraintFromIndex(const TVLTIndexDef& IndexDef);
  void DeleteConstraintForIndexID(TVLTObjectID IndexObjectID);

  TVLTConstraintDefs& ConstraintDefs() const { return *FConstraintDefs; }

 protected:
  std::unique_ptr<TVLTConstraintDefs> FConstraintDefs;
  TVLTTableData* FTableData;
};

}  // namespace vlt
