// Chat lines: the display tag a line's text goes out under, access levels,
// line numbers as typed, and the start-up defaults of the station identity.
#include <array>
#include <string>
#include <string_view>

#include "server/core/server.h"

namespace tellarium {
namespace {

// The two brackets of a level do not match, except for level 1; levels
// outside 0..4 have none.
constexpr std::array<std::string_view, 5> kOpeningBracket = {"(", "[", "<", "<", "<"};
constexpr std::array<std::string_view, 5> kClosingBracket = {"]", "]", ")", "]", ">"};

std::string_view BracketOf(const std::array<std::string_view, 5>& brackets, int16_t level) {
  return level >= 0 && level < static_cast<int16_t>(brackets.size()) ? brackets[static_cast<std::size_t>(level)] : "";
}

// Where the line is: its channel, or what it is doing instead.
std::string PlaceText(const LineState& line) {
  switch (line.status) {
    case kChatUser:
      if (line.substate == kInPrivateChat) return "CHAT";
      if (line.substate == kInConference) return "CONF";
      break;
    case kDDialLink:
    case kQvsLink: return line.linkChannels.Trimmed();
    case kOutdial:
      switch (line.substate) {
        case kOutdialOnline:
        case kOutdialPending: return "PEND";
        case kInRemote:
        case kOutdialConnected: return "TERM";
        case kRemoteExited: return "REMOTE";
        default: break;
      }
      break;
    default: break;
  }
  return "C" + std::to_string(line.channel);
}

// Links show their kind in the separator, terminal sessions a "?".
std::string_view SeparatorOf(const LineState& line) {
  switch (line.status) {
    case kDDialLink:
      if (line.substate == kDdlLink) return "=";
      if (line.substate == kDclLink || line.substate == kQvlLink) return "-";
      break;
    case kQvsLink:
      if (line.substate == kQvsKind) return "+";
      if (line.substate == kQv2Kind) return "|";
      break;
    case kOutdial: return "?";
    default: break;
  }
  return ":";
}

// "#5[C1]:", the part of a display tag before the handle.
std::string LineTag(Server& server, int16_t l) {
  const LineState& line = server.LineAt(l);
  const std::string_view marker = server.InTimeLimitState(l) ? "*" : "#";
  return std::string(marker) + std::to_string(l) + std::string(BracketOf(kOpeningBracket, line.level)) +
         PlaceText(line) + std::string(BracketOf(kClosingBracket, line.level)) + std::string(SeparatorOf(line));
}

}  // namespace

// A tag that cannot be built (a line number outside the table) is left out;
// the handle still shows.
std::string Server::Handle(int16_t l, std::string hndl) {
  std::string tag;
  Trap("Handle")([&] { tag = LineTag(*this, l); });
  return tag + std::string(Trim(hndl)) + ") ";
}

bool Server::Clearance(int16_t required, int16_t Current) { return required <= Current; }

// Line numbers are plain digits, so letter case cannot matter.
int16_t Server::chkline(std::string_view l) {
  for (int16_t line = 0; line <= config.maxLines; ++line) {
    if (std::to_string(line) == l) return line;
  }
  return -1;
}

void Server::SetVersion() {
  stationNumber = "00";
  serverVersion = kServerVersion;
}

}  // namespace tellarium
