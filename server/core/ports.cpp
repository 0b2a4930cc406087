// Ports and connections: the controls, the two listeners, placing a caller on
// a line or refusing it, the greeting and the answers to option negotiation.
// Every event of a control runs inside a trap of its own.
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/console.h"
#include "platform/loop.h"
#include "server/core/proxy_header.h"
#include "server/core/server.h"
#include "telnetctl/korvatel.h"

namespace tellarium {
namespace {

// Asks the backlog window to release held output.
constexpr uint32_t kReleaseMessage = platform::kFirstUserMessage;

// Refusal controls in use at once. A refusal closes as soon as its one line
// is handed to the socket, so a handful covers any burst; past this bound the
// longest-closing one is cut short to take the next caller.
constexpr std::size_t kMaxRefusalControls = 32;

// The greeting's fixed subnegotiation: IAC SB, its option, three bytes, IAC SE.
constexpr int16_t kGreetingOption = 0;
const std::string kGreetingSubnegotiation(3, '\x01');
constexpr int32_t kNoDataTag = 0;

// Each group of controls reports to its own entry point.
struct ListenerEvents final : TelnetControlEvents {
  explicit ListenerEvents(Server& s) : server(s) {}
  void OnAccept(int16_t, int32_t newSession) override { server.OnListenerAccept(newSession); }
  Server& server;
};

struct Line0Events final : TelnetControlEvents {
  explicit Line0Events(Server& s) : server(s) {}
  void OnAccept(int16_t, int32_t newSession) override { server.OnLine0Accept(newSession); }
  Server& server;
};

struct PortEvents final : TelnetControlEvents {
  explicit PortEvents(Server& s) : server(s) {}
  void OnConnect(int16_t index, const std::string& remote, const std::string& session, int32_t,
                 const std::string&) override {
    server.OnPortConnect(index, remote, session);
  }
  void OnCmd(int16_t index, int16_t command, int16_t option, const std::string&) override {
    server.OnPortCmd(index, command, option);
  }
  void OnRecv(int16_t index, const std::string& data) override { server.OnPortRecv(index, data); }
  void OnException(int16_t index, int16_t, const std::string& text) override { server.OnPortException(index, text); }
  void OnSend(int16_t index, int32_t dataTag) override { server.OnPortSent(index, dataTag); }
  Server& server;
};

// Runs BOut once the event that held output has ended; one release pending
// at most. An event that lets events run is not ended (a caller it logs off
// must not be sent what was held for it meanwhile), so the release is posted
// to the loop: no pump inside an event takes it.
struct BacklogWindow final : platform::MessageTarget {
  explicit BacklogWindow(Server& s) : server(s) {}
  void HandleMessage(uint32_t message, uint64_t, int64_t) override {
    if (message != kReleaseMessage) return;
    pending = false;
    server.Trap("BlogTimer")([&] { server.BOut(); });
  }
  Server& server;
  bool pending = false;
};

void ReplyOption(Server& server, int16_t line, int16_t command, int16_t option) {
  server.PortControl(line).SendCmd(command, option, "", kNoDataTag);  // no subnegotiation
  server.ConnectionAt(line).optionsSent[static_cast<uint8_t>(option)] = static_cast<uint8_t>(command);
}

// A refusal answering a refusal is not repeated: two sides built alike would
// otherwise trade them forever.
void RefuseOption(Server& server, int16_t line, int16_t refusal, int16_t option) {
  if (server.ConnectionAt(line).optionsSent[static_cast<uint8_t>(option)] == refusal) return;
  ReplyOption(server, line, refusal, option);
}

// Each way once: the first DO (the acknowledgement of the offer too) is
// answered WILL, the first WILL is answered DO.
void AgreeSuppressGoAhead(Server& server, int16_t line, int16_t reply, bool& agreed) {
  if (agreed) return;
  ReplyOption(server, line, reply, tntlib::tntSuppressGoAhead);
  agreed = true;
  server.LineAt(line).sgaPending = false;
}

void AnswerDo(Server& server, int16_t line, int16_t option) {
  LineState& state = server.LineAt(line);
  if (option == tntlib::tntSuppressGoAhead) {
    AgreeSuppressGoAhead(server, line, tntlib::tntWILL, state.sgaWillAgreed);
  } else if (option == tntlib::tntEcho) {
    if (state.echoAgreed) return;
    ReplyOption(server, line, tntlib::tntWILL, option);
    state.echoAgreed = true;
    state.echoRequested = true;
    server.ConnectionAt(line).echoRefused = false;
  } else {
    ReplyOption(server, line, tntlib::tntWONT, option);
  }
}

// The station echoes; the peer is asked not to.
void AnswerWill(Server& server, int16_t line, int16_t option) {
  LineState& state = server.LineAt(line);
  if (option == tntlib::tntSuppressGoAhead) {
    AgreeSuppressGoAhead(server, line, tntlib::tntDO, state.sgaDoAgreed);
  } else if (option == tntlib::tntEcho) {
    ReplyOption(server, line, tntlib::tntDONT, option);
    ReplyOption(server, line, tntlib::tntDONT, option);
    state.echoRequested = true;
  } else {
    ReplyOption(server, line, tntlib::tntDONT, option);
  }
}

// A caller that echoes its own typing gets no echo until it asks again.
void AnswerDont(Server& server, int16_t line, int16_t option) {
  if (option == tntlib::tntEcho) {
    server.LineAt(line).echoAgreed = false;
    server.ConnectionAt(line).echoRefused = true;
  }
  RefuseOption(server, line, tntlib::tntWONT, option);
}

// A new connection starts with nothing of the line's previous one.
void ClearConnectionState(Server& server, int16_t line) {
  LineConnection& connection = server.ConnectionAt(line);
  connection.optionsSent.fill(0);
  connection.afterBareCr = connection.echoRefused = false;
  connection.keySequence = {};
  connection.refused = connection.answeringLate = false;
  connection.unsentBytes = connection.lateAnswerDueMs = 0;
  connection.awaitingProxyHeader = false;
  connection.proxyHeader.clear();
  const auto i = static_cast<std::size_t>(line);
  server.receiveBuffer[i].clear();
  server.inputLine[i].clear();
  server.typing[i] = false;
}

// Echo and suppress-go-ahead are offered, so that clients type in character
// mode on any port. No WONT 34 is offered here: the option answers refuse
// line mode when asked.
void Greet(Server& server, int16_t line) {
  // The line is marked before anything is sent: a connection that fails
  // while greeted is logged off at once and must stay free.
  server.MarkLoggingIn(line);
  server.StartLoginClock(line);
  ReplyOption(server, line, tntlib::tntWILL, tntlib::tntEcho);
  ReplyOption(server, line, tntlib::tntWILL, tntlib::tntSuppressGoAhead);
  if (server.Connected(line)) server.PortControl(line).SendCmd(0, kGreetingOption, kGreetingSubnegotiation, kNoDataTag);
  const std::string& br = server.lineBreak;
  server.SendDirect(line, br + "Welcome to QVS-" + server.stationNumber + ":" + server.stationName + br +
                              "Running QVS " + server.serverVersion + br + "You are connected to port #" +
                              std::to_string(line) + br + "Press <ENTER> To Login." + br);
  if (server.Connected(line)) server.AnnounceNewCaller(line);
}

// The outdial side of a terminal session has connected: the two lines are
// paired and the waiting user is told. The states come first: the far
// station's greeting may arrive while the user leaves its place, and is
// relayed, not lost; the notice goes straight out, ahead of the greeting.
void CompleteOutdial(Server& server, int16_t line) {
  const int16_t user = server.LineAt(line).pairedLine;
  server.LineAt(line).substate = kOutdialConnected;
  server.LeavePlace(user);
  LineState& userLine = server.LineAt(user);
  userLine.status = kOutdial;
  userLine.substate = kInRemote;
  userLine.pairedLine = line;
  server.CountChannelUsers();
  server.SendDirect(user, server.stationPrefix + "Terminal connected. ` to Exit." + server.lineBreak);
  ReplyOption(server, line, tntlib::tntWILL, tntlib::tntEcho);
}

}  // namespace

// The window's controls, with their event handlers declared first so that
// the controls go first.
struct Server::Controls {
  explicit Controls(Server& s) : listenerEvents(s), line0Events(s), portEvents(s), backlog(s) {}

