// The login decision: the typed account and password make the line a member,
// a guest, a link, or refuse it; then the session starts and the call is
// counted.
#include <algorithm>
#include <array>
#include <cctype>
#include <limits>
#include <string>
#include <utility>

#include "platform/clock.h"
#include "platform/loop.h"
#include "server/core/dates.h"
#include "server/core/record_layouts.h"
#include "server/core/server.h"
#include "server/core/text_fields.h"

namespace tellarium {
namespace {

constexpr std::string_view kGuestAccount = "N/A";
constexpr std::string_view kSysOpAccount = "000";
constexpr std::string_view kEmptyPassword = "~";
constexpr int16_t kDuplicateClosed = 4;  // substate of a line closed as a duplicate
constexpr int16_t kLine0Level = 3;       // the lowest level line #0 admits
// A guest on a Client line is shown a password-length line of asterisks of
// fixed length, so it tells nothing about any account.
constexpr std::size_t kGuestStars = 23;

constexpr int16_t kRed = 31;
constexpr int16_t kWhite = 37;
constexpr int16_t kBlack = 40;

// What the caller typed: the account number's three characters, then the
// password without surrounding blanks and without anything from a "}" on.
struct TypedLogin {
  std::string account;
  std::string password;
};

TypedLogin SplitLogin(const std::string& typed) {
  TypedLogin login{typed.substr(0, 3), ""};
  if (typed.size() > 3) login.password = std::string(Trim(std::string_view(typed).substr(3)));
  login.password = login.password.substr(0, login.password.find('}'));
  return login;
}

bool SameIgnoringCase(std::string_view a, std::string_view b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](unsigned char x, unsigned char y) {
    return std::tolower(x) == std::tolower(y);
  });
}

// A line's kind by the account's flags; a later rule overrides an earlier one.
struct LineKindRule {
  int flag;
  int16_t status;
  int16_t substate;
  const char* linkChannels;  // none for a chat user
};
constexpr std::array<LineKindRule, 5> kLineKinds{{
    {kFlagChatUser, kChatUser, 0, nullptr},
    {kFlagDdlLink, kDDialLink, 0, "1"},
    {kFlagDclLink, kDDialLink, 1, "12"},
    {kFlagQvlLink, kDDialLink, 2, "123456789"},
    {kFlagQvsLink, kQvsLink, 0, "RNGLSWX"},
}};

bool IsLinkAccount(const AccountFlags& flags) {
  return flags[kFlagDdlLink] || flags[kFlagDclLink] || flags[kFlagQvlLink] || flags[kFlagQvsLink];
}

template <class Counter>
void CountUp(Counter& counter) {
  if (counter == std::numeric_limits<Counter>::max()) Raise(ErrorNumber::kOverflow);
  ++counter;
}

}  // namespace

void Server::LoginControl(int16_t Index) {
  const ErrorTrap trap = Trap("LoginControl");
  bool known = false;
  trap([&] {
    LineAt(Index);
    known = true;
  });
  if (!known) return;
  const auto i = static_cast<std::size_t>(Index);
  loginConnection_[i] = connectionCount_[i];
  heldOutput[i].Clear();
  typing[i] = false;
  const TypedLogin typed = SplitLogin(inputLine[i]);
  bool identified = true;
  trap([&] { identified = IdentifyCaller(Index, typed.account, typed.password); });
  if (!identified) return;
  send(Index, 11, lineBreak + lineBreak + lineBreak);
  inputLine[i].clear();
  if (!StillLoggingIn(Index)) return;
  const FixedText<3> account = LineAt(Index).account;
  bool admitted = true;
  // A matched account whose characters are no member number (letters, say)
  // gets no member session.
  if (account.Trimmed() == kGuestAccount) {
    trap([&] { admitted = AdmitGuest(Index); });
  } else if (MemberAccount(account)) {
    trap([&] { admitted = AdmitMember(Index); });
  }
  if (admitted) FinishLogin(Index);
}

