// A chat line across a chain of three linked stations: how long it takes to
// reach a member on the third station, beside how long it takes to reach a
// member on the sender's own station, in one run.
//
// Each link is made the way a SysOp makes it: "Z" names the next station,
// "R2T" dials it, the SysOp logs in to its link account through the terminal,
// leaves with the grave accent, and "R2A" remotes the line as a D-Dial link.
#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "server/core/server.h"
#include "station_bench.h"
#include "support/scratch_directory.h"

namespace {

using tellarium::bench::Percentile;
using tellarium::testing::Caller;
using Clock = std::chrono::steady_clock;

constexpr int kLines = 7;
constexpr int kRounds = 200;
constexpr char kLinkLogin[] = "010link\r";

// An account of the station, written through the server.
void Seed(tellarium::Server& writer, int16_t number, const std::string& handle, const std::string& password,
          std::vector<int> flags) {
  writer.currentAccount = tellarium::UserRecord{};
  writer.currentAccount.handle = handle;
  writer.currentAccount.password = password;
  writer.currentAccount.level = 3;
  for (int flag : flags) writer.currentAccount.flags[static_cast<std::size_t>(flag)] = true;
  writer.uwrite(number);
}

// A station in its own directory: the SysOp's default account, two members
// and a D-Dial link account.
struct ChainStation {
  tellarium::testing::ScratchDirectory directory;
  tellarium::testing::StationPorts ports;
  std::unique_ptr<tellarium::testing::Station> process;

  ChainStation() {
    directory.Enter();
    tellarium::testing::WriteStationConfig(ports, kLines);
    tellarium::Server writer;
    writer.Startup();
    for (int16_t member : {1, 2}) Seed(writer, member, "M" + std::to_string(member), "pw", {0, 1});
    Seed(writer, 10, "Link", "link", {0, 1, tellarium::kFlagDdlLink});
    process = std::make_unique<tellarium::testing::Station>(TELLARIUM_BINARY, directory.path().string());
  }
};

// Sends `typed` and reads up to `expected`; false (and says so) when it never came.
bool Step(Caller& caller, const std::string& typed, const std::string& expected) {
  if (!caller.Send(typed) || caller.ReadUntil(expected).empty()) {
    std::fprintf(stderr, "no \"%s\" after \"%s\"\n", expected.c_str(), typed.c_str());
    return false;
  }
  return true;
}

std::unique_ptr<Caller> LoggedIn(int port, const std::string& login) {
  auto caller = tellarium::testing::CallWhenListening(port);
  const bool in = Step(*caller, "", "Press <ENTER> To Login.") && Step(*caller, "\r\n", "-->") &&
                  Step(*caller, login + "\r", "Login\r\n");
  return in ? std::move(caller) : nullptr;
}

// The SysOp's line `out` becomes a link to `next`, where it is logged in to
// the link account.
bool LinkTo(Caller& sysop, const ChainStation& next, int out) {
  const std::string line = std::to_string(out);
  return Step(sysop, "/Z127.0.0.1:" + std::to_string(next.ports.main) + "\r", "Outdial Set.") &&
         Step(sysop, "/R" + line + "T\r", "Terminal connected.") && Step(sysop, "", "Press <ENTER> To Login.") &&
         Step(sysop, "\r\n", "-->") && Step(sysop, kLinkLogin, "Login^") && Step(sysop, "`", "Terminal Exited.") &&
         Step(sysop, "/R" + line + "A\r", "D-Dial Remoted");
}

double Microseconds(Clock::time_point from, Clock::time_point to) {
  return std::chrono::duration<double, std::micro>(to - from).count();
}

}  // namespace

int main() {
  ChainStation first, second, third;
  // Each SysOp dials out on the line after its own: the first station's on
  // line 2 (its SysOp is line 1), the second's on line 3 (line 1 is the link
  // from the first, its SysOp line 2).
  const auto sysop1 = LoggedIn(first.ports.main, "000zarvo");
  if (!sysop1 || !LinkTo(*sysop1, second, 2)) return 1;
  const auto sysop2 = LoggedIn(second.ports.main, "000zarvo");
  if (!sysop2 || !LinkTo(*sysop2, third, 3)) return 1;
  const auto sender = LoggedIn(first.ports.main, "001pw");
  const auto near = LoggedIn(first.ports.main, "002pw");
  const auto far = LoggedIn(third.ports.main, "001pw");
  if (!sender || !near || !far) return 1;
  near->ReadFor();
  far->ReadFor();

  std::vector<double> local, chained;
  for (int round = 0; round < kRounds; ++round) {
    const std::string token = "r" + std::to_string(round) + "z";
    const Clock::time_point sent = Clock::now();
    sender->Send(token + "\r");
    if (near->ReadUntil(token).empty()) return 2;
    local.push_back(Microseconds(sent, Clock::now()));
    if (far->ReadUntil(token).empty()) return 2;
    chained.push_back(Microseconds(sent, Clock::now()));
  }
  std::printf("chat line within one station, over %d lines: p50 %.1f us, p99 %.1f us\n", kRounds,
              Percentile(local, 0.50), Percentile(local, 0.99));
  std::printf("chat line across three linked stations, over %d lines: p50 %.1f us, p99 %.1f us\n", kRounds,
              Percentile(chained, 0.50), Percentile(chained, 0.99));
  return 0;
}
