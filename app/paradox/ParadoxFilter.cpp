#include "app/paradox/ParadoxFilter.h"

#include <charconv>
#include <cstring>

#include "app/paradox/ParadoxError.h"
#include "app/paradox/ParadoxValue.h"
#include "engine/base/VLTTypes.h"

namespace vlt::app {

namespace {

bool IsNumericKind(TParadoxFieldKind K) {
  return K == pxfShort || K == pxfLong || K == pxfAutoInc || K == pxfNumber || K == pxfMoney ||
         K == pxfBCD;
}

}  // namespace

TParadoxFilter TParadoxFilter::Parse(std::string_view Text,
                                     const std::vector<TParadoxFieldDesc>& Fields,
                                     const TParadoxCodePage& CP) {
  TParadoxFilter F;
  size_t P = 0;
  auto Fail = [&](const std::string& What) -> void {
    throw EParadoxError("Invalid filter \"" + std::string(Text) + "\": " + What + ".");
  };
  auto SkipBlanks = [&] {
    while (P < Text.size() && (Text[P] == ' ' || Text[P] == '\t')) ++P;
  };
  while (true) {
    SkipBlanks();
    size_t Start = P;
    while (P < Text.size() && (std::isalnum(static_cast<unsigned char>(Text[P])) || Text[P] == '_'))
      ++P;
    if (P == Start) Fail("a field name is expected at position " + std::to_string(Start + 1));
    std::string Name(Text.substr(Start, P - Start));
    TCond C;
    C.Field = -1;
    for (size_t I = 0; I < Fields.size(); ++I)
      if (SameText(CP.ToWin1252(Fields[I].Name), Name)) {
        C.Field = static_cast<int>(I);
        break;
      }
    if (C.Field < 0) Fail("field '" + Name + "' not found");
    SkipBlanks();
    if (P >= Text.size() || (Text[P] != '=' && Text[P] != '<' && Text[P] != '>'))
      Fail("'=', '<' or '>' expected after " + Name);
    C.Op = Text[P++];
    SkipBlanks();
    const TParadoxFieldKind Kind = Fields[static_cast<size_t>(C.Field)].Kind;
    if (P < Text.size() && Text[P] == '\'') {
      ++P;
      std::string S;
      while (true) {
        if (P >= Text.size()) Fail("unterminated string");
        if (Text[P] == '\'') {
          if (P + 1 < Text.size() && Text[P + 1] == '\'') {
            S += '\'';
            P += 2;
            continue;
          }
          ++P;
          break;
        }
        S += Text[P++];
      }
      if (Kind != pxfAlpha) Fail("field '" + Name + "' is not a text field");
      C.IsString = true;
      C.Text = CP.FromWin1252(S);
    } else {
      size_t NumStart = P;
      if (P < Text.size() && (Text[P] == '-' || Text[P] == '+')) ++P;
      while (P < Text.size() &&
             (std::isdigit(static_cast<unsigned char>(Text[P])) || Text[P] == '.'))
        ++P;
      std::string N(Text.substr(NumStart, P - NumStart));
      if (!N.empty() && N[0] == '+') N.erase(0, 1);
      auto R = std::from_chars(N.data(), N.data() + N.size(), C.Number);
      if (N.empty() || R.ec != std::errc() || R.ptr != N.data() + N.size())
        Fail("a number or a quoted string is expected after " + Name + C.Op);
      if (!IsNumericKind(Kind)) Fail("field '" + Name + "' is not a number field");
    }
    F.FConds.push_back(C);
    SkipBlanks();
    if (P >= Text.size()) break;
    if (Text.size() - P >= 4 && SameText(Text.substr(P, 3), "and") &&
        (Text[P + 3] == ' ' || Text[P + 3] == '\t')) {
      P += 3;
      continue;
    }
    Fail("unexpected text at position " + std::to_string(P + 1));
  }
  return F;
}

bool TParadoxFilter::Matches(const uint8_t* Rec, const std::vector<TParadoxFieldDesc>& Fields,
                             const TParadoxCodePage& CP) const {
  for (const TCond& C : FConds) {
    const TParadoxFieldDesc& D = Fields[static_cast<size_t>(C.Field)];
    int Cmp;
    if (C.IsString) {
      const char* P = reinterpret_cast<const char*>(Rec + D.Offset);
      std::string_view S(P, strnlen(P, static_cast<size_t>(D.Width)));
      Cmp = S.compare(C.Text);
    } else {
      if (FieldIsNull(D, Rec)) return false;
      TParadoxValue V = DecodeField(D, Rec, CP, TTextForm::Raw, nullptr, {});
      double X = V.Kind == TParadoxValue::vkInteger ? static_cast<double>(V.Int) : V.Float;
      Cmp = X < C.Number ? -1 : X > C.Number ? 1 : 0;
    }
    bool Ok = C.Op == '=' ? Cmp == 0 : C.Op == '<' ? Cmp < 0 : Cmp > 0;
    if (!Ok) return false;
  }
  return true;
}

}  // namespace vlt::app
