// Output to the lines: the output modes, send, held output, the caret mark,
// colour sequences and the one-character line codes of D-Dial links.
//
// Flags of LineState are bools: whatever nonzero value a reader met on disk
// became true, so a flag "tested for -1" here is simply the flag.
#include <string>
#include <utility>

#include "platform/loop.h"
#include "server/core/number_text.h"
#include "server/core/server.h"
#include "telnetctl/korvatel.h"

namespace tellarium {
namespace {

constexpr char kBell = '\x07';
constexpr char kEscape = '\x1B';
constexpr char kCaretMark = '^';
// The most one release sends to a line before it goes on to the next (it
// always sends at least one whole message).
constexpr std::size_t kReleaseBoundBytes = 64 * 1024;

// The routines' error entries carry their arguments after the standard lines.
std::string NumberLine(std::string_view label, int value) {
  return std::string(label) + SignedNumberText(value) + "\r\n";
}

bool IsClientPacketMode(int16_t cmode) {
  return cmode == kConfigPacketMode || cmode == kAccountPacketMode || cmode == kEditorDataMode;
}

constexpr char kConfigPacketCode = '\x01';
constexpr char kAccountPacketCode = '\x02';

// Line numbers are written with a second digit of 0 to 7; each number has one
// code: 0-7 the digits, then "A" for 10 onwards, eight letters a decade.
constexpr int kCodeDigits = 8;
constexpr int kHighestCodedLine = 41;

// Sets a flag for as long as it lives.
class Marked {
 public:
  explicit Marked(bool& flag) : flag_(flag) { flag_ = true; }
  ~Marked() { flag_ = false; }
  Marked(const Marked&) = delete;
  Marked& operator=(const Marked&) = delete;

