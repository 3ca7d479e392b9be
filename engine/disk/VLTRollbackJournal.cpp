#include "engine/disk/VLTRollbackJournal.h"

#include <cstring>

#include "engine/base/VLTCRC32.h"
#include "engine/base/VLTErrorCodes.h"
#include "engine/base/VLTExcept.h"

namespace vlt {

namespace {

constexpr char kMagic[7] = {'V', 'L', 'T', 'J', 'R', 'N', 'L'};
constexpr size_t kFixedSize = 40;
constexpr size_t kRecordHeaderSize = 16;
constexpr size_t kQueueLimit = size_t{1} << 20;  // queued bytes that are written at once

struct TFixed {
  TVLTRollbackJournal::TKind Kind = TVLTRollbackJournal::TKind::None;
  uint16_t PageSize = 0;
  int32_t DBState = 0;
  int64_t FileSize = 0;
  int64_t OffsetToDBHeader = 0;
  TVLTDBHeader Header{};
  std::vector<TVLTPageNo> Added;
};

std::vector<uint8_t> EncodeFixed(const TFixed& F) {
  std::vector<uint8_t> B(kFixedSize + sizeof(TVLTDBHeader) + 4 * F.Added.size());
  std::memcpy(B.data(), kMagic, sizeof kMagic);
  B[7] = static_cast<uint8_t>(F.Kind);
  StoreLE<uint32_t>(B.data() + 8, F.PageSize);
  StoreLE<int32_t>(B.data() + 12, F.DBState);
  StoreLE<int64_t>(B.data() + 16, F.FileSize);
  StoreLE<int64_t>(B.data() + 24, F.OffsetToDBHeader);
  StoreLE<uint32_t>(B.data() + 32, static_cast<uint32_t>(F.Added.size()));
  std::memcpy(B.data() + kFixedSize, &F.Header, sizeof F.Header);
  for (size_t I = 0; I < F.Added.size(); ++I)
    StoreLE<int32_t>(B.data() + kFixedSize + sizeof F.Header + 4 * I, F.Added[I]);
  uint32_t CRC = CalcCRC32(0, B.data(), 36);
  CRC = CalcCRC32(CRC, B.data() + kFixedSize, B.size() - kFixedSize);
  StoreLE<uint32_t>(B.data() + 36, CRC);
  return B;
}

// Reads the fixed part; false when it is not there whole or its checksum fails. End receives
// the offset of the first record.
bool DecodeFixed(TVLTDatabaseFile& J, TFixed& F, int64_t& End) {
  uint8_t B[kFixedSize];
  if (!J.ReadBuffer(B, sizeof B, 0) || std::memcmp(B, kMagic, sizeof kMagic) != 0) return false;
  F.Kind = static_cast<TVLTRollbackJournal::TKind>(B[7]);
  F.PageSize = static_cast<uint16_t>(LoadLE<uint32_t>(B + 8));
  F.DBState = LoadLE<int32_t>(B + 12);
  F.FileSize = LoadLE<int64_t>(B + 16);
  F.OffsetToDBHeader = LoadLE<int64_t>(B + 24);
  const uint32_t AddedCount = LoadLE<uint32_t>(B + 32);
  if (AddedCount > (1u << 28)) return false;
  std::vector<uint8_t> Rest(sizeof(TVLTDBHeader) + 4 * size_t{AddedCount});
  if (!J.ReadBuffer(Rest.data(), Rest.size(), kFixedSize)) return false;
  uint32_t CRC = CalcCRC32(0, B, 36);
  CRC = CalcCRC32(CRC, Rest.data(), Rest.size());
  if (CRC != LoadLE<uint32_t>(B + 36)) return false;
  std::memcpy(&F.Header, Rest.data(), sizeof F.Header);
  F.Added.resize(AddedCount);
  for (size_t I = 0; I < AddedCount; ++I)
    F.Added[I] = LoadLE<int32_t>(Rest.data() + sizeof F.Header + 4 * I);
  End = static_cast<int64_t>(kFixedSize + Rest.size());
  return F.Kind == TVLTRollbackJournal::TKind::Commit ||
         F.Kind == TVLTRollbackJournal::TKind::Allocations;
}

}  // namespace

TVLTRollbackJournal::TFound TVLTRollbackJournal::Inspect(const std::string& DatabaseFileName) {
  TFound R;
  const std::string Path = PathFor(DatabaseFileName);
  if (!TVLTDatabaseFile::FileExists(Path)) return R;
  R.Exists = true;
  TVLTDatabaseFile J;
  try {
    J.OpenFile(Path, amReadOnly, smExclusive);
  } catch (const EVLTException&) {
    R.Live = true;  // its owner has it open (or it cannot be read at all: leave it alone)
    return R;
  }
  TFixed F;
  int64_t End = 0;
  R.Valid = DecodeFixed(J, F, End);
  if (R.Valid) {
    R.Kind = F.Kind;
    R.DBState = F.DBState;
    R.PageSize = F.PageSize;
  }
  return R;
}

bool TVLTRollbackJournal::RollBack(const std::string& DatabaseFileName, TVLTDatabaseFile& Db,
                                   uint16_t PageSize, std::vector<TVLTPageNo>& Added,
                                   int64_t& Records) {
  Added.clear();
  Records = 0;
  TVLTDatabaseFile J;
  try {
    J.OpenFile(PathFor(DatabaseFileName), amReadOnly, smExclusive);
  } catch (const EVLTException&) {
    return false;
  }
  TFixed F;
  int64_t Pos = 0;
  if (!DecodeFixed(J, F, Pos) || F.PageSize != PageSize) return false;
  // Every complete record, in the order written; the first torn one ends the journal (its
  // bytes had not been overwritten yet).
  std::vector<uint8_t> Data;
  for (;;) {
    uint8_t H[kRecordHeaderSize];
    if (!J.ReadBuffer(H, sizeof H, Pos)) break;
    const int64_t Where = LoadLE<int64_t>(H);
    const uint32_t Length = LoadLE<uint32_t>(H + 8);
    if (Where < 0 || Length == 0 || Length > 65536) break;
    Data.resize(Length);
    if (!J.ReadBuffer(Data.data(), Length, Pos + static_cast<int64_t>(sizeof H))) break;
    uint32_t CRC = CalcCRC32(0, H, 12);
    CRC = CalcCRC32(CRC, Data.data(), Length);
    if (CRC != LoadLE<uint32_t>(H + 12)) break;
    Db.WriteBuffer(Data.data(), Length, Where, kErrWritePageRegion);
    ++Records;
    Pos += static_cast<int64_t>(sizeof H) + Length;
  }
  Db.WriteBuffer(&F.Header, sizeof F.Header, F.OffsetToDBHeader, kErrWriteDBHeader);
  if (Db.GetSize() != F.FileSize) Db.SetSize(F.FileSize);
  Db.FlushFileBuffers();
  Added = std::move(F.Added);
  return true;
}

void TVLTRollbackJournal::Remove(const std::string& DatabaseFileName) {
  const std::string Path = PathFor(DatabaseFileName);
  if (TVLTDatabaseFile::FileExists(Path)) TVLTDatabaseFile::DeleteFile(Path);
}

TVLTRollbackJournal::TVLTRollbackJournal(std::string DatabaseFileName)
    : FDatabaseFileName(std::move(DatabaseFileName)), FPath(PathFor(FDatabaseFileName)) {}

TVLTRollbackJournal::~TVLTRollbackJournal() = default;

void TVLTRollbackJournal::Create() {
  if (FFile.IsOpened()) {
    if (!FEmpty) FFile.SetSize(0);
  } else {
    FFile.CreateAndOpenFile(FPath);
  }
  FEmpty = false;
  FEnd = 0;
  FQueued.clear();
  FQueuedPages.clear();
  FFixedQueued = false;
}

void TVLTRollbackJournal::Write(const void* Data, size_t Count) {
  const auto* B = static_cast<const uint8_t*>(Data);
  FQueued.insert(FQueued.end(), B, B + Count);
}

void TVLTRollbackJournal::Flush() {
  if (FQueued.empty()) return;
  try {
    if (FWriteHook) FWriteHook();
    FFile.WriteBuffer(FQueued.data(), FQueued.size(), FEnd, kErrJournalWrite);
  } catch (...) {
    // Nothing of it counts: the pages are saved again by the next Protect, and a fixed part
    // that did not get there is a journal that never began. A torn tail is overwritten by the
    // next write (records are read up to the first that fails its checksum).
    for (TVLTPageNo No : FQueuedPages) FCovered.erase(No);
    if (FFixedQueued) {
      FActive = FMarker = false;
      FCovered.clear();
    }
    FQueued.clear();
    FQueuedPages.clear();
    FFixedQueued = false;
    throw;
  }
  FEnd += static_cast<int64_t>(FQueued.size());
  FQueued.clear();
  FQueuedPages.clear();
  FFixedQueued = false;
}

void TVLTRollbackJournal::Start(TKind Kind, const TVLTDBHeader& Header, int64_t OffsetToDBHeader,
                                uint16_t PageSize, int64_t FileSize,
                                const std::vector<TVLTPageNo>& Added) {
  Create();
  TFixed F;
  F.Kind = Kind;
  F.PageSize = PageSize;
  F.DBState = Header.State;
  F.FileSize = FileSize;
  F.OffsetToDBHeader = OffsetToDBHeader;
  F.Header = Header;
  F.Added = Added;
  const std::vector<uint8_t> B = EncodeFixed(F);
  Write(B.data(), B.size());
  FFixedQueued = true;
  FPageSize = PageSize;
  FFileSize = FileSize;
  FCovered.clear();
  FCovered.insert(Added.begin(), Added.end());
  FActive = Kind == TKind::Commit;
  FMarker = Kind == TKind::Allocations;
}

void TVLTRollbackJournal::Begin(const TVLTDBHeader& Header, int64_t OffsetToDBHeader,
                                uint16_t PageSize, int64_t FileSize,
                                const std::vector<TVLTPageNo>& Added) {
  Start(TKind::Commit, Header, OffsetToDBHeader, PageSize, FileSize, Added);
}

void TVLTRollbackJournal::MarkAllocations(const TVLTDBHeader& Header, int64_t OffsetToDBHeader,
                                          uint16_t PageSize, int64_t FileSize) {
  if (FActive || FMarker) return;
  Start(TKind::Allocations, Header, OffsetToDBHeader, PageSize, FileSize, {});
  Flush();  // allocations overwrite bitmap pages at once
}

bool TVLTRollbackJournal::Protect(TVLTPageNo PageNo, int64_t Position, TVLTDatabaseFile& Db) {
  if (!(FActive || FMarker) || PageNo < 0 || Position + FPageSize > FFileSize) return false;
  if (!FCovered.insert(PageNo).second) return false;
  const size_t At = FQueued.size();
  FQueued.resize(At + kRecordHeaderSize + FPageSize);
  uint8_t* H = FQueued.data() + At;
  uint8_t* Data = H + kRecordHeaderSize;
  // A page the file does not hold whole (an interrupted growth) has nothing to save.
  if (!Db.ReadBuffer(Data, FPageSize, Position)) {
    FQueued.resize(At);
    return false;
  }
  StoreLE<int64_t>(H, Position);
  StoreLE<uint32_t>(H + 8, FPageSize);
  uint32_t CRC = CalcCRC32(0, H, 12);
  CRC = CalcCRC32(CRC, Data, FPageSize);
  StoreLE<uint32_t>(H + 12, CRC);
  FQueuedPages.push_back(PageNo);
  // A large commit's images go in pieces, so that the queue never holds more than a piece.
  if (FQueued.size() >= kQueueLimit) Flush();
  return true;
}

void TVLTRollbackJournal::Sync() {
  Flush();
  if (FFile.IsOpened()) FFile.FlushFileBuffers();
}

void TVLTRollbackJournal::Finish() {
  FActive = false;
  FMarker = false;
  FCovered.clear();
  FQueued.clear();
  FQueuedPages.clear();
  FFixedQueued = false;
  if (FKeepOpen && FFile.IsOpened()) {
    // Emptied, not removed: a journal without its fixed part saves nothing (rule 4). Should
    // the cut fail, the file is closed and removed as without keeping.
    try {
      FFile.SetSize(0);
      FEmpty = true;
      FEnd = 0;
      return;
    } catch (const EVLTException&) {
      FEmpty = false;
    }
  }
  FEmpty = false;
  if (FFile.IsOpened())
    FFile.CloseAndDeleteFile();
  else
    TVLTDatabaseFile::DeleteFile(FPath);
}

void TVLTRollbackJournal::Release() {
  if (FActive || FMarker || !FFile.IsOpened()) return;
  FEmpty = false;
  FFile.CloseAndDeleteFile();
}

}  // namespace vlt
