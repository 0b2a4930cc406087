// Start-up run in-process in a scratch directory.
#include <gtest/gtest.h>

#include <random>

#include "platform/clock.h"
#include "platform/console.h"
#include "server/core/dates.h"
#include "server/core/field_codec.h"
#include "server/core/record_layouts.h"
#include "support/server_fixture.h"

namespace tellarium {
namespace {

constexpr std::time_t kSixDecember2026Noon = 1796558400;  // 2026-12-06 12:00:00 UTC

class StartupTest : public testing::ClockedServerTest {
 protected:
  StartupTest() : ClockedServerTest(kSixDecember2026Noon) {}

  // A fresh server object started in the same directory.
  Server& Restart() {
    server = Server();
    server.Startup();
    return server;
  }
  void Start() { server.Startup(); }

  void PatchConfig(std::size_t offset, const std::string& bytes) {
    std::string file = testing::ReadFile("config.qvs");
    file.replace(offset, bytes.size(), bytes);
    testing::WriteFile("config.qvs", file);
  }

  static std::string Garbage(std::size_t size, unsigned seed) {
    std::mt19937 random(seed);
    std::string bytes(size, '\0');
    for (char& byte : bytes) byte = static_cast<char>(random());
    return bytes;
  }

};

TEST_F(StartupTest, MissingScreenFilesShowTheirPleaseTexts) {
  Start();
  EXPECT_EQ(server.mainMenu.count, 1);
  EXPECT_EQ(server.mainMenu.lines[0], "Please get a copy of mainmenu.qvs\r\n");
  EXPECT_EQ(server.passwordScreen.lines[0], "Please create password.qvs\r\n");
  EXPECT_EQ(server.infoScreen.lines[0], "Please create infoscreen.qvs\r\n");
  EXPECT_EQ(server.sysopMenu.lines[0], "Please get a copy of sysopmenu.qvs\r\n");
}

TEST_F(StartupTest, ScreenFilesLoadAtMostFiftyLinesLoggingEachExtraLine) {
  testing::WriteFile("mainmenu.qvs", "Main\r\nMenu\n");
  testing::WriteFile("infoscreen.qvs", testing::NumberedLines(60, "info "));
  testing::WriteFile("sysopmenu.qvs", "");
  Start();
  EXPECT_EQ(server.mainMenu.count, 2);
  EXPECT_EQ(server.mainMenu.lines[1], "Menu\r\n");
  EXPECT_EQ(server.infoScreen.count, 50);
  EXPECT_EQ(server.infoScreen.lines[49], "info 50\r\n");
  EXPECT_EQ(server.sysopMenu.count, 0);
  EXPECT_EQ(server.passwordScreen.count, 1);
  std::string expected;
  for (int i = 0; i < 10; ++i) expected += "Routine: Load Data Files\r\nError:Subscript out of range ( 9)\r\n";
  EXPECT_EQ(ErrorLog(), expected);
}

TEST_F(StartupTest, SystemLogKeepsItsFirstLinesAndCountsOnePast) {
  testing::WriteFile("qvtalk.log", testing::NumberedLines(1000, "entry "));
  Start();
  EXPECT_EQ(server.logCount, 390);
  EXPECT_EQ(server.systemLog[0], "entry 1");
  EXPECT_EQ(server.systemLog[388], "entry 389");
  EXPECT_EQ(server.systemLog[389], "");
  testing::WriteFile("qvtalk.log", "only\r\n");
  EXPECT_EQ(Restart().logCount, 2);
}

TEST_F(StartupTest, LastCallersLoadByRecordAndAShortFileLeavesEntriesEmpty) {
  LastCallerRecord caller;
  caller.handle = "Ann";
  caller.account = "007";
  caller.lineCode = "3";
  caller.time = "09:15";
  caller.date = "12-05-2026";
  caller.inUse = true;
  const std::string record = Encode<LastCallerLayout>(caller);
  testing::WriteFile("lastcalls.qvs", std::string(59, ' ') + std::string(2, '\0') + record + record.substr(0, 20));
  Start();
  EXPECT_FALSE(server.lastCallers[0].inUse);
  EXPECT_EQ(server.lastCallers[1].handle.Trimmed(), "Ann");
  EXPECT_EQ(server.lastCallers[1].date.Trimmed(), "12-05-2026");
  EXPECT_TRUE(server.lastCallers[1].inUse);
  EXPECT_EQ(server.lastCallers[2].handle.Trimmed(), "Ann");
  EXPECT_FALSE(server.lastCallers[2].inUse);
  EXPECT_EQ(server.lastCallers[9].handle.Trimmed(), "");
}

TEST_F(StartupTest, AccountIndexHoldsEveryAccountInUse) {
  for (int16_t acc = 0; acc < kAccountCount; ++acc) {
    server.currentAccount = UserRecord{};
    server.currentAccount.handle = "  Member " + std::to_string(acc) + " ";
    server.currentAccount.flags[kFlagInUse] = acc % 3 == 0;
    server.uwrite(acc);
  }
  Restart();
  EXPECT_EQ(server.accountCount, 334);
  EXPECT_EQ(server.accountIndex[999].name.Trimmed(), "Member 999");
  EXPECT_EQ(server.accountIndex[999].name.Raw().substr(0, 10), "Member 999");
  EXPECT_TRUE(server.accountIndex[0].inUse);
  EXPECT_FALSE(server.accountIndex[998].inUse);
  EXPECT_EQ(server.accountIndex[998].name.Trimmed(), "");
}

TEST_F(StartupTest, MaxLinesAboveThirtyOneRunsAsThirtyOne) {
  Start();
  PatchConfig(4 * 1024, std::string("\x28\x00", 2));
  Restart();
  EXPECT_EQ(server.config.maxLines, 31);
  EXPECT_EQ(server.currentLine, 32);
  EXPECT_EQ(server.lines[31].clientVersion.Trimmed(), "V0.00");
  EXPECT_EQ(testing::ReadFile("config.qvs").substr(4 * 1024, 2), std::string("\x28\x00", 2));
}

TEST_F(StartupTest, StationIdentityComesFromTheTitle) {
  Start();
  PatchConfig(0, FixedText<40>(" Harbor Lights QVS-42 ").Raw());
  Restart();
  EXPECT_EQ(server.stationName, "Harbor Lights");
  EXPECT_EQ(server.stationNumber, "42");
  EXPECT_EQ(server.stationPrefix, "-=> QVS-42: ");
  EXPECT_EQ(platform::console::Title(), "Tellarium Server V1.40M (Harbor Lights QVS-42)");
  PatchConfig(0, FixedText<40>("Harbor QVS-4x").Raw());
  Restart();
  EXPECT_EQ(server.stationName, "Harbor QVS-4x");
  EXPECT_EQ(server.stationNumber, "00");
}

TEST_F(StartupTest, SlotsCreatedLaterCarryTheStationIdentity) {
  Start();
  std::remove("mslots.qvs");
  testing::WriteFile("config.qvs", FixedText<40>("Quay QVS-07").Raw());
  Restart();
  server.ReadSlot(")");
  EXPECT_EQ(server.currentSlot.text.Trimmed(), "Thank you for calling Quay QVS-07^Call again soon!");
  EXPECT_EQ(server.config.stationTitle.Trimmed(), "Quay QVS-07");
}

TEST_F(StartupTest, NewDayRewritesTheCallRecordAndTheSameDayRewritesNothing) {
  Start();
  PatchConfig(2 * 1024, std::string("\x09\x00\x00\x00\x05\x00", 6));
  const std::string before = testing::ReadFile("config.qvs");
  clock_.Advance(3600 * 1000);
  Restart();
  EXPECT_EQ(server.config.callsToday, 5);
  EXPECT_EQ(server.config.startTime.Trimmed(), "13:00:00");
  EXPECT_EQ(testing::ReadFile("config.qvs"), before);
  clock_.Advance(24 * 3600 * 1000);
  Restart();
  EXPECT_EQ(server.config.callsToday, 0);
  EXPECT_EQ(server.config.totalCalls, 9);
  const std::string record = testing::ReadFile("config.qvs").substr(2 * 1024, 42);
  EXPECT_EQ(record.substr(0, 6), std::string("\x09\x00\x00\x00\x00\x00", 6));
  EXPECT_EQ(record.substr(24), "13:00:0012-07-2026");
  EXPECT_EQ(record.substr(6, 18), before.substr(2 * 1024 + 6, 18));  // the last call stays
}

TEST_F(StartupTest, TruncatedAndGarbageFilesDoNotStopStartUp) {
  testing::WriteFile("config.qvs", Garbage(30000, 1));
  for (int acc = 0; acc < 10; ++acc) testing::WriteFile("user00" + std::to_string(acc) + ".qvs", Garbage(100 * acc, acc));
  testing::WriteFile("mslots.qvs", Garbage(5000, 2));
  testing::WriteFile("lastcalls.qvs", Garbage(77, 3));
  testing::WriteFile("qvtalk.log", Garbage(20000, 4));
  testing::WriteFile("mainmenu.qvs", Garbage(20000, 5));
  Start();
  EXPECT_LE(server.config.maxLines, 31);
  EXPECT_EQ(server.currentLine, server.config.maxLines + 1);
  EXPECT_LE(server.logCount, 390);
  EXPECT_LE(server.mainMenu.count, 50);
  int inUse = 0;
  for (const AccountIndexEntry& entry : server.accountIndex) inUse += entry.inUse ? 1 : 0;
  EXPECT_EQ(server.accountCount, inUse);
  EXPECT_FALSE(server.accountIndex[0].inUse);  // an empty user000.qvs
}

TEST_F(StartupTest, TruncatedConfigurationReadsBlanksAndZeros) {
  testing::WriteFile("config.qvs", "Short QVS-03");
  Start();
  EXPECT_EQ(server.stationNumber, "03");
  EXPECT_EQ(server.config.maxLines, 0);
  EXPECT_EQ(server.currentLine, 1);
  EXPECT_EQ(server.channels[0].name.Trimmed(), "");
  EXPECT_EQ(server.config.startDate.Trimmed(), "12-06-2026");
  EXPECT_EQ(ErrorLog(), "");
}

TEST_F(StartupTest, UnwritableFilesAreLoggedAndStartUpGoesOn) {
  std::filesystem::create_directory("user000.qvs");
  std::filesystem::create_directory("mslots.qvs");
  Start();
  const std::string log = ErrorLog();
  EXPECT_NE(log.find("Routine: uwrite\r\nError:Path/File access error ( 75)\r\n"), std::string::npos);
  EXPECT_NE(log.find("Routine: Write Slot\r\n"), std::string::npos);
  EXPECT_EQ(server.config.maxLines, 7);
  EXPECT_EQ(server.accountCount, 0);
}

}  // namespace
}  // namespace tellarium
