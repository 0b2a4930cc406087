// The station binary started in an empty directory: it writes its files and
// listens on the default ports, 23 and 420. They need privileges, and only one
// such station may run at a time (ctest runs this program alone). The files'
// bytes are checked by the scenarios (startup.scn).
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include <ctime>

#include <filesystem>
#include <vector>

#include "support/scratch_directory.h"
#include "support/station_client.h"

namespace tellarium {
namespace {

using testing::kLaterStartProgress;

constexpr char kFirstStartProgress[] =
    "Writing default SysOp account...\r\nConfiguring MSlots...\r\nCreating MSlots...\r\nLoading data files.\r\n"
    "Loading system log.\r\nLoading last 10 callers.\r\nInitializing Accounts...\r\n";

// What a start wrote, once it ended with SIGTERM.
std::string RunOnce(const testing::ScratchDirectory& scratch, bool call) {
  testing::Station station(TELLARIUM_BINARY, scratch.path().string(), testing::Station::Output::kPipe);
  EXPECT_TRUE(station.WaitForOutput(" Account # 999\r\n")) << station.output();
  if (call) {
    EXPECT_EQ(testing::CallWhenListening(23)->ReadUntil(testing::kPressEnter), testing::Greeting(1));
    EXPECT_EQ(testing::CallWhenListening(420)->ReadUntil(testing::kPressEnter), testing::Greeting(0));
  }
  EXPECT_EQ(station.EndWith(SIGTERM), 0);
  return station.output();
}

// A file's bytes and the time it was last written.
std::pair<std::string, int64_t> Stamp(const std::filesystem::path& file) {
  struct stat info {};
  ::stat(file.c_str(), &info);
  return {testing::ReadFile(file), int64_t{info.st_mtim.tv_sec} * 1000000000 + info.st_mtim.tv_nsec};
}

TEST(DefaultPorts, FirstStartWritesTheFilesAndASecondOnTheSameDayRewritesNone) {
  if (!testing::CanBind(23) || !testing::CanBind(420)) GTEST_SKIP() << "ports 23 and 420 cannot be opened here";
  testing::ScratchDirectory scratch;
  EXPECT_EQ(RunOnce(scratch, true), kFirstStartProgress + std::string(" Account # 999\r\n"));
  EXPECT_FALSE(std::filesystem::exists(scratch.path() / "error.log"));
  const char* const files[] = {"user000.qvs", "config.qvs", "mslots.qvs"};
  std::vector<std::pair<std::string, int64_t>> before;
  for (const char* name : files) before.push_back(Stamp(scratch.path() / name));
  const auto today = [] {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    return ::localtime_r(&now, &local)->tm_yday;
  };
  const int day = today();
  EXPECT_EQ(RunOnce(scratch, false), kLaterStartProgress + " Account # 999\r\n");
  if (today() != day) GTEST_SKIP() << "the day changed between the starts";
  for (std::size_t i = 0; i < before.size(); ++i) EXPECT_EQ(Stamp(scratch.path() / files[i]), before[i]) << files[i];
}

}  // namespace
}  // namespace tellarium
