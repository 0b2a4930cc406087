// Where a chat user talks: tuning between the channels, private messages,
// private chat with one other line, and named conferences.
#include <cctype>
#include <optional>
#include <string>
#include <utility>

#include "server/commands/command_groups.h"
#include "server/core/number_text.h"
#include "server/core/server.h"

namespace tellarium {
namespace {

constexpr int16_t kChatLevel = 1;
constexpr std::size_t kChatRequestLength = 2;  // "C" and a line digit

bool OnOrdinaryChannel(const LineState& line) {
  return line.substate != kInPrivateChat && line.substate != kInConference;
}

// "#2(C1]:Max) ", how the line appears to the others.
std::string TagOf(Server& server, int16_t line) { return server.Handle(line, server.LineAt(line).handle.Raw()); }

std::string TunedText(Server& server, int32_t channel) {
  return "Tuned to channel" + SignedNumberText(channel) + ":" + server.ChannelAt(channel).name.Trimmed();
}

// Leaves private chat or a conference for `channel` and says so; the caller's
// held output from the old place is dropped.
void TuneTo(Server& server, int16_t line, int32_t channel) {
  server.LeavePlace(line, channel);
  server.MoveToChannel(line, channel);
  server.heldOutput[static_cast<std::size_t>(line)].Clear();
  Answer(server, line, TunedText(server, channel));
}

// The conference of that name in use, else the first free one; none when all
// are in use. Names compare as stored (cut to 15), trimmed, in upper case.
std::optional<int32_t> FindConference(Server& server, const std::string& name) {
  const std::string wanted = Upper(FixedText<15>(name).Trimmed());
  std::optional<int32_t> free;
  for (int32_t number = kFirstConference; number < kFirstConference + kConferenceCount; ++number) {
    const ConferenceInfo& conference = server.ConferenceAt(number);
    if (conference.inUse && Upper(conference.name.Trimmed()) == wanted) return number;
    if (!conference.inUse && !free) free = number;
  }
  return free;
}

// A caller alone in its conference frees it by leaving, so it may take that one.
bool AloneInConference(Server& server, int16_t line) {
  const LineState& state = server.LineAt(line);
  if (state.substate != kInConference) return false;
  for (int16_t l = 0; l < kLineCount; ++l) {
    if (l != line && server.InConference(l, state.channel)) return false;
  }
  return true;
}

void JoinConference(Server& server, int16_t line, const std::string& name) {
  server.LeavePlace(line);
  const std::optional<int32_t> number = FindConference(server, name);
  if (!number) return Answer(server, line, "All conference channels are in use, please try again later.");
  ConferenceInfo& conference = server.ConferenceAt(*number);
  const bool created = !conference.inUse;
  if (created) {
    conference.inUse = true;
    conference.name = name;
    conference.number = static_cast<int16_t>(*number);
  }
  LineState& state = server.LineAt(line);
  state.substate = kInConference;
  server.MoveToChannel(line, *number);
  const std::string joined = TagOf(server, line) + " has joined the conference." + server.lineBreak;
  Answer(server, line, created ? "Conference created..." : "Entered Conference...");
  for (int16_t l = 0; l < kLineCount; ++l) {
    if (l != line && server.InConference(l, *number)) server.send(l, kStationMode, joined);
  }
}

// "C" alone, or with a blank name: back to an ordinary channel, creating nothing.
void LeaveForChannel(Server& server, int16_t line) {
  const LineState& state = server.LineAt(line);
  if (OnOrdinaryChannel(state)) return Answer(server, line, "Already Done.");
  server.LeavePlace(line);
  Answer(server, line, TunedText(server, server.LineAt(line).channel));
}

void ConferenceByName(Server& server, int16_t line) {
  const std::string name(Trim(TextAfter(CommandText(server, line), 2)));
  if (name.empty()) return LeaveForChannel(server, line);
  if (!FindConference(server, name) && !AloneInConference(server, line)) {
    return Answer(server, line, "All conference channels are in use, please try again later.");
  }
  JoinConference(server, line, name);
}

// The target asked first: both lines leave where they are for private chat
// with each other.
void EnterPrivateChat(Server& server, int16_t line, int16_t target) {
  server.LeavePlace(line);
  server.LeavePlace(target);
  if (server.LineAt(target).status != kChatUser || server.LineAt(line).status != kChatUser) return;
  for (const auto& [l, partner] : {std::pair{line, target}, std::pair{target, line}}) {
    server.LineAt(l).substate = kInPrivateChat;
    server.LineAt(l).pairedLine = partner;
  }
  server.CountChannelUsers();
  Answer(server, line, "User " + server.LineAt(target).handle.Trimmed() + " has entered chat.");
  server.send(target, kStationMode, "User " + server.LineAt(line).handle.Trimmed() + " has entered chat." + server.lineBreak);
}

// The request waits in the caller's pairedLine; a caller in private chat with
// another line leaves that chat first, so its lines never go astray.
void RequestPrivateChat(Server& server, int16_t line, int16_t target) {
  if (server.LineAt(line).substate == kInPrivateChat) server.LeavePlace(line);
  server.LineAt(line).pairedLine = target;
  server.send(target, kStationMode,
              TagOf(server, line) + "has requested chat. /C" + std::to_string(line) + " to enter." + server.lineBreak);
  Answer(server, line, "Chat requested.");
}

void PrivateChatWith(Server& server, int16_t line) {
  const int16_t target = server.chkline(CommandText(server, line).substr(1, 1));
  if (target < 0 || target > server.config.maxLines || server.LineAt(target).status == kOffline) {
    return server.Response(kInvalidLine, line);
  }
  if (!Server::Clearance(kChatLevel, server.LineAt(line).level)) return server.Response(kInsufficientClearance, line);
  if (!Server::Clearance(kChatLevel, server.LineAt(target).level)) {
    return Answer(server, line, "User is unable to chat. Insufficienct Access.");
  }
  if (server.LineAt(target).pairedLine == line) return EnterPrivateChat(server, line, target);
  RequestPrivateChat(server, line, target);
}

}  // namespace

// "T3": the channel is the second character's digit.
void TuneCommand(Server& server, int16_t line) {
  const std::string& text = CommandText(server, line);
  const int32_t channel = text.size() > 1 && std::isdigit(static_cast<unsigned char>(text[1])) ? text[1] - '0' : 0;
  if (channel < kFirstTunableChannel || channel > kLastTunableChannel) return Answer(server, line, "Invalid Channel (1-9)");
  const LineState& state = server.LineAt(line);
  if (OnOrdinaryChannel(state) && state.channel == channel) return Answer(server, line, "Already Done.");
  const ChannelInfo& wanted = server.ChannelAt(channel);
  if (wanted.occupancy == wanted.capacity) return Answer(server, line, "Channel Full.");
  if (!Server::Clearance(wanted.requiredLevel, state.level)) return server.Response(kInvalidFormat, line);
  TuneTo(server, line, channel);
}

// "P3 text": held for a chat user like chat, with its private bell.
void PrivateMessageCommand(Server& server, int16_t line) {
  const std::string text = CommandText(server, line);
  const int16_t target = server.chkline(text.substr(1, 1));
  if (target < 0 || target > server.config.maxLines) return server.Response(kInvalidLine, line);
  switch (server.LineAt(target).status) {
    case kOffline: return Answer(server, line, "Line #" + std::to_string(target) + " Is Not Connected!");
    case kChatUser: {
      server.workText = "P" + TagOf(server, line) + TextAfter(text, 2);
      server.heldOutput[static_cast<std::size_t>(target)].Append(
          server.FormatOutput(target, kPrivateMode, server.workText + server.lineBreak + HeldOutput::kEndMark));
      server.workText.clear();
      return Answer(server, line, "/P Sent.");
    }
    case kDDialLink:
      CommandText(server, line) = TextAfter(text, 1);
      return server.ToDDL(line);
    default: return server.Response(kUnrecognizedCommand, line);
  }
}

// "C3" asks line 3 to chat or accepts its asking; anything else names a
// conference (from the third character on).
void ChatOrConferenceCommand(Server& server, int16_t line) {
  if (CommandText(server, line).size() == kChatRequestLength) return PrivateChatWith(server, line);
  ConferenceByName(server, line);
}

}  // namespace tellarium
