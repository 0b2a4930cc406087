#include <gtest/gtest.h>

#include <filesystem>
#include <functional>

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

// A line number outside the table is an error entry naming the routine (and
// its arguments, for send); the statement is given up and the server goes on.
TEST_F(ChatLines, ALineOutsideTheTableIsAnErrorEntryOfTheRoutine) {
  testing::WriteFile("statid.ans", "3,10,0,Name:\n");
  struct Case {
    const char* routine;
    std::function<void()> call;
    std::string arguments;
  };
  const Case cases[] = {
      {"Handle", [&] { EXPECT_EQ(server.Handle(36, "Max"), "Max) "); }, ""},
      {"LogID", [&] { EXPECT_EQ(server.LogId(36), ""); }, ""},
      {"BackLog", [&] { server.backlog(0, "lost", 40); }, ""},
      {"Send", [&] { server.send(40, 4, "hello"); }, "Output Line: 40\r\nOutput Mode: 4\r\nOutput String:hello\r\n"},
      {"SysScreenFile", [&] { EXPECT_EQ(server.SysScreenFile("statid.ans", 33), 0); }, ""},
      {"SysTelOperate", [&] { server.SysTelOperate(-1, 0); }, ""},
  };
  for (const Case& c : cases) {
    std::filesystem::remove("error.log");
    c.call();
    EXPECT_EQ(ErrorLog(), std::string("Routine: ") + c.routine + "\r\nError:Subscript out of range ( 9)\r\n" + c.arguments);
  }
}

TEST(Clearance, RequiredLevelAtOrBelowTheCurrentOne) {
  EXPECT_TRUE(Server::Clearance(3, 3));
  EXPECT_FALSE(Server::Clearance(4, 3));
  EXPECT_TRUE(Server::Clearance(0, 4));
  EXPECT_FALSE(Server::Clearance(1, 0));
}

}  // namespace
}  // namespace tellarium
