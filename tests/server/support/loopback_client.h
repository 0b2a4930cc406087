// A caller on a loopback connection to a server running in this process:
// reading lets the server's loop run until the expected bytes have arrived
// (Caller of station_client.h is for a station in another process).
#pragma once

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <thread>
#include <utility>

#include "platform/loop.h"
#include "support/station_client.h"

namespace tellarium::testing {

// Runs the loop until `done` holds or the (generous) time is up.
inline bool PumpUntil(const std::function<bool()>& done, std::chrono::milliseconds limit = std::chrono::seconds(10)) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    platform::Pump();
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

class LoopbackClient {
 public:
  explicit LoopbackClient(int port) : fd_(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<uint16_t>(port));
    connected_ = ::connect(fd_, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    ::fcntl(fd_, F_SETFL, O_NONBLOCK);
  }
  ~LoopbackClient() { ::close(fd_); }
  LoopbackClient(const LoopbackClient&) = delete;
  LoopbackClient& operator=(const LoopbackClient&) = delete;

  bool connected() const { return connected_; }

  void Write(const std::string& bytes) { [[maybe_unused]] auto n = ::send(fd_, bytes.data(), bytes.size(), 0); }

  // Lets the server run until `text` has arrived; returns everything received
  // up to and including it, and keeps the rest.
  std::string ReadThrough(const std::string& text) {
    std::size_t at = std::string::npos;
    PumpUntil([&] {
      Poll();
      at = received_.find(text);
      return at != std::string::npos;
    });
    if (at == std::string::npos) return std::exchange(received_, {});
    std::string taken = received_.substr(0, at + text.size());
    received_.erase(0, at + text.size());
    return taken;
  }

  // Lets the server run for a short while and returns what arrived meanwhile.
  std::string ReadAvailable(std::chrono::milliseconds settle = std::chrono::milliseconds(100)) {
    const auto until = std::chrono::steady_clock::now() + settle;
    PumpUntil([&] {
      Poll();
      return std::chrono::steady_clock::now() > until;
    });
    return std::exchange(received_, {});
  }

 private:
  void Poll() {
    char buffer[4096];
    for (;;) {
      const ssize_t n = ::recv(fd_, buffer, sizeof buffer, 0);
      if (n <= 0) return;
      received_.append(buffer, static_cast<std::size_t>(n));
    }
  }

  int fd_;
  bool connected_ = false;
  std::string received_;
};

}  // namespace tellarium::testing
