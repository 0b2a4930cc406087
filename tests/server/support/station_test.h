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

// A moment of UTC time.
inline std::time_t UtcTime(int year, int month, int day, int hour, int minute, int second = 0) {
  std::tm utc{};
  utc.tm_year = year - 1900;
  utc.tm_mon = month - 1;
  utc.tm_mday = day;
  utc.tm_hour = hour;
  utc.tm_min = minute;
  utc.tm_sec = second;
  return ::timegm(&utc);
}

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
  explicit StationTest(std::time_t start = UtcTime(2026, 12, 6, 12, 0)) : clock_(start) {
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
  std::string ErrorLog() const { return ReadFile("error.log"); }
  // Every message held for the line, oldest first; none are left afterwards.
  std::vector<std::string> Held(int l) {
    std::vector<std::string> messages;
    HeldOutput& held = server.heldOutput[static_cast<std::size_t>(l)];
    while (held.HasMessage()) messages.push_back(held.TakeFirst());
    return messages;
  }
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
