// TVLTEngineRegistry: the process-wide list of open database data objects.
//
// At start-up it holds exactly two entries, in this order: the in-memory database data
// ("MEMORY") and the temporary database data ("TEMP"). A disk database data (a link to the open
// file) is added when an engine session first connects to a file and removed when the last one
// disconnects. Engine sessions that open the same file under the same session name share one
// entry.
//
// Engine start-up and shutdown (VLTStartEngine / VLTShutdownEngine):
//
//   STEP        WHAT
//   start 0     the expressions' table link (LASTAUTOINC) installed (once per process)
//   start 1     registry with its two reserved entries
//   start 2     session list with the default session "Default"
//   shutdown 1  session list destroyed (every session closed, last first)
//   shutdown 2  every entry left in the registry destroyed, then the registry
#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "engine/core/VLTDatabaseData.h"

namespace vlt {

class TVLTEngineRegistry {
 public:
  TVLTEngineRegistry();
  ~TVLTEngineRegistry();
  TVLTEngineRegistry(const TVLTEngineRegistry&) = delete;
  TVLTEngineRegistry& operator=(const TVLTEngineRegistry&) = delete;

  void Lock() { FCSect.lock(); }
  void Unlock() { FCSect.unlock(); }
  std::recursive_mutex& CSect() { return FCSect; }

  // First entry whose database name (the file path for disk data) and session name equal the
  // given ones, compared without regard to case; nullptr when none. Takes the lock itself; a
  // caller that goes on using the entry, or adds one when none was found, holds the lock
  // across both (CSect()).
  TVLTDatabaseData* Find(const std::string& DatabaseName, const std::string& SessionName);
  // The reserved entry "MEMORY" or "TEMP".
  TVLTDatabaseData* FindReserved(const std::string& Name);
  void Add(std::unique_ptr<TVLTDatabaseData> DatabaseData);
  // Takes the entry out of the registry (the caller decides when to free it).
  std::unique_ptr<TVLTDatabaseData> Remove(TVLTDatabaseData* DatabaseData);
  int32_t Count();
  TVLTDatabaseData* Items(int32_t I);

 private:
  std::recursive_mutex FCSect;
  std::vector<std::unique_ptr<TVLTDatabaseData>> FList;
};

// Builds the registry, the session list and the default session; nothing when already started.
// Installs the expressions' table link first.
void VLTStartEngine();
void VLTInstallTableCopy();
// Destroys the session list, then the registry with every entry left in it.
void VLTShutdownEngine();
bool VLTEngineStarted();
// 20007 "Database Engine is not initialized" before VLTStartEngine.
TVLTEngineRegistry& VLTEngineRegistry();

}  // namespace vlt
