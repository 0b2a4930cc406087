#include "platform/console.h"

#include <sys/wait.h>
#include <unistd.h>

#include <csignal>

#include <gtest/gtest.h>

#include "recorder.h"

namespace {

using namespace platform;

TEST(Console, SignalArrivesAsAMessage) {
  Recorder r;
  console::WatchSignal(SIGUSR1, r.target_id(), kFirstUserMessage + 3);
  ASSERT_EQ(::raise(SIGUSR1), 0);
  for (int i = 0; i < 100 && r.received.empty(); ++i) {
    Pump();
    ::usleep(2000);
  }
  ASSERT_EQ(r.received.size(), 1u);
  EXPECT_EQ(r.received[0].message, kFirstUserMessage + 3);
  EXPECT_EQ(r.received[0].wparam, static_cast<uint64_t>(SIGUSR1));
}

TEST(Console, EndSignalsEndTheProgramAtOnceWithStatusZero) {
  for (int signal_number : {SIGINT, SIGTERM, SIGHUP}) {
    pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      console::InstallEndSignals();
      ::raise(signal_number);
      ::_exit(3);  // not reached when the signal ends the program
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status)) << signal_number;
    EXPECT_EQ(WEXITSTATUS(status), 0) << signal_number;
  }
}

}  // namespace
