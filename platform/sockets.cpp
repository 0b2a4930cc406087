#include "platform/sockets.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

#include "platform/loop_internal.h"

namespace platform {
namespace {

using detail::SocketWatch;
using detail::State;

SocketWatch* FindWatch(int fd) {
  auto it = State().sockets.find(fd);
  return it == State().sockets.end() ? nullptr : &it->second;
}

void Notify(int fd, const SocketWatch& watch, uint32_t event, int error) {
  PostMessage(watch.target, watch.message, static_cast<uint64_t>(fd), MakeSocketNotice(event, error));
}

bool IsConnected(int fd) {
  sockaddr_storage peer{};
  socklen_t length = sizeof peer;
  return ::getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &length) == 0;
}

// Drops notices already queued for this socket, so that none reaches a later
// socket that reuses the descriptor.
void DropNotices(int fd, const SocketWatch& watch) {
  detail::DropQueued([&](const detail::QueuedMessage& m) {
    return m.target == watch.target && m.message == watch.message && m.wparam == static_cast<uint64_t>(fd);
  });
}

bool WantsInput(const SocketWatch& w) {
  return w.input_armed && !w.close_sent && (w.mask & (kRead | kOob | kClose));
}

short PollEventsFor(const SocketWatch& w) {
  short events = 0;
  if (WantsInput(w)) events |= POLLIN | POLLPRI | POLLRDHUP;
  if (w.accept_armed && (w.mask & kAccept)) events |= POLLIN;
  if (w.connecting || (w.write_armed && (w.mask & kWrite))) events |= POLLOUT;
  return events;
}

void CompleteConnect(int fd, SocketWatch& w) {
  int error = 0;
  socklen_t length = sizeof error;
  ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length);
  w.connecting = false;
  w.write_armed = (error == 0);
  if (w.mask & kConnect) Notify(fd, w, kConnect, error);
}

// Input is ready: one notice, then none until the next SocketRecv.
void SignalInput(int fd, SocketWatch& w, short revents) {
  if ((revents & POLLPRI) && (w.mask & kOob)) {
    w.input_armed = false;
    Notify(fd, w, kOob, 0);
    return;
  }
  char probe;
  ssize_t peeked = ::recv(fd, &probe, 1, MSG_PEEK | MSG_DONTWAIT);
  if (peeked < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) return;
  w.input_armed = false;
  if (peeked > 0) {
    if (w.mask & kRead) Notify(fd, w, kRead, 0);
    return;
  }
  w.close_sent = true;  // the end of the stream (or a reset) is final
  // Peeking took the socket's error; keep it for the read that follows.
  w.reset_error = peeked < 0 ? errno : 0;
  if (w.mask & kClose) Notify(fd, w, kClose, w.reset_error);
}

}  // namespace

namespace detail {

void CollectSocketPolls(std::vector<pollfd>& fds) {
  for (const auto& [fd, watch] : State().sockets) {
    short events = PollEventsFor(watch);
    // A socket with nothing armed is left out: poll would report its hang-up
    // or error on every round.
    if (events != 0) fds.push_back({fd, events, 0});
  }
}

void HandleSocketReadiness(const pollfd& ready) {
  SocketWatch* w = FindWatch(ready.fd);
  if (w == nullptr) return;
  const short revents = ready.revents;
  if (w->connecting) {
    if (revents & (POLLOUT | POLLERR | POLLHUP)) CompleteConnect(ready.fd, *w);
    return;
  }
  if (w->accept_armed && (w->mask & kAccept) && (revents & POLLIN)) {
    w->accept_armed = false;
    Notify(ready.fd, *w, kAccept, 0);
  }
  if (WantsInput(*w) && (revents & (POLLIN | POLLPRI | POLLRDHUP | POLLHUP | POLLERR))) {
    SignalInput(ready.fd, *w, revents);
  }
  if (w->write_armed && (w->mask & kWrite) && (revents & POLLOUT)) {
    w->write_armed = false;
    Notify(ready.fd, *w, kWrite, 0);
  }
}

}  // namespace detail

void WatchSocket(int fd, TargetId target, uint32_t message, uint32_t mask) {
  if (SocketWatch* old = FindWatch(fd)) {
    DropNotices(fd, *old);
    State().sockets.erase(fd);
  }
  if (mask == 0) return;
  ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
  SocketWatch watch;
  watch.target = target;
  watch.message = message;
  watch.mask = mask;
  watch.write_armed = IsConnected(fd);
  State().sockets[fd] = watch;
}

ssize_t SocketRecv(int fd, void* buffer, size_t length, int flags) {
  ssize_t result = ::recv(fd, buffer, length, flags | MSG_DONTWAIT);
  int saved = errno;
  if (SocketWatch* w = FindWatch(fd)) {
    w->input_armed = true;
    if (result == 0 && w->reset_error != 0) {
      result = -1;
      saved = std::exchange(w->reset_error, 0);
    }
  }
  errno = saved;
  return result;
}

ssize_t SocketSend(int fd, const void* data, size_t length, int flags) {
  ssize_t result = ::send(fd, data, length, flags | MSG_DONTWAIT | MSG_NOSIGNAL);
  int saved = errno;
  if (result < 0 && (saved == EAGAIN || saved == EWOULDBLOCK)) {
    if (SocketWatch* w = FindWatch(fd)) w->write_armed = true;
  }
  errno = saved;
  return result;
}

int SocketAccept(int fd, sockaddr* address, socklen_t* length) {
  int result = ::accept4(fd, address, length, SOCK_NONBLOCK | SOCK_CLOEXEC);
  int saved = errno;
  if (SocketWatch* w = FindWatch(fd)) w->accept_armed = true;
  errno = saved;
  return result;
}

int SocketConnect(int fd, const sockaddr* address, socklen_t length) {
  ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
  int result = ::connect(fd, address, length);
  int saved = errno;
  if (SocketWatch* w = FindWatch(fd)) {
    if (result == 0) {
      // Connected at once: the notices still arrive through the loop.
      w->write_armed = true;
      if (w->mask & kConnect) Notify(fd, *w, kConnect, 0);
    } else if (saved == EINPROGRESS) {
      w->connecting = true;
    }
  }
  errno = saved;
  return result;
}

int SocketClose(int fd) {
  WatchSocket(fd, 0, 0, 0);
  return ::close(fd);
}

}  // namespace platform
