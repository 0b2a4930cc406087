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
  // Moves the clock on, then runs what is due.
  void Tick(int64_t ms) {
    clock_.Advance(ms);
    Pump();
  }
  ManualClock clock_;
};

TEST_F(LoopTest, TimersFireInOrderOfDueTimeAndNeverQueueTwice) {
  Recorder r;
  SetTimer(r.target_id(), 1, 300);
  SetTimer(r.target_id(), 2, 100);
  SetTimer(r.target_id(), 3, 200);
  EXPECT_EQ(NextTimerDelayMs(), 100);
  for (int step = 0; step < 6; ++step) Tick(100);
  // Timers due at the same moment keep the order of their ids.
  EXPECT_EQ(r.Params(), (Params{2, 2, 3, 1, 2, 2, 3, 2, 1, 2, 3}));
  r.received.clear();
  Tick(1000);  // all late: each fires once, the earliest due first
  EXPECT_EQ(r.Params(), (Params{2, 3, 1}));
}

TEST_F(LoopTest, ATimerStillFiresWhenTheOneBeforeItIsKilled) {
  Recorder r;
  r.on_message = [&](const Received& m) { KillTimer(r.target_id(), static_cast<uint32_t>(m.wparam)); };
  SetTimer(r.target_id(), 1, 10);
  SetTimer(r.target_id(), 2, 30);
  for (int step = 0; step < 3; ++step) Tick(10);
  EXPECT_EQ(r.Params(), (Params{1, 2}));
}

TEST_F(LoopTest, PumpRunsWhatWasQueuedWhenItStartedAlsoWhenNested) {
  Recorder r;
  Params nested;
  r.on_message = [&](const Received& m) {
    if (m.wparam == 3) PostMessage(r.target_id(), kFirstUserMessage, 4);
    if (m.wparam == 1) { Pump(); nested = r.Params(); }  // runs 2 and 3 inside the handler of 1
  };
  for (uint64_t i = 1; i <= 3; ++i) PostMessage(r.target_id(), kFirstUserMessage, i);
  PostMessageToLoop(r.target_id(), kFirstUserMessage, 5);  // waits for the outer pump
  Pump();
  EXPECT_EQ(nested, (Params{1, 2, 3}));
  EXPECT_EQ(r.Params(), (Params{1, 2, 3, 5}));
  Pump();
  EXPECT_EQ(r.Params(), (Params{1, 2, 3, 5, 4}));
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

// The first message kills a timer and destroys its own target while messages
// for both are queued: none of those arrive (the sanitizers would catch one
// reaching the destroyed target), the others still do.
TEST_F(LoopTest, KilledTimerAndDestroyedTargetGetNothingMore) {
  auto doomed = std::make_unique<Recorder>();
  Recorder other;
  const TargetId id = doomed->target_id();
  doomed->on_message = [&](const Received&) {
    KillTimer(other.target_id(), 1);
    doomed.reset();
  };
  SetTimer(id, 1, 10);
  for (uint32_t timer : {1, 2}) SetTimer(other.target_id(), timer, 10);
  for (TargetId target : {id, id, other.target_id()}) PostMessage(target, kFirstUserMessage, 9);
  Tick(10);
  Tick(1000);
  EXPECT_EQ(other.Params(), (Params{9, 2, 2}));  // its message, then the live timer in each round
  EXPECT_FALSE(PostMessage(id, kFirstUserMessage));
  KillTimer(other.target_id(), 2);
  EXPECT_EQ(NextTimerDelayMs(), -1);  // the destroyed target's timer went with it
}

}  // namespace
