#include "platform/sockets.h"

#include <fcntl.h>
#include <sys/epoll.h>
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

// What a socket armed for input waits for.
constexpr uint32_t kInputEvents = EPOLLIN | EPOLLPRI | EPOLLRDHUP;

bool WantsInput(const SocketWatch& w) {
  return w.input_armed && !w.close_sent && (w.mask & (kRead | kOob | kClose));
}

// The epoll events a socket waits for, given what is armed. Nothing armed: not
// waited on at all, since the wait would report its hang-up or error on every
// round.
uint32_t EventsFor(const SocketWatch& w) {
  uint32_t events = 0;
  if (WantsInput(w)) events |= kInputEvents;
  if (w.accept_armed && (w.mask & kAccept)) events |= EPOLLIN;
  if (w.connecting || (w.write_armed && (w.mask & kWrite))) events |= EPOLLOUT;
  return events;
}

// Follows every change to what a watch is armed for.
void Rearm(int fd, SocketWatch& w) { detail::SetInterest(fd, w.registered, EventsFor(w)); }

void CompleteConnect(int fd, SocketWatch& w) {
  int error = 0;
  socklen_t length = sizeof error;
  ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length);
  w.connecting = false;
  w.write_armed = (error == 0);
  if (w.mask & kConnect) Notify(fd, w, kConnect, error);
}

// Input is ready: one notice, then none until the next SocketRecv. True when
// the notice is of data, which its owner reads before long.
bool SignalInput(int fd, SocketWatch& w, uint32_t events) {
  if ((events & EPOLLPRI) && (w.mask & kOob)) {
    w.input_armed = false;
    Notify(fd, w, kOob, 0);
    return true;
  }
  // Readable without a hang-up or an error means data; otherwise a look tells
  // data in front of the end from the end itself.
  const bool plainInput = (events & EPOLLIN) && !(events & (EPOLLRDHUP | EPOLLHUP | EPOLLERR));
  char probe;
  const ssize_t peeked = plainInput ? 1 : ::recv(fd, &probe, 1, MSG_PEEK | MSG_DONTWAIT);
  if (peeked < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) return false;
  w.input_armed = false;
  if (peeked > 0) {
    if (w.mask & kRead) Notify(fd, w, kRead, 0);
    return true;
  }
  w.close_sent = true;  // the end of the stream (or a reset) is final
  // Peeking took the socket's error; keep it for the read that follows.
  w.reset_error = peeked < 0 ? errno : 0;
  if (w.mask & kClose) Notify(fd, w, kClose, w.reset_error);
  return false;
}

// One piece goes by send, which spares the kernel reading a message header
// and its piece list: most sends are one line to one caller.
ssize_t WritePieces(int fd, const iovec* pieces, size_t count, int flags) {
  if (count == 1) return ::send(fd, pieces[0].iov_base, pieces[0].iov_len, flags);
  msghdr message{};
  message.msg_iov = const_cast<iovec*>(pieces);
  message.msg_iovlen = count;
  return ::sendmsg(fd, &message, flags);
}

}  // namespace

namespace detail {

void HandleSocketReadiness(int fd, uint32_t events) {
  SocketWatch* w = FindWatch(fd);
  if (w == nullptr) return;
  bool toBeRead = false;  // a notice of input or of a caller waiting
  if (w->connecting) {
    if (events & (EPOLLOUT | EPOLLERR | EPOLLHUP)) CompleteConnect(fd, *w);
  } else {
    if (w->accept_armed && (w->mask & kAccept) && (events & EPOLLIN)) {
      w->accept_armed = false;
      Notify(fd, *w, kAccept, 0);
      toBeRead = true;
    }
    if (WantsInput(*w) && (events & (kInputEvents | EPOLLHUP | EPOLLERR))) {
      toBeRead |= SignalInput(fd, *w, events);
    }
    if (w->write_armed && (w->mask & kWrite) && (events & EPOLLOUT)) {
      w->write_armed = false;
      Notify(fd, *w, kWrite, 0);
    }
  }
  // What is noticed is nearly always read, which arms the socket again, before
  // the next wait: the wait keeps its input events meanwhile, so that the two
  // changes do not cost two system calls. A wait that finds the socket still
  // unread reports it once more, and nothing being armed, it leaves the wait.
  const uint32_t kept = toBeRead ? w->registered & kInputEvents : 0;
  detail::SetInterest(fd, w->registered, EventsFor(*w) | kept);
}

}  // namespace detail

void WatchSocket(int fd, TargetId target, uint32_t message, uint32_t mask) {
  SocketWatch watch;
  if (SocketWatch* old = FindWatch(fd)) {
    DropNotices(fd, *old);
    watch.registered = old->registered;  // still in the wait under the old watch
  }
  if (mask == 0) {
    detail::SetInterest(fd, watch.registered, 0);
    State().sockets.erase(fd);
    return;
  }
  ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
  watch.target = target;
  watch.message = message;
  watch.mask = mask;
  watch.write_armed = IsConnected(fd);
  SocketWatch& watched = State().sockets[fd] = watch;
  Rearm(fd, watched);
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
    Rearm(fd, *w);
  }
  errno = saved;
  return result;
}

ssize_t SocketSend(int fd, const void* data, size_t length, int flags) {
  const iovec piece{const_cast<void*>(data), length};
  return SocketSendPieces(fd, &piece, 1, flags);
}

ssize_t SocketSendPieces(int fd, const iovec* pieces, size_t count, int flags) {
  ssize_t result = WritePieces(fd, pieces, count, flags | MSG_DONTWAIT | MSG_NOSIGNAL);
  int saved = errno;
  if (result < 0 && (saved == EAGAIN || saved == EWOULDBLOCK)) {
    if (SocketWatch* w = FindWatch(fd)) {
      w->write_armed = true;
      Rearm(fd, *w);
    }
  }
  errno = saved;
  return result;
}

int SocketAccept(int fd, sockaddr* address, socklen_t* length) {
  int result = ::accept4(fd, address, length, SOCK_NONBLOCK | SOCK_CLOEXEC);
  int saved = errno;
  if (SocketWatch* w = FindWatch(fd)) {
    w->accept_armed = true;
    Rearm(fd, *w);
  }
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
    Rearm(fd, *w);
  }
  errno = saved;
  return result;
}

int SocketClose(int fd) {
  WatchSocket(fd, 0, 0, 0);  // leaves the wait while the descriptor is still this socket's
  return ::close(fd);
}

}  // namespace platform
