#include "platform/loop.h"

#include <gtest/gtest.h>

#include "platform/clock.h"
#include "recorder.h"

namespace {

using platform::kFirstUserMessage;
using platform::kTimerMessage;

class LoopTest : public ::testing::Test {
 protected:
  void SetUp() override { platform::SetClock(&clock_); }
  void TearDown() override {
    platform::SetClock(nullptr);
    platform::ResetQuit();
  }
  platform::ManualClock clock_;
};

std::vector<uint64_t> TimerIds(const Recorder& r) {
  std::vector<uint64_t> ids;
  for (const auto& m : r.received)
    if (m.message == kTimerMessage) ids.push_back(m.wparam);
  return ids;
}

TEST_F(LoopTest, TimersFireInOrderOfDueTimeAtTheirIntervals) {
  Recorder r;
  platform::SetTimer(r.target_id(), 1, 300);
  platform::SetTimer(r.target_id(), 2, 100);
  platform::SetTimer(r.target_id(), 3, 200);
  EXPECT_EQ(platform::NextTimerDelayMs(), 100);
  for (int step = 0; step < 6; ++step) {
    clock_.Advance(100);
    platform::Pump();
  }
  // 600 ms: timer 2 six times, timer 3 three times, timer 1 twice; timers
  // due at the same moment keep the order of their ids.
  EXPECT_EQ(TimerIds(r), (std::vector<uint64_t>{2, 2, 3, 1, 2, 2, 3, 2, 1, 2, 3}));
}

TEST_F(LoopTest, LateTimersRunEarliestDueFirst) {
  Recorder r;
  platform::SetTimer(r.target_id(), 1, 500);
  platform::SetTimer(r.target_id(), 2, 100);
  clock_.Advance(1000);
  platform::Pump();
  EXPECT_EQ(TimerIds(r), (std::vector<uint64_t>{2, 1}));
}

TEST_F(LoopTest, TimerNeverQueuesTwiceAndStopsWhenKilled) {
  Recorder r;
  platform::SetTimer(r.target_id(), 7, 50);
  clock_.Advance(1000);
  platform::Pump();
  EXPECT_EQ(r.Count(kTimerMessage), 1u);  // a late timer fires once, not twenty times
  platform::KillTimer(r.target_id(), 7);
  clock_.Advance(1000);
  platform::Pump();
  EXPECT_EQ(r.Count(kTimerMessage), 1u);
  EXPECT_EQ(platform::NextTimerDelayMs(), -1);
}

TEST_F(LoopTest, KilledTimerWithAPendingMessageDeliversNothing) {
  Recorder killer;  // created first, so its timer runs first
  Recorder r;
  platform::SetTimer(killer.target_id(), 1, 10);
  platform::SetTimer(r.target_id(), 1, 10);
  killer.on_message = [&](const Received&) { platform::KillTimer(r.target_id(), 1); };
  clock_.Advance(10);
  platform::Pump();
  EXPECT_EQ(killer.Count(kTimerMessage), 1u);
  EXPECT_EQ(r.Count(kTimerMessage), 0u);
}

TEST_F(LoopTest, MessagePostedFromAHandlerRunsAtTheNextPump) {
  Recorder r;
  r.on_message = [&](const Received& m) {
    if (m.wparam < 3) platform::PostMessage(r.target_id(), kFirstUserMessage, m.wparam + 1);
  };
  platform::PostMessage(r.target_id(), kFirstUserMessage, 0);
  platform::Pump();
  ASSERT_EQ(r.received.size(), 1u);
  platform::Pump();
  platform::Pump();
  platform::Pump();
  ASSERT_EQ(r.received.size(), 4u);
  EXPECT_EQ(r.received.back().wparam, 3u);
}

TEST_F(LoopTest, NestedPumpRunsWhatIsPendingInOrder) {
  Recorder r;
  std::vector<uint64_t> order;
  r.on_message = [&](const Received& m) {
    order.push_back(m.wparam);
    if (m.wparam == 1) platform::Pump();  // runs 2 and 3 inside the handler of 1
  };
  for (uint64_t i = 1; i <= 3; ++i) platform::PostMessage(r.target_id(), kFirstUserMessage, i);
  platform::Pump();
  EXPECT_EQ(order, (std::vector<uint64_t>{1, 2, 3}));
}

TEST_F(LoopTest, PumpsNestOnlyToTheirBound) {
  Recorder r;
  int deepest = 0;
  int depth = 0;
  r.on_message = [&](const Received&) {
    ++depth;
    deepest = std::max(deepest, depth);
    platform::PostMessage(r.target_id(), kFirstUserMessage);
    platform::Pump();
    --depth;
  };
  platform::PostMessage(r.target_id(), kFirstUserMessage);
  platform::Pump();
  EXPECT_EQ(deepest, platform::kMaxPumpDepth);
  EXPECT_FALSE(r.received.empty());
}

// A buffer held across a pump would be open to the events the pump runs.
TEST_F(LoopTest, PumpInsideANoPumpScopeStopsADebugBuild) {
#ifdef NDEBUG
  GTEST_SKIP() << "checked in debug builds only";
#endif
  EXPECT_DEATH(
      {
        platform::NoPumpScope hold;
        platform::Pump();
      },
      "NoPumpScope");
  platform::NoPumpScope{};
  EXPECT_TRUE(platform::Pump());
}

TEST_F(LoopTest, FilteredPumpLeavesOtherMessagesInTheirPlace) {
  Recorder r;
  platform::PostMessage(r.target_id(), 3000, 1);
  platform::PostMessage(r.target_id(), 100, 2);
  platform::PostMessage(r.target_id(), 2026, 3);
  platform::PostMessage(r.target_id(), 200, 4);
  platform::Pump([](uint32_t message) { return message < 2025; });
  ASSERT_EQ(r.received.size(), 2u);
  EXPECT_EQ(r.received[0].wparam, 2u);
  EXPECT_EQ(r.received[1].wparam, 4u);
  platform::Pump();
  ASSERT_EQ(r.received.size(), 4u);
  EXPECT_EQ(r.received[2].wparam, 1u);
  EXPECT_EQ(r.received[3].wparam, 3u);
}

TEST_F(LoopTest, DestroyedTargetReceivesNothingAndRejectsPosts) {
  auto r = std::make_unique<Recorder>();
  platform::TargetId id = r->target_id();
  platform::PostMessage(id, kFirstUserMessage);
  platform::SetTimer(id, 1, 10);
  r.reset();
  clock_.Advance(100);
  platform::Pump();  // would crash under the sanitizers if anything reached the target
  EXPECT_FALSE(platform::PostMessage(id, kFirstUserMessage));
  EXPECT_EQ(platform::NextTimerDelayMs(), -1);
}

TEST_F(LoopTest, TargetMayDestroyItselfInItsHandler) {
  auto* r = new Recorder;
  bool ran_after = false;
  Recorder other;
  other.on_message = [&](const Received&) { ran_after = true; };
  r->on_message = [r](const Received&) { delete r; };
  platform::PostMessage(r->target_id(), kFirstUserMessage);
  platform::PostMessage(r->target_id(), kFirstUserMessage);
  platform::PostMessage(other.target_id(), kFirstUserMessage);
  platform::Pump();
  EXPECT_TRUE(ran_after);
}

TEST_F(LoopTest, QuitStopsThePumpAndEndsRun) {
  Recorder r;
  r.on_message = [](const Received& m) {
    if (m.wparam == 1) platform::Quit(5);
  };
  platform::PostMessage(r.target_id(), kFirstUserMessage, 1);
  platform::PostMessage(r.target_id(), kFirstUserMessage, 2);
  EXPECT_EQ(platform::Run(), 5);
  EXPECT_EQ(r.received.size(), 1u);
  EXPECT_TRUE(platform::QuitRequested());
}

}  // namespace
