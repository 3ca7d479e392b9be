#include "engine/components/VLTEngineRegistry.h"

#include <algorithm>
#include <mutex>
#include <string>

#include "engine/base/VLTExcept.h"
#include "engine/components/VLTExprTableLink.h"
#include "engine/components/VLTReservedDatabaseData.h"
#include "engine/components/VLTSession.h"

namespace vlt {

TVLTEngineRegistry::TVLTEngineRegistry() {
  FList.push_back(std::make_unique<TVLTMemoryDatabaseData>());
  FList.push_back(std::make_unique<TVLTTemporaryDatabaseData>());
}

TVLTEngineRegistry::~TVLTEngineRegistry() {
  // Last first, so that nothing refers to an entry already gone.
  while (!FList.empty()) FList.pop_back();
}

TVLTDatabaseData* TVLTEngineRegistry::Find(const std::string& DatabaseName,
                                           const std::string& SessionName) {
  std::lock_guard<std::recursive_mutex> Guard(FCSect);
  for (const auto& D : FList)
    if (SameText(D->DatabaseName(), DatabaseName) && SameText(D->SessionName(), SessionName) &&
        D->DatabaseName() != kMemoryDatabaseName && D->DatabaseName() != kTemporaryDatabaseName)
      return D.get();
  return nullptr;
}

TVLTDatabaseData* TVLTEngineRegistry::FindReserved(const std::string& Name) {
  std::lock_guard<std::recursive_mutex> Guard(FCSect);
  for (const auto& D : FList)
    if (SameText(D->DatabaseName(), Name)) return D.get();
  return nullptr;
}

void TVLTEngineRegistry::Add(std::unique_ptr<TVLTDatabaseData> DatabaseData) {
  std::lock_guard<std::recursive_mutex> Guard(FCSect);
  FList.push_back(std::move(DatabaseData));
}

std::unique_ptr<TVLTDatabaseData> TVLTEngineRegistry::Remove(TVLTDatabaseData* DatabaseData) {
  std::lock_guard<std::recursive_mutex> Guard(FCSect);
  auto It = std::find_if(FList.begin(), FList.end(),
                         [DatabaseData](const auto& D) { return D.get() == DatabaseData; });
  if (It == FList.end()) return nullptr;
  std::unique_ptr<TVLTDatabaseData> Out = std::move(*It);
  FList.erase(It);
  return Out;
}

int32_t TVLTEngineRegistry::Count() {
  std::lock_guard<std::recursive_mutex> Guard(FCSect);
  return static_cast<int32_t>(FList.size());
}

TVLTDatabaseData* TVLTEngineRegistry::Items(int32_t I) {
  std::lock_guard<std::recursive_mutex> Guard(FCSect);
  return FList.at(static_cast<size_t>(I)).get();
}

namespace {

std::unique_ptr<TVLTEngineRegistry> GRegistry;

}  // namespace

void VLTStartEngine() {
  VLTInstallExprTableLink();
  if (GRegistry) return;
  GRegistry = std::make_unique<TVLTEngineRegistry>();
  VLTStartSessions();
}

void VLTShutdownEngine() {
  VLTStopSessions();
  GRegistry.reset();
}

bool VLTEngineStarted() { return GRegistry != nullptr; }

TVLTEngineRegistry& VLTEngineRegistry() {
  if (!GRegistry) throw EVLTException(20007, "Database Engine is not initialized");
  return *GRegistry;
}

}  // namespace vlt
