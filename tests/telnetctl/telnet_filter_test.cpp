// The receive filter and command parser, fed directly.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "host.h"
#include "telnetctl/telnet/telnet_codes.h"
#include "telnetctl/telnet/telnet_sink.h"

namespace {

struct Command {
  int command;
  int option;
  std::string suboption;
  bool operator==(const Command&) const = default;
};

class RecordingSink final : public korvatel::CTelnetSink {
 public:
  std::vector<std::string> pieces;
  std::vector<Command> commands;
  std::vector<std::pair<int, std::string>> exceptions;

  void Feed(const std::string& block) {
    OnData(reinterpret_cast<const uint8_t*>(block.data()), block.size());
  }

  void OnConnect(const std::string&, uint16_t, const std::string&, uint16_t, const std::string&) override {}
  void OnSend(uint32_t) override {}
  void OnListen(const std::string&, uint16_t, const std::string&) override {}
  void OnAccept() override {}
  void OnException(int16_t code, const std::string& text) override { exceptions.emplace_back(code, text); }

 protected:
  void OnDataEvent(const uint8_t* bytes, size_t length) override {
    if (bytes == nullptr) {
      pieces.emplace_back("<closed>");
      return;
    }
    pieces.emplace_back(reinterpret_cast<const char*>(bytes), length);
  }
  void OnCommandEvent(uint8_t command, uint8_t option, const uint8_t* suboption, size_t length) override {
    commands.push_back({command, option, std::string(reinterpret_cast<const char*>(suboption), length)});
  }
};

std::string Bytes(std::initializer_list<int> values) {
  std::string s;
  for (int v : values) s.push_back(static_cast<char>(v));
  return s;
}

using Pieces = std::vector<std::string>;

// "abc CR LF def" is cut on the wire by the transfer tests.
TEST(TelnetLineCutting, CutsAfterABareCrInsideABlock) {
  RecordingSink sink;
  sink.Feed("x\ry\r\n\r\nz\n");
  EXPECT_EQ(sink.pieces, (Pieces{"x\r", "y\r\n", "\r\n", "z\n"}));
}

TEST(TelnetLineCutting, DropsTheNulOfCrNulAlsoAcrossBlocks) {
  RecordingSink sink;
  sink.Feed(std::string("ab\r", 3));
  sink.Feed(std::string("\0cd", 3));
  EXPECT_EQ(sink.pieces, (Pieces{"ab\r", "cd"}));

  sink.pieces.clear();
  sink.Feed(std::string("e\r\0f", 4));
  EXPECT_EQ(sink.pieces, (Pieces{"e\r", "f"}));

  // Only a NUL right at the start of the next block is dropped.
  sink.pieces.clear();
  sink.Feed("g\r");
  sink.Feed(std::string("h\0", 2));
  EXPECT_EQ(sink.pieces, (Pieces{"g\r", std::string("h\0", 2)}));
}

TEST(TelnetLineCutting, CrBeforeACommandDoesNotSkipTheNextBlocksNul) {
  RecordingSink sink;
  sink.Feed("a\r" + Bytes({255, 241}));
  sink.Feed(std::string("\0b", 2));
  EXPECT_EQ(sink.pieces, (Pieces{"a\r", std::string("\0b", 2)}));
  EXPECT_EQ(sink.commands, (std::vector<Command>{{241, 0, ""}}));
}

TEST(TelnetCommands, VerbsTwoByteCommandsAndSplitsAcrossBlocks) {
  RecordingSink sink;
  sink.Feed(Bytes({255, 251}));
  sink.Feed(Bytes({1, 255, 241, 255}));
  sink.Feed(Bytes({242, 255, 253, 255}));  // option 255 is an option like any other
  EXPECT_EQ(sink.commands, (std::vector<Command>{{251, 1, ""}, {241, 0, ""}, {242, 0, ""}, {253, 255, ""}}));
  EXPECT_TRUE(sink.pieces.empty());
}

TEST(TelnetCommands, SubnegotiationNeedsMoreThanFiveBytes) {
  RecordingSink sink;
  sink.Feed(Bytes({255, 250, 24, 0, 255, 240}));
  EXPECT_EQ(sink.commands, (std::vector<Command>{{250, 24, Bytes({0})}}));

  sink.commands.clear();
  sink.Feed(Bytes({255, 250, 24, 255, 240}) + "xy");
  EXPECT_TRUE(sink.commands.empty());
  EXPECT_TRUE(sink.pieces.empty());  // still collecting
  sink.Feed(Bytes({255, 240}));
  ASSERT_EQ(sink.commands.size(), 1u);
  EXPECT_EQ(sink.commands[0].suboption, Bytes({255, 240}) + "xy");
}

TEST(TelnetCommands, DoubledIacInsideSubnegotiationIsOneDataByte) {
  RecordingSink sink;
  sink.Feed(Bytes({255, 250, 24, 'a', 255, 255, 'b', 255, 240}));
  EXPECT_EQ(sink.commands, (std::vector<Command>{{250, 24, "a" + Bytes({255}) + "b"}}));

  // An escaped 255 followed by 240 is payload, not the end.
  sink.commands.clear();
  sink.Feed(Bytes({255, 250, 24, 255, 255, 240, 255, 255, 255, 240}));
  EXPECT_EQ(sink.commands, (std::vector<Command>{{250, 24, Bytes({255, 240, 255})}}));
}

TEST(TelnetCommands, HundredByteCommandIsAnErrorAndDataFollows) {
  RecordingSink sink;
  sink.Feed(Bytes({255, 250}) + std::string(97, 'x'));
  EXPECT_TRUE(sink.exceptions.empty());
  sink.Feed("y");  // the 100th byte
  ASSERT_EQ(sink.exceptions.size(), 1u);
  EXPECT_EQ(sink.exceptions[0], (std::pair<int, std::string>{2, "Error parsing TELNET option"}));
  sink.Feed("after" + Bytes({255, 241}));
  EXPECT_EQ(sink.pieces, (Pieces{"after"}));
  EXPECT_EQ(sink.commands, (std::vector<Command>{{241, 0, ""}}));
}

TEST(TelnetCommands, CollectedCommandDoesNotSurviveIntoANewSession) {
  RecordingSink sink;
  sink.Feed(Bytes({255, 250, 24}));
  ASSERT_TRUE(sink.Listen("127.0.0.1", kvtest::FreePort(), 0, 0));
  ASSERT_TRUE(sink.session().Close(true));
  sink.Feed("hello");
  EXPECT_EQ(sink.pieces, (Pieces{"<closed>", "hello"}));
}

TEST(TelnetCommands, FuzzedBlocksNeverGrowTheCommandBuffer) {
  RecordingSink sink;
  uint32_t seed = 12345;
  for (int round = 0; round < 2000; ++round) {
    std::string block;
    for (int i = 0; i < 37; ++i) {
      seed = seed * 1103515245u + 12345u;
      const uint8_t pick = static_cast<uint8_t>(seed >> 24);
      block.push_back(static_cast<char>(pick > 200 ? 235 + pick % 21 : pick));
    }
    sink.Feed(block);
  }
  for (const Command& c : sink.commands) EXPECT_LT(c.suboption.size(), korvatel::CTelnetSink::kCommandBufferSize);
}

}  // namespace
