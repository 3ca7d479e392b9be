#include "engine/core/VLTScanSearchCondition.h"

#include <algorithm>
#include <cstring>

#include "engine/base/VLTExcept.h"
#include "engine/base/VLTMemory.h"
#include "engine/core/VLTIndexDef.h"
#include "engine/core/VLTTableCursor.h"
#include "engine/expr/VLTExpression.h"

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
    auto* Cursor = Parent ? dynamic_cast<TVLTTableCursor*>(Parent->Cursor()) : nullptr;
    if (!Cursor) VLTRaiseNilPointer(10415);
    auto C = std::make_unique<TVLTScanSearchCondition>();
    C->Expression = Parent;
    C->Condition = F.Condition;
    C->IndexID = F.IndexID;
    C->CreatedFromExpression = true;
    C->PartialCompare = F.PartialCompare;
    C->KeyRecordBuffer = Cursor->AllocateScanKeyBuffer(C->KeyRecordBufferSize);
    if (!C->KeyRecordBuffer) VLTRaiseNilPointer(10415);
    for (const TVLTExprScanCondition::TKeyField& K : F.KeyFields) {
      Cursor->SetScanKeyValue(K.Value, K.FieldNo, C->KeyRecordBuffer);
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

// ---- merging ----

bool TVLTScanSearchConditionArray::AreCompatible(TVLTSearchCondition A, int32_t KA,
                                                 TVLTSearchCondition B, int32_t KB) {
  auto Strict = [](TVLTSearchCondition C) { return C == scLower || C == scGreater; };
  if (A == scEqual && Strict(B) && KA < KB) return false;
  if (B == scEqual && Strict(A) && KB < KA) return false;
  return true;
}

TVLTConditionMerge TVLTScanSearchConditionArray::MergeOutcome(TVLTSearchCondition A,
                                                              TVLTSearchCondition B, int C,
                                                              int32_t KA, int32_t KB) {
  using M = TVLTConditionMerge;
  const bool ALong = KA >= KB, AShort = KA <= KB;
  const bool BLong = KB >= KA, BShort = KB <= KA;
  switch (A) {
    case scEqual:
      switch (B) {
        case scEqual: return C == 0 ? M::KeepMore : M::Empty;
        case scLower: return C < 0 ? M::KeepA : M::Empty;
        case scGreater: return C > 0 ? M::KeepA : M::Empty;
        case scLowerEqual:
          if (C < 0) return M::KeepA;
          if (C == 0) return ALong ? M::KeepA : M::Both;
          return M::Empty;
        case scGreaterEqual:
          if (C > 0) return M::KeepA;
          if (C == 0) return ALong ? M::KeepA : M::Both;
          return M::Empty;
        default: return M::Both;
      }
    case scLower:
      switch (B) {
        case scEqual: return C > 0 ? M::KeepB : M::Empty;
        case scLower: return C < 0 ? M::KeepA : C == 0 ? M::KeepFewer : M::KeepB;
        case scGreater: return C > 0 ? M::Both : M::Empty;
        case scLowerEqual: return C <= 0 ? M::KeepA : M::KeepB;
        case scGreaterEqual:
          if (C < 0) return M::Empty;
          if (C == 0) return AShort ? M::Empty : M::Both;
          return M::Both;
        default: return M::Both;
      }
    case scGreater:
      switch (B) {
        case scEqual: return C < 0 ? M::KeepB : M::Empty;
        case scLower: return C < 0 ? M::Both : M::Empty;
        case scGreater: return C > 0 ? M::KeepA : C == 0 ? M::KeepMore : M::KeepB;
        case scLowerEqual:
          if (C > 0) return M::Empty;
          if (C == 0) return AShort ? M::Empty : M::Both;
          return M::Both;
        case scGreaterEqual: return C >= 0 ? M::KeepA : M::KeepB;
        default: return M::Both;
      }
    case scLowerEqual:
      switch (B) {
        case scEqual:
          if (C < 0) return M::Empty;
          if (C > 0) return M::KeepB;
          return BLong ? M::KeepB : M::Both;
        case scLower: return C < 0 ? M::KeepA : C == 0 ? M::Both : M::KeepB;
        case scGreater:
          if (C < 0) return M::Empty;
          if (C == 0) return BShort ? M::Empty : M::Both;
          return M::Both;
        case scLowerEqual: return C < 0 ? M::KeepA : C == 0 ? M::KeepMore : M::KeepB;
        case scGreaterEqual:
          if (C < 0) return M::Empty;
          return C == 0 && KA == KB ? M::AToEqual : M::Both;
        default: return M::Both;
      }
    case scGreaterEqual:
      switch (B) {
        case scEqual:
          if (C > 0) return M::Empty;
          if (C < 0) return M::KeepB;
          return BLong ? M::KeepB : M::Both;
        case scLower:
          if (C > 0) return M::Empty;
          if (C == 0) return BShort ? M::Empty : M::Both;
          return M::Both;
        case scGreater: return C <= 0 ? M::KeepB : M::KeepA;
        case scLowerEqual:
          if (C > 0) return M::Empty;
          return C == 0 && KA == KB ? M::AToEqual : M::Both;
        case scGreaterEqual: return C > 0 ? M::KeepA : C < 0 ? M::KeepB : M::KeepMore;
        default: return M::Both;
      }
    default:
      return M::Both;
  }
}

bool TVLTScanSearchConditionArray::MergeIndexConditions(const TKeyCompare& CompareKeys) {
  using TItem = std::unique_ptr<TVLTScanSearchCondition>;
  std::vector<int32_t> Indexes;
  for (const TItem& C : Items)
    if (C->IndexID != -1 && std::find(Indexes.begin(), Indexes.end(), C->IndexID) == Indexes.end())
      Indexes.push_back(C->IndexID);

  // Decide first on the item numbers; the array changes only when nothing is empty.
  std::vector<int32_t> Order;                 // kept items, in their final order
  std::vector<std::pair<int32_t, bool>> ToEqual;  // kept items that become equalities
  for (int32_t Index : Indexes) {
    std::vector<int32_t> Kept;
    for (int32_t BNo = 0; BNo < Count(); ++BNo) {
      const TVLTScanSearchCondition& B = *Items[static_cast<size_t>(BNo)];
      if (B.IndexID != Index) continue;
      bool Dropped = false;
      for (int32_t& ANo : Kept) {
        if (B.Condition == scNone) break;
        const TVLTScanSearchCondition& A = *Items[static_cast<size_t>(ANo)];
        TVLTSearchCondition ACondition = A.Condition;
        for (const auto& E : ToEqual)
          if (E.first == ANo) ACondition = scEqual;
        if (ACondition == scNone) continue;
        if (!AreCompatible(ACondition, A.KeyFieldCount, B.Condition, B.KeyFieldCount)) continue;
        const int32_t N = std::min(A.KeyFieldCount, B.KeyFieldCount);
        const int Raw = CompareKeys(A, B, N);
        const int C = Raw < 0 ? -1 : Raw > 0 ? 1 : 0;
        const TVLTConditionMerge M =
            MergeOutcome(ACondition, B.Condition, C, A.KeyFieldCount, B.KeyFieldCount);
        switch (M) {
          case TVLTConditionMerge::Both:
            continue;
          case TVLTConditionMerge::Empty:
            return false;
          case TVLTConditionMerge::KeepA:
            break;
          case TVLTConditionMerge::KeepB:
            ANo = BNo;
            break;
          case TVLTConditionMerge::KeepFewer:
            if (A.KeyFieldCount > B.KeyFieldCount) ANo = BNo;
            break;
          case TVLTConditionMerge::KeepMore:
            if (A.KeyFieldCount < B.KeyFieldCount) ANo = BNo;
            break;
          case TVLTConditionMerge::AToEqual:
            // The equality is stronger than A's own expression node: when B does not come from
            // an expression, the merged condition must stay even if it does not drive the scan.
            ToEqual.emplace_back(ANo, !B.CreatedFromExpression);
            break;
        }
        Dropped = true;
        break;
      }
      if (!Dropped) Kept.push_back(BNo);
    }
    Order.insert(Order.end(), Kept.begin(), Kept.end());
  }

  for (const auto& [No, Keep] : ToEqual) {
    TVLTScanSearchCondition& C = *Items[static_cast<size_t>(No)];
    C.Condition = scEqual;
    if (Keep) C.CreatedFromExpression = false;
  }
  // Of two equal conditions the earlier one goes.
  for (bool Removed = true; Removed;) {
    Removed = false;
    for (size_t I = 0; I < Order.size() && !Removed; ++I)
      for (size_t J = I + 1; J < Order.size() && !Removed; ++J) {
        const TVLTScanSearchCondition& A = *Items[static_cast<size_t>(Order[I])];
        const TVLTScanSearchCondition& B = *Items[static_cast<size_t>(Order[J])];
        if (A.IndexID == B.IndexID && A.Condition != scNone && A.Condition == B.Condition &&
            A.KeyFieldCount == B.KeyFieldCount && CompareKeys(A, B, A.KeyFieldCount) == 0) {
          Order.erase(Order.begin() + static_cast<std::ptrdiff_t>(I));
          Removed = true;
        }
      }
  }

  std::vector<TItem> Result;
  for (int32_t No : Order) Result.push_back(std::move(Items[static_cast<size_t>(No)]));
  for (TItem& C : Items)
    if (C && C->IndexID == -1) Result.push_back(std::move(C));
  Items = std::move(Result);
  return true;
}

bool TVLTScanSearchConditionArray::HasOtherTests(int32_t ScanConditionNo,
                                                 int32_t ScanEndConditionNo) const {
  for (int32_t I = 0; I < Count(); ++I) {
    if (I == ScanConditionNo || I == ScanEndConditionNo) continue;
    const TVLTScanSearchCondition& C = *Items[static_cast<size_t>(I)];
    if (C.IndexID != -1) {
      if (!C.CreatedFromExpression) return true;
    } else if (C.Expression && !C.Expression->IsEmptyAfterExtraction()) {
      return true;
    }
  }
  return false;
}

}  // namespace vlt
