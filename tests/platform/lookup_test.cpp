// Host-name lookups on the worker thread, with a resolver of the test's own.
#include "platform/lookup.h"

#include <arpa/inet.h>

#include <atomic>
#include <filesystem>
#include <iterator>

#include <gtest/gtest.h>

#include "recorder.h"

namespace {

using namespace platform;

constexpr uint32_t kResolved = kFirstUserMessage + 25;

class LookupTest : public ::testing::Test {
 protected:
  void TearDown() override { SetResolver({}); }
  Recorder r_;
};

TEST_F(LookupTest, OutcomeArrivesAsAMessageUnlessCancelled) {
  SetResolver([](const std::string& name) -> LookupOutcome {
    if (name == "station.example") return {LookupError::kNone, htonl(0x7F000005)};
    return {LookupError::kNoSuchName, 0};
  });
  const uint32_t found = StartLookup("station.example", r_.target_id(), kResolved);
  CancelLookup(StartLookup("station.example", r_.target_id(), kResolved));  // posts nothing
  const uint32_t missing = StartLookup("nowhere.example", r_.target_id(), kResolved);
  PumpUntil([&] { return r_.received.size() == 2; }, 2000);
  PumpFor(20);
  ASSERT_EQ(r_.Params(), (std::vector<uint64_t>{found, missing}));
  EXPECT_EQ(r_.received[0].message, kResolved);
  EXPECT_EQ(UnpackLookup(r_.received[0].lparam).address, htonl(0x7F000005));
  EXPECT_EQ(UnpackLookup(r_.received[1].lparam).error, LookupError::kNoSuchName);
}

// A resolver that never answers cannot make the waiting lookups grow without end.
TEST_F(LookupTest, WaitingLookupsAreBounded) {
  std::atomic<bool> release{false};
  SetResolver([&](const std::string&) {
    while (!release) ::usleep(1000);
    return LookupOutcome{LookupError::kNone, 1};
  });
  size_t started = 0;
  for (int i = 0; i < 200; ++i) started += StartLookup("slow", r_.target_id(), kResolved) != 0;
  EXPECT_GE(started, 64u);
  EXPECT_LE(started, 65u);  // and the one the worker holds
  release = true;
  PumpUntil([&] { return r_.received.size() == started; }, 2000);
  EXPECT_EQ(r_.received.size(), started);
}

// A station at rest has one thread: the worker ends when nothing waits, and
// starts again for the next lookup.
TEST_F(LookupTest, TheWorkerRunsOnlyWhileLookupsWait) {
  SetResolver([](const std::string&) { return LookupOutcome{LookupError::kNone, 1}; });
  const auto threads = [] { return std::distance(std::filesystem::directory_iterator("/proc/self/task"), {}); };
  for (size_t round = 1; round <= 2; ++round) {
    StartLookup("again", r_.target_id(), kResolved);
    PumpUntil([&] { return r_.received.size() == round && threads() == 1; }, 2000);
    EXPECT_EQ(r_.received.size(), round);
    EXPECT_EQ(threads(), 1);
  }
}

}  // namespace
