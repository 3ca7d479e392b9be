#include "engine/components/VLTLocalSession.h"

#include "engine/base/VLTExcept.h"
#include "engine/components/VLTDiskDatabaseEntry.h"
#include "engine/components/VLTEngineRegistry.h"
#include "engine/components/VLTReservedDatabaseData.h"

namespace vlt {

TVLTLocalSession::~TVLTLocalSession() {
  try {
    SetConnected(false);
  } catch (...) {
    // A destructor cannot report; the database data closes the file when it is freed.
  }
}

TVLTDiskDatabaseEntry* TVLTLocalSession::DiskLink() const {
  return dynamic_cast<TVLTDiskDatabaseEntry*>(FDatabaseData);
}

TVLTDatabaseData* TVLTLocalSession::FindDatabaseData() {
  TVLTEngineRegistry& R = VLTEngineRegistry();
  if (FDatabaseName == kTemporaryDatabaseName || FDatabaseName == kMemoryDatabaseName)
    return R.FindReserved(FDatabaseName);
  return R.Find(FDatabaseFileName, FSessionName);
}

TVLTDatabaseData* TVLTLocalSession::FindOrCreateDatabaseData() {
  if (TVLTDatabaseData* D = FindDatabaseData()) return D;
  auto Link = std::make_unique<TVLTDiskDatabaseEntry>(FDatabaseFileName, FSessionName);
  TVLTDiskDatabaseData& Disk = Link->Disk();
  Disk.SetReadOnly(ReadOnly);
  Disk.SetMaxSessionCount(FMaxSessionCount);
  Disk.SetPassword(FPassword);
  Disk.SetPageSize(FPageSize);
  Disk.SetPageCountInExtent(FPageCountInExtent);
  TVLTDatabaseData* Out = Link.get();
  VLTEngineRegistry().Add(std::move(Link));
  return Out;
}

void TVLTLocalSession::ReleaseIfUnused(TVLTDatabaseData* Data) {
  if (!Data || !dynamic_cast<TVLTDiskDatabaseEntry*>(Data)) return;
  if (!Data->SessionList().empty()) return;
  // Freed here: no session refers to it any more.
  std::unique_ptr<TVLTDatabaseData> Owned = VLTEngineRegistry().Remove(Data);
}

void TVLTLocalSession::SetConnected(bool Value) {
  if (Value == GetConnected()) return;
  if (Value)
    Connect();
  else
    Disconnect();
}

void TVLTLocalSession::Connect() {
  TVLTEngineRegistry& R = VLTEngineRegistry();
  std::lock_guard<std::recursive_mutex> Guard(R.CSect());
  TVLTDatabaseData* Data = FindOrCreateDatabaseData();
  auto* Link = dynamic_cast<TVLTDiskDatabaseEntry*>(Data);
  // A shared open database keeps the password it was opened with; a session that brings another
  // one must not get in (checked before connecting, so a refused session holds no slot).
  if (Link && Link->Disk().IsOpen() && Link->Disk().Encrypted() &&
      Link->Disk().Password().Password != FPassword.Password)
    throw EVLTException(20298, "Database password is invalid.");
  try {
    Data->ConnectSession(*this);
  } catch (...) {
    ReleaseIfUnused(Data);
    if (FDatabaseData == Data) FDatabaseData = nullptr;
    throw;
  }
  FDatabaseData = Data;
  FConnected = true;
  ReadOnly = Data->ReadOnly();
  if (Link) {
    FPassword = Link->Disk().Password();
    FPageSize = Link->Disk().PageSize();
    FPageCountInExtent = Link->Disk().PageCountInExtent();
    FMaxSessionCount = Link->Disk().MaxSessionCount();
  }
}

void TVLTLocalSession::Disconnect() {
  TVLTEngineRegistry& R = VLTEngineRegistry();
  std::lock_guard<std::recursive_mutex> Guard(R.CSect());
  TVLTDatabaseData* Data = FDatabaseData;
  FConnected = false;
  FDatabaseData = nullptr;
  if (!Data) return;
  try {
    Data->DisconnectSession(*this);
  } catch (...) {
    // The session has left even when its rollback or its slot's release failed (a full disk):
    // the database must not stay registered as open, or this process could never open or
    // create the file again.
    InTransaction = false;
    ReleaseIfUnused(Data);
    throw;
  }
  InTransaction = false;
  ReleaseIfUnused(Data);
}

bool TVLTLocalSession::GetSuppressDBHeaderErrors() {
  return DiskLink() && GetConnected() ? FSuppressDBHeaderErrors : false;
}

void TVLTLocalSession::SetSuppressDBHeaderErrors(bool Value) {
  if (DiskLink() && GetConnected()) FSuppressDBHeaderErrors = Value;
}

void TVLTLocalSession::CreateDatabase() {
  TVLTEngineRegistry& R = VLTEngineRegistry();
  std::lock_guard<std::recursive_mutex> Guard(R.CSect());
  if (FindDatabaseData())
    throw EVLTException(20092, "Cannot create database. Database is already open");
  TVLTDatabaseData* Data = FindOrCreateDatabaseData();
  try {
    Data->CreateDatabase();
  } catch (...) {
    R.Remove(Data);
    throw;
  }
  R.Remove(Data);
  if (FDatabaseData == Data) FDatabaseData = nullptr;
}

void TVLTLocalSession::GetTablesList(std::vector<std::string>& List) {
  // A disk database answers from its open table list: connect for the question when needed.
  const bool WasConnected = GetConnected();
  if (!WasConnected) SetConnected(true);
  try {
    FDatabaseData->GetTablesList(List);
  } catch (...) {
    if (!WasConnected) SetConnected(false);
    throw;
  }
  if (!WasConnected) SetConnected(false);
}

bool TVLTLocalSession::TableExists(const std::string& TableName) {
  std::vector<std::string> List;
  GetTablesList(List);
  for (const std::string& N : List)
    if (SameText(N, TableName)) return true;
  return false;
}

void TVLTLocalSession::Commit(bool DoFlushBuffers) {
  if (!InTransaction)
    throw EVLTException(20229, "Database is not within a transaction. Cannot perform operation");
  if (!FDatabaseData) VLTRaiseNilPointer(20462);
  FDatabaseData->Commit(SessionID, DoFlushBuffers);
  InTransaction = false;
}

void TVLTLocalSession::Rollback() {
  if (!InTransaction)
    throw EVLTException(20229, "Database is not within a transaction. Cannot perform operation");
  if (!FDatabaseData) VLTRaiseNilPointer(20463);
  FDatabaseData->Rollback(SessionID);
  InTransaction = false;
}

int64_t TVLTLocalSession::PendingChangeBytes() const {
  TVLTDiskDatabaseEntry* L = DiskLink();
  return L && GetConnected() ? L->Disk().PendingChangeBytes(SessionID) : 0;
}

void TVLTLocalSession::FlushBuffers() {
  if (FDatabaseData) FDatabaseData->FlushBuffers();
}

void TVLTLocalSession::TruncateDatabase() {
  if (TVLTDiskDatabaseEntry* L = DiskLink()) L->TruncateDatabase();
}

int32_t TVLTLocalSession::GetDBFileConnectionsCount() {
  TVLTDiskDatabaseEntry* L = DiskLink();
  return L && GetConnected() ? L->GetDBFileConnectionsCount() : 0;
}

}  // namespace vlt
