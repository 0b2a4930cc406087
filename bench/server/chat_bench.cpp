// Chat distribution of the tellarium binary with 31 guests on channel 1:
// how long one line takes to reach every other caller, and whether every line
// arrives (and at what CPU cost) while all callers chat at once.
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "station_bench.h"
#include "support/scratch_directory.h"

namespace {

using tellarium::bench::CpuMilliseconds;
using tellarium::bench::Percentile;
using tellarium::testing::Caller;
using Clock = std::chrono::steady_clock;
using Callers = std::vector<std::unique_ptr<Caller>>;

constexpr int kLines = 31;
constexpr int kLatencyRounds = 33;  // every caller sends this many: 1023 lines
constexpr int kLoadSeconds = 30;
constexpr int kLoadRate = 10;  // lines per caller per second
constexpr int kLoadPerCaller = kLoadSeconds * kLoadRate;
constexpr int kLoadNumbers = 1'000'000;  // load lines are numbered from here

// Microseconds since `start`.
double Since(Clock::time_point start) {
  return std::chrono::duration<double, std::micro>(Clock::now() - start).count();
}

// Whole milliseconds until `when`, rounded up so that a wait never spins.
int MillisecondsUntil(Clock::time_point when) {
  const auto left = std::chrono::ceil<std::chrono::milliseconds>(when - Clock::now());
  return static_cast<int>(std::max<long>(left.count(), 0));
}

// The text caller `line` sends as its line `number`; unique, so receivers can
// tell every line apart.
std::string ChatText(int line, long number) {
  char text[48];
  std::snprintf(text, sizeof text, "m%d.%ldz", line, number);
  return text;
}

// Reads every caller's connection and picks out the chat lines of guests on
// channel 1: the sender's tag "#<line>(C1]:?) " followed by its ChatText.
class ChatTap {
 public:
  explicit ChatTap(const Callers& callers) : lines_(callers) {}

  // Waits up to `timeoutMs` for data, reads every connection that has some and
  // hands each chat line to seen(receiver index, sender line, number). Returns
  // the number of connections read, or -1 once one was closed.
  template <typename Seen>
  int Poll(int timeoutMs, Seen&& seen) {
    return lines_.Poll(timeoutMs, [&](std::size_t receiver, const std::string& line) { Take(line, receiver, seen); });
  }

  // Lines that held a chat text behind a guest's tag but were not a
  // well-formed chat line from the tagged line.
  long garbled() const { return garbled_; }

 private:
  template <typename Seen>
  void Take(const std::string& line, std::size_t receiver, Seen& seen) {
    if (line.find("(C1]:?) m") == std::string::npos) return;
    int tagged = 0;
    int sender = 0;
    long number = 0;
    int length = 0;
    if (std::sscanf(line.c_str(), "#%d(C1]:?) m%d.%ldz%n", &tagged, &sender, &number, &length) == 3 &&
        static_cast<std::size_t>(length) == line.size() && tagged == sender && sender >= 1 && sender <= kLines) {
      seen(receiver, sender, number);
    } else {
      ++garbled_;
    }
  }

