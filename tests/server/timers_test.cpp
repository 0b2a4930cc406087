#include <gtest/gtest.h>

#include <ctime>
#include <vector>

#include "platform/clock.h"
#include "platform/loop.h"
#include "support/fake_control.h"
#include "support/server_fixture.h"

namespace tellarium {
namespace {

using SessionTimer = Server::SessionTimer;

// 6 December 2026, 23:59:00 local time: TimeoutTimer's first tick is on the
// start day, OnlineTimer's first tick on the next.
std::time_t OneMinuteBeforeMidnight() { return testing::LocalTime(2026, 12, 6, 23, 59); }

// A station started under a clock that moves only when told to.
class Timers : public testing::ClockedStationTest<> {
 protected:
  Timers() : ClockedStationTest(OneMinuteBeforeMidnight()) {}
  void SetUp() override {
    ClockedStationTest::SetUp();
    server.StartBlogTimer();
  }
  void ChatUser(int16_t l, int16_t level, double minutes = 0) {
    server.Connect(l, kChatUser);
    Line(l).level = level;
    Line(l).channel = 1;
    Line(l).onlineTime = minutes;
  }
};

TEST_F(Timers, OnlineTimerCountsMinutesOnceAMinute) {
  ChatUser(1, 2);
  Advance(59'999);
  EXPECT_EQ(Line(1).onlineTime, 0);
  Advance(1);
  EXPECT_EQ(Line(1).onlineTime, 1);
  EXPECT_EQ(Line(2).onlineTime, 0);  // offline lines do not count
}

// Default limits: 15 minutes for level 0, 60 for level 1, none above; a line
// is marked only once it is over its limit.
TEST_F(Timers, OnlineTimerMarksChatUsersByTheirLevelsLimit) {
  ChatUser(1, 0, 14);
  ChatUser(2, 1, 58);
  for (int16_t level : {2, 3, 4, 5}) ChatUser(static_cast<int16_t>(level + 1), level, 10'000);
  server.OnlineTimerTick();
  EXPECT_EQ(Line(1).substate, kOnChannel);  // 15 is not over 15
  server.OnlineTimerTick();
  EXPECT_EQ(Line(1).substate, kTimeLimitWarned);
  EXPECT_EQ(Line(2).substate, kOnChannel);
  server.OnlineTimerTick();
  EXPECT_EQ(Line(2).substate, kTimeLimitWarned);
  for (int16_t l : {3, 4, 5, 6}) EXPECT_EQ(Line(l).substate, kOnChannel) << "line " << l;
}

TEST_F(Timers, LinksAreMarkedOnlyWithALimitOfZeroOrMore) {
  server.Connect(1, kDDialLink, 1);
  server.Connect(2, kQvsLink, 0);
  server.OnlineTimerTick();
  EXPECT_EQ(Line(1).substate, 1);
  EXPECT_EQ(Line(2).substate, 0);
  server.config.timeLimits[5] = 0;
  server.config.timeLimits[6] = 0;
  server.OnlineTimerTick();
  EXPECT_EQ(Line(1).substate, 3);
  EXPECT_EQ(Line(2).substate, 2);
}

TEST_F(Timers, LineZeroAndUnlimitedLinesAreNeverMarked) {
  ChatUser(0, 0, 100);
  ChatUser(1, 0, 100);
  Line(1).unlimitedTime = true;
  server.Connect(2, kDDialLink, 0);
  Line(2).unlimitedTime = true;
  server.config.timeLimits[5] = 0;
  server.OnlineTimerTick();
  EXPECT_EQ(Line(0).substate, kOnChannel);
  EXPECT_EQ(Line(0).onlineTime, 101);
  EXPECT_EQ(Line(1).substate, kOnChannel);
  EXPECT_EQ(Line(2).substate, 0);
}

TEST_F(Timers, AMarkedUserLeavesPrivateChatAndConferenceForItsChannel) {
  ChatUser(1, 0, 20);
  Line(1).substate = kInPrivateChat;
  ChatUser(2, 0, 20);
  Line(2).substate = kInConference;
  Line(2).channel = 500;
  server.OnlineTimerTick();
  EXPECT_EQ(Line(1).substate, kTimeLimitWarned);
  EXPECT_EQ(Line(2).substate, kTimeLimitWarned);
  EXPECT_EQ(server.channels[0].occupancy, 1);
}

// The warned user's lines reach nobody, each repeats the notice, and the
// logoff comes 30 seconds after the first notice however often it repeats.
TEST_F(Timers, AWarnedUserIsLoggedOffThirtySecondsAfterTheFirstNotice) {
  ChatUser(1, 0);
  Line(1).substate = kTimeLimitWarned;
  ChatUser(2, 1);
  server.Port(1).RaiseRecv("still here\r");
  Advance(100);
  const std::string notice = "-=> QVS-00: #1 timeout. Logoff in 30 seconds.\r\n\r\n";
  EXPECT_EQ(server.Port(2).TakeSent(), notice);
  EXPECT_NE(server.Port(1).TakeSent().find(notice), std::string::npos);

  Advance(20'000);
  server.Port(1).RaiseRecv("again\r");
  Advance(100);
  EXPECT_EQ(server.Port(2).TakeSent(), notice);
  Advance(9'799);
  EXPECT_EQ(Line(1).status, kChatUser);
  Advance(1);
  EXPECT_EQ(Line(1).status, kOffline);
  EXPECT_EQ(server.Port(1).closes, std::vector<bool>{false});
  EXPECT_EQ(Line(2).status, kChatUser);
  EXPECT_FALSE(server.TimerEnabled(SessionTimer::TimeoutTimer));
}

TEST_F(Timers, TimeoutTimerLogsOffEveryMarkedLineButLineZero) {
  ChatUser(0, 0);
  Line(0).substate = kTimeLimitWarned;
  ChatUser(1, 0);
  Line(1).substate = kTimeLimitWarned;
  server.Connect(2, kDDialLink, 3);
  server.Connect(3, kQvsLink, 2);
  server.Connect(4, kQvsLink, 1);
  ChatUser(5, 0);
  server.TmeOut(1);
  Advance(30'000);
  for (int l : {1, 2, 3}) EXPECT_EQ(Line(l).status, kOffline) << l;
  EXPECT_EQ(Line(0).status, kChatUser);
  EXPECT_EQ(Line(4).status, kQvsLink);
  EXPECT_EQ(Line(5).status, kChatUser);
}

// Today's calls restart at the first tick of a new day, and only then.
TEST_F(Timers, TheCallCounterRestartsOnANewDay) {
  server.config.callsToday = 5;
  server.TmeOut(1);
  Advance(30'000);  // 23:59:30, the start day
  EXPECT_EQ(server.config.callsToday, 5);
  Advance(30'000);  // midnight: OnlineTimer
  EXPECT_EQ(server.config.callsToday, 0);
  server.config.callsToday = 3;
  Advance(60'000);
  EXPECT_EQ(server.config.callsToday, 3);
  server.TmeOut(1);
  Advance(30'000);  // TimeoutTimer's first tick on the new day
  EXPECT_EQ(server.config.callsToday, 0);
  server.config.callsToday = 2;
  server.TmeOut(1);
  Advance(30'000);
  EXPECT_EQ(server.config.callsToday, 2);
}

}  // namespace
}  // namespace tellarium
