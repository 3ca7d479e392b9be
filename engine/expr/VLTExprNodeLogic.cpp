#include "engine/expr/VLTExprNodeLogic.h"

#include <cstring>

#include "engine/base/VLTExcept.h"
#include "engine/expr/VLTLocale.h"

namespace vlt {

// ---- comparison ----
//
//   OPERATOR  TRUE WHEN (cmp: 0 equal, 1 less, 2 greater, 3 to 5 nulls)
//   doEQ      cmp = 0
//   doNE      three-valued: cmp is 1 or 2; otherwise cmp is not 0
//   doGT      cmp = 2
//   doLT      cmp = 1
//   doGE      cmp is 0 or 2
//   doLE      cmp is 0 or 1
//
// With three-valued logic a null operand makes every operator false; without it a null sorts
// below every value and equals another null.

namespace {

// A date or time field compares with a text constant in the field's type: the text is converted
// once here instead of for every record. A text that is no date stays as it is (and raises when
// evaluated, as it would have).
void PrepareDateConstant(TVLTExprNode* FieldSide, TVLTExprNode* ConstSide) {
  auto* F = dynamic_cast<TVLTExprNodeField*>(FieldSide);
  auto* C = dynamic_cast<TVLTExprNodeConst*>(ConstSide);
  if (!F || !C || !F->IsBound() || !IsDateTimeBaseType(F->FBaseFieldType)) return;
  if (C->Value.IsNullOrEmpty() || !C->Value.IsStringDataType()) return;
  if (VLTCommonType(F->FBaseFieldType, C->Value.DataType(), false) != F->FBaseFieldType) return;
  try {
    TVLTVariant V(C->Value);
    V.Cast(F->FBaseFieldType);
    if (!V.IsNull()) C->Value = V;
  } catch (const EVLTException&) {
  }
}

}  // namespace

void TVLTExprNodeComparison::BindToCursor() {
  TVLTExprNode::BindToCursor();
  if (Children.size() != 2) return;
  for (int Side = 0; Side < 2; ++Side) {
    auto* F = dynamic_cast<TVLTExprNodeField*>(Child(static_cast<size_t>(Side)));
    auto* C = dynamic_cast<TVLTExprNodeConst*>(Child(static_cast<size_t>(1 - Side)));
    if (F && C && F->IsBound() && IsAnsiStringBaseType(F->FBaseFieldType) &&
        C->Value.IsWideStringDataType())
      C->Value.Cast(bftVarchar);
    PrepareDateConstant(Child(static_cast<size_t>(Side)), Child(static_cast<size_t>(1 - Side)));
  }
}

void TVLTExprNodeBoolean::BindToCursor() {
  TVLTExprNode::BindToCursor();
  // The bounds of BETWEEN and the list of IN against a date field.
  if ((Operator == doBETWEEN || Operator == doNOTBETWEEN || Operator == doIN ||
       Operator == doNOTIN) &&
      !Children.empty())
    for (size_t I = 1; I < Children.size(); ++I) PrepareDateConstant(Child(0), Child(I));
}

TVLTVariant& TVLTExprNodeComparison::GetDataValue() {
  if (Children.size() != 2) RaiseUnknownOperator(30117);
  const TVLTVariant& L = Children[0]->GetDataValue();
  const TVLTVariant& R = Children[1]->GetDataValue();
  const TVLTCompareResult C = L.Compare(R, F3ValueLogic, FCaseInsensitive, FPartialKey);
  bool Result = false;
  switch (Operator) {
    case doEQ:
      Result = C == vcrEqual;
      break;
    case doNE:
      Result = F3ValueLogic ? (C == vcrLess || C == vcrGreater) : C != vcrEqual;
      break;
    case doGT:
      Result = C == vcrGreater;
      break;
    case doLT:
      Result = C == vcrLess;
      break;
    case doGE:
      Result = C == vcrEqual || C == vcrGreater;
      break;
    case doLE:
      Result = C == vcrEqual || C == vcrLess;
      break;
    default:
      RaiseUnknownOperator(30117);
  }
  Value.SetAsBoolean(Result);
  return Value;
}

// ---- boolean ----

TVLTVariant& TVLTExprNodeBoolean::SetResult(bool Result) {
  if (Value.DataType() != bftLogical) Value.Clear(bftLogical);
  Value.SetAsBoolean(Result);
  return Value;
}

TVLTVariant& TVLTExprNodeBoolean::SetUnknown() {
  Value.Clear(bftLogical);
  return Value;
}

TVLTVariant& TVLTExprNodeBoolean::GetDataValue() {
  switch (Operator) {
    case doNOT: {
      if (Children.size() != 1) break;
      const TVLTVariant& V = Children[0]->GetDataValue();
      if (V.IsNullOrEmpty()) return SetUnknown();
      return SetResult(!V.AsBoolean());
    }
    case doAND: {
      bool Unknown = false;
      for (auto& C : Children) {
        if (C->FExtracted) continue;
        const TVLTVariant& V = C->GetDataValue();
        if (V.IsNullOrEmpty()) {
          Unknown = true;
        } else if (!V.AsBoolean()) {
          return SetResult(false);
        }
      }
      return Unknown ? SetUnknown() : SetResult(true);
    }
    case doOR: {
      bool Unknown = false;
      for (auto& C : Children) {
        const TVLTVariant& V = C->GetDataValue();
        if (V.IsNullOrEmpty()) {
          Unknown = true;
        } else if (V.AsBoolean()) {
          return SetResult(true);
        }
      }
      return Unknown ? SetUnknown() : SetResult(false);
    }
    case doIN:
    case doNOTIN: {
      if (Children.empty()) break;
      const TVLTVariant& V = Children[0]->GetDataValue();
      if (V.IsNullOrEmpty()) return SetUnknown();
      // The tested value may be overwritten while the list is evaluated (the same field twice).
      TempVal = V;
      bool Found = false;
      for (size_t I = 1; I < Children.size() && !Found; ++I)
        Found = TempVal.Compare(Children[I]->GetDataValue(), true, true, false) == vcrEqual;
      return SetResult(Operator == doIN ? Found : !Found);
    }
    case doBETWEEN:
    case doNOTBETWEEN: {
      if (Children.size() != 3) break;
      TempVal = Children[0]->GetDataValue();
      if (TempVal.IsNullOrEmpty()) return SetUnknown();
      const TVLTVariant& Low = Children[1]->GetDataValue();
      if (Low.IsNullOrEmpty()) return SetUnknown();
      const TVLTCompareResult C1 = TempVal.Compare(Low, true, true, false);
      const TVLTVariant& High = Children[2]->GetDataValue();
      if (High.IsNullOrEmpty()) return SetUnknown();
      const TVLTCompareResult C2 = TempVal.Compare(High, true, true, false);
      const bool In = (C1 == vcrEqual || C1 == vcrGreater) && (C2 == vcrEqual || C2 == vcrLess);
      return SetResult(Operator == doBETWEEN ? In : !In);
    }
    case doLIKE:
    case doNOTLIKE:
      if (Children.size() != 2) break;
      return EvaluateLike();
    case doISNULL:
    case doISNOTNULL: {
      if (Children.size() != 1) break;
      const bool Null = Children[0]->GetDataValue().IsNullOrEmpty();
      return SetResult(Operator == doISNULL ? Null : !Null);
    }
    default:
      break;
  }
  RaiseUnknownOperator(30116);
}

namespace {

// Text of a value as UTF-16 units; 8-bit text through Windows-1252.
std::u16string WideTextOf(const TVLTVariant& V) {
  std::u16string Out;
  if (V.IsNull()) return Out;
  if (V.IsWideStringDataType() || V.DataType() == bftWideClob) {
    size_t N = 0;
    const uint8_t* P = V.WideUnits(N);
    Out.resize(N);
    if (N) std::memcpy(Out.data(), P, N * 2);  // record buffers may hold it misaligned
    return Out;
  }
  std::string_view S = V.AnsiView();
  Out.reserve(S.size());
  for (char C : S) Out.push_back(Win1252ToUnicode(static_cast<uint8_t>(C)));
  return Out;
}

template <typename TChar, typename TMap>
bool LikeMatchT(std::basic_string_view<TChar> T, std::basic_string_view<TChar> P, TChar Escape,
                bool CaseInsensitive, TMap Map) {
  const TVLTLocale& Locale = TVLTLocale::Instance();
  auto Equal = [&](TChar A, TChar B) {
    return A == B || Locale.CompareChar(Map(A), Map(B), CaseInsensitive) == 0;
  };
  constexpr size_t kNone = static_cast<size_t>(-1);
  size_t Ti = 0, Pi = 0, StarP = kNone, StarT = 0;
  // Greedy matching that goes back to the last "%" on a mismatch: every "%" before it has
  // matched as little as possible, so no other choice needs to be revisited.
  while (Ti < T.size()) {
    if (Pi < P.size() && P[Pi] == TChar('%')) {
      StarP = ++Pi;
      StarT = Ti;
      continue;
    }
    if (Pi < P.size()) {
      size_t Q = Pi;
      bool Literal = false;
      if (Escape != TChar(0) && P[Q] == Escape && Q + 1 < P.size()) {
        ++Q;
        Literal = true;
      }
      if ((!Literal && P[Q] == TChar('_')) || Equal(P[Q], T[Ti])) {
        ++Ti;
        Pi = Q + 1;
        continue;
      }
    }
    if (StarP == kNone) return false;
    Pi = StarP;
    Ti = ++StarT;
  }
  while (Pi < P.size() && P[Pi] == TChar('%')) ++Pi;
  return Pi == P.size();
}

}  // namespace

bool VLTLikeMatch(std::u16string_view Text, std::u16string_view Pattern, char16_t Escape,
                  bool CaseInsensitive) {
  return LikeMatchT<char16_t>(Text, Pattern, Escape, CaseInsensitive, [](char16_t C) { return C; });
}

TVLTVariant& TVLTExprNodeBoolean::EvaluateLike() {
  const TVLTVariant& Pattern = Children[1]->GetDataValue();
  if (Pattern.IsNullOrEmpty()) {
    // A null pattern gives unknown; evaluate the text anyway so that its errors show.
    Children[0]->GetDataValue();
    return SetUnknown();
  }
  TVLTVariant P;
  P.Assign(Pattern, false);
  const TVLTVariant& Text = Children[0]->GetDataValue();
  TVLTVariant T;
  if (Text.IsNullOrEmpty())
    T.Clear(P.DataType());  // a null text is an empty text of the pattern's type
  else
    T.Assign(Text, false);
  const TVLTBaseFieldType TT = T.IsNull() ? P.DataType() : T.DataType();
  TVLTBaseFieldType Common = VLTCommonType(TT, P.DataType(), true);
  if (TT == bftClob && IsStringBaseType(P.DataType())) Common = P.DataType();
  if (TT == bftWideClob && IsStringBaseType(P.DataType())) Common = bftWideVarchar;
  if (!IsStringBaseType(Common))
    throw EVLTException(30120, "Non-string argument in function '%s'", {std::string("LIKE")});
  bool Match = false;
  if (IsWideStringBaseType(Common) || T.DataType() == bftWideClob) {
    if (!T.IsNull() && !T.IsWideStringDataType() && T.DataType() != bftWideClob &&
        !T.IsStringDataType() && T.DataType() != bftClob)
      T.Cast(Common);
    if (!P.IsStringDataType()) P.Cast(Common);
    const std::u16string TW = WideTextOf(T), PW = WideTextOf(P);
    const std::u16string EW = EscapeStr.empty() ? std::u16string() : AnsiToWide(EscapeStr);
    Match = VLTLikeMatch(TW, PW, EW.empty() ? u'\0' : EW[0], FCaseInsensitive);
  } else {
    if (!T.IsNull() && !IsAnsiStringBaseType(T.DataType()) && T.DataType() != bftClob)
      T.Cast(Common);
    if (!IsAnsiStringBaseType(P.DataType())) P.Cast(Common);
    const char E = EscapeStr.empty() ? '\0' : EscapeStr[0];
    Match = LikeMatchT<char>(T.AnsiView(), P.AnsiView(), E, FCaseInsensitive,
                             [](char C) { return Win1252ToUnicode(static_cast<uint8_t>(C)); });
  }
  return SetResult(Operator == doLIKE ? Match : !Match);
}

}  // namespace vlt
