// Pieces the station benchmarks share: a server's CPU time, percentiles, a
// full house of callers brought to the password prompt, and many connections
// read together line by line.
#pragma once

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "support/station_client.h"

namespace tellarium::bench {

// CPU time (user plus system) of every thread of a process, in milliseconds,
// from the scheduler's nanosecond counters (the process status counts 10 ms ticks).
inline double CpuMilliseconds(pid_t pid) {
  long long nanoseconds = 0;
  for (const auto& task : std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/task")) {
    std::ifstream schedstat(task.path() / "schedstat");
    long long running = 0;
    if (schedstat >> running) nanoseconds += running;
  }
  return static_cast<double>(nanoseconds) / 1e6;
}

inline double Percentile(std::vector<double> values, double fraction) {
  std::sort(values.begin(), values.end());
  return values[static_cast<std::size_t>(fraction * static_cast<double>(values.size() - 1))];
}

// `count` callers on lines 1 to count, in order, each at the password prompt;
// empty when a line was not greeted.
inline std::vector<std::unique_ptr<testing::Caller>> CallersAtPasswordPrompt(int port, int count) {
  std::vector<std::unique_ptr<testing::Caller>> callers;
  for (int line = 1; line <= count; ++line) {
    callers.push_back(testing::CallWhenListening(port));
    testing::Caller& caller = *callers.back();
    if (caller.ReadUntil("Press <ENTER> To Login.\r\n").empty() || !caller.Send("\r\n") ||
        caller.ReadUntil("-->").empty()) {
      std::fprintf(stderr, "line %d was not greeted\n", line);
      return {};
    }
  }
  return callers;
}

// Connections read together: each complete line (without its CR LF) goes to
// seen(connection index, line).
class LineTap {
 public:
  // Takes what each caller has read beyond its last wait as the start of its
  // next line.
  explicit LineTap(const std::vector<std::unique_ptr<testing::Caller>>& callers) {
    for (const auto& caller : callers) {
      watch_.push_back({caller->fd(), POLLIN, 0});
      pending_.push_back(caller->Rest());
    }
  }

  // Waits up to `timeoutMs` for data and reads every connection that has some.
  // Returns the number of connections read, or -1 once one closed.
  template <typename Seen>
  int Poll(int timeoutMs, Seen&& seen) {
    const int ready = ::poll(watch_.data(), watch_.size(), std::max(timeoutMs, 0));
    if (ready <= 0) return ready < 0 && errno != EINTR ? -1 : 0;
    for (std::size_t index = 0; index < watch_.size(); ++index) {
      if (watch_[index].revents == 0) continue;
      char buffer[65536];
      const ssize_t n = ::recv(watch_[index].fd, buffer, sizeof buffer, 0);
      if (n <= 0) return -1;
      std::string& text = pending_[index];
      text.append(buffer, static_cast<std::size_t>(n));
      std::size_t start = 0;
      for (std::size_t end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2) {
        seen(index, text.substr(start, end - start));
      }
      text.erase(0, start);
    }
    return ready;
  }

 private:
  std::vector<pollfd> watch_;
  std::vector<std::string> pending_;
};

}  // namespace tellarium::bench
