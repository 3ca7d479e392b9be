#include "engine/disk/VLTDiskTablePagesCache.h"

#include <algorithm>

#include "engine/base/VLTErrorCodes.h"
#include "engine/base/VLTExcept.h"

namespace vlt {

namespace {
void Reset(TVLTDTPCTableInfo& T) {
  T.IsMostUpdatedLoaded = false;
  T.TableState = -1;
}
}  // namespace

TVLTDTPCTableInfo& TVLTDTPCSessionInfo::Table(int32_t TableID) {
  for (auto& T : FTableInfo)
    if (T.TableID == TableID) return T;
  FTableInfo.push_back({});
  FTableInfo.back().TableID = TableID;
  return FTableInfo.back();
}

TVLTDTPCSessionInfo& TVLTDiskTablePagesCacheManager::Session(TVLTSessionID SessionID) {
  if (SessionID < kSystemSessionID) throw EVLTException(kErrInvalidSessionID, "Invalid Session ID");
  size_t I = static_cast<size_t>(SessionID + 2);
  if (I >= FSessionInfo.size()) FSessionInfo.resize(I + 1);
  return FSessionInfo[I];
}

void TVLTDiskTablePagesCacheManager::TableIsSLocked(TVLTSessionID SessionID, int32_t TableID) {
  auto& T = Session(SessionID).Table(TableID);
  if (T.TableSLockCount == 0 && T.TableRWLockCount == 0) Reset(T);
  ++T.TableSLockCount;
}

void TVLTDiskTablePagesCacheManager::TableIsRWLocked(TVLTSessionID SessionID, int32_t TableID) {
  auto& T = Session(SessionID).Table(TableID);
  if (T.TableSLockCount == 0 && T.TableRWLockCount == 0) Reset(T);
  ++T.TableRWLockCount;
}

void TVLTDiskTablePagesCacheManager::TableIsSUnlocked(TVLTSessionID SessionID, int32_t TableID) {
  auto& T = Session(SessionID).Table(TableID);
  if (T.TableSLockCount > 0) --T.TableSLockCount;
  if (T.TableSLockCount == 0 && T.TableRWLockCount == 0) Reset(T);
}

void TVLTDiskTablePagesCacheManager::TableIsRWUnlocked(TVLTSessionID SessionID, int32_t TableID) {
  auto& T = Session(SessionID).Table(TableID);
  if (T.TableRWLockCount > 0) --T.TableRWLockCount;
  if (T.TableSLockCount == 0 && T.TableRWLockCount == 0) Reset(T);
}

bool TVLTDiskTablePagesCacheManager::GetIsMostUpdatedLoaded(TVLTSessionID SessionID,
                                                            int32_t TableID) {
  return Session(SessionID).Table(TableID).IsMostUpdatedLoaded;
}

void TVLTDiskTablePagesCacheManager::SetIsMostUpdatedLoaded(TVLTSessionID SessionID,
                                                            int32_t TableID, int32_t TableState) {
  auto& T = Session(SessionID).Table(TableID);
  if (T.IsMostUpdatedLoaded) return;
  T.IsMostUpdatedLoaded = true;
  T.TableState = TableState;
}

void TVLTDiskTablePagesCacheManager::BeginWorkWithTable(TVLTSessionID SessionID,
                                                        int32_t TableID) {
  Session(SessionID).FWorkTableIDs.push_back(TableID);
}

void TVLTDiskTablePagesCacheManager::EndWorkWithTable(TVLTSessionID SessionID, int32_t TableID) {
  auto& W = Session(SessionID).FWorkTableIDs;
  auto It = std::find(W.begin(), W.end(), TableID);
  if (It != W.end()) W.erase(It);
}

bool TVLTDiskTablePagesCacheManager::GetWorkTableState(TVLTSessionID SessionID,
                                                       int32_t& WorkTableState) {
  auto& S = Session(SessionID);
  if (S.FWorkTableIDs.empty()) return false;
  auto& T = S.Table(S.FWorkTableIDs.back());
  WorkTableState = T.TableState;
  return T.TableSLockCount + T.TableRWLockCount > 0 && T.IsMostUpdatedLoaded;
}

}  // namespace vlt
