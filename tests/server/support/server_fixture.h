// A server object in a scratch directory of its own.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <initializer_list>
#include <memory>

#include "platform/clock.h"
#include "server/core/server.h"
#include "support/scratch_directory.h"

namespace tellarium::testing {

// A member account as a test seeds it.
struct Member {
  int16_t account;
  std::string handle;
  std::string password;
  int16_t level = 1;
  std::initializer_list<int> flags = {kFlagInUse, kFlagChatUser};
  int32_t mailStored = 0;
};

// Writes the member's account file through the server.
inline void WriteMember(Server& server, const Member& member) {
  server.currentAccount = UserRecord{};
  server.currentAccount.handle = member.handle;
  server.currentAccount.password = member.password;
  server.currentAccount.level = member.level;
  server.currentAccount.mailStored = member.mailStored;
  for (int flag : member.flags) server.currentAccount.flags[static_cast<std::size_t>(flag)] = true;
  server.uwrite(member.account);
}

class ServerTest : public ::testing::Test {
 protected:
  void SetUp() override { scratch_.Enter(); }

  std::string ErrorLog() const { return ReadFile("error.log"); }

  ScratchDirectory scratch_;
  std::unique_ptr<Server> owned_ = std::make_unique<Server>();
  Server& server = *owned_;
};

// A moment of local time, for the clocks tests set.
inline std::time_t LocalTime(int year, int month, int day, int hour, int minute, int second = 0) {
  std::tm local{};
  local.tm_year = year - 1900;
  local.tm_mon = month - 1;
  local.tm_mday = day;
  local.tm_hour = hour;
  local.tm_min = minute;
  local.tm_sec = second;
  local.tm_isdst = -1;
  return std::mktime(&local);
}

// A server whose clock stands at `start`, in UTC, until the test moves it.
class ClockedServerTest : public ServerTest {
 protected:
  explicit ClockedServerTest(std::time_t start) : clock_(start) {}
  void SetUp() override {
    ServerTest::SetUp();
    ::setenv("TZ", "UTC", 1);
    ::tzset();
    platform::SetClock(&clock_);
  }
  void TearDown() override { platform::SetClock(nullptr); }

  platform::ManualClock clock_;
};

}  // namespace tellarium::testing
