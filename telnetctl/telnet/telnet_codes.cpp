#include "telnetctl/telnet/telnet_codes.h"

namespace korvatel {

std::optional<uint8_t> AutomaticAnswer(uint8_t command, uint8_t option) {
  switch (command) {
    case kWILL: return (option == kOptionEcho || option == kOptionSuppressGoAhead) ? kDO : kDONT;
    case kWONT: return kDONT;
    case kDO: return option == kOptionSuppressGoAhead ? kWILL : kWONT;
    case kDONT: return kWONT;
    default: return std::nullopt;
  }
}

}  // namespace korvatel
