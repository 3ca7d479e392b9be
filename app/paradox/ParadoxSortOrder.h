// The sort orders of Paradox tables: the order of alpha fields in keys and index orders.
//
// A data file names its sort order at the end of its header ("ascii", "intl", "nordan",
// "swedfin", "spanish" and their ANSI variants) and keeps an id byte at 0x29. Supported:
//   ascii          the bytes of the table's code page
//   international  letters alphabetically without regard to accents or case; then accents
//                  (unaccented first); then case (lower case first); ligatures count as two
//                  letters (æ = ae, ß = ss, œ = oe, þ = th)
//   Norwegian/Danish   as international, but æ (and ä), ø (and ö), å follow z in that order
//   Swedish/Finnish    as international, but å, ä (and æ), ö (and ø) follow z in that order
//   Spanish        as international, but ñ is a letter of its own after n
// Texts that differ only in bytes the order treats alike (a byte not of a letter, say) come in
// byte order last, so two texts compare equal only when their bytes are equal: a sort order
// never makes two keys the same.
//
// Any other sort order is unknown: its tables are read (alpha keys then compare by bytes), but
// writing a key into one is refused, since the order of its keys cannot be kept.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

#include "app/paradox/ParadoxCodePage.h"

namespace vlt::app {

enum class TParadoxCollation : uint8_t { Ascii, International, NorDan, SwedFin, Spanish, Unknown };

// The sort order of a header: by Name when it is a known one, else by the id byte; an empty
// name and id 0 are ascii.
TParadoxCollation CollationOf(uint8_t Id, const std::string& Name);
const char* CollationText(TParadoxCollation C);
// A printable name of the header's sort order, for messages ("intl", "id 0x4c").
std::string SortOrderText(uint8_t Id, const std::string& Name);

// Compares alpha values (bytes in the table's code page) under one sort order.
class TParadoxAlphaOrder {
 public:
  TParadoxAlphaOrder(TParadoxCollation C, const TParadoxCodePage& CP);
  TParadoxCollation Collation() const { return FCollation; }
  // <0, 0, >0. The values end at their first NUL byte or after Size bytes.
  int Compare(const uint8_t* A, size_t SizeA, const uint8_t* B, size_t SizeB) const;

 private:
  struct TWeights {
    uint32_t Primary[2] = {0, 0};  // a ligature has two
    uint8_t Count = 1;
    uint8_t Accent = 0;
    uint8_t Upper = 0;
  };
  TParadoxCollation FCollation;
  std::array<TWeights, 256> FWeights;
};

}  // namespace vlt::app
