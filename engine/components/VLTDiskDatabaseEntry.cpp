#include "engine/components/VLTDiskDatabaseEntry.h"

#include <algorithm>

#include "engine/base/VLTExcept.h"
#include "engine/core/VLTTableData.h"

namespace vlt {

TVLTDiskDatabaseEntry::TVLTDiskDatabaseEntry(const std::string& DatabaseFileName,
                                             const std::string& SessionName)
    : TVLTDiskDatabaseHolder(DatabaseFileName, SessionName),
      TVLTDiskBackedDatabaseData(FDisk.get()) {}

// Table data go first (the backed database data's destructor), the disk object last (the
// holder's).
TVLTDiskDatabaseEntry::~TVLTDiskDatabaseEntry() = default;

void TVLTDiskDatabaseEntry::ConnectSession(TVLTSessionData& Session) {
  std::lock_guard<std::recursive_mutex> Guard(FCSect);
  auto Mirror = std::make_unique<TVLTDatabaseSession>();
  Mirror->MultiUser = Session.MultiUser;
  Mirror->Exclusive = Session.Exclusive;
  Mirror->ReadOnly = Session.ReadOnly;
  Mirror->Durability = Session.Durability;
  FDisk->ConnectSession(*Mirror);
  Session.SessionID = Mirror->SessionID;
  Session.MultiUser = Mirror->MultiUser;
  Session.ReadOnly = Mirror->ReadOnly;
  Session.RepairNeeded = Mirror->RepairNeeded;
  SetReadOnly(FDisk->ReadOnly());
  SetMultiUser(FDisk->MultiUser());
  FMirrors[&Session] = std::move(Mirror);
  FSessionList.push_back(&Session);
}

void TVLTDiskDatabaseEntry::DisconnectSession(TVLTSessionData& Session) {
  std::lock_guard<std::recursive_mutex> Guard(FCSect);
  auto It = FMirrors.find(&Session);
  if (It == FMirrors.end()) return;
  std::erase(FSessionList, &Session);
  // The last session frees the tables before the disk object closes the file beneath them.
  if (FSessionList.empty()) FTableDataList.clear();
  It->second->InTransaction = Session.InTransaction;
  std::unique_ptr<TVLTDatabaseSession> Mirror = std::move(It->second);
  FMirrors.erase(It);
  FDisk->DisconnectSession(*Mirror);
  Session.SessionID = kNoSessionID;
}

bool TVLTDiskDatabaseEntry::FreeIfNoSessionsConnected() {
  std::lock_guard<std::recursive_mutex> Guard(FCSect);
  return FSessionList.empty() && FDisk->FreeIfNoSessionsConnected();
}

void TVLTDiskDatabaseEntry::GetTablesList(std::vector<std::string>& List) {
  std::lock_guard<std::recursive_mutex> Guard(FCSect);
  FDisk->GetTablesList(List);
}

void TVLTDiskDatabaseEntry::CreateDatabase() {
  FDisk->CreateDatabase();
}

TVLTDatabaseSession* TVLTDiskDatabaseEntry::MirrorOf(TVLTSessionID SessionID) {
  for (auto& [Session, Mirror] : FMirrors)
    if (Mirror->SessionID == SessionID) return Mirror.get();
  return nullptr;
}

void TVLTDiskDatabaseEntry::Commit(TVLTSessionID SessionID, bool DoFlushBuffers) {
  std::lock_guard<std::recursive_mutex> Guard(FCSect);
  FDisk->Commit(SessionID, DoFlushBuffers);
  if (TVLTDatabaseSession* M = MirrorOf(SessionID)) M->InTransaction = false;
}

void TVLTDiskDatabaseEntry::Rollback(TVLTSessionID SessionID) {
  std::lock_guard<std::recursive_mutex> Guard(FCSect);
  FDisk->Rollback(SessionID);
  if (TVLTDatabaseSession* M = MirrorOf(SessionID)) M->InTransaction = false;
  for (const auto& T : FTableDataList) T->Rollback(SessionID);
}

}  // namespace vlt
