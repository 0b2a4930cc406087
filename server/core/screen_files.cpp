// The four screen files, each loaded into a table of at most 50 lines.
#include <optional>

#include "server/core/record_file.h"
#include "server/core/server.h"

namespace tellarium {
namespace {

// A line past the table's end fails and is not stored.
void StoreScreenLine(ScreenTable& table, const std::string& line, const std::string& lineBreak) {
  if (table.count >= kScreenLines) Raise(ErrorNumber::kSubscriptOutOfRange);
  table.lines[static_cast<std::size_t>(table.count)] = line + lineBreak;
  ++table.count;
}

void LoadScreenFile(const ErrorTrap& trap, ScreenTable& table, const std::string& file,
                    const std::string& lineBreak) {
  if (!FileExists(file)) return;
  std::optional<TextFileReader> reader;
  trap([&] { reader.emplace(file); });
  if (!reader) return;
  table.count = 0;
  for (;;) {
    std::optional<std::string> line;
    bool readFailed = true;
    trap([&] {
      line = reader->NextLine();
      readFailed = false;
    });
    if (readFailed || !line) return;
    trap([&] { StoreScreenLine(table, *line, lineBreak); });
  }
}

}  // namespace

void Server::LoadFiles() {
  const ErrorTrap trap = Trap("Load Data Files");
  struct Screen {
    ScreenTable& table;
    const char* file;
    const char* missing;  // shown while the file is missing
  };
  const std::array<Screen, 4> screens{{
      {mainMenu, "mainmenu.qvs", "Please get a copy of mainmenu.qvs"},
      {passwordScreen, "password.qvs", "Please create password.qvs"},
      {infoScreen, "infoscreen.qvs", "Please create infoscreen.qvs"},
      {sysopMenu, "sysopmenu.qvs", "Please get a copy of sysopmenu.qvs"},
  }};
  for (const Screen& screen : screens) {
    screen.table.lines[0] = screen.missing + lineBreak;
    screen.table.count = 1;
  }
  for (const Screen& screen : screens) LoadScreenFile(trap, screen.table, screen.file, lineBreak);
}

}  // namespace tellarium
