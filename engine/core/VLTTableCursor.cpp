#include "engine/core/VLTTableCursor.h"

namespace vlt {

TVLTTableCursor::TVLTTableCursor() = default;
TVLTTableCursor::~TVLTTableCursor() = default;

}  // namespace vlt
