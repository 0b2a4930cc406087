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

}  // namespace

void Server::Startup() {
  debugMode = false;
  const ErrorTrap trap = Trap("Startup");
  trap([&] { SetStationIdentity(); });
  EnableTimer(SessionTimer::OnlineTimer, false);
  EnableTimer(SessionTimer::TimeoutTimer, false);
  lineBreak = "\r\n";
  SetTitleAndPrefix();
  EnsureSysOpAccount(trap);
  LoadOrCreateConfiguration(trap);
  CapMaxLines();
  EnsureMessageSlots(trap);
  ShowProgress("Loading data files.");
  LoadFiles();
  LoadSystemLog(trap);
  LoadLastCallers(trap);
  BuildAccountIndex(trap);
  ResetLines();
  OpenListeners();
  EnableTimer(SessionTimer::OnlineTimer, true);
  EnableTimer(SessionTimer::SysTimer, true);
  SysScreen();
  StartBlogTimer();
  RememberStartDay();
  Main1();
}

// Installs the error handler of the running server; everything after start-up
// runs on events.
void Server::Main1() {}

// The station's number and name come from the title in config.qvs: a title
// ending in " QVS-" and two digits names the station and its number; any other
// title is the name of station "00".
void Server::SetStationIdentity() {
  SetVersion();
  stationName = "Tellarium";
  if (!FileExists(kConfigFile.name)) return;
  ServerConfig stored;
  GetRecord<StationRecord>(kConfigFile, kStationRecordNumber, stored);
  const std::string title = stored.stationTitle.Trimmed();
  const std::size_t markAt = title.size() >= 7 ? title.size() - 7 : std::string::npos;
  if (markAt != std::string::npos && title.compare(markAt, kNetworkIdMark.size(), kNetworkIdMark) == 0 &&
      IsDigit(title[title.size() - 2]) && IsDigit(title[title.size() - 1])) {
    stationName = title.substr(0, markAt);
    stationNumber = title.substr(title.size() - 2);
  } else {
    stationName = title;
  }
}

void Server::SetTitleAndPrefix() {
  const std::string title = "Tellarium Server " + serverVersion;
  platform::console::SetTitle(title);
  platform::console::SetTitle(title + " (" + stationName + " QVS-" + stationNumber + ")");
  stationPrefix = "-=> QVS-" + stationNumber + ": ";
}

void Server::EnsureSysOpAccount(const ErrorTrap& trap) {
  if (FileExists("user000.qvs")) return;
  ShowProgress("Writing default SysOp account...");
  trap([&] { WriteDefaultSysOpAccount(); });
}

void Server::CapMaxLines() {
  if (config.maxLines > kMaxMainLines) config.maxLines = kMaxMainLines;
}

void Server::EnsureMessageSlots(const ErrorTrap& trap) {
  ShowProgress("Configuring MSlots...");
  if (FileExists(kSlotFile.name)) return;
  ShowProgress("Creating MSlots...");
  CreateSlotFile(trap);
}

void Server::BuildAccountIndex(const ErrorTrap& trap) {
  ShowProgress("Initializing Accounts...");
  AccountCounter counter;
  for (int16_t acc = 0; acc < kAccountCount; ++acc) {
    platform::Pump();
    counter.Show(afix(acc));
    trap([&] { IndexAccount(acc); });
  }
  counter.Finish(lineBreak);
}

void Server::ResetLines() {
  for (int line = 0; line <= config.maxLines; ++line) {
    lines[static_cast<std::size_t>(line)].status = kOffline;
    lines[static_cast<std::size_t>(line)].clientVersion = "V0.00";
  }
  currentLine = static_cast<int16_t>(config.maxLines + 1);
}

}  // namespace tellarium
