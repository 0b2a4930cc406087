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
constexpr char kCancel = '\x18';
constexpr char kEscape = '\x1B';
constexpr char kReprint = '\x15';
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

// The outcome of the character walk: the kept characters before the line end
// (or the whole piece), and how the walk ended.
struct Filtered {
  enum class End { kPiece, kLine, kEvent } end = End::kPiece;
  std::string kept;
};

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
    if (server.Connected(paired)) server.PortControl(paired).Send(data);
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

void EraseEcho(Server& server, int16_t line) {
  std::string erase;
  for (std::size_t n = server.receiveBuffer[static_cast<std::size_t>(line)].size(); n > 0; --n) erase += kErase;
  server.SendDirect(line, erase);
}

// The line editing keys act on what the line holds so far; a chat user's "}"
// and "~" are removed. The walk ends at the first carriage return.
Filtered FilterCharacters(Server& server, int16_t line, const std::string& data) {
  const auto i = static_cast<std::size_t>(line);
  const bool chatUser = server.lines[i].status == kChatUser;
  std::string& buffer = server.receiveBuffer[i];
  Filtered result;
  for (std::size_t at = 0; at < data.size(); ++at) {
    const char c = data[at];
    if (c == kCR) {
      result.end = Filtered::End::kLine;
      return result;
    }
    if (c == kBackspace) {
      if (!buffer.empty()) {
        buffer.pop_back();
        server.SendDirect(line, kErase);
      }
    } else if (c == kCancel || c == kEscape || c == kReprint) {
      EraseEcho(server, line);
      if (c == kReprint) {
        server.SendDirect(line, "Reprinting..." + server.lineBreak);
        server.SendDirect(line, buffer);
      } else {
        buffer.clear();
      }
      // What follows the key is taken as the line so far, as it is.
      if (at + 1 < data.size()) buffer = data.substr(at + 1, kReceiveBufferCap);
      result.end = Filtered::End::kEvent;
      return result;
    } else if (!(chatUser && IsStrippedForChat(c))) {
      result.kept += c;
    }
  }
  return result;
}

// Returns what fitted under the cap.
std::string AppendToBuffer(Server& server, int16_t line, std::string_view text) {
  std::string& buffer = server.receiveBuffer[static_cast<std::size_t>(line)];
  const std::size_t room = buffer.size() < kReceiveBufferCap ? kReceiveBufferCap - buffer.size() : 0;
  const std::string_view taken = text.substr(0, room);
  buffer.append(taken);
  return std::string(taken);
}

// Commands go to the interpreter, other text to the channel; an empty line
// only releases what was held while the caller typed.
void DispatchChatLine(Server& server, int16_t line) {
  const auto i = static_cast<std::size_t>(line);
  server.SendDirect(line, server.lineBreak);
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
  if (buffer.size() > 1 && state.status < kDDialLink) server.SendDirect(line, server.lineBreak);
  server.typing[i] = false;
  switch (state.status) {
    case kLoggingIn:
      server.SendDirect(line, server.lineBreak);
      state.substate = kLoginLineTaken;
      server.inputLine[i] = buffer;
      server.LoginControl(line);
      break;
    case kChatUser: DispatchChatLine(server, line); break;
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

// Adds a piece to the line; without a line end the typed characters are echoed.
void AssembleLine(Server& server, int16_t line, const std::string& piece) {
  const auto i = static_cast<std::size_t>(line);
  const std::size_t cr = piece.find(kCR);
  const std::string taken = AppendToBuffer(server, line, std::string_view(piece).substr(0, cr));
  std::string& buffer = server.receiveBuffer[i];
  const std::size_t bufferCr = buffer.find(kCR);
  if (cr == std::string::npos && bufferCr == std::string::npos) {
    const LineState& state = server.lines[i];
    if (state.status == kLoggingIn && state.substate == kPasswordEntry) {
      server.SendDirect(line, std::string(taken.size(), '*'));
    } else if (state.status == kChatUser) {
      if (buffer[0] != kConfigPacket && buffer[0] != kAccountPacket) server.SendDirect(line, taken);
      server.typing[i] = true;
    }
    return;
  }
  if (bufferCr != std::string::npos) buffer.erase(bufferCr);
  DispatchLine(server, line);
}

}  // namespace

void Server::OnPortRecv(int16_t Index, const std::string& received) {
  Trap("Port Recv")([&] {
    LineConnection& connection = ConnectionAt(Index);  // a line outside the table ends here
    RaisePlantedFault(FaultPoint::kReceive, received);
    const auto i = static_cast<std::size_t>(Index);
    // A line being closed takes no more input: a line typed during the close
    // would otherwise start another login or reach the chat. Its close notice
    // (empty data) still ends the session.
    if (!received.empty() && Closing(Index)) return;
    RestartLoginIfAsked(*this, Index);
    if (RelayTerminal(*this, Index, received)) return;
    if (received.empty()) {
      lgoff(Index);
      return;
    }
    // The LF of a CR LF split across reads belongs to the line just ended.
    std::string data = connection.afterBareCr && received[0] == kLF ? received.substr(1) : received;
    connection.afterBareCr = received.back() == kCR;
    if (data.empty()) return;
    typing[i] = true;
    if (TakeClientPacket(*this, Index, data)) return;
    if (StartLogin(*this, Index)) return;
    if (lines[i].status >= kDDialLink) {
      AssembleLine(*this, Index, data);
      return;
    }
    const Filtered filtered = FilterCharacters(*this, Index, data);
    if (filtered.end == Filtered::End::kEvent) return;
    if (filtered.end == Filtered::End::kLine) {
      AppendToBuffer(*this, Index, filtered.kept);
      DispatchLine(*this, Index);
      return;
    }
    AssembleLine(*this, Index, filtered.kept);
  });
}

bool Server::InTimeLimitState(int16_t line) {
  const LineState& state = LineAt(line);
  return (state.status == kChatUser && state.substate == kTimeLimitWarned) ||
         (state.status == kDDialLink && state.substate == kDDialTimeLimit) ||
         (state.status == kQvsLink && state.substate == kQvsTimeLimit);
}

}  // namespace tellarium
