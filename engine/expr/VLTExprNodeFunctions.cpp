#include "engine/expr/VLTExprNodeFunctions.h"

#include <algorithm>
#include <chrono>
#include <ctime>

#include "engine/base/VLTExcept.h"
#include "engine/expr/VLTLocale.h"

namespace vlt {

// ---- arithmetic ----

TVLTVariant& TVLTExprNodeArithmetic::GetDataValue() {
  switch (Operator) {
    case doADD:
    case doMUL:
    case doDIV:
      if (Children.empty() || (Operator != doADD && Children.size() != 2)) break;
      // One child: that child's value (the second operand of date-time arithmetic).
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
      if (Operator >= doABS && Operator <= doSQRT) return GetMathValue();
      break;
  }
  RaiseUnknownOperator(30121);
}

// ---- strings ----

namespace {

bool IsWideText(const TVLTVariant& V) {
  return V.IsWideStringDataType() || V.DataType() == bftWideClob;
}

bool IsWideTextType(TVLTBaseFieldType T) {
  return IsWideStringBaseType(T) || T == bftWideClob;
}

template <typename S>
S Trimmed(const S& Text, bool Left, bool Right) {
  size_t B = 0, E = Text.size();
  if (Left)
    while (B < E && static_cast<uint32_t>(Text[B]) <= 32) ++B;
  if (Right)
    while (E > B && static_cast<uint32_t>(Text[E - 1]) <= 32) --E;
  return Text.substr(B, E - B);
}

template <typename S>
S Substring(const S& Text, int64_t Start, int64_t Length) {
  if (Start < 1) Start = 1;
  const auto Size = static_cast<int64_t>(Text.size());
  if (Start > Size || Length <= 0) return S();
  return Text.substr(static_cast<size_t>(Start - 1),
                     static_cast<size_t>(std::min(Length, Size - Start + 1)));
}

// Writes Text into Value as a varchar of the text's width ('' leaves it null).
void SetText(TVLTVariant& Value, const std::string& Text) {
  Value.Clear(bftVarchar);
  Value.SetAsAnsiString(Text);
}
void SetText(TVLTVariant& Value, const std::u16string& Text) {
  Value.Clear(bftWideVarchar);
  Value.SetAsWideString(Text);
}

}  // namespace

TVLTBaseFieldType TVLTExprNodeStringFunction::GetDataType() {
  switch (Operator) {
    case doLENGTH:
    case doPOS:
      return bftSignedInt32;
    case doCONCAT:
      for (auto& C : Children)
        if (IsWideTextType(C->GetDataType())) return bftWideVarchar;
      return bftVarchar;
    default:
      if (!Children.empty() && IsWideTextType(Children[0]->GetDataType())) return bftWideVarchar;
      return bftVarchar;
  }
}

int32_t TVLTExprNodeStringFunction::GetDataSize() {
  switch (Operator) {
    case doLENGTH:
    case doPOS:
      return 4;
    case doCONCAT: {
      int32_t Size = 0;
      for (auto& C : Children) Size += C->GetDataSize();
      return Size;
    }
    default:
      return Children.empty() ? 0 : Children[0]->GetDataSize();
  }
}

TVLTVariant& TVLTExprNodeStringFunction::GetDataValue() {
  switch (Operator) {
    case doCONCAT: {
      bool Wide = false, AnyValue = false;
      for (auto& C : Children) {
        const TVLTVariant& V = C->GetDataValue();
        if (IsWideText(V)) Wide = true;
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
        SetText(Value, S);
      } else {
        std::string S;
        for (auto& C : Children)
          if (!C->Value.IsNullOrEmpty()) S += C->Value.AsAnsiString();
        SetText(Value, S);
      }
      return Value;
    }
    case doUPPER:
    case doLOWER:
    case doTRIM:
    case doLTRIM:
    case doRTRIM: {
      if (Children.size() != 1) break;
      const TVLTVariant& V = Children[0]->GetDataValue();
      const TVLTLocale& L = TVLTLocale::Instance();
      auto Apply = [&](const auto& S) {
        if (Operator == doUPPER) return L.UpperCase(S);
        if (Operator == doLOWER) return L.LowerCase(S);
        return Trimmed(S, Operator != doRTRIM, Operator != doLTRIM);
      };
      if (IsWideText(V)) {
        if (V.IsNullOrEmpty()) {
          Value.Clear(bftWideVarchar);
          return Value;
        }
        SetText(Value, Apply(V.AsWideString()));
      } else {
        if (V.IsNullOrEmpty()) {
          Value.Clear(bftVarchar);
          return Value;
        }
        SetText(Value, Apply(V.AsAnsiString()));
      }
      return Value;
    }
    case doLENGTH: {
      if (Children.size() != 1) break;
      const TVLTVariant& V = Children[0]->GetDataValue();
      int32_t Length = 0;
      if (!V.IsNullOrEmpty())
        Length =
            static_cast<int32_t>(IsWideText(V) ? V.AsWideString().size() : V.AsAnsiString().size());
      Value.Clear(bftSignedInt32);
      Value.SetAsInteger(Length);
      return Value;
    }
    case doPOS: {
      if (Children.size() != 2) break;
      const TVLTVariant& Sub = Children[0]->GetDataValue();
      const TVLTVariant& Text = Children[1]->GetDataValue();
      size_t Found = std::string::npos;
      if (!Sub.IsNullOrEmpty() && !Text.IsNullOrEmpty()) {
        if (IsWideText(Sub) || IsWideText(Text))
          Found = Text.AsWideString().find(Sub.AsWideString());
        else
          Found = Text.AsAnsiString().find(Sub.AsAnsiString());
      }
      Value.Clear(bftSignedInt32);
      Value.SetAsInteger(Found == std::string::npos ? 0 : static_cast<int32_t>(Found) + 1);
      return Value;
    }
    case doSUBSTRING: {
      if (Children.size() != 2 && Children.size() != 3) break;
      const TVLTVariant& V = Children[0]->GetDataValue();
      const int64_t Start = Children[1]->GetDataValue().AsInt64();
      const bool HasLength = Children.size() == 3;
      const int64_t Length = HasLength ? Children[2]->GetDataValue().AsInt64() : 0;
      if (IsWideText(V)) {
        const std::u16string S = V.AsWideString();
        SetText(Value, Substring(S, Start, HasLength ? Length : static_cast<int64_t>(S.size())));
      } else {
        const std::string S = V.AsAnsiString();
        SetText(Value, Substring(S, Start, HasLength ? Length : static_cast<int64_t>(S.size())));
      }
      return Value;
    }
    default:
      break;
  }
  RaiseUnknownOperator(30131);
}

// ---- dates ----

TVLTDateTime VLTValueAsCalendarDateTime(const TVLTVariant& V) {
  if (V.DataType() == bftTime) return {kDateDelta, V.AsVLTTime()};
  return V.AsVLTDateTime();
}

TVLTBaseFieldType TVLTExprNodeDateFunction::GetDataType() {
  switch (Operator) {
    case doCURRENT_DATE:
      return bftDate;
    case doCURRENT_TIME:
      return bftTime;
    case doSYSDATE:
      return bftDateTime;
    case doTOSTRING:
      return bftVarchar;
    case doTODATE:
      return DateFormater ? DateFormater->GetDataType() : bftDateTime;
    case doEXTRACT:
      return bftUnsignedInt16;
    default:
      return TVLTExprNode::GetDataType();
  }
}

int32_t TVLTExprNodeDateFunction::GetDataSize() {
  if (Operator == doTOSTRING && DateFormater) return DateFormater->GetStringMaxSize();
  const int32_t Fixed = FixedDataSize(GetDataType());
  return Fixed;
}

TVLTVariant& TVLTExprNodeDateFunction::GetDataValue() {
  switch (Operator) {
    case doCURRENT_DATE:
    case doCURRENT_TIME:
    case doSYSDATE:
      break;
    case doTOSTRING:
    case doTODATE: {
      if (Children.size() != 1 || !DateFormater) RaiseUnknownOperator(30130);
      const TVLTVariant& V = Children[0]->GetDataValue();
      if (Operator == doTOSTRING) {
        Value.Clear(bftVarchar);
        if (!V.IsNullOrEmpty())
          Value.SetAsAnsiString(DateFormater->ToString(VLTValueAsCalendarDateTime(V)));
        return Value;
      }
      if (V.IsNullOrEmpty()) {
        Value.Clear(DateFormater->GetDataType());
        return Value;
      }
      const TVLTDateTime D = DateFormater->ToDate(V.AsAnsiString());
      if (D.Date == kDateDelta) {
        Value.Clear(bftTime);
        Value.SetAsVLTTime(D.Time);
      } else if (D.Time == 0) {
        Value.Clear(bftDate);
        Value.SetAsVLTDate(D.Date);
      } else {
        Value.Clear(bftDateTime);
        Value.SetAsVLTDateTime(D);
      }
      return Value;
    }
    case doEXTRACT: {
      if (Children.size() != 1) RaiseUnknownOperator(30130);
      const TVLTVariant& V = Children[0]->GetDataValue();
      Value.Clear(bftUnsignedInt16);
      if (V.IsNullOrEmpty()) return Value;
      const TVLTDateTime D = VLTValueAsCalendarDateTime(V);
      int Parts[6] = {};
      int MSec = 0;
      DecodeDayNumber(D.Date, Parts[efYEAR], Parts[efMONTH], Parts[efDAY]);
      DecodeTime(D.Time, Parts[efHOUR], Parts[efMINUTE], Parts[efSECOND], MSec);
      Value.SetAsWord(static_cast<uint16_t>(Parts[ExtractDateTimeField]));
      return Value;
    }
    default:
      RaiseUnknownOperator(30130);
  }
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
