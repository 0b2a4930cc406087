// Text arriving on a D-Dial link: remote chat into the local channels,
// remote announcements to the local callers and the other links, and the
// remote commands (handle, identification, disconnect, e-mail, path messages).
#include <array>
#include <optional>
#include <string>
#include <string_view>

#include "platform/clock.h"
#include "server/core/dates.h"
#include "server/core/server.h"
#include "server/core/text_fields.h"

namespace tellarium {
namespace {

// Channel prefixes of a multi-channel link by position in its linkChannels;
// position 1 has none.
constexpr std::string_view kChannelPrefixes = "~!@$%^&(";
constexpr char kAnnouncementMark = '}';
constexpr char kRemoteCommandMark = '/';
constexpr char kReplyMark = '~';

// The channel at `position` (from 1) of the link's channels; 0 when none.
int32_t LinkChannelAt(const LineState& link, std::size_t position) {
  const std::string& channels = link.linkChannels.Raw();
  if (position == 0 || position > channels.size()) return 0;
  return static_cast<int32_t>(LeadingNumber(channels.substr(position - 1, 1)));
}

// Chat by link kind: a dual-channel link marks its second channel with "~",
// a multi-channel link every channel but the first with its prefix.
void RemoteChat(Server& server, int16_t link, const std::string& a) {
  LineState& state = server.LineAt(link);
  std::string text = a;
  switch (state.substate) {
    case kDdlLink: break;
    case kDclLink:
      state.channel = LinkChannelAt(state, a[0] == kReplyMark ? 2 : 1);
      if (a[0] == kReplyMark) text.erase(0, 1);
      break;
    case kQvlLink:
      state.channel = LinkChannelAt(state, 1);
      if (a[0] != '#') {
        const std::size_t prefix = kChannelPrefixes.find(a[0]);
        if (prefix != std::string_view::npos) state.channel = LinkChannelAt(state, prefix + 2);
        text.erase(0, 1);
      }
      break;
    default: return;  // a link whose time is up speaks no more
  }
  server.backlog(kChatMode, std::to_string(link) + text, link);
}

// "}}}", "}}" or "}" and the text: to every other line, in the form each kind reads.
void RemoteAnnouncement(Server& server, int16_t link, const std::string& a) {
  const std::size_t braces = std::min<std::size_t>(a.find_first_not_of(kAnnouncementMark), 3);
  const std::string marks = a.substr(0, braces);
  const std::string m = std::to_string(link) + a.substr(braces);
  const std::string qvsKind = braces == 3 ? "SID" : m.find('+') != std::string::npos ? "LL" : "LO";
  for (int16_t l = 1; l <= server.config.maxLines; ++l) {
    if (l == link) continue;
    HeldOutput& held = server.heldOutput[static_cast<std::size_t>(l)];
    switch (server.LineAt(l).status) {
      case kChatUser: held.Append(server.FormatOutput(l, kRawMode, m + HeldOutput::kEndMark)); break;
      case kDDialLink: held.Append(marks + m + HeldOutput::kEndMark); break;
      case kQvsLink: held.Append(server.stationNumber + qvsKind + m + HeldOutput::kEndMark); break;
      default: break;
    }
  }
}

// "/E~" station(1) skipped(2) account(3) "(" from(3) ... ":" handle ")" body.
// Mail to an account that is not a member in use (or has no file, which reads
// as not in use) is dropped unanswered.
void RemoteEmail(Server& server, const std::string& a) {
  const std::string s = a.substr(std::min<std::size_t>(3, a.size()));
  if (s.size() < 7 || s[6] != '(') return;
  const std::string account = s.substr(3, 3);
  const std::size_t colon = s.find(':', 7);
  const std::size_t close = colon == std::string::npos ? colon : s.find(')', colon + 1);
  if (close == std::string::npos || LeadingDigits(account).size() != account.size()) return;
  const int16_t acc = Server::AccountNumber(account);
  if (!Server::MemberNumber(account)) return;
  const std::tm now = platform::LocalNow();
  EmailRecord email;
  email.fromKind = 1;
  email.fromStation = static_cast<int16_t>(LeadingNumber(s.substr(0, 1)));
  email.fromAccount = s.substr(7, 3);
  email.fromHandle = s.substr(colon + 1, close - colon - 1);
  email.body = s.substr(close + 1);
  email.sentTime = TimeText(now).substr(0, 5);
  email.sentDate = DateText(now);
  UserRecord recipient;
  {
    const SharedBufferHold hold;
    server.uread(acc);
    recipient = server.currentAccount;
    if (!recipient.flags[kFlagInUse]) return;
    recipient.mailStored = ToInt32(int64_t{recipient.mailStored} + 1);
    server.currentAccount = recipient;
    server.uwrite(acc);
  }
  server.currentAccount = recipient;
  server.currentEmail = email;
  server.Esend(acc);
}

}  // namespace

void Server::FromDDL(std::string a, int16_t lneorg, int16_t) {
  const ErrorTrap trap = Trap("FromDDL");
  trap([&] {
    if (a.empty() || a == "~") return;
    if (a[0] == kAnnouncementMark) return RemoteAnnouncement(*this, lneorg, a);
    if (a[0] != kRemoteCommandMark) return RemoteChat(*this, lneorg, a);
    switch (a.size() > 1 ? Upper(a.substr(1, 1))[0] : '\0') {
      case 'H':
        LineAt(lneorg).handle = a.substr(2);
        SysScreen();
        break;
      case 'S': StationID(); break;
      case 'Q': lgoff(lneorg); break;
      case 'E': RemoteEmail(*this, a); break;
      case 'P': PathMessage(a, lneorg); break;
      default: break;
    }
  });
}

}  // namespace tellarium