// Makes the line a member or a guest by the account and password typed.
// False when the login ends here: the account is in use on another line.
bool Server::IdentifyCaller(int16_t line, const std::string& account, const std::string& password) {
  // Cleared first, so an account file that cannot be read never passes for
  // the account read before it.
  currentAccount.flags[kFlagInUse] = false;
  uread(ToInt16(LeadingNumber(account)));
  if (!currentAccount.flags[kFlagInUse]) {
    send(line, 6, "Invalid Account" + lineBreak);
    MakeGuest(line);
    return true;
  }
  // The guest mark is no account a caller may type.
  if (password.empty() || password == kEmptyPassword || account == kGuestAccount ||
      !SameIgnoringCase(currentAccount.password.Trimmed(), password)) {
    MakeGuest(line);
    return true;
  }
  const int16_t other = LineWithAccount(line, account);
  if (other >= 0) {
    RefuseDuplicate(line, other, account);
    return false;
  }
  TakeAccount(line, account);
  return true;
}

// All the line needs of the account is taken now: the current account is
// read again by any login that runs while this one lets events run.
void Server::TakeAccount(int16_t line, const std::string& account) {
  LineState& state = LineAt(line);
  state.level = currentAccount.level;
  state.handle = currentAccount.handle.Trimmed();
  state.account = account;
  state.accountFlags = currentAccount.flags;
  state.mailCount = 0;
  state.mailCount = ToInt16(currentAccount.mailStored);
}

void Server::MakeGuest(int16_t line) {
  InputLineAt(line).clear();
  LineState& state = LineAt(line);
  state.handle = "?";
  state.account = kGuestAccount;
  state.level = 0;
  state.accountFlags = {};
  state.mailCount = 0;
}

// The first other line that uses the account, from line 0 up; -1 when none does.
int16_t Server::LineWithAccount(int16_t line, const std::string& account) {
  for (int16_t other = 0; other <= config.maxLines; ++other) {
    const LineState& state = LineAt(other);
    if (other != line && state.status >= kLoggingIn && state.account.Raw() == account) return other;
  }
  return -1;
}

// The newcomer is told, logged and disconnected; the session already using
// the account goes on.
void Server::RefuseDuplicate(int16_t line, int16_t other, const std::string& account) {
  platform::Pump();
  send(line, 6, "Duplicate Account! ERROR! Logged!" + lineBreak);
  InputLineAt(other).clear();
  backlog(6, "Duplicate Account Use for #" + account + "!!" + lineBreak, other);
  SysLog(-1, DuplicateLogText(other, account));
  LineAt(line).substate = kDuplicateClosed;
  CloseConnection(line);
}

std::string Server::DuplicateLogText(int16_t other, const std::string& account) {
  const std::tm now = platform::LocalNow();
  const std::string banner = "-->Duplicate Account Use<--";
  return banner + lineBreak + "Account #" + account + " @" + LineAt(other).remoteAddress.Trimmed() + " Line #" +
         std::to_string(other) + lineBreak + "Time:" + tme(TimeText(now)) + " <--> " + dte(DateText(now)) +
         lineBreak + banner;
}

// False when the member is refused.
bool Server::AdmitMember(int16_t line) {
  send(line, 11, " " + lineBreak);
  if (line == 0 && LineAt(line).level < kLine0Level) {
    RefuseOnLine0(line, "Insufficient Clearance For This Port!");
    return false;
  }
  SendPostLoginMessage(line, "@");
  if (!StillLoggingIn(line)) return false;
  ApplyLineKind(LineAt(line));
  return true;
}

// Links keep a level above 1 only with the account's flag 5.
void Server::ApplyLineKind(LineState& state) {
  for (const LineKindRule& kind : kLineKinds) {
    if (!state.accountFlags[static_cast<std::size_t>(kind.flag)]) continue;
    state.status = kind.status;
    state.substate = kind.substate;
    if (kind.linkChannels != nullptr) state.linkChannels = kind.linkChannels;
  }
  if (!state.accountFlags[kFlagLinkTest] && IsLinkAccount(state.accountFlags)) {
    state.level = std::min<int16_t>(state.level, 1);
  }
}

// False when the guest is refused.
bool Server::AdmitGuest(int16_t line) {
  if (line == 0) {
    RefuseOnLine0(line, "Insufficient clearance for this port!");
    return false;
  }
  if (LineAt(line).lineType == kClientLine) send(line, 11, std::string(kGuestStars, '*') + lineBreak);
  if (!StillLoggingIn(line)) return false;
  LineState& state = LineAt(line);
  state.status = kChatUser;
  state.substate = kOnChannel;
  SendPostLoginMessage(line, "#");
  return true;
}

