#include "engine/disk/VLTPageMapCheck.h"

#include <cstring>
#include <map>
#include <memory>

#include "engine/base/VLTExcept.h"
#include "engine/core/VLTPageHeader.h"
#include "engine/disk/VLTDiskFileFormat.h"
#include "engine/disk/VLTDiskPageManager.h"
#include "engine/protect/VLTSecurity.h"

namespace vlt {

std::string PageTypeText(int Type) {
  if (Type >= 0 && Type <= kLastPageType) return PageTypeToText(Type);
  return "(" + std::to_string(Type) + ")";
}

int64_t TVLTPageMapReport::ProblemCount() const {
  int64_t N = static_cast<int64_t>(Problems.size());
  for (const TVLTPageMapEntry& E : Pages) N += static_cast<int64_t>(E.Problems.size());
  return N;
}

TVLTPageMapReport CheckPageMap(TVLTDiskPageManager& M, bool RepairNeeded) {
  TVLTPageMapReport R;
  const TVLTDBHeader H = M.DBHeader();
  const uint16_t PageSize = M.PageSize();
  const uint16_t DataSize = M.PageDataSize();
  const TVLTFreeSpaceGeometry G(DataSize, H.PageCountInExtent);
  TVLTDatabaseFile& F = M.DatabaseFile();
  R.FileSize = F.GetSize();
  R.TotalPageCount = H.TotalPageCount;
  const int64_t Expected = M.OffsetToFirstPage() + int64_t{H.TotalPageCount} * PageSize;

  std::unique_ptr<TVLTDatabaseCipher> Cipher;
  if (M.Encrypted()) Cipher = std::make_unique<TVLTDatabaseCipher>(M.Password());

  auto ReadPage = [&](int64_t No, std::vector<uint8_t>& Buf) {
    Buf.assign(PageSize, 0);
    return No < H.TotalPageCount &&
           F.ReadBuffer(Buf.data(), PageSize, M.OffsetToFirstPage() + No * PageSize);
  };
  std::map<int64_t, std::vector<uint8_t>> Bitmaps;  // PFS and EAM pages by page number
  auto Bitmap = [&](int64_t No) -> const std::vector<uint8_t>* {
    auto It = Bitmaps.find(No);
    if (It == Bitmaps.end()) {
      std::vector<uint8_t> Buf;
      if (!ReadPage(No, Buf)) return nullptr;
      It = Bitmaps.emplace(No, std::move(Buf)).first;
    }
    return &It->second;
  };
  auto PFSBit = [&](int64_t No) -> int {
    int64_t K = No / G.PFSPagesAddressed, Local = No - G.PFSPageNo(K);
    const auto* B = Bitmap(G.PFSPageNo(K));
    if (!B) return -1;
    return ((*B)[kPageHeaderSize + Local / 8] >> (Local % 8)) & 1;
  };

  int64_t HighestUsed = -1;  // the highest page marked used
  int64_t HighestLive = -1;  // the highest page marked used that is not leaked
  std::vector<uint8_t> Buf;
  R.Pages.reserve(H.TotalPageCount > 0 ? static_cast<size_t>(H.TotalPageCount) : 0);
  for (int64_t No = 0; No < H.TotalPageCount; ++No) {
    TVLTPageMapEntry E;
    E.PageNo = static_cast<TVLTPageNo>(No);
    const bool Read = ReadPage(No, Buf);
    const auto* PH = reinterpret_cast<const TVLTDiskPageHeader*>(Buf.data());
    const bool System = G.IsSystemPage(No);
    E.Bit = PFSBit(No);
    E.Signed = Read && std::memcmp(PH->Signature, kPageSignature, 4) == 0;
    E.PageType = E.Signed ? PH->PageType : 0;
    E.State = E.Signed ? PH->State : 0;
    // Pages of the active sessions and table locks files are stored plain in every database.
    const bool Ciphered = Cipher && !System && E.Signed && PH->PageType != ptActiveSessionList &&
                          PH->PageType != ptTableLocks;
    E.Checksum = "-";
    if (!Read) {
      E.Checksum = "unreadable";
    } else if (Ciphered) {
      std::vector<uint8_t> Copy = Buf;
      try {
        Cipher->DecryptPage(Copy.data(), PageSize, static_cast<TVLTPageNo>(No), false);
        E.Checksum = "ok";
      } catch (const EVLTException&) {
        E.Checksum = "FAILED";
      }
    }
    const std::string Where = "page " + std::to_string(No) + ": ";
    auto Problem = [&](const std::string& Text) { E.Problems.push_back(Where + Text); };
    if (!Read) {
      Problem("cannot be read");
      R.Pages.push_back(std::move(E));
      continue;
    }
    if (E.Bit < 0) Problem("its PFS page cannot be read");
    if (E.Checksum == "FAILED") Problem("checksum does not match its data");
    if (System) {
      const bool IsPFS = No % G.PFSPagesAddressed == 0;
      const uint16_t Want = IsPFS ? ptPFS : ptEAM;
      if (!E.Signed || PH->PageType != Want)
        Problem("should be a " + PageTypeText(Want) + ", found " +
                (E.Signed ? PageTypeText(PH->PageType) : "no page header"));
      if (E.Bit == 0) Problem("bitmap page not marked used");
    } else if (E.Bit == 1) {
      HighestUsed = No;
      // Allocation marks a page used at once; a session that never committed leaves it so,
      // never written or stamped freed. No committed data can refer to such a page.
      if (!E.Signed || PH->State == kPageStateFreed)
        ++R.LeakedPages;
      else
        HighestLive = No;
      if (E.Signed && PH->State != kPageStateFreed &&
          (PH->PageType < ptEAM || PH->PageType > kLastPageType || PH->PageType == ptPFS ||
           PH->PageType == ptEAM))
        Problem("marked used but has page type " + PageTypeText(PH->PageType));
    } else if (E.Bit == 0 && E.Signed && PH->State != kPageStateFreed &&
               PH->PageType != ptUnknown) {
      // Freeing stamps State MaxInt before the bit is cleared, so this page was lost.
      Problem("marked free but holds a live " + PageTypeText(PH->PageType));
    }
    R.Pages.push_back(std::move(E));
  }

  // An extent marked full with a free page is space the allocator skips, never a page handed
  // out twice: a writer that died between marking the extent and counting its pages (or
  // freeing one) leaves it. A warning; a compaction gives the space back.
  for (int64_t K = 0; H.TotalPageCount > 0 && G.EAMPageNo(K) < H.TotalPageCount; ++K) {
    const auto* B = Bitmap(G.EAMPageNo(K));
    if (!B) continue;
    for (int64_t I = 0; I < DataSize; ++I)
      for (int J = 0; J < 4; ++J) {
        if (!(((*B)[kPageHeaderSize + I] >> (2 * J + 1)) & 1)) continue;
        const int64_t Extent = K * G.EAMExtentsAddressed + I * 4 + J;
        for (int64_t Q = Extent * G.PageCountInExtent; Q < (Extent + 1) * G.PageCountInExtent;
             ++Q)
          if (Q >= H.TotalPageCount || PFSBit(Q) != 1) {
            R.Warnings.push_back("extent " + std::to_string(Extent) + " is marked full but page " +
                                 std::to_string(Q) +
                                 " is free (space the allocator skips, not damage)");
            break;
          }
      }
  }

  if (R.LeakedPages > 0)
    R.Warnings.push_back(std::to_string(R.LeakedPages) + " leaked page" +
                         (R.LeakedPages == 1 ? "" : "s") +
                         ": allocated by a transaction that never committed (free space, not "
                         "damage; the next writable open that has the file to itself or a "
                         "compaction gives them back)");
  if (R.FileSize < Expected)
    R.Problems.push_back("the file holds " + std::to_string(R.FileSize) +
                         " bytes, the header counts " + std::to_string(H.TotalPageCount) +
                         " pages (" + std::to_string(Expected) + " bytes)");
  else if (R.FileSize > Expected)
    R.Warnings.push_back("the file holds " + std::to_string(R.FileSize - Expected) +
                         " bytes beyond its last counted page (an interrupted growth)");
  // Allocation marks the page used before the header counts it, freeing clears the bit before
  // the header drops it: a writer that died between the two left a LastUsedPageNo that differs
  // from the bitmaps only by pages no committed structure holds (leaked or free), which every
  // allocation and freeing tolerates and the next lone writable open sets right.
  if (H.LastUsedPageNo != HighestUsed) {
    const std::string Text = "LastUsedPageNo is " + std::to_string(H.LastUsedPageNo) +
                             ", the bitmaps say " + std::to_string(HighestUsed);
    // Below the highest live page it would hand out a page in use: damage.
    const bool Harmless = H.LastUsedPageNo >= HighestLive;
    if (Harmless)
      R.Warnings.push_back(Text +
                           " (an allocation or freeing cut off before its header write; "
                           "the pages between hold nothing committed)");
    else
      R.Problems.push_back(Text);
  }
  if (RepairNeeded)
    R.Problems.push_back("the last commit did not complete: the database needs repair");
  if (H.TotalPageCount > 0 && G.IsSystemPage(H.TotalPageCount - 1))
    R.Problems.push_back("the file ends on a bitmap page");
  return R;
}

}  // namespace vlt
