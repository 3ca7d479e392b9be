// A damaged block chain must raise EVLTException on load, read, append or truncate, never crash
// or allocate without bound. Input: a 32-byte descriptor, then the containing stream.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "engine/base/VLTExcept.h"
#include "engine/protect/VLTCompressedBLOBStream.h"
#include "engine/protect/VLTMemoryStream.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  if (Size < vlt::TVLTBLOBDescriptor::kStoredSize) return 0;
  vlt::TVLTBLOBDescriptor D = vlt::TVLTBLOBDescriptor::LoadFrom(Data);
  D.BlockSize = D.BlockSize % 70000;  // keep blocks small: the chain bounds memory by BlockSize
  D.StartPosition %= 64;
  D.CompressionAlgorithm = static_cast<vlt::TVLTCompressionAlgorithm>(D.CompressionAlgorithm % 4);
  if (D.CompressionAlgorithm == vlt::acaPPM) D.CompressionMode = 1 + D.CompressionMode % 3;
  bool Repair = D.Reserved & 1;
  vlt::TVLTMemoryStream Container;
  const uint8_t* Body = Data + vlt::TVLTBLOBDescriptor::kStoredSize;
  size_t BodySize = Size - vlt::TVLTBLOBDescriptor::kStoredSize;
  if (BodySize > 0) vlt::VLTWriteBuffer(Container, Body, static_cast<int64_t>(BodySize), 1);
  try {
    vlt::TVLTCompressedBLOBStream S(&Container, Repair, false, D);
    std::vector<uint8_t> Buf(4096);
    int64_t Total = 0;
    while (Total < (1 << 22)) {
      int64_t N = S.Read(Buf.data(), static_cast<int64_t>(Buf.size()));
      if (N <= 0) break;
      Total += N;
    }
    if (D.Reserved & 2) {
      S.Seek(0, vlt::soEnd);
      S.Write(Body, static_cast<int64_t>(BodySize < 100 ? BodySize : 100));
    }
    if (D.Reserved & 4) S.SetSize(S.GetSize() / 2);
  } catch (const vlt::EVLTException&) {
  }
  return 0;
}
