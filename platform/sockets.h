// Socket readiness as messages, in the manner of an asynchronous select.
//
// A watched socket posts `message` to its target with wparam = the socket and
// lparam = MakeSocketNotice(event, error) (error is an errno value, 0 when
// none). Notices re-enable as follows, so a socket nobody reads or accepts
// never spins the loop:
//   kRead / kOob  one pending notice until the next SocketRecv;
//   kAccept       one pending notice until the next SocketAccept;
//   kConnect      once, when a SocketConnect in progress completes or fails;
//   kWrite        once when watching starts or a connect completes, then once
//                 after each SocketSend that would block, when writable again;
//   kClose        once, when the peer has closed (or reset) the connection and
//                 no unread data are left in front of the end.
#pragma once

#include <sys/socket.h>
#include <sys/types.h>
#include <sys/uio.h>

#include <cstddef>
#include <cstdint>

#include "platform/loop.h"

namespace platform {

enum SocketEvent : uint32_t {
  kRead = 1,
  kWrite = 2,
  kOob = 4,
  kAccept = 8,
  kConnect = 16,
  kClose = 32,
};

constexpr int64_t MakeSocketNotice(uint32_t event, int error) {
  return static_cast<int64_t>(event) | (static_cast<int64_t>(error) << 16);
}
constexpr uint32_t SocketNoticeEvent(int64_t lparam) { return static_cast<uint32_t>(lparam & 0xFFFF); }
constexpr int SocketNoticeError(int64_t lparam) { return static_cast<int>(lparam >> 16); }

// Watches socket `fd` (made non-blocking) for the events in `mask`; a mask of 0
// stops watching. Watching again replaces the earlier watch.
void WatchSocket(int fd, TargetId target, uint32_t message, uint32_t mask);

// The socket calls that re-enable notices. Each returns what the system call
// returns, with errno set on failure.
ssize_t SocketRecv(int fd, void* buffer, size_t length, int flags);
ssize_t SocketSend(int fd, const void* data, size_t length, int flags);
// Sends `count` pieces in one call, in order.
ssize_t SocketSendPieces(int fd, const iovec* pieces, size_t count, int flags);
int SocketAccept(int fd, sockaddr* address, socklen_t* length);
int SocketConnect(int fd, const sockaddr* address, socklen_t length);
// Stops watching and closes.
int SocketClose(int fd);

}  // namespace platform
