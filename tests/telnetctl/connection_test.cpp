// Connecting, listening and accepting on loopback, and how each fails.
#include <gtest/gtest.h>

#include "host.h"
#include "../server/support/caller.h"

namespace {

using namespace kvtest;
using namespace tntlib;

TEST(Connection, AcceptRaisesOnConnectInsideAcceptAndStoresPeerPorts) {
  Pair pair;
  bool connected_inside_accept = false;
  pair.listener.on_event = [&](const Event& e) {
    if (e.id != kEventOnAccept) return;
    EXPECT_TRUE(pair.server.Accept(e.Int(0)));
    connected_inside_accept = pair.server.Count(kEventOnConnect) == 1;
  };
  pair.port = FreePort();
  pair.listener.Put(kDispLocalPort, Variant::Int32(pair.port));
  ASSERT_TRUE(pair.listener.Listen());
  EXPECT_EQ(pair.listener.State(), tntListening);
  ASSERT_EQ(pair.listener.Count(kEventOnListen), 1u);
  EXPECT_EQ(pair.listener.Of(kEventOnListen)[0].Text(0), "0.0.0.0");

  pair.client.Put(kDispRemotePort, Variant::Int32(pair.port));
  ASSERT_TRUE(pair.client.Connect("127.0.0.1"));
  EXPECT_EQ(pair.client.State(), tntConnecting);
  ASSERT_TRUE(PumpUntil([&] { return pair.client.Count(kEventOnConnect) == 1; }));
  EXPECT_TRUE(connected_inside_accept);

  const Event client_connect = pair.client.Of(kEventOnConnect)[0];
  const Event server_connect = pair.server.Of(kEventOnConnect)[0];
  EXPECT_EQ(client_connect.Text(0), "127.0.0.1");
  EXPECT_EQ(client_connect.Text(1), "127.0.0.1");
  EXPECT_EQ(server_connect.Int(2), pair.port);
  // RemotePort now holds the peer's port on both ends.
  EXPECT_EQ(pair.server.Get(kDispRemotePort).as_int32(), client_connect.Int(2));
  EXPECT_EQ(pair.client.Get(kDispRemotePort).as_int32(), pair.port);
  EXPECT_TRUE(pair.server.control().IsModified());
  EXPECT_EQ(pair.server.State(), tntConnected);
  EXPECT_EQ(pair.listener.State(), tntListening);
}

TEST(Connection, OperationsInTheWrongStateAreRefusedSilently) {
  Pair pair;
  ASSERT_TRUE(pair.Open());
  const size_t before = pair.client.events.size();
  EXPECT_FALSE(pair.client.Connect("127.0.0.1"));
  EXPECT_FALSE(pair.client.Listen());
  EXPECT_FALSE(pair.client.Accept(1));
  EXPECT_EQ(pair.client.events.size(), before);
}

TEST(Connection, MissingHostPortOrDaemonIsReported) {
  Host host;
  EXPECT_FALSE(host.Connect(""));
  host.Put(kDispRemotePort, Variant::Int32(0));
  EXPECT_FALSE(host.Connect("127.0.0.1"));
  EXPECT_FALSE(host.Accept(0));
  EXPECT_FALSE(host.Accept(987654));  // no such control
  ASSERT_EQ(host.Count(kEventOnException), 4u);
  EXPECT_EQ(host.Of(kEventOnException)[0].Int(0), 3);
  EXPECT_EQ(host.Of(kEventOnException)[0].Text(1), "No RemoteHost or RemotePort given.");
  EXPECT_EQ(host.Of(kEventOnException)[1].Text(1), "No RemoteHost or RemotePort given.");
  EXPECT_EQ(host.Of(kEventOnException)[2].Text(1), "NULL Daemon given.");
  EXPECT_EQ(host.Of(kEventOnException)[3].Text(1), "NULL Daemon given.");
  EXPECT_EQ(host.State(), tntClosed);
}

TEST(Connection, PortInUseEndsClosedWithAddressInUse) {
  Host first;
  Host second;
  const uint16_t port = FreePort();
  first.Put(kDispLocalPort, Variant::Int32(port));
  second.Put(kDispLocalPort, Variant::Int32(port));
  second.Put(kDispReuseAddr, Variant::Bool(true));
  ASSERT_TRUE(first.Listen());
  EXPECT_FALSE(second.Listen());
  ASSERT_EQ(second.Count(kEventOnException), 1u);
  EXPECT_EQ(second.Of(kEventOnException)[0].Int(0), 8);
  EXPECT_EQ(second.Of(kEventOnException)[0].Text(1), "Address Already in Use");
  EXPECT_EQ(second.State(), tntClosed);
  PumpFor(50);
  EXPECT_FALSE(second.Closed());  // a failed Listen gives no empty OnRecv
}

// A name that does not resolve and a port where nobody listens each end the
// attempt with their exception, closed and without an OnRecv.
TEST(Connection, FailedConnectsAreReportedWithoutOnRecv) {
  struct Case {
    const char* host;
    int code;
    const char* text;
  };
  for (const Case& c : {Case{"nosuch.invalid", 3, "Authoritative Answer: Host not found"},
                        Case{"busy.test", 3, "Non-Authoritative: Host not found"},
                        Case{"nodata.test", 3, "Valid name, no data record of requested type"},
                        Case{"127.0.0.1", 4, "Connection Refused"}}) {
    Host host;
    host.Put(kDispRemotePort, Variant::Int32(FreePort()));
    EXPECT_TRUE(host.Connect(c.host));
    EXPECT_EQ(host.State(), tntConnecting);
    ASSERT_TRUE(PumpUntil([&] { return host.Count(kEventOnException) == 1; })) << c.host;
    EXPECT_EQ(host.Of(kEventOnException)[0].Int(0), c.code);
    EXPECT_EQ(host.Of(kEventOnException)[0].Text(1), c.text);
    EXPECT_EQ(host.State(), tntClosed);
    PumpFor(20);
    EXPECT_FALSE(host.Closed());
  }
}

TEST(Connection, ResolvedNameConnects) {
  Host peer;  // a listener: the connection completes without an accept
  const uint16_t port = FreePort();
  peer.Put(kDispLocalPort, Variant::Int32(port));
  ASSERT_TRUE(peer.Listen());
  Host host;
  host.Put(kDispRemotePort, Variant::Int32(port));
  ASSERT_TRUE(host.Connect("loopback.test"));
  ASSERT_TRUE(PumpUntil([&] { return host.Count(kEventOnConnect) == 1; }));
  EXPECT_EQ(host.State(), tntConnected);
}

TEST(Connection, PortsUseTheirLowSixteenBits) {
  Host peer;
  peer.Put(kDispLocalPort, Variant::Int32(4464));
  if (!peer.Listen()) GTEST_SKIP() << "port 4464 is taken on this machine";
  Host host;
  host.Put(kDispRemotePort, Variant::Int32(70000));
  ASSERT_TRUE(host.Connect("127.0.0.1"));
  ASSERT_TRUE(PumpUntil([&] { return host.Count(kEventOnConnect) == 1; }));
  EXPECT_EQ(host.Get(kDispRemotePort).as_int32(), 4464);
}

TEST(Connection, EveryWaitingConnectionRaisesItsOwnOnAccept) {
  Host listener;
  const uint16_t port = FreePort();
  listener.Put(kDispLocalPort, Variant::Int32(port));
  ASSERT_TRUE(listener.Listen());
  tellarium::testing::Caller a(port);
  ASSERT_TRUE(a.connected());
  ASSERT_TRUE(PumpUntil([&] { return listener.Count(kEventOnAccept) == 1; }));
  Host first;
  ASSERT_TRUE(first.Accept(listener.Of(kEventOnAccept)[0].Int(0)));
  tellarium::testing::Caller b(port);
  ASSERT_TRUE(b.connected());
  ASSERT_TRUE(PumpUntil([&] { return listener.Count(kEventOnAccept) == 2; }));
  Host second;
  ASSERT_TRUE(second.Accept(listener.Of(kEventOnAccept)[1].Int(0)));
  // Nothing more waits: Accept now fails on the empty listener and stays closed.
  Host third;
  EXPECT_FALSE(third.Accept(listener.Of(kEventOnAccept)[1].Int(0)));
  EXPECT_EQ(third.State(), tntClosed);
  ASSERT_EQ(third.Count(kEventOnException), 1u);
  EXPECT_EQ(third.Of(kEventOnException)[0].Text(1), "Would Block");
}

}  // namespace
