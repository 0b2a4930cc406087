// Session timers: minutes online, time limits and time-outs, the new day for
// the call counter, and station identification (no interval).
#include <array>
#include <optional>
#include <string>

#include "platform/loop.h"
#include "server/core/dates.h"
#include "server/core/server.h"

namespace tellarium {
namespace {

using SessionTimer = Server::SessionTimer;

constexpr std::size_t kSessionTimerSlots = 5;  // indexed by SessionTimer
constexpr uint32_t kNoInterval = 0;
uint32_t IntervalMs(SessionTimer timer) {
  switch (timer) {
    case SessionTimer::OnlineTimer: return 60'000;
    case SessionTimer::TimeoutTimer: return 30'000;
    case SessionTimer::LoginTimer: return 250;  // a waited answer is given within a quarter second
    case SessionTimer::SIDTime: return kNoInterval;
  }
  return kNoInterval;
}

std::size_t SlotOf(SessionTimer timer) { return static_cast<std::size_t>(timer); }

// Indices of the configured time limits.
using TimeLimits = std::array<int16_t, 7>;
constexpr std::array<std::size_t, 5> kLevelLimit = {1, 0, 2, 3, 4};  // by level 0..4
constexpr std::size_t kDDialLinkLimit = 5;
constexpr std::size_t kQvsLinkLimit = 6;

// The limit in minutes that applies to the line, if any. A link's limit counts
// from 0 up; a chat user's whenever it is not -1.
std::optional<int16_t> TimeLimitOf(const LineState& line, const TimeLimits& limits) {
  switch (line.status) {
    case kDDialLink:
      if (limits[kDDialLinkLimit] >= 0) return limits[kDDialLinkLimit];
      break;
    case kQvsLink:
      if (limits[kQvsLinkLimit] >= 0) return limits[kQvsLinkLimit];
      break;
    case kChatUser:
      if (line.level >= 0 && line.level < static_cast<int16_t>(kLevelLimit.size())) {
        const int16_t limit = limits[kLevelLimit[static_cast<std::size_t>(line.level)]];
        if (limit != -1) return limit;
      }
      break;
    default: break;
  }
  return std::nullopt;
}

// The substate that marks a line whose time is up.
int16_t TimeUpSubstate(int16_t status) {
  switch (status) {
    case kDDialLink: return kDDialTimeLimit;
    case kQvsLink: return kQvsTimeLimit;
    default: return kTimeLimitWarned;
  }
}

// A tick on a new day clears today's calls; `day` remembers the day last seen.
void StartNewDayIfDue(Server& server, double& day) {
  const double today = TodayDayCount();
  if (today == day) return;
  day = today;
  server.config.callsToday = 0;
}

// Line #0 never times out, nor does a line given unlimited time. A line
// marked in private chat or a conference leaves it first: those leave notices
// are all that marking sends.
void CountMinuteOnline(Server& server, int16_t l) {
  LineState& line = server.LineAt(l);
  if (line.status != kOffline) line.onlineTime += 1;
  if (l == 0 || line.unlimitedTime) return;
  const std::optional<int16_t> limit = TimeLimitOf(line, server.config.timeLimits);
  if (!limit || line.onlineTime <= *limit) return;
  const int16_t status = line.status;
  server.LeavePlace(l);
  LineState& marked = server.LineAt(l);
  if (marked.status == status) marked.substate = TimeUpSubstate(status);
}

}  // namespace

// The window the session timers run on, made when a timer is first switched
// on. A tick already queued when its timer was switched off is dropped.
struct Server::SessionTimerWindow final : platform::MessageTarget {
  explicit SessionTimerWindow(Server& s) : server(s) {}
  void HandleMessage(uint32_t message, uint64_t wparam, int64_t) override {
    if (message != platform::kTimerMessage || wparam >= enabled.size() || !enabled[wparam]) return;
    switch (static_cast<SessionTimer>(wparam)) {
      case SessionTimer::OnlineTimer: server.Trap("OnlineTimer")([&] { server.OnlineTimerTick(); }); break;
      case SessionTimer::TimeoutTimer: server.Trap("TimeoutTimer")([&] { server.TimeoutTimerTick(); }); break;
      case SessionTimer::SIDTime: server.StationID(); break;
      case SessionTimer::LoginTimer: server.Trap("LoginTimer")([&] { server.LoginTimerTick(); }); break;
    }
  }
  Server& server;
  std::array<bool, kSessionTimerSlots> enabled{};
  double timeoutTimerDay = 0;     // the day TimeoutTimer last saw
};

void Server::EnableTimer(SessionTimer timer, bool enabled) {
  SessionTimerWindow& window = sessionTimers_.GetOrEmplace(*this);
  bool& on = window.enabled[SlotOf(timer)];
  if (on == enabled) return;
  on = enabled;
  const auto id = static_cast<uint32_t>(timer);
  if (enabled && IntervalMs(timer) != kNoInterval) {
    platform::SetTimer(window.target_id(), id, IntervalMs(timer));
  } else {
    platform::KillTimer(window.target_id(), id);
  }
}

bool Server::TimerEnabled(SessionTimer timer) const {
  const SessionTimerWindow* window = sessionTimers_.get();
  return window != nullptr && window->enabled[SlotOf(timer)];
}

void Server::RememberStartDay() {
  startDay = TodayDayCount();
  SessionTimerWindow& window = sessionTimers_.GetOrEmplace(*this);
  window.timeoutTimerDay = startDay;
}

// Marking is silent: the line hears of it at its next input (TmeOut).
void Server::OnlineTimerTick() {
  const ErrorTrap trap = Trap("OnlineTimer");
  trap([&] { StartNewDayIfDue(*this, startDay); });
  for (int16_t l = 0; l <= config.maxLines; ++l) trap([&] { CountMinuteOnline(*this, l); });
}

// Every chat user hears of it, the marked one included; each further line the
// marked user types repeats the notice.
void Server::TmeOut(int16_t Index) {
  Trap("tmeout")([&] {
    const std::string notice = stationPrefix + "#" + std::to_string(Index) + " timeout. Logoff in 30 seconds." +
                               lineBreak + HeldOutput::kEndMark;
    for (int16_t l = 0; l <= config.maxLines; ++l) {
      if (LineAt(l).status == kChatUser) heldOutput[static_cast<std::size_t>(l)].Append(notice);
    }
  });
  EnableTimer(SessionTimer::TimeoutTimer, true);
}

// lgoff lets events run, so each line is looked at afresh.
void Server::TimeoutTimerTick() {
  const ErrorTrap trap = Trap("TimeoutTimer");
  trap([&] { StartNewDayIfDue(*this, sessionTimers_.GetOrEmplace(*this).timeoutTimerDay); });
  for (int16_t l = 1; l <= config.maxLines; ++l) {
    trap([&] {
      if (InTimeLimitState(l)) lgoff(l);
    });
  }
  EnableTimer(SessionTimer::TimeoutTimer, false);
}

}  // namespace tellarium
