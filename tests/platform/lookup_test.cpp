// Host-name lookups on the worker thread, with a resolver of the test's own.
#include "platform/lookup.h"

#include <arpa/inet.h>

#include <atomic>

#include <gtest/gtest.h>

#include "recorder.h"

namespace {

using namespace platform;

constexpr uint32_t kResolved = kFirstUserMessage + 25;

class LookupTest : public ::testing::Test {
 protected:
  void TearDown() override { SetResolver({}); }
};

TEST_F(LookupTest, OutcomeArrivesAsAMessageUnlessCancelled) {
  SetResolver([](const std::string& name) -> LookupOutcome {
    if (name == "station.example") return {LookupError::kNone, htonl(0x7F000005)};
    return {LookupError::kNoSuchName, 0};
  });
  Recorder r;
  const uint32_t found = StartLookup("station.example", r.target_id(), kResolved);
  CancelLookup(StartLookup("station.example", r.target_id(), kResolved));  // posts nothing
  const uint32_t missing = StartLookup("nowhere.example", r.target_id(), kResolved);
  PumpFor(2000, [&] { return r.received.size() == 2; });
  PumpFor(20);
  ASSERT_EQ(r.Params(), (std::vector<uint64_t>{found, missing}));
  EXPECT_EQ(r.received[0].message, kResolved);
  EXPECT_EQ(UnpackLookup(r.received[0].lparam).address, htonl(0x7F000005));
  EXPECT_EQ(UnpackLookup(r.received[1].lparam).error, LookupError::kNoSuchName);
}

// A resolver that never answers cannot make the waiting lookups grow without end.
TEST_F(LookupTest, WaitingLookupsAreBounded) {
  std::atomic<bool> release{false};
  SetResolver([&](const std::string&) {
    while (!release) ::usleep(1000);
    return LookupOutcome{LookupError::kNone, 1};
  });
  Recorder r;
  size_t started = 0;
  for (int i = 0; i < 200; ++i) started += StartLookup("slow", r.target_id(), kResolved) != 0;
  EXPECT_GE(started, 64u);
  EXPECT_LE(started, 65u);  // and the one the worker holds
  release = true;
  PumpFor(2000, [&] { return r.received.size() == started; });
  EXPECT_EQ(r.received.size(), started);
}

}  // namespace
