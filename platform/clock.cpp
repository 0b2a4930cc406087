#include "platform/clock.h"

#include <time.h>

namespace platform {
namespace {

const Clock* installed = nullptr;

}  // namespace

int64_t SystemClock::MonotonicMs() const {
  timespec now{};
  ::clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

std::time_t SystemClock::WallSeconds() const { return std::time(nullptr); }

const Clock& CurrentClock() {
  static const SystemClock system_clock;
  return installed ? *installed : system_clock;
}

void SetClock(const Clock* clock) { installed = clock; }

std::tm LocalNow() {
  std::time_t now = CurrentClock().WallSeconds();
  std::tm local{};
  ::localtime_r(&now, &local);
  return local;
}

}  // namespace platform
