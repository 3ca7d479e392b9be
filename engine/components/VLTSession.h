// Session components: TVLTSession groups database components; TVLTSessionList keeps every
// session of the process. The first session added to the list is the default one, named
// "Default", made when the engine starts.
//
// Each active session holds a token (TVLTSessionComponentManager). The default session shares
// one process-wide token, made on its first activation and freed on its deactivation; every
// other session makes its own. The current token names the session whose engine context is
// current.
//
// The global session lock serialises session-component work (activation, deactivation,
// automatic names, opening databases); it is re-entrant for the owning thread.
//
// OpenDatabase finds a database component of the session by name or makes a temporary one that
// the session owns. A temporary component maps its name to a database as follows:
//   "MEMORY", "TEMP" (any letter case)  the reserved in-memory / temporary database, no file;
//   any other name                      the path of the database file (opened without a
//                                       password; the file must exist).
// It is opened silently, keeps its connection when the session's KeepConnections says so, and
// is destroyed by CloseDatabase (when its last reference goes and it keeps no connection), by
// DropConnections (when unreferenced) or when the session is deactivated.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

namespace vlt {

class TVLTBaseSession;
class TVLTDatabase;

// A session component's error (no native code); the text is the message alone.
class EVLTSessionError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A token without fields: its identity is what matters.
class TVLTSessionComponentManager {};

enum TVLTDatabaseEvent : uint8_t { dbOpen = 0, dbClose = 1, dbAdd = 2, dbRemove = 3 };

// What a session needs of the database components that join it.
class TVLTSessionDatabase {
 public:
  virtual ~TVLTSessionDatabase() = default;
  virtual std::string DatabaseName() const = 0;
  virtual bool Temporary() const = 0;
  virtual void CloseDatabase() = 0;
  // The engine session of the open database (for the table names); nullptr when closed.
  virtual TVLTBaseSession* EngineSession() = 0;
  // The session is going away: forget it (the database is closed already).
  virtual void SessionDestroyed() = 0;
};

class TVLTSession {
 public:
  TVLTSession();
  // Deactivates and leaves the session list.
  ~TVLTSession();
  TVLTSession(const TVLTSession&) = delete;
  TVLTSession& operator=(const TVLTSession&) = delete;

  bool Active() const { return FHandle != nullptr; }
  // Activation fires OnStartup; "Session name missing" for an empty name; a session other than
  // the default one activates the default session first.
  void SetActive(bool Value);
  void Open() { SetActive(true); }
  void Close() { SetActive(false); }

  const std::string& SessionName() const { return FSessionName; }
  // "Cannot perform this operation on an active session", "Cannot modify SessionName while
  // AutoSessionName is enabled", "Duplicate session name '%s'".
  void SetSessionName(const std::string& Value);
  bool AutoSessionName() const { return FAutoSessionName; }
  // Takes the lowest free session number and names the session "<ComponentName>_<n+1>".
  void SetAutoSessionName(bool Value);
  bool KeepConnections() const { return FKeepConnections; }
  void SetKeepConnections(bool Value) { FKeepConnections = Value; }
  bool IsDefault() const { return FDefault; }
  std::string FComponentName = "Session";

  // Enters the global session lock and makes this session current (activating it).
  void LockSession();
  void UnlockSession();

  void AddDatabase(TVLTSessionDatabase* Database);
  void RemoveDatabase(TVLTSessionDatabase* Database);
  TVLTSessionDatabase* FindDatabase(const std::string& DatabaseName);
  void GetDatabaseNames(std::vector<std::string>& List);
  // Finds the database component named DatabaseName (or makes a temporary one), opens it and
  // takes a reference. A component made here is destroyed again when it cannot be opened.
  TVLTDatabase* OpenDatabase(const std::string& DatabaseName);
  // Gives a reference back; without references and KeepConnection the database is closed (a
  // temporary one destroyed).
  void CloseDatabase(TVLTDatabase* Database);
  // Destroys every unreferenced temporary database component, last first.
  void DropConnections();
  // Table names of the database named DatabaseName (empty list for an empty name).
  void GetTableNames(const std::string& DatabaseName, std::vector<std::string>& List);
  // Destroys a temporary database component this session owns; false when it is not owned.
  bool DestroyTemporary(TVLTDatabase* Database);
  const std::vector<TVLTSessionDatabase*>& Databases() const { return FDatabases; }
  TVLTSessionComponentManager* Handle() const { return FHandle; }

  std::function<void(TVLTDatabaseEvent, TVLTSessionDatabase*)> FOnDBNotify;
  std::function<void(TVLTSession&)> FOnStartup;

 private:
  friend class TVLTSessionList;

  TVLTSessionComponentManager* FHandle = nullptr;
  std::unique_ptr<TVLTSessionComponentManager> FOwnHandle;
  std::vector<TVLTSessionDatabase*> FDatabases;
  std::vector<std::unique_ptr<TVLTDatabase>> FOwnedDatabases;  // temporary components
  bool FKeepConnections = true;
  bool FDefault = false;
  bool FAutoSessionName = false;
  std::string FSessionName;
  int32_t FSessionNumber = -1;
};

class TVLTSessionList {
 public:
  TVLTSessionList() = default;
  // CloseAll.
  ~TVLTSessionList();

  // The first session added becomes the default one.
  void Add(TVLTSession* Session);
  void Remove(TVLTSession* Session);
  int32_t Count();
  // An empty name gives the default session; names compare without regard to case.
  TVLTSession* FindSession(const std::string& SessionName);
  // 20002 "Invalid session name '%s'" when there is none.
  TVLTSession* GetSession(const std::string& SessionName);
  // Finds or makes (and names) the session, then activates it.
  TVLTSession* OpenSession(const std::string& SessionName);
  void GetSessionNames(std::vector<std::string>& List);
  TVLTSession* CurrentSession();
  void SetCurrentSession(TVLTSession* Session);
  // Destroys every session, last first.
  void CloseAll();

  // Automatic session numbers.
  int32_t TakeSessionNumber();
  void FreeSessionNumber(int32_t Number);

 private:
  std::recursive_mutex FCSect;
  std::vector<TVLTSession*> FSessions;
  std::vector<std::unique_ptr<TVLTSession>> FOwned;  // made by the list itself
  std::vector<bool> FSessionNumbers;
};

// The global session lock.
std::recursive_mutex& VLTSessionLock();
// The process's session list; 20007 "Database Engine is not initialized" before start-up.
TVLTSessionList& VLTSessions();
// The default session "Default".
TVLTSession& VLTDefaultSession();
// Engine start-up and shutdown steps of the session layer (called by VLTStartEngine and
// VLTShutdownEngine).
void VLTStartSessions();
void VLTStopSessions();

}  // namespace vlt
