// The SysOp's tool on a new data directory: each change is checked and
// written to its one record, and a refused change leaves every file as it was.
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <map>
#include <sstream>
#include <thread>

#include "admin/tool.h"
#include "server/core/limits.h"
#include "server/core/record_layouts.h"
#include "support/scratch_directory.h"
#include "support/station_client.h"

namespace tellarium::admin {
namespace {

using testing::ReadFile, testing::WriteFile;

struct Outcome { int status; std::string out, err; };

class AdminTool : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(Run({"init"}).status, kDone); }

  Outcome Run(std::vector<std::string> args, const std::string& input = "") {
    args.insert(args.begin(), directory_.path().string());
    return RunIn(args, input);
  }
  static Outcome RunIn(const std::vector<std::string>& args, const std::string& input = "") {
    std::istringstream in(input);
    std::ostringstream out, err;
    Console console{in, out, err};
    const int status = RunAdmin(args, console);
    return {status, out.str(), err.str()};
  }

  std::map<std::string, std::string> Files() const {
    std::map<std::string, std::string> files;
    for (const auto& file : std::filesystem::directory_iterator(directory_.path())) {
      files[file.path().filename().string()] = ReadFile(file.path());
    }
    return files;
  }

  std::filesystem::path PathOf(const std::string& name) const { return directory_.path() / name; }

  testing::ScratchDirectory directory_;
};

// A change writes its field's bytes at their fixed place (record n of a file
// of length-L records starts at (n-1)*L) and no byte outside its record.
TEST_F(AdminTool, ChangesWriteTheirFieldsBytesAndRefusalsChangeNothing) {
  using namespace std::string_literals;
  const struct {
    std::vector<std::string> change;
    int status;
    std::string file;    // for a change: the bytes it writes at `offset`
    std::size_t offset;  // for a refusal: its message holds `bytes`
    std::string bytes;
  } rows[] = {
      {{"config", "set", "mainPort", "2323"}, kDone, "config.qvs", 4 * 1024 + 2, "\x13\x09"},
      {{"config", "set", "level1Limit", "-1"}, kDone, "config.qvs", 3 * 1024, "\xff\xff"},
      {{"config", "set", "channel16.capacity", "31"}, kDone, "config.qvs", 20 * 1024 + 40, "\x1f\x00"s},
      {{"config", "set", "channel9.name", "Quiet Room"}, kDone, "config.qvs", 13 * 1024, "Quiet Room" + std::string(30, ' ')},
      {{"account", "000", "set", "level", "3"}, kDone, "user000.qvs", 192, "\x03\x00"s},
      {{"account", "000", "set", "mayRemote", "yes"}, kDone, "user000.qvs", 270 + 2 * 4, "\xff\xff"},
      {{"slot", "!", "set", "text", "Hi^there"}, kDone, "mslots.qvs", 36 * 4192 + 96, "Hi^there" + std::string(4088, ' ')},
      {{"slot", "z", "set", "owner", "7"}, kDone, "mslots.qvs", 35 * 4192, "\x07\x00"s},
      {{"slot", "<", "set", "enabled", "true"}, kDone, "mslots.qvs", 45 * 4192 + 14, "\xff\xff"},
      {{"config", "set", "mainPort", "32768"}, kFailed, "", 0, "mainPort takes a whole number from 1 to 32767"},
      {{"config", "set", "mainPort", "23x"}, kFailed, "", 0, "not \"23x\""},
      {{"config", "set", "maxLines", "32"}, kFailed, "", 0, "from 1 to 31"},
      {{"config", "set", "qvsLinkLimit", "-2"}, kFailed, "", 0, "from -1 to 32767"},
      {{"config", "set", "killLevel", "5"}, kFailed, "", 0, "from 0 to 4"},
      {{"config", "set", "channel17.name", "x"}, kMisused, "", 0, "There is no field channel17.name"},
      {{"config", "set", "stationTitle", std::string(41, 'T')}, kFailed, "", 0, "at most 40 characters"},
      {{"config", "set", "infoLine1", "a\tb"}, kFailed, "", 0, "control characters"},
      {{"config", "set", "totalCalls", "5"}, kFailed, "", 0, "totalCalls cannot be set"},
      {{"account", "000", "set", "password", "x"}, kFailed, "", 0, "password cannot be set"},
      {{"account", "1000"}, kMisused, "", 0, "000 to 999"},
      {{"account", "004", "set", "level", "1"}, kFailed, "", 0, "user004.qvs is missing"},
      {{"slot", "!", "set", "owner", "1000"}, kFailed, "", 0, "from -1 to 999"},
      {{"slot", "?"}, kMisused, "", 0, "not \"?\""},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.change[0] + " " + row.change[1] + " " + row.change.back());
    const auto before = Files();
    const Outcome changed = Run(row.change);
    EXPECT_EQ(changed.status, row.status) << changed.err;
    if (row.status != kDone) {
      EXPECT_NE(changed.err.find(row.bytes), std::string::npos) << changed.err;
      EXPECT_EQ(Files(), before);
      continue;
    }
    auto expected = before;
    std::string& file = expected[row.file];
    const std::string after = ReadFile(PathOf(row.file));
    if (after.size() > file.size()) file += after.substr(file.size());  // a record past the old end
    file.replace(row.offset, row.bytes.size(), row.bytes);
    EXPECT_EQ(Files(), expected);
  }
}

