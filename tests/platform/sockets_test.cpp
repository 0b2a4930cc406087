#include "platform/sockets.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

#include <gtest/gtest.h>

#include "recorder.h"

namespace {

using namespace platform;

constexpr uint32_t kNotice = kFirstUserMessage + 1;
constexpr uint32_t kAll = kRead | kWrite | kOob | kAccept | kConnect | kClose;

size_t CountEvent(const Recorder& r, uint32_t event) {
  size_t n = 0;
  for (const auto& m : r.received) n += (m.message == kNotice && SocketNoticeEvent(m.lparam) == event);
  return n;
}

// Pumps for `ms` of real time, sleeping briefly between rounds.
void PumpFor(int ms) {
  for (int i = 0; i < ms / 5; ++i) {
    Pump();
    ::usleep(5000);
  }
}

int ListeningSocket(uint16_t& port) {
  int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  EXPECT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  EXPECT_EQ(::listen(fd, 8), 0);
  socklen_t length = sizeof address;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
  port = ntohs(address.sin_port);
  return fd;
}

sockaddr_in Loopback(uint16_t port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(port);
  return address;
}

double CpuSeconds() {
  rusage usage{};
  ::getrusage(RUSAGE_SELF, &usage);
  return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
         (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

class SocketPair : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, fds_), 0); }
  void TearDown() override {
    if (fds_[0] >= 0) SocketClose(fds_[0]);
    if (fds_[1] >= 0) ::close(fds_[1]);
  }
  int fds_[2] = {-1, -1};
  Recorder r_;
};

TEST_F(SocketPair, UnreadDataGivesOneReadNoticeUntilTheNextRecv) {
  WatchSocket(fds_[0], r_.target_id(), kNotice, kRead | kClose);
  ASSERT_EQ(::write(fds_[1], "abcdef", 6), 6);
  PumpFor(50);
  EXPECT_EQ(CountEvent(r_, kRead), 1u);
  char buffer[3];
  ASSERT_EQ(SocketRecv(fds_[0], buffer, 3, 0), 3);
  PumpFor(50);
  EXPECT_EQ(CountEvent(r_, kRead), 2u);  // three bytes are still waiting
  ASSERT_EQ(SocketRecv(fds_[0], buffer, 3, 0), 3);
  PumpFor(50);
  EXPECT_EQ(CountEvent(r_, kRead), 2u);
  const auto& last = r_.received.back();
  EXPECT_EQ(last.wparam, static_cast<uint64_t>(fds_[0]));
  EXPECT_EQ(SocketNoticeError(last.lparam), 0);
}

TEST_F(SocketPair, SocketNobodyReadsDoesNotSpinTheLoop) {
#ifdef TELLARIUM_SANITIZED
  GTEST_SKIP() << "CPU time is not meaningful under the sanitizers";
#endif
  WatchSocket(fds_[0], r_.target_id(), kNotice, kAll);
  ASSERT_EQ(::write(fds_[1], "x", 1), 1);
  ::shutdown(fds_[1], SHUT_WR);
  // Quit from a timer after half a second of real time.
  struct Stopper : MessageTarget {
    void HandleMessage(uint32_t, uint64_t, int64_t) override { Quit(0); }
  } stopper;
  SetTimer(stopper.target_id(), 1, 500);
  const double cpu_before = CpuSeconds();
  platform::Run();
  ResetQuit();
  EXPECT_LT(CpuSeconds() - cpu_before, 0.2);
  EXPECT_EQ(CountEvent(r_, kRead), 1u);
  EXPECT_EQ(CountEvent(r_, kClose), 0u);  // the end waits behind the unread byte
}

TEST_F(SocketPair, PeerCloseGivesOneCloseNoticeAfterTheDataIsRead) {
  WatchSocket(fds_[0], r_.target_id(), kNotice, kRead | kClose);
  ASSERT_EQ(::write(fds_[1], "x", 1), 1);
  ::close(fds_[1]);
  fds_[1] = -1;
  PumpFor(30);
  EXPECT_EQ(CountEvent(r_, kRead), 1u);
  char byte;
  ASSERT_EQ(SocketRecv(fds_[0], &byte, 1, 0), 1);
  PumpFor(30);
  EXPECT_EQ(SocketRecv(fds_[0], &byte, 1, 0), 0);
  PumpFor(30);
  EXPECT_EQ(CountEvent(r_, kClose), 1u);
}

