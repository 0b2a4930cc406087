// The default screens that a new data directory gets: each fits the station's
// screen table and an 80-column terminal, and the station loads it line for line.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "support/station_test.h"

namespace tellarium {
namespace {

constexpr std::size_t kColumns = 79;  // the last column of a terminal wraps
constexpr unsigned char kBoxCorner = 0xC9;  // a double top-left corner in code page 437

std::vector<std::string> LinesOf(const std::string& text) {
  std::vector<std::string> lines;
  for (std::size_t start = 0, end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2) {
    lines.push_back(text.substr(start, end - start));
  }
  return lines;
}

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
  } screens[] = {{"mainmenu.qvs", server.mainMenu},
                 {"sysopmenu.qvs", server.sysopMenu},
                 {"infoscreen.qvs", server.infoScreen},
                 {"password.qvs", server.passwordScreen}};
  for (const auto& screen : screens) {
    const std::string text = testing::ReadFile(screen.file);
    const std::vector<std::string> lines = LinesOf(text);
    ASSERT_FALSE(lines.empty()) << screen.file;
    EXPECT_EQ(static_cast<unsigned char>(text[0]), kBoxCorner) << screen.file;
    EXPECT_LE(lines.size(), static_cast<std::size_t>(kScreenLines)) << screen.file;
    EXPECT_EQ(screen.table.count, static_cast<int16_t>(lines.size())) << screen.file;
    for (std::size_t k = 0; k < lines.size(); ++k) {
      EXPECT_LE(lines[k].size(), kColumns) << screen.file << " line " << k + 1;
      EXPECT_EQ(lines[k].find('^'), std::string::npos) << screen.file << " line " << k + 1;  // a caret mark breaks a line
      EXPECT_EQ(screen.table.lines[k], lines[k] + server.lineBreak) << screen.file << " line " << k + 1;
    }
  }
}

}  // namespace
}  // namespace tellarium
