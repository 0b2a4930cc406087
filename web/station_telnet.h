// The gateway's end of the station's telnet: it takes the station's offers of
// echo and suppress-go-ahead, refuses every other option, keeps commands from
// the terminal and turns what the caller types into telnet data.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "telnetctl/telnet/telnet_parser.h"

namespace tellarium::web {

class StationTelnet {
 public:
  struct Received {
    std::string data;     // for the terminal, commands removed
    std::string answers;  // owed to the station for its option commands
  };

  // Takes the next bytes from the station, as the connection cuts them.
  Received Receive(std::string_view bytes);

  // Typed keys as telnet data: a 255 doubled, Enter (CR) as CR LF.
  static std::string Typed(std::string_view keys);

 private:
  std::optional<uint8_t> Answer(uint8_t verb, uint8_t option);

  korvatel::TelnetParser parser_;
  // The verb last sent about each option of the station's, and of ours (0: none).
  std::array<uint8_t, 256> said_about_station_{};
  std::array<uint8_t, 256> said_about_ours_{};
};

}  // namespace tellarium::web
