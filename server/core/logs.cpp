// The last callers, as start-up loads them.
#include "server/core/record_file.h"
#include "server/core/record_layouts.h"
#include "server/core/server.h"

namespace tellarium {

void Server::LoadLastCallers(const ErrorTrap& trap) {
  ShowProgress("Loading last 10 callers.");
  if (!FileExists(kLastCallsFile.name)) return;
  for (int entry = 0; entry < kLastCallerCount; ++entry) {
    trap([&] { GetRecord<LastCallerLayout>(kLastCallsFile, entry + 1, lastCallers[static_cast<std::size_t>(entry)]); });
  }
}

}  // namespace tellarium
