// The one way to learn what a host did during a callout. Any call that hands
// an event to a host may close the session's connection, take a new one on
// the same object, or destroy the object. A guard taken before the call tells
// which afterwards without touching the object, which may be gone.
#pragma once

#include <cstdint>
#include <memory>

namespace korvatel {

enum class Survival : uint8_t {
  kIntact,       // the object and the connection the callout began on live on
  kClosed,       // that connection was closed; the object lives
  kReconnected,  // and a new connection was taken on the same object
  kDestroyed,    // the object is gone: touch nothing of it
};

// Kept by the watched object: counts its closes and new connections, and
// outlives it (while guards hold it) to tell that it was destroyed.
class Lifeline {
 public:
  Lifeline() = default;
  ~Lifeline() { record_->destroyed = true; }
  Lifeline(const Lifeline&) = delete;
  Lifeline& operator=(const Lifeline&) = delete;

  void NoteClosed() { ++record_->closes; }
  void NoteNewConnection() { ++record_->connections; }

 private:
  friend class CalloutGuard;
  struct Record {
    uint32_t closes = 0;
    uint32_t connections = 0;
    bool destroyed = false;
  };
  std::shared_ptr<Record> record_ = std::make_shared<Record>();
};

class CalloutGuard {
 public:
  explicit CalloutGuard(const Lifeline& lifeline)
      : record_(lifeline.record_), closes_(record_->closes), connections_(record_->connections) {}

  Survival Outcome() const {
    if (record_->destroyed) return Survival::kDestroyed;
    if (record_->connections != connections_) return Survival::kReconnected;
    if (record_->closes != closes_) return Survival::kClosed;
    return Survival::kIntact;
  }
  bool Destroyed() const { return Outcome() == Survival::kDestroyed; }
  // The connection the callout began on is gone, whatever took its place.
  bool Closed() const { return Outcome() != Survival::kIntact; }
  bool Reconnected() const { return Outcome() == Survival::kReconnected; }

 private:
  std::shared_ptr<const Lifeline::Record> record_;
  uint32_t closes_;
  uint32_t connections_;
};

}  // namespace korvatel
