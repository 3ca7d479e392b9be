#include "engine/components/VLTScanSearchCondition.h"

#include <cstring>

#include "engine/core/VLTExcept.h"
#include "engine/core/VLTMemory.h"

namespace vlt {

void TVLTScanSearchCondition::ClearKeyRecordBuffer() {
  if (KeyRecordBuffer && !FExternalKeyRecordBuffer)
    TVLTMemoryManager::Instance().FreeMem(KeyRecordBuffer);
  KeyRecordBuffer = nullptr;
  KeyRecordBufferSize = 0;
  FExternalKeyRecordBuffer = false;
}

void TVLTScanSearchCondition::SetKeyRecordBuffer(const uint8_t* Buffer, int32_t Size) {
  ClearKeyRecordBuffer();
  if (!Buffer || Size <= 0) return;
  KeyRecordBuffer = static_cast<uint8_t*>(TVLTMemoryManager::Instance().GetMem(Size));
  std::memcpy(KeyRecordBuffer, Buffer, static_cast<size_t>(Size));
  KeyRecordBufferSize = Size;
}

void TVLTScanSearchCondition::Assign(const TVLTScanSearchCondition& Source) {
  if (&Source == this) return;
  SetKeyRecordBuffer(Source.KeyRecordBuffer, Source.KeyRecordBufferSize);
  Expression = Source.Expression;
  Condition = Source.Condition;
  KeyFieldCount = Source.KeyFieldCount;
  IndexID = Source.IndexID;
  CreatedFromExpression = Source.CreatedFromExpression;
  ParentExpressions = Source.ParentExpressions;
  ParentExpressionNodes = Source.ParentExpressionNodes;
  PartialCompare = Source.PartialCompare;
}

void TVLTScanSearchConditionArray::AddExpression(TVLTExpression* Expression) {
  auto C = std::make_unique<TVLTScanSearchCondition>();
  C->Expression = Expression;
  Items.push_back(std::move(C));
}

void TVLTScanSearchConditionArray::AddCondition(const TVLTScanSearchCondition& Condition) {
  if (!Condition.Expression && Condition.IndexID == -1)
    throw EVLTException(10388, "Invalid scan condition - indexID = %d, count = %d",
                        {int64_t{Condition.IndexID}, int64_t{Count()}});
  auto C = std::make_unique<TVLTScanSearchCondition>();
  C->Assign(Condition);
  Items.push_back(std::move(C));
}

void TVLTScanSearchConditionArray::Delete(int32_t ItemNo) {
  if (ItemNo < 0 || ItemNo >= Count())
    throw EVLTException(10413, "Invalid item number - ItemNo = %d, ItemCount = %d",
                        {int64_t{ItemNo}, int64_t{Count()}});
  if (!Items[static_cast<size_t>(ItemNo)]) VLTRaiseNilPointer(10414);
  Items.erase(Items.begin() + ItemNo);
}

void TVLTScanSearchConditionArray::CreateIndexScanConditionsFromExpressions(
    const TVLTIndexDefs& /*IndexDefs*/, TVLTSessionID /*SessionID*/) {}

void TVLTScanSearchConditionArray::RemoveUnusedConditionsCreatedFromExpressions(
    int32_t& ScanConditionNo, int32_t& ScanEndConditionNo) {
  for (int32_t I = Count() - 1; I >= 0; --I) {
    if (!Items[static_cast<size_t>(I)]->CreatedFromExpression) continue;
    if (I == ScanConditionNo || I == ScanEndConditionNo) continue;
    Delete(I);
    if (ScanConditionNo > I) --ScanConditionNo;
    if (ScanEndConditionNo > I) --ScanEndConditionNo;
  }
}

void TVLTScanSearchConditionArray::ExtractChosenConditionsFromExpressions(
    int32_t /*ScanConditionNo*/, int32_t /*ScanEndConditionNo*/) {}

void TVLTScanSearchConditionArray::ReturnExtractedConditionsToExpressions() {
  for (auto& C : Items) {
    C->ParentExpressions.clear();
    C->ParentExpressionNodes.clear();
  }
}

}  // namespace vlt
