// Any filter text must either tokenize or fail with the engine's exception; the tokens must
// describe the text (positions inside it, parameters bound). Number and date text found in the
// tokens also goes through the value conversions, which face the same outside text.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "engine/expr/VLTLexer.h"
#include "engine/expr/VLTVariant.h"

namespace {

void Convert(const std::string& Text) {
  for (vlt::TVLTBaseFieldType T : {vlt::bftSignedInt32, vlt::bftSignedInt8, vlt::bftDouble,
                                   vlt::bftExtended, vlt::bftCurrency, vlt::bftDate, vlt::bftTime,
                                   vlt::bftDateTime, vlt::bftLogical, vlt::bftWideVarchar}) {
    vlt::TVLTVariant V;
    V.SetAsAnsiString(Text);
    try {
      V.Cast(T);
      (void)V.AsAnsiString();
      vlt::TVLTVariant Copy(V);
      (void)Copy.Compare(V, true, true, true);
    } catch (const vlt::EVLTException&) {
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  std::string_view Text(reinterpret_cast<const char*>(Data), Size);
  vlt::TVLTSQLParams Params;
  vlt::TVLTVariant One;
  One.SetAsInteger(1);
  Params.Add("p", One);
  for (bool NoParams : {true, false}) {
    try {
      vlt::TVLTLexer L(Text, NoParams, &Params);
      int64_t Lines = 1;
      for (char C : Text) Lines += C == '\n';
      while (L.GetNextCommand()) {
        vlt::TToken T;
        for (bool More = L.GetCurrentToken(T); More; More = L.GetNextToken(T)) {
          if (T.LineNum < 1 || T.LineNum > Lines || T.ColumnNum < 1) __builtin_trap();
          if ((T.TokenType == vlt::tktParameter) != T.ParamValue.has_value()) __builtin_trap();
          if (T.TokenType == vlt::tktInt || T.TokenType == vlt::tktFloat ||
              T.TokenType == vlt::tktQuotedString)
            Convert(T.Text);
        }
      }
    } catch (const vlt::EVLTException&) {
    }
  }
  return 0;
}
