// Feeds arbitrary bytes to the Paradox reader: header, field descriptors, block chain, field
// values; and the first bytes, as text, to the filter parser. Any input must end in a result or
// an EParadoxError.
#include <cstddef>
#include <cstdint>
#include <string>

#include "app/ParadoxError.h"
#include "app/ParadoxFile.h"
#include "app/ParadoxFilter.h"
#include "app/ParadoxValue.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  using namespace vlt::app;
  std::string Bytes(reinterpret_cast<const char*>(Data), Size);
  try {
    TParadoxFileImage Img = ParseParadoxFile(Bytes, "fuzz.db");
    TParadoxCodePage CP(Img.Header.CodePage);
    for (const std::string& R : Img.Records)
      for (const TParadoxFieldDesc& F : Img.Header.Fields)
        (void)ValueToText(DecodeField(F, reinterpret_cast<const uint8_t*>(R.data()), CP, TTextForm::Utf8, nullptr, "fuzz.db"));
    std::string Text = Bytes.substr(0, 64);
    if (!Img.Records.empty())
      (void)TParadoxFilter::Parse(Text, Img.Header.Fields, CP).Matches(reinterpret_cast<const uint8_t*>(Img.Records[0].data()),
                                                                       Img.Header.Fields, CP);
  } catch (const EParadoxError&) {
  }
  return 0;
}
