// Keystroke echo latency and idle CPU of the tellarium binary with 31 lines
// connected. The keystrokes are typed at the password prompt, where each one
// echoes as "*" and none completes a login.
#include <chrono>
#include <cstdio>
#include <thread>
#include <vector>

#include "station_bench.h"
#include "support/scratch_directory.h"

namespace {

using tellarium::bench::CpuMilliseconds;
using tellarium::bench::Percentile;
using tellarium::testing::Caller;
using Clock = std::chrono::steady_clock;

constexpr int kLines = 31;
constexpr int kKeystrokes = 3100;
constexpr int kIdleSeconds = 10;

}  // namespace

int main() {
  tellarium::testing::ScratchDirectory scratch;
  scratch.Enter();
  const tellarium::testing::StationPorts ports;
  tellarium::testing::WriteStationConfig(ports, kLines);
  tellarium::testing::Station station(TELLARIUM_BINARY, scratch.path().string());

  const auto callers = tellarium::bench::CallersAtPasswordPrompt(ports.main, kLines);
  if (callers.empty()) return 1;

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
