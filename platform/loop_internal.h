// What the loop shares with the platform's other parts (sockets, lookups,
// console). Not for hosts.
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <limits>
#include <map>
#include <unordered_map>

#include "platform/loop.h"

namespace platform::detail {

struct QueuedMessage {
  uint64_t sequence;
  TargetId target;
  uint32_t message;
  uint64_t wparam;
  int64_t lparam;
  bool loop_only = false;  // taken by the loop, not by a pump inside an event
};

struct Timer {
  uint32_t interval_ms;
  int64_t due_ms;
  bool pending;  // a timer message is queued and not yet run
};

// One watched socket and which notices may be posted now.
struct SocketWatch {
  TargetId target = 0;
  uint32_t message = 0;
  uint32_t mask = 0;
  bool input_armed = true;   // a read, out-of-band or close notice may be posted
  bool accept_armed = true;  // an accept notice may be posted
  bool write_armed = false;  // a write notice is due when writable
  bool connecting = false;   // a connect is in progress
  bool close_sent = false;   // the close notice has been posted
  int reset_error = 0;       // an error the close notice took; the next read reports it
  uint32_t registered = 0;   // the epoll events the loop waits for on it now
};

// Per readable descriptor (lookup completions, key input, signals).
using ReadableHandler = std::function<void()>;

struct LoopState {
  std::unordered_map<TargetId, MessageTarget*> targets;
  TargetId next_target = 1;
  std::deque<QueuedMessage> queue;
  uint64_t next_sequence = 1;
  std::map<std::pair<TargetId, uint32_t>, Timer> timers;
  // No waiting timer is due before this; a killed timer may leave it earlier
  // than need be, which costs one look through them.
  int64_t earliest_due_ms = std::numeric_limits<int64_t>::max();
  std::map<int, SocketWatch> sockets;
  std::map<int, ReadableHandler> sources;
  int pump_depth = 0;
  std::chrono::steady_clock::time_point last_poll;  // of the sockets, by a pump or the wait
  int no_pump_scopes = 0;  // NoPumpScopes alive
  bool quit = false;
  int quit_status = 0;
};

LoopState& State();

// Runs `handler` on the loop's thread whenever `fd` is readable. Remove the
// source before closing `fd`.
void AddReadableSource(int fd, ReadableHandler handler);
void RemoveReadableSource(int fd);

// Drops queued messages for which `match` holds.
void DropQueued(const std::function<bool(const QueuedMessage&)>& match);

// Makes the loop wait for `wanted` (epoll events) on `fd`, where `registered`
// is what it waits for now and is updated; 0 leaves `fd` out of the wait.
void SetInterest(int fd, uint32_t& registered, uint32_t wanted);

// Turns readiness of a watched socket (epoll events) into notices.
void HandleSocketReadiness(int fd, uint32_t events);

}  // namespace platform::detail