TEST_F(SocketPair, WriteNoticeOnWatchAndAgainOnlyAfterASendThatWouldBlock) {
  WatchSocket(fds_[0], r_.target_id(), kNotice, kWrite);
  PumpFor(30);
  EXPECT_EQ(CountEvent(r_, kWrite), 1u);
  std::string block(65536, 'x');
  ssize_t sent;
  do sent = SocketSend(fds_[0], block.data(), block.size(), 0);
  while (sent > 0);
  ASSERT_TRUE(errno == EAGAIN || errno == EWOULDBLOCK);
  PumpFor(30);
  EXPECT_EQ(CountEvent(r_, kWrite), 1u);  // still full
  char sink[65536];
  while (::recv(fds_[1], sink, sizeof sink, MSG_DONTWAIT) > 0) {
  }
  PumpFor(30);
  EXPECT_EQ(CountEvent(r_, kWrite), 2u);
}

TEST_F(SocketPair, ClosingDropsNoticesAlreadyQueued) {
  WatchSocket(fds_[0], r_.target_id(), kNotice, kRead);
  ASSERT_EQ(::write(fds_[1], "x", 1), 1);
  // Poll without running: the notice is queued behind a message that closes.
  struct Closer : MessageTarget {
    int fd;
    void HandleMessage(uint32_t, uint64_t, int64_t) override { SocketClose(fd); }
  } closer;
  closer.fd = fds_[0];
  PostMessage(closer.target_id(), kFirstUserMessage);
  Pump();
  fds_[0] = -1;
  Pump();
  EXPECT_EQ(CountEvent(r_, kRead), 0u);
}

TEST(Sockets, ResetReachesTheReadAfterTheCloseNotice) {
  Recorder r;
  uint16_t port;
  int listener = ListeningSocket(port);
  sockaddr_in address = Loopback(port);
  int caller = ::socket(AF_INET, SOCK_STREAM, 0);
  ASSERT_EQ(::connect(caller, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  int served = ::accept(listener, nullptr, nullptr);
  WatchSocket(served, r.target_id(), kNotice, kRead | kClose);
  linger abortive{1, 0};
  ::setsockopt(caller, SOL_SOCKET, SO_LINGER, &abortive, sizeof abortive);
  ::close(caller);  // sends a reset
  PumpFor(50);
  ASSERT_EQ(CountEvent(r, kClose), 1u);
  EXPECT_EQ(SocketNoticeError(r.received.back().lparam), ECONNRESET);
  char byte;
  EXPECT_EQ(SocketRecv(served, &byte, 1, 0), -1);
  EXPECT_EQ(errno, ECONNRESET);
  SocketClose(served);
  SocketClose(listener);
}

TEST(Sockets, AcceptNoticeWaitsForTheNextAccept) {
  Recorder r;
  uint16_t port;
  int listener = ListeningSocket(port);
  WatchSocket(listener, r.target_id(), kNotice, kAccept);
  sockaddr_in address = Loopback(port);
  int callers[2];
  for (int& c : callers) {
    c = ::socket(AF_INET, SOCK_STREAM, 0);
    ASSERT_EQ(::connect(c, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  }
  PumpFor(50);
  EXPECT_EQ(CountEvent(r, kAccept), 1u);
  int accepted = SocketAccept(listener, nullptr, nullptr);
  ASSERT_GE(accepted, 0);
  PumpFor(50);
  EXPECT_EQ(CountEvent(r, kAccept), 2u);  // the second caller is still waiting
  ::close(accepted);
  for (int c : callers) ::close(c);
  SocketClose(listener);
}

TEST(Sockets, ConnectNoticeCarriesTheOutcome) {
  Recorder r;
  uint16_t port;
  int listener = ListeningSocket(port);
  int caller = ::socket(AF_INET, SOCK_STREAM, 0);
  WatchSocket(caller, r.target_id(), kNotice, kConnect | kWrite);
  sockaddr_in address = Loopback(port);
  int result = SocketConnect(caller, reinterpret_cast<sockaddr*>(&address), sizeof address);
  ASSERT_TRUE(result == 0 || errno == EINPROGRESS);
  PumpFor(50);
  ASSERT_EQ(CountEvent(r, kConnect), 1u);
  EXPECT_EQ(SocketNoticeError(r.received.front().lparam), 0);
  EXPECT_EQ(CountEvent(r, kWrite), 1u);
  SocketClose(caller);

  // Nobody listens on the port once the listener is gone.
  SocketClose(listener);
  Recorder refused;
  caller = ::socket(AF_INET, SOCK_STREAM, 0);
  WatchSocket(caller, refused.target_id(), kNotice, kConnect | kWrite);
  SocketConnect(caller, reinterpret_cast<sockaddr*>(&address), sizeof address);
  PumpFor(50);
  ASSERT_EQ(CountEvent(refused, kConnect), 1u);
  EXPECT_EQ(SocketNoticeError(refused.received.front().lparam), ECONNREFUSED);
  EXPECT_EQ(CountEvent(refused, kWrite), 0u);
  SocketClose(caller);
}

}  // namespace
