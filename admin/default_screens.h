// The default screens, kept in the tool as the bytes of the screens/ folder.
#pragma once

#include <span>
#include <string_view>

namespace tellarium::admin {

struct DefaultScreen {
  std::string_view name;   // the file name in a data directory
  std::string_view bytes;  // code page 437, CR LF line ends
};

std::span<const DefaultScreen> DefaultScreens();

}  // namespace tellarium::admin
