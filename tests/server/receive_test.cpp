// What a line receives, with the line's state set directly: echo, line
// editing, assembly, dispatch, client packets and terminal relays.
#include <gtest/gtest.h>

#include "support/fake_control.h"

namespace tellarium {
namespace {

const std::string kPrefix = "-=> QVS-00: ";
const std::string kUnrecognized = kPrefix + "Unrecognized Command. /? For Menu.\r\n";

class ReceiveTest : public testing::FakeStationTest {
 protected:
  // Pieces arrive one by one, as the control cuts them.
  void Receive(int l, std::initializer_list<std::string> pieces) {
    for (const std::string& piece : pieces) server.Port(l).RaiseRecv(piece);
  }
  std::string Sent(int l) { return server.Port(l).TakeSent(); }
};

// --- echo and assembly -------------------------------------------------------

TEST_F(ReceiveTest, TextBeforeTheCarriageReturnJoinsWhatWasTyped) {
  server.Connect(2, kChatUser);
  Receive(2, {"/S", "T\r\n"});
  EXPECT_NE(Sent(2).find(kPrefix + "Time: "), std::string::npos);
}

TEST_F(ReceiveTest, ALineFeedLeftFromTheLastLineStartsNothing) {
  server.Connect(2, kChatUser);
  Receive(2, {"/a\r", "\n"});
  EXPECT_EQ(Sent(2), "\r\n\r\n" + kUnrecognized);
  EXPECT_FALSE(server.typing[2]);
  EXPECT_EQ(server.receiveBuffer[2], "");
  Receive(2, {"/x\r"});
  EXPECT_EQ(Sent(2), "\r\n\r\n" + kUnrecognized);
}

TEST_F(ReceiveTest, ChatLinesReachTheChannelWithoutBracesOrTildes) {
  server.Connect(2, kChatUser);
  server.Connect(3, kChatUser);
  Line(2).channel = Line(3).channel = 1;
  Line(2).handle = "Max";
  Receive(2, {"h", "}", "~", "i"});
  EXPECT_EQ(Sent(2), "hi");
  Receive(2, {"\r", "y}o~u\r\n"});
  // Each completed line releases one held message to every idle chat user.
  const std::string heard = Sent(3);
  const std::size_t hi = heard.find("hi\r\n");
  ASSERT_NE(hi, std::string::npos) << heard;
  EXPECT_EQ(heard.substr(heard.size() - 5), "you\r\n");
  EXPECT_LT(hi, heard.size() - 5);
  EXPECT_EQ(heard.find_first_of("}~"), std::string::npos);
}

TEST_F(ReceiveTest, ClientPacketsTypedIntoTheBufferAreNotEchoed) {
  server.Connect(2, kChatUser);
  server.receiveBuffer[2] = "\x02";
  Receive(2, {"x"});
  EXPECT_EQ(Sent(2), "");
}

// --- line editing --------------------------------------------------------------

// Each key erases on the caller's screen what it erases from the line.
TEST_F(ReceiveTest, EditingKeys) {
  struct Case {
    std::string before;
    std::vector<std::string> keys;
    std::string echoed;
    std::string after;
  };
  const Case cases[] = {
      {"", {"a", "b", "\b"}, "ab\b \b", "a"},
      {"a", {"\b", "\b"}, "\b \b", ""},
      {"abc", {"\x18" "x}y"}, "\b \b\b \b\b \b", "x}y"},  // CAN keeps what follows
      {"abc", {"\x1b" "x}y"}, "\b \b\b \b\b \b", "x}y"},  // so does ESC
      {"", {"a", "b", "\x15"}, "ab\b \b\b \bReprinting...\r\nab", "ab"},
  };
  server.Connect(2, kChatUser);
  for (const Case& c : cases) {
    server.receiveBuffer[2] = c.before;
    for (const std::string& key : c.keys) server.Port(2).RaiseRecv(key);
    EXPECT_EQ(Sent(2), c.echoed) << c.echoed;
    EXPECT_EQ(server.receiveBuffer[2], c.after) << c.echoed;
  }
}

// --- logging in ----------------------------------------------------------------

TEST_F(ReceiveTest, ARestartedLoginBeginsAgain) {
  server.Connect(2, kChatUser, 4);
  Receive(2, {"\r\n"});
  EXPECT_EQ(Sent(2), "\x01\x01\x01Welcome to Tellarium QVS-00\r\nEnter PASSWORD or <RETURN>\r\n-->");
  EXPECT_EQ(Line(2).status, kLoggingIn);
  EXPECT_EQ(Line(2).substate, 1);
}

// --- a completed line by status -----------------------------------------------------

TEST_F(ReceiveTest, AnEmptyChatLineReleasesHeldOutputAndChecksTheTimeLimit) {
  server.Connect(2, kChatUser, 3);
  server.heldOutput[2].Append(std::string("news") + HeldOutput::kEndMark);
  Receive(2, {"x", "\b"});
  EXPECT_TRUE(server.typing[2]);
  server.BOut();
  EXPECT_EQ(Sent(2), "x\b \b");
  Receive(2, {"\r\n"});
  EXPECT_EQ(Sent(2), "\r\nnews\r\n");
  EXPECT_FALSE(server.typing[2]);
  server.BOut();
  EXPECT_EQ(Sent(2), kPrefix + "#2 timeout. Logoff in 30 seconds.\r\n\r\n");
}

TEST_F(ReceiveTest, LinksTakeTheirLinesRawAndUnechoed) {
  server.Connect(3, kDDialLink);
  server.Connect(4, kQvsLink);
  Receive(3, {"#1}~", "x\r\n"});
  Receive(4, {"~12/hi\r"});
  EXPECT_EQ(Sent(3), "");
  EXPECT_EQ(Sent(4), "");
  for (int l : {3, 4}) EXPECT_EQ(server.receiveBuffer[l] + server.inputLine[l], "") << l;
}

// Bytes past the bound are dropped, unechoed, until the line ends.
TEST_F(ReceiveTest, AnEndlessLineIsBounded) {
  server.Connect(1, kLoggingIn, 1);
  const std::string piece(32766, 'x');
  for (int i = 0; i < 40; ++i) Receive(1, {piece});
  const std::size_t kept = server.receiveBuffer[1].size();
  EXPECT_LT(kept, 40 * piece.size());
  EXPECT_GE(kept, 4096u);
  EXPECT_EQ(Sent(1), std::string(kept, '*'));
  Receive(1, {"\r"});
  EXPECT_EQ(Line(1).status, kChatUser);  // the bounded line went to the login
  EXPECT_EQ(Line(1).account.Raw(), "N/A");
}

// --- client packets ----------------------------------------------------------------

TEST_F(ReceiveTest, EveryLineMayNameItsClientVersion) {
  server.Connect(1, kLoggingIn, 0);
  Receive(1, {"\x01V1.23\r\n"});
  EXPECT_EQ(Line(1).clientVersion.Trimmed(), "V1.23");
  EXPECT_EQ(Line(1).lineType, kClientLine);
  EXPECT_EQ(Sent(1), "");
  EXPECT_EQ(Line(1).substate, 0);  // the packet is not the answer to the greeting
}

TEST_F(ReceiveTest, ConfigurationPacketsOnlyFromLevel4ChatUsers) {
  const std::string packet = "\x01" "3|9|8|7|6|";
  const auto before = server.config.options;
  const std::vector<std::pair<int16_t, int16_t>> refused = {{kLoggingIn, 4}, {kChatUser, 3}, {kDDialLink, 4}};
  for (auto [status, level] : refused) {
    server.Connect(2, status, 1);
    Line(2).level = level;
    Receive(2, {packet});
    EXPECT_EQ(Sent(2), kPrefix + "Insufficient Security Clearance.\r\n") << status << " " << level;
    EXPECT_EQ(server.config.options, before);
  }
  server.Connect(2, kChatUser);
  Line(2).level = 4;
  Receive(2, {packet});
  EXPECT_EQ(Sent(2), kPrefix + "Done.\r\n");
  EXPECT_EQ(server.config.options[1], 9);
}

TEST_F(ReceiveTest, ALinesSessionDataNeedsTheLineEditLevel) {
  server.config.options[3] = 3;
  server.Connect(2, kChatUser);
  Line(2).level = 2;
  Receive(2, {"\x01" "1|5|Eve|1|1|False|False|False|"});
  EXPECT_EQ(Sent(2), kPrefix + "Insufficient Security Clearance.\r\n");
  EXPECT_EQ(Line(5).handle.Trimmed(), "");
  Line(2).level = 3;
  Receive(2, {"\x01" "1|5|Eve|1|1|False|False|False|"});
  EXPECT_EQ(Sent(2), kPrefix + "Done.\r\n");
  EXPECT_EQ(Line(5).handle.Trimmed(), "Eve");
}

TEST_F(ReceiveTest, AnAccountComesBackOnlyToTheAccountAskedFor) {
  server.currentAccount = UserRecord{};
  server.currentAccount.handle = "Someone";
  server.currentAccount.flags[kFlagInUse] = true;
  const std::string record = "\x02" + server.uassemble();
  server.Connect(2, kChatUser);
  Line(2).level = 4;
  Receive(2, {record});
  EXPECT_EQ(Sent(2), kPrefix + "Insufficient Security Clearance.\r\n");
  EXPECT_FALSE(std::filesystem::exists("user005.qvs"));

  Line(2).editAccount = "005";
  Line(2).level = 3;
  Receive(2, {record});
  EXPECT_EQ(Sent(2), kPrefix + "Insufficient Security Clearance.\r\n");
  EXPECT_FALSE(std::filesystem::exists("user005.qvs"));

  Line(2).level = 4;
  Receive(2, {record});
  EXPECT_EQ(Sent(2), kPrefix + "User Info Saved.\r\n");
  server.uread(5);
  EXPECT_EQ(server.currentAccount.handle.Trimmed(), "Someone");
}

// --- terminal sessions -----------------------------------------------------------------

class TerminalTest : public ReceiveTest {
 protected:
  void SetUp() override {
    ReceiveTest::SetUp();
    server.Connect(2, kOutdial, 2);  // the user side
    server.Connect(6, kOutdial, 3);  // the outdial side
    Line(2).pairedLine = 6;
    Line(6).pairedLine = 2;
  }
};

TEST_F(TerminalTest, DataPassesUnchangedBothWays) {
  Receive(2, {"ls }~\r\n"});
  Receive(6, {"\x1b[0m\r\n"});
  EXPECT_EQ(Sent(6), "ls }~\r\n");
  EXPECT_EQ(Sent(2), "\x1b[0m\r\n");
}

TEST_F(TerminalTest, AGraveAccentAloneEndsTheSession) {
  Receive(2, {"`"});
  EXPECT_EQ(Sent(2), kPrefix + "Terminal Exited.\r\n");
  EXPECT_EQ(Sent(6), "");
  EXPECT_EQ(Line(2).status, kChatUser);
  EXPECT_EQ(Line(2).substate, 0);
  EXPECT_EQ(Line(6).substate, 4);
}

TEST_F(TerminalTest, TheFarEndHangingUpReturnsTheUserToChat) {
  server.Port(6).state = tntlib::tntClosed;
  Receive(6, {""});
  EXPECT_EQ(Sent(2), kPrefix + "Outdial disconnected.\r\n");
  EXPECT_EQ(Line(2).status, kChatUser);
  EXPECT_EQ(Line(2).substate, 0);
  EXPECT_EQ(Line(6).status, kOffline);
}

TEST_F(TerminalTest, TheUserHangingUpFreesBothLines) {
  server.Port(2).state = tntlib::tntClosed;
  Receive(2, {""});
  EXPECT_EQ(server.Port(6).closes, (std::vector<bool>{false}));  // what is queued goes first
  EXPECT_EQ(Line(6).status, kOffline);
  EXPECT_EQ(Line(2).status, kOffline);
}

TEST_F(TerminalTest, TheOutdialConnectingTellsTheUser) {
  Line(2).status = kChatUser;
  Line(2).substate = 0;
  Line(6).substate = 1;
  server.Port(6).state = tntlib::tntConnected;
  server.Port(6).RaiseConnect("10.0.0.9");
  EXPECT_EQ(Sent(2), kPrefix + "Terminal connected. ` to Exit.\r\n");
  EXPECT_EQ(server.Port(6).commands, (std::vector<testing::SentCommand>{{251, 1, ""}}));
  EXPECT_EQ(Sent(6), "");
  EXPECT_EQ(Line(2).status, kOutdial);
  EXPECT_EQ(Line(2).substate, 2);
  EXPECT_EQ(Line(2).pairedLine, 6);
  EXPECT_EQ(Line(6).substate, 3);
  EXPECT_EQ(Line(6).remoteAddress.Trimmed(), "10.0.0.9");
}

}  // namespace
}  // namespace tellarium
