// Lists: the last callers, who is online and from where, the members and
// their autobiographies, and the time.
#include <string>

#include "platform/clock.h"
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
constexpr char kAutobiographyMark = '|';

// A member number typed after "S": three characters reading as a positive
// number, or "000" for the SysOp.
bool IsMemberNumber(std::string_view digits) {
  return digits.size() == 3 && (digits == "000" || LeadingNumber(digits) > 0);
}

}  // namespace

void Server::LastCallersCommand(int16_t line) {
  std::string text = "Last 10 callers^";
  for (int k = 1; k <= kLastCallerCount; ++k) {
    const LastCallerRecord& caller = lastCallers[static_cast<std::size_t>(k - 1)];
    if (!caller.inUse) continue;
    text += "^#" + std::to_string(k) + ":" + caller.handle.TrimmedRight() + " #" + caller.account.Raw() + " @ " +
            tme(caller.time.Raw()) + " on " + dte(caller.date.Raw());
  }
  Answer(line, text);
}

void Server::TimeCommand(int16_t line) {
  const std::tm now = platform::LocalNow();
  Answer(line, "Time: " + tme(TimeText(now)) + " on " + dte(DateText(now)) + ".");
}

// "S" with a member number shows that member; anything else, who is online.
void Server::ShowCommand(int16_t line) {
  const std::string text = CommandText(line);
  if (text.size() == 4 && IsMemberNumber(std::string_view(text).substr(1))) {
    return Autobiography(line, ToInt16(LeadingNumber(std::string_view(text).substr(1))));
  }
  OnlineList(line);
}

void Server::OnlineList(int16_t line) {
  std::string text = "Online List" + lineBreak + lineBreak;
  int listed = 0;
  for (int16_t l = 0; l <= config.maxLines; ++l) {
    const LineState& state = LineAt(l);
    if (state.status <= kLoggingIn) continue;
    ++listed;
    text += ListedLine(l) + (state.killProtected ? ":K" : "") + ":" + NumberText(state.onlineTime) +
            (state.mailCount > 0 ? "E" : "") + lineBreak;
  }
  text += ListFooter();
  if (listed < 2) {
    text += stationPrefix + "Last Call:" + tme(config.lastCallTime.Raw()) + " On " + dte(config.lastCallDate.Raw()) +
            lineBreak;
  }
  send(line, 6, text);
}

void Server::Autobiography(int16_t line, int16_t acc) {
  uread(acc);
  if (!currentAccount.flags[kFlagInUse]) return Response(7, line);
  const std::string stored = ReadRecord(AccountFile(acc), kAutobiographyRecord);
  std::string text = "Autobiography for User #" + afix(acc) + ":" + currentAccount.handle.Trimmed() + "^Last Call " +
                     dte(currentAccount.lastCallDate.Raw()) + " at " + tme(currentAccount.lastCallTime.Raw()) + "." +
                     lineBreak;
  if (!stored.empty() && stored[0] == kAutobiographyMark) {
    text += std::string(TrimRight(std::string_view(stored).substr(1))) + lineBreak;
  }
  send(line, 4, text);
}

void Server::MemberListCommand(int16_t line) {
  memberListPosition[static_cast<std::size_t>(line)] = 0;
  MemberListPage(line);
}

void Server::MemberListContinueCommand(int16_t line) {
  if (memberListPosition[static_cast<std::size_t>(line)] >= kLastAccount) {
    return Answer(line, "Already at end of list.");
  }
  MemberListPage(line);
}

// A page starts at the account the last one ended on, which is examined again.
void Server::MemberListPage(int16_t line) {
  int16_t& position = memberListPosition[static_cast<std::size_t>(line)];
  const int16_t start = position;
  int16_t account = start;
  std::string entries;
  for (int16_t found = 0;; ++account) {
    const AccountIndexEntry& entry = accountIndex[static_cast<std::size_t>(account)];
    if (entry.inUse) {
      entries += afix(account) + ":" + entry.name.Trimmed() + lineBreak;
      ++found;
    }
    if (found == kMembersPerPage || account >= kLastAccount) break;
  }
  position = account;
  const std::string ending = account >= kLastAccount ? "End." : "/SC To Continue.";
  send(line, 0,
       "Member List (" + afix(start) + " to " + afix(account) + ")" + lineBreak + lineBreak + entries +
           stationPrefix + ending + lineBreak);
}

void Server::AddressListCommand(int16_t line) {
  if (!Clearance(1, LineAt(line).level)) return Response(0, line);
  std::string text = "Address List" + lineBreak + lineBreak;
  for (int16_t l = 0; l <= config.maxLines; ++l) {
    const LineState& state = LineAt(l);
    if (state.status <= kLoggingIn) continue;
    text += ListedLine(l) + "@" + ConnectionText(state) + lineBreak;
  }
  send(line, 0, text + ListFooter());
}

// "#1(C1]:Max) #012": how a line begins in the lists of who is online.
std::string Server::ListedLine(int16_t l) {
  const LineState& state = LineAt(l);
  return Handle(l, state.handle.Raw()) + "#" + state.account.Raw();
}

std::string Server::ListFooter() {
  const std::tm now = platform::LocalNow();
  return lineBreak + "-=> Time:" + tme(TimeText(now)) + " <--> Date:" + dte(DateText(now)) + lineBreak;
}

}  // namespace tellarium
