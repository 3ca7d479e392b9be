// TVLTBTree: the B+tree shared by every ordered structure of the engine - the record indexes,
// the record page index and the BLOB page index. It lives in TableIndex pages of one page
// manager (layout: VLTBTreePage.h) and lays out and compares keys through a key reference
// object (VLTBTreeKey.h). The tree takes no locks: its owner runs it under the table data lock.
//
// Invariants (CheckIntegrity verifies 1-9 from the root downwards):
//   1. The root page never moves: its number is the index's root page number, its IsRoot byte
//      is 1 and no other page's is; its neighbour links are -1.
//   2. Every path from the root to a leaf has the same length; pages of one level are all
//      leaves or all nodes.
//   3. Every page holds at most as many entries as fit in its page data (a page may be exactly
//      full); its KeyPrefixSize is the key reference's short key size.
//   4. On a leaf, the entries are in key order; entries with equal keys are in reference order
//      (strictly ascending) - for record indexes the record-identifier order. (Where keys hold
//      truncated parts, equal stored keys may belong to different full values, so the check
//      then asks key order only.)
//   5. A node has at least one entry; a root node has at least two.
//   6. Separators of a node ascend (entry 0's key is not consulted).
//   7. Every key of child i is >= separator i and <= separator i + 1 (equal keys may straddle a
//      separator, in reference order).
//   8. The pages of one level form one chain through LeftPageNo/RightPageNo in key order, also
//      across parents; the children of neighbouring node entries are neighbours in it, and the
//      chain ends in -1 at both ends.
//   9. No page is reached twice (no cycles).
//  10. Each tree page is reachable exactly once from the root; pages taken out of the tree are
//      handed to the page manager's RemovePage at once.
// Every page read is also checked to be a TableIndex page whose header fits this tree.
//
// Keys compared on node pages never fetch full values; leaf searches do (through the key
// reference's record reader) when truncated parts tie. An index's order is therefore the full
// values' order, even where the stored keys are prefixes.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <vector>

#include "engine/core/VLTBTreeKey.h"
#include "engine/core/VLTBTreePage.h"
#include "engine/core/VLTPageManager.h"

namespace vlt {

// Conditions of key searches (scEqual, scLower, scGreater, scLowerEqual, scGreaterEqual); the
// enumerators are defined with the table data (VLTTableData.h).
enum TVLTSearchCondition : uint8_t;

enum TVLTKeyPathPosition : uint8_t {
  kppUnknown,
  kppOnKey,
  kppBeforeKey,
  kppAfterKey,
  kppBOF,
  kppEOF
};

struct TVLTKeyPathItem {
  TVLTPageNo PageNo = kNoPage;
  int32_t EntryNo = 0;
  int32_t EntryCount = 0;
};

// The way from the root to one entry: one item per level, root first.
struct TVLTKeyPath {
  static constexpr int32_t kMaxLevels = 32;

  std::array<TVLTKeyPathItem, kMaxLevels> Items{};
  int32_t Count = 0;
  int32_t ItemNo = 0;  // current level
  TVLTKeyPathPosition PositionType = kppUnknown;
  int32_t IndexState = 0;

  void Clear() {
    Count = 0;
    ItemNo = 0;
    PositionType = kppUnknown;
  }
  // Raises 20303 when the tree is deeper than a path can record (a damaged tree).
  void Push(TVLTPageNo PageNo, int32_t EntryNo, int32_t EntryCount);
  void Pop() { --Count; }
  TVLTKeyPathItem& Leaf() { return Items[static_cast<size_t>(Count - 1)]; }
  const TVLTKeyPathItem& Leaf() const { return Items[static_cast<size_t>(Count - 1)]; }
};

class TVLTBTree {
 public:
  // Bound of every walk along a level chain: more pages than a database file can hold means
  // the chain loops (a damaged file).
  static constexpr int64_t kMaxChainSteps = int64_t{1} << 31;

  // Tells a level chain that returns to a page it has passed (a damaged file) long before the
  // bound above: Brent's cycle detection, one comparison per step, no memory. Walk(PageNo)
  // answers false once the chain has looped; a loop is seen within twice its length after the
  // walk enters it.
  class TChainWalk {
   public:
    bool Walk(TVLTPageNo PageNo) {
      if (PageNo == FMark) return false;
      if (++FSteps == FPower) {
        FMark = PageNo;
        FPower *= 2;
        FSteps = 0;
      }
      return true;
    }

