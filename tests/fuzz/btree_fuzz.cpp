// Damaged B+tree pages: a tree of three levels (page size 128, 32-bit keys, 16-bit references)
// is built once in an in-memory page manager and committed; each input damages its stored pages
// (patches over the pages laid end to end, see FuzzPatch.h). The tree is then checked from its
// root. A tree that passes the check is walked whole in both directions, searched, changed and
// checked again, which must pass: a sound tree stays sound. A tree that fails it is still
// searched and walked a bounded number of entries, as a reader that does not check first would.
// Any input must end in a result or an engine error: no crash, no hang, no sanitizer report.
#include <cstdlib>
#include <exception>
#include <map>
#include <vector>

#include "engine/base/VLTExcept.h"
#include "engine/core/VLTBTree.h"
#include "engine/core/VLTBTreeKey.h"
#include "engine/expr/VLTSearchCondition.h"
#include "tests/core/VLTPageTestUtil.h"
#include "tests/fuzz/FuzzPatch.h"

namespace {

using namespace vlt;

constexpr TVLTSessionID kS = 0;
constexpr uint16_t kPageSize = 128;

struct TImage {
  std::map<TVLTPageNo, std::vector<uint8_t>> Pages;
  std::vector<uint8_t> Flat;  // the pages end to end, in page-number order
  TVLTPageNo Root = kNoPage;
};

const TImage& Image() {
  static const TImage I = [] {
    TImage R;
    test::TMemPageManager PM(kPageSize);
    TVLTPageKeyRef Ref;
    TVLTBTree T(&PM, &Ref);
    R.Root = T.CreateRoot(kS);
    for (int32_t K = 0; K < 400; ++K) {
      uint8_t Key[4], Rf[2];
      StoreLE<int32_t>(Key, (K * 7919) % 1000);
      StoreLE<uint16_t>(Rf, static_cast<uint16_t>(K));
      T.Insert(kS, Key, Rf);
    }
    PM.ApplyChanges(kS);
    R.Pages = PM.Stored;
    for (const auto& [No, Bytes] : R.Pages) R.Flat.insert(R.Flat.end(), Bytes.begin(), Bytes.end());
    return R;
  }();
  return I;
}

void Key(int32_t K, uint8_t* Into) {
  StoreLE<int32_t>(Into, K);
}

// Searches and a bounded walk: what any reader does.
void Read(TVLTBTree& T) {
  uint8_t K[4], Ek[4], Er[2];
  for (int32_t Probe : {-1, 0, 500, 999, 1000}) {
    Key(Probe, K);
    for (TVLTSearchCondition C : {scEqual, scGreater, scLower, scGreaterEqual, scLowerEqual}) {
      TVLTKeyPath P;
      try {
        if (T.FindByCondition(kS, true, C, K, P)) {
          T.ReadEntry(kS, P, Ek, Er);
          (void)T.GetRecNo(kS, P);
        }
      } catch (const EVLTException&) {
      }
    }
  }
  try {
    TVLTKeyPath P;
    if (T.First(kS, P)) {
      int32_t Seen = 0;
      T.WalkEntries(kS, P, false, 2000, [&](const uint8_t*, const uint8_t*) { return ++Seen < 0; });
    }
  } catch (const EVLTException&) {
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  const TImage& I = Image();
  const std::vector<uint8_t> Flat = fuzz::Damaged(I.Flat, Data, Size);
  test::TMemPageManager PM(kPageSize);
  size_t At = 0;
  for (const auto& [No, Bytes] : I.Pages) {
    PM.Stored[No].assign(Flat.begin() + static_cast<std::ptrdiff_t>(At),
                         Flat.begin() + static_cast<std::ptrdiff_t>(At + Bytes.size()));
    PM.Used.insert(No);
    At += Bytes.size();
  }
  TVLTPageKeyRef Ref;
  TVLTBTree T(&PM, &Ref, I.Root);
  bool Sound = true;
  try {
    T.CheckIntegrity(kS);
  } catch (const EVLTException&) {
    Sound = false;
  }
  Read(T);
  if (Sound) {
    // Whole walks, changes, and the check once more: an error here is a fault of the tree code.
    try {
      int64_t Forward = 0, Backward = 0;
      TVLTKeyPath P;
      for (bool On = T.First(kS, P); On; On = T.Next(kS, P)) ++Forward;
      for (bool On = T.Last(kS, P); On; On = T.Prior(kS, P)) ++Backward;
      if (Forward != Backward || Forward != T.EntryCount(kS)) std::abort();
      uint8_t K[4], Rf[2];
      for (int32_t N = 0; N < 60; ++N) {
        Key(N * 13 % 1000, K);
        StoreLE<uint16_t>(Rf, static_cast<uint16_t>(1000 + N));
        T.Insert(kS, K, Rf);
        if (N % 2) T.Delete(kS, K, Rf);
      }
      T.CheckIntegrity(kS);
    } catch (const EVLTException&) {
      std::abort();
    }
  }
  PM.CancelChanges(kS);
  return 0;
}
