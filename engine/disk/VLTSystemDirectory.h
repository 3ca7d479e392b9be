// TVLTSystemDirectory: the directory of the database-wide internal files. It is a transacted
// internal file of page type ptFileSystemDirectory whose start page is always page 2, changed
// only through the system session -2, content stored uncompressed: an array of
//
//   TVLTSystemDirectoryListItem (5 bytes)
//   OFFSET SIZE CONTENT
//   0      1    FileID (TVLTDBFileType)
//   1      4    FirstPageNo (Int32): start page of that file
//
// A new database holds two entries: (dbftActiveSessionsList, start of the active sessions
// file), then (dbftTablesList, start of the table list).
#pragma once

#include <cstdint>
#include <vector>

#include "engine/disk/VLTInternalFile.h"

namespace vlt {

enum TVLTDBFileType : uint8_t { dbftUnknown = 0, dbftTablesList = 1, dbftActiveSessionsList = 2 };

constexpr TVLTPageNo kSystemDirectoryPageNo = 2;

struct TVLTSystemDirectoryListItem {
  static constexpr size_t kStoredSize = 5;

  uint8_t FileID = dbftUnknown;
  int32_t FirstPageNo = kNoPage;

  void SaveTo(uint8_t* P) const {
    P[0] = FileID;
    StoreLE<int32_t>(P + 1, FirstPageNo);
  }
  static TVLTSystemDirectoryListItem LoadFrom(const uint8_t* P) {
    return {P[0], LoadLE<int32_t>(P + 1)};
  }
};

class TVLTSystemDirectory {
 public:
  explicit TVLTSystemDirectory(TVLTDiskPageManager* PageManager);

  // Creates the file in session -2; 30392 when its start page is not page 2.
  void CreateDirectory();
  // Opens the file at page 2 and reads its entries (session -2, synchronised).
  void LoadDirectory();
  // Writes all entries (session -2, uncompressed).
  void SaveDirectory();
  // Appends an entry (in memory; SaveDirectory stores it).
  void CreateFile(TVLTDBFileType FileType, TVLTPageNo FirstPageNo);
  // The first entry of that type; -1 when none.
  TVLTPageNo GetFileFirstPageNo(TVLTDBFileType FileType) const;

  const std::vector<TVLTSystemDirectoryListItem>& FileList() const { return FFileList; }

 private:
  TVLTDiskPageManager* LPageManager;
  TVLTInternalDBTransactedAccessFile FHandle;
  std::vector<TVLTSystemDirectoryListItem> FFileList;
};

}  // namespace vlt
