// Round-trip latency and throughput of two controls echoing over loopback,
// beside a plain blocking-socket echo as the physical reference.
//   korvatel_echo_bench [round_trips] [megabytes]
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/automation.h"
#include "platform/loop.h"
#include "telnetctl/korvatel.h"

namespace {

using platform::InvokeKind;
using platform::Variant;
using Clock = std::chrono::steady_clock;

constexpr size_t kMessageSize = 64;
constexpr size_t kChunkSize = 16 * 1024;
constexpr size_t kWindow = 256 * 1024;

struct Figures {
  double p50_us = 0;
  double p99_us = 0;
  double mb_per_s = 0;
};

double Percentile(std::vector<double> samples, double p) {
  std::sort(samples.begin(), samples.end());
  return samples[static_cast<size_t>(p * static_cast<double>(samples.size() - 1))];
}

double Seconds(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

uint16_t PickPort() {
  for (uint16_t port = 23000; port < 32000; port += 7) {
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(port);
    const bool free = ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    ::close(fd);
    if (free) return port;
  }
  return 0;
}

// ---- two controls -----------------------------------------------------------

class Control final : public platform::EventSink {
 public:
  Control() : component_(KorvatelCreateControl()) { component_->Advise(this); }
  void OnEvent(int32_t id, std::span<Variant> args) override {
    if (handler) handler(id, args);
  }
  bool Call(int32_t id, std::vector<Variant> args) {
    Variant result;
    component_->Invoke(id, InvokeKind::kMethod, args, &result);
    return result.type() == Variant::Type::kBool && result.as_bool();
  }
  void Put(int32_t id, Variant value) {
    std::vector<Variant> args{std::move(value)};
    component_->Invoke(id, InvokeKind::kPropertyPut, args, nullptr);
  }
  bool Send(const std::string& bytes) { return Call(tntlib::kDispSend, {Variant::Text(bytes)}); }
  std::function<void(int32_t, std::span<Variant>)> handler;

 private:
  std::unique_ptr<platform::Component> component_;
};

size_t PieceLength(std::span<Variant> args) { return args[0].Deref().as_text().size(); }

Figures MeasureControls(int round_trips, size_t total_bytes) {
  Control listener, server, client;
  const uint16_t port = PickPort();
  listener.Put(tntlib::kDispLocalPort, Variant::Int32(port));
  for (Control* c : {&server, &client}) c->Put(tntlib::kDispNoDelay, Variant::Bool(true));
  listener.handler = [&](int32_t id, std::span<Variant> args) {
    if (id == tntlib::kEventOnAccept) server.Call(tntlib::kDispAccept, {args[0]});
  };
  server.handler = [&](int32_t id, std::span<Variant> args) {
    if (id == tntlib::kEventOnRecv && PieceLength(args) > 0) server.Send(args[0].as_text());
  };
  bool connected = false;
  size_t received = 0;
  size_t wanted = 0;
  std::function<void()> on_progress;
  client.handler = [&](int32_t id, std::span<Variant> args) {
    if (id == tntlib::kEventOnConnect) {
      connected = true;
      platform::Quit();
    } else if (id == tntlib::kEventOnRecv) {
      received += PieceLength(args);
      if (on_progress) on_progress();
      if (received >= wanted) platform::Quit();
    }
  };
  listener.Call(tntlib::kDispListen, {Variant::Int32(0)});
  client.Put(tntlib::kDispRemotePort, Variant::Int32(port));
  client.Call(tntlib::kDispConnect, {Variant::Text("127.0.0.1")});
  platform::Run();
  platform::ResetQuit();
  if (!connected) {
    std::fprintf(stderr, "controls did not connect\n");
    std::exit(1);
  }

  Figures figures;
  const std::string message(kMessageSize, 'm');
  std::vector<double> samples;
  for (int i = 0; i < round_trips; ++i) {
    received = 0;
    wanted = kMessageSize;
    const auto start = Clock::now();
    client.Send(message);
    platform::Run();
    platform::ResetQuit();
    samples.push_back(Seconds(start) * 1e6);
  }
  figures.p50_us = Percentile(samples, 0.50);
  figures.p99_us = Percentile(samples, 0.99);

  const std::string chunk(kChunkSize, 'd');
  size_t sent = 0;
  received = 0;
  wanted = total_bytes;
  on_progress = [&] {
    while (sent < total_bytes && sent - received < kWindow && client.Send(chunk)) sent += kChunkSize;
  };
  const auto start = Clock::now();
  on_progress();
  platform::Run();
  platform::ResetQuit();
  figures.mb_per_s = static_cast<double>(total_bytes) / (1024.0 * 1024.0) / Seconds(start);
  return figures;
}

// ---- blocking sockets ----------------------------------------------------------

void WriteAll(int fd, const char* data, size_t length) {
  while (length > 0) {
    ssize_t n = ::send(fd, data, length, MSG_NOSIGNAL);
    if (n <= 0) return;
    data += n;
    length -= static_cast<size_t>(n);
  }
}

bool ReadExactly(int fd, char* data, size_t length) {
  while (length > 0) {
    ssize_t n = ::recv(fd, data, length, 0);
    if (n <= 0) return false;
    data += n;
    length -= static_cast<size_t>(n);
  }
  return true;
}

Figures MeasureBlockingSockets(int round_trips, size_t total_bytes) {
  const uint16_t port = PickPort();
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(port);
  const int one = 1;
  int listener = ::socket(AF_INET, SOCK_STREAM, 0);
  ::setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  ::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address);
  ::listen(listener, 1);
  std::thread echo([listener, one] {
    int fd = ::accept(listener, nullptr, nullptr);
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    char buffer[32766];
    for (;;) {
      ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
      if (n <= 0) break;
      WriteAll(fd, buffer, static_cast<size_t>(n));
    }
    ::close(fd);
  });
  int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
  ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);

