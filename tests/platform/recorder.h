// A message target that records what it receives, and a pump over real time,
// for the platform tests.
#pragma once

#include <unistd.h>

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

// Pumps for about `ms` milliseconds, or until `done` holds.
inline void PumpFor(int ms, const std::function<bool()>& done = [] { return false; }) {
  for (int i = 0; i < ms && !done(); ++i) {
    platform::Pump();
    ::usleep(1000);
  }
}
