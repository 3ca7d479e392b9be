#include "engine/disk/VLTDiskRecordManager.h"

#include <algorithm>
#include <cstring>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "engine/base/VLTErrorCodes.h"
#include "engine/base/VLTExcept.h"
#include "engine/core/VLTFieldManager.h"
#include "engine/core/VLTPage.h"
#include "engine/core/VLTPageHandle.h"
#include "engine/disk/VLTDiskFileFormat.h"
#include "engine/disk/VLTDiskPageManager.h"
#include "engine/disk/VLTDiskTableData.h"
#include "engine/disk/VLTFreeSpaceManager.h"
#include "engine/disk/VLTRecordPage.h"
#include "engine/protect/VLTStream.h"

namespace vlt {

namespace {
constexpr int32_t kHighestLiveState = 2147483645;
}

// A page held for the scope: put back on every exit.

TVLTDiskRecordManager::TVLTDiskRecordManager(TVLTDiskPageManager* PageManager,
                                             TVLTDiskTableData* TableData,
                                             TVLTInternalDBTransactedAccessFile* MostUpdatedFile,
                                             TVLTBaseFieldManager* FieldManager)
    : FRecordPageIndex(std::make_unique<TVLTBTreeRecordPageIndex>(PageManager, 0)),
      LPageManager(PageManager),
      LFieldManager(FieldManager),
      LMostUpdatedFile(MostUpdatedFile),
      LTableData(TableData) {}

TVLTDiskRecordManager::~TVLTDiskRecordManager() = default;

void TVLTDiskRecordManager::Init(int32_t RecordBufferSize, int32_t DiskRecordBufferSize,
                                 int32_t /*FieldCount*/) {
  FRecordBufferSize = RecordBufferSize;
  FDiskRecordBufferSize = DiskRecordBufferSize;
  FMaxRecordsOnPage = CalcMaxRecordsOnPage(LPageManager->PageDataSize(), DiskRecordBufferSize);
  if (FMaxRecordsOnPage <= 0)
    throw EVLTException(kErrCannotCreateTableRecord,
                        "Cannot create table. Record is too large to fit in current database "
                        "page. Please increase page size of database file or decrease record "
                        "size");
  FRecordPageIndex->SetMaxRecordsOnPage(FMaxRecordsOnPage);
  FTempDiskRecordBuffer = TVLTBuffer(static_cast<size_t>(DiskRecordBufferSize));
}

bool TVLTDiskRecordManager::IsTableRecordPage(const TVLTPage& Page) const {
  if (LPageManager->DBHeader().Version < kDBMinVersionWithoutRepair) return true;
  if (LPageManager->FreeSpaceManager() && LPageManager->FreeSpaceManager()->SuppressDBHeaderErrors())
    return true;
  const TVLTDiskPageHeader* H = Page.PageHeader();
  return H->State <= kHighestLiveState && H->PageType == ptTableRecord &&
         H->ObjectID == LTableData->TableID();
}

void TVLTDiskRecordManager::CheckListedPage(const TVLTPage& Page) const {
  if (IsTableRecordPage(Page)) return;
  const TVLTDiskPageHeader* H = Page.PageHeader();
  const int64_t No = Page.PageNo();
  const std::string& Table = LTableData->TableName();
  if (H->PageType != ptTableRecord)
    throw EVLTException(kErrInvalidPageTypePossible,
                        "Invalid page type. Possible data corruption. Expecting type %d, but "
                        "found %d (page %d of table '%s')",
                        {int64_t{ptTableRecord}, int64_t{H->PageType}, No, Table});
  if (H->State > kHighestLiveState)
    throw EVLTException(kErrInvalidPageTypePossible,
                        "Invalid page type. Possible data corruption. Expecting a record page, "
                        "but found a freed page (page %d of table '%s')",
                        {No, Table});
  throw EVLTException(kErrInvalidPageTypePossible,
                      "Invalid page type. Possible data corruption. Expecting a record page of "
                      "object %d, but found one of object %d (page %d of table '%s')",
                      {int64_t{LTableData->TableID()}, int64_t{H->ObjectID}, No, Table});
}

// ---- changes ----

void TVLTDiskRecordManager::Empty(TVLTSessionID SessionID) {
  TVLTPageNo PageNo = kNoPage;
  if (FRecordPageIndex->RootPageNo() != kNoPage &&
      FRecordPageIndex->GetFirstRecordPage(SessionID, PageNo)) {
    TVLTIntegerArray Pages;
    do Pages.Append(PageNo);
    while (FRecordPageIndex->GetNextRecordPage(SessionID, PageNo, PageNo));
    for (int32_t No : Pages) LPageManager->RemovePage(SessionID, No);
  }
  FTableState = 0;
  FRecordCount = 0;
  if (FRecordPageIndex->RootPageNo() != kNoPage) FRecordPageIndex->EmptyIndex(SessionID);
}

bool TVLTDiskRecordManager::AddRecord(TVLTSessionID SessionID, const uint8_t* RecordBuffer,
                                      TVLTPageItemID& RecordID) {
  TVLTPageHandle Page(*LPageManager);
  bool NewPage = false, SlotTaken = false;
  TVLTPageItemID ID;
  try {
    TVLTPageNo PageNo = kNoPage;
    if (FRecordPageIndex->FindPageForNewRecord(SessionID, PageNo)) {
      Page.Get(SessionID, PageNo, ptTableRecord);
    } else {
      Page.Add(SessionID, ptTableRecord);
      NewPage = true;
      Page->PageHeader()->ObjectID = LTableData->TableID();
      std::memset(Page->PageData(), 0, static_cast<size_t>(RecordPageBitmapSize(FMaxRecordsOnPage)));
    }
    LFieldManager->MemRecordBufferToDiskRecordBuffer(RecordBuffer, FTempDiskRecordBuffer.data());
    TVLTSmallRecordPage View(Page.get(), FMaxRecordsOnPage, FDiskRecordBufferSize);
    if (!View.AddRecord(FTempDiskRecordBuffer.data(), ID))
      throw EVLTException(kErrCannotAddDataItem, "Cannot add data item to page. Page is full");
    SlotTaken = true;
    Page->SetIsDirty(true);
    FRecordPageIndex->AddRecord(SessionID, Page->PageNo(), 1);
    ++FRecordCount;
    ++FTableState;
    RecordID = ID;
    return true;
  } catch (...) {
    // Nothing of a refused record may stay behind: neither its slot nor an empty new page.
    try {
      if (Page.get() && SlotTaken) {
        TVLTSmallRecordPage(Page.get(), FMaxRecordsOnPage, FDiskRecordBufferSize).DeleteRecord(ID);
        Page->SetIsDirty(true);
      }
      if (Page.get() && NewPage) {
        const TVLTPageNo No = Page->PageNo();
        Page.Release();
        LPageManager->RemovePage(SessionID, No);
      }
    } catch (...) {
      // This function answers false and never raises (see the header).
    }
    return false;
  }
}

bool TVLTDiskRecordManager::UpdateRecord(TVLTSessionID SessionID, const uint8_t* RecordBuffer,
                                         const TVLTPageItemID& RecordID) {
  TVLTPageHandle Page(*LPageManager);
  Page.Get(SessionID, RecordID.PageNo, ptTableRecord);
  TVLTSmallRecordPage View(Page.get(), FMaxRecordsOnPage, FDiskRecordBufferSize);
  if (!View.IsSlotUsed(RecordID.PageItemNo)) return false;
  LFieldManager->MemRecordBufferToDiskRecordBuffer(RecordBuffer, FTempDiskRecordBuffer.data());
  View.UpdateRecord(FTempDiskRecordBuffer.data(), RecordID);
  Page->SetIsDirty(true);
  ++FTableState;
  return true;
}

bool TVLTDiskRecordManager::DeleteRecord(TVLTSessionID SessionID, const TVLTPageItemID& RecordID) {
  TVLTPageHandle Page(*LPageManager);
  Page.Get(SessionID, RecordID.PageNo, ptTableRecord);
  TVLTSmallRecordPage View(Page.get(), FMaxRecordsOnPage, FDiskRecordBufferSize);
  if (!View.DeleteRecord(RecordID)) return false;
  Page->SetIsDirty(true);
  const int32_t Left = View.GetRecordCount();
  try {
    // The index first: when it refuses, the record is still there.
    FRecordPageIndex->DeleteRecord(SessionID, RecordID.PageNo, static_cast<uint16_t>(Left));
  } catch (...) {
    // Set the bit again (the slot's bytes were never touched).
    Page->PageData()[RecordID.PageItemNo / 8] |= static_cast<uint8_t>(1u << (RecordID.PageItemNo % 8));
    throw;
  }
  --FRecordCount;
  ++FTableState;
  if (Left == 0) {
    Page.Release();
    LPageManager->RemovePage(SessionID, RecordID.PageNo);
  }
  return true;
}

// ---- navigation ----

void TVLTDiskRecordManager::ReadInto(const uint8_t* DiskRecord, TVLTNavigationInfo& Info) {
  if (Info.RecordBuffer) LFieldManager->DiskRecordBufferToMemRecordBuffer(DiskRecord, Info.RecordBuffer);
}

bool TVLTDiskRecordManager::NextIndexPage(TVLTSessionID SessionID, TVLTPageNo PageNo,
                                          TVLTPageNo& Next) {
  uint16_t Count = 0;
  if (FRecordPageIndex->FindPage(SessionID, PageNo, Count))
    return FRecordPageIndex->GetNextRecordPage(SessionID, PageNo, Next);
  // The page lost its entry (emptied meanwhile): the first listed page after it.
  TVLTPageNo P = kNoPage;
  if (!FRecordPageIndex->GetFirstRecordPage(SessionID, P)) return false;
  do
    if (P > PageNo) {
      Next = P;
      return true;
    }
  while (FRecordPageIndex->GetNextRecordPage(SessionID, P, P));
  return false;
}

bool TVLTDiskRecordManager::PriorIndexPage(TVLTSessionID SessionID, TVLTPageNo PageNo,
                                           TVLTPageNo& Prior) {
  uint16_t Count = 0;
  if (FRecordPageIndex->FindPage(SessionID, PageNo, Count))
    return FRecordPageIndex->GetPriorRecordPage(SessionID, PageNo, Prior);
  TVLTPageNo P = kNoPage;
  if (!FRecordPageIndex->GetLastRecordPage(SessionID, P)) return false;
  do
    if (P < PageNo) {
      Prior = P;
      return true;
    }
  while (FRecordPageIndex->GetPriorRecordPage(SessionID, P, P));
  return false;
}

void TVLTDiskRecordManager::NavigateNext(TVLTSessionID SessionID, TVLTNavigationInfo& Info) {
  TVLTPageHandle Page(*LPageManager);
  TVLTPageItemID ID;
  if (Info.LastPosition) {
    Info.GetRecordResult = grrEOF;
    return;
  }
  bool Found = false;
  TVLTPageNo After = kNoPage;  // the next record is on the first listed page after this one
  if (Info.FirstPosition) {
    TVLTPageNo First = kNoPage;
    if (!FRecordPageIndex->GetFirstRecordPage(SessionID, First)) {
      Info.GetRecordResult = grrEOF;
      return;
    }
    Page.Get(SessionID, First, ptAny);
    CheckListedPage(*Page.get());
    TVLTSmallRecordPage View(Page.get(), FMaxRecordsOnPage, FDiskRecordBufferSize);
    if (!View.GetFirstRecordID(ID))
      throw EVLTException(kErrRecordNotFoundPageNo,
                          "Record not found. PageNo=%d, PageRecordCount=%d",
                          {int64_t{First}, int64_t{View.GetRecordCount()}});
    Found = true;
  } else {
    After = Info.RecordID.PageNo;
    Page.Get(SessionID, After, ptAny);
    if (IsTableRecordPage(*Page.get())) {
      TVLTSmallRecordPage View(Page.get(), FMaxRecordsOnPage, FDiskRecordBufferSize);
      ID = Info.RecordID;
      Found = View.GetNextRecordID(ID);
    } else {
      // The page went since the record was read (its last record was deleted); a page the
      // index still lists is damage.
      uint16_t Listed = 0;
      if (FRecordPageIndex->FindPage(SessionID, After, Listed)) CheckListedPage(*Page.get());
    }
  }
  if (!Found) {
    TVLTPageNo Next = kNoPage;
    Page.Release();
    if (!NextIndexPage(SessionID, After, Next)) {
      Info.GetRecordResult = grrEOF;
      return;
    }
    Page.Get(SessionID, Next, ptAny);
    CheckListedPage(*Page.get());
    TVLTSmallRecordPage NextView(Page.get(), FMaxRecordsOnPage, FDiskRecordBufferSize);
    if (!NextView.GetFirstRecordID(ID))
      throw EVLTException(kErrRecordNotFoundInNavigateNext20144, "Record not found");
  }
  TVLTSmallRecordPage View(Page.get(), FMaxRecordsOnPage, FDiskRecordBufferSize);
  if (!View.GetRecordBuffer(ID, FTempDiskRecordBuffer.data()))
    throw EVLTException(kErrRecordNotFoundInNavigateNext20145, "Record not found");
  ReadInto(FTempDiskRecordBuffer.data(), Info);
  Info.RecordID = ID;
  Info.GetRecordResult = grrOK;
}

void TVLTDiskRecordManager::NavigatePrior(TVLTSessionID SessionID, TVLTNavigationInfo& Info) {
  TVLTPageHandle Page(*LPageManager);
  TVLTPageItemID ID;
  if (Info.FirstPosition) {
    Info.GetRecordResult = grrBOF;
    return;
  }
  if (Info.LastPosition) {
    TVLTPageNo Last = kNoPage;
    if (!FRecordPageIndex->GetLastRecordPage(SessionID, Last)) {
      Info.GetRecordResult = grrBOF;
      return;
    }
    Page.Get(SessionID, Last, ptAny);
    CheckListedPage(*Page.get());
    TVLTSmallRecordPage View(Page.get(), FMaxRecordsOnPage, FDiskRecordBufferSize);
    if (!View.GetLastRecordID(ID))
      throw EVLTException(kErrRecordNotFoundPageNo,
                          "Record not found. PageNo=%d, PageRecordCount=%d",
                          {int64_t{Last}, int64_t{View.GetRecordCount()}});
  } else {
    const TVLTPageNo Before = Info.RecordID.PageNo;
    bool Found = false;
    Page.Get(SessionID, Before, ptAny);
    if (IsTableRecordPage(*Page.get())) {
      TVLTSmallRecordPage View(Page.get(), FMaxRecordsOnPage, FDiskRecordBufferSize);
      ID = Info.RecordID;
      Found = View.GetPriorRecordID(ID);
    } else {
      // As in NavigateNext: a page that went is passed over, a listed one is damage.
      uint16_t Listed = 0;
      if (FRecordPageIndex->FindPage(SessionID, Before, Listed)) CheckListedPage(*Page.get());
    }
    if (!Found) {
      TVLTPageNo Prior = kNoPage;
      Page.Release();
      if (!PriorIndexPage(SessionID, Before, Prior)) {
        Info.GetRecordResult = grrBOF;
        return;
      }
      Page.Get(SessionID, Prior, ptAny);
      CheckListedPage(*Page.get());
      TVLTSmallRecordPage PriorView(Page.get(), FMaxRecordsOnPage, FDiskRecordBufferSize);
      if (!PriorView.GetLastRecordID(ID))
        throw EVLTException(kErrRecordNotFoundInNavigatePrior20146, "Record not found");
    }
  }
  TVLTSmallRecordPage View(Page.get(), FMaxRecordsOnPage, FDiskRecordBufferSize);
  if (!View.GetRecordBuffer(ID, FTempDiskRecordBuffer.data()))
    throw EVLTException(kErrRecordNotFoundInNavigatePrior20147, "Record not found");
  ReadInto(FTempDiskRecordBuffer.data(), Info);
  Info.RecordID = ID;
  Info.GetRecordResult = grrOK;
}

void TVLTDiskRecordManager::GetRecordBuffer(TVLTSessionID SessionID, TVLTNavigationInfo& Info) {
  if (FRecordCount == 0) {
    Info.GetRecordResult = grrEOF;
  } else if (Info.GetRecordMode == grmNext) {
    NavigateNext(SessionID, Info);
  } else if (Info.GetRecordMode == grmPrior) {
    NavigatePrior(SessionID, Info);
  } else if (Info.FirstPosition || Info.LastPosition || Info.RecordID.PageNo < 0) {
    Info.GetRecordResult = grrError;
  } else {
    TVLTPageHandle Page(*LPageManager);
    try {
      Page.Get(SessionID, Info.RecordID.PageNo, ptAny);
    } catch (const EVLTException&) {
      // A page number beyond the file or a freed system page is no record of this table.
      Info.GetRecordResult = grrError;
      return;
    }
    if (!IsTableRecordPage(*Page.get())) {
      Info.GetRecordResult = grrError;
      return;
    }
    TVLTSmallRecordPage View(Page.get(), FMaxRecordsOnPage, FDiskRecordBufferSize);
    // Without a buffer the answer is only whether the record is there.
    if (!View.GetRecordBuffer(Info.RecordID,
                              Info.RecordBuffer ? FTempDiskRecordBuffer.data() : nullptr)) {
      Info.GetRecordResult = grrError;
      return;
    }
    ReadInto(FTempDiskRecordBuffer.data(), Info);
    Info.GetRecordResult = grrOK;
  }
  if (Info.GetRecordResult == grrOK) {
    Info.FirstPosition = Info.LastPosition = false;
  } else if (Info.GetRecordResult == grrEOF) {
    Info.LastPosition = true;
    Info.FirstPosition = false;
  } else if (Info.GetRecordResult == grrBOF) {
    Info.FirstPosition = true;
    Info.LastPosition = false;
  }
}

int TVLTDiskRecordManager::CompareRecordID(const TVLTPageItemID& A, const TVLTPageItemID& B) {
  if (A.PageNo != B.PageNo) return A.PageNo < B.PageNo ? -1 : 1;
  if (A.PageItemNo != B.PageItemNo) return A.PageItemNo < B.PageItemNo ? -1 : 1;
  return 0;
}

int64_t TVLTDiskRecordManager::GetApproximateRecNo(TVLTSessionID, const TVLTPageItemID&) {
  return FRecordCount / 2;
}

// ---- record numbers ----

TVLTPageItemID TVLTDiskRecordManager::SetRecNo(TVLTSessionID SessionID, int64_t RecNo) {
  TVLTPageNo PageNo = kNoPage;
  int32_t RecNoOnPage = 0;
  if (RecNo < 1 || RecNo > FRecordCount)
    throw EVLTException(kErrCannotSetRecNoGreater, "Cannot set RecNo greater than RecordCount");
  FRecordPageIndex->GetRecordByRecNo(SessionID, PageNo, RecNoOnPage, RecNo);
  TVLTPageHandle Page(*LPageManager);
  Page.Get(SessionID, PageNo, ptTableRecord);
  CheckListedPage(*Page.get());
  TVLTSmallRecordPage View(Page.get(), FMaxRecordsOnPage, FDiskRecordBufferSize);
  TVLTPageItemID ID;
  if (!View.GetRecordID(RecNoOnPage, ID))
    throw EVLTException(kErrRecordNotFoundInSetRecNo, "Record not found");
  return ID;
}

int64_t TVLTDiskRecordManager::GetRecNo(TVLTSessionID SessionID, const TVLTPageItemID& RecordID) {
  TVLTPageHandle Page(*LPageManager);
  Page.Get(SessionID, RecordID.PageNo, ptTableRecord);
  TVLTSmallRecordPage View(Page.get(), FMaxRecordsOnPage, FDiskRecordBufferSize);
  const int32_t OnPage = View.GetRecNoOnPage(RecordID);
  Page.Release();
  int64_t RecNo = 0;
  FRecordPageIndex->GetRecNoByRecord(SessionID, RecordID.PageNo, RecNo, OnPage);
  return RecNo;
}

// ---- stored state ----

void TVLTDiskRecordManager::LoadMetadata(TVLTStream& Stream) {
  FRecordPageIndex->OpenIndex(VLTReadLE<int32_t>(Stream, kErrReadIndexRoot));
}

void TVLTDiskRecordManager::SaveMetadata(TVLTStream& Stream) const {
  VLTWriteLE<int32_t>(Stream, FRecordPageIndex->RootPageNo(), kErrWriteIndexRoot);
}

void TVLTDiskRecordManager::LoadMostUpdated(const uint8_t* Buffer, int32_t& Offset) {
  FTableState = LoadLE<int32_t>(Buffer + Offset);
  FRecordCount = static_cast<int64_t>(LoadLE<uint32_t>(Buffer + Offset + 4));
  Offset += kMostUpdatedSize;
}

void TVLTDiskRecordManager::SaveMostUpdated(uint8_t* Buffer, int32_t& Offset) const {
  StoreLE<int32_t>(Buffer + Offset, FTableState);
  StoreLE<uint32_t>(Buffer + Offset + 4, static_cast<uint32_t>(FRecordCount));
  Offset += kMostUpdatedSize;
}

void TVLTDiskRecordManager::CreateRecordPageIndex(TVLTSessionID SessionID) {
  FRecordPageIndex->CreateIndex(SessionID);
}

void TVLTDiskRecordManager::Delete(TVLTSessionID SessionID) {
  Empty(SessionID);
  if (FRecordPageIndex->RootPageNo() != kNoPage) FRecordPageIndex->DropIndex(SessionID);
}

void TVLTDiskRecordManager::RebuildRecordPageIndex(TVLTSessionID SessionID) {
  // The old index may be what is damaged: it is left alone (its pages are not trusted enough
  // to be freed) and a new one is built from the record pages themselves.
  FRecordPageIndex = std::make_unique<TVLTBTreeRecordPageIndex>(LPageManager, FMaxRecordsOnPage);
  FRecordPageIndex->CreateIndex(SessionID);
  FRecordCount = 0;
  const int32_t Count = LPageManager->PageCount();
  for (TVLTPageNo No = 1; No < Count; ++No) {
    int32_t Used = -1;
    try {
      if (LPageManager->IsSystemPage(No)) continue;
      TVLTPageHandle Page(*LPageManager);
      Page.Get(SessionID, No, ptAny);
      if (Page->PageHeader()->ObjectID != LTableData->TableID() || !IsTableRecordPage(*Page.get()) ||
          Page->PageHeader()->PageType != ptTableRecord ||
          !LPageManager->FreeSpaceManager()->GetPageUsageFromPFS(No))
        continue;
      Used = TVLTSmallRecordPage(Page.get(), FMaxRecordsOnPage, FDiskRecordBufferSize).GetRecordCount();
    } catch (const EVLTException&) {
      continue;  // an unreadable page is skipped
    }
    if (Used <= 0) continue;
    FRecordPageIndex->AddRecord(SessionID, No, static_cast<uint16_t>(Used));
    FRecordCount += Used;
  }
}

void TVLTDiskRecordManager::ValidateRecordPageIndex(TVLTSessionID SessionID) {
  FRecordPageIndex->Validate(SessionID, FRecordCount);
  auto Disagree = [](TVLTPageNo No, const std::string& Why) {
    throw EVLTException(kErrInvalidTableRecordPageIndexPage,
                        "Invalid table RecordPageIndex. Page %d: %s", {int64_t{No}, Why});
  };
  // The entries first: pages are read only once the walk of the index is over. More entries
  // than records would be a cycle or empty entries.
  std::vector<std::pair<TVLTPageNo, uint16_t>> Listed;
  const auto Limit = static_cast<size_t>(std::max<int64_t>(FRecordCount, 0));
  bool TooMany = false;
  FRecordPageIndex->Tree().ForEachEntry(
      SessionID, [&](const uint8_t* Key, const uint8_t* Ref, const TVLTKeyPath&) {
        if (Listed.size() >= Limit) {
          TooMany = true;
          return false;
        }
        Listed.emplace_back(LoadLE<int32_t>(Key), LoadLE<uint16_t>(Ref));
        return true;
      });
  if (TooMany) Disagree(kNoPage, "more entries than records");

  std::vector<TVLTDiskPageHeader> Headers;
  LPageManager->ReadPageHeaders(Headers);
  const auto PageCount = static_cast<TVLTPageNo>(Headers.size());
  TVLTDatabaseFreeSpaceManager* FSM = LPageManager->FreeSpaceManager();
  // What the stored header of a page says, without reading (and decrypting) the page.
  auto StoredAsOurs = [&](TVLTPageNo No) {
    const TVLTDiskPageHeader& H = Headers[static_cast<size_t>(No)];
    return std::memcmp(H.Signature, kPageSignature, sizeof H.Signature) == 0 &&
           H.PageType == ptTableRecord && H.ObjectID == LTableData->TableID() &&
           H.State <= kHighestLiveState;
  };
  std::set<TVLTPageNo> Seen;
  for (const auto& [No, Amount] : Listed) {
    if (No < 1 || No >= PageCount || LPageManager->IsSystemPage(No))
      Disagree(No, "no page of the file that can hold records");
    if (!Seen.insert(No).second) Disagree(No, "listed twice");
    if (!FSM->GetPageUsageFromPFS(No)) Disagree(No, "not marked used");
    if (Amount == 0 || Amount > FMaxRecordsOnPage)
      Disagree(No, "listed with " + std::to_string(Amount) + " records");
    TVLTPageHandle Page(*LPageManager);
    try {
      Page.Get(SessionID, No, ptAny);
    } catch (const EVLTException&) {
      if (StoredAsOurs(No)) continue;  // damaged in place: the copy reports its records
      Disagree(No, "cannot be read and is no record page of the table");
    }
    if (!IsTableRecordPage(*Page.get())) Disagree(No, "no record page of the table");
    int32_t Used = -1;
    try {
      Used = TVLTSmallRecordPage(Page.get(), FMaxRecordsOnPage, FDiskRecordBufferSize)
                 .GetRecordCount();
    } catch (const EVLTException&) {
    }
    if (Used != Amount)
      Disagree(No,
               "holds " + std::to_string(Used) + " records, listed with " + std::to_string(Amount));
  }
  // Record pages of the table the index leaves out.
  for (TVLTPageNo No = 1; No < PageCount; ++No) {
    if (Seen.count(No) || !StoredAsOurs(No) || LPageManager->IsSystemPage(No) ||
        !FSM->GetPageUsageFromPFS(No))
      continue;
    int32_t Used = 0;
    try {
      TVLTPageHandle Page(*LPageManager);
      Page.Get(SessionID, No, ptAny);
      if (!IsTableRecordPage(*Page.get())) continue;
      Used = TVLTSmallRecordPage(Page.get(), FMaxRecordsOnPage, FDiskRecordBufferSize)
                 .GetRecordCount();
    } catch (const EVLTException&) {
      continue;  // unreadable: a rebuild could not take its records either
    }
    if (Used > 0) Disagree(No, "holds " + std::to_string(Used) + " records and is not listed");
  }
}

}  // namespace vlt
