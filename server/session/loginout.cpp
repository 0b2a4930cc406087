// Login and logoff announcements to the other lines and linked stations.
#include <string>

#include "platform/loop.h"
#include "server/core/number_text.h"
#include "server/core/server.h"

namespace tellarium {
namespace {

// The system log's words for a logoff; other combinations are not logged.
const char* LogoffLogText(const LineState& line) {
  if (line.status == kChatUser) {
    switch (line.substate) {
      case kOnChannel: return "Logged off. (Online ";
      case kKilled: return "Was /K'd. (Online ";
      case kTimeLimitWarned: return "Timed Out. (Online ";
      case kRelogPending: return "Was Relogged. (Online ";
      default: return nullptr;
    }
  }
  const bool link = line.status == kDDialLink || line.status == kQvsLink;
  if (link && line.substate == kNormalLogoff) return "Link Logged off. (Online ";
  return nullptr;
}

// Once per session each. A logoff is told only where the login was: a caller
// refused at login, or gone at the password prompt, was never announced. A
// login told without a caller's login (an outdial, a remoted line) starts a
// session whose logoff is told again.
bool TakeAnnouncement(LineState& line, int16_t md) {
  if (md == kLoginAnnouncement) {
    if (line.loginAnnounced) return false;
    line.loginAnnounced = true;
    line.logoffAnnounced = false;
    return true;
  }
  if (md != kLogoffAnnouncement || line.logoffAnnounced || !line.loginAnnounced) return false;
  line.logoffAnnounced = true;
  return true;
}

// "Login^#5[C1]:Max) #012", "Logoff^...", "Klick!^..." or "Relog^..."; a
// relogged member's text has no account number.
std::string AnnouncementText(Server& server, int16_t li, int16_t md) {
  const LineState& line = server.LineAt(li);
  const bool logoff = md == kLogoffAnnouncement;
  const bool relog = logoff && line.substate == kRelogPending;
  std::string kind = "Login^";
  if (logoff) kind = line.substate == kKilled ? "Klick!^" : relog ? "Relog^" : "Logoff^";
  std::string text = kind + server.Handle(li, line.handle.Raw());
  const bool member = line.account.Raw() != kGuestAccount;
  if (member && !relog) text += "#" + line.account.TrimmedLeft();
  return text;
}

void LogLogoff(Server& server, int16_t li) {
  const LineState& line = server.LineAt(li);
  const char* words = LogoffLogText(line);
  if (words != nullptr) server.SysLog(li, words + NumberText(line.onlineTime) + " minutes.)");
}

// Chat users read it from their held output, D-Dial links at once and QVS
// links in their own packet form.
void DeliverAnnouncement(Server& server, int16_t k, int16_t li, int16_t md, const std::string& text) {
  const LineState& line = server.LineAt(k);
  HeldOutput& held = server.heldOutput[static_cast<std::size_t>(k)];
  const bool login = md == kLoginAnnouncement;
  switch (line.status) {
    case kChatUser:
      held.Append(server.FormatOutput(k, login ? kLoginNoticeMode : kNoticeMode, text + HeldOutput::kEndMark));
      break;
    case kDDialLink: {
      const std::string mark = server.LineAt(li).account.Raw() == kGuestAccount ? "}}" : "}";
      server.SendDirect(k, mark + server.stationPrefix + text + server.lineBreak);
      break;
    }
    case kQvsLink:
      held.Append(server.stationNumber + (login ? "~12/" : "~13/") + text + HeldOutput::kEndMark);
      break;
    default: break;
  }
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
  trap([&] { announce = TakeAnnouncement(LineAt(li), md); });
  if (!announce) return;
  if (md == kLogoffAnnouncement) platform::Pump();
  std::string text;
  trap([&] { text = AnnouncementText(*this, li, md); });
  if (md == kLogoffAnnouncement) trap([&] { LogLogoff(*this, li); });
  for (int16_t k = 0; k <= config.maxLines; ++k) trap([&] { DeliverAnnouncement(*this, k, li, md, text); });
}

}  // namespace tellarium
