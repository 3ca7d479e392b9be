#include "engine/disk/VLTSystemDirectory.h"

#include "engine/base/VLTErrorCodes.h"
#include "engine/base/VLTExcept.h"
#include "engine/base/VLTMemory.h"
#include "engine/core/VLTPageHeader.h"

namespace vlt {

TVLTSystemDirectory::TVLTSystemDirectory(TVLTDiskPageManager* PageManager)
    : LPageManager(PageManager), FHandle(PageManager, ptFileSystemDirectory) {}

void TVLTSystemDirectory::CreateDirectory() {
  FHandle.CreateFile(kSystemSessionID);
  if (FHandle.StartPageNo() != kSystemDirectoryPageNo)
    throw EVLTException(kErrCreatingSystemDirectory,
                        "Error creating SystemDirectory. SystemDirectoryPageNo=%d. Real PageNo=%d.",
                        {int64_t{kSystemDirectoryPageNo}, int64_t{FHandle.StartPageNo()}});
  FFileList.clear();
}

void TVLTSystemDirectory::LoadDirectory() {
  FHandle.OpenFile(kSystemDirectoryPageNo);
  const int32_t Count = FHandle.GetCheckedSize(kSystemSessionID) /
                        static_cast<int32_t>(TVLTSystemDirectoryListItem::kStoredSize);
  FFileList.clear();
  if (Count == 0) return;
  TVLTBuffer Buffer(static_cast<size_t>(Count) * TVLTSystemDirectoryListItem::kStoredSize);
  FHandle.ReadFile(kSystemSessionID, Buffer.data(), static_cast<int32_t>(Buffer.size()), true);
  for (int32_t I = 0; I < Count; ++I)
    FFileList.push_back(TVLTSystemDirectoryListItem::LoadFrom(
        Buffer.data() + I * TVLTSystemDirectoryListItem::kStoredSize));
}

void TVLTSystemDirectory::SaveDirectory() {
  const size_t Size = FFileList.size() * TVLTSystemDirectoryListItem::kStoredSize;
  TVLTBuffer Buffer(Size == 0 ? 1 : Size);
  for (size_t I = 0; I < FFileList.size(); ++I)
    FFileList[I].SaveTo(Buffer.data() + I * TVLTSystemDirectoryListItem::kStoredSize);
  FHandle.WriteFile(kSystemSessionID, Buffer.data(), static_cast<int32_t>(Size), acaNone, 0);
}

void TVLTSystemDirectory::CreateFile(TVLTDBFileType FileType, TVLTPageNo FirstPageNo) {
  FFileList.push_back({FileType, FirstPageNo});
}

TVLTPageNo TVLTSystemDirectory::GetFileFirstPageNo(TVLTDBFileType FileType) const {
  for (const auto& Item : FFileList)
    if (Item.FileID == FileType) return Item.FirstPageNo;
  return kNoPage;
}

}  // namespace vlt
