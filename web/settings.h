// The gateway's settings, all from its command line.
#pragma once

#include <boost/asio/ip/address.hpp>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace tellarium::web {

struct Settings {
  boost::asio::ip::address listen_address;
  uint16_t listen_port = 0;
  std::string station_host;
  uint16_t station_port = 0;
  std::optional<boost::asio::ip::address> source_address;  // else the system's choice
  std::string title;
  size_t max_calls = 0;
  std::vector<std::string> origins;  // empty: the page's own host only; "*": any
};

// The settings `arguments` give, the rest at their defaults; none after the
// help was asked for and printed. Throws std::invalid_argument, saying what
// is wrong, for a setting that is not understood.
std::optional<Settings> ReadSettings(std::span<const char* const> arguments);

}  // namespace tellarium::web
