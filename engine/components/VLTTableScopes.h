// Scope guards that the table component's units (VLTTable*.cpp) share: keeping a dataset's
// state across a transfer, firing an "after" event on every path, and telling whether two
// names denote one database file. Internal to the table component.
#pragma once

#include <filesystem>
#include <string>
#include <system_error>

#include "engine/components/VLTDataSet.h"

namespace vlt {

// Opens a dataset for the duration when it was closed; otherwise keeps its record (pending
// edits are posted first) and returns to it. With Reopen an open dataset is also closed and
// opened again, so that it is read afresh (a table copy).
class TVLTKeepDataSet {
 public:
  explicit TVLTKeepDataSet(TVLTDataSet& DataSet, bool Reopen = false)
      : FDataSet(DataSet), FWasActive(DataSet.Active()) {
    if (FWasActive) {
      FDataSet.CheckBrowseMode();
      if (!FDataSet.IsEmpty()) FBookmark = FDataSet.GetBookmark();
      if (Reopen) {
        FDataSet.Close();
        FDataSet.Open();
      }
    } else {
      FDataSet.Open();
    }
  }
  ~TVLTKeepDataSet() {
    try {
      if (!FWasActive) {
        FDataSet.Close();
      } else if (FDataSet.Active() && FDataSet.State() == dsBrowse && !FBookmark.empty() &&
                 FDataSet.BookmarkValid(FBookmark)) {
        FDataSet.GotoBookmark(FBookmark);
      }
    } catch (...) {
      // A destructor cannot raise; nothing is left to undo.
    }
  }
  TVLTKeepDataSet(const TVLTKeepDataSet&) = delete;
  TVLTKeepDataSet& operator=(const TVLTKeepDataSet&) = delete;

 private:
  TVLTDataSet& FDataSet;
  bool FWasActive;
  TVLTBookmark FBookmark;
};

// Fires an "after" event when the scope ends, also by error.
class TVLTAfterEvent {
 public:
  TVLTAfterEvent(const TVLTDataSet::TDataSetNotifyEvent& Event, TVLTDataSet& Table)
      : FEvent(Event), FTable(Table) {}
  ~TVLTAfterEvent() {
    if (!FEvent) return;
    try {
      FEvent(FTable);
    } catch (...) {
      // A destructor cannot raise; the event handler reports its own failures.
    }
  }
  TVLTAfterEvent(const TVLTAfterEvent&) = delete;
  TVLTAfterEvent& operator=(const TVLTAfterEvent&) = delete;

 private:
  const TVLTDataSet::TDataSetNotifyEvent& FEvent;
  TVLTDataSet& FTable;
};

// Two names of one database file (the same path written differently); names that cannot be
// resolved are compared as written.
inline bool VLTSameDatabaseFile(const std::string& A, const std::string& B) {
  std::error_code E1, E2;
  const auto CA = std::filesystem::weakly_canonical(A, E1);
  const auto CB = std::filesystem::weakly_canonical(B, E2);
  if (!E1 && !E2) return CA == CB;
  return A == B;
}

}  // namespace vlt
