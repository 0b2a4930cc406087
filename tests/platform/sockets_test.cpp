// Socket notices and the rules that re-enable them, so that a socket nobody
// reads or accepts never spins the loop.
#include "platform/sockets.h"

#include <arpa/inet.h>
#include <netinet/in.h>

#include <cerrno>
#include <ctime>
#include <map>
#include <utility>

#include <gtest/gtest.h>

#include "recorder.h"

namespace {

using namespace platform;
using Counts = std::map<uint32_t, size_t>;  // notices by event

constexpr uint32_t kNotice = kFirstUserMessage + 1;

// Pumps a while, then counts the notices received so far.
Counts Pumped(const Recorder& r) {
  PumpFor(50);
  Counts counts;
  for (const Received& m : r.received) ++counts[SocketNoticeEvent(m.lparam)];
  return counts;
}

class SocketPair : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, fds_), 0); }
  void TearDown() override {
    SocketClose(fds_[0]);
    if (fds_[1] >= 0) ::close(fds_[1]);
  }
  int fds_[2] = {-1, -1};
  Recorder r_;
};

// Each kind waits for its own call, whatever the others do. Write notices: one
// on watching, then one after a send that would block, once there is room.
// Read notices: one until the next recv. The peer's close: one notice, once no
// data are left in front of it.
TEST_F(SocketPair, WriteReadAndCloseNoticesEachWaitForTheirOwnCall) {
  WatchSocket(fds_[0], r_.target_id(), kNotice, kRead | kWrite | kClose);
  EXPECT_EQ(Pumped(r_), (Counts{{kWrite, 1}}));
  EXPECT_EQ(r_.received.back().wparam, static_cast<uint64_t>(fds_[0]));
  char buffer[65536] = {};
  while (SocketSend(fds_[0], buffer, sizeof buffer, 0) > 0) {
  }
  ASSERT_TRUE(errno == EAGAIN || errno == EWOULDBLOCK);
  EXPECT_EQ(Pumped(r_), (Counts{{kWrite, 1}}));  // still full
  while (::recv(fds_[1], buffer, sizeof buffer, MSG_DONTWAIT) > 0) {
  }
  EXPECT_EQ(Pumped(r_), (Counts{{kWrite, 2}}));
  ASSERT_EQ(::write(fds_[1], "abcdef", 6), 6);
  ::close(std::exchange(fds_[1], -1));
  EXPECT_EQ(Pumped(r_), (Counts{{kRead, 1}, {kWrite, 2}}));
  ASSERT_EQ(SocketRecv(fds_[0], buffer, 3, 0), 3);
  EXPECT_EQ(Pumped(r_), (Counts{{kRead, 2}, {kWrite, 2}}));  // three bytes are still waiting
  ASSERT_EQ(SocketRecv(fds_[0], buffer, 3, 0), 3);
  EXPECT_EQ(Pumped(r_), (Counts{{kRead, 2}, {kWrite, 2}, {kClose, 1}}));
  EXPECT_EQ(SocketRecv(fds_[0], buffer, 3, 0), 0);
  EXPECT_EQ(Pumped(r_), (Counts{{kRead, 2}, {kWrite, 2}, {kClose, 1}}));
}

// A pump inside an event looks at the sockets again once a millisecond has
// passed since the loop's last look.
TEST_F(SocketPair, PumpInsideAnEventSeesInputThatCameMeanwhile) {
  WatchSocket(fds_[0], r_.target_id(), kNotice, kRead);
  Recorder event;
  bool seenInside = false;
  event.on_message = [&](const Received&) {
    ASSERT_EQ(::write(fds_[1], "x", 1), 1);
    ::usleep(2000);
    Pump();
    seenInside = !r_.received.empty();
  };
  PostMessage(event.target_id(), kFirstUserMessage);
  Pump();
  EXPECT_TRUE(seenInside);
}

TEST_F(SocketPair, SocketNobodyReadsDoesNotSpinTheLoop) {
#ifdef TELLARIUM_SANITIZED
  GTEST_SKIP() << "CPU time is not meaningful under the sanitizers";
#endif
  WatchSocket(fds_[0], r_.target_id(), kNotice, kRead | kWrite | kOob | kAccept | kConnect | kClose);
  ASSERT_EQ(::write(fds_[1], "x", 1), 1);
  ::shutdown(fds_[1], SHUT_WR);
  {  // a watch ends with its target, though the (ready) socket stays open
    Recorder gone;
    WatchSocket(fds_[1], gone.target_id(), kNotice, kRead | kWrite);
  }
  Recorder stopper;  // quits after half a second of real time
  stopper.on_message = [](const Received&) { Quit(0); };
  SetTimer(stopper.target_id(), 1, 500);
  const std::clock_t before = std::clock();  // the process's processor time
  platform::Run();
  ResetQuit();
  EXPECT_LT(std::clock() - before, CLOCKS_PER_SEC / 5);
  EXPECT_EQ(Pumped(r_)[kRead], 1u);
}

TEST(Sockets, AcceptNoticeWaitsForTheNextAccept) {
  Recorder r;
  const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{AF_INET, 0, {htonl(INADDR_LOOPBACK)}, {}};
  socklen_t length = sizeof address;
  ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&address), length), 0);
  ASSERT_EQ(::listen(listener, 8), 0);
  ASSERT_EQ(::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length), 0);
  WatchSocket(listener, r.target_id(), kNotice, kAccept);
  const int callers[] = {::socket(AF_INET, SOCK_STREAM, 0), ::socket(AF_INET, SOCK_STREAM, 0)};
  for (int caller : callers) ASSERT_EQ(::connect(caller, reinterpret_cast<sockaddr*>(&address), length), 0);
  EXPECT_EQ(Pumped(r), (Counts{{kAccept, 1}}));
  const int accepted = SocketAccept(listener, nullptr, nullptr);
  ASSERT_GE(accepted, 0);
  EXPECT_EQ(Pumped(r), (Counts{{kAccept, 2}}));  // the second caller is still waiting
  for (int fd : {accepted, callers[0], callers[1], listener}) SocketClose(fd);
}

}  // namespace
