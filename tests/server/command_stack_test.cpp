// The command dispatch: which handler a command text selects, and screens
// going out in chunks.
#include <gtest/gtest.h>

#include <numeric>
#include <string>

#include "support/fake_control.h"

namespace tellarium {
namespace {

std::string Selected(std::string_view text) {
  const Server::Command* command = Server::SelectCommand(text);
  return command == nullptr ? "none" : std::string(command->code);
}

TEST(CommandDispatch, TwoLetterCodesShadowTheirFirstLetter) {
  const std::pair<const char*, const char*> cases[] = {
      {"SC", "SC"}, {"SM", "SM"}, {"SP", "SP"}, {"ST", "ST"}, {"S#", "S#"}, {"S", "S"},   {"S123", "S"},
      {"Sx", "S"},  {"BP", "BP"}, {"BL", "BL"}, {"B", "B"},   {"Bx", "B"},  {"LF", "LF"}, {"LK", "LK"},
      {"LR", "LR"}, {"L", "L"},   {"Lx", "L"},  {"T#3 2", "T#"}, {"T2", "T"}, {"PS hi", "PS"}, {"P3 hi", "P"},
      {"UI me", "UI"}, {"*?", "*?"}, {"?", "?"},
  };
  for (const auto& [text, code] : cases) EXPECT_EQ(Selected(text), code) << text;
}

TEST(CommandDispatch, WhatMatchesNothing) {
  for (const char* text : {"", "1", "05", "A", "D", "J", "N", "O", "U", "W", "X", "Y", "Ux", "!"}) {
    EXPECT_EQ(Selected(text), "none") << '"' << text << '"';
  }
}

TEST(CommandDispatch, EveryCommandOfTheTableIsNamed) {
  for (const char* code : {"PS", "LF", "T#", "SM", "SC", "AM", "AA", "AC", "AI", "AZ", "LK", "LR", "ST", "S#", "SP",
                           "UI", "*?", "BP", "BL", "P",  "G",  "C",  "V",  "B",  "F",  "Z",  "Q",  "H",  "S",
                           "T",  "I",  "K",  "E",  "M",  "R",  "?",  "L"}) {
    const Server::Command* command = Server::SelectCommand(code);
    ASSERT_NE(command, nullptr) << code;
    EXPECT_EQ(command->code, code);
    EXPECT_FALSE(command->purpose.empty()) << code;
  }
}

class ScreenChunks : public testing::FakeStationTest {
 protected:
  ScreenTable Screen(std::initializer_list<std::size_t> lengths) {
    ScreenTable screen;
    for (std::size_t length : lengths) {
      screen.lines[static_cast<std::size_t>(screen.count++)] = "\r\n" + std::string(length - 2, 'x');
    }
    return screen;
  }
  std::vector<std::size_t> ChunksOf(const ScreenTable& screen) {
    server.Connect(1, kChatUser);
    server.mainMenu = screen;
    server.inputLine[1] = "/?";
    server.CommandStack(1);
    auto& port = server.Port(1);
    EXPECT_EQ(port.TakeSent().size(), std::accumulate(port.sendSizes.begin(), port.sendSizes.end(), std::size_t{0}));
    return std::exchange(port.sendSizes, {});
  }
};

TEST_F(ScreenChunks, AChunkStopsBeforeReachingTwoHundred) {
  EXPECT_EQ(ChunksOf(Screen({100, 99})), (std::vector<std::size_t>{199}));
  EXPECT_EQ(ChunksOf(Screen({100, 100})), (std::vector<std::size_t>{100, 100}));
  EXPECT_EQ(ChunksOf(Screen({50, 50, 50, 50, 50})), (std::vector<std::size_t>{150, 100}));
}

TEST_F(ScreenChunks, ALongLineGoesAlone) {
  EXPECT_EQ(ChunksOf(Screen({10, 250, 10})), (std::vector<std::size_t>{10, 250, 10}));
  EXPECT_EQ(ChunksOf(Screen({250})), (std::vector<std::size_t>{250}));
}

}  // namespace
}  // namespace tellarium
