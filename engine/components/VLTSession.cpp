#include "engine/components/VLTSession.h"

#include <algorithm>
#include <cctype>

#include "engine/base/VLTExcept.h"
#include "engine/base/VLTTypes.h"
#include "engine/components/VLTBaseSession.h"
#include "engine/components/VLTDatabase.h"

namespace vlt {

namespace {
// Statics are destroyed in reverse order: the session list must go first, because closing its
// sessions releases the default session's token.
std::unique_ptr<TVLTSessionComponentManager> GDefaultHandle;  // the default session's token
TVLTSessionComponentManager* GCurrentHandle = nullptr;
TVLTSession* GDefaultSession = nullptr;
std::unique_ptr<TVLTSessionList> GSessions;
}  // namespace

std::recursive_mutex& VLTSessionLock() {
  static std::recursive_mutex M;
  return M;
}

TVLTSessionList& VLTSessions() {
  if (!GSessions) throw EVLTException(20007, "Database Engine is not initialized");
  return *GSessions;
}

TVLTSession& VLTDefaultSession() {
  if (!GDefaultSession) throw EVLTException(20007, "Database Engine is not initialized");
  return *GDefaultSession;
}

void VLTStartSessions() {
  if (GSessions) return;
  GSessions = std::make_unique<TVLTSessionList>();
  GSessions->OpenSession("Default");
}

void VLTStopSessions() {
  GSessions.reset();
  GDefaultSession = nullptr;
}

// ---- TVLTSession ----

TVLTSession::TVLTSession() = default;

TVLTSession::~TVLTSession() {
  try {
    SetActive(false);
  } catch (...) {
    // A destructor cannot raise; nothing is left to undo.
  }
  // Temporary components left (the session was never active) go with it; the others only
  // forget it, so that destroying them later does not reach a freed session.
  while (!FOwnedDatabases.empty()) {
    std::unique_ptr<TVLTDatabase> Doomed = std::move(FOwnedDatabases.back());
    FOwnedDatabases.pop_back();
    Doomed.reset();
  }
  const std::vector<TVLTSessionDatabase*> Left = FDatabases;
  FDatabases.clear();
  for (TVLTSessionDatabase* D : Left) D->SessionDestroyed();
  if (FAutoSessionName && GSessions) GSessions->FreeSessionNumber(FSessionNumber);
  if (GSessions) GSessions->Remove(this);
  if (GDefaultSession == this) GDefaultSession = nullptr;
}

void TVLTSession::SetActive(bool Value) {
  std::lock_guard<std::recursive_mutex> Guard(VLTSessionLock());
  if (Value == Active()) return;
  if (Value) {
    if (FOnStartup) FOnStartup(*this);
    if (FSessionName.empty()) throw EVLTSessionError("Session name missing");
    if (!FDefault && GDefaultSession && GDefaultSession != this) GDefaultSession->SetActive(true);
    if (FDefault) {
      if (!GDefaultHandle) GDefaultHandle = std::make_unique<TVLTSessionComponentManager>();
      FHandle = GDefaultHandle.get();
    } else {
      FOwnHandle = std::make_unique<TVLTSessionComponentManager>();
      FHandle = FOwnHandle.get();
    }
    return;
  }
  GCurrentHandle = FHandle;
  // Close the databases, last first; temporary ones are destroyed (and leave the list).
  for (size_t I = FDatabases.size(); I-- > 0;) {
    if (I >= FDatabases.size()) continue;
    TVLTSessionDatabase* D = FDatabases[I];
    if (D->Temporary() && DestroyTemporary(dynamic_cast<TVLTDatabase*>(D))) continue;
    D->CloseDatabase();
  }
  if (FDefault) {
    GDefaultHandle.reset();
    GCurrentHandle = nullptr;
  } else {
    FOwnHandle.reset();
    GCurrentHandle = GDefaultSession ? GDefaultSession->FHandle : nullptr;
  }
  FHandle = nullptr;
}

void TVLTSession::SetSessionName(const std::string& Value) {
  if (FAutoSessionName)
    throw EVLTSessionError("Cannot modify SessionName while AutoSessionName is enabled");
  if (Active()) throw EVLTSessionError("Cannot perform this operation on an active session");
  if (GSessions) {
    TVLTSession* Other = GSessions->FindSession(Value);
    if (!Value.empty() && Other && Other != this && SameText(Other->FSessionName, Value))
      throw EVLTSessionError("Duplicate session name '" + Value + "'");
  }
  FSessionName = Value;
}

void TVLTSession::SetAutoSessionName(bool Value) {
  std::lock_guard<std::recursive_mutex> Guard(VLTSessionLock());
  if (Value == FAutoSessionName) return;
  if (Active()) throw EVLTSessionError("Cannot perform this operation on an active session");
  if (Value) {
    FSessionNumber = VLTSessions().TakeSessionNumber();
    FSessionName = FComponentName + "_" + std::to_string(FSessionNumber + 1);
  } else {
    VLTSessions().FreeSessionNumber(FSessionNumber);
    FSessionNumber = -1;
  }
  FAutoSessionName = Value;
}

void TVLTSession::LockSession() {
  VLTSessionLock().lock();
  try {
    if (!Active()) SetActive(true);
    GCurrentHandle = FHandle;
  } catch (...) {
    VLTSessionLock().unlock();
    throw;
  }
}

void TVLTSession::UnlockSession() { VLTSessionLock().unlock(); }

void TVLTSession::AddDatabase(TVLTSessionDatabase* Database) {
  FDatabases.push_back(Database);
  if (FOnDBNotify) FOnDBNotify(dbAdd, Database);
}

void TVLTSession::RemoveDatabase(TVLTSessionDatabase* Database) {
  std::erase(FDatabases, Database);
  if (FOnDBNotify) FOnDBNotify(dbRemove, Database);
}

TVLTSessionDatabase* TVLTSession::FindDatabase(const std::string& DatabaseName) {
  std::lock_guard<std::recursive_mutex> Guard(VLTSessionLock());
  for (TVLTSessionDatabase* D : FDatabases)
    if (SameText(D->DatabaseName(), DatabaseName) || (D->Temporary() && D->DatabaseName().empty() &&
                                                      DatabaseName.empty()))
      return D;
  return nullptr;
}

void TVLTSession::GetDatabaseNames(std::vector<std::string>& List) {
  List.clear();
  for (TVLTSessionDatabase* D : FDatabases) List.push_back(D->DatabaseName());
}

namespace {
// Holds the global session lock with this session current.
class TSessionLockGuard {
 public:
  explicit TSessionLockGuard(TVLTSession& S) : FSession(S) { FSession.LockSession(); }
  ~TSessionLockGuard() { FSession.UnlockSession(); }
  TSessionLockGuard(const TSessionLockGuard&) = delete;
  TSessionLockGuard& operator=(const TSessionLockGuard&) = delete;

