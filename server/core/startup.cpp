// Start-up: every table is prepared from the data files in the working
// directory, and missing files are created with their defaults.
#include <string>

#include "platform/console.h"
#include "platform/loop.h"
#include "server/core/record_layouts.h"
#include "server/core/server.h"

namespace tellarium {
namespace {

constexpr std::string_view kNetworkIdMark = " QVS-";

// The account counter of the console. On a terminal it counts in place; a
// log or pipe gets only its final value, so the line reads " Account # 999".
class AccountCounter {
 public:
  AccountCounter() : inPlace_(platform::console::IsTerminal()) {
    if (inPlace_) platform::console::Write(" Account # N/A");
  }
  void Show(const std::string& account) {
    last_ = account;
    if (inPlace_) platform::console::Write("\b\b\b" + account);
  }
  void Finish(const std::string& lineBreak) {
    platform::console::Write(inPlace_ ? lineBreak : " Account # " + last_ + lineBreak);
  }

 private:
  bool inPlace_;
  std::string last_ = "N/A";
};

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// The station's number and name come from the title in config.qvs: a title
// ending in " QVS-" and two digits names the station and its number; any other
// title is the name of station "00".
void SetStationIdentity(Server& server) {
  server.SetVersion();
  server.stationName = "Tellarium";
  if (!FileExists(kConfigFile.name)) return;
  ServerConfig stored;
  GetRecord<StationRecord>(kConfigFile, kStationRecordNumber, stored);
  const std::string title = stored.stationTitle.Trimmed();
  const std::size_t markAt = title.size() >= 7 ? title.size() - 7 : std::string::npos;
  if (markAt != std::string::npos && title.compare(markAt, kNetworkIdMark.size(), kNetworkIdMark) == 0 &&
      IsDigit(title[title.size() - 2]) && IsDigit(title[title.size() - 1])) {
    server.stationName = title.substr(0, markAt);
    server.stationNumber = title.substr(title.size() - 2);
  } else {
    server.stationName = title;
  }
}

void SetTitleAndPrefix(Server& server) {
  const std::string title = "Tellarium Server " + server.serverVersion;
  platform::console::SetTitle(title);
  platform::console::SetTitle(title + " (" + server.stationName + " QVS-" + server.stationNumber + ")");
  server.stationPrefix = "-=> QVS-" + server.stationNumber + ": ";
}

void EnsureSysOpAccount(Server& server, const ErrorTrap& trap) {
  if (FileExists("user000.qvs")) return;
  server.ShowProgress("Writing default SysOp account...");
  trap([&] { server.WriteDefaultSysOpAccount(); });
}

void EnsureMessageSlots(Server& server, const ErrorTrap& trap) {
  server.ShowProgress("Configuring MSlots...");
  if (FileExists(kSlotFile.name)) return;
  server.ShowProgress("Creating MSlots...");
  server.CreateSlotFile(trap);
}

// A line of limits.conf that cannot be read is named in error.log.
void LoadLimits(Server& server, const ErrorTrap& trap) {
  std::vector<std::string> unread;
  trap([&] { server.limits = ReadLimits(unread); });
  for (const std::string& line : unread) {
    trap([&] { AppendToErrorLog(std::string(kLimitsFile) + " " + line + "\r\nIts default is kept.\r\n"); });
  }
}

void BuildAccountIndex(Server& server, const ErrorTrap& trap) {
  server.ShowProgress("Initializing Accounts...");
  AccountCounter counter;
  for (int16_t acc = 0; acc < kAccountCount; ++acc) {
    platform::Pump();
    counter.Show(Server::afix(acc));
    trap([&] { server.IndexAccount(acc); });
  }
  counter.Finish(server.lineBreak);
}

void ResetLines(Server& server) {
  for (int line = 0; line <= server.config.maxLines; ++line) {
    server.lines[static_cast<std::size_t>(line)].status = kOffline;
    server.lines[static_cast<std::size_t>(line)].clientVersion = "V0.00";
  }
  server.currentLine = static_cast<int16_t>(server.config.maxLines + 1);
}

}  // namespace

void Server::Startup() {
  debugMode = false;
  const ErrorTrap trap = Trap("Startup");
  trap([&] { SetStationIdentity(*this); });
  EnableTimer(SessionTimer::OnlineTimer, false);
  EnableTimer(SessionTimer::TimeoutTimer, false);
  lineBreak = "\r\n";
  SetTitleAndPrefix(*this);
  EnsureSysOpAccount(*this, trap);
  LoadOrCreateConfiguration(trap);
  LoadLimits(*this, trap);
  CapMaxLines();
  EnsureMessageSlots(*this, trap);
  ShowProgress("Loading data files.");
  LoadFiles();
  LoadSystemLog(trap);
  LoadLastCallers(trap);
  BuildAccountIndex(*this, trap);
  ResetLines(*this);
  OpenListeners();
  // No timer merely lets queued events run: the loop runs them in the round
  // they are queued in. Held output is released when it is held.
  EnableTimer(SessionTimer::OnlineTimer, true);
  SysScreen();
  RememberStartDay();
  Main1();
}

void Server::CreateMissingDataFiles(const ErrorTrap& trap) {
  SetStationIdentity(*this);
  lineBreak = "\r\n";
  EnsureSysOpAccount(*this, trap);
  if (!FileExists(kConfigFile.name)) LoadOrCreateConfiguration(trap);
  EnsureMessageSlots(*this, trap);
}

// Start-up's last step. Nothing is left to install: every event the station
// handles from here on (accepts, connects, option commands, receives, timer
// ticks, console keys) runs inside a trap of its own.
void Server::Main1() {}

void Server::CapMaxLines() {
  if (config.maxLines > kMaxMainLines) config.maxLines = kMaxMainLines;
}

}  // namespace tellarium
