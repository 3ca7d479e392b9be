#include "engine/core/VLTDatabaseData.h"

#include <algorithm>

#include "engine/core/VLTTableData.h"

namespace vlt {

TVLTDatabaseData::TVLTDatabaseData(std::string DatabaseName, std::string SessionName)
    : FDatabaseName(std::move(DatabaseName)), FSessionName(std::move(SessionName)) {}

TVLTDatabaseData::~TVLTDatabaseData() { FTableDataList.clear(); }

void TVLTDatabaseData::ConnectSession(TVLTSessionData& Session) {
  std::lock_guard<std::recursive_mutex> Guard(FCSect);
  if (std::find(FSessionList.begin(), FSessionList.end(), &Session) == FSessionList.end())
    FSessionList.push_back(&Session);
  Session.SessionID = 0;
}

void TVLTDatabaseData::DisconnectSession(TVLTSessionData& Session) {
  std::lock_guard<std::recursive_mutex> Guard(FCSect);
  auto It = std::find(FSessionList.begin(), FSessionList.end(), &Session);
  if (It != FSessionList.end()) FSessionList.erase(It);
  Session.SessionID = kNoSessionID;
}

bool TVLTDatabaseData::FreeIfNoSessionsConnected() {
  std::lock_guard<std::recursive_mutex> Guard(FCSect);
  return FSessionList.empty();
}

void TVLTDatabaseData::GetTablesList(std::vector<std::string>& List) {
  std::lock_guard<std::recursive_mutex> Guard(FCSect);
  List.clear();
  for (const auto& T : FTableDataList) List.push_back(T->TableName());
}

void TVLTDatabaseData::CreateDatabase() {}

TVLTTableData* TVLTDatabaseData::FindTableData(TVLTTableCursor& Cursor) {
  std::lock_guard<std::recursive_mutex> Guard(FCSect);
  for (const auto& T : FTableDataList)
    if (SameText(T->TableName(), Cursor.FTableName)) return T.get();
  return nullptr;
}

TVLTTableData* TVLTDatabaseData::FindOrCreateTableData(TVLTTableCursor& Cursor) {
  std::lock_guard<std::recursive_mutex> Guard(FCSect);
  if (TVLTTableData* T = FindTableData(Cursor)) return T;
  FTableDataList.push_back(CreateTableData(Cursor));
  return FTableDataList.back().get();
}

bool TVLTDatabaseData::TableExists(const std::string& TableName) {
  std::lock_guard<std::recursive_mutex> Guard(FCSect);
  for (const auto& T : FTableDataList)
    if (SameText(T->TableName(), TableName)) return true;
  return false;
}

void TVLTDatabaseData::RemoveTableData(TVLTTableData* TableData) {
  std::lock_guard<std::recursive_mutex> Guard(FCSect);
  auto It = std::find_if(FTableDataList.begin(), FTableDataList.end(),
                         [TableData](const auto& T) { return T.get() == TableData; });
  if (It != FTableDataList.end()) FTableDataList.erase(It);
}

TVLTObjectID TVLTDatabaseData::GetNewObjectId() {
  std::lock_guard<std::recursive_mutex> Guard(FCSect);
  return ++FLastObjectID;
}

void TVLTDatabaseData::Commit(TVLTSessionID SessionID, bool DoFlushBuffers) {
  std::lock_guard<std::recursive_mutex> Guard(FCSect);
  if (FPageManager) FPageManager->ApplyChanges(SessionID);
  if (DoFlushBuffers) FlushBuffers();
}

void TVLTDatabaseData::Rollback(TVLTSessionID SessionID) {
  std::lock_guard<std::recursive_mutex> Guard(FCSect);
  if (FPageManager) FPageManager->CancelChanges(SessionID);
  for (const auto& T : FTableDataList) T->Rollback(SessionID);
}

void TVLTDatabaseData::FlushBuffers() {}

}  // namespace vlt
