#include "platform/loop.h"

#include <sys/epoll.h>

#include <algorithm>
#include <cassert>
#include <chrono>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <utility>
#include <vector>

#include "platform/clock.h"
#include "platform/loop_internal.h"

namespace platform {
namespace {

// The one epoll instance, made at first use and kept for the process. Without
// it nothing could ever be waited on, so failing to make it is fatal.
int Epoll() {
  static int epoll = -1;
  if (epoll < 0 && (epoll = ::epoll_create1(EPOLL_CLOEXEC)) < 0) {
    std::perror("epoll_create1");
    std::abort();
  }
  return epoll;
}

bool Control(int op, int fd, uint32_t events) {
  epoll_event event{};
  event.events = events;
  event.data.fd = fd;
  return ::epoll_ctl(Epoll(), op, fd, &event) == 0;
}

}  // namespace

namespace detail {

LoopState& State() {
  // Never destroyed: targets with static lifetime may unregister during exit.
  static LoopState* state = new LoopState;
  return *state;
}

// Registrations stay between waits, so the set is touched only on a change.
void SetInterest(int fd, uint32_t& registered, uint32_t wanted) {
  if (wanted == registered) return;
  const int op = registered == 0 ? EPOLL_CTL_ADD : wanted == 0 ? EPOLL_CTL_DEL : EPOLL_CTL_MOD;
  // A failed removal means the descriptor has already left the set.
  if (Control(op, fd, wanted) || op == EPOLL_CTL_DEL) registered = wanted;
}

void AddReadableSource(int fd, ReadableHandler handler) {
  const bool added = State().sources.insert_or_assign(fd, std::move(handler)).second;
  if (added) Control(EPOLL_CTL_ADD, fd, EPOLLIN);
}

// Leaves the set before its owner closes the descriptor.
void RemoveReadableSource(int fd) {
  if (State().sources.erase(fd) != 0) Control(EPOLL_CTL_DEL, fd, 0);
}

void DropQueued(const std::function<bool(const QueuedMessage&)>& match) {
  auto& queue = State().queue;
  queue.erase(std::remove_if(queue.begin(), queue.end(), match), queue.end());
}

}  // namespace detail

namespace {

using detail::LoopState;
using detail::QueuedMessage;
using detail::State;

// Waiting is capped so that a clock that jumps (or runs scaled) is caught up
// with within a second.
constexpr int kLongestWaitMs = 1000;
// Timers fire no faster than this, so an interval of 0 cannot spin the loop.
constexpr uint32_t kShortestTimerMs = 10;

int64_t Now() { return CurrentClock().MonotonicMs(); }

void Enqueue(TargetId target, uint32_t message, uint64_t wparam, int64_t lparam, bool loopOnly = false) {
  LoopState& state = State();
  state.queue.push_back({state.next_sequence++, target, message, wparam, lparam, loopOnly});
}

// Hands readiness to the descriptor's owner, looked up anew: a handler run
// earlier in the same batch may have removed it.
void Deliver(int fd, uint32_t events) {
  auto source = State().sources.find(fd);
  if (source == State().sources.end()) {
    detail::HandleSocketReadiness(fd, events);
    return;
  }
  auto handler = source->second;  // the handler may remove its source
  handler();
}

// Readiness beyond this many descriptors at once is reported by the next wait.
constexpr int kMostReadyPerWait = 256;

// A pump inside an event asks the system for readiness only this long after
// the last time: an event that lets events run between many small steps (a
// burst of output to every line) would otherwise make a system call per step.
// What is queued runs at every pump. The loop's own clock may stand still in
// tests; this is about the process's work, so it is timed by the real one.
constexpr auto kNestedPollGap = std::chrono::milliseconds(1);

// Waits at most `timeout_ms` for registered sources and sockets, and turns what
// is ready into messages (or runs the source handlers).
void PollOnce(int timeout_ms) {
  epoll_event ready[kMostReadyPerWait];
  int count = ::epoll_wait(Epoll(), ready, kMostReadyPerWait, timeout_ms);
  // A signal cut the wait short: take what is ready now; the caller's next
  // round waits again.
  if (count < 0 && errno == EINTR) count = ::epoll_wait(Epoll(), ready, kMostReadyPerWait, 0);
  State().last_poll = std::chrono::steady_clock::now();
  for (int i = 0; i < count; ++i) Deliver(ready[i].data.fd, ready[i].events);
}

bool NestedPollDue(const LoopState& state) {
  return std::chrono::steady_clock::now() - state.last_poll >= kNestedPollGap;
}

// Queues one message per due timer, the earliest due first. Every pump asks,
// so the timers are looked through only once the earliest of them is due.
void PostDueTimers() {
  LoopState& state = State();
  const int64_t now = Now();
  if (now < state.earliest_due_ms) return;
  state.earliest_due_ms = std::numeric_limits<int64_t>::max();
  std::vector<std::pair<int64_t, std::pair<TargetId, uint32_t>>> due;
  for (auto& [key, timer] : state.timers) {
    if (!timer.pending && now >= timer.due_ms) {
      due.push_back({timer.due_ms, key});
      timer.pending = true;
      timer.due_ms = now + timer.interval_ms;
    }
    if (!timer.pending) state.earliest_due_ms = std::min(state.earliest_due_ms, timer.due_ms);
  }
  std::sort(due.begin(), due.end());
  for (const auto& [when, key] : due) Enqueue(key.first, kTimerMessage, key.second, 0);
}

// A timer message runs only while its timer lives.
bool AcceptTimerMessage(const QueuedMessage& message) {
  auto timer = State().timers.find({message.target, static_cast<uint32_t>(message.wparam)});
  if (timer == State().timers.end()) return false;
  timer->second.pending = false;
  State().earliest_due_ms = std::min(State().earliest_due_ms, timer->second.due_ms);
  return true;
}

void Dispatch(const QueuedMessage& message) {
  if (message.message == kTimerMessage && !AcceptTimerMessage(message)) return;
  auto target = State().targets.find(message.target);
  if (target == State().targets.end()) return;
  target->second->HandleMessage(message.message, message.wparam, message.lparam);
}

// Takes the oldest queued message older than `limit` that the filter admits.
bool TakeNext(uint64_t limit, const MessageFilter& filter, QueuedMessage& out) {
  LoopState& state = State();
  auto& queue = state.queue;
  const bool nested = state.pump_depth > 1;
  for (auto it = queue.begin(); it != queue.end(); ++it) {
    if (it->sequence >= limit) return false;
    if (filter && !filter(it->message)) continue;
    if (it->loop_only && nested) continue;
    out = *it;
    if (it == queue.begin()) {
      queue.pop_front();
    } else {
      queue.erase(it);
    }
    return true;
  }
  return false;
}

// Ends the target's socket watches; the sockets stay open for their owners.
void ForgetSocketsOf(TargetId target) {
  auto& sockets = State().sockets;
  for (auto it = sockets.begin(); it != sockets.end();) {
    if (it->second.target != target) {
      ++it;
      continue;
    }
    detail::SetInterest(it->first, it->second.registered, 0);
    it = sockets.erase(it);
  }
}

class DepthGuard {
 public:
  explicit DepthGuard(LoopState& state) : state_(state) { ++state_.pump_depth; }
  ~DepthGuard() { --state_.pump_depth; }
  DepthGuard(const DepthGuard&) = delete;
  DepthGuard& operator=(const DepthGuard&) = delete;

