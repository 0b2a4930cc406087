// Telnet command and option bytes, and the answers given automatically.
#pragma once

#include <cstdint>
#include <optional>

namespace korvatel {

constexpr uint8_t kIAC = 255;
constexpr uint8_t kDONT = 254;
constexpr uint8_t kDO = 253;
constexpr uint8_t kWONT = 252;
constexpr uint8_t kWILL = 251;
constexpr uint8_t kSB = 250;
constexpr uint8_t kDM = 242;
constexpr uint8_t kSE = 240;

constexpr uint8_t kOptionEcho = 1;
constexpr uint8_t kOptionSuppressGoAhead = 3;

constexpr bool IsOptionVerb(uint8_t command) { return command >= kWILL && command <= kDONT; }

// The verb answered to `command` about `option` when options are answered
// automatically; none for anything but WILL, WONT, DO and DONT. Echo and
// suppress-go-ahead are welcome from the peer; this side only offers the latter.
std::optional<uint8_t> AutomaticAnswer(uint8_t command, uint8_t option);

}  // namespace korvatel
