// The station: start-up, then events until a signal ends the program.
#include "platform/console.h"
#include "platform/loop.h"
#include "server/core/server.h"

int main() {
  platform::console::InstallEndSignals();
  tellarium::Server server;
  server.Startup();
  return platform::Run();
}
