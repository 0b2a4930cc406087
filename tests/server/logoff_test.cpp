#include <gtest/gtest.h>
#include <sys/socket.h>

#include <algorithm>
#include <ctime>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/loop.h"
#include "server/core/record_layouts.h"
#include "support/fake_control.h"
#include "support/loopback_client.h"
#include "support/server_fixture.h"

namespace tellarium {
namespace {

// 6 December 2026, 14:35:20 local time.
std::time_t AfternoonOfTheSixth() { return testing::LocalTime(2026, 12, 6, 14, 35, 20); }

// A started station with fake controls, under a clock that moves when told.
class Logoff : public ::testing::Test {
 protected:
  Logoff() { platform::SetClock(&clock_); }
  ~Logoff() override { platform::SetClock(nullptr); }
  void SetUp() override {
    scratch_.Enter();
    server.Startup();
    server.CreateControls();
  }

  LineState& Line(int16_t l) { return server.lines[static_cast<std::size_t>(l)]; }

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

  // Every message held for the line, in order.
  std::vector<std::string> Held(int16_t l) {
    std::vector<std::string> messages;
    HeldOutput& held = server.heldOutput[static_cast<std::size_t>(l)];
    while (held.HasMessage()) messages.push_back(held.TakeFirst());
    return messages;
  }
  std::string Sent(int16_t l) { return server.Port(l).TakeSent(); }
  std::string SystemLog() { return testing::ReadFile("qvtalk.log"); }
  static std::vector<std::string> AccountFiles() {
    std::vector<std::string> names;
    for (const auto& file : std::filesystem::directory_iterator(".")) {
      const std::string name = file.path().filename().string();
      if (name.starts_with("user")) names.push_back(name);
    }
    return names;
  }

  void Advance(int64_t ms) {
    clock_.Advance(ms);
    platform::Pump();
  }

