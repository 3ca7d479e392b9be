// GUIDs in their text form, for the names of temporary databases and indexes.
#pragma once

#include <string>

namespace vlt {

// A new random (version 4) GUID as "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}", upper-case hex.
std::string VLTNewGuidText();

}  // namespace vlt
