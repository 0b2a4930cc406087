#include "scenario/scenario.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <csignal>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <string_view>
#include <thread>

#include "scenario/expected_bytes.h"
#include "support/caller.h"
#include "support/scratch_directory.h"
#include "support/station_test.h"
#include "support/station_client.h"

namespace tellarium::scenario {
namespace {

using namespace std::chrono_literals;

constexpr auto kReadLimit = 10s;
constexpr auto kQuietSpell = 300ms;

std::string Trimmed(std::string text) {
  text.erase(text.find_last_not_of(" \t\r") + 1);
  return text.erase(0, text.find_first_not_of(" \t"));
}

// The brace closing the one at `open`, braces inside counted; npos when none.
std::size_t MatchingBrace(const std::string& text, std::size_t open) {
  int depth = 0;
  for (std::size_t at = open; at < text.size(); ++at) {
    if (at > 0 && text[at - 1] == '\\') continue;
    if (text[at] == '{') ++depth;
    if (text[at] == '}' && --depth == 0) return at;
  }
  return std::string::npos;
}

// Puts defined names in (an argument may hold braces); braces that name
// nothing are left for the matcher.
std::string Expand(const std::string& text, const std::map<std::string, std::string>& defines) {
  std::string out = text;
  for (int round = 0; round < 8; ++round) {
    bool changed = false;
    for (std::size_t at = out.find('{'); at != std::string::npos; at = out.find('{', at + 1)) {
      if (at > 0 && out[at - 1] == '\\') continue;
      const std::size_t close = MatchingBrace(out, at);
      if (close == std::string::npos) break;
      const auto [name, argument] = FirstWord(out.substr(at + 1, close - at - 1));
      const auto defined = defines.find(name);
      if (defined == defines.end()) continue;
      std::string value = defined->second;
      for (std::size_t mark; (mark = value.find("{$}")) != std::string::npos;) value.replace(mark, 3, argument);
      out.replace(at, close - at + 1, value);
      changed = true;
    }
    if (!changed) break;
  }
  return out;
}

// Sent as the main port of the second station, chosen when the scenario runs.
constexpr std::string_view kPeerPortName = "{PEERPORT}";

// "clock stopped": the station's clock stands still, so no timer of its comes due.
constexpr std::string_view kStoppedClock = "stopped";

// Steps that begin with this run against the second station.
constexpr std::string_view kPeer = "peer ";

// "A > bytes -> answer": the answer read next; after "...", skipped to.
constexpr std::string_view kAnswerMark = " -> ";
constexpr std::string_view kSkipMark = "...";

// The station's standard output, read by steps of the caller "console".
constexpr std::string_view kConsole = "console";

const std::map<std::string, int> kSignals = {{"USR1", SIGUSR1}, {"INT", SIGINT}, {"HUP", SIGHUP}, {"TERM", SIGTERM}};

// Callers are named by one capital letter; other first words are the station's steps.
bool IsCaller(const std::string& word) { return word == kConsole || (word.size() == 1 && std::isupper(word[0])); }

// "A prompted 3": a caller greeted on line 3 (0: line #0) and at the password
// prompt. "A guest 3" and "A member 3 001secret" log in from there and read up
// to their own login announcement; "A link 3 010secret" logs in a link
// account, read up to its own announcement in the links' form.
void AddLogin(const std::string& verb, const std::string& argument,
              const std::function<void(const std::string&, const std::string&)>& add) {
  const auto [line, typed] = FirstWord(argument);
  add("calls", line == "0" ? "line0" : "main");
  add("<", "{GREETING " + line + "}");
  add(">", "\\r\\n");
  add("<", "{PROMPT}");
  if (verb == "prompted") return;
  add(">", typed + "\\r");
  add("to", (verb == "link" ? "Login^#" : "\\aLogin\\r\\n #") + line);
  add("to", "\\r\\n");
}

void LoadFile(const std::filesystem::path& path, std::map<std::string, std::string>& defines,
              std::vector<Scenario>& scenarios) {
  std::ifstream in(path);
  std::string raw;
  for (int number = 1; std::getline(in, raw); ++number) {
    std::string text = Trimmed(raw);
    if (text.empty() || text[0] == '#') continue;
    const bool peer = text.starts_with(kPeer);
    if (peer) text.erase(0, kPeer.size());
    auto [word, rest] = FirstWord(text);
    if (word == "define") {
      const std::size_t equals = rest.find(" = ");
      defines[rest.substr(0, equals)] = equals == std::string::npos ? "" : rest.substr(equals + 3);
    } else if (word == "scenario") {
      scenarios.push_back({path.filename().string(), number, rest, {}});
    } else if (scenarios.empty() || scenarios.back().file != path.filename().string()) {
      throw std::invalid_argument(path.string() + ":" + std::to_string(number) + ": a step outside a scenario");
    } else if (!IsCaller(word.substr(0, word.find(',')))) {
      scenarios.back().steps.push_back({number, "", word, Expand(rest, defines), peer});
    } else {
      std::istringstream actors(word);  // "M,G skips to ...": the same steps for each
      for (std::string actor; std::getline(actors, actor, ',');) {
        auto [verb, argument] = FirstWord(rest);
        if (verb == "skips" || verb == "hangs") std::tie(verb, argument) = FirstWord(argument);
        const auto add = [&](const std::string& v, const std::string& a) {
          scenarios.back().steps.push_back({number, actor, v, Expand(a, defines), peer});
        };
        if (verb == "prompted" || verb == "guest" || verb == "member" || verb == "link") {
          AddLogin(verb, argument, add);
        } else if (verb == ">" || verb == "asks") {
          const std::size_t arrow = argument.find(kAnswerMark);
          add(">", argument.substr(0, arrow) + (verb == "asks" ? "\\r" : ""));
          if (arrow == std::string::npos) continue;
          const std::string answer = argument.substr(arrow + kAnswerMark.size());
          const bool skipping = answer.starts_with(kSkipMark);
          add(skipping ? "to" : "<", answer.substr(skipping ? kSkipMark.size() : 0));
        } else {
          add(verb, argument);
        }
      }
    }
  }
}

// What a scenario runs against: the station's directory and process, and
// its callers by name.
class ScenarioRun {
 public:
  ScenarioRun(const Scenario& scenario, std::string binary) : scenario_(scenario), binary_(std::move(binary)) {}

