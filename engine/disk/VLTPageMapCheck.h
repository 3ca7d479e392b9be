// The page map of a database file against its free-space bitmaps, read straight from the file
// (no cache): every page's type, State, bitmap mark and checksum, and the verdict. What vltdb
// pages prints and what the crash, fault and repair tests assert at their end.
//
// Problems (damage): unreadable pages, checksums that fail, bitmap pages of the wrong type or not
// marked used, used pages of a type no page may have, live pages marked free, a file shorter
// than its header says, LastUsedPageNo against the
// bitmaps (below the highest live page), a file ending on a bitmap page, a cut-off commit.
// Warnings: leaked pages (marked used but never written or stamped freed: what a transaction
// that never committed leaves, given back by the next writable open that has the file to itself
// or a compaction), a LastUsedPageNo off the bitmaps only by such pages or free ones (a writer
// that died between an allocation's bitmap and header writes), extents marked full with a free
// page (space the allocator skips) and bytes beyond the last counted page.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "engine/base/VLTTypes.h"

namespace vlt {

class TVLTDiskPageManager;

struct TVLTPageMapEntry {
  TVLTPageNo PageNo = 0;
  bool Signed = false;       // it starts with a page header
  uint16_t PageType = 0;
  int32_t State = 0;
  int Bit = -1;              // its bitmap mark: 1 used, 0 free, -1 unknown
  std::string Checksum;      // "-" (not encrypted), "ok", "FAILED", "unreadable"
  std::vector<std::string> Problems;  // about this page
};

struct TVLTPageMapReport {
  std::vector<TVLTPageMapEntry> Pages;
  std::vector<std::string> Problems;  // about the file as a whole, after the pages'
  std::vector<std::string> Warnings;
  int64_t LeakedPages = 0;
  int64_t FileSize = 0;
  int32_t TotalPageCount = 0;
  int64_t ProblemCount() const;
};

// M is an open manager (read-only is enough); RepairNeeded is what its open said.
TVLTPageMapReport CheckPageMap(TVLTDiskPageManager& M, bool RepairNeeded);

// "page type" text, or "(N)" for a type no page may have.
std::string PageTypeText(int Type);

}  // namespace vlt
