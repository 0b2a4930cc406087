// The command interpreter: a line typed with a leading "/" is recognised by
// its first two letters, else by its first one, and its handler answers.
#include <algorithm>
#include <array>
#include <cctype>
#include <string>
#include <string_view>

#include "server/commands/command_groups.h"
#include "server/core/planted_faults.h"
#include "server/core/server.h"
#include "server/core/text_fields.h"

namespace tellarium {
namespace {

template <std::size_t N>
const Server::Command* Find(const std::array<Server::Command, N>& commands, std::string_view code) {
  for (const Server::Command& command : commands) {
    if (command.code == code) return &command;
  }
  return nullptr;
}

}  // namespace

// Codes are compared whole, so the order within a table does not matter.
const Server::Command* Server::SelectCommand(std::string_view commandText) {
  static constexpr std::array<Command, 19> kTwoLetter = {{
      {"PS", "post to the chat backlog", &PostCommand},
      {"LF", "reload the data files", &ReloadFilesCommand},
      {"T#", "force a line's channel", &ForceChannelCommand},
      {"SM", "member list, first page", &MemberListCommand},
      {"SC", "member list, next page", &MemberListContinueCommand},
      {"AM", "message-slot editor data", &SlotEditorCommand},
      {"AA", "user editor data", &UserEditorCommand},
      {"AC", "channel editor data", &ChannelEditorCommand},
      {"AI", "station editor data", &StationEditorCommand},
      {"AZ", "line editor data", &LineEditorCommand},
      {"LK", "reset the system log", &ResetLogCommand},
      {"LR", "show the system log", &ViewLogCommand},
      {"ST", "time and date", &TimeCommand},
      {"S#", "address list", &AddressListCommand},
      {"SP", "station identification to the links", &StationIdCommand},
      {"UI", "set the autobiography", &AutobiographyCommand},
      {"*?", "sysop menu", &SysopMenuCommand},
      {"BP", "private-message beep", &PrivateBeepCommand},
      {"BL", "login beep", &LoginBeepCommand},
  }};
  static constexpr std::array<Command, 18> kOneLetter = {{
      {"P", "private message", &PrivateMessageCommand},
      {"G", "give level, time or protection", &GiveCommand},
      {"C", "private chat or conference", &ChatOrConferenceCommand},
      {"V", "temporary validation", &ValidateCommand},
      {"B", "beeps", &BeepsCommand},
      {"F", "line spacing", &LineSpacingCommand},
      {"Z", "outdial address", &OutdialCommand},
      {"Q", "quit", &QuitCommand},
      {"H", "handle", &HandleCommand},
      {"S", "online list or autobiography", &ShowCommand},
      {"T", "tune to a channel", &TuneCommand},
      {"I", "information screens", &InformationCommand},
      {"K", "kill a line", &KillCommand},
      {"E", "e-mail", &EmailCommand},
      {"M", "message slots", &MessageSlotCommand},
      {"R", "remote and link lines", &RemoteCommand},
      {"?", "main menu", &MainMenuCommand},
      {"L", "last callers", &LastCallersCommand},
  }};
  if (commandText.size() >= 2) {
    if (const Command* command = Find(kTwoLetter, Upper(commandText.substr(0, 2)))) return command;
  }
  if (commandText.empty()) return nullptr;
  return Find(kOneLetter, Upper(commandText.substr(0, 1)));
}

void Server::CommandStack(int16_t lindex) {
  const ErrorTrap trap = Trap("CommandStack");
  trap([&] { CommandText(*this, lindex).erase(0, 1); });
  trap([&] {
    const std::string& text = CommandText(*this, lindex);
    if (!text.empty() && std::isdigit(static_cast<unsigned char>(text[0]))) ToQVS(lindex, text);
  });
  trap([&] {
    const std::string& text = CommandText(*this, lindex);
    RaisePlantedFault(FaultPoint::kCommand, text);
    const Command* command = SelectCommand(text);
    if (command == nullptr) {
      Response(kUnrecognizedCommand, lindex);
    } else {
      command->handler(*this, lindex);
    }
  });
}

std::string& CommandText(Server& server, int16_t line) { return server.InputLineAt(line); }

void Answer(Server& server, int16_t line, const std::string& text) {
  server.send(line, kStationMode, text + server.lineBreak);
}

std::string TextAfter(const std::string& text, std::size_t n) { return text.substr(std::min(n, text.size())); }

}  // namespace tellarium
