#include "engine/disk/VLTDiskRecordManager.h"

#include <cstring>
#include <utility>

#include "engine/core/VLTExcept.h"
#include "engine/core/VLTFieldManager.h"
#include "engine/core/VLTPage.h"
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
class TVLTDiskRecordManager::TPageHold {
 public:
  explicit TPageHold(TVLTPageManager& PM) : FPM(PM) {}
  ~TPageHold() { Release(); }
  TPageHold(const TPageHold&) = delete;
  TPageHold& operator=(const TPageHold&) = delete;
  void Get(TVLTSessionID SessionID, TVLTPageNo PageNo, uint16_t Type) {
    Release();
    FPage = FPM.GetPage(SessionID, PageNo, Type);
  }
  void Add(TVLTSessionID SessionID, uint16_t Type) {
    Release();
    FPage = FPM.AddPage(SessionID, Type);
  }
  void Release() {
    if (FPage) FPM.PutPage(std::exchange(FPage, nullptr));
  }
  TVLTPage* operator->() const { return FPage; }
  TVLTPage* get() const { return FPage; }

 private:
  TVLTPageManager& FPM;
  TVLTPage* FPage = nullptr;
};

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
    throw EVLTException(20174,
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
  TPageHold Page(*LPageManager);
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
      throw EVLTException(20106, "Cannot add data item to page. Page is full");
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
    }
    return false;
  }
}

bool TVLTDiskRecordManager::UpdateRecord(TVLTSessionID SessionID, const uint8_t* RecordBuffer,
                                         const TVLTPageItemID& RecordID) {
  TPageHold Page(*LPageManager);
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
  TPageHold Page(*LPageManager);
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
  TPageHold Page(*LPageManager);
  TVLTPageItemID ID;
  if (Info.LastPosition) {
    Info.GetRecordResult = grrEOF;
    return;
  }
  if (Info.FirstPosition) {
    TVLTPageNo First = kNoPage;
    if (!FRecordPageIndex->GetFirstRecordPage(SessionID, First)) {
      Info.GetRecordResult = grrEOF;
      return;
    }
    Page.Get(SessionID, First, ptAny);
    TVLTSmallRecordPage View(Page.get(), FMaxRecordsOnPage, FDiskRecordBufferSize);
    if (!View.GetFirstRecordID(ID))
      throw EVLTException(20143, "Record not found. PageNo=%d, PageRecordCount=%d",
                          {int64_t{First}, int64_t{View.GetRecordCount()}});
  } else {
    Page.Get(SessionID, Info.RecordID.PageNo, ptAny);
    if (!IsTableRecordPage(*Page.get())) {
      Info.GetRecordResult = grrEOF;
      return;
    }
    TVLTSmallRecordPage View(Page.get(), FMaxRecordsOnPage, FDiskRecordBufferSize);
    ID = Info.RecordID;
    if (!View.GetNextRecordID(ID)) {
      TVLTPageNo Next = kNoPage;
      Page.Release();
      if (!NextIndexPage(SessionID, Info.RecordID.PageNo, Next)) {
        Info.GetRecordResult = grrEOF;
        return;
      }
      Page.Get(SessionID, Next, ptAny);
      TVLTSmallRecordPage NextView(Page.get(), FMaxRecordsOnPage, FDiskRecordBufferSize);
      if (!NextView.GetFirstRecordID(ID)) throw EVLTException(20144, "Record not found");
    }
  }
  TVLTSmallRecordPage View(Page.get(), FMaxRecordsOnPage, FDiskRecordBufferSize);
  if (!View.GetRecordBuffer(ID, FTempDiskRecordBuffer.data()))
    throw EVLTException(20145, "Record not found");
  ReadInto(FTempDiskRecordBuffer.data(), Info);
  Info.RecordID = ID;
  Info.GetRecordResult = grrOK;
}

void TVLTDiskRecordManager::NavigatePrior(TVLTSessionID SessionID, TVLTNavigationInfo& Info) {
  TPageHold Page(*LPageManager);
  TVLTPageItemID ID;
  if (Info.FirstPosition) {
    Info.GetRecordResult = grrBOF;
    return;
  }
  bool FromLast = Info.LastPosition;
  if (!FromLast) {
    Page.Get(SessionID, Info.RecordID.PageNo, ptAny);
    if (!IsTableRecordPage(*Page.get())) {
      FromLast = true;  // the page went: start again from the table's last record
    } else {
      TVLTSmallRecordPage View(Page.get(), FMaxRecordsOnPage, FDiskRecordBufferSize);
      ID = Info.RecordID;
      if (!View.GetPriorRecordID(ID)) {
        TVLTPageNo Prior = kNoPage;
        Page.Release();
        if (!PriorIndexPage(SessionID, Info.RecordID.PageNo, Prior)) {
          Info.GetRecordResult = grrBOF;
          return;
        }
        Page.Get(SessionID, Prior, ptAny);
        TVLTSmallRecordPage PriorView(Page.get(), FMaxRecordsOnPage, FDiskRecordBufferSize);
        if (!PriorView.GetLastRecordID(ID)) throw EVLTException(20146, "Record not found");
      }
    }
  }
  if (FromLast) {
    TVLTPageNo Last = kNoPage;
    if (!FRecordPageIndex->GetLastRecordPage(SessionID, Last)) {
      Info.GetRecordResult = grrBOF;
      return;
    }
    Page.Get(SessionID, Last, ptAny);
    TVLTSmallRecordPage View(Page.get(), FMaxRecordsOnPage, FDiskRecordBufferSize);
    if (!View.GetLastRecordID(ID))
      throw EVLTException(20143, "Record not found. PageNo=%d, PageRecordCount=%d",
                          {int64_t{Last}, int64_t{View.GetRecordCount()}});
  }
  TVLTSmallRecordPage View(Page.get(), FMaxRecordsOnPage, FDiskRecordBufferSize);
  if (!View.GetRecordBuffer(ID, FTempDiskRecordBuffer.data()))
    throw EVLTException(20147, "Record not found");
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
    TPageHold Page(*LPageManager);
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
    if (!View.GetRecordBuffer(Info.RecordID, FTempDiskRecordBuffer.data())) {
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
    throw EVLTException(20113, "Cannot set RecNo greater than RecordCount");
  FRecordPageIndex->GetRecordByRecNo(SessionID, PageNo, RecNoOnPage, RecNo);
  TPageHold Page(*LPageManager);
  Page.Get(SessionID, PageNo, ptTableRecord);
  TVLTSmallRecordPage View(Page.get(), FMaxRecordsOnPage, FDiskRecordBufferSize);
  TVLTPageItemID ID;
  if (!View.GetRecordID(RecNoOnPage, ID)) throw EVLTException(20148, "Record not found");
  return ID;
}

int64_t TVLTDiskRecordManager::GetRecNo(TVLTSessionID SessionID, const TVLTPageItemID& RecordID) {
  TPageHold Page(*LPageManager);
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
  FRecordPageIndex->OpenIndex(VLTReadLE<int32_t>(Stream, 20170));
}

void TVLTDiskRecordManager::SaveMetadata(TVLTStream& Stream) const {
  VLTWriteLE<int32_t>(Stream, FRecordPageIndex->RootPageNo(), 20171);
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
      TPageHold Page(*LPageManager);
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
}

}  // namespace vlt
