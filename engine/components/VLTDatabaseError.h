// EVLTDatabaseError: the error of a database, dataset or field component that has no native code
// ("Database name missing", "Field 'X' must have a value"). When the raising component has a
// name, the text starts with that name, a colon and a blank.
#pragma once

#include <stdexcept>
#include <string>
#include <string_view>

namespace vlt {

class EVLTDatabaseError : public std::runtime_error {
 public:
  explicit EVLTDatabaseError(const std::string& Message) : std::runtime_error(Message) {}
  EVLTDatabaseError(std::string_view ComponentName, const std::string& Message)
      : std::runtime_error(ComponentName.empty() ? Message
                                                 : std::string(ComponentName) + ": " + Message) {}
};

}  // namespace vlt
