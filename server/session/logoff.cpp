// Logoff: the single exit of every line.
#include "server/core/server.h"
#include "telnetctl/korvatel.h"

namespace tellarium {

// For now a logoff frees the line. The full logoff adds, before the reset: the
// station's last call time, the thank-you text, the last-callers list, the
// logoff announcement (Loginout), the account's counters and index entry, the
// channel place, the "KLICK!" text and the sysop display refresh.
void Server::lgoff(int16_t line) {
  const ErrorTrap trap = Trap("Lgoff");
  trap([&] { ResetLine(line); });
  trap([&] { CloseConnection(line); });
}

// The line is free again and remembers nothing of its caller; logoffAnnounced
// stays set until the next login.
void Server::ResetLine(int16_t line) {
  LineState& state = LineAt(line);
  state.status = kOffline;
  state.substate = 0;
  state.lineType = 0;
  state.handle = "";
  state.level = 0;
  state.account = "";
  state.channel = 0;
  state.linkChannels = "";
  state.pairedLine = 0;
  state.lineSpacing = false;
  state.mailCount = 0;
  state.loginAnnounced = false;
  state.clientVersion = "V2.00";
  state.remoteAddress = "";
  state.killProtected = false;
  state.sgaPending = true;
  state.sgaAgreed = false;
  state.echoRequested = true;
  state.echoAgreed = false;
  const auto i = static_cast<std::size_t>(line);
  receiveBuffer[i].clear();
  inputLine[i].clear();
  typing[i] = false;
  heldOutput[i].Clear();
}

// Only a connection that is still up is closed, at once.
void Server::CloseConnection(int16_t line) {
  if (Connected(line)) PortControl(line).Close(true);
}

}  // namespace tellarium