  const std::string now_date_ = "12-06-2026";
  platform::ManualClock clock_{AfternoonOfTheSixth()};
  testing::ScratchDirectory scratch_;
  testing::FakeControlServer server;
};

TEST_F(Logoff, AGuestIsThankedAndAnnouncedWithoutAccount) {
  User(1, "?", "N/A", 0);
  User(2, "Max", "012");
  const int16_t accounts = server.accountCount;
  server.lgoff(1);
  EXPECT_EQ(Sent(1), "-=> QVS-00: Thank you for using Tellarium!");
  EXPECT_EQ(Held(2), std::vector<std::string>{"-=> QVS-00: Logoff\r\n #1(C1]:?) "});
  EXPECT_EQ(AccountFiles(), std::vector<std::string>{"user000.qvs"});
  EXPECT_EQ(server.accountCount, accounts);
  EXPECT_EQ(Line(1).status, kOffline);
  EXPECT_EQ(server.Port(1).closes, std::vector<bool>{false});
}

TEST_F(Logoff, AMemberIsAnnouncedWithAccountAndSavedToFileIndexAndLastCallers) {
  server.currentAccount = UserRecord{};
  server.currentAccount.handle = "Old Name";
  server.currentAccount.counter1 = 10;
  server.currentAccount.counter2 = 20;
  server.currentAccount.flags[kFlagInUse] = true;
  server.uwrite(12);
  const int16_t accounts = server.accountCount;
  User(1, "Max", "012").onlineTime = 7;
  User(2, "Eve", "N/A", 0);

  server.lgoff(1);

  EXPECT_EQ(Held(2), std::vector<std::string>{"-=> QVS-00: Logoff\r\n #1[C1]:Max) #012"});
  server.currentAccount = UserRecord{};
  server.uread(12);
  EXPECT_EQ(server.currentAccount.handle.Trimmed(), "Max");
  EXPECT_EQ(server.currentAccount.counter1, 17);
  EXPECT_EQ(server.currentAccount.counter2, 27);
  EXPECT_EQ(server.currentAccount.lastCallDate.Trimmed(), now_date_);
  EXPECT_EQ(server.currentAccount.lastCallTime.Trimmed(), "14:35:20");
  EXPECT_TRUE(server.accountIndex[12].inUse);
  EXPECT_EQ(server.accountIndex[12].name.Raw(), FixedText<40>("Max").Raw());
  EXPECT_EQ(server.accountCount, accounts + 1);

  const std::string lastCalls = testing::ReadFile("lastcalls.qvs");
  ASSERT_EQ(lastCalls.size(), 610u);
  std::string first = FixedText<40>("Max").Raw() + "012" + "1" + "14:35" + now_date_ + std::string(2, '\xFF');
  EXPECT_EQ(lastCalls.substr(0, 61), first);

  ServerConfig record3;
  GetRecord<CallRecord>(kConfigFile, kCallRecordNumber, record3);
  EXPECT_EQ(record3.lastCallDate.Trimmed(), now_date_);
  EXPECT_EQ(record3.lastCallTime.Trimmed(), "14:35:20");
  EXPECT_EQ(record3.totalCalls, server.config.totalCalls);

  EXPECT_NE(SystemLog().find("12-06-2026 2:35 PM Max:012 - Logged off. (Online 7 minutes.)\r\n"), std::string::npos)
      << SystemLog();
}

// A second logoff of an index entry already in use does not count it again.
TEST_F(Logoff, AnAccountAlreadyIndexedIsNotCountedTwice) {
  User(1, "SysOp", "000", 4);
  const int16_t accounts = server.accountCount;
  ASSERT_TRUE(server.accountIndex[0].inUse);
  server.lgoff(1);
  EXPECT_EQ(server.accountCount, accounts);
  EXPECT_EQ(server.accountIndex[0].name.Trimmed(), "SysOp");
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

TEST_F(Logoff, LinksAndLoggingInLinesLeaveTheLastCallersAlone) {
  Link(1, kDDialLink, 0, "1");
  server.Connect(2, kLoggingIn, 1);
  server.lgoff(1);
  server.lgoff(2);
  EXPECT_FALSE(std::filesystem::exists("lastcalls.qvs"));
  EXPECT_NE(SystemLog().find("Remote:050 - Link Logged off. (Online 0 minutes.)"), std::string::npos);
}

TEST_F(Logoff, AKilledUserReadsKlickAndOthersAreTold) {
  User(1, "Max", "012").substate = 2;
  User(2, "Eve", "N/A", 0);
  server.lgoff(1);
  EXPECT_EQ(Sent(1), "-=> QVS-00: Logoff Due to:KLICK!\r");
  EXPECT_EQ(Held(2), std::vector<std::string>{"-=> QVS-00: Klick!\r\n #1[C1]:Max) #012"});
}

TEST_F(Logoff, ARelogIsAnnouncedWithoutAccountAndUnthanked) {
  User(1, "Max", "012").substate = 4;
  User(2, "Eve", "N/A", 0);
  server.lgoff(1);
  EXPECT_EQ(Sent(1), "");
  EXPECT_EQ(Held(2), std::vector<std::string>{"-=> QVS-00: Relog\r\n #1[C1]:Max) "});
}

TEST_F(Logoff, LinksHearOfLogoffsInTheirOwnForms) {
  User(1, "?", "N/A", 0);
  User(2, "Max", "012");
  Link(3, kDDialLink, 0, "1");
  Link(4, kQvsLink, 0, "RNGLSWX");
  Sent(3);
  server.lgoff(1);
  EXPECT_EQ(Sent(3), "}}-=> QVS-00: Logoff^#1(C1]:?) \r\n");
  EXPECT_EQ(Held(4), std::vector<std::string>{"00~13/Logoff^#1(C1]:?) "});
  server.lgoff(2);
  EXPECT_EQ(Sent(3), "}-=> QVS-00: Logoff^#2[C1]:Max) #012\r\n");
  EXPECT_EQ(Held(4), std::vector<std::string>{"00~13/Logoff^#2[C1]:Max) #012"});
}

TEST_F(Logoff, LoginsAreAnnouncedOnceInEveryForm) {
  LineState& max = User(1, "Max", "012");
  max.loginAnnounced = false;
  User(2, "Eve", "N/A", 0).loginBeep = false;
  Link(3, kDDialLink, 0, "1");
  Link(4, kQvsLink, 0, "RNGLSWX");
  Sent(3);
  server.Loginout(1, 1);
  server.Loginout(1, 1);
  EXPECT_EQ(Held(1), std::vector<std::string>{"-=> QVS-00: \aLogin\r\n #1[C1]:Max) #012"});
  EXPECT_EQ(Held(2), std::vector<std::string>{"-=> QVS-00: Login\r\n #1[C1]:Max) #012"});
  EXPECT_EQ(Sent(3), "}-=> QVS-00: Login^#1[C1]:Max) #012\r\n");
  EXPECT_EQ(Held(4), std::vector<std::string>{"00~12/Login^#1[C1]:Max) #012"});
  EXPECT_TRUE(max.loginAnnounced);
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
    line.pairedLine = 4;
    server.CountChannelUsers();
    server.Port(2).state = tntlib::tntClosed;
    server.Port(2).RaiseRecv("");
    EXPECT_EQ(line.status, kOffline) << status << "/" << substate;
    EXPECT_EQ(line.pairedLine, -1);
    EXPECT_EQ(line.account.Trimmed(), "");
    EXPECT_EQ(line.channel, 0);
    EXPECT_EQ(server.channels[0].occupancy, 1) << status << "/" << substate;
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

// Raises an accept on the main-port listener the next time the server lets
// events run.
struct Arrival final : platform::MessageTarget {
  explicit Arrival(testing::FakeControl& listener) : listener(listener) {
    platform::PostMessage(target_id(), platform::kFirstUserMessage);
  }
  void HandleMessage(uint32_t, uint64_t, int64_t) override { listener.RaiseAccept(77); }
  testing::FakeControl& listener;
};

// A caller arriving while a line is logged off (its sends let events run)
// gets another line, not the one whose session the logoff resets and closes.
TEST_F(Logoff, ACallerArrivingDuringALogoffGetsAnotherLine) {
  User(1, "Max", "012");
  server.Port(1).state = tntlib::tntClosed;  // the caller hung up
  Arrival arrival(server.Listener());
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
  EXPECT_TRUE(server.loginCalls.empty());
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

class LogoffOnLoopback : public ::testing::Test {
 protected:
  void SetUp() override {
    scratch_.Enter();
    server.lineBreak = "\r\n";
    server.stationNumber = "07";
    server.stationPrefix = "-=> QVS-07: ";
    server.config.maxLines = 7;
    server.config.mainPort = static_cast<int16_t>(testing::FreePort());
    server.config.line0Port = static_cast<int16_t>(testing::FreePort());
    server.currentLine = 8;
    server.CreateControls();
    server.OpenListeners();
  }

  // A greeted caller on line 1, made a chat user.
  int ConnectChatUser(int receiveBuffer = 0) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (receiveBuffer > 0) ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<uint16_t>(server.config.mainPort));
    EXPECT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ::fcntl(fd, F_SETFL, O_NONBLOCK);
    EXPECT_TRUE(testing::PumpUntil([&] { return server.lines[1].status == kLoggingIn; }));
    LineState& line = server.lines[1];
    line.status = kChatUser;
    line.handle = "Max";
    line.account = "N/A";
    line.loginAnnounced = true;
    return fd;
  }

  // Everything the caller reads until the server closes, or nothing if it never does.
  std::optional<std::string> ReadToEnd(int fd) {
    std::string received;
    bool closed = false;
    testing::PumpUntil([&] {
      char buffer[4096];
      for (;;) {
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n == 0) closed = true;
        if (n <= 0) return closed;
        received.append(buffer, static_cast<std::size_t>(n));
      }
    });
    ::close(fd);
    if (!closed) return std::nullopt;
    return received;
  }
  static std::string AfterGreeting(const std::string& text) {
    const std::string greeting_end = "Press <ENTER> To Login.\r\n";
    const std::size_t at = text.find(greeting_end);
    return at == std::string::npos ? text : text.substr(at + greeting_end.size());
  }

  testing::ScratchDirectory scratch_;
  LoopbackServer server;
};

// The farewell still waits in the control's queue behind earlier output when
// the line is closed.
TEST_F(LogoffOnLoopback, TheFarewellArrivesBeforeTheConnectionCloses) {
  const int fd = ConnectChatUser();
  const std::string earlier(1 << 20, 'x');
  server.send(1, 2, earlier);
  server.lgoff(1);
  const std::optional<std::string> received = ReadToEnd(fd);
  ASSERT_TRUE(received);
  EXPECT_TRUE(AfterGreeting(*received) == earlier + "-=> QVS-07: Thank you for using Tellarium!")
      << received->size() << " bytes, ending " << received->substr(received->size() - std::min<std::size_t>(60, received->size()));
  EXPECT_TRUE(testing::PumpUntil([&] { return server.PortControl(1).State() == tntlib::tntClosed; }));
}

TEST_F(LogoffOnLoopback, AKilledCallerReadsKlickBeforeTheClose) {
  const int fd = ConnectChatUser();
  server.lines[1].substate = 2;
  server.lgoff(1);
  const std::optional<std::string> received = ReadToEnd(fd);
  ASSERT_TRUE(received);
  EXPECT_EQ(AfterGreeting(*received), "-=> QVS-07: Logoff Due to:KLICK!\r");
}

// A peer that never reads cannot keep its line: the close is aborted after the grace.
TEST_F(LogoffOnLoopback, APeerThatNeverReadsIsCutOff) {
  platform::ManualClock clock;
  platform::SetClock(&clock);
  const int fd = ConnectChatUser(4096);
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
  ::close(fd);
}

}  // namespace
}  // namespace tellarium
