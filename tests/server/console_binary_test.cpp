// The console of the real binary: on a terminal the status display follows
// the start-up lines and is redrawn in place; on a pipe it appears only when
// asked for with SIGUSR1.
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <memory>

#include "support/server_fixture.h"
#include "support/station_client.h"

namespace tellarium {
namespace {

const std::string& kStartupLines = testing::kLaterStartProgress;

std::string Display(const std::string& line1Row) {
  std::string display = "Address: Debugging Mode:False\r\nPort #0: Offline\r\n";
  display += "Port #1: " + line1Row + "\r\n";
  for (int line = 2; line <= 7; ++line) display += "Port #" + std::to_string(line) + ": Offline\r\n";
  return display;
}

class ConsoleBinaryTest : public testing::ServerTest {
 protected:
  void SetUp() override {
    ServerTest::SetUp();
    testing::WriteStationConfig(ports_, 7);
  }

  // A caller, once greeted: the binary greets only from its event loop, after
  // start-up, so the console watches its keys and signals by then.
  void ConnectCaller() {
    caller_ = testing::CallWhenListening(ports_.main);
    ASSERT_TRUE(caller_->connected());
    EXPECT_NE(caller_->ReadUntil("Press <ENTER> To Login."), "");
  }

  testing::StationPorts ports_;
  std::unique_ptr<testing::Caller> caller_;
};

TEST_F(ConsoleBinaryTest, PipeGetsTheStatusDisplayOnlyOnSigusr1) {
  testing::Station process(TELLARIUM_BINARY, scratch_.path().string(), testing::Station::Output::kPipe);
  ASSERT_TRUE(process.WaitForOutput("Loading Main Configuration Data...\r\n")) << process.output();
  ::kill(process.pid(), SIGUSR1);  // during start-up: passed over
  ASSERT_TRUE(process.WaitForOutput(" Account # 999\r\n")) << process.output();
  ConnectCaller();
  EXPECT_EQ(process.output(), kStartupLines + " Account # 999\r\n");
  ::kill(process.pid(), SIGUSR1);
  const std::string display = Display("127.0.0.1 (Telnet)");
  ASSERT_TRUE(process.WaitForOutput(display)) << process.output();
  EXPECT_EQ(process.output(), kStartupLines + " Account # 999\r\n" + display);
  EXPECT_EQ(process.EndWith(SIGTERM), 0);
}

std::string AccountCounter() {
  std::string counter = " Account # N/A";
  for (int account = 0; account < 1000; ++account) {
    char digits[4];
    std::snprintf(digits, sizeof digits, "%03d", account);
    counter += std::string("\b\b\b") + digits;
  }
  return counter + "\r\n";
}

TEST_F(ConsoleBinaryTest, TerminalShowsStartupThenRedrawsTheDisplayInPlace) {
  testing::Station terminal(TELLARIUM_BINARY, scratch_.path().string(), testing::Station::Output::kTerminal);
  const std::string drawn = "\x1B[J\x1B[?7l" + Display("Offline") + "\x1B[?7h";
  const std::string title = "Tellarium Server V1.40M";
  EXPECT_EQ(terminal.ReadThrough(drawn), "\x1B]0;" + title + "\x07\x1B]0;" + title + " (Tellarium QVS-00)\x07" +
                                             kStartupLines + AccountCounter() + drawn);
  ConnectCaller();
  terminal.Type("x");
  const std::string redrawn = "\r\x1B[9A\x1B[J\x1B[?7l" + Display("127.0.0.1 (Telnet)") + "\x1B[?7h";
  EXPECT_EQ(terminal.ReadThrough(redrawn), redrawn);
  terminal.Type(" ");
  EXPECT_EQ(terminal.ReadThrough(redrawn), redrawn);
  terminal.Type("\x03");
  EXPECT_EQ(terminal.WaitForExit(), 0);
}

}  // namespace
}  // namespace tellarium
