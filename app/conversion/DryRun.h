// What a run would do, without doing any of it: per backup folder and area whether it would be
// skipped (its database exists), converted (with the source tables found and their record
// counts, the old layouts the preparation would upgrade, the tables that cannot be read) or
// left alone for missing sources. Tables are only read; nothing is written, locked or prepared.
#pragma once

#include <string>

namespace vlt::app {

// The plan for FolderText (the folder a run would be given), as lines of text.
std::string PlanRun(const std::string& FolderText);

}  // namespace vlt::app
