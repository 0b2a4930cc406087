// The station: start-up, then events until a signal ends the program.
#include <string>

#include "platform/console.h"
#include "platform/lock_file.h"
#include "platform/loop.h"
#include "server/console/sysop_console.h"
#include "server/core/record_layouts.h"
#include "server/core/server.h"

int main() {
  using tellarium::kStationLockFile;
  // Held while the station runs in its data directory (the working directory).
  switch (platform::HoldLockFile(kStationLockFile)) {
    case platform::LockOutcome::kHeld: break;
    case platform::LockOutcome::kTaken:
      platform::console::MessageBox("A station is already running in this directory.");
      return 1;
    case platform::LockOutcome::kNotMade:
      platform::console::MessageBox(std::string("The lock file ") + kStationLockFile + " cannot be made in this directory.");
      return 1;
  }
  platform::console::InstallEndSignals();
  tellarium::Server server;
  server.CreateControls();  // the window's controls, before its load event
  tellarium::SysopConsole console(server);
  server.Startup();
  console.WatchInput();
  return platform::Run();
}
