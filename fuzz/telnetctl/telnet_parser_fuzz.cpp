// Fuzz target: received bytes through the telnet parser in blocks of a fuzzed
// size. The outcome must not depend on the cutting; every event keeps its promises.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <utility>

#include "telnetctl/telnet/telnet_codes.h"
#include "telnetctl/telnet/telnet_parser.h"

using namespace korvatel;

static void Require(bool condition) { if (!condition) std::abort(); }

// Only SB carries a payload. A piece lies in its block and holds no 255 (but a
// doubled one, alone); a CR ends its piece, alone or before a LF.
static void Check(const TelnetEvent& event, const ReceivedBlock& block) {
  const auto& bytes = event.bytes;
  const bool sb = event.kind == TelnetEvent::Kind::kCommand && event.command == kSB;
  if (event.kind != TelnetEvent::Kind::kData) {
    Require(sb ? !bytes.empty() && bytes.size() < TelnetParser::kCommandBufferSize : bytes.empty());
    return Require(sb || IsOptionVerb(event.command) || event.option == 0);
  }
  const bool doubled_iac = bytes.size() == 1 && bytes[0] == kIAC;
  Require(doubled_iac || (bytes.data() >= block.bytes && bytes.data() + bytes.size() <= block.bytes + block.used));
  Require(!bytes.empty());
  for (size_t i = 0, n = bytes.size(); i < n && !doubled_iac; ++i)
    Require(bytes[i] != kIAC && (bytes[i] != '\r' || i + 1 == n || (i + 2 == n && bytes[i + 1] == '\n')));
}

// The data joined, and each command as kind, verb, option and payload.
static std::pair<std::string, std::string> Parse(const uint8_t* data, size_t size, size_t block_size) {
  TelnetParser parser;
  std::pair<std::string, std::string> out;
  for (size_t offset = 0; offset < size; offset += block_size) {
    ReceivedBlock block{data + offset, std::min(block_size, size - offset)};
    for (TelnetEvent event; parser.Next(block, event);) {
      Check(event, block);
      const bool command = event.kind != TelnetEvent::Kind::kData;
      if (command) out.second += {char(event.kind), char(event.command), char(event.option)};
      (command ? out.second : out.first).append(event.bytes.begin(), event.bytes.end());
    }
  }
  return out;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const size_t block_size = (data[0] & 0x3Fu) + 1u;
  Require(Parse(data + 1, size - 1, block_size) == Parse(data + 1, size - 1, size));
  return 0;
}
