// The command interpreter: a line typed with a leading "/" is recognised by
// its first two letters, else by its first one, and its handler answers.
#include <array>
#include <cctype>
#include <string>
#include <string_view>

#include "server/core/server.h"

namespace tellarium {
namespace {

std::string Upper(std::string_view text) {
  std::string upper(text);
  for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return upper;
}

template <std::size_t N>
const Server::Command* Find(const std::array<Server::Command, N>& commands, std::string_view code) {
  for (const Server::Command& command : commands) {
    if (command.code == code) return &command;
  }
  return nullptr;
}

}  // namespace

// The order of each table is the order codes are tried in.
const Server::Command* Server::SelectCommand(std::string_view commandText) {
  static constexpr std::array<Command, 19> kTwoLetter = {{
      {"PS", "post to the chat backlog", &Server::PostCommand},
      {"LF", "reload the data files", &Server::CommandNotBuilt},
      {"T#", "force a line's channel", &Server::CommandNotBuilt},
      {"SM", "member list, first page", &Server::MemberListCommand},
      {"SC", "member list, next page", &Server::MemberListContinueCommand},
      {"AM", "message-slot editor data", &Server::CommandNotBuilt},
      {"AA", "user editor data", &Server::CommandNotBuilt},
      {"AC", "channel editor data", &Server::CommandNotBuilt},
      {"AI", "station editor data", &Server::CommandNotBuilt},
      {"AZ", "line editor data", &Server::CommandNotBuilt},
      {"LK", "reset the system log", &Server::CommandNotBuilt},
      {"LR", "show the system log", &Server::CommandNotBuilt},
      {"ST", "time and date", &Server::TimeCommand},
      {"S#", "address list", &Server::AddressListCommand},
      {"SP", "station identification to the links", &Server::CommandNotBuilt},
      {"UI", "set the autobiography", &Server::AutobiographyCommand},
      {"*?", "sysop menu", &Server::SysopMenuCommand},
      {"BP", "private-message beep", &Server::PrivateBeepCommand},
      {"BL", "login beep", &Server::LoginBeepCommand},
  }};
  static constexpr std::array<Command, 18> kOneLetter = {{
      {"P", "private message", &Server::CommandNotBuilt},
      {"G", "give level, time or protection", &Server::CommandNotBuilt},
      {"C", "private chat or conference", &Server::CommandNotBuilt},
      {"V", "temporary validation", &Server::CommandNotBuilt},
      {"B", "beeps", &Server::BeepsCommand},
      {"F", "line spacing", &Server::LineSpacingCommand},
      {"Z", "outdial address", &Server::CommandNotBuilt},
      {"Q", "quit", &Server::QuitCommand},
      {"H", "handle", &Server::HandleCommand},
      {"S", "online list or autobiography", &Server::ShowCommand},
      {"T", "tune to a channel", &Server::CommandNotBuilt},
      {"I", "information screens", &Server::InformationCommand},
      {"K", "kill a line", &Server::CommandNotBuilt},
      {"E", "e-mail", &Server::CommandNotBuilt},
      {"M", "message slots", &Server::CommandNotBuilt},
      {"R", "remote and link lines", &Server::CommandNotBuilt},
      {"?", "main menu", &Server::MainMenuCommand},
      {"L", "last callers", &Server::LastCallersCommand},
  }};
  if (commandText.size() >= 2) {
    if (const Command* command = Find(kTwoLetter, Upper(commandText.substr(0, 2)))) return command;
  }
  if (commandText.empty()) return nullptr;
  return Find(kOneLetter, Upper(commandText.substr(0, 1)));
}

void Server::CommandStack(int16_t lindex) {
  const ErrorTrap trap = Trap("CommandStack");
  trap([&] { CommandText(lindex).erase(0, 1); });
  trap([&] {
    const std::string& text = CommandText(lindex);
    if (!text.empty() && std::isdigit(static_cast<unsigned char>(text[0]))) ToQVS(lindex, text);
  });
  trap([&] {
    const Command* command = SelectCommand(CommandText(lindex));
    if (command == nullptr) {
      Response(0, lindex);
    } else {
      (this->*command->handler)(lindex);
    }
  });
}

// Commands whose handlers are not in this station yet are not recognised.
void Server::CommandNotBuilt(int16_t line) { Response(0, line); }

void Server::Answer(int16_t line, const std::string& text) { send(line, 4, text + lineBreak); }

}  // namespace tellarium
