#include "engine/disk/VLTTableList.h"

#include <algorithm>
#include <cstring>

#include "engine/base/VLTErrorCodes.h"
#include "engine/base/VLTExcept.h"
#include "engine/base/VLTMemory.h"
#include "engine/core/VLTPageHeader.h"

namespace vlt {

namespace {

std::string CutName(const std::string& Name) {
  return Name.substr(0, std::min(Name.size(), TVLTTableListItem::kMaxNameLength));
}

}  // namespace

void TVLTTableListItem::SaveTo(uint8_t* P) const {
  std::memset(P, 0, 256);
  const std::string Name = CutName(TableName);
  P[0] = static_cast<uint8_t>(Name.size());
  std::memcpy(P + 1, Name.data(), Name.size());
  StoreLE<int32_t>(P + 256, TableID);
  StoreLE<int32_t>(P + 260, MetaDataFilePageNo);
  StoreLE<int32_t>(P + 264, MostUpdatedFilePageNo);
  StoreLE<int32_t>(P + 268, LocksFilePageNo);
}

TVLTTableListItem TVLTTableListItem::LoadFrom(const uint8_t* P) {
  TVLTTableListItem I;
  I.TableName.assign(reinterpret_cast<const char*>(P + 1), P[0]);
  I.TableID = LoadLE<int32_t>(P + 256);
  I.MetaDataFilePageNo = LoadLE<int32_t>(P + 260);
  I.MostUpdatedFilePageNo = LoadLE<int32_t>(P + 264);
  I.LocksFilePageNo = LoadLE<int32_t>(P + 268);
  return I;
}

TVLTTableListFile::TVLTTableListFile(TVLTDiskPageManager* PageManager)
    : LPageManager(PageManager), FHandle(PageManager, ptTableList) {}

TVLTPageNo TVLTTableListFile::CreateFile() {
  FHandle.CreateFile(kSystemSessionID);
  FTableList.clear();
  return FHandle.StartPageNo();
}

void TVLTTableListFile::OpenFile(TVLTPageNo aStartPageNo) {
  if (FHandle.StartPageNo() != kNoPage)
    throw EVLTException(kErrTableListFileAlready, "Table list file already opened.");
  FHandle.OpenFile(aStartPageNo);
  FTableList.clear();
}

void TVLTTableListFile::CloseFile() {
  FHandle.CloseFile();
  FTableList.clear();
}

void TVLTTableListFile::Load() {
  const int32_t Count =
      FHandle.GetCheckedSize(kSystemSessionID) / static_cast<int32_t>(TVLTTableListItem::kStoredSize);
  std::vector<TVLTTableListItem> List;
  if (Count > 0) {
    TVLTBuffer Buffer(static_cast<size_t>(Count) * TVLTTableListItem::kStoredSize);
    FHandle.ReadFile(kSystemSessionID, Buffer.data(), static_cast<int32_t>(Buffer.size()), true);
    for (int32_t I = 0; I < Count; ++I)
      List.push_back(TVLTTableListItem::LoadFrom(Buffer.data() + I * TVLTTableListItem::kStoredSize));
  }
  FTableList = std::move(List);
}

void TVLTTableListFile::Save() {
  const size_t Size = FTableList.size() * TVLTTableListItem::kStoredSize;
  TVLTBuffer Buffer(Size == 0 ? 1 : Size);
  for (size_t I = 0; I < FTableList.size(); ++I)
    FTableList[I].SaveTo(Buffer.data() + I * TVLTTableListItem::kStoredSize);
  FHandle.WriteFile(kSystemSessionID, Buffer.data(), static_cast<int32_t>(Size), acaNone, 0);
}

int32_t TVLTTableListFile::Find(const std::string& TableName) const {
  const std::string Name = CutName(TableName);
  for (size_t I = 0; I < FTableList.size(); ++I)
    if (SameText(FTableList[I].TableName, Name)) return static_cast<int32_t>(I);
  return -1;
}

void TVLTTableListFile::AddTable(int32_t TableID, const std::string& TableName,
                                 TVLTPageNo MetadataFilePageNo, TVLTPageNo MostUpdatedFilePageNo,
                                 TVLTPageNo LocksFilePageNo) {
  if (Find(TableName) >= 0)
    throw EVLTException(kErrCannotCreateTableTable,
                        "Cannot create table. Table '%s' already exists", {TableName});
  FTableList.push_back(
      {CutName(TableName), TableID, MetadataFilePageNo, MostUpdatedFilePageNo, LocksFilePageNo});
}

void TVLTTableListFile::OpenTable(const std::string& TableName, int32_t& TableID,
                                  TVLTPageNo& MetadataFilePageNo,
                                  TVLTPageNo& MostUpdatedFilePageNo,
                                  TVLTPageNo& LocksFilePageNo) const {
  const int32_t I = Find(TableName);
  if (I < 0)
    throw EVLTException(kErrTableDoesNotExistInOpenTable, "Table '%s' does not exist.",
                        {TableName});
  const TVLTTableListItem& Item = FTableList[static_cast<size_t>(I)];
  TableID = Item.TableID;
  MetadataFilePageNo = Item.MetaDataFilePageNo;
  MostUpdatedFilePageNo = Item.MostUpdatedFilePageNo;
  LocksFilePageNo = Item.LocksFilePageNo;
}

void TVLTTableListFile::RemoveTable(const std::string& TableName) {
  const int32_t I = Find(TableName);
  if (I < 0)
    throw EVLTException(kErrTableDoesNotExistInRemoveTable, "Table '%s' does not exist.",
                        {TableName});
  FTableList.erase(FTableList.begin() + I);
}

void TVLTTableListFile::RenameTable(const std::string& TableName,
                                    const std::string& NewTableName) {
  const int32_t I = Find(TableName);
  if (I < 0)
    throw EVLTException(kErrTableDoesNotExistInRenameTable, "Table '%s' does not exist.",
                        {TableName});
  // Two entries of one name would leave the second unreachable.
  const int32_t Other = Find(NewTableName);
  if (Other >= 0 && Other != I)
    throw EVLTException(kErrCannotRenameTableTable,
                        "Cannot rename table. Table '%s' already exists", {NewTableName});
  FTableList[static_cast<size_t>(I)].TableName = CutName(NewTableName);
}

bool TVLTTableListFile::TableExists(const std::string& TableName) const {
  return Find(TableName) >= 0;
}

void TVLTTableListFile::GetTablesList(std::vector<std::string>& List) {
  Load();
  List.clear();
  for (const auto& Item : FTableList) List.push_back(Item.TableName);
}

}  // namespace vlt
