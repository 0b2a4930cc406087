// The process-wide message loop: message targets, posted messages, timers and
// the re-entrant pump. One loop per process, run on the one thread that owns it.
#pragma once

#include <cstdint>
#include <functional>

namespace platform {

// Message numbers the loop itself delivers.
constexpr uint32_t kTimerMessage = 0x0113;  // wparam: the timer id
// First number free for targets' own messages.
constexpr uint32_t kFirstUserMessage = 0x0400;

// Identifies a message target; 0 is no target.
using TargetId = uint32_t;

// Something that receives messages ("a window"). Registering happens in the
// constructor; destruction drops the target's pending messages, timers and
// socket watches, so nothing is ever delivered to a destroyed target.
class MessageTarget {
 public:
  MessageTarget();
  virtual ~MessageTarget();
  MessageTarget(const MessageTarget&) = delete;
  MessageTarget& operator=(const MessageTarget&) = delete;

  TargetId target_id() const { return id_; }

  virtual void HandleMessage(uint32_t message, uint64_t wparam, int64_t lparam) = 0;

 private:
  TargetId id_;
};

// Queues a message behind everything already pending. False when the target
// does not exist.
bool PostMessage(TargetId target, uint32_t message, uint64_t wparam = 0, int64_t lparam = 0);

// The same for a message that gathers up what many events did: only the loop
// itself takes it, never a pump inside an event, so the events of one round
// are all done before it runs.
bool PostMessageToLoop(TargetId target, uint32_t message, uint64_t wparam = 0, int64_t lparam = 0);

// Starts (or restarts with a new interval) timer `timer_id` of the target. A
// due timer posts one kTimerMessage; a timer never has more than one pending.
void SetTimer(TargetId target, uint32_t timer_id, uint32_t interval_ms);
void KillTimer(TargetId target, uint32_t timer_id);

// Which pending messages a pump may run; an empty filter runs all of them.
using MessageFilter = std::function<bool(uint32_t message)>;

// How deep pumps may nest; a pump at this depth returns at once.
constexpr int kMaxPumpDepth = 8;

// Lets pending events run: turns ready sockets and due timers into messages,
// then runs the messages that were queued when it started (those the filter
// admits; the others keep their place). Never waits. A pump inside an event
// looks at the sockets only once a millisecond has passed since the last look.
// Returns false when it ran nothing because of the nesting bound.
bool Pump(const MessageFilter& filter = {});

// How many pumps are running: 1 inside an event the loop itself dispatched,
// more inside an event that lets events run.
int PumpDepth();

// Marks a stretch of code during which no pump may start, such as one that
// holds a buffer other events use too. Debug builds stop at such a pump.
class NoPumpScope {
 public:
  NoPumpScope();
  ~NoPumpScope();
  NoPumpScope(const NoPumpScope&) = delete;
  NoPumpScope& operator=(const NoPumpScope&) = delete;
};

// Runs the loop, waiting for events between rounds, until Quit; returns the
// status Quit was given.
int Run();

// Asks Run to return after the current event; pumps stop running messages.
void Quit(int status = 0);
bool QuitRequested();
// Clears a quit request (for hosts that run the loop again, such as tests).
void ResetQuit();

// Milliseconds until the next timer is due under the loop's clock, or -1.
int64_t NextTimerDelayMs();

}  // namespace platform
