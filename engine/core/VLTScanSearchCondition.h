// Scan search conditions: what restricts one search of the table data (the key of a key search,
// the range bounds, the distinct position, and the parts of a filter that an index can answer),
// so that the table data scans an index range instead of reading every record. The table data
// runs them in this order around one scan: collect, create, merge, choose a start and an end
// condition, remove unused, extract, scan, return.
//
// A condition holds its key values in record-buffer layout (KeyRecordBuffer, from the memory
// manager). The buffer is freed with the condition unless it belongs to someone else
// (FExternalKeyRecordBuffer).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "engine/core/VLTTableData.h"

namespace vlt {

class TVLTIndexDefs;

// What merging a kept condition A with a new condition B on the same index gives: both stay,
// the search finds nothing, one of them stays (A, B, the one with fewer or more key fields), or
// A becomes an equality (a lower and an upper bound that meet).
enum class TVLTConditionMerge : uint8_t { Both, Empty, KeepA, KeepB, KeepFewer, KeepMore, AToEqual };

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

  // ---- merging the index conditions ----
  // Compares the keys of two conditions on their (common) index over the first FieldCount
  // fields: <0, 0, >0.
  using TKeyCompare = std::function<int(const TVLTScanSearchCondition& A,
                                        const TVLTScanSearchCondition& B, int32_t FieldCount)>;
  // An equality is not merged with a strict bound over more key fields than its own.
  static bool AreCompatible(TVLTSearchCondition A, int32_t KA, TVLTSearchCondition B, int32_t KB);
  // The merge outcome for kept A (KA key fields) and new B (KB), C being the comparison of A's
  // key with B's over the smaller key field count.
  static TVLTConditionMerge MergeOutcome(TVLTSearchCondition A, TVLTSearchCondition B, int C,
                                         int32_t KA, int32_t KB);
  // Merges the index conditions of every index (indexes in order of first occurrence,
  // conditions in array order), drops duplicates and puts the expression items after them.
  // False when the conditions exclude each other: the search finds nothing (the array is then
  // left as it was).
  bool MergeIndexConditions(const TKeyCompare& CompareKeys);
  // True when some index condition other than the two numbered ones (-1 = none) remains, or an
  // expression item still has something to evaluate.
  bool HasOtherTests(int32_t ScanConditionNo, int32_t ScanEndConditionNo) const;

  std::vector<std::unique_ptr<TVLTScanSearchCondition>> Items;
};

}  // namespace vlt
