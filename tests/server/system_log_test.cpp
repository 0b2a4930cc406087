// The rolling system log and its file, and the identity entries carry.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <vector>

#include "platform/clock.h"
#include "support/server_fixture.h"

namespace tellarium {
namespace {

constexpr std::time_t kSixDecember2026At130509 = 1796558400 + 13 * 3600 + 5 * 60 + 9 - 12 * 3600;

std::vector<std::string> LinesOf(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    const std::size_t end = text.find("\r\n", start);
    if (end == std::string::npos) {
      lines.push_back(text.substr(start) + "<no line end>");
      break;
    }
    lines.push_back(text.substr(start, end - start));
    start = end + 2;
  }
  return lines;
}

class SystemLogTest : public testing::ClockedServerTest {
 protected:
  SystemLogTest() : ClockedServerTest(kSixDecember2026At130509) {}

  std::vector<std::string> LogFile() const { return LinesOf(testing::ReadFile("qvtalk.log")); }
  std::vector<std::string> LogInMemory() const {
    return {server.systemLog.begin(), server.systemLog.begin() + server.logCount};
  }
  // A second server started over the log file as it stands.
  Server& Restart() {
    restarted_ = std::make_unique<Server>();
    restarted_->Startup();
    return *restarted_;
  }

  std::unique_ptr<Server> restarted_;
};

TEST_F(SystemLogTest, FourHundredEntriesNeverHoldMoreThan389LinesOldestFirst) {
  for (int entry = 1; entry <= 400; ++entry) {
    server.SysLog(-1, "entry " + std::to_string(entry));
    const auto file = LogFile();
    ASSERT_LE(file.size(), 389u) << "after entry " << entry;
    ASSERT_LE(server.logCount, 389) << "after entry " << entry;
    ASSERT_EQ(file.back(), "entry " + std::to_string(entry));
  }
  const auto file = LogFile();
  ASSERT_EQ(file.size(), 389u);
  EXPECT_EQ(file.front(), "entry 12");
  for (std::size_t i = 0; i < file.size(); ++i) EXPECT_EQ(file[i], "entry " + std::to_string(i + 12));
  EXPECT_EQ(LogInMemory(), file);
  EXPECT_EQ(ErrorLog(), "");
}

TEST_F(SystemLogTest, EntryWithoutLineIsStoredExactly) {
  const std::string text = " -->Duplicate Account Use<-- \t\x01\xFE~ ";
  server.SysLog(-1, text);
  EXPECT_EQ(server.logCount, 1);
  EXPECT_EQ(server.systemLog[0], text);
  EXPECT_EQ(testing::ReadFile("qvtalk.log"), text + "\r\n");
}

TEST_F(SystemLogTest, EntryForALineCarriesDateTwelveHourTimeAndIdentity) {
  server.lines[5].handle = "  Max";
  server.lines[5].account = "012";
  server.SysLog(5, "Logged on.");
  server.lines[0].handle = "?";
  server.lines[0].account = "N/A";
  clock_.Advance(11 * 3600 * 1000);  // 00:05 on the next day
  server.SysLog(0, "Guest");
  EXPECT_EQ(testing::ReadFile("qvtalk.log"),
            "12-06-2026 1:05 PM Max:012 - Logged on.\r\n"
            "12-07-2026 12:05 AM ?:N/A - Guest\r\n");
}

TEST_F(SystemLogTest, RestartLeavesOneEmptyLineBeforeTheNewEntries) {
  testing::WriteFile("qvtalk.log", testing::NumberedLines(10, "old "));
  Server& restarted = Restart();
  restarted.SysLog(-1, "new");
  const auto file = LogFile();
  ASSERT_EQ(file.size(), 12u);
  EXPECT_EQ(file[9], "old 10");
  EXPECT_EQ(file[10], "");
  EXPECT_EQ(file[11], "new");
}

TEST_F(SystemLogTest, RestartWithAFullLogStaysWithin389Lines) {
  testing::WriteFile("qvtalk.log", testing::NumberedLines(389, "old "));
  Server& restarted = Restart();
  restarted.SysLog(-1, "new 1");
  auto file = LogFile();
  ASSERT_EQ(file.size(), 389u);
  EXPECT_EQ(file.front(), "old 3");
  EXPECT_EQ(file[386], "old 389");
  EXPECT_EQ(file[387], "");
  EXPECT_EQ(file[388], "new 1");
  restarted.SysLog(-1, "new 2");
  file = LogFile();
  ASSERT_EQ(file.size(), 389u);
  EXPECT_EQ(file.front(), "old 4");
  EXPECT_EQ(file.back(), "new 2");
  EXPECT_EQ(restarted.logCount, 389);
}

TEST_F(SystemLogTest, UnwritableLogFileIsLoggedAndTheEntryKept) {
  std::filesystem::create_directory("qvtalk.log");
  server.SysLog(-1, "kept");
  EXPECT_EQ(server.systemLog[0], "kept");
  EXPECT_EQ(ErrorLog(), "Routine: SysLog\r\nError:Path/File access error ( 75)\r\n");
}

}  // namespace
}  // namespace tellarium
