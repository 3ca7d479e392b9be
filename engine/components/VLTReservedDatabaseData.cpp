#include "engine/components/VLTReservedDatabaseData.h"

#include "engine/base/VLTExcept.h"
#include "engine/core/VLTTableData.h"

namespace vlt {

std::unique_ptr<TVLTTableData> TVLTMemoryDatabaseData::CreateTableData(TVLTTableCursor& Cursor) {
  throw EVLTException(10028, "Table not found, table name = %s", {Cursor.FTableName});
}

std::unique_ptr<TVLTTableData> TVLTTemporaryDatabaseData::CreateTableData(TVLTTableCursor& Cursor) {
  throw EVLTException(10028, "Table not found, table name = %s", {Cursor.FTableName});
}

}  // namespace vlt
