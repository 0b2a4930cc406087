#include "telnetctl/telnet/telnet_parser.h"

#include "telnetctl/telnet/telnet_codes.h"

namespace korvatel {
namespace {

constexpr uint8_t kCR = 13;
constexpr uint8_t kLF = 10;
constexpr uint8_t kNUL = 0;
// IAC verb option: where a command keeps its parts.
constexpr size_t kVerbIndex = 1;
constexpr size_t kOptionIndex = 2;
constexpr size_t kOptionCommandLength = 3;
// IAC SB option ... IAC SE: the shortest complete subnegotiation has one byte.
constexpr size_t kSubnegotiationFrame = 5;
constexpr size_t kFirstPayloadIndex = 3;

TelnetEvent Data(const uint8_t* bytes, size_t length) {
  return {TelnetEvent::Kind::kData, 0, 0, {bytes, length}};
}

TelnetEvent Command(uint8_t command, uint8_t option, std::span<const uint8_t> payload = {}) {
  return {TelnetEvent::Kind::kCommand, command, option, payload};
}

}  // namespace

bool TelnetParser::Next(ReceivedBlock& block, TelnetEvent& event) {
  if (block.used == 0) StartBlock(block);
  while (block.used < block.length) {
    const uint8_t byte = block.bytes[block.used];
    if (command_length_ == 0 && byte != kIAC) {
      event = NextPiece(block);
      return true;
    }
    ++block.used;
    if (command_length_ == 0) escaped_iac_ = false;
    command_[command_length_++] = byte;
    if (command_length_ > 1 && CommandEnds(event)) return true;
  }
  // Only a caller that went on past the piece lets its bare CR reach the next block.
  if (cr_ended_block_) {
    cr_ended_block_ = false;
    skip_nul_ = true;
  }
  return false;
}

void TelnetParser::StartBlock(ReceivedBlock& block) {
  cr_ended_block_ = false;
  if (!skip_nul_) return;
  skip_nul_ = false;
  if (block.length > 0 && block.bytes[0] == kNUL) block.used = 1;
}

// Pieces end after each CR, or after CR LF, and before each IAC; the NUL of a
// bare CR NUL is dropped, also when it starts the next block.
TelnetEvent TelnetParser::NextPiece(ReceivedBlock& block) {
  const uint8_t* bytes = block.bytes;
  const size_t start = block.used;
  size_t end = start;
  while (end < block.length && bytes[end] != kCR && bytes[end] != kIAC) ++end;
  size_t next = end;
  if (end < block.length && bytes[end] == kCR) {
    next = ++end;
    const bool data_follows = end < block.length && bytes[end] != kIAC;
    if (data_follows && bytes[end] == kLF) {
      next = ++end;
    } else if (data_follows && bytes[end] == kNUL) {
      next = end + 1;
    } else if (end == block.length) {
      cr_ended_block_ = true;
    }
  }
  block.used = next;
  return Data(bytes + start, end - start);
}

bool TelnetParser::CommandEnds(TelnetEvent& event) {
  if (command_length_ >= kCommandBufferSize) {
    command_length_ = 0;
    event = {TelnetEvent::Kind::kOverlong, 0, 0, {}};
    return true;
  }
  const uint8_t verb = command_[kVerbIndex];
  if (command_length_ == kVerbIndex + 1 && verb == kIAC) {
    command_length_ = 0;
    event = Data(&kIAC, 1);
    return true;
  }
  if (verb == kSB) return SubnegotiationEnds(event);
  const bool has_option = IsOptionVerb(verb);
  if (has_option && command_length_ < kOptionCommandLength) return false;
  command_length_ = 0;
  event = Command(verb, has_option ? command_[kOptionIndex] : 0);
  return true;
}

bool TelnetParser::SubnegotiationEnds(TelnetEvent& event) {
  const size_t length = command_length_;
  const uint8_t last = command_[length - 1];
  const bool after_real_iac = command_[length - 2] == kIAC && !escaped_iac_;
  if (last == kIAC) {
    // A doubled 255 in the payload stays as one data byte.
    escaped_iac_ = after_real_iac && length - 2 >= kFirstPayloadIndex;
    if (escaped_iac_) --command_length_;
    return false;
  }
  escaped_iac_ = false;
  if (length <= kSubnegotiationFrame || last != kSE || !after_real_iac) return false;
  command_length_ = 0;
  event = Command(kSB, command_[kOptionIndex], {command_.data() + kFirstPayloadIndex, length - kSubnegotiationFrame});
  return true;
}

}  // namespace korvatel
