// Sessions where the wire cannot reach yet: events run while a login or logoff
// waits, places no command leads to yet, held output, timers to the tick.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <tuple>
#include <vector>

#include "support/station_test.h"

namespace tellarium {
namespace {

using Messages = std::vector<std::string>;
const std::string P = "-=> QVS-00: ";
constexpr char kEnd = HeldOutput::kEndMark;

// A minute before midnight, so that the timers' first minute ends a day.
class Session : public testing::StationTest {
 protected:
  Session() : StationTest(testing::UtcTime(2026, 12, 6, 23, 59)) {}

  // A connected member "Max" #012 at level 1, its login announced.
  LineState& Place(int16_t l, int16_t status, int16_t substate = 0, int32_t channel = 1) {
    server.Connect(l, status, substate);
    LineState& line = Line(l);
    line.channel = channel;
    line.handle = "Max";
    line.account = "012";
    line.level = 1;
    line.loginAnnounced = true;
    line.logoffAnnounced = false;
    line.accountFlags[kFlagInUse] = true;
    return line;
  }
  std::string LoginAnswer(int16_t l, const std::string& typed) {
    server.Connect(l, kLoggingIn, kLoginLineTaken);
    server.inputLine[static_cast<std::size_t>(l)] = typed;
    server.LoginControl(l);
    return Port(l).TakeSent();
  }
};

// A caller gone while the login lets events run is no call and leaves the
// line free; a new caller on the line meanwhile is greeted, not logged in.
TEST_F(Session, ALoginEndsWhereItsCallerLeft) {
  testing::SeedMember(server, 1, "Max", "secret");
  for (const bool newCaller : {false, true}) {
    for (const std::string typed : {"", "001secret"}) {
      SCOPED_TRACE(typed + (newCaller ? ", new caller" : ""));
      testing::AtNextPump hangUp([&] {
        Port(1).state = tntlib::tntClosed;
        Port(1).RaiseRecv("");
        if (newCaller) server.Listener().RaiseAccept(77);
      });
      EXPECT_EQ(LoginAnswer(1, typed).find("You are caller"), std::string::npos);
      EXPECT_EQ(Line(1).status, newCaller ? kLoggingIn : kOffline);
      EXPECT_EQ(std::tuple(server.channels[0].occupancy, server.config.callsToday), std::tuple(0, 0));
    }
  }
}

// A caller arriving while a line is logged off gets another line; what a
// refused caller types while its line closes starts nothing.
TEST_F(Session, ALineOnItsWayOutTakesNoCallerAndNoInput) {
  Place(1, kChatUser);
  Port(1).state = tntlib::tntClosed;
  testing::AtNextPump arrival([&] { server.Listener().RaiseAccept(77); });
  Port(1).RaiseRecv("");
  EXPECT_EQ(Port(2).accepted, std::vector<int32_t>{77});
  EXPECT_EQ(Line(1).status, kOffline);
  server.Connect(3, kLoggingIn, kDuplicateClosed);
  Port(3).state = tntlib::tntClosing;
  Port(3).RaiseRecv("012secret\r");
  EXPECT_EQ(std::tuple(Line(3).status, Line(3).substate), std::tuple(kLoggingIn, kDuplicateClosed));
}

// Chat users hold the backlog; D-Dial links get it at once, line-coded and
// marked by the channel's place among theirs.
TEST_F(Session, TheBacklogGoesWhereTheSendersPlaceLeads) {
  struct Placed { int16_t line, status, substate; int32_t channel; const char* links = ""; int16_t paired = -1; };
  // The text comes from the first place's line.
  struct Route { std::vector<Placed> places; std::string text; std::map<int16_t, std::string> heard; };
  const Route routes[] = {
      {{{1, kChatUser, 0, 1}, {2, kChatUser, 0, 2}, {4, kChatUser, kInPrivateChat, 1}, {5, kLoggingIn, 1, 1}},
       "#1 hi", {{1, "#1 hi"}, {4, "#1 hi"}}},
      {{{2, kChatUser, kInPrivateChat, 1, "", 6}, {1, kChatUser, 0, 1}, {6, kChatUser, kInPrivateChat, 1, "", 2}},
       "#2 us", {{2, "#2 us\r\n"}, {6, "#2 us\r\n"}}},
      {{{1, kChatUser, kInConference, 567}, {2, kChatUser, kInConference, 567}, {3, kChatUser, 0, 5},
        {4, kChatUser, kInConference, 568}, {5, kDDialLink, kQvlLink, 1, "123456789"}},
       "#1 in", {{1, "#1 in"}, {2, "#1 in"}}},
      {{{3, kChatUser, kRelogPending, 1}, {1, kChatUser, 0, 1}}, "#3 again", {}},
      {{{4, kChatUser, 0, 2}, {1, kDDialLink, kDdlLink, 1, "1"}, {2, kDDialLink, kDclLink, 1, "12"},
        {3, kDDialLink, kQvlLink, 1, "123456789"}},
       "#4 two", {{2, "~#4 two\r\n"}, {3, "~#4 two\r\n"}, {4, "#4 two"}}},
      {{{1, kDDialLink, kDdlLink, 1, "1"}, {2, kDDialLink, kDclLink, 1, "12"}, {3, kDDialLink, kDDialTimeLimit, 1, "1"},
        {4, kChatUser, 0, 1}},
       "1#A hi#B", {{2, "1#10 hi#B\r\n"}, {4, "1#A hi#B"}}},
  };
  for (const Route& route : routes) {
    SCOPED_TRACE(route.text);
    for (int16_t l = 0; l <= 7; ++l) server.ResetLine(l);
    for (const Placed& p : route.places) {
      Place(p.line, p.status, p.substate, p.channel).linkChannels = p.links;
      Line(p.line).pairedLine = p.paired;
    }
    server.backlog(kChatMode, route.text, route.places[0].line);
    for (int16_t l = 0; l <= 7; ++l) {
      std::string heard = Port(l).TakeSent();
      for (const std::string& message : Held(l)) heard += message;
      EXPECT_EQ(heard, route.heard.contains(l) ? route.heard.at(l) : "") << "line " << l;
    }
  }
}

// A relog's logoff names no account; the line starts over as a new caller
// whose session keeps nothing of the last one. Minutes go to the account.
TEST_F(Session, ARelogStartsOverAndKeepsNothingOfTheLastSession) {
  testing::SeedMember(server, 12, "Max", "pw");
  Place(1, kChatUser, kRelogPending).onlineTime = 3;
  Place(2, kChatUser);
  server.lgoff(1);
  EXPECT_EQ(Held(2), Messages{P + "Relog\r\n #1[C1]:Max) "});
  EXPECT_EQ(server.systemLog[static_cast<std::size_t>(server.logCount - 1)],
            "12-06-2026 11:59 PM Max:012 - Was Relogged. (Online 3 minutes.)");
  server.uread(12);
  EXPECT_EQ(server.currentAccount.counter1, 3);
  testing::SeedMember(server, 1, "Max", "secret", 1, {kFlagInUse, kFlagChatUser}, 3);
  LoginAnswer(1, "001secret");
  LineState& line = Line(1);
  line.killProtected = line.lineSpacing = true;
  line.pairedLine = line.mailReadIndex = line.replyAccount = 4;
  line.substate = kRelogPending;
  Port(1).RaiseRecv("\r\n");
  EXPECT_EQ(Port(1).TakeSent(), "\x01\x01\x01Welcome to Tellarium QVS-00\r\nEnter PASSWORD or <RETURN>\r\n-->");
  Port(1).RaiseRecv("\r");
  EXPECT_EQ(std::tuple(line.account.Trimmed(), line.accountFlags, line.killProtected, line.lineSpacing, line.mailCount,
                       line.mailReadIndex, line.pairedLine, line.replyAccount),
            std::tuple("N/A", AccountFlags{}, false, false, 0, 0, -1, -1));
  EXPECT_EQ(server.channels[0].occupancy, 2);  // the new guest and line 2
}

// E-mail k is record k + 2 of the account file, counted by the sender first;
// only the first online line of the account is told.
TEST_F(Session, EmailGoesToItsRecordAndTheFirstLineOfTheAccountHears) {
  server.Esend(5);
  EXPECT_FALSE(FileExists("user005.qvs"));
  testing::SeedMember(server, 5, "Bob", "");
  const std::string account = testing::ReadFile("user005.qvs");
  server.Esend(5);
  EXPECT_EQ(testing::ReadFile("user005.qvs"), account);
  EXPECT_EQ(ErrorLog(), "Routine: Esend\r\nError:Bad record number ( 63)\r\n");
  Place(2, kChatUser).account = "006";
  Place(3, kChatUser).account = Place(4, kChatUser).account = "005";
  for (const char* from : {"Ann", "Cy"}) {
    server.uread(5);
    ++server.currentAccount.mailStored;
    server.uwrite(5);
    server.currentEmail.fromHandle = from;
    server.Esend(5);
    EXPECT_EQ(Port(3).TakeSent(), P + "You have received email.\r\n");
  }
  const std::string file = testing::ReadFile("user005.qvs");
  EXPECT_EQ(file.substr(0, 4) + file.substr(2 * 4096, 4) + file.substr(3 * 4096, 3), "Bob Ann Cy ");
  EXPECT_EQ(Line(3).mailCount, 2);
  EXPECT_EQ(Port(2).TakeSent() + Port(4).TakeSent(), "");
}

// Digits name records 1 to 10, letters (either case) 11 to 36, signs the rest.
TEST_F(Session, MessageSlotKeysNameTheirRecords) {
  const std::pair<std::string, int16_t> keys[] = {{"0", 1},  {"9", 10}, {"A", 11}, {"m", 23},  {"Z", 36}, {"!", 37},
                                                  {")", 45}, {"<", 46}, {"?", -1}, {"AB", -1}, {"", -1}, {"\xE4", -1}};
  for (const auto& [key, record] : keys) {
    EXPECT_EQ(Server::Sltchk(key), record) << key;
    EXPECT_EQ(Server::RvsSltChk(record), record < 0 ? "" : key == "m" ? "M" : key);
  }
  server.currentSlot.title = "Mine";
  server.WriteSlot("m");
  EXPECT_EQ(testing::ReadFile("mslots.qvs").substr(22 * 4192 + 16, 5), "Mine ");
  server.currentSlot = MessageSlot{};
  server.ReadSlot("M");
  server.ReadSlot("?");
  EXPECT_EQ(server.currentSlot.title.Trimmed(), "Mine");
  EXPECT_EQ(ErrorLog(), "Routine: Read Slot\r\nError:Overflow ( 6)\r\n");
}

// Each minute's tick counts it and marks a line at the first tick over its
// limit (level 0: 15 by default); a new day's first tick restarts the calls.
TEST_F(Session, TheOnlineTimerMarksALineAtTheFirstTickOverItsLimit) {
  struct Case { int16_t line, status, substate, level; double minutes; bool unlimited;
                int16_t linkLimit, ticks, marked; };  // ticks to the mark; 0: never
  const Case cases[] = {
      {1, kChatUser, kOnChannel, 0, 14, false, -1, 2, kTimeLimitWarned},
      {1, kChatUser, kInPrivateChat, 0, 20, false, -1, 1, kTimeLimitWarned},
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
      EXPECT_EQ(line.onlineTime, c.minutes + tick - 1);
      EXPECT_EQ(line.substate, after(tick - 1));
      const bool midnight = &c == cases && tick == 1;
      Advance(1);
      EXPECT_EQ(line.onlineTime, c.minutes + tick);
      EXPECT_EQ(line.substate, after(tick));
      EXPECT_EQ(server.config.callsToday, midnight ? 0 : 3);
      server.config.callsToday = 3;
    }
    server.ResetLine(c.line);
  }
}

// Each line a marked caller types repeats the notice; 30 seconds after the
// first, every marked line but line 0 goes, and TimeoutTimer's own first tick
// of the day restarts today's calls. An unfinished close ends after its grace.
TEST_F(Session, MarkedLinesGoThirtySecondsAfterTheFirstNotice) {
  Place(0, kChatUser, kTimeLimitWarned);
  Place(1, kChatUser, kTimeLimitWarned);
  Place(2, kDDialLink, kDDialTimeLimit);
  Place(3, kQvsLink, kQvsTimeLimit);
  Place(4, kQvsLink, kQv2Kind);
  Place(5, kChatUser);
  Advance(60'000);
  server.config.callsToday = 5;
  for (const char* typed : {"still here\r", "again\r"}) {
    Port(1).RaiseRecv(typed);
    EXPECT_EQ(Held(5), Messages{P + "#1 timeout. Logoff in 30 seconds.\r\n"});
    Advance(typed[0] == 's' ? 20'000 : 9'999);
  }
  EXPECT_EQ(std::tuple(Line(1).status, server.config.callsToday), std::tuple(kChatUser, 5));
  Advance(1);
  EXPECT_EQ(server.config.callsToday, 0);
  for (int16_t l : {1, 2, 3}) EXPECT_EQ(Line(l).status, kOffline) << l;
  for (int16_t l : {0, 4, 5}) EXPECT_NE(Line(l).status, kOffline) << l;
  Advance(Server::kCloseGraceMs - 1);
  EXPECT_EQ(Port(1).closes, std::vector<bool>{false});
  Advance(1);
  EXPECT_EQ(Port(1).closes, (std::vector<bool>{false, true}));
}

// One message per line per BOut, none to a typist; a byte 255 typed inside a
// message does not split it; past the capacity the oldest whole messages go.
TEST_F(Session, HeldOutputGoesOutOneMessageAtATime) {
  for (int16_t l : {1, 2}) Place(l, kChatUser);
  Place(3, kDDialLink);
  server.typing = {false, false, true, true};
  for (std::size_t l : {1, 2, 3}) {
    server.heldOutput[l].Append(std::string("one") + kEnd + "\r\n");
    server.heldOutput[l].Append(std::string("t") + kEnd + "wo" + kEnd);
  }
  for (const std::string next : {"one\r\n", "\r\nt\xFFwo\r\n"}) {
    server.BOut();
    EXPECT_EQ(Port(1).TakeSent() + "|" + Port(2).TakeSent() + "|" + Port(3).TakeSent(), next + "||" + next);
  }
  HeldOutput held;
  for (int i = 0; i < 1000; ++i) held.Append(std::to_string(i) + std::string(1000, 'x') + kEnd);
  EXPECT_LE(held.Bytes(), HeldOutput::kCapacityBytes);
  std::string first = held.TakeFirst(), last;
  while (held.HasMessage()) last = held.TakeFirst();
  EXPECT_TRUE(!first.starts_with("0x") && last.starts_with("999x")) << first.substr(0, 4) << last.substr(0, 4);
}

}  // namespace
}  // namespace tellarium