  tellarium::bench::LineTap lines_;
  long garbled_ = 0;
};

// Reads all connections until none has had anything for `quietMs`.
bool DrainUntilQuiet(ChatTap& tap, int quietMs) {
  for (int read; (read = tap.Poll(quietMs, [](std::size_t, int, long) {})) != 0;) {
    if (read < 0) return false;
  }
  return true;
}

bool LogInGuests(const Callers& callers) {
  for (std::size_t i = 0; i < callers.size(); ++i) {
    if (!callers[i]->Send("\r\n") || callers[i]->ReadUntil(" For Help.").empty()) {
      std::fprintf(stderr, "line %zu did not log in as a guest\n", i + 1);
      return false;
    }
  }
  return true;
}

// One line at a time, senders in turn; microseconds until all other callers
// had it. Empty when a line did not arrive in time.
std::vector<double> MeasureLatency(const Callers& callers, ChatTap& tap) {
  std::vector<double> latencies;
  for (long number = 0; number < kLatencyRounds * kLines; ++number) {
    const int sender = static_cast<int>(number % kLines) + 1;
    // The sender gets its own line too; it is waited for but not timed.
    std::vector<bool> got(callers.size(), false);
    std::size_t gotCount = 0;
    std::size_t others = 0;
    double latency = 0;
    const auto start = Clock::now();
    callers[static_cast<std::size_t>(sender - 1)]->Send(ChatText(sender, number) + "\r\n");
    while (gotCount < callers.size()) {
      if (Since(start) > 10e6 || tap.Poll(100, [&](std::size_t receiver, int from, long n) {
            if (from != sender || n != number || got[receiver]) return;
            got[receiver] = true;
            ++gotCount;
            if (receiver + 1 != static_cast<std::size_t>(sender) && ++others == callers.size() - 1) {
              latency = Since(start);
            }
          }) < 0) {
        std::fprintf(stderr, "line %ld from #%d reached %zu of %zu callers\n", number, sender, gotCount,
                     callers.size());
        return {};
      }
    }
    latencies.push_back(latency);
  }
  return latencies;
}

struct LoadResult {
  long sent = 0;
  long expected = 0;
  long arrived = 0;
  long duplicates = 0;
  double cpuMs = 0;
  double wallMs = 0;
  double drainMs = 0;  // after the sending ended, until the last line arrived
  bool closed = false;  // the station closed a connection
};

// Every caller sends kLoadRate lines a second, the callers spread evenly over
// each tenth of a second, while every connection is read.
LoadResult MeasureLoad(const Callers& callers, ChatTap& tap, pid_t station) {
  LoadResult result;
  const std::size_t count = callers.size();
  std::vector<std::vector<char>> seen(count, std::vector<char>(count * kLoadPerCaller, 0));
  const auto record = [&](std::size_t receiver, int sender, long number) {
    const long index = number - kLoadNumbers;
    if (index < 0 || index >= kLoadPerCaller || receiver + 1 == static_cast<std::size_t>(sender)) return;
    const std::size_t line = static_cast<std::size_t>(sender - 1) * kLoadPerCaller + static_cast<std::size_t>(index);
    char& slot = seen[receiver][line];
    if (slot) {
      ++result.duplicates;
    } else {
      slot = 1;
      ++result.arrived;
    }
  };

  const auto period = std::chrono::microseconds(1'000'000 / kLoadRate);
  const auto start = Clock::now();
  const double cpuBefore = CpuMilliseconds(station);
  for (long round = 0; round < kLoadPerCaller; ++round) {
    for (std::size_t c = 0; c < count; ++c) {
      const auto due = start + period * round + period * static_cast<long>(c) / static_cast<long>(count);
      for (auto now = Clock::now(); now < due; now = Clock::now()) {
        if (tap.Poll(MillisecondsUntil(due), record) < 0) return {.closed = true};
      }
      callers[c]->Send(ChatText(static_cast<int>(c) + 1, kLoadNumbers + round) + "\r\n");
      ++result.sent;
    }
  }
  const auto sendingEnd = start + std::chrono::seconds(kLoadSeconds);
  while (Clock::now() < sendingEnd) {
    if (tap.Poll(MillisecondsUntil(sendingEnd), record) < 0) return {.closed = true};
  }
  result.cpuMs = CpuMilliseconds(station) - cpuBefore;
  result.wallMs = Since(start) / 1000.0;

  result.expected = result.sent * static_cast<long>(count - 1);
  const auto drainStart = Clock::now();
  auto lastArrival = drainStart;
  while (result.arrived < result.expected && Since(lastArrival) < 5e6) {
    const long before = result.arrived;
    if (tap.Poll(100, record) < 0) return {.closed = true};
    if (result.arrived != before) lastArrival = Clock::now();
  }
  result.drainMs = std::chrono::duration<double, std::milli>(lastArrival - drainStart).count();
  return result;
}

}  // namespace

int main() {
  double loadAverage = 0;
  ::getloadavg(&loadAverage, 1);
  tellarium::testing::ScratchDirectory scratch;
  scratch.Enter();
  const tellarium::testing::StationPorts ports;
  tellarium::testing::WriteStationConfig(ports, kLines);
  tellarium::testing::Station station(TELLARIUM_BINARY, scratch.path().string());

  const Callers callers = tellarium::bench::CallersAtPasswordPrompt(ports.main, kLines);
  if (callers.empty() || !LogInGuests(callers)) return 1;
  for (const auto& caller : callers) caller->Rest();
  ChatTap tap(callers);
  if (!DrainUntilQuiet(tap, 1000)) return 1;

  const std::vector<double> latencies = MeasureLatency(callers, tap);
  if (latencies.empty()) return 1;
  if (!DrainUntilQuiet(tap, 1000)) return 1;
  const LoadResult load = MeasureLoad(callers, tap, station.pid());
  if (load.closed) {
    std::fprintf(stderr, "the station closed a connection under load\n");
    return 1;
  }

  std::printf("machine: %ld processors online, load average %.2f before the run\n", ::sysconf(_SC_NPROCESSORS_ONLN),
              loadAverage);
  std::printf("callers: %d guests on channel 1\n", kLines);
  std::printf("chat line to all %d other callers, over %zu lines: p50 %.1f us, p99 %.1f us\n", kLines - 1,
              latencies.size(), Percentile(latencies, 0.50), Percentile(latencies, 0.99));
  std::printf("load: %d lines/s per caller for %d s: %ld lines sent, %ld deliveries expected, %ld arrived, %ld lost",
              kLoadRate, kLoadSeconds, load.sent, load.expected, load.arrived, load.expected - load.arrived);
  std::printf(", %ld duplicates\n", load.duplicates);
  std::printf("garbled chat lines in both runs: %ld\n", tap.garbled());
  std::printf("load: last line arrived %.0f ms after the sending ended\n", load.drainMs);
  std::printf("station CPU over the %.1f s of sending: %.0f ms (%.1f%% of wall time)\n", load.wallMs / 1000.0,
              load.cpuMs, 100.0 * load.cpuMs / load.wallMs);
  return load.expected == load.arrived ? 0 : 2;
}
