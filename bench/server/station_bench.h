// Pieces the station benchmarks share: the station's CPU time, percentiles,
// and a full house of callers brought to the password prompt.
#pragma once

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "support/station_client.h"

namespace tellarium::bench {

// User plus system CPU time of a process, in milliseconds.
inline double CpuMilliseconds(pid_t pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
  std::istringstream fields(text.substr(text.rfind(')') + 2));
  std::string field;
  long ticks = 0;
  for (int index = 3; fields >> field; ++index) {
    if (index == 14 || index == 15) ticks += std::stol(field);
    if (index == 15) break;
  }
  return 1000.0 * static_cast<double>(ticks) / static_cast<double>(::sysconf(_SC_CLK_TCK));
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

}  // namespace tellarium::bench
