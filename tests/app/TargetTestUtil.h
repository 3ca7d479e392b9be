// Opening a converted database in tests: the area's password and cipher, a database name of its
// own so that several can be open at once.
#pragma once

#include <memory>
#include <string>

#include "app/conversion/TargetCatalogue.h"
#include "engine/components/VLTDatabase.h"

namespace vlt::test {

inline std::unique_ptr<TVLTDatabase> OpenTarget(app::TArea Area, const std::string& File,
                                                bool ReadOnly = true) {
  static int Serial = 0;
  auto Db = std::make_unique<TVLTDatabase>();
  Db->SetDatabaseName("TestTarget" + std::to_string(++Serial));
  Db->SetDatabaseFileName(File);
  Db->FPassword = app::TargetDatabase(Area).Password;
  Db->FCryptoAlgorithm = craRijndael_256;
  Db->FSilentMode = true;
  Db->FReadOnly = ReadOnly;
  Db->Open();
  return Db;
}

}  // namespace vlt::test
