#include "admin/tool.h"

#include <algorithm>
#include <filesystem>
#include <ostream>

#include "platform/lock_file.h"
#include "server/core/record_layouts.h"

namespace tellarium::admin {
namespace {

constexpr std::string_view kProgram = "tellarium-admin";

constexpr Command kCommands[] = {
    {"init", "init [--main-port N] [--line0-port N]",
     "Makes a new data directory (or completes one) with the files a station's first start writes and the\n"
     "default screens. Nothing that is there already is written over. The ports are those of the new\n"
     "configuration (1 to 32767; the defaults 23 and 420 need root).\n",
     InitCommand, true},
    {"config", "config [set FIELD VALUE]",
     "Shows the configuration, one FIELD=VALUE per line, or sets one field: stationTitle (ending in\n"
     "\" QVS-\" and two digits, it names the station and its number), infoLine0 to infoLine2,\n"
     "stationText, the access levels postingLevel, killLevel, relogLevel and lineEditLevel (0 to 4),\n"
     "the time limits level0Limit to level4Limit, ddialLinkLimit and qvsLinkLimit (-1, no limit, to\n"
     "32767), maxLines (1 to 31), mainPort, auxPort and line0Port (1 to 32767), and for channel N (1 to\n"
     "16) channelN.name, channelN.capacity (0 to 31) and channelN.requiredLevel (0 to 4).\n",
     ConfigCommand},
    {"accounts", "accounts",
     "Lists the accounts that have a file: number, \"member\" or \"disabled\", and handle, tab-separated.\n",
     AccountsCommand},
    {"account", "account NNN [set FIELD VALUE | add [HANDLE] | disable | password]",
     "Shows account NNN (000 to 999), one FIELD=VALUE per line with its flags by name, or changes it:\n"
     "set FIELD VALUE sets handle, profile1 to profile6, level (0 to 4), profileNumber or a flag\n"
     "(true or false); add makes a new member account (level 1, a chat user); disable takes it off the\n"
     "member list, keeping its file; password reads the new password without echo from a terminal, or\n"
     "one line from standard input.\n",
     AccountCommand},
    {"slots", "slots", "Lists the message slots: key, owner, enabled, and title, tab-separated.\n", SlotsCommand},
    {"slot", "slot KEY [set text|title|owner|enabled VALUE]",
     "Shows the message slot of KEY (0-9, A-Z, or one of !@#$%&*()<), or sets its text (\"^\" breaks a\n"
     "line), title, owner (an account number; -1 free, 0 the station's) or enabled (true or false).\n",
     SlotCommand},
    {"callers", "callers", "Lists the last callers, most recent first: date, time, line, account, handle.\n",
     CallersCommand},
    {"log", "log [--follow]", "Shows the system log; with --follow, and then each entry as it is made.\n",
     LogCommand},
    {"limits", "limits [set KEY VALUE]",
     "Shows the station's defences against abuse (limits.conf), one KEY=VALUE per line, or sets one:\n"
     "lines_per_address (1 to 31), connects_per_address (per 10 s, 1 to 10000), login_timeout_s (10 to\n"
     "86400), failed_logins_to_block (within 10 minutes, 1 to 10000), block_minutes (1 to 10080),\n"
     "account_failures_to_slow (within 10 minutes, 1 to 10000), output_bound_kib (64 to 4096),\n"
     "exempt (addresses separated by commas, which no per-address defence applies to) and proxy_from\n"
     "(the proxies whose connections start with a header naming the caller's address).\n",
     LimitsCommand},
};

const Command* FindCommand(std::string_view name) {
  const auto found = std::find_if(std::begin(kCommands), std::end(kCommands),
                                  [name](const Command& command) { return command.name == name; });
  return found == std::end(kCommands) ? nullptr : found;
}

void ShowToolHelp(std::ostream& out) {
  out << "Usage: " << kProgram << " DIR COMMAND ...\n"
      << "Shows and changes the data files of the station whose data directory is DIR, one record at a time.\n"
      << "While a station runs there, the tool says what waits for it.\n\nCommands:\n";
  for (const Command& command : kCommands) out << "  " << command.usage << '\n';
  out << "\n" << kProgram << " COMMAND --help tells more of a command.\n";
}

void ShowCommandHelp(std::ostream& out, const Command& command) {
  out << "Usage: " << kProgram << " DIR " << command.usage << "\n" << command.help;
}

bool AsksForHelp(const std::vector<std::string>& args) {
  return std::any_of(args.begin(), args.end(), [](const std::string& arg) { return arg == "--help" || arg == "-h"; });
}

// The first argument that names a command, for help.
const Command* NamedCommand(const std::vector<std::string>& args) {
  for (const std::string& arg : args) {
    if (const Command* command = FindCommand(arg)) return command;
  }
  return nullptr;
}

void EnterDirectory(const std::string& directory, bool make) {
  std::error_code error;
  if (make) std::filesystem::create_directories(directory, error);
  if (!std::filesystem::is_directory(directory)) {
    throw AdminError(directory + " is not a data directory" + (make ? " and cannot be made." : "."));
  }
  std::filesystem::current_path(directory, error);
  if (error) throw AdminError(directory + " cannot be entered: " + error.message() + ".");
}

int Run(const std::vector<std::string>& args, Console& console) {
  if (AsksForHelp(args)) {
    if (const Command* command = NamedCommand(args)) {
      ShowCommandHelp(console.out, *command);
    } else {
      ShowToolHelp(console.out);
    }
    return kDone;
  }
  if (args.size() < 2) throw UsageError("Name a data directory and a command; --help lists the commands.");
  const Command* command = FindCommand(args[1]);
  if (command == nullptr) throw UsageError("There is no command " + args[1] + "; --help lists the commands.");
  EnterDirectory(args[0], command->makesDirectory);
  command->handler({Arguments(args).subspan(2), console, args[0]});
  return kDone;
}

}  // namespace

int RunAdmin(const std::vector<std::string>& args, Console& console) {
  try {
    return Run(args, console);
  } catch (const AdminError& error) {
    console.err << kProgram << ": " << error.what() << '\n';
    return error.status();
  }
}

void NoteWhileStationRuns(const CommandCall& call, std::string_view what) {
  if (!platform::LockFileHeld(kStationLockFile)) return;
  call.console.err << "A station is running in " << call.directory << ": " << what << '\n';
}

}  // namespace tellarium::admin
