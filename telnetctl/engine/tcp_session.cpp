#include "telnetctl/engine/tcp_session.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <map>
#include <utility>

#include "platform/loop.h"
#include "platform/lookup.h"
#include "platform/sockets.h"
#include "telnetctl/engine/error_map.h"
#include "telnetctl/korvatel.h"

namespace korvatel {
namespace {

constexpr size_t kLocalHostNameMax = 64;
constexpr size_t kLogLineMax = 511;        // the text buffer log lines are made in
constexpr size_t kDebugPathLineMax = 199;
constexpr uint32_t kConnectMask = platform::kRead | platform::kWrite | platform::kOob | platform::kConnect |
                                  platform::kClose;  // 55
constexpr uint32_t kAcceptedMask = platform::kRead | platform::kWrite | platform::kOob | platform::kClose;  // 39
constexpr uint32_t kListenMask = platform::kAccept;  // 8
constexpr int kListenBacklog = 5;
constexpr size_t kMostPacketsPerWrite = 64;  // queued packets one write gathers

// A packet the socket took whole at once, waiting for its completion notice.
struct CompletedSend {
  CTcpSession* session;  // its notices leave the queue when it closes or ends
  uint32_t data_tag;
};

// State shared by every session of the process.
struct ProcessState {
  int object_count = 0;
  uint32_t next_id = 1;
  std::map<uint32_t, CTcpSession*> sessions;
  std::string local_host_name;
  std::string local_dot_addr;
  bool local_name_known = false;
  // A pass is letting host events run; passes inside it do not pump again.
  bool host_pump_running = false;
  // Completion notices of every session, in the order of their sends: one
  // message delivers them all, rather than one message per send.
  std::deque<CompletedSend> completed_sends;
  std::unique_ptr<platform::MessageTarget> notice_window;
  bool completions_posted = false;
  TraceHook trace;
};

ProcessState& Process() {
  static ProcessState* state = new ProcessState;  // outlives static sessions
  return *state;
}

void Trace(std::string_view text) {
  if (Process().trace) Process().trace(text);
}

void TraceObjectCount() {
  const int count = Process().object_count;
  Trace(count == 1 ? std::string("1 Korvanet Object") : std::to_string(count) + " Korvanet Objects");
}

const char* StateName(SessionState state) {
  switch (state) {
    case kStateClosed: return "Closed";
    case kStateConnecting: return "Connecting";
    case kStateConnected: return "Connected";
    case kStateListening: return "Listening";
    case kStateClosing: return "Closing";
  }
  return "";
}

template <typename... Args>
std::string Format(const char* format, Args... args) {
  char line[512];
  std::snprintf(line, sizeof line, format, args...);
  return line;
}

sockaddr_in InetAddress(uint32_t address, uint16_t port) {
  sockaddr_in result{};
  result.sin_family = AF_INET;
  result.sin_addr.s_addr = address;
  result.sin_port = htons(port);
  return result;
}

bool IsWouldBlock(int errno_value) {
  return errno_value == EAGAIN || errno_value == EWOULDBLOCK || errno_value == EINPROGRESS;
}

}  // namespace

void SetTraceHook(TraceHook hook) { Process().trace = std::move(hook); }

std::string DotAddress(uint32_t address) {
  const auto* b = reinterpret_cast<const uint8_t*>(&address);
  return Format("%d.%d.%d.%d", b[0], b[1], b[2], b[3]);
}

bool ParseDotAddress(const std::string& text, uint32_t& address) {
  in_addr parsed{};
  if (text.empty() || ::inet_aton(text.c_str(), &parsed) == 0) return false;
  address = parsed.s_addr;
  return true;
}

// The session window: the target of the session's notifications and timer,
// holding its log.
class CTcpSession::Window final : public platform::MessageTarget {
 public:
  Window(CTcpSession& session, std::string label) : session_(session), log_(std::move(label)) {}
  void HandleMessage(uint32_t message, uint64_t wparam, int64_t lparam) override {
    // May destroy this window; nothing may follow.
    session_.HandleMessage(message, wparam, lparam);
  }
  SessionLog& log() { return log_; }
  std::string title;

