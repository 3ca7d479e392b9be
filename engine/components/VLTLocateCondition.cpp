#include "engine/components/VLTLocateCondition.h"

#include "engine/components/VLTCursor.h"

namespace vlt {

bool TVLTLocateCondition::Accepts(const TVLTCursor& Cursor, const uint8_t* RecordBuffer) const {
  for (const TTerm& T : FTerms) {
    TVLTVariant V;
    Cursor.GetFieldValue(V, T.FieldNo, true, RecordBuffer);
    const bool FieldNull = V.IsNullOrEmpty();
    const bool ValueNull = T.Value.IsNullOrEmpty();
    if (FieldNull || ValueNull) {
      const bool Both = FieldNull && ValueNull;
      if (T.Operator == moEqual ? !Both : (T.Operator == moNotEqual ? Both : true)) return false;
      continue;
    }
    const TVLTCompareResult R = V.Compare(T.Value, false, FCaseInsensitive, FPartialKey);
    bool Ok = false;
    switch (T.Operator) {
      case moEqual: Ok = R == vcrEqual; break;
      case moNotEqual: Ok = R != vcrEqual; break;
      case moLess: Ok = R == vcrLess; break;
      case moLessEqual: Ok = R == vcrLess || R == vcrEqual; break;
      case moGreater: Ok = R == vcrGreater; break;
      case moGreaterEqual: Ok = R == vcrGreater || R == vcrEqual; break;
    }
    if (!Ok) return false;
  }
  return true;
}

}  // namespace vlt
