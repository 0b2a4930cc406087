#include <gtest/gtest.h>

#include "support/fake_control.h"
#include "support/server_fixture.h"

namespace tellarium {
namespace {

using ChatLines = testing::ServerTest;

struct TagCase {
  int16_t line;
  int16_t status;
  int16_t substate;
  int16_t level;
  int32_t channel;
  const char* linkChannels;
  const char* handle;
  const char* tag;
};

// Every part of the tag: marker, brackets by level, place, separator.
TEST_F(ChatLines, HandleBuildsTheDisplayTagOfEachKindOfLine) {
  const TagCase cases[] = {
      {5, kChatUser, 0, 1, 1, "", "Max", "#5[C1]:Max) "},
      {5, kChatUser, 0, 0, 2, "", "Guest", "#5(C2]:Guest) "},
      {5, kChatUser, 0, 2, 3, "", "Two", "#5<C3):Two) "},
      {5, kChatUser, 0, 3, 4, "", "Three", "#5<C4]:Three) "},
      {5, kChatUser, 0, 4, 9, "", "Op", "#5<C9>:Op) "},
      {5, kChatUser, 0, 5, 1, "", "High", "#5C1:High) "},
      {5, kChatUser, 0, -1, 1, "", "Low", "#5C1:Low) "},
      {12, kChatUser, kTimeLimitWarned, 1, 1, "", "Late", "*12[C1]:Late) "},
      {2, kChatUser, kInPrivateChat, 1, 1, "", "Pair", "#2[CHAT]:Pair) "},
      {2, kChatUser, kInConference, 1, 512, "", "Conf", "#2[CONF]:Conf) "},
      {2, kChatUser, kRelogPending, 1, 1, "", "Again", "#2[C1]:Again) "},
      {3, kDDialLink, 0, 1, 1, "1", "Ddl", "#3[1]=Ddl) "},
      {3, kDDialLink, 1, 1, 1, " 12 ", "Dcl", "#3[12]-Dcl) "},
      {3, kDDialLink, 2, 1, 1, "123456789", "Qvl", "#3[123456789]-Qvl) "},
      {3, kDDialLink, 3, 1, 1, "1", "Slow", "*3[1]:Slow) "},
      {4, kQvsLink, 0, 1, 1, "RNGLSWX", "Qvs", "#4[RNGLSWX]+Qvs) "},
      {4, kQvsLink, 1, 1, 1, "RNGLSWX", "Qv2", "#4[RNGLSWX]|Qv2) "},
      {4, kQvsLink, 2, 1, 1, "RNGLSWX", "Done", "*4[RNGLSWX]:Done) "},
      {6, kOutdial, 0, 4, 1, "", "Out", "#6<PEND>?Out) "},
      {6, kOutdial, 1, 4, 1, "", "Out", "#6<PEND>?Out) "},
      {6, kOutdial, 2, 4, 1, "", "Out", "#6<TERM>?Out) "},
      {6, kOutdial, 3, 4, 1, "", "Out", "#6<TERM>?Out) "},
      {6, kOutdial, 4, 4, 1, "", "Out", "#6<REMOTE>?Out) "},
      {7, kLoggingIn, 1, 0, 0, "", "?", "#7(C0]:?) "},
      {0, kChatUser, 0, 4, 1, "", "  Sys Op  ", "#0<C1>:Sys Op) "},
  };
  for (const TagCase& c : cases) {
    LineState& line = server.lines[static_cast<std::size_t>(c.line)];
    line.status = c.status;
    line.substate = c.substate;
    line.level = c.level;
    line.channel = c.channel;
    line.linkChannels = c.linkChannels;
    EXPECT_EQ(server.Handle(c.line, c.handle), c.tag);
  }
  EXPECT_EQ(ErrorLog(), "");
}

TEST_F(ChatLines, HandleOfALineOutsideTheTableKeepsTheHandleAndLogs) {
  EXPECT_EQ(server.Handle(36, "Max"), "Max) ");
  EXPECT_EQ(ErrorLog(), "Routine: Handle\r\nError:Subscript out of range ( 9)\r\n");
}

TEST_F(ChatLines, ChklineReadsOnlyPlainLineNumbers) {
  server.config.maxLines = 7;
  EXPECT_EQ(server.chkline("0"), 0);
  EXPECT_EQ(server.chkline("7"), 7);
  EXPECT_EQ(server.chkline("05"), -1);
  EXPECT_EQ(server.chkline(" 5"), -1);
  EXPECT_EQ(server.chkline("5 "), -1);
  EXPECT_EQ(server.chkline("8"), -1);
  EXPECT_EQ(server.chkline("99"), -1);
  EXPECT_EQ(server.chkline(""), -1);
  EXPECT_EQ(server.chkline("A"), -1);
  server.config.maxLines = 31;
  EXPECT_EQ(server.chkline("31"), 31);
}

TEST(Clearance, RequiredLevelAtOrBelowTheCurrentOne) {
  EXPECT_TRUE(Server::Clearance(3, 3));
  EXPECT_FALSE(Server::Clearance(4, 3));
  EXPECT_TRUE(Server::Clearance(0, 4));
  EXPECT_FALSE(Server::Clearance(1, 0));
}

TEST_F(ChatLines, SetVersionRestoresTheStationDefaults) {
  server.stationNumber = "42";
  server.serverVersion = "V9";
  server.SetVersion();
  EXPECT_EQ(server.stationNumber, "00");
  EXPECT_EQ(server.serverVersion, "V1.40M");
}

// The chat path end to end: a typed line goes out under its sender's tag.
class ChatLinePath : public testing::FakeStationTest {
 protected:
  void SetUp() override {
    FakeStationTest::SetUp();
    for (int16_t l : {5, 6}) {
      server.Connect(l, kChatUser);
      server.lines[static_cast<std::size_t>(l)].channel = 1;
      server.lines[static_cast<std::size_t>(l)].level = 1;
    }
    server.lines[5].handle = "  Max";
    server.lines[6].handle = "Ann";
  }
};

TEST_F(ChatLinePath, ATypedLineReachesTheChannelUnderTheSendersTag) {
  server.Port(5).RaiseRecv("hello\r");
  server.BOut();
  EXPECT_NE(server.Port(6).TakeSent().find("#5[C1]:Max) hello\r\n"), std::string::npos);
  EXPECT_EQ(server.lines[5].handle.Raw().substr(0, 5), "  Max");
}

}  // namespace
}  // namespace tellarium
