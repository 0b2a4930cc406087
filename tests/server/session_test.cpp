// Sessions where the wire cannot reach yet: events run while a login or logoff
// waits, places no command leads to yet, held output, timers to the tick.
#include <gtest/gtest.h>

#include <map>
#include <tuple>

#include "support/station_test.h"

namespace tellarium {
namespace {

using namespace std::literals;
const std::string P = "-=> QVS-00: ";
constexpr char kEnd = HeldOutput::kEndMark;

// A minute before midnight, so that the timers' first minute ends a day.
class Session : public testing::StationTest {
 protected:
  Session() : StationTest(testing::kNoonDecember6 + (11 * 60 + 59) * 60) {}
  // A connected member "Max" #012 at level 1, its login announced.
  LineState& Place(int16_t l, int16_t status, int16_t substate = 0, int32_t channel = 1) {
    server.Connect(l, status, substate);
    LineState& line = Line(l);
    std::tie(line.channel, line.level, line.loginAnnounced, line.logoffAnnounced) = std::tuple(channel, 1, true, false);
    std::tie(line.handle, line.account) = std::tuple("Max"sv, "012"sv);
    line.accountFlags[kFlagInUse] = true;
    return line;
  }
};

// A caller gone while the login lets events run is no call; a new caller on
// the line meanwhile is greeted. A caller arriving while a line is logged off
// gets another line; what is typed on a closing line starts nothing.
TEST_F(Session, EventsWhileALineLogsInOrOffFindItWhereItsCallerLeft) {
  testing::SeedMember(server, 1, "Max", "secret");
  for (const bool newCaller : {false, true}) {
    for (const std::string typed : {"", "001secret"}) {
      SCOPED_TRACE(typed + (newCaller ? ", new caller" : ""));
      testing::AtNextPump hangUp([&] {
        Port(1).state = tntlib::tntClosed;
        Port(1).RaiseRecv("");
        if (newCaller) server.Listener().RaiseAccept(77);
      });
      server.Connect(1, kLoggingIn, kLoginLineTaken);
      server.inputLine[1] = typed;
      server.LoginControl(1);
      EXPECT_EQ(Port(1).TakeSent().find("You are caller"), std::string::npos);
      EXPECT_EQ(Line(1).status, newCaller ? kLoggingIn : kOffline);
      EXPECT_EQ(std::tuple(server.channels[0].occupancy, server.config.callsToday), std::tuple(0, 0));
    }
  }
  Place(2, kChatUser);
  Port(2).state = tntlib::tntClosed;
  testing::AtNextPump arrival([&] { server.Listener().RaiseAccept(78); });
  Port(2).RaiseRecv("");
  EXPECT_EQ(Port(3).accepted, std::vector<int32_t>{78});
  EXPECT_EQ(Line(2).status, kOffline);
  server.Connect(4, kLoggingIn, kDuplicateClosed);
  Port(4).state = tntlib::tntClosing;
  Port(4).RaiseRecv("012secret\r");
  EXPECT_EQ(std::tuple(Line(4).status, Line(4).substate), std::tuple(kLoggingIn, kDuplicateClosed));
}

// Chat users of the channel hold the backlog; D-Dial links get it at once, line-
// coded and marked by the channel's place among theirs; private chat stays
// between the pair. The first place sends.
TEST_F(Session, TheBacklogGoesWhereTheSendersPlaceLeads) {
  struct Placed { int16_t line, status, substate; int32_t channel; const char* links = ""; int16_t paired = -1; };
  struct Route { std::vector<Placed> places; std::string text; std::map<int16_t, std::string> heard; };
  const Route routes[] = {
      {{{1, kChatUser, 0, 1}, {2, kChatUser, 0, 2}, {5, kLoggingIn, 1, 1}}, "#1 hi", {{1, "#1 hi"}}},
      {{{4, kChatUser, 0, 2}, {1, kDDialLink, kDdlLink, 1, "1"}, {2, kDDialLink, kDclLink, 1, "12"},
        {3, kDDialLink, kQvlLink, 1, "123456789"}},
       "#4 two", {{2, "~#4 two\r\n"}, {3, "~#4 two\r\n"}, {4, "#4 two"}}},
      {{{1, kDDialLink, kDdlLink, 1, "1"}, {2, kDDialLink, kDclLink, 1, "12"}, {3, kDDialLink, kDDialTimeLimit, 1, "1"},
        {4, kChatUser, 0, 1}},
       "1#A hi#B", {{2, "1#10 hi#B\r\n"}, {4, "1#A hi#B"}}},
      {{{1, kChatUser, kInPrivateChat, 1, "", 2}, {2, kChatUser, kInPrivateChat, 1, "", 1},
        {3, kDDialLink, kDdlLink, 1, "1"}, {4, kChatUser, 0, 1}},
       "#1 psst", {{1, "#1 psst\r\n"}, {2, "#1 psst\r\n"}}},
  };
  for (const Route& route : routes) {
    SCOPED_TRACE(route.text);
    for (int16_t l = 0; l <= 7; ++l) server.ResetLine(l);
    for (const Placed& p : route.places) {
      LineState& placed = Place(p.line, p.status, p.substate, p.channel);
      std::tie(placed.linkChannels, placed.pairedLine) = std::tuple(p.links, p.paired);
    }
    server.backlog(kChatMode, route.text, route.places[0].line);
    for (int16_t l = 0; l <= 7; ++l) {
      std::string heard = Port(l).TakeSent();
      for (HeldOutput& held = server.heldOutput[static_cast<std::size_t>(l)]; held.HasMessage();) heard += held.TakeFirst();
      EXPECT_EQ(heard, route.heard.contains(l) ? route.heard.at(l) : "") << "line " << l;
    }
  }
}

// An e-mail the sender did not count is refused; only the first online line
// of the account hears of one (the wire cannot log an account in twice).
TEST_F(Session, EmailTellsOnlyTheFirstLineOfTheAccount) {
  testing::SeedMember(server, 5, "Bob", "");
  server.Esend(5);
  EXPECT_EQ(testing::ReadFile("error.log"), "Routine: Esend\r\nError:Bad record number ( 63)\r\n");
  Place(2, kChatUser).account = "006";
  Place(3, kChatUser).account = Place(4, kChatUser).account = "005";
  testing::SeedMember(server, 5, "Bob", "", 1, {kFlagInUse, kFlagChatUser}, 1);
  server.Esend(5);
  EXPECT_EQ(Port(3).TakeSent(), P + "You have received email.\r\n");
  EXPECT_EQ(Port(2).TakeSent() + Port(4).TakeSent(), "");
}

// Refusals no caller reaches yet: all 500 conferences in use (the caller stays
// where it is), and mail from an account that lost its first flag online.
TEST_F(Session, FullConferencesAndRestrictedMailAreRefused) {
  for (ConferenceInfo& conference : server.conferences) conference.inUse = true;
  Place(1, kChatUser).accountFlags[kFlagInUse] = false;
  for (const char* typed : {"/C Lounge\r", "/E012 hi\r"}) {
    Port(1).RaiseRecv(typed);
    server.BOut();
  }
  EXPECT_EQ(Port(1).TakeSent(), "\r\n\r\n" + P + "All conference channels are in use, please try again later.\r\n\r\n\r\n" +
                                   P + "Use restricted. Contact your SysOp.\r\n");
  EXPECT_EQ(std::tuple(Line(1).substate, Line(1).channel), std::tuple(kOnChannel, 1));
}

// Lines 1 to 31 count as in use whatever maxLines is; only lines up to it hear.
TEST_F(Session, StationIdCountsLinesAboveMaxLines) {
  server.config.maxLines = 7;
  Place(1, kChatUser);
  Place(9, kChatUser);
  server.StationID();
  EXPECT_TRUE(server.heldOutput[1].TakeFirst().ends_with(" 2 Lines In Use, 5 Lines Available.\r\n"));
  EXPECT_FALSE(server.heldOutput[9].HasMessage());
  server.EnableTimer(Server::SessionTimer::SIDTime, true);  // it has no interval
  Advance(3'600'000);
  EXPECT_FALSE(server.heldOutput[1].HasMessage());
}

// Each minute's tick counts it and marks a line at the first tick over its
// limit (level 0: 15 by default); a new day's first tick restarts the calls.
TEST_F(Session, TheOnlineTimerMarksALineAtTheFirstTickOverItsLimit) {
  struct Case { int16_t line, status, substate, level; double minutes; bool unlimited;
                int16_t linkLimit, ticks, marked; };  // ticks to the mark; 0: never
  const Case cases[] = {
      {1, kChatUser, kOnChannel, 0, 14, false, -1, 2, kTimeLimitWarned},
      {1, kDDialLink, kDclLink, 1, 0, false, 0, 1, kDDialTimeLimit},
      {1, kQvsLink, kQvsKind, 1, 0, false, 0, 1, kQvsTimeLimit},
      {1, kDDialLink, kDdlLink, 1, 100, false, -1, 0, 0},
      {1, kChatUser, kOnChannel, 2, 10'000, false, -1, 0, 0},
      {1, kChatUser, kOnChannel, 0, 100, true, -1, 0, 0},
      {0, kChatUser, kOnChannel, 0, 100, false, -1, 0, 0},
  };
  server.config.callsToday = 5;
  for (const Case& c : cases) {
    SCOPED_TRACE(&c - cases);
    server.config.timeLimits[5] = server.config.timeLimits[6] = c.linkLimit;
    LineState& line = Place(c.line, c.status, c.substate);
    std::tie(line.level, line.onlineTime, line.unlimitedTime) = std::tuple(c.level, c.minutes, c.unlimited);
    auto after = [&](int tick) { return c.ticks > 0 && tick >= c.ticks ? c.marked : c.substate; };
    for (int tick = 1; tick <= 2; ++tick) {
      Advance(59'999);
      EXPECT_EQ(std::tuple(line.onlineTime, line.substate), std::tuple(c.minutes + tick - 1, after(tick - 1)));
      Advance(1);
      EXPECT_EQ(std::tuple(line.onlineTime, line.substate), std::tuple(c.minutes + tick, after(tick)));
      EXPECT_EQ(server.config.callsToday, &c == cases && tick == 1 ? 0 : 3);
      server.config.callsToday = 3;
    }
    server.ResetLine(c.line);
  }
}

// Thirty seconds after the first notice every marked line but line 0 goes, links
// too (timeouts.scn follows a chat user); an unfinished close ends after its grace.
TEST_F(Session, MarkedLinesGoThirtySecondsAfterTheFirstNotice) {
  const int16_t places[][3] = {{0, kChatUser, kTimeLimitWarned}, {1, kChatUser, kTimeLimitWarned},
                               {2, kDDialLink, kDDialTimeLimit}, {3, kQvsLink, kQvsTimeLimit}, {4, kQvsLink, kQv2Kind}};
  for (const auto& [l, status, substate] : places) Place(l, status, substate);
  Port(1).RaiseRecv("still here\r");
  Advance(29'999);
  EXPECT_EQ(Line(1).status, kChatUser);
  Advance(1);
  for (int16_t l : {1, 2, 3}) EXPECT_EQ(Line(l).status, kOffline) << l;
  for (int16_t l : {0, 4}) EXPECT_NE(Line(l).status, kOffline) << l;
  Advance(Server::kCloseGraceMs - 1);
  EXPECT_EQ(Port(1).closes, std::vector<bool>{false});
  Advance(1);
  EXPECT_EQ(Port(1).closes, (std::vector<bool>{false, true}));
}

// All a line holds goes in one send, none to a typist; a byte 255 typed inside
// a message does not split it. What is held while a release lets events run
// follows it at once; past the bound the rest waits for the next release.
// A typist is held for only so much.
TEST_F(Session, HeldOutputGoesOutWholeInOneSend) {
  for (int16_t l : {1, 2}) Place(l, kChatUser);
  Place(3, kDDialLink);
  server.typing = {false, false, true, true};
  for (std::size_t l : {1, 2, 3}) {
    server.heldOutput[l].Append(std::string("one") + kEnd + "\r\n");
    server.heldOutput[l].Append(std::string("t") + kEnd + "wo" + kEnd);
  }
  server.BOut();
  const std::string both = "one\r\n\r\nt\xFFwo\r\n";
  EXPECT_EQ(Port(1).TakeSent() + "|" + Port(2).TakeSent() + "|" + Port(3).TakeSent(), both + "||" + both);
  EXPECT_EQ(std::tuple(Port(1).sends, Port(3).sends), std::tuple(1, 1));
  server.heldOutput[1].Append(std::string("first") + kEnd);
  testing::AtNextPump meanwhile([&] {
    server.heldOutput[1].Append(std::string("second") + kEnd);
    server.BOut();
  });
  server.BOut();
  EXPECT_EQ(Port(1).TakeSent(), "first\r\nsecond\r\n");
  for (int n = 0; n < 3; ++n) server.heldOutput[1].Append(std::string(40'000, 'x') + kEnd);
  for (const std::size_t bytes : {80'004u, 40'002u}) {
    server.BOut();
    EXPECT_EQ(Port(1).TakeSent().size(), bytes);
  }
  // A typist is sent what passes 256 KiB held, one release's worth.
  server.heldOutput[2].Clear();
  for (int n = 0; n < 7; ++n) {
    server.heldOutput[2].Append(std::string(40'000, 'y') + kEnd);
    server.BOut();
  }
  EXPECT_EQ(Port(2).TakeSent().size(), 80'004u);
}

}  // namespace
}  // namespace tellarium
