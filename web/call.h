// A call: one browser's WebSocket relayed to and from its own station
// connection, until either side ends.
#pragma once

#include <cstddef>
#include <string>
#include <utility>

#include "web/net.h"

namespace tellarium::web {

// One of the calls the gateway allows at once, held for a call's life.
class CallSlot {
 public:
  explicit CallSlot(size_t& calls) : calls_(&calls) { ++calls; }
  CallSlot(CallSlot&& other) noexcept : calls_(std::exchange(other.calls_, nullptr)) {}
  CallSlot& operator=(CallSlot&& other) noexcept {
    std::swap(calls_, other.calls_);
    return *this;
  }
  ~CallSlot() {
    if (calls_ != nullptr) --*calls_;
  }

 private:
  size_t* calls_;
};

// Answers the browser's upgrade `request` and relays between `browser` and
// `station`, the station connection made for it; `caller` names the browser
// in the log.
void StartCall(CallSlot slot, beast::tcp_stream browser, beast::tcp_stream station, Request request,
               std::string caller);

}  // namespace tellarium::web
