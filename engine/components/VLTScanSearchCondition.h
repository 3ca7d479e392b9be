// Scan search conditions: parts of a filter that an index can answer, so that the table data
// scans an index range instead of reading every record. The filter expression collects them,
// the table data chooses a start and an end condition among them around one scan:
// collect, create, choose, remove unused, extract, scan, return.
//
// A condition holds its key values in record-buffer layout (KeyRecordBuffer, from the memory
// manager). The buffer is freed with the condition unless it belongs to someone else
// (FExternalKeyRecordBuffer).
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "engine/core/VLTTableData.h"

namespace vlt {

class TVLTIndexDefs;

class TVLTScanSearchCondition {
 public:
  explicit TVLTScanSearchCondition(bool ExternalKeyRecordBuffer = false)
      : FExternalKeyRecordBuffer(ExternalKeyRecordBuffer) {}
  ~TVLTScanSearchCondition() { ClearKeyRecordBuffer(); }
  TVLTScanSearchCondition(const TVLTScanSearchCondition&) = delete;
  TVLTScanSearchCondition& operator=(const TVLTScanSearchCondition&) = delete;

  // Deep copy; the copy's key buffer is always its own.
  void Assign(const TVLTScanSearchCondition& Source);
  // Frees an own key buffer (an external one is only forgotten).
  void ClearKeyRecordBuffer();
  // Takes a copy of Size bytes as the own key buffer.
  void SetKeyRecordBuffer(const uint8_t* Buffer, int32_t Size);

  TVLTExpression* Expression = nullptr;  // not owned
  TVLTSearchCondition Condition = scNone;
  uint8_t* KeyRecordBuffer = nullptr;
  int32_t KeyRecordBufferSize = 0;
  int32_t KeyFieldCount = 0;
  int32_t IndexID = -1;
  bool CreatedFromExpression = false;
  // Nodes taken out of expressions while the condition is in use (parallel lists).
  std::vector<TVLTExpression*> ParentExpressions;
  std::vector<void*> ParentExpressionNodes;
  bool FExternalKeyRecordBuffer;
  bool PartialCompare = false;
};

class TVLTScanSearchConditionArray {
 public:
  int32_t Count() const { return static_cast<int32_t>(Items.size()); }
  TVLTScanSearchCondition& operator[](int32_t I) { return *Items.at(static_cast<size_t>(I)); }

  // A condition with only the expression set (scNone, no index).
  void AddExpression(TVLTExpression* Expression);
  // Appends a copy; the condition needs an expression or an index (10388 "Invalid scan
  // condition - indexID = %d, count = %d").
  void AddCondition(const TVLTScanSearchCondition& Condition);
  // 10413 "Invalid item number - ItemNo = %d, ItemCount = %d"; 10414 for an empty slot.
  void Delete(int32_t ItemNo);
  // Asks every expression item for the index conditions its conjuncts yield (one per usable
  // index), widens each condition on an index of two or more columns with further equality
  // conjuncts of any expression item until none widens it, and appends the conditions
  // (CreatedFromExpression, key buffer from the expression's cursor).
  void CreateIndexScanConditionsFromExpressions(const TVLTIndexDefs& IndexDefs,
                                                TVLTSessionID SessionID);
  // Deletes every condition made from an expression except the chosen start and end
  // conditions, keeping the two numbers pointing at them (-1 = none).
  void RemoveUnusedConditionsCreatedFromExpressions(int32_t& ScanConditionNo,
                                                    int32_t& ScanEndConditionNo);
  // Takes the nodes the chosen conditions (-1 = none) cover out of their expressions, so that
  // the scan does not evaluate them again; Return puts every taken node back.
  void ExtractChosenConditionsFromExpressions(int32_t ScanConditionNo, int32_t ScanEndConditionNo);
  void ReturnExtractedConditionsToExpressions();

  std::vector<std::unique_ptr<TVLTScanSearchCondition>> Items;
};

}  // namespace vlt
