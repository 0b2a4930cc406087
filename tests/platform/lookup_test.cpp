#include "platform/lookup.h"

#include <arpa/inet.h>
#include <unistd.h>

#include <atomic>

#include <gtest/gtest.h>

#include "recorder.h"

namespace {

using namespace platform;

constexpr uint32_t kResolved = kFirstUserMessage + 25;

class LookupTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SetResolver([](const std::string& name) -> LookupOutcome {
      if (name == "station.example") return {LookupError::kNone, htonl(0x7F000005)};
      return {LookupError::kNoSuchName, 0};
    });
  }
  void TearDown() override { SetResolver({}); }

  // Pumps until the recorder has `count` messages or two seconds pass.
  void PumpUntil(const Recorder& r, size_t count) {
    for (int i = 0; i < 400 && r.received.size() < count; ++i) {
      Pump();
      ::usleep(5000);
    }
  }
};

TEST_F(LookupTest, ResultArrivesAsAMessage) {
  Recorder r;
  uint32_t handle = StartLookup("station.example", r.target_id(), kResolved);
  ASSERT_NE(handle, 0u);
  PumpUntil(r, 1);
  ASSERT_EQ(r.received.size(), 1u);
  EXPECT_EQ(r.received[0].message, kResolved);
  EXPECT_EQ(r.received[0].wparam, handle);
  LookupOutcome outcome = UnpackLookup(r.received[0].lparam);
  EXPECT_EQ(outcome.error, LookupError::kNone);
  EXPECT_EQ(outcome.address, htonl(0x7F000005));
}

TEST_F(LookupTest, FailureCarriesItsKind) {
  Recorder r;
  StartLookup("nowhere.example", r.target_id(), kResolved);
  PumpUntil(r, 1);
  ASSERT_EQ(r.received.size(), 1u);
  EXPECT_EQ(UnpackLookup(r.received[0].lparam).error, LookupError::kNoSuchName);
}

TEST_F(LookupTest, CancelledLookupPostsNothing) {
  Recorder r;
  std::atomic<bool> resolved{false};
  SetResolver([&](const std::string&) {
    resolved = true;
    return LookupOutcome{LookupError::kNone, 1};
  });
  CancelLookup(StartLookup("a", r.target_id(), kResolved));
  uint32_t second = StartLookup("b", r.target_id(), kResolved);
  PumpUntil(r, 1);
  ASSERT_EQ(r.received.size(), 1u);
  EXPECT_EQ(r.received[0].wparam, second);
  EXPECT_TRUE(resolved);
}

// A resolver that never answers cannot make the waiting lookups grow without end.
TEST_F(LookupTest, WaitingLookupsAreBounded) {
  Recorder r;
  std::atomic<bool> release{false};
  SetResolver([&](const std::string&) {
    while (!release) ::usleep(1000);
    return LookupOutcome{LookupError::kNone, 1};
  });
  size_t started = 0;
  for (int i = 0; i < 200; ++i) started += StartLookup("slow", r.target_id(), kResolved) != 0;
  EXPECT_GE(started, 64u);
  EXPECT_LE(started, 65u);
  release = true;
  PumpUntil(r, started);
  EXPECT_EQ(r.received.size(), started);
}

TEST(SystemLookup, DottedAddressNeedsNoNameService) {
  Recorder r;
  StartLookup("127.0.0.9", r.target_id(), kResolved);
  for (int i = 0; i < 400 && r.received.empty(); ++i) {
    Pump();
    ::usleep(5000);
  }
  ASSERT_EQ(r.received.size(), 1u);
  EXPECT_EQ(UnpackLookup(r.received[0].lparam).address, htonl(0x7F000009));
}

}  // namespace
