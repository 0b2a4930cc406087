// A first start in an empty directory on the default ports, 23 and 420: they
// need privileges, and ctest runs this program alone. startup.scn checks the bytes.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include <ctime>
#include <filesystem>

#include "support/scratch_directory.h"
#include "support/station_client.h"

namespace tellarium {
namespace {

// What a start wrote on the console, once it ended with SIGTERM.
std::string RunOnce(const testing::ScratchDirectory& scratch, bool call) {
  testing::Station station(TELLARIUM_BINARY, scratch.path().string(), testing::Station::Output::kPipe);
  const std::string shown = station.output().ReadUntil(" Account # 999\r\n");
  EXPECT_NE(shown, "");
  for (const int port : call ? std::vector{23, 420} : std::vector<int>{}) {
    EXPECT_EQ(testing::CallWhenListening(port)->ReadUntil(testing::kPressEnter), testing::Greeting(port == 23 ? 1 : 0));
  }
  EXPECT_EQ(station.EndWith(SIGTERM), 0);
  return shown;
}

// The data files' bytes and last-written times, and the local day of the year.
std::pair<std::vector<std::pair<std::string, int64_t>>, int> Stamps(const std::filesystem::path& directory) {
  std::vector<std::pair<std::string, int64_t>> files;
  for (const char* name : {"user000.qvs", "config.qvs", "mslots.qvs"}) {
    struct stat info {};
    ::stat((directory / name).c_str(), &info);
    files.emplace_back(testing::ReadFile(directory / name), info.st_mtim.tv_sec * 1000000000L + info.st_mtim.tv_nsec);
  }
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  return {files, ::localtime_r(&now, &local)->tm_yday};
}

// A second start on the same day rewrites none of the files.
TEST(DefaultPorts, FirstStartWritesTheFilesAndASecondOnTheSameDayRewritesNone) {
  if (!testing::CanBind(23) || !testing::CanBind(420)) GTEST_SKIP() << "ports 23 and 420 cannot be opened here";
  testing::ScratchDirectory scratch;
  EXPECT_EQ(RunOnce(scratch, true),
            "Writing default SysOp account...\r\nConfiguring MSlots...\r\nCreating MSlots...\r\nLoading data files.\r\n"
            "Loading system log.\r\nLoading last 10 callers.\r\nInitializing Accounts...\r\n Account # 999\r\n");
  const auto before = Stamps(scratch.path());
  RunOnce(scratch, false);
  const auto after = Stamps(scratch.path());
  if (after.second != before.second) GTEST_SKIP() << "the day changed between the starts";
  EXPECT_EQ(after.first, before.first);
}

}  // namespace
}  // namespace tellarium
