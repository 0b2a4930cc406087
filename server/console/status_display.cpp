// The status display: one row per line, rebuilt in full whenever something
// changes, and shown on the console.
#include "server/console/status_view.h"
#include "server/core/number_text.h"
#include "server/core/server.h"
#include "server/core/text_fields.h"

namespace tellarium {
namespace {

std::string LineActivityText(const LineState& line) {
  const std::string tag = line.handle.TrimmedRight();
  const std::string online = std::string(TrimRight(SignedNumberText(line.onlineTime)));
  const std::string member = tag + " #" + line.account.Trimmed() + ":" + online;
  const std::string link = ":" + online + " @";
  switch (line.status) {
    case kOffline: return "Offline";
    case kLoggingIn:
      if (line.substate == kPasswordEntry) return "Logging In From ";
      if (line.substate == kLoginLineTaken) return "Password phase @";
      return "";
    case kChatUser: return member + " @";
    case kDDialLink:
      if (line.substate == kDdlLink) return tag + " (DDL Link)" + link;
      if (line.substate == kDclLink) return tag + " (DCL Link)" + link;
      if (line.substate == kQvlLink) return tag + " (QVL Link)" + link;
      return "";
    case kQvsLink:
      if (line.substate == kQvsKind) return tag + " (QVS Link)" + link;
      if (line.substate == kQv2Kind) return tag + " (QV2 Link)" + link;
      return "";
    case kOutdial:
      switch (line.substate) {
        case kOutdialOnline: return member + " @";
        case kOutdialPending: return "Pending connection to ";
        case kInRemote: return member + "in remote @";
        case kOutdialConnected: return "Outdial connected to ";
        case kRemoteExited: return "Remote exited pending LINK to ";
        default: return "";
      }
    case kSysopScreen: return member + "(SYSOP SCREEN!) @";
    case kUserScreen: return member + "(USER SCREEN!) @";
    default: return "";
  }
}

// "Port #5: Max #012: 17 @127.0.0.1 (Telnet)".
std::string StatusRow(Server& server, int16_t n) {
  const LineState& line = server.LineAt(n);
  std::string row = "Port #" + std::to_string(n) + ": " + LineActivityText(line);
  if (server.Connected(n)) row += Server::ConnectionText(line);
  return std::string(TrimRight(row)) + server.lineBreak;
}

}  // namespace

void Server::SysScreen() {
  const ErrorTrap trap = Trap("SysScreen");
  std::string display = "Address: Debugging Mode:" + std::string(FlagText(debugMode)) + lineBreak;
  for (int16_t n = 0; n <= config.maxLines; ++n) trap([&] { display += StatusRow(*this, n); });
  txtLines = std::move(display);
  if (statusView_ != nullptr) statusView_->Show(txtLines);
}

// The peer's address and the line's kind: " (Telnet)" or " (Client V2.10)".
std::string Server::ConnectionText(const LineState& line) {
  std::string text = line.remoteAddress.TrimmedRight();
  if (line.lineType == kClientLine) text += " (Client " + line.clientVersion.Trimmed() + ")";
  if (line.lineType == kTelnetLine) text += " (Telnet)";
  return text;
}

}  // namespace tellarium
