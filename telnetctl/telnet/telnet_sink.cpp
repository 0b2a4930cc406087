#include "telnetctl/telnet/telnet_sink.h"

#include <cstring>
#include <vector>

#include "telnetctl/telnet/telnet_codes.h"

namespace korvatel {
namespace {

constexpr uint8_t kCR = 13;
constexpr uint8_t kLF = 10;
constexpr uint8_t kNUL = 0;
// IAC SB option ... IAC SE: the shortest complete subnegotiation has one byte.
constexpr size_t kSubnegotiationFrame = 5;
constexpr size_t kFirstPayloadIndex = 3;

}  // namespace

// What a receive pass may rely on: this object lives and its connection too.
// Checked without touching the object, which an event may have destroyed.
struct CTelnetSink::Guard {
  std::weak_ptr<char> alive;
  const CTcpSession* session;
  uint32_t serial;
  bool Holds() const { return !alive.expired() && session->connection_serial() == serial; }
};

CTelnetSink::CTelnetSink() : session_(std::make_unique<CTcpSession>(*this)) {}

CTelnetSink::~CTelnetSink() = default;

void CTelnetSink::ResetConnectionState() {
  command_length_ = 0;
  skip_nul_ = false;
  escaped_iac_ = false;
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

// ---- the receive filter ---------------------------------------------------

void CTelnetSink::OnData(const uint8_t* bytes, size_t length) {
  if (bytes == nullptr) {
    OnDataEvent(nullptr, length);
    return;
  }
  const Guard guard{alive_, session_.get(), session_->connection_serial()};
  size_t i = 0;
  if (skip_nul_) {
    skip_nul_ = false;
    if (length > 0 && bytes[0] == kNUL) i = 1;
  }
  while (i < length) {
    if (command_length_ > 0) {
      command_[command_length_++] = bytes[i++];
      if (!ParseCommand(guard)) return;
      continue;
    }
    const auto* iac = static_cast<const uint8_t*>(std::memchr(bytes + i, kIAC, length - i));
    const size_t end = iac != nullptr ? static_cast<size_t>(iac - bytes) : length;
    if (end > i && !SplitData(guard, bytes + i, end - i, end == length)) return;
    if (iac == nullptr) return;
    command_[0] = kIAC;
    command_length_ = 1;
    escaped_iac_ = false;
    i = end + 1;
  }
}

bool CTelnetSink::RaiseData(const Guard& guard, const uint8_t* bytes, size_t length) {
  OnDataEvent(bytes, length);
  return guard.Holds();
}

bool CTelnetSink::RaiseCommand(const Guard& guard, uint8_t command, uint8_t option, const uint8_t* suboption,
                               size_t length) {
  OnCommandEvent(command, option, suboption, length);
  return guard.Holds();
}

// Pieces end after each CR, or after CR LF; the NUL of a bare CR NUL is
// dropped, also when it starts the next block.
bool CTelnetSink::SplitData(const Guard& guard, const uint8_t* bytes, size_t length, bool ends_block) {
  size_t start = 0;
  while (start < length) {
    const auto* cr = static_cast<const uint8_t*>(std::memchr(bytes + start, kCR, length - start));
    if (cr == nullptr) return RaiseData(guard, bytes + start, length - start);
    size_t end = static_cast<size_t>(cr - bytes) + 1;
    const bool bare_cr = end == length || bytes[end] != kLF;
    if (!bare_cr) ++end;
    if (!RaiseData(guard, bytes + start, end - start)) return false;
    if (bare_cr) {
      if (end < length && bytes[end] == kNUL) ++end;
      else if (end == length && ends_block) skip_nul_ = true;
    }
    start = end;
  }
  return true;
}

bool CTelnetSink::ParseCommand(const Guard& guard) {
  if (command_length_ >= kCommandBufferSize) {
    command_length_ = 0;
    OnException(2, "Error parsing TELNET option");
    return guard.Holds();
  }
  const uint8_t verb = command_[1];
  if (command_length_ == 2 && verb == kIAC) {
    command_length_ = 0;
    return RaiseData(guard, &kIAC, 1);
  }
  if (verb == kSB) return ParseSubnegotiation(guard);
  if (IsOptionVerb(verb)) {
    if (command_length_ < 3) return true;
    command_length_ = 0;
    return RaiseCommand(guard, verb, command_[2], nullptr, 0);
  }
  command_length_ = 0;
  return RaiseCommand(guard, verb, 0, nullptr, 0);
}

bool CTelnetSink::ParseSubnegotiation(const Guard& guard) {
  const size_t length = command_length_;
  const uint8_t last = command_[length - 1];
  const bool after_real_iac = command_[length - 2] == kIAC && !escaped_iac_;
  if (last == kIAC) {
    // A doubled 255 in the payload stays as one data byte.
    escaped_iac_ = after_real_iac && length - 2 >= kFirstPayloadIndex;
    if (escaped_iac_) --command_length_;
    return true;
  }
  escaped_iac_ = false;
  if (length <= kSubnegotiationFrame || last != kSE || !after_real_iac) return true;
  command_length_ = 0;
  return RaiseCommand(guard, kSB, command_[2], command_.data() + kFirstPayloadIndex,
                      length - kSubnegotiationFrame);
}

}  // namespace korvatel
