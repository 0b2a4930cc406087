#include "server/console/sysop_console.h"

#include <algorithm>
#include <csignal>

#include "platform/console.h"
#include "server/core/server.h"

namespace tellarium {
namespace {

constexpr uint32_t kKeyMessage = platform::kFirstUserMessage;
constexpr uint32_t kStatusRequest = platform::kFirstUserMessage + 1;

// Rows are drawn with wrapping off, so a long row stays one terminal row and
// the count of rows to go back up stays right.
constexpr std::string_view kWrapOff = "\x1B[?7l";
constexpr std::string_view kWrapOn = "\x1B[?7h";
constexpr std::string_view kClearToEnd = "\x1B[J";

}  // namespace

// Until WatchInput a status request is passed over: it must not end the
// program (the signal's default) while start-up runs.
SysopConsole::SysopConsole(Server& server) : server_(server), terminal_(platform::console::IsTerminal()) {
  server_.AttachStatusView(this);
  std::signal(SIGUSR1, SIG_IGN);
}

SysopConsole::~SysopConsole() { server_.AttachStatusView(nullptr); }

void SysopConsole::WatchInput() {
  platform::console::WatchKeys(target_id(), kKeyMessage);
  platform::console::WatchSignal(SIGUSR1, target_id(), kStatusRequest);
}

// Goes back to the first row of the display shown before, clears from there
// and draws the new one.
void SysopConsole::Show(const std::string& display) {
  if (!terminal_) return;
  std::string out;
  if (shownRows_ > 0) out += "\r\x1B[" + std::to_string(shownRows_) + "A";
  out.append(kClearToEnd).append(kWrapOff).append(display).append(kWrapOn);
  platform::console::Write(out);
  shownRows_ = static_cast<std::size_t>(std::count(display.begin(), display.end(), '\n'));
}

void SysopConsole::HandleMessage(uint32_t message, uint64_t, int64_t) {
  server_.Trap("Console")([&] {
    if (message == kKeyMessage) server_.SysScreen();
    if (message == kStatusRequest) {
      server_.SysScreen();
      if (!terminal_) platform::console::Write(server_.txtLines);
    }
  });
}

}  // namespace tellarium
