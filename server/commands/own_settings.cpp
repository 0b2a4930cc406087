// A caller's own line: handle, autobiography, output toggles, posting and
// quitting; and a SysOp naming the caller on another line.
#include <algorithm>
#include <string>

#include "server/commands/command_groups.h"
#include "server/core/record_file.h"
#include "server/core/record_layouts.h"
#include "server/core/server.h"

namespace tellarium {
namespace {

constexpr int16_t kOtherHandleLevel = 3;

bool IsLineDigit(char c) { return c >= '1' && c <= '9'; }

void OtherHandle(Server& server, int16_t line) {
  if (!Server::Clearance(kOtherHandleLevel, server.LineAt(line).level)) {
    return server.Response(kInsufficientClearance, line);
  }
  const std::string text = CommandText(server, line);
  const int16_t target = server.chkline(text.substr(1, 1));
  if (target < 0) return server.Response(kInvalidLine, line);
  if (server.LineAt(target).status == kOffline) return server.Response(kNotOnline, line);
  server.LineAt(target).handle = TextAfter(text, 2);
  Answer(server, line, "Handle set for #" + std::to_string(target));
}

void Toggle(Server& server, int16_t line, bool& flag, std::string_view label) {
  flag = !flag;
  Answer(server, line, std::string(label) + (flag ? "On" : "Off"));
}

}  // namespace

void AutobiographyCommand(Server& server, int16_t line) {
  const LineState& state = server.LineAt(line);
  if (state.account.Raw() == kGuestAccount) return server.Response(kInsufficientClearance, line);
  std::string autobiography = kAutobiographyMark + TextAfter(CommandText(server, line), 2);
  autobiography.resize(kAccountRecordLength, ' ');
  WriteRecord(Server::AccountFile(Server::AccountNumber(state.account.Raw())), kAutobiographyRecord, autobiography);
  Answer(server, line, "Autobiography Set.");
}

// "H5 name" names the caller on line 5; "H name" or "Hname" the caller.
void HandleCommand(Server& server, int16_t line) {
  const std::string& text = CommandText(server, line);
  if (text.size() >= 2 && IsLineDigit(text[1])) return OtherHandle(server, line);
  server.LineAt(line).handle = TrimLeft(std::string_view(text).substr(1));
  Answer(server, line, "Handle Set.");
  server.SysScreen();
}

void BeepsCommand(Server& server, int16_t line) { Toggle(server, line, server.LineAt(line).beepFlag, "Beeps: "); }

void LineSpacingCommand(Server& server, int16_t line) {
  Toggle(server, line, server.LineAt(line).lineSpacing, "Line Spacing: ");
}

void PrivateBeepCommand(Server& server, int16_t line) {
  Toggle(server, line, server.LineAt(line).privateMsgBeep, "/P Beep: ");
}

void LoginBeepCommand(Server& server, int16_t line) {
  Toggle(server, line, server.LineAt(line).loginBeep, "Login Beep: ");
}

void QuitCommand(Server& server, int16_t line) {
  std::string farewell;
  {
    const SharedBufferHold hold;
    server.ReadSlot(")");
    farewell = std::string(Trim(server.currentSlot.text.Raw()));
  }
  server.send(line, kChatMode, farewell + server.lineBreak);
  server.lgoff(line);
}

// The post reaches every chat user as "S" and the poster's tag; the poster
// gets no answer.
void PostCommand(Server& server, int16_t line) {
  const LineState& state = server.LineAt(line);
  if (!Server::Clearance(server.config.options[kPostingLevel], state.level)) {
    return server.Response(kInsufficientClearance, line);
  }
  const std::string post = "S" + server.Handle(line, state.handle.Raw()) + TextAfter(CommandText(server, line), 2);
  server.backlog(kPostMode, post + server.lineBreak, line);
  CommandText(server, line).clear();
}

}  // namespace tellarium
