// The default screens that a new data directory gets: each fits the station's
// screen table and an 80-column terminal, and the station loads it line for line.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>

#include "support/station_test.h"

namespace tellarium {
namespace {

constexpr std::size_t kColumns = 79;  // the last column of a terminal wraps
constexpr unsigned char kBoxCorner = 0xC9;  // a double top-left corner in code page 437

class DefaultScreens : public testing::StationTest {
 protected:
  void SetUp() override {
    for (const auto& screen : std::filesystem::directory_iterator(TELLARIUM_SCREENS)) {
      std::filesystem::copy_file(screen.path(), screen.path().filename());
    }
    StationTest::SetUp();
  }
};

TEST_F(DefaultScreens, FitTheirTableAndTheTerminalAndLoadLineForLine) {
  const struct {
    const char* file;
    const ScreenTable& table;
  } screens[] = {{"mainmenu.qvs", server.mainMenu}, {"sysopmenu.qvs", server.sysopMenu},
                 {"infoscreen.qvs", server.infoScreen}, {"password.qvs", server.passwordScreen}};
  for (const auto& screen : screens) {
    const std::string text = testing::ReadFile(screen.file);
    EXPECT_EQ(static_cast<unsigned char>(text.at(0)), kBoxCorner) << screen.file;
    int16_t k = 0;
    for (std::size_t start = 0, end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2, ++k) {
      const std::string line = text.substr(start, end - start);
      EXPECT_LE(line.size(), kColumns) << screen.file << " line " << k + 1;
      EXPECT_EQ(line.find('^'), std::string::npos) << screen.file << " line " << k + 1;  // a caret mark breaks a line
      ASSERT_LT(k, kScreenLines) << screen.file;
      EXPECT_EQ(screen.table.lines[static_cast<std::size_t>(k)], line + server.lineBreak) << screen.file;
    }
    EXPECT_EQ(screen.table.count, k) << screen.file;
  }
}

// Each telnet form loads whole and draws inside a 24-line terminal.
TEST_F(DefaultScreens, FormsLoadWholeAndFitTheTerminal) {
  for (const char* file : {"statid.ans", "acscfg.ans", "allowed.ans", "channel.ans", "ports.ans", "useredit.ans",
                           "mslot.ans", "lineedit.ans"}) {
    const std::string text = testing::ReadFile(file);
    const int16_t count = server.SysScreenFile(file, 1);
    EXPECT_EQ(count, std::count(text.begin(), text.end(), '\n')) << file;
    for (int16_t k = 0; k < count; ++k) {
      const ScreenField& field = server.screenForms[1][static_cast<std::size_t>(k)];
      EXPECT_TRUE(field.row >= 1 && field.row <= 24 && field.column >= 1) << file << " field " << k;
      EXPECT_LE(field.column + field.length - 1, static_cast<int>(kColumns)) << file << " field " << k;
    }
  }
}

}  // namespace
}  // namespace tellarium
