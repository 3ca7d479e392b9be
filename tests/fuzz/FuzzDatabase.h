// What the database fuzz targets share: a scratch folder of their own, whole-file reads and
// writes, and the walk that reads a damaged database every way a user could.
#pragma once

#include <unistd.h>

#include <cstdint>
#include <exception>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "engine/components/VLTDatabase.h"
#include "engine/components/VLTTable.h"

namespace vlt::fuzz {

// A folder made once per process under /tmp, named after Prefix.
inline std::string ScratchDir(const char* Prefix) {
  std::string T = std::string("/tmp/") + Prefix + "_XXXXXX";
  const char* P = mkdtemp(T.data());
  return P ? std::string(P) : std::string("/tmp");
}

inline std::string ReadAll(const std::string& Path) {
  std::ifstream F(Path, std::ios::binary);
  return {std::istreambuf_iterator<char>(F), std::istreambuf_iterator<char>()};
}

inline void WriteAll(const std::string& Path, const std::string& Bytes) {
  std::ofstream F(Path, std::ios::binary | std::ios::trunc);
  F.write(Bytes.data(), static_cast<std::streamsize>(Bytes.size()));
}

// Every table of Db in every index ("Main", "ByName" and physical order) both ways, every field
// read, then the engine's table check; errors are results, not failures.
inline void WalkDatabase(TVLTDatabase& Db) {
  std::vector<std::string> Tables;
  Db.GetTablesList(Tables);
  for (const std::string& Name : Tables) {
    try {
      TVLTTable T;
      T.SetDatabaseName(Db.DatabaseName());
      T.SetTableName(Name);
      T.Open();
      int64_t Guard = 0;
      for (const char* Index : {"", "Main", "ByName"}) {
        try {
          if (*Index) T.SetIndexName(Index);
          for (T.First(); !T.Eof() && ++Guard < 5000; T.Next())
            for (int32_t F = 0; F < T.FieldCount(); ++F) (void)T.Fields(F).AsString();
          for (T.Last(); !T.Bof() && ++Guard < 10000; T.Prior()) (void)T.Fields(0).AsString();
        } catch (const std::exception&) {
        }
      }
    } catch (const std::exception&) {
    }
  }
  std::vector<std::string> Problems;
  try {
    Db.CheckTables(Problems);
  } catch (const std::exception&) {
  }
}

}  // namespace vlt::fuzz
