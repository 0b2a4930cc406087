// Ports and connections: the controls, the two listeners, placing a caller on
// a line or refusing it, the greeting and the answers to option negotiation.
#include <string>

#include "platform/console.h"
#include "server/core/server.h"
#include "telnetctl/korvatel.h"

namespace tellarium {
namespace {

constexpr uint32_t kBlogTimerId = 1;
constexpr uint32_t kBlogIntervalMs = 100;

// Refusal controls in use at once. A refusal closes as soon as its one line
// is handed to the socket, so a handful covers any burst; past this bound the
// longest-closing one is cut short to take the next caller.
constexpr std::size_t kMaxRefusalControls = 32;

}  // namespace

std::unique_ptr<platform::Component> Server::NewControlComponent() {
  return std::unique_ptr<platform::Component>(KorvatelCreateControl());
}

// The window's controls: a server without them (tools and tests that work
// with the data files only) opens no ports.
void Server::CreateControls() {
  if (controls_) return;
  controls_.Emplace(*this);
  controls_->Listener = std::make_unique<TelnetControl>(0, controls_->listenerEvents, NewControlComponent());
  controls_->Line0 = std::make_unique<TelnetControl>(0, controls_->line0Events, NewControlComponent());
  for (std::size_t i = 0; i < controls_->port.size(); ++i) {
    controls_->port[i] =
        std::make_unique<TelnetControl>(static_cast<int16_t>(i), controls_->portEvents, NewControlComponent());
  }
}

// Both listeners take the ports of the configuration. They reuse their
// address, so that neither a restart nor a move back to a port is refused
// while closed connections linger on it.
void Server::SetListenerPorts() {
  for (TelnetControl* listener : {controls_->Listener.get(), controls_->Line0.get()}) listener->SetReuseAddr(true);
  controls_->Listener->SetLocalPort(config.mainPort);
  controls_->Line0->SetLocalPort(config.line0Port);
}

void Server::OpenListeners() {
  if (!controls_) return;
  TelnetControl& Listener = *controls_->Listener;
  TelnetControl& Line0 = *controls_->Line0;
  SetListenerPorts();
  if (!Listener.Listen(0)) {
    platform::console::MessageBox("The main ports failed to initialize.");
    platform::console::EndProgram(1);
  }
  if (!Line0.Listen(0)) {
    platform::console::MessageBox("Line 0 failed to initialize.");
    platform::console::EndProgram(1);
  }
}

void Server::StartBlogTimer() {
  if (controls_) platform::SetTimer(controls_->timerWindow.target_id(), kBlogTimerId, kBlogIntervalMs);
}

void Server::TimerWindow::HandleMessage(uint32_t message, uint64_t wparam, int64_t) {
  if (message == platform::kTimerMessage && wparam == kBlogTimerId) server.BOut();
}

// The lowest free main port takes the caller; currentLine is left at that
// line, or at maxLines + 1 when none was free. A line still being logged off
// is not free, though its connection may be closed already.
void Server::OnListenerAccept(int32_t nNewSession) {
  for (currentLine = 1; currentLine <= config.maxLines; ++currentLine) {
    TelnetControl& line = PortControl(currentLine);
    if (line.State() == tntlib::tntClosed && !LoggingOff(currentLine)) {
      line.Accept(nNewSession);
      return;
    }
  }
  Refuse(nNewSession, "Sorry, the system is full. Try again later.");
}

void Server::OnLine0Accept(int32_t nNewSession) {
  if (PortControl(0).State() != tntlib::tntClosed || LoggingOff(0)) {
    Refuse(nNewSession, "Sorry, line #0 is in use. Try the main ports.");
    return;
  }
  PortControl(0).Accept(nNewSession);
}

void Server::Refuse(int32_t nNewSession, std::string_view text) {
  TelnetControl& refusal = FreeRefusalControl();
  if (!refusal.Accept(nNewSession)) return;
  refusal.Send(std::string(text) + lineBreak);
  refusal.Close(false);
}

TelnetControl& Server::FreeRefusalControl() {
  auto& Full = controls_->Full;
  for (auto& control : Full) {
    if (control->State() == tntlib::tntClosed) return *control;
  }
  if (Full.size() < kMaxRefusalControls) {
    Full.push_back(std::make_unique<TelnetControl>(static_cast<int16_t>(Full.size()), controls_->refusalEvents,
                                                   NewControlComponent()));
    return *Full.back();
  }
  Full.front()->Close(true);
  return *Full.front();
}

void Server::OnPortConnect(int16_t Index, const std::string& sRemoteDotAddr, const std::string& sSessionDotAddr) {
  Trap("Port Connect")([&] {
    LineState& line = LineAt(Index);
    line.remoteAddress = sRemoteDotAddr;
    sessionAddress_[static_cast<std::size_t>(Index)] = sSessionDotAddr;
    ++connectionCount_[static_cast<std::size_t>(Index)];
    ClearConnectionState(Index);
    if (line.status == kOutdial && line.substate == kOutdialPending) {
      CompleteOutdial(Index);
    } else {
      Greet(Index);
    }
  });
}

// A new connection starts with nothing of the line's previous one.
void Server::ClearConnectionState(int16_t line) {
  const auto i = static_cast<std::size_t>(line);
  optionsSent_[i].fill(0);
  afterBareCr_[i] = false;
  receiveBuffer[i].clear();
  inputLine[i].clear();
  typing[i] = false;
}

// No WONT 34 is offered here: the option answers refuse line mode when asked.
void Server::Greet(int16_t Index) {
  // The line is marked before anything is sent: a connection that fails
  // while greeted is logged off at once and must stay free.
  MarkLoggingIn(Index);
  ReplyOption(Index, tntlib::tntWILL, tntlib::tntEcho);
  if (Connected(Index)) PortControl(Index).SendCmd(0, 0, std::string(3, '\x01'), 0);
  SendDirect(Index, lineBreak + "Welcome to QVS-" + stationNumber + ":" + stationName + lineBreak + "Running QVS " +
                        serverVersion + lineBreak + "You are connected to port #" + std::to_string(Index) +
                        lineBreak + "Press <ENTER> To Login." + lineBreak);
  if (Connected(Index)) AnnounceNewCaller(Index);
}

void Server::MarkLoggingIn(int16_t Index) {
  LineState& line = LineAt(Index);
  line.status = kLoggingIn;
  line.substate = 0;  // greeted, waiting for ENTER
  line.lineType = kTelnetLine;
}

// Chat users hear of every caller that starts to log in.
void Server::AnnounceNewCaller(int16_t Index) {
  backlog(4, "Login #" + std::to_string(Index) + "." + lineBreak, Index);
}

// The outdial side of a terminal session has connected: the waiting user
// side is told and the two lines are paired.
void Server::CompleteOutdial(int16_t Index) {
  LineState& line = LineAt(Index);
  const int16_t user = line.pairedLine;
  send(user, 4, "Terminal connected. ` to Exit." + lineBreak);
  ReplyOption(Index, tntlib::tntWILL, tntlib::tntEcho);
  LineState& userLine = LineAt(user);
  userLine.status = kOutdial;
  userLine.substate = kInRemote;
  userLine.pairedLine = Index;
  line.substate = kOutdialConnected;
}

// Offers already agreed are not answered again; the line's negotiation flags
// remember them until its logoff.
void Server::OnPortCmd(int16_t Index, int16_t nCommand, int16_t nOption) {
  Trap("Port Cmd")([&] {
    switch (nCommand) {
      case tntlib::tntDO: AnswerDo(Index, nOption); break;
      case tntlib::tntWILL: AnswerWill(Index, nOption); break;
      case tntlib::tntDONT: RefuseOption(Index, tntlib::tntWONT, nOption); break;
      case tntlib::tntWONT: RefuseOption(Index, tntlib::tntDONT, nOption); break;
      default: break;
    }
  });
}

void Server::AnswerDo(int16_t Index, int16_t option) {
  LineState& line = LineAt(Index);
  if (option == tntlib::tntSuppressGoAhead) {
    if (!line.sgaAgreed) AgreeSuppressGoAhead(Index, tntlib::tntWILL);
  } else if (option == tntlib::tntEcho) {
    if (line.echoAgreed) return;
    ReplyOption(Index, tntlib::tntWILL, option);
    line.echoAgreed = true;
    line.echoRequested = true;
  } else {
    ReplyOption(Index, tntlib::tntWONT, option);
  }
}

// The station echoes; the peer is asked not to.
void Server::AnswerWill(int16_t Index, int16_t option) {
  LineState& line = LineAt(Index);
  if (option == tntlib::tntSuppressGoAhead) {
    if (!line.sgaAgreed) AgreeSuppressGoAhead(Index, tntlib::tntDO);
  } else if (option == tntlib::tntEcho) {
    ReplyOption(Index, tntlib::tntDONT, option);
    ReplyOption(Index, tntlib::tntDONT, option);
    line.echoRequested = true;
  } else {
    ReplyOption(Index, tntlib::tntDONT, option);
  }
}

void Server::AgreeSuppressGoAhead(int16_t Index, int16_t reply) {
  ReplyOption(Index, reply, tntlib::tntSuppressGoAhead);
  LineState& line = LineAt(Index);
  line.sgaAgreed = true;
  line.sgaPending = false;
}

void Server::ReplyOption(int16_t Index, int16_t command, int16_t option) {
  if (!controls_) return;
  PortControl(Index).SendCmd(command, option, "", 0);  // no subnegotiation
  optionsSent_[static_cast<std::size_t>(Index)][static_cast<uint8_t>(option)] = static_cast<uint8_t>(command);
}

// A refusal answering a refusal is not repeated: two sides built alike would
// otherwise trade them forever.
void Server::RefuseOption(int16_t Index, int16_t refusal, int16_t option) {
  if (optionsSent_[static_cast<std::size_t>(Index)][static_cast<uint8_t>(option)] == refusal) return;
  ReplyOption(Index, refusal, option);
}

}  // namespace tellarium
