#include "engine/components/VLTExprTableLink.h"

#include <memory>
#include <mutex>

#include "engine/components/VLTTable.h"
#include "engine/expr/VLTExprNodeSystem.h"

namespace vlt {

namespace {

// A table component kept open for as long as the expression node that asked for it lives.
class TExprComponentTable : public TVLTExprTable {
 public:
  TExprComponentTable(const std::string& SessionName, const std::string& DatabaseName,
                      const std::string& TableName, bool InMemory) {
    FTable.FSessionName = SessionName;
    FTable.SetDatabaseName(InMemory ? "MEMORY" : DatabaseName);
    FTable.SetTableName(TableName);
    FTable.Open();
  }
  bool HasField(const std::string& FieldName) const override {
    return FTable.FindField(FieldName) != nullptr;
  }
  int64_t LastAutoincValue(const std::string& FieldName) override {
    return FTable.LastAutoincValue(FieldName);
  }

 private:
  TVLTTable FTable;
};

}  // namespace

void VLTInstallExprTableLink() {
  static std::once_flag Once;
  std::call_once(Once, [] {
    VLTSetExprTableOpener([](const std::string& SessionName, const std::string& DatabaseName,
                             const std::string& TableName, bool InMemory) {
      return std::make_unique<TExprComponentTable>(SessionName, DatabaseName, TableName, InMemory);
    });
  });
}

}  // namespace vlt
