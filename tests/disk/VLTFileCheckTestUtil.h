// The check that ends the crash, fault and repair tests: the database file they leave, opened
// read-only on its own, keeps the page manager's and the free-space manager's invariants, and its
// page map agrees with its bitmaps with no page leaked.
#pragma once

#include <gtest/gtest.h>

#include <exception>
#include <string>

#include "engine/disk/VLTDiskPageManager.h"
#include "engine/disk/VLTPageMapCheck.h"

namespace vlt::test {

// The first problem of a page map report, for the failure message.
inline std::string FirstPageMapProblem(const TVLTPageMapReport& Map) {
  for (const TVLTPageMapEntry& E : Map.Pages)
    if (!E.Problems.empty()) return "page " + std::to_string(E.PageNo) + ": " + E.Problems[0];
  return Map.Problems.empty() ? std::string() : Map.Problems[0];
}

// WithRepairFlag false: a commit cut off without its journal (the file's repair flag) is not
// counted; that is the repair's business, and a crash test may leave one on purpose.
inline void ExpectSoundDatabaseFile(const std::string& Path, const TVLTPassword& Password = {},
                                    bool WithRepairFlag = true) {
  SCOPED_TRACE("file check of " + Path);
  TVLTDiskPageManager M;
  M.SetLockRetry(3, 1);
  bool ReadOnly = true, RepairNeeded = false, MultiUser = false;
  try {
    M.OpenDatabase(Path, Password, ReadOnly, RepairNeeded, false, MultiUser);
  } catch (const std::exception& E) {
    ADD_FAILURE() << "the file does not open: " << E.what();
    return;
  }
  EXPECT_NO_THROW(M.CheckDiskInvariants());
  const TVLTPageMapReport Map = CheckPageMap(M, WithRepairFlag && RepairNeeded);
  EXPECT_EQ(Map.ProblemCount(), 0) << FirstPageMapProblem(Map);
  EXPECT_EQ(Map.LeakedPages, 0);
  M.CloseDatabase();
}

}  // namespace vlt::test
