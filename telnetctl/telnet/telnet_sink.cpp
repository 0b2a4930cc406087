#include "telnetctl/telnet/telnet_sink.h"

#include <cstring>
#include <vector>

#include "telnetctl/korvatel.h"
#include "telnetctl/telnet/telnet_codes.h"

namespace korvatel {

CTelnetSink::CTelnetSink() : session_(std::make_unique<CTcpSession>(*this)) {}

CTelnetSink::~CTelnetSink() = default;

void CTelnetSink::ResetConnectionState() {
  parser_.Reset();
  last_sent_.fill(0);
  outgoing_state_ = 0;
}

bool CTelnetSink::Connect(const std::string& host, uint16_t remote_port, const std::string& local_dot_addr,
                          uint16_t local_port, uint8_t flags) {
  if (session_->state() == kStateClosed) ResetConnectionState();
  return session_->Connect(host, remote_port, local_dot_addr, local_port, flags);
}

bool CTelnetSink::Listen(const std::string& local_dot_addr, uint16_t local_port, uint16_t timeout_seconds,
                         uint8_t flags) {
  if (session_->state() == kStateClosed) ResetConnectionState();
  return session_->Listen(local_dot_addr, local_port, timeout_seconds, flags);
}

bool CTelnetSink::Accept(CTcpSession* listener, uint8_t flags) {
  if (session_->state() == kStateClosed) ResetConnectionState();
  return session_->Accept(listener, flags);
}

// ---- sending --------------------------------------------------------------

bool CTelnetSink::Send(const uint8_t* bytes, size_t length, bool urgent, uint32_t data_tag) {
  if (!session_->Send(bytes, length, urgent, data_tag)) return false;
  NoteOptionsSent(bytes, length);
  return true;
}

void CTelnetSink::NoteOptionsSent(const uint8_t* bytes, size_t length) {
  size_t i = 0;
  while (i < length) {
    if (outgoing_state_ == 0) {
      const auto* iac = static_cast<const uint8_t*>(std::memchr(bytes + i, kIAC, length - i));
      if (iac == nullptr) return;
      outgoing_state_ = 1;
      i = static_cast<size_t>(iac - bytes) + 1;
      continue;
    }
    const uint8_t b = bytes[i++];
    if (outgoing_state_ == 1) {
      outgoing_state_ = IsOptionVerb(b) ? b : 0;
    } else {
      last_sent_[b] = outgoing_state_;
      outgoing_state_ = 0;
    }
  }
}

bool CTelnetSink::SendCommand(uint8_t command, uint8_t option, const uint8_t* suboption, size_t suboption_length,
                              uint32_t data_tag) {
  std::vector<uint8_t> out;
  if (suboption_length > 0) {
    out = {kIAC, kSB, option};
    for (size_t i = 0; i < suboption_length; ++i) {
      out.push_back(suboption[i]);
      if (suboption[i] == kIAC) out.push_back(kIAC);
    }
    out.push_back(kIAC);
    out.push_back(kSE);
    return Send(out.data(), out.size(), false, data_tag);
  }
  out = {kIAC, command};
  if (IsOptionVerb(command)) out.push_back(option);
  return Send(out.data(), out.size(), command == kDM, data_tag);
}

void CTelnetSink::AnswerOption(uint8_t command, uint8_t option) {
  const std::optional<uint8_t> answer = AutomaticAnswer(command, option);
  if (!answer || last_sent_[option] == *answer) return;
  const uint8_t bytes[] = {kIAC, *answer, option};
  Send(bytes, sizeof bytes, false, 0);
}

// ---- receiving ------------------------------------------------------------

void CTelnetSink::OnData(const uint8_t* bytes, size_t length) {
  if (bytes == nullptr) {
    OnDataEvent(nullptr, length);
    return;
  }
  // Once an event has ended the connection (or this object), the rest of the
  // block is dropped.
  const CalloutGuard guard(session_->lifeline());
  ReceivedBlock block{bytes, length};
  TelnetEvent event;
  while (parser_.Next(block, event)) {
    Raise(event);
    if (guard.Closed()) return;
  }
}

void CTelnetSink::Raise(const TelnetEvent& event) {
  switch (event.kind) {
    case TelnetEvent::Kind::kData: OnDataEvent(event.bytes.data(), event.bytes.size()); return;
    case TelnetEvent::Kind::kCommand:
      OnCommandEvent(event.command, event.option, event.bytes.data(), event.bytes.size());
      return;
    case TelnetEvent::Kind::kOverlong: OnException(tntlib::tntProtocol, "Error parsing TELNET option"); return;
  }
}

}  // namespace korvatel
