// Login and logoff announcements to the other lines and linked stations.
#include <string>

#include "platform/loop.h"
#include "server/core/number_text.h"
#include "server/core/server.h"

namespace tellarium {
namespace {

constexpr int16_t kLoginAnnouncement = 1;
constexpr int16_t kLogoffAnnouncement = 2;

// Why a line left, by its substate.
constexpr int16_t kKilled = 2;
constexpr int16_t kTimedOut = 3;
constexpr int16_t kRelogged = 4;

// The system log's words for a logoff; other combinations are not logged.
const char* LogoffLogText(const LineState& line) {
  if (line.status == kChatUser) {
    switch (line.substate) {
      case 0: return "Logged off. (Online ";
      case kKilled: return "Was /K'd. (Online ";
      case kTimedOut: return "Timed Out. (Online ";
      case kRelogged: return "Was Relogged. (Online ";
      default: return nullptr;
    }
  }
  if ((line.status == kDDialLink || line.status == kQvsLink) && line.substate == 0) return "Link Logged off. (Online ";
  return nullptr;
}

}  // namespace

// Error entries also name the line and what it last typed.
void Server::Loginout(int16_t li, int16_t md) {
  const bool known = li >= 0 && li < kLineCount;
  const std::string details = "Current Line:" + SignedNumberText(li) + "\r\nInput String:" +
                              (known ? inputLine[static_cast<std::size_t>(li)] : "") + "\r\n";
  const ErrorTrap loginout = Trap("LoginOut");
  auto trap = [&](auto&& statement) { loginout.WithDetails(details, statement); };
  trap([&] { SysScreen(); });
  bool announce = false;
  trap([&] { announce = TakeAnnouncement(li, md); });
  if (!announce) return;
  if (md == kLogoffAnnouncement) platform::Pump();
  std::string text;
  trap([&] { text = AnnouncementText(li, md); });
  if (md == kLogoffAnnouncement) trap([&] { LogLogoff(li); });
  for (int16_t k = 0; k <= config.maxLines; ++k) trap([&] { DeliverAnnouncement(k, li, md, text); });
}

// Once per session each. A logoff is told only where the login was: a caller
// refused at login, or gone at the password prompt, was never announced.
bool Server::TakeAnnouncement(int16_t li, int16_t md) {
  LineState& line = LineAt(li);
  if (md == kLoginAnnouncement) {
    if (line.loginAnnounced) return false;
    line.loginAnnounced = true;
    return true;
  }
  if (md != kLogoffAnnouncement || line.logoffAnnounced || !line.loginAnnounced) return false;
  line.logoffAnnounced = true;
  return true;
}

// "Login^#5[C1]:Max) #012", "Logoff^...", "Klick!^..." or "Relog^..."; a
// relogged member's text has no account number.
std::string Server::AnnouncementText(int16_t li, int16_t md) {
  const LineState& line = LineAt(li);
  const bool logoff = md == kLogoffAnnouncement;
  const bool relog = logoff && line.substate == kRelogged;
  std::string kind = "Login^";
  if (logoff) kind = line.substate == kKilled ? "Klick!^" : relog ? "Relog^" : "Logoff^";
  std::string text = kind + Handle(li, line.handle.Raw());
  const bool member = line.account.Raw() != "N/A";
  if (member && !relog) text += "#" + line.account.TrimmedLeft();
  return text;
}

void Server::LogLogoff(int16_t li) {
  const LineState& line = LineAt(li);
  const char* words = LogoffLogText(line);
  if (words != nullptr) SysLog(li, words + NumberText(line.onlineTime) + " minutes.)");
}

// Chat users read it from their held output, D-Dial links at once and QVS
// links in their own packet form.
void Server::DeliverAnnouncement(int16_t k, int16_t li, int16_t md, const std::string& text) {
  const LineState& line = LineAt(k);
  const auto i = static_cast<std::size_t>(k);
  switch (line.status) {
    case kChatUser:
      heldOutput[i].Append(FormatOutput(k, md == kLoginAnnouncement ? 10 : 6, text + HeldOutput::kEndMark));
      break;
    case kDDialLink: {
      const std::string mark = LineAt(li).account.Raw() == "N/A" ? "}}" : "}";
      SendDirect(k, mark + stationPrefix + text + lineBreak);
      break;
    }
    case kQvsLink:
      heldOutput[i].Append(stationNumber + (md == kLoginAnnouncement ? "~12/" : "~13/") + text + HeldOutput::kEndMark);
      break;
    default: break;
  }
}

}  // namespace tellarium
