// What a line receives: terminal relays, client packets, the start of the
// login, character filtering and echo, line assembly and the dispatch of a
// completed line by the line's status.
#include <string>

#include "server/core/planted_faults.h"
#include "server/core/server.h"
#include "server/core/text_fields.h"

namespace tellarium {
namespace {

constexpr char kCR = '\r';
constexpr char kLF = '\n';
constexpr char kBackspace = '\x08';
constexpr char kDelete = '\x7F';  // what most terminals send for Backspace
constexpr char kCancel = '\x18';
constexpr char kEscape = '\x1B';
constexpr char kReprint = '\x15';
// Never typed through: the telnet escape on the wire, and the end mark of a
// held message.
constexpr char kTelnetEscape = '\xFF';
constexpr char kGrave = '`';
constexpr char kConfigPacket = '\x01';
constexpr char kAccountPacket = '\x02';
const std::string kErase = "\b \b";
// What a relogged line is sent as it starts over.
const std::string kRelogMark(3, '\x01');

// The most a line may hold before its carriage return. Bytes past it are
// dropped until the line ends. Far above any typed line or client packet
// (the longest, a message slot, is about 4.3 KB).
constexpr std::size_t kReceiveBufferCap = 32 * 1024;

// The characters a chat user's line never carries to the chat or the links.
bool IsStrippedForChat(char c) { return c == '}' || c == '~'; }

// A key sequence: ESC "[", parameter and intermediate bytes, a final byte;
// or ESC "O" and one character. Past its longest it ends and is dropped.
constexpr uint8_t kLongestKeySequence = 16;
bool IsSequenceMiddle(char c) { return c >= 0x20 && c <= 0x3F; }
bool IsSequenceFinal(char c) { return c >= 0x40 && c <= 0x7E; }

// A chat user asked to log in again: the line starts over as a new caller.
void RestartLoginIfAsked(Server& server, int16_t line) {
  const LineState& state = server.LineAt(line);
  if (state.status != kChatUser || state.substate != kRelogPending) return;
  server.MarkLoggingIn(line);
  server.SendDirect(line, kRelogMark);
  server.AnnounceNewCaller(line);
}

// A line an operator paired goes back to what it was before.
void EndPairing(Server& server, int16_t line) {
  LineState& state = server.LineAt(line);
  const LineConnection& before = server.ConnectionAt(line);
  state.status = before.statusBeforePairing;
  state.substate = before.substateBeforePairing;
  state.pairedLine = -1;
  server.CountChannelUsers();
}

void ReturnToChat(Server& server, int16_t line) {
  LineState& state = server.LineAt(line);
  state.status = kChatUser;
  state.substate = kOnChannel;
  state.pairedLine = -1;
  server.CountChannelUsers();
}

// The grave accent: a pairing ends for both lines; a terminal's outdial side
// stays as a link waiting.
void ExitTerminal(Server& server, int16_t line) {
  const int16_t paired = server.LineAt(line).pairedLine;
  if (server.LineAt(paired).substate == kPairedTarget) {
    EndPairing(server, paired);
    EndPairing(server, line);
  } else {
    server.LineAt(paired).substate = kRemoteExited;
    ReturnToChat(server, line);
  }
  server.SendDirect(line, server.stationPrefix + "Terminal Exited." + server.lineBreak);
}

// The two lines of a terminal session, or of an operator's pairing, pass
// their data through unchanged.
bool RelayTerminal(Server& server, int16_t line, const std::string& data) {
  const LineState& state = server.LineAt(line);
  const bool userSide = state.substate == kInRemote;
  if (state.status != kOutdial || (!userSide && state.substate != kOutdialConnected && state.substate != kPairedTarget)) {
    return false;
  }
  const int16_t paired = state.pairedLine;
  const bool pairing = userSide ? server.LineAt(paired).substate == kPairedTarget : state.substate == kPairedTarget;
  if (userSide && data.size() == 1 && data[0] == kGrave) {
    ExitTerminal(server, line);
  } else if (!data.empty()) {
    server.Transmit(paired, data);
  } else if (userSide && pairing) {
    EndPairing(server, paired);  // the operator hung up: the paired line goes back
    server.lgoff(line);
  } else if (userSide) {
    // The user hung up: the outdial goes (after what is queued for it), and
    // this line is freed too.
    server.CloseConnection(paired);
    server.LineAt(paired).status = kOffline;
    server.lgoff(line);
  } else {
    ReturnToChat(server, paired);
    server.send(paired, kStationMode, "Outdial disconnected." + server.lineBreak);
    server.lgoff(line);
  }
  return true;
}

// Only an online level-4 user edits the station; a line's session data (group
// 1) needs the line-edit level of the access configuration.
bool MayEditConfiguration(Server& server, int16_t line, char group) {
  const LineState& state = server.LineAt(line);
  if (state.status != kChatUser) return false;
  const int16_t required = group == '1' ? server.config.options[kLineEditLevel] : int16_t{4};
  return required <= state.level;
}

// An account comes back only to the level-4 user who asked for it, and is
// written to the account asked for.
void TakeAccountPacket(Server& server, int16_t line, const std::string& data) {
  const LineState& state = server.LineAt(line);
  const std::string_view asked = Trim(state.editAccount);
  const bool named = !asked.empty() && asked.size() <= 3 && LeadingDigits(asked).size() == asked.size();
  const int64_t account = named ? LeadingNumber(asked) : -1;
  if (state.status != kChatUser || state.level != 4 || account < 0) {
    server.Response(kInsufficientClearance, line);
    return;
  }
  {
    const SharedBufferHold hold;
    server.uparse(data.substr(1));
    server.uwrite(static_cast<int16_t>(account));
  }
  server.send(line, kStationMode, "User Info Saved." + server.lineBreak);
}

// Packets of the graphical client: "V" and the version from every line;
// configuration and account packets only from those allowed to edit them.
bool TakeClientPacket(Server& server, int16_t line, const std::string& data) {
  if (data[0] == kAccountPacket) {
    TakeAccountPacket(server, line, data);
    return true;
  }
  if (data[0] != kConfigPacket) return false;
  const char c = data.size() > 1 ? data[1] : '\0';
  if (c == 'V') {
    LineState& state = server.LineAt(line);
    const std::string version = data.substr(1);
    state.clientVersion = version.substr(0, version.find(kCR));
    state.lineType = kClientLine;
  } else if (c >= '0' && c <= '6') {
    if (!MayEditConfiguration(server, line, c)) {
      server.Response(kInsufficientClearance, line);
      return true;
    }
    server.cfgparse(data);
    server.send(line, kStationMode, "Done." + server.lineBreak);
  }
  return true;
}

// The caller answered the greeting: the login message and the password prompt.
bool StartLogin(Server& server, int16_t line) {
  LineState& state = server.LineAt(line);
  if (state.status != kLoggingIn || state.substate != kAwaitingEnter) return false;
  state.substate = kPasswordEntry;
  std::string message;
  {
    const SharedBufferHold hold;
    server.ReadSlot("!");
    message = server.currentSlot.text.Trimmed();
  }
  server.SendDirect(line, server.caret(message + server.lineBreak));
  server.SendDirect(line, "Enter PASSWORD or <RETURN>" + server.lineBreak + "-->");
  return true;
}

// A caller's piece applied key by key to the line so far: editing keys act
// at once, key sequences (arrows and the like) are dropped whole, and a CR
// or a bare LF ends the line. The typing is echoed unless the piece ends
// the line (a line-mode client shows its own) or the caller refused echo.
class KeyWalk {
 public:
  KeyWalk(Server& server, int16_t line)
      : server_(server),
        line_(line),
        state_(server.LineAt(line)),
        connection_(server.ConnectionAt(line)),
        buffer_(server.receiveBuffer[static_cast<std::size_t>(line)]) {}

