// Damaged database files: a small, valid database (a table with two indexes, a memo field, a
// hundred records) is built once; each input is a list of patches to its bytes, or, when the
// first byte is odd, the raw start of a file (prolog, crypto header, control block). The damaged
// file is then opened read-only and silent, every table walked in every index and physically,
// every field read, the engine's table check run, and, on a writable copy, the open that puts
// back a journal tried. Any input must end in a result or an engine error: no crash, no hang,
// no sanitizer report.
//
// The input format is FuzzPatch.h's.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <exception>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "engine/components/VLTDatabase.h"
#include "engine/components/VLTEngineRegistry.h"
#include "engine/components/VLTTable.h"
#include "tests/fuzz/FuzzDatabase.h"
#include "tests/fuzz/FuzzPatch.h"

namespace {

using namespace vlt;

std::string Dir() {
  static const std::string D = fuzz::ScratchDir("vlt_dbfuzz");
  return D;
}

std::unique_ptr<TVLTTable> MakeTable(const std::string& Db) {
  auto T = std::make_unique<TVLTTable>();
  T->SetDatabaseName(Db);
  T->SetTableName("Items");
  T->AddField(std::make_unique<TVLTIntegerField>("Id")).FRequired = true;
  T->AddField(std::make_unique<TVLTStringField>("Name", 24));
  T->AddField(std::make_unique<TVLTMemoField>("Notes"));
  T->IndexDefs.push_back({"Main", "Id", "", "", ixPrimary | ixUnique});
  T->IndexDefs.push_back({"ByName", "Name", "", "", ixCaseInsensitive});
  return T;
}

// The valid file every input damages.
const std::string& Template() {
  static const std::string Bytes = [] {
    VLTStartEngine();
    const std::string Path = Dir() + "/template.vlt";
    std::remove(Path.c_str());
    TVLTDatabase Db;
    Db.SetDatabaseName("FuzzTemplate");
    Db.SetDatabaseFileName(Path);
    Db.FPageSize = 512;
    Db.FSilentMode = true;
    Db.FDurability = dsOff;
    Db.CreateDatabase();
    Db.Open();
    auto T = MakeTable("FuzzTemplate");
    T->CreateTable();
    T->Open();
    for (int32_t I = 1; I <= 40; ++I) {
      T->Append();
      T->FieldByName("Id").SetAsInteger(I);
      T->FieldByName("Name").SetAsString("Item " + std::to_string(I * 7 % 100));
      if (I % 3 == 0) T->FieldByName("Notes").SetAsString(std::string(40 + I * 5, 'n'));
      T->Post();
    }
    T.reset();
    Db.Close();
    return fuzz::ReadAll(Path);
  }();
  return Bytes;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  static const std::vector<uint8_t> Image(Template().begin(), Template().end());
  const std::vector<uint8_t> Damaged = fuzz::Damaged(Image, Data, Size);
  const std::string Bytes(Damaged.begin(), Damaged.end());
  const std::string Path = Dir() + "/damaged.vlt";
  std::remove((Path + "-journal").c_str());
  fuzz::WriteAll(Path, Bytes);
  for (bool ReadOnly : {true, false}) {
    TVLTDatabase Db;
    Db.SetDatabaseName(ReadOnly ? "FuzzRead" : "FuzzWrite");
    Db.SetDatabaseFileName(Path);
    Db.FSilentMode = true;
    Db.FReadOnly = ReadOnly;
    Db.FDurability = dsOff;
    try {
      Db.Open();
      fuzz::WalkDatabase(Db);
      Db.Close();
    } catch (const std::exception&) {
    }
    if (!ReadOnly) break;
  }
  return 0;
}
