// Defences against abuse, set in limits.conf. Each writes to the system log
// at most once a minute per address and kind, so that a flood does not wash
// the log's history out.
#include <algorithm>
#include <string>

#include "platform/clock.h"
#include "server/core/server.h"

namespace tellarium {
namespace {

constexpr int64_t kDefenceLogGapMs = 60'000;
// Past this many remembered entries, those older than the gap are let go.
constexpr std::size_t kDefenceLogMemory = 1024;
// A peer that does not read is cut off at the next turn of the loop, not
// after the grace a farewell gets.
constexpr uint32_t kNoGraceMs = 1;

int64_t NowMs() { return platform::CurrentClock().MonotonicMs(); }

// Lines held by callers from `address` (the station's outdial has none).
int LinesHeldBy(Server& server, const std::string& address) {
  int held = 0;
  for (int16_t l = 0; l <= server.config.maxLines; ++l) {
    held += server.LineAt(l).status != kOffline && server.ConnectionAt(l).callerAddress == address;
  }
  return held;
}

// The caller hears why; its line stays free.
void TurnAway(Server& server, int16_t line, const std::string& reason) {
  server.ConnectionAt(line).refused = true;
  server.SendDirect(line, reason + server.lineBreak);
  server.CloseConnection(line);
}

// A caller still at the login prompt or the password hears why; its line is
// then logged off as when a caller hangs up.
void CutOffLogin(Server& server, int16_t line) {
  const std::string& address = server.ConnectionAt(line).callerAddress;
  server.LogDefence(address, "login time-out",
                    "Login time-out from " + address + " on line #" + std::to_string(line) + ".");
  server.LineAt(line).substate = kLoginTimedOut;
  server.SendDirect(line, "Login timed out." + server.lineBreak);
  server.CloseConnection(line);
}

// The failed login that waited is answered as it would have been at once.
void AnswerLate(Server& server, int16_t line) {
  LineConnection& connection = server.ConnectionAt(line);
  connection.answeringLate = true;
  server.LoginControl(line);
  connection.answeringLate = false;
}

// What a line still waiting for its login asks of the timer: false when it
// asks nothing more.
bool TendLogin(Server& server, int16_t line, int64_t nowMs) {
  LineConnection& connection = server.ConnectionAt(line);
  if (connection.loginDeadlineMs == 0 && connection.lateAnswerDueMs == 0) return false;
  if (connection.awaitingProxyHeader) {
    if (!server.Connected(line)) connection.awaitingProxyHeader = false;
    if (connection.awaitingProxyHeader && nowMs >= connection.loginDeadlineMs) server.RefuseProxyHeader(line);
    return connection.awaitingProxyHeader;
  }
  if (server.LineAt(line).status != kLoggingIn || !server.Connected(line)) {
    connection.loginDeadlineMs = connection.lateAnswerDueMs = 0;
    return false;
  }
  if (connection.loginDeadlineMs != 0 && nowMs >= connection.loginDeadlineMs) {
    connection.loginDeadlineMs = connection.lateAnswerDueMs = 0;
    CutOffLogin(server, line);
    return false;
  }
  if (connection.lateAnswerDueMs != 0 && nowMs >= connection.lateAnswerDueMs) {
    connection.lateAnswerDueMs = 0;
    AnswerLate(server, line);
  }
  return connection.loginDeadlineMs != 0 || connection.lateAnswerDueMs != 0;
}

}  // namespace

// A flood from one address is closed without a word; otherwise the caller is
// told why.
bool Server::RefusedAtConnect(int16_t line, const std::string& address) {
  const int held = LinesHeldBy(*this, address);
  switch (abuseWatch_.Screen(limits, address, held, NowMs())) {
    case Refusal::kNone: return false;
    case Refusal::kTooManyConnections:
      LogDefence(address, "connections", "Refused " + address + ": too many connections.");
      ConnectionAt(line).refused = true;
      PortControl(line).Close(true);
      return true;
    case Refusal::kTooManyLines:
      LogDefence(address, "lines", "Refused " + address + ": " + std::to_string(held) + " lines in use.");
      TurnAway(*this, line, "Too many connections from your address. Try again later.");
      return true;
    case Refusal::kBlocked:
      TurnAway(*this, line, "Too many failed logins from your address. Try again later.");
      return true;
  }
  return false;
}

void Server::StartLoginClock(int16_t line) {
  ConnectionAt(line).loginDeadlineMs = NowMs() + int64_t{limits.loginTimeoutS} * 1000;
  EnableTimer(SessionTimer::LoginTimer, true);  // a timer already running is left as it is
}

bool Server::FailedLoginWaits(int16_t line, const std::string& account) {
  LineConnection& connection = ConnectionAt(line);
  if (connection.answeringLate) return false;  // counted when it began to wait
  const std::string& address = connection.callerAddress;
  const FailedLogin failed = abuseWatch_.NoteFailedLogin(limits, address, account, NowMs());
  if (failed.blocksAddress) {
    LogDefence(address, "blocked",
               "Blocked " + address + " for " + std::to_string(limits.blockMinutes) + " minutes after " +
                   std::to_string(failed.addressFailures) + " failed logins.");
  }
  if (failed.answerDelayMs == 0) return false;
  LogDefence(account, "slowed",
             "Slowed logins to account #" + account + " after " + std::to_string(failed.accountFailures) +
                 " failures.");
  connection.lateAnswerDueMs = NowMs() + failed.answerDelayMs;
  EnableTimer(SessionTimer::LoginTimer, true);
  return true;
}

// Runs while some caller has not logged in.
void Server::LoginTimerTick() {
  const ErrorTrap trap = Trap("LoginTimer");
  bool waiting = false;
  for (int16_t l = 0; l <= config.maxLines; ++l) {
    trap([&] { waiting = TendLogin(*this, l, NowMs()) || waiting; });
  }
  if (!waiting) EnableTimer(SessionTimer::LoginTimer, false);
}

void Server::CutOffReader(int16_t line) {
  const LineConnection& connection = ConnectionAt(line);
  LogDefence(connection.callerAddress, "unsent",
             "Logged off line #" + std::to_string(line) + ": " + std::to_string(connection.unsentBytes / kKib) +
                 " KiB unsent.");
  CloseConnection(line, kNoGraceMs);
}

// Runs for every send: the index is a port control's own, in the table.
void Server::OnPortSent(int16_t line, int32_t bytes) {
  int64_t& unsent = connections[static_cast<std::size_t>(line)].unsentBytes;
  unsent = std::max<int64_t>(0, unsent - bytes);
}

void Server::LogDefence(const std::string& address, std::string_view kind, const std::string& entry) {
  const int64_t now = NowMs();
  const auto [last, first] = defenceLoggedMs_.try_emplace({std::string(kind), address}, now);
  if (!first && now - last->second < kDefenceLogGapMs) return;
  last->second = now;
  SysLogStamped(entry);
  if (defenceLoggedMs_.size() > kDefenceLogMemory) {
    std::erase_if(defenceLoggedMs_, [now](const auto& logged) { return now - logged.second >= kDefenceLogGapMs; });
  }
}

}  // namespace tellarium
