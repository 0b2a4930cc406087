// Output to the lines: the output modes, send, BOut, caret, colour sequences
// and the line codes of D-Dial links.
#include <gtest/gtest.h>

#include "support/fake_control.h"

namespace tellarium {
namespace {

using testing::FakeStationTest;

const std::string kPrefix = "-=> QVS-00: ";

using OutputTest = FakeStationTest;

TEST_F(OutputTest, EachModeFormatsForTheLine) {
  server.Connect(3, kChatUser);
  Line(3).lineType = kClientLine;
  struct Case {
    int16_t mode;
    std::string expected;
  };
  const std::vector<Case> cases = {
      {0, "hi"},
      {1, "hi"},
      {2, "hi"},
      {11, "hi"},
      {3, ""},
      {12, ""},
      {4, kPrefix + "hi"},
      {6, kPrefix + "hi"},
      {5, kPrefix + "Logoff Due to:hi\r"},
      {7, "\x01hi"},
      {9, "\x01hi"},
      {8, "\x02hi"},
      {10, kPrefix + "hi"},
      {13, ""},
      {-1, ""},
  };
  for (const Case& c : cases) EXPECT_EQ(server.FormatOutput(3, c.mode, "hi"), c.expected) << "mode " << c.mode;
}

TEST_F(OutputTest, LineFlagsAddSpacingAndBells) {
  server.Connect(3, kChatUser);
  Line(3).lineSpacing = true;
  Line(3).privateMsgBeep = true;
  Line(3).loginBeep = true;
  EXPECT_EQ(server.FormatOutput(3, 0, "hi"), "hi\r\n");
  EXPECT_EQ(server.FormatOutput(3, 1, "hi"), "\ahi");
  EXPECT_EQ(server.FormatOutput(3, 10, "hi"), kPrefix + "\ahi");
}

TEST_F(OutputTest, ClientPacketsToATelnetLineAreRefusedInText) {
  server.Connect(3, kChatUser);
  for (int16_t mode : {7, 8, 9}) {
    EXPECT_EQ(server.FormatOutput(3, mode, "a^b"), kPrefix + "Unsupported in Telnet mode.\r\n") << mode;
  }
}

TEST_F(OutputTest, CaretBecomesALineBreakAndABlankBelowStatus90) {
  EXPECT_EQ(server.caret("one^two^^"), "one\r\n two\r\n \r\n ");
  EXPECT_EQ(server.caret("none"), "none");
  server.Connect(3, kChatUser);
  EXPECT_EQ(server.FormatOutput(3, 2, "one^two"), "one\r\n two");
  Line(3).status = 90;
  Line(3).lineType = kClientLine;
  EXPECT_EQ(server.FormatOutput(3, 2, "one^two"), "one^two");
}

TEST_F(OutputTest, SendWritesTheFormattedTextOnlyToAConnectedLine) {
  server.Connect(3, kChatUser);
  server.send(3, 4, "a stored^text");
  EXPECT_EQ(server.Port(3).TakeSent(), kPrefix + "a stored\r\n text");
  server.send(3, 3, "nothing");
  EXPECT_EQ(server.Port(3).TakeSent(), "");
  server.send(3, 7, "packet");
  EXPECT_EQ(server.Port(3).TakeSent(), kPrefix + "Unsupported in Telnet mode.\r\n");

  server.Port(4).state = tntlib::tntClosing;
  Line(4).status = kChatUser;
  server.send(4, 4, "lost");
  EXPECT_EQ(server.Port(4).TakeSent(), "");
  EXPECT_EQ(ErrorLog(), "");
}

TEST_F(OutputTest, AnsiOnlyForATelnetCurrentLine) {
  server.currentLine = 2;
  Line(2).lineType = kTelnetLine;
  EXPECT_EQ(server.ANSI(37, 40, false, true, false, false, true), "\x1b[0;1;37;40m");
  EXPECT_EQ(server.ANSI(31, 44, true, true, true, true, true), "\x1b[0;5;1;4;7;31;44m");
  EXPECT_EQ(server.ANSI(7, 0, false, false, false, false, false), "\x1b[7;0m");
  Line(2).lineType = kClientLine;
  EXPECT_EQ(server.ANSI(37, 40, false, true, false, false, true), "");
  server.currentLine = 99;
  EXPECT_EQ(server.ANSI(37, 40, false, false, false, false, false), "");
  EXPECT_NE(ErrorLog().find("Routine: ANSI\r\n"), std::string::npos);
}

TEST_F(OutputTest, LineCodesCoverTwoDigitNumbersEndingIn0To7) {
  const std::string codes = "01234567ABCDEFGHIJKLMNOPQRSTUVWXYZ";
  std::size_t next = 0;
  for (int16_t a = -2; a <= 45; ++a) {
    const bool coded = a >= 0 && a <= 41 && a % 10 <= 7;
    EXPECT_EQ(server.Ltrans3(a), coded ? std::string(1, codes[next++]) : "") << a;
  }
  EXPECT_EQ(next, codes.size());
}

TEST_F(OutputTest, LineCodeTextsBecomeLineNumbers) {
  EXPECT_EQ(server.LTrans2("#a1"), "#101");
  EXPECT_EQ(server.LTrans2("Hz"), "1741");
  EXPECT_EQ(server.LTrans2("#Q: hi!"), "#301720");
  EXPECT_EQ(server.LTrans2(""), "");
}

class HeldOutputRelease : public OutputTest {
 protected:
  void Hold(int l, const std::string& text, int16_t mode = 2) {
    server.heldOutput[static_cast<std::size_t>(l)].Append(server.FormatOutput(l, mode, text + HeldOutput::kEndMark));
  }
};

TEST_F(HeldOutputRelease, OneMessagePerLinePerCall) {
  server.Connect(2, kChatUser);
  server.Connect(3, kChatUser);
  for (const char* m : {"one", "two", "three"}) Hold(2, m);
  Hold(3, "a^b");
  server.BOut();
  EXPECT_EQ(server.Port(2).TakeSent(), "one\r\n");
  EXPECT_EQ(server.Port(3).TakeSent(), "a\r\n b\r\n");
  server.BOut();
  server.BOut();
  EXPECT_EQ(server.Port(2).TakeSent(), "two\r\nthree\r\n");
  server.BOut();
  EXPECT_EQ(server.Port(2).TakeSent(), "");
}

TEST_F(HeldOutputRelease, ByStatus) {
  server.Connect(1, kLoggingIn, 1);
  server.Connect(3, kDDialLink);
  server.Connect(4, kQvsLink);
  Hold(1, "kept");
  server.heldOutput[3].Append(std::string("raw^text") + HeldOutput::kEndMark);
  Hold(4, "dropped");
  server.typing[3] = true;  // a link is never held back
  server.BOut();
  EXPECT_EQ(server.Port(1).TakeSent(), "");
  EXPECT_EQ(server.heldOutput[1].MessageCount(), 1u);
  EXPECT_EQ(server.Port(3).TakeSent(), "raw^text\r\n");
  EXPECT_EQ(server.Port(4).TakeSent(), "");
  EXPECT_EQ(server.heldOutput[4].MessageCount(), 0u);
}

TEST_F(HeldOutputRelease, SpacingTravelsInFrontOfTheNextMessage) {
  server.Connect(2, kChatUser);
  Line(2).lineSpacing = true;
  Hold(2, "one", 0);
  Hold(2, "two", 0);
  server.BOut();
  server.BOut();
  EXPECT_EQ(server.Port(2).TakeSent(), "one\r\n\r\ntwo\r\n");
}

// A caller who types without end while the channel talks keeps only the most
// recent output, within the held-output bound.
TEST_F(HeldOutputRelease, StaysBoundedForACallerWhoNeverStopsTyping) {
  server.Connect(2, kChatUser);
  server.Connect(3, kChatUser);
  Line(2).channel = Line(3).channel = 1;
  server.typing[2] = true;
  const std::string chat(1000, 'x');
  for (int i = 0; i < 2000; ++i) server.backlog(0, chat + std::to_string(i), 3);
  EXPECT_LE(server.heldOutput[2].Bytes(), HeldOutput::kCapacityBytes);
  server.typing[2] = false;
  server.BOut();
  const std::string first = server.Port(2).TakeSent();
  EXPECT_EQ(first.substr(0, chat.size()), chat);
  EXPECT_NE(first, chat + "0\r\n");  // the oldest went
}

// The answers' texts are checked on the wire; here, that each clears the line.
TEST_F(OutputTest, ResponsesCarryThePrefixAndClearTheInput) {
  server.Connect(3, kChatUser);
  server.inputLine[3] = "/X";
  server.Response(8, 3);
  EXPECT_EQ(server.Port(3).TakeSent(), kPrefix + "Not Online.\r\n");
  EXPECT_EQ(server.inputLine[3], "");
  server.Response(9, 3);
  EXPECT_EQ(server.Port(3).TakeSent(), "");
}

}  // namespace
}  // namespace tellarium
