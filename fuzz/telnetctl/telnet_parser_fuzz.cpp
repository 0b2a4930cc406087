// Fuzz target: arbitrary received bytes through the telnet parser, cut into
// blocks of a fuzzed size. What comes out must not depend on the cutting, every
// event must keep the parser's promises, and a caller that stops early and
// starts anew must find it sound. Aborts on a violation.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <string>

#include "telnetctl/telnet/telnet_codes.h"
#include "telnetctl/telnet/telnet_parser.h"

namespace {

using korvatel::ReceivedBlock;
using korvatel::TelnetEvent;
using korvatel::TelnetParser;

constexpr uint8_t kCR = 13;
constexpr uint8_t kLF = 10;
constexpr uint8_t kBlockSizeMask = 0x3F;

void Require(bool condition) {
  if (!condition) std::abort();
}

// What a parse yields, data pieces joined: the same however the input is cut.
struct Transcript {
  std::string data;
  std::string commands;  // kind, command, option and payload of each
  bool operator==(const Transcript&) const = default;
};

void CheckPiece(std::span<const uint8_t> piece, const ReceivedBlock& block) {
  Require(!piece.empty());
  // A 255 is data only when it arrived doubled; then it is the whole piece.
  if (piece.size() == 1 && piece[0] == korvatel::kIAC) return;
  Require(piece.data() >= block.bytes && piece.data() + piece.size() <= block.bytes + block.used);
  for (size_t i = 0; i < piece.size(); ++i) {
    Require(piece[i] != korvatel::kIAC);
    // A carriage return ends its piece, alone or followed by a line feed.
    if (piece[i] == kCR && i + 1 < piece.size()) Require(i + 2 == piece.size() && piece[i + 1] == kLF);
  }
}

void CheckCommand(const TelnetEvent& event) {
  if (event.command == korvatel::kSB) {
    Require(!event.bytes.empty() && event.bytes.size() < TelnetParser::kCommandBufferSize);
    return;
  }
  Require(event.bytes.empty());
  Require(korvatel::IsOptionVerb(event.command) || event.option == 0);
}

void Check(const TelnetEvent& event, const ReceivedBlock& block) {
  switch (event.kind) {
    case TelnetEvent::Kind::kData: CheckPiece(event.bytes, block); break;
    case TelnetEvent::Kind::kCommand: CheckCommand(event); break;
    case TelnetEvent::Kind::kOverlong: Require(event.bytes.empty()); break;
  }
}

void Record(const TelnetEvent& event, Transcript& out) {
  if (event.kind == TelnetEvent::Kind::kData) {
    out.data.append(event.bytes.begin(), event.bytes.end());
    return;
  }
  out.commands += {static_cast<char>(event.kind), static_cast<char>(event.command), static_cast<char>(event.option)};
  out.commands.append(event.bytes.begin(), event.bytes.end());
}

Transcript Parse(const uint8_t* data, size_t size, size_t block_size) {
  TelnetParser parser;
  Transcript out;
  for (size_t offset = 0; offset < size; offset += block_size) {
    ReceivedBlock block{data + offset, std::min(block_size, size - offset)};
    TelnetEvent event;
    while (parser.Next(block, event)) {
      Check(event, block);
      Record(event, out);
    }
  }
  Require(out.data.size() <= size);
  return out;
}

// As a host that closes and reconnects on every command: the rest of the
// block is dropped and the parser starts clean.
void ParseStoppingAtCommands(const uint8_t* data, size_t size, size_t block_size) {
  TelnetParser parser;
  for (size_t offset = 0; offset < size; offset += block_size) {
    ReceivedBlock block{data + offset, std::min(block_size, size - offset)};
    TelnetEvent event;
    while (parser.Next(block, event)) {
      Check(event, block);
      if (event.kind != TelnetEvent::Kind::kData) {
        parser.Reset();
        break;
      }
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const size_t block_size = static_cast<size_t>(data[0] & kBlockSizeMask) + 1;
  ++data;
  --size;
  Require(Parse(data, size, block_size) == Parse(data, size, std::max<size_t>(size, 1)));
  ParseStoppingAtCommands(data, size, block_size);
  return 0;
}
