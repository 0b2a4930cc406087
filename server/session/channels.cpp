// A line's place: an ordinary channel, private chat with one other line, or a
// conference. The occupancy is counted from the lines, never adjusted by
// steps, so no sequence of logins, moves and logoffs can leave it wrong. Every
// route out of private chat or a conference goes through LeavePlace.
#include <string>

#include "server/core/server.h"

namespace tellarium {
namespace {

// Where a caller leaving a conference lands unless its route names a channel.
constexpr int32_t kConferenceLanding = 1;

// Only chat users on an ordinary channel count; links, private chats and
// conferences do not. A conference's number is no channel number.
bool CountsOnChannel(const LineState& line) {
  return line.status == kChatUser && line.substate != kInPrivateChat && line.substate != kInConference &&
         line.channel >= 1 && line.channel <= kChannelCount;
}

// The partner hears of it and, when still in chat with the line, returns to
// its own channel.
void EndPrivateChat(Server& server, int16_t line, int32_t landing) {
  LineState& leaver = server.LineAt(line);
  const int16_t partner = leaver.pairedLine;
  const std::string notice = server.Handle(line, leaver.handle.Raw()) + "has left chat.";
  leaver.substate = kOnChannel;
  leaver.pairedLine = -1;
  if (landing != 0) leaver.channel = landing;
  server.CountChannelUsers();
  if (partner < 0 || partner >= kLineCount) return;
  LineState& other = server.LineAt(partner);
  if (other.substate == kInPrivateChat && other.pairedLine == line) {
    other.substate = kOnChannel;
    other.pairedLine = -1;
    server.CountChannelUsers();
  }
  server.send(partner, kStationMode, notice + server.lineBreak);
}

// The others in the conference hear of it; the last one out frees it.
void LeaveConference(Server& server, int16_t line, int32_t landing) {
  LineState& leaver = server.LineAt(line);
  const int32_t number = leaver.channel;
  leaver.substate = kOnChannel;
  const std::string notice = server.Handle(line, leaver.handle.Raw()) + " has left the conference." + HeldOutput::kEndMark;
  leaver.channel = landing != 0 ? landing : kConferenceLanding;
  server.CountChannelUsers();
  bool anyoneLeft = false;
  for (int16_t l = 0; l < kLineCount; ++l) {
    if (!server.InConference(l, number)) continue;
    server.heldOutput[static_cast<std::size_t>(l)].Append(notice);
    anyoneLeft = true;
  }
  if (!anyoneLeft) server.ConferenceAt(number).inUse = false;
}

}  // namespace

void Server::MoveToChannel(int16_t line, int32_t channel) {
  LineAt(line).channel = channel;
  CountChannelUsers();
}

void Server::LeaveChannel(int16_t line) { MoveToChannel(line, 0); }

void Server::CountChannelUsers() {
  for (ChannelInfo& channel : channels) channel.occupancy = 0;
  for (const LineState& line : lines) {
    if (CountsOnChannel(line)) ++ChannelAt(line.channel).occupancy;
  }
}

bool Server::InConference(int16_t line, int32_t number) {
  const LineState& state = LineAt(line);
  return state.status == kChatUser && state.substate == kInConference && state.channel == number;
}

ConferenceInfo& Server::ConferenceAt(int32_t number) {
  if (number < kFirstConference || number >= kFirstConference + kConferenceCount) {
    Raise(ErrorNumber::kSubscriptOutOfRange);
  }
  return conferences[static_cast<std::size_t>(number - kFirstConference)];
}

void Server::LeavePlace(int16_t line, int32_t landing) {
  const LineState& state = LineAt(line);
  if (state.status != kChatUser) return;
  if (state.substate == kInPrivateChat) EndPrivateChat(*this, line, landing);
  if (state.substate == kInConference) LeaveConference(*this, line, landing);
}

}  // namespace tellarium
