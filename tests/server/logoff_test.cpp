#include <gtest/gtest.h>

#include <algorithm>
#include <ctime>
#include <filesystem>
#include <optional>
#include <utility>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/loop.h"
#include "server/core/record_layouts.h"
#include "support/connected_server.h"
#include "support/fake_control.h"
#include "support/server_fixture.h"

namespace tellarium {
namespace {

// 6 December 2026, 14:35:20 local time.
std::time_t AfternoonOfTheSixth() { return testing::LocalTime(2026, 12, 6, 14, 35, 20); }

// A started station with fake controls, under a clock that moves when told.
class Logoff : public testing::ClockedStationTest<> {
 protected:
  Logoff() : ClockedStationTest(AfternoonOfTheSixth()) {}

  // A logged-in, announced chat user on channel 1.
  LineState& User(int16_t l, const std::string& handle, const std::string& account, int16_t level = 1) {
    server.Connect(l, kChatUser);
    LineState& line = Line(l);
    line.handle = handle;
    line.account = account;
    line.level = level;
    line.loginAnnounced = true;
    line.logoffAnnounced = false;
    line.loginBeep = true;
    server.MoveToChannel(l, 1);
    return line;
  }
  LineState& Link(int16_t l, int16_t status, int16_t substate, const std::string& channels) {
    LineState& line = User(l, "Remote", "050");
    line.status = status;
    line.substate = substate;
    line.linkChannels = channels;
    return line;
  }

  std::string Sent(int16_t l) { return server.Port(l).TakeSent(); }
  std::string SystemLog() { return testing::ReadFile("qvtalk.log"); }

  const std::string now_date_ = "12-06-2026";
};

// What the leaving caller reads and what the channel is told, by how the
// session ends; only a member's logoff touches the accounts, and an account
// already indexed is not counted again.
TEST_F(Logoff, EachWayOfLeavingHasItsFarewellAndNotice) {
  struct Case {
    const char* handle;
    const char* account;
    int16_t level;
    int16_t substate;
    std::string farewell;
    std::string notice;
  };
  const Case cases[] = {
      {"?", "N/A", 0, 0, "-=> QVS-00: Thank you for using Tellarium!", "-=> QVS-00: Logoff\r\n #1(C1]:?) "},
      {"Max", "012", 1, 2, "-=> QVS-00: Logoff Due to:KLICK!\r", "-=> QVS-00: Klick!\r\n #1[C1]:Max) #012"},
      {"Max", "012", 1, 4, "", "-=> QVS-00: Relog\r\n #1[C1]:Max) "},
  };
  const int16_t accounts = server.accountCount;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.notice);
    User(1, c.handle, c.account, c.level).substate = c.substate;
    User(2, "Eve", "N/A", 0);
    server.lgoff(1);
    EXPECT_EQ(Sent(1), c.farewell);
    EXPECT_EQ(Held(2), std::vector<std::string>{c.notice});
    EXPECT_EQ(Line(1).status, kOffline);
    EXPECT_EQ(std::exchange(server.Port(1).closes, {}), std::vector<bool>{false});
    EXPECT_EQ(FileExists("user012.qvs"), c.account != std::string("N/A"));
    EXPECT_EQ(server.accountCount, accounts + (c.account == std::string("N/A") ? 0 : 1));
  }
}

// The session's minutes are added to the account's counters, and a new
// account is indexed and counted.
TEST_F(Logoff, AMembersMinutesAreAddedToItsAccountAndItIsIndexed) {
  server.currentAccount = UserRecord{};
  server.currentAccount.handle = "Old Name";
  server.currentAccount.counter1 = 10;
  server.currentAccount.counter2 = 20;
  server.currentAccount.flags[kFlagInUse] = true;
  server.uwrite(12);
  const int16_t accounts = server.accountCount;
  User(1, "Max", "012").onlineTime = 7;

  server.lgoff(1);

  server.currentAccount = UserRecord{};
  server.uread(12);
  EXPECT_EQ(server.currentAccount.handle.Trimmed(), "Max");
  EXPECT_EQ(server.currentAccount.counter1, 17);
  EXPECT_EQ(server.currentAccount.counter2, 27);
  EXPECT_EQ(server.currentAccount.lastCallTime.Trimmed(), "14:35:20");
  EXPECT_TRUE(server.accountIndex[12].inUse);
  EXPECT_EQ(server.accountIndex[12].name.Raw(), FixedText<40>("Max").Raw());
  EXPECT_EQ(server.accountCount, accounts + 1);
}