  // The other station, whose main port sends may name.
  void Meet(const ScenarioRun& other) { peerPort_ = other.ports_.main; }

  // Why the scenario cannot run here, if it cannot.
  const std::string& skipped() const { return skipped_; }

  // False once a step has failed or the scenario was skipped: the rest is not run.
  bool Do(const Step& step) {
    scratch_.Enter();
    try {
      if (!step.actor.empty()) return CallerStep(step);
      return StationStep(step);
    } catch (const std::exception& error) {
      return Fail(step, error.what());
    }
  }

 private:
  bool Fail(const Step& step, const std::string& what) {
    ADD_FAILURE_AT(scenario_.file.c_str(), step.line)
        << "scenario \"" << scenario_.title << "\", step " << (step.actor.empty() ? "" : step.actor + " ")
        << step.verb << " " << step.argument << "\n"
        << what;
    return false;
  }

  bool StationStep(const Step& step) {
    const std::string& a = step.argument;
    if (step.verb == "lines") {
      maxLines_ = std::stoi(a);
    } else if (step.verb == "member") {
      setup_.push_back([a] { SeedMember(a); });
    } else if (step.verb == "packet") {
      const std::string packet = ExpectedBytes(a).Bytes();
      setup_.push_back([packet] {
        Server writer;
        writer.Startup();
        writer.cfgparse(packet);
      });
    } else if (step.verb == "write") {
      const std::size_t equals = a.find(" = ");
      const auto [name, at] = FirstWord(a.substr(0, equals));
      const std::string bytes = ExpectedBytes(a.substr(equals + 3)).Bytes();
      auto write = [name, at, bytes] { WriteAt(name, at.empty() ? std::string::npos : std::stoul(at.substr(1)), bytes); };
      station_ ? write() : setup_.push_back(write);
    } else if (step.verb == "env") {
      environment_.push_back(a);
    } else if (step.verb == "clock") {
      speed_ = a == kStoppedClock ? 0 : std::stoi(a.substr(1));
    } else if (step.verb == "start") {
      return Start();
    } else if (step.verb == "wait") {
      std::this_thread::sleep_for(std::chrono::milliseconds(std::stoi(a) * 1000 / speed_));
    } else if (step.verb == "file") {
      return FileStep(step);
    } else if (step.verb == "log") {
      return LogStep(step);
    } else if (step.verb == "signal") {
      ::kill(station_->pid(), kSignals.at(a));
    } else if (step.verb == "exits") {
      const int status = station_->WaitForExit();
      if (status != std::stoi(a)) return Fail(step, "exit status " + std::to_string(status));
    } else if (step.verb == "errors") {
      const std::string expected = ExpectedBytes(a.size() > 1 ? a.substr(2) : "").Bytes();
      const std::string actual = testing::ReadFile("error.log");
      if (actual != expected) return Fail(step, "error.log holds: " + Escaped(actual));
    } else {
      return Fail(step, "unknown step");
    }
    return true;
  }