  // True when the piece ended the line; what follows the line end is dropped.
  bool Walk(std::string_view piece) {
    for (const char c : piece) {
      if (InKeySequence(c)) continue;
      if (c == kCR || c == kLF) {
        echo_.clear();
        return true;
      }
      Key(c);
    }
    Flush();
    return false;
  }

 private:
  bool InKeySequence(char c) {
    KeySequence& sequence = connection_.keySequence;
    using Stage = KeySequence::Stage;
    switch (sequence.stage) {
      case Stage::kNone:
        if (c == kEscape) sequence = {Stage::kEscape, 1};
        return c == kEscape;
      case Stage::kEscape:
        if (c == '[' || c == 'O') {
          sequence = {c == '[' ? Stage::kControl : Stage::kSingleShift, 2};
          return true;
        }
        sequence = {};
        ClearLine();  // a lone escape cancels the line
        return false;
      case Stage::kSingleShift: sequence = {}; return true;
      case Stage::kControl:
        if (!IsSequenceMiddle(c)) {  // the final byte ends it; anything else is typed
          sequence = {};
          return IsSequenceFinal(c);
        }
        if (++sequence.length >= kLongestKeySequence) sequence = {};
        return true;
    }
    return false;
  }

  void Key(char c) {
    switch (c) {
      case kBackspace:
      case kDelete:
        if (!buffer_.empty()) {
          buffer_.pop_back();
          Erase(1);
        }
        return;
      case kCancel: return ClearLine();
      case kReprint: return Reprint();
      case kTelnetEscape: return;
      default: break;
    }
    if (state_.status == kChatUser && IsStrippedForChat(c)) return;
    if (buffer_.size() >= kReceiveBufferCap) return;
    buffer_ += c;
    if (state_.status == kLoggingIn && state_.substate == kPasswordEntry) echo_ += '*';
    if (state_.status == kChatUser && buffer_[0] != kConfigPacket && buffer_[0] != kAccountPacket) echo_ += c;
  }

