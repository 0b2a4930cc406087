// The station: start-up, then events until a signal ends the program.
#include "platform/console.h"
#include "platform/loop.h"
#include "server/console/sysop_console.h"
#include "server/core/server.h"

int main() {
  platform::console::InstallEndSignals();
  tellarium::Server server;
  server.CreateControls();  // the window's controls, before its load event
  tellarium::SysopConsole console(server);
  server.Startup();
  console.WatchInput();
  return platform::Run();
}
