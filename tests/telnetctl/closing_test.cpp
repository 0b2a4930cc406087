// Ending sessions: graceful and abortive close, the peer's close, the listen
// time-out, and a control destroyed while its session pumps events.
#include <gtest/gtest.h>

#include "host.h"
#include "platform/clock.h"
#include "platform/loop.h"

namespace {

using namespace kvtest;
using namespace tntlib;

std::vector<int32_t> EventIds(const Host& host, std::initializer_list<int32_t> wanted) {
  std::vector<int32_t> ids;
  for (const Event& e : host.events) {
    for (int32_t w : wanted) {
      if (e.id == w) ids.push_back(e.id);
    }
  }
  return ids;
}

TEST(Close, GracefulCloseSendsQueuedPacketsFirst) {
  Pair pair;
  ASSERT_TRUE(pair.Open());
  ASSERT_TRUE(pair.client.Send("one ", Variant::Int32(1)));
  ASSERT_TRUE(pair.client.Send("two ", Variant::Int32(2)));
  ASSERT_TRUE(pair.client.Send("three", Variant::Int32(3)));
  EXPECT_TRUE(pair.client.Close(false));
  EXPECT_EQ(pair.client.State(), tntClosing);
  EXPECT_TRUE(pair.client.Close(false));  // already closing: nothing more
  ASSERT_TRUE(PumpUntil([&] { return pair.client.Closed(); }));
  EXPECT_EQ(EventIds(pair.client, {kEventOnSend, kEventOnRecv}),
            (std::vector<int32_t>{kEventOnSend, kEventOnSend, kEventOnSend, kEventOnRecv}));
  EXPECT_EQ(pair.client.State(), tntClosed);

  // The peer reads everything, then learns of the close.
  ASSERT_TRUE(PumpUntil([&] { return pair.server.Closed(); }));
  EXPECT_EQ(pair.server.Received(), "one two three");
  const auto exceptions = pair.server.Of(kEventOnException);
  ASSERT_EQ(exceptions.size(), 1u);
  EXPECT_EQ(exceptions[0].Int(0), 13);
  EXPECT_EQ(exceptions[0].Text(1), "Remote Host Closed");
  EXPECT_EQ(pair.server.State(), tntClosed);
  EXPECT_FALSE(pair.server.Close(false));  // closed: false
}

TEST(Close, AbortiveCloseDiscardsQueuedPackets) {
  Pair pair;
  ASSERT_TRUE(pair.Open());
  ASSERT_TRUE(pair.client.Send("one"));
  ASSERT_TRUE(pair.client.Send("two"));
  ASSERT_TRUE(pair.client.Send("three"));
  EXPECT_TRUE(pair.client.Close(true));
  EXPECT_EQ(pair.client.State(), tntClosed);
  EXPECT_TRUE(pair.client.Closed());  // raised inside Close
  PumpFor(50);
  EXPECT_EQ(pair.client.Count(kEventOnSend), 0u);
  EXPECT_EQ(pair.client.Count(kEventOnRecv), 1u);
}

// A host that closes or destroys its control inside one of the control's
// events: the control raises nothing more but the close's own notice.
TEST(Close, HostEndsItsControlInsideAnEvent) {
  struct Row {
    int32_t event;
    bool destroy;
  };
  for (const Row row : {Row{kEventOnRecv, false}, Row{kEventOnRecv, true}, Row{kEventOnSend, true},
                        Row{kEventOnException, false}, Row{kEventOnException, true}}) {
    Pair pair;
    ASSERT_TRUE(pair.Open());
    Host& victim = row.event == kEventOnSend ? pair.client : pair.server;
    Host& peer = row.event == kEventOnSend ? pair.server : pair.client;
    size_t acted = 0;
    victim.on_event = [&](const Event& e) {
      if (e.id != row.event || acted != 0) return;
      acted = victim.events.size();
      row.destroy ? victim.Destroy() : static_cast<void>(victim.Close(true));
    };
    ASSERT_TRUE(pair.client.Send("a\r\nb\r\nc"));
    ASSERT_TRUE(pair.client.Send("d"));
    PumpUntil([&] { return acted != 0 || pair.server.Received() == "a\r\nb\r\ncd"; });
    if (pair.client.alive()) pair.client.Close(true);
    ASSERT_TRUE(PumpUntil([&] { return acted != 0 && peer.Closed(); })) << row.event;
    PumpFor(30);
    EXPECT_EQ(victim.alive(), !row.destroy) << row.event;
    EXPECT_EQ(victim.events.size() - acted, row.destroy ? 0u : 1u) << row.event;
    EXPECT_EQ(victim.Closed(), !row.destroy) << row.event;
  }
}

TEST(Close, ClosedControlRunsAnotherSession) {
  Pair pair;
  ASSERT_TRUE(pair.Open());
  ASSERT_TRUE(pair.client.Close(true));
  pair.client.events.clear();
  ASSERT_TRUE(pair.client.Connect("127.0.0.1"));
  ASSERT_TRUE(PumpUntil([&] { return pair.client.Count(kEventOnConnect) == 1; }));
  ASSERT_TRUE(pair.client.Send("again"));
  ASSERT_TRUE(PumpUntil([&] { return pair.client.Count(kEventOnSend) == 1; }));
}

TEST(Close, ListenerClosesAtItsTimeOut) {
  platform::ManualClock clock;
  platform::SetClock(&clock);
  Host listener;
  listener.Put(kDispLocalPort, Variant::Int32(FreePort()));
  ASSERT_TRUE(listener.Listen(5 + 65536));  // low 16 bits: 5 seconds
  clock.Advance(4990);
  PumpFor(20);
  EXPECT_EQ(listener.State(), tntListening);
  clock.Advance(10);
  EXPECT_TRUE(PumpUntil([&] { return listener.Closed(); }, 1000));
  EXPECT_EQ(listener.State(), tntClosed);
  platform::SetClock(nullptr);
}

TEST(Close, GracefulCloseOfAListenerEndsWithEmptyOnRecv) {
  Host listener;
  listener.Put(kDispLocalPort, Variant::Int32(FreePort()));
  ASSERT_TRUE(listener.Listen());
  EXPECT_TRUE(listener.Close(false));
  EXPECT_EQ(listener.State(), tntClosing);
  ASSERT_TRUE(PumpUntil([&] { return listener.Closed(); }));
  EXPECT_EQ(listener.State(), tntClosed);
}

// A host target whose message destroys a control.
class Destroyer final : public platform::MessageTarget {
 public:
  explicit Destroyer(Host& host) : host_(host) {}
  void HandleMessage(uint32_t, uint64_t, int64_t) override { host_.Destroy(); }

