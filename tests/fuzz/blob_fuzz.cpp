// Feeds arbitrary bytes to the BLOB (.mb) reader, plain and as the file of an encrypted table:
// the first bytes name the pointers to follow (offset, length), the rest is the file. Any
// pointer must end in a value of its length or an EParadoxError.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "app/paradox/ParadoxBlob.h"
#include "app/paradox/ParadoxError.h"
#include "engine/base/VLTTypes.h"

namespace {

constexpr size_t kPointers = 4;

void ReadValues(const uint8_t* Data, const std::string& File, uint32_t Key) {
  const vlt::app::TParadoxBlobFile Blobs =
      vlt::app::TParadoxBlobFile::FromBytes(File, "fuzz.mb", Key);
  for (size_t I = 0; I < kPointers; ++I) {
    const uint32_t Offset = vlt::LoadLE<uint32_t>(Data + I * 8);
    const uint32_t Length = vlt::LoadLE<uint32_t>(Data + I * 8 + 4) % (1u << 20);
    try {
      const std::string V = Blobs.Read(Offset, Length, "Memo");
      if (V.size() != Length) std::abort();
    } catch (const vlt::app::EParadoxError&) {
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  const size_t Head = kPointers * 8 + 4;
  if (Size < Head) return 0;
  const std::string File(reinterpret_cast<const char*>(Data) + Head, Size - Head);
  ReadValues(Data, File, 0);
  ReadValues(Data, File, vlt::LoadLE<uint32_t>(Data + kPointers * 8) | 1u);
  return 0;
}
