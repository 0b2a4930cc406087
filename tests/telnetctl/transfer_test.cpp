// Sending and receiving data between two controls, and the variant rules.
#include <gtest/gtest.h>

#include "host.h"

namespace {

using namespace kvtest;
using namespace tntlib;

std::vector<int32_t> Tags(const Host& host) {
  std::vector<int32_t> tags;
  for (const Event& e : host.Of(kEventOnSend)) tags.push_back(e.Int(0));
  return tags;
}

TEST(Transfer, DataArriveCutAtLineEnds) {
  Pair pair;
  ASSERT_TRUE(pair.Open());
  ASSERT_TRUE(pair.client.Send("abc\r\ndef"));
  ASSERT_TRUE(PumpUntil([&] { return pair.server.Received() == "abc\r\ndef"; }));
  const auto pieces = pair.server.Of(kEventOnRecv);
  ASSERT_EQ(pieces.size(), 2u);
  EXPECT_EQ(pieces[0].Text(0), "abc\r\n");
  EXPECT_EQ(pieces[1].Text(0), "def");
}

TEST(Transfer, EverySuccessfulSendGetsExactlyOneOnSendWithItsTag) {
  Pair pair;
  ASSERT_TRUE(pair.Open());
  EXPECT_TRUE(pair.client.Send("a", Variant::Int16(7)));
  EXPECT_TRUE(pair.client.Send("b", Variant::Int32(70000)));
  EXPECT_TRUE(pair.client.Send("c", Variant::Double(2.9)));
  EXPECT_TRUE(pair.client.Send("d", Variant::Double(-1.5)));
  EXPECT_TRUE(pair.client.Send("e", Variant::Text("5")));
  EXPECT_TRUE(pair.client.Send("f"));
  Variant tag = Variant::Int32(9);
  EXPECT_TRUE(pair.client.Send("g", Variant::Ref(&tag)));
  EXPECT_TRUE(pair.client.Send(""));  // no packet, no OnSend
  ASSERT_TRUE(PumpUntil([&] { return pair.client.Count(kEventOnSend) == 7; }));
  PumpFor(30);
  EXPECT_EQ(Tags(pair.client), (std::vector<int32_t>{7, 70000, 2, -1, 0, 0, 9}));
  EXPECT_TRUE(PumpUntil([&] { return pair.server.Received() == "abcdefg"; }));
}

TEST(Transfer, SendAcceptsTextBytesAndReferencesOnly) {
  Pair pair;
  ASSERT_TRUE(pair.Open());
  const size_t before = pair.client.events.size();
  EXPECT_FALSE(pair.client.Call(kDispSend, {Variant::Int16(65)}));
  EXPECT_FALSE(pair.client.Call(kDispSend, {Variant::Double(1.0)}));
  EXPECT_FALSE(pair.client.Call(kDispSend, {Variant()}));
  EXPECT_EQ(pair.client.events.size(), before);

  EXPECT_TRUE(pair.client.Call(kDispSend, {Variant::Bytes({'x', 0, 200})}));
  Variant text = Variant::Text("y");
  Variant ref_to_ref = Variant::Ref(&text);
  EXPECT_TRUE(pair.client.Call(kDispSend, {Variant::Ref(&ref_to_ref)}));
  EXPECT_TRUE(pair.client.Call(kDispSend, {Variant::Bytes({'z'}, 2)}));  // two dimensions: no bytes
  ASSERT_TRUE(PumpUntil([&] { return pair.client.Count(kEventOnSend) == 2; }));
  ASSERT_TRUE(PumpUntil([&] { return pair.server.Received().size() == 4; }));
  PumpFor(30);
  EXPECT_EQ(pair.server.Received(), std::string("x\0\xc8y", 4));
  EXPECT_EQ(pair.client.Count(kEventOnSend), 2u);
}

TEST(Transfer, SendOutsideAConnectionIsRefusedWithException) {
  Host host;
  EXPECT_FALSE(host.Send("x"));
  host.Put(kDispRemotePort, Variant::Int32(FreePort()));
  ASSERT_TRUE(host.Connect("127.0.0.1"));
  EXPECT_FALSE(host.Send("x"));  // still connecting
  const auto exceptions = host.Of(kEventOnException);
  ASSERT_EQ(exceptions.size(), 2u);
  for (const Event& e : exceptions) {
    EXPECT_EQ(e.Int(0), 9);
    EXPECT_EQ(e.Text(1), "Send attempted with closed connection");
  }
}

TEST(Transfer, RecvZeroPausesAndLargeSizesAreCapped) {
  Pair pair;
  ASSERT_TRUE(pair.Open());
  EXPECT_FALSE(pair.server.Recv(0));
  ASSERT_TRUE(pair.client.Send("paused"));
  PumpFor(80);
  EXPECT_EQ(pair.server.Received(), "");
  EXPECT_TRUE(pair.server.Recv(100000));
  EXPECT_EQ(pair.server.impl().session().max_recv(), 32766u);
  ASSERT_TRUE(PumpUntil([&] { return pair.server.Received() == "paused"; }));
  EXPECT_TRUE(pair.server.Recv(-5));
  EXPECT_EQ(pair.server.impl().session().max_recv(), 32766u);

  EXPECT_TRUE(pair.server.Recv(3));
  ASSERT_TRUE(pair.client.Send("0123456789"));
  ASSERT_TRUE(PumpUntil([&] { return pair.server.Received() == "paused0123456789"; }));
  for (const Event& e : pair.server.Of(kEventOnRecv)) EXPECT_LE(e.Text(0).size(), 6u);
  const auto pieces = pair.server.Of(kEventOnRecv);
  for (size_t i = 1; i < pieces.size(); ++i) EXPECT_LE(pieces[i].Text(0).size(), 3u);
}

TEST(Transfer, PeerThatNeverReadsCannotGrowTheQueuePastItsBound) {
  Pair pair;
  ASSERT_TRUE(pair.Open());
  pair.server.Recv(0);
  const std::string chunk(256 * 1024, 'q');
  int accepted = 0;
  while (accepted < 64 && pair.client.Send(chunk)) ++accepted;
  EXPECT_LT(accepted, 64);
  EXPECT_LE(pair.client.impl().session().queued_bytes(), korvatel::kMaxQueuedBytes);
  const auto exceptions = pair.client.Of(kEventOnException);
  ASSERT_EQ(exceptions.size(), 1u);
  EXPECT_EQ(exceptions[0].Int(0), 7);
  EXPECT_EQ(exceptions[0].Text(1), "Insufficent memory to buffer packet");
  EXPECT_EQ(pair.client.State(), tntConnected);
}

TEST(Transfer, VarDataTypeChoosesFormAndEvent) {
  for (int32_t form = 0; form < 8; ++form) {
    Pair pair;
    pair.server.Put(kDispVarDataType, Variant::Int32(form));
    ASSERT_TRUE(pair.Open());
    ASSERT_TRUE(pair.client.Send("hi\r\n"));
    ASSERT_TRUE(PumpUntil([&] { return pair.server.Received() == "hi\r\n"; })) << form;
    const bool alt = (form & 2) != 0;
    const bool bytes = form == 1 || form == 3;
    const auto events = pair.server.Of(alt ? kEventOnRecvAlt : kEventOnRecv);
    ASSERT_EQ(events.size(), 1u) << form;
    EXPECT_EQ(pair.server.Count(alt ? kEventOnRecv : kEventOnRecvAlt), 0u) << form;
    EXPECT_EQ(events[0].args[0].type(), bytes ? Variant::Type::kBytes : Variant::Type::kText) << form;
    EXPECT_EQ(events[0].by_ref0, alt) << form;
  }
}

TEST(Transfer, EmptyPieceInTheChosenFormTellsOfTheClose) {
  Pair pair;
  pair.server.Put(kDispVarDataType, Variant::Int32(3));
  ASSERT_TRUE(pair.Open());
  ASSERT_TRUE(pair.server.Close(true));
  const auto events = pair.server.Of(kEventOnRecvAlt);
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].args[0].type(), Variant::Type::kBytes);
  EXPECT_TRUE(events[0].args[0].as_bytes().empty());
}

}  // namespace
