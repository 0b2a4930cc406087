#include "platform/loop.h"

#include <poll.h>

#include <algorithm>
#include <cassert>
#include <cerrno>

#include "platform/clock.h"
#include "platform/loop_internal.h"

namespace platform {
namespace detail {

LoopState& State() {
  // Never destroyed: targets with static lifetime may unregister during exit.
  static LoopState* state = new LoopState;
  return *state;
}

void AddReadableSource(int fd, ReadableHandler handler) { State().sources[fd] = std::move(handler); }

void RemoveReadableSource(int fd) { State().sources.erase(fd); }

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

void Enqueue(TargetId target, uint32_t message, uint64_t wparam, int64_t lparam) {
  LoopState& state = State();
  state.queue.push_back({state.next_sequence++, target, message, wparam, lparam});
}

// Polls sockets and readable sources, waiting at most `timeout_ms`, and turns
// what is ready into messages (or runs the source handlers).
void PollOnce(int timeout_ms) {
  LoopState& state = State();
  std::vector<pollfd> fds;
  for (const auto& [fd, handler] : state.sources) fds.push_back({fd, POLLIN, 0});
  const size_t first_socket = fds.size();
  detail::CollectSocketPolls(fds);
  if (fds.empty() && timeout_ms == 0) return;
  int ready = ::poll(fds.data(), fds.size(), timeout_ms);
  if (ready <= 0) return;
  for (size_t i = 0; i < fds.size(); ++i) {
    if (fds[i].revents == 0) continue;
    if (i < first_socket) {
      auto source = state.sources.find(fds[i].fd);
      if (source != state.sources.end()) {
        auto handler = source->second;  // the handler may remove its source
        handler();
      }
    } else {
      detail::HandleSocketReadiness(fds[i]);
    }
  }
}

// Queues one message per due timer, the earliest due first.
void PostDueTimers() {
  LoopState& state = State();
  const int64_t now = Now();
  std::vector<std::pair<int64_t, std::pair<TargetId, uint32_t>>> due;
  for (auto& [key, timer] : state.timers) {
    if (timer.pending || now < timer.due_ms) continue;
    due.push_back({timer.due_ms, key});
    timer.pending = true;
    timer.due_ms = now + timer.interval_ms;
  }
  std::sort(due.begin(), due.end());
  for (const auto& [when, key] : due) Enqueue(key.first, kTimerMessage, key.second, 0);
}

// A timer message runs only while its timer lives.
bool AcceptTimerMessage(const QueuedMessage& message) {
  auto timer = State().timers.find({message.target, static_cast<uint32_t>(message.wparam)});
  if (timer == State().timers.end()) return false;
  timer->second.pending = false;
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
  auto& queue = State().queue;
  for (auto it = queue.begin(); it != queue.end(); ++it) {
    if (it->sequence >= limit) return false;
    if (filter && !filter(it->message)) continue;
    out = *it;
    queue.erase(it);
    return true;
  }
  return false;
}

struct DepthGuard {
  DepthGuard() { ++State().pump_depth; }
  ~DepthGuard() { --State().pump_depth; }
};

}  // namespace

MessageTarget::MessageTarget() : id_(State().next_target++) { State().targets[id_] = this; }

MessageTarget::~MessageTarget() {
  LoopState& state = State();
  state.targets.erase(id_);
  detail::DropQueued([this](const QueuedMessage& m) { return m.target == id_; });
  std::erase_if(state.timers, [this](const auto& entry) { return entry.first.first == id_; });
  std::erase_if(state.sockets, [this](const auto& entry) { return entry.second.target == id_; });
}

bool PostMessage(TargetId target, uint32_t message, uint64_t wparam, int64_t lparam) {
  if (!State().targets.contains(target)) return false;
  Enqueue(target, message, wparam, lparam);
  return true;
}

void SetTimer(TargetId target, uint32_t timer_id, uint32_t interval_ms) {
  interval_ms = std::max(interval_ms, kShortestTimerMs);
  auto& timer = State().timers[{target, timer_id}];
  timer.interval_ms = interval_ms;
  timer.due_ms = Now() + interval_ms;
}

void KillTimer(TargetId target, uint32_t timer_id) { State().timers.erase({target, timer_id}); }

NoPumpScope::NoPumpScope() { ++State().no_pump_scopes; }

NoPumpScope::~NoPumpScope() { --State().no_pump_scopes; }

bool Pump(const MessageFilter& filter) {
  LoopState& state = State();
  assert(state.no_pump_scopes == 0 && "a pump started inside a NoPumpScope");
  if (state.pump_depth >= kMaxPumpDepth) return false;
  DepthGuard depth;
  PollOnce(0);
  PostDueTimers();
  const uint64_t limit = state.next_sequence;
  QueuedMessage message;
  while (!state.quit && TakeNext(limit, filter, message)) Dispatch(message);
  return true;
}

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
    int64_t wait = state.queue.empty() ? NextTimerDelayMs() : 0;
    if (wait < 0 || wait > kLongestWaitMs) wait = kLongestWaitMs;
    PollOnce(static_cast<int>(wait));
    Pump();
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
