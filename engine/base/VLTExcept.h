// The engine's two exception classes.
//
// EVLTException is raised at once for structural, format, resource and programming errors. Every
// raise site has its own native code: 10xxx general, stream and file errors; 20xxx storage, index,
// lock and session errors; 30xxx metadata, type, constraint and expression errors.
//
// EVLTEngineError is raised by datasets for record-level outcomes of edit, post, delete and
// cancel, which the cursor reports as codes -1 to -13.
#pragma once

#include <cstdint>
#include <exception>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

namespace vlt {

// One argument of a printf-style message format. The engine's formats use %d, %u, %x, %s, %g,
// %f, %e and %c with optional flags, width and precision.
using TVLTFormatArg = std::variant<int64_t, uint64_t, double, std::string>;

// Formats Format with Args. Returns nothing when the format and the arguments do not match (a
// conversion without an argument, an argument of the wrong kind, an unknown conversion, an
// argument left over), so callers can fall back the way the engine's messages require.
std::optional<std::string> VLTFormat(std::string_view Format,
                                     std::initializer_list<TVLTFormatArg> Args);

class EVLTException : public std::exception {
 public:
  // Message is the final error text: "<Message> - Native error: <code as %.5d>".
  EVLTException(int32_t NativeError, std::string_view Message);

  // Formats Format with Args first; when they do not match, the text is Format followed by
  // " Arguments are invalid!". The code is then appended as "%5d".
  EVLTException(int32_t NativeError, std::string_view Format,
                std::initializer_list<TVLTFormatArg> Args);

  int32_t NativeError() const noexcept { return FNativeError; }
  const std::string& Message() const noexcept { return FMessage; }
  const char* what() const noexcept override { return FMessage.c_str(); }

  // Errors raised by a named component carry the component's name and ": " first.
  void PrefixWithComponentName(std::string_view Name);

 private:
  int32_t FNativeError;
  std::string FMessage;
};

// Record-level failure reported by a dataset. FErrorCode is -1 to -13; for -8 (a constraint
// check failed) the text is the constraint error's own message.
class EVLTEngineError : public std::exception {
 public:
  explicit EVLTEngineError(int32_t ErrorCode, std::string_view ErrorMessage = {});

  int32_t ErrorCode() const noexcept { return FErrorCode; }
  const std::string& Message() const noexcept { return FMessage; }
  const char* what() const noexcept override { return FMessage.c_str(); }

  // The fixed text of a code ("Record is locked" for -12); empty for -8 and unknown codes.
  static std::string_view TextOf(int32_t ErrorCode) noexcept;

 private:
  int32_t FErrorCode;
  std::string FMessage;
};

// Internal consistency check: raises "Nil pointer occured" with the caller's code.
[[noreturn]] void VLTRaiseNilPointer(int32_t NativeError);

}  // namespace vlt
