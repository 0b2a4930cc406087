// A raw TCP caller on loopback that reads with time limits, and free ports.
// Only the platform layer is needed, so the control's tests use it too.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <utility>

#include "platform/loop.h"

namespace tellarium::testing {

using Deadline = std::chrono::steady_clock::time_point;

inline Deadline After(std::chrono::milliseconds limit) { return std::chrono::steady_clock::now() + limit; }

// True when a listener of this process could bind the port now (without
// address reuse, also no old connection may linger on it).
inline bool CanBind(int port, bool reuse = true) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  const int on = 1;
  if (reuse) ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_ANY);
  address.sin_port = htons(static_cast<uint16_t>(port));
  const bool free = ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  ::close(fd);
  return free;
}

// A port below 32768 that nothing listens on now.
inline int FreePort(bool reuse = true) {
  static std::mt19937 random(static_cast<unsigned>(::getpid()) * 7919u +
                             static_cast<unsigned>(std::chrono::steady_clock::now().time_since_epoch().count()));
  for (;;) {
    const int port = 20000 + static_cast<int>(random() % 12000);
    if (CanBind(port, reuse)) return port;
  }
}

// Bytes arriving on a socket or pipe, held until taken. A pumping reader
// lets this process's loop run while it waits, for a server in this process.
class Incoming {
 public:
  explicit Incoming(int fd = -1, bool pumping = false) : fd_(fd), pumping_(pumping) {}

  // Reads until what was received holds `text`; returns everything up to and
  // including it (and keeps the rest), or "" when the time ran out.
  std::string ReadUntil(const std::string& text, std::chrono::milliseconds limit = std::chrono::seconds(20)) {
    const Deadline deadline = After(limit);
    std::size_t at;
    while ((at = received_.find(text)) == std::string::npos) {
      if (!ReadMore(deadline)) return "";
    }
    std::string head = received_.substr(0, at + text.size());
    received_.erase(0, head.size());
    return head;
  }
  // Everything that arrives within `settle`, with what was held before.
  std::string ReadFor(std::chrono::milliseconds settle = std::chrono::milliseconds(100)) {
    const Deadline deadline = After(settle);
    while (ReadMore(deadline)) {
    }
    return Rest();
  }
  // Reads until the peer closes; true when it did in time.
  bool ReadToEnd(std::chrono::milliseconds limit = std::chrono::seconds(20)) {
    const Deadline deadline = After(limit);
    while (ReadMore(deadline)) {
    }
    return closed_;
  }
  // Waits for more bytes; false when the deadline passed or the peer closed.
  bool ReadMore(Deadline deadline) {
    for (;;) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0 || closed_) return false;
      if (pumping_) platform::Pump();
      pollfd watch{fd_, POLLIN, 0};
      const int ready = ::poll(&watch, 1, pumping_ ? 1 : static_cast<int>(left.count()));
      if (ready < 0) return false;
      if (ready == 0) continue;
      char buffer[65536];
      const ssize_t n = ::read(fd_, buffer, sizeof buffer);
      if (n <= 0) {
        closed_ = true;
        return false;
      }
      received_.append(buffer, static_cast<std::size_t>(n));
      return true;
    }
  }
  // Everything received and not yet taken.
  std::string& held() { return received_; }
  std::string Rest() { return std::exchange(received_, {}); }
  bool closed() const { return closed_; }
  int fd() const { return fd_; }

 protected:
  int fd_ = -1;

 private:
  bool pumping_ = false;
  bool closed_ = false;
  std::string received_;
};

class Caller : public Incoming {
 public:
  explicit Caller(int port, bool pumping = false) : Incoming(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0), pumping) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<uint16_t>(port));
    connected_ = ::connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  }
  ~Caller() { Close(); }
  Caller(const Caller&) = delete;
  Caller& operator=(const Caller&) = delete;

  bool connected() const { return connected_; }
  void Close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }
  bool Send(const std::string& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
      const ssize_t n = ::send(fd_, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
      if (n <= 0) return false;
      done += static_cast<std::size_t>(n);
    }
    return true;
  }

 private:
  bool connected_ = false;
};

// A caller on `port` once the station listens there (it may still be starting).
inline std::unique_ptr<Caller> CallWhenListening(int port, std::chrono::milliseconds limit = std::chrono::seconds(30)) {
  const Deadline deadline = After(limit);
  for (;;) {
    auto caller = std::make_unique<Caller>(port);
    if (caller->connected() || std::chrono::steady_clock::now() > deadline) return caller;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

}  // namespace tellarium::testing
