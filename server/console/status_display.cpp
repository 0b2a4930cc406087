// The status display: one row per line, rebuilt in full whenever something
// changes, and shown on the console.
#include "server/console/status_view.h"
#include "server/core/number_text.h"
#include "server/core/server.h"
#include "server/core/text_fields.h"

namespace tellarium {

void Server::SysScreen() {
  const ErrorTrap trap = Trap("SysScreen");
  std::string display = "Address: Debugging Mode:" + std::string(FlagText(debugMode)) + lineBreak;
  for (int16_t n = 0; n <= config.maxLines; ++n) trap([&] { display += StatusRow(n); });
  txtLines = std::move(display);
  if (statusView_ != nullptr) statusView_->Show(txtLines);
}

// "Port #5: Max #012: 17 @127.0.0.1 (Telnet)".
std::string Server::StatusRow(int16_t n) {
  const LineState& line = LineAt(n);
  std::string row = "Port #" + std::to_string(n) + ": " + LineActivityText(line);
  if (Connected(n)) row += ConnectionText(line);
  return std::string(TrimRight(row)) + lineBreak;
}

std::string Server::LineActivityText(const LineState& line) const {
  const std::string tag = line.handle.TrimmedRight();
  const std::string online = std::string(TrimRight(SignedNumberText(line.onlineTime)));
  const std::string member = tag + " #" + line.account.Trimmed() + ":" + online;
  const std::string link = ":" + online + " @";
  switch (line.status) {
    case kOffline: return "Offline";
    case kLoggingIn:
      if (line.substate == 1) return "Logging In From ";
      if (line.substate == 2) return "Password phase @";
      return "";
    case kChatUser: return member + " @";
    case kDDialLink:
      if (line.substate == 0) return tag + " (DDL Link)" + link;
      if (line.substate == 1) return tag + " (DCL Link)" + link;
      if (line.substate == 2) return tag + " (QVL Link)" + link;
      return "";
    case kQvsLink:
      if (line.substate == 0) return tag + " (QVS Link)" + link;
      if (line.substate == 1) return tag + " (QV2 Link)" + link;
      return "";
    case kOutdial:
      switch (line.substate) {
        case 0: return member + " @";
        case 1: return "Pending connection to ";
        case 2: return member + "in remote @";
        case 3: return "Outdial connected to ";
        case 4: return "Remote exited pending LINK to ";
        default: return "";
      }
    case kSysopScreen: return member + "(SYSOP SCREEN!) @";
    case kUserScreen: return member + "(USER SCREEN!) @";
    default: return "";
  }
}

// The peer's address and the line's kind: " (Telnet)" or " (Client V2.10)".
std::string Server::ConnectionText(const LineState& line) const {
  std::string text = line.remoteAddress.TrimmedRight();
  if (line.lineType == kClientLine) text += " (Client " + line.clientVersion.Trimmed() + ")";
  if (line.lineType == kTelnetLine) text += " (Telnet)";
  return text;
}

}  // namespace tellarium
