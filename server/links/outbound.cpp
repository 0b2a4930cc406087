// A local caller's link commands: "P" followed by a D-Dial link's line number
// sends a message to the far station or to one of its lines, or a remote
// command (identification, e-mail, kill, handle, disconnect).
#include <optional>
#include <string>

#include "server/core/server.h"
#include "server/core/text_fields.h"

namespace tellarium {
namespace {

constexpr int16_t kRemoteOperatorLevel = 3;
constexpr int16_t kRemoteMailLevel = 1;
constexpr char kLinkEmailKind = '2';  // what the far station reads as our kind

struct RemoteCommand {
  std::string wire;    // sent at once on the link
  std::string answer;  // to the caller
};

// "/E" and the far station's account: the e-mail form the far station reads.
std::optional<RemoteCommand> LinkEmail(Server& server, int16_t caller, const std::string& route,
                                       const std::string& command) {
  const LineState& state = server.LineAt(caller);
  if (!Server::Clearance(kRemoteMailLevel, state.level) || state.account.Raw() == kGuestAccount) {
    server.Response(kInsufficientClearance, caller);
    return std::nullopt;
  }
  const std::string account = command.substr(2, 3);
  if (!Server::MemberNumber(account)) {
    server.Response(kInvalidUserAccount, caller);
    return std::nullopt;
  }
  std::string message = command.substr(std::min<std::size_t>(5, command.size()));
  if (!message.empty() && message[0] == ' ') message.erase(0, 1);
  return RemoteCommand{route + "/E~" + kLinkEmailKind + server.stationNumber + account + "(" + state.account.Raw() +
                           ":" + state.handle.Trimmed() + ") " + message,
                       "Link Email Sent."};
}

// "/S", "/E", "/K", "/H", "/Q" after the route; none when refused (answered).
std::optional<RemoteCommand> BuildRemoteCommand(Server& server, int16_t caller, const std::string& route,
                                                const std::string& command) {
  RemoteCommand built;
  switch (command.size() > 1 ? Upper(command.substr(1, 1))[0] : '\0') {
    case 'E': return LinkEmail(server, caller, route, command);
    case 'S': built = {route + "/S", "Remote Station ID Requested."}; break;
    case 'K': built = {route + command, "/K Sent."}; break;
    case 'H': built = {route + command, "Remote handle set."}; break;
    case 'Q': built = {route + "/Q", "Disconnecting Link..."}; break;
    default:
      server.send(caller, kStationMode, "Invalid link command." + server.lineBreak);
      return std::nullopt;
  }
  if (!Server::Clearance(kRemoteOperatorLevel, server.LineAt(caller).level)) {
    server.Response(kInsufficientClearance, caller);
    return std::nullopt;
  }
  return built;
}

}  // namespace

// The input line holds the link's line number and the rest of the command.
void Server::ToDDL(int16_t lneorg) {
  const ErrorTrap trap = Trap("ToDDL");
  trap([&] {
    const LineState& caller = LineAt(lneorg);
    if (caller.status == kChatUser && !caller.accountFlags[kFlagMayLink]) {
      return send(lneorg, kStationMode, "Not permitted to use links. Contact your SysOp." + lineBreak);
    }
    std::string text = InputLineAt(lneorg);
    const int16_t link = static_cast<int16_t>(LeadingNumber(text.substr(0, 1)));
    text.erase(0, 1);
    const std::string digits(LeadingDigits(text));
    const std::string rest = text.substr(digits.size());
    const std::string tagged = Handle(lneorg, caller.handle.Raw());
    if (rest.empty() || rest[0] != '/') {
      const std::string to = digits.empty() ? "S " : digits + " ";
      heldOutput[static_cast<std::size_t>(link)].Append("/P" + to + tagged + rest + HeldOutput::kEndMark);
      return send(lneorg, kStationMode, "Link /P Sent." + lineBreak);
    }
    const std::optional<RemoteCommand> command = BuildRemoteCommand(*this, lneorg, digits.empty() ? "" : "/P" + digits, rest);
    if (!command) return;
    send(lneorg, kStationMode, command->answer + lineBreak);
    SendDirect(link, command->wire + lineBreak);
  });
}

}  // namespace tellarium