TEST_F(AdminTool, InitMakesPortsAndScreensAndNeverWritesOver) {
  testing::ScratchDirectory fresh;
  const auto dir = (fresh.path() / "station").string();
  ASSERT_EQ(RunIn({dir, "init", "--main-port", "2300", "--line0-port", "2301"}).status, kDone);
  for (const char* file : {"config.qvs", "user000.qvs", "mslots.qvs", "mainmenu.qvs", "sysopmenu.qvs",
                           "infoscreen.qvs", "password.qvs", "statid.ans", "lineedit.ans"}) {
    EXPECT_TRUE(std::filesystem::exists(std::filesystem::path(dir) / file)) << file;
  }
  EXPECT_NE(RunIn({dir, "config"}).out.find("mainPort=2300\nauxPort=421\nline0Port=2301\n"), std::string::npos);

  WriteFile(PathOf("mainmenu.qvs"), "my own menu");
  ASSERT_EQ(Run({"config", "set", "stationTitle", "Harbour QVS-42"}).status, kDone);
  const auto before = Files();
  EXPECT_EQ(Run({"init"}).status, kDone);
  EXPECT_EQ(Run({"init", "--main-port", "2400"}).status, kFailed);
  EXPECT_EQ(Files(), before);
}

TEST_F(AdminTool, AccountsAreAddedGivenPasswordsAndDisabled) {
  EXPECT_EQ(Run({"account", "007", "add", "Rita"}).status, kDone);
  EXPECT_EQ(Run({"account", "007", "add", "Rita"}).status, kFailed);
  EXPECT_EQ(Run({"account", "007", "password"}, "quill\n").status, kDone);
  EXPECT_EQ(Run({"account", "007", "password"}, "").status, kFailed);
  EXPECT_EQ(ReadFile(PathOf("user007.qvs")).substr(198, 20), "quill" + std::string(15, ' '));  // the password
  EXPECT_EQ(Run({"accounts"}).out, "000\tmember\tSysOp\n007\tmember\tRita\n");
  EXPECT_EQ(Run({"account", "007", "disable"}).status, kDone);
  EXPECT_EQ(Run({"accounts"}).out, "000\tmember\tSysOp\n007\tdisabled\tRita\n");
  const std::string shown = Run({"account", "007"}).out;
  EXPECT_NE(shown.find("level=1\n"), std::string::npos);
  EXPECT_NE(shown.find("inUse=false\nchatUser=true\nmayLink=false\n"), std::string::npos);
  EXPECT_EQ(shown.find("password"), std::string::npos);
}

