// Logoff: the single exit of every line, whatever ended the session.
#include <algorithm>
#include <cmath>
#include <limits>
#include <string>

#include "platform/clock.h"
#include "platform/loop.h"
#include "server/core/dates.h"
#include "server/core/record_layouts.h"
#include "server/core/server.h"
#include "server/core/text_fields.h"
#include "telnetctl/korvatel.h"

namespace tellarium {
namespace {

// A counter raised by the minutes online; a sum past its range is an Overflow.
void AddMinutes(int32_t& counter, double minutes) {
  const double sum = std::nearbyint(static_cast<double>(counter) + minutes);
  if (sum < std::numeric_limits<int32_t>::min() || sum > std::numeric_limits<int32_t>::max()) {
    Raise(ErrorNumber::kOverflow);
  }
  counter = static_cast<int32_t>(sum);
}

// Reset, with no caller and no connection.
bool LineIsFree(Server& server, int16_t line) {
  const LineState& state = server.LineAt(line);
  return state.status == kOffline && state.handle.Trimmed().empty() && state.account.Trimmed().empty() &&
         !server.Connected(line);
}

// The station's last call, in record 3 of config.qvs at once.
void StampLastCall(Server& server) {
  const std::tm now = platform::LocalNow();
  server.config.lastCallDate = DateText(now);
  server.config.lastCallTime = TimeText(now);
  server.WriteConfigRecord<CallRecord>(kCallRecordNumber);
}

// The caller goes first in the list of the last ten, and the whole list to
// lastcalls.qvs.
void RecordLastCaller(Server& server, int16_t line) {
  const LineState& state = server.LineAt(line);
  const std::tm now = platform::LocalNow();
  auto& lastCallers = server.lastCallers;
  std::move_backward(lastCallers.begin(), lastCallers.end() - 1, lastCallers.end());
  LastCallerRecord& caller = lastCallers[0];
  caller.handle = state.handle.Raw();
  caller.account = state.account.Raw();
  caller.lineCode = std::to_string(line).substr(0, 1);
  caller.time = TimeText(now).substr(0, 5);
  caller.date = DateText(now);
  caller.inUse = true;
  const ErrorTrap trap = server.Trap("Lgoff");
  for (int entry = 0; entry < kLastCallerCount; ++entry) {
    trap([&] { PutRecord<LastCallerLayout>(kLastCallsFile, entry + 1, lastCallers[static_cast<std::size_t>(entry)]); });
  }
}

// The member's account takes the session: its handle, the minutes online in
// both counters and the time of the call; the index lists the account.
void SaveAccountAtLogoff(Server& server, int16_t line) {
  const ErrorTrap trap = server.Trap("Lgoff");
  const LineState& state = server.LineAt(line);
  const int16_t acc = Server::AccountNumber(state.account.Raw());
  if (acc < 0 || acc >= kAccountCount) Raise(ErrorNumber::kSubscriptOutOfRange);
  const std::tm now = platform::LocalNow();
  {
    const SharedBufferHold hold;
    UserRecord& account = server.currentAccount;
    server.uread(acc);
    account.handle = state.handle.Raw();
    trap([&] { AddMinutes(account.counter1, state.onlineTime); });
    trap([&] { AddMinutes(account.counter2, state.onlineTime); });
    account.lastCallDate = DateText(now);
    account.lastCallTime = TimeText(now);
    server.uwrite(acc);
  }
  AccountIndexEntry& entry = server.accountIndex[static_cast<std::size_t>(acc)];
  if (!entry.inUse) ++server.accountCount;
  entry.inUse = true;
  entry.name = state.handle.Trimmed();
}

}  // namespace

// Aborts a graceful close still under way when its grace has run out; a line
// whose close has finished, or that took a new caller meanwhile, is left alone.
struct Server::CloseTimerWindow final : platform::MessageTarget {
  explicit CloseTimerWindow(Server& s) : server(s) {}
  void HandleMessage(uint32_t message, uint64_t wparam, int64_t) override {
    if (message != platform::kTimerMessage) return;
    platform::KillTimer(target_id(), static_cast<uint32_t>(wparam));
    server.Trap("CloseTimer")([&] {
      const auto line = static_cast<int16_t>(wparam);
      if (wparam < static_cast<uint64_t>(kLineCount) && server.Closing(line)) server.PortControl(line).Close(true);
    });
  }
  Server& server;
};

int16_t Server::AccountNumber(std::string_view account) { return ToInt16(LeadingNumber(account)); }

bool Server::MemberAccount(const FixedText<3>& account) {
  return account.Raw() == kSysOpAccount || LeadingNumber(account.Raw()) > 0;
}

bool Server::MemberNumber(std::string_view digits) {
  return digits.size() == FixedText<3>::kWidth && MemberAccount(FixedText<3>(digits));
}

bool Server::LoggingOff(int16_t line) { return ConnectionAt(line).logoffsUnderWay > 0; }

// Each step reads the line afresh: the sends and the announcement let other
// events run. A line that has already been logged off has nothing to end, so
// a second call (such as the close notice of the line's own connection) does
// nothing.
void Server::lgoff(int16_t line) {
  const ErrorTrap trap = Trap("Lgoff");
  bool free = false;
  trap([&] { free = LineIsFree(*this, line); });
  if (free) return;
  // The logoff lets events run (its sends, the announcement); a caller
  // arriving meanwhile gets another line.
  const bool known = line >= 0 && line < kLineCount;
  if (known) ++ConnectionAt(line).logoffsUnderWay;
  trap([&] { LeavePlace(line); });
  trap([&] { StampLastCall(*this); });
  trap([&] {
    if (LineAt(line).substate == kNormalLogoff) send(line, kStationMode, "Thank you for using Tellarium!");
  });
  trap([&] {
    if (LineAt(line).status == kChatUser) RecordLastCaller(*this, line);
  });
  trap([&] { Loginout(line, kLogoffAnnouncement); });
  trap([&] {
    if (MemberAccount(LineAt(line).account)) SaveAccountAtLogoff(*this, line);
  });
  trap([&] { LeaveChannel(line); });
  trap([&] {
    if (LineAt(line).substate == kKilled) send(line, kLogoffNoticeMode, "KLICK!");
  });
  trap([&] { ResetLine(line); });
  trap([&] { SysScreen(); });
  trap([&] { CloseConnection(line); });
  if (known) --ConnectionAt(line).logoffsUnderWay;
}

// The line is free again and remembers nothing of its caller; logoffAnnounced
// stays set until the next login. No partner: -1, since 0 is a line.
void Server::ResetLine(int16_t line) {
  LineState& state = LineAt(line);
  state.status = kOffline;
  state.substate = kNormalLogoff;
  state.lineType = 0;
  state.handle = "";
  state.level = 0;
  state.account = "";
  state.channel = 0;
  state.linkChannels = "";
  state.pairedLine = -1;
  state.lineSpacing = false;
  state.mailCount = 0;
  state.loginAnnounced = false;
  state.clientVersion = "V2.00";
  state.remoteAddress = "";
  state.killProtected = false;
  state.unlimitedTime = false;
  state.editAccount.clear();
  state.sgaPending = true;
  state.sgaWillAgreed = state.sgaDoAgreed = false;
  state.echoRequested = true;
  state.echoAgreed = false;
  const auto i = static_cast<std::size_t>(line);
  receiveBuffer[i].clear();
  inputLine[i].clear();
  typing[i] = false;
  heldOutput[i].Clear();
}

// A connection that is still up is closed gracefully, so the caller reads
// everything sent before (the farewell texts); an abortive close would throw
// them away. The grace is bounded: a close still under way after
// kCloseGraceMs (a peer that reads nothing) is aborted, so the line is free
// again within that time.
void Server::CloseConnection(int16_t line, uint32_t graceMs) {
  if (!Connected(line)) return;
  PortControl(line).Close(false);
  CloseTimerWindow& timers = closeTimers_.GetOrEmplace(*this);
  platform::SetTimer(timers.target_id(), static_cast<uint32_t>(line), graceMs);
}

}  // namespace tellarium
