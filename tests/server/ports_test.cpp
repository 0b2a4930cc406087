// Placing callers on lines, refusing them, greeting them and answering their
// option negotiation, with fake controls.
#include <gtest/gtest.h>

#include "support/fake_control.h"

namespace tellarium {
namespace {

using testing::SentCommand;

constexpr int16_t WILL = 251, WONT = 252, DO = 253, DONT = 254;

using PortsTest = testing::FakeStationTest;

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

TEST_F(PortsTest, RefusalControlsStayBounded) {
  for (int l = 1; l <= 7; ++l) server.Port(l).state = tntlib::tntConnected;
  server.Listener().RaiseAccept(1);
  server.Refusal(0).state = tntlib::tntClosed;  // its close has finished: it takes the next caller
  server.Listener().RaiseAccept(2);
  EXPECT_EQ(server.RefusalCount(), 1u);
  for (int32_t caller = 3; caller <= 100; ++caller) server.Listener().RaiseAccept(caller);
  EXPECT_LE(server.RefusalCount(), 32u);
  std::size_t told = 0;
  for (std::size_t i = 0; i < server.RefusalCount(); ++i) told += server.Refusal(i).accepted.size();
  EXPECT_EQ(told, 100u);
}

// The greeting's bytes are shown on the wire; a new connection takes no line
// still closing, and starts with nothing left of the line's last caller.
TEST_F(PortsTest, ANewConnectionStartsClean) {
  server.receiveBuffer[3] = "stale";
  server.Listener().RaiseAccept(40);  // line 1
  server.Port(2).state = tntlib::tntClosing;  // not free until closed
  server.Listener().RaiseAccept(41);
  EXPECT_EQ(Line(3).status, kLoggingIn);
  EXPECT_EQ(Line(3).substate, 0);
  EXPECT_EQ(Line(3).lineType, kTelnetLine);
  EXPECT_EQ(Line(3).remoteAddress.Trimmed(), "127.0.0.1");
  EXPECT_EQ(server.receiveBuffer[3], "");
}

// Rows of the answers the wire test does not reach, each on a fresh
// connection; `sent` follows the peer's commands in order.
struct OptionCase {
  std::vector<std::pair<int16_t, int16_t>> received;
  std::vector<SentCommand> sent;
};

TEST_F(PortsTest, OptionAnswers) {
  const std::vector<OptionCase> cases = {
      {{{250, 24}}, {}},
      // Refusals in a row are answered once.
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
}

}  // namespace
}  // namespace tellarium
