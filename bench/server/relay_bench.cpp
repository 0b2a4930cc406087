// Chat relay of the tellarium binary beside ngircd, in one run. Both servers
// get the same workload: 31 clients log in one after another onto one
// channel, one of them sends numbered lines at a steady pace while the other
// 30 receive, and then all sit idle. Rounds alternate between the two, each
// on a fresh server process in its own scratch directory.
//
// ngircd comes from Debian's packages: bench/server/relay_bench_setup.sh.
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "station_bench.h"
#include "support/scratch_directory.h"

namespace {

using tellarium::bench::CpuMilliseconds;
using tellarium::bench::Percentile;
using tellarium::testing::Caller;
using Clock = std::chrono::steady_clock;
using Clients = std::vector<std::unique_ptr<Caller>>;
using namespace std::chrono_literals;

constexpr int kClients = 31;
constexpr int kRoundsEach = 5;
constexpr int kRelayLines = 300;
constexpr auto kLineGap = 20ms;
constexpr auto kIdle = 10s;
constexpr auto kQuiet = 500ms;         // no data for this long: everything sent has arrived
constexpr auto kSettle = 500ms;        // after a server starts listening, before the logins are timed
constexpr auto kListenLimit = 30s;     // for a server to start listening
constexpr auto kArrivalLimit = 10s;    // after the last line was sent
constexpr std::size_t kSender = 0;     // the client that sends; the others receive
constexpr char kChannel[] = "#relay";  // the IRC channel
constexpr char kSetupScript[] = "bench/server/relay_bench_setup.sh";

double MillisecondsSince(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// Whole milliseconds until `when`, rounded up so that a wait never spins.
std::chrono::milliseconds Until(Clock::time_point when) {
  return std::max(std::chrono::ceil<std::chrono::milliseconds>(when - Clock::now()), 0ms);
}

// The text of relayed line `number`: unique, and it ends every line that
// carries it on both servers.
std::string RelayText(int number) { return "seq" + std::to_string(number) + "z"; }

// The number of the relayed line that `line` ends with, or -1.
int RelayNumber(const std::string& line) {
  const std::size_t at = line.rfind("seq");
  if (at == std::string::npos || line.size() < at + 5 || line.back() != 'z') return -1;
  const std::string digits = line.substr(at + 3, line.size() - at - 4);
  if (digits.find_first_not_of("0123456789") != std::string::npos) return -1;
  return std::stoi(digits);
}

// Sends `typed` and reads up to `expected`; false (and says so) when it never came.
bool Step(Caller& client, const std::string& typed, const std::string& expected) {
  if (!client.Send(typed) || client.ReadUntil(expected).empty()) {
    std::fprintf(stderr, "no \"%s\" after \"%s\"\n", expected.c_str(), typed.c_str());
    return false;
  }
  return true;
}

// A chat server under test: a program running in its own scratch directory.
class ChatServer {
 public:
  virtual ~ChatServer() = default;
  // Connects client `number` (1 to kClients) and brings it onto the channel;
  // null when that failed.
  virtual std::unique_ptr<Caller> Join(int number) = 0;
  // What a client on the channel sends to say `text` there.
  virtual std::string Say(const std::string& text) const = 0;

  // False (and says why) when the server does not listen on its port in time.
  bool WaitUntilListening() const {
    const auto deadline = Clock::now() + kListenLimit;
    while (tellarium::testing::CanBind(listeningPort_)) {
      if (Clock::now() > deadline) {
        std::fprintf(stderr, "nothing listens on port %d; its standard error:\n%s\n", listeningPort_,
                     tellarium::testing::ReadFile(directory_.path() / "stderr.txt").c_str());
        return false;
      }
      std::this_thread::sleep_for(10ms);
    }
    return true;
  }
  pid_t pid() const { return process_->pid(); }
  double ResidentMb() const { return static_cast<double>(process_->ResidentKb()) / 1024.0; }

 protected:
  // A client connection that sends each write at once: Nagle's algorithm would
  // hold a line until the previous one was acknowledged, and a server that
  // answers the sender nothing is acknowledged only by the delayed ACK.
  std::unique_ptr<Caller> Connect() const {
    auto client = std::make_unique<Caller>(listeningPort_);
    const int on = 1;
    ::setsockopt(client->fd(), IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    return client;
  }
  void Start(const std::filesystem::path& program, int port) {
    listeningPort_ = port;
    process_ = std::make_unique<tellarium::testing::Station>(program.string(), directory_.path().string());
  }
  const std::filesystem::path& directory() const { return directory_.path(); }
  void EnterDirectory() const { directory_.Enter(); }

 private:
  tellarium::testing::ScratchDirectory directory_;
  std::unique_ptr<tellarium::testing::Station> process_;
  int listeningPort_ = -1;
};

// The station: every guest lands on channel 1.
class StationServer : public ChatServer {
 public:
  StationServer() {
    EnterDirectory();  // the station's start files are written where it runs
    WriteStationConfigQuietly();
    Start(TELLARIUM_BINARY, ports_.main);
  }

  // A guest: ENTER alone at the login prompt; in once its own login is announced.
  std::unique_ptr<Caller> Join(int line) override {
    auto client = Connect();
    const bool in = Step(*client, "", tellarium::testing::kPressEnter) && Step(*client, "\r\n", "-->") &&
                    Step(*client, "\r", "#" + std::to_string(line) + "(C1]:?) \r\n");
    return in ? std::move(client) : nullptr;
  }
  std::string Say(const std::string& text) const override { return text + "\r"; }

 private:
  // The writer reports its progress on standard output, which is kept for
  // the benchmark's own.
  void WriteStationConfigQuietly() const {
    std::fflush(stdout);
    const int kept = ::dup(STDOUT_FILENO);
    const int discard = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
    ::dup2(discard, STDOUT_FILENO);
    ::close(discard);
    tellarium::testing::WriteStationConfig(ports_, kClients);
    ::dup2(kept, STDOUT_FILENO);
    ::close(kept);
  }

  tellarium::testing::StationPorts ports_;
};

// ngircd on loopback, with every limit that would throttle 31 local clients
// turned off.
class IrcServer : public ChatServer {
 public:
  explicit IrcServer(const std::string& program) : port_(tellarium::testing::FreePort()) {
    // Its own (empty) include directory keeps the system's snippets out.
    std::filesystem::create_directory(directory() / "conf.d");
    tellarium::testing::WriteFile(directory() / "ngircd.conf", Config());
    // The process runner starts programs without arguments: a script execs
    // ngircd in the foreground, so the process stays the one measured.
    const auto script = directory() / "run-ngircd";
    tellarium::testing::WriteFile(
        script, "#!/bin/sh\nexec " + program + " -n -f " + (directory() / "ngircd.conf").string() + "\n");
    ::chmod(script.c_str(), 0755);
    Start(script, port_);
  }

  // NICK and USER, then in once the end of the MOTD (the phrase makes it 376
  // rather than 422) and the channel's name list have come.
  std::unique_ptr<Caller> Join(int number) override {
    const std::string nick = "g" + std::to_string(number);
    auto client = Connect();
    const bool in =
        Step(*client, "NICK " + nick + "\r\nUSER " + nick + " 0 * :" + nick + "\r\n", " 376 " + nick + " ") &&
        Step(*client, std::string("JOIN ") + kChannel + "\r\n", " 366 " + nick + " " + kChannel + " ");
    return in ? std::move(client) : nullptr;
  }
  std::string Say(const std::string& text) const override {
    return std::string("PRIVMSG ") + kChannel + " :" + text + "\r\n";
  }

 private:
  std::string Config() const {
    const std::string global =
        "[Global]\nName = relay.bench\nInfo = relay benchmark\n"
        "AdminInfo1 = relay benchmark\nAdminInfo2 = loopback\nAdminEMail = bench@relay.bench\n"
        "Listen = 127.0.0.1\nMotdPhrase = relay benchmark\nPorts = ";
    const std::string limits = "[Limits]\nMaxConnections = 0\nMaxConnectionsIP = 0\nMaxJoins = 0\nMaxPenaltyTime = 0\n";
    const std::string options = "[Options]\nDNS = no\nIdent = no\nPAM = no\nIncludeDir = ";
    return global + std::to_string(port_) + "\n" + limits + options + (directory() / "conf.d").string() + "\n";
  }

  int port_;
};

// Every client's connection, read together; each complete line that carries
// a relayed text is handed on as (client index, line number).
class RelayTap {
 public:
  explicit RelayTap(const Clients& clients) : lines_(clients) {}

  // Waits up to `timeout` for data and reads every connection that has some.
  // Returns the number of connections read, or -1 once one closed.
  template <typename Seen>
  int Poll(std::chrono::milliseconds timeout, Seen&& seen) {
    return lines_.Poll(static_cast<int>(timeout.count()), [&](std::size_t client, const std::string& line) {
      const int number = RelayNumber(line);
      if (number >= 0) seen(client, number);
    });
  }

  // Reads until nothing has come for kQuiet; false once a connection closed.
  bool DrainUntilQuiet() {
    for (int read; (read = Poll(kQuiet, [](std::size_t, int) {})) != 0;) {
      if (read < 0) return false;
    }
    return true;
  }

  // Reads whatever comes for `span`; false once a connection closed.
  bool ReadFor(std::chrono::milliseconds span) {
    const auto end = Clock::now() + span;
    while (Clock::now() < end) {
      if (Poll(Until(end), [](std::size_t, int) {}) < 0) return false;
    }
    return true;
  }

 private:
  tellarium::bench::LineTap lines_;
};

struct Relay {
  std::vector<double> latenciesMs;  // per line, until the last receiver had it
  double cpuMs = 0;
};

// The sender sends kRelayLines lines kLineGap apart while every connection is
// read; empty when a line did not reach every receiver in time.
std::optional<Relay> RelayLines(const ChatServer& server, const Clients& clients, RelayTap& tap) {
  const int receivers = static_cast<int>(clients.size()) - 1;
  std::vector<Clock::time_point> sent(kRelayLines);
  std::vector<int> missing(kRelayLines, receivers);
  std::vector<std::vector<bool>> got(clients.size(), std::vector<bool>(kRelayLines, false));
  Relay relay{std::vector<double>(kRelayLines, 0), 0};
  long deliveriesLeft = static_cast<long>(kRelayLines) * receivers;
  const auto record = [&](std::size_t client, int number) {
    if (client == kSender || number >= kRelayLines || got[client][number]) return;
    got[client][number] = true;
    --deliveriesLeft;
    if (--missing[number] == 0) {
      relay.latenciesMs[number] = std::chrono::duration<double, std::milli>(Clock::now() - sent[number]).count();
    }
  };

  const double cpuBefore = CpuMilliseconds(server.pid());
  const auto start = Clock::now();
  for (int number = 0; number < kRelayLines; ++number) {
    const auto due = start + kLineGap * number;
    while (Clock::now() < due) {
      if (tap.Poll(Until(due), record) < 0) return std::nullopt;
    }
    sent[number] = Clock::now();
    if (!clients[kSender]->Send(server.Say(RelayText(number)))) return std::nullopt;
  }
  const auto deadline = Clock::now() + kArrivalLimit;
  while (deliveriesLeft > 0 && Clock::now() < deadline) {
    if (tap.Poll(Until(deadline), record) < 0) return std::nullopt;
  }
  relay.cpuMs = CpuMilliseconds(server.pid()) - cpuBefore;
  if (deliveriesLeft > 0) {
    std::fprintf(stderr, "%ld deliveries of %d lines to %d receivers never came\n", deliveriesLeft, kRelayLines,
                 receivers);
    return std::nullopt;
  }
  return relay;
}

// What one round measured on one server.
struct Round {
  double relayP50Ms;
  double relayP99Ms;
  double slowestMs;
  double cpuPer1000LinesMs;
  double idleCpuMs;
  double residentMb;
  double loginsMs;
};

std::optional<Round> RunRound(ChatServer& server) {
  if (!server.WaitUntilListening()) return std::nullopt;
  std::this_thread::sleep_for(kSettle);

  Clients clients;
  const auto loginStart = Clock::now();
  for (int number = 1; number <= kClients; ++number) {
    clients.push_back(server.Join(number));
    if (!clients.back()) {
      std::fprintf(stderr, "client %d did not get onto the channel\n", number);
      return std::nullopt;
    }
  }
  const double loginsMs = MillisecondsSince(loginStart);

  RelayTap tap(clients);
  if (!tap.DrainUntilQuiet()) return std::nullopt;
  const std::optional<Relay> relay = RelayLines(server, clients, tap);
  if (!relay || !tap.DrainUntilQuiet()) return std::nullopt;

  const double idleCpuBefore = CpuMilliseconds(server.pid());
  if (!tap.ReadFor(kIdle)) return std::nullopt;
  const double idleCpuMs = CpuMilliseconds(server.pid()) - idleCpuBefore;

  const std::vector<double>& latencies = relay->latenciesMs;
  return Round{Percentile(latencies, 0.50),
               Percentile(latencies, 0.99),
               *std::max_element(latencies.begin(), latencies.end()),
               relay->cpuMs * 1000.0 / kRelayLines,
               idleCpuMs,
               server.ResidentMb(),
               loginsMs};
}

// ngircd's path, searched on PATH and in the system directories; "" when missing.
std::string FindNgircd() {
  std::string directories = std::getenv("PATH") ? std::getenv("PATH") : "";
  directories += ":/usr/sbin:/usr/local/sbin";
  for (std::size_t start = 0; start <= directories.size();) {
    std::size_t end = directories.find(':', start);
    if (end == std::string::npos) end = directories.size();
    const std::filesystem::path candidate = std::filesystem::path(directories.substr(start, end - start)) / "ngircd";
    if (end > start && ::access(candidate.c_str(), X_OK) == 0) return candidate.string();
    start = end + 1;
  }
  return "";
}

// The first line `command` prints, without its line end.
std::string FirstLineOf(const std::string& command) {
  std::string line;
  if (FILE* out = ::popen(command.c_str(), "r")) {
    char buffer[256];
    if (std::fgets(buffer, sizeof buffer, out)) line = buffer;
    ::pclose(out);
  }
  return line.substr(0, line.find('\n'));
}

struct Figure {
  const char* label;
  double Round::*value;
  int decimals;
};

constexpr Figure kFigures[] = {
    {"relay p50 (ms)", &Round::relayP50Ms, 3},
    {"relay p99 (ms)", &Round::relayP99Ms, 3},
    {"slowest line (ms)", &Round::slowestMs, 3},
    {"CPU per 1000 relayed lines (ms)", &Round::cpuPer1000LinesMs, 1},
    {"CPU over 10 s idle (ms)", &Round::idleCpuMs, 3},
    {"resident memory (MB)", &Round::residentMb, 1},
    {"31 guest logins one after another (ms)", &Round::loginsMs, 1},
};

std::vector<double> Values(const std::vector<Round>& rounds, const Figure& figure) {
  std::vector<double> values;
  for (const Round& round : rounds) values.push_back(round.*figure.value);
  return values;
}

// "median (min-max)" of one figure over the rounds.
std::string Spread(const std::vector<double>& values, int decimals) {
  char text[96];
  const auto [low, high] = std::minmax_element(values.begin(), values.end());
  std::snprintf(text, sizeof text, "%.*f (%.*f-%.*f)", decimals, Percentile(values, 0.5), decimals, *low, decimals,
                *high);
  return text;
}

void PrintTable(const std::vector<Round>& station, const std::vector<Round>& irc) {
  std::printf("\n%-40s %-26s %-26s %s\n", "median (min-max) over the rounds", "station", "ngircd", "station/ngircd");
  for (const Figure& figure : kFigures) {
    const std::vector<double> ours = Values(station, figure);
    const std::vector<double> theirs = Values(irc, figure);
    const double reference = Percentile(theirs, 0.5);
    char ratio[32] = "-";  // no ratio to a median of zero
    if (reference > 0) std::snprintf(ratio, sizeof ratio, "%.2f", Percentile(ours, 0.5) / reference);
    std::printf("%-40s %-26s %-26s %s\n", figure.label, Spread(ours, figure.decimals).c_str(),
                Spread(theirs, figure.decimals).c_str(), ratio);
  }
}

}  // namespace

int main() {
  const std::string ngircd = FindNgircd();
  if (ngircd.empty()) {
    std::fprintf(stderr, "ngircd is not installed; install it with %s (or apt-get install -y ngircd) and run again\n",
                 kSetupScript);
    return 3;
  }
  double loadAverage = 0;
  ::getloadavg(&loadAverage, 1);
  std::printf("machine: %ld processors online, load average %.2f before the run\n", ::sysconf(_SC_NPROCESSORS_ONLN),
              loadAverage);
  std::printf("ngircd: %s\n", FirstLineOf(ngircd + " --version").c_str());
  std::printf(
      "workload: %d clients log in one after another onto one channel; one sends %d lines %lld ms apart "
      "to the other %d (the station also echoes each to its sender); then %lld s idle\n",
      kClients, kRelayLines, static_cast<long long>(kLineGap.count()), kClients - 1,
      static_cast<long long>(std::chrono::seconds(kIdle).count()));
  std::printf("rounds: %d on each server, alternating, each on a fresh process\n", kRoundsEach);

  std::vector<Round> station, irc;
  for (int round = 1; round <= kRoundsEach; ++round) {
    for (const bool ours : {true, false}) {
      std::unique_ptr<ChatServer> server;
      if (ours) {
        server = std::make_unique<StationServer>();
      } else {
        server = std::make_unique<IrcServer>(ngircd);
      }
      const std::optional<Round> result = RunRound(*server);
      const char* name = ours ? "station" : "ngircd";
      if (!result) {
        std::fprintf(stderr, "round %d on %s failed\n", round, name);
        return 1;
      }
      std::printf("round %d %-8s relay p50 %.3f ms, p99 %.3f ms, slowest %.3f ms; logins %.1f ms\n", round, name,
                  result->relayP50Ms, result->relayP99Ms, result->slowestMs, result->loginsMs);
      std::fflush(stdout);
      (ours ? station : irc).push_back(*result);
    }
  }
  PrintTable(station, irc);
  return 0;
}