  // The whole file, or its bytes from an offset on ("user003.qvs @8192").
  static void WriteAt(const std::string& name, std::size_t offset, const std::string& bytes) {
    if (offset == std::string::npos) return testing::WriteFile(name, bytes);
    std::string content = testing::ReadFile(name);
    content.resize(std::max(content.size(), offset + bytes.size()), '\0');
    testing::WriteFile(name, content.replace(offset, bytes.size(), bytes));
  }

  // "001 Max secret level=1 flags=0,1 mail=2"; "004-021 M# pw" seeds each
  // account of the range, its number (without leading zeros) put for "#".
  static void SeedMember(const std::string& text) {
    std::istringstream words(text);
    std::string numbers, handle, password, option;
    words >> numbers >> handle >> password;
    int16_t level = 1;
    int32_t mail = 0;
    std::vector<int> flags = {kFlagInUse, kFlagChatUser};
    while (words >> option) {
      const auto [key, value] = FirstWord(option.replace(option.find('='), 1, " "));
      if (key == "level") level = static_cast<int16_t>(std::stoi(value));
      if (key == "mail") mail = std::stoi(value);
      if (key == "flags") {
        flags.clear();
        std::istringstream list(value);
        for (std::string flag; std::getline(list, flag, ',');) flags.push_back(std::stoi(flag));
      }
    }
    Server writer;
    writer.Startup();
    const int first = std::stoi(numbers), last = std::stoi(numbers.substr(numbers.find('-') + 1));
    for (int account = first; account <= last; ++account) {
      std::string named = handle;
      if (const std::size_t mark = named.find('#'); mark != std::string::npos) named.replace(mark, 1, std::to_string(account));
      testing::SeedMember(writer, static_cast<int16_t>(account), named, password, level, flags, mail);
    }
  }

  bool Start() {
    testing::WriteStationConfig(ports_, maxLines_);
    for (const auto& action : setup_) action();
    if (speed_ != 1 && !SpeedUpClock()) return false;
    for (const std::string& variable : environment_) {
      const std::size_t equals = variable.find('=');
      ::setenv(variable.substr(0, equals).c_str(), variable.substr(equals + 1).c_str(), 1);
    }
    const bool console = std::any_of(scenario_.steps.begin(), scenario_.steps.end(),
                                     [](const Step& step) { return step.actor == kConsole; });
    station_ = std::make_unique<testing::Station>(
        binary_, scratch_.path().string(), console ? testing::Station::Output::kPipe : testing::Station::Output::kDropped);
    for (const std::string& variable : environment_) ::unsetenv(variable.substr(0, variable.find('=')).c_str());
    return true;
  }

  // The station itself is preloaded (no wrapper process in between), so
  // ending the Station ends the station.
  bool SpeedUpClock() {
#ifdef TELLARIUM_SANITIZED
    skipped_ = "a sped-up clock and the sanitizers do not mix";
    return false;
#endif
    for (const auto& entry : std::filesystem::directory_iterator("/usr/lib")) {
      const auto library = entry.path() / "faketime/libfaketime.so.1";
      if (!std::filesystem::exists(library)) continue;
      environment_.push_back(speed_ == 0 ? "FAKETIME=2026-12-06 12:00:00" : "FAKETIME=+0 x" + std::to_string(speed_));
      environment_.push_back("LD_PRELOAD=" + library.string());
      return true;
    }
    skipped_ = "libfaketime is not installed";
    return false;
  }

  bool CallerStep(const Step& step) {
    if (step.verb == "calls") {
      const int port = step.argument == "line0" ? ports_.line0 : ports_.main;
      callers_[step.actor] = testing::CallWhenListening(port);
      return callers_[step.actor]->connected() || Fail(step, "no connection");
    }
    const auto found = callers_.find(step.actor);
    if (step.actor != kConsole && found == callers_.end()) return Fail(step, "no caller " + step.actor);
    testing::Incoming& in = step.actor == kConsole ? station_->output() : *found->second;
    if (step.verb == "<" || step.verb == "to") return Read(step, in, step.argument, step.verb == "to");
    if (step.verb == "quiet") {
      const std::string arrived = in.ReadFor(kQuietSpell);
      return arrived.empty() || Fail(step, "received: " + Escaped(arrived));
    }
    if (step.verb == "closed") {
      const bool closed = in.ReadToEnd(kReadLimit);
      const std::string rest = in.Rest();
      return (closed && rest.empty()) || Fail(step, "not closed; received: " + Escaped(rest));
    }
    testing::Caller& caller = *found->second;
    if (step.verb == ">") {
      std::string text = step.argument;
      const std::size_t port = text.find(kPeerPortName);
      if (port != std::string::npos) text.replace(port, kPeerPortName.size(), std::to_string(peerPort_));
      return caller.Send(ExpectedBytes(text).Bytes()) || Fail(step, "send failed");
    }
    if (step.verb == "up") {
      caller.Close();
      return true;
    }
    return Fail(step, "unknown step");
  }