 private:
  CTcpSession& session_;
  SessionLog log_;
};

// Receives the message that delivers the completion notices of every session.
class CTcpSession::NoticeWindow final : public platform::MessageTarget {
 public:
  void HandleMessage(uint32_t message, uint64_t, int64_t) override {
    if (message == kSendsCompletedMessage) CTcpSession::DeliverCompletedSends();
  }
};

// ---- construction, destruction, process state ----------------------------

CTcpSession::CTcpSession(CTcpSink& receiver) : receiver_(receiver), id_(Process().next_id++) {
  Process().sessions[id_] = this;
  ++Process().object_count;
  TraceObjectCount();
}

CTcpSession::~CTcpSession() {
  ProcessState& process = Process();
  debug_file_.Close();
  if (socket_ != -1) {
    SetLinger(true);
    platform::SocketClose(socket_);
    socket_ = -1;
  }
  DeleteQueue();
  ForgetCompletedSends();
  --process.object_count;
  TraceObjectCount();
  ReleaseResources();
  process.sessions.erase(id_);
  if (process.object_count == 0) Trace("Unloading Korvanet...BYE!");
}

CTcpSession* CTcpSession::FromId(uint32_t id) {
  auto it = Process().sessions.find(id);
  return it == Process().sessions.end() ? nullptr : it->second;
}

int CTcpSession::ObjectCount() { return Process().object_count; }
const std::string& CTcpSession::LocalHostName() { return Process().local_host_name; }
const std::string& CTcpSession::LocalDotAddr() { return Process().local_dot_addr; }

const SessionLog* CTcpSession::log() const { return window_ ? &window_->log() : nullptr; }

uint32_t CTcpSession::window_id() const { return window_ ? window_->target_id() : 0; }

void CTcpSession::Log(std::string_view line) {
  if (window_ && logging()) window_->log().Append(line.substr(0, std::min(line.size(), kLogLineMax)));
}

void CTcpSession::SetTitle(const std::string& title) {
  if (window_) window_->title = title;
}

template <typename... Params, typename... Args>
Survival CTcpSession::Notify(void (CTcpSink::*event)(Params...), Args&&... args) {
  const CalloutGuard guard(lifeline_);
  (receiver_.*event)(std::forward<Args>(args)...);
  return guard.Outcome();
}

// ---- session start and resource release -----------------------------------

bool CTcpSession::StartSession() {
  ReleaseResources();
  lifeline_.NoteNewConnection();
  window_ = std::make_unique<Window>(*this, "Korvanet " + std::to_string(id_));
  window_->title = Process().local_host_name;
  window_->log().set_shown(logging());
  const std::string stars(65, '*');
  Log(stars);
  Log("  Korvanet TELNET Control, version 4.0");
  Log(stars);
  SetTitle(StateName(state_));
  if (!started_) {
    started_ = true;
    LearnLocalHostName();
  }
  if (Process().local_dot_addr.empty() && local_lookup_ == 0) {
    local_lookup_ = platform::StartLookup(Process().local_host_name, window_id(), kLocalResolvedMessage);
  }
  return true;
}

void CTcpSession::LearnLocalHostName() {
  ProcessState& process = Process();
  if (!process.local_name_known) {
    char name[kLocalHostNameMax + 1] = {};
    if (::gethostname(name, kLocalHostNameMax) != 0) {
      process.local_host_name = "Unknown";
      process.local_dot_addr = "127.1.1.1";
    } else {
      process.local_host_name = name;
    }
    process.local_name_known = true;
  }
  if (process.local_host_name.empty()) {
    Log("  Local Host Name Not Present");
  } else {
    Log("  Local Host Name: " + process.local_host_name);
  }
}

void CTcpSession::ReleaseResources() {
  if (remote_lookup_ != 0) platform::CancelLookup(remote_lookup_);
  if (local_lookup_ != 0) platform::CancelLookup(local_lookup_);
  remote_lookup_ = 0;
  local_lookup_ = 0;
  receive_buffer_.clear();
  receive_buffer_.shrink_to_fit();
  window_.reset();
}

// ---- window messages ------------------------------------------------------

void CTcpSession::HandleMessage(uint32_t message, uint64_t wparam, int64_t lparam) {
  switch (message) {
    case platform::kTimerMessage:
      if (wparam == kListenTimer) Close(true);
      break;
    case kRemoteResolvedMessage: HandleRemoteResolved(wparam, lparam); break;
    case kSocketMessage: HandleSocketEvent(wparam, lparam); break;
    case kLocalResolvedMessage: HandleLocalResolved(wparam, lparam); break;
    default: break;
  }
}

void CTcpSession::HandleSocketEvent(uint64_t socket, int64_t notice) {
  if (socket_ == -1 || socket != static_cast<uint64_t>(socket_)) return;
  if (int error = platform::SocketNoticeError(notice); error != 0) {
    ReportErrno(error);
    return;
  }
  switch (platform::SocketNoticeEvent(notice)) {
    case platform::kRead:
    case platform::kOob: Receive(false); break;
    case platform::kWrite: SendDrain(); break;
    case platform::kAccept: OnAcceptReady(); break;
    case platform::kConnect:
      if (state_ == kStateConnecting) OnConnected();
      break;
    case platform::kClose: Receive(true); break;
    default: break;
  }
}

void CTcpSession::HandleRemoteResolved(uint64_t handle, int64_t outcome) {
  if (handle != remote_lookup_ || remote_lookup_ == 0) return;
  remote_lookup_ = 0;
  const platform::LookupOutcome result = platform::UnpackLookup(outcome);
  const int error = SocketErrorFromLookup(result.error);
  OnRemoteResolved(error, error == 0 ? result.address : 0);
}

void CTcpSession::HandleLocalResolved(uint64_t handle, int64_t outcome) {
  if (handle != local_lookup_ || local_lookup_ == 0) return;
  local_lookup_ = 0;
  const platform::LookupOutcome result = platform::UnpackLookup(outcome);
  const uint32_t address = result.error == platform::LookupError::kNone ? result.address : 0;
  Process().local_dot_addr = DotAddress(address);
  Log(Format("  Local Host Addr: %s (%ul)", Process().local_dot_addr.c_str(), address));
}

bool CTcpSession::PostSocketEvent(uint32_t event) {
  if (!window_ || socket_ == -1) return false;
  return platform::PostMessage(window_id(), kSocketMessage, static_cast<uint64_t>(socket_),
                               platform::MakeSocketNotice(event, 0));
}

// ---- errors ---------------------------------------------------------------

void CTcpSession::RaiseException(int16_t code, const std::string& text) {
  Log("+++ Exception Event: " + text);
  if (state_ == kStateConnecting) {
    CloseSocket(false);
    Notify(&CTcpSink::OnException, code, text);
  } else if ((state_ == kStateConnected || state_ == kStateClosing) &&
             (code == tntlib::tntRemoteClose || code == tntlib::tntNotConnected)) {
    // The connection is gone, also under a graceful close still sending:
    // unless the host closed (or destroyed) the session from its handler.
    if (Notify(&CTcpSink::OnException, code, text) == Survival::kIntact) CloseSocket(true);
  } else {
    Notify(&CTcpSink::OnException, code, text);
  }
}

void CTcpSession::ReportSocketError(int error_number) {
  const MappedError mapped = MapSocketError(error_number);
  RaiseException(mapped.code, mapped.text);
}

void CTcpSession::ReportErrno(int errno_value) { ReportSocketError(SocketErrorFromErrno(errno_value)); }

// ---- sockets --------------------------------------------------------------

bool CTcpSession::OpenSocket(uint32_t bind_address, uint16_t port, int& error) {
  Trace("Creating Socket");
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    error = errno;
    return false;
  }
  socket_ = fd;
  ApplySocketOptions();
  OpenDebugFile();
  sockaddr_in local = InetAddress(bind_address, port);
  if (::bind(socket_, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0) {
    error = errno;
    return false;
  }
  return true;
}

void CTcpSession::ApplySocketOptions() {
  struct Option {
    uint8_t flag;
    int level;
    int name;
  };
  // Urgent data stay in the stream, so an urgent IAC DM reaches the telnet
  // layer in order.
  const Option options[] = {
      {0, SOL_SOCKET, SO_OOBINLINE},
      {kFlagReuseAddr, SOL_SOCKET, SO_REUSEADDR},
      {kFlagKeepAlive, SOL_SOCKET, SO_KEEPALIVE},
      {kFlagNoDelay, IPPROTO_TCP, TCP_NODELAY},
  };
  const int one = 1;
  for (const Option& option : options) {
    if (option.flag != 0 && (flags_ & option.flag) == 0) continue;
    if (socket_ != -1 && ::setsockopt(socket_, option.level, option.name, &one, sizeof one) != 0) ReportErrno(errno);
  }
}

void CTcpSession::SetLinger(bool on) {
  linger value{on ? 1 : 0, 0};
  if (socket_ != -1) ::setsockopt(socket_, SOL_SOCKET, SO_LINGER, &value, sizeof value);
}

void CTcpSession::OpenDebugFile() {
  if (!debug()) return;
  Log("Debug flag SET!");
  const std::string name = DebugFile::ChooseName();
  if (debug_file_.Open(name)) {
    Log(("  " + debug_file_.path() + " will be filled with debug data").substr(0, kDebugPathLineMax));
  } else {
    Log("  Failed to create debuf file " + name);
  }
}

void CTcpSession::DeleteQueue() {
  queue_.clear();
  queued_bytes_ = 0;
}

void CTcpSession::CloseSocket(bool notice) {
  if (socket_ != -1) {
    Trace("Closing Socket");
    const int fd = socket_;
    socket_ = -1;
    platform::SocketClose(fd);
    if (debug()) {
      Log("Primary Socket Closed");
      SetTitle("Closed");
    }
  }
  state_ = kStateClosed;
  lifeline_.NoteClosed();
  // Nothing of this connection may outlive it: its packets would otherwise go
  // out on the next one, and its lookup or time-out would act on a closed session.
  DeleteQueue();
  ForgetCompletedSends();
  if (remote_lookup_ != 0) platform::CancelLookup(remote_lookup_);
  remote_lookup_ = 0;
  if (window_) platform::KillTimer(window_id(), kListenTimer);
  if (!debug()) ReleaseResources();
  debug_file_.Close();
  if (notice) Notify(&CTcpSink::OnData, nullptr, 0);
}

void CTcpSession::AbortiveClose() {
  SetLinger(true);
  DeleteQueue();
  CloseSocket(true);
}

// ---- Connect --------------------------------------------------------------

bool CTcpSession::Connect(const std::string& host, uint16_t remote_port, const std::string& local_dot_addr,
                          uint16_t local_port, uint8_t flags) {
  if (state_ != kStateClosed) return false;
  if (host.empty() || remote_port == 0) {
    RaiseException(tntlib::tntBadname, "No RemoteHost or RemotePort given.");
    return false;
  }
  flags_ = flags;
  if (!StartSession()) return false;
  local_port_ = local_port;
  remote_port_ = remote_port;
  state_ = kStateConnecting;
  Trace(StateName(state_));
  Log(Format("Trying to connect to %s on port %d...", host.c_str(), remote_port));
  SetTitle("Connecting to " + host + "...");
  if (!ParseDotAddress(local_dot_addr, local_bind_address_)) local_bind_address_ = 0;

  uint32_t address = 0;
  if (ParseDotAddress(host, address)) {
    OnRemoteResolved(0, address);
    return true;
  }
  remote_lookup_ = platform::StartLookup(host, window_id(), kRemoteResolvedMessage);
  if (remote_lookup_ == 0) {
    // Nothing would ever end this attempt: report it as a failed lookup.
    ReportSocketError(kLookupNotStarted);
    return false;
  }
  return true;
}

void CTcpSession::OnRemoteResolved(int error, uint32_t address) {
  if (state_ != kStateConnecting) return;
  if (error == 0) {
    int failure = 0;
    if (OpenSocket(local_bind_address_, local_port_, failure)) {
      platform::WatchSocket(socket_, window_id(), kSocketMessage, kConnectMask);
      sockaddr_in remote = InetAddress(address, remote_port_);
      if (platform::SocketConnect(socket_, reinterpret_cast<sockaddr*>(&remote), sizeof remote) != 0 &&
          !IsWouldBlock(errno)) {
        failure = errno;
      }
    }
    if (failure != 0) error = SocketErrorFromErrno(failure);
  }
  if (error != 0) {
    const MappedError mapped = MapSocketError(error);
    CloseSocket(false);
    RaiseException(mapped.code, mapped.text);
  }
}

void CTcpSession::OnConnected() {
  if (socket_ == -1) return;
  state_ = kStateConnected;
  Trace("TCP Connected");
  sockaddr_in peer{};
  sockaddr_in local{};
  socklen_t peer_length = sizeof peer;
  socklen_t local_length = sizeof local;
  if (::getpeername(socket_, reinterpret_cast<sockaddr*>(&peer), &peer_length) != 0 ||
      ::getsockname(socket_, reinterpret_cast<sockaddr*>(&local), &local_length) != 0) {
    ReportErrno(errno);
    return;
  }
  remote_port_ = ntohs(peer.sin_port);
  const std::string remote_dot = DotAddress(peer.sin_addr.s_addr);
  const std::string local_dot = DotAddress(local.sin_addr.s_addr);
  in_receive_ = in_send_ = receive_again_ = send_again_ = false;
  Log(Format("Connected to %s on port %d", remote_dot.c_str(), remote_port_));
  SetTitle("Connected to " + remote_dot);
  Notify(&CTcpSink::OnConnect, remote_dot, remote_port_, local_dot, ntohs(local.sin_port), Process().local_host_name);
}

// ---- Listen and Accept ----------------------------------------------------

bool CTcpSession::Listen(const std::string& local_dot_addr, uint16_t local_port, uint16_t timeout_seconds,
                         uint8_t flags) {
  if (state_ != kStateClosed) return false;
  flags_ = flags;
  if (!StartSession()) return false;
  uint32_t bind_address = 0;
  if (!ParseDotAddress(local_dot_addr, bind_address)) bind_address = 0;
  local_port_ = local_port;

  int failure = 0;
  sockaddr_in bound{};
  socklen_t bound_length = sizeof bound;
  if (!OpenSocket(bind_address, local_port, failure) && socket_ != -1) {
    Log("Error binding to listening address...default address used");
    sockaddr_in any = InetAddress(0, local_port);
    failure = ::bind(socket_, reinterpret_cast<sockaddr*>(&any), sizeof any) == 0 ? 0 : errno;
  }
  if (failure == 0 && ::getsockname(socket_, reinterpret_cast<sockaddr*>(&bound), &bound_length) != 0) failure = errno;
  if (failure == 0 && ::listen(socket_, kListenBacklog) != 0) failure = errno;
  if (failure != 0) {
    const MappedError mapped = MapSocketError(SocketErrorFromErrno(failure));
    CloseSocket(false);
    RaiseException(mapped.code, mapped.text);
    return false;
  }
  platform::WatchSocket(socket_, window_id(), kSocketMessage, kListenMask);
  state_ = kStateListening;
  const uint16_t bound_port = ntohs(bound.sin_port);
  Log(Format("Daemon listening for connection on port %u...", bound_port));
  SetTitle(Format("Listening on %u...", bound_port));
  const Survival survival =
      Notify(&CTcpSink::OnListen, DotAddress(bound.sin_addr.s_addr), bound_port, Process().local_host_name);
  if (survival == Survival::kDestroyed) return true;
  if (timeout_seconds != 0 && survival == Survival::kIntact && window_) {
    platform::SetTimer(window_id(), kListenTimer, static_cast<uint32_t>(timeout_seconds) * 1000u);
  }
  return true;
}

void CTcpSession::OnAcceptReady() {
  if (socket_ != -1 && state_ == kStateListening) Notify(&CTcpSink::OnAccept);
}

bool CTcpSession::Accept(CTcpSession* listener, uint8_t flags) {
  if (state_ != kStateClosed) return false;
  if (listener == nullptr) {
    RaiseException(tntlib::tntBadname, "NULL Daemon given.");
    return false;
  }
  flags_ = flags;
  if (!StartSession()) return false;
  const int fd = platform::SocketAccept(listener->socket_, nullptr, nullptr);
  if (fd < 0) {
    const int failure = errno;
    state_ = kStateClosed;
    ReportErrno(failure);
    return false;
  }
  socket_ = fd;
  platform::WatchSocket(socket_, window_id(), kSocketMessage, kAcceptedMask);
  Log("Daemon has accepted a connection");
  ApplySocketOptions();
  OpenDebugFile();
  state_ = kStateConnected;
  PostSocketEvent(platform::kRead);
  OnConnected();
  return true;
}

// ---- Send and the send pass -----------------------------------------------

bool CTcpSession::SendNow(const iovec* pieces, size_t count, bool urgent, ssize_t& sent) {
  sent = platform::SocketSendPieces(socket_, pieces, count, urgent ? MSG_OOB : 0);
  if (sent < 0) return false;
  if (debug_file_.is_open()) {
    size_t saved = 0;
    size_t left = static_cast<size_t>(sent);
    for (size_t i = 0; i < count && left > 0; ++i) {
      const size_t part = std::min(left, pieces[i].iov_len);
      saved += debug_file_.WriteSent(static_cast<const uint8_t*>(pieces[i].iov_base), part);
      left -= part;
    }
    Log(Format("  %d bytes sent, %d bytes saved in debug file", static_cast<int>(sent), static_cast<int>(saved)));
  }
  return true;
}

bool CTcpSession::Send(const uint8_t* bytes, size_t length, bool urgent, uint32_t data_tag) {
  if (state_ != kStateConnected) {
    Notify(&CTcpSink::OnException, tntlib::tntNotConnected, "Send attempted with closed connection");
    return false;
  }
  if (length == 0) {
    if (!queue_.empty()) PostSocketEvent(platform::kWrite);
    return true;
  }
  if (length > kMaxQueuedBytes - queued_bytes_) {
    RaiseException(tntlib::tntNoMem, "Insufficent memory to buffer packet");
    return false;
  }
  size_t sent = 0;
  // At once only when nothing of this session waits: what follows within the
  // same event goes out together from the send pass. So does what answers this
  // session's own input: it leaves when that input has been handled.
  if (queue_.empty() && completions_pending_ == 0 && !in_receive_) {
    const iovec piece{const_cast<uint8_t*>(bytes), length};
    ssize_t result = 0;
    if (!SendNow(&piece, 1, urgent, result)) {
      if (!IsWouldBlock(errno)) {
        ReportErrno(errno);
        return false;
      }
      result = 0;
    }
    sent = static_cast<size_t>(result);
    if (sent == length) {
      NoteCompletedSend(data_tag);
      return true;
    }
  }
  queue_.emplace_back(bytes + sent, length - sent, data_tag, urgent);
  queued_bytes_ += length - sent;
  if (!in_receive_) PostSocketEvent(platform::kWrite);
  return true;
}

bool CTcpSession::PumpHostEvents(uint32_t resume_event, const CalloutGuard& pass) {
  ProcessState& process = Process();
  if (process.host_pump_running) return true;
  const bool quit_before = platform::QuitRequested();
  process.host_pump_running = true;
  platform::Pump([](uint32_t message) { return message < kRemoteResolvedMessage; });
  process.host_pump_running = false;
  if (pass.Destroyed()) return false;
  if (!quit_before && platform::QuitRequested()) {
    // The host is leaving its loop; resume this pass if it runs the loop again.
    PostSocketEvent(resume_event);
    return false;
  }
  return true;
}

bool CTcpSession::WriteQueued(ssize_t& sent) {
  const CSendPacket& front = queue_.front();
  if (front.urgent()) {
    const iovec piece{const_cast<uint8_t*>(front.unsent()), front.unsent_length()};
    return SendNow(&piece, 1, true, sent);
  }
  iovec pieces[kMostPacketsPerWrite];
  size_t count = 0;
  for (const CSendPacket& packet : queue_) {
    if (packet.urgent() || count == kMostPacketsPerWrite) break;
    pieces[count++] = {const_cast<uint8_t*>(packet.unsent()), packet.unsent_length()};
  }
  return SendNow(pieces, count, false, sent);
}

void CTcpSession::TakeWritten(size_t written) {
  while (written > 0) {
    CSendPacket& packet = queue_.front();
    const size_t part = std::min(written, packet.unsent_length());
    packet.MarkSent(part);
    queued_bytes_ -= part;
    written -= part;
    if (!packet.complete()) return;
    NoteCompletedSend(packet.data_tag());
    queue_.pop_front();
  }
}

void CTcpSession::SendDrain() {
  if (socket_ == -1) return;
  if (in_send_) {
    send_again_ = true;
    return;
  }
  in_send_ = true;
  const CalloutGuard pass(lifeline_);
  // Host events run before bytes are written (every queued packet has some).
  if (!queue_.empty() && !PumpHostEvents(platform::kWrite, pass)) {
    if (!pass.Destroyed()) in_send_ = false;
    return;
  }
  while (!queue_.empty() && socket_ != -1) {
    ssize_t sent = 0;
    if (WriteQueued(sent)) {
      if (sent == 0) break;
      TakeWritten(static_cast<size_t>(sent));
      continue;
    }
    const int failure = errno;
    if (failure == EAGAIN || failure == EWOULDBLOCK) break;
    const CalloutGuard report(lifeline_);
    ReportErrno(failure);
    if (report.Destroyed()) return;
    if (failure == EINPROGRESS && !report.Closed()) PostSocketEvent(platform::kWrite);
    break;
  }
  in_send_ = false;
  if (send_again_) {
    send_again_ = false;
    if (window_) PostSocketEvent(platform::kWrite);
  }
  if (state_ == kStateClosing && queue_.empty() && DeliverOwnCompletedSends()) CloseSocket(true);
}

// ---- completion notices -----------------------------------------------------

bool CTcpSession::NotifySent(uint32_t data_tag) {
  if (debug()) Log(Format("  Data tag %lu sent", static_cast<unsigned long>(data_tag)));
  return Notify(&CTcpSink::OnSend, data_tag) != Survival::kDestroyed;
}

void CTcpSession::NoteCompletedSend(uint32_t data_tag) {
  ProcessState& process = Process();
  process.completed_sends.push_back({this, data_tag});
  ++completions_pending_;
  if (process.completions_posted) return;
  if (!process.notice_window) process.notice_window = std::make_unique<NoticeWindow>();
  // The notices of all the sends of a round go together, once its events are done.
  process.completions_posted = platform::PostMessageToLoop(process.notice_window->target_id(), kSendsCompletedMessage);
}

void CTcpSession::ForgetCompletedSends() {
  std::erase_if(Process().completed_sends, [this](const CompletedSend& sent) { return sent.session == this; });
  completions_pending_ = 0;
}

void CTcpSession::DeliverCompletedSends() {
  ProcessState& process = Process();
  process.completions_posted = false;
  // Only those pending now: what the notices' handlers send is reported by the
  // message that their sends post.
  for (size_t due = process.completed_sends.size(); due > 0 && !process.completed_sends.empty(); --due) {
    const CompletedSend next = process.completed_sends.front();
    process.completed_sends.pop_front();
    --next.session->completions_pending_;
    next.session->NotifySent(next.data_tag);
  }
}

bool CTcpSession::DeliverOwnCompletedSends() {
  if (completions_pending_ == 0) return true;
  std::vector<uint32_t> tags;
  for (const CompletedSend& sent : Process().completed_sends) {
    if (sent.session == this) tags.push_back(sent.data_tag);
  }
  ForgetCompletedSends();
  const CalloutGuard connection(lifeline_);
  for (const uint32_t tag : tags) {
    if (!NotifySent(tag) || connection.Closed()) return false;
  }
  return true;
}

// ---- Recv and the receive pass --------------------------------------------

bool CTcpSession::SetMaxRecv(uint32_t size) {
  max_recv_ = size > kInitialMaxRecv - 1 ? kInitialMaxRecv : size;
  if (state_ != kStateConnected || max_recv_ == 0) return false;
  PostSocketEvent(platform::kRead);
  return true;
}

uint8_t* CTcpSession::ReceiveBuffer(size_t& capacity) {
  if (max_recv_ > sizeof text_buffer_ && receive_buffer_.size() < max_recv_) receive_buffer_.resize(max_recv_ + 1);
  if (receive_buffer_.empty()) {
    capacity = sizeof text_buffer_ - 1;
    return text_buffer_;
  }
  capacity = receive_buffer_.size() - 1;
  return receive_buffer_.data();
}

void CTcpSession::Receive(bool after_close_notice) {
  if (in_receive_) {
    receive_again_ = true;
    return;
  }
  if (state_ == kStateListening || max_recv_ == 0) return;
  in_receive_ = true;
  const CalloutGuard pass(lifeline_);
  if (!PumpHostEvents(after_close_notice ? platform::kClose : platform::kRead, pass)) {
    if (!pass.Destroyed()) EndReceive();
    return;
  }
  if (socket_ != -1 && max_recv_ != 0) {
    size_t capacity = 0;
    uint8_t* buffer = ReceiveBuffer(capacity);
    const ssize_t n = platform::SocketRecv(socket_, buffer, std::min<size_t>(max_recv_, capacity), 0);
    const int failure = errno;
    if (n == 0) {
      EndReceive();
      RaiseException(tntlib::tntRemoteClose, "Remote Host Closed");
      return;
    }
    if (n > 0) {
      if (debug_file_.is_open()) {
        const size_t saved = debug_file_.WriteReceived(buffer, static_cast<size_t>(n));
        Log(Format("  %d bytes received, %d bytes saved in debug file", static_cast<int>(n),
                   static_cast<int>(saved)));
      }
      buffer[n] = 0;
      if (Notify(&CTcpSink::OnData, buffer, static_cast<size_t>(n)) == Survival::kDestroyed) return;
      if (after_close_notice) PostSocketEvent(platform::kClose);
    } else if (failure != EAGAIN && failure != EWOULDBLOCK) {
      EndReceive();
      ReportErrno(failure);
      return;
    }
  }
  EndReceive();
  if (receive_again_) {
    receive_again_ = false;
    if (window_) PostSocketEvent(platform::kRead);
  }
}

void CTcpSession::EndReceive() {
  in_receive_ = false;
  if (!queue_.empty()) PostSocketEvent(platform::kWrite);
}

// ---- Close ----------------------------------------------------------------

bool CTcpSession::Close(bool abort) {
  switch (state_) {
    case kStateClosed:
      ReleaseResources();
      return false;
    case kStateConnecting:
      AbortiveClose();
      return true;
    case kStateConnected:
    case kStateListening:
      if (abort) {
        AbortiveClose();
        return true;
      }
      state_ = kStateClosing;
      Trace(StateName(state_));
      PostSocketEvent(platform::kWrite);
      SetLinger(false);
      return true;
    case kStateClosing:
      if (abort) AbortiveClose();
      return true;
  }
  return false;
}

}  // namespace korvatel
