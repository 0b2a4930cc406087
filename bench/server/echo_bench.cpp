// Keystroke echo latency and idle CPU of the tellarium binary with 31 lines
// connected. Chat users need a login, which the station does not have yet, so
// the keystrokes are typed in the password phase and the echo is its "*".
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <thread>
#include <vector>

#include "support/scratch_directory.h"
#include "support/station_client.h"

namespace {

using tellarium::testing::Caller;
using Clock = std::chrono::steady_clock;

constexpr int kLines = 31;
constexpr int kKeystrokes = 3100;
constexpr int kIdleSeconds = 10;

// User plus system CPU time of a process, in milliseconds.
double CpuMilliseconds(pid_t pid) {
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

double Percentile(std::vector<double> values, double fraction) {
  std::sort(values.begin(), values.end());
  return values[static_cast<std::size_t>(fraction * static_cast<double>(values.size() - 1))];
}

}  // namespace

int main() {
  tellarium::testing::ScratchDirectory scratch;
  scratch.Enter();
  const tellarium::testing::StationPorts ports;
  tellarium::testing::WriteStationConfig(ports, kLines);
  tellarium::testing::Station station(TELLARIUM_BINARY, scratch.path().string());

  std::vector<std::unique_ptr<Caller>> callers;
  for (int line = 1; line <= kLines; ++line) {
    callers.push_back(tellarium::testing::CallWhenListening(ports.main));
    Caller& caller = *callers.back();
    if (caller.ReadUntil("Press <ENTER> To Login.\r\n").empty() || !caller.Send("\r\n") ||
        caller.ReadUntil("-->").empty()) {
      std::fprintf(stderr, "line %d was not greeted\n", line);
      return 1;
    }
  }

  std::vector<double> latencies;
  for (int key = 0; key < kKeystrokes; ++key) {
    Caller& caller = *callers[static_cast<std::size_t>(key % kLines)];
    const auto start = Clock::now();
    caller.Send("k");
    if (caller.ReadUntil("*").empty()) {
      std::fprintf(stderr, "no echo for keystroke %d\n", key);
      return 1;
    }
    latencies.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
  }

  const double cpuBefore = CpuMilliseconds(station.pid());
  std::this_thread::sleep_for(std::chrono::seconds(kIdleSeconds));
  const double idleCpu = CpuMilliseconds(station.pid()) - cpuBefore;

  std::printf("lines connected: %d (password phase)\n", kLines);
  std::printf("keystroke echo latency over %d keys: p50 %.1f us, p99 %.1f us\n", kKeystrokes,
              Percentile(latencies, 0.50), Percentile(latencies, 0.99));
  std::printf("station CPU over %d s idle: %.0f ms (%.2f%%)\n", kIdleSeconds, idleCpu,
              idleCpu / (kIdleSeconds * 10.0));
  return 0;
}
