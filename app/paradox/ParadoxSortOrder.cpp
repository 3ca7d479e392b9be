#include "app/paradox/ParadoxSortOrder.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "engine/base/VLTTypes.h"

namespace vlt::app {

namespace {

// Accent ranks: unaccented first.
enum : uint8_t {
  acNone,
  acAcute,
  acGrave,
  acCircumflex,
  acTilde,
  acDiaeresis,
  acRing,
  acCedilla,
  acStroke,
  acOther,
  acLigature
};

// What a Latin character is made of: its base letter (or two for a ligature) and its accent.
struct TLetter {
  char Base[3] = {0, 0, 0};
  uint8_t Accent = acNone;
  bool Upper = false;
};

// The letters of U+00C0 to U+00FF (upper case half; the lower case half is 0x20 above it):
// base letter(s) and accent, "" for the two signs (multiplication, division).
struct TLatin1Entry {
  const char* Base;
  uint8_t Accent;
};
constexpr TLatin1Entry kLatin1[32] = {
    {"a", acGrave},      {"a", acAcute}, {"a", acCircumflex}, {"a", acTilde},
    {"a", acDiaeresis},  {"a", acRing},  {"ae", acLigature},  {"c", acCedilla},
    {"e", acGrave},      {"e", acAcute}, {"e", acCircumflex}, {"e", acDiaeresis},
    {"i", acGrave},      {"i", acAcute}, {"i", acCircumflex}, {"i", acDiaeresis},
    {"d", acStroke},     {"n", acTilde}, {"o", acGrave},      {"o", acAcute},
    {"o", acCircumflex}, {"o", acTilde}, {"o", acDiaeresis},  {"", acNone},
    {"o", acStroke},     {"u", acGrave}, {"u", acAcute},      {"u", acCircumflex},
    {"u", acDiaeresis},  {"y", acAcute}, {"th", acLigature},  {"ss", acLigature},
};

bool LetterOf(uint32_t U, TLetter& L) {
  L = TLetter();
  auto Set = [&](const char* Base, uint8_t Accent, bool Upper) {
    // Up to two letters, not terminated when both are used.
    L.Base[0] = Base[0];
    L.Base[1] = Base[0] ? Base[1] : '\0';
    L.Accent = Accent;
    L.Upper = Upper;
    return true;
  };
  if (U >= 'A' && U <= 'Z')
    return Set(std::string(1, static_cast<char>(U - 'A' + 'a')).c_str(), acNone, true);
  if (U >= 'a' && U <= 'z') return Set(std::string(1, static_cast<char>(U)).c_str(), acNone, false);
  if (U >= 0xC0 && U <= 0xFF) {
    if (U == 0xFF) return Set("y", acDiaeresis, false);
    const bool Upper = U < 0xE0 && U != 0xDF;
    const TLatin1Entry& E = kLatin1[(U - 0xC0) & 0x1F];
    if (!*E.Base) return false;
    return Set(E.Base, E.Accent, Upper);
  }
  switch (U) {
    case 0x152:
      return Set("oe", acLigature, true);
    case 0x153:
      return Set("oe", acLigature, false);
    case 0x160:
      return Set("s", acOther, true);
    case 0x161:
      return Set("s", acOther, false);
    case 0x17D:
      return Set("z", acOther, true);
    case 0x17E:
      return Set("z", acOther, false);
    case 0x178:
      return Set("y", acDiaeresis, true);
    case 0x192:
      return Set("f", acOther, false);
    default:
      return false;
  }
}

constexpr uint32_t kLetters = 0x10000;
uint32_t LetterWeight(char Base) {
  return kLetters + static_cast<uint32_t>(Base - 'a') * 8;
}
// The k-th letter after z (k from 1).
uint32_t AfterZ(int K) {
  return LetterWeight('z') + static_cast<uint32_t>(K) * 8;
}

// The code point of one byte of the code page, or UINT32_MAX when it has none of its own.
uint32_t CodePointOf(const TParadoxCodePage& CP, uint8_t B) {
  std::string U = CP.ToUtf8(std::string(1, static_cast<char>(B)));
  const auto* P = reinterpret_cast<const uint8_t*>(U.data());
  if (U.size() == 1) return (U[0] == '?' && B != '?') ? UINT32_MAX : P[0];
  if (U.size() == 2 && (P[0] & 0xE0) == 0xC0) return ((P[0] & 0x1Fu) << 6) | (P[1] & 0x3Fu);
  if (U.size() == 3 && (P[0] & 0xF0) == 0xE0)
    return ((P[0] & 0x0Fu) << 12) | ((P[1] & 0x3Fu) << 6) | (P[2] & 0x3Fu);
  return UINT32_MAX;
}

size_t ValueLength(const uint8_t* P, size_t Size) {
  const void* Nul = std::memchr(P, 0, Size);
  return Nul ? static_cast<size_t>(static_cast<const uint8_t*>(Nul) - P) : Size;
}

}  // namespace

TParadoxCollation CollationOf(uint8_t Id, const std::string& Name) {
  struct TName {
    const char* Name;
    TParadoxCollation C;
  };
  static const TName kNames[] = {
      {"ascii", TParadoxCollation::Ascii},
      {"intl", TParadoxCollation::International},
      {"intl850", TParadoxCollation::International},
      {"ansiintl", TParadoxCollation::International},
      {"ansii850", TParadoxCollation::International},
      {"nordan", TParadoxCollation::NorDan},
      {"nordan40", TParadoxCollation::NorDan},
      {"ansinor4", TParadoxCollation::NorDan},
      {"swedfin", TParadoxCollation::SwedFin},
      {"ansiswfn", TParadoxCollation::SwedFin},
      {"spanish", TParadoxCollation::Spanish},
      {"ansispan", TParadoxCollation::Spanish},
  };
  if (!Name.empty()) {
    for (const TName& N : kNames)
      if (SameText(Name, N.Name)) return N.C;
    return TParadoxCollation::Unknown;
  }
  switch (Id) {
    case 0x00:
      return TParadoxCollation::Ascii;
    case 0xB7:
      return TParadoxCollation::International;
    case 0x82:
    case 0xE6:
      return TParadoxCollation::NorDan;
    case 0xF0:
      return TParadoxCollation::SwedFin;
    case 0x5D:
      return TParadoxCollation::Spanish;
    default:
      return TParadoxCollation::Unknown;
  }
}

const char* CollationText(TParadoxCollation C) {
  switch (C) {
    case TParadoxCollation::Ascii:
      return "ascii";
    case TParadoxCollation::International:
      return "international";
    case TParadoxCollation::NorDan:
      return "Norwegian/Danish";
    case TParadoxCollation::SwedFin:
      return "Swedish/Finnish";
    case TParadoxCollation::Spanish:
      return "Spanish";
    case TParadoxCollation::Unknown:
      break;
  }
  return "unknown";
}

std::string SortOrderText(uint8_t Id, const std::string& Name) {
  std::string S;
  for (char C : Name) S += (C >= 0x20 && C < 0x7F) ? C : '?';
  if (!S.empty()) return S;
  char B[16];
  std::snprintf(B, sizeof B, "id 0x%02x", Id);
  return B;
}

TParadoxAlphaOrder::TParadoxAlphaOrder(TParadoxCollation C, const TParadoxCodePage& CP)
    : FCollation(C) {
  if (C == TParadoxCollation::Ascii || C == TParadoxCollation::Unknown) return;
  for (unsigned B = 1; B < 256; ++B) {
    TWeights& W = FWeights[B];
    const uint32_t U = B < 0x80 ? B : CodePointOf(CP, static_cast<uint8_t>(B));
    TLetter L;
    if (U == UINT32_MAX) {
      W.Primary[0] = 0x8000 + B;  // a byte of its own: after the other signs, before letters
      continue;
    }
    if (!LetterOf(U, L)) {
      W.Primary[0] = U < 0x8000 ? U : 0x7FFF;
      continue;
    }
    W.Upper = L.Upper;
    W.Accent = L.Accent;
    W.Primary[0] = LetterWeight(L.Base[0]);
    if (L.Base[1]) {
      W.Primary[1] = LetterWeight(L.Base[1]);
      W.Count = 2;
    }
    // The letters a sort order places elsewhere; a letter it treats as another one keeps an
    // accent rank of its own, so that the two still come in a fixed order.
    auto Own = [&](uint32_t Weight, uint8_t Accent) {
      W.Primary[0] = Weight;
      W.Count = 1;
      W.Accent = Accent;
    };
    const bool Ae = L.Base[0] == 'a' && L.Base[1] == 'e';
    const bool ARing = L.Base[0] == 'a' && L.Accent == acRing;
    const bool ADia = L.Base[0] == 'a' && L.Accent == acDiaeresis;
    const bool OStroke = L.Base[0] == 'o' && L.Accent == acStroke;
    const bool ODia = L.Base[0] == 'o' && L.Accent == acDiaeresis;
    switch (C) {
      case TParadoxCollation::NorDan:
        if (Ae) Own(AfterZ(1), 0);
        if (ADia) Own(AfterZ(1), 1);
        if (OStroke) Own(AfterZ(2), 0);
        if (ODia) Own(AfterZ(2), 1);
        if (ARing) Own(AfterZ(3), 0);
        break;
      case TParadoxCollation::SwedFin:
        if (ARing) Own(AfterZ(1), 0);
        if (ADia) Own(AfterZ(2), 0);
        if (Ae) Own(AfterZ(2), 1);
        if (ODia) Own(AfterZ(3), 0);
        if (OStroke) Own(AfterZ(3), 1);
        break;
      case TParadoxCollation::Spanish:
        if (L.Base[0] == 'n' && L.Accent == acTilde) Own(LetterWeight('n') + 4, 0);
        break;
      default:
        break;
    }
  }
}

int TParadoxAlphaOrder::Compare(const uint8_t* A, size_t SizeA, const uint8_t* B,
                                size_t SizeB) const {
  const size_t La = ValueLength(A, SizeA), Lb = ValueLength(B, SizeB);
  if (FCollation == TParadoxCollation::Ascii || FCollation == TParadoxCollation::Unknown) {
    int C = std::memcmp(A, B, std::min(La, Lb));
    return C ? C : (La < Lb ? -1 : (La > Lb ? 1 : 0));
  }
  // Level 1: the letters (ligatures expanded).
  size_t Ia = 0, Ib = 0, Ja = 0, Jb = 0;  // byte, and weight inside the byte
  while (Ia < La && Ib < Lb) {
    const TWeights& Wa = FWeights[A[Ia]];
    const TWeights& Wb = FWeights[B[Ib]];
    const uint32_t Pa = Wa.Primary[Ja], Pb = Wb.Primary[Jb];
    if (Pa != Pb) return Pa < Pb ? -1 : 1;
    if (++Ja == Wa.Count) Ja = 0, ++Ia;
    if (++Jb == Wb.Count) Jb = 0, ++Ib;
  }
  if (Ia < La || Ib < Lb) return Ia < La ? 1 : -1;
  // Level 2: accents; level 3: case, lower case first. Both texts have the same letters here,
  // but not necessarily the same length (a ligature against its two letters).
  for (int Level = 2; Level <= 3; ++Level) {
    for (size_t I = 0; I < La && I < Lb; ++I) {
      const TWeights& Wa = FWeights[A[I]];
      const TWeights& Wb = FWeights[B[I]];
      const int Va = Level == 2 ? Wa.Accent : Wa.Upper, Vb = Level == 2 ? Wb.Accent : Wb.Upper;
      if (Va != Vb) return Va < Vb ? -1 : 1;
    }
    if (La != Lb) return La < Lb ? 1 : -1;  // the ligature (fewer bytes) after its letters
  }
  return std::memcmp(A, B, La);
}

}  // namespace vlt::app