TEST_F(AdminTool, DamagedFilesAndARunningStationAreNamed) {
  std::filesystem::resize_file(PathOf(kConfigFile.name), 4100);
  const Outcome cut = Run({"config"});
  EXPECT_EQ(cut.status, kFailed);
  EXPECT_NE(cut.err.find("config.qvs is cut short: record 5 has 4 of its 8 bytes"), std::string::npos) << cut.err;

  const int lock = ::open(PathOf(kStationLockFile).c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  ASSERT_EQ(::flock(lock, LOCK_EX), 0);
  const Outcome whileRunning = Run({"account", "000", "set", "handle", "Chief"});
  EXPECT_EQ(whileRunning.status, kDone);
  EXPECT_NE(whileRunning.err.find("the member list shows this at the station's next start"), std::string::npos);
  EXPECT_EQ(Run({"init"}).status, kFailed);
  ::close(lock);
  EXPECT_EQ(Run({"account", "000", "set", "handle", "Chief"}).err, "");
}

TEST_F(AdminTool, LogAndCallersAreShownAsTheStationWroteThem) {
  WriteFile(PathOf(kSystemLogFile), "12-07-2026 9:00 PM first\r\n12-07-2026 9:01 PM second\r\n");
  EXPECT_EQ(Run({"log"}).out, "12-07-2026 9:00 PM first\n12-07-2026 9:01 PM second\n");
  // Entry 2 of 61 bytes: handle 40, account 3, line 1, time 5, date 10, in use.
  WriteFile(PathOf(kLastCallsFile.name), std::string(61, '\0') + "Rita" + std::string(36, ' ') + "007" + "3" +
                                             "21:05" + "12-07-2026" + "\xff\xff");
  EXPECT_EQ(Run({"callers"}).out, "12-07-2026\t21:05\t3\t007\tRita\n");
}

TEST_F(AdminTool, LimitsAreCheckedAndSetOnTheirOneLine) {
  WriteFile(PathOf(kLimitsFile), "# ours\nlines_per_address = 4\nlines_per_address = 6\n");
  ASSERT_EQ(Run({"limits", "set", "lines_per_address", "5"}).status, kDone);
  ASSERT_EQ(Run({"limits", "set", "exempt", "127.0.0.1 ::1"}).status, kDone);
  EXPECT_EQ(ReadFile(PathOf(kLimitsFile)), "# ours\nlines_per_address = 5\nexempt = 127.0.0.1, ::1\n");
  const auto before = Files();
  for (const std::string refused : {"lines_per_address 32", "exempt localhost", "login_timeout_s 9", "nothing 1"}) {
    const std::size_t blank = refused.find(' ');
    EXPECT_NE(Run({"limits", "set", refused.substr(0, blank), refused.substr(blank + 1)}).status, kDone) << refused;
  }
  EXPECT_EQ(Files(), before);
  EXPECT_NE(Run({"limits"}).out.find("lines_per_address=5\nconnects_per_address=10\n"), std::string::npos);
}

// The station writes the log whole, dropping its oldest lines: each is shown once.
TEST_F(AdminTool, FollowsTheLogAsTheStationRewritesIt) {
  WriteFile(PathOf(kSystemLogFile), "a\r\nb\r\n");
  FILE* follow = ::popen(("timeout 3 " TELLARIUM_ADMIN " " + directory_.path().string() + " log --follow").c_str(), "r");
  char line[16];
  std::string shown;
  while (shown.size() < 4 && std::fgets(line, sizeof line, follow)) shown += line;
  WriteFile(PathOf(kSystemLogFile), "b\r\nc\r\n");
  std::this_thread::sleep_for(std::chrono::seconds(1));
  WriteFile(PathOf(kSystemLogFile), "c\r\nd\r\ne\r\n");
  while (std::fgets(line, sizeof line, follow)) shown += line;
  ::pclose(follow);
  EXPECT_EQ(shown, "a\nb\nc\nd\ne\n");
}

// A station started on what init made serves the default main menu.
TEST_F(AdminTool, MakesADirectoryAStationServesTheMenuFrom) {
  const testing::StationPorts ports;
  ASSERT_EQ(Run({"config", "set", "mainPort", std::to_string(ports.main)}).status, kDone);
  ASSERT_EQ(Run({"config", "set", "line0Port", std::to_string(ports.line0)}).status, kDone);
  testing::Station station(TELLARIUM_BINARY, directory_.path().string());
  auto caller = testing::CallWhenListening(ports.main);
  ASSERT_NE(caller->ReadUntil(testing::kPressEnter), "");
  caller->Send("\r\n");
  ASSERT_NE(caller->ReadUntil("-->"), "");
  caller->Send("\r");
  ASSERT_NE(caller->ReadUntil("For Help type /?"), "");
  caller->Send("/?\r");
  const std::string menu = ReadFile(std::filesystem::path(TELLARIUM_SCREENS) / "mainmenu.qvs");
  const std::string title = menu.substr(0, menu.find("\r\n", menu.find("\r\n") + 2) + 2);
  EXPECT_NE(caller->ReadUntil(title), "");
}

}  // namespace
}  // namespace tellarium::admin
