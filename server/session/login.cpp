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
#include "server/core/number_text.h"
#include "server/core/record_layouts.h"
#include "server/core/server.h"
#include "server/core/text_fields.h"

namespace tellarium {
namespace {

constexpr std::string_view kEmptyPassword = "~";
constexpr int16_t kLine0Level = 3;  // the lowest level line #0 admits
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
    {kFlagChatUser, kChatUser, kOnChannel, nullptr},
    {kFlagDdlLink, kDDialLink, kDdlLink, "1"},
    {kFlagDclLink, kDDialLink, kDclLink, "12"},
    {kFlagQvlLink, kDDialLink, kQvlLink, "123456789"},
    {kFlagQvsLink, kQvsLink, kQvsKind, "RNGLSWX"},
}};

bool IsLinkAccount(const AccountFlags& flags) {
  return flags[kFlagDdlLink] || flags[kFlagDclLink] || flags[kFlagQvlLink] || flags[kFlagQvsLink];
}

template <class Counter>
void CountUp(Counter& counter) {
  if (counter == std::numeric_limits<Counter>::max()) Raise(ErrorNumber::kOverflow);
  ++counter;
}

// Every send lets events run: a caller who hung up meanwhile has been logged
// off (or a login typed meanwhile has ended), and the login stops there, also
// when a new caller has taken the line since.
bool LoginCallerStayed(Server& server, int16_t line) {
  const LineConnection& connection = server.ConnectionAt(line);
  return connection.loginSerial == connection.serial;
}

bool StillLoggingIn(Server& server, int16_t line) {
  return server.LineAt(line).status == kLoggingIn && LoginCallerStayed(server, line);
}

// All the line needs of the account is taken now: the current account is
// read again by any login that runs while this one lets events run.
void TakeAccount(Server& server, int16_t line, const std::string& accountText, const UserRecord& account) {
  LineState& state = server.LineAt(line);
  state.level = account.level;
  state.handle = account.handle.Trimmed();
  state.account = accountText;
  state.accountFlags = account.flags;
  state.mailCount = 0;
  state.mailCount = ToInt16(account.mailStored);
}

void MakeGuest(Server& server, int16_t line) {
  server.InputLineAt(line).clear();
  LineState& state = server.LineAt(line);
  state.handle = "?";
  state.account = kGuestAccount;
  state.level = 0;
  state.accountFlags = {};
  state.mailCount = 0;
}

// The first other line that uses the account, from line 0 up; -1 when none does.
int16_t LineWithAccount(Server& server, int16_t line, const std::string& account) {
  for (int16_t other = 0; other <= server.config.maxLines; ++other) {
    const LineState& state = server.LineAt(other);
    if (other != line && state.status >= kLoggingIn && state.account.Raw() == account) return other;
  }
  return -1;
}

std::string DuplicateLogText(Server& server, int16_t other, const std::string& account) {
  const std::tm now = platform::LocalNow();
  const std::string banner = "-->Duplicate Account Use<--";
  const std::string& br = server.lineBreak;
  return banner + br + "Account #" + account + " @" + server.LineAt(other).remoteAddress.Trimmed() + " Line #" +
         std::to_string(other) + br + "Time:" + server.tme(TimeText(now)) + " <--> " + server.dte(DateText(now)) +
         br + banner;
}

// The newcomer is told, logged and disconnected; the session already using
// the account goes on.
void RefuseDuplicate(Server& server, int16_t line, int16_t other, const std::string& account) {
  platform::Pump();
  server.send(line, kNoticeMode, "Duplicate Account! ERROR! Logged!" + server.lineBreak);
  server.InputLineAt(other).clear();
  server.backlog(kNoticeMode, "Duplicate Account Use for #" + account + "!!" + server.lineBreak, other);
  server.SysLog(-1, DuplicateLogText(server, other, account));
  server.LineAt(line).substate = kDuplicateClosed;
  server.CloseConnection(line);
}

// What the account and password typed make of the caller.
enum class LoginVerdict { kMember, kGuestEntry, kInvalidAccount, kWrongPassword };

struct IdentifiedLogin {
  UserRecord account;
  LoginVerdict verdict = LoginVerdict::kInvalidAccount;
};

