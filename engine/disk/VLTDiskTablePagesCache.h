// TVLTDiskTablePagesCacheManager: per session and table, what lets a session trust its cached
// pages in multi-user mode without looking at the file. While a session holds a shared (S) or
// read-write (RW) lock on the table it works on, no other process can change that table; once
// it has also loaded the table's change state, a cached page stamped with that same state is
// current.
//
// Entries are indexed by session id + 2 (the system session -2 is entry 0) and created on
// demand; a table entry is reset (not loaded, TableState -1) whenever its last lock goes away or
// its first lock is taken.
#pragma once

#include <cstdint>
#include <vector>

#include "engine/base/VLTTypes.h"

namespace vlt {

struct TVLTDTPCTableInfo {
  int32_t TableID = -1;
  int32_t TableSLockCount = 0;
  int32_t TableRWLockCount = 0;
  bool IsMostUpdatedLoaded = false;
  int32_t TableState = -1;
};

struct TVLTDTPCSessionInfo {
  std::vector<TVLTDTPCTableInfo> FTableInfo;
  std::vector<int32_t> FWorkTableIDs;  // a stack: the table worked on last is at the back

  TVLTDTPCTableInfo& Table(int32_t TableID);
};

class TVLTDiskTablePagesCacheManager {
 public:
  void TableIsSLocked(TVLTSessionID SessionID, int32_t TableID);
  void TableIsSUnlocked(TVLTSessionID SessionID, int32_t TableID);
  void TableIsRWLocked(TVLTSessionID SessionID, int32_t TableID);
  void TableIsRWUnlocked(TVLTSessionID SessionID, int32_t TableID);
  bool GetIsMostUpdatedLoaded(TVLTSessionID SessionID, int32_t TableID);
  // Marks the table's change state loaded; later calls before the next reset change nothing.
  void SetIsMostUpdatedLoaded(TVLTSessionID SessionID, int32_t TableID, int32_t TableState);
  void BeginWorkWithTable(TVLTSessionID SessionID, int32_t TableID);
  // Removes the first occurrence of the table id from the work list.
  void EndWorkWithTable(TVLTSessionID SessionID, int32_t TableID);
  // False when the session works on no table. Otherwise, for the table pushed last: whether it
  // is locked (S or RW) and its state loaded; WorkTableState receives its TableState.
  bool GetWorkTableState(TVLTSessionID SessionID, int32_t& WorkTableState);

 private:
  TVLTDTPCSessionInfo& Session(TVLTSessionID SessionID);

  std::vector<TVLTDTPCSessionInfo> FSessionInfo;
};

}  // namespace vlt
