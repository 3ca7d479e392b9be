// Helpers shared by every test program: the native code or the message of what a call raises.
#pragma once

#include <cstdint>
#include <string>

#include "engine/base/VLTExcept.h"

namespace vlt::test {

// The native error code of the EVLTException F raises; 0 when it raises none.
inline int32_t CodeOf(auto&& F) {
  try {
    F();
  } catch (const EVLTException& E) {
    return E.NativeError();
  }
  return 0;
}

// The message of the exception F raises; empty when it raises none.
inline std::string MessageOf(auto&& F) {
  try {
    F();
  } catch (const std::exception& E) {
    return E.what();
  }
  return {};
}

}  // namespace vlt::test
