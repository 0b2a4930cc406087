// The clock the loop's timers follow and the wall clock dates come from.
// Tests inject a ManualClock; a time-scaling preload speeds up the system clock.
#pragma once

#include <cstdint>
#include <ctime>

namespace platform {

class Clock {
 public:
  virtual ~Clock() = default;
  // Milliseconds on a clock that never goes back; timers run on it.
  virtual int64_t MonotonicMs() const = 0;
  // Seconds since the epoch, for dates and times of day.
  virtual std::time_t WallSeconds() const = 0;
};

// The system's clocks.
class SystemClock final : public Clock {
 public:
  int64_t MonotonicMs() const override;
  std::time_t WallSeconds() const override;
};

// A clock that moves only when told to.
class ManualClock final : public Clock {
 public:
  explicit ManualClock(std::time_t wall_start = 0) : wall_start_(wall_start) {}
  int64_t MonotonicMs() const override { return now_ms_; }
  std::time_t WallSeconds() const override { return wall_start_ + now_ms_ / 1000; }
  void Advance(int64_t ms) { now_ms_ += ms; }

 private:
  std::time_t wall_start_;
  int64_t now_ms_ = 0;
};

// The clock in force; SetClock(nullptr) restores the system clock. The clock
// set must outlive its use.
const Clock& CurrentClock();
void SetClock(const Clock* clock);

// Local broken-down time of the current wall clock.
std::tm LocalNow();

}  // namespace platform
