// Feeds arbitrary bytes to the Paradox reader: header, field descriptors, block chain, field
// values; the same bytes as an encrypted table (the encryption marker and a checksum set in the
// header, so that every block goes through the decryption) and as a primary index, plain and
// encrypted; and the first bytes, as text, to the filter parser. Any input must end in a result
// or an EParadoxError, and scrambling a block must always be undone by unscrambling it.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "app/paradox/ParadoxCrypt.h"
#include "app/paradox/ParadoxError.h"
#include "app/paradox/ParadoxFile.h"
#include "app/paradox/ParadoxFilter.h"
#include "app/paradox/ParadoxIndexFile.h"
#include "app/paradox/ParadoxSortOrder.h"
#include "app/paradox/ParadoxValue.h"
#include "engine/base/VLTTypes.h"

namespace {

using namespace vlt::app;

void ReadTable(const std::string& Bytes) {
  try {
    TParadoxFileImage Img = ParseParadoxFile(Bytes, "fuzz.db");
    TParadoxCodePage CP(Img.Header.CodePage);
    TParadoxAlphaOrder Order(CollationOf(Img.Header.SortOrder, Img.Header.SortOrderName), CP);
    for (const std::string& R : Img.Records)
      for (const TParadoxFieldDesc& F : Img.Header.Fields) {
        (void)ValueToText(DecodeField(F, reinterpret_cast<const uint8_t*>(R.data()), CP,
                                      TTextForm::Utf8, nullptr, "fuzz.db"));
        if (F.Kind == pxfAlpha)
          (void)Order.Compare(reinterpret_cast<const uint8_t*>(R.data()) + F.Offset,
                              static_cast<size_t>(F.Width),
                              reinterpret_cast<const uint8_t*>(Img.Records[0].data()) + F.Offset,
                              static_cast<size_t>(F.Width));
      }
    std::string Text = Bytes.substr(0, 64);
    if (!Img.Records.empty())
      (void)TParadoxFilter::Parse(Text, Img.Header.Fields, CP)
          .Matches(reinterpret_cast<const uint8_t*>(Img.Records[0].data()), Img.Header.Fields, CP);
  } catch (const EParadoxError&) {
  }
}

void ReadIndex(const std::string& Bytes) {
  try {
    TParadoxHeader H =
        ParseParadoxHeader(reinterpret_cast<const uint8_t*>(Bytes.data()), Bytes.size(), "fuzz.px");
    (void)ParseParadoxIndex(Bytes, "fuzz.px", H.Fields);
  } catch (const EParadoxError&) {
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  std::string Bytes(reinterpret_cast<const char*>(Data), Size);
  ReadTable(Bytes);
  ReadIndex(Bytes);
  if (Size >= 0x60) {
    // The checksum comes from the input itself, so that every key can be reached.
    const uint32_t Key = vlt::LoadLE<uint32_t>(Data + 0x5C) | 1u;
    std::string Encrypted = Bytes;
    auto* E = reinterpret_cast<uint8_t*>(Encrypted.data());
    vlt::StoreLE<uint32_t>(E + 0x25, kPxEncryptionMoved);
    vlt::StoreLE<uint32_t>(E + 0x5C, Key);
    ReadTable(Encrypted);
    vlt::StoreLE<uint32_t>(E + 0x25, Key);  // an index keeps its checksum at 0x25
    ReadIndex(Encrypted);
  }
  // Scrambling is undone exactly, for any bytes, key and block number.
  if (Size >= 6) {
    const uint32_t Key = vlt::LoadLE<uint32_t>(Data);
    const uint32_t Block = vlt::LoadLE<uint16_t>(Data + 4);
    std::string Piece = Bytes.substr(6);
    Piece.resize((Piece.size() + kPxCryptPiece - 1) / kPxCryptPiece * kPxCryptPiece, '\0');
    std::string Work = Piece;
    EncryptParadoxBlock(reinterpret_cast<uint8_t*>(Work.data()), Work.size(), Key, Block);
    DecryptParadoxBlock(reinterpret_cast<uint8_t*>(Work.data()), Work.size(), Key, Block);
    if (Work != Piece) std::abort();
    EncryptParadoxBlobData(reinterpret_cast<uint8_t*>(Work.data()), Work.size(), Key);
    DecryptParadoxBlobData(reinterpret_cast<uint8_t*>(Work.data()), Work.size(), Key);
    if (Work != Piece) std::abort();
  }
  return 0;
}
