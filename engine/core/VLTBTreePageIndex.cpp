#include "engine/core/VLTBTreePageIndex.h"

#include "engine/base/VLTExcept.h"
#include "engine/core/VLTTableData.h"  // the search condition enumerators

namespace vlt {

namespace {

void MakeKey(TVLTPageNo PageNo, uint8_t (&Key)[4]) { StoreLE<int32_t>(Key, PageNo); }

}  // namespace

void TVLTBTreePageIndex::CheckRoot(int32_t Code) const {
  if (FTree.RootPageNo() == kNoPage) throw EVLTException(Code, "Index error: invalid page number");
}

void TVLTBTreePageIndex::CreateIndex(TVLTSessionID SessionID) { FTree.CreateRoot(SessionID); }

void TVLTBTreePageIndex::DropIndex(TVLTSessionID SessionID) {
  CheckRoot(20115);
  FTree.Drop(SessionID);
}

void TVLTBTreePageIndex::EmptyIndex(TVLTSessionID SessionID) {
  CheckRoot(20116);
  FTree.Empty(SessionID);
}

bool TVLTBTreePageIndex::FindPage(TVLTSessionID SessionID, TVLTPageNo PageNo, uint16_t& Amount) {
  CheckRoot(20117);
  uint8_t Key[4];
  MakeKey(PageNo, Key);
  TVLTKeyPath Path;
  if (!FTree.FindByCondition(SessionID, true, scEqual, Key, Path)) return false;
  uint8_t Ref[2];
  FTree.ReadEntry(SessionID, Path, nullptr, Ref);
  Amount = LoadLE<uint16_t>(Ref);
  return true;
}

void TVLTBTreePageIndex::AddAmount(TVLTSessionID SessionID, TVLTPageNo PageNo, uint16_t Amount) {
  CheckRoot(20118);
  uint8_t Key[4], Ref[2];
  MakeKey(PageNo, Key);
  TVLTKeyPath Path;
  if (!FTree.FindByCondition(SessionID, true, scEqual, Key, Path)) {
    StoreLE<uint16_t>(Ref, Amount);
    FTree.Insert(SessionID, Key, Ref);
    return;
  }
  FTree.ReadEntry(SessionID, Path, nullptr, Ref);
  uint16_t Stored = LoadLE<uint16_t>(Ref);
  // The sum must also fit the 16-bit amount, whatever the subclass allows.
  if (!HasRoom(Stored, Amount) || int32_t{Stored} + Amount > 0xFFFF)
    throw EVLTException(20106, "Cannot add data item to page. Page is full");
  StoreLE<uint16_t>(Ref, static_cast<uint16_t>(Stored + Amount));
  FTree.SetReference(SessionID, Path, Ref);
}

void TVLTBTreePageIndex::SetAmount(TVLTSessionID SessionID, TVLTPageNo PageNo, uint16_t NewAmount) {
  CheckRoot(20118);
  uint8_t Key[4], Ref[2];
  MakeKey(PageNo, Key);
  TVLTKeyPath Path;
  if (!FTree.FindByCondition(SessionID, true, scEqual, Key, Path))
    throw EVLTException(20110, "Invalid page number");
  if (NewAmount == 0) {
    FTree.ReadEntry(SessionID, Path, nullptr, Ref);
    FTree.Delete(SessionID, Key, Ref);
    return;
  }
  StoreLE<uint16_t>(Ref, NewAmount);
  FTree.SetReference(SessionID, Path, Ref);
}

void TVLTBTreeBlobPageIndex::RemoveBlob(TVLTSessionID SessionID, TVLTPageNo PageNo, uint16_t Amount) {
  uint16_t Stored;
  if (!FindPage(SessionID, PageNo, Stored)) throw EVLTException(20111, "Invalid page number");
  if (Stored == 0) throw EVLTException(20112, "Index error: page is empty");
  // Taking more than is recorded would wrap the amount round and keep a drained page listed.
  if (Amount > Stored)
    throw EVLTException(20307, "Cannot remove %d bytes from page %d: only %d bytes are recorded",
                        {int64_t{Amount}, int64_t{PageNo}, int64_t{Stored}});
  SetAmount(SessionID, PageNo, static_cast<uint16_t>(Stored - Amount));
}

bool TVLTBTreePageIndex::GetFirstPage(TVLTSessionID SessionID, TVLTPageNo& PageNo) {
  CheckRoot(20117);
  TVLTKeyPath Path;
  if (!FTree.First(SessionID, Path)) return false;
  uint8_t Key[4];
  FTree.ReadEntry(SessionID, Path, Key, nullptr);
  PageNo = LoadLE<int32_t>(Key);
  return true;
}

bool TVLTBTreePageIndex::GetLastPage(TVLTSessionID SessionID, TVLTPageNo& PageNo) {
  CheckRoot(20117);
  TVLTKeyPath Path;
  if (!FTree.Last(SessionID, Path)) return false;
  uint8_t Key[4];
  FTree.ReadEntry(SessionID, Path, Key, nullptr);
  PageNo = LoadLE<int32_t>(Key);
  return true;
}

bool TVLTBTreePageIndex::GetNextPage(TVLTSessionID SessionID, TVLTPageNo CurrentPageNo,
                                     TVLTPageNo& NextPageNo) {
  CheckRoot(20117);
  uint8_t Key[4];
  MakeKey(CurrentPageNo, Key);
  TVLTKeyPath Path;
  if (!FTree.FindByCondition(SessionID, true, scEqual, Key, Path))
    throw EVLTException(20101, "Index error: invalid position");
  if (!FTree.Next(SessionID, Path)) return false;
  FTree.ReadEntry(SessionID, Path, Key, nullptr);
  NextPageNo = LoadLE<int32_t>(Key);
  return true;
}

bool TVLTBTreePageIndex::GetPriorPage(TVLTSessionID SessionID, TVLTPageNo CurrentPageNo,
                                      TVLTPageNo& PriorPageNo) {
  CheckRoot(20117);
  uint8_t Key[4];
  MakeKey(CurrentPageNo, Key);
  TVLTKeyPath Path;
  if (!FTree.FindByCondition(SessionID, true, scEqual, Key, Path))
    throw EVLTException(20102, "Index error: invalid position");
  if (!FTree.Prior(SessionID, Path)) return false;
  FTree.ReadEntry(SessionID, Path, Key, nullptr);
  PriorPageNo = LoadLE<int32_t>(Key);
  return true;
}

int64_t TVLTBTreePageIndex::TotalAmount(TVLTSessionID SessionID) {
  CheckRoot(20117);
  int64_t Total = 0;
  FTree.ForEachEntry(SessionID, [&](const uint8_t*, const uint8_t* Ref, const TVLTKeyPath&) {
    Total += LoadLE<uint16_t>(Ref);
    return true;
  });
  return Total;
}

bool TVLTBTreePageIndex::FindPageWithRoom(TVLTSessionID SessionID, uint16_t Amount,
                                          TVLTPageNo& PageNo) {
  CheckRoot(20117);
  for (bool Backwards : {true, false}) {
    TVLTKeyPath Path;
    if (!(Backwards ? FTree.Last(SessionID, Path) : FTree.First(SessionID, Path))) return false;
    const int32_t Budget = Path.Leaf().EntryCount;  // one leaf's worth of entries
    // Walked leaf by leaf: when every page is full, this runs for each new page of a table.
    if (FTree.WalkEntries(SessionID, Path, Backwards, Budget,
                          [&](const uint8_t* EntryKey, const uint8_t* EntryRef) {
                            if (!HasRoom(LoadLE<uint16_t>(EntryRef), Amount)) return false;
                            PageNo = LoadLE<int32_t>(EntryKey);
                            return true;
                          }))
      return true;
  }
  return false;
}

void TVLTBTreeRecordPageIndex::GetRecordByRecNo(TVLTSessionID SessionID, TVLTPageNo& PageNo,
                                                int32_t& RecNoOnPage, int64_t RecNo) {
  CheckRoot(20117);
  int64_t Before = 0;
  bool Found = false;
  FTree.ForEachEntry(SessionID, [&](const uint8_t* Key, const uint8_t* Ref, const TVLTKeyPath&) {
    uint16_t Count = LoadLE<uint16_t>(Ref);
    if (Before + Count > RecNo - 1) {
      PageNo = LoadLE<int32_t>(Key);
      RecNoOnPage = static_cast<int32_t>(RecNo - 1 - Before);
      Found = true;
      return false;
    }
    Before += Count;
    return true;
  });
  if (!Found || RecNo < 1) throw EVLTException(20113, "Cannot set RecNo greater than RecordCount");
}

void TVLTBTreeRecordPageIndex::GetRecNoByRecord(TVLTSessionID SessionID, TVLTPageNo PageNo,
                                                int64_t& RecNo, int32_t RecNoOnPage) {
  CheckRoot(20117);
  int64_t Before = 0;
  bool Found = false;
  FTree.ForEachEntry(SessionID, [&](const uint8_t* Key, const uint8_t* Ref, const TVLTKeyPath&) {
    if (LoadLE<int32_t>(Key) == PageNo) {
      Found = true;
      return false;
    }
    Before += LoadLE<uint16_t>(Ref);
    return true;
  });
  if (!Found) throw EVLTException(20111, "Invalid page number");
  RecNo = Before + RecNoOnPage + 1;
}

void TVLTBTreeRecordPageIndex::Validate(TVLTSessionID SessionID, int64_t StoredRecordCount) {
  int64_t Sum = TotalAmount(SessionID);
  if (Sum != StoredRecordCount)
    throw EVLTException(20292,
                        "Invalid table RecordPageIndex or MostUpdated. "
                        "RecordPageIndex.RecordCount=%d, MostUpdated.RecordCount=%d",
                        {Sum, StoredRecordCount});
}

}  // namespace vlt
