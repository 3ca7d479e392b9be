#include "engine/expr/VLTExprNodeSystem.h"

#include <mutex>

#include "engine/base/VLTExcept.h"

namespace vlt {

namespace {

struct TOpenerSlot {
  std::mutex Lock;
  TVLTExprTableOpener Opener;
};

TOpenerSlot& OpenerSlot() {
  static TOpenerSlot Slot;
  return Slot;
}

}  // namespace

void VLTSetExprTableOpener(TVLTExprTableOpener Opener) {
  TOpenerSlot& S = OpenerSlot();
  std::lock_guard<std::mutex> Guard(S.Lock);
  S.Opener = std::move(Opener);
}

std::unique_ptr<TVLTExprNodeSystem> TVLTExprNodeSystem::Create(
    TVLTDataOperator Operator, const std::string& SessionName, const std::string& DatabaseName,
    const std::string& TableName, const std::string& ColumnName, bool InMemory) {
  std::unique_ptr<TVLTExprNodeSystem> N(new TVLTExprNodeSystem(Operator));
  if (Operator != doLASTAUTOINC) return N;
  N->FTableName = TableName;
  N->FColumnName = ColumnName;
  N->FInMemory = InMemory;
  TVLTExprTableOpener Opener;
  {
    TOpenerSlot& S = OpenerSlot();
    std::lock_guard<std::mutex> Guard(S.Lock);
    Opener = S.Opener;
  }
  if (!Opener) throw EVLTException(20007, "Database Engine is not initialized");
  N->FTable = Opener(SessionName, DatabaseName, TableName, InMemory);
  if (!N->FTable || !N->FTable->HasField(ColumnName))
    throw EVLTException(30337, "Field '%s' not found", {ColumnName});
  return N;
}

TVLTVariant& TVLTExprNodeSystem::GetDataValue() {
  Value.Clear(bftSignedInt64);
  if (Operator == doROWNUM) {
    Value.SetAsInt64(++FRowNumValue);
    return Value;
  }
  if (Operator == doLASTAUTOINC && FTable) {
    Value.SetAsInt64(FTable->LastAutoincValue(FColumnName));
    return Value;
  }
  RaiseUnknownOperator(30338);
}

}  // namespace vlt
