#include "raw_socket.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include "host.h"

namespace kvtest {
namespace {

sockaddr_in Loopback(uint16_t port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(port);
  return address;
}

}  // namespace

RawSocket::~RawSocket() {
  if (fd_ >= 0) ::close(fd_);
  if (listen_fd_ >= 0) ::close(listen_fd_);
}

bool RawSocket::Connect(uint16_t port) {
  fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address = Loopback(port);
  if (::connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) return false;
  ::fcntl(fd_, F_SETFL, O_NONBLOCK);
  return true;
}

bool RawSocket::Listen(uint16_t port) {
  listen_fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
  const int one = 1;
  ::setsockopt(listen_fd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in address = Loopback(port);
  if (::bind(listen_fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) return false;
  ::fcntl(listen_fd_, F_SETFL, O_NONBLOCK);
  return ::listen(listen_fd_, 5) == 0;
}

bool RawSocket::AcceptOne() {
  PumpUntil([this] {
    fd_ = ::accept(listen_fd_, nullptr, nullptr);
    return fd_ >= 0;
  });
  if (fd_ >= 0) ::fcntl(fd_, F_SETFL, O_NONBLOCK);
  return fd_ >= 0;
}

void RawSocket::Write(const std::string& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = ::send(fd_, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
    if (n <= 0) break;
    done += static_cast<size_t>(n);
  }
}

void RawSocket::Poll() {
  char buffer[4096];
  for (;;) {
    ssize_t n = ::recv(fd_, buffer, sizeof buffer, 0);
    if (n > 0) {
      received.append(buffer, static_cast<size_t>(n));
      continue;
    }
    if (n == 0) peer_closed = true;
    return;
  }
}

bool RawSocket::WaitFor(size_t length) {
  return PumpUntil([&] {
    Poll();
    return received.size() >= length;
  });
}

bool RawSocket::ReadUrgent(char& byte) { return ::recv(fd_, &byte, 1, MSG_OOB) == 1; }

}  // namespace kvtest