void Server::RefuseOnLine0(int16_t line, std::string_view notice) {
  send(line, 5, std::string(notice) + lineBreak);
  LineAt(line).status = kOffline;
  lgoff(line);
}

void Server::SendPostLoginMessage(int16_t line, std::string_view slot) {
  ReadSlot(slot);
  if (currentSlot.enabled) send(line, 11, currentSlot.text.TrimmedRight() + lineBreak);
}

// Every send lets events run: a caller who hung up meanwhile has been logged
// off (or a login typed meanwhile has ended), and the login stops there, also
// when a new caller has taken the line since.
bool Server::StillLoggingIn(int16_t line) { return LineAt(line).status == kLoggingIn && LoginCallerStayed(line); }

bool Server::LoginCallerStayed(int16_t line) {
  const auto i = static_cast<std::size_t>(line);
  return loginConnection_[i] == connectionCount_[i];
}

// Every login that got this far: the session's settings, the log entry, the
// call counters, the notices and the announcement. A line whose connection
// went while events ran is logged off already and stays free.
void Server::FinishLogin(int16_t line) {
  const ErrorTrap trap = Trap("LoginControl");
  trap([&] { StartSession(line); });
  platform::Pump();
  if (LineAt(line).status == kOffline || !LoginCallerStayed(line)) return;
  trap([&] { SysLog(line, "Logged on from " + LineAt(line).remoteAddress.Trimmed() + " on line #" +
                              std::to_string(line) + "."); });
  trap([&] { CountUp(config.callsToday); });
  trap([&] { CountUp(config.totalCalls); });
  trap([&] { SendLoginNotices(line); });
  trap([&] { WriteConfigRecord<CallRecord>(kCallRecordNumber); });
  trap([&] { SendMailOrHelpNotice(line); });
  if (LineAt(line).status == kOffline) return;
  trap([&] { MoveToChannel(line, 1); });
  trap([&] { Loginout(line, 1); });
  typing[static_cast<std::size_t>(line)] = false;
  trap([&] {
    LineState& state = LineAt(line);
    state.killProtected = state.account.Raw() == kSysOpAccount;
  });
}

// A new session remembers nothing of the line's previous one.
void Server::StartSession(int16_t line) {
  LineState& state = LineAt(line);
  state.lineSpacing = false;
  state.beepFlag = state.privateMsgBeep = state.loginBeep = true;
  state.replyAccount = -1;
  state.pairedLine = -1;
  state.mailReadIndex = 0;
  memberListPosition[static_cast<std::size_t>(line)] = 0;
  state.loginAnnounced = state.logoffAnnounced = false;
  state.onlineTime = 0;
  MoveToChannel(line, 1);
}

void Server::SendLoginNotices(int16_t line) {
  send(line, 4, "You are caller #" + std::to_string(config.callsToday) + " for today.^" + "System has received " +
                    std::to_string(config.totalCalls) + " total calls." + lineBreak);
}

// A member hears of stored mail, a guest how to get help.
void Server::SendMailOrHelpNotice(int16_t line) {
  const LineState& state = LineAt(line);
  const bool guest = state.account.Trimmed() == kGuestAccount;
  const std::string alert = AnsiFor(line, kRed, true, false);
  const std::string normal = AnsiFor(line, kWhite, false, true);
  if (!guest && state.mailCount > 0) send(line, 6, alert + "You have email." + normal + lineBreak);
  if (guest) send(line, 6, "Type " + alert + "/?" + normal + " For Help." + lineBreak);
}

// ANSI builds for currentLine; the login's colours are for the line logging
// in. ANSI lets no events run, so currentLine is back before anyone reads it.
std::string Server::AnsiFor(int16_t line, int16_t fgrnd, bool blink, bool reset) {
  const int16_t saved = std::exchange(currentLine, line);
  std::string sequence = ANSI(fgrnd, kBlack, blink, true, false, false, reset);
  currentLine = saved;
  return sequence;
}

}  // namespace tellarium
