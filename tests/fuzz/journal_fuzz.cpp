// Damaged rollback journals: a database is cut off in the middle of a commit once (its file as
// the commit had written it so far, and the commit's journal, are kept); each input is a list
// of patches to that journal (FuzzPatch.h's format). The cut-off database is then opened
// writable with the damaged journal beside it, which puts back whatever the journal still
// proves, and every table is walked and checked. Any input must end in a result or an engine
// error: no crash, no hang, no sanitizer report.
#include <unistd.h>

#include <cerrno>
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
#include "engine/disk/VLTDatabaseFile.h"
#include "engine/disk/VLTRollbackJournal.h"
#include "tests/fuzz/FuzzDatabase.h"
#include "tests/fuzz/FuzzPatch.h"

namespace {

using namespace vlt;

std::string Dir() {
  static const std::string D = fuzz::ScratchDir("vlt_jrnlfuzz");
  return D;
}

// Fails the third write to the database file once its commit's journal holds something, after
// keeping both files as they are at that moment: what a crash there leaves.
class TCutOff : public TVLTFileFaultInjector {
 public:
  explicit TCutOff(std::string Db) : FDb(std::move(Db)) {}
  int BeforeWrite(const std::string& FileName, int64_t, size_t) override {
    if (Taken || FileName != FDb) return 0;
    const std::string Journal = fuzz::ReadAll(TVLTRollbackJournal::PathFor(FDb));
    if (Journal.empty() || ++FWrites < 3) return 0;
    Taken = true;
    DbBytes = fuzz::ReadAll(FDb);
    JournalBytes = Journal;
    return EIO;
  }
  bool Taken = false;
  std::string DbBytes, JournalBytes;

 private:
  std::string FDb;
  int FWrites = 0;
};

std::unique_ptr<TVLTTable> ItemsTable(const std::string& Db) {
  auto T = std::make_unique<TVLTTable>();
  T->SetDatabaseName(Db);
  T->SetTableName("Items");
  T->AddField(std::make_unique<TVLTIntegerField>("Id")).FRequired = true;
  T->AddField(std::make_unique<TVLTStringField>("Name", 24));
  T->IndexDefs.push_back({"Main", "Id", "", "", ixPrimary | ixUnique});
  T->IndexDefs.push_back({"ByName", "Name", "", "", ixCaseInsensitive});
  return T;
}

void Fill(TVLTTable& T, int32_t From, int32_t To) {
  for (int32_t I = From; I <= To; ++I) {
    T.Append();
    T.FieldByName("Id").SetAsInteger(I);
    T.FieldByName("Name").SetAsString("Item " + std::to_string(I * 7 % 100));
    T.Post();
  }
}

struct TCutOffImage {
  std::string Db, Journal;
};

// A database of 60 records whose second commit (60 more, and changes to the first) is cut off.
const TCutOffImage& Image() {
  static const TCutOffImage Img = [] {
    VLTStartEngine();
    const std::string Path = Dir() + "/template.vlt";
    std::remove(Path.c_str());
    std::remove(TVLTRollbackJournal::PathFor(Path).c_str());
    TCutOff Cut(Path);
    {
      TVLTDatabase Db;
      Db.SetDatabaseName("JournalTemplate");
      Db.SetDatabaseFileName(Path);
      Db.FPageSize = 512;
      Db.FSilentMode = true;
      Db.FDurability = dsOff;
      Db.CreateDatabase();
      Db.Open();
      auto T = ItemsTable("JournalTemplate");
      T->CreateTable();
      T->Open();
      Db.StartTransaction();
      Fill(*T, 1, 60);
      Db.Commit();
      TVLTDatabaseFile::SetFaultInjector(&Cut);
      try {
        Db.StartTransaction();
        Fill(*T, 61, 120);
        for (T->First(); !T->Eof(); T->Next()) {
          T->Edit();
          T->FieldByName("Name").SetAsString("Changed");
          T->Post();
        }
        Db.Commit();
      } catch (const std::exception&) {
      }
      TVLTDatabaseFile::SetFaultInjector(nullptr);
      try {
        T.reset();
        Db.Close();
      } catch (const std::exception&) {
      }
    }
    if (!Cut.Taken) std::abort();  // the template must hold a cut-off commit
    return TCutOffImage{Cut.DbBytes, Cut.JournalBytes};
  }();
  return Img;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  const TCutOffImage& Img = Image();
  static const std::vector<uint8_t> Journal(Img.Journal.begin(), Img.Journal.end());
  const std::vector<uint8_t> Damaged = fuzz::Damaged(Journal, Data, Size);
  const std::string Path = Dir() + "/damaged.vlt";
  fuzz::WriteAll(Path, Img.Db);
  fuzz::WriteAll(TVLTRollbackJournal::PathFor(Path), std::string(Damaged.begin(), Damaged.end()));
  TVLTDatabase Db;
  Db.SetDatabaseName("FuzzJournal");
  Db.SetDatabaseFileName(Path);
  Db.FSilentMode = true;
  Db.FDurability = dsOff;
  try {
    Db.Open();
    fuzz::WalkDatabase(Db);
    Db.Close();
  } catch (const std::exception&) {
  }
  return 0;
}
