// Time from starting the tellarium binary to the end of its start-up, in a
// station with 1000 account files and a system log of 389 lines.
#include <benchmark/benchmark.h>
#include <signal.h>

#include <chrono>

#include "server/core/server.h"
#include "support/scratch_directory.h"
#include "support/station_client.h"

namespace {

using tellarium::testing::ScratchDirectory;

// A system log of `count` lines, each ended by CR LF.
std::string LogLines(int count) {
  std::string text;
  for (int i = 1; i <= count; ++i) text += "12-06-2026 9:00 PM Someone - entry " + std::to_string(i) + "\r\n";
  return text;
}

// Accounts 0..999 all in use, a full log, and the default files.
void PrepareStation(const ScratchDirectory& station) {
  station.Enter();
  tellarium::Server writer;
  for (int16_t acc = 0; acc < tellarium::kAccountCount; ++acc) {
    writer.currentAccount = tellarium::UserRecord{};
    writer.currentAccount.handle = "Member " + writer.afix(acc);
    writer.currentAccount.flags[tellarium::kFlagInUse] = true;
    writer.uwrite(acc);
  }
  tellarium::testing::WriteFile("qvtalk.log", LogLines(389));
}

// Start-up ends when the main ports take callers.
bool WaitUntilListening(int port) {
  for (int attempt = 0; attempt < 2000; ++attempt) {
    if (tellarium::testing::Caller(port).connected()) return true;
    ::usleep(500);
  }
  return false;
}

bool RunToEndOfStartup(const ScratchDirectory& station, int main_port) {
  tellarium::testing::Station process(TELLARIUM_BINARY, station.path().string(), tellarium::testing::Station::Output::kPipe);
  const bool started = !process.output().ReadUntil(" Account # 999\r\n").empty() && WaitUntilListening(main_port);
  process.EndWith(SIGTERM);
  return started;
}

void BM_StartupToReady(benchmark::State& state) {
  ScratchDirectory station;
  PrepareStation(station);
  const tellarium::testing::StationPorts ports;
  tellarium::testing::WriteStationConfig(ports, 7);
  for (auto _ : state) {
    const auto start = std::chrono::steady_clock::now();
    if (!RunToEndOfStartup(station, ports.main)) state.SkipWithError("the server did not finish its start-up");
    const auto end = std::chrono::steady_clock::now();
    state.SetIterationTime(std::chrono::duration<double>(end - start).count());
  }
}
BENCHMARK(BM_StartupToReady)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(20);

}  // namespace

BENCHMARK_MAIN();