   private:
    TVLTPageNo FMark = kNoPage;
    int64_t FPower = 1, FSteps = 0;
  };

  // The tree does not own the page manager or the key reference.
  TVLTBTree(TVLTPageManager* PageManager, TVLTBTreeKeyRef* KeyRef, TVLTPageNo RootPageNo = kNoPage)
      : LPageManager(PageManager), LKeyRef(KeyRef), FRootPageNo(RootPageNo) {}

  TVLTPageNo RootPageNo() const { return FRootPageNo; }
  void SetRootPageNo(TVLTPageNo V) {
    FRootPageNo = V;
    Changed();
  }
  TVLTPageManager* PageManager() const { return LPageManager; }
  TVLTBTreeKeyRef* KeyRef() const { return LKeyRef; }

  // ---- life cycle (VLTBTreeModify.cpp) ----
  // Adds a TableIndex page initialised as an empty root leaf and makes it the root. 20304
  // when a key is so long that fewer than two entries fit in a page.
  TVLTPageNo CreateRoot(TVLTSessionID SessionID);
  // Removes every page of the tree, the root included; the root page number becomes -1.
  void Drop(TVLTSessionID SessionID);
  // Removes every page but the root and reinitialises the root as an empty leaf.
  void Empty(TVLTSessionID SessionID);

  // ---- changes (VLTBTreeModify.cpp) ----
  // Inserts (Key, Reference) after any entries with an equal key and a lower reference.
  void Insert(TVLTSessionID SessionID, const uint8_t* Key, const uint8_t* Reference);
  // Deletes the entry with an equal key and this reference; false when there is none.
  bool Delete(TVLTSessionID SessionID, const uint8_t* Key, const uint8_t* Reference);
  // Overwrites the reference of the entry Path is on (page indexes update amounts in place).
  void SetReference(TVLTSessionID SessionID, const TVLTKeyPath& Path, const uint8_t* Reference);

  // ---- the unique-key check and the insert that follows it (VLTBTreeModify.cpp) ----
  // Whether an entry with a key equal to Key exists: the answer of FindByCondition(scEqual),
  // mostly from one descent. When that descent compared the key unequal to every key it met,
  // the leaf position it reached is where Insert puts this key whatever its reference; the tree
  // keeps it for the session's InsertChecked of the same key. Any change to the tree, and any
  // page-manager event that may replace its pages (a cancel, another process's writes), drops
  // the position in between.
  bool ContainsKey(TVLTSessionID SessionID, const uint8_t* Key);
  // Insert of a key the session's last ContainsKey found absent: at the position kept when it
  // is still valid, else after a new descent. When the tree changed since the check, the key
  // is looked for again, and false (nothing inserted) answers that an equal key arrived in
  // between. Without a matching check it is a plain Insert.
  bool InsertChecked(TVLTSessionID SessionID, const uint8_t* Key, const uint8_t* Reference);

  // ---- search and positions (VLTBTreeSearch.cpp) ----
  // First or last entry matching Condition against Key (see TVLTSearchCondition); Path is on
  // it when found. An empty tree finds nothing.
  bool FindByCondition(TVLTSessionID SessionID, bool First, TVLTSearchCondition Condition,
                       const uint8_t* Key, TVLTKeyPath& Path);
  // The entry with this key and reference.
  bool FindEntry(TVLTSessionID SessionID, const uint8_t* Key, const uint8_t* Reference,
                 TVLTKeyPath& Path);
  // Positions Path on the first entry not lower than (Key, Reference); false past the end.
  bool Seek(TVLTSessionID SessionID, const uint8_t* Key, const uint8_t* Reference,
            TVLTKeyPath& Path);
  bool First(TVLTSessionID SessionID, TVLTKeyPath& Path);
  bool Last(TVLTSessionID SessionID, TVLTKeyPath& Path);
  // Moves to the next / prior entry in index order; false (Path unchanged) at the end.
  bool Next(TVLTSessionID SessionID, TVLTKeyPath& Path);
  bool Prior(TVLTSessionID SessionID, TVLTKeyPath& Path);
  // Next (Backwards false) or Prior that also copies the reference of the entry reached
  // (nullptr: skipped), reading the leaf once when the move stays on it.
  bool Step(TVLTSessionID SessionID, TVLTKeyPath& Path, bool Backwards, uint8_t* Reference);
  // Copies the short key and / or the reference of the entry Path is on (nullptr: skipped).
  void ReadEntry(TVLTSessionID SessionID, const TVLTKeyPath& Path, uint8_t* Key,
                 uint8_t* Reference);
  // Visits at most MaxEntries leaf entries, starting with the one Path is on and moving
  // backwards or forwards in index order as Prior / Next would, but reading each leaf page once
  // for all its entries. Visit answers true to stop there (Path is then on that entry); the
  // answer is whether it did. A position that is not on a leaf entry raises 20099.
  bool WalkEntries(TVLTSessionID SessionID, TVLTKeyPath& Path, bool Backwards, int32_t MaxEntries,
                   const std::function<bool(const uint8_t* Key, const uint8_t* Reference)>& Visit);
  // Number of entries in the tree (walks the leaf chain).
  int64_t EntryCount(TVLTSessionID SessionID);

