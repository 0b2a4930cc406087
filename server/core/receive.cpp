// What a line receives: terminal relays, client packets, the start of the
// login, character filtering and echo, line assembly and the dispatch of a
// completed line by the line's status.
#include <string>

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

// Where a logging-in line is in the part of the login this file sees.
constexpr int16_t kAwaitingEnter = 0;   // greeted, not yet answered
constexpr int16_t kPasswordEntry = 1;   // the password prompt is shown
constexpr int16_t kLoginLineTaken = 2;  // a typed line went to the login
// The substates of links whose time limit was reached.
constexpr int16_t kDDialTimeLimit = 3;
constexpr int16_t kQvsTimeLimit = 2;

// The most a line may hold before its carriage return. Bytes past it are
// dropped until the line ends. Far above any typed line or client packet
// (the longest, a message slot, is about 4.3 KB).
constexpr std::size_t kReceiveBufferCap = 32 * 1024;

// The characters a chat user's line never carries to the chat or the links.
bool IsStrippedForChat(char c) { return c == '}' || c == '~'; }

}  // namespace

// The outcome of the character walk: the kept characters before the line end
// (or the whole piece), and how the walk ended.
struct Server::Filtered {
  enum class End { kPiece, kLine, kEvent } end = End::kPiece;
  std::string kept;
};

void Server::OnPortRecv(int16_t Index, const std::string& received) {
  Trap("Port Recv")([&] {
    LineAt(Index);  // a line outside the table ends here
    const auto i = static_cast<std::size_t>(Index);
    // A line being closed takes no more input: a line typed during the close
    // would otherwise start another login or reach the chat. Its close notice
    // (empty data) still ends the session.
    if (!received.empty() && Closing(Index)) return;
    RestartLoginIfAsked(Index);
    if (RelayTerminal(Index, received)) return;
    if (received.empty()) {
      lgoff(Index);
      return;
    }
    // The LF of a CR LF split across reads belongs to the line just ended.
    std::string data = afterBareCr_[i] && received[0] == kLF ? received.substr(1) : received;
    afterBareCr_[i] = received.back() == kCR;
    if (data.empty()) return;
    typing[i] = true;
    if (TakeClientPacket(Index, data)) return;
    if (StartLogin(Index)) return;
    if (lines[i].status >= kDDialLink) {
      AssembleLine(Index, data);
      return;
    }
    const Filtered filtered = FilterCharacters(Index, data);
    if (filtered.end == Filtered::End::kEvent) return;
    if (filtered.end == Filtered::End::kLine) {
      AppendToBuffer(Index, filtered.kept);
      DispatchLine(Index);
      return;
    }
    AssembleLine(Index, filtered.kept);
  });
}

// A chat user asked to log in again: the line starts over as a new caller.
void Server::RestartLoginIfAsked(int16_t Index) {
  LineState& line = LineAt(Index);
  if (line.status != kChatUser || line.substate != kRelogPending) return;
  MarkLoggingIn(Index);
  SendDirect(Index, std::string(3, '\x01'));
  AnnounceNewCaller(Index);
}

// The two lines of a terminal session pass their data through unchanged.
bool Server::RelayTerminal(int16_t Index, const std::string& data) {
  LineState& line = LineAt(Index);
  if (line.status != kOutdial || (line.substate != kInRemote && line.substate != kOutdialConnected)) return false;
  const int16_t paired = line.pairedLine;
  if (line.substate == kInRemote && data.size() == 1 && data[0] == kGrave) {
    ExitTerminal(Index);
  } else if (!data.empty()) {
    if (Connected(paired)) PortControl(paired).Send(data);
  } else if (line.substate == kInRemote) {
    // The user hung up: the outdial goes (after what is queued for it), and
    // this line is freed too.
    CloseConnection(paired);
    LineAt(paired).status = kOffline;
    lgoff(Index);
  } else {
    send(paired, 4, "Outdial disconnected." + lineBreak);
    LineState& user = LineAt(paired);
    user.status = kChatUser;
    user.substate = kOnChannel;
    lgoff(Index);
  }
  return true;
}

