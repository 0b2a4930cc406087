// Path messages from a D-Dial link ("/P"): a message for this station (a
// station-wide post, or a question to its remote menu, answered at once), or
// one for a local line (a private message, a reply coming back, or a request
// passed on). Forms this station does not send are ignored.
#include <string>
#include <string_view>

#include "server/core/record_file.h"
#include "server/core/record_layouts.h"
#include "server/core/server.h"
#include "server/core/text_fields.h"

namespace tellarium {
namespace {

constexpr std::string_view kStationMark = "S ";        // "/PS " and the sender's tag
constexpr std::string_view kTagEnd = ") ";             // closes the handle of a tag
constexpr std::string_view kPrefixStart = "-=> QVS-";  // how every station's prefix begins
constexpr char kMenuMark = '=';

struct MenuReply {
  std::string separator;  // between the path and the station prefix
  std::string text;
};

MenuReply AccountReply(Server& server, char what, const std::string& digits) {
  if (what == 'E' && digits.size() < 3) return {"~", "Invalid Account Number."};
  if (!Server::MemberNumber(digits)) return {" ", "Invalid Account!"};
  const int16_t acc = Server::AccountNumber(digits);
  const UserRecord account = server.ReadAccount(acc);
  if (!account.flags[kFlagInUse]) return {"", "No such user."};
  if (what == 'E') return {"~", " " + server.MailCheckedText(acc, account) + Server::MessagesWaiting(account.mailStored)};
  std::string text = server.AutobiographyHeading(acc, account) + "^";
  if (const auto stored = Server::StoredAutobiography(acc)) text += *stored + server.lineBreak;
  return {"~", text};
}

std::string OnlineUsers(Server& server) {
  std::string text = server.stationName + " Users";
  for (int16_t l = 1; l <= server.config.maxLines; ++l) {
    const LineState& line = server.LineAt(l);
    if (line.status == kOffline) continue;
    text += "^" + server.Handle(l, line.handle.Raw());
    if (line.account.Raw() != kGuestAccount) text += "#" + line.account.Raw();
  }
  return text;
}

MenuReply MenuAnswer(Server& server, const std::string& command) {
  const std::string upper = Upper(command);
  if (upper.rfind("SR", 0) == 0) return {"~", OnlineUsers(server)};
  switch (upper.empty() ? '\0' : upper[0]) {
    case '?':
      return {"~", "Tellarium Remote Menu^=? - This Menu^=SR - Show Users^=S### - Show Autobiography^=E### - Email Status"};
    case 'S':
    case 'E': return AccountReply(server, upper[0], command.substr(1, 3));
    default: return {"~", "Invalid command. /P<PATH>=? for help."};
  }
}

// "/PS " tag text: a post to every chat user; "/PS " tag "=" command: the
// remote menu, answered along the asker's path (its line digits).
void StationMessage(Server& server, int16_t link, const std::string& a, const std::string& tagged) {
  const std::size_t tagEnd = tagged.find(kTagEnd);
  if (tagEnd == std::string::npos || tagEnd + 2 >= tagged.size() || tagged[tagEnd + 2] != kMenuMark) {
    return server.backlog(kRawMode, "S" + std::to_string(link) + a.substr(a.find(' ') + 1), link);
  }
  const std::string path = tagged.empty() ? "" : std::string(LeadingDigits(std::string_view(tagged).substr(1)));
  const MenuReply reply = MenuAnswer(server, tagged.substr(tagEnd + 3));
  server.SendDirect(link, "/P" + path + reply.separator + server.stationPrefix + reply.text + server.lineBreak);
}

void Queue(Server& server, int16_t line, const std::string& text) {
  server.heldOutput[static_cast<std::size_t>(line)].Append(text + HeldOutput::kEndMark);
}

}  // namespace

void Server::PathMessage(const std::string& a, int16_t link) {
  const std::string rest = a.substr(2);
  if (rest.rfind(kStationMark, 0) == 0) return StationMessage(*this, link, a, rest.substr(kStationMark.size()));
  const std::string digits(LeadingDigits(rest));
  const int16_t target = digits.empty() ? int16_t{-1} : chkline(digits);
  if (target < 0 || target == link) return;
  const std::string after = rest.substr(digits.size());
  const std::size_t prefix = after.rfind(kPrefixStart, 1);
  if (!after.empty() && after[0] == '/') {
    Queue(*this, target, after);
  } else if (!after.empty() && after[0] == '~') {
    Queue(*this, target, after.substr(1));
  } else if (prefix == 0 || (prefix == 1 && after[0] == ' ')) {
    Queue(*this, target, after.substr(prefix));
  } else if (!after.empty() && after[0] == ' ') {
    Queue(*this, target, "P" + std::to_string(link) + after.substr(1));
  }
}

}  // namespace tellarium