  // 1-based number of the entry Path is on: its entry number + 1 plus the entries of the
  // leaves to its left.
  int64_t GetRecNo(TVLTSessionID SessionID, const TVLTKeyPath& Path);
  // The leaf entry with that number (1-based) along the leaf chain; 20074 for an empty tree,
  // 20075 for a number beyond the entry count.
  void GetPathByRecNo(TVLTSessionID SessionID, int64_t RecNo, TVLTKeyPath& Path);

  // Positions for record bitmaps: entry numbers read as digits in base GetMaxEntriesPerPage + 1,
  // root level most significant, each digit EntryNo + 1.
  int32_t GetMaxEntriesPerPage() const;
  int64_t PathToBitNo(const TVLTKeyPath& Path) const;
  // A path of as many levels as BitNo has digits; page numbers -1, counts 0.
  void BitNoToPath(int64_t BitNo, TVLTKeyPath& Path) const;
  // Follows the entry numbers of a BitNoToPath result from the root and copies the reference
  // of the leaf entry reached; false when the position does not exist.
  bool GetReferenceByPosition(TVLTSessionID SessionID, const TVLTKeyPath& Position,
                              uint8_t* Reference);
  // e0/c0 + e1/(c0 c1) + ... : where in [0, 1) the entry lies in index order.
  static double ApproxPosition(const TVLTKeyPath& Path);

  // Calls Visit for every leaf entry in index order with its key, reference and path; Visit
  // answers false to stop.
  void ForEachEntry(TVLTSessionID SessionID,
                    const std::function<bool(const uint8_t* Key, const uint8_t* Reference,
                                             const TVLTKeyPath& Path)>& Visit);

  // ---- integrity (VLTBTreeCheck.cpp) ----
  // Checks the invariants above from the root; raises the integrity error of the first one
  // broken (20028-20034, 20194; 20306 for the structure: root flag, levels, chain ends, empty
  // nodes; 20302 for a page header that cannot belong to the tree).
  void CheckIntegrity(TVLTSessionID SessionID);
  // Recursive check of the subtree of PageNo; Path holds the pages above it (empty for the
  // root).
  void CheckIntegrity(TVLTSessionID SessionID, TVLTPageNo PageNo, TVLTKeyPath& Path);

  // ---- internals shared by the implementation files ----
  // The page, checked to be a TableIndex page of this tree (CheckHeader false: only its type,
  // for a page that overflowed a moment ago and is about to be split).
  TVLTPage* GetTreePage(TVLTSessionID SessionID, TVLTPageNo PageNo, bool CheckHeader = true);

 private:
  enum class TLeafMode { LowerBound, UpperBound, Exact };

