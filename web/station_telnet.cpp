#include "web/station_telnet.h"

#include "telnetctl/telnet/telnet_codes.h"

namespace tellarium::web {
namespace {

using namespace korvatel;

constexpr char kCR = '\r';
constexpr char kLF = '\n';

// An answer that says again what was last said about the option is not sent:
// repeating it could go on for ever.
std::optional<uint8_t> Say(uint8_t& last_said, uint8_t verb) {
  if (last_said == verb) return std::nullopt;
  last_said = verb;
  return verb;
}

bool IsWelcome(uint8_t station_option) {
  return station_option == kOptionEcho || station_option == kOptionSuppressGoAhead;
}

}  // namespace

StationTelnet::Received StationTelnet::Receive(std::string_view bytes) {
  Received received;
  ReceivedBlock block{reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()};
  for (TelnetEvent event; parser_.Next(block, event);) {
    if (event.kind == TelnetEvent::Kind::kData) {
      received.data.append(event.bytes.begin(), event.bytes.end());
    } else if (event.kind == TelnetEvent::Kind::kCommand) {
      if (const auto answer = Answer(event.command, event.option)) {
        received.answers += {static_cast<char>(kIAC), static_cast<char>(*answer), static_cast<char>(event.option)};
      }
    }
  }
  return received;
}

// This side turns none of its own options on, so a DONT needs no answer.
std::optional<uint8_t> StationTelnet::Answer(uint8_t verb, uint8_t option) {
  uint8_t& about_station = said_about_station_[option];
  switch (verb) {
    case kWILL: return Say(about_station, IsWelcome(option) ? kDO : kDONT);
    case kWONT: return about_station == kDO ? Say(about_station, kDONT) : std::nullopt;
    case kDO: return Say(said_about_ours_[option], kWONT);
    default: return std::nullopt;
  }
}

std::string StationTelnet::Typed(std::string_view keys) {
  std::string data;
  data.reserve(keys.size());
  for (char key : keys) {
    data += key;
    if (key == kCR) data += kLF;
    if (static_cast<uint8_t>(key) == kIAC) data += key;
  }
  return data;
}

}  // namespace tellarium::web
