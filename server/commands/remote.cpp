// "R" d and a letter: dial out on a free line, turn a connected line into a
// D-Dial link of one of its three kinds, pair two lines as a terminal, relog
// a line, or toggle its /K protection. The own-protocol link is not offered.
#include <string>
#include <tuple>

#include "server/commands/command_groups.h"
#include "server/core/server.h"
#include "telnetctl/korvatel.h"

namespace tellarium {
namespace {

constexpr int16_t kRemoteLevel = 3;
constexpr int16_t kOutdialLevel = 4;

struct LinkKind {
  char letter;
  int16_t substate;
  const char* channels;
  const char* notFree;  // answered when the line has no caller
  const char* told;     // to the remoted line
  const char* logged;   // the kind in the log entry
};

constexpr LinkKind kLinkKinds[] = {
    {'A', kDdlLink, "1", "Invalid Line. Line not connected.", "Remoted. (D-Dial Protocol - Single Channel)", "DDL"},
    {'D', kDclLink, "12", "Invalid Line. Line Not In Use.", "Remoted. (D-Dial Protocol - Dual Channel)", "DCL"},
    {'Z', kQvlLink, "123456789", "Invalid Line. Line Not In Use.", "Remoted. (D-Dial Protocol - Multi Channel)", "QVL"},
};

// Level 3, or below it an account allowed to remote lines.
bool MayRemote(Server& server, int16_t line) {
  const LineState& state = server.LineAt(line);
  return Server::Clearance(kRemoteLevel, state.level) || state.accountFlags[kFlagMayRemote];
}

// The line becomes a link on its first channel, leaving private chat or a
// conference first; it is told in the telnet way, then announced.
void RemoteAsLink(Server& server, int16_t line, int16_t target, const LinkKind& kind) {
  if (server.LineAt(target).status == kOffline) {
    CommandText(server, line).clear();
    return Answer(server, line, kind.notFree);
  }
  server.LeavePlace(target);
  LineState& link = server.LineAt(target);
  link.status = kDDialLink;
  link.substate = kind.substate;
  link.linkChannels = kind.channels;
  link.channel = kind.channels[0] - '0';
  link.handle = "Remote?!";
  link.account = kGuestAccount;
  server.CountChannelUsers();
  Answer(server, line, "D-Dial Remoted");
  const std::string echo = {static_cast<char>(tntlib::tntIAC), static_cast<char>(tntlib::tntDO), tntlib::tntEcho,
                            static_cast<char>(tntlib::tntIAC), static_cast<char>(tntlib::tntWILL), tntlib::tntEcho};
  server.SendDirect(target, echo + server.stationPrefix + kind.told + server.lineBreak);
  server.Loginout(target, kLoginAnnouncement);
  server.SysLog(line, "Remoted Line #" + std::to_string(target) + " (" + kind.logged + ").");
}

// "R" d "T": the free line dials the address set with "Z", announced as
// "Link?!"; what follows its connection is the terminal session's.
void Outdial(Server& server, int16_t line, int16_t target) {
  if (server.LineAt(target).status != kOffline) {
    CommandText(server, line).clear();
    return Answer(server, line, "Invalid Line. Line In Use.");
  }
  LineState& outdial = server.LineAt(target);
  outdial.pairedLine = line;
  outdial.status = kOutdial;
  outdial.substate = kOutdialPending;
  outdial.handle = "Link?!";
  Answer(server, line, "Waiting for status...");
  CommandText(server, line).clear();
  server.Loginout(target, kLoginAnnouncement);
  const std::string port = std::to_string(server.outdialPort);
  server.SysLog(line, "Attempted to connect to " + server.outdialAddress + ":" + port + ".");
  TelnetControl& control = server.PortControl(target);
  control.SetRemotePort(server.outdialPort);
  control.Connect(server.outdialAddress);  // a failure ends the outdial (OnPortException)
}

// "R" d "P": both lines leave their places; what the operator types goes to
// the target and back, until the grave accent restores both.
void Pair(Server& server, int16_t line, int16_t target) {
  if (target == line) return server.Response(kInvalidLine, line);
  if (server.LineAt(target).status == kOffline) return server.Response(kNotOnline, line);
  server.LeavePlace(line);
  server.LeavePlace(target);
  for (const auto& [l, partner, substate] : {std::tuple{line, target, kInRemote}, std::tuple{target, line, kPairedTarget}}) {
    LineState& state = server.LineAt(l);
    LineConnection& before = server.ConnectionAt(l);
    std::tie(before.statusBeforePairing, before.substateBeforePairing) = std::tuple(state.status, state.substate);
    std::tie(state.status, state.substate, state.pairedLine) = std::tuple(kOutdial, substate, partner);
  }
  server.CountChannelUsers();
  Answer(server, line, "Entered private chat");
}

}  // namespace

void RemoteCommand(Server& server, int16_t line) {
  const std::string& text = CommandText(server, line);
  const char what = text.size() >= 3 ? Upper(text.substr(2, 1))[0] : '\0';
  for (const LinkKind& kind : kLinkKinds) {
    if (what != kind.letter) continue;
    if (!MayRemote(server, line)) return server.Response(kInsufficientClearance, line);
    const int16_t target = server.chkline(text.substr(1, 1));
    if (target < 0) return server.Response(kInvalidLine, line);
    return RemoteAsLink(server, line, target, kind);
  }
  if (what == 'M') return server.Response(MayRemote(server, line) ? kIncompleteFunction : kInsufficientClearance, line);
  const int16_t level = server.LineAt(line).level;
  if (what == 'T' && !Server::Clearance(kOutdialLevel, level)) return server.Response(kInsufficientClearance, line);
  if (what == 'P' && !Server::Clearance(server.config.options[kRelogLevel], level)) {
    return server.Response(kInsufficientClearance, line);
  }
  if (what != 'L' && what != 'K' && what != 'T' && what != 'P') return server.Response(kUnrecognizedCommand, line);
  const int16_t target = server.chkline(text.substr(1, 1));
  if (target < 0) return server.Response(kInvalidLine, line);
  switch (what) {
    case 'T': return Outdial(server, line, target);
    case 'P': return Pair(server, line, target);
    case 'L': return RelogCommand(server, line, target);
    default: return ProtectionCommand(server, line, target);
  }
}

}  // namespace tellarium