IdentifiedLogin IdentifyLogin(Server& server, const TypedLogin& typed) {
  IdentifiedLogin login;
  {
    const SharedBufferHold hold;
    // Cleared first, so an account file that cannot be read never passes
    // for the account read before it.
    server.currentAccount.flags[kFlagInUse] = false;
    server.uread(Server::AccountNumber(typed.account));
    login.account = server.currentAccount;
  }
  if (!login.account.flags[kFlagInUse]) return login;
  // The guest mark is no account a caller may type.
  if (typed.password.empty() || typed.password == kEmptyPassword || typed.account == kGuestAccount) {
    login.verdict = LoginVerdict::kGuestEntry;
  } else {
    const bool matches = SameIgnoringCase(login.account.password.Trimmed(), typed.password);
    login.verdict = matches ? LoginVerdict::kMember : LoginVerdict::kWrongPassword;
  }
  return login;
}

// An attempt on a member account, typed as its three digits; other text at
// the prompt (a name, a greeting) is a guest's entry.
bool IsFailedLogin(const TypedLogin& typed, LoginVerdict verdict) {
  const bool attempt = typed.account.size() == 3 && WholeNumberIn(typed.account, 0, 999).has_value();
  return attempt && (verdict == LoginVerdict::kInvalidAccount || verdict == LoginVerdict::kWrongPassword);
}

// Makes the line a member or a guest by the verdict on what was typed.
// False when the login ends here: the account is in use on another line.
bool AdmitAsIdentified(Server& server, int16_t line, const std::string& accountText, const IdentifiedLogin& login) {
  switch (login.verdict) {
    case LoginVerdict::kInvalidAccount:
      server.send(line, kNoticeMode, "Invalid Account" + server.lineBreak);
      MakeGuest(server, line);
      return true;
    case LoginVerdict::kGuestEntry:
    case LoginVerdict::kWrongPassword: MakeGuest(server, line); return true;
    case LoginVerdict::kMember: break;
  }
  const int16_t other = LineWithAccount(server, line, accountText);
  if (other >= 0) {
    RefuseDuplicate(server, line, other, accountText);
    return false;
  }
  TakeAccount(server, line, accountText, login.account);
  return true;
}

void RefuseOnLine0(Server& server, int16_t line, std::string_view notice) {
  server.send(line, kLogoffNoticeMode, std::string(notice) + server.lineBreak);
  server.LineAt(line).status = kOffline;
  server.lgoff(line);
}

void SendPostLoginMessage(Server& server, int16_t line, std::string_view slot) {
  std::string message;
  {
    const SharedBufferHold hold;
    server.ReadSlot(slot);
    if (server.currentSlot.enabled) message = server.currentSlot.text.TrimmedRight() + server.lineBreak;
  }
  if (!message.empty()) server.send(line, kRawMode, message);
}

