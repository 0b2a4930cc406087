// The station binary where a scenario cannot follow: memory under abuse, and
// listeners moved to ports the test picks while the station runs.
#include <gtest/gtest.h>

#include <memory>

#include "support/scratch_directory.h"
#include "support/station_client.h"

namespace tellarium {
namespace {

class NetworkTest : public ::testing::Test {
 protected:
  NetworkTest() { scratch_.Enter(); }
  void StartStation(int maxLines) {
    testing::WriteStationConfig(ports_, maxLines);
    station_ = std::make_unique<testing::Station>(TELLARIUM_BINARY, scratch_.path().string());
  }
  std::unique_ptr<testing::Caller> Greeted(int line) {
    auto caller = testing::CallWhenListening(line == 0 ? ports_.line0 : ports_.main);
    EXPECT_EQ(caller->ReadUntil(testing::kPressEnter), testing::Greeting(line));
    return caller;
  }
  // A caller on `line` at the password prompt.
  std::unique_ptr<testing::Caller> Prompted(int line) {
    auto caller = Greeted(line);
    caller->Send("\r\n");
    EXPECT_NE(caller->ReadUntil("-->"), "");
    return caller;
  }

  testing::ScratchDirectory scratch_;
  testing::StationPorts ports_;
  std::unique_ptr<testing::Station> station_;
};

// A caller typing 50 MB without a line end is echoed only what a line holds
// (32 KiB); a caller that never reads what its reprint keys make the station
// send is sent no more than a connection may queue. The station stays small
// and serves a third caller.
TEST_F(NetworkTest, MemoryStaysBoundedUnderAbuse) {
#ifdef TELLARIUM_SANITIZED
  GTEST_SKIP() << "resident memory under sanitizers says nothing about the station";
#endif
  StartStation(7);
  auto typist = Prompted(1);
  auto sink = Prompted(2);
  const std::string chunk(1 << 20, 'x');
  for (int mb = 0; mb < 50; ++mb) ASSERT_TRUE(typist->Send(chunk));
  const std::string reprint = "\x15" + std::string(30000, 'y');
  for (int key = 0; key < 1000; ++key) ASSERT_TRUE(sink->Send(reprint));
  const std::string echo(32 * 1024, '*');
  EXPECT_EQ(typist->ReadUntil(echo).size(), echo.size());
  EXPECT_EQ(typist->ReadFor(std::chrono::milliseconds(300)).size(), 0u);
  Prompted(3);
  const long residentKb = station_->ResidentKb();
  EXPECT_GT(residentKb, 0);
  EXPECT_LT(residentKb, 24 * 1024);
}

// Configuration group 5 from the SysOp closes both listeners and opens them on
// the ports it names.
TEST_F(NetworkTest, GroupFiveMovesTheListeners) {
  StartStation(7);
  auto sysop = Prompted(1);
  sysop->Send("000zarvo\r");
  ASSERT_NE(sysop->ReadUntil("#000\r\n"), "");
  const testing::StationPorts before = ports_;
  ports_ = testing::StationPorts();
  sysop->Send("\x01" "5|421|" + std::to_string(ports_.line0) + "|" + std::to_string(ports_.main) + "|7|");
  EXPECT_EQ(sysop->ReadUntil("\r\n"), "-=> QVS-00: Done.\r\n");
  EXPECT_FALSE(testing::Caller(before.main).connected());
  EXPECT_FALSE(testing::Caller(before.line0).connected());
  Greeted(2);
  Greeted(0);
}

}  // namespace
}  // namespace tellarium
