// Code page 437, the character set the station's screens are written in, and
// UTF-8, the browser's: one conversion each way.
#pragma once

#include <string>
#include <string_view>

namespace tellarium::web {

// Bytes 0x80-0xFF become their characters; controls and ASCII stay as they are.
std::string Cp437ToUtf8(std::string_view station_bytes);

// A character code page 437 has no byte for (or malformed UTF-8) becomes "?".
std::string Utf8ToCp437(std::string_view text);

}  // namespace tellarium::web
