// The database data behind the reserved database names "MEMORY" and "TEMP". The in-memory and
// temporary table engines are not part of this build: both objects hold no tables, so every
// table is reported missing and opening or creating one raises 10028.
#pragma once

#include "engine/core/VLTDatabaseData.h"

namespace vlt {

inline constexpr const char* kMemoryDatabaseName = "MEMORY";
inline constexpr const char* kTemporaryDatabaseName = "TEMP";

class TVLTMemoryDatabaseData : public TVLTDatabaseData {
 public:
  TVLTMemoryDatabaseData() : TVLTDatabaseData(kMemoryDatabaseName) {}
  std::unique_ptr<TVLTTableData> CreateTableData(TVLTTableCursor& Cursor) override;
};

class TVLTTemporaryDatabaseData : public TVLTDatabaseData {
 public:
  TVLTTemporaryDatabaseData() : TVLTDatabaseData(kTemporaryDatabaseName) {}
  std::unique_ptr<TVLTTableData> CreateTableData(TVLTTableCursor& Cursor) override;
};

}  // namespace vlt
