// A message target that records what it receives, for the platform tests.
#pragma once

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
  // Runs after a message is recorded, when set.
  std::function<void(const Received&)> on_message;

  void HandleMessage(uint32_t message, uint64_t wparam, int64_t lparam) override {
    received.push_back({message, wparam, lparam});
    if (on_message) on_message(received.back());
  }

  size_t Count(uint32_t message) const {
    size_t n = 0;
    for (const auto& r : received) n += (r.message == message);
    return n;
  }
};
