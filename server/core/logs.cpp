// The system log and the last callers, as start-up loads them.
#include <optional>

#include "server/core/record_file.h"
#include "server/core/record_layouts.h"
#include "server/core/server.h"

namespace tellarium {

// Reads at most the lines the log keeps. The counter ends one past them, so
// the next entry leaves an empty line between the old entries and the new.
void Server::LoadSystemLog(const ErrorTrap& trap) {
  ShowProgress("Loading system log.");
  const std::string file = "qvtalk.log";
  if (!FileExists(file)) return;
  std::optional<TextFileReader> reader;
  trap([&] { reader.emplace(file); });
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

void Server::LoadLastCallers(const ErrorTrap& trap) {
  ShowProgress("Loading last 10 callers.");
  if (!FileExists(kLastCallsFile.name)) return;
  for (int entry = 0; entry < kLastCallerCount; ++entry) {
    trap([&] { GetRecord<LastCallerLayout>(kLastCallsFile, entry + 1, lastCallers[static_cast<std::size_t>(entry)]); });
  }
}

}  // namespace tellarium