 private:
  TVLTSession& FSession;
};
}  // namespace

TVLTDatabase* TVLTSession::OpenDatabase(const std::string& DatabaseName) {
  TSessionLockGuard Guard(*this);
  auto* Db = dynamic_cast<TVLTDatabase*>(FindDatabase(DatabaseName));
  TVLTDatabase* Made = nullptr;
  if (!Db) {
    auto New = std::make_unique<TVLTDatabase>();
    New->FTemporary = true;
    New->FSilentMode = true;
    New->FKeepConnection = FKeepConnections;
    New->SetSessionName(FSessionName);
    Made = New.get();
    FOwnedDatabases.push_back(std::move(New));
    try {
      // The reserved databases are named as the engine knows them; any other name is a file.
      if (SameText(DatabaseName, "MEMORY") || SameText(DatabaseName, "TEMP")) {
        std::string Upper = DatabaseName;
        for (char& C : Upper) C = static_cast<char>(std::toupper(static_cast<unsigned char>(C)));
        Made->SetDatabaseName(Upper);
      } else {
        Made->SetDatabaseName(DatabaseName);
        Made->SetDatabaseFileName(DatabaseName);
      }
    } catch (...) {
      DestroyTemporary(Made);
      throw;
    }
    Db = Made;
  }
  try {
    Db->Open();
  } catch (...) {
    if (Made) DestroyTemporary(Made);
    throw;
  }
  ++Db->FRefCount;
  return Db;
}

void TVLTSession::CloseDatabase(TVLTDatabase* Database) {
  if (!Database) return;
  std::lock_guard<std::recursive_mutex> Guard(VLTSessionLock());
  if (Database->FRefCount > 0) --Database->FRefCount;
  // A database that is closing or being destroyed already is left to finish by itself.
  if (Database->FRefCount != 0 || Database->FKeepConnection || Database->Busy()) return;
  if (!Database->FTemporary || !DestroyTemporary(Database)) Database->Close();
}

void TVLTSession::DropConnections() {
  std::lock_guard<std::recursive_mutex> Guard(VLTSessionLock());
  for (size_t I = FOwnedDatabases.size(); I-- > 0;) {
    if (I >= FOwnedDatabases.size()) continue;
    TVLTDatabase* Db = FOwnedDatabases[I].get();
    if (Db->FRefCount == 0 && !Db->Busy()) DestroyTemporary(Db);
  }
}

void TVLTSession::GetTableNames(const std::string& DatabaseName, std::vector<std::string>& List) {
  List.clear();
  if (DatabaseName.empty()) return;
  TVLTDatabase* Db = OpenDatabase(DatabaseName);
  try {
    Db->EngineSession()->GetTablesList(List);
  } catch (...) {
    CloseDatabase(Db);
    throw;
  }
  CloseDatabase(Db);
}

bool TVLTSession::DestroyTemporary(TVLTDatabase* Database) {
  auto It = std::find_if(FOwnedDatabases.begin(), FOwnedDatabases.end(),
                         [Database](const auto& O) { return O.get() == Database; });
  if (It == FOwnedDatabases.end()) return false;
  if ((*It)->Busy()) return true;  // already on its way out
  std::unique_ptr<TVLTDatabase> Doomed = std::move(*It);
  FOwnedDatabases.erase(It);
  Doomed.reset();  // closes it and leaves the database list
  return true;
}

// ---- TVLTSessionList ----

TVLTSessionList::~TVLTSessionList() { CloseAll(); }

void TVLTSessionList::Add(TVLTSession* Session) {
  std::lock_guard<std::recursive_mutex> Guard(FCSect);
  if (FSessions.empty()) {
    Session->FDefault = true;
    GDefaultSession = Session;
  }
  FSessions.push_back(Session);
}

void TVLTSessionList::Remove(TVLTSession* Session) {
  std::lock_guard<std::recursive_mutex> Guard(FCSect);
  std::erase(FSessions, Session);
}

int32_t TVLTSessionList::Count() {
  std::lock_guard<std::recursive_mutex> Guard(FCSect);
  return static_cast<int32_t>(FSessions.size());
}

TVLTSession* TVLTSessionList::FindSession(const std::string& SessionName) {
  std::lock_guard<std::recursive_mutex> Guard(FCSect);
  if (SessionName.empty()) return GDefaultSession;
  for (TVLTSession* S : FSessions)
    if (SameText(S->FSessionName, SessionName)) return S;
  return nullptr;
}

TVLTSession* TVLTSessionList::GetSession(const std::string& SessionName) {
  TVLTSession* S = FindSession(SessionName);
  if (!S) throw EVLTException(20002, "Invalid session name '%s'", {SessionName});
  return S;
}

TVLTSession* TVLTSessionList::OpenSession(const std::string& SessionName) {
  std::lock_guard<std::recursive_mutex> Guard(FCSect);
  TVLTSession* S = FindSession(SessionName);
  if (!S) {
    auto Made = std::make_unique<TVLTSession>();
    S = Made.get();
    FOwned.push_back(std::move(Made));
    Add(S);
    S->SetSessionName(SessionName);
  }
  S->SetActive(true);
  return S;
}

void TVLTSessionList::GetSessionNames(std::vector<std::string>& List) {
  std::lock_guard<std::recursive_mutex> Guard(FCSect);
  List.clear();
  for (TVLTSession* S : FSessions) List.push_back(S->FSessionName);
}

TVLTSession* TVLTSessionList::CurrentSession() {
  std::lock_guard<std::recursive_mutex> Guard(FCSect);
  for (TVLTSession* S : FSessions)
    if (S->FHandle && S->FHandle == GCurrentHandle) return S;
  return GDefaultSession;
}

void TVLTSessionList::SetCurrentSession(TVLTSession* Session) {
  if (Session && !Session->Active()) Session->SetActive(true);
  GCurrentHandle = Session ? Session->FHandle : nullptr;
}

void TVLTSessionList::CloseAll() {
  std::lock_guard<std::recursive_mutex> Guard(FCSect);
  // Sessions made by the list are destroyed, last first; others are only deactivated (their
  // owners destroy them).
  for (size_t I = FSessions.size(); I-- > 0;) {
    TVLTSession* S = FSessions[I];
    auto It = std::find_if(FOwned.begin(), FOwned.end(), [S](const auto& O) { return O.get() == S; });
    if (It != FOwned.end()) {
      std::unique_ptr<TVLTSession> Doomed = std::move(*It);
      FOwned.erase(It);
      Doomed.reset();
    } else {
      S->SetActive(false);
    }
    std::erase(FSessions, S);
  }
  FSessions.clear();
}

int32_t TVLTSessionList::TakeSessionNumber() {
  std::lock_guard<std::recursive_mutex> Guard(FCSect);
  for (size_t I = 0; I < FSessionNumbers.size(); ++I)
    if (!FSessionNumbers[I]) {
      FSessionNumbers[I] = true;
      return static_cast<int32_t>(I);
    }
  FSessionNumbers.push_back(true);
  return static_cast<int32_t>(FSessionNumbers.size() - 1);
}

void TVLTSessionList::FreeSessionNumber(int32_t Number) {
  std::lock_guard<std::recursive_mutex> Guard(FCSect);
  if (Number >= 0 && static_cast<size_t>(Number) < FSessionNumbers.size())
    FSessionNumbers[static_cast<size_t>(Number)] = false;
}

}  // namespace vlt
