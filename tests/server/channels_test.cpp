#include <gtest/gtest.h>

#include <vector>

#include "support/server_fixture.h"

namespace tellarium {
namespace {

class Channels : public testing::ServerTest {
 protected:
  void SetUp() override {
    ServerTest::SetUp();
    server.config.maxLines = 7;
  }
  void Place(int16_t l, int16_t status, int16_t substate, int32_t channel) {
    LineState& line = server.lines[static_cast<std::size_t>(l)];
    line.status = status;
    line.substate = substate;
    line.channel = channel;
  }
  std::vector<int16_t> Occupancy() const {
    std::vector<int16_t> counts;
    for (const ChannelInfo& channel : server.channels) counts.push_back(channel.occupancy);
    return counts;
  }
  static std::vector<int16_t> Counts(std::initializer_list<std::pair<int, int16_t>> nonzero) {
    std::vector<int16_t> counts(kChannelCount, 0);
    for (auto [channel, count] : nonzero) counts[static_cast<std::size_t>(channel - 1)] = count;
    return counts;
  }
};

TEST_F(Channels, OnlyChatUsersOnAnOrdinaryChannelAreCounted) {
  Place(0, kChatUser, kOnChannel, 1);
  Place(1, kChatUser, kOnChannel, 1);
  Place(2, kChatUser, kTimeLimitWarned, 2);  // warned, still on its channel
  Place(3, kDDialLink, 0, 1);
  Place(4, kChatUser, kInPrivateChat, 1);
  Place(5, kChatUser, kInConference, 500);
  Place(6, kLoggingIn, 1, 1);
  Place(7, kChatUser, kOnChannel, 16);
  server.channels[0].occupancy = 9;  // as a client packet may have left it
  server.CountChannelUsers();
  EXPECT_EQ(Occupancy(), Counts({{1, 2}, {2, 1}, {16, 1}}));
}

TEST_F(Channels, MovingALineCountsItOnItsNewChannelOnly) {
  Place(1, kChatUser, kOnChannel, 1);
  Place(2, kChatUser, kOnChannel, 1);
  server.CountChannelUsers();
  server.MoveToChannel(1, 3);
  EXPECT_EQ(server.lines[1].channel, 3);
  EXPECT_EQ(Occupancy(), Counts({{1, 1}, {3, 1}}));
  server.MoveToChannel(1, 3);  // already there
  EXPECT_EQ(Occupancy(), Counts({{1, 1}, {3, 1}}));
}

// A line that logs off twice, or leaves private chat for another channel,
// can never take a channel below the users really on it.
TEST_F(Channels, LeavingFreesThePlaceOnceHoweverOftenItRuns) {
  Place(1, kChatUser, kOnChannel, 2);
  Place(2, kChatUser, kOnChannel, 2);
  server.CountChannelUsers();
  server.LeaveChannel(1);
  server.LeaveChannel(1);
  EXPECT_EQ(server.lines[1].channel, 0);
  EXPECT_EQ(Occupancy(), Counts({{2, 1}}));

  Place(2, kChatUser, kInPrivateChat, 2);
  server.CountChannelUsers();
  EXPECT_EQ(Occupancy(), Counts({}));
  server.lines[2].substate = kOnChannel;
  server.MoveToChannel(2, 4);
  EXPECT_EQ(Occupancy(), Counts({{4, 1}}));
}

}  // namespace
}  // namespace tellarium
