// A scratch folder, a started engine, and an encrypted database component
// on a file in that folder.
#pragma once

#include <gtest/gtest.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "engine/components/VLTDatabase.h"
#include "engine/components/VLTEngineRegistry.h"
#include "engine/expr/VLTVariant.h"

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

  // A new database file, opened through a component named Name.
  TVLTDatabase& NewOpenDatabase(const std::string& Name = "Pay") {
    TVLTDatabase& D = NewDatabase(Name);
    D.CreateDatabase();
    D.Open();
    return D;
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

// An integer value, as key searches and ranges take them.
inline TVLTVariant Int(int32_t V) {
  TVLTVariant R;
  R.SetAsInteger(V);
  return R;
}

// The vltdb tool built beside this test program (empty when it was not built).
inline std::string VltdbPath() {
  std::error_code Ec;
  const auto Self = std::filesystem::read_symlink("/proc/self/exe", Ec);
  if (Ec) return {};
  const auto Tool = Self.parent_path().parent_path().parent_path() / "tools" / "vltdb";
  return std::filesystem::exists(Tool, Ec) ? Tool.string() : std::string();
}

// Runs the command; Output receives stdout and stderr, the answer is the exit code.
inline int RunTool(const std::string& Command, std::string& Output) {
  Output.clear();
  FILE* P = popen((Command + " 2>&1").c_str(), "r");
  if (!P) return -1;
  char Buf[4096];
  size_t N;
  while ((N = fread(Buf, 1, sizeof Buf, P)) > 0) Output.append(Buf, N);
  const int Status = pclose(P);
  return WIFEXITED(Status) ? WEXITSTATUS(Status) : -1;
}

}  // namespace vlt::test
