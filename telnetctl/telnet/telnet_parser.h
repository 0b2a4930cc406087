// TelnetParser: the receive side of telnet as a pure state machine. Received
// bytes go in; data pieces, commands and subnegotiations come out one at a
// time, so the caller decides after each event whether to go on. It does no
// I/O and calls nothing out.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

namespace korvatel {

struct TelnetEvent {
  enum class Kind : uint8_t {
    kData,      // `bytes`: a piece of data, never empty
    kCommand,   // `command` and, for WILL, WONT, DO, DONT and SB, `option`;
                // `bytes`: the payload of SB (255 undoubled), else empty
    kOverlong,  // a command longer than the parser's buffer, taken as garbage
  };
  Kind kind = Kind::kData;
  uint8_t command = 0;
  uint8_t option = 0;
  std::span<const uint8_t> bytes;
};

// One received block and how much of it the parser has taken.
struct ReceivedBlock {
  const uint8_t* bytes = nullptr;
  size_t length = 0;
  size_t used = 0;
};

class TelnetParser {
 public:
  // A command of this many bytes (IAC and verb included) is taken as garbage.
  static constexpr size_t kCommandBufferSize = 100;

  // The next event of `block`; false once the block is used up. An event's
  // bytes are valid until the next call. A caller that stops before the block
  // is used up drops its rest.
  bool Next(ReceivedBlock& block, TelnetEvent& event);
  // Forgets the connection's state, so a new connection starts clean.
  void Reset() { *this = TelnetParser(); }

 private:
  void StartBlock(ReceivedBlock& block);
  TelnetEvent NextPiece(ReceivedBlock& block);
  // Each takes the command byte just stored; true when it completed an event.
  bool CommandEnds(TelnetEvent& event);
  bool SubnegotiationEnds(TelnetEvent& event);

  std::array<uint8_t, kCommandBufferSize> command_{};
  size_t command_length_ = 0;
  // The last byte in the buffer is a 255 that arrived doubled (inside SB).
  bool escaped_iac_ = false;
  // The last piece ended its block on a bare CR (its NUL may start the next).
  bool cr_ended_block_ = false;
  // The next block's first byte is dropped if it is a NUL.
  bool skip_nul_ = false;
};

}  // namespace korvatel
