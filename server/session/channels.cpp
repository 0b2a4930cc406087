// A line's place among the chat channels, and each channel's occupancy. The
// occupancy is counted from the lines, never adjusted by steps, so no sequence
// of logins, moves and logoffs can leave it wrong.
#include "server/core/server.h"

namespace tellarium {
namespace {

// Only chat users on an ordinary channel count; links, private chats and
// conferences do not. A conference's number is no channel number.
bool CountsOnChannel(const LineState& line) {
  return line.status == kChatUser && line.substate != kInPrivateChat && line.substate != kInConference &&
         line.channel >= 1 && line.channel <= kChannelCount;
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

}  // namespace tellarium
