// The sysop console in place of the server window. On a terminal it shows the
// start-up lines and then the status display, redrawn in place whenever it is
// rebuilt; any key rebuilds it and Ctrl-C ends the program. When standard
// output is not a terminal the display is written only on SIGUSR1.
#pragma once

#include <cstdint>
#include <string>

#include "platform/loop.h"
#include "server/console/status_view.h"

namespace tellarium {

class Server;

class SysopConsole final : public platform::MessageTarget, public StatusView {
 public:
  // Attaches itself to `server` as the view of its status display; SIGUSR1
  // is ignored until WatchInput.
  explicit SysopConsole(Server& server);
  ~SysopConsole() override;

  // Watches keys and SIGUSR1; called once start-up is done.
  void WatchInput();

  void Show(const std::string& display) override;
  void HandleMessage(uint32_t message, uint64_t wparam, int64_t lparam) override;

 private:
  Server& server_;
  const bool terminal_;
  // Terminal rows the display shown now takes (each row ends in a line break).
  std::size_t shownRows_ = 0;
};

}  // namespace tellarium
