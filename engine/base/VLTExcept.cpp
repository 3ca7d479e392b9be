#include "engine/base/VLTExcept.h"

#include <array>
#include <cstdio>
#include <vector>

namespace vlt {

namespace {

// Formats one conversion of a printf-style spec with the C library, after checking that the
// argument has the kind the conversion needs.
bool FormatOne(std::string& Out, const std::string& Spec, char Conversion,
               const TVLTFormatArg& Arg) {
  std::array<char, 512> Buf{};
  int N = -1;
  switch (Conversion) {
    case 'd':
    case 'i': {
      int64_t V;
      if (auto* S = std::get_if<int64_t>(&Arg))
        V = *S;
      else if (auto* U = std::get_if<uint64_t>(&Arg))
        V = static_cast<int64_t>(*U);
      else
        return false;
      N = std::snprintf(Buf.data(), Buf.size(), (Spec + "lld").c_str(), static_cast<long long>(V));
      break;
    }
    case 'u':
    case 'x':
    case 'X': {
      uint64_t V;
      if (auto* S = std::get_if<int64_t>(&Arg))
        V = static_cast<uint64_t>(*S);
      else if (auto* U = std::get_if<uint64_t>(&Arg))
        V = *U;
      else
        return false;
      N = std::snprintf(Buf.data(), Buf.size(), (Spec + "ll" + Conversion).c_str(),
                        static_cast<unsigned long long>(V));
      break;
    }
    case 'f':
    case 'g':
    case 'e':
    case 'G':
    case 'E': {
      double V;
      if (auto* D = std::get_if<double>(&Arg))
        V = *D;
      else if (auto* S = std::get_if<int64_t>(&Arg))
        V = static_cast<double>(*S);
      else
        return false;
      N = std::snprintf(Buf.data(), Buf.size(), (Spec + Conversion).c_str(), V);
      break;
    }
    case 's': {
      auto* S = std::get_if<std::string>(&Arg);
      if (!S) return false;
      std::vector<char> Big(S->size() + 512);
      N = std::snprintf(Big.data(), Big.size(), (Spec + "s").c_str(), S->c_str());
      if (N < 0) return false;
      Out.append(Big.data(), static_cast<size_t>(N) < Big.size() ? N : Big.size() - 1);
      return true;
    }
    case 'c': {
      auto* S = std::get_if<int64_t>(&Arg);
      if (!S) return false;
      Out.push_back(static_cast<char>(*S));
      return true;
    }
    default:
      return false;
  }
  if (N < 0 || static_cast<size_t>(N) >= Buf.size()) return false;
  Out.append(Buf.data(), N);
  return true;
}

std::string AppendCode(std::string Text, const char* CodeFormat, int32_t Code) {
  char CodeText[32];
  std::snprintf(CodeText, sizeof CodeText, CodeFormat, Code);
  Text += " - Native error: ";
  Text += CodeText;
  return Text;
}

}  // namespace

std::optional<std::string> VLTFormat(std::string_view Format,
                                     std::initializer_list<TVLTFormatArg> Args) {
  std::string Out;
  auto Arg = Args.begin();
  for (size_t I = 0; I < Format.size(); ++I) {
    char C = Format[I];
    if (C != '%') {
      Out.push_back(C);
      continue;
    }
    if (I + 1 < Format.size() && Format[I + 1] == '%') {
      Out.push_back('%');
      ++I;
      continue;
    }
    // %[flags][width][.precision]conversion
    std::string Spec = "%";
    size_t J = I + 1;
    while (J < Format.size() && std::string_view("-+ 0#").find(Format[J]) != std::string_view::npos)
      Spec.push_back(Format[J++]);
    while (J < Format.size() && Format[J] >= '0' && Format[J] <= '9') Spec.push_back(Format[J++]);
    if (J < Format.size() && Format[J] == '.') {
      Spec.push_back(Format[J++]);
      while (J < Format.size() && Format[J] >= '0' && Format[J] <= '9') Spec.push_back(Format[J++]);
    }
    if (J >= Format.size() || Arg == Args.end()) return std::nullopt;
    if (!FormatOne(Out, Spec, Format[J], *Arg)) return std::nullopt;
    ++Arg;
    I = J;
  }
  if (Arg != Args.end()) return std::nullopt;
  return Out;
}

EVLTException::EVLTException(int32_t NativeError, std::string_view Message)
    : FNativeError(NativeError), FMessage(AppendCode(std::string(Message), "%.5d", NativeError)) {}

EVLTException::EVLTException(int32_t NativeError, std::string_view Format,
                             std::initializer_list<TVLTFormatArg> Args)
    : FNativeError(NativeError) {
  std::optional<std::string> Text = VLTFormat(Format, Args);
  FMessage = AppendCode(Text ? *Text : std::string(Format) + " Arguments are invalid!", "%5d",
                        NativeError);
}

void EVLTException::PrefixWithComponentName(std::string_view Name) {
  if (!Name.empty()) FMessage = std::string(Name) + ": " + FMessage;
}

std::string_view EVLTEngineError::TextOf(int32_t ErrorCode) noexcept {
  switch (ErrorCode) {
    case -1:
      return "Error adding record";
    case -2:
      return "Error updating record";
    case -3:
      return "Error deleting record";
    case -4:
      return "Error updating record - record was modified by another process";
    case -5:
      return "Error deleting record - record was modified by another process";
    case -6:
      return "Error updating record - record was deleted by another process";
    case -7:
      return "Error deleting record - record was deleted by another process";
    case -9:
      return "Cannot update record in temporary mode";
    case -10:
      return "Cannot delete record in temporary mode";
    case -11:
      return "Cannot cancel operation in temporary mode";
    case -12:
      return "Record is locked";
    case -13:
      return "Table is locked";
    default:
      return {};
  }
}

EVLTEngineError::EVLTEngineError(int32_t ErrorCode, std::string_view ErrorMessage)
    : FErrorCode(ErrorCode) {
  std::string_view Text = ErrorMessage.empty() ? TextOf(ErrorCode) : ErrorMessage;
  FMessage = "Vaultrix Engine Error # " + std::to_string(ErrorCode) + " " + std::string(Text);
}

void VLTRaiseNilPointer(int32_t NativeError) {
  throw EVLTException(NativeError, "Nil pointer occured");
}

}  // namespace vlt
