// The SysOp's tool on a new data directory: each change is checked and
// written to its one record, and a refused change leaves every file as it was.
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <sstream>

#include "admin/tool.h"
#include "server/core/record_layouts.h"
#include "support/scratch_directory.h"

namespace tellarium::admin {
namespace {

using testing::ReadFile;
using testing::WriteFile;

struct Outcome {
  int status;
  std::string out;
  std::string err;
};

class AdminTool : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(Run({"init"}).status, kDone); }

  Outcome Run(std::vector<std::string> args, const std::string& input = "") {
    args.insert(args.begin(), directory_.path().string());
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

TEST_F(AdminTool, ChangesAreCheckedAndShownAndRefusalsChangeNothing) {
  const std::string longTitle(41, 'T');
  const struct {
    std::vector<std::string> change;
    int status;
    std::vector<std::string> show;
    std::string expected;  // a line of the show's output, or of the error
  } rows[] = {
      {{"config", "set", "mainPort", "2323"}, kDone, {"config"}, "mainPort=2323\n"},
      {{"config", "set", "mainPort", "32768"}, kFailed, {}, "mainPort takes a whole number from 1 to 32767"},
      {{"config", "set", "line0Port", "0"}, kFailed, {}, "from 1 to 32767"},
      {{"config", "set", "mainPort", "23x"}, kFailed, {}, "not \"23x\""},
      {{"config", "set", "maxLines", "32"}, kFailed, {}, "from 1 to 31"},
      {{"config", "set", "level1Limit", "-1"}, kDone, {"config"}, "level1Limit=-1\n"},
      {{"config", "set", "qvsLinkLimit", "-2"}, kFailed, {}, "from -1 to 32767"},
      {{"config", "set", "killLevel", "5"}, kFailed, {}, "from 0 to 4"},
      {{"config", "set", "channel16.capacity", "31"}, kDone, {"config"}, "channel16.capacity=31\n"},
      {{"config", "set", "channel9.name", "Quiet Room"}, kDone, {"config"}, "channel9.name=Quiet Room\n"},
      {{"config", "set", "channel17.name", "x"}, kMisused, {}, "There is no field channel17.name"},
      {{"config", "set", "stationTitle", longTitle}, kFailed, {}, "at most 40 characters"},
      {{"config", "set", "infoLine1", "a\tb"}, kFailed, {}, "control characters"},
      {{"config", "set", "totalCalls", "5"}, kFailed, {}, "totalCalls cannot be set"},
      {{"account", "000", "set", "level", "3"}, kDone, {"account", "000"}, "level=3\n"},
      {{"account", "000", "set", "mayRemote", "yes"}, kDone, {"account", "000"}, "mayRemote=true\n"},
      {{"account", "000", "set", "mailStored", "2"}, kFailed, {}, "mailStored cannot be set"},
      {{"account", "000", "set", "password", "x"}, kFailed, {}, "password cannot be set"},
      {{"account", "1000"}, kMisused, {}, "000 to 999"},
      {{"account", "004", "set", "level", "1"}, kFailed, {}, "user004.qvs is missing"},
      {{"slot", "!", "set", "text", "Hi^there"}, kDone, {"slot", "!"}, "text=Hi^there\n"},
      {{"slot", "z", "set", "owner", "7"}, kDone, {"slot", "Z"}, "slotAccount=7\n"},
      {{"slot", "<", "set", "enabled", "true"}, kDone, {"slot", "<"}, "enabled=true\n"},
      {{"slot", "!", "set", "owner", "1000"}, kFailed, {}, "from -1 to 999"},
      {{"slot", "?"}, kMisused, {}, "not \"?\""},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.change[0] + " " + row.change[1] + " " + row.change.back());
    const auto before = Files();
    const Outcome changed = Run(row.change);
    EXPECT_EQ(changed.status, row.status) << changed.err;
    if (row.status != kDone) {
      EXPECT_NE(changed.err.find(row.expected), std::string::npos) << changed.err;
      EXPECT_EQ(Files(), before);
      continue;
    }
    EXPECT_NE(Run(row.show).out.find(row.expected), std::string::npos);
  }
}

TEST_F(AdminTool, WritesOnlyTheBytesOfTheFieldItSets) {
  const std::string before = ReadFile(PathOf(kConfigFile.name));
  ASSERT_EQ(Run({"config", "set", "mainPort", "2323"}).status, kDone);
  std::string expected = before;
  const std::size_t mainPortAt = (kPortsRecordNumber - 1) * kConfigFile.recordLength + 2;
  expected[mainPortAt] = 0x13;  // 2323, little-endian
  expected[mainPortAt + 1] = 0x09;
  EXPECT_EQ(ReadFile(PathOf(kConfigFile.name)), expected);
}

TEST_F(AdminTool, InitMakesPortsAndScreensAndNeverWritesOver) {
  testing::ScratchDirectory fresh;
  const auto dir = (fresh.path() / "station").string();
  std::istringstream in;
  std::ostringstream out, err;
  Console console{in, out, err};
  ASSERT_EQ(RunAdmin({dir, "init", "--main-port", "2300", "--line0-port", "2301"}, console), kDone) << err.str();
  for (const char* file : {"config.qvs", "user000.qvs", "mslots.qvs", "mainmenu.qvs", "sysopmenu.qvs",
                           "infoscreen.qvs", "password.qvs"}) {
    EXPECT_TRUE(std::filesystem::exists(std::filesystem::path(dir) / file)) << file;
  }
  ASSERT_EQ(RunAdmin({dir, "config"}, console), kDone);
  EXPECT_NE(out.str().find("mainPort=2300\nauxPort=421\nline0Port=2301\n"), std::string::npos);

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
  const std::string stored = ReadFile(PathOf("user007.qvs"));
  EXPECT_EQ(stored.substr(198, 20), "quill" + std::string(15, ' '));  // password, after the texts and numbers
  EXPECT_EQ(Run({"accounts"}).out, "000\tmember\tSysOp\n007\tmember\tRita\n");
  EXPECT_EQ(Run({"account", "007", "disable"}).status, kDone);
  EXPECT_EQ(Run({"accounts"}).out, "000\tmember\tSysOp\n007\tdisabled\tRita\n");
  EXPECT_NE(Run({"account", "007"}).out.find("level=1\n"), std::string::npos);
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
  LastCallerRecord caller;
  caller.handle = "Rita";
  caller.account = "007";
  caller.lineCode = "3";
  caller.time = "21:05";
  caller.date = "12-07-2026";
  caller.inUse = true;
  std::filesystem::current_path(directory_.path());
  PutRecord<LastCallerLayout>(kLastCallsFile, 2, caller);
  EXPECT_EQ(Run({"callers"}).out, "12-07-2026\t21:05\t3\t007\tRita\n");
}

}  // namespace
}  // namespace tellarium::admin
