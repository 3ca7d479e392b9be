// Scratch folders for tests: made fresh under the system's temporary folder, removed afterwards.
#pragma once

#include <string>
#include <string_view>

namespace vlt::test {

class TTempDir {
 public:
  TTempDir();
  ~TTempDir();
  TTempDir(const TTempDir&) = delete;
  TTempDir& operator=(const TTempDir&) = delete;

  const std::string& Path() const { return FPath; }
  std::string operator/(std::string_view Name) const { return FPath + "/" + std::string(Name); }

 private:
  std::string FPath;
};

void MakeDir(const std::string& Path);
void WriteFile(const std::string& Path, std::string_view Content);
std::string ReadFile(const std::string& Path);

}  // namespace vlt::test
