// The SysOp's tool for a data directory: its entry, its errors and its
// commands. Each command works on the data directory the tool has entered.
#pragma once

#include <iosfwd>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace tellarium::admin {

// Where a command reads and writes.
struct Console {
  std::istream& in;
  std::ostream& out;
  std::ostream& err;
  bool inputIsTerminal = false;
};

// Runs one command line (the arguments after the program's name) and gives
// the exit status: 0 done, 1 refused or failed, 2 not understood.
int RunAdmin(const std::vector<std::string>& args, Console& console);

enum ExitStatus : int { kDone = 0, kFailed = 1, kMisused = 2 };

// A command that cannot be done; nothing has been changed.
class AdminError : public std::runtime_error {
 public:
  explicit AdminError(const std::string& what, ExitStatus status = kFailed)
      : std::runtime_error(what), status_(status) {}
  ExitStatus status() const { return status_; }

 private:
  ExitStatus status_;
};

// A command line the command does not take.
class UsageError : public AdminError {
 public:
  explicit UsageError(const std::string& what) : AdminError(what, kMisused) {}
};

using Arguments = std::span<const std::string>;

// What a command gets: its arguments (after its name), the console, and the
// data directory as named on the command line.
struct CommandCall {
  Arguments args;
  Console& console;
  std::string directory;
};

using CommandHandler = void (*)(const CommandCall& call);

struct Command {
  std::string_view name;
  std::string_view usage;  // after "tellarium-admin DIR "
  std::string_view help;   // what it does, lines ending in "\n"
  CommandHandler handler;
  bool makesDirectory = false;
};

void InitCommand(const CommandCall& call);
void ConfigCommand(const CommandCall& call);
void AccountsCommand(const CommandCall& call);
void AccountCommand(const CommandCall& call);
void SlotsCommand(const CommandCall& call);
void SlotCommand(const CommandCall& call);
void CallersCommand(const CommandCall& call);
void LogCommand(const CommandCall& call);
void LimitsCommand(const CommandCall& call);

// Told on standard error while a station runs on the directory.
void NoteWhileStationRuns(const CommandCall& call, std::string_view what);

}  // namespace tellarium::admin