TEST_F(Logoff, TheLastCallersMoveDownAndTheFileHoldsTen) {
  server.config.maxLines = 15;
  for (int i = 0; i < kLastCallerCount; ++i) {
    server.lastCallers[static_cast<std::size_t>(i)].handle = "Caller " + std::to_string(i);
    server.lastCallers[static_cast<std::size_t>(i)].inUse = true;
  }
  User(12, "Twelve", "N/A", 0);
  server.lgoff(12);

  ASSERT_EQ(testing::ReadFile("lastcalls.qvs").size(), 610u);
  for (int entry = 0; entry < kLastCallerCount; ++entry) {
    LastCallerRecord stored;
    GetRecord<LastCallerLayout>(kLastCallsFile, entry + 1, stored);
    const std::string expected = entry == 0 ? "Twelve" : "Caller " + std::to_string(entry - 1);
    EXPECT_EQ(stored.handle.Trimmed(), expected) << entry;
    EXPECT_TRUE(stored.inUse);
  }
  EXPECT_EQ(server.lastCallers[0].lineCode.Raw(), "1");
  EXPECT_EQ(server.lastCallers[0].account.Raw(), "N/A");
  EXPECT_EQ(server.lastCallers[0].time.Raw(), "14:35");
}

// A login is announced once; QVS links hear it as "~12/" and the logoff as
// "~13/" (the D-Dial forms are shown on the wire).
TEST_F(Logoff, LoginsAndLogoffsReachQvsLinksInTheirForm) {
  LineState& max = User(1, "Max", "012");
  max.loginAnnounced = false;
  User(2, "Eve", "N/A", 0).loginBeep = false;
  Link(4, kQvsLink, 0, "RNGLSWX");
  server.Loginout(1, 1);
  server.Loginout(1, 1);
  EXPECT_EQ(Held(1), std::vector<std::string>{"-=> QVS-00: \aLogin\r\n #1[C1]:Max) #012"});
  EXPECT_EQ(Held(2), std::vector<std::string>{"-=> QVS-00: Login\r\n #1[C1]:Max) #012"});
  EXPECT_EQ(Held(4), std::vector<std::string>{"00~12/Login^#1[C1]:Max) #012"});
  EXPECT_TRUE(max.loginAnnounced);
  server.lgoff(1);
  EXPECT_EQ(Held(4), std::vector<std::string>{"00~13/Logoff^#1[C1]:Max) #012"});
}

struct LogCase {
  int16_t status;
  int16_t substate;
  std::optional<std::string> entry;
};

TEST_F(Logoff, EachStatusAndSubstateHasItsLogText) {
  const std::vector<LogCase> cases = {
      {kChatUser, 0, "Logged off. (Online 3 minutes.)"},
      {kChatUser, 2, "Was /K'd. (Online 3 minutes.)"},
      {kChatUser, 3, "Timed Out. (Online 3 minutes.)"},
      {kChatUser, 4, "Was Relogged. (Online 3 minutes.)"},
      {kDDialLink, 0, "Link Logged off. (Online 3 minutes.)"},
      {kQvsLink, 0, "Link Logged off. (Online 3 minutes.)"},
      {kChatUser, 5, std::nullopt},
      {kChatUser, 6, std::nullopt},
      {kDDialLink, 1, std::nullopt},
      {kDDialLink, 2, std::nullopt},
      {kDDialLink, 3, std::nullopt},
      {kQvsLink, 1, std::nullopt},
      {kQvsLink, 2, std::nullopt},
      {kLoggingIn, 2, std::nullopt},
      {kOutdial, 0, std::nullopt},
  };
  for (const LogCase& c : cases) {
    LineState& line = User(3, "Max", "012");
    line.status = c.status;
    line.substate = c.substate;
    line.onlineTime = 3;
    const int16_t before = server.logCount;
    server.lgoff(3);
    if (c.entry) {
      EXPECT_EQ(server.logCount, before + 1) << c.status << "/" << c.substate;
      EXPECT_EQ(server.systemLog[static_cast<std::size_t>(server.logCount - 1)],
                "12-06-2026 2:35 PM Max:012 - " + *c.entry);
    } else {
      EXPECT_EQ(server.logCount, before) << c.status << "/" << c.substate;
    }
    EXPECT_EQ(Line(3).status, kOffline);
  }
}