  TelnetControl& FreeRefusalControl(const ControlFactory& make);
  // Both listeners take the ports of the configuration. They reuse their
  // address, so that neither a restart nor a move back to a port is refused
  // while closed connections linger on it.
  void SetListenerPorts(const ServerConfig& config);

  ListenerEvents listenerEvents;
  Line0Events line0Events;
  PortEvents portEvents;
  TelnetControlEvents refusalEvents;  // a refused caller's input is dropped
  BacklogWindow backlog;
  std::unique_ptr<TelnetControl> Listener;
  std::unique_ptr<TelnetControl> Line0;
  std::array<std::unique_ptr<TelnetControl>, kMaxMainLines + 1> port;
  // One per refusal still closing, so callers arriving together are all told.
  std::vector<std::unique_ptr<TelnetControl>> Full;
};

TelnetControl& Server::Controls::FreeRefusalControl(const ControlFactory& make) {
  for (auto& control : Full) {
    if (control->State() == tntlib::tntClosed) return *control;
  }
  if (Full.size() < kMaxRefusalControls) {
    Full.push_back(std::make_unique<TelnetControl>(static_cast<int16_t>(Full.size()), refusalEvents, make()));
    Full.back()->SetNoDelay(true);
    return *Full.back();
  }
  Full.front()->Close(true);
  return *Full.front();
}

void Server::Controls::SetListenerPorts(const ServerConfig& config) {
  for (TelnetControl* listener : {Listener.get(), Line0.get()}) listener->SetReuseAddr(true);
  Listener->SetLocalPort(config.mainPort);
  Line0->SetLocalPort(config.line0Port);
}

// The window's controls: a server without them (tools and tests that work
// with the data files only) opens no ports.
void Server::CreateControls() {
  if (controls_) return;
  Controls& made = controls_.Emplace(*this);
  made.Listener = std::make_unique<TelnetControl>(0, made.listenerEvents, controlFactory_());
  made.Line0 = std::make_unique<TelnetControl>(0, made.line0Events, controlFactory_());
  // A reply made of several sends must not wait for the caller's delayed
  // acknowledgement of the first.
  for (std::size_t i = 0; i < made.port.size(); ++i) {
    made.port[i] = std::make_unique<TelnetControl>(static_cast<int16_t>(i), made.portEvents, controlFactory_());
    made.port[i]->SetNoDelay(true);
  }
}

void Server::OpenListeners() {
  if (!controls_) return;
  controls_->SetListenerPorts(config);
  if (!controls_->Listener->Listen(0)) {
    platform::console::MessageBox("The main ports failed to initialize.");
    platform::console::EndProgram(1);
  }
  if (!controls_->Line0->Listen(0)) {
    platform::console::MessageBox("Line 0 failed to initialize.");
    platform::console::EndProgram(1);
  }
}

// Group 5 of the client's configuration: both listeners move to the ports
// just stored, line #0 first. Failures here are not reported.
void Server::RestartListeners() {
  if (!controls_) return;
  controls_->Listener->Close(true);
  controls_->Line0->Close(true);
  controls_->SetListenerPorts(config);
  controls_->Line0->Listen(0);
  controls_->Listener->Listen(0);
}

void Server::KeepReleasing() {
  if (!controls_ || controls_->backlog.pending) return;
  controls_->backlog.pending = platform::PostMessageToLoop(controls_->backlog.target_id(), kReleaseMessage);
}

TelnetControl& Server::PortControl(int16_t line) {
  if (!controls_) Raise(ErrorNumber::kInvalidCall);
  return *controls_->port.at(static_cast<std::size_t>(line));
}

bool Server::Connected(int16_t l) {
  if (!controls_ || l < 0 || l >= static_cast<int16_t>(controls_->port.size())) return false;
  return PortControl(l).State() == tntlib::tntConnected;
}

// While a line's connection is closing its input is dropped.
bool Server::Closing(int16_t line) { return controls_ && PortControl(line).State() == tntlib::tntClosing; }

void Server::SendDirect(int16_t l, const std::string& text) { Transmit(l, text); }

// Each send is tagged with its size, so that its completion notice tells how
// much has left. A send the control cannot take stays counted: its bytes are lost.
bool Server::Transmit(int16_t l, std::string data) {
  if (!Connected(l)) return false;
  if (data.empty()) return true;
  LineConnection& connection = ConnectionAt(l);
  const auto size = static_cast<int32_t>(data.size());
  connection.unsentBytes += size;
  PortControl(l).Send(std::move(data), size);
  if (connection.unsentBytes > int64_t{limits.outputBoundKib} * kKib && Connected(l)) CutOffReader(l);
  return true;
}

void Server::MarkLoggingIn(int16_t line) {
  LineState& state = LineAt(line);
  state.status = kLoggingIn;
  state.substate = kAwaitingEnter;
  state.lineType = kTelnetLine;
}

// Chat users hear of every caller that starts to log in.
void Server::AnnounceNewCaller(int16_t line) {
  backlog(kNoticeMode, "Login #" + std::to_string(line) + "." + lineBreak, line);
}

// The lowest free main port takes the caller; currentLine is left at that
// line, or at maxLines + 1 when none was free. A line still being logged off
// is not free, though its connection may be closed already.
void Server::OnListenerAccept(int32_t nNewSession) {
  Trap("Listener Accept")([&] {
    for (currentLine = 1; currentLine <= config.maxLines; ++currentLine) {
      TelnetControl& line = PortControl(currentLine);
      if (line.State() == tntlib::tntClosed && !LoggingOff(currentLine)) {
        line.Accept(nNewSession);
        return;
      }
    }
    TelnetControl& refusal = controls_->FreeRefusalControl(controlFactory_);
    if (!refusal.Accept(nNewSession)) return;
    refusal.Send("Sorry, the system is full. Try again later." + lineBreak);
    refusal.Close(false);
  });
}

void Server::OnLine0Accept(int32_t nNewSession) {
  Trap("Line0 Accept")([&] {
    if (PortControl(0).State() == tntlib::tntClosed && !LoggingOff(0)) {
      PortControl(0).Accept(nNewSession);
      return;
    }
    TelnetControl& refusal = controls_->FreeRefusalControl(controlFactory_);
    if (!refusal.Accept(nNewSession)) return;
    refusal.Send("Sorry, line #0 is in use. Try the main ports." + lineBreak);
    refusal.Close(false);
  });
}

void Server::OnPortConnect(int16_t Index, const std::string& sRemoteDotAddr, const std::string& sSessionDotAddr) {
  Trap("Port Connect")([&] {
    LineState& line = LineAt(Index);
    LineConnection& connection = ConnectionAt(Index);
    ++connection.serial;
    ClearConnectionState(*this, Index);
    connection.sessionAddress = sSessionDotAddr;
    if (line.status == kOutdial && line.substate == kOutdialPending) {
      line.remoteAddress = sRemoteDotAddr;
      connection.callerAddress.clear();
      CompleteOutdial(*this, Index);
    } else if (IsListed(limits.proxyFrom, sRemoteDotAddr)) {
      AwaitProxyHeader(Index, sRemoteDotAddr);
    } else {
      AdmitCaller(Index, sRemoteDotAddr, true);
    }
  });
}

void Server::AdmitCaller(int16_t line, const std::string& address, bool screened) {
  if (screened && RefusedAtConnect(line, address)) return;
  LineAt(line).remoteAddress = address;
  ConnectionAt(line).callerAddress = address;
  Greet(*this, line);
}

// The proxy's own address stands for the caller until the header names it;
// a line still free counts toward no address's lines.
void Server::AwaitProxyHeader(int16_t line, const std::string& proxy) {
  LineConnection& connection = ConnectionAt(line);
  connection.callerAddress = proxy;
  connection.awaitingProxyHeader = true;
  connection.loginDeadlineMs = platform::CurrentClock().MonotonicMs() + kProxyHeaderWaitMs;
  EnableTimer(SessionTimer::LoginTimer, true);
}

// What follows the header is the caller's first input. "PROXY UNKNOWN" keeps
// the proxy's address, which no per-address defence counts.
void Server::TakeProxyHeader(int16_t line, const std::string& received) {
  LineConnection& connection = ConnectionAt(line);
  connection.proxyHeader += received;
  const ProxyHeader header = ReadProxyHeader(connection.proxyHeader);
  if (header.kind == ProxyHeaderKind::kIncomplete) return;
  if (header.kind == ProxyHeaderKind::kMalformed) {
    RefuseProxyHeader(line);
    return;
  }
  const std::string rest = connection.proxyHeader.substr(header.length);
  connection.awaitingProxyHeader = false;
  connection.proxyHeader.clear();
  const bool named = header.kind == ProxyHeaderKind::kCaller;
  AdmitCaller(line, named ? header.callerAddress : connection.callerAddress, named);
  if (!rest.empty() && Connected(line)) OnPortRecv(line, rest);
}

// No header, or not a well-formed one, in time: the connection goes at once.
void Server::RefuseProxyHeader(int16_t line) {
  LineConnection& connection = ConnectionAt(line);
  LogDefence(connection.callerAddress, "proxy header",
             "Refused " + connection.callerAddress + ": malformed proxy header.");
  connection.awaitingProxyHeader = false;
  connection.refused = true;
  PortControl(line).Close(true);
}

// An outdial that cannot connect ends: its caller hears why, and the line,
// whose login was announced, is logged off and free again.
void Server::OnPortException(int16_t Index, const std::string& text) {
  Trap("Port Exception")([&] {
    const LineState& line = LineAt(Index);
    if (line.status != kOutdial || line.substate != kOutdialPending) return;
    send(line.pairedLine, kStationMode, "Outdial failed: " + text + lineBreak);
    lgoff(Index);
  });
}

// Offers already agreed are not answered again; the line's negotiation flags
// remember them until its logoff.
void Server::OnPortCmd(int16_t Index, int16_t nCommand, int16_t nOption) {
  Trap("Port Cmd")([&] {
    const LineConnection& connection = ConnectionAt(Index);
    if (connection.refused || connection.awaitingProxyHeader) return;
    switch (nCommand) {
      case tntlib::tntDO: AnswerDo(*this, Index, nOption); break;
      case tntlib::tntWILL: AnswerWill(*this, Index, nOption); break;
      case tntlib::tntDONT: AnswerDont(*this, Index, nOption); break;
      case tntlib::tntWONT: RefuseOption(*this, Index, tntlib::tntDONT, nOption); break;
      default: break;
    }
  });
}

}  // namespace tellarium
