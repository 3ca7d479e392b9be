// Text conversion between the engine's 8-bit text (Windows-1252) and UTF-8, for what the engine
// exchanges with the outside: file names, terminal and window output.
#pragma once

#include <string>
#include <string_view>

namespace vlt {

// Every Windows-1252 byte has a character; the five undefined bytes (0x81, 0x8D, 0x8F, 0x90,
// 0x9D) map to the C1 control with the same number, as Windows does.
std::string Win1252ToUtf8(std::string_view S);

// Characters without a Windows-1252 byte become '?'. Malformed UTF-8 bytes are taken as
// Windows-1252 bytes themselves, so text that was never UTF-8 passes through unchanged.
std::string Utf8ToWin1252(std::string_view S);

}  // namespace vlt
