#include "engine/expr/VLTExprNodeFunctions.h"

#include <chrono>
#include <ctime>

#include "engine/core/VLTExcept.h"
#include "engine/expr/VLTLocale.h"

namespace vlt {

// ---- arithmetic ----

TVLTVariant& TVLTExprNodeArithmetic::GetDataValue() {
  switch (Operator) {
    case doADD:
    case doMUL:
    case doDIV:
      if (Children.empty() || (Operator != doADD && Children.size() != 2)) break;
      Value.Assign(Children[0]->GetDataValue(), true);
      for (size_t I = 1; I < Children.size(); ++I) {
        const TVLTVariant& V = Children[I]->GetDataValue();
        if (Operator == doADD)
          Value.Add(V);
        else if (Operator == doMUL)
          Value.Mul(V);
        else
          Value.Division(V);
      }
      return Value;
    case doSUB:
      if (Children.size() == 1) {
        Value.Assign(Children[0]->GetDataValue(), true);
        if (!Value.IsNull()) Value.InvertValue();
        return Value;
      }
      if (Children.size() != 2) break;
      Value.Assign(Children[0]->GetDataValue(), true);
      Value.Sub(Children[1]->GetDataValue());
      return Value;
    default:
      break;
  }
  RaiseUnknownOperator(30121);
}

// ---- strings ----

TVLTBaseFieldType TVLTExprNodeStringFunction::GetDataType() {
  if (Operator == doCONCAT) {
    for (auto& C : Children)
      if (IsWideStringBaseType(C->GetDataType()) || C->GetDataType() == bftWideClob)
        return bftWideVarchar;
    return bftVarchar;
  }
  if (Children.size() == 1 && IsWideStringBaseType(Children[0]->GetDataType()))
    return bftWideVarchar;
  return bftVarchar;
}

TVLTVariant& TVLTExprNodeStringFunction::GetDataValue() {
  switch (Operator) {
    case doCONCAT: {
      bool Wide = false, AnyValue = false;
      for (auto& C : Children) {
        const TVLTVariant& V = C->GetDataValue();
        if (V.IsWideStringDataType() || V.DataType() == bftWideClob) Wide = true;
        if (!V.IsNullOrEmpty()) AnyValue = true;
      }
      if (!AnyValue) {
        Value.Clear(Wide ? bftWideVarchar : bftVarchar);
        return Value;
      }
      // The children keep their last results, so a second pass reads them without evaluating.
      if (Wide) {
        std::u16string S;
        for (auto& C : Children)
          if (!C->Value.IsNullOrEmpty()) S += C->Value.AsWideString();
        Value.Clear(bftWideVarchar);
        Value.SetAsWideString(S);
      } else {
        std::string S;
        for (auto& C : Children)
          if (!C->Value.IsNullOrEmpty()) S += C->Value.AsAnsiString();
        Value.Clear(bftVarchar);
        Value.SetAsAnsiString(S);
      }
      return Value;
    }
    case doUPPER:
    case doLOWER: {
      if (Children.size() != 1) break;
      const TVLTVariant& V = Children[0]->GetDataValue();
      const TVLTLocale& L = TVLTLocale::Instance();
      if (V.IsWideStringDataType() || V.DataType() == bftWideClob) {
        const std::u16string S = V.AsWideString();
        Value.Clear(bftWideVarchar);
        if (!V.IsNullOrEmpty())
          Value.SetAsWideString(Operator == doUPPER ? L.UpperCase(S) : L.LowerCase(S));
      } else {
        const std::string S = V.AsAnsiString();
        Value.Clear(bftVarchar);
        if (!V.IsNullOrEmpty())
          Value.SetAsAnsiString(Operator == doUPPER ? L.UpperCase(S) : L.LowerCase(S));
      }
      return Value;
    }
    default:
      break;
  }
  RaiseUnknownOperator(30131);
}

// ---- dates ----

TVLTBaseFieldType TVLTExprNodeDateFunction::GetDataType() {
  switch (Operator) {
    case doCURRENT_DATE:
      return bftDate;
    case doCURRENT_TIME:
      return bftTime;
    case doSYSDATE:
      return bftDateTime;
    default:
      return TVLTExprNode::GetDataType();
  }
}

TVLTVariant& TVLTExprNodeDateFunction::GetDataValue() {
  if (Operator != doCURRENT_DATE && Operator != doCURRENT_TIME && Operator != doSYSDATE)
    RaiseUnknownOperator(30130);
  const auto Now = std::chrono::system_clock::now();
  const std::time_t T = std::chrono::system_clock::to_time_t(Now);
  const auto MSec = static_cast<int>(
      std::chrono::duration_cast<std::chrono::milliseconds>(Now.time_since_epoch()).count() % 1000);
  std::tm Local{};
  localtime_r(&T, &Local);
  int32_t Day = 0, Time = 0;
  TryEncodeDayNumber(Local.tm_year + 1900, Local.tm_mon + 1, Local.tm_mday, Day);
  TryEncodeTime(Local.tm_hour, Local.tm_min, Local.tm_sec > 59 ? 59 : Local.tm_sec, MSec, Time);
  if (Operator == doCURRENT_DATE) {
    Value.Clear(bftDate);
    Value.SetAsVLTDate(Day);
  } else if (Operator == doCURRENT_TIME) {
    Value.Clear(bftTime);
    Value.SetAsVLTTime(Time);
  } else {
    Value.Clear(bftDateTime);
    Value.SetAsVLTDateTime(TVLTDateTime{Day, Time});
  }
  return Value;
}

}  // namespace vlt
