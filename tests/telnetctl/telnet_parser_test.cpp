// The telnet parser fed block by block, as the wire cuts the stream.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "telnetctl/telnet/telnet_parser.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

using namespace std::string_literals;
using korvatel::TelnetEvent;

// Data as it is; a command as [verb option], SB as [250 option:payload].
std::string Render(const TelnetEvent& event) {
  const std::string bytes(event.bytes.begin(), event.bytes.end());
  if (event.kind == TelnetEvent::Kind::kData) return bytes;
  if (event.kind == TelnetEvent::Kind::kOverlong) return "[overlong]";
  const std::string head = "[" + std::to_string(event.command) + " " + std::to_string(event.option);
  return head + (bytes.empty() ? "" : ":" + bytes) + "]";
}

const struct {
  const char* name;
  std::vector<std::string> blocks, events;
} kRows[] = {
    {"cut after each CR and CR LF", {"x\ry\r\n\r\nz\n"}, {"x\r", "y\r\n", "\r\n", "z\n"}},
    {"NUL of CR NUL dropped inside a block", {"e\r\0f"s}, {"e\r", "f"}},
    {"NUL of CR NUL dropped across blocks", {"ab\r", "\0cd"s}, {"ab\r", "cd"}},
    {"only a NUL that starts the next block", {"g\r", "h\0"s}, {"g\r", "h\0"s}},
    {"CR before a command leaves the next NUL", {"a\r\xff\xf1", "\0b"s}, {"a\r", "[241 0]", "\0b"s}},
    {"commands cut across blocks, option 255", {"\xff\xfb", "\x01\xff\xf1\xff", "\xf2\xff\xfd\xff"},
     {"[251 1]", "[241 0]", "[242 0]", "[253 255]"}},
    {"doubled 255 is one data byte", {"\xff", "\xffq"}, {"\xff", "q"}},
    {"subnegotiation of one byte", {"\xff\xfa\x18\0\xff\xf0"s}, {"[250 24:\0]"s}},
    {"five bytes do not end a subnegotiation", {"\xff\xfa\x18\xff\xf0xy", "\xff\xf0"}, {"[250 24:\xff\xf0xy]"}},
    {"doubled 255 in a subnegotiation", {"\xff\xfa\x18" "a\xff\xff" "b\xff\xf0"}, {"[250 24:a\xff" "b]"}},
    {"escaped 255 before 240 is payload", {"\xff\xfa\x18\xff\xff\xf0\xff\xff\xff\xf0"}, {"[250 24:\xff\xf0\xff]"}},
    {"the hundredth command byte makes garbage", {"\xff\xfa" + std::string(97, 'x'), "y", "after\xff\xf1"},
     {"[overlong]", "after", "[241 0]"}},
};

TEST(TelnetParser, EventsOfEachCutStream) {
  for (const auto& row : kRows) {
    korvatel::TelnetParser parser;
    std::vector<std::string> events;
    for (const std::string& bytes : row.blocks) {
      korvatel::ReceivedBlock block{reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()};
      for (TelnetEvent event; parser.Next(block, event);) events.push_back(Render(event));
    }
    EXPECT_EQ(events, row.events) << row.name;
  }
}

// The fuzz target (which aborts on a broken promise) over each row, cut in
// blocks of one to eight bytes.
TEST(TelnetParser, FuzzTargetPromisesHoldForEachRow) {
  for (const auto& row : kRows) {
    for (char cut = 0; cut < 8; ++cut) {
      std::string input(1, cut);
      for (const std::string& bytes : row.blocks) input += bytes;
      EXPECT_EQ(LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(input.data()), input.size()), 0);
    }
  }
}

}  // namespace