 private:
  bool& flag_;
};

// Held output goes to chat users who are not typing (or who hold so much that
// it goes even so), to links and to lines in a terminal (which drop it),
// unless a release for the line is under way.
bool Releasable(const Server& server, int16_t l) {
  const auto i = static_cast<std::size_t>(l);
  const int16_t status = server.lines[i].status;
  const HeldOutput& held = server.heldOutput[i];
  return held.HasMessage() && !server.connections[i].releasing && status >= kChatUser &&
         !(server.typing[i] && status < kDDialLink && held.Bytes() < HeldOutput::kTypingBoundBytes);
}

void ReleaseHeld(Server& server, int16_t l) {
  const auto i = static_cast<std::size_t>(l);
  HeldOutput& held = server.heldOutput[i];
  const LineState& line = server.LineAt(l);
  bool& releasing = server.connections[i].releasing;
  for (std::size_t sent = 0; sent < kReleaseBoundBytes && Releasable(server, l);) {
    std::string messages = held.TakeFirst();
    messages += server.lineBreak;
    while (held.HasMessage() && sent + messages.size() < kReleaseBoundBytes) {
      messages += held.TakeFirst();
      messages += server.lineBreak;
    }
    {
      const Marked onItsWay(releasing);
      platform::Pump();
    }
    sent += messages.size();
    // A line whose caller left while events ran keeps what is still held.
    const bool connected = line.status == kChatUser    ? server.Transmit(l, server.caret(std::move(messages)))
                           : line.status == kDDialLink ? server.Transmit(l, std::move(messages))
                                                       : server.Connected(l);
    if (!connected) return;
  }
}

}  // namespace

std::string Server::FormatOutput(int16_t l, int16_t cmode, std::string dat) {
  const LineState& line = LineAt(l);
  std::string out;
  switch (cmode) {
    case kChatMode:
      out = std::move(dat);
      if (line.lineSpacing) out += lineBreak;
      break;
    case kPrivateMode: out = (line.privateMsgBeep ? std::string(1, kBell) : "") + dat; break;
    case kPostMode:
    case kRawMode: out = std::move(dat); break;
    case kStationMode:
    case kNoticeMode: out = stationPrefix + dat; break;
    case kLogoffNoticeMode: out = stationPrefix + "Logoff Due to:" + dat + "\r"; break;
    case kConfigPacketMode:
    case kEditorDataMode: out = kConfigPacketCode + dat; break;
    case kAccountPacketMode: out = kAccountPacketCode + dat; break;
    case kLoginNoticeMode: out = stationPrefix + (line.loginBeep ? std::string(1, kBell) : "") + dat; break;
    default: break;  // kSilentMode and unknown modes: nothing
  }
  if (IsClientPacketMode(cmode) && line.lineType == kTelnetLine) {
    return stationPrefix + "Unsupported in Telnet mode.\r\n";
  }
  return line.status < kUntranslatedStatus ? caret(std::move(out)) : out;
}

void Server::send(int16_t l, int16_t cmode, std::string dat) {
  const auto details = [l, cmode, entry = dat] {
    return NumberLine("Output Line:", l) + NumberLine("Output Mode:", cmode) + "Output String:" + entry + "\r\n";
  };
  Trap("Send").WithDetails(details, [&] {
    platform::Pump();
    dat = FormatOutput(l, cmode, std::move(dat));
    if (LineAt(l).lineType == kTelnetLine) dat = caret(std::move(dat));
    Transmit(l, std::move(dat));
  });
}

// Everything a line holds goes out in one send, up to a bound so that no line
// keeps the others waiting; a chat user who is typing is not interrupted (the
// end of the line releases). A line whose messages are on their way out
// (events run before they are sent) is passed over by a release that runs
// meanwhile, so messages never overtake each other; what was held meanwhile
// follows at once.
void Server::BOut() {
  const ErrorTrap trap = Trap("BOut");
  for (int16_t l = 0; l <= ReleasedLines(); ++l) {
    if (Releasable(*this, l)) trap([&] { ReleaseHeld(*this, l); });
  }
  if (HoldsReleasableOutput()) KeepReleasing();
}

bool Server::HoldsReleasableOutput() const {
  for (int16_t l = 0; l <= ReleasedLines(); ++l) {
    if (Releasable(*this, l)) return true;
  }
  return false;
}

std::string Server::caret(std::string txt) {
  if (txt.find(kCaretMark) == std::string::npos) return txt;  // most text has none: no copy
  std::string out;
  out.reserve(txt.size() + 2);
  std::string_view rest = txt;
  for (std::size_t mark; (mark = rest.find(kCaretMark)) != std::string_view::npos; rest.remove_prefix(mark + 1)) {
    out.append(rest.substr(0, mark)).append("\r\n ");
  }
  return out.append(rest);
}

std::string Server::ANSI(int16_t fgrnd, int16_t bkgrnd, bool blink, bool intensity, bool underscore, bool reverse,
                         bool reset) {
  std::string out;
  Trap("ANSI")([&] {
    if (LineAt(currentLine).lineType != kTelnetLine) return;
    out = std::string(1, kEscape) + "[";
    if (reset) out += "0;";
    if (blink) out += "5;";
    if (intensity) out += "1;";
    if (underscore) out += "4;";
    if (reverse) out += "7;";
    out += std::to_string(fgrnd) + ";" + std::to_string(bkgrnd) + "m";
  });
  return out;
}

std::string Server::Ltrans3(int16_t a) {
  std::string code;
  const auto details = [this, a] {
    return NumberLine("Current Line:", currentLine) + "Input String:" + std::to_string(a) + "\r\n";
  };
  Trap("Ltrans3").WithDetails(details, [&] {
    const int decade = a / 10;
    const int digit = a % 10;
    if (a < 0 || a > kHighestCodedLine || digit >= kCodeDigits) return;
    code = decade == 0 ? std::string(1, static_cast<char>('0' + digit))
                       : std::string(1, static_cast<char>('A' + (decade - 1) * kCodeDigits + digit));
  });
  return code;
}

std::string Server::LTrans2(std::string a) {
  std::string out;
  const auto details = [this, &a] { return NumberLine("Current Line:", currentLine) + "Input String:" + a + "\r\n"; };
  Trap("ltrans2").WithDetails(details, [&] {
    for (char c : a) {
      if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
      if ((c >= '0' && c <= '9') || c == '#') {
        out += c;
      } else if (c >= 'A' && c <= 'Z') {
        const int letter = c - 'A';
        out += std::to_string(letter / kCodeDigits + 1) + std::to_string(letter % kCodeDigits);
      }
    }
  });
  return out;
}

}  // namespace tellarium
