// The station identification: the station's texts and how many lines are in
// use, to every chat user (held, as a notice) and at once to every link line
// in its own form.
#include <string>

#include "server/core/server.h"

namespace tellarium {
namespace {

constexpr int16_t kCountedLines = kMaxMainLines;  // lines 1..31, whatever maxLines is
constexpr char kHiddenInfoMark = '|';             // an information line not shown

std::string IdentificationText(Server& server) {
  const ServerConfig& config = server.config;
  std::string text = config.stationTitle.Trimmed() + "^";
  for (const FixedText<40>& info : config.infoLine) {
    if (info.Raw().front() != kHiddenInfoMark) text += info.Trimmed() + "^";
  }
  text += config.stationText.Trimmed() + "^";
  int16_t inUse = 0;
  for (int16_t l = 1; l <= kCountedLines; ++l) {
    if (server.LineAt(l).status > kOffline) ++inUse;
  }
  return text + "/P<PATH>=? - Link Command Menu^" + std::to_string(inUse) + " Lines In Use, " +
         std::to_string(config.maxLines - inUse) + " Lines Available." + server.lineBreak;
}

}  // namespace

void Server::StationID() {
  const ErrorTrap trap = Trap("StationID");
  std::string text;
  trap([&] { text = IdentificationText(*this); });
  for (int16_t l = 1; l <= config.maxLines; ++l) {
    trap([&] {
      switch (LineAt(l).status) {
        case kChatUser:
          heldOutput[static_cast<std::size_t>(l)].Append(FormatOutput(l, kNoticeMode, text + HeldOutput::kEndMark));
          break;
        case kDDialLink: SendDirect(l, "}}}" + stationPrefix + text + lineBreak); break;
        case kQvsLink: SendDirect(l, stationNumber + "~3/" + text + lineBreak); break;
        default: break;
      }
    });
  }
}

}  // namespace tellarium
