#include "engine/components/VLTScanSearchCondition.h"

#include <algorithm>
#include <cstring>

#include "engine/components/VLTCursor.h"
#include "engine/core/VLTExcept.h"
#include "engine/core/VLTIndexDef.h"
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

namespace {

TVLTExprIndexInfo IndexInfoOf(const TVLTIndexDef& D) {
  TVLTExprIndexInfo I;
  I.IndexID = D.FObjectID;
  I.Temporary = D.FTemporary;
  I.SessionID = D.FSessionID;
  for (const TVLTIndexColumn& C : D.FIndexColumns)
    I.Columns.push_back({C.FFieldName, C.FDescending, C.FCaseInsensitive});
  return I;
}

}  // namespace

void TVLTScanSearchConditionArray::CreateIndexScanConditionsFromExpressions(
    const TVLTIndexDefs& IndexDefs, TVLTSessionID SessionID) {
  std::vector<TVLTExprIndexInfo> Infos;
  for (int32_t I = 0; I < IndexDefs.Count(); ++I) Infos.push_back(IndexInfoOf(IndexDefs[I]));
  std::vector<TVLTExpression*> Expressions;
  for (auto& C : Items)
    if (C->Expression && !C->CreatedFromExpression &&
        std::find(Expressions.begin(), Expressions.end(), C->Expression) == Expressions.end())
      Expressions.push_back(C->Expression);

  TVLTExprScanConditions Found;
  for (TVLTExpression* E : Expressions) E->CreateIndexScanConditions(Infos, Found, SessionID);

  for (TVLTExprScanCondition& F : Found) {
    auto Info = std::find_if(Infos.begin(), Infos.end(),
                             [&](const TVLTExprIndexInfo& I) { return I.IndexID == F.IndexID; });
    if (Info == Infos.end()) continue;
    if (Info->Columns.size() >= 2) {
      for (bool Added = true; Added;) {
        Added = false;
        for (TVLTExpression* E : Expressions)
          if (E->ExtendMultiFieldIndexCondition(F, *Info)) {
            Added = true;
            break;
          }
      }
    }
    // The key record buffer comes from the cursor whose fields the key values belong to.
    TVLTExpression* Parent = F.ParentExpressions.empty() ? nullptr : F.ParentExpressions[0];
    auto* Cursor = Parent ? dynamic_cast<TVLTCursor*>(Parent->Cursor()) : nullptr;
    if (!Cursor) VLTRaiseNilPointer(10415);
    auto C = std::make_unique<TVLTScanSearchCondition>();
    C->Expression = Parent;
    C->Condition = F.Condition;
    C->IndexID = F.IndexID;
    C->CreatedFromExpression = true;
    C->PartialCompare = F.PartialCompare;
    C->KeyRecordBuffer = Cursor->AllocateRecordBuffer();
    C->KeyRecordBufferSize = Cursor->FRecordBufferSize;
    // Every field starts null; the key fields get their values (cast to the field's type).
    const int32_t Bitmap = (Cursor->FieldCount() + 7) / 8;
    std::memset(C->KeyRecordBuffer, 0xFF,
                static_cast<size_t>(std::min(Bitmap, C->KeyRecordBufferSize)));
    for (const TVLTExprScanCondition::TKeyField& K : F.KeyFields) {
      Cursor->SetFieldValue(K.Value, K.FieldNo, true, C->KeyRecordBuffer);
      ++C->KeyFieldCount;
    }
    C->ParentExpressions = F.ParentExpressions;
    for (TVLTExprNode* N : F.ParentExpressionNodes) C->ParentExpressionNodes.push_back(N);
    Items.push_back(std::move(C));
  }
}

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
    int32_t ScanConditionNo, int32_t ScanEndConditionNo) {
  for (int32_t No : {ScanConditionNo, ScanEndConditionNo}) {
    if (No < 0 || No >= Count()) continue;
    TVLTScanSearchCondition& C = *Items[static_cast<size_t>(No)];
    const size_t N = std::min(C.ParentExpressions.size(), C.ParentExpressionNodes.size());
    for (size_t I = 0; I < N; ++I)
      if (C.ParentExpressions[I])
        C.ParentExpressions[I]->RemoveExtractedNodes(
            {static_cast<TVLTExprNode*>(C.ParentExpressionNodes[I])});
  }
}

void TVLTScanSearchConditionArray::ReturnExtractedConditionsToExpressions() {
  for (auto& C : Items)
    for (TVLTExpression* E : C->ParentExpressions)
      if (E) E->ReturnExtractedNodes();
}

}  // namespace vlt