TEST_F(Logoff, ASecondLogoffDoesNothing) {
  User(1, "Max", "012");
  User(2, "Eve", "N/A", 0);
  server.lgoff(1);
  const std::string log = SystemLog();
  const std::string config = testing::ReadFile("config.qvs");
  Held(2);
  clock_.Advance(2'000);
  server.lgoff(1);
  EXPECT_TRUE(Held(2).empty());
  EXPECT_EQ(SystemLog(), log);
  EXPECT_EQ(testing::ReadFile("config.qvs"), config);
  EXPECT_EQ(server.Port(1).closes, std::vector<bool>{false});
}

// Callers whose login was never announced leave without a notice.
TEST_F(Logoff, OnlyAnnouncedLoginsAreAnnouncedAtLogoff) {
  User(2, "Eve", "N/A", 0);
  server.Connect(1, kLoggingIn, 4);  // refused as a duplicate
  server.lgoff(1);
  server.Connect(0, kOffline);  // refused on line #0
  Line(0).handle = "Low";
  Line(0).account = "007";
  server.lgoff(0);
  server.Connect(3, kLoggingIn, 1);  // gone at the password prompt
  server.Port(3).state = tntlib::tntClosed;
  server.Port(3).RaiseRecv("");
  EXPECT_TRUE(Held(2).empty());
  for (int16_t l : {0, 1, 3}) EXPECT_EQ(Line(l).status, kOffline) << l;
  EXPECT_FALSE(FileExists("lastcalls.qvs"));  // nor are they last callers
}

TEST_F(Logoff, AnAbruptDisconnectFreesTheLineInEveryState) {
  const std::vector<std::pair<int16_t, int16_t>> states = {
      {kLoggingIn, 0}, {kLoggingIn, 1}, {kLoggingIn, 2}, {kChatUser, 0}, {kChatUser, 3}, {kChatUser, 5},
      {kChatUser, 6},  {kDDialLink, 0}, {kDDialLink, 2}, {kQvsLink, 0},  {kSysopScreen, 0}, {kUserScreen, 0},
  };
  for (auto [status, substate] : states) {
    LineState& line = User(2, "Max", "012");
    User(4, "Eve", "N/A", 0);
    line.status = status;
    line.substate = substate;
    SCOPED_TRACE(std::to_string(status) + "/" + std::to_string(substate));
    line.pairedLine = 4;
    line.sgaAgreed = line.echoAgreed = true;
    server.receiveBuffer[2] = "half";
    server.typing[2] = true;
    server.heldOutput[2].Append(std::string("m") + HeldOutput::kEndMark);
    server.CountChannelUsers();
    server.Port(2).state = tntlib::tntClosed;
    server.Port(2).RaiseRecv("");
    EXPECT_EQ(line.status, kOffline);
    EXPECT_EQ(line.pairedLine, -1);
    EXPECT_EQ(line.account.Trimmed(), "");
    EXPECT_EQ(line.handle.Trimmed(), "");
    EXPECT_EQ(line.channel, 0);
    EXPECT_EQ(server.channels[0].occupancy, 1);
    // The next caller starts with fresh negotiation, input and output.
    EXPECT_EQ(line.clientVersion.Trimmed(), "V2.00");
    EXPECT_TRUE(line.sgaPending && line.echoRequested);
    EXPECT_FALSE(line.sgaAgreed || line.echoAgreed);
    EXPECT_EQ(server.receiveBuffer[2], "");
    EXPECT_FALSE(server.typing[2]);
    EXPECT_FALSE(server.heldOutput[2].HasMessage());
    EXPECT_TRUE(server.Port(2).closes.empty());  // the caller is gone: nothing to close
    Held(4);
  }
}

TEST_F(Logoff, AClosingPeerThatReadsNothingIsCutOffAfterTheGrace) {
  User(1, "Max", "012");
  server.lgoff(1);
  ASSERT_EQ(server.Port(1).closes, std::vector<bool>{false});
  Advance(Server::kCloseGraceMs - 1);
  EXPECT_EQ(server.Port(1).closes, std::vector<bool>{false});
  Advance(1);
  EXPECT_EQ(server.Port(1).closes, (std::vector<bool>{false, true}));

  // A close that finished in time is left alone, and so is the next caller.
  User(2, "Eve", "N/A", 0);
  server.lgoff(2);
  server.Port(2).state = tntlib::tntConnected;
  Advance(Server::kCloseGraceMs);
  EXPECT_EQ(server.Port(2).closes, std::vector<bool>{false});
}

// A caller arriving while a line is logged off (its sends let events run)
// gets another line, not the one whose session the logoff resets and closes.
TEST_F(Logoff, ACallerArrivingDuringALogoffGetsAnotherLine) {
  User(1, "Max", "012");
  server.Port(1).state = tntlib::tntClosed;  // the caller hung up
  testing::AtNextPump arrival([&] { server.Listener().RaiseAccept(77); });
  server.Port(1).RaiseRecv("");
  EXPECT_TRUE(server.Port(1).accepted.empty());
  EXPECT_EQ(server.Port(2).accepted, std::vector<int32_t>{77});
  EXPECT_EQ(Line(1).status, kOffline);
  EXPECT_EQ(Line(2).status, kLoggingIn);
  EXPECT_TRUE(server.Port(2).closes.empty());
}

// A line typed while a refused duplicate is being closed starts no second
// login; the close notice still ends the line.
TEST_F(Logoff, InputDuringTheCloseIsDropped) {
  server.Connect(2, kLoggingIn, 4);
  server.Port(2).state = tntlib::tntClosing;
  server.Port(2).RaiseRecv("012secret\r");
  server.Port(2).RaiseRecv("\r");
  EXPECT_EQ(server.Port(2).TakeSent(), "");
  EXPECT_EQ(Line(2).status, kLoggingIn);
  server.Port(2).state = tntlib::tntClosed;
  server.Port(2).RaiseRecv("");
  EXPECT_EQ(Line(2).status, kOffline);
}

// A step that fails is logged and the rest of the logoff still happens.
TEST_F(Logoff, FailuresAreLoggedAndTheLogoffCarriesOn) {
  std::filesystem::create_directory("lastcalls.qvs");
  User(1, "Max", "012");
  User(2, "Eve", "N/A", 0);
  server.lgoff(1);
  EXPECT_EQ(Line(1).status, kOffline);
  EXPECT_EQ(Held(2).size(), 1u);
  const std::string errors = testing::ReadFile("error.log");
  EXPECT_EQ(errors.find("Routine: Lgoff\r\nError:"), 0u) << errors;

  std::filesystem::remove("error.log");
  server.Loginout(40, 2);
  EXPECT_EQ(testing::ReadFile("error.log"),
            "Routine: LoginOut\r\nError:Subscript out of range ( 9)\r\nCurrent Line: 40\r\nInput String:\r\n");
}

// Real controls on loopback.
class LoopbackServer : public Server {
 public:
  using Server::PortControl;
};

class LogoffOnLoopback : public testing::ConnectedServerTestOf<LoopbackServer> {
 protected:
  // A greeted caller on line 1, made a chat user.
  testing::Caller& ConnectChatUser(int receiveBuffer = 0) {
    testing::Caller& caller = Connect(1, receiveBuffer);
    LineState& line = server.lines[1];
    line.status = kChatUser;
    line.handle = "Max";
    line.account = "N/A";
    line.loginAnnounced = true;
    return caller;
  }
};

// The farewell still waits in the control's queue behind earlier output when
// the line is closed.
TEST_F(LogoffOnLoopback, TheFarewellArrivesBeforeTheConnectionCloses) {
  testing::Caller& caller = ConnectChatUser();
  const std::string earlier(1 << 20, 'x');
  server.send(1, 2, earlier);
  server.lgoff(1);
  ASSERT_TRUE(caller.ReadToEnd(std::chrono::seconds(10)));
  const std::string received = caller.Rest();
  EXPECT_TRUE(received == earlier + "-=> QVS-07: Thank you for using Tellarium!")
      << received.size() << " bytes, ending " << received.substr(received.size() - std::min<std::size_t>(60, received.size()));
  for (int i = 0; i < 1000 && server.PortControl(1).State() != tntlib::tntClosed; ++i) platform::Pump();
  EXPECT_EQ(server.PortControl(1).State(), tntlib::tntClosed);
}

// A peer that never reads cannot keep its line: the close is aborted after the grace.
TEST_F(LogoffOnLoopback, APeerThatNeverReadsIsCutOff) {
  platform::ManualClock clock;
  platform::SetClock(&clock);
  ConnectChatUser(4096);
  // Just under what a session may queue, far more than a peer that reads
  // nothing lets the connection take.
  const std::string chunk((512 << 10) - 128, 'x');
  for (int i = 0; i < 8; ++i) server.send(1, 2, chunk);
  server.lgoff(1);
  for (int i = 0; i < 50; ++i) platform::Pump();
  EXPECT_EQ(server.PortControl(1).State(), tntlib::tntClosing);
  clock.Advance(Server::kCloseGraceMs);
  platform::Pump();
  platform::Pump();
  EXPECT_EQ(server.PortControl(1).State(), tntlib::tntClosed);
  platform::SetClock(nullptr);
}

}  // namespace
}  // namespace tellarium
