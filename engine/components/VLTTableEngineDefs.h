// The index-column rules of the table component: how the field lists of an index definition
// (TVLTComponentIndexDef, TVLTAdvIndexDef, AddIndex) give the engine's index columns. Creating
// a table, adding an index and writing an index as SQL all go by these rules.
//
//   - Fields names the columns in order (VLTSplitFieldList).
//   - A column is descending iff its field is listed in DescFields, or DescFields lists nothing
//     and the options carry ixDescending; case-insensitive likewise with CaseInsFields and
//     ixCaseInsensitive. Names are compared without regard to case.
//   - Its indexed size is the size given for it in MaxIndexedSizes when that is positive and
//     the field is of a sized type other than a GUID; otherwise kVLTDefaultMaxIndexedSize.
//
// The building of the engine definitions itself (TVLTTable::BuildEngineDefinitions) and
// reading them back (TVLTTable::ReadDefinitionsBack) are in VLTTableEngineDefs.cpp.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "engine/base/VLTTypes.h"
#include "engine/core/VLTIndexDef.h"
#include "engine/expr/VLTFieldTypes.h"

namespace vlt {

inline constexpr int32_t kVLTDefaultMaxIndexedSize = 20;

class TVLTIndexColumnRules {
 public:
  TVLTIndexColumnRules(const std::string& Fields, const std::string& DescFields,
                       const std::string& CaseInsFields, uint8_t Options);

  // The column fields as listed, in order.
  const std::vector<std::string>& Names() const { return FNames; }
  bool Descending(const std::string& FieldName) const;
  bool CaseInsensitive(const std::string& FieldName) const;
  // The column of the K-th listed field (REQUIRES: K < Names().size()).
  TVLTIndexColumn Column(size_t K, int32_t MaxIndexedSize = kVLTDefaultMaxIndexedSize) const;
  // DescFields (CaseInsFields) lists exactly the index fields, in their order: the whole index
  // is descending (case-insensitive), as the ixDescending (ixCaseInsensitive) option says.
  bool AllDescending() const { return FDescGiven && SameList(FDesc); }
  bool AllCaseInsensitive() const { return FCaseInsGiven && SameList(FCaseIns); }

 private:
  bool SameList(const std::vector<std::string>& List) const;

  std::vector<std::string> FNames, FDesc, FCaseIns;
  bool FDescGiven, FCaseInsGiven;  // the list texts were not empty
  uint8_t FOptions;
};

// The indexed size of a column of a field of type T for which Given was written (see above).
int32_t VLTIndexedSize(const std::string& Given, TVLTAdvancedFieldType T);

}  // namespace vlt
