// A scratch folder, a started engine, and an encrypted database component
// on a file in that folder.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "engine/components/VLTDatabase.h"
#include "engine/components/VLTEngineRegistry.h"

namespace vlt::test {

class TComponentTest : public ::testing::Test {
 protected:
  void SetUp() override {
    VLTStartEngine();
    char Tmpl[] = "/tmp/vlt_components_XXXXXX";
    Dir = ::mkdtemp(Tmpl);
    FileName = Dir + "/Payroll.vlt";
  }
  void TearDown() override {
    Databases.clear();
    std::filesystem::remove_all(Dir);
  }

  // A database component named Name on FileName with the conversion's settings.
  TVLTDatabase& NewDatabase(const std::string& Name = "Pay", const std::string& Password = "s3cret") {
    auto D = std::make_unique<TVLTDatabase>();
    D->FName = Name + "Component";
    D->SetDatabaseName(Name);
    D->SetDatabaseFileName(FileName);
    D->FPassword = Password;
    D->FCryptoAlgorithm = craRijndael_256;
    D->FPageSize = 8192;
    D->FSilentMode = true;
    D->FMaxConnections = 4;
    Databases.push_back(std::move(D));
    return *Databases.back();
  }

  static bool FileExists(const std::string& Name) {
    struct stat St {};
    return ::stat(Name.c_str(), &St) == 0;
  }

  std::string Dir;
  std::string FileName;
  std::vector<std::unique_ptr<TVLTDatabase>> Databases;
};

}  // namespace vlt::test
