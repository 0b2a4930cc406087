// Telnet commands between controls: SendCmd's forms, OnCmd, automatic answers.
#include <gtest/gtest.h>
#include <sys/socket.h>

#include "host.h"
#include "../server/support/caller.h"

namespace {

using namespace kvtest;
using namespace tntlib;

std::string Bytes(std::initializer_list<int> values) {
  std::string s;
  for (int v : values) s.push_back(static_cast<char>(v));
  return s;
}

bool SendCmd(Host& host, int command, int option, Variant suboption, int32_t tag = 0) {
  return host.Call(kDispSendCmd, {Variant::Int16(static_cast<int16_t>(command)),
                                  Variant::Int16(static_cast<int16_t>(option)), std::move(suboption),
                                  Variant::Int32(tag)});
}

// A control that accepted a plain socket's connection.
struct RawPeer {
  Host listener;
  Host control;
  std::unique_ptr<tellarium::testing::Caller> peer;
  bool Open() {
    const uint16_t port = FreePort();
    listener.Put(kDispLocalPort, Variant::Int32(port));
    listener.on_event = [this](const Event& e) {
      if (e.id == kEventOnAccept) control.Accept(e.Int(0));
    };
    if (!listener.Listen()) return false;
    peer = std::make_unique<tellarium::testing::Caller>(port, true);
    return peer->connected() && PumpUntil([this] { return control.Count(kEventOnConnect) == 1; });
  }
  // The plain socket reads exactly `bytes` next.
  void Reads(const std::string& bytes) { EXPECT_EQ(peer->ReadUntil(bytes, std::chrono::seconds(3)), bytes); }
};

TEST(SendCmd, BuildsPlainCommandsVerbsAndSubnegotiations) {
  RawPeer raw;
  ASSERT_TRUE(raw.Open());
  EXPECT_TRUE(SendCmd(raw.control, tntNOP, 0, Variant::Text(""), 1));
  raw.Reads(Bytes({255, 241}));

  EXPECT_TRUE(SendCmd(raw.control, tntWILL, tntEcho, Variant::Text(""), 2));
  EXPECT_TRUE(SendCmd(raw.control, tntIAC, 9, Variant::Text(""), 3));
  EXPECT_TRUE(SendCmd(raw.control, tntSB, tntTerminalType, Variant::Text("a\xff" "b"), 4));
  raw.Reads(Bytes({255, 251, 1, 255, 255, 255, 250, 24, 'a', 255, 255, 'b', 255, 240}));
  ASSERT_TRUE(PumpUntil([&] { return raw.control.Count(kEventOnSend) == 4; }));
}

TEST(SendCmd, DataMarkGoesAsUrgentData) {
  RawPeer raw;
  ASSERT_TRUE(raw.Open());
  EXPECT_TRUE(SendCmd(raw.control, tntDM, 0, Variant::Text("")));
  char urgent = 0;
  ASSERT_TRUE(PumpUntil([&] { return ::recv(raw.peer->fd(), &urgent, 1, MSG_OOB) == 1; }));
  EXPECT_EQ(static_cast<uint8_t>(urgent), 242);
  raw.Reads(Bytes({255}));  // the IAC before the mark is ordinary data
}

TEST(SendCmd, SubOptionMustBePlainText) {
  RawPeer raw;
  ASSERT_TRUE(raw.Open());
  Variant text = Variant::Text("");
  const size_t before = raw.control.events.size();
  EXPECT_FALSE(SendCmd(raw.control, tntNOP, 0, Variant::Int32(5)));
  EXPECT_FALSE(SendCmd(raw.control, tntNOP, 0, Variant::Ref(&text)));
  EXPECT_EQ(raw.peer->ReadFor(std::chrono::milliseconds(30)), "");
  EXPECT_EQ(raw.control.events.size(), before);
}

TEST(OnCmd, ReportsCommandsWithTheirSuboption) {
  RawPeer raw;
  ASSERT_TRUE(raw.Open());
  raw.peer->Send(Bytes({255, 253, 24, 255, 250, 24, 0, 255, 240, 255, 246}));
  ASSERT_TRUE(PumpUntil([&] { return raw.control.Count(kEventOnCmd) == 3; }));
  const auto commands = raw.control.Of(kEventOnCmd);
  EXPECT_EQ(commands[0].Int(0), 253);
  EXPECT_EQ(commands[0].Int(1), 24);
  EXPECT_EQ(commands[0].Text(2), "");
  EXPECT_EQ(commands[1].Int(0), 250);
  EXPECT_EQ(commands[1].Int(1), 24);
  EXPECT_EQ(commands[1].Text(2), std::string(1, '\0'));
  EXPECT_EQ(commands[2].Int(0), 246);
  EXPECT_EQ(commands[2].Int(1), 0);
  EXPECT_EQ(raw.control.Received(), "");
}

TEST(OnRecv, ReceivedStreamIsFilteredAcrossReads) {
  RawPeer raw;
  ASSERT_TRUE(raw.Open());
  raw.peer->Send("ab\r");
  ASSERT_TRUE(PumpUntil([&] { return raw.control.Received() == "ab\r"; }));
  raw.peer->Send(std::string("\0cd", 3) + Bytes({255, 255}));
  ASSERT_TRUE(PumpUntil([&] { return raw.control.Count(kEventOnRecv) == 3; }));
  const auto pieces = raw.control.Of(kEventOnRecv);
  EXPECT_EQ(pieces[0].Text(0), "ab\r");
  EXPECT_EQ(pieces[1].Text(0), "cd");
  EXPECT_EQ(pieces[2].Text(0), Bytes({255}));

  raw.peer->Send(Bytes({255, 250}) + std::string(98, 'x'));
  ASSERT_TRUE(PumpUntil([&] { return raw.control.Count(kEventOnException) == 1; }));
  EXPECT_EQ(raw.control.Of(kEventOnException)[0].Int(0), 2);
  EXPECT_EQ(raw.control.Of(kEventOnException)[0].Text(1), "Error parsing TELNET option");
  raw.peer->Send("ok");
  ASSERT_TRUE(PumpUntil([&] { return raw.control.Count(kEventOnRecv) == 4; }));
  EXPECT_EQ(raw.control.Of(kEventOnRecv)[3].Text(0), "ok");
  EXPECT_EQ(raw.control.State(), tntConnected);
}

TEST(AutoOption, AnswersEachNegotiationFollowedByOnSendZero) {
  RawPeer raw;
  raw.control.Put(kDispAutoOption, Variant::Bool(true));
  ASSERT_TRUE(raw.Open());
  raw.peer->Send(Bytes({255, 251, 1, 255, 253, 1, 255, 253, 3, 255, 251, 24, 255, 252, 5, 255, 254, 3}));
  raw.peer->Send(Bytes({255, 246, 255, 250, 24, 0, 255, 240}));  // dropped silently
  raw.Reads(Bytes({255, 253, 1, 255, 252, 1, 255, 251, 3, 255, 254, 24, 255, 254, 5, 255, 252, 3}));
  ASSERT_TRUE(PumpUntil([&] { return raw.control.Count(kEventOnSend) == 6; }));
  for (const Event& e : raw.control.Of(kEventOnSend)) EXPECT_EQ(e.Int(0), 0);
  EXPECT_EQ(raw.control.Count(kEventOnCmd), 0u);
}

TEST(AutoOption, TwoAnsweringControlsStopAfterOneRound) {
  Pair pair;
  pair.client.Put(kDispAutoOption, Variant::Bool(true));
  pair.server.Put(kDispAutoOption, Variant::Bool(true));
  ASSERT_TRUE(pair.Open());
  ASSERT_TRUE(SendCmd(pair.client, tntWILL, tntEcho, Variant::Text(""), 77));
  PumpFor(300);
  // client WILL 1 -> server DO 1 -> client WONT 1 -> server DONT 1 -> (WONT 1 again: not sent)
  EXPECT_EQ(pair.server.Count(kEventOnSend), 2u);
  EXPECT_EQ(pair.client.Count(kEventOnSend), 2u);  // its own WILL (tag 77) and one answer
  EXPECT_EQ(pair.client.State(), tntConnected);
}

TEST(AutoOption, AnswerOnClosedSessionIsReportedAsSendOnClosedConnection) {
  Host host;
  host.Put(kDispAutoOption, Variant::Bool(true));
  host.impl().OnData(reinterpret_cast<const uint8_t*>("\xff\xfb\x01"), 3);
  ASSERT_EQ(host.Count(kEventOnException), 1u);
  EXPECT_EQ(host.Of(kEventOnException)[0].Int(0), 9);
  EXPECT_EQ(host.Of(kEventOnException)[0].Text(1), "Send attempted with closed connection");
}

}  // namespace
