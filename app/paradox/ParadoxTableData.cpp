#include "app/paradox/ParadoxTableData.h"

#include <limits.h>
#include <stdlib.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <mutex>

#include "app/paradox/ParadoxError.h"
#include "app/paradox/ParadoxFile.h"
#include "app/paradox/ParadoxTable.h"
#include "app/paradox/ParadoxValue.h"

namespace vlt::app {

namespace {

// Open tables by file identity (device and inode), so that two spellings of one file share.
struct TRegistry {
  std::mutex Lock;
  std::map<std::string, std::weak_ptr<TParadoxTableData>> Tables;
  ~TRegistry() { TParadoxTableData::FlushAll(); }
};

TRegistry& Registry() {
  static TRegistry R;
  return R;
}

// Tables are shared by their canonical path. (Not by inode: writing a table replaces its file,
// so the inode changes while the table stays open.)
std::string FileKey(const std::string& Path) {
  char Buf[PATH_MAX];
  if (::realpath(Path.c_str(), Buf)) return Buf;
  return Path;
}

}  // namespace

bool TParadoxRecordOrder::operator()(const TParadoxRecord* A, const TParadoxRecord* B) const {
  int C = Table->CompareKeys(A->Data, B->Data);
  if (C) return C < 0;
  return A->Seq < B->Seq;
}

TParadoxTableData::TParadoxTableData(const std::string& Path)
    : FPath(Path),
      FCP(0),
      FAlphaOrder(TParadoxCollation::Ascii, FCP),
      FOrder(TParadoxRecordOrder{this}) {
  TParadoxFileImage Img = ReadParadoxFile(Path);
  FHeader = std::move(Img.Header);
  FCP = TParadoxCodePage(FHeader.CodePage);
  FAlphaOrder = TParadoxAlphaOrder(CollationOf(FHeader.SortOrder, FHeader.SortOrderName), FCP);
  for (std::string& R : Img.Records) {
    auto Rec = std::make_unique<TParadoxRecord>();
    Rec->Seq = FNextSeq++;
    Rec->Data = std::move(R);
    // A keyed table's blocks hold its records in key order, so the hint at the end makes
    // loading linear; records out of order still land in their place.
    FOrder.insert(FOrder.end(), Rec.get());
    FRecords.emplace(Rec->Seq, std::move(Rec));
  }
}

TParadoxTableData::~TParadoxTableData() = default;

std::shared_ptr<TParadoxTableData> TParadoxTableData::Acquire(const std::string& Path) {
  TRegistry& R = Registry();
  std::lock_guard<std::mutex> G(R.Lock);
  std::string Key = FileKey(Path);
  for (auto It = R.Tables.begin(); It != R.Tables.end();)
    It = It->second.expired() && It->first != Key ? R.Tables.erase(It) : std::next(It);
  if (auto It = R.Tables.find(Key); It != R.Tables.end())
    if (auto Sp = It->second.lock()) return Sp;
  std::shared_ptr<TParadoxTableData> Sp(new TParadoxTableData(Path));
  R.Tables[Key] = Sp;
  return Sp;
}

bool TParadoxTableData::IsOpen(const std::string& Path) {
  TRegistry& R = Registry();
  std::lock_guard<std::mutex> G(R.Lock);
  auto It = R.Tables.find(FileKey(Path));
  return It != R.Tables.end() && !It->second.expired();
}

void TParadoxTableData::FlushAll() noexcept {
  TRegistry& R = Registry();
  std::vector<std::shared_ptr<TParadoxTableData>> Live;
  {
    std::lock_guard<std::mutex> G(R.Lock);
    for (auto& [K, W] : R.Tables)
      if (auto Sp = W.lock()) Live.push_back(Sp);
  }
  for (auto& T : Live) {
    try {
      T->Flush();
    } catch (const std::exception& E) {
      std::fprintf(stderr, "%s\n", E.what());
    }
  }
}

const TParadoxBlobFile* TParadoxTableData::Blobs() {
  if (!FBlobsTried) {
    FBlobsTried = true;
    std::string Mb = FindSiblingFile(FPath, ".mb");
    if (!Mb.empty()) {
      try {
        FBlobs = std::make_unique<TParadoxBlobFile>(Mb, FHeader.Encryption);
      } catch (const EParadoxError&) {
        FBlobs.reset();
      }
    }
  }
  return FBlobs.get();
}

TParadoxRecord* TParadoxTableData::Find(uint64_t Seq) const {
  auto It = FRecords.find(Seq);
  return It == FRecords.end() ? nullptr : It->second.get();
}

int TParadoxTableData::CompareField(const TParadoxFieldDesc& F, const uint8_t* A,
                                    const uint8_t* B) const {
  if (F.Kind == pxfAlpha)
    return FAlphaOrder.Compare(A + F.Offset, static_cast<size_t>(F.Width), B + F.Offset,
                               static_cast<size_t>(F.Width));
  return CompareFieldBytes(F, A, B);
}

int TParadoxTableData::CompareKeys(const std::string& A, const std::string& B) const {
  const auto* Pa = reinterpret_cast<const uint8_t*>(A.data());
  const auto* Pb = reinterpret_cast<const uint8_t*>(B.data());
  for (int I = 0; I < FHeader.KeyFields; ++I) {
    int C = CompareField(FHeader.Fields[static_cast<size_t>(I)], Pa, Pb);
    if (C) return C;
  }
  return 0;
}

void TParadoxTableData::CheckKeysWritable(int KeyCount) const {
  if (FAlphaOrder.Collation() != TParadoxCollation::Unknown) return;
  for (int I = 0; I < KeyCount && I < static_cast<int>(FHeader.Fields.size()); ++I)
    if (FHeader.Fields[static_cast<size_t>(I)].Kind == pxfAlpha)
      throw EParadoxError("Table \"" + FPath + "\" uses the sort order \"" +
                          SortOrderText(FHeader.SortOrder, FHeader.SortOrderName) +
                          "\", which this program does not know; its keys cannot be written.");
}

bool TParadoxTableData::KeyTaken(const std::string& Data, const TParadoxRecord* Self) const {
  if (FHeader.KeyFields == 0) return false;
  TParadoxRecord Probe{0, Data};  // sequence 0 sorts before every record of the same key
  auto It = FOrder.lower_bound(&Probe);
  for (; It != FOrder.end() && CompareKeys((*It)->Data, Data) == 0; ++It)
    if (*It != Self) return true;
  return false;
}

TParadoxRecord* TParadoxTableData::Insert(const std::string& Data) {
  CheckKeysWritable(FHeader.KeyFields);
  if (KeyTaken(Data, nullptr)) throw EParadoxError("Key violation.");
  auto Rec = std::make_unique<TParadoxRecord>();
  Rec->Seq = FNextSeq++;
  Rec->Data = Data;
  TParadoxRecord* P = Rec.get();
  FRecords.emplace(P->Seq, std::move(Rec));
  FOrder.insert(P);
  ++FVersion;
  FModified = true;
  for (TParadoxTable* T : FCursors) T->RecordArrived(P);
  return P;
}

void TParadoxTableData::Update(TParadoxRecord* Rec, const std::string& Data) {
  CheckKeysWritable(FHeader.KeyFields);
  if (KeyTaken(Data, Rec)) throw EParadoxError("Key violation.");
  for (TParadoxTable* T : FCursors) T->RecordLeaving(Rec);
  FOrder.erase(Rec);
  Rec->Data = Data;
  FOrder.insert(Rec);
  ++FVersion;
  FModified = true;
  for (TParadoxTable* T : FCursors) T->RecordArrived(Rec);
}

void TParadoxTableData::Remove(TParadoxRecord* Rec) {
  CheckKeysWritable(FHeader.KeyFields);
  for (TParadoxTable* T : FCursors) T->RecordRemoving(Rec);
  for (TParadoxTable* T : FCursors) T->RecordLeaving(Rec);
  FOrder.erase(Rec);
  ++FVersion;
  FModified = true;
  FRecords.erase(Rec->Seq);
}

void TParadoxTableData::SetPrimaryKey(int KeyCount) {
  CheckKeysWritable(KeyCount);
  // Check on a copy ordered by the new key first, so a failure changes nothing.
  std::vector<TParadoxRecord*> All(FOrder.begin(), FOrder.end());
  const int Old = FHeader.KeyFields;
  FHeader.KeyFields = KeyCount;
  std::stable_sort(All.begin(), All.end(), [&](const TParadoxRecord* A, const TParadoxRecord* B) {
    return CompareKeys(A->Data, B->Data) < 0;
  });
  for (size_t I = 1; I < All.size(); ++I)
    if (CompareKeys(All[I - 1]->Data, All[I]->Data) == 0) {
      FHeader.KeyFields = Old;
      throw EParadoxError("Key violation: records of table \"" + FPath +
                          "\" repeat a key of the new primary index.");
    }
  FHeader.KeyFields = Old;
  for (TParadoxTable* T : FCursors)
    for (TParadoxRecord* R : All) T->RecordLeaving(R);
  FOrder.clear();
  FHeader.KeyFields = KeyCount;
  for (TParadoxRecord* R : All) FOrder.insert(R);
  ++FVersion;
  FModified = true;
  for (TParadoxTable* T : FCursors)
    for (TParadoxRecord* R : All) T->RecordArrived(R);
}

void TParadoxTableData::CheckInvariants() const {
  if (FRecords.size() != FOrder.size())
    throw EParadoxError("Invariant 1: record map and order differ in size.");
  const TParadoxRecord* Prev = nullptr;
  for (const TParadoxRecord* R : FOrder) {
    if (Find(R->Seq) != R)
      throw EParadoxError("Invariant 1: a record in the order is not in the map.");
    if (Prev) {
      int C = CompareKeys(Prev->Data, R->Data);
      if (C > 0 || (C == 0 && Prev->Seq >= R->Seq))
        throw EParadoxError("Invariant 2: records out of order.");
      if (C == 0 && FHeader.KeyFields > 0) throw EParadoxError("Invariant 4: a key repeats.");
    }
    Prev = R;
  }
}

void TParadoxTableData::Detach(TParadoxTable* T) {
  FCursors.erase(std::remove(FCursors.begin(), FCursors.end(), T), FCursors.end());
}

void TParadoxTableData::Flush() {
  if (!FModified) return;
  std::vector<const std::string*> Recs;
  Recs.reserve(FOrder.size());
  for (const TParadoxRecord* R : FOrder) Recs.push_back(&R->Data);
  TParadoxHeader H = FHeader;
  WriteParadoxFile(FPath, H, Recs);
  FHeader.Version = H.Version;
  FHeader.BlockSize = H.BlockSize;
  FModified = false;
}

}  // namespace vlt::app
