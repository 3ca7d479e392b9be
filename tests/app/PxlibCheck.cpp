#include "tests/app/PxlibCheck.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <unordered_set>

#include "app/paradox/ParadoxError.h"
#include "app/paradox/ParadoxFile.h"
#include "app/paradox/ParadoxIndexFile.h"

// Last: pxlib defines its field types as macros named like the project's own. Its header
// declares C functions without saying so.
extern "C" {
#include <paradox.h>
}

namespace vlt::test {

namespace {

// What a read shares between its documents: pxlib's messages, and every block pxlib allocated
// and has not freed (it keeps some of a loaded index to the end of the process; they are freed
// with the read).
struct TPxlibState {
  std::vector<std::string>* Messages;
  std::unordered_set<void*> Live;
  ~TPxlibState() {
    for (void* M : Live) std::free(M);
  }
};

TPxlibState* StateOf(pxdoc_t* P) {
  return P ? static_cast<TPxlibState*>(P->errorhandler_user_data) : nullptr;
}

void CollectMessage(pxdoc_t*, int Type, const char* Msg, void* Data) {
  static_cast<TPxlibState*>(Data)->Messages->push_back(
      std::string(Type == PX_Warning ? "warning: " : "error: ") + Msg);
}

void* Allocate(pxdoc_t* P, size_t Size, const char*) {
  void* M = std::malloc(Size ? Size : 1);
  if (TPxlibState* S = StateOf(P); S && M) S->Live.insert(M);
  return M;
}

void* Reallocate(pxdoc_t* P, void* Old, size_t Size, const char*) {
  TPxlibState* S = StateOf(P);
  void* M = std::realloc(Old, Size ? Size : 1);
  if (S && M) {
    S->Live.erase(Old);
    S->Live.insert(M);
  }
  return M;
}

void Release(pxdoc_t* P, void* M) {
  // A document frees itself last, with itself as P: forget the block before it goes.
  if (TPxlibState* S = StateOf(P)) S->Live.erase(M);
  std::free(M);
}

struct TPxDoc {
  pxdoc_t* Doc = nullptr;
  explicit TPxDoc(TPxlibState* State)
      : Doc(PX_new3(CollectMessage, Allocate, Reallocate, Release, State)) {}
  ~TPxDoc() {
    if (Doc) {
      PX_close(Doc);
      PX_delete(Doc);
    }
  }
  TPxDoc(const TPxDoc&) = delete;
  TPxDoc& operator=(const TPxDoc&) = delete;
};

// pxlib finds a record along the chain by walking from the first block: keep its work bounded.
constexpr long long kChainReadWork = 20'000'000;

}  // namespace

TPxlibTable ReadWithPxlib(const std::string& Db, const std::string& Px) {
  TPxlibTable R;
  TPxlibState State{&R.Messages, {}};
  TPxDoc D(&State);
  if (!D.Doc || PX_open_file(D.Doc, Db.c_str()) < 0) {
    R.Messages.push_back("error: cannot open " + Db);
    return R;
  }
  R.NumRecords = PX_get_num_records(D.Doc);
  const int Size = PX_get_recordsize(D.Doc);
  std::string Buf(static_cast<size_t>(Size > 0 ? Size : 1), '\0');
  const long long Blocks = D.Doc->px_head ? D.Doc->px_head->px_fileblocks : 0;
  if (static_cast<long long>(R.NumRecords) * Blocks <= kChainReadWork) {
    R.ChainRead = true;
    for (int I = 0; I < R.NumRecords; ++I) {
      if (!PX_get_record(D.Doc, I, Buf.data())) {
        R.Messages.push_back("error: record " + std::to_string(I) +
                             " cannot be read along the chain");
        break;
      }
      R.Records.push_back(Buf);
    }
  }
  if (Px.empty()) return R;

  // The index document belongs to the data document once attached; until then to us.
  auto Ix = std::make_unique<TPxDoc>(&State);
  if (!Ix->Doc || PX_open_file(Ix->Doc, Px.c_str()) < 0) {
    R.Messages.push_back("error: cannot open " + Px);
    return R;
  }
  if (PX_read_primary_index(Ix->Doc) < 0) return R;
  R.IndexEntries = PX_get_num_records(Ix->Doc);
  R.IndexLevels = Ix->Doc->px_head ? Ix->Doc->px_head->px_numindexlevels : 0;
  if (R.IndexLevels > 2) return R;
  if (PX_add_primary_index(D.Doc, Ix->Doc) < 0) return R;
  R.IndexAttached = true;
  for (int I = 0; I < R.NumRecords; ++I) {
    if (!PX_get_record(D.Doc, I, Buf.data())) {
      R.Messages.push_back("error: record " + std::to_string(I) +
                           " cannot be read through the index");
      break;
    }
    R.IndexedRecords.push_back(Buf);
  }
  // Detach the index again so that each document is freed once, by its own owner.
  D.Doc->px_pindex = nullptr;
  D.Doc->px_indexdata = nullptr;
  D.Doc->px_indexdatalen = 0;
  return R;
}

std::string CheckWithPxlib(const std::string& Db) {
  using namespace vlt::app;
  TParadoxFileImage Img;
  try {
    Img = ReadParadoxFile(Db);
  } catch (const EParadoxError& E) {
    return std::string("our reader: ") + E.what();
  }
  const std::string Px = Img.Header.KeyFields > 0 ? FindSiblingFile(Db, ".px") : std::string();
  if (Img.Header.KeyFields > 0 && Px.empty()) return "a keyed table without its .px";
  int OurLevels = 0;
  if (!Px.empty()) {
    try {
      std::vector<TParadoxFieldDesc> Keys(Img.Header.Fields.begin(),
                                          Img.Header.Fields.begin() + Img.Header.KeyFields);
      TParadoxIndexImage Ix = ReadParadoxIndex(Px, Keys);
      OurLevels = Ix.Levels;
      std::string Diff = CheckParadoxIndexAgainstData(Ix, Img);
      if (!Diff.empty()) return "our reader: the index " + Diff;
    } catch (const EParadoxError& E) {
      return std::string("our reader: ") + E.what();
    }
  }
  TPxlibTable P = ReadWithPxlib(Db, Px);
  for (const std::string& M : P.Messages) {
    // pxlib compares the sum of its first block's counts with all the others', which holds for
    // two levels only.
    if (OurLevels > 2 &&
        M == "warning: The number of records coverd by index level 2 is unequal to level 1.")
      continue;
    return "pxlib: " + M;
  }
  if (P.NumRecords != static_cast<int>(Img.Records.size()))
    return "pxlib counts " + std::to_string(P.NumRecords) + " records, our reader " +
           std::to_string(Img.Records.size());
  if (P.ChainRead && P.Records != Img.Records) return "pxlib reads other records along the chain";
  if (!Px.empty()) {
    if (P.IndexEntries < 0) return "pxlib does not load the index";
    if (P.IndexLevels != OurLevels) return "pxlib sees another number of index levels";
    if (OurLevels <= 2) {
      if (!P.IndexAttached) return "pxlib does not attach the index";
      if (P.IndexedRecords != Img.Records) return "pxlib reads other records through the index";
    }
  }
  return {};
}

namespace {

void CheckWrite(const std::string& Db) {
  const std::string Problem = CheckWithPxlib(Db);
  if (!Problem.empty())
    ADD_FAILURE() << "Paradox table " << Db << " written by the project: " << Problem;
}

}  // namespace

void CheckEveryParadoxWrite() {
  vlt::app::SetParadoxWriteObserver(&CheckWrite);
}

namespace {

// Every test program built with this file checks every table it writes.
const bool kEveryWriteChecked = (CheckEveryParadoxWrite(), true);

}  // namespace

}  // namespace vlt::test
