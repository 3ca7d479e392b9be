// Search conditions of key searches and index scans, shared by the table data, the B+trees and
// the index conditions that filter expressions yield.
#pragma once

#include <cstdint>

namespace vlt {

enum TVLTSearchCondition : uint8_t {
  scNone = 0,
  scEqual = 1,
  scLower = 2,
  scGreater = 3,
  scLowerEqual = 4,
  scGreaterEqual = 5,
};

}  // namespace vlt
