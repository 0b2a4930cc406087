// Ending sessions: graceful and abortive close, the peer's close, the listen
// time-out, and hosts that end their control while it raises events.
#include <gtest/gtest.h>

#include "host.h"
#include "platform/clock.h"

namespace {

using namespace kvtest;

TEST(Close, GracefulCloseSendsQueuedPacketsFirst) {
  Pair pair;
  ASSERT_TRUE(pair.Open());
  for (int32_t tag : {1, 2, 3}) ASSERT_TRUE(pair.client.Send("p" + std::to_string(tag), Variant::Int32(tag)));
  EXPECT_TRUE(pair.client.Close(false));
  EXPECT_EQ(pair.client.State(), tntClosing);
  EXPECT_TRUE(pair.client.Close(false));  // already closing
  ASSERT_TRUE(PumpUntil([&] { return pair.client.Closed(); }));
  EXPECT_EQ(pair.client.Firsts(kEventOnSend), (Ints{1, 2, 3}));
  EXPECT_EQ(pair.client.events.back().id, kEventOnRecv);
  EXPECT_EQ(pair.client.State(), tntClosed);
  // The peer reads everything, then learns of the close.
  ASSERT_TRUE(PumpUntil([&] { return pair.server.Closed(); }));
  EXPECT_EQ(pair.server.Received(), "p1p2p3");
  EXPECT_EQ(pair.server.Firsts(kEventOnException), Ints{tntRemoteClose});
  EXPECT_EQ(pair.server.State(), tntClosed);
  EXPECT_FALSE(pair.server.Close(false));
}

TEST(Close, AbortiveCloseDiscardsQueuedPacketsAndTheControlRunsAgain) {
  Pair pair;
  pair.client.Put(kDispVarDataType, Variant::Int32(3));  // bytes, by reference in OnRecvAlt
  ASSERT_TRUE(pair.Open());
  for (const char* packet : {"one", "two", "three"}) ASSERT_TRUE(pair.client.Send(packet));
  EXPECT_TRUE(pair.client.Close(true));
  EXPECT_EQ(pair.client.State(), tntClosed);
  EXPECT_EQ(pair.client.Pieces(), Strings{""});  // raised inside Close
  ASSERT_TRUE(PumpUntil([&] { return pair.server.Closed(); }));
  EXPECT_EQ(pair.server.Received().find("two"), std::string::npos);
  EXPECT_EQ(pair.client.Count(kEventOnSend), 0u);
  EXPECT_EQ(pair.server.Firsts(kEventOnException), Ints{tntRemoteClose});
  // The control runs another session, its parser clean of an old half command.
  pair.client.impl().OnData(reinterpret_cast<const uint8_t*>("\xff\xfa\x18"), 3);
  pair.client.events.clear();
  ASSERT_TRUE(pair.client.Connect("127.0.0.1"));
  ASSERT_TRUE(PumpUntil([&] { return pair.server.State() == tntConnected; }));  // accepted anew
  ASSERT_TRUE(pair.server.Send("again"));
  EXPECT_TRUE(PumpUntil([&] { return pair.client.Received() == "again"; }));
  ASSERT_EQ(pair.client.Count(kEventOnRecvAlt), 1u);
  EXPECT_EQ(pair.client.events.back().args[0].type(), Variant::Type::kBytes);
  EXPECT_TRUE(pair.client.events.back().by_ref);
}

// A host that closes or destroys its control inside one of its events: the
// control raises nothing more but the close's own empty OnRecv.
// A graceful close still sending to a peer that resets ends at once, with
// one exception, instead of staying in Closing.
TEST(Close, GracefulCloseEndsWhenThePeerResets) {
  Pair pair;
  ASSERT_TRUE(pair.Open());
  pair.server.Recv(0);
  for (int i = 0; i < 12; ++i) ASSERT_TRUE(pair.client.Send(std::string(256 * 1024, 'q')));
  ASSERT_TRUE(pair.client.Close(false));
  ASSERT_EQ(pair.client.State(), tntClosing);
  pair.server.Close(true);
  PumpFor(300);
  EXPECT_EQ(pair.client.State(), tntClosed);
  EXPECT_EQ(pair.client.Count(kEventOnException), 1u);
}

TEST(Close, HostEndsItsControlInsideAnEvent) {
  for (const auto& [event, destroy] : {std::pair{kEventOnRecv, false}, {kEventOnRecv, true}, {kEventOnCmd, false},
                                       {kEventOnCmd, true}, {kEventOnSend, true}, {kEventOnException, false},
                                       {kEventOnException, true}}) {
    Pair pair;
    ASSERT_TRUE(pair.Open());
    Host& victim = event == kEventOnSend ? pair.client : pair.server;
    size_t acted = 0;
    victim.on_event = [&, event = event, destroy = destroy](const Event& e) {
      if (e.id != event || acted != 0) return;
      acted = victim.events.size();
      destroy ? victim.Destroy() : static_cast<void>(victim.Close(true));
    };
    ASSERT_TRUE(pair.client.Send("a\r\nb\xff\xf1\xff\xf1" "c"));
    ASSERT_TRUE(pair.client.Send("d"));
    PumpUntil([&] { return acted != 0 || pair.server.Received() == "a\r\nbcd"; });
    if (event != kEventOnSend) pair.client.Close(true);
    Host& peer = event == kEventOnSend ? pair.server : pair.client;
    ASSERT_TRUE(PumpUntil([&] { return acted != 0 && peer.Closed(); })) << event;
    PumpFor(30);
    EXPECT_EQ(victim.events.size() - acted, destroy ? 0u : 1u) << event;
    EXPECT_EQ(victim.Closed(), !destroy) << event;
  }
}

// A host message queued behind the read kick runs inside the receive pass's
// pump and destroys the control: the pass ends without touching it.
TEST(Close, ControlDestroyedWhileItsSessionPumpsEndsThePassUntouched) {
  Pair pair;
  ASSERT_TRUE(pair.Open());
  pair.server.Recv(0);
  ASSERT_TRUE(pair.client.Send("pending"));
  ASSERT_TRUE(PumpUntil([&] { return pair.client.Count(kEventOnSend) == 1; }));
  struct Destroyer final : platform::MessageTarget {
    Host* host;
    void HandleMessage(uint32_t, uint64_t, int64_t) override { host->Destroy(); }
  } destroyer;
  destroyer.host = &pair.server;
  ASSERT_TRUE(pair.server.Recv(100));
  ASSERT_TRUE(platform::PostMessage(destroyer.target_id(), platform::kFirstUserMessage));
  const size_t server_events = pair.server.events.size();
  ASSERT_TRUE(platform::Pump());
  EXPECT_EQ(pair.server.events.size(), server_events);
  EXPECT_TRUE(PumpUntil([&] { return pair.client.Closed(); }));
}

TEST(Close, ListenerEndsAtItsTimeOutOrAGracefulClose) {
  platform::ManualClock clock;
  platform::SetClock(&clock);
  Host timed, closed;
  for (Host* listener : {&timed, &closed}) listener->Put(kDispLocalPort, Variant::Int32(FreePort()));
  ASSERT_TRUE(timed.Listen(5 + 65536));  // low 16 bits: 5 seconds
  ASSERT_TRUE(closed.Listen());
  EXPECT_TRUE(closed.Close(false));
  EXPECT_EQ(closed.State(), tntClosing);
  clock.Advance(4990);
  PumpFor(20);
  EXPECT_EQ(timed.State(), tntListening);
  clock.Advance(10);
  EXPECT_TRUE(PumpUntil([&] { return timed.Closed() && closed.Closed(); }, 1000));
  EXPECT_EQ(timed.State() | closed.State(), tntClosed);
  platform::SetClock(nullptr);
}

}  // namespace
