// Socket notices and the rules that re-enable them, so that a socket nobody
// reads or accepts never spins the loop.
#include "platform/sockets.h"

#include <arpa/inet.h>
#include <netinet/in.h>

#include <algorithm>
#include <cerrno>
#include <ctime>
#include <string>
#include <utility>

#include <gtest/gtest.h>

#include "recorder.h"

namespace {

using namespace platform;

constexpr uint32_t kNotice = kFirstUserMessage + 1;

size_t Notices(const Recorder& r, uint32_t event) {
  return std::ranges::count_if(r.received, [&](const Received& m) { return SocketNoticeEvent(m.lparam) == event; });
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

// Read notices: one until the next recv. The peer's close: one notice, once
// no data are left in front of it.
TEST_F(SocketPair, OneReadNoticeUntilTheNextRecvAndOneCloseNoticeAfterTheData) {
  WatchSocket(fds_[0], r_.target_id(), kNotice, kRead | kClose);
  ASSERT_EQ(::write(fds_[1], "abcdef", 6), 6);
  ::close(std::exchange(fds_[1], -1));
  PumpFor(50);
  EXPECT_EQ(Notices(r_, kRead), 1u);
  EXPECT_EQ(r_.received.back().wparam, static_cast<uint64_t>(fds_[0]));
  char buffer[3];
  ASSERT_EQ(SocketRecv(fds_[0], buffer, 3, 0), 3);
  PumpFor(50);
  EXPECT_EQ(Notices(r_, kRead), 2u);  // three bytes are still waiting
  EXPECT_EQ(Notices(r_, kClose), 0u);
  ASSERT_EQ(SocketRecv(fds_[0], buffer, 3, 0), 3);
  PumpFor(50);
  EXPECT_EQ(SocketRecv(fds_[0], buffer, 3, 0), 0);
  PumpFor(50);
  EXPECT_EQ(Notices(r_, kRead), 2u);
  EXPECT_EQ(Notices(r_, kClose), 1u);
}

TEST_F(SocketPair, SocketNobodyReadsDoesNotSpinTheLoop) {
#ifdef TELLARIUM_SANITIZED
  GTEST_SKIP() << "CPU time is not meaningful under the sanitizers";
#endif
  WatchSocket(fds_[0], r_.target_id(), kNotice, kRead | kWrite | kOob | kAccept | kConnect | kClose);
  ASSERT_EQ(::write(fds_[1], "x", 1), 1);
  ::shutdown(fds_[1], SHUT_WR);
  Recorder stopper;  // quits after half a second of real time
  stopper.on_message = [](const Received&) { Quit(0); };
  SetTimer(stopper.target_id(), 1, 500);
  const std::clock_t before = std::clock();  // the process's processor time
  platform::Run();
  ResetQuit();
  EXPECT_LT(std::clock() - before, CLOCKS_PER_SEC / 5);
  EXPECT_EQ(Notices(r_, kRead), 1u);
}

TEST_F(SocketPair, WriteNoticeOnWatchAndAgainOnlyAfterASendThatWouldBlock) {
  WatchSocket(fds_[0], r_.target_id(), kNotice, kWrite);
  PumpFor(30);
  EXPECT_EQ(Notices(r_, kWrite), 1u);
  const std::string block(65536, 'x');
  while (SocketSend(fds_[0], block.data(), block.size(), 0) > 0) {
  }
  ASSERT_TRUE(errno == EAGAIN || errno == EWOULDBLOCK);
  PumpFor(30);
  EXPECT_EQ(Notices(r_, kWrite), 1u);  // still full
  char sink[65536];
  while (::recv(fds_[1], sink, sizeof sink, MSG_DONTWAIT) > 0) {
  }
  PumpFor(30);
  EXPECT_EQ(Notices(r_, kWrite), 2u);
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
  int callers[2];
  for (int& caller : callers) {
    caller = ::socket(AF_INET, SOCK_STREAM, 0);
    ASSERT_EQ(::connect(caller, reinterpret_cast<sockaddr*>(&address), length), 0);
  }
  PumpFor(50);
  EXPECT_EQ(Notices(r, kAccept), 1u);
  const int accepted = SocketAccept(listener, nullptr, nullptr);
  ASSERT_GE(accepted, 0);
  PumpFor(50);
  EXPECT_EQ(Notices(r, kAccept), 2u);  // the second caller is still waiting
  for (int fd : {accepted, callers[0], callers[1]}) ::close(fd);
  SocketClose(listener);
}

}  // namespace
