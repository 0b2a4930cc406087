// The operators' commands: killing, giving levels, time and protection,
// validating, relogging, forcing channels, the system log, the data files,
// the outdial address and the graphical client's editor data. Each action is
// logged under the operator's line.
#include <string>

#include "server/commands/command_groups.h"
#include "server/core/number_text.h"
#include "server/core/server.h"
#include "server/core/text_fields.h"

namespace tellarium {
namespace {

constexpr int16_t kValidateLevel = 2;
constexpr int16_t kStationIdLevel = 2;
constexpr int16_t kOperatorLevel = 3;
constexpr int16_t kSysOpLevel = 4;
constexpr int16_t kGivenLevel = 2;
constexpr int16_t kValidatedLevel = 1;
constexpr int16_t kDefaultOutdialPort = 23;
constexpr std::string_view kStationEditorVersion = "V2.02";
constexpr std::string_view kUserEditorVersion = "V2.10";

bool Cleared(Server& server, int16_t line, int16_t required) {
  return Server::Clearance(required, server.LineAt(line).level);
}
int16_t ConfiguredLevel(Server& server, AccessOption option) { return server.config.options[option]; }

// The line named by the command text's character at `at`, or -1.
int16_t TargetAt(Server& server, int16_t line, std::size_t at) {
  return server.chkline(TextAfter(CommandText(server, line), at).substr(0, 1));
}

void Log(Server& server, int16_t line, const std::string& entry) { server.SysLog(line, entry); }

bool IsChannelDigit(char c) { return c >= '1' && c <= '9'; }

// Versions compare as text, character by character.
bool VersionBelow(Server& server, int16_t line, std::string_view version) {
  return server.LineAt(line).clientVersion.Trimmed() < version;
}

// "G" d: level 2, never to someone above the giver.
void GiveLevel(Server& server, int16_t line, int16_t target) {
  LineState& given = server.LineAt(target);
  if (given.level > server.LineAt(line).level) return server.Response(kInsufficientClearance, line);
  given.level = kGivenLevel;
  Answer(server, line, "/G Given.");
  Log(server, line, "/G'd " + server.LogId(target) + ".");
}

void GiveProtection(Server& server, int16_t line, int16_t target) {
  LineState& given = server.LineAt(target);
  if (!given.killProtected) {
    given.killProtected = true;
    Answer(server, line, "/K Protection Enabled.");
    return Log(server, line, "Gave /K Protection to " + server.LogId(target) + ".");
  }
  if (given.level > server.LineAt(line).level) return server.Response(kInsufficientClearance, line);
  given.killProtected = false;
  Answer(server, line, "/K Protection Disabled.");
  Log(server, line, "Removed /K Protection From " + server.LogId(target) + ".");
}

// "G" d n: a level up to the giver's own, on a line not above the giver.
void AssignLevel(Server& server, int16_t line, int16_t target, char digit) {
  const int16_t level = static_cast<int16_t>(digit - '0');
  const int16_t own = server.LineAt(line).level;
  if (level > own || server.LineAt(target).level > own) return server.Response(kInsufficientClearance, line);
  server.LineAt(target).level = level;
  Answer(server, line, std::string("Access Set to:") + digit);
  Log(server, line, "Assigned " + server.LogId(target) + " access level " + digit);
}

// A chat user forced elsewhere leaves private chat or a conference first.
void ForceChatUser(Server& server, int16_t line, int16_t target, const std::string& channels) {
  const int64_t channel = LeadingNumber(channels);
  if (channel < kFirstTunableChannel || channel > kLastTunableChannel) return Answer(server, line, "Invalid channel.");
  server.LeavePlace(target, static_cast<int32_t>(channel));
  server.MoveToChannel(target, static_cast<int32_t>(channel));
  Answer(server, line, "Forced to channel:" + channels);
  Log(server, line, "forced " + server.LogId(target) + " to channel " + channels + ".");
}

// A single-channel link hears and speaks on the channel it is forced to.
void ForceSingleChannelLink(Server& server, int16_t line, int16_t target, const std::string& channels) {
  if (channels.size() != 1 || !IsChannelDigit(channels[0])) return Answer(server, line, "Invalid channel.");
  LineState& link = server.LineAt(target);
  link.channel = channels[0] - '0';
  std::string carried = link.linkChannels.Raw();
  carried[0] = channels[0];
  link.linkChannels = carried;
  Answer(server, line, "Link Channel Set to:" + channels);
  Log(server, line, "forced " + server.LogId(target) + " to channel " + channels + ".");
}

void ForceTwoChannelLink(Server& server, int16_t line, int16_t target, const std::string& channels) {
  if (channels.size() != 2 || !IsChannelDigit(channels[0]) || !IsChannelDigit(channels[1])) {
    return Answer(server, line, "Invalid channel.");
  }
  server.LineAt(target).linkChannels = channels;
  Answer(server, line, "Link Channels Set to:" + channels);
  Log(server, line, "forced " + server.LogId(target) + " to channel(s) " + channels + ".");
}

// "Assembling Data..." and one configuration group for the caller's client.
// The answer lets events run, so a slot is read only after it.
void SendEditorData(Server& server, int16_t line, int16_t group, int16_t index, const std::string& entry) {
  Answer(server, line, "Assembling Data...");
  std::string packet;
  {
    const SharedBufferHold hold;
    if (group == kSlotGroup) server.ReadSlot(CommandText(server, line).substr(2, 1));  // "AM" and the key
    packet = server.CFGAssemble(group, index);
  }
  server.send(line, kEditorDataMode, packet);
  Log(server, line, entry);
}

void StationEditor(Server& server, int16_t line, char which) {
  switch (which) {
    case '1':
      if (VersionBelow(server, line, kStationEditorVersion)) return Answer(server, line, "Requires Client V2.02 or greater");
      return SendEditorData(server, line, kStationTextsGroup, 0, "Edited Station ID.");
    case '2': return SendEditorData(server, line, kOptionsGroup, 0, "Edited Access Configs.");
    case '3': return SendEditorData(server, line, kTimeLimitsGroup, 0, "Edited Timeouts.");
    case '4': return SendEditorData(server, line, kPortsGroup, 0, "Edited Port Configuration.");
    default: return server.Response(kUnrecognizedCommand, line);
  }
}

}  // namespace

// "K" d: the target hears why, and the log names it as it was.
void KillCommand(Server& server, int16_t line) {
  if (!Cleared(server, line, ConfiguredLevel(server, kKillLevel))) return server.Response(kInsufficientClearance, line);
  const int16_t target = TargetAt(server, line, 1);
  if (target < 0) return server.Response(kInvalidLine, line);
  if (server.LineAt(target).killProtected) return Answer(server, line, "That line is /K Protected.");
  const std::string killed = server.LogId(target);
  server.LeavePlace(target);
  server.send(target, kLogoffNoticeMode, "You were killed.");
  server.LineAt(target).substate = kKilled;
  server.lgoff(target);
  server.Response(kDone, line);
  Log(server, line, "/K'd " + killed + ".");
}

// "G" d, "G" d "T", "G" d "K", "G" d n.
void GiveCommand(Server& server, int16_t line) {
  if (!Cleared(server, line, kOperatorLevel)) return server.Response(kInsufficientClearance, line);
  const int16_t target = TargetAt(server, line, 1);
  if (target < 0) return Answer(server, line, "Invalid line.");
  const std::string& text = CommandText(server, line);
  if (text.size() == 2) return GiveLevel(server, line, target);
  if (text.size() != 3) return server.Response(kUnrecognizedCommand, line);
  const char what = Upper(text.substr(2))[0];
  if (what == 'T') {
    server.LineAt(target).unlimitedTime = true;
    Answer(server, line, "Unlimited Time Given.");
    return Log(server, line, "Gave unlimited time to " + server.LogId(target) + ".");
  }
  if (what == 'K') return GiveProtection(server, line, target);
  if (what >= '0' && what <= '4') return AssignLevel(server, line, target, what);
  server.Response(kUnrecognizedCommand, line);
}

// "V" d: a guest gets level 1 for this call.
void ValidateCommand(Server& server, int16_t line) {
  if (!Cleared(server, line, kValidateLevel)) return server.Response(kInsufficientClearance, line);
  const int16_t target = TargetAt(server, line, 1);
  if (target < 0) return server.Response(kInvalidLine, line);
  LineState& validated = server.LineAt(target);
  if (validated.status == kOffline) return Answer(server, line, "Invalid Line");
  if (validated.level >= kValidatedLevel) return Answer(server, line, "Already validated.");
  validated.level = kValidatedLevel;
  server.send(target, kStationMode, "Temporary Validation Set." + server.lineBreak);
  Answer(server, line, "Line #" + std::to_string(target) + " Validated.");
  Log(server, line, "/V'd " + server.LogId(target) + ".");
}

// "R" d "L": the caller leaves its place and its channel's count, is
// announced as leaving, and starts the login again. A free line has no
// caller to relog.
void RelogCommand(Server& server, int16_t line, int16_t target) {
  if (!Cleared(server, line, ConfiguredLevel(server, kRelogLevel))) return server.Response(kInsufficientClearance, line);
  if (server.LineAt(target).status == kOffline) return server.Response(kNotOnline, line);
  server.LeavePlace(target);
  LineState& relogged = server.LineAt(target);
  relogged.status = kChatUser;
  relogged.substate = kRelogPending;
  server.Loginout(target, kLogoffAnnouncement);
  server.LineAt(target).status = kLoggingIn;
  server.LineAt(target).substate = kAwaitingEnter;
  server.LeaveChannel(target);
  server.send(target, kStationMode, "You have been relogged. Press <ENTER> to continue." + server.lineBreak);
  Log(server, line, "Relogged " + server.LogId(target));
}

// "R" d "K": toggles the protection and says which it is now.
void ProtectionCommand(Server& server, int16_t line, int16_t target) {
  if (!Cleared(server, line, kOperatorLevel)) return server.Response(kInsufficientClearance, line);
  LineState& state = server.LineAt(target);
  state.killProtected = !state.killProtected;
  const std::string number = std::to_string(target);
  if (state.killProtected) {
    Answer(server, line, "Line #" + number + " is protected from /K.");
    return Log(server, line, "Gave /K Protection to " + server.LogId(target) + ".");
  }
  Answer(server, line, "Line #" + number + " is not protected from /K.");
  Log(server, line, "Removed /K Protection from " + server.LogId(target) + ".");
}

// "T#" d channels.
void ForceChannelCommand(Server& server, int16_t line) {
  if (!Cleared(server, line, kOperatorLevel)) return server.Response(kInsufficientClearance, line);
  const int16_t target = TargetAt(server, line, 2);
  if (target < 0) return server.Response(kInvalidLine, line);
  const std::string channels = TextAfter(CommandText(server, line), 3);
  const LineState& state = server.LineAt(target);
  switch (state.status) {
    case kOffline: return server.Response(kNotOnline, line);
    case kChatUser: return ForceChatUser(server, line, target, channels);
    case kQvsLink: return ForceTwoChannelLink(server, line, target, channels);
    case kDDialLink:
      if (state.substate == kDdlLink) return ForceSingleChannelLink(server, line, target, channels);
      if (state.substate == kDclLink) return ForceTwoChannelLink(server, line, target, channels);
      if (state.substate == kQvlLink) {
        return Answer(server, line, "Sorry, you may not change the channels of a MultiChannel Mode Link.");
      }
      break;
    default: break;
  }
  TuneCommand(server, line);
}

void ViewLogCommand(Server& server, int16_t line) {
  if (!Cleared(server, line, kOperatorLevel)) return server.Response(kInsufficientClearance, line);
  Answer(server, line, "System Log");
  for (int16_t entry = 0; entry < server.logCount; ++entry) {
    server.send(line, kChatMode, server.systemLog[static_cast<std::size_t>(entry)] + server.lineBreak);
  }
  Log(server, line, "Viewed the System Log.");
}

// The reset entry starts the new log.
void ResetLogCommand(Server& server, int16_t line) {
  if (!Cleared(server, line, kSysOpLevel)) return server.Response(kInsufficientClearance, line);
  server.ResetSystemLog();
  Log(server, line, "Reset system log.");
  Answer(server, line, "Log Reset.");
}

void ReloadFilesCommand(Server& server, int16_t line) {
  if (!Cleared(server, line, kSysOpLevel)) return server.Response(kInsufficientClearance, line);
  server.LoadFiles();
  Log(server, line, "loaded data files.");
  Answer(server, line, "Data files reloaded.");
}

void StationIdCommand(Server& server, int16_t line) {
  if (!Cleared(server, line, kStationIdLevel)) return server.Response(kInsufficientClearance, line);
  server.StationID();
  server.Response(kDone, line);
}

// "Z" host, or "Z" host ":" port (23 when none is given).
void OutdialCommand(Server& server, int16_t line) {
  if (!Cleared(server, line, kSysOpLevel)) return server.Response(kInsufficientClearance, line);
  std::string address = TextAfter(CommandText(server, line), 1);
  int16_t port = kDefaultOutdialPort;
  if (const std::size_t colon = address.find(':'); colon != std::string::npos) {
    port = ToInt16(LeadingNumber(address.substr(colon + 1)));
    address.erase(colon);
  }
  server.outdialAddress = address;
  server.outdialPort = port;
  const std::string portText = SignedNumberText(port);
  Answer(server, line, "Outdial Set." + server.lineBreak + "Address:" + address + " Port:" + portText);
  CommandText(server, line).clear();
  Log(server, line, "Set Dialout to:" + address + ":" + portText);
}

// "AM" key: the slot goes to the client; the key comes from this line.
void SlotEditorCommand(Server& server, int16_t line) {
  if (!Cleared(server, line, kSysOpLevel)) return server.Response(kUnrecognizedCommand, line);
  const std::string& text = CommandText(server, line);
  if (text.size() < 3) return server.Response(kInvalidFormat, line);
  SendEditorData(server, line, kSlotGroup, line, "Changed /M" + text.substr(2, 1) + ".");
}

void ChannelEditorCommand(Server& server, int16_t line) {
  if (!Cleared(server, line, kSysOpLevel)) return server.Response(kInsufficientClearance, line);
  const std::string& text = CommandText(server, line);
  if (text.size() < 3 || !IsChannelDigit(text[2])) return server.send(line, kRawMode, "Format: /AC# - #=1-9");
  const std::string channel = text.substr(2, 1);
  SendEditorData(server, line, kChannelGroup, static_cast<int16_t>(text[2] - '0'), "Edited channel /T" + channel + ".");
}

// "AI1" to "AI4": station texts, access levels, time-outs, ports.
void StationEditorCommand(Server& server, int16_t line) {
  if (!Cleared(server, line, kSysOpLevel)) return server.Response(kInsufficientClearance, line);
  const std::string& text = CommandText(server, line);
  StationEditor(server, line, text.size() == 3 ? text[2] : '\0');
}

void LineEditorCommand(Server& server, int16_t line) {
  if (!Cleared(server, line, ConfiguredLevel(server, kLineEditLevel))) {
    return server.Response(kInsufficientClearance, line);
  }
  const int16_t target = TargetAt(server, line, 2);
  if (target < 0) return server.Response(kInvalidLine, line);
  if (server.LineAt(target).status == kOffline) return Answer(server, line, "Not Online.");
  const std::string number = std::to_string(target);
  SendEditorData(server, line, kLineGroup, target, "Edited line #" + server.LogId(target) + " " + number + ".");
}

// "AA" nnn: the account goes to the client, and this line may send it back.
void UserEditorCommand(Server& server, int16_t line) {
  if (!Cleared(server, line, kSysOpLevel)) return server.Response(kInsufficientClearance, line);
  if (VersionBelow(server, line, kUserEditorVersion)) return Answer(server, line, "Sorry, requires Client V2.10 or greater.");
  std::string& text = CommandText(server, line);
  if (text.size() < 5) return server.Response(kInvalidFormat, line);
  const std::string account = text.substr(2);
  std::string record;
  {
    const SharedBufferHold hold;
    server.uread(Server::AccountNumber(account));
    record = server.uassemble();
  }
  server.send(line, kAccountPacketMode, record);
  server.LineAt(line).editAccount = account;
  text.clear();
  Log(server, line, "Edited user #" + account);
}

}  // namespace tellarium
