#include "tests/app/TestDirs.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace vlt::test {

TTempDir::TTempDir() {
  const char* Base = std::getenv("TMPDIR");
  std::string Templ = std::string(Base && *Base ? Base : "/tmp") + "/vlttest.XXXXXX";
  if (!::mkdtemp(Templ.data())) throw std::runtime_error("mkdtemp failed");
  FPath = Templ;
}

TTempDir::~TTempDir() {
  std::error_code Ec;
  std::filesystem::remove_all(FPath, Ec);
}

void MakeDir(const std::string& Path) {
  if (::mkdir(Path.c_str(), 0755) != 0) throw std::runtime_error("mkdir failed: " + Path);
}

void WriteFile(const std::string& Path, std::string_view Content) {
  std::ofstream F(Path, std::ios::binary);
  F.write(Content.data(), static_cast<std::streamsize>(Content.size()));
  if (!F) throw std::runtime_error("write failed: " + Path);
}

std::string ReadFile(const std::string& Path) {
  std::ifstream F(Path, std::ios::binary);
  std::stringstream S;
  S << F.rdbuf();
  return S.str();
}

}  // namespace vlt::test