  Figures figures;
  std::string message(kMessageSize, 'm');
  std::vector<double> samples;
  for (int i = 0; i < round_trips; ++i) {
    const auto start = Clock::now();
    WriteAll(fd, message.data(), message.size());
    ReadExactly(fd, message.data(), message.size());
    samples.push_back(Seconds(start) * 1e6);
  }
  figures.p50_us = Percentile(samples, 0.50);
  figures.p99_us = Percentile(samples, 0.99);

  const auto start = Clock::now();
  std::thread writer([fd, total_bytes] {
    const std::string chunk(kChunkSize, 'd');
    for (size_t sent = 0; sent < total_bytes; sent += kChunkSize) WriteAll(fd, chunk.data(), chunk.size());
  });
  std::vector<char> sink(64 * 1024);
  size_t received = 0;
  while (received < total_bytes) {
    ssize_t n = ::recv(fd, sink.data(), sink.size(), 0);
    if (n <= 0) break;
    received += static_cast<size_t>(n);
  }
  figures.mb_per_s = static_cast<double>(received) / (1024.0 * 1024.0) / Seconds(start);
  writer.join();
  ::shutdown(fd, SHUT_RDWR);
  ::close(fd);
  echo.join();
  ::close(listener);
  return figures;
}

}  // namespace

int main(int argc, char** argv) {
  const int round_trips = argc > 1 ? std::atoi(argv[1]) : 5000;
  const size_t megabytes = argc > 2 ? static_cast<size_t>(std::atoi(argv[2])) : 256;
  const size_t total = megabytes * 1024 * 1024;
  const Figures controls = MeasureControls(round_trips, total);
  const Figures sockets = MeasureBlockingSockets(round_trips, total);
  std::printf("echo over loopback: %d round trips of %zu bytes, %zu MiB streamed in %zu-byte sends\n", round_trips,
              kMessageSize, megabytes, kChunkSize);
  std::printf("%-22s %12s %12s %14s\n", "", "p50 (us)", "p99 (us)", "MiB/s");
  std::printf("%-22s %12.1f %12.1f %14.1f\n", "two controls", controls.p50_us, controls.p99_us, controls.mb_per_s);
  std::printf("%-22s %12.1f %12.1f %14.1f\n", "blocking sockets", sockets.p50_us, sockets.p99_us, sockets.mb_per_s);
  return 0;
}
