// A caller's own line: handle, autobiography, output toggles, posting and
// quitting; and a SysOp naming the caller on another line.
#include <algorithm>
#include <string>

#include "server/core/record_file.h"
#include "server/core/record_layouts.h"
#include "server/core/server.h"

namespace tellarium {
namespace {

constexpr int16_t kOtherHandleLevel = 3;

bool IsLineDigit(char c) { return c >= '1' && c <= '9'; }

// The command text from its (n+1)th character on; nothing when it is shorter.
std::string TextAfter(const std::string& text, std::size_t n) { return text.substr(std::min(n, text.size())); }

}  // namespace

void Server::AutobiographyCommand(int16_t line) {
  const LineState& state = LineAt(line);
  if (state.account.Raw() == "N/A") return Response(1, line);
  std::string autobiography = "|" + TextAfter(CommandText(line), 2);
  autobiography.resize(kAccountRecordLength, ' ');
  WriteRecord(AccountFile(AccountNumber(state.account)), kAutobiographyRecord, autobiography);
  Answer(line, "Autobiography Set.");
}

// "H5 name" names the caller on line 5; "H name" or "Hname" the caller.
void Server::HandleCommand(int16_t line) {
  const std::string& text = CommandText(line);
  if (text.size() >= 2 && IsLineDigit(text[1])) return OtherHandle(line);
  LineAt(line).handle = TrimLeft(std::string_view(text).substr(1));
  Answer(line, "Handle Set.");
  SysScreen();
}

void Server::OtherHandle(int16_t line) {
  if (!Clearance(kOtherHandleLevel, LineAt(line).level)) return Response(1, line);
  const std::string text = CommandText(line);
  const int16_t target = chkline(text.substr(1, 1));
  if (target < 0) return Response(5, line);
  if (LineAt(target).status == kOffline) return Response(8, line);
  LineAt(target).handle = TextAfter(text, 2);
  Answer(line, "Handle set for #" + std::to_string(target));
}

void Server::BeepsCommand(int16_t line) { Toggle(line, LineAt(line).beepFlag, "Beeps: "); }

void Server::LineSpacingCommand(int16_t line) { Toggle(line, LineAt(line).lineSpacing, "Line Spacing: "); }

void Server::PrivateBeepCommand(int16_t line) { Toggle(line, LineAt(line).privateMsgBeep, "/P Beep: "); }

void Server::LoginBeepCommand(int16_t line) { Toggle(line, LineAt(line).loginBeep, "Login Beep: "); }

void Server::Toggle(int16_t line, bool& flag, std::string_view label) {
  flag = !flag;
  Answer(line, std::string(label) + (flag ? "On" : "Off"));
}

void Server::QuitCommand(int16_t line) {
  ReadSlot(")");
  send(line, 0, std::string(Trim(currentSlot.text.Raw())) + lineBreak);
  lgoff(line);
}

// The post reaches every chat user as "S" and the poster's tag; the poster
// gets no answer.
void Server::PostCommand(int16_t line) {
  const LineState& state = LineAt(line);
  if (!Clearance(config.options[0], state.level)) return Response(1, line);
  const std::string& text = CommandText(line);
  workText = "S" + Handle(line, state.handle.Raw()) + TextAfter(text, 2);
  backlog(2, workText + lineBreak, line);
  CommandText(line).clear();
  workText.clear();
}

}  // namespace tellarium
