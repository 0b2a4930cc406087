// The system log: a rolling table of entries mirrored to qvtalk.log after
// every entry, and its loading at start.
#include <filesystem>
#include <algorithm>
#include <optional>

#include "platform/clock.h"
#include "server/core/dates.h"
#include "server/core/record_file.h"
#include "server/core/record_layouts.h"
#include "server/core/server.h"

namespace tellarium {
namespace {

// "12-06-2026 1:05 PM "
std::string LogStamp(Server& server) {
  const std::tm now = platform::LocalNow();
  return DateText(now) + " " + server.tme(TimeText(now).substr(0, 5)) + " ";
}

// "12-06-2026 1:05 PM Max:012 - text", or the text as it is for anal -1.
std::string SystemLogEntry(Server& server, int16_t anal, std::string_view a) {
  if (anal == -1) return std::string(a);
  std::string entry = LogStamp(server) + server.LogId(anal) + " - ";
  entry.append(a);
  return entry;
}

// The entry goes one past the counter. The log never holds more lines than
// start-up reads back: the oldest lines are dropped until it fits. (A restart
// with a full log leaves the counter one past the loaded lines, so a single
// drop would not be enough.)
void StoreLogEntry(ServerTables& tables, std::string entry) {
  auto& systemLog = tables.systemLog;
  int16_t& logCount = tables.logCount;
  ++logCount;
  systemLog[static_cast<std::size_t>(logCount - 1)] = std::move(entry);
  while (logCount > kLogLinesLoaded) {
    std::move(systemLog.begin() + 1, systemLog.begin() + logCount, systemLog.begin());
    systemLog[static_cast<std::size_t>(logCount - 1)].clear();
    --logCount;
  }
}

void WriteSystemLogFile(const ServerTables& tables) {
  std::string text;
  for (int position = 0; position < tables.logCount; ++position) {
    text.append(tables.systemLog[static_cast<std::size_t>(position)]).append("\r\n");
  }
  ReplaceFile(kSystemLogFile, text);
}

}  // namespace

void Server::SysLog(int16_t anal, std::string_view a) {
  const ErrorTrap trap = Trap("SysLog");
  std::string entry;
  trap([&] { entry = SystemLogEntry(*this, anal, a); });
  trap([&] { StoreLogEntry(*this, std::move(entry)); });
  trap([&] { WriteSystemLogFile(*this); });
}

void Server::SysLogStamped(std::string_view a) {
  std::string stamp;
  Trap("SysLog")([&] { stamp = LogStamp(*this); });
  SysLog(-1, stamp + std::string(a));
}

void Server::ResetSystemLog() {
  Trap("SysLog")([&] {
    for (std::string& entry : systemLog) entry.clear();
    logCount = 0;
    if (FileExists(kSystemLogFile)) std::filesystem::remove(kSystemLogFile);
  });
}

// Reads at most the lines the log keeps. The counter ends one past them, so
// the next entry leaves an empty line between the old entries and the new.
void Server::LoadSystemLog(const ErrorTrap& trap) {
  ShowProgress("Loading system log.");
  if (!FileExists(kSystemLogFile)) return;
  std::optional<TextFileReader> reader;
  trap([&] { reader.emplace(kSystemLogFile); });
  int16_t loaded = 0;
  while (reader && loaded < kLogLinesLoaded) {
    std::optional<std::string> line;
    trap([&] { line = reader->NextLine(); });
    if (!line) break;
    systemLog[static_cast<std::size_t>(loaded)] = std::move(*line);
    ++loaded;
  }
  logCount = static_cast<int16_t>(loaded + 1);
}

}  // namespace tellarium
