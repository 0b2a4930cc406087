#include <gtest/gtest.h>

#include "server/core/dates.h"
#include "server/core/field_codec.h"
#include "server/core/record_layouts.h"
#include "support/server_fixture.h"

namespace tellarium {
namespace {

class ConfigPackets : public testing::ServerTest {
 protected:
  // Assembles the group, wipes what it carries, parses the packet back and
  // expects the same packet again.
  void ExpectRoundTrip(int16_t group, int16_t index, const std::function<void()>& wipe) {
    const std::string packet = server.CFGAssemble(group, index);
    wipe();
    ASSERT_NE(server.CFGAssemble(group, index), packet);
    server.cfgparse(packet);
    EXPECT_EQ(server.CFGAssemble(group, index), packet);
    EXPECT_EQ(ErrorLog(), "");
  }
  std::string ConfigRecord(int32_t number, std::size_t length) {
    return testing::ReadFile("config.qvs").substr(static_cast<std::size_t>(number - 1) * 1024, length);
  }
};

TEST_F(ConfigPackets, ChannelGroup) {
  ChannelInfo& lounge = server.channels[2];
  lounge.name = "  Lounge";
  lounge.capacity = 12;
  lounge.occupancy = 4;
  lounge.requiredLevel = 2;
  lounge.flagB = true;
  EXPECT_EQ(server.CFGAssemble(0, 3), "\x01" "0|3|2|False|4|True|12|Lounge" + std::string(32, ' ') + "|");
  lounge.name = "Lounge";
  ExpectRoundTrip(0, 3, [&] { lounge = ChannelInfo{}; });
  EXPECT_EQ(lounge.name.Raw(), "Lounge" + std::string(34, ' '));
  EXPECT_EQ(ConfigRecord(8, 50), Encode<ChannelRecord>(lounge));
}

TEST_F(ConfigPackets, ChannelTwelveSetsChannelOne) {
  server.cfgparse("\x01" "0|12|1|True|0|False|5|Twelve|");
  EXPECT_EQ(server.channels[0].name.Trimmed(), "Twelve");
  EXPECT_EQ(server.channels[0].capacity, 5);
  EXPECT_EQ(server.channels[11].name.Trimmed(), "");
  EXPECT_EQ(ConfigRecord(6, 6), "Twelve");
}

TEST_F(ConfigPackets, ChannelZeroFailsEveryStatementAndWritesNothing) {
  server.cfgparse("\x01" "0|0|1|True|0|False|5|Zero|");
  const std::string entry = "Routine: cfgparse\r\nError:Subscript out of range ( 9)\r\n";
  std::string expected;
  for (int i = 0; i < 7; ++i) expected += entry;
  EXPECT_EQ(ErrorLog(), expected);
  EXPECT_FALSE(FileExists("config.qvs"));
}

TEST_F(ConfigPackets, LineGroupStaysInMemory) {
  LineState& line = server.lines[5];
  line.handle = "Bob";
  line.level = 2;
  line.channel = 70000;
  line.clientFlag3 = true;
  line.clientFlag2 = true;
  EXPECT_EQ(server.CFGAssemble(1, 5), "\x01" "1|5|Bob" + std::string(37, ' ') + "|2|70000|True|False|True|");
  ExpectRoundTrip(1, 5, [&] { line = LineState{}; });
  EXPECT_FALSE(FileExists("config.qvs"));
}

TEST_F(ConfigPackets, StationTextsKeepAnEmptyInfoLineAsBar) {
  server.config.stationTitle = "Harbor QVS-42";
  server.config.stationText = "Text";
  server.config.infoLine[0] = "A";
  server.config.infoLine[1] = "B";
  EXPECT_EQ(server.CFGAssemble(2, 0), "\x01" "2|Harbor QVS-42|Text|A|B||");
  server.config = ServerConfig{};
  server.cfgparse("\x01" "2|Harbor QVS-42|Text|A|B||");
  EXPECT_EQ(server.config.stationTitle.Trimmed(), "Harbor QVS-42");
  EXPECT_EQ(server.config.infoLine[1].Trimmed(), "B");
  EXPECT_EQ(server.config.infoLine[2].Trimmed(), "|");
  EXPECT_EQ(ConfigRecord(1, 200), Encode<StationRecord>(server.config));
}

TEST_F(ConfigPackets, OptionsGroupOrder) {
  server.config.options = {10, 11, 12, 13, 14};
  EXPECT_EQ(server.CFGAssemble(3, 0), "\x01" "3|11|13|10|12|");
  ExpectRoundTrip(3, 0, [&] { server.config.options = {}; });
  EXPECT_EQ(ConfigRecord(2, 10), Encode<OptionsRecord>(server.config));
}

TEST_F(ConfigPackets, SlotGroupTakesItsKeyFromTheCurrentLinesInput) {
  server.currentLine = 2;
  server.inputLine[2] = "/MA";
  MessageSlot& slot = server.currentSlot;
  slot.slotFlag2 = true;
  slot.title = "Title";
  slot.enabled = true;
  slot.date = DayCount(2026, 12, 6);
  slot.slotAccount = 7;
  slot.text = "Hello^World";
  EXPECT_EQ(server.CFGAssemble(4, 0),
            "\x01" "4|A|True|False|Title" + std::string(75, ' ') + "|True|12/6/2026|7|Hello^World|");
  ExpectRoundTrip(4, 0, [&] { slot = MessageSlot{}; });
  slot = MessageSlot{};
  server.ReadSlot("a");
  EXPECT_EQ(slot.text.TrimmedRight(), "Hello^World");
  EXPECT_EQ(slot.slotAccount, 7);
}

TEST_F(ConfigPackets, SlotGroupClearsTheSlotBeforeReadingAndLogsABadDate) {
  server.currentSlot.title = "old title";
  server.currentSlot.date = 12345;
  server.cfgparse("\x01" "4|B|False|False||True|someday|3|");
  EXPECT_EQ(server.currentSlot.title.Trimmed(), "");
  EXPECT_EQ(server.currentSlot.date, kSlotBaseDate);
  EXPECT_EQ(server.currentSlot.slotAccount, 3);
  EXPECT_EQ(ErrorLog(), "Routine: cfgparse\r\nError:Type mismatch ( 13)\r\n");
  EXPECT_FALSE(FileExists("mslots.qvs"));  // no text field: nothing written
}

TEST_F(ConfigPackets, PortsGroupStoresFortyAndRunsWithThirtyOne) {
  server.cfgparse("\x01" "5|421|420|2323|40|");
  EXPECT_EQ(server.config.maxLines, 31);
  EXPECT_EQ(server.config.mainPort, 2323);
  EXPECT_EQ(ConfigRecord(5, 8), std::string("\x28\x00\x13\x09\xA5\x01\xA4\x01", 8));
  EXPECT_EQ(server.CFGAssemble(5, 0), "\x01" "5|421|420|2323|31|");
}

TEST_F(ConfigPackets, TimeLimitsGroupOrderAndNoLimit) {
  server.config.timeLimits = {0, 1, 2, 3, 4, 5, 6};
  EXPECT_EQ(server.CFGAssemble(6, 0), "\x01" "6|5|3|6|0|2|1|4|");
  server.cfgparse("\x01" "6|-1|30|-1|60|45|15|-1|");
  EXPECT_EQ(server.config.timeLimits, (std::array<int16_t, 7>{60, 15, 45, 30, -1, -1, -1}));
  EXPECT_EQ(ConfigRecord(4, 14), Encode<TimeLimitsRecord>(server.config));
}

TEST_F(ConfigPackets, ShortPacketKeepsWhatWasReadAndWritesNothing) {
  server.config.options = {1, 2, 3, 3, 0};
  server.cfgparse("\x01" "3|7|8|");
  EXPECT_EQ(server.config.options, (std::array<int16_t, 5>{1, 7, 3, 8, 0}));
  EXPECT_FALSE(FileExists("config.qvs"));
  server.cfgparse("");
  server.cfgparse("\x01");
  server.cfgparse("9|1|2|");
  EXPECT_EQ(ErrorLog(), "");
}

TEST_F(ConfigPackets, EverythingUpToTheLastStartCodeIsDropped) {
  server.cfgparse("noise\x01" "5|1|\x01" "3|4|5|6|7|");
  EXPECT_EQ(server.config.options, (std::array<int16_t, 5>{6, 4, 7, 5, 0}));
  EXPECT_EQ(server.config.auxPort, 0);
}

TEST_F(ConfigPackets, NumberFieldsReadLeadingDigitsAndOverflowIsLogged) {
  server.config.options = {1, 1, 1, 1, 1};
  server.cfgparse("\x01" "3|12abc|x||99999|");
  EXPECT_EQ(server.config.options, (std::array<int16_t, 5>{0, 12, 1, 0, 1}));
  EXPECT_EQ(ErrorLog(), "Routine: cfgparse\r\nError:Overflow ( 6)\r\n");
}

}  // namespace
}  // namespace tellarium
