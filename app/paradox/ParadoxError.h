// The error raised by every Paradox table operation: open, read, filter, post, create, re-index.
// Callers log or show its message unchanged, so the text always names the table or the field
// concerned.
#pragma once

#include <stdexcept>
#include <string>

namespace vlt::app {

class EParadoxError : public std::runtime_error {
 public:
  explicit EParadoxError(const std::string& Message) : std::runtime_error(Message) {}
  // The class name, for message boxes that show "type name: message".
  static constexpr const char* kTypeName = "EParadoxError";
};

}  // namespace vlt::app
