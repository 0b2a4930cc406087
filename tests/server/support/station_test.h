// The one fixture of in-process server tests: a started station in a scratch
// directory, its controls stand-ins (support/fake_control.h), its clock
// standing still at noon UTC on 6 December 2026 until the test moves it.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/loop.h"
#include "support/fake_control.h"
#include "support/scratch_directory.h"

namespace tellarium::testing {

// Noon UTC on 6 December 2026, where the station's clock starts.
constexpr std::time_t kNoonDecember6 = 1796558400;

// Writes a member's account file through the server.
inline void SeedMember(Server& server, int16_t account, const std::string& handle, const std::string& password,
                       int16_t level = 1, const std::vector<int>& flags = {kFlagInUse, kFlagChatUser},
                       int32_t mailStored = 0) {
  UserRecord& record = server.currentAccount;
  record = UserRecord{};
  record.handle = handle;
  record.password = password;
  record.level = level;
  record.mailStored = mailStored;
  for (int flag : flags) record.flags[static_cast<std::size_t>(flag)] = true;
  server.uwrite(account);
}

class StationTest : public ::testing::Test {
 protected:
  explicit StationTest(std::time_t start = kNoonDecember6) : clock_(start) {
    ::setenv("TZ", "UTC", 1);
    ::tzset();
    platform::SetClock(&clock_);
    scratch_.Enter();
  }
  ~StationTest() override { platform::SetClock(nullptr); }
  void SetUp() override {
    server.Startup();
    server.CreateControls();
  }

  LineState& Line(int l) { return server.lines[static_cast<std::size_t>(l)]; }
  FakeControl& Port(int l) { return server.Port(l); }
  // Moves the clock and lets due timers run.
  void Advance(int64_t ms) {
    clock_.Advance(ms);
    platform::Pump();
  }

  platform::ManualClock clock_;
  ScratchDirectory scratch_;
  FakeControlServer server;
};

}  // namespace tellarium::testing
