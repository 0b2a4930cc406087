// What no caller reaches yet: the text forms the station sends the graphical
// client (no command sends them), and the new day at start, under the clock.
#include <gtest/gtest.h>

#include <functional>

#include "server/core/dates.h"
#include "support/station_test.h"

namespace tellarium {
namespace {

using ClientForms = testing::StationTest;

// Each form is assembled from what the station holds, the holding wiped, the
// form read back and assembled again alike.
TEST_F(ClientForms, EachGroupAndTheAccountAssembleAndReadBack) {
  ChannelInfo& lounge = server.channels[2];
  lounge = {};
  lounge.name = "Lounge";
  lounge.capacity = 12;
  lounge.occupancy = 4;
  lounge.requiredLevel = 2;
  lounge.flagB = true;
  LineState& line = Line(5);
  line.handle = "Bob";
  line.level = 2;
  line.channel = 70000;
  line.clientFlag3 = line.clientFlag2 = true;
  server.config.stationTitle = "Harbor QVS-42";
  server.config.stationText = "Text";
  server.config.infoLine[0] = "A";
  server.config.infoLine[1] = "B";
  server.config.infoLine[2] = "C";
  server.config.options = {10, 11, 12, 13, 14};
  server.config.timeLimits = {0, 1, 2, 3, 4, 5, 6};
  server.config.mainPort = 2323;
  server.currentLine = 2;
  server.InputLineAt(2) = "/MA";
  MessageSlot& slot = server.currentSlot;
  slot.slotAccount = 7;
  slot.date = DayCount(2026, 12, 6);
  slot.slotFlag2 = slot.enabled = true;
  slot.title = "Title";
  slot.text = "Hello^World";
  server.uread(0);
  struct Row {
    std::function<std::string()> assemble;
    std::function<void()> wipe;
    std::string form;
  };
  const auto group = [&](int16_t number, int16_t index) { return [=, this] { return server.CFGAssemble(number, index); }; };
  const std::string blanks(32, ' ');
  const Row rows[] = {
      {group(0, 3), [&] { lounge = {}; }, "\x01" "0|3|2|False|4|True|12|Lounge" + blanks + "  |"},
      {group(1, 5), [&] { line = {}; }, "\x01" "1|5|Bob" + blanks + "     |2|70000|True|False|True|"},
      {group(2, 0), [&] { server.config.infoLine = {}; }, "\x01" "2|Harbor QVS-42|Text|A|B|C|"},
      {group(3, 0), [&] { server.config.options = {}; }, "\x01" "3|11|13|10|12|"},
      {group(4, 0), [&] { slot = {}; }, "\x01" "4|A|True|False|Title" + std::string(75, ' ') + "|True|12/6/2026|7|Hello^World|"},
      {group(5, 0), [&] { server.config.mainPort = 0; }, "\x01" "5|421|420|2323|7|"},
      {group(6, 0), [&] { server.config.timeLimits = {}; }, "\x01" "6|5|3|6|0|2|1|4|"},
      {[&] { return server.uassemble(); }, [&] { server.currentAccount = {}; },
       "4|||0||True|True|False|False|False|False|False|True|False|True|False|SysOp|zarvo||||"},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(row.assemble(), row.form);
    row.wipe();
    EXPECT_NE(row.assemble(), row.form);
    if (row.form[0] == '\x01') server.cfgparse(row.form);
    if (row.form[0] != '\x01') server.uparse(row.form);
    EXPECT_EQ(row.assemble(), row.form);
  }
  EXPECT_EQ(ErrorLog(), "");
}

// The station started at noon on 6 December; config.qvs counts 9 calls, 5 today.
using NewDay = testing::StationTest;

TEST_F(NewDay, ClearsTodaysCallsAndStampsTheStartOnlyWhenTheDayChanged) {
  std::string file = testing::ReadFile("config.qvs");
  file.replace(2048, 6, std::string("\x09\0\0\0\x05\0", 6));
  testing::WriteFile("config.qvs", file);
  clock_.Advance(3600 * 1000);
  Server sameDay;
  sameDay.Startup();
  EXPECT_EQ(sameDay.config.callsToday, 5);
  EXPECT_EQ(testing::ReadFile("config.qvs"), file);
  clock_.Advance(24 * 3600 * 1000);
  Server nextDay;
  nextDay.Startup();
  EXPECT_EQ(nextDay.config.callsToday, 0);
  const std::string after = testing::ReadFile("config.qvs");
  EXPECT_EQ(after.substr(2048, 6), std::string("\x09\0\0\0\0\0", 6));
  EXPECT_EQ(after.substr(2048 + 6, 18), file.substr(2048 + 6, 18));  // the last call stays
  EXPECT_EQ(after.substr(2048 + 24, 18), "13:00:0012-07-2026");
  EXPECT_EQ(after.substr(0, 2048) + after.substr(2048 + 42), file.substr(0, 2048) + file.substr(2048 + 42));
}

}  // namespace
}  // namespace tellarium