 private:
  Host& host_;
};

TEST(Pump, ControlDestroyedWhileItsSessionPumpsEndsThePassUntouched) {
  Pair pair;
  ASSERT_TRUE(pair.Open());
  pair.server.Recv(0);
  ASSERT_TRUE(pair.client.Send("pending"));
  ASSERT_TRUE(PumpUntil([&] { return pair.client.Count(kEventOnSend) == 1; }));
  PumpFor(20);

  Destroyer destroyer(pair.server);
  // The server's read kick is queued first; the host message behind it runs
  // inside the pass's pump and destroys the server's control.
  ASSERT_TRUE(pair.server.Recv(100));
  ASSERT_TRUE(platform::PostMessage(destroyer.target_id(), platform::kFirstUserMessage));
  const size_t server_events = pair.server.events.size();
  ASSERT_TRUE(platform::Pump());
  EXPECT_FALSE(pair.server.alive());
  EXPECT_EQ(pair.server.events.size(), server_events);

  // The engine is still sound: the client sees the reset and other sessions pump.
  EXPECT_TRUE(PumpUntil([&] { return pair.client.Closed(); }));
  Pair other;
  ASSERT_TRUE(other.Open());
  ASSERT_TRUE(other.client.Send("fine"));
  EXPECT_TRUE(PumpUntil([&] { return other.server.Received() == "fine"; }));
}

TEST(Pump, HostEventsRunBeforeAPassTouchesTheSocket) {
  Pair pair;
  ASSERT_TRUE(pair.Open());
  struct Marker final : platform::MessageTarget {
    Host* server;
    bool saw_data_first = false;
    void HandleMessage(uint32_t, uint64_t, int64_t) override { saw_data_first = !server->Received().empty(); }
  } marker;
  marker.server = &pair.server;
  pair.server.Recv(0);
  ASSERT_TRUE(pair.client.Send("x"));
  PumpFor(30);
  ASSERT_TRUE(pair.server.Recv(10));
  ASSERT_TRUE(platform::PostMessage(marker.target_id(), platform::kFirstUserMessage));
  platform::Pump();
  EXPECT_EQ(pair.server.Received(), "x");
  EXPECT_FALSE(marker.saw_data_first);
}

}  // namespace
