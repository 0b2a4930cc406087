// Lists: the last callers, who is online and from where, the members and
// their autobiographies, and the time.
#include <string>

#include "platform/clock.h"
#include "server/commands/command_groups.h"
#include "server/core/dates.h"
#include "server/core/number_text.h"
#include "server/core/record_file.h"
#include "server/core/record_layouts.h"
#include "server/core/server.h"
#include "server/core/text_fields.h"

namespace tellarium {
namespace {

constexpr int16_t kMembersPerPage = 23;
constexpr int16_t kLastAccount = kAccountCount - 1;
constexpr int16_t kAddressListLevel = 1;

// "#1(C1]:Max) #012": how a line begins in the lists of who is online.
std::string ListedLine(Server& server, int16_t l) {
  const LineState& state = server.LineAt(l);
  return server.Handle(l, state.handle.Raw()) + "#" + state.account.Raw();
}

std::string ListFooter(Server& server) {
  const std::tm now = platform::LocalNow();
  const std::string& br = server.lineBreak;
  return br + "-=> Time:" + server.tme(TimeText(now)) + " <--> Date:" + server.dte(DateText(now)) + br;
}

void OnlineList(Server& server, int16_t line) {
  const std::string& br = server.lineBreak;
  std::string text = "Online List" + br + br;
  int listed = 0;
  for (int16_t l = 0; l <= server.config.maxLines; ++l) {
    const LineState& state = server.LineAt(l);
    if (state.status <= kLoggingIn) continue;
    ++listed;
    text += ListedLine(server, l) + (state.killProtected ? ":K" : "") + ":" + NumberText(state.onlineTime) +
            (state.mailCount > 0 ? "E" : "") + br;
  }
  text += ListFooter(server);
  if (listed < 2) {
    const ServerConfig& config = server.config;
    text += server.stationPrefix + "Last Call:" + server.tme(config.lastCallTime.Raw()) + " On " +
            server.dte(config.lastCallDate.Raw()) + br;
  }
  server.send(line, kNoticeMode, text);
}

void Autobiography(Server& server, int16_t line, int16_t acc) {
  const UserRecord account = server.ReadAccount(acc);
  if (!account.flags[kFlagInUse]) return server.Response(kInvalidUserAccount, line);
  const std::string& br = server.lineBreak;
  std::string text = server.AutobiographyHeading(acc, account) + br;
  if (const auto stored = Server::StoredAutobiography(acc)) text += *stored + br;
  server.send(line, kStationMode, text);
}

// A page starts at the account the last one ended on, which is examined again.
void MemberListPage(Server& server, int16_t line) {
  int16_t& position = server.memberListPosition[static_cast<std::size_t>(line)];
  const int16_t start = position;
  int16_t account = start;
  const std::string& br = server.lineBreak;
  std::string entries;
  for (int16_t found = 0;; ++account) {
    const AccountIndexEntry& entry = server.accountIndex[static_cast<std::size_t>(account)];
    if (entry.inUse) {
      entries += Server::afix(account) + ":" + entry.name.Trimmed() + br;
      ++found;
    }
    if (found == kMembersPerPage || account >= kLastAccount) break;
  }
  position = account;
  const std::string ending = account >= kLastAccount ? "End." : "/SC To Continue.";
  server.send(line, kChatMode,
              "Member List (" + Server::afix(start) + " to " + Server::afix(account) + ")" + br + br + entries +
                  server.stationPrefix + ending + br);
}

}  // namespace

void LastCallersCommand(Server& server, int16_t line) {
  std::string text = "Last 10 callers^";
  for (int k = 1; k <= kLastCallerCount; ++k) {
    const LastCallerRecord& caller = server.lastCallers[static_cast<std::size_t>(k - 1)];
    if (!caller.inUse) continue;
    text += "^#" + std::to_string(k) + ":" + caller.handle.TrimmedRight() + " #" + caller.account.Raw() + " @ " +
            server.tme(caller.time.Raw()) + " on " + server.dte(caller.date.Raw());
  }
  Answer(server, line, text);
}

void TimeCommand(Server& server, int16_t line) {
  const std::tm now = platform::LocalNow();
  Answer(server, line, "Time: " + server.tme(TimeText(now)) + " on " + server.dte(DateText(now)) + ".");
}

// "S" with a member number shows that member; anything else, who is online.
void ShowCommand(Server& server, int16_t line) {
  const std::string text = CommandText(server, line);
  if (text.size() == 4 && Server::MemberNumber(std::string_view(text).substr(1))) {
    return Autobiography(server, line, Server::AccountNumber(std::string_view(text).substr(1)));
  }
  OnlineList(server, line);
}

void MemberListCommand(Server& server, int16_t line) {
  server.memberListPosition[static_cast<std::size_t>(line)] = 0;
  MemberListPage(server, line);
}

void MemberListContinueCommand(Server& server, int16_t line) {
  if (server.memberListPosition[static_cast<std::size_t>(line)] >= kLastAccount) {
    return Answer(server, line, "Already at end of list.");
  }
  MemberListPage(server, line);
}

void AddressListCommand(Server& server, int16_t line) {
  if (!Server::Clearance(kAddressListLevel, server.LineAt(line).level)) {
    return server.Response(kUnrecognizedCommand, line);
  }
  const std::string& br = server.lineBreak;
  std::string text = "Address List" + br + br;
  for (int16_t l = 0; l <= server.config.maxLines; ++l) {
    const LineState& state = server.LineAt(l);
    if (state.status <= kLoggingIn) continue;
    text += ListedLine(server, l) + "@" + Server::ConnectionText(state) + br;
  }
  server.send(line, kStationMode, text + ListFooter(server));
}

}  // namespace tellarium
