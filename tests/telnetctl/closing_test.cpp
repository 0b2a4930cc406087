// Ending sessions: graceful and abortive close, a peer that resets with the queue
// at its bound, the listen time-out, and hosts ending their control in events.
#include <gtest/gtest.h>

#include "host.h"
#include "platform/clock.h"

namespace {

using namespace kvtest;

// Graceful close sends the queued packets first; abortive close drops them and
// ends inside Close. Either way the peer learns of it after the data, and the
// control runs again, its parser clean of an old half command.
TEST(Close, GracefulOrAbortiveCloseAndTheControlRunsAgain) {
  for (const bool abort : {false, true}) {
    Pair pair;
    pair.client.Put(kDispVarDataType, Variant::Int32(abort ? 3 : 0));  // 3: bytes, by reference in OnRecvAlt
    ASSERT_TRUE(pair.Open());
    for (int32_t tag : {1, 2, 3})
      ASSERT_TRUE(pair.client.Call(kDispSend, {Variant::Text("p" + std::to_string(tag)), Variant::Int32(tag)}));
    EXPECT_TRUE(pair.client.Close(abort));
    EXPECT_EQ(pair.client.State(), abort ? tntClosed : tntClosing) << abort;
    EXPECT_EQ(pair.client.Pieces(), abort ? Strings{""} : Strings{}) << abort;
    EXPECT_EQ(pair.client.Close(false), !abort) << abort;  // still closing, or closed
    ASSERT_TRUE(PumpUntil([&] { return pair.client.Closed() && pair.server.Closed(); })) << abort;
    EXPECT_EQ(pair.client.Firsts(kEventOnSend), abort ? Ints{} : (Ints{1, 2, 3})) << abort;
    EXPECT_EQ(pair.client.events.back().id, abort ? kEventOnRecvAlt : kEventOnRecv) << abort;
    EXPECT_EQ(pair.client.State(), tntClosed) << abort;
    const std::string received = pair.server.Received();
    EXPECT_TRUE(abort ? received.find("p2") == std::string::npos : received == "p1p2p3") << received;
    EXPECT_EQ(pair.server.Firsts(kEventOnException), Ints{tntRemoteClose}) << abort;
    EXPECT_EQ(pair.server.State(), tntClosed) << abort;
    EXPECT_FALSE(pair.server.Close(false)) << abort;

    pair.client.impl().OnData(reinterpret_cast<const uint8_t*>("\xff\xfa\x18"), 3);
    pair.client.events.clear();
    ASSERT_TRUE(pair.client.Connect("127.0.0.1"));
    ASSERT_TRUE(PumpUntil([&] { return pair.server.State() == tntConnected; }));  // accepted anew
    ASSERT_TRUE(pair.server.Send("again"));
    EXPECT_TRUE(PumpUntil([&] { return pair.client.Received() == "again"; })) << abort;
    ASSERT_EQ(pair.client.Count(abort ? kEventOnRecvAlt : kEventOnRecv), 1u) << abort;
    EXPECT_EQ(pair.client.events.back().args[0].type(), abort ? Variant::Type::kBytes : Variant::Type::kText);
    EXPECT_EQ(pair.client.events.back().by_ref, abort);
  }
}

// A peer that never reads cannot grow the queue past its bound; a graceful close
// still sending to it ends when it resets, with one exception, not in Closing.
TEST(Close, PeerThatNeverReadsBoundsTheQueueAndItsResetEndsAGracefulClose) {
  Pair pair;
  ASSERT_TRUE(pair.Open());
  pair.server.Recv(0);
  int accepted = 0;
  while (accepted < 64 && pair.client.Send(std::string(256 * 1024, 'q'))) ++accepted;
  EXPECT_LT(accepted, 64);
  EXPECT_LE(pair.client.impl().session().queued_bytes(), korvatel::kMaxQueuedBytes);
  EXPECT_EQ(pair.client.Firsts(kEventOnException), Ints{tntNoMem});
  ASSERT_TRUE(pair.client.Close(false));  // still connected
  ASSERT_EQ(pair.client.State(), tntClosing);
  pair.server.Close(true);
  PumpFor(300);
  EXPECT_EQ(pair.client.State(), tntClosed);
  EXPECT_EQ(pair.client.Firsts(kEventOnException), (Ints{tntNoMem, tntRemoteClose}));
}

// A host that closes or destroys its control inside one of its events: the
// control raises nothing more but the close's own empty OnRecv.
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
    for (const char* data : {"a\r\nb\xff\xf1\xff\xf1" "c", "d"}) ASSERT_TRUE(pair.client.Send(data));
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
  EXPECT_EQ(pair.server.Received(), "");  // Recv(0) holds it back
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
