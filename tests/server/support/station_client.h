// A station on loopback: free ports below 32768, a config.qvs naming them,
// and a raw TCP caller that reads with time limits.
#pragma once

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <utility>

#include "server/core/server.h"

namespace tellarium::testing {

// True when a listener of this process could bind the port now.
inline bool CanBind(int port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  const int on = 1;
  ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_ANY);
  address.sin_port = htons(static_cast<uint16_t>(port));
  const bool free = ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  ::close(fd);
  return free;
}

// A port below 32768 that nothing listens on now.
inline int FreePort() {
  static std::mt19937 random(static_cast<unsigned>(::getpid()) * 7919u +
                             static_cast<unsigned>(std::chrono::steady_clock::now().time_since_epoch().count()));
  for (;;) {
    const int port = 20000 + static_cast<int>(random() % 12000);
    if (CanBind(port)) return port;
  }
}

struct StationPorts {
  int main = FreePort();
  int line0 = FreePort();
};

// Writes config.qvs (and the other start files) in the current directory
// with the given ports and number of main lines.
inline void WriteStationConfig(const StationPorts& ports, int maxLines) {
  Server writer;
  writer.Startup();
  writer.cfgparse("\x01" "5|421|" + std::to_string(ports.line0) + "|" + std::to_string(ports.main) + "|" +
                  std::to_string(maxLines) + "|");
}

class Caller {
 public:
  explicit Caller(int port) {
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
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
  // Reads until what was received holds `text`; returns everything up to and
  // including it (and keeps the rest), or "" when the time ran out.
  std::string ReadUntil(const std::string& text, std::chrono::milliseconds limit = std::chrono::seconds(20)) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    for (;;) {
      const std::size_t at = received_.find(text);
      if (at != std::string::npos) {
        std::string head = received_.substr(0, at + text.size());
        received_.erase(0, at + text.size());
        return head;
      }
      if (!ReadSome(deadline)) return "";
    }
  }
  // Reads until the server closes; true when it did in time.
  bool ReadToEnd(std::chrono::milliseconds limit = std::chrono::seconds(20)) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!closed_) {
      if (!ReadSome(deadline) && !closed_) return false;
    }
    return true;
  }
  // Everything received and not yet taken.
  std::string Rest() { return std::exchange(received_, {}); }
  int fd() const { return fd_; }

 private:
  bool ReadSome(std::chrono::steady_clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0 || closed_) return false;
    pollfd watch{fd_, POLLIN, 0};
    if (::poll(&watch, 1, static_cast<int>(left.count())) <= 0) return false;
    char buffer[65536];
    const ssize_t n = ::recv(fd_, buffer, sizeof buffer, 0);
    if (n <= 0) {
      closed_ = true;
      return false;
    }
    received_.append(buffer, static_cast<std::size_t>(n));
    return true;
  }

  int fd_ = -1;
  bool connected_ = false;
  bool closed_ = false;
  std::string received_;
};

// The tellarium binary running in a directory; standard output is dropped
// and standard error kept in "stderr.txt" there.
class Station {
 public:
  Station(const std::string& binary, const std::string& directory) {
    pid_ = ::fork();
    if (pid_ == 0) {
      if (::chdir(directory.c_str()) != 0) ::_exit(126);
      const int out = ::open("/dev/null", O_WRONLY);
      const int err = ::open("stderr.txt", O_WRONLY | O_CREAT | O_TRUNC, 0644);
      ::dup2(out, STDOUT_FILENO);
      ::dup2(err, STDERR_FILENO);
      ::execl(binary.c_str(), binary.c_str(), static_cast<char*>(nullptr));
      ::_exit(127);
    }
  }
  ~Station() {
    if (pid_ > 0 && !ended_) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
  }
  Station(const Station&) = delete;
  Station& operator=(const Station&) = delete;

  pid_t pid() const { return pid_; }
  // The exit status once the program ended by itself within the limit, else -1.
  int WaitForExit(std::chrono::milliseconds limit = std::chrono::seconds(20)) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < deadline) {
      int status = 0;
      if (::waitpid(pid_, &status, WNOHANG) == pid_) {
        ended_ = true;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return -1;
  }
  // Resident memory in kB, from the process status.
  long ResidentKb() const {
    const std::string status = ReadText("/proc/" + std::to_string(pid_) + "/status");
    const std::size_t at = status.find("VmRSS:");
    return at == std::string::npos ? -1 : std::stol(status.substr(at + 6));
  }

 private:
  static std::string ReadText(const std::string& path) {
    std::string text;
    const int fd = ::open(path.c_str(), O_RDONLY);
    if (fd < 0) return text;
    char buffer[4096];
    for (ssize_t n; (n = ::read(fd, buffer, sizeof buffer)) > 0;) text.append(buffer, static_cast<std::size_t>(n));
    ::close(fd);
    return text;
  }
  pid_t pid_ = -1;
  bool ended_ = false;
};

// A caller on `port` once the station listens there (it may still be starting).
inline std::unique_ptr<Caller> CallWhenListening(int port, std::chrono::milliseconds limit = std::chrono::seconds(30)) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  for (;;) {
    auto caller = std::make_unique<Caller>(port);
    if (caller->connected() || std::chrono::steady_clock::now() > deadline) return caller;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

}  // namespace tellarium::testing
