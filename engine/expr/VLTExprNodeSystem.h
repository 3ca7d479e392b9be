// TVLTExprNodeSystem: values of the system rather than of the record — LASTAUTOINC(table,
// field [, MEMORY]), the last autoincrement value of a field drawn by this session, and ROWNUM,
// a counter that gives 1 on the first evaluation and one more on every further one.
//
// The expression library knows no tables: LASTAUTOINC reaches its table through an opener that
// the engine's components install (VLTSetExprTableOpener). The table is opened when the node is
// built and kept open while the node lives; a column it does not have raises 30337
// "Field '%s' not found" then. Without an installed opener building raises 20007 "Database
// Engine is not initialized".
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "engine/expr/VLTExprNode.h"

namespace vlt {

// An open table as LASTAUTOINC sees it.
class TVLTExprTable {
 public:
  virtual ~TVLTExprTable() = default;
  virtual bool HasField(const std::string& FieldName) const = 0;
  virtual int64_t LastAutoincValue(const std::string& FieldName) = 0;
};

// Opens TableName of DatabaseName in SessionName (or of the in-memory database); raises the
// components' errors when it cannot.
using TVLTExprTableOpener = std::function<std::unique_ptr<TVLTExprTable>(
    const std::string& SessionName, const std::string& DatabaseName, const std::string& TableName,
    bool InMemory)>;
void VLTSetExprTableOpener(TVLTExprTableOpener Opener);

class TVLTExprNodeSystem : public TVLTExprNode {
 public:
  // doLASTAUTOINC opens the table at once (see above); doROWNUM ignores the names.
  static std::unique_ptr<TVLTExprNodeSystem> Create(TVLTDataOperator Operator,
                                                    const std::string& SessionName,
                                                    const std::string& DatabaseName,
                                                    const std::string& TableName,
                                                    const std::string& ColumnName, bool InMemory);

  // 30338 "Unknown operator: '%s'" for an operator the class does not evaluate.
  TVLTVariant& GetDataValue() override;
  TVLTBaseFieldType GetDataType() override { return bftSignedInt64; }
  int32_t GetDataSize() override { return 8; }

  std::string FTableName;
  std::string FColumnName;
  bool FInMemory = false;
  std::unique_ptr<TVLTExprTable> FTable;
  TVLTAdvancedFieldType FFieldType = aftLargeint;
  int64_t FRowNumValue = 0;

 private:
  explicit TVLTExprNodeSystem(TVLTDataOperator Operator) : TVLTExprNode(Operator) {}
};

}  // namespace vlt
