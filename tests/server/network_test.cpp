// The station binary where a scenario cannot follow: listeners moved to ports
// the test picks while the station runs, and one station per data directory.
// Abuse has a suite of its own (tests/abuse).
#include <gtest/gtest.h>

#include <csignal>
#include <memory>
#include <utility>

#include "support/scratch_directory.h"
#include "support/station_client.h"

namespace tellarium {
namespace {

// Configuration group 5 from the SysOp closes both listeners and opens them on
// the ports it names.
TEST(NetworkTest, ListenersMoveOnGroupFive) {
  testing::ScratchDirectory scratch;
  scratch.Enter();
  testing::StationPorts ports;
  testing::WriteStationConfig(ports, 7);
  testing::Station station(TELLARIUM_BINARY, scratch.path().string());
  // A caller greeted on `line`, then at the password prompt unless only `greeted`.
  const auto call = [&](int line, bool greeted = false) {
    auto caller = testing::CallWhenListening(line == 0 ? ports.line0 : ports.main);
    EXPECT_EQ(caller->ReadUntil(testing::kPressEnter), testing::Greeting(line));
    EXPECT_TRUE(greeted || (caller->Send("\r\n") && caller->ReadUntil("-->") != ""));
    return caller;
  };
  auto sysop = call(1);
  sysop->Send("000zarvo\r");
  ASSERT_NE(sysop->ReadUntil("#000\r\n"), "");
  const testing::StationPorts before = std::exchange(ports, testing::StationPorts());
  sysop->Send("\x01" "5|421|" + std::to_string(ports.line0) + "|" + std::to_string(ports.main) + "|7|");
  EXPECT_EQ(sysop->ReadUntil("\r\n"), "-=> QVS-00: Done.\r\n");
  EXPECT_FALSE(testing::Caller(before.main).connected());
  EXPECT_FALSE(testing::Caller(before.line0).connected());
  call(0, true);
  call(2, true);
}

// One station per data directory: a second start there says so and ends,
// the first goes on, and the directory is free again once the first ended.
TEST(NetworkTest, SecondStationOnItsDirectoryRefusesToStart) {
  testing::ScratchDirectory scratch;
  scratch.Enter();
  testing::StationPorts ports;
  testing::WriteStationConfig(ports, 7);
  const auto start = [&] { return std::make_unique<testing::Station>(TELLARIUM_BINARY, scratch.path().string()); };
  const auto greets = [&] { return testing::CallWhenListening(ports.main)->ReadUntil(testing::kPressEnter) != ""; };
  auto first = start();
  ASSERT_TRUE(greets());
  EXPECT_EQ(start()->WaitForExit(), 1);
  EXPECT_EQ(testing::ReadFile(scratch.path() / "stderr.txt"), "A station is already running in this directory.\n");
  EXPECT_TRUE(greets());
  first->EndWith(SIGTERM);
  auto again = start();
  EXPECT_TRUE(greets());
}

}  // namespace
}  // namespace tellarium
