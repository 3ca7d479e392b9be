#include "engine/disk/VLTInternalFile.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <unordered_set>

#include "engine/base/VLTErrorCodes.h"
#include "engine/base/VLTExcept.h"
#include "engine/base/VLTMemory.h"
#include "engine/base/VLTScopeGuard.h"
#include "engine/core/VLTPage.h"
#include "engine/core/VLTPageHandle.h"
#include "engine/disk/VLTDiskPageManager.h"
#include "engine/protect/VLTCompression.h"

namespace vlt {

namespace {


// Guards a walk along a chain against damaged links (negative numbers, loops).
class TChainGuard {
 public:
  explicit TChainGuard(TVLTPageNo Start) { FSeen.insert(Start); }
  void Check(TVLTPageNo StartPageNo, TVLTPageNo Next) {
    if (Next < 0 || !FSeen.insert(Next).second)
      throw EVLTException(kErrInternalFileChainDamaged,
                          "Internal file chain is damaged. StartPageNo=%d. NextPageNo=%d",
                          {int64_t{StartPageNo}, int64_t{Next}});
  }

 private:
  std::unordered_set<TVLTPageNo> FSeen;
};

constexpr uint16_t kPageDataOffset = kPageHeaderSize;

}  // namespace

// ---- layout helpers ----

void TVLTInternalFileHeader::SaveTo(uint8_t* P) const {
  P[0] = HeaderSize;
  StoreLE<int32_t>(P + 1, StoredSize);
  StoreLE<int32_t>(P + 5, DecompressedSize);
  P[9] = CompressionAlgorithm;
}

TVLTInternalFileHeader TVLTInternalFileHeader::LoadFrom(const uint8_t* P) {
  TVLTInternalFileHeader H;
  H.HeaderSize = P[0];
  H.StoredSize = LoadLE<int32_t>(P + 1);
  H.DecompressedSize = LoadLE<int32_t>(P + 5);
  H.CompressionAlgorithm = P[9];
  return H;
}

int32_t InternalFilePageCount(int64_t Size, uint16_t PageDataSize) {
  return static_cast<int32_t>((Size + kInternalFileHeaderSize + PageDataSize - 1) / PageDataSize);
}

TVLTInternalFilePosition InternalFileLockPosition(int64_t Position, uint16_t PageDataSize) {
  const int64_t X = Position + kInternalFileHeaderSize;
  return {static_cast<int32_t>((X + PageDataSize - 1) / PageDataSize - 1),
          static_cast<uint16_t>(X % PageDataSize)};
}

TVLTInternalFilePosition InternalFileContentPosition(int64_t Position, uint16_t PageDataSize) {
  const int64_t X = Position + kInternalFileHeaderSize;
  return {static_cast<int32_t>(X / PageDataSize), static_cast<uint16_t>(X % PageDataSize)};
}

// ---- transacted files ----

TVLTInternalDBTransactedAccessFile::TVLTInternalDBTransactedAccessFile(
    TVLTDiskPageManager* PageManager, uint16_t PageTypeID)
    : LPageManager(PageManager), FPageTypeID(PageTypeID) {}

void TVLTInternalDBTransactedAccessFile::CheckOpen(const char* Operation) const {
  if (FStartPageNo == kNoPage)
    throw EVLTException(kErrCannotPerformOperationClosedInCheckOpen30389,
                        "Cannot perform this operation (%s) on closed internal file",
                        {std::string(Operation)});
}

void TVLTInternalDBTransactedAccessFile::CreateFile(TVLTSessionID SessionID) {
  if (FStartPageNo != kNoPage)
    throw EVLTException(kErrCannotCreateInternalFileInCreateFile30383,
                        "Cannot create internal file. File already exists. StartPageNo=%d",
                        {int64_t{FStartPageNo}});
  TVLTPageHandle P(*LPageManager, LPageManager->AddPage(SessionID, FPageTypeID));
  TVLTInternalFileHeader{}.SaveTo(P->PageData());
  P->SetIsDirty(true);
  FStartPageNo = P->PageNo();
}

void TVLTInternalDBTransactedAccessFile::OpenFile(TVLTPageNo StartPageNo) {
  FStartPageNo = StartPageNo;
}

void TVLTInternalDBTransactedAccessFile::DeleteFile(TVLTSessionID SessionID,
                                                    TVLTPageNo StartPageNo) {
  const TVLTPageNo Start = StartPageNo == kNoPage ? FStartPageNo : StartPageNo;
  if (Start == kNoPage) return;
  // Collect the whole chain first, so that a damaged chain removes nothing.
  TVLTIntegerArray Pages;
  TChainGuard Guard(Start);
  for (TVLTPageNo No = Start; No != kNoPage;) {
    Pages.Append(No);
    TVLTPageHandle P(*LPageManager, LPageManager->GetPage(SessionID, No, FPageTypeID, true));
    TVLTPageNo Next = P->PageHeader()->NextPageNo;
    if (Next != kNoPage) Guard.Check(Start, Next);
    No = Next;
  }
  for (int32_t No : Pages) LPageManager->RemovePage(SessionID, No);
  FStartPageNo = kNoPage;
}

void TVLTInternalDBTransactedAccessFile::GetFileSize(TVLTSessionID SessionID, int32_t& Size,
                                                     int32_t& DecompressedSize,
                                                     TVLTCompressionAlgorithm& CompressionAlgorithm,
                                                     bool& FileWasChanged,
                                                     bool SynchronizeAllowed) {
  CheckOpen("GetSize");
  TVLTPageHandle P(*LPageManager,
             LPageManager->GetPage(SessionID, FStartPageNo, FPageTypeID, SynchronizeAllowed));
  const auto H = TVLTInternalFileHeader::LoadFrom(P->PageData());
  Size = H.StoredSize;
  DecompressedSize = H.DecompressedSize;
  CompressionAlgorithm = static_cast<TVLTCompressionAlgorithm>(H.CompressionAlgorithm);
  FileWasChanged = P->Reloaded();
}

int32_t TVLTInternalDBTransactedAccessFile::GetSize(TVLTSessionID SessionID) {
  int32_t Size = 0, Decompressed = 0;
  TVLTCompressionAlgorithm A = acaNone;
  bool Changed = false;
  GetFileSize(SessionID, Size, Decompressed, A, Changed, true);
  return Decompressed;
}

int32_t TVLTInternalDBTransactedAccessFile::GetCheckedSize(TVLTSessionID SessionID) {
  const int32_t Size = GetSize(SessionID);
  if (Size < 0 || Size > LPageManager->DatabaseFile().GetSize())
    throw EVLTException(kErrCannotReadInternalFileInGetCheckedSize,
                        "Cannot read internal file. Wanted %d bytes, but only %d bytes found",
                        {int64_t{Size}, int64_t{0}});
  return Size;
}

void TVLTInternalDBTransactedAccessFile::SetFileSize(TVLTSessionID SessionID, int32_t NewSize,
                                                     int32_t DecompressedSize,
                                                     TVLTCompressionAlgorithm CompressionAlgorithm) {
  CheckOpen("SetSize");
  const uint16_t D = LPageManager->PageDataSize();
  TVLTPageHandle Start(*LPageManager, LPageManager->GetPage(SessionID, FStartPageNo, FPageTypeID, true));
  auto H = TVLTInternalFileHeader::LoadFrom(Start->PageData());
  const int32_t Old = H.StoredSize < 0 ? NewSize : H.StoredSize;
  const int32_t Before = InternalFilePageCount(Old, D);
  const int32_t After = InternalFilePageCount(NewSize, D);
  if (After > Before) {
    // Walk the chain to its page After - 1, reusing pages a shrink kept and adding new ones
    // where the chain ends; the chain must hold at least the Before pages the header claims.
    TChainGuard Guard(FStartPageNo);
    TVLTPageHandle Cur(*LPageManager);
    for (int32_t I = 0; I < After - 1; ++I) {
      TVLTPage* Page = I == 0 ? Start.get() : Cur.get();
      const TVLTPageNo Next = Page->PageHeader()->NextPageNo;
      if (Next == kNoPage) {
        if (I < Before - 1)
          throw EVLTException(kErrGettingThTableFile,
                              "Error getting %d-th table file page. Probably database is "
                              "corrupted and needs repair.",
                              {int64_t{I + 1}});
        TVLTPage* Added = LPageManager->AddPage(SessionID, FPageTypeID);
        Page->PageHeader()->NextPageNo = Added->PageNo();
        Page->SetIsDirty(true);
        Cur.Adopt(Added);
      } else {
        Guard.Check(FStartPageNo, Next);
        Cur.Adopt(LPageManager->GetPage(SessionID, Next, FPageTypeID, true));
      }
    }
  }
  H.HeaderSize = kInternalFileHeaderSize;
  H.StoredSize = NewSize;
  H.DecompressedSize = DecompressedSize;
  H.CompressionAlgorithm = CompressionAlgorithm;
  H.SaveTo(Start->PageData());
  Start->SetIsDirty(true);
}

void TVLTInternalDBTransactedAccessFile::WriteFile(TVLTSessionID SessionID, const void* Buffer,
                                                   int32_t Count,
                                                   TVLTCompressionAlgorithm Algorithm,
                                                   uint8_t CompressionMode) {
  CheckOpen("WriteFile");
  if (Count < 0)
    throw EVLTException(kErrCannotWriteInternalFile, "Cannot write internal file. WriteSize=%d",
                        {int64_t{Count}});
  const uint8_t* Stored = static_cast<const uint8_t*>(Buffer);
  int64_t StoredSize = Count;
  TVLTBuffer Compressed;
  if (Algorithm != acaNone) {
    TVLTCompressedStreamBlockHeader BlockHeader;
    if (Count == 0 ||
        !VLTCompressBuffer(Algorithm, CompressionMode, Buffer, Count, BlockHeader, Compressed) ||
        Compressed.size() == 0 || Compressed.size() > INT32_MAX)
      throw EVLTException(kErrTableFileCompressionError, "Table file compression error");
    Stored = Compressed.data();
    StoredSize = static_cast<int64_t>(Compressed.size());
  }
  SetFileSize(SessionID, static_cast<int32_t>(StoredSize), Count, Algorithm);

  const uint16_t D = LPageManager->PageDataSize();
  const int32_t Pages = InternalFilePageCount(StoredSize, D);
  int64_t Done = 0;
  TVLTPageNo No = FStartPageNo;
  TChainGuard Guard(FStartPageNo);
  for (int32_t I = 0; I < Pages; ++I) {
    TVLTPageHandle P(*LPageManager, LPageManager->GetPage(SessionID, No, FPageTypeID, true));
    const int64_t Offset = I == 0 ? kInternalFileHeaderSize : 0;
    const int64_t N = std::min<int64_t>(StoredSize - Done, D - Offset);
    if (N > 0) std::memcpy(P->PageData() + Offset, Stored + Done, static_cast<size_t>(N));
    Done += N;
    P->SetIsDirty(true);
    No = P->PageHeader()->NextPageNo;
    if (I + 1 < Pages) Guard.Check(FStartPageNo, No);
  }
}

void TVLTInternalDBTransactedAccessFile::ReadFile(TVLTSessionID SessionID, void* Buffer,
                                                  int32_t Count, bool SynchronizeAllowed) {
  CheckOpen("ReadFile");
  TVLTPageHandle P(*LPageManager,
             LPageManager->GetPage(SessionID, FStartPageNo, FPageTypeID, SynchronizeAllowed));
  const auto H = TVLTInternalFileHeader::LoadFrom(P->PageData());
  if (Count < 0 || H.DecompressedSize < Count)
    throw EVLTException(kErrCannotReadInternalFileInReadFile,
                        "Cannot read internal file. FileSize=%d. ReadSize=%d",
                        {int64_t{H.DecompressedSize}, int64_t{Count}});
  if (Count == 0) return;
  const bool Compressed = H.CompressionAlgorithm != acaNone;
  const int64_t Wanted = Compressed ? H.StoredSize : Count;
  auto ShortRead = [&](int64_t Got) {
    return EVLTException(kErrCannotReadInternalFileInGetCheckedSize,
                         "Cannot read internal file. Wanted %d bytes, but only %d bytes found",
                         {Wanted, Got});
  };
  const uint16_t D = LPageManager->PageDataSize();
  // A stored size the file cannot hold is damage; refuse it before allocating for it.
  if (Wanted <= 0 || (Compressed && Wanted > LPageManager->DatabaseFile().GetSize()))
    throw ShortRead(0);
  TVLTBuffer Temp;
  uint8_t* Target = static_cast<uint8_t*>(Buffer);
  if (Compressed) {
    Temp = TVLTBuffer(static_cast<size_t>(Wanted));
    Target = Temp.data();
  }
  int64_t Got = 0;
  int64_t Offset = kInternalFileHeaderSize;
  TChainGuard Guard(FStartPageNo);
  for (;;) {
    const int64_t N = std::min<int64_t>(Wanted - Got, D - Offset);
    std::memcpy(Target + Got, P->PageData() + Offset, static_cast<size_t>(N));
    Got += N;
    if (Got >= Wanted) break;
    const TVLTPageNo Next = P->PageHeader()->NextPageNo;
    if (Next == kNoPage) break;
    Guard.Check(FStartPageNo, Next);
    P.Adopt(LPageManager->GetPage(SessionID, Next, FPageTypeID, SynchronizeAllowed));
    Offset = 0;
  }
  if (Got < Wanted) throw ShortRead(Got);
  if (!Compressed) return;

  auto Fail = [](const std::string& Why) {
    return EVLTException(kErrTableFileDecompressionError,
                         "Table file decompression error. Possible table corruption (%s)", {Why});
  };
  if (H.CompressionAlgorithm > acaPPM)
    throw Fail("unknown compression algorithm " + std::to_string(H.CompressionAlgorithm));
  int64_t OutSize = H.DecompressedSize;
  TVLTBuffer Out;
  std::string Error;
  if (!VLTDecompressBuffer(static_cast<TVLTCompressionAlgorithm>(H.CompressionAlgorithm),
                           Temp.data(), Wanted, OutSize, Out, &Error))
    throw Fail(Error.empty() ? std::string("decompression failed") : Error);
  if (OutSize != H.DecompressedSize)
    throw Fail("decompressed " + std::to_string(OutSize) + " bytes, expected " +
               std::to_string(H.DecompressedSize));
  std::memcpy(Buffer, Out.data(), static_cast<size_t>(Count));
}

void TVLTInternalDBTransactedAccessFile::InitFileHeader(TVLTSessionID SessionID) {
  if (FStartPageNo == kNoPage) throw EVLTException(kErrInvalidPageNumber, "Invalid page number");
  const bool OldIgnore = LPageManager->IgnoreCRCErrors();
  LPageManager->SetIgnoreCRCErrors(true);
  TVLTScopeExit RestoreIgnore([this, OldIgnore] { LPageManager->SetIgnoreCRCErrors(OldIgnore); });
  TVLTPageHandle P(*LPageManager, LPageManager->GetPage(SessionID, FStartPageNo, ptAny, true));
  auto H = TVLTInternalFileHeader::LoadFrom(P->PageData());
  // The version stamp stays, so other processes still see that the page changed.
  const int32_t State = P->PageHeader()->State;
  P->InitHeader();
  P->PageHeader()->State = State;
  P->PageHeader()->PageType = FPageTypeID;
  H.HeaderSize = kInternalFileHeaderSize;
  H.StoredSize = 0;
  H.CompressionAlgorithm = acaNone;
  H.SaveTo(P->PageData());
  P->SetIsDirty(true);
}

bool TVLTInternalDBTransactedAccessFile::LockFile() {
  CheckOpen("LockFile");
  return LPageManager->LockPageByte(FStartPageNo, 0);
}

bool TVLTInternalDBTransactedAccessFile::UnlockFile() {
  CheckOpen("UnlockFile");
  return LPageManager->UnlockPageByte(FStartPageNo, 0);
}

// ---- direct-access files ----

TVLTInternalDBDirectAccessFile::TVLTInternalDBDirectAccessFile(TVLTDiskPageManager* PageManager,
                                                               uint16_t PageTypeID)
    : LPageManager(PageManager), FPageTypeID(PageTypeID) {}

void TVLTInternalDBDirectAccessFile::CheckOpen(const char* Operation) const {
  if (FStartPageNo == kNoPage)
    throw EVLTException(kErrCannotPerformOperationClosedInCheckOpen20156,
                        "Cannot perform this operation (%s) on closed internal file",
                        {std::string(Operation)});
}

void TVLTInternalDBDirectAccessFile::CreateFile(int32_t Size) {
  if (FStartPageNo != kNoPage)
    throw EVLTException(kErrCannotCreateInternalFileInCreateFile20157,
                        "Cannot create internal file. File already exists. StartPageNo=%d",
                        {int64_t{FStartPageNo}});
  if (Size < 0)
    throw EVLTException(kErrInvalidInternalFileSize, "Invalid internal file size: %d",
                        {int64_t{Size}});
  const uint16_t D = LPageManager->PageDataSize();
  const int32_t Pages = InternalFilePageCount(Size, D);
  TVLTIntegerArray Chain;
  TVLTPageHandle Cur(*LPageManager, LPageManager->AddPage(kSystemSessionID, FPageTypeID));
  Cur->SetEncryptionEnabled(false);
  uint8_t* Data = Cur->PageData();
  if (!Data)
    VLTRaiseNilPointer(kErrNilDataInCreateFile);  // a page just added always has its buffer
  std::memset(Data, 0, kInternalFileHeaderSize);
  Data[0] = kInternalFileHeaderSize;
  StoreLE<int32_t>(Data + 1, Size);
  Cur->SetIsDirty(true);
  Chain.Append(Cur->PageNo());
  for (int32_t I = 1; I < Pages; ++I) {
    TVLTPage* Added = LPageManager->AddPage(kSystemSessionID, FPageTypeID);
    Added->SetEncryptionEnabled(false);
    Cur->PageHeader()->NextPageNo = Added->PageNo();
    Cur->SetIsDirty(true);
    Chain.Append(Added->PageNo());
    Cur.Adopt(Added);
  }
  Chain.CopyTo(FFilePages);
  FStartPageNo = Chain[0];
  FFileSize = Size;
  FStoredSize = Size;
}

void TVLTInternalDBDirectAccessFile::OpenFile(TVLTPageNo StartPageNo) {
  CloseFile();
  const uint16_t D = LPageManager->PageDataSize();
  uint8_t Header[kInternalFileHeaderSize];
  LPageManager->ReadPageRegion(Header, StartPageNo, kPageDataOffset, sizeof Header);
  const int32_t Size = LoadLE<int32_t>(Header + 1);
  if (Size < 0)
    throw EVLTException(kErrInvalidInternalFileSize, "Invalid internal file size: %d",
                        {int64_t{Size}});

  // The pages the lock positions need, and the pages creation made (one more when the last
  // lock position falls on a page boundary).
  const int32_t Needed = std::max(1, InternalFilePageCount(int64_t{Size} - 1, D));
  const int32_t Created = InternalFilePageCount(Size, D);
  TVLTIntegerArray Chain;
  TChainGuard Guard(StartPageNo);
  TVLTPageNo No = StartPageNo;
  for (;;) {
    // Byte 0 is skipped: another process may hold it locked.
    TVLTDiskPageHeader PH{};
    LPageManager->ReadPageRegion(reinterpret_cast<uint8_t*>(&PH) + 1, No, 1,
                                 kPageHeaderSize - 1);
    if (PH.PageType != FPageTypeID)
      throw EVLTException(kErrInvalidPageTypeFoundBut,
                          "Invalid PageType found: %d but expecting: %d",
                          {int64_t{PH.PageType}, int64_t{FPageTypeID}});
    Chain.Append(No);
    if (Chain.ItemCount() >= Created || PH.NextPageNo == kNoPage) break;
    Guard.Check(StartPageNo, PH.NextPageNo);
    No = PH.NextPageNo;
  }
  if (Chain.ItemCount() < Needed)
    throw EVLTException(kErrInternalFileChainDamaged,
                        "Internal file chain is damaged. StartPageNo=%d. NextPageNo=%d",
                        {int64_t{StartPageNo}, int64_t{kNoPage}});
  Chain.CopyTo(FFilePages);
  FStartPageNo = StartPageNo;
  FStoredSize = Size;
  FFileSize = Chain.ItemCount() == 1 ? D - kInternalFileHeaderSize : Size;
  // Never beyond what the chain holds.
  FFileSize = static_cast<int32_t>(
      std::min<int64_t>(FFileSize, int64_t{Chain.ItemCount()} * D - kInternalFileHeaderSize));
}

void TVLTInternalDBDirectAccessFile::CloseFile() {
  FStartPageNo = kNoPage;
  FFileSize = 0;
  FStoredSize = 0;
  FFilePages.Clear();
}

void TVLTInternalDBDirectAccessFile::DeleteFile(TVLTPageNo StartPageNo) {
  if (StartPageNo != kNoPage && StartPageNo != FStartPageNo) OpenFile(StartPageNo);
  if (FStartPageNo == kNoPage) return;
  for (int32_t No : FFilePages) LPageManager->RemovePage(kSystemSessionID, No);
  CloseFile();
}

int32_t TVLTInternalDBDirectAccessFile::GetSize() const {
  CheckOpen("GetSize");
  return FFileSize;
}

void TVLTInternalDBDirectAccessFile::ReadBuffer(void* Buffer, int32_t Count, int32_t Position) {
  CheckOpen("DirectReadBuffer");
  if (Position < 0 || Position > FFileSize)
    throw EVLTException(kErrSeekPositionBiggerFile,
                        "Seek position bigger than file size. FileSize=%d. Position=%d",
                        {int64_t{FFileSize}, int64_t{Position}});
  if (Count < 0 || int64_t{Position} + Count > FFileSize)
    throw EVLTException(kErrCannotReadAfterEnd,
                        "Cannot read after end of file. FileSize=%d. Position=%d, Count=%d",
                        {int64_t{FFileSize}, int64_t{Position}, int64_t{Count}});
  const uint16_t D = LPageManager->PageDataSize();
  auto* Out = static_cast<uint8_t*>(Buffer);
  for (int32_t Done = 0; Done < Count;) {
    const auto Pos = InternalFileContentPosition(int64_t{Position} + Done, D);
    const int32_t N = std::min<int32_t>(Count - Done, D - Pos.DataOffset);
    LPageManager->ReadPageRegion(Out + Done, FFilePages[Pos.ChainPage],
                                 static_cast<uint16_t>(kPageDataOffset + Pos.DataOffset),
                                 static_cast<uint16_t>(N));
    Done += N;
  }
}

void TVLTInternalDBDirectAccessFile::WriteBuffer(const void* Buffer, int32_t Count,
                                                 int32_t Position) {
  CheckOpen("DirectWriteBuffer");
  if (Position < 0 || Position > FFileSize)
    throw EVLTException(kErrSeekPositionBiggerFile,
                        "Seek position bigger than file size. FileSize=%d. Position=%d",
                        {int64_t{FFileSize}, int64_t{Position}});
  const int32_t Limit = std::min(FStoredSize, FFileSize);
  if (Count < 0 || int64_t{Position} + Count > Limit)
    throw EVLTException(kErrCannotWriteAfterEnd,
                        "Cannot write after end of file. FileSize=%d. Position=%d, Count=%d",
                        {int64_t{Limit}, int64_t{Position}, int64_t{Count}});
  const uint16_t D = LPageManager->PageDataSize();
  auto* In = static_cast<const uint8_t*>(Buffer);
  for (int32_t Done = 0; Done < Count;) {
    const auto Pos = InternalFileContentPosition(int64_t{Position} + Done, D);
    const int32_t N = std::min<int32_t>(Count - Done, D - Pos.DataOffset);
    LPageManager->WritePageRegion(In + Done, FFilePages[Pos.ChainPage],
                                  static_cast<uint16_t>(kPageDataOffset + Pos.DataOffset),
                                  static_cast<uint16_t>(N));
    Done += N;
  }
}

bool TVLTInternalDBDirectAccessFile::LockFile() {
  CheckOpen("LockFile");
  return LPageManager->LockPageByte(FStartPageNo, 0);
}

bool TVLTInternalDBDirectAccessFile::UnlockFile() {
  CheckOpen("UnlockFile");
  return LPageManager->UnlockPageByte(FStartPageNo, 0);
}

bool TVLTInternalDBDirectAccessFile::LockTarget(int32_t ByteNo, TVLTPageNo& PageNo,
                                                uint16_t& PageOffset) const {
  if (ByteNo < 0 || ByteNo >= FFileSize) return false;
  const auto Pos = InternalFileLockPosition(ByteNo, LPageManager->PageDataSize());
  if (Pos.ChainPage >= FFilePages.ItemCount()) return false;
  PageNo = FFilePages[Pos.ChainPage];
  PageOffset = static_cast<uint16_t>(kPageDataOffset + Pos.DataOffset);
  return true;
}

bool TVLTInternalDBDirectAccessFile::LockByte(int32_t ByteNo) {
  CheckOpen("LockByte");
  TVLTPageNo No;
  uint16_t Offset;
  return LockTarget(ByteNo, No, Offset) && LPageManager->LockPageByte(No, Offset);
}

bool TVLTInternalDBDirectAccessFile::UnlockByte(int32_t ByteNo) {
  CheckOpen("UnlockByte");
  TVLTPageNo No;
  uint16_t Offset;
  return LockTarget(ByteNo, No, Offset) && LPageManager->UnlockPageByte(No, Offset);
}

bool TVLTInternalDBDirectAccessFile::IsByteLocked(int32_t ByteNo) {
  CheckOpen("IsByteLocked");
  TVLTPageNo No;
  uint16_t Offset;
  return LockTarget(ByteNo, No, Offset) && LPageManager->IsPageByteLocked(No, Offset);
}

bool TVLTInternalDBDirectAccessFile::IsRegionLocked(int32_t ByteNo, int32_t ByteCount) {
  CheckOpen("IsRegionLocked");
  if (ByteCount <= 0) return false;
  // Contiguous runs of lock positions within one page, one check per run.
  int64_t I = ByteNo;
  const int64_t End = int64_t{ByteNo} + ByteCount;
  while (I < End) {
    TVLTPageNo No;
    uint16_t Offset;
    if (!LockTarget(static_cast<int32_t>(I), No, Offset)) {
      ++I;
      continue;
    }
    int32_t Run = 1;
    for (;;) {
      TVLTPageNo NextNo;
      uint16_t NextOffset;
      if (I + Run >= End || !LockTarget(static_cast<int32_t>(I + Run), NextNo, NextOffset) ||
          NextNo != No || NextOffset != Offset + Run)
        break;
      ++Run;
    }
    if (LPageManager->IsPageRegionLocked(No, Offset, static_cast<uint16_t>(Run))) return true;
    I += Run;
  }
  return false;
}

}  // namespace vlt
