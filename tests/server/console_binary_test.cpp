// The console of the real binary: on a terminal the status display follows
// the start-up lines and is redrawn in place; on a pipe it appears only when
// asked for with SIGUSR1.
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <memory>

#include "support/server_fixture.h"
#include "support/server_process.h"
#include "support/station_client.h"

namespace tellarium {
namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kPatience = std::chrono::seconds(30);

const std::string kStartupLines =
    "Loading Main Configuration Data...\r\n"
    "Initializing Channel Data.\r\n"
    "Configuring MSlots...\r\n"
    "Loading data files.\r\n"
    "Loading system log.\r\n"
    "Loading last 10 callers.\r\n"
    "Initializing Accounts...\r\n";

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
  testing::ServerProcess process(TELLARIUM_BINARY, scratch_.path().string());
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

// The binary on a pseudo-terminal; the terminal passes output unchanged and
// turns Ctrl-C into SIGINT.
class TerminalProcess {
 public:
  TerminalProcess(const std::string& binary, const std::string& directory) {
    termios settings{};
    ::cfmakeraw(&settings);
    settings.c_lflag |= ISIG;
    settings.c_cc[VINTR] = 3;
    settings.c_cc[VMIN] = 1;
    ::cfsetspeed(&settings, B38400);
    winsize size{24, 80, 0, 0};
    pid_ = ::forkpty(&master_, nullptr, &settings, &size);
    if (pid_ == 0) {
      if (::chdir(directory.c_str()) != 0) ::_exit(126);
      ::execl(binary.c_str(), binary.c_str(), static_cast<char*>(nullptr));
      ::_exit(127);
    }
  }
  ~TerminalProcess() {
    if (pid_ > 0 && !reaped_) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
    if (master_ >= 0) ::close(master_);
  }

  // Reads until `text` has arrived since the last call; returns what arrived.
  std::string ReadThrough(const std::string& text) {
    const auto deadline = Clock::now() + kPatience;
    while (pending_.find(text) == std::string::npos && Clock::now() < deadline) {
      pollfd watch{master_, POLLIN, 0};
      if (::poll(&watch, 1, 100) <= 0) continue;
      char buffer[4096];
      const ssize_t n = ::read(master_, buffer, sizeof buffer);
      if (n <= 0) break;
      pending_.append(buffer, static_cast<std::size_t>(n));
    }
    const std::size_t at = pending_.find(text);
    const std::size_t end = at == std::string::npos ? pending_.size() : at + text.size();
    std::string taken = pending_.substr(0, end);
    pending_.erase(0, end);
    return taken;
  }

  void Type(const std::string& keys) { [[maybe_unused]] auto n = ::write(master_, keys.data(), keys.size()); }

  // The exit status once the program has ended, or -1.
  int WaitForExit() {
    const auto deadline = Clock::now() + kPatience;
    int status = 0;
    while (Clock::now() < deadline) {
      if (::waitpid(pid_, &status, WNOHANG) == pid_) {
        reaped_ = true;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
      }
      ::usleep(10 * 1000);
    }
    return -1;
  }

 private:
  pid_t pid_ = -1;
  int master_ = -1;
  bool reaped_ = false;
  std::string pending_;
};

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
  TerminalProcess terminal(TELLARIUM_BINARY, scratch_.path().string());
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
