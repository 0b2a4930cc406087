// The status display and the telnet screen forms.
#include <gtest/gtest.h>

#include <tuple>
#include <vector>

#include "support/connected_server.h"
#include "support/server_fixture.h"

namespace tellarium {
namespace {

template <class Fixture>
class ConsoleFixture : public Fixture {
 protected:
  using Fixture::server;

  void SetUp() override {
    Fixture::SetUp();
    server.lineBreak = "\r\n";
    server.config.maxLines = 7;
  }
  LineState& Member(int16_t line, int16_t status, int16_t substate) {
    LineState& state = server.lines[static_cast<std::size_t>(line)];
    state.status = status;
    state.substate = substate;
    state.handle = "Max";
    state.account = "012";
    state.onlineTime = 17;
    return state;
  }
  // The display's row of a line, without its line break.
  std::string Row(int16_t line) {
    server.SysScreen();
    const std::string& text = server.txtLines;
    const std::string start = "Port #" + std::to_string(line) + ":";
    const std::size_t at = text.find(start);
    if (at == std::string::npos) return "<no row>";
    return text.substr(at, text.find("\r\n", at) - at);
  }
};

using StatusDisplayTest = ConsoleFixture<testing::ServerTest>;

TEST_F(StatusDisplayTest, RowForEveryStatusAndSubstate) {
  const std::vector<std::tuple<int16_t, int16_t, std::string>> rows = {
      {0, 0, "Offline"},
      {1, 0, ""},
      {1, 1, " Logging In From"},
      {1, 2, " Password phase @"},
      {1, 4, ""},
      {2, 0, " Max #012: 17 @"},
      {2, 5, " Max #012: 17 @"},
      {3, 0, " Max (DDL Link): 17 @"},
      {3, 1, " Max (DCL Link): 17 @"},
      {3, 2, " Max (QVL Link): 17 @"},
      {3, 3, ""},
      {4, 0, " Max (QVS Link): 17 @"},
      {4, 1, " Max (QV2 Link): 17 @"},
      {4, 2, ""},
      {5, 0, " Max #012: 17 @"},
      {5, 1, " Pending connection to"},
      {5, 2, " Max #012: 17in remote @"},
      {5, 3, " Outdial connected to"},
      {5, 4, " Remote exited pending LINK to"},
      {5, 5, ""},
      {6, 3, " Max #012: 17(SYSOP SCREEN!) @"},
      {7, 0, " Max #012: 17(USER SCREEN!) @"},
      {97, 0, ""},
  };
  for (const auto& [status, substate, text] : rows) {
    Member(5, status, substate);
    const std::string expected = "Port #5:" + (status == 0 ? " " + text : text);
    EXPECT_EQ(Row(5), expected) << "status " << status << " substate " << substate;
  }
}

TEST_F(StatusDisplayTest, HandleAccountAndTimeAreWrittenAsStored) {
  LineState& line = Member(2, kChatUser, 0);
  line.handle = "  Ann";
  line.account = "N/A";
  line.onlineTime = 0;
  EXPECT_EQ(Row(2), "Port #2:   Ann #N/A: 0 @");
  line.account = " 7";
  line.onlineTime = 1234;
  EXPECT_EQ(Row(2), "Port #2:   Ann #7: 1234 @");
}

// The whole display and its showing are checked on the binary's console.
TEST_F(StatusDisplayTest, TheHeaderShowsTheDebugFlag) {
  server.debugMode = true;
  server.SysScreen();
  EXPECT_EQ(server.txtLines.substr(0, 30), "Address: Debugging Mode:True\r\n");
}

using ConnectedStatusDisplayTest = ConsoleFixture<testing::ConnectedServerTest>;

TEST_F(ConnectedStatusDisplayTest, ConnectedLinesShowAddressAndKind) {
  Connect(1);
  EXPECT_EQ(Row(1), "Port #1: 127.0.0.1 (Telnet)");
  Member(1, kChatUser, 0);
  EXPECT_EQ(Row(1), "Port #1: Max #012: 17 @127.0.0.1 (Telnet)");

  Connect(2);
  LineState& client = server.lines[2];
  client.substate = 1;
  client.lineType = kClientLine;
  client.clientVersion = "V2.10";
  EXPECT_EQ(Row(2), "Port #2: Logging In From 127.0.0.1 (Client V2.10)");

  server.lines[3].remoteAddress = "10.0.0.3";  // left from an earlier call
  server.lines[3].lineType = kTelnetLine;
  EXPECT_EQ(Row(3), "Port #3: Offline");
}

class ScreenFormTest : public ConsoleFixture<testing::ServerTest> {
 protected:
  const ScreenField& Field(int16_t line, int k) {
    return server.screenForms[static_cast<std::size_t>(line)][static_cast<std::size_t>(k)];
  }
};

TEST_F(ScreenFormTest, FieldsAreReadUpToTheFirstLineWithoutComma) {
  testing::WriteFile("form.ans", "3,10,0,Name:\r\n5,1,2,  Account, number  \r\n 12, 40,7,x\nno comma\n1,1,1,after\n");
  EXPECT_EQ(server.SysScreenFile("form.ans", 4), 3);
  EXPECT_EQ(Field(4, 0).row, 3);
  EXPECT_EQ(Field(4, 0).column, 10);
  EXPECT_EQ(Field(4, 0).number, 0);
  EXPECT_EQ(Field(4, 0).text, "Name:");
  EXPECT_EQ(Field(4, 0).length, 5);
  EXPECT_EQ(Field(4, 1).text, "  Account, number  ");
  EXPECT_EQ(Field(4, 1).length, 19);
  EXPECT_EQ(Field(4, 1).number, 2);
  EXPECT_EQ(Field(4, 2).row, 12);
  EXPECT_EQ(Field(4, 2).column, 40);
  EXPECT_EQ(Field(4, 2).number, 7);
  EXPECT_EQ(Field(4, 3).text, "");
  EXPECT_EQ(ErrorLog(), "");
}

TEST_F(ScreenFormTest, TwentySixthFieldIsOneErrorAndTheFirst25Stay) {
  testing::WriteFile("long.ans", testing::NumberedLines(30, "1,1,0,field "));
  EXPECT_EQ(server.SysScreenFile("long.ans", 2), 25);
  EXPECT_EQ(Field(2, 24).text, "field 25");
  EXPECT_EQ(ErrorLog(), "Routine: SysScreenFile\r\nError:Subscript out of range ( 9)\r\n");
}

TEST_F(ScreenFormTest, MissingFileIsAnErrorAndTheFormKeepsItsFields) {
  testing::WriteFile("statid.ans", "3,10,0,Name:\n");
  server.SysTelScrn(0, 1);
  EXPECT_EQ(server.lines[1].screenFieldCount, 1);
  server.SysTelScrn(1, 1);  // acscfg.ans is missing
  EXPECT_EQ(server.lines[1].screenFieldCount, 0);
  EXPECT_EQ(Field(1, 0).text, "Name:");
  EXPECT_EQ(ErrorLog(), "Routine: SysScreenFile\r\nError:File not found ( 53)\r\n");
}

TEST_F(ScreenFormTest, FormNumbersOutsideTheTableDoNothing) {
  testing::WriteFile("lineedit.ans", "1,1,0,a\n2,2,0,b\n");
  server.lines[1].screenFieldCount = 9;
  server.SysTelScrn(8, 1);
  server.SysTelScrn(-1, 1);
  EXPECT_EQ(server.lines[1].screenFieldCount, 9);
  server.SysTelScrn(7, 1);
  EXPECT_EQ(server.lines[1].screenFieldCount, 2);
  EXPECT_EQ(ErrorLog(), "");
}

TEST_F(ScreenFormTest, OperatePositionsAtTheFirstFieldsRowInColumnTwo) {
  testing::WriteFile("useredit.ans", "3,10,0,Name:\n8,1,0,Level\n");
  server.SysTelScrn(5, 6);
  server.SysTelOperate(6, 4);
  EXPECT_EQ(server.workText, "\x1B[3;2H");
}

using ScreenDrawingTest = ConsoleFixture<testing::ConnectedServerTest>;

TEST_F(ScreenDrawingTest, FormIsDrawnOnTheConnectionAndAShorterOneReplacesIt) {
  testing::Caller& caller = Connect(1);
  testing::WriteFile("channel.ans", "3,10,0,Name:\n5,1,2,  Account, number  \n12,40,7,x\n");
  testing::WriteFile("ports.ans", "7,7,0, Level \n");
  server.SysTelScrn(3, 1);
  server.SysTelDisp(1);
  EXPECT_EQ(caller.ReadFor(), "\x1B[2J\x1B[3;10HName:\x1B[5;1HAccount, number\x1B[12;40Hx");
  server.SysTelScrn(4, 1);
  server.SysTelDisp(1);
  EXPECT_EQ(caller.ReadFor(), "\x1B[2J\x1B[7;7HLevel");
  EXPECT_EQ(ErrorLog(), "");
}

}  // namespace
}  // namespace tellarium