  // Descends from the root to the leaf where Key (and Reference) belongs; Path gets one item
  // per level, the leaf's EntryNo being the position found there. Tied (when given) tells
  // whether some comparison on the way found the key equal: when none did, the path is the
  // same in every mode.
  void Descend(TVLTSessionID SessionID, const uint8_t* Key, const uint8_t* Reference,
               TLeafMode Mode, TVLTKeyPath& Path, bool* Tied = nullptr);
  // Every change to the tree's pages or root goes through here: it drops the kept position.
  void Changed() { ++FChangeCount; }
  // The key and reference of the first entry at or after the leftmost leaf of the subtree
  // of PageNo; false when no entry follows.
  bool FirstEntryFrom(TVLTSessionID SessionID, TVLTPageNo PageNo, std::vector<uint8_t>& Key,
                      std::vector<uint8_t>& Reference);
  // Moves Path (on a leaf) to entry 0 of the next / last entry of the prior leaf in key order,
  // skipping empty leaves. False, Path unchanged, when there is none.
  bool NextLeaf(TVLTSessionID SessionID, TVLTKeyPath& Path);
  bool PriorLeaf(TVLTSessionID SessionID, TVLTKeyPath& Path);
  // The reference of a leaf entry; 20099 when the page is no leaf or has no such entry.
  static void CopyReference(const TVLTBTreePage& Page, int32_t EntryNo, uint8_t* Reference);
  // Moves the item at Level (and the items below it) to the neighbouring page of that level
  // through the path; the items below are positioned on the first (Right) or last entry.
  bool SiblingPath(TVLTSessionID SessionID, TVLTKeyPath& Path, int32_t Level, bool Right);
  // Completes Path below Level along the first (FirstEntries) or last entries.
  void DescendEdge(TVLTSessionID SessionID, TVLTKeyPath& Path, bool FirstEntries);

  // Modification helpers (VLTBTreeModify.cpp).
  void InsertAt(TVLTSessionID SessionID, TVLTKeyPath& Path, int32_t Level, const uint8_t* Key,
                const uint8_t* Reference);
  void SplitPage(TVLTSessionID SessionID, TVLTKeyPath& Path, int32_t Level);
  void DeleteAt(TVLTSessionID SessionID, TVLTKeyPath& Path, int32_t Level);
  bool TryMerge(TVLTSessionID SessionID, TVLTKeyPath& Path, int32_t Level, bool IntoLeft);
  void CollapseRoot(TVLTSessionID SessionID);
  // The separator that leads to the page at Level: (level, entry) of the nearest ancestor
  // entry that is not entry 0; false for a leftmost page.
  static bool SeparatorOf(const TVLTKeyPath& Path, int32_t Level, int32_t& SepLevel,
                          int32_t& SepEntry);
  void ReadNodeKey(TVLTSessionID SessionID, TVLTPageNo PageNo, int32_t EntryNo,
                   std::vector<uint8_t>& Key);
  void WriteNodeKey(TVLTSessionID SessionID, TVLTPageNo PageNo, int32_t EntryNo,
                    const uint8_t* Key);
  // The true first key of the subtree of PageNo; false when its leftmost leaf is empty.
  bool SubtreeFirstKey(TVLTSessionID SessionID, TVLTPageNo PageNo, std::vector<uint8_t>& Key);
  // Every page of the tree, level by level from the root.
  std::vector<TVLTPageNo> CollectPages(TVLTSessionID SessionID);

  // Check helpers (VLTBTreeCheck.cpp).
  struct TCheckState;
  void CheckPage(TVLTSessionID SessionID, TVLTPageNo PageNo, TVLTKeyPath& Path, TCheckState& State);
  // Key and reference of the first or last entry of the subtree of PageNo; false when its
  // edge leaf is empty.
  bool EdgeEntry(TVLTSessionID SessionID, TVLTPageNo PageNo, bool FirstEntry,
                 std::vector<uint8_t>& Key, std::vector<uint8_t>& Reference);

  // What the last ContainsKey that found its key absent saw.
  struct TCheckedKey {
    bool Checked = false;   // a check is waiting for its insert
    bool PathKept = false;  // Path is where the key goes (no tie on the way)
    TVLTSessionID SessionID = kNoSessionID;
    uint64_t ChangeCount = 0;
    uint64_t ManagerEpoch = 0;
    std::vector<uint8_t> Key;
    TVLTKeyPath Path;
  };
  bool CheckedKeyMatches(TVLTSessionID SessionID, const uint8_t* Key) const;

  TVLTPageManager* LPageManager;
  TVLTBTreeKeyRef* LKeyRef;
  TVLTPageNo FRootPageNo;
  uint64_t FChangeCount = 0;
  TCheckedKey FChecked;
};

}  // namespace vlt