// Links keep a level above 1 only with the account's flag 5.
void ApplyLineKind(LineState& state) {
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

// False when the member is refused.
bool AdmitMember(Server& server, int16_t line) {
  server.send(line, kRawMode, " " + server.lineBreak);
  if (line == 0 && server.LineAt(line).level < kLine0Level) {
    RefuseOnLine0(server, line, "Insufficient Clearance For This Port!");
    return false;
  }
  SendPostLoginMessage(server, line, "@");
  if (!StillLoggingIn(server, line)) return false;
  ApplyLineKind(server.LineAt(line));
  return true;
}

// False when the guest is refused.
bool AdmitGuest(Server& server, int16_t line) {
  if (line == 0) {
    RefuseOnLine0(server, line, "Insufficient clearance for this port!");
    return false;
  }
  if (server.LineAt(line).lineType == kClientLine) {
    server.send(line, kRawMode, std::string(kGuestStars, '*') + server.lineBreak);
  }
  if (!StillLoggingIn(server, line)) return false;
  LineState& state = server.LineAt(line);
  state.status = kChatUser;
  state.substate = kOnChannel;
  SendPostLoginMessage(server, line, "#");
  return true;
}

// A new session remembers nothing of the line's previous one.
void StartSession(Server& server, int16_t line) {
  LineState& state = server.LineAt(line);
  state.lineSpacing = false;
  state.beepFlag = state.privateMsgBeep = state.loginBeep = true;
  state.replyAccount = -1;
  state.pairedLine = -1;
  state.mailReadIndex = 0;
  state.unlimitedTime = false;
  state.editAccount.clear();
  server.memberListPosition[static_cast<std::size_t>(line)] = 0;
  state.loginAnnounced = state.logoffAnnounced = false;
  state.onlineTime = 0;
  server.MoveToChannel(line, 1);
}

void SendLoginNotices(Server& server, int16_t line) {
  server.send(line, kStationMode,
              "You are caller #" + std::to_string(server.config.callsToday) + " for today.^" +
                  "System has received " + std::to_string(server.config.totalCalls) + " total calls." +
                  server.lineBreak);
}

// ANSI builds for currentLine; the login's colours are for the line logging
// in. ANSI lets no events run, so currentLine is back before anyone reads it.
std::string AnsiFor(Server& server, int16_t line, int16_t fgrnd, bool blink, bool reset) {
  const int16_t saved = std::exchange(server.currentLine, line);
  std::string sequence = server.ANSI(fgrnd, kBlack, blink, true, false, false, reset);
  server.currentLine = saved;
  return sequence;
}

// A member hears of stored mail, a guest how to get help.
void SendMailOrHelpNotice(Server& server, int16_t line) {
  const LineState& state = server.LineAt(line);
  const bool guest = state.account.Trimmed() == kGuestAccount;
  const std::string alert = AnsiFor(server, line, kRed, true, false);
  const std::string normal = AnsiFor(server, line, kWhite, false, true);
  const std::string& br = server.lineBreak;
  if (!guest && state.mailCount > 0) server.send(line, kNoticeMode, alert + "You have email." + normal + br);
  if (guest) server.send(line, kNoticeMode, "Type " + alert + "/?" + normal + " For Help." + br);
}

// Every login that got this far: the session's settings, the log entry, the
// call counters, the notices and the announcement. A line whose connection
// went while events ran is logged off already and stays free.
void FinishLogin(Server& server, int16_t line) {
  const ErrorTrap trap = server.Trap("LoginControl");
  trap([&] { StartSession(server, line); });
  platform::Pump();
  if (server.LineAt(line).status == kOffline || !LoginCallerStayed(server, line)) return;
  trap([&] {
    server.SysLog(line, "Logged on from " + server.LineAt(line).remoteAddress.Trimmed() + " on line #" +
                            std::to_string(line) + ".");
  });
  trap([&] { CountUp(server.config.callsToday); });
  trap([&] { CountUp(server.config.totalCalls); });
  trap([&] { SendLoginNotices(server, line); });
  trap([&] { server.WriteConfigRecord<CallRecord>(kCallRecordNumber); });
  trap([&] { SendMailOrHelpNotice(server, line); });
  if (server.LineAt(line).status == kOffline) return;
  trap([&] { server.MoveToChannel(line, 1); });
  trap([&] { server.Loginout(line, kLoginAnnouncement); });
  server.typing[static_cast<std::size_t>(line)] = false;
  trap([&] {
    LineState& state = server.LineAt(line);
    state.killProtected = state.account.Raw() == kSysOpAccount;
  });
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
  connections[i].loginSerial = connections[i].serial;
  heldOutput[i].Clear();
  typing[i] = false;
  const TypedLogin typed = SplitLogin(inputLine[i]);
  IdentifiedLogin login;
  bool judged = false;
  bool waits = false;
  trap([&] {
    login = IdentifyLogin(*this, typed);
    judged = true;
    waits = IsFailedLogin(typed, login.verdict) && FailedLoginWaits(Index, typed.account);
  });
  if (waits) return;  // answered when its wait is over
  bool identified = true;
  if (judged) trap([&] { identified = AdmitAsIdentified(*this, Index, typed.account, login); });
  if (!identified) return;
  send(Index, kRawMode, lineBreak + lineBreak + lineBreak);
  inputLine[i].clear();
  if (!StillLoggingIn(*this, Index)) return;
  const FixedText<3> account = LineAt(Index).account;
  bool admitted = true;
  // A matched account whose characters are no member number (letters, say)
  // gets no member session.
  if (account.Trimmed() == kGuestAccount) {
    trap([&] { admitted = AdmitGuest(*this, Index); });
  } else if (MemberAccount(account)) {
    trap([&] { admitted = AdmitMember(*this, Index); });
  }
  if (admitted) FinishLogin(*this, Index);
}

}  // namespace tellarium
