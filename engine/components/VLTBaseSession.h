// TVLTBaseSession: one connection of one database component to one open database. It carries
// the session id the lock manager and the page cache key their per-session state on, the
// transaction flag and the session-scoped named objects. Cursors reach the database through it.
//
// The storage core sees a session as TVLTSessionData (id, mode flags, transaction flag and the
// last autoincrement values it drew); this class adds what the component layer needs.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "engine/base/VLTTypes.h"
#include "engine/core/VLTSessionData.h"

namespace vlt {

class TVLTSessionComponentManager;

// A named object of one session: known by object id, or by name only (id -1).
class TVLTSessionNamedObject {
 public:
  TVLTSessionNamedObject(TVLTObjectID ObjectID, std::string Name)
      : FObjectID(ObjectID), FName(std::move(Name)) {
    if (FName.size() > 255) FName.resize(255);
  }
  virtual ~TVLTSessionNamedObject() = default;

  TVLTObjectID FObjectID;
  std::string FName;
};

class TVLTBaseSession : public TVLTSessionData {
 public:
  TVLTBaseSession() = default;
  ~TVLTBaseSession() override = default;
  TVLTBaseSession(const TVLTBaseSession&) = delete;
  TVLTBaseSession& operator=(const TVLTBaseSession&) = delete;

  // Virtual operations.
  virtual bool GetConnected() const = 0;
  virtual void SetConnected(bool Value) = 0;
  virtual bool GetSuppressDBHeaderErrors() = 0;
  virtual void SetSuppressDBHeaderErrors(bool Value) = 0;
  virtual void CreateDatabase() = 0;
  virtual void DeleteDatabase() = 0;
  virtual void RenameDatabase(const std::string& NewDatabaseFileName) = 0;
  virtual void GetTablesList(std::vector<std::string>& List) = 0;
  virtual bool TableExists(const std::string& TableName) = 0;
  // Stores Value, replacing an object of the same id (or, for id -1, of the same name).
  virtual void SetObject(std::unique_ptr<TVLTSessionNamedObject> Value);
  virtual TVLTSessionNamedObject* GetObjectByName(const std::string& ObjectName) const;
  virtual TVLTSessionNamedObject* GetObjectByID(TVLTObjectID ID) const;
  virtual void DeleteObject(TVLTObjectID ID);
  virtual void StartTransaction() = 0;
  virtual void Commit(bool DoFlushBuffers) = 0;
  virtual void Rollback() = 0;
  virtual void FlushBuffers() = 0;

  int32_t NamedObjectCount() const { return static_cast<int32_t>(FSessionNamedObjectList.size()); }

  std::string FDatabaseName;  // "MEMORY" and "TEMP" select the reserved database data
  std::string FDatabaseFileName;
  bool FInMemory = false;
  std::string FLogin;
  TVLTSessionComponentManager* FSessionHandle = nullptr;  // not owned
  int32_t FMaxSessionCount = 500;
  std::string FSessionName;

 protected:
  std::vector<std::unique_ptr<TVLTSessionNamedObject>> FSessionNamedObjectList;
};

}  // namespace vlt
