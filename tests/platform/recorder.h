// A message target that records what it receives, and a pump over real time,
// for the platform and control tests.
#pragma once

#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <vector>

#include "platform/loop.h"

struct Received {
  uint32_t message;
  uint64_t wparam;
  int64_t lparam;
};

class Recorder : public platform::MessageTarget {
 public:
  std::vector<Received> received;
  std::function<void(const Received&)> on_message;  // runs after a message is recorded

  void HandleMessage(uint32_t message, uint64_t wparam, int64_t lparam) override {
    received.push_back({message, wparam, lparam});
    if (on_message) on_message(received.back());
  }
  std::vector<uint64_t> Params() const {
    std::vector<uint64_t> params;
    for (const Received& r : received) params.push_back(r.wparam);
    return params;
  }
};

// Runs the loop until `done` holds or `timeout_ms` passes; returns `done()`.
inline bool PumpUntil(const std::function<bool()>& done, int timeout_ms = 3000) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  for (; !done(); ::usleep(1000)) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    platform::Pump();
  }
  return true;
}
inline void PumpFor(int ms) { PumpUntil([] { return false; }, ms); }