 private:
  LoopState& state_;
};

// Due timers, then the messages that were queued when it started.
void RunQueued(const MessageFilter& filter) {
  LoopState& state = State();
  PostDueTimers();
  const uint64_t limit = state.next_sequence;
  QueuedMessage message;
  while (!state.quit && TakeNext(limit, filter, message)) Dispatch(message);
}

}  // namespace

MessageTarget::MessageTarget() : id_(State().next_target++) { State().targets[id_] = this; }

MessageTarget::~MessageTarget() {
  LoopState& state = State();
  state.targets.erase(id_);
  detail::DropQueued([this](const QueuedMessage& m) { return m.target == id_; });
  std::erase_if(state.timers, [this](const auto& entry) { return entry.first.first == id_; });
  ForgetSocketsOf(id_);
}

bool PostMessage(TargetId target, uint32_t message, uint64_t wparam, int64_t lparam) {
  if (!State().targets.contains(target)) return false;
  Enqueue(target, message, wparam, lparam);
  return true;
}

bool PostMessageToLoop(TargetId target, uint32_t message, uint64_t wparam, int64_t lparam) {
  if (!State().targets.contains(target)) return false;
  Enqueue(target, message, wparam, lparam, true);
  return true;
}

void SetTimer(TargetId target, uint32_t timer_id, uint32_t interval_ms) {
  interval_ms = std::max(interval_ms, kShortestTimerMs);
  auto& timer = State().timers[{target, timer_id}];
  timer.interval_ms = interval_ms;
  timer.due_ms = Now() + interval_ms;
  if (!timer.pending) State().earliest_due_ms = std::min(State().earliest_due_ms, timer.due_ms);
}

void KillTimer(TargetId target, uint32_t timer_id) { State().timers.erase({target, timer_id}); }

NoPumpScope::NoPumpScope() { ++State().no_pump_scopes; }

NoPumpScope::~NoPumpScope() { --State().no_pump_scopes; }

bool Pump(const MessageFilter& filter) {
  LoopState& state = State();
  assert(state.no_pump_scopes == 0 && "a pump started inside a NoPumpScope");
  if (state.pump_depth >= kMaxPumpDepth) return false;
  const DepthGuard depth(state);
  if (state.pump_depth == 1 || NestedPollDue(state)) PollOnce(0);
  RunQueued(filter);
  return true;
}

int PumpDepth() { return State().pump_depth; }

int64_t NextTimerDelayMs() {
  int64_t best = -1;
  const int64_t now = Now();
  for (const auto& [key, timer] : State().timers) {
    if (timer.pending) continue;
    int64_t delay = std::max<int64_t>(0, timer.due_ms - now);
    if (best < 0 || delay < best) best = delay;
  }
  return best;
}

int Run() {
  LoopState& state = State();
  while (!state.quit) {
    // With messages queued the sockets are looked at as often as a pump inside
    // an event looks at them: not for each round of messages.
    if (state.queue.empty()) {
      int64_t wait = NextTimerDelayMs();
      if (wait < 0 || wait > kLongestWaitMs) wait = kLongestWaitMs;
      PollOnce(static_cast<int>(wait));
    } else if (NestedPollDue(state)) {
      PollOnce(0);
    }
    const DepthGuard depth(state);
    RunQueued({});
  }
  return state.quit_status;
}

void Quit(int status) {
  State().quit = true;
  State().quit_status = status;
}

bool QuitRequested() { return State().quit; }

void ResetQuit() {
  State().quit = false;
  State().quit_status = 0;
}

}  // namespace platform
