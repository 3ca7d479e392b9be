// TVLTDiskTableData::CheckTable: the consistency check of an open table, read only (see the
// declaration for what it compares). Kept apart from the table data's operations: it reads the
// file's page headers and walks every page and index of the table, and only checks (vltdb check,
// the verifier, tests) call it.
#include <algorithm>
#include <cstring>
#include <iterator>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "engine/base/VLTExcept.h"
#include "engine/base/VLTMemory.h"
#include "engine/core/VLTBTreeRecordIndex.h"
#include "engine/core/VLTIndexManager.h"
#include "engine/core/VLTPage.h"
#include "engine/core/VLTPageHandle.h"
#include "engine/disk/VLTDiskBlob.h"
#include "engine/disk/VLTDiskPageManager.h"
#include "engine/disk/VLTDiskRecordManager.h"
#include "engine/disk/VLTDiskTableData.h"
#include "engine/disk/VLTFreeSpaceManager.h"
#include "engine/disk/VLTRecordPage.h"

namespace vlt {

void TVLTDiskTableData::CheckTable(TVLTSessionID SessionID, std::vector<std::string>& Problems,
                                   const std::vector<TVLTDiskPageHeader>* Headers) {
  TVLTTableDataLatch L(*this);
  TVLTDiskRecordManager* RM = DiskRecordManager();
  if (!RM || !FIndexManager || !FFieldManager) {
    Problems.push_back("table '" + FTableName + "' is not open");
    return;
  }
  auto Problem = [&](const std::string& Text) { Problems.push_back(FTableName + ": " + Text); };
  auto Guard = [&](const std::string& What, auto&& Body) {
    try {
      Body();
    } catch (const std::exception& E) {
      Problem(What + ": " + E.what());
    }
  };

  // Record pages found in the file, with their used slots. The stored headers say which pages
  // are the table's; only those are read through the cache (and the cipher). A page the session
  // changed is judged by its own copy.
  std::map<TVLTPageNo, int32_t> Found;
  std::set<TVLTPageNo> BlobPages;
  std::vector<TVLTPageItemID> Physical;  // the records the table's record pages hold
  Guard("scanning the record pages", [&] {
    std::vector<TVLTDiskPageHeader> Own;
    if (!Headers) {
      LDiskPageManager->ReadPageHeaders(Own);
      Headers = &Own;
    }
    const TVLTSessionPageInfo* Info = LDiskPageManager->SessionInfo(SessionID);
    const int32_t Count = static_cast<int32_t>(Headers->size());
    for (TVLTPageNo No = 1; No < Count; ++No) {
      if (LDiskPageManager->IsSystemPage(No)) continue;
      const TVLTDiskPageHeader& Stored = (*Headers)[static_cast<size_t>(No)];
      const bool Changed = Info && Info->DirtyPages.Find(No);
      const bool Ours =
          std::memcmp(Stored.Signature, kPageSignature, sizeof Stored.Signature) == 0 &&
          Stored.ObjectID == FTableID &&
          (Stored.PageType == ptTableRecord || Stored.PageType == ptTableBlob);
      // A page stamped freed is no page of the table, whatever its bytes: a transaction that
      // never committed took it up again (the bitmaps mark it used, the page map counts it
      // leaked) and had not written it yet.
      if (!Changed && (!Ours || Stored.State == kPageStateFreed)) continue;
      if (!LDiskPageManager->FreeSpaceManager()->GetPageUsageFromPFS(No)) continue;
      TVLTPageHandle Handle(*LDiskPageManager);
      try {
        Handle.Get(SessionID, No, ptAny);
      } catch (const EVLTException& E) {
        Problem("page " + std::to_string(No) + " cannot be read: " + E.what());
        continue;
      }
      TVLTPage* Page = Handle.get();
      const TVLTDiskPageHeader* H = Page->PageHeader();
      if (H->PageType == ptTableBlob && H->ObjectID == FTableID) BlobPages.insert(No);
      if (H->PageType == ptTableRecord && H->ObjectID == FTableID) {
        try {
          const TVLTSmallRecordPage View(Page, RM->MaxRecordsOnPage(), RM->DiskRecordBufferSize());
          const int32_t Used = View.GetRecordCount();
          Found[No] = Used;
          TVLTPageItemID ID;
          for (bool More = View.GetFirstRecordID(ID); More; More = View.GetNextRecordID(ID))
            Physical.push_back(ID);
        } catch (const EVLTException& E) {
          Problem("record page " + std::to_string(No) + ": " + E.what());
        }
      }
    }
  });

  // The index's entries.
  std::map<TVLTPageNo, int32_t> Listed;
  int64_t Sum = 0;
  Guard("reading the record page index", [&] {
    TVLTBTreeRecordPageIndex& Index = RM->RecordPageIndex();
    if (Index.RootPageNo() == kNoPage) {
      Problem("the record page index has no root");
      return;
    }
    Index.Tree().CheckIntegrity(SessionID);
    TVLTPageNo No = kNoPage;
    if (Index.GetFirstRecordPage(SessionID, No)) do {
        uint16_t Amount = 0;
        Index.FindPage(SessionID, No, Amount);
        Listed[No] = Amount;
        Sum += Amount;
      } while (Index.GetNextRecordPage(SessionID, No, No));
  });
  for (const auto& [No, Used] : Found) {
    auto It = Listed.find(No);
    if (It == Listed.end()) {
      Problem("record page " + std::to_string(No) + " holds " + std::to_string(Used) +
              " records but the record page index does not list it");
    } else if (It->second != Used) {
      Problem("record page " + std::to_string(No) + " holds " + std::to_string(Used) +
              " records, the record page index says " + std::to_string(It->second));
    }
    if (Used == 0) Problem("record page " + std::to_string(No) + " holds no record but was kept");
  }
  for (const auto& [No, Amount] : Listed)
    if (!Found.count(No))
      Problem("the record page index lists page " + std::to_string(No) + " (" +
              std::to_string(Amount) + " records), which is no record page of the table");
  if (Sum != RM->FRecordCount)
    Problem("the record page index counts " + std::to_string(Sum) + " records, the table " +
            std::to_string(RM->FRecordCount));

  // BLOB pages and values. Pages the session removed stay marked used until it commits.
  if (const TVLTSessionPageInfo* Info = LDiskPageManager->SessionInfo(SessionID))
    for (int32_t I = 0; I < Info->RemovedPageNumbers.ItemCount(); ++I)
      BlobPages.erase(Info->RemovedPageNumbers[I]);
  if (FBlobManager) {
    std::vector<std::string> BlobProblems;
    Guard("checking the BLOB values", [&] { FBlobManager->Check(SessionID, BlobProblems, &BlobPages); });
    for (const std::string& P : BlobProblems) Problem(P);
  }

  // Every record exactly once in every index: the records the record pages hold against each
  // index's references.
  std::sort(Physical.begin(), Physical.end());
  auto Shown = [](const TVLTPageItemID& R) {
    return "(" + std::to_string(R.PageNo) + ", " + std::to_string(R.PageItemNo) + ")";
  };
  TVLTIndexDefs& Defs = FIndexManager->IndexDefs();
  for (int32_t I = 0; I < Defs.Count(); ++I) {
    const TVLTIndexDef& Def = Defs[I];
    const std::string Name = "index " + Def.FName;
    Guard(Name, [&] {
      TVLTIndex& Index = FIndexManager->OpenIndex(Def.FObjectID);
      std::vector<TVLTPageItemID> Entries;
      const auto Limit = static_cast<size_t>(std::max<int64_t>(RM->FRecordCount, 0) + 1);
      if (auto* BTree = dynamic_cast<TVLTBTreeRecordIndex*>(&Index)) {
        BTree->CheckIntegrity(SessionID);
        BTree->Tree().ForEachEntry(
            SessionID, [&](const uint8_t*, const uint8_t* Ref, const TVLTKeyPath&) {
              Entries.push_back(TVLTPageItemID::LoadFrom(Ref));
              return Entries.size() <= Limit;  // more would be a cycle; reported below
            });
      } else {
        TVLTBuffer Record(static_cast<size_t>(RM->FRecordBufferSize));
        TVLTNavigationInfo Nav;
        Nav.IndexID = Def.FObjectID;
        Nav.GetRecordMode = grmNext;
        Nav.FirstPosition = true;
        Nav.RecordBuffer = Record.data();
        for (;;) {
          Index.GetRecordBuffer(SessionID, Nav, RM->FTableState, nullptr);
          if (Nav.GetRecordResult != grrOK || Entries.size() > Limit) break;
          Entries.push_back(Nav.RecordID);
        }
      }
      if (static_cast<int64_t>(Entries.size()) != RM->FRecordCount)
        Problem(Name + " holds " + std::to_string(Entries.size()) + " entries, the table " +
                std::to_string(RM->FRecordCount) + " records");
      std::sort(Entries.begin(), Entries.end());
      for (size_t K = 1; K < Entries.size(); ++K)
        if (Entries[K] == Entries[K - 1] && (K < 2 || !(Entries[K - 2] == Entries[K])))
          Problem(Name + " holds record " + Shown(Entries[K]) + " more than once");
      Entries.erase(std::unique(Entries.begin(), Entries.end()), Entries.end());
      std::vector<TVLTPageItemID> Lacking, Stray;
      std::set_difference(Physical.begin(), Physical.end(), Entries.begin(), Entries.end(),
                          std::back_inserter(Lacking));
      std::set_difference(Entries.begin(), Entries.end(), Physical.begin(), Physical.end(),
                          std::back_inserter(Stray));
      for (const TVLTPageItemID& R : Lacking) Problem(Name + " lacks record " + Shown(R));
      for (const TVLTPageItemID& R : Stray)
        Problem(Name + " refers to record " + Shown(R) + ", which the table does not hold");
    });
  }
}

}  // namespace vlt