  void ClearLine() {
    Erase(buffer_.size());
    buffer_.clear();
  }

  // The line is erased and shown again as it stands.
  void Reprint() {
    Erase(buffer_.size());
    Flush();
    server_.SendDirect(line_, "Reprinting..." + server_.lineBreak);
    server_.SendDirect(line_, buffer_);
  }

  void Erase(std::size_t characters) {
    for (; characters > 0; --characters) echo_ += kErase;
    Flush();
  }

  void Flush() {
    if (!echo_.empty() && !connection_.echoRefused) server_.SendDirect(line_, echo_);
    echo_.clear();
  }

  Server& server_;
  const int16_t line_;
  const LineState& state_;
  LineConnection& connection_;
  std::string& buffer_;
  std::string echo_;  // typed characters not yet echoed
};

void AppendToBuffer(Server& server, int16_t line, std::string_view text) {
  std::string& buffer = server.receiveBuffer[static_cast<std::size_t>(line)];
  const std::size_t room = buffer.size() < kReceiveBufferCap ? kReceiveBufferCap - buffer.size() : 0;
  buffer.append(text.substr(0, room));
}

// Commands go to the interpreter, other text to the channel; an empty line
// only releases what was held while the caller typed.
void DispatchChatLine(Server& server, int16_t line, const std::string& lineEnd) {
  const auto i = static_cast<std::size_t>(line);
  server.SendDirect(line, lineEnd);
  std::string& typed = server.inputLine[i];
  typed = server.receiveBuffer[i];
  if (!typed.empty() && typed[0] == '/') {
    server.CommandStack(line);
  } else if (!typed.empty()) {
    server.backlog(kChatMode, server.Handle(line, server.lines[i].handle.TrimmedLeft()) + typed, line);
  }
}

void FinishLine(Server& server, int16_t line) {
  const auto i = static_cast<std::size_t>(line);
  server.receiveBuffer[i].clear();
  server.inputLine[i].clear();
  server.typing[i] = false;
  server.BOut();
  if (server.InTimeLimitState(line)) server.TmeOut(line);
}

// A completed line goes where the line's status sends it.
void DispatchLine(Server& server, int16_t line) {
  const auto i = static_cast<std::size_t>(line);
  std::string& buffer = server.receiveBuffer[i];
  LineState& state = server.lines[i];
  if (buffer.empty() && state.status != kChatUser) {
    if (state.status == kLoggingIn) server.LoginControl(line);
    return;
  }
  // A line of more than one character is answered with a line break, and a
  // caller's line with one more: both leave in one send.
  const bool longLine = buffer.size() > 1 && state.status < kDDialLink;
  const std::string lineEnd = longLine ? server.lineBreak + server.lineBreak : server.lineBreak;
  server.typing[i] = false;
  switch (state.status) {
    case kLoggingIn:
      server.SendDirect(line, lineEnd);
      state.substate = kLoginLineTaken;
      server.inputLine[i] = buffer;
      server.LoginControl(line);
      break;
    case kChatUser: DispatchChatLine(server, line, lineEnd); break;
    case kDDialLink:
      server.FromDDL(buffer, line, 0);
      server.receiveBuffer[i].clear();
      server.inputLine[i].clear();
      return;
    case kQvsLink:
      server.inputLine[i] = buffer;
      server.FromQVS(server.inputLine[i], 0, 0);
      server.receiveBuffer[i].clear();
      server.inputLine[i].clear();
      return;
    default: break;  // a terminal session's lines relay before they assemble
  }
  FinishLine(server, line);
}

// A link's line is assembled raw; what follows its first CR is dropped.
void AssembleLinkLine(Server& server, int16_t line, const std::string& piece) {
  const std::size_t cr = piece.find(kCR);
  AppendToBuffer(server, line, std::string_view(piece).substr(0, cr));
  if (cr != std::string::npos) DispatchLine(server, line);
}

}  // namespace

void Server::OnPortRecv(int16_t Index, const std::string& received) {
  Trap("Port Recv")([&] {
    LineConnection& connection = ConnectionAt(Index);  // a line outside the table ends here
    if (connection.refused) return;
    if (connection.awaitingProxyHeader) {
      if (!received.empty()) TakeProxyHeader(Index, received);
      return;
    }
    RaisePlantedFault(FaultPoint::kReceive, received);
    const auto i = static_cast<std::size_t>(Index);
    // A line being closed takes no more input: a line typed during the close
    // would otherwise start another login or reach the chat. Its close notice
    // (empty data) still ends the session.
    if (!received.empty() && Closing(Index)) return;
    // Nor does a line whose failed login waits for its answer.
    if (!received.empty() && connection.lateAnswerDueMs != 0) return;
    RestartLoginIfAsked(*this, Index);
    if (RelayTerminal(*this, Index, received)) return;
    if (received.empty()) {
      lgoff(Index);
      return;
    }
    // The LF of a CR LF split across reads belongs to the line just ended
    // (the control drops the NUL of a CR NUL).
    std::string data = connection.afterBareCr && received[0] == kLF ? received.substr(1) : received;
    connection.afterBareCr = received.back() == kCR;
    if (data.empty()) return;
    typing[i] = true;
    if (TakeClientPacket(*this, Index, data)) return;
    if (StartLogin(*this, Index)) return;
    if (lines[i].status >= kDDialLink) {
      AssembleLinkLine(*this, Index, data);
    } else if (KeyWalk(*this, Index).Walk(data)) {
      DispatchLine(*this, Index);
    }
  });
}

bool Server::InTimeLimitState(int16_t line) {
  const LineState& state = LineAt(line);
  return (state.status == kChatUser && state.substate == kTimeLimitWarned) ||
         (state.status == kDDialLink && state.substate == kDDialTimeLimit) ||
         (state.status == kQvsLink && state.substate == kQvsTimeLimit);
}

}  // namespace tellarium
