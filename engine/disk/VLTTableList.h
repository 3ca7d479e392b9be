// TVLTTableListFile: the list of a database's tables. A transacted internal file of page type
// ptTableList, written through the system session -2 (so a change becomes permanent when
// session -2 commits), content stored uncompressed: an array of
//
//   TVLTTableListItem (272 bytes)
//   OFFSET SIZE CONTENT
//   0      1    length of TableName (0..255)
//   1      255  TableName, 8-bit text (bytes after the name are not significant)
//   256    4    TableID (Int32)
//   260    4    MetaDataFilePageNo (Int32): start page of the metadata file (ptTableMetaData)
//   264    4    MostUpdatedFilePageNo (Int32): start page of the most-updated file
//               (ptTableMostUpdated)
//   268    4    LocksFilePageNo (Int32): start page of the locks file (ptTableLocks)
//
// Table names compare without regard to case; entries keep their stored order.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "engine/disk/VLTInternalFile.h"

namespace vlt {

struct TVLTTableListItem {
  static constexpr size_t kStoredSize = 272;
  static constexpr size_t kMaxNameLength = 255;

  std::string TableName;
  int32_t TableID = kNoObjectID;
  int32_t MetaDataFilePageNo = kNoPage;
  int32_t MostUpdatedFilePageNo = kNoPage;
  int32_t LocksFilePageNo = kNoPage;

  void SaveTo(uint8_t* P) const;  // writes all 272 bytes (unused name bytes zero)
  static TVLTTableListItem LoadFrom(const uint8_t* P);
};

class TVLTTableListFile {
 public:
  explicit TVLTTableListFile(TVLTDiskPageManager* PageManager);

  // Creates the file in session -2 and returns its start page.
  TVLTPageNo CreateFile();
  // 30393 when this object already has an open file.
  void OpenFile(TVLTPageNo aStartPageNo);
  void CloseFile();
  // Reads all entries (session -2, synchronised: other processes' committed changes are seen).
  void Load();
  // Writes all entries (session -2, uncompressed).
  void Save();

  // 30395 when a table of that name (any case) exists. The name is cut to 255 bytes.
  void AddTable(int32_t TableID, const std::string& TableName, TVLTPageNo MetadataFilePageNo,
                TVLTPageNo MostUpdatedFilePageNo, TVLTPageNo LocksFilePageNo);
  // 30396 when there is no such table.
  void OpenTable(const std::string& TableName, int32_t& TableID, TVLTPageNo& MetadataFilePageNo,
                 TVLTPageNo& MostUpdatedFilePageNo, TVLTPageNo& LocksFilePageNo) const;
  // 30405 when there is no such table; later entries move down.
  void RemoveTable(const std::string& TableName);
  // 30397 when there is no such table, 30398 when another table has the new name.
  void RenameTable(const std::string& TableName, const std::string& NewTableName);
  bool TableExists(const std::string& TableName) const;
  // Reloads the file and lists the names in stored order.
  void GetTablesList(std::vector<std::string>& List);

  TVLTPageNo StartPageNo() const { return FHandle.StartPageNo(); }
  const std::vector<TVLTTableListItem>& TableList() const { return FTableList; }

 private:
  int32_t Find(const std::string& TableName) const;  // -1 when absent

  TVLTDiskPageManager* LPageManager;
  TVLTInternalDBTransactedAccessFile FHandle;
  std::vector<TVLTTableListItem> FTableList;
};

}  // namespace vlt