  // Reads until the bytes match, failing at once when they no longer can.
  // A skipping read looks for the match at every position.
  bool Read(const Step& step, testing::Incoming& in, const std::string& text, bool skipping) {
    const ExpectedBytes expected(text);
    std::string& held = in.held();
    const testing::Deadline deadline = testing::After(kReadLimit);
    for (;;) {
      for (std::size_t from = 0; from <= (skipping ? held.size() : 0); ++from) {
        std::size_t length = 0;
        const auto outcome = expected.Match(held.substr(from), length);
        if (outcome == ExpectedBytes::Outcome::kMatched) {
          held.erase(0, from + length);
          return true;
        }
        if (outcome == ExpectedBytes::Outcome::kMismatch && !skipping) {
          return Fail(step, "expected: " + text + "\nreceived: " + Escaped(in.ReadFor(50ms)));
        }
      }
      if (!in.ReadMore(deadline)) {
        return Fail(step, std::string(in.closed() ? "closed" : "timed out") + "; received: " + Escaped(held));
      }
    }
  }

  // "user001.qvs @292 = {i16 4}" or "lastcalls.qvs size 610"
  bool FileStep(const Step& step) {
    const auto [name, rest] = FirstWord(step.argument);
    const std::string content = testing::ReadFile(name);
    if (rest.rfind("size ", 0) == 0) {
      const std::size_t size = std::stoul(rest.substr(5));
      return content.size() == size || Fail(step, "size " + std::to_string(content.size()));
    }
    const std::size_t equals = rest.find(" = ");
    const std::size_t offset = std::stoul(rest.substr(1, equals - 1));
    const ExpectedBytes expected(rest.substr(equals + 3));
    std::size_t length = 0;
    const std::string at = offset <= content.size() ? content.substr(offset) : "";
    if (expected.Match(at, length) == ExpectedBytes::Outcome::kMatched) return true;
    return Fail(step, "found: " + Escaped(at.substr(0, expected.Bytes().size() + 8)));
  }

  // Whole lines of the system log, one after another, from a line's start.
  bool LogStep(const Step& step) {
    const std::string& a = step.argument;
    const ExpectedBytes expected(a.ends_with("\\r\\n") ? a : a + "\\r\\n");
    const std::string log = testing::ReadFile("qvtalk.log");
    for (std::size_t at = 0; at < log.size(); at = log.find('\n', at) + 1) {
      std::size_t length = 0;
      if (expected.Match(log.substr(at), length) == ExpectedBytes::Outcome::kMatched) return true;
      if (log.find('\n', at) == std::string::npos) break;
    }
    return Fail(step, "qvtalk.log holds:\n" + Escaped(log));
  }

  const Scenario& scenario_;
  std::string binary_;
  int peerPort_ = 0;
  std::string skipped_;
  testing::ScratchDirectory scratch_;
  testing::StationPorts ports_;
  int maxLines_ = 7;
  int speed_ = 1;
  std::vector<std::string> environment_;
  std::vector<std::function<void()>> setup_;
  std::unique_ptr<testing::Station> station_;
  std::map<std::string, std::unique_ptr<testing::Caller>> callers_;
};

}  // namespace

std::vector<Scenario> LoadScenarios(const std::filesystem::path& directory) {
  std::vector<std::filesystem::path> files;
  for (const auto& entry : std::filesystem::directory_iterator(directory)) {
    if (entry.path().extension() == ".scn") files.push_back(entry.path());
  }
  std::sort(files.begin(), files.end());
  std::stable_partition(files.begin(), files.end(), [](const auto& file) { return file.filename() == "common.scn"; });
  std::map<std::string, std::string> defines;
  std::vector<Scenario> scenarios;
  for (const auto& file : files) LoadFile(file, defines, scenarios);
  return scenarios;
}

void Run(const Scenario& scenario, const std::string& binary) {
  ScenarioRun home(scenario, binary);
  ScenarioRun peer(scenario, binary);  // made second, so it ends first
  home.Meet(peer);
  for (const Step& step : scenario.steps) {
    if (!(step.peer ? peer : home).Do(step)) break;
  }
  for (const ScenarioRun* run : {&home, &peer}) {
    if (!run->skipped().empty()) GTEST_SKIP() << run->skipped();
  }
}

}  // namespace tellarium::scenario
