// Defences against abuse, set in limits.conf: the login time-out, and the
// system-log entries of every defence, at most one per address and kind a
// minute so that a flood does not wash the log's history out.
#include "platform/clock.h"
#include "server/core/server.h"

namespace tellarium {
namespace {

constexpr int64_t kDefenceLogGapMs = 60'000;

int64_t NowMs() { return platform::CurrentClock().MonotonicMs(); }

// A caller still at the login prompt or the password hears why; its line is
// then logged off as when a caller hangs up.
void CutOffLogin(Server& server, int16_t line) {
  const std::string address = server.LineAt(line).remoteAddress.Trimmed();
  server.LogDefence(address, "login time-out",
                    "Login time-out from " + address + " on line #" + std::to_string(line) + ".");
  server.LineAt(line).substate = kLoginTimedOut;
  server.SendDirect(line, "Login timed out." + server.lineBreak);
  server.CloseConnection(line);
}

}  // namespace

void Server::StartLoginClock(int16_t line) {
  ConnectionAt(line).loginDeadlineMs = NowMs() + int64_t{limits.loginTimeoutS} * 1000;
  EnableTimer(SessionTimer::LoginTimer, true);  // a timer already running is left as it is
}

// Runs while some caller has not logged in.
void Server::LoginTimerTick() {
  const ErrorTrap trap = Trap("LoginTimer");
  bool waiting = false;
  for (int16_t l = 0; l <= config.maxLines; ++l) {
    trap([&] {
      int64_t& deadline = ConnectionAt(l).loginDeadlineMs;
      if (deadline == 0) return;
      if (LineAt(l).status != kLoggingIn || !Connected(l)) {
        deadline = 0;
      } else if (NowMs() < deadline) {
        waiting = true;
      } else {
        deadline = 0;
        CutOffLogin(*this, l);
      }
    });
  }
  if (!waiting) EnableTimer(SessionTimer::LoginTimer, false);
}

void Server::LogDefence(const std::string& address, std::string_view kind, const std::string& entry) {
  const int64_t now = NowMs();
  const auto [last, first] = defenceLoggedMs_.try_emplace({std::string(kind), address}, now);
  if (!first && now - last->second < kDefenceLogGapMs) return;
  last->second = now;
  SysLogStamped(entry);
}

}  // namespace tellarium
