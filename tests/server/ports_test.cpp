// Placing callers on lines, refusing them, greeting them and answering their
// option negotiation, with fake controls.
#include <gtest/gtest.h>

#include "support/fake_control.h"

namespace tellarium {
namespace {

using testing::SentCommand;

constexpr int16_t WILL = 251, WONT = 252, DO = 253, DONT = 254;

class PortsTest : public testing::FakeStationTest {
 protected:
  LineState& Line(int l) { return server.lines[static_cast<std::size_t>(l)]; }
};

TEST_F(PortsTest, ListenersOpenOnTheConfiguredPortsWithReuse) {
  server.config.mainPort = 2323;
  server.config.line0Port = -25536;  // stored as a signed 16-bit number: 40000
  server.OpenListeners();
  EXPECT_EQ(server.Listener().localPort, 2323);
  EXPECT_EQ(server.Line0().localPort & 0xFFFF, 40000);
  EXPECT_TRUE(server.Listener().reuseAddr);
  EXPECT_TRUE(server.Line0().reuseAddr);
  EXPECT_EQ(server.Listener().state, tntlib::tntListening);
  EXPECT_EQ(server.Line0().state, tntlib::tntListening);
}

TEST_F(PortsTest, GroupFiveMovesBothListeners) {
  server.OpenListeners();
  server.Connect(2, kChatUser);
  Line(2).level = 4;
  server.Port(2).RaiseRecv("\x01" "5|421|2420|2323|40|");
  EXPECT_EQ(server.Listener().closes, (std::vector<bool>{true}));
  EXPECT_EQ(server.Line0().closes, (std::vector<bool>{true}));
  EXPECT_EQ(server.Listener().localPort, 2323);
  EXPECT_EQ(server.Line0().localPort, 2420);
  EXPECT_EQ(server.Listener().state, tntlib::tntListening);
  EXPECT_EQ(server.Line0().state, tntlib::tntListening);
  EXPECT_EQ(server.config.maxLines, 31);
}

TEST_F(PortsTest, TheLowestFreeLineTakesTheCaller) {
  server.Port(1).state = tntlib::tntConnected;
  server.Port(3).state = tntlib::tntClosing;  // not free until closed
  server.Listener().RaiseAccept(11);
  EXPECT_EQ(server.Port(2).accepted, (std::vector<int32_t>{11}));
  EXPECT_EQ(server.currentLine, 2);
  server.Listener().RaiseAccept(12);
  EXPECT_EQ(server.Port(4).accepted, (std::vector<int32_t>{12}));
  EXPECT_EQ(server.RefusalCount(), 0u);
}

TEST_F(PortsTest, AFullStationRefusesEveryCaller) {
  for (int l = 1; l <= 7; ++l) server.Port(l).state = tntlib::tntConnected;
  server.Listener().RaiseAccept(21);
  EXPECT_EQ(server.currentLine, 8);
  ASSERT_EQ(server.RefusalCount(), 1u);
  EXPECT_EQ(server.Refusal(0).accepted, (std::vector<int32_t>{21}));
  EXPECT_EQ(server.Refusal(0).sent, "Sorry, the system is full. Try again later.\r\n");
  EXPECT_EQ(server.Refusal(0).closes, (std::vector<bool>{false}));

  // The first refusal is still closing: the next caller takes another control.
  server.Listener().RaiseAccept(22);
  ASSERT_EQ(server.RefusalCount(), 2u);
  EXPECT_EQ(server.Refusal(1).accepted, (std::vector<int32_t>{22}));
  server.Refusal(0).state = tntlib::tntClosed;
  server.Listener().RaiseAccept(23);
  EXPECT_EQ(server.RefusalCount(), 2u);
  EXPECT_EQ(server.Refusal(0).accepted, (std::vector<int32_t>{21, 23}));
}

TEST_F(PortsTest, RefusalControlsStayBounded) {
  for (int l = 1; l <= 7; ++l) server.Port(l).state = tntlib::tntConnected;
  for (int32_t caller = 1; caller <= 100; ++caller) server.Listener().RaiseAccept(caller);
  EXPECT_LE(server.RefusalCount(), 32u);
  std::size_t told = 0;
  for (std::size_t i = 0; i < server.RefusalCount(); ++i) told += server.Refusal(i).accepted.size();
  EXPECT_EQ(told, 100u);
}

TEST_F(PortsTest, LineZeroTakesOneCaller) {
  server.Line0().RaiseAccept(31);
  EXPECT_EQ(server.Port(0).accepted, (std::vector<int32_t>{31}));
  server.currentLine = 5;
  server.Line0().RaiseAccept(32);
  ASSERT_EQ(server.RefusalCount(), 1u);
  EXPECT_EQ(server.Refusal(0).sent, "Sorry, line #0 is in use. Try the main ports.\r\n");
  EXPECT_EQ(server.currentLine, 5);
}

TEST_F(PortsTest, TheGreetingOffersEchoAndNamesTheLine) {
  Line(3).clientVersion = "V1.00";
  server.receiveBuffer[3] = "stale";
  server.Listener().RaiseAccept(40);  // line 1
  server.Port(2).state = tntlib::tntConnected;
  server.Listener().RaiseAccept(41);
  EXPECT_EQ(server.Port(3).commands, (std::vector<SentCommand>{{WILL, 1, ""}, {0, 0, "\x01\x01\x01"}}));
  EXPECT_EQ(server.Port(3).sent,
            "\r\nWelcome to QVS-00:Tellarium\r\nRunning QVS V1.40M\r\nYou are connected to port #3\r\n"
            "Press <ENTER> To Login.\r\n");
  EXPECT_EQ(Line(3).status, kLoggingIn);
  EXPECT_EQ(Line(3).substate, 0);
  EXPECT_EQ(Line(3).lineType, kTelnetLine);
  EXPECT_EQ(Line(3).remoteAddress.Trimmed(), "127.0.0.1");
  EXPECT_EQ(server.receiveBuffer[3], "");
}

TEST_F(PortsTest, ChatUsersHearOfANewConnection) {
  server.Connect(5, kChatUser);
  server.Listener().RaiseAccept(50);
  ASSERT_EQ(server.heldOutput[5].MessageCount(), 1u);
  EXPECT_EQ(server.heldOutput[5].TakeFirst(), "-=> QVS-00: Login #1.\r\n");
}

// Each row of the answers, on a fresh connection; `sent` follows the peer's
// commands in order.
struct OptionCase {
  std::vector<std::pair<int16_t, int16_t>> received;
  std::vector<SentCommand> sent;
};

TEST_F(PortsTest, OptionAnswers) {
  const std::vector<OptionCase> cases = {
      {{{DO, 3}}, {{WILL, 3, ""}}},
      {{{DO, 3}, {DO, 3}}, {{WILL, 3, ""}}},
      {{{DO, 1}}, {{WILL, 1, ""}}},
      {{{DO, 1}, {DO, 1}}, {{WILL, 1, ""}}},
      {{{DO, 34}}, {{WONT, 34, ""}}},
      {{{DO, 24}, {DO, 24}}, {{WONT, 24, ""}, {WONT, 24, ""}}},
      {{{DONT, 5}}, {{WONT, 5, ""}}},
      {{{WILL, 3}, {WILL, 3}, {DO, 3}}, {{DO, 3, ""}}},
      {{{WILL, 1}}, {{DONT, 1, ""}, {DONT, 1, ""}}},
      {{{WILL, 34}}, {{DONT, 34, ""}}},
      {{{WILL, 31}}, {{DONT, 31, ""}}},
      {{{WONT, 31}}, {{DONT, 31, ""}}},
      {{{241, 0}, {249, 0}, {250, 24}}, {}},
      // Refusals in a row are answered once.
      {{{WONT, 31}, {WONT, 31}}, {{DONT, 31, ""}}},
      {{{DONT, 5}, {DONT, 5}}, {{WONT, 5, ""}}},
      {{{WILL, 24}, {WONT, 24}}, {{DONT, 24, ""}}},
      {{{WILL, 1}, {WONT, 1}}, {{DONT, 1, ""}, {DONT, 1, ""}}},
      {{{DO, 24}, {DONT, 24}}, {{WONT, 24, ""}}},
      {{{DONT, 1}}, {{WONT, 1, ""}}},
  };
  for (std::size_t i = 0; i < cases.size(); ++i) {
    server.Port(2).state = tntlib::tntClosed;
    server.lgoff(2);
    server.Port(2).state = tntlib::tntConnected;  // a fresh connection on line 2
    server.Port(2).RaiseConnect("127.0.0.1");
    server.Port(2).commands.clear();
    for (auto [command, option] : cases[i].received) server.Port(2).RaiseCmd(command, option);
    EXPECT_EQ(server.Port(2).commands, cases[i].sent) << "case " << i;
  }
}

TEST_F(PortsTest, NegotiationFlagsFollowTheAnswers) {
  server.Connect(2, kLoggingIn);
  server.Port(2).RaiseCmd(DO, 3);
  server.Port(2).RaiseCmd(DO, 1);
  EXPECT_TRUE(Line(2).sgaAgreed);
  EXPECT_FALSE(Line(2).sgaPending);
  EXPECT_TRUE(Line(2).echoAgreed);
  EXPECT_TRUE(Line(2).echoRequested);
  server.lgoff(2);
  EXPECT_FALSE(Line(2).sgaAgreed);
  EXPECT_TRUE(Line(2).sgaPending);
  EXPECT_FALSE(Line(2).echoAgreed);
  EXPECT_TRUE(Line(2).echoRequested);
}

}  // namespace
}  // namespace tellarium
