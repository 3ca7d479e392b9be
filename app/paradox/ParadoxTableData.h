// The records of one open Paradox table, shared by every table object (cursor) open on the same
// file, so that a change posted through one is seen by all.
//
// Invariants:
//   1. Every record is in FRecords (by its sequence number, which is also its bookmark) and in
//      FOrder exactly once.
//   2. FOrder sorts by the primary key (keyed tables), then by sequence number; an unkeyed
//      table's sequence numbers follow its physical order, and appended records get the next.
//   3. A record's bytes change only through Update, which takes it out of FOrder and out of
//      every cursor's filter set before the change and puts it back afterwards.
//   4. In a keyed table no two records have equal keys.
// Alpha fields compare under the table's sort order (ParadoxSortOrder.h). Under a sort order
// this program does not know, keys compare by bytes for reading, and every change that would
// write keys (a post, a delete, a new primary key) is refused.
// The file is written only by Flush (when the last cursor closes, after an index is added, or
// when the program ends): a post costs a few set operations, never a rewrite of the file.
#pragma once

#include <cstdint>
#include <memory>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

#include "app/paradox/ParadoxBlob.h"
#include "app/paradox/ParadoxCodePage.h"
#include "app/paradox/ParadoxHeader.h"
#include "app/paradox/ParadoxSortOrder.h"

namespace vlt::app {

class TParadoxTable;
class TParadoxTableData;

struct TParadoxRecord {
  uint64_t Seq = 0;
  std::string Data;
};

struct TParadoxRecordOrder {
  const TParadoxTableData* Table = nullptr;
  bool operator()(const TParadoxRecord* A, const TParadoxRecord* B) const;
};
using TParadoxRecordSet = std::set<TParadoxRecord*, TParadoxRecordOrder>;

class TParadoxTableData {
 public:
  // The shared data of the table file Path (loaded when no cursor has it open).
  static std::shared_ptr<TParadoxTableData> Acquire(const std::string& Path);
  // Whether some cursor has Path open.
  static bool IsOpen(const std::string& Path);
  // Writes every changed open table (at program end).
  static void FlushAll() noexcept;

  ~TParadoxTableData();
  TParadoxTableData(const TParadoxTableData&) = delete;
  TParadoxTableData& operator=(const TParadoxTableData&) = delete;

  const std::string& Path() const { return FPath; }
  const TParadoxHeader& Header() const { return FHeader; }
  const TParadoxCodePage& CodePage() const { return FCP; }
  const TParadoxBlobFile* Blobs();
  const TParadoxRecordSet& Order() const { return FOrder; }
  size_t RecordCount() const { return FOrder.size(); }
  uint64_t Version() const { return FVersion; }
  TParadoxRecord* Find(uint64_t Seq) const;

  // Key comparison of two record images (0 for unkeyed tables).
  int CompareKeys(const std::string& A, const std::string& B) const;
  // Field F of two record images in the table's order.
  int CompareField(const TParadoxFieldDesc& F, const uint8_t* A, const uint8_t* B) const;
  const TParadoxAlphaOrder& AlphaOrder() const { return FAlphaOrder; }
  // Raises EParadoxError when keys over the first KeyCount fields cannot be written because
  // one of them is an alpha field and the sort order is unknown.
  void CheckKeysWritable(int KeyCount) const;

  // Record changes; each raises EParadoxError("Key violation ...") when a key would repeat.
  TParadoxRecord* Insert(const std::string& Data);
  void Update(TParadoxRecord* Rec, const std::string& Data);
  void Remove(TParadoxRecord* Rec);
  uint32_t NextAutoInc() { return ++FHeader.AutoInc; }

  // Makes the first KeyCount fields the primary key, ordering the records by it. Raises
  // EParadoxError, leaving everything unchanged, when two records share a key.
  void SetPrimaryKey(int KeyCount);

  void Attach(TParadoxTable* T) { FCursors.push_back(T); }
  void Detach(TParadoxTable* T);
  size_t CursorCount() const { return FCursors.size(); }

  void MarkModified() { FModified = true; }
  // Checks invariants 1, 2 and 4; raises EParadoxError naming the first one broken.
  void CheckInvariants() const;
  // Writes the table (and its .px) when it has changed.
  void Flush();

 private:
  explicit TParadoxTableData(const std::string& Path);
  bool KeyTaken(const std::string& Data, const TParadoxRecord* Self) const;

  std::string FPath;
  TParadoxHeader FHeader;
  TParadoxCodePage FCP;
  TParadoxAlphaOrder FAlphaOrder;
  std::unique_ptr<TParadoxBlobFile> FBlobs;
  bool FBlobsTried = false;
  std::unordered_map<uint64_t, std::unique_ptr<TParadoxRecord>> FRecords;
  TParadoxRecordSet FOrder;
  uint64_t FNextSeq = 1;
  uint64_t FVersion = 0;
  bool FModified = false;
  std::vector<TParadoxTable*> FCursors;
};

}  // namespace vlt::app
