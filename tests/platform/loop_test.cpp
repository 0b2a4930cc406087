// The message loop under a manual clock: timers, nested and filtered pumps,
// and targets that go away.
#include "platform/loop.h"

#include <gtest/gtest.h>

#include <memory>

#include "platform/clock.h"
#include "recorder.h"

namespace {

using namespace platform;
using Params = std::vector<uint64_t>;

class LoopTest : public ::testing::Test {
 protected:
  void SetUp() override { SetClock(&clock_); }
  void TearDown() override { SetClock(nullptr); }
  ManualClock clock_;
};

TEST_F(LoopTest, TimersFireInOrderOfDueTimeAndNeverQueueTwice) {
  Recorder r;
  SetTimer(r.target_id(), 1, 300);
  SetTimer(r.target_id(), 2, 100);
  SetTimer(r.target_id(), 3, 200);
  EXPECT_EQ(NextTimerDelayMs(), 100);
  for (int step = 0; step < 6; ++step) {
    clock_.Advance(100);
    Pump();
  }
  // Timers due at the same moment keep the order of their ids.
  EXPECT_EQ(r.Params(), (Params{2, 2, 3, 1, 2, 2, 3, 2, 1, 2, 3}));
  r.received.clear();
  clock_.Advance(1000);  // all late: each fires once, the earliest due first
  Pump();
  EXPECT_EQ(r.Params(), (Params{2, 3, 1}));
}

TEST_F(LoopTest, KilledTimerDeliversNothingThoughItsMessageWasQueued) {
  Recorder killer;  // created first, so its timer runs first
  Recorder r;
  SetTimer(killer.target_id(), 1, 10);
  SetTimer(r.target_id(), 1, 10);
  killer.on_message = [&](const Received&) { KillTimer(r.target_id(), 1); };
  clock_.Advance(10);
  Pump();
  clock_.Advance(1000);
  Pump();
  EXPECT_EQ(killer.received.size(), 2u);
  EXPECT_TRUE(r.received.empty());
}

TEST_F(LoopTest, PumpRunsWhatWasQueuedWhenItStartedAlsoWhenNested) {
  Recorder r;
  r.on_message = [&](const Received& m) {
    if (m.wparam == 3) PostMessage(r.target_id(), kFirstUserMessage, 4);
    if (m.wparam == 1) Pump();  // runs 2 and 3 inside the handler of 1
  };
  for (uint64_t i = 1; i <= 3; ++i) PostMessage(r.target_id(), kFirstUserMessage, i);
  Pump();
  EXPECT_EQ(r.Params(), (Params{1, 2, 3}));
  Pump();
  EXPECT_EQ(r.Params(), (Params{1, 2, 3, 4}));
}

TEST_F(LoopTest, PumpsNestOnlyToTheirBound) {
  Recorder r;
  int depth = 0;
  r.on_message = [&](const Received&) {
    ++depth;
    if (depth < 2 * kMaxPumpDepth) PostMessage(r.target_id(), kFirstUserMessage);
    EXPECT_EQ(Pump(), depth < kMaxPumpDepth) << depth;
    --depth;
  };
  PostMessage(r.target_id(), kFirstUserMessage);
  Pump();
  EXPECT_EQ(r.received.size(), static_cast<size_t>(kMaxPumpDepth));
}

// A buffer held across a pump would be open to the events the pump runs.
TEST_F(LoopTest, PumpInsideANoPumpScopeStopsADebugBuild) {
#ifdef NDEBUG
  GTEST_SKIP() << "checked in debug builds only";
#endif
  EXPECT_DEATH({ NoPumpScope hold; Pump(); }, "NoPumpScope");
  NoPumpScope{};
  EXPECT_TRUE(Pump());
}

TEST_F(LoopTest, FilteredPumpLeavesOtherMessagesInTheirPlace) {
  Recorder r;
  for (uint32_t message : {3000, 100, 2026, 200}) PostMessage(r.target_id(), message, message);
  Pump([](uint32_t message) { return message < 2025; });
  EXPECT_EQ(r.Params(), (Params{100, 200}));
  Pump();
  EXPECT_EQ(r.Params(), (Params{100, 200, 3000, 2026}));
}

// The first message destroys the target: its other messages and its timer's
// never reach it (the sanitizers would catch it), others still run.
TEST_F(LoopTest, DestroyedTargetGetsNothingMore) {
  auto doomed = std::make_unique<Recorder>();
  Recorder other;
  const TargetId id = doomed->target_id();
  doomed->on_message = [&](const Received&) { doomed.reset(); };
  SetTimer(id, 1, 10);
  PostMessage(id, kFirstUserMessage);
  PostMessage(id, kFirstUserMessage);
  PostMessage(other.target_id(), kFirstUserMessage);
  clock_.Advance(100);
  Pump();
  EXPECT_EQ(other.received.size(), 1u);
  EXPECT_FALSE(PostMessage(id, kFirstUserMessage));
  EXPECT_EQ(NextTimerDelayMs(), -1);
}

}  // namespace
