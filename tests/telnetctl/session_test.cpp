// Sessions on loopback: starting them and how starts fail, and data and telnet
// commands both ways.
#include <netinet/in.h>
#include <linux/tcp.h>
#include <sys/socket.h>

#include <gtest/gtest.h>

#include "host.h"

namespace {

using namespace kvtest;
using namespace std::string_literals;

TEST(Session, StartsOnLoopbackAndHowTheyFail) {
  Pair pair;
  ASSERT_TRUE(pair.Open());
  EXPECT_EQ(pair.listener.Of(kEventOnListen).at(0).Text(0), "0.0.0.0");
  EXPECT_EQ(pair.client.Of(kEventOnConnect).at(0).Text(0), "127.0.0.1");
  EXPECT_EQ(pair.server.Of(kEventOnConnect).at(0).Int(2), pair.port);
  // RemotePort now holds the peer's port on both ends.
  EXPECT_EQ(pair.client.Get(kDispRemotePort).as_int32(), pair.port);
  EXPECT_EQ(pair.server.Get(kDispRemotePort).as_int32(), pair.client.Of(kEventOnConnect).at(0).Int(2));
  EXPECT_EQ(pair.server.State(), tntConnected);
  EXPECT_EQ(pair.listener.State(), tntListening);
  // A busy control refuses to start another session, silently.
  const size_t before = pair.client.events.size();
  EXPECT_FALSE(pair.client.Connect("127.0.0.1") || pair.client.Listen() || pair.client.Accept(1));
  EXPECT_EQ(pair.client.events.size(), before);

  // Failed starts and sends: each ends closed with its exception, no empty OnRecv.
  const std::pair<std::function<void(Host&)>, int> rows[] = {
      {[](Host& h) { h.Connect(""); }, tntBadname},
      {[](Host& h) { h.Accept(987654); }, tntBadname},
      {[](Host& h) { h.Connect("nosuch.invalid"); }, tntBadname},
      {[](Host& h) { h.Put(kDispRemotePort, Variant::Int32(FreePort())), h.Connect("127.0.0.1"); }, tntConnRefused},
      {[&](Host& h) { h.Put(kDispLocalPort, Variant::Int32(pair.port)), h.Listen(); }, tntAddrInUse},
      {[](Host& h) { EXPECT_FALSE(h.Send("x")); }, tntNotConnected},
  };
  for (const auto& [start, code] : rows) {
    Host host;
    start(host);
    ASSERT_TRUE(PumpUntil([&] { return host.Firsts(kEventOnException) == Ints{code}; })) << code;
    PumpFor(20);
    EXPECT_EQ(host.events.size(), 1u) << code;  // nothing more
    EXPECT_EQ(host.State(), tntClosed) << code;
  }
}

TEST(Session, EverySendGetsOneOnSendWithItsTag) {
  Pair pair;
  ASSERT_TRUE(pair.Open());
  EXPECT_TRUE(pair.server.Recv(3));  // no piece longer than that
  Variant t = Variant::Text("t"), nine = Variant::Int32(9), text = Variant::Text("y"), ref = Variant::Ref(&text);
  // Tags of each kind, or none, and other forms of data; the last two send nothing, so raise no OnSend.
  const std::vector<Variant> sends[] = {
      {t, Variant::Int16(7)}, {t, Variant::Int32(70000)}, {t, Variant::Double(2.9)}, {t, Variant::Double(-1.5)},
      {t, Variant::Text("5")}, {t}, {t, Variant::Ref(&nine)}, {Variant::Bytes({'x', 0, 200}), Variant::Int32(10)},
      {Variant::Ref(&ref), Variant::Int32(11)}, {Variant::Text("")}, {Variant::Bytes({'z'}, 2)}};
  for (const std::vector<Variant>& args : sends) EXPECT_TRUE(pair.client.Call(kDispSend, args));
  for (const Variant& refused : {Variant::Int16(65), Variant::Double(1.0), Variant()})
    EXPECT_FALSE(pair.client.Call(kDispSend, {refused}));
  ASSERT_TRUE(PumpUntil([&] { return pair.server.Received() == "ttttttt" "x\0\xc8y"s; }));
  PumpFor(30);
  EXPECT_EQ(pair.client.Firsts(kEventOnSend), (Ints{7, 70000, 2, -1, 0, 0, 9, 10, 11}));
  EXPECT_EQ(pair.client.Count(kEventOnException), 0u);
  for (const std::string& piece : pair.server.Pieces()) EXPECT_LE(piece.size(), 3u);
}

uint32_t DataSegmentsOut(Host& host) {
  tcp_info info{};
  socklen_t size = sizeof info;
  EXPECT_EQ(::getsockopt(host.impl().session().socket(), IPPROTO_TCP, TCP_INFO, &info, &size), 0);
  return info.tcpi_data_segs_out;
}

// Sends after an event's first, and an answer to a session's own input, leave in one write, each with its OnSend.
TEST(Session, SendsOfOneEventAfterTheFirstLeaveInOneWrite) {
  Pair pair;
  ASSERT_TRUE(pair.Open());
  for (Host* host : {&pair.client, &pair.server}) host->Put(kDispNoDelay, Variant::Bool(true));  // a segment per write
  pair.server.on_event = [&](const Event& e) {
    const bool first = e.id == kEventOnRecv && pair.server.Count(kEventOnRecv) == 1;
    for (const char* answer : {"x", "y"}) first && pair.server.Call(kDispSend, {Variant::Text(answer)});
  };
  const uint32_t before = DataSegmentsOut(pair.client), served = DataSegmentsOut(pair.server);
  for (const int32_t tag : {1, 2, 3}) {
    ASSERT_TRUE(pair.client.Call(kDispSend, {Variant::Text(std::string(tag, 'a' + tag)), Variant::Int32(tag)}));
  }
  EXPECT_EQ(pair.client.impl().session().queued_bytes(), 5u);
  ASSERT_TRUE(PumpUntil([&] { return pair.server.Received() == "bccddd" && pair.client.Received() == "xy" &&
                                     pair.client.Count(kEventOnSend) == 3; }));
  EXPECT_EQ(pair.client.Firsts(kEventOnSend), (Ints{1, 2, 3}));
  EXPECT_EQ(DataSegmentsOut(pair.client) - before, 2u);
  EXPECT_EQ(DataSegmentsOut(pair.server) - served, 1u);
}

bool SendCmd(Host& host, int16_t command, int16_t option, Variant suboption = Variant::Text("")) {
  return host.Call(kDispSendCmd, {Variant::Int16(command), Variant::Int16(option), suboption, Variant::Int32(0)});
}

// Against a plain socket: SendCmd's bytes on the wire, the data mark urgent;
// what arrives comes as OnRecv pieces and OnCmd events, and garbage is survived.
TEST(Session, CommandsAndDataAgainstAPlainSocket) {
  Pair pair;
  ASSERT_TRUE(pair.Open(true));
  for (const auto& [command, option] : {std::pair<int16_t, int16_t>{tntNOP, 0}, {tntWILL, tntEcho}, {tntIAC, 9}})
    EXPECT_TRUE(SendCmd(pair.server, command, option));
  EXPECT_TRUE(SendCmd(pair.server, tntSB, tntTerminalType, Variant::Text("a\xff" "b")));
  EXPECT_FALSE(SendCmd(pair.server, tntNOP, 0, Variant::Int32(5)));  // the suboption must be plain text
  const std::string wire = "\xff\xf1" "\xff\xfb\x01" "\xff\xff" "\xff\xfa\x18" "a\xff\xff" "b\xff\xf0";
  EXPECT_EQ(pair.raw->ReadUntil(wire, std::chrono::seconds(3)), wire);
  EXPECT_TRUE(SendCmd(pair.server, tntDM, 0));
  char urgent = 0;
  ASSERT_TRUE(PumpUntil([&] { return ::recv(pair.raw->fd(), &urgent, 1, MSG_OOB) == 1; }));
  EXPECT_EQ(static_cast<uint8_t>(urgent), 242);

  pair.raw->Send("abc\r\ndef\xff\xfd\x18" "\xff\xfa\x18\0\xff\xf0" "\xff\xf6\xff\xfa"s + std::string(98, 'x') + "ok");
  ASSERT_TRUE(PumpUntil([&] { return pair.server.Received().ends_with("ok"); }));
  EXPECT_EQ(pair.server.Pieces(), (Strings{"abc\r\n", "def", "ok"}));
  EXPECT_EQ(pair.server.Firsts(kEventOnCmd), (Ints{tntDO, tntSB, tntAYT}));
  EXPECT_EQ(pair.server.Of(kEventOnCmd).at(1).Int(1), tntTerminalType);
  EXPECT_EQ(pair.server.Of(kEventOnCmd).at(1).Text(2), "\0"s);
  EXPECT_EQ(pair.server.Firsts(kEventOnException), Ints{tntProtocol});
  EXPECT_EQ(pair.server.State(), tntConnected);
}

TEST(Session, AutoOptionAnswersEachNegotiationInsteadOfOnCmd) {
  Pair pair;
  pair.server.Put(kDispAutoOption, Variant::Bool(true));
  ASSERT_TRUE(pair.Open(true));
  pair.raw->Send("\xff\xfb\x01" "\xff\xfd\x01" "\xff\xfd\x03" "\xff\xfb\x18" "\xff\xfc\x05" "\xff\xfe\x03");
  pair.raw->Send("\xff\xf6" "\xff\xfa\x18\0\xff\xf0"s);  // nothing to answer
  const std::string answers = "\xff\xfd\x01" "\xff\xfc\x01" "\xff\xfb\x03" "\xff\xfe\x18" "\xff\xfe\x05" "\xff\xfc\x03";
  EXPECT_EQ(pair.raw->ReadUntil(answers, std::chrono::seconds(3)), answers);
  ASSERT_TRUE(PumpUntil([&] { return pair.server.Firsts(kEventOnSend) == Ints(6, 0); }));
  EXPECT_EQ(pair.server.Count(kEventOnCmd), 0u);

  // Two answering controls: WILL, DO, WONT, DONT, and the WONT that would
  // follow repeats what was last sent about the option, so it is not sent.
  Pair both;
  for (Host* host : {&both.client, &both.server}) host->Put(kDispAutoOption, Variant::Bool(true));
  ASSERT_TRUE(both.Open());
  ASSERT_TRUE(SendCmd(both.client, tntWILL, tntEcho));
  PumpFor(300);
  EXPECT_EQ(both.server.Count(kEventOnSend) + both.client.Count(kEventOnSend), 4u);
}

}  // namespace
