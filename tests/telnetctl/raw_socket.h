// A plain loopback socket for checking the exact bytes a control sends.
#pragma once

#include <cstdint>
#include <string>

namespace kvtest {

class RawSocket {
 public:
  RawSocket() = default;
  ~RawSocket();
  RawSocket(const RawSocket&) = delete;
  RawSocket& operator=(const RawSocket&) = delete;

  bool Connect(uint16_t port);
  bool Listen(uint16_t port);
  bool AcceptOne();  // waits for the one connection, running the loop
  void Write(const std::string& bytes);
  // Reads what is there now (without waiting), appending to `received`.
  void Poll();
  // Runs the loop until `received` holds at least `length` bytes.
  bool WaitFor(size_t length);
  // Reads the urgent byte, if one has arrived.
  bool ReadUrgent(char& byte);
  int fd() const { return fd_; }

  std::string received;
  bool peer_closed = false;

 private:
  int fd_ = -1;
  int listen_fd_ = -1;
};

}  // namespace kvtest
