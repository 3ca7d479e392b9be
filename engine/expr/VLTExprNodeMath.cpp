// The mathematical functions of TVLTExprNodeArithmetic (doABS to doSQRT), their result types,
// and ROUND's rounding modes.
#include <algorithm>
#include <cmath>
#include <limits>
#include <random>

#include "engine/base/VLTExcept.h"
#include "engine/expr/VLTExprNodeFunctions.h"

namespace vlt {

namespace {

constexpr int32_t kErrNoNumber = 30132;

// Rounds V (already scaled) to a whole number. A value within a few units of the last place of
// a tie counts as the tie, so that 2.675 scaled to 267.49999... still rounds as 267.5.
long double RoundWhole(long double V, TVLTRoundMode Mode) {
  switch (Mode) {
    case rmRNDNEG:
      return std::floor(V);
    case rmRNDPOS:
      return std::ceil(V);
    case rmRNDDOWN:
      return std::trunc(V);
    case rmRNDUP:
      return V < 0 ? std::floor(V) : std::ceil(V);
    default:
      break;
  }
  const long double Low = std::floor(V);
  const long double Fraction = V - Low;
  const long double Tolerance =
      64 * std::numeric_limits<double>::epsilon() * std::max<long double>(1, std::fabs(V));
  if (std::fabs(Fraction - 0.5L) > Tolerance) return Fraction < 0.5L ? Low : Low + 1;
  switch (Mode) {
    case rmHALFEVEN:
      return std::fmod(Low, 2.0L) == 0 ? Low : Low + 1;
    case rmHALFPOS:
      return Low + 1;
    case rmHALFNEG:
      return Low;
    case rmHALFDOWN:
      return V < 0 ? Low + 1 : Low;
    default:
      return V < 0 ? Low : Low + 1;  // rmHALFUP
  }
}

// Raises 30132 when a function gave no number (a domain error or an overflow).
double Checked(double V, TVLTDataOperator Operator) {
  if (!std::isfinite(V))
    throw EVLTException(kErrNoNumber, "Invalid argument for function '%s'",
                        {std::string(DataOperatorName(Operator).substr(2))});
  return V;
}

std::mt19937_64& RandomGenerator() {
  // One generator per thread: nodes of different expressions may evaluate on different threads.
  thread_local std::mt19937_64 Generator{std::random_device{}()};
  return Generator;
}

}  // namespace

double VLTRound(double Value, int32_t Decimals, TVLTRoundMode Mode) {
  if (!std::isfinite(Value)) return Value;
  if (Decimals > 308) Decimals = 308;
  if (Decimals < -308) Decimals = -308;
  const long double Scale = std::pow(10.0L, static_cast<long double>(std::abs(Decimals)));
  const long double Scaled = Decimals >= 0 ? Value * Scale : Value / Scale;
  const long double R = RoundWhole(Scaled, Mode);
  return static_cast<double>(Decimals >= 0 ? R / Scale : R * Scale);
}

TVLTBaseFieldType TVLTExprNodeArithmetic::GetDataType() {
  switch (Operator) {
    case doABS:
    case doSQR:
      return Children.empty() ? TVLTExprNode::GetDataType() : Children[0]->GetDataType();
    case doCEIL:
    case doFLOOR:
    case doSIGN:
    case doRAND:
      return bftSignedInt32;
    case doROUND:
      return Children.size() == 1 ? bftSignedInt32 : bftDouble;
    case doACOS:
    case doASIN:
    case doATAN:
    case doCOS:
    case doEXP:
    case doLOG:
    case doPOWER:
    case doSIN:
    case doSQRT:
      return bftDouble;
    default:
      return TVLTExprNode::GetDataType();
  }
}

TVLTVariant& TVLTExprNodeArithmetic::GetMathValue() {
  const size_t Arity = Operator == doPOWER ? 2 : Operator == doROUND ? Children.size() : 1;
  if (Children.empty() || Children.size() != Arity || Arity > 3) RaiseUnknownOperator(30121);
  const TVLTVariant& X = Children[0]->GetDataValue();
  auto SetDouble = [&](double V) -> TVLTVariant& {
    Value.Clear(bftDouble);
    Value.SetAsDouble(Checked(V, Operator));
    return Value;
  };
  auto SetInteger = [&](double V) -> TVLTVariant& {
    // Through the value type, so that a number beyond 32 bits raises its range error.
    Value.Clear(bftDouble);
    Value.SetAsDouble(Checked(V, Operator));
    Value.Cast(bftSignedInt32);
    return Value;
  };
  switch (Operator) {
    case doABS: {
      const double D = X.AsDouble();
      Value.Assign(X, true);
      if (D < 0) Value.InvertValue();
      return Value;
    }
    case doSQR: {
      X.AsDouble();  // a null argument raises
      Value.Assign(X, true);
      Value.Mul(X);
      return Value;
    }
    case doACOS:
      return SetDouble(std::acos(X.AsDouble()));
    case doASIN:
      return SetDouble(std::asin(X.AsDouble()));
    case doATAN:
      return SetDouble(std::atan(X.AsDouble()));
    case doCOS:
      return SetDouble(std::cos(X.AsDouble()));
    case doSIN:
      return SetDouble(std::sin(X.AsDouble()));
    case doEXP:
      return SetDouble(std::exp(X.AsDouble()));
    case doLOG:
      return SetDouble(std::log(X.AsDouble()));
    case doSQRT:
      return SetDouble(std::sqrt(X.AsDouble()));
    case doPOWER: {
      const double Base = X.AsDouble();
      return SetDouble(std::pow(Base, Children[1]->GetDataValue().AsDouble()));
    }
    case doCEIL:
      return SetInteger(std::ceil(X.AsDouble()));
    case doFLOOR:
      return SetInteger(std::floor(X.AsDouble()));
    case doSIGN: {
      const double D = X.AsDouble();
      Value.Clear(bftSignedInt32);
      Value.SetAsInteger(D > 0 ? 1 : D < 0 ? -1 : 0);
      return Value;
    }
    case doRAND: {
      const int64_t Bound = X.AsInt64();
      Value.Clear(bftSignedInt32);
      // No number lies in an empty range; RAND(0) and below give 0.
      if (Bound <= 1) {
        Value.SetAsInteger(0);
      } else {
        const int64_t Top = std::min<int64_t>(Bound, int64_t{2147483647} + 1) - 1;
        std::uniform_int_distribution<int64_t> Distribution(0, Top);
        Value.SetAsInteger(static_cast<int32_t>(Distribution(RandomGenerator())));
      }
      return Value;
    }
    case doROUND: {
      const double D = X.AsDouble();
      if (Children.size() == 1) return SetInteger(VLTRound(D, 0, rmHALFEVEN));
      const int32_t Decimals = Children[1]->GetDataValue().AsInteger();
      int32_t Mode = rmHALFEVEN;
      if (Children.size() == 3) Mode = Children[2]->GetDataValue().AsInteger();
      if (Mode < rmHALFEVEN || Mode > rmRNDUP) RaiseUnknownOperator(30121);
      return SetDouble(VLTRound(D, Decimals, static_cast<TVLTRoundMode>(Mode)));
    }
    default:
      RaiseUnknownOperator(30121);
  }
}

}  // namespace vlt
