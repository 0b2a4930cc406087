// CTelnetSink: the telnet layer between a session and the control. It owns the
// session, feeds what is received to the telnet parser and raises its events,
// answers option negotiation on request and builds commands.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "telnetctl/engine/tcp_session.h"
#include "telnetctl/engine/tcp_sink.h"
#include "telnetctl/telnet/telnet_parser.h"

namespace korvatel {

class CTelnetSink : public CTcpSink {
 public:
  CTelnetSink();
  ~CTelnetSink() override;

  CTcpSession& session() { return *session_; }
  const CTcpSession& session() const { return *session_; }

  // The session operations that begin a connection; a new connection starts
  // with a clean parser and no memory of options sent.
  bool Connect(const std::string& host, uint16_t remote_port, const std::string& local_dot_addr,
               uint16_t local_port, uint8_t flags);
  bool Listen(const std::string& local_dot_addr, uint16_t local_port, uint16_t timeout_seconds, uint8_t flags);
  bool Accept(CTcpSession* listener, uint8_t flags);

  // Queues IAC SB option <suboption, 255 doubled> IAC SE when there is a
  // suboption, else IAC command (+ option for WILL, WONT, DO, DONT); DM goes urgent.
  bool SendCommand(uint8_t command, uint8_t option, const uint8_t* suboption, size_t suboption_length,
                   uint32_t data_tag);

  // Answers a received WILL, WONT, DO or DONT, unless the answer would repeat
  // what this side last sent about the option (which would never end).
  void AnswerOption(uint8_t command, uint8_t option);

  // CTcpSink: received blocks through the parser, and the session's Send.
  void OnData(const uint8_t* bytes, size_t length) final;
  bool Send(const uint8_t* bytes, size_t length, bool urgent, uint32_t data_tag) override;

 protected:
  // A piece of data; (nullptr, 0) when the session has been closed.
  virtual void OnDataEvent(const uint8_t* bytes, size_t length) = 0;
  // A complete telnet command; suboption bytes only for SB.
  virtual void OnCommandEvent(uint8_t command, uint8_t option, const uint8_t* suboption, size_t length) = 0;

 private:
  void ResetConnectionState();
  void Raise(const TelnetEvent& event);
  void NoteOptionsSent(const uint8_t* bytes, size_t length);

  std::unique_ptr<CTcpSession> session_;
  TelnetParser parser_;
  // What this side last sent about each option (0: nothing), and the scanner's
  // position in the outgoing stream (0 data, 1 after IAC, else the verb).
  std::array<uint8_t, 256> last_sent_{};
  uint8_t outgoing_state_ = 0;
};

}  // namespace korvatel
