// Any filter text must give a tree or fail with the engine's exception, never crash, hang or
// recurse without bound; a tree must then evaluate on a small record (with values and with
// nulls) to a result or the engine's exception. A failed parse leaves no tree; a tree's index
// conditions can be made, taken out and put back without changing the result (unless the tree
// holds a value that changes by itself: ROWNUM, RAND, the clock).
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "engine/expr/VLTExpression.h"
#include "tests/expr/VLTExprTestCursor.h"

namespace {

using namespace vlt;

const test::TExprTestCursor& Cursor() {
  static const test::TExprTestCursor C = [] {
    test::TExprTestCursor T;
    T.Add("Num", bftSignedInt32)
        .Add("Big", bftSignedInt64)
        .Add("Name", bftVarchar, 10)
        .Add("Wide", bftWideVarchar, 6)
        .Add("Paid", bftLogical)
        .Add("Born", bftDate)
        .Add("Rate", bftDouble);
    return T;
  }();
  return C;
}

std::vector<uint8_t> Record(bool Nulls) {
  const test::TExprTestCursor& C = Cursor();
  std::vector<uint8_t> R = C.NewRecord();
  if (Nulls) return R;
  TVLTVariant V;
  V.SetAsInteger(5);
  C.Set(R, "Num", V);
  V.SetAsInt64(2147483647LL);
  C.Set(R, "Big", V);
  V.Clear(bftVarchar);
  V.SetAsAnsiString("Smith 10%");
  C.Set(R, "Name", V);
  C.Set(R, "Wide", V);
  V.Clear(bftLogical);
  V.SetAsBoolean(true);
  C.Set(R, "Paid", V);
  V.Clear(bftDate);
  V.SetAsVLTDate(730000);
  C.Set(R, "Born", V);
  V.Clear(bftDouble);
  V.SetAsDouble(1.5);
  C.Set(R, "Rate", V);
  return R;
}

// ROWNUM counts, RAND draws and the clock moves between two evaluations.
bool IsVolatile(const TVLTExprNode* N) {
  switch (N->Operator) {
    case doROWNUM:
    case doRAND:
    case doSYSDATE:
    case doCURRENT_DATE:
    case doCURRENT_TIME:
      return true;
    default:
      break;
  }
  for (size_t I = 0; I < N->ChildCount(); ++I)
    if (IsVolatile(N->Child(I))) return true;
  return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  static const std::vector<uint8_t> Full = Record(false), Empty = Record(true);
  std::string_view Text(reinterpret_cast<const char*>(Data), Size);
  auto& C = const_cast<test::TExprTestCursor&>(Cursor());
  for (int Options = 0; Options < 4; ++Options) {
    TVLTExpression E;
    try {
      E.ParseForFilter(&C, Text, Options & 1, Options & 2);
    } catch (const EVLTException&) {
      if (E.Root()) __builtin_trap();  // a failed parse leaves no tree
      continue;
    }
    if (!E.Root()) __builtin_trap();
    const bool Volatile = IsVolatile(E.Root());
    for (const std::vector<uint8_t>* R : {&Full, &Empty}) {
      E.AssignCursorBuffer(R->data(), false);
      try {
        const bool Result = E.GetResult();
        std::vector<TVLTExprIndexInfo> Indexes(1);
        Indexes[0].IndexID = 1;
        Indexes[0].Columns = {{"Num", false, false}, {"Name", false, false}};
        TVLTExprScanConditions Found;
        E.CreateIndexScanConditions(Indexes, Found, 0);
        for (TVLTExprScanCondition& S : Found)
          while (E.ExtendMultiFieldIndexCondition(S, Indexes[0])) {
          }
        for (TVLTExprScanCondition& S : Found) E.RemoveExtractedNodes(S.ParentExpressionNodes);
        E.ReturnExtractedNodes();
        if (E.GetResult() != Result && !Volatile) __builtin_trap();
      } catch (const EVLTException&) {
      }
    }
  }
  // The same text as a default value never raises.
  TVLTVariant V;
  V.SetAsAnsiString(Text);
  (void)IsDefaultValueExpression(V);
  return 0;
}
