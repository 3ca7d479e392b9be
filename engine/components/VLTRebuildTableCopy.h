// The table copy of database rebuilding: compaction, repair, password and settings changes
// (TVLTDatabase::CopyDatabase) copy each table of the database into the new file through a
// table component, by VLTRebuildCopyTable. When errors are to be ignored (repair), the table is
// first opened in repair mode, which checks the record page index against the record pages and
// rebuilds what the file lets it rebuild, so that the normal open after it can succeed; the records
// it finds there are what the copy must deliver, and the log says so when it does not. Otherwise a
// copy that delivers fewer records than the table holds is a failure, never a completion.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace vlt {

class TVLTDatabase;

// Progress of one table copy, in percent of the whole rebuild; clearing Continue stops it.
using TVLTTableCopyProgress = std::function<void(int32_t Percent, bool& Continue)>;

// Copies table TableName of Source (connected) into Dest under the same name, reporting
// progress between MinProgress and MaxProgress as records are copied. Problems go to Log;
// without IgnoreErrors they are raised, and so is a copy that delivers fewer records than the
// table holds (20199). False when the progress handler stopped the copy.
bool VLTRebuildCopyTable(TVLTDatabase& Source, const std::string& TableName, TVLTDatabase& Dest,
                         std::string& Log, bool& Continue, bool IgnoreErrors, int32_t MinProgress,
                         int32_t MaxProgress, const TVLTTableCopyProgress& Progress);

}  // namespace vlt
