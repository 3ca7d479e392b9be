#include "engine/disk/VLTDiskFileFormat.h"

#include <cstring>

namespace vlt {

TVLTDBHeader NewDBHeader(uint16_t PageSize, uint16_t PageCountInExtent) {
  TVLTDBHeader H;
  std::memset(&H, 0, sizeof H);
  std::memcpy(H.Signature, kDBSignature, sizeof H.Signature);
  H.HeaderSize = kDBHeaderSize;
  H.Version = kDBVersion;
  H.PageSize = PageSize;
  H.PageCountInExtent = PageCountInExtent;
  H.TotalPageCount = 0;
  H.LastUsedPageNo = kNoPage;
  H.State = 0;
  H.WriteChangesState = kWriteChangesComplete;
  H.Encrypted = 0;
  return H;
}

TVLTCryptoHeader NewCryptoHeader() {
  TVLTCryptoHeader C;
  std::memset(&C, 0, sizeof C);
  C.CryptoHeaderSize = kCryptoHeaderSize;
  return C;
}

TVLTLockedBytes NewLockedBytes() {
  TVLTLockedBytes L;
  std::memset(&L, 0, sizeof L);
  L.LockedByteSize = kLockedBytesSize;
  return L;
}

bool HasDBSignature(const TVLTDBHeader& H) {
  return std::memcmp(H.Signature, kDBSignature, sizeof kDBSignature) == 0;
}

TVLTFreeSpaceGeometry::TVLTFreeSpaceGeometry(uint16_t PageDataSize, int32_t E)
    : PageCountInExtent(E),
      PFSPagesAddressed(int64_t{PageDataSize} * 8),
      EAMExtentsAddressed(int64_t{PageDataSize} * 4),
      EAMPagesAddressed(int64_t{PageDataSize} * 4 * E) {}

bool TVLTFreeSpaceGeometry::IsSystemPage(int64_t N) const {
  if (N < 0) return false;
  if (N % PFSPagesAddressed == 0 || N % EAMPagesAddressed == 0) return true;
  return N >= 1 && (N - 1) % PFSPagesAddressed == 0 && (N - 1) % EAMPagesAddressed == 0;
}

int64_t TVLTFreeSpaceGeometry::EAMPageNo(int64_t K) const {
  int64_t P = K * EAMPagesAddressed;
  return P % PFSPagesAddressed == 0 ? P + 1 : P;
}

}  // namespace vlt
