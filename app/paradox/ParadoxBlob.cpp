#include "app/paradox/ParadoxBlob.h"

#include <fstream>
#include <sstream>
#include <utility>

#include "app/paradox/ParadoxCrypt.h"
#include "app/paradox/ParadoxError.h"
#include "engine/base/VLTTypes.h"

namespace vlt::app {

TParadoxBlobFile::TParadoxBlobFile(const std::string& Path, uint32_t Key) : FPath(Path) {
  std::ifstream F(Path, std::ios::binary);
  if (!F) throw EParadoxError("Cannot open BLOB file \"" + Path + "\".");
  std::stringstream S;
  S << F.rdbuf();
  FData = S.str();
  Decrypt(Key);
}

TParadoxBlobFile TParadoxBlobFile::FromBytes(std::string Bytes, const std::string& Name,
                                             uint32_t Key) {
  TParadoxBlobFile F;
  F.FPath = Name;
  F.FData = std::move(Bytes);
  F.Decrypt(Key);
  return F;
}

void TParadoxBlobFile::Decrypt(uint32_t Key) {
  if (Key == 0) return;
  FDecrypted = FData;
  DecryptParadoxBlobData(reinterpret_cast<uint8_t*>(FDecrypted.data()), FDecrypted.size(), Key);
}

std::string TParadoxBlobFile::Read(uint32_t Offset, uint32_t Length,
                                   const std::string& FieldName) const {
  if (FDecrypted.empty()) return ReadFrom(FData, Offset, Length, FieldName);
  try {
    return ReadFrom(FDecrypted, Offset, Length, FieldName);
  } catch (const EParadoxError&) {
    return ReadFrom(FData, Offset, Length, FieldName);
  }
}

std::string TParadoxBlobFile::ReadFrom(const std::string& Data, uint32_t Offset, uint32_t Length,
                                       const std::string& FieldName) const {
  auto Bad = [&](const char* What) -> std::string {
    throw EParadoxError("Field \"" + FieldName + "\": BLOB file \"" + FPath + "\" is damaged (" +
                        What + ").");
  };
  const uint64_t Block = Offset & ~0xFFu;
  const uint32_t Slot = Offset & 0xFFu;
  const uint8_t* D = reinterpret_cast<const uint8_t*>(Data.data());
  if (Block + 12 > Data.size()) return Bad("pointer outside the file");
  if (Slot == 0xFF) {
    if (D[Block] != 2) return Bad("not a single-value block");
    uint32_t Len = LoadLE<uint32_t>(D + Block + 3);
    if (Len != Length) return Bad("length mismatch");
    if (Block + 9 + static_cast<uint64_t>(Len) > Data.size())
      return Bad("value past the end of the file");
    return Data.substr(Block + 9, Len);
  }
  if (D[Block] != 3) return Bad("not a shared block");
  uint64_t Entry = Block + 12 + 5ull * Slot;
  if (Entry + 5 > Data.size()) return Bad("slot outside the file");
  uint64_t Start = Block + 16ull * D[Entry];
  uint64_t Units = D[Entry + 1];
  if (Units == 0 || Length > Units * 16) return Bad("length mismatch");
  if (Start + Length > Data.size() || Start < Block + 12) return Bad("value outside the file");
  return Data.substr(Start, Length);
}

}  // namespace vlt::app