void Server::ExitTerminal(int16_t Index) {
  LineState& line = LineAt(Index);
  LineAt(line.pairedLine).substate = kRemoteExited;
  line.status = kChatUser;
  line.substate = kOnChannel;
  SendDirect(Index, stationPrefix + "Terminal Exited." + lineBreak);
}

// Packets of the graphical client: "V" and the version from every line;
// configuration and account packets only from those allowed to edit them.
bool Server::TakeClientPacket(int16_t Index, const std::string& data) {
  if (data[0] == kAccountPacket) {
    TakeAccountPacket(Index, data);
    return true;
  }
  if (data[0] != kConfigPacket) return false;
  const char c = data.size() > 1 ? data[1] : '\0';
  if (c == 'V') {
    LineState& line = LineAt(Index);
    const std::string version = data.substr(1);
    line.clientVersion = version.substr(0, version.find(kCR));
    line.lineType = kClientLine;
  } else if (c >= '0' && c <= '6') {
    if (!MayEditConfiguration(Index, c)) {
      Response(1, Index);
      return true;
    }
    cfgparse(data);
    send(Index, 4, "Done." + lineBreak);
  }
  return true;
}

// Only an online level-4 user edits the station; a line's session data (group
// 1) needs the line-edit level of the access configuration.
bool Server::MayEditConfiguration(int16_t Index, char group) {
  const LineState& line = LineAt(Index);
  if (line.status != kChatUser) return false;
  const int16_t required = group == '1' ? config.options[3] : int16_t{4};
  return required <= line.level;
}

// An account comes back only to the level-4 user who asked for it, and is
// written to the account asked for.
void Server::TakeAccountPacket(int16_t Index, const std::string& data) {
  const LineState& line = LineAt(Index);
  const std::string_view asked = Trim(line.editAccount);
  const bool named = !asked.empty() && asked.size() <= 3 && asked.find_first_not_of("0123456789") == std::string::npos;
  const int64_t account = named ? LeadingNumber(asked) : -1;
  if (line.status != kChatUser || line.level != 4 || account < 0) {
    Response(1, Index);
    return;
  }
  uparse(data.substr(1));
  uwrite(static_cast<int16_t>(account));
  send(Index, 4, "User Info Saved." + lineBreak);
}

// The caller answered the greeting: the login message and the password prompt.
bool Server::StartLogin(int16_t Index) {
  LineState& line = LineAt(Index);
  if (line.status != kLoggingIn || line.substate != kAwaitingEnter) return false;
  line.substate = kPasswordEntry;
  ReadSlot("!");
  SendDirect(Index, caret(currentSlot.text.Trimmed() + lineBreak));
  SendDirect(Index, "Enter PASSWORD or <RETURN>" + lineBreak + "-->");
  return true;
}

// The line editing keys act on what the line holds so far; a chat user's "}"
// and "~" are removed. The walk ends at the first carriage return.
Server::Filtered Server::FilterCharacters(int16_t Index, const std::string& data) {
  const auto i = static_cast<std::size_t>(Index);
  const bool chatUser = lines[i].status == kChatUser;
  Filtered result;
  for (std::size_t at = 0; at < data.size(); ++at) {
    const char c = data[at];
    std::string& buffer = receiveBuffer[i];
    if (c == kCR) {
      result.end = Filtered::End::kLine;
      return result;
    }
    if (c == kBackspace) {
      if (!buffer.empty()) {
        buffer.pop_back();
        SendDirect(Index, kErase);
      }
    } else if (c == kCancel || c == kEscape || c == kReprint) {
      EraseEcho(Index);
      if (c == kReprint) {
        SendDirect(Index, "Reprinting..." + lineBreak);
        SendDirect(Index, receiveBuffer[i]);
      } else {
        receiveBuffer[i].clear();
      }
      // What follows the key is taken as the line so far, as it is.
      if (at + 1 < data.size()) receiveBuffer[i] = data.substr(at + 1, kReceiveBufferCap);
      result.end = Filtered::End::kEvent;
      return result;
    } else if (!(chatUser && IsStrippedForChat(c))) {
      result.kept += c;
    }
  }
  return result;
}

