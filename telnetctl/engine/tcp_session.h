// CTcpSession: one TCP session at a time on a socket watched by the platform's
// loop. Notifications arrive as messages of the session's window and become
// calls on its receiver; the send queue, the receive buffer, the session log
// and the debug file belong to it.
#pragma once

#include <sys/uio.h>

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "telnetctl/engine/callout_guard.h"
#include "telnetctl/engine/debug_file.h"
#include "telnetctl/engine/send_packet.h"
#include "telnetctl/engine/session_log.h"
#include "telnetctl/engine/tcp_sink.h"

namespace korvatel {

enum SessionState : int16_t {
  kStateClosed = 1,
  kStateConnecting = 2,
  kStateConnected = 4,
  kStateListening = 8,
  kStateClosing = 16,
};

// SessionFlags, taken from the control's properties when a session starts.
enum SessionFlag : uint8_t {
  kFlagDebug = 1,
  kFlagReuseAddr = 2,
  kFlagKeepAlive = 4,
  kFlagShowIcon = 8,
  kFlagNoDelay = 16,
};

// The session window's private notifications and its listen time-out timer.
constexpr uint32_t kRemoteResolvedMessage = 2025;
constexpr uint32_t kSocketMessage = 2026;
constexpr uint32_t kSendsCompletedMessage = 2027;  // to the process's notice window
constexpr uint32_t kLocalResolvedMessage = 2028;
constexpr uint32_t kListenTimer = 10;

constexpr uint32_t kInitialMaxRecv = 32766;

// Unsent bytes one session may hold. Far above what any line of chat needs; a
// peer that stops reading cannot make a session grow past it.
constexpr size_t kMaxQueuedBytes = 4 * 1024 * 1024;

// Receives the engine's trace texts ("Creating Socket", the object counts...);
// none by default.
using TraceHook = std::function<void(std::string_view)>;
void SetTraceHook(TraceHook hook);

class CTcpSession {
 public:
  explicit CTcpSession(CTcpSink& receiver);
  virtual ~CTcpSession();
  CTcpSession(const CTcpSession&) = delete;
  CTcpSession& operator=(const CTcpSession&) = delete;

  bool Connect(const std::string& host, uint16_t remote_port, const std::string& local_dot_addr,
               uint16_t local_port, uint8_t flags);
  bool Listen(const std::string& local_dot_addr, uint16_t local_port, uint16_t timeout_seconds,
              uint8_t flags);
  bool Accept(CTcpSession* listener, uint8_t flags);
  bool Send(const uint8_t* bytes, size_t length, bool urgent, uint32_t data_tag);
  bool SetMaxRecv(uint32_t size);
  virtual bool Close(bool abort);

  SessionState state() const { return state_; }
  int socket() const { return socket_; }
  uint16_t remote_port() const { return remote_port_; }
  uint32_t max_recv() const { return max_recv_; }
  size_t queued_bytes() const { return queued_bytes_; }
  // What callout guards watch: this session's closes, new connections and end.
  const Lifeline& lifeline() const { return lifeline_; }
  // The session log while its window exists, else null.
  const SessionLog* log() const;
  bool has_debug_file() const { return debug_file_.is_open(); }

  // Identifies this object within the process (never 0), for Accept.
  uint32_t id() const { return id_; }
  static CTcpSession* FromId(uint32_t id);

  // Process-wide state shared by all sessions.
  static int ObjectCount();
  static const std::string& LocalHostName();
  static const std::string& LocalDotAddr();

 protected:
  virtual void OnRemoteResolved(int error, uint32_t address);
  virtual void OnConnected();
  virtual void OnAcceptReady();
  virtual void Receive(bool after_close_notice);
  virtual void SendDrain();
  virtual void RaiseException(int16_t code, const std::string& text);

 private:
  class Window;
  friend class Window;
  class NoticeWindow;
  friend class NoticeWindow;

  bool StartSession();
  void ReleaseResources();
  void LearnLocalHostName();
  void HandleMessage(uint32_t message, uint64_t wparam, int64_t lparam);
  void HandleSocketEvent(uint64_t socket, int64_t notice);
  void HandleRemoteResolved(uint64_t handle, int64_t outcome);
  void HandleLocalResolved(uint64_t handle, int64_t outcome);

  bool OpenSocket(uint32_t bind_address, uint16_t port, int& error);
  void ApplySocketOptions();
  void SetLinger(bool on);
  void OpenDebugFile();
  void CloseSocket(bool notice);
  void AbortiveClose();
  void DeleteQueue();
  void ReportSocketError(int error_number);
  void ReportErrno(int errno_value);
  bool PostSocketEvent(uint32_t event);
  // Raises `event` on the receiver; every notification goes through here.
  // Once it answers kDestroyed, nothing of this object may be touched.
  template <typename... Params, typename... Args>
  Survival Notify(void (CTcpSink::*event)(Params...), Args&&... args);
  // Lets pending host events run before a pass guarded by `pass`; false when
  // the pass must end.
  bool PumpHostEvents(uint32_t resume_event, const CalloutGuard& pass);
  bool SendNow(const iovec* pieces, size_t count, bool urgent, ssize_t& sent);
  // Writes from the front of the queue as many packets as go together in one
  // write (an urgent one goes alone).
  bool WriteQueued(ssize_t& sent);
  // Counts `written` bytes off the front of the queue; packets done leave it.
  void TakeWritten(size_t written);

  // Every OnSend of the process is raised from one queue of completion
  // notices, in the order the packets left, by one message for them all.
  void NoteCompletedSend(uint32_t data_tag);
  static void DeliverCompletedSends();
  // This session's notices ahead of the others', before its connection ends;
  // false when a handler ended the connection or the object.
  bool DeliverOwnCompletedSends();
  // The connection has ended: its notices are dropped with its queue.
  void ForgetCompletedSends();
  // False when raising OnSend destroyed this object.
  bool NotifySent(uint32_t data_tag);
  uint8_t* ReceiveBuffer(size_t& capacity);
  // Ends a receive pass: what was sent meanwhile goes to the send pass.
  void EndReceive();

  void Log(std::string_view line);
  void SetTitle(const std::string& title);
  bool logging() const { return (flags_ & (kFlagDebug | kFlagShowIcon)) != 0; }
  bool debug() const { return (flags_ & kFlagDebug) != 0; }
  uint32_t window_id() const;

  CTcpSink& receiver_;
  uint32_t id_;
  bool started_ = false;
  uint32_t local_lookup_ = 0;
  uint32_t remote_lookup_ = 0;
  int socket_ = -1;
  SessionState state_ = kStateClosed;
  std::unique_ptr<Window> window_;
  uint8_t flags_ = 0;
  uint8_t text_buffer_[512] = {};
  std::vector<uint8_t> receive_buffer_;
  uint32_t max_recv_ = kInitialMaxRecv;
  DebugFile debug_file_;
  std::deque<CSendPacket> queue_;
  size_t queued_bytes_ = 0;
  size_t completions_pending_ = 0;  // this session's notices in the process's queue
  uint32_t local_bind_address_ = 0;
  uint16_t remote_port_ = 0;
  uint16_t local_port_ = 0;
  bool in_receive_ = false;
  bool in_send_ = false;
  bool receive_again_ = false;
  bool send_again_ = false;
  Lifeline lifeline_;
};

// The dotted form of an IPv4 address in network order.
std::string DotAddress(uint32_t address);
// Parses a dotted address into network order; false when `text` is not one.
bool ParseDotAddress(const std::string& text, uint32_t& address);

}  // namespace korvatel