void Server::EraseEcho(int16_t Index) {
  std::string erase;
  for (std::size_t n = receiveBuffer[static_cast<std::size_t>(Index)].size(); n > 0; --n) erase += kErase;
  SendDirect(Index, erase);
}

// Returns what fitted under the cap.
std::string Server::AppendToBuffer(int16_t Index, std::string_view text) {
  std::string& buffer = receiveBuffer[static_cast<std::size_t>(Index)];
  const std::size_t room = buffer.size() < kReceiveBufferCap ? kReceiveBufferCap - buffer.size() : 0;
  const std::string_view taken = text.substr(0, room);
  buffer.append(taken);
  return std::string(taken);
}

// Adds a piece to the line; without a line end the typed characters are echoed.
void Server::AssembleLine(int16_t Index, const std::string& piece) {
  const auto i = static_cast<std::size_t>(Index);
  const std::size_t cr = piece.find(kCR);
  const std::string taken = AppendToBuffer(Index, std::string_view(piece).substr(0, cr));
  std::string& buffer = receiveBuffer[i];
  const std::size_t bufferCr = buffer.find(kCR);
  if (cr == std::string::npos && bufferCr == std::string::npos) {
    const LineState& line = lines[i];
    if (line.status == kLoggingIn && line.substate == kPasswordEntry) {
      SendDirect(Index, std::string(taken.size(), '*'));
    } else if (line.status == kChatUser) {
      if (buffer[0] != kConfigPacket && buffer[0] != kAccountPacket) SendDirect(Index, taken);
      typing[i] = true;
    }
    return;
  }
  if (bufferCr != std::string::npos) buffer.erase(bufferCr);
  DispatchLine(Index);
}

// A completed line goes where the line's status sends it.
void Server::DispatchLine(int16_t Index) {
  const auto i = static_cast<std::size_t>(Index);
  std::string& buffer = receiveBuffer[i];
  LineState& line = lines[i];
  if (buffer.empty() && line.status != kChatUser) {
    if (line.status == kLoggingIn) LoginControl(Index);
    return;
  }
  if (buffer.size() > 1 && line.status < kDDialLink) SendDirect(Index, lineBreak);
  typing[i] = false;
  switch (line.status) {
    case kLoggingIn:
      SendDirect(Index, lineBreak);
      line.substate = kLoginLineTaken;
      inputLine[i] = buffer;
      LoginControl(Index);
      break;
    case kChatUser: DispatchChatLine(Index); break;
    case kDDialLink:
      FromDDL(buffer, Index, 0);
      receiveBuffer[i].clear();
      inputLine[i].clear();
      return;
    case kQvsLink:
      inputLine[i] = buffer;
      FromQVS(inputLine[i], 0, 0);
      receiveBuffer[i].clear();
      inputLine[i].clear();
      return;
    default: break;  // a terminal session's lines relay before they assemble
  }
  FinishLine(Index);
}

// Commands go to the interpreter, other text to the channel; an empty line
// only releases what was held while the caller typed.
void Server::DispatchChatLine(int16_t Index) {
  const auto i = static_cast<std::size_t>(Index);
  SendDirect(Index, lineBreak);
  inputLine[i] = receiveBuffer[i];
  if (!inputLine[i].empty() && inputLine[i][0] == '/') {
    CommandStack(Index);
  } else if (!inputLine[i].empty()) {
    backlog(0, Handle(Index, lines[i].handle.TrimmedLeft()) + inputLine[i], Index);
  }
}

void Server::FinishLine(int16_t Index) {
  const auto i = static_cast<std::size_t>(Index);
  receiveBuffer[i].clear();
  inputLine[i].clear();
  typing[i] = false;
  BOut();
  if (InTimeLimitState(Index)) TmeOut(Index);
}

bool Server::InTimeLimitState(int16_t line) {
  const LineState& state = LineAt(line);
  return (state.status == kChatUser && state.substate == kTimeLimitWarned) ||
         (state.status == kDDialLink && state.substate == kDDialTimeLimit) ||
         (state.status == kQvsLink && state.substate == kQvsTimeLimit);
}

}  // namespace tellarium
